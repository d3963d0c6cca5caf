// Graphics moved into storage objects inside a real writing operation (set
// up, records moved, body written): the object's bytes and segment table
// with its 63,358-byte boundary, the name chosen beside attachments already
// there, the records left in the body, and a failing object write leaving
// no new "$FILE" and the old body. Objects read back in pieces of any size.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/status.h"
#include "store/cd_storage.h"
#include "store/vocabulary.h"
#include "tests/support/bytes_support.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;
using bytes_test::ShowHex;

void PutWord(Bytes& bytes, WORD value) {
  bytes.push_back(static_cast<BYTE>(value));
  bytes.push_back(static_cast<BYTE>(value >> 8));
}

/* The note's attachments: name and object. */
std::vector<std::pair<std::string, DWORD>> Attachments(NOTEHANDLE note) {
  std::vector<std::pair<std::string, DWORD>> found;
  for (const Bytes& value : note_testing::ItemValues(note, "$FILE")) {
    FILEOBJECT file = {};
    std::memcpy(&file, value.data() + 2, sizeof file);
    found.emplace_back(std::string(value.begin() + 2 + sizeof file, value.end()),
                       file.Header.RRV);
  }
  return found;
}

void AttachNamed(NOTEHANDLE note, const std::string& name) {
  const std::string path = ::testing::TempDir() + "velko_storage_" + std::to_string(getpid());
  std::ofstream(path, std::ios::binary) << "data";
  ASSERT_EQ(NSFNoteAttachFile(note, "$FILE", 5, path.c_str(), name.c_str(), 0), NOERROR);
  std::remove(path.c_str());
}

Bytes Gif(WORD width, WORD height) {
  Bytes data = {'G', 'I', 'F', '8', '9', 'a'};
  PutWord(data, width);
  PutWord(data, height);
  return data;
}

/* A bitmap header holding a size and nothing else; a storage link record
 * to the name, made even. */
Bytes NewBitmapHeader(WORD width, WORD height) {
  return cdbuild::BitmapHeader(
      {.width = width, .height = height, .bits_per_pixel = 0, .samples_per_pixel = 0});
}
Bytes LinkTo(const std::string& name) {
  return cdbuild::WithTail(cdbuild::StorageLink({.reference = name}),
                           Bytes(name.size() % 2, 0));
}

class StorageTest : public EngineTest {
protected:

  /* Runs `work` over the input's first record inside a writing operation
   * (set-up, the work in place of the walk, finish); the final status. */
  STATUS InOperation(const std::function<STATUS(chunk_process_state*, record_storage*)>& work) {
    return InWritingOperation([&](chunk_process_state* state) {
      return work(state, item_->internal->input->records);
    });
  }

  /* Moves the body's records from the first to number `last` (from 1). */
  STATUS MoveToStorage(size_t last, size_t first = 1) {
    return InOperation([&](chunk_process_state* state, record_storage* from) {
      for (size_t n = 1; n < first; ++n)
        from = from->next;
      record_storage* to = from;
      for (size_t n = first; n < last; ++n)
        to = to->next;
      return ConvertCDRecordsToCDStorage(&state->gen, from, to);
    });
  }

  /* The records of the body's items, behind their type words. */
  Bytes BodyRecords() {
    Bytes records;
    for (const Bytes& value : Values())
      records.insert(records.end(), value.begin() + 2, value.end());
    return records;
  }

  Bytes OnlyObject() {
    const auto attachments = Attachments(note_);
    EXPECT_EQ(attachments.size(), 1u);
    DHANDLE buffer = NULLHANDLE;
    if (attachments.empty() ||
        NSFDbReadObject(db_, attachments[0].second, 0, 0xFFFFFFFF, &buffer) != NOERROR)
      return {};
    const auto* data = static_cast<const BYTE*>(OSLockObject(buffer));
    Bytes bytes(data, data + OSMemGetSize(buffer));
    OSUnlockObject(buffer);
    OSMemFree(buffer);
    return bytes;
  }
};

