// CellColor, AppendRow, the HTML identity texts of tables and cells
// (action 2422) and the field modification (action 2416) through the chunk's class interface on a note of a
// database file: the body the run stores, read back with the database
// opened anew, against records written by hand with the byte builder; and
// what AppendRow hands the chunk append service (a recording stand-in of
// the test library), with the stored body left as it was while that
// service is not available.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "cdbuild/cd_script.h"
#include "chunk/action_record_testing.h"
#include "chunk/append_chunk_testing.h"
#include "host/nsfdb.h"
#include "store/vocabulary.h"
#include "tests/support/allocation_faults.h"
#include "tests/support/record_lines.h"
#include "tests/support/stored_chunk_fixture.h"
#include "tests/support/stored_values.h"

namespace {

using note_testing::Bytes;
using note_testing::RecordLines;

class TableAttributeTest : public StoredChunkFixture {
public:
  void TearDown() override {
    VelkoTestStopAppendChunkRecord();
    VelkoTestStopActionRecord();
    StoredChunkFixture::TearDown();
  }
};

/* ---- CellColor ---- */

/* The paragraph before the table. */
const std::string& kHead = kParagraphBefore;
const std::string& kTail = kParagraphAfter;

/* A table of three cells, (1,1), (1,2) and (2,1); `colors` stand for the
 * cells' flags and backgrounds and for the colour records: the last
 * three are the records after each cell's text, and the second cell has a
 * colour record of its own (record 1) before its text. */
std::string ColorTable(const std::string& cell, const std::string (&records)[4]) {
  return kHead + "TABLEBEGIN\nTABLECELL row=0 column=0 " + cell + R"(
PABREF id=1
TEXT text="p"
)" + records[0] +
         "TABLECELL row=0 column=1 " + cell + "\n" + records[1] + R"(PABREF id=1
TEXT text="q"
)" + records[2] +
         "TABLECELL row=1 column=0 " + cell + R"(
PABREF id=1
TEXT text="r"
)" + records[3] +
         "TABLEEND\n" + kTail;
}

/* A colour record of a cell (flags 0x0001, red, green, blue, a zero). */
std::string CellColorRecord(const char* rgb) {
  return std::string("RAW sig=0xD3 data=0100") + rgb + "00\n";
}

const std::string kOwnColor = "RAW sig=0xD3 data=0100AABBCC77\n";
const std::string kBody = ColorTable("", {"", kOwnColor, "", ""});

struct color_case {
  const char* name;
  const char* definition;
  const char* value;
  std::string expected;
  std::string body = kBody;
};

/* A table whose first cell holds a nested table of one cell; `cells`
 * stand for the flags of the cells and `records` for the records after
 * the nested cell's text, after the nested table and after the second
 * cell's text. */
std::string NestedColorTable(const std::string& cells, const std::string (&records)[3]) {
  return kHead + "TABLEBEGIN\nTABLECELL row=0 column=0 " + cells + R"(
PABREF id=1
TEXT text="p"
PARAGRAPH
TABLEBEGIN nested=1
TABLECELL row=0 column=0 nested=1 )" + cells + R"(
PABREF id=1
TEXT text="n"
)" + records[0] + "TABLEEND nested=1\n" + records[1] + "TABLECELL row=0 column=1 " + cells +
         R"(
PABREF id=1
TEXT text="q"
)" + records[2] + "TABLEEND\n" + kTail;
}

