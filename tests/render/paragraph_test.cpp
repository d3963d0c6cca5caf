// Paragraph rendering beyond the golden corpus: classes and alignment at
// their edges, the inline style text, closing what the previous paragraph
// left open, hidden paragraphs and what follows them, a border after the
// text, the first paragraph of a table cell, and paragraph style mappings.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver_fixture.h"
#include "render/tag_stack.h"
#include "store/rtitem_internal.h"

namespace {

using cdbuild::Body;
using cdbuild::Bytes;
using driver_testing::AddFirstParagraph;
using driver_testing::AddParagraph;
using driver_testing::Border;
using driver_testing::Definition;
using driver_testing::Sheet;
using driver_testing::Text;

constexpr WORD kRight = 1;
constexpr WORD kNone = 4;

using ParagraphTest = driver_testing::DriverTest;

/* "Start" in definition 1, then a paragraph of definition 2. */
Body SecondParagraph(const Bytes &definition, const std::string &text) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  body.Add(cdbuild::Paragraph()).Add(definition).Add(cdbuild::PabRef(2)).Add(Text(text));
  return body;
}

TEST_F(ParagraphTest, ClassOfAReferenceWithoutADefinitionAndNoAlignmentOfJustifyNone) {
  Body body = SecondParagraph(Definition(2, 1440, 0, 0, kNone), "None");
  AddParagraph(body, 7, "Orphan");
  EXPECT_EQ(Render(body),
            Sheet("div.pabid1 {}div.pabid2 {}") +
                "Start<div class=\"pabid2\">None</div><div class=\"pabid7\">Orphan</div>");
}

TEST_F(ParagraphTest, CurlyBracesWrapTheInlineStyleText) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  body.Add(cdbuild::Paragraph()).Add(Definition(3, 2880, 0, 0, kRight)).Add(cdbuild::PabRef(3));
  body.Add(Text("Right"));
  AddParagraph(body, 1, "Plain");
  EXPECT_EQ(
      Render(body, "Generation=Fragment UseCurlyBracesInline=Yes"),
      "Start<div style=\"{margin-left: 1.00in; }\" align='right'>Right</div><div>Plain</div>");
}

TEST_F(ParagraphTest, ZeroLeftMarginIsLeftOutInline) {
  const std::pair<const char *, const char *> cases[] = {
      {"color: red; margin-left: 0.00in; line-height: 2; ",
       "<div style=\"color: red; line-height: 2; \">"},
      {"MARGIN-LEFT: 0.00IN; color: red; ", "<div style=\"color: red; \">"},
      {"margin-left: 0.00in;", "<div>"},
      {" margin-left: 0.00in; ", "<div>"},
      {"", "<div>"}};
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  AddParagraph(body, 2, "x");
  for (const auto &[style, expected] : cases) {
    Prepare(body, "Generation=Fragment");
    // The paragraph style list as a head pass would have left it.
    context_->paragraph_styles = static_cast<render_paragraph_style *>(
        VelkoAllocatePtr(session_.get(), VELKO_HERE, sizeof(render_paragraph_style) * 2, 1));
    context_->paragraph_styles[0] = {1, VelkoAllocatePtrAndCopy(session_.get(), VELKO_HERE, "", 0)};
    context_->paragraph_styles[1] = {2,
                                     VelkoAllocatePtrAndCopy(session_.get(), VELKO_HERE, style, 0)};
    context_->paragraph_style_count = 2;
    record_storage *reference = records_->records;
    int references = 0;
    while (reference != nullptr &&
           (reference->signature != SIG_CD_PABREFERENCE || ++references < 2))
      reference = reference->next;
    ASSERT_NE(reference, nullptr);
    context_->current_record = reference;
    EXPECT_EQ(ProcessXMLParagraph(context_), NOERROR);
    EXPECT_EQ(Held(), expected) << style;
    EXPECT_EQ(context_->current_record, reference->next);
    FreeChunkStyleLists(context_);
  }
}

