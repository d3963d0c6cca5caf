/*
 * Tests of the shared vocabulary: target type lookups, the hotspot
 * signatures, target property names, the name-ordered table search, the
 * chunk property lookup and the writes flags of the action codes. The
 * tables themselves are checked for the order the lookups rely on, not
 * restated row by row.
 */
#include <stdio.h>
#include <strings.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "store/vocabulary.h"

namespace {

/* ---- target types ---- */

TEST(LookupTargetType, MatchesTheFirstNameThatIsAPrefixIgnoringCase) {
  struct Case {
    const char* text;
    WORD id;
  };
  const Case cases[] = {
      {"rows", 5},          {"Paragraphs", 21}, {"ParagraphList", 21}, {"GraphicHotspot", 15},
      {"xyz", 0},           {"Everything", 0},  {"", 0},               {"TABLE", 1},
      {"tabl", 0},          {"hr", 27},         {"DelimitedHTML", 37}, {"text and more", 9},
  };
  for (const Case& c : cases)
    EXPECT_EQ(LookupTargetType(c.text), c.id) << c.text;
  EXPECT_EQ(LookupTargetType(nullptr), 0);
  // Every name is found, but for two shadowed by an earlier prefix.
  for (WORD id = 1; id < kTargetTypeCount; ++id) {
    WORD expected = id;
    if (id == TARGETTYPE_PARAGRAPHLIST || id == TARGETTYPE_GRAPHICHOTSPOT)
      expected = id == TARGETTYPE_PARAGRAPHLIST ? TARGETTYPE_PARAGRAPH : TARGETTYPE_GRAPHIC;
    EXPECT_EQ(LookupTargetType(targettype_name_table[id]), expected) << id;
  }
  EXPECT_STREQ(LookupTargetTypeName(0, "?"), "Everything");
  EXPECT_STREQ(LookupTargetTypeName(37, "?"), "DelimitedHTML");
  EXPECT_STREQ(LookupTargetTypeName(38, "?"), "?");
  EXPECT_EQ(LookupTargetTypeName(0xFFFF, nullptr), nullptr);
}

TEST(TargetParameterTable, HoldsOneRowPerTypeInIdOrder) {
  for (WORD id = 1; id < kTargetTypeCount; ++id)
    EXPECT_EQ(target_parameter_table[id - 1].id, id);
}

TEST(ChooseDelimiter, TakesTheFirstQuoteTheValueDoesNotHold) {
  struct Case {
    std::string text;
    size_t length;
    char expected;
  };
  const Case cases[] = {
      {"plain", 5, '\''},  {"it's", 4, '"'},        {"it's \"so\"", 9, '|'},
      {"'\"|", 3, '~'},    {"|only bar", 9, '\''},
      {"ab'", 2, '\''},                 // the apostrophe lies beyond the length
      {std::string("a\0'", 3), 3, '"'}, // the length, not a terminator, bounds the text
      {"", 0, '\''},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ChooseDelimiter(c.text.data(), c.length), c.expected) << c.text;
  EXPECT_EQ(ChooseDelimiter(nullptr, 0), '\'');
}

TEST(HotspotSignatures, RecogniseTheFourBeginsAndThreeEnds) {
  struct Case {
    WORD signature;
    bool begin;
    bool end;
  };
  const Case cases[] = {
      {0xFFA9, true, false},  {0xFFAD, true, false},  {0xFF7E, true, false},
      {0xFF74, true, false},  {0x00AA, false, true},  {0x00AE, false, true},
      {127, false, true},     {0x00A9, false, false}, {0xFFAA, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EqualsValidHotspotBegin(c.signature), c.begin) << c.signature;
    EXPECT_EQ(EqualsValidHotspotEnd(c.signature), c.end) << c.signature;
    EXPECT_EQ(EqualsValidHotspotSignature(c.signature), c.begin || c.end) << c.signature;
  }
}

/* ---- target property names ---- */

TEST(LookupPropertyID, FindsTheExactNameOrAnswersTheRowsCount) {
  struct Case {
    WORD type;
    const char* name;
    WORD expected;
  };
  const Case cases[] = {
      {TARGETTYPE_TABLE, "tablecolor", 7},
      {TARGETTYPE_TABLE, "TableColo", 29}, // exact, not a prefix
      {TARGETTYPE_TABLE, "TableWidth", 0},
      {TARGETTYPE_TABLE, "NoSuchName", 29},
      {TARGETTYPE_GRAPHIC, "NoSuchName", 17},
      {TARGETTYPE_LAYER, "height", 16},
      {TARGETTYPE_FIELD, "anything", 0},
      {TARGETTYPE_SECTION, "BorderColor", 0}, // its list is named by no row
      {kTargetTypeCount, "x", 0},
      {0xFFFF, "x", 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(LookupPropertyID(c.type, c.name), c.expected) << c.type << " " << c.name;
  EXPECT_EQ(LookupPropertyID(TARGETTYPE_TABLE, nullptr), 29);
}

TEST(LookupPropertyString, GivesTheNameBelowTheCountOnly) {
  EXPECT_STREQ(LookupPropertyString(TARGETTYPE_LAYER, 16), "Height");
  EXPECT_EQ(LookupPropertyString(TARGETTYPE_LAYER, 17), nullptr);
  EXPECT_EQ(LookupPropertyString(TARGETTYPE_GRAPHIC, 8), nullptr); // a null slot below the count
  EXPECT_EQ(LookupPropertyString(TARGETTYPE_SECTION, 0), nullptr);
  EXPECT_EQ(LookupPropertyString(kTargetTypeCount, 0), nullptr);
  // Rows in id order; every name found again at its index.
  for (WORD id = 0; id < kTargetTypeCount; ++id) {
    const property_parameter& row = property_parameter_table[id];
    EXPECT_EQ(row.target_type, id);
    for (WORD index = 0; index < row.count; ++index) {
      if (const char* name = LookupPropertyString(id, index); name != nullptr) {
        EXPECT_EQ(LookupPropertyID(id, name), index) << name;
      }
    }
  }
}

/* ---- name-ordered tables ---- */

struct NamedRow {
  const char* name;
};

TEST(CompareNamesIgnoringCase, OrdersLikeStrcasecmp) {
  const char* pairs[][2] = {{"Font", "font"}, {"Font", "FontFace"}, {"a_", "aB"},
                            {"", "a"},        {"Z", "a"}};
  auto sign = [](int v) { return (v > 0) - (v < 0); };
  for (const auto& p : pairs)
    EXPECT_EQ(sign(CompareNamesIgnoringCase(p[0], p[1])), sign(strcasecmp(p[0], p[1])))
        << p[0] << " / " << p[1];
}

TEST(FindRowInNameOrder, StopsAtTheFirstRowSortingAfterTheNameAtTheNullRowOrAfter999Rows) {
  const NamedRow unsorted[] = {{"Beta"}, {"Alpha"}, {nullptr}};
  EXPECT_EQ(FindRowInNameOrder(unsorted, "beta"), &unsorted[0]);
  EXPECT_EQ(FindRowInNameOrder(unsorted, "Alpha"), nullptr);
  const NamedRow rows[] = {{"Alpha"}, {nullptr}, {"Gamma"}};
  EXPECT_EQ(FindRowInNameOrder(rows, "ALPHA"), &rows[0]);
  EXPECT_EQ(FindRowInNameOrder(rows, "Gamma"), nullptr);
  EXPECT_EQ(FindRowInNameOrder(rows, nullptr), nullptr);

  std::vector<std::string> names;
  for (int i = 0; i < 1005; ++i) {
    char name[8];
    snprintf(name, sizeof name, "n%04d", i);
    names.push_back(name);
  }
  std::vector<NamedRow> many;
  for (const std::string& name : names)
    many.push_back({name.c_str()});
  many.push_back({nullptr});
  EXPECT_EQ(FindRowInNameOrder(many.data(), "n0998"), &many[998]);
  EXPECT_EQ(FindRowInNameOrder(many.data(), "n0999"), nullptr);
}

/* ---- chunk properties ---- */

TEST(LookupChunkProperty, FindsEverySortedRowByItsExactNameIgnoringCase) {
  EXPECT_EQ(rtchunk_prop_table[kChunkPropertyCount].name, nullptr);
  for (size_t i = 0; i < kChunkPropertyCount; ++i) {
    const char* name = rtchunk_prop_table[i].name;
    ASSERT_NE(name, nullptr) << i;
    if (i > 0) {
      EXPECT_LT(strcasecmp(rtchunk_prop_table[i - 1].name, name), 0) << name;
    }
    EXPECT_EQ(LookupChunkProperty(name), &rtchunk_prop_table[i]) << name;
  }
  const rtchunk_prop* fontFace = LookupChunkProperty("FontFace");
  ASSERT_NE(fontFace, nullptr);
  EXPECT_EQ(fontFace->id, 2319);
  EXPECT_EQ(LookupChunkProperty("fontface"), fontFace);
  for (const char* name : {"Fon", "FontFaces", "Zebra", "", static_cast<const char*>(nullptr)})
    EXPECT_EQ(LookupChunkProperty(name), nullptr) << (name ? name : "(null)");
}

/* ---- action codes ---- */

TEST(ActionWrites, ReadsTheTableForTheTwoOperationRangesAndItsOwnListElsewhere) {
  // Rows 0-98 are 2351-2449, rows 99-119 are 2801-2821.
  for (size_t i = 0; i < kActionParameterCount; ++i) {
    const action_parameter& row = action_parameter_table[i];
    EXPECT_EQ(size_t{row.action}, i < 99 ? 2351 + i : 2801 + i - 99) << i;
    EXPECT_EQ(ActionWrites(row.action), row.writes) << row.action;
  }
  for (WORD action : {2365, 2419, 2444, 2804, 2818})
    EXPECT_FALSE(ActionWrites(action)) << action;
  for (WORD action : {2351, 2449, 2801, 2821, 4, 6, 25, 69})
    EXPECT_TRUE(ActionWrites(action)) << action;
  for (WORD action : {0, 5, 70, 2350, 2450, 2800, 2822, 0xFFFF})
    EXPECT_FALSE(ActionWrites(action)) << action;
}

TEST(OperationWritesItem, TwoCombinationsOnlyRead) {
  struct Case {
    WORD action;
    WORD p1;
    bool writes;
  };
  const Case cases[] = {
      {ACTION_LINK_MATCHING, 2804, false}, {ACTION_LINK_MATCHING, 2818, true},
      {2819, 2818, false},                 {2819, 2804, true},
      {ACTION_RENDER, 0, false},           {ACTION_CLEANUP_TEXT_RUNS, 0, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(OperationWritesItem(c.action, c.p1), c.writes) << c.action << "/" << c.p1;
}

} // namespace
