// The session's own services beyond the allocations every operation
// makes: freeing the whole pool, pointers it never handed out, the copy of
// a text or an option's value, messages without a handler, the cache
// chain, the link matcher's handles, the chunk list, and the temporary
// directory.
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

  LSXLsiSession* session() { return session_.get(); }

  std::unique_ptr<LSXLsiSession> session_;
  size_t handles_before_ = 0;
};

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

// Objects leave the lists from anywhere: the oldest (at the tail), the
// newest and one in the middle, each without disturbing the others; also
// in lists that lost their index for want of memory and are walked.
TEST_F(SessionTest, ObjectsLeaveTheirListsFromAnyPlace) {
  for (const bool unindexed : {false, true}) {
    SCOPED_TRACE(unindexed ? "walked" : "indexed");
    LSXLsiSession session;
    session.internal->items_unindexed = unindexed;
    session.internal->chunks_unindexed = unindexed;
    auto* item = new VelkoRTItem(&session);
    ASSERT_EQ(item->default_chunk, nullptr); // made when the item connects
    VelkoRTChunk* made[5];
    for (VelkoRTChunk*& chunk : made)
      chunk = new VelkoRTChunk(&session, item);
    auto listed = [&] {
      std::vector<VelkoRTChunk*> chunks;
      for (VelkoRTChunk* chunk = session.chunks; chunk != nullptr; chunk = chunk->next)
        chunks.push_back(chunk);
      return chunks;
    };
    delete made[0];
    delete made[4];
    delete made[2];
    EXPECT_EQ(listed(), (std::vector<VelkoRTChunk*>{made[3], made[1]}));
    if (!unindexed) {
      session.AddToRTCHUNKList(made[1]); // already listed: stays where it is
      EXPECT_EQ(listed(), (std::vector<VelkoRTChunk*>{made[3], made[1]}));
    }

    auto* second = new VelkoRTItem(&session);
    delete item; // its chunks go with it
    EXPECT_EQ(listed(), std::vector<VelkoRTChunk*>{});
    EXPECT_EQ(session.items, second);
    EXPECT_EQ(second->next, nullptr);
  }
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
  EXPECT_STREQ(session()->internal->temp_directory, "/var/x/");
  EXPECT_EQ(session()->internal->temp_directory_len, 7);
}

TEST_F(TempDirectoryTest, TempWinsOverTmpAndEmptyIsSkipped) {
  setenv("TEMP", "/scratch/", 1);
  setenv("TMP", "/var/x", 1);
  session()->InitializeTempDirectory();
  EXPECT_STREQ(session()->internal->temp_directory, "/scratch/");

  setenv("TEMP", "", 1);
  session()->InitializeTempDirectory();
  EXPECT_STREQ(session()->internal->temp_directory, "/var/x/");
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
    EXPECT_STREQ(session()->internal->temp_directory, c.directory) << c.setting;
    EXPECT_EQ(session()->internal->temp_directory_len, std::strlen(c.directory)) << c.setting;
  }
}

TEST_F(TempDirectoryTest, EmptySettingCountsAsUnset) {
  HostTestSetEnvironment("$TarnoTempDirectory", "");
  setenv("TMP", "/var/y", 1);
  session()->InitializeTempDirectory();
  EXPECT_STREQ(session()->internal->temp_directory, "/var/y/");
}

TEST_F(TempDirectoryTest, OverlongSettingIsLoggedAndReplaced) {
  std::string exact(255, 'd');  // 255 characters and the separator fill 256
  HostTestSetEnvironment("$TarnoTempDirectory", ("/" + exact.substr(1)).c_str());
  session()->InitializeTempDirectory();
  EXPECT_EQ(session()->internal->temp_directory_len, 256);

  HostTestClearLog();
  std::string overlong = "/" + std::string(256, 'd');
  HostTestSetEnvironment("$TarnoTempDirectory", overlong.c_str());
  session()->InitializeTempDirectory();
  EXPECT_STREQ(session()->internal->temp_directory, "/tmp/");
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

} // namespace
