// The table renderer's cell walkers, hidden-table test and header flags,
// on record lists written as record scripts: each case names records by
// their place in the list (0 = the first record; -1 = none).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cdbuild/cd_script.h"
#include "render/paragraphs.h"
#include "render/table.h"
#include "render/table_parts.h"
#include "render_fixture.h"

namespace {

using driver_testing::DriverTest;

class TableCellsTest : public DriverTest {
protected:
  /* Builds and loads the script; the records in list order. */
  void Use(const std::string &script, const char *options = nullptr) {
    cdbuild::Body body;
    cdbuild::ScriptError error;
    ASSERT_TRUE(cdbuild::BuildScript(script, &body, &error)) << error.line << ": " << error.message;
    Prepare(body, options);
    nodes_.clear();
    for (record_storage *node = records_->records; node != nullptr; node = node->next)
      nodes_.push_back(node);
  }
  record_storage *At(int index) const {
    return index < 0 ? nullptr : nodes_.at(static_cast<size_t>(index));
  }
  int IndexOf(const record_storage *node) const {
    for (size_t i = 0; i < nodes_.size(); ++i) {
      if (nodes_[i] == node)
        return static_cast<int>(i);
    }
    return -1;
  }
  std::vector<record_storage *> nodes_;
};

/* A 2x2 table whose first cell holds a nested table. */
constexpr const char *kNested = R"(TABLEBEGIN
TABLECELL row=0 column=0
TEXT text="a"
TABLEBEGIN nested=yes
TABLECELL row=0 column=0 nested=yes
TABLECELL row=0 column=1 nested=yes
TABLEEND nested=yes
TABLECELL row=0 column=1
TABLECELL row=1 column=0
TABLECELL row=1 column=1
TABLEEND
TEXT text="after"
)";
// 0 begin, 1 cell, 2 text, 3 nested begin, 4 nested cell, 5 nested cell,
// 6 nested end, 7 cell, 8 cell, 9 cell, 10 end, 11 text

TEST_F(TableCellsTest, WalkersStepOverNestedTables) {
  Use(kNested);
  const struct {
    const char *name;
    record_storage *(*walk)(html_render_info *, record_storage *);
    int from;
    int expected;
  } cases[] = {
      {"next skips the nested table", FindNextTableCell, 1, 7},
      {"next of the last cell is the end", FindNextTableCell, 9, 10},
      {"next inside the nested table", FindNextTableCell, 4, 5},
      {"next of the nested table's last cell", FindNextTableCell, 5, 6},
      {"next of no cell", FindNextTableCell, 2, -1},
      {"previous skips the nested table", FindPreviousTableCell, 7, 1},
      {"previous of the first cell is the begin", FindPreviousTableCell, 1, 0},
      {"previous inside the nested table", FindPreviousTableCell, 4, 3},
      {"end of a cell", FindEndOfTable, 1, 10},
      {"end of a nested cell", FindEndOfTable, 4, 6},
      {"end of an end is itself", FindEndOfTable, 10, 10},
      {"end from the begin", FindEndOfTable, 0, 10},
      {"end from the nested begin", FindEndOfTable, 3, 6},
  };
  for (const auto &c : cases)
    EXPECT_EQ(IndexOf(c.walk(context_, At(c.from))), c.expected) << c.name;
  EXPECT_EQ(FindNextTableCell(context_, nullptr), nullptr);
  EXPECT_EQ(FindEndOfTable(context_, nullptr), nullptr);
}

TEST_F(TableCellsTest, ATableWithoutItsEndHasNone) {
  Use("TABLEBEGIN\nTABLECELL row=0 column=0\nTABLECELL row=0 column=1\n");
  EXPECT_EQ(FindNextTableCell(context_, At(2)), nullptr);
  EXPECT_EQ(FindEndOfTable(context_, At(1)), nullptr);
}

/* Merged layouts: the first column over two rows (flag 0x08), the first
 * row over two columns (flag 0x04), a spanning cell that is missing, and
 * a row covered from above. */
