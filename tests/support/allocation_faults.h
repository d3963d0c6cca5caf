// The two allocation failures the sweeps arm, one allocation N at a time:
// the host's memory (HostTestFailAllocation) and the session's tracked
// memory (VelkoTestFailTrackedAllocation), each with the test of whether
// the armed failure was met during the run; and the sweep of a stored
// operation over one of them.
#ifndef VELKO_TESTS_SUPPORT_ALLOCATION_FAULTS_H
#define VELKO_TESTS_SUPPORT_ALLOCATION_FAULTS_H

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

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

/* Runs an operation over a freshly stored note once for every N with the
 * control's Nth failure armed (run arms it through the function it is
 * given), until a run meets no failure. A run must leave no host memory
 * handle; one that meets a failure and reports it leaves the stored body
 * (read back by stored, which may delete the note) as before, any other
 * as after. The number of runs that met a failure. */
inline int SweepStoredOperation(const control& control, const std::function<NOTEID()>& store,
                                const std::function<STATUS(NOTEID, const std::function<void()>&)>& run,
                                const std::function<std::vector<std::vector<BYTE>>(NOTEID)>& stored,
                                const std::vector<std::vector<BYTE>>& before,
                                const std::vector<std::vector<BYTE>>& after) {
  int failed = 0;
  for (int nth = 1; nth < 20000; ++nth) {
    SCOPED_TRACE(std::string(control.name) + " failure " + std::to_string(nth));
    const NOTEID id = store();
    const size_t handles = HostTestLiveHandles();
    const STATUS status = run(id, [&] { control.arm(nth); });
    const bool fired = control.fired(nth);
    EXPECT_EQ(HostTestLiveHandles(), handles) << HostTestLeakReport();
    const std::vector<std::vector<BYTE>> body = stored(id);
    if (!fired) {
      EXPECT_EQ(status, NOERROR);
      EXPECT_EQ(body, after);
      return failed;
    }
    ++failed;
    if (status != NOERROR)
      EXPECT_EQ(body, before) << "a failed run changed the note, status " << status;
    else
      EXPECT_EQ(body, after);
    if (::testing::Test::HasFailure())
      return failed; // one run's findings are enough
  }
  ADD_FAILURE() << "the sweep did not end";
  return failed;
}

} // namespace allocation_faults

#endif
