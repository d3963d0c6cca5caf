/*
 * Colour strings: parsing a colour text into a palette index and an RGB
 * value, and writing the colour string of a palette index or of a colour
 * record. Also the palette itself and the tables of colour names.
 *
 * Parsing has two forms. A text of one word (no blank, no RGB or '#' at its
 * start) always succeeds: six hexadecimal digits, a colour name word,
 * COLOR<n>, WINDOWTEXT or a name of the extended table, and black when it
 * names nothing. A text of several words fails with 1028 when it names
 * nothing. Hexadecimal forms take the lowest palette index of an RGB value,
 * the RGB form the highest.
 */
#include "generate/color_string.h"

#include <stdio.h>
#include <string.h>

#include "store/rtitem_internal.h"

namespace {

constexpr DWORD Rgb(DWORD rrggbb) {
  return ((rrggbb >> 16) & 0xFF) | (rrggbb & 0xFF00) | ((rrggbb & 0xFF) << 16);
}

}  // namespace

// clang-format off
/* The palette as RRGGBB, six entries a line. */
const DWORD RGB_TABLE[241] = {
    Rgb(0x000000), Rgb(0xFFFFFF), Rgb(0xFF0000), Rgb(0x00FF00), Rgb(0x0000FF), Rgb(0xFF00FF),
    Rgb(0xFFFF00), Rgb(0x00FFFF), Rgb(0x800000), Rgb(0x008000), Rgb(0x000080), Rgb(0x800080),
    Rgb(0x808000), Rgb(0x008080), Rgb(0x808080), Rgb(0xC0C0C0), Rgb(0xFFFFFF), Rgb(0xCEEFFF),
    Rgb(0xC2FFFF), Rgb(0xD0FFFF), Rgb(0xBFFFE0), Rgb(0xDFFFE0), Rgb(0xFFFFE0), Rgb(0xFFEFC2),
    Rgb(0xFFF1E0), Rgb(0xFFE0E0), Rgb(0xFFE0E8), Rgb(0xFFE0F1), Rgb(0xFFE0FF), Rgb(0xF5E0FF),
    Rgb(0xE6E0FF), Rgb(0xFFFFFF), Rgb(0xDCE1FF), Rgb(0xB0E1FF), Rgb(0x7FFFFF), Rgb(0xB4F1F1),
    Rgb(0x91FFC2), Rgb(0xD5FFC1), Rgb(0xFFFFA4), Rgb(0xFFE2A1), Rgb(0xFFE1C0), Rgb(0xFFBFBF),
    Rgb(0xFFBFD2), Rgb(0xFFBFE1), Rgb(0xFDC1FF), Rgb(0xE4C0FF), Rgb(0xCEC0FF), Rgb(0xF7F7F7),
    Rgb(0xB6C0FF), Rgb(0x81C2FF), Rgb(0x35FFFF), Rgb(0x80F1F1), Rgb(0x7FFF7F), Rgb(0xCAFF82),
    Rgb(0xFFFF7F), Rgb(0xFFE082), Rgb(0xFFC082), Rgb(0xFF9F9F), Rgb(0xFF9FC2), Rgb(0xFF9FE2),
    Rgb(0xFF9FFF), Rgb(0xCF9FFF), Rgb(0xA99FFF), Rgb(0xEFEFEF), Rgb(0x9F9FFF), Rgb(0x719FFF),
    Rgb(0x00FFFF), Rgb(0x74E0E0), Rgb(0x32FF41), Rgb(0xC7FF42), Rgb(0xFFFF42), Rgb(0xFFBF00),
    Rgb(0xEF9152), Rgb(0xFF8080), Rgb(0xFF82C0), Rgb(0xFF81E0), Rgb(0xFF7FFF), Rgb(0xC282FF),
    Rgb(0xA082FF), Rgb(0xE1E1E1), Rgb(0x8080FF), Rgb(0x4181FF), Rgb(0x18E1FF), Rgb(0x40E1E1),
    Rgb(0x00FF00), Rgb(0xB2FF00), Rgb(0xFFFF00), Rgb(0xE0A100), Rgb(0xFF8121), Rgb(0xFF8161),
    Rgb(0xFF60A1), Rgb(0xFF62C0), Rgb(0xFF5FFF), Rgb(0xAF60FF), Rgb(0x8860FF), Rgb(0xD2D2D2),
    Rgb(0x4040FF), Rgb(0x1E42FF), Rgb(0x18BFFF), Rgb(0x00E1E1), Rgb(0x00E100), Rgb(0xADE100),
    Rgb(0xE0E000), Rgb(0xBF8200), Rgb(0xFF8000), Rgb(0xFF8141), Rgb(0xFF4282), Rgb(0xFF40C1),
    Rgb(0xF942FF), Rgb(0xA040FF), Rgb(0x7040FF), Rgb(0xC0C0C0), Rgb(0x351FFF), Rgb(0x101FFF),
    Rgb(0x0081FF), Rgb(0x00BFBF), Rgb(0x00C200), Rgb(0x96C100), Rgb(0xC2C100), Rgb(0xC08141),
    Rgb(0xE16200), Rgb(0xFF4141), Rgb(0xFF0042), Rgb(0xFF00C2), Rgb(0xFF22FF), Rgb(0x972BF5),
    Rgb(0x5922FF), Rgb(0xB2B2B2), Rgb(0x251FE0), Rgb(0x0020E1), Rgb(0x0062E2), Rgb(0x00A1A1),
    Rgb(0x00A000), Rgb(0x829F00), Rgb(0x80803F), Rgb(0xA06000), Rgb(0xC24100), Rgb(0xBF2100),
    Rgb(0xC20041), Rgb(0xFF0081), Rgb(0xFF00FF), Rgb(0x8000FF), Rgb(0x4100FF), Rgb(0xA2A2A2),
    Rgb(0x0000C2), Rgb(0x0000FF), Rgb(0x0041BF), Rgb(0x3F8080), Rgb(0x3F803F), Rgb(0x508200),
    Rgb(0x626000), Rgb(0x804000), Rgb(0xE21F00), Rgb(0xC24040), Rgb(0xA20040), Rgb(0xA10060),
    Rgb(0xE000E0), Rgb(0x7F00DF), Rgb(0x4100C2), Rgb(0x8F8F8F), Rgb(0x0000A0), Rgb(0x0000E1),
    Rgb(0x003FA1), Rgb(0x006262), Rgb(0x006000), Rgb(0x3C6000), Rgb(0x414000), Rgb(0x802F00),
    Rgb(0xFF0000), Rgb(0xA02020), Rgb(0xA10022), Rgb(0x800040), Rgb(0x9F00A1), Rgb(0x7F00C0),
    Rgb(0x0F009F), Rgb(0x808080), Rgb(0x000060), Rgb(0x1212C2), Rgb(0x004282), Rgb(0x004242),
    Rgb(0x004200), Rgb(0x234000), Rgb(0x3F3200), Rgb(0x602000), Rgb(0xC22000), Rgb(0xC02222),
    Rgb(0x800000), Rgb(0x7F001F), Rgb(0x800080), Rgb(0x400082), Rgb(0x000080), Rgb(0x5F5F5F),
    Rgb(0x000040), Rgb(0x121FA1), Rgb(0x004260), Rgb(0x002121), Rgb(0x002100), Rgb(0x1F2000),
    Rgb(0x412000), Rgb(0x4F2000), Rgb(0xE00000), Rgb(0xA10000), Rgb(0x610000), Rgb(0x62001F),
    Rgb(0x5F0040), Rgb(0x420062), Rgb(0x120062), Rgb(0x4F4F4F), Rgb(0xA1B1D0), Rgb(0x75A1E0),
    Rgb(0x6AB0D2), Rgb(0x7CC2C0), Rgb(0x68C182), Rgb(0x97C081), Rgb(0xBCC27F), Rgb(0xCFB271),
    Rgb(0xD2B1B1), Rgb(0xE09F9F), Rgb(0xE0A1C0), Rgb(0xDE9FE2), Rgb(0xEB91EF), Rgb(0xC89FE2),
    Rgb(0xBC8FF1), Rgb(0x2F2F2F), Rgb(0x4F607F), Rgb(0x5262A1), Rgb(0x106280), Rgb(0x3F8282),
    Rgb(0x1F623F), Rgb(0x3E613C), Rgb(0x5E6037), Rgb(0x604110), Rgb(0x824242), Rgb(0xA16062),
    Rgb(0x814162), Rgb(0x813160), Rgb(0x622160), Rgb(0x522162), Rgb(0x623F81), Rgb(0x000000),
    0,
};

