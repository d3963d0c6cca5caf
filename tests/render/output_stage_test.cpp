// The output stage: translation, quoted-printable encoding and line
// wrapping with exact bytes, and each sink (caller file, MIME part file,
// output callback, the buffer itself).
#include <gtest/gtest.h>

#include <stdio.h>

#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "render/output_stage_testing.h"
#include "render_fixture.h"
#include "store/session.h"
#include "velko/status.h"

namespace {

using render_testing::CallbackPieces;
using render_testing::Lmbcs;
using render_testing::ReadPath;
using render_testing::RecordPiece;
using render_testing::RenderContextTest;

std::string ReadFile(FILE *file) {
  fflush(file);
  rewind(file);
  std::string text;
  char chunk[4096];
  size_t n = 0;
  while ((n = fread(chunk, 1, sizeof chunk, file)) > 0)
    text.append(chunk, n);
  return text;
}

class OutputStageTest : public RenderContextTest {
protected:
  void SetUp() override {
    RenderContextTest::SetUp();
    UseOutput();
  }
  void TearDown() override {
    if (file_ != nullptr)
      fclose(file_);
    RenderContextTest::TearDown();
  }

  void Put(const std::string &text) { RenderPut(context_, text.data(), text.size()); }

  /* A fresh context writing into its own buffer. */
  void Fresh() {
    Renew();
    UseOutput();
  }

  std::string Wrapped(const std::string &text, WORD width, bool quoted, DWORD newline,
                      size_t flushEvery);

