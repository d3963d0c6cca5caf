// The records an HTML import collected go into the body through the
// emitter's lane where it takes them (store/emitter.h), pointing at the
// import's own copies: with the lane turned off (store/emitter_lane_testing.h)
// every record goes through CopyCDUpdated, and each import must store the
// same bytes, return the same status and show the same messages either way,
// into an item of its own records and into one that ends inside a table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/emitter_lane_testing.h"
#include "tests/import/html_golden_support.h"

namespace {

using html_golden::HtmlImportTest;

struct outcome {
  STATUS status = 0;
  WORD secondary = 0;
  std::vector<std::string> records;
  std::vector<HostTestMessage> messages;
};

std::string Nested(int depth, const std::string& inner) {
  std::string html = inner;
  for (int level = 0; level < depth; ++level)
    html = "<table border=1><tr><td>" + std::to_string(level) + "</td><td>" + html +
           "</td></tr></table>";
  return html;
}

/* Documents of every kind of record the import writes: text runs in many
 * fonts and colours, paragraphs with and without definitions, lists,
 * rules, anchors, links, tables (spanned, nested, too deep, too wide),
 * line ends in pre, a run long enough to be cut, and coloured runs,
 * pictures and links inside and outside cells. */
std::vector<std::string> Documents() {
  std::string wide = "<table><tr>";
  for (int column = 0; column < 70; ++column)
    wide += "<td>c" + std::to_string(column) + "</td>";
  wide += "</tr></table>";
  std::string rows = "<table border=1>";
  for (int row = 0; row < 260; ++row)
    rows += "<tr><td>r" + std::to_string(row) + "</td><td>x</td></tr>";
  rows += "</table>";
  return {
      "<p>plain <b>bold</b> <i>it</i> <u>under</u> <s>gone</s> x<sup>2</sup></p>",
      "<h1>Head</h1><p align=center style=\"margin-left:1in; text-indent:-0.25in\">"
      "<span style=\"color:#336699; font-weight:bold\">blue</span> and "
      "<font size=5 color=red>big</font></p><hr><p>after the rule</p>",
      "<ul><li>one</li><li style=\"list-style-type:square\">two<ol type=a><li>in</li></ol>"
      "</li></ul><blockquote>quoted</blockquote><pre>a\nb\n</pre>",
      "<a name=top>anchor</a> <a href=\"http://example.com/x\">link <b>bold</b></a>"
      " <a href=\"javascript:void(0)\">script</a>",
      "<p>before</p><table border=1 width=\"80%\"><tr><td rowspan=2>a</td><td>b</td>"
      "<td width=100>c</td></tr><tr><td colspan=2 align=right>d</td></tr>"
      "<tr><td></td><td><p>p1</p><p style=\"text-align:center\">p2</p></td></tr></table>"
      "<p>after</p>",
      "<table><caption>cap</caption><tr><th>h</th></tr><tr><td>" +
          Nested(3, "<span style=\"color:rgb(1,2,3)\">deep</span>") + "</td></tr></table>",
      Nested(12, "too deep"),
      wide + rows,
      "<p>" + std::string(40000, 'w') + "</p><p>" + std::string(20000, 'v') + " tail</p>",
      // Coloured runs (text brackets), pictures (graphic brackets) and
      // links, in and out of cells, ending inside a coloured run.
      "<table border=1><tr><td><a href=\"http://example.com/a\"><span style=\"color:#102030\">"
      "in a link</span> plain</a></td><td><font color=\"#aabbcc\">c1</font><font "
      "color=\"#aabbcc\"> c2</font><img src=\"data:image/gif;base64,R0lGODlhAgADAAAAADs=\" "
      "alt=g></td></tr></table><a href=\"http://example.com/b\"><img "
      "src=\"data:image/jpeg;base64,/9j/wAALCAAEAAUBAREA/9k=\"></a><a href=\"#top\">x</a>"
      "<a href=\"http://example.com/c\"></a><span style=\"color:rgb(9,8,7)\">end</span>",
  };
}

class HtmlFlushTest : public HtmlImportTest {
protected:
  void TearDown() override {
    VelkoTestSetEmitterLane(true);
    HtmlImportTest::TearDown();
  }

  outcome RunOnce(const std::string& html, bool lane) {
    VelkoTestSetEmitterLane(lane);
    outcome result;
    result.records = Append("INLINE", html, "Charset=UTF-8", &result.status, &result.secondary);
    result.messages = HostTestMessages();
    VelkoTestSetEmitterLane(true);
    return result;
  }

  void ExpectSameOutcomes(const char* what) {
    int index = 0;
    for (const std::string& html : Documents()) {
      SCOPED_TRACE(std::string(what) + ", document " + std::to_string(index++));
      const outcome full = RunOnce(html, false);
      const outcome lane = RunOnce(html, true);
      EXPECT_EQ(lane.status, full.status);
      EXPECT_EQ(lane.secondary, full.secondary);
      EXPECT_EQ(lane.records, full.records);
      EXPECT_TRUE(lane.messages == full.messages);
      EXPECT_GT(lane.records.size(), 3u);
    }
  }
};

TEST_F(HtmlFlushTest, ImportsStoreTheSameWithAndWithoutTheLane) {
  ExpectSameOutcomes("after text");
  original_ = "PABDEF id=1 ext=1440,0,1440,0,0,0\nPABREF id=1\nTEXT text=\"x\"\n"
              "TABLEBEGIN\nTABLECELL\nPARAGRAPH\nPABREF id=1\nTEXT text=\"cell\"\n";
  ExpectSameOutcomes("inside a table");
}

} // namespace
