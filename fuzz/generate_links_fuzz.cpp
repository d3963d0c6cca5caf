/*
 * Fuzz target for the link, popup and field generators driven by random
 * property strings and texts.
 *
 * The first byte chooses the link kind, the without-text flag and the
 * field's wrap and mode; the rest is split at NUL bytes into a text, a
 * second text (URL, popup text, comment), a property string, six event
 * strings, a field type word and a font string. Each generator runs alone
 * inside a real writing operation over a note whose "Body" holds one text
 * run: the note-ID link, the event-data link, the URL link, the popup, and
 * a field whose buffers SetupFieldData fills from the property string.
 * No emitted sequence may be refused by the emitter's structure checks
 * (1027); a committed body must read back as whole records; the session's
 * tracked blocks must all be given back. A sanitizer finding or a broken
 * invariant traps.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/driver.h"
#include "engine/process_state.h"
#include "fuzz/fuzz_support.h"
#include "generate/field.h"
#include "generate/links.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/session.h"
#include "store/vocabulary.h"

namespace {

constexpr char kDbPath[] = "mem:generatelinksfuzz";
constexpr int kTexts = 11;

std::string NextText(const uint8_t** data, size_t* size) {
  const uint8_t* end = static_cast<const uint8_t*>(memchr(*data, 0, *size));
  const size_t length = end != nullptr ? static_cast<size_t>(end - *data) : *size;
  std::string text(reinterpret_cast<const char*>(*data), length);
  const size_t used = end != nullptr ? length + 1 : length;
  *data += used;
  *size -= used;
  return text;
}

/* The stored records of the note's "Body" items walk to their ends. */
void CheckBody(NOTEHANDLE note) {
  for (const note_testing::Bytes& value : note_testing::ItemValues(note, "Body")) {
    size_t at = 2;
    while (at < value.size()) {
      check(at + 2 <= value.size());
      size_t length;
      const BYTE high = value[at + 1];
      if (high == 0xFF) {
        check(at + 4 <= value.size());
        length = static_cast<size_t>(value[at + 2] | (value[at + 3] << 8));
      } else if (high == 0x00) {
        check(at + 6 <= value.size());
        length = static_cast<size_t>(value[at + 2] | (value[at + 3] << 8) |
                                     (value[at + 4] << 16) | (value[at + 5] << 24));
      } else {
        length = value[at + 1];
      }
      check(length >= 2 && at + length <= value.size());
      at += length + (length & 1);
    }
  }
}

