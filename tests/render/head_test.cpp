// The head pass: the rule set of each paragraph definition (margins,
// indents, direction, list kinds and images), the style sheet and what the
// options add to it, the dominant body font, the completion of the head
// (scripts, "</head>"), the body tag, the border classes of table cells,
// and a memory failure on the way.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "render_fixture.h"
#include "store/rtitem_internal.h"
#include "store/tracked_memory_testing.h"

namespace {

using cdbuild::Body;
using cdbuild::Bytes;
using cdbuild::Font;
using cdbuild::PabDefFields;
using driver_testing::AddFirstParagraph;
using driver_testing::Definition;
using driver_testing::Sheet;
using driver_testing::Text;

using HeadTest = driver_testing::DriverTest;

/* One paragraph "Start" of definition 1. */
Body OneParagraph() {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  return body;
}

/* Paragraphs of the definitions, after "Start" in definition 1; only the
 * style sheet is looked at. */
std::string RulesOf(driver_testing::DriverTest &test, const std::vector<Bytes> &definitions,
                    const char *options = nullptr) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  WORD id = 0;
  for (const Bytes &definition : definitions) {
    std::memcpy(&id, definition.data() + 4, sizeof id);
    body.Add(cdbuild::Paragraph()).Add(definition).Add(cdbuild::PabRef(id)).Add(Text("x"));
  }
  const std::string out = test.RenderFor(body, options);
  const size_t start = out.find("div.pabid1 {}") + 13;
  return out.substr(start, out.find("</style>") - start);
}

PabDefFields Fields(WORD id, WORD left = 1440) {
  PabDefFields fields;
  fields.id = id;
  fields.left = left;
  return fields;
}

/* ---- rule sets ---- */

TEST_F(HeadTest, MarginKindsFromTheSecondFlags) {
  PabDefFields offset = Fields(2);
  offset.flags2 = 0x0004 | 0x0010;
  offset.extension = std::array<WORD, 6>{2160, 0, 2160, 0, 0, 0};
  PabDefFields defaultLeft = Fields(3, 2880);
  defaultLeft.flags2 = 0x0100;
  PabDefFields percent = Fields(4);
  percent.flags2 = 0x0008 | 0x0080;
  percent.extension = std::array<WORD, 6>{0, 10, 0, 0, 0, 50};
  PabDefFields indent = Fields(5, 2160);
  indent.first_line = 2880;
  PabDefFields hanging = Fields(6, 2160);
  hanging.first_line = 1440;
  PabDefFields firstPercent = Fields(7);
  firstPercent.flags2 = 0x0008 | 0x0020;
  firstPercent.extension = std::array<WORD, 6>{0, 10, 0, 25, 0, 0};
  // A right margin percent needs the extension; 100 is the whole width.
  PabDefFields wholeRight = Fields(8);
  wholeRight.flags2 = 0x0080;
  wholeRight.extension = std::array<WORD, 6>{0, 0, 0, 0, 0, 100};
  EXPECT_EQ(
      RulesOf(*this, {cdbuild::PabDef(offset), cdbuild::PabDef(defaultLeft),
                      cdbuild::PabDef(percent), cdbuild::PabDef(indent), cdbuild::PabDef(hanging),
                      cdbuild::PabDef(firstPercent), cdbuild::PabDef(wholeRight)}),
      "div.pabid2 {margin-left: 0.50in; }div.pabid3 {}"
      "div.pabid4 {margin-left:  10%; margin-right:  50%; }"
      "div.pabid5 {margin-left: 0.50in; text-indent: 0.50in; }"
      "div.pabid6 {margin-left: 0.50in; text-indent: -0.50in; }"
      "div.pabid7 {margin-left:  10%; text-indent:  15%; }div.pabid8 {}");
}

TEST_F(HeadTest, NoLeftMarginInsideATable) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  body.Add(cdbuild::Paragraph()).Add(cdbuild::TableBegin());
  body.Add(cdbuild::TableCell({.row = 0, .column = 0})).Add(Definition(2, 2880));
  body.Add(cdbuild::PabRef(2)).Add(Text("cell")).Add(cdbuild::TableEnd());
  body.Add(cdbuild::Paragraph()).Add(Definition(3, 2880)).Add(cdbuild::PabRef(3)).Add(Text("x"));
  const std::string out = Render(body);
  EXPECT_NE(out.find("div.pabid2 {}div.pabid3 {margin-left: 1.00in; }"), std::string::npos) << out;
}

