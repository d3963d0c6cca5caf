// The work at a chunk's edges that wraps or re-orders it, on bodies stored
// in a database file and read back with the file opened anew: a link and a
// section around a chunk (2387, 2388, 2404), SetImageHotspot's image-map
// area through the class interface (after the image, joining the image's
// map, at the chunk's end when it holds no image, once), and SortByRow's
// rows appended again in key order through the chunk append, which a test
// stand-in plays while the append itself is not built. The saved bodies
// are written by hand in the record script from the generators' record
// layouts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "cdbuild/cd_builder.h"
#include "cdbuild/cd_script.h"
#include "chunk/append_chunk_testing.h"
#include "engine/process_state.h"
#include "host/host_testing.h"
#include "store/body.h"
#include "store/emitter.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "tests/support/allocation_faults.h"
#include "tests/support/database_file_fixture.h"
#include "tests/support/note_fixture.h"
#include "tests/support/record_lines.h"
#include "tests/support/stored_values.h"
#include "velko/velko.h"

namespace {

using Bytes = std::vector<BYTE>;

std::string Hex(const Bytes& bytes) {
  std::string hex;
  char pair[4];
  for (BYTE byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02X ", byte);
    hex += pair;
  }
  return hex;
}

/* Bytes as the script's bare hex digits. */
std::string HexDigits(const Bytes& bytes) {
  std::string hex;
  char pair[3];
  for (BYTE byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", byte);
    hex += pair;
  }
  return hex;
}

void PutWord(Bytes& bytes, WORD value) {
  bytes.push_back(static_cast<BYTE>(value & 0xFF));
  bytes.push_back(static_cast<BYTE>(value >> 8));
}
void PutDword(Bytes& bytes, DWORD value) {
  PutWord(bytes, static_cast<WORD>(value & 0xFFFF));
  PutWord(bytes, static_cast<WORD>(value >> 16));
}

const std::string kDef1 = "PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100\n";

class WrapTest : public DatabaseFileFixture<> {
protected:
  /* The call on a chunk of the definition, in a session of its own, stored
   * by AutoSave. */
  STATUS Call(NOTEID id, const char* definition,
              const std::function<STATUS(VelkoRTChunk*)>& call,
              const std::function<void()>& arm = [] {}) {
    auto* session = new LSXLsiSession;
    auto* item = new VelkoRTItem(session);
    STATUS status = item->Connect("", path_.c_str(), id, "Body", 0);
    if (status == NOERROR) {
      item->AutoSave = 1;
      VelkoRTChunk* chunk = item->DefineChunk(definition);
      arm();
      status = chunk != nullptr ? call(chunk) : STATUS{VELKO_ERR_FAILED};
    }
    delete session;
    return status;
  }

