/*
 * What the fuzz targets that rewrite a stored body share: the note made of
 * the fuzz bytes, the operation on a chunk of it, and the checks after it
 * (the body loads again completely and a reading walk goes through it, or
 * it is as it was; nothing is left held).
 */
#ifndef VELKO_FUZZ_STORED_BODY_CHECKS_H
#define VELKO_FUZZ_STORED_BODY_CHECKS_H

#include <functional>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/host_testing.h"
#include "host/nsfnote.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"

/* The item's stored body loads completely. */
inline bool LoadsWhole(LSXLsiSession *session, VelkoRTItem *reader) {
  body_context *loaded =
      StoreItemsAndRecords(reader, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
  const bool whole = loaded != nullptr && loaded->load_status == NOERROR;
  CleanupBodyContext(session, loaded);
  delete loaded;
  return whole;
}

/* The note's "Body" loads completely. */
inline bool StoredBodyLoadsWhole(LSXLsiSession *session, NOTEHANDLE note) {
  auto *reader = new VelkoRTItem(session);
  const bool whole = reader->ConnectBackend(note, "Body", 0) == NOERROR &&
                     LoadsWhole(session, reader);
  delete reader;
  return whole;
}

/* The note's "Body" loads completely, and a reading walk over it ends
 * well; traps otherwise. */
inline void CheckStoredBody(LSXLsiSession *session, NOTEHANDLE note) {
  auto *reader = new VelkoRTItem(session);
  check(reader->ConnectBackend(note, "Body", 0) == NOERROR);
  check(LoadsWhole(session, reader));
  VelkoRTChunk *everything = reader->DefineChunk("Everything");
  check(everything != nullptr);
  check(everything->AlterRichText(ACTION_CONTAINS_SOMETHING, 0, 0, 0, 0,
                                  nullptr, nullptr, nullptr,
                                  nullptr) == NOERROR);
  delete reader;
}

/* The operation on the chunk of the definition over the note's "Body":
 * every tracked block is given back; a failing operation leaves the
 * item's values byte for byte as they were, one that succeeds a body that
 * loads whole and walks (a damaged body may stay as it was). */
inline void CheckChunkOperation(
    LSXLsiSession *session, NOTEHANDLE note, const char *definition,
    const std::function<STATUS(VelkoRTChunk *)> &operation) {
  auto *item = new VelkoRTItem(session);
  if (item->ConnectBackend(note, "Body", 0) != NOERROR) {
    delete item;
    return;
  }
  VelkoRTChunk *chunk = item->DefineChunk(definition);
  if (chunk == nullptr) {
    delete item;
    return;
  }
  const std::vector<note_testing::Bytes> before =
      note_testing::ItemValues(note, "Body");
  const bool whole = StoredBodyLoadsWhole(session, note);
  const STATUS status = operation(chunk);
  delete item;
  check(VelkoTrackedBlocksInUse(session) == 0);
  const bool unchanged = note_testing::ItemValues(note, "Body") == before;
  if (status != NOERROR)
    check(unchanged);
  else if (whole || !unchanged)
    CheckStoredBody(session, note);
}

/* A note of the database whose "Body" holds the bytes in `pieces` items,
 * handed with a session of its own to the run; every host handle is given
 * back afterwards. */
inline void RunOnStoredBody(
    const char *dbPath, const uint8_t *body, size_t size, int pieces,
    const std::function<void(LSXLsiSession *, NOTEHANDLE)> &run) {
  const DBHANDLE db = note_testing::ProcessDatabase(dbPath);
  const size_t handles = HostTestLiveHandles();
  NOTEHANDLE note = NULLHANDLE;
  check(NSFNoteCreate(db, &note) == NOERROR);
  AppendPieces(note, body, size, pieces);
  {
    auto *session = new LSXLsiSession;
    run(session, note);
    delete session;
  }
  NSFNoteClose(note);
  check(HostTestLiveHandles() == handles);
}

#endif
