// Colour strings: the palette and name tables, parsing colour texts into a
// palette index and RGB value, and writing colour strings of indexes and of
// colour records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "generate/color_string.h"
#include "host/host_testing.h"
#include "store/rtitem_internal.h"

namespace {

constexpr int kNotes = 1;
constexpr int kWeb = 0;

/* Sets the colour naming for one test and puts the old one back. */
class ColorStringTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    saved_ = global_client_preference;
  }
  void TearDown() override { global_client_preference = saved_; }
  WORD saved_ = 1;
};

/* A colour record: signature 0xD2, length, COLOR_VALUE, then the gradient
 * colour when the length asks for it. */
std::vector<BYTE> ColorRecord(BYTE length, WORD flags, BYTE red, BYTE green, BYTE blue,
                              std::vector<BYTE> tail = {}) {
  std::vector<BYTE> bytes = {
      0xD2, length, static_cast<BYTE>(flags), static_cast<BYTE>(flags >> 8), red, green, blue, 0};
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  return bytes;
}

const CDCOLOR* AsRecord(const std::vector<BYTE>& bytes) {
  return reinterpret_cast<const CDCOLOR*>(bytes.data());
}

std::vector<int> IndexesOf(DWORD rgb) {
  std::vector<int> found;
  for (int i = 0; i < 240; ++i) {
    if (RGB_TABLE[i] == rgb)
      found.push_back(i);
  }
  return found;
}

// ---- tables ----

TEST_F(ColorStringTest, PaletteHoldsTheColoursAsBlueGreenRed) {
  struct Case {
    int index;
    DWORD rgb;
  } cases[] = {
      {0, 0x000000},   {1, 0xFFFFFF},   {2, 0x0000FF},   {3, 0x00FF00},   {4, 0xFF0000},
      {8, 0x000080},   {15, 0xC0C0C0},  {17, 0xFFEFCE},  {45, 0xFFC0E4},  {128, 0xE01F25},
      {167, 0x002F80}, {214, 0x7FC2BC}, {215, 0x71B2CF}, {223, 0x2F2F2F}, {224, 0x7F604F},
      {238, 0x813F62}, {239, 0x000000}, {240, 0x000000},
  };
  for (const Case& c : cases)
    EXPECT_EQ(RGB_TABLE[c.index], c.rgb) << c.index;
}