const char* const kNotesColorNames[kBasicColors] = {
    "Black",      "White",    "Red",     "Green",     "Blue",     "Magenta",
    "Yellow",     "Cyan",     "DarkRed", "DarkGreen", "DarkBlue", "DarkMagenta",
    "DarkYellow", "DarkCyan", "Gray",    "LightGray",
};

const char* const kWebColorNames[kBasicColors] = {
    "Black",  "White", "Red",    "Lime",  "Blue", "Fuchsia", "Yellow", "Aqua",
    "Maroon", "Green", "Navy",   "Purple", "Olive", "Teal",  "Gray",   "Silver",
};

/* Rows whose name is also a colour name word are never reached by the
 * parser, which tests the name words first; they are kept so that the table
 * lists every name. */
const extended_color_choice ExtendedColorChoices[144] = {
    {"AliceBlue", "F0F8FF", "RGB240,248,255", 0, 0},
    {"Aqua", "00FFFF", "RGB0,255,255", 0, 0},
    {"Azure", "F0FFFF", "RGB240,255,255", 0, 0},
    {"Bisque", "FFE4C4", "RGB255,228,196", 0, 0},
    {"BlanchedAlmond", "FFEBCD", "RGB255,235,205", 0, 0},
    {"BlueViolet", "8A2BE2", "RGB138,43,226", 0, 0},
    {"BurlyWood", "DEB887", "RGB222,184,135", 0, 0},
    {"Chartreuse", "7FFF00", "RGB127,255,0", 0, 0},
    {"Coral", "FF7F50", "RGB255,127,80", 0, 0},
    {"Cornsilk", "FFF8DC", "RGB255,248,220", 0, 0},
    {"Cyan", "00FFFF", "RGB0,255,255", 0, 0},
    {"DarkCyan", "008B8B", "RGB0,139,139", 0, 0},
    {"DarkGray", "A9A9A9", "RGB169,169,169", 0, 0},
    {"DarkKhaki", "BDB76B", "RGB189,183,107", 0, 0},
    {"DarkOliveGreen", "556B2F", "RGB85,107,47", 0, 0},
    {"DarkOrchid", "9932CC", "RGB153,50,204", 0, 0},
    {"DarkSalmon", "E9967A", "RGB233,150,122", 0, 0},
    {"DarkSlateBlue", "483D8B", "RGB72,61,139", 0, 0},
    {"DarkTurquoise", "00CED1", "RGB0,206,209", 0, 0},
    {"DeepPink", "FF1493", "RGB255,20,147", 0, 0},
    {"DimGray", "696969", "RGB105,105,105", 0, 0},
    {"Feldspar", "D19275", "RGB209,146,117", 0, 0},
    {"FloralWhite", "FFFAF0", "RGB255,250,240", 0, 0},
    {"Fuchsia", "FF00FF", "RGB255,0,255", 0, 0},
    {"GhostWhite", "F8F8FF", "RGB248,248,255", 0, 0},
    {"GoldenRod", "DAA520", "RGB218,165,32", 0, 0},
    {"Green", "008000", "RGB0,128,0", 0, 0},
    {"HoneyDew", "F0FFF0", "RGB240,255,240", 0, 0},
    {"IndianRed", "CD5C5C", "RGB205,92,92", 0, 0},
    {"Ivory", "FFFFF0", "RGB255,255,240", 0, 0},
    {"Lavender", "E6E6FA", "RGB230,230,250", 0, 0},
    {"LawnGreen", "7CFC00", "RGB124,252,0", 0, 0},
    {"LightBlue", "ADD8E6", "RGB173,216,230", 0, 0},
    {"LightCyan", "E0FFFF", "RGB224,255,255", 0, 0},
    {"LightGrey", "D3D3D3", "RGB211,211,211", 0, 0},
    {"LightPink", "FFB6C1", "RGB255,182,193", 0, 0},
    {"LightSeaGreen", "20B2AA", "RGB32,178,170", 0, 0},
    {"LightSlateBlue", "8470FF", "RGB132,112,255", 0, 0},
    {"LightSteelBlue", "B0C4DE", "RGB176,196,222", 0, 0},
    {"Lime", "00FF00", "RGB0,255,0", 0, 0},
    {"Linen", "FAF0E6", "RGB250,240,230", 0, 0},
    {"Maroon", "800000", "RGB128,0,0", 0, 0},
    {"MediumBlue", "0000CD", "RGB0,0,205", 0, 0},
    {"MediumPurple", "9370D8", "RGB147,112,216", 0, 0},
    {"MediumSlateBlue", "7B68EE", "RGB123,104,238", 0, 0},
    {"MediumTurquoise", "48D1CC", "RGB72,209,204", 0, 0},
    {"MidnightBlue", "191970", "RGB25,25,112", 0, 0},
    {"MistyRose", "FFE4E1", "RGB255,228,225", 0, 0},
    {"NavajoWhite", "FFDEAD", "RGB255,222,173", 0, 0},
    {"OldLace", "FDF5E6", "RGB253,245,230", 0, 0},
    {"OliveDrab", "6B8E23", "RGB107,142,35", 0, 0},
    {"OrangeRed", "FF4500", "RGB255,69,0", 0, 0},
    {"PaleGoldenRod", "EEE8AA", "RGB238,232,170", 0, 0},
    {"PaleTurquoise", "AFEEEE", "RGB175,238,238", 0, 0},
    {"PapayaWhip", "FFEFD5", "RGB255,239,213", 0, 0},
    {"Peru", "CD853F", "RGB205,133,63", 0, 0},
    {"Plum", "DDA0DD", "RGB221,160,221", 0, 0},
    {"Purple", "800080", "RGB128,0,128", 0, 0},
    {"RosyBrown", "BC8F8F", "RGB188,143,143", 0, 0},
    {"SaddleBrown", "8B4513", "RGB139,69,19", 0, 0},
    {"SandyBrown", "F4A460", "RGB244,164,96", 0, 0},
    {"SeaShell", "FFF5EE", "RGB255,245,238", 0, 0},
    {"Silver", "C0C0C0", "RGB192,192,192", 0, 0},
    {"SlateBlue", "6A5ACD", "RGB106,90,205", 0, 0},
    {"Snow", "FFFAFA", "RGB255,250,250", 0, 0},
    {"SteelBlue", "4682B4", "RGB70,130,180", 0, 0},
    {"Teal", "008080", "RGB0,128,128", 0, 0},
    {"Tomato", "FF6347", "RGB255,99,71", 0, 0},
    {"Violet", "EE82EE", "RGB238,130,238", 0, 0},
    {"Wheat", "F5DEB3", "RGB245,222,179", 0, 0},
    {"WhiteSmoke", "F5F5F5", "RGB245,245,245", 0, 0},
    {"YellowGreen", "9ACD32", "RGB154,205,50", 0, 0},
    {"AntiqueWhite", "FAEBD7", "RGB250,235,215", 0, 0},
    {"Aquamarine", "7FFFD4", "RGB127,255,212", 0, 0},
    {"Beige", "F5F5DC", "RGB245,245,220", 0, 0},
    {"Black", "000000", "RGB0,0,0", 0, 0},
    {"Blue", "0000FF", "RGB0,0,255", 0, 0},
    {"Brown", "A52A2A", "RGB165,42,42", 0, 0},
    {"CadetBlue", "5F9EA0", "RGB95,158,160", 0, 0},
    {"Chocolate", "D2691E", "RGB210,105,30", 0, 0},
    {"CornflowerBlue", "6495ED", "RGB100,149,237", 0, 0},
    {"Crimson", "DC143C", "RGB220,20,60", 0, 0},
    {"DarkBlue", "00008B", "RGB0,0,139", 0, 0},
    {"DarkGoldenRod", "B8860B", "RGB184,134,11", 0, 0},
    {"DarkGreen", "006400", "RGB0,100,0", 0, 0},
    {"DarkMagenta", "8B008B", "RGB139,0,139", 0, 0},
    {"Darkorange", "FF8C00", "RGB255,140,0", 0, 0},
    {"DarkRed", "8B0000", "RGB139,0,0", 0, 0},
    {"DarkSeaGreen", "8FBC8F", "RGB143,188,143", 0, 0},
    {"DarkSlateGray", "2F4F4F", "RGB47,79,79", 0, 0},
    {"DarkViolet", "9400D3", "RGB148,0,211", 0, 0},
    {"DeepSkyBlue", "00BFFF", "RGB0,191,255", 0, 0},
    {"DodgerBlue", "1E90FF", "RGB30,144,255", 0, 0},
    {"FireBrick", "B22222", "RGB178,34,34", 0, 0},
    {"ForestGreen", "228B22", "RGB34,139,34", 0, 0},
    {"Gainsboro", "DCDCDC", "RGB220,220,220", 0, 0},
    {"Gold", "FFD700", "RGB255,215,0", 0, 0},
    {"Gray", "808080", "RGB128,128,128", 0, 0},
    {"GreenYellow", "ADFF2F", "RGB173,255,47", 0, 0},
    {"HotPink", "FF69B4", "RGB255,105,180", 0, 0},
    {"Indigo", "4B0082", "RGB75,0,130", 0, 0},
    {"Khaki", "F0E68C", "RGB240,230,140", 0, 0},
    {"LavenderBlush", "FFF0F5", "RGB255,240,245", 0, 0},
    {"LemonChiffon", "FFFACD", "RGB255,250,205", 0, 0},
    {"LightCoral", "F08080", "RGB240,128,128", 0, 0},
    {"LightGoldenRodYellow", "FAFAD2", "RGB250,250,210", 0, 0},
    {"LightGreen", "90EE90", "RGB144,238,144", 0, 0},
    {"LightSalmon", "FFA07A", "RGB255,160,122", 0, 0},
    {"LightSkyBlue", "87CEFA", "RGB135,206,250", 0, 0},
    {"LightSlateGray", "778899", "RGB119,136,153", 0, 0},
    {"LightYellow", "FFFFE0", "RGB255,255,224", 0, 0},
    {"LimeGreen", "32CD32", "RGB50,205,50", 0, 0},
    {"Magenta", "FF00FF", "RGB255,0,255", 0, 0},
    {"MediumAquaMarine", "66CDAA", "RGB102,205,170", 0, 0},
    {"MediumOrchid", "BA55D3", "RGB186,85,211", 0, 0},
    {"MediumSeaGreen", "3CB371", "RGB60,179,113", 0, 0},
    {"MediumSpringGreen", "00FA9A", "RGB0,250,154", 0, 0},
    {"MediumVioletRed", "C71585", "RGB199,21,133", 0, 0},
    {"MintCream", "F5FFFA", "RGB245,255,250", 0, 0},
    {"Moccasin", "FFE4B5", "RGB255,228,181", 0, 0},
    {"Navy", "000080", "RGB0,0,128", 0, 0},
    {"Olive", "808000", "RGB128,128,0", 0, 0},
    {"Orange", "FFA500", "RGB255,165,0", 0, 0},
    {"Orchid", "DA70D6", "RGB218,112,214", 0, 0},
    {"PaleGreen", "98FB98", "RGB152,251,152", 0, 0},
    {"PaleVioletRed", "D87093", "RGB216,112,147", 0, 0},
    {"PeachPuff", "FFDAB9", "RGB255,218,185", 0, 0},
    {"Pink", "FFC0CB", "RGB255,192,203", 0, 0},
    {"PowderBlue", "B0E0E6", "RGB176,224,230", 0, 0},
    {"Red", "FF0000", "RGB255,0,0", 0, 0},
    {"RoyalBlue", "4169E1", "RGB65,105,225", 0, 0},
    {"Salmon", "FA8072", "RGB250,128,114", 0, 0},
    {"SeaGreen", "2E8B57", "RGB46,139,87", 0, 0},
    {"Sienna", "A0522D", "RGB160,82,45", 0, 0},
    {"SkyBlue", "87CEEB", "RGB135,206,235", 0, 0},
    {"SlateGray", "708090", "RGB112,128,144", 0, 0},
    {"SpringGreen", "00FF7F", "RGB0,255,127", 0, 0},
    {"Tan", "D2B48C", "RGB210,180,140", 0, 0},
    {"Thistle", "D8BFD8", "RGB216,191,216", 0, 0},
    {"Turquoise", "40E0D0", "RGB64,224,208", 0, 0},
    {"VioletRed", "D02090", "RGB208,32,144", 0, 0},
    {"White", "FFFFFF", "RGB255,255,255", 0, 0},
    {"Yellow", "FFFF00", "RGB255,255,0", 0, 0},
    {nullptr, nullptr, nullptr, 0, 0},
};
// clang-format on

