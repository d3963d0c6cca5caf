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
  records.Definition().Reference().Text("before");
  for (int table = 0; table < 3; ++table)
    records.Table(1, 1);
  return records.Paragraph().Reference().Text("after");
}

/* One table of four rows and two columns. */
Records FourRowTable() {
  Records records;
  records.Definition().Reference().Text("intro");
  return records.Table(4, 2).Paragraph().Reference().Text("end");
}

/* Three paragraphs of text and no table. */
Records ThreeParagraphs() {
  Records records;
  records.Definition().Reference().Text("one");
  records.Paragraph().Reference().Text("two");
  return records.Paragraph().Reference().Text("three");
}

class NavigationTest : public ChunkItemTest {};

/* ---- Exists ---- */

TEST_F(NavigationTest, ExistsAnswersForEachTarget) {
  struct Case {
    const char* definition;
    int exists;
  } cases[] = {
      {"Table 1", 1},        {"Table 3", 1},     {"Table 4", 0}, {"Table 2; Row 1", 1},
      {"Table 2; Row 2", 0}, {"Paragraph 1", 1}, {"Table *", 1}, {"Hotspot 1", 0},
  };
  note_id_ = StoreNote(ThreeTables());
  item_ = Connect(note_id_);
  for (const Case& c : cases) {
    std::unique_ptr<VelkoRTChunk> chunk(item_->DefineChunk(c.definition));
    ASSERT_NE(chunk, nullptr) << c.definition;
    chunk->status = 257;
    EXPECT_EQ(chunk->Exists(), c.exists) << c.definition;
    EXPECT_EQ(chunk->status, 0) << c.definition;
  }
}

TEST_F(NavigationTest, ExistsOnItemDeletedFromNoteIsZero) {
  VelkoRTChunk* chunk = ChunkOn(ThreeTables(), "Table 1");
  ASSERT_EQ(NSFItemDelete(item_->note, kItemName, chunk_testing::Length(kItemName)), NOERROR);
  EXPECT_EQ(chunk->Exists(), 0);
  EXPECT_EQ(chunk->status, 0);
}

/* ---- stepping ---- */

TEST_F(NavigationTest, NextTargetStepsRowsUntilNoneIsLeft) {
  VelkoRTChunk* chunk = ChunkOn(FourRowTable(), "Table 1; Row 2");
  EXPECT_EQ(chunk->GetNextTarget(0), 1);
  EXPECT_STREQ(chunk->definition, "Table 1; Row 3");
  EXPECT_EQ(chunk->GetNextTarget(0), 1);
  EXPECT_STREQ(chunk->definition, "Table 1; Row 4");
  EXPECT_EQ(chunk->GetNextTarget(0), 0);
  EXPECT_STREQ(chunk->definition, "Table 1; Row 5");
}

TEST_F(NavigationTest, NextTargetMovesARange) {
  VelkoRTChunk* chunk = ChunkOn(ThreeTables(), "Table 1-3");
  EXPECT_EQ(chunk->GetNextTarget(0), 1);
  EXPECT_STREQ(chunk->definition, "Table 2-4");
}

TEST_F(NavigationTest, PreviousTargetStepsBackToIndexZero) {
  VelkoRTChunk* chunk = ChunkOn(ThreeTables(), "Table 3");
  EXPECT_EQ(chunk->GetPreviousTarget(0), 1);
  EXPECT_STREQ(chunk->definition, "Table 2");
  EXPECT_EQ(chunk->GetPreviousTarget(0), 1);
  EXPECT_STREQ(chunk->definition, "Table 1");
  chunk->GetPreviousTarget(0); // whether index 0 is found is the engine's reading
  EXPECT_STREQ(chunk->definition, "Table 0");
  chunk->GetPreviousTarget(0);
  EXPECT_STREQ(chunk->definition, "Table 0");
}

TEST_F(NavigationTest, LastTargetFindsTheLastTable) {
  VelkoRTChunk* chunk = ChunkOn(ThreeTables(), "Table 1");
  EXPECT_EQ(chunk->GetLastTarget(0), 1);
  EXPECT_STREQ(chunk->definition, "Table 3");
}

TEST_F(NavigationTest, LastTargetFromBeyondTheLastComesBack) {
  VelkoRTChunk* chunk = ChunkOn(ThreeTables(), "Table 7");
  EXPECT_EQ(chunk->GetLastTarget(0), 1);
  EXPECT_STREQ(chunk->definition, "Table 3");
}

