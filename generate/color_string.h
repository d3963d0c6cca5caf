/*
 * Colour strings: the text form of a colour in property strings, font
 * strings and attribute texts. Parsing gives a palette index of the
 * 240-colour rich-text palette and a 24-bit RGB value at once; writing turns
 * a palette index, optionally with a colour record that carries an exact RGB
 * value and a gradient, into a colour string.
 *
 * RGB values are 0x00BBGGRR: red in the low byte. The naming of the sixteen
 * basic colours follows the caller's client_preference (1: the host's
 * names, 0: web names), which callers take from the session's
 * global_client_preference.
 *
 * This file neither emits colour records nor keeps any state of its own.
 */
#ifndef VELKO_GENERATE_COLOR_STRING_H
#define VELKO_GENERATE_COLOR_STRING_H

#include <stddef.h>

#include "host/cdrecords.h"
#include "velko/host_types.h"

/* Bits of a COLOR_VALUE's flags word. */
enum : WORD {
  kColorFlagRgb = 0x0001, /* the red, green and blue bytes are valid */
  kColorFlagNoColor = 0x0004,
  kColorFlagSystem = 0x0008,    /* a system colour */
  kColorFlagSystemRgb = 0x0009, /* system colour together with RGB valid */
  kColorFlagGradient = 0x0010,  /* a gradient end colour follows */
  kColorFlagHighlightBlue = 0x2000,
  kColorFlagHighlightPink = 0x4000,
  kColorFlagHighlightYellow = 0x8000,
  kColorFlagHighlights = 0xE000,
  kColorFlagApplication = 0xF000, /* the application's own bits */
};

/* Palette entries; entry 240 is 0 and is never indexed. */
constexpr WORD kPaletteColors = 240;
constexpr WORD kBasicColors = 16;

/* The status of a colour text of several words that names no colour. */
constexpr STATUS kColorNotRecognised = 1028;

/* Bytes a colour string can take, its terminating NUL included; the output
 * buffers of the writers must hold at least this many. */
constexpr size_t kColorStringSize = 48;

/* The palette: 241 RGB values, entries 0-239 the colours. */
extern const DWORD RGB_TABLE[241];

/* Names of the basic colours 0-15 under the host's naming and under web
 * naming. */
extern const char* const kNotesColorNames[kBasicColors];
extern const char* const kWebColorNames[kBasicColors];

/* One named colour of the extended table: the name, six hexadecimal digits
 * RRGGBB, the same colour as an "RGB%d,%d,%d" text, a palette index (0 in
 * every row) and a zero word. */
struct extended_color_choice {
  const char* name;
  const char* hex;
  const char* rgb_text;
  WORD index;
  WORD reserved;
};

/* 144 rows; the last is all zero and ends the table. */
extern const extended_color_choice ExtendedColorChoices[144];

/* Parses a colour text. On entry *index holds the caller's current colour
 * (read only by WINDOWTEXT); on return it holds the palette index and *rgb
 * the RGB value. Returns 0, or kColorNotRecognised for a text of several
 * words that names no colour (then index and RGB are 0). A null text is
 * taken as empty. */
STATUS ParseColorString(const char* text, WORD* index, DWORD* rgb, WORD client_preference);

/* The RGB value of an "RGB r,g,b", "#rrggbb", "#rgb" or "rrggbb" text, or
 * else the RGB value the colour parser gives for the text. */
DWORD TranslateColorToDWORD(const char* text, WORD client_preference);

/* 1 when every character is a hexadecimal digit (an empty text passes),
 * else 0. */
int IsAllHex(const char* text);

/* The RGB value of a colour value's red, green and blue bytes. */
DWORD RgbOf(const COLOR_VALUE& color);

/* The first basic colour whose RGB value is rgb, or -1. */
int BasicColorIndexOf(DWORD rgb);

/* The first occurrence of word in text, compared without regard to case,
 * with no letter directly before or after it; null when there is none. */
const char* CheckAlphaToken(const char* text, const char* word);

/* As CheckAlphaToken with only the character before tested: a prefix test
 * (ITALIC matches ITALICS). */
const char* CheckAlphaStart(const char* text, const char* word);

/* Writes the colour string of a palette index into out. Mode 0: the name of
 * a basic colour or "COLOR<n>"; mode 1 and negative modes: "rgb(r,g,b)";
 * mode 2 and above: "#rrggbb". Returns 0. */
STATUS CalculateColorString(WORD index, char* out, int mode, WORD client_preference);

/* Writes a colour string that prefers the exact RGB value of the colour
 * record rec (null: none), a CDCOLOR whose length byte tells whether a
 * gradient colour follows it. Mode 0 writes "RGB%d,%d,%d" (and
 * " GRADIENT%d,%d,%d") unless the record holds the basic colour of the
 * index; other modes write "rgb(r,g,b)". Returns 0. */
STATUS CalculateColorStringExt(WORD index, const CDCOLOR* rec, char* out, DWORD mode,
                               WORD client_preference);

#endif
