// Stepping to the next target through an item's stored values: the kind
// each beginning record reports (links, tables, layers, graphics, text,
// fields, the hotspot family by type and flags), the record numbers over
// several stored items, bounded and open stepping, and the answers of an
// item that is missing, not rich text or damaged.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "cdbuild/cd_builder.h"
#include "engine/find.h"
#include "store/vocabulary.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;

/* A record of the signature long enough for any fixed part. */
Bytes Long(WORD signature) {
  const bool byteLength = (signature & 0xFF00) == 0 && !IsLongSignature(signature);
  return cdbuild::Sized(signature, byteLength ? 200 : 400);
}

struct target_row {
  const char* name;
  Bytes record;
  WORD type; /* 0: the record begins nothing */
};

std::ostream& operator<<(std::ostream& out, const target_row& row) { return out << row.name; }

std::vector<target_row> Rows() {
  const WORD v4 = SIG_CD_V4HOTSPOTBEGIN;
  const WORD old = SIG_CD_HOTSPOTBEGIN;
  return {
      {"Link", cdbuild::Link(3), TARGETTYPE_DOCLINK},
      {"DocLink", cdbuild::DocLink(Bytes(40, 1)), TARGETTYPE_DOCLINK},
      {"TableBegin", TableBegin(), TARGETTYPE_TABLE},
      {"Layer", Long(SIG_CD_LAYER), TARGETTYPE_LAYER},
      {"Graphic", Long(SIG_CD_GRAPHIC), TARGETTYPE_GRAPHIC},
      {"Text", Text("a"), TARGETTYPE_TEXT},
      {"Layout", Long(SIG_CD_LAYOUT), TARGETTYPE_LAYOUTREGION},
      {"Field", Long(SIG_CD_FIELD), TARGETTYPE_FIELD},
      {"ExtField", Long(SIG_CD_EXTFIELD), TARGETTYPE_FIELD},
      {"Ext2Field", Long(SIG_CD_EXT2FIELD), TARGETTYPE_FIELD},
      {"OleBegin", Long(SIG_CD_OLEBEGIN), TARGETTYPE_OLEOBJECT},
      {"Anchor", Long(SIG_CD_ANCHOR), TARGETTYPE_ANCHOR},
      {"HorizontalRule", Long(SIG_CD_HRULE), TARGETTYPE_HR},
      {"Event", Long(SIG_CD_EVENT), TARGETTYPE_EVENT},
      {"Popup", HotspotBegin(v4, 1), TARGETTYPE_POPUP},
      {"PopupOldBegin", HotspotBegin(old, 22), TARGETTYPE_POPUP},
      {"PlainAction", HotspotBegin(v4, 2), TARGETTYPE_HOTSPOT},
      {"FormulaAction", HotspotBegin(v4, 2, 0x10), TARGETTYPE_ACTIONHOTSPOT},
      {"Button", HotspotBegin(old, 3), TARGETTYPE_BUTTON},
      {"File", HotspotBegin(v4, 4), TARGETTYPE_FILE},
      {"Section7", HotspotBegin(v4, 7), TARGETTYPE_SECTION},
      {"Section12", HotspotBegin(old, 12), TARGETTYPE_SECTION},
      {"Section13", HotspotBegin(v4, 13), TARGETTYPE_SECTION},
      {"Hyperlink", HotspotBegin(v4, 11), TARGETTYPE_HYPERLINK},
      {"UrlLink", HotspotBegin(v4, 11, 0x1000), TARGETTYPE_URLLINK},
      {"Subform", HotspotBegin(v4, 14), TARGETTYPE_SUBFORM},
      {"OtherHotspotType", HotspotBegin(old, 9), TARGETTYPE_HOTSPOT},
      {"EmptyText", Text(""), 0},
      {"TableCell", Cell(0, 0), 0},
      {"NestedTableBegin", TableBegin(true), 0},
      {"PreTableBegin", cdbuild::PreTableBegin(), 0},
      {"ResourceLinkBegin", HotspotBegin(SIG_CD_RESOURCELINKBEGIN, 3), 0},
      {"ParagraphDefinition", PabDef(1), 0},
  };
}

