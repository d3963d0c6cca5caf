// The two allocation failures the sweeps arm, one allocation N at a time:
// the host's memory (HostTestFailAllocation) and the session's tracked
// memory (VelkoTestFailTrackedAllocation), each with the test of whether
// the armed failure was met during the run.
#ifndef VELKO_TESTS_SUPPORT_ALLOCATION_FAULTS_H
#define VELKO_TESTS_SUPPORT_ALLOCATION_FAULTS_H

#include "host/host_testing.h"
#include "host/osmem.h"
#include "store/tracked_memory_testing.h"

namespace allocation_faults {

/* The host's failure switch turns itself off once it fires: when none of
 * nth further allocations fails, it fired during the run. Disarms. */
inline bool HostFailureFired(int nth) {
  bool fired = true;
  for (int probe = 0; probe < nth && fired; ++probe) {
    DHANDLE handle = NULLHANDLE;
    if (OSMemAlloc(MEM_TYPE_ENGINE, 1, &handle) != NOERROR)
      fired = false;
    else
      OSMemFree(handle);
  }
  HostTestFailAllocation(0);
  return fired;
}

/* Whether the run armed at nth made its Nth tracked request. Disarms. */
inline bool TrackedFailureFired(int nth) {
  const bool fired = VelkoTestTrackedRequests() >= nth;
  VelkoTestFailTrackedAllocation(0);
  return fired;
}

struct control {
  const char* name;
  void (*arm)(int nth);
  bool (*fired)(int nth); /* whether the armed failure was met; disarms */
};

inline const control kControls[] = {
    {"host memory", HostTestFailAllocation, HostFailureFired},
    {"tracked memory", VelkoTestFailTrackedAllocation, TrackedFailureFired},
};

} // namespace allocation_faults

#endif
