// The record driver: the walk in the three generations, the records it
// writes itself (line breaks, rules, anchors), the families it hands on,
// brackets and their nesting, flushing and the caller's buffer, the modes
// of the final flush, and the whole run through GenerateHTML and the
// engine's rendering action.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver_fixture.h"
#include "host/host_testing.h"
#include "render/tag_stack.h"
#include "store/messages.h"

namespace {

using cdbuild::Body;
using cdbuild::Bytes;
using cdbuild::Font;
using driver_testing::AddFirstParagraph;
using driver_testing::AddParagraph;
using driver_testing::Definition;
using driver_testing::kBody;
using driver_testing::kClosing;
using driver_testing::kHead;
using driver_testing::kHtmlStart;
using driver_testing::kXhtmlStart;
using driver_testing::Sheet;
using driver_testing::Text;
using text_testing::Pieces;

constexpr const char *kOneRule = "div.pabid1 {}";

/* Three paragraphs of definition 1. */
Body ThreeParagraphs() {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "First");
  AddParagraph(body, 1, "Second");
  AddParagraph(body, 1, "Third");
  return body;
}

Bytes Rule(DWORD flags, WORD width, WORD height, WORD colour) {
  Bytes payload(12, 0);
  cdbuild::PutDword(payload, 0, flags);
  cdbuild::PutWord(payload, 4, width);
  cdbuild::PutWord(payload, 6, height);
  cdbuild::PutWord(payload, 8, colour);
  return cdbuild::Raw(SIG_CD_HRULE, payload);
}

Bytes Anchor(const std::string &name) {
  Bytes payload(8, 0);
  cdbuild::PutWord(payload, 0, static_cast<WORD>(name.size()));
  payload.insert(payload.end(), name.begin(), name.end());
  return cdbuild::Raw(SIG_CD_ANCHOR, payload);
}

Bytes LargeParagraph(bool begin) {
  Bytes payload(12, 0);
  cdbuild::PutWord(payload, 2, begin ? 1 : 0);
  return cdbuild::Raw(SIG_CD_LARGEPARAGRAPH, payload);
}

using DriverTest = driver_testing::DriverTest;

/* ---- the walk and the whole run ---- */

TEST_F(DriverTest, ParagraphsOfAChunkDirectlyAndThroughGenerateHtml) {
  const std::string rendered =
      Sheet(kOneRule) + "First<div class=\"pabid1\">Second</div><div class=\"pabid1\">Third</div>";
  EXPECT_EQ(Render(ThreeParagraphs()), rendered);
  EXPECT_EQ(context_->tag_stack, nullptr);        // the final pop closed everything
  EXPECT_EQ(context_->paragraph_styles, nullptr); // the per-chunk lists are freed
  EXPECT_EQ(Generate(), kHtmlStart + kHead + rendered + kClosing);
  EXPECT_EQ(chunk_->status, NOERROR);
}

/* Bodies of each family, rendered both ways: GenerateHTML's document is
 * the frame around exactly what the driver writes. */
struct WholeCase {
  const char *name;
  Body (*body)();
  const char *options;
  const char *generation;
  const char *driven; /* what the driver writes */
};

class WholeDocumentTest : public DriverTest, public ::testing::WithParamInterface<WholeCase> {};

TEST_P(WholeDocumentTest, SameBytesDirectlyAndThroughTheEngine) {
  const WholeCase &c = GetParam();
  const bool xhtml = std::string(c.generation) == "XHTML";
  Prepare(c.body(), c.options, xhtml ? kGenerationXHTML : kGenerationHTML);
  // The engine consolidates before it renders, from the item's records.
  if ((context_->flags2 & html_flags2::ConsolidatePABIDS) != 0) {
    ASSERT_EQ(chunk_->Exists(), 1);
    ASSERT_EQ(ConsolidateParagraphForXML(nullptr, context_), NOERROR);
  }
  EXPECT_EQ(Drive(), c.driven);
  // Simple tags leave the style meta out of the head.
  const std::string head = (context_->flags & html_flags::StandardFontTags) != 0
                               ? std::string("<head><title></title>")
                               : kHead;
  EXPECT_EQ(Generate(c.generation, c.options),
            (xhtml ? kXhtmlStart : kHtmlStart) + head + c.driven + kClosing);
}

