// ChangeParagraph and ChangeTable through the chunk's AlterRichText on a
// note of a database file: the body the run stores, read back with the
// database opened anew, against records written by hand with the byte
// builder; and ChangeTable over every failing host and tracked allocation.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cdbuild/cd_script.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/osmem.h"
#include "store/tracked_memory_testing.h"
#include "store/vocabulary.h"
#include "tests/support/allocation_faults.h"
#include "tests/support/database_file_fixture.h"
#include "tests/support/note_fixture.h"
#include "tests/support/record_lines.h"
#include "tests/support/stored_values.h"

namespace {

using Bytes = std::vector<BYTE>;

using note_testing::RecordLines;

/* The records of the stored values, one line each. */
std::vector<std::string> Lines(const std::vector<Bytes>& values) { return RecordLines(values); }

class ChunkChangeTest : public DatabaseFileFixture<> {
public:
  NOTEID StoreNote(const std::string& script) { return StoreBody(Script(script)); }

  std::vector<Bytes> Stored(NOTEID id, bool remove = false) {
    return note_testing::StoredBodyValues(path_, id, remove);
  }

  /* The action on the chunk of the stored note, in a session of its own
   * that ends with the run; stored by the AutoSave update. */
  STATUS Alter(NOTEID id, const char* definition, WORD action, const char* s1, const char* s2,
               const std::function<void()>& arm = [] {}, std::array<WORD, 4> p = {}) {
    auto* session = new LSXLsiSession;
    auto* item = new VelkoRTItem(session);
    arm();
    STATUS status = item->Connect("", path_.c_str(), id, "Body", 0);
    if (status == NOERROR) {
      item->AutoSave = 1;
      VelkoRTChunk* chunk = item->DefineChunk(definition);
      status = chunk != nullptr
                   ? chunk->AlterRichText(action, p[0], p[1], p[2], p[3], s1, s2, nullptr, nullptr)
                   : STATUS{VELKO_ERR_FAILED};
    }
    delete session;
    return status;
  }

  /* The action over a body made from the script; the stored body's
   * records against those of the expected script. */
  void ExpectChange(const std::string& body, const char* definition, WORD action, const char* s1,
                    const char* s2, const std::string& expected) {
    const NOTEID id = StoreNote(body);
    ASSERT_EQ(Alter(id, definition, action, s1, s2), NOERROR);
    EXPECT_EQ(Lines(Stored(id, true)),
              Lines({note_testing::Value(Script(expected).RecordBytes())}));
  }

};

/* ---- ChangeParagraph ---- */

/* Full definitions: the change rewrites them without growing them. */
std::string Definition(int id, const char* justify) {
  return "PABDEF id=" + std::to_string(id) + " justify=" + justify +
         " flags=0x0100 ext=1440,0,1440,0,0,100 extflags=1 flags3=0\n";
}

/* Three paragraphs that share the left-aligned definition 1, and a right
 * aligned one under definition 2. A paragraph opens at its CDPARAGRAPH. */
const std::string kParagraphs = Definition(1, "left") + R"(PABREF id=1
TEXT text="one"
PARAGRAPH
PABREF id=1
TEXT text="two"
PARAGRAPH
PABREF id=1
TEXT text="three"
PARAGRAPH
)" + Definition(2, "right") + R"(PABREF id=2
TEXT text="four"
)";

TEST_F(ChunkChangeTest, ChangeParagraphOnEverythingRewritesMatchingDefinitionsInPlace) {
  ExpectChange(kParagraphs, "Everything", ACTION_CHANGE_PARAGRAPH, "Justify=Center",
               "Justify=Left", Definition(1, "center") + R"(PABREF id=1
TEXT text="one"
PARAGRAPH
PABREF id=1
TEXT text="two"
PARAGRAPH
PABREF id=1
TEXT text="three"
PARAGRAPH
)" + Definition(2, "right") + R"(PABREF id=2
TEXT text="four"
)");
}