TEST_F(TableAttributeTest, CellColorSetsTheCellsOfTheChunk) {
  const std::string rgb = CellColorRecord("102030");
  const color_case cases[] = {
      // An RGB colour: every cell its colour record (the second cell's own
      // one rewritten, its reserved byte cleared), never two for a cell;
      // the last cell's stands before the table's end.
      {"RgbOnTheTable", "Table 1", "#102030",
       ColorTable("flags=1", {rgb, rgb, "", rgb})},
      {"RgbInLowerCase", "Table 1", "#a0b0c0",
       ColorTable("flags=1", {CellColorRecord("A0B0C0"), CellColorRecord("A0B0C0"), "",
                              CellColorRecord("A0B0C0")})},
      // A palette colour is the background index alone: the colour
      // records go.
      {"PaletteColor", "Table 1", "red", ColorTable("flags=1 background=2", {"", "", "", ""})},
      // A chunk that opens at the table's first cell writes no record
      // before it; its record follows where the chunk closes.
      {"FirstCell", "Table 1; Row 1; Column 1", "#102030",
       kHead + R"(TABLEBEGIN
TABLECELL row=0 column=0 flags=1
PABREF id=1
TEXT text="p"
)" + rgb + "TABLECELL row=0 column=1\n" +
           kOwnColor + R"(PABREF id=1
TEXT text="q"
TABLECELL row=1 column=0
PABREF id=1
TEXT text="r"
TABLEEND
)" + kTail},
      // A nested table's cells have their records, and the cell that
      // holds it has its own after it.
      {"NestedTable", "Table 1", "#102030", NestedColorTable("flags=1", {rgb, rgb, rgb}),
       NestedColorTable("", {"", "", ""})},
      // Without cells nothing is written.
      {"NoTable", "Everything", "#102030", kHead + kTail, kHead + kTail},
      // A cell with a colour record of its own keeps just that one.
      {"CellWithItsOwnRecord", "Table 1; Row 1; Column 2", "#102030",
       kHead + R"(TABLEBEGIN
TABLECELL row=0 column=0
PABREF id=1
TEXT text="p"
TABLECELL row=0 column=1 flags=1
)" + rgb + R"(PABREF id=1
TEXT text="q"
TABLECELL row=1 column=0
PABREF id=1
TEXT text="r"
TABLEEND
)" + kTail},
  };
  for (const color_case& c : cases) {
    SCOPED_TRACE(c.name);
    const NOTEID id = StoreNote(c.body);
    EXPECT_EQ(OnChunk(id, c.definition,
                      [&](VelkoRTChunk* chunk) {
                        return chunk->SetPropertyText("CellColor", c.value, 0);
                      }),
              1);
    EXPECT_EQ(Stored(id), Expected(c.expected));
  }
}

TEST_F(TableAttributeTest, CellColorThatNamesNoColourChangesNothing) {
  const NOTEID id = StoreNote(kBody);
  VelkoTestResetActionRecord();
  EXPECT_EQ(OnChunk(id, "Table 1",
                    [](VelkoRTChunk* chunk) {
                      return chunk->SetPropertyText("CellColor", "no such colour", 0);
                    }),
            0);
  EXPECT_TRUE(VelkoTestRecordedActions().empty());
  EXPECT_EQ(Stored(id), Expected(kBody));
}

/* ---- AppendRow ---- */

/* A table of two rows of one cell, announced by a CDPRETABLEBEGIN whose
 * row count (byte 8) is 2; the second cell holds `inner`. */
std::string RowTable(int rows, const std::string& inner = "") {
  const std::string count = rows == 2 ? "02" : "03";
  return kHead + "RAW sig=0xFFFB data=00000000" + count + std::string(78, '0') + R"(
TABLEBEGIN
TABLECELL row=0 column=0
PABREF id=1
TEXT text="p"
TABLECELL row=1 column=0
PABREF id=1
TEXT text="q"
)" + inner + "TABLEEND\n" + kTail;
}

/* A nested table of one cell. */
const std::string kNestedTable = R"(TABLEBEGIN nested=1
TABLECELL row=0 column=0 nested=1
PABREF id=1
TEXT text="n"
TABLEEND nested=1
)";

const std::string kNested = "PARAGRAPH\n" + kNestedTable;

/* The nested table announced by a CDPRETABLEBEGIN of its own (one row). */
const std::string kAnnouncedNested =
    "PARAGRAPH\nRAW sig=0xFFFB data=0000000001" + std::string(78, '0') + "\n" + kNestedTable;

struct row_case {
  const char* name;
  const char* definition;
  WORD row;
  DWORD append_position;
  std::string body;
  size_t calls;
  DWORD record_number; /* where the copy goes (0: no call) */
  int32_t depth;
  std::string expected; /* with the stand-in answering 0 */
};

/* Record numbers: 1-4 the paragraph before, 5 the CDPRETABLEBEGIN, 6 the
 * table begin, 7-9 and 10-12 the two cells, then the nested table or the
 * end. */