TEST_F(HeadTest, ForceDirectionMarksTheDirectionFromTheFirstDefinition) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  body.Add(Definition(2)).Add(Definition(3, 1440, 0, 0x4000)).Add(Definition(4));
  const std::string out = RenderFor(body, "ForceDirection=Yes");
  EXPECT_EQ(out.substr(0, out.find("</style>")),
            "<style type=\"text/css\">div.pabid1 { direction: ltr;}div.pabid2 { direction: ltr;}"
            "div.pabid3 { direction: rtl;}div.pabid4 { direction: ltr;}");
}

TEST_F(HeadTest, ListsStepAQuarterInchFromTheListTheyNestIn) {
  EXPECT_EQ(RulesOf(*this, {Definition(2, 1800, 0x0400), Definition(3, 2520, 0x1000),
                            Definition(4, 2700, 0x0400), Definition(5, 1440, 0x0400)}),
            "ul.pabid2 {padding-left: 0.25in; margin-left: 0.00in; list-style-type: disc; "
            "margin-top: 0; margin-bottom: 0; }ul.pabid2 LI {} "
            "ol.pabid3 {padding-left: 0.25in; margin-left: 0.25in; list-style-type: decimal; "
            "margin-top: 0; margin-bottom: 0; }ol.pabid3 LI {} "
            "ul.pabid4 {margin-left: 0.0in; padding-left: 0.12in; list-style-type: disc; "
            "margin-top: 0; margin-bottom: 0; }ul.pabid4 LI {} "
            "ul.pabid5 {margin-left: 0.0in; padding-left: 0.00in; list-style-type: disc; "
            "margin-top: 0; margin-bottom: 0; }ul.pabid5 LI {} ");
}

TEST_F(HeadTest, BulletImagesFromTheOptions) {
  EXPECT_EQ(RulesOf(*this,
                    {Definition(2, 1440, 0x0400, 0x1000), Definition(3, 1440, 0x0400),
                     Definition(4, 1440, 0x0400, 0x1000)},
                    "CSSBulletGraphic=/b.gif"),
            "ul.pabid2 {margin-left: 0.0in; padding-left: 0.00in; list-style-type: square; "
            "margin-top: 0; margin-bottom: 0; }ul.pabid2 LI {} "
            "ul.pabid3 {margin-left: 0.0in; padding-left: 0.00in; list-style: url('/b.gif') disc; "
            "margin-top: 0; margin-bottom: 0; }ul.pabid3 LI {} "
            "ul.pabid4 {margin-left: 0.0in; padding-left: 0.00in; list-style: url('') square; "
            "margin-top: 0; margin-bottom: 0; }ul.pabid4 LI {} ");
  // The image stands in a CSS string: its apostrophe cannot end the string,
  // inline or in the style sheet.
  EXPECT_EQ(RulesOf(*this, {Definition(3, 1440, 0x0400)}, "CSSBulletGraphic=/it's<b>.gif"),
            "ul.pabid3 {margin-left: 0.0in; padding-left: 0.00in; "
            "list-style: url('/it\\'s\\3c b\\3e .gif') disc; "
            "margin-top: 0; margin-bottom: 0; }ul.pabid3 LI {} ");
}

/* ---- the style sheet and the body ---- */

TEST_F(HeadTest, WhatTheOptionsAddAroundTheStyleSheet) {
  const std::string sheet = "<style type=\"text/css\">div.pabid1 {}</style>";
  const std::string body = "<body text='#000000' bgcolor='#ffffff'>Start";
  const std::pair<const char *, std::string> cases[] = {
      {"MoveStylesInline=Yes AddStyleSheetInfo='p {}'", "</head>" + body},
      {"Generation=Fragment OpeningGlobalStyle=x", "Start"},
      {"Generation=Fragment OpeningBody=<b>", "<b>Start"},
      {"SupportRico=Yes RicoHeader=<script/>", sheet + "<script/></head>" + body},
      {"SectionsInCSS=Yes SectionCSSHeader=<s/>", sheet + "<s/></head>" + body},
      {"HeadTag=<head>", sheet + "</head>" + body},
      // A head the value closes is not closed again, nor completed.
      {"HeadTag='<head></head><body>'", sheet + body},
      {"HeadTag='<head><title>T</title></head>' SupportRico=Yes", sheet + body},
      {"HeadTag= SupportRico=Yes", sheet + body}};
  for (const auto &[options, expected] : cases)
    EXPECT_EQ(RenderFor(OneParagraph(), options), expected) << options;
}

