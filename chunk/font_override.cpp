/*
 * The font override and filter: ApplyFontOverride and FontNotFiltered on a
 * FONTID alone, ApplyFontOverrideExt and FontNotFilteredExt with the run's
 * colour value and the text effects.
 *
 * The effects share bits with superscript and subscript (shadow 0x80,
 * emboss 0x90, extrude 0xA0), so removing one attribute must not leave a
 * different effect behind; the extended override narrows such removals.
 * FONTIDs and colour values are read and written bytewise: they lie inside
 * records at any address.
 */
#include "chunk/font_override.h"

#include <string.h>

#include "generate/color_string.h"

namespace {

/* Attribute masks that tell the effects apart. */
constexpr BYTE kShadowTest = 0xB0;
constexpr BYTE kEmbossTest = 0x90;
constexpr BYTE kExtrudeTest = 0xA0;

bool Given(const DWORD* mask, font_spec_part part) { return mask[part] != 0; }

void SetRgb(COLOR_VALUE* color, DWORD rgb) {
  color->Red = static_cast<BYTE>(rgb);
  color->Green = static_cast<BYTE>(rgb >> 8);
  color->Blue = static_cast<BYTE>(rgb >> 16);
  color->Reserved = 0;
}

COLOR_VALUE ReadColor(const COLOR_VALUE* color) {
  COLOR_VALUE value = {};
  memcpy(&value, color, sizeof value);
  return value;
}

/* Palette entry of an index, 0 outside the palette. */
DWORD PaletteRgb(BYTE index) { return index < kPaletteColors ? RGB_TABLE[index] : 0; }

/* Face, size and palette colour of the filter; shared by both filters. */
bool FontFieldsPass(const FONTID* font, const font_spec* spec, const DWORD* mask) {
  if (Given(mask, kSpecFace) && FontByte(font, FONTID_FACE_BYTE) != spec->face)
    return false;
  if (Given(mask, kSpecSize) && FontByte(font, FONTID_SIZE_BYTE) != spec->size)
    return false;
  if (Given(mask, kSpecColor) && FontByte(font, FONTID_COLOR_BYTE) != spec->color)
    return false;
  return true;
}

bool AttributesPass(BYTE attributes, const font_spec* spec, const DWORD* mask) {
  if (Given(mask, kSpecAttributes) && attributes != spec->attributes)
    return false;
  if (Given(mask, kSpecAttributesAdd) && (attributes & spec->attributes_add) == 0)
    return false;
  if (Given(mask, kSpecAttributesRemove) && (attributes & spec->attributes_remove) != 0)
    return false;
  return true;
}

/* The highlight and system-colour flags of the font spec applied to
 * the run's colour value. */
void ApplyColorFlags(COLOR_VALUE* value, const font_spec* spec, const DWORD* mask) {
  if (Given(mask, kSpecColorFlags)) {
    value->Flags |= spec->color_value.Flags & kColorFlagApplication;
    if ((spec->color_value.Flags & kColorFlagSystem) != 0)
      value->Flags |= kColorFlagSystemRgb;
  }
  if (Given(mask, kSpecColorFlagsAdd)) {
    value->Flags |= spec->color_flags_add & kColorFlagApplication;
    if ((spec->color_flags_add & kColorFlagSystem) != 0)
      value->Flags |= kColorFlagSystemRgb;
  }
  if (Given(mask, kSpecColorFlagsRemove)) {
    value->Flags &= static_cast<WORD>(~(spec->color_flags_remove & kColorFlagApplication));
    if ((spec->color_flags_remove & kColorFlagSystem) != 0)
      value->Flags &= static_cast<WORD>(~kColorFlagSystem);
  }
}

/* The font spec's colour applied to the run's colour value: an RGB
 * colour (or a system colour) is written into it; palette black without
 * one makes the value a palette colour again. */
void ApplyColorToValue(COLOR_VALUE* value, const font_spec* spec) {
  if (spec->color != 0 && spec->rgb == 0)
    return;
  bool specSystem = ((spec->color_value.Flags | spec->color_flags_add) & kColorFlagSystem) != 0;
  bool exact = spec->color != 0 || spec->rgb != 0 || (value->Flags & kColorFlagSystem) != 0;
  if (!exact) {
    value->Flags &= static_cast<WORD>(~kColorFlagRgb);
    return;
  }
  if (spec->rgb != 0 || specSystem) {
    value->Flags |= kColorFlagRgb;
    value->Flags &= static_cast<WORD>(~kColorFlagNoColor);
  }
  if (!specSystem)
    value->Flags &= static_cast<WORD>(~kColorFlagSystem);
  SetRgb(value, spec->rgb);
}

/* Without a colour value of its own the run needs a colour record when the
  * font spec leaves colour flags set or gives an RGB colour; the RGB
 * colour is then built into the font spec's colour value, keeping its
 * highlight bits. */
bool SpecNeedsColorRecord(font_spec* spec) {
  bool needed =
      ((spec->color_flags_add | spec->color_value.Flags) & ~spec->color_flags_remove) != 0;
  if (spec->rgb == 0)
    return needed;
  spec->color_value.Flags |= kColorFlagRgb;
  SetRgb(&spec->color_value, spec->rgb);
  return true;
}

/* Narrows a removal so that it takes away only what the font's effect
 * does not share: removing superscript from an embossed font must not
 * leave it shadowed. F is the font's attributes as they came in. */
BYTE NarrowRemoval(BYTE font, BYTE remove) {
  bool subscriptOnly = (font & kExtrudeTest) == kFontSubscript;
  bool superscriptOnly = (font & kEmbossTest) == kFontSuperscript;
  bool shadow = (font & kShadowTest) == kFontShadow;
  bool emboss = (font & kEmbossTest) == kFontEmboss;
  bool extrude = (font & kExtrudeTest) == kFontExtrude;
  bool removesExtrude = (remove & kExtrudeTest) == kFontExtrude;
  bool removesEmboss = (remove & kEmbossTest) == kFontEmboss;
  bool removesSuperscript = (remove & kEmbossTest) == kFontSuperscript;
  bool removesSubscript = (remove & kExtrudeTest) == kFontSubscript;
  bool removesShadow = (remove & kShadowTest) == kFontShadow;

  if (subscriptOnly && removesExtrude)
    return remove & 0x5F;
  if (superscriptOnly && removesEmboss)
    return remove & 0x6F;
  if (shadow && removesEmboss)
    return remove & 0x6F;
  if (shadow && removesExtrude)
    return remove & 0x5F;
  if (emboss && removesSuperscript)
    return remove & 0xEF;
  if (emboss && removesShadow)
    return remove & 0x7F;
  if (emboss && removesExtrude)
    return remove & 0x5F;
  if (extrude && removesSubscript)
    return remove & 0xDF;
  if (extrude && removesShadow)
    return remove & 0x7F;
  if (extrude && removesEmboss)
    return remove & 0x6F;
  return remove;
}

/* The extended colour test: the run's colour is its exact RGB value when
 * its colour value says so, else its palette entry. */
bool ExtendedColorPasses(const FONTID* font, const COLOR_VALUE* color, const font_spec* spec) {
  bool runRgb = color != nullptr && (ReadColor(color).Flags & kColorFlagRgb) != 0;
  bool specRgb = (spec->color_value.Flags & kColorFlagRgb) != 0;
  if (!runRgb) {
    /* A palette colour passes a filter without an exact colour, or one
     * whose RGB value is that palette entry. */
    if (!specRgb && spec->rgb == 0)
      return true;
    return spec->rgb == PaletteRgb(FontByte(font, FONTID_COLOR_BYTE));
  }
  DWORD runColor = RgbOf(ReadColor(color));
  if (runColor == (spec->rgb & 0x00FFFFFF))
    return true;
  if (specRgb)
    return false;
  return BasicColorIndexOf(runColor) == spec->color;
}

bool ColorFlagsPass(const COLOR_VALUE* color, const font_spec* spec, const DWORD* mask) {
  WORD flags = color != nullptr ? ReadColor(color).Flags : 0;
  if (Given(mask, kSpecColorFlags) &&
      (flags & kColorFlagApplication) != (spec->color_value.Flags & kColorFlagApplication))
    return false;
  if (Given(mask, kSpecColorFlagsAdd)) {
    if (color == nullptr ? spec->color_flags_add != 0 : (flags & spec->color_flags_add) == 0)
      return false;
  }
  if (Given(mask, kSpecColorFlagsRemove) && (flags & spec->color_flags_remove) != 0)
    return false;
  return true;
}

}  // namespace

