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

TEST_F(SessionTest, NewSessionIsEmptyWithKeepLockedSwitchOn) {
  EXPECT_EQ(session()->items, nullptr);
  EXPECT_EQ(session()->chunks, nullptr);
  EXPECT_EQ(session()->result_length, 0);
  EXPECT_EQ(session()->result_text[0], '\0');
  ASSERT_NE(session()->internal, nullptr);
  EXPECT_EQ(session()->internal->keep_locked, 1u);
  EXPECT_EQ(session()->internal->pool, nullptr);
  EXPECT_EQ(session()->internal->link_matcher, nullptr);
  EXPECT_EQ(session()->internal->nls_info, nullptr);
}

TEST_F(SessionTest, OddRequestIsRoundedAndFreedBlockIsReused) {
  velko_allocation* block = VelkoAllocate(session(), 10, "a.cpp", 101, 0);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->size, 102u);
  EXPECT_EQ(block->use_count, 1u);
  EXPECT_EQ(block->line, 10);
  EXPECT_STREQ(block->file, "a.cpp");

  VelkoDeallocate(session(), block);
  EXPECT_FALSE(block->InUse());
  EXPECT_EQ(block->line, 0);

  velko_allocation* again = VelkoAllocate(session(), 11, "b.cpp", 102, 0);
  EXPECT_EQ(again, block);
  EXPECT_EQ(again->use_count, 2u);
  EXPECT_STREQ(again->file, "b.cpp");
  EXPECT_EQ(PoolSizes().size(), 1u);
}

TEST_F(SessionTest, SmallerRequestReusesReleasedBlockWithUseCountTwo) {
  void* data = VelkoAllocatePtr(session(), VELKO_HERE, 300, 0);
  ASSERT_NE(data, nullptr);
  VelkoDeallocatePtr(session(), data);
  velko_allocation* block = VelkoAllocate(session(), VELKO_HERE, 40, 1);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->data, data);
  EXPECT_EQ(block->size, 300u);
  EXPECT_EQ(block->use_count, 2u);
  // Zeroing covers the whole block, not only the bytes asked for.
  std::vector<char> zeros(300, 0);
  EXPECT_EQ(std::memcmp(block->data, zeros.data(), 300), 0);
}

TEST_F(SessionTest, BlockInUseIsNotHandedOutTwice) {
  void* first = VelkoAllocatePtr(session(), VELKO_HERE, 64, 0);
  void* second = VelkoAllocatePtr(session(), VELKO_HERE, 64, 0);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
}

TEST_F(SessionTest, HostMemoryBelowLimitHeapAbove) {
  velko_allocation* host = VelkoAllocate(session(), VELKO_HERE, 65364, 0);
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(host->os_memory, 1u);
  EXPECT_NE(host->handle, NULLHANDLE);
  EXPECT_EQ(host->size, 65364u);
  EXPECT_EQ(OSMemGetSize(host->handle), 65364u);

  velko_allocation* heap = VelkoAllocate(session(), VELKO_HERE, 65365, 0);
  ASSERT_NE(heap, nullptr);
  EXPECT_EQ(heap->os_memory, 0u);
  EXPECT_EQ(heap->handle, NULLHANDLE);
  EXPECT_EQ(heap->size, 65366u);
  ASSERT_NE(heap->data, nullptr);
  std::memset(heap->data, 0xAB, heap->size);  // the whole rounded size is usable
}

