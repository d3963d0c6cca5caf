// A chunk's definition as its methods change it, without running the
// engine: sub-chunks, zooming, stepped indexes and refused sub-definitions.
// (Whether a target exists is tested on real items in navigation_test.cpp.)
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
  std::unique_ptr<VelkoRTChunk> Chunk(const std::string& definition) {
    auto chunk = std::make_unique<VelkoRTChunk>(session_.get(), &item_);
    DWORD simple = 0;
    chunkdef_info* chain = ParseDefinition(session_.get(), 0, nullptr, definition.c_str(), &simple);
    EXPECT_NE(chain, nullptr) << definition;
    SetChunkDefinitions(chunk.get(), chain, simple);
    EXPECT_TRUE(CalculateDefinition(chain, session_->scratch_first, VELKO_SCRATCH_TEXT_SIZE));
    chunk->definition = new char[std::strlen(session_->scratch_first) + 1];
    std::strcpy(chunk->definition, session_->scratch_first);
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

  std::unique_ptr<LSXLsiSession> session_ = std::make_unique<LSXLsiSession>();
  VelkoRTItem item_{session_.get()};
};

/* A text of 4000 characters and more: its definition nearly fills the
 * 4096-byte scratch text. */
const std::string kLongText = "Text '" + std::string(4000, 'x') + "' 1";

/* ---- DefineSubChunk ---- */

TEST_F(ChunkDefinitionTest, SubChunkAppendsClausesToACopy) {
  auto chunk = Chunk("Section Starts 'Sales' 1; Table 2-4,7");
  std::unique_ptr<VelkoRTChunk> row(chunk->DefineSubChunk("Row 3"));
  ASSERT_NE(row, nullptr);
  EXPECT_STREQ(row->definition, "Section Starts \"Sales\" 1; Table 2-4,7; Row 3");
  EXPECT_EQ(row->target_type, TARGETTYPE_ROW);
  EXPECT_EQ(row->item, &item_);
  EXPECT_EQ(GetChunkDefFromChunk(row.get()), row->internal->definitions);
  EXPECT_EQ(GetChunkDefFromChunk(nullptr), nullptr);
  EXPECT_EQ(row->internal->simple_definition, 0u); // a range is not simple
  // The match text is the sub-chunk's own copy; the parent is unchanged.
  const chunkdef_info* first = row->internal->definitions;
  EXPECT_EQ(first->match_mode, MATCH_STARTS);
  EXPECT_NE(first->match_text, chunk->internal->definitions->match_text);
  EXPECT_STREQ(chunk->definition, "Section Starts \"Sales\" 1; Table 2-4,7");
  EXPECT_EQ(ClauseCount(*chunk), 2);

  auto table = Chunk("Table 1");
  std::unique_ptr<VelkoRTChunk> rows(table->DefineSubChunk("Row 1"));
  EXPECT_EQ(rows->internal->simple_definition, 1u);
  std::unique_ptr<VelkoRTChunk> range(table->DefineSubChunk("Row 1-2"));
  EXPECT_EQ(range->internal->simple_definition, 0u);
}

TEST_F(ChunkDefinitionTest, SubChunkThatDoesNotParseOrCannotBeWrittenIsNull) {
  auto chunk = Chunk("Paragraph 2");
  EXPECT_EQ(chunk->DefineSubChunk("Row 1"), nullptr); // a Row only after a Table
  EXPECT_EQ(chunk->DefineSubChunk("Nonsense 1"), nullptr);
  EXPECT_EQ(chunk->DefineSubChunk(nullptr), nullptr);
  EXPECT_STREQ(chunk->definition, "Paragraph 2");

  // The canonical text must fit the scratch text.
  auto longChunk = Chunk(kLongText);
  longChunk->status = 0;
  EXPECT_EQ(longChunk->DefineSubChunk(("Text '" + std::string(100, 'y') + "' 1").c_str()), nullptr);
  EXPECT_EQ(longChunk->status, VELKO_ERR_BAD_ARGUMENT);
  // Only the parents are left in the session's list.
  EXPECT_EQ(session_->chunks, longChunk.get());
  EXPECT_EQ(longChunk->next, chunk.get());
  EXPECT_EQ(chunk->next, nullptr);
}

/* ---- ZoomIn and ZoomOut ---- */

