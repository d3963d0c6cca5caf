// The chunk's append methods and SetImageHotspot through the class
// interface: their own refusals, messages and secondary statuses, the
// values they compute (column widths, the layer text, the attachment
// name, the hotspot code and its LotusScript wrapping) and the action and
// parameters each hands to the engine, read back through the dispatch's
// test record.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "store/services.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "tests/chunk/action_record_fixture.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;

/* The template of a button's LotusScript, as the host's script editor
 * writes a module with one Click event. */
const std::string kTemplate =
    std::string("'++LotusScript Development Environment:2:5:(Options):0:66") + "\n\n" +
    "'++LotusScript Development Environment:2:5:(Forward):0:1\n" +
    "Declare Sub Click(Source As Button)\n\n" +
    "'++LotusScript Development Environment:2:5:(Declarations):0:2\n\n" +
    "'++LotusScript Development Environment:2:2:BindEvents:1:129\n" +
    "Private Sub BindEvents(Byval Objectname_ As String)\n" + "  Static Source As BUTTON\n" +
    "  Set Source = Bind(Objectname_)\n" + "  On Event Click From Source Call Click\n" +
    "End Sub\n\n" + "'++LotusScript Development Environment:2:2:Click:1:12\n";

using AppendMethodTest = ActionRecordTest;

TEST_F(AppendMethodTest, HotspotRefusalsShowTheirMessageBeforeAnyAction) {
  struct Case {
    const char* kind;
    bool design;
    const char* message; /* null: none, and no secondary status */
  };
  const Case cases[] = {
      {"POPUP LOTUSSCRIPT", false, "Tarno: Error in argument #1"},
      {"Mouseover JavaScript", true, "Tarno: Error in argument #1"},
      {"Subform", false, "Tarno: Attempt to add subform to data document failed"},
      {"File Upload", false, "Tarno: Attempt to add file upload to data document failed"},
      {"Subform LotusScript", true,
       "Tarno: Subform specified by other than simple name or formula"},
      {"Hyperlink", false, nullptr},
      {nullptr, false, nullptr},
  };
  VelkoRTChunk* chunk = Body();
  for (const Case& c : cases) {
    const char* kind = c.kind != nullptr ? c.kind : "(null)";
    item_->internal->design_element = c.design ? 1 : 0;
    chunk->secondary_status = 0;
    chunk->status = 77;
    HostTestClearMessages();
    EXPECT_EQ(chunk->AppendHotspot(c.kind, "@True", 5, "", "x", 1), VELKO_ERR_BAD_ARGUMENT) << kind;
    EXPECT_EQ(chunk->secondary_status, c.message ? VELKO_ERR_INVALID_ARGUMENT : 0) << kind;
    EXPECT_EQ(chunk->status, 77) << kind;
    EXPECT_EQ(note_testing::MessageTexts(),
              c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{})
        << kind;
  }
  EXPECT_TRUE(Actions().empty());
}

