/*
 * Fuzz target for the option and value texts the chunk's methods read
 * themselves: AppendTable's column texts and options, AppendLayer's
 * placement, SortByRow's keys, ReplaceTextQuick's scope, SetPropertyText's
 * Name=value lists, and the hotspot kinds and code. The first byte chooses
 * the chunk; the rest is split at NULs into texts.
 *
 * The body is a fixed table; whatever the texts, every call returns, the
 * result text stays within its capacity and NUL-terminated, the cell text
 * slots and the parameter text are empty again, and every tracked block is
 * back when the item is deleted.
 */
#include <stddef.h>
#include <stdint.h>

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

void RunMethods(VelkoRTChunk* chunk, const std::vector<std::string>& texts) {
  auto text = [&](size_t i) { return texts[i % texts.size()].c_str(); };
  const char* columns[3] = {text(1), text(2), text(3)};
  chunk->AppendTable(2, 3, 1, text(0), columns);
  CheckSession(chunk->session);
  chunk->AppendLayer(text(0), text(1), text(2), text(3), 0, text(4), text(5), text(6), 0);
  CheckSession(chunk->session);
  chunk->SortByRow(1, 1, 0, 0, text(0));
  CheckSession(chunk->session);
  chunk->ReplaceTextQuick("a", 1, "b", 1, text(1));
  CheckSession(chunk->session);
  chunk->SetPropertyText(text(2), nullptr, 0);
  CheckSession(chunk->session);
  chunk->SetPropertyText(text(3), text(4), 0);
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
      RunMethods(chunk, texts);
    }
    delete item;
    check(VelkoTrackedBlocksInUse(session) == 0);
    delete session;
  }
  NSFNoteClose(note);
  check(HostTestLiveHandles() == handles);
  return 0;
}
