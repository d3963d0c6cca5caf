// Memory handles of the host stand-in: counted locks, stable addresses,
// stale and double frees, injected allocation failures, the leak report.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "host/osmem.h"
#include "host/status.h"
#include "tests/support/test_fixture.h"

namespace {

class MemoryTest : public host_test::HostFixture {
protected:
  static DHANDLE Allocate(DWORD size) {
    DHANDLE handle = NULLHANDLE;
    EXPECT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, size, &handle), NOERROR);
    return handle;
  }
};

TEST_F(MemoryTest, BlocksAreZeroedLockedByCountAndKeepTheirAddress) {
  const DHANDLE handle = Allocate(102);
  EXPECT_EQ(OSMemGetSize(handle), 102u);
  auto* data = static_cast<char*>(OSLockObject(handle));
  EXPECT_EQ(std::string(data, 102), std::string(102, '\0'));
  EXPECT_EQ(OSLockObject(handle), data);
  EXPECT_TRUE(OSUnlockObject(handle));
  EXPECT_TRUE(OSUnlockObject(handle));
  EXPECT_FALSE(OSUnlockObject(handle)) << "a third unlock has no lock to remove";
  std::strcpy(data, "kept");
  std::vector<DHANDLE> others;
  for (int i = 0; i < 200; ++i)
    others.push_back(Allocate(1000));
  for (DHANDLE other : others)
    EXPECT_EQ(OSMemFree(other), NOERROR);
  EXPECT_EQ(OSLockObject(handle), data);
  EXPECT_STREQ(data, "kept");
  char line[64];
  std::snprintf(line, sizeof line, "handle 0x%08X size 102 locks 1\n", handle);
  EXPECT_NE(HostTestLeakReport().find(line), std::string::npos) << HostTestLeakReport();
  EXPECT_EQ(HostTestLiveHandles(), live_ + 1);
  EXPECT_EQ(OSMemFree(handle), NOERROR) << "freeing a locked block is allowed";
  const DHANDLE empty = Allocate(0);
  EXPECT_NE(OSLockObject(empty), nullptr);
  EXPECT_EQ(OSMemFree(empty), NOERROR);
}

TEST_F(MemoryTest, FreedStaleAndUnissuedHandlesAreRefused) {
  const DHANDLE old = Allocate(10);
  ASSERT_EQ(OSMemFree(old), NOERROR);
  EXPECT_EQ(OSMemFree(old), ERR_HOST_DOUBLE_FREE);
  const DHANDLE fresh = Allocate(20); // reuses the slot just freed
  ASSERT_EQ(fresh & 0xFFFFF, old & 0xFFFFF) << "same slot";
  EXPECT_EQ(OSMemFree(old), ERR_HOST_STALE_HANDLE);
  for (DHANDLE bad : {old, DHANDLE{0}, DHANDLE{0xFFFFFFFF}, DHANDLE{0x000FFFFF}, DHANDLE{1}}) {
    EXPECT_EQ(OSLockObject(bad), nullptr) << bad;
    EXPECT_FALSE(OSUnlockObject(bad)) << bad;
    EXPECT_EQ(OSMemGetSize(bad), 0u) << bad;
    EXPECT_EQ(OSMemFree(bad), bad == old ? ERR_HOST_STALE_HANDLE : ERR_HOST_BAD_HANDLE) << bad;
  }
  EXPECT_EQ(OSMemGetSize(fresh), 20u) << "the slot's new block is untouched";
  EXPECT_EQ(OSMemFree(fresh), NOERROR);
}

TEST_F(MemoryTest, InjectedAndRefusedAllocations) {
  HostTestFailAllocation(2);
  std::vector<DHANDLE> made = {Allocate(8)};
  DHANDLE handle = 0x1234;
  EXPECT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, 8, &handle), ERR_MEMORY);
  EXPECT_EQ(handle, NULLHANDLE);
  made.push_back(Allocate(8)); // only the nth fails
  HostTestFailAllocationsFrom(2);
  made.push_back(Allocate(8));
  EXPECT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, 8, &handle), ERR_MEMORY);
  EXPECT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, 8, &handle), ERR_MEMORY);
  HostTestReset();
  made.push_back(Allocate(8));
  for (DHANDLE h : made)
    EXPECT_EQ(OSMemFree(h), NOERROR);
  EXPECT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, OSMEM_MAX_BLOCK_SIZE + 1, &handle), ERR_MEMORY);
  EXPECT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, 8, nullptr), ERR_HOST_BAD_ARGUMENT);
}

TEST_F(MemoryTest, TableServesSeveralThreads) {
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&failures, t] {
      for (int i = 0; i < 500; ++i) {
        DHANDLE handle = NULLHANDLE;
        if (OSMemAlloc(MEM_TYPE_ENGINE, 16, &handle) != NOERROR) {
          ++failures;
          continue;
        }
        *static_cast<int*>(OSLockObject(handle)) = t * 1000 + i;
        if (*static_cast<int*>(OSLockObject(handle)) != t * 1000 + i || OSMemFree(handle) != NOERROR)
          ++failures;
      }
    });
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(failures.load(), 0);
}

} // namespace
