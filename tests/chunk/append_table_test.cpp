// AppendTable through the chunk's class interface on a stored note: the
// table options reach the table generator, and the body read back holds
// the table-level records they ask for.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/host_testing.h"
#include "tests/support/stored_chunk_fixture.h"

namespace {

using note_testing::Bytes;

/* One stored record as a short line: its signature in hex and, for the
 * table records, the fields the options set. */
std::string Describe(const Bytes& value, size_t at) {
  auto byte = [&](size_t offset) { return static_cast<unsigned>(value[at + offset]); };
  auto word = [&](size_t offset) { return byte(offset) | byte(offset + 1) << 8; };
  const unsigned signature = byte(1) == 0xFF ? word(0) : byte(0);
  char line[64];
  switch (signature) {
  case 0xFFFB:
    snprintf(line, sizeof line, "FFFB rows=%u columns=%u", byte(8), byte(9));
    break;
  case 0xFF82:
    snprintf(line, sizeof line, "FF82 left=%u", word(14));
    break;
  case 0xA3:
    snprintf(line, sizeof line, "A3 left=%u", word(2));
    break;
  case 0xA4:
    snprintf(line, sizeof line, "A4 borders=%02X/%04X", byte(10), word(12));
    break;
  case 0xE1:
    snprintf(line, sizeof line, "E1 %u", word(4) | word(6) << 16);
    break;
  default:
    snprintf(line, sizeof line, "%X", signature);
  }
  return line;
}

class AppendTableTest : public StoredChunkFixture {
public:
  std::vector<std::string> StoredRecords(NOTEID id) {
    std::vector<std::string> lines;
    for (const Bytes& value : note_testing::StoredBodyValues(path_, id, false)) {
      for (const std::string& record : note_testing::RecordLines(value)) {
        const size_t length = record.size() / 2;
        Bytes bytes(length);
        for (size_t i = 0; i < length; ++i)
          bytes[i] = static_cast<BYTE>(std::stoul(record.substr(2 * i, 2), nullptr, 16));
        lines.push_back(Describe(bytes, 0));
      }
    }
    return lines;
  }
};

struct table_case {
  const char* options;
  std::vector<std::string> table; /* the records after the body's own */
};

TEST_F(AppendTableTest, OptionsShapeTheStoredTable) {
  // One row of one cell (8640 twips wide) behind the paragraph "b".
  const std::vector<std::string> cell = {"81", "FF82 left=1480", "83", "FF85"};
  const std::vector<std::string> after = {"A5", "81", "83", "FF85"};
  auto table = [&](std::vector<std::string> head, std::vector<std::string> inCell,
                   std::vector<std::string> tail = {}) {
    head.insert(head.end(), inCell.begin(), inCell.end());
    head.insert(head.end(), tail.begin(), tail.end());
    head.insert(head.end(), after.begin(), after.end());
    return head;
  };
  const table_case cases[] = {
      // A name brackets the row and column counts with the table's identity.
      {"TableName=T1",
       table({"81", "DD", "FFFB rows=1 columns=1", "FF7A", "DE", "A3 left=1440",
              "A4 borders=55/1111"},
             cell)},
      // The margin moves the table and its cells; a cell paragraph already
      // right of the cell's edge stays where it is.
      {"TableMarginLeft=0.5",
       table({"81", "FF82 left=720", "83", "FFFB rows=1 columns=1", "A3 left=720",
              "A4 borders=55/1111"},
             {"81", "FF82 left=1440", "83", "FF85"})},
      {"RowCycleMilliseconds=250",
       table({"81", "FFFB rows=1 columns=1", "A3 left=1440", "A4 borders=55/1111"}, cell,
             {"E1 250"})},
      {"CellBorder=D0",
       table({"81", "FFFB rows=1 columns=1", "A3 left=1440", "A4 borders=20/0200"}, cell)},
  };
  const std::vector<std::string> body = {"FF82 left=1440", "83", "FF85", "81", "81", "83", "FF85"};
  for (const table_case& c : cases) {
    const NOTEID id = StoreNote(kParagraphBefore + kParagraphAfter);
    EXPECT_EQ(OnChunk(id, "Everything",
                      [&](VelkoRTChunk* chunk) {
                        return static_cast<long>(chunk->AppendTable(1, 1, 0, c.options, nullptr));
                      }),
              NOERROR)
        << c.options;
    std::vector<std::string> expected = body;
    expected.insert(expected.end(), c.table.begin(), c.table.end());
    EXPECT_EQ(StoredRecords(id), expected) << c.options;
  }
}

/* Each cell of a generated table takes a definition of its own above every
 * id the item holds: one past 65535 refuses the table (1028), the message
 * shown and the note as it was; the largest id itself is given. */
TEST_F(AppendTableTest, CellIdsPastTheLargestAreRefused) {
  const struct {
    const char* label;
    const char* definition; /* the body's definition line */
    WORD columns;
    STATUS status;
    std::vector<unsigned> ids; /* of the stored definitions */
  } cases[] = {
      {"the last cell takes 65535", "PABDEF id=65532", 2, NOERROR, {65532, 65534, 65535}},
      {"a third cell would take 65536", "PABDEF id=65532", 3, 1028, {65532}},
      {"the body holds 65535", "PABDEF id=65535", 1, 1028, {65535}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string script = std::string(c.definition) +
                               " flags=0x0100 ext=1440,0,1440,0,0,100\n"
                               "PABREF id=1\nTEXT text=\"a\"\n";
    const NOTEID id = StoreNote(script);
    HostTestClearMessages();
    EXPECT_EQ(OnChunk(id, "Everything",
                      [&](VelkoRTChunk* chunk) {
                        return static_cast<long>(
                            chunk->AppendTable(1, c.columns, 0, nullptr, nullptr));
                      }),
              c.status);
    const std::vector<std::string> stored = Stored(id);
    EXPECT_EQ(note_testing::DefinitionIds(stored), c.ids);
    std::vector<std::string> shown;
    for (const HostTestMessage& message : HostTestMessages())
      shown.push_back(message.text);
    if (c.status == NOERROR) {
      EXPECT_EQ(shown, std::vector<std::string>{});
    } else {
      EXPECT_EQ(stored, Expected(script));
      EXPECT_EQ(shown,
                std::vector<std::string>{"TARNO: Paragraph id past 65535.  Operation failed!"});
    }
  }
}

} // namespace