Body NestedLists() {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Intro");
  body.Add(cdbuild::Paragraph()).Add(Definition(2, 1800, 0x0400)).Add(cdbuild::PabRef(2));
  body.Add(Text("One"));
  body.Add(cdbuild::Paragraph()).Add(Definition(3, 2160, 0x1000)).Add(cdbuild::PabRef(3));
  body.Add(Text("Sub"));
  AddParagraph(body, 2, "Two");
  AddParagraph(body, 1, "After");
  return body;
}

Body HiddenAndBordered() {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Shown");
  body.Add(cdbuild::Paragraph()).Add(Definition(2, 1440, 0x0010)).Add(cdbuild::PabRef(2));
  body.Add(Text("Secret"));
  body.Add(cdbuild::Paragraph()).Add(cdbuild::PabRef(1));
  body.Add(driver_testing::Border({.style = 6, .widths = {4, 4, 4, 4}})).Add(Text("Framed"));
  return body;
}

Body Consolidated() {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "One");
  body.Add(cdbuild::Paragraph()).Add(Definition(2)).Add(cdbuild::PabRef(2)).Add(Text("Two"));
  return body;
}

INSTANTIATE_TEST_SUITE_P(
    Families, WholeDocumentTest,
    ::testing::Values(
        WholeCase{
            "NestedLists", NestedLists, "", "HTML",
            "<style type=\"text/css\">div.pabid1 {}"
            "ul.pabid2 {padding-left: 0.25in; margin-left: 0.00in; list-style-type: disc; "
            "margin-top: 0; margin-bottom: 0; }ul.pabid2 LI {} "
            "ol.pabid3 {padding-left: 0.25in; margin-left: 0.00in; "
            "list-style-type: decimal; margin-top: 0; margin-bottom: 0; }ol.pabid3 LI {} "
            "</style></head><body text='#000000' bgcolor='#ffffff'>"
            "Intro<ul class=\"pabid2\"><li style=\"list-style-type: disc; \">One"
            "<ol class=\"pabid3\"><li style=\"list-style-type: decimal; \">Sub</ol>"
            "<li style=\"list-style-type: disc; \">Two</ul><div class=\"pabid1\">After</div>"},
        WholeCase{"NestedListsXhtml", NestedLists, "", "XHTML",
                  "<style type=\"text/css\">div.pabid1 {}"
                  "ul.pabid2 {padding-left: 0.25in; margin-left: 0.00in; list-style-type: disc; "
                  "margin-top: 0; margin-bottom: 0; }ul.pabid2 LI {} "
                  "ol.pabid3 {padding-left: 0.25in; margin-left: 0.00in; "
                  "list-style-type: decimal; margin-top: 0; margin-bottom: 0; }ol.pabid3 LI {} "
                  "</style></head><body text='#000000' bgcolor='#ffffff'>"
                  "Intro<ul class=\"pabid2\"><li style=\"list-style-type: disc; \">One"
                  "<ol class=\"pabid3\"><li style=\"list-style-type: decimal; \">Sub</li></ol>"
                  "</li><li style=\"list-style-type: disc; \">Two</li></ul>"
                  "<div class=\"pabid1\">After</div>"},
        WholeCase{"HiddenAndBordered", HiddenAndBordered, "RespectHiddenFormulas=Yes", "XHTML",
                  "<style type=\"text/css\">div.pabid1 {}div.pabid2 {}</style></head>"
                  "<body text='#000000' bgcolor='#ffffff'>Shown"
                  "<div style=\" border-style:groove;border-width:4;\" class=\"pabid1\">Framed"
                  "</div>"},
        WholeCase{"Consolidated", Consolidated, "ConsolidatePABIDS=Yes", "HTML",
                  "<style type=\"text/css\">div.pabid1 {}</style></head>"
                  "<body text='#000000' bgcolor='#ffffff'>One<div class=\"pabid1\">Two</div>"},
        WholeCase{"SimpleTags", Consolidated, "StandardFontTags=Yes", "HTML",
                  "<style type=\"text/css\">div.pabid1 {}div.pabid2 {}</style></head>"
                  "<body bgcolor='#ffffff'>One<br>Two"}),
    [](const ::testing::TestParamInfo<WholeCase> &info) { return info.param.name; });

