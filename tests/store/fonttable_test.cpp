// The item's font table: loading "$Fonts", finding and adding faces, and
// merging another note's table or a CDFONTTABLE record, on real host notes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
#include "velko/status.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

constexpr char kDbPath[] = "mem:fonts";

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
std::vector<BYTE> Table(const std::vector<Face>& faces, int countOverride = -1) {
  WORD length = static_cast<WORD>(6 + 34 * faces.size());
  WORD count = countOverride >= 0 ? static_cast<WORD>(countOverride)
                                  : static_cast<WORD>(faces.size());
  std::vector<BYTE> bytes = {0x8B, 0xFF, static_cast<BYTE>(length), static_cast<BYTE>(length >> 8),
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

std::vector<Face> FacesOf(const std::vector<BYTE>& table) {
  std::vector<Face> faces;
  for (size_t at = 6; at + 34 <= table.size(); at += 34) {
    char name[33] = {};
    std::memcpy(name, table.data() + at + 2, 32);
    faces.push_back({table[at], table[at + 1], name});
  }
  return faces;
}

/* The "$Fonts" value behind its type word; empty when the note has none. */
std::vector<BYTE> FontsOf(NOTEHANDLE note) {
  BLOCKID value = {};
  DWORD length = 0;
  WORD type = 0;
  if (NSFItemInfo(note, "$Fonts", 6, nullptr, &type, &value, &length) != NOERROR)
    return {};
  EXPECT_EQ(type, TYPE_COMPOSITE);
  const BYTE* data = static_cast<const BYTE*>(OSLockBlock(value));
  std::vector<BYTE> bytes(data + 2, data + length);
  OSUnlockBlock(value);
  return bytes;
}

void PutFonts(NOTEHANDLE note, const std::vector<BYTE>& table, WORD type = TYPE_COMPOSITE) {
  NSFItemDelete(note, "$Fonts", 6);
  ASSERT_EQ(NSFItemAppend(note, 0, "$Fonts", 6, type, table.data(),
                          static_cast<DWORD>(table.size())),
            NOERROR);
}

const std::vector<Face> kStandardFaces = {
    {0, 0, "Default Serif"},     {1, 0, "Default Sans Serif"},     {2, 0, "Default MultiLingual"},
    {4, 0, "Default Monospace"}, {3, 0, "Default User Interface"}, {4, 0, "COURIER"},
    {0, 0, "Roman"},             {1, 0, "Swiss"},
};

class FontTableTest : public ::testing::Test {
protected:
  void SetUp() override {
    handles_before_ = note_testing::ResetHostCapturing();
    ASSERT_EQ(note_testing::CreateDatabase(kDbPath, &db_), NOERROR);
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
    EXPECT_EQ(HostTestLiveHandles(), handles_before_) << HostTestLeakReport();
    HostTestReset();
  }

  /* Binds the item to the note, loading its font table. */
  void Connect() { ASSERT_EQ(item_->ConnectBackend(note_, "Body", 1), NOERROR); }

  /* The faces the item recorded behind the standard ones. */
  std::vector<Face> NoteFaces() const {
    std::vector<Face> faces;
    for (WORD i = kStandardFaces.size(); i < item_->internal->face_count; ++i) {
      const font_face& slot = item_->internal->faces[i];
      faces.push_back({slot.id, slot.family, slot.name});
    }
    return faces;
  }

  _internal_SESS* state() { return session_->internal; }
  std::vector<std::pair<int, int>> Remap() {
    std::vector<std::pair<int, int>> entries;
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

TEST_F(FontTableTest, ANoteWithoutFontsHasOnlyTheStandardFaces) {
  Connect();
  EXPECT_EQ(item_->InitialFontTable(), NOERROR);
  EXPECT_EQ(item_->internal->face_count, 8);
  for (size_t i = 0; i < kStandardFaces.size(); ++i) {
    const font_face& slot = item_->internal->faces[i];
    EXPECT_EQ((Face{slot.id, slot.family, slot.name}), kStandardFaces[i]);
  }
}

TEST_F(FontTableTest, TheNotesFacesFollowTheStandardOnes) {
  PutFonts(note_, Table({{5, 0x20, "Arial"}, {9, 0x10, "Times New Roman"}}));
  Connect();
  EXPECT_EQ(item_->internal->face_count, 10);
  EXPECT_THAT(NoteFaces(), ElementsAre(Face{5, 0x20, "Arial"}, Face{9, 0x10, "Times New Roman"}));
  EXPECT_EQ(item_->internal->faces[7].id, 1);

  // Loading again replaces, it does not add.
  PutFonts(note_, Table({{6, 0, "Tahoma"}}));
  EXPECT_EQ(item_->InitialFontTable(), NOERROR);
  EXPECT_THAT(NoteFaces(), ElementsAre(Face{6, 0, "Tahoma"}));
  EXPECT_EQ(item_->RecordFontFaces(nullptr), NOERROR);
  EXPECT_EQ(item_->internal->face_count, 8);
}

TEST_F(FontTableTest, AFontsValueThatIsNotCompositeIsAnError) {
  Connect();
  PutFonts(note_, {'A', 'r', 'i', 'a', 'l', 0}, TYPE_TEXT);
  EXPECT_EQ(item_->InitialFontTable(), VELKO_ERR_FAILED);
  EXPECT_EQ(item_->AddToFontTable("Arial", 0), 0);
  EXPECT_EQ(item_->MergeFontTables(other_), VELKO_ERR_FAILED);
}

TEST_F(FontTableTest, AFaceCountBeyondTheValueReadsOnlyTheFacesPresent) {
  PutFonts(note_, Table({{5, 0, "Arial"}}, 200));
  Connect();
  EXPECT_THAT(NoteFaces(), ElementsAre(Face{5, 0, "Arial"}));
  // Adding keeps the table consistent: two faces, counted as two.
  EXPECT_EQ(item_->AddToFontTable("Verdana", 0), 6);
  EXPECT_EQ(FontsOf(note_), Table({{5, 0, "Arial"}, {6, 0, "Verdana"}}));
}

TEST_F(FontTableTest, AnOverlongFaceNameIsCutWhenRecorded) {
  std::vector<BYTE> table = Table({{5, 0, ""}});
  std::memset(table.data() + 8, 'x', 32); // no NUL in the stored name
  PutFonts(note_, table);
  Connect();
  EXPECT_THAT(NoteFaces(), ElementsAre(Face{5, 0, std::string(31, 'x')}));
}

/* ---- adding ---- */

TEST_F(FontTableTest, GenericFamiliesNameStandardFacesWithoutTouchingFonts) {
  Connect();
  struct Case {
    const char* name;
    FACEID face;
  };
  for (const Case& c : {Case{"sans-serif", 1}, Case{"serif", 0}, Case{"cursive", 0},
                        Case{"fantasy", 0}, Case{"monospace", 4}}) {
    EXPECT_EQ(item_->AddToFontTable(c.name, 0x30), c.face) << c.name;
  }
  EXPECT_TRUE(FontsOf(note_).empty());
  EXPECT_EQ(item_->AddToFontTable(nullptr, 0), 0);
  EXPECT_EQ(item_->AddToFontTable("", 0), 0);
  EXPECT_TRUE(FontsOf(note_).empty());

  // Generic names compare with case: "Monospace" is an ordinary face.
  EXPECT_EQ(item_->AddToFontTable("Monospace", 0x30), 5);
  EXPECT_EQ(FontsOf(note_), Table({{5, 0x30, "Monospace"}}));
}

TEST_F(FontTableTest, TheFirstAddedFaceIsFiveAndAloneInFonts) {
  Connect();
  EXPECT_EQ(item_->AddToFontTable("Arial", 0x20), 5);
  std::vector<BYTE> expected = Table({{5, 0x20, "Arial"}});
  ASSERT_EQ(expected.size(), 40u);
  EXPECT_EQ(FontsOf(note_), expected);
  EXPECT_EQ(item_->internal->face_count, 9);
  EXPECT_THAT(NoteFaces(), ElementsAre(Face{5, 0x20, "Arial"}));
}

TEST_F(FontTableTest, FacesAreFoundWithoutRegardToCaseAndAddedAboveTheHighestId) {
  PutFonts(note_, Table({{5, 0, "Arial"}, {12, 0, "Tahoma"}, {7, 0, "Verdana"}}));
  Connect();
  EXPECT_EQ(item_->AddToFontTable("ARIAL", 0x20), 5);
  EXPECT_EQ(item_->AddToFontTable("tahoma", 0x20), 12);
  EXPECT_EQ(item_->AddToFontTable("Georgia", 0x10), 13);
  EXPECT_EQ(item_->AddToFontTable("GEORGIA", 0x20), 13);
  EXPECT_EQ(FontsOf(note_),
            Table({{5, 0, "Arial"}, {12, 0, "Tahoma"}, {7, 0, "Verdana"}, {13, 0x10, "Georgia"}}));
  EXPECT_THAT(NoteFaces(), ElementsAre(Face{5, 0, "Arial"}, Face{12, 0, "Tahoma"},
                                       Face{7, 0, "Verdana"}, Face{13, 0x10, "Georgia"}));
}

TEST_F(FontTableTest, ALongNameIsStoredAsItsFirst31Characters) {
  Connect();
  std::string name(40, 'n');
  name[0] = 'A';
  EXPECT_EQ(item_->AddToFontTable(name.c_str(), 0), 5);
  EXPECT_EQ(FontsOf(note_), Table({{5, 0, name.substr(0, 31)}}));
  EXPECT_EQ(item_->AddToFontTable(name.c_str(), 0), 5);
  // Only the first 31 characters count.
  EXPECT_EQ(item_->AddToFontTable((name.substr(0, 31) + "zz").c_str(), 0), 5);
  EXPECT_EQ(FacesOf(FontsOf(note_)).size(), 1u);
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

TEST_F(FontTableTest, AFontsThatCannotBeRewrittenStaysAsItWas) {
  std::vector<BYTE> old = Table({{5, 0, "Arial"}});
  PutFonts(note_, old);
  Connect();
  // The grown table (2 + 74 bytes) is above the cap; the old one (42) is not.
  HostTestSetItemValueLimit(60);
  EXPECT_EQ(item_->AddToFontTable("Verdana", 0), 0);
  HostTestSetItemValueLimit(0);
  EXPECT_EQ(FontsOf(note_), old);
  EXPECT_THAT(NoteFaces(), ElementsAre(Face{5, 0, "Arial"}));
  // The note still stores its old table.
  ASSERT_EQ(NSFNoteUpdate(note_, 0), NOERROR);
  EXPECT_EQ(FontsOf(note_), old);
}

TEST_F(FontTableTest, AFirstFontsThatCannotBeWrittenLeavesTheNoteWithout) {
  Connect();
  HostTestSetItemValueLimit(20);
  EXPECT_EQ(item_->AddToFontTable("Arial", 0), 0);
  HostTestSetItemValueLimit(0);
  EXPECT_TRUE(FontsOf(note_).empty());
  EXPECT_EQ(item_->internal->face_count, 8);
}

TEST_F(FontTableTest, OutOfHostMemoryAddsNothing) {
  std::vector<BYTE> old = Table({{5, 0, "Arial"}});
  PutFonts(note_, old);
  Connect();
  HostTestFailAllocationsFrom(1);
  EXPECT_EQ(item_->AddToFontTable("Verdana", 0), 0);
  HostTestFailAllocationsFrom(0);
  EXPECT_EQ(FontsOf(note_), old);
  EXPECT_THAT(NoteFaces(), ElementsAre(Face{5, 0, "Arial"}));
}

TEST_F(FontTableTest, MapFontTableDoesNothing) {
  Connect();
  std::vector<BYTE> table = Table({{5, 0, "Arial"}});
  EXPECT_EQ(item_->MapFontTable(reinterpret_cast<const char*>(table.data()), 0xFF8B,
                                static_cast<DWORD>(table.size()), nullptr),
            NOERROR);
  EXPECT_TRUE(FontsOf(note_).empty());
}

/* ---- merging another note's table ---- */

class FontMergeTest : public FontTableTest {
protected:
  /* Leaves a stale remap behind, as an earlier merge would. */
  void StaleRemap() {
    state()->face_remap_count = 3;
    state()->face_remap_source[0] = 9;
    state()->face_remap_target[0] = 10;
  }
};

TEST_F(FontMergeTest, ASourceWithoutFontsChangesNothing) {
  std::vector<BYTE> target = Table({{5, 0, "Arial"}});
  PutFonts(note_, target);
  Connect();
  StaleRemap();
  EXPECT_EQ(item_->MergeFontTables(other_), NOERROR);
  EXPECT_EQ(state()->face_remap_count, 0);
  EXPECT_EQ(FontsOf(note_), target);
}

TEST_F(FontMergeTest, ANoteWithoutFontsTakesTheSourceTable) {
  Connect();
  std::vector<BYTE> source = Table({{5, 0x20, "Arial"}, {8, 0, "Tahoma"}});
  PutFonts(other_, source);
  StaleRemap();
  EXPECT_EQ(item_->MergeFontTables(other_), NOERROR);
  EXPECT_EQ(state()->face_remap_count, 0);
  EXPECT_EQ(FontsOf(note_), source);
  EXPECT_THAT(NoteFaces(), ElementsAre(Face{5, 0x20, "Arial"}, Face{8, 0, "Tahoma"}));
}

TEST_F(FontMergeTest, EveryFaceAtItsOwnPlaceChangesNothing) {
  std::vector<BYTE> target = Table({{5, 0, "Arial"}, {6, 0, "Tahoma"}});
  PutFonts(note_, target);
  PutFonts(other_, Table({{5, 0, "ARIAL"}, {6, 0, "Tahoma"}}));
  Connect();
  EXPECT_EQ(item_->MergeFontTables(other_), NOERROR);
  EXPECT_EQ(state()->face_remap_count, 0);
  EXPECT_EQ(FontsOf(note_), target);
}

TEST_F(FontMergeTest, AMissingFaceIsAppendedUnderTheNextFreeId) {
  PutFonts(note_, Table({{5, 0, "Arial"}, {9, 0, "Tahoma"}}));
  PutFonts(other_, Table({{5, 0, "Arial"}, {6, 0x10, "Verdana"}, {7, 0, "Tahoma"}}));
  Connect();
  EXPECT_EQ(item_->MergeFontTables(other_), NOERROR);
  // Verdana (index 1) is new: the count reaches index + 1 there, and
  // Tahoma (index 2) changes its id.
  EXPECT_THAT(Remap(), ElementsAre(std::pair{5, 5}, std::pair{6, 10}, std::pair{7, 9}));
  std::vector<Face> expected = {{5, 0, "Arial"}, {9, 0, "Tahoma"}, {10, 0x10, "Verdana"}};
  EXPECT_EQ(FacesOf(FontsOf(note_)), expected);
  EXPECT_EQ(FontsOf(note_), Table(expected));
  EXPECT_EQ(NoteFaces(), expected);
}

TEST_F(FontMergeTest, TheCountReachesTheLastEntryThatChanges) {
  PutFonts(note_, Table({{5, 0, "Arial"}}));
  PutFonts(other_, Table({{5, 0, "Arial"}, {6, 0, "Verdana"}, {7, 0, "ARIAL"}}));
  Connect();
  EXPECT_EQ(item_->MergeFontTables(other_), NOERROR);
  EXPECT_EQ(state()->face_remap_count, 3);
  EXPECT_THAT(Remap(), ElementsAre(std::pair{5, 5}, std::pair{6, 6}, std::pair{7, 5}));

  PutFonts(other_, Table({{5, 0, "Courier New"}, {6, 0, "Arial"}}));
  EXPECT_EQ(item_->MergeFontTables(other_), NOERROR);
  EXPECT_THAT(Remap(), ElementsAre(std::pair{5, 7}, std::pair{6, 5}));
  EXPECT_EQ(FacesOf(FontsOf(note_)),
            (std::vector<Face>{{5, 0, "Arial"}, {6, 0, "Verdana"}, {7, 0, "Courier New"}}));
}

TEST_F(FontMergeTest, AFaceUnderAnotherIdIsRemappedWithoutAppending) {
  std::vector<BYTE> target = Table({{5, 0, "Arial"}, {6, 0, "Tahoma"}});
  PutFonts(note_, target);
  PutFonts(other_, Table({{5, 0, "Tahoma"}, {6, 0, "Arial"}}));
  Connect();
  EXPECT_EQ(item_->MergeFontTables(other_), NOERROR);
  EXPECT_THAT(Remap(), ElementsAre(std::pair{5, 6}, std::pair{6, 5}));
  EXPECT_EQ(FontsOf(note_), target);
  EXPECT_THAT(NoteFaces(), ElementsAre(Face{5, 0, "Arial"}, Face{6, 0, "Tahoma"}));
}

TEST_F(FontMergeTest, TheSamePlaceUnderAnotherIdIsRemappedToo) {
  PutFonts(note_, Table({{5, 0, "Arial"}}));
  PutFonts(other_, Table({{7, 0, "Arial"}}));
  Connect();
  EXPECT_EQ(item_->MergeFontTables(other_), NOERROR);
  EXPECT_THAT(Remap(), ElementsAre(std::pair{7, 5}));
}

TEST_F(FontMergeTest, AFontsThatCannotBeRewrittenKeepsEverything) {
  std::vector<BYTE> target = Table({{5, 0, "Arial"}});
  PutFonts(note_, target);
  PutFonts(other_, Table({{5, 0, "Verdana"}}));
  Connect();
  HostTestSetItemValueLimit(60);
  EXPECT_EQ(item_->MergeFontTables(other_), ERR_HOST_VALUE_TOO_LARGE);
  HostTestSetItemValueLimit(0);
  EXPECT_EQ(state()->face_remap_count, 0);
  EXPECT_EQ(FontsOf(note_), target);
  EXPECT_THAT(NoteFaces(), ElementsAre(Face{5, 0, "Arial"}));
}

TEST_F(FontMergeTest, AFontsThatCannotBeCopiedIsReported) {
  Connect();
  PutFonts(other_, Table({{5, 0, "Verdana"}}));
  HostTestSetItemValueLimit(30);
  EXPECT_EQ(item_->MergeFontTables(other_), ERR_HOST_VALUE_TOO_LARGE);
  HostTestSetItemValueLimit(0);
  EXPECT_TRUE(FontsOf(note_).empty());
  EXPECT_EQ(item_->internal->face_count, 8);
}

TEST_F(FontMergeTest, OutOfMemoryIs263AndChangesNothing) {
  std::vector<BYTE> target = Table({{5, 0, "Arial"}});
  PutFonts(note_, target);
  PutFonts(other_, Table({{5, 0, "Verdana"}}));
  Connect();
  HostTestFailAllocationsFrom(1);
  EXPECT_EQ(item_->MergeFontTables(other_), VELKO_ERR_MEMORY);
  HostTestFailAllocationsFrom(0);
  EXPECT_EQ(state()->face_remap_count, 0);
  EXPECT_EQ(FontsOf(note_), target);
}

TEST_F(FontMergeTest, ASourceThatIsNotCompositeIsAnError) {
  Connect();
  PutFonts(other_, {'x', 0}, TYPE_TEXT);
  EXPECT_EQ(item_->MergeFontTables(other_), VELKO_ERR_FAILED);
  EXPECT_TRUE(FontsOf(note_).empty());
}

/* ---- merging a CDFONTTABLE record ---- */

TEST_F(FontMergeTest, ARecordBecomesTheFontsOfANoteWithout) {
  Connect();
  std::vector<BYTE> record = Table({{5, 0, "Arial"}, {6, 0, "Verdana"}});
  EXPECT_EQ(item_->MergeWithCDFONTTABLE(reinterpret_cast<const char*>(record.data()), 0xFF8B,
                                        static_cast<DWORD>(record.size())),
            NOERROR);
  EXPECT_EQ(FontsOf(note_), record);
  EXPECT_THAT(NoteFaces(), ElementsAre(Face{5, 0, "Arial"}, Face{6, 0, "Verdana"}));
  EXPECT_EQ(state()->face_remap_count, 0);
}

TEST_F(FontMergeTest, ARecordWhoseFacesAreAllPresentOnlyRemaps) {
  std::vector<BYTE> target = Table({{5, 0, "Arial"}, {6, 0, "Verdana"}});
  PutFonts(note_, target);
  Connect();
  std::vector<BYTE> record = Table({{5, 0, "Verdana"}, {6, 0, "Arial"}});
  EXPECT_EQ(item_->MergeWithCDFONTTABLE(reinterpret_cast<const char*>(record.data()), 0,
                                        static_cast<DWORD>(record.size())),
            NOERROR);
  EXPECT_THAT(Remap(), ElementsAre(std::pair{5, 6}, std::pair{6, 5}));
  EXPECT_EQ(FontsOf(note_), target);
}

TEST_F(FontMergeTest, ARecordWithANewFaceGrowsTheFonts) {
  PutFonts(note_, Table({{5, 0, "Arial"}}));
  Connect();
  std::vector<BYTE> record = Table({{5, 0, "Tahoma"}, {6, 0, "Arial"}});
  EXPECT_EQ(item_->MergeWithCDFONTTABLE(reinterpret_cast<const char*>(record.data()), 0xFF8B,
                                        static_cast<DWORD>(record.size())),
            NOERROR);
  EXPECT_THAT(Remap(), ElementsAre(std::pair{5, 6}, std::pair{6, 5}));
  std::vector<Face> expected = {{5, 0, "Arial"}, {6, 0, "Tahoma"}};
  EXPECT_EQ(FontsOf(note_), Table(expected));
  EXPECT_EQ(NoteFaces(), expected);
}

TEST_F(FontMergeTest, ARecordThatCannotBeWrittenKeepsTheFonts) {
  std::vector<BYTE> target = Table({{5, 0, "Arial"}});
  PutFonts(note_, target);
  Connect();
  std::vector<BYTE> record = Table({{5, 0, "Tahoma"}});
  HostTestSetItemValueLimit(60);
  EXPECT_EQ(item_->MergeWithCDFONTTABLE(reinterpret_cast<const char*>(record.data()), 0xFF8B,
                                        static_cast<DWORD>(record.size())),
            ERR_HOST_VALUE_TOO_LARGE);
  HostTestSetItemValueLimit(0);
  EXPECT_EQ(FontsOf(note_), target);
  EXPECT_THAT(NoteFaces(), ElementsAre(Face{5, 0, "Arial"}));
  EXPECT_EQ(state()->face_remap_count, 0);
}

TEST_F(FontMergeTest, ARecordTooShortForItsHeaderIsRefused) {
  Connect();
  std::vector<BYTE> record = Table({});
  EXPECT_EQ(item_->MergeWithCDFONTTABLE(nullptr, 0xFF8B, 40), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(item_->MergeWithCDFONTTABLE(reinterpret_cast<const char*>(record.data()), 0xFF8B, 4),
            VELKO_ERR_BAD_ARGUMENT);
  EXPECT_TRUE(FontsOf(note_).empty());
}

TEST_F(FontMergeTest, MoreSourceFacesThanRemapEntriesAreCut) {
  std::vector<Face> source;
  for (int i = 0; i < 300; ++i)
    source.push_back({static_cast<BYTE>(5 + i % 200), 0, "S" + std::to_string(i)});
  PutFonts(note_, Table({{5, 0, "Arial"}}));
  PutFonts(other_, Table(source));
  Connect();
  EXPECT_EQ(item_->MergeFontTables(other_), NOERROR);
  // 247 faces fit the item's table: Arial and 246 of the source's.
  EXPECT_EQ(item_->internal->face_count, 255);
  EXPECT_EQ(FacesOf(FontsOf(note_)).size(), 247u);
  EXPECT_EQ(state()->face_remap_count, 246);
  EXPECT_EQ(state()->face_remap_target[246], 0xFF);
}

}  // namespace
