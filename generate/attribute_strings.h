/*
 * Attribute strings of records: writing the key=value words of a record's
 * properties (the Calculate family) and changing a record's fields from a
 * property string (the Apply family).
 *
 * A query names a property by its index in the settable-property list of
 * the chunk's target type; the index equal to the list's length (the "all"
 * id) asks for every property the record holds. The Calculate functions
 * share an array of written flags, indexed by property id, that the caller
 * clears once per answer text: a key whose flag is set is not written
 * again, so a record family that spans several records (a table's
 * CDPRETABLEBEGIN and CDTABLEBEGIN) answers each key once. Texts are
 * appended through the attribute text writer; a key that would not fit is
 * left out and the writer's status says so.
 *
 * Records are in host form (header included) and are never read or written
 * past the length or capacity the caller gives. Values that carry document
 * text are quoted with the delimiter ChooseDelimiter picks, so a value that
 * holds an apostrophe reads back whole.
 *
 * The records themselves are emitted by the generators and the chunk
 * engine, not here.
 */
#ifndef VELKO_GENERATE_ATTRIBUTE_STRINGS_H
#define VELKO_GENERATE_ATTRIBUTE_STRINGS_H

#include "generate/attribute_text.h"
#include "host/cdrecords.h"
#include "velko/velko.h"

struct record_storage;

/* Property ids of the target types the Calculate family answers. */
enum : WORD {
  kTablePropTableWidth = 0,
  kTablePropRowDisplay = 1,
  kTablePropRowCycleMilliseconds = 2,
  kTablePropTransition = 3,
  kTablePropCellBorderStyle = 4,
  kTablePropCellBorderColor = 5,
  kTablePropTableColorStyle = 6,
  kTablePropTableColor = 7,
  kTablePropTableBodyColor = 8,
  kTablePropBorderStyle = 9,
  kTablePropBorderColor = 10,
  kTablePropBorderEffects = 11,
  kTablePropBorderShadow = 12,
  kTablePropBorderThicknessLeft = 13,
  kTablePropBorderThicknessTop = 14,
  kTablePropBorderThicknessRight = 15,
  kTablePropBorderThicknessBottom = 16,
  kTablePropR4Spacing = 17,
  kTablePropTableName = 18,
  kTablePropHTMLId = 19, /* the first of the six IDNAME parts */
  kTablePropTabSide = 25,
  kTablePropTabsEqual = 26,
  kTablePropTabsIndent = 27,
  kTablePropTabFont = 28,
  kTablePropAll = 29,
};

enum : WORD {
  kGraphicPropAltText = 0,
  kGraphicPropCaption = 1,
  kGraphicPropHTMLId = 2,
  kGraphicPropBorder = 8,
  kGraphicPropAll = 17,
};

enum : WORD {
  kLayerPropTop = 0,
  kLayerPropLeft = 1,
  kLayerPropHTMLId = 2,
  kLayerPropScheme = 8,
  kLayerPropZIndex = 9,
  kLayerPropBrowserLeftOffset = 10,
  kLayerPropBrowserRightOffset = 11,
  kLayerPropBackgroundImage = 12,
  kLayerPropBackgroundRepeat = 13,
  kLayerPropBackgroundColor = 14,
  kLayerPropWidth = 15,
  kLayerPropHeight = 16,
  kLayerPropAll = 17,
};

enum : WORD {
  kHRulePropFitToWindow = 0,
  kHRulePropHTMLId = 1,
  kHRulePropNo3DShadow = 7,
  kHRulePropColor = 8,
  kHRulePropGradientColor = 9,
  kHRulePropWidth = 10,
  kHRulePropHeight = 11,
  kHRulePropAll = 12,
};

enum : WORD {
  kImageMapPropMapName = 0,
  kImageMapPropAll = 1,
};

enum : WORD {
  kHotspotPropShape = 6,
  kHotspotPropTabIndex = 7,
  kHotspotPropAll = 8,
};

/* Written flags an answer needs at most: one per id of the longest
 * property list, its "all" id included. */
constexpr int kAttributeFlagCount = 32;

/* The border styles by name; GRAPHIC is a second name of IMAGE. */
struct border_style_choice {
  const char* name;
  WORD style;
};
constexpr int kBorderStyleChoiceCount = 12;
extern const border_style_choice BorderStyleChoices[kBorderStyleChoiceCount];

/* The status of a text that does not fit its record. */
constexpr STATUS kAttributeRecordFull = 1028;

/* Largest record the Apply family builds (the emitter's body buffer). */
constexpr DWORD kAttributeRecordLimit = 64382;

/* ---- the Calculate family ----
 *
 * Each appends to out the keys of property id that the record holds and
 * returns 0 (the tab font's writer returns the font writer's status).
 * record is the whole record (length bytes, host form); a null record, one
 * shorter than its fixed part or one of another signature writes nothing.
 * The functions taking a node read the node's record and, for the rule's
 * colour, the record after it. */

STATUS CalculateLayerAttributesPOSITIONINGString(const void* record, DWORD length,
                                                 attribute_text* out, WORD id, DWORD* written);