TEST_F(ChunkDefinitionTest, ZoomOutUndoesSeveralZoomIns) {
  auto chunk = Chunk("Table 1");
  chunk->ZoomOut(); // without a zoom: nothing
  EXPECT_STREQ(chunk->definition, "Table 1");
  ASSERT_EQ(chunk->ZoomIn("Row 2"), 1);
  EXPECT_STREQ(chunk->definition, "Table 1; Row 2");
  EXPECT_STREQ(chunk->unzoomed_definition, "Table 1");
  ASSERT_EQ(chunk->ZoomIn("Inside Section 1"), 1);
  EXPECT_STREQ(chunk->definition, "Table 1; Row 2; Inside Section 1");
  EXPECT_STREQ(chunk->unzoomed_definition, "Table 1");
  EXPECT_EQ(chunk->target_type, TARGETTYPE_SECTION);
  EXPECT_EQ(chunk->internal->simple_definition, 0u);

  chunk->ZoomOut();
  EXPECT_STREQ(chunk->definition, "Table 1");
  EXPECT_EQ(chunk->unzoomed_definition, nullptr);
  EXPECT_EQ(chunk->target_type, TARGETTYPE_TABLE);
  EXPECT_EQ(ClauseCount(*chunk), 1);
  EXPECT_EQ(chunk->internal->simple_definition, 1u);

  // After stepping, ZoomOut restores the zoomed-from text.
  ASSERT_EQ(chunk->ZoomIn("Row 1"), 1);
  chunk->GetNextTarget(0); // the item has no note: the answer is 0
  EXPECT_STREQ(chunk->definition, "Table 1; Row 2");
  chunk->ZoomOut();
  EXPECT_STREQ(chunk->definition, "Table 1");
}

TEST_F(ChunkDefinitionTest, ZoomInThatDoesNotParseOrCannotBeWrittenChangesNothing) {
  auto chunk = Chunk("Paragraph 3");
  EXPECT_EQ(chunk->ZoomIn("Column 1"), 0);
  EXPECT_STREQ(chunk->definition, "Paragraph 3");
  EXPECT_EQ(ClauseCount(*chunk), 1);
  EXPECT_EQ(chunk->target_type, TARGETTYPE_PARAGRAPH);
  // The failed zoom still remembers the text it started from.
  EXPECT_STREQ(chunk->unzoomed_definition, "Paragraph 3");
  chunk->ZoomOut();
  EXPECT_EQ(chunk->unzoomed_definition, nullptr);
  EXPECT_STREQ(chunk->definition, "Paragraph 3");

  auto longChunk = Chunk(kLongText);
  const std::string before = longChunk->definition;
  EXPECT_EQ(longChunk->ZoomIn(("Text '" + std::string(200, 'y') + "' 1").c_str()), 0);
  EXPECT_EQ(longChunk->status, VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(longChunk->definition, before);
  EXPECT_EQ(ClauseCount(*longChunk), 1);
}

/* ---- stepping the last clause ---- */

TEST_F(ChunkDefinitionTest, SteppingRewritesLastClause) {
  struct Case {
    const char* definition;
    int step; /* +1 next, -1 previous */
    const char* expected;
  };
  const Case cases[] = {
      {"Table 1; Row 2", +1, "Table 1; Row 3"},
      {"Table 1-3", +1, "Table 2-4"},
      {"Table 1,5-6", +1, "Table 2,6-7"},
      {"Table 1; Row 1", -1, "Table 1; Row 0"},
      {"Table 2-4", -1, "Table 1-3"},
      {"Table 0", -1, "Table 0"},
      {"Table 1-2", -1, "Table 0-1"},
      {"Table *", +1, "Table *"},
      {"Table *", -1, "Table *"},
      {"Table 65535", +1, "Table 65535"}, // no wrap to 0, which is every target
  };
  for (const Case& c : cases) {
    auto chunk = Chunk(c.definition);
    const int found = c.step > 0 ? chunk->GetNextTarget(0) : chunk->GetPreviousTarget(0);
    EXPECT_EQ(found, 0) << c.definition; // no note, no target
    EXPECT_STREQ(chunk->definition, c.expected) << c.definition;
  }
  VelkoRTChunk empty(session_.get(), &item_);
  EXPECT_EQ(empty.GetNextTarget(0), 0);
  EXPECT_EQ(empty.GetLastTarget(0), 0);
  EXPECT_EQ(empty.definition, nullptr);
}

TEST_F(ChunkDefinitionTest, StepWhoseTextCannotBeWrittenIsUndone) {
  // 4095 characters: one digit more does not fit the scratch text.
  auto chunk = Chunk("Text '" + std::string(4086, 'x') + "' 9");
  const std::string before = chunk->definition;
  ASSERT_EQ(before.size(), 4095u);
  chunk->status = 0;
  EXPECT_EQ(chunk->GetNextTarget(0), 0);
  EXPECT_EQ(chunk->status, VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(chunk->definition, before);
  EXPECT_EQ(chunk->internal->definitions->index_starts[0], 9);
}

/* ---- GetCount ---- */

TEST_F(ChunkDefinitionTest, CountOfUnparsableSubDefinitionIs65535) {
  auto chunk = Chunk("Paragraph 1");
  EXPECT_EQ(chunk->GetCount("Row"), 65535);     // a Row only after a Table
  EXPECT_EQ(chunk->GetCount("Table 2"), 65535); // "Table 2 1" is no index list
  EXPECT_EQ(chunk->GetCount(nullptr), 65535);
  EXPECT_EQ(chunk->GetCount(std::string(4094, 'T').c_str()), 65535);
  EXPECT_STREQ(chunk->definition, "Paragraph 1");
  EXPECT_EQ(ClauseCount(*chunk), 1);
}

} // namespace
