// Action 9 stops at the 65340-byte limit with the separators counted.
// (The text itself is in the engine corpus.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_fixture.h"
#include "store/vocabulary.h"

namespace {

using namespace engine_test;

class QueryTextTest : public EngineTest {
protected:
  std::string GetText(const char* definition, WORD allRuns, const char* separator) {
    VelkoRTChunk* chunk = Chunk(definition);
    session_->result_length = 0;
    session_->result_text[0] = '\0';
    EXPECT_EQ(Run(chunk, ACTION_GET_TEXT, PROP_TEXT, allRuns, separator), NOERROR);
    EXPECT_EQ(chunk->status, VELKO_STATUS_READ_ONLY);
    EXPECT_EQ(std::strlen(session_->result_text), session_->result_length);
    return std::string(session_->result_text, session_->result_length);
  }
};

TEST_F(QueryTextTest, TextStopsAtTheLimitWithTheSeparatorsCounted) {
  std::vector<Bytes> records = {PabDef(1), PabRef(1)};
  for (int i = 0; i < 7; ++i)
    records.push_back(Text(std::string(10000, static_cast<char>('a' + i))));
  // Seven items of one run each: the body would not fit one item.
  for (const Bytes& record : records)
    AppendItem({record});
  const std::string text = GetText("Everything", 1, "--");
  ASSERT_EQ(text.size(), 65340u);
  EXPECT_EQ(text.substr(0, 10002), std::string(10000, 'a') + "--");
  EXPECT_EQ(text.substr(65340 - 5), std::string(5, 'g'));
  // Six runs with five separators take 60010 bytes; the seventh run gets
  // its separator and what remains: 5328 bytes.
  EXPECT_EQ(text.substr(60010, 2), "--");
  EXPECT_EQ(text.substr(60012), std::string(5328, 'g'));

  // A separator that no longer fits takes nothing more.
  const std::string exact = GetText("Everything", 1, std::string(65340, '-').c_str());
  EXPECT_EQ(exact, "");
}

} // namespace
