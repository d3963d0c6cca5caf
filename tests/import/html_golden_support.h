// The golden runner of the HTML import tests: an item holding kOriginal's
// records, HTML appended through VelkoRTChunk::AppendHTML, and the item's
// records after it compared with kOriginal's followed by a hand-written
// record script.
#ifndef VELKO_TESTS_IMPORT_HTML_GOLDEN_SUPPORT_H
#define VELKO_TESTS_IMPORT_HTML_GOLDEN_SUPPORT_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "cdbuild/cd_script.h"
#include "store/owned_text.h"
#include "store/rtitem_internal.h"
#include "tests/support/record_lines.h"
#include "tests/support/test_fixture.h"

namespace html_golden {

using engine_test::Bytes;

/* The item's records before each import. */
constexpr const char* kOriginal = "PABDEF id=1 ext=1440,0,1440,0,0,0\nPABREF id=1\nTEXT text=\"x\"\n";

struct golden_case {
  const char* name;
  std::string html;
  const char* options;
  std::string script; /* the records after the item's own */
};

class HtmlImportTest : public engine_test::EngineTest {
protected:
  ~HtmlImportTest() override {
    if (!path_.empty())
      std::remove(path_.c_str()); // not in TearDown: Restart calls that
  }

  /* The item's records, starting from original_'s, after the append. */
  std::vector<std::string> Append(const char* source, const std::string& text,
                                  const char* options, STATUS* status, WORD* secondary,
                                  const char* urlFont = nullptr) {
    Restart();
    AppendItem(Script(original_));
    if (urlFont != nullptr) {
      Connect();
      delete[] item_->URLFont;
      item_->URLFont = CopyOwnedText(urlFont);
    }
    VelkoRTChunk* chunk = Chunk("Everything");
    *status = chunk->AppendHTML(source, text.c_str(), options);
    *secondary = chunk->secondary_status;
    return note_testing::RecordLines(Values());
  }

  /* The lines of original_ followed by the script's records. */
  std::vector<std::string> Expected(const std::string& script) const {
    return note_testing::RecordLines(
        {note_testing::Value(note_testing::Records(Script(original_ + script)))});
  }

  /* Each case appended as inline HTML: its records, status 0 and no
   * secondary status. */
  template <size_t N> void ExpectGolden(const golden_case (&cases)[N]) {
    for (const golden_case& c : cases) {
      SCOPED_TRACE(c.name);
      STATUS status = 0;
      WORD secondary = 0;
      EXPECT_EQ(Append("INLINE", c.html, c.options, &status, &secondary), Expected(c.script));
      EXPECT_EQ(status, NOERROR);
      EXPECT_EQ(secondary, 0);
    }
  }

  /* The item rendered by GenerateHTML as HTML 4.01. */
  std::string Rendered() {
    VelkoRTChunk* chunk = Chunk("Everything");
    char* html = chunk->GenerateHTML("", "HTML 4.01", "", 0, nullptr, nullptr);
    EXPECT_NE(html, nullptr);
    if (html == nullptr)
      return std::string();
    const std::string rendered(html, session_->render_result_length);
    VelkoDeallocatePtr(session_, html);
    return rendered;
  }

  /* The inline HTML appended (status 0) and the item rendered. */
  std::string RenderedImport(const std::string& html) {
    STATUS status = 0;
    WORD secondary = 0;
    Append("INLINE", html, "", &status, &secondary);
    EXPECT_EQ(status, NOERROR);
    return Rendered();
  }

  static std::vector<Bytes> Script(const std::string& script) {
    cdbuild::Body body;
    cdbuild::ScriptError error;
    EXPECT_TRUE(cdbuild::BuildScript(script, &body, &error))
        << "line " << error.line << ": " << error.message;
    return body.records();
  }

  std::string WriteFile(const std::string& content) {
    path_ = ::testing::TempDir() + "velko_html_" + std::to_string(getpid()) + ".htm";
    std::ofstream(path_, std::ios::binary) << content;
    return path_;
  }

  std::string path_;
  /* The item's records before each import. */
  std::string original_ = kOriginal;
};

} // namespace html_golden

#endif
