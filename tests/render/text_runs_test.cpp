// Text runs: escaping, characters and entities, preserved spaces and tabs,
// line breaks, automatic links, empty runs, merged runs, colours, the
// closing of what a run opened, and flushing a long run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/messages.h"
#include "store/tracked_memory.h"
#include "text_fixture.h"

namespace {

using cdbuild::Body;
using cdbuild::Bytes;
using cdbuild::Font;
using text_testing::Lmbcs;
using text_testing::MakeFont;
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

TEST_F(TextRunTest, EscapesTheMarkupCharacters) {
  LoadRecords({TextRun("a<b>\"c\"&'d")});
  EXPECT_EQ(Render(), "a&lt;b&gt;&quot;c&quot;&amp;'d");
  EXPECT_EQ(context_->current_record, nullptr);
  EXPECT_EQ(Stack(), Tags{});
}

TEST_F(TextRunTest, CharactersAboveAsciiAsEntitiesOrReferences) {
  struct Case {
    std::string text;
    const char *named;
    const char *numeric; /* under UseXMLEntities */
  };
  const std::vector<Case> cases = {
      {Lmbcs("caf\xC3\xA9"), "caf&eacute;", "caf&#233;"},
      {"\x82", "&eacute;", "&#233;"}, // code page 850
      {Lmbcs("\xE2\x82\xAC"), "&euro;", "&#8364;"},
      {Lmbcs("\xE2\x84\xA2"), "&trade;", "&#8482;"},
      {Lmbcs("\xC2\xA0"), "&nbsp;", "&#160;"},
      {Lmbcs("\xE4\xB8\xAD"), "&#20013;", "&#20013;"},
      {Lmbcs("\xF0\x9D\x84\x9E"), "&#119070;", "&#119070;"},
      {Lmbcs("\xC2\x85"), "&#65533;", "&#65533;"}, // a C1 control
      {std::string("\x07", 1), "&#65533;", "&#65533;"},
  };
  Body body;
  for (const Case &c : cases)
    body.Add(TextRun(c.text)).Add(cdbuild::Paragraph());
  for (const Case &c : cases)
    body.Add(TextRun(c.text)).Add(cdbuild::Paragraph());
  Load(body);
  for (const Case &c : cases)
    EXPECT_EQ(Render(), c.named) << c.named;
  context_->flags3 |= html_flags3::UseXMLEntities;
  for (const Case &c : cases)
    EXPECT_EQ(Render(), c.numeric) << c.numeric;
}

TEST_F(TextRunTest, SpacesPreservedOrNot) {
  Body body;
  body.Add(TextRun("a  b c ")).Add(cdbuild::Paragraph());
  body.Add(TextRun("a  b c ")).Add(cdbuild::Paragraph());
  body.Add(TextRun("a b", Font{4, 0, 0, 10}));
  Load(body);
  EXPECT_EQ(Render(), "a  b c ");
  context_->flags |= html_flags::PreserveSpaces;
  EXPECT_EQ(Render(), "a&nbsp;&nbsp;b c&nbsp;");
  // The fixed-pitch face keeps every space.
  EXPECT_EQ(Render(), "<span style=\"font-family: Default Monospace; \">a&nbsp;b</span>");
}

TEST_F(TextRunTest, TabsAsBlanks) {
  LoadRecords({TextRun("a\tb"), cdbuild::Paragraph(), TextRun("a\tb")});
  EXPECT_EQ(Render(), "a b");
  context_->preserve_tabs = 3;
  EXPECT_EQ(Render(), "a&nbsp;&nbsp;&nbsp;b");
}

TEST_F(TextRunTest, NulBytesAreLineBreaksByGeneration) {
  LoadRecords(
      {TextRun(std::string("a\0b", 3)), cdbuild::Paragraph(), TextRun(std::string("a\0b", 3))});
  context_->cell_empty[0] = 1;
  EXPECT_EQ(Render(), "a<br>b");
  EXPECT_EQ(context_->cell_empty[0], 0u);
  context_->generation = kGenerationXHTML;
  EXPECT_EQ(Render(), "a<br />b");
}

TEST_F(TextRunTest, AutomaticLinks) {
  struct Case {
    const char *text;
    const char *html;
  };
  const std::vector<Case> cases = {
      {"see http://x.org/a?b=1&c=2 now",
       "see <a href=\"http://x.org/a?b=1&amp;c=2\">http://x.org/a?b=1&amp;c=2</a> now"},
      {"HTTPS://x.org/", "<a href=\"HTTPS://x.org/\">HTTPS://x.org/</a>"},
      {"mailto:someone@x.org", "<a href=\"mailto:someone@x.org\">mailto:someone@x.org</a>"},
      {"skype:someone", "<a href=\"skype:someone\">skype:someone</a>"},
      {"http://host:8080/x", "<a href=\"http://host\">http://host</a>:8080/x"},
      {"(http://a.example/x)", "(<a href=\"http://a.example/x\">http://a.example/x</a>)"},
      {"\"http://a.example/x\"",
       "&quot;<a href=\"http://a.example/x\">http://a.example/x</a>&quot;"},
      {"http://ab", "http://ab"}, // too short to be an address
      {"skype:abcd", "skype:abcd"},
  };
  Body body;
  for (const Case &c : cases)
    body.Add(TextRun(c.text)).Add(cdbuild::Paragraph());
  body.Add(TextRun(cases[0].text));
  Load(body);
  context_->flags |= html_flags::MakeURLHotspots;
  for (const Case &c : cases) {
    EXPECT_EQ(Render(), c.html) << c.text;
    EXPECT_EQ(context_->auto_url_open, 0u);
    EXPECT_EQ(context_->output_hold, 0u);
  }
  context_->flags &= ~html_flags::MakeURLHotspots;
  EXPECT_EQ(Render(), "see http://x.org/a?b=1&amp;c=2 now");
}

TEST_F(TextRunTest, ExtraParametersOnlyForWebAddresses) {
  LoadRecords({TextRun("http://a.example"), cdbuild::Paragraph(), TextRun("mailto:me@a.example")});
  SetOptions("ExtraURLHotspotParams=\"target=_blank\"");
  context_->flags |= html_flags::MakeURLHotspots;
  EXPECT_EQ(Render(), "<a target=_blank href=\"http://a.example\">http://a.example</a>");
  EXPECT_EQ(Render(), "<a href=\"mailto:me@a.example\">mailto:me@a.example</a>");
}

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

TEST_F(TextRunTest, TheRunClosesWhatItOpened) {
  LoadRecords({TextRun("x", Font{1, 0x03, kRed, 14}), TextRun("y")});
  context_->flags |= html_flags::StandardFontTags;
  EXPECT_EQ(Render(), "<font color='#ff0000' size='4'><b><i>x</i></b></font>");
  EXPECT_EQ(Stack(), Tags{});
  context_->flags &= ~html_flags::StandardFontTags;
  context_->flags |= html_flags::WAICompliant;
  context_->current_record = Record(0);
  EXPECT_EQ(Render(),
            "<span style=\"font-size: 14pt; color: rgb(255,0,0); \"><strong><em>x</em></strong>"
            "</span>");
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

TEST_F(TextRunTest, RightToLeftRuns) {
  LoadRecords({cdbuild::Text(cdbuild::TextFields{Font{1, 0, 0, 10}, "a", SIG_CD_BIDI_TEXT}),
               cdbuild::Paragraph(),
               cdbuild::Text(cdbuild::TextFields{Font{1, 0, kRed, 10}, "b", SIG_CD_BIDI_TEXT}),
               cdbuild::Paragraph(), TextRun("c", Font{1, 0, 0, 12})});
  // In the base font no span carries the direction.
  EXPECT_EQ(Render(), "a");
  EXPECT_EQ(context_->rtl_seen, 0u);
  EXPECT_EQ(Render(), "<span style=\"color: rgb(255,0,0); direction: rtl;\">b</span>");
  EXPECT_EQ(context_->rtl_seen, 1u);
  EXPECT_EQ(Render(), "<span style=\"font-size: 12pt; direction: ltr;\">c</span>");
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
  const WORD saved = debug_level;
  debug_level = 2;
  Render();
  EXPECT_EQ(HostTestLogLines(), std::vector<std::string>{});
  debug_level = 3;
  Render();
  debug_level = saved;
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
