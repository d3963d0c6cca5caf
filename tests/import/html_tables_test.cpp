// Tables appended through VelkoRTChunk::AppendHTML: each table's records
// written by hand as a record script and compared with the body after the
// import, which follows the item's own records; tables and paragraph
// styles in one import sharing their definitions. Also tables past the
// limits of a table record (rows, columns, nesting), an import into a
// cell, an imported table rendered back to HTML, and a table import over
// every failing allocation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cdbuild/cd_script.h"
#include "tests/support/allocation_faults.h"
#include "tests/support/record_lines.h"
#include "tests/support/stored_chunk_fixture.h"
#include "tests/support/test_fixture.h"

namespace {

using engine_test::Bytes;

/* The item's records before each import. */
constexpr const char* kOriginal = "PABDEF id=1 ext=1440,0,1440,0,0,0\nPABREF id=1\nTEXT text=\"x\"\n";

struct table_case;

class HtmlTablesTest : public engine_test::EngineTest {
protected:
  /* The item's records after the HTML is appended to the chunk of the
   * definition; the item holds original before. */
  std::vector<std::string> Append(const std::string& html, STATUS* status,
                                  const std::string& original = kOriginal,
                                  const char* definition = "Everything") {
    Restart();
    AppendItem(Script(original).records());
    VelkoRTChunk* chunk = Chunk(definition);
    *status = chunk->AppendHTML("INLINE", html.c_str(), "");
    return note_testing::RecordLines(Values());
  }

  static std::vector<std::string> Lines(const std::string& script) {
    return StoredChunkFixture::Expected(script);
  }

