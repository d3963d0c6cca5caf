// Construction and destruction of chunks and their place in the session.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "chunk/rtchunk_internal.h"
#include "engine/chunkdef.h"
#include "host/host_testing.h"

namespace {

class ChunkLifecycleTest : public ::testing::Test {
protected:
  void SetUp() override { HostTestReset(); }
  std::unique_ptr<LSXLsiSession> session_ = std::make_unique<LSXLsiSession>();
};

char* Text(const char* text) {
  char* copy = new char[std::strlen(text) + 1];
  std::strcpy(copy, text);
  return copy;
}

TEST_F(ChunkLifecycleTest, NewChunkHasItsStartingValues) {
  VelkoRTItem item(session_.get());
  VelkoRTChunk chunk(session_.get(), &item);
  EXPECT_EQ(chunk.session, session_.get());
  EXPECT_EQ(chunk.item, &item);
  EXPECT_EQ(chunk.AccentSensitive, 1);
  EXPECT_EQ(chunk.CaseSensitive, 0);
  EXPECT_EQ(chunk.RegularExpression, 0);
  EXPECT_EQ(chunk.SearchWordBoundaries, 0);
  EXPECT_EQ(chunk.SetImpliedProperties, 0);
  EXPECT_EQ(chunk.TextWildcards, 0);
  EXPECT_EQ(chunk.append_position, 1u);
  EXPECT_EQ(chunk.status, 0);
  EXPECT_EQ(chunk.secondary_status, 0);
  EXPECT_EQ(chunk.target_type, 0);
  EXPECT_EQ(chunk.link_mode, 0);
  EXPECT_EQ(chunk.definition, nullptr);
  for (char* slot : chunk.event_strings)
    EXPECT_EQ(slot, nullptr);
  ASSERT_NE(chunk.internal, nullptr);
  EXPECT_EQ(chunk.internal->marker, 2633);
  EXPECT_EQ(chunk.internal->definitions, nullptr);
  EXPECT_EQ(chunk.internal->simple_definition, 0u);
  EXPECT_EQ(session_->chunks, &chunk);
}

TEST_F(ChunkLifecycleTest, ChunkWithoutSessionStaysOutOfEveryList) {
  auto* chunk = new VelkoRTChunk(nullptr, nullptr);
  EXPECT_EQ(session_->chunks, nullptr);
  delete chunk;
}

TEST_F(ChunkLifecycleTest, DestroyingDefaultChunkClearsItemPointer) {
  VelkoRTItem item(session_.get());
  item.default_chunk = new VelkoRTChunk(session_.get(), &item);
  delete item.default_chunk;
  EXPECT_EQ(item.default_chunk, nullptr);
  EXPECT_EQ(session_->chunks, nullptr);
}

TEST_F(ChunkLifecycleTest, DestructorFreesEverythingTheChunkOwns) {
  auto* chunk = new VelkoRTChunk(session_.get(), nullptr);
  chunk->definition = Text("Table 1; Row 2");
  chunk->unzoomed_definition = Text("Table 1");
  chunk->event_strings[0] = Text("onClick");
  chunk->event_strings[5] = Text("onBlur");
  auto* table = new chunkdef_info();
  table->match_text = Text("Sales");
  table->next = new chunkdef_info();
  chunk->internal->definitions = table;
  chunk->internal->inline_parts = new inline_part_node{Text("GIF89a"), Text("image1"), nullptr};
  delete chunk;  // ASan reports anything left behind
  EXPECT_EQ(session_->chunks, nullptr);
}

TEST_F(ChunkLifecycleTest, CleanupEventRetStringTakesSlotsOneToSix) {
  VelkoRTChunk chunk(session_.get(), nullptr);
  chunk.event_strings[0] = Text("first");
  chunk.event_strings[5] = Text("sixth");
  chunk.CleanupEventRetString(0);
  chunk.CleanupEventRetString(7);
  EXPECT_NE(chunk.event_strings[0], nullptr);
  chunk.CleanupEventRetString(1);
  chunk.CleanupEventRetString(6);
  EXPECT_EQ(chunk.event_strings[0], nullptr);
  EXPECT_EQ(chunk.event_strings[5], nullptr);
}

}  // namespace
