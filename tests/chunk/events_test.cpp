// Event return strings and the two rendering callbacks of a chunk.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "chunk/rtchunk_internal.h"
#include "host/host_testing.h"

namespace {

class ChunkEventsTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    received_.clear();
  }

  std::unique_ptr<LSXLsiSession> session_ = std::make_unique<LSXLsiSession>();
  VelkoRTChunk chunk_{session_.get(), nullptr};

public:
  /* What the callbacks saw, for the test in hand. */
  struct Received {
    VelkoRTChunk* chunk;
    WORD kind;
    std::string replica;
    WORD replicaLength;
    TIMEDATE replicaID;
    UNIVERSALNOTEID view;
    UNIVERSALNOTEID note;
    std::string texts[3];
    WORD lengths[3];
  };
  static std::vector<Received> received_;
  static std::vector<std::string> outputs_;
};

std::vector<ChunkEventsTest::Received> ChunkEventsTest::received_;
std::vector<std::string> ChunkEventsTest::outputs_;

WORD RecordOutput(VelkoRTChunk*, const char* text, WORD length) {
  ChunkEventsTest::outputs_.emplace_back(text, length);
  return 7;
}

std::string OrEmpty(const char* text) { return text != nullptr ? text : "(null)"; }

WORD RecordLink(VelkoRTChunk* chunk, WORD kind, const char* replicaText, WORD replicaLength,
                TIMEDATE* replicaID, UNIVERSALNOTEID* viewID, UNIVERSALNOTEID* noteID,
                const char* text1, WORD length1, const char* text2, WORD length2, const char* text3,
                WORD length3) {
  ChunkEventsTest::received_.push_back({chunk,
                                        kind,
                                        OrEmpty(replicaText),
                                        replicaLength,
                                        *replicaID,
                                        *viewID,
                                        *noteID,
                                        {OrEmpty(text1), OrEmpty(text2), OrEmpty(text3)},
                                        {length1, length2, length3}});
  return 9;
}

/* ---- event return strings ---- */

TEST_F(ChunkEventsTest, StoresGivenLengthOfText) {
  chunk_.SetEventRetString(3, "abcdef", 3);
  ASSERT_NE(chunk_.event_strings[2], nullptr);
  EXPECT_STREQ(chunk_.event_strings[2], "abc");
}

TEST_F(ChunkEventsTest, TextShorterThanLengthEndsAtItsNul) {
  chunk_.SetEventRetString(1, "ab", 40);
  EXPECT_STREQ(chunk_.event_strings[0], "ab");
}

TEST_F(ChunkEventsTest, ReplacingReleasesOldText) {
  chunk_.SetEventRetString(6, "first", 5);
  chunk_.SetEventRetString(6, "second", 6);
  EXPECT_STREQ(chunk_.event_strings[5], "second"); // ASan reports the first if kept
}

TEST_F(ChunkEventsTest, NullOrEmptyTextLeavesSlotEmpty) {
  chunk_.SetEventRetString(2, "old", 3);
  chunk_.SetEventRetString(2, nullptr, 3);
  EXPECT_EQ(chunk_.event_strings[1], nullptr);
  chunk_.SetEventRetString(2, "old", 3);
  chunk_.SetEventRetString(2, "text", 0);
  EXPECT_EQ(chunk_.event_strings[1], nullptr);
}

TEST_F(ChunkEventsTest, SlotOutsideOneToSixCountsLinkModeDown) {
  chunk_.link_mode = 3;
  chunk_.SetEventRetString(0, "text", 4);
  chunk_.SetEventRetString(7, "text", 4);
  EXPECT_EQ(chunk_.link_mode, 1);
  for (char* slot : chunk_.event_strings)
    EXPECT_EQ(slot, nullptr);
  chunk_.link_mode = 0;
  chunk_.SetEventRetString(9, "text", 4);
  EXPECT_EQ(chunk_.link_mode, 0); // does not wrap
}

TEST_F(ChunkEventsTest, CleanupOutsideOneToSixChangesNothing) {
  for (WORD slot = 1; slot <= 6; ++slot)
    chunk_.SetEventRetString(slot, "x", 1);
  chunk_.CleanupEventRetString(0);
  chunk_.CleanupEventRetString(7);
  for (char* slot : chunk_.event_strings)
    EXPECT_STREQ(slot, "x");
  chunk_.CleanupEventRetString(4);
  EXPECT_EQ(chunk_.event_strings[3], nullptr);
  EXPECT_STREQ(chunk_.event_strings[2], "x");
}

/* ---- callbacks ---- */