TEST_F(HeadTest, XhtmlHeadGivenWholeIsClosedWithoutTheScripts) {
  const char *options = "HeadTag='<head><title>T</title></HEAD>' SupportRico=Yes SectionsInCSS=Yes";
  Prepare(OneParagraph(), options, kGenerationXHTML);
  EXPECT_EQ(Drive(), "<style type=\"text/css\">div.pabid1 {}</style></head>"
                     "<body text='#000000' bgcolor='#ffffff'>Start");
  // A head closed before the value's end is the caller's: nothing closes it.
  Prepare(OneParagraph(), "HeadTag='<head></head><body>'", kGenerationXHTML);
  EXPECT_EQ(Drive(), "<style type=\"text/css\">div.pabid1 {}</style>"
                     "<body text='#000000' bgcolor='#ffffff'>Start");
}

TEST_F(HeadTest, LineEndBeforeTheBodyUnderAddNewlines) {
  const std::string head = "<style type=\"text/css\">div.pabid1 {}</style></head>";
  const std::string body = "<body text='#000000' bgcolor='#ffffff'>";
  for (const char *options : {"AddNewlines=Yes", "AddNewlines=CRLF"}) {
    Prepare(OneParagraph(), options);
    ASSERT_EQ(RunXMLHeadPass(context_), NOERROR);
    EXPECT_EQ(Held(), head + "\n" + body) << options;
    FreeChunkStyleLists(context_);
  }
  // Not under quoted-printable, which encodes line ends of its own.
  Prepare(OneParagraph(), "AddNewlines=CRLF ContentTransferEncoding=quoted-printable");
  ASSERT_EQ(RunXMLHeadPass(context_), NOERROR);
  EXPECT_EQ(Held(), head + body);
  FreeChunkStyleLists(context_);
}

TEST_F(HeadTest, TabScriptAndStylesWithTheirColours) {
  const std::string out =
      RenderFor(OneParagraph(), "TabbedTablesInCSS=Yes CSSTabSelBackgroundColor=#123456");
  EXPECT_NE(out.find("function switchTab(numberOfTabs, tbl, i){\n"), std::string::npos);
  EXPECT_NE(out.find(".style.background='#999966';\n"), std::string::npos);
  EXPECT_NE(out.find(".style.color='#333333';\n"), std::string::npos);
  EXPECT_NE(out.find("link'+i).style.background='#123456';\n"), std::string::npos);
  EXPECT_NE(out.find("link'+i).style.color='#ffffcc';\n"), std::string::npos);
  EXPECT_NE(out.find("</script>\n<style type=\"text/css\">\nul#tabnav {\n"
                     "font: bold 11px verdana, arial, sans-serif;\n"),
            std::string::npos);
  EXPECT_NE(out.find("body#tab1 li.tab1, body#tab2 li.tab2,\n"
                     "body#tab3 li.tab3, body#tab4 li.tab4 {\n"),
            std::string::npos);
  EXPECT_NE(out.find("#tabnav a:hover {\nbackground: #fff;\n}\n</style>\n</head><body"),
            std::string::npos)
      << out;
}

TEST_F(HeadTest, DominantFontBecomesTheBodyFont) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  const Font red{1, 0, 2, 12};
  for (int i = 0; i < 60; ++i)
    body.Add(Text(std::string("r"), red));
  const std::string out = RenderFor(body, "");
  EXPECT_EQ(out, "<style type=\"text/css\">div.pabid1 {}</style>"
                 "<style type=\"text/css\">body {font-size: 12pt; color: rgb(255,0,0); "
                 "font-family: sans-serif; }</style></head>"
                 "<body text='#ff0000' bgcolor='#ffffff'><span style=\"font-size: 10pt; "
                 "color: rgb(0,0,0); \">Start</span>" +
                     std::string(60, 'r'));
  EXPECT_EQ(context_->base_font, text_testing::MakeFont(1, 0, 2, 12));
  // The body font is registered with the item.
  EXPECT_NE(item_->GetStyleMappingByFontID(context_->base_font, 1), nullptr);
  // With a global style given, it replaces the rule; simple tags write none.
  EXPECT_EQ(RenderFor(body, "OpeningGlobalStyle=<g/>").substr(0, 83),
            "<style type=\"text/css\">div.pabid1 {}</style><g/></head>"
            "<body text='#ff0000' bgcolor");
  EXPECT_EQ(RenderFor(body, "StandardFontTags=Yes"),
            "<style type=\"text/css\">div.pabid1 {}</style></head><body bgcolor='#ffffff'>"
            "<font color='#000000' size='2'>Start</font>" +
                std::string(60, 'r'));
}

