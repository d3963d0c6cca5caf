// The driver of one chunk operation: the row sort and its comparators,
// action 37, a null chunk, failed allocations that leave the note as it was,
// and the wiki delimiters. (Refused and unavailable actions are in the
// engine corpus.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/process_state.h"
#include "engine/driver.h"
#include "engine/services.h"
#include "engine/walk.h"
#include "tests/support/test_fixture.h"
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

TEST(ComparatorTest, OrdersTheRows) {
  struct Case {
    const char* name;
    row_comparator compare;
    std::vector<Key> keys;
    std::vector<DWORD> order;
    WORD flags = INTL_ACCENT_SENSITIVE;
  };
  const Case cases[] = {
      // Title rows first in row order, an empty key first of the others,
      // equal texts in row order.
      {"text",
       cmpsort,
       {{"pear", 40}, {"apple", 20}, {"z", 30, 1}, {"apple", 10}, {"y", 5, 1}, {nullptr, 50}},
       {5, 30, 50, 10, 20, 40}},
      {"case ignored without the flag", cmpsort, {{"b", 10}, {"B", 20}, {"a", 30}}, {30, 10, 20}},
      {"text reversed",
       cmpsortr,
       {{"pear", 10}, {"apple", 20}, {"pear", 5}, {"top", 1, 1}},
       {1, 5, 10, 20}},
      {"numeric",
       cmpsortn,
       {{"10", 10}, {"9", 20}, {"abc", 30}, {"Head", 1, 1}, {"2.0", 50}, {"2", 40}, {"b", 35}},
       {1, 30, 35, 40, 50, 20, 10}},
      {"numeric equals by text with the flag", cmpsortn, {{"2.0", 10}, {"2", 20}}, {20, 10}, 0x100},
      {"numeric reversed",
       cmpsortnr,
       {{"10", 10}, {"9", 20}, {"abc", 30}, {"Head", 1, 1}},
       {1, 10, 20, 30}},
  };
  for (const Case& c : cases) {
    std::vector<chunk_sort_key> array(c.keys.size());
    for (size_t i = 0; i < c.keys.size(); ++i) {
      array[i].first_record = array[i].last_record = c.keys[i].position;
      array[i].text = const_cast<char*>(c.keys[i].text);
      array[i].length =
          c.keys[i].text != nullptr ? static_cast<WORD>(std::strlen(c.keys[i].text)) : 0;
      array[i].title = c.keys[i].title;
    }
    SortRowKeys(array.data(), static_cast<WORD>(array.size()), c.compare, c.flags);
    std::vector<DWORD> order;
    for (const chunk_sort_key& key : array)
      order.push_back(key.first_record);
    EXPECT_EQ(order, c.order) << c.name;
  }
}

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
        keys[i].text = CopyKeyText(session_, &chunk->internal->sort_key_texts, texts[i],
                                   static_cast<DWORD>(std::strlen(texts[i])));
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
  for (const std::vector<const char*>& texts :
       {std::vector<const char*>{}, {"only"}, {nullptr, "", nullptr}}) {
    VelkoRTChunk* chunk = Chunk("Everything");
    PlaceKeys(chunk, texts);
    chunk_sort_key* keys = chunk->internal->sort_keys;
    EXPECT_EQ(Run(chunk, ACTION_SORT_BY_ROW, 0, 0, "Numeric"), VELKO_ERR_NOTHING_TO_SORT);
    EXPECT_EQ(chunk->internal->sort_keys, keys);
    EXPECT_EQ(chunk->internal->sort_key_count, texts.size());
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
  // No row opens, so no row is appended again.
  EXPECT_EQ(Run(chunk, ACTION_SORT_BY_ROW, 0, 0, "reverse numeric"), NOERROR);
  EXPECT_EQ(session_->internal->sort_compare_flags, INTL_CASE_SENSITIVE);
  EXPECT_EQ(chunk->internal->sort_keys, nullptr); // freed with the operation
  EXPECT_EQ(chunk->internal->sort_key_count, 0);
}

