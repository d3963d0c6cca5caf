/*
 * Fuzz target for the image and hotspot generators: resources (as graphics
 * and as backgrounds), storage links, hotspots of every kind and code
 * flag, file hotspots and image map areas, each driven by random property
 * strings inside a real writing operation, and ParseCoords on random
 * shape texts.
 *
 * Input: byte 0 chooses the generator and the body (a text record, or one
 * followed by an image map); byte 1 the hotspot kind and the current
 * record; byte 2 the code flags and the session's code kind. The rest is
 * split at NUL bytes into the property string, the label or name, the
 * shape text and the hotspot data.
 *
 * Checked: every generator answers 0, 1028 (refused before a record) or
 * 263, never 1027, and the emitter's error word stays clear (each emitted
 * sequence passed its structure checks); a successful operation commits;
 * ParseCoords writes 16 bytes for a box, or a count of 1 to 100 points
 * with 2 + 8 bytes each, or nothing. Host memory must be back where it
 * was.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "engine/driver.h"
#include "engine/process_state.h"
#include "fuzz/fuzz_support.h"
#include "generate/hotspot.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "cdbuild/cd_builder.h"

namespace {

constexpr char kDbPath[] = "mem:generatehotspotfuzz";

const WORD kKinds[] = {1, 2, 3, 4, 5, 14, 19, 22, 24, 34, 11, 0};
const DWORD kCodeFlags[] = {0, 0x10, 0x40010, 0x100, 0x200000, 0x200010, 0x40000, 0xFFFFFFFF};

std::string NextText(const uint8_t** data, size_t* size) {
  const uint8_t* end = static_cast<const uint8_t*>(memchr(*data, 0, *size));
  const size_t length = end != nullptr ? static_cast<size_t>(end - *data) : *size;
  std::string text(reinterpret_cast<const char*>(*data), length);
  const size_t used = end != nullptr ? length + 1 : length;
  *data += used;
  *size -= used;
  return text;
}

void CheckCoords(LSXLsiSession* session, const std::string& shape) {
  BYTE out[kCoordinateBytes + 8];
  memset(out, 0xA5, sizeof out);
  const DWORD count = ParseCoords(session, shape.c_str(), out);
  check(out[kCoordinateBytes] == 0xA5);
  if (count == 0 || count == 16)
    return;
  WORD points;
  memcpy(&points, out, sizeof points);
  check(points >= 1 && points <= kMaxPolygonPoints && count == 2 + 8u * points);
}

STATUS Generate(int choice, WORD kind, DWORD codeFlags, const std::string& properties,
                const std::string& label, const std::string& shape, hotspot_state* state) {
  const char* text = label.c_str();
  switch (choice) {
  case 0:
    return GenerateResource(3, 19, text, properties.c_str(), 0, state, kind, kind, nullptr,
                            shape.c_str(), nullptr, nullptr, nullptr);
  case 1:
    return GenerateResource(3, (codeFlags & 1) != 0 ? 18 : 19, text, properties.c_str(), 1, state,
                            0, 0, label.empty() ? nullptr : text, nullptr, text, text, text);
  case 2:
    return GenerateStorageLink(kind, text, properties.c_str(), state);
  case 3:
    return GenerateHotspot(kind, codeFlags, text, static_cast<WORD>(label.size()),
                           properties.c_str(), 0, state);
  case 4: {
    /* Never a file of the machine: the attachment is taken as made. */
    const std::string attached = "AlreadyAttached=Yes " + properties;
    return GenerateFileHotspot(shape.c_str(), text, label.empty() ? nullptr : text, 0,
                               attached.c_str(), state);
  }
  default:
    return GenerateImageHotspot(kind, codeFlags, shape.c_str(), properties.c_str(), 0, state);
  }
}

void Run(NOTEHANDLE note, const uint8_t* data, size_t size) {
  const int choice = data[0] % 6;
  const WORD kind = kKinds[data[1] % 12];
  const int current = (data[1] >> 4) % 8;
  const DWORD codeFlags = kCodeFlags[data[2] % 8];
  const uint8_t* rest = data + 3;
  size_t left = size - 3;
  const std::string properties = NextText(&rest, &left);
  const std::string label = NextText(&rest, &left);
  const std::string shape = NextText(&rest, &left);
  const std::string hotspotData = NextText(&rest, &left);

  auto* session = new LSXLsiSession;
  CheckCoords(session, shape);
  const size_t dataLength =
      std::min<size_t>(hotspotData.size(), VELKO_RESULT_TEXT_SIZE - kHotspotDataOffset);
  memcpy(session->result_text + kHotspotDataOffset, hotspotData.data(), dataLength);
  session->result_length = static_cast<WORD>(dataLength);
  session->internal->hotspot_code_kind = (data[2] >> 3) & 1;

  auto* item = new VelkoRTItem(session);
  check(item->ConnectBackend(note, "Body", 0) == NOERROR);
  VelkoRTChunk* chunk = item->DefineChunk("Everything");
  check(chunk != nullptr);
  chunk_process_state* state = nullptr;
  STATUS status = SetUpChunkOperation(chunk, note, "Body", ACTION_CLEANUP_TEXT_RUNS, 0, 0, 0, 0,
                                      nullptr, nullptr, nullptr, nullptr, &state);
  check(status == NOERROR && state != nullptr);
  DWORD skip = 0;
  hotspot_state hotspot;
  hotspot.gen = &state->gen;
  hotspot.label_font = &state->fonts[0];
  hotspot.label_font_mask = &state->font_masks[0];
  hotspot.secondary_status = &state->secondary_status;
  hotspot.skip_mark = &skip;
  hotspot.current = item->internal->input != nullptr ? item->internal->input->records : nullptr;
  for (int n = 0; n < current && hotspot.current != nullptr; ++n)
    hotspot.current = hotspot.current->next;

  status = Generate(choice, kind, codeFlags, properties, label, shape, &hotspot);
  check(status == NOERROR || status == VELKO_ERR_BAD_ARGUMENT || status == VELKO_ERR_MEMORY);
  check(state->gen.error_word == 0);
  status = FinishChunkOperation(state, status);
  check(status == NOERROR || status == VELKO_ERR_BAD_ARGUMENT || status == VELKO_ERR_MEMORY);
  delete item;
  delete session;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3)
    return 0;
  const DBHANDLE db = note_testing::ProcessDatabase(kDbPath);
  const size_t handles = HostTestLiveHandles();
  NOTEHANDLE note = NULLHANDLE;
  check(NSFNoteCreate(db, &note) == NOERROR);
  cdbuild::Body body;
  body.Add(cdbuild::Text("img"));
  if ((data[0] & 0x80) != 0) {
    body.Add(cdbuild::Begin(SIG_CD_MAPELEMENT, 1));
    body.Add(cdbuild::MapElement({1, 2, 1, 1}));
    body.Add(cdbuild::Begin(SIG_CD_AREAELEMENT, 1));
    body.Add(cdbuild::AreaElement(1, 0));
    body.Add(cdbuild::End(SIG_CD_AREAELEMENT, 1));
    body.Add(cdbuild::End(SIG_CD_MAPELEMENT, 1));
  }
  body.Add(cdbuild::Text(""));
  check(body.AppendItems(note, "Body") == NOERROR);
  Run(note, data, size);
  NSFNoteClose(note);
  check(HostTestLiveHandles() == handles);
  return 0;
}