TEST_F(NavigationTest, LastTargetWithoutTablesEndsAtZero) {
  VelkoRTChunk* chunk = ChunkOn(ThreeParagraphs(), "Table 1");
  EXPECT_EQ(chunk->GetLastTarget(0), 0);
  EXPECT_STREQ(chunk->definition, "Table 0");
}

TEST_F(NavigationTest, LastTargetOfRowsAndParagraphs) {
  VelkoRTChunk* rows = ChunkOn(FourRowTable(), "Table 1; Row 1");
  EXPECT_EQ(rows->GetLastTarget(0), 1);
  EXPECT_STREQ(rows->definition, "Table 1; Row 4");

  std::unique_ptr<VelkoRTChunk> paragraphs(item_->DefineChunk("Paragraph 1"));
  ASSERT_NE(paragraphs, nullptr);
  const int found = paragraphs->GetLastTarget(0);
  EXPECT_EQ(found, 1);
  const std::string last = paragraphs->definition;
  // Whatever the last paragraph is, the next one does not exist.
  std::unique_ptr<VelkoRTChunk> probe(item_->DefineChunk(last.c_str()));
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(probe->GetNextTarget(0), 0);
}

/* ---- GetCount ---- */

TEST_F(NavigationTest, CountsRowsOfATable) {
  VelkoRTChunk* chunk = ChunkOn(FourRowTable(), "Table 1");
  EXPECT_EQ(chunk->GetCount("Row"), 4);
  EXPECT_STREQ(chunk->definition, "Table 1");
  EXPECT_EQ(chunk->target_type, 1);
  EXPECT_EQ(chunk->internal->definitions->next, nullptr);
}

TEST_F(NavigationTest, CountsTargetsOfTheItem) {
  note_id_ = StoreNote(ThreeTables());
  item_ = Connect(note_id_);
  std::unique_ptr<VelkoRTChunk> everything(item_->DefineChunk("Everything"));
  ASSERT_NE(everything, nullptr);
  EXPECT_EQ(everything->GetCount("Table"), 3);
  EXPECT_EQ(everything->GetCount("Hotspot"), 0);
  EXPECT_STREQ(everything->definition, "Everything");

  std::unique_ptr<VelkoRTChunk> second(item_->DefineChunk("Table 2"));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->GetCount("Row"), 1);
}

TEST_F(NavigationTest, CountOfRowsWithoutTableIsZero) {
  VelkoRTChunk* chunk = ChunkOn(ThreeParagraphs(), "Table 1");
  EXPECT_EQ(chunk->GetCount("Row"), 0);
  EXPECT_STREQ(chunk->definition, "Table 1");
}

/* ---- sub-chunks and zoom on an item ---- */

TEST_F(NavigationTest, SubChunkNamesItsOwnTarget) {
  VelkoRTChunk* table = ChunkOn(FourRowTable(), "Table 1");
  std::unique_ptr<VelkoRTChunk> row(table->DefineSubChunk("Row 4"));
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->Exists(), 1);
  std::unique_ptr<VelkoRTChunk> beyond(table->DefineSubChunk("Row 5"));
  ASSERT_NE(beyond, nullptr);
  EXPECT_EQ(beyond->Exists(), 0);
  EXPECT_EQ(table->Exists(), 1);
}

TEST_F(NavigationTest, ZoomedChunkWorksOnItsNarrowerTarget) {
  VelkoRTChunk* chunk = ChunkOn(FourRowTable(), "Table 1");
  ASSERT_EQ(chunk->ZoomIn("Row 2"), 1);
  EXPECT_EQ(chunk->GetNextTarget(0), 1);
  EXPECT_STREQ(chunk->definition, "Table 1; Row 3");
  ASSERT_EQ(chunk->ZoomIn("Text 1"), 1);
  EXPECT_EQ(chunk->Exists(), 1);
  chunk->ZoomOut();
  EXPECT_STREQ(chunk->definition, "Table 1");
  EXPECT_EQ(chunk->GetCount("Row"), 4);
}

/* ---- Remove ---- */

TEST_F(NavigationTest, RemoveIsRefusedAndLeavesTheNoteAlone) {
  VelkoRTChunk* chunk = ChunkOn(ThreeTables(), "Table 1");
  item_->AutoSave = 1;
  const DWORD before = Sequence(note_id_);
  EXPECT_EQ(chunk->Remove(), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(Sequence(note_id_), before);
  EXPECT_EQ(chunk->Exists(), 1);
}

} // namespace
