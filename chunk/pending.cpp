/*
 * Chunk operations and services whose engine actions are not built yet.
 * Each reports that it is not available (1028) and changes nothing, so that
 * callers in lower layers get a clear status instead of a missing symbol.
 *
 * In the test library a test may stand a function of its own in for the
 * chunk append (chunk/append_chunk_testing.h).
 */
#include "engine/services.h"
#include "generate/services.h"
#include "store/services.h"
#include "velko/velko.h"

#ifdef VELKO_TEST_CONTROLS
#include <utility>

#include "chunk/append_chunk_testing.h"

namespace {
append_chunk_stand_in& AppendChunkStandIn() {
  static append_chunk_stand_in standIn;
  return standIn;
}
} // namespace

void VelkoTestReplaceAppendChunk(append_chunk_stand_in standIn) {
  AppendChunkStandIn() = std::move(standIn);
}
#endif

STATUS CopyRTItem(VelkoRTItem*, VelkoRTItem*, int, int) { return VELKO_ERR_BAD_ARGUMENT; }

/* ---- services the chunk engine calls (engine/services.h) ---- */

STATUS AppendChunk([[maybe_unused]] VelkoRTChunk* chunk, [[maybe_unused]] chunk_process_state* state,
                   [[maybe_unused]] WORD base) {
#ifdef VELKO_TEST_CONTROLS
  if (AppendChunkStandIn())
    return AppendChunkStandIn()(chunk, state, base);
#endif
  return kServiceNotAvailable;
}

/* ---- services record generation calls (generate/services.h) ---- */

STATUS AppendImageResourceRecords(generation_context*, const char*, WORD, WORD, const char*) {
  return kServiceNotAvailable;
}

STATUS AppendImportFile(const char*, generation_context*) { return kServiceNotAvailable; }
