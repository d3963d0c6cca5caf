// The chunk's query methods through the class interface: GetText's cut at
// the buffer (never inside a character), GetCellBorder's sides and border
// forms, GetHTMLValue's attributes, GetTableProperties and
// GetTargetProperties for every target type the engine answers (with and
// without a property name, nested tables, a layer's size), and an answer
// that would pass the result text's capacity.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "store/session.h"
#include "store/vocabulary.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;

/* A CDIDNAME (0xFF7A or 0xFF7B): the six lengths as given (id, class,
 * style, title, extra, name), ten reserved bytes, then the texts. */
Bytes IdName(const std::vector<std::string>& parts, WORD signature = SIG_CD_IDNAME,
             std::vector<WORD> lengths = {}) {
  Bytes body(22);
  for (size_t k = 0; k < 6; ++k) {
    const WORD length = k < lengths.size() ? lengths[k] : static_cast<WORD>(parts[k].size());
    cdbuild::PutWord(body, 2 * k, length);
  }
  for (const std::string& part : parts)
    body.insert(body.end(), part.begin(), part.end());
  return cdbuild::Record(signature, body);
}

/* A CDTARGET (0xFFF2): the frame name's length, six reserved bytes, the name. */
Bytes TargetFrame(const std::string& name) {
  Bytes body(8);
  cdbuild::PutWord(body, 0, static_cast<WORD>(name.size()));
  body.insert(body.end(), name.begin(), name.end());
  return cdbuild::Record(SIG_CD_TARGET, body);
}

/* A record of the signature whose fixed part is `fixed` bytes (header
 * included, zeroed), with words put at their offsets and a text behind. */
Bytes Fixed(WORD signature, DWORD fixed, std::vector<std::pair<size_t, WORD>> words,
            const std::string& text = {}) {
  Bytes record = cdbuild::Sized(signature, fixed);
  for (const auto& [at, value] : words)
    cdbuild::PutWord(record, at, value);
  return text.empty() ? record : cdbuild::WithTail(record, Bytes(text.begin(), text.end()));
}

/* A LENGTH_VALUE written at the offset: flags, the number, the units. */
void PutLength(Bytes& record, size_t at, double length, BYTE units) {
  std::memcpy(record.data() + at + 4, &length, sizeof length);
  record[at + 12] = units;
}

Bytes TimerInfo(DWORD milliseconds) {
  Bytes record = cdbuild::Sized(SIG_CD_TIMERINFO, 16);
  cdbuild::PutDword(record, 4, milliseconds);
  return record;
}

class ChunkQueryTest : public EngineTest {};

// "a", a two-byte character, "b", a three-byte character, "c": 8 bytes.
const std::string kMixed = std::string("a\x01\xE9") + "b" + "\x10\x81\x82" + "c";

TEST_F(ChunkQueryTest, GetTextCutsBetweenWholeCharacters) {
  AppendItem({PabDef(1), PabRef(1), Text(kMixed)});
  VelkoRTChunk* chunk = Chunk("Everything");
  struct Case {
    DWORD size;
    DWORD copied;
  };
  const Case cases[] = {{1, 0}, {3, 1}, {4, 3}, {5, 4}, {6, 4}, {8, 7}, {9, 8}};
  for (const Case& c : cases) {
    char buffer[128];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(chunk->GetText(nullptr, buffer, c.size, 0, nullptr), c.copied) << c.size;
    EXPECT_EQ(std::string(buffer), kMixed.substr(0, c.copied)) << c.size;
    EXPECT_EQ(chunk->status, NOERROR) << c.size;
  }
}

