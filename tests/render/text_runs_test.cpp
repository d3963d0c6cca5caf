// Text runs, beyond the golden corpus: links across runs, empty runs,
// merged runs and repeated markup, colour records, records that are not
// runs, flushing a long run, traces and a full caller's buffer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/messages.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "text_fixture.h"

namespace {

using cdbuild::Body;
using cdbuild::Bytes;
using cdbuild::Font;
using text_testing::Pieces;
using Tags = std::vector<std::string>;

constexpr BYTE kRed = 2;

Bytes TextRun(const std::string &text, Font font = {}) { return cdbuild::Text(text, font); }
Bytes RedTextRun(const std::string &text) { return cdbuild::Text(text, Font{1, 0, kRed, 10}); }

class TextRunTest : public text_testing::TextRenderTest {
protected:
  /* One call from the current record; what it appends. */
  std::string Render(BOOL lineBreak = 0, WORD bracket = 0) {
    const DWORD before = context_->output_length;
    EXPECT_EQ(ProcessXMLText(context_, bracket, lineBreak), NOERROR);
    return Held().substr(before);
  }

  void SetOptions(const char *options) {
    context_->options = VelkoAllocatePtrAndCopy(session_.get(), VELKO_HERE, options, 0);
  }
};

TEST_F(TextRunTest, ALinkGoesOnAcrossRunsInTheSameFont) {
  LoadRecords({TextRun("go http://a.ex"), TextRun("ample.org end")});
  context_->flags |= html_flags::MakeURLHotspots;
  EXPECT_EQ(Render(), "go <a href=\"http://a.example.org\">http://a.example.org</a> end");
}

TEST_F(TextRunTest, EmptyRuns) {
  Body body;
  body.Add(cdbuild::PabRef(1)).Add(RedTextRun(""));                           // 0, 1
  body.Add(cdbuild::PabRef(1)).Add(TextRun("a")).Add(RedTextRun(""));         // 2, 3, 4
  body.Add(cdbuild::PabRef(1)).Add(TextRun(""));                              // 5, 6
  body.Add(cdbuild::PabRef(1)).Add(RedTextRun("")).Add(cdbuild::Paragraph()); // 7, 8, 9
  Load(body);
  // Alone in its paragraph: its font markup is written.
  context_->current_record = Record(1);
  EXPECT_EQ(Render(), "<span style=\"color: rgb(255,0,0); \"></span>");
  EXPECT_EQ(context_->current_record, Record(2));
  // Beside other text: nothing.
  context_->current_record = Record(4);
  EXPECT_EQ(Render(), "");
  EXPECT_EQ(context_->current_record, Record(5));
  // With the line-break argument: one line break.
  context_->current_record = Record(6);
  EXPECT_EQ(Render(1), "<br>");
  EXPECT_EQ(context_->current_record, Record(7));
  // Under StandardFontTags no run is alone.
  context_->flags |= html_flags::StandardFontTags;
  context_->current_record = Record(8);
  EXPECT_EQ(Render(), "");
  EXPECT_EQ(context_->current_record, Record(9));
}

TEST_F(TextRunTest, RunsInTheSameFontShareOneMarkup) {
  LoadRecords({RedTextRun("a"), RedTextRun(""), RedTextRun("b"), TextRun("c")});
  EXPECT_EQ(Render(), "<span style=\"color: rgb(255,0,0); \">ab</span>");
  EXPECT_EQ(context_->current_record, Record(3));
  EXPECT_EQ(Render(), "c");
}

TEST_F(TextRunTest, RepeatedMarkupIsWrittenOnce) {
  LoadRecords({TextRun("x", Font{1, 0, 0, 14})});
  context_->flags |= html_flags::StandardFontTags;
  // The same font tag is already open right before the run.
  RenderPuts(context_, "<font size='4'>");
  PushXMLStack(context_, 0, "</font>");
  EXPECT_EQ(Render(), "x</font>");
  EXPECT_EQ(Held(), "<font size='4'>x</font>");
  EXPECT_EQ(Stack(), Tags{});
}

TEST_F(TextRunTest, ColourRecords) {
  const cdbuild::ColorFields colour{{0x0001, 0x12, 0x34, 0x56}, std::nullopt};
  Body body;
  body.Add(TextRun("a")).Add(cdbuild::Color(colour)).Add(cdbuild::Paragraph()); // 0-2
  body.Add(cdbuild::Begin(SIG_CD_TEXT)).Add(TextRun("b")).Add(TextRun("c", Font{1, 1, 0, 10}));
  body.Add(cdbuild::Color(colour)).Add(cdbuild::End(SIG_CD_TEXT));                         // 3-7
  body.Add(TextRun("d")).Add(TextRun("e", Font{1, 1, 0, 10})).Add(cdbuild::Color(colour)); // 8-10
  Load(body);
  EXPECT_EQ(Render(), "<span style=\"color: rgb(18,52,86); \">a</span>");
  // In a begin/end group the group's colour record colours every run.
  context_->current_record = Record(4);
  EXPECT_EQ(Render(), "<span style=\"color: rgb(18,52,86); \">b</span>");
  // Elsewhere only the record right after the run counts.
  context_->current_record = Record(8);
  EXPECT_EQ(Render(), "d");
}

TEST_F(TextRunTest, TheBracketSignatureMovesOnToTheGroupEnd) {
  LoadRecords({cdbuild::Begin(SIG_CD_TEXT), TextRun("a"), TextRun("b", Font{1, 1, 0, 10}),
               cdbuild::End(SIG_CD_TEXT), TextRun("z")});
  context_->current_record = Record(1);
  EXPECT_EQ(Render(0, SIG_CD_TEXT), "a");
  EXPECT_EQ(context_->current_record, Record(3));
}

TEST_F(TextRunTest, AParagraphMappingMaySuppressTheFontMarkup) {
  LoadRecords({RedTextRun("a")});
  style_mapping mapping;
  mapping.flags = STYLE_MAPPING_NO_FONT_MARKUP;
  context_->paragraph_mapping = &mapping;
  EXPECT_EQ(Render(), "a");
  context_->paragraph_mapping = nullptr;
}

TEST_F(TextRunTest, RecordsThatAreNotRuns) {
  LoadRecords({TextRun("short"), cdbuild::Paragraph(), TextRun("a"), cdbuild::Paragraph()});
  // Shorter than its font: nothing of it is read.
  Record(0)->length = 6;
  EXPECT_EQ(Render(), "");
  EXPECT_EQ(context_->current_record, Record(1));
  // The search for a run stops at the chunk's last record.
  context_->last_record = Record(1);
  EXPECT_EQ(Render(), "");
  EXPECT_EQ(context_->current_record, Record(2));
  context_->last_record = nullptr;
  context_->current_record = Record(3);
  EXPECT_EQ(Render(), "");
  EXPECT_EQ(context_->current_record, Record(3));
}

TEST_F(TextRunTest, RunsAfterTheLastRecordAreNotMerged) {
  LoadRecords({TextRun("a"), TextRun("b")});
  context_->last_record = Record(0);
  EXPECT_EQ(Render(), "a");
  EXPECT_EQ(context_->current_record, Record(1));
}

TEST_F(TextRunTest, ALongRunIsHandedOnInPiecesWithNothingLost) {
  std::string text;
  for (int i = 0; i < 60; ++i)
    text += "word" + std::to_string(i) + " <&> ";
  LoadRecords({TextRun(text)});
  UseCallback(100);
  ASSERT_EQ(ProcessXMLText(context_, 0, 0), NOERROR);
  std::string expected;
  for (int i = 0; i < 60; ++i)
    expected += "word" + std::to_string(i) + " &lt;&amp;&gt; ";
  EXPECT_GT(Pieces().size(), 3u);
  EXPECT_EQ(AllOutput(), expected);
  EXPECT_LE(context_->output_length, 100u + 40u + 8u);
}

TEST_F(TextRunTest, AnOpenLinkIsClosedBeforeAFlush) {
  std::string text = "http://a.example/";
  text += std::string(200, 'x');
  text += " end";
  LoadRecords({TextRun(text)});
  UseCallback(100);
  context_->flags |= html_flags::MakeURLHotspots;
  ASSERT_EQ(ProcessXMLText(context_, 0, 0), NOERROR);
  const std::string all = AllOutput();
  // The address is cut where the flush came; every byte of text is kept.
  const size_t close = all.find("\">");
  ASSERT_NE(close, std::string::npos);
  const std::string href = all.substr(9, close - 9);
  EXPECT_EQ(all.substr(0, 9), "<a href=\"");
  EXPECT_EQ(all.substr(close, 2 + href.size() + 4), "\">" + href + "</a>");
  EXPECT_EQ(all.substr(close + 2 + href.size() + 4), text.substr(href.size()));
  EXPECT_EQ(context_->output_hold, 0u);
}

TEST_F(TextRunTest, APositionHeldInTheTextIsNotFlushedAway) {
  LoadRecords({TextRun(std::string(300, 'x') + " " + std::string(300, 'y'))});
  UseCallback(100);
  context_->output_hold = 1;
  EXPECT_EQ(Render(), std::string(300, 'x') + " " + std::string(300, 'y'));
  EXPECT_EQ(Pieces(), std::vector<std::string>{});
  context_->output_hold = 0;
}

TEST_F(TextRunTest, WithoutARunOnlyAnOpenSpanIsClosed) {
  LoadRecords({cdbuild::Paragraph()});
  PushXMLStack(context_, 0, "</span>");
  PushXMLStack(context_, 0, "</b>");
  EXPECT_EQ(Render(), "</b></span>");
  EXPECT_EQ(context_->current_record, Record(0));
  EXPECT_EQ(Stack(), Tags{});
}

TEST_F(TextRunTest, TraceLinesAboveDiagnosticLevelTwo) {
  LoadRecords({RedTextRun("a"), TextRun("b")});
  WORD& debug_level = session_->internal->debug_level;
  debug_level = 2;
  Render();
  EXPECT_EQ(HostTestLogLines(), std::vector<std::string>{});
  debug_level = 3;
  Render();
  EXPECT_EQ(HostTestLogLines(),
            (std::vector<std::string>{"ProcessXMLText - IN",
                                      "ProcessXMLText - About to check color value",
                                      "ProcessXMLText - #2", "ProcessXMLText - OUT"}));
}

TEST_F(TextRunTest, AFullCallerBufferFailsTheRun) {
  LoadRecords({TextRun("abcdefghijklmnop")});
  VelkoDeallocatePtr(session_.get(), context_->output_buffer);
  char buffer[8];
  ASSERT_EQ(SetupRenderOutput(context_, buffer, sizeof buffer), NOERROR);
  EXPECT_EQ(ProcessXMLText(context_, 0, 0), VELKO_ERR_MEMORY);
  // What fits is kept; nothing is written past the buffer.
  EXPECT_EQ(Held(), "abcdefg");
}

} // namespace
