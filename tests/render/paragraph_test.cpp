// Paragraph rendering: the first paragraph and ForceParagraphs, the class
// mode, the inline mode and the simple tags, closing what the previous
// paragraph left open, hidden paragraphs, paragraph borders, the first
// paragraph of a table cell, and paragraph style mappings.
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
using driver_testing::BorderFields;
using driver_testing::Definition;
using driver_testing::kBody;
using driver_testing::Sheet;
using driver_testing::Text;

constexpr WORD kRight = 1;
constexpr WORD kFull = 2;
constexpr WORD kCenter = 3;
constexpr WORD kNone = 4;

using ParagraphTest = driver_testing::DriverTest;

/* "Start" in definition 1, then a paragraph of definition 2. */
Body SecondParagraph(const Bytes &definition, const std::string &text) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  body.Add(cdbuild::Paragraph()).Add(definition).Add(cdbuild::PabRef(2)).Add(Text(text));
  return body;
}

TEST_F(ParagraphTest, FirstParagraphOfTheListHasNoMarkupUnlessForced) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  AddParagraph(body, 1, "Second");
  EXPECT_EQ(Render(body), Sheet("div.pabid1 {}") + "Start<div class=\"pabid1\">Second</div>");
  EXPECT_EQ(Render(body, "ForceParagraphs=Yes"),
            Sheet("div.pabid1 {}") +
                "<div class=\"pabid1\">Start</div><div class=\"pabid1\">Second</div>");
}

struct AlignmentCase {
  WORD justify;
  const char *element;
};

class ClassModeAlignmentTest : public ParagraphTest,
                               public ::testing::WithParamInterface<AlignmentCase> {};

TEST_P(ClassModeAlignmentTest, AlignmentAttributeBeforeTheClass) {
  const AlignmentCase &c = GetParam();
  EXPECT_EQ(Render(SecondParagraph(Definition(2, 1440, 0, 0, c.justify), "Text")),
            Sheet("div.pabid1 {}div.pabid2 {}") + "Start" + c.element + "Text</div>");
}

INSTANTIATE_TEST_SUITE_P(
    Justify, ClassModeAlignmentTest,
    ::testing::Values(AlignmentCase{0, "<div class=\"pabid2\">"},
                      AlignmentCase{kRight, "<div align='right' class=\"pabid2\">"},
                      AlignmentCase{kFull, "<div align='justify' class=\"pabid2\">"},
                      AlignmentCase{kCenter, "<div align='center' class=\"pabid2\">"},
                      AlignmentCase{kNone, "<div class=\"pabid2\">"}));

TEST_F(ParagraphTest, ClassModeVariants) {
  const Body body = SecondParagraph(Definition(2, 1440, 0, 0, kCenter), "Centre");
  const std::string sheet = Sheet("div.pabid1 {}div.pabid2 {}");
  EXPECT_EQ(Render(body, "SuppressDivInfo=Yes"), sheet + "Start<div align='center'>Centre</div>");
  EXPECT_EQ(Render(body, "UsePTags=Yes"),
            sheet + "Start<p align='center' class=\"pabid2\">Centre</p>");
  EXPECT_EQ(Render(body, nullptr, kGenerationXHTML),
            sheet + "Start<div align='center' class=\"pabid2\">Centre</div>");
}

TEST_F(ParagraphTest, ReferenceWithoutADefinitionTakesItsOwnClass) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  AddParagraph(body, 7, "Orphan");
  EXPECT_EQ(Render(body), Sheet("div.pabid1 {}") + "Start<div class=\"pabid7\">Orphan</div>");
}

TEST_F(ParagraphTest, InlineModeWritesTheStyleText) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  body.Add(cdbuild::Paragraph()).Add(Definition(2, 2160)).Add(cdbuild::PabRef(2));
  body.Add(Text("Indented"));
  body.Add(cdbuild::Paragraph()).Add(Definition(3, 2880, 0, 0, kRight)).Add(cdbuild::PabRef(3));
  body.Add(Text("Right"));
  AddParagraph(body, 1, "Plain");
  EXPECT_EQ(Render(body, "Generation=Fragment"),
            "Start<div style=\"margin-left: 0.50in; \">Indented</div>"
            "<div style=\"margin-left: 1.00in; \" align='right'>Right</div><div>Plain</div>");
  EXPECT_EQ(Render(body, "Generation=Fragment UsePTags=Yes"),
            "Start<p style=\"margin-left: 0.50in; \">Indented</p>"
            "<p style=\"margin-left: 1.00in; \" align='right'>Right</p><p>Plain</p>");
  EXPECT_EQ(Render(body, "Generation=Fragment AllowEmptyDivs=No"),
            "Start<div style=\"margin-left: 0.50in; \">Indented</div>"
            "<div style=\"margin-left: 1.00in; \" align='right'>Right</div>Plain");
  EXPECT_EQ(Render(body, "Generation=Fragment UseCurlyBracesInline=Yes"),
            "Start<div style=\"{margin-left: 0.50in; }\">Indented</div>"
            "<div style=\"{margin-left: 1.00in; }\" align='right'>Right</div><div>Plain</div>");
}