TEST_F(SessionTest, PoolKeepsHeadThenFallingSizes) {
  ASSERT_NE(VelkoAllocate(session(), VELKO_HERE, 100, 0), nullptr);
  ASSERT_NE(VelkoAllocate(session(), VELKO_HERE, 500, 0), nullptr);
  ASSERT_NE(VelkoAllocate(session(), VELKO_HERE, 300, 0), nullptr);
  EXPECT_THAT(PoolSizes(), ElementsAre(100u, 500u, 300u));

  ASSERT_NE(VelkoAllocate(session(), VELKO_HERE, 400, 0), nullptr);
  EXPECT_THAT(PoolSizes(), ElementsAre(100u, 500u, 400u, 300u));

  ASSERT_NE(VelkoAllocate(session(), VELKO_HERE, 50, 0), nullptr);
  EXPECT_THAT(PoolSizes(), ElementsAre(100u, 500u, 400u, 300u, 50u));

  // A new block of a size already present goes behind the equal one.
  velko_allocation* equal = VelkoAllocate(session(), VELKO_HERE, 400, 0);
  ASSERT_NE(equal, nullptr);
  EXPECT_THAT(PoolSizes(), ElementsAre(100u, 500u, 400u, 400u, 300u, 50u));
  EXPECT_EQ(session()->internal->pool->next->next->next, equal);
}

TEST_F(SessionTest, FreeHeadIsReusedBeforeLargerBlocks) {
  velko_allocation* head = VelkoAllocate(session(), VELKO_HERE, 200, 0);
  velko_allocation* large = VelkoAllocate(session(), VELKO_HERE, 1000, 0);
  VelkoDeallocate(session(), head);
  VelkoDeallocate(session(), large);
  EXPECT_EQ(VelkoAllocate(session(), VELKO_HERE, 150, 0), head);
  EXPECT_EQ(VelkoAllocate(session(), VELKO_HERE, 150, 0), large);
}

TEST_F(SessionTest, FileStampKeepsNineCharacters) {
  velko_allocation* block = VelkoAllocate(session(), 7, "averylongfilename.cpp", 8, 0);
  ASSERT_NE(block, nullptr);
  EXPECT_STREQ(block->file, "averylong");
}

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

TEST_F(SessionTest, DeallocatingForeignPointerNamesNearbyBlocks) {
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
  // Nothing was freed.
  EXPECT_TRUE(session()->internal->pool->InUse());
}

TEST_F(SessionTest, DeallocatingFarPointerNamesNoBlock) {
  auto* data = static_cast<char*>(VelkoAllocatePtr(session(), VELKO_HERE, 40, 0));
  HostTestClearLog();
  VelkoDeallocatePtr(session(), data + 40 + 101);
  EXPECT_EQ(HostTestLogLines().size(), 1u);
  VelkoDeallocatePtr(session(), nullptr);
  EXPECT_EQ(HostTestLogLines().size(), 1u);
}

TEST_F(SessionTest, CopyWithCountZeroTakesWholeText) {
  char* copy = VelkoAllocatePtrAndCopy(session(), VELKO_HERE, "abc", 0);
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "abc");
  EXPECT_EQ(session()->internal->pool->size, 4u);

  char* part = VelkoAllocatePtrAndCopy(session(), VELKO_HERE, "abcdef", 2);
  ASSERT_NE(part, nullptr);
  EXPECT_STREQ(part, "ab");
  EXPECT_EQ(VelkoAllocatePtrAndCopy(session(), VELKO_HERE, nullptr, 0), nullptr);
}

TEST_F(SessionTest, ExtractPropertyCopyOnlyForNonEmptyValue) {
  char* value = VelkoAllocatePtrExtractProperty(session(), VELKO_HERE,
                                                "Name='Big table' Width=", "Name=");
  ASSERT_NE(value, nullptr);
  EXPECT_STREQ(value, "Big table");
  EXPECT_EQ(VelkoAllocatePtrExtractProperty(session(), VELKO_HERE, "Name='Big table' Width=",
                                            "Width="),
            nullptr);
  EXPECT_EQ(VelkoAllocatePtrExtractProperty(session(), VELKO_HERE, "Name=x", "Height="), nullptr);
}

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
  EXPECT_EQ(HostTestMessages().size(), 3u);
  EXPECT_EQ(HostTestMessages()[0], (HostTestMessage{"Harrowmint: Memory allocation error", 6}));
  EXPECT_EQ(session()->internal->pool, nullptr);
}

