/*
 * LMBCS, the host's multi-byte character set: reading it through ICU's
 * LMBCS-1 converter, writing it one fixed way (rules in host/nls.h), and
 * the per-thread cache of ICU converters that all translation uses.
 *
 * Why the writer looks the way it does, checked against ICU's reader:
 *   - bytes 0x80-0xFF without a group byte are code page 850 (group 1);
 *   - 0x0F c reads as c - 0x20 for c below 0x80 and as c above;
 *   - 0x14 hh ll reads as the UTF-16 unit hhll, except that hh = 0xF6 means
 *     "ll00". So a unit with a zero low byte is written 0x14 0xF6 hh (no NUL
 *     inside a character), and the units U+F601-U+F6FF, which 0x14 cannot
 *     carry at all, go through group 0x12 (windows-950 maps them);
 *   - every unit U+0001-U+00FF is ASCII, a control or in code page 850, so
 *     0x14 never carries a zero high byte either;
 *   - ICU reads 0x14 FF FE and 0x14 FF FF as U+FFFD, and no group maps the
 *     noncharacters U+FFFE and U+FFFF, so those two cannot come back.
 * Translation to other sets lives in nls.cpp.
 */
#include <unicode/ustring.h>

#include <array>
#include <cassert>
#include <string>
#include <utility>
#include <vector>

#include "host/host_internal.h"
#include "host/nls.h"

namespace velko::host {
namespace {

constexpr BYTE kGroupControl = 0x0F;
constexpr BYTE kGroupChineseTraditional = 0x12;
constexpr BYTE kGroupUnicode = 0x14;
constexpr BYTE kUnicodeZeroLow = 0xF6;

class ConverterCache {
public:
  ~ConverterCache() {
    for (auto& entry : entries_)
      if (entry.second != nullptr)
        ucnv_close(entry.second);
  }
  // The room for the new entry is made before the converter is opened, so
  // that running out of memory leaves no converter behind.
  UConverter* Get(const char* name) {
    for (auto& entry : entries_)
      if (entry.first == name)
        return entry.second;
    std::string key(name);
    entries_.reserve(entries_.size() + 1);
    UErrorCode error = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(name, &error);
    if (U_FAILURE(error)) {
      converter = nullptr;
    } else {
      UErrorCode ignored = U_ZERO_ERROR;
      ucnv_setSubstString(converter, u"?", 1, &ignored);
    }
    entries_.emplace_back(std::move(key), converter);
    return converter;
  }

private:
  std::vector<std::pair<std::string, UConverter*>> entries_;
};

// Code page 850 as ICU's LMBCS-1 reads the bytes 0x80-0xFF, both ways.
struct Cp850 {
  std::array<char16_t, 128> unitOf{};      // byte - 0x80 -> unit
  std::array<BYTE, 0x10000> byteOf{};      // unit -> byte, 0 when none
};

// The windows-950 bytes of U+F6ll that ICU's LMBCS-1 reads back from
// group 0x12; {0, 0} where it does not.
using F6Bytes = std::array<std::array<BYTE, 2>, 256>;

const Cp850& TheCp850() {
  static const Cp850 table = [] {
    Cp850 built;
    UConverter* lmbcs = ThreadConverter("LMBCS-1");
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
      const char in = static_cast<char>(byte);
      UChar unit = 0xFFFD;
      UErrorCode error = U_ZERO_ERROR;
      ucnv_reset(lmbcs);
      ucnv_toUChars(lmbcs, &unit, 1, &in, 1, &error);
      built.unitOf[byte - 0x80] = unit;
      if (unit != 0xFFFD && built.byteOf[unit] == 0)
        built.byteOf[unit] = static_cast<BYTE>(byte);
    }
    return built;
  }();
  return table;
}

const F6Bytes& TheF6Bytes() {
  static const F6Bytes table = [] {
    F6Bytes built{};
    UConverter* big5 = ThreadConverter("windows-950");
    UConverter* lmbcs = ThreadConverter("LMBCS-1");
    if (big5 == nullptr)
      return built;
    for (int low = 1; low <= 0xFF; ++low) {
      const UChar unit = static_cast<UChar>(0xF600 | low);
      char bytes[4];
      UErrorCode error = U_ZERO_ERROR;
      ucnv_reset(big5);
      const int32_t length = ucnv_fromUChars(big5, bytes, sizeof bytes, &unit, 1, &error);
      if (U_FAILURE(error) || length != 2)
        continue;
      const char lmbcsForm[3] = {static_cast<char>(kGroupChineseTraditional), bytes[0], bytes[1]};
      UChar back = 0;
      error = U_ZERO_ERROR;
      ucnv_reset(lmbcs);
      if (ucnv_toUChars(lmbcs, &back, 1, lmbcsForm, 3, &error) == 1 && back == unit)
        built[low] = {static_cast<BYTE>(bytes[0]), static_cast<BYTE>(bytes[1])};
    }
    return built;
  }();
  return table;
}

} // namespace

UConverter* ThreadConverter(const char* icuName) {
  thread_local ConverterCache cache;
  UConverter* converter = cache.Get(icuName);
  if (converter != nullptr)
    ucnv_reset(converter);
  return converter;
}

