// Paragraph-style strings: what the parser reads into the definitions,
// masks and criteria; matching, updating and comparing definitions; the
// two dump forms; and the round trip of random definitions through a dump
// and a parse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "chunk/paragraph_style.h"
#include "host/host_testing.h"
#include "store/tracked_memory.h"
#include "velko/velko.h"

namespace {

/* Everything one parse gives. */
struct parse_result {
  STATUS status = 0;
  _CDPABDEFEXT defs[2] = {};
  WORD set1 = 0, clear1 = 0, set2 = 0, clear2 = 0, set3 = 0, clear3 = 0;
  DWORD listSet[2] = {}, listClear[2] = {};
  int32_t shiftLeft = 0, shiftRight = 0, shiftLeftPercent = 0, shiftRightPercent = 0;
  int criteria[2][kCriteriaSlots] = {};

  const CDPABDEFINITION& D(int i = 0) const { return defs[i].Definition; }
  /* The slots of a row that are set, as a bit set. */
  DWORD Slots(int row = 0) const {
    DWORD slots = 0;
    for (int s = 0; s < kCriteriaSlots; ++s)
      slots |= criteria[row][s] != 0 ? DWORD{1} << s : 0;
    return slots;
  }
};

constexpr DWORD Slot(int s) { return DWORD{1} << s; }

/* A definition record of the given length with the defaults a new
 * paragraph has: margins 1in/0/1in, a 0.5in tab interval. */
_CDPABDEFEXT Definition(WORD length = kPabdefBaseLength) {
  _CDPABDEFEXT e = {};
  e.Definition.Header.Signature = 0xFF82;
  e.Definition.Header.Length = length;
  e.Definition.LeftMargin = 1440;
  e.Definition.FirstLineLeftMargin = 1440;
  e.Definition.Tab[0] = 720;
  return e;
}

class ParagraphStyleTest : public ::testing::Test {
protected:
  void SetUp() override { HostTestReset(); }

  parse_result Parse(const char* style, const char* selection = nullptr,
                     const std::function<void(parse_result&)>& before = {}) {
    parse_result r;
    if (before)
      before(r);
    r.status = item_.ParseParagraphString(style, selection, r.defs, &r.set1, &r.clear1, &r.set2,
                                          &r.clear2, &r.set3, &r.clear3, r.listSet, r.listClear,
                                          &r.shiftLeft, &r.shiftRight, &r.shiftLeftPercent,
                                          &r.shiftRightPercent, r.criteria);
    return r;
  }

  /* Updates the definition with the style string as the paragraph change
   * does (criteria row 0, the new-values entry). */
  void Update(_CDPABDEFEXT* target, parse_result& r, bool implied, bool force = false) {
    UpdateParagraph(target, &r.defs[0], r.set1, r.clear1, r.set2, r.clear2, r.set3, r.clear3,
                    r.listSet[0], r.listClear[0], r.shiftLeft, r.shiftRight, r.shiftLeftPercent,
                    r.shiftRightPercent, r.criteria[0], implied ? 1 : 0, force ? 1 : 0);
  }

  /* Whether the definition meets the selection string. */
  bool Matches(const char* selection, const _CDPABDEFEXT& existing) {
    parse_result r = Parse("", selection);
    return MatchParagraph(&existing, &r.defs[1], r.listSet[1], r.listClear[1], r.criteria[1]) != 0;
  }

  std::string Dump(const _CDPABDEFEXT& e, WORD mode, bool omit) {
    char out[VELKO_SCRATCH_TEXT_SIZE] = "";
    DumpParagraph(mode, &e, out, omit ? 1 : 0);
    return out;
  }

