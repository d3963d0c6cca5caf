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
 * Header forms. In stored form a record starts with a BSIG (signature byte,
 * length byte; 2 bytes), a WSIG (word 0xFFnn, word length; 4 bytes) or an
 * LSIG header (word 0x00nn, double-word length; 6 bytes). In host form BSIG
 * and WSIG headers are the same and an LSIG header is 8 bytes, its length
 * at offset 4. Which 0x00nn signatures have LSIG headers is fixed by
 * IsLongSignature below, nowhere else.
 *
 * Structures are declared in host form, packed to 4 bytes as the 32-bit
 * host lays them out. Fields that the engine names are declared; the rest
 * of each fixed part is kept as reserved bytes of the right size, so that
 * no structure has padding except the three the stored form leaves out
 * (after an LSIG signature, at the end of CDRESOURCE and of
 * CDPABDEFINITION). Each structure's ODS type number is given below; the
 * host's ODS calls (host/ods.h) convert by that number.
 *
 * This header declares constants, layouts and the families of signatures
 * only; converting records and walking record lists live elsewhere.
 */
#ifndef VELKO_HOST_CDRECORDS_H
#define VELKO_HOST_CDRECORDS_H

#include <stddef.h>

#include "velko/host_types.h"

// clang-format off
/* ---- Byte-length records (the record list holds the signature byte) ---- */

inline constexpr WORD SIG_CD_IGNORED = 0x59;             /* the record the Ignored target names */
inline constexpr WORD SIG_CD_FILESEGMENT = 0x60;         /* LSIG: a piece of file data */
inline constexpr WORD SIG_CD_FILEHEADER = 0x61;          /* LSIG: heads the file data */
inline constexpr WORD SIG_CD_LAYERBACKGROUND = 0x63;     /* layer background image and repeat */
inline constexpr WORD SIG_CD_BOXSIZE = 0x6A;             /* layer width and height */
inline constexpr WORD SIG_CD_POSITIONING = 0x6B;         /* layer scheme, z-index, top, left */
inline constexpr WORD SIG_CD_LAYER = 0x6C;               /* marks a layer inside its bracket */
inline constexpr WORD SIG_CD_BACKGROUNDCOLOR = 0x72;     /* layer background colour */
inline constexpr WORD SIG_CD_IMAGESEGMENT = 0x7C;        /* LSIG: a piece of image data */
inline constexpr WORD SIG_CD_IMAGEHEADER = 0x7D;         /* LSIG: image type and size */
inline constexpr WORD SIG_CD_ALTHOTSPOTEND = 0x7F;       /* a third hotspot end */
inline constexpr WORD SIG_CD_PARAGRAPH = 0x81;
inline constexpr WORD SIG_CD_PABREFERENCE = 0x83;
inline constexpr WORD SIG_CD_DOCUMENT = 0x86;            /* the "$Info" record of a design note */
inline constexpr WORD SIG_CD_BITMAPHEADER = 0x95;        /* LSIG */
inline constexpr WORD SIG_CD_BITMAPSEGMENT = 0x96;       /* LSIG */
inline constexpr WORD SIG_CD_COLORTABLE = 0x97;          /* LSIG: bitmap colour table */
inline constexpr WORD SIG_CD_PATTERNTABLE = 0x98;        /* LSIG: bitmap pattern table */
inline constexpr WORD SIG_CD_GRAPHIC = 0x99;             /* LSIG */
inline constexpr WORD SIG_CD_TABLEBEGIN = 0xA3;
inline constexpr WORD SIG_CD_TABLECELL = 0xA4;
inline constexpr WORD SIG_CD_TABLEEND = 0xA5;
inline constexpr WORD SIG_CD_STYLENAME = 0xA6;
inline constexpr WORD SIG_CD_HOTSPOTEND = 0xAA;
inline constexpr WORD SIG_CD_V4HOTSPOTEND = 0xAE;
inline constexpr WORD SIG_CD_LAYOUT = 0xB7;              /* begins a layout region */
inline constexpr WORD SIG_CD_LAYOUTTEXT = 0xB8;          /* ends a layout field's text search */
inline constexpr WORD SIG_CD_LAYOUTEND = 0xB9;           /* ends a layout region */
inline constexpr WORD SIG_CD_LAYOUTFIELD = 0xBA;         /* a field placed in a layout region */
inline constexpr WORD SIG_CD_PABFORMULAREF = 0xBC;       /* paragraph formula reference */
inline constexpr WORD SIG_CD_NESTEDTABLEBEGIN = 0xCF;
inline constexpr WORD SIG_CD_NESTEDTABLECELL = 0xD0;
inline constexpr WORD SIG_CD_NESTEDTABLEEND = 0xD1;
inline constexpr WORD SIG_CD_COLOR = 0xD2;               /* colour of the record before it */
inline constexpr WORD SIG_CD_BEGIN = 0xDD;               /* CDBEGINRECORD */
inline constexpr WORD SIG_CD_END = 0xDE;                 /* CDENDRECORD */
inline constexpr WORD SIG_CD_VERTICALALIGN = 0xDF;
inline constexpr WORD SIG_CD_FLOAT = 0xE0;
inline constexpr WORD SIG_CD_TIMERINFO = 0xE1;
inline constexpr WORD SIG_CD_TABRECORD = 0x62;           /* the tab of a section's bar */
inline constexpr WORD SIG_CD_CELLCOLOR = 0xD3;           /* a table cell's background colour */
inline constexpr WORD SIG_CD_ROWHEIGHT = 0xE2;           /* a table row's height */
inline constexpr WORD SIG_CD_RESOURCE_FF5B = 0xFF5B;     /* a border image, in the CDRESOURCE layout */

/* ---- Word-length records (the record list holds the whole word) ---- */

inline constexpr WORD SIG_CD_RESOURCE_FF5A = 0xFF5A;     /* further records in the CDRESOURCE layout */
inline constexpr WORD SIG_CD_TABLEDATAEXTENSION = 0xFF5C;
inline constexpr WORD SIG_CD_LARGEPARAGRAPH = 0xFF68;    /* large-paragraph marker */
inline constexpr WORD SIG_CD_RESOURCE_FF71 = 0xFF71;
inline constexpr WORD SIG_CD_ALTHOTSPOTBEGIN = 0xFF74;   /* a third hotspot begin */
inline constexpr WORD SIG_CD_CAPTION = 0xFF76;
inline constexpr WORD SIG_CD_RESOURCE_FF78 = 0xFF78;
inline constexpr WORD SIG_CD_IDNAME = 0xFF7A;
inline constexpr WORD SIG_CD_IDNAME2 = 0xFF7B;          /* CDIDNAME in the layout of 0xFF7A */
inline constexpr WORD SIG_CD_RESOURCELINKBEGIN = 0xFF7E; /* the hotspot begin of a resource link */
inline constexpr WORD SIG_CD_PABDEFINITION = 0xFF82;
inline constexpr WORD SIG_CD_TEXT = 0xFF85;
inline constexpr WORD SIG_CD_FIELD = 0xFF8A;
inline constexpr WORD SIG_CD_FONTTABLE = 0xFF8B;
inline constexpr WORD SIG_CD_HEADER = 0xFF8E;            /* the record of "$Header" and "$Footer" */
inline constexpr WORD SIG_CD_LINK = 0xFF91;              /* link by index into the link table */
inline constexpr WORD SIG_CD_DOCLINK = 0xFF92;           /* link holding its own note link */
inline constexpr WORD SIG_CD_OLEBEGIN = 0xFFA7;
inline constexpr WORD SIG_CD_OLEEND = 0xFFA8;
inline constexpr WORD SIG_CD_OLEOBJINFO = 0xFFC1;        /* the "$OLEOBJINFO" of an OLE object */
inline constexpr WORD SIG_CD_HOTSPOTBEGIN = 0xFFA9;
inline constexpr WORD SIG_CD_BUTTON = 0xFFAB;
inline constexpr WORD SIG_CD_SECTIONBAR = 0xFFAC;        /* the bar of a section */
inline constexpr WORD SIG_CD_V4HOTSPOTBEGIN = 0xFFAD;
inline constexpr WORD SIG_CD_EXTFIELD = 0xFFB0;
inline constexpr WORD SIG_CD_PABHIDE = 0xFFBB;
inline constexpr WORD SIG_CD_TEXTEFFECT = 0xFFC3;
inline constexpr WORD SIG_CD_STORAGELINK = 0xFFC4;
inline constexpr WORD SIG_CD_HRULE = 0xFFC9;
inline constexpr WORD SIG_CD_ALTTEXT = 0xFFCA;
inline constexpr WORD SIG_CD_ANCHOR = 0xFFCB;
inline constexpr WORD SIG_CD_HTMLBEGIN = 0xFFCC;
inline constexpr WORD SIG_CD_HTMLEND = 0xFFCD;
inline constexpr WORD SIG_CD_BLOBPART = 0xFFDC;
inline constexpr WORD SIG_CD_TABLELABEL = 0xFFE3;
inline constexpr WORD SIG_CD_BIDI_TEXT = 0xFFE4;         /* text run in the CDTEXT layout */
inline constexpr WORD SIG_CD_BIDI_TEXTEFFECT = 0xFFE5;   /* text effect in the 0xFFC3 layout */
inline constexpr WORD SIG_CD_TARGET = 0xFFF2;
inline constexpr WORD SIG_CD_MAPELEMENT = 0xFFF4;        /* image map */
inline constexpr WORD SIG_CD_AREAELEMENT = 0xFFF5;       /* area of an image map */
inline constexpr WORD SIG_CD_RESOURCE = 0xFFF6;          /* CDRESOURCE, in a hotspot or layer */
inline constexpr WORD SIG_CD_EMBEDDEDCTL = 0xFFF7;
inline constexpr WORD SIG_CD_EVENT = 0xFFF9;
inline constexpr WORD SIG_CD_PRETABLEBEGIN = 0xFFFB;
inline constexpr WORD SIG_CD_BORDERINFO = 0xFFFC;
inline constexpr WORD SIG_CD_EXT2FIELD = 0xFFFE;
inline constexpr WORD SIG_CD_BLOBPART_COMMON = 0xFF65;  /* CDBLOBPART of a common JavaScript event */
inline constexpr WORD SIG_CD_EVENT_COMMON = 0xFF66;     /* CDEVENT for every client */
inline constexpr WORD SIG_CD_EMBEDDEDCONTROL = 0xFFEA;
inline constexpr WORD SIG_CD_EMBEDDEDTAIL = 0xFFED;     /* closes an embedded control's records */
inline constexpr WORD SIG_CD_BACKGROUNDREPEAT = 0xFFEE; /* repeat mode of a background image */
inline constexpr WORD SIG_CD_EMBEDDEDEDITOR = 0xFFFF;   /* embedded-editor options; the label follows */