namespace {

enum class Naming { kAny, kNotes, kWeb };

struct name_word {
  const char* word;
  WORD index;
  Naming naming;
};

/* Tested in this order; the first word found anywhere in the text decides,
 * so "Blue Red" is red. */
// clang-format off
constexpr name_word kNameWords[] = {
    {"BLACK", 0, Naming::kAny},       {"WHITE", 1, Naming::kAny},
    {"DARKBLUE", 10, Naming::kAny},   {"NAVY", 10, Naming::kAny},
    {"DARKCYAN", 13, Naming::kAny},   {"TEAL", 13, Naming::kAny},
    {"DARKGREEN", 9, Naming::kAny},   {"GREEN", 9, Naming::kWeb},
    {"DARKMAGENTA", 11, Naming::kAny}, {"PURPLE", 11, Naming::kAny},
    {"DARKRED", 8, Naming::kAny},     {"MAROON", 8, Naming::kAny},
    {"DARKYELLOW", 12, Naming::kAny}, {"OLIVE", 12, Naming::kAny},
    {"RED", 2, Naming::kAny},         {"GREEN", 3, Naming::kNotes},
    {"LIME", 3, Naming::kAny},        {"BLUE", 4, Naming::kAny},
    {"MAGENTA", 5, Naming::kAny},     {"FUCHSIA", 5, Naming::kAny},
    {"CYAN", 7, Naming::kAny},        {"AQUA", 7, Naming::kAny},
    {"YELLOW", 6, Naming::kAny},      {"LIGHTGRAY", 15, Naming::kAny},
    {"LIGHTGREY", 15, Naming::kAny},  {"SILVER", 15, Naming::kAny},
    {"GRAY", 14, Naming::kAny},       {"GREY", 14, Naming::kAny},
};
// clang-format on

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

/* The value of a hexadecimal digit, or -1. */
int HexValue(char c) {
  if (IsDigit(c))
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

bool StartsWithIgnoringCase(const char* text, const char* word) {
  for (; *word != '\0'; ++text, ++word) {
    if (Upper(*text) != Upper(*word))
      return false;
  }
  return true;
}

bool EqualsIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (Upper(*a) != Upper(*b))
      return false;
  }
  return *a == *b;
}