  LSXLsiSession session_;
  VelkoRTItem item_{&session_};
};

// ---- the parser ----

/* A field of a parse, by name. */
int64_t Field(const parse_result& r, const std::string& name) {
  const CDPABDEFINITION& d = r.D();
  const _CDPABDEFEXT& e = r.defs[0];
  // clang-format off
  const std::pair<const char*, int64_t> fields[] = {
      {"LeftMargin", d.LeftMargin}, {"RightMargin", d.RightMargin},
      {"FirstLine", d.FirstLineLeftMargin}, {"LeftOffset", e.LeftMarginOffset},
      {"LeftPercent", e.LeftMarginPercent}, {"FirstOffset", e.FirstLineLeftMarginOffset},
      {"FirstPercent", e.FirstLineLeftMarginPercent}, {"RightPercent", e.RightMarginPercent},
      {"Before", d.ParagraphSpacingBefore}, {"After", d.ParagraphSpacingAfter},
      {"Line", d.LineSpacing}, {"Justify", d.JustifyMode}, {"Tabs", d.Tabs},
      {"Tab0", d.Tab[0]}, {"Tab1", d.Tab[1]}, {"Tab2", d.Tab[2]}, {"Tab3", d.Tab[3]},
      {"TabTypes", d.TabTypes}, {"Flags", d.Flags}, {"Flags2", d.Flags2}, {"Flags3", e.Flags3},
      {"set1", r.set1}, {"clear1", r.clear1}, {"set2", r.set2}, {"clear2", r.clear2},
      {"set3", r.set3}, {"clear3", r.clear3}, {"listSet", r.listSet[0]},
      {"listClear", r.listClear[0]}, {"shiftLeft", r.shiftLeft},
      {"shiftRightPercent", r.shiftRightPercent}, {"slots", r.Slots()},
  };
  // clang-format on
  for (const auto& field : fields) {
    if (name == field.first)
      return field.second;
  }
  ADD_FAILURE() << "no field " << name;
  return -1;
}

/* A parse of one style string and the values of the fields it must give. */
struct parse_case {
  const char* style;
  std::vector<std::pair<std::string, int64_t>> fields;
};

TEST_F(ParagraphStyleTest, ParsesKeysAndWordsIntoFieldsMasksAndSlots) {
  const int64_t masks = Slot(kCritSetMask) | Slot(kCritClearMask);
  // clang-format off
  const parse_case cases[] = {
      {"LEFTMARGIN=1.5", {{"LeftMargin", 2160}, {"slots", Slot(kCritLeftMargin)}}},
      {"LEFTMARGIN=-0.25in", {{"LeftMargin", 0xFE98}}},
      // Clamped to 32 bits first; no leading number, and no exponent.
      {"RIGHTMARGIN=99999999999999999999 LEFTMARGINFIRST=nan TabInterval=1e3",
       {{"RightMargin", 0xFFFF}, {"FirstLine", 0}, {"Tab0", 1440}}},
      {"RightMarginPercent=0", {{"RightPercent", 100}, {"Flags2", 0x0080}, {"set2", 0x0080},
                                {"clear2", 0x0440}, {"slots", Slot(kCritRightExtension) | masks}}},
      {"FirstLineLeftMarginOffset=0.5 FirstLeftMarginPercent=20",
       {{"FirstOffset", 720}, {"FirstPercent", 0}, {"Flags2", 0x0010}, {"clear2", 0x0020}}},
      // A letter before the inner match: not the left offset.
      {"FirstLeftMarginOffset=1",
       {{"LeftOffset", 0}, {"FirstOffset", 1440}, {"slots", Slot(kCritFirstLineExtension) | masks}}},
      {"LEFTMARGINOFFSET=2 LEFTMARGINPERCENT=30%", {{"LeftOffset", 2880}, {"LeftPercent", 30},
                                {"Flags2", 0x0008}, {"set2", 0x000C}, {"clear2", 0x000C}}},
      {"Tabs='L0.5,R1.25;C2 D3.5'", {{"Tabs", 4}, {"Tab0", 720}, {"Tab1", 1800}, {"Tab2", 2880},
                                {"Tab3", 5040}, {"TabTypes", 0xB4}, {"slots", Slot(kCritTabs)}}},
      {"Tabs=L0.5,R1.25;C2 D3.5", {{"Tabs", 3}, {"TabTypes", 0x34}}},
      // An empty stop text counts and ends the list.
      {"Tabs=1,R", {{"Tabs", 2}, {"Tab1", 0}, {"TabTypes", 0x04}}},
      {"Tabs= Justify=Right", {{"Tabs", 0}, {"Tab0", 0}, {"Justify", 1}}},
      {"Above=1.5 Below= InterLine=double Justify=middle",
       {{"Before", 1}, {"After", 1}, {"Line", 2}, {"Justify", 0},
        {"slots", Slot(kCritSpacingBefore) | Slot(kCritSpacingAfter) | Slot(kCritLineSpacing) |
                  Slot(kCritJustify)}}},
      {"+HIDE_READ -HIDE_PRINT", {{"Flags", 0}, {"set1", 0x10}, {"clear1", 0x40}, {"slots", masks}}},
      {"HIDE_READ HIDE_PRINT", {{"Flags", 0x0050}, {"set1", 0}, {"slots", Slot(kCritFlags)}}},
      {"HIDE_PREVIEW_READ", {{"Flags", 0x2000}}},
      {"+BULLET NUMBERED_LIST", {{"listSet", kListNumbered}, {"slots", Slot(kCritListSet)}}},
      {"-BULLET +CHECKED_LIST +LIST_TYPE", {{"listSet", kListChecked | kListAny},
                                {"listClear", kListBullet},
                                {"slots", Slot(kCritListSet) | Slot(kCritListClear)}}},
      // Bare third-word flags only mark the slot.
      {"HIDE_EMBEDDED +HIDE_MOBILE -LAYER_USES_RM", {{"set3", 0x0002}, {"clear3", 0x0004},
                                {"Flags", 0}, {"Flags3", 0}, {"slots", Slot(kCritFlags) | masks}}},
      {"LM_PERCENT", {{"Flags2", 0x0008}, {"clear2", 0x0004},
                      {"slots", Slot(kCritFlags) | Slot(kCritClearMask)}}},
      {"TABLE_FLAGS HIDE_WEB +RTL", {{"Flags", 0x0006}, {"Flags2", 0x0001}, {"set2", 0x4000}}},
      {"HIDE_READ KEEP_TOGETHER no_flags", {{"Flags", 0}, {"slots", Slot(kCritFlags)}}},
      {"ShiftLeftOffset='-0.25in' ShiftRightPercent=7.9%", {{"shiftLeft", -360},
                                {"shiftRightPercent", 7},
                                {"slots", Slot(kCritShiftLeftOffset) | Slot(kCritShiftRightPercent)}}},
  };
  // clang-format on
  for (const parse_case& c : cases) {
    const parse_result r = Parse(c.style);
    ASSERT_EQ(r.status, NOERROR);
    for (const auto& [name, value] : c.fields)
      EXPECT_EQ(Field(r, name), value) << c.style << ": " << name;
  }
}

TEST_F(ParagraphStyleTest, TabListsEndAtTwentyStopsOrAnUnusableStop) {
  std::string many = "Tabs=";
  for (int k = 1; k <= 25; ++k) {
    many += 'R';
    many += std::to_string(k);
    many += ',';
  }
  const auto presetFirstStop = [](parse_result& r) { r.defs[0].Definition.Tab[0] = 99; };
  parse_result r = Parse(many.c_str());
  EXPECT_EQ(r.D().Tabs, 20);
  EXPECT_EQ(r.D().Tab[19], 20 * 1440);
  EXPECT_EQ(r.D().TabTypes, 0x55555555u);

  r = Parse("Tabs=x", nullptr, presetFirstStop);
  EXPECT_EQ(r.D().Tabs, 1);
  EXPECT_EQ(r.D().Tab[0], 99);
}

TEST_F(ParagraphStyleTest, BothStringsShareTheMasksButNotTheirEntries) {
  const auto callerValues = [](parse_result& r) {
    r.set1 = 0x0100;
    r.defs[1].Definition.LeftMargin = 77;
    r.shiftLeft = 5;
    for (auto& row : r.criteria)
      for (int& slot : row)
        slot = 1;
  };
  parse_result r = Parse("+HIDE_EDIT", "+HIDE_COPY -HIDE_NOTES ShiftLeftOffset=1", callerValues);
  EXPECT_EQ(r.set1, 0x0100 | 0x0020 | 0x0200);
  EXPECT_EQ(r.clear1, 0x8000);
  EXPECT_EQ(r.shiftLeft, 5) << "the selection string gives no shifts";
  EXPECT_EQ(r.Slots(1), Slot(kCritSetMask) | Slot(kCritClearMask));

  r = Parse("Justify=full", nullptr, callerValues);
  EXPECT_EQ(r.defs[1].Definition.LeftMargin, 77) << "no selection: entry 1 untouched";
  EXPECT_EQ(r.Slots(0), Slot(kCritJustify));
  EXPECT_EQ(r.Slots(1), 0u);

  r = Parse(nullptr, "HIDE_READ", callerValues);
  EXPECT_EQ(r.status, VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(r.criteria[0][0], 1) << "nothing written";
}

TEST_F(ParagraphStyleTest, TheEngineSeamParsesIntoATrackedBlock) {
  paragraph_spec* spec = nullptr;
  ASSERT_EQ(ParseParagraphString(&item_, "LEFTMARGIN=2 +HIDE_READ", "BULLET", &spec), NOERROR);
  ASSERT_NE(spec, nullptr);
  EXPECT_EQ(spec->entries[0].Definition.LeftMargin, 2880);
  EXPECT_EQ(spec->set_flags, 0x0010);
  EXPECT_EQ(spec->list_set[1], DWORD{kListBullet});
  EXPECT_EQ(spec->criteria[1][kCritListSet], 1);
  VelkoDeallocatePtr(&session_, spec);

  spec = reinterpret_cast<paragraph_spec*>(&session_);
  EXPECT_EQ(ParseParagraphString(&item_, nullptr, "BULLET", &spec), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(spec, nullptr);
}

// ---- matching ----

struct match_case {
  const char* selection;
  WORD flags;
  WORD flags2;
  bool matches;
};

TEST_F(ParagraphStyleTest, MatchesListKindsAndFlagWords) {
  const match_case cases[] = {
      {"+BULLET", 0x0400, 0x0000, true},
      {"+BULLET", 0x0400, 0x0002, false}, // a checked list
      {"UPPER_ROMAN_LIST", 0x1000, 0x0802, true},
      {"UPPER_ROMAN_LIST", 0x1000, 0x1802, false},
      {"+LIST_TYPE", 0x1000, 0x1802, true},
      {"-LIST_TYPE", 0x0000, 0x0000, true},
      {"-LIST_TYPE", 0x1000, 0x0000, false},
      {"-BULLET", 0x0400, 0x2000, true}, // an unchecked list is no plain bullet
      {"HIDE_WEB", 0x0000, 0x4001, true},
      {"HIDE_WEB", 0x0010, 0x0001, false}, // Flags compared whole
      {"+HIDE_READ", 0x0000, 0x0000, true}, // a mask names no criterion
  };
  for (const match_case& c : cases) {
    _CDPABDEFEXT existing = Definition();
    existing.Definition.Flags = c.flags;
    existing.Definition.Flags2 = c.flags2;
    EXPECT_EQ(Matches(c.selection, existing), c.matches)
        << c.selection << " flags " << c.flags << " flags2 " << c.flags2;
  }
}

TEST_F(ParagraphStyleTest, MatchesMarginsTabsAndExtensionsOfShortRecords) {
  _CDPABDEFEXT e = Definition();
  e.Definition.Tabs = 2;
  e.Definition.Tab[1] = 2880;
  e.Definition.Tab[0] = 1440;
  e.Definition.TabTypes = 0x4;
  EXPECT_TRUE(Matches("LEFTMARGIN=1 LEFTMARGINFIRST=1 Tabs=1,R2", e));
  EXPECT_FALSE(Matches("Tabs=1,2", e));
  EXPECT_FALSE(Matches("TabInterval=1", e)) << "explicit stops are no interval";
  EXPECT_FALSE(Matches("RIGHTMARGIN=1", e));

  // Extension words past a 70-byte record's length read as 0.
  e.Definition.Flags2 = 0x0004;
  e.LeftMarginOffset = 720;
  EXPECT_FALSE(Matches("LEFTMARGINOFFSET=0.5", e));
  e.Definition.Header.Length = kPabdefExtendedLength;
  EXPECT_TRUE(Matches("LEFTMARGINOFFSET=0.5", e));
  EXPECT_FALSE(Matches("LEFTMARGINPERCENT=50", e));

  // A stop count past the array is read as 20 (no read beyond the record).
  e.Definition.Tabs = 300;
  EXPECT_FALSE(Matches("Tabs=1,R2", e));
}

TEST_F(ParagraphStyleTest, MatchesRightAndFirstLineExtensionsSpacingAndStopPositions) {
  _CDPABDEFEXT e = Definition(kPabdefExtendedLength);
  e.Definition.Flags2 = 0x0040 | 0x0020;
  e.RightMarginOffset = 720;
  e.FirstLineLeftMarginPercent = 20;
  e.Definition.ParagraphSpacingBefore = 1;
  e.Definition.Tabs = 2;
  e.Definition.Tab[0] = 1440;
  e.Definition.Tab[1] = 2880;
  const std::pair<const char*, bool> cases[] = {
      {"RightMarginOffset=0.5", true},
      {"RightMarginOffset=1", false},
      {"RightMarginPercent=50", false}, // the other kind of right margin
      {"FirstLeftMarginPercent=20", true},
      {"FirstLeftMarginPercent=25", false},
      {"FirstLeftMarginOffset=1", false},
      {"Above=1.5 Below=single", true},
      {"Above=double", false},
      {"Tabs=1,3", false}, // same count and kinds, another position
  };
  for (const auto& [selection, matches] : cases)
    EXPECT_EQ(Matches(selection, e), matches) << selection;
}

// ---- updating ----

TEST_F(ParagraphStyleTest, ImpliedListIndentMovesMarginsAndFlags) {
  _CDPABDEFEXT e = Definition();
  e.Definition.Flags2 = 0x0300; // the left and first-line defaults
  parse_result r = Parse("+NUMBERED_LIST");
  Update(&e, r, true);
  EXPECT_EQ(e.Definition.Flags, 0x1100);
  EXPECT_EQ(e.Definition.LeftMargin, 1800);
  EXPECT_EQ(e.Definition.FirstLineLeftMargin, 1800);
  EXPECT_EQ(e.Definition.Flags2, 0x0480) << "defaults cleared, right margin default given";
  EXPECT_EQ(e.RightMarginPercent, 100);
  EXPECT_EQ(e.Definition.Header.Length, kPabdefExtendedLength);
  EXPECT_EQ(r.criteria[0][kCritShiftLeftOffset], 0) << "restored for the next definition";

  r = Parse("-NUMBERED_LIST");
  Update(&e, r, true);
  EXPECT_EQ(e.Definition.Flags & 0x1400, 0);
  EXPECT_EQ(e.Definition.LeftMargin, 1440);
  EXPECT_EQ(e.Definition.FirstLineLeftMargin, 1440);

  e = Definition();
  r = Parse("+NUMBERED_LIST");
  Update(&e, r, false);
  EXPECT_EQ(e.Definition.Flags, 0x1100);
  EXPECT_EQ(e.Definition.LeftMargin, 1440) << "no indent without implied properties";
  EXPECT_EQ(e.Definition.Header.Length, kPabdefBaseLength);
}

TEST_F(ParagraphStyleTest, ImpliedLeftMarginGivesOffsetsToEveryDefinition) {
  parse_result r = Parse("LEFTMARGIN=1");
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass);
    _CDPABDEFEXT e = Definition();
    e.Definition.LeftMargin = 100;
    e.Definition.Flags2 = 0x0300 | 0x0008 | 0x0020;
    Update(&e, r, true);
    EXPECT_EQ(e.Definition.LeftMargin, 1440);
    EXPECT_EQ(e.Definition.FirstLineLeftMargin, 1440);
    EXPECT_EQ(e.LeftMarginOffset, 1440);
    EXPECT_EQ(e.FirstLineLeftMarginOffset, 1440);
    EXPECT_EQ(e.Definition.Flags2, 0x0014 | 0x0480);
    EXPECT_EQ(e.Definition.Flags, 0x0100);
    EXPECT_EQ(e.Definition.Header.Length, kPabdefExtendedLength);
  }
  EXPECT_EQ(r.criteria[0][kCritLeftExtension], 1) << "the implied offset stays named";
}

/* The margins of a definition after an update. */
struct margins {
  WORD left, firstLine, leftOffset, leftPercent, firstOffset, firstPercent, flags2;
};

margins MarginsOf(const _CDPABDEFEXT& e) {
  return {e.Definition.LeftMargin,  e.Definition.FirstLineLeftMargin, e.LeftMarginOffset,
          e.LeftMarginPercent,      e.FirstLineLeftMarginOffset,      e.FirstLineLeftMarginPercent,
          e.Definition.Flags2};
}

void ExpectMargins(const margins& got, const margins& want) {
  EXPECT_EQ(got.left, want.left);
  EXPECT_EQ(got.firstLine, want.firstLine);
  EXPECT_EQ(got.leftOffset, want.leftOffset);
  EXPECT_EQ(got.leftPercent, want.leftPercent);
  EXPECT_EQ(got.firstOffset, want.firstOffset);
  EXPECT_EQ(got.firstPercent, want.firstPercent);
  EXPECT_EQ(got.flags2, want.flags2);
}

TEST_F(ParagraphStyleTest, ImpliedFirstLineAndLeftExtensionsGiveTheOtherMargins) {
  // From a 70-byte definition with the left and first-line default bits;
  // every one also takes the default right margin (0x0480).
  const struct {
    const char* style;
    margins want;
  } cases[] = {
      // The first line names the left margin too, as an offset of its own.
      {"LEFTMARGINFIRST=0.5", {720, 720, 0, 0, 720, 0, 0x0590}},
      {"LEFTMARGINOFFSET=0.5", {720, 720, 720, 0, 720, 0, 0x0494}},
      // A percentage is taken of 12024 twips for the plain margins.
      {"LEFTMARGINPERCENT=50", {6012, 6012, 0, 50, 0, 50, 0x04A8}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.style);
    _CDPABDEFEXT e = Definition();
    e.Definition.Flags2 = 0x0300;
    parse_result r = Parse(c.style);
    Update(&e, r, true);
    ExpectMargins(MarginsOf(e), c.want);
    EXPECT_EQ(e.Definition.Header.Length, kPabdefExtendedLength);
    EXPECT_EQ(r.criteria[0][kCritFirstLineExtension], 1) << "the first line stays named";
  }
}

TEST_F(ParagraphStyleTest, ImpliedRightMarginBecomesAnOffsetOrTheFullPercentage) {
  const struct {
    const char* style;
    WORD flags2, offset, percent;
  } cases[] = {
      {"RIGHTMARGIN=0", 0x0080, 0, 100},
      {"RIGHTMARGIN=2", 0x0040, 2880, 90}, // the percentage word is left
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.style);
    _CDPABDEFEXT e = Definition(kPabdefExtendedLength);
    e.Definition.RightMargin = 99;
    e.Definition.Flags2 = 0x0080;
    e.RightMarginPercent = 90;
    parse_result r = Parse(c.style);
    Update(&e, r, true);
    EXPECT_EQ(e.Definition.RightMargin, c.offset);
    EXPECT_EQ(e.Definition.Flags2, c.flags2);
    EXPECT_EQ(e.RightMarginOffset, c.offset);
    EXPECT_EQ(e.RightMarginPercent, c.percent);
    EXPECT_EQ(r.criteria[0][kCritRightExtension], 1);
  }
}

