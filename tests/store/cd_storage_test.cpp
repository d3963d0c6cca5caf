// Graphics moved into storage objects inside a real writing operation (set
// up, records moved, body written): the object's bytes with its segment
// table and the 63,358-byte boundary, the name chosen beside attachments
// already there, the records left in the body, and a failing object write
// or allocation leaving the note without a new "$FILE" and with its old
// body. The fragment reader reads an object back in pieces of any size;
// image sizes come from headers, graphic records and GIF and JPEG data.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/driver.h"
#include "host/status.h"
#include "store/cd_storage.h"
#include "store/emitter.h"
#include "store/vocabulary.h"
#include "tests/support/bytes_support.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;
using bytes_test::ShowHex;

/* ---- little helpers over the note ---- */

void PutWord(Bytes& bytes, WORD value) {
  bytes.push_back(static_cast<BYTE>(value));
  bytes.push_back(static_cast<BYTE>(value >> 8));
}

Bytes Padded(Bytes record) {
  if (record.size() % 2 != 0)
    record.push_back(0);
  return record;
}

/* One attachment of the note: its name and object. */
struct Attachment {
  std::string name;
  DWORD object = 0;
};

std::vector<Attachment> Attachments(NOTEHANDLE note) {
  std::vector<Attachment> found;
  for (const Bytes& value : note_testing::ItemValues(note, "$FILE")) {
    FILEOBJECT file = {};
    if (value.size() < 2 + sizeof file)
      continue;
    std::memcpy(&file, value.data() + 2, sizeof file);
    found.push_back({std::string(value.begin() + 2 + sizeof file, value.end()), file.Header.RRV});
  }
  return found;
}

Bytes ObjectBytes(DBHANDLE db, DWORD object) {
  DHANDLE buffer = NULLHANDLE;
  if (NSFDbReadObject(db, object, 0, 0xFFFFFFFF, &buffer) != NOERROR)
    return {};
  const auto* data = static_cast<const BYTE*>(OSLockObject(buffer));
  Bytes bytes(data, data + OSMemGetSize(buffer));
  OSUnlockObject(buffer);
  OSMemFree(buffer);
  return bytes;
}

/* Attaches a file of a few bytes under the name. */
void AttachNamed(NOTEHANDLE note, const std::string& name) {
  const std::string path = ::testing::TempDir() + "velko_storage_" + std::to_string(getpid());
  std::ofstream(path, std::ios::binary) << "data";
  ASSERT_EQ(NSFNoteAttachFile(note, "$FILE", 5, path.c_str(), name.c_str(), 0), NOERROR);
  std::remove(path.c_str());
}

/* A GIF's first bytes: signature, then the screen's width and height. */
Bytes Gif(WORD width, WORD height) {
  Bytes data = {'G', 'I', 'F', '8', '9', 'a'};
  PutWord(data, width);
  PutWord(data, height);
  data.insert(data.end(), {0xF7, 0x00, 0x00, 0x3B});
  return data;
}

class StorageTest : public EngineTest {
protected:
  /* Runs `work` inside a writing operation over "Everything" (set-up, the
   * work in place of the walk, finish) and returns the operation's
   * status. The work gets the input's first record. */
  STATUS InOperation(const std::function<STATUS(chunk_process_state*, record_storage*)>& work) {
    VelkoRTChunk* chunk = Chunk("Everything");
    chunk_process_state* state = nullptr;
    STATUS status = SetUpChunkOperation(chunk, note_, "Body", ACTION_CLEANUP_TEXT_RUNS, 0, 0, 0, 0,
                                        nullptr, nullptr, nullptr, nullptr, &state);
    EXPECT_NE(state, nullptr);
    if (state == nullptr)
      return status;
    if (status == NOERROR)
      status = work(state, item_->internal->input->records);
    return FinishChunkOperation(state, status);
  }

  /* Moves records first..last (numbers from 1) of the body into storage. */
  STATUS MoveToStorage(int first, int last) {
    return InOperation([&](chunk_process_state* state, record_storage* records) {
      record_storage* from = records;
      for (int n = 1; n < first; ++n)
        from = from->next;
      record_storage* to = from;
      for (int n = first; n < last; ++n)
        to = to->next;
      return ConvertCDRecordsToCDStorage(&state->gen, from, to);
    });
  }

  /* A new note and session in place of the old ones. */
  void Fresh() {
    TearDown();
    item_ = nullptr;
    state_ = nullptr;
    SetUp();
  }

  /* The body as written: the records of its items, behind their type
   * words, one after another. */
  Bytes BodyRecords() {
    Bytes records;
    for (const Bytes& value : Values())
      records.insert(records.end(), value.begin() + 2, value.end());
    return records;
  }

