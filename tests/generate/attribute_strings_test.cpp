// Attribute strings of records: property strings applied to a table's,
// a rule's, a border's and an HTML id's records and read back through the
// attribute writers; the writers' guard against a key written twice into
// one answer; the texts of layers, graphics and image maps; and the room
// of the answer text and of the records.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "generate/attribute_strings.h"
#include "generate/attribute_text.h"
#include "host/host_testing.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/session.h"

namespace {

using Bytes = std::vector<BYTE>;

/* A zeroed record of `length` bytes in a buffer of `capacity`, with its
 * header (a word signature for 0xFFnn, a byte one otherwise). */
Bytes Blank(WORD signature, WORD length, size_t capacity = 0) {
  Bytes record(capacity > length ? capacity : length, 0);
  if ((signature & 0xFF00) == 0xFF00) {
    std::memcpy(record.data(), &signature, 2);
    std::memcpy(record.data() + 2, &length, 2);
  } else {
    record[0] = static_cast<BYTE>(signature);
    record[1] = static_cast<BYTE>(length);
  }
  return record;
}

template <typename T> void Put(Bytes& record, size_t offset, T value) {
  std::memcpy(record.data() + offset, &value, sizeof value);
}
template <typename T> T Get(const Bytes& record, size_t offset) {
  T value;
  std::memcpy(&value, record.data() + offset, sizeof value);
  return value;
}
/* The words at the offsets, in order. */
std::vector<WORD> Words(const Bytes& record, std::initializer_list<size_t> offsets) {
  std::vector<WORD> words;
  for (size_t offset : offsets)
    words.push_back(Get<WORD>(record, offset));
  return words;
}

/* The text of one answer with its written flags. */
struct answer {
  char buffer[kSessionTextCapacity + 1] = "";
  attribute_text out;
  DWORD written[kAttributeFlagCount] = {};
  answer() { AttributeTextOpen(&out, buffer, kSessionTextCapacity); }
  std::string Text() const { return std::string(out.text, out.length); }
};

/* A node of a record list over a record's bytes. */
struct node_over {
  explicit node_over(Bytes& record, WORD signature) {
    node.data = reinterpret_cast<char*>(record.data());
    node.length = static_cast<DWORD>(record.size());
    node.signature = signature;
  }
  record_storage node;
};

class AttributeStringsTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    saved_ = session_->internal->global_client_preference;
    session_->internal->global_client_preference = 1;
    item_ = std::make_unique<VelkoRTItem>(session_.get());
    font_face& face = item_->internal->faces[item_->internal->face_count++];
    face.id = 5;
    std::strncpy(face.name, "Arial", sizeof face.name - 1);
  }
  void TearDown() override {
    item_.reset();
    session_->internal->global_client_preference = saved_;
  }

  /* A table's records as a body holds them, each built by the applier
   * from nothing. */
  struct table {
    Bytes pretable = Blank(SIG_CD_PRETABLEBEGIN, 48, 256);
    Bytes extension = Blank(SIG_CD_TABLEDATAEXTENSION, 62);
    Bytes begin = Blank(SIG_CD_TABLEBEGIN, 14);
    table() { Put<WORD>(extension, 40, 14); } // with a tab font part
  };

  STATUS Apply(table& t, const char* properties, DWORD initialise) {
    STATUS status = 0;
    for (Bytes* record : {&t.pretable, &t.extension, &t.begin}) {
      const WORD signature = record == &t.begin ? SIG_CD_TABLEBEGIN : Get<WORD>(*record, 0);
      const STATUS one =
          ApplyPropertiesToTableRecord(session_.get(), item_.get(), signature, record->data(),
                                       static_cast<DWORD>(record->size()), properties, initialise);
      if (status == 0)
        status = one;
    }
    return status;
  }

  /* The table's answer for a property id, its records in body order. */
  void Query(const table& t, WORD id, answer* a) {
    const DWORD pretableLength = Get<WORD>(t.pretable, 2);
    CalculateTableAttributesPRETABLEString(t.pretable.data(), pretableLength, &a->out, id,
                                           a->written, 1);
    CalculateTableAttributesTABLEDATAEXTENSIONString(t.extension.data(),
                                                     static_cast<DWORD>(t.extension.size()),
                                                     &a->out, id, a->written, item_.get());
    CalculateTableAttributesTABLEBEGINString(t.begin.data(), static_cast<DWORD>(t.begin.size()),
                                             &a->out, id, a->written);
  }
  std::string Query(const table& t, WORD id) {
    answer a;
    Query(t, id, &a);
    return a.Text();
  }

  std::unique_ptr<LSXLsiSession> session_ = std::make_unique<LSXLsiSession>();
  std::unique_ptr<VelkoRTItem> item_;
  WORD saved_ = 1;
};