TEST_F(TableCellsTest, DisplayedCellsStartsAndRows) {
  const struct {
    const char *name;
    const char *script;
    std::vector<int> displayed; /* per record: FindDisplayedTableCell */
    std::vector<int> startsRow; /* per record: CellStartsRow */
  } cases[] = {
      {"first column merged",
       "TABLEBEGIN\nTABLECELL row=0 column=0 flags=0x08\nTABLECELL row=0 column=1\n"
       "TABLECELL row=1 column=0 rowspan=2\nTABLECELL row=1 column=1\nTABLEEND\n",
       {-1, 3, 2, 3, 4, -1},
       {0, 1, 0, 1, 1, 0}},
      {"first row merged",
       "TABLEBEGIN\nTABLECELL row=0 column=0 flags=0x04\nTABLECELL row=0 column=1 colspan=2\n"
       "TABLECELL row=1 column=0\nTABLECELL row=1 column=1\nTABLEEND\n",
       {-1, 2, 2, 3, 4, -1},
       {0, 1, 1, 1, 0, 0}},
      {"spanning cell missing",
       "TABLEBEGIN\nTABLECELL row=0 column=0 flags=0x04\nTABLECELL row=0 column=1\nTABLEEND\n",
       {-1, -1, 2, -1},
       {0, 1, 1, 0}},
  };
  for (const auto &c : cases) {
    Use(c.script);
    for (size_t i = 0; i < c.displayed.size(); ++i) {
      EXPECT_EQ(IndexOf(FindDisplayedTableCell(context_, At(static_cast<int>(i)))),
                c.displayed[i])
          << c.name << ", record " << i;
      EXPECT_EQ(CellStartsRow(context_, At(static_cast<int>(i))), c.startsRow[i])
          << c.name << ", record " << i;
    }
  }
}

/* Whether a cell opens a row, asked with the cell before it already known
 * (as the renderer knows it from its scan of that cell), agrees with the
 * walk back from the cell: spans, covered cells, nested tables and
 * content between the cells. */
TEST_F(TableCellsTest, RowStartFromAKnownPreviousCellAgreesWithTheWalk) {
  const char *const scripts[] = {
      "TABLEBEGIN\nTABLECELL row=0 column=0 flags=0x08\nTABLECELL row=0 column=1\n"
      "TABLECELL row=1 column=0 rowspan=2\nTABLECELL row=1 column=1\nTABLEEND\n",
      "TABLEBEGIN\nTABLECELL row=0 column=0 flags=0x04\nTABLECELL row=0 column=1 colspan=2\n"
      "TABLECELL row=1 column=0\nTABLECELL row=1 column=1\nTABLEEND\n",
      "TABLEBEGIN\nTABLECELL row=0 column=0 rowspan=2\nTABLECELL row=0 column=1\n"
      "TABLECELL row=0 column=2 flags=0x08\nTABLECELL row=1 column=0 flags=0x04\n"
      "TABLECELL row=1 column=1\nTABLECELL row=1 column=2 rowspan=2 colspan=1\n"
      "TABLECELL row=2 column=0 flags=0x04\nTABLECELL row=2 column=1 colspan=2\nTABLEEND\n",
      kNested,
      "TABLEBEGIN\nTABLECELL row=0 column=0\nPABREF id=1\nTEXT text=\"a\"\n"
      "TABLECELL row=0 column=1\nTABLEBEGIN nested=yes\nTABLECELL row=0 column=0 nested=yes\n"
      "TABLEEND nested=yes\nTABLECELL row=1 column=1\nTABLECELL row=1 column=2 flags=0x0C\n"
      "TABLECELL row=2 column=1\nTABLEEND\n",
  };
  for (const char *script : scripts) {
    Use(script);
    int asked = 0;
    for (size_t i = 0; i < nodes_.size(); ++i) {
      record_storage *cell = At(static_cast<int>(i));
      record_storage *previous = FindPreviousTableCell(context_, cell);
      cell_fields self;
      cell_fields before;
      if (!ReadCellFields(cell, &self) || !ReadCellFields(previous, &before))
        continue;
      ++asked;
      EXPECT_EQ(CellAfterStartsRow(context_, self, previous, before), CellStartsRow(context_, cell))
          << script << "record " << i;
    }
    EXPECT_GT(asked, 2) << script;
  }
}

/* The rows of rendered tables whose cells are merged or hold nested
 * tables: each row opens at the cell that starts it, also where the cell
 * before it held a nested table or was covered. */
