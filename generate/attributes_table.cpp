/*
 * Attribute texts of a table's records: CDPRETABLEBEGIN (width, row
 * display, colours, border effects), CDTABLEDATAEXTENSION (tabs and the tab
 * font), CDTABLEBEGIN (width, colour style, cell border style) and
 * CDTIMERINFO (the row cycle).
 */
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "generate/attributes_internal.h"
#include "generate/color_string.h"
#include "generate/font_string.h"
#include "store/vocabulary.h"

using namespace attributes;

namespace {

constexpr double kTwipsPerInch = 1440.0;

/* Offsets of the tab font inside a CDTABLEDATAEXTENSION. */
constexpr DWORD kTabFontOffset = 48;
constexpr DWORD kTabFontColorOffset = 56;
constexpr DWORD kTabFontEnd = kTabFontColorOffset + sizeof(COLOR_VALUE);
constexpr WORD kTabFontPartMinimum = 13;

const char* RowDisplayText(const CDPRETABLEBEGIN& table, DWORD* written) {
  const DWORD flags = table.Flags;
  const bool transition = table.RowDisplay == 1 || table.RowDisplay == 2 || table.RowDisplay == 3 ||
                          table.RowDisplay == 6;
  if (transition && written != nullptr)
    written[kTablePropTransition] = 1;
  switch (table.RowDisplay) {
  case 1: return "ANIMATED Transition=ADVANCE_ON_CLICK";
  case 2: return "ANIMATED Transition=CONTINUALLY";
  case 3: return "ANIMATED Transition=ONCE";
  case 6: return "ANIMATED Transition=ONCE_ON_CLICK";
  case 4:
    if ((flags & 0x700) != 0 && written != nullptr)
      written[kTablePropTabSide] = 1;
    if (flags & 0x100)
      return "TABBED TabSide=LEFT";
    if (flags & 0x200)
      return "TABBED TabSide=BOTTOM";
    if (flags & 0x400)
      return "TABBED TabSide=RIGHT";
    return "TABBED";
  case 5: return (flags & 0x80) ? "PROGRAMMABLE_TABBED" : "PROGRAMMABLE";
  case 8: return "CAPTIONS";
  default: return "BASIC";
  }
}

/* A table colour (0x00BBGGRR): the name of its palette entry when it is
 * one of the palette's colours, else its RGB text. */
void TableColorText(DWORD rgb, WORD clientPreference, char* text) {
  if (rgb != 0) {
    for (WORD index = 0; index < kPaletteColors; ++index) {
      if (RGB_TABLE[index] == rgb) {
        CalculateColorString(index, text, 0, clientPreference);
        return;
      }
    }
  }
  snprintf(text, kColorStringSize, "RGB%u,%u,%u", rgb & 0xFF, (rgb >> 8) & 0xFF,
           (rgb >> 16) & 0xFF);
}

} // namespace

STATUS CalculateTableAttributesPRETABLEString(const void* record, DWORD length, attribute_text* out,
                                              WORD id, DWORD* written, WORD clientPreference) {
  CDPRETABLEBEGIN table;
  const DWORD needed = offsetof(CDPRETABLEBEGIN, CellBorderColor) + sizeof(COLOR_VALUE);
  if (!LoadRecord(record, length, {SIG_CD_PRETABLEBEGIN}, needed, &table))
    return NOERROR;
  if (Wanted(id, kTablePropTableWidth, kTablePropAll, written)) {
    const char* width = (table.Flags & 0x1) == 0 ? "FIXED"
                        : (table.Flags & 0x40)   ? "FIT_TO_WINDOW"
                                                 : "FIT_WITH_MARGINS";
    Mark(written, kTablePropTableWidth, AttributeTextPrintf(out, "TableWidth=%s ", width));
  }
  if (Wanted(id, kTablePropRowDisplay, kTablePropAll, written)) {
    /* The words the row display carries (Transition, TabSide) count as
     * written with it. */
    DWORD transition[kAttributeFlagCount] = {};
    const char* display = RowDisplayText(table, transition);
    if (AttributeTextPrintf(out, "RowDisplay=%s ", display)) {
      Mark(written, kTablePropRowDisplay, true);
      Mark(written, kTablePropTransition, transition[kTablePropTransition] != 0);
      Mark(written, kTablePropTabSide, transition[kTablePropTabSide] != 0);
    }
  }
  char color[kColorStringSize];
  if (Wanted(id, kTablePropTableBodyColor, kTablePropAll, written)) {
    TableColorText(table.BodyColor, clientPreference, color);
    Mark(written, kTablePropTableBodyColor, AttributeTextPrintf(out, "TableBodyColor=%s ", color));
  }
  if (Wanted(id, kTablePropTableColor, kTablePropAll, written)) {
    TableColorText(table.TableColor, clientPreference, color);
    Mark(written, kTablePropTableColor, AttributeTextPrintf(out, "TableColor=%s ", color));
  }
  if (Wanted(id, kTablePropCellBorderColor, kTablePropAll, written)) {
    const COLOR_VALUE& border = table.CellBorderColor;
    const bool black = border.Red == 0 && border.Green == 0 && border.Blue == 0;
    if (id == kTablePropCellBorderColor || !black)
      Mark(written, kTablePropCellBorderColor,
           AttributeTextPrintf(out, "CellBorderColor=RGB%u,%u,%u ", border.Red, border.Green,
                               border.Blue));
  }
  const bool shadow = (table.Flags & 0x4) != 0;
  if (Wanted(id, kTablePropBorderEffects, kTablePropAll, written) &&
      (shadow || id == kTablePropBorderEffects))
    Mark(written, kTablePropBorderEffects,
         AttributeTextPrintf(out, "BorderEffects=%s ", shadow ? "DROP_SHADOW" : "NONE"));
  return NOERROR;
}

