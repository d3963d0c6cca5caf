// A work text that outgrew its room gives its tracked block back when it
// goes out of scope, also on a path that returns without freeing it.
#include <gtest/gtest.h>

#include <string>

#include "render_fixture.h"
#include "store/session.h"
#include "store/tracked_memory.h"

namespace {

using render_testing::RenderContextTest;

class RenderTextScopeTest : public RenderContextTest {};

TEST_F(RenderTextScopeTest, AGrownTextFreesItsBlockAtTheEndOfItsScope) {
  const velko_allocation* holder = nullptr;
  {
    render_text text{session_.get()};
    const std::string markup(2 * kRenderTextRoom, 'm');
    ASSERT_EQ(RenderTextPut(&text, markup.data(), markup.size()), NOERROR);
    for (velko_allocation* block = session_->internal->pool; block != nullptr;
         block = block->next) {
      if (block->data == text.data)
        holder = block;
    }
    ASSERT_NE(holder, nullptr);
    EXPECT_TRUE(holder->InUse());
  }
  EXPECT_FALSE(holder->InUse());
}

} // namespace