/* The name of a signature named above, as the record list holds it:
 * "CD" and the constant's name ("CDTEXT" for 0xFF85, "CDRESOURCE_FF5A" for
 * 0xFF5A); null for any other signature. Defined in host/cd_names.cpp. */
const char* CDSignatureName(WORD signature);

/* ---- Header forms ---- */

enum cd_header_kind : BYTE {
  CD_HEADER_BSIG = 0, /* byte length */
  CD_HEADER_WSIG = 1, /* word length */
  CD_HEADER_LSIG = 2, /* double-word length */
};

inline constexpr WORD BSIG_HEADER_SIZE = 2;
inline constexpr WORD WSIG_HEADER_SIZE = 4;
inline constexpr WORD LSIG_STORED_HEADER_SIZE = 6;
inline constexpr WORD LSIG_HOST_HEADER_SIZE = 8;

/* True for the 0x00nn signatures whose records have LSIG headers: the file
 * and image data records and the bitmap and metafile records, all of which
 * can pass 255 bytes. Every other 0x00nn signature is a BSIG record. */
constexpr bool IsLongSignature(WORD signature) {
  switch (signature) {
  case 0x0060: case 0x0061:                 /* file segment, file header */
  case 0x007C: case 0x007D:                 /* image segment, image header */
  case 0x0095: case 0x0096: case 0x0097:    /* bitmap header, segment, colour table */
  case 0x0098: case 0x0099:                 /* pattern table, graphic */
  case 0x009A: case 0x009B: case 0x009C:    /* metafile segments */
  case 0x009D: case 0x009E: case 0x009F:    /* metafile headers */
  case 0x00A0:
  case 0x00C5:                              /* bitmap transparency */
    return true;
  default:
    return false;
  }
}

/* Header form of a signature as the record list holds it. */
constexpr cd_header_kind HeaderKindOfSignature(WORD signature) {
  if ((signature & 0xFF00) == 0xFF00)
    return CD_HEADER_WSIG;
  return IsLongSignature(signature) ? CD_HEADER_LSIG : CD_HEADER_BSIG;
}

/* Header form of a record as it lies in memory or storage, told by its
 * second byte: 0x00 LSIG, 0xFF WSIG, anything else is a BSIG length. */
constexpr cd_header_kind HeaderKindOfSecondByte(BYTE secondByte) {
  if (secondByte == 0x00)
    return CD_HEADER_LSIG;
  return secondByte == 0xFF ? CD_HEADER_WSIG : CD_HEADER_BSIG;
}

/* The size of a header of the form in stored form and in host form. */
constexpr WORD StoredHeaderSize(cd_header_kind kind) {
  switch (kind) {
  case CD_HEADER_WSIG:
    return WSIG_HEADER_SIZE;
  case CD_HEADER_LSIG:
    return LSIG_STORED_HEADER_SIZE;
  case CD_HEADER_BSIG:
    break;
  }
  return BSIG_HEADER_SIZE;
}
constexpr WORD HostHeaderSize(cd_header_kind kind) {
  return kind == CD_HEADER_LSIG ? LSIG_HOST_HEADER_SIZE : StoredHeaderSize(kind);
}

/* ---- families of signatures ---- */

constexpr bool IsTextRun(WORD signature) {
  return signature == SIG_CD_TEXT || signature == SIG_CD_BIDI_TEXT;
}
constexpr bool IsTextEffect(WORD signature) {
  return signature == SIG_CD_TEXTEFFECT || signature == SIG_CD_BIDI_TEXTEFFECT;
}
constexpr bool IsTableBegin(WORD signature) {
  return signature == SIG_CD_TABLEBEGIN || signature == SIG_CD_NESTEDTABLEBEGIN;
}
constexpr bool IsTableCell(WORD signature) {
  return signature == SIG_CD_TABLECELL || signature == SIG_CD_NESTEDTABLECELL;
}
constexpr bool IsTableEnd(WORD signature) {
  return signature == SIG_CD_TABLEEND || signature == SIG_CD_NESTEDTABLEEND;
}
/* Records that give a table its structure. */
constexpr bool IsTableStructure(WORD signature) {
  return IsTableBegin(signature) || IsTableCell(signature) || IsTableEnd(signature) ||
         signature == SIG_CD_PRETABLEBEGIN;
}
/* The end of a hotspot of any kind. */
constexpr bool IsHotspotEnd(WORD signature) {
  return signature == SIG_CD_HOTSPOTEND || signature == SIG_CD_V4HOTSPOTEND ||
         signature == SIG_CD_ALTHOTSPOTEND;
}
/* A document link: by its place in the note's link table, or whole. */
constexpr bool IsLinkRecord(WORD signature) {
  return signature == SIG_CD_LINK || signature == SIG_CD_DOCLINK;
}
constexpr bool IsBracket(WORD signature) {
  return signature == SIG_CD_BEGIN || signature == SIG_CD_END;
}
/* The end that closes a structure the signature begins (a table, a nested
 * table, a hotspot of either of the two kinds that pair, a bracket); 0 for
 * any other record. Each family nests in itself only: a bracket around a
 * hotspot's begin closes while the hotspot is open. */
constexpr WORD StructureEndFor(WORD begin) {
  switch (begin) {
  case SIG_CD_TABLEBEGIN:
    return SIG_CD_TABLEEND;
  case SIG_CD_NESTEDTABLEBEGIN:
    return SIG_CD_NESTEDTABLEEND;
  case SIG_CD_HOTSPOTBEGIN:
    return SIG_CD_HOTSPOTEND;
  case SIG_CD_V4HOTSPOTBEGIN:
    return SIG_CD_V4HOTSPOTEND;
  case SIG_CD_BEGIN:
    return SIG_CD_END;
  default:
    return 0;
  }
}
/* An end StructureEndFor gives. */
constexpr bool IsStructureEnd(WORD signature) {
  return IsTableEnd(signature) || signature == SIG_CD_HOTSPOTEND ||
         signature == SIG_CD_V4HOTSPOTEND || signature == SIG_CD_END;
}

/* ---- ODS type numbers ---- */

/* Plain values the host's ODS calls also convert. */
inline constexpr WORD ODS_WORD = 0;
inline constexpr WORD ODS_DWORD = 1;
inline constexpr WORD ODS_TIMEDATE = 15;
inline constexpr WORD ODS_NOTELINK = 33;
inline constexpr WORD ODS_FILEOBJECT = 58;
inline constexpr WORD ODS_CDFACE = 120;

/* Fixed parts of CD records. A type named by a signature (ODS_CD_xxxx) is
 * one whose fields the engine does not read. */