  /* The object of the note's only attachment. */
  Bytes OnlyObject() {
    const std::vector<Attachment> attachments = Attachments(note_);
    EXPECT_EQ(attachments.size(), 1u);
    return attachments.empty() ? Bytes{} : ObjectBytes(db_, attachments[0].object);
  }
};

/* An empty text run as the finish of a writing operation adds it. */
Bytes EndingText() { return Text(""); }

/* A bitmap header with a size and nothing else. */
Bytes NewBitmapHeader(WORD width, WORD height) {
  return cdbuild::BitmapHeader(
      {.width = width, .height = height, .bits_per_pixel = 0, .samples_per_pixel = 0});
}

Bytes LinkTo(const char* name) {
  return cdbuild::WithTail(cdbuild::StorageLink({.reference = name}),
                           std::strlen(name) % 2 != 0 ? Bytes{0} : Bytes{});
}

TEST_F(StorageTest, AGraphicBecomesAnObjectAndALinkInTheBody) {
  const Bytes begin = Begin(SIG_CD_GRAPHIC);
  const Bytes graphic = cdbuild::Graphic({.dest_width = 90, .dest_height = 60, .resize = 1});
  const Bytes header = cdbuild::ImageHeader({.width = 300, .height = 200, .data_size = 14});
  const Bytes segment = cdbuild::ImageSegment(Gif(300, 200));
  const Bytes end = End(SIG_CD_GRAPHIC);
  AppendItem({PabDef(1), PabRef(1), begin, graphic, header, segment, end});

  ASSERT_EQ(MoveToStorage(3, 7), NOERROR);

  // One segment: its length word, the opening word 1, the stored records.
  Bytes records;
  for (const Bytes* record : {&begin, &graphic, &header, &segment, &end}) {
    const Bytes padded = Padded(*record);
    records.insert(records.end(), padded.begin(), padded.end());
  }
  Bytes object;
  PutWord(object, 1);
  PutWord(object, static_cast<WORD>(2 + records.size()));
  PutWord(object, 1);
  object.insert(object.end(), records.begin(), records.end());
  EXPECT_EQ(ShowHex(OnlyObject()), ShowHex(object));
  const std::vector<Attachment> attachments = Attachments(note_);
  ASSERT_EQ(attachments.size(), 1u);
  EXPECT_EQ(attachments[0].name, "Graphic");

  // The body keeps the bracket and the graphic record, then the link, a
  // bitmap header of the image header's size and the closing bracket.
  const Bytes expected = Records({begin, graphic, LinkTo("Graphic"),
                                  NewBitmapHeader(300, 200),
                                  end, EndingText()});
  EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(expected));
}

TEST_F(StorageTest, TheRunsOwnBitmapHeaderIsKeptAndTheDefaultIs100By100) {
  const Bytes bitmap = cdbuild::BitmapHeader({.width = 7, .height = 9});
  const Bytes segment = cdbuild::BitmapSegment({1, 2, 3, 4});
  const Bytes other = cdbuild::ImageSegment({'B', 'M', 0, 0});
  struct Case {
    const char* name;
    std::vector<Bytes> run;
    Bytes left;
  } cases[] = {
      {"own bitmap header", {bitmap, segment}, bitmap},
      {"nothing to size it", {other}, NewBitmapHeader(100, 100)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    AppendItem(c.run);
    ASSERT_EQ(MoveToStorage(1, static_cast<int>(c.run.size())), NOERROR);
    EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Records({LinkTo("Graphic"), c.left, EndingText()})));
  }
}

/* Records of 10 + n bytes each (image segments of n data bytes). */
std::vector<Bytes> Segments(std::initializer_list<size_t> sizes) {
  std::vector<Bytes> records;
  BYTE fill = 1;
  for (size_t size : sizes)
    records.push_back(cdbuild::ImageSegment(Bytes(size - 10, fill++)));
  return records;
}

TEST_F(StorageTest, SegmentsCloseAt63358Bytes) {
  struct Case {
    std::vector<Bytes> run;
    std::vector<WORD> lengths; /* the segment table */
  } cases[] = {
      // 2 + 31,678 + 31,678 = 63,358: one segment.
      {Segments({31678, 31678}), {63358}},
      // One more even step passes it: the second record opens a segment.
      {Segments({31678, 31680}), {31680, 31682}},
      {Segments({40000, 20000, 3356}), {63358}},
      {Segments({40000, 20000, 3358, 100}), {60002, 3460}},
  };
  for (const Case& c : cases) {
    Fresh();
    AppendItem(c.run);
    ASSERT_EQ(MoveToStorage(1, static_cast<int>(c.run.size())), NOERROR);
    const Bytes object = OnlyObject();
    ASSERT_GE(object.size(), 2 + 2 * c.lengths.size());
    Bytes table;
    PutWord(table, static_cast<WORD>(c.lengths.size()));
    size_t total = 0;
    for (WORD length : c.lengths) {
      PutWord(table, length);
      total += length;
    }
    EXPECT_EQ(ShowHex(Bytes(object.begin(), object.begin() + static_cast<long>(table.size()))),
              ShowHex(table));
    EXPECT_EQ(object.size(), table.size() + total);
    // Each segment opens with the word 1 and ends where its length says.
    size_t at = table.size();
    size_t records = 0;
    for (WORD length : c.lengths) {
      EXPECT_EQ(object[at], 1);
      EXPECT_EQ(object[at + 1], 0);
      at += length;
    }
    for (const Bytes& record : c.run)
      records += record.size();
    EXPECT_EQ(total, records + 2 * c.lengths.size());
  }
}

