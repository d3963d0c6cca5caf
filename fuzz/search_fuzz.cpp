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
 * unchanged; a result refused for its capacity leaves nothing behind.
 *
 * The same bytes also make a body for ReplaceTextQuick (action 2392): the
 * rest, read as ASCII letters, blanks and stops, is cut into text runs in
 * fonts of their own, with buttons, section titles and paragraphs between
 * them; the pattern is a slice of that text (a wildcard put in as above),
 * the replacement its last fifth, the scope byte 3's low five bits.
 * Checked: the action either succeeds, its records accepted by the emitter
 * and loading again, or (the text scope while the text-run routine is not
 * available) fails leaving the note as it was; without wildcards the text
 * of the runs is each run's text with every occurrence replaced, compared
 * without regard to case, when the text scope is given, and unchanged
 * otherwise. Every tracked block is given back. A broken invariant traps.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "cdbuild/cd_script.h"
#include "chunk/search.h"
#include "engine/process_state.h"
#include "fuzz/fuzz_support.h"
#include "host/host_testing.h"
#include "host/nls.h"
#include "host/nsfnote.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"

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

/* ---- ReplaceTextQuick over a body ---- */

constexpr char kDbPath[] = "mem:searchfuzz";
constexpr char kAscii[] = "abAB .bx";

struct replace_body {
  std::string script = "PABDEF id=1\nPABREF id=1\n";
  std::vector<std::string> runs;
  std::string text; /* every run's text, in order */
};

/* Runs end at a byte whose bits 3-5 are all set; that byte's top bits give
 * the run's size and the record that follows it. */
replace_body BodyFromBytes(const uint8_t* data, size_t size) {
  replace_body body;
  std::string run;
  auto endRun = [&](uint8_t b) {
    if (run.empty())
      return;
    const int face = 1 + static_cast<int>(body.runs.size() % 4);
    const int points = 8 + 2 * (b >> 6);
    body.script += "TEXT face=" + std::to_string(face) + " size=" + std::to_string(points) +
                   " text=\"" + run + "\"\n";
    switch (b >> 6) {
    case 1:
      body.script += "BUTTON label=\"" + run + "\"\n";
      break;
    case 2:
      body.script += "SECTIONBAR title=\"" + run + "\"\n";
      break;
    case 3:
      body.script += "PARAGRAPH\n";
      break;
    default:
      break;
    }
    body.runs.push_back(run);
    body.text += run;
    run.clear();
  };
  for (size_t i = 0; i < size; ++i) {
    run += kAscii[data[i] & 7];
    if ((data[i] & 0x38) == 0x38 || run.size() == 200)
      endRun(data[i]);
  }
  endRun(0);
  return body;
}

/* Every occurrence of the pattern replaced, left to right, compared
 * without regard to ASCII case. */
std::string ReplacedByHand(const std::string& text, const std::string& pattern,
                           const std::string& replacement) {
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    bool match = at + pattern.size() <= text.size();
    for (size_t k = 0; match && k < pattern.size(); ++k)
      match = tolower(static_cast<unsigned char>(text[at + k])) ==
              tolower(static_cast<unsigned char>(pattern[k]));
    if (match) {
      out += replacement;
      at += pattern.size();
    } else {
      out += text[at++];
    }
  }
  return out;
}

/* The text of every text record of the stored body; false when it does
 * not load completely. */
bool StoredText(LSXLsiSession* session, NOTEHANDLE note, std::string* text) {
  auto* reader = new VelkoRTItem(session);
  bool loaded = reader->ConnectBackend(note, "Body", 0) == NOERROR;
  body_context* body = nullptr;
  if (loaded) {
    body = StoreItemsAndRecords(reader, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
    loaded = body != nullptr && body->load_status == NOERROR;
  }
  for (const record_storage* node = body != nullptr ? body->records : nullptr; node != nullptr;
       node = node->next) {
    if (node->signature == SIG_CD_TEXT && node->length >= 8)
      text->append(node->data + 8, node->length - 8);
  }
  if (body != nullptr) {
    CleanupBodyContext(session, body);
    delete body;
  }
  delete reader;
  return loaded;
}

void CheckReplaceTextQuick(const uint8_t* data, size_t size) {
  const uint8_t flags = data[0];
  const replace_body body = BodyFromBytes(data + 4, size - 4);
  const size_t replacementFrom = body.text.size() - body.text.size() / 5;
  const std::string replacement = body.text.substr(replacementFrom);
  std::string pattern;
  if (replacementFrom > 0)
    pattern = body.text.substr(data[1] % replacementFrom, 1 + data[2] % 8);
  const bool wildcards = (flags & 1) != 0;
  if (wildcards && (flags & 64) != 0)
    pattern.insert(data[3] % (pattern.size() + 1), 1, (flags & 128) ? '*' : '?');
  if (pattern.empty())
    return;
  WORD scope = data[3] & 0x1F;
  if (scope == 0)
    scope = 1;

  cdbuild::Body records;
  cdbuild::ScriptError error;
  check(cdbuild::BuildScript(body.script, &records, &error));
  const DBHANDLE db = note_testing::ProcessDatabase(kDbPath);
  const size_t handles = HostTestLiveHandles();
  NOTEHANDLE note = NULLHANDLE;
  check(NSFNoteCreate(db, &note) == NOERROR);
  check(records.AppendItems(note, "Body") == NOERROR);
  const std::vector<note_testing::Bytes> before = note_testing::ItemValues(note, "Body");

  auto* session = new LSXLsiSession;
  auto* item = new VelkoRTItem(session);
  check(item->ConnectBackend(note, "Body", 0) == NOERROR);
  VelkoRTChunk* chunk = item->DefineChunk("Everything");
  check(chunk != nullptr);
  chunk->TextWildcards = wildcards ? 1 : 0;
  const STATUS status = chunk->AlterRichText(
      ACTION_REPLACE_TEXT_QUICK, static_cast<WORD>(replacement.size()),
      static_cast<WORD>(pattern.size()), scope, 0, replacement.c_str(), pattern.c_str(), nullptr,
      nullptr);
  delete item;
  check(VelkoTrackedBlocksInUse(session) == 0);

  if (status != NOERROR) {
    // Only the text-run routine may be missing; nothing else fails here.
    check(status == VELKO_ERR_BAD_ARGUMENT && (scope & 1) != 0);
    check(note_testing::ItemValues(note, "Body") == before);
  } else {
    std::string text;
    check(StoredText(session, note, &text));
    if (!wildcards) {
      std::string expected;
      for (const std::string& run : body.runs)
        expected += (scope & 1) != 0 ? ReplacedByHand(run, pattern, replacement) : run;
      check(text == expected);
    }
  }
  delete session;
  NSFNoteClose(note);
  check(HostTestLiveHandles() == handles);
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
  CheckReplaceTextQuick(data, size);
  return 0;
}
