/*
 * Tests of the shared vocabulary: target type lookups and the target
 * parameter rows, target property names, the name-ordered table search, the
 * chunk property table and the writes flags of the action codes.
 */
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "store/vocabulary.h"

namespace {

/* ---- Target types ---- */

TEST(LookupTargetType, MatchesTheFirstNameThatIsAPrefixIgnoringCase) {
  struct Case {
    const char* text;
    WORD id;
  };
  const Case cases[] = {
      {"rows", 5},
      {"Paragraphs", 21},
      {"ParagraphList", 21},
      {"GraphicHotspot", 15},
      {"xyz", 0},
      {"Everything", 0},
      {"", 0},
      {"TABLE", 1},
      {"tabl", 0},
      {"hr", 27},
      {"XHTML", 26},
      {"xml", 22},
      {"DelimitedHTML", 37},
      {"NonBlankText", 35},
      {"URLLink", 31},
      {"text and more", 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.id, LookupTargetType(c.text));
  }
  EXPECT_EQ(0, LookupTargetType(nullptr));
}

TEST(LookupTargetType, FindsEveryNameExceptThoseShadowedByAnEarlierPrefix) {
  for (WORD id = 1; id < kTargetTypeCount; ++id) {
    const char* name = targettype_name_table[id];
    SCOPED_TRACE(name);
    WORD expected = id;
    if (id == TARGETTYPE_PARAGRAPHLIST)
      expected = TARGETTYPE_PARAGRAPH;
    if (id == TARGETTYPE_GRAPHICHOTSPOT)
      expected = TARGETTYPE_GRAPHIC;
    EXPECT_EQ(expected, LookupTargetType(name));
  }
}

TEST(LookupTargetTypeName, GivesTheNameOrTheFallback) {
  EXPECT_STREQ("Everything", LookupTargetTypeName(0, "?"));
  EXPECT_STREQ("HR", LookupTargetTypeName(TARGETTYPE_HR, "?"));
  EXPECT_STREQ("DelimitedHTML", LookupTargetTypeName(37, "?"));
  EXPECT_STREQ("?", LookupTargetTypeName(38, "?"));
  EXPECT_EQ(nullptr, LookupTargetTypeName(0xFFFF, nullptr));
}

TEST(ChooseDelimiter, TakesTheFirstQuoteTheValueDoesNotHold) {
  struct Case {
    std::string text;
    size_t length;
    char expected;
  };
  const Case cases[] = {
      {"plain", 5, '\''},
      {"it's", 4, '"'},
      {"it's \"so\"", 9, '|'},
      {"'\"|", 3, '~'},
      {"a'b\"c|d", 7, '~'},
      {"|only bar", 9, '\''},
      {"ab'", 2, '\''},                 // the apostrophe lies beyond the length
      {std::string("a\0'", 3), 3, '"'}, // the length, not a terminator, bounds the text
      {"", 0, '\''},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.expected, ChooseDelimiter(c.text.data(), c.length));
  }
  EXPECT_EQ('\'', ChooseDelimiter(nullptr, 0));
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
      {127, false, true},     {0xFF85, false, false}, {0x00A9, false, false},
      {0xFFAA, false, false}, {0xFFAC, false, false}, {0, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.signature);
    EXPECT_EQ(c.begin, EqualsValidHotspotBegin(c.signature));
    EXPECT_EQ(c.end, EqualsValidHotspotEnd(c.signature));
    EXPECT_EQ(c.begin || c.end, EqualsValidHotspotSignature(c.signature));
  }
}

/* ---- Target parameter rows ---- */

const target_parameter& RowOf(WORD id) { return target_parameter_table[id - 1]; }

std::vector<uint16_t> Slots(const uint16_t* slots, size_t count) {
  return std::vector<uint16_t>(slots, slots + count);
}

TEST(TargetParameterTable, HoldsOneRowPerTypeInIdOrder) {
  for (WORD id = 1; id < kTargetTypeCount; ++id)
    EXPECT_EQ(id, RowOf(id).id);
}