TEST_F(DriverTest, XhtmlDocumentThroughGenerateHtml) {
  Body body = ThreeParagraphs();
  body.Add(cdbuild::Paragraph()).Add(Text("Fourth"));
  Load(body);
  EXPECT_EQ(Generate("XHTML"),
            kXhtmlStart + kHead + Sheet(kOneRule) +
                "First<div class=\"pabid1\">Second</div><div class=\"pabid1\">Third<br />"
                "Fourth</div>" +
                kClosing);
}

TEST_F(DriverTest, PlainTextCopiesTheTextOfTheRuns) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, std::string("one\0two", 7));
  body.Add(Rule(0, 1440, 30, 0)).Add(Text("\xFFthree"));
  AddParagraph(body, 1, "four");
  EXPECT_EQ(Render(body, nullptr, kGenerationText), "one\r\ntwo three"
                                                    "four");
  EXPECT_EQ(Render(body, "NewlineOnParagraph=Yes", kGenerationText),
            "\r\none\r\ntwo three\r\nfour");
  EXPECT_EQ(Generate("Plain Text", "NewlineOnParagraph=Yes"), "\r\none\r\ntwo three\r\nfour");
}

TEST_F(DriverTest, ParagraphRecordLeavesALineBreakForTheNextRun) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "One");
  body.Add(cdbuild::Paragraph()).Add(Text("Two"));
  EXPECT_EQ(Render(body), Sheet(kOneRule) + "One<br>Two");
  EXPECT_EQ(Render(body, nullptr, kGenerationXHTML), Sheet(kOneRule) + "One<br />Two");
}

TEST_F(DriverTest, InsideALargeParagraphRecordsNeitherBreakNorOpen) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "A");
  body.Add(LargeParagraph(true));
  AddParagraph(body, 1, "B");
  body.Add(LargeParagraph(false));
  AddParagraph(body, 1, "C");
  EXPECT_EQ(Render(body), Sheet(kOneRule) + "AB<div class=\"pabid1\">C</div>");
}

TEST_F(DriverTest, EmptyRunAfterAReferenceIsALineBreakUnlessAHotspotFollows) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "One");
  body.Add(cdbuild::Paragraph()).Add(cdbuild::PabRef(1)).Add(Text(""));
  AddParagraph(body, 1, "Three");
  EXPECT_EQ(Render(body),
            Sheet(kOneRule) +
                "One<div class=\"pabid1\"><br></div><div class=\"pabid1\">Three</div>");

  Body hotspot;
  AddFirstParagraph(hotspot, Definition(1), 1, "One");
  hotspot.Add(cdbuild::Paragraph()).Add(cdbuild::PabRef(1)).Add(Text(""));
  hotspot.Add(cdbuild::HotspotBegin({.signature = SIG_CD_V4HOTSPOTBEGIN, .type = 4}));
  hotspot.Add(Text("link")).Add(cdbuild::HotspotEnd(SIG_CD_V4HOTSPOTEND));
  EXPECT_EQ(Render(hotspot), Sheet(kOneRule) + "One<div class=\"pabid1\">link</div>");
}

/* ---- records the driver writes itself ---- */

struct RuleCase {
  const char *name;
  DWORD flags;
  WORD width;
  WORD height;
  WORD colour;
  WORD justify;
  bool colourRecord;
  WORD generation;
  const char *expected;
};

class HorizontalRuleTest : public DriverTest, public ::testing::WithParamInterface<RuleCase> {};

