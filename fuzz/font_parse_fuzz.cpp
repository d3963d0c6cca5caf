/*
 * Fuzz target for the font and colour string parsers and the font override
 * and filter fed with what they parse.
 *
 * The first 16 bytes choose options, a FONTID, a colour value and a colour
 * record; the rest is split at NUL bytes into a font string, a second font
 * string and a colour text, each held in an allocation of exactly its
 * length. The font specs parsed are applied to the FONTID and used as
 * filters; the FONTID is written as a font string, which must fit its
 * buffer and parse again. A sanitizer finding or a broken invariant traps.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <memory>
#include <vector>

#include "chunk/font_override.h"
#include "fuzz/fuzz_support.h"
#include "generate/color_string.h"
#include "generate/font_string.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"

namespace {

VelkoRTItem& Item() {
  static VelkoRTItem* item = [] {
    auto* made = new VelkoRTItem(new LSXLsiSession());
    const char* faces[] = {"Arial", "Arial Narrow", "Arial Black", "X", ""};
    for (size_t i = 0; i < sizeof faces / sizeof faces[0]; ++i) {
      font_face& face = made->internal->faces[made->internal->face_count++];
      face.id = static_cast<BYTE>(5 + i);
      strncpy(face.name, faces[i], sizeof face.name - 1);
    }
    return made;
  }();
  return *item;
}

/* The next NUL-terminated piece of the input, copied into an allocation of
 * exactly its length; null when the input is used up and absent is allowed. */
std::unique_ptr<char[]> NextText(const uint8_t** data, size_t* size) {
  const uint8_t* end = static_cast<const uint8_t*>(memchr(*data, 0, *size));
  size_t length = end != nullptr ? static_cast<size_t>(end - *data) : *size;
  std::unique_ptr<char[]> text(new char[length + 1]);
  memcpy(text.get(), *data, length);
  text[length] = '\0';
  size_t used = end != nullptr ? length + 1 : length;
  *data += used;
  *size -= used;
  return text;
}

const WORD kParts[] = {PROP_FONT,      PROP_TEXTATTRIBUTES, PROP_FONTCOLOR,
                       PROP_POINTSIZE, PROP_FONTFACE,       0};

void UseFontSpec(font_spec spec, const font_spec_mask& mask, FONTID font,
                      const COLOR_VALUE& value) {
  FONTID changed = font;
  DWORD rgb = 0;
  WORD flags = 0;
  ApplyFontOverride(&changed, &rgb, &flags, &spec, mask.given);
  check(FontNotFiltered(&font, &spec, mask.given) <= 1);

  COLOR_VALUE color = value;
  DWORD recordNeeded = 2, effectNeeded = 2;
  changed = font;
  ApplyFontOverrideExt(&changed, &color, &recordNeeded, &effectNeeded, &spec, mask.given);
  check(recordNeeded <= 1 && effectNeeded <= 1);
  check(color.Reserved == value.Reserved || color.Reserved == 0);
  changed = font;
  ApplyFontOverrideExt(&changed, nullptr, &recordNeeded, &effectNeeded, &spec, mask.given);
  check(FontNotFilteredExt(&font, &value, &spec, mask.given) <= 1);
  check(FontNotFilteredExt(&font, nullptr, &spec, mask.given) <= 1);
}

bool SameSpec(const font_spec& a, const font_spec& b) {
  return a.face == b.face && a.attributes == b.attributes && a.color == b.color &&
         a.size == b.size && a.attributes_add == b.attributes_add &&
         a.attributes_remove == b.attributes_remove && a.color_flags_add == b.color_flags_add &&
         a.color_flags_remove == b.color_flags_remove && a.rgb == b.rgb &&
         memcmp(&a.color_value, &b.color_value, sizeof a.color_value) == 0;
}

void WriteAndParse(FONTID font, const std::vector<BYTE>& record, WORD part) {
  VelkoRTItem& item = Item();
  const CDCOLOR* rec = record.empty() ? nullptr : reinterpret_cast<const CDCOLOR*>(record.data());
  char text[kFontStringSize];
  CalculateFontStringInternal(&font, rec, &item, text, part);
  check(strlen(text) < kFontStringSize);
  font_spec specs[2];
  font_spec_mask masks[2];
  check(ParseFontString(text, text, &item, specs, masks) == NOERROR);
  check(SameSpec(specs[0], specs[1]));
  check(memcmp(&masks[0], &masks[1], sizeof masks[0]) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 16)
    return 0;
  BYTE options = data[0];
  FONTID font = 0;
  memcpy(&font, data + 1, sizeof font);
  COLOR_VALUE value = {};
  memcpy(&value, data + 5, sizeof value);
  /* A colour record that holds at least the bytes its length byte claims. */
  BYTE length = data[11];
  std::vector<BYTE> record;
  if ((options & 4) != 0) {
    record.assign(length > 8 ? length : 8, 0);
    record[0] = 0xD2;
    record[1] = length;
    memcpy(record.data() + 2, data + 12, 4);
  }
  data += 16;
  size -= 16;

  const WORD naming = options & 1;
  Item().session->internal->global_client_preference = naming;
  std::unique_ptr<char[]> first = NextText(&data, &size);
  std::unique_ptr<char[]> second = NextText(&data, &size);
  std::unique_ptr<char[]> colorText = NextText(&data, &size);

  VelkoRTItem* item = (options & 2) != 0 ? &Item() : nullptr;
  font_spec specs[2];
  font_spec_mask masks[2];
  const char* secondText = (options & 8) != 0 ? second.get() : nullptr;
  check(ParseFontString(first.get(), secondText, item, specs, masks) == NOERROR);
  UseFontSpec(specs[0], masks[0], font, value);
  UseFontSpec(specs[1], masks[1], font, value);

  WORD index = static_cast<WORD>(options << 4);
  DWORD rgb = 0;
  STATUS status = ParseColorString(colorText.get(), &index, &rgb, naming);
  check(status == NOERROR || status == kColorNotRecognised);
  TranslateColorToDWORD(colorText.get(), naming);
  IsAllHex(colorText.get());
  const char* token = CheckAlphaToken(first.get(), colorText.get());
  const char* start = CheckAlphaStart(first.get(), colorText.get());
  check(token == nullptr || start != nullptr);

  char colorOut[kColorStringSize];
  const CDCOLOR* rec = record.empty() ? nullptr : reinterpret_cast<const CDCOLOR*>(record.data());
  CalculateColorStringExt(index, rec, colorOut, (options >> 4) & 3, naming);
  check(strlen(colorOut) < kColorStringSize);
  CalculateColorString(index, colorOut, static_cast<signed char>(options) >> 5, naming);
  check(strlen(colorOut) < kColorStringSize);

  WriteAndParse(font, record, kParts[(options >> 5) % (sizeof kParts / sizeof kParts[0])]);
  return 0;
}
