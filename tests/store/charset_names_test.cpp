/*
 * Tests of the mapping from character set names to CSIDs: whole names in
 * any case, the code-page digits found inside a name, the order the rules
 * are tried in, and the caller's default for what is not known.
 */
#include "store/charset_names.h"

#include <gtest/gtest.h>

namespace {

constexpr WORD kDefault = 9999;

TEST(CSIDFromString, MapsNamesByTheFirstRuleThatMatches) {
  struct Case {
    const char* name;
    WORD csid;
  };
  const Case cases[] = {
      // Whole names, in any case; hyphens only where a rule spells them.
      {"utf-8", 171}, {"Utf8", 171}, {"ISO88591", 32}, {"iso-8859-1", 32}, {"euc-kr", 3303},
      {"ISO88592", 33}, {"ISO-8859-2", kDefault}, {"UTF-16", kDefault}, {"IsoKr", 3303},
      {"EUC", 23}, {"LMBCS10", 256}, {"lmbcs12", 258}, {"LMBCS", 256}, {"LMBCS1", kDefault},
      {"VISCII3", 3338}, {"TCVN3", 3338}, {"iso88598I", 3356}, {"ISO88598e", 3357},
      {"ISO88598x", kDefault}, {"ISCII", 3358}, {"ANSI", 82}, {"ibmcp1258", 3310},
      // Code-page digits inside a longer name; 1252 is looked for first.
      {"windows-1252", 82}, {"cp1252", 82}, {"1252", 82}, {"x1250y", 80}, {"12501252", 82},
      {"12511250", 81}, {"125", kDefault},
      // A name must match whole.
      {"UTF8 ", kDefault}, {" UTF8", kDefault}, {"UTF", kDefault}, {"KOI8-R", kDefault},
      {"", kDefault}, {nullptr, kDefault},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CSIDFromString(c.name, kDefault), c.csid) << (c.name ? c.name : "(null)");
  EXPECT_EQ(CSIDFromString("nonsense", 171), 171);
}

}  // namespace
