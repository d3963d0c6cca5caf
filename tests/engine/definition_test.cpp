// The chunk definition parser and the canonical definition text: what each
// kind of clause parses to, which texts are refused, how chains are written
// back, and that written texts parse back to the same text.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "chunk/rtchunk_internal.h"
#include "engine/definition.h"
#include "host/host_testing.h"
#include "store/vocabulary.h"

namespace {

struct ChainDeleter {
  void operator()(chunkdef_info* chain) const { DeleteChunkDefinitions(chain); }
};
using Chain = std::unique_ptr<chunkdef_info, ChainDeleter>;

/* The clause that the parsed text follows. */
enum class Before { None, ContainsTable, ContainsRow, ContainsColumn, InsideTable };

chunkdef_info MakeBefore(Before before) {
  chunkdef_info clause;
  clause.relation = before == Before::InsideTable ? RELATION_INSIDE : RELATION_CONTAINS;
  clause.target_type = before == Before::ContainsRow      ? TARGETTYPE_ROW
                       : before == Before::ContainsColumn ? TARGETTYPE_COLUMN
                                                          : TARGETTYPE_TABLE;
  clause.index_count = 1;
  clause.index_starts[0] = 1;
  return clause;
}

struct Slot {
  WORD start;
  WORD end;
};

struct Clause {
  WORD relation;
  WORD type;
  std::vector<Slot> slots; // empty: every target ("*")
  const char* match = nullptr;
  WORD mode = MATCH_NONE;
};

struct ParseCase {
  const char* text;
  Before before;
  std::vector<Clause> clauses;
  DWORD simple;
};

std::string Describe(const chunkdef_info* chain) {
  std::ostringstream out;
  for (; chain != nullptr; chain = chain->next) {
    out << '[' << chain->relation << ' ' << chain->target_type;
    for (WORD i = 0; i < chain->index_count && i < kMaxDefinitionIndexes; ++i)
      out << ' ' << chain->index_starts[i] << '-' << chain->index_ends[i];
    if (chain->match_text != nullptr)
      out << " m" << chain->match_mode << '<' << chain->match_text << "> l" << chain->literal;
    out << ']';
  }
  return out.str();
}

/* What the canonical text shows of a chain: a slot's end only when it makes
 * a range, the match text only with a mode. */
std::string DescribeAsWritten(const chunkdef_info* chain) {
  std::ostringstream out;
  for (; chain != nullptr; chain = chain->next) {
    out << '[' << chain->relation << ' ' << chain->target_type;
    for (WORD i = 0; i < chain->index_count && i < kMaxDefinitionIndexes; ++i) {
      out << ' ' << chain->index_starts[i];
      if (chain->index_ends[i] > chain->index_starts[i])
        out << '-' << chain->index_ends[i];
    }
    if (chain->match_text != nullptr && chain->match_mode != MATCH_NONE)
      out << " m" << chain->match_mode << '<' << chain->match_text << '>';
    out << ']';
  }
  return out.str();
}

std::string Describe(const std::vector<Clause>& clauses) {
  std::ostringstream out;
  for (const Clause& clause : clauses) {
    out << '[' << clause.relation << ' ' << clause.type;
    for (const Slot& slot : clause.slots)
      out << ' ' << slot.start << '-' << slot.end;
    if (clause.match != nullptr)
      out << " m" << clause.mode << '<' << clause.match << "> l1";
    out << ']';
  }
  return out.str();
}

class DefinitionTest : public ::testing::Test {
protected:
  void SetUp() override { HostTestReset(); }

  Chain Parse(const char* text, Before before = Before::None, DWORD* simple = nullptr) {
    chunkdef_info previous = MakeBefore(before);
    chunkdef_info* after = before == Before::None ? nullptr : &previous;
    return Chain(ParseDefinition(session_.get(), 0, after, text, simple));
  }

  std::string Canonical(const chunkdef_info* chain) {
    char out[VELKO_SCRATCH_TEXT_SIZE];
    std::memset(out, 'x', sizeof out);
    if (!CalculateDefinition(chain, out, sizeof out))
      return "<refused>";
    return out;
  }