  /* The stored body against the script ("" : as before the call). */
  void ExpectStored(NOTEID id, const std::string& script, const std::vector<Bytes>& before) {
    const std::vector<Bytes> stored = note_testing::StoredBodyValues(path_, id, true);
    const std::vector<Bytes> expected =
        script.empty() ? before
                       : std::vector<Bytes>{note_testing::Value(Script(script).RecordBytes())};
    ASSERT_EQ(stored.size(), expected.size());
    for (size_t item = 0; item < stored.size(); ++item)
      EXPECT_EQ(Hex(stored[item]), Hex(expected[item])) << "item " << item;
  }
};

/* ---- links and sections around a chunk ---- */

/* The URL link's begin without text: the bracket, the resource-link begin
 * (16 bytes: type 32, flags 8), the URL resource and the link hotspot
 * (flags 0x1008; its data the URL, a zero byte and two more). */
std::string UrlLinkBegin(const std::string& url) {
  Bytes hotspot;
  PutWord(hotspot, 11);     // link
  PutWord(hotspot, 0);
  PutDword(hotspot, 0x1008);
  PutWord(hotspot, static_cast<WORD>(url.size() + 1));
  PutWord(hotspot, 0);
  hotspot.insert(hotspot.end(), url.begin(), url.end());
  hotspot.insert(hotspot.end(), {0, 0, 0});
  Bytes resource;
  PutDword(resource, 0);    // flags
  PutWord(resource, 1);     // a URL
  PutWord(resource, 0);     // class
  PutWord(resource, static_cast<WORD>(url.size()));
  PutWord(resource, 0);     // no server hint
  PutWord(resource, 0);     // no file hint
  resource.insert(resource.end(), 8, 0);
  resource.insert(resource.end(), url.begin(), url.end());
  Bytes resourceBegin;
  PutWord(resourceBegin, 32); // a link resource
  PutWord(resourceBegin, 0);
  PutDword(resourceBegin, 8);
  resourceBegin.insert(resourceBegin.end(), 4, 0);
  return "BEGIN sig=0xFFAD\nRAW sig=0xFF7E data=" + HexDigits(resourceBegin) +
         "\nRAW sig=0xFFF6 data=" + HexDigits(resource) + "\nRAW sig=0xFFAD data=" +
         HexDigits(hotspot) + "\n";
}

/* The link's end: the V4 hotspot end and the CDEND for it. */
const std::string kLinkEnd = "HOTSPOTEND sig=V4HOTSPOTEND\nEND sig=0xAE\n";

/* A section around the chunk, titled, without properties: the empty run
 * before it (the record before the chunk is no text run), the section's
 * paragraph, hotspot begin (type 12, flags 8) and bar (flags 0x14000000,
 * the default font, palette colour 0, the title), and after the chunk the
 * section's end, a paragraph break, the reference and an empty run. With
 * a text run before the chunk the first empty run is left out. */
std::string Section(const std::string& title, const std::string& chunk, bool runBefore = false) {
  Bytes hotspot;
  PutWord(hotspot, 12);
  PutWord(hotspot, 0);
  PutDword(hotspot, 8);
  PutWord(hotspot, 0);
  PutWord(hotspot, 0);
  Bytes bar;
  PutDword(bar, 0x14000000);
  bar.insert(bar.end(), {1, 0, 0, 10}); // face 1, size 10
  PutWord(bar, 0);
  bar.insert(bar.end(), title.begin(), title.end());
  bar.push_back(0);
  if (bar.size() % 2 == 1)
    bar.push_back(0);
  return std::string(runBefore ? "" : "TEXT text=\"\"\n") +
         "PARAGRAPH\nPABREF id=1\nTEXT text=\"\"\nBEGIN sig=0xFFAD\nRAW sig=0xFFAD data=" +
         HexDigits(hotspot) + "\nBEGIN sig=0xFFAC\nRAW sig=0xFFAC data=" + HexDigits(bar) +
         "\nCOLOR\nEND sig=0xFFAC\nTEXT text=\"\"\nPARAGRAPH\nPABREF id=1\n" + chunk +
         kLinkEnd + "PARAGRAPH\nPABREF id=1\nTEXT text=\"\"\n";
}

const std::string kThreeRuns =
    kDef1 + "PABREF id=1\nTEXT text=\"abc\"\nPARAGRAPH\nPABREF id=1\nTEXT text=\"tail\"\n";

struct wrap_case {
  const char* name;
  std::string body;
  const char* definition;
  WORD action;
  const char* target; /* the chunk's first event string (null: none) */
  const char* s1;
  std::string saved; /* "" when the call fails and changes nothing */
  STATUS status = NOERROR;
};

void PrintTo(const wrap_case& c, std::ostream* out) { *out << c.name; }

class WrapCaseTest : public WrapTest, public ::testing::WithParamInterface<wrap_case> {};

std::vector<wrap_case> WrapCases() {
  const std::string& body = kThreeRuns;
  const std::string twoRuns = kDef1 + "PABREF id=1\nTEXT text=\"abc\"\nTEXT text=\"tail\"\n";
  const std::string linked = kDef1 + "PABREF id=1\n" + UrlLinkBegin("http://a.b") +
                             "TEXT text=\"abc\"\n" + kLinkEnd +
                             "PARAGRAPH\nPABREF id=1\nTEXT text=\"tail\"\n";
  return {
      {"LinkAroundText", body, "Text 'abc'", ACTION_WRAP_IN_LINK, "http://a.b", "x", linked},
      {"OtherLinkAroundText", body, "Text 'abc'", ACTION_WRAP_IN_LINK_ALT, "http://a.b", "x", linked},
      /* Without link data the link cannot open. */
      {"LinkWithoutTarget", body, "Text 'abc'", ACTION_WRAP_IN_LINK, nullptr, "x", "", 1028},
      {"SectionAroundText", body, "Text 'abc'", ACTION_WRAP_IN_SECTION, nullptr, "Part",
       kDef1 + "PABREF id=1\n" + Section("Part", "TEXT text=\"abc\"\n") +
           "PARAGRAPH\nPABREF id=1\nTEXT text=\"tail\"\n"},
      {"SectionAfterARun", twoRuns, "Text 'tail'", ACTION_WRAP_IN_SECTION, nullptr, "Part",
       kDef1 + "PABREF id=1\nTEXT text=\"abc\"\n" +
           Section("Part", "TEXT text=\"tail\"\n", true)},
  };
}

TEST_P(WrapCaseTest, StoresTheWrappedChunk) {
  const wrap_case& c = GetParam();
  const NOTEID id = StoreBody(Script(c.body));
  const std::vector<Bytes> before = note_testing::StoredBodyValues(path_, id, false);
  const STATUS status = Call(id, c.definition, [&](VelkoRTChunk* chunk) {
    if (c.target != nullptr)
      chunk->SetEventRetString(1, c.target, static_cast<WORD>(std::strlen(c.target)));
    return chunk->AlterRichText(c.action, 0, 0, 0, 0, c.s1, nullptr, nullptr, nullptr);
  });
  EXPECT_EQ(status, c.status);
  ExpectStored(id, c.saved, before);
}

INSTANTIATE_TEST_SUITE_P(Wraps, WrapCaseTest, ::testing::ValuesIn(WrapCases()),
                         [](const ::testing::TestParamInfo<wrap_case>& info) {
                           return std::string(info.param.name);
                         });

/* A reply section's paragraph takes a definition of its own, the id after
 * the highest the item holds (here an unused one, above the paragraphs'
 * own): 65535, the largest, is given; past it the wrap is refused (1028)
 * with the message, and the note stays as it was. */
TEST_F(WrapTest, AReplySectionPastTheLargestParagraphIdIsRefused) {
  for (const int highest : {65534, 65535}) {
    SCOPED_TRACE(highest);
    const std::string id = std::to_string(highest);
    const NOTEID note =
        StoreBody(Script("PABDEF id=" + id + " flags=0x0100 ext=1440,0,1440,0,0,100\n" + kDef1 +
                         "PABREF id=1\nTEXT text=\"abc\"\nPARAGRAPH\nPABREF id=1\n"
                         "TEXT text=\"tail\"\n"));
    const std::vector<Bytes> before = note_testing::StoredBodyValues(path_, note, false);
    HostTestClearMessages();
    const STATUS status = Call(note, "Text 'abc'", [](VelkoRTChunk* chunk) {
      chunk->session->internal->option_string = "BorderStyle=PostReply";
      return chunk->AlterRichText(ACTION_WRAP_IN_SECTION, 0, 0, 0, 0, "Re", nullptr, nullptr,
                                  nullptr);
    });
    std::vector<std::string> shown;
    for (const HostTestMessage& message : HostTestMessages())
      shown.push_back(message.text);
    if (highest == 65534) {
      EXPECT_EQ(status, NOERROR);
      EXPECT_EQ(shown, std::vector<std::string>{});
      EXPECT_EQ(note_testing::DefinitionIds(
                    note_testing::RecordLines(note_testing::StoredBodyValues(path_, note, true))),
                (std::vector<unsigned>{65534, 1, 65535}));
    } else {
      EXPECT_EQ(status, 1028);
      EXPECT_EQ(shown,
                std::vector<std::string>{"TARNO: Paragraph id past 65535.  Operation failed!"});
      ExpectStored(note, "", before);
    }
  }
}

/* ---- SetImageHotspot ---- */

const std::string kImage = "BEGIN sig=GRAPHIC version=1\nGRAPHIC\nIMAGEHEADER type=1\n"
                           "IMAGESEGMENT data=4749\nEND sig=GRAPHIC version=1\n";

enum : WORD { kRect = 1, kCircle = 2, kPoly = 3, kDefault = 4 };

/* A map element whose last-region ids are 2 for the shape, 1 for the rest. */
std::string MapElement(WORD shape) {
  Bytes data(4, 0);
  PutWord(data, 0); // no map name
  for (WORD region : {kDefault, kRect, kCircle, kPoly})
    PutWord(data, region == shape ? 2 : 1);
  data.insert(data.end(), 18, 0);
  return "RAW sig=0xFFF4 data=" + HexDigits(data) + "\n";
}

/* A box's coordinates: left, top, right, bottom. */
Bytes Box(long left, long top, long right, long bottom) {
  Bytes bytes;
  for (long value : {left, top, right, bottom})
    PutDword(bytes, static_cast<DWORD>(value));
  return bytes;
}

/* A polygon's coordinates: the point count, then x and y of each point. */
Bytes Polygon(const std::vector<std::pair<long, long>>& points) {
  Bytes bytes;
  PutWord(bytes, static_cast<WORD>(points.size()));
  for (const auto& [x, y] : points) {
    PutDword(bytes, static_cast<DWORD>(x));
    PutDword(bytes, static_cast<DWORD>(y));
  }
  return bytes;
}

/* An area with its coordinates (none for the default shape) and its click
 * event running the compiled formula. */
std::string Area(WORD shape, WORD tabIndex, const Bytes& coordinates) {
  Bytes area(4, 0);
  PutWord(area, shape);
  PutWord(area, tabIndex);
  area.insert(area.end(), 20, 0);
  area.insert(area.end(), coordinates.begin(), coordinates.end());
  const Bytes formula = cdbuild::CompiledFormula("@True");
  Bytes event(4, 0);
  PutWord(event, 1); // click
  PutWord(event, 1); // a formula
  PutDword(event, static_cast<DWORD>(formula.size()));
  event.insert(event.end(), 16, 0);
  event.insert(event.end(), formula.begin(), formula.end());
  if (event.size() % 2 == 1)
    event.push_back(0); // an odd record is written one byte longer
  return "BEGIN sig=0xFFF5 version=1\nRAW sig=0xFFF5 data=" + HexDigits(area) +
         "\nRAW sig=0xFFF9 data=" + HexDigits(event) + "\nEND sig=0xFFF5 version=1\n";
}

std::string NewMap(WORD shape, WORD tabIndex, const Bytes& coordinates) {
  return "BEGIN sig=0xFFF4 version=1\n" + MapElement(shape) + Area(shape, tabIndex, coordinates) +
         "END sig=0xFFF4 version=1\n";
}

struct image_case {
  const char* name;
  std::string body;
  const char* definition;
  const char* shape;
  const char* options;
  std::string saved;
};

void PrintTo(const image_case& c, std::ostream* out) { *out << c.name; }

class ImageHotspotTest : public WrapTest, public ::testing::WithParamInterface<image_case> {};

std::vector<image_case> ImageCases() {
  const std::string head = kDef1 + "PABREF id=1\nTEXT text=\"a\"\n";
  const std::string map = "BEGIN sig=0xFFF4 version=1\n" + MapElement(kRect) +
                          "BEGIN sig=0xFFF5 version=1\nRAW sig=0xFFF5 data=" +
                          HexDigits(Bytes{0, 0, 0, 0, 1, 0}) + HexDigits(Bytes(22, 0)) +
                          HexDigits(Box(0, 0, 20, 20)) + "\nEND sig=0xFFF5 version=1\n";
  return {
      /* A new map after the image's end: the box from left, top, width and
       * height, the tab index from the options. */
      {"NewMapAfterTheImage", head + kImage + "TEXT text=\"b\"\n", "Everything",
       "rect left=10 top=5 width=30 height=40", "TabIndex=3",
       head + kImage + NewMap(kRect, 3, Box(10, 5, 40, 45)) + "TEXT text=\"b\"\n"},
      /* The image's own map: the area joins it before its end, the map
       * element as it was. */
      {"JoinsTheImagesMap", head + kImage + map + "END sig=0xFFF4 version=1\nTEXT text=\"b\"\n",
       "Everything", "circle", "",
       head + kImage + map + Area(kCircle, 0, Box(0, 0, 20, 20)) +
           "END sig=0xFFF4 version=1\nTEXT text=\"b\"\n"},
      /* Only the chunk's first image gets an area. */
      {"OnceForTwoImages", head + kImage + "TEXT text=\"mid\"\n" + kImage, "Everything",
       "poly NumPoints=2 x1=1 y1=2 x2=3 y2=-4", "",
       head + kImage + NewMap(kPoly, 0, Polygon({{1, 2}, {3, -4}})) + "TEXT text=\"mid\"\n" +
           kImage + "TEXT text=\"\"\n"}, // the body ends in a text run
      /* No image in the chunk: a new map where the chunk ends. */
      {"AtTheEndOfAChunkWithoutImage",
       head + "PARAGRAPH\nPABREF id=1\nTEXT text=\"b\"\n", "Text 'a'", "default", "",
       head + NewMap(kDefault, 0, {}) + "PARAGRAPH\nPABREF id=1\nTEXT text=\"b\"\n"},
  };
}

TEST_P(ImageHotspotTest, StoresTheArea) {
  const image_case& c = GetParam();
  const NOTEID id = StoreBody(Script(c.body));
  const std::vector<Bytes> before = note_testing::StoredBodyValues(path_, id, false);
  EXPECT_EQ(Call(id, c.definition,
                 [&](VelkoRTChunk* chunk) {
                   return chunk->SetImageHotspot("Formula", "@True", 0, c.options, c.shape, 0);
                 }),
            NOERROR);
  ExpectStored(id, c.saved, before);
}

INSTANTIATE_TEST_SUITE_P(Areas, ImageHotspotTest, ::testing::ValuesIn(ImageCases()),
                         [](const ::testing::TestParamInfo<image_case>& info) {
                           return std::string(info.param.name);
                         });

/* ---- SortByRow's re-ordering ---- */

/* One call of the chunk append as the stand-in saw it. */
struct append_call {
  VelkoRTChunk* chunk;
  WORD base;
  DWORD first, last; /* the append target */
};

/* A table of three rows after a paragraph (records 1 to 4; the table
 * begins at 5, its rows at 6, 10 and 14): the texts of the first column
 * are given, those of the second are 3, 1 and 2 (or empty). Key column 1
 * keys each row by its first text run that holds text. */
class SortRowsTest : public WrapTest {
protected:
  static std::string Row(int row, const char* a, const char* b) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "TABLECELL row=%d column=0 rowspan=0 colspan=0\nTEXT text=\"%s\"\n"
                  "TABLECELL row=%d column=1 rowspan=0 colspan=0\nTEXT text=\"%s\"\n",
                  row, a, row, b);
    return text;
  }

  std::string Body(const char* a, const char* b, const char* c, bool second = true) {
    std::string body = kDef1 + "PABREF id=1\nTEXT text=\"x\"\nPARAGRAPH\nTABLEBEGIN\n";
    body += Row(0, a, second ? "3" : "") + Row(1, b, second ? "1" : "") +
            Row(2, c, second ? "2" : "");
    return body + "TABLEEND\nPARAGRAPH\nTEXT text=\"end\"\n";
  }

  void TearDown() override {
    VelkoTestReplaceAppendChunk(nullptr);
    WrapTest::TearDown();
  }

  /* Stands in for the chunk append: notes each call, and, with copy set,
   * copies the input records of the append target as they stand, numbering
   * them on the state's record counter and moving its current record as
   * the append does, and leaves a face map as a font-table merge would;
   * then answers status. */
  void StandIn(bool copy, STATUS status) {
    VelkoTestReplaceAppendChunk([this, copy, status](VelkoRTChunk* chunk,
                                                     chunk_process_state* state, WORD base) {
      calls_.push_back({chunk, base, state->append_target_first, state->append_target_last});
      if (!copy)
        return status;
      for (record_storage* node = StateItem(state)->internal->input->records; node != nullptr;
           node = node->next) {
        ++state->record_counter;
        state->current_record = node;
        if (node->ordinal < state->append_target_first ||
            node->ordinal > state->append_target_last)
          continue;
        if (STATUS emitted = CopyCDUpdated(node->data, node->signature, node->length, &state->gen);
            emitted != NOERROR)
          return emitted;
      }
      state->session->internal->face_remap_count = 3;
      return status;
    });
  }

  std::vector<append_call> calls_;
};

