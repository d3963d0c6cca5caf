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

/* "[relation type start-end ... m<mode><text> l<literal>]" per clause; with
 * asWritten, only what the canonical text shows: a slot's end only when it
 * makes a range, the match text only with a mode. */
std::string Describe(const chunkdef_info* chain, bool asWritten = false) {
  std::ostringstream out;
  for (; chain != nullptr; chain = chain->next) {
    out << '[' << chain->relation << ' ' << chain->target_type;
    for (WORD i = 0; i < chain->index_count && i < kMaxDefinitionIndexes; ++i) {
      out << ' ' << chain->index_starts[i];
      if (!asWritten || chain->index_ends[i] > chain->index_starts[i])
        out << '-' << chain->index_ends[i];
    }
    if (chain->match_text != nullptr && (!asWritten || chain->match_mode != MATCH_NONE))
      out << " m" << chain->match_mode << '<' << chain->match_text << '>';
    if (!asWritten && chain->match_text != nullptr)
      out << " l" << chain->literal;
    out << ']';
  }
  return out.str();
}

class DefinitionTest : public ::testing::Test {
protected:
  void SetUp() override { HostTestReset(); }

  Chain Parse(const char* text, Before before = Before::None, DWORD* simple = nullptr) {
    chunkdef_info previous;
    previous.relation = before == Before::InsideTable ? RELATION_INSIDE : RELATION_CONTAINS;
    previous.target_type = before == Before::ContainsRow      ? TARGETTYPE_ROW
                           : before == Before::ContainsColumn ? TARGETTYPE_COLUMN
                                                              : TARGETTYPE_TABLE;
    previous.index_count = 1;
    previous.index_starts[0] = 1;
    Chain chain(ParseDefinition(session_.get(), 0, before == Before::None ? nullptr : &previous,
                                text, simple));
    EXPECT_EQ(previous.next, nullptr) << "the previous clause is read, not linked";
    return chain;
  }

  std::string Canonical(const chunkdef_info* chain) {
    char out[VELKO_SCRATCH_TEXT_SIZE];
    std::memset(out, 'x', sizeof out);
    if (!CalculateDefinition(chain, out, sizeof out))
      return "<refused>";
    return out;
  }

  std::unique_ptr<LSXLsiSession> session_ = std::make_unique<LSXLsiSession>();
};

// ---------------------------------------------------------------------------
// Parsing

