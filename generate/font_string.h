/*
 * Font strings: the text form of a font, such as "BLUE +UNDERLINE" or
 * "Bold 12pt Arial": style words (with '+' to add or '-' to remove), a
 * colour, a point size and a face name. The parser turns one or two font
 * strings into font specs with the flags of the parts they named;
 * the writer turns a FONTID (and the colour record that may follow a text
 * record) into a font string.
 *
 * Applying a font spec to a FONTID and testing a FONTID against one are
 * done by the font override and filter (chunk/font_override.h), not here.
 */
#ifndef VELKO_GENERATE_FONT_STRING_H
#define VELKO_GENERATE_FONT_STRING_H

#include <stddef.h>

#include "host/cdrecords.h"
#include "velko/velko.h"

/* Attribute bits of a FONTID. The effects share the superscript and
 * subscript bits: shadow is 0x80 alone, emboss 0x90, extrude 0xA0. */
enum : BYTE {
  kFontBold = 0x01,
  kFontItalic = 0x02,
  kFontUnderline = 0x04,
  kFontStrikethrough = 0x08,
  kFontSuperscript = 0x10,
  kFontSubscript = 0x20,
  kFontShadow = 0x80,
  kFontEmboss = 0x90,
  kFontExtrude = 0xA0,
};

/* The result of parsing one font string. The first four bytes are laid out
 * as a FONTID. */
struct font_spec {
  BYTE face;
  BYTE attributes; /* set absolutely */
  BYTE color;      /* palette index */
  BYTE size;       /* point size */
  BYTE attributes_add;
  BYTE attributes_remove;
  WORD color_flags_add;
  WORD color_flags_remove;
  DWORD rgb; /* 0x00BBGGRR */
  /* Flags: the colour flags set absolutely. The colour bytes are left 0 by
   * the parser; the font override may build an RGB colour value here. */
  COLOR_VALUE color_value;
};

/* Which parts of a font_spec the string named, 1 for a named part. */
enum font_spec_part : int {
  kSpecFace = 0,
  kSpecSize = 1,
  kSpecColor = 2,
  kSpecAttributes = 3,
  kSpecAttributesAdd = 4,
  kSpecAttributesRemove = 5,
  kSpecColorFlags = 6,
  kSpecColorFlagsAdd = 7,
  kSpecColorFlagsRemove = 8,
  kSpecParts = 9,
};

struct font_spec_mask {
  DWORD given[kSpecParts];
};

/* Bytes a font string can take, its terminating NUL included; the output
 * buffers of the writers must hold at least this many. */
constexpr size_t kFontStringSize = 256;

/* The status of a null first font string. */
constexpr STATUS kFontStringMissing = 1028;

/* Parses font into specs[0] and masks[0] and, when second is given and not
 * empty, second into specs[1] and masks[1]; face names resolve against the
 * item's face table (no lookup when item is null). Both pairs are cleared
 * first. Returns kFontStringMissing when font is null, else 0. */
STATUS ParseFontString(const char* font, const char* second, VelkoRTItem* item, font_spec specs[2],
                       font_spec_mask masks[2]);

/* Writes the font string of a FONTID, with the colour record rec (null:
 * none), into out (cleared first). part is a chunk property id of
 * store/vocabulary.h: PROP_FONT for the whole string; PROP_TEXTATTRIBUTES,
 * PROP_FONTCOLOR, PROP_POINTSIZE or PROP_FONTFACE for that part alone; any
 * other id writes nothing. The face name comes from the item's face table
 * (none when item is null). Returns 0. */
STATUS CalculateFontStringInternal(const FONTID* font, const CDCOLOR* rec, VelkoRTItem* item,
                                   char* out, WORD part);

/* The same for the FONTID of a text record, without a colour record. */
STATUS CalculateFontString(const CDTEXT* record, VelkoRTItem* item, char* out, WORD part);

/* The same for the FONTID of second when given, else of first, with the
 * colour record rec. */
STATUS CalculateFontStringExt(const CDTEXT* first, const CDTEXT* second, const CDCOLOR* rec,
                              VelkoRTItem* item, char* out, WORD part);

/* The bytes of a FONTID, read and written bytewise. */
inline BYTE FontByte(const FONTID* font, int byte) {
  return reinterpret_cast<const BYTE*>(font)[byte];
}

inline void SetFontByte(FONTID* font, int byte, BYTE value) {
  reinterpret_cast<BYTE*>(font)[byte] = value;
}

#endif
