/*
 * Readers of property strings: the case-insensitive search, the value reader
 * and its yes/no and flag-word variants, the bare-flag reader and the two
 * in-place editors. See velko/property_string.h for the format.
 *
 * Nothing here allocates or keeps state; every call is one scan of the
 * string. The writers of property strings live with the attribute-string
 * calculators, not here.
 */
#include "velko/property_string.h"

#include <string.h>

namespace {

char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Letters and digits of ASCII only: bytes of 0x80 and above are not word
// characters whatever the locale says.
bool isWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool isDelimiter(char c) {
  return c == '\'' || c == '"' || c == '|' || c == '~';
}

// True when the text at p begins with word, compared without regard to case.
// Stops at the text's NUL: a NUL never equals a word character.
bool matchesAt(const char* p, const char* word) {
  for (; *word != '\0'; ++p, ++word) {
    if (lowerAscii(*p) != lowerAscii(*word))
      return false;
  }
  return true;
}

// A value located inside a property string.
struct ValueSpan {
  const char* begin = nullptr;
  size_t length = 0;
  // Where the value ended: its closing delimiter or the space after it; null
  // when the value ran to the end of the string.
  const char* stop = nullptr;
};

// Reads the value that starts right after a key.
ValueSpan spanAfterKey(const char* afterKey) {
  ValueSpan span;
  const char c = *afterKey;
  if (c == ' ' || c == '\0') {
    span.begin = afterKey;
    span.stop = c == ' ' ? afterKey : nullptr;
    return span;
  }
  const char terminator = isDelimiter(c) ? c : ' ';
  span.begin = isDelimiter(c) ? afterKey + 1 : afterKey;
  const char* end = strchr(span.begin, terminator);
  span.stop = end;
  span.length = end != nullptr ? static_cast<size_t>(end - span.begin) : strlen(span.begin);
  return span;
}

enum class Boundary {
  // The key must not follow a word character or a delimiter.
  NotAfterWordOrDelimiter,
  // The key must not follow a word character.
  NotAfterWord,
};

// First occurrence of key at or after from that passes the boundary test.
// The character before an occurrence is read from the whole string, so a
// search that resumes in the middle still tests against what precedes it.
const char* findKey(const char* properties, const char* from, const char* key, Boundary boundary) {
  for (const char* hit = stristr(from, key); hit != nullptr; hit = stristr(hit + 1, key)) {
    if (hit == properties)
      return hit;
    const char before = hit[-1];
    if (isWordChar(before))
      continue;
    if (boundary == Boundary::NotAfterWordOrDelimiter && isDelimiter(before))
      continue;
    return hit;
  }
  return nullptr;
}

// Copies a value into the caller's buffer, cut to valueSize - 1 bytes.
void copyValue(const ValueSpan& span, char* value, size_t valueSize) {
  if (value == nullptr || valueSize == 0)
    return;
  const size_t n = span.length < valueSize - 1 ? span.length : valueSize - 1;
  memcpy(value, span.begin, n);
  value[n] = '\0';
}

// True when the whole value equals word without regard to case.
bool valueEquals(const ValueSpan& span, const char* word) {
  return strlen(word) == span.length && matchesAt(span.begin, word);
}

// True when the text of length n at p begins with word, without regard to case.
bool beginsWith(const char* p, size_t n, const char* word) {
  return strlen(word) <= n && matchesAt(p, word);
}

// Locates the value of the first acceptable occurrence of key and copies it
// to the buffer. False, with nothing written, when the key is absent.
bool readValue(const char* properties, const char* key, char* value, size_t valueSize,
               ValueSpan& span) {
  if (properties == nullptr || key == nullptr)
    return false;
  const char* hit = findKey(properties, properties, key, Boundary::NotAfterWordOrDelimiter);
  if (hit == nullptr)
    return false;
  span = spanAfterKey(hit + strlen(key));
  copyValue(span, value, valueSize);
  return true;
}

template <typename Flags>
Flags applyYesNoWords(const char* properties, const char* key, char* value, size_t valueSize,
                      Flags flag, Flags flags, const char* yesWord, const char* noWord) {
  ValueSpan span;
  if (!readValue(properties, key, value, valueSize, span) || span.length == 0)
    return flags;
  if (valueEquals(span, yesWord != nullptr ? yesWord : "Yes"))
    return static_cast<Flags>(flags | flag);
  if (noWord != nullptr && !valueEquals(span, noWord))
    return flags;
  return static_cast<Flags>(flags & ~flag);
}

template <typename Flags>
Flags applyYesOrNo(const char* properties, const char* key, char* value, size_t valueSize,
                   Flags flag, Flags flags) {
  ValueSpan span;
  if (!readValue(properties, key, value, valueSize, span))
    return flags;
  if (valueEquals(span, "Yes"))
    return static_cast<Flags>(flags | flag);
  if (valueEquals(span, "No"))
    return static_cast<Flags>(flags & ~flag);
  return flags;
}

void trimTrailingBlanks(char* properties) {
  size_t length = strlen(properties);
  while (length > 0 && (properties[length - 1] == ' ' || properties[length - 1] == '\n'))
    properties[--length] = '\0';
}

}  // namespace

char* stristr(const char* text, const char* needle) {
  if (text == nullptr || needle == nullptr)
    return nullptr;
  if (*needle == '\0')
    return *text != '\0' ? const_cast<char*>(text) : nullptr;
  const char first = lowerAscii(*needle);
  for (const char* p = text; *p != '\0'; ++p) {
    if (lowerAscii(*p) == first && matchesAt(p, needle))
      return const_cast<char*>(p);
  }
  return nullptr;
}

int ExtractProperty(const char* properties, const char* key, char* value, size_t valueSize) {
  ValueSpan span;
  return readValue(properties, key, value, valueSize, span) ? 1 : 0;
}

