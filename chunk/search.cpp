/*
 * Text search and replace within one text run.
 *
 * Text is LMBCS: a character is one to three bytes, and every walk here
 * steps whole characters through the character-set functions, so that a
 * match never starts inside a character nor ends inside one. Positions and
 * lengths are byte counts. Characters are compared with the host's
 * collation one pair at a time; the part of a wildcard pattern after its
 * '*' is compared byte by byte, without regard to the case of ASCII
 * letters that stand as characters of their own.
 *
 * Reading and writing records is the engine's; this file only works on the
 * bytes it is given.
 */
#include "chunk/search.h"

#include <assert.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "chunk/rtchunk_internal.h"
#include "engine/process_state.h"
#include "engine/services.h"
#include "host/nls.h"
#include "store/owned_text.h"
#include "store/session.h"
#include "store/tracked_memory.h"

namespace {

/* The replace action that keeps every occurrence's length. */
constexpr WORD kActionReplaceSameLength = 2399;

/* Characters are read through a copy padded with NULs: the character-set
 * functions may look a few bytes past a character's first byte, and a run's
 * text ends without a NUL. */
constexpr size_t kCharacterWindow = 8;
constexpr size_t kLongestCharacter = 6; /* a surrogate pair in two groups */

struct Bytes {
  const BYTE* data;
  size_t length;
};

/* The character at `at` (at < length) copied into a NUL-padded window. */
void CopyCharacter(const Bytes& text, size_t at, BYTE (&window)[kCharacterWindow]) {
  memset(window, 0, sizeof window);
  memcpy(window, text.data + at, std::min(text.length - at, kLongestCharacter));
}

/* Bytes of the character at `at` (at < length): a lead byte's character
 * length, cut at the end of the text; 1 for any other byte. */
size_t CharBytes(const Bytes& text, size_t at, NLS_PINFO info) {
  // In LMBCS (no character set given) no byte from 0x20 up leads a
  // longer character.
  if (info == nullptr && text.data[at] >= 0x20)
    return 1;
  if (!NLS_isleadbyte(text.data[at], info))
    return 1;
  BYTE window[kCharacterWindow];
  CopyCharacter(text, at, window);
  WORD bytes = 0;
  if (NLS_string_bytes(window, 1, &bytes, info) != NLS_SUCCESS || bytes == 0)
    return 1;
  return std::min<size_t>(bytes, text.length - at);
}

bool IsLetterAt(const Bytes& text, size_t at, NLS_PINFO info) {
  BYTE window[kCharacterWindow];
  CopyCharacter(text, at, window);
  return NLS_isalpha(window, info) != FALSE;
}

/* In LMBCS (no character set given) a text without a byte under 0x20 has
 * a character per byte. */
bool SingleByteCharacters(const Bytes& text, NLS_PINFO info) {
  return info == nullptr &&
         std::all_of(text.data, text.data + text.length, [](BYTE c) { return c >= 0x20; });
}

/* Characters in the text; its byte length when they cannot be counted. */
size_t CountCharacters(const Bytes& text, NLS_PINFO info) {
  if (SingleByteCharacters(text, info))
    return text.length;
  if (text.length < NLS_NULLTERM) {
    WORD chars = 0;
    if (NLS_string_chars(text.data, static_cast<WORD>(text.length), &chars, info) == NLS_SUCCESS)
      return chars;
    return text.length;
  }
  // A length of 0xFFFF would be read as "up to the NUL": step instead.
  size_t chars = 0;
  for (size_t at = 0; at < text.length; at += CharBytes(text, at, info))
    ++chars;
  return chars;
}

/* True when the bytes [from, to) are whole characters (from is the start
 * of one). */
bool EndsOnCharacter(const Bytes& text, size_t from, size_t to, NLS_PINFO info) {
  size_t at = from;
  while (at < to)
    at += CharBytes(text, at, info);
  return at == to;
}

BYTE UpperAscii(BYTE c) { return (c >= 'a' && c <= 'z') ? static_cast<BYTE>(c - 'a' + 'A') : c; }

/* A printable ASCII byte: a character of its own that the collation reads
 * as that ASCII character. */
bool IsPrintableAscii(BYTE c) { return c >= 0x20 && c < 0x7F; }

/* True when each of the length bytes, eight or more, is printable ASCII:
 * eight at a time, the last eight read again where they overlap those
 * before, so that no byte past them is read. */
bool AllPrintableWords(const BYTE* data, size_t length) {
  // Per byte, the high bit of its low seven bits plus 0x60 is clear under
  // 0x20, and that of them plus 1 set at 0x7F; a byte's own high bit is set
  // from 0x80 up. Neither sum carries into the next byte.
  constexpr uint64_t kLow = 0x7F7F7F7F7F7F7F7FULL;
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  auto printable = [](const BYTE* at) {
    uint64_t word;
    memcpy(&word, at, sizeof word);
    const uint64_t low = word & kLow;
    return ((word | ~(low + 0x6060606060606060ULL) | (low + 0x0101010101010101ULL)) & kHigh) == 0;
  };
  for (size_t at = 0; at + sizeof(uint64_t) < length; at += sizeof(uint64_t)) {
    if (!printable(data + at))
      return false;
  }
  return printable(data + length - sizeof(uint64_t));
}

/* True when each of the length bytes is printable ASCII: a few one by
 * one, more eight at a time. */
inline bool AllPrintableAscii(const BYTE* data, size_t length) {
  if (length < sizeof(uint64_t))
    return std::all_of(data, data + length, IsPrintableAscii);
  return AllPrintableWords(data, length);
}

/* Two printable ASCII characters as the host's collation compares them:
 * each has a base letter of its own, and only case tells a letter's two
 * forms apart. */
bool SameAsciiCharacter(BYTE a, BYTE b, WORD compareFlags) {
  if (a == b)
    return true;
  return (compareFlags & INTL_CASE_SENSITIVE) == 0 && UpperAscii(a) == UpperAscii(b);
}

#if !defined(__SSE2__)
/* The pass-over eight bytes at a time: true when the word (eight text
 * bytes) holds a byte it stops at, one that is not printable ASCII or is
 * one of the two forms of the pattern's first character. */
constexpr uint64_t kEachByte = 0x0101010101010101ULL;
constexpr uint64_t kHighBits = 0x8080808080808080ULL;

uint64_t AnyZeroByte(uint64_t word) { return (word - kEachByte) & ~word & kHighBits; }

bool StopsPassOver(uint64_t word, BYTE first, BYTE other) {
  const uint64_t below = (word - 0x20 * kEachByte) & ~word & kHighBits; // a byte under 0x20
  return ((word & kHighBits) | below | AnyZeroByte(word ^ (0x7F * kEachByte)) |
          AnyZeroByte(word ^ (first * kEachByte)) | AnyZeroByte(word ^ (other * kEachByte))) != 0;
}
#endif

/* The first byte from p on that the pass-over stops at (one that is not
 * printable ASCII, or is one of the two forms of the pattern's first
 * character), or the text's length when there is none. Sixteen bytes are
 * compared at once where the processor can; the last few are the end of
 * the text's last sixteen bytes, or, in a shorter text, come through a
 * copy padded with NULs, so that no byte past the text is read. Else eight
 * at a time, and the rest one by one. */
size_t NextStop(const BYTE* data, size_t p, size_t length, BYTE first, BYTE other) {
#if defined(__SSE2__)
  // A byte b is not printable ASCII when b + 1, as a signed byte, is below
  // 0x21: those under 0x20, 0x7F and those of 0x80 up. The two forms of a
  // letter differ in 0x20 alone (OtherForm), so with that bit set both
  // meet one value; a character of one form is compared as it is.
  const __m128i one = _mm_set1_epi8(1);
  const __m128i printableFrom = _mm_set1_epi8(0x21);
  assert(first == other || (first ^ other) == 0x20);
  const BYTE fold = first != other ? 0x20 : 0;
  const __m128i foldBit = _mm_set1_epi8(static_cast<char>(fold));
  const __m128i folded = _mm_set1_epi8(static_cast<char>(first | fold));
  auto stops = [&](const BYTE* at) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i stop =
        _mm_or_si128(_mm_cmplt_epi8(_mm_add_epi8(bytes, one), printableFrom),
                     _mm_cmpeq_epi8(_mm_or_si128(bytes, foldBit), folded));
    return static_cast<unsigned>(_mm_movemask_epi8(stop));
  };
  for (; p + 16 <= length; p += 16) {
    if (const unsigned mask = stops(data + p); mask != 0)
      return p + static_cast<size_t>(__builtin_ctz(mask));
  }
  if (p == length)
    return length;
  unsigned mask;
  if (length >= 16) {
    // The last sixteen bytes, of which those before p were passed already.
    mask = stops(data + length - 16) >> (16 - (length - p));
  } else {
    BYTE tail[16] = {};
    memcpy(tail, data + p, length - p);
    mask = stops(tail) & ((1u << (length - p)) - 1);
  }
  return mask != 0 ? p + static_cast<size_t>(__builtin_ctz(mask)) : length;
#else
  for (uint64_t word = 0; p + sizeof word <= length; p += sizeof word) {
    memcpy(&word, data + p, sizeof word);
    if (StopsPassOver(word, first, other))
      break;
  }
  while (p < length && IsPrintableAscii(data[p]) && data[p] != first && data[p] != other)
    ++p;
  return p;
#endif
}