TEST_F(ParagraphStyleTest, ShiftsMoveOffsetsAndPercentagesFromTheirDefaults) {
  _CDPABDEFEXT e = Definition(kPabdefExtendedLength);
  CDPABDEFINITION& d = e.Definition;
  d.Flags2 = 0x0300 | 0x003C | 0x00C0;
  d.RightMargin = 720;
  e.LeftMarginPercent = 10;
  e.FirstLineLeftMarginOffset = 500;
  e.RightMarginOffset = 720;
  e.RightMarginPercent = 90;
  parse_result r = Parse("ShiftLeftOffset=0.25 ShiftLeftPercent=2 ShiftRightOffset=0.25 "
                         "ShiftRightPercent=5");
  Update(&e, r, false);
  // A word at 0 starts from its default (1440 twips, 12 percent) and the
  // margin's default bit goes.
  ExpectMargins(MarginsOf(e), {1800, 1800, 1800, 12, 860, 14, 0x00FC});
  EXPECT_EQ(d.RightMargin, 1080);
  EXPECT_EQ(e.RightMarginOffset, 1080);
  EXPECT_EQ(e.RightMarginPercent, 95);
  EXPECT_EQ(d.Header.Length, kPabdefExtendedLength);
}

TEST_F(ParagraphStyleTest, AnyListWordSetsABulletAndClearsEveryList) {
  const struct {
    const char* style;
    WORD flags, flags2, wantFlags, wantFlags2;
  } cases[] = {
      {"+LIST_TYPE", 0x0000, 0x0000, 0x0500, 0x0000},
      {"+LIST_TYPE", 0x0400, 0x0002, 0x0500, 0x0002}, // a checked list stays one
      {"+LIST_TYPE", 0x1000, 0x1802, 0x1500, 0x1802}, // nothing cleared first
      {"-LIST_TYPE", 0x1000, 0x1802, 0x0100, 0x0000},
      {"-LIST_TYPE", 0x0400, 0x2000, 0x0100, 0x0000},
  };
  for (const auto& c : cases) {
    _CDPABDEFEXT e = Definition();
    e.Definition.Flags = c.flags;
    e.Definition.Flags2 = c.flags2;
    parse_result r = Parse(c.style);
    Update(&e, r, false);
    EXPECT_EQ(e.Definition.Flags, c.wantFlags) << c.style << " " << c.flags;
    EXPECT_EQ(e.Definition.Flags2, c.wantFlags2) << c.style << " " << c.flags;
  }
}