  FILE *file_ = nullptr;
};

/* ---- translation ---- */

TEST_F(OutputStageTest, TranslationConvertsHeldLmbcsOnce) {
  Put(Lmbcs("<b>caf\xC3\xA9 \xE2\x82\xAC</b>"));
  EXPECT_EQ(ProcessHTMLTranslation(context_), NOERROR);
  EXPECT_EQ(Held(), "<b>caf\xE9 &#8364;</b>");
  EXPECT_EQ(context_->output_translated, context_->output_length);
  // Translated text is not read as LMBCS again.
  EXPECT_EQ(ProcessHTMLTranslation(context_), NOERROR);
  Put(Lmbcs("\xC3\xA9"));
  ProcessHTMLTranslation(context_);
  EXPECT_EQ(Held(), "<b>caf\xE9 &#8364;</b>\xE9");
}

/* ---- quoted-printable ---- */

TEST_F(OutputStageTest, EncodesQuotedPrintable) {
  struct Case {
    std::string held; /* LMBCS */
    WORD charset;
    bool file;
    std::string expected;
  };
  const Case cases[] = {{"\n", 32, false, "=0A"},
                        {"a=b", 32, false, "a=3Db"},
                        {Lmbcs("\xC3\xA9"), 32, false, "=E9"},
                        {"\t x~!<>", 32, false, "\t x~!<>"},
                        {std::string("a\0b", 3), 32, false, "a=0D=0Ab"},
                        {std::string("a\0b", 3), 32, true, "a=0Ab"},
                        {"\x7f", 32, false, "=7F"},
                        {Lmbcs("\xC3\xA9"), 171, false, std::string("=C3\0=A9\0", 8)}};
  for (const Case &c : cases) {
    Fresh();
    context_->encoding_flags = kEncodingQuotedPrintable;
    context_->charset_id = c.charset;
    if (c.file && file_ == nullptr)
      file_ = tmpfile();
    context_->out_file = c.file ? file_ : nullptr;
    Put(c.held);
    EXPECT_EQ(ProcessHTMLEncoding(context_), NOERROR);
    EXPECT_EQ(Held(), c.expected);
    EXPECT_EQ(context_->output_encoded, context_->output_length);
  }
}

TEST_F(OutputStageTest, EncodesLongTextWhole) {
  // Long held text: a character whose bytes fall on both sides of the
  // 4096th byte, escapes and line ends far into the text.
  struct Case {
    const char *name;
    std::string held; /* LMBCS */
    std::string expected;
  };
  const std::string a4095(4095, 'a');
  const std::string b5000(5000, 'b');
  const Case cases[] = {
      {"character across the 4096th byte", a4095 + Lmbcs("\xC3\xA9") + "=",
       a4095 + std::string("=C3\0=A9\0=3D", 11)},
      {"escapes after a long run", b5000 + "=\x7f" + std::string("\0", 1) + "c",
       b5000 + "=3D=7F=0D=0Ac"},
      {"every byte escaped", std::string(3000, '='), [] {
         std::string all;
         for (int i = 0; i < 3000; ++i)
           all += "=3D";
         return all;
       }()}};
  for (const Case &c : cases) {
    Fresh();
    context_->encoding_flags = kEncodingQuotedPrintable;
    context_->charset_id = 171;
    Put(c.held);
    EXPECT_EQ(ProcessHTMLEncoding(context_), NOERROR) << c.name;
    EXPECT_EQ(Held(), c.expected) << c.name;
  }
}

/* A byte is encoded the same wherever it falls in a long run of bytes that
 * stay, the runs being looked at sixteen bytes at a time. */
TEST_F(OutputStageTest, EncodesEachByteTheSameWhereverItFallsInARun) {
  const auto encoded = [&](const std::string &held) {
    Fresh();
    context_->encoding_flags = kEncodingQuotedPrintable;
    Put(held);
    context_->output_translated = context_->output_length; // bytes of the output's set
    EXPECT_EQ(ProcessHTMLEncoding(context_), NOERROR);
    return Held();
  };
  for (int b = 0; b < 0x100; ++b) {
    const std::string alone = encoded(std::string(1, static_cast<char>(b)));
    for (const size_t before : {0, 7, 8, 15, 16, 33, 63, 64, 65, 79, 127, 128, 150}) {
      SCOPED_TRACE("byte " + std::to_string(b) + " after " + std::to_string(before));
      const std::string run(before, 'a');
      const std::string after(40, '~');
      EXPECT_EQ(encoded(run + static_cast<char>(b) + after), run + alone + after);
    }
  }
}

TEST_F(OutputStageTest, TextIsEncodedOnceHoweverOftenTheStageRuns) {
  context_->encoding_flags = kEncodingQuotedPrintable;
  context_->max_line_length = 10;
  context_->flags |= html_flags::NewlineCRLF;
  Put("a=b");
  // Without a sink a non-final flush runs no pass.
  EXPECT_EQ(RenderFlush(context_, 0), NOERROR);
  EXPECT_EQ(Held(), "a=b");
  EXPECT_EQ(context_->output_translated, 0u);
  EXPECT_EQ(context_->output_encoded, 0u);
  context_->max_line_length = 0;
  EXPECT_EQ(RenderFlush(context_, 1), NOERROR); // no sink: the text stays
  EXPECT_EQ(Held(), "a=3Db");
  Put("=c");
  EXPECT_EQ(RenderFlush(context_, 1), NOERROR);
  EXPECT_EQ(Held(), "a=3Db=3Dc");
}

/* Text added after encoded text is encoded from where the pass stopped:
 * the encoded bytes before it are never encoded again, whether the new
 * text holds bytes to escape or none, far into it or at once. */
TEST_F(OutputStageTest, OnlyTheTextAfterTheEncodedTextIsEncoded) {
  const std::string run(100, 'r');
  const struct {
    const char *name;
    std::string added;
    std::string expected; /* of the added text */
  } cases[] = {{"nothing to escape", run + " x", run + " x"},
               {"an escape after a long run", run + "=" + run, run + "=3D" + run},
               {"an escape first", "=" + run, "=3D" + run},
               {"a line end last", run + std::string(1, '\0'), run + "=0D=0A"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    context_->encoding_flags = kEncodingQuotedPrintable;
    Put("a=b");
    EXPECT_EQ(ProcessHTMLEncoding(context_), NOERROR);
    Put(c.added);
    EXPECT_EQ(ProcessHTMLEncoding(context_), NOERROR);
    EXPECT_EQ(Held(), "a=3Db" + c.expected);
    EXPECT_EQ(context_->output_encoded, context_->output_length);
  }
}

TEST_F(OutputStageTest, UnwrappedTextThatStaysLosesTheSoftBreakMarkers) {
  context_->encoding_flags = kEncodingQuotedPrintable;
  context_->charset_id = 171; // UTF-8: a character of two bytes
  Put(Lmbcs("caf\xC3\xA9 x"));
  EXPECT_EQ(RenderFlush(context_, 0), NOERROR); // no sink: nothing is decided yet
  EXPECT_EQ(RenderFlush(context_, 1), NOERROR);
  EXPECT_EQ(Held(), "caf=C3=A9 x");
  EXPECT_EQ(context_->output_wrapped, context_->output_length);
  Put(Lmbcs("\xC3\xA9"));
  EXPECT_EQ(RenderFlush(context_, 1), NOERROR);
  EXPECT_EQ(Held(), "caf=C3=A9 x=C3=A9");
}

/* ---- wrapping ---- */

TEST_F(OutputStageTest, WrapsLines) {
  struct Case {
    const char *name;
    std::string held;
    DWORD flags;
    bool quoted;
    std::string expected;
  };
  const std::string letters(100, 'a');
  const std::string paragraphs =
      "<p>" + std::string(60, 'x') + "</p> <p>" + std::string(20, 'y') + "</p>";
  const DWORD crlf = html_flags::NewlineCRLF;
  const Case cases[] = {
      {"cut without a break", letters, crlf, false,
       std::string(72, 'a') + "\r\n" + std::string(28, 'a') + "\r\n"},
      {"cut with a soft break", letters, crlf, true,
       std::string(72, 'a') + "=\r\n" + std::string(28, 'a') + "=\r\n"},
      {"at the blank between paragraphs", paragraphs, crlf, false,
       "<p>" + std::string(60, 'x') + "</p> \r\n<p>" + std::string(20, 'y') + "</p>\r\n"},
      {"trailing blank as =20=", paragraphs, crlf, true,
       "<p>" + std::string(60, 'x') + "</p>=20=\r\n<p>" + std::string(20, 'y') + "</p>\r\n"},
      {"NUL line ends", "<p>one</p>\n<p>two</p>", html_flags::NewlineNUL, false,
       std::string("<p>one</p>\0<p>two</p>\0", 22)},
      {"no line end flags", letters, 0, false, letters}};
  for (const Case &c : cases) {
    Fresh();
    context_->max_line_length = 72;
    context_->flags |= c.flags;
    context_->encoding_flags = c.quoted ? kEncodingQuotedPrintable : 0;
    Put(c.held);
    EXPECT_EQ(RenderFlush(context_, 1), NOERROR);
    EXPECT_EQ(Held(), c.expected) << c.name;
  }
}

TEST_F(OutputStageTest, WrapsQuotedPrintableAtItsEdges) {
  // Width 20, lines end in CR LF, the held text encoded first.
  struct Case {
    const char *name;
    std::string held; /* LMBCS */
    std::string expected;
  };
  const std::string a19(19, 'a');
  const std::string a20(20, 'a');
  const Case cases[] = {
      {"a line exactly at the width, a blank after it", a20 + " bbb", a20 + "\r\n bbb=\r\n"},
      {"a line one short of the width", a19 + " bbb", a19 + "\r\n bbb=\r\n"},
      {"the width without a break, cut", a20 + "a", a20 + "=\r\na=\r\n"},
      {"an escape at the end of the line", std::string(16, 'a') + "= b",
       std::string(16, 'a') + "=3D\r\n b=\r\n"},
      {"a blank after a tag at the line end", std::string(15, 'x') + "<br> yyy",
       std::string(15, 'x') + "<br>=20=\r\nyyy=\r\n"},
      {"a closing tag at the width", "<b>" + std::string(13, 'x') + "</b> <i>y</i>",
       "<b>" + std::string(13, 'x') + "</b>\r\n <i>y</i>\r\n"},
      {"a character of two bytes at the width", std::string(17, 'a') + Lmbcs("\xC3\xA9"),
       std::string(17, 'a') + "=C3=\r\n=A9=\r\n"},
      {"characters of two bytes within a line",
       Lmbcs("\xC3\xA9") + "a" + Lmbcs("\xC3\xA9") + " b", "=C3=A9a=C3=A9=\r\n b=\r\n"},
      {"characters of two bytes on every line", [] {
         std::string held;
         for (int i = 0; i < 6; ++i)
           held += "xy" + Lmbcs("\xC3\xA9") + " ";
         return held;
       }(),
       "xy=C3=A9 xy=C3=\r\n=A9 xy=C3=A9=\r\n xy=C3=A9 xy=C3=\r\n=A9 xy=C3=A9=\r\n =\r\n"},
      {"a line end of the text", std::string("a\0b", 3), "a=0D=0Ab=\r\n"},
      {"CR and LF of the text", "a\r\nb", "a=0D=0Ab=\r\n"}};
  for (const Case &c : cases) {
    Fresh();
    context_->max_line_length = 20;
    context_->flags |= html_flags::NewlineCRLF;
    context_->encoding_flags = kEncodingQuotedPrintable;
    context_->charset_id = 171;
    Put(c.held);
    EXPECT_EQ(RenderFlush(context_, 1), NOERROR) << c.name;
    EXPECT_EQ(Held(), c.expected) << c.name;
  }
}

/* Text written as runs: each letter, blank or mark followed by how often
 * it stands ("a63 b2"), "_" a blank; "|" a line end CR LF, "=" a soft
 * break "=" CR LF, "=20" an encoded blank. */
std::string Runs(const std::string &spec) {
  std::string text;
  std::istringstream words(spec);
  std::string word;
  while (words >> word) {
    if (word == "|") {
      text += "\r\n";
      continue;
    }
    if (word == "=" || word == "=20") {
      text += word == "=" ? "=\r\n" : "=20";
      continue;
    }
    const char c = word[0] == '_' ? ' ' : word[0];
    text.append(word.size() > 1 ? std::stoul(word.substr(1)) : 1, c);
  }
  return text;
}

TEST_F(OutputStageTest, WrapsTheSameWhereverTheBreaksFallAmongTheBytes) {
  // The scan steps over the bytes it does not act on 64 at a time: a
  // break just before, at and after the edges of those steps.
  struct Case {
    std::string held;
    bool quoted;
    std::string expected; /* as Runs */
  };
  const Case cases[] = {
      {Runs("a63 _ b80"), false, "a63 | _ | b72 | b8 |"},
      {Runs("a64 _ b80"), false, "a64 | _ | b72 | b8 |"},
      {Runs("a65 > b80"), false, "a65 > | b72 | b8 |"},
      {Runs("a70 ; b80"), false, "a70 ; | b72 | b8 |"},
      {Runs("a127 _ b80"), false, "a127 | _ | b72 | b8 |"},
      {Runs("a128 > b70"), false, "a128 > | b70 |"},
      {Runs("a63 _ b80"), true, "a63 | =20 = b72 = b8 ="},
      {Runs("a64 < b3 > b80"), true, "a64 < b3 > = b72 = b8 ="},
      {Runs("a70 ; b80"), true, "a70 ; = b72 = b8 ="},
      {Runs("a127 _ b80"), true, "a72 = a55 | =20 = b72 = b8 ="},
      {Runs("a63 _ b63 _ c63 _ d10"), true, "a63 | _ b63 | _ c63 | _ d10 ="},
  };
  for (const Case &c : cases) {
    Fresh();
    context_->max_line_length = 72;
    context_->flags |= html_flags::NewlineCRLF;
    context_->encoding_flags = c.quoted ? kEncodingQuotedPrintable : 0;
    Put(c.held);
    EXPECT_EQ(RenderFlush(context_, 1), NOERROR);
    EXPECT_EQ(Held(), Runs(c.expected)) << c.expected;
  }
}

TEST_F(OutputStageTest, QuotedPrintableLinesStayWithin76Characters) {
  context_->max_line_length = 76;
  context_->flags |= html_flags::NewlineCRLF;
  context_->encoding_flags = kEncodingQuotedPrintable;
  Put(std::string(300, 'b') + " " + std::string(150, 'c'));
  RenderFlush(context_, 1);
  std::istringstream lines(Held());
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\r');
    EXPECT_LE(line.size() - 1, 76u) << line;
  }
  EXPECT_GE(count, 6);
}

TEST_F(OutputStageTest, EscapesAreNotSplitAcrossLines) {
  context_->max_line_length = 20;
  context_->flags |= html_flags::NewlineCRLF;
  context_->encoding_flags = kEncodingQuotedPrintable;
  Put(std::string(18, 'a') + "=====");
  RenderFlush(context_, 1);
  // A piece ends before an "=" among its last three bytes, the last piece
  // too; every piece cut without a break gets a soft break.
  EXPECT_EQ(Held(), std::string(18, 'a') + "=\r\n=3D=3D=3D=3D=\r\n=3D=\r\n");
}

/* Text of markup, words, blanks and the other bytes the wrap acts on,
 * in runs of every length, made from the seed. */
std::string WrapMaterial(unsigned seed, size_t length, bool quoted) {
  static const char *const kPieces[] = {
      "<div>", "</div>", "<p class='x'>", "</p>", " ", "  ", "word", "a", "&amp;", ";", "/",
      "<br/>", "> <", "<", ">", "=3D", "=", "\n", "text of some words ", "<a href=\"cid:x\">"};
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < length) {
    const unsigned pick = random() % 24;
    if (pick < std::size(kPieces))
      text += kPieces[pick];
    else if (pick == 20)
      text.append(1 + random() % 150, 'b'); // a run longer than a line
    else if (pick == 21 && quoted)
      text.push_back('\0'); // a soft-break marker
    else if (pick == 22)
      text.append(1 + random() % 8, ' ');
    else
      text += "x";
  }
  return text;
}