/* The other form of a pattern's first character that the pass-over stops
 * at: its other case without regard to case, else itself. */
BYTE OtherForm(BYTE first, WORD compareFlags) {
  const BYTE upper = UpperAscii(first);
  if ((compareFlags & INTL_CASE_SENSITIVE) != 0)
    return first;
  if (upper != first)
    return upper;
  return upper >= 'A' && upper <= 'Z' ? static_cast<BYTE>(upper + 32) : first;
}

/* The pattern tried where its first byte matched (at): a match, a
 * mismatch, or a byte of the text before the mismatch that is not
 * printable ASCII, which leaves the search to the full one. */
enum class AsciiTry { kMatch, kMismatch, kUndecided };

AsciiTry TryAsciiAt(const BYTE* at, const Bytes& pattern, WORD compareFlags) {
  for (size_t i = 1; i < pattern.length; ++i) {
    if (!IsPrintableAscii(at[i]))
      return AsciiTry::kUndecided;
    if (!SameAsciiCharacter(pattern.data[i], at[i], compareFlags))
      return AsciiTry::kMismatch;
  }
  return AsciiTry::kMatch;
}

#if defined(__SSE2__)
/* The places of a pattern of two bytes or more worth a try, sixteen at a
 * time: those whose byte is not printable ASCII (it leaves the search to
 * the full one), and those where both the byte and the byte where the
 * match would end are forms of the pattern's first and last characters,
 * so that a longer pattern seldom stops where a frequent first letter
 * stands. */
