// Length values: reading CSS-like length texts into a LENGTH_VALUE in both
// modes, writing them back, and the 32-bit clamp of numbers turned into
// integers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "generate/length_value.h"

namespace {

LENGTH_VALUE Length(WORD flags, double length, BYTE units) {
  LENGTH_VALUE value = {};
  value.Flags = flags;
  value.Length = length;
  value.Units = units;
  return value;
}

TEST(LengthValueTest, ParseReadsNumberUnitsAndFlags) {
  const struct {
    LENGTH_VALUE before;
    const char* text;
    int mode;
    WORD flags;
    double length;
    BYTE units;
  } cases[] = {
      {Length(0, 0, 0), "100px", 0, 0, 100, 2},
      {Length(0, 0, 0), "50%", 0, 0, 50, 3},
      {Length(0, 0, 0), "1.5in", 0, 0, 2160, 1},
      {Length(0, 0, 0), "2em", 0, 0, 2, 4},
      {Length(0, 0, 0), "3EX", 0, 0, 3, 5},
      // a bare number: pixels standalone, the units already there otherwise
      {Length(0, 0, 0), "12", 0, 0, 12, 2},
      {Length(0, 7, 4), "12", 1, 0, 12, 4},
      // "in" anywhere names inches; px is looked for first
      {Length(0, 0, 0), "10 inches", 0, 0, 14400, 1},
      {Length(0, 0, 0), "5px in", 0, 0, 5, 2},
      {Length(0, 0, 0), " -0.25in", 0, 0, -360, 1},
      // bare auto and inherit end a standalone read, untouched
      {Length(0, 9, 5), "auto", 0, 1, 9, 5},
      {Length(0, 9, 5), "INHERIT", 0, 2, 9, 5},
      // in another mode (or with more text) they parse on and clear units
      {Length(0, 9, 5), "auto", 1, 1, 0, 0},
      {Length(0, 9, 5), "auto 10px", 0, 1, 0, 0},
      // flags set before the call are kept and also clear units
      {Length(2, 0, 3), "40px", 1, 2, 40, 0},
      {Length(0, 0, 0), nullptr, 0, 0, 0, 2},
      {Length(0, 0, 3), "xyz", 1, 0, 0, 3},
  };
  for (const auto& c : cases) {
    LENGTH_VALUE value = c.before;
    ParseLengthValue(&value, c.text, c.mode);
    const std::string label =
        std::string(c.text ? c.text : "(null)") + " mode " + std::to_string(c.mode);
    EXPECT_EQ(value.Flags, c.flags) << label;
    EXPECT_DOUBLE_EQ(value.Length, c.length) << label;
    EXPECT_EQ(value.Units, c.units) << label;
  }
}

TEST(LengthValueTest, FormatAppendsTheTextOfEachUnit) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    const char* before;
    LENGTH_VALUE value;
    const char* text;
  } cases[] = {
      {"Left=", Length(0, 2160, 1), "Left=1.500000in"},
      {"", Length(1, 0, 0), "auto"},
      {"", Length(3, 0, 0), "auto inherit"},
      {"", Length(0, 3.9, 3), "3%"},
      {"", Length(0, 12.7, 2), "12px"},
      {"", Length(0, -12.7, 2), "-12px"},
      {"", Length(0, 6, 6), "6ch"},
      {"x", Length(0, 6, 9), "x"},
      {"", Length(0, 6, 0), ""},
      {"", Length(1, 12, 2), "auto 12px"},
      // numbers past 32 bits are clamped, NaN is 0
      {"", Length(0, 1e12, 2), "2147483647px"},
      {"", Length(0, -1e12, 3), "-2147483648%"},
      {"", Length(0, nan, 2), "0px"},
  };
  for (const auto& c : cases) {
    char out[128];
    std::snprintf(out, sizeof out, "%s", c.before);
    FormatLengthValue(&c.value, out, sizeof out);
    EXPECT_STREQ(out, c.text) << c.value.Length << " units " << int{c.value.Units};
  }
}

TEST(LengthValueTest, FormatWritesNothingThatWouldNotFit) {
  const LENGTH_VALUE value = Length(0, 2160, 1);
  char out[15] = "Left=";
  FormatLengthValue(&value, out, sizeof out); // "1.500000in" and its NUL need 11 more bytes
  EXPECT_STREQ(out, "Left=");
  char room[16] = "Left=";
  FormatLengthValue(&value, room, sizeof room);
  EXPECT_STREQ(room, "Left=1.500000in");
  const LENGTH_VALUE huge = Length(0, 1e300, 1);
  char big[128] = "";
  FormatLengthValue(&huge, big, sizeof big);
  EXPECT_EQ(std::strlen(big), 48u) << big; // kept to the range of a float
}

TEST(LengthValueTest, ClampKeepsIntegersInsideThirtyTwoBits) {
  EXPECT_EQ(ClampToInt32(-12.9), -12);
  EXPECT_EQ(ClampToInt32(std::numeric_limits<double>::infinity()), INT32_MAX);
  EXPECT_EQ(ClampToInt32(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(static_cast<WORD>(ClampToInt32(-0.25 * 1440)), 0xFE98);
}

} // namespace