TEST_F(ColorStringTest, PaletteRepeatsTheBasicColoursWhereTheTableSays) {
  struct Case {
    DWORD rgb;
    std::vector<int> indexes;
  } cases[] = {
      {0xFFFFFF, {1, 16, 31}}, {0x000000, {0, 239}},  {0x0000FF, {2, 168}},  {0x00FF00, {3, 84}},
      {0xFF0000, {4, 145}},    {0xFF00FF, {5, 140}},  {0x00FFFF, {6, 86}},   {0xFFFF00, {7, 66}},
      {0x000080, {8, 186}},    {0x800000, {10, 190}}, {0x800080, {11, 188}}, {0x808080, {14, 175}},
      {0xC0C0C0, {15, 111}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IndexesOf(c.rgb), c.indexes) << std::hex << c.rgb;
}

TEST_F(ColorStringTest, ExtendedTableHoldsItsRowsAndEndsWithAZeroRow) {
  EXPECT_STREQ(ExtendedColorChoices[0].name, "AliceBlue");
  EXPECT_STREQ(ExtendedColorChoices[0].hex, "F0F8FF");
  EXPECT_STREQ(ExtendedColorChoices[0].rgb_text, "RGB240,248,255");
  EXPECT_STREQ(ExtendedColorChoices[142].name, "Yellow");
  EXPECT_EQ(ExtendedColorChoices[143].name, nullptr);
  EXPECT_EQ(ExtendedColorChoices[143].hex, nullptr);
  for (int i = 0; i < 143; ++i) {
    const extended_color_choice& row = ExtendedColorChoices[i];
    ASSERT_NE(row.name, nullptr) << i;
    EXPECT_EQ(row.index, 0) << row.name;
    EXPECT_EQ(std::strlen(row.hex), 6u) << row.name;
    EXPECT_EQ(IsAllHex(row.hex), 1) << row.name;
    unsigned red = 0, green = 0, blue = 0;
    std::sscanf(row.hex, "%2x%2x%2x", &red, &green, &blue);
    EXPECT_EQ(std::string(row.rgb_text), "RGB" + std::to_string(red) + "," + std::to_string(green) +
                                             "," + std::to_string(blue))
        << row.name;
  }
}

// ---- parsing ----

struct ParseCase {
  const char* text;
  int naming;
  WORD incoming;
  STATUS status;
  WORD index;
  DWORD rgb;
};

TEST_F(ColorStringTest, ParseColorStringGivesIndexAndRgb) {
  const ParseCase cases[] = {
      // the naming decides GREEN alone
      {"GREEN", kNotes, 0, 0, 3, 0x00FF00},
      {"GREEN", kWeb, 0, 0, 9, 0x008000},
      {"DarkGreen", kNotes, 0, 0, 9, 0x008000},
      {"DarkGreen", kWeb, 0, 0, 9, 0x008000},
      {"lime", kNotes, 0, 0, 3, 0x00FF00},
      // the extended table, reached only by single words that no name word takes
      {"Bisque", kNotes, 0, 0, 0, 0xC4E4FF},
      {"bisque", kNotes, 0, 0, 0, 0xC4E4FF},
      {"DarkGray", kNotes, 0, 0, 0, 0xA9A9A9},
      {"DarkBlue", kNotes, 0, 0, 10, 0x800000},
      {"LightGrey", kNotes, 0, 0, 15, 0xC0C0C0},
      {"Alice Blue", kNotes, 0, 0, 4, 0xFF0000},
      // the order of the name words, not of the text, breaks ties
      {"Blue Red", kNotes, 0, 0, 2, 0x0000FF},
      {"Navy Red", kNotes, 0, 0, 10, 0x800000},
      // names nothing
      {"Foo", kNotes, 0, 0, 0, 0},
      {"", kNotes, 0, 0, 0, 0},
      {"Reddish", kNotes, 0, 0, 0, 0},
      {"Foo Bar", kNotes, 0, 1028, 0, 0},
      // hexadecimal forms take the lowest equal palette index
      {"#abc", kNotes, 0, 0, 0, 0xCCBBAA},
      {"#12345", kNotes, 0, 1028, 0, 0},
      {"#FFFFFF", kNotes, 0, 0, 1, 0xFFFFFF},
      {"#000000", kNotes, 0, 0, 0, 0},
      {"#0000FFxyz", kNotes, 0, 0, 4, 0xFF0000},
      {"#GG0000", kNotes, 0, 0, 0, 0},
      {"face00", kNotes, 0, 0, 0, 0x00CEFA},
      {"ffffff", kNotes, 0, 0, 1, 0xFFFFFF},
      // COLOR<n>, in one word and in several
      {"COLOR300", kNotes, 0, 0, 300, 0},
      {"COLOR5", kNotes, 0, 0, 5, 0xFF00FF},
      {"color 12", kNotes, 0, 0, 12, 0x008080},
      {"COLOR", kNotes, 0, 0, 0, 0},
      // the RGB form takes the highest equal palette index
      {"RGB(0,0,255)", kNotes, 0, 0, 145, 0xFF0000},
      {"RGB 0 0 255", kNotes, 0, 0, 239, 0},
      {"RGB255,255,255", kNotes, 0, 0, 31, 0xFFFFFF},
      {"RGB0,0,0", kNotes, 0, 0, 239, 0},
      {"rgb(255,0,0)", kNotes, 0, 0, 168, 0x0000FF},
      {"RGB10,20,30 GRADIENT40,50,60", kNotes, 0, 0, 0, 0x1E140A},
      // WINDOWTEXT keeps the caller's colour
      {"WindowText", kNotes, 7, 0, 7, 0xFFFF00},
      {"WINDOWTEXT", kNotes, 300, 0, 300, 0},
      // a word inside a longer word does not hide the same word standing alone
      {"HighlightBlue Blue", kNotes, 0, 0, 4, 0xFF0000},
  };
  for (const ParseCase& c : cases) {
    global_client_preference = static_cast<WORD>(c.naming);
    WORD index = c.incoming;
    DWORD rgb = 0xDEADBEEF;
    EXPECT_EQ(ParseColorString(c.text, &index, &rgb), c.status) << c.text;
    EXPECT_EQ(index, c.index) << c.text;
    EXPECT_EQ(rgb, c.rgb) << c.text;
  }
}

TEST_F(ColorStringTest, NullTextParsesAsEmpty) {
  WORD index = 9;
  DWORD rgb = 9;
  EXPECT_EQ(ParseColorString(nullptr, &index, &rgb), 0);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(rgb, 0u);
}

TEST_F(ColorStringTest, TranslateColorToDWORDReadsEachForm) {
  struct Case {
    const char* text;
    DWORD rgb;
  } cases[] = {
      {"RGB(255,128,0)", 0x0080FF},
      {"rgb( 1, 2, 3)", 0x030201},
      {"RGB 1 2 3", 0x000001},
      {"RGB1,2", 0x000201},
      {"RGB(x,1,2)", 0x020100},
      {"RGB300,0,0", 300},  // no range check on the parts
      {"#abc", 0xCCBBAA},
      {"#1G2233", 0x332201},  // a pair reads as far as it is hexadecimal
      {"#112233445566", 0x332211},
      {"abcdef", 0xEFCDAB},
      {"Red", 0x0000FF},
      {"Blue Red", 0x0000FF},
      {"nonsense words", 0},
      {"#12345", 0},
      {"", 0},
      {nullptr, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TranslateColorToDWORD(c.text), c.rgb) << (c.text ? c.text : "(null)");
}

TEST_F(ColorStringTest, IsAllHexAcceptsOnlyHexadecimalDigits) {
  EXPECT_EQ(IsAllHex(""), 1);
  EXPECT_EQ(IsAllHex("0123456789abcdefABCDEF"), 1);
  EXPECT_EQ(IsAllHex("0g"), 0);
  EXPECT_EQ(IsAllHex("12 34"), 0);
}

TEST_F(ColorStringTest, AlphaTokenAndStartFindWordsBetweenNonLetters) {
  struct Case {
    const char* text;
    const char* word;
    int token;  // offset, or -1 for none
    int start;
  } cases[] = {
      {"BLUE RED", "RED", 5, 5},    {"red", "RED", 0, 0},
      {"REDDISH", "RED", -1, 0},    {"XRED", "RED", -1, -1},
      {"ITALICS", "ITALIC", -1, 0}, {"+italic", "ITALIC", 1, 1},
      {"a-red-b", "RED", 2, 2},     {"COLOR300", "COLOR", 0, 0},
      {"redRED red", "RED", 7, 0},  {"HIGHLIGHTBLUE BLUE", "BLUE", 14, 14},
      {"BLU", "BLUE", -1, -1},      {"", "RED", -1, -1},
      {"RED", "", -1, -1},
  };
  for (const Case& c : cases) {
    const char* token = CheckAlphaToken(c.text, c.word);
    const char* start = CheckAlphaStart(c.text, c.word);
    EXPECT_EQ(token ? int(token - c.text) : -1, c.token) << c.text << " / " << c.word;
    EXPECT_EQ(start ? int(start - c.text) : -1, c.start) << c.text << " / " << c.word;
  }
  EXPECT_EQ(CheckAlphaToken(nullptr, "RED"), nullptr);
}

// ---- writing ----

TEST_F(ColorStringTest, ModeZeroWritesTheNamesOfBothNamings) {
  const char* notes[] = {"Black",      "White",     "Red",      "Green",
                         "Blue",       "Magenta",   "Yellow",   "Cyan",
                         "DarkRed",    "DarkGreen", "DarkBlue", "DarkMagenta",
                         "DarkYellow", "DarkCyan",  "Gray",     "LightGray"};
  const char* web[] = {"Black",  "White", "Red",  "Lime",   "Blue",  "Fuchsia", "Yellow", "Aqua",
                       "Maroon", "Green", "Navy", "Purple", "Olive", "Teal",    "Gray",   "Silver"};
  char out[kColorStringSize];
  for (WORD i = 0; i < 16; ++i) {
    global_client_preference = kNotes;
    EXPECT_EQ(CalculateColorString(i, out, 0), 0);
    EXPECT_STREQ(out, notes[i]);
    global_client_preference = kWeb;
    CalculateColorString(i, out, 0);
    EXPECT_STREQ(out, web[i]);
  }
}

TEST_F(ColorStringTest, CalculateColorStringWritesEachMode) {
  struct Case {
    WORD index;
    int mode;
    const char* text;
  } cases[] = {
      {16, 0, "COLOR16"},      {300, 0, "COLOR300"},        {239, 0, "COLOR239"},
      {2, 1, "rgb(255,0,0)"},  {15, 1, "rgb(192,192,192)"}, {16, 1, "rgb(0,0,0)"},
      {4, -3, "rgb(0,0,255)"}, {2, 2, "#ff0000"},           {13, 2, "#008080"},
      {15, 2, "#C0C0C0"},      {16, 2, "#000000"},          {1, 7, "#ffffff"},
  };
  char out[kColorStringSize];
  for (const Case& c : cases) {
    EXPECT_EQ(CalculateColorString(c.index, out, c.mode), 0);
    EXPECT_STREQ(out, c.text) << c.index << " mode " << c.mode;
  }
}

TEST_F(ColorStringTest, CalculateColorStringExtPrefersTheRecordsRgb) {
  struct Case {
    std::vector<BYTE> record;  // empty: no record
    WORD index;
    DWORD mode;
    int naming;
    const char* text;
  } cases[] = {
      // a length-8 record holding the index's own basic colour writes the name
      {ColorRecord(8, 0x0001, 0, 255, 0), 3, 0, kNotes, "Green"},
      {ColorRecord(8, 0x0001, 0, 255, 0), 3, 0, kWeb, "Lime"},
      {ColorRecord(8, 0x0001, 0, 255, 0), 84, 0, kNotes, "RGB0,255,0"},
      {ColorRecord(8, 0x0001, 10, 20, 30), 0, 0, kNotes, "RGB10,20,30"},
      // a gradient follows
      {ColorRecord(14, 0x0011, 10, 20, 30, {0x01, 0, 40, 50, 60, 0}), 0, 0, kNotes,
       "RGB10,20,30 GRADIENT40,50,60"},
      {ColorRecord(14, 0x0001, 10, 20, 30, {0x01, 0, 40, 50, 60, 0}), 0, 0, kNotes, "RGB10,20,30"},
      // a longer record never writes the name
      {ColorRecord(14, 0x0011, 0, 0, 255, {0x01, 0, 1, 2, 3, 0}), 4, 0, kNotes,
       "RGB0,0,255 GRADIENT1,2,3"},
      // a record too short to hold the gradient colour writes none
      {ColorRecord(10, 0x0011, 10, 20, 30, {0, 0}), 0, 0, kNotes, "RGB10,20,30"},
      // no RGB flag, or no record: the index's colour string
      {ColorRecord(8, 0x0000, 10, 20, 30), 4, 0, kNotes, "Blue"},
      {ColorRecord(8, 0x8000, 10, 20, 30), 200, 0, kNotes, "COLOR200"},
      {{}, 4, 0, kWeb, "Blue"},
      // other modes write rgb()
      {ColorRecord(8, 0x0001, 10, 20, 30), 4, 1, kNotes, "rgb(10,20,30)"},
      {ColorRecord(8, 0x0001, 10, 20, 30), 4, 2, kNotes, "rgb(10,20,30)"},
      {ColorRecord(8, 0x0000, 10, 20, 30), 4, 2, kNotes, "rgb(0,0,255)"},
      {{}, 200, 1, kNotes, "rgb(0,0,0)"},
  };
  char out[kColorStringSize];
  for (const Case& c : cases) {
    global_client_preference = static_cast<WORD>(c.naming);
    const CDCOLOR* rec = c.record.empty() ? nullptr : AsRecord(c.record);
    EXPECT_EQ(CalculateColorStringExt(c.index, rec, out, c.mode), 0);
    EXPECT_STREQ(out, c.text);
  }
}

TEST_F(ColorStringTest, RecordAtAnOddAddressIsReadBytewise) {
  std::vector<BYTE> record = ColorRecord(14, 0x0011, 1, 2, 3, {0x01, 0, 4, 5, 6, 0});
  std::vector<BYTE> buffer(1 + record.size());
  std::memcpy(buffer.data() + 1, record.data(), record.size());
  char out[kColorStringSize];
  CalculateColorStringExt(0, reinterpret_cast<const CDCOLOR*>(buffer.data() + 1), out, 0);
  EXPECT_STREQ(out, "RGB1,2,3 GRADIENT4,5,6");
}

// ---- round trips ----

TEST_F(ColorStringTest, EveryIndexParsesBackFromItsModeZeroString) {
  char out[kColorStringSize];
  for (int naming : {kNotes, kWeb}) {
    global_client_preference = static_cast<WORD>(naming);
    for (WORD i = 0; i < 240; ++i) {
      CalculateColorString(i, out, 0);
      WORD index = 0;
      DWORD rgb = 0;
      ASSERT_EQ(ParseColorString(out, &index, &rgb), 0) << out;
      EXPECT_EQ(index, i) << out;
      EXPECT_EQ(rgb, RGB_TABLE[i]) << out;
    }
  }
}

TEST_F(ColorStringTest, BasicColoursParseBackToTheirRgbInEveryMode) {
  char out[kColorStringSize];
  for (int mode : {1, 2}) {
    for (WORD i = 0; i < 16; ++i) {
      CalculateColorString(i, out, mode);
      WORD index = 0;
      DWORD rgb = 0;
      ASSERT_EQ(ParseColorString(out, &index, &rgb), 0) << out;
      EXPECT_EQ(rgb, RGB_TABLE[i]) << out;
    }
  }
}

}  // namespace
