/*
 * Applying property strings to records: a horizontal rule and its colour
 * record, the HTML id and name parts (CDIDNAME), a table's records and a
 * border. Each changes the fields of one record in place from the keys a
 * property string holds; keys and keywords compare without regard to
 * case, and values that are not recognised are ignored.
 */
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>
#include <vector>

#include "generate/attributes_internal.h"
#include "generate/color_string.h"
#include "generate/font_string.h"
#include "generate/length_value.h"
#include "generate/services.h"
#include "store/session.h"
#include "velko/property_string.h"

using namespace attributes;

const border_style_choice BorderStyleChoices[kBorderStyleChoiceCount] = {
    {"NONE", 0},   {"SOLID", 1},  {"DOUBLE", 2}, {"INSET", 3},   {"OUTSET", 4}, {"RIDGE", 5},
    {"GROOVE", 6}, {"DOTTED", 7}, {"DASHED", 8}, {"PICTURE", 9}, {"IMAGE", 10}, {"GRAPHIC", 10},
};

namespace attributes {

WORD ClientPreferenceOfSession(const LSXLsiSession* session) {
  if (session == nullptr || session->internal == nullptr)
    return 1;
  return session->internal->global_client_preference;
}

bool SameWord(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

} // namespace attributes

namespace {

constexpr double kTwipsPerInch = 1440.0;

/* Reads the values of one property string; a value can be no longer than
 * the string itself. The text returned lives until the next read. */
class property_values {
public:
  explicit property_values(const char* properties)
      : properties_(properties), value_(properties == nullptr ? 1 : strlen(properties) + 1) {}