TEST_F(ParagraphStyleTest, LengthGrowsToTheFormItsFieldsNeed) {
  _CDPABDEFEXT e = Definition();
  parse_result r = Parse("LEFTMARGINOFFSET=0.5");
  Update(&e, r, false);
  EXPECT_EQ(e.Definition.Header.Length, kPabdefExtendedLength);
  EXPECT_EQ(e.LeftMarginOffset, 720);
  EXPECT_EQ(e.Definition.Flags2, 0x0004);

  r = Parse("+HIDE_MOBILE");
  Update(&e, r, false);
  EXPECT_EQ(e.Definition.Header.Length, kPabdefFullLength);
  EXPECT_EQ(e.ExtFlags, 1u);
  EXPECT_EQ(e.Flags3, 0x0002u);
  EXPECT_EQ(e.Definition.Flags2, 0x8004);

  r = Parse("-HIDE_MOBILE");
  Update(&e, r, false);
  EXPECT_EQ(e.Definition.Header.Length, kPabdefFullLength) << "a full record stays full";
  EXPECT_EQ(e.Flags3, 0u);
  EXPECT_EQ(e.ExtFlags, 1u);
  EXPECT_EQ(e.Definition.Flags2, 0x8004);

  r = Parse("Justify=center");
  _CDPABDEFEXT forced = Definition();
  Update(&forced, r, false, true);
  EXPECT_EQ(forced.Definition.Header.Length, kPabdefFullLength);
  EXPECT_EQ(forced.Flags3, 0x0004u);
  EXPECT_EQ(forced.Definition.JustifyMode, 3);
}