inline constexpr WORD ODS_CD_FF8F = 68;
inline constexpr WORD ODS_CDLINK2 = 72;                /* 0xFF91, 0x8C */
inline constexpr WORD ODS_CDLINKEXPORT2 = 97;          /* 0xFF92, 0x8D */
inline constexpr WORD ODS_CDPARAGRAPH = 109;
inline constexpr WORD ODS_CDPABDEFINITION = 110;
inline constexpr WORD ODS_CDPABREFERENCE = 111;
inline constexpr WORD ODS_CD_FF84 = 112;
inline constexpr WORD ODS_CDTEXT = 113;                /* 0xFF85, 0xFFE4 */
inline constexpr WORD ODS_CDDOCUMENT = 114;            /* 0x86, 0x80 */
inline constexpr WORD ODS_CD_FF87 = 115;               /* no fixed layout: copied as it is */
inline constexpr WORD ODS_CD_FF88 = 116;               /* no fixed layout: copied as it is */
inline constexpr WORD ODS_CDHEADER = 117;
inline constexpr WORD ODS_CDFIELD = 118;
inline constexpr WORD ODS_CDFONTTABLE = 119;
inline constexpr WORD ODS_CDBITMAPHEADER = 162;
inline constexpr WORD ODS_CDBITMAPSEGMENT = 163;
inline constexpr WORD ODS_CDCOLORTABLE = 164;
inline constexpr WORD ODS_CDPATTERNTABLE = 165;
inline constexpr WORD ODS_CDGRAPHIC = 166;
inline constexpr WORD ODS_CD_009E = 167;
inline constexpr WORD ODS_CD_009F = 168;
inline constexpr WORD ODS_CD_00A0 = 169;
inline constexpr WORD ODS_CD_009D = 170;
inline constexpr WORD ODS_CD_009A = 171;
inline constexpr WORD ODS_CD_009B = 172;
inline constexpr WORD ODS_CD_009C = 173;
inline constexpr WORD ODS_CD_FFA1 = 174;
inline constexpr WORD ODS_CD_FFA2 = 175;
inline constexpr WORD ODS_CDTABLEBEGIN = 176;          /* 0xA3, 0xCF */
inline constexpr WORD ODS_CDTABLECELL = 177;           /* 0xA4, 0xD0 */
inline constexpr WORD ODS_CDTABLEEND = 178;            /* 0xA5, 0xD1 */
inline constexpr WORD ODS_CDSTYLENAME = 188;
inline constexpr WORD ODS_CDOLEBEGIN = 218;
inline constexpr WORD ODS_CDOLEEND = 219;
inline constexpr WORD ODS_CDHOTSPOTBEGIN = 230;        /* 0xFFA9, 0xFFAD, 0xFF7E, 0xFF74 */
inline constexpr WORD ODS_CDHOTSPOTEND = 231;          /* 0xAA, 0xAE, 0x7F */
inline constexpr WORD ODS_CDBUTTON = 237;
inline constexpr WORD ODS_CDBAR = 308;
inline constexpr WORD ODS_CD_FFBE = 340;
inline constexpr WORD ODS_CDEXTFIELD = 342;
inline constexpr WORD ODS_CDLAYOUT = 343;
inline constexpr WORD ODS_CDLAYOUTTEXT = 344;
inline constexpr WORD ODS_CDLAYOUTEND = 345;
inline constexpr WORD ODS_CDLAYOUTFIELD = 346;
inline constexpr WORD ODS_CD_FFBF = 350;
inline constexpr WORD ODS_CDPABHIDE = 358;
inline constexpr WORD ODS_CDPABFORMULAREF = 359;
inline constexpr WORD ODS_CD_00BD = 360;
inline constexpr WORD ODS_CD_FFC1 = 379;
inline constexpr WORD ODS_CD_00C0 = 407;
inline constexpr WORD ODS_CD_00C2 = 466;
inline constexpr WORD ODS_CD_FFB1 = 482;
inline constexpr WORD ODS_CD_FFB2 = 492;
inline constexpr WORD ODS_CD_FFB3 = 493;
inline constexpr WORD ODS_CDTEXTEFFECT = 508;          /* 0xFFC3, 0xFFE5 */
inline constexpr WORD ODS_CDSTORAGELINK = 515;
inline constexpr WORD ODS_CD_00C5 = 541;
inline constexpr WORD ODS_CD_FFC6 = 554;
inline constexpr WORD ODS_CD_00C7 = 555;
inline constexpr WORD ODS_CD_FFC8 = 556;
inline constexpr WORD ODS_CDANCHOR = 559;
inline constexpr WORD ODS_CDHRULE = 560;
inline constexpr WORD ODS_CDALTTEXT = 561;             /* 0xFFCA, 0xFFF8 */
inline constexpr WORD ODS_CDHTMLBEGIN = 564;
inline constexpr WORD ODS_CDHTMLEND = 565;
inline constexpr WORD ODS_CD_FFCE = 566;
inline constexpr WORD ODS_CDBEGINRECORD = 577;
inline constexpr WORD ODS_CDENDRECORD = 578;
inline constexpr WORD ODS_CDVERTICALALIGN = 579;
inline constexpr WORD ODS_CDFLOAT = 580;
inline constexpr WORD ODS_CDTIMERINFO = 581;
inline constexpr WORD ODS_CD_00E2 = 582;
inline constexpr WORD ODS_CDTABLELABEL = 583;
inline constexpr WORD ODS_CD_FFE8 = 610;
inline constexpr WORD ODS_CDEMBEDDEDCONTROL = 611;     /* 0xFFEA */
inline constexpr WORD ODS_CD_FFED = 615;
inline constexpr WORD ODS_CD_FFEC = 620;
inline constexpr WORD ODS_CD_FFE6 = 621;
inline constexpr WORD ODS_CD_FFE7 = 622;
inline constexpr WORD ODS_CD_FFEE = 623;
inline constexpr WORD ODS_CD_FFEF = 626;
inline constexpr WORD ODS_CD_FFF0 = 627;
inline constexpr WORD ODS_CD_FFF1 = 628;
inline constexpr WORD ODS_CDTARGET = 629;              /* 0xFFF2, 0xFF75 */
inline constexpr WORD ODS_CDRESOURCE = 631;            /* 0xFFF6, 0xFF5A, 0xFF5B, 0xFF71, 0xFF78 */
inline constexpr WORD ODS_CDMAPELEMENT = 632;
inline constexpr WORD ODS_CDAREAELEMENT = 633;
inline constexpr WORD ODS_CDEMBEDDEDCTL = 636;         /* 0xFFF7 */
inline constexpr WORD ODS_CDEVENT = 637;               /* 0xFFF9, 0xFF66 */
inline constexpr WORD ODS_CDPRETABLEBEGIN = 640;
inline constexpr WORD ODS_CDCOLOR = 645;               /* 0xD2, 0xD3, 0x72 */
inline constexpr WORD ODS_CDBORDERINFO = 646;
inline constexpr WORD ODS_CDEXT2FIELD = 672;
inline constexpr WORD ODS_CD_FFFD = 674;
inline constexpr WORD ODS_CDBLOBPART = 695;            /* 0xFFDC, 0xFF65 */
inline constexpr WORD ODS_CDIMAGEHEADER = 705;
inline constexpr WORD ODS_CDIMAGESEGMENT = 706;
inline constexpr WORD ODS_CDIDNAME = 708;              /* 0xFF7A, 0xFF7B */
inline constexpr WORD ODS_CD_FF79 = 719;
inline constexpr WORD ODS_CD_FF77 = 722;
inline constexpr WORD ODS_CDCAPTION = 728;
inline constexpr WORD ODS_CD_FFE9 = 742;
inline constexpr WORD ODS_CD_FF73 = 756;
inline constexpr WORD ODS_CD_FF70 = 765;
inline constexpr WORD ODS_CD_006E = 766;               /* 0x6E, 0x6F */
inline constexpr WORD ODS_CD_FF6D = 767;
inline constexpr WORD ODS_CDLAYER = 808;
inline constexpr WORD ODS_CDPOSITIONING = 809;
inline constexpr WORD ODS_CDBOXSIZE = 810;
inline constexpr WORD ODS_CD_FFFF = 816;               /* embedded-editor options */
inline constexpr WORD ODS_CD_FF69 = 818;
inline constexpr WORD ODS_CDBACKGROUNDPROPERTIES = 822;
inline constexpr WORD ODS_CD_FF80 = 833;
inline constexpr WORD ODS_CDTABRECORD = 834;           /* 0x62 */
inline constexpr WORD ODS_CDFILEHEADER = 835;
inline constexpr WORD ODS_CDFILESEGMENT = 836;
inline constexpr WORD ODS_CD_FF5F = 847;
inline constexpr WORD ODS_CD_FF5E = 848;
inline constexpr WORD ODS_CD_FF5D = 849;
inline constexpr WORD ODS_CDTABLEDATAEXTENSION = 857;
inline constexpr WORD ODS_CDLARGEPARAGRAPH = 909;
inline constexpr WORD ODS_CDIGNORED = 912;             /* 0x59 */
// clang-format on

/* ---- Field offsets in host form ---- */

/* Hotspot begins (0xFFA9, 0xFFAD, 0xFF7E, 0xFF74): the 16-bit hotspot type
 * and the 32-bit hotspot flags. */
