/*
 * What the fuzz targets that rewrite a stored body check afterwards: the
 * body loads again completely, and a reading walk goes through it.
 */
#ifndef VELKO_FUZZ_STORED_BODY_CHECKS_H
#define VELKO_FUZZ_STORED_BODY_CHECKS_H

#include "fuzz/fuzz_support.h"
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

#endif