/* Every row is appended again in key order where the first row stood, one
 * append of the table chunk per key with base 0, and the rows are dropped
 * where they stood; the walk's place survives each append, and the face
 * map of each copy is forgotten after it. */
TEST_F(SortRowsTest, RowsAreAppendedInKeyOrder) {
  const NOTEID id = StoreBody(Script(Body("c", "a", "b")));
  StandIn(true, NOERROR);
  VelkoRTChunk* table = nullptr;
  WORD faces = 0xFFFF;
  EXPECT_EQ(Call(id, "Table 1",
                 [&](VelkoRTChunk* chunk) {
                   table = chunk;
                   const STATUS status = chunk->SortByRow(1, 0, 0, 0, "TitleRows=0");
                   faces = chunk->session->internal->face_remap_count;
                   return status;
                 }),
            NOERROR);
  EXPECT_EQ(faces, 0);
  // Rows from record 6 (c), 10 (a) and 14 (b), four records each.
  ASSERT_EQ(calls_.size(), 3u);
  const DWORD firsts[3] = {10, 14, 6};
  for (size_t i = 0; i < calls_.size(); ++i) {
    EXPECT_EQ(calls_[i].chunk, table);
    EXPECT_EQ(calls_[i].base, 0);
    EXPECT_EQ(calls_[i].first, firsts[i]) << i;
    EXPECT_EQ(calls_[i].last, firsts[i] + 3) << i;
  }
  std::string sorted = kDef1 + "PABREF id=1\nTEXT text=\"x\"\nPARAGRAPH\nTABLEBEGIN\n";
  // The record emitter numbers the rows of the table it writes anew.
  sorted += Row(0, "a", "1") + Row(1, "b", "2") + Row(2, "c", "3");
  ExpectStored(id, sorted + "TABLEEND\nPARAGRAPH\nTEXT text=\"end\"\n", {});
}