inline constexpr WORD CDHOTSPOTBEGIN_TYPE_OFFSET = 4;
inline constexpr WORD CDHOTSPOTBEGIN_FLAGS_OFFSET = 8;

/* Table cells (0xA4, 0xD0): the bytes holding the 0-based row and column. */
inline constexpr WORD CDTABLECELL_ROW_OFFSET = 2;
inline constexpr WORD CDTABLECELL_COLUMN_OFFSET = 3;

/* ---- Structures of the host API that records and items carry ---- */

#pragma pack(push, 4)

/* A link to a note: the database's replica ID, the view's and the note's
 * UNIDs (ODS type 33). */
typedef struct {
  TIMEDATE File;
  struct {
    DWORD File[2];
    TIMEDATE Note;
  } View, Note;
} NOTELINK;

/* Header of an object item's value (after the item's type word). */
typedef struct {
  WORD ObjectType; /* OBJECT_FILE, ... */
  DWORD RRV;       /* the database object's ID */
} OBJECT_DESCRIPTOR;

/* A file attachment: the value of a "$FILE" item after its type word,
 * followed by the file name (FileNameLength bytes, no NUL) (ODS type 58). */
typedef struct {
  OBJECT_DESCRIPTOR Header;
  WORD FileNameLength;
  WORD HostType;
  WORD CompressionType;
  WORD FileAttributes;
  WORD Flags;
  DWORD FileSize;
  TIMEDATE FileCreated;
  TIMEDATE FileModified;
} FILEOBJECT;

#pragma pack(pop)

static_assert(sizeof(NOTELINK) == 40, "NOTELINK is 40 bytes");
static_assert(sizeof(OBJECT_DESCRIPTOR) == 8, "OBJECT_DESCRIPTOR is 8 bytes");
static_assert(sizeof(FILEOBJECT) == 40, "FILEOBJECT is 40 bytes");
static_assert(offsetof(FILEOBJECT, FileSize) == 20, "FILEOBJECT.FileSize at 20");

/* ---- Record layouts in host form ---- */

#pragma pack(push, 4)

/* A font: face id, attribute bits, colour (palette index) and point size,
 * one byte each in this order in memory. */
typedef DWORD FONTID;

inline constexpr int FONTID_FACE_BYTE = 0;
inline constexpr int FONTID_ATTRIBUTES_BYTE = 1;
inline constexpr int FONTID_COLOR_BYTE = 2;
inline constexpr int FONTID_SIZE_BYTE = 3;

/* A colour: flags (0x0001 RGB given, 0x0004 no colour, 0x0008 system
 * colour, 0x0010 has a gradient), then red, green, blue and a zero byte. */
typedef struct {
  WORD Flags;
  BYTE Red;
  BYTE Green;
  BYTE Blue;
  BYTE Reserved;
} COLOR_VALUE;

/* A length of a layer or box: flags (0x0001 auto, 0x0002 inherit), the
 * number in its units (inches held as twips), units (0 none, 1 twips,
 * 2 pixels, 3 percent, 4 em, 5 ex, 6 characters). The double lies at
 * offset 4, as the 32-bit host aligns it. */
typedef struct {
  WORD Flags;
  double Length;
  BYTE Units;
  BYTE Reserved;
} LENGTH_VALUE;

/* Record headers. LSIG's two bytes after the signature are host padding
 * that the stored form leaves out. */
typedef struct {
  BYTE Signature;
  BYTE Length;
} BSIG;

typedef struct {
  WORD Signature;
  WORD Length;
} WSIG;

typedef struct {
  WORD Signature;
  DWORD Length;
} LSIG;

/* ---- Text and paragraphs ---- */

typedef struct { /* 0xFF85 CDTEXT, 0xFFE4 text in the same layout; text follows */
  WSIG Header;
  FONTID FontID;
} CDTEXT;

typedef struct { /* 0xFFC3, 0xFFE5 */
  WSIG Header;
  FONTID FontID;
} CDTEXTEFFECT;

typedef struct { /* 0x81 */
  BSIG Header;
} CDPARAGRAPH;

typedef struct { /* 0x83 */
  BSIG Header;
  WORD PABID;
} CDPABREFERENCE;

/* 0xFF82. Stored without its last two bytes (70 bytes); the extension
 * words of _CDPABDEFEXT may follow. */
typedef struct {
  WSIG Header;
  WORD PABID;
  WORD JustifyMode; /* 0 left, 1 right, 2 full, 3 center, 4 none */
  WORD LineSpacing;
  WORD ParagraphSpacingBefore;
  WORD ParagraphSpacingAfter;
  WORD LeftMargin; /* twips */
  WORD RightMargin;
  WORD FirstLineLeftMargin;
  WORD Tabs;
  int16_t Tab[20];
  WORD Flags;
  DWORD TabTypes;
  WORD Flags2;
} CDPABDEFINITION;

/* A paragraph definition with its extensions, as the paragraph routines
 * hold it (92 bytes at most). Tagged so that the class interface can name
 * it without this header. */
typedef struct _CDPABDEFEXT {
  CDPABDEFINITION Definition;
  WORD LeftMarginOffset;
  WORD LeftMarginPercent;
  WORD FirstLineLeftMarginOffset;
  WORD FirstLineLeftMarginPercent;
  WORD RightMarginOffset;
  WORD RightMarginPercent;
  DWORD ExtFlags; /* 0x1: Flags3 is present */
  DWORD Flags3;
} _CDPABDEFEXT;

typedef struct { /* 0xFF68: marks where a large paragraph begins or ends */
  WSIG Header;
  WORD Version;
  WORD Flags; /* CDLARGEPARAGRAPH_BEGIN, CDLARGEPARAGRAPH_END */
  BYTE Reserved[8];
} CDLARGEPARAGRAPH;

inline constexpr WORD CDLARGEPARAGRAPH_BEGIN = 0x0001;
inline constexpr WORD CDLARGEPARAGRAPH_END = 0x0002;

typedef struct { /* 0xFFC9 */
  WSIG Header;
  DWORD Flags; /* 0x0004 the width is a percentage, 0x0008 no shadow */
  WORD Width;  /* twips, or percent */
  WORD Height; /* twips */
  WORD Color;  /* palette index */
  WORD FillType;
} CDHRULE;

typedef struct { /* 0xFFCB; the name follows */
  WSIG Header;
  WORD NameLength;
  BYTE Reserved[6];
} CDANCHOR;

typedef struct { /* 0xFFBB; the compiled hide formula follows */
  WSIG Header;
  WORD PABID;
  BYTE Reserved[8];
} CDPABHIDE;

typedef struct { /* 0xBC: two paragraph ids */
  BSIG Header;
  WORD FirstPABID;
  WORD SecondPABID;
} CDPABFORMULAREF;

typedef struct { /* 0xA6 */
  BSIG Header;
  BYTE Reserved[6];
  WORD PABID;
  char StyleName[36]; /* NUL-terminated */
  BYTE Reserved2[2];
} CDSTYLENAME;

typedef struct { /* 0xD2, 0xD3, 0x72; a second COLOR_VALUE (gradient) may follow */
  BSIG Header;
  COLOR_VALUE Color;
} CDCOLOR;

/* ---- Brackets ---- */

typedef struct { /* 0xDD */
  BSIG Header;
  WORD Version;
  WORD Signature; /* the bracketed record's signature */
} CDBEGINRECORD;

typedef struct { /* 0xDE */
  BSIG Header;
  WORD Version;
  WORD Signature;
} CDENDRECORD;

using CDBEGIN = CDBEGINRECORD;
using CDEND = CDENDRECORD;

/* ---- Tables ---- */

typedef struct { /* 0xA3, 0xCF */
  BSIG Header;
  WORD LeftMargin;
  BYTE Reserved[4];
  WORD HorizInterCellSpace;
  WORD VertInterCellSpace;
  WORD Flags;
} CDTABLEBEGIN;

typedef struct { /* 0xA4, 0xD0 */
  BSIG Header;
  BYTE Row;    /* from 0 */
  BYTE Column; /* from 0 */
  WORD LeftMargin;  /* left edge, twips */
  WORD RightMargin; /* right edge, twips */
  WORD Reserved;
  BYTE BorderWidths; /* 2 bits per side: left, right, top, bottom */
  BYTE Flags;
  WORD V42Border; /* 4 bits per side, when Flags has 0x02 */
  BYTE RowSpan;
  BYTE ColumnSpan;
  WORD BackgroundColor;
} CDTABLECELL;

typedef struct { /* 0xA5, 0xD1 */
  BSIG Header;
  BYTE Reserved[6];
} CDTABLEEND;

typedef struct { /* 0xFFFB; the table name follows */
  WSIG Header;
  DWORD Flags;
  BYTE Reserved[12];
  BYTE RowDisplay;
  BYTE Reserved2;
  WORD MinRowHeight;
  BYTE Reserved3[4];
  DWORD BodyColor;  /* 0x00BBGGRR */
  DWORD TableColor; /* 0x00BBGGRR */
  COLOR_VALUE CellBorderColor;
  WORD NameLength;
  BYTE Reserved4[4];
} CDPRETABLEBEGIN;

