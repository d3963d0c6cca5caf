// AlterRichText on real items: the status word after reading and writing
// runs, the note update under AutoSave, an item missing from its note,
// extra definitions for one call, and the default chunk.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "chunk_item_fixture.h"
#include "engine/chunkdef.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"

namespace {

using chunk_testing::ChunkItemTest;
using chunk_testing::Records;

/* A table of four rows between two text runs. */
Records TableItem() {
  Records records;
  records.Definition().Reference().Text("intro").Table(4, 1);
  return records.Paragraph().Reference().Text("end");
}

/* Two text runs; the clean-up pass (action 49) is a writing run over them. */
Records TextItem() {
  Records records;
  records.Definition().Reference().Text("ab").Text("cd");
  return records;
}

class DispatchTest : public ChunkItemTest {
protected:
  /* Query action 1 for existence, with an extra definition; the first
   * found record is then FoundFirst(). */
  STATUS Query(VelkoRTChunk* chunk, const char* extra) {
    session()->internal->found_first = 0;
    return chunk->AlterRichText(ACTION_QUERY_RECORDS, PROP_EXISTS, 0, 0, 0, nullptr, nullptr, extra,
                                nullptr);
  }
  DWORD FoundFirst() { return session()->internal->found_first; }

  STATUS CleanUp(VelkoRTChunk* chunk) {
    return chunk->AlterRichText(ACTION_CLEANUP_TEXT_RUNS, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                                nullptr);
  }
};

/* ---- reading and writing runs ---- */

TEST_F(DispatchTest, ReadingRunIsSuccessWithoutNoteUpdate) {
  VelkoRTChunk* chunk = ChunkOn(TableItem(), "Table 1");
  item_->AutoSave = 1;
  const DWORD before = Sequence();
  chunk->status = 257;
  EXPECT_EQ(Query(chunk, nullptr), NOERROR);
  EXPECT_EQ(chunk->status, NOERROR); // the engine's 1298 is success
  EXPECT_NE(FoundFirst(), 0u);
  EXPECT_EQ(
      chunk->AlterRichText(ACTION_GET_TEXT, PROP_TEXT, 0, 0, 0, nullptr, nullptr, nullptr, nullptr),
      NOERROR);
  EXPECT_EQ(Sequence(), before);
}

TEST_F(DispatchTest, WritingRunUpdatesTheNoteOnceUnderAutoSaveOnly) {
  VelkoRTChunk* chunk = ChunkOn(TextItem(), "Everything");
  const DWORD before = Sequence();
  EXPECT_EQ(CleanUp(chunk), NOERROR);
  EXPECT_EQ(Sequence(), before);
  item_->AutoSave = 1;
  EXPECT_EQ(CleanUp(chunk), NOERROR);
  EXPECT_EQ(chunk->status, NOERROR);
  EXPECT_EQ(Sequence(), before + 1);
}

TEST_F(DispatchTest, EngineFailureIsKeptAndStopsTheUpdate) {
  VelkoRTChunk* chunk = ChunkOn(TableItem(), "Table 1; Row 2");
  item_->AutoSave = 1;
  const DWORD before = Sequence();
  // The replace action's case is not available yet: the engine fails.
  const STATUS status =
      chunk->AlterRichText(ACTION_REPLACE_TEXT_QUICK, 1, 1, 1, 0, "x", "r", nullptr, nullptr);
  EXPECT_NE(status, NOERROR);
  EXPECT_NE(status, VELKO_STATUS_READ_ONLY);
  EXPECT_EQ(chunk->status, status);
  EXPECT_EQ(Sequence(), before);
}

/* ---- an item missing from its note ---- */

TEST_F(DispatchTest, ItemDeletedFromNoteIsNotFoundAndNotSaved) {
  VelkoRTChunk* chunk = ChunkOn(TextItem(), "Everything");
  item_->AutoSave = 1;
  DeleteItemFromNote();
  const DWORD before = Sequence();
  EXPECT_EQ(CleanUp(chunk), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(chunk->status, VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(Sequence(), before); // the deletion was not written either
}

TEST_F(DispatchTest, RecordsHeldInMemoryAreWorkedOnWithoutTheItem) {
  VelkoRTChunk* chunk = ChunkOn(TableItem(), "Table 1");
  item_->CacheRecords = 1;
  ASSERT_EQ(Query(chunk, nullptr), NOERROR); // loads and keeps the records
  DeleteItemFromNote();
  EXPECT_EQ(Query(chunk, nullptr), VELKO_ERR_BAD_ARGUMENT);
  item_->internal->state = kItemStateInMemory;
  EXPECT_EQ(Query(chunk, nullptr), NOERROR);
  EXPECT_NE(FoundFirst(), 0u);
}

TEST_F(DispatchTest, ChunkWithoutItemIsRefused) {
  VelkoRTChunk chunk(session(), nullptr);
  EXPECT_EQ(Query(&chunk, nullptr), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(AlterRichText(nullptr, ACTION_QUERY_RECORDS, PROP_EXISTS, 0, 0, 0, nullptr, nullptr,
                          nullptr, nullptr),
            VELKO_ERR_BAD_ARGUMENT);
}

/* ---- extra definitions ---- */

TEST_F(DispatchTest, ExtraDefinitionAppliesToOneCallOnly) {
  VelkoRTChunk* chunk = ChunkOn(TableItem(), "Table 1");
  chunkdef_info* const clause = chunk->internal->definitions;
  ASSERT_EQ(chunk->internal->simple_definition, 1u);

  EXPECT_EQ(Query(chunk, "Row 5"), NOERROR);
  EXPECT_EQ(FoundFirst(), 0u);
  EXPECT_EQ(Query(chunk, "Row 4"), NOERROR);
  EXPECT_NE(FoundFirst(), 0u);
  EXPECT_EQ(Query(chunk, "Row 1-2"), NOERROR); // not simple, for this call only
  EXPECT_NE(FoundFirst(), 0u);
  // The free function is the method.
  session()->internal->found_first = 0;
  EXPECT_EQ(AlterRichText(chunk, ACTION_QUERY_RECORDS, PROP_EXISTS, 0, 0, 0, nullptr, nullptr,
                          "Row 3", nullptr),
            NOERROR);
  EXPECT_NE(FoundFirst(), 0u);

  EXPECT_STREQ(chunk->definition, "Table 1");
  EXPECT_EQ(chunk->internal->definitions, clause);
  EXPECT_EQ(clause->next, nullptr);
  EXPECT_EQ(chunk->internal->simple_definition, 1u);
  EXPECT_EQ(chunk->target_type, TARGETTYPE_TABLE);
}

TEST_F(DispatchTest, EmptyNullOrUnparsableExtraDefinitionIsIgnored) {
  VelkoRTChunk* chunk = ChunkOn(TableItem(), "Table 2");
  for (const char* extra : {static_cast<const char*>(nullptr), "", "Column 1; Nonsense"}) {
    EXPECT_EQ(Query(chunk, extra), NOERROR);
    EXPECT_EQ(FoundFirst(), 0u) << (extra ? extra : "(null)"); // there is no second table
  }
  EXPECT_STREQ(chunk->definition, "Table 2");
}

TEST_F(DispatchTest, StringInFirstScratchTextSurvivesTheExtraDefinition) {
  Records records;
  records.Definition().Reference().Text("intro").Table(2, 2);
  VelkoRTChunk* chunk = ChunkOn(records, "Table 1");
  // The separator of the gathered texts is built where the extra
  // definition is parsed.
  std::strcpy(session()->scratch_first, " | ");
  session()->result_length = 0;
  EXPECT_EQ(chunk->AlterRichText(ACTION_GET_TEXT, PROP_TEXT, 1, 0, 0, session()->scratch_first,
                                 nullptr, "Row 2", nullptr),
            NOERROR);
  EXPECT_EQ(std::string(session()->result_text, session()->result_length), "r1c0 | r1c1");
}

/* ---- the default chunk ---- */

TEST_F(DispatchTest, DestroyingTheDefaultChunkLeavesNone) {
  note_id_ = StoreNote(TableItem());
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(NSFNoteOpen(db_, note_id_, 0, &note), NOERROR);
  auto* item = new VelkoRTItem(session());
  ASSERT_EQ(item->ConnectBackend(note, kItemName, 0), NOERROR);
  ASSERT_NE(item->default_chunk, nullptr);
  EXPECT_STREQ(item->default_chunk->definition, "Everything");
  EXPECT_EQ(item->default_chunk->Exists(), 1);
  delete item->default_chunk;
  EXPECT_EQ(item->default_chunk, nullptr);
  delete item; // finds no dangling default chunk
  NSFNoteClose(note);
}

} // namespace