STATUS ApplyFontOverride(FONTID* font, DWORD* rgb, WORD* colorFlags, const font_spec* spec,
                         const DWORD mask[7]) {
  if (Given(mask, kSpecFace))
    SetFontByte(font, FONTID_FACE_BYTE, spec->face);
  if (Given(mask, kSpecSize))
    SetFontByte(font, FONTID_SIZE_BYTE, spec->size);
  if (Given(mask, kSpecColor)) {
    SetFontByte(font, FONTID_COLOR_BYTE, spec->color);
    if (rgb != nullptr)
      *rgb = spec->rgb;
  }
  if (Given(mask, kSpecColorFlags) && colorFlags != nullptr)
    *colorFlags = spec->color_value.Flags & kColorFlagApplication;
  BYTE attributes = FontByte(font, FONTID_ATTRIBUTES_BYTE);
  if (Given(mask, kSpecAttributes))
    attributes = spec->attributes;
  if (Given(mask, kSpecAttributesAdd))
    attributes |= spec->attributes_add;
  if (Given(mask, kSpecAttributesRemove))
    attributes &= static_cast<BYTE>(~spec->attributes_remove);
  SetFontByte(font, FONTID_ATTRIBUTES_BYTE, attributes);
  return NOERROR;
}

int FontNotFiltered(const FONTID* font, const font_spec* spec, const DWORD mask[7]) {
  if (!FontFieldsPass(font, spec, mask))
    return 0;
  return AttributesPass(FontByte(font, FONTID_ATTRIBUTES_BYTE), spec, mask) ? 1 : 0;
}