class PlaceFilter {
public:
  PlaceFilter(const Bytes& pattern, WORD compareFlags) : last_(pattern.length - 1) {
    const BYTE first = pattern.data[0];
    const BYTE lastByte = pattern.data[last_];
    const BYTE firstFold = OtherForm(first, compareFlags) != first ? 0x20 : 0;
    const BYTE lastFold = OtherForm(lastByte, compareFlags) != lastByte ? 0x20 : 0;
    firstFoldBit_ = _mm_set1_epi8(static_cast<char>(firstFold));
    firstFolded_ = _mm_set1_epi8(static_cast<char>(first | firstFold));
    lastFoldBit_ = _mm_set1_epi8(static_cast<char>(lastFold));
    lastFolded_ = _mm_set1_epi8(static_cast<char>(lastByte | lastFold));
  }

  /* Bit i for the place at + i; the sixteen bytes from at and those from
   * at + last are read. */
  unsigned Stops(const BYTE* at) const {
    const __m128i heads = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i tails = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + last_));
    // A byte b is not printable ASCII when b + 1, as a signed byte, is
    // below 0x21: those under 0x20, 0x7F and those of 0x80 up.
    const __m128i stop = _mm_or_si128(
        _mm_cmplt_epi8(_mm_add_epi8(heads, _mm_set1_epi8(1)), _mm_set1_epi8(0x21)),
        _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(heads, firstFoldBit_), firstFolded_),
                      _mm_cmpeq_epi8(_mm_or_si128(tails, lastFoldBit_), lastFolded_)));
    return static_cast<unsigned>(_mm_movemask_epi8(stop));
  }

