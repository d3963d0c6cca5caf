// Paragraph rendering beyond what the golden corpus renders: a zero left
// margin left out of an inline style, paragraphs hidden by the flags of
// their definition or kept when their hide-when formula cannot be
// evaluated, and paragraph style mappings (the item's first mapping that a
// paragraph meets replaces its markup with the mapping's texts; mappings
// for runs only, or whose criteria the paragraph does not meet, are passed
// over; a group text surrounds mapped list paragraphs).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>
#include <functional>
#include <string>

#include "chunk/paragraph_style.h"
#include "store/rtitem_internal.h"
#include "tests/render/render_fixture.h"

namespace {

using cdbuild::Body;
using driver_testing::AddFirstParagraph;
using driver_testing::AddParagraph;
using driver_testing::Definition;
using driver_testing::Sheet;
using driver_testing::Text;
using cdbuild::Bytes;

using ParagraphTest = driver_testing::DriverTest;

/* ---- reading definitions ---- */

/* A CDPABDEFINITION stored in `length` bytes, laid out by hand: every
 * field read holds a value of its own; the six margin words are stored
 * from byte 70, where the loaded record (its fixed part made whole, two
 * bytes longer) holds them from byte 72. */
Bytes DefinitionRecord(size_t length) {
  Bytes payload(length - 4);
  const auto put = [&payload](size_t at, WORD value) {
    if (at + 2 <= payload.size() + 4) {
      payload[at - 4] = static_cast<BYTE>(value & 0xFF);
      payload[at - 3] = static_cast<BYTE>(value >> 8);
    }
  };
  const std::pair<size_t, WORD> words[] = {
      {4, 7},     {6, 3},       {8, 2},       {10, 1},  {12, 4},  {14, 1800},
      {16, 9000}, {18, 2160},   {62, 0x0400}, {68, 0x0021}, {70, 11}, {72, 12},
      {74, 13},   {76, 14},     {78, 15},     {80, 16}};
  for (const auto &[at, value] : words)
    put(at, value);
  return cdbuild::Raw(SIG_CD_PABDEFINITION, payload);
}

/* The whole reading and the PABID-only reading agree on which records
 * are definitions, and the whole one reads each field from its place:
 * the margin words only when all six are there. */
TEST_F(ParagraphTest, DefinitionsAreReadFieldByFieldAndThePabidAloneAgrees) {
  const struct {
    size_t stored;
    bool extension;
  } cases[] = {{82, true}, {80, false}, {70, false}};
  Body body;
  for (const auto &c : cases)
    body.Add(DefinitionRecord(c.stored));
  AddParagraph(body, 7, "x");
  Prepare(body);
  const record_storage *node = records_->records;
  for (const auto &c : cases) {
    while (node != nullptr && node->signature != SIG_CD_PABDEFINITION)
      node = node->next;
    ASSERT_NE(node, nullptr);
    paragraph_definition definition;
    WORD pabid = 0;
    ASSERT_TRUE(ReadParagraphDefinition(node, &definition)) << c.stored;
    ASSERT_TRUE(ReadDefinitionPabid(node, &pabid)) << c.stored;
    EXPECT_EQ(pabid, 7);
    EXPECT_EQ(definition.node, node);
    EXPECT_EQ(definition.header_length, c.stored + 2);
    const WORD fields[] = {definition.pabid,         definition.justify,
                           definition.line_spacing,  definition.spacing_before,
                           definition.spacing_after, definition.left,
                           definition.right,         definition.first_line,
                           definition.flags,         definition.flags2};
    const WORD expected[] = {7, 3, 2, 1, 4, 1800, 9000, 2160, 0x0400, 0x0021};
    EXPECT_TRUE(std::equal(std::begin(fields), std::end(fields), std::begin(expected)))
        << c.stored;
    EXPECT_EQ(definition.has_extension, c.extension) << c.stored;
    const WORD margins[] = {definition.left_offset,  definition.left_percent,
                            definition.first_offset, definition.first_percent,
                            definition.right_offset, definition.right_percent};
    const WORD none[6] = {};
    const WORD given[] = {11, 12, 13, 14, 15, 16};
    EXPECT_TRUE(std::equal(std::begin(margins), std::end(margins),
                           c.extension ? std::begin(given) : std::begin(none)))
        << c.stored;
    node = node->next;
  }
  // Neither reads a record that is no definition.
  paragraph_definition definition;
  WORD pabid = 0;
  for (const record_storage *other : {static_cast<const record_storage *>(nullptr), node}) {
    EXPECT_FALSE(ReadParagraphDefinition(other, &definition));
    EXPECT_FALSE(ReadDefinitionPabid(other, &pabid));
  }
}

/* ---- inline styles ---- */

struct ZeroMarginCase {
  const char *style;
  const char *expected;
};

class ZeroMarginTest : public ParagraphTest,
                       public ::testing::WithParamInterface<ZeroMarginCase> {};

TEST_P(ZeroMarginTest, ZeroLeftMarginIsLeftOutInline) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  AddParagraph(body, 2, "x");
  Prepare(body, "Generation=Fragment");
  // The paragraph style list as a head pass would have left it.
  context_->paragraph_styles = static_cast<render_paragraph_style *>(
      VelkoAllocatePtr(session_.get(), VELKO_HERE, sizeof(render_paragraph_style) * 2, 1));
  context_->paragraph_styles[0] = {1, VelkoAllocatePtrAndCopy(session_.get(), VELKO_HERE, "", 0)};
  context_->paragraph_styles[1] = {
      2, VelkoAllocatePtrAndCopy(session_.get(), VELKO_HERE, GetParam().style, 0)};
  context_->paragraph_style_count = 2;
  record_storage *reference = records_->records;
  int references = 0;
  while (reference != nullptr && (reference->signature != SIG_CD_PABREFERENCE || ++references < 2))
    reference = reference->next;
  ASSERT_NE(reference, nullptr);
  context_->current_record = reference;
  EXPECT_EQ(ProcessXMLParagraph(context_), NOERROR);
  EXPECT_EQ(Held(), GetParam().expected);
  EXPECT_EQ(context_->current_record, reference->next);
  FreeChunkStyleLists(context_);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, ZeroMarginTest,
    ::testing::Values(ZeroMarginCase{"color: red; margin-left: 0.00in; line-height: 2; ",
                                     "<div style=\"color: red; line-height: 2; \">"},
                      ZeroMarginCase{"MARGIN-LEFT: 0.00IN; color: red; ",
                                     "<div style=\"color: red; \">"},
                      ZeroMarginCase{" margin-left: 0.00in; ", "<div>"}));

