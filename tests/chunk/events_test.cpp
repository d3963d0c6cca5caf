// What a chunk holds for itself, without the engine: its place in the
// session, what its destructor frees, the event return strings and the two
// rendering callbacks.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "chunk/rtchunk_internal.h"
#include "engine/chunkdef.h"
#include "host/host_testing.h"
#include "store/tracked_memory_testing.h"

namespace {

char* Copy(const char* text) {
  char* copy = new char[std::strlen(text) + 1];
  std::strcpy(copy, text);
  return copy;
}

/* What the link callback saw. */
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
std::vector<Received> received;
std::vector<std::string> outputs;

WORD RecordOutput(VelkoRTChunk*, const char* text, WORD length) {
  outputs.emplace_back(text, length);
  return 7;
}

std::string OrNull(const char* text) { return text != nullptr ? text : "(null)"; }

WORD RecordLink(VelkoRTChunk* chunk, WORD kind, const char* replicaText, WORD replicaLength,
                TIMEDATE* replicaID, UNIVERSALNOTEID* viewID, UNIVERSALNOTEID* noteID,
                const char* text1, WORD length1, const char* text2, WORD length2, const char* text3,
                WORD length3) {
  received.push_back({chunk,
                      kind,
                      OrNull(replicaText),
                      replicaLength,
                      *replicaID,
                      *viewID,
                      *noteID,
                      {OrNull(text1), OrNull(text2), OrNull(text3)},
                      {length1, length2, length3}});
  return 9;
}

class ChunkEventsTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    received.clear();
    outputs.clear();
  }

  std::unique_ptr<LSXLsiSession> session_ = std::make_unique<LSXLsiSession>();
  VelkoRTChunk chunk_{session_.get(), nullptr};
};

/* ---- construction and destruction ---- */

TEST_F(ChunkEventsTest, AChunkLivesInItsSessionsListAndFreesWhatItOwns) {
  EXPECT_EQ(session_->chunks, &chunk_);
  auto* chunk = new VelkoRTChunk(session_.get(), nullptr);
  EXPECT_EQ(session_->chunks, chunk);
  chunk->definition = Copy("Table 1; Row 2");
  chunk->unzoomed_definition = Copy("Table 1");
  chunk->event_strings[0] = Copy("onClick");
  chunk->event_strings[5] = Copy("onBlur");
  auto* table = new chunkdef_info();
  table->match_text = Copy("Sales");
  table->next = new chunkdef_info();
  chunk->internal->definitions = table;
  chunk->internal->inline_parts = new inline_part_node{Copy("GIF89a"), Copy("image1"), nullptr};
  delete chunk; // ASan reports anything left behind
  EXPECT_EQ(session_->chunks, &chunk_);

  delete new VelkoRTChunk(nullptr, nullptr); // without a session: in no list
  EXPECT_EQ(session_->chunks, &chunk_);
}

/* ---- event return strings ---- */