  void ExpectImported(const table_case& c);
};

/* ---- the records of a table, as the script writes them ---- */

/* The paragraph before a table and its begin: left margin 1440, the words
 * 40 and 60, flags 2. */
std::string Begin(bool nested = false) {
  return std::string("PARAGRAPH\nHEX ") + (nested ? "CF" : "A3") +
         " 0E A0 05 28 00 3C 00 00 00 00 00 02 00\n";
}

/* A cell between the edges with its paragraph; flags 2 and more, the
 * spans and borders in extra. */
std::string Cell(int row, int column, int left, int right, const std::string& extra = "",
                 bool nested = false) {
  return "TABLECELL row=" + std::to_string(row) + " column=" + std::to_string(column) +
         " left=" + std::to_string(left) + " right=" + std::to_string(right) +
         (extra.find("flags=") == std::string::npos ? " flags=2" : "") +
         (extra.find("borders=") == std::string::npos ? " borders=0" : "") + " " + extra +
         (nested ? " nested=1" : "") + "\nPARAGRAPH\n";
}

/* A definition of paragraphs in a cell: the margins and `style` (justify=
 * and flags=) given, the cell's flags2 and extension words. */
std::string CellParagraphs(int id, int left, int right, const std::string& style) {
  return "PABDEF id=" + std::to_string(id) + " left=" + std::to_string(left) +
         " right=" + std::to_string(right) + " " + style +
         " flags2=0x0440 ext=1440,0,1440,0,0,100\n";
}

/* A first-row cell's definition: the item's definition (margins 1440)
 * moved 40 twips inside the cell's edges. */
std::string Definition(int id, int left, int right) {
  return CellParagraphs(id, left + 40, right - 40, "flags=0x0086");
}

std::string Reference(int id) { return "PABREF id=" + std::to_string(id) + "\n"; }

std::string Text(const std::string& text) { return "TEXT text=\"" + text + "\"\n"; }

/* The table's end, then its paragraph in the definition around it. */
std::string End(int around = 1, bool nested = false) {
  return std::string(nested ? "TABLEEND nested=1\n" : "TABLEEND\n") + "PARAGRAPH\n" +
         Reference(around) + Text("");
}

/* A table of two equal columns up to the end of its first row. */
std::string FirstRowOfTwo(const std::string& first, const std::string& second) {
  return Begin() + Cell(0, 0, 1440, 5760) + Definition(2, 1440, 5760) + Reference(2) +
         Text(first) + Cell(0, 1, 5760, 10080) + Definition(3, 5760, 10080) + Reference(3) +
         Text(second);
}

struct table_case {
  const char* name;
  std::string html;
  std::string script; /* the records after the item's own */
};

/* The case's HTML appended after the item's own records: the body holds
 * the case's records behind them, and the import succeeded. */
void HtmlTablesTest::ExpectImported(const table_case& c) {
  SCOPED_TRACE(c.name);
  STATUS status = 0;
  EXPECT_EQ(Append(c.html, &status), Lines(kOriginal + c.script));
  EXPECT_EQ(status, NOERROR);
}

/* With DefaultTableWidth 8640 two equal columns have the edges 1440, 5760
 * and 10080. */
TEST_F(HtmlTablesTest, EachTableGivesItsRecords) {
  const table_case cases[] = {
      {"two by two",
       "<table><tr><td>a</td><td>b</td></tr><tr><td>c</td><td>d</td></tr></table>",
       FirstRowOfTwo("a", "b") + Cell(1, 0, 1440, 5760) + Reference(2) + Text("c") +
           Cell(1, 1, 5760, 10080) + Reference(3) + Text("d") + End()},
      {"a border gives every side single",
       "<table border=\"2\"><tr><td>a</td></tr></table>",
       Begin() + Cell(0, 0, 1440, 10080, "borders=0x55 v42border=0x1111") +
           Definition(2, 1440, 10080) + Reference(2) + Text("a") + End()},
      {"border 0 gives none", "<table border=\"0\"><tr><td>a</td></tr></table>",
       Begin() + Cell(0, 0, 1440, 10080) + Definition(2, 1440, 10080) + Reference(2) +
           Text("a") + End()},
      {"widths: 100 pixels, 25 per cent of 8640, the rest",
       "<table><tr><td width=\"100\">a</td><td width=\"25%\">b</td><td>c</td></tr></table>",
       Begin() + Cell(0, 0, 1440, 2940) + Definition(2, 1440, 2940) + Reference(2) + Text("a") +
           Cell(0, 1, 2940, 5100) + Definition(3, 2940, 5100) + Reference(3) + Text("b") +
           Cell(0, 2, 5100, 10080) + Definition(4, 5100, 10080) + Reference(4) + Text("c") +
           End()},
      {"widths past the largest edge narrowed together: 3 x 30000 twips in 64095",
       "<table><tr><td width=\"2000\">a</td><td width=\"2000\">b</td><td width=\"2000px\">c"
       "</td></tr></table>",
       Begin() + Cell(0, 0, 1440, 22805) + Definition(2, 1440, 22805) + Reference(2) +
           Text("a") + Cell(0, 1, 22805, 44170) + Definition(3, 22805, 44170) + Reference(3) +
           Text("b") + Cell(0, 2, 44170, 65535) + Definition(4, 44170, 65535) + Reference(4) +
           Text("c") + End()},
      {"a short row ends in an empty cell",
       "<table><tr><td>a</td><td>b</td></tr><tr><td>c</td></tr></table>",
       FirstRowOfTwo("a", "b") + Cell(1, 0, 1440, 5760) + Reference(2) + Text("c") +
           Cell(1, 1, 5760, 10080) + Reference(3) + Text("") + End()},
      {"colspan: the content in the right cell, the left one covered in its row",
       "<table><tr><td colspan=\"2\">a</td></tr><tr><td>b</td><td>c</td></tr></table>",
       Begin() + Cell(0, 0, 1440, 5760, "flags=6") + Definition(2, 1440, 5760) + Reference(2) +
           Text("") + Cell(0, 1, 5760, 10080, "colspan=2") + Definition(3, 5760, 10080) +
           Reference(3) + Text("a") + Cell(1, 0, 1440, 5760) + Reference(2) + Text("b") +
           Cell(1, 1, 5760, 10080) + Reference(3) + Text("c") + End()},
      {"rowspan: the content in the lower cell, the upper one covered above it",
       "<table><tr><td rowspan=\"2\">a</td><td>b</td></tr><tr><td>c</td></tr></table>",
       Begin() + Cell(0, 0, 1440, 5760, "flags=0x0A") + Definition(2, 1440, 5760) +
           Reference(2) + Text("") + Cell(0, 1, 5760, 10080) + Definition(3, 5760, 10080) +
           Reference(3) + Text("b") + Cell(1, 0, 1440, 5760, "rowspan=2") + Reference(2) +
           Text("a") + Cell(1, 1, 5760, 10080) + Reference(3) + Text("c") + End()},
      {"a row that row spans cover wholly, written without cells: no column beside them",
       "<table><tr><td rowspan=\"2\">a</td><td rowspan=\"2\">b</td></tr><tr></tr>"
       "<tr><td>c</td><td>d</td></tr></table>",
       Begin() + Cell(0, 0, 1440, 5760, "flags=0x0A") + Definition(2, 1440, 5760) +
           Reference(2) + Text("") + Cell(0, 1, 5760, 10080, "flags=0x0A") +
           Definition(3, 5760, 10080) + Reference(3) + Text("") +
           Cell(1, 0, 1440, 5760, "rowspan=2") + Reference(2) + Text("a") +
           Cell(1, 1, 5760, 10080, "rowspan=2") + Reference(3) + Text("b") +
           Cell(2, 0, 1440, 5760) + Reference(2) + Text("c") + Cell(2, 1, 5760, 10080) +
           Reference(3) + Text("d") + End()},
      {"a merged area of two by two, then a cell beside it in each row",
       "<table><tr><td rowspan=\"2\" colspan=\"2\">a</td><td width=\"96\">b</td></tr>"
       "<tr><td>c</td></tr></table>",
       // 96 pixels are 1440 twips; the two other columns share 7200
       Begin() + Cell(0, 0, 1440, 5040, "flags=0x0A") + Definition(2, 1440, 5040) +
           Reference(2) + Text("") + Cell(0, 1, 5040, 8640, "flags=0x0A") +
           Definition(3, 5040, 8640) + Reference(3) + Text("") + Cell(0, 2, 8640, 10080) +
           Definition(4, 8640, 10080) + Reference(4) + Text("b") +
           Cell(1, 0, 1440, 5040, "flags=6") + Reference(2) + Text("") +
           Cell(1, 1, 5040, 8640, "rowspan=2 colspan=2") + Reference(3) + Text("a") +
           Cell(1, 2, 8640, 10080) + Reference(4) + Text("c") + End()},
      {"a nested table: its cell's definition made from the cell around it, the same one; "
       "the cell's after it",
       "<table><tr><td>a<table><tr><td>b</td></tr></table></td></tr></table>",
       Begin() + Cell(0, 0, 1440, 10080) + Definition(2, 1440, 10080) + Reference(2) +
           Text("a") + Begin(true) + Cell(0, 0, 1440, 10080, "", true) + Reference(2) +
           Text("b") + End(2, true) + End()},
      {"caption first, th as td, head, body and foot rows in order",
       "<table><caption>t</caption><thead><tr><th>h</th></tr></thead>"
       "<tbody><tr><td>b</td></tr></tbody><tfoot><tr><td>f</td></tr></tfoot></table>",
       Text("t") + Begin() + Cell(0, 0, 1440, 10080) + Definition(2, 1440, 10080) +
           Reference(2) + Text("h") + Cell(1, 0, 1440, 10080) + Reference(2) + Text("b") +
           Cell(2, 0, 1440, 10080) + Reference(2) + Text("f") + End()},
      {"text around: the text after goes on in the table's last paragraph; blocks in a cell",
       "a<table><tr><td><p>b</p><p><i>c</i><br></p></td></tr></table>d<p>e</p>",
       Text("a") + Begin() + Cell(0, 0, 1440, 10080) + Definition(2, 1440, 10080) +
           Reference(2) + Text("b") + "PARAGRAPH\nTEXT attributes=italic text=\"c\"\n" + End() +
           Text("d") + "PARAGRAPH\n" + Text("e")},
      {"a table without cells writes its caption alone", "a<table><caption>c</caption></table>",
       Text("a") + "PARAGRAPH\n" + Text("c")},
  };
  for (const table_case& c : cases)
    ExpectImported(c);
}

/* Tables and paragraph styles in one import: one id space, each
 * definition written once; in a cell the cell's definition is what styled
 * blocks (and the cell's own align= and text-align) start from and what an
 * unstyled paragraph goes back to; after a table the definition around it
 * holds again. The item's definition is id 1, a centred one made from it
 * id 2 where a case has one. */
TEST_F(HtmlTablesTest, TablesAndParagraphStylesShareTheirDefinitions) {
  const std::string centred =
      "PABDEF id=2 justify=center flags=0x100 ext=1440,0,1440,0,0,0\n" + Reference(2);
  const table_case cases[] = {
      {"a styled paragraph, a table and the style again: ids apart, each definition once",
       "<p align=\"center\">a</p><table><tr><td>b</td></tr></table><p align=center>c</p>",
       "PARAGRAPH\n" + centred + Text("a") + Begin() + Cell(0, 0, 1440, 10080) +
           Definition(3, 1440, 10080) + Reference(3) + Text("b") + End(2) + Text("c")},
      {"a table in a list item, then the next item: the paragraph after the table is that "
       "item, named by its one reference",
       "<ul><li>a<table><tr><td>b</td></tr></table></li><li>c</li></ul>",
       "PARAGRAPH\nPABDEF id=2 left=2160 firstline=2160 flags=0x0500 ext=1440,0,1440,0,0,0\n" +
           Reference(2) + Text("a") + Begin() + Cell(0, 0, 1440, 10080) +
           Definition(3, 1440, 10080) + Reference(3) + Text("b") + End(2) + Text("c")},
      {"two tables of the same columns: one set of cell definitions",
       "<table><tr><td>a</td><td>b</td></tr></table><table><tr><td>c</td><td>d</td></tr></table>",
       FirstRowOfTwo("a", "b") + End() + Begin() + Cell(0, 0, 1440, 5760) + Reference(2) +
           Text("c") + Cell(0, 1, 5760, 10080) + Reference(3) + Text("d") + End()},
      {"a centred paragraph, a list and a quote in a cell start from the cell's definition; "
       "the text between goes back to the cell's id",
       "<table><tr><td><p align=center>a</p><ul><li>b</li></ul>c<blockquote>d</blockquote>"
       "</td></tr></table>",
       Begin() + Cell(0, 0, 1440, 10080) + Definition(2, 1440, 10080) +
           CellParagraphs(3, 1480, 10040, "justify=center flags=0x0186") + Reference(3) +
           Text("a") + "PARAGRAPH\n" + CellParagraphs(4, 2200, 10040, "flags=0x0586") +
           Reference(4) + Text("b") + "PARAGRAPH\n" + Reference(2) + Text("c") + "PARAGRAPH\n" +
           CellParagraphs(5, 2200, 10040, "flags=0x0186") + Reference(5) + Text("d") + End()},
      {"align= and text-align on a cell style its paragraphs; the column's other cells keep "
       "the cell's definition",
       "<table><tr><td align=\"right\">a<p>b</p></td><td style=\"text-align: center\">c</td>"
       "</tr><tr><td>d</td><td>e</td></tr></table>",
       Begin() + Cell(0, 0, 1440, 5760) + Definition(2, 1440, 5760) +
           CellParagraphs(3, 1480, 5720, "justify=right flags=0x0186") + Reference(3) +
           Text("a") + "PARAGRAPH\n" + Reference(3) + Text("b") + Cell(0, 1, 5760, 10080) +
           Definition(4, 5760, 10080) +
           CellParagraphs(5, 5800, 10040, "justify=center flags=0x0186") + Reference(5) +
           Text("c") + Cell(1, 0, 1440, 5760) + Reference(2) + Text("d") +
           Cell(1, 1, 5760, 10080) + Reference(4) + Text("e") + End()},
      {"the text after a table in the style around it; that style stays out of the cells",
       "<div align=\"center\">a<table><tr><td>b</td></tr></table>c</div>d",
       "PARAGRAPH\n" + centred + Text("a") + Begin() + Cell(0, 0, 1440, 10080) +
           Definition(3, 1440, 10080) + Reference(3) + Text("b") + End(2) + Text("c") +
           "PARAGRAPH\n" + Reference(1) + Text("d")},
      {"a table in a styled cell: its cell has the cell's definition, the text after it the "
       "cell's id",
       "<table><tr><td><p align=center>a</p><table><tr><td>b</td></tr></table>c</td></tr>"
       "</table>",
       Begin() + Cell(0, 0, 1440, 10080) + Definition(2, 1440, 10080) +
           CellParagraphs(3, 1480, 10040, "justify=center flags=0x0186") + Reference(3) +
           Text("a") + Begin(true) + Cell(0, 0, 1440, 10080, "", true) + Reference(2) +
           Text("b") + End(2, true) + Text("c") + End()},
  };
  for (const table_case& c : cases)
    ExpectImported(c);
}

/* A definition met again from another template is the one written first,
 * however many were written between: here a quote in a cell whose column
 * starts half an inch left of an earlier table's column, in an item whose
 * definition was updated before (flags 0x100), as the cells' are. */
TEST_F(HtmlTablesTest, ADefinitionMetAgainFromAnotherTemplateIsTheFirstWritten) {
  const std::string original =
      "PABDEF id=1 flags=0x100 ext=1440,0,1440,0,0,0\nPABREF id=1\nTEXT text=\"x\"\n";
  auto definition = [](int id, int left, int right) {
    return CellParagraphs(id, left + 40, right - 40, "flags=0x0186");
  };
  const std::string twoColumnsCells =
      Begin() + Cell(0, 0, 1440, 2940) + definition(2, 1440, 2940) + Reference(2) + Text("a") +
      Cell(0, 1, 2940, 5940) + definition(3, 2940, 5940) + Reference(3) + Text("b");
  const std::string twoColumns = twoColumnsCells + End();
  const table_case cases[] = {
      {"the next table's quote: the earlier column's definition",
       "<table><tr><td width=\"100\">a</td><td width=\"200\">b</td></tr></table>"
       "<table><tr><td width=\"52\">c</td><td width=\"248\"><blockquote>d</blockquote></td>"
       "</tr></table>",
       twoColumns + Begin() + Cell(0, 0, 1440, 2220) + definition(4, 1440, 2220) +
           Reference(4) + Text("c") + Cell(0, 1, 2220, 5940) + definition(5, 2220, 5940) +
           Reference(3) + Text("d") + End()},
      {"with definitions of other margins and alignments written between",
       "<table><tr><td width=\"100\">a</td><td width=\"200\">b</td></tr></table>"
       "<p align=center>e</p><table><tr><td width=\"300\">f</td></tr></table>"
       "<table><tr><td width=\"52\">c</td><td width=\"248\"><blockquote>d</blockquote></td>"
       "</tr></table>",
       twoColumnsCells + "TABLEEND\nPARAGRAPH\nPABDEF id=4 justify=center flags=0x100 "
           "ext=1440,0,1440,0,0,0\n" + Reference(4) + Text("") + Text("e") + Begin() +
           Cell(0, 0, 1440, 5940) + definition(5, 1440, 5940) + Reference(5) + Text("f") +
           End() + Begin() + Cell(0, 0, 1440, 2220) + definition(6, 1440, 2220) +
           Reference(6) + Text("c") + Cell(0, 1, 2220, 5940) + definition(7, 2220, 5940) +
           Reference(3) + Text("d") + End()},
  };
  for (const table_case& c : cases) {
    SCOPED_TRACE(c.name);
    STATUS status = 0;
    EXPECT_EQ(Append(c.html, &status, original), Lines(original + c.script));
    EXPECT_EQ(status, NOERROR);
  }
}

/* A cell holds its row in a byte: row 256 begins a further table, whose
 * cells take the definitions of the first. */
TEST_F(HtmlTablesTest, RowsPast255GoOnInAFurtherTable) {
  std::string html = "<table>";
  std::string script = Begin();
  for (int row = 0; row < 256; ++row) {
    html += "<tr><td>" + std::to_string(row) + "</td></tr>";
    if (row == 255)
      script += End() + Begin();
    script += Cell(row % 255, 0, 1440, 10080) + (row == 0 ? Definition(2, 1440, 10080) : "") +
              Reference(2) + Text(std::to_string(row));
  }
  STATUS status = 0;
  EXPECT_EQ(Append(html + "</table>", &status), Lines(kOriginal + script + End()));
  EXPECT_EQ(status, NOERROR);
}

/* 65 columns pass the table's per-column stores: each row becomes a
 * paragraph of its cells' content separated by tabs. */
TEST_F(HtmlTablesTest, SixtyFiveColumnsBecomeTabbedParagraphs) {
  std::string html = "b<table>";
  std::string rows[2];
  for (int row = 0; row < 2; ++row) {
    html += "<tr>";
    for (int column = 0; column < 65; ++column) {
      const std::string text = std::to_string(row * 100 + column);
      html += "<td>" + text + "</td>";
      rows[row] += (column == 0 ? "" : "\\t") + text;
    }
    html += "</tr>";
  }
  STATUS status = 0;
  EXPECT_EQ(Append(html + "</table>", &status),
            Lines(std::string(kOriginal) + "TEXT text=\"b\"\nPARAGRAPH\nTEXT text=\"" + rows[0] +
                  "\"\nPARAGRAPH\nTEXT text=\"" + rows[1] + "\"\n"));
  EXPECT_EQ(status, NOERROR);
}

/* The records of tables nested from level `level` (0: the top) up to 9
 * around the text, each in the first cell of the one around it; a table
 * at level 10 is text of the ninth one's cell. Every cell has the
 * definition of the outermost one (id 2), written once. */
std::string NestedTables(int level, const std::string& inner) {
  if (level == 9)
    return inner;
  const bool nested = level > 0;
  return Begin(nested) + Cell(0, 0, 1440, 10080, "", nested) +
         (nested ? "" : Definition(2, 1440, 10080)) + Reference(2) +
         NestedTables(level + 1, inner) + End(nested ? 2 : 1, nested);
}

/* Ten tables, one in another: nine are tables, the tenth is its row as
 * text. */
TEST_F(HtmlTablesTest, TablesNestedPastNineLevelsBecomeText) {
  std::string html;
  for (int level = 0; level < 10; ++level)
    html += "<table><tr><td>";
  html += "a</td><td>b";
  for (int level = 0; level < 10; ++level)
    html += "</td></tr></table>";
  STATUS status = 0;
  EXPECT_EQ(Append(html, &status), Lines(kOriginal + NestedTables(0, Text("a\\tb"))));
  EXPECT_EQ(status, NOERROR);
}

/* An import into a cell lands at table level 1: its table is nested, its
 * cell takes the definition of the cell around it (the same content), and
 * the paragraph after it takes the cell's definition again. */
TEST_F(HtmlTablesTest, ATableImportedIntoACellIsNested) {
  const std::string original = std::string(kOriginal) + "PARAGRAPH\n" + Begin().substr(10) +
                               Cell(0, 0, 1440, 10080) + Definition(2, 1440, 10080) +
                               Reference(2) + Text("c") + "TABLEEND\nPARAGRAPH\n" +
                               Reference(1) + Text("z");
  STATUS status = 0;
  const std::vector<std::string> lines =
      Append("<table><tr><td>n</td></tr></table>", &status, original, "Table 1; Row 1; Column 1");
  EXPECT_EQ(status, NOERROR);
  EXPECT_EQ(lines, Lines(std::string(kOriginal) + "PARAGRAPH\n" + Begin().substr(10) +
                         Cell(0, 0, 1440, 10080) + Definition(2, 1440, 10080) + Reference(2) +
                         Text("c") + Begin(true) + Cell(0, 0, 1440, 10080, "", true) +
                         Reference(2) + Text("n") + End(2, true) +
                         "TABLEEND\nPARAGRAPH\n" + Reference(1) + Text("z")));
}

TEST_F(HtmlTablesTest, AnImportedTableRendersWithItsCells) {
  STATUS status = 0;
  Append("<table border=\"1\"><tr><td>one</td><td rowspan=\"2\">two</td></tr>"
         "<tr><td><b>three</b></td></tr></table>",
         &status);
  ASSERT_EQ(status, NOERROR);
  char* html = Chunk("Everything")->GenerateHTML("", "HTML 4.01", "", 0, nullptr, nullptr);
  ASSERT_NE(html, nullptr);
  const std::string rendered(html, session_->render_result_length);
  VelkoDeallocatePtr(session_, html);
  const size_t table = rendered.find("<table");
  ASSERT_NE(table, std::string::npos) << rendered;
  const size_t one = rendered.find("one", table);
  const size_t two = rendered.find("two", table);
  const size_t three = rendered.find("<b>three</b>", table);
  EXPECT_LT(one, two) << rendered;
  EXPECT_LT(two, three) << rendered;
  EXPECT_LT(three, rendered.find("</table>", table)) << rendered;
  EXPECT_NE(rendered.find("rowspan='2'>"), std::string::npos) << rendered;
}

class HtmlTablesStoredTest : public StoredChunkFixture {};

/* A table with a spanned area, a right-aligned cell and a nested table in
 * it, imported over every failing host and tracked allocation: 263 and
 * the note as it was, or the whole table. */
TEST_F(HtmlTablesStoredTest, AnImportIsAllOrNothingAtEveryFailedAllocation) {
  const std::string html =
      "<table border=\"1\"><tr><td rowspan=\"2\">a</td><td align=\"right\">b<table><tr>"
      "<td>n</td></tr></table></td></tr><tr><td>c</td></tr></table>";
  const std::string borders = " borders=0x55 v42border=0x1111";
  const std::string table =
      Begin() + Cell(0, 0, 1440, 5760, "flags=0x0A" + borders) + Definition(2, 1440, 5760) +
      Reference(2) + Text("") + Cell(0, 1, 5760, 10080, borders) + Definition(3, 5760, 10080) +
      CellParagraphs(4, 5800, 10040, "justify=right flags=0x0186") + Reference(4) + Text("b") +
      Begin(true) + Cell(0, 0, 1440, 10080, "", true) + Reference(3) + Text("n") + End(3, true) +
      Cell(1, 0, 1440, 5760, "rowspan=2" + borders) + Reference(2) + Text("a") +
      Cell(1, 1, 5760, 10080, borders) + Reference(3) + Text("c") + End();
  const std::vector<Bytes> before = {note_testing::Value(Script(kOriginal).RecordBytes())};
  const std::vector<Bytes> after = {
      note_testing::Value(Script(kOriginal + table).RecordBytes())};
  for (const allocation_faults::control& control : allocation_faults::kControls) {
    SCOPED_TRACE(control.name);
    const int failed = allocation_faults::SweepStoredOperation(
        control, [&] { return StoreNote(kOriginal); },
        [&](NOTEID id, const std::function<void()>& arm) {
          return static_cast<STATUS>(OnChunk(id, "Everything", [&](VelkoRTChunk* chunk) {
            arm();
            const STATUS status = chunk->AppendHTML("INLINE", html.c_str(), "");
            EXPECT_TRUE(status == NOERROR || status == VELKO_ERR_MEMORY) << status;
            return static_cast<long>(status);
          }));
        },
        [&](NOTEID id) { return note_testing::StoredBodyValues(path_, id, true); }, before, after);
    EXPECT_GT(failed, 0);
  }
}

} // namespace