/* The append's status ends the sort at its first key; the note keeps its
 * body. */
TEST_F(SortRowsTest, AFailingAppendLeavesTheBody) {
  const NOTEID id = StoreBody(Script(Body("c", "a", "b")));
  const std::vector<Bytes> before = note_testing::StoredBodyValues(path_, id, false);
  StandIn(false, 1028);
  EXPECT_EQ(Call(id, "Table 1",
                 [](VelkoRTChunk* chunk) { return chunk->SortByRow(1, 0, 0, 0, "TitleRows=0"); }),
            1028);
  EXPECT_EQ(calls_.size(), 1u);
  ExpectStored(id, "", before);
}

/* Without a stand-in the library's own append re-appends the rows: the
 * same sorted body as the copying stand-in gives, and the face map is
 * forgotten; a column holding nothing to sort gives 0 without any append. */
TEST_F(SortRowsTest, LibraryAppendSortsAndNothingToSort) {
  NOTEID id = StoreBody(Script(Body("c", "a", "b")));
  WORD faces = 0xFFFF;
  EXPECT_EQ(Call(id, "Table 1",
                 [&](VelkoRTChunk* chunk) {
                   chunk->session->internal->face_remap_count = 2;
                   const STATUS status = chunk->SortByRow(1, 0, 0, 0, "TitleRows=0");
                   faces = chunk->session->internal->face_remap_count;
                   return status;
                 }),
            NOERROR);
  EXPECT_EQ(faces, 0);
  std::string sorted = kDef1 + "PABREF id=1\nTEXT text=\"x\"\nPARAGRAPH\nTABLEBEGIN\n";
  sorted += Row(0, "a", "1") + Row(1, "b", "2") + Row(2, "c", "3");
  ExpectStored(id, sorted + "TABLEEND\nPARAGRAPH\nTEXT text=\"end\"\n", {});

  id = StoreBody(Script(Body("", "", "", false)));
  const std::vector<Bytes> before = note_testing::StoredBodyValues(path_, id, false);
  StandIn(true, NOERROR);
  EXPECT_EQ(Call(id, "Table 1",
                 [](VelkoRTChunk* chunk) { return chunk->SortByRow(1, 0, 0, 0, "TitleRows=0"); }),
            NOERROR);
  EXPECT_TRUE(calls_.empty());
  ExpectStored(id, "", before);
}

