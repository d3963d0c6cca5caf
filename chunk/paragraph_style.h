/*
 * Paragraph-style strings and the routines that apply them to paragraph
 * definitions (_CDPABDEFEXT, host/cdrecords.h).
 *
 * A paragraph-style string names margins, spacing, tabs, justification,
 * flag words and list kinds ("LeftMargin=1in Justify=Center +HIDE_READ
 * BULLET"). VelkoRTItem::ParseParagraphString reads the new-values string
 * (entry 0) and the selection string (entry 1) into a paragraph_spec;
 * MatchParagraph tells whether a definition meets the selection,
 * UpdateParagraph rewrites one with the new values, CompareParagraphs
 * tells whether two definitions are the same style, and DumpParagraph
 * (engine/services.h) writes one back as a style string or as attribute
 * text.
 *
 * The routines read and write nothing but their arguments (the parser also
 * uses the session's second scratch text). Definitions shorter than 92
 * bytes are read through a zeroed 92-byte copy, so their missing extension
 * words read as 0; a Tabs count above 20 is read as 20.
 */
#ifndef VELKO_CHUNK_PARAGRAPH_STYLE_H
#define VELKO_CHUNK_PARAGRAPH_STYLE_H

#include <stdint.h>

#include "engine/services.h"
#include "host/cdrecords.h"
#include "velko/velko.h"

/* Criteria slots: which parts of a definition a string names. */
enum paragraph_criterion : int {
  kCritLeftMargin = 0,
  kCritRightMargin = 1,
  kCritFirstLineMargin = 2,
  kCritSpacingBefore = 3,
  kCritSpacingAfter = 4,
  kCritLineSpacing = 5,
  kCritTabs = 6,
  kCritTabInterval = 7,
  kCritJustify = 8,
  kCritFlags = 9,      /* a bare flag word, or NO_FLAGS */
  kCritSetMask = 10,   /* a flag in a set mask */
  kCritClearMask = 11, /* a flag in a clear mask */
  kCritLeftExtension = 12,
  kCritRightExtension = 13,
  kCritFirstLineExtension = 14,
  kCritShiftLeftOffset = 15,
  kCritShiftRightOffset = 16,
  kCritShiftLeftPercent = 17,
  kCritShiftRightPercent = 18,
  kCritListSet = 19,
  kCritListClear = 20,
  kCriteriaSlots = 21,
};

/* List-kind mask bits, one per list word. */
enum : DWORD {
  kListAny = 0x001, /* LIST_TYPE */
  kListBullet = 0x002,
  kListNumbered = 0x004,
  kListChecked = 0x008,
  kListCircle = 0x010,
  kListSquare = 0x020,
  kListUnchecked = 0x040,
  kListLowerAlpha = 0x080,
  kListLowerRoman = 0x100,
  kListUpperAlpha = 0x200,
  kListUpperRoman = 0x400,
  kListKinds = 0x7FE, /* every kind but LIST_TYPE */
};

/* The length words of a definition's three forms. */
enum : WORD {
  kPabdefBaseLength = 70,
  kPabdefExtendedLength = 84,
  kPabdefFullLength = 92,
};

/* What the parse of the two strings gives: entry 0 the new values, entry
 * 1 the selection. The engine keeps one as a tracked block of the session
 * for the length of an operation. */
struct paragraph_spec {
  _CDPABDEFEXT entries[2];
  WORD set_flags;
  WORD clear_flags;
  WORD set_flags2;
  WORD clear_flags2;
  WORD set_flags3;
  WORD clear_flags3;
  DWORD list_set[2];
  DWORD list_clear[2];
  int32_t shift_left_offset;  /* twips */
  int32_t shift_right_offset; /* twips */
  int32_t shift_left_percent;
  int32_t shift_right_percent;
  int criteria[2][kCriteriaSlots];
};

/* 1 when every criterion the row names holds for `existing` against
 * `wanted` (and the list masks), else 0. */
int MatchParagraph(const _CDPABDEFEXT* existing, const _CDPABDEFEXT* wanted, DWORD listSet,
                   DWORD listClear, const int* criteria);

/* Rewrites `target` (room for 92 bytes) with the new values. It also
 * writes into `values` and `criteria` what the following definitions of
 * the same operation must see (implied offsets and their slots). */
void UpdateParagraph(_CDPABDEFEXT* target, _CDPABDEFEXT* values, WORD setFlags, WORD clearFlags,
                     WORD setFlags2, WORD clearFlags2, WORD setFlags3, WORD clearFlags3,
                     DWORD listSet, DWORD listClear, int32_t shiftLeftOffset,
                     int32_t shiftRightOffset, int32_t shiftLeftPercent, int32_t shiftRightPercent,
                     int* criteria, DWORD setImplied, DWORD forceFlags3);

/* 1 when the two definitions are the same style: equal but for their PABID,
 * their Length (unless checkLength) and the tab slots past their Tabs. */
int CompareParagraphs(LSXLsiSession* session, const _CDPABDEFEXT* a, const _CDPABDEFEXT* b,
                      int checkLength);

#endif