  std::string CanonicalOf(const char* text) {
    Chain chain = Parse(text);
    if (!chain)
      return "<no parse>";
    return Canonical(chain.get());
  }

  std::unique_ptr<LSXLsiSession> session_ = std::make_unique<LSXLsiSession>();
};

// ---------------------------------------------------------------------------
// Parsing

const std::vector<ParseCase>& ParseCases() {
  static const std::vector<ParseCase> cases = {
      {"Table 1; Row 2; Column 3",
       Before::None,
       {{2, 1, {{1, 0}}}, {2, 5, {{2, 0}}}, {2, 6, {{3, 0}}}},
       1},
      {"Everything", Before::None, {{1, 0, {}}}, 0},
      {"everything", Before::None, {{1, 0, {}}}, 0},
      {"Everything 5 'x'; Table 2", Before::None, {{1, 0, {}}, {2, 1, {{2, 0}}}}, 0},
      {"Table 2-4,7", Before::None, {{2, 1, {{2, 4}, {7, 0}}}}, 0},
      {"Table 1 - 3 , 7", Before::None, {{2, 1, {{1, 3}, {7, 0}}}}, 0},
      {"Table 5-3", Before::None, {{2, 1, {{5, 3}}}}, 1},
      {"Table 0", Before::None, {{2, 1, {{0, 0}}}}, 1},
      {"Table 65535", Before::None, {{2, 1, {{65535, 0}}}}, 1},
      {"Table *", Before::None, {{2, 1, {}}}, 0},
      {"Table  * ", Before::None, {{2, 1, {}}}, 0},
      {"tAbLeS 4", Before::None, {{2, 1, {{4, 0}}}}, 1},
      {"Text 'Hello World' 2", Before::None, {{2, 9, {{2, 0}}, "Hello World", 1}}, 1},
      {"Text STARTS 'He'", Before::None, {{2, 9, {{1, 0}}, "He", 2}}, 1},
      {"Text ends \"lo\" 3", Before::None, {{2, 9, {{3, 0}}, "lo", 3}}, 1},
      {"Text Substring |ell| *", Before::None, {{2, 9, {}, "ell", 4}}, 0},
      {"Field ID 'F1'", Before::None, {{2, 19, {{1, 0}}, "F1", 6}}, 1},
      {"Field Name |Subject| 2", Before::None, {{2, 19, {{2, 0}}, "Subject", 7}}, 1},
      {"Field Whatever 'x'", Before::None, {{2, 19, {{1, 0}}, "x", 1}}, 1},
      {"Text \"It's\"7", Before::None, {{2, 9, {{7, 0}}, "It's", 1}}, 1},
      {"Text 'abc", Before::None, {{2, 9, {{1, 0}}, "abc", 1}}, 1},
      {"Text '' 1", Before::None, {{2, 9, {{1, 0}}, "", 1}}, 1},
      {"Text Hello 2", Before::None, {{2, 9, {{2, 0}}}}, 1},
      {"Text Hello", Before::None, {{2, 9, {{1, 0}}}}, 1},
      {"Text ", Before::None, {{2, 9, {{1, 0}}}}, 1},
      {"Inside Section 'Notes'", Before::None, {{3, 4, {{1, 0}}, "Notes", 1}}, 0},
      {"Inside Table", Before::None, {{3, 1, {{1, 0}}}}, 0},
      {"Outside Table 2", Before::None, {{4, 1, {{2, 0}}}}, 0},
      {"Before Graphic 1", Before::None, {{5, 15, {{1, 0}}}}, 0},
      {"After Hotspot 3", Before::None, {{6, 2, {{3, 0}}}}, 0},
      {"Contains Table 3", Before::None, {{2, 1, {{3, 0}}}}, 1},
      {"Contains Everything 2", Before::None, {{2, 0, {{2, 0}}}}, 1},
      {"Starts With Table 1", Before::None, {{7, 1, {{1, 0}}}}, 0},
      {"Ends With Table 1", Before::None, {{8, 1, {{1, 0}}}}, 0},
      {"Starts Table 2", Before::None, {{7, 1, {{2, 0}}}}, 0},
      {"END TABLE", Before::None, {{8, 1, {{1, 0}}}}, 0},
      {"  Table 1 ;  Row 2 ; ", Before::None, {{2, 1, {{1, 0}}}, {2, 5, {{2, 0}}}}, 1},
      {"Table 1;;", Before::None, {{2, 1, {{1, 0}}}}, 1},
      {"Row 2", Before::ContainsTable, {{2, 5, {{2, 0}}}}, 1},
      {"Row 2", Before::ContainsColumn, {{2, 5, {{2, 0}}}}, 1},
      {"Column 3", Before::ContainsRow, {{2, 6, {{3, 0}}}}, 1},
      {"Inside Row 2", Before::ContainsTable, {{3, 5, {{2, 0}}}}, 0},
      {"Table 1; Column 2; Row 3",
       Before::None,
       {{2, 1, {{1, 0}}}, {2, 6, {{2, 0}}}, {2, 5, {{3, 0}}}},
       1},
  };
  return cases;
}

TEST_F(DefinitionTest, ParsesEachKindOfClause) {
  for (const ParseCase& c : ParseCases()) {
    DWORD simple = 99;
    Chain chain = Parse(c.text, c.before, &simple);
    ASSERT_TRUE(chain) << c.text;
    EXPECT_EQ(Describe(chain.get()), Describe(c.clauses)) << c.text;
    EXPECT_EQ(simple, c.simple) << c.text;
    for (const chunkdef_info* clause = chain.get(); clause != nullptr; clause = clause->next) {
      EXPECT_EQ(clause->literal, clause->match_text != nullptr ? 1u : 0u) << c.text;
      EXPECT_EQ(clause->text_copy, nullptr);
      EXPECT_EQ(clause->extra, nullptr);
      EXPECT_EQ(clause->run_next, nullptr);
    }
  }
}

TEST_F(DefinitionTest, TargetWordsAreMatchedByPrefixInOrder) {
  // Words that begin with the same letters, and the parser's other spellings.
  // clang-format off
  const std::vector<std::pair<const char*, WORD>> words = {
      {"HR 1", 27},           {"HorizontalRule 1", 27}, {"Hrule 1", 27},
      {"HTML 1", 25},         {"Hyperlink 1", 16},      {"Hotspot 1", 2},
      {"XHTML 1", 26},        {"XML 1", 22},            {"ParagraphList 1", 36},
      {"Paragraphs 1", 21},   {"GraphicHotspot 1", 33}, {"Graphics 1", 15},
      {"ImageHotspot 1", 33}, {"ImageMap 1", 32},       {"Layers 1", 29},
      {"Layout 1", 30},       {"Ignore 1", 34},         {"NonBlankText 1", 35},
      {"Texts 1", 9},         {"Files 1", 7},           {"Fields 1", 19},
  };
  // clang-format on
  for (const auto& [text, type] : words) {
    Chain chain = Parse(text);
    ASSERT_TRUE(chain) << text;
    EXPECT_EQ(chain->target_type, type) << text;
    EXPECT_EQ(chain->relation, RELATION_CONTAINS) << text;
  }
}

TEST_F(DefinitionTest, RefusesTextsThatDoNotParse) {
  const std::vector<std::pair<const char*, Before>> refused = {
      {"Inside Table 1; Row 2", Before::None}, // Row needs a Contains clause
      {"Table", Before::None},
      {"Table;", Before::None},
      {"Row 1", Before::None},
      {"Column 1", Before::None},
      {"Row 1", Before::InsideTable},
      {"Row 1", Before::ContainsRow},
      {"Column 1", Before::ContainsColumn},
      {"Table 1; Row 1; Row 2", Before::None},
      {"Widget 1", Before::None},
      {"Inside Widget 1", Before::None},
      {"Inside  ", Before::None},
      {"Starts With", Before::None},
      {"Starts With ", Before::None},
      {"", Before::None},
      {"   ", Before::None},
      {";", Before::None},
      {"; Table 1", Before::None},
      {"Table 1;; Row 2", Before::None},
      {"Table 1; ; Text 2", Before::None},
      {"Table 1,*", Before::None},
      {"Table **", Before::None},
      {"Table 1x", Before::None},
      {"Table 1 2", Before::None},
      {"Table 1,", Before::None},
      {"Table 1,,2", Before::None},
      {"Table 1-", Before::None},
      {"Table 1-x", Before::None},
      {"Table 1--3", Before::None},
      {"Table 1-2-3", Before::None},
      {"Table 65536", Before::None},
      {"Table 2-65536", Before::None},
      {"Table 99999999999999999999999", Before::None},
      {"Text 'a' xyz", Before::None},
      {"Text 'a' -1", Before::None},
      {"Text 'a' 1 'b'", Before::None},
  };
  for (const auto& [text, before] : refused) {
    DWORD simple = 7;
    EXPECT_FALSE(Parse(text, before, &simple)) << text;
    EXPECT_EQ(simple, 0u) << text;
  }
  EXPECT_EQ(ParseDefinition(nullptr, 0, nullptr, "Table 1", nullptr), nullptr);
  EXPECT_EQ(ParseDefinition(session_.get(), 0, nullptr, nullptr, nullptr), nullptr);
}

TEST_F(DefinitionTest, MatchTextEndsTheClauseAtASeparator) {
  // ";" ends the clause even inside quotes: the match text cannot hold one.
  Chain chain = Parse("Text 'a;b' 2");
  EXPECT_FALSE(chain);
  chain = Parse("Text 'a; Table 2");
  ASSERT_TRUE(chain);
  EXPECT_EQ(Describe(chain.get()), "[2 9 1-0 m1<a> l1][2 1 2-0]");
}

TEST_F(DefinitionTest, HoldsAtMostOneHundredIndexes) {
  std::string list = "Table 1";
  for (int i = 2; i <= 100; ++i) {
    list += ',';
    list += std::to_string(i);
  }
  DWORD simple = 7;
  Chain chain = Parse(list.c_str(), Before::None, &simple);
  ASSERT_TRUE(chain);
  EXPECT_EQ(chain->index_count, 100);
  EXPECT_EQ(chain->index_starts[99], 100);
  EXPECT_EQ(simple, 0u);
  list += ",101";
  EXPECT_FALSE(Parse(list.c_str()));
}

TEST_F(DefinitionTest, TextsOverTheScratchTextAreRefused) {
  // "Text '", the match text and "'": 4095 characters still fit with the NUL.
  std::string text = "Text '";
  text.append(4095 - 7, 'a');
  text += '\'';
  ASSERT_EQ(text.size(), 4095u);
  Chain chain = Parse(text.c_str());
  ASSERT_TRUE(chain);
  EXPECT_EQ(std::strlen(chain->match_text), 4088u);
  text += ' ';
  EXPECT_FALSE(Parse(text.c_str()));
}

TEST_F(DefinitionTest, UpperCasedCopyGoesToTheFirstScratchText) {
  std::memset(session_->scratch_first, 'z', VELKO_SCRATCH_TEXT_SIZE);
  Chain chain = Parse("Text 'Hello' 2");
  ASSERT_TRUE(chain);
  EXPECT_STREQ(session_->scratch_first, "TEXT 'HELLO' 2");
  EXPECT_STREQ(chain->match_text, "Hello");
}

TEST_F(DefinitionTest, TextInTheScratchTextKeepsItsCase) {
  std::strcpy(session_->scratch_first + 10, "Text 'Hello' 2");
  Chain chain(ParseDefinition(session_.get(), 0, nullptr, session_->scratch_first + 10, nullptr));
  ASSERT_TRUE(chain);
  EXPECT_STREQ(chain->match_text, "Hello");
  EXPECT_EQ(chain->index_starts[0], 2);
}

TEST_F(DefinitionTest, PreviousClauseIsReadButNotLinked) {
  chunkdef_info previous = MakeBefore(Before::ContainsTable);
  Chain chain(ParseDefinition(session_.get(), 0, &previous, "Row 2", nullptr));
  ASSERT_TRUE(chain);
  EXPECT_EQ(previous.next, nullptr);
  EXPECT_EQ(chain->next, nullptr);
}

TEST_F(DefinitionTest, GetChunkDefFromChunkAnswersTheChunksChain) {
  EXPECT_EQ(GetChunkDefFromChunk(nullptr), nullptr);
  VelkoRTChunk chunk(session_.get(), nullptr);
  EXPECT_EQ(GetChunkDefFromChunk(&chunk), nullptr);
  chunk.internal->definitions = ParseDefinition(session_.get(), 0, nullptr, "Table 1", nullptr);
  ASSERT_NE(chunk.internal->definitions, nullptr);
  EXPECT_EQ(GetChunkDefFromChunk(&chunk), chunk.internal->definitions);

  _internal_RTCHUNK* state = chunk.internal;
  chunk.internal = nullptr;
  EXPECT_EQ(GetChunkDefFromChunk(&chunk), nullptr);
  chunk.internal = state;
}

// ---------------------------------------------------------------------------
// The canonical text

TEST_F(DefinitionTest, WritesTheCanonicalTextOfParsedDefinitions) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"Table 1; Row 2", "Table 1; Row 2"},
      {"table 1;row 2;  column 3", "Table 1; Row 2; Column 3"},
      {"END TABLE", "Ends With Table 1"},
      {"start table 2", "Starts With Table 2"},
      {"Everything", "Everything"},
      {"everything 3; table 2-4,7", "Everything; Table 2-4,7"},
      {"Table 2 - 4 ,7", "Table 2-4,7"},
      {"Table 5-3", "Table 5"},
      {"Table 3-3", "Table 3"},
      {"Table 0-2", "Table 0-2"},
      {"Table *", "Table *"},
      {"inside table", "Inside Table 1"},
      {"outside table 2", "Outside Table 2"},
      {"before hotspot 1", "Before Hotspot 1"},
      {"after button 1", "After Button 1"},
      {"contains table 4", "Table 4"},
      {"Contains Everything 1", "Contains Everything 1"},
      {"Inside Everything", "Inside Everything 1"},
      {"HorizontalRule 1", "HR 1"},
      {"hr 2", "HR 2"},
      {"Layout 2", "LayoutRegion 2"},
      {"Ignore *", "Ignored *"},
      {"ImageHotspot 1", "GraphicHotspot 1"},
      {"Text 'Hello World' 2", "Text \"Hello World\" 2"},
      {"Text STARTS 'abc'", "Text Starts \"abc\" 1"},
      {"Text Ends 'x' 2", "Text Ends \"x\" 2"},
      {"Text SUBSTRING 'x'", "Text Substring \"x\" 1"},
      {"Field id 'x'", "Field ID \"x\" 1"},
      {"Field NAME 'x' *", "Field Name \"x\" *"},
      {"Field Other |x|", "Field \"x\" 1"},
      {"Text 'say \"hi\"' 1", "Text 'say \"hi\"' 1"},
      {"Text |it's \"x\"| 1", "Text |it's \"x\"| 1"},
      {"Text '' 3", "Text \"\" 3"},
      {"Text 'abc", "Text \"abc\" 1"},
      {"Text Hello 2", "Text 2"},
      {"Inside Section 'Notes'; Table 1; Row 2; Text Starts 'Q' 1",
       "Inside Section \"Notes\" 1; Table 1; Row 2; Text Starts \"Q\" 1"},
  };
  for (const auto& [text, canonical] : cases)
    EXPECT_EQ(CanonicalOf(text), canonical) << text;
}