TEST_P(HorizontalRuleTest, WrittenAsOneElement) {
  const RuleCase &c = GetParam();
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  body.Add(cdbuild::Paragraph()).Add(Definition(2, 1440, 0, 0, c.justify));
  body.Add(cdbuild::PabRef(2)).Add(Rule(c.flags, c.width, c.height, c.colour));
  if (c.colourRecord)
    body.Add(cdbuild::Color({.color = {0x0001, 0x33, 0x66, 0x99}}));
  Prepare(body, nullptr, c.generation);
  const std::string out = Drive();
  const std::string opening = c.justify == 0   ? "<div class=\"pabid2\">"
                              : c.justify == 1 ? "<div align='right' class=\"pabid2\">"
                                               : "<div align='center' class=\"pabid2\">";
  const size_t at = out.find(opening);
  ASSERT_NE(at, std::string::npos) << out;
  EXPECT_EQ(out.substr(at + opening.size()), std::string(c.expected) + "</div>");
}

INSTANTIATE_TEST_SUITE_P(
    Rules, HorizontalRuleTest,
    ::testing::Values(
        RuleCase{"Pixels", 0, 1440, 30, 0, 0, false, kGenerationHTML,
                 "<hr width=\"96\" size=\"2\" align='left' style=\"color: rgb(0,0,0);\">"},
        RuleCase{"Percent", 0x0004, 1440, 15, 2, 3, false, kGenerationHTML,
                 "<hr width=\"1440%\" size=\"1\" align='center' style=\"color: rgb(255,0,0);\">"},
        RuleCase{"NoShade", 0x0008, 2880, 45, 4, 1, false, kGenerationHTML,
                 "<hr width=\"192\" size=\"3\" align='right' noshade style=\"color: rgb(0,0,255);\">"},
        RuleCase{"NoShadeXhtml", 0x0008, 150, 15, 0, 0, false, kGenerationXHTML,
                 "<hr width=\"10\" size=\"1\" align='left' noshade=\"noshade\" "
                 "style=\"color: rgb(0,0,0);\" />"},
        RuleCase{"ColourRecord", 0, 1440, 30, 2, 0, true, kGenerationHTML,
                 "<hr width=\"96\" size=\"2\" align='left' style=\"color: rgb(51,102,153);\">"},
        // A palette index beyond the sixteen standard colours is still a colour.
        RuleCase{"WidePalette", 0, 15, 15, 100, 0, false, kGenerationHTML,
                 "<hr width=\"1\" size=\"1\" align='left' style=\"color: rgb(0,225,0);\">"}),
    [](const ::testing::TestParamInfo<RuleCase> &info) { return info.param.name; });

TEST_F(DriverTest, RuleWithoutAParagraphInForceHasNoAlignment) {
  Body body;
  body.Add(Rule(0, 1440, 30, 0)).Add(Text("After"));
  EXPECT_EQ(Render(body),
            Sheet("") + "<hr width=\"96\" size=\"2\" style=\"color: rgb(0,0,0);\">After");
}

TEST_F(DriverTest, RecordsShorterThanTheirFieldsAreSkipped) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "A");
  body.Add(Rule(0, 1440, 30, 0)).Add(Anchor("name")).Add(LargeParagraph(true)).Add(Text("B"));
  Prepare(body);
  // Records held in memory may be cut short; none is read past its end.
  for (record_storage *node = records_->records; node != nullptr; node = node->next) {
    if (node->signature == SIG_CD_HRULE || node->signature == SIG_CD_ANCHOR ||
        node->signature == SIG_CD_LARGEPARAGRAPH)
      node->length = 6;
  }
  EXPECT_EQ(Drive(), Sheet(kOneRule) + "AB");
  EXPECT_EQ(context_->large_paragraph, 0u);
}

TEST_F(DriverTest, AnchorNameIsEscapedAndCutToTheRecord) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  body.Add(Anchor("sec&1\"<x>")).Add(Text("Section"));
  Bytes longName = Anchor("abc");
  cdbuild::PutWord(longName, 4, 200); // a length beyond the record
  body.Add(longName);
  EXPECT_EQ(Render(body), Sheet(kOneRule) + "Start<a name=\"sec&amp;1&quot;&lt;x&gt;\"></a>Section"
                                            "<a name=\"abc\"></a>");
}