TEST_F(ChunkEventsTest, EventStringsKeepTheGivenLengthInSlotsOneToSix) {
  chunk_.SetEventRetString(3, "abcdef", 3);
  EXPECT_STREQ(chunk_.event_strings[2], "abc");
  chunk_.SetEventRetString(1, "ab", 40); // a shorter text ends at its NUL
  EXPECT_STREQ(chunk_.event_strings[0], "ab");
  chunk_.SetEventRetString(6, "first", 5);
  chunk_.SetEventRetString(6, "second", 6); // ASan reports the first if kept
  EXPECT_STREQ(chunk_.event_strings[5], "second");
  chunk_.SetEventRetString(1, nullptr, 3);
  EXPECT_EQ(chunk_.event_strings[0], nullptr);
  chunk_.SetEventRetString(3, "text", 0);
  EXPECT_EQ(chunk_.event_strings[2], nullptr);

  // Cleaning up outside 1-6 changes nothing.
  chunk_.CleanupEventRetString(0);
  chunk_.CleanupEventRetString(7);
  EXPECT_STREQ(chunk_.event_strings[5], "second");
  chunk_.CleanupEventRetString(6);
  EXPECT_EQ(chunk_.event_strings[5], nullptr);
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

/* ---- callbacks ---- */

TEST_F(ChunkEventsTest, ActOnTextGetsExactBytesAndSettersReturnThePreviousCallback) {
  chunk_.RaiseActOnText("text", 4); // without callbacks nothing happens
  chunk_.RaiseQueryLinkData(nullptr, 0, 1, "x", nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_TRUE(outputs.empty());
  EXPECT_TRUE(received.empty());

  EXPECT_EQ(chunk_.SetActOnTextCallback(RecordOutput), nullptr);
  chunk_.RaiseActOnText("<p>hello</p>", 8);
  chunk_.RaiseActOnText("a\0b", 3);
  EXPECT_EQ(outputs, (std::vector<std::string>{"<p>hello", std::string("a\0b", 3)}));
  EXPECT_EQ(chunk_.SetActOnTextCallback(nullptr), &RecordOutput);
  EXPECT_EQ(chunk_.SetQueryLinkDataCallback(RecordLink), nullptr);
  EXPECT_EQ(chunk_.SetQueryLinkDataCallback(RecordLink), &RecordLink);
  EXPECT_EQ(chunk_.RaiseReplaceHTMLScripting("a", "b", nullptr, "d", "e"), 0); // not built yet
}

TEST_F(ChunkEventsTest, QueryLinkDataParsesViewAndNoteIDs) {
  chunk_.SetQueryLinkDataCallback(RecordLink);
  chunk_.RaiseQueryLinkData("ignored", 5, 4, nullptr, "0123456789ABCDEF0123456789ABCDEF",
                            "00000001000000020000000300000004", "one", nullptr, "three");
  // A view ID of 31 digits is no ID: zero.
  chunk_.RaiseQueryLinkData(nullptr, 0, 1, "abc", "0123456789ABCDEF0123456789ABCDE", nullptr,
                            nullptr, nullptr, nullptr);
  ASSERT_EQ(received.size(), 2u);
  const Received& r = received[0];
  EXPECT_EQ(r.chunk, &chunk_);
  EXPECT_EQ(r.kind, 4);
  const DWORD view[4] = {r.view.File[1], r.view.File[0], r.view.Note.Innards[1],
                         r.view.Note.Innards[0]};
  const DWORD note[4] = {r.note.File[1], r.note.File[0], r.note.Note.Innards[1],
                         r.note.Note.Innards[0]};
  EXPECT_EQ(std::vector<DWORD>(view, view + 4),
            (std::vector<DWORD>{0x01234567u, 0x89ABCDEFu, 0x01234567u, 0x89ABCDEFu}));
  EXPECT_EQ(std::vector<DWORD>(note, note + 4), (std::vector<DWORD>{1, 2, 3, 4}));
  // A null replica text: a zero TIMEDATE and length 0.
  EXPECT_EQ(r.replicaLength, 0);
  EXPECT_EQ(r.replicaID.Innards[0] | r.replicaID.Innards[1], 0u);
  EXPECT_EQ(r.texts[0], "one");
  EXPECT_EQ(r.lengths[0], 3);
  EXPECT_EQ(r.texts[1], "(null)");
  EXPECT_EQ(r.lengths[1], 0);
  EXPECT_EQ(r.lengths[2], 5);

  const Received& s = received[1];
  EXPECT_EQ(s.replica, "abc");
  EXPECT_EQ(s.replicaLength, 3);
  EXPECT_EQ(s.view.File[0] | s.view.File[1] | s.note.Note.Innards[0], 0u);
}

TEST_F(ChunkEventsTest, QueryLinkDataParsesReplicaTexts) {
  struct Case {
    const char* text;
    DWORD first;
    DWORD second;
  };
  const Case cases[] = {
      // 16 characters with ':': the first word from the ninth character on,
      // the second from the first eight; reading stops at a non-digit.
      {"85255E01001C:D52", 0x001Cu, 0x85255E01u},
      {"8525:E0100ABCDEF", 0x00ABCDEFu, 0x8525u},
      // Longer than 17, starting with '_': characters 11-18 and 3-10.
      {"__85255E01001C0D52:", 0x001C0D52u, 0x85255E01u},
      // "__" and 16 hexadecimal digits, with or without more behind them
      // (a rendered link's database part): the same two words.
      {"__000000AB00000001.NSF", 0x00000001u, 0x000000ABu},
      {"__85255E01001C0D52", 0x001C0D52u, 0x85255E01u},
      // Anything else stays zero.
      {"__000000AB0000001", 0, 0},
      {"__000000AB0000000G.NSF", 0, 0},
      {"_x000000AB00000001", 0, 0},
      {"85255E01001C0D52", 0, 0},
      {"85255E01:001C0D52", 0, 0},
      {"x85255E01001C0D52:", 0, 0},
  };
  chunk_.SetQueryLinkDataCallback(RecordLink);
  for (const Case& c : cases) {
    received.clear();
    chunk_.RaiseQueryLinkData(nullptr, 0, 0, c.text, nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_EQ(received.size(), 1u) << c.text;
    EXPECT_EQ(received[0].replicaID.Innards[0], c.first) << c.text;
    EXPECT_EQ(received[0].replicaID.Innards[1], c.second) << c.text;
    EXPECT_EQ(received[0].replicaLength, std::strlen(c.text)) << c.text;
  }
}

/* Answers kind 2 with texts in slots 1, 3 and 5 of the chunk it is handed. */
WORD AnswerWithTexts(VelkoRTChunk* chunk, WORD, const char*, WORD, TIMEDATE*, UNIVERSALNOTEID*,
                     UNIVERSALNOTEID*, const char*, WORD, const char*, WORD, const char*, WORD) {
  EXPECT_EQ(chunk->event_strings[0], nullptr); // the chunk's own wait aside
  chunk->SetEventRetString(1, "http://answer", 13);
  chunk->SetEventRetString(3, "note", 4);
  chunk->SetEventRetString(5, "beyond the answer", 17);
  return 2;
}

WORD AnswerKind(VelkoRTChunk* chunk, WORD kind, const char*, WORD, TIMEDATE*, UNIVERSALNOTEID*,
                UNIVERSALNOTEID*, const char*, WORD, const char*, WORD, const char*, WORD) {
  chunk->SetEventRetString(2, "view", 4);
  return kind; // the test passes the answer as the kind
}

TEST_F(ChunkEventsTest, QueryLinkDataHandsBackTheAnswerAndKeepsTheChunksStrings) {
  chunk_.SetEventRetString(1, "mine", 4);
  chunk_.SetEventRetString(6, "six", 3);
  chunk_.SetQueryLinkDataCallback(AnswerWithTexts);
  VelkoLinkAnswer answer;
  chunk_.RaiseQueryLinkData(nullptr, 0, 1, "__000000AB00000001.NSF", nullptr, nullptr, nullptr,
                            nullptr, nullptr, &answer);
  EXPECT_EQ(answer.kind, 2);
  EXPECT_EQ(answer.status, NOERROR);
  EXPECT_STREQ(answer.texts[0], "http://answer");
  EXPECT_EQ(answer.texts[1], nullptr);
  EXPECT_STREQ(answer.texts[2], "note");
  // The chunk's strings are back; the callback's slot 5 is gone (ASan
  // reports it if kept).
  EXPECT_STREQ(chunk_.event_strings[0], "mine");
  EXPECT_EQ(chunk_.event_strings[2], nullptr);
  EXPECT_EQ(chunk_.event_strings[4], nullptr);
  EXPECT_STREQ(chunk_.event_strings[5], "six");

  // Kinds 0, 2 and 4 answer; any other result answers nothing.
  chunk_.SetQueryLinkDataCallback(AnswerKind);
  const WORD results[] = {0, 1, 2, 3, 4, 5, 0xFFFF};
  const WORD kinds[] = {0, kLinkAnswerNone, 2, kLinkAnswerNone, 4, kLinkAnswerNone,
                        kLinkAnswerNone};
  for (size_t i = 0; i < std::size(results); ++i) {
    VelkoLinkAnswer kind;
    chunk_.RaiseQueryLinkData(nullptr, 0, results[i], nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr, &kind);
    EXPECT_EQ(kind.kind, kinds[i]) << results[i];
    EXPECT_STREQ(kind.texts[1], "view");
  }
  // Without an answer to fill the callback's texts are dropped.
  chunk_.RaiseQueryLinkData(nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(chunk_.event_strings[1], nullptr);
}

TEST_F(ChunkEventsTest, AnAnswerTextThatCannotBeKeptIsAMemoryStatus) {
  chunk_.status = 7;
  chunk_.SetQueryLinkDataCallback(AnswerKind);
  VelkoLinkAnswer answer;
  VelkoTestFailObjectAllocation(1);
  chunk_.RaiseQueryLinkData(nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            &answer);
  VelkoTestFailObjectAllocation(0);
  EXPECT_EQ(answer.status, VELKO_ERR_MEMORY);
  EXPECT_EQ(answer.texts[1], nullptr);
  EXPECT_EQ(chunk_.status, 7); // the chunk's own status is kept
}

} // namespace
