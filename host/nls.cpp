/*
 * Character-set services on ICU: loading character sets by id, counting
 * and classifying LMBCS characters, translating between LMBCS and other
 * sets (NLS_translate, OSTranslate) and comparing texts (IntlTextCompare).
 *
 * Every translation goes through UTF-16: the source is read into UTF-16
 * units, which are written out in the target set together with the places
 * where a character ends, so that output that does not fit is cut between
 * characters. LMBCS itself is read and written by lmbcs.cpp.
 *
 * The calls that may allocate run under the guards of host_internal.h:
 * short memory is ERR_MEMORY, or the answer a call gives for "nothing".
 */
#include "host/nls.h"

#include <unicode/ucol.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "host/host_internal.h"
#include "host/status.h"

using velko::host::GuardedAnswer;
using velko::host::GuardedStatus;
using velko::host::LmbcsCharLength;

enum class CharsetKind { kLmbcs, kUtf16Le, kIcu };

struct NLS_INFO {
  WORD csid;
  CharsetKind kind;
  const char* icuName; // for kIcu
};

namespace {

struct CharsetName {
  WORD csid;
  const char* icuName;
};

// The character sets ICU serves, by id. The short name "EUC" (23) is taken
// to be Japanese EUC, as the other EUC ids name their language.
constexpr CharsetName kCharsets[] = {
    {23, "EUC-JP"},        {26, "Big5"},          {27, "GB2312"},        {31, "US-ASCII"},
    {32, "ISO-8859-1"},    {33, "ISO-8859-2"},    {34, "ISO-8859-3"},    {35, "ISO-8859-4"},
    {36, "ISO-8859-5"},    {37, "ISO-8859-6"},    {38, "ISO-8859-7"},    {39, "ISO-8859-8"},
    {40, "ISO-8859-9"},    {64, "ibm-37"},        {80, "windows-1250"},  {81, "windows-1251"},
    {82, "windows-1252"},  {144, "TIS-620"},      {170, "UTF-7"},        {171, "UTF-8"},
    {3072, "ibm-856"},     {3276, "ISO-2022-JP"}, {3301, "EUC-JP"},      {3302, "EUC-TW"},
    {3303, "EUC-KR"},      {3304, "EUC-CN"},      {3306, "ibm-921"},     {3307, "ibm-922"},
    {3308, "KOI8-R"},      {3309, "ibm-720"},     {3310, "windows-1258"}, {3311, "ISO-8859-10"},
    {3356, "ISO-8859-8-I"}, {3357, "ISO-8859-8-E"},
};

// The information blocks handed out and not yet unloaded.
struct LoadedCharsets {
  std::mutex mutex;
  std::set<const NLS_INFO*> live;
};

LoadedCharsets& Loaded() {
  static LoadedCharsets loaded;
  return loaded;
}

bool IsLoaded(NLS_PINFO info) {
  LoadedCharsets& loaded = Loaded();
  std::lock_guard lock(loaded.mutex);
  return loaded.live.count(info) != 0;
}

// Null means LMBCS; an unknown block is refused by the callers.
CharsetKind KindOf(NLS_PINFO info) { return info == nullptr ? CharsetKind::kLmbcs : info->kind; }

const char* IcuNameOf(NLS_PINFO info) {
  return info->kind == CharsetKind::kUtf16Le ? "UTF-16LE" : info->icuName;
}

// Text in some character set, with the offsets where its characters end.
struct Encoded {
  std::string bytes;
  std::vector<size_t> ends;
};

// The longest whole-character prefix of at most room bytes.
size_t FittingPrefix(const Encoded& text, size_t room) {
  if (text.bytes.size() <= room)
    return text.bytes.size();
  const auto after = std::upper_bound(text.ends.begin(), text.ends.end(), room);
  return after == text.ends.begin() ? 0 : *(after - 1);
}

// LMBCS as it is, cut into characters.
Encoded SplitLmbcs(std::string_view lmbcs) {
  Encoded text{std::string(lmbcs), {}};
  for (size_t at = 0; at < lmbcs.size();) {
    at = std::min(lmbcs.size(), at + LmbcsCharLength(static_cast<BYTE>(lmbcs[at])));
    text.ends.push_back(at);
  }
  return text;
}

bool PairAt(std::u16string_view units, size_t at) {
  return at + 1 < units.size() && U16_IS_LEAD(units[at]) && U16_IS_TRAIL(units[at + 1]);
}

Encoded EncodeLmbcs(std::u16string_view units) {
  Encoded text;
  for (size_t at = 0; at < units.size(); ++at) {
    velko::host::AppendLmbcsUnit(units[at], text.bytes);
    if (PairAt(units, at))
      velko::host::AppendLmbcsUnit(units[++at], text.bytes);
    text.ends.push_back(text.bytes.size());
  }
  return text;
}

Encoded EncodeUtf16Le(std::u16string_view units) {
  Encoded text;
  text.bytes.reserve(units.size() * 2);
  for (size_t at = 0; at < units.size(); ++at) {
    text.bytes.push_back(static_cast<char>(units[at] & 0xFF));
    text.bytes.push_back(static_cast<char>(units[at] >> 8));
    // The two halves of a surrogate pair stay together.
    if (!(U16_IS_LEAD(units[at]) && PairAt(units, at)))
      text.ends.push_back(text.bytes.size());
  }
  return text;
}

// Through an ICU converter; what the set cannot hold becomes "?". A
// character ends where the source offset of the output bytes changes.
bool EncodeIcu(const char* icuName, std::u16string_view units, Encoded* text) {
  UConverter* converter = velko::host::ThreadConverter(icuName);
  if (converter == nullptr)
    return false;
  const size_t capacity = units.size() * static_cast<size_t>(ucnv_getMaxCharSize(converter)) + 16;
  text->bytes.assign(capacity, '\0');
  std::vector<int32_t> offsets(capacity, -1);
  char* target = text->bytes.data();
  const UChar* source = reinterpret_cast<const UChar*>(units.data());
  UErrorCode error = U_ZERO_ERROR;
  ucnv_fromUnicode(converter, &target, target + capacity, &source, source + units.size(),
                   offsets.data(), true, &error);
  if (U_FAILURE(error))
    return false;
  const size_t length = static_cast<size_t>(target - text->bytes.data());
  text->bytes.resize(length);
  for (size_t at = 1; at < length; ++at)
    if (offsets[at] >= 0 && offsets[at] != offsets[at - 1])
      text->ends.push_back(at);
  if (length != 0)
    text->ends.push_back(length);
  return true;
}

bool Encode(CharsetKind kind, const char* icuName, std::u16string_view units, Encoded* text) {
  switch (kind) {
  case CharsetKind::kLmbcs:
    *text = EncodeLmbcs(units);
    return true;
  case CharsetKind::kUtf16Le:
    *text = EncodeUtf16Le(units);
    return true;
  case CharsetKind::kIcu:
    return EncodeIcu(icuName, units, text);
  }
  return false;
}

std::u16string UnitsFromUtf16Le(std::string_view bytes) {
  std::u16string units;
  units.reserve(bytes.size() / 2 + 1);
  for (size_t at = 0; at + 1 < bytes.size(); at += 2)
    units.push_back(static_cast<char16_t>(static_cast<BYTE>(bytes[at]) | static_cast<BYTE>(bytes[at + 1]) << 8));
  if (bytes.size() % 2 != 0)
    units.push_back(u'\uFFFD');
  return units;
}

bool DecodeIcu(const char* icuName, std::string_view bytes, std::u16string* units) {
  UConverter* converter = velko::host::ThreadConverter(icuName);
  if (converter == nullptr)
    return false;
  // A stateful set may give two units for a byte at most.
  units->assign(bytes.size() * 2 + 2, u'\0');
  UErrorCode error = U_ZERO_ERROR;
  const int32_t length = ucnv_toUChars(converter, reinterpret_cast<UChar*>(units->data()),
                                       static_cast<int32_t>(units->size()), bytes.data(),
                                       static_cast<int32_t>(bytes.size()), &error);
  if (U_FAILURE(error))
    return false;
  units->resize(static_cast<size_t>(length));
  return true;
}

bool Decode(CharsetKind kind, const char* icuName, std::string_view bytes, std::u16string* units) {
  switch (kind) {
  case CharsetKind::kLmbcs:
    *units = velko::host::Utf16FromLmbcs(bytes);
    return true;
  case CharsetKind::kUtf16Le:
    *units = UnitsFromUtf16Le(bytes);
    return true;
  case CharsetKind::kIcu:
    return DecodeIcu(icuName, bytes, units);
  }
  return false;
}

// The byte length of a NUL-terminated text in a set (a zero unit ends
// UTF-16).
size_t TerminatedLength(CharsetKind kind, const BYTE* text) {
  if (kind != CharsetKind::kUtf16Le)
    return std::strlen(reinterpret_cast<const char*>(text));
  size_t length = 0;
  while (text[length] != 0 || text[length + 1] != 0)
    length += 2;
  return length;
}

// Steps through characters of a set other than LMBCS with ICU. Stops after
// maxChars characters or at limit; returns the characters and sets *bytes.
size_t StepIcuChars(const char* icuName, const BYTE* text, size_t limit, size_t maxChars,
                    size_t* bytes) {
  UConverter* converter = velko::host::ThreadConverter(icuName);
  const char* at = reinterpret_cast<const char*>(text);
  const char* end = at + limit;
  size_t chars = 0;
  while (at < end && chars < maxChars && converter != nullptr) {
    UErrorCode error = U_ZERO_ERROR;
    const char* before = at;
    ucnv_getNextUChar(converter, &at, end, &error);
    if (at == before) // nothing consumed: take the byte as a character
      ++at;
    ++chars;
  }
  *bytes = static_cast<size_t>(at - reinterpret_cast<const char*>(text));
  return chars;
}

// The bytes of the first numChars LMBCS characters; with NLS_NULLTERM, up
// to the NUL, a character cut by the NUL ending there.
size_t LmbcsBytes(const BYTE* text, WORD numChars) {
  size_t at = 0;
  if (numChars != NLS_NULLTERM) {
    for (WORD chars = 0; chars < numChars; ++chars)
      at += LmbcsCharLength(text[at]);
    return at;
  }
  while (text[at] != 0) {
    const size_t length = LmbcsCharLength(text[at]);
    size_t k = 1;
    while (k < length && text[at + k] != 0)
      ++k;
    at += k;
  }
  return at;
}

size_t LmbcsChars(const BYTE* text, WORD numBytes) {
  const size_t limit = numBytes == NLS_NULLTERM ? LmbcsBytes(text, NLS_NULLTERM) : numBytes;
  size_t chars = 0;
  for (size_t at = 0; at < limit; ++chars)
    at += LmbcsCharLength(text[at]);
  return chars;
}

// The UTF-16 units of a text given in LMBCS.
std::u16string UnitsOfLmbcs(const char* text, size_t length) {
  if (text == nullptr || length == 0)
    return {};
  return velko::host::Utf16FromLmbcs(std::string_view(text, length));
}

// The same, kept in the object itself for a short text, so that the calls
// made for one character or word (translation for output, comparison)
// need no memory.
class LmbcsUnits {
public:
  LmbcsUnits(const char* text, size_t length) {
    if (text == nullptr || length == 0)
      return;
    const std::string_view lmbcs(text, length);
    if (length <= kShortLength) {
      units_ = std::u16string_view(short_, velko::host::Utf16FromLmbcsInto(lmbcs, short_));
      return;
    }
    long_ = velko::host::Utf16FromLmbcs(lmbcs);
    units_ = long_;
  }
  LmbcsUnits(const LmbcsUnits&) = delete;
  LmbcsUnits& operator=(const LmbcsUnits&) = delete;

