// The session's registries, tracked memory pool, cache chain and the
// temporary directory.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/host_testing.h"
#include "host/osmem.h"
#include "store/session.h"
#include "tests/support/note_fixture.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

const HostTestMessage kAllocationError{"Harrowmint: Memory allocation error", 6};

class SessionTest : public ::testing::Test {
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

  std::vector<DWORD> PoolSizes() const {
    std::vector<DWORD> sizes;
    for (velko_allocation* block = session_->internal->pool; block; block = block->next)
      sizes.push_back(block->size);
    return sizes;
  }

  LSXLsiSession* session() { return session_.get(); }

  std::unique_ptr<LSXLsiSession> session_;
  size_t handles_before_ = 0;
};

/* ---- the tracked pool ---- */

TEST_F(SessionTest, BlocksAreRoundedStampedAndReusedOnlyWhenFree) {
  velko_allocation* block = VelkoAllocate(session(), 10, "averylongfilename.cpp", 101, 0);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->size, 102u);
  EXPECT_EQ(block->use_count, 1u);
  EXPECT_EQ(block->line, 10);
  EXPECT_STREQ(block->file, "averylong") << "nine characters of the file name";
  EXPECT_NE(VelkoAllocate(session(), VELKO_HERE, 64, 0), block) << "a block in use is not reused";

  std::memset(block->data, 0x5A, 101);
  VelkoDeallocate(session(), block);
  EXPECT_FALSE(block->InUse());
  EXPECT_EQ(block->line, 0);
  velko_allocation* again = VelkoAllocate(session(), 11, "b.cpp", 40, 1);
  EXPECT_EQ(again, block);
  EXPECT_EQ(again->size, 102u);
  EXPECT_EQ(again->use_count, 2u);
  EXPECT_STREQ(again->file, "b.cpp");
  // The bytes asked for are zeroed; the rest is not the holder's to read.
  const auto* bytes = static_cast<const char*>(again->data);
  EXPECT_EQ(std::vector<char>(bytes, bytes + 40), std::vector<char>(40, 0));
}

TEST_F(SessionTest, HostMemoryBelowLimitHeapAbove) {
  velko_allocation* host = VelkoAllocate(session(), VELKO_HERE, 65364, 0);
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(host->os_memory, 1u);
  EXPECT_EQ(OSMemGetSize(host->handle), 65364u);

  velko_allocation* heap = VelkoAllocate(session(), VELKO_HERE, 65365, 0);
  ASSERT_NE(heap, nullptr);
  EXPECT_EQ(heap->os_memory, 0u);
  EXPECT_EQ(heap->handle, NULLHANDLE);
  EXPECT_EQ(heap->size, 65366u);
  std::memset(heap->data, 0xAB, heap->size); // the whole rounded size is usable
}

TEST_F(SessionTest, PoolKeepsHeadThenFallingSizesAndReusesTheFreeHeadFirst) {
  velko_allocation* head = VelkoAllocate(session(), VELKO_HERE, 100, 0);
  ASSERT_NE(VelkoAllocate(session(), VELKO_HERE, 500, 0), nullptr);
  ASSERT_NE(VelkoAllocate(session(), VELKO_HERE, 300, 0), nullptr);
  ASSERT_NE(VelkoAllocate(session(), VELKO_HERE, 400, 0), nullptr);
  ASSERT_NE(VelkoAllocate(session(), VELKO_HERE, 50, 0), nullptr);
  EXPECT_THAT(PoolSizes(), ElementsAre(100u, 500u, 400u, 300u, 50u));
  // A new block of a size already present goes behind the equal one.
  velko_allocation* equal = VelkoAllocate(session(), VELKO_HERE, 400, 0);
  EXPECT_THAT(PoolSizes(), ElementsAre(100u, 500u, 400u, 400u, 300u, 50u));
  EXPECT_EQ(session()->internal->pool->next->next->next, equal);

  velko_allocation* large = session()->internal->pool->next;
  VelkoDeallocate(session(), head);
  VelkoDeallocate(session(), large);
  EXPECT_EQ(VelkoAllocate(session(), VELKO_HERE, 90, 0), head);
  EXPECT_EQ(VelkoAllocate(session(), VELKO_HERE, 90, 0), large);
}

// The pool as the plain list walk defines it: first free block that fits
// from the head; new blocks linked behind the head after every block at
// least as large as the request.
struct ReferencePool {
  struct Block {
    DWORD size;
    bool in_use;
    int id;
  };
  std::vector<Block> list;
  int next_id = 0;

