/*
 * Font strings: the parser that turns a font string into a font_spec with
 * the flags of the parts it named, and the writer that turns a FONTID (with
 * an optional colour record) into a font string.
 *
 * The parser works on an upper-cased copy of at most 255 characters: generic
 * family, face names of the item's face table (the longest wins), numbers
 * (point sizes and COLOR<n>), the colour, style words, colour-flag words and
 * PLAIN last. Words and numbers that mean nothing are ignored. It never adds
 * a face to the item's face table.
 */
#include "generate/font_string.h"

#include <stdio.h>
#include <string.h>

#include "generate/color_string.h"
#include "store/rtitem_internal.h"
#include "store/vocabulary.h"

namespace {

/* Characters of a font string that are read: as many as the writer can
 * produce, so that every written font string parses back whole. */
constexpr size_t kFontCopyChars = kFontStringSize - 1;
/* Characters of a face name. */
constexpr size_t kFaceNameChars = sizeof(font_face::name);
constexpr DWORD kLargestPointSize = 100;

struct style_word {
  const char* word;
  bool prefix; /* ITALICS matches ITALIC */
  BYTE bits;
};

// clang-format off
constexpr style_word kStyleWords[] = {
    {"BOLD",        false, kFontBold},
    {"ITALIC",      true,  kFontItalic},
    {"UNDERLINE",   true,  kFontUnderline},
    {"STRIKE",      true,  kFontStrikethrough},
    {"SUPERSCRIPT", false, kFontSuperscript},
    {"SUBSCRIPT",   false, kFontSubscript},
    {"EMBOSS",      true,  kFontEmboss},
    {"EXTRUDE",     true,  kFontExtrude},
    {"SHADOW",      true,  kFontShadow},
};
// clang-format on

struct color_flag_word {
  const char* word;
  WORD bits;
  WORD cleared; /* the bits a '-' clears of the absolute flags */
};

// clang-format off
constexpr color_flag_word kColorFlagWords[] = {
    {"HIGHLIGHTYELLOW", kColorFlagHighlightYellow, kColorFlagHighlightYellow},
    {"HIGHLIGHTPINK",   kColorFlagHighlightPink,   kColorFlagHighlightPink},
    {"HIGHLIGHTBLUE",   kColorFlagHighlightBlue,   kColorFlagHighlightBlue},
    {"SYSTEMCOLOR",     kColorFlagSystemRgb,       kColorFlagSystem},
};
// clang-format on

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

void UpperCase(char* text) {
  for (; *text != '\0'; ++text) {
    if (*text >= 'a' && *text <= 'z')
      *text = static_cast<char>(*text - 'a' + 'A');
  }
}

/* The character directly before at, or NUL at the start of the text. */
char CharBefore(const char* text, const char* at) { return at > text ? at[-1] : '\0'; }

void Give(font_spec_mask* mask, font_spec_part part) { mask->given[part] = 1; }

/* Generic families are tested before the case is changed, so only the
 * lower-case names count. */
void ApplyGenericFamily(const char* copy, font_spec* spec, font_spec_mask* mask) {
  if (strstr(copy, "sans-serif") != nullptr) {
    spec->face = 1;
  } else if (strstr(copy, "serif") != nullptr || strstr(copy, "cursive") != nullptr ||
             strstr(copy, "fantasy") != nullptr) {
    spec->face = 0;
  } else if (strstr(copy, "monospace") != nullptr) {
    spec->face = 4;
  } else {
    return;
  }
  Give(mask, kSpecFace);
}

/* Every face whose name occurs in the copy is a candidate; the longest
 * wins, an earlier one keeping its place against one of equal length. */
void ApplyFaceName(const char* copy, VelkoRTItem* item, font_spec* spec, font_spec_mask* mask) {
  if (item == nullptr || item->internal == nullptr)
    return;
  const _internal_RTITEM& state = *item->internal;
  int faces = state.face_count < kFaceTableSlots ? state.face_count : kFaceTableSlots;
  size_t best = 0;
  for (int i = 0; i < faces; ++i) {
    char name[kFaceNameChars + 1] = {};
    memcpy(name, state.faces[i].name, strnlen(state.faces[i].name, kFaceNameChars));
    UpperCase(name);
    size_t length = strlen(name);
    if (length <= best || strstr(copy, name) == nullptr)
      continue;
    best = length;
    spec->face = state.faces[i].id;
  }
  if (best > 0)
    Give(mask, kSpecFace);
}

/* Past an RGB colour starting at the letters RGB: blanks, one '(' and up
 * to three comma-separated parts. Its digits are never a point size. */
const char* SkipRgbColor(const char* at) {
  const char* cursor = at + 3;
  while (IsBlank(*cursor))
    ++cursor;
  if (*cursor == '(')
    ++cursor;
  for (int part = 0; part < 3; ++part) {
    while (IsBlank(*cursor))
      ++cursor;
    while (IsDigit(*cursor))
      ++cursor;
    if (part == 2 || *cursor != ',')
      break;
    ++cursor;
  }
  return cursor;
}

/* Past a '#' colour: the '#' and the hexadecimal digits after it. */
const char* SkipHashColor(const char* at) {
  const char* cursor = at + 1;
  while (IsHexDigit(*cursor))
    ++cursor;
  return cursor;
}

/* A run of digits: its value's low bits and its value capped above the
 * largest point size, so that long runs neither overflow nor wrap into
 * the range of sizes. */
struct digit_run {
  DWORD low_bits = 0;
  DWORD capped = 0;
};

digit_run ReadDigitRun(const char** cursor) {
  digit_run run;
  for (; IsDigit(**cursor); ++*cursor) {
    DWORD digit = static_cast<DWORD>(**cursor - '0');
    run.low_bits = run.low_bits * 10 + digit;
    if (run.capped <= kLargestPointSize)
      run.capped = run.capped * 10 + digit;
  }
  return run;
}

/* Point sizes and COLOR<n>, left to right; the last valid size wins. */
void ApplyNumbers(const char* copy, font_spec* spec, font_spec_mask* mask) {
  const char* cursor = copy;
  while (*cursor != '\0') {
    if (strncmp(cursor, "RGB", 3) == 0) {
      cursor = SkipRgbColor(cursor);
      continue;
    }
    if (*cursor == '#') {
      cursor = SkipHashColor(cursor);
      continue;
    }
    if (!IsDigit(*cursor)) {
      ++cursor;
      continue;
    }
    const char* start = cursor;
    digit_run run = ReadDigitRun(&cursor);
    if (CharBefore(copy, start) == ',')
      continue;
    if (start - copy >= 5 && strncmp(start - 5, "COLOR", 5) == 0) {
      spec->color = static_cast<BYTE>(run.low_bits);
      Give(mask, kSpecColor);
      continue;
    }
    if (run.capped >= 1 && run.capped <= kLargestPointSize) {
      spec->size = static_cast<BYTE>(run.capped);
      Give(mask, kSpecSize);
    }
  }
}

/* A one-word string always names a colour (black unless the word names
 * another); WINDOWTEXT, having no current colour here, is black. */
void ApplyColor(const char* copy, const VelkoRTItem* item, font_spec* spec,
                font_spec_mask* mask) {
  WORD index = 0;
  DWORD rgb = 0;
  if (ParseColorString(copy, &index, &rgb, ClientPreferenceOf(item)) != NOERROR)
    return;
  spec->color = static_cast<BYTE>(index);
  spec->rgb = rgb;
  Give(mask, kSpecColor);
}

void ApplyStyleWords(const char* copy, font_spec* spec, font_spec_mask* mask) {
  for (const style_word& style : kStyleWords) {
    const char* at =
        style.prefix ? CheckAlphaStart(copy, style.word) : CheckAlphaToken(copy, style.word);
    if (at == nullptr)
      continue;
    char sign = CharBefore(copy, at);
    if (sign == '+') {
      spec->attributes_add |= style.bits;
      Give(mask, kSpecAttributesAdd);
      /* Adding superscript or subscript clears any effect that would
       * otherwise turn it into emboss or extrude. */
      if (style.bits == kFontSuperscript || style.bits == kFontSubscript) {
        spec->attributes_remove |= kFontShadow;
        Give(mask, kSpecAttributesRemove);
      }
    } else if (sign == '-') {
      spec->attributes_remove |= style.bits;
      Give(mask, kSpecAttributesRemove);
    } else {
      spec->attributes |= style.bits;
      Give(mask, kSpecAttributes);
    }
  }
}

void ApplyColorFlagWords(const char* copy, font_spec* spec, font_spec_mask* mask) {
  for (const color_flag_word& flag : kColorFlagWords) {
    const char* at = CheckAlphaStart(copy, flag.word);
    if (at == nullptr)
      continue;
    char sign = CharBefore(copy, at);
    if (sign == '-') {
      spec->color_flags_remove |= flag.bits;
      spec->color_value.Flags &= static_cast<WORD>(~flag.cleared);
      Give(mask, kSpecColorFlagsRemove);
      continue;
    }
    spec->color_flags_add |= flag.bits;
    spec->color_value.Flags |= flag.bits;
    Give(mask, sign == '+' ? kSpecColorFlagsAdd : kSpecColorFlags);
  }
}

/* PLAIN, applied last, clears the attributes and the highlights. */
void ApplyPlain(const char* copy, font_spec* spec, font_spec_mask* mask) {
  if (CheckAlphaToken(copy, "PLAIN") == nullptr)
    return;
  spec->attributes = 0;
  Give(mask, kSpecAttributes);
  spec->color_value.Flags &= static_cast<WORD>(~kColorFlagHighlights);
  Give(mask, kSpecColorFlags);
  spec->color_flags_remove |= kColorFlagHighlights;
  Give(mask, kSpecColorFlagsRemove);
}

void ParseOne(const char* text, VelkoRTItem* item, font_spec* spec, font_spec_mask* mask) {
  char copy[kFontCopyChars + 1] = {};
  memcpy(copy, text, strnlen(text, kFontCopyChars));
  ApplyGenericFamily(copy, spec, mask);
  UpperCase(copy);
  ApplyFaceName(copy, item, spec, mask);
  ApplyNumbers(copy, spec, mask);
  ApplyColor(copy, item, spec, mask);
  ApplyStyleWords(copy, spec, mask);
  ApplyColorFlagWords(copy, spec, mask);
  ApplyPlain(copy, spec, mask);
}

/* Appends to a font string, never past kFontStringSize. */
struct font_text {
  char* out;
  size_t used = 0;