TEST_F(AppendMethodTest, HotspotIssuesItsTypeCodeAndDefaultLabel) {
  VelkoRTChunk* chunk = Body();
  struct Case {
    const char* kind;
    const char* code;
    WORD type;
    DWORD codeKind;
    std::string stored; /* the code from byte 16 of the result text */
  };
  const Case cases[] = {
      {"Button JavaScript", "alert(1)", 3, 0x200000, std::string("alert(1)", 9)},
      {"ACTION text", "plain", 2, 0, std::string("plain", 6)},
      {"button lotusscript", "MsgBox 1", 3, 0x100,
       kTemplate + "Sub Click(Source As Button)\nMsgBox 1\nEnd Sub"},
      {"Button LotuScript", "Sub Click(Source As Button)\nEnd Sub", 3, 0x100,
       kTemplate + "Sub Click(Source As Button)\nEnd Sub"},
      {"FileUpload", "x", 24, 0, std::string("x", 2)},
  };
  item_->internal->design_element = 1;
  for (const Case& c : cases) {
    VelkoTestResetActionRecord();
    const WORD codeLength = static_cast<WORD>(std::strlen(c.code));
    chunk->AppendHotspot(c.kind, c.code, codeLength, "opts", "label", 0);
    ASSERT_EQ(Actions().size(), 1u) << c.kind;
    const recorded_action& a = Last();
    EXPECT_EQ(a.action, ACTION_APPEND_HOTSPOT) << c.kind;
    EXPECT_EQ(a.p3, codeLength) << c.kind;
    EXPECT_EQ(a.p4, 14) << c.kind;
    EXPECT_EQ(a.s1, "opts") << c.kind;
    EXPECT_EQ(a.s2, "Action Hotspot") << c.kind;
    EXPECT_EQ(session_->internal->hotspot_type, c.type) << c.kind;
    EXPECT_EQ(session_->internal->hotspot_code_kind, c.codeKind) << c.kind;
    EXPECT_EQ(session_->result_length, c.stored.size()) << c.kind;
    EXPECT_EQ(std::string(session_->result_text + 16, c.stored.size()), c.stored) << c.kind;
  }
}