TEST_F(TableAttributeTest, AppendRowHandsTheRowToTheAppendWhereTheRowGoes) {
  const row_case cases[] = {
      // On a Table chunk the row goes before the table's end, and the
      // table announces one row more.
      {"Table", "Table 1", 2, 1, RowTable(2), 1, 13, 0, RowTable(3)},
      // Only the end of the table itself takes it, not a nested table's.
      {"NestedTable", "Table 1", 1, 1, RowTable(2, kNested), 1, 19, 0, RowTable(3, kNested)},
      // Only the table that takes the row announces one more; a nested
      // table keeps its count, also in a Row chunk that holds it.
      {"AnnouncedNestedTable", "Table 1", 1, 1, RowTable(2, kAnnouncedNested), 1, 20, 0,
       RowTable(3, kAnnouncedNested)},
      {"RowWithAnnouncedNestedTable", "Table 1; Row 2", 0, 1, RowTable(2, kAnnouncedNested), 1,
       20, 0, RowTable(2, kAnnouncedNested)},
      // On a Row chunk it follows the row: before the next row's first
      // cell, or before the table's end after the last row.
      {"FirstRow", "Table 1; Row 1", 0, 1, RowTable(2), 1, 10, 1, RowTable(2)},
      {"LastRow", "Table 1; Row 2", 0, 1, RowTable(2), 1, 13, 0, RowTable(2)},
      // Appending at the start, it goes before the row; a Table chunk
      // takes none there.
      {"RowAtTheStart", "Table 1; Row 2", 0, 0, RowTable(2), 1, 10, 1, RowTable(2)},
      {"TableAtTheStart", "Table 1", 1, 0, RowTable(2), 0, 0, 0, RowTable(2)},
  };
  for (const row_case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const STATUS answer : {STATUS{1028}, STATUS{NOERROR}}) {
      SCOPED_TRACE(answer);
      const NOTEID id = StoreNote(c.body);
      VelkoTestResetActionRecord();
      VelkoTestRecordAppendChunk(answer);
      const long status = OnChunk(id, c.definition, [&](VelkoRTChunk* chunk) {
        chunk->append_position = c.append_position;
        return static_cast<long>(chunk->AppendRow(1, c.row, nullptr));
      });
      const std::vector<append_chunk_call> calls = VelkoTestAppendChunkCalls();
      const std::vector<recorded_action> actions = VelkoTestRecordedActions();
      VelkoTestStopAppendChunkRecord();
      VelkoTestStopActionRecord();

      ASSERT_EQ(calls.size(), c.calls);
      EXPECT_EQ(status, c.calls != 0 ? answer : NOERROR);
      // A failing copy leaves the stored body as it was.
      EXPECT_EQ(Stored(id), Expected(answer == NOERROR ? c.expected : c.body));
      if (c.calls == 0)
        continue;
      ASSERT_EQ(actions.size(), 2u);
      ASSERT_EQ(actions[1].action, ACTION_APPEND_ROW);
      const append_chunk_call& call = calls[0];
      EXPECT_EQ(call.action, ACTION_APPEND_ROW);
      EXPECT_TRUE(call.own_chunk);
      EXPECT_EQ(call.base, 0);
      // The row the query found is the append's target.
      EXPECT_NE(call.target_first, 0u);
      EXPECT_EQ(call.target_first, actions[1].p1);
      EXPECT_EQ(call.target_last, actions[1].p2);
      EXPECT_EQ(call.record_number, c.record_number);
      EXPECT_EQ(call.table_depth, c.depth);
    }
  }
}

/* ---- HTML identity texts (2422) ---- */

/* The table of three cells; the second has its identity record (ID "old",
 * name "nm") after its cell record. `cells` stand for the records after
 * each cell's text, `before` for those before the CDPRETABLEBEGIN. */
std::string IdentityTable(const std::string& before, const std::string& own,
                          const std::string (&cells)[3]) {
  return kHead + before + "RAW sig=0xFFFB data=" + std::string(88, '0') + R"(
TABLEBEGIN
TABLECELL row=0 column=0
PABREF id=1
TEXT text="p"
)" + cells[0] + "TABLECELL row=0 column=1\n" + own + R"(PABREF id=1
TEXT text="q"
)" + cells[1] + R"(TABLECELL row=1 column=0
PABREF id=1
TEXT text="r"
)" + cells[2] + "TABLEEND\n" + kTail;
}

