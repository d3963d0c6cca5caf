// HTML appended through VelkoRTChunk::AppendHTML: each construct's records
// written by hand as a record script and compared with the body after the
// import, which follows the item's own records. Also the statuses of empty
// text and missing files, runs cut below 32000 bytes, and an import that
// renders back to HTML with its text.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <string>
#include <utility>
#include <vector>

#include "store/body.h"
#include "tests/import/html_golden_support.h"

namespace {

using html_golden::golden_case;
using html_golden::HtmlImportTest;
using html_golden::kOriginal;

TEST_F(HtmlImportTest, EachConstructGivesItsRecords) {
  const golden_case cases[] = {
      {"a paragraph", "<p>Hello</p>", "", "TEXT text=\"Hello\"\n"},
      {"paragraphs", "<p>a</p><p>b</p>", "",
       "TEXT text=\"a\"\nPARAGRAPH\nTEXT text=\"b\"\n"},
      {"bare text", "a", "", "TEXT text=\"a\"\n"},
      {"bold between plain", "a<b>b</b>c", "",
       "TEXT text=\"a\"\nTEXT attributes=bold text=\"b\"\nTEXT text=\"c\"\n"},
      {"strong em ins del", "<strong>1</strong><em>2</em><ins>3</ins><del>4</del>", "",
       "TEXT attributes=bold text=\"1\"\nTEXT attributes=italic text=\"2\"\n"
       "TEXT attributes=underline text=\"3\"\nTEXT attributes=strikethrough text=\"4\"\n"},
      {"u s sup sub", "<u>1</u><s>2</s><sup>3</sup><sub>4</sub>", "",
       "TEXT attributes=underline text=\"1\"\nTEXT attributes=strikethrough text=\"2\"\n"
       "TEXT attributes=superscript text=\"3\"\nTEXT attributes=subscript text=\"4\"\n"},
      {"sub inside sup is sub alone", "<sup><sub>a</sub></sup>", "",
       "TEXT attributes=subscript text=\"a\"\n"},
      {"tt and code in face 4", "<tt>1</tt><code>2</code>", "", "TEXT face=4 text=\"12\"\n"},
      {"b and i crossed", "<b><i>x</b>y</i>", "",
       "TEXT attributes=bold+italic text=\"x\"\nTEXT attributes=italic text=\"y\"\n"},
      {"nesting", "<b>a<i>b<u>c</u></i>d</b>", "",
       "TEXT attributes=bold text=\"a\"\nTEXT attributes=bold+italic text=\"b\"\n"
       "TEXT attributes=bold+italic+underline text=\"c\"\nTEXT attributes=bold text=\"d\"\n"},
      {"font sizes", "<font size=\"5\">a</font><font size=\"+1\">b</font><font size=\"9\">c</font>",
       "", "TEXT size=18 text=\"a\"\nTEXT size=14 text=\"b\"\nTEXT size=36 text=\"c\"\n"},
      {"headings", "<h1>a</h1><h3>b</h3><h6>c</h6>", "",
       "TEXT attributes=bold size=24 text=\"a\"\nPARAGRAPH\n"
       "TEXT attributes=bold size=14 text=\"b\"\nPARAGRAPH\nTEXT attributes=bold size=8 text=\"c\"\n"},
      {"style attributes",
       "<span style=\"font-weight: bold; font-style:italic\">a</span>"
       "<b style=\"font-weight:400\">b</b><span style=\"text-decoration:underline line-through\">c"
       "<u style=\"text-decoration: none\">d</u></span><span style=\"font-size:12pt\">e</span>"
       "<span style=\"FONT-SIZE: 16px\">f</span><span style=\"font-size:2em;font-weight:700\">g</span>",
       "",
       "TEXT attributes=bold+italic text=\"a\"\nTEXT text=\"b\"\n"
       "TEXT attributes=underline+strikethrough text=\"c\"\nTEXT text=\"d\"\n"
       "TEXT size=12 text=\"ef\"\nTEXT attributes=bold text=\"g\"\n"},
      {"spans merge into one run", "<span>a</span><span>b</span>c", "", "TEXT text=\"abc\"\n"},
      {"br is a NUL in the run", "a<br>b", "", "TEXT text=\"a\\0b\"\n"},
      {"no NUL right before a block end", "<p>a<br></p><p>b</p>", "",
       "TEXT text=\"a\"\nPARAGRAPH\nTEXT text=\"b\"\n"},
      {"no NUL right before the end of the body", "a<br>", "", "TEXT text=\"a\"\n"},
      {"a br alone in its font at the end of the body writes nothing", "a<b><br></b>", "",
       "TEXT text=\"a\"\n"},
      {"pre line ends", "<pre>a\nb\n</pre>", "", "TEXT face=4 text=\"a\\0b\"\n"},
      {"nested blocks give one break", "<div><p>a</p><p>b</p></div>c", "",
       "TEXT text=\"a\"\nPARAGRAPH\nTEXT text=\"b\"\nPARAGRAPH\nTEXT text=\"c\"\n"},
      {"an empty paragraph gives none", "<p>a</p><p></p><p>b</p>", "",
       "TEXT text=\"a\"\nPARAGRAPH\nTEXT text=\"b\"\n"},
      {"a table of one row: a cell per column, each with its definition",
       "<table><tr><td>a</td><td><b>b</b></td></tr></table>", "",
       "PARAGRAPH\nHEX A3 0E A0 05 28 00 3C 00 00 00 00 00 02 00\n"
       "TABLECELL row=0 column=0 left=1440 right=5760 flags=2\nPARAGRAPH\n"
       "PABDEF id=2 left=1480 right=5720 flags=0x0086 flags2=0x0440 ext=1440,0,1440,0,0,100\n"
       "PABREF id=2\nTEXT text=\"a\"\n"
       "TABLECELL row=0 column=1 left=5760 right=10080 flags=2\nPARAGRAPH\n"
       "PABDEF id=3 left=5800 right=10040 flags=0x0086 flags2=0x0440 ext=1440,0,1440,0,0,100\n"
       "PABREF id=3\nTEXT attributes=bold text=\"b\"\n"
       "TABLEEND\nPARAGRAPH\nPABREF id=1\nTEXT text=\"\"\n"},
      {"head, script, style, comments and controls write nothing",
       "<html><head><title>t</title><style>p{}</style></head><body>"
       "<script>s()</script>a<!-- c --><input value=\"v\"></body></html>",
       "", "TEXT text=\"a\"\n"},
      {"a rule in a paragraph of its own", "<p>a</p><hr><p>b</p>", "",
       "TEXT text=\"a\"\nPARAGRAPH\nHEX C9 FF 10 00 04 00 00 00 64 00 07 00 00 00 00 00\n"
       "PARAGRAPH\nTEXT text=\"b\"\n"},
      {"an anchor by name", "a<a name=\"n1\">b</a>c", "",
       "TEXT text=\"a\"\nANCHOR name=\"n1\"\nTEXT text=\"bc\"\n"},
      {"an anchor by id", "<p><a id=\"x\">t</a></p>", "", "ANCHOR name=\"x\"\nTEXT text=\"t\"\n"},
      {"a link whose content is a sole text",
       "<p>a <a href=\"http://x.y/z\">link</a> b</p>", "",
       "TEXT text=\"a \"\nBEGIN sig=0xFFAD\nHOTSPOTBEGIN sig=0xFF7E type=32 flags=8\n"
       "RESOURCE type=1 name=\"http://x.y/z\"\n"
       "HOTSPOTBEGIN sig=0xFFAD type=11 flags=0x1008 data=\"http://x.y/z\\0\" tail=\"\\0\\0\"\n"
       "TEXT color=blue attributes=underline text=\"link\"\nHOTSPOTEND sig=0xAE\nEND sig=0xAE\n"
       "TEXT text=\" b\"\n"},
      {"a link whose content is walked: styles over the URL font, a break before it",
       "<p>a</p><a href=\"u\"><b>x</b>y</a>", "",
       "TEXT text=\"a\"\nPARAGRAPH\nBEGIN sig=0xFFAD\nHOTSPOTBEGIN sig=0xFF7E type=32 flags=8\n"
       "RESOURCE type=1 name=\"u\"\n"
       "HOTSPOTBEGIN sig=0xFFAD type=11 flags=0x1008 data=\"u\\0\" tail=\"\\0\\0\"\n"
       "TEXT color=blue attributes=bold+underline text=\"x\"\n"
       "TEXT color=blue attributes=underline text=\"y\"\nHOTSPOTEND sig=0xAE\nEND sig=0xAE\n"
       "TEXT text=\"\"\n"}, // a body ends in a text run
      {"a link with an anchor name: the anchor first", "<a name=\"n\" href=\"u\">t</a>", "",
       "ANCHOR name=\"n\"\nBEGIN sig=0xFFAD\nHOTSPOTBEGIN sig=0xFF7E type=32 flags=8\n"
       "RESOURCE type=1 name=\"u\"\n"
       "HOTSPOTBEGIN sig=0xFFAD type=11 flags=0x1008 data=\"u\\0\" tail=\"\\0\\0\"\n"
       "TEXT color=blue attributes=underline text=\"t\"\nHOTSPOTEND sig=0xAE\nEND sig=0xAE\n"
       "TEXT text=\"\"\n"},
      {"script addresses are no links", "<a href=\" JavaScript:f()\">a</a>"
       "<a href=\"vbscript:g\">b</a>", "", "TEXT text=\"ab\"\n"},
      {"an address over 2048 bytes is no link",
       "<a href=\"http://" + std::string(2042, 'x') + "\">a</a>", "", "TEXT text=\"a\"\n"},
      {"colours: a palette name and an exact colour bracketed with their colour records, black "
       "without one",
       "<span style=\"color:Red\">r</span><span style=\"color: #123456\">x</span>"
       "<span style=\"color:black\">k</span>",
       "", "BEGIN sig=0xFF85\nTEXT color=red text=\"r\"\nCOLOR rgb=0xFF0000\nEND sig=0xFF85\n"
       "BEGIN sig=0xFF85\nTEXT text=\"x\"\nCOLOR rgb=0x123456\nEND sig=0xFF85\nTEXT text=\"k\"\n"},
      {"a link inside a coloured span takes the link's colour alone",
       "<span style=\"color:#123456\"><a href=\"u\">t</a>z</span>", "",
       "BEGIN sig=0xFFAD\nHOTSPOTBEGIN sig=0xFF7E type=32 flags=8\nRESOURCE type=1 name=\"u\"\n"
       "HOTSPOTBEGIN sig=0xFFAD type=11 flags=0x1008 data=\"u\\0\" tail=\"\\0\\0\"\n"
       "TEXT color=blue attributes=underline text=\"t\"\nHOTSPOTEND sig=0xAE\nEND sig=0xAE\n"
       "BEGIN sig=0xFF85\nTEXT text=\"z\"\nCOLOR rgb=0x123456\nEND sig=0xFF85\n"},
      {"families: a new face joins the font table once, generic ones keep theirs, an empty "
       "one changes nothing",
       "<span style=\"font-family: 'Courier New', serif\">a</span>"
       "<span style=\"font-family:sans-serif\">b<i style=\"font-family:''\">e</i></span>"
       "<span style='font-family:\"courier new\"'>c</span>"
       "<span style=\"font-family:monospace\">d</span>",
       "",
       "TEXT face=5 text=\"a\"\nTEXT text=\"b\"\nTEXT attributes=italic text=\"e\"\n"
       "TEXT face=5 text=\"c\"\nTEXT face=4 text=\"d\"\n"},
      {"an image without a source gives its alt text", "a<img alt=\"pic\">", "",
       "TEXT text=\"apic\"\n"},
      {"NBSP", "a&nbsp;b", "", "TEXT text=\"a\\xFFb\"\n"},
      {"an unknown entity stays literal", "a&bogus;b", "", "TEXT text=\"a&bogus;b\"\n"},
      {"&#150; is the Windows en dash", "a&#150;b", "", "TEXT text=\"a\\x14\\x20\\x13b\"\n"},
      {"named entities", "caf&eacute; &lt;&amp;&gt; &euro;", "",
       "TEXT text=\"caf\\x82 <&> \\x14\\x20\\xAC\"\n"},
      {"LMBCS text without a charset", "caf\x82", "", "TEXT text=\"caf\\x82\"\n"},
      {"Charset=UTF-8", "caf\xC3\xA9", "Charset=UTF-8", "TEXT text=\"caf\\x82\"\n"},
      {"Charset=ISO-8859-1", "caf\xE9", "Charset=ISO-8859-1", "TEXT text=\"caf\\x82\"\n"},
      {"Charset=windows-1252", "a\x96" "b", "Charset=windows-1252",
       "TEXT text=\"a\\x14\\x20\\x13b\"\n"},
      {"a charset label retried without '-' and '_'", "caf\xE9", "Charset=ISO_8859-1_",
       "TEXT text=\"caf\\x82\"\n"},
  };
  ExpectGolden(cases);
}

/* The item's URL font replaces blue underlined for a link's content; a
 * highlight it names brackets the text with a colour record. */
TEST_F(HtmlImportTest, LinksTakeTheItemsUrlFont) {
  STATUS status = 0;
  WORD secondary = 0;
  EXPECT_EQ(Append("INLINE", "<a href=\"u\">t</a>", "", &status, &secondary,
                   "HighlightYellow +Bold"),
            Expected("BEGIN sig=0xFFAD\nHOTSPOTBEGIN sig=0xFF7E type=32 flags=8\n"
                     "RESOURCE type=1 name=\"u\"\n"
                     "HOTSPOTBEGIN sig=0xFFAD type=11 flags=0x1008 data=\"u\\0\" tail=\"\\0\\0\"\n"
                     "BEGIN sig=0xFF85\nTEXT attributes=bold text=\"t\"\nCOLOR flags=0x8001\n"
                     "END sig=0xFF85\nHOTSPOTEND sig=0xAE\nEND sig=0xAE\nTEXT text=\"\"\n"));
  EXPECT_EQ(status, NOERROR);
}

TEST_F(HtmlImportTest, FilesChooseTheirCharset) {
  const golden_case cases[] = {
      {"option first", "caf\xE9", "Charset=ISO-8859-1", "TEXT text=\"caf\\x82\"\n"},
      {"byte-order mark", "\xEF\xBB\xBF" "caf\xC3\xA9", "", "TEXT text=\"caf\\x82\"\n"},
      {"meta in the head",
       "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">"
       "</head><body>caf\xE9</body></html>",
       "", "TEXT text=\"caf\\x82\"\n"},
      {"valid UTF-8", "caf\xC3\xA9", "", "TEXT text=\"caf\\x82\"\n"},
      {"else Windows-1252", "a\x96" "b", "", "TEXT text=\"a\\x14\\x20\\x13b\"\n"},
  };
  for (const golden_case& c : cases) {
    SCOPED_TRACE(c.name);
    STATUS status = 0;
    WORD secondary = 0;
    EXPECT_EQ(Append("File", WriteFile(c.html), c.options, &status, &secondary),
              Expected(c.script));
    EXPECT_EQ(status, NOERROR);
    EXPECT_EQ(secondary, 0);
  }
}

TEST_F(HtmlImportTest, TextNestedTooDeepToWalkIsKept) {
  std::string html;
  for (int i = 0; i < 250; ++i)
    html += i == 100 ? "<b>" : "<span>";
  html += "deep<script>s()</script><span>er</span>";
  STATUS status = 0;
  WORD secondary = 0;
  EXPECT_EQ(Append("INLINE", "a" + html, "", &status, &secondary),
            Expected("TEXT text=\"a\"\nTEXT attributes=bold text=\"deeper\"\n"));
  EXPECT_EQ(status, NOERROR);
}

TEST_F(HtmlImportTest, DocumentsNestedDeeperThanTheParserGoesKeepTheirText) {
  constexpr int kDepth = 100000;
  const std::pair<const char*, const char*> shapes[] = {
      {"<div>", "</div>"}, {"<span>", "</span>"}, {"<table><tr><td>", "</td></tr></table>"},
      {"<ul><li>", ""}};
  for (const auto& [open, close] : shapes) {
    SCOPED_TRACE(open);
    std::string html;
    for (int i = 0; i < kDepth; ++i)
      html += std::string(open) + "Q";
    for (int i = 0; i < kDepth; ++i)
      html += close;
    STATUS status = 0;
    WORD secondary = 0;
    Append("INLINE", html, "", &status, &secondary);
    EXPECT_EQ(status, NOERROR);
    const std::string rendered = Rendered();
    EXPECT_EQ(std::count(rendered.begin(), rendered.end(), 'Q'), kDepth);
  }
}

TEST_F(HtmlImportTest, LongTextIsCutIntoRunsBelow32000Bytes) {
  STATUS status = 0;
  WORD secondary = 0;
  const std::string text = std::string(31990, 'a') + "\xC3\xA9" + std::string(10, 'b');
  EXPECT_EQ(Append("INLINE", text, "Charset=UTF-8", &status, &secondary),
            Expected("TEXT text=\"" + std::string(31990, 'a') + "\\x82\"\nTEXT text=\"" +
                     std::string(10, 'b') + "\"\n"));
  EXPECT_EQ(status, NOERROR);
}

TEST_F(HtmlImportTest, ALongAnchorNameIsCutBetweenCharacters) {
  const struct {
    const char* label;
    std::string name;
    std::string kept;
  } cases[] = {
      // A character of several LMBCS bytes that the longest run would cut
      // goes whole.
      {"the cut one byte into a character", std::string(31990, 'a') + "\xE6\x97\xA5",
       std::string(31990, 'a')},
      {"the cut two bytes into a character", std::string(31989, 'a') + "\xE6\x97\xA5" "b",
       std::string(31989, 'a')},
      {"the cut between bytes that are characters", std::string(31991, 'a') + "b",
       std::string(31991, 'a')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    STATUS status = 0;
    WORD secondary = 0;
    EXPECT_EQ(Append("INLINE", "<a name=\"" + c.name + "\">t</a>", "Charset=UTF-8", &status,
                     &secondary),
              Expected("ANCHOR name=\"" + c.kept + "\"\nTEXT text=\"t\"\n"));
    EXPECT_EQ(status, NOERROR);
  }
}

TEST_F(HtmlImportTest, ShortTextsAfterALongOneKeepTheirOwnBytes) {
  STATUS status = 0;
  WORD secondary = 0;
  const std::string text = "<p>" + std::string(20000, 'a') + "</p><p>b</p><p>" +
                           std::string(5000, 'c') + "</p><p>d</p>";
  EXPECT_EQ(Append("INLINE", text, "Charset=UTF-8", &status, &secondary),
            Expected("TEXT text=\"" + std::string(20000, 'a') +
                     "\"\nPARAGRAPH\nTEXT text=\"b\"\nPARAGRAPH\nTEXT text=\"" +
                     std::string(5000, 'c') + "\"\nPARAGRAPH\nTEXT text=\"d\"\n"));
  EXPECT_EQ(status, NOERROR);
}

TEST_F(HtmlImportTest, FailuresLeaveTheBodyAndSetTheSecondaryStatus) {
  const struct {
    const char* name;
    const char* source;
    std::string text;
    STATUS status;
    WORD secondary;
  } cases[] = {
      {"empty inline text", "INLINE", "", 14409, 14409},
      {"a missing file", "File", "/nonexistent/velko/x.htm", 259, 20014},
      {"no body context", "BodyContext", "", 259, 20014},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    STATUS status = 0;
    WORD secondary = 0;
    EXPECT_EQ(Append(c.source, c.text, "", &status, &secondary), Expected(""));
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(secondary, c.secondary);
  }
}

TEST_F(HtmlImportTest, TidyWritesNothingToStderrAndKeepsTheLocale) {
  STATUS status = 0;
  WORD secondary = 0;
  const std::string locale = setlocale(LC_ALL, nullptr);
  ::testing::internal::CaptureStderr();
  Append("INLINE", "<p><b>unclosed <table><td>x</span><blink>y</blink>&bogus;<p", "", &status,
         &secondary);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(status, NOERROR);
  EXPECT_EQ(setlocale(LC_ALL, nullptr), locale);
}

TEST_F(HtmlImportTest, AnImportRendersWithItsText) {
  STATUS status = 0;
  WORD secondary = 0;
  Append("INLINE", "<p>first <b>bold</b></p><p>second <a href=\"http://x.y/z\">link</a></p>", "",
         &status, &secondary);
  ASSERT_EQ(status, NOERROR);
  const std::string rendered = Rendered();
  EXPECT_NE(rendered.find("first <b>bold</b>"), std::string::npos) << rendered;
  EXPECT_NE(rendered.find("second"), std::string::npos) << rendered;
  EXPECT_LT(rendered.find("bold"), rendered.find("second")) << rendered;
  const size_t link = rendered.find("<a href=\"http://x.y/z\"");
  EXPECT_NE(link, std::string::npos) << rendered;
  EXPECT_LT(link, rendered.find("link</a>")) << rendered;
}

/* The item's HTML-import body context holds HTML as text records: each
 * text and a line end per paragraph is imported; with MarkPassthruHTML
 * the region between the delimiters comes out as bracketed text. */
TEST_F(HtmlImportTest, BodyContextTextImportsWithItsPassthruRegionsMarked) {
  const struct {
    const char* name;
    const char* options;
    std::string script;
  } cases[] = {
      {"unmarked", "",
       "TEXT text=\"a{{\"\nTEXT attributes=bold text=\"x\"\nTEXT text=\"}}c \"\n"
       "TEXT attributes=italic text=\"y\"\n"},
      {"marked", "MarkPassthruHTML=Yes PassthruHTMLStart='{{' PassthruHTMLEnd='}}'",
       "TEXT text=\"a[<b>x</b>]c \"\nTEXT attributes=italic text=\"y\"\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    AppendItem(Script(kOriginal));
    AppendItem(Script("TEXT text=\"a{{<b>x</b>}}c\"\nPARAGRAPH\nTEXT text=\"<i>y</i>\"\n"),
               "Source");
    VelkoRTItem source(session_);
    ASSERT_EQ(source.ConnectBackend(note_, "Source", 0), NOERROR);
    body_context* loaded =
        StoreItemsAndRecords(&source, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
    ASSERT_NE(loaded, nullptr);
    VelkoRTChunk* chunk = Chunk("Everything");
    item_->internal->html_import[0] = loaded; // the item frees it
    EXPECT_EQ(chunk->AppendHTML("BodyContext", "", c.options), NOERROR);
    EXPECT_EQ(note_testing::RecordLines(Values()), Expected(c.script));
  }
}

} // namespace