private:
  size_t last_;
  __m128i firstFoldBit_, firstFolded_, lastFoldBit_, lastFolded_;
};

/* The longest pattern whose places in a text too short for a block of
 * sixteen are filtered through a padded copy. */
constexpr size_t kPaddedPatternLast = 48;

/* The places of the mask (bit i: the place base + i) tried in order: a
 * match, with *found; undecided at a byte that is not printable ASCII; or
 * a mismatch at every one. */
AsciiTry TryPlaces(const BYTE* data, size_t base, unsigned mask, const Bytes& pattern,
                   WORD compareFlags, int32_t* found) {
  for (; mask != 0; mask &= mask - 1) {
    const size_t at = base + static_cast<size_t>(__builtin_ctz(mask));
    if (!IsPrintableAscii(data[at]))
      return AsciiTry::kUndecided;
    const AsciiTry tried = TryAsciiAt(data + at, pattern, compareFlags);
    if (tried == AsciiTry::kMatch)
      *found = static_cast<int32_t>(at);
    if (tried != AsciiTry::kMismatch)
      return tried;
  }
  return AsciiTry::kMismatch;
}
#endif

/* The search of a pattern of printable ASCII, without wildcards or word
 * boundaries, in LMBCS text while the text is printable ASCII too: each
 * byte is then a character of its own that the collation compares as
 * SameAsciiCharacter does, so the match is the first place where every
 * byte matches. True with *found (-1: none) once the text is settled;
 * false, nothing found, where a byte of the text that is not printable
 * ASCII may decide it (the full search then takes over). */
bool SearchPrintableAscii(const Bytes& text, const Bytes& pattern, WORD compareFlags,
                          int32_t* found) {
  const BYTE* data = text.data;
  const size_t length = text.length;
  const BYTE first = pattern.data[0];
  const BYTE other = OtherForm(first, compareFlags);
  size_t p = 0;
#if defined(__SSE2__)
  // While sixteen places and the pattern's last byte beyond them lie in the
  // text, they are filtered at once. The places left, fewer than sixteen,
  // are the last sixteen of the text again, those before p dropped; in a
  // text too short for that, a copy padded with NULs (a NUL is no form of
  // the last character), the places past the text dropped. The bytes after
  // the last place, where no match starts, are then read as in a text too
  // short for the pattern.
  const size_t last = pattern.length - 1;
  if (last >= 1 && (length >= last + 16 || last <= kPaddedPatternLast)) {
    const PlaceFilter filter(pattern, compareFlags);
    for (; p + last + 16 <= length; p += 16) {
      if (const unsigned mask = filter.Stops(data + p); mask != 0) {
        if (const AsciiTry tried = TryPlaces(data, p, mask, pattern, compareFlags, found);
            tried != AsciiTry::kMismatch)
          return tried == AsciiTry::kMatch;
      }
    }
    if (p + last < length) {
      const size_t places = length - last - p; // fewer than sixteen
      unsigned mask;
      if (length >= last + 16) {
        mask = filter.Stops(data + length - last - 16) >> (16 - places);
      } else {
        BYTE padded[kPaddedPatternLast + 16] = {};
        memcpy(padded, data, length);
        mask = filter.Stops(padded) & ((1u << places) - 1);
      }
      if (const AsciiTry tried = TryPlaces(data, p, mask, pattern, compareFlags, found);
          tried != AsciiTry::kMismatch)
        return tried == AsciiTry::kMatch;
      p = length - last;
    }
    if (!AllPrintableAscii(data + p, length - p))
      return false;
    *found = -1;
    return true;
  }
#endif
  for (;; ++p) {
    p = NextStop(data, p, length, first, other);
    if (p < length && !IsPrintableAscii(data[p]))
      return false;
    if (length - p < pattern.length) {
      // No room for a match: the rest settles it only as printable ASCII,
      // as a character may count for less than its bytes.
      if (!std::all_of(data + p, data + length, IsPrintableAscii))
        return false;
      *found = -1;
      return true;
    }
    const AsciiTry tried = TryAsciiAt(data + p, pattern, compareFlags);
    if (tried == AsciiTry::kUndecided)
      return false;
    if (tried == AsciiTry::kMatch) {
      *found = static_cast<int32_t>(p);
      return true;
    }
  }
}

