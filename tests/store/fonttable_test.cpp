// The item's font table: loading "$Fonts", finding and adding faces, and
// merging another note's table or a CDFONTTABLE record, on real host notes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/status.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "tests/support/note_fixture.h"
#include "tests/support/test_fixture.h"
#include "velko/status.h"

using ::testing::ElementsAre;

namespace {

using Bytes = std::vector<BYTE>;
using Remap = std::vector<std::pair<int, int>>;

struct Face {
  BYTE id;
  BYTE family;
  std::string name;
  bool operator==(const Face&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Face& face) {
  return out << "{" << int(face.id) << ", " << int(face.family) << ", \"" << face.name << "\"}";
}

/* A font table in stored form: header 8B FF, length, count; 34-byte faces. */
Bytes Table(const std::vector<Face>& faces, int countOverride = -1) {
  const WORD length = static_cast<WORD>(6 + 34 * faces.size());
  const WORD count = static_cast<WORD>(countOverride >= 0 ? countOverride : faces.size());
  Bytes bytes = {0x8B, 0xFF, static_cast<BYTE>(length), static_cast<BYTE>(length >> 8),
                 static_cast<BYTE>(count), static_cast<BYTE>(count >> 8)};
  for (const Face& face : faces) {
    bytes.push_back(face.id);
    bytes.push_back(face.family);
    char name[32] = {};
    std::memcpy(name, face.name.data(), std::min<size_t>(face.name.size(), 32));
    bytes.insert(bytes.end(), name, name + 32);
  }
  return bytes;
}

/* The "$Fonts" value behind its type word; empty when the note has none. */
Bytes FontsOf(NOTEHANDLE note) {
  const std::vector<Bytes> values = note_testing::ItemValues(note, "$Fonts");
  if (values.empty())
    return {};
  EXPECT_EQ(values[0][0] | values[0][1] << 8, TYPE_COMPOSITE);
  return Bytes(values[0].begin() + 2, values[0].end());
}

void PutFonts(NOTEHANDLE note, const Bytes& table, WORD type = TYPE_COMPOSITE) {
  NSFItemDelete(note, "$Fonts", 6);
  ASSERT_EQ(NSFItemAppend(note, 0, "$Fonts", 6, type, table.data(),
                          static_cast<DWORD>(table.size())),
            NOERROR);
}

class FontTableTest : public ::testing::Test {
protected:
  void SetUp() override {
    handles_before_ = note_testing::ResetHostCapturing();
    ASSERT_EQ(note_testing::CreateDatabase("mem:fonts", &db_), NOERROR);
    ASSERT_EQ(NSFNoteCreate(db_, &note_), NOERROR);
    ASSERT_EQ(NSFNoteCreate(db_, &other_), NOERROR);
    session_ = std::make_unique<LSXLsiSession>();
    item_ = new VelkoRTItem(session_.get());
  }
  void TearDown() override {
    session_.reset();
    NSFNoteClose(note_);
    NSFNoteClose(other_);
    NSFDbClose(db_);
    HostTestSetItemValueLimit(0);
    EXPECT_EQ(HostTestLiveHandles(), handles_before_) << HostTestLeakReport();
    HostTestReset();
  }

  /* Binds the item to the note, loading its font table. */
  void Connect() { ASSERT_EQ(item_->ConnectBackend(note_, "Body", 1), NOERROR); }

  /* The faces the item recorded behind the eight standard ones. */
  std::vector<Face> NoteFaces() const {
    std::vector<Face> faces;
    for (WORD i = 8; i < item_->internal->face_count; ++i) {
      const font_face& slot = item_->internal->faces[i];
      faces.push_back({slot.id, slot.family, slot.name});
    }
    return faces;
  }

  _internal_SESS* state() { return session_->internal; }
  Remap RemapEntries() {
    Remap entries;
    for (WORD i = 0; i < state()->face_remap_count; ++i)
      entries.emplace_back(state()->face_remap_source[i], state()->face_remap_target[i]);
    return entries;
  }