TEST_F(ChunkChangeTest, ChangeParagraphWithoutMatchLeavesTheBodyAlone) {
  ExpectChange(kParagraphs, "Everything", ACTION_CHANGE_PARAGRAPH, "Justify=Center",
               "Justify=Full", kParagraphs);
}

/* On a smaller chunk the changed definition takes a new PABID (the
 * highest PABID of the item + 2 for the first one saved), the chunk's
 * references follow it, and the old definition comes again before the
 * first reference to it after the chunk. */
struct sub_chunk_case {
  const char* definition;
  std::string expected;
};

TEST_F(ChunkChangeTest, ChangeParagraphOnSmallerChunksWritesChangedCopiesUnderNewIds) {
  const std::string head = Definition(1, "left") + R"(PABREF id=1
TEXT text="one"
PARAGRAPH
)";
  const std::string tail = "PARAGRAPH\n" + Definition(2, "right") + R"(PABREF id=2
TEXT text="four"
)";
  const sub_chunk_case cases[] = {
      {"Paragraph 2", head + Definition(4, "center") + R"(PABREF id=4
TEXT text="two"
PARAGRAPH
)" + Definition(1, "left") + R"(PABREF id=1
TEXT text="three"
)" + tail},
      // Two paragraphs of one definition go on sharing one.
      {"Paragraph 2-3", head + Definition(4, "center") + R"(PABREF id=4
TEXT text="two"
PARAGRAPH
PABREF id=4
TEXT text="three"
)" + tail},
      // Opening inside a paragraph, the chunk takes the changed copy.
      {"Text 'two'", head + "PABREF id=1\n" + Definition(4, "center") + R"(PABREF id=4
TEXT text="two"
PARAGRAPH
)" + Definition(1, "left") + R"(PABREF id=1
TEXT text="three"
)" + tail},
  };
  for (const sub_chunk_case& c : cases) {
    SCOPED_TRACE(c.definition);
    ExpectChange(kParagraphs, c.definition, ACTION_CHANGE_PARAGRAPH, "Justify=Center",
                 "Justify=Left", c.expected);
  }
}

TEST_F(ChunkChangeTest, ChangeParagraphRenumbersADefinitionInsideTheChunk) {
  const std::string body = Definition(1, "left") + R"(PABREF id=1
TEXT text="one"
PARAGRAPH
)" + Definition(3, "left") + R"(PABREF id=3
TEXT text="two"
PARAGRAPH
PABREF id=3
TEXT text="three"
)";
  ExpectChange(body, "Paragraph 2", ACTION_CHANGE_PARAGRAPH, "Justify=Center", "Justify=Left",
               Definition(1, "left") + R"(PABREF id=1
TEXT text="one"
PARAGRAPH
)" + Definition(5, "center") + R"(PABREF id=5
TEXT text="two"
PARAGRAPH
)" + Definition(3, "left") + R"(PABREF id=3
TEXT text="three"
)");
}

/* A definition longer than its known fields is saved for the paragraphs
 * after the chunk as far as the known fields go, never past them. */
TEST_F(ChunkChangeTest, ChangeParagraphSavesALongDefinitionCutToItsKnownFields) {
  const std::string longDefinition = "PABDEF id=3 justify=left flags=0x0100 "
                                     "ext=1440,0,1440,0,0,100 extflags=1 flags3=0 tail=\"" +
                                     std::string(120, 'x') + "\"\n";
  const std::string body = Definition(1, "left") + R"(PABREF id=1
TEXT text="one"
PARAGRAPH
)" + longDefinition + R"(PABREF id=3
TEXT text="two"
PARAGRAPH
PABREF id=3
TEXT text="three"
)";
  ExpectChange(body, "Paragraph 2", ACTION_CHANGE_PARAGRAPH, "Justify=Center", "Justify=Left",
               Definition(1, "left") + R"(PABREF id=1
TEXT text="one"
PARAGRAPH
)" + Definition(5, "center") + R"(PABREF id=5
TEXT text="two"
PARAGRAPH
)" + Definition(3, "left") + R"(PABREF id=3
TEXT text="three"
)");
}

