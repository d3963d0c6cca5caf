/*
 * Fuzz target for the structural generators: a table, a layer, a section
 * begin or pass-through text written from random property strings inside
 * a real writing operation over a note of one paragraph.
 *
 * Input: byte 0 chooses the generator (bits 0-1), whether the table is
 * adjustable (bit 2), whether a hide formula waits in the session's result
 * text (bit 3) and the current input record's kind (bit 4); byte 1 the
 * column count (0-69) or the layer's z-index; byte 2 the row count (0-7);
 * byte 3 the column width in eighths of an inch. The rest is split at NUL
 * bytes into the property string, the position or title, and up to four
 * column property strings.
 *
 * Checked: every sequence the generator emits passes the emitter's
 * structure checks (the status is 0, or 1028 for a request the generator
 * refuses, never the emitter's format error); a table whose counts are out
 * of range is refused; a successful operation leaves a body that loads
 * again whole; host memory is back where it was.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "engine/driver.h"
#include "engine/process_state.h"
#include "fuzz/fuzz_support.h"
#include "generate/structure_generators.h"
#include "host/host_testing.h"
#include "host/nsfnote.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"

namespace {

constexpr char kDbPath[] = "mem:generatetablefuzz";
constexpr size_t kHeader = 4;
constexpr size_t kColumnStrings = 4;

/* The NUL-separated texts of the input after its header. */
std::vector<std::string> Texts(const uint8_t* data, size_t size) {
  std::vector<std::string> texts(2 + kColumnStrings);
  size_t field = 0;
  for (size_t at = kHeader; at < size; ++at) {
    if (data[at] == 0) {
      if (++field == texts.size())
        break;
      continue;
    }
    texts[field].push_back(static_cast<char>(data[at]));
  }
  return texts;
}

STATUS Generate(const uint8_t* data, const std::vector<std::string>& texts,
                LSXLsiSession* session, structure_generation* g) {
  const int choice = data[0] & 3;
  const char* properties = texts[0].empty() ? nullptr : texts[0].c_str();
  switch (choice) {
  case 0: {
    const WORD columns = data[1] % 70;
    const WORD rows = data[2] % 8;
    _internal_SESS* internal = session->internal;
    internal->adjustable_table = (data[0] >> 2) & 1;
    for (size_t column = 0; column < 64; ++column) {
      internal->column_widths[column] = static_cast<WORD>(data[3] * 180);
      internal->column_width_flags[column] = static_cast<WORD>(column & 1);
      const std::string& text = texts[2 + column % kColumnStrings];
      internal->cell_texts[column] = text.empty() ? nullptr : const_cast<char*>(text.c_str());
    }
    g->properties = properties;
    const STATUS status = GenerateTable(columns, rows, g);
    if (columns == 0 || columns > 64 || rows == 0)
      check(status == 1028);
    return status;
  }
  case 1:
    return GenerateLayer(data[1], g, properties, texts[1].empty() ? nullptr : texts[1].c_str());
  case 2:
    g->properties = properties;
    g->title = texts[1].c_str();
    return GenerateSectionBegin(g);
  default: {
    STATUS status = GeneratePassthruText(texts[0].c_str(), 0, g);
    if (status == NOERROR)
      status = GeneratePassthruText(texts[1].data(), static_cast<WORD>(texts[1].size()), g);
    return status;
  }
  }
}

void Run(LSXLsiSession* session, NOTEHANDLE note, const uint8_t* data, size_t size) {
  auto* item = new VelkoRTItem(session);
  check(item->ConnectBackend(note, "Body", 0) == NOERROR);
  VelkoRTChunk* chunk = item->DefineChunk("Everything");
  check(chunk != nullptr);
  const std::vector<std::string> texts = Texts(data, size);
  if ((data[0] & 8) != 0 && !texts[1].empty()) {
    const size_t length = texts[1].size() < 64 ? texts[1].size() : 64;
    memcpy(session->result_text, texts[1].data(), length);
    session->result_length = static_cast<WORD>(length);
  }
  chunk_process_state* state = nullptr;
  STATUS status = SetUpChunkOperation(chunk, note, "Body", ACTION_CLEANUP_TEXT_RUNS, 0, 0, 0, 0,
                                      nullptr, nullptr, nullptr, nullptr, &state);
  check(state != nullptr && status == NOERROR);
  structure_generation generation;
  generation.gen = &state->gen;
  generation.last_pabid = 1;
  generation.current_signature = (data[0] & 16) != 0 ? SIG_CD_TEXT : SIG_CD_PARAGRAPH;
  status = Generate(data, texts, session, &generation);
  check(status == NOERROR || status == 1028);
  status = FinishChunkOperation(state, status);
  session->result_length = 0;
  delete item;
  if (status != NOERROR)
    return;
  // The body written loads again whole.
  auto* again = new VelkoRTItem(session);
  check(again->ConnectBackend(note, "Body", 0) == NOERROR);
  body_context* body = ItemBody(again);
  check(body != nullptr && body->records != nullptr && again->internal->incomplete_load == 0);
  delete again;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeader)
    return 0;
  const DBHANDLE db = note_testing::ProcessDatabase(kDbPath);
  const size_t handles = HostTestLiveHandles();
  NOTEHANDLE note = NULLHANDLE;
  check(NSFNoteCreate(db, &note) == NOERROR);
  check(note_testing::AppendRecords(
            note, "Body",
            note_testing::Records({cdbuild::Paragraph(), note_testing::DefaultDefinition(),
                                   cdbuild::PabRef(1), cdbuild::Text("old")})) == NOERROR);
  {
    auto* session = new LSXLsiSession;
    Run(session, note, data, size);
    delete session;
  }
  NSFNoteClose(note);
  check(HostTestLiveHandles() == handles);
  return 0;
}