/* Every occurrence is examined, not only the first: a word that first
 * occurs inside a longer word ("HighlightBlue Blue") is still found where
 * it stands alone. */
const char* FindWord(const char* text, const char* word, bool testAfter) {
  if (text == nullptr || word == nullptr || *word == '\0')
    return nullptr;
  size_t length = strlen(word);
  for (const char* at = text; *at != '\0'; ++at) {
    if (!StartsWithIgnoringCase(at, word))
      continue;
    if (at > text && IsLetter(at[-1]))
      continue;
    if (testAfter && IsLetter(at[length]))
      continue;
    return at;
  }
  return nullptr;
}

void SkipBlanks(const char** cursor) {
  while (IsBlank(**cursor))
    ++*cursor;
}

/* A decimal number after optional blanks; no digits give 0. The value wraps
 * as a 32-bit unsigned number, so its low bits are those of the text. */
DWORD ReadNumber(const char** cursor) {
  SkipBlanks(cursor);
  DWORD value = 0;
  for (; IsDigit(**cursor); ++*cursor)
    value = value * 10 + static_cast<DWORD>(**cursor - '0');
  return value;
}

DWORD PackRgb(DWORD red, DWORD green, DWORD blue) { return red + green * 256 + blue * 65536; }

/* Two characters read as a hexadecimal number as far as they are
 * hexadecimal digits. */