/* ---- border classes ---- */

TEST_F(HeadTest, BorderClassesOfTableCells) {
  Body body;
  body.Add(cdbuild::TableBegin({.horizontal_space = 11, .vertical_space = 22}));
  body.Add(cdbuild::TableCell({.row = 0, .column = 0, .borders = 0x55}));
  body.Add(cdbuild::TableCell({.row = 0, .column = 1, .borders = 0x55}));
  body.Add(cdbuild::TableCell({.row = 0, .column = 2}));
  body.Add(cdbuild::TableCell({.row = 0, .column = 3, .borders = 0xC9}));
  body.Add(cdbuild::TableCell({.row = 0, .column = 4, .flags = 0x02, .v42_border = 0x1A05}));
  body.Add(cdbuild::TableEnd());
  Prepare(body, "CSSBorders=Yes");
  ASSERT_EQ(RunXMLHeadPass(context_), NOERROR);
  ASSERT_EQ(context_->border_class_count, 4);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"1111", "td.brdr1111 {border:1px solid black"},
      {"0000", "td.brdr0000 {border:none"},
      {"0231", "td.brdr0231 {border-top:none; border-left:1px solid black; "
               "border-right: 2px solid black; border-bottom: 3px solid black"},
      {"a015", "td.brdra015 {border-top:10px solid black; border-left:5px solid black; "
                "border-right:none; border-bottom: 1px solid black"}};
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(context_->border_classes[i].key, expected[i].first);
    EXPECT_EQ(context_->border_classes[i].text, expected[i].second);
  }
  EXPECT_EQ(context_->table_spacing[1][0], 11);
  EXPECT_EQ(context_->table_spacing[1][1], 22);
  EXPECT_EQ(context_->table_level, 0);
  FreeChunkStyleLists(context_);
  // Only with CSSBorders, and not with simple tags.
  Prepare(body);
  ASSERT_EQ(RunXMLHeadPass(context_), NOERROR);
  EXPECT_EQ(context_->border_class_count, 0);
  Prepare(body, "CSSBorders=Yes StandardFontTags=Yes");
  ASSERT_EQ(RunXMLHeadPass(context_), NOERROR);
  EXPECT_EQ(context_->border_class_count, 0);
  // At most twenty classes.
  Body many;
  many.Add(cdbuild::TableBegin());
  for (int i = 0; i < 30; ++i)
    many.Add(cdbuild::TableCell({.row = 0,
                                 .column = static_cast<BYTE>(i),
                                 .flags = 0x02,
                                 .v42_border = static_cast<WORD>(i)}));
  many.Add(cdbuild::TableEnd());
  Prepare(many, "CSSBorders=Yes");
  ASSERT_EQ(RunXMLHeadPass(context_), NOERROR);
  EXPECT_EQ(context_->border_class_count, 20);
  FreeChunkStyleLists(context_);
}

TEST_F(HeadTest, MemoryFailureFailsTheOutput) {
  Prepare(OneParagraph());
  int failures = 0;
  for (int nth = 1; nth <= 6; ++nth) {
    Prepare(OneParagraph());
    VelkoTestFailTrackedAllocation(nth);
    const STATUS status = ProcessXMLStream(context_, 0, 0, 0);
    VelkoTestFailTrackedAllocation(0);
    if (status == NOERROR) {
      EXPECT_EQ(Held(), Sheet("div.pabid1 {}") + "Start") << nth;
      continue;
    }
    ++failures;
    EXPECT_EQ(status, VELKO_ERR_MEMORY) << nth;
    EXPECT_EQ(context_->output_status, VELKO_ERR_MEMORY) << nth;
    EXPECT_EQ(context_->paragraph_styles, nullptr) << nth;
  }
  EXPECT_GT(failures, 0);
}

} // namespace