struct ZeroMarginCase {
  const char *style;
  const char *expected;
};

class ZeroMarginTest : public ParagraphTest,
                       public ::testing::WithParamInterface<ZeroMarginCase> {};

TEST_P(ZeroMarginTest, ZeroLeftMarginIsLeftOutInline) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  AddParagraph(body, 2, "x");
  Prepare(body, "Generation=Fragment");
  // The paragraph style list as a head pass would have left it.
  context_->paragraph_styles = static_cast<render_paragraph_style *>(
      VelkoAllocatePtr(session_.get(), VELKO_HERE, sizeof(render_paragraph_style) * 2, 1));
  context_->paragraph_styles[0] = {1, VelkoAllocatePtrAndCopy(session_.get(), VELKO_HERE, "", 0)};
  context_->paragraph_styles[1] = {
      2, VelkoAllocatePtrAndCopy(session_.get(), VELKO_HERE, GetParam().style, 0)};
  context_->paragraph_style_count = 2;
  record_storage *reference = records_->records;
  int references = 0;
  while (reference != nullptr && (reference->signature != SIG_CD_PABREFERENCE || ++references < 2))
    reference = reference->next;
  ASSERT_NE(reference, nullptr);
  context_->current_record = reference;
  EXPECT_EQ(ProcessXMLParagraph(context_), NOERROR);
  EXPECT_EQ(Held(), GetParam().expected);
  EXPECT_EQ(context_->current_record, reference->next);
  FreeChunkStyleLists(context_);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, ZeroMarginTest,
    ::testing::Values(ZeroMarginCase{"color: red; margin-left: 0.00in; line-height: 2; ",
                                     "<div style=\"color: red; line-height: 2; \">"},
                      ZeroMarginCase{"MARGIN-LEFT: 0.00IN; color: red; ",
                                     "<div style=\"color: red; \">"},
                      ZeroMarginCase{"margin-left: 0.00in;", "<div>"},
                      ZeroMarginCase{" margin-left: 0.00in; ", "<div>"},
                      ZeroMarginCase{"", "<div>"}));

TEST_F(ParagraphTest, SimpleTagsWriteLineBreaksAndAlignmentDivisions) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  AddParagraph(body, 1, "Left");
  body.Add(cdbuild::Paragraph()).Add(Definition(2, 1440, 0, 0, kCenter)).Add(cdbuild::PabRef(2));
  body.Add(Text("Centre"));
  AddParagraph(body, 1, "Left again");
  body.Add(cdbuild::Paragraph()).Add(Definition(3, 1440, 0, 0, kRight)).Add(cdbuild::PabRef(3));
  body.Add(Text("Right"));
  body.Add(cdbuild::Paragraph()).Add(Definition(4, 1440, 0, 0, kNone)).Add(cdbuild::PabRef(4));
  body.Add(Text("None"));
  const std::string sheet =
      "<style type=\"text/css\">div.pabid1 {}div.pabid2 {}div.pabid3 {}div.pabid4 {}</style>"
      "</head><body bgcolor='#ffffff'>";
  EXPECT_EQ(Render(body, "StandardFontTags=Yes"),
            sheet + "Start<br>Left<div align='center'>Centre</div><br>Left again"
                    "<div align='right'>Right</div><br>None");
  EXPECT_EQ(Render(body, "StandardFontTags=Yes", kGenerationXHTML),
            sheet + "Start<br />Left<div align='center'>Centre</div><br />Left again"
                    "<div align='right'>Right</div><br />None");
}

