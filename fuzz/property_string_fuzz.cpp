/*
 * Fuzz target for the property-string readers. The first three bytes choose
 * the key, the second word (flag word, yes/no word or value prefix) and the
 * size of a small output buffer; the rest, up to its first NUL, is the
 * property string, held in an allocation of exactly its length so that any
 * read past its end is caught. Every reader is run and its result checked
 * against invariants and against the other readers; a broken invariant traps.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <memory>

#include "fuzz/fuzz_support.h"
#include "store/charset_names.h"
#include "velko/property_string.h"

namespace {

const char* const kKeys[] = {"Width=", "width=", "Title=", "A=", "Opt=", "=", "", "X", "'"};
constexpr size_t kKeyCount = sizeof kKeys / sizeof kKeys[0];

// Null entries stand for an absent yes word, no word, prefix or suffix.
const char* const kWords[] = {"xml", "RTL", "HIDE_READ", "Yes", "No", "a", "", nullptr,
                              "LIST_TYPE", "On", "Off", "ab"};
constexpr size_t kWordCount = sizeof kWords / sizeof kWords[0];

constexpr unsigned char kFill = 0x5A;
constexpr size_t kSmallCapacity = 24;

char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool equalsIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (lowerAscii(*a) != lowerAscii(*b))
      return false;
  }
  return *a == *b;
}

bool beginsIgnoringCase(const char* text, const char* word) {
  for (; *word != '\0'; ++text, ++word) {
    if (lowerAscii(*text) != lowerAscii(*word))
      return false;
  }
  return true;
}

bool untouched(const char* buffer, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    if (static_cast<unsigned char>(buffer[i]) != kFill)
      return false;
  }
  return true;
}

std::unique_ptr<char[]> copyOf(const char* text, size_t length) {
  std::unique_ptr<char[]> copy(new char[length + 1]);
  memcpy(copy.get(), text, length + 1);
  return copy;
}

struct Input {
  const char* key;
  const char* word;
  const char* other;
  size_t smallSize;
  bool defaultTrue;
};

// The value a reader found, read once with a buffer that holds any value.
struct Found {
  int present;
  const char* value;
  size_t length;
};

void checkStristr(const char* props, size_t length, const char* key) {
  const char* hit = stristr(props, key);
  if (hit == nullptr)
    return;
  check(hit >= props && hit + strlen(key) <= props + length);
  check(beginsIgnoringCase(hit, key));
}

Found checkExtractProperty(const char* props, size_t length, const Input& in, char* big) {
  memset(big, kFill, length + 1);
  const int present = ExtractProperty(props, in.key, big, length + 1);
  check(present == 0 || present == 1);
  if (present == 0) {
    check(untouched(big, 0, length + 1));
    return {0, "", 0};
  }
  const size_t valueLength = strlen(big);
  check(valueLength <= length);
  check(valueLength == 0 || strstr(props, big) != nullptr);

  char small[kSmallCapacity];
  memset(small, kFill, sizeof small);
  check(ExtractProperty(props, in.key, small, in.smallSize) == 1);
  if (in.smallSize > 0) {
    const size_t cut = valueLength < in.smallSize - 1 ? valueLength : in.smallSize - 1;
    check(strlen(small) == cut && memcmp(small, big, cut) == 0);
  }
  check(untouched(small, in.smallSize, sizeof small));
  check(ExtractProperty(props, in.key, nullptr, 8) == 1);
  check(ExtractEnvironmentVarOrProperty(props, "VAR", in.key, nullptr, 0) == 1);
  return {1, big, valueLength};
}

enum class FlagChange { Set, Clear, Keep };

template <typename Flags>
Flags applyChange(Flags flags, Flags flag, FlagChange change) {
  if (change == FlagChange::Set)
    return static_cast<Flags>(flags | flag);
  if (change == FlagChange::Clear)
    return static_cast<Flags>(flags & ~flag);
  return flags;
}

void checkYesNoReaders(const char* props, const Input& in, const Found& found) {
  char small[kSmallCapacity];
  const bool empty = found.present == 0 || found.length == 0;
  const bool isYes = !empty && equalsIgnoringCase(found.value, "Yes");
  const bool isNo = !empty && equalsIgnoringCase(found.value, "No");

  const BOOL defaultValue = in.defaultTrue ? 3 : 0;
  const BOOL expectedBool =
      empty ? defaultValue : (in.defaultTrue ? (isNo ? 0 : 3) : (isYes ? 1 : 0));
  check(ExtractPropertyBOOL(props, in.key, small, in.smallSize, defaultValue) == expectedBool);

  const DWORD flag = 0x00100001u;
  const DWORD flags = in.defaultTrue ? 0xF0F0F0F1u : 0x0F0F0F0Eu;
  const WORD wflag = 0x0101;
  const WORD wflags = static_cast<WORD>(flags);
  const char* yesWord = in.word != nullptr ? in.word : "Yes";
  FlagChange change = FlagChange::Keep;
  if (!empty) {
    if (equalsIgnoringCase(found.value, yesWord))
      change = FlagChange::Set;
    else if (in.other == nullptr || equalsIgnoringCase(found.value, in.other))
      change = FlagChange::Clear;
  }
  check(ExtractPropertyDWFlags(props, in.key, small, in.smallSize, flag, flags, in.word,
                               in.other) == applyChange(flags, flag, change));
  check(ExtractPropertyWFlags(props, in.key, small, in.smallSize, wflag, wflags, in.word,
                              in.other) == applyChange(wflags, wflag, change));

  const FlagChange yesNo = isYes ? FlagChange::Set : isNo ? FlagChange::Clear : FlagChange::Keep;
  check(ExtractPropertyDWFlagsBOOL(props, in.key, small, in.smallSize, flag, flags) ==
        applyChange(flags, flag, yesNo));
  check(ExtractPropertyWFlagsBOOL(props, in.key, nullptr, 0, wflag, wflags) ==
        applyChange(wflags, wflag, yesNo));
}

void checkExtractFlag(const char* props, size_t length, const char* word) {
  const char* hit = ExtractFlag(props, word);
  if (hit == nullptr || word == nullptr)
    return;
  const size_t wordLength = strlen(word);
  check(hit >= props && hit + wordLength <= props + length);
  check(beginsIgnoringCase(hit, word));
  if (hit == props)
    return;
  check(!isWordChar(hit[-1]) && hit[-1] != '_');
  check(!isWordChar(hit[wordLength]));
}

void checkEliminateProperty(const char* props, size_t length, const char* key) {
  std::unique_ptr<char[]> copy = copyOf(props, length);
  size_t previous = length;
  // Blanking can leave the key in place when it holds spaces, so the
  // repetition is bounded.
  for (int round = 0; round < 4; ++round) {
    const int removed = EliminateProperty(copy.get(), key);
    check(removed == 0 || removed == 1);
    const size_t now = strlen(copy.get());
    check(now <= previous);
    if (removed == 0)
      return;
    check(now == 0 || (copy[now - 1] != ' ' && copy[now - 1] != '\n'));
    previous = now;
  }
}

void checkSemiExtractProperty(const char* props, size_t length, const char* key) {
  std::unique_ptr<char[]> copy = copyOf(props, length);
  char saved = 'Z';
  char* value = SemiExtractProperty(copy.get(), key, &saved);
  if (value == nullptr) {
    check(saved == '\0');
    check(memcmp(copy.get(), props, length + 1) == 0);
    return;
  }
  check(value >= copy.get() && value <= copy.get() + length);
  value[strlen(value)] = saved;
  check(memcmp(copy.get(), props, length + 1) == 0);
}

void checkExtractIterativeProperty(const char* props, size_t length, const Input& in,
                                   const Found& found, char* big) {
  // Without a prefix it is ExtractProperty.
  memset(big, kFill, length + 1);
  const int first = ExtractIterativeProperty(props, in.key, nullptr, nullptr, big, length + 1);
  check(first == found.present);
  check(first == 0 || strcmp(big, found.value) == 0);

  memset(big, kFill, length + 1);
  const int present = ExtractIterativeProperty(props, in.key, in.word, in.other, big, length + 1);
  check(present == 0 || present == 1);
  if (present == 0) {
    check(untouched(big, 0, length + 1));
    return;
  }
  check(strlen(big) <= length);
  // A null or empty prefix takes the first entry; the suffix is then not
  // tested.
  if (in.word != nullptr && in.word[0] != '\0') {
    check(beginsIgnoringCase(big, in.word));
    if (in.other != nullptr)
      check(beginsIgnoringCase(big + strlen(in.word), in.other));
  }
  char small[kSmallCapacity];
  memset(small, kFill, sizeof small);
  check(ExtractIterativeProperty(props, in.key, in.word, in.other, small, in.smallSize) == 1);
  check(untouched(small, in.smallSize, sizeof small));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3)
    return 0;
  Input in;
  in.word = kWords[data[1] % kWordCount];
  in.other = kWords[(data[1] / kWordCount) % kWordCount];
  in.smallSize = data[2] % 16;
  in.defaultTrue = (data[2] & 0x80) != 0;
  data += 3;
  size -= 3;

  // Key bytes 0..kKeyCount-1 pick a known key; others take a key of up to
  // seven bytes from the input.
  const uint8_t keyChoice = data[-3];
  char customKey[8] = {};
  if (keyChoice < kKeyCount) {
    in.key = kKeys[keyChoice];
  } else {
    const size_t keyLength = (keyChoice % 8) < size ? keyChoice % 8 : size;
    for (size_t i = 0; i < keyLength; ++i)
      customKey[i] = data[i] != 0 ? static_cast<char>(data[i]) : '=';
    in.key = customKey;
    data += keyLength;
    size -= keyLength;
  }

  const size_t length = strnlen(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<char[]> props(new char[length + 1]);
  memcpy(props.get(), data, length);
  props[length] = '\0';
  std::unique_ptr<char[]> value(new char[length + 1]);
  std::unique_ptr<char[]> scratch(new char[length + 1]);

  checkStristr(props.get(), length, in.key);
  const Found found = checkExtractProperty(props.get(), length, in, value.get());
  checkYesNoReaders(props.get(), in, found);
  checkExtractFlag(props.get(), length, in.word);
  checkExtractFlag(props.get(), length, in.key);
  checkEliminateProperty(props.get(), length, in.key);
  checkSemiExtractProperty(props.get(), length, in.key);
  checkExtractIterativeProperty(props.get(), length, in, found, scratch.get());
  check(ValidateProperties(props.get(), in.word) == 0);
  CSIDFromString(props.get(), 7);
  return 0;
}
