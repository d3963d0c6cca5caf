// Finding text in a text run: plain patterns, case and accents, wildcards,
// word boundaries and multi-byte LMBCS characters.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "chunk/search.h"
#include "host/host_testing.h"
#include "host/nls.h"

namespace {

/* A seeded generator for the randomized cases, so that a failing round
 * comes again: a number below bound. */
struct random_numbers {
  unsigned seed;
  unsigned operator()(unsigned bound) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % bound;
  }
};

/* The upper case of an ASCII letter; any other byte as it is. */
char FoldAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

/* SearchBuffer over the whole text for the whole pattern, without
 * wildcards: where it matched (-1: nowhere), and the matched length. */
int32_t SearchText(const std::string& text, const std::string& pattern, bool caseSensitive,
                   bool accentSensitive, WORD* length) {
  return SearchBuffer(text.data(), static_cast<WORD>(text.size()), pattern.data(),
                      static_cast<WORD>(pattern.size()), FALSE, caseSensitive, accentSensitive,
                      FALSE, FALSE, length, nullptr);
}

struct SearchCase {
  const char* name;
  std::string text;
  std::string pattern;
  bool wildcards;
  bool caseSensitive;
  bool accentSensitive;
  bool words;
  int32_t offset;
  WORD length; /* checked when offset >= 0 */
};

std::ostream& operator<<(std::ostream& out, const SearchCase& c) { return out << c.name; }

int32_t Find(const SearchCase& c, WORD* length) {
  return SearchBuffer(c.text.data(), static_cast<WORD>(c.text.size()), c.pattern.data(),
                      static_cast<WORD>(c.pattern.size()), c.wildcards, c.caseSensitive,
                      c.accentSensitive, c.words, FALSE, length, nullptr);
}

class SearchBufferTest : public ::testing::TestWithParam<SearchCase> {
protected:
  void SetUp() override { HostTestReset(); }
};

TEST_P(SearchBufferTest, FindsFirstMatch) {
  const SearchCase& c = GetParam();
  WORD length = 0xBEEF;
  const int32_t offset = Find(c, &length);
  EXPECT_EQ(offset, c.offset);
  if (c.offset >= 0) {
    EXPECT_EQ(length, c.length);
  }
}

// LMBCS of a few characters: é is the code-page-850 byte 0x82; U+6162 is
// the group 0x14 followed by "ab", so its trail bytes read as ASCII "ab".
const std::string kEAcute = "\x82";
const std::string kTrailAB = "\x14"
                             "ab";