/* A pattern as the wildcards split it. */
struct Pattern {
  Bytes whole;
  bool star = false;     /* a '*' was found: prefix and suffix apply */
  bool question = false; /* '?' matches any character in the prefix */
  size_t prefixLength = 0;
  const BYTE* suffix = nullptr;
  size_t suffixLength = 0;
};

Pattern ShapePattern(const Bytes& pattern, bool wildcards, NLS_PINFO info) {
  Pattern shape;
  shape.whole = pattern;
  shape.prefixLength = pattern.length;
  if (!wildcards)
    return shape;
  shape.question = true;
  for (size_t at = 0; at < pattern.length; at += CharBytes(pattern, at, info)) {
    if (pattern.data[at] != '*')
      continue;
    shape.star = true;
    shape.prefixLength = at;
    shape.suffix = pattern.data + at + 1;
    shape.suffixLength = pattern.length - at - 1;
    break;
  }
  return shape;
}

struct Search {
  Bytes text;
  Pattern pattern;
  WORD compareFlags;
  bool wordBoundaries;
  NLS_PINFO info;
};

/* Compares the first `length` bytes of the pattern with the text from `at`,
 * a character at a time; true with *end after the text matched. */
bool MatchCharacters(const Search& search, size_t at, size_t length, size_t* end) {
  const Bytes pattern{search.pattern.whole.data, length};
  size_t p = 0;
  size_t t = at;
  while (p < length) {
    if (t >= search.text.length)
      return false;
    const size_t patternBytes = CharBytes(pattern, p, search.info);
    const size_t textBytes = CharBytes(search.text, t, search.info);
    const bool any = search.pattern.question && patternBytes == 1 && pattern.data[p] == '?';
    // Printable ASCII on both sides needs no collation.
    if (!any && patternBytes == 1 && textBytes == 1 && IsPrintableAscii(pattern.data[p]) &&
        IsPrintableAscii(search.text.data[t])) {
      if (!SameAsciiCharacter(pattern.data[p], search.text.data[t], search.compareFlags))
        return false;
    } else if (!any && IntlTextCompare(reinterpret_cast<const char*>(pattern.data + p),
                                static_cast<WORD>(patternBytes),
                                reinterpret_cast<const char*>(search.text.data + t),
                                static_cast<WORD>(textBytes), search.compareFlags) != 0)
      return false;
    p += patternBytes;
    t += textBytes;
  }
  *end = t;
  return true;
}

/* A letter right after a match joins it to the next word. */
bool BoundaryAfter(const Search& search, size_t end) {
  if (!search.wordBoundaries || end >= search.text.length)
    return true;
  return !IsLetterAt(search.text, end, search.info);
}

/* The suffix after a '*' against the text from `at`, byte by byte. Only a
 * byte that is a character of its own on both sides is compared without
 * regard to ASCII case, and only a '?' of its own matches any byte: the
 * bytes inside a multi-byte character must be the same, or a case
 * difference in a trail byte would make another character match. */
