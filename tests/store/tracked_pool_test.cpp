// The tracked pool over many blocks: a request takes the free block that
// comes first in pool order (the largest, the oldest of equal sizes), every
// block is found again by its pointer, also after heap blocks among them
// were resized, and a pool freed block by block holds no block in use.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <numeric>
#include <vector>

#include "host/host_testing.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "tests/support/note_fixture.h"

namespace {

class TrackedPoolTest : public ::testing::Test {
protected:
  void SetUp() override {
    handles_before_ = note_testing::ResetHostCapturing();
    session_ = std::make_unique<LSXLsiSession>();
  }
  void TearDown() override {
    session_.reset();
    EXPECT_EQ(HostTestLiveHandles(), handles_before_) << HostTestLeakReport();
    HostTestReset();
  }

  LSXLsiSession* session() { return session_.get(); }

  DWORD BlocksInUse() const {
    DWORD count = 0;
    for (const velko_allocation* block = session_->internal->pool; block; block = block->next)
      count += block->InUse() ? 1 : 0;
    return count;
  }

  std::unique_ptr<LSXLsiSession> session_;
  size_t handles_before_ = 0;
};

/* Sizes that repeat, in no order: 2 to 400 bytes. */
size_t SizeOf(size_t index) { return 2 + (index * 7919) % 200 * 2; }

/* A permutation of 0..count-1 that is neither the order of creation nor
 * its reverse. */
std::vector<size_t> Scrambled(size_t count) {
  std::vector<size_t> order(count);
  std::iota(order.begin(), order.end(), size_t{0});
  for (size_t i = 0; i < count; ++i)
    std::swap(order[i], order[(i * 104729 + 17) % count]);
  return order;
}

TEST_F(TrackedPoolTest, FreedBlocksAreTakenLargestFirstThenOldestFirst) {
  constexpr size_t kBlocks = 1500;
  // The first block becomes the head, which is taken first while it is
  // free and large enough; it is kept in use so that only the blocks
  // behind it are chosen among.
  ASSERT_NE(VelkoAllocatePtr(session(), VELKO_HERE, 8, 0), nullptr);
  std::vector<void*> data(kBlocks);
  for (size_t i = 0; i < kBlocks; ++i) {
    data[i] = VelkoAllocatePtr(session(), VELKO_HERE, SizeOf(i), 0);
    ASSERT_NE(data[i], nullptr) << i;
  }
  HostTestClearLog();
  for (size_t i : Scrambled(kBlocks))
    VelkoDeallocatePtr(session(), data[i]);
  EXPECT_TRUE(HostTestLogLines().empty());
  EXPECT_EQ(BlocksInUse(), 1u);

  // Blocks in the order requests of 2 bytes must take them.
  std::vector<size_t> expected(kBlocks);
  std::iota(expected.begin(), expected.end(), size_t{0});
  std::stable_sort(expected.begin(), expected.end(),
                   [](size_t a, size_t b) { return SizeOf(a) > SizeOf(b); });
  for (size_t n = 0; n < kBlocks; ++n)
    ASSERT_EQ(VelkoAllocatePtr(session(), VELKO_HERE, 2, 0), data[expected[n]]) << n;
  EXPECT_EQ(BlocksInUse(), kBlocks + 1);

  // Sizes never grow behind the head.
  const velko_allocation* block = session()->internal->pool->next;
  for (; block != nullptr && block->next != nullptr; block = block->next)
    ASSERT_GE(block->size, block->next->size);
}

/* Sizes are rounded up to even; a rounded size below 65366 bytes is host
 * memory, a larger one heap. A new block goes behind every block at least
 * as large as the request, the head never compared. */
TEST_F(TrackedPoolTest, BlocksAreEvenSizedAndLinkedByFallingSizeBehindTheHead) {
  struct Case {
    size_t request;
    DWORD size;
    DWORD osMemory;
  };
  for (const Case& c : {Case{101, 102, 1}, Case{65364, 65364, 1}, Case{65365, 65366, 0}}) {
    velko_allocation* block = VelkoAllocate(session(), VELKO_HERE, c.request, 0);
    ASSERT_NE(block, nullptr) << c.request;
    EXPECT_EQ(block->size, c.size) << c.request;
    EXPECT_EQ(block->os_memory, c.osMemory) << c.request;
    VelkoDeallocate(session(), block);
  }
  session_ = std::make_unique<LSXLsiSession>();
  for (size_t size : {100, 500, 300, 400, 50})
    ASSERT_NE(VelkoAllocatePtr(session(), VELKO_HERE, size, 0), nullptr) << size;
  std::vector<DWORD> sizes;
  for (const velko_allocation* block = session_->internal->pool; block; block = block->next)
    sizes.push_back(block->size);
  EXPECT_THAT(sizes, ::testing::ElementsAre(100u, 500u, 400u, 300u, 50u));
}

/* A released block serves the next request it can hold, its use counted;
 * the session's end names every block still in use. */
TEST_F(TrackedPoolTest, ReleasedBlocksAreHandedOutAgainAndTheEndNamesThoseInUse) {
  velko_allocation* first = VelkoAllocate(session(), 10, "one.cpp", 101, 0);
  ASSERT_NE(first, nullptr);
  VelkoDeallocate(session(), first);
  EXPECT_EQ(VelkoAllocate(session(), 11, "two.cpp", 102, 0), first);
  EXPECT_EQ(first->use_count, 2u);
  EXPECT_EQ(first->line, 11);
  EXPECT_STREQ(first->file, "two.cpp");
  ASSERT_NE(VelkoAllocate(session(), 12, "a_long_file_name.cpp", 70000, 0), nullptr);
  ASSERT_NE(VelkoAllocate(session(), 13, "three.cpp", 8, 0), nullptr);
  VelkoDeallocatePtr(session(), session_->internal->pool->next->next->data); // the 8 bytes

  HostTestClearLog();
  session_.reset();
  EXPECT_THAT(HostTestLogLines(),
              ::testing::ElementsAre(
                  "VelkoDeallocate all: Freeing item of size 102 allocated at line 11 in file "
                  "two.cpp",
                  "VelkoDeallocate all: Freeing item of size 70000 allocated at line 12 in file "
                  "a_long_fi"));
}

/* A small block whose host memory is refused fails without staying
 * counted in use, and the next request is served. */
TEST_F(TrackedPoolTest, ARefusedHostBlockIsNotLeftInUse) {
  ASSERT_NE(VelkoAllocatePtr(session(), VELKO_HERE, 8, 0), nullptr);
  HostTestFailAllocation(1);
  EXPECT_EQ(VelkoAllocatePtr(session(), VELKO_HERE, 16, 0), nullptr);
  EXPECT_EQ(BlocksInUse(), 1u);
  void* next = VelkoAllocatePtr(session(), VELKO_HERE, 16, 0);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(BlocksInUse(), 2u);
  VelkoDeallocatePtr(session(), next);
  EXPECT_EQ(BlocksInUse(), 1u);
}

TEST_F(TrackedPoolTest, EveryBlockIsFoundByItsPointerAfterResizesAmongThem) {
  constexpr size_t kSmall = 2000;
  constexpr size_t kLarge = 40;
  std::vector<void*> data;
  std::vector<size_t> large; // places in data of the heap blocks, and their sizes
  std::vector<size_t> sizes;
  for (size_t i = 0; i < kSmall; ++i) {
    data.push_back(VelkoAllocatePtr(session(), VELKO_HERE, SizeOf(i), 0));
    ASSERT_NE(data.back(), nullptr);
    if (i % (kSmall / kLarge) == 0) {
      large.push_back(data.size());
      sizes.push_back(70000 + 2 * i);
      data.push_back(VelkoAllocatePtr(session(), VELKO_HERE, sizes.back(), 0));
      ASSERT_NE(data.back(), nullptr);
    }
  }
  // Each heap block grows three times: its pointer moves in the index.
  for (size_t round = 1; round <= 3; ++round) {
    for (size_t n = 0; n < large.size(); ++n) {
      sizes[n] += 4096 * round;
      data[large[n]] = VelkoReallocatePtr(session(), VELKO_HERE, data[large[n]], sizes[n]);
      ASSERT_NE(data[large[n]], nullptr);
    }
  }
  HostTestClearLog();
  for (size_t i : Scrambled(data.size()))
    VelkoDeallocatePtr(session(), data[i]);
  EXPECT_TRUE(HostTestLogLines().empty());
  EXPECT_EQ(BlocksInUse(), 0u);
}

} // namespace
