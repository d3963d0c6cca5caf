// Text files appended through VelkoRTChunk::AppendImportFile with the
// built-in "Velko" import: one CDTEXT a line in the default font, a
// paragraph and a reference between lines; CR, LF and CR LF end lines and
// the last line end starts nothing; lines cut at the line length (0 and
// 40000 give 132) and never inside a character; UTF-8 files (with a mark,
// or valid and not all ASCII) translated to LMBCS and others taken as they
// are; a missing file gives 259 and secondary status 20014.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/record_lines.h"
#include "tests/support/test_fixture.h"

namespace {

using engine_test::Bytes;
using engine_test::PabDef;
using engine_test::PabRef;
using engine_test::Paragraph;
using engine_test::Text;

class TextFileTest : public engine_test::EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    path_ = ::testing::TempDir() + "velko_text_" + std::to_string(getpid()) + ".txt";
  }
  void TearDown() override {
    std::remove(path_.c_str());
    EngineTest::TearDown();
  }

  std::vector<Bytes> Original() { return {PabDef(1), PabRef(1), Text("x")}; }

  /* The body after the file of the content is appended with the options. */
  std::vector<std::string> Import(const std::string& content, const char* options,
                                  STATUS* status, WORD* secondary) {
    Restart();
    AppendItem(Original());
    std::ofstream(path_, std::ios::binary) << content;
    VelkoRTChunk* chunk = Chunk("Everything");
    *status = chunk->AppendImportFile(path_.c_str(), options);
    *secondary = chunk->secondary_status;
    return note_testing::RecordLines(Values());
  }

  /* The original body followed by the lines as the import writes them. */
  std::vector<std::string> Expected(const std::vector<std::string>& lines) {
    std::vector<Bytes> records = Original();
    for (size_t i = 0; i < lines.size(); ++i) {
      if (i > 0) {
        records.push_back(Paragraph());
        records.push_back(PabRef(1));
      }
      records.push_back(Text(lines[i]));
    }
    return note_testing::RecordLines({note_testing::Value(note_testing::Records(records))});
  }

  std::string path_;
};

TEST_F(TextFileTest, LinesBecomeTextRunsBetweenParagraphs) {
  const std::string a140(140, 'a');
  struct Case {
    const char* name;
    std::string content;
    const char* options;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"LF", "ab\ncd", "Velko", {"ab", "cd"}},
      {"CR LF, the last one ending the file", "ab\r\ncd\r\n", "velko", {"ab", "cd"}},
      {"CR", "ab\rcd\r", "VELKO", {"ab", "cd"}},
      {"empty lines", "a\n\nb\r\n\r\n", "Velko", {"a", "", "b", ""}},
      {"LF then CR is two line ends", "a\n\rb", "Velko", {"a", "", "b"}},
      {"a lone line end", "\n", "Velko", {""}},
      {"an empty file", "", "Velko", {}},
      {"cut at the line length", "abcdefg\nhi", "Velko LineLength=3", {"abc", "def", "g", "hi"}},
      {"LineLength=0 gives 132", a140, "Velko LineLength=0", {a140.substr(0, 132), "aaaaaaaa"}},
      {"LineLength=40000 gives 132", a140, "Velko LineLength=40000",
       {a140.substr(0, 132), "aaaaaaaa"}},
      {"no LineLength gives 132", a140, "Velko", {a140.substr(0, 132), "aaaaaaaa"}},
      // LMBCS (not UTF-8): the three-byte character is not cut, and goes
      // whole into a piece of its own when it is longer than a line.
      {"a character at the cut", "ab\x14\x20\xAC" "c", "Velko LineLength=3",
       {"ab", "\x14\x20\xAC", "c"}},
      {"a character longer than the line", "a\x14\x20\xAC", "Velko LineLength=1",
       {"a", "\x14\x20\xAC"}},
      {"CR and LF inside a character end no line", std::string("a\x14\x0A\x0D" "b\nc\x14\x0D", 9),
       "Velko", {"a\x14\x0A\x0D" "b", "c\x14\x0D"}},
      {"UTF-8 with its mark", "\xEF\xBB\xBF" "caf\xC3\xA9", "Velko", {"caf\x82"}},
      {"UTF-8 mark on ASCII", "\xEF\xBB\xBF" "abc", "Velko", {"abc"}},
      {"valid UTF-8 beyond ASCII", "\xE2\x82\xAC 1\n\xC3\xA9", "Velko", {"\x14\x20\xAC 1", "\x82"}},
      {"UTF-8 cut after translation", "\xC3\xA9\xC3\xA9\xC3\xA9", "Velko LineLength=2",
       {"\x82\x82", "\x82"}},
      {"code page bytes are not UTF-8", "caf\x82", "Velko", {"caf\x82"}},
      {"an overlong form is not UTF-8", "\xC0\xAF", "Velko", {"\xC0\xAF"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    STATUS status = 0;
    WORD secondary = 0;
    EXPECT_EQ(Import(c.content, c.options, &status, &secondary), Expected(c.lines));
    EXPECT_EQ(status, NOERROR);
    EXPECT_EQ(secondary, 0);
  }
}

TEST_F(TextFileTest, AMissingFileGives259And20014AndLeavesTheBody) {
  Restart();
  AppendItem(Original());
  const std::vector<Bytes> before = Values();
  VelkoRTChunk* chunk = Chunk("Everything");
  const std::string missing = path_ + ".missing.txt";
  EXPECT_EQ(chunk->AppendImportFile(missing.c_str(), "Velko"), VELKO_ERR_NO_INPUT);
  EXPECT_EQ(chunk->secondary_status, VELKO_ERR_IMPORT_FAILED);
  EXPECT_EQ(Values(), before);
}

} // namespace