TEST_F(ChunkEventsTest, WithoutCallbacksRaisingDoesNothing) {
  outputs_.clear();
  chunk_.RaiseActOnText("text", 4);
  chunk_.RaiseQueryLinkData(nullptr, 0, 1, "x", nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_TRUE(outputs_.empty());
  EXPECT_TRUE(received_.empty());
}

TEST_F(ChunkEventsTest, SettersReturnPreviousCallback) {
  EXPECT_EQ(chunk_.SetActOnTextCallback(RecordOutput), nullptr);
  EXPECT_EQ(chunk_.SetActOnTextCallback(nullptr), &RecordOutput);
  EXPECT_EQ(chunk_.SetQueryLinkDataCallback(RecordLink), nullptr);
  EXPECT_EQ(chunk_.internal->query_link_data, &RecordLink);
  EXPECT_EQ(chunk_.SetQueryLinkDataCallback(nullptr), &RecordLink);
}

TEST_F(ChunkEventsTest, ActOnTextGetsExactBytes) {
  outputs_.clear();
  chunk_.SetActOnTextCallback(RecordOutput);
  chunk_.RaiseActOnText("<p>hello</p>", 8);
  chunk_.RaiseActOnText("a\0b", 3);
  ASSERT_EQ(outputs_.size(), 2u);
  EXPECT_EQ(outputs_[0], "<p>hello");
  EXPECT_EQ(outputs_[1], std::string("a\0b", 3));
}

TEST_F(ChunkEventsTest, QueryLinkDataParsesViewAndNoteIDs) {
  chunk_.SetQueryLinkDataCallback(RecordLink);
  chunk_.RaiseQueryLinkData("ignored", 5, 4, nullptr, "0123456789ABCDEF0123456789ABCDEF",
                            "00000001000000020000000300000004", "one", nullptr, "three");
  ASSERT_EQ(received_.size(), 1u);
  const Received& r = received_[0];
  EXPECT_EQ(r.chunk, &chunk_);
  EXPECT_EQ(r.kind, 4);
  EXPECT_EQ(r.view.File[1], 0x01234567u);
  EXPECT_EQ(r.view.File[0], 0x89ABCDEFu);
  EXPECT_EQ(r.view.Note.Innards[1], 0x01234567u);
  EXPECT_EQ(r.view.Note.Innards[0], 0x89ABCDEFu);
  EXPECT_EQ(r.note.File[1], 1u);
  EXPECT_EQ(r.note.File[0], 2u);
  EXPECT_EQ(r.note.Note.Innards[1], 3u);
  EXPECT_EQ(r.note.Note.Innards[0], 4u);
  // A null replica text: a zero TIMEDATE and length 0.
  EXPECT_EQ(r.replicaLength, 0);
  EXPECT_EQ(r.replicaID.Innards[0], 0u);
  EXPECT_EQ(r.replicaID.Innards[1], 0u);
  EXPECT_EQ(r.texts[0], "one");
  EXPECT_EQ(r.lengths[0], 3);
  EXPECT_EQ(r.texts[1], "(null)");
  EXPECT_EQ(r.lengths[1], 0);
  EXPECT_EQ(r.lengths[2], 5);
}

TEST_F(ChunkEventsTest, QueryLinkDataLeavesOtherIDTextsZero) {
  chunk_.SetQueryLinkDataCallback(RecordLink);
  chunk_.RaiseQueryLinkData(nullptr, 0, 1, "abc", "0123456789ABCDEF0123456789ABCDE", nullptr,
                            nullptr, nullptr, nullptr);
  ASSERT_EQ(received_.size(), 1u);
  const Received& r = received_[0];
  EXPECT_EQ(r.replica, "abc");
  EXPECT_EQ(r.replicaLength, 3);
  EXPECT_EQ(r.replicaID.Innards[0], 0u);
  EXPECT_EQ(r.view.File[0], 0u);
  EXPECT_EQ(r.view.File[1], 0u);
  EXPECT_EQ(r.note.Note.Innards[0], 0u);
}

struct ReplicaCase {
  const char* text;
  DWORD first;
  DWORD second;
};

TEST_F(ChunkEventsTest, QueryLinkDataParsesReplicaTexts) {
  const ReplicaCase cases[] = {
      // 16 characters with ':': the first word from the ninth character on,
      // the second from the first eight; reading stops at a non-digit.
      {"85255E01001C:D52", 0x001Cu, 0x85255E01u},
      {"8525:E0100ABCDEF", 0x00ABCDEFu, 0x8525u},
      // Longer than 17, starting with '_': characters 11-18 and 3-10.
      {"__85255E01001C0D52:", 0x001C0D52u, 0x85255E01u},
      // Anything else stays zero.
      {"85255E01001C0D52", 0, 0},
      {"85255E01:001C0D52", 0, 0},
      {"x85255E01001C0D52:", 0, 0},
  };
  chunk_.SetQueryLinkDataCallback(RecordLink);
  for (const ReplicaCase& c : cases) {
    received_.clear();
    chunk_.RaiseQueryLinkData(nullptr, 0, 0, c.text, nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_EQ(received_.size(), 1u) << c.text;
    EXPECT_EQ(received_[0].replicaID.Innards[0], c.first) << c.text;
    EXPECT_EQ(received_[0].replicaID.Innards[1], c.second) << c.text;
    EXPECT_EQ(received_[0].replicaLength, std::strlen(c.text)) << c.text;
  }
}

TEST_F(ChunkEventsTest, ReplaceHTMLScriptingDoesNothing) {
  EXPECT_EQ(chunk_.RaiseReplaceHTMLScripting("a", "b", nullptr, "d", "e"), 0);
}

} // namespace