bool SuffixMatchesAt(const Search& search, size_t at) {
  const Pattern& pattern = search.pattern;
  const Bytes suffix{pattern.suffix, pattern.suffixLength};
  size_t suffixCharacter = 0; // where the next character starts
  size_t textCharacter = at;
  bool suffixSingle = false;
  bool textSingle = false;
  for (size_t i = 0; i < pattern.suffixLength; ++i) {
    if (i == suffixCharacter) {
      const size_t bytes = CharBytes(suffix, i, search.info);
      suffixSingle = bytes == 1;
      suffixCharacter += bytes;
    } else {
      suffixSingle = false;
    }
    if (at + i == textCharacter) {
      const size_t bytes = CharBytes(search.text, at + i, search.info);
      textSingle = bytes == 1;
      textCharacter += bytes;
    } else {
      textSingle = false;
    }
    const BYTE want = pattern.suffix[i];
    const BYTE have = search.text.data[at + i];
    if (suffixSingle && want == '?')
      continue;
    if (suffixSingle && textSingle ? UpperAscii(want) != UpperAscii(have) : want != have)
      return false;
  }
  return true;
}

/* One try without a '*': *covered receives the text bytes matched. */
bool TryPlain(const Search& search, size_t p, size_t* covered) {
  size_t end = 0;
  if (!MatchCharacters(search, p, search.pattern.whole.length, &end) || !BoundaryAfter(search, end))
    return false;
  *covered = end - p;
  return true;
}

/* One try with a '*': the prefix at p, then the suffix after the shortest
 * gap of whole characters at which it matches and ends on a character. */
bool TryStar(const Search& search, size_t p, size_t* covered) {
  size_t prefixEnd = 0;
  if (!MatchCharacters(search, p, search.pattern.prefixLength, &prefixEnd))
    return false;
  const size_t textLength = search.text.length;
  const size_t suffixLength = search.pattern.suffixLength;
  if (suffixLength == 0) {
    *covered = textLength - p;
    return true;
  }
  for (size_t q = prefixEnd; q + suffixLength <= textLength;
       q += CharBytes(search.text, q, search.info)) {
    const size_t end = q + suffixLength;
    if (SuffixMatchesAt(search, q) && EndsOnCharacter(search.text, q, end, search.info) &&
        BoundaryAfter(search, end)) {
      *covered = end - p;
      return true;
    }
  }
  return false;
}

/* The tests that end the search before a try at p. */
bool CannotMatchFrom(const Search& search, size_t p) {
  const size_t textLength = search.text.length;
  if (p >= textLength)
    return true;
  const Pattern& pattern = search.pattern;
  if (pattern.star)
    return pattern.prefixLength + pattern.suffixLength > textLength ||
           pattern.suffixLength > textLength - p;
  return pattern.whole.length > textLength;
}

WORD CompareFlags(BOOL caseSensitive, BOOL accentSensitive) {
  WORD flags = 0;
  if (caseSensitive)
    flags |= INTL_CASE_SENSITIVE;
  if (accentSensitive)
    flags |= INTL_ACCENT_SENSITIVE;
  return flags;
}

} // namespace

