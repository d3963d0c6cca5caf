// The record driver beyond what the golden corpus renders: large
// paragraphs, empty runs before a hotspot, records cut short, bracketed
// text under the presets, families rendered flat, simple tags before a
// table, brackets and their nesting, a full caller's buffer, the modes of
// the final flush, and extra clauses of the engine's rendering action.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cdbuild/cd_script.h"
#include "host/host_testing.h"
#include "render/tag_stack.h"
#include "store/messages.h"
#include "tests/render/render_fixture.h"

namespace {

using cdbuild::Body;
using cdbuild::Bytes;
using cdbuild::Font;
using driver_testing::AddFirstParagraph;
using driver_testing::AddParagraph;
using driver_testing::Definition;
using driver_testing::kClosing;
using driver_testing::Sheet;
using driver_testing::Text;

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

/* ---- the walk ---- */

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

/* ---- hotspots, sections and layouts after a table ---- */

/* A file hotspot without data keeps only its text; a bar without a title
 * writes only its rule. */
TEST_F(DriverTest, HotspotsAndSectionsAfterATable) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Before ");
  body.Add(cdbuild::PreTableBegin()).Add(cdbuild::TableBegin());
  body.Add(cdbuild::TableCell({.row = 0, .column = 0})).Add(Text("A1"));
  body.Add(cdbuild::TableCell({.row = 0, .column = 1})).Add(Text(" B1"));
  body.Add(cdbuild::TableEnd());
  body.Add(cdbuild::HotspotBegin({.type = 4})).Add(Text(" link")).Add(cdbuild::HotspotEnd());
  body.Add(cdbuild::Sized(SIG_CD_SECTIONBAR, 14)).Add(Text(" section"));
  body.Add(cdbuild::Sized(SIG_CD_GRAPHIC, sizeof(CDGRAPHIC) - 2));
  body.Add(Text("."));
  EXPECT_EQ(Render(body), Sheet(kOneRule) + "Before <table border='0'><tr valign='top'>"
                                            "<td width='96'>A1</td><td width='96'> B1</td></tr>"
                                            "</table> link<hr /> section.");
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
            sheet + "First<br>Left<br><table border='1'>in table</table><div align='center'>"
                    "<div align='center'><table border='1'>centred</table></div></div>");
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

TEST_F(DriverTest, DeepHotspotNestingIsRenderedWholeWithoutExhaustingTheStack) {
  // Hotspots past the driver's depth are walked without their markup; a
  // hotspot of this type writes none, so the text is all there is.
  constexpr int kDepth = 20000;
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "<");
  for (int i = 0; i < kDepth; ++i)
    body.Add(cdbuild::HotspotBegin({.type = 4})).Add(Text("x"));
  for (int i = 0; i < kDepth; ++i)
    body.Add(cdbuild::HotspotEnd());
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

TEST_F(DriverTest, CallersBufferWithoutThresholdFailsShortOfItsEnd) {
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
            VELKO_ERR_MEMORY);
  // The walk stopped once fewer than 500 bytes were left, with the text
  // written so far left in the buffer: a document cut short is no success.
  const std::string held(buffer, strnlen(buffer, sizeof buffer));
  EXPECT_GT(held.size(), 1200u - 500u - 40u);
  EXPECT_LT(held.size(), 1200u - 500u + 40u);
  EXPECT_EQ(held.find(kClosing), std::string::npos);
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

TEST_F(DriverTest, NoContextOrOutputIsABadArgument) {
  EXPECT_EQ(ProcessXMLStream(nullptr, 0, 0, 0), VELKO_ERR_BAD_ARGUMENT);
}

/* ---- the engine's rendering action ---- */

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


/* ---- statuses ---- */

/* A one-pixel GIF named "x", and the options that write images to disk
 * under their names in the directory. */
constexpr char kNamedImage[] =
    "BEGIN sig=CDGRAPHIC\nGRAPHIC\nIMAGEHEADER type=1 width=1 height=1 segments=1\n"
    "IMAGESEGMENT data=\"GIF\"\nIDNAME name=\"x\"\nEND sig=CDGRAPHIC\n";