  std::unique_ptr<LSXLsiSession> session_;
  VelkoRTItem* item_ = nullptr; /* the session's */
  DBHANDLE db_ = NULLHANDLE;
  NOTEHANDLE note_ = NULLHANDLE;
  NOTEHANDLE other_ = NULLHANDLE;
  size_t handles_before_ = 0;
};

/* ---- loading ---- */

TEST_F(FontTableTest, TheNotesFacesFollowTheStandardOnesAndALoadReplacesThem) {
  PutFonts(note_, Table({{5, 0x20, "Arial"}, {9, 0x10, "Times New Roman"}}));
  Connect();
  EXPECT_EQ(item_->internal->face_count, 10);
  EXPECT_EQ(item_->internal->faces[7].id, 1);
  EXPECT_THAT(NoteFaces(), ElementsAre(Face{5, 0x20, "Arial"}, Face{9, 0x10, "Times New Roman"}));

  PutFonts(note_, Table({{6, 0, "Tahoma"}}));
  EXPECT_EQ(item_->InitialFontTable(), NOERROR);
  EXPECT_THAT(NoteFaces(), ElementsAre(Face{6, 0, "Tahoma"}));
  EXPECT_EQ(item_->RecordFontFaces(nullptr), NOERROR);
  EXPECT_EQ(item_->internal->face_count, 8);
}

TEST_F(FontTableTest, ACountBeyondTheValueReadsTheFacesPresentAndALongNameIsCut) {
  PutFonts(note_, Table({{5, 0, "Arial"}}, 200));
  Connect();
  EXPECT_THAT(NoteFaces(), ElementsAre(Face{5, 0, "Arial"}));
  // Adding keeps the table consistent: two faces, counted as two.
  EXPECT_EQ(item_->AddToFontTable("Verdana", 0), 6);
  EXPECT_EQ(FontsOf(note_), Table({{5, 0, "Arial"}, {6, 0, "Verdana"}}));

  Bytes table = Table({{5, 0, ""}});
  std::memset(table.data() + 8, 'x', 32); // no NUL in the stored name
  PutFonts(note_, table);
  ASSERT_EQ(item_->InitialFontTable(), NOERROR);
  EXPECT_THAT(NoteFaces(), ElementsAre(Face{5, 0, std::string(31, 'x')}));
}

TEST_F(FontTableTest, AFontsValueThatIsNotCompositeIsAnError) {
  Connect();
  PutFonts(note_, {'A', 'r', 'i', 'a', 'l', 0}, TYPE_TEXT);
  HostTestClearLog();
  EXPECT_EQ(item_->InitialFontTable(), VELKO_ERR_FAILED);
  EXPECT_THAT(HostTestLogLines(), ElementsAre("Font table $Fonts of note 0x0 is not composite "
                                              "data (type 1280): The operation failed"));
  EXPECT_EQ(item_->AddToFontTable("Arial", 0), 0);
  EXPECT_EQ(item_->MergeFontTables(other_), VELKO_ERR_FAILED);
  PutFonts(note_, Table({}));
  PutFonts(other_, {'x', 0}, TYPE_TEXT);
  EXPECT_EQ(item_->MergeFontTables(other_), VELKO_ERR_FAILED) << "nor the source's";
}

/* ---- a damaged "$Fonts" ---- */

/* A table of two faces, cut or patched. */
Bytes TwoFaces() { return Table({{5, 0x20, "Arial"}, {6, 0x10, "Tahoma"}}); }
Bytes Cut(Bytes bytes, size_t keep) {
  bytes.resize(keep);
  return bytes;
}
Bytes WithLengthField(Bytes bytes, WORD length) {
  bytes[2] = static_cast<BYTE>(length);
  bytes[3] = static_cast<BYTE>(length >> 8);
  return bytes;
}

struct DamageCase {
  const char* name;
  Bytes fonts;             /* the value of "$Fonts" behind its type word */
  std::vector<Face> faces; /* the faces the item takes from it */
  const char* damage;      /* the log line behind "... of note 0x<id> is damaged: " */
};

void PrintTo(const DamageCase& c, std::ostream* out) { *out << c.name; }

class DamagedFontsTest : public FontTableTest, public ::testing::WithParamInterface<DamageCase> {
protected:
  /* A stored note whose "Body" holds a run in face 5 ("ab") and one in
   * face 6 ("cd"), beside the "$Fonts" value. */
  NOTEID StoreNoteWithFonts(const Bytes& fonts) {
    const Bytes body = note_testing::Records({note_testing::DefaultDefinition(), cdbuild::PabRef(1),
                                              cdbuild::Text("ab", {.face = 5}),
                                              cdbuild::Text("cd", {.face = 6})});
    const NOTEID id = note_testing::StoreNoteWith(db_, [&](NOTEHANDLE note) {
      if (STATUS status = note_testing::AppendRecords(note, "Body", body); status != NOERROR)
        return status;
      return NSFItemAppend(note, 0, "$Fonts", 6, TYPE_COMPOSITE, fonts.data(),
                           static_cast<DWORD>(fonts.size()));
    });
    EXPECT_NE(id, 0u);
    return id;
  }