TEST_F(AttributeStringsTest, TablePropertiesReadBackAsApplied) {
  const struct {
    const char* before; // applied first, initialising
    const char* applied;
    WORD id;
    const char* answer;
  } cases[] = {
      // a width replaces the one the table had
      {"TableWidth=FIT_TO_WINDOW", "TableWidth=FIT_WITH_MARGINS", 0,
       "TableWidth=FIT_WITH_MARGINS "},
      {"", "RowDisplay=BASIC", 1, "RowDisplay=BASIC "},
      {"", "RowDisplay=ANIMATED", 1, "RowDisplay=ANIMATED Transition=ADVANCE_ON_CLICK "},
      {"", "RowDisplay=animated Transition=once", 1, "RowDisplay=ANIMATED Transition=ONCE "},
      {"", "RowDisplay=ANIMATED Transition=ONCE_ON_CLICK", 1,
       "RowDisplay=ANIMATED Transition=ONCE_ON_CLICK "},
      {"", "RowDisplay=TABBED TabSide=Bottom", 1, "RowDisplay=TABBED TabSide=BOTTOM "},
      {"RowDisplay=TABBED TabSide=LEFT", "TabSide=RIGHT", 1, "RowDisplay=TABBED TabSide=RIGHT "},
      {"RowDisplay=TABBED TabSide=LEFT", "TabSide=Top", 1, "RowDisplay=TABBED "},
      {"", "TabSide=BOTTOM", 1, "RowDisplay=TABBED TabSide=BOTTOM "},
      {"", "RowDisplay=TABBED_PROGRAMMABLE", 1, "RowDisplay=PROGRAMMABLE_TABBED "},
      {"RowDisplay=PROGRAMMABLE_TABBED", "RowDisplay=PROGRAMMABLE", 1, "RowDisplay=PROGRAMMABLE "},
      {"", "RowDisplay=CAPTIONS", 1, "RowDisplay=CAPTIONS "},
      {"RowDisplay=CAPTIONS", "RowDisplay=SIDEWAYS", 1, "RowDisplay=CAPTIONS "},
      {"", "TableColor=Red", 7, "TableColor=Red "},
      {"", "TableColor=COLOR17", 7, "TableColor=COLOR17 "},
      {"", "TableBodyColor=RGB250,0,1", 8, "TableBodyColor=RGB250,0,1 "},
      {"", "CellBorderColor=RGB10,20,30", 5, "CellBorderColor=RGB10,20,30 "},
      {"CellBorderColor=Red", "CellBorderColor=Black", 5, "CellBorderColor=RGB0,0,0 "},
      {"BorderEffects=DROP_SHADOW", "BorderEffects=NONE", 11, "BorderEffects=NONE "},
      {"", "CellBorderStyle=Groove", 4, "CellBorderStyle=GROOVE "},
      {"", "CellBorderStyle=Emboss", 4, "CellBorderStyle=GROOVE "},
      // a style word is known by its letters, as the font words are written
      {"", "CellBorderStyle=Embossed", 4, "CellBorderStyle=GROOVE "},
      {"", "CellBorderStyle=extruded", 4, "CellBorderStyle=RIDGE "},
      {"CellBorderStyle=RIDGE", "CellBorderStyle=SOLID", 4, "CellBorderStyle=SOLID "},
      {"", "TableColorStyle=ALTERNATING_ROWS", 6, "TableColorStyle=Alternating_Rows "},
      {"", "TableColorStyle=LEFT_TOP", 6, "TableColorStyle=Left_Top "},
      {"TableColorStyle=ALTERNATING_ROWS", "TableColorStyle=LEFT", 6, "TableColorStyle=Left "},
      {"TableColorStyle=SOLID", "TableColorStyle=NONE", 6, "TableColorStyle=NONE "},
      {"", "TabIndent=\"1.25\"", 27, "TabIndent=\"1.25\" "},
      {"TabsEqual=Yes", "TabsEqual=No", 26, "TabsEqual=No "},
      {"", "TabFont='Bold Blue 12pt Arial'", 28, "TabFont='Bold Blue 12pt Arial' "},
      {"", "TabFont='Italic RGB12,34,56 8pt'", 28,
       "TabFont='Italic RGB12,34,56 8pt Default Serif' "},
      {"TabFont='Bold Blue 12pt Arial'", "TabFont='+Italic 12pt'", 28,
       "TabFont='Bold Italic Blue 12pt Arial' "},
  };
  for (const auto& c : cases) {
    table t;
    ASSERT_EQ(Apply(t, c.before, 1), 0) << c.before;
    ASSERT_EQ(Apply(t, c.applied, 0), 0) << c.applied;
    EXPECT_EQ(Query(t, c.id), c.answer) << c.before << " | " << c.applied;
  }
}

