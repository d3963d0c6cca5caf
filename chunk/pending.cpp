/*
 * Chunk operations and services whose engine actions are not built yet.
 * Each reports that it is not available (1028) and changes nothing, so that
 * callers in lower layers get a clear status instead of a missing symbol.
 */
#include "engine/services.h"
#include "generate/services.h"
#include "store/services.h"
#include "velko/velko.h"

/* ---- services record generation calls (generate/services.h) ---- */

STATUS AppendImageResourceRecords(generation_context*, const char*, WORD, WORD, const char*) {
  return kServiceNotAvailable;
}
