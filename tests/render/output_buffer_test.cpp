// The output primitive: appending with counters, growing, the caller's
// buffer at its capacity, and escaping and character sets of rendered text.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "render_fixture.h"
#include "store/tracked_memory.h"
#include "store/tracked_memory_testing.h"
#include "velko/status.h"

namespace {

using render_testing::Lmbcs;
using render_testing::RenderContextTest;

/* ---- appending ---- */

class OutputBufferTest : public RenderContextTest {};

TEST_F(OutputBufferTest, PrimitivesKeepLengthAndWritePositionAsCounters) {
  UseOutput();
  RenderPuts(context_, "<p>");
  RenderPut(context_, "ab\0cd", 5); // a NUL inside the text is text
  RenderPutc(context_, '>');
  RenderPrintf(context_, "%d-%s", 42, "x");
  EXPECT_EQ(Held(), std::string("<p>ab\0cd>42-x", 13));
  EXPECT_EQ(context_->write_ptr, context_->output_buffer + 13);
  EXPECT_EQ(context_->output_buffer[13], '\0');
  char *at = RenderReserve(context_, 10);
  ASSERT_NE(at, nullptr);
  memcpy(at, "bcd", 3);
  RenderCommit(context_, 3);
  EXPECT_EQ(Held(), std::string("<p>ab\0cd>42-xbcd", 16));
  EXPECT_TRUE(RenderEndsWith(context_, "XBCD", true));
  EXPECT_FALSE(RenderEndsWith(context_, "XBCD", false));
  RenderTruncate(context_, 3);
  RenderTruncate(context_, 100); // longer than held: no effect
  EXPECT_EQ(Held(), "<p>");
  EXPECT_EQ(context_->write_ptr, context_->output_buffer + 3);
  // Formatted text longer than any stack buffer is written whole.
  const std::string long_text(3000, 'w');
  RenderPrintf(context_, "[%s]", long_text.c_str());
  EXPECT_EQ(Held(), "<p>[" + long_text + "]");
  EXPECT_EQ(context_->output_status, NOERROR);
}

TEST_F(OutputBufferTest, DecimalNumbersAreWrittenAsPrintfWritesThem) {
  UseOutput();
  const struct {
    long value;
    const char *text;
  } cases[] = {{0, "0"},
               {7, "7"},
               {10, "10"},
               {96, "96"},
               {99, "99"},
               {100, "100"},
               {1001, "1001"},
               {-1, "-1"},
               {-10, "-10"},
               {-1440, "-1440"},
               {65535, "65535"},
               {4294967295L, "4294967295"},
               {LONG_MAX, "9223372036854775807"},
               {LONG_MIN, "-9223372036854775808"}};
  std::string expected;
  for (const auto &c : cases) {
    RenderPutc(context_, '|');
    EXPECT_EQ(RenderPutDecimal(context_, c.value), NOERROR);
    expected += std::string("|") + c.text;
  }
  EXPECT_EQ(Held(), expected);
  EXPECT_EQ(context_->write_ptr, context_->output_buffer + expected.size());
  // A failed output takes no more.
  context_->output_status = VELKO_ERR_MEMORY;
  EXPECT_EQ(RenderPutDecimal(context_, 5), VELKO_ERR_MEMORY);
  EXPECT_EQ(Held(), expected);
}

TEST_F(OutputBufferTest, DecimalNumbersAtTheBufferEdgeGrowIt) {
  // Room left behind the held text (its NUL included): "-1440" fits in 6
  // bytes and in more, and needs the buffer to grow in 5 or fewer.
  UseOutput();
  for (const DWORD left : {7u, 6u, 5u, 2u, 1u}) {
    RenderTruncate(context_, 0);
    const std::string filler(context_->output_capacity - context_->output_length - left, 'x');
    ASSERT_EQ(RenderPut(context_, filler.data(), filler.size()), NOERROR);
    EXPECT_EQ(RenderPutDecimal(context_, -1440), NOERROR) << left;
    EXPECT_EQ(RenderPutc(context_, ';'), NOERROR);
    EXPECT_EQ(Held(), filler + "-1440;") << left;
    EXPECT_EQ(context_->write_ptr, context_->output_buffer + filler.size() + 6) << left;
  }
}

TEST_F(OutputBufferTest, OwnBufferGrowsWithoutLosingText) {
  UseOutput();
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    const std::string line = "<li>item " + std::to_string(i) + "</li>";
    RenderPuts(context_, line.c_str());
    expected += line;
  }
  ASSERT_GT(expected.size(), kInitialOutputSize);
  const std::string big(200000, 'x'); // one write larger than the buffer
  EXPECT_EQ(RenderPut(context_, big.data(), big.size()), NOERROR);
  EXPECT_EQ(Held(), expected + big);
  EXPECT_GE(context_->output_capacity, expected.size() + big.size() + 1);
}

TEST_F(OutputBufferTest, TextCopiedFromTheHeldTextSurvivesGrowth) {
  UseOutput();
  const std::string filler(kInitialOutputSize - 10, 'a');
  RenderPuts(context_, "http://x/y");
  RenderPut(context_, filler.data(), filler.size());
  // The URL again, from inside the buffer, as the buffer has to grow.
  RenderPut(context_, context_->output_buffer, 10);
  EXPECT_EQ(context_->output_status, NOERROR);
  EXPECT_EQ(Held(), "http://x/y" + filler + "http://x/y");
}