TEST_F(ParagraphStyleTest, BareFlagWordsKeepTheUpdateMarkAndTheFullForm) {
  _CDPABDEFEXT e = Definition(kPabdefFullLength);
  e.Definition.Flags = 0x0040;
  e.Definition.Flags2 = 0x8000;
  e.ExtFlags = 1;
  e.Flags3 = 1;
  parse_result r = Parse("HIDE_READ HIDE_WEB");
  Update(&e, r, false);
  EXPECT_EQ(e.Definition.Flags, 0x0110);
  EXPECT_EQ(e.Definition.Flags2, 0x8001);
  EXPECT_EQ(e.Definition.Header.Length, kPabdefFullLength);

  r = Parse("NO_FLAGS");
  Update(&e, r, false);
  EXPECT_EQ(e.Definition.Flags, 0x0100);
}

TEST_F(ParagraphStyleTest, UpdateCopiesSpacingTabsAndSetsListKinds) {
  _CDPABDEFEXT e = Definition();
  e.Definition.Flags = 0x0400;
  e.Definition.Flags2 = 0x0002;
  e.Definition.Tab[5] = 1234;
  parse_result r =
      Parse("Above=double InterLine=single Tabs='C1;D2' LOWER_ROMAN_LIST +KEEP_TOGETHER");
  Update(&e, r, false);
  const CDPABDEFINITION& d = e.Definition;
  EXPECT_EQ(d.ParagraphSpacingBefore, 2);
  EXPECT_EQ(d.LineSpacing, 0);
  EXPECT_EQ(d.Tabs, 2);
  EXPECT_EQ(d.Tab[1], 2880);
  EXPECT_EQ(d.Tab[5], 1234) << "slots past the stops are left";
  EXPECT_EQ(d.TabTypes, 0xBu);
  EXPECT_EQ(d.Flags, 0x1000 | 0x0100 | 0x0004);
  EXPECT_EQ(d.Flags2, 0x1002);
}

