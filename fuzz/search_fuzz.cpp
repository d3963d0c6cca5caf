/*
 * Fuzz target for text search and replace in a text run.
 *
 * Input: byte 0 holds the flags (wildcards, case, accents, word boundaries,
 * the same-length replace action, a tight capacity); bytes 1 and 2 pick the
 * pattern as a slice of the text (so that matches happen); byte 3 says
 * where a '*' or '?' goes into it; the rest is decoded into code points
 * (a table of interesting characters, or a raw code point after a byte
 * >= 0xF0) and written as LMBCS, the text's last fifth becoming the
 * replacement. Every text is held in an allocation of exactly its length.
 *
 * Checked: a match starts and ends on character boundaries inside the text;
 * a replacement reports its length truly, and with no match gives the text
 * unchanged; a result refused for its capacity leaves nothing behind. A
 * broken invariant traps.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "chunk/search.h"
#include "engine/process_state.h"
#include "fuzz/fuzz_support.h"
#include "host/nls.h"
#include "store/session.h"

namespace {

LSXLsiSession& Session() {
  static LSXLsiSession* session = new LSXLsiSession();
  return *session;
}

VelkoRTChunk& Chunk() {
  static VelkoRTChunk* chunk = new VelkoRTChunk(&Session(), nullptr);
  return *chunk;
}

/* Characters that exercise the search: ASCII letters and wildcards, word
 * separators, code-page-850 letters with accents, CJK, and characters
 * whose LMBCS trail bytes read as ASCII letters or wildcards. */
constexpr uint32_t kAlphabet[] = {
    'a',    'b',    'c',    'A',    'B',    '*',    '?',    ' ',    '.',     '1',    0xE9,
    0xC9,   0xFC,   0x65E5, 0x672C, 0x6162, 0x2A2A, 0x3F3F, 0x6141, 0x0107,  0x0410, 0x0430,
    0x00DF, 0x1E9E, 0x0301, 0x00A0, 0x2028, 0xD800, 0xDC00, 0xFFFD, 0x1F600, 0x0000,
};

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp >= 0xD800 && cp <= 0xDFFF)
    cp = 0xFFFD; // UTF-8 cannot carry a lone surrogate
  if (cp > 0x10FFFF)
    cp %= 0x110000;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::vector<uint32_t> DecodeCodePoints(const uint8_t* data, size_t size) {
  std::vector<uint32_t> points;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] < 0xF0 || i + 2 >= size) {
      points.push_back(kAlphabet[data[i] % (sizeof kAlphabet / sizeof kAlphabet[0])]);
      continue;
    }
    points.push_back((static_cast<uint32_t>(data[i] & 0x0F) << 16) | (data[i + 1] << 8) |
                     data[i + 2]);
    i += 2;
  }
  return points;
}

std::string Lmbcs(const std::vector<uint32_t>& points, size_t from, size_t to) {
  std::string utf8;
  for (size_t i = from; i < to && i < points.size(); ++i)
    AppendUtf8(utf8, points[i]);
  return LmbcsFromUtf8(utf8);
}

/* A copy in an allocation of exactly its length, so that reading past the
 * end is caught. */
std::unique_ptr<char[]> Exact(const std::string& text) {
  std::unique_ptr<char[]> copy(new char[text.size() == 0 ? 1 : text.size()]);
  memcpy(copy.get(), text.data(), text.size());
  return copy;
}

bool IsBoundary(const std::string& text, size_t at) {
  size_t p = 0;
  while (p < at) {
    WORD bytes = 1;
    if (NLS_isleadbyte(static_cast<BYTE>(text[p]), nullptr)) {
      BYTE window[8] = {};
      memcpy(window, text.data() + p, std::min<size_t>(6, text.size() - p));
      NLS_string_bytes(window, 1, &bytes, nullptr);
    }
    p += bytes;
  }
  return p == at;
}

