// The driver of one chunk operation: arguments it refuses, the row sort and
// its comparators, action 37, the chunk's status after reading and writing
// actions, writing refused on a body that did not load completely, failed
// writes that leave the note as it was, actions whose work is not
// available yet, and the wiki delimiters.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/process_state.h"
#include "engine/services.h"
#include "engine/walk.h"
#include "engine_fixture.h"
#include "host/host_testing.h"
#include "host/nls.h"
#include "store/tracked_memory.h"
#include "store/vocabulary.h"

namespace {

using namespace engine_test;

/* ---- comparators ---- */

struct Key {
  const char* text;
  DWORD position;
  DWORD title = 0;
};

std::vector<DWORD> Sorted(const std::vector<Key>& keys, int (*compare)(const void*, const void*),
                          WORD flags = INTL_ACCENT_SENSITIVE) {
  std::vector<chunk_sort_key> array(keys.size());
  for (size_t i = 0; i < keys.size(); ++i) {
    array[i].first_record = keys[i].position;
    array[i].last_record = keys[i].position;
    array[i].text = const_cast<char*>(keys[i].text);
    array[i].length = keys[i].text != nullptr ? static_cast<WORD>(std::strlen(keys[i].text)) : 0;
    array[i].title = keys[i].title;
  }
  sort_compare_flags = flags;
  std::qsort(array.data(), array.size(), sizeof(chunk_sort_key), compare);
  std::vector<DWORD> order;
  for (const chunk_sort_key& key : array)
    order.push_back(key.first_record);
  return order;
}

struct ComparatorCase {
  const char* name;
  int (*compare)(const void*, const void*);
  std::vector<Key> keys;
  std::vector<DWORD> order;
  WORD flags = INTL_ACCENT_SENSITIVE;
};

class ComparatorTest : public ::testing::TestWithParam<ComparatorCase> {};

TEST_P(ComparatorTest, OrdersTheRows) {
  const ComparatorCase& c = GetParam();
  EXPECT_EQ(Sorted(c.keys, c.compare, c.flags), c.order);
}

INSTANTIATE_TEST_SUITE_P(
    Comparators, ComparatorTest,
    ::testing::Values(
        ComparatorCase{
            "TextAscending", cmpsort, {{"pear", 10}, {"apple", 20}, {"fig", 30}}, {20, 30, 10}},
        ComparatorCase{"TitleRowsFirstInRowOrder",
                       cmpsort,
                       {{"b", 10}, {"z", 20, 1}, {"a", 30}, {"y", 5, 1}},
                       {5, 20, 30, 10}},
        ComparatorCase{"EqualTextsInRowOrder",
                       cmpsort,
                       {{"same", 30}, {"same", 10}, {"same", 20}},
                       {10, 20, 30}},
        ComparatorCase{
            "CaseIgnoredWithoutTheFlag", cmpsort, {{"b", 10}, {"B", 20}, {"a", 30}}, {30, 10, 20}},
        ComparatorCase{"TextDescending",
                       cmpsortr,
                       {{"pear", 10}, {"apple", 20}, {"fig", 30}, {"top", 1, 1}},
                       {1, 10, 30, 20}},
        ComparatorCase{"ReversedKeepsEqualsInRowOrder",
                       cmpsortr,
                       {{"x", 30}, {"x", 10}, {"a", 20}},
                       {10, 30, 20}},
        ComparatorCase{"Numeric",
                       cmpsortn,
                       {{"10", 10}, {"9", 20}, {"abc", 30}, {"Head", 1, 1}},
                       {1, 30, 20, 10}},
        ComparatorCase{"NumericEqualsInRowOrder",
                       cmpsortn,
                       {{"2.0", 30}, {"b", 20}, {"2", 10}, {"a", 40}},
                       {20, 40, 10, 30}},
        ComparatorCase{
            "NumericEqualsByTextWithFlag", cmpsortn, {{"2.0", 10}, {"2", 20}}, {20, 10}, 0x100},
        ComparatorCase{"NumericDescending",
                       cmpsortnr,
                       {{"10", 10}, {"9", 20}, {"abc", 30}, {"Head", 1, 1}},
                       {1, 10, 20, 30}},
        ComparatorCase{
            "EmptyKeysSortFirst", cmpsort, {{"b", 10}, {nullptr, 20}, {"a", 30}}, {20, 30, 10}}),
    [](const ::testing::TestParamInfo<ComparatorCase>& info) { return info.param.name; });

/* ---- the row sort of action 2396 ---- */

class SortTest : public EngineTest {
protected:
  /* Places tracked keys on the chunk as action 11 would. */
  void PlaceKeys(VelkoRTChunk* chunk, const std::vector<const char*>& texts) {
    auto* keys = static_cast<chunk_sort_key*>(
        VelkoAllocatePtr(session_, VELKO_HERE, sizeof(chunk_sort_key) * texts.size(), 1));
    for (size_t i = 0; i < texts.size(); ++i) {
      keys[i] = chunk_sort_key{};
      keys[i].first_record = static_cast<DWORD>(10 * (i + 1));
      if (texts[i] != nullptr) {
        keys[i].text = VelkoAllocatePtrAndCopy(session_, VELKO_HERE, texts[i], 0);
        keys[i].length = static_cast<WORD>(std::strlen(texts[i]));
      }
    }
    chunk->internal->sort_keys = keys;
    chunk->internal->sort_key_count = static_cast<WORD>(texts.size());
  }
};

TEST_F(SortTest, NothingToSortLeavesTheKeysAndTheNote) {
  AppendItem({PabDef(1), PabRef(1), Text("a")});
  const std::vector<Bytes> before = Values();
  struct Case {
    std::vector<const char*> texts;
  };
  for (const Case& c : {Case{{}}, Case{{"only"}}, Case{{nullptr, "", nullptr}}}) {
    VelkoRTChunk* chunk = Chunk("Everything");
    PlaceKeys(chunk, c.texts);
    chunk_sort_key* keys = chunk->internal->sort_keys;
    EXPECT_EQ(Run(chunk, ACTION_SORT_BY_ROW, 0, 0, "Numeric"), VELKO_ERR_NOTHING_TO_SORT);
    EXPECT_EQ(chunk->internal->sort_keys, keys);
    EXPECT_EQ(chunk->internal->sort_key_count, c.texts.size());
  }
  EXPECT_EQ(Values(), before);
  EXPECT_EQ(item_->internal->input, nullptr); // nothing was loaded
}

TEST_F(SortTest, ASortTakesTheChunksKeysAndTheCompareFlags) {
  AppendItem({PabDef(1), PabRef(1), Text("a")});
  VelkoRTChunk* chunk = Chunk("Table 1"); // no table: the chunk never opens
  chunk->AccentSensitive = 0;
  chunk->CaseSensitive = 1;
  PlaceKeys(chunk, {"b", "a"});
  EXPECT_EQ(Run(chunk, ACTION_SORT_BY_ROW, 0, 0, "reverse numeric"), NOERROR);
  EXPECT_EQ(sort_compare_flags, INTL_CASE_SENSITIVE);
  EXPECT_EQ(chunk->internal->sort_keys, nullptr); // freed with the operation
  EXPECT_EQ(chunk->internal->sort_key_count, 0);
}

/* ---- action 37 ---- */

class HighestPabidTest : public EngineTest {};

TEST_F(HighestPabidTest, AnswersTheHighestPabidOr50) {
  AppendItem(
      {PabDef(1), PabRef(1), Text("a"), Paragraph(), PabDef(3), PabDef(2), PabRef(3), Text("b")});
  VelkoRTChunk* chunk = Chunk("Everything");
  EXPECT_EQ(Run(chunk, ACTION_PREPARE_APPEND, 2), NOERROR);
  EXPECT_EQ(session_->internal->pabid_base, 3);
  EXPECT_EQ(chunk->status, VELKO_STATUS_READ_ONLY);
}

TEST_F(HighestPabidTest, AnItemWithoutDefinitionsAnswers50) {
  AppendItem({Text("a")});
  VelkoRTChunk* chunk = Chunk("Everything");
  EXPECT_EQ(Run(chunk, ACTION_PREPARE_APPEND, 2), NOERROR);
  EXPECT_EQ(session_->internal->pabid_base, 50);
}

/* ---- statuses of the operation and of the chunk ---- */

class OperationTest : public EngineTest {};

TEST_F(OperationTest, ANullChunkIsRefused) {
  EXPECT_EQ(ProcessChunk(nullptr, NULLHANDLE, "Body", 1, 0, 0, 0, 0, nullptr, nullptr, 0, nullptr,
                         nullptr),
            VELKO_ERR_BAD_ARGUMENT);
}

TEST_F(OperationTest, AlterRichTextTurnsAReadingStatusIntoSuccess) {
  AppendItem({PabDef(1), PabRef(1), Text("a")});
  VelkoRTChunk* chunk = Chunk("Text 1");
  session_->internal->found_first = 0;
  EXPECT_EQ(chunk->AlterRichText(1, PROP_FIRSTRECORD, 0, 0, 0, nullptr, nullptr, nullptr, nullptr),
            NOERROR);
  EXPECT_EQ(chunk->status, NOERROR);
  EXPECT_EQ(session_->internal->found_first, 3u);
  // The extra definition narrows this one call.
  session_->internal->found_first = 0;
  VelkoRTChunk* everything = Chunk("Everything");
  EXPECT_EQ(
      everything->AlterRichText(1, PROP_FIRSTRECORD, 0, 0, 0, nullptr, nullptr, "Text 1", nullptr),
      NOERROR);
  EXPECT_EQ(session_->internal->found_first, 3u);
}

TEST_F(OperationTest, AWritingActionIsRefusedOnABodyThatDidNotLoadCompletely) {
  // The second record claims more bytes than the value holds.
  Bytes damaged = Records({PabDef(1), PabRef(1), Text("a")});
  Bytes broken = Wsig(SIG_CD_TEXT, 400);
  broken.resize(12);
  damaged.insert(damaged.end(), broken.begin(), broken.end());
  ASSERT_EQ(NSFItemAppend(note_, 0, "Body", 4, TYPE_COMPOSITE, damaged.data(),
                          static_cast<DWORD>(damaged.size())),
            NOERROR);
  const std::vector<Bytes> before = Values();
  VelkoRTChunk* chunk = Chunk("Everything");
  const STATUS status = Run(chunk, ACTION_CLEANUP_TEXT_RUNS);
  EXPECT_NE(status, NOERROR);
  EXPECT_EQ(status, item_->internal->incomplete_load);
  EXPECT_EQ(Values(), before);
  EXPECT_EQ(item_->internal->output, nullptr);

  // Reading works on what loaded.
  session_->internal->found_first = 0;
  session_->internal->found_second = 0;
  EXPECT_EQ(Run(chunk, 1), NOERROR);
  EXPECT_EQ(session_->internal->found_first, 1u);
  EXPECT_EQ(session_->internal->found_second, 3u);
}

TEST_F(OperationTest, EveryFailedAllocationLeavesTheNoteAsItWasOrWritesItWhole) {
  const std::vector<Bytes> input = {PabDef(1), PabRef(1), Text("a"), Text(""), Text("b")};
  const Bytes cleaned = Value(Records({PabDef(1), PabRef(1), Text("a"), Text("b")}));
  const Bytes original = Value(Records(input));
  int failures = 0;
  for (int nth = 1; nth <= 60; ++nth) {
    const size_t handles = HostTestLiveHandles();
    NOTEHANDLE note = NULLHANDLE;
    ASSERT_EQ(NSFNoteCreate(db_, &note), NOERROR);
    const Bytes value = Records(input);
    ASSERT_EQ(NSFItemAppend(note, 0, "Body", 4, TYPE_COMPOSITE, value.data(),
                            static_cast<DWORD>(value.size())),
              NOERROR);
    auto* session = new LSXLsiSession;
    auto* item = new VelkoRTItem(session);
    ASSERT_EQ(item->ConnectBackend(note, "Body", 0), NOERROR);
    VelkoRTChunk* chunk = item->DefineChunk("Everything");
    ASSERT_NE(chunk, nullptr);

    HostTestFailAllocation(nth);
    const STATUS status = ProcessChunk(chunk, note, "Body", ACTION_CLEANUP_TEXT_RUNS, 0, 0, 0, 0,
                                       nullptr, nullptr, 0, nullptr, nullptr);
    HostTestFailAllocation(0);

    NOTEHANDLE saved = note_;
    note_ = note;
    const std::vector<Bytes> values = Values();
    note_ = saved;
    ASSERT_EQ(values.size(), 1u) << "allocation " << nth;
    if (status == NOERROR) {
      EXPECT_EQ(values[0], cleaned) << "allocation " << nth;
    } else {
      ++failures;
      EXPECT_EQ(status, VELKO_ERR_MEMORY) << "allocation " << nth;
      EXPECT_EQ(values[0], original) << "allocation " << nth;
      EXPECT_EQ(item->internal->output, nullptr) << "allocation " << nth;
    }
    delete session;
    NSFNoteClose(note);
    EXPECT_EQ(HostTestLiveHandles(), handles) << HostTestLeakReport();
  }
  EXPECT_GT(failures, 0);
}

TEST_F(OperationTest, ActionsNotBuiltYetFailClearly) {
  AppendItem({PabDef(1), PabRef(1), Text("a")});
  const std::vector<Bytes> before = Values();
  struct Case {
    WORD action;
    const char* s1;
    bool writes;
  };
  for (const Case& c :
       {Case{ACTION_GET_SECTION_TITLE, nullptr, false}, Case{ACTION_CHANGE_FONT, "BOLD", true},
        Case{ACTION_CHANGE_PARAGRAPH, "LeftMargin=1", true}, Case{ACTION_APPEND_TEXT, "x", true},
        Case{ACTION_RENDER, nullptr, false}}) {
    VelkoRTChunk* chunk = Chunk("Everything");
    EXPECT_EQ(Run(chunk, c.action, 0, 1, c.s1), kServiceNotAvailable) << c.action;
    EXPECT_EQ(item_->internal->output, nullptr) << c.action;
    EXPECT_EQ(Values(), before) << c.action;
    if (!c.writes) {
      EXPECT_EQ(chunk->status, VELKO_STATUS_READ_ONLY) << c.action;
    }
  }
}

TEST_F(OperationTest, AChunkThatNeverOpensRunsNoActionCase) {
  AppendItem({PabDef(1), PabRef(1), Text("a")});
  VelkoRTChunk* chunk = Chunk("Table 1");
  EXPECT_EQ(Run(chunk, ACTION_GET_SECTION_TITLE), NOERROR);
  EXPECT_EQ(chunk->status, VELKO_STATUS_READ_ONLY);
}

/* ---- wiki delimiters ---- */

TEST(WikiDelimitersTest, FourCharactersGiveBothPairs) {
  struct Case {
    const char* options;
    const char* open;
    const char* close;
  };
  for (const Case& c :
       {Case{"WikiDelimiters=[[]]", "[[", "]]"},
        Case{"Other=1 WikiDelimiters='<<>>' More=2", "<<", ">>"},
        Case{"WikiDelimiters=[[", "((", "))"}, Case{"WikiDelimiters=[[]]]", "((", "))"},
        Case{"", "((", "))"}, Case{nullptr, "((", "))"}}) {
    char open[3] = {'x', 'x', 'x'};
    char close[3] = {'x', 'x', 'x'};
    ReadWikiDelimiters(c.options, open, close);
    EXPECT_STREQ(open, c.open) << (c.options != nullptr ? c.options : "(null)");
    EXPECT_STREQ(close, c.close) << (c.options != nullptr ? c.options : "(null)");
  }
}

} // namespace
