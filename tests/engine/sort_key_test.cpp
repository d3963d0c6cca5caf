// The keys of table rows that a row sort orders (action 11) and the keys of
// whole chunks (action 2): run over a chunk of a body built record by
// record, the keys the chunk keeps afterwards are compared whole (record
// range, text, title flag): the key column, title rows, labels and section
// titles as keys, cells of a nested table and of columns past 63, and
// tables of more rows than the first key room holds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/tracked_memory_testing.h"
#include "store/vocabulary.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;

struct key {
  DWORD first;
  DWORD last;
  std::string text;
  DWORD title;
  bool operator==(const key&) const = default;
};

void PrintTo(const key& k, std::ostream* out) {
  *out << "{" << k.first << "-" << k.last << " \"" << k.text << "\" " << k.title << "}";
}

class SortKeyTest : public EngineTest {
protected:
  /* A new note and session for the next case. */
  void Reset() {
    TearDown();
    item_ = nullptr;
    state_ = nullptr;
    SetUp();
  }

  std::vector<key> Keys(VelkoRTChunk* chunk) {
    std::vector<key> keys;
    const _internal_RTCHUNK* internal = chunk->internal;
    for (WORD i = 0; i < internal->sort_key_count; ++i) {
      const chunk_sort_key& k = internal->sort_keys[i];
      keys.push_back({k.first_record, k.last_record,
                      k.text != nullptr ? std::string(k.text, k.length) : std::string(), k.title});
    }
    return keys;
  }

  /* Action 11 over "Table 1" of the records. */
  std::vector<key> RowKeys(const std::vector<Bytes>& records, WORD column, WORD titles,
                           WORD titleRows, const char* kind) {
    AppendItem(records);
    VelkoRTChunk* chunk = Chunk("Table 1");
    EXPECT_EQ(
        Run(chunk, ACTION_COLLECT_SORT_KEYS, column, titles, nullptr, kind, nullptr, titleRows),
        NOERROR);
    return Keys(chunk);
  }
};

Bytes Label(const std::string& text) {
  Bytes record = cdbuild::Sized(SIG_CD_TABLELABEL, sizeof(CDTABLELABEL));
  for (size_t i = 0; i < text.size(); ++i)
    record[4 + i] = static_cast<BYTE>(text[i]);
  return record;
}

/* Records 1-2 before the table; the table begins at record 3. */
std::vector<Bytes> Table(const std::vector<std::vector<std::string>>& rows) {
  std::vector<Bytes> records = {PabDef(1), PabRef(1), TableBegin()};
  for (size_t row = 0; row < rows.size(); ++row) {
    for (size_t column = 0; column < rows[row].size(); ++column) {
      records.push_back(Cell(static_cast<BYTE>(row), static_cast<BYTE>(column)));
      records.push_back(Text(rows[row][column]));
    }
  }
  records.push_back(TableEnd());
  records.push_back(Paragraph());
  records.push_back(Text("after"));
  return records;
}