BOOL ExtractPropertyBOOL(const char* properties, const char* key, char* value, size_t valueSize,
                         BOOL defaultValue) {
  ValueSpan span;
  if (!readValue(properties, key, value, valueSize, span) || span.length == 0)
    return defaultValue;
  if (defaultValue != 0)
    return valueEquals(span, "No") ? 0 : defaultValue;
  return valueEquals(span, "Yes") ? 1 : 0;
}

DWORD ExtractPropertyDWFlags(const char* properties, const char* key, char* value, size_t valueSize,
                             DWORD flag, DWORD flags, const char* yesWord, const char* noWord) {
  return applyYesNoWords<DWORD>(properties, key, value, valueSize, flag, flags, yesWord, noWord);
}

DWORD ExtractPropertyDWFlagsBOOL(const char* properties, const char* key, char* value,
                                 size_t valueSize, DWORD flag, DWORD flags) {
  return applyYesOrNo<DWORD>(properties, key, value, valueSize, flag, flags);
}

WORD ExtractPropertyWFlags(const char* properties, const char* key, char* value, size_t valueSize,
                           WORD flag, WORD flags, const char* yesWord, const char* noWord) {
  return applyYesNoWords<WORD>(properties, key, value, valueSize, flag, flags, yesWord, noWord);
}

WORD ExtractPropertyWFlagsBOOL(const char* properties, const char* key, char* value,
                               size_t valueSize, WORD flag, WORD flags) {
  return applyYesOrNo<WORD>(properties, key, value, valueSize, flag, flags);
}

char* ExtractFlag(const char* properties, const char* word) {
  if (properties == nullptr || word == nullptr)
    return nullptr;
  const size_t length = strlen(word);
  for (char* hit = stristr(properties, word); hit != nullptr; hit = stristr(hit + 1, word)) {
    // At the start of the string the word is taken whatever follows it.
    if (hit == properties)
      return hit;
    const char before = hit[-1];
    if (isWordChar(before) || before == '_')
      continue;
    // The match covered length non-NUL characters, so hit[length] is at
    // most the terminating NUL.
    if (isWordChar(hit[length]))
      continue;
    return hit;
  }
  return nullptr;
}

int EliminateProperty(char* properties, const char* key) {
  if (properties == nullptr || key == nullptr)
    return 0;
  char* hit = const_cast<char*>(findKey(properties, properties, key, Boundary::NotAfterWord));
  if (hit == nullptr)
    return 0;
  const size_t keyLength = strlen(key);
  char* afterKey = hit + keyLength;
  const char c = *afterKey;
  if (isDelimiter(c)) {
    // A quoted value goes with its delimiters; without a closing one only
    // the key is blanked, since the value's extent is unknown.
    char* close = strchr(afterKey + 1, c);
    const size_t blanked = close != nullptr ? static_cast<size_t>(close + 1 - hit) : keyLength;
    memset(hit, ' ', blanked);
  } else if (c == ' ' || c == '\0') {
    memset(hit, ' ', keyLength);
  } else if (char* space = strchr(afterKey, ' ')) {
    // Close the gap of key, value and separator, and clear the freed tail.
    const char* tail = space + 1;
    const size_t tailLength = strlen(tail);
    const char* oldEnd = tail + tailLength;
    memmove(hit, tail, tailLength + 1);
    char* newEnd = hit + tailLength;
    memset(newEnd, '\0', static_cast<size_t>(oldEnd - newEnd));
  } else {
    *hit = '\0';
  }
  trimTrailingBlanks(properties);
  return 1;
}

char* SemiExtractProperty(char* properties, const char* key, char* saved) {
  if (saved == nullptr)
    return nullptr;
  *saved = '\0';
  if (properties == nullptr || key == nullptr)
    return nullptr;
  char* hit = stristr(properties, key);
  if (hit == nullptr)
    return nullptr;
  char* afterKey = hit + strlen(key);
  const char c = *afterKey;
  char* begin = isDelimiter(c) ? afterKey + 1 : afterKey;
  // An unquoted value ends at a space; a value that runs to the end of the
  // string is returned as it is, with NUL saved so the restore is a no-op.
  char* end = strchr(begin, isDelimiter(c) ? c : ' ');
  if (end != nullptr) {
    *saved = *end;
    *end = '\0';
  }
  return begin;
}

int ExtractIterativeProperty(const char* properties, const char* key, const char* prefix,
                             const char* suffix, char* value, size_t valueSize) {
  if (properties == nullptr || key == nullptr)
    return 0;
  const size_t keyLength = strlen(key);
  const size_t prefixLength = prefix != nullptr ? strlen(prefix) : 0;
  const char* from = properties;
  while (const char* hit = findKey(properties, from, key, Boundary::NotAfterWordOrDelimiter)) {
    const ValueSpan span = spanAfterKey(hit + keyLength);
    const bool matches =
        prefixLength == 0 ||
        (beginsWith(span.begin, span.length, prefix) &&
         (suffix == nullptr ||
          beginsWith(span.begin + prefixLength, span.length - prefixLength, suffix)));
    if (matches) {
      copyValue(span, value, valueSize);
      return 1;
    }
    if (span.stop == nullptr)
      return 0;
    // Resume at the value's end; an empty key with an empty value would
    // otherwise be found at the same place again.
    from = span.stop > hit ? span.stop : hit + 1;
  }
  return 0;
}

int ExtractEnvironmentVarOrProperty(const char* properties, const char* /*variable*/,
                                    const char* key, char* value, size_t valueSize) {
  return ExtractProperty(properties, key, value, valueSize);
}

int ValidateProperties(const char* /*properties*/, const char* /*word*/) {
  return 0;
}