  int Allocate(size_t requested) {
    for (Block& block : list) {
      if (!block.in_use && block.size >= requested) {
        block.in_use = true;
        return block.id;
      }
    }
    Block block{static_cast<DWORD>(requested + (requested & 1)), true, next_id++};
    size_t at = 0;
    while (at + 1 < list.size() && list[at + 1].size >= requested)
      ++at;
    list.insert(list.empty() ? list.end() : list.begin() + at + 1, block);
    return block.id;
  }
};

TEST_F(SessionTest, PoolChoosesBlocksAsTheListWalkDoes) {
  ReferencePool reference;
  std::vector<velko_allocation*> by_id;
  std::vector<int> live;
  unsigned seed = 12345;
  auto random = [&seed](unsigned bound) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % bound;
  };
  for (int step = 0; step < 3000; ++step) {
    if (!live.empty() && random(3) == 0) {
      size_t pick = random(static_cast<unsigned>(live.size()));
      int id = live[pick];
      live.erase(live.begin() + static_cast<long>(pick));
      for (auto& block : reference.list)
        if (block.id == id)
          block.in_use = false;
      VelkoDeallocatePtr(session(), by_id[static_cast<size_t>(id)]->data);
      continue;
    }
    size_t size = 1 + random(4000);
    int expected = reference.Allocate(size);
    velko_allocation* block = VelkoAllocate(session(), VELKO_HERE, size, 0);
    ASSERT_NE(block, nullptr);
    if (static_cast<size_t>(expected) == by_id.size())
      by_id.push_back(block);
    ASSERT_EQ(by_id[static_cast<size_t>(expected)], block) << "step " << step;
    live.push_back(expected);
  }
  std::vector<DWORD> expected_sizes;
  for (const auto& block : reference.list)
    expected_sizes.push_back(block.size);
  EXPECT_EQ(PoolSizes(), expected_sizes);
}

TEST_F(SessionTest, CopiesTakeTheWholeTextOrTheCountAndPropertiesOnlyWhenNotEmpty) {
  EXPECT_STREQ(VelkoAllocatePtrAndCopy(session(), VELKO_HERE, "abc", 0), "abc");
  EXPECT_EQ(session()->internal->pool->size, 4u);
  EXPECT_STREQ(VelkoAllocatePtrAndCopy(session(), VELKO_HERE, "abcdef", 2), "ab");
  EXPECT_EQ(VelkoAllocatePtrAndCopy(session(), VELKO_HERE, nullptr, 0), nullptr);
  const char* props = "Name='Big table' Width=";
  EXPECT_STREQ(VelkoAllocatePtrExtractProperty(session(), VELKO_HERE, props, "Name="),
               "Big table");
  EXPECT_EQ(VelkoAllocatePtrExtractProperty(session(), VELKO_HERE, props, "Width="), nullptr);
  EXPECT_EQ(VelkoAllocatePtrExtractProperty(session(), VELKO_HERE, props, "Height="), nullptr);
}

/* ---- freeing and its reports ---- */

TEST_F(SessionTest, DeletingSessionLogsEveryBlockStillInUse) {
  VelkoAllocate(session(), 42, "one.cpp", 101, 0);
  velko_allocation* released = VelkoAllocate(session(), 43, "two.cpp", 500, 0);
  VelkoAllocate(session(), 44, "three.cpp", 70000, 0);
  VelkoDeallocate(session(), released);
  HostTestClearLog();
  session_.reset();
  EXPECT_THAT(HostTestLogLines(),
              ElementsAre("VelkoDeallocate all: Freeing item of size 102 allocated at line 42 in "
                          "file one.cpp",
                          "VelkoDeallocate all: Freeing item of size 70000 allocated at line 44 in "
                          "file three.cpp"));
}

TEST_F(SessionTest, FreeAllOnlyWhenInUseKeepsAnIdlePool) {
  velko_allocation* block = VelkoAllocate(session(), VELKO_HERE, 64, 0);
  VelkoDeallocate(session(), block);
  VelkoDeallocateAndFreeAll(session(), 1);
  EXPECT_EQ(session()->internal->pool, block);
  VelkoAllocate(session(), VELKO_HERE, 64, 0);
  VelkoDeallocateAndFreeAll(session(), 1);
  EXPECT_EQ(session()->internal->pool, nullptr);
  EXPECT_EQ(HostTestLiveHandles(), handles_before_);
}