TEST_F(ChunkQueryTest, GetTextWithoutRoomCopiesNothing) {
  AppendItem({PabDef(1), PabRef(1), Text("abc")});
  VelkoRTChunk* chunk = Chunk("Everything");
  char buffer[4] = {'x', 'y', 'z', '\0'};
  EXPECT_EQ(chunk->GetText(nullptr, buffer, 0, 0, nullptr), 0u);
  EXPECT_STREQ(buffer, "xyz");
  EXPECT_EQ(chunk->status, VELKO_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(chunk->GetText(nullptr, nullptr, 10, 0, nullptr), 0u);
  EXPECT_EQ(chunk->status, VELKO_ERR_INVALID_ARGUMENT);
}

TEST_F(ChunkQueryTest, GetTextPassesFlagOptionsAndSubDefinition) {
  std::vector<Bytes> records = {PabDef(1), PabRef(1), Text("ab"), Text("cd"), TableBegin()};
  for (BYTE row = 0; row < 2; ++row) {
    records.push_back(Cell(row, 0));
    records.push_back(Text(row == 0 ? "r1" : "r2"));
    records.push_back(Text(row == 0 ? "x1" : "x2"));
  }
  records.push_back(TableEnd());
  AppendItem(records);
  char buffer[64];
  VelkoRTChunk* chunk = Chunk("Everything");
  EXPECT_EQ(chunk->GetText(nullptr, buffer, sizeof buffer, 0, "|"), 2u);
  EXPECT_STREQ(buffer, "ab");
  EXPECT_EQ(chunk->GetText(nullptr, buffer, sizeof buffer, 1, "|"), 17u);
  EXPECT_STREQ(buffer, "ab|cd|r1|x1|r2|x2");
  VelkoRTChunk* table = Chunk("Table 1");
  EXPECT_EQ(table->GetText("Row 2", buffer, sizeof buffer, 1, "+"), 5u);
  EXPECT_STREQ(buffer, "r2+x2");
  // The sub-definition is for one call only.
  EXPECT_EQ(table->GetText(nullptr, buffer, sizeof buffer, 0, nullptr), 2u);
  EXPECT_STREQ(buffer, "r1");
}

TEST_F(ChunkQueryTest, GetCellBorderReadsTheFirstCellOfTheChunk) {
  // Row 1: two-bit widths left 1, right 2, top 3, bottom 0. Row 2: the
  // four-bit widths left 5, right 0, top 9, bottom 15 (flag 0x02), which
  // hide the two-bit byte.
  Bytes first = cdbuild::TableCell({.row = 0, .column = 0, .borders = 0x39});
  Bytes second =
      cdbuild::TableCell({.row = 1, .column = 0, .borders = 0xFF, .flags = 0x02, .v42_border = 0xF905});
  Bytes third = cdbuild::TableCell({.row = 1, .column = 1, .borders = 0x15});
  AppendItem({PabDef(1), PabRef(1), TableBegin(), first, Text("a"), second, Text("b"), third,
              Text("c"), TableEnd()});
  struct Case {
    const char* definition;
    const char* side;
    const char* answer;
  };
  const Case cases[] = {
      {"Table 1", nullptr, "1,2,3,0"},    {"Table 1", "left", "1"}, {"Table 1", "Right", "2"},
      {"Table 1", "b", "0"},              {"Table 1", "x", "1,2,3,0"}, {"Table 1", "", "1,2,3,0"},
      {"Table 1; Row 2", nullptr, "5,0,9,15"}, {"Table 1; Row 2", "Bottom", "15"},
      {"Table 1; Row 2", "top", "9"},     {"Table 1; Row 2", "L", "5"},
  };
  for (const Case& c : cases) {
    VelkoRTChunk* chunk = Chunk(c.definition);
    chunk->secondary_status = 7;
    EXPECT_STREQ(chunk->GetCellBorder(c.side), c.answer) << c.definition << " " << c.side;
    EXPECT_EQ(session_->result_length, std::strlen(c.answer));
    EXPECT_EQ(chunk->status, NOERROR);
    EXPECT_EQ(chunk->secondary_status, 0);
  }
  // A chunk without a cell answers nothing.
  EXPECT_STREQ(Chunk("Paragraph 1")->GetCellBorder(nullptr), "");
}

TEST_F(ChunkQueryTest, GetHTMLValueAnswersEachAttributeOfTheLastRecord) {
  AppendItem({PabDef(1), PabRef(1), IdName({"old", "", "", "", "", "gone"}), Text("a"),
              IdName({"i1", "c1", "color:red", "T'it", "x=1", "nm"}, SIG_CD_IDNAME2),
              Text("b")});
  VelkoRTChunk* chunk = Chunk("Everything");
  struct Case {
    const char* attribute;
    const char* answer;
  };
  const Case cases[] = {{"name", "nm"},   {"ID", "i1"},  {"STYLE", "color:red"},
                        {"title", "T'it"}, {"Other", "x=1"}, {"href", ""},
                        {"IDs", ""},       {nullptr, ""}};
  for (const Case& c : cases) {
    EXPECT_STREQ(chunk->GetHTMLValue(c.attribute, "Table"), c.answer) << c.attribute;
    EXPECT_EQ(session_->result_length, std::strlen(c.answer)) << c.attribute;
  }
  // An attribute the engine does not know runs nothing.
  chunk->status = 4711;
  EXPECT_STREQ(chunk->GetHTMLValue("href", nullptr), "");
  EXPECT_EQ(chunk->status, 4711);
}

TEST_F(ChunkQueryTest, GetHTMLValueOfAnEmptyOrCutPart) {
  // The last record's id is empty; the name claims 40 bytes and has 3.
  AppendItem({PabDef(1), PabRef(1), IdName({"i1", "", "", "", "", "nm"}), Text("a"),
              IdName({"", "", "", "", "", "abc"}, SIG_CD_IDNAME, {0, 0, 0, 0, 0, 40})});
  VelkoRTChunk* chunk = Chunk("Everything");
  EXPECT_STREQ(chunk->GetHTMLValue("ID", nullptr), "");
  EXPECT_EQ(session_->result_length, 0);
  EXPECT_STREQ(chunk->GetHTMLValue("Name", nullptr), "abc");
}

/* One body per target type, each holding that type's records. */
std::vector<Bytes> TableBody() {
  return {PabDef(1), PabRef(1), Text("x"), Begin(SIG_CD_PRETABLEBEGIN),
          cdbuild::PreTableBegin({.flags = 0x201,
                                  .row_display = 4,
                                  .body_color = 0x030201,
                                  .table_color = 0x060504,
                                  .cell_border_color = {0x0001, 7, 8, 9},
                                  .name = "Tab1"}),
          IdName({"tid", "", "", "", "", "tn"}),
          Fixed(SIG_CD_TABLEDATAEXTENSION, sizeof(CDTABLEDATAEXTENSION), {{12, 1}}),
          End(SIG_CD_PRETABLEBEGIN), cdbuild::TableBegin({.flags = 0x804}), Cell(0, 0), Text("a"),
          // A nested table: its own drop shadow and border colour (which
          // the first table has not), id and ridge border are not
          // described; its timer (the only one) is.
          Begin(SIG_CD_PRETABLEBEGIN),
          cdbuild::PreTableBegin({.flags = 0x4, .cell_border_color = {0x0001, 1, 1, 1}}),
          IdName({"inner", "", "", "", "", ""}), End(SIG_CD_PRETABLEBEGIN),
          cdbuild::TableBegin({.flags = 0x8, .nested = true}), Cell(0, 0, true), Text("n"),
          TimerInfo(500), TableEnd(true), TableEnd(), Text("y")};
}

std::vector<Bytes> SectionBody() {
  return {PabDef(1), PabRef(1), Text("x"), IdName({"outside", "", "", "", "", ""}),
          Begin(SIG_CD_V4HOTSPOTBEGIN), HotspotBegin(SIG_CD_V4HOTSPOTBEGIN, 12),
          IdName({"s1", "sc", "", "", "", ""}), End(SIG_CD_V4HOTSPOTBEGIN), Text("in"),
          cdbuild::HotspotEnd(SIG_CD_V4HOTSPOTEND), Text("y")};
}

std::vector<Bytes> GraphicBody() {
  return {PabDef(1), PabRef(1), Text("x"), cdbuild::Sized(SIG_CD_GRAPHIC, sizeof(CDGRAPHIC)),
          Fixed(SIG_CD_ALTTEXT, sizeof(CDALTTEXT), {{4, 8}}, "it's alt"),
          Fixed(SIG_CD_CAPTION, sizeof(CDCAPTION), {{4, 3}}, "cap"),
          IdName({"g1", "", "", "gt", "", ""}), Text("y")};
}

/* A graphic with a solid border of 3 twips on the left: what setting a
 * graphic's border writes reads back through its properties. */
std::vector<Bytes> BorderedGraphicBody() {
  return {PabDef(1), PabRef(1), Text("x"), cdbuild::Sized(SIG_CD_GRAPHIC, sizeof(CDGRAPHIC)),
          Fixed(SIG_CD_BORDERINFO, sizeof(CDBORDERINFO), {{8, 1}, {12, 3}}), Text("y")};
}

std::vector<Bytes> RuleBody() {
  // Fit to window, 100 percent wide, half an inch high, no colour.
  return {PabDef(1), PabRef(1), Text("x"),
          Fixed(SIG_CD_HRULE, sizeof(CDHRULE), {{4, 0x4}, {8, 100}, {10, 720}}), Text("y")};
}

std::vector<Bytes> LayerBody() {
  Bytes position = cdbuild::Sized(SIG_CD_POSITIONING, sizeof(CDPOSITIONING));
  position[2] = 1; // absolute
  cdbuild::PutDword(position, 4, 3);
  PutLength(position, 8, 100, 2);   // top: pixels
  PutLength(position, 24, 2160, 1); // left: twips
  const double offsets[2] = {10.4, 20.6};
  std::memcpy(position.data() + 72, offsets, sizeof offsets);
  Bytes box = cdbuild::Sized(SIG_CD_BOXSIZE, sizeof(CDBOXSIZE));
  PutLength(box, 4, 50, 3);   // width: percent
  PutLength(box, 20, 300, 2); // height: pixels
  return {PabDef(1), PabRef(1), Text("x"), Begin(SIG_CD_LAYER), cdbuild::Sized(SIG_CD_LAYER, 20),
          position, box, IdName({"lay", "", "", "", "", ""}), Text("in"), End(SIG_CD_LAYER),
          Text("y")};
}

std::vector<Bytes> ImageMapBody() {
  return {PabDef(1), PabRef(1), Text("x"), cdbuild::Sized(SIG_CD_GRAPHIC, sizeof(CDGRAPHIC)),
          Fixed(SIG_CD_MAPELEMENT, 36, {{8, 5}}, "o'map"),
          Fixed(SIG_CD_AREAELEMENT, 32, {{8, 2}, {10, 3}}), Text("y")};
}

std::vector<Bytes> FieldAndLinkBody() {
  return {PabDef(1), PabRef(1), Text("before"),
          cdbuild::Field({.default_formula = "abc",
                          .translation_formula = "de",
                          .validation_formula = "f",
                          .name = "Subject",
                          .description = "what it is about"}),
          HotspotBegin(SIG_CD_V4HOTSPOTBEGIN, 11, 0x1000), TargetFrame("_blank"), Text("link"),
          cdbuild::HotspotEnd(SIG_CD_V4HOTSPOTEND)};
}

class TargetPropertiesTest : public EngineTest {
protected:
  /* What the chunk of the definition answers over a fresh note holding
   * the body: GetTargetProperties, or GetTableProperties when target is
   * null. */
  std::string Answer(const std::vector<Bytes>& body, const char* definition, const char* target,
                     const char* property) {
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteCreate(db_, &note), NOERROR);
    EXPECT_EQ(note_testing::AppendRecords(note, "Body", Records(body)), NOERROR);
    VelkoRTItem item(session_);
    EXPECT_EQ(item.ConnectBackend(note, "Body", 0), NOERROR);
    VelkoRTChunk* chunk = item.DefineChunk(definition);
    EXPECT_NE(chunk, nullptr);
    const char* answer = target != nullptr ? chunk->GetTargetProperties(target, property)
                                           : chunk->GetTableProperties(property);
    std::string text = answer != nullptr ? answer : "(null)";
    EXPECT_EQ(session_->result_length, text.size());
    EXPECT_EQ(chunk->status, NOERROR);
    EXPECT_EQ(chunk->secondary_status, 0);
    item.CleanupTraces();
    NSFNoteClose(note);
    return text;
  }
};