/* ---- hidden paragraphs ---- */

struct HideCase {
  const char *name;
  const char *options;
  WORD flags;
  WORD flags2;
};

class HiddenParagraphTest : public ParagraphTest, public ::testing::WithParamInterface<HideCase> {};

TEST_P(HiddenParagraphTest, HiddenByTheFlagsOfItsDefinition) {
  const HideCase &c = GetParam();
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Shown");
  body.Add(cdbuild::Paragraph()).Add(Definition(2, 1440, c.flags, c.flags2));
  body.Add(cdbuild::PabRef(2)).Add(Text("Secret")).Add(cdbuild::Color({}));
  body.Add(cdbuild::Begin(SIG_CD_TEXT)).Add(Text("more")).Add(cdbuild::End(SIG_CD_TEXT));
  AddParagraph(body, 1, "Also shown");
  // The hidden paragraph's runs, its colour record and its text bracket
  // all go with it.
  EXPECT_EQ(Render(body, c.options),
            Sheet("div.pabid1 {}div.pabid2 {}") + "Shown<div class=\"pabid1\">Also shown</div>");
}

INSTANTIATE_TEST_SUITE_P(
    Flags, HiddenParagraphTest,
    ::testing::Values(
        HideCase{"Read", "RespectHiddenFormulas=Yes", 0x0010, 0},
        HideCase{"PrintInPreview", "RespectHiddenFormulas=Yes PreviewMode=Yes", 0x0040, 0},
        HideCase{"Notes", "RespectHiddenFormulas=Yes", 0x8000, 0},
        HideCase{"Web", "RespectHiddenFormulas=Yes WebMode=Yes", 0, 0x0001}),
    [](const ::testing::TestParamInfo<HideCase> &info) { return info.param.name; });