TEST_F(AttributeStringsTest, TableFieldsTheWritersDoNotAnswer) {
  table t;
  ASSERT_EQ(Apply(t, "TableColorStyle=Top MinRowHeight=-0.25 TableName=Sales TabFont=Bold", 1), 0);
  // a colour style on a new table gives it the two grey colours
  EXPECT_EQ(Get<DWORD>(t.pretable, 32), 0xC0C0C0u);
  EXPECT_EQ(Get<DWORD>(t.pretable, 28), 0x808080u);
  // a 16-bit field takes the low 16 bits of the clamped number
  EXPECT_EQ(Get<WORD>(t.pretable, 22), 0xFE98);
  // the name follows the fixed part, padded to an even length
  EXPECT_EQ(Get<WORD>(t.pretable, 42), 5);
  EXPECT_EQ(Get<WORD>(t.pretable, 2), 53);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(t.pretable.data()) + 48, 6),
            std::string("Sales\0", 6));
  // a new tab font starts as face 1, 10 points, its colour the palette's
  EXPECT_EQ(Get<DWORD>(t.extension, 48), 0x0A000101u);
  EXPECT_EQ(Get<WORD>(t.extension, 56), 0x0001);
  // the border colour of a new table is marked as RGB
  EXPECT_EQ(Get<WORD>(t.pretable, 36), 0x0001);
  EXPECT_EQ(Get<WORD>(t.begin, 12), 0x0100);
}

TEST_F(AttributeStringsTest, TableNameMustFitItsBuffer) {
  // a name too long for the record's buffer changes nothing
  Bytes small = Blank(SIG_CD_PRETABLEBEGIN, 48, 52);
  const Bytes before = small;
  EXPECT_EQ(ApplyPropertiesToTableRecord(session_.get(), nullptr, SIG_CD_PRETABLEBEGIN,
                                         small.data(), 52, "TableWidth=FIT TableName=abcde", 1),
            kAttributeRecordFull);
  EXPECT_EQ(small, before);
  EXPECT_EQ(ApplyPropertiesToTableRecord(session_.get(), nullptr, SIG_CD_PRETABLEBEGIN,
                                         small.data(), 52, "TableName=abcd", 1),
            0);
  EXPECT_EQ(Get<WORD>(small, 2), 52);
}

TEST_F(AttributeStringsTest, AllTwiceWritesEachKeyOnce) {
  table t;
  ASSERT_EQ(Apply(t,
                  "TableWidth=FIT_TO_WINDOW RowDisplay=ANIMATED Transition=ONCE "
                  "CellBorderColor=RGB9,9,9 BorderEffects=DROP_SHADOW TableColor=Red "
                  "TableBodyColor=Blue TabIndent=1 TabsEqual=Yes TabFont='Bold 9pt' "
                  "CellBorderStyle=RIDGE TableColorStyle=TOP",
                  1),
            0);
  Bytes timer = Blank(SIG_CD_TIMERINFO, 16);
  Put<DWORD>(timer, 4, 1500);
  answer a;
  for (int pass = 0; pass < 2; ++pass) {
    Query(t, kTablePropAll, &a);
    CalculateTableAttributesTIMERINFOString(timer.data(), 16, &a.out, kTablePropAll, a.written);
  }
  EXPECT_EQ(a.Text(),
            "TableWidth=FIT_TO_WINDOW RowDisplay=ANIMATED Transition=ONCE TableBodyColor=Blue "
            "TableColor=Red CellBorderColor=RGB9,9,9 BorderEffects=DROP_SHADOW "
            "TabIndent=\"1.00\" TabsEqual=Yes TabFont='Bold Black 9pt Default Sans Serif' "
            "TableColorStyle=Top CellBorderStyle=RIDGE RowCycleMilliseconds=1500 ");
}

TEST_F(AttributeStringsTest, AllLeavesOutTheValuesOfANewTable) {
  table t;
  ASSERT_EQ(Apply(t, "", 1), 0);
  // black borders, no shadow, no indent and unequal tabs are not named;
  // the tab font is, as the record holds it
  EXPECT_EQ(Query(t, kTablePropAll),
            "TableWidth=FIXED RowDisplay=BASIC TableBodyColor=RGB0,0,0 TableColor=RGB0,0,0 "
            "TabFont='Plain Black 0pt Default Serif' TableColorStyle=NONE ");
}