STATUS CalculateLayerAttributesBOXSIZEString(const void* record, DWORD length, attribute_text* out,
                                             WORD id, DWORD* written);
/* Background properties are not answered: writes nothing. */
STATUS CalculateLayerAttributesBACKGROUNDPROPERTIESString(const void* record, DWORD length,
                                                          attribute_text* out, WORD id,
                                                          DWORD* written);

/* clientPreference names the basic colours (1: the host's names, 0: web
 * names). */
STATUS CalculateHRuleAttributesString(const record_storage* node, attribute_text* out, WORD id,
                                      DWORD* written, WORD clientPreference);
STATUS CalculateMapElementAttributesString(const record_storage* node, attribute_text* out, WORD id,
                                           DWORD* written);
STATUS CalculateAreaElementAttributesString(const record_storage* node, attribute_text* out,
                                            WORD id, DWORD* written);

STATUS CalculateTableAttributesPRETABLEString(const void* record, DWORD length, attribute_text* out,
                                              WORD id, DWORD* written, WORD clientPreference);
/* The tab font's face name comes from the item's font table (none when
 * item is null). */
STATUS CalculateTableAttributesTABLEDATAEXTENSIONString(const void* record, DWORD length,
                                                        attribute_text* out, WORD id,
                                                        DWORD* written, VelkoRTItem* item);
STATUS CalculateTableAttributesTABLEBEGINString(const void* record, DWORD length,
                                                attribute_text* out, WORD id, DWORD* written);
STATUS CalculateTableAttributesTIMERINFOString(const void* record, DWORD length,
                                               attribute_text* out, WORD id, DWORD* written);

STATUS CalculateGraphicAttributesALTTEXTString(const void* record, DWORD length,
                                               attribute_text* out, WORD id, DWORD* written);
STATUS CalculateGraphicAttributesCAPTIONString(const void* record, DWORD length,
                                               attribute_text* out, WORD id, DWORD* written);
/* A CDBORDERINFO, written with the keys ApplyPropertiesToBorderRecord
 * reads. */
STATUS CalculateGraphicAttributesBORDERString(const void* record, DWORD length, attribute_text* out,
                                              WORD id, DWORD* written);

/* The six parts of a CDIDNAME as "<prefix>HTMLId='...' " and so on. The
 * parts' ids are firstId to firstId + 5; allId asks for every non-empty
 * part. Nothing is written when any of the six flags is already set. */
STATUS CalculateAttributesIDNAMEString(const void* record, DWORD length, attribute_text* out,
                                       const char* prefix, WORD id, WORD firstId, WORD allId,
                                       DWORD* written);

/* ---- the Apply family ----
 *
 * Each changes the fields of record (a buffer of capacity bytes holding
 * the record, or to be initialised as one) from the keys present in
 * properties. With initialise non-zero the record first gets its defaults;
 * with 0 only the keys present change it. Values not recognised are
 * ignored. */

/* A CDHRULE (0xFFC9) or its colour record (0xD2, which needs 14 bytes of
 * capacity for a gradient). Returns 0. */
STATUS ApplyPropertiesToHRuleRecord(LSXLsiSession* session, WORD signature, void* record,
                                    DWORD capacity, const char* properties, DWORD initialise);

/* Builds the CDIDNAME record (header and six parts) in record from the
 * keys "<prefix>HTMLID=" ... "<prefix>HTMLName=" (or "<prefix>Name="),
 * keeping each absent part of existing (a CDIDNAME of existingLength
 * bytes, or null), and appends extraOther (null: none) to the other part.
 * record and existing may be the same buffer. Returns 1 when a part
 * changed, else 0. *status (when given) becomes kAttributeRecordFull, with
 * record unchanged, when the result would not fit capacity or the record
 * limit, else 0. */
DWORD ApplyPropertiesToIDNAMERecord(LSXLsiSession* session, void* record, DWORD capacity,
                                    const void* existing, DWORD existingLength, const char* prefix,
                                    const char* properties, const char* extraOther, STATUS* status);

/* A CDPRETABLEBEGIN, CDTABLEDATAEXTENSION, CDTABLEBEGIN (0xA3, 0xCF) or
 * CDBORDERINFO; other signatures are left alone. The tab font's face name
 * resolves against the item's font table (item may be null). Returns the
 * font parser's status for a tab font that does not parse,
 * kAttributeRecordFull (record unchanged) for a table name that does not
 * fit capacity, else 0. */
STATUS ApplyPropertiesToTableRecord(LSXLsiSession* session, VelkoRTItem* item, WORD signature,
                                    void* record, DWORD capacity, const char* properties,
                                    DWORD initialise);

/* A CDBORDERINFO (0xFFFC) only. Returns 0. */
STATUS ApplyPropertiesToBorderRecord(LSXLsiSession* session, WORD signature, void* record,
                                     DWORD capacity, const char* properties, DWORD initialise);

/* Graphic records take no properties: changes nothing and returns 0. */
STATUS ApplyPropertiesToGraphicRecord(LSXLsiSession* session, WORD signature, void* record,
                                      DWORD capacity, const char* properties, DWORD initialise);

#endif