TEST_F(TableCellsTest, RowsOpenWhereTheirFirstCellsStand) {
  const struct {
    const char *script;
    const char *rows; /* the output's row and cell tags and texts */
  } cases[] = {
      {"TABLEBEGIN\nTABLECELL row=0 column=0\nTEXT text=\"a\"\n"
       "TABLECELL row=0 column=1\nTABLEBEGIN nested=yes\nTABLECELL row=0 column=0 nested=yes\n"
       "TEXT text=\"n\"\nTABLEEND nested=yes\nTABLECELL row=1 column=1\nTEXT text=\"b\"\n"
       "TABLECELL row=1 column=2\nTEXT text=\"c\"\nTABLECELL row=2 column=0\nTEXT text=\"d\"\n"
       "TABLEEND\n",
       "<table <tr <td a <td <table <tr <td n </tr </table </tr <tr <td b <td c </tr <tr <td d </tr "
       "</table "},
      {"TABLEBEGIN\nTABLECELL row=0 column=0 flags=0x08\nTABLECELL row=0 column=1\n"
       "TEXT text=\"b\"\nTABLECELL row=1 column=0 rowspan=2\nTEXT text=\"a\"\n"
       "TABLECELL row=1 column=1\nTEXT text=\"c\"\nTABLECELL row=2 column=0 flags=0x04\n"
       "TABLECELL row=2 column=1 colspan=2\nTEXT text=\"d\"\nTABLEEND\n",
       "<table <tr <td a <td b </tr <tr <td c </tr <tr <td d </tr </table "},
  };
  for (const auto &c : cases) {
    Use(c.script);
    std::string rows;
    const std::string out = Drive();
    for (size_t at = out.find("<table"); at < out.size(); ++at) {
      if (out.compare(at, 3, "<tr") == 0 || out.compare(at, 3, "<td") == 0 ||
          out.compare(at, 4, "</tr") == 0 || out.compare(at, 6, "<table") == 0 ||
          out.compare(at, 7, "</table") == 0) {
        rows += out.substr(at, out.find_first_of(" >", at) - at) + " ";
      } else if (out[at] != '<' && out[at] != '>' && out[at - 1] == '>') {
        rows += out.substr(at, out.find('<', at) - at) + " ";
      }
    }
    EXPECT_EQ(rows, c.rows) << out;
  }
}

TEST_F(TableCellsTest, CellStartsSpan) {
  Use("TABLEBEGIN\nTABLECELL row=0 column=0 flags=0x08\nTABLECELL row=0 column=1\n"
      "TABLECELL row=1 column=0 rowspan=2\nTABLECELL row=1 column=1 rowspan=0 colspan=0\n"
      "TABLEEND\n");
  const struct {
    int position;
    int displayed;
    int expected;
  } cases[] = {
      {2, 2, 1}, // a plain cell with itself
      {2, 4, 0}, // a plain cell with another plain cell
      {4, 4, 1}, // spans stored as 0 read as 1
      {1, 3, 1}, // the spanning cell starts the covered position's span
      {3, 3, 0}, // a spanning cell does not start its own (bottom) position
      {0, 0, 0}, // no cell
  };
  for (const auto &c : cases)
    EXPECT_EQ(CellStartsSpan(context_, At(c.position), At(c.displayed)), c.expected)
        << c.position << " / " << c.displayed;
}

TEST_F(TableCellsTest, AllRowCellsInvisible) {
  const struct {
    const char *name;
    const char *script;
    int cell;
    int expected;
  } cases[] = {
      {"a row of covered cells whose spans start above",
       "TABLEBEGIN\nTABLECELL row=0 column=0 flags=0x04\nTABLECELL row=0 column=1 flags=0x04\n"
       "TABLECELL row=1 column=0\nTABLEEND\n",
       1, 1},
      {"a span within the row shows it",
       "TABLEBEGIN\nTABLECELL row=0 column=0 flags=0x04\nTABLECELL row=0 column=1 colspan=2\n"
       "TABLECELL row=1 column=0\nTABLEEND\n",
       1, 0},
      {"an uncovered first cell", "TABLEBEGIN\nTABLECELL row=0 column=0\nTABLEEND\n", 1, 0},
      {"running out of cells",
       "TABLEBEGIN\nTABLECELL row=0 column=0 flags=0x04\nTABLECELL row=0 column=1\nTABLEEND\n", 1,
       0},
  };
  for (const auto &c : cases) {
    Use(c.script);
    EXPECT_EQ(AllRowCellsInvisible(context_, At(c.cell)), c.expected) << c.name;
  }
}