// ---- comparing ----

TEST_F(ParagraphStyleTest, ComparesStylesNotIdsLengthsOrUnusedStops) {
  _CDPABDEFEXT a = Definition();
  _CDPABDEFEXT b = Definition(kPabdefExtendedLength);
  a.Definition.PABID = 3;
  b.Definition.PABID = 9;
  a.Definition.Tabs = b.Definition.Tabs = 1;
  a.Definition.Tab[0] = b.Definition.Tab[0] = 1440;
  a.Definition.Tab[4] = 77;
  a.LeftMarginOffset = 500; // past a's length
  EXPECT_EQ(CompareParagraphs(&session_, &a, &b, 0), 1);
  EXPECT_EQ(CompareParagraphs(&session_, &a, &b, 1), 0);

  a.Definition.Tabs = b.Definition.Tabs = 0;
  a.Definition.Tab[0] = 720;
  b.Definition.Tab[0] = 1440;
  b.Definition.Header.Length = kPabdefBaseLength;
  EXPECT_EQ(CompareParagraphs(&session_, &a, &b, 1), 0) << "the interval is compared";
  b.Definition.Tab[0] = 720;
  EXPECT_EQ(CompareParagraphs(&session_, &a, &b, 1), 1);

  a.Definition.Tabs = b.Definition.Tabs = 500; // read as 20: every stop counts
  EXPECT_EQ(CompareParagraphs(&session_, &a, &b, 1), 0);
  b.Definition.Tab[4] = 77;
  EXPECT_EQ(CompareParagraphs(&session_, &a, &b, 1), 1);
  b.Definition.Flags = 0x0010;
  EXPECT_EQ(CompareParagraphs(&session_, &a, &b, 1), 0);
}