/* 0xFF5C; the tab font (FONTID at 48, COLOR_VALUE at 56) follows when
 * TabFontPartSize exceeds 13. */
typedef struct {
  WSIG Header;
  BYTE Reserved[8];
  WORD TabsEqual;
  WORD TabIndent;
  BYTE Reserved2[24];
  WORD TabFontPartSize;
  BYTE Reserved3[6];
} CDTABLEDATAEXTENSION;

typedef struct { /* 0xFFE3 */
  WSIG Header;
  char Label[128]; /* NUL-terminated */
  BYTE Reserved[6];
  WORD Flags; /* 2 tab label, 1 row name */
} CDTABLELABEL;

/* Cell data that HTML import writes under a signature of its own choosing:
 * the words 2 and 0x83, a zero double word, and two values of its own. */
typedef struct {
  BSIG Header;
  WORD Version;   /* 2 */
  WORD Signature; /* 0x83 */
  BYTE Reserved[2];
  DWORD Reserved2;
  DWORD First;
  DWORD Second;
} CDTABLECELLDATA;

typedef struct { /* 0xE1 */
  BSIG Header;
  WORD Reserved;
  DWORD Interval; /* milliseconds */
  BYTE Reserved2[8];
} CDTIMERINFO;

typedef struct { /* 0xE2 */
  BSIG Header;
  WORD Height; /* twips */
} CDROWHEIGHT;

typedef struct { /* 0xFFFC */
  WSIG Header;
  BYTE Reserved[4];
  WORD BorderStyle;
  WORD BorderWidthTop;
  WORD BorderWidthLeft;
  WORD BorderWidthBottom;
  WORD BorderWidthRight;
  BYTE Reserved2[6];
  WORD BorderFlags; /* 0x1 drop shadow */
  WORD DropShadowWidth;
  WORD InnerWidthTop; /* the inner widths are the padding */
  WORD InnerWidthLeft;
  WORD InnerWidthBottom;
  WORD InnerWidthRight;
  WORD OuterWidthTop; /* the outer widths are the margin */
  WORD OuterWidthLeft;
  WORD OuterWidthBottom;
  WORD OuterWidthRight;
  COLOR_VALUE Color;
  BYTE Reserved5[10];
} CDBORDERINFO;

/* ---- Hotspots, links and resources ---- */

typedef struct { /* 0xFFA9, 0xFFAD, 0xFF7E, 0xFF74; DataLength bytes follow */
  WSIG Header;
  WORD Type;
  WORD Reserved;
  DWORD Flags;
  WORD DataLength;
  WORD Reserved2;
} CDHOTSPOTBEGIN;

typedef CDHOTSPOTBEGIN CDV4HOTSPOTBEGIN;

typedef struct { /* 0xAA, 0xAE, 0x7F */
  BSIG Header;
} CDHOTSPOTEND;

typedef struct { /* 0xFFAB; the label follows */
  WSIG Header;
  WORD Flags;
  WORD Width; /* twips */
  BYTE Reserved[4];
  FONTID FontID;
} CDBUTTON;

typedef struct { /* 0xFFAC; the title follows the colour word at 12 */
  WSIG Header;
  DWORD Flags;
  FONTID FontID;
} CDBAR;

typedef struct { /* 0x62 */
  BSIG Header;
  WORD Version;
  WORD Width;
  BYTE Reserved[6];
  DWORD Kind; /* 19 a reply, 1 a tab, 2 a diagonal tab */
} CDTABRECORD;

typedef struct { /* 0xFF91: a link by index into the note's link table */
  WSIG Header;
  WORD LinkID;
} CDLINK2;

typedef struct { /* 0xFF92: a link holding its note link; texts follow */
  WSIG Header;
  NOTELINK NoteLink;
} CDLINKEXPORT2;

/* 0xFFF6 and the other resource signatures. 28 bytes in host form, the
 * last two padding: sizeof(CDRESOURCE) is where the texts of a loaded or
 * generated record begin. Stored without the padding (26 bytes), which
 * only the canonical conversion sees. Behind it: the server hint, the file
 * hint, then by Type the resource's data (1 and 5: Length1 bytes; 2: a
 * NOTELINK when Flags has 0x2, else a WORD link index, then Length1 bytes;
 * 3: an 8-byte database reference, then Length1 bytes). */
typedef struct {
  WSIG Header;
  DWORD Flags; /* 0x1 the name is a formula, 0x2 the note link is inline */
  WORD Type;   /* 1 URL, 2 note link, 3 named element, ... */
  WORD ResourceClass;
  WORD Length1;
  WORD ServerHintLength;
  WORD FileHintLength;
  BYTE Reserved[8];
} CDRESOURCE;

inline constexpr DWORD CDRESOURCE_FLAGS_NOTELINK_INLINE = 0x0002;
/* A reference to a resource of another database, named by its file path. */
inline constexpr DWORD CDRESOURCE_FLAGS_FILE_PATH = 0x000C;
/* An image or background reference that also carries a file path. */
inline constexpr DWORD CDRESOURCE_FLAGS_PATH_HINT = 0x0008;

typedef struct { /* 0xFFF2; the frame name follows */
  WSIG Header;
  WORD TargetLength;
  BYTE Reserved[6];
} CDTARGET;

typedef struct { /* 0xFFF9, 0xFF66; the action follows in CDBLOBPARTs */
  WSIG Header;
  BYTE Reserved[4];
  WORD EventType;
  WORD ActionType; /* 4 JavaScript */
  DWORD ActionLength;
  BYTE Reserved2[16];
} CDEVENT;

typedef struct { /* 0xFFDC, 0xFF65; Length bytes follow */
  WSIG Header;
  WORD OwnerSig;
  WORD Length;
  WORD BlobMax;
  BYTE Reserved[8];
} CDBLOBPART;

typedef struct { /* 0xFF7A, 0xFF7B; the six texts follow in this order */
  WSIG Header;
  WORD Length; /* id */
  WORD ClassNameLength;
  WORD StyleLength;
  WORD TitleLength;
  WORD ExtraLength;
  WORD NameLength;
  BYTE Reserved[10];
} CDIDNAME;

typedef struct { /* 0xFFF4; the map name follows */
  WSIG Header;
  BYTE Reserved[4];
  WORD MapNameLength;
  WORD LastDefaultRegionID;
  WORD LastRectRegionID;
  WORD LastCircleRegionID;
  WORD LastPolyRegionID;
  BYTE Reserved2[18];
} CDMAPELEMENT;

typedef struct { /* 0xFFF5; the coordinates follow */
  WSIG Header;
  BYTE Reserved[4];
  WORD Shape; /* 1 rectangle, 2 circle, 3 polygon, 4 default */
  WORD TabIndex;
  BYTE Reserved2[20];
} CDAREAELEMENT;

typedef struct { /* 0xFFF7 */
  WSIG Header;
  DWORD Flags; /* CDEMBEDDEDCTL_* */
  /* The size and limits a field's format keys set; their positions are
   * our own choices, written only here. */
  WORD Width; /* twips, or percent with CDEMBEDDEDCTL_WIDTH_PERCENT */
  WORD Height; /* twips */
  WORD MaxChars;
  WORD MaxLines;
  BYTE Reserved[20];
} CDEMBEDDEDCTL;

inline constexpr DWORD CDEMBEDDEDCTL_MULTILINE = 0x00000001;
inline constexpr DWORD CDEMBEDDEDCTL_VERTSCROLL = 0x00000002;
inline constexpr DWORD CDEMBEDDEDCTL_CALENDAR = 0x00000004;      /* our choice */
inline constexpr DWORD CDEMBEDDEDCTL_WIDTH_PERCENT = 0x00000008; /* our choice */
inline constexpr DWORD CDEMBEDDEDCTL_NATIVE = 0x80000000;

typedef struct { /* 0xFFEA */
  WSIG Header;
  WORD ControlType;
  WORD Reserved;
  DWORD Flags;
  WORD Width;  /* twips */
  WORD Height; /* twips */
  FONTID TextFont;
  BYTE Reserved2[8];
  FONTID Sub1Font; /* starts as the text font */
  FONTID Sub2Font; /* starts as the first sub font */
  BYTE Reserved4[2];
  COLOR_VALUE Colors[2];
  BYTE Reserved3[14];
} CDEMBEDDEDCONTROL;

/* ---- Fields ---- */