size_t Utf16FromLmbcsInto(std::string_view lmbcs, char16_t* out) {
  if (lmbcs.empty())
    return 0;
  UConverter* converter = ThreadConverter("LMBCS-1");
  UErrorCode error = U_ZERO_ERROR;
  const int32_t length =
      ucnv_toUChars(converter, reinterpret_cast<UChar*>(out), static_cast<int32_t>(lmbcs.size()),
                    lmbcs.data(), static_cast<int32_t>(lmbcs.size()), &error);
  if (U_FAILURE(error) && error != U_STRING_NOT_TERMINATED_WARNING)
    return 0;
  return static_cast<size_t>(length);
}

std::u16string Utf16FromLmbcs(std::string_view lmbcs) {
  std::u16string text(lmbcs.size(), u'\0');
  text.resize(Utf16FromLmbcsInto(lmbcs, text.data()));
  return text;
}

void AppendLmbcsUnit(char16_t unit, std::string& out) {
  const auto put = [&out](unsigned byte) { out.push_back(static_cast<char>(byte)); };
  if (unit == 0 || unit == u'\t' || unit == u'\n' || unit == u'\r' || (unit >= 0x20 && unit <= 0x7F)) {
    put(unit);
    return;
  }
  if (unit < 0x20) {
    put(kGroupControl);
    put(unit + 0x20);
    return;
  }
  if (unit >= 0x80 && unit <= 0x9F) {
    put(kGroupControl);
    put(unit);
    return;
  }
  if (const BYTE byte = TheCp850().byteOf[unit]; byte != 0) {
    put(byte);
    return;
  }
  const unsigned high = unit >> 8;
  const unsigned low = unit & 0xFF;
  assert(high != 0 && "every unit below U+0100 is ASCII, a control or code page 850");
  if (high == kUnicodeZeroLow && low != 0) {
    const auto& bytes = TheF6Bytes()[low];
    if (bytes[0] != 0) {
      put(kGroupChineseTraditional);
      put(bytes[0]);
      put(bytes[1]);
      return;
    }
  }
  put(kGroupUnicode);
  if (low == 0) {
    put(kUnicodeZeroLow);
    put(high);
    return;
  }
  put(high);
  put(low);
}

std::string LmbcsFromUtf16(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  for (const char16_t unit : text)
    AppendLmbcsUnit(unit, out);
  return out;
}

UChar32 DecodeLmbcsChar(const BYTE* text, size_t* length) {
  const BYTE lead = text[0];
  if (lead < 0x80 && LmbcsCharLength(lead) == 1) {
    *length = 1;
    const bool valid = lead >= 0x20 || lead == 0 || lead == '\t' || lead == '\n' || lead == '\r' ||
                       lead == 0x19;
    return valid ? lead : 0xFFFD; // the other bytes below 0x20 are unused group bytes
  }
  if (lead >= 0x80) {
    *length = 1;
    return TheCp850().unitOf[lead - 0x80];
  }
  size_t bytes = 1;
  while (bytes < LmbcsCharLength(lead) && text[bytes] != 0)
    ++bytes;
  *length = bytes;
  char16_t units[3];
  if (Utf16FromLmbcsInto(std::string_view(reinterpret_cast<const char*>(text), bytes), units) == 0)
    return 0xFFFD;
  const char16_t unit = units[0];
  // A high surrogate joins the low surrogate of the next 0x14 group.
  if (!U16_IS_LEAD(unit) || text[bytes] != kGroupUnicode || text[bytes + 1] == 0 ||
      text[bytes + 2] == 0)
    return unit;
  char16_t next[3];
  if (Utf16FromLmbcsInto(std::string_view(reinterpret_cast<const char*>(text + bytes), 3), next) !=
          1 ||
      !U16_IS_TRAIL(next[0]))
    return unit;
  *length = bytes + 3;
  return U16_GET_SUPPLEMENTARY(unit, next[0]);
}

} // namespace velko::host

std::string LmbcsFromUtf8(std::string_view utf8) {
  if (utf8.empty())
    return {};
  std::u16string units(utf8.size(), u'\0'); // UTF-8 never gives more units than bytes
  int32_t length = 0;
  UErrorCode error = U_ZERO_ERROR;
  u_strFromUTF8WithSub(reinterpret_cast<UChar*>(units.data()), static_cast<int32_t>(units.size()),
                       &length, utf8.data(), static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr,
                       &error);
  if (U_FAILURE(error))
    return {};
  units.resize(static_cast<size_t>(length));
  return velko::host::LmbcsFromUtf16(units);
}

std::string Utf8FromLmbcs(std::string_view lmbcs) {
  const std::u16string units = velko::host::Utf16FromLmbcs(lmbcs);
  if (units.empty())
    return {};
  std::string utf8(units.size() * 3, '\0'); // at most three bytes per unit
  int32_t length = 0;
  UErrorCode error = U_ZERO_ERROR;
  u_strToUTF8WithSub(utf8.data(), static_cast<int32_t>(utf8.size()), &length,
                     reinterpret_cast<const UChar*>(units.data()), static_cast<int32_t>(units.size()),
                     '?', nullptr, &error);
  if (U_FAILURE(error))
    return {};
  utf8.resize(static_cast<size_t>(length));
  return utf8;
}
