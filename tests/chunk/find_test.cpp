// The find methods through the chunk interface: named tables, layers and
// buttons under each match mode, counting from the start of the item
// within or after the chunk, unnamed tables, text runs under a font filter
// and in brackets, and the definitions the methods refuse.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cdbuild/cd_builder.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;

/* A CDIDNAME whose first text (the one a find reads) is the name. */
Bytes IdName(const std::string& name) {
  Bytes payload(22, 0);
  cdbuild::PutWord(payload, 0, static_cast<WORD>(name.size()));
  payload.insert(payload.end(), name.begin(), name.end());
  return cdbuild::Raw(SIG_CD_IDNAME, payload);
}

/* A bracketed pre-table record (named when name is given) and a table of
 * one cell. */
void AddTable(std::vector<Bytes>& body, const char* name, bool bracketed = true) {
  if (bracketed)
    body.push_back(Begin(SIG_CD_PRETABLEBEGIN));
  body.push_back(cdbuild::PreTableBegin());
  if (name != nullptr)
    body.push_back(IdName(name));
  if (bracketed)
    body.push_back(End(SIG_CD_PRETABLEBEGIN));
  body.push_back(TableBegin());
  body.push_back(Cell(0, 0));
  body.push_back(Text("cell"));
  body.push_back(TableEnd());
  body.push_back(Paragraph());
}

struct named_case {
  const char* name;
  int n;
  const char* definition;
  const char* type;
  std::string pattern;
  const char* mode;
  WORD expected;
};

std::ostream& operator<<(std::ostream& out, const named_case& c) { return out << c.name; }

class FindNamedTest : public EngineTest, public ::testing::WithParamInterface<named_case> {};

