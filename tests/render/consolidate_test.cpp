// Paragraph consolidation: which definitions render alike and are paired,
// the order and the limits of the pairs, the remap every lookup goes
// through, and the classes of a consolidated document.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "driver_fixture.h"
#include "store/rtitem_internal.h"

namespace {

using cdbuild::Body;
using cdbuild::Bytes;
using cdbuild::PabDefFields;
using driver_testing::AddFirstParagraph;
using driver_testing::AddParagraph;
using driver_testing::Definition;
using driver_testing::kClosing;
using driver_testing::kHead;
using driver_testing::kHtmlStart;
using driver_testing::Sheet;
using driver_testing::Text;
using Pairs = std::vector<std::pair<WORD, WORD>>;

class ConsolidateTest : public driver_testing::DriverTest {
protected:
  /* The pairs made from the definitions of the note's item. */
  Pairs Consolidate(const std::vector<Bytes> &definitions, const char *options = nullptr) {
    Body body;
    for (const Bytes &definition : definitions)
      body.Add(definition);
    body.Add(Text("x"));
    Prepare(body, options);
    EXPECT_EQ(chunk_->Exists(), 1); // the item's records are loaded
    EXPECT_EQ(ConsolidateParagraphForXML(nullptr, context_), NOERROR);
    Pairs pairs;
    for (WORD i = 0; i < context_->pabid_count; ++i)
      pairs.emplace_back(context_->pabid_from[i], context_->pabid_to[i]);
    return pairs;
  }
};

PabDefFields Fields(WORD id) {
  PabDefFields fields;
  fields.id = id;
  return fields;
}

TEST_F(ConsolidateTest, DefinitionsDifferingOnlyInTheirIdArePairedWithEveryEarlierOne) {
  EXPECT_EQ(Consolidate({Definition(1), Definition(2), Definition(3)}),
            (Pairs{{2, 1}, {3, 1}, {3, 2}}));
  EXPECT_EQ(ConvertPABIDToMapping(context_, 2), 1);
  EXPECT_EQ(ConvertPABIDToMapping(context_, 3), 1);
  EXPECT_EQ(ConvertPABIDToMapping(context_, 1), 1);
  // Each call starts afresh.
  EXPECT_EQ(Consolidate({Definition(1), Definition(2, 1440, 0, 0, 3)}), Pairs{});
  EXPECT_EQ(ConvertPABIDToMapping(context_, 2), 2);
}

struct AlikeCase {
  const char *name;
  PabDefFields a; /* the later definition */
  PabDefFields b; /* the earlier one */
  const char *options;
  bool paired;
};

PabDefFields With(WORD id, void (*change)(PabDefFields &)) {
  PabDefFields fields = Fields(id);
  change(fields);
  return fields;
}

class RenderAlikeTest : public ConsolidateTest, public ::testing::WithParamInterface<AlikeCase> {};

TEST_P(RenderAlikeTest, PairedWhenTheyRenderAlike) {
  const AlikeCase &c = GetParam();
  const Pairs pairs = Consolidate({cdbuild::PabDef(c.b), cdbuild::PabDef(c.a)}, c.options);
  EXPECT_EQ(pairs, (c.paired ? Pairs{{2, 1}} : Pairs{}));
}

INSTANTIATE_TEST_SUITE_P(
    Rules, RenderAlikeTest,
    ::testing::Values(
        AlikeCase{"Justify", With(2, [](PabDefFields &f) { f.justify = 3; }), Fields(1), "", false},
        AlikeCase{"SpacingOfParagraphs", With(2, [](PabDefFields &f) { f.line_spacing = 2; }),
                  Fields(1), "", false},
        AlikeCase{"SpacingOfLists",
                  With(2,
                       [](PabDefFields &f) {
                         f.flags = 0x0400;
                         f.line_spacing = 2;
                       }),
                  With(1, [](PabDefFields &f) { f.flags = 0x0400; }), "", true},
        AlikeCase{"ListKind", With(2, [](PabDefFields &f) { f.flags = 0x1000; }),
                  With(1, [](PabDefFields &f) { f.flags = 0x0400; }), "", false},
        AlikeCase{"ListStyle", With(2, [](PabDefFields &f) { f.flags2 = 0x0800; }), Fields(1), "",
                  false},
        // Margins in twips always count: the style rule carries them.
        AlikeCase{"LeftMargin", With(2, [](PabDefFields &f) { f.left = 2160; }), Fields(1), "",
                  false},
        AlikeCase{"FirstLineMargin", With(2, [](PabDefFields &f) { f.first_line = 2000; }),
                  Fields(1), "", false},
        AlikeCase{"Tabs",
                  With(2,
                       [](PabDefFields &f) {
                         f.tabs = {720, 1440};
                       }),
                  Fields(1), "", true},
        AlikeCase{"HidingWithoutTheOption", With(2, [](PabDefFields &f) { f.flags = 0x0010; }),
                  Fields(1), "", true},
        AlikeCase{"HidingWithTheOption", With(2, [](PabDefFields &f) { f.flags = 0x0010; }),
                  Fields(1), "RespectHiddenFormulas=Yes", false},
        AlikeCase{"HideWhenFormulas", With(2, [](PabDefFields &f) { f.flags = 0x0800; }),
                  With(1, [](PabDefFields &f) { f.flags = 0x0800; }), "RespectHiddenFormulas=Yes",
                  false},
        AlikeCase{"LengthDiffers",
                  With(2, [](PabDefFields &f) { f.extension = std::array<WORD, 6>{}; }), Fields(1),
                  "", false},
        AlikeCase{"OffsetsInsideThePageMargin",
                  With(2,
                       [](PabDefFields &f) {
                         f.flags2 = 0x0004;
                         f.extension = std::array<WORD, 6>{720, 0, 0, 0, 0, 0};
                       }),
                  With(1,
                       [](PabDefFields &f) {
                         f.flags2 = 0x0004;
                         f.extension = std::array<WORD, 6>{1000, 0, 0, 0, 0, 0};
                       }),
                  "", true},
        AlikeCase{"OffsetBeyondThePageMargin",
                  With(2,
                       [](PabDefFields &f) {
                         f.flags2 = 0x0004;
                         f.extension = std::array<WORD, 6>{720, 0, 0, 0, 0, 0};
                       }),
                  With(1,
                       [](PabDefFields &f) {
                         f.flags2 = 0x0004;
                         f.extension = std::array<WORD, 6>{2000, 0, 0, 0, 0, 0};
                       }),
                  "", false},
        AlikeCase{"FirstOffsetsAtTheMargin",
                  With(2,
                       [](PabDefFields &f) {
                         f.flags2 = 0x0010;
                         f.extension = std::array<WORD, 6>{0, 0, 1440, 0, 0, 0};
                       }),
                  With(1,
                       [](PabDefFields &f) {
                         f.flags2 = 0x0010;
                         f.extension = std::array<WORD, 6>{0, 0, 0, 0, 0, 0};
                       }),
                  "", true},
        AlikeCase{"WholeRightPercents",
                  With(2,
                       [](PabDefFields &f) {
                         f.flags2 = 0x0080;
                         f.extension = std::array<WORD, 6>{0, 0, 0, 0, 0, 100};
                       }),
                  With(1,
                       [](PabDefFields &f) {
                         f.flags2 = 0x0080;
                         f.extension = std::array<WORD, 6>{0, 0, 0, 0, 0, 0};
                       }),
                  "", true},
        AlikeCase{"PartRightPercents",
                  With(2,
                       [](PabDefFields &f) {
                         f.flags2 = 0x0080;
                         f.extension = std::array<WORD, 6>{0, 0, 0, 0, 0, 50};
                       }),
                  With(1,
                       [](PabDefFields &f) {
                         f.flags2 = 0x0080;
                         f.extension = std::array<WORD, 6>{0, 0, 0, 0, 0, 100};
                       }),
                  "", false},
        AlikeCase{"LeftPercents",
                  With(2,
                       [](PabDefFields &f) {
                         f.flags2 = 0x0008;
                         f.extension = std::array<WORD, 6>{0, 10, 0, 0, 0, 0};
                       }),
                  With(1,
                       [](PabDefFields &f) {
                         f.flags2 = 0x0008;
                         f.extension = std::array<WORD, 6>{0, 20, 0, 0, 0, 0};
                       }),
                  "", false}),
    [](const ::testing::TestParamInfo<AlikeCase> &info) { return info.param.name; });

TEST_F(ConsolidateTest, AtMost256DefinitionsAnd256Pairs) {
  std::vector<Bytes> definitions;
  for (WORD id = 1; id <= 257; ++id)
    definitions.push_back(Definition(id));
  const Pairs pairs = Consolidate(definitions);
  ASSERT_EQ(pairs.size(), 256u);
  EXPECT_EQ(pairs[0], (std::pair<WORD, WORD>{2, 1}));
  EXPECT_EQ(pairs[254], (std::pair<WORD, WORD>{256, 1}));
  EXPECT_EQ(pairs[255], (std::pair<WORD, WORD>{3, 2}));
  EXPECT_EQ(ConvertPABIDToMapping(context_, 257), 257); // never looked at
}

TEST_F(ConsolidateTest, EmptyRemapAndNoInput) {
  Prepare(Body().Add(Text("x")));
  EXPECT_EQ(ConvertPABIDToMapping(context_, 42), 42);
  // The item's records are not loaded: nothing to pair.
  EXPECT_EQ(ConsolidateParagraphForXML(nullptr, context_), NOERROR);
  EXPECT_EQ(context_->pabid_count, 0);
  EXPECT_EQ(ConsolidateParagraphForXML(nullptr, nullptr), VELKO_ERR_BAD_ARGUMENT);
}

TEST_F(ConsolidateTest, ConsolidatedDocumentUsesTheMappedClasses) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "One");
  body.Add(cdbuild::Paragraph()).Add(Definition(2, 2160, 0, 0, 1)).Add(cdbuild::PabRef(2));
  body.Add(Text("Two"));
  body.Add(cdbuild::Paragraph()).Add(Definition(3, 2160, 0, 0, 1)).Add(cdbuild::PabRef(3));
  body.Add(Text("Three"));
  body.Add(cdbuild::Paragraph()).Add(Definition(4)).Add(cdbuild::PabRef(4));
  body.Add(Text("Four"));
  Load(body);
  EXPECT_EQ(Generate("HTML", "ConsolidatePABIDS=Yes"),
            kHtmlStart + kHead + Sheet("div.pabid1 {}div.pabid2 {margin-left: 0.50in; }") +
                "One<div align='right' class=\"pabid2\">Two</div>"
                "<div align='right' class=\"pabid2\">Three</div><div class=\"pabid1\">Four</div>" +
                kClosing);
  EXPECT_EQ(Generate("HTML"),
            kHtmlStart + kHead +
                Sheet("div.pabid1 {}div.pabid2 {margin-left: 0.50in; }"
                      "div.pabid3 {margin-left: 0.50in; }div.pabid4 {}") +
                "One<div align='right' class=\"pabid2\">Two</div>"
                "<div align='right' class=\"pabid3\">Three</div><div class=\"pabid4\">Four</div>" +
                kClosing);
}

TEST_F(ConsolidateTest, ConsolidatedListsShareTheirLevel) {
  Body body;
  AddFirstParagraph(body, Definition(1), 1, "Intro");
  body.Add(cdbuild::Paragraph()).Add(Definition(2, 1800, 0x0400)).Add(cdbuild::PabRef(2));
  body.Add(Text("One"));
  body.Add(cdbuild::Paragraph()).Add(Definition(3, 1800, 0x0400)).Add(cdbuild::PabRef(3));
  body.Add(Text("Two"));
  Load(body);
  const std::string out = Generate("HTML", "ConsolidatePABIDS=Yes Generation=Fragment");
  EXPECT_EQ(out, "Intro<ul style=\"padding-left: 0.25in; margin-left: 0.00in; "
                 "list-style-type: disc; margin-top: 0; margin-bottom: 0; \">"
                 "<li style=\"list-style-type: disc; \">One"
                 "<li style=\"list-style-type: disc; \">Two</ul>");
}

} // namespace