TEST_F(AttributeStringsTest, SettledReadings) {
  // a solid colour style sets every style bit and reads back as solid
  table solid;
  ASSERT_EQ(Apply(solid, "TableColorStyle=SOLID", 1), 0);
  EXPECT_EQ(Get<WORD>(solid.begin, 12) & 0x6F80, 0x6F80);
  EXPECT_EQ(Query(solid, kTablePropTableColorStyle), "TableColorStyle=Solid ");

  // the cell border colour is the one the table holds: the table begin,
  // which holds none, answers nothing over it
  table red;
  ASSERT_EQ(Apply(red, "CellBorderColor=Red", 1), 0);
  EXPECT_EQ(Query(red, kTablePropCellBorderColor), "CellBorderColor=RGB255,0,0 ");
  answer alone;
  CalculateTableAttributesTABLEBEGINString(red.begin.data(), 14, &alone.out,
                                           kTablePropCellBorderColor, alone.written);
  EXPECT_EQ(alone.Text(), "");

  // border effects are written once into an answer asked for twice
  answer twice;
  table shadow;
  ASSERT_EQ(Apply(shadow, "BorderEffects=DROP_SHADOW", 1), 0);
  for (int pass = 0; pass < 2; ++pass)
    CalculateTableAttributesPRETABLEString(shadow.pretable.data(), 48, &twice.out, kTablePropAll,
                                           twice.written, 1);
  EXPECT_EQ(twice.Text(), "TableWidth=FIXED RowDisplay=BASIC TableBodyColor=RGB0,0,0 "
                          "TableColor=RGB0,0,0 BorderEffects=DROP_SHADOW ");

  // a layer position without units keeps its number
  Bytes position = Blank(SIG_CD_POSITIONING, 88);
  Put<double>(position, 12, 12.5); // top
  Put<double>(position, 28, 300);  // left
  position[36] = 2;                // pixels
  answer layer;
  CalculateLayerAttributesPOSITIONINGString(position.data(), 88, &layer.out, kLayerPropAll,
                                            layer.written);
  EXPECT_EQ(layer.Text(), "ZIndex=0 Scheme=static BrowserLeftOffset=0 BrowserRightOffset=0 "
                          "Top='12.5' Left='300px' ");
}

TEST_F(AttributeStringsTest, LayerTexts) {
  Bytes position = Blank(SIG_CD_POSITIONING, 88);
  position[2] = 3;                  // fixed
  Put<int32_t>(position, 4, -7);    // z-index
  Put<WORD>(position, 8, 1);        // top: auto
  Put<double>(position, 80, -3.49); // right offset, rounded
  answer a;
  CalculateLayerAttributesPOSITIONINGString(position.data(), 88, &a.out, kLayerPropAll, a.written);
  // a scheme past the known ones reads as absolute
  position[2] = 9;
  answer unknown;
  CalculateLayerAttributesPOSITIONINGString(position.data(), 88, &unknown.out, kLayerPropScheme,
                                            unknown.written);
  EXPECT_EQ(unknown.Text(), "Scheme=absolute ");
  // the box size answers width and height, once; a short record answers nothing
  Bytes box = Blank(SIG_CD_BOXSIZE, 116);
  Put<double>(box, 8, 50);
  box[16] = 3;
  Put<WORD>(box, 20, 2); // height: inherit
  CalculateLayerAttributesBOXSIZEString(box.data(), 116, &a.out, kLayerPropAll, a.written);
  CalculateLayerAttributesBOXSIZEString(box.data(), 116, &a.out, kLayerPropAll, a.written);
  CalculateLayerAttributesBACKGROUNDPROPERTIESString(box.data(), 116, &a.out, kLayerPropAll,
                                                     a.written);
  EXPECT_EQ(a.Text(), "ZIndex=-7 Scheme=fixed BrowserLeftOffset=0 BrowserRightOffset=-3 "
                      "Top='auto' Left='0' Width='50%' Height='inherit' ");
  answer shortBox;
  CalculateLayerAttributesBOXSIZEString(box.data(), 35, &shortBox.out, kLayerPropAll,
                                        shortBox.written);
  CalculateLayerAttributesPOSITIONINGString(box.data(), 116, &shortBox.out, kLayerPropAll,
                                            shortBox.written);
  EXPECT_EQ(shortBox.Text(), "");
}

TEST_F(AttributeStringsTest, RuleReadsBackAsApplied) {
  const struct {
    const char* applied; // to a new rule
    WORD id;
    const char* answer;
  } cases[] = {
      // a new rule fits the window at 100%, 7 twips high, without colour
      {"", kHRulePropAll, "FitToWindow='Yes' Width='100%' Height='0.0' "},
      {"FitToWindow=No", kHRulePropAll, "Width='0.1' Height='0.0' "},
      {"FitToWindow=maybe", kHRulePropFitToWindow, "FitToWindow='Yes' "},
      {"No3DShadow=yes", kHRulePropNo3DShadow, "No3DShadow='Yes' "},
      {"Color=Black", kHRulePropAll, "FitToWindow='Yes' Color='Black' Width='100%' Height='0.0' "},
      {"Color=none", kHRulePropColor, "Color='none' "},
      {"Color='no such colour'", kHRulePropColor, "Color='none' "},
      {"GradientColor=Yellow", kHRulePropGradientColor, "GradientColor='Yellow' "},
      {"GradientColor=none", kHRulePropAll, "FitToWindow='Yes' Width='100%' Height='0.0' "},
  };
  for (const auto& c : cases) {
    Bytes rule(16);
    ASSERT_EQ(
        ApplyPropertiesToHRuleRecord(session_.get(), SIG_CD_HRULE, rule.data(), 16, c.applied, 1),
        0);
    node_over node(rule, SIG_CD_HRULE);
    answer a;
    CalculateHRuleAttributesString(&node.node, &a.out, c.id, a.written, 1);
    EXPECT_EQ(a.Text(), c.answer) << c.applied;
  }
}

