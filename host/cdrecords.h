/*
 * The one header of composite-data (CD) record signatures and host-form
 * record layouts. It is shared by the host's canonical conversion and by the
 * engine: a record layout, a signature or a field offset is declared here
 * once and used everywhere, never copied into another file.
 *
 * Signatures are given as the record list holds them: a byte-length record
 * by its signature byte (0x00nn), a word-length record by its whole word
 * (0xFFnn). Field offsets count from the start of the record in host form,
 * header included.
 *
 * This header declares constants and layouts only; converting records and
 * walking record lists live elsewhere.
 */
#ifndef VELKO_HOST_CDRECORDS_H
#define VELKO_HOST_CDRECORDS_H

#include "velko/host_types.h"

// clang-format off
/* ---- Byte-length records (the record list holds the signature byte) ---- */

inline constexpr WORD SIG_CD_IGNORED = 0x59;             /* the record the Ignored target names */
inline constexpr WORD SIG_CD_LAYERBACKGROUND = 0x63;     /* layer background image and repeat */
inline constexpr WORD SIG_CD_BOXSIZE = 0x6A;             /* layer width and height */
inline constexpr WORD SIG_CD_POSITIONING = 0x6B;         /* layer scheme, z-index, top, left */
inline constexpr WORD SIG_CD_LAYER = 0x6C;               /* marks a layer inside its bracket */
inline constexpr WORD SIG_CD_BACKGROUNDCOLOR = 0x72;     /* layer background colour */
inline constexpr WORD SIG_CD_ALTHOTSPOTEND = 0x7F;       /* a third hotspot end */
inline constexpr WORD SIG_CD_PARAGRAPH = 0x81;
inline constexpr WORD SIG_CD_PABREFERENCE = 0x83;
inline constexpr WORD SIG_CD_GRAPHIC = 0x99;
inline constexpr WORD SIG_CD_TABLEBEGIN = 0xA3;
inline constexpr WORD SIG_CD_TABLECELL = 0xA4;
inline constexpr WORD SIG_CD_TABLEEND = 0xA5;
inline constexpr WORD SIG_CD_HOTSPOTEND = 0xAA;
inline constexpr WORD SIG_CD_V4HOTSPOTEND = 0xAE;
inline constexpr WORD SIG_CD_LAYOUT = 0xB7;              /* begins a layout region */
inline constexpr WORD SIG_CD_LAYOUTEND = 0xB9;           /* ends a layout region */
inline constexpr WORD SIG_CD_PABFORMULAREF = 0xBC;       /* paragraph formula reference */
inline constexpr WORD SIG_CD_NESTEDTABLEBEGIN = 0xCF;
inline constexpr WORD SIG_CD_NESTEDTABLECELL = 0xD0;
inline constexpr WORD SIG_CD_NESTEDTABLEEND = 0xD1;
inline constexpr WORD SIG_CD_BEGIN = 0xDD;               /* CDBEGINRECORD */
inline constexpr WORD SIG_CD_END = 0xDE;                 /* CDENDRECORD */

/* ---- Word-length records (the record list holds the whole word) ---- */

inline constexpr WORD SIG_CD_LARGEPARAGRAPH = 0xFF68;    /* large-paragraph marker */
inline constexpr WORD SIG_CD_ALTHOTSPOTBEGIN = 0xFF74;   /* a third hotspot begin */
inline constexpr WORD SIG_CD_IDNAME = 0xFF7A;
inline constexpr WORD SIG_CD_RESOURCELINKBEGIN = 0xFF7E; /* the hotspot begin of a resource link */
inline constexpr WORD SIG_CD_PABDEFINITION = 0xFF82;
inline constexpr WORD SIG_CD_TEXT = 0xFF85;
inline constexpr WORD SIG_CD_FIELD = 0xFF8A;
inline constexpr WORD SIG_CD_LINK = 0xFF91;              /* link by index into the link table */
inline constexpr WORD SIG_CD_DOCLINK = 0xFF92;           /* link holding its own note link */
inline constexpr WORD SIG_CD_OLEBEGIN = 0xFFA7;
inline constexpr WORD SIG_CD_OLEEND = 0xFFA8;
inline constexpr WORD SIG_CD_HOTSPOTBEGIN = 0xFFA9;
inline constexpr WORD SIG_CD_SECTIONBAR = 0xFFAC;        /* the bar of a section */
inline constexpr WORD SIG_CD_V4HOTSPOTBEGIN = 0xFFAD;
inline constexpr WORD SIG_CD_EXTFIELD = 0xFFB0;
inline constexpr WORD SIG_CD_PABHIDE = 0xFFBB;
inline constexpr WORD SIG_CD_TEXTEFFECT = 0xFFC3;
inline constexpr WORD SIG_CD_HRULE = 0xFFC9;
inline constexpr WORD SIG_CD_ANCHOR = 0xFFCB;
inline constexpr WORD SIG_CD_HTMLBEGIN = 0xFFCC;
inline constexpr WORD SIG_CD_HTMLEND = 0xFFCD;
inline constexpr WORD SIG_CD_BIDI_TEXT = 0xFFE4;         /* text run in the CDTEXT layout */
inline constexpr WORD SIG_CD_BIDI_TEXTEFFECT = 0xFFE5;   /* text effect in the 0xFFC3 layout */
inline constexpr WORD SIG_CD_MAPELEMENT = 0xFFF4;        /* image map */
inline constexpr WORD SIG_CD_AREAELEMENT = 0xFFF5;       /* area of an image map */
inline constexpr WORD SIG_CD_EMBEDDEDCTL = 0xFFF7;
inline constexpr WORD SIG_CD_EVENT = 0xFFF9;
inline constexpr WORD SIG_CD_PRETABLEBEGIN = 0xFFFB;
inline constexpr WORD SIG_CD_EXT2FIELD = 0xFFFE;

// clang-format on

/* ---- Field offsets in host form ---- */

/* Hotspot begins (0xFFA9, 0xFFAD, 0xFF7E, 0xFF74): the 16-bit hotspot type
 * and the 32-bit hotspot flags. */
inline constexpr WORD CDHOTSPOTBEGIN_TYPE_OFFSET = 4;
inline constexpr WORD CDHOTSPOTBEGIN_FLAGS_OFFSET = 8;

/* Table cells (0xA4, 0xD0): the bytes holding the 0-based row and column. */
inline constexpr WORD CDTABLECELL_ROW_OFFSET = 2;
inline constexpr WORD CDTABLECELL_COLUMN_OFFSET = 3;

#endif