TEST_F(DefinitionTest, ParsesEachKindOfClause) {
  struct Case {
    const char* text;
    Before before;
    const char* chain;
    DWORD simple;
  };
  const Case cases[] = {
      {"Table 1; Row 2; Column 3", Before::None, "[2 1 1-0][2 5 2-0][2 6 3-0]", 1},
      {"Table 1; Column 2; Row 3", Before::None, "[2 1 1-0][2 6 2-0][2 5 3-0]", 1},
      {"everything", Before::None, "[1 0]", 0},
      {"Everything 5 'x'; Table 2", Before::None, "[1 0][2 1 2-0]", 0},
      {"Table 1 - 3 , 7", Before::None, "[2 1 1-3 7-0]", 0},
      {"Table 5-3", Before::None, "[2 1 5-3]", 1},
      {"Table 65535", Before::None, "[2 1 65535-0]", 1},
      {"Table  * ", Before::None, "[2 1]", 0},
      {"tAbLeS 4", Before::None, "[2 1 4-0]", 1},
      {"Text 'Hello World' 2", Before::None, "[2 9 2-0 m1<Hello World> l1]", 1},
      {"Text ends \"lo\" 3", Before::None, "[2 9 3-0 m3<lo> l1]", 1},
      {"Text STARTS 'He'", Before::None, "[2 9 1-0 m2<He> l1]", 1},
      {"Text Substring |ell| *", Before::None, "[2 9 m4<ell> l1]", 0},
      {"Field ID 'F1'", Before::None, "[2 19 1-0 m6<F1> l1]", 1},
      {"Field Name |Subject| 2", Before::None, "[2 19 2-0 m7<Subject> l1]", 1},
      {"Field Whatever 'x'", Before::None, "[2 19 1-0 m1<x> l1]", 1},
      {"Text \"It's\"7", Before::None, "[2 9 7-0 m1<It's> l1]", 1},
      {"Text 'abc", Before::None, "[2 9 1-0 m1<abc> l1]", 1},
      {"Text '' 1", Before::None, "[2 9 1-0 m1<> l1]", 1},
      {"Text Hello 2", Before::None, "[2 9 2-0]", 1},
      {"Text Hello", Before::None, "[2 9 1-0]", 1},
      {"Text 'a; Table 2", Before::None, "[2 9 1-0 m1<a> l1][2 1 2-0]", 1},
      {"Inside Section 'Notes'", Before::None, "[3 4 1-0 m1<Notes> l1]", 0},
      {"Before Graphic 1", Before::None, "[5 15 1-0]", 0},
      // Keywords that are not canonical names; "HR" is both, so that a
      // chunk's own text on a rule parses back.
      {"ImageHotspot 2", Before::None, "[2 33 2-0]", 1},
      {"HorizontalRule 1; HR 2", Before::None, "[2 27 1-0][2 27 2-0]", 1},
      {"Contains Everything 2", Before::None, "[2 0 2-0]", 1},
      {"Starts With Table 1", Before::None, "[7 1 1-0]", 0},
      {"END TABLE", Before::None, "[8 1 1-0]", 0},
      {"  Table 1 ;  Row 2 ; ", Before::None, "[2 1 1-0][2 5 2-0]", 1},
      {"Table 1;;", Before::None, "[2 1 1-0]", 1},
      {"Row 2", Before::ContainsColumn, "[2 5 2-0]", 1},
      {"Column 3", Before::ContainsRow, "[2 6 3-0]", 1},
      {"Inside Row 2", Before::ContainsTable, "[3 5 2-0]", 0},
  };
  for (const Case& c : cases) {
    DWORD simple = 99;
    Chain chain = Parse(c.text, c.before, &simple);
    ASSERT_TRUE(chain) << c.text;
    EXPECT_EQ(Describe(chain.get()), c.chain) << c.text;
    EXPECT_EQ(simple, c.simple) << c.text;
  }
}

TEST_F(DefinitionTest, RefusesTextsThatDoNotParse) {
  // clang-format off
  const std::vector<std::pair<const char*, Before>> refused = {
      {"Inside Table 1; Row 2", Before::None}, // Row needs a Contains clause
      {"Row 1", Before::None}, {"Row 1", Before::InsideTable}, {"Row 1", Before::ContainsRow},
      {"Column 1", Before::ContainsColumn}, {"Table 1; Row 1; Row 2", Before::None},
      {"Table", Before::None}, {"Widget 1", Before::None}, {"Inside Widget 1", Before::None},
      {"Inside  ", Before::None}, {"Starts With ", Before::None}, {"", Before::None},
      {"; Table 1", Before::None}, {"Table 1;; Row 2", Before::None}, {"Table 1,*", Before::None},
      {"Table **", Before::None}, {"Table 1x", Before::None}, {"Table 1 2", Before::None},
      {"Table 1,", Before::None}, {"Table 1-", Before::None}, {"Table 1-2-3", Before::None},
      {"Table 65536", Before::None}, {"Table 2-65536", Before::None},
      {"Table 99999999999999999999999", Before::None}, {"Text 'a' xyz", Before::None},
      {"Text 'a' 1 'b'", Before::None},
      {"Text 'a;b' 2", Before::None}, // ";" ends the clause even inside quotes
  };
  // clang-format on
  for (const auto& [text, before] : refused) {
    DWORD simple = 7;
    EXPECT_FALSE(Parse(text, before, &simple)) << text;
    EXPECT_EQ(simple, 0u) << text;
  }
  EXPECT_EQ(ParseDefinition(nullptr, 0, nullptr, "Table 1", nullptr), nullptr);
  EXPECT_EQ(ParseDefinition(session_.get(), 0, nullptr, nullptr, nullptr), nullptr);
}