/* Runs the work inside a writing operation on a fresh note. */
void InOperation(DBHANDLE db, const std::vector<std::string>& events, WORD kind,
                 const std::function<STATUS(chunk_process_state*, VelkoRTChunk*)>& work) {
  NOTEHANDLE note = NULLHANDLE;
  check(NSFNoteCreate(db, &note) == NOERROR);
  check(note_testing::AppendRecords(note, "Body",
                                    note_testing::Records({cdbuild::Text("x", {})})) == NOERROR);
  auto* session = new LSXLsiSession;
  session->internal->link_db = db;
  auto* item = new VelkoRTItem(session);
  check(item->ConnectBackend(note, "Body", 0) == NOERROR);
  VelkoRTChunk* chunk = item->DefineChunk("Everything");
  check(chunk != nullptr);
  for (size_t slot = 0; slot < events.size(); ++slot)
    chunk->SetEventRetString(static_cast<WORD>(slot + 1), events[slot].c_str(), 0xFFFF);
  chunk->link_mode = kind;
  chunk_process_state* state = nullptr;
  STATUS status = SetUpChunkOperation(chunk, note, "Body", ACTION_CLEANUP_TEXT_RUNS, 0, 0, 0, 0,
                                      nullptr, nullptr, nullptr, nullptr, &state);
  check(state != nullptr && status == NOERROR);
  status = work(state, chunk);
  check(status != VELKO_ERR_INVALID_SEQUENCE);
  const STATUS finished = FinishChunkOperation(state, status);
  check(finished != VELKO_ERR_INVALID_SEQUENCE);
  if (finished == NOERROR)
    CheckBody(note);
  delete item;
  check(VelkoTrackedBlocksInUse(session) == 0);
  delete session;
  NSFNoteClose(note);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  const uint8_t options = data[0];
  ++data;
  --size;
  std::string texts[kTexts];
  for (std::string& text : texts)
    text = NextText(&data, &size);
  const std::string& text = texts[0];
  const std::string& second = texts[1];
  const std::string& properties = texts[2];
  const std::vector<std::string> events(texts + 3, texts + 9);
  const std::string& type = texts[9];
  const std::string& font = texts[10];
  const WORD kind = static_cast<WORD>(options & 0x07);
  const DWORD withoutText = (options >> 3) & 1;

  DBHANDLE db = note_testing::ProcessDatabase(kDbPath);
  static const NOTEID target = note_testing::StoreNote(db, note_testing::Records({cdbuild::Text("t", {})}));

  const auto link = [&](chunk_process_state* state, VelkoRTChunk* chunk, WORD lengths[3]) {
    link_operation op;
    op.gen = &state->gen;
    op.second_string = second.c_str();
    op.event_strings = chunk->event_strings;
    op.link_kind = &chunk->link_mode;
    op.lengths = lengths;
    op.hotspot_properties = properties.c_str();
    return op;
  };
  InOperation(db, {}, kind, [&](chunk_process_state* state, VelkoRTChunk* chunk) {
    WORD lengths[3] = {};
    link_operation op = link(state, chunk, lengths);
    return GenerateHyperlinksFromNoteID(text.c_str(), second.c_str(), target, properties.c_str(),
                                        &op);
  });
  InOperation(db, events, kind, [&](chunk_process_state* state, VelkoRTChunk* chunk) {
    WORD lengths[3] = {static_cast<WORD>(options >> 4), 0, static_cast<WORD>(options >> 6)};
    link_operation op = link(state, chunk, lengths);
    const STATUS status = GenerateLinkBeginFromEventData(text.c_str(), 0, &op, withoutText);
    if (status != NOERROR || *op.link_kind == kLinkKindIconOnly)
      return status;
    return GenerateLinkEnd(&op, SIG_CD_V4HOTSPOTEND);
  });
  InOperation(db, {}, kind, [&](chunk_process_state* state, VelkoRTChunk* chunk) {
    WORD lengths[3] = {};
    link_operation op = link(state, chunk, lengths);
    return GenerateURLFromReference(text.c_str(), static_cast<WORD>(options >> 5), second.c_str(),
                                    0, &op);
  });
  InOperation(db, {}, kind, [&](chunk_process_state* state, VelkoRTChunk* chunk) {
    WORD lengths[3] = {};
    link_operation op = link(state, chunk, lengths);
    return GeneratePopupFromReference(text.c_str(), second.c_str(), properties.c_str(), &op);
  });
  InOperation(db, events, kind, [&](chunk_process_state* state, VelkoRTChunk* chunk) {
    std::vector<BYTE> storage[kFieldBufferCount];
    field_buffer buffers[kFieldBufferCount];
    for (int i = 0; i < kFieldBufferCount; ++i) {
      storage[i].assign(2048, 0);
      buffers[i] = {storage[i].data(), static_cast<DWORD>(storage[i].size())};
    }
    const STATUS setup = SetupFieldData(1, state->session, second.c_str(), type.c_str(),
                                        properties.c_str(), buffers);
    if (setup != NOERROR)
      return setup;
    field_operation op;
    op.gen = &state->gen;
    op.note = state->note;
    for (int i = 0; i < kFieldBufferCount; ++i) {
      const bool held = storage[i][2] != 0 || storage[i][3] != 0;
      op.buffers[i] = held ? storage[i].data() : nullptr;
    }
    op.event_strings = chunk->event_strings;
    op.event_count = 6;
    const char* mode = (options & 0x40) != 0 ? "Modify" : nullptr;
    return GenerateField(text.empty() ? nullptr : text.c_str(),
                         (options & 0x80) != 0 ? font.c_str() : nullptr, options & 0x10, mode,
                         &op);
  });
  return 0;
}
