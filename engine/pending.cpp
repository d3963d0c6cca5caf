/*
 * Engine actions whose cases and chunk-edge work are not built yet: the
 * list of their action codes, which the driver refuses before the walk,
 * and the seams themselves. Each seam reports that it is not available
 * (1028) and changes nothing, so that an operation that needs one fails
 * clearly instead of passing its records through as if it had done its
 * work.
 */
#include "engine/services.h"

#include "store/vocabulary.h"

namespace {

/* The action codes whose case, or whose work where the chunk opens or
 * closes, is one of the seams below, grouped by seam. A code leaves this
 * list when its work is built. */
// clang-format off
constexpr WORD kPendingActions[] = {
    /* codes with no operation behind them: refused for good */
    ACTION_RESERVED_5, ACTION_RESERVED_6, ACTION_RESERVED_19, ACTION_RESERVED_30,
    ACTION_RESERVED_32, ACTION_RESERVED_34, ACTION_RESERVED_35, ACTION_RESERVED_40,
    ACTION_RESERVED_55, ACTION_RESERVED_56, ACTION_RESERVED_61, ACTION_RESERVED_62,
    ACTION_RESERVED_63, ACTION_RESERVED_64, ACTION_RESERVED_65, ACTION_RESERVED_70,
};
// clang-format on

} // namespace

bool ActionIsPending(WORD action) {
  for (WORD pending : kPendingActions) {
    if (action == pending)
      return true;
  }
  return false;
}

STATUS EdgeWorkAtChunkStart(const char*, WORD, DWORD, chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS EdgeWorkAtChunkStop(const char*, WORD, DWORD, chunk_process_state*) {
  return kServiceNotAvailable;
}