TEST(TargetParameterTable, TextRowStartsWithTextTwice) {
  const target_parameter& text = RowOf(TARGETTYPE_TEXT);
  EXPECT_EQ((std::vector<uint16_t>{0xFF85, 0xFFC3, 0xFF85, 0xFFE5}),
            Slots(text.start_signatures, 4));
  EXPECT_EQ((std::vector<uint16_t>{0xFF85, 0xFFE4, 0, 0}),
            Slots(text.bracketed_start_signatures, 4));
  EXPECT_EQ((std::vector<uint16_t>{0xFF85, 0xFFC3, 0xFFE4, 0xFFE5}),
            Slots(RowOf(TARGETTYPE_STYLIZEDTEXT).start_signatures, 4));
  EXPECT_EQ((std::vector<uint16_t>{0xFF85, 0x83, 0x81, 0xFF82, 0xFFE4, 0, 0}),
            Slots(RowOf(TARGETTYPE_STYLIZEDTEXT).member_signatures, 7));
}

TEST(TargetParameterTable, RowAndColumnReadTheirIndexFromTheCell) {
  EXPECT_EQ(2, RowOf(TARGETTYPE_ROW).cell_index_byte);
  EXPECT_EQ(3, RowOf(TARGETTYPE_COLUMN).cell_index_byte);
  EXPECT_EQ(0, RowOf(TARGETTYPE_TABLE).cell_index_byte);
  for (WORD id : {TARGETTYPE_ROW, TARGETTYPE_COLUMN}) {
    EXPECT_EQ((std::vector<uint16_t>{0xA4, 0xD0, 0, 0}), Slots(RowOf(id).start_signatures, 4));
    EXPECT_EQ((std::vector<uint16_t>{0xA4, 0xA5, 0xD0, 0xD1, 0, 0, 0}),
              Slots(RowOf(id).end_signatures, 7));
    EXPECT_EQ((std::vector<uint32_t>{0, 0, 1, 0}),
              std::vector<uint32_t>(RowOf(id).flags, RowOf(id).flags + 4));
  }
}

TEST(TargetParameterTable, HotspotFamilyIsToldApartByTypeWordAndFlags) {
  struct Case {
    WORD id;
    std::vector<uint16_t> types;
    uint32_t exclude;
    uint32_t require;
  };
  const Case cases[] = {
      {TARGETTYPE_HOTSPOT, {}, 0, 0},
      {TARGETTYPE_BUTTON, {3}, 0, 0},
      {TARGETTYPE_SECTION, {12, 7, 13}, 0, 0},
      {TARGETTYPE_FILE, {4}, 0, 0},
      {TARGETTYPE_HYPERLINK, {11, 32}, 0, 0},
      {TARGETTYPE_ACTIONHOTSPOT, {2}, 0, 0},
      {TARGETTYPE_POPUP, {1, 22}, 0x40000, 0},
      {TARGETTYPE_SUBFORM, {14}, 0, 0},
      {TARGETTYPE_COMPUTEDTEXT, {1}, 0, 0x40000},
      {TARGETTYPE_URLLINK, {11, 32}, 0, 0x1000},
  };
  for (const Case& c : cases) {
    const target_parameter& row = RowOf(c.id);
    SCOPED_TRACE(targettype_name_table[c.id]);
    EXPECT_EQ((std::vector<uint16_t>{0xFFAD, 0xFFA9, 0xFF7E, 0xFF74}),
              Slots(row.start_signatures, 4));
    EXPECT_EQ(Slots(row.start_signatures, 4), Slots(row.bracketed_start_signatures, 4));
    EXPECT_EQ((std::vector<uint16_t>{0xAE, 0xAA, 0, 0, 0, 0, 0}), Slots(row.end_signatures, 7));

    ASSERT_EQ(c.types.size(), row.discriminator.count);
    if (!c.types.empty()) {
      EXPECT_EQ(4, row.discriminator.offset);
      EXPECT_EQ(c.types, Slots(row.discriminator.values, c.types.size()));
    }
    EXPECT_EQ(c.exclude != 0 ? 1u : 0u, row.exclude.count);
    EXPECT_EQ(c.require != 0 ? 1u : 0u, row.require.count);
    if (c.exclude != 0) {
      EXPECT_EQ(8u, row.exclude.offset);
      EXPECT_EQ(c.exclude, row.exclude.masks[0]);
    }
    if (c.require != 0) {
      EXPECT_EQ(8u, row.require.offset);
      EXPECT_EQ(c.require, row.require.masks[0]);
    }
  }
  EXPECT_EQ(0xFFAC, RowOf(TARGETTYPE_SECTION).member_signatures[4]);
}