TEST_F(ParagraphTest, EmptyFirstDivisionIsKeptPastAParagraphRecord) {
  Body kept;
  kept.Add(cdbuild::Paragraph()).Add(Definition(1)).Add(cdbuild::PabRef(1));
  kept.Add(cdbuild::Paragraph()).Add(cdbuild::PabRef(1)).Add(Text("Text"));
  EXPECT_EQ(Render(kept, "Generation=Fragment ForceParagraphs=Yes"), "<div></div><div>Text</div>");
}

TEST_F(ParagraphTest, ParagraphTagsCloseWithALineBreakAfterAnEmptyParagraph) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  // Two references with only an empty run between them: one line break
  // (the empty run's) and a new paragraph.
  body.Add(cdbuild::Paragraph()).Add(cdbuild::PabRef(1)).Add(Text(""));
  body.Add(cdbuild::PabRef(1)).Add(Text("Next"));
  // With a paragraph record looked over, the closing adds a line break.
  body.Add(cdbuild::PabRef(1)).Add(Text("")).Add(cdbuild::Paragraph());
  body.Add(cdbuild::PabRef(1)).Add(Text("Last"));
  EXPECT_EQ(Render(body, "UsePTags=Yes"),
            Sheet("div.pabid1 {}") +
                "Start<p class=\"pabid1\"><br></p><p class=\"pabid1\">Next</p>"
                "<p class=\"pabid1\"><br><br></p><p class=\"pabid1\">Last</p>");
}

/* ---- hidden paragraphs ---- */

TEST_F(ParagraphTest, HiddenByTheFlagsOfItsDefinitionWithItsBrackets) {
  const struct {
    const char *options;
    WORD flags;
    WORD flags2;
    bool hidden;
  } cases[] = {{"RespectHiddenFormulas=Yes", 0x0010, 0, true},
               {"RespectHiddenFormulas=Yes", 0x0040, 0, false},  // printing, outside preview
               {"RespectHiddenFormulas=Yes", 0, 0x0001, false}}; // the web, outside web mode
  for (const auto &c : cases) {
    Body body;
    AddFirstParagraph(body, Definition(1), 1, "Shown");
    body.Add(cdbuild::Paragraph()).Add(Definition(2, 1440, c.flags, c.flags2));
    body.Add(cdbuild::PabRef(2)).Add(Text("Secret")).Add(cdbuild::Color({}));
    body.Add(cdbuild::Begin(SIG_CD_TEXT)).Add(Text("more")).Add(cdbuild::End(SIG_CD_TEXT));
    AddParagraph(body, 1, "Also shown");
    const std::string secret =
        "<div class=\"pabid2\"><span style=\"color: rgb(0,0,0); \">Secret</span>more</div>";
    EXPECT_EQ(Render(body, c.options), Sheet("div.pabid1 {}div.pabid2 {}") + "Shown" +
                                           (c.hidden ? "" : secret) +
                                           "<div class=\"pabid1\">Also shown</div>")
        << c.flags << " " << c.flags2;
  }
}

TEST_F(ParagraphTest, TableAfterAHiddenParagraphIsStillRendered) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Shown");
  body.Add(cdbuild::Paragraph()).Add(Definition(2, 1440, 0x0010)).Add(cdbuild::PabRef(2));
  body.Add(Text("Secret")).Add(cdbuild::Paragraph());
  body.Add(cdbuild::TableBegin()).Add(cdbuild::TableCell({.row = 0, .column = 0}));
  body.Add(Text(" cell")).Add(cdbuild::TableEnd());
  EXPECT_EQ(Render(body, "RespectHiddenFormulas=Yes"),
            Sheet("div.pabid1 {}div.pabid2 {}") + "Shown cell");
}

/* ---- borders ---- */