/* Past 1000 saved definitions the list says so once per definition it
 * cannot take, and that definition is changed under its own PABID. */
TEST_F(ChunkChangeTest, ChangeParagraphPastAThousandSavedDefinitionsKeepsTheId) {
  constexpr int kSaved = 1000;
  constexpr int kHighest = kSaved + 2; // definitions 2 to 1002 in the chunk
  std::string body = Definition(1, "left") + "PABREF id=1\nTEXT text=\"one\"\nPARAGRAPH\n";
  std::string expected = body;
  for (int id = 2; id <= kHighest; ++id)
    body += Definition(id, "left");
  for (int entry = 0; entry < kSaved; ++entry)
    expected += Definition(entry + kHighest + 2, "center");
  const std::string last = "PABREF id=" + std::to_string(kHighest) + "\nTEXT text=\"two\"\n";
  body += last;
  expected += Definition(kHighest, "center") + last;

  HostTestClearMessages();
  ExpectChange(body, "Paragraph 2", ACTION_CHANGE_PARAGRAPH, "Justify=Center", "Justify=Left",
               expected);
  EXPECT_EQ(HostTestMessages(),
            (std::vector<HostTestMessage>{
                {"TARNO: Unable to save additional obsoleted PAB definitions.", 6}}));
}

/* The cells of a table that share a definition share its changed copy,
 * the paragraph that holds the table keeps its own (no paragraph break is
 * added before the table), and the paragraph after the table gets the old
 * definition back. */
TEST_F(ChunkChangeTest, ChangeParagraphOnATableSharesOneNewDefinitionAcrossCells) {
  const std::string head = Definition(1, "left") + R"(PABREF id=1
TEXT text="a"
PARAGRAPH
)";
  const std::string body = head + R"(TABLEBEGIN
TABLECELL row=0 column=0
PABREF id=1
TEXT text="p"
TABLECELL row=0 column=1
PABREF id=1
TEXT text="q"
TABLEEND
PARAGRAPH
PABREF id=1
TEXT text="b"
)";
  ExpectChange(body, "Table 1", ACTION_CHANGE_PARAGRAPH, "Justify=Center", "Justify=Left",
               head + R"(TABLEBEGIN
TABLECELL row=0 column=0
)" + Definition(3, "center") + R"(PABREF id=3
TEXT text="p"
TABLECELL row=0 column=1
PABREF id=3
TEXT text="q"
TABLEEND
PARAGRAPH
)" + Definition(1, "left") + R"(PABREF id=1
TEXT text="b"
)");
}

/* ---- ChangeTable ---- */

/* A table of one cell between two paragraphs; `pretable` and `end` stand
 * for its CDPRETABLEBEGIN and the records before its end. */
std::string TableBody(const std::string& pretable, const std::string& end) {
  return R"(PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100
PABREF id=1
TEXT text="a"
PARAGRAPH
)" + pretable + R"(
TABLEBEGIN
TABLECELL row=0 column=0
PABREF id=1
TEXT text="cell"
)" + end + R"(TABLEEND
PARAGRAPH
PABREF id=1
TEXT text="b"
)";
}

constexpr const char* kPreTable = "PRETABLEBEGIN";
/* Timer records of 1000 and 2500 milliseconds. */
constexpr const char* kTimer1000 = "HEX E1 10 0000 E8030000 0000000000000000\n";
constexpr const char* kTimer2500 = "HEX E1 10 0000 C4090000 0000000000000000\n";

struct table_case {
  const char* name;
  const char* properties;
  std::string body;
  std::string expected;
};

