/*
 * HostTestReset: puts every module of the host stand-in back to its
 * starting state between tests. The other test controls live with the
 * module they steer. Compiled only into the test library.
 */
#ifdef VELKO_TEST_CONTROLS

#include "host/host_testing.h"

#include "host/host_internal.h"

void HostTestReset() {
  // Closing notes frees their memory blocks, so storage goes first.
  velko::host::ResetStorageForTests();
  velko::host::ResetEnvironmentForTests();
  velko::host::ResetLogForTests();
  velko::host::ResetClockForTests();
  velko::host::ResetMemoryFaultsForTests();
  velko::host::ResetViewsForTests();
  velko::host::ResetFiltersForTests();
}

#endif