TEST_F(TableCellsTest, HeaderFlagsComeFromTheCellsOwnRecord) {
  Use("TABLEBEGIN\nTABLECELL row=0 column=0\n"
      "TABLEBEGIN nested=yes\nTABLECELL row=0 column=0 nested=yes\n"
      "RAW sig=0x57 data=020083000000000000000000000001000000\n"
      "TABLEEND nested=yes\n"
      "RAW sig=0x57 data=020083000000000000000400000002000000\n"
      "TABLECELL row=0 column=1\n"
      "RAW sig=0x57 data=010084000000000000000200000000000000\n"
      "TABLEEND\n");
  // From the first cell: the nested table's record is not the cell's; the
  // second flag word of the cell's own record is the first with 0x1 or 0x2.
  EXPECT_EQ(CellIsHeader(At(2)), 2u);
  // Inside the nested table: its own cell's record, second word.
  EXPECT_EQ(CellIsHeader(At(4)), 1u);
  // A record whose kind word is not 0x83 holds no flags.
  EXPECT_EQ(CellIsHeader(At(8)), 0u);
  EXPECT_EQ(CellIsHeader(nullptr), 0u);
}

TEST_F(TableCellsTest, TableAllHiddenMovesPastTheTableOnlyWhenHidden) {
  const std::string script = R"(PARAGRAPH
PABDEF id=1
PABDEF id=2 flags=0x0010
PABREF id=1
TABLEBEGIN
TABLECELL row=0 column=0
PABREF id=2
TABLEBEGIN nested=yes
TABLECELL row=0 column=0 nested=yes
PABREF %s
TABLEEND nested=yes
TABLEEND
TEXT text="after"
)";
  const struct {
    const char *name;
    const char *options;
    const char *nestedReference;
    DWORD expected;
  } cases[] = {
      {"every paragraph hidden, the nested table's too", "RespectHiddenFormulas=Yes", "id=2", 1},
      {"a shown paragraph in the nested table", "RespectHiddenFormulas=Yes", "id=1", 0},
      {"a paragraph without a definition", "RespectHiddenFormulas=Yes", "id=7", 0},
      {"without RespectHiddenFormulas", "", "id=2", 0},
  };
  for (const auto &c : cases) {
    char text[512];
    snprintf(text, sizeof text, script.c_str(), c.nestedReference);
    Use(text, c.options);
    record_storage *node = At(4);
    EXPECT_EQ(TableAllHidden(context_, &node), c.expected) << c.name;
    EXPECT_EQ(IndexOf(node), c.expected != 0 ? 12 : 4) << c.name;
  }
}

/* Cell records, one written by hand with bytes behind its fields: each
 * field from its place, a span stored as 0 read as 1. */
TEST_F(TableCellsTest, CellFieldsComeFromTheirPlaces) {
  Use("TABLEBEGIN\n"
      "TABLECELL row=2 column=3 left=1440 right=2880 borders=0x1B flags=0x02 v42border=0x4321 "
      "rowspan=2 colspan=3 background=7\n"
      "RAW sig=0xA4 data=0104A005400B0000270134120003090000AB\n"
      "TABLEEND\n");
  const struct {
    int node;
    cell_fields expected;
  } cases[] = {{1, {2, 3, 1440, 2880, 0x1B, 0x02, 0x4321, 2, 3, 7}},
               {2, {1, 4, 1440, 2880, 0x27, 0x01, 0x1234, 1, 3, 9}}};
  for (const auto &c : cases) {
    cell_fields fields;
    ASSERT_TRUE(ReadCellFields(At(c.node), &fields)) << c.node;
    const cell_fields &e = c.expected;
    EXPECT_EQ((std::vector<int>{fields.row, fields.column, fields.left, fields.right,
                                fields.border, fields.flags, fields.border_word, fields.row_span,
                                fields.column_span, fields.background}),
              (std::vector<int>{e.row, e.column, e.left, e.right, e.border, e.flags,
                                e.border_word, e.row_span, e.column_span, e.background}))
        << c.node;
  }
  cell_fields none;
  EXPECT_FALSE(ReadCellFields(At(0), &none)); // the table's begin
  EXPECT_EQ(none.row_span, 1);
}