TEST_F(StorageTest, TheNameIsTheFirstThatNoAttachmentHolds) {
  struct Case {
    std::vector<std::string> attached;
    const char* chosen;
  } cases[] = {
      {{}, "Graphic"},
      {{"Graphic"}, "Graphic0"},
      {{"Graphic", "Graphic0"}, "Graphic1"},
      {{"GRAPHIC", "graphic0", "Graphic2"}, "Graphic1"},
      {{"Graphic0"}, "Graphic"},
  };
  for (const Case& c : cases) {
    Fresh();
    for (const std::string& name : c.attached)
      AttachNamed(note_, name);
    AppendItem({cdbuild::ImageSegment(Gif(1, 1))});
    ASSERT_EQ(MoveToStorage(1, 1), NOERROR);
    const std::vector<Attachment> attachments = Attachments(note_);
    ASSERT_EQ(attachments.size(), c.attached.size() + 1);
    EXPECT_EQ(attachments.back().name, c.chosen);
    EXPECT_EQ(ShowHex(BodyRecords()),
              ShowHex(Records({LinkTo(c.chosen),
                               NewBitmapHeader(100, 100),
                               EndingText()})));
  }
}

TEST_F(StorageTest, WithEveryNameTakenNothingIsWritten) {
  AttachNamed(note_, "Graphic");
  for (int number = 0; number < 1000; ++number)
    AttachNamed(note_, "Graphic" + std::to_string(number));
  AppendItem({cdbuild::ImageSegment(Gif(1, 1))});
  const std::vector<Bytes> before = Values();
  EXPECT_EQ(MoveToStorage(1, 1), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(Attachments(note_).size(), 1001u);
  EXPECT_EQ(Values(), before);
}

/* Every failing write step of the object's allocation, writing and
 * freeing: the operation fails with the host's status, and the note has no
 * new "$FILE", its old body, and no object left behind. */
TEST_F(StorageTest, AFailingObjectWriteLeavesNoFileAndTheOldBody) {
  int failures = 0;
  for (int nth = 1; nth <= 8; ++nth) {
    Fresh();
    AttachNamed(note_, "kept.txt");
    AppendItem({PabDef(1), PabRef(1), cdbuild::ImageSegment(Gif(5, 6)), Text("after")});
    const std::vector<Bytes> before = Values();
    HostTestFailStorageWrite(nth);
    const STATUS status = MoveToStorage(3, 3);
    HostTestFailStorageWrite(0);
    if (status == NOERROR) {
      EXPECT_EQ(Attachments(note_).size(), 2u) << nth;
      continue;
    }
    ++failures;
    EXPECT_EQ(status, ERR_HOST_STORAGE) << nth;
    const std::vector<Attachment> attachments = Attachments(note_);
    ASSERT_EQ(attachments.size(), 1u) << nth;
    EXPECT_EQ(attachments[0].name, "kept.txt");
    EXPECT_EQ(Values(), before) << nth;
    EXPECT_EQ(item_->internal->output, nullptr);
    // Object 1 is the kept attachment's; a later one must not remain.
    for (DWORD object = 2; object <= 3; ++object) {
      DWORD size = 0;
      EXPECT_EQ(NSFDbGetObjectSize(db_, object, 0, &size, nullptr, nullptr),
                ERR_HOST_OBJECT_NOT_FOUND)
          << nth << " object " << object;
    }
  }
  EXPECT_GE(failures, 2);
}

TEST_F(StorageTest, BadArgumentsAndARunThatDoesNotReachItsLastRecord) {
  AppendItem({Text("a"), Text("b")});
  EXPECT_EQ(InOperation([](chunk_process_state* state, record_storage* records) {
              EXPECT_EQ(ConvertCDRecordsToCDStorage(nullptr, records, records), VELKO_ERR_MEMORY);
              EXPECT_EQ(ConvertCDRecordsToCDStorage(&state->gen, nullptr, records),
                        VELKO_ERR_MEMORY);
              // last before first: the run ends without meeting it.
              return ConvertCDRecordsToCDStorage(&state->gen, records->next, records);
            }),
            VELKO_ERR_MEMORY);
  EXPECT_TRUE(Attachments(note_).empty());
}

/* ---- reading an object back ---- */

TEST_F(StorageTest, TheFragmentReaderGivesBackTheRecordsInAnyPieces) {
  const std::vector<Bytes> run = {Begin(SIG_CD_GRAPHIC),
                                  cdbuild::ImageHeader({.image_type = 2, .width = 3, .height = 4}),
                                  cdbuild::ImageSegment(Bytes(35001, 0xAB)),
                                  cdbuild::ImageSegment(Bytes(29001, 0xCD)), Text("odd"),
                                  End(SIG_CD_GRAPHIC)};
  AppendItem(run);
  ASSERT_EQ(MoveToStorage(1, static_cast<int>(run.size())), NOERROR);
  const Bytes object = OnlyObject();
  ASSERT_EQ(object[0], 2); // the two image segments cannot share one

  for (size_t piece : {size_t{1}, size_t{7}, size_t{4096}, object.size()}) {
    SCOPED_TRACE(piece);
    Fresh();
    AppendItem({Text("x")});
    const STATUS status = InOperation([&](chunk_process_state* state, record_storage*) -> STATUS {
      auto reader = std::make_unique<cd_storage_reader>();
      reader->context = &state->gen;
      for (size_t at = 0; at < object.size(); at += piece) {
        const size_t length = std::min(piece, object.size() - at);
        if (STATUS s = ConvertCDStorageToCDRecords_Fragment(
                reinterpret_cast<const char*>(object.data() + at), static_cast<DWORD>(length),
                reader.get());
            s != NOERROR)
          return s;
      }
      return STATUS{NOERROR};
    });
    ASSERT_EQ(status, NOERROR);
    // The body now holds the records read back and the finish's text run.
    std::vector<Bytes> expected = run;
    expected.push_back(EndingText());
    EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Records(expected)));
  }
}