struct ChainCase {
  const char* name;
  std::vector<chunkdef_info> clauses;
  const char* canonical; // null: refused
};

chunkdef_info MakeClause(WORD relation, WORD type, std::vector<Slot> slots,
                         const char* match = nullptr, WORD mode = MATCH_NONE) {
  chunkdef_info clause;
  clause.relation = relation;
  clause.target_type = type;
  clause.index_count = static_cast<WORD>(slots.size());
  for (size_t i = 0; i < slots.size() && i < kMaxDefinitionIndexes; ++i) {
    clause.index_starts[i] = slots[i].start;
    clause.index_ends[i] = slots[i].end;
  }
  clause.match_text = const_cast<char*>(match); // not owned: the chain is on the stack
  clause.match_mode = mode;
  return clause;
}

std::string CanonicalOfClauses(std::vector<chunkdef_info>& clauses, size_t outSize) {
  for (size_t i = 0; i + 1 < clauses.size(); ++i)
    clauses[i].next = &clauses[i + 1];
  std::vector<char> out(outSize);
  const chunkdef_info* chain = clauses.empty() ? nullptr : &clauses[0];
  const bool written = CalculateDefinition(chain, out.data(), out.size());
  if (outSize > 0) {
    EXPECT_EQ(written, std::strlen(out.data()) > 0);
  }
  return written ? std::string(out.data()) : "<refused>";
}