TEST_F(DriverTest, BracketedTextIsWrittenRawOnlyWithThePresets) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "A");
  body.Add(Text(std::string("[<b>x\0y</b>]", 12), Font{4, 0, 0, 10}));
  Prepare(body);
  EXPECT_EQ(Drive(), Sheet(kOneRule) +
                         "A<span style=\"font-family: monospace; \">[&lt;b&gt;x<br>y&lt;/b&gt;]"
                         "</span>");
  Prepare(body);
  context_->flags5 |= html_flags5::SeeAttachedMsgEnabled;
  EXPECT_EQ(Drive(), Sheet(kOneRule) + "A<b>x y</b>");
}

TEST_F(DriverTest, PassThroughAndSkipPassthru) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "A ");
  body.Add(cdbuild::HtmlBegin()).Add(Text("<b>raw</b>")).Add(cdbuild::HtmlEnd());
  body.Add(Text(" Z"));
  EXPECT_EQ(Render(body), Sheet(kOneRule) + "A <b>raw</b> Z");
  EXPECT_EQ(Render(body, "SkipPassthru=yes"), Sheet(kOneRule) + "A &lt;b&gt;raw&lt;/b&gt; Z");
}

TEST_F(DriverTest, PassThroughWithoutItsEndCopiesTheRestOnce) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "A ");
  body.Add(cdbuild::HtmlBegin()).Add(Text("<i>"));
  EXPECT_EQ(Render(body), Sheet(kOneRule) + "A <i>");
}

TEST_F(DriverTest, FieldRecordIsHandedToItsRenderer) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Name: ");
  body.Add(cdbuild::Field({.data_type = TYPE_TEXT, .name = "Subject"}));
  body.Add(Text("!"));
  EXPECT_EQ(Render(body), Sheet(kOneRule) + "Name: <input name=\"Subject\" value=\"\">!");
}

/* ---- families not rendered yet: their text renders flat ---- */

TEST_F(DriverTest, TablesHotspotsSectionsAndLayoutsRenderTheirTextFlat) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Before ");
  body.Add(cdbuild::PreTableBegin()).Add(cdbuild::TableBegin());
  body.Add(cdbuild::TableCell({.row = 0, .column = 0})).Add(Text("A1"));
  body.Add(cdbuild::TableCell({.row = 0, .column = 1})).Add(Text(" B1"));
  body.Add(cdbuild::TableEnd());
  body.Add(cdbuild::HotspotBegin({.type = 4})).Add(Text(" link")).Add(cdbuild::HotspotEnd());
  body.Add(cdbuild::Sized(SIG_CD_SECTIONBAR, 14)).Add(Text(" section"));
  body.Add(cdbuild::Sized(SIG_CD_LAYOUT, sizeof(CDLAYOUT))).Add(Text(" layout"));
  body.Add(cdbuild::Sized(SIG_CD_GRAPHIC, sizeof(CDGRAPHIC) - 2)).Add(cdbuild::Link(1));
  body.Add(Text("."));
  EXPECT_EQ(Render(body), Sheet(kOneRule) + "Before A1 B1 link section layout.");
}

TEST_F(DriverTest, SimpleTagsBreakBeforeATableOnce) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "First");
  AddParagraph(body, 1, "Left");
  body.Add(cdbuild::TableBegin()).Add(Text("in table")).Add(cdbuild::TableEnd());
  body.Add(cdbuild::Paragraph()).Add(Definition(2, 1440, 0, 0, 3)).Add(cdbuild::PabRef(2));
  body.Add(cdbuild::TableBegin()).Add(Text("centred")).Add(cdbuild::TableEnd());
  const std::string sheet =
      "<style type=\"text/css\">div.pabid1 {}div.pabid2 {}</style></head><body bgcolor='#ffffff'>";
  // The paragraph's own line break is not repeated; a centred paragraph's
  // table stands in a centred division.
  EXPECT_EQ(Render(body, "StandardFontTags=Yes"),
            sheet + "First<br>Left<br>in table<div align='center'><div align='center'>centred"
                    "</div></div>");
}

/* ---- brackets ---- */

