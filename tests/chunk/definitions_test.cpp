// A chunk's definition as its methods change it, without running the
// engine: sub-chunks, zooming, stepped indexes and refused sub-definitions.
// (Whether a stepped target exists is tested on real items in
// navigation_test.cpp.)
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "chunk/rtchunk_internal.h"
#include "engine/chunkdef.h"
#include "engine/definition.h"
#include "host/host_testing.h"
#include "store/vocabulary.h"

namespace {

class ChunkDefinitionTest : public ::testing::Test {
protected:
  void SetUp() override { HostTestReset(); }

  /* A chunk of the (unconnected) item with the parsed definition. */
  VelkoRTChunk* Chunk(const char* definition) {
    auto* chunk = new VelkoRTChunk(session(), &item_);
    DWORD simple = 0;
    chunkdef_info* chain = ParseDefinition(session(), 0, nullptr, definition, &simple);
    EXPECT_NE(chain, nullptr) << definition;
    SetChunkDefinitions(chunk, chain, simple);
    EXPECT_TRUE(CalculateDefinition(chain, session()->scratch_first, VELKO_SCRATCH_TEXT_SIZE));
    chunk->definition = new char[std::strlen(session()->scratch_first) + 1];
    std::strcpy(chunk->definition, session()->scratch_first);
    chunk->target_type = DefinitionTargetType(chain);
    return chunk;
  }

  static int ClauseCount(const VelkoRTChunk& chunk) {
    int count = 0;
    for (const chunkdef_info* clause = chunk.internal->definitions; clause != nullptr;
         clause = clause->next)
      ++count;
    return count;
  }

  LSXLsiSession* session() { return session_.get(); }