TEST_F(DefinitionTest, HoldsAtMostOneHundredIndexes) {
  std::string list = "Table 1";
  for (int i = 2; i <= 100; ++i)
    list.append(",").append(std::to_string(i));
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
  std::string text = "Text '" + std::string(4095 - 7, 'a') + "'";
  ASSERT_EQ(text.size(), 4095u);
  Chain chain = Parse(text.c_str());
  ASSERT_TRUE(chain);
  EXPECT_EQ(std::strlen(chain->match_text), 4088u);
  text += ' ';
  EXPECT_FALSE(Parse(text.c_str()));
}

// ---------------------------------------------------------------------------
// The canonical text

struct Slot {
  WORD start;
  WORD end;
};

chunkdef_info MakeClause(WORD relation, WORD type, std::vector<Slot> slots,
                         const char* match = nullptr, WORD mode = MATCH_NONE) {
  chunkdef_info clause;
  clause.relation = relation;
  clause.target_type = type;
  clause.index_count = static_cast<WORD>(slots.size());
  for (size_t i = 0; i < slots.size(); ++i) {
    clause.index_starts[i] = slots[i].start;
    clause.index_ends[i] = slots[i].end;
  }
  clause.match_text = const_cast<char*>(match); // not owned: the chain is on the stack
  clause.match_mode = mode;
  return clause;
}

/* The canonical text of the clauses, linked in order, in an output of the
 * size; "<refused>" when it is not written. */
std::string CanonicalOfClauses(std::vector<chunkdef_info>& clauses, size_t outSize) {
  for (size_t i = 0; i + 1 < clauses.size(); ++i)
    clauses[i].next = &clauses[i + 1];
  std::vector<char> out(outSize, 'x');
  const bool written =
      CalculateDefinition(clauses.empty() ? nullptr : &clauses[0], out.data(), out.size());
  EXPECT_EQ(written, out[0] != '\0');
  return written ? std::string(out.data()) : "<refused>";
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

TEST_F(DefinitionTest, WritesChainsAsTheCanonicalText) {
  struct Case {
    const char* name;
    std::vector<chunkdef_info> clauses;
    const char* canonical;
  };
  std::vector<Case> cases = {
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
      {"by name", {MakeClause(2, 19, {{1, 0}}, "a", MATCH_BY_NAME)}, "Field Name \"a\" 1"},
      {"contains everything", {MakeClause(2, 0, {{1, 0}})}, "Contains Everything 1"},
      {"first free quote",
       {MakeClause(2, 9, {{1, 0}}, "say \"hi\"", MATCH_EXACT)},
       "Text 'say \"hi\"' 1"},
      {"last free quote",
       {MakeClause(2, 9, {{1, 0}}, "it's \"x\"", MATCH_STARTS)},
       "Text Starts |it's \"x\"| 1"},
      {"empty match text", {MakeClause(2, 9, {{3, 0}}, "", MATCH_EXACT)}, "Text \"\" 3"},
      {"largest index", {MakeClause(2, 1, {{65534, 65535}})}, "Table 65534-65535"},
      {"two clauses",
       {MakeClause(1, 0, {}), MakeClause(3, 4, {{1, 0}}, "S", MATCH_EXACT)},
       "Everything; Inside Section \"S\" 1"},
      {"all quotes", {MakeClause(2, 9, {{1, 0}}, "a\"b'c|d", MATCH_EXACT)}, "<refused>"},
      {"separator", {MakeClause(2, 9, {{1, 0}}, "a;b", MATCH_STARTS)}, "<refused>"},
  };
  for (Case& c : cases)
    EXPECT_EQ(CanonicalOfClauses(c.clauses, VELKO_SCRATCH_TEXT_SIZE), c.canonical) << c.name;

  std::vector<chunkdef_info> tooMany = {MakeClause(2, 1, {{1, 0}})};
  tooMany[0].index_count = kMaxDefinitionIndexes + 1;
  EXPECT_EQ(CanonicalOfClauses(tooMany, VELKO_SCRATCH_TEXT_SIZE), "<refused>");
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
          EXPECT_EQ(Describe(second.get(), true), Describe(first.get(), true)) << text;
          ++checked;
        }
      }
    }
  }
  EXPECT_EQ(checked, 38 * 8 * 8 * 6);
}

} // namespace