DWORD HexPair(const char* text) {
  DWORD value = 0;
  for (int i = 0; i < 2; ++i) {
    int digit = HexValue(text[i]);
    if (digit < 0)
      break;
    value = value * 16 + static_cast<DWORD>(digit);
  }
  return value;
}

DWORD DoubledHexDigit(char c) {
  int digit = HexValue(c);
  return digit < 0 ? 0 : static_cast<DWORD>(digit * 17);
}

/* "r,g,b" after the letters RGB: blanks and one '(' may come first; parts
 * separated only by blanks are not read. No range check on the parts. */
DWORD TranslateRgbParts(const char* cursor) {
  SkipBlanks(&cursor);
  if (*cursor == '(')
    ++cursor;
  DWORD parts[3] = {};
  for (int part = 0; part < 3; ++part) {
    parts[part] = ReadNumber(&cursor);
    while (*cursor != '\0' && *cursor != ',' && !IsBlank(*cursor))
      ++cursor;
    if (*cursor != ',')
      break;
    ++cursor;
  }
  return PackRgb(parts[0], parts[1], parts[2]);
}

int PaletteIndexOf(DWORD rgb, bool highest) {
  if (highest) {
    for (int i = kPaletteColors - 1; i >= 0; --i) {
      if (RGB_TABLE[i] == rgb)
        return i;
    }
    return -1;
  }
  for (int i = 0; i < kPaletteColors; ++i) {
    if (RGB_TABLE[i] == rgb)
      return i;
  }
  return -1;
}

