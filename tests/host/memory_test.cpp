// Memory handles of the host stand-in: counted locks, stable addresses,
// stale and double frees, injected allocation failures, the leak report.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "host/host_testing.h"
#include "host/osmem.h"
#include "host/status.h"

namespace {

class MemoryTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    liveBefore_ = HostTestLiveHandles();
  }
  void TearDown() override {
    HostTestReset();
    EXPECT_EQ(HostTestLiveHandles(), liveBefore_) << HostTestLeakReport();
  }
  DHANDLE Allocate(DWORD size) {
    DHANDLE handle = NULLHANDLE;
    EXPECT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, size, &handle), NOERROR);
    EXPECT_NE(handle, NULLHANDLE);
    return handle;
  }
  size_t liveBefore_ = 0;
};

TEST_F(MemoryTest, BlockIsZeroedAndLocksAreCounted) {
  const DHANDLE handle = Allocate(102);
  EXPECT_EQ(OSMemGetSize(handle), 102u);
  auto* first = static_cast<unsigned char*>(OSLockObject(handle));
  ASSERT_NE(first, nullptr);
  for (int i = 0; i < 102; ++i)
    ASSERT_EQ(first[i], 0) << i;
  EXPECT_EQ(OSLockObject(handle), first);
  EXPECT_TRUE(OSUnlockObject(handle));
  EXPECT_TRUE(OSUnlockObject(handle));
  EXPECT_FALSE(OSUnlockObject(handle)) << "a third unlock has no lock to remove";
  EXPECT_EQ(OSMemFree(handle), NOERROR);
}

TEST_F(MemoryTest, AddressStaysWhileOtherBlocksComeAndGo) {
  const DHANDLE handle = Allocate(64);
  auto* data = static_cast<char*>(OSLockObject(handle));
  std::strcpy(data, "kept");
  OSUnlockObject(handle);
  std::vector<DHANDLE> others;
  for (int i = 0; i < 200; ++i)
    others.push_back(Allocate(1000));
  for (DHANDLE other : others)
    EXPECT_EQ(OSMemFree(other), NOERROR);
  EXPECT_EQ(OSLockObject(handle), data);
  EXPECT_STREQ(data, "kept");
  EXPECT_EQ(OSMemFree(handle), NOERROR);
}

TEST_F(MemoryTest, SizeZeroBlockHasAnAddress) {
  const DHANDLE handle = Allocate(0);
  EXPECT_NE(OSLockObject(handle), nullptr);
  EXPECT_EQ(OSMemGetSize(handle), 0u);
  EXPECT_EQ(OSMemFree(handle), NOERROR) << "freeing a locked block is allowed";
}

TEST_F(MemoryTest, FreedHandleIsRefusedEverywhere) {
  const DHANDLE handle = Allocate(10);
  ASSERT_EQ(OSMemFree(handle), NOERROR);
  EXPECT_EQ(OSMemFree(handle), ERR_HOST_DOUBLE_FREE);
  EXPECT_EQ(OSLockObject(handle), nullptr);
  EXPECT_FALSE(OSUnlockObject(handle));
  EXPECT_EQ(OSMemGetSize(handle), 0u);
}

TEST_F(MemoryTest, StaleHandleDoesNotReachTheSlotsNewBlock) {
  const DHANDLE old = Allocate(10);
  ASSERT_EQ(OSMemFree(old), NOERROR);
  const DHANDLE fresh = Allocate(20); // reuses the slot just freed
  ASSERT_EQ(fresh & 0xFFFFF, old & 0xFFFFF) << "same slot";
  EXPECT_NE(fresh, old);
  EXPECT_EQ(OSLockObject(old), nullptr);
  EXPECT_FALSE(OSUnlockObject(old));
  EXPECT_EQ(OSMemGetSize(old), 0u);
  EXPECT_EQ(OSMemFree(old), ERR_HOST_STALE_HANDLE);
  EXPECT_EQ(OSMemGetSize(fresh), 20u) << "the new block is untouched";
  EXPECT_EQ(OSMemFree(fresh), NOERROR);
}