STATUS CalculateTableAttributesTABLEDATAEXTENSIONString(const void* record, DWORD length,
                                                        attribute_text* out, WORD id,
                                                        DWORD* written, VelkoRTItem* item) {
  CDTABLEDATAEXTENSION extension;
  const DWORD needed = offsetof(CDTABLEDATAEXTENSION, TabFontPartSize) + sizeof(WORD);
  if (!LoadRecord(record, length, {SIG_CD_TABLEDATAEXTENSION}, needed, &extension))
    return NOERROR;
  if (Wanted(id, kTablePropTabsIndent, kTablePropAll, written) &&
      (extension.TabIndent != 0 || id == kTablePropTabsIndent))
    Mark(written, kTablePropTabsIndent,
         AttributeTextPrintf(out, "TabIndent=\"%4.2f\" ", extension.TabIndent / kTwipsPerInch));
  if (Wanted(id, kTablePropTabsEqual, kTablePropAll, written) &&
      (extension.TabsEqual != 0 || id == kTablePropTabsEqual))
    Mark(written, kTablePropTabsEqual,
         AttributeTextPrintf(out, "TabsEqual=%s ", extension.TabsEqual != 0 ? "Yes" : "No"));
  const bool hasFont = extension.TabFontPartSize > kTabFontPartMinimum && length >= kTabFontEnd;
  if (!hasFont || !Wanted(id, kTablePropTabFont, kTablePropAll, written))
    return NOERROR;
  const char* bytes = static_cast<const char*>(record);
  FONTID font;
  memcpy(&font, bytes + kTabFontOffset, sizeof font);
  /* The tab font's colour, as the colour record a text run would have. */
  CDCOLOR color = {};
  color.Header.Signature = static_cast<BYTE>(SIG_CD_COLOR);
  color.Header.Length = sizeof color;
  memcpy(&color.Color, bytes + kTabFontColorOffset, sizeof color.Color);
  char text[kFontStringSize];
  const STATUS status = CalculateFontStringInternal(&font, &color, item, text, PROP_FONT);
  if (status != NOERROR)
    return status;
  Mark(written, kTablePropTabFont, AttributeTextQuoted(out, "TabFont=", text, strlen(text)));
  return NOERROR;
}

STATUS CalculateTableAttributesTABLEBEGINString(const void* record, DWORD length,
                                                attribute_text* out, WORD id, DWORD* written) {
  CDTABLEBEGIN table;
  if (!LoadRecord(record, length, {SIG_CD_TABLEBEGIN, SIG_CD_NESTEDTABLEBEGIN}, sizeof table,
                  &table))
    return NOERROR;
  const WORD flags = table.Flags;
  if (Wanted(id, kTablePropTableWidth, kTablePropAll, written))
    Mark(written, kTablePropTableWidth,
         AttributeTextPrintf(out, "TableWidth=%s ", (flags & 0x1) ? "FIT_WITH_MARGINS" : "FIXED"));
  if (Wanted(id, kTablePropRowDisplay, kTablePropAll, written))
    Mark(written, kTablePropRowDisplay, AttributeTextPuts(out, "RowDisplay=BASIC "));
  if (Wanted(id, kTablePropTableColorStyle, kTablePropAll, written)) {
    /* Solid sets every style bit, so it is tested before the single ones. */
    const char* style = (flags & 0x6F80) == 0x6F80 ? "Solid"
                        : (flags & 0x800)          ? "Alternating_Rows"
                        : (flags & 0x400)          ? "Alternating_Columns"
                        : (flags & 0x80)           ? "Left_Top"
                        : (flags & 0x200)          ? "Left"
                        : (flags & 0x2000)         ? "Right_Top"
                        : (flags & 0x4000)         ? "Right"
                        : (flags & 0x100)          ? "Top"
                                                   : "NONE";
    Mark(written, kTablePropTableColorStyle,
         AttributeTextPrintf(out, "TableColorStyle=%s ", style));
  }
  if (Wanted(id, kTablePropCellBorderStyle, kTablePropAll, written)) {
    const char* style = (flags & 0x4)                     ? "GROOVE"
                        : (flags & 0x8)                   ? "RIDGE"
                        : id == kTablePropCellBorderStyle ? "SOLID"
                                                          : nullptr;
    if (style != nullptr)
      Mark(written, kTablePropCellBorderStyle,
           AttributeTextPrintf(out, "CellBorderStyle=%s ", style));
  }
  /* The cell border colour lives in the CDPRETABLEBEGIN, which answers it;
   * this record holds none to answer. */
  return NOERROR;
}

STATUS CalculateTableAttributesTIMERINFOString(const void* record, DWORD length,
                                               attribute_text* out, WORD id, DWORD* written) {
  CDTIMERINFO timer;
  const DWORD needed = offsetof(CDTIMERINFO, Interval) + sizeof(DWORD);
  if (!LoadRecord(record, length, {SIG_CD_TIMERINFO}, needed, &timer))
    return NOERROR;
  if (Wanted(id, kTablePropRowCycleMilliseconds, kTablePropAll, written))
    Mark(written, kTablePropRowCycleMilliseconds,
         AttributeTextPrintf(out, "RowCycleMilliseconds=%u ",
                             static_cast<unsigned>(timer.Interval)));
  return NOERROR;
}