WORD LowestPaletteIndex(DWORD rgb) {
  int index = PaletteIndexOf(rgb, false);
  return static_cast<WORD>(index < 0 ? 0 : index);
}

WORD HighestPaletteIndex(DWORD rgb) {
  int index = PaletteIndexOf(rgb, true);
  return static_cast<WORD>(index < 0 ? 0 : index);
}

/* The index of the first name word in the text, or -1. */
int NameWordIndex(const char* text, WORD client_preference) {
  Naming current = client_preference != 0 ? Naming::kNotes : Naming::kWeb;
  for (const name_word& entry : kNameWords) {
    if (entry.naming != Naming::kAny && entry.naming != current)
      continue;
    if (CheckAlphaToken(text, entry.word) != nullptr)
      return entry.index;
  }
  return -1;
}

/* The palette index that COLOR as a whole word names, or -1. */
int ColorNumberIndex(const char* text) {
  const char* at = CheckAlphaToken(text, "COLOR");
  if (at == nullptr)
    return -1;
  const char* cursor = at + 5;
  return static_cast<WORD>(ReadNumber(&cursor));
}

const extended_color_choice* FindExtendedChoice(const char* text) {
  for (const extended_color_choice* row = ExtendedColorChoices; row->name != nullptr; ++row) {
    if (EqualsIgnoringCase(text, row->name))
      return row;
  }
  return nullptr;
}