TEST_F(ParagraphTest, HideWhenFormulaThatCannotBeEvaluatedHidesNothing) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Shown");
  Bytes hide = cdbuild::Raw(SIG_CD_PABHIDE, Bytes(10 + 6, 0x01));
  cdbuild::PutWord(hide, 4, 2);
  body.Add(cdbuild::Paragraph()).Add(Definition(2, 1440, 0x0800)).Add(hide);
  body.Add(cdbuild::PabRef(2)).Add(Text("Kept"));
  EXPECT_EQ(Render(body, "RespectHiddenFormulas=Yes"),
            Sheet("div.pabid1 {}div.pabid2 {}") + "Shown<div class=\"pabid2\">Kept</div>");
}

/* ---- style mappings ---- */

TEST_F(ParagraphTest, ParagraphStyleMappingByNameReplacesTheMarkup) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  body.Add(cdbuild::Paragraph()).Add(Definition(2)).Add(driver_testing::StyleName(2, "Quote"));
  body.Add(cdbuild::PabRef(2)).Add(Text("Quoted"));
  AddParagraph(body, 1, "After");
  Prepare(body);
  style_mapping *skipped = new style_mapping();
  skipped->flags = STYLE_MAPPING_BY_NAME | STYLE_MAPPING_MAPPED; // applies to runs only
  std::strcpy(skipped->style_name, "Quote");
  style_mapping *byCriteria = new style_mapping();
  byCriteria->flags = STYLE_MAPPING_BY_PARAGRAPH; // centred paragraphs only
  byCriteria->criteria[kCritJustify] = 1;
  byCriteria->criteria_definition.Definition.JustifyMode = 3;
  style_mapping *byName = new style_mapping();
  byName->flags = STYLE_MAPPING_BY_NAME;
  std::strcpy(byName->style_name, "Quote");
  byName->opening = "<blockquote>";
  byName->closing = "</blockquote>";
  skipped->next = byCriteria;
  byCriteria->next = byName;
  item_->internal->style_mappings[0] = skipped;
  EXPECT_EQ(Drive(), Sheet("div.pabid1 {}div.pabid2 {}") +
                         "Start<blockquote>Quoted</blockquote><div class=\"pabid1\">After</div>");
  EXPECT_EQ(context_->paragraph_mapping, nullptr);
  item_->ClearStyleMappings(0);
}

/* The body of a rendering: what follows the body tag. */
std::string BodyOf(const std::string &html) {
  const size_t at = html.find(driver_testing::kBody);
  return at == std::string::npos ? html : html.substr(at + driver_testing::kBody.size());
}

struct MappingCase {
  const char *name;
  std::function<void(style_mapping &)> set;
  const char *body;
};

/* Paragraphs: "Start" (definition 1), "One" and "Two" (definition 2, a
 * numbered list indented 2in), "After" (definition 1). */
class ParagraphMappingTest : public ParagraphTest,
                             public ::testing::WithParamInterface<MappingCase> {};

TEST_P(ParagraphMappingTest, MappedParagraphsGetTheMappingsTexts) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  body.Add(cdbuild::Paragraph()).Add(Definition(2, 2880, 0x1000)).Add(cdbuild::PabRef(2));
  body.Add(Text("One"));
  AddParagraph(body, 2, "Two");
  AddParagraph(body, 1, "After");
  Prepare(body);
  auto *mapping = new style_mapping();
  mapping->flags = STYLE_MAPPING_BY_PARAGRAPH;
  GetParam().set(*mapping);
  item_->internal->style_mappings[0] = mapping;
  EXPECT_EQ(BodyOf(Drive()), GetParam().body);
  EXPECT_EQ(Stack(), std::vector<std::string>{});
  item_->ClearStyleMappings(0);
}