/* A sort through the library's own append: the first-column texts of the
 * three rows (the second column holds 3, 1 and 2), the method's switches,
 * and the rows in the order expected (by their index in the body). */
struct sort_case {
  const char* name;
  const char* texts[3];
  int title_rows_flag;
  int numeric;
  int reverse;
  const char* options;
  int order[3];
};

class SortOrderTest : public SortRowsTest, public ::testing::WithParamInterface<sort_case> {};

TEST_P(SortOrderTest, RowsComeInKeyOrder) {
  const sort_case& c = GetParam();
  const NOTEID id = StoreBody(Script(Body(c.texts[0], c.texts[1], c.texts[2])));
  EXPECT_EQ(Call(id, "Table 1",
                 [&](VelkoRTChunk* chunk) {
                   return chunk->SortByRow(1, c.title_rows_flag, c.numeric, c.reverse,
                                           c.options);
                 }),
            NOERROR);
  static const char* const kSecond[3] = {"3", "1", "2"};
  std::string sorted = kDef1 + "PABREF id=1\nTEXT text=\"x\"\nPARAGRAPH\nTABLEBEGIN\n";
  for (int row = 0; row < 3; ++row)
    sorted += Row(row, c.texts[c.order[row]], kSecond[c.order[row]]);
  ExpectStored(id, sorted + "TABLEEND\nPARAGRAPH\nTEXT text=\"end\"\n", {});
}