  /* The value of key, or null when the key is absent. */
  const char* Get(const char* key) {
    if (ExtractProperty(properties_, key, value_.data(), value_.size()) == 0)
      return nullptr;
    return value_.data();
  }

private:
  const char* properties_;
  std::vector<char> value_;
};

/* Inches to twips, a 16-bit field. */
WORD InchesToTwipsWord(const char* text) {
  return static_cast<WORD>(ClampToInt32(strtod(text, nullptr) * kTwipsPerInch));
}

WORD NumberWord(const char* text) { return static_cast<WORD>(ClampToInt32(strtod(text, nullptr))); }

bool StartsWithWord(const char* text, const char* prefix) {
  return strncasecmp(text, prefix, strlen(prefix)) == 0;
}

void SetRgb(COLOR_VALUE* color, DWORD rgb) {
  color->Red = static_cast<BYTE>(rgb);
  color->Green = static_cast<BYTE>(rgb >> 8);
  color->Blue = static_cast<BYTE>(rgb >> 16);
  color->Reserved = 0;
}

/* A colour string parsed; false when it names no colour. */
bool ParseColor(const char* text, WORD clientPreference, WORD* index, DWORD* rgb) {
  *index = 0;
  *rgb = 0;
  return ParseColorString(text, index, rgb, clientPreference) == NOERROR;
}

/* Works on a copy of a record's fixed part and writes it back. */
template <typename T> struct record_copy {
  record_copy(void* record) : record(record) { memcpy(&fields, record, sizeof fields); }
  void Store() const { memcpy(record, &fields, sizeof fields); }
  void* record;
  T fields;
};

/* ---- the horizontal rule ---- */

enum : DWORD {
  kRuleUseColor = 0x1,
  kRuleUseGradient = 0x2,
  kRuleFitToWindow = 0x4,
  kRuleNoShadow = 0x8,
};

constexpr BYTE kColorRecordLength = sizeof(CDCOLOR);
constexpr BYTE kGradientRecordLength = sizeof(CDCOLOR) + sizeof(COLOR_VALUE);

void ApplyToColorRecord(BYTE* record, DWORD capacity, property_values* values, WORD preference,
                        DWORD initialise) {
  CDCOLOR color;
  memcpy(&color, record, sizeof color);
  if (initialise != 0) {
    color.Header.Signature = static_cast<BYTE>(SIG_CD_COLOR);
    color.Header.Length = kColorRecordLength;
    color.Color = COLOR_VALUE{kColorFlagRgb, 0, 0, 0, 0};
  }
  WORD index = 0;
  DWORD rgb = 0;
  if (const char* text = values->Get("Color=")) {
    if (SameWord(text, "none")) {
      color.Color.Flags |= kColorFlagRgb | kColorFlagNoColor;
      SetRgb(&color.Color, 0);
    } else if (SameWord(text, "system")) {
      color.Color.Flags |= kColorFlagSystemRgb;
      SetRgb(&color.Color, 0);
    } else if (ParseColor(text, preference, &index, &rgb)) {
      color.Color.Flags |= kColorFlagRgb;
      color.Color.Flags &= static_cast<WORD>(~(kColorFlagNoColor | kColorFlagSystem));
      SetRgb(&color.Color, rgb);
    }
  }
  if (const char* text = values->Get("GradientColor=")) {
    if (SameWord(text, "none")) {
      color.Header.Length = kColorRecordLength;
      color.Color.Flags &= static_cast<WORD>(~kColorFlagGradient);
    } else if (capacity >= kGradientRecordLength && ParseColor(text, preference, &index, &rgb)) {
      COLOR_VALUE gradient{kColorFlagRgb, 0, 0, 0, 0};
      SetRgb(&gradient, rgb);
      memcpy(record + sizeof color, &gradient, sizeof gradient);
      color.Header.Length = kGradientRecordLength;
      color.Color.Flags |= kColorFlagGradient;
    }
  }
  memcpy(record, &color, sizeof color);
}

void ApplyToRule(void* record, property_values* values, WORD preference, DWORD initialise) {
  record_copy<CDHRULE> rule(record);
  CDHRULE& fields = rule.fields;
  if (initialise != 0) {
    fields = CDHRULE{};
    fields.Header.Signature = SIG_CD_HRULE;
    fields.Header.Length = sizeof(CDHRULE);
    fields.Flags = kRuleFitToWindow;
    fields.Width = 100;
    fields.Height = 7;
  }
  for (const auto& [key, bit] :
       {std::pair{"FitToWindow=", kRuleFitToWindow}, std::pair{"No3DShadow=", kRuleNoShadow}}) {
    const char* text = values->Get(key);
    if (text == nullptr)
      continue;
    if (SameWord(text, "Yes"))
      fields.Flags |= bit;
    else if (SameWord(text, "No"))
      fields.Flags &= ~bit;
  }
  struct colour_key {
    const char* key;
    WORD* word;
    DWORD bit;
  };
  for (const colour_key& colour :
       {colour_key{"Color=", &fields.Color, kRuleUseColor},
        colour_key{"GradientColor=", &fields.FillType, kRuleUseGradient}}) {
    const char* text = values->Get(colour.key);
    WORD index = 0;
    DWORD rgb = 0;
    if (text == nullptr)
      continue;
    if (SameWord(text, "none")) {
      *colour.word = 0xFFFF;
      fields.Flags &= ~colour.bit;
    } else if (ParseColor(text, preference, &index, &rgb)) {
      *colour.word = index;
      fields.Flags |= colour.bit;
    }
  }
  rule.Store();
}

/* ---- the table's records ---- */

STATUS ApplyToPreTable(void* record, DWORD capacity, property_values* values, WORD preference,
                       DWORD initialise) {
  record_copy<CDPRETABLEBEGIN> copy(record);
  CDPRETABLEBEGIN& table = copy.fields;
  /* The name is placed first: a name that does not fit changes nothing. */
  std::string name;
  const bool naming = values->Get("TableName=") != nullptr;
  if (naming) {
    name = values->Get("TableName=");
    const DWORD stored = sizeof(CDPRETABLEBEGIN) + static_cast<DWORD>(name.size());
    if (stored + (name.size() & 1) > capacity || stored > kAttributeRecordLimit)
      return kAttributeRecordFull;
  }
  const bool initialising = initialise != 0;
  if (const char* display = values->Get("RowDisplay=")) {
    bool chosen = true;
    bool programmableTabs = false;
    if (SameWord(display, "BASIC")) {
      table.RowDisplay = 0;
    } else if (SameWord(display, "TABBED")) {
      table.RowDisplay = 4;
    } else if (SameWord(display, "TABBED_PROGRAMMABLE") ||
               SameWord(display, "PROGRAMMABLE_TABBED")) {
      table.RowDisplay = 5;
      table.Flags |= 0x88;
      programmableTabs = true;
    } else if (SameWord(display, "PROGRAMMABLE")) {
      table.RowDisplay = 5;
      table.Flags |= 0x08;
    } else if (SameWord(display, "CAPTIONS")) {
      table.RowDisplay = 8;
    } else if (SameWord(display, "ANIMATED")) {
      const char* transition = values->Get("Transition=");
      if (transition == nullptr || SameWord(transition, "ADVANCE_ON_CLICK"))
        table.RowDisplay = 1;
      else if (SameWord(transition, "CONTINUALLY"))
        table.RowDisplay = 2;
      else if (SameWord(transition, "ONCE"))
        table.RowDisplay = 3;
      else if (SameWord(transition, "ONCE_ON_CLICK"))
        table.RowDisplay = 6;
    } else {
      chosen = false;
    }
    if (chosen && !programmableTabs && !initialising)
      table.Flags &= ~DWORD{0x80};
  } else if (values->Get("TabSide=") != nullptr && (table.Flags & 0x80) == 0) {
    table.RowDisplay = 4;
  }
  if (table.RowDisplay == 4 || (table.Flags & 0x80) != 0) {
    if (const char* side = values->Get("TabSide=")) {
      DWORD bit = 0;
      if (SameWord(side, "Left"))
        bit = 0x100;
      else if (SameWord(side, "Bottom"))
        bit = 0x200;
      else if (SameWord(side, "Right"))
        bit = 0x400;
      if ((bit != 0 || SameWord(side, "Top")) && !initialising)
        table.Flags &= ~DWORD{0x700};
      table.Flags |= bit;
    }
  }
  if (const char* effects = values->Get("BorderEffects=")) {
    if (SameWord(effects, "DROP_SHADOW"))
      table.Flags |= 0x4;
    else
      table.Flags &= ~DWORD{0x4};
  }
  const char* border = values->Get("CellBorderColor=");
  WORD index = 0;
  DWORD rgb = 0;
  if (border != nullptr && ParseColor(border, preference, &index, &rgb)) {
    table.CellBorderColor.Flags |= kColorFlagRgb;
    SetRgb(&table.CellBorderColor, rgb);
    if (rgb != 0)
      table.Flags |= 0x20;
    else
      table.Flags &= ~DWORD{0x20};
  } else if (initialising) {
    table.CellBorderColor.Flags = kColorFlagRgb;
  }
  if (const char* style = values->Get("TableColorStyle=");
      style != nullptr && initialising && !SameWord(style, "NONE")) {
    table.TableColor = 0xC0C0C0;
    table.BodyColor = 0x808080;
  }
  if (const char* text = values->Get("TableColor="))
    table.TableColor = TranslateColorToDWORD(text, preference);
  if (const char* text = values->Get("TableBodyColor="))
    table.BodyColor = TranslateColorToDWORD(text, preference);
  if (const char* text = values->Get("MinRowHeight="))
    table.MinRowHeight = InchesToTwipsWord(text);
  if (const char* width = values->Get("TableWidth=")) {
    /* Every width names both bits, so a fitted table made fixed or fitted
     * with margins reads back as set. */
    if (StartsWithWord(width, "FIT"))
      table.Flags |= 0x1;
    else
      table.Flags &= ~DWORD{0x1};
    if (SameWord(width, "FIT_TO_WINDOW"))
      table.Flags |= 0x40;
    else
      table.Flags &= ~DWORD{0x40};
  }
  BYTE* bytes = static_cast<BYTE*>(record);
  if (naming) {
    table.NameLength = static_cast<WORD>(name.size());
    table.Header.Length = static_cast<WORD>(sizeof(CDPRETABLEBEGIN) + name.size());
    memcpy(bytes + sizeof(CDPRETABLEBEGIN), name.data(), name.size());
    if (name.size() & 1)
      bytes[sizeof(CDPRETABLEBEGIN) + name.size()] = 0;
  }
  copy.Store();
  return NOERROR;
}

/* Offsets of the tab font inside a CDTABLEDATAEXTENSION. */
constexpr DWORD kTabFontOffset = 48;
constexpr DWORD kTabFontColorOffset = 56;
constexpr DWORD kTabFontEnd = kTabFontColorOffset + sizeof(COLOR_VALUE);
constexpr WORD kTabFontPartMinimum = 13;
constexpr BYTE kDefaultTabFontSize = 10;

STATUS ApplyToDataExtension(void* record, DWORD capacity, property_values* values,
                            VelkoRTItem* item, DWORD initialise) {
  record_copy<CDTABLEDATAEXTENSION> copy(record);
  CDTABLEDATAEXTENSION& extension = copy.fields;
  if (const char* text = values->Get("TabIndent="))
    extension.TabIndent = InchesToTwipsWord(text);
  if (const char* text = values->Get("TabsEqual="))
    extension.TabsEqual = SameWord(text, "YES") ? 1 : 0;
  const char* fontText = values->Get("TabFont=");
  const DWORD length = extension.Header.Length;
  const bool hasFont = extension.TabFontPartSize > kTabFontPartMinimum && capacity >= kTabFontEnd &&
                       length >= kTabFontEnd;
  if (fontText == nullptr || !hasFont) {
    copy.Store();
    return NOERROR;
  }
  BYTE* bytes = static_cast<BYTE*>(record);
  FONTID font = 0;
  COLOR_VALUE color = {};
  memcpy(&font, bytes + kTabFontOffset, sizeof font);
  memcpy(&color, bytes + kTabFontColorOffset, sizeof color);
  if (initialise != 0) {
    font = 0;
    SetFontByte(&font, FONTID_FACE_BYTE, 1);
    SetFontByte(&font, FONTID_SIZE_BYTE, kDefaultTabFontSize);
  }
  font_spec specs[2];
  font_spec_mask masks[2];
  if (const STATUS status = ParseFontString(fontText, nullptr, item, specs, masks);
      status != NOERROR)
    return status;
  DWORD rgb = RgbOf(color);
  WORD colorFlags = 0;
  ApplyFontOverride(&font, &rgb, &colorFlags, &specs[0], masks[0].given);
  /* A colour the text did not name, or named only by palette index, is
   * that palette entry. */
  const BYTE index = FontByte(&font, FONTID_COLOR_BYTE);
  if (masks[0].given[kSpecColor] == 0 && index < kPaletteColors &&
      (color.Flags & kColorFlagRgb) == 0)
    rgb = RGB_TABLE[index];
  color.Flags = kColorFlagRgb;
  SetRgb(&color, rgb);
  if (FontByte(&font, FONTID_SIZE_BYTE) == 0)
    SetFontByte(&font, FONTID_SIZE_BYTE, kDefaultTabFontSize);
  copy.Store();
  memcpy(bytes + kTabFontOffset, &font, sizeof font);
  memcpy(bytes + kTabFontColorOffset, &color, sizeof color);
  return NOERROR;
}

/* Bits of a CDTABLEBEGIN's flags. */
constexpr WORD kTableStyleBits = 0x6F80;
constexpr WORD kTableKeptBits = 0x907F;

void ApplyToTableBegin(void* record, property_values* values) {
  record_copy<CDTABLEBEGIN> copy(record);
  WORD& flags = copy.fields.Flags;
  if (const char* width = values->Get("TableWidth=")) {
    if (StartsWithWord(width, "FIT"))
      flags |= 0x1;
    else
      flags &= static_cast<WORD>(~0x1);
  }
  if (const char* display = values->Get("RowDisplay=")) {
    if (SameWord(display, "BASIC"))
      flags &= static_cast<WORD>(~0x40);
    else
      flags |= 0x40;
  } else if (values->Get("TabSide=") != nullptr) {
    flags |= 0x40;
  }
  if (const char* style = values->Get("CellBorderStyle=")) {
    /* Each style word is known by its letters, whatever follows them
     * ("Embossed" as "Emboss"). */
    flags &= static_cast<WORD>(~0xC);
    if (StartsWithWord(style, "Groove") || StartsWithWord(style, "Emboss"))
      flags |= 0x4;
    else if (StartsWithWord(style, "Ridge") || StartsWithWord(style, "Extrude"))
      flags |= 0x8;
  }
  if (const char* style = values->Get("TableColorStyle=")) {
    struct style_bits {
      const char* name;
      WORD bits;
    };
    static constexpr style_bits kStyles[] = {
        {"SOLID", kTableStyleBits},
        {"ALTERNATING_ROWS", 0x800},
        {"ALTERNATING_COLUMNS", 0x400},
        {"LEFT_TOP", 0x80},
        {"LEFT", 0x200},
        {"RIGHT_TOP", 0x2000},
        {"RIGHT", 0x4000},
        {"TOP", 0x100},
    };
    /* A style replaces the one the table had, so it reads back as set. */
    if (SameWord(style, "NONE"))
      flags &= kTableKeptBits;
    for (const style_bits& row : kStyles) {
      if (SameWord(style, row.name)) {
        flags = static_cast<WORD>((flags & kTableKeptBits) | row.bits);
        break;
      }
    }
  }
  copy.Store();
}

/* ---- borders ---- */

WORD ThicknessWord(const char* text) {
  if (SameWord(text, "thin"))
    return 2;
  if (SameWord(text, "medium"))
    return 4;
  if (SameWord(text, "thick"))
    return 6;
  return NumberWord(text);
}

void ApplyToBorder(void* record, property_values* values, WORD preference, DWORD initialise) {
  record_copy<CDBORDERINFO> copy(record);
  CDBORDERINFO& border = copy.fields;
  if (initialise != 0) {
    border.DropShadowWidth = 12;
    border.BorderWidthTop = border.BorderWidthLeft = 0;
    border.BorderWidthBottom = border.BorderWidthRight = 0;
  }
  if (const char* style = values->Get("BorderStyle=")) {
    for (const border_style_choice& choice : BorderStyleChoices) {
      if (!SameWord(style, choice.name))
        continue;
      border.BorderStyle = choice.style;
      if (choice.style == 0)
        border.BorderWidthTop = border.BorderWidthLeft = border.BorderWidthBottom =
            border.BorderWidthRight = 0;
      break;
    }
  }
  struct width_key {
    const char* key;
    WORD* width;
  };
  std::string common;
  if (const char* text = values->Get("BorderThickness="))
    common = text;
  const bool hasCommon = values->Get("BorderThickness=") != nullptr;
  for (const width_key& side : {width_key{"BorderThicknessTop=", &border.BorderWidthTop},
                                width_key{"BorderThicknessLeft=", &border.BorderWidthLeft},
                                width_key{"BorderThicknessBottom=", &border.BorderWidthBottom},
                                width_key{"BorderThicknessRight=", &border.BorderWidthRight}}) {
    if (const char* text = values->Get(side.key))
      *side.width = ThicknessWord(text);
    else if (hasCommon)
      *side.width = ThicknessWord(common.c_str());
  }
  for (const width_key& side : {width_key{"OuterBottom=", &border.OuterWidthBottom},
                                width_key{"OuterTop=", &border.OuterWidthTop},
                                width_key{"OuterLeft=", &border.OuterWidthLeft},
                                width_key{"OuterRight=", &border.OuterWidthRight}}) {
    if (const char* text = values->Get(side.key))
      *side.width = NumberWord(text);
  }
  if (const char* effects = values->Get("BorderEffects=")) {
    if (SameWord(effects, "DROP_SHADOW")) {
      border.BorderFlags |= 0x1;
      if (const char* shadow = values->Get("BorderShadow="))
        border.DropShadowWidth = NumberWord(shadow);
      else if (initialise != 0)
        border.DropShadowWidth = 12;
    } else if (SameWord(effects, "NONE")) {
      border.BorderFlags &= static_cast<WORD>(~0x1);
      border.DropShadowWidth = 0;
    }
  }
  WORD index = 0;
  DWORD rgb = 0;
  if (const char* text = values->Get("BorderColor=");
      text != nullptr && ParseColor(text, preference, &index, &rgb)) {
    border.Color.Flags |= kColorFlagRgb;
    SetRgb(&border.Color, rgb);
  }
  if (const char* text = values->Get("PaddingLeft="))
    border.InnerWidthLeft = NumberWord(text);
  copy.Store();
}

/* ---- the HTML id and name parts ---- */

constexpr int kIdNameParts = 6;
const char* const kIdNameKeys[kIdNameParts] = {
    "HTMLID=", "HTMLClass=", "HTMLStyle=", "HTMLTitle=", "HTMLOther=", "HTMLName="};
constexpr int kOtherPart = 4;
constexpr int kNamePart = 5;

/* The six part lengths of a CDIDNAME and the parts themselves, cut at the
 * record's end. */
void ReadIdNameParts(const void* record, DWORD length, std::string parts[kIdNameParts]) {
  CDIDNAME fields;
  if (!LoadRecord(record, length, {SIG_CD_IDNAME, SIG_CD_IDNAME2}, sizeof fields, &fields))
    return;
  const WORD lengths[kIdNameParts] = {fields.Length,      fields.ClassNameLength,
                                      fields.StyleLength, fields.TitleLength,
                                      fields.ExtraLength, fields.NameLength};
  const char* text = static_cast<const char*>(record);
  DWORD offset = sizeof fields;
  for (int part = 0; part < kIdNameParts; ++part) {
    const DWORD room = length > offset ? length - offset : 0;
    const DWORD size = lengths[part] < room ? lengths[part] : room;
    parts[part].assign(text + offset, size);
    offset += size;
  }
}

} // namespace

STATUS ApplyPropertiesToHRuleRecord(LSXLsiSession* session, WORD signature, void* record,
                                    DWORD capacity, const char* properties, DWORD initialise) {
  if (record == nullptr)
    return NOERROR;
  property_values values(properties);
  const WORD preference = ClientPreferenceOfSession(session);
  if (signature == SIG_CD_COLOR && capacity >= sizeof(CDCOLOR))
    ApplyToColorRecord(static_cast<BYTE*>(record), capacity, &values, preference, initialise);
  else if (signature == SIG_CD_HRULE && capacity >= sizeof(CDHRULE))
    ApplyToRule(record, &values, preference, initialise);
  return NOERROR;
}

DWORD ApplyPropertiesToIDNAMERecord(LSXLsiSession*, void* record, DWORD capacity,
                                    const void* existing, DWORD existingLength, const char* prefix,
                                    const char* properties, const char* extraOther,
                                    STATUS* status) {
  if (status != nullptr)
    *status = NOERROR;
  if (record == nullptr || capacity < sizeof(CDIDNAME))
    return 0;
  if (prefix == nullptr)
    prefix = "";
  CDIDNAME fields;
  memcpy(&fields, record, sizeof fields);
  const WORD current[kIdNameParts] = {fields.Length,      fields.ClassNameLength,
                                      fields.StyleLength, fields.TitleLength,
                                      fields.ExtraLength, fields.NameLength};
  std::string parts[kIdNameParts];
  if (existing != nullptr)
    ReadIdNameParts(existing, existingLength, parts);
  property_values values(properties);
  DWORD changed = 0;
  for (int part = 0; part < kIdNameParts; ++part) {
    const std::string key = std::string(prefix) + kIdNameKeys[part];
    const char* value = values.Get(key.c_str());
    if (value == nullptr && part == kNamePart)
      value = values.Get((std::string(prefix) + "Name=").c_str());
    if (value == nullptr)
      continue;
    parts[part] = value;
    if (!parts[part].empty() || current[part] != 0)
      changed = 1;
  }
  if (extraOther != nullptr && *extraOther != '\0') {
    if (!parts[kOtherPart].empty())
      parts[kOtherPart] += ' ';
    parts[kOtherPart] += extraOther;
    changed = 1;
  }
  size_t total = sizeof(CDIDNAME);
  for (const std::string& part : parts)
    total += part.size();
  if (total > capacity || total > kAttributeRecordLimit) {
    if (status != nullptr)
      *status = kAttributeRecordFull;
    return 0;
  }
  if (fields.Header.Signature != SIG_CD_IDNAME2)
    fields.Header.Signature = SIG_CD_IDNAME;
  fields.Header.Length = static_cast<WORD>(total);
  WORD* lengths[kIdNameParts] = {&fields.Length,      &fields.ClassNameLength, &fields.StyleLength,
                                 &fields.TitleLength, &fields.ExtraLength,     &fields.NameLength};
  char* text = static_cast<char*>(record);
  size_t offset = sizeof fields;
  for (int part = 0; part < kIdNameParts; ++part) {
    *lengths[part] = static_cast<WORD>(parts[part].size());
    memcpy(text + offset, parts[part].data(), parts[part].size());
    offset += parts[part].size();
  }
  memset(fields.Reserved, 0, sizeof fields.Reserved);
  memcpy(record, &fields, sizeof fields);
  return changed;
}

STATUS ApplyPropertiesToTableRecord(LSXLsiSession* session, VelkoRTItem* item, WORD signature,
                                    void* record, DWORD capacity, const char* properties,
                                    DWORD initialise) {
  if (record == nullptr)
    return NOERROR;
  property_values values(properties);
  const WORD preference = ClientPreferenceOfSession(session);
  switch (signature) {
  case SIG_CD_PRETABLEBEGIN:
    if (capacity < sizeof(CDPRETABLEBEGIN))
      return NOERROR;
    return ApplyToPreTable(record, capacity, &values, preference, initialise);
  case SIG_CD_TABLEDATAEXTENSION:
    if (capacity < sizeof(CDTABLEDATAEXTENSION))
      return NOERROR;
    return ApplyToDataExtension(record, capacity, &values, item, initialise);
  case SIG_CD_TABLEBEGIN:
  case SIG_CD_NESTEDTABLEBEGIN:
    if (capacity >= sizeof(CDTABLEBEGIN))
      ApplyToTableBegin(record, &values);
    return NOERROR;
  case SIG_CD_BORDERINFO:
    return ApplyPropertiesToBorderRecord(session, signature, record, capacity, properties,
                                         initialise);
  default: return NOERROR;
  }
}

STATUS ApplyPropertiesToBorderRecord(LSXLsiSession* session, WORD signature, void* record,
                                     DWORD capacity, const char* properties, DWORD initialise) {
  if (record == nullptr || signature != SIG_CD_BORDERINFO || capacity < sizeof(CDBORDERINFO))
    return NOERROR;
  property_values values(properties);
  ApplyToBorder(record, &values, ClientPreferenceOfSession(session), initialise);
  return NOERROR;
}

STATUS ApplyPropertiesToGraphicRecord(LSXLsiSession*, WORD, void*, DWORD, const char*, DWORD) {
  return NOERROR;
}
