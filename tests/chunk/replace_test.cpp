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
  Texts("a", 0, "bb", 0);
  ASSERT_EQ(Replace("banana"), NOERROR);
  EXPECT_EQ(Result(), "bbbnbbnbb");
  EXPECT_EQ(result_.length, 9u);
  EXPECT_EQ(result_.matches, 3u);
  EXPECT_EQ(result_.text[9], '\0');
}

TEST_F(ReplaceTextTest, EmptyOrMissingReplacementDeletes) {
  Texts("a", 1, "", 0);
  ASSERT_EQ(Replace("banana"), NOERROR);
  EXPECT_EQ(Result(), "bnn");
  Texts("an", 0, nullptr, 0);
  ASSERT_EQ(Replace("banana"), NOERROR);
  EXPECT_EQ(Result(), "ba");
  EXPECT_EQ(result_.matches, 2u);
}

TEST_F(ReplaceTextTest, NoMatchGivesTextUnchanged) {
  Texts("xyz", 0, "Q", 0);
  ASSERT_EQ(Replace("banana"), NOERROR);
  EXPECT_EQ(Result(), "banana");
  EXPECT_EQ(result_.matches, 0u);
  Texts("", 0, "Q", 0);
  ASSERT_EQ(Replace("banana"), NOERROR);
  EXPECT_EQ(Result(), "banana");
  Texts(nullptr, 0, "Q", 0);
  ASSERT_EQ(Replace("banana"), NOERROR);
  EXPECT_EQ(Result(), "banana");
  ASSERT_EQ(Replace(""), NOERROR);
  EXPECT_EQ(Result(), "");
  EXPECT_EQ(result_.length, 0u);
}

TEST_F(ReplaceTextTest, StoredLengthsAreUsed) {
  Texts("anXX", 2, "QRS", 1);
  ASSERT_EQ(Replace("banana"), NOERROR);
  EXPECT_EQ(Result(), "bQQa");
}

TEST_F(ReplaceTextTest, SameLengthActionCopiesAtMostTheMatchedLength) {
  state_.action = 2399;
  Texts("an", 0, "XYZ", 0);
  ASSERT_EQ(Replace("banana"), NOERROR);
  EXPECT_EQ(Result(), "bXYXYa");
  Texts("an", 0, "Q", 0); // a shorter replacement is not read past its end
  ASSERT_EQ(Replace("banana"), NOERROR);
  EXPECT_EQ(Result(), "bQQa");
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

TEST_F(ReplaceTextTest, MultiByteTrailBytesAreNotReplaced) {
  Texts("ab", 0, "!", 0);
  ASSERT_EQ(Replace("\x14"
                    "ab ab"),
            NOERROR);
  EXPECT_EQ(Result(), "\x14"
                      "ab !");
}

TEST_F(ReplaceTextTest, ResultLargerThanAScratchTextIsBuilt) {
  Texts("a", 0, "bbb", 0);
  ASSERT_EQ(Replace(std::string(3000, 'a')), NOERROR);
  EXPECT_EQ(Result(), std::string(9000, 'b'));
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

TEST_F(ReplaceTextTest, MemoryFailureIsReported) {
  Texts("a", 0, "b", 0);
  HostTestFailAllocationsFrom(1);
  const STATUS status = Replace("banana");
  HostTestFailAllocationsFrom(0);
  EXPECT_EQ(status, VELKO_ERR_MEMORY);
  EXPECT_EQ(result_.text, nullptr);
}

TEST_F(ReplaceTextTest, ReleasedBlockGoesBackToThePool) {
  Texts("a", 0, "b", 0);
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