TEST_F(AttributeStringsTest, RuleWidthAndHeightByTheirUnits) {
  const struct {
    DWORD flags;
    WORD width, height;
    const char* answer;
  } cases[] = {
      {0x4, 35, 720, "Width='35%' Height='0.5' "},
      {0x0, 2160, 1440, "Width='1.5' Height='1.0' "},
      {0x0, 65535, 144, "Width='45.5' Height='0.1' "},
  };
  for (const auto& c : cases) {
    Bytes rule = Blank(SIG_CD_HRULE, 16);
    Put<DWORD>(rule, 4, c.flags);
    Put<WORD>(rule, 8, c.width);
    Put<WORD>(rule, 10, c.height);
    node_over node(rule, SIG_CD_HRULE);
    answer a;
    CalculateHRuleAttributesString(&node.node, &a.out, kHRulePropWidth, a.written, 1);
    CalculateHRuleAttributesString(&node.node, &a.out, kHRulePropHeight, a.written, 1);
    EXPECT_EQ(a.Text(), c.answer);
  }
}

TEST_F(AttributeStringsTest, RuleColourRecordDecidesTheColour) {
  const struct {
    const char* applied; // to a new colour record after the rule
    const char* answer;
    BYTE length;
  } cases[] = {
      // a new colour record holds black as RGB
      {"", "Color='RGB0,0,0' ", 8},
      {"Color=Red", "Color='Red' ", 8},
      {"Color=system", "Color='system' ", 8},
      {"Color=none Color=Red", "Color='none' ", 8},
      {"Color=Red GradientColor=RGB7,8,9", "Color='RGB255,0,0 GRADIENT7,8,9' ", 14},
      {"Color=Red GradientColor=RGB7,8,9 GradientColor=none", "Color='RGB255,0,0 GRADIENT7,8,9' ",
       14},
  };
  for (const auto& c : cases) {
    Bytes rule(16);
    ApplyPropertiesToHRuleRecord(session_.get(), SIG_CD_HRULE, rule.data(), 16, "Color=Red", 1);
    Bytes color(14);
    ASSERT_EQ(
        ApplyPropertiesToHRuleRecord(session_.get(), SIG_CD_COLOR, color.data(), 14, c.applied, 1),
        0);
    EXPECT_EQ(color[1], c.length) << c.applied;
    node_over ruleNode(rule, SIG_CD_HRULE);
    Bytes stored(color.begin(), color.begin() + color[1]);
    node_over colorNode(stored, SIG_CD_COLOR);
    ruleNode.node.next = &colorNode.node;
    answer a;
    CalculateHRuleAttributesString(&ruleNode.node, &a.out, kHRulePropColor, a.written, 1);
    EXPECT_EQ(a.Text(), c.answer) << c.applied;
  }
  // a gradient needs the room for it
  Bytes color(8);
  ApplyPropertiesToHRuleRecord(session_.get(), SIG_CD_COLOR, color.data(), 8, "GradientColor=Red",
                               1);
  EXPECT_EQ(color[1], 8);
}

