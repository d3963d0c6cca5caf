// SortByRow through the chunk's class interface on a stored note: the body
// stored after the sort, read back with the database opened anew, and the
// table as it renders.
#include <gtest/gtest.h>

#include <string>

#include "store/session.h"
#include "tests/support/stored_chunk_fixture.h"

namespace {

class SortByRowTest : public StoredChunkFixture {};

/* A cell of the two-column table AppendTable makes (an inch of margin,
 * three inches a column), its paragraph break, and, when given, the
 * definition of the column's paragraphs; then the reference, the empty
 * run and the text. */
std::string Cell(int row, int column, bool definition, const std::string& text) {
  const std::string edges = column == 0 ? "left=1440 right=5760" : "left=5760 right=10080";
  std::string cell = "TABLECELL row=" + std::to_string(row) + " column=" +
                     std::to_string(column) + " " + edges +
                     " borders=0x55 flags=0x02 v42border=0x1111\nPARAGRAPH\n";
  const std::string id = column == 0 ? "3" : "4";
  if (definition)
    cell += "PABDEF id=" + id + (column == 0 ? " left=1480 right=5720" : " left=5800 right=10040") +
            " flags=0x0086 flags2=0x0440\n";
  cell += "PABREF id=" + id + "\nTEXT text=\"\"\n";
  if (!text.empty())
    cell += "TEXT text=\"" + text + "\"\n";
  return cell;
}

/* Only the first row of a table from AppendTable defines its cells'
 * paragraphs; the rows after it refer to them. A reverse sort brings the
 * last row, added by AppendRow, to the top: its cells now carry the
 * definitions ahead of their references, the row that defined them keeps
 * its own, and the row renders in the columns' paragraph styles. */
TEST_F(SortByRowTest, MovedRowCarriesTheDefinitionsItRefersTo) {
  const NOTEID id = StoreNote("PABDEF id=1\nPABREF id=1\nTEXT text=\"a\"\n");
  ASSERT_EQ(OnChunk(id, "Everything",
                    [](VelkoRTChunk* chunk) {
                      return static_cast<long>(chunk->AppendTable(2, 2, 0, nullptr, nullptr));
                    }),
            NOERROR);
  const char* cells[20] = {"r0", "r1"};
  ASSERT_EQ(OnChunk(id, "Table 1",
                    [&](VelkoRTChunk* chunk) {
                      return static_cast<long>(chunk->AppendRow(0, 1, cells));
                    }),
            NOERROR);
  ASSERT_EQ(OnChunk(id, "Table 1",
                    [](VelkoRTChunk* chunk) {
                      return static_cast<long>(chunk->SortByRow(1, 0, 0, 1, "TitleRows=0"));
                    }),
            NOERROR);

  const std::string sorted =
      "PABDEF id=1\nPABREF id=1\nTEXT text=\"a\"\nPARAGRAPH\n"
      "RAW sig=0xA3 data=A00528003C00000000000200\n" +
      Cell(0, 0, true, "r0") + Cell(0, 1, true, "r1") + Cell(1, 0, true, "") +
      Cell(1, 1, true, "") + Cell(2, 0, false, "") + Cell(2, 1, false, "") +
      "TABLEEND\nPARAGRAPH\nPABREF id=1\nTEXT text=\"\"\n";
  EXPECT_EQ(Stored(id), Expected(sorted));

  std::string html;
  OnChunk(id, "Everything", [&](VelkoRTChunk* chunk) {
    char* text = chunk->GenerateHTML("", "HTML", "", 0, nullptr, nullptr);
    if (text != nullptr)
      html = text;
    VelkoDeallocatePtr(chunk->session, text);
    return 0L;
  });
  EXPECT_NE(html.find("<table border='1'><tr valign='top'><td width='287'><div "
                      "class=\"pabid3\">r0</div></td><td width='287'><div "
                      "class=\"pabid4\">r1</div></td></tr>"),
            std::string::npos)
      << html;
}

} // namespace