typedef struct { /* 0xFF8A; the formulas, name, description and values follow */
  WSIG Header;
  WORD Flags;
  WORD DataType;
  WORD ListDelim;
  BYTE NumberDigits;
  BYTE NumberFormat;
  BYTE NumberAttributes;
  BYTE Reserved;
  BYTE DateFormat;
  BYTE TimeFormat;
  BYTE TimeZone;
  BYTE TimeDateDisplay;
  WORD Reserved2;
  FONTID FontID;
  WORD DVLength;
  WORD ITLength;
  WORD TabOrder;
  WORD VFLength;
  WORD NameLength;
  WORD DescLength;
  WORD TextValueLength;
  WORD Reserved3;
} CDFIELD;

/* CDEXTFIELD (0xFFB0) as the field generator writes it: two flag words.
 * The bits of the second word not named by the field keys are our own
 * choices, written only here. */
typedef struct {
  WSIG Header;
  DWORD Flags1;
  DWORD Flags2;
  BYTE Reserved[8];
} CDEXTFIELD;

inline constexpr DWORD CDEXTFIELD_FLAGS2_HIDEDELIMITERS = 0x00000100; /* our choice */
inline constexpr DWORD CDEXTFIELD_FLAGS2_REFRESHCHOICES = 0x00000400; /* our choice */
inline constexpr DWORD CDEXTFIELD_FLAGS2_COMPUTEDHTML = 0x00000800;   /* our choice */
inline constexpr DWORD CDEXTFIELD_FLAGS2_USEAPPLET = 0x00000040;
inline constexpr DWORD CDEXTFIELD_FLAGS2_DYNAMICSIZE = 0x00000200;
/* The type word "Dialog": a keyword field whose choices open in a dialog
 * box (our choice): the keyword field flags and this first-word bit. */
inline constexpr DWORD CDEXTFIELD_FLAGS1_DIALOG = 0x00000008;

/* CDEXT2FIELD (0xFFFE), 88 bytes as the field generator makes it. The
 * positions of the currency words and of the extended date and time
 * format bytes are our own choices, written only here; the country code
 * at 40 is the one field placed by the field keys. */
typedef struct {
  WSIG Header;
  DWORD Flags;         /* CDEXT2FIELD_FLAGS_* */
  DWORD CurrencyFlags; /* 0x1 symbol follows, 0x2 space after, 0x4 ISO symbol */
  BYTE Reserved[28];
  DWORD ISOCountry; /* 0x348 when made */
  BYTE DTYearFormat;
  BYTE DTMonthFormat;
  BYTE DTDayOfWeekFormat;
  BYTE DTDayFormat;
  BYTE DTDateDisplay;
  BYTE DTTimeDisplay;
  WORD DTFlags; /* CDEXT2FIELD_DT_* */
  BYTE Reserved2[36];
} CDEXT2FIELD;

inline constexpr DWORD CDEXT2FIELD_FLAGS_CURRENCY = 0x0001;  /* the currency settings are used */
inline constexpr DWORD CDEXT2FIELD_FLAGS_DATETIME = 0x0002;  /* the extended formats are used */
inline constexpr DWORD CDEXT2FIELD_DEFAULT_COUNTRY = 0x348;
inline constexpr WORD CDEXT2FIELD_DT_INPUT4DIGITYEAR = 0x0001;
inline constexpr WORD CDEXT2FIELD_DT_INPUTALPHAMONTH = 0x0002;
inline constexpr WORD CDEXT2FIELD_DT_DATETODAY = 0x0004;
inline constexpr WORD CDEXT2FIELD_DT_OUTPUT4DIGITYEAR = 0x0008;
inline constexpr WORD CDEXT2FIELD_DT_HIDECURRENTYEAR = 0x0010;

/* ---- Graphics and file data (LSIG records) ---- */

typedef struct { /* 0x99 */
  LSIG Header;
  WORD DestWidth;
  WORD DestHeight;
  BYTE Reserved[12];
  WORD Resize; /* non-zero: a destination size is set */
  BYTE Version;
  BYTE Flags; /* 0x01 sizes in pixels, 0x02 floats */
  BYTE Reserved2[4];
} CDGRAPHIC;

typedef struct { /* 0x7D */
  LSIG Header;
  WORD ImageType; /* 1 GIF, 2 JPEG */
  WORD Width;
  WORD Height;
  WORD Reserved;
  DWORD ImageDataSize;
  DWORD SegCount;
  BYTE Reserved2[8];
} CDIMAGEHEADER;

typedef struct { /* 0x7C; DataSize bytes of image data follow */
  LSIG Header;
  WORD DataSize;
  WORD SegSize;
} CDIMAGESEGMENT;

typedef struct { /* 0x95 */
  LSIG Header;
  WORD DestWidth;
  WORD DestHeight;
  BYTE Reserved[12];
  WORD Width;
  WORD Height;
  BYTE Reserved2[12];
} CDBITMAPHEADER;

typedef struct { /* 0x61 */
  LSIG Header;
  BYTE Reserved[4];
  DWORD FileDataSize;
  BYTE Reserved2[12];
} CDFILEHEADER;

typedef struct { /* 0x60; DataSize bytes of file data follow */
  LSIG Header;
  WORD DataSize;
  WORD SegSize;
  BYTE Reserved[8];
} CDFILESEGMENT;

typedef struct { /* 0xFFC4; the reference follows */
  WSIG Header;
  WORD StorageType; /* 1 a file object of the note, 4 a URL */
  WORD LoadType;
  WORD Reserved;
  WORD Length;
  BYTE Reserved2[12];
} CDSTORAGELINK;

typedef struct { /* 0xFFCA; the text follows */
  WSIG Header;
  WORD Length;
  BYTE Reserved[6];
} CDALTTEXT;

typedef struct { /* 0xFF76; the text follows */
  WSIG Header;
  WORD Length;
  BYTE Position; /* 1 centre, 0 bottom */
  BYTE Reserved;
  FONTID FontID;
  COLOR_VALUE FontColor;
  BYTE Reserved2[14];
} CDCAPTION;

typedef struct { /* 0xDF */
  BSIG Header;
  WORD Alignment;
} CDVERTICALALIGN;

typedef struct { /* 0xE0 */
  BSIG Header;
  WORD Float; /* 1 left, 2 right, 0 none */
} CDFLOAT;

typedef struct { /* 0xFFEE */
  WSIG Header;
  BYTE Repeat; /* 1 once, 2 vertically, 3 horizontally, 4 tile, 5 size to fit, 6 centre */
  BYTE Reserved[7];
} CDBACKGROUNDREPEAT;

typedef struct { /* 0xFFED */
  WSIG Header;
  DWORD Flags;
  BYTE Reserved[24];
} CDEMBEDDEDTAIL;

typedef struct { /* 0xFFFF; the label follows */
  WSIG Header;
  DWORD Flags; /* 0x1 a label follows, 0x4 the action bar is hidden */
  WORD LabelLength;
  BYTE Reserved[54];
} CDEMBEDDEDEDITOR;

/* ---- Layers and layout regions ---- */

typedef struct { /* 0x6B */
  BSIG Header;
  BYTE Scheme; /* 0 static, 1 absolute, 2 relative, 3 fixed */
  BYTE Reserved;
  int32_t ZIndex;
  LENGTH_VALUE Top;
  LENGTH_VALUE Left;
  LENGTH_VALUE Bottom;
  LENGTH_VALUE Right;
  double BrowserLeftOffset;
  double BrowserRightOffset;
} CDPOSITIONING;

typedef struct { /* 0x6A */
  BSIG Header;
  WORD Reserved;
  LENGTH_VALUE Width;
  LENGTH_VALUE Height;
  BYTE Reserved2[80];
} CDBOXSIZE;

typedef struct { /* 0x6C: marks a layer inside its bracket */
  BSIG Header;
  BYTE Reserved[18];
} CDLAYER;

typedef struct { /* 0xFFCC, 0xFFCD: a run of pass-through HTML begins or ends */
  WSIG Header;
  BYTE Reserved[4];
} CDHTMLBEGIN;

typedef struct { /* 0x63 */
  BSIG Header;
  BYTE RepeatMode;
  BYTE Reserved[49];
} CDBACKGROUNDPROPERTIES;

typedef struct { /* 0xB7 */
  BSIG Header;
  WORD LeftMargin;
  WORD Width;
  WORD Height;
  BYTE Reserved[20];
} CDLAYOUT;

typedef struct { /* 0xBA */
  BSIG Header;
  WORD Reserved;
  WORD Left;
  WORD Top;
  WORD Width;
  WORD Height;
  FONTID FontID;
  BYTE Reserved2[2];
  COLOR_VALUE BackColor;
  DWORD Flags;
  BYTE Reserved3[16];
} CDLAYOUTFIELD;

/* ---- Note-level records ---- */

typedef struct { /* 0xFF8B; Fonts CDFACEs follow */
  WSIG Header;
  WORD Fonts;
} CDFONTTABLE;

typedef struct { /* ODS type 120 */
  BYTE Face;
  BYTE Family;
  char Name[32]; /* NUL-terminated */
} CDFACE;