TEST_F(AttributeStringsTest, IdNamePartsReadBackWhole) {
  const char* const applied =
      "TableHTMLID=\"it's\" TableHTMLClass='a \"b\"' TableHTMLStyle=|color:'red'| "
      "TableHTMLTitle=~'\"|~ TableHTMLOther='x=1' TableHTMLName=\"O'Neil\"";
  Bytes record(256);
  STATUS status = 1;
  EXPECT_EQ(ApplyPropertiesToIDNAMERecord(session_.get(), record.data(), 256, nullptr, 0, "Table",
                                          applied, nullptr, &status),
            1u);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Get<WORD>(record, 0), SIG_CD_IDNAME);
  const DWORD length = Get<WORD>(record, 2);
  EXPECT_EQ(length, 26u + 4 + 5 + 11 + 3 + 3 + 6);
  answer a;
  CalculateAttributesIDNAMEString(record.data(), length, &a.out, "Table", kTablePropAll,
                                  kTablePropHTMLId, kTablePropAll, a.written);
  const std::string text = a.Text();
  EXPECT_EQ(text, "TableHTMLId=\"it's\" TableHTMLClass='a \"b\"' TableHTMLStyle=\"color:'red'\" "
                  "TableHTMLTitle=~'\"|~ TableHTMLOther='x=1' TableHTMLName=\"O'Neil\" ");
  // the answer applied to a new record builds the same record
  Bytes again(256);
  ApplyPropertiesToIDNAMERecord(session_.get(), again.data(), 256, nullptr, 0, "Table",
                                text.c_str(), nullptr, nullptr);
  EXPECT_EQ(again, record);

  // empty parts are named only when asked for by their own id
  Bytes empty(64);
  ApplyPropertiesToIDNAMERecord(session_.get(), empty.data(), 64, nullptr, 0, "Graphic",
                                "GraphicHTMLTitle=t", nullptr, nullptr);
  for (const auto& [id, answerText] :
       {std::pair<WORD, const char*>{kGraphicPropAll, "GraphicHTMLTitle='t' "},
        std::pair<WORD, const char*>{kGraphicPropHTMLId, "GraphicHTMLId='' "}}) {
    answer one;
    CalculateAttributesIDNAMEString(empty.data(), 27, &one.out, "Graphic", id, kGraphicPropHTMLId,
                                    kGraphicPropAll, one.written);
    EXPECT_EQ(one.Text(), answerText);
  }
  // a text that already holds a key of the parts gets none
  answer held;
  held.written[kTablePropHTMLId + 3] = 1;
  CalculateAttributesIDNAMEString(record.data(), length, &held.out, "Table", kTablePropAll,
                                  kTablePropHTMLId, kTablePropAll, held.written);
  EXPECT_EQ(held.Text(), "");
}

TEST_F(AttributeStringsTest, IdNameApplyKeepsMergesAndRefuses) {
  Bytes existing(128);
  ApplyPropertiesToIDNAMERecord(session_.get(), existing.data(), 128, nullptr, 0, "",
                                "HTMLID=one HTMLClass=two HTMLOther=three Name=four", nullptr,
                                nullptr);
  const struct {
    const char* applied;
    const char* extra;
    DWORD changed;
    const char* answer;
  } cases[] = {
      {"", nullptr, 0, "HTMLId='one' HTMLClass='two' HTMLOther='three' HTMLName='four' "},
      {"HTMLClass=", nullptr, 1, "HTMLId='one' HTMLOther='three' HTMLName='four' "},
      {"HTMLStyle=", nullptr, 0, "HTMLId='one' HTMLClass='two' HTMLOther='three' HTMLName='four' "},
      {"HTMLName=five Name=six", nullptr, 1,
       "HTMLId='one' HTMLClass='two' HTMLOther='three' HTMLName='five' "},
      {"HTMLTitle=t", "onclick=x", 1,
       "HTMLId='one' HTMLClass='two' HTMLTitle='t' HTMLOther='three onclick=x' HTMLName='four' "},
      {"HTMLOther=", "a", 1, "HTMLId='one' HTMLClass='two' HTMLOther='a' HTMLName='four' "},
  };
  for (const auto& c : cases) {
    // built in place over the existing record
    Bytes record = existing;
    const DWORD changed =
        ApplyPropertiesToIDNAMERecord(session_.get(), record.data(), 128, record.data(),
                                      Get<WORD>(record, 2), "", c.applied, c.extra, nullptr);
    EXPECT_EQ(changed, c.changed) << c.applied;
    answer a;
    CalculateAttributesIDNAMEString(record.data(), Get<WORD>(record, 2), &a.out, "", kLayerPropAll,
                                    kLayerPropHTMLId, kLayerPropAll, a.written);
    EXPECT_EQ(a.Text(), c.answer) << c.applied;
  }
  // a text too long for the buffer leaves the record as it was, with 1028
  Bytes record = existing;
  STATUS status = 0;
  EXPECT_EQ(ApplyPropertiesToIDNAMERecord(
                session_.get(), record.data(), 128, existing.data(), Get<WORD>(existing, 2), "",
                ("HTMLTitle=" + std::string(90, 'x')).c_str(), nullptr, &status),
            0u);
  EXPECT_EQ(status, kAttributeRecordFull);
  EXPECT_EQ(record, existing);
  const std::string huge = "HTMLTitle=" + std::string(kAttributeRecordLimit, 'x');
  Bytes roomy(kAttributeRecordLimit + 100);
  ApplyPropertiesToIDNAMERecord(session_.get(), roomy.data(), static_cast<DWORD>(roomy.size()),
                                nullptr, 0, "", huge.c_str(), nullptr, &status);
  EXPECT_EQ(status, kAttributeRecordFull);
  EXPECT_EQ(Get<WORD>(roomy, 2), 0);
}

