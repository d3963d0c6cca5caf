/*
 * Fuzz target for the marking of pass-through HTML (EncodePassthruHTML).
 *
 * Input: bytes 0 and 1 give the lengths of the start and end delimiters
 * (1 to 4), byte 2 a repeat count that grows the texts (so that rebuilt
 * texts pass the record limit); the delimiters' bytes follow, then the
 * texts: 0xFE starts a further text run, 0xFD puts an HTMLBEGIN record and
 * 0xFC an HTMLEND record between runs. "[" and "]" in texts and delimiters
 * become "x", so that in the result they can only be the region brackets.
 *
 * Checked: every text record is at most kLongestMarkedText bytes with its
 * length word and its run's font; decoding the texts (brackets, the empty
 * comment after "[", the four escapes, characters of several bytes whole)
 * and putting the delimiters back around each region gives the input's
 * texts. A broken invariant traps.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/cdrecords.h"
#include "host/nls.h"
#include "import/html_import_state.h"
#include "import/passthru.h"
#include "store/body.h"
#include "store/session.h"
#include "store/tracked_memory.h"

namespace {

constexpr BYTE kFace = 7;
constexpr size_t kLongestInputText = 60000;

LSXLsiSession& Session() {
  static LSXLsiSession* session = new LSXLsiSession();
  return *session;
}

std::string Clean(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  for (char& c : text)
    if (c == '[' || c == ']')
      c = 'x';
  return text;
}

record_storage* Append(body_context* body, record_storage* last, WORD signature,
                       const std::string& text) {
  const DWORD length = static_cast<DWORD>(sizeof(CDTEXT) + text.size());
  record_storage* node = NewArenaRecord(&Session(), body, signature,
                                        signature == SIG_CD_TEXT ? length : 8, VELKO_HERE);
  check(node != nullptr);
  WSIG header{signature, static_cast<WORD>(signature == SIG_CD_TEXT ? length : 8)};
  memset(node->data, 0, node->length);
  memcpy(node->data, &header, sizeof header);
  if (signature == SIG_CD_TEXT) {
    node->data[offsetof(CDTEXT, FontID) + FONTID_FACE_BYTE] = static_cast<char>(kFace);
    memcpy(node->data + sizeof(CDTEXT), text.data(), text.size());
  }
  if (last == nullptr)
    body->records = node;
  else
    last->InsertRecordAfter(node);
  return node;
}

DWORD CharacterBytes(const char* text, size_t left) {
  BYTE character[4] = {};
  memcpy(character, text, left < 3 ? left : 3);
  WORD bytes = 1;
  if (NLS_string_bytes(character, 1, &bytes, nullptr) != 0 || bytes == 0)
    bytes = 1;
  return bytes < left ? bytes : static_cast<DWORD>(left);
}

/* Decodes one record's text into `out`, regions getting their delimiters
 * back; in_region carries across records. */
void Decode(const std::string& text, const std::string& start, const std::string& end,
            bool* inRegion, bool* justOpened, std::string* out) {
  static const char* const kEscapes[][2] = {
      {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}};
  size_t i = 0;
  while (i < text.size()) {
    if (*justOpened && text.compare(i, 8, "<!-- -->") == 0) {
      i += 8;
      *justOpened = false;
      continue;
    }
    *justOpened = false;
    const DWORD bytes = CharacterBytes(text.data() + i, text.size() - i);
    const char c = text[i];
    if (bytes == 1 && c == '[') {
      check(!*inRegion);
      *inRegion = *justOpened = true;
      *out += start;
      ++i;
      continue;
    }
    if (bytes == 1 && c == ']') {
      check(*inRegion);
      *inRegion = false;
      *out += end;
      ++i;
      continue;
    }
    if (*inRegion && bytes == 1) {
      check(c != '<' && c != '>' && c != '"');
      if (c == '&') {
        bool known = false;
        for (const auto& escape : kEscapes) {
          const size_t length = strlen(escape[0]);
          if (text.compare(i, length, escape[0]) == 0) {
            *out += escape[1];
            i += length;
            known = true;
            break;
          }
        }
        check(known);
        continue;
      }
    }
    out->append(text, i, bytes);
    i += bytes;
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3)
    return 0;
  const size_t startLength = (data[0] & 3) + 1;
  const size_t endLength = (data[1] & 3) + 1;
  const size_t repeat = data[2] % 64 + 1;
  if (size < 3 + startLength + endLength)
    return 0;
  std::string start = Clean(data + 3, startLength);
  std::string end = Clean(data + 3 + startLength, endLength);
  // A NUL would end a delimiter early; it stands for "x" instead.
  for (std::string* delimiter : {&start, &end})
    for (char& c : *delimiter)
      if (c == '\0')
        c = 'x';
  const uint8_t* text = data + 3 + startLength + endLength;
  const size_t textSize = size - 3 - startLength - endLength;

  body_context body;
  record_storage* last = nullptr;
  std::string input;
  std::string run;
  auto flush = [&] {
    std::string grown;
    for (size_t i = 0; i < repeat && grown.size() + run.size() <= kLongestInputText; ++i)
      grown += run;
    last = Append(&body, last, SIG_CD_TEXT, grown);
    input += grown;
    run.clear();
  };
  for (size_t i = 0; i < textSize; ++i) {
    if (text[i] == 0xFE) {
      flush();
    } else if (text[i] == 0xFD || text[i] == 0xFC) {
      flush();
      last = Append(&body, last, text[i] == 0xFD ? SIG_CD_HTMLBEGIN : SIG_CD_HTMLEND, "");
    } else {
      run += Clean(text + i, 1);
    }
  }
  flush();

  html_import_state state;
  state.session = &Session();
  state.passthru_start = start.data();
  state.passthru_end = end.data();
  check(EncodePassthruHTML(&body, &state) == NOERROR);

  std::string decoded;
  bool inRegion = false;
  bool justOpened = false;
  const record_storage* previous = nullptr;
  for (const record_storage* node = body.records; node != nullptr; node = node->next) {
    check(node->previous == previous);
    previous = node;
    if (node->signature != SIG_CD_TEXT)
      continue;
    WORD length = 0;
    memcpy(&length, node->data + offsetof(WSIG, Length), sizeof length);
    check(length == node->length && node->length <= kLongestMarkedText);
    check(static_cast<BYTE>(node->data[offsetof(CDTEXT, FontID) + FONTID_FACE_BYTE]) == kFace);
    Decode(std::string(node->data + sizeof(CDTEXT), node->length - sizeof(CDTEXT)), start, end,
           &inRegion, &justOpened, &decoded);
  }
  check(decoded == input);
  CleanupBodyContext(&Session(), &body);
  return 0;
}