int32_t SearchBuffer(const char* text, WORD textLength, const char* pattern, WORD patternLength,
                     BOOL wildcards, BOOL caseSensitive, BOOL accentSensitive, BOOL wordBoundaries,
                     BOOL /*regularExpression*/, WORD* matchLength, NLS_PINFO info) {
  if (text == nullptr || pattern == nullptr || textLength == 0 || patternLength == 0)
    return -1;
  const Bytes textBytes{reinterpret_cast<const BYTE*>(text), textLength};
  const Bytes patternBytes{reinterpret_cast<const BYTE*>(pattern), patternLength};
  // Printable ASCII on both sides needs neither the character counts nor
  // the character walk.
  int32_t found = -1;
  if (info == nullptr && !wildcards && !wordBoundaries &&
      AllPrintableAscii(patternBytes.data, patternLength) &&
      SearchPrintableAscii(textBytes, patternBytes, CompareFlags(caseSensitive, accentSensitive),
                           &found)) {
    // The length is given whenever the full search gets past its counts.
    if (matchLength != nullptr && patternLength <= textLength)
      *matchLength = patternLength;
    return found;
  }
  const size_t patternChars = CountCharacters(patternBytes, info);
  // A '*' may stand for nothing, so a wildcard pattern may have one
  // character more than the text. An LMBCS character has at most three
  // bytes, so a text of three bytes a pattern character has room enough
  // without counting its characters.
  if (info != nullptr || 3 * patternChars > textLength) {
    const size_t textChars = CountCharacters(textBytes, info);
    if (wildcards ? patternChars - 1 > textChars : patternChars > textChars)
      return -1;
  }
  if (matchLength != nullptr)
    *matchLength = patternLength;

  const Search search{textBytes, ShapePattern(patternBytes, wildcards != FALSE, info),
                      CompareFlags(caseSensitive, accentSensitive), wordBoundaries != FALSE, info};
  // In LMBCS text (no character set given) a pattern that starts with a
  // printable ASCII character standing for itself cannot match where
  // another printable ASCII character stands: those positions are passed
  // over without a try.
  const BYTE first = patternBytes.data[0];
  const bool passOver = info == nullptr && IsPrintableAscii(first) &&
                        !(search.pattern.question && first == '?') &&
                        !(search.pattern.star && search.pattern.prefixLength == 0);
  const BYTE* data = textBytes.data;
  const BYTE other = OtherForm(first, search.compareFlags);
  // With word boundaries no match starts right after a letter.
  size_t previous = textLength; // the character before p; none yet
  for (size_t p = 0;;) {
    if (passOver) {
      const size_t stop = NextStop(data, p, textLength, first, other);
      if (stop != p)
        previous = stop - 1;
      p = stop;
    }
    if (CannotMatchFrom(search, p))
      return -1;
    const bool afterLetter =
        search.wordBoundaries && previous < textLength && IsLetterAt(textBytes, previous, info);
    size_t covered = 0;
    const bool found =
        !afterLetter &&
        (search.pattern.star ? TryStar(search, p, &covered) : TryPlain(search, p, &covered));
    if (found) {
      if (matchLength != nullptr)
        *matchLength = static_cast<WORD>(std::min<size_t>(covered, textLength - p));
      return static_cast<int32_t>(p);
    }
    previous = p;
    p += CharBytes(textBytes, p, info);
  }
}

namespace {

/* What one replacement run searches for and puts in. */
struct Replacement {
  const char* search = nullptr;
  WORD searchLength = 0;
  const char* text = "";
  size_t textLength = 0;
  bool sameLength = false;
  BOOL wildcards = FALSE;
  BOOL caseSensitive = FALSE;
  BOOL accentSensitive = FALSE;
  BOOL wordBoundaries = FALSE;
  BOOL regularExpression = FALSE;
  NLS_PINFO info = nullptr;

  /* For the same-length action, no more of the replacement than the match
   * covers, cut between whole characters. */
  size_t BytesFor(size_t matchLength) const {
    if (!sameLength)
      return textLength;
    return WholeCharacters(text, static_cast<DWORD>(textLength),
                           static_cast<DWORD>(std::min(matchLength, textLength)));
  }
};

WORD StringLength(const char* text) { return static_cast<WORD>(strnlen(text, 0xFFFF)); }

Replacement ReplacementOf(const chunk_process_state& state) {
  Replacement run;
  const VelkoRTChunk& chunk = *state.chunk;
  run.search = state.s2;
  if (run.search != nullptr)
    run.searchLength = state.p2 != 0 ? state.p2 : StringLength(run.search);
  if (state.s1 != nullptr) {
    run.text = state.s1;
    run.textLength = state.p1 != 0 ? state.p1 : StringLength(state.s1);
  }
  run.sameLength = state.action == kActionReplaceSameLength;
  // The operation may ask for wildcards itself; the chunk's property
  // always does.
  run.wildcards = (chunk.TextWildcards != 0 || state.text_wildcards != 0) ? TRUE : FALSE;
  run.caseSensitive = chunk.CaseSensitive;
  run.accentSensitive = chunk.AccentSensitive;
  run.wordBoundaries = chunk.SearchWordBoundaries;
  run.regularExpression = chunk.RegularExpression;
  run.info = state.session->internal != nullptr ? state.session->internal->nls_info : nullptr;
  return run;
}

/* Calls visit(gapStart, matchStart, matchLength) for each occurrence in
 * order, each search starting after the previous occurrence; returns where
 * the text after the last occurrence starts. */
template <typename Visit>
size_t ForEachMatch(const Replacement& run, const char* text, WORD length, Visit visit) {
  size_t at = 0;
  while (at < length) {
    WORD matchLength = 0;
    const int32_t found =
        SearchBuffer(text + at, static_cast<WORD>(length - at), run.search, run.searchLength,
                     run.wildcards, run.caseSensitive, run.accentSensitive, run.wordBoundaries,
                     run.regularExpression, &matchLength, run.info);
    if (found < 0)
      break;
    const size_t start = at + static_cast<size_t>(found);
    const size_t covered = std::max<size_t>(matchLength, 1); // never stand still
    visit(at, start, std::min(covered, length - start));
    at = start + std::min(covered, length - start);
  }
  return at;
}

void KeepMatchedText(LSXLsiSession& session, const char* match, size_t length) {
  const size_t kept = std::min(length, VELKO_SCRATCH_TEXT_SIZE - 1);
  memcpy(session.scratch_first, match, kept);
  session.scratch_first[kept] = '\0';
}

} // namespace

