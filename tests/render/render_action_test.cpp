// The rendering context's part in the engine's rendering action: what it
// takes from the operation before the walk and when it renders at the end.
#include <gtest/gtest.h>

#include <cstring>

#include "chunk/chunk_item_fixture.h"
#include "engine/chunkdef.h"
#include "engine/process_state.h"
#include "engine/services.h"
#include "host/nsfdb.h"
#include "render/render_info.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/vocabulary.h"

namespace {

using chunk_testing::Records;

class RenderActionTest : public chunk_testing::ChunkItemTest {
protected:
  void TearDown() override {
    DeleteChunkDefinitions(clauses_);
    if (context_ != nullptr)
      ReleaseRenderContext(context_);
    ChunkItemTest::TearDown();
  }

  /* A state as the engine makes it for the chunk, its clauses linked into
   * a run chain. */
  void MakeState(VelkoRTChunk *chunk, const char *definition) {
    DWORD simple = 0;
    clauses_ = ParseDefinition(session(), 0, nullptr, definition, &simple);
    ASSERT_NE(clauses_, nullptr);
    for (chunkdef_info *clause = clauses_; clause != nullptr; clause = clause->next)
      clause->run_next = clause->next;
    state_.session = session();
    state_.gen.item = chunk->item;
    state_.chunk = chunk;
    state_.first_clause = clauses_;
    context_ = CreateRenderContext(session(), chunk);
    ASSERT_NE(context_, nullptr);
  }

  chunk_process_state state_;
  chunkdef_info *clauses_ = nullptr;
  html_render_info *context_ = nullptr;
};

TEST_F(RenderActionTest, PreparationFillsTheLookupTablesAndTheTargetType) {
  VelkoRTChunk *chunk = ChunkOn(
      Records().Definition().Paragraph().Reference().Text("a").Definition().Table(1, 1), "Table 1");
  ASSERT_EQ(chunk->Exists(), 1); // the engine loads the item's records
  MakeState(chunk, "Table 1");
  ASSERT_EQ(PrepareXMLRendering(&state_, context_, 0), NOERROR);
  EXPECT_EQ(context_->target_type, TARGETTYPE_TABLE);
  EXPECT_EQ(context_->render_at_end, 0u);
  ASSERT_EQ(context_->pabdef_count, 2);
  EXPECT_EQ(context_->pabdef_records[0], nullptr);
  EXPECT_EQ(context_->pabdef_records[1], item_->internal->input->records);
  EXPECT_EQ(context_->pabdef_records[2]->signature, SIG_CD_PABDEFINITION);
  EXPECT_NE(context_->pabdef_records[1], context_->pabdef_records[2]);
  EXPECT_EQ(context_->style_name_count, 0);
  DBREPLICAINFO replica = {};
  ASSERT_EQ(NSFDbReplicaInfoGet(item_->db, &replica), NOERROR);
  EXPECT_EQ(memcmp(&replica, &context_->replica_info, sizeof replica), 0);
}

TEST_F(RenderActionTest, ExtraClausesRenderAtTheEnd) {
  VelkoRTChunk *chunk = ChunkOn(Records().Definition().Table(2, 2), "Table 1");
  MakeState(chunk, "Everything");
  ASSERT_EQ(PrepareXMLRendering(&state_, context_, 1), NOERROR);
  EXPECT_EQ(context_->render_at_end, 1u);
  EXPECT_EQ(context_->target_type, 0); // Everything names no target
}

TEST_F(RenderActionTest, WithoutAContextThereIsNothingToRenderInto) {
  VelkoRTChunk *chunk = ChunkOn(Records().Definition().Table(1, 1), "Table 1");
  MakeState(chunk, "Table 1");
  EXPECT_EQ(PrepareXMLRendering(&state_, nullptr, 0), kServiceNotAvailable);
  EXPECT_EQ(FinishXMLRendering(&state_, nullptr), NOERROR);
  // A context that renders chunk by chunk has nothing left at the end.
  EXPECT_EQ(FinishXMLRendering(&state_, context_), NOERROR);
}

} // namespace