TEST_F(DriverTest, BracketedContentRendersOneLevelDeeper) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "A");
  body.Add(cdbuild::Begin(SIG_CD_TEXT)).Add(Text(std::string("B"), Font{1, 0x01, 0, 10}));
  body.Add(cdbuild::Color({})).Add(cdbuild::End(SIG_CD_TEXT)).Add(Text("C"));
  // The run of a text bracket carries its colour record with it.
  EXPECT_EQ(Render(body),
            Sheet(kOneRule) + "A<span style=\"color: rgb(0,0,0); \"><b>B</b></span>C");
}

TEST_F(DriverTest, DeepNestingIsRenderedWholeWithoutExhaustingTheStack) {
  constexpr int kDepth = 5000;
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "<");
  for (int i = 0; i < kDepth; ++i)
    body.Add(cdbuild::Begin(SIG_CD_GRAPHIC)).Add(Text("x"));
  for (int i = 0; i < kDepth; ++i)
    body.Add(cdbuild::End(SIG_CD_GRAPHIC));
  body.Add(Text(">"));
  const std::string out = Render(body, "OutputToEvent=No");
  EXPECT_EQ(out, Sheet(kOneRule) + "&lt;" + std::string(kDepth, 'x') + "&gt;");
}

TEST_F(DriverTest, UnbalancedEndsAreConsumed) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "A");
  body.Add(cdbuild::End(SIG_CD_GRAPHIC)).Add(cdbuild::End(SIG_CD_LAYER)).Add(Text("B"));
  EXPECT_EQ(Render(body), Sheet(kOneRule) + "AB");
  EXPECT_EQ(context_->layer_level, 0);
}

/* ---- flushing, sinks and modes ---- */

TEST_F(DriverTest, FlushesToTheCallbackNearTheThreshold) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  for (int i = 0; i < 20; ++i)
    AddParagraph(body, 1, "paragraph number " + std::to_string(i));
  Prepare(body, "OutputToEvent=200");
  chunk_->SetActOnTextCallback(text_testing::RecordPiece);
  const std::string held = Drive();
  ASSERT_GT(Pieces().size(), 3u);
  for (const std::string &piece : Pieces())
    EXPECT_LE(piece.size(), 200u + 40u) << piece;
  std::string expected = Sheet(kOneRule) + "Start";
  for (int i = 0; i < 20; ++i)
    expected += "<div class=\"pabid1\">paragraph number " + std::to_string(i) + "</div>";
  // The final flush keeps the end of the text for the caller.
  EXPECT_EQ(AllOutput(), expected);
  EXPECT_EQ(held.empty(), false);
}

TEST_F(DriverTest, OutputAllToEventHandsTheEndToTheCallbackToo) {
  Prepare(ThreeParagraphs(), "OutputToEvent=Yes OutputAllToEvent=Yes");
  chunk_->SetActOnTextCallback(text_testing::RecordPiece);
  Drive();
  EXPECT_EQ(Held(), "");
  std::string all;
  for (const std::string &piece : Pieces())
    all += piece;
  EXPECT_EQ(all, Sheet(kOneRule) +
                     "First<div class=\"pabid1\">Second</div><div class=\"pabid1\">Third</div>");
}

TEST_F(DriverTest, CallersBufferWithoutThresholdStopsShortOfItsEnd) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  for (int i = 0; i < 40; ++i)
    AddParagraph(body, 1, "a paragraph of text");
  Load(body);
  char buffer[1200];
  DWORD length = sizeof buffer;
  char name[8];
  const char *options = "OutputToEvent=No";
  EXPECT_EQ(chunk_->GenerateHTMLToMime(0, 0, "HTML", options, static_cast<WORD>(strlen(options)),
                                       buffer, &length, 0, name, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, nullptr),
            NOERROR);
  // The walk stopped once fewer than 500 bytes were left; the closing text
  // still fits behind it.
  const std::string held(buffer, length);
  EXPECT_GT(held.size(), 1200u - 500u - 40u);
  EXPECT_LT(held.size(), 1200u);
  EXPECT_EQ(held.substr(held.size() - kClosing.size()), kClosing);
}