  void Append(const char* text) {
    size_t length = strnlen(text, kFontStringSize - 1 - used);
    memcpy(out + used, text, length);
    used += length;
    out[used] = '\0';
  }
};

WORD ColorRecordFlags(const CDCOLOR* rec) {
  if (rec == nullptr)
    return 0;
  COLOR_VALUE color;
  memcpy(&color, reinterpret_cast<const BYTE*>(rec) + offsetof(CDCOLOR, Color), sizeof color);
  return color.Flags;
}

struct style_name {
  BYTE bit;
  const char* word;
};

/* The style words the writer uses for the plain attribute bits. */
constexpr style_name kStyleNames[] = {
    {kFontBold, "Bold "},
    {kFontItalic, "Italic "},
    {kFontUnderline, "Underline "},
    {kFontStrikethrough, "Strikethrough "},
    {kFontSuperscript, "Superscript "},
    {kFontSubscript, "Subscript "},
};

void AppendStyle(font_text* text, BYTE attributes, const CDCOLOR* rec) {
  WORD flags = ColorRecordFlags(rec);
  if (attributes == 0 && (rec == nullptr || flags < 0x1000)) {
    text->Append("Plain ");
    return;
  }
  for (const style_name& entry : kStyleNames) {
    if ((attributes & entry.bit) != 0)
      text->Append(entry.word);
  }
  if (rec != nullptr) {
    if ((flags & kColorFlagHighlightYellow) != 0)
      text->Append("HighlightYellow ");
    if ((flags & kColorFlagHighlightPink) != 0)
      text->Append("HighlightPink ");
    if ((flags & kColorFlagHighlightBlue) != 0)
      text->Append("HighlightBlue ");
  }
  /* The effects are tested bit by bit: an embossed font reads Superscript
   * Embossed, which parses back to the same attributes. */
  if ((attributes & 0xB0) == kFontShadow)
    text->Append("Shadowed ");
  if ((attributes & kFontEmboss) == kFontEmboss)
    text->Append("Embossed ");
  if ((attributes & kFontExtrude) == kFontExtrude)
    text->Append("Extruded ");
}

FONTID ReadFontOf(const CDTEXT* record) {
  FONTID font = 0;
  memcpy(&font, reinterpret_cast<const BYTE*>(record) + offsetof(CDTEXT, FontID), sizeof font);
  return font;
}

}  // namespace