TEST_F(TargetPropertiesTest, EveryTargetTypeAnswersItsProperties) {
  const std::string table =
      "TableWidth=FIT_WITH_MARGINS RowDisplay=TABBED TabSide=BOTTOM TableBodyColor=RGB1,2,3 "
      "TableColor=RGB4,5,6 CellBorderColor=RGB7,8,9 "
      "TableHTMLId='tid' TableHTMLName='tn' TabsEqual=Yes TableColorStyle=Alternating_Rows "
      "CellBorderStyle=GROOVE RowCycleMilliseconds=500 ";
  const std::string layer =
      "ZIndex=3 Scheme=absolute BrowserLeftOffset=10 BrowserRightOffset=21 Top='100px' "
      "Left='1.500000in' Width='50%' Height='300px' LayerHTMLId='lay' ";
  struct Case {
    std::vector<Bytes> (*body)();
    const char* definition;
    const char* target; /* null: GetTableProperties */
    const char* property;
    std::string answer;
  };
  const Case cases[] = {
      {TableBody, "Table 1", nullptr, nullptr, table},
      {TableBody, "Table 1", nullptr, "", table},
      {TableBody, "Table 1", nullptr, "tablecolor", "TableColor=RGB4,5,6 "},
      {TableBody, "Table 1", "Table", "RowCycleMilliseconds", "500"},
      {TableBody, "Table 1", "Table", nullptr, table},
      {TableBody, "Table 1", "tables", "TableWidth", "FIT_WITH_MARGINS"},
      {TableBody, "Table 1", "Table", "TableHTMLName", "tn"},
      {TableBody, "Table 1", "Table", "Bogus", ""},
      {TableBody, "Paragraph 1", "Table", nullptr, ""},
      {SectionBody, "Section 1", "Section", nullptr, "SectionHTMLId='s1' SectionHTMLClass='sc' "},
      {SectionBody, "Section 1", "section", "SectionHTMLClass", "sc"},
      {SectionBody, "Section 1", "Section", "BorderColor", ""},
      {SectionBody, "Everything", "Section", "SectionHTMLId", "s1"},
      {GraphicBody, "Everything", "Graphic", nullptr,
       "AltText=\"it's alt\" Caption='cap' GraphicHTMLId='g1' GraphicHTMLTitle='gt' "},
      {GraphicBody, "Everything", "Graphic", "AltText", "it's alt"},
      {BorderedGraphicBody, "Everything", "Graphic", "BorderStyle", "SOLID"},
      {FieldAndLinkBody, "Field 1", "Field", nullptr, "Fieldname=Subject"},
      {FieldAndLinkBody, "Field 1", "Field", "Fieldname", "Subject"},
      {FieldAndLinkBody, "Everything", "Field", "Name", ""},
      {RuleBody, "HR 1", "HR", nullptr, "FitToWindow='Yes' Width='100%' Height='0.5' "},
      {RuleBody, "HR 1", "HR", "Height", "0.5"},
      {LayerBody, "Layer 1", "Layer", nullptr, layer},
      {LayerBody, "Layer 1", "Layer", "Left", "1.500000in"},
      {FieldAndLinkBody, "URLLink 1", "URLLink", nullptr, "Target=_blank "},
      {FieldAndLinkBody, "URLLink 1", "URLLink", "Target", "_blank"},
      {ImageMapBody, "Everything", "ImageMap", nullptr, "MapName=\"o'map\" "},
      {ImageMapBody, "Everything", "ImageMap", "MapName", "o'map"},
      {ImageMapBody, "Everything", "GraphicHotspot", nullptr, "Shape=circle TabIndex=3 "},
      {ImageMapBody, "Everything", "graphichotspot", "TabIndex", "3"},
      // Types without properties answer nothing.
      {LayerBody, "Everything", "Everything", nullptr, ""},
      {LayerBody, "Everything", "Paragraph", nullptr, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Answer(c.body(), c.definition, c.target, c.property), c.answer)
        << c.definition << " / " << (c.target ? c.target : "table") << " / "
        << (c.property ? c.property : "null");
}

using ChunkAnswerLimitTest = EngineTest;

TEST_F(ChunkAnswerLimitTest, AKeyThatWouldNotFitIsLeftOutWithStatus20017) {
  // Seven link targets of 10000 bytes: six keys take 60048 bytes; the
  // seventh would pass the 65341 the answer holds.
  AppendItem({PabDef(1), PabRef(1), Text("x")});
  for (char name = 'a'; name < 'h'; ++name)
    AppendItem({TargetFrame(std::string(10000, name))});
  VelkoRTChunk* chunk = Chunk("Everything");
  const std::string answer = chunk->GetTargetProperties("URLLink", nullptr);
  ASSERT_EQ(answer.size(), 60048u);
  EXPECT_EQ(session_->result_length, 60048);
  EXPECT_EQ(answer.substr(0, 8), "Target=a");
  EXPECT_EQ(answer.substr(50040, 8), "Target=f");
  EXPECT_EQ(answer.substr(60046), "f ");
  EXPECT_EQ(chunk->status, NOERROR);
  EXPECT_EQ(chunk->secondary_status, VELKO_ERR_INVALID_ARGUMENT);
  // One target read out of the answer stops at its own end.
  EXPECT_EQ(chunk->GetTargetProperties("URLLink", "Target"), std::string(10000, 'a'));
}

} // namespace