TEST_F(ChunkChangeTest, ChangeTableRewritesTheTableRecordsAndItsRowCycleTime) {
  const std::string longName(120, 'n');
  const std::string naming = "TableName=" + longName;
  const table_case cases[] = {
      {"a table width, no timer added", "TableWidth=FIT_TO_WINDOW", TableBody(kPreTable, ""),
       R"(PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100
PABREF id=1
TEXT text="a"
PARAGRAPH
PRETABLEBEGIN flags=0x41
TABLEBEGIN flags=0x0001
TABLECELL row=0 column=0
PABREF id=1
TEXT text="cell"
TABLEEND
PARAGRAPH
PABREF id=1
TEXT text="b"
)"},
      {"a name past 100 bytes", naming.c_str(), TableBody(kPreTable, ""),
       TableBody(std::string(kPreTable) + " name=\"" + longName + "\"", "")},
      {"a cycle time added before the end", "RowCycleMilliseconds=2500",
       TableBody(kPreTable, ""), TableBody(kPreTable, kTimer2500)},
      // The table of the first level stays a table begin of its own kind
      // (0xA3), the one inside it a nested begin (0xCF).
      {"a nested table", "TableWidth=FIT",
       TableBody(kPreTable, "PARAGRAPH\nTABLEBEGIN nested=1\nTABLECELL row=0 column=0 nested=1\n"
                            "TEXT text=\"inner\"\nTABLEEND nested=1\n"),
       R"(PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100
PABREF id=1
TEXT text="a"
PARAGRAPH
PRETABLEBEGIN flags=0x01
TABLEBEGIN flags=0x0001
TABLECELL row=0 column=0
PABREF id=1
TEXT text="cell"
PARAGRAPH
TABLEBEGIN nested=1 flags=0x0001
TABLECELL row=0 column=0 nested=1
TEXT text="inner"
TABLEEND nested=1
TABLEEND
PARAGRAPH
PABREF id=1
TEXT text="b"
)"},
      {"a timer before the end rewritten only", "RowCycleMilliseconds=2500",
       TableBody(kPreTable, kTimer1000), TableBody(kPreTable, kTimer2500)},
  };
  for (const table_case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectChange(c.body, "Table 1", ACTION_CHANGE_TABLE, c.properties, nullptr, c.expected);
  }
}

/* ---- cells ---- */

/* A paragraph, then a table of the given cells, each with one letter. */
std::string CellTable(const std::vector<std::string>& cells) {
  std::string body = R"(PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100
PABREF id=1
TEXT text="a"
PARAGRAPH
TABLEBEGIN
)";
  char letter = 'p';
  for (const std::string& cell : cells)
    body += "TABLECELL " + cell + "\nTEXT text=\"" + letter++ + "\"\n";
  return body + "TABLEEND\nPARAGRAPH\nPABREF id=1\nTEXT text=\"b\"\n";
}

TEST_F(ChunkChangeTest, UndoingCellMergesClearsCoveringFlagsAndSpansOfTheChunksCells) {
  const std::string body = CellTable({"row=0 column=0 flags=0x08", "row=0 column=1 flags=0x09",
                                      "row=1 column=0 flags=0x04",
                                      "row=1 column=1 rowspan=2 colspan=2"});
  ExpectChange(body, "Table 1", ACTION_UNDO_MERGE_CELLS, nullptr, nullptr,
               CellTable({"row=0 column=0", "row=0 column=1 flags=0x01", "row=1 column=0",
                          "row=1 column=1"}));
}

struct border_case {
  const char* definition;
  const char* sides; /* top, bottom, left, right */
  std::vector<std::string> expected;
};

