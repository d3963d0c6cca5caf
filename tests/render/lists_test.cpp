// Lists and font sizes: HTML font sizes by threshold, the table of list
// definitions and the kind of list of a PABID, whether a cell's first
// paragraph adds anything, the inline indentation of nested lists, text
// lists joined, and lists in the output beyond the golden corpus: kinds,
// levels by indent, items and their declarations.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "render_fixture.h"
#include "host/osmem.h"
#include "host/textlist.h"

namespace {

using cdbuild::Body;
using cdbuild::Bytes;
using cdbuild::Font;
using driver_testing::AddFirstParagraph;
using driver_testing::AddParagraph;
using driver_testing::Definition;
using driver_testing::Sheet;
using driver_testing::Text;

constexpr WORD kBulleted = 0x0400;
constexpr WORD kNumbered = 0x1000;

using ListTest = driver_testing::DriverTest;

/* The n-th record (from 0) of the signature. */
record_storage *Nth(body_context *records, WORD signature, int n) {
  for (record_storage *node = records->records; node != nullptr; node = node->next) {
    if (node->signature == signature && n-- == 0)
      return node;
  }
  return nullptr;
}

/* "Intro", then list paragraphs, then (when given) a plain one. */
Body ListBody(const std::vector<std::pair<Bytes, std::string>> &items, bool after = true) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Intro");
  std::vector<WORD> defined;
  for (const auto &[definition, text] : items) {
    WORD id = 0;
    std::memcpy(&id, definition.data() + 4, sizeof id);
    body.Add(cdbuild::Paragraph());
    if (std::find(defined.begin(), defined.end(), id) == defined.end()) {
      body.Add(definition);
      defined.push_back(id);
    }
    body.Add(cdbuild::PabRef(id)).Add(Text(text));
  }
  if (after)
    AddParagraph(body, 1, "After");
  return body;
}

const std::string kDiscItem = "<li style=\"list-style-type: disc; \">";

/* ---- the table of list definitions ---- */

TEST_F(ListTest, ListTableRemembersEachDefinitionOnceAndAtMostAHundred) {
  Body body;
  for (WORD id = 1; id <= 102; ++id)
    body.Add(Definition(id, 1440, id % 2 == 0 ? kNumbered : kBulleted));
  Prepare(body);
  record_storage *first = Nth(records_, SIG_CD_PABDEFINITION, 0);
  AddToOrderedList(context_, first);
  AddToOrderedList(context_, first);
  EXPECT_EQ(context_->list_table[1], nullptr);
  for (int i = 1; i < 102; ++i)
    AddToOrderedList(context_, Nth(records_, SIG_CD_PABDEFINITION, i));
  EXPECT_EQ(context_->list_table[99], Nth(records_, SIG_CD_PABDEFINITION, 99));
  EXPECT_EQ(UnorderedList(context_, 1), first);
  EXPECT_EQ(OrderedList(context_, 1), nullptr); // bulleted
  EXPECT_EQ(OrderedList(context_, 2), Nth(records_, SIG_CD_PABDEFINITION, 1));
  EXPECT_EQ(UnorderedList(context_, 101), nullptr); // the 101st is not remembered
  EXPECT_EQ(OrderedList(context_, 102), nullptr);
  // Through the remap: 200 renders with definition 2.
  context_->pabid_from[0] = 200;
  context_->pabid_to[0] = 2;
  context_->pabid_count = 1;
  EXPECT_EQ(OrderedList(context_, 200), Nth(records_, SIG_CD_PABDEFINITION, 1));
}

/* The one look for either kind finds what the look for each kind finds:
 * numbered, bulleted, both bits, neither, a PABID remembered twice (the
 * first counts), one not remembered, and one through the remap. */
TEST_F(ListTest, EitherKindInOneLookAgreesWithEachKind) {
  Body body;
  body.Add(Definition(1, 1440, kNumbered))
      .Add(Definition(2, 1440, kBulleted))
      .Add(Definition(3, 1440, kNumbered | kBulleted))
      .Add(Definition(4, 1440, 0))
      .Add(Definition(5, 1440, kBulleted))
      .Add(Definition(5, 1440, kNumbered));
  Prepare(body);
  for (int i = 0; i < 6; ++i)
    AddToOrderedList(context_, Nth(records_, SIG_CD_PABDEFINITION, i));
  context_->pabid_from[0] = 200;
  context_->pabid_to[0] = 1;
  context_->pabid_count = 1;
  for (WORD pabid : {1, 2, 3, 4, 5, 6, 200}) {
    bool numbered = false;
    record_storage *either = RememberedListOf(context_, pabid, &numbered);
    record_storage *ordered = OrderedList(context_, pabid);
    EXPECT_EQ(either, ordered != nullptr ? ordered : UnorderedList(context_, pabid)) << pabid;
    EXPECT_EQ(either != nullptr && numbered, ordered != nullptr) << pabid;
  }
  bool numbered = true;
  EXPECT_EQ(RememberedListOf(context_, 5, &numbered), Nth(records_, SIG_CD_PABDEFINITION, 4));
  EXPECT_FALSE(numbered);
}

