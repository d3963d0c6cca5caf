// Paragraph consolidation: which definitions render alike and are paired,
// the order and the limits of the pairs, the remap every lookup goes
// through, and consolidated lists (the classes of a consolidated document
// are in the golden corpus).
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
using driver_testing::Definition;
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

TEST_F(ConsolidateTest, PairedWhenTheyRenderAlike) {
  using Extension = std::array<WORD, 6>;
  const struct {
    const char *name;
    PabDefFields earlier;
    PabDefFields later;
    const char *options;
    bool paired;
  } cases[] = {{"SpacingOfLists",
                {.id = 1, .flags = 0x0400},
                {.id = 2, .line_spacing = 2, .flags = 0x0400},
                "",
                true},
               {"ListKind", {.id = 1, .flags = 0x0400}, {.id = 2, .flags = 0x1000}, "", false},
               {"ListStyle", {.id = 1}, {.id = 2, .flags2 = 0x0800}, "", false},
               // Margins in twips always count: the style rule carries them.
               {"LeftMargin", {.id = 1}, {.id = 2, .left = 2160}, "", false},
               {"FirstLineMargin", {.id = 1}, {.id = 2, .first_line = 2000}, "", false},
               {"Tabs", {.id = 1}, {.id = 2, .tabs = {720, 1440}}, "", true},
               {"HidingWithoutTheOption", {.id = 1}, {.id = 2, .flags = 0x0010}, "", true},
               {"HidingWithTheOption",
                {.id = 1},
                {.id = 2, .flags = 0x0010},
                "RespectHiddenFormulas=Yes",
                false},
               {"HideWhenFormulas",
                {.id = 1, .flags = 0x0800},
                {.id = 2, .flags = 0x0800},
                "RespectHiddenFormulas=Yes",
                false},
               {"LengthDiffers", {.id = 1}, {.id = 2, .extension = Extension{}}, "", false},
               {"OffsetsInsideThePageMargin",
                {.id = 1, .flags2 = 0x0004, .extension = Extension{1000, 0, 0, 0, 0, 0}},
                {.id = 2, .flags2 = 0x0004, .extension = Extension{720, 0, 0, 0, 0, 0}},
                "",
                true},
               {"OffsetBeyondThePageMargin",
                {.id = 1, .flags2 = 0x0004, .extension = Extension{2000, 0, 0, 0, 0, 0}},
                {.id = 2, .flags2 = 0x0004, .extension = Extension{720, 0, 0, 0, 0, 0}},
                "",
                false},
               {"FirstOffsetsAtTheMargin",
                {.id = 1, .flags2 = 0x0010, .extension = Extension{}},
                {.id = 2, .flags2 = 0x0010, .extension = Extension{0, 0, 1440, 0, 0, 0}},
                "",
                true},
               {"WholeRightPercents",
                {.id = 1, .flags2 = 0x0080, .extension = Extension{}},
                {.id = 2, .flags2 = 0x0080, .extension = Extension{0, 0, 0, 0, 0, 100}},
                "",
                true},
               {"PartRightPercents",
                {.id = 1, .flags2 = 0x0080, .extension = Extension{0, 0, 0, 0, 0, 100}},
                {.id = 2, .flags2 = 0x0080, .extension = Extension{0, 0, 0, 0, 0, 50}},
                "",
                false},
               {"LeftPercents",
                {.id = 1, .flags2 = 0x0008, .extension = Extension{0, 20, 0, 0, 0, 0}},
                {.id = 2, .flags2 = 0x0008, .extension = Extension{0, 10, 0, 0, 0, 0}},
                "",
                false}};
  for (const auto &c : cases) {
    const Pairs pairs =
        Consolidate({cdbuild::PabDef(c.earlier), cdbuild::PabDef(c.later)}, c.options);
    EXPECT_EQ(pairs, (c.paired ? Pairs{{2, 1}} : Pairs{})) << c.name;
  }
}

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