TEST_F(TableCellsTest, BorderClassKeysAreOneHexDigitPerWidth) {
  const struct {
    unsigned top, right, bottom, left;
    const char *key;
  } cases[] = {{1, 10, 0, 0, "1a00"}, {1, 1, 0, 0, "1100"}, {15, 0, 9, 1, "f091"}};
  for (const auto &c : cases) {
    char key[12];
    BorderClassKey({c.top, c.right, c.bottom, c.left}, key);
    EXPECT_STREQ(key, c.key);
  }
}

/* A chunk that starts inside a table opens the table (and, past Column 0,
 * the row) itself under EncapsulateTable. */
TEST_F(TableCellsTest, AChunkStartingAtACellOpensItsTable) {
  Use("TABLEBEGIN\nTABLECELL row=0 column=0\nTEXT text=\"a\"\nTABLECELL row=0 column=1\n"
      "TEXT text=\"b\"\nTABLEEND\n",
      "EncapsulateTable=Yes");
  context_->current_record = At(3);
  const std::string out = Drive();
  EXPECT_EQ(out.substr(out.find("<body")),
            "<body text='#000000' bgcolor='#ffffff'><table border='0'><tr><td width='96'>b</td>"
            "</tr></table>");
}

} // namespace

namespace {

/* The head pass starts every table level afresh, the deepest too. */
TEST_F(TableCellsTest, TheHeadPassClearsEveryTableLevel) {
  Use("TABLEBEGIN\nTABLECELL row=0 column=0\nTABLEEND\n");
  for (int level : {1, 10, 11, kRenderTableLevels - 1}) {
    context_->cell_empty[level] = 1;
    context_->cell_saved_record[level] = At(1);
    context_->cell_saved_flag[level] = 1;
    context_->table_levels[level].tabbed = 1;
    context_->table_levels[level].number = 7;
  }
  context_->table_counter = 9;
  ASSERT_EQ(RunXMLHeadPass(context_), NOERROR);
  for (int level : {1, 10, 11, kRenderTableLevels - 1}) {
    EXPECT_EQ(context_->cell_empty[level], 0u) << level;
    EXPECT_EQ(context_->cell_saved_record[level], nullptr) << level;
    EXPECT_EQ(context_->cell_saved_flag[level], 0u) << level;
    EXPECT_EQ(context_->table_levels[level].tabbed, 0u) << level;
    EXPECT_EQ(context_->table_levels[level].number, 0) << level;
    EXPECT_EQ(context_->table_levels[level].border_mark, 0xFFFF) << level;
  }
  EXPECT_EQ(context_->table_counter, 0);
  FreeChunkStyleLists(context_);
}

} // namespace

