/*
 * Fuzz target for the routines that search an item or read its stored
 * values again: the find methods of a chunk, target stepping, all text in
 * both modes and the checksum.
 *
 * Input: byte 0 chooses how many items (1 to 3) the body is split into,
 * the chunk's definition and whether the finds look within or after it;
 * byte 1 the target type, the match mode and the font filter; byte 2 the
 * pattern's length (a slice of the body, so that names and texts can
 * match). The rest is the body, stored as TYPE_COMPOSITE values of "Body".
 *
 * Checked: an element or run number never passes the records loaded; all
 * text succeeds or refuses damaged data (257) and hands out a terminated
 * buffer, text no longer than the stored bytes; the checksum's fields are
 * digits, its length field the stored value lengths; stepping reports a
 * known target type. Host memory must be back where it was.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "engine/find.h"
#include "engine/retrieve.h"
#include "fuzz/fuzz_support.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/services.h"
#include "store/vocabulary.h"
#include "velko/status.h"

namespace {

constexpr char kDbPath[] = "mem:findfuzz";

const char* const kDefinitions[] = {"Everything", "Table 1", "Text 2", "Table 1; Row 1",
                                    "Layer 1",    "Button 1", "Table *", "After Text 1"};
const char* const kTypes[] = {"Table", "Button", "Layer", "Section"};
const char* const kModes[] = {"EXACT", "STARTS", "ENDS", "SUBSTR", "EVENT", ""};
const char* const kFonts[] = {"", "Red", "Bold", nullptr};

size_t CountNodes(VelkoRTItem* item) {
  body_context* body = ItemBody(item);
  size_t count = 0;
  for (const record_storage* node = body != nullptr ? body->records : nullptr; node != nullptr;
       node = node->next)
    ++count;
  return count;
}

size_t StoredBytes(NOTEHANDLE note) {
  size_t bytes = 0;
  for (const note_testing::Bytes& value : note_testing::ItemValues(note, "Body"))
    bytes += value.size();
  return bytes;
}

void AllText(NOTEHANDLE note, DWORD blanks, DWORD fileMode, size_t stored) {
  char* buffer = nullptr;
  DWORD length = 0;
  const STATUS status = RetrieveAllText(note, "Body", &buffer, &length, blanks, fileMode);
  check(status == NOERROR || status == VELKO_ERR_FAILED);
  if (status != NOERROR) {
    check(buffer == nullptr);
    return;
  }
  check(buffer != nullptr && buffer[length] == '\0');
  check(length <= stored);
  delete[] buffer;
}

void Checksum(NOTEHANDLE note, size_t stored) {
  char out[4 + 2 * 5 + 1];
  check(CalculateCRC(note, "Body", out, 4, 5) == NOERROR);
  check(strlen(out) == 14);
  for (size_t i = 0; i < 14; ++i)
    check(out[i] >= '0' && out[i] <= '9');
  check(std::stoul(std::string(out, 4)) == stored % 10000);
}

void Find(LSXLsiSession* session, NOTEHANDLE note, const uint8_t* data, size_t size) {
  auto* item = new VelkoRTItem(session);
  if (item->ConnectBackend(note, "Body", 0) != NOERROR) {
    delete item;
    return;
  }
  const int options = data[0];
  const int choice = data[1];
  VelkoRTChunk* chunk = item->DefineChunk(kDefinitions[(options >> 2) % 8]);
  check(chunk != nullptr);
  const int within = (options >> 5) & 1;
  const char* mode = kModes[(choice >> 2) % 6];
  size_t patternLength = data[2] % 16;
  const uint8_t* body = data + 3;
  const size_t bodySize = size - 3;
  if (patternLength > bodySize)
    patternLength = bodySize;
  // The pattern is a slice from the body's middle.
  const char* pattern = reinterpret_cast<const char*>(body + (bodySize - patternLength) / 2);
  const WORD length = static_cast<WORD>(patternLength);

  const size_t records = CountNodes(item);
  check(chunk->FindNamedChunk(within, kTypes[choice % 4], pattern, length, mode, nullptr) <=
        records);
  check(chunk->FindTextChunk(within, pattern, length, mode, kFonts[(choice >> 5) % 4]) <= records);
  const WORD type = FindNextTarget(chunk, options & 1, 0, static_cast<DWORD>(choice));
  check(type < kTargetTypeCount);
  delete item;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3)
    return 0;
  const DBHANDLE db = note_testing::ProcessDatabase(kDbPath);
  const size_t handles = HostTestLiveHandles();
  const int pieces = 1 + data[0] % 3;

  NOTEHANDLE note = NULLHANDLE;
  check(NSFNoteCreate(db, &note) == NOERROR);
  AppendPieces(note, data + 3, size - 3, pieces);
  const size_t stored = StoredBytes(note);
  {
    auto* session = new LSXLsiSession;
    Find(session, note, data, size);
    delete session;
  }
  AllText(note, 1, 0, stored);
  AllText(note, 0, 1, stored);
  Checksum(note, stored);
  NSFNoteClose(note);
  check(HostTestLiveHandles() == handles);
  return 0;
}
