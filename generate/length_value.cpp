/*
 * Length values: reading "100px", "1.5in", "auto" and the like into a
 * LENGTH_VALUE and writing a LENGTH_VALUE back as such a text.
 */
#include "generate/length_value.h"

#include <float.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "velko/property_string.h"

namespace {

constexpr double kTwipsPerInch = 1440.0;

/* The units a text names, first match in this order; 0xFF for none. */
struct unit_word {
  const char* word;
  BYTE units;
};
constexpr unit_word kUnitWords[] = {
    {"px", kLengthUnitsPixels},     {"%", kLengthUnitsPercent}, {"in", kLengthUnitsTwips},
    {"ch", kLengthUnitsCharacters}, {"em", kLengthUnitsEm},     {"ex", kLengthUnitsEx},
};

} // namespace

int32_t ClampToInt32(double number) {
  if (isnan(number))
    return 0;
  if (number >= 2147483647.0)
    return INT32_MAX;
  if (number <= -2147483648.0)
    return INT32_MIN;
  return static_cast<int32_t>(number);
}

void ParseLengthValue(LENGTH_VALUE* value, const char* text, int mode) {
  if (text == nullptr)
    text = "";
  const size_t length = strlen(text);
  if (stristr(text, "auto") != nullptr) {
    value->Flags |= kLengthAuto;
    if (mode == 0 && length == 4)
      return;
  }
  if (stristr(text, "inherit") != nullptr) {
    value->Flags |= kLengthInherit;
    if (mode == 0 && length == 7)
      return;
  }
  value->Length = strtod(text, nullptr);
  if (mode == 0)
    value->Units = kLengthUnitsPixels;
  if (value->Flags != 0) {
    value->Units = kLengthUnitsNone;
    return;
  }
  for (const unit_word& unit : kUnitWords) {
    if (stristr(text, unit.word) == nullptr)
      continue;
    value->Units = unit.units;
    if (unit.units == kLengthUnitsTwips)
      value->Length *= kTwipsPerInch;
    return;
  }
}

void FormatLengthValue(const LENGTH_VALUE* value, char* out, size_t outSize) {
  if (out == nullptr || outSize == 0)
    return;
  char text[kLengthValueTextSize + 1] = "";
  size_t used = 0;
  auto add = [&](const char* format, auto number) {
    const int written = snprintf(text + used, sizeof text - used, format, number);
    if (written > 0)
      used = strnlen(text, sizeof text);
  };
  if (value->Flags & kLengthAuto)
    add("%s", "auto ");
  if (value->Flags & kLengthInherit)
    add("%s", "inherit ");
  const int32_t whole = ClampToInt32(value->Length);
  switch (value->Units) {
  case kLengthUnitsTwips: {
    /* Printed at single precision, as the host does; kept inside the
     * range of a float. */
    double inches = isnan(value->Length) ? 0.0 : value->Length / kTwipsPerInch;
    inches = fmin(fmax(inches, -static_cast<double>(FLT_MAX)), static_cast<double>(FLT_MAX));
    add("%fin", static_cast<double>(static_cast<float>(inches)));
    break;
  }
  case kLengthUnitsPixels: add("%dpx", whole); break;
  case kLengthUnitsPercent: add("%d%%", whole); break;
  case kLengthUnitsEm: add("%dem", whole); break;
  case kLengthUnitsEx: add("%dex", whole); break;
  case kLengthUnitsCharacters: add("%dch", whole); break;
  default: break;
  }
  const size_t start = strnlen(out, outSize - 1);
  out[start] = '\0';
  if (used > outSize - 1 - start)
    return;
  memcpy(out + start, text, used + 1);
  const size_t end = start + used;
  if (value->Flags != 0 && end > 0 && out[end - 1] == ' ')
    out[end - 1] = '\0';
}
