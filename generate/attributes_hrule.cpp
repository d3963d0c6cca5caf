/*
 * Attribute text of a horizontal rule (CDHRULE) and the colour record that
 * may follow it in the record list.
 */
#include <stddef.h>
#include <string.h>

#include "generate/attributes_internal.h"
#include "generate/color_string.h"

using namespace attributes;

namespace {

enum : DWORD {
  kRuleUseColor = 0x1,
  kRuleUseGradient = 0x2,
  kRuleFitToWindow = 0x4,
  kRuleNoShadow = 0x8,
};

constexpr double kTwipsPerInch = 1440.0;

/* The colour of the rule: "none" when it has none; with a colour record
 * after the rule, that record decides. Empty when nothing is to be
 * written (a negative form under the "all" id). */
void RuleColorText(const CDHRULE& rule, const record_storage* node, WORD id, WORD clientPreference,
                   char* text) {
  text[0] = '\0';
  const bool own = id == kHRulePropColor;
  const record_storage* next = node->next;
  if ((rule.Flags & kRuleUseColor) == 0) {
    if (own)
      strcpy(text, "none");
    return;
  }
  if (next == nullptr || next->signature != SIG_CD_COLOR || next->data == nullptr ||
      next->length < sizeof(CDCOLOR)) {
    CalculateColorString(rule.Color, text, 0, clientPreference);
    return;
  }
  /* A bounded copy: the length byte may claim a gradient the node lacks. */
  BYTE copy[sizeof(CDCOLOR) + sizeof(COLOR_VALUE)] = {};
  const DWORD size = next->length < sizeof copy ? next->length : sizeof copy;
  memcpy(copy, next->data, size);
  copy[offsetof(BSIG, Length)] = static_cast<BYTE>(size);
  CDCOLOR color;
  memcpy(&color, copy, sizeof color);
  if (color.Color.Flags & kColorFlagSystem) {
    strcpy(text, "system");
    return;
  }
  if (color.Color.Flags & kColorFlagNoColor) {
    if (own)
      strcpy(text, "none");
    return;
  }
  CalculateColorStringExt(rule.Color, reinterpret_cast<const CDCOLOR*>(copy), text, 0,
                          clientPreference);
}

} // namespace

STATUS CalculateHRuleAttributesString(const record_storage* node, attribute_text* out, WORD id,
                                      DWORD* written, WORD clientPreference) {
  CDHRULE rule;
  const char* record = NodeRecord(node, SIG_CD_HRULE);
  if (record == nullptr || !LoadRecord(record, node->length, {SIG_CD_HRULE}, sizeof rule, &rule))
    return NOERROR;
  const bool fit = (rule.Flags & kRuleFitToWindow) != 0;
  if (Wanted(id, kHRulePropFitToWindow, kHRulePropAll, written) &&
      (fit || id == kHRulePropFitToWindow))
    Mark(written, kHRulePropFitToWindow,
         AttributeTextPrintf(out, "FitToWindow='%s' ", fit ? "Yes" : "No"));
  const bool flat = (rule.Flags & kRuleNoShadow) != 0;
  if (Wanted(id, kHRulePropNo3DShadow, kHRulePropAll, written) &&
      (flat || id == kHRulePropNo3DShadow))
    Mark(written, kHRulePropNo3DShadow,
         AttributeTextPrintf(out, "No3DShadow='%s' ", flat ? "Yes" : "No"));
  if (Wanted(id, kHRulePropColor, kHRulePropAll, written)) {
    char color[kColorStringSize];
    RuleColorText(rule, node, id, clientPreference, color);
    if (color[0] != '\0')
      Mark(written, kHRulePropColor, AttributeTextPrintf(out, "Color='%s' ", color));
  }
  if (Wanted(id, kHRulePropGradientColor, kHRulePropAll, written)) {
    char color[kColorStringSize] = "none";
    if (rule.Flags & kRuleUseGradient)
      CalculateColorString(rule.FillType, color, 0, clientPreference);
    if ((rule.Flags & kRuleUseGradient) != 0 || id == kHRulePropGradientColor)
      Mark(written, kHRulePropGradientColor,
           AttributeTextPrintf(out, "GradientColor='%s' ", color));
  }
  if (Wanted(id, kHRulePropWidth, kHRulePropAll, written)) {
    const bool fitted =
        fit ? AttributeTextPrintf(out, "Width='%d%%' ", rule.Width)
            : AttributeTextPrintf(out, "Width='%3.1f' ", rule.Width / kTwipsPerInch);
    Mark(written, kHRulePropWidth, fitted);
  }
  if (Wanted(id, kHRulePropHeight, kHRulePropAll, written))
    Mark(written, kHRulePropHeight,
         AttributeTextPrintf(out, "Height='%3.1f' ", rule.Height / kTwipsPerInch));
  return NOERROR;
}
