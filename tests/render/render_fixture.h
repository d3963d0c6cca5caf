// Test support for the rendering core: a session with a bare chunk and a
// rendering context set up as an entry point would, a fixed source for the
// generator comment, readers of the held text, and a temporary directory
// for the files a run writes.
#ifndef VELKO_TESTS_RENDER_RENDER_FIXTURE_H
#define VELKO_TESTS_RENDER_RENDER_FIXTURE_H

#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "chunk/rtchunk_internal.h"
#include "host/host_testing.h"
#include "host/nls.h"
#include "render/output_buffer.h"
#include "render/output_stage.h"
#include "render/render_info.h"
#include "store/session.h"

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

/* The whole content of the file at the path. */
inline std::string ReadPath(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

/* A new directory made the session's temporary directory; emptied and
 * removed at the end. */
class TempDirectory {
public:
  explicit TempDirectory(LSXLsiSession *session) {
    char pattern[] = "/tmp/velko-render-XXXXXX";
    EXPECT_NE(mkdtemp(pattern), nullptr);
    path = pattern;
    HostTestSetEnvironment("$TarnoTempDirectory", path.c_str());
    session->InitializeTempDirectory();
  }
  ~TempDirectory() {
    for (const std::string &name : Files())
      unlink((path + "/" + name).c_str());
    rmdir(path.c_str());
  }

  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    if (DIR *dir = opendir(path.c_str())) {
      while (dirent *entry = readdir(dir)) {
        if (entry->d_name[0] != '.')
          names.push_back(entry->d_name);
      }
      closedir(dir);
    }
    return names;
  }

  std::string path;
};

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

  /* A fresh context in place of the test's one. */
  void Renew() {
    chunk_.internal->render_context = nullptr;
    ReleaseRenderContext(context_);
    context_ = CreateRenderContext(session_.get(), &chunk_);
    chunk_.internal->render_context = context_;
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
