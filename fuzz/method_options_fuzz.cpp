/*
 * Fuzz target for the option and value texts the chunk's methods read
 * themselves: AppendTable's column texts and options, AppendLayer's
 * placement and formula, SortByRow's keys, ReplaceTextQuick's texts and
 * scope, SetPropertyText's Name=value lists and named values, and the
 * hotspot kinds and code. The first byte chooses the chunk (bits 0-1) and
 * switches (bit 2 an adjustable table, 3 a numeric sort, 4 a reverse sort,
 * 5 title rows, 6 the layer's formula, 7 column texts left out in turn);
 * the rest is split at NULs into texts. The bytes of text 7, when there
 * are, give the numbers: the table's rows and columns, the sort column,
 * the lengths of the find and replacement texts and a number value.
 *
 * The body is a fixed table; whatever the texts, every call returns, the
 * result text stays within its capacity and NUL-terminated, the cell text
 * slots and the parameter text are empty again, and every tracked block is
 * back when the item is deleted.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "cdbuild/cd_builder.h"
#include "fuzz/fuzz_support.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/session.h"
#include "velko/status.h"

namespace {

constexpr char kDbPath[] = "mem:methodoptionsfuzz";

constexpr const char* kDefinitions[] = {"Everything", "Table 1", "Table 1; Row 2",
                                        "Table 1; Row 1; Column 2"};

note_testing::Bytes TableBody() {
  std::vector<note_testing::Bytes> records = {note_testing::DefaultDefinition(1, 1440, true),
                                              cdbuild::PabRef(1), cdbuild::TableBegin({})};
  for (BYTE row = 0; row < 2; ++row)
    for (BYTE column = 0; column < 2; ++column) {
      records.push_back(cdbuild::TableCell({.row = row, .column = column}));
      records.push_back(cdbuild::Text(std::string(1, static_cast<char>('a' + row + column)), {}));
    }
  records.push_back(cdbuild::TableEnd(false));
  return note_testing::Records(records);
}

void CheckSession(const LSXLsiSession* session) {
  for (const char* slot : session->internal->cell_texts)
    check(slot == nullptr);
  check(session->internal->parameter_text == nullptr);
}

/* The numbers the calls take, from the bytes of text 7; without them the
 * calls take the defaults of a small table sorted by its first column. */
struct method_numbers {
  WORD rows = 2;
  WORD columns = 3;
  WORD sort_column = 1;
  BYTE find_length = 0; /* 0: the text's string length */
  BYTE replacement_length = 0;
  BYTE value = 1;
};

method_numbers Numbers(const std::vector<std::string>& texts) {
  method_numbers numbers;
  if (texts.size() <= 7)
    return numbers;
  const std::string& bytes = texts[7];
  auto at = [&](size_t i) { return i < bytes.size() ? static_cast<BYTE>(bytes[i]) : BYTE{0}; };
  // Up to 7 rows, or 250 to 259 (around the limit of 255); 0 to 69
  // columns (around the limit of 64), at most 3 for the long tables.
  const BYTE rows = at(0);
  numbers.rows = rows < 8 ? rows : static_cast<WORD>(250 + rows % 10);
  numbers.columns = static_cast<WORD>(at(1) % 70);
  if (numbers.rows > 7)
    numbers.columns = static_cast<WORD>(numbers.columns % 4);
  numbers.sort_column = at(2);
  numbers.find_length = at(3);
  numbers.replacement_length = at(4);
  numbers.value = at(5);
  return numbers;
}

/* A length the caller vouches for: within the text. */
WORD LengthWithin(const char* text, BYTE wanted) {
  return static_cast<WORD>(wanted % (strlen(text) + 1));
}

void RunMethods(VelkoRTChunk* chunk, const std::vector<std::string>& texts, BYTE switches) {
  auto text = [&](size_t i) { return texts[i % texts.size()].c_str(); };
  const method_numbers numbers = Numbers(texts);
  const char* columns[64];
  for (size_t i = 0; i < 64; ++i)
    columns[i] = (switches & 0x80) != 0 && i % 2 == 1 ? nullptr : text(1 + i);
  chunk->AppendTable(numbers.rows, numbers.columns, (switches >> 2) & 1, text(0), columns);
  CheckSession(chunk->session);
  const WORD formulaLength = (switches & 0x40) != 0 ? static_cast<WORD>(strlen(text(6))) : 0;
  chunk->AppendLayer(text(0), text(1), text(2), text(3), 0, text(4), text(5), text(6),
                     formulaLength);
  CheckSession(chunk->session);
  chunk->SortByRow(numbers.sort_column, (switches >> 5) & 1, (switches >> 3) & 1,
                   (switches >> 4) & 1, text(0));
  CheckSession(chunk->session);
  chunk->ReplaceTextQuick(text(5), LengthWithin(text(5), numbers.find_length), text(6),
                          LengthWithin(text(6), numbers.replacement_length), text(1));
  CheckSession(chunk->session);
  chunk->SetPropertyText(text(2), nullptr, 0);
  CheckSession(chunk->session);
  chunk->SetPropertyText(text(3), text(4), 0);
  CheckSession(chunk->session);
  chunk->SetPropertyNumber(text(3), numbers.value);
  CheckSession(chunk->session);
  chunk->AppendHotspot(text(5), text(6), 0, text(0), text(1), 0);
  CheckSession(chunk->session);
  chunk->SetImageHotspot(text(5), text(6), 0, text(0), text(1), 0);
  CheckSession(chunk->session);
  chunk->AppendGraphic(text(4), text(5), text(6));
  CheckSession(chunk->session);
  char buffer[40];
  chunk->GetPropertyText(text(2), buffer, sizeof buffer);
  check(std::string(buffer).size() < sizeof buffer);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  const DBHANDLE db = note_testing::ProcessDatabase(kDbPath);
  const size_t handles = HostTestLiveHandles();
  const char* definition = kDefinitions[data[0] % (sizeof kDefinitions / sizeof *kDefinitions)];
  std::vector<std::string> texts(1);
  for (size_t i = 1; i < size && texts.size() < 16; ++i) {
    if (data[i] == 0)
      texts.emplace_back();
    else
      texts.back().push_back(static_cast<char>(data[i]));
  }

  NOTEHANDLE note = NULLHANDLE;
  check(NSFNoteCreate(db, &note) == NOERROR);
  check(note_testing::AppendRecords(note, "Body", TableBody()) == NOERROR);
  {
    auto* session = new LSXLsiSession;
    auto* item = new VelkoRTItem(session);
    if (item->ConnectBackend(note, "Body", 0) == NOERROR) {
      VelkoRTChunk* chunk = item->DefineChunk(definition);
      check(chunk != nullptr);
      RunMethods(chunk, texts, data[0]);
    }
    delete item;
    check(VelkoTrackedBlocksInUse(session) == 0);
    delete session;
  }
  NSFNoteClose(note);
  check(HostTestLiveHandles() == handles);
  return 0;
}