/* ---- the first paragraph of a cell ---- */

TEST_F(ListTest, FirstCellParagraphAddsNothingOfItsOwn) {
  const struct {
    const char *name;
    bool definitionAfter; /* a definition follows the cell, else a reference */
    WORD flags;
    WORD flags2;
    std::optional<std::array<WORD, 6>> extension;
    int expected;
  } cases[] = {{"Plain", true, 0, 0, std::nullopt, 0},
               {"DefaultMargins", true, 0, 0x0500, std::nullopt, 1},
               {"DefaultMarginsOfAList", true, kBulleted, 0x0500, std::nullopt, 0},
               {"OnlyLeftDefault", false, 0, 0x0100, std::nullopt, 0},
               {"SmallOffset", true, 0, 0x0004, std::array<WORD, 6>{20, 0, 0, 0, 0, 0}, 1},
               {"LargerOffset", false, 0, 0x0004, std::array<WORD, 6>{21, 0, 0, 0, 0, 0}, 0},
               // The offset bit without the extension: LeftMargin (1440) is used.
               {"OffsetBitWithoutExtension", true, 0, 0x0004, std::nullopt, 0}};
  for (const auto &c : cases) {
    cdbuild::PabDefFields fields;
    fields.id = 3;
    fields.flags = c.flags;
    fields.flags2 = c.flags2;
    fields.extension = c.extension;
    Body body;
    if (!c.definitionAfter)
      body.Add(cdbuild::PabDef(fields));
    body.Add(cdbuild::TableBegin()).Add(cdbuild::TableCell({.row = 0, .column = 0}));
    if (c.definitionAfter)
      body.Add(cdbuild::PabDef(fields));
    body.Add(cdbuild::PabRef(3)).Add(Text("x")).Add(cdbuild::TableEnd());
    Prepare(body);
    EXPECT_EQ(FirstTablecellParagraphUseless(context_, Nth(records_, SIG_CD_TABLECELL, 0)),
              c.expected)
        << c.name;
  }
  // Without a definition for the reference, or without a cell.
  Body body;
  body.Add(cdbuild::TableBegin()).Add(cdbuild::TableCell({.row = 0, .column = 0}));
  body.Add(cdbuild::PabRef(9)).Add(Text("x")).Add(cdbuild::TableEnd());
  Prepare(body);
  EXPECT_EQ(FirstTablecellParagraphUseless(context_, Nth(records_, SIG_CD_TABLECELL, 0)), 1);
  EXPECT_EQ(FirstTablecellParagraphUseless(context_, Nth(records_, SIG_CD_TABLEBEGIN, 0)), 0);
  EXPECT_EQ(FirstTablecellParagraphUseless(context_, nullptr), 0);
}

/* ---- nested list indentation ---- */

Bytes OffsetList(WORD id, WORD left, WORD offset, WORD flags2 = 0x0004) {
  cdbuild::PabDefFields fields;
  fields.id = id;
  fields.left = left;
  fields.flags = kBulleted;
  fields.flags2 = flags2;
  fields.extension = std::array<WORD, 6>{offset, 0, 0, 0, 0, 0};
  return cdbuild::PabDef(fields);
}

