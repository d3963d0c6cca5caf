/*
 * The font override and filter: applying a parsed font spec
 * (generate/font_string.h) to the font of a text run, and testing a run's
 * font against one. The plain pair works on the FONTID alone and reads mask
 * entries 0-6; the extended pair also handles the run's colour value (an
 * RGB colour beside the palette index, highlights) and the text effects, and
 * reads mask entries 0-8.
 *
 * These functions change or test only what they are handed; building the
 * colour or effect records a run may now need is left to the caller.
 */
#ifndef VELKO_CHUNK_FONT_OVERRIDE_H
#define VELKO_CHUNK_FONT_OVERRIDE_H

#include "generate/font_string.h"
#include "host/cdrecords.h"
#include "velko/host_types.h"

/* Overwrites the parts of *font whose mask entry is set: face [0], size
 * [1], colour [2] (and *rgb gets the font spec's RGB value), *colorFlags
 * gets the font spec's colour flags AND 0xF000 [6], attributes set [3],
 * added [4] and removed [5], in that order. rgb and colorFlags may be null.
 * Returns 0. */
STATUS ApplyFontOverride(FONTID* font, DWORD* rgb, WORD* colorFlags, const font_spec* spec,
                         const DWORD mask[7]);

/* 1 when the font passes the filter, else 0: each test whose mask entry is
 * set must hold: face [0], size [1], colour index [2] and the whole
 * attribute byte [3] equal; some of the attributes to add present [4]; none
 * of the attributes to remove present [5]. Entry 6 is not tested. */
int FontNotFiltered(const FONTID* font, const font_spec* spec, const DWORD mask[7]);

/* Applies face and size as ApplyFontOverride; the font spec's highlight
 * and system-colour flags and its colour to the run's colour value when
 * color is given; the attributes, keeping an effect that a removal would
 * otherwise turn into another one. *colorRecordNeeded is set when the run
 * needs a colour record after the change (without a colour value this may
 * fill the font spec's own colour value with its RGB colour);
 * *effectNeeded when the resulting attributes hold an effect (bit 0x80).
 * color may be null. Returns 0. */
STATUS ApplyFontOverrideExt(FONTID* font, COLOR_VALUE* color, DWORD* colorRecordNeeded,
                            DWORD* effectNeeded, font_spec* spec, const DWORD mask[9]);

/* As FontNotFiltered, with the colour compared also by RGB value and the
 * colour flags tested [6]-[8] against the run's colour value (null: the run
 * has none). */
int FontNotFilteredExt(const FONTID* font, const COLOR_VALUE* color, const font_spec* spec,
                       const DWORD mask[9]);

#endif
