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

class HtmlImportTest : public engine_test::EngineTest {
protected:
  ~HtmlImportTest() override {
    if (!path_.empty())
      std::remove(path_.c_str()); // not in TearDown: Restart calls that
  }

  /* The item's records, starting from kOriginal's, after the append. */
  std::vector<std::string> Append(const char* source, const std::string& text,
                                  const char* options, STATUS* status, WORD* secondary,
                                  const char* urlFont = nullptr) {
    Restart();
    AppendItem(Script(kOriginal));
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

  /* The lines of kOriginal followed by the script's records. */
  static std::vector<std::string> Expected(const std::string& script) {
    return note_testing::RecordLines(
        {note_testing::Value(note_testing::Records(Script(kOriginal + script)))});
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
};

struct golden_case {
  const char* name;
  std::string html;
  const char* options;
  std::string script; /* the records after the item's own */
};

} // namespace html_golden

#endif
