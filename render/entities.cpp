/*
 * The HTML entity table and its lookups by code point, by name and by
 * LMBCS character.
 */
#include "render/entities.h"

#include <string.h>

#include <algorithm>

#include "render/output_buffer.h"

/* Rows: name, code point, LMBCS bytes (ASCII and the code page 850 bytes as
 * one byte; others as group 0x14 and the UTF-16 unit, 0x14 0xF6 hh for a
 * unit hh00), their count. */
const html_entity kHtmlEntities[kHtmlEntityCount] = {
    {"quot", 34, {0x22}, 1},
    {"amp", 38, {0x26}, 1},
    {"lt", 60, {0x3C}, 1},
    {"gt", 62, {0x3E}, 1},
    {"nbsp", 160, {0xFF}, 1},
    {"iexcl", 161, {0xAD}, 1},
    {"cent", 162, {0xBD}, 1},
    {"pound", 163, {0x9C}, 1},
    {"curren", 164, {0xCF}, 1},
    {"yen", 165, {0xBE}, 1},
    {"brvbar", 166, {0xDD}, 1},
    {"sect", 167, {0xF5}, 1},
    {"uml", 168, {0xF9}, 1},
    {"copy", 169, {0xB8}, 1},
    {"ordf", 170, {0xA6}, 1},
    {"laquo", 171, {0xAE}, 1},
    {"not", 172, {0xAA}, 1},
    {"shy", 173, {0xF0}, 1},
    {"reg", 174, {0xA9}, 1},
    {"macr", 175, {0xEE}, 1},
    {"deg", 176, {0xF8}, 1},
    {"plusmn", 177, {0xF1}, 1},
    {"sup2", 178, {0xFD}, 1},
    {"sup3", 179, {0xFC}, 1},
    {"acute", 180, {0xEF}, 1},
    {"micro", 181, {0xE6}, 1},
    {"para", 182, {0xF4}, 1},
    {"middot", 183, {0xFA}, 1},
    {"cedil", 184, {0xF7}, 1},
    {"sup1", 185, {0xFB}, 1},
    {"ordm", 186, {0xA7}, 1},
    {"raquo", 187, {0xAF}, 1},
    {"frac14", 188, {0xAC}, 1},
    {"frac12", 189, {0xAB}, 1},
    {"frac34", 190, {0xF3}, 1},
    {"iquest", 191, {0xA8}, 1},
    {"Agrave", 192, {0xB7}, 1},
    {"Aacute", 193, {0xB5}, 1},
    {"Acirc", 194, {0xB6}, 1},
    {"Atilde", 195, {0xC7}, 1},
    {"Auml", 196, {0x8E}, 1},
    {"Aring", 197, {0x8F}, 1},
    {"AElig", 198, {0x92}, 1},
    {"Ccedil", 199, {0x80}, 1},
    {"Egrave", 200, {0xD4}, 1},
    {"Eacute", 201, {0x90}, 1},
    {"Ecirc", 202, {0xD2}, 1},
    {"Euml", 203, {0xD3}, 1},
    {"Igrave", 204, {0xDE}, 1},
    {"Iacute", 205, {0xD6}, 1},
    {"Icirc", 206, {0xD7}, 1},
    {"Iuml", 207, {0xD8}, 1},
    {"ETH", 208, {0xD1}, 1},
    {"Ntilde", 209, {0xA5}, 1},
    {"Ograve", 210, {0xE3}, 1},
    {"Oacute", 211, {0xE0}, 1},
    {"Ocirc", 212, {0xE2}, 1},
    {"Otilde", 213, {0xE5}, 1},
    {"Ouml", 214, {0x99}, 1},
    {"times", 215, {0x9E}, 1},
    {"Oslash", 216, {0x9D}, 1},
    {"Ugrave", 217, {0xEB}, 1},
    {"Uacute", 218, {0xE9}, 1},
    {"Ucirc", 219, {0xEA}, 1},
    {"Uuml", 220, {0x9A}, 1},
    {"Yacute", 221, {0xED}, 1},
    {"THORN", 222, {0xE8}, 1},
    {"szlig", 223, {0xE1}, 1},
    {"agrave", 224, {0x85}, 1},
    {"aacute", 225, {0xA0}, 1},
    {"acirc", 226, {0x83}, 1},
    {"atilde", 227, {0xC6}, 1},
    {"auml", 228, {0x84}, 1},
    {"aring", 229, {0x86}, 1},
    {"aelig", 230, {0x91}, 1},
    {"ccedil", 231, {0x87}, 1},
    {"egrave", 232, {0x8A}, 1},
    {"eacute", 233, {0x82}, 1},
    {"ecirc", 234, {0x88}, 1},
    {"euml", 235, {0x89}, 1},
    {"igrave", 236, {0x8D}, 1},
    {"iacute", 237, {0xA1}, 1},
    {"icirc", 238, {0x8C}, 1},
    {"iuml", 239, {0x8B}, 1},
    {"eth", 240, {0xD0}, 1},
    {"ntilde", 241, {0xA4}, 1},
    {"ograve", 242, {0x95}, 1},
    {"oacute", 243, {0xA2}, 1},
    {"ocirc", 244, {0x93}, 1},
    {"otilde", 245, {0xE4}, 1},
    {"ouml", 246, {0x94}, 1},
    {"divide", 247, {0xF6}, 1},
    {"oslash", 248, {0x9B}, 1},
    {"ugrave", 249, {0x97}, 1},
    {"uacute", 250, {0xA3}, 1},
    {"ucirc", 251, {0x96}, 1},
    {"uuml", 252, {0x81}, 1},
    {"yacute", 253, {0xEC}, 1},
    {"thorn", 254, {0xE7}, 1},
    {"yuml", 255, {0x98}, 1},
    {"OElig", 338, {0x14, 0x01, 0x52}, 3},
    {"oelig", 339, {0x14, 0x01, 0x53}, 3},
    {"Scaron", 352, {0x14, 0x01, 0x60}, 3},
    {"scaron", 353, {0x14, 0x01, 0x61}, 3},
    {"Yuml", 376, {0x14, 0x01, 0x78}, 3},
    {"fnof", 402, {0x9F}, 1},
    {"circ", 710, {0x14, 0x02, 0xC6}, 3},
    {"tilde", 732, {0x14, 0x02, 0xDC}, 3},
    {"Alpha", 913, {0x14, 0x03, 0x91}, 3},
    {"Beta", 914, {0x14, 0x03, 0x92}, 3},
    {"Gamma", 915, {0x14, 0x03, 0x93}, 3},
    {"Delta", 916, {0x14, 0x03, 0x94}, 3},
    {"Epsilon", 917, {0x14, 0x03, 0x95}, 3},
    {"Zeta", 918, {0x14, 0x03, 0x96}, 3},
    {"Eta", 919, {0x14, 0x03, 0x97}, 3},
    {"Theta", 920, {0x14, 0x03, 0x98}, 3},
    {"Iota", 921, {0x14, 0x03, 0x99}, 3},
    {"Kappa", 922, {0x14, 0x03, 0x9A}, 3},
    {"Lambda", 923, {0x14, 0x03, 0x9B}, 3},
    {"Mu", 924, {0x14, 0x03, 0x9C}, 3},
    {"Nu", 925, {0x14, 0x03, 0x9D}, 3},
    {"Xi", 926, {0x14, 0x03, 0x9E}, 3},
    {"Omicron", 927, {0x14, 0x03, 0x9F}, 3},
    {"Pi", 928, {0x14, 0x03, 0xA0}, 3},
    {"Rho", 929, {0x14, 0x03, 0xA1}, 3},
    {"Sigma", 931, {0x14, 0x03, 0xA3}, 3},
    {"Tau", 932, {0x14, 0x03, 0xA4}, 3},
    {"Upsilon", 933, {0x14, 0x03, 0xA5}, 3},
    {"Phi", 934, {0x14, 0x03, 0xA6}, 3},
    {"Chi", 935, {0x14, 0x03, 0xA7}, 3},
    {"Psi", 936, {0x14, 0x03, 0xA8}, 3},
    {"Omega", 937, {0x14, 0x03, 0xA9}, 3},
    {"alpha", 945, {0x14, 0x03, 0xB1}, 3},
    {"beta", 946, {0x14, 0x03, 0xB2}, 3},
    {"gamma", 947, {0x14, 0x03, 0xB3}, 3},
    {"delta", 948, {0x14, 0x03, 0xB4}, 3},
    {"epsilon", 949, {0x14, 0x03, 0xB5}, 3},
    {"zeta", 950, {0x14, 0x03, 0xB6}, 3},
    {"eta", 951, {0x14, 0x03, 0xB7}, 3},
    {"theta", 952, {0x14, 0x03, 0xB8}, 3},
    {"iota", 953, {0x14, 0x03, 0xB9}, 3},
    {"kappa", 954, {0x14, 0x03, 0xBA}, 3},
    {"lambda", 955, {0x14, 0x03, 0xBB}, 3},
    {"mu", 956, {0x14, 0x03, 0xBC}, 3},
    {"nu", 957, {0x14, 0x03, 0xBD}, 3},
    {"xi", 958, {0x14, 0x03, 0xBE}, 3},
    {"omicron", 959, {0x14, 0x03, 0xBF}, 3},
    {"pi", 960, {0x14, 0x03, 0xC0}, 3},
    {"rho", 961, {0x14, 0x03, 0xC1}, 3},
    {"sigmaf", 962, {0x14, 0x03, 0xC2}, 3},
    {"sigma", 963, {0x14, 0x03, 0xC3}, 3},
    {"tau", 964, {0x14, 0x03, 0xC4}, 3},
    {"upsilon", 965, {0x14, 0x03, 0xC5}, 3},
    {"phi", 966, {0x14, 0x03, 0xC6}, 3},
    {"chi", 967, {0x14, 0x03, 0xC7}, 3},
    {"psi", 968, {0x14, 0x03, 0xC8}, 3},
    {"omega", 969, {0x14, 0x03, 0xC9}, 3},
    {"thetasym", 977, {0x14, 0x03, 0xD1}, 3},
    {"upsih", 978, {0x14, 0x03, 0xD2}, 3},
    {"piv", 982, {0x14, 0x03, 0xD6}, 3},
    {"ensp", 8194, {0x14, 0x20, 0x02}, 3},
    {"emsp", 8195, {0x14, 0x20, 0x03}, 3},
    {"thinsp", 8201, {0x14, 0x20, 0x09}, 3},
    {"zwnj", 8204, {0x14, 0x20, 0x0C}, 3},
    {"zwj", 8205, {0x14, 0x20, 0x0D}, 3},
    {"lrm", 8206, {0x14, 0x20, 0x0E}, 3},
    {"rlm", 8207, {0x14, 0x20, 0x0F}, 3},
    {"ndash", 8211, {0x14, 0x20, 0x13}, 3},
    {"mdash", 8212, {0x14, 0x20, 0x14}, 3},
    {"lsquo", 8216, {0x14, 0x20, 0x18}, 3},
    {"rsquo", 8217, {0x14, 0x20, 0x19}, 3},
    {"sbquo", 8218, {0x14, 0x20, 0x1A}, 3},
    {"ldquo", 8220, {0x14, 0x20, 0x1C}, 3},
    {"rdquo", 8221, {0x14, 0x20, 0x1D}, 3},
    {"bdquo", 8222, {0x14, 0x20, 0x1E}, 3},
    {"dagger", 8224, {0x14, 0x20, 0x20}, 3},
    {"Dagger", 8225, {0x14, 0x20, 0x21}, 3},
    {"bull", 8226, {0x14, 0x20, 0x22}, 3},
    {"hellip", 8230, {0x14, 0x20, 0x26}, 3},
    {"permil", 8240, {0x14, 0x20, 0x30}, 3},
    {"prime", 8242, {0x14, 0x20, 0x32}, 3},
    {"Prime", 8243, {0x14, 0x20, 0x33}, 3},
    {"lsaquo", 8249, {0x14, 0x20, 0x39}, 3},
    {"rsaquo", 8250, {0x14, 0x20, 0x3A}, 3},
    {"oline", 8254, {0x14, 0x20, 0x3E}, 3},
    {"frasl", 8260, {0x14, 0x20, 0x44}, 3},
    {"euro", 8364, {0x14, 0x20, 0xAC}, 3},
    {"image", 8465, {0x14, 0x21, 0x11}, 3},
    {"weierp", 8472, {0x14, 0x21, 0x18}, 3},
    {"real", 8476, {0x14, 0x21, 0x1C}, 3},
    {"trade", 8482, {0x14, 0x21, 0x22}, 3},
    {"alefsym", 8501, {0x14, 0x21, 0x35}, 3},
    {"larr", 8592, {0x14, 0x21, 0x90}, 3},
    {"uarr", 8593, {0x14, 0x21, 0x91}, 3},
    {"rarr", 8594, {0x14, 0x21, 0x92}, 3},
    {"darr", 8595, {0x14, 0x21, 0x93}, 3},
    {"harr", 8596, {0x14, 0x21, 0x94}, 3},
    {"crarr", 8629, {0x14, 0x21, 0xB5}, 3},
    {"lArr", 8656, {0x14, 0x21, 0xD0}, 3},
    {"uArr", 8657, {0x14, 0x21, 0xD1}, 3},
    {"rArr", 8658, {0x14, 0x21, 0xD2}, 3},
    {"dArr", 8659, {0x14, 0x21, 0xD3}, 3},
    {"hArr", 8660, {0x14, 0x21, 0xD4}, 3},
    {"forall", 8704, {0x14, 0xF6, 0x22}, 3},
    {"part", 8706, {0x14, 0x22, 0x02}, 3},
    {"exist", 8707, {0x14, 0x22, 0x03}, 3},
    {"empty", 8709, {0x14, 0x22, 0x05}, 3},
    {"nabla", 8711, {0x14, 0x22, 0x07}, 3},
    {"isin", 8712, {0x14, 0x22, 0x08}, 3},
    {"notin", 8713, {0x14, 0x22, 0x09}, 3},
    {"ni", 8715, {0x14, 0x22, 0x0B}, 3},
    {"prod", 8719, {0x14, 0x22, 0x0F}, 3},
    {"sum", 8721, {0x14, 0x22, 0x11}, 3},
    {"minus", 8722, {0x14, 0x22, 0x12}, 3},
    {"lowast", 8727, {0x14, 0x22, 0x17}, 3},
    {"radic", 8730, {0x14, 0x22, 0x1A}, 3},
    {"prop", 8733, {0x14, 0x22, 0x1D}, 3},
    {"infin", 8734, {0x14, 0x22, 0x1E}, 3},
    {"ang", 8736, {0x14, 0x22, 0x20}, 3},
    {"and", 8743, {0x14, 0x22, 0x27}, 3},
    {"or", 8744, {0x14, 0x22, 0x28}, 3},
    {"cap", 8745, {0x14, 0x22, 0x29}, 3},
    {"cup", 8746, {0x14, 0x22, 0x2A}, 3},
    {"int", 8747, {0x14, 0x22, 0x2B}, 3},
    {"there4", 8756, {0x14, 0x22, 0x34}, 3},
    {"sim", 8764, {0x14, 0x22, 0x3C}, 3},
    {"cong", 8773, {0x14, 0x22, 0x45}, 3},
    {"asymp", 8776, {0x14, 0x22, 0x48}, 3},
    {"ne", 8800, {0x14, 0x22, 0x60}, 3},
    {"equiv", 8801, {0x14, 0x22, 0x61}, 3},
    {"le", 8804, {0x14, 0x22, 0x64}, 3},
    {"ge", 8805, {0x14, 0x22, 0x65}, 3},
    {"sub", 8834, {0x14, 0x22, 0x82}, 3},
    {"sup", 8835, {0x14, 0x22, 0x83}, 3},
    {"nsub", 8836, {0x14, 0x22, 0x84}, 3},
    {"sube", 8838, {0x14, 0x22, 0x86}, 3},
    {"supe", 8839, {0x14, 0x22, 0x87}, 3},
    {"oplus", 8853, {0x14, 0x22, 0x95}, 3},
    {"otimes", 8855, {0x14, 0x22, 0x97}, 3},
    {"perp", 8869, {0x14, 0x22, 0xA5}, 3},
    {"sdot", 8901, {0x14, 0x22, 0xC5}, 3},
    {"lceil", 8968, {0x14, 0x23, 0x08}, 3},
    {"rceil", 8969, {0x14, 0x23, 0x09}, 3},
    {"lfloor", 8970, {0x14, 0x23, 0x0A}, 3},
    {"rfloor", 8971, {0x14, 0x23, 0x0B}, 3},
    {"lang", 9001, {0x14, 0x23, 0x29}, 3},
    {"rang", 9002, {0x14, 0x23, 0x2A}, 3},
    {"loz", 9674, {0x14, 0x25, 0xCA}, 3},
    {"spades", 9824, {0x14, 0x26, 0x60}, 3},
    {"clubs", 9827, {0x14, 0x26, 0x63}, 3},
    {"hearts", 9829, {0x14, 0x26, 0x65}, 3},
    {"diams", 9830, {0x14, 0x26, 0x66}, 3},
};