  std::u16string_view units() const { return units_; }

private:
  static constexpr size_t kShortLength = 256;
  char16_t short_[kShortLength];
  std::u16string long_;
  std::u16string_view units_;
};

// Writes the units as UTF-16LE, as many whole characters as fit in room
// bytes, and two zero bytes when room for them remains; the text bytes
// written.
size_t WriteUtf16Le(std::u16string_view units, char* out, size_t room) {
  size_t written = 0;
  for (size_t at = 0; at < units.size();) {
    const size_t count = PairAt(units, at) ? 2 : 1;
    if (written + 2 * count > room)
      break;
    for (size_t unit = at; unit < at + count; ++unit) {
      out[written++] = static_cast<char>(units[unit] & 0xFF);
      out[written++] = static_cast<char>(units[unit] >> 8);
    }
    at += count;
  }
  if (room - written >= 2) {
    out[written] = 0;
    out[written + 1] = 0;
  }
  return written;
}

// Writes the longest whole-character prefix that fits in room bytes and
// still leaves room for a terminator of terminatorBytes, then the
// terminator; returns the text bytes written.
size_t WriteFitting(const Encoded& text, char* out, size_t room, size_t terminatorBytes) {
  if (room < terminatorBytes)
    return 0;
  const size_t written = FittingPrefix(text, room - terminatorBytes);
  if (written != 0)
    std::memcpy(out, text.bytes.data(), written);
  std::memset(out + written, 0, terminatorBytes);
  return written;
}

UCollator* ThreadCollator(WORD flags) {
  struct Collators {
    UCollator* byFlags[4] = {};
    ~Collators() {
      for (UCollator* collator : byFlags)
        if (collator != nullptr)
          ucol_close(collator);
    }
  };
  thread_local Collators collators;
  const unsigned index = flags & (INTL_ACCENT_SENSITIVE | INTL_CASE_SENSITIVE);
  if (collators.byFlags[index] != nullptr)
    return collators.byFlags[index];
  UErrorCode error = U_ZERO_ERROR;
  UCollator* collator = ucol_open("", &error);
  if (U_FAILURE(error))
    return nullptr;
  const bool accents = (flags & INTL_ACCENT_SENSITIVE) != 0;
  const bool cases = (flags & INTL_CASE_SENSITIVE) != 0;
  const UColAttributeValue strength =
      accents && cases ? UCOL_TERTIARY : accents ? UCOL_SECONDARY : UCOL_PRIMARY;
  ucol_setStrength(collator, strength);
  ucol_setAttribute(collator, UCOL_CASE_LEVEL, cases && !accents ? UCOL_ON : UCOL_OFF, &error);
  ucol_setAttribute(collator, UCOL_NORMALIZATION_MODE, UCOL_ON, &error);
  if (U_FAILURE(error)) {
    ucol_close(collator);
    return nullptr;
  }
  collators.byFlags[index] = collator;
  return collator;
}

std::u16string CaseMapped(const std::u16string& units, bool upper) {
  std::u16string mapped(units.size() * 3 + 1, u'\0'); // a unit maps to three at most
  UErrorCode error = U_ZERO_ERROR;
  const auto map = upper ? u_strToUpper : u_strToLower;
  const int32_t length = map(reinterpret_cast<UChar*>(mapped.data()), static_cast<int32_t>(mapped.size()),
                             reinterpret_cast<const UChar*>(units.data()),
                             static_cast<int32_t>(units.size()), "", &error);
  if (U_FAILURE(error))
    return units;
  mapped.resize(static_cast<size_t>(length));
  return mapped;
}

} // namespace