STATUS ReplaceTextInBuffer(const char* text, WORD length, chunk_process_state* state,
                           DWORD capacity, replaced_text* result) {
  if (result == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  *result = replaced_text{};
  if (state == nullptr || state->session == nullptr || state->chunk == nullptr ||
      (text == nullptr && length != 0))
    return VELKO_ERR_BAD_ARGUMENT;
  LSXLsiSession& session = *state->session;
  const Replacement run = ReplacementOf(*state);

  // The new length first, so that the text is built in a block of its size.
  uint64_t needed = 0;
  DWORD matches = 0;
  const size_t tail =
      ForEachMatch(run, text, length, [&](size_t gap, size_t start, size_t covered) {
        needed += (start - gap) + run.BytesFor(covered);
        ++matches;
      });
  needed += length - tail;
  if (needed > capacity) {
    state->secondary_status = VELKO_ERR_INVALID_ARGUMENT;
    state->chunk->secondary_status = VELKO_ERR_INVALID_ARGUMENT;
    return VELKO_ERR_INVALID_ARGUMENT;
  }

  auto* out = static_cast<char*>(VelkoAllocatePtr(&session, VELKO_HERE, needed + 1, 0));
  if (out == nullptr)
    return VELKO_ERR_MEMORY;
  size_t written = 0;
  ForEachMatch(run, text, length, [&](size_t gap, size_t start, size_t covered) {
    memcpy(out + written, text + gap, start - gap);
    written += start - gap;
    KeepMatchedText(session, text + start, covered);
    const size_t bytes = run.BytesFor(covered);
    memcpy(out + written, run.text, bytes);
    written += bytes;
  });
  if (length > tail)
    memcpy(out + written, text + tail, length - tail);
  written += length - tail;
  out[written] = '\0';

  result->text = out;
  result->length = static_cast<DWORD>(written);
  result->matches = matches;
  return NOERROR;
}

void ReleaseReplacedText(LSXLsiSession* session, replaced_text* result) {
  if (result == nullptr)
    return;
  if (session != nullptr && result->text != nullptr)
    VelkoDeallocatePtr(session, result->text);
  *result = replaced_text{};
}

STATUS ReplaceOperationText(const char* text, WORD length, chunk_process_state* state,
                            DWORD capacity, char** newText, DWORD* newLength) {
  *newText = nullptr;
  *newLength = 0;
  replaced_text result;
  if (STATUS status = ReplaceTextInBuffer(text, length, state, capacity, &result);
      status != NOERROR)
    return status;
  if (result.matches == 0) {
    ReleaseReplacedText(state->session, &result);
    return NOERROR;
  }
  *newText = result.text;
  *newLength = result.length;
  return NOERROR;
}
