// The class interface called the way callers get it wrong or unusually:
// texts whose given length holds line breaks, matching on the default
// chunk of an item that was disconnected, an item connected again and
// again.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "store/session.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;

class CallerMisuseTest : public EngineTest {
protected:
  /* Every text run of the chunk, joined by "|". */
  std::string Runs(VelkoRTChunk* chunk) {
    char text[256] = {};
    chunk->GetText(nullptr, text, sizeof text, 1, "|");
    return text;
  }
};

/* A length is the caller's count of bytes: a NUL inside it is a line
 * break of the text, kept, not the text's end. */
TEST_F(CallerMisuseTest, AGivenLengthKeepsTheLineBreaksInside) {
  AppendItem({PabDef(1), PabRef(1), Text("hello")});
  VelkoRTChunk* chunk = Chunk("Everything");
  ASSERT_NE(chunk, nullptr);
  ASSERT_EQ(chunk->AppendText("one\0two", 7, nullptr), NOERROR);
  ASSERT_EQ(chunk->SetText("Text 1", "a\0b", 3, nullptr), NOERROR);
  const std::vector<Bytes> values = Values();
  ASSERT_FALSE(values.empty());
  const std::string stored(values[0].begin(), values[0].end());
  EXPECT_NE(stored.find(std::string("one\0two", 7)), std::string::npos);
  EXPECT_NE(stored.find(std::string("a\0b", 3)), std::string::npos);
}

TEST_F(CallerMisuseTest, MatchingOnTheDefaultChunkOfADisconnectedItemIsRefused) {
  AppendItem({PabDef(1), PabRef(1), Text("hello world")});
  Connect();
  VelkoRTChunk* everything = item_->default_chunk;
  item_->CleanupTraces();
  ASSERT_EQ(everything->item, nullptr);
  EXPECT_EQ(everything->LinkMatching("", kDbPath, "Keywords", "Key", nullptr, nullptr, 2386),
            VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(everything->KeywordMatching("", kDbPath, "Keywords", "Key", nullptr, nullptr),
            VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(everything->WikiMatching("@", kDbPath, "Pages", "Title", nullptr, nullptr),
            VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(everything->status, VELKO_ERR_BAD_ARGUMENT);
}

TEST_F(CallerMisuseTest, ItemConnectedAgainKeepsOneDefaultChunk) {
  AppendItem({PabDef(1), PabRef(1), Text("hello world")});
  Connect();
  VelkoRTChunk* everything = item_->default_chunk;
  ASSERT_NE(everything, nullptr);
  ASSERT_EQ(everything->ZoomIn("Text 1"), 1);
  auto chunks = [&] {
    int count = 0;
    for (const VelkoRTChunk* chunk = session_->chunks; chunk != nullptr; chunk = chunk->next)
      ++count;
    return count;
  };
  const int before = chunks();
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(i % 2 == 0 ? item_->ConnectBackend(note_, "Body", 0)
                         : item_->CreateBackend(note_, "Body", 0),
              NOERROR);
  }
  EXPECT_EQ(chunks(), before);
  EXPECT_EQ(item_->default_chunk, everything);
  EXPECT_EQ(everything->item, item_);
  EXPECT_STREQ(everything->definition, "Everything");
  EXPECT_EQ(everything->unzoomed_definition, nullptr);
  EXPECT_EQ(Runs(everything), "hello world");
}

} // namespace