TEST_F(ChunkChangeTest, CellBordersComeFromFourCharactersTopBottomLeftRight) {
  const std::vector<std::string> cells = {"row=0 column=0 borders=0xFF",
                                          "row=0 column=1 borders=0x00 v42border=0x1111"};
  const border_case cases[] = {
      // 'N' and '5' give 4-bit widths of 0 and 5 and keep the 2-bit ones.
      {"Table 1", "12N5",
       {"row=0 column=0 borders=0x9F v42border=0x2150",
        "row=0 column=1 borders=0x90 v42border=0x2150"}},
      {"Table 1; Row 1; Column 2", "0021",
       {"row=0 column=0 borders=0xFF", "row=0 column=1 borders=0x06 v42border=0x0012"}},
      // Fewer than four characters change nothing.
      {"Table 1", "12", cells},
  };
  for (const border_case& c : cases) {
    SCOPED_TRACE(std::string(c.definition) + " " + c.sides);
    ExpectChange(CellTable(cells), c.definition, ACTION_SET_CELL_BORDERS, c.sides, nullptr,
                 CellTable(c.expected));
  }
}

/* A 2 by 2 table whose top-left cell has a definition of its own. */
std::string MergeTable(const std::vector<std::string>& cells, const std::string& lastOpening) {
  return R"(PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100
PABREF id=1
TEXT text="a"
PARAGRAPH
TABLEBEGIN
TABLECELL )" + cells[0] + "\n" + Definition(2, "center") + R"(PABREF id=2
TEXT text="p"
TABLECELL )" + cells[1] + R"(
PABREF id=1
TEXT text="q"
TABLECELL )" + cells[2] + R"(
PABREF id=1
TEXT text="r"
TABLECELL )" + cells[3] + "\n" + lastOpening + R"(TEXT text="s"
TABLEEND
PARAGRAPH
PABREF id=1
TEXT text="b"
)";
}

TEST_F(ChunkChangeTest, MergingCellsCoversTheRangeAndSpansItsBottomRightCell) {
  const std::string body =
      MergeTable({"row=0 column=0", "row=0 column=1", "row=1 column=0", "row=1 column=1"},
                 "PABREF id=1\n");
  const NOTEID id = StoreNote(body);
  ASSERT_EQ(Alter(id, "Table 1", ACTION_MERGE_CELLS, nullptr, nullptr, [] {}, {1, 1, 2, 2}),
            NOERROR);
  // Rows above the last are covered from above, the last row's cells
  // before the last column from the left; the merged cell opens with the
  // top-left cell's style under a new PABID, its own reference gone.
  EXPECT_EQ(Lines(Stored(id, true)),
            Lines({note_testing::Value(
                Script(MergeTable({"row=0 column=0 flags=0x08", "row=0 column=1 flags=0x08",
                                   "row=1 column=0 flags=0x04",
                                   "row=1 column=1 rowspan=2 colspan=2"},
                                  "PARAGRAPH\n" + Definition(3, "center") + "PABREF id=3\n"))
                    .RecordBytes())}));
}