TEST_F(OutputBufferTest, CallerBufferIsClearedAndStopsWith263AtItsCapacity) {
  char buffer[16];
  memset(buffer, 'q', sizeof buffer);
  UseOutput(buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '\0'));
  EXPECT_EQ(RenderPuts(context_, "0123456789abcde"), NOERROR); // 15 bytes and the NUL
  EXPECT_EQ(RenderPutc(context_, 'f'), VELKO_ERR_MEMORY);
  // The failure is kept: later writes that would fit change nothing.
  RenderTruncate(context_, 3);
  EXPECT_EQ(RenderPuts(context_, "z"), VELKO_ERR_MEMORY);
  EXPECT_EQ(std::string(buffer), "012");
}

TEST_F(OutputBufferTest, GrowthThatCannotBeHadStopsWith263) {
  UseOutput();
  const std::string filler(kInitialOutputSize - 1, 'a');
  RenderPut(context_, filler.data(), filler.size());
  VelkoTestFailTrackedAllocation(1);
  EXPECT_EQ(RenderPutc(context_, 'b'), VELKO_ERR_MEMORY);
  VelkoTestFailTrackedAllocation(0);
  EXPECT_EQ(Held(), filler);
}

/* ---- escaping ---- */

TEST_F(OutputBufferTest, EscapedTextForEachContext) {
  struct Case {
    render_escape_context context;
    std::string lmbcs;
    std::string expected;
  };
  const Case cases[] = {
      {kEscapeText, "a<b>&\"c'", "a&lt;b&gt;&amp;&quot;c'"},
      {kEscapeAttribute, "Bob's \"font\"", "Bob&#39;s &quot;font&quot;"},
      {kEscapeText, Lmbcs("caf\xC3\xA9 \xE2\x82\xAC"), "caf&#233; &#8364;"},
      {kEscapeAttribute, Lmbcs("\xE6\x97\xA5\xE6\x9C\xAC"), "&#26085;&#26412;"},
      {kEscapeText, Lmbcs("\xF0\x9F\x98\x80"), "&#128512;"},
      {kEscapeText, std::string("a\tb\nc\rd", 7), "a\tb\nc\rd"},
      {kEscapeText, std::string("a\0b\x1b", 4), "a&#65533;b&#65533;"},
      {kEscapeURL, "/a b/c?x=1&y='2'", "/a%20b/c?x=1&amp;y=&#x27;2&#x27;"},
      {kEscapeURL, "<\"[x]\">", "%3C%22%5Bx%5D%22%3E"},
      {kEscapeURL, Lmbcs("caf\xC3\xA9"), "caf%C3%A9"},
  };
  UseOutput();
  for (const Case &c : cases) {
    RenderTruncate(context_, 0);
    EXPECT_EQ(RenderPutEscaped(context_, c.context, c.lmbcs.data(), c.lmbcs.size()), NOERROR);
    EXPECT_EQ(Held(), c.expected);
    render_text text{session_.get()};
    RenderTextPutEscaped(&text, c.context, c.lmbcs.data(), c.lmbcs.size());
    EXPECT_EQ(std::string(text.data, text.length), c.expected);
    RenderTextFree(&text);
  }
  RenderTruncate(context_, 0);
  RenderPutCodePoint(context_, 233);
  EXPECT_EQ(Held(), "&#233;");
}

TEST(LmbcsReadTest, ReadsCharactersAsCodePoints) {
  struct Case {
    std::string lmbcs;
    DWORD code;
    size_t bytes;
  };
  for (const Case &c : {Case{"A", 'A', 1}, Case{Lmbcs("\xC3\xA9"), 0xE9, 1},
                        Case{Lmbcs("\xE2\x82\xAC"), 0x20AC, Lmbcs("\xE2\x82\xAC").size()},
                        Case{Lmbcs("\xF0\x9F\x98\x80"), 0x1F600, 6},
                        // A group byte cut short by the end of the text.
                        Case{"\x14", 0xFFFD, 1}}) {
    DWORD code = 0;
    EXPECT_EQ(ReadLmbcsCharacter(c.lmbcs.data(), c.lmbcs.size(), &code), c.bytes) << c.lmbcs;
    EXPECT_EQ(code, c.code) << c.lmbcs;
  }
}

/* ---- output character sets ---- */

TEST_F(OutputBufferTest, CharsetConvertsPassThroughTextOrWritesReferences) {
  // e acute, euro sign, a CJK character, NUL marker, ASCII.
  const std::string text = Lmbcs("\xC3\xA9\xE2\x82\xAC\xE6\x97\xA5") + std::string("\0<b>", 4);
  const std::string references("&#233;&#8364;&#26085;\0<b>", 25);
  const std::pair<WORD, std::string> cases[] = {
      {32, std::string("\xE9&#8364;&#26085;\0<b>", 20)},
      {82, std::string("\xE9\x80&#26085;\0<b>", 14)},
      {171, std::string("\xC3\xA9\xE2\x82\xAC\xE6\x97\xA5\0<b>", 12)},
      {31, references},
      {160, references},
      {64, references}};
  for (const auto &[charset, expected] : cases) {
    html_render_info *context = CreateRenderContext(session_.get(), &chunk_);
    context->charset_id = charset;
    render_text out{session_.get()};
    EXPECT_EQ(ConvertLmbcsForOutput(context, text.data(), text.size(), &out), NOERROR);
    EXPECT_EQ(std::string(out.data, out.length), expected) << charset;
    RenderTextFree(&out);
    ReleaseRenderContext(context);
  }
}

TEST(PaletteColorTest, WritesHexOfEveryIndexAndBoundsTheRest) {
  char out[8];
  RenderPaletteColor(2, out);
  EXPECT_STREQ(out, "#ff0000");
  RenderPaletteColor(4, out);
  EXPECT_STREQ(out, "#0000ff");
  for (WORD index : {WORD{240}, WORD{255}, WORD{0xFFFF}}) {
    RenderPaletteColor(index, out);
    EXPECT_STREQ(out, "#000000") << index;
  }
}

} // namespace
