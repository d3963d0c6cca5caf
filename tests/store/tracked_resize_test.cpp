// Resizing a tracked block in use (VelkoReallocatePtr): a heap block grows
// keeping its content, the head block is resized where it stands, what is
// not a tracked block in use is refused and logged, and a refused resize
// leaves the block as it was.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/host_testing.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "store/tracked_memory_testing.h"
#include "tests/support/note_fixture.h"

using ::testing::ElementsAre;

namespace {

class TrackedResizeTest : public ::testing::Test {
protected:
  void SetUp() override {
    handles_before_ = note_testing::ResetHostCapturing();
    session_ = std::make_unique<LSXLsiSession>();
  }
  void TearDown() override {
    VelkoTestFailTrackedAllocation(0);
    session_.reset();
    EXPECT_EQ(HostTestLiveHandles(), handles_before_) << HostTestLeakReport();
    HostTestReset();
  }

  /* A new session, its pool empty. */
  void Fresh() { session_ = std::make_unique<LSXLsiSession>(); }

  std::vector<DWORD> PoolSizes() const {
    std::vector<DWORD> sizes;
    for (velko_allocation* block = session_->internal->pool; block; block = block->next)
      sizes.push_back(block->size);
    return sizes;
  }

  /* A block of the size filled with a pattern of its offsets. */
  char* Patterned(size_t size) {
    auto* data = static_cast<char*>(VelkoAllocatePtr(session(), VELKO_HERE, size, 0));
    for (size_t i = 0; data != nullptr && i < size; ++i)
      data[i] = static_cast<char>(i * 7 + 1);
    return data;
  }

  static bool HasPattern(const char* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
      if (data[i] != static_cast<char>(i * 7 + 1))
        return false;
    }
    return true;
  }

  LSXLsiSession* session() { return session_.get(); }

  std::unique_ptr<LSXLsiSession> session_;
  size_t handles_before_ = 0;
};

TEST_F(TrackedResizeTest, AHeapBlockGrowsKeepingItsContentAndStaysTheOnlyBlock) {
  char* data = Patterned(70000);
  ASSERT_NE(data, nullptr);
  auto* grown = static_cast<char*>(VelkoReallocatePtr(session(), 12, "grow.cpp", data, 300001));
  ASSERT_NE(grown, nullptr);
  EXPECT_TRUE(HasPattern(grown, 70000));
  std::memset(grown, 0, 300002); // the whole rounded size is usable
  EXPECT_THAT(PoolSizes(), ElementsAre(300002u));
  const velko_allocation* block = session()->internal->pool;
  EXPECT_EQ(block->data, grown);
  EXPECT_EQ(block->line, 12);
  EXPECT_STREQ(block->file, "grow.cpp");
  EXPECT_EQ(block->use_count, 1u);

  // Found again by its new address.
  VelkoDeallocatePtr(session(), grown);
  EXPECT_FALSE(session()->internal->pool->InUse());
  EXPECT_EQ(VelkoAllocatePtr(session(), VELKO_HERE, 200000, 0), grown);
}

TEST_F(TrackedResizeTest, TheHeadBlockIsResizedWhereItStands) {
  void* head = Patterned(70000);
  ASSERT_NE(head, nullptr);
  ASSERT_NE(VelkoAllocatePtr(session(), VELKO_HERE, 100000, 0), nullptr);
  void* grown = VelkoReallocatePtr(session(), VELKO_HERE, head, 200000);
  ASSERT_NE(grown, nullptr);
  EXPECT_TRUE(HasPattern(static_cast<char*>(grown), 70000));
  EXPECT_THAT(PoolSizes(), ElementsAre(200000u, 100000u));
}

TEST_F(TrackedResizeTest, WhatIsNotATrackedBlockInUseIsRefusedAndLogged) {
  void* released = VelkoAllocatePtr(session(), VELKO_HERE, 100000, 0);
  VelkoDeallocatePtr(session(), released);
  char stray[16];
  HostTestClearLog();
  EXPECT_EQ(VelkoReallocatePtr(session(), 3, "a.cpp", released, 200000), nullptr);
  EXPECT_EQ(VelkoReallocatePtr(session(), 4, "a.cpp", stray, 200000), nullptr);
  EXPECT_EQ(VelkoReallocatePtr(session(), 5, "a.cpp", nullptr, 200000), nullptr);
  EXPECT_THAT(
      HostTestLogLines(),
      ElementsAre("Harrowmint: Memory allocation error at 3 in a.cpp: Insufficient memory",
                  "Harrowmint: Memory allocation error at 4 in a.cpp: Insufficient memory"));
  EXPECT_THAT(PoolSizes(), ElementsAre(100000u));
}

TEST_F(TrackedResizeTest, ARefusedResizeLeavesTheBlockAsItWas) {
  for (const size_t from : {size_t{1000}, size_t{100000}}) {
    Fresh();
    char* data = Patterned(from);
    ASSERT_NE(data, nullptr);
    HostTestClearLog();
    VelkoTestFailTrackedAllocation(1);
    EXPECT_EQ(VelkoReallocatePtr(session(), VELKO_HERE, data, 400000), nullptr) << from;
    VelkoTestFailTrackedAllocation(0);
    EXPECT_THAT(HostTestLogLines(),
                ElementsAre("Harrowmint: Unable to successfully allocate 400000 bytes of memory: "
                            "Insufficient memory"))
        << from;
    EXPECT_TRUE(HasPattern(data, from)) << from;
    EXPECT_THAT(PoolSizes(), ElementsAre(static_cast<DWORD>(from))) << from;
    EXPECT_TRUE(session()->internal->pool->InUse()) << from;
    VelkoDeallocatePtr(session(), data);
  }
}

} // namespace
