/*
 * Chunk operations and services whose engine actions are not built yet.
 * Each reports that it is not available (1028) and changes nothing, so that
 * callers in lower layers get a clear status instead of a missing symbol.
 */
#include "store/services.h"
#include "velko/velko.h"

int VelkoRTChunk::Exists() {
  status = VELKO_ERR_BAD_ARGUMENT;
  return 0;
}

STATUS VelkoRTChunk::Remove() {
  status = VELKO_ERR_BAD_ARGUMENT;
  return status;
}

STATUS VelkoRTChunk::AppendGraphic(const char*, const char*, const char*) {
  status = VELKO_ERR_BAD_ARGUMENT;
  return status;
}

STATUS CopyRTItem(VelkoRTItem*, VelkoRTItem*, int, int) { return VELKO_ERR_BAD_ARGUMENT; }
