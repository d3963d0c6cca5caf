/*
 * Fuzz target for the round trips of font and colour strings.
 *
 * Fonts: the bytes choose a FONTID (a face of the item's table whose name
 * holds no colour or style word, attributes without the unused bit 0x40, a
 * palette colour, a size 1-100) and the colour naming. Its font string,
 * parsed and applied to a zero FONTID, must give the FONTID back.
 *
 * Colours: the bytes choose an index, an optional colour record (exact RGB,
 * gradient, highlights) and a mode. The colour string, parsed again, must
 * give the RGB value meant and the index: the given one where the string
 * names it, else the highest palette index of that RGB value (0 for none).
 * A broken invariant traps.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "chunk/font_override.h"
#include "fuzz/fuzz_support.h"
#include "generate/color_string.h"
#include "generate/font_string.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "cdbuild/cd_builder.h"

namespace {

/* Faces added behind the standard ones; none is a colour or style word and
 * none occurs in another part of a written font string. */
constexpr const char* kExtraFaces[] = {
    "Arial",   "Arial Narrow", "Courier New", "Times New Roman", "Verdana",  "Tahoma",
    "Georgia", "Garamond",     "Helvetica",   "Trebuchet MS",    "Palatino", "Futura",
    "Optima",  "Calibri",      "Candara",     "Consolas",
};
constexpr BYTE kFirstExtraId = 5;

VelkoRTItem& Item() {
  static VelkoRTItem* item = [] {
    auto* made = new VelkoRTItem(new LSXLsiSession());
    for (size_t i = 0; i < sizeof kExtraFaces / sizeof kExtraFaces[0]; ++i) {
      font_face& face = made->internal->faces[made->internal->face_count++];
      face.id = static_cast<BYTE>(kFirstExtraId + i);
      strncpy(face.name, kExtraFaces[i], sizeof face.name - 1);
    }
    return made;
  }();
  return *item;
}

struct reader {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  BYTE Byte() { return at < size ? data[at++] : 0; }
  WORD Word() { return static_cast<WORD>(Byte() | Byte() << 8); }
};

void CheckFontRoundTrip(reader* in) {
  VelkoRTItem& item = Item();
  const font_face& face = item.internal->faces[in->Byte() % item.internal->face_count];
  BYTE attributes = in->Byte() & 0xBF;
  BYTE color = static_cast<BYTE>(in->Byte() % kPaletteColors);
  BYTE size = static_cast<BYTE>(1 + in->Byte() % 100);
  /* The face id as the writer will name it: the first face with this id. */
  FONTID font = cdbuild::FontId({face.id, attributes, color, size});

  CDTEXT record = {};
  record.Header.Signature = SIG_CD_TEXT;
  record.Header.Length = sizeof record;
  record.FontID = font;
  char text[kFontStringSize];
  CalculateFontString(&record, &item, text, PROP_FONT);
  check(strlen(text) < kFontStringSize);

  font_spec specs[2];
  font_spec_mask masks[2];
  check(ParseFontString(text, nullptr, &item, specs, masks) == NOERROR);
  FONTID parsed = 0;
  ApplyFontOverride(&parsed, nullptr, nullptr, &specs[0], masks[0].given);
  check(parsed == font);
}

int HighestIndexOf(DWORD rgb) {
  for (int i = kPaletteColors - 1; i >= 0; --i) {
    if (RGB_TABLE[i] == rgb)
      return i;
  }
  return 0;
}

int FirstBasicIndexOf(DWORD rgb) {
  for (int i = 0; i < kBasicColors; ++i) {
    if (RGB_TABLE[i] == rgb)
      return i;
  }
  return -1;
}

void CheckColorRoundTrip(reader* in) {
  WORD index = in->Word();
  if ((index & 0x8000) == 0)
    index %= kPaletteColors;
  BYTE choice = in->Byte();
  bool hasRecord = (choice & 1) != 0;
  BYTE length = (choice & 2) != 0 ? 14 : 8;
  DWORD mode = (choice >> 2) % 3;
  WORD flags = in->Word();
  BYTE red = in->Byte(), green = in->Byte(), blue = in->Byte();
  const BYTE head[8] = {
      0xD2, length, static_cast<BYTE>(flags), static_cast<BYTE>(flags >> 8), red, green, blue, 0};
  std::vector<BYTE> record(length);
  std::copy(head, head + 8, record.begin());
  for (size_t i = 8; i < length; ++i)
    record[i] = in->Byte();
  const CDCOLOR* rec = hasRecord ? reinterpret_cast<const CDCOLOR*>(record.data()) : nullptr;

  char text[kColorStringSize];
  const WORD naming = Item().session->internal->global_client_preference;
  CalculateColorStringExt(index, rec, text, mode, naming);
  check(strlen(text) < kColorStringSize);

  DWORD recordRgb =
      static_cast<DWORD>(red) | static_cast<DWORD>(green) << 8 | static_cast<DWORD>(blue) << 16;
  bool exact = hasRecord && (flags & kColorFlagRgb) != 0;
  bool named = hasRecord && length == 8 && FirstBasicIndexOf(recordRgb) == index;
  DWORD paletteRgb = index < kPaletteColors ? RGB_TABLE[index] : 0;
  DWORD rgb = 0;
  int expectedIndex = 0;
  if (mode != 0) {
    rgb = exact ? recordRgb : (index < kBasicColors ? paletteRgb : 0);
    expectedIndex = HighestIndexOf(rgb);
  } else if (exact && !named) {
    rgb = recordRgb;
    expectedIndex = HighestIndexOf(rgb);
  } else {
    rgb = paletteRgb;
    expectedIndex = index;
  }

  WORD parsedIndex = 0;
  DWORD parsedRgb = 0;
  check(ParseColorString(text, &parsedIndex, &parsedRgb, naming) == NOERROR);
  check(parsedRgb == rgb);
  check(parsedIndex == expectedIndex);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  reader in{data, size};
  Item().session->internal->global_client_preference = in.Byte() & 1;
  CheckFontRoundTrip(&in);
  CheckColorRoundTrip(&in);
  return 0;
}