TEST_F(SessionTest, DeallocatingAForeignPointerNamesNearbyBlocksAndFreesNothing) {
  auto* data = static_cast<char*>(VelkoAllocatePtr(session(), 12, "near.cpp", 40, 0));
  ASSERT_NE(data, nullptr);
  HostTestClearLog();
  VelkoDeallocatePtr(session(), data + 40 + 10);
  char expected[200];
  std::snprintf(expected, sizeof expected,
                "1) Might be related to %p --> item of size 40 allocated at line 12 in file "
                "near.cpp",
                static_cast<void*>(data));
  EXPECT_THAT(HostTestLogLines(),
              ElementsAre("Attempted to deallocate a pointer not allocated through system.",
                          std::string(expected)));
  EXPECT_THAT(HostTestMessages(),
              ElementsAre(HostTestMessage{
                  "Attempted to deallocate a pointer not allocated through system.", 6}));
  EXPECT_TRUE(session()->internal->pool->InUse());

  // Far from any block no block is named; null is no pointer at all.
  HostTestClearLog();
  VelkoDeallocatePtr(session(), data + 40 + 101);
  VelkoDeallocatePtr(session(), nullptr);
  EXPECT_EQ(HostTestLogLines().size(), 1u);
}

TEST_F(SessionTest, MessagesAreNotShownWithoutHandler) {
  HostTestReset(); // removes the capturing handler
  HostTestCaptureLog(true);
  VelkoDeallocatePtr(session(), reinterpret_cast<void*>(0x10));
  EXPECT_EQ(HostTestLogLines().size(), 1u);
  EXPECT_TRUE(HostTestMessages().empty());
}

/* ---- refusals ---- */

TEST_F(SessionTest, OversizedRequestIsRefusedNotCut) {
  HostTestClearLog();
  EXPECT_EQ(VelkoAllocate(session(), 7, "big.cpp", 0xFFFFFFD7u, 0), nullptr);
  EXPECT_EQ(VelkoAllocatePtr(session(), 8, "big.cpp", 0xFFFFFFFFu, 0), nullptr);
  EXPECT_EQ(VelkoAllocatePtr(session(), 9, "big.cpp", size_t{1} << 33, 0), nullptr);
  EXPECT_THAT(HostTestLogLines(),
              ElementsAre("Harrowmint: Memory allocation error at 7 in big.cpp: Insufficient memory",
                          "Harrowmint: Memory allocation error at 8 in big.cpp: Insufficient memory",
                          "Harrowmint: Memory allocation error at 9 in big.cpp: Insufficient "
                          "memory"));
  EXPECT_THAT(HostTestMessages(), ElementsAre(kAllocationError, kAllocationError,
                                              kAllocationError));
  EXPECT_EQ(session()->internal->pool, nullptr);
}

TEST_F(SessionTest, HostRefusalLeavesBlockWithoutDataAndReportsIt) {
  HostTestClearLog();
  HostTestFailAllocation(1);
  EXPECT_EQ(VelkoAllocatePtr(session(), VELKO_HERE, 100, 0), nullptr);
  EXPECT_THAT(HostTestLogLines(),
              ElementsAre("Harrowmint: Unable to allocate 100 bytes of memory: Insufficient memory"));
  EXPECT_THAT(HostTestMessages(), ElementsAre(kAllocationError));
  EXPECT_NE(VelkoAllocatePtr(session(), VELKO_HERE, 100, 0), nullptr) << "the next one succeeds";
}

/* ---- caches and the link matcher ---- */

TEST_F(SessionTest, CachedStuffChainGrowsAtTailAndIsFreed) {
  cached_stuff_node* first = session()->CreateCachedStuff();
  cached_stuff_node* second = session()->CreateCachedStuff();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(session()->internal->cached_stuff, first);
  EXPECT_EQ(first->next, second);
  EXPECT_EQ(first->size, 0x100000u);
  EXPECT_EQ(first->buffer[0xFFFFF], 0);
  session()->CleanUpCachedStuff();
  EXPECT_EQ(session()->internal->cached_stuff, nullptr);
}

TEST_F(SessionTest, LinkMatcherHandlesAreFreedOnceWithTheSession) {
  auto* matcher = new link_matching_info(session());
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, 16, &matcher->keyword_lists[i]), NOERROR);
  // A gap: the matcher's own destructor stops at the first empty slot, the
  // session frees every slot that is set.
  ASSERT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, 16, &matcher->keyword_lists[5]), NOERROR);
  ASSERT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, 16, &matcher->note_ids), NOERROR);
  matcher->matched_words = static_cast<char*>(VelkoAllocatePtr(session(), VELKO_HERE, 32, 1));
  std::strcpy(session()->internal->link_cache_server, "server");
  session()->internal->link_matcher = matcher;
  HostTestClearLog();
  session_.reset();
  EXPECT_EQ(HostTestLiveHandles(), handles_before_) << HostTestLeakReport();
  // The tracked buffer was released before the pool was freed: no line for it.
  EXPECT_TRUE(HostTestLogLines().empty());
}