TEST_F(DefinitionTest, WritesChainsAsTheCanonicalText) {
  std::vector<ChainCase> cases = {
      {"empty chain", {}, "Everything"},
      {"everything", {MakeClause(1, 0, {{4, 0}})}, "Everything"},
      {"every target", {MakeClause(2, 1, {})}, "Table *"},
      {"slots", {MakeClause(2, 1, {{3, 0}, {3, 5}, {7, 2}})}, "Table 3,3-5,7"},
      {"starts with", {MakeClause(7, 1, {{1, 0}})}, "Starts With Table 1"},
      {"ends with", {MakeClause(8, 9, {{2, 0}})}, "Ends With Text 2"},
      {"relation 0", {MakeClause(0, 1, {{1, 0}})}, "Error Table 1"},
      {"relation 9", {MakeClause(9, 1, {{1, 0}})}, "Error Table 1"},
      {"type 38", {MakeClause(3, 38, {{1, 0}})}, "Inside Error 1"},
      {"mode without text", {MakeClause(2, 9, {{1, 0}}, nullptr, MATCH_STARTS)}, "Text 1"},
      {"text without mode", {MakeClause(2, 9, {{1, 0}}, "a", MATCH_NONE)}, "Text 1"},
      {"mode 5", {MakeClause(2, 9, {{1, 0}}, "a", 5)}, "Text \"a\" 1"},
      {"by id", {MakeClause(2, 19, {{1, 0}}, "a", MATCH_BY_ID)}, "Field ID \"a\" 1"},
      {"by name", {MakeClause(2, 19, {{1, 0}}, "a", MATCH_BY_NAME)}, "Field Name \"a\" 1"},
      {"largest index", {MakeClause(2, 1, {{65534, 65535}})}, "Table 65534-65535"},
      {"two clauses",
       {MakeClause(1, 0, {}), MakeClause(3, 4, {{1, 0}}, "S", MATCH_EXACT)},
       "Everything; Inside Section \"S\" 1"},
      {"all quotes", {MakeClause(2, 9, {{1, 0}}, "a\"b'c|d", MATCH_EXACT)}, nullptr},
      {"separator", {MakeClause(2, 9, {{1, 0}}, "a;b", MATCH_STARTS)}, nullptr},
  };
  for (ChainCase& c : cases) {
    EXPECT_EQ(CanonicalOfClauses(c.clauses, VELKO_SCRATCH_TEXT_SIZE),
              c.canonical != nullptr ? c.canonical : "<refused>")
        << c.name;
  }
}

