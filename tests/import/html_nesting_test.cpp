// The tags left out before parsing, at a depth of two: the nesting read
// off the tags as the parser nests them, erring on the deep side.
#include "import/html_nesting.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(HtmlNestingTest, StartTagsDeeperThanTheLimitAreLeftOut) {
  struct Case {
    const char* name;
    const char* html;
    const char* kept; /* null: nothing left out */
  };
  const Case cases[] = {
      {"within the limit", "<div><b>x</b></div>", nullptr},
      {"a third level", "<div><b><i>x</i>y</b></div>z", "<div><b>xy</b></div>z"},
      {"voids nest nothing", "<div><br><img src=a><b>x</b></div>", nullptr},
      {"a cell closes the cell before", "<table><td>a<td>b<td>c</table>", nullptr},
      {"rows close their cells", "<tr><td>a<tr><td>b", nullptr},
      {"list items close the item before", "<ul><li>a<li>b<li>c</ul>", nullptr},
      {"a block closes a paragraph", "<p>a<div>b</div><p>c<p>d", nullptr},
      {"inline elements stay open past their block's end", "<div><b>x</div><div><i>y</i></div>",
       "<div><b>x</div><div>y</div>"},
      {"an end tag closes no block above its own", "<b><div></b><i>x</i>", "<b><div></b>x"},
      {"nor a table around it", "<div><table><td></div><p>x", "<div><table>x"},
      {"end tags that close nothing stay until a tag is left out",
       "</div></b><b><i><u>x</u></i></b></i>", "</div></b><b><i>x</i></b>"},
      {"script and style text holds no tags",
       "<div><script>if (a<b) '<i><u>'</script><style>b>i{}</style></div>", nullptr},
      {"quoted values may hold a '>'", "<a title='>'><b class=\"<i>\"><u>x</u></b></a>",
       "<a title='>'><b class=\"<i>\">x</b></a>"},
      {"comments and declarations are text", "<!DOCTYPE html><!-- <b><i><u> --><b>x</b>",
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string kept = "untouched";
    EXPECT_EQ(FlattenDeepNesting(c.html, 2, &kept), c.kept != nullptr);
    EXPECT_EQ(kept, c.kept != nullptr ? c.kept : "untouched");
  }
}

} // namespace