// ---- dumping ----

TEST_F(ParagraphStyleTest, DumpsBothForms) {
  EXPECT_EQ(Dump(Definition(), 0, true), "NO_FLAGS");
  EXPECT_EQ(Dump(Definition(), 0, false),
            "LeftMargin=\"1.00\" RightMargin=\"0.00\" LeftMarginFirst=\"1.00\" Above=\"SINGLE\" "
            "Below=\"SINGLE\" InterLine=\"SINGLE\" TabInterval=\"0.50\" Justify=\"LEFT\" NO_FLAGS");

  _CDPABDEFEXT e = Definition(kPabdefFullLength);
  CDPABDEFINITION& d = e.Definition;
  d.Flags2 = 0x0004 | 0x0080 | 0x0020 | 0x4000 | 0x0001 | 0x0800 | 0x1000;
  e.LeftMarginOffset = 1800;
  e.RightMarginPercent = 90;
  e.FirstLineLeftMarginPercent = 5;
  d.ParagraphSpacingAfter = 2;
  d.LineSpacing = 1;
  d.Tabs = 2;
  d.Tab[0] = 360;
  d.Tab[1] = 2160;
  d.TabTypes = 0x0D;
  d.JustifyMode = 7;
  d.Flags = 0x0001 | 0x0800 | 0x1000 | 0x8000;
  e.Flags3 = 0x0006;
  EXPECT_EQ(Dump(e, 0, true),
            "LeftMarginOffset=\"1.25\" RightMarginPercent=\"90%\" FirstLeftMarginPercent=\"5%\" "
            "Below=\"DOUBLE\" InterLine=\"1.5\" Tabs=\"R0.25;C1.50\" Justify=\"NONE\" "
            "PAGINATE_BEFORE HIDE_IF Upper_Alpha_List HIDE_NOTES HIDE_WEB RTL +HIDE_MOBILE "
            "+LAYER_USES_RM");
  EXPECT_EQ(Dump(e, 1, true),
            " leftmargin='1.25in' rightmargin=' 90%' firstlineleftmargin='  5%' "
            "spaceafter='2' linespacing='1.5'Tabs=R0.250000in C1.500000in Justify=NONE "
            "PAGINATE_BEFORE HIDE_IF Upper_Alpha_List HIDE_NOTES HIDE_WEB");

  // The attribute text of the other margin kinds.
  _CDPABDEFEXT kinds = Definition(kPabdefExtendedLength);
  kinds.Definition.Flags2 = 0x0008 | 0x0040 | 0x0010;
  kinds.LeftMarginPercent = 25;
  kinds.RightMarginOffset = 720;
  kinds.FirstLineLeftMarginOffset = 1800;
  EXPECT_EQ(Dump(kinds, 1, false),
            " leftmargin= 25% rightmargin='0.50in' firstlineleftmargin='1.25in'TabInterval=0.50 "
            "Justify=LEFT NO_FLAGS");

  // Right-to-left and the third flags word are written beside NO_FLAGS.
  _CDPABDEFEXT plain = Definition(kPabdefFullLength);
  plain.Definition.Flags2 = 0x4000;
  plain.Flags3 = 0x0001;
  EXPECT_EQ(Dump(plain, 0, true), "NO_FLAGS RTL +HIDE_EMBEDDED");

  // A record's stop count past 20 writes 20 stops.
  _CDPABDEFEXT many = Definition();
  many.Definition.Tabs = 999;
  const std::string text = Dump(many, 0, true);
  EXPECT_EQ(std::count(text.begin(), text.end(), ';'), 19) << text;
}

// ---- the round trip ----

struct random_definition {
  _CDPABDEFEXT e;
  DWORD listKind; /* 0 or one list-kind bit */
};

constexpr WORD kKindFlags[][2] = {
    {0x0400, 0x0000}, {0x1000, 0x0000}, {0x0400, 0x0002}, {0x0400, 0x0800}, {0x0400, 0x1000},
    {0x0400, 0x2000}, {0x1000, 0x1802}, {0x1000, 0x1002}, {0x1000, 0x1800}, {0x1000, 0x0802},
};

