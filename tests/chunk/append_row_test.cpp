// AppendRow building a row from a template row through the chunk's class
// interface, on a note of a database file: the body stored after the call,
// read back with the database opened anew, against records written by
// hand with the byte builder.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/allocation_faults.h"
#include "tests/support/stored_chunk_fixture.h"

namespace {

using note_testing::Bytes;

class AppendRowTest : public StoredChunkFixture {
public:
  /* AppendRow on the chunk of the stored note (the row built from the
   * template, or copied as it stands with the copy flag); its status, and
   * the chunk's secondary status. */
  STATUS AppendRow(NOTEID id, const char* definition, WORD row, const char* const* cells,
                   WORD* secondary = nullptr, const std::function<void()>& arm = [] {},
                   int copyFlag = 0) {
    return static_cast<STATUS>(OnChunk(
        id, definition,
        [&](VelkoRTChunk* chunk) {
          const STATUS status = chunk->AppendRow(copyFlag, row, cells);
          if (secondary != nullptr)
            *secondary = chunk->secondary_status;
          return static_cast<long>(status);
        },
        arm));
  }
};

/* The paragraph before the table and the one after it. */
const std::string& kHead = kParagraphBefore;
const std::string& kTail = kParagraphAfter;

/* A cell of the template row with its paragraph and runs (face 4, 12
 * points, so that a run taking the template's font shows it). */
std::string TemplateCell(int row, int column, const std::string& inside = "",
                         const std::string& cell = "") {
  return "TABLECELL row=" + std::to_string(row) + " column=" + std::to_string(column) + " " +
         cell + "\nPABREF id=1\nTEXT face=4 size=12 text=\"t" + std::to_string(column) +
         "\"\n" + inside;
}

/* A table of two rows of two cells: the first row plain, the second the
 * template (its cells hold `inside` behind their first run). */
std::string Table(const std::string& first, const std::string& second) {
  return kHead + "TABLEBEGIN\n" + TemplateCell(0, 0) + TemplateCell(0, 1) + first + second;
}

/* The body with the new row (cells `added`) before the table's end. */
std::string Body(const std::string& templateRow, const std::string& added = "") {
  return Table("", templateRow) + added + "TABLEEND\n" + kTail;
}

/* A cell of the new row: the cell, its reference and the empty run in the
 * item's default font behind it, then what the cell string gave. */
std::string NewCell(int column, const std::string& records, const std::string& cell = "") {
  return "TABLECELL row=2 column=" + std::to_string(column) + " " + cell +
         "\nPABREF id=1\nTEXT text=\"\"\n" + records;
}

const std::string kTemplate = TemplateCell(1, 0) + TemplateCell(1, 1);

struct row_case {
  const char* name;
  std::string templateRow;
  std::vector<const char*> cells; /* per column; null: no string */
  std::string added;              /* the new row as stored */
};

std::vector<row_case> RowCases() {
  const std::string longLabel(200, 'L');
  static const std::string tabLabel = "Text=x TabLabel=" + longLabel;
  // 126 bytes and a three-byte LMBCS character that would pass byte 127.
  static const std::string rowName = "Text=x RowName=" + std::string(126, 'n') + "\x14\x20\xAC";
  // A label that ends inside a character: the character's lead byte alone.
  static const std::string cutLabel = "Text=x TabLabel=ab\x14";
  return {
      // A string without Text= is the text whole; its keys still count.
      {"PlainText", kTemplate, {"RowHeight=0.5", "y"},
       NewCell(0, "TEXT face=4 size=12 text=\"RowHeight=0.5\"\nRAW sig=0xE2 data=D002\n") +
           NewCell(1, "TEXT face=4 size=12 text=\"y\"\n")},
      // Row height in twips truncated; column 1 ignores the column-0 keys.
      {"RowHeightAndColumnOneKeys", kTemplate,
       {"Text=x RowHeight=1.9999", "Text=y RowHeight=1 TabLabel=t RowName=n"},
       NewCell(0, "TEXT face=4 size=12 text=\"x\"\nRAW sig=0xE2 data=3F0B\n") +
           NewCell(1, "TEXT face=4 size=12 text=\"y\"\n")},
      // A cell without a string keeps an empty run in its first run's
      // font (not the default one); its further runs are dropped.
      {"UnlistedCellKeepsItsFont", TemplateCell(1, 0, "TEXT text=\"more\"\n") + TemplateCell(1, 1),
       {nullptr, "y"},
       "TABLECELL row=2 column=0\nPABREF id=1\nTEXT face=4 size=12 text=\"\"\n" +
           NewCell(1, "TEXT face=4 size=12 text=\"y\"\n")},
      // VertAlign= compared on six letters in any case; another value sets
      // nothing.
      {"VertAlign", kTemplate, {"Text=x vertalign=center", "Text=y VertAlign=BOTTOM"},
       NewCell(0, "TEXT face=4 size=12 text=\"x\"\n", "flags=0x20") +
           NewCell(1, "TEXT face=4 size=12 text=\"y\"\n", "flags=0x80")},
      {"VertAlignOther", kTemplate, {"Text=x VertAlign=Top", nullptr},
       NewCell(0, "TEXT face=4 size=12 text=\"x\"\n") +
           "TABLECELL row=2 column=1\nPABREF id=1\nTEXT face=4 size=12 text=\"\"\n"},
      // A palette colour: the cell's background and flag, and the colour
      // record behind the text; one that does not parse changes nothing.
      {"CellColor", kTemplate, {"Text=x CellColor=red", "Text=y CellColor='no such colour'"},
       NewCell(0, "TEXT face=4 size=12 text=\"x\"\nRAW sig=0xD3 data=0100FF000000\n",
               "flags=0x01 background=2") +
           NewCell(1, "TEXT face=4 size=12 text=\"y\"\n")},
      // A colour from TextFont= brackets the text with its colour record.
      {"TextFontColour", kTemplate, {"Text=x TextFont=BLUE", "TextFont=BLUE"},
       NewCell(0, "BEGIN sig=0xFF85\nTEXT face=4 size=12 color=blue text=\"x\"\n"
                  "COLOR rgb=0x0000FF\nEND sig=0xFF85\n") +
           NewCell(1, "TEXT face=4 size=12 text=\"TextFont=BLUE\"\n")},
      // Labels cut to 127 bytes, never inside a character.
      {"Labels", kTemplate, {tabLabel.c_str(), nullptr},
       NewCell(0, "TEXT face=4 size=12 text=\"x\"\nTABLELABEL flags=2 label=\"" +
                      longLabel.substr(0, 127) + "\"\n") +
           "TABLECELL row=2 column=1\nPABREF id=1\nTEXT face=4 size=12 text=\"\"\n"},
      {"LabelCutAtACharacter", kTemplate, {rowName.c_str(), nullptr},
       NewCell(0, "TEXT face=4 size=12 text=\"x\"\nTABLELABEL flags=1 label=\"" +
                      std::string(126, 'n') + "\"\n") +
           "TABLECELL row=2 column=1\nPABREF id=1\nTEXT face=4 size=12 text=\"\"\n"},
      {"LabelEndingInsideACharacter", kTemplate, {cutLabel.c_str(), nullptr},
       NewCell(0, "TEXT face=4 size=12 text=\"x\"\nTABLELABEL flags=2 label=\"ab\"\n") +
           "TABLECELL row=2 column=1\nPABREF id=1\nTEXT face=4 size=12 text=\"\"\n"},
      // The identity record's texts in their order; 29 bytes, padded.
      {"CellHtml", kTemplate, {nullptr, "Text=y cellhtmlclass=c CellHTMLID=ab"},
       "TABLECELL row=2 column=0\nPABREF id=1\nTEXT face=4 size=12 text=\"\"\n" +
           NewCell(1, "TEXT face=4 size=12 text=\"y\"\nIDNAME sig=0xFF7B id=\"ab\" class=\"c\"\n")},
      // A background image: a named image resource of the database (the
      // generator makes its length even) and the default repeat (tile).
      {"BackgroundImage", kTemplate, {nullptr, "Text=y BackgroundImage=sky.gif"},
       "TABLECELL row=2 column=0\nPABREF id=1\nTEXT face=4 size=12 text=\"\"\n" +
           NewCell(1, "TEXT face=4 size=12 text=\"y\"\nRESOURCE sig=0xFF5A type=3 class=19 "
                      "link=0000000000000000 name=\"sky.gif\" tail=00\n"
                      "RAW sig=0xFFEE data=0400000000000000\n")},
      // A table nested in a cell of the template is left out, and so is
      // all but the first paragraph, reference and run of a cell.
      {"NestedTableDropped",
       TemplateCell(1, 0,
                    "PARAGRAPH\nTABLEBEGIN nested=1\nTABLECELL row=0 column=0 nested=1\n"
                    "PABREF id=1\nTEXT text=\"n\"\nTABLEEND nested=1\nPARAGRAPH\nPABREF id=1\n"
                    "TEXT text=\"after\"\n") +
           TemplateCell(1, 1),
       {"x", "y"},
       NewCell(0, "TEXT face=4 size=12 text=\"x\"\nPARAGRAPH\n") +
           NewCell(1, "TEXT face=4 size=12 text=\"y\"\n")},
  };
}

TEST_F(AppendRowTest, RowFromTheTemplateAndTheCellStrings) {
  for (const row_case& c : RowCases()) {
    SCOPED_TRACE(c.name);
    const NOTEID id = StoreNote(Body(c.templateRow));
    std::vector<const char*> cells(20, nullptr);
    for (size_t i = 0; i < c.cells.size(); ++i)
      cells[i] = c.cells[i];
    EXPECT_EQ(AppendRow(id, "Table 1", 2, cells.data()), NOERROR);
    EXPECT_EQ(Stored(id), Expected(Body(c.templateRow, c.added)));
  }
}

/* A cell spanning rows or columns ends the append, whether the row is
 * built from the template or copied as it stands: 257, secondary status
 * 20017, and the note keeps its body. */
TEST_F(AppendRowTest, SpannedCellRefusesTheRow) {
  for (const int copyFlag : {0, 1}) {
    for (const char* cell : {"rowspan=2", "flags=0x08"}) {
      SCOPED_TRACE(std::string(cell) + (copyFlag != 0 ? ", copied" : ", from the template"));
      const std::string body = Body(TemplateCell(1, 0) + TemplateCell(1, 1, "", cell));
      const NOTEID id = StoreNote(body);
      const std::vector<Bytes> before = note_testing::StoredBodyValues(path_, id, false);
      const char* cells[20] = {"x", "y"};
      WORD secondary = 0;
      EXPECT_EQ(AppendRow(id, "Table 1", 2, cells, &secondary, [] {}, copyFlag), 257);
      EXPECT_EQ(secondary, 20017);
      EXPECT_EQ(note_testing::StoredBodyValues(path_, id, false), before);
    }
  }
}

/* On a Row chunk the row itself is the template and the new row follows
 * it: the rows behind are numbered on. */
TEST_F(AppendRowTest, RowChunkIsFollowedByItsNewRow) {
  const NOTEID id = StoreNote(Body(kTemplate));
  const char* cells[20] = {"x", "Text=y"};
  EXPECT_EQ(AppendRow(id, "Table 1; Row 1", 0, cells), NOERROR);
  std::string expected = kHead + "TABLEBEGIN\n" + TemplateCell(0, 0) + TemplateCell(0, 1);
  for (int column = 0; column < 2; ++column)
    expected += "TABLECELL row=1 column=" + std::to_string(column) +
                "\nPABREF id=1\nTEXT text=\"\"\nTEXT face=4 size=12 text=\"" +
                (column == 0 ? "x" : "y") + "\"\n";
  expected += TemplateCell(2, 0) + TemplateCell(2, 1) + "TABLEEND\n" + kTail;
  EXPECT_EQ(Stored(id), Expected(expected));
}

/* With the Nth host allocation or tracked request failing, for every N
 * until a run meets no failure: a success holds the whole new row (a row
 * query that ran out of memory is a failure, not a row left out), a
 * failing status leaves the body as it was, and no run leaves a host
 * memory handle. */
TEST_F(AppendRowTest, AllOrNothingAtEveryFailedAllocation) {
  const std::string body = Body(kTemplate);
  static const char* const kCells[20] = {
      "Text=x TextFont=BLUE RowHeight=0.5 TabLabel=t CellColor=red",
      "Text=y CellHTMLID=a CellHTMLName=bc"};
  const NOTEID first = StoreNote(body);
  const std::vector<Bytes> before = note_testing::StoredBodyValues(path_, first, false);
  ASSERT_EQ(AppendRow(first, "Table 1", 2, kCells), NOERROR);
  const std::vector<Bytes> after = note_testing::StoredBodyValues(path_, first, true);
  ASSERT_NE(before, after);
  for (const allocation_faults::control& fault : allocation_faults::kControls) {
    int failing = 0;
    for (int nth = 1; nth < 5000 && !HasFailure(); ++nth) {
      SCOPED_TRACE(std::string(fault.name) + " failure " + std::to_string(nth));
      const NOTEID id = StoreNote(body);
      const size_t handles = HostTestLiveHandles();
      const STATUS status = AppendRow(id, "Table 1", 2, kCells, nullptr, [&] { fault.arm(nth); });
      const bool fired = fault.fired(nth);
      EXPECT_EQ(HostTestLiveHandles(), handles);
      const std::vector<Bytes> stored = note_testing::StoredBodyValues(path_, id, true);
      if (!fired) {
        EXPECT_EQ(status, NOERROR);
        EXPECT_EQ(stored, after);
        break;
      }
      if (status != NOERROR) {
        ++failing;
        EXPECT_EQ(stored, before) << "status " << status;
      } else {
        EXPECT_EQ(stored, after);
      }
    }
    EXPECT_GT(failing, 0) << fault.name;
  }
}

} // namespace
