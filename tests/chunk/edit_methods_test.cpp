// The chunk's edit methods through the class interface: the arguments each
// refuses before any action, the values it computes (the replace scope,
// the cut table text, the sort passes) and the action and parameters it
// hands to the engine, read back through the dispatch's test record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "store/session.h"
#include "store/vocabulary.h"
#include "tests/chunk/action_record_fixture.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;

using EditMethodTest = ActionRecordTest;

TEST_F(EditMethodTest, RefusalsRunNothing) {
  VelkoRTChunk* chunk = Body();
  struct Case {
    const char* name;
    STATUS (*call)(VelkoRTChunk*);
    STATUS result;
  };
  const Case cases[] = {
      {"ChangeFont null", [](VelkoRTChunk* c) { return c->ChangeFont(nullptr, "x", 1); }, 0},
      {"ChangeParagraph null", [](VelkoRTChunk* c) { return c->ChangeParagraph(nullptr, "", 0); },
       0},
      {"ChangeTable null", [](VelkoRTChunk* c) { return c->ChangeTable(nullptr, 4); }, 0},
      {"ChangeTable empty", [](VelkoRTChunk* c) { return c->ChangeTable("Width=1in", 0); }, 0},
      {"ExportGraphic null", [](VelkoRTChunk* c) { return c->ExportGraphic(nullptr, ""); }, 1028},
      {"ConvertBitmaps", [](VelkoRTChunk* c) { return c->ConvertBitmaps("x"); }, 0},
      {"HighlightText null", [](VelkoRTChunk* c) { return c->HighlightText(nullptr, 3); }, 20017},
      {"ReplaceTextQuick no find",
       [](VelkoRTChunk* c) { return c->ReplaceTextQuick(nullptr, 0, "x", 1, nullptr); }, 20017},
      {"ReplaceTextQuick no replacement",
       [](VelkoRTChunk* c) { return c->ReplaceTextQuick("x", 1, nullptr, 0, nullptr); }, 20017},
      {"SetText empty", [](VelkoRTChunk* c) { return c->SetText("", "x", 0, nullptr); }, 0},
      {"SetText null", [](VelkoRTChunk* c) { return c->SetText(nullptr, "x", 0, nullptr); }, 0},
      {"SortByRow off a table", [](VelkoRTChunk* c) { return c->SortByRow(1, 0, 0, 0, nullptr); },
       20023},
      {"RefreshAttachmentIcon", [](VelkoRTChunk* c) { return c->RefreshAttachmentIcon(1, "t"); },
       257},
      {"RenameAttachment", [](VelkoRTChunk* c) { return c->RenameAttachment("n", 1, ""); }, 257},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.call(chunk), c.result) << c.name;
  EXPECT_EQ(chunk->FontInUse(nullptr), 0);
  EXPECT_EQ(session_->internal->parameter_text, nullptr);
  EXPECT_TRUE(Actions().empty());
}

TEST_F(EditMethodTest, SortByRowOnARowChunkIsRefused) {
  AppendItem({PabDef(1), PabRef(1), TableBegin(), Cell(0, 0), Text("a"), TableEnd()});
  EXPECT_EQ(Chunk("Table 1; Row 1")->SortByRow(1, 0, 0, 0, nullptr), VELKO_ERR_NOT_TABLE);
  EXPECT_TRUE(Actions().empty());
}