TEST_F(ParagraphTest, EmptyFirstDivisionIsErased) {
  Body body;
  body.Add(cdbuild::Paragraph()).Add(Definition(1)).Add(cdbuild::PabRef(1));
  body.Add(cdbuild::PabRef(1)).Add(Text("Text"));
  EXPECT_EQ(Render(body, "Generation=Fragment ForceParagraphs=Yes"), "<div>Text</div>");
  // A paragraph record between them keeps it.
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

struct HideCase {
  const char *name;
  const char *options;
  WORD flags;
  WORD flags2;
  bool hidden;
};

class HiddenParagraphTest : public ParagraphTest, public ::testing::WithParamInterface<HideCase> {};

TEST_P(HiddenParagraphTest, HiddenByTheFlagsOfItsDefinition) {
  const HideCase &c = GetParam();
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Shown");
  body.Add(cdbuild::Paragraph()).Add(Definition(2, 1440, c.flags, c.flags2));
  body.Add(cdbuild::PabRef(2)).Add(Text("Secret")).Add(cdbuild::Color({}));
  body.Add(cdbuild::Begin(SIG_CD_TEXT)).Add(Text("more")).Add(cdbuild::End(SIG_CD_TEXT));
  AddParagraph(body, 1, "Also shown");
  const std::string sheet = Sheet("div.pabid1 {}div.pabid2 {}");
  const std::string secret =
      "<div class=\"pabid2\"><span style=\"color: rgb(0,0,0); \">Secret</span>more</div>";
  EXPECT_EQ(Render(body, c.options),
            sheet + "Shown" + (c.hidden ? "" : secret) + "<div class=\"pabid1\">Also shown</div>");
}

INSTANTIATE_TEST_SUITE_P(
    Flags, HiddenParagraphTest,
    ::testing::Values(
        HideCase{"ReadIgnoredWithoutOption", "", 0x0010, 0, false},
        HideCase{"Read", "RespectHiddenFormulas=Yes", 0x0010, 0, true},
        HideCase{"ReadNotInPreview", "RespectHiddenFormulas=Yes PreviewMode=Yes", 0x0010, 0, false},
        HideCase{"PrintInPreview", "RespectHiddenFormulas=Yes PreviewMode=Yes", 0x0040, 0, true},
        HideCase{"PrintOutsidePreview", "RespectHiddenFormulas=Yes", 0x0040, 0, false},
        HideCase{"Notes", "RespectHiddenFormulas=Yes", 0x8000, 0, true},
        HideCase{"NotesInWebMode", "RespectHiddenFormulas=Yes WebMode=Yes", 0x8000, 0, false},
        HideCase{"Web", "RespectHiddenFormulas=Yes WebMode=Yes", 0, 0x0001, true},
        HideCase{"WebOutsideWebMode", "RespectHiddenFormulas=Yes", 0, 0x0001, false},
        HideCase{"FormulaWithoutRecord", "RespectHiddenFormulas=Yes", 0x0800, 0, false}),
    [](const ::testing::TestParamInfo<HideCase> &info) { return info.param.name; });

TEST_F(ParagraphTest, HideWhenFormulaThatCannotBeEvaluatedHidesNothing) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Shown");
  Bytes hide = cdbuild::Raw(SIG_CD_PABHIDE, Bytes(10 + 6, 0x01));
  cdbuild::PutWord(hide, 4, 2);
  body.Add(cdbuild::Paragraph()).Add(Definition(2, 1440, 0x0800)).Add(hide);
  body.Add(cdbuild::PabRef(2)).Add(Text("Kept"));
  EXPECT_EQ(Render(body, "RespectHiddenFormulas=Yes"),
            Sheet("div.pabid1 {}div.pabid2 {}") + "Shown<div class=\"pabid2\">Kept</div>");
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

TEST_F(ParagraphTest, BorderRecordFramesTheParagraph) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  body.Add(cdbuild::Paragraph()).Add(cdbuild::PabRef(1));
  body.Add(Border({.style = 2,
                   .widths = {3, 3, 3, 3},
                   .outer = {10, 0, 20, 0},
                   .coloured = true,
                   .blue = 255}));
  body.Add(Text("Framed"));
  body.Add(cdbuild::Paragraph()).Add(cdbuild::PabRef(1));
  body.Add(
      Border({.style = 7, .widths = {1, 2, 3, 4}, .inner = {5, 5, 5, 5}, .outer = {0, 6, 0, 6}}));
  body.Add(Text("Dotted"));
  EXPECT_EQ(
      Render(body),
      Sheet("div.pabid1 {}") +
          "Start<div style=\" border-style:double;border-color:rgb(0,0,255);border-width:3;"
          "margin: 10 0 20 0;\" vspace=\"20\" class=\"pabid1\">Framed</div>"
          "<div style=\" border-style:dotted;border-width: 1 4 3 2;margin: 0 6 0 6;padding:5;\" "
          "hspace=\"6\" class=\"pabid1\">Dotted</div>");
}

TEST_F(ParagraphTest, BorderInTheInlineMode) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  body.Add(cdbuild::Paragraph()).Add(cdbuild::PabRef(1));
  body.Add(Border({.widths = {1, 1, 1, 1}})).Add(Text("Boxed"));
  body.Add(cdbuild::Paragraph()).Add(Definition(2, 2160)).Add(cdbuild::PabRef(2));
  body.Add(Border({.widths = {1, 1, 1, 1}, .outer = {8, 8, 8, 8}})).Add(Text("Indented box"));
  EXPECT_EQ(Render(body, "Generation=Fragment AllowEmptyDivs=No"),
            "Start<div style=\" border-style:solid;border-width:1;\">Boxed</div>"
            "<div style=\"margin-left: 0.50in;  border-style:solid;border-width:1;margin:8;\" "
            "vspace=\"8\" hspace=\"8\">Indented box</div>");
}

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