typedef struct { /* 0xFF8E; HeadLength bytes of text follow */
  WSIG Header;
  BYTE FontPitchAndFamily;
  char FontName[32];
  BYTE Reserved[3];
  FONTID Font;
  WORD HeadLength;
  WORD Reserved2;
} CDHEADER;

typedef struct { /* 0x86, 0x80 */
  BSIG Header;
  WORD PaperColor;
  WORD FormFlags;
  BYTE Reserved[8];
  WORD PaperColorExt;
  BYTE Reserved2[8];
} CDDOCUMENT;

/* An OLE object's class identifier. */
typedef struct OLE_GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
} OLE_GUID;

/* Flags of CDOLEOBJ_INFO. */
inline constexpr DWORD OLEOBJINFO_FLAG_SCRIPTED = 0x0001;
inline constexpr DWORD OLEOBJINFO_FLAG_RUNREADONLY = 0x0002;
inline constexpr DWORD OLEOBJINFO_FLAG_CONTROL = 0x0004;

/* The value of an "$OLEOBJINFO" item after its type word (0xFFC1). The
 * texts follow the fixed part: the object's file-object name, its
 * description and the name of the item that shows it. ObjectID is the
 * stand-in's database object holding the object's bytes. */
typedef struct {
  WSIG Header;
  WORD FileObjNameLength;
  WORD DescriptionNameLength;
  WORD FieldNameLength;
  WORD TextIndexObjNameLength;
  OLE_GUID OleObjClass;
  WORD StorageFormat;
  WORD DisplayFormat;
  DWORD Flags;
  DWORD ObjectID;
  DWORD ObjectSize;
  DWORD Reserved;
} CDOLEOBJ_INFO;

#pragma pack(pop)

// clang-format off
static_assert(sizeof(COLOR_VALUE) == 6);
static_assert(sizeof(LENGTH_VALUE) == 16);
static_assert(offsetof(LENGTH_VALUE, Length) == 4, "the double at 4-byte alignment");
static_assert(offsetof(LENGTH_VALUE, Units) == 12);
static_assert(sizeof(BSIG) == 2 && sizeof(WSIG) == 4 && sizeof(LSIG) == 8);
static_assert(offsetof(LSIG, Length) == 4);

static_assert(sizeof(CDTEXT) == 8 && sizeof(CDTEXTEFFECT) == 8);
static_assert(sizeof(CDPARAGRAPH) == 2 && sizeof(CDPABREFERENCE) == 4);
static_assert(offsetof(CDPABREFERENCE, PABID) == 2);
static_assert(sizeof(CDPABDEFINITION) == 72);
static_assert(offsetof(CDPABDEFINITION, PABID) == 4 && offsetof(CDPABDEFINITION, JustifyMode) == 6);
static_assert(offsetof(CDPABDEFINITION, LeftMargin) == 14 && offsetof(CDPABDEFINITION, RightMargin) == 16);
static_assert(offsetof(CDPABDEFINITION, FirstLineLeftMargin) == 18 && offsetof(CDPABDEFINITION, Tabs) == 20);
static_assert(offsetof(CDPABDEFINITION, Tab) == 22 && offsetof(CDPABDEFINITION, Flags) == 62);
static_assert(offsetof(CDPABDEFINITION, TabTypes) == 64 && offsetof(CDPABDEFINITION, Flags2) == 68);
static_assert(sizeof(_CDPABDEFEXT) == 92);
static_assert(offsetof(_CDPABDEFEXT, LeftMarginOffset) == 72 && offsetof(_CDPABDEFEXT, RightMarginPercent) == 82);
static_assert(offsetof(_CDPABDEFEXT, LeftMarginPercent) == 74 && offsetof(_CDPABDEFEXT, FirstLineLeftMarginOffset) == 76);
static_assert(offsetof(_CDPABDEFEXT, FirstLineLeftMarginPercent) == 78 && offsetof(_CDPABDEFEXT, RightMarginOffset) == 80);
static_assert(offsetof(_CDPABDEFEXT, ExtFlags) == 84 && offsetof(_CDPABDEFEXT, Flags3) == 88);
static_assert(sizeof(CDLARGEPARAGRAPH) == 16 && offsetof(CDLARGEPARAGRAPH, Flags) == 6);
static_assert(sizeof(CDHRULE) == 16 && offsetof(CDHRULE, Width) == 8 && offsetof(CDHRULE, Color) == 12);
static_assert(sizeof(CDANCHOR) == 12 && offsetof(CDANCHOR, NameLength) == 4);
static_assert(sizeof(CDPABHIDE) == 14 && offsetof(CDPABHIDE, PABID) == 4);
static_assert(sizeof(CDPABFORMULAREF) == 6 && offsetof(CDPABFORMULAREF, SecondPABID) == 4);
static_assert(sizeof(CDSTYLENAME) == 48 && offsetof(CDSTYLENAME, PABID) == 8);
static_assert(offsetof(CDSTYLENAME, StyleName) == 10);
static_assert(sizeof(CDCOLOR) == 8 && offsetof(CDCOLOR, Color) == 2);

static_assert(sizeof(CDBEGINRECORD) == 6 && offsetof(CDBEGINRECORD, Signature) == 4);
static_assert(sizeof(CDENDRECORD) == 6 && offsetof(CDENDRECORD, Version) == 2);

static_assert(sizeof(CDTABLEBEGIN) == 14 && offsetof(CDTABLEBEGIN, HorizInterCellSpace) == 8);
static_assert(offsetof(CDTABLEBEGIN, Flags) == 12);
static_assert(sizeof(CDTABLECELL) == 18);
static_assert(offsetof(CDTABLECELL, Row) == CDTABLECELL_ROW_OFFSET);
static_assert(offsetof(CDTABLECELL, Column) == CDTABLECELL_COLUMN_OFFSET);
static_assert(offsetof(CDTABLECELL, LeftMargin) == 4 && offsetof(CDTABLECELL, RightMargin) == 6);
static_assert(offsetof(CDTABLECELL, BorderWidths) == 10 && offsetof(CDTABLECELL, Flags) == 11);
static_assert(offsetof(CDTABLECELL, V42Border) == 12 && offsetof(CDTABLECELL, RowSpan) == 14);
static_assert(offsetof(CDTABLECELL, ColumnSpan) == 15 && offsetof(CDTABLECELL, BackgroundColor) == 16);
static_assert(sizeof(CDTABLEEND) == 8);
static_assert(sizeof(CDPRETABLEBEGIN) == 48 && offsetof(CDPRETABLEBEGIN, RowDisplay) == 20);
static_assert(offsetof(CDPRETABLEBEGIN, MinRowHeight) == 22 && offsetof(CDPRETABLEBEGIN, BodyColor) == 28);
static_assert(offsetof(CDPRETABLEBEGIN, TableColor) == 32 && offsetof(CDPRETABLEBEGIN, CellBorderColor) == 36);
static_assert(offsetof(CDPRETABLEBEGIN, NameLength) == 42);
static_assert(sizeof(CDTABLEDATAEXTENSION) == 48 && offsetof(CDTABLEDATAEXTENSION, TabsEqual) == 12);
static_assert(offsetof(CDTABLEDATAEXTENSION, TabIndent) == 14 && offsetof(CDTABLEDATAEXTENSION, TabFontPartSize) == 40);
static_assert(sizeof(CDTABLELABEL) == 140 && offsetof(CDTABLELABEL, Flags) == 138);
static_assert(sizeof(CDTABLECELLDATA) == 20 && offsetof(CDTABLECELLDATA, Signature) == 4);
static_assert(offsetof(CDTABLECELLDATA, Reserved2) == 8 && offsetof(CDTABLECELLDATA, First) == 12);
static_assert(offsetof(CDTABLECELLDATA, Second) == 16);
static_assert(sizeof(CDTIMERINFO) == 16 && offsetof(CDTIMERINFO, Interval) == 4);
static_assert(sizeof(CDROWHEIGHT) == 4 && offsetof(CDROWHEIGHT, Height) == 2);
static_assert(sizeof(CDTABRECORD) == 16 && offsetof(CDTABRECORD, Kind) == 12);
static_assert(sizeof(CDBORDERINFO) == 60 && offsetof(CDBORDERINFO, BorderStyle) == 8);
static_assert(offsetof(CDBORDERINFO, BorderWidthRight) == 16 && offsetof(CDBORDERINFO, BorderFlags) == 24);
static_assert(offsetof(CDBORDERINFO, DropShadowWidth) == 26 && offsetof(CDBORDERINFO, InnerWidthTop) == 28);
static_assert(offsetof(CDBORDERINFO, InnerWidthLeft) == 30 && offsetof(CDBORDERINFO, InnerWidthRight) == 34);
static_assert(offsetof(CDBORDERINFO, OuterWidthTop) == 36 && offsetof(CDBORDERINFO, OuterWidthRight) == 42);
static_assert(offsetof(CDBORDERINFO, Color) == 44);