TEST_F(AttributeStringsTest, BorderApply) {
  const struct {
    const char* applied;
    WORD style, top, left, bottom, right, flags, shadow;
  } cases[] = {
      {"BorderStyle=dotted BorderThickness=medium", 7, 4, 4, 4, 4, 0, 12},
      {"BorderThickness=thick BorderThicknessLeft=thin BorderThicknessRight=9", 0, 6, 2, 6, 9, 0,
       12},
      {"BorderStyle=Graphic BorderThicknessBottom=3", 10, 0, 0, 3, 0, 0, 12},
      {"BorderStyle=unknown", 0, 0, 0, 0, 0, 0, 12},
      {"BorderEffects=DROP_SHADOW BorderShadow=3", 0, 0, 0, 0, 0, 1, 3},
      {"BorderEffects=NONE BorderShadow=3", 0, 0, 0, 0, 0, 0, 0},
      {"BorderShadow=3", 0, 0, 0, 0, 0, 0, 12},
  };
  for (const auto& c : cases) {
    Bytes border = Blank(SIG_CD_BORDERINFO, 60);
    ASSERT_EQ(ApplyPropertiesToBorderRecord(session_.get(), SIG_CD_BORDERINFO, border.data(), 60,
                                            c.applied, 1),
              0);
    EXPECT_EQ(Words(border, {8, 10, 12, 14, 16, 24, 26}),
              (std::vector<WORD>{c.style, c.top, c.left, c.bottom, c.right, c.flags, c.shadow}))
        << c.applied;
  }
  // a table applies its border record; the other fields
  Bytes border = Blank(SIG_CD_BORDERINFO, 60);
  ASSERT_EQ(ApplyPropertiesToTableRecord(session_.get(), nullptr, SIG_CD_BORDERINFO, border.data(),
                                         60,
                                         "OuterTop=1 OuterLeft=2 OuterBottom=3 OuterRight=-1 "
                                         "BorderColor=RGB4,5,6 PaddingLeft=7",
                                         0),
            0);
  // outer widths, the colour marked RGB (red and green, blue), the padding
  EXPECT_EQ(Words(border, {36, 38, 40, 42, 44, 46, 48, 30}),
            (std::vector<WORD>{1, 2, 3, 0xFFFF, 1, 0x0504, 6, 7}));
  // another signature is left alone
  Bytes other = Blank(SIG_CD_HRULE, 60);
  const Bytes before = other;
  ApplyPropertiesToBorderRecord(session_.get(), SIG_CD_HRULE, other.data(), 60, "BorderStyle=SOLID",
                                1);
  EXPECT_EQ(other, before);
}

TEST_F(AttributeStringsTest, GraphicBorderTextAppliesToTheSameBorder) {
  Bytes border = Blank(SIG_CD_BORDERINFO, 60);
  ApplyPropertiesToBorderRecord(session_.get(), SIG_CD_BORDERINFO, border.data(), 60,
                                "BorderStyle=RIDGE BorderThicknessTop=1 BorderThicknessLeft=2 "
                                "BorderThicknessBottom=3 BorderThicknessRight=4 "
                                "BorderEffects=DROP_SHADOW BorderShadow=5 OuterTop=6 OuterLeft=7 "
                                "OuterBottom=8 OuterRight=9 BorderColor=RGB10,11,12 PaddingLeft=13",
                                1);
  answer a;
  CalculateGraphicAttributesBORDERString(border.data(), 60, &a.out, kGraphicPropAll, a.written);
  CalculateGraphicAttributesBORDERString(border.data(), 60, &a.out, kGraphicPropBorder, a.written);
  EXPECT_EQ(a.Text(),
            "BorderStyle=RIDGE BorderThicknessTop=1 BorderThicknessLeft=2 BorderThicknessBottom=3 "
            "BorderThicknessRight=4 BorderEffects=DROP_SHADOW BorderShadow=5 OuterTop=6 "
            "OuterLeft=7 OuterBottom=8 OuterRight=9 BorderColor=RGB10,11,12 PaddingLeft=13 ");
  Bytes again = Blank(SIG_CD_BORDERINFO, 60);
  ApplyPropertiesToBorderRecord(session_.get(), SIG_CD_BORDERINFO, again.data(), 60,
                                a.Text().c_str(), 1);
  EXPECT_EQ(again, border);
  // graphic records take no properties
  EXPECT_EQ(ApplyPropertiesToGraphicRecord(session_.get(), SIG_CD_BORDERINFO, again.data(), 60,
                                           "BorderStyle=NONE", 1),
            0);
  EXPECT_EQ(again, border);
}

