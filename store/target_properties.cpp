/*
 * The settable property names of each target type, which the table and
 * target property methods translate to and from property indexes, and the
 * case-insensitive name comparison that the name-ordered tables (chunk and
 * item properties) are searched with.
 *
 * What a property does to a target is not decided here.
 */
#include "store/vocabulary.h"

const char* const TARGETTYPE_TABLEProperties[29] = {
    "TableWidth",
    "RowDisplay",
    "RowCycleMilliseconds",
    "Transition",
    "CellBorderStyle",
    "CellBorderColor",
    "TableColorStyle",
    "TableColor",
    "TableBodyColor",
    "BorderStyle",
    "BorderColor",
    "BorderEffects",
    "BorderShadow",
    "BorderThicknessLeft",
    "BorderThicknessTop",
    "BorderThicknessRight",
    "BorderThicknessBottom",
    "R4Spacing",
    "TableName",
    "TableHTMLId",
    "TableHTMLClass",
    "TableHTMLStyle",
    "TableHTMLTitle",
    "TableHTMLOther",
    "TableHTMLName",
    "TabSide",
    "TabsEqual",
    "TabsIndent",
    "TabFont",
};

/* Eight names; the row's count of 17 leaves slots 8 to 16 null. */
const char* const TARGETTYPE_GRAPHICProperties[17] = {
    "AltText",          "Caption",          "GraphicHTMLId",    "GraphicHTMLClass",
    "GraphicHTMLStyle", "GraphicHTMLTitle", "GraphicHTMLOther", "GraphicHTMLName",
};

/* Not reachable through the lookups: the Field row's count is 0. */
const char* const TARGETTYPE_FIELDProperties[1] = {"Fieldname"};

const char* const TARGETTYPE_LAYERProperties[17] = {
    "Top",
    "Left",
    "LayerHTMLId",
    "LayerHTMLClass",
    "LayerHTMLStyle",
    "LayerHTMLTitle",
    "LayerHTMLOther",
    "LayerHTMLName",
    "Scheme",
    "ZIndex",
    "BrowserLeftOffset",
    "BrowserRightOffset",
    "BackgroundImage",
    "BackgroundRepeat",
    "BackgroundColor",
    "Width",
    "Height",
};

const char* const TARGETTYPE_SECTIONProperties[17] = {
    "BorderColor",      "BorderStyle",      "BorderInvisible",     "ExpandEditing",
    "ExpandPreview",    "ExpandPrinting",   "ExpandReading",       "Expanded",
    "PreviewOnly",      "EditorsOnly",      "TitleHiddenExpanded", "SectionHTMLId",
    "SectionHTMLClass", "SectionHTMLStyle", "SectionHTMLTitle",    "SectionHTMLOther",
    "SectionHTMLName",
};

const char* const TARGETTYPE_HORIZONTALRULEProperties[12] = {
    "FitToWindow", "HRHTMLId",   "HRHTMLClass", "HRHTMLStyle", "HRHTMLTitle", "HRHTMLOther",
    "HRHTMLName",  "No3DShadow", "UseColor",    "UseGradient", "Width",       "Height",
};

/* One row per target type id, in id order. HR, ImageMap and GraphicHotspot
 * carry a count but no list; Field a list but a count of 0. */
const property_parameter property_parameter_table[kTargetTypeCount] = {
    {TARGETTYPE_EVERYTHING, 0, nullptr},    {TARGETTYPE_TABLE, 29, TARGETTYPE_TABLEProperties},
    {TARGETTYPE_HOTSPOT, 0, nullptr},       {TARGETTYPE_BUTTON, 0, nullptr},
    {TARGETTYPE_SECTION, 0, nullptr},       {TARGETTYPE_ROW, 0, nullptr},
    {TARGETTYPE_COLUMN, 0, nullptr},        {TARGETTYPE_FILE, 0, nullptr},
    {TARGETTYPE_DOCLINK, 0, nullptr},       {TARGETTYPE_TEXT, 0, nullptr},
    {TARGETTYPE_STYLIZEDTEXT, 0, nullptr},  {TARGETTYPE_RAWTEXT, 0, nullptr},
    {TARGETTYPE_RECORD, 0, nullptr},        {TARGETTYPE_OLEOBJECT, 0, nullptr},
    {TARGETTYPE_ANCHOR, 0, nullptr},        {TARGETTYPE_GRAPHIC, 17, TARGETTYPE_GRAPHICProperties},
    {TARGETTYPE_HYPERLINK, 0, nullptr},     {TARGETTYPE_ACTIONHOTSPOT, 0, nullptr},
    {TARGETTYPE_POPUP, 0, nullptr},         {TARGETTYPE_FIELD, 0, TARGETTYPE_FIELDProperties},
    {TARGETTYPE_EVENT, 0, nullptr},         {TARGETTYPE_PARAGRAPH, 0, nullptr},
    {TARGETTYPE_XML, 0, nullptr},           {TARGETTYPE_SUBFORM, 0, nullptr},
    {TARGETTYPE_COMPUTEDTEXT, 0, nullptr},  {TARGETTYPE_HTML, 0, nullptr},
    {TARGETTYPE_XHTML, 0, nullptr},         {TARGETTYPE_HR, 12, nullptr},
    {TARGETTYPE_PASSTHRUHTML, 0, nullptr},  {TARGETTYPE_LAYER, 17, TARGETTYPE_LAYERProperties},
    {TARGETTYPE_LAYOUTREGION, 0, nullptr},  {TARGETTYPE_URLLINK, 0, nullptr},
    {TARGETTYPE_IMAGEMAP, 1, nullptr},      {TARGETTYPE_GRAPHICHOTSPOT, 8, nullptr},
    {TARGETTYPE_IGNORED, 0, nullptr},       {TARGETTYPE_NONBLANKTEXT, 0, nullptr},
    {TARGETTYPE_PARAGRAPHLIST, 0, nullptr}, {TARGETTYPE_DELIMITEDHTML, 0, nullptr},
};

namespace {

int LowerAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }

const property_parameter* PropertyRow(WORD targetType) {
  if (targetType >= kTargetTypeCount)
    return nullptr;
  return &property_parameter_table[targetType];
}

} // namespace

int CompareNamesIgnoringCase(const char* a, const char* b) {
  if (a == nullptr || b == nullptr)
    return (a == nullptr ? 0 : 1) - (b == nullptr ? 0 : 1);
  for (;; ++a, ++b) {
    int ca = LowerAscii(static_cast<unsigned char>(*a));
    int cb = LowerAscii(static_cast<unsigned char>(*b));
    if (ca != cb || ca == 0)
      return ca - cb;
  }
}

WORD LookupPropertyID(WORD targetType, const char* name) {
  const property_parameter* row = PropertyRow(targetType);
  if (row == nullptr)
    return 0;
  if (row->names == nullptr || name == nullptr || *name == '\0')
    return row->count;
  for (WORD index = 0; index < row->count; ++index) {
    const char* slot = row->names[index];
    if (slot != nullptr && CompareNamesIgnoringCase(slot, name) == 0)
      return index;
  }
  return row->count;
}

const char* LookupPropertyString(WORD targetType, WORD index) {
  const property_parameter* row = PropertyRow(targetType);
  if (row == nullptr || row->names == nullptr || index >= row->count)
    return nullptr;
  return row->names[index];
}

const rtchunk_prop* LookupChunkProperty(const char* name) {
  return FindRowInNameOrder(rtchunk_prop_table, name);
}