  std::unique_ptr<LSXLsiSession> session_ = std::make_unique<LSXLsiSession>();
  VelkoRTItem item_{session_.get()};
};

/* ---- DefineSubChunk ---- */

TEST_F(ChunkDefinitionTest, SubChunkAppendsClausesToACopy) {
  std::unique_ptr<VelkoRTChunk> table(Chunk("Table 2"));
  std::unique_ptr<VelkoRTChunk> row(table->DefineSubChunk("Row 3"));
  ASSERT_NE(row, nullptr);
  EXPECT_STREQ(row->definition, "Table 2; Row 3");
  EXPECT_EQ(row->target_type, TARGETTYPE_ROW);
  EXPECT_EQ(row->item, &item_);
  EXPECT_EQ(row->session, session());
  EXPECT_EQ(row->unzoomed_definition, nullptr);
  EXPECT_EQ(row->internal->simple_definition, 1u);
  // The parent is unchanged and shares no clause with the sub-chunk.
  EXPECT_STREQ(table->definition, "Table 2");
  EXPECT_EQ(ClauseCount(*table), 1);
  EXPECT_NE(row->internal->definitions, table->internal->definitions);
}

TEST_F(ChunkDefinitionTest, SubChunkKeepsMatchTextsAndRanges) {
  std::unique_ptr<VelkoRTChunk> chunk(Chunk("Section Starts 'Sales' 1; Table 2-4,7"));
  std::unique_ptr<VelkoRTChunk> sub(chunk->DefineSubChunk("Row *"));
  ASSERT_NE(sub, nullptr);
  EXPECT_STREQ(sub->definition, "Section Starts \"Sales\" 1; Table 2-4,7; Row *");
  EXPECT_EQ(sub->internal->simple_definition, 0u);
  const chunkdef_info* first = sub->internal->definitions;
  ASSERT_NE(first->match_text, nullptr);
  EXPECT_NE(first->match_text, chunk->internal->definitions->match_text); // its own copy
  EXPECT_EQ(first->match_mode, MATCH_STARTS);
}

TEST_F(ChunkDefinitionTest, SubChunkOfSimpleChunkWithRangeIsNotSimple) {
  std::unique_ptr<VelkoRTChunk> chunk(Chunk("Table 1"));
  std::unique_ptr<VelkoRTChunk> sub(chunk->DefineSubChunk("Row 1-2"));
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(sub->internal->simple_definition, 0u);
}

TEST_F(ChunkDefinitionTest, SubChunkThatDoesNotParseIsNull) {
  std::unique_ptr<VelkoRTChunk> chunk(Chunk("Paragraph 2"));
  EXPECT_EQ(chunk->DefineSubChunk("Row 1"), nullptr); // a Row only after a Table
  EXPECT_EQ(chunk->DefineSubChunk("Nonsense 1"), nullptr);
  EXPECT_EQ(chunk->DefineSubChunk(nullptr), nullptr);
  EXPECT_STREQ(chunk->definition, "Paragraph 2");
  // Only the parent is left in the session's list.
  EXPECT_EQ(session()->chunks, chunk.get());
  EXPECT_EQ(chunk->next, nullptr);
}

TEST_F(ChunkDefinitionTest, SubChunkWhoseTextCannotBeWrittenIsRefused) {
  // The canonical text must fit the 4096-byte scratch text.
  std::string longText = "Text '" + std::string(4000, 'x') + "' 1";
  std::unique_ptr<VelkoRTChunk> chunk(Chunk(longText.c_str()));
  chunk->status = 0;
  const std::string more = "Text '" + std::string(100, 'y') + "' 1";
  EXPECT_EQ(chunk->DefineSubChunk(more.c_str()), nullptr);
  EXPECT_EQ(chunk->status, VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(session()->chunks, chunk.get());
}

/* ---- ZoomIn and ZoomOut ---- */

TEST_F(ChunkDefinitionTest, ZoomOutUndoesSeveralZoomIns) {
  std::unique_ptr<VelkoRTChunk> chunk(Chunk("Table 1"));
  ASSERT_EQ(chunk->ZoomIn("Row 2"), 1);
  EXPECT_STREQ(chunk->definition, "Table 1; Row 2");
  EXPECT_STREQ(chunk->unzoomed_definition, "Table 1");
  EXPECT_EQ(chunk->target_type, TARGETTYPE_ROW);
  ASSERT_EQ(chunk->ZoomIn("Text 1"), 1);
  EXPECT_STREQ(chunk->definition, "Table 1; Row 2; Text 1");
  EXPECT_STREQ(chunk->unzoomed_definition, "Table 1");
  EXPECT_EQ(chunk->target_type, TARGETTYPE_TEXT);

  chunk->ZoomOut();
  EXPECT_STREQ(chunk->definition, "Table 1");
  EXPECT_EQ(chunk->unzoomed_definition, nullptr);
  EXPECT_EQ(chunk->target_type, TARGETTYPE_TABLE);
  EXPECT_EQ(ClauseCount(*chunk), 1);
  EXPECT_EQ(chunk->internal->simple_definition, 1u);
}

TEST_F(ChunkDefinitionTest, ZoomInCombinesSimpleFlag) {
  std::unique_ptr<VelkoRTChunk> chunk(Chunk("Table 1"));
  ASSERT_EQ(chunk->ZoomIn("Inside Section 1"), 1);
  EXPECT_EQ(chunk->internal->simple_definition, 0u);
  chunk->ZoomOut();
  EXPECT_EQ(chunk->internal->simple_definition, 1u);
}

TEST_F(ChunkDefinitionTest, ZoomInThatDoesNotParseChangesNothing) {
  std::unique_ptr<VelkoRTChunk> chunk(Chunk("Paragraph 3"));
  EXPECT_EQ(chunk->ZoomIn("Column 1"), 0);
  EXPECT_STREQ(chunk->definition, "Paragraph 3");
  EXPECT_EQ(ClauseCount(*chunk), 1);
  EXPECT_EQ(chunk->target_type, TARGETTYPE_PARAGRAPH);
  // The failed zoom still remembers the text it started from.
  EXPECT_STREQ(chunk->unzoomed_definition, "Paragraph 3");
  chunk->ZoomOut();
  EXPECT_EQ(chunk->unzoomed_definition, nullptr);
  EXPECT_STREQ(chunk->definition, "Paragraph 3");
}

TEST_F(ChunkDefinitionTest, ZoomInWhoseTextCannotBeWrittenChangesNothing) {
  std::string longText = "Text '" + std::string(4000, 'x') + "' 1";
  std::unique_ptr<VelkoRTChunk> chunk(Chunk(longText.c_str()));
  const std::string before = chunk->definition;
  std::string more = "Text '" + std::string(200, 'y') + "' 1";
  EXPECT_EQ(chunk->ZoomIn(more.c_str()), 0);
  EXPECT_EQ(chunk->status, VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(chunk->definition, before);
  EXPECT_EQ(ClauseCount(*chunk), 1);
}

TEST_F(ChunkDefinitionTest, ZoomOutWithoutZoomDoesNothing) {
  std::unique_ptr<VelkoRTChunk> chunk(Chunk("Table 1; Row 2"));
  chunk->ZoomOut();
  EXPECT_STREQ(chunk->definition, "Table 1; Row 2");
  EXPECT_EQ(ClauseCount(*chunk), 2);
}

TEST_F(ChunkDefinitionTest, ZoomOutAfterSteppingRestoresTheZoomedFromText) {
  std::unique_ptr<VelkoRTChunk> chunk(Chunk("Table 1"));
  ASSERT_EQ(chunk->ZoomIn("Row 1"), 1);
  chunk->GetNextTarget(0); // the item has no note: the answer is 0
  EXPECT_STREQ(chunk->definition, "Table 1; Row 2");
  chunk->ZoomOut();
  EXPECT_STREQ(chunk->definition, "Table 1");
}

/* ---- stepping the last clause ---- */

struct StepCase {
  const char* definition;
  int step; /* +1 next, -1 previous */
  const char* expected;
};

TEST_F(ChunkDefinitionTest, SteppingRewritesLastClause) {
  const StepCase cases[] = {
      {"Table 1; Row 2", +1, "Table 1; Row 3"}, {"Table 1-3", +1, "Table 2-4"},
      {"Table 1,5-6", +1, "Table 2,6-7"},       {"Row 1", -1, "Row 0"},
      {"Table 2-4", -1, "Table 1-3"},           {"Table 0", -1, "Table 0"},
      {"Table 1-2", -1, "Table 0-1"},
  };
  for (const StepCase& c : cases) {
    std::string definition = c.definition;
    if (definition.rfind("Row", 0) == 0)
      definition = "Table 1; " + definition;
    std::unique_ptr<VelkoRTChunk> chunk(Chunk(definition.c_str()));
    const int found = c.step > 0 ? chunk->GetNextTarget(0) : chunk->GetPreviousTarget(0);
    EXPECT_EQ(found, 0) << c.definition; // no note, no target
    std::string expected = c.expected;
    if (expected.rfind("Row", 0) == 0)
      expected = "Table 1; " + expected;
    EXPECT_EQ(std::string(chunk->definition), expected) << c.definition;
  }
}

TEST_F(ChunkDefinitionTest, SteppingWithoutIndexesChangesNothing) {
  std::unique_ptr<VelkoRTChunk> chunk(Chunk("Table *"));
  EXPECT_EQ(chunk->GetNextTarget(0), 0);
  EXPECT_EQ(chunk->GetPreviousTarget(0), 0);
  EXPECT_EQ(chunk->GetLastTarget(0), 0);
  EXPECT_STREQ(chunk->definition, "Table *");

  VelkoRTChunk empty(session(), &item_);
  EXPECT_EQ(empty.GetNextTarget(0), 0);
  EXPECT_EQ(empty.GetLastTarget(0), 0);
  EXPECT_EQ(empty.definition, nullptr);
}

TEST_F(ChunkDefinitionTest, NextTargetDoesNotWrapLargestIndex) {
  std::unique_ptr<VelkoRTChunk> chunk(Chunk("Table 65535"));
  EXPECT_EQ(chunk->GetNextTarget(0), 0);
  EXPECT_STREQ(chunk->definition, "Table 65535");
}

TEST_F(ChunkDefinitionTest, StepWhoseTextCannotBeWrittenIsUndone) {
  // 4095 characters: one digit more does not fit the scratch text.
  const std::string definition = "Text '" + std::string(4086, 'x') + "' 9";
  std::unique_ptr<VelkoRTChunk> chunk(Chunk(definition.c_str()));
  const std::string before = chunk->definition;
  ASSERT_EQ(before.size(), 4095u);
  chunk->status = 0;
  EXPECT_EQ(chunk->GetNextTarget(0), 0);
  EXPECT_EQ(chunk->status, VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(chunk->definition, before);
  EXPECT_EQ(chunk->internal->definitions->index_starts[0], 9);
}

TEST_F(ChunkDefinitionTest, LastTargetWithoutTargetsEndsAtZero) {
  std::unique_ptr<VelkoRTChunk> chunk(Chunk("Table 1"));
  EXPECT_EQ(chunk->GetLastTarget(0), 0);
  EXPECT_STREQ(chunk->definition, "Table 0");
}

/* ---- GetCount ---- */

TEST_F(ChunkDefinitionTest, CountOfUnparsableSubDefinitionIs65535) {
  std::unique_ptr<VelkoRTChunk> chunk(Chunk("Paragraph 1"));
  EXPECT_EQ(chunk->GetCount("Row"), 65535);     // a Row only after a Table
  EXPECT_EQ(chunk->GetCount("Table 2"), 65535); // "Table 2 1" is no index list
  EXPECT_EQ(chunk->GetCount(nullptr), 65535);
  EXPECT_EQ(chunk->GetCount(std::string(4094, 'T').c_str()), 65535);
  EXPECT_STREQ(chunk->definition, "Paragraph 1");
  EXPECT_EQ(ClauseCount(*chunk), 1);
}

TEST_F(ChunkDefinitionTest, CountLeavesChunkAsItWas) {
  std::unique_ptr<VelkoRTChunk> chunk(Chunk("Table 2"));
  EXPECT_EQ(chunk->GetCount("Row"), 0); // no note: nothing found
  EXPECT_STREQ(chunk->definition, "Table 2");
  EXPECT_EQ(ClauseCount(*chunk), 1);
  EXPECT_EQ(chunk->target_type, TARGETTYPE_TABLE);
  EXPECT_EQ(chunk->internal->definitions->index_starts[0], 2);
  EXPECT_EQ(chunk->internal->simple_definition, 1u);
}

/* ---- Exists and Remove without an item on a note ---- */

TEST_F(ChunkDefinitionTest, ExistsAnswersZeroWithStatusZero) {
  std::unique_ptr<VelkoRTChunk> chunk(Chunk("Table 1"));
  chunk->status = 257;
  EXPECT_EQ(chunk->Exists(), 0);
  EXPECT_EQ(chunk->status, 0);
}

TEST_F(ChunkDefinitionTest, RemoveIsNotAvailable) {
  std::unique_ptr<VelkoRTChunk> chunk(Chunk("Table 1"));
  EXPECT_EQ(chunk->Remove(), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(chunk->status, VELKO_ERR_BAD_ARGUMENT);
}

} // namespace