TEST_F(DriverTest, DirectCallWithAFullCallersBufferReturns263) {
  char buffer[600];
  Prepare(ThreeParagraphs(), "OutputToEvent=No");
  UseCallersBuffer(buffer, sizeof buffer);
  RenderPuts(context_, std::string(150, 'h').c_str());
  EXPECT_EQ(ProcessXMLStream(context_, 0, 0, 0), VELKO_ERR_MEMORY);
  EXPECT_EQ(context_->paragraph_styles, nullptr); // nothing kept behind
  EXPECT_LT(context_->output_length, 600u - 1);
}

TEST_F(DriverTest, ModesOfTheFinalFlushAndTheTableContinuation) {
  const std::string body =
      "First<div class=\"pabid1\">Second</div><div class=\"pabid1\">Third</div>";
  Prepare(ThreeParagraphs());
  context_->table_pending = 1;
  context_->row_pending = 1;
  // Mode 1 leaves the open table to the final call.
  EXPECT_EQ(Drive(1), Sheet(kOneRule) + body);
  EXPECT_EQ(Drive(2), "</tr></table>");
  EXPECT_EQ(context_->table_pending, 0u);
  EXPECT_EQ(context_->row_pending, 0u);
  // A chunk after a pending table continues it: the "</table>" written
  // before is taken back, and mode 0 closes the table at its end. The head
  // is written once in a run.
  context_->table_pending = 1;
  RenderPuts(context_, "</table>");
  const DWORD before = context_->output_length;
  context_->current_record = records_->records;
  Drive(0);
  EXPECT_EQ(Held().substr(before - 8), body + "</table>");
  EXPECT_EQ(context_->table_pending, 0u);
}

TEST_F(DriverTest, ModeTwoReadsNoRecords) {
  Prepare(ThreeParagraphs());
  EXPECT_EQ(Drive(2), "");
  EXPECT_EQ(context_->current_record, records_->records);
}

TEST_F(DriverTest, TracesAboveDiagnosticLevelTwo) {
  HostTestSetEnvironment("OstrafineDebug", "3");
  Render(ThreeParagraphs());
  const std::string log = LogText();
  for (const char *trace : {"PrXMLStr - IN", "PrXMLStr - Step 3", "PrXMLStr - Step 4",
                            "PrXMLStr - Step 5", "PrXMLStr - Step 5b - after"})
    EXPECT_NE(log.find(trace), std::string::npos) << trace;
  HostTestSetEnvironment("OstrafineDebug", "2");
  HostTestClearLog();
  Render(ThreeParagraphs());
  EXPECT_EQ(LogText().find("PrXMLStr"), std::string::npos);
  HostTestSetEnvironment("OstrafineDebug", nullptr);
  debug_level = 0;
}

TEST_F(DriverTest, NoContextOrOutputIsABadArgument) {
  EXPECT_EQ(ProcessXMLStream(nullptr, 0, 0, 0), VELKO_ERR_BAD_ARGUMENT);
}

/* ---- the engine's rendering action ---- */

TEST_F(DriverTest, AChunkOfTheBodyRendersOnlyItsRecords) {
  Load(ThreeParagraphs());
  VelkoRTChunk *text = item_->DefineChunk("Text 2");
  ASSERT_NE(text, nullptr);
  char *result = text->GenerateHTML("", "HTML", "Generation=Fragment", 0, nullptr, nullptr);
  ASSERT_NE(result, nullptr);
  EXPECT_STREQ(result, "Second");
  VelkoDeallocatePtr(session_.get(), result);
}

TEST_F(DriverTest, ExtraClausesRenderEachChunkAndFlushAtTheEnd) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  AddParagraph(body, 1, "Middle");
  AddParagraph(body, 1, "End");
  Load(body);
  // The extra clause makes the operation render at the end: each chunk in
  // mode 1, then the final flush.
  EXPECT_EQ(Generate("HTML", "Generation=Fragment", "Text 3"), "End");
}

TEST_F(DriverTest, RenderingLeavesTheNoteUnchanged) {
  Load(ThreeParagraphs());
  Generate();
  EXPECT_EQ(item_->Modified, 0);
  EXPECT_EQ(chunk_->status, NOERROR);
  EXPECT_EQ(chunk_->secondary_status, 0);
}

} // namespace
