/*
 * The table of character set names and their CSIDs. The rules are tried in
 * order and the first match decides; only the Windows code-page rules look
 * inside a name, every other name must match whole. Hyphenated spellings are
 * known only for UTF-8, ISO-8859-1, UTF-7 and EUC-KR.
 */
#include "store/charset_names.h"

#include <string.h>

namespace {

struct CharsetRule {
  const char* name;
  WORD csid;
  // The name is a run of code-page digits to look for inside a longer name
  // rather than a whole name.
  bool codePageDigits;
};

constexpr CharsetRule kCharsetRules[] = {
    {"UTF8", 171, false},
    {"UTF-8", 171, false},
    {"ISO88591", 32, false},
    {"ISO-8859-1", 32, false},
    {"ISO646", 31, false},
    {"ASCII", 31, false},
    {"UTF7", 170, false},
    {"UTF-7", 170, false},
    {"BASE64", 3299, false},
    {"ISOKR", 3303, false},
    {"EUCK", 3303, false},
    {"EUC-KR", 3303, false},
    {"1252", 82, true},
    {"1251", 81, true},
    {"1250", 80, true},
    {"EUC", 23, false},
    {"TCA", 25, false},
    {"BIG5", 26, false},
    {"GB", 27, false},
    {"NECESJIS", 28, false},
    {"ISO88592", 33, false},
    {"ISO88593", 34, false},
    {"ISO88594", 35, false},
    {"ISO88595", 36, false},
    {"ISO88596", 37, false},
    {"ISO88597", 38, false},
    {"IBMCP813", 38, false},
    {"ISO88598", 39, false},
    {"ISO88599", 40, false},
    {"IBMCP37", 64, false},
    {"ANSI", 82, false},
    {"THAI", 144, false},
    {"UNICODE", 160, false},
    {"ISO10646", 160, false},
    {"LMBCS10", 256, false},
    {"LMBCS11", 257, false},
    {"LMBCS12", 258, false},
    {"LMBCS", 256, false},
    {"T61", 2816, false},
    {"T50", 2817, false},
    {"ASN1", 2832, false},
    {"IBMCP856", 3072, false},
    {"EACC", 3275, false},
    {"ISO2022JP", 3276, false},
    {"JIS", 3277, false},
    {"CCCII", 3278, false},
    {"JIS2", 3300, false},
    {"EUCJ", 3301, false},
    {"EUCT", 3302, false},
    {"EUCC", 3304, false},
    {"IA5JIS", 3305, false},
    {"IBMCP921", 3306, false},
    {"IBMCP922", 3307, false},
    {"KOI8", 3308, false},
    {"IBMCP720", 3309, false},
    {"IBMCP1258", 3310, false},
    {"ISO885910", 3311, false},
    {"JP1TEXT", 3312, false},
    {"VIQRI", 3313, false},
    {"VISCII", 3314, false},
    {"VISCII1", 3315, false},
    {"VISCII2", 3316, false},
    {"VISCII3", 3338, false},
    {"TCVN3", 3338, false},
    {"ISO88598i", 3356, false},
    {"ISO88598e", 3357, false},
    {"ISCII", 3358, false},
};

char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (lowerAscii(*a) != lowerAscii(*b))
      return false;
  }
  return *a == *b;
}

bool matches(const CharsetRule& rule, const char* name, size_t nameLength) {
  if (rule.codePageDigits)
    return nameLength > 3 && strstr(name, rule.name) != nullptr;
  return equalsIgnoringCase(name, rule.name);
}

}  // namespace

WORD CSIDFromString(const char* name, WORD defaultCsid) {
  if (name == nullptr || *name == '\0')
    return defaultCsid;
  const size_t nameLength = strlen(name);
  for (const CharsetRule& rule : kCharsetRules) {
    if (matches(rule, name, nameLength))
      return rule.csid;
  }
  return defaultCsid;
}