TEST(TargetParameterTable, TextPatternsOfTheMarkupTypes) {
  struct Case {
    WORD id;
    const char* start[2];
    const char* end[2];
  };
  const Case cases[] = {
      {TARGETTYPE_XML, {"<?xml", "<xml"}, {"<!-- /xml", "</xml>"}},
      {TARGETTYPE_HTML, {"<html", "<!DOCTYPE html "}, {"</html>", nullptr}},
      {TARGETTYPE_XHTML, {"<!DOCTYPE xhtml ", nullptr}, {"</html>", nullptr}},
      {TARGETTYPE_DELIMITEDHTML, {"<html", "[<"}, {">]", nullptr}},
      {TARGETTYPE_TEXT, {nullptr, nullptr}, {nullptr, nullptr}},
  };
  for (const Case& c : cases) {
    const target_parameter& row = RowOf(c.id);
    SCOPED_TRACE(targettype_name_table[c.id]);
    for (int i = 0; i < 2; ++i) {
      EXPECT_STREQ(c.start[i], row.start_text_patterns[i]);
      EXPECT_STREQ(c.end[i], row.end_text_patterns[i]);
    }
  }
}

TEST(TargetParameterTable, FlagsOfSelectedRows) {
  struct Case {
    WORD id;
    std::vector<uint32_t> flags;
  };
  const Case cases[] = {
      {TARGETTYPE_DOCLINK, {1, 1, 1, 0}},      {TARGETTYPE_TABLE, {1, 0, 0, 0}},
      {TARGETTYPE_RECORD, {1, 1, 0, 0}},       {TARGETTYPE_FIELD, {1, 1, 0, 0}},
      {TARGETTYPE_GRAPHIC, {1, 0, 1, 0}},      {TARGETTYPE_LAYER, {1, 0, 0, 1}},
      {TARGETTYPE_IMAGEMAP, {1, 0, 0, 1}},     {TARGETTYPE_GRAPHICHOTSPOT, {1, 0, 0, 1}},
      {TARGETTYPE_NONBLANKTEXT, {1, 1, 1, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(targettype_name_table[c.id]);
    EXPECT_EQ(c.flags, std::vector<uint32_t>(RowOf(c.id).flags, RowOf(c.id).flags + 4));
  }
  EXPECT_EQ(1u, RowOf(TARGETTYPE_DOCLINK).flags[kTargetFlagStartRecordAlone]);
  EXPECT_EQ(1u, RowOf(TARGETTYPE_DOCLINK).flags[kTargetFlagEndOutside]);
}

TEST(TargetParameterTable, SignatureListsOfSelectedRows) {
  EXPECT_EQ((std::vector<uint16_t>{0x99, 0xFF85, 0x81, 0xAA, 0xAE, 0xFFF4, 0xFF68}),
            Slots(RowOf(TARGETTYPE_GRAPHIC).end_signatures, 7));
  EXPECT_EQ((std::vector<uint16_t>{0xA3, 0xA5, 0xA4, 0xFFFB, 0xCF, 0xD0, 0xD1}),
            Slots(RowOf(TARGETTYPE_TABLE).member_signatures, 7));
  EXPECT_EQ((std::vector<uint16_t>{0xDE, 0xFF8A, 0xFFF7, 0xFF85, 0xFFF5, 0xFFE4, 0}),
            Slots(RowOf(TARGETTYPE_EVENT).end_signatures, 7));
  EXPECT_EQ((std::vector<uint16_t>{0x6C, 0xFF7A, 0x6B, 0x6A, 0x72, 0x63, 0}),
            Slots(RowOf(TARGETTYPE_LAYER).member_signatures, 7));
  EXPECT_EQ((std::vector<uint16_t>{0xFF8A, 0xFFF7, 0xFFFE, 0}),
            Slots(RowOf(TARGETTYPE_FIELD).bracketed_start_signatures, 4));
  for (WORD id : {TARGETTYPE_PARAGRAPH, TARGETTYPE_PARAGRAPHLIST}) {
    EXPECT_EQ((std::vector<uint16_t>{0x81, 0x83, 0xFF82, 0}), Slots(RowOf(id).start_signatures, 4));
    EXPECT_EQ((std::vector<uint16_t>{0, 0, 0, 0}), Slots(RowOf(id).bracketed_start_signatures, 4));
    EXPECT_EQ((std::vector<uint16_t>{0x81, 0x83, 0xFF82, 0xBC, 0xFFBB, 0, 0}),
              Slots(RowOf(id).member_signatures, 7));
  }
  const target_parameter& record = RowOf(TARGETTYPE_RECORD);
  EXPECT_EQ((std::vector<uint16_t>(4, 0)), Slots(record.start_signatures, 4));
  EXPECT_EQ((std::vector<uint16_t>(7, 0)), Slots(record.end_signatures, 7));
  EXPECT_EQ((std::vector<uint16_t>(7, 0)), Slots(record.member_signatures, 7));
}

/* ---- Target property names ---- */

TEST(LookupPropertyID, FindsTheIndexOrAnswersTheRowsCount) {
  struct Case {
    WORD type;
    const char* name;
    WORD expected;
  };
  const Case cases[] = {
      {TARGETTYPE_TABLE, "tablecolor", 7},
      {TARGETTYPE_TABLE, "TableColorStyle", 6},
      {TARGETTYPE_TABLE, "TableColo", 29}, // exact, not a prefix
      {TARGETTYPE_TABLE, "TableWidth", 0},
      {TARGETTYPE_TABLE, "TABFONT", 28},
      {TARGETTYPE_TABLE, "NoSuchName", 29},
      {TARGETTYPE_TABLE, "", 29},
      {TARGETTYPE_GRAPHIC, "Caption", 1},
      {TARGETTYPE_GRAPHIC, "graphichtmlname", 7},
      {TARGETTYPE_GRAPHIC, "NoSuchName", 17},
      {TARGETTYPE_LAYER, "height", 16},
      {TARGETTYPE_LAYER, "Top", 0},
      {TARGETTYPE_FIELD, "Fieldname", 0},
      {TARGETTYPE_FIELD, "anything", 0},
      {TARGETTYPE_SECTION, "BorderColor", 0}, // its list is named by no row
      {TARGETTYPE_HR, "Width", 12},
      {TARGETTYPE_IMAGEMAP, "x", 1},
      {TARGETTYPE_GRAPHICHOTSPOT, "x", 8},
      {TARGETTYPE_TEXT, "x", 0},
      {kTargetTypeCount, "x", 0},
      {0xFFFF, "x", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " " + c.name);
    EXPECT_EQ(c.expected, LookupPropertyID(c.type, c.name));
  }
  EXPECT_EQ(29, LookupPropertyID(TARGETTYPE_TABLE, nullptr));
  EXPECT_EQ(17, LookupPropertyID(TARGETTYPE_GRAPHIC, nullptr));
}

TEST(LookupPropertyString, GivesTheNameBelowTheCountOnly) {
  struct Case {
    WORD type;
    WORD index;
    const char* expected;
  };
  const Case cases[] = {
      {TARGETTYPE_LAYER, 16, "Height"},
      {TARGETTYPE_LAYER, 17, nullptr},
      {TARGETTYPE_SECTION, 0, nullptr},
      {TARGETTYPE_TABLE, 0, "TableWidth"},
      {TARGETTYPE_TABLE, 28, "TabFont"},
      {TARGETTYPE_TABLE, 29, nullptr},
      {TARGETTYPE_GRAPHIC, 7, "GraphicHTMLName"},
      {TARGETTYPE_GRAPHIC, 8, nullptr}, // a null slot below the count
      {TARGETTYPE_GRAPHIC, 16, nullptr},
      {TARGETTYPE_HR, 0, nullptr},
      {TARGETTYPE_FIELD, 0, nullptr},
      {kTargetTypeCount, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.index));
    EXPECT_STREQ(c.expected, LookupPropertyString(c.type, c.index));
  }
}

TEST(PropertyParameterTable, RowsAreInIdOrderAndNamesRoundTrip) {
  for (WORD id = 0; id < kTargetTypeCount; ++id) {
    const property_parameter& row = property_parameter_table[id];
    EXPECT_EQ(id, row.target_type);
    for (WORD index = 0; index < row.count; ++index) {
      const char* name = LookupPropertyString(id, index);
      if (name != nullptr) {
        EXPECT_EQ(index, LookupPropertyID(id, name)) << name;
      }
    }
  }
}

/* ---- Name-ordered tables ---- */

struct NamedRow {
  const char* name;
};

TEST(CompareNamesIgnoringCase, OrdersLikeStrcasecmp) {
  const char* pairs[][2] = {
      {"Font", "font"},
      {"Font", "FontFace"},
      {"FontFace", "FontColor"},
      {"a_", "aB"},
      {"PABID", "ParagraphStyle"},
      {"Text", "TextAttributes"},
      {"", "a"},
      {"Z", "a"},
  };
  auto sign = [](int v) { return (v > 0) - (v < 0); };
  for (const auto& p : pairs) {
    SCOPED_TRACE(std::string(p[0]) + " / " + p[1]);
    EXPECT_EQ(sign(strcasecmp(p[0], p[1])), sign(CompareNamesIgnoringCase(p[0], p[1])));
  }
}

TEST(FindRowInNameOrder, StopsAtTheFirstRowThatSortsAfterTheName) {
  const NamedRow unsorted[] = {{"Beta"}, {"Alpha"}, {nullptr}};
  EXPECT_EQ(&unsorted[0], FindRowInNameOrder(unsorted, "beta"));
  EXPECT_EQ(nullptr, FindRowInNameOrder(unsorted, "Alpha"));
}

TEST(FindRowInNameOrder, StopsAtTheNullRow) {
  const NamedRow rows[] = {{"Alpha"}, {nullptr}, {"Gamma"}};
  EXPECT_EQ(&rows[0], FindRowInNameOrder(rows, "ALPHA"));
  EXPECT_EQ(nullptr, FindRowInNameOrder(rows, "Gamma"));
  EXPECT_EQ(nullptr, FindRowInNameOrder(rows, nullptr));
}

TEST(FindRowInNameOrder, LooksAtNoMoreThan999Rows) {
  std::vector<std::string> names;
  for (int i = 0; i < 1005; ++i) {
    char name[8];
    snprintf(name, sizeof name, "n%04d", i);
    names.push_back(name);
  }
  std::vector<NamedRow> rows;
  for (const std::string& name : names)
    rows.push_back({name.c_str()});
  rows.push_back({nullptr});
  EXPECT_EQ(&rows[998], FindRowInNameOrder(rows.data(), "n0998"));
  EXPECT_EQ(nullptr, FindRowInNameOrder(rows.data(), "n0999"));
}

/* ---- Chunk properties ---- */

TEST(ChunkPropertyTable, Has64RowsSortedIgnoringCaseThenANullRow) {
  EXPECT_EQ(nullptr, rtchunk_prop_table[kChunkPropertyCount].name);
  for (size_t i = 0; i < kChunkPropertyCount; ++i) {
    ASSERT_NE(nullptr, rtchunk_prop_table[i].name) << i;
    if (i > 0) {
      EXPECT_LT(strcasecmp(rtchunk_prop_table[i - 1].name, rtchunk_prop_table[i].name), 0)
          << rtchunk_prop_table[i - 1].name << " before " << rtchunk_prop_table[i].name;
    }
  }
}

TEST(ChunkPropertyTable, EveryRowIsFoundByItsOwnName) {
  for (size_t i = 0; i < kChunkPropertyCount; ++i) {
    const char* name = rtchunk_prop_table[i].name;
    EXPECT_EQ(&rtchunk_prop_table[i], LookupChunkProperty(name)) << name;
  }
}

TEST(LookupChunkProperty, IsExactAndIgnoresCase) {
  const rtchunk_prop* font = LookupChunkProperty("Font");
  const rtchunk_prop* fontFace = LookupChunkProperty("FontFace");
  ASSERT_NE(nullptr, font);
  ASSERT_NE(nullptr, fontFace);
  EXPECT_STREQ("Font", font->name);
  EXPECT_EQ(2317, font->id);
  EXPECT_STREQ("FontFace", fontFace->name);
  EXPECT_EQ(2319, fontFace->id);
  EXPECT_EQ(fontFace, LookupChunkProperty("fontface"));
  EXPECT_EQ(font, LookupChunkProperty("FONT"));
  EXPECT_EQ(nullptr, LookupChunkProperty("Fon"));
  EXPECT_EQ(nullptr, LookupChunkProperty("FontFaces"));
  EXPECT_EQ(nullptr, LookupChunkProperty("Zebra"));
  EXPECT_EQ(nullptr, LookupChunkProperty(""));
  EXPECT_EQ(nullptr, LookupChunkProperty(nullptr));
}

TEST(ChunkPropertyTable, RowsThatTheChunkRelyOn) {
  struct Case {
    const char* name;
    uint16_t kind;
    uint16_t resultClass;
    uint16_t id;
    uint16_t get;
    uint16_t set;
    bool readOnly;
    bool numeric;
    bool chunkAnswers;
  };
  const Case cases[] = {
      {"FirstRecord", 0x0300, 15, 2316, 1, 0, true, true, false},
      {"LastRecord", 0x0300, 16, 2321, 1, 0, true, true, false},
      {"Exists", 0x0300, 15, 2315, 2315, 0, true, true, true},
      {"HideFormula", 0x0500, 0, 2333, 24, 25, false, true, false},
      {"TextAttributes", 0x0500, 3, 2333, 13, 2363, false, false, false},
      {"LinkPopupText", 0x0500, 3, 2340, 15, 2362, false, false, true},
      {"PopupText", 0x0500, 0, 2340, 15, 2362, false, false, true},
      {"OLEFileName", 0x0500, 1, 2621, 12, 0, true, false, false},
      {"OriginalFileName", 0x0500, 1, 2621, 12, 0, true, false, false},
      {"LinkURL", 0x0500, 3, 2341, 15, 2362, true, false, false},
      {"PassthruHTML", 0x0300, 11, 2612, 47, 48, false, false, true},
      {"CellColor", 0x0500, 0, 2606, 38, 2394, false, false, true},
      {"PABID", 0x0300, 20, 2343, 26, 0, true, true, false},
      {"RecordType", 0x0300, 18, 2330, 0, 0, true, true, false},
      {"CellIsMerged", 0x0300, 13, 2601, 2601, 0, true, true, false},
      {"UnzoomedDefinition", 0x0500, 0, 2335, 0, 0, true, false, true},
      {"AccentSensitive", 0x0300, 17, 2622, 0, 0, false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const rtchunk_prop* row = LookupChunkProperty(c.name);
    ASSERT_NE(nullptr, row);
    EXPECT_EQ(c.kind, row->kind);
    EXPECT_EQ(c.resultClass, row->result_class);
    EXPECT_EQ(c.id, row->id);
    EXPECT_EQ(c.get, row->get_action);
    EXPECT_EQ(c.set, row->set_action);
    EXPECT_EQ(c.readOnly, row->read_only);
    EXPECT_EQ(c.numeric, row->numeric);
    EXPECT_EQ(c.chunkAnswers, row->chunk_answers);
  }
}

/* ---- Action codes ---- */

TEST(ActionParameterTable, HoldsTheTwoOperationRangesInOrder) {
  for (size_t i = 0; i < kActionParameterCount; ++i) {
    WORD expected = i < 99 ? static_cast<WORD>(2351 + i) : static_cast<WORD>(2801 + i - 99);
    EXPECT_EQ(expected, action_parameter_table[i].action) << i;
  }
}

TEST(ActionWrites, OperationsReadOnlyWhereTheTableSaysSo) {
  const WORD reading[] = {2365, 2367, 2368, 2369, 2370, 2371, 2398, 2400, 2401,
                          2402, 2403, 2407, 2408, 2414, 2418, 2419, 2420, 2421,
                          2427, 2431, 2432, 2435, 2436, 2444, 2804, 2818};
  size_t readingRows = 0;
  for (const action_parameter& row : action_parameter_table)
    readingRows += row.writes ? 0 : 1;
  EXPECT_EQ(sizeof reading / sizeof reading[0], readingRows);
  for (WORD action : reading)
    EXPECT_FALSE(ActionWrites(action)) << action;
  for (WORD action : {2351, 2361, 2366, 2386, 2399, 2449, 2801, 2803, 2805, 2819, 2821})
    EXPECT_TRUE(ActionWrites(static_cast<WORD>(action))) << action;
}

TEST(ActionWrites, CodesWithoutARowUseTheirOwnList) {
  for (WORD action : {4, 6, 8, 10, 17, 21, 23, 25, 30, 32, 34, 40, 42, 44, 48, 49, 54, 55, 68, 69})
    EXPECT_TRUE(ActionWrites(static_cast<WORD>(action))) << action;
  for (WORD action :
       {0, 1, 2, 3, 5, 7, 9, 13, 37, 47, 56, 70, 2304, 2305, 2601, 2350, 2450, 2800, 2822, 0xFFFF})
    EXPECT_FALSE(ActionWrites(static_cast<WORD>(action))) << action;
}

TEST(OperationWritesItem, TwoCombinationsOnlyRead) {
  struct Case {
    WORD action;
    WORD p1;
    bool writes;
  };
  const Case cases[] = {
      {ACTION_LINK_MATCHING, 2804, false},
      {ACTION_LINK_MATCHING, 0, true},
      {ACTION_LINK_MATCHING, 2818, true},
      {2819, 2818, false},
      {2819, 2804, true},
      {2819, 0, true},
      {ACTION_RENDER, 0, false},
      {2420, 0, false},
      {ACTION_CLEANUP_TEXT_RUNS, 0, true},
      {ACTION_QUERY_RECORDS, PROP_LASTRECORD, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.action) + "/" + std::to_string(c.p1));
    EXPECT_EQ(c.writes, OperationWritesItem(c.action, c.p1));
  }
}

} // namespace
