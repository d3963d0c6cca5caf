// The close-tag stacks: pushes, pops with their guards and line ends, and
// the queries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render/tag_stack.h"
#include "render_fixture.h"

namespace {

using render_testing::RenderContextTest;

class TagStackTest : public RenderContextTest {
protected:
  void SetUp() override {
    RenderContextTest::SetUp();
    UseOutput();
  }

  /* Pushes bottom first. */
  void Push(WORD which, std::initializer_list<const char *> tags) {
    for (const char *tag : tags)
      ASSERT_NE(PushXMLStack(context_, which, tag), nullptr);
  }

  /* The stack's tags, top first. */
  std::vector<std::string> Tags(WORD which = 0) const {
    std::vector<std::string> tags;
    for (const xml_stack_node *node = which == 0 ? context_->tag_stack : context_->second_tag_stack;
         node != nullptr; node = node->next)
      tags.emplace_back(node->tag);
    return tags;
  }
};

TEST_F(TagStackTest, PopWritesWhatItTakesWithinItsGuards) {
  const std::vector<const char *> table = {"</table>", "</tr>", "</td>", "</p>", "</b>"};
  const struct {
    std::vector<const char *> pushed; /* bottom first */
    const char *tag;
    BOOL mustExist, stopBefore, tableGuard, listGuard;
    int result;
    const char *written;
    size_t left;
  } cases[] = {
      {table, "</p>", 0, 0, 0, 1, 1, "</b></p>", 3},
      {table, "</li>", 0, 0, 0, 1, 0, "", 5}, // a list does not close across a table
      // The table guard needs the table structure below the tag.
      {{"</div>", "</td>"}, "</td>", 0, 0, 1, 0, 0, "", 2},
      {{"</div>", "</td>", "</tr>"}, "</TR>", 0, 0, 1, 0, 0, "", 3},
      {{"</div>", "</td>", "</tr>", "</table>"},
       "</p>",
       0,
       0,
       1,
       0,
       1,
       "</table></tr></td></div>",
       0}, // not on the stack: all go
      {{"</ul>", "</li>"}, "</ol>", 1, 0, 0, 0, 0, "", 2},
      {{"</ul>", "</li>"}, "*", 0, 0, 0, 0, 1, "</li></ul>", 0},
      {{}, "*", 0, 0, 0, 0, 0, "", 0},
      {{"</ul>", "</li>", "</b>"}, "</ul>", 0, 1, 0, 0, 1, "</b></li>", 1},
  };
  for (const auto &c : cases) {
    Renew();
    UseOutput();
    for (const char *tag : c.pushed)
      ASSERT_NE(PushXMLStack(context_, 0, tag), nullptr);
    EXPECT_EQ(
        PopXMLStack(context_, 0, c.tag, 1, c.mustExist, c.stopBefore, c.tableGuard, c.listGuard),
        c.result)
        << c.tag;
    EXPECT_EQ(Held(), c.written) << c.tag;
    EXPECT_EQ(Tags().size(), c.left) << c.tag;
  }
  // A null tag pops exactly one without writing.
  Renew();
  UseOutput();
  Push(0, {"</ul>", "</li>"});
  EXPECT_EQ(PopXMLStack(context_, 0, nullptr, 0, 0, 0, 0, 0), 1);
  EXPECT_EQ(Held(), "");
  EXPECT_EQ(Tags(), (std::vector<std::string>{"</ul>"}));
}

TEST_F(TagStackTest, BlockTagsGetALineEndUnderAddNewlines) {
  struct Case {
    DWORD flags;
    DWORD encoding;
    std::string expected;
  };
  for (const Case &c : {Case{html_flags::NewlineCRLF, 0, "</b></p>\n"},
                        Case{html_flags::NewlineNUL, 0, "</b></p>\n"},
                        Case{html_flags::NewlineCRLF, kEncodingQuotedPrintable, "</b></p>"},
                        Case{0, 0, "</b></p>"}}) {
    RenderTruncate(context_, 0);
    context_->flags = c.flags;
    context_->encoding_flags = c.encoding;
    Push(0, {"</p>", "</b>"});
    PopXMLStack(context_, 0, "</p>", 1, 0, 0, 0, 0);
    EXPECT_EQ(Held(), c.expected) << c.flags << " " << c.encoding;
  }
}

TEST_F(TagStackTest, SecondStackPopsIntoATargetText) {
  Push(1, {"</span>", "</i>"});
  Push(0, {"</p>"});
  render_text target{session_.get()};
  RenderTextPuts(&target, "x");
  EXPECT_EQ(PopXMLStackToBuffer(context_, 1, "</span>", 1, 0, &target, 0, 0, 0), 1);
  EXPECT_EQ(std::string(target.data, target.length), "x</i></span>");
  EXPECT_EQ(Held(), "");
  EXPECT_EQ(Tags(0), (std::vector<std::string>{"</p>"}));
  // Written without a target, the second stack's tags have nowhere to go.
  Push(1, {"</u>"});
  EXPECT_EQ(PopXMLStack(context_, 1, "</u>", 1, 0, 0, 0, 0), 1);
  EXPECT_EQ(Held(), "");
  RenderTextFree(&target);
}

TEST_F(TagStackTest, PopToAPointStopsAtTheNode) {
  Push(0, {"</table>"});
  xml_stack_node *stop = PushXMLStack(context_, 0, "</tr>");
  Push(0, {"</td>", "</b>"});
  render_text target{session_.get()};
  PopXMLStackToPointToBuffer(context_, 0, stop, &target);
  EXPECT_EQ(std::string(target.data, target.length), "</b></td>");
  EXPECT_EQ(Tags(), (std::vector<std::string>{"</tr>", "</table>"}));
  PopXMLStackToPointToBuffer(context_, 0, nullptr, nullptr); // to the bottom, unwritten
  EXPECT_TRUE(Tags().empty());
  RenderTextFree(&target);
}

TEST_F(TagStackTest, QueriesCompareTagsExactly) {
  Push(0, {"</table>", "</tr>", "</td>", "</p>"});
  EXPECT_EQ(TagOnXMLStack(context_, 0, "</tr>", 0), 1);
  EXPECT_EQ(TagOnXMLStack(context_, 0, "</TR>", 0), 0);
  EXPECT_EQ(TagOnXMLStack(context_, 0, "</tr>", 1), 0);
  EXPECT_EQ(TagOnXMLStack(context_, 0, "</p>", 1), 1);
  EXPECT_EQ(TagOnXMLStack(context_, 1, "</p>", 0), 0);
  EXPECT_EQ(TagOnXMLStackBefore(context_, 0, "</tr>", "</td>", nullptr, nullptr), 0);
  EXPECT_EQ(TagOnXMLStackBefore(context_, 0, "</tr>", "</table>", nullptr, nullptr), 1);
  EXPECT_EQ(TagOnXMLStackBefore(context_, 0, "</ul>", "</x>", nullptr, nullptr), 0);
  EXPECT_EQ(TagOnXMLStackBeforeTag(context_, 0, "</td>", "</table>", nullptr), 1);
  EXPECT_EQ(TagOnXMLStackBeforeTag(context_, 0, "</table>", "</ul>", "</td>"), 0);
}

TEST_F(TagStackTest, FirstOfTagAndStopsDecidesWhateverTheTagsAreCounted) {
  // Counted tags and tags of the renderer's own mappings (not counted),
  // mixed; texts equal to a counted tag but stored elsewhere count too.
  const std::string division = "</div>";
  Push(0, {"</table>", "</tr>", "</td>", "</x-group>", "</div>", "</x-item>", "</b>"});
  const struct {
    const char *tag;
    std::vector<const char *> stops;
    bool open;
  } cases[] = {
      {"</div>", {"</td>"}, true},
      {division.c_str(), {"</td>", "</tr>"}, true},
      {"</td>", {"</div>"}, false},
      {"</table>", {"</tr>"}, false},
      {"</table>", {}, true},
      {"</ul>", {}, false},                   // not open at all
      {"</DIV>", {}, false},                  // texts compare exactly
      {"</div>", {"</x-item>"}, false},       // a stop not counted comes first
      {"</div>", {"</x-group>"}, true},       // one not counted comes after
      {"</x-group>", {"</div>"}, false},
      {"</x-group>", {"</td>", nullptr}, true},
      {"</x-item>", {"</b>"}, false},
      {"</td>", {nullptr, "</x-group>"}, false},
      {"</td>", {nullptr, "</table>"}, true},
      {nullptr, {"</td>"}, false},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(TagOpenBeforeStops(context_, c.tag, c.stops.data(), c.stops.size()), c.open)
        << (c.tag != nullptr ? c.tag : "(null)") << " before " << c.stops.size() << " stops";
  }
}

TEST_F(TagStackTest, CellOpenFollowsTheCellTagsComingAndGoing) {
  EXPECT_FALSE(CellTagOnXMLStack(context_));
  Push(0, {"</table>", "</tr>", "</th>", "</div>"});
  EXPECT_TRUE(CellTagOnXMLStack(context_));
  PopXMLStack(context_, 0, "</th>", 0, 1, 0, 0, 0);
  EXPECT_FALSE(CellTagOnXMLStack(context_));
  Push(0, {"</td>"});
  EXPECT_TRUE(CellTagOnXMLStack(context_));
  PopXMLStack(context_, 0, "</tr>", 0, 1, 0, 0, 0);
  EXPECT_FALSE(CellTagOnXMLStack(context_));
}

TEST_F(TagStackTest, OpenCellOfRowIsTheNearestCellAboveAnyRowOrTable) {
  static char copiedCell[] = "</td>"; // the same text elsewhere than the constant
  const struct {
    std::vector<const char *> stack; /* bottom first */
    int expected;                    /* places from the top; -1: none */
  } cases[] = {
      {{"</table>", "</tr>", "</td>", "</div>"}, 1},
      {{"</table>", "</tr>", "</th>"}, 0},
      {{"</table>", "</tr>", copiedCell, "</b>", "</p>"}, 2},
      {{"</table>", "</tr>", "</td>", "</table>", "</tr>"}, -1},
      {{"</td>", "</table>", "</div>"}, -1},
      {{"</table>", "</tr>", "</TD>", "</div>"}, -1},
      {{"</div>", "</p>"}, -1},
      {{}, -1},
  };
  for (const auto &c : cases) {
    PopXMLStack(context_, 0, "*", 0, 0, 0, 0, 0);
    for (const char *tag : c.stack)
      ASSERT_NE(PushXMLStack(context_, 0, tag), nullptr);
    const xml_stack_node *expected = c.expected < 0 ? nullptr : context_->tag_stack;
    for (int i = 0; i < c.expected; ++i)
      expected = expected->next;
    EXPECT_EQ(OpenCellOfRow(context_), expected) << c.stack.size() << " tags";
  }
}

TEST_F(TagStackTest, ListClosingNodesAreTheListTagsExactly) {
  const struct {
    const char *tag;
    bool list;
  } cases[] = {{"</ul>", true}, {"</ol>", true}, {"</li>", false}, {"</UL>", false},
               {"</div>", false}};
  for (const auto &c : cases) {
    Push(0, {c.tag});
    EXPECT_EQ(IsListClosingNode(context_->tag_stack), c.list) << c.tag;
  }
  EXPECT_FALSE(IsListClosingNode(nullptr));
}

TEST(SameXMLTagTest, SameTextOnlyWhateverItsStorage) {
  const std::string copy = "</td>"; // the text of a constant, elsewhere
  const struct {
    const char *a;
    const char *b;
    bool same;
  } cases[] = {
      {"</td>", copy.c_str(), true}, {"</td>", "</td>", true}, {"", "", true},
      {"</td>", "</tr>", false},     {"</t", "</td>", false},   {"</td>", "</t", false},
      {"</td>", "</TD>", false},     {"", "</p>", false},       {nullptr, "</p>", false},
      {"</p>", nullptr, false},      {nullptr, nullptr, false},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(SameXMLTag(c.a, c.b), c.same)
        << (c.a != nullptr ? c.a : "(null)") << " " << (c.b != nullptr ? c.b : "(null)");
  }
}

TEST_F(TagStackTest, IdQuerySkipsMatchesWithoutAnId) {
  PushXMLStackWithID(context_, 0, "</div>", 7);
  PushXMLStack(context_, 0, "</p>");
  PushXMLStack(context_, 0, "</div>");
  EXPECT_EQ(TagOnXMLStackWithID(context_, 0, "</div>", 0), 7);
  EXPECT_EQ(TagOnXMLStackWithID(context_, 0, "</div>", 1), 0); // top has no id
  PushXMLStackWithID(context_, 0, "</div>", 9);
  EXPECT_EQ(TagOnXMLStackWithID(context_, 0, "</div>", 1), 9);
  EXPECT_EQ(TagOnXMLStackWithID(context_, 0, "</span>", 0), 0);
}

TEST_F(TagStackTest, DeepStacksHaveNoLimit) {
  for (int i = 0; i < 100000; ++i)
    PushXMLStack(context_, 0, "</div>");
  EXPECT_EQ(PopXMLStack(context_, 0, "</nothing>", 0, 0, 0, 0, 0), 1);
  EXPECT_TRUE(Tags().empty());
}

} // namespace