/* Paragraphs of markup as the renderer writes them: words between single
 * and double blanks, inline tags, entities, now and then a line end (and
 * under quoted-printable an escaped character with its soft-break
 * markers), made from the seed. */
std::string ParagraphMaterial(unsigned seed, size_t length, bool quoted) {
  static const char *const kInline[] = {"<b>", "</b>", "&amp;", "<br>", "<img src=\"x\" />",
                                        "<a href=\"#y\">", "</a>", "\n"};
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < length) {
    text += "<div>";
    const unsigned words = 1 + random() % 40;
    for (unsigned k = 0; k < words; ++k) {
      const unsigned pick = random() % 32;
      if (pick < std::size(kInline))
        text += kInline[pick];
      else if (pick == 8 && quoted)
        text += std::string("=C3") + '\0' + "=A9" + '\0';
      text.append(1 + random() % 12, static_cast<char>('a' + k % 26));
      text.append(pick == 9 ? 2 : 1, ' ');
    }
    text += "</div>";
  }
  return text;
}

/* The wrap of text held whole or handed on flush by flush, as the lines
 * the callback took, "|", and what stays. */
std::string OutputStageTest::Wrapped(const std::string &text, WORD width, bool quoted,
                                     DWORD newline, size_t flushEvery) {
  Fresh();
  CallbackPieces().clear();
  chunk_.SetActOnTextCallback(RecordPiece);
  context_->max_line_length = width;
  context_->flags |= newline;
  if (flushEvery != 0)
    context_->flags |= html_flags::OutputToEvent;
  // Held text the encoder has passed, so that every byte reaches the wrap.
  context_->encoding_flags = quoted ? kEncodingQuotedPrintable : 0;
  const size_t step = flushEvery != 0 ? flushEvery : text.size();
  for (size_t at = 0; at < text.size(); at += step) {
    RenderPut(context_, text.data() + at, std::min(text.size() - at, step));
    if (flushEvery != 0) {
      EXPECT_EQ(RenderFlush(context_, 0), NOERROR);
    }
  }
  context_->flags &= ~html_flags::OutputToEvent;
  EXPECT_EQ(RenderFlush(context_, 1), NOERROR);
  std::string lines;
  for (const std::string &piece : CallbackPieces())
    lines += piece;
  return lines + "|" + Held();
}