  /* The body rendered as an HTML fragment. */
  std::string Fragment() {
    VelkoRTChunk* chunk = item_->DefineChunk("Everything");
    if (chunk == nullptr)
      return "(no chunk)";
    char* result =
        chunk->GenerateHTML("", "HTML 4.01", "Generation=Fragment", 0, nullptr, nullptr);
    if (result == nullptr)
      return "(null)";
    std::string text(result, session_->render_result_length);
    VelkoDeallocatePtr(session_.get(), result);
    return text;
  }
};

/* The item connects, its face table holds the faces that are there, the
 * body renders on them, and one log line names "$Fonts", the note and the
 * damage. Nothing past the value's end is read (the sanitizer build). */
TEST_P(DamagedFontsTest, TheBodyLoadsOnTheFacesThereAndTheDamageIsLogged) {
  const DamageCase& c = GetParam();
  const NOTEID id = StoreNoteWithFonts(c.fonts);
  HostTestClearLog();
  ASSERT_EQ(item_->Connect("", "mem:fonts", id, "Body", 0), NOERROR);
  EXPECT_EQ(NoteFaces(), c.faces);
  char name[32] = {};
  EXPECT_EQ(item_->FindFaceByID(5, name), c.faces.empty() ? 0 : 1);
  EXPECT_EQ(item_->FindFaceByID(6, name), 0) << "a face the table does not hold is not named";
  char expected[160];
  std::snprintf(expected, sizeof expected, "Font table $Fonts of note 0x%X is damaged: %s",
                static_cast<unsigned>(id), c.damage);
  EXPECT_THAT(HostTestLogLines(), ElementsAre(expected));
  // The run in face 5 names its face when the table holds it; the run in
  // face 6 renders in the default face.
  EXPECT_EQ(Fragment(), c.faces.empty()
                                      ? "abcd"
                                      : "<span style=\"font-family: 'Arial'; \">ab</span>cd");
  EXPECT_THAT(note_testing::MessageTexts(), ElementsAre()) << "no message for the user";
}

INSTANTIATE_TEST_SUITE_P(
    FontTable, DamagedFontsTest,
    ::testing::Values(
        DamageCase{"typeWordOnly", {}, {},
                   "its 0 bytes cannot hold its header, so it names no face"},
        DamageCase{"headerCutShort", Cut(TwoFaces(), 4), {},
                   "its 4 bytes cannot hold its header, so it names no face"},
        DamageCase{"headerWithoutFaces", Cut(TwoFaces(), 6), {},
                   "its header counts 2 faces but it holds 0; only those are used"},
        DamageCase{"lastFaceCutShort", Cut(TwoFaces(), 6 + 34 + 20), {{5, 0x20, "Arial"}},
                   "its header counts 2 faces but it holds 1; only those are used"},
        DamageCase{"countBeyondTheFaces", Table({{5, 0x20, "Arial"}}, 3), {{5, 0x20, "Arial"}},
                   "its header counts 3 faces but it holds 1; only those are used"},
        DamageCase{"lengthFieldShortOfTheFaces", WithLengthField(TwoFaces(), 6 + 34),
                   {{5, 0x20, "Arial"}},
                   "its header counts 2 faces but it holds 1; only those are used"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FontTableTest, ADamagedTableIsMendedByAddingAFaceAndLoggedWhenMerged) {
  Connect();
  // Adding to a table with fewer faces than it counts writes a sound table
  // of the faces there and the new one.
  PutFonts(note_, Table({{5, 0, "Arial"}}, 4));
  HostTestClearLog();
  EXPECT_EQ(item_->AddToFontTable("Verdana", 0), 6);
  EXPECT_EQ(FontsOf(note_), Table({{5, 0, "Arial"}, {6, 0, "Verdana"}}));
  EXPECT_THAT(HostTestLogLines(),
              ElementsAre("Font table $Fonts of note 0x0 is damaged: its header counts 4 faces "
                          "but it holds 1; only those are used"));
  // A table too short for its header takes the face as its first.
  PutFonts(note_, {0x8B, 0xFF});
  EXPECT_EQ(item_->AddToFontTable("Verdana", 0), 5);
  EXPECT_EQ(FontsOf(note_), Table({{5, 0, "Verdana"}}));

  // A damaged source merges the faces it holds.
  PutFonts(note_, Table({{5, 0, "Arial"}}));
  PutFonts(other_, Cut(Table({{5, 0, "Tahoma"}, {6, 0, "Arial"}}), 6 + 34 + 33));
  ASSERT_EQ(item_->InitialFontTable(), NOERROR);
  HostTestClearLog();
  EXPECT_EQ(item_->MergeFontTables(other_), NOERROR);
  EXPECT_EQ(RemapEntries(), (Remap{{5, 6}}));
  EXPECT_EQ(FontsOf(note_), Table({{5, 0, "Arial"}, {6, 0, "Tahoma"}}));
  EXPECT_THAT(HostTestLogLines(),
              ElementsAre("Font table $Fonts of note 0x0 is damaged: its header counts 2 faces "
                          "but it holds 1; only those are used"));
}

/* ---- adding ---- */

TEST_F(FontTableTest, GenericFamiliesNameStandardFacesWithoutTouchingFonts) {
  Connect();
  struct Case {
    const char* name;
    FACEID face;
  };
  for (const Case& c : {Case{"sans-serif", 1}, Case{"serif", 0}, Case{"cursive", 0},
                        Case{"fantasy", 0}, Case{"monospace", 4}, Case{"", 0}})
    EXPECT_EQ(item_->AddToFontTable(c.name, 0x30), c.face) << c.name;
  EXPECT_EQ(item_->AddToFontTable(nullptr, 0), 0);
  EXPECT_TRUE(FontsOf(note_).empty());
  // Generic names compare with case: "Monospace" is an ordinary face, the
  // first added, which is 5 and alone in "$Fonts".
  EXPECT_EQ(item_->AddToFontTable("Monospace", 0x30), 5);
  EXPECT_EQ(FontsOf(note_), Table({{5, 0x30, "Monospace"}}));
  EXPECT_THAT(NoteFaces(), ElementsAre(Face{5, 0x30, "Monospace"}));
}

TEST_F(FontTableTest, FacesAreFoundWithoutRegardToCaseAndAddedAboveTheHighestId) {
  PutFonts(note_, Table({{5, 0, "Arial"}, {12, 0, "Tahoma"}, {7, 0, "Verdana"}}));
  Connect();
  EXPECT_EQ(item_->AddToFontTable("ARIAL", 0x20), 5);
  EXPECT_EQ(item_->AddToFontTable("tahoma", 0x20), 12);
  EXPECT_EQ(item_->AddToFontTable("Georgia", 0x10), 13);
  EXPECT_EQ(item_->AddToFontTable("GEORGIA", 0x20), 13);
  const std::vector<Face> expected = {
      {5, 0, "Arial"}, {12, 0, "Tahoma"}, {7, 0, "Verdana"}, {13, 0x10, "Georgia"}};
  EXPECT_EQ(FontsOf(note_), Table(expected));
  EXPECT_EQ(NoteFaces(), expected);

  // Only the first 31 characters of a name are stored and compared.
  const std::string name = "A" + std::string(39, 'n');
  EXPECT_EQ(item_->AddToFontTable(name.c_str(), 0), 14);
  EXPECT_EQ(item_->AddToFontTable((name.substr(0, 31) + "zz").c_str(), 0), 14);
  EXPECT_EQ(NoteFaces().back(), (Face{14, 0, name.substr(0, 31)}));
}

/* A multi-byte name is cut between whole characters and found again by
 * its longer form; U+4E2D and U+6E2D (LMBCS 0x14 and "N-", "n-") are two
 * faces, since no trail byte is compared without regard to case. */
TEST_F(FontTableTest, MultiByteNamesKeepWholeCharacters) {
  PutFonts(note_, Table({{5, 0, "Arial"}}));
  Connect();
  std::string name;
  for (int i = 0; i < 11; ++i)
    name += "\x14N-";
  EXPECT_EQ(item_->AddToFontTable(name.c_str(), 0), 6);
  EXPECT_EQ(item_->AddToFontTable(name.c_str(), 0), 6);
  EXPECT_EQ(item_->AddToFontTable("\x14N-", 0), 7);
  EXPECT_EQ(item_->AddToFontTable("\x14n-", 0), 8);
  EXPECT_EQ(item_->AddToFontTable("\x14n-", 0), 8);
  EXPECT_EQ(NoteFaces(), (std::vector<Face>{{5, 0, "Arial"},
                                            {6, 0, name.substr(0, 30)},
                                            {7, 0, "\x14N-"},
                                            {8, 0, "\x14n-"}}));
}

TEST_F(FontTableTest, AFullTableOrExhaustedIdsAddNothing) {
  std::vector<Face> full;
  for (int i = 0; i < 247; ++i)
    full.push_back({static_cast<BYTE>(5 + i % 200), 0, "Face" + std::to_string(i)});
  PutFonts(note_, Table(full));
  Connect();
  EXPECT_EQ(item_->internal->face_count, 255);
  EXPECT_EQ(item_->AddToFontTable("Face246", 0), full[246].id);
  EXPECT_EQ(item_->AddToFontTable("One more", 0), 0);
  EXPECT_EQ(FontsOf(note_), Table(full));

  PutFonts(note_, Table({{255, 0, "Last"}}));
  ASSERT_EQ(item_->InitialFontTable(), NOERROR);
  EXPECT_EQ(item_->AddToFontTable("Next", 0), 0);
  EXPECT_EQ(FontsOf(note_), Table({{255, 0, "Last"}}));
}

TEST_F(FontTableTest, AFontsThatCannotBeWrittenStaysAsItWas) {
  Connect();
  HostTestSetItemValueLimit(20);
  EXPECT_EQ(item_->AddToFontTable("Arial", 0), 0);
  EXPECT_TRUE(FontsOf(note_).empty());
  EXPECT_EQ(item_->internal->face_count, 8);

  HostTestSetItemValueLimit(0);
  const Bytes old = Table({{5, 0, "Arial"}});
  PutFonts(note_, old);
  ASSERT_EQ(item_->InitialFontTable(), NOERROR);
  // The grown table (2 + 74 bytes) is above the cap; the old one (42) is not.
  HostTestSetItemValueLimit(60);
  EXPECT_EQ(item_->AddToFontTable("Verdana", 0), 0);
  HostTestSetItemValueLimit(0);
  HostTestFailAllocationsFrom(1);
  EXPECT_EQ(item_->AddToFontTable("Verdana", 0), 0);
  HostTestFailAllocationsFrom(0);
  EXPECT_EQ(FontsOf(note_), old);
  EXPECT_THAT(NoteFaces(), ElementsAre(Face{5, 0, "Arial"}));
  ASSERT_EQ(NSFNoteUpdate(note_, 0), NOERROR);
  EXPECT_EQ(FontsOf(note_), old) << "the note still stores its old table";
}

/* ---- merging another note's table or a record ---- */

struct MergeCase {
  const char* name;
  std::vector<Face> target; /* empty: the note has no "$Fonts" */
  std::vector<Face> source;
  Remap remap;
  std::vector<Face> after; /* the note's faces afterwards */
};

class FontMergeTest : public FontTableTest, public ::testing::WithParamInterface<MergeCase> {};

/* A remap entry is kept up to the last source face whose id changes; a
 * face the note lacks is appended under the next free id. The same
 * happens for a CDFONTTABLE record as for another note's "$Fonts". */
TEST_P(FontMergeTest, MergesTheSourceAndRemapsItsIds) {
  const MergeCase& c = GetParam();
  Connect();
  for (const bool record : {false, true}) {
    SCOPED_TRACE(record ? "record" : "note");
    NSFItemDelete(note_, "$Fonts", 6);
    if (!c.target.empty())
      PutFonts(note_, Table(c.target));
    ASSERT_EQ(item_->InitialFontTable(), NOERROR);
    state()->face_remap_count = 3; /* stale, as an earlier merge leaves it */
    state()->face_remap_source[0] = 9;
    const Bytes source = Table(c.source);
    if (record) {
      EXPECT_EQ(item_->MergeWithCDFONTTABLE(reinterpret_cast<const char*>(source.data()), 0xFF8B,
                                            static_cast<DWORD>(source.size())),
                NOERROR);
    } else {
      PutFonts(other_, source);
      EXPECT_EQ(item_->MergeFontTables(other_), NOERROR);
    }
    EXPECT_EQ(RemapEntries(), c.remap);
    EXPECT_EQ(FontsOf(note_), Table(c.after));
    EXPECT_EQ(NoteFaces(), c.after);
  }
}

INSTANTIATE_TEST_SUITE_P(
    FontTable, FontMergeTest,
    ::testing::Values(
        MergeCase{"noteWithoutFontsTakesTheSource",
                  {},
                  {{5, 0x20, "Arial"}, {8, 0, "Tahoma"}},
                  {},
                  {{5, 0x20, "Arial"}, {8, 0, "Tahoma"}}},
        MergeCase{"everyFaceAtItsOwnPlace",
                  {{5, 0, "Arial"}, {6, 0, "Tahoma"}},
                  {{5, 0, "ARIAL"}, {6, 0, "Tahoma"}},
                  {},
                  {{5, 0, "Arial"}, {6, 0, "Tahoma"}}},
        MergeCase{"missingFaceAppended",
                  {{5, 0, "Arial"}, {9, 0, "Tahoma"}},
                  {{5, 0, "Arial"}, {6, 0x10, "Verdana"}, {7, 0, "Tahoma"}},
                  {{5, 5}, {6, 10}, {7, 9}},
                  {{5, 0, "Arial"}, {9, 0, "Tahoma"}, {10, 0x10, "Verdana"}}},
        MergeCase{"countReachesTheLastChange",
                  {{5, 0, "Arial"}},
                  {{5, 0, "Arial"}, {6, 0, "Verdana"}, {7, 0, "ARIAL"}},
                  {{5, 5}, {6, 6}, {7, 5}},
                  {{5, 0, "Arial"}, {6, 0, "Verdana"}}},
        MergeCase{"swappedIdsRemappedWithoutAppending",
                  {{5, 0, "Arial"}, {6, 0, "Tahoma"}},
                  {{5, 0, "Tahoma"}, {6, 0, "Arial"}},
                  {{5, 6}, {6, 5}},
                  {{5, 0, "Arial"}, {6, 0, "Tahoma"}}},
        MergeCase{"samePlaceUnderAnotherId", {{5, 0, "Arial"}}, {{7, 0, "Arial"}}, {{7, 5}},
                  {{5, 0, "Arial"}}},
        MergeCase{"newFaceAndAMovedOne",
                  {{5, 0, "Arial"}},
                  {{5, 0, "Tahoma"}, {6, 0, "Arial"}},
                  {{5, 6}, {6, 5}},
                  {{5, 0, "Arial"}, {6, 0, "Tahoma"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FontTableTest, AFailedMergeKeepsTheFontsAndLeavesNoRemap) {
  const Bytes target = Table({{5, 0, "Arial"}});
  const Bytes record = Table({{5, 0, "Verdana"}});
  Connect();
  // The source's table cannot be copied to a note without one.
  PutFonts(other_, record);
  HostTestSetItemValueLimit(30);
  EXPECT_EQ(item_->MergeFontTables(other_), ERR_HOST_VALUE_TOO_LARGE);
  EXPECT_TRUE(FontsOf(note_).empty());
  EXPECT_EQ(item_->internal->face_count, 8);

  HostTestSetItemValueLimit(0);
  PutFonts(note_, target);
  ASSERT_EQ(item_->InitialFontTable(), NOERROR);
  HostTestFailAllocationsFrom(1);
  EXPECT_EQ(item_->MergeFontTables(other_), VELKO_ERR_MEMORY);
  HostTestFailAllocationsFrom(0);
  EXPECT_EQ(state()->face_remap_count, 0);
  HostTestSetItemValueLimit(60);
  EXPECT_EQ(item_->MergeFontTables(other_), ERR_HOST_VALUE_TOO_LARGE);
  EXPECT_EQ(state()->face_remap_count, 0);
  EXPECT_EQ(item_->MergeWithCDFONTTABLE(reinterpret_cast<const char*>(record.data()), 0xFF8B,
                                        static_cast<DWORD>(record.size())),
            ERR_HOST_VALUE_TOO_LARGE);
  EXPECT_EQ(state()->face_remap_count, 0);
  HostTestSetItemValueLimit(0);
  EXPECT_EQ(FontsOf(note_), target);
  EXPECT_THAT(NoteFaces(), ElementsAre(Face{5, 0, "Arial"}));

  // A record too short for its header is refused.
  EXPECT_EQ(item_->MergeWithCDFONTTABLE(nullptr, 0xFF8B, 40), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(item_->MergeWithCDFONTTABLE(reinterpret_cast<const char*>(record.data()), 0xFF8B, 4),
            VELKO_ERR_BAD_ARGUMENT);
  // A source without "$Fonts" changes nothing.
  NSFItemDelete(other_, "$Fonts", 6);
  EXPECT_EQ(item_->MergeFontTables(other_), NOERROR);
  EXPECT_EQ(FontsOf(note_), target);
}

TEST_F(FontTableTest, MoreSourceFacesThanRemapEntriesAreCut) {
  std::vector<Face> source;
  for (int i = 0; i < 300; ++i)
    source.push_back({static_cast<BYTE>(5 + i % 200), 0, std::string("S").append(std::to_string(i))});
  PutFonts(note_, Table({{5, 0, "Arial"}}));
  PutFonts(other_, Table(source));
  Connect();
  EXPECT_EQ(item_->MergeFontTables(other_), NOERROR);
  // 247 faces fit the item's table: Arial and 246 of the source's.
  EXPECT_EQ(item_->internal->face_count, 255);
  EXPECT_EQ(FontsOf(note_).size(), 6u + 34 * 247);
  EXPECT_EQ(state()->face_remap_count, 246);
  EXPECT_EQ(state()->face_remap_target[246], 0xFF);
}

}  // namespace