std::vector<sort_case> SortCases() {
  return {
      // A text without a number counts as 0 in a numeric sort.
      {"NumericTextFirst", {"10", "9", "abc"}, 0, 1, 0, "TitleRows=0", {2, 1, 0}},
      {"NumericReverse", {"9", "abc", "10"}, 0, 1, 1, "TitleRows=0", {2, 0, 1}},
      {"TextOrder", {"9", "abc", "10"}, 0, 0, 0, "TitleRows=0", {2, 0, 1}},
      {"TitleRowKeepsItsPlace", {"title", "10", "9"}, 1, 1, 0, nullptr, {0, 2, 1}},
      // The secondary pass (second column: 3, 1, 2) runs first; the primary
      // pass keeps the rows of equal keys in that order.
      {"SecondaryKey", {"b", "a", "b"}, 0, 0, 0, "TitleRows=0 SecondaryCol1=2", {1, 2, 0}},
      {"SecondaryReverse",
       {"b", "a", "b"},
       0,
       0,
       0,
       "TitleRows=0 SecondaryCol1=2 SecondaryReverse1=yes",
       {1, 0, 2}},
      // Without SecondaryCol2= the key's column comes from SecondaryRow2=.
      {"SecondaryRowKey", {"b", "a", "b"}, 0, 0, 0, "TitleRows=0 SecondaryRow2=2", {1, 2, 0}},
  };
}