TEST_P(FindNamedTest, NumbersTheFirstMatchingElement) {
  // Tables: 1 "Sales 2004", 2 "Sales", 3 without a name record, 4 named
  // "", 5 an unbracketed pre-table, 6-8 "Budget"; then a layer "Top", a
  // button "OK" and a button "Go".
  std::vector<Bytes> body;
  AddTable(body, "Sales 2004");
  AddTable(body, "Sales");
  AddTable(body, nullptr);
  AddTable(body, "");
  AddTable(body, "Sales", false);
  for (int i = 0; i < 3; ++i)
    AddTable(body, "Budget");
  body.push_back(Begin(SIG_CD_LAYER));
  body.push_back(cdbuild::Sized(SIG_CD_LAYER, 40));
  body.push_back(IdName("Top"));
  body.push_back(End(SIG_CD_LAYER));
  body.push_back(Begin(SIG_CD_BUTTON));
  body.push_back(cdbuild::Raw(SIG_CD_BUTTON, {0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 10, 'O', 'K'}));
  body.push_back(End(SIG_CD_BUTTON));
  // A button as the generator writes it: in a hotspot bracket, not a
  // button bracket.
  body.push_back(Begin(SIG_CD_V4HOTSPOTBEGIN));
  body.push_back(HotspotBegin(SIG_CD_V4HOTSPOTBEGIN, 3));
  body.push_back(cdbuild::Button({.label = "Go"}));
  body.push_back(cdbuild::HotspotEnd(SIG_CD_V4HOTSPOTEND));
  body.push_back(End(SIG_CD_V4HOTSPOTEND));
  body.push_back(Text("end"));
  AppendItem(body);

  const named_case& c = GetParam();
  VelkoRTChunk* chunk = Chunk(c.definition);
  ASSERT_NE(chunk, nullptr);
  chunk->status = 99;
  EXPECT_EQ(chunk->FindNamedChunk(c.n, c.type, c.pattern.data(),
                                  static_cast<WORD>(c.pattern.size()), c.mode, nullptr),
            c.expected);
  EXPECT_EQ(chunk->status, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FindNamedTest,
    ::testing::Values(
        named_case{"ExactSkipsALongerName", 1, "Everything", "Table", "Sales", "EXACT", 2},
        named_case{"EntireIsExact", 1, "Everything", "table", "sales", "entire", 2},
        named_case{"StartsMatchesBoth", 1, "Everything", "Table", "Sales", "STARTS", 1},
        named_case{"Ends", 1, "Everything", "Table", "2004", "ENDS", 1},
        named_case{"EndsNeedsTheEnd", 1, "Everything", "Table", "Sal", "ENDS", 0},
        named_case{"Substring", 1, "Everything", "Table", "les 20", "SUBSTR", 1},
        named_case{"OtherModeMatchesAnyName", 1, "Everything", "Table", "zzz", "whatever", 1},
        named_case{"EmptyPatternEndsOnlyAnEmptyName", 1, "Everything", "Table", "", "ENDS", 4},
        named_case{"EmptyPatternStartsEveryName", 1, "Everything", "Table", "", "STARTS", 1},
        named_case{"CaseSensitivityIsTheChunks", 1, "Everything", "Table", "SALES", "EXACT", 2},
        named_case{"NoMatch", 1, "Everything", "Table", "Costs", "EXACT", 0}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Ranges, FindNamedTest,
    ::testing::Values(
        // The second of three tables named Budget, within a chunk that holds
        // only the third.
        named_case{"WithinTheThirdBudget", 1, "Table 8", "Table", "Budget", "EXACT", 8},
        named_case{"AfterTheFirstBudget", 0, "Table 6", "Table", "Budget", "EXACT", 7},
        named_case{"WithinAChunkWithoutIt", 1, "Table 1", "Table", "Budget", "EXACT", 0},
        named_case{"AfterTheLastTable", 0, "Table 8", "Table", "Budget", "EXACT", 0},
        named_case{"AfterEverything", 0, "Everything", "Table", "Sales", "EXACT", 0},
        named_case{"UnbracketedTablesCountWithoutName", 0, "Table 4", "Table", "Sales", "EXACT", 0},
        named_case{"Layer", 1, "Everything", "Layer", "Top", "EXACT", 1},
        named_case{"Button", 1, "Everything", "Button", "OK", "EXACT", 1},
        named_case{"ButtonOutsideAButtonBracket", 1, "Everything", "Button", "Go", "EXACT", 2},
        named_case{"SectionsAreNotSearched", 1, "Everything", "Section", "", "", 0},
        named_case{"UnknownType", 1, "Everything", "Nothing", "", "", 0}),
    [](const auto& info) { return std::string(info.param.name); });

struct text_case {
  const char* name;
  int n;
  const char* definition;
  std::string pattern;
  const char* mode;
  const char* font;
  WORD expected;
};

std::ostream& operator<<(std::ostream& out, const text_case& c) { return out << c.name; }

class FindTextTest : public EngineTest, public ::testing::WithParamInterface<text_case> {};

TEST_P(FindTextTest, NumbersTheFirstMatchingRun) {
  // Runs: 1 "alpha beta" black, 2 "beta" red, 3 a bracket of "gamma" and
  // "delta" black, 4 "beta again" red, 5 "omega" black.
  const cdbuild::Font black{};
  const cdbuild::Font red{.color = 2};
  AppendItem({Paragraph(), cdbuild::Text("alpha beta", black), cdbuild::Text("beta", red),
              Paragraph(), Begin(SIG_CD_TEXT), cdbuild::Text("gamma", black),
              cdbuild::Text("delta", black), End(SIG_CD_TEXT), cdbuild::Text("beta again", red),
              Paragraph(), cdbuild::Text("omega", black)});
  const text_case& c = GetParam();
  VelkoRTChunk* chunk = Chunk(c.definition);
  ASSERT_NE(chunk, nullptr);
  EXPECT_EQ(chunk->FindTextChunk(c.n, c.pattern.data(), static_cast<WORD>(c.pattern.size()),
                                 c.mode, c.font),
            c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, FindTextTest,
    ::testing::Values(
        text_case{"AnyFont", 1, "Everything", "beta", "SUBSTR", "", 1},
        text_case{"RedFilter", 1, "Everything", "beta", "SUBSTR", "Red", 2},
        text_case{"RedFilterNoMatch", 1, "Everything", "alpha", "SUBSTR", "Red", 0},
        text_case{"ExactWholeRun", 1, "Everything", "beta", "EXACT", "", 2},
        text_case{"StartsWith", 1, "Everything", "beta", "STARTS", "", 2},
        text_case{"EndsWith", 1, "Everything", "again", "ENDS", "", 4},
        text_case{"BracketIsOneRun", 1, "Everything", "delta", "EXACT", "", 3},
        text_case{"AfterTheBracket", 1, "Everything", "omega", "EXACT", "", 5},
        text_case{"NoModeTakesTheFirstRun", 1, "Everything", "zzz", "", "", 1},
        text_case{"WithinTheChunk", 1, "Text 1", "beta", "SUBSTR", "Red", 0},
        text_case{"WithinAOneRecordChunk", 1, "Text 2", "beta", "EXACT", "", 2},
        text_case{"AfterTheChunk", 0, "Text 2", "beta", "SUBSTR", "", 4},
        text_case{"AfterEverything", 0, "Everything", "omega", "EXACT", "", 0},
        text_case{"NullFont", 1, "Everything", "beta", "SUBSTR", nullptr, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, FindTextFollowsTheChunksSearchFlags) {
  // "\x83" is a-circumflex in LMBCS. The texts hold no other "a", so that
  // each is found only where the pattern is; they are long enough to be
  // tested eight bytes at a time, with the match past the first eight.
  AppendItem({Text("nothing to find here"), Text("old texts \x83" "bc here too"),
              Text("xyz new ABC"), Text("xyz, new, third: abc")});
  VelkoRTChunk* chunk = Chunk("Everything");
  chunk->AccentSensitive = 0;
  EXPECT_EQ(chunk->FindTextChunk(1, "abc", 3, "SUBSTR", ""), 2);
  chunk->AccentSensitive = 1;
  EXPECT_EQ(chunk->FindTextChunk(1, "abc", 3, "SUBSTR", ""), 3);
  chunk->CaseSensitive = 1;
  EXPECT_EQ(chunk->FindTextChunk(1, "abc", 3, "SUBSTR", ""), 4);
  chunk->TextWildcards = 1;
  EXPECT_EQ(chunk->FindTextChunk(1, "?bc", 3, "SUBSTR", ""), 2);
  EXPECT_EQ(chunk->FindTextChunk(1, "*BC", 3, "ENDS", ""), 3);
  EXPECT_EQ(chunk->FindTextChunk(1, "w A", 3, "SUBSTR", ""), 3);
}

TEST_F(EngineTest, FindTextReadsTheColourOfEachBracketUpToItsEnd) {
  // Red runs: 1 in a bracket without a colour; 2 in a bracket whose colour
  // (not quite red) follows its text; 3 a bracket holding 4, a bracket
  // with that colour, and then 5, a run of its own outside 4; 6 and 7
  // brackets left open, so the colour inside 7 lies inside 6 too. A run
  // whose bracket has that colour is not red.
  const cdbuild::Font red{.color = 2};
  const Bytes offRed = cdbuild::Color({.color = {.flags = 0x0001, .red = 0xFE}});
  AppendItem({Paragraph(), Begin(SIG_CD_TEXT), cdbuild::Text("one", red), End(SIG_CD_TEXT),
              Begin(SIG_CD_TEXT), cdbuild::Text("two", red), offRed, End(SIG_CD_TEXT),
              Begin(SIG_CD_TEXT), Begin(SIG_CD_TEXT), offRed, cdbuild::Text("three", red),
              End(SIG_CD_TEXT), cdbuild::Text("four", red), End(SIG_CD_TEXT),
              Begin(SIG_CD_TEXT), cdbuild::Text("five", red), Begin(SIG_CD_TEXT), offRed,
              cdbuild::Text("six", red)});
  VelkoRTChunk* chunk = Chunk("Everything");
  ASSERT_NE(chunk, nullptr);
  const struct {
    const char* text;
    WORD any;
    WORD red;
  } runs[] = {{"one", 1, 1},  {"two", 2, 0},  {"three", 4, 0},
              {"four", 5, 5}, {"five", 6, 0}, {"six", 7, 0}};
  for (const auto& run : runs) {
    const WORD length = static_cast<WORD>(strlen(run.text));
    EXPECT_EQ(chunk->FindTextChunk(1, run.text, length, "EXACT", ""), run.any) << run.text;
    EXPECT_EQ(chunk->FindTextChunk(1, run.text, length, "EXACT", "Red"), run.red) << run.text;
  }
}

TEST_F(EngineTest, FindNamedReadsTheNameOfEachLayerUpToItsEnd) {
  // Layers: 1 named "A" holds 2 named "B"; 3 has no name before its end;
  // 4, left open, holds 5 named "C".
  const Bytes layer = cdbuild::Sized(SIG_CD_LAYER, 40);
  AppendItem({Begin(SIG_CD_LAYER), layer, IdName("A"), Begin(SIG_CD_LAYER), layer, IdName("B"),
              End(SIG_CD_LAYER), End(SIG_CD_LAYER), Begin(SIG_CD_LAYER), layer,
              End(SIG_CD_LAYER), IdName("D"), Begin(SIG_CD_LAYER), layer, Begin(SIG_CD_LAYER),
              layer, IdName("C"), Text("end")});
  VelkoRTChunk* chunk = Chunk("Everything");
  ASSERT_NE(chunk, nullptr);
  for (const auto& [name, expected] : std::vector<std::pair<std::string, WORD>>{
           {"A", 1}, {"B", 2}, {"D", 0}, {"C", 4}}) {
    EXPECT_EQ(chunk->FindNamedChunk(1, "Layer", name.c_str(), 1, "EXACT", nullptr), expected)
        << name;
  }
}

TEST_F(EngineTest, FindMethodsRefuseDefinitionsTheyCannotSearch) {
  AppendItem({TableBegin(), Cell(0, 0), Text("a"), Cell(1, 0), Text("b"), Cell(2, 0), Text("c"),
              TableEnd()});
  for (const char* definition : {"Table 1; Row 2-3", "Table *", "Table 1, 2", "Inside Table 1"}) {
    VelkoRTChunk* chunk = Chunk(definition);
    ASSERT_NE(chunk, nullptr);
    EXPECT_EQ(chunk->FindTextChunk(1, "b", 1, "EXACT", ""), 0) << definition;
    EXPECT_EQ(chunk->status, VELKO_ERR_INVALID_ARGUMENT) << definition;
    chunk->status = 0;
    EXPECT_EQ(chunk->FindNamedChunk(1, "Table", "", 0, "", nullptr), 0) << definition;
    EXPECT_EQ(chunk->status, VELKO_ERR_INVALID_ARGUMENT) << definition;
  }
  // One index per clause is searchable.
  VelkoRTChunk* chunk = Chunk("Table 1; Row 2");
  EXPECT_EQ(chunk->FindTextChunk(1, "b", 1, "EXACT", ""), 2);
  EXPECT_EQ(chunk->status, 0);
}

} // namespace