const std::string kOwnIdentity = "IDNAME sig=0xFF7B id=\"old\" name=\"nm\"\n";
const std::string kIdentityBody = IdentityTable("", kOwnIdentity, {"", "", ""});

struct identity_case {
  const char* name;
  const char* definition;
  WORD part;
  WORD level;
  const char* text;
  std::string expected;
  std::string body = kIdentityBody;
};

TEST_F(TableAttributeTest, HtmlValueSetsTheIdentityTextsOfTablesAndCells) {
  // New records hold the chosen text alone; their length is made even.
  const std::string id = "IDNAME sig=0xFF7B id=\"c1\"\n";
  const identity_case cases[] = {
      // Cells: each cell of the chunk one record, the cell that has one
      // keeps just that one with the text replaced; the last cell's
      // stands before the table's end.
      {"Cells", "Table 1", 2, 2, "c1",
       IdentityTable("", "IDNAME sig=0xFF7B id=\"c1\" name=\"nm\"\n", {id, "", id})},
      // The table: its record in a bracket before the CDPRETABLEBEGIN;
      // the cells stay as they are.
      {"Table", "Table 1", 3, 1, "grid",
       IdentityTable("BEGIN sig=0xFFFB version=1\nIDNAME class=\"grid\"\n"
                     "END sig=0xFFFB version=1\n",
                     kOwnIdentity, {"", "", ""})},
      // A table that has its record gets no second one; a chunk that
      // holds the record changes it.
      {"TableWithItsRecord", "Table 1", 3, 1, "grid",
       IdentityTable("BEGIN sig=0xFFFB version=1\nIDNAME class=\"old\" tail=\"\\0\"\n"
                     "END sig=0xFFFB version=1\n",
                     kOwnIdentity, {"", "", ""}),
       IdentityTable("BEGIN sig=0xFFFB version=1\nIDNAME class=\"old\" tail=\"\\0\"\n"
                     "END sig=0xFFFB version=1\n",
                     kOwnIdentity, {"", "", ""})},
      // A chunk that holds the table gives the table's record its own
      // bracket.
      {"EverythingWithATable", "Everything", 3, 1, "grid",
       IdentityTable("BEGIN sig=0xFFFB version=1\nIDNAME class=\"grid\"\n"
                     "END sig=0xFFFB version=1\n",
                     kOwnIdentity, {"", "", ""})},
      {"EverythingWithTheTablesRecord", "Everything", 3, 1, "grid",
       IdentityTable("BEGIN sig=0xFFFB version=1\nIDNAME class=\"grid\"\n"
                     "END sig=0xFFFB version=1\n",
                     kOwnIdentity, {"", "", ""}),
       IdentityTable("BEGIN sig=0xFFFB version=1\nIDNAME class=\"old\" tail=\"\\0\"\n"
                     "END sig=0xFFFB version=1\n",
                     kOwnIdentity, {"", "", ""})},
      // Any level: the existing records change and no new one is made.
      {"AnyLevel", "Table 1", 1, 0, "n2",
       IdentityTable("", "IDNAME sig=0xFF7B id=\"old\" name=\"n2\" tail=\"\\0\"\n",
                     {"", "", ""})},
      // A chunk that opens at a cell: nothing before it; its record
      // follows where the chunk closes.
      {"Cell", "Table 1; Row 1; Column 1", 4, 2, "s",
       IdentityTable("", kOwnIdentity,
                     {"IDNAME sig=0xFF7B style=\"s\" tail=\"\\0\"\n", "", ""})},
      {"RowWithAnIdentifiedCell", "Table 1; Row 1", 5, 2, "t",
       IdentityTable("",
                     "IDNAME sig=0xFF7B id=\"old\" title=\"t\" name=\"nm\"\n",
                     {"IDNAME sig=0xFF7B title=\"t\" tail=\"\\0\"\n", "", ""})},
  };
  for (const identity_case& c : cases) {
    SCOPED_TRACE(c.name);
    const NOTEID id_ = StoreNote(c.body);
    EXPECT_EQ(OnChunk(id_, c.definition,
                      [&](VelkoRTChunk* chunk) {
                        return static_cast<long>(chunk->AlterRichText(
                            ACTION_SET_HTML_VALUE, c.part, c.level, 0, 0, nullptr, c.text,
                            nullptr, nullptr));
                      }),
              NOERROR);
    EXPECT_EQ(Stored(id_), Expected(c.expected));
  }
}