/* ---- action 37 ---- */

TEST_F(EngineTest, HighestPabidIsAnsweredOr50WithoutDefinitions) {
  AppendItem(
      {PabDef(1), PabRef(1), Text("a"), Paragraph(), PabDef(3), PabDef(2), PabRef(3), Text("b")});
  VelkoRTChunk* chunk = Chunk("Everything");
  EXPECT_EQ(Run(chunk, ACTION_PREPARE_APPEND, 2), NOERROR);
  EXPECT_EQ(session_->internal->append_parameter, 3);
  EXPECT_EQ(chunk->status, VELKO_STATUS_READ_ONLY);

  AppendItem({Text("a")}, "Other");
  item_ = new VelkoRTItem(session_);
  ASSERT_EQ(item_->ConnectBackend(note_, "Other", 0), NOERROR);
  EXPECT_EQ(Run(item_->DefineChunk("Everything"), ACTION_PREPARE_APPEND, 2), NOERROR);
  EXPECT_EQ(session_->internal->append_parameter, 50);
}

/* ---- the cached input between operations ---- */

TEST_F(EngineTest, RemovalMarksOfAnEarlierWalkAreClearedBeforeTheNext) {
  AppendItem({PabDef(1), PabRef(1), Text("a"), Text("b")});
  VelkoRTChunk* chunk = Chunk("Everything");
  item_->CacheRecords = 1;
  ASSERT_EQ(Run(chunk, 1), NOERROR);
  body_context* input = item_->internal->input;
  ASSERT_NE(input, nullptr);
  record_storage* second = input->records->next;
  MarkRecordForRemoval(input, input->records);
  MarkRecordForRemoval(input, second);
  MarkRecordForRemoval(input, second); // counted once
  EXPECT_EQ(input->marked, 2u);

  ASSERT_EQ(Run(chunk, 1), NOERROR);
  ASSERT_EQ(item_->internal->input, input); // the same cached records
  for (record_storage* node = input->records; node != nullptr; node = node->next)
    EXPECT_EQ(node->flags & RECORD_MARKED, 0);
  EXPECT_EQ(input->marked, 0u);
}

/* ---- statuses of the operation ---- */

TEST_F(EngineTest, ANullChunkIsRefused) {
  EXPECT_EQ(ProcessChunk(nullptr, NULLHANDLE, "Body", 1, 0, 0, 0, 0, nullptr, nullptr, 0, nullptr,
                         nullptr),
            VELKO_ERR_BAD_ARGUMENT);
}

TEST_F(EngineTest, EveryFailedAllocationLeavesTheNoteAsItWasOrWritesItWhole) {
  const std::vector<Bytes> input = {PabDef(1), PabRef(1), Text("a"), Text(""), Text("b")};
  const Bytes cleaned = Value(Records({PabDef(1), PabRef(1), Text("a"), Text("b")}));
  const Bytes original = Value(Records(input));
  int failures = 0;
  for (int nth = 1; nth <= 60; ++nth) {
    const size_t handles = HostTestLiveHandles();
    NOTEHANDLE note = NULLHANDLE;
    ASSERT_EQ(NSFNoteCreate(db_, &note), NOERROR);
    ASSERT_EQ(note_testing::AppendRecords(note, "Body", Records(input)), NOERROR);
    auto* session = new LSXLsiSession;
    auto* item = new VelkoRTItem(session);
    ASSERT_EQ(item->ConnectBackend(note, "Body", 0), NOERROR);
    VelkoRTChunk* chunk = item->DefineChunk("Everything");
    ASSERT_NE(chunk, nullptr);

    HostTestFailAllocation(nth);
    const STATUS status = ProcessChunk(chunk, note, "Body", ACTION_CLEANUP_TEXT_RUNS, 0, 0, 0, 0,
                                       nullptr, nullptr, 0, nullptr, nullptr);
    HostTestFailAllocation(0);

    const std::vector<Bytes> values = note_testing::ItemValues(note, "Body");
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