std::string DiskImageOptions(const std::filesystem::path &directory) {
  return "ImageHandling=DISK ImageUseName=Yes ImageURLDirectory=/i ImageDirectory=" +
         directory.string();
}

/* An image whose file cannot be written (its name is taken by a
 * directory) in a second paragraph, with text after it: the image
 * renderer's 1028 ends the walk, the paragraph's open division is still
 * closed, and the status is what the driver answers and what the chunk
 * reports; GenerateHTML gives no text for the cut document. */

TEST_F(DriverTest, ARenderersFailureEndsTheWalkAfterTheClosingTagsAndIsReturned) {
  namespace fs = std::filesystem;
  const fs::path directory = fs::path(::testing::TempDir()) / "velko_driver_status";
  fs::remove_all(directory);
  fs::create_directories(directory / "x.gif"); // the file's name is taken
  Body body;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript("PARAGRAPH\nPABDEF id=1\nPABREF id=1\nTEXT text=\"A\"\n"
                                   "PARAGRAPH\nPABREF id=1\nTEXT text=\"B\"\n"
                                   + std::string(kNamedImage) + "TEXT text=\"after\"\n",
                                   &body, &error))
      << error.line << ": " << error.message;
  const std::string options = DiskImageOptions(directory);
  Prepare(body, options.c_str());
  EXPECT_EQ(Drive(0, kServiceNotAvailable),
            Sheet(kOneRule) + "A<div class=\"pabid1\">B<img src=\"/i/x.gif\" height=\"1\" "
                              "width=\"1\" name=\"x\" border=\"0\"></div>");
  Unload();
  Load(body);
  char *result = chunk_->GenerateHTML("", "HTML", options.c_str(), 0, nullptr, nullptr);
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(chunk_->status, kServiceNotAvailable);
  fs::remove_all(directory);
}

/* ---- layers ---- */

/* Layers nested deeper than the driver goes: the first that would start
 * at the bound is left out whole with all it holds, the ones around it
 * close in order, and the walk goes on after them with no layer open. */
TEST_F(DriverTest, LayersNestedTooDeepAreLeftOutWhole) {
  constexpr int kLayers = 100;
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "A");
  for (int i = 0; i < kLayers; ++i)
    body.Add(cdbuild::LayerBegin()).Add(cdbuild::Layer()).Add(Text("x"));
  for (int i = 0; i < kLayers; ++i)
    body.Add(cdbuild::LayerEnd());
  body.Add(Text("end"));
  std::string expected = Sheet(kOneRule) + "A";
  constexpr int kRendered = 63; // the layer at depth 64 and all inside it go
  for (int i = 0; i < kRendered; ++i)
    expected += "<div style=\"\">x";
  for (int i = 0; i < kRendered; ++i)
    expected += "</div>";
  EXPECT_EQ(Render(body), expected + "end");
  EXPECT_EQ(context_->layer_level, 0u);
}

/* A failure inside a layer's content ends the walk at its depth: the layer
 * and the paragraph around it are closed, the status is returned. */
TEST_F(DriverTest, AFailureInsideALayerIsReturnedWithTheLayerClosed) {
  namespace fs = std::filesystem;
  const fs::path directory = fs::path(::testing::TempDir()) / "velko_driver_layer_status";
  fs::remove_all(directory);
  fs::create_directories(directory / "x.gif");
  Body body;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript("PARAGRAPH\nPABDEF id=1\nPABREF id=1\nTEXT text=\"A\"\n"
                                   "LAYERBEGIN\nLAYER\nTEXT text=\"in\"\n"
                                   + std::string(kNamedImage) + "TEXT text=\"lost\"\nLAYEREND\n"
                                   "TEXT text=\"after\"\n",
                                   &body, &error))
      << error.line << ": " << error.message;
  const std::string options = DiskImageOptions(directory);
  Prepare(body, options.c_str());
  EXPECT_EQ(Drive(0, kServiceNotAvailable),
            Sheet(kOneRule) + "A<div style=\"\">in<img src=\"/i/x.gif\" height=\"1\" "
                              "width=\"1\" name=\"x\" border=\"0\"></div>");
  fs::remove_all(directory);
}

} // namespace
