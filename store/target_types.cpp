/*
 * Target types: their ids and names, the per-type record tests with which
 * the engine recognises where a target begins and ends, and the small
 * lookups over them (type by name, name by type, the quote character of a
 * property value, the hotspot signature tests).
 *
 * Applying a row's tests to a record list is the engine's work, not this
 * file's.
 */
#include <string.h>

#include "host/cdrecords.h"
#include "store/vocabulary.h"

// clang-format off
const char* const targettype_name_table[kTargetTypeCount] = {
    "Everything",   "Table",         "Hotspot",       "Button",         "Section",
    "Row",          "Column",        "File",          "Doclink",        "Text",
    "StylizedText", "RawText",       "Record",        "OleObject",      "Anchor",
    "Graphic",      "Hyperlink",     "ActionHotspot", "Popup",          "Field",
    "Event",        "Paragraph",     "XML",           "Subform",        "ComputedText",
    "HTML",         "XHTML",         "HR",            "PassthruHTML",   "Layer",
    "LayoutRegion", "URLLink",       "ImageMap",      "GraphicHotspot", "Ignored",
    "NonBlankText", "ParagraphList", "DelimitedHTML",
};
// clang-format on

namespace {

constexpr target_discriminator kNoDiscriminator = {0, 0, {}};
constexpr target_mask_test kNoMaskTest = {0, 0, {}};

/* The hotspot type word of the start record must be one of the values. */
constexpr target_discriminator HotspotTypeIs(uint16_t a, uint16_t b = 0, uint16_t c = 0) {
  uint16_t count = b == 0 ? 1 : (c == 0 ? 2 : 3);
  return {CDHOTSPOTBEGIN_TYPE_OFFSET, count, {a, b, c, 0}};
}

/* One mask over the 32-bit hotspot flags of the start record. */
constexpr target_mask_test HotspotFlagsTest(uint32_t mask) {
  return {CDHOTSPOTBEGIN_FLAGS_OFFSET, 1, {mask, 0, 0}};
}

} // namespace

/* Row = id - 1. The hotspot family (Button, Section, File, Hyperlink,
 * ActionHotspot, Popup, Subform, ComputedText, URLLink) is told apart by the
 * hotspot type word and, for Popup, ComputedText and URLLink, by the hotspot
 * flags. The Text row holds CDTEXT twice in its start list where its sister
 * rows hold the bidi text run. */