/* The wrap that steps from one byte it acts on to the next (and takes a
 * line of the common kind in one pass) writes the lines of the scan that
 * looks at every place, for every width, encoding and line end, held
 * whole or handed on flush by flush. */
TEST_F(OutputStageTest, TheSteppingWrapWritesTheLinesOfTheScanOfEveryPlace) {
  const struct {
    WORD width;
    bool quoted;
    DWORD newline;
  } settings[] = {{20, false, html_flags::NewlineCRLF},  {33, true, html_flags::NewlineCRLF},
                  {63, false, html_flags::NewlineCRLF},  {64, true, html_flags::NewlineCRLF},
                  {65, false, 0},                        {72, false, 0},
                  {72, true, html_flags::NewlineCRLF},   {76, true, html_flags::NewlineNUL},
                  {127, false, html_flags::NewlineCRLF}, {128, false, html_flags::NewlineNUL},
                  {129, false, html_flags::NewlineCRLF}, {600, false, html_flags::NewlineNUL},
                  {1500, false, html_flags::NewlineCRLF}};
  const struct {
    const char *name;
    std::string (*make)(unsigned, size_t, bool);
  } materials[] = {{"bytes", WrapMaterial}, {"paragraphs", ParagraphMaterial}};
  for (const auto &material : materials) {
    for (unsigned seed = 1; seed <= 40; ++seed) {
      for (const auto &setting : settings) {
        const std::string text = material.make(seed, 200 + seed * 97, setting.quoted);
        for (const size_t flushEvery : {size_t{0}, size_t{61}, size_t{1000}}) {
          SCOPED_TRACE(std::string(material.name) + ", seed " + std::to_string(seed) +
                       ", width " + std::to_string(setting.width) + ", flushes every " +
                       std::to_string(flushEvery));
          VelkoTestSetWrapScanByBits(false);
          const std::string expected =
              Wrapped(text, setting.width, setting.quoted, setting.newline, flushEvery);
          VelkoTestSetWrapScanByBits(true);
          EXPECT_EQ(Wrapped(text, setting.width, setting.quoted, setting.newline, flushEvery),
                    expected);
        }
      }
    }
  }
}