namespace {

size_t Count(const std::string &text, const std::string &part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

/* Tables nested deeper than the renderer keeps state for are left out with
 * their content; every table written is closed. */
TEST_F(TableCellsTest, TablesNestedTooDeepAreLeftOut) {
  constexpr int kDepth = 70;
  std::string script;
  for (int i = 0; i < kDepth; ++i)
    script += std::string("TEXT text=\"d") + std::to_string(i) + "\"\nTABLEBEGIN" +
              (i > 0 ? " nested=yes" : "") + "\nTABLECELL row=0 column=0" +
              (i > 0 ? " nested=yes" : "") + "\n";
  for (int i = kDepth - 1; i >= 0; --i)
    script += std::string("TABLEEND") + (i > 0 ? " nested=yes" : "") + "\n";
  script += "TEXT text=\"after\"\n";
  Use(script);
  const std::string out = Drive();
  EXPECT_EQ(Count(out, "<table"), static_cast<size_t>(kRenderTableLevels - 1));
  EXPECT_EQ(Count(out, "</table>"), static_cast<size_t>(kRenderTableLevels - 1));
  EXPECT_NE(out.find("d62<table"), std::string::npos);
  EXPECT_EQ(out.find("d64"), std::string::npos);
  EXPECT_NE(out.find("</table>after"), std::string::npos);
  EXPECT_EQ(context_->table_level, 0);
}

} // namespace

namespace {

/* The definition lookup a table keeps for its cells gives what a scan of
 * the run's table of definitions gives, whatever order the records are
 * asked in: redefinitions of a PABID bound how far a kept answer holds. */
TEST_F(TableCellsTest, KeptDefinitionLookupAgreesWithAScan) {
  Use("PABDEF id=1\nPABDEF id=2\nPABREF id=1\nTEXT text=\"a\"\nPABDEF id=1\nPABREF id=1\n"
      "PABREF id=2\nPABDEF id=3\nPABDEF id=1\nPABREF id=3\nPABDEF id=2\nTEXT text=\"b\"\n");
  // Slots as the run fills them, with an empty one among them.
  context_->pabdef_count = 0;
  for (record_storage *node : nodes_) {
    if (node->signature == SIG_CD_PABDEFINITION) {
      context_->pabdef_records[++context_->pabdef_count] = node;
      if (context_->pabdef_count == 2)
        context_->pabdef_records[++context_->pabdef_count] = nullptr;
    }
  }
  auto scan = [this](DWORD ordinal, WORD pabid) -> const record_storage * {
    for (WORD i = context_->pabdef_count; i >= 1; --i) {
      const record_storage *node = context_->pabdef_records[i];
      WORD id = 0;
      if (node != nullptr && node->ordinal < ordinal && ReadDefinitionPabid(node, &id) &&
          id == pabid)
        return node;
    }
    return nullptr;
  };
  std::vector<DWORD> ascending;
  for (const record_storage *node : nodes_)
    ascending.push_back(node->ordinal);
  ascending.push_back(ascending.back() + 1);
  std::vector<DWORD> descending(ascending.rbegin(), ascending.rend());
  std::vector<DWORD> zigzag;
  for (size_t i = 0; i < ascending.size(); ++i)
    zigzag.push_back(ascending[i % 2 == 0 ? i / 2 : ascending.size() - 1 - i / 2]);
  for (const auto &order : {ascending, descending, zigzag}) {
    for (WORD pabid : {1, 2, 3, 4}) {
      table_parts::definition_lookup kept;
      for (DWORD ordinal : order) {
        EXPECT_EQ(table_parts::LastDefinitionBefore(context_, ordinal, pabid, &kept),
                  scan(ordinal, pabid))
            << "pabid " << pabid << " ordinal " << ordinal;
      }
    }
  }
}

/* Whether a cell's first paragraph adds nothing, judged on the definition
 * the paragraph renderer finds for the reference in the run's table of
 * definitions, agrees with the judgement on the definition the paragraph
 * index finds after the cell: definitions redefined between cells, one
 * that adds nothing and one that does, a list, a PABID never defined. */
TEST_F(TableCellsTest, FirstParagraphJudgedOnTheFoundDefinitionAgreesWithTheIndex) {
  Use("PABDEF id=1 flags2=0x0500\nPABDEF id=2 left=720\nPABDEF id=3 flags=0x0400 flags2=0x0500\n"
      "TABLEBEGIN\n"
      "TABLECELL row=0 column=0\nPABREF id=1\nTEXT text=\"a\"\n"
      "TABLECELL row=0 column=1\nPABREF id=2\nTEXT text=\"b\"\n"
      "TABLECELL row=0 column=2\nPABREF id=3\nTEXT text=\"c\"\n"
      "TABLECELL row=1 column=0\nPABREF id=9\nTEXT text=\"d\"\n"
      "PABDEF id=1 left=900\nPABDEF id=2 flags2=0x0504 ext=10,0,0,0,0,0\n"
      "TABLECELL row=1 column=1\nPARAGRAPH\nPABREF id=1\nTEXT text=\"e\"\n"
      "TABLECELL row=1 column=2\nPABREF id=2\nTEXT text=\"f\"\n"
      "TABLEEND\n");
  std::vector<int> judged;
  for (record_storage *cell : nodes_) {
    if (!IsTableCell(cell->signature))
      continue;
    const record_storage *reference = cell->next;
    while (reference->signature != SIG_CD_PABREFERENCE)
      reference = reference->next;
    WORD pabid = 0;
    ASSERT_TRUE(ReferencePabid(reference, &pabid));
    table_parts::definition_lookup kept;
    paragraph_definition found;
    const bool known = ReadParagraphDefinition(
        table_parts::LastDefinitionBefore(context_, reference->ordinal, pabid, &kept), &found);
    const int fast = CellParagraphUselessUnder(known ? &found : nullptr) ? 1 : 0;
    EXPECT_EQ(fast, FirstTablecellParagraphUseless(context_, cell)) << "cell " << judged.size();
    judged.push_back(fast);
  }
  EXPECT_EQ(judged, (std::vector<int>{1, 0, 0, 1, 0, 1}));
}

/* A cell takes its alignment from the definition in force at its first
 * paragraph: one redefined in an earlier cell holds for the cells after it,
 * not for those before. */
TEST_F(TableCellsTest, CellAlignmentFollowsRedefinitionsAcrossCells) {
  Use("PABDEF id=1\nPABDEF id=2 justify=CENTER\n"
      "TABLEBEGIN\n"
      "TABLECELL row=0 column=0\nPABREF id=1\nTEXT text=\"a\"\n"
      "TABLECELL row=0 column=1\nPABDEF id=1 justify=RIGHT\nPABREF id=1\nTEXT text=\"b\"\n"
      "TABLECELL row=1 column=0\nPABREF id=1\nTEXT text=\"c\"\n"
      "TABLECELL row=1 column=1\nPABREF id=2\nTEXT text=\"d\"\n"
      "TABLECELL row=2 column=0\nPABREF id=2\nTEXT text=\"e\"\n"
      "TABLEEND\n");
  const std::string out = Drive();
  std::vector<std::string> cells;
  for (size_t at = out.find("<td"); at != std::string::npos; at = out.find("<td", at + 1))
    cells.push_back(out.substr(at, out.find('>', at) + 1 - at));
  const std::vector<std::string> expected = {
      "<td width='96'>", "<td width='96' align='right'>", "<td width='96' align='right'>",
      "<td width='96' align='center'>", "<td width='96' align='center'>"};
  EXPECT_EQ(cells, expected) << out;
}

} // namespace

namespace {

/* The opening tags of the table's cells, in order. */
std::vector<std::string> CellTags(const std::string &out) {
  std::vector<std::string> tags;
  for (size_t at = out.find("<td"); at != std::string::npos; at = out.find("<td", at + 1))
    tags.push_back(out.substr(at, out.find('>', at) + 1 - at));
  return tags;
}

/* What the survey of a table's cells gives reaches the output: the first
 * row's extent for a table that fits the window (by its begin or its
 * pre-table flags), the column count of the widest row for a colour
 * style; a table with neither writes its cells' own widths. */
TEST_F(TableCellsTest, SurveyedExtentAndColumnsReachTheCells) {
  const std::string cells = "TABLECELL row=0 column=0 left=0 right=1440\n"
                            "TABLECELL row=0 column=1 left=1440 right=2880\n"
                            "TABLECELL row=1 column=0 left=0 right=720\n"
                            "TABLECELL row=1 column=1 left=720 right=1440\n"
                            "TABLECELL row=1 column=2 left=1440 right=2880\n"
                            "TABLEEND\n";
  const struct {
    const char *before; /* the records before the cells */
    std::string table;  /* the opening tag */
    std::vector<std::string> tags;
  } cases[] = {
      {"TABLEBEGIN\n",
       "<table border='0'>",
       {"<td width='96'>", "<td width='96'>", "<td width='48'>", "<td width='48'>",
        "<td width='96'>"}},
      {"PRETABLEBEGIN flags=0x01\nTABLEBEGIN\n",
       "<table width='100%' border='0'>",
       {"<td width='50%'>", "<td width='50%'>", "<td width='25%'>", "<td width='25%'>",
        "<td width='50%'>"}},
      {"PRETABLEBEGIN flags=0x40\nTABLEBEGIN\n",
       "<table width='100%' border='0'>",
       {"<td width='50%'>", "<td width='50%'>", "<td width='25%'>", "<td width='25%'>",
        "<td width='50%'>"}},
      {"PRETABLEBEGIN bodycolor=0xff0000 tablecolor=0x0000ff\nTABLEBEGIN flags=0x4000\n",
       "<table border='0'>",
       {"<td width='96' bgcolor=\"#0000ff\">", "<td width='96' bgcolor=\"#0000ff\">",
        "<td width='48' bgcolor=\"#0000ff\">", "<td width='48' bgcolor=\"#0000ff\">",
        "<td width='96' bgcolor=\"#ff0000\">"}},
  };
  for (const auto &c : cases) {
    Use(std::string(c.before) + cells);
    const std::string out = Drive();
    const size_t table = out.find("<table");
    ASSERT_NE(table, std::string::npos) << c.before;
    EXPECT_EQ(out.substr(table, out.find('>', table) + 1 - table), c.table) << c.before;
    EXPECT_EQ(CellTags(out), c.tags) << c.before << out;
  }
}

} // namespace