TEST_F(ListTest, NestingWritesTheIndentInline) {
  const struct {
    const char *name;
    std::vector<Bytes> lists; /* the definitions; the last reference is measured */
    const char *styleText;
    const char *opening;
    const char *expected;
    STATUS status;
  } cases[] = {{"TopLevelBeyondAQuarterInch",
                {OffsetList(2, 1440, 2160)},
                nullptr,
                "<ul style=\"",
                "<ul style=\"padding-left: 0.25in; margin-left: 0.25in; ",
                0},
               {"TopLevelAtThePageMargin",
                {OffsetList(2, 1440, 1440)},
                "",
                "<ul style=\"",
                "<ul style=\"padding-left: 0.00in; margin-left: 0.00in; ",
                0},
               {"NestedAQuarterInchDeeper",
                {OffsetList(2, 1440, 1800), OffsetList(3, 1440, 2160)},
                nullptr,
                "<ol style=\"",
                "<ol style=\"padding-left: 0.12in; margin-left: 0.12in; ",
                0},
               {"NestedATwelfth",
                {OffsetList(2, 1440, 1800), OffsetList(3, 1440, 1900)},
                nullptr,
                "<ol style=\"",
                "<ol style=\"padding-left: 0.07in; margin-left: 0.00in; ",
                0},
               {"StyleGivesBoth",
                {OffsetList(2, 1440, 2160, 0x2004)},
                "padding-left: 1in; margin-left: 0;",
                "<ul style=\"",
                "<ul style=\"",
                0},
               {"StyleGivesPadding",
                {OffsetList(2, 1440, 2160)},
                "padding-left: 1in;",
                "<ul style=\"",
                "<ul style=\"margin-left: 0.25in; ",
                0},
               {"CircleBullet",
                {OffsetList(2, 1440, 1440, 0x2004)},
                nullptr,
                "<UL style=\"",
                "<ul type=\"circle\" style=\"padding-left: 0.00in; margin-left: 0.00in; ",
                0},
               {"DiscBullet",
                {OffsetList(2, 1440, 1440, 0x0006)},
                nullptr,
                "<ul style=\"{",
                "<ul type=\"disc\" style=\"{padding-left: 0.00in; margin-left: 0.00in; ",
                0},
               // Without the offset bit the definition's LeftMargin is its indent.
               {"LeftMarginWithoutOffset",
                {OffsetList(2, 2880, 0, 0)},
                nullptr,
                "<ul style=\"",
                "<ul style=\"padding-left: 0.25in; margin-left: 0.75in; ",
                0},
               {"NoList",
                {Definition(2, 2160)},
                nullptr,
                "<ul style=\"",
                "<ul style=\"",
                VELKO_ERR_BAD_ARGUMENT}};
  for (const auto &c : cases) {
    Body body;
    WORD id = 0;
    for (const Bytes &list : c.lists) {
      std::memcpy(&id, list.data() + 4, sizeof id);
      body.Add(list).Add(cdbuild::PabRef(id)).Add(Text("x"));
    }
    Prepare(body);
    RenderPuts(context_, c.opening);
    record_storage *reference =
        Nth(records_, SIG_CD_PABREFERENCE, static_cast<int>(c.lists.size()) - 1);
    EXPECT_EQ(HandleSpecialListNesting(context_, reference, c.styleText, 0), c.status) << c.name;
    EXPECT_EQ(Held(), c.expected) << c.name;
  }
  // Without a reference, or a reference without a definition.
  Prepare(Body().Add(cdbuild::PabRef(5)).Add(Text("x")));
  EXPECT_EQ(HandleSpecialListNesting(context_, nullptr, nullptr, 0), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(HandleSpecialListNesting(context_, Nth(records_, SIG_CD_PABREFERENCE, 0), nullptr, 0),
            VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(Held(), "");
}

/* ---- text lists ---- */

TEST_F(ListTest, TextListJoined) {
  DHANDLE handle = NULLHANDLE;
  void *list = nullptr;
  WORD size = 0;
  ASSERT_EQ(ListAllocate(3, 14, FALSE, &handle, &list, &size), NOERROR);
  OSUnlockObject(handle);
  char out[16];
  STATUS status = 1;
  list = OSLockObject(handle);
  EXPECT_EQ(ExtractTextList(list, out, sizeof out, ", ", &status), 0);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(status, NOERROR);
  OSUnlockObject(handle);
  ASSERT_EQ(ListAddEntry(handle, FALSE, &size, 0, "a", 1), NOERROR);
  ASSERT_EQ(ListAddEntry(handle, FALSE, &size, 1, "b", 1), NOERROR);
  ASSERT_EQ(ListAddEntry(handle, FALSE, &size, 2, "a long entry", 12), NOERROR);
  list = OSLockObject(handle);
  char small[8];
  EXPECT_EQ(ExtractTextList(list, small, sizeof small, ", "), 7);
  EXPECT_STREQ(small, "a, b, a");
  char whole[32];
  EXPECT_EQ(ExtractTextList(list, whole, sizeof whole, ", "), 18);
  EXPECT_STREQ(whole, "a, b, a long entry");
  OSUnlockObject(handle);
  OSMemFree(handle);
}

/* ---- lists in the output ---- */

TEST_F(ListTest, KindFromTheFlags) {
  const struct {
    WORD flags;
    WORD flags2;
    const char *element;
    const char *type;
  } cases[] = {{kBulleted, 0x0800, "ul", "circle"},
               {kBulleted, 0x2000, "ul", "circle"},
               {kBulleted, 0x0002, "ul", "disc"},
               {kNumbered, 0x1002, "ol", "lower-roman"},
               {kNumbered, 0x1800, "ol", "upper-alpha"}};
  for (const auto &c : cases) {
    const Body body = ListBody({{Definition(2, 1800, c.flags, c.flags2), "Item"}}, false);
    const std::string type = c.type;
    const std::string tag = c.element;
    EXPECT_EQ(Render(body),
              Sheet("div.pabid1 {}" + tag + ".pabid2 {padding-left: 0.25in; margin-left: 0.00in; " +
                    "list-style-type: " + type + "; margin-top: 0; margin-bottom: 0; }" + tag +
                    ".pabid2 LI {} ") +
                  "Intro<" + tag + " class=\"pabid2\"><li style=\"list-style-type: " + type +
                  "; \">Item</" + tag + ">");
  }
}

TEST_F(ListTest, XhtmlItemsCloseBeforeTheNextAndANestedListInsideThem) {
  const Body body = ListBody({{Definition(2, 1800, kBulleted), "One"},
                              {Definition(3, 2160, kBulleted, 0x0800), "Sub"},
                              {Definition(2), "Two"}});
  const std::string out = Render(body, nullptr, kGenerationXHTML);
  EXPECT_EQ(out.substr(out.find("Intro")),
            "Intro<ul class=\"pabid2\">" + kDiscItem + "One<ul class=\"pabid3\">" +
                "<li style=\"list-style-type: circle; \">Sub</li></ul></li>" + kDiscItem +
                "Two</li></ul><div class=\"pabid1\">After</div>");
}

TEST_F(ListTest, ShallowerOrOtherKindClosesTheOpenList) {
  const Body body = ListBody({{Definition(2, 2160, kBulleted), "Deep"},
                              {Definition(3, 1800, kNumbered), "Shallow"},
                              {Definition(4, 1800, kBulleted), "Same indent, bullets"}},
                             false);
  const std::string out = Render(body);
  const std::string expected =
      "Intro<ul class=\"pabid2\"><li style=\"list-style-type: disc; \">Deep</ul>"
      "<ol class=\"pabid3\"><li style=\"list-style-type: decimal; \">Shallow</ol>"
      "<ul class=\"pabid4\"><li style=\"list-style-type: disc; \">Same indent, bullets</ul>";
  EXPECT_EQ(out.substr(out.find("Intro")), expected);
}

TEST_F(ListTest, SimpleTagsListsCarryTypes) {
  const Body body = ListBody({{Definition(2, 1800, kNumbered, 0x1802), "a item"},
                              {Definition(3, 1800, kBulleted), "bullet"}});
  const std::string out = Render(body, "StandardFontTags=Yes");
  EXPECT_EQ(out.substr(out.find("Intro")),
            "Intro<ol type=\"a\"><li type=\"a\">a item</ol><ul><li>bullet</ul><br>After");
}

TEST_F(ListTest, ItemDeclarationsFromSpacingAndTheFirstRun) {
  cdbuild::PabDefFields fields;
  fields.id = 2;
  fields.left = 1800;
  fields.flags = kBulleted;
  fields.line_spacing = 2;
  fields.spacing_before = 1;
  fields.spacing_after = 2;
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Intro");
  body.Add(cdbuild::Paragraph()).Add(cdbuild::PabDef(fields)).Add(cdbuild::PabRef(2));
  body.Add(Text(std::string("Item"), Font{4, 0x04, 2, 12}));
  const std::string out = Render(body);
  EXPECT_NE(out.find("ul.pabid2 LI {line-height: 2em; margin-top: 0.5em; margin-bottom: 1em; } "),
            std::string::npos)
      << out;
  EXPECT_EQ(out.substr(out.find("<li")),
            "<li style=\"list-style-type: disc; line-height: 2em; margin-top: 0.5em; "
            "margin-bottom: 1em; font-size: 12pt; color: rgb(255,0,0); text-decoration: underline; "
            "font-family: monospace; \"><span style=\"font-size: 12pt; color: rgb(255,0,0); "
            "text-decoration: underline; font-family: monospace; \">Item</span></ul>");
}

TEST_F(ListTest, ListParagraphBeforeATableHasNoItem) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Intro");
  body.Add(cdbuild::Paragraph()).Add(Definition(2, 1800, kBulleted)).Add(cdbuild::PabRef(2));
  body.Add(cdbuild::TableBegin()).Add(Text("cell")).Add(cdbuild::TableEnd());
  const std::string out = Render(body, nullptr, kGenerationXHTML);
  EXPECT_EQ(out.substr(out.find("Intro")),
            "Intro<ul class=\"pabid2\"><table border='1'>cell</table></ul>");
}

} // namespace