TEST_F(TableAttributeTest, HtmlValueTooLongForARecordChangesNothing) {
  const std::string text(64382 - 26 - 5 + 1, 'x'); // with "old" and "nm"
  for (const WORD level : {WORD{0}, WORD{2}}) {
    SCOPED_TRACE(level);
    const NOTEID id = StoreNote(kIdentityBody);
    EXPECT_EQ(OnChunk(id, "Table 1",
                      [&](VelkoRTChunk* chunk) {
                        return static_cast<long>(chunk->AlterRichText(
                            ACTION_SET_HTML_VALUE, 3, level, 0, 0, nullptr, text.c_str(), nullptr,
                            nullptr));
                      }),
              1028);
    EXPECT_EQ(Stored(id), Expected(kIdentityBody));
  }
}

/* ---- field modification (2416) ---- */

/* A JavaScript OnClick event whose code is alert(1): the event record
 * (action length 9, the NUL counted) and its blob part of 10 bytes. */
const std::string kClickEvent =
    "RAW sig=0xFFF9 data=00000000010004000900000000000000000000000000000000000000\n"
    "RAW sig=0xFFDC data=F9FF0A00803E0000000000000000616C6572742831290000\n";
const std::string kFieldIdentity = "IDNAME id=\"fid\" tail=\"\\0\"\n";

/* A field between two paragraphs: `records` its records. */
std::string FieldBody(const std::string& records) {
  return kHead + records + kTail;
}

/* The field as it is stored when written whole: its records in the
 * order the field is written, bracketed, an empty text run behind. */
const std::string kFieldInOrder = "BEGIN sig=0xFF8A\nRAW sig=0xFFFE data=" + std::string(168, '0') +
                                  "\nRAW sig=0xFFB0 data=" + std::string(32, '0') +
                                  "\nFIELD name=\"Amount\" description=\"d\"\n" + kClickEvent +
                                  kFieldIdentity + "END sig=0xFF8A\nTEXT text=\"\"\n";
/* The same field with its identity record before its event and its
 * extension records the other way round. */
const std::string kFieldOutOfOrder = "BEGIN sig=0xFF8A\nRAW sig=0xFFB0 data=" +
                                     std::string(32, '0') + "\nRAW sig=0xFFFE data=" +
                                     std::string(168, '0') +
                                     "\nFIELD name=\"Amount\" description=\"d\"\n" +
                                     kFieldIdentity + kClickEvent +
                                     "END sig=0xFF8A\nTEXT text=\"\"\n";

struct field_case {
  const char* name;
  const char* field_name;
  WORD length;
  std::string body;
  STATUS status;
  std::string expected;
};

TEST_F(TableAttributeTest, ModifyFieldWritesTheNamedFieldAgain) {
  const field_case cases[] = {
      {"RecordsInTheirOrder", "Amount", 0, FieldBody(kFieldOutOfOrder), NOERROR,
       FieldBody(kFieldInOrder)},
      {"NameCase", "AMOUNT", 0, FieldBody(kFieldOutOfOrder), NOERROR, FieldBody(kFieldInOrder)},
      {"LeadingCharacters", "Amountless", 6, FieldBody(kFieldOutOfOrder), NOERROR,
       FieldBody(kFieldInOrder)},
      // Another name, or a longer one, leaves the field alone.
      {"OtherField", "Total", 0, FieldBody(kFieldOutOfOrder), NOERROR,
       FieldBody(kFieldOutOfOrder)},
      {"LongerName", "Amounts", 0, FieldBody(kFieldOutOfOrder), NOERROR,
       FieldBody(kFieldOutOfOrder)},
      // An event of no known name is left out with the identity record;
      // the field is written, but the operation fails and the note keeps
      // its body.
      {"UnknownEvent", "Amount", 0,
       FieldBody("BEGIN sig=0xFF8A\nFIELD name=\"Amount\"\n"
                 "RAW sig=0xFFF9 data=00000000630004000900000000000000000000000000000000000000\n"
                 "RAW sig=0xFFDC data=F9FF0A00803E0000000000000000616C6572742831290000\n" +
                 kFieldIdentity + "END sig=0xFF8A\nTEXT text=\"\"\n"),
       257, ""},
  };
  for (const field_case& c : cases) {
    SCOPED_TRACE(c.name);
    const NOTEID id = StoreNote(c.body);
    EXPECT_EQ(OnChunk(id, "Everything",
                      [&](VelkoRTChunk* chunk) {
                        return static_cast<long>(
                            chunk->AlterRichText(ACTION_MODIFY_FIELD, c.length, 0, 0, 0,
                                                 c.field_name, nullptr, nullptr, nullptr));
                      }),
              c.status);
    EXPECT_EQ(Stored(id), Expected(c.status == NOERROR ? c.expected : c.body));
  }
}