TEST_F(AppendMethodTest, HotspotFormulaIsCompiledOrRefusedWithTheHostText) {
  VelkoRTChunk* chunk = Body();
  EXPECT_EQ(chunk->AppendHotspot("Button Formula", "@If(", 4, "", "go", 2), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(chunk->secondary_status, VELKO_ERR_INVALID_ARGUMENT);
  ASSERT_EQ(note_testing::MessageTexts().size(), 1u);
  EXPECT_EQ(note_testing::MessageTexts()[0].rfind("Tarno: ", 0), 0u);
  EXPECT_GT(note_testing::MessageTexts()[0].size(), 7u);
  EXPECT_TRUE(Actions().empty());

  chunk->AppendHotspot("Button Formula", "@Prompt([Ok]; \"a\"; \"b\")", 0, "", "go", 2);
  ASSERT_EQ(Actions().size(), 1u);
  EXPECT_EQ(Last().s2, "go");
  EXPECT_EQ(Last().p4, 2);
  EXPECT_GT(session_->result_length, 0);
}

TEST_F(AppendMethodTest, HotspotCodeMustFitTheResultText) {
  VelkoRTChunk* chunk = Body();
  // Code and its NUL: 65341 bytes fit, one more does not.
  for (size_t length : {size_t{65340}, size_t{65341}}) {
    VelkoTestResetActionRecord();
    chunk->secondary_status = 0;
    const std::string code(length, 'a');
    const STATUS status = chunk->AppendHotspot("Button JavaScript", code.c_str(), 0, "", "x", 1);
    if (length == 65340) {
      EXPECT_EQ(Actions().size(), 1u);
      EXPECT_EQ(session_->result_length, 65341);
    } else {
      EXPECT_EQ(status, VELKO_ERR_BAD_ARGUMENT);
      EXPECT_EQ(chunk->secondary_status, VELKO_ERR_INVALID_ARGUMENT);
      EXPECT_TRUE(Actions().empty());
    }
  }
  // The template counts too.
  const std::string script(65341 - kTemplate.size() - 30, 'b');
  EXPECT_EQ(chunk->AppendHotspot("Button LotusScript", script.c_str(), 0, "", "x", 1),
            VELKO_ERR_BAD_ARGUMENT);
  EXPECT_TRUE(Actions().empty());
}

TEST_F(AppendMethodTest, ImageHotspotKindsCodeAndLabel) {
  VelkoRTChunk* chunk = Body();
  EXPECT_EQ(chunk->SetImageHotspot("Formula Script", "@True", 0, "", "x", 1), VELKO_ERR_FAILED);
  EXPECT_EQ(chunk->SetImageHotspot("Formula", "@If(", 0, "", "x", 1), VELKO_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(note_testing::MessageTexts().size(), 1u);
  EXPECT_TRUE(Actions().empty());

  // Scripts would be dropped by the image map: refused.
  const DWORD blocks = VelkoTrackedBlocksInUse(session_);
  EXPECT_EQ(chunk->SetImageHotspot("lotusscript", "MsgBox 2", 8, "o", nullptr, 9),
            VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(chunk->SetImageHotspot("JavaScript", "f()", 0, "", "lbl", 3), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_TRUE(Actions().empty());
  EXPECT_EQ(VelkoTrackedBlocksInUse(session_), blocks);

  // The formula goes where hotspot code lies, behind 16 free bytes, and the
  // code kind is the image map's formula kind.
  session_->internal->hotspot_code_kind = 0x10;
  chunk->SetImageHotspot("formula", "@True", 0, "o", nullptr, 9);
  ASSERT_EQ(Actions().size(), 1u);
  const recorded_action& a = Last();
  EXPECT_EQ(a.action, ACTION_SET_IMAGE_HOTSPOT);
  EXPECT_EQ(a.s1, "o");
  EXPECT_EQ(a.s2, "Default");
  EXPECT_EQ(a.p3, 0);
  EXPECT_EQ(a.p4, 9);
  EXPECT_EQ(a.parameter_text, "formula");
  EXPECT_EQ(session_->internal->hotspot_code_kind, 1u);
  EXPECT_EQ(std::string(session_->result_text + 16, 2), "FM");
  EXPECT_EQ(session_->internal->parameter_text, nullptr);
  // The kind's copy is released by each call (the walk of the first one
  // loaded and rewrote the item's records).
  const DWORD afterOne = VelkoTrackedBlocksInUse(session_);
  chunk->SetImageHotspot("formula", "@True", 0, "o", nullptr, 9);
  EXPECT_EQ(VelkoTrackedBlocksInUse(session_), afterOne);
}

TEST_F(AppendMethodTest, LayerPlacementIsCheckedInOrder) {
  VelkoRTChunk* chunk = Body();
  struct Case {
    const char* top;
    const char* left;
    const char* height;
    const char* width;
    const char* name;
  };
  const Case cases[] = {
      {"10 px", "1;", nullptr, nullptr, "top"},
      {nullptr, "1;", "a b", nullptr, "left"},
      {"", "", "5px;", "x y", "height"},
      {"1px", "2px", "3px", "4 px", "width"},
  };
  for (const Case& c : cases) {
    HostTestClearMessages();
    chunk->secondary_status = 0;
    EXPECT_EQ(chunk->AppendLayer(c.top, c.left, c.height, c.width, 0, "", "", nullptr, 0),
              VELKO_ERR_INVALID_ARGUMENT)
        << c.name;
    EXPECT_EQ(chunk->secondary_status, VELKO_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(note_testing::MessageTexts(),
              std::vector<std::string>{std::string("TARNO: Invalid '") + c.name +
                                       "' for AppendLayer. No spaces or semicolons!"});
  }
  EXPECT_TRUE(Actions().empty());
}

TEST_F(AppendMethodTest, LayerTextAndFormula) {
  VelkoRTChunk* chunk = Body();
  const STATUS status = chunk->AppendLayer(nullptr, "", nullptr, "", 3, "opt", "more", nullptr, 0);
  ASSERT_EQ(Actions().size(), 1u);
  EXPECT_EQ(Last().action, ACTION_APPEND_LAYER);
  EXPECT_EQ(Last().p1, 3);
  EXPECT_EQ(Last().s1, "opt");
  EXPECT_EQ(Last().s2, "auto;auto;250px;150px;more");
  EXPECT_EQ(status, chunk->status); // the engine's status when it refuses

  // top, left, width, height: the width comes before the height.
  chunk->AppendLayer("1in", "2in", "3in", "4in", 0, nullptr, nullptr, "@If(", 4);
  EXPECT_EQ(Last().s2, "1in;2in;4in;3in;");
  EXPECT_EQ(Last().result_text, "");
  EXPECT_EQ(chunk->secondary_status, VELKO_ERR_INVALID_ARGUMENT);
}

TEST_F(AppendMethodTest, TableCountsAreChecked) {
  VelkoRTChunk* chunk = Body();
  const WORD counts[][2] = {{0, 1}, {256, 1}, {1, 0}, {1, 65}};
  for (const auto& count : counts)
    EXPECT_EQ(chunk->AppendTable(count[0], count[1], 0, nullptr, nullptr),
              VELKO_ERR_INVALID_ARGUMENT)
        << count[0] << "x" << count[1];
  EXPECT_TRUE(Actions().empty());
}

TEST_F(AppendMethodTest, TableColumnWidths) {
  VelkoRTChunk* chunk = Body();
  struct Case {
    const char* options;
    const char* text;
    WORD twips;
    WORD flag;
    std::string cell; /* the column text the engine sees */
  };
  const Case cases[] = {
      {nullptr, "Width=72px", 1080, 0, "Width=72px CellHTMLOther=\"width='72'\""},
      {"PixelMultiplier=72", "Width=72px", 1440, 0, "Width=72px CellHTMLOther=\"width='72'\""},
      {"PixelMultiplier=1000", "Width=96px", 1440, 0, "Width=96px CellHTMLOther=\"width='96'\""},
      {nullptr, "Width=50%", 4320, 0, "Width=50% CellHTMLOther=\"width='50%'\""},
      {nullptr, "Width=-1.5", 2160, 1, "Width=-1.5"},
      // Widths out of range or not a number are clamped.
      {nullptr, "Width=1e30px", 0xFFFF, 0, "Width=1e30px CellHTMLOther=\"width='2147483647'\""},
      {nullptr, "Width=nan", 0, 0, "Width=nan"},
      {nullptr, "Text=a", 2880, 0, "Text=a"},
      {nullptr, "", 2880, 0, ""},
  };
  for (const Case& c : cases) {
    VelkoTestResetActionRecord();
    const char* texts[3] = {nullptr, c.text, nullptr};
    chunk->AppendTable(2, 3, 1, c.options, texts);
    ASSERT_EQ(Actions().size(), 1u) << c.text;
    EXPECT_EQ(Last().action, ACTION_APPEND_TABLE);
    EXPECT_EQ(Last().p1, 3);
    EXPECT_EQ(Last().p2, 2);
    EXPECT_EQ(Last().cell_texts[1], c.cell) << c.text;
    EXPECT_EQ(Last().cell_texts[0], "");
    EXPECT_EQ(session_->internal->column_widths[0], 2880) << c.text;
    EXPECT_EQ(session_->internal->column_widths[1], c.twips) << c.text;
    EXPECT_EQ(session_->internal->column_width_flags[1], c.flag) << c.text;
    EXPECT_EQ(session_->internal->adjustable_table, 1u);
    for (char* slot : session_->internal->cell_texts)
      EXPECT_EQ(slot, nullptr);
  }
}

TEST_F(AppendMethodTest, RowNeedsATableOrRowChunk) {
  AppendItem({PabDef(1), PabRef(1), TableBegin(), Cell(0, 0), Text("a"), Cell(1, 0), Text("b"),
              TableEnd()});
  VelkoRTChunk* column = Chunk("Table 1; Column 1");
  EXPECT_EQ(column->AppendRow(0, 1, nullptr), VELKO_ERR_NOT_TABLE_OR_ROW);
  EXPECT_TRUE(Actions().empty());

  VelkoRTChunk* table = Chunk("Table 1");
  const char* cells[20] = {"x", nullptr, "z"};
  table->AppendRow(0, 2, cells);
  ASSERT_EQ(Actions().size(), 2u);
  EXPECT_EQ(Actions()[0].action, ACTION_QUERY_RECORDS);
  EXPECT_EQ(Actions()[0].extra, "Row 2");
  EXPECT_EQ(Actions()[1].action, ACTION_APPEND_ROW);
  EXPECT_NE(Actions()[1].p1, 0);
  EXPECT_EQ(Actions()[1].cell_texts[0], "x");
  EXPECT_EQ(Actions()[1].cell_texts[2], "z");
  for (char* slot : session_->internal->cell_texts)
    EXPECT_EQ(slot, nullptr);

  VelkoTestResetActionRecord();
  table->AppendRow(0, 0, nullptr);
  EXPECT_EQ(Actions()[0].extra, "Row 1");
}

TEST_F(AppendMethodTest, KindsThatAreRefused) {
  VelkoRTChunk* chunk = Body();
  EXPECT_EQ(chunk->AppendGraphic("ATTACHMENT", "a.gif", nullptr), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(chunk->AppendGraphic("Picture", "a.gif", nullptr), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(chunk->AppendHTML("URL", "http://x", nullptr), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(chunk->AppendHTML("Web", "x", nullptr), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(
      chunk->AppendLink("a", 0, "no colon", nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0),
      VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(chunk->AppendFormBody(nullptr), NOERROR);
  EXPECT_TRUE(Actions().empty());
}

TEST_F(AppendMethodTest, ActionsAndParametersIssued) {
  VelkoRTChunk* chunk = Body();
  struct Case {
    const char* name;
    void (*call)(VelkoRTChunk*);
    WORD action, p1, p2, p3, p4;
    const char* s1;
    const char* s2;
  };
  const Case cases[] = {
      {"text", [](VelkoRTChunk* c) { c->AppendText("hi", 2, "Bold"); }, 2361, 0, 2, 0, 0, "hi",
       "Bold"},
      {"new lines", [](VelkoRTChunk* c) { c->AppendNewLines(40, 1); }, 2354, 40, 1, 0, 0, nullptr,
       nullptr},
      {"tabs", [](VelkoRTChunk* c) { c->AppendTabs(3); }, 2360, 3, 0, 0, 0, nullptr, nullptr},
      {"page break", [](VelkoRTChunk* c) { c->AppendPageBreak(); }, 2409, 0, 0, 0, 0, nullptr,
       nullptr},
      {"anchor", [](VelkoRTChunk* c) { c->AppendAnchor("top", 0); }, 2351, 0, 3, 0, 0, "top",
       nullptr},
      {"anchor past its name", [](VelkoRTChunk* c) { c->AppendAnchor("top", 200); }, 2351, 0, 3, 0,
       0, "top", nullptr},
      {"anchor part", [](VelkoRTChunk* c) { c->AppendAnchor("top", 2); }, 2351, 0, 2, 0, 0, "top",
       nullptr},
      {"url graphic", [](VelkoRTChunk* c) { c->AppendGraphic("url", "http://h/a.gif", "o"); }, 2438,
       2, 0, 0, 0, "http://h/a.gif", "o"},
      {"file graphic", [](VelkoRTChunk* c) { c->AppendGraphic(nullptr, "/x/a.gif", "Attach=no"); },
       2352, 1, 0, 0, 1, "/x/a.gif", nullptr},
      {"html", [](VelkoRTChunk* c) { c->AppendHTML("inline", "<b>x</b>", "o"); }, 2448, 3, 0, 0, 0,
       "<b>x</b>", "o"},
      {"html context", [](VelkoRTChunk* c) { c->AppendHTML("bodycontext", "t", nullptr); }, 2448, 4,
       0, 0, 0, "t", nullptr},
      {"attachment", [](VelkoRTChunk* c) { c->AppendFileAttachment("/f", "n", 2, ""); }, 2812, 2, 0,
       0, 0, "/f", "n"},
      {"link",
       [](VelkoRTChunk* c) {
         c->AppendLink("a", 1, "db:view", "t2", nullptr, "t4", 2, "t5", 3, "t6", 4);
       },
       2353, 1, 2, 3, 4, "a", nullptr},
      {"paragraph", [](VelkoRTChunk* c) { c->AppendParagraph("Bold", "o", nullptr, 0); }, 2417, 0,
       0, 0, 0, "Bold", "o"},
  };
  for (const Case& c : cases) {
    VelkoTestResetActionRecord();
    c.call(chunk);
    ASSERT_FALSE(Actions().empty()) << c.name;
    const recorded_action& a = Last();
    EXPECT_EQ(a.action, c.action) << c.name;
    EXPECT_EQ(a.p1, c.p1) << c.name;
    EXPECT_EQ(a.p2, c.p2) << c.name;
    EXPECT_EQ(a.p3, c.p3) << c.name;
    EXPECT_EQ(a.p4, c.p4) << c.name;
    EXPECT_EQ(a.has_s1, c.s1 != nullptr) << c.name;
    EXPECT_EQ(a.s1, c.s1 ? c.s1 : "") << c.name;
    EXPECT_EQ(a.has_s2, c.s2 != nullptr) << c.name;
    EXPECT_EQ(a.s2, c.s2 ? c.s2 : "") << c.name;
  }
  EXPECT_STREQ(chunk->event_strings[0], "db:view");
  EXPECT_STREQ(chunk->event_strings[1], "t2");
  EXPECT_EQ(chunk->event_strings[2], nullptr);
  EXPECT_STREQ(chunk->event_strings[5], "t6");
  EXPECT_EQ(chunk->link_mode, 4);
}

TEST_F(AppendMethodTest, ParagraphFormulaCompiledOrRefused) {
  VelkoRTChunk* chunk = Body();
  EXPECT_EQ(chunk->AppendParagraph("Bold", nullptr, "@If(", 4), VELKO_ERR_FAILED);
  EXPECT_TRUE(Actions().empty());
  EXPECT_EQ(session_->result_length, 0);
  chunk->AppendParagraph("Bold", nullptr, "@True", 5);
  ASSERT_EQ(Actions().size(), 1u);
  EXPECT_FALSE(Last().result_text.empty());
}

TEST_F(AppendMethodTest, CompiledFormulasMustFitTheResultText) {
  VelkoRTChunk* chunk = Body();
  // A text constant compiles to at least its own bytes.
  const std::string formula = "\"" + std::string(65400, 'a') + "\"";
  const WORD length = static_cast<WORD>(formula.size());
  EXPECT_EQ(chunk->AppendParagraph("Bold", nullptr, formula.c_str(), length),
            VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(chunk->secondary_status, VELKO_ERR_INVALID_ARGUMENT);
  chunk->secondary_status = 0;
  EXPECT_EQ(chunk->AppendLayer(nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                               formula.c_str(), length),
            VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(chunk->secondary_status, VELKO_ERR_INVALID_ARGUMENT);
  chunk->secondary_status = 0;
  EXPECT_EQ(chunk->AppendHotspot("Button Formula", formula.c_str(), length, "", "x", 1),
            VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(chunk->secondary_status, VELKO_ERR_INVALID_ARGUMENT);
  EXPECT_TRUE(note_testing::MessageTexts().empty());
  EXPECT_TRUE(Actions().empty());
}

TEST_F(AppendMethodTest, BodyAppendsPrepareTheDefinitionFirst) {
  VelkoRTChunk* chunk = Body();
  chunk->AppendSubformBody("Sub");
  ASSERT_EQ(Actions().size(), 2u);
  EXPECT_EQ(Actions()[0].action, ACTION_PREPARE_APPEND);
  EXPECT_EQ(Actions()[0].p1, 2);
  EXPECT_EQ(Actions()[1].action, ACTION_APPEND_SUBFORM_BODY);
  EXPECT_EQ(Actions()[1].p1, session_->internal->append_parameter);
  EXPECT_EQ(Actions()[1].s1, "Sub");
  EXPECT_EQ(Actions()[1].other, chunk);
}

TEST_F(AppendMethodTest, AttachedGraphicTakesAFreeName) {
  const std::string dir = file_testing::MakeDataDirectory("velko-wmethods");
  ASSERT_FALSE(dir.empty());
  const std::string path = dir + "/a.gif";
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("GIF89a", file);
  std::fclose(file);
  ASSERT_EQ(NSFNoteAttachFile(note_, "$FILE", 5, path.c_str(), "a.gif", 0), NOERROR);
  ASSERT_EQ(NSFNoteAttachFile(note_, "$FILE", 5, path.c_str(), "Att0.gif", 0), NOERROR);
  VelkoRTChunk* chunk = Body();
  chunk->AppendGraphic("File", path.c_str(), "Attach=yes");
  ASSERT_EQ(Actions().size(), 1u);
  EXPECT_EQ(Last().action, ACTION_APPEND_GRAPHIC);
  EXPECT_EQ(Last().p1, 1);
  EXPECT_EQ(Last().s1, "Att1.gif");
  EXPECT_EQ(Last().s2, "Attach=yes");
  char name[MAXPATH + 1];
  EXPECT_EQ(ExternalFileNameFromInternal(note_, "Att1.gif", name), NOERROR);
  std::remove(path.c_str());
  std::remove(dir.c_str());
}

} // namespace

namespace {

using namespace engine_test;

class AppendOtherNoteTest : public AppendMethodTest {
protected:
  /* A stored note of the database with an item "Other" of one paragraph. */
  NOTEID OtherNote() {
    return note_testing::StoreNote(db_, Records({PabDef(1), PabRef(1), Text("other")}), "Other");
  }
};

TEST_F(AppendOtherNoteTest, ItemAppendChecksTheNoteAndItsItem) {
  VelkoRTChunk* chunk = Body();
  const NOTEID id = OtherNote();
  ASSERT_NE(id, 0u);
  EXPECT_EQ(chunk->AppendRTItem("", nullptr, id, "Other"), VELKO_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(chunk->AppendRTItem("", kDbPath, id, nullptr), VELKO_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(chunk->AppendRTItem("", kDbPath, id, "Missing"), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_TRUE(Actions().empty());

  chunk->secondary_status = 0;
  const STATUS status = chunk->AppendRTItem("", kDbPath, id, "Other");
  ASSERT_EQ(Actions().size(), 2u);
  EXPECT_EQ(Actions()[0].action, ACTION_PREPARE_APPEND);
  EXPECT_EQ(Actions()[0].p1, 5);
  EXPECT_EQ(Actions()[1].action, ACTION_APPEND_RTITEM);
  EXPECT_EQ(Actions()[1].s1, "Other");
  EXPECT_EQ(chunk->secondary_status, status != NOERROR ? VELKO_ERR_IMPORT_FAILED : 0);
  EXPECT_EQ(session_->internal->append_note, NULLHANDLE);
  EXPECT_EQ(session_->internal->append_item_name, nullptr);
}

TEST_F(AppendOtherNoteTest, ChunkAppendNeedsItsTarget) {
  VelkoRTChunk* chunk = Body();
  const NOTEID id = OtherNote();
  ASSERT_NE(id, 0u);
  EXPECT_EQ(chunk->AppendRTChunk("", kDbPath, id, "Other", "Paragraph 5", 1),
            VELKO_ERR_ITEM_NOT_FOUND);
  ASSERT_EQ(Actions().size(), 1u);
  EXPECT_EQ(Actions()[0].action, ACTION_QUERY_RECORDS);
  EXPECT_NE(Actions()[0].other, chunk);

  VelkoTestResetActionRecord();
  chunk->AppendRTChunk("", kDbPath, id, "Other", "Paragraph 1", 0);
  ASSERT_EQ(Actions().size(), 3u);
  EXPECT_EQ(Actions()[0].action, ACTION_PREPARE_APPEND);
  EXPECT_EQ(Actions()[0].p1, 3);
  EXPECT_EQ(Actions()[2].action, ACTION_APPEND_RTCHUNK);
  EXPECT_EQ(Actions()[2].p2, 0);
  EXPECT_NE(Actions()[2].other, nullptr);
  EXPECT_NE(Actions()[2].other, chunk);
}

} // namespace