TEST_F(EditMethodTest, ReplaceScopeFromTheOptions) {
  VelkoRTChunk* chunk = Body();
  struct Case {
    const char* options;
    WORD mask;
  };
  const Case cases[] = {
      {nullptr, 1},        {"", 1},
      {"NONTEXT", 2},      {"TEXT NONTEXT", 3},
      {"NONTEXT TEXT", 3}, {"EVERYTHING", 31},
      {"FORMULA URL", 20}, {"HIDEWHEN", 8},
      {"text", 0},         {"CONTEXT", 0},
      {"CONTEXT TEXT", 1}, {"TEXTURE", 1},
      {"URL,TEXT", 17},    {"NONTEXT,RICHTEXT", 3},
  };
  for (const Case& c : cases) {
    VelkoTestResetActionRecord();
    chunk->ReplaceTextQuick("ab", 2, "xyz", 3, c.options);
    ASSERT_EQ(Actions().size(), 1u);
    const recorded_action& a = Actions().back();
    EXPECT_EQ(a.action, ACTION_REPLACE_TEXT_QUICK);
    EXPECT_EQ(a.p3, c.mask) << (c.options ? c.options : "(null)");
    EXPECT_EQ(a.p1, 3);
    EXPECT_EQ(a.p2, 2);
    EXPECT_EQ(a.s1, "xyz");
    EXPECT_EQ(a.s2, "ab");
  }
}

TEST_F(EditMethodTest, ActionsAndParametersIssued) {
  VelkoRTChunk* chunk = Body();
  struct Case {
    const char* name;
    void (*call)(VelkoRTChunk*);
    WORD action, p1, p2;
    const char* s1;
    const char* s2;
    const char* extra;
  };
  const Case cases[] = {
      {"font", [](VelkoRTChunk* c) { c->ChangeFont("Bold", "o", 7); }, 2363, 7, 0, "Bold", "o", ""},
      {"paragraph", [](VelkoRTChunk* c) { c->ChangeParagraph("Center", nullptr, 2); }, 2364, 2, 0,
       "Center", nullptr, ""},
      {"table cut", [](VelkoRTChunk* c) { c->ChangeTable("Width=1in", 5); }, 2413, 0, 0, "Width",
       nullptr, ""},
      {"table whole", [](VelkoRTChunk* c) { c->ChangeTable("Border=1", 200); }, 2413, 0, 0,
       "Border=1", nullptr, ""},
      {"expand", [](VelkoRTChunk* c) { c->ExpandPabDefs("o"); }, 69, 0, 0, "o", nullptr, ""},
      {"export", [](VelkoRTChunk* c) { c->ExportGraphic("/f.gif", "o"); }, 2367, 0, 0, "/f.gif",
       "o", ""},
      {"highlight", [](VelkoRTChunk* c) { c->Highlight(3); }, 2372, 3, 0, nullptr, nullptr, ""},
      {"highlight text", [](VelkoRTChunk* c) { c->HighlightText("abcd", 0); }, 2373, 0, 4, nullptr,
       "abcd", ""},
      {"highlight part", [](VelkoRTChunk* c) { c->HighlightText("abcd", 2); }, 2373, 0, 2, nullptr,
       "abcd", ""},
      {"fields", [](VelkoRTChunk* c) { c->RemoveFields("Name", 0); }, 2430, 4, 0, "Name", nullptr,
       ""},
      {"hotspots", [](VelkoRTChunk* c) { c->RemoveHotspots(); }, 2389, 0, 0, nullptr, nullptr, ""},
      {"links", [](VelkoRTChunk* c) { c->RemoveLinks(1); }, 2390, 1, 0, nullptr, nullptr, ""},
      {"sections", [](VelkoRTChunk* c) { c->RemoveSections(); }, 2391, 0, 0, nullptr, nullptr, ""},
      {"set text", [](VelkoRTChunk* c) { c->SetText("Paragraph 1", "xyz", 0, "Bold"); }, 10, 2332,
       3, "xyz", "Bold", "Paragraph 1"},
      {"set null text", [](VelkoRTChunk* c) { c->SetText("Paragraph 1", nullptr, 0, nullptr); }, 10,
       2332, 0, "", nullptr, "Paragraph 1"},
      /* no text: no length of it is passed on */
      {"set null text with a length",
       [](VelkoRTChunk* c) { c->SetText("Paragraph 1", nullptr, 35, nullptr); }, 10, 2332, 0, "",
       nullptr, "Paragraph 1"},
      {"font in use", [](VelkoRTChunk* c) { c->FontInUse("Arial"); }, 2368, 0, 0, "Arial", nullptr,
       ""},
  };
  for (const Case& c : cases) {
    VelkoTestResetActionRecord();
    c.call(chunk);
    ASSERT_FALSE(Actions().empty()) << c.name;
    const recorded_action& a = Actions().back();
    EXPECT_EQ(a.action, c.action) << c.name;
    EXPECT_EQ(a.p1, c.p1) << c.name;
    EXPECT_EQ(a.p2, c.p2) << c.name;
    EXPECT_EQ(a.has_s1, c.s1 != nullptr) << c.name;
    EXPECT_EQ(a.s1, c.s1 ? c.s1 : "") << c.name;
    EXPECT_EQ(a.has_s2, c.s2 != nullptr) << c.name;
    EXPECT_EQ(a.s2, c.s2 ? c.s2 : "") << c.name;
    EXPECT_EQ(a.extra, c.extra) << c.name;
  }
}