class FindNextTargetTest : public EngineTest {
protected:
  /* FindNextTarget on an "Everything" chunk with the found words set to a
   * mark first; the type and the two words. */
  std::pair<WORD, std::pair<DWORD, DWORD>> Step(int bounded, DWORD low, DWORD high) {
    if (chunk_ == nullptr)
      chunk_ = Chunk("Everything");
    session_->internal->found_first = kMark;
    session_->internal->found_second = kMark;
    const WORD type = FindNextTarget(chunk_, bounded, low, high);
    return {type, {session_->internal->found_first, session_->internal->found_second}};
  }

  using Answer = std::pair<WORD, std::pair<DWORD, DWORD>>;
  static constexpr DWORD kMark = 0xABCD;
  VelkoRTChunk* chunk_ = nullptr;
};

class TargetKindTest : public FindNextTargetTest,
                       public ::testing::WithParamInterface<target_row> {};

TEST_P(TargetKindTest, ReportsTheKindOfTheFirstRecordAfterTheStart) {
  const target_row& row = GetParam();
  ASSERT_FALSE(row.record.empty());
  AppendItem({Paragraph(), PabRef(1), row.record, Paragraph()});
  Connect();
  // A found target is numbered 3; without one the count of 4 records is
  // left. The start is record 2, after record 1.
  const Answer expected = row.type != 0 ? Answer{row.type, {3, 2}} : Answer{0, {4, 2}};
  EXPECT_EQ(Step(0, 0, 1), expected);
  // Started past it, nothing is found.
  EXPECT_EQ(Step(0, 0, 3), (Answer{0, {4, 4}}));
}

INSTANTIATE_TEST_SUITE_P(EveryKind, TargetKindTest, ::testing::ValuesIn(Rows()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FindNextTargetTest, NumbersRecordsOverEveryStoredItem) {
  AppendItem({Text("a")});
  AppendItem({TableBegin(), Cell(0, 0), Text("b"), TableEnd()});
  Connect();
  EXPECT_EQ(Step(0, 0, 0), (Answer{TARGETTYPE_TEXT, {1, 1}}));
  EXPECT_EQ(Step(0, 0, 1), (Answer{TARGETTYPE_TABLE, {2, 2}}));
  EXPECT_EQ(Step(0, 0, 2), (Answer{TARGETTYPE_TEXT, {4, 3}}));
  // After the last target: 0, with the count of all five records.
  EXPECT_EQ(Step(0, 0, 4), (Answer{0, {5, 5}}));
  EXPECT_EQ(Step(0, 0, 9), (Answer{0, {5, 10}}));
}

TEST_F(FindNextTargetTest, BoundedSteppingLooksStrictlyBetweenTheBounds) {
  AppendItem({Paragraph(), Text("a"), Paragraph(), Text("b")});
  Connect();
  EXPECT_EQ(Step(1, 0, 0), (Answer{TARGETTYPE_TEXT, {2, 1}})); // high 0: no upper bound
  EXPECT_EQ(Step(1, 2, 0), (Answer{TARGETTYPE_TEXT, {4, 3}}));
  EXPECT_EQ(Step(1, 2, 4), (Answer{0, {4, 3}}));   // record 4 is the bound itself
  EXPECT_EQ(Step(1, 0, 1), (Answer{0, {4, 1}}));   // nothing lies between 0 and 1
  EXPECT_EQ(Step(1, 1, 3), (Answer{TARGETTYPE_TEXT, {2, 2}}));
}

TEST_F(FindNextTargetTest, AnItemThatCannotBeReadLeavesTheFoundWords) {
  const Answer untouched{0, {kMark, kMark}};
  AppendItem({Text("a")});
  Connect();
  ASSERT_EQ(NSFItemDelete(note_, "Body", 4), NOERROR);
  EXPECT_EQ(Step(0, 0, 0), untouched) << "no item";

  ASSERT_EQ(NSFItemSetText(note_, "Body", "text", 4), NOERROR);
  EXPECT_EQ(Step(0, 0, 0), untouched) << "a text item";
  ASSERT_EQ(NSFItemDelete(note_, "Body", 4), NOERROR);

  AppendItem({Paragraph(), cdbuild::WithHeaderLength(Text("ab"), 200)});
  EXPECT_EQ(Step(0, 0, 0), untouched) << "a record running past its value";
}

} // namespace
