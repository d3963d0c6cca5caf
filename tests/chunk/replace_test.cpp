// Replacing text in a text run: every occurrence, the same-length action,
// the chunk's search flags, the bound of the result and its memory.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "chunk/rtchunk_internal.h"
#include "chunk/search.h"
#include "engine/process_state.h"
#include "host/host_testing.h"
#include "store/tracked_memory.h"

namespace {

class ReplaceTextTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    state_.session = session_.get();
    state_.chunk = &chunk_;
    state_.action = 2392;
  }

  void TearDown() override { ReleaseReplacedText(session_.get(), &result_); }

  /* Sets the search and replacement texts with their lengths (0: string
   * length). */
  void Texts(const char* search, WORD searchLength, const char* replacement,
             WORD replacementLength) {
    state_.s2 = search;
    state_.p2 = searchLength;
    state_.s1 = replacement;
    state_.p1 = replacementLength;
  }

  STATUS Replace(const std::string& text, DWORD capacity = 0xFFFFFFFFu) {
    ReleaseReplacedText(session_.get(), &result_);
    return ReplaceTextInBuffer(text.data(), static_cast<WORD>(text.size()), &state_, capacity,
                               &result_);
  }

  std::string Result() const { return std::string(result_.text, result_.length); }

  std::unique_ptr<LSXLsiSession> session_ = std::make_unique<LSXLsiSession>();
  VelkoRTChunk chunk_{session_.get(), nullptr};
  chunk_process_state state_;
  replaced_text result_;
};

TEST_F(ReplaceTextTest, ReplacesEveryOccurrence) {
  struct Case {
    const char* search;
    WORD searchLength;
    const char* replacement;
    WORD replacementLength;
    std::string text;
    std::string expected;
    DWORD matches;
    WORD action = 2392;
  };
  const Case cases[] = {
      {"a", 0, "bb", 0, "banana", "bbbnbbnbb", 3},
      {"a", 1, "", 0, "banana", "bnn", 3},
      {"an", 0, nullptr, 0, "banana", "ba", 2},
      {"xyz", 0, "Q", 0, "banana", "banana", 0},
      {"", 0, "Q", 0, "banana", "banana", 0},
      {nullptr, 0, "Q", 0, "banana", "banana", 0},
      {"a", 0, "b", 0, "", "", 0},
      {"anXX", 2, "QRS", 1, "banana", "bQQa", 2}, // the given lengths
      // An occurrence that begins where another ends is replaced too; one
      // that overlaps the occurrence before it is not.
      {"aa", 0, "b", 0, "aaaaa", "bba", 2},
      {"ana", 0, "X", 0, "banana", "bXna", 1},
      // Trail bytes of a multi-byte character are not replaced.
      {"ab", 0, "!", 0,
       "\x14"
       "ab ab",
       "\x14"
       "ab !",
       1},
      {"a", 0, "bbb", 0, std::string(3000, 'a'), std::string(9000, 'b'), 3000},
      // Action 2399 copies at most the matched length, and never reads a
      // shorter replacement past its end.
      {"an", 0, "XYZ", 0, "banana", "bXYXYa", 2, 2399},
      {"an", 0, "Q", 0, "banana", "bQQa", 2, 2399},
      // ... cut between whole characters: of two three-byte characters
      // one fits a four-byte match, none a two-byte one.
      {"anan", 0, "\x14\x4e\x2d\x14\x4e\x2d", 0, "banana", "b\x14\x4e\x2d" "a", 1, 2399},
      {"an", 0, "\x14\x4e\x2d", 0, "banana", "ba", 2, 2399},
  };
  for (const Case& c : cases) {
    Texts(c.search, c.searchLength, c.replacement, c.replacementLength);
    state_.action = c.action;
    ASSERT_EQ(Replace(c.text), NOERROR) << c.expected;
    EXPECT_EQ(Result(), c.expected);
    EXPECT_EQ(result_.matches, c.matches) << c.expected;
    EXPECT_EQ(result_.text[result_.length], '\0');
  }
}

