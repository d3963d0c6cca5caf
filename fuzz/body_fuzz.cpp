/*
 * Fuzz target for loading and writing back a rich-text body. The first byte
 * chooses the load options and how many items (1 to 3) the rest is split
 * into; each piece is stored as a TYPE_COMPOSITE value of "Body" on a fresh
 * note. The body is loaded, written back as "Copy" and, when both worked,
 * "Copy" is loaded again: it must load completely with as many records as
 * the first load kept. When the stored records are whole records in the
 * writer's own form (each odd one followed by a zero pad byte) and load
 * completely without options, the written records are the stored bytes,
 * byte for byte. A load of damaged data must say so with 257; no other
 * status is expected here. Then the clean-up pass runs over the stored
 * body, which writes every record again through the record emitter: it
 * refuses damaged data (257) or a structure it does not write (1027), or
 * leaves a body that loads completely. Host memory must be back where it
 * was.
 */
#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/vocabulary.h"
#include "tests/support/note_fixture.h"
#include "velko/status.h"

namespace {

constexpr char kDbPath[] = "mem:bodyfuzz";

size_t CountNodes(const body_context* context) {
  size_t count = 0;
  for (const record_storage* node = context->records; node != nullptr; node = node->next)
    ++count;
  return count;
}

/* The records of every value of the name, type words left out. */
note_testing::Bytes StoredRecords(NOTEHANDLE note, const char* name) {
  note_testing::Bytes records;
  for (const note_testing::Bytes& value : note_testing::ItemValues(note, name))
    if (value.size() >= 2)
      records.insert(records.end(), value.begin() + 2, value.end());
  return records;
}

/* Whether every value of the name holds whole records, each odd one
 * followed by a zero pad byte. */
bool InWritersForm(NOTEHANDLE note, const char* name) {
  for (const note_testing::Bytes& value : note_testing::ItemValues(note, name)) {
    size_t at = 2;
    while (at < value.size()) {
      char header[6] = {};
      std::memcpy(header, value.data() + at, std::min<size_t>(6, value.size() - at));
      DWORD length = 0;
      WORD signature = 0;
      if (value.size() - at < 2 || GetBodyRecord(header, &length, &signature) != NOERROR ||
          length > value.size() - at)
        return false;
      at += length;
      if (length % 2 == 1) {
        if (at >= value.size() || value[at] != 0)
          return false;
        ++at;
      }
    }
  }
  return true;
}

void Exercise(VelkoRTItem* item, NOTEHANDLE note, int options) {
  const int skip = options & 1;
  const int plain = (options >> 1) & 1;
  const int entity = (options >> 2) & 1;
  body_context* loaded =
      StoreItemsAndRecords(item, skip, 0, nullptr, plain, entity, NULLHANDLE, nullptr);
  check(loaded != nullptr);
  const STATUS status = loaded->load_status;
  check(status == NOERROR || status == VELKO_ERR_FAILED);
  check(item->internal->incomplete_load == status);

  loaded->item_name = "Copy";
  const STATUS saved = SaveBodyItems(loaded, item);
  check(saved == NOERROR || saved == VELKO_ERR_FAILED || status != NOERROR);
  if (status == NOERROR && saved == NOERROR) {
    body_context* again =
        StoreItemsAndRecords(item, 0, 0, nullptr, plain, entity, note, "Copy");
    check(again != nullptr && again->load_status == NOERROR);
    check(CountNodes(again) == CountNodes(loaded));
    if ((options & 7) == 0 && InWritersForm(note, "Body"))
      check(StoredRecords(note, "Copy") == StoredRecords(note, "Body"));
    CleanupBodyContext(item->session, again);
    delete again;
  }
  CleanupBodyContext(item->session, loaded);
  delete loaded;
}

void CleanUp(NOTEHANDLE note) {
  auto* session = new LSXLsiSession;
  auto* item = new VelkoRTItem(session);
  if (item->ConnectBackend(note, "Body", 0) == NOERROR) {
    VelkoRTChunk* chunk = item->DefineChunk("Everything");
    check(chunk != nullptr);
    const STATUS status = chunk->AlterRichText(ACTION_CLEANUP_TEXT_RUNS, 0, 0, 0, 0, nullptr,
                                               nullptr, nullptr, nullptr);
    check(status == NOERROR || status == VELKO_ERR_FAILED ||
          status == VELKO_ERR_INVALID_SEQUENCE);
    if (status == NOERROR) {
      auto* reader = new VelkoRTItem(session);
      check(reader->ConnectBackend(note, "Body", 0) == NOERROR);
      body_context* cleaned =
          StoreItemsAndRecords(reader, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
      check(cleaned != nullptr && cleaned->load_status == NOERROR);
      CleanupBodyContext(session, cleaned);
      delete cleaned;
    }
  }
  delete session;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1)
    return 0;
  const DBHANDLE db = note_testing::ProcessDatabase(kDbPath);
  const size_t handles = HostTestLiveHandles();
  const int options = data[0];
  const int pieces = 1 + (options >> 3) % 3;

  NOTEHANDLE note = NULLHANDLE;
  check(NSFNoteCreate(db, &note) == NOERROR);
  AppendPieces(note, data + 1, size - 1, pieces);
  {
    auto* session = new LSXLsiSession;
    VelkoRTItem* item = note_testing::BindItem(session, note, "Body");
    Exercise(item, note, options);
    note_testing::UnbindItem(item);
    delete session;
  }
  CleanUp(note);
  NSFNoteClose(note);
  check(HostTestLiveHandles() == handles);
  return 0;
}