TEST_F(DefinitionTest, RefusesMoreIndexesThanSlots) {
  std::vector<chunkdef_info> clauses = {MakeClause(2, 1, {{1, 0}})};
  clauses[0].index_count = kMaxDefinitionIndexes + 1;
  EXPECT_EQ(CanonicalOfClauses(clauses, VELKO_SCRATCH_TEXT_SIZE), "<refused>");
}

TEST_F(DefinitionTest, StopsBeforeTheOutputWouldOverflow) {
  std::vector<chunkdef_info> clauses = {MakeClause(2, 1, {{1, 0}})};
  EXPECT_EQ(CanonicalOfClauses(clauses, 8), "Table 1"); // 7 characters and the NUL
  EXPECT_EQ(CanonicalOfClauses(clauses, 7), "<refused>");
  EXPECT_EQ(CanonicalOfClauses(clauses, 1), "<refused>");
  std::vector<chunkdef_info> none;
  EXPECT_EQ(CanonicalOfClauses(none, 11), "Everything");
  EXPECT_EQ(CanonicalOfClauses(none, 10), "<refused>");

  char out[4] = {'x', 'x', 'x', 'x'};
  EXPECT_FALSE(CalculateDefinition(nullptr, out, 0));
  EXPECT_EQ(out[0], 'x');
  EXPECT_FALSE(CalculateDefinition(nullptr, nullptr, 100));
}

