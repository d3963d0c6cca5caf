/*
 * Attribute texts of a layer's records: its position (CDPOSITIONING) and
 * its box size (CDBOXSIZE). Background properties are not answered.
 */
#include <math.h>
#include <stddef.h>
#include <stdio.h>

#include "generate/attributes_internal.h"
#include "generate/length_value.h"

using namespace attributes;

namespace {

/* "Key='length' ". A length without units or flags keeps its number, so
 * that it reads back as it was given. */
void WriteLength(attribute_text* out, const char* key, const LENGTH_VALUE& value, WORD own,
                 DWORD* written) {
  char text[kLengthValueTextSize + 1] = "";
  if (value.Flags == 0 && value.Units == kLengthUnitsNone) {
    const double number = isnan(value.Length) ? 0.0 : value.Length;
    snprintf(text, sizeof text, "%.15g", number);
  } else {
    FormatLengthValue(&value, text, sizeof text);
  }
  Mark(written, own, AttributeTextPrintf(out, "%s='%s' ", key, text));
}

const char* SchemeName(BYTE scheme) {
  switch (scheme) {
  case 0: return "static";
  case 2: return "relative";
  case 3: return "fixed";
  default: return "absolute";
  }
}

} // namespace

STATUS CalculateLayerAttributesPOSITIONINGString(const void* record, DWORD length,
                                                 attribute_text* out, WORD id, DWORD* written) {
  CDPOSITIONING fields;
  if (!LoadRecord(record, length, {SIG_CD_POSITIONING}, sizeof fields, &fields))
    return NOERROR;
  if (Wanted(id, kLayerPropZIndex, kLayerPropAll, written))
    Mark(written, kLayerPropZIndex,
         AttributeTextPrintf(out, "ZIndex=%d ", static_cast<int>(fields.ZIndex)));
  if (Wanted(id, kLayerPropScheme, kLayerPropAll, written))
    Mark(written, kLayerPropScheme,
         AttributeTextPrintf(out, "Scheme=%s ", SchemeName(fields.Scheme)));
  if (Wanted(id, kLayerPropBrowserLeftOffset, kLayerPropAll, written))
    Mark(written, kLayerPropBrowserLeftOffset,
         AttributeTextPrintf(out, "BrowserLeftOffset=%d ",
                             ClampToInt32(round(fields.BrowserLeftOffset))));
  if (Wanted(id, kLayerPropBrowserRightOffset, kLayerPropAll, written))
    Mark(written, kLayerPropBrowserRightOffset,
         AttributeTextPrintf(out, "BrowserRightOffset=%d ",
                             ClampToInt32(round(fields.BrowserRightOffset))));
  if (Wanted(id, kLayerPropTop, kLayerPropAll, written))
    WriteLength(out, "Top", fields.Top, kLayerPropTop, written);
  if (Wanted(id, kLayerPropLeft, kLayerPropAll, written))
    WriteLength(out, "Left", fields.Left, kLayerPropLeft, written);
  return NOERROR;
}

STATUS CalculateLayerAttributesBOXSIZEString(const void* record, DWORD length, attribute_text* out,
                                             WORD id, DWORD* written) {
  CDBOXSIZE fields;
  const DWORD needed = offsetof(CDBOXSIZE, Height) + sizeof(LENGTH_VALUE);
  if (!LoadRecord(record, length, {SIG_CD_BOXSIZE}, needed, &fields))
    return NOERROR;
  if (Wanted(id, kLayerPropWidth, kLayerPropAll, written))
    WriteLength(out, "Width", fields.Width, kLayerPropWidth, written);
  if (Wanted(id, kLayerPropHeight, kLayerPropAll, written))
    WriteLength(out, "Height", fields.Height, kLayerPropHeight, written);
  return NOERROR;
}

STATUS CalculateLayerAttributesBACKGROUNDPROPERTIESString(const void*, DWORD, attribute_text*, WORD,
                                                          DWORD*) {
  return NOERROR;
}