TEST_F(MemoryTest, HandlesThatWereNeverIssuedAreBad) {
  for (DHANDLE bogus : {DHANDLE{0}, DHANDLE{0xFFFFFFFF}, DHANDLE{0x000FFFFF}, DHANDLE{0x00000001}}) {
    SCOPED_TRACE(bogus);
    EXPECT_EQ(OSLockObject(bogus), nullptr);
    EXPECT_FALSE(OSUnlockObject(bogus));
    EXPECT_EQ(OSMemGetSize(bogus), 0u);
    EXPECT_EQ(OSMemFree(bogus), ERR_HOST_BAD_HANDLE);
  }
}

TEST_F(MemoryTest, FreeWhileLockedReleasesTheBlock) {
  const DHANDLE handle = Allocate(10);
  ASSERT_NE(OSLockObject(handle), nullptr);
  EXPECT_EQ(HostTestLiveHandles(), liveBefore_ + 1);
  EXPECT_EQ(OSMemFree(handle), NOERROR);
  EXPECT_EQ(HostTestLiveHandles(), liveBefore_);
}

TEST_F(MemoryTest, NthAllocationFailsOnce) {
  HostTestFailAllocation(2);
  const DHANDLE first = Allocate(8);
  DHANDLE second = 0x1234;
  EXPECT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, 8, &second), ERR_MEMORY);
  EXPECT_EQ(second, NULLHANDLE);
  const DHANDLE third = Allocate(8);
  EXPECT_EQ(OSMemFree(first), NOERROR);
  EXPECT_EQ(OSMemFree(third), NOERROR);
}

TEST_F(MemoryTest, AllocationsFailFromNthUntilReset) {
  HostTestFailAllocationsFrom(2);
  const DHANDLE first = Allocate(8);
  DHANDLE handle = NULLHANDLE;
  EXPECT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, 8, &handle), ERR_MEMORY);
  EXPECT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, 8, &handle), ERR_MEMORY);
  EXPECT_EQ(handle, NULLHANDLE);
  HostTestReset();
  const DHANDLE after = Allocate(8);
  EXPECT_EQ(OSMemFree(first), NOERROR);
  EXPECT_EQ(OSMemFree(after), NOERROR);
}

TEST_F(MemoryTest, OversizedAndArgumentlessRequestsAreRefused) {
  DHANDLE handle = 0x1234;
  EXPECT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, OSMEM_MAX_BLOCK_SIZE + 1, &handle), ERR_MEMORY);
  EXPECT_EQ(handle, NULLHANDLE);
  EXPECT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, 8, nullptr), ERR_HOST_BAD_ARGUMENT);
}

TEST_F(MemoryTest, LeakReportNamesEveryLiveBlock) {
  const DHANDLE a = Allocate(102);
  const DHANDLE b = Allocate(7);
  OSLockObject(a);
  EXPECT_EQ(HostTestLiveHandles(), liveBefore_ + 2);
  const std::string report = HostTestLeakReport();
  char lineA[64];
  char lineB[64];
  std::snprintf(lineA, sizeof lineA, "handle 0x%08X size 102 locks 1\n", a);
  std::snprintf(lineB, sizeof lineB, "handle 0x%08X size 7 locks 0\n", b);
  EXPECT_NE(report.find(lineA), std::string::npos) << report;
  EXPECT_NE(report.find(lineB), std::string::npos) << report;
  EXPECT_EQ(OSMemFree(a), NOERROR);
  EXPECT_EQ(OSMemFree(b), NOERROR);
  EXPECT_EQ(HostTestLeakReport().find(lineA), std::string::npos);
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
        auto* data = static_cast<int*>(OSLockObject(handle));
        *data = t * 1000 + i;
        if (*static_cast<int*>(OSLockObject(handle)) != t * 1000 + i)
          ++failures;
        if (OSMemFree(handle) != NOERROR)
          ++failures;
      }
    });
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(failures.load(), 0);
}

} // namespace