STATUS ParseFontString(const char* font, const char* second, VelkoRTItem* item, font_spec specs[2],
                       font_spec_mask masks[2]) {
  for (int i = 0; i < 2; ++i) {
    specs[i] = font_spec{};
    masks[i] = font_spec_mask{};
  }
  if (font == nullptr)
    return kFontStringMissing;
  if (*font != '\0')
    ParseOne(font, item, &specs[0], &masks[0]);
  if (second != nullptr && *second != '\0')
    ParseOne(second, item, &specs[1], &masks[1]);
  return NOERROR;
}

STATUS CalculateFontStringInternal(const FONTID* font, const CDCOLOR* rec, VelkoRTItem* item,
                                   char* out, WORD part) {
  font_text text{out};
  out[0] = '\0';
  bool whole = part == PROP_FONT;
  if (whole || part == PROP_TEXTATTRIBUTES)
    AppendStyle(&text, FontByte(font, FONTID_ATTRIBUTES_BYTE), rec);
  if (whole || part == PROP_FONTCOLOR) {
    char color[kColorStringSize];
    if (STATUS status = CalculateColorStringExt(FontByte(font, FONTID_COLOR_BYTE), rec, color, 0,
                                                ClientPreferenceOf(item));
        status != NOERROR) {
      out[0] = '\0';
      return status;
    }
    text.Append(color);
    text.Append(" ");
  }
  if (whole || part == PROP_POINTSIZE) {
    char size[16];
    snprintf(size, sizeof size, "%dpt ", FontByte(font, FONTID_SIZE_BYTE));
    text.Append(size);
  }
  if ((whole || part == PROP_FONTFACE) && item != nullptr && item->internal != nullptr) {
    char face[kFaceNameChars + 1] = {};
    if (item->FindFaceByID(FontByte(font, FONTID_FACE_BYTE), face))
      text.Append(face);
  }
  if (text.used > 0 && out[text.used - 1] == ' ')
    out[--text.used] = '\0';
  return NOERROR;
}

STATUS CalculateFontString(const CDTEXT* record, VelkoRTItem* item, char* out, WORD part) {
  return CalculateFontStringExt(record, nullptr, nullptr, item, out, part);
}

STATUS CalculateFontStringExt(const CDTEXT* first, const CDTEXT* second, const CDCOLOR* rec,
                              VelkoRTItem* item, char* out, WORD part) {
  const CDTEXT* record = second != nullptr ? second : first;
  if (record == nullptr) {
    out[0] = '\0';
    return NOERROR;
  }
  FONTID font = ReadFontOf(record);
  return CalculateFontStringInternal(&font, rec, item, out, part);
}