/* A field buffer that cannot be had ends the operation before the walk,
 * with no buffer left behind; any other failure leaves the note as it
 * was. */
TEST_F(TableAttributeTest, ModifyFieldOverEveryFailingAllocation) {
  const std::vector<Bytes> before = {
      note_testing::Value(Script(FieldBody(kFieldOutOfOrder)).RecordBytes())};
  const std::vector<Bytes> after = {
      note_testing::Value(Script(FieldBody(kFieldInOrder)).RecordBytes())};
  for (const allocation_faults::control& control : allocation_faults::kControls) {
    SCOPED_TRACE(control.name);
    const int failed = allocation_faults::SweepStoredOperation(
        control, [&] { return StoreNote(FieldBody(kFieldOutOfOrder)); },
        [&](NOTEID id, const std::function<void()>& arm) {
          return static_cast<STATUS>(OnChunk(id, "Everything", [&](VelkoRTChunk* chunk) {
            arm();
            return static_cast<long>(chunk->AlterRichText(ACTION_MODIFY_FIELD, 0, 0, 0, 0,
                                                          "Amount", nullptr, nullptr, nullptr));
          }));
        },
        [&](NOTEID id) { return note_testing::StoredBodyValues(path_, id, true); }, before, after);
    EXPECT_GT(failed, 0);
  }
}

/* ---- failing allocations ---- */

struct sweep_case {
  const char* name;
  std::string body;
  std::function<long(VelkoRTChunk*)> work;
  std::string expected;
};

/* Each change over every failing host and tracked allocation: the status
 * is returned and the note keeps its body, or the change is whole. */
TEST_F(TableAttributeTest, ChangesAreAllOrNothingAtEveryFailedAllocation) {
  const std::string rgb = CellColorRecord("102030");
  const std::string id = "IDNAME sig=0xFF7B id=\"c1\"\n";
  const sweep_case cases[] = {
      {"CellColor", kBody,
       [](VelkoRTChunk* chunk) {
         return chunk->SetPropertyText("CellColor", "#102030", 0) == 1 ? NOERROR : chunk->status;
       },
       ColorTable("flags=1", {rgb, rgb, "", rgb})},
      {"HtmlValue", kIdentityBody,
       [](VelkoRTChunk* chunk) {
         return static_cast<long>(chunk->AlterRichText(ACTION_SET_HTML_VALUE, 2, 2, 0, 0, nullptr,
                                                       "c1", nullptr, nullptr));
       },
       IdentityTable("", "IDNAME sig=0xFF7B id=\"c1\" name=\"nm\"\n", {id, "", id})},
  };
  for (const sweep_case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Bytes> before = {note_testing::Value(Script(c.body).RecordBytes())};
    const std::vector<Bytes> after = {note_testing::Value(Script(c.expected).RecordBytes())};
    for (const allocation_faults::control& control : allocation_faults::kControls) {
      SCOPED_TRACE(control.name);
      const int failed = allocation_faults::SweepStoredOperation(
          control, [&] { return StoreNote(c.body); },
          [&](NOTEID note, const std::function<void()>& arm) {
            return static_cast<STATUS>(OnChunk(note, "Table 1", [&](VelkoRTChunk* chunk) {
              arm();
              return c.work(chunk);
            }));
          },
          [&](NOTEID note) { return note_testing::StoredBodyValues(path_, note, true); }, before,
          after);
      EXPECT_GT(failed, 0);
    }
  }
}

} // namespace
