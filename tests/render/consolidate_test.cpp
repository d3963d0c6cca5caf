// Paragraph consolidation: nothing to pair without the item's records,
// and which definitions render alike and are paired (spacing, list kind
// and style, margins, tabs, hiding, the extension's offsets and
// percentages).
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "tests/render/render_fixture.h"

namespace {

using cdbuild::Body;
using cdbuild::Bytes;
using cdbuild::PabDefFields;
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

TEST_F(ConsolidateTest, EmptyRemapAndNoInput) {
  Prepare(Body().Add(Text("x")));
  EXPECT_EQ(ConvertPABIDToMapping(context_, 42), 42);
  // The item's records are not loaded: nothing to pair.
  EXPECT_EQ(ConsolidateParagraphForXML(nullptr, context_), NOERROR);
  EXPECT_EQ(context_->pabid_count, 0);
  EXPECT_EQ(ConsolidateParagraphForXML(nullptr, nullptr), VELKO_ERR_BAD_ARGUMENT);
}

TEST_F(ConsolidateTest, NoDefinitionPast256IsLookedAtAndNoPairPast256IsMade) {
  // Alike all: the first definition pairs with the next 255, the second
  // with the third makes the 256th pair, and the 257th is never read.
  std::vector<Bytes> definitions;
  for (WORD id = 1; id <= 257; ++id)
    definitions.push_back(cdbuild::PabDef(Fields(id)));
  const Pairs pairs = Consolidate(definitions);
  ASSERT_EQ(pairs.size(), 256u);
  EXPECT_EQ(pairs[254], (std::pair<WORD, WORD>{256, 1}));
  EXPECT_EQ(pairs[255], (std::pair<WORD, WORD>{3, 2}));
  EXPECT_EQ(ConvertPABIDToMapping(context_, 257), 257);
  EXPECT_EQ(ConvertPABIDToMapping(context_, 3), 1); // the first pair found
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

/* A definition whose extension words are given, with the Flags2 bits
 * that say which of them count. */
PabDefFields Extended(WORD id, WORD flags2, std::array<WORD, 6> extension) {
  PabDefFields fields = Fields(id);
  fields.flags2 = flags2;
  fields.extension = extension;
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
                  Extended(2, 0x0004, {720, 0, 0, 0, 0, 0}),
                  Extended(1, 0x0004, {1000, 0, 0, 0, 0, 0}),
                  "", true},
        AlikeCase{"OffsetBeyondThePageMargin",
                  Extended(2, 0x0004, {720, 0, 0, 0, 0, 0}),
                  Extended(1, 0x0004, {2000, 0, 0, 0, 0, 0}),
                  "", false},
        AlikeCase{"FirstOffsetsAtTheMargin",
                  Extended(2, 0x0010, {0, 0, 1440, 0, 0, 0}),
                  Extended(1, 0x0010, {0, 0, 0, 0, 0, 0}),
                  "", true},
        AlikeCase{"WholeRightPercents",
                  Extended(2, 0x0080, {0, 0, 0, 0, 0, 100}),
                  Extended(1, 0x0080, {0, 0, 0, 0, 0, 0}),
                  "", true},
        AlikeCase{"PartRightPercents",
                  Extended(2, 0x0080, {0, 0, 0, 0, 0, 50}),
                  Extended(1, 0x0080, {0, 0, 0, 0, 0, 100}),
                  "", false},
        AlikeCase{"LeftPercents",
                  Extended(2, 0x0008, {0, 10, 0, 0, 0, 0}),
                  Extended(1, 0x0008, {0, 20, 0, 0, 0, 0}),
                  "", false}),
    [](const ::testing::TestParamInfo<AlikeCase> &info) { return info.param.name; });

} // namespace