INSTANTIATE_TEST_SUITE_P(
    Plain, SearchBufferTest,
    ::testing::Values(
        SearchCase{"EmptyPattern", "abc", "", false, false, true, false, -1, 0},
        SearchCase{"EmptyText", "", "a", false, false, true, false, -1, 0},
        SearchCase{"EmptyTextStar", "", "*", true, false, true, false, -1, 0},
        SearchCase{"PatternLongerThanText", "ab", "abc", false, false, true, false, -1, 0},
        SearchCase{"Middle", "hello world", "world", false, false, true, false, 6, 5},
        SearchCase{"FirstOfTwo", "abab", "b", false, false, true, false, 1, 1},
        SearchCase{"IgnoresCase", "Hello", "hELLO", false, false, true, false, 0, 5},
        SearchCase{"CaseSensitiveRefuses", "Hello", "hello", false, true, true, false, -1, 0},
        SearchCase{"CaseSensitiveFinds", "hello Hello", "Hello", false, true, true, false, 6, 5},
        SearchCase{"IgnoresAccents", "caf" + kEAcute, "cafe", false, false, false, false, 0, 4},
        SearchCase{"AccentSensitiveRefuses", "caf" + kEAcute, "cafe", false, false, true, false, -1,
                   0},
        SearchCase{"QuestionIsLiteralWithoutWildcards", "a?c abc", "a?c", false, false, true, false,
                   0, 3},
        SearchCase{"StarIsLiteralWithoutWildcards", "abc a*c", "a*c", false, false, true, false, 4,
                   3}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Wildcards, SearchBufferTest,
    ::testing::Values(
        SearchCase{"TrailingStarRunsToEnd", "xxabcdef", "ab*", true, false, true, false, 2, 6},
        SearchCase{"StarGapZero", "zzabzz", "a*b", true, false, true, false, 2, 2},
        SearchCase{"StarShortestGap", "a1b2b", "a*b", true, false, true, false, 0, 3},
        SearchCase{"QuestionBeforeStarAnyCharacter", "xabc", "a?c", true, false, true, false, 1, 3},
        SearchCase{"QuestionAfterStarAnyByte", "xabc", "a*?c", true, false, true, false, 1, 3},
        SearchCase{"SuffixIgnoresCaseEvenCaseSensitive", "xabc", "a*BC", true, true, true, false, 1,
                   3},
        SearchCase{"PrefixKeepsCaseSensitivity", "xAbc", "a*bc", true, true, true, false, -1, 0},
        SearchCase{"LeadingStar", "xyzabc", "*bc", true, false, true, false, 0, 6},
        SearchCase{"StarMayStandForNothing", "ab", "ab*", true, false, true, false, 0, 2},
        SearchCase{"SuffixAbsent", "abcabc", "a*z", true, false, true, false, -1, 0},
        SearchCase{"SecondStarIsLiteralInSuffix", "a*b ab", "a**b", true, false, true, false, 0,
                   3}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    WordBoundaries, SearchBufferTest,
    ::testing::Values(
        SearchCase{"NotInsideWord", "concatenate", "cat", false, false, true, true, -1, 0},
        SearchCase{"NotAtStartOfLongerWordFollowedByText", "cats and dogs", "cat", false, false,
                   true, true, -1, 0},
        SearchCase{"NotAtStartOfLongerWordEndingText", "cats", "cat", false, false, true, true, -1,
                   0},
        SearchCase{"NotAtEndOfLongerWord", "bobcat", "cat", false, false, true, true, -1, 0},
        SearchCase{"BetweenSpaces", "a cat b", "cat", false, false, true, true, 2, 3},
        SearchCase{"BeforeFullStop", "the cat.", "cat", false, false, true, true, 4, 3},
        SearchCase{"WholeText", "cat", "cat", false, false, true, true, 0, 3},
        SearchCase{"LaterWholeWord", "cats cat", "cat", false, false, true, true, 5, 3},
        SearchCase{"AfterDigitIsAStart", "1cat", "cat", false, false, true, true, 1, 3},
        SearchCase{"StarSuffixBeforeLetterRejected", "a xyzb", "x*y", true, false, true, true, -1,
                   0},
        SearchCase{"StarSuffixAtTextEnd", "a xyz", "x*z", true, false, true, true, 2, 3},
        SearchCase{"StarSuffixNextGapTried", "xyz xay.", "x*y", true, false, true, true, 0, 7}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    MultiByte, SearchBufferTest,
    ::testing::Values(SearchCase{"NeverStartsInTrailBytes", kTrailAB + "ab", "ab", false, false,
                                 true, false, 3, 2},
                      SearchCase{"OnlyTrailBytesGiveNoMatch", kTrailAB, "ab", false, false, true,
                                 false, -1, 0},
                      SearchCase{"WholeCharacters", LmbcsFromUtf8("日本語テキスト"),
                                 LmbcsFromUtf8("語"), false, false, true, false, 6, 3},
                      SearchCase{"QuestionMatchesWholeCharacter", LmbcsFromUtf8("x日b"), "x?b",
                                 true, false, true, false, 0, 5},
                      SearchCase{"StarInsideCharacterIsNoWildcard", "a\x14**" + std::string("b"),
                                 "\x14**", true, false, true, false, 1, 3},
                      SearchCase{"SuffixNeverStartsInTrailBytes", "x" + kTrailAB, "x*b", true,
                                 false, true, false, -1, 0},
                      SearchCase{"SuffixNeverEndsInsideCharacter", "x" + kTrailAB + "z", "x*?",
                                 true, false, true, false, 0, 5},
                      // U+4E2D and U+6E2D differ in a trail byte's ASCII case
                      // alone: the suffix folds no trail byte, so the gap
                      // runs past the first to the second.
                      SearchCase{"SuffixKeepsTrailBytes", LmbcsFromUtf8("x渭 y中"),
                                 "x*" + LmbcsFromUtf8("中"), true, false, true, false, 0, 9},
                      SearchCase{"ThreeByteCharacterIsOneLetterForWords", LmbcsFromUtf8("日cat"),
                                 "cat", false, false, true, true, -1, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SearchBufferArguments, NullTextOrPatternFindsNothingAndTheLengthMayBeNull) {
  WORD length = 0;
  EXPECT_EQ(SearchBuffer(nullptr, 3, "a", 1, FALSE, FALSE, TRUE, FALSE, FALSE, &length, nullptr),
            -1);
  EXPECT_EQ(SearchBuffer("abc", 3, nullptr, 1, FALSE, FALSE, TRUE, FALSE, FALSE, &length, nullptr),
            -1);
  EXPECT_EQ(SearchBuffer("abc", 3, "c", 1, FALSE, FALSE, TRUE, FALSE, FALSE, nullptr, nullptr), 2);
}

TEST(SearchBufferArguments, ReadsNoByteBeyondTheGivenLength) {
  // The text goes on past its length: a match there is not seen.
  const char text[] = "abcdef";
  WORD length = 0;
  EXPECT_EQ(SearchBuffer(text, 3, "de", 2, FALSE, FALSE, TRUE, FALSE, FALSE, &length, nullptr), -1);
  EXPECT_EQ(SearchBuffer(text, 3, "c*", 2, TRUE, FALSE, TRUE, FALSE, FALSE, &length, nullptr), 2);
  EXPECT_EQ(length, 1);
}

TEST(SearchBufferArguments, TextOfLargestLengthIsCountedNotReadToNul) {
  // No NUL anywhere: a length of 0xFFFF must not be read as "up to the NUL".
  std::vector<char> text(0x10000, 'a');
  text[0xFFFE] = 'b';
  WORD length = 0;
  EXPECT_EQ(
      SearchBuffer(text.data(), 0xFFFF, "ab", 2, FALSE, TRUE, TRUE, FALSE, FALSE, &length, nullptr),
      0xFFFD);
  EXPECT_EQ(length, 2);
}

TEST(SearchBufferCollation, PrintableAsciiCharactersMatchAsTheCollationComparesThem) {
  // Each pair of printable ASCII characters, one as the text and one as
  // the pattern, under each case and accent setting: a match exactly when
  // the host's collation finds the two equal.
  HostTestReset();
  for (const bool caseSensitive : {false, true}) {
    for (const bool accentSensitive : {false, true}) {
      const WORD flags = static_cast<WORD>((caseSensitive ? INTL_CASE_SENSITIVE : 0) |
                                           (accentSensitive ? INTL_ACCENT_SENSITIVE : 0));
      for (int t = 0x20; t < 0x7F; ++t) {
        for (int p = 0x20; p < 0x7F; ++p) {
          const char text = static_cast<char>(t);
          const char pattern = static_cast<char>(p);
          const bool equal = IntlTextCompare(&pattern, 1, &text, 1, flags) == 0;
          const int32_t found = SearchBuffer(&text, 1, &pattern, 1, FALSE, caseSensitive,
                                             accentSensitive, FALSE, FALSE, nullptr, nullptr);
          ASSERT_EQ(found, equal ? 0 : -1) << "text " << t << " pattern " << p << " flags " << flags;
        }
      }
    }
  }
}

TEST(SearchBufferCollation, TextsPassedOverKeepTheirCharactersAndWordStarts) {
  // Long texts of printable ASCII before the match, with multi-byte
  // characters whose trail bytes read as the pattern's first letter.
  const std::string filler(40, 'x');
  const std::string trailW = "\x14wa";
  WORD length = 0;
  const std::string text = filler + trailW + " " + filler + "WALK";
  EXPECT_EQ(SearchBuffer(text.data(), static_cast<WORD>(text.size()), "walk", 4, FALSE, FALSE,
                         TRUE, FALSE, FALSE, &length, nullptr),
            static_cast<int32_t>(text.size() - 4));
  EXPECT_EQ(length, 4);
  // With word boundaries: not after the passed-over "x", but after the space.
  const std::string words = filler + "walk " + "walk";
  EXPECT_EQ(SearchBuffer(words.data(), static_cast<WORD>(words.size()), "walk", 4, FALSE, FALSE,
                         TRUE, TRUE, FALSE, &length, nullptr),
            static_cast<int32_t>(words.size() - 4));
}

/* A text searched for a pattern of printable ASCII, without wildcards or
 * word boundaries, and the offset expected. */
struct Probe {
  std::string text;
  const char* pattern;
  bool caseSensitive;
  int32_t offset;
};

template <size_t Count> void ExpectProbes(const Probe (&probes)[Count], const std::string& where) {
  for (const Probe& probe : probes) {
    WORD length = 0;
    EXPECT_EQ(SearchBuffer(probe.text.data(), static_cast<WORD>(probe.text.size()), probe.pattern,
                           static_cast<WORD>(strlen(probe.pattern)), FALSE, probe.caseSensitive,
                           FALSE, FALSE, FALSE, &length, nullptr),
              probe.offset)
        << where << " pattern " << probe.pattern << " text " << probe.text;
  }
}

TEST(SearchBufferCollation, PassOverStopsWhereverInALongTextTheStopStands) {
  // A long text of one printable ASCII byte with, at each offset, a byte
  // the pass-over must stop at: the pattern's first letter in either case,
  // an accented letter the collation finds equal to it, and a group byte
  // whose trail bytes read as the pattern.
  // The text passes sixteen bytes at a time where it can: stops stand in
  // the first, second and third block and across their edges.
  const std::string filler(48, 'x');
  for (size_t at = 0; at <= 40; ++at) {
    const std::string before = filler.substr(0, at);
    const std::string after = filler.substr(at);
    const Probe probes[] = {
        {before + "Walk" + after, "walk", false, static_cast<int32_t>(at)},
        {before + "Walk" + after, "walk", true, -1},
        {before + "wALK" + after + "walk", "walk", true, static_cast<int32_t>(filler.size() + 4)},
        {before + kEAcute + after, "e", false, static_cast<int32_t>(at)},
        {before + "w" + kEAcute + "lk" + after, "welk", false, static_cast<int32_t>(at)},
        {before + "W" + kEAcute + "LK" + after, "welk", true, -1},
        {before + kTrailAB + after, "ab", false, -1},
        {before + kTrailAB + after + "AB", "ab", false,
         static_cast<int32_t>(filler.size() + kTrailAB.size())},
    };
    ExpectProbes(probes, "at " + std::to_string(at));
  }
}

TEST(SearchBufferCollation, PassOverStopsInShortTextsAndInTheLastBytesOfLongerOnes) {
  // Texts shorter than sixteen bytes, and the last bytes of longer ones,
  // with a stop at each offset: the pattern's first letter in the other
  // case, an accented letter, a character that differs from a first
  // character that is no letter in 0x20 alone (no other form of it), and a
  // first letter where the rest does not follow, so that the pass-over
  // goes on from inside the last sixteen bytes, and a group byte whose
  // trail bytes read as the pattern.
  for (size_t size = 1; size <= 40; ++size) {
    for (size_t at = 0; at < size; ++at) {
      // size bytes of 'x' with the stop at `at`
      auto with = [&](const std::string& stop) {
        return std::string(at, 'x') + stop + std::string(size - at - 1, 'x');
      };
      const auto end = static_cast<int32_t>(size);
      const Probe probes[] = {
          {with("W"), "w", false, static_cast<int32_t>(at)},
          {with("W"), "w", true, -1},
          {with(kEAcute), "e", false, static_cast<int32_t>(at)},
          {with("`") + "@", "@", false, end},
          {with("w") + "wa", "wa", false, end},
          {with(kTrailAB) + "AB", "ab", false, end + 2},
      };
      ExpectProbes(probes, "size " + std::to_string(size) + " at " + std::to_string(at));
    }
  }
}

/* Printable ASCII texts and patterns: each byte is a character, and the
 * match is the first place where every byte equals the pattern's, or its
 * other case without regard to case. Random texts of a few letters in both
 * cases, long enough for several blocks of sixteen places, searched for
 * slices of themselves and for other words. */
TEST(SearchBufferAscii, PrintableTextsMatchWhereEveryByteMatches) {
  random_numbers next{99u};
  static const char kLetters[] = "aAbB c.";
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    for (unsigned n = next(90); n > 0; --n)
      text += kLetters[next(sizeof kLetters - 1)];
    std::string pattern;
    if (!text.empty() && next(2) == 0) {
      const size_t from = next(static_cast<unsigned>(text.size()));
      pattern = text.substr(from, 1 + next(6));
    } else {
      for (unsigned n = 1 + next(6); n > 0; --n)
        pattern += kLetters[next(sizeof kLetters - 1)];
    }
    const bool caseSensitive = next(2) == 0;
    int32_t expected = -1;
    for (size_t p = 0; expected < 0 && p + pattern.size() <= text.size(); ++p) {
      bool same = true;
      for (size_t i = 0; same && i < pattern.size(); ++i)
        same = caseSensitive ? text[p + i] == pattern[i]
                             : FoldAscii(text[p + i]) == FoldAscii(pattern[i]);
      if (same)
        expected = static_cast<int32_t>(p);
    }
    WORD length = 0;
    EXPECT_EQ(SearchText(text, pattern, caseSensitive, false, &length),
              expected)
        << "text '" << text << "' pattern '" << pattern << "' case " << caseSensitive;
    if (expected >= 0) {
      EXPECT_EQ(length, pattern.size()) << text << " / " << pattern;
    }
  }
}

TEST(SearchBufferCollation, PatternsWithAnAccentedLetterAnywhereAreComparedByTheCollation) {
  // An accented letter at each place of patterns up to past two words of
  // eight bytes: without regard to accents it matches its plain letter.
  HostTestReset();
  for (size_t size = 1; size <= 24; ++size) {
    for (size_t at = 0; at < size; ++at) {
      std::string pattern(size, 'x');
      pattern.replace(at, 1, kEAcute);
      std::string text = "yy" + std::string(size, 'x') + "yy";
      text[2 + at] = 'e';
      for (const bool accentSensitive : {false, true}) {
        WORD length = 0;
        EXPECT_EQ(SearchBuffer(text.data(), static_cast<WORD>(text.size()), pattern.data(),
                               static_cast<WORD>(pattern.size()), FALSE, FALSE, accentSensitive,
                               FALSE, FALSE, &length, nullptr),
                  accentSensitive ? -1 : 2)
            << "size " << size << " at " << at << " accents " << accentSensitive;
      }
    }
  }
}

/* Texts of printable ASCII with multi-byte characters and accented
 * letters among them, of every length around the blocks of sixteen places
 * the pass-over filters and the last places it reads again, searched for
 * patterns up to past the longest one it filters in a padded copy: the
 * match is the first character start where every pattern byte stands as a
 * character of its own, equal to it or, without regard to case, to its
 * other case. Neither a multi-byte character nor an accented one (accents
 * count) equals a printable ASCII character. */
TEST(SearchBufferAscii, TextsWithOtherCharactersMatchOnlyWhereEveryCharacterIsThePatterns) {
  HostTestReset();
  random_numbers next{7u};
  static const char kLetters[] = "aAbB";
  for (int round = 0; round < 6000; ++round) {
    const bool longPattern = next(8) == 0;
    const size_t patternLength = longPattern ? 45 + next(10) : 2 + next(20);
    std::string text;
    std::vector<bool> single; // per byte: a character of its own
    const size_t size = next(static_cast<unsigned>(patternLength + 40));
    while (text.size() < size) {
      const unsigned kind = next(40);
      if (kind == 0) {
        text += kTrailAB;
        single.insert(single.end(), {false, false, false});
      } else if (kind == 1) {
        text += kEAcute;
        single.push_back(true);
      } else {
        text += kLetters[next(sizeof kLetters - 1)];
        single.push_back(true);
      }
    }
    std::string pattern;
    const size_t from = text.empty() ? 0 : next(static_cast<unsigned>(text.size()));
    for (size_t at = from; at < text.size() && pattern.size() < patternLength; ++at)
      if (text[at] >= 'A' && text[at] <= 'z')
        pattern += text[at];
    while (pattern.size() < patternLength)
      pattern += kLetters[next(sizeof kLetters - 1)];
    const bool caseSensitive = next(2) == 0;
    int32_t expected = -1;
    std::vector<bool> starts(text.size(), false);
    for (size_t at = 0; at < text.size(); at += single[at] ? 1 : 3)
      starts[at] = true;
    for (size_t p = 0; expected < 0 && p + pattern.size() <= text.size(); ++p) {
      bool same = starts[p];
      for (size_t i = 0; same && i < pattern.size(); ++i)
        same = starts[p + i] && single[p + i] &&
               (caseSensitive ? text[p + i] == pattern[i]
                              : FoldAscii(text[p + i]) == FoldAscii(pattern[i]));
      if (same)
        expected = static_cast<int32_t>(p);
    }
    WORD length = 0;
    ASSERT_EQ(SearchText(text, pattern, caseSensitive, true, &length),
              expected)
        << "text '" << text << "' pattern '" << pattern << "' case " << caseSensitive;
    if (expected >= 0) {
      EXPECT_EQ(length, pattern.size()) << text << " / " << pattern;
    }
  }
}

} // namespace