// clang-format off
const target_parameter target_parameter_table[kTargetTypeCount - 1] = {
    {TARGETTYPE_TABLE,
     {SIG_CD_TABLEBEGIN, SIG_CD_PRETABLEBEGIN, SIG_CD_NESTEDTABLEBEGIN},
     {SIG_CD_TABLEBEGIN, SIG_CD_PRETABLEBEGIN, SIG_CD_NESTEDTABLEBEGIN},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_TABLEEND, SIG_CD_NESTEDTABLEEND},
     {SIG_CD_TABLEBEGIN, SIG_CD_TABLEEND, SIG_CD_TABLECELL, SIG_CD_PRETABLEBEGIN,
      SIG_CD_NESTEDTABLEBEGIN, SIG_CD_NESTEDTABLECELL, SIG_CD_NESTEDTABLEEND},
     {1, 0, 0, 0}},
    {TARGETTYPE_HOTSPOT,
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_RESOURCELINKBEGIN, SIG_CD_ALTHOTSPOTBEGIN},
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_RESOURCELINKBEGIN, SIG_CD_ALTHOTSPOTBEGIN},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_V4HOTSPOTEND, SIG_CD_HOTSPOTEND},
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_V4HOTSPOTEND, SIG_CD_HOTSPOTEND},
     {1, 0, 0, 0}},
    {TARGETTYPE_BUTTON,
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_RESOURCELINKBEGIN, SIG_CD_ALTHOTSPOTBEGIN},
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_RESOURCELINKBEGIN, SIG_CD_ALTHOTSPOTBEGIN},
     0, HotspotTypeIs(3), kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_V4HOTSPOTEND, SIG_CD_HOTSPOTEND},
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_V4HOTSPOTEND, SIG_CD_HOTSPOTEND},
     {1, 0, 0, 0}},
    {TARGETTYPE_SECTION,
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_RESOURCELINKBEGIN, SIG_CD_ALTHOTSPOTBEGIN},
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_RESOURCELINKBEGIN, SIG_CD_ALTHOTSPOTBEGIN},
     0, HotspotTypeIs(12, 7, 13), kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_V4HOTSPOTEND, SIG_CD_HOTSPOTEND},
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_V4HOTSPOTEND, SIG_CD_HOTSPOTEND,
      SIG_CD_SECTIONBAR},
     {1, 0, 0, 0}},
    {TARGETTYPE_ROW,
     {SIG_CD_TABLECELL, SIG_CD_NESTEDTABLECELL},
     {SIG_CD_TABLECELL, SIG_CD_NESTEDTABLECELL},
     CDTABLECELL_ROW_OFFSET, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_TABLECELL, SIG_CD_TABLEEND, SIG_CD_NESTEDTABLECELL, SIG_CD_NESTEDTABLEEND},
     {SIG_CD_TABLECELL, SIG_CD_NESTEDTABLECELL},
     {0, 0, 1, 0}},
    {TARGETTYPE_COLUMN,
     {SIG_CD_TABLECELL, SIG_CD_NESTEDTABLECELL},
     {SIG_CD_TABLECELL, SIG_CD_NESTEDTABLECELL},
     CDTABLECELL_COLUMN_OFFSET, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_TABLECELL, SIG_CD_TABLEEND, SIG_CD_NESTEDTABLECELL, SIG_CD_NESTEDTABLEEND},
     {SIG_CD_TABLECELL, SIG_CD_NESTEDTABLECELL},
     {0, 0, 1, 0}},
    {TARGETTYPE_FILE,
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_RESOURCELINKBEGIN, SIG_CD_ALTHOTSPOTBEGIN},
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_RESOURCELINKBEGIN, SIG_CD_ALTHOTSPOTBEGIN},
     0, HotspotTypeIs(4), kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_V4HOTSPOTEND, SIG_CD_HOTSPOTEND},
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_V4HOTSPOTEND, SIG_CD_HOTSPOTEND},
     {1, 0, 0, 0}},
    {TARGETTYPE_DOCLINK,
     {SIG_CD_DOCLINK, SIG_CD_LINK},
     {SIG_CD_DOCLINK, SIG_CD_LINK},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_DOCLINK, SIG_CD_LINK},
     {},
     {1, 1, 1, 0}},
    {TARGETTYPE_TEXT,
     {SIG_CD_TEXT, SIG_CD_TEXTEFFECT, SIG_CD_TEXT, SIG_CD_BIDI_TEXTEFFECT},
     {SIG_CD_TEXT, SIG_CD_BIDI_TEXT},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_TEXT, SIG_CD_BIDI_TEXT},
     {SIG_CD_TEXT, SIG_CD_BIDI_TEXT},
     {1, 1, 1, 0}},
    {TARGETTYPE_STYLIZEDTEXT,
     {SIG_CD_TEXT, SIG_CD_TEXTEFFECT, SIG_CD_BIDI_TEXT, SIG_CD_BIDI_TEXTEFFECT},
     {SIG_CD_TEXT, SIG_CD_BIDI_TEXT},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_TEXT, SIG_CD_BIDI_TEXT},
     {SIG_CD_TEXT, SIG_CD_PABREFERENCE, SIG_CD_PARAGRAPH, SIG_CD_PABDEFINITION, SIG_CD_BIDI_TEXT},
     {1, 0, 1, 0}},
    {TARGETTYPE_RAWTEXT,
     {SIG_CD_TEXT, SIG_CD_BIDI_TEXT},
     {SIG_CD_TEXT, SIG_CD_BIDI_TEXT},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_TEXT, SIG_CD_BIDI_TEXT},
     {SIG_CD_TEXT, SIG_CD_BIDI_TEXT},
     {1, 1, 1, 0}},
    {TARGETTYPE_RECORD,
     {},
     {},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {},
     {},
     {1, 1, 0, 0}},
    {TARGETTYPE_OLEOBJECT,
     {SIG_CD_OLEBEGIN},
     {SIG_CD_OLEBEGIN},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_OLEEND},
     {SIG_CD_OLEBEGIN, SIG_CD_OLEEND},
     {1, 0, 0, 0}},
    {TARGETTYPE_ANCHOR,
     {SIG_CD_ANCHOR},
     {SIG_CD_ANCHOR},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_ANCHOR},
     {SIG_CD_ANCHOR},
     {1, 1, 1, 0}},
    {TARGETTYPE_GRAPHIC,
     {SIG_CD_GRAPHIC},
     {SIG_CD_GRAPHIC},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_GRAPHIC, SIG_CD_TEXT, SIG_CD_PARAGRAPH, SIG_CD_HOTSPOTEND, SIG_CD_V4HOTSPOTEND,
      SIG_CD_MAPELEMENT, SIG_CD_LARGEPARAGRAPH},
     {},
     {1, 0, 1, 0}},
    {TARGETTYPE_HYPERLINK,
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_RESOURCELINKBEGIN, SIG_CD_ALTHOTSPOTBEGIN},
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_RESOURCELINKBEGIN, SIG_CD_ALTHOTSPOTBEGIN},
     0, HotspotTypeIs(11, 32), kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_V4HOTSPOTEND, SIG_CD_HOTSPOTEND},
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_V4HOTSPOTEND, SIG_CD_HOTSPOTEND},
     {1, 0, 0, 0}},
    {TARGETTYPE_ACTIONHOTSPOT,
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_RESOURCELINKBEGIN, SIG_CD_ALTHOTSPOTBEGIN},
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_RESOURCELINKBEGIN, SIG_CD_ALTHOTSPOTBEGIN},
     0, HotspotTypeIs(2), kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_V4HOTSPOTEND, SIG_CD_HOTSPOTEND},
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_V4HOTSPOTEND, SIG_CD_HOTSPOTEND},
     {1, 0, 0, 0}},
    {TARGETTYPE_POPUP,
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_RESOURCELINKBEGIN, SIG_CD_ALTHOTSPOTBEGIN},
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_RESOURCELINKBEGIN, SIG_CD_ALTHOTSPOTBEGIN},
     0, HotspotTypeIs(1, 22), HotspotFlagsTest(0x40000), kNoMaskTest,
     {}, {},
     {SIG_CD_V4HOTSPOTEND, SIG_CD_HOTSPOTEND},
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_V4HOTSPOTEND, SIG_CD_HOTSPOTEND},
     {1, 0, 0, 0}},
    {TARGETTYPE_FIELD,
     {SIG_CD_FIELD, SIG_CD_EXT2FIELD, SIG_CD_EMBEDDEDCTL},
     {SIG_CD_FIELD, SIG_CD_EMBEDDEDCTL, SIG_CD_EXT2FIELD},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_FIELD, SIG_CD_EXTFIELD, SIG_CD_EXT2FIELD, SIG_CD_EMBEDDEDCTL},
     {SIG_CD_FIELD, SIG_CD_EXTFIELD, SIG_CD_EXT2FIELD, SIG_CD_EMBEDDEDCTL},
     {1, 1, 0, 0}},
    {TARGETTYPE_EVENT,
     {SIG_CD_EVENT},
     {SIG_CD_EVENT},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_END, SIG_CD_FIELD, SIG_CD_EMBEDDEDCTL, SIG_CD_TEXT, SIG_CD_AREAELEMENT,
      SIG_CD_BIDI_TEXT},
     {},
     {1, 0, 1, 0}},
    {TARGETTYPE_PARAGRAPH,
     {SIG_CD_PARAGRAPH, SIG_CD_PABREFERENCE, SIG_CD_PABDEFINITION},
     {},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_TABLEEND, SIG_CD_NESTEDTABLEEND, SIG_CD_TABLECELL, SIG_CD_NESTEDTABLECELL},
     {SIG_CD_PARAGRAPH, SIG_CD_PABREFERENCE, SIG_CD_PABDEFINITION, SIG_CD_PABFORMULAREF,
      SIG_CD_PABHIDE},
     {1, 0, 1, 0}},
    {TARGETTYPE_XML,
     {SIG_CD_TEXT, SIG_CD_TEXTEFFECT, SIG_CD_BIDI_TEXT, SIG_CD_BIDI_TEXTEFFECT},
     {SIG_CD_TEXT, SIG_CD_BIDI_TEXT},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {"<?xml", "<xml"}, {"<!-- /xml", "</xml>"},
     {SIG_CD_TEXT, SIG_CD_BIDI_TEXT},
     {SIG_CD_TEXT, SIG_CD_TEXTEFFECT, SIG_CD_BIDI_TEXT, SIG_CD_BIDI_TEXTEFFECT},
     {1, 0, 0, 0}},
    {TARGETTYPE_SUBFORM,
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_RESOURCELINKBEGIN, SIG_CD_ALTHOTSPOTBEGIN},
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_RESOURCELINKBEGIN, SIG_CD_ALTHOTSPOTBEGIN},
     0, HotspotTypeIs(14), kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_V4HOTSPOTEND, SIG_CD_HOTSPOTEND},
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_V4HOTSPOTEND, SIG_CD_HOTSPOTEND},
     {1, 0, 0, 0}},
    {TARGETTYPE_COMPUTEDTEXT,
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_RESOURCELINKBEGIN, SIG_CD_ALTHOTSPOTBEGIN},
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_RESOURCELINKBEGIN, SIG_CD_ALTHOTSPOTBEGIN},
     0, HotspotTypeIs(1), kNoMaskTest, HotspotFlagsTest(0x40000),
     {}, {},
     {SIG_CD_V4HOTSPOTEND, SIG_CD_HOTSPOTEND},
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_V4HOTSPOTEND, SIG_CD_HOTSPOTEND},
     {1, 0, 0, 0}},
    {TARGETTYPE_HTML,
     {SIG_CD_TEXT, SIG_CD_TEXTEFFECT, SIG_CD_BIDI_TEXT, SIG_CD_BIDI_TEXTEFFECT},
     {SIG_CD_TEXT, SIG_CD_BIDI_TEXT},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {"<html", "<!DOCTYPE html "}, {"</html>"},
     {SIG_CD_TEXT, SIG_CD_BIDI_TEXT},
     {SIG_CD_TEXT, SIG_CD_BIDI_TEXT},
     {1, 0, 0, 0}},
    {TARGETTYPE_XHTML,
     {SIG_CD_TEXT, SIG_CD_TEXTEFFECT, SIG_CD_BIDI_TEXT, SIG_CD_BIDI_TEXTEFFECT},
     {SIG_CD_TEXT, SIG_CD_BIDI_TEXT},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {"<!DOCTYPE xhtml "}, {"</html>"},
     {SIG_CD_TEXT, SIG_CD_BIDI_TEXT},
     {SIG_CD_TEXT, SIG_CD_BIDI_TEXT},
     {1, 0, 0, 0}},
    {TARGETTYPE_HR,
     {SIG_CD_HRULE},
     {SIG_CD_HRULE},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_HRULE},
     {SIG_CD_HRULE},
     {1, 1, 1, 0}},
    {TARGETTYPE_PASSTHRUHTML,
     {SIG_CD_HTMLBEGIN},
     {SIG_CD_HTMLBEGIN},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_HTMLEND},
     {SIG_CD_HTMLBEGIN, SIG_CD_HTMLEND},
     {1, 0, 0, 0}},
    {TARGETTYPE_LAYER,
     {SIG_CD_LAYER},
     {SIG_CD_LAYER},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_LAYER},
     {SIG_CD_LAYER, SIG_CD_IDNAME, SIG_CD_POSITIONING, SIG_CD_BOXSIZE, SIG_CD_BACKGROUNDCOLOR,
      SIG_CD_LAYERBACKGROUND},
     {1, 0, 0, 1}},
    {TARGETTYPE_LAYOUTREGION,
     {SIG_CD_LAYOUT},
     {SIG_CD_LAYOUT},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_LAYOUTEND},
     {SIG_CD_LAYOUT, SIG_CD_LAYOUTEND},
     {1, 0, 0, 0}},
    {TARGETTYPE_URLLINK,
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_RESOURCELINKBEGIN, SIG_CD_ALTHOTSPOTBEGIN},
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_RESOURCELINKBEGIN, SIG_CD_ALTHOTSPOTBEGIN},
     0, HotspotTypeIs(11, 32), kNoMaskTest, HotspotFlagsTest(0x1000),
     {}, {},
     {SIG_CD_V4HOTSPOTEND, SIG_CD_HOTSPOTEND},
     {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_V4HOTSPOTEND, SIG_CD_HOTSPOTEND},
     {1, 0, 0, 0}},
    {TARGETTYPE_IMAGEMAP,
     {SIG_CD_MAPELEMENT},
     {SIG_CD_MAPELEMENT},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_MAPELEMENT},
     {SIG_CD_MAPELEMENT},
     {1, 0, 0, 1}},
    {TARGETTYPE_GRAPHICHOTSPOT,
     {SIG_CD_AREAELEMENT},
     {SIG_CD_AREAELEMENT},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_AREAELEMENT},
     {SIG_CD_AREAELEMENT},
     {1, 0, 0, 1}},
    {TARGETTYPE_IGNORED,
     {SIG_CD_IGNORED},
     {SIG_CD_IGNORED},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_IGNORED},
     {SIG_CD_IGNORED},
     {1, 0, 0, 0}},
    {TARGETTYPE_NONBLANKTEXT,
     {SIG_CD_TEXT, SIG_CD_TEXTEFFECT, SIG_CD_BIDI_TEXT, SIG_CD_BIDI_TEXTEFFECT},
     {SIG_CD_TEXT, SIG_CD_BIDI_TEXT},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_TEXT, SIG_CD_BIDI_TEXT},
     {SIG_CD_TEXT, SIG_CD_BIDI_TEXT},
     {1, 1, 1, 0}},
    {TARGETTYPE_PARAGRAPHLIST,
     {SIG_CD_PARAGRAPH, SIG_CD_PABREFERENCE, SIG_CD_PABDEFINITION},
     {},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {}, {},
     {SIG_CD_TABLEEND, SIG_CD_NESTEDTABLEEND, SIG_CD_TABLECELL, SIG_CD_NESTEDTABLECELL},
     {SIG_CD_PARAGRAPH, SIG_CD_PABREFERENCE, SIG_CD_PABDEFINITION, SIG_CD_PABFORMULAREF,
      SIG_CD_PABHIDE},
     {1, 0, 1, 0}},
    {TARGETTYPE_DELIMITEDHTML,
     {SIG_CD_TEXT, SIG_CD_TEXTEFFECT, SIG_CD_BIDI_TEXT, SIG_CD_BIDI_TEXTEFFECT},
     {SIG_CD_TEXT, SIG_CD_BIDI_TEXT},
     0, kNoDiscriminator, kNoMaskTest, kNoMaskTest,
     {"<html", "[<"}, {">]"},
     {SIG_CD_TEXT, SIG_CD_BIDI_TEXT},
     {SIG_CD_TEXT, SIG_CD_BIDI_TEXT},
     {1, 0, 0, 0}},
};
// clang-format on

