// Navigation on real items: whether targets exist, stepping to the next,
// previous and last target, counting targets, sub-chunks and zooming, on
// items of tables, rows, paragraphs and text runs written record by record.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "chunk_item_fixture.h"
#include "engine/chunkdef.h"
#include "store/session.h"

namespace {

using chunk_testing::ChunkItemTest;
using chunk_testing::Records;

/* Text, then three tables of one cell, then text. */
Records ThreeTables() {
  Records records;
  records.Definition().Reference().Text("before").Table(1, 1).Table(1, 1).Table(1, 1);
  return records.Paragraph().Reference().Text("after");
}

/* One table of four rows and two columns. */
Records FourRowTable() {
  Records records;
  records.Definition().Reference().Text("intro").Table(4, 2);
  return records.Paragraph().Reference().Text("end");
}

/* Three paragraphs of text and no table. */
Records ThreeParagraphs() {
  Records records;
  records.Definition().Reference().Text("one").Paragraph().Reference().Text("two");
  return records.Paragraph().Reference().Text("three");
}

class NavigationTest : public ChunkItemTest {
protected:
  /* A further chunk of the item. */
  std::unique_ptr<VelkoRTChunk> Define(const char* definition) {
    std::unique_ptr<VelkoRTChunk> chunk(item_->DefineChunk(definition));
    EXPECT_NE(chunk, nullptr) << definition;
    return chunk;
  }
};

TEST_F(NavigationTest, ExistsAnswersForEachTargetWithStatusZero) {
  struct Case {
    const char* definition;
    int exists;
  } cases[] = {
      {"Table 1", 1},        {"Table 3", 1},     {"Table 4", 0}, {"Table 2; Row 1", 1},
      {"Table 2; Row 2", 0}, {"Paragraph 1", 1}, {"Table *", 1}, {"Hotspot 1", 0},
  };
  VelkoRTChunk* first = ChunkOn(ThreeTables(), "Table 1");
  for (const Case& c : cases) {
    auto chunk = Define(c.definition);
    chunk->status = 257;
    EXPECT_EQ(chunk->Exists(), c.exists) << c.definition;
    EXPECT_EQ(chunk->status, 0) << c.definition;
  }
  // An item deleted from its note has no target.
  DeleteItemFromNote();
  EXPECT_EQ(first->Exists(), 0);
  EXPECT_EQ(first->status, 0);
}

TEST_F(NavigationTest, NextAndPreviousTargetStepUntilNoneIsLeft) {
  VelkoRTChunk* rows = ChunkOn(FourRowTable(), "Table 1; Row 2");
  EXPECT_EQ(rows->GetNextTarget(0), 1);
  EXPECT_STREQ(rows->definition, "Table 1; Row 3");
  EXPECT_EQ(rows->GetNextTarget(0), 1);
  EXPECT_STREQ(rows->definition, "Table 1; Row 4");
  EXPECT_EQ(rows->GetNextTarget(0), 0);
  EXPECT_STREQ(rows->definition, "Table 1; Row 5");
  EXPECT_EQ(rows->GetPreviousTarget(0), 1);
  EXPECT_STREQ(rows->definition, "Table 1; Row 4");

  auto table = Define("Table 2");
  EXPECT_EQ(table->GetPreviousTarget(0), 1);
  EXPECT_STREQ(table->definition, "Table 1");
  table->GetPreviousTarget(0); // whether index 0 is found is the engine's reading
  EXPECT_STREQ(table->definition, "Table 0");
}

TEST_F(NavigationTest, LastTargetFindsTheLastFromBelowOrBeyond) {
  VelkoRTChunk* chunk = ChunkOn(ThreeTables(), "Table 1");
  EXPECT_EQ(chunk->GetLastTarget(0), 1);
  EXPECT_STREQ(chunk->definition, "Table 3");
  auto beyond = Define("Table 7");
  EXPECT_EQ(beyond->GetLastTarget(0), 1);
  EXPECT_STREQ(beyond->definition, "Table 3");
}

TEST_F(NavigationTest, LastTargetWithoutTablesEndsAtZero) {
  VelkoRTChunk* chunk = ChunkOn(ThreeParagraphs(), "Table 1");
  EXPECT_EQ(chunk->GetCount("Row"), 0);
  EXPECT_EQ(chunk->GetLastTarget(0), 0);
  EXPECT_STREQ(chunk->definition, "Table 0");
}

TEST_F(NavigationTest, LastTargetOfRowsAndParagraphs) {
  VelkoRTChunk* rows = ChunkOn(FourRowTable(), "Table 1; Row 1");
  EXPECT_EQ(rows->GetLastTarget(0), 1);
  EXPECT_STREQ(rows->definition, "Table 1; Row 4");

  auto paragraphs = Define("Paragraph 1");
  EXPECT_EQ(paragraphs->GetLastTarget(0), 1);
  // Whatever the last paragraph is, the next one does not exist.
  auto probe = Define(paragraphs->definition);
  EXPECT_EQ(probe->GetNextTarget(0), 0);
}

TEST_F(NavigationTest, CountsTargetsAndLeavesTheChunkAsItWas) {
  VelkoRTChunk* table = ChunkOn(ThreeTables(), "Table 2");
  EXPECT_EQ(table->GetCount("Row"), 1);
  EXPECT_STREQ(table->definition, "Table 2");
  EXPECT_EQ(table->target_type, 1);
  EXPECT_EQ(table->internal->definitions->next, nullptr);
  EXPECT_EQ(table->internal->definitions->index_starts[0], 2);
  EXPECT_EQ(table->internal->simple_definition, 1u);
  auto everything = Define("Everything");
  EXPECT_EQ(everything->GetCount("Table"), 3);
  EXPECT_EQ(everything->GetCount("Hotspot"), 0);
  EXPECT_STREQ(everything->definition, "Everything");
}

TEST_F(NavigationTest, SubChunksAndZoomedChunksWorkOnTheirNarrowerTarget) {
  VelkoRTChunk* chunk = ChunkOn(FourRowTable(), "Table 1");
  std::unique_ptr<VelkoRTChunk> row(chunk->DefineSubChunk("Row 4"));
  EXPECT_EQ(row->Exists(), 1);
  std::unique_ptr<VelkoRTChunk> beyond(chunk->DefineSubChunk("Row 5"));
  EXPECT_EQ(beyond->Exists(), 0);

  ASSERT_EQ(chunk->ZoomIn("Row 2"), 1);
  EXPECT_EQ(chunk->GetNextTarget(0), 1);
  EXPECT_STREQ(chunk->definition, "Table 1; Row 3");
  ASSERT_EQ(chunk->ZoomIn("Text 1"), 1);
  EXPECT_EQ(chunk->Exists(), 1);
  chunk->ZoomOut();
  EXPECT_STREQ(chunk->definition, "Table 1");
  EXPECT_EQ(chunk->GetCount("Row"), 4);
}

TEST_F(NavigationTest, RemoveIsRefusedAndLeavesTheNoteAlone) {
  VelkoRTChunk* chunk = ChunkOn(ThreeTables(), "Table 1");
  item_->AutoSave = 1;
  const DWORD before = Sequence();
  EXPECT_EQ(chunk->Remove(), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(chunk->status, VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(Sequence(), before);
  EXPECT_EQ(chunk->Exists(), 1);
}

} // namespace