/* ---- sinks ---- */

TEST_F(OutputStageTest, CallerFileTakesTheTextAndTheBufferEmpties) {
  file_ = tmpfile();
  context_->out_file = file_;
  Put(Lmbcs("<p>caf\xC3\xA9</p>"));
  EXPECT_EQ(RenderFlush(context_, 0), NOERROR);
  EXPECT_EQ(Held(), "");
  EXPECT_EQ(context_->write_ptr, context_->output_buffer);
  Put("<p>2</p>");
  EXPECT_EQ(RenderFlush(context_, 1), NOERROR);
  EXPECT_EQ(ReadFile(file_), "<p>caf\xE9</p><p>2</p>");
}

TEST_F(OutputStageTest, AFileThatCannotBeWrittenIsAFailure) {
  file_ = fopen("/dev/null", "r");
  ASSERT_NE(file_, nullptr);
  context_->out_file = file_;
  Put("<p>lost</p>");
  EXPECT_EQ(RenderFlush(context_, 0), kOutputWriteFailed);
  EXPECT_EQ(context_->output_status, kOutputWriteFailed);
  EXPECT_EQ(RenderPuts(context_, "more"), kOutputWriteFailed);
}

TEST_F(OutputStageTest, CallbackTakesEachNonFinalFlushAndTheFinalOneStays) {
  chunk_.SetActOnTextCallback(RecordPiece);
  context_->flags |= html_flags::OutputToEvent;
  Put("<p>one</p>");
  EXPECT_EQ(RenderFlush(context_, 0), NOERROR);
  Put("<p>two</p>");
  EXPECT_EQ(RenderFlush(context_, 0), NOERROR);
  EXPECT_EQ(Held(), "");
  Put("<p>end</p>");
  EXPECT_EQ(RenderFlush(context_, 1), NOERROR);
  EXPECT_EQ(CallbackPieces(), (std::vector<std::string>{"<p>one</p>", "<p>two</p>"}));
  EXPECT_EQ(Held(), "<p>end</p>");
}