TEST_F(EditMethodTest, ExportBringsTheImageInlineFirst) {
  VelkoRTChunk* chunk = Body();
  chunk->ExportGraphic("/f.gif", nullptr);
  ASSERT_EQ(Actions().size(), 2u);
  EXPECT_EQ(Actions()[0].action, ACTION_SET_GRAPHIC_STORAGE);
  EXPECT_EQ(Actions()[0].p1, ACTION_EXPORT_GRAPHIC);
  EXPECT_EQ(Actions()[0].s1, "inline");
}

TEST_F(EditMethodTest, ChangeTableLeavesTheCallersText) {
  VelkoRTChunk* chunk = Body();
  char text[] = "Width=1in";
  chunk->ChangeTable(text, 5);
  EXPECT_STREQ(text, "Width=1in");
}

TEST_F(EditMethodTest, FontInUseReadsTheEnginesAnswer) {
  VelkoRTChunk* chunk = Body();
  std::strcpy(session_->scratch_first, "1");
  chunk->FontInUse("Arial");
  // Cleared to "0" before the action: a stale "1" is not an answer.
  EXPECT_EQ(Actions().back().scratch_first, "0");
  // The body's one run is 10pt in face 1: Arial, black.
  EXPECT_EQ(chunk->FontInUse("Arial"), 1);
  EXPECT_EQ(chunk->FontInUse("Arial 12pt"), 0);
}

TEST_F(EditMethodTest, SortPassesRunFromTheLastSecondaryKey) {
  std::vector<Bytes> records = {PabDef(1), PabRef(1), TableBegin()};
  for (BYTE row = 0; row < 3; ++row)
    for (BYTE column = 0; column < 3; ++column) {
      records.push_back(Cell(row, column));
      records.push_back(Text(std::string(1, static_cast<char>('c' - row)) + char('0' + column)));
    }
  records.push_back(TableEnd());
  AppendItem(records);
  VelkoRTChunk* table = Chunk("Table 1");
  table->SortByRow(1, 1, 1, 0, "SecondaryRow2=3 SecondaryReverse2=yes SortBy=RowLabel");
  ASSERT_FALSE(Actions().empty());
  const recorded_action& first = Actions()[0];
  EXPECT_EQ(first.action, ACTION_COLLECT_SORT_KEYS);
  EXPECT_EQ(first.p1, 2); // column 3
  EXPECT_EQ(first.p2, 1);
  EXPECT_EQ(first.p3, 1);
  EXPECT_EQ(first.s2, "TabLabel");
  if (Actions().size() > 1) {
    EXPECT_EQ(Actions()[1].action, ACTION_SORT_BY_ROW);
    EXPECT_EQ(Actions()[1].s1, "Reverse");
    EXPECT_EQ(Actions()[1].extra, "Row *");
  }

  VelkoTestResetActionRecord();
  table->SortByRow(2, 1, 0, 0, "TitleRows=0");
  ASSERT_FALSE(Actions().empty());
  EXPECT_EQ(Actions()[0].p1, 1);
  EXPECT_EQ(Actions()[0].p2, 0);
  EXPECT_EQ(Actions()[0].p3, 0);
  EXPECT_EQ(Actions()[0].s2, "TEXT");
}

} // namespace