extern "C" NLS_STATUS NLS_load_charset(WORD csid, NLS_PINFO* retInfo) {
  if (retInfo == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  *retInfo = nullptr;
  return GuardedStatus([&]() -> NLS_STATUS {
    NLS_INFO info{csid, CharsetKind::kIcu, nullptr};
    if (csid >= 256 && csid <= 258) {
      info.kind = CharsetKind::kLmbcs;
    } else if (csid == NLS_CS_UNICODE) {
      info.kind = CharsetKind::kUtf16Le;
    } else {
      const auto found =
          std::find_if(std::begin(kCharsets), std::end(kCharsets),
                       [csid](const CharsetName& entry) { return entry.csid == csid; });
      if (found == std::end(kCharsets) || velko::host::ThreadConverter(found->icuName) == nullptr)
        return ERR_HOST_CHARSET_UNKNOWN;
      info.icuName = found->icuName;
    }
    auto made = std::make_unique<NLS_INFO>(info);
    LoadedCharsets& loaded = Loaded();
    std::lock_guard lock(loaded.mutex);
    loaded.live.insert(made.get());
    *retInfo = made.release();
    return NLS_SUCCESS;
  });
}

extern "C" NLS_STATUS NLS_unload_charset(NLS_PINFO info) {
  LoadedCharsets& loaded = Loaded();
  std::lock_guard lock(loaded.mutex);
  if (info == nullptr || loaded.live.erase(info) == 0)
    return ERR_HOST_BAD_ARGUMENT;
  delete info;
  return NLS_SUCCESS;
}

extern "C" NLS_STATUS NLS_string_chars(const BYTE* str, WORD numBytes, WORD* retNumChars,
                                       NLS_PINFO info) {
  if (str == nullptr || retNumChars == nullptr || (info != nullptr && !IsLoaded(info)))
    return ERR_HOST_BAD_ARGUMENT;
  const CharsetKind kind = KindOf(info);
  if (kind == CharsetKind::kLmbcs) {
    *retNumChars = static_cast<WORD>(LmbcsChars(str, numBytes));
    return NLS_SUCCESS;
  }
  return GuardedStatus([&]() -> NLS_STATUS {
    const size_t limit = numBytes == NLS_NULLTERM ? TerminatedLength(kind, str) : numBytes;
    size_t bytes = 0;
    *retNumChars = static_cast<WORD>(StepIcuChars(IcuNameOf(info), str, limit, limit, &bytes));
    return NLS_SUCCESS;
  });
}

extern "C" NLS_STATUS NLS_string_bytes(const BYTE* str, WORD numChars, WORD* retNumBytes,
                                       NLS_PINFO info) {
  if (str == nullptr || retNumBytes == nullptr || (info != nullptr && !IsLoaded(info)))
    return ERR_HOST_BAD_ARGUMENT;
  const CharsetKind kind = KindOf(info);
  if (kind == CharsetKind::kLmbcs) {
    *retNumBytes = static_cast<WORD>(LmbcsBytes(str, numChars));
    return NLS_SUCCESS;
  }
  if (numChars == NLS_NULLTERM) {
    *retNumBytes = static_cast<WORD>(TerminatedLength(kind, str));
    return NLS_SUCCESS;
  }
  return GuardedStatus([&]() -> NLS_STATUS {
    UConverter* converter = velko::host::ThreadConverter(IcuNameOf(info));
    const size_t limit =
        converter == nullptr
            ? numChars
            : std::min<size_t>(0xFFFF,
                               numChars * static_cast<size_t>(ucnv_getMaxCharSize(converter)));
    size_t bytes = 0;
    StepIcuChars(IcuNameOf(info), str, limit, numChars, &bytes);
    *retNumBytes = static_cast<WORD>(bytes);
    return NLS_SUCCESS;
  });
}

extern "C" BOOL NLS_isleadbyte(BYTE c, NLS_PINFO info) {
  if (info == nullptr || info->kind == CharsetKind::kLmbcs)
    return LmbcsCharLength(c) > 1 ? TRUE : FALSE;
  if (!IsLoaded(info))
    return FALSE;
  return GuardedAnswer<BOOL>(FALSE, [&]() -> BOOL {
    // A byte after which ICU, told that more input follows, still waits for
    // the rest of the character.
    UConverter* converter = velko::host::ThreadConverter(IcuNameOf(info));
    if (converter == nullptr)
      return FALSE;
    const char byte = static_cast<char>(c);
    const char* source = &byte;
    UChar units[4];
    UChar* target = units;
    UErrorCode error = U_ZERO_ERROR;
    ucnv_toUnicode(converter, &target, units + 4, &source, &byte + 1, nullptr, false, &error);
    return U_SUCCESS(error) && target == units ? TRUE : FALSE;
  });
}

extern "C" BOOL NLS_isalpha(const BYTE* character, NLS_PINFO info) {
  if (character == nullptr)
    return FALSE;
  return GuardedAnswer<BOOL>(FALSE, [&]() -> BOOL {
    UChar32 codePoint;
    if (info == nullptr || info->kind == CharsetKind::kLmbcs) {
      size_t length = 0;
      codePoint = velko::host::DecodeLmbcsChar(character, &length);
    } else {
      if (!IsLoaded(info))
        return FALSE;
      UConverter* converter = velko::host::ThreadConverter(IcuNameOf(info));
      if (converter == nullptr)
        return FALSE;
      const char* at = reinterpret_cast<const char*>(character);
      UErrorCode error = U_ZERO_ERROR;
      codePoint = ucnv_getNextUChar(converter, &at, at + ucnv_getMaxCharSize(converter), &error);
      if (U_FAILURE(error))
        return FALSE;
    }
    return u_isalpha(codePoint) ? TRUE : FALSE;
  });
}

extern "C" NLS_STATUS NLS_translate(const BYTE* in, WORD inLength, BYTE* out, WORD* inoutOutLength,
                                    WORD flags, NLS_PINFO info) {
  if (inoutOutLength == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  const size_t room = *inoutOutLength;
  *inoutOutLength = 0;
  if ((in == nullptr && inLength != 0) || (out == nullptr && room != 0) ||
      (info != nullptr && !IsLoaded(info)))
    return ERR_HOST_BAD_ARGUMENT;

  return GuardedStatus([&]() -> NLS_STATUS {
    const bool fromLmbcs = (flags & NLS_SOURCEISLMBCS) != 0;
    const CharsetKind other = KindOf(info);
    const char* otherName = other == CharsetKind::kIcu ? info->icuName : nullptr;
    const CharsetKind sourceKind = fromLmbcs ? CharsetKind::kLmbcs : other;
    const CharsetKind targetKind = fromLmbcs ? other : CharsetKind::kLmbcs;

    size_t length = inLength;
    if (in == nullptr)
      length = 0;
    else if (inLength == NLS_NULLTERM)
      length = TerminatedLength(sourceKind, in);
    const std::string_view source(reinterpret_cast<const char*>(in), length);

    Encoded text;
    if (sourceKind == CharsetKind::kLmbcs && targetKind == CharsetKind::kLmbcs) {
      text = SplitLmbcs(source);
    } else {
      std::u16string units;
      if (!Decode(sourceKind, otherName, source, &units) ||
          !Encode(targetKind, otherName, units, &text))
        return ERR_HOST_TRANSLATION_FAILED;
    }

    size_t terminatorBytes = 0;
    if ((flags & NLS_NONULLTERMINATE) == 0)
      terminatorBytes = targetKind == CharsetKind::kUtf16Le ? 2 : 1;
    const size_t written = WriteFitting(text, reinterpret_cast<char*>(out), room, terminatorBytes);
    *inoutOutLength = static_cast<WORD>(written);
    return written == text.bytes.size() && room >= terminatorBytes ? NLS_SUCCESS
                                                                   : ERR_HOST_BUFFER_TOO_SMALL;
  });
}

// Without memory nothing is written and the answer is 0; short LMBCS to
// Unicode, what the renderer asks for, needs none.
extern "C" WORD OSTranslate(WORD mode, const char* in, WORD inLength, char* out, WORD outLength) {
  if (out == nullptr || (in == nullptr && inLength != 0))
    return 0;
  return GuardedAnswer<WORD>(0, [&]() -> WORD {
    const std::string_view source(in == nullptr ? "" : in, in == nullptr ? 0 : inLength);
    Encoded text;
    switch (mode) {
    case OS_TRANSLATE_NATIVE_TO_LMBCS:
    case OS_TRANSLATE_UTF8_TO_LMBCS: {
      std::u16string units;
      if (!DecodeIcu("UTF-8", source, &units))
        return 0;
      text = EncodeLmbcs(units);
      break;
    }
    case OS_TRANSLATE_LMBCS_TO_NATIVE:
    case OS_TRANSLATE_LMBCS_TO_UTF8:
      if (!EncodeIcu("UTF-8", UnitsOfLmbcs(in, inLength), &text))
        return 0;
      break;
    case OS_TRANSLATE_LOWER_CASE:
    case OS_TRANSLATE_UPPER_CASE:
      text = EncodeLmbcs(CaseMapped(UnitsOfLmbcs(in, inLength), mode == OS_TRANSLATE_UPPER_CASE));
      break;
    case OS_TRANSLATE_UNICODE_TO_LMBCS:
      text = EncodeLmbcs(UnitsFromUtf16Le(source));
      break;
    case OS_TRANSLATE_LMBCS_TO_UNICODE: {
      // Written directly: the renderer asks this for each character.
      const LmbcsUnits units(in, inLength);
      return static_cast<WORD>(WriteUtf16Le(units.units(), out, outLength));
    }
    default:
      if (outLength != 0)
        out[0] = 0;
      return 0;
    }
    const size_t written = FittingPrefix(text, outLength);
    if (written != 0)
      std::memcpy(out, text.bytes.data(), written);
    if (outLength > written)
      out[written] = 0;
    return static_cast<WORD>(written);
  });
}

int velko::host::CollatedCompare(std::string_view a, std::string_view b, WORD flags) {
  const LmbcsUnits textA(a.data(), a.size());
  const LmbcsUnits textB(b.data(), b.size());
  const std::u16string_view unitsA = textA.units();
  const std::u16string_view unitsB = textB.units();
  UCollator* collator = ThreadCollator(flags);
  if (collator == nullptr)
    return unitsA.compare(unitsB) < 0 ? -1 : unitsA == unitsB ? 0 : 1;
  const UCollationResult result = ucol_strcoll(
      collator, reinterpret_cast<const UChar*>(unitsA.data()), static_cast<int32_t>(unitsA.size()),
      reinterpret_cast<const UChar*>(unitsB.data()), static_cast<int32_t>(unitsB.size()));
  return result == UCOL_LESS ? -1 : result == UCOL_EQUAL ? 0 : 1;
}

// Texts too long to be kept in place are compared byte by byte when
// memory for them runs out.
extern "C" int IntlTextCompare(const char* a, WORD lengthA, const char* b, WORD lengthB,
                               WORD flags) {
  const std::string_view textA(a == nullptr ? "" : a, a == nullptr ? 0 : lengthA);
  const std::string_view textB(b == nullptr ? "" : b, b == nullptr ? 0 : lengthB);
  const int bytewise = textA.compare(textB);
  return GuardedAnswer(bytewise < 0 ? -1 : bytewise == 0 ? 0 : 1,
                       [&] { return velko::host::CollatedCompare(textA, textB, flags); });
}