TEST_F(SortKeyTest, EachRowGetsTheTextOfItsKeyColumn) {
  // Rows at records 4-7, 8-11 and 12-15; the table ends at 16.
  const auto table = Table({{"b", "two"}, {"a", "one"}, {"c", "three"}});
  const struct {
    const char* name;
    WORD column;
    std::vector<key> keys;
  } cases[] = {
      {"first column", 0, {{4, 7, "b", 0}, {8, 11, "a", 0}, {12, 15, "c", 0}}},
      {"second column", 1, {{4, 7, "two", 0}, {8, 11, "one", 0}, {12, 15, "three", 0}}},
      {"no such column", 5, {{4, 7, "", 0}, {8, 11, "", 0}, {12, 15, "", 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    EXPECT_EQ(RowKeys(table, c.column, 0, 0, "TEXT"), c.keys);
  }
}

TEST_F(SortKeyTest, TitleRowsKeepTheirPlaceAndTheFirstGivesNoText) {
  const auto table = Table({{"head"}, {"sub"}, {"x"}, {"y"}});
  EXPECT_EQ(RowKeys(table, 0, 1, 2, "TEXT"),
            (std::vector<key>{{4, 5, "", 1}, {6, 7, "sub", 1}, {8, 9, "x", 0}, {10, 11, "y", 0}}));
}

TEST_F(SortKeyTest, LabelsAndSectionTitlesAreKeysWhenAsked) {
  std::vector<Bytes> records = {
      PabDef(1),     PabRef(1),  TableBegin(), Cell(0, 0),  Label("zz"),
      Text("first"), Cell(1, 0), Label("aa"),  Text("two"), cdbuild::SectionBar({.title = "Sec"}),
      TableEnd()};
  EXPECT_EQ(RowKeys(records, 0, 0, 0, "TabLabel"),
            (std::vector<key>{{4, 6, "zz", 0}, {7, 10, "aa", 0}}));
  Reset();
  EXPECT_EQ(RowKeys(records, 0, 0, 0, "SECTION"),
            (std::vector<key>{{4, 6, "", 0}, {7, 10, "Sec", 0}}));
}

TEST_F(SortKeyTest, CellsOfANestedTableAndOfColumnsPast63GiveNoKey) {
  std::vector<Bytes> records = {PabDef(1),        PabRef(1),        TableBegin(),  Cell(0, 0),
                                TableBegin(true), Cell(0, 0, true), Text("inner"), Cell(1, 0, true),
                                Text("inner2"),   TableEnd(true),   Text("outer"), Cell(0, 64),
                                Text("far"),      Cell(1, 0),       Cell(1, 64),   Text("far2"),
                                Text("late"),     TableEnd()};
  // The second row's text comes only after its cell of column 64.
  EXPECT_EQ(RowKeys(records, 0, 0, 0, "TEXT"),
            (std::vector<key>{{4, 13, "outer", 0}, {14, 17, "", 0}}));
}

TEST_F(SortKeyTest, ThreeHundredRowsGiveThreeHundredKeys) {
  std::vector<std::vector<std::string>> rows;
  for (int row = 0; row < 300; ++row)
    rows.push_back({"row " + std::to_string(row)});
  const std::vector<key> keys = RowKeys(Table(rows), 0, 0, 0, "TEXT");
  ASSERT_EQ(keys.size(), 300u);
  // The texts share the slabs of one arena: the keys of a long table cost
  // a few tracked blocks, not one per row.
  EXPECT_LT(VelkoTrackedBlocksInUse(session_), 10u);
  for (DWORD row = 0; row < 300; ++row)
    EXPECT_EQ(keys[row], (key{4 + 2 * row, 5 + 2 * row, "row " + std::to_string(row), 0}));
}

TEST_F(SortKeyTest, EveryOccurrenceOfAChunkIsOneKey) {
  AppendItem({PabDef(1), PabRef(1), Text("a"), Paragraph(), PabRef(1), Text("b"), Paragraph(),
              PabRef(1), Text("c")});
  std::vector<key> positions;
  for (const char* paragraph : {"Paragraph 1", "Paragraph 2", "Paragraph 3"}) {
    const auto [first, last] = Positions(paragraph);
    positions.push_back({first, last, "", 0});
  }
  VelkoRTChunk* chunk = Chunk("Paragraph *");
  ASSERT_EQ(Run(chunk, ACTION_COLLECT_SORT_KEY), NOERROR);
  EXPECT_EQ(Keys(chunk), positions);
}

/* Every key, key text and growth of the key table that memory refuses
 * ends the run with 263 and leaves the chunk without keys. */
TEST_F(SortKeyTest, MemoryRefusedForKeysEndsTheRunWithoutKeys) {
  std::vector<std::vector<std::string>> rows;
  for (int row = 0; row < 260; ++row)
    rows.push_back({"row " + std::to_string(row)});
  const auto table = Table(rows);
  int refused = 0;
  HostTestCaptureLog(true);
  for (int nth = 1; nth < 1000; ++nth) {
    SCOPED_TRACE(nth);
    Reset();
    AppendItem(table);
    VelkoRTChunk* chunk = Chunk("Table 1");
    VelkoTestFailTrackedAllocation(nth);
    const STATUS status = Run(chunk, ACTION_COLLECT_SORT_KEYS, 0, 0, nullptr, "TEXT");
    const bool fired = VelkoTestTrackedRequests() >= nth;
    VelkoTestFailTrackedAllocation(0);
    if (!fired) {
      EXPECT_EQ(status, NOERROR);
      EXPECT_EQ(Keys(chunk).size(), 260u);
      break;
    }
    ++refused;
    EXPECT_EQ(status, VELKO_ERR_MEMORY);
    EXPECT_TRUE(Keys(chunk).empty());
  }
  HostTestCaptureLog(false);
  // The key table, its growth and one text per row at least.
  EXPECT_GE(refused, 262);
}

} // namespace
