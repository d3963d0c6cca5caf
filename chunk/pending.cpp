/*
 * Chunk operations and services whose engine actions are not built yet.
 * Each reports that it is not available (1028) and changes nothing, so that
 * callers in lower layers get a clear status instead of a missing symbol.
 */
#include "engine/services.h"
#include "generate/services.h"
#include "store/services.h"
#include "velko/velko.h"

STATUS CopyRTItem(VelkoRTItem*, VelkoRTItem*, int, int) { return VELKO_ERR_BAD_ARGUMENT; }