void CheckSearch(const std::string& text, const std::string& pattern, uint8_t flags) {
  auto textCopy = Exact(text);
  auto patternCopy = Exact(pattern);
  WORD matchLength = 0;
  const int32_t found =
      SearchBuffer(textCopy.get(), static_cast<WORD>(text.size()), patternCopy.get(),
                   static_cast<WORD>(pattern.size()), flags & 1, flags & 2, flags & 4, flags & 8,
                   FALSE, &matchLength, nullptr);
  check(found >= -1);
  if (found < 0)
    return;
  check(static_cast<size_t>(found) < text.size());
  check(matchLength > 0);
  check(static_cast<size_t>(found) + matchLength <= text.size());
  check(IsBoundary(text, static_cast<size_t>(found)));
  check(IsBoundary(text, static_cast<size_t>(found) + matchLength));
}

void CheckReplace(const std::string& text, const std::string& pattern,
                  const std::string& replacement, uint8_t flags) {
  LSXLsiSession& session = Session();
  VelkoRTChunk& chunk = Chunk();
  chunk.TextWildcards = flags & 1;
  chunk.CaseSensitive = (flags & 2) ? 1 : 0;
  chunk.AccentSensitive = (flags & 4) ? 1 : 0;
  chunk.SearchWordBoundaries = (flags & 8) ? 1 : 0;
  chunk.secondary_status = 0;

  auto textCopy = Exact(text);
  auto patternCopy = Exact(pattern);
  auto replacementCopy = Exact(replacement);
  chunk_process_state state{};
  state.session = &session;
  state.chunk = &chunk;
  state.action = (flags & 16) ? 2399 : 2392;
  // A length of 0 means a NUL-terminated text: an empty one is given as "".
  state.s2 = pattern.empty() ? "" : patternCopy.get();
  state.p2 = static_cast<WORD>(pattern.size());
  state.s1 = replacement.empty() ? nullptr : replacementCopy.get();
  state.p1 = static_cast<WORD>(replacement.size());
  const DWORD capacity = (flags & 32) ? static_cast<DWORD>(text.size()) : 0xFFFFFFFFu;

  replaced_text result;
  const STATUS status = ReplaceTextInBuffer(textCopy.get(), static_cast<WORD>(text.size()), &state,
                                            capacity, &result);
  if (status == VELKO_ERR_INVALID_ARGUMENT) {
    check((flags & 32) != 0);
    check(result.text == nullptr && result.length == 0 && result.matches == 0);
    check(chunk.secondary_status == VELKO_ERR_INVALID_ARGUMENT);
    return;
  }
  check(status == NOERROR);
  check(result.text != nullptr);
  check(result.length <= capacity);
  check(result.text[result.length] == '\0');
  if (result.matches == 0)
    check(std::string(result.text, result.length) == text);
  if (pattern.empty())
    check(result.matches == 0);
  if ((flags & 16) != 0)
    check(result.length <= text.size()); // same length or shorter per match
  ReleaseReplacedText(&session, &result);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4 || size > 4096)
    return 0;
  const uint8_t flags = data[0];
  const std::vector<uint32_t> points = DecodeCodePoints(data + 4, size - 4);
  const size_t textEnd = points.size() - points.size() / 5;
  const std::string text = Lmbcs(points, 0, textEnd);
  const std::string replacement = Lmbcs(points, textEnd, points.size());

  // The pattern: a slice of the text's code points, with a wildcard put in.
  std::vector<uint32_t> slice;
  if (textEnd > 0) {
    const size_t from = data[1] % textEnd;
    const size_t length = 1 + data[2] % 8;
    for (size_t i = from; i < from + length && i < textEnd; ++i)
      slice.push_back(points[i]);
  }
  if ((flags & 64) != 0 && !slice.empty())
    slice.insert(slice.begin() + data[3] % (slice.size() + 1), (flags & 128) ? '*' : '?');
  const std::string pattern = Lmbcs(slice, 0, slice.size());
  if (text.size() > 0xFFFF || pattern.size() > 0xFFFF || replacement.size() > 0xFFFF)
    return 0;

  CheckSearch(text, pattern, flags);
  CheckReplace(text, pattern, replacement, flags);
  return 0;
}
