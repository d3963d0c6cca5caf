// Text runs rendered directly: runs of one font share one markup, repeated
// markup is written once, a paragraph mapping may suppress the font
// markup, records that are not runs, closing an open span without a run,
// a caller's buffer that is full, and the points at which a long text is
// handed on to the callback. Runs whose answers depend on the
// records around them (the sole-run test, the colour of a begin/end
// group's runs) give the same text when the walk comes back over runs it
// has already passed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cdbuild/cd_script.h"
#include "store/messages.h"
#include "store/tracked_memory.h"
#include "tests/render/render_fixture.h"

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

TEST_F(TextRunTest, AParagraphMappingMaySuppressTheFontMarkup) {
  LoadRecords({RedTextRun("a")});
  style_mapping mapping;
  mapping.flags = STYLE_MAPPING_NO_FONT_MARKUP;
  context_->paragraph_mapping = &mapping;
  EXPECT_EQ(Render(), "a");
  context_->paragraph_mapping = nullptr;
}

/* A text-run mapping of the item; mask entries 0-6 as FontNotFiltered
 * reads them. */
style_mapping *AddRunMapping(VelkoRTItem *item, const std::string &opening,
                             const std::string &closing, FONTID filter = 0,
                             std::initializer_list<int> given = {}) {
  auto *mapping = new style_mapping();
  mapping->flags = STYLE_MAPPING_MAPPED;
  mapping->opening = opening;
  mapping->closing = closing;
  mapping->filter_font = filter;
  for (int part : given)
    mapping->filter_mask[part] = 1;
  style_mapping **tail = &item->internal->style_mappings[0];
  while (*tail != nullptr)
    tail = &(*tail)->next;
  *tail = mapping;
  return mapping;
}

TEST_F(TextRunTest, RunMappingsOpenAndCloseWithTheirFontFilter) {
  LoadRecords({RedTextRun("a"), TextRun("b"), RedTextRun("c"), cdbuild::Paragraph(),
               RedTextRun("d")});
  AddRunMapping(item_, "<cite class=\"red\">", "</cite>", MakeFont(1, 0, kRed, 10), {2});
  AddRunMapping(item_, "<q>", "</q>", MakeFont(1, 0, 0, 10), {0, 2}); // face 1 and black
  const std::string red = "<span style=\"color: rgb(255,0,0); \">";
  EXPECT_EQ(Render(), "<cite class=\"red\">" + red + "a</span>");
  EXPECT_EQ(Stack(), Tags{"</cite>"});
  EXPECT_EQ(Render(), "</cite><q>b");
  EXPECT_EQ(Render(), "</q><cite class=\"red\">" + red + "c</span>");
  // Something else wrote the closing text (a paragraph's end): the mapping
  // opens again.
  PopXMLStack(context_, 0, "*", 1, 0, 0, 0, 0);
  EXPECT_EQ(Render(), "<cite class=\"red\">" + red + "d</span>");
  EXPECT_EQ(context_->text_mapping_count, 1);
  item_->ClearStyleMappings(0);
}

TEST_F(TextRunTest, AnEleventhRunMappingIsNotOpened) {
  LoadRecords({TextRun("x"), TextRun("y", Font{1, 0, kRed, 10})});
  std::string openings;
  Tags closings;
  for (int k = 1; k <= 11; ++k) {
    const std::string n = std::to_string(k);
    AddRunMapping(item_, "<i" + n + ">", "</i" + n + ">");
    if (k <= 10) {
      openings += "<i" + n + ">";
      closings.insert(closings.begin(), "</i" + n + ">");
    }
  }
  EXPECT_EQ(Render(), openings + "x");
  EXPECT_EQ(Stack(), closings);
  EXPECT_EQ(context_->text_mapping_count, 10);
  // Every mapping passes every font: the next run opens nothing more.
  EXPECT_EQ(Render(), "<span style=\"color: rgb(255,0,0); \">y</span>");
  item_->ClearStyleMappings(0);
}

/* The bytes written as they stand are taken a block at a time: an
 * escaped byte at any place of a text of any length up to past two
 * blocks, a blank among them, ends the plain bytes exactly there. */
