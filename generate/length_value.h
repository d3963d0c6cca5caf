/*
 * Length values: the text form of a layer's or a box's position and size
 * (100px, 50%, 1.5in, 2em, auto, inherit) and the LENGTH_VALUE that CD
 * records hold (host/cdrecords.h). Reading a text into a LENGTH_VALUE and
 * writing a LENGTH_VALUE back as text.
 *
 * Inches are held as twips (1440 to the inch). Numbers that become integers
 * are clamped to 32 bits first (NaN as 0), so no input is undefined.
 *
 * This file writes no records and keeps no state.
 */
#ifndef VELKO_GENERATE_LENGTH_VALUE_H
#define VELKO_GENERATE_LENGTH_VALUE_H

#include <stddef.h>
#include <stdint.h>

#include "host/cdrecords.h"
#include "velko/host_types.h"

/* Bits of a LENGTH_VALUE's flags word. */
enum : WORD {
  kLengthAuto = 0x0001,
  kLengthInherit = 0x0002,
};

/* Units of a LENGTH_VALUE. */
enum : BYTE {
  kLengthUnitsNone = 0,
  kLengthUnitsTwips = 1,
  kLengthUnitsPixels = 2,
  kLengthUnitsPercent = 3,
  kLengthUnitsEm = 4,
  kLengthUnitsEx = 5,
  kLengthUnitsCharacters = 6,
};

/* Bytes the text of one LENGTH_VALUE can take, without a NUL. */
constexpr size_t kLengthValueTextSize = 64;

/* A number turned into an integer: truncated toward zero and clamped to
 * 32 bits, NaN as 0. A 16-bit field takes the low 16 bits of this. */
int32_t ClampToInt32(double number);

/* Reads text (null: empty) into value. The caller clears or pre-fills
 * value: flags are only ever added. Mode 0 is the standalone form: pixels
 * unless the text names a unit, and a bare "auto" or "inherit" ends the
 * read with length and units untouched. Any other mode keeps the units in
 * value unless the text names one. With a flag set the units become 0. */
void ParseLengthValue(LENGTH_VALUE* value, const char* text, int mode);

/* Appends the text of value ("auto", "inherit", "1.500000in", "12px",
 * "50%", "2em", "3ex", "4ch") to the NUL-terminated text in out, a buffer
 * of outSize bytes. What would not fit with its NUL is not written; out is
 * always left terminated. */
void FormatLengthValue(const LENGTH_VALUE* value, char* out, size_t outSize);

#endif