TEST_F(AttributeStringsTest, GraphicAndImageMapTexts) {
  auto withText = [](WORD signature, WORD fixed, size_t lengthOffset, const std::string& text) {
    Bytes record = Blank(signature, static_cast<WORD>(fixed + text.size()));
    Put<WORD>(record, lengthOffset, static_cast<WORD>(text.size()));
    std::memcpy(record.data() + fixed, text.data(), text.size());
    return record;
  };
  Bytes alt = withText(SIG_CD_ALTTEXT, 12, 4, "Tom's \"cat\"");
  Bytes caption = withText(SIG_CD_CAPTION, 32, 4, "plain");
  answer a;
  for (int pass = 0; pass < 2; ++pass) {
    CalculateGraphicAttributesALTTEXTString(alt.data(), static_cast<DWORD>(alt.size()), &a.out,
                                            kGraphicPropAll, a.written);
    CalculateGraphicAttributesCAPTIONString(caption.data(), static_cast<DWORD>(caption.size()),
                                            &a.out, kGraphicPropAll, a.written);
  }
  EXPECT_EQ(a.Text(), "AltText=|Tom's \"cat\"| Caption='plain' ");
  // a length past the record's end is cut at it
  answer cut;
  Put<WORD>(alt, 4, 500);
  CalculateGraphicAttributesALTTEXTString(alt.data(), 15, &cut.out, kGraphicPropAltText,
                                          cut.written);
  EXPECT_EQ(cut.Text(), "AltText='Tom' ");
  // and at a NUL it holds, so the answer stays one C text
  Bytes held = withText(SIG_CD_ALTTEXT, 12, 4, std::string("ab\0cd", 5));
  answer nul;
  CalculateGraphicAttributesALTTEXTString(held.data(), static_cast<DWORD>(held.size()), &nul.out,
                                          kGraphicPropAll, nul.written);
  EXPECT_EQ(nul.Text(), "AltText='ab' ");
  // another kind of record, or none, writes nothing
  answer none;
  CalculateGraphicAttributesCAPTIONString(alt.data(), static_cast<DWORD>(alt.size()), &none.out,
                                          kGraphicPropAll, none.written);
  CalculateGraphicAttributesALTTEXTString(nullptr, 0, &none.out, kGraphicPropAll, none.written);
  EXPECT_EQ(none.Text(), "");

  Bytes map = withText(SIG_CD_MAPELEMENT, 36, 8, "it's map");
  node_over mapNode(map, SIG_CD_MAPELEMENT);
  Bytes area = Blank(SIG_CD_AREAELEMENT, 32);
  Put<WORD>(area, 10, 4);
  node_over areaNode(area, SIG_CD_AREAELEMENT);
  Put<WORD>(area, 8, 4); // the default area
  answer shape;
  CalculateAreaElementAttributesString(&areaNode.node, &shape.out, kHotspotPropAll, shape.written);
  EXPECT_EQ(shape.Text(), "Shape=default TabIndex=4 ");
  answer m;
  CalculateMapElementAttributesString(&mapNode.node, &m.out, kImageMapPropAll, m.written);
  CalculateMapElementAttributesString(&areaNode.node, &m.out, kImageMapPropAll, m.written);
  CalculateAreaElementAttributesString(&mapNode.node, &m.out, kHotspotPropAll, m.written);
  CalculateAreaElementAttributesString(nullptr, &m.out, kHotspotPropAll, m.written);
  EXPECT_EQ(m.Text(), "MapName=\"it's map\" ");
}

TEST(AttributeTextTest, AKeyThatDoesNotFitIsLeftOut) {
  char buffer[21] = "Width=1 ";
  attribute_text out;
  AttributeTextOpen(&out, buffer, 20);
  EXPECT_EQ(out.length, 8u);
  EXPECT_TRUE(AttributeTextPrintf(&out, "Top=%d ", 12345)); // 18 bytes
  EXPECT_FALSE(AttributeTextQuoted(&out, "A=", "", 0));     // 5 more
  EXPECT_TRUE(AttributeTextPuts(&out, "X="));               // exactly full
  EXPECT_FALSE(AttributeTextPrintf(&out, "%s", "y"));
  EXPECT_STREQ(buffer, "Width=1 Top=12345 X=");
  EXPECT_EQ(out.status, kAttributeTextFull);

  // a writer stops at the room of the session's text
  std::vector<char> session(kSessionTextCapacity + 1, '\0');
  std::memset(session.data(), 'k', kSessionTextCapacity - 23);
  AttributeTextOpen(&out, session.data(), kSessionTextCapacity);
  DWORD written[kAttributeFlagCount] = {};
  Bytes timer = Blank(SIG_CD_TIMERINFO, 16);
  Put<DWORD>(timer, 4, 4000000000u);
  CalculateTableAttributesTIMERINFOString(timer.data(), 16, &out, kTablePropAll, written);
  EXPECT_EQ(out.status, kAttributeTextFull);
  EXPECT_EQ(written[kTablePropRowCycleMilliseconds], 0u);
  EXPECT_EQ(std::strlen(session.data()), kSessionTextCapacity - 23);
  Put<DWORD>(timer, 4, 1);
  CalculateTableAttributesTIMERINFOString(timer.data(), 16, &out, kTablePropAll, written);
  EXPECT_EQ(std::strlen(session.data()), kSessionTextCapacity); // exactly full
}

} // namespace