TEST_F(DefinitionTest, CanonicalTextLongerThanTheDefinitionIsRefused) {
  // "END TABLE;" (10 characters) is written "Ends With Table 1; " (19).
  std::string text;
  while (text.size() + 10 <= 4095)
    text += "END TABLE;";
  Chain chain = Parse(text.c_str());
  ASSERT_TRUE(chain);
  auto out = std::make_unique<char[]>(VELKO_SCRATCH_TEXT_SIZE);
  std::memset(out.get(), 'x', VELKO_SCRATCH_TEXT_SIZE);
  EXPECT_FALSE(CalculateDefinition(chain.get(), out.get(), VELKO_SCRATCH_TEXT_SIZE));
  EXPECT_EQ(out[0], '\0');
  // 215 clauses (215 * 19 - 2 = 4083 characters) still fit.
  chunkdef_info* last = chain.get();
  for (int i = 1; i < 215; ++i)
    last = last->next;
  DeleteChunkDefinitions(last->next);
  last->next = nullptr;
  EXPECT_TRUE(CalculateDefinition(chain.get(), out.get(), VELKO_SCRATCH_TEXT_SIZE));
  EXPECT_EQ(std::strlen(out.get()), 4083u);
}

// ---------------------------------------------------------------------------
// Round trip

TEST_F(DefinitionTest, CanonicalTextsParseBackToTheSameText) {
  const char* const relations[] = {"",        "Contains ", "Inside ",      "Outside ",
                                   "Before ", "After ",    "Starts With ", "Ends With "};
  const char* const matches[] = {
      "",        "'a b' ",       "Starts \"x\" ", "Ends 'y' ", "Substr |z| ",
      "ID 'k' ", "Name |it's| ", "Other |q\"'| "};
  const char* const indexes[] = {"1", "2-4,7", "*", "0", "9-2", ""};
  int checked = 0;
  for (WORD type = 0; type < kTargetTypeCount; ++type) {
    for (const char* relation : relations) {
      for (const char* match : matches) {
        for (const char* index : indexes) {
          const std::string text = std::string("Table 1; ") + relation +
                                   targettype_name_table[type] + " " + match + index;
          Chain first = Parse(text.c_str());
          ASSERT_TRUE(first) << text;
          ASSERT_NE(first->next, nullptr) << text;
          EXPECT_EQ(first->next->target_type, type) << text;
          const std::string canonical = Canonical(first.get());
          ASSERT_NE(canonical, "<refused>") << text;
          Chain second = Parse(canonical.c_str());
          ASSERT_TRUE(second) << canonical;
          EXPECT_EQ(Canonical(second.get()), canonical) << text;
          EXPECT_EQ(DescribeAsWritten(second.get()), DescribeAsWritten(first.get())) << text;
          ++checked;
        }
      }
    }
  }
  EXPECT_EQ(checked, 38 * 8 * 8 * 6);
}

} // namespace