TEST_F(TextRunTest, EscapedBytesAreFoundAtEveryPlace) {
  const struct {
    char byte;
    const char *written;
  } escapes[] = {{'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"},
                 {'\x7F', "&#65533;"}, {'\t', " "}};
  for (const auto &escape : escapes) {
    for (size_t length : {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 23, 31, 32, 33, 40}) {
      // One run per place, each after a paragraph reference of its own.
      Body body;
      std::vector<std::string> expected;
      for (size_t at = 0; at < length; ++at) {
        std::string text;
        for (size_t i = 0; i < length; ++i)
          text += i % 7 == 6 ? ' ' : static_cast<char>('a' + i % 26);
        expected.push_back(text);
        text[at] = escape.byte;
        expected.back().replace(at, 1, escape.written);
        body.Add(cdbuild::PabRef(1));
        body.Add(TextRun(text));
      }
      Unload();
      Load(body);
      for (size_t at = 0; at < length; ++at)
        ASSERT_EQ(Render(), expected[at]) << "length " << length << ", at " << at;
    }
  }
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

TEST_F(TextRunTest, WithoutARunOnlyAnOpenSpanIsClosed) {
  LoadRecords({cdbuild::Paragraph()});
  PushXMLStack(context_, 0, "</span>");
  PushXMLStack(context_, 0, "</b>");
  EXPECT_EQ(Render(), "</b></span>");
  EXPECT_EQ(context_->current_record, Record(0));
  EXPECT_EQ(Stack(), Tags{});
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

/* A run's text handed on at a threshold of 40, in MIME mode or not: a blank flushes once the
 * held text passes 33 bytes, any other byte once it passes 80. The pieces
 * fall where they would with every word written on its own, with and
 * without automatic links (whose first letters stand in the words). */
TEST_F(TextRunTest, FlushesFallAtTheBlanksAWordAtATimeWouldChoose) {
  std::string words; // twenty words of four letters
  for (int k = 0; k < 20; ++k)
    words += k == 0 ? "mash" : " mash";
  const std::string longWord(100, 'x');
  struct flush_case {
    std::string text;
    std::vector<std::string> pieces;
    std::string held;
  };
  const std::string seven = "mash mash mash mash mash mash mash ";
  const flush_case cases[] = {
      {words, {seven, seven}, "mash mash mash mash mash mash"},
      // A word across the late limit is cut there; the next blank flushes.
      {"mash mash mash " + longWord + " mash",
       {"mash mash mash " + longWord.substr(0, 66), longWord.substr(66) + " "},
       "mash"},
      // Markup bytes take their own way; the cut stays at the blank.
      {"mash<mash mash mash mash mash mash mash",
       {"mash&lt;mash mash mash mash mash mash "},
       "mash"},
  };
  // In MIME mode the pieces reach the callback when no part file can be
  // made.
  HostTestSetEnvironment("$TarnoTempDirectory", "/nonexistent-velko-dir/");
  session_->InitializeTempDirectory();
  for (const int mode : {0, 1, 2, 3}) {
    const bool links = (mode & 1) != 0;
    const bool mime = (mode & 2) != 0;
    for (const flush_case &c : cases) {
      SCOPED_TRACE(testing::Message() << "links " << links << " mime " << mime << ": " << c.text);
      Unload();
      Pieces().clear();
      LoadRecords({TextRun(c.text)});
      if (links)
        context_->flags |= html_flags::MakeURLHotspots;
      context_->mime_mode = mime ? 1 : 0;
      UseCallback(40);
      EXPECT_EQ(ProcessXMLText(context_, 0, 0), NOERROR);
      EXPECT_EQ(Pieces(), c.pieces);
      EXPECT_EQ(Held(), c.held);
    }
  }
}

/* Handed on in pieces, a text with automatic links in it comes out as it
 * does in one piece, each piece cut at a blank. */
TEST_F(TextRunTest, FlushedTextWithLinksIsTheWholeText) {
  std::string text;
  for (int k = 0; k < 30; ++k)
    text += "see http://a.b/c" + std::to_string(k) + " then ";
  LoadRecords({TextRun(text)});
  context_->flags |= html_flags::MakeURLHotspots;
  EXPECT_EQ(ProcessXMLText(context_, 0, 0), NOERROR);
  const std::string whole = Held();

  Unload();
  LoadRecords({TextRun(text)});
  context_->flags |= html_flags::MakeURLHotspots;
  UseCallback(200);
  EXPECT_EQ(ProcessXMLText(context_, 0, 0), NOERROR);
  EXPECT_GT(Pieces().size(), 5u);
  for (size_t k = 0; k < Pieces().size(); ++k)
    EXPECT_EQ(Pieces()[k].back(), ' ') << k;
  EXPECT_EQ(AllOutput(), whole);
}


cdbuild::Body Script(const std::string &script) {
  cdbuild::Body body;
  cdbuild::ScriptError error;
  EXPECT_TRUE(cdbuild::BuildScript(script, &body, &error)) << error.line << ": " << error.message;
  return body;
}

class TextRunsTest : public driver_testing::DriverTest {};

TEST_F(TextRunsTest, AWalkOverRunsAlreadyPassedGivesTheSameText) {
  Prepare(Script(R"(PARAGRAPH
PABDEF id=1
PABREF id=1
BEGIN sig=CDHOTSPOTBEGIN
TEXT attributes=bold text="One"
COLOR rgb=0x112233
TEXT text="Two"
COLOR rgb=0x445566
END sig=CDHOTSPOTBEGIN
PARAGRAPH
PABREF id=1
TEXT attributes=bold text=""
TEXT attributes=italic text=""
TEXT text="Three"
PARAGRAPH
PABREF id=1
TEXT attributes=bold text=""
TEXT attributes=italic text=""
)"));
  const std::string first = Drive();
  const size_t body = first.find(driver_testing::kBody);
  ASSERT_NE(body, std::string::npos) << first;
  const std::string text = first.substr(body + driver_testing::kBody.size());
  EXPECT_EQ(text, "<span style=\"color: rgb(68,85,102); \"><b>One</b></span>"
                  "<span style=\"color: rgb(68,85,102); \">Two</span>"
                  "<div class=\"pabid1\">Three</div>"
                  "<div class=\"pabid1\"><b><br></b><i></i></div>");
  // Again from the first record, every run lying behind those passed; the
  // head is not written twice.
  context_->current_record = records_->records;
  EXPECT_EQ(Drive(), text);
}

} // namespace