TEST_F(StorageTest, TheRunBecomesAnObjectAndALinkWithTheGraphicsSize) {
  const Bytes begin = Begin(SIG_CD_GRAPHIC);
  const Bytes graphic = cdbuild::Graphic({.dest_width = 90, .dest_height = 60, .resize = 1});
  const Bytes end = End(SIG_CD_GRAPHIC);
  const Bytes bitmap = cdbuild::BitmapHeader({.width = 7, .height = 9});
  const struct {
    const char* name;
    std::vector<Bytes> run;
    std::vector<Bytes> left; /* the body afterwards, before the closing text */
  } cases[] = {
      {"a size from the image header",
       {begin, graphic, cdbuild::ImageHeader({.width = 300, .height = 200}),
        cdbuild::ImageSegment(Gif(300, 200)), end},
       {begin, graphic, LinkTo("Graphic"), NewBitmapHeader(300, 200), end}},
      {"the run's own bitmap header", {bitmap, cdbuild::BitmapSegment({1, 2, 3})},
       {LinkTo("Graphic"), bitmap}},
      {"nothing to size it", {cdbuild::ImageSegment({'B', 'M', 0})},
       {LinkTo("Graphic"), NewBitmapHeader(100, 100)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    AppendItem(c.run);
    ASSERT_EQ(MoveToStorage(c.run.size()), NOERROR);
    // One segment: the count, its length, the word 1, the stored records.
    const Bytes records = Records(c.run);
    Bytes object;
    PutWord(object, 1);
    PutWord(object, static_cast<WORD>(2 + records.size()));
    PutWord(object, 1);
    object.insert(object.end(), records.begin(), records.end());
    EXPECT_EQ(ShowHex(OnlyObject()), ShowHex(object));
    std::vector<Bytes> left = c.left;
    left.push_back(Text("")); // the finish ends the body in a text run
    EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Records(left)));
  }
}

TEST_F(StorageTest, SegmentsCloseAt63358Bytes) {
  const struct {
    std::vector<size_t> records; /* stored lengths */
    std::vector<WORD> table;
  } cases[] = {
      {{31678, 31678}, {63358}}, // 2 + 63,356: one segment
      {{31678, 31680}, {31680, 31682}},
      {{40000, 20000, 3358, 100}, {60002, 3460}},
  };
  for (const auto& c : cases) {
    Restart();
    std::vector<Bytes> run;
    for (size_t length : c.records)
      run.push_back(cdbuild::ImageSegment(Bytes(length - 10, static_cast<BYTE>(run.size() + 1))));
    AppendItem(run);
    ASSERT_EQ(MoveToStorage(run.size()), NOERROR);
    const Bytes object = OnlyObject();
    Bytes expected;
    PutWord(expected, static_cast<WORD>(c.table.size()));
    for (WORD length : c.table)
      PutWord(expected, length);
    // Each segment: the word 1, then its records as they were stored.
    size_t next = 0;
    for (WORD length : c.table) {
      PutWord(expected, 1);
      for (size_t used = 2; used < length; used += run[next++].size())
        expected.insert(expected.end(), run[next].begin(), run[next].end());
    }
    EXPECT_EQ(next, run.size());
    EXPECT_TRUE(object == expected) << ShowHex(Bytes(object.begin(), object.begin() + 8));
  }
}