TEST_F(OutputStageTest, CallbackGetsPiecesItCanTakeCutAfterLineEnds) {
  chunk_.SetActOnTextCallback(RecordPiece);
  context_->flags |= html_flags::OutputToEvent;
  std::string text;
  while (text.size() < 100000)
    text += "<p>" + std::string(50, 'z') + "</p>\n";
  Put(text);
  EXPECT_EQ(RenderFlush(context_, 0), NOERROR);
  ASSERT_EQ(CallbackPieces().size(), 2u);
  EXPECT_LE(CallbackPieces()[0].size(), 0xFFFFu);
  EXPECT_EQ(CallbackPieces()[0].back(), '\n');
  EXPECT_EQ(CallbackPieces()[0] + CallbackPieces()[1], text);
}

TEST_F(OutputStageTest, APrimitiveThatRunsOutOfRoomFlushesToTheSink) {
  chunk_.SetActOnTextCallback(RecordPiece);
  context_->flags |= html_flags::OutputToEvent;
  std::string text;
  for (int i = 0; i < 8000; ++i) {
    const std::string item = "<li>" + std::to_string(i) + "</li>";
    Put(item);
    text += item;
  }
  ASSERT_GT(text.size(), kInitialOutputSize);
  EXPECT_EQ(context_->output_capacity, kInitialOutputSize); // it did not grow
  RenderFlush(context_, 0);
  std::string handed;
  for (const std::string &piece : CallbackPieces())
    handed += piece;
  EXPECT_EQ(handed, text);
}