void SetPaletteRgb(WORD index, DWORD* rgb) {
  if (index < kPaletteColors)
    *rgb = RGB_TABLE[index];
}

bool IsSingleWord(const char* text) {
  if (text[0] == '#' || StartsWithIgnoringCase(text, "RGB"))
    return false;
  for (const char* at = text; *at != '\0'; ++at) {
    if (IsBlank(*at))
      return false;
  }
  return true;
}

STATUS ParseSingleWord(const char* text, WORD incoming, WORD* index, DWORD* rgb,
                       WORD client_preference) {
  if (strlen(text) == 6 && IsAllHex(text)) {
    *rgb = TranslateColorToDWORD(text, client_preference);
    *index = LowestPaletteIndex(*rgb);
    return NOERROR;
  }
  int named = NameWordIndex(text, client_preference);
  if (named < 0)
    named = ColorNumberIndex(text);
  if (named >= 0) {
    *index = static_cast<WORD>(named);
  } else if (CheckAlphaToken(text, "WINDOWTEXT") != nullptr) {
    *index = incoming;
  } else if (const extended_color_choice* row = FindExtendedChoice(text)) {
    *index = row->index;
    *rgb = TranslateColorToDWORD(row->hex, client_preference);
    return NOERROR;
  }
  SetPaletteRgb(*index, rgb);
  return NOERROR;
}

STATUS ParseSeveralWords(const char* text, WORD* index, DWORD* rgb, WORD client_preference) {
  size_t length = strlen(text);
  if (text[0] == '#' && (length == 4 || length >= 7)) {
    *rgb = TranslateColorToDWORD(text, client_preference);
    *index = LowestPaletteIndex(*rgb);
    return NOERROR;
  }
  int named = NameWordIndex(text, client_preference);
  if (named < 0)
    named = ColorNumberIndex(text);
  if (named >= 0) {
    *index = static_cast<WORD>(named);
    SetPaletteRgb(*index, rgb);
    return NOERROR;
  }
  if (const char* at = CheckAlphaToken(text, "RGB")) {
    *rgb = TranslateColorToDWORD(at, client_preference);
    *index = HighestPaletteIndex(*rgb);
    return NOERROR;
  }
  return kColorNotRecognised;
}

/* The colour record's header length, its colour, and the gradient colour
 * when the record is long enough to hold one. Read bytewise: records lie
 * at any address in a record buffer. */
struct color_record_view {
  BYTE length = 0;
  COLOR_VALUE color = {};
  bool has_gradient_bytes = false;
  COLOR_VALUE gradient = {};
};

color_record_view ReadColorRecord(const CDCOLOR* rec) {
  color_record_view view;
  const BYTE* bytes = reinterpret_cast<const BYTE*>(rec);
  view.length = bytes[offsetof(BSIG, Length)];
  memcpy(&view.color, bytes + offsetof(CDCOLOR, Color), sizeof view.color);
  if (view.length >= sizeof(CDCOLOR) + sizeof(COLOR_VALUE)) {
    view.has_gradient_bytes = true;
    memcpy(&view.gradient, bytes + sizeof(CDCOLOR), sizeof view.gradient);
  }
  return view;
}

}  // namespace

DWORD RgbOf(const COLOR_VALUE& color) { return PackRgb(color.Red, color.Green, color.Blue); }

int BasicColorIndexOf(DWORD rgb) {
  for (int i = 0; i < kBasicColors; ++i) {
    if (RGB_TABLE[i] == rgb)
      return i;
  }
  return -1;
}