TEST_F(ParagraphTest, BorderAfterTheTextBelongsToNoParagraph) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  body.Add(cdbuild::Paragraph()).Add(cdbuild::PabRef(1)).Add(Text("Text"));
  body.Add(Border({.widths = {1, 1, 1, 1}}));
  EXPECT_EQ(Render(body), Sheet("div.pabid1 {}") + "Start<div class=\"pabid1\">Text</div>");
}

/* ---- table cells ---- */

TEST_F(ParagraphTest, FirstParagraphOfACellWithoutMarkup) {
  auto cellBody = [](BYTE cellFlags) {
    Body body;
    AddFirstParagraph(body, Definition(1), 1, "Start");
    body.Add(cdbuild::Paragraph()).Add(cdbuild::TableBegin());
    body.Add(cdbuild::TableCell({.row = 0, .column = 0, .flags = cellFlags}));
    body.Add(cdbuild::Paragraph()).Add(cdbuild::PabRef(1)).Add(Text("Cell"));
    body.Add(cdbuild::TableEnd());
    return body;
  };
  const std::string sheet = Sheet("div.pabid1 {}");
  EXPECT_EQ(Render(cellBody(0)), sheet + "Start<div class=\"pabid1\">Cell</div>");
  EXPECT_EQ(Render(cellBody(0x04)), sheet + "StartCell");
  EXPECT_EQ(Render(cellBody(0x08)), sheet + "StartCell");
  EXPECT_EQ(Render(cellBody(0x04), "ForceParagraphs=Yes"),
            sheet + "<div class=\"pabid1\">Start</div><div class=\"pabid1\">Cell</div>");
  // Simple tags: no line break for a cell's first paragraph.
  EXPECT_EQ(Render(cellBody(0), "StandardFontTags=Yes"),
            "<style type=\"text/css\">div.pabid1 {}</style></head><body bgcolor='#ffffff'>"
            "StartCell");
}

TEST_F(ParagraphTest, CellWhoseParagraphAddsNothingHasNoMarkup) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  body.Add(cdbuild::Paragraph()).Add(cdbuild::TableBegin());
  body.Add(cdbuild::TableCell({.row = 0, .column = 0}));
  // Default left and right margins and no list: nothing of its own.
  body.Add(cdbuild::Paragraph()).Add(Definition(2, 1440, 0, 0x0500)).Add(cdbuild::PabRef(2));
  body.Add(Text("Cell")).Add(cdbuild::TableEnd());
  EXPECT_EQ(Render(body), Sheet("div.pabid1 {}div.pabid2 {}") + "StartCell");
}

/* ---- style mappings ---- */

TEST_F(ParagraphTest, ParagraphStyleMappingByNameReplacesTheMarkup) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  body.Add(cdbuild::Paragraph()).Add(Definition(2)).Add(driver_testing::StyleName(2, "Quote"));
  body.Add(cdbuild::PabRef(2)).Add(Text("Quoted"));
  AddParagraph(body, 1, "After");
  Prepare(body);
  style_mapping *skipped = new style_mapping();
  skipped->flags = STYLE_MAPPING_BY_NAME | STYLE_MAPPING_MAPPED; // applies to runs only
  std::strcpy(skipped->style_name, "Quote");
  style_mapping *byCriteria = new style_mapping();
  byCriteria->flags = STYLE_MAPPING_BY_PARAGRAPH;
  style_mapping *byName = new style_mapping();
  byName->flags = STYLE_MAPPING_BY_NAME;
  std::strcpy(byName->style_name, "Quote");
  skipped->next = byCriteria;
  byCriteria->next = byName;
  item_->internal->style_mappings[0] = skipped;
  EXPECT_EQ(Drive(),
            Sheet("div.pabid1 {}div.pabid2 {}") + "StartQuoted<div class=\"pabid1\">After</div>");
  EXPECT_EQ(context_->paragraph_mapping, nullptr);
  item_->ClearStyleMappings(0);
}

} // namespace
