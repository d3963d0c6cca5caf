// What rendering takes from the session's pool: the run's own output buffer
// grows in place, without smaller copies of itself left behind; GenerateHTML
// hands that buffer over cut to the text instead of copying it; short work
// texts take no tracked memory at all.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render_fixture.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "store/tracked_memory_testing.h"
#include "velko/status.h"

namespace {

using render_testing::RenderContextTest;

/* Sizes of the pool's heap blocks (those above the host memory limit),
 * in pool order, with whether each is in use. */
std::vector<std::pair<DWORD, bool>> HeapBlocks(LSXLsiSession *session) {
  std::vector<std::pair<DWORD, bool>> blocks;
  for (velko_allocation *block = session->internal->pool; block != nullptr; block = block->next) {
    if (block->os_memory == 0)
      blocks.emplace_back(block->size, block->InUse());
  }
  return blocks;
}

/* The pool's block whose data is at data, or null. */
const velko_allocation *HolderOf(LSXLsiSession *session, const void *data) {
  for (velko_allocation *block = session->internal->pool; block != nullptr; block = block->next) {
    if (block->data == data)
      return block;
  }
  return nullptr;
}

class OutputGrowthTest : public RenderContextTest {};

TEST_F(OutputGrowthTest, TheBufferGrowsInPlaceAndKeepsAThirdOfSlackAtMost) {
  UseOutput();
  const std::string line(1000, 'x');
  std::string expected;
  for (int i = 0; i < 3000; ++i) {
    RenderPut(context_, line.data(), line.size());
    expected += line;
  }
  ASSERT_EQ(context_->output_status, NOERROR);
  EXPECT_EQ(Held(), expected);
  const auto blocks = HeapBlocks(session_.get());
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_TRUE(blocks[0].second);
  EXPECT_EQ(blocks[0].first, context_->output_capacity + (context_->output_capacity & 1));
  EXPECT_GT(context_->output_capacity, context_->output_length);
  EXPECT_LE(context_->output_capacity, context_->output_length / 2 * 3);
}

TEST_F(OutputGrowthTest, AGrowthRefusedKeepsTheTextAndTheBuffer) {
  UseOutput();
  const std::string filler(200000, 'a');
  RenderPut(context_, filler.data(), filler.size());
  const DWORD capacity = context_->output_capacity;
  const char *buffer = context_->output_buffer;
  const std::string more(capacity, 'b');
  VelkoTestFailTrackedAllocation(1);
  EXPECT_EQ(RenderPut(context_, more.data(), more.size()), VELKO_ERR_MEMORY);
  VelkoTestFailTrackedAllocation(0);
  EXPECT_EQ(Held(), filler);
  EXPECT_EQ(context_->output_buffer, buffer);
  EXPECT_EQ(context_->output_capacity, capacity);
}

/* ---- work texts ---- */

TEST_F(OutputGrowthTest, AShortWorkTextTakesNoTrackedMemoryUntilItOutgrowsItsRoom) {
  const long before = VelkoTestTrackedRequests();
  render_text text{session_.get()};
  const std::string markup(kRenderTextRoom - 1, 'm');
  RenderTextPut(&text, markup.data(), markup.size());
  EXPECT_EQ(text.data, text.room);
  EXPECT_EQ(std::string(text.data), markup);
  EXPECT_EQ(VelkoTestTrackedRequests(), before);
  RenderTextPuts(&text, "<s");
  ASSERT_EQ(text.status, NOERROR);
  EXPECT_NE(text.data, text.room);
  EXPECT_EQ(std::string(text.data, text.length), markup + "<s");
  const velko_allocation *holder = HolderOf(session_.get(), text.data);
  ASSERT_NE(holder, nullptr);
  EXPECT_TRUE(holder->InUse());
  RenderTextFree(&text);
  EXPECT_FALSE(holder->InUse());
  EXPECT_EQ(text.data, nullptr);
}

TEST_F(OutputGrowthTest, AShortWorkTextIsDetachedAsATrackedCopy) {
  render_text text{session_.get()};
  RenderTextPut(&text, "a\0b", 3);
  char *block = RenderTextDetach(&text);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(std::string(block, 4), std::string("a\0b\0", 4));
  EXPECT_EQ(text.data, nullptr);
  EXPECT_EQ(text.length, 0u);
  const velko_allocation *holder = HolderOf(session_.get(), block);
  ASSERT_NE(holder, nullptr);
  EXPECT_TRUE(holder->InUse());
  VelkoDeallocatePtr(session_.get(), block);

  // A refused copy fails the text and leaves nothing held.
  RenderTextPuts(&text, "short");
  VelkoTestFailTrackedAllocation(1);
  EXPECT_EQ(RenderTextDetach(&text), nullptr);
  VelkoTestFailTrackedAllocation(0);
  EXPECT_EQ(text.status, VELKO_ERR_MEMORY);
  EXPECT_EQ(text.data, nullptr);
}

/* ---- GenerateHTML's result ---- */

using HandOverTest = driver_testing::DriverTest;

TEST_F(HandOverTest, GenerateHTMLHandsOverItsBufferCutToTheText) {
  Load(cdbuild::Body().Add(cdbuild::Paragraph()).Add(cdbuild::Text("Hello")));
  VelkoRTChunk *chunk = chunk_;
  char *result = chunk->GenerateHTML("", "Plain Text", nullptr, 0, nullptr, nullptr);
  ASSERT_NE(result, nullptr);
  EXPECT_STREQ(result, "Hello");
  const velko_allocation *holder = HolderOf(session_.get(), result);
  ASSERT_NE(holder, nullptr);
  EXPECT_TRUE(holder->InUse());
  EXPECT_EQ(holder->size, 6u);
  VelkoDeallocatePtr(session_.get(), result);

  const std::string preface(500000, 'p');
  const std::string options = "Preface=" + preface;
  result = chunk->GenerateHTML("", "Plain Text", options.c_str(), 0, nullptr, nullptr);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(std::string(result), preface + "Hello");
  EXPECT_EQ(session_.get()->render_result_length, 500005u);
  EXPECT_EQ(session_.get()->result_length, 0xFFFF); // the word of the old interface
  // The buffer grew past the text (to 745014 bytes); cut and handed over,
  // no block of that size stays behind. The blocks of 500010 bytes are
  // copies of the option string.
  for (const auto &[size, inUse] : HeapBlocks(session_.get()))
    EXPECT_LE(size, 500010u);
  holder = HolderOf(session_.get(), result);
  ASSERT_NE(holder, nullptr);
  EXPECT_EQ(holder->size, 500006u);
  VelkoDeallocatePtr(session_.get(), result);
}

} // namespace