TEST_F(StorageTest, TheFragmentReaderRefusesObjectsThatDoNotParse) {
  const struct {
    const char* name;
    Bytes object;
  } cases[] = {
      {"no segments", {0, 0}},
      {"1001 segments", {0xE9, 0x03}},
      {"a segment shorter than its opening word", {1, 0, 1, 0, 1, 0}},
      {"a record past its segment", {1, 0, 4, 0, 1, 0, 0x85, 0xFF, 0x08, 0x00, 1, 0, 0, 10}},
      {"a header past its segment", {1, 0, 6, 0, 1, 0, 0x7C, 0x00, 0x0A, 0, 0, 0}},
      {"a record of length 0", {1, 0, 6, 0, 1, 0, 0x85, 0xFF, 0x00, 0x00}},
  };
  AppendItem({Text("x")});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(InOperation([&](chunk_process_state* state, record_storage*) {
                auto reader = std::make_unique<cd_storage_reader>();
                reader->context = &state->gen;
                return ConvertCDStorageToCDRecords_Fragment(
                    reinterpret_cast<const char*>(c.object.data()),
                    static_cast<DWORD>(c.object.size()), reader.get());
              }),
              VELKO_ERR_FAILED);
  }
  EXPECT_EQ(ConvertCDStorageToCDRecords(), NOERROR);
}

TEST_F(StorageTest, ARecordLongerThanWhatRemainsAsksForItsLength) {
  AppendItem({Text("x")});
  const Bytes record = Padded(Text("hello"));
  EXPECT_EQ(InOperation([&](chunk_process_state* state, record_storage*) {
              cd_record_context context;
              context.remaining = 100;
              context.context = &state->gen;
              const char* data = reinterpret_cast<const char*>(record.data());
              DWORD remaining = static_cast<DWORD>(record.size()) - 1;
              EXPECT_EQ(GetRecordFromCDData(&context, &data, &remaining), VELKO_ERR_FAILED);
              EXPECT_EQ(remaining, record.size());
              remaining = 0;
              EXPECT_EQ(GetRecordFromCDData(&context, &data, &remaining), VELKO_ERR_FAILED);
              remaining = static_cast<DWORD>(record.size()) + 4;
              EXPECT_EQ(GetRecordFromCDData(&context, &data, &remaining), NOERROR);
              EXPECT_EQ(remaining, 4u);
              EXPECT_EQ(context.remaining, 100u - record.size());
              EXPECT_EQ(data, reinterpret_cast<const char*>(record.data()) + record.size());
              return NOERROR;
            }),
            NOERROR);
  EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Records({Text("hello")})));
}

} // namespace