TEST_F(OutputStageTest, WrappingKeepsAnUnfinishedLineForTheNextFlush) {
  chunk_.SetActOnTextCallback(RecordPiece);
  context_->flags |= html_flags::OutputToEvent | html_flags::NewlineCRLF;
  context_->encoding_flags = kEncodingQuotedPrintable;
  context_->max_line_length = 72;
  Put("<p>first=one</p> <p>Hel");
  EXPECT_EQ(RenderFlush(context_, 0), NOERROR);
  Put("lo</p>");
  EXPECT_EQ(RenderFlush(context_, 0), NOERROR);
  context_->flags &= ~html_flags::OutputToEvent; // the end: what is left stays
  EXPECT_EQ(RenderFlush(context_, 1), NOERROR);
  std::string handed;
  for (const std::string &piece : CallbackPieces())
    handed += piece;
  // No line break inside "Hello", and the escape written once.
  EXPECT_EQ(handed + Held(), "<p>first=3Done</p> <p>Hello</p>\r\n");
}

/* ---- MIME part files ---- */

class PartFileTest : public OutputStageTest {
protected:
  void SetUp() override {
    OutputStageTest::SetUp();
    directory_ = std::make_unique<render_testing::TempDirectory>(session_.get());
    context_->mime_mode = 1;
    context_->mime_part_number = 3;
  }
  void TearDown() override {
    CloseMimePartFile(context_);
    OutputStageTest::TearDown();
    directory_.reset();
  }

  std::vector<std::string> Files() const { return directory_->Files(); }

  std::unique_ptr<render_testing::TempDirectory> directory_;
};

TEST_F(PartFileTest, NonFinalFlushOpensAPartFileInTheTemporaryDirectory) {
  Put("<p>part</p>");
  EXPECT_EQ(RenderFlush(context_, 1), NOERROR); // a final flush opens none
  EXPECT_EQ(context_->part_file, nullptr);
  EXPECT_TRUE(Files().empty());
  EXPECT_EQ(RenderFlush(context_, 0), NOERROR);
  ASSERT_NE(context_->part_file, nullptr);
  EXPECT_STREQ(context_->part_file_name, "MP3_0.html");
  EXPECT_EQ(context_->mime_part_counter, 1);
  const std::string path = context_->part_file_path;
  EXPECT_EQ(path.rfind(directory_->path + "/MP3_0_", 0), 0u) << path;
  EXPECT_EQ(path.substr(path.size() - 5), ".html");
  EXPECT_EQ(Held(), "");
  // A final flush writes to the open file too.
  Put("<p>end</p>");
  EXPECT_EQ(RenderFlush(context_, 1), NOERROR);
  EXPECT_EQ(CloseMimePartFile(context_), NOERROR);
  EXPECT_EQ(ReadPath(path), "<p>part</p><p>end</p>");
}

TEST_F(PartFileTest, ConcurrentRunsWithTheSameNumbersGetDifferentFiles) {
  Put("a");
  RenderFlush(context_, 0);
  html_render_info *other = CreateRenderContext(session_.get(), &chunk_);
  ASSERT_NE(other, nullptr);
  ASSERT_EQ(SetupRenderOutput(other, nullptr, 0), NOERROR);
  other->mime_mode = 1;
  other->mime_part_number = 3;
  RenderPuts(other, "b");
  RenderFlush(other, 0);
  EXPECT_STREQ(other->part_file_name, context_->part_file_name);
  EXPECT_STRNE(other->part_file_path, context_->part_file_path);
  const std::string otherPath = other->part_file_path;
  CloseMimePartFile(other);
  EXPECT_EQ(ReadPath(otherPath), "b");
  ReleaseRenderContext(other);
  EXPECT_EQ(Files().size(), 2u);
}

TEST_F(PartFileTest, WithoutAWritableDirectoryTheTextStays) {
  HostTestSetEnvironment("$TarnoTempDirectory", "/nonexistent-velko-dir/");
  session_->InitializeTempDirectory();
  Put("<p>kept</p>");
  EXPECT_EQ(RenderFlush(context_, 0), NOERROR);
  EXPECT_EQ(context_->part_file, nullptr);
  EXPECT_STREQ(context_->part_file_name, "");
  EXPECT_EQ(Held(), "<p>kept</p>");
}

} // namespace