INSTANTIATE_TEST_SUITE_P(
    Criteria, ParagraphMappingTest,
    ::testing::Values(
        MappingCase{"NumberedListsInAGroup",
                    [](style_mapping &m) {
                      m.criteria[kCritListSet] = 1;
                      m.criteria_list_set = kListNumbered;
                      m.group_opening = "<ol class=\"m\">";
                      m.group_closing = "</ol>";
                      m.opening = "<li>";
                      m.closing = "</li>";
                    },
                    "Start<ol class=\"m\"><li>One</li><li>Two</li></ol>"
                    "<div class=\"pabid1\">After</div>"},
        MappingCase{"LeftMarginWithoutGroup",
                    [](style_mapping &m) {
                      m.criteria[kCritLeftMargin] = 1;
                      m.criteria_definition.Definition.LeftMargin = 2880;
                      m.opening = "<p class=\"wide\">";
                      m.closing = "</p>";
                    },
                    "Start<p class=\"wide\">One</p><p class=\"wide\">Two</p>"
                    "<div class=\"pabid1\">After</div>"},
        MappingCase{"NotAListMapsTheOthers",
                    [](style_mapping &m) {
                      m.criteria[kCritListClear] = 1;
                      m.criteria_list_clear = kListAny;
                      m.opening = "<p>";
                      m.closing = "</p>";
                    },
                    // A mapped paragraph writes nothing else, so the list
                    // stays open around it.
                    "<p>Start</p><ol class=\"pabid2\"><li style=\"list-style-type: decimal; \">One"
                    "<li style=\"list-style-type: decimal; \">Two<p>After</p></ol>"}),
    [](const ::testing::TestParamInfo<MappingCase> &info) { return info.param.name; });

/* A hidden paragraph is no paragraph the next one follows: the group of
 * mapped list paragraphs ends before "After" though a hidden paragraph
 * (no list) lies between, and continues over a hidden one inside it. */
TEST_F(ParagraphTest, HiddenParagraphsLeaveTheMappingGroupAsTheyFindIt) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Start");
  body.Add(cdbuild::Paragraph()).Add(Definition(2, 2880, 0x1000)).Add(cdbuild::PabRef(2));
  body.Add(Text("One"));
  body.Add(cdbuild::Paragraph()).Add(Definition(3, 1440, 0x0010)).Add(cdbuild::PabRef(3));
  body.Add(Text("Hidden inside"));
  AddParagraph(body, 2, "Two");
  body.Add(cdbuild::Paragraph()).Add(Definition(4, 2880, 0x1010)).Add(cdbuild::PabRef(4));
  body.Add(Text("Hidden item"));
  AddParagraph(body, 3, "Hidden after");
  AddParagraph(body, 1, "After");
  Prepare(body, "RespectHiddenFormulas=Yes");
  auto *mapping = new style_mapping();
  mapping->flags = STYLE_MAPPING_BY_PARAGRAPH;
  mapping->criteria[kCritListSet] = 1;
  mapping->criteria_list_set = kListNumbered;
  mapping->group_opening = "<ol class=\"m\">";
  mapping->group_closing = "</ol>";
  mapping->opening = "<li>";
  mapping->closing = "</li>";
  item_->internal->style_mappings[0] = mapping;
  EXPECT_EQ(BodyOf(Drive()), "Start<ol class=\"m\"><li>One</li><li>Two</li></ol>"
                             "<div class=\"pabid1\">After</div>");
  EXPECT_EQ(Stack(), std::vector<std::string>{});
  item_->ClearStyleMappings(0);
}

} // namespace