TEST_F(ChunkChangeTest, MergingCellsFailsOnAMergedCellOrOutsideTheTable) {
  struct {
    const char* name;
    std::vector<std::string> cells;
    std::array<WORD, 4> range; /* first row, first column, last row, last column */
  } const cases[] = {
      {"a covered cell", {"row=0 column=0", "row=0 column=1 flags=0x04", "row=1 column=0",
                          "row=1 column=1"}, {1, 1, 2, 2}},
      {"a spanning cell", {"row=0 column=0 colspan=2", "row=0 column=1", "row=1 column=0",
                           "row=1 column=1"}, {1, 1, 1, 2}},
      {"no cell of the range", {"row=0 column=0", "row=0 column=1", "row=1 column=0",
                                "row=1 column=1"}, {3, 3, 4, 4}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const NOTEID id = StoreNote(MergeTable(c.cells, "PABREF id=1\n"));
    const std::vector<Bytes> before = Stored(id);
    EXPECT_EQ(Alter(id, "Table 1", ACTION_MERGE_CELLS, nullptr, nullptr, [] {}, c.range),
              VELKO_ERR_FAILED);
    EXPECT_EQ(Stored(id, true), before);
  }
}

/* The merged cell's new definition takes the id after the highest the
 * item holds: 65535, the largest, is given; one past it refuses the merge
 * with the record writer's message (1027) and the note stays as it was. */
TEST_F(ChunkChangeTest, MergingCellsPastTheLargestParagraphIdIsRefused) {
  const std::string cells[] = {"row=0 column=0", "row=0 column=1", "row=1 column=0",
                               "row=1 column=1"};
  const std::string merged[] = {"row=0 column=0 flags=0x08", "row=0 column=1 flags=0x08",
                                "row=1 column=0 flags=0x04", "row=1 column=1 rowspan=2 colspan=2"};
  for (const int highest : {65534, 65535}) {
    SCOPED_TRACE(highest);
    const std::string unused = Definition(highest, "left");
    const NOTEID id =
        StoreNote(unused + MergeTable({cells[0], cells[1], cells[2], cells[3]}, "PABREF id=1\n"));
    const std::vector<Bytes> before = Stored(id);
    HostTestClearMessages();
    const STATUS status =
        Alter(id, "Table 1", ACTION_MERGE_CELLS, nullptr, nullptr, [] {}, {1, 1, 2, 2});
    if (highest == 65534) {
      EXPECT_EQ(status, NOERROR);
      EXPECT_EQ(HostTestMessages(), std::vector<HostTestMessage>{});
      EXPECT_EQ(Lines(Stored(id, true)),
                Lines({note_testing::Value(
                    Script(unused + MergeTable({merged[0], merged[1], merged[2], merged[3]},
                                               "PARAGRAPH\n" + Definition(65535, "center") +
                                                   "PABREF id=65535\n"))
                        .RecordBytes())}));
    } else {
      EXPECT_EQ(status, 1027);
      EXPECT_EQ(HostTestMessages(),
                (std::vector<HostTestMessage>{
                    {"TARNO: Paragraph id past 65535.  Operation failed!", 6}}));
      EXPECT_EQ(Stored(id, true), before);
    }
  }
}

/* ---- ChangeTable over failing allocations ---- */

/* The action over every failing host and tracked allocation: each run
 * reports the failure and leaves the stored note as it was, or succeeds
 * and stores what a run without failures stores. */
void SweepAllocations(ChunkChangeTest& test, const std::string& body, const char* definition,
                      WORD action, const char* s1, const char* s2) {
  const NOTEID first = test.StoreNote(body);
  const std::vector<Bytes> before = test.Stored(first);
  ASSERT_EQ(test.Alter(first, definition, action, s1, s2), NOERROR);
  const std::vector<Bytes> after = test.Stored(first, true);
  ASSERT_NE(before, after);

  HostTestCaptureLog(true); // the allocator's complaints are expected here
  for (const allocation_faults::control& control : allocation_faults::kControls) {
    const int failed = allocation_faults::SweepStoredOperation(
        control, [&] { return test.StoreNote(body); },
        [&](NOTEID id, const std::function<void()>& arm) {
          return test.Alter(id, definition, action, s1, s2, arm);
        },
        [&](NOTEID id) { return test.Stored(id, true); }, before, after);
    EXPECT_GT(failed, 0) << control.name;
  }
  HostTestCaptureLog(false);
}

TEST_F(ChunkChangeTest, ChangeTableIsAllOrNothingAtEveryFailedAllocation) {
  SweepAllocations(*this, TableBody(kPreTable, ""), "Table 1", ACTION_CHANGE_TABLE,
                   "TableName=Sales TableWidth=FIT RowCycleMilliseconds=2500", nullptr);
}

TEST_F(ChunkChangeTest, ChangeParagraphIsAllOrNothingAtEveryFailedAllocation) {
  SweepAllocations(*this, kParagraphs, "Paragraph 2-3", ACTION_CHANGE_PARAGRAPH,
                   "Justify=Center", "Justify=Left");
}

} // namespace