random_definition RandomDefinition(std::mt19937& random) {
  auto below = [&random](int n) { return static_cast<WORD>(random() % n); };
  random_definition r = {Definition(kPabdefFullLength), 0};
  CDPABDEFINITION& d = r.e.Definition;
  // Each margin plain, as an offset (not 0, or it is written plain) or as
  // a percentage (a right one not 0, or it is written plain).
  auto margin = [&](WORD* plain, WORD offsetBit, WORD* offset, WORD* percent, int firstPercent) {
    *plain = below(40000);
    const int kind = below(3);
    if (kind == 1)
      *offset = static_cast<WORD>(1 + below(40000));
    if (kind == 2)
      *percent = static_cast<WORD>(firstPercent + below(101 - firstPercent));
    if (kind != 0)
      d.Flags2 |= static_cast<WORD>(kind == 1 ? offsetBit : offsetBit << 1);
  };
  margin(&d.LeftMargin, 0x0004, &r.e.LeftMarginOffset, &r.e.LeftMarginPercent, 0);
  margin(&d.RightMargin, 0x0040, &r.e.RightMarginOffset, &r.e.RightMarginPercent, 1);
  margin(&d.FirstLineLeftMargin, 0x0010, &r.e.FirstLineLeftMarginOffset,
         &r.e.FirstLineLeftMarginPercent, 0);
  d.ParagraphSpacingBefore = below(3);
  d.ParagraphSpacingAfter = below(3);
  d.LineSpacing = below(3);
  d.JustifyMode = below(5);
  d.Tabs = below(3) == 0 ? 0 : static_cast<WORD>(1 + below(20));
  d.Tab[0] = static_cast<int16_t>(below(20000));
  for (int k = 0; k < d.Tabs; ++k) {
    d.Tab[k] = static_cast<int16_t>(below(30000));
    if (k < 16) // the type word holds 16 stops
      d.TabTypes |= static_cast<DWORD>(below(4)) << (2 * k);
  }
  d.Flags = static_cast<WORD>(random() & 0xEBFF & ~0x0100); // no list bits, no update mark
  d.Flags2 |= static_cast<WORD>(random() & 0x4001);
  if (below(3) != 0) {
    const int kind = below(10);
    r.listKind = DWORD{2} << kind;
    d.Flags |= kKindFlags[kind][0];
    d.Flags2 |= kKindFlags[kind][1];
  }
  r.e.Flags3 = below(8);
  return r;
}

/* Twips read back from a dump of two decimals: within 0.01 inch. */
void ExpectSameInches(int parsed, int original, const char* what) {
  EXPECT_LE(std::abs(parsed - original), 15) << what << ": " << parsed << " vs " << original;
}

TEST_F(ParagraphStyleTest, ParsingAStyleDumpNamesTheSameDefinition) {
  std::mt19937 random(20261207);
  for (int round = 0; round < 400; ++round) {
    const random_definition original = RandomDefinition(random);
    const std::string text = Dump(original.e, 0, false);
    SCOPED_TRACE(text);
    const parse_result r = Parse(text.c_str());
    ASSERT_EQ(r.status, NOERROR);
    const CDPABDEFINITION& o = original.e.Definition;
    const CDPABDEFINITION& p = r.D();
    const _CDPABDEFEXT& pe = r.defs[0];

    // Each margin in the form its kind bits (offset, then percentage) name.
    const auto margin = [&](WORD offsetBit, auto field, auto offset, auto percent,
                            const char* what) {
      if ((o.Flags2 & offsetBit) != 0)
        ExpectSameInches(pe.*offset, original.e.*offset, what);
      else if ((o.Flags2 & (offsetBit << 1)) != 0)
        EXPECT_EQ(pe.*percent, original.e.*percent) << what;
      else
        ExpectSameInches(p.*field, o.*field, what);
    };
    using D = CDPABDEFINITION;
    using E = _CDPABDEFEXT;
    margin(0x0004, &D::LeftMargin, &E::LeftMarginOffset, &E::LeftMarginPercent, "left");
    margin(0x0040, &D::RightMargin, &E::RightMarginOffset, &E::RightMarginPercent, "right");
    margin(0x0010, &D::FirstLineLeftMargin, &E::FirstLineLeftMarginOffset,
           &E::FirstLineLeftMarginPercent, "first line");
    EXPECT_EQ(p.Flags2 & 0x00FC, o.Flags2 & 0x00FC) << "margin kinds";

    EXPECT_EQ(p.ParagraphSpacingBefore, o.ParagraphSpacingBefore);
    EXPECT_EQ(p.ParagraphSpacingAfter, o.ParagraphSpacingAfter);
    EXPECT_EQ(p.LineSpacing, o.LineSpacing);
    EXPECT_EQ(p.JustifyMode, o.JustifyMode);
    EXPECT_EQ(p.Tabs, o.Tabs);
    if (o.Tabs == 0) {
      ExpectSameInches(p.Tab[0], o.Tab[0] == 0 ? 720 : o.Tab[0], "interval");
    } else {
      EXPECT_EQ(p.TabTypes, o.TabTypes);
      for (int k = 0; k < o.Tabs; ++k)
        ExpectSameInches(p.Tab[k], o.Tab[k], "stop");
    }
    EXPECT_EQ(p.Flags, o.Flags & ~0x1400) << "flag words";
    EXPECT_EQ(p.Flags2 & 0x4001, o.Flags2 & 0x4001) << "web and right-to-left";
    EXPECT_EQ(r.set3, original.e.Flags3);
    EXPECT_EQ(r.listSet[0], original.listKind);
  }
}

} // namespace