TEST_F(StorageTest, TheNameIsTheFirstThatNoAttachmentHolds) {
  const struct {
    std::vector<std::string> attached;
    const char* chosen;
  } cases[] = {
      {{}, "Graphic"},
      {{"Graphic"}, "Graphic0"},
      {{"Graphic", "Graphic0"}, "Graphic1"},
      {{"GRAPHIC", "graphic0", "Graphic2"}, "Graphic1"},
      {{"Graphic0"}, "Graphic"},
  };
  for (const auto& c : cases) {
    Restart();
    for (const std::string& name : c.attached)
      AttachNamed(note_, name);
    AppendItem({cdbuild::ImageSegment(Gif(1, 1))});
    ASSERT_EQ(MoveToStorage(1), NOERROR);
    const auto attachments = Attachments(note_);
    ASSERT_EQ(attachments.size(), c.attached.size() + 1);
    EXPECT_EQ(attachments.back().first, c.chosen);
    EXPECT_EQ(ShowHex(BodyRecords()),
              ShowHex(Records({LinkTo(c.chosen), NewBitmapHeader(100, 100), Text("")})));
  }

  // With all 1001 names taken nothing is written.
  Restart();
  AttachNamed(note_, "Graphic");
  for (int number = 0; number < 1000; ++number)
    AttachNamed(note_, "Graphic" + std::to_string(number));
  AppendItem({cdbuild::ImageSegment(Gif(1, 1))});
  const std::vector<Bytes> before = Values();
  EXPECT_EQ(MoveToStorage(1), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(Attachments(note_).size(), 1001u);
  EXPECT_EQ(Values(), before);
}

/* Each write step of allocating and writing the object fails in turn: the
 * operation fails with the host's status, and the note keeps only its old
 * attachment, its old body and no further object. */
TEST_F(StorageTest, AFailingObjectWriteLeavesNoFileAndTheOldBody) {
  int failures = 0;
  for (int nth = 1; nth <= 8; ++nth) {
    Restart();
    AttachNamed(note_, "kept.txt"); // object 1
    AppendItem({PabDef(1), PabRef(1), cdbuild::ImageSegment(Gif(5, 6)), Text("after")});
    const std::vector<Bytes> before = Values();
    HostTestFailStorageWrite(nth);
    const STATUS status = MoveToStorage(3, 3);
    HostTestFailStorageWrite(0);
    if (status == NOERROR)
      continue;
    ++failures;
    EXPECT_EQ(status, ERR_HOST_STORAGE) << nth;
    ASSERT_EQ(Attachments(note_).size(), 1u) << nth;
    EXPECT_EQ(Values(), before) << nth;
    DWORD size = 0;
    EXPECT_EQ(NSFDbGetObjectSize(db_, 2, 0, &size, nullptr, nullptr), ERR_HOST_OBJECT_NOT_FOUND)
        << nth;
  }
  EXPECT_GE(failures, 2);
}

/* ---- reading an object back ---- */

/* Feeds the object to a fragment reader in pieces inside an operation. */
STATUS ReadBack(chunk_process_state* state, const Bytes& object, size_t piece) {
  auto reader = std::make_unique<cd_storage_reader>();
  reader->context = &state->gen;
  for (size_t at = 0; at < object.size(); at += piece) {
    const auto length = static_cast<DWORD>(std::min(piece, object.size() - at));
    const auto* data = reinterpret_cast<const char*>(object.data() + at);
    if (STATUS status = ConvertCDStorageToCDRecords_Fragment(data, length, reader.get()))
      return status;
  }
  return NOERROR;
}

TEST_F(StorageTest, ObjectsReadBackInAnyPiecesAndBadOnesAreRefused) {
  const std::vector<Bytes> run = {Begin(SIG_CD_GRAPHIC), cdbuild::ImageHeader({.image_type = 2}),
                                  cdbuild::ImageSegment(Bytes(35001, 0xAB)),
                                  cdbuild::ImageSegment(Bytes(29001, 0xCD)), Text("odd"),
                                  End(SIG_CD_GRAPHIC)};
  AppendItem(run);
  ASSERT_EQ(MoveToStorage(run.size()), NOERROR);
  const Bytes object = OnlyObject();
  ASSERT_EQ(object[0], 2); // the two image segments cannot share one
  std::vector<Bytes> expected = run;
  expected.push_back(Text(""));
  for (size_t piece : {size_t{1}, size_t{7}, size_t{4096}, object.size()}) {
    Restart();
    AppendItem({Text("x")});
    EXPECT_EQ(InOperation([&](chunk_process_state* state, record_storage*) {
                return ReadBack(state, object, piece);
              }),
              NOERROR);
    EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Records(expected))) << piece;
  }

  const struct {
    const char* name;
    Bytes object;
  } refused[] = {
      {"no segments", {0, 0}},
      {"1001 segments", {0xE9, 0x03}},
      {"a segment shorter than its opening word", {1, 0, 1, 0, 1, 0}},
      {"a record past its segment", {1, 0, 4, 0, 1, 0, 0x85, 0xFF, 0x08, 0x00, 1, 0, 0, 10}},
      {"a header past its segment", {1, 0, 6, 0, 1, 0, 0x7C, 0x00, 0x0A, 0, 0, 0}},
      {"a record of length 0", {1, 0, 6, 0, 1, 0, 0x85, 0xFF, 0x00, 0x00}},
  };
  for (const auto& c : refused) {
    EXPECT_EQ(InOperation([&](chunk_process_state* state, record_storage*) {
                return ReadBack(state, c.object, c.object.size());
              }),
              VELKO_ERR_FAILED)
        << c.name;
  }
}

} // namespace
