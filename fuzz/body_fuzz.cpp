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
 * leaves a body that loads completely. Before that the body is copied as a
 * whole item (CopyBackend) into "Copy" of another note, which holds a
 * value of its own: a copy that fails leaves that value byte for byte, one
 * that succeeds from a body that loads completely leaves a value that does
 * too. Host memory must be
 * back where it was and no tracked block left in use.
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

/* Whether the note's item of the name, connected anew, loads completely. */
bool LoadsCompletely(LSXLsiSession* session, NOTEHANDLE note, const char* name) {
  auto* reader = new VelkoRTItem(session);
  bool whole = reader->ConnectBackend(note, name, 0) == NOERROR;
  if (whole) {
    body_context* loaded = StoreItemsAndRecords(reader, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
    whole = loaded != nullptr && loaded->load_status == NOERROR;
    CleanupBodyContext(session, loaded);
    delete loaded;
  }
  delete reader;
  return whole;
}

/* Copies the note's "Body" into "Copy" of a new note of the database. */
void CopyToAnotherNote(DBHANDLE db, NOTEHANDLE note) {
  NOTEHANDLE target = NULLHANDLE;
  check(NSFNoteCreate(db, &target) == NOERROR);
  // A value of the target's own: a paragraph reference and a text "old".
  const note_testing::Bytes old = {0x83, 0x04, 0x01, 0x00, 0x85, 0xFF, 0x0B, 0x00, 0x00,
                                   0x00, 0x01, 0x0A, 'o',  'l',  'd',  0x00};
  check(note_testing::AppendRecords(target, "Copy", old) == NOERROR);
  const std::vector<note_testing::Bytes> before = note_testing::ItemValues(target, "Copy");
  auto* session = new LSXLsiSession;
  auto* item = new VelkoRTItem(session);
  if (item->ConnectBackend(note, "Body", 0) == NOERROR) {
    const bool whole = LoadsCompletely(session, note, "Body");
    const STATUS status = item->CopyBackend(target, "Copy", 1);
    if (status != NOERROR)
      check(note_testing::ItemValues(target, "Copy") == before);
    else if (whole) // damaged records are copied as they are
      check(LoadsCompletely(session, target, "Copy"));
  }
  delete item;
  check(VelkoTrackedBlocksInUse(session) == 0);
  delete session;
  NSFNoteClose(target);
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
    if (status == NOERROR)
      check(LoadsCompletely(session, note, "Body"));
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
  CopyToAnotherNote(db, note);
  CleanUp(note);
  NSFNoteClose(note);
  check(HostTestLiveHandles() == handles);
  return 0;
}
