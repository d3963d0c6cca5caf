// Test support for the rendering core: a session with a bare chunk and a
// rendering context set up as an entry point would, a fixed source for the
// generator comment, and readers of the held text.
#ifndef VELKO_TESTS_RENDER_RENDER_FIXTURE_H
#define VELKO_TESTS_RENDER_RENDER_FIXTURE_H

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "chunk/rtchunk_internal.h"
#include "host/host_testing.h"
#include "host/nls.h"
#include "render/output_buffer.h"
#include "render/output_stage.h"
#include "render/render_info.h"

namespace render_testing {

inline void FixedDate(WORD *month, WORD *day, WORD *year) {
  *month = 3;
  *day = 7;
  *year = 2025;
}
inline const char *FixedVersion() { return "velko test"; }
inline const render_frame_source kFixedSource = {FixedDate, FixedVersion};
inline const char *kGeneratorComment = "<!-- velko test, 03/07/2025 -->";

/* Text handed to the output callback, one entry per call. */
inline std::vector<std::string> &CallbackPieces() {
  static std::vector<std::string> pieces;
  return pieces;
}

inline WORD RecordPiece(VelkoRTChunk *, const char *text, WORD length) {
  CallbackPieces().emplace_back(text, length);
  return 0;
}

inline std::string Lmbcs(const char *utf8) { return LmbcsFromUtf8(utf8); }

class RenderContextTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    HostTestCaptureLog(true);
    HostTestCaptureMessages();
    CallbackPieces().clear();
    SetRenderFrameSource(&kFixedSource);
    context_ = CreateRenderContext(session_.get(), &chunk_);
    ASSERT_NE(context_, nullptr);
    chunk_.internal->render_context = context_;
  }

  void TearDown() override {
    chunk_.internal->render_context = nullptr;
    ReleaseRenderContext(context_);
    SetRenderFrameSource(nullptr);
    HostTestReset();
  }

  /* Output into a buffer of this run (caller buffer when given). */
  void UseOutput(char *buffer = nullptr, DWORD capacity = 0) {
    ASSERT_EQ(SetupRenderOutput(context_, buffer, capacity), NOERROR);
  }

  std::string Held() const { return std::string(context_->output_buffer, context_->output_length); }

  std::unique_ptr<LSXLsiSession> session_ = std::make_unique<LSXLsiSession>();
  VelkoRTChunk chunk_{session_.get(), nullptr};
  html_render_info *context_ = nullptr;
};

} // namespace render_testing

#endif