static_assert(sizeof(CDHOTSPOTBEGIN) == 16);
static_assert(offsetof(CDHOTSPOTBEGIN, Type) == CDHOTSPOTBEGIN_TYPE_OFFSET);
static_assert(offsetof(CDHOTSPOTBEGIN, Flags) == CDHOTSPOTBEGIN_FLAGS_OFFSET);
static_assert(offsetof(CDHOTSPOTBEGIN, DataLength) == 12);
static_assert(sizeof(CDHOTSPOTEND) == 2);
static_assert(sizeof(CDBUTTON) == 16 && offsetof(CDBUTTON, Width) == 6 && offsetof(CDBUTTON, FontID) == 12);
static_assert(sizeof(CDBAR) == 12 && offsetof(CDBAR, FontID) == 8);
static_assert(sizeof(CDLINK2) == 6 && sizeof(CDLINKEXPORT2) == 44);
static_assert(offsetof(CDLINKEXPORT2, NoteLink) == 4);
static_assert(sizeof(CDRESOURCE) == 28, "26 bytes of fields, 2 bytes of host padding");
static_assert(offsetof(CDRESOURCE, Flags) == 4 && offsetof(CDRESOURCE, Type) == 8);
static_assert(offsetof(CDRESOURCE, ResourceClass) == 10 && offsetof(CDRESOURCE, Length1) == 12);
static_assert(offsetof(CDRESOURCE, ServerHintLength) == 14 && offsetof(CDRESOURCE, FileHintLength) == 16);
static_assert(offsetof(CDRESOURCE, Reserved) + sizeof(CDRESOURCE::Reserved) == 26);
static_assert(sizeof(CDTARGET) == 12 && offsetof(CDTARGET, TargetLength) == 4);
static_assert(sizeof(CDEVENT) == 32 && offsetof(CDEVENT, EventType) == 8);
static_assert(offsetof(CDEVENT, ActionType) == 10 && offsetof(CDEVENT, ActionLength) == 12);
static_assert(sizeof(CDBLOBPART) == 18 && offsetof(CDBLOBPART, Length) == 6 && offsetof(CDBLOBPART, BlobMax) == 8);
static_assert(sizeof(CDIDNAME) == 26 && offsetof(CDIDNAME, NameLength) == 14);
static_assert(sizeof(CDMAPELEMENT) == 36 && offsetof(CDMAPELEMENT, MapNameLength) == 8);
static_assert(offsetof(CDMAPELEMENT, LastPolyRegionID) == 16);
static_assert(sizeof(CDAREAELEMENT) == 32 && offsetof(CDAREAELEMENT, TabIndex) == 10);
static_assert(sizeof(CDEMBEDDEDCTL) == 36 && offsetof(CDEMBEDDEDCTL, Width) == 8);
static_assert(offsetof(CDEMBEDDEDCTL, MaxLines) == 14);
static_assert(sizeof(CDEMBEDDEDCONTROL) == 64 && offsetof(CDEMBEDDEDCONTROL, Flags) == 8);
static_assert(offsetof(CDEMBEDDEDCONTROL, Width) == 12 && offsetof(CDEMBEDDEDCONTROL, TextFont) == 16);
static_assert(offsetof(CDEMBEDDEDCONTROL, Colors) == 38);
static_assert(offsetof(CDEMBEDDEDCONTROL, Sub1Font) == 28 && offsetof(CDEMBEDDEDCONTROL, Sub2Font) == 32);

static_assert(sizeof(CDFIELD) == 40 && offsetof(CDFIELD, DataType) == 6);
static_assert(offsetof(CDFIELD, ListDelim) == 8 && offsetof(CDFIELD, NumberFormat) == 11);
static_assert(offsetof(CDFIELD, DateFormat) == 14 && offsetof(CDFIELD, TimeDateDisplay) == 17);
static_assert(offsetof(CDFIELD, FontID) == 20 && offsetof(CDFIELD, DVLength) == 24);
static_assert(offsetof(CDFIELD, TabOrder) == 28 && offsetof(CDFIELD, VFLength) == 30);
static_assert(offsetof(CDFIELD, NameLength) == 32 && offsetof(CDFIELD, TextValueLength) == 36);
static_assert(sizeof(CDEXTFIELD) == 20 && offsetof(CDEXTFIELD, Flags2) == 8);
static_assert(sizeof(CDEXT2FIELD) == 88 && offsetof(CDEXT2FIELD, CurrencyFlags) == 8);
static_assert(offsetof(CDEXT2FIELD, ISOCountry) == 40 && offsetof(CDEXT2FIELD, DTYearFormat) == 44);
static_assert(offsetof(CDEXT2FIELD, DTTimeDisplay) == 49 && offsetof(CDEXT2FIELD, DTFlags) == 50);

static_assert(sizeof(CDGRAPHIC) == 32 && offsetof(CDGRAPHIC, DestWidth) == 8);
static_assert(offsetof(CDGRAPHIC, Resize) == 24 && offsetof(CDGRAPHIC, Version) == 26);
static_assert(offsetof(CDGRAPHIC, Flags) == 27);
static_assert(sizeof(CDIMAGEHEADER) == 32 && offsetof(CDIMAGEHEADER, Width) == 10);
static_assert(offsetof(CDIMAGEHEADER, ImageDataSize) == 16 && offsetof(CDIMAGEHEADER, SegCount) == 20);
static_assert(sizeof(CDIMAGESEGMENT) == 12 && offsetof(CDIMAGESEGMENT, SegSize) == 10);
static_assert(sizeof(CDBITMAPHEADER) == 40 && offsetof(CDBITMAPHEADER, Width) == 24);
static_assert(sizeof(CDFILEHEADER) == 28 && offsetof(CDFILEHEADER, FileDataSize) == 12);
static_assert(sizeof(CDFILESEGMENT) == 20 && offsetof(CDFILESEGMENT, DataSize) == 8);
static_assert(sizeof(CDSTORAGELINK) == 24 && offsetof(CDSTORAGELINK, Length) == 10);
static_assert(sizeof(CDALTTEXT) == 12 && offsetof(CDALTTEXT, Length) == 4);
static_assert(sizeof(CDCAPTION) == 32 && offsetof(CDCAPTION, FontID) == 8);
static_assert(offsetof(CDCAPTION, FontColor) == 12);
static_assert(sizeof(CDVERTICALALIGN) == 4 && sizeof(CDFLOAT) == 4);
static_assert(sizeof(CDBACKGROUNDREPEAT) == 12 && offsetof(CDBACKGROUNDREPEAT, Repeat) == 4);
static_assert(sizeof(CDEMBEDDEDTAIL) == 32 && offsetof(CDEMBEDDEDTAIL, Flags) == 4);
static_assert(sizeof(CDEMBEDDEDEDITOR) == 64 && offsetof(CDEMBEDDEDEDITOR, LabelLength) == 8);

static_assert(sizeof(CDPOSITIONING) == 88 && offsetof(CDPOSITIONING, ZIndex) == 4);
static_assert(offsetof(CDPOSITIONING, Top) == 8 && offsetof(CDPOSITIONING, Left) == 24);
static_assert(offsetof(CDPOSITIONING, Bottom) == 40 && offsetof(CDPOSITIONING, Right) == 56);
static_assert(offsetof(CDPOSITIONING, BrowserLeftOffset) == 72);
static_assert(offsetof(CDPOSITIONING, BrowserRightOffset) == 80);
static_assert(sizeof(CDBOXSIZE) == 116 && offsetof(CDBOXSIZE, Width) == 4);
static_assert(offsetof(CDBOXSIZE, Height) == 20);
static_assert(sizeof(CDBACKGROUNDPROPERTIES) == 52);
static_assert(sizeof(CDLAYER) == 20 && sizeof(CDHTMLBEGIN) == 8);
static_assert(sizeof(CDLAYOUT) == 28 && offsetof(CDLAYOUT, Height) == 6);
static_assert(sizeof(CDLAYOUTFIELD) == 44 && offsetof(CDLAYOUTFIELD, FontID) == 12);
static_assert(offsetof(CDLAYOUTFIELD, BackColor) == 18 && offsetof(CDLAYOUTFIELD, Flags) == 24);

static_assert(sizeof(CDFONTTABLE) == 6 && sizeof(CDFACE) == 34);
static_assert(sizeof(CDHEADER) == 48 && offsetof(CDHEADER, FontName) == 5);
static_assert(offsetof(CDHEADER, Font) == 40 && offsetof(CDHEADER, HeadLength) == 44);
static_assert(sizeof(CDDOCUMENT) == 24 && offsetof(CDDOCUMENT, PaperColorExt) == 14);
static_assert(sizeof(OLE_GUID) == 16);
static_assert(sizeof(CDOLEOBJ_INFO) == 48 && offsetof(CDOLEOBJ_INFO, OleObjClass) == 12);
static_assert(offsetof(CDOLEOBJ_INFO, DisplayFormat) == 30 && offsetof(CDOLEOBJ_INFO, Flags) == 32);
// clang-format on

#endif