namespace {

/* Names sorted, for the lookup by name; made once. */
struct name_index {
  const html_entity *rows[kHtmlEntityCount];
  name_index() {
    for (int i = 0; i < kHtmlEntityCount; ++i)
      rows[i] = &kHtmlEntities[i];
    std::sort(rows, rows + kHtmlEntityCount, [](const html_entity *a, const html_entity *b) {
      return strcmp(a->name, b->name) < 0;
    });
  }
};

/* Compares a counted name with a row's name. */
int CompareName(const char *name, size_t length, const char *rowName) {
  const size_t rowLength = strlen(rowName);
  const int order = memcmp(name, rowName, std::min(length, rowLength));
  if (order != 0)
    return order;
  return length < rowLength ? -1 : length > rowLength ? 1 : 0;
}

} // namespace

const html_entity *LookupEntityByCode(DWORD codePoint) {
  const html_entity *end = kHtmlEntities + kHtmlEntityCount;
  const html_entity *row =
      std::lower_bound(kHtmlEntities, end, codePoint,
                       [](const html_entity &entity, DWORD code) { return entity.code < code; });
  return row != end && row->code == codePoint ? row : nullptr;
}

const html_entity *LookupEntityByName(const char *name, size_t length) {
  if (name == nullptr || length == 0)
    return nullptr;
  static const name_index index;
  const html_entity *const *end = index.rows + kHtmlEntityCount;
  const html_entity *const *row =
      std::lower_bound(index.rows, end, name, [length](const html_entity *entity, const char *n) {
        return CompareName(n, length, entity->name) > 0;
      });
  if (row == end || CompareName(name, length, (*row)->name) != 0)
    return nullptr;
  return *row;
}

const char *lookupExtended(NLS_PINFO, const char *character, WORD length) {
  if (character == nullptr || length == 0)
    return nullptr;
  DWORD codePoint = 0;
  const size_t used = ReadLmbcsCharacter(character, length, &codePoint);
  if (used != length)
    return nullptr; // the bytes are not one character
  const html_entity *row = LookupEntityByCode(codePoint);
  return row != nullptr ? row->name : nullptr;
}