STATUS ParseColorString(const char* text, WORD* index, DWORD* rgb, WORD client_preference) {
  if (text == nullptr)
    text = "";
  WORD incoming = *index;
  *index = 0;
  *rgb = 0;
  if (IsSingleWord(text))
    return ParseSingleWord(text, incoming, index, rgb, client_preference);
  STATUS status = ParseSeveralWords(text, index, rgb, client_preference);
  if (status != NOERROR) {
    *index = 0;
    *rgb = 0;
  }
  return status;
}

DWORD TranslateColorToDWORD(const char* text, WORD client_preference) {
  if (text == nullptr)
    return 0;
  size_t length = strlen(text);
  if (StartsWithIgnoringCase(text, "RGB"))
    return TranslateRgbParts(text + 3);
  if (text[0] == '#' && length > 6)
    return PackRgb(HexPair(text + 1), HexPair(text + 3), HexPair(text + 5));
  if (text[0] == '#' && length == 4)
    return PackRgb(DoubledHexDigit(text[1]), DoubledHexDigit(text[2]), DoubledHexDigit(text[3]));
  if (length == 6 && IsAllHex(text))
    return PackRgb(HexPair(text), HexPair(text + 2), HexPair(text + 4));
  WORD index = 0;
  DWORD rgb = 0;
  // A text that names no colour fails with the RGB value 0, which is the
  // answer here too.
  static_cast<void>(ParseColorString(text, &index, &rgb, client_preference));
  return rgb;
}

int IsAllHex(const char* text) {
  if (text == nullptr)
    return 1;
  for (; *text != '\0'; ++text) {
    if (HexValue(*text) < 0)
      return 0;
  }
  return 1;
}

const char* CheckAlphaToken(const char* text, const char* word) {
  return FindWord(text, word, true);
}

const char* CheckAlphaStart(const char* text, const char* word) {
  return FindWord(text, word, false);
}

STATUS CalculateColorString(WORD index, char* out, int mode, WORD client_preference) {
  bool basic = index < kBasicColors;
  DWORD rgb = basic ? RGB_TABLE[index] : 0;
  unsigned red = rgb & 0xFF, green = (rgb >> 8) & 0xFF, blue = (rgb >> 16) & 0xFF;
  if (mode == 0) {
    if (!basic) {
      snprintf(out, kColorStringSize, "COLOR%d", index);
      return NOERROR;
    }
    const char* const* names = client_preference != 0 ? kNotesColorNames : kWebColorNames;
    snprintf(out, kColorStringSize, "%s", names[index]);
    return NOERROR;
  }
  if (mode < 0 || mode == 1) {
    snprintf(out, kColorStringSize, "rgb(%u,%u,%u)", red, green, blue);
    return NOERROR;
  }
  /* Light gray keeps the upper-case digits it has always been written with. */
  if (index == 15) {
    snprintf(out, kColorStringSize, "#C0C0C0");
    return NOERROR;
  }
  snprintf(out, kColorStringSize, "#%02x%02x%02x", red, green, blue);
  return NOERROR;
}

STATUS CalculateColorStringExt(WORD index, const CDCOLOR* rec, char* out, DWORD mode,
                               WORD client_preference) {
  color_record_view view;
  if (rec != nullptr)
    view = ReadColorRecord(rec);
  bool exact = rec != nullptr && (view.color.Flags & kColorFlagRgb) != 0;
  if (mode != 0) {
    if (!exact)
      return CalculateColorString(index, out, 1, client_preference);
    snprintf(out, kColorStringSize, "rgb(%u,%u,%u)", unsigned{view.color.Red},
             unsigned{view.color.Green}, unsigned{view.color.Blue});
    return NOERROR;
  }
  bool useName = rec != nullptr && view.length == sizeof(CDCOLOR) &&
                 BasicColorIndexOf(RgbOf(view.color)) == static_cast<int>(index);
  if (!exact || useName)
    return CalculateColorString(index, out, 0, client_preference);
  int written = snprintf(out, kColorStringSize, "RGB%u,%u,%u", unsigned{view.color.Red},
                         unsigned{view.color.Green}, unsigned{view.color.Blue});
  if ((view.color.Flags & kColorFlagGradient) != 0 && view.has_gradient_bytes) {
    snprintf(out + written, kColorStringSize - static_cast<size_t>(written), " GRADIENT%u,%u,%u",
             unsigned{view.gradient.Red}, unsigned{view.gradient.Green},
             unsigned{view.gradient.Blue});
  }
  return NOERROR;
}