namespace {

unsigned char LowerAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool StartsWithIgnoringCase(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++prefix, ++text) {
    if (LowerAscii(static_cast<unsigned char>(*text)) !=
        LowerAscii(static_cast<unsigned char>(*prefix)))
      return false; // also ends at the text's terminator
  }
  return true;
}

} // namespace

WORD LookupTargetType(const char* text) {
  if (text == nullptr)
    return TARGETTYPE_EVERYTHING;
  for (WORD id = 1; id < kTargetTypeCount; ++id) {
    if (StartsWithIgnoringCase(text, targettype_name_table[id]))
      return id;
  }
  return TARGETTYPE_EVERYTHING;
}

WORD TargetTypeOfName(const char* text) {
  if (text == nullptr)
    return TARGETTYPE_EVERYTHING;
  for (WORD id = 1; id < kTargetTypeCount; ++id) {
    if (CompareNamesIgnoringCase(text, targettype_name_table[id]) == 0)
      return id;
  }
  return LookupTargetType(text);
}

const char* LookupTargetTypeName(WORD id, const char* fallback) {
  if (id >= kTargetTypeCount)
    return fallback;
  return targettype_name_table[id];
}

char ChooseDelimiter(const char* text, size_t length) {
  if (text == nullptr)
    length = 0;
  auto holds = [&](char c) { return length > 0 && memchr(text, c, length) != nullptr; };
  if (!holds('\''))
    return '\'';
  if (!holds('"'))
    return '"';
  if (!holds('|'))
    return '|';
  return '~';
}

bool EqualsValidHotspotBegin(WORD signature) {
  return signature == SIG_CD_HOTSPOTBEGIN || signature == SIG_CD_V4HOTSPOTBEGIN ||
         signature == SIG_CD_RESOURCELINKBEGIN || signature == SIG_CD_ALTHOTSPOTBEGIN;
}

bool EqualsValidHotspotEnd(WORD signature) {
  return signature == SIG_CD_HOTSPOTEND || signature == SIG_CD_V4HOTSPOTEND ||
         signature == SIG_CD_ALTHOTSPOTEND;
}

bool EqualsValidHotspotSignature(WORD signature) {
  return EqualsValidHotspotBegin(signature) || EqualsValidHotspotEnd(signature);
}