TEST_F(ReplaceTextTest, UsesTheChunksFlags) {
  Texts("A", 0, "_", 0);
  ASSERT_EQ(Replace("aAa"), NOERROR);
  EXPECT_EQ(Result(), "___");
  chunk_.CaseSensitive = 1;
  ASSERT_EQ(Replace("aAa"), NOERROR);
  EXPECT_EQ(Result(), "a_a");

  chunk_.CaseSensitive = 0;
  chunk_.SearchWordBoundaries = 1;
  Texts("cat", 0, "dog", 0);
  ASSERT_EQ(Replace("cat cats bobcat cat."), NOERROR);
  EXPECT_EQ(Result(), "dog cats bobcat dog.");

  chunk_.SearchWordBoundaries = 0;
  Texts("c*t", 0, "-", 0);
  ASSERT_EQ(Replace("cat cut"), NOERROR);
  EXPECT_EQ(Result(), "cat cut"); // '*' is a character without wildcards
  chunk_.TextWildcards = 1;
  ASSERT_EQ(Replace("cat cut"), NOERROR);
  EXPECT_EQ(Result(), "- -");
  chunk_.TextWildcards = 0;
  state_.text_wildcards = 1; // or when the operation asks for them
  ASSERT_EQ(Replace("cat cut"), NOERROR);
  EXPECT_EQ(Result(), "- -");
}

TEST_F(ReplaceTextTest, LatestMatchIsLeftInFirstScratchText) {
  chunk_.TextWildcards = 1;
  Texts("b?", 0, "", 0);
  ASSERT_EQ(Replace("b1 b2 b3"), NOERROR);
  EXPECT_STREQ(session_->scratch_first, "b3");
  Texts("x*", 0, "", 0); // a match longer than the scratch text is cut to fit
  ASSERT_EQ(Replace("x" + std::string(5000, 'y')), NOERROR);
  EXPECT_EQ(std::string(session_->scratch_first), "x" + std::string(4094, 'y'));
}

TEST_F(ReplaceTextTest, ResultBeyondCapacityReplacesNothing) {
  Texts("a", 0, "bb", 0);
  chunk_.secondary_status = 0;
  EXPECT_EQ(Replace("banana", 8), VELKO_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(result_.text, nullptr);
  EXPECT_EQ(result_.length, 0u);
  EXPECT_EQ(chunk_.secondary_status, VELKO_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(state_.secondary_status, VELKO_ERR_INVALID_ARGUMENT);
  // Exactly the capacity fits.
  ASSERT_EQ(Replace("banana", 9), NOERROR);
  EXPECT_EQ(Result(), "bbbnbbnbb");
}

TEST_F(ReplaceTextTest, MemoryFailureIsReportedAndReleasedBlocksGoBackToThePool) {
  Texts("a", 0, "b", 0);
  HostTestFailAllocationsFrom(1);
  const STATUS status = Replace("banana");
  HostTestFailAllocationsFrom(0);
  EXPECT_EQ(status, VELKO_ERR_MEMORY);
  EXPECT_EQ(result_.text, nullptr);

  ASSERT_EQ(Replace("banana"), NOERROR);
  char* first = result_.text;
  ReleaseReplacedText(session_.get(), &result_);
  EXPECT_EQ(result_.text, nullptr);
  ASSERT_EQ(Replace("banana"), NOERROR);
  EXPECT_EQ(result_.text, first); // the pool hands the same block out again
}

TEST_F(ReplaceTextTest, StateWithoutSessionOrChunkIsRefused) {
  Texts("a", 0, "b", 0);
  state_.chunk = nullptr;
  EXPECT_EQ(Replace("banana"), VELKO_ERR_BAD_ARGUMENT);
  state_.chunk = &chunk_;
  state_.session = nullptr;
  EXPECT_EQ(Replace("banana"), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(ReplaceTextInBuffer("a", 1, &state_, 10, nullptr), VELKO_ERR_BAD_ARGUMENT);
}

} // namespace