STATUS ApplyFontOverrideExt(FONTID* font, COLOR_VALUE* color, DWORD* colorRecordNeeded,
                            DWORD* effectNeeded, font_spec* spec, const DWORD mask[9]) {
  DWORD recordNeeded = 0;
  if (Given(mask, kSpecFace))
    SetFontByte(font, FONTID_FACE_BYTE, spec->face);
  if (Given(mask, kSpecSize))
    SetFontByte(font, FONTID_SIZE_BYTE, spec->size);

  COLOR_VALUE value = {};
  if (color != nullptr) {
    value = ReadColor(color);
    ApplyColorFlags(&value, spec, mask);
  }
  if (Given(mask, kSpecColor)) {
    SetFontByte(font, FONTID_COLOR_BYTE, spec->color);
    if (color != nullptr)
      ApplyColorToValue(&value, spec);
  }
  if (color != nullptr) {
    recordNeeded = value.Flags != 0 ? 1 : 0;
    memcpy(color, &value, sizeof value);
  } else {
    recordNeeded = SpecNeedsColorRecord(spec) ? 1 : 0;
  }

  BYTE incoming = FontByte(font, FONTID_ATTRIBUTES_BYTE);
  BYTE attributes = incoming;
  if (Given(mask, kSpecAttributes))
    attributes = spec->attributes;
  if (Given(mask, kSpecAttributesAdd))
    attributes |= spec->attributes_add;
  if (Given(mask, kSpecAttributesRemove))
    attributes &= static_cast<BYTE>(~NarrowRemoval(incoming, spec->attributes_remove));
  SetFontByte(font, FONTID_ATTRIBUTES_BYTE, attributes);

  if (colorRecordNeeded != nullptr)
    *colorRecordNeeded = recordNeeded;
  if (effectNeeded != nullptr)
    *effectNeeded = attributes >= kFontShadow ? 1 : 0;
  return NOERROR;
}

int FontNotFilteredExt(const FONTID* font, const COLOR_VALUE* color, const font_spec* spec,
                       const DWORD mask[9]) {
  if (!FontFieldsPass(font, spec, mask))
    return 0;
  if (Given(mask, kSpecColor) && !ExtendedColorPasses(font, color, spec))
    return 0;
  if (!AttributesPass(FontByte(font, FONTID_ATTRIBUTES_BYTE), spec, mask))
    return 0;
  return ColorFlagsPass(color, spec, mask) ? 1 : 0;
}