TEST_F(SessionTest, LinkMatcherDestructorStopsAtFirstEmptyHandle) {
  auto* matcher = new link_matching_info(session());
  ASSERT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, 16, &matcher->keyword_lists[0]), NOERROR);
  DHANDLE beyond = NULLHANDLE;
  ASSERT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, 16, &beyond), NOERROR);
  matcher->keyword_lists[2] = beyond;
  delete matcher;
  EXPECT_EQ(HostTestLiveHandles(), handles_before_ + 1);
  EXPECT_EQ(OSMemFree(beyond), NOERROR);
}

/* ---- items and chunks ---- */

TEST_F(SessionTest, ItemAndChunkListsPushAtHeadAndDeletingAnItemDeletesOnlyItsChunks) {
  auto* item = new VelkoRTItem(session());
  auto* other = new VelkoRTItem(session());
  item->default_chunk = new VelkoRTChunk(session(), item);
  auto* second = new VelkoRTChunk(session(), item);
  auto* kept = new VelkoRTChunk(session(), other);
  EXPECT_EQ(session()->items, other);
  EXPECT_EQ(session()->chunks, kept);
  EXPECT_EQ(kept->next, second);

  session()->RemoveFromRTCHUNKList(kept);
  EXPECT_EQ(session()->chunks, second);
  session()->RemoveFromRTCHUNKList(kept); // absent: no effect
  session()->AddToRTCHUNKList(kept);
  EXPECT_EQ(session()->chunks, kept);

  delete item;
  EXPECT_EQ(session()->chunks, kept);
  EXPECT_EQ(kept->next, nullptr);
  EXPECT_EQ(session()->items, other);
  new VelkoRTChunk(session(), nullptr); // a chunk of no item
  session_.reset(); // deletes what is left; ASan reports any leak or double delete
}

/* ---- the temporary directory ---- */

// The temporary directory is process-wide; each case sets what it reads.
class TempDirectoryTest : public SessionTest {
protected:
  void SetUp() override {
    SessionTest::SetUp();
    for (const char* name : {"TEMP", "TMP"}) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value != nullptr ? value : "");
      unsetenv(name);
    }
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value.empty())
        unsetenv(name.c_str());
      else
        setenv(name.c_str(), value.c_str(), 1);
    }
    SessionTest::TearDown();
  }
  std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(TempDirectoryTest, TakesTheSettingThenTempThenTmpWithOneSeparator) {
  struct Case {
    const char* setting; /* $TarnoTempDirectory; null: unset */
    const char* temp;
    const char* tmp;
    const char* directory;
  };
  const Case cases[] = {
      {nullptr, nullptr, nullptr, "/tmp/"},
      {nullptr, nullptr, "/var/x", "/var/x/"},
      {nullptr, "/scratch/", "/var/x", "/scratch/"},
      {nullptr, "", "/var/x", "/var/x/"},
      {"", nullptr, "/var/y", "/var/y/"},
      {"/data/tmp", nullptr, "/var/y", "/data/tmp/"},
      {"/data/tmp///", nullptr, nullptr, "/data/tmp/"},
      {"/", nullptr, nullptr, "/"},
  };
  for (const Case& c : cases) {
    HostTestSetEnvironment("$TarnoTempDirectory", c.setting != nullptr ? c.setting : "");
    for (const auto& [name, value] : {std::pair{"TEMP", c.temp}, std::pair{"TMP", c.tmp}}) {
      if (value != nullptr)
        setenv(name, value, 1);
      else
        unsetenv(name);
    }
    session()->InitializeTempDirectory();
    EXPECT_STREQ(session()->internal->temp_directory, c.directory) << c.directory;
    EXPECT_EQ(session()->internal->temp_directory_len, std::strlen(c.directory)) << c.directory;
  }
}

TEST_F(TempDirectoryTest, OverlongSettingIsLoggedAndReplacedAndDebugLogsTheDirectory) {
  // 255 characters and the separator fill 256.
  HostTestSetEnvironment("$TarnoTempDirectory", ("/" + std::string(254, 'd')).c_str());
  session()->InitializeTempDirectory();
  EXPECT_EQ(session()->internal->temp_directory_len, 256);

  HostTestClearLog();
  HostTestSetEnvironment("$TarnoTempDirectory", ("/" + std::string(256, 'd')).c_str());
  session()->InitializeTempDirectory();
  EXPECT_STREQ(session()->internal->temp_directory, "/tmp/");
  ASSERT_EQ(HostTestLogLines().size(), 1u);
  EXPECT_THAT(HostTestLogLines()[0], HasSubstr("$TarnoTempDirectory"));

  HostTestClearLog();
  HostTestSetEnvironment("$TarnoTempDirectory", "");
  HostTestSetEnvironment("TarnoDebug", "1");
  setenv("TMP", "/var/x", 1);
  session()->InitializeTempDirectory();
  EXPECT_THAT(HostTestLogLines(), ElementsAre("TarnoDebug: Temp directory='/var/x/'"));
}

}  // namespace