INSTANTIATE_TEST_SUITE_P(Keys, SortOrderTest, ::testing::ValuesIn(SortCases()),
                         [](const ::testing::TestParamInfo<sort_case>& info) {
                           return std::string(info.param.name);
                         });

/* ---- failing allocations ---- */

/* A section around a chunk, an image's area and a row sort, with the Nth host
 * allocation or tracked request failing, for every N until a run meets no
 * failure: a run that fails leaves the stored body as it was, one that
 * succeeds stores the whole result, and none leaves a host memory handle. */
TEST_F(WrapTest, SectionAndAreaAreAllOrNothingAtEveryFailedAllocation) {
  struct operation {
    const char* name;
    std::string body;
    const char* definition;
    std::function<STATUS(VelkoRTChunk*)> call;
  };
  const std::string head = kDef1 + "PABREF id=1\nTEXT text=\"a\"\n";
  const operation operations[] = {
      {"section", kThreeRuns, "Text 'abc'",
       [](VelkoRTChunk* chunk) {
         return chunk->AlterRichText(ACTION_WRAP_IN_SECTION, 0, 0, 0, 0, "Part", nullptr,
                                     nullptr, nullptr);
       }},
      {"area", head + kImage + "TEXT text=\"b\"\n", "Everything",
       [](VelkoRTChunk* chunk) {
         return chunk->SetImageHotspot("Formula", "@True", 0, "TabIndex=3", "rect", 0);
       }},
      {"sort",
       kDef1 + "PABREF id=1\nTEXT text=\"x\"\nPARAGRAPH\nTABLEBEGIN\n" +
           "TABLECELL row=0 column=0 rowspan=0 colspan=0\nTEXT text=\"b\"\n" +
           "TABLECELL row=1 column=0 rowspan=0 colspan=0\nTEXT text=\"a\"\n" +
           "TABLEEND\nPARAGRAPH\nTEXT text=\"end\"\n",
       "Table 1", [](VelkoRTChunk* chunk) { return chunk->SortByRow(1, 0, 0, 0, "TitleRows=0"); }},
  };
  for (const operation& op : operations) {
    SCOPED_TRACE(op.name);
    const NOTEID first = StoreBody(Script(op.body));
    const std::vector<Bytes> before = note_testing::StoredBodyValues(path_, first, false);
    ASSERT_EQ(Call(first, op.definition, op.call), NOERROR);
    const std::vector<Bytes> after = note_testing::StoredBodyValues(path_, first, true);
    ASSERT_NE(before, after);
    for (const allocation_faults::control& fault : allocation_faults::kControls) {
      const int failed = allocation_faults::SweepStoredOperation(
          fault, [&] { return StoreBody(Script(op.body)); },
          [&](NOTEID id, const std::function<void()>& arm) {
            return Call(id, op.definition, op.call, arm);
          },
          [&](NOTEID id) { return note_testing::StoredBodyValues(path_, id, true); }, before,
          after);
      EXPECT_GT(failed, 0) << fault.name;
    }
  }
}

} // namespace
