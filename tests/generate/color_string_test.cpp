// Colour strings: parsing colour texts into a palette index and RGB value,
// writing colour strings of indexes and of colour records, and the round
// trip of every written string through the parser.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "generate/color_string.h"
#include "host/host_testing.h"
#include "store/rtitem_internal.h"

namespace {

constexpr WORD kNotes = 1;
constexpr WORD kWeb = 0;

class ColorStringTest : public ::testing::Test {
protected:
  void SetUp() override { HostTestReset(); }
};

/* A colour record: signature 0xD2, length, COLOR_VALUE, then the gradient
 * colour when the length asks for it. */
std::vector<BYTE> ColorRecord(BYTE length, WORD flags, BYTE red, BYTE green, BYTE blue,
                              std::vector<BYTE> tail = {}) {
  const BYTE head[] = {
      0xD2, length, static_cast<BYTE>(flags), static_cast<BYTE>(flags >> 8), red, green, blue, 0};
  std::vector<BYTE> bytes(sizeof head + tail.size());
  std::copy(std::begin(head), std::end(head), bytes.begin());
  std::copy(tail.begin(), tail.end(), bytes.begin() + sizeof head);
  return bytes;
}

TEST_F(ColorStringTest, ParseColorStringGivesIndexAndRgb) {
  const struct {
    const char* text;
    WORD naming;
    WORD incoming;
    STATUS status;
    WORD index;
    DWORD rgb;
  } cases[] = {
      // the naming decides GREEN alone
      {"GREEN", kNotes, 0, 0, 3, 0x00FF00},
      {"GREEN", kWeb, 0, 0, 9, 0x008000},
      {"lime", kNotes, 0, 0, 3, 0x00FF00},
      {"DarkGreen", kNotes, 0, 0, 9, 0x008000},
      {"DarkGreen", kWeb, 0, 0, 9, 0x008000},
      // the extended table, reached only by single words that no name word takes
      {"bisque", kNotes, 0, 0, 0, 0xC4E4FF},
      {"DarkBlue", kNotes, 0, 0, 10, 0x800000},
      {"LightGrey", kNotes, 0, 0, 15, 0xC0C0C0},
      {"DarkGray", kNotes, 0, 0, 0, 0xA9A9A9},
      {"Alice Blue", kNotes, 0, 0, 4, 0xFF0000},
      // the order of the name words, not of the text, breaks ties
      {"Blue Red", kNotes, 0, 0, 2, 0x0000FF},
      {"Navy Red", kNotes, 0, 0, 10, 0x800000},
      // names nothing
      {"Reddish", kNotes, 0, 0, 0, 0},
      {"", kNotes, 0, 0, 0, 0},
      {nullptr, kNotes, 9, 0, 0, 0},
      {"Foo Bar", kNotes, 0, kColorNotRecognised, 0, 0},
      // hexadecimal forms take the lowest equal palette index
      {"#abc", kNotes, 0, 0, 0, 0xCCBBAA},
      {"#12345", kNotes, 0, kColorNotRecognised, 0, 0},
      {"#0000FFxyz", kNotes, 0, 0, 4, 0xFF0000},
      {"#GG0000", kNotes, 0, 0, 0, 0},
      {"face00", kNotes, 0, 0, 0, 0x00CEFA},
      // COLOR<n>, in one word and in several
      {"COLOR300", kNotes, 0, 0, 300, 0},
      {"color 12", kNotes, 0, 0, 12, 0x008080},
      {"COLOR", kNotes, 0, 0, 0, 0},
      // the RGB form takes the highest equal palette index
      {"RGB(0,0,255)", kNotes, 0, 0, 145, 0xFF0000},
      {"RGB 0 0 255", kNotes, 0, 0, 239, 0},
      {"RGB255,255,255", kNotes, 0, 0, 31, 0xFFFFFF},
      {"RGB10,20,30 GRADIENT40,50,60", kNotes, 0, 0, 0, 0x1E140A},
      // WINDOWTEXT keeps the caller's colour
      {"WindowText", kNotes, 7, 0, 7, 0xFFFF00},
      // a word inside a longer word does not hide the same word standing alone
      {"HighlightBlue Blue", kNotes, 0, 0, 4, 0xFF0000},
  };
  for (const auto& c : cases) {
    WORD index = c.incoming;
    DWORD rgb = 0xDEADBEEF;
    const char* shown = c.text != nullptr ? c.text : "(null)";
    EXPECT_EQ(ParseColorString(c.text, &index, &rgb, c.naming), c.status) << shown;
    EXPECT_EQ(index, c.index) << shown;
    EXPECT_EQ(rgb, c.rgb) << shown;
  }
}

TEST_F(ColorStringTest, TranslateColorToDWORDReadsEachForm) {
  const struct {
    const char* text;
    DWORD rgb;
  } cases[] = {
      {"RGB(255,128,0)", 0x0080FF}, {"rgb( 1, 2, 3)", 0x030201}, {"RGB 1 2 3", 0x000001},
      {"RGB1,2", 0x000201},         {"RGB(x,1,2)", 0x020100},
      {"RGB300,0,0", 300}, // no range check on the parts
      {"#abc", 0xCCBBAA},           {"#1G2233", 0x332201}, // a pair reads as far as it is hex
      {"#112233445566", 0x332211},  {"abcdef", 0xEFCDAB},  {"Blue Red", 0x0000FF},
      {"nonsense words", 0},        {"#12345", 0},         {nullptr, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TranslateColorToDWORD(c.text, kNotes), c.rgb) << (c.text ? c.text : "(null)");
  EXPECT_EQ(IsAllHex(""), 1);
  EXPECT_EQ(IsAllHex("0123456789abcdefABCDEF"), 1);
  EXPECT_EQ(IsAllHex("12 34"), 0);
}

TEST_F(ColorStringTest, AlphaTokenAndStartFindWordsBetweenNonLetters) {
  const struct {
    const char* text;
    const char* word;
    int token; // offset, or -1 for none
    int start;
  } cases[] = {
      {"BLUE RED", "RED", 5, 5},    {"REDDISH", "RED", -1, 0},   {"XRED", "RED", -1, -1},
      {"+italic", "ITALIC", 1, 1},  {"a-red-b", "RED", 2, 2},    {"COLOR300", "COLOR", 0, 0},
      {"redRED red", "RED", 7, 0},  {"BLU", "BLUE", -1, -1},     {"RED", "", -1, -1},
  };
  for (const auto& c : cases) {
    const char* token = CheckAlphaToken(c.text, c.word);
    const char* start = CheckAlphaStart(c.text, c.word);
    EXPECT_EQ(token ? int(token - c.text) : -1, c.token) << c.text << " / " << c.word;
    EXPECT_EQ(start ? int(start - c.text) : -1, c.start) << c.text << " / " << c.word;
  }
  EXPECT_EQ(CheckAlphaToken(nullptr, "RED"), nullptr);
}

TEST_F(ColorStringTest, WritersTakeTheNamingTheModeAndTheRecordsRgb) {
  const struct {
    std::vector<BYTE> record; // empty: CalculateColorString of the index alone
    WORD index;
    int mode;
    WORD naming;
    const char* text;
  } cases[] = {
      {{}, 3, 0, kNotes, "Green"},
      {{}, 3, 0, kWeb, "Lime"},
      {{}, 9, 0, kWeb, "Green"},
      {{}, 16, 0, kNotes, "COLOR16"},
      {{}, 300, 0, kNotes, "COLOR300"},
      {{}, 2, 1, kNotes, "rgb(255,0,0)"},
      {{}, 4, -3, kNotes, "rgb(0,0,255)"},
      {{}, 13, 2, kNotes, "#008080"},
      {{}, 1, 7, kNotes, "#ffffff"},
      // a length-8 record holding the index's own basic colour writes the name
      {ColorRecord(8, 0x0001, 0, 255, 0), 3, 0, kWeb, "Lime"},
      {ColorRecord(8, 0x0001, 0, 255, 0), 84, 0, kNotes, "RGB0,255,0"},
      // a gradient follows; a longer record never writes the name
      {ColorRecord(14, 0x0011, 10, 20, 30, {0x01, 0, 40, 50, 60, 0}), 0, 0, kNotes,
       "RGB10,20,30 GRADIENT40,50,60"},
      {ColorRecord(14, 0x0001, 10, 20, 30, {0x01, 0, 40, 50, 60, 0}), 0, 0, kNotes, "RGB10,20,30"},
      {ColorRecord(14, 0x0011, 0, 0, 255, {0x01, 0, 1, 2, 3, 0}), 4, 0, kNotes,
       "RGB0,0,255 GRADIENT1,2,3"},
      // a record too short to hold the gradient colour writes none
      {ColorRecord(10, 0x0011, 10, 20, 30, {0, 0}), 0, 0, kNotes, "RGB10,20,30"},
      // no RGB flag: the index's colour string
      {ColorRecord(8, 0x8000, 10, 20, 30), 200, 0, kNotes, "COLOR200"},
      {ColorRecord(8, 0x0000, 10, 20, 30), 4, 2, kNotes, "rgb(0,0,255)"},
      // other modes write rgb()
      {ColorRecord(8, 0x0001, 10, 20, 30), 4, 2, kNotes, "rgb(10,20,30)"},
  };
  for (const auto& c : cases) {
    char out[kColorStringSize];
    if (c.record.empty()) {
      EXPECT_EQ(CalculateColorString(c.index, out, c.mode, c.naming), 0);
    } else {
      // At an odd address: the record is read byte by byte.
      std::vector<BYTE> buffer(1, 0);
      buffer.insert(buffer.end(), c.record.begin(), c.record.end());
      const auto* record = reinterpret_cast<const CDCOLOR*>(buffer.data() + 1);
      EXPECT_EQ(CalculateColorStringExt(c.index, record, out, static_cast<DWORD>(c.mode), c.naming),
                0);
    }
    EXPECT_STREQ(out, c.text) << c.index << " mode " << c.mode;
  }
  char out[kColorStringSize];
  EXPECT_EQ(CalculateColorStringExt(4, nullptr, out, 0, kNotes), 0);
  EXPECT_STREQ(out, "Blue") << "no record: the index's colour string";
}

TEST_F(ColorStringTest, WrittenStringsParseBackToTheirIndexOrRgb) {
  char out[kColorStringSize];
  for (WORD naming : {kNotes, kWeb}) {
    for (WORD i = 0; i < kPaletteColors; ++i) {
      CalculateColorString(i, out, 0, naming);
      WORD index = 0;
      DWORD rgb = 0;
      ASSERT_EQ(ParseColorString(out, &index, &rgb, naming), 0) << out;
      EXPECT_EQ(index, i) << out;
      EXPECT_EQ(rgb, RGB_TABLE[i]) << out;
    }
  }
  for (int mode : {1, 2}) {
    for (WORD i = 0; i < kBasicColors; ++i) {
      CalculateColorString(i, out, mode, kNotes);
      WORD index = 0;
      DWORD rgb = 0;
      ASSERT_EQ(ParseColorString(out, &index, &rgb, kNotes), 0) << out;
      EXPECT_EQ(rgb, RGB_TABLE[i]) << out;
    }
  }
  // The extended table's rows agree with themselves and end with a zero row.
  int rows = 0;
  for (const extended_color_choice* row = ExtendedColorChoices; row->name != nullptr; ++row) {
    unsigned red = 0, green = 0, blue = 0;
    ASSERT_EQ(std::sscanf(row->hex, "%2x%2x%2x", &red, &green, &blue), 3) << row->name;
    EXPECT_EQ(std::string(row->rgb_text),
              "RGB" + std::to_string(red) + "," + std::to_string(green) + "," + std::to_string(blue));
    ++rows;
  }
  EXPECT_EQ(rows, 143);
}

} // namespace