TEST_F(SessionTest, HostRefusalLeavesBlockWithoutDataAndReportsIt) {
  HostTestClearLog();
  HostTestFailAllocation(1);
  EXPECT_EQ(VelkoAllocatePtr(session(), VELKO_HERE, 100, 0), nullptr);
  EXPECT_THAT(HostTestLogLines(),
              ElementsAre("Harrowmint: Unable to allocate 100 bytes of memory: Insufficient memory"));
  EXPECT_THAT(HostTestMessages(),
              ElementsAre(HostTestMessage{"Harrowmint: Memory allocation error", 6}));
  // The next request succeeds with a fresh block.
  EXPECT_NE(VelkoAllocatePtr(session(), VELKO_HERE, 100, 0), nullptr);
}

TEST_F(SessionTest, MessagesAreNotShownWithoutHandler) {
  HostTestReset();  // removes the capturing handler
  HostTestCaptureLog(true);
  VelkoDeallocatePtr(session(), reinterpret_cast<void*>(0x10));
  EXPECT_EQ(HostTestLogLines().size(), 1u);
  EXPECT_TRUE(HostTestMessages().empty());
}

TEST_F(SessionTest, CachedStuffChainGrowsAtTailAndIsFreed) {
  cached_stuff_node* first = session()->CreateCachedStuff();
  cached_stuff_node* second = session()->CreateCachedStuff();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(session()->internal->cached_stuff, first);
  EXPECT_EQ(first->next, second);
  EXPECT_EQ(first->size, 0x100000u);
  EXPECT_EQ(first->used, 0u);
  EXPECT_EQ(first->buffer[0], 0);
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
  // Every handle went back to the host; a second free of any of them would
  // not change this count but the matcher clears what the session freed.
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

TEST_F(SessionTest, ItemAndChunkListsPushAtHead) {
  auto* item = new VelkoRTItem(session());
  auto* first = new VelkoRTChunk(session(), item);
  auto* second = new VelkoRTChunk(session(), item);
  EXPECT_EQ(session()->items, item);
  EXPECT_EQ(session()->chunks, second);
  EXPECT_EQ(second->next, first);

  session()->RemoveFromRTCHUNKList(first);
  EXPECT_EQ(second->next, nullptr);
  session()->RemoveFromRTCHUNKList(first);  // absent: no effect
  session()->AddToRTCHUNKList(first);
  EXPECT_EQ(session()->chunks, first);
  // The session deletes what is left.
}

TEST_F(SessionTest, DeletingSessionDeletesItemsAndTheirChunks) {
  auto* item = new VelkoRTItem(session());
  item->default_chunk = new VelkoRTChunk(session(), item);
  new VelkoRTChunk(session(), item);
  new VelkoRTChunk(session(), nullptr);  // a chunk of no item
  new VelkoRTItem(session());
  session_.reset();  // ASan reports any leak or double delete
}

TEST_F(SessionTest, DeletingItemDeletesOnlyItsChunks) {
  auto* item = new VelkoRTItem(session());
  auto* other = new VelkoRTItem(session());
  item->default_chunk = new VelkoRTChunk(session(), item);
  new VelkoRTChunk(session(), item);
  auto* kept = new VelkoRTChunk(session(), other);
  delete item;
  EXPECT_EQ(session()->chunks, kept);
  EXPECT_EQ(kept->next, nullptr);
  EXPECT_EQ(session()->items, other);
}

// The temporary directory is process-wide; each case sets what it reads.
class TempDirectoryTest : public SessionTest {
protected:
  void SetUp() override {
    SessionTest::SetUp();
    SaveVariable("TEMP", saved_temp_);
    SaveVariable("TMP", saved_tmp_);
    unsetenv("TEMP");
    unsetenv("TMP");
  }
  void TearDown() override {
    RestoreVariable("TEMP", saved_temp_);
    RestoreVariable("TMP", saved_tmp_);
    SessionTest::TearDown();
  }
  static void SaveVariable(const char* name, std::unique_ptr<std::string>& saved) {
    const char* value = std::getenv(name);
    if (value != nullptr)
      saved = std::make_unique<std::string>(value);
  }
  static void RestoreVariable(const char* name, const std::unique_ptr<std::string>& saved) {
    if (saved)
      setenv(name, saved->c_str(), 1);
    else
      unsetenv(name);
  }
  std::unique_ptr<std::string> saved_temp_, saved_tmp_;
};

TEST_F(TempDirectoryTest, TmpVariableGetsTrailingSeparator) {
  setenv("TMP", "/var/x", 1);
  session()->InitializeTempDirectory();
  EXPECT_STREQ(temp_directory, "/var/x/");
  EXPECT_EQ(temp_directory_len, 7);
}

TEST_F(TempDirectoryTest, TempWinsOverTmpAndEmptyIsSkipped) {
  setenv("TEMP", "/scratch/", 1);
  setenv("TMP", "/var/x", 1);
  session()->InitializeTempDirectory();
  EXPECT_STREQ(temp_directory, "/scratch/");

  setenv("TEMP", "", 1);
  session()->InitializeTempDirectory();
  EXPECT_STREQ(temp_directory, "/var/x/");
}

TEST_F(TempDirectoryTest, DefaultIsTmp) {
  session()->InitializeTempDirectory();
  EXPECT_STREQ(temp_directory, "/tmp/");
  EXPECT_EQ(temp_directory_len, 5);
}

TEST_F(TempDirectoryTest, SettingIsNormalisedToOneSeparator) {
  struct Case {
    const char* setting;
    const char* directory;
  };
  for (const Case& c : {Case{"/data/tmp", "/data/tmp/"}, Case{"/data/tmp/", "/data/tmp/"},
                        Case{"/data/tmp///", "/data/tmp/"}, Case{"/", "/"}}) {
    HostTestSetEnvironment("$TarnoTempDirectory", c.setting);
    session()->InitializeTempDirectory();
    EXPECT_STREQ(temp_directory, c.directory) << c.setting;
    EXPECT_EQ(temp_directory_len, std::strlen(c.directory)) << c.setting;
  }
}

TEST_F(TempDirectoryTest, EmptySettingCountsAsUnset) {
  HostTestSetEnvironment("$TarnoTempDirectory", "");
  setenv("TMP", "/var/y", 1);
  session()->InitializeTempDirectory();
  EXPECT_STREQ(temp_directory, "/var/y/");
}

TEST_F(TempDirectoryTest, OverlongSettingIsLoggedAndReplaced) {
  std::string exact(255, 'd');  // 255 characters and the separator fill 256
  HostTestSetEnvironment("$TarnoTempDirectory", ("/" + exact.substr(1)).c_str());
  session()->InitializeTempDirectory();
  EXPECT_EQ(temp_directory_len, 256);

  HostTestClearLog();
  std::string overlong = "/" + std::string(256, 'd');
  HostTestSetEnvironment("$TarnoTempDirectory", overlong.c_str());
  session()->InitializeTempDirectory();
  EXPECT_STREQ(temp_directory, "/tmp/");
  ASSERT_EQ(HostTestLogLines().size(), 1u);
  EXPECT_THAT(HostTestLogLines()[0], HasSubstr("$TarnoTempDirectory"));
}

TEST_F(TempDirectoryTest, DebugSettingLogsDirectory) {
  setenv("TMP", "/var/x", 1);
  HostTestClearLog();
  session()->InitializeTempDirectory();
  EXPECT_TRUE(HostTestLogLines().empty());

  HostTestSetEnvironment("TarnoDebug", "1");
  session()->InitializeTempDirectory();
  EXPECT_THAT(HostTestLogLines(), ElementsAre("TarnoDebug: Temp directory='/var/x/'"));
}

}  // namespace

namespace {

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
    if (list.empty()) {
      list.push_back(block);
      return block.id;
    }
    size_t at = 0;
    while (at + 1 < list.size() && list[at + 1].size >= requested)
      ++at;
    list.insert(list.begin() + at + 1, block);
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

}  // namespace
