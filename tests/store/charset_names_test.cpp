/*
 * Tests of the mapping from character set names to CSIDs.
 */
#include "store/charset_names.h"

#include <gtest/gtest.h>

namespace {

constexpr WORD kDefault = 9999;

struct CharsetCase {
  const char* name;
  WORD csid;
};

class CSIDFromStringTest : public testing::TestWithParam<CharsetCase> {};

TEST_P(CSIDFromStringTest, MapsName) {
  const CharsetCase& c = GetParam();
  EXPECT_EQ(CSIDFromString(c.name, kDefault), c.csid) << (c.name ? c.name : "(null)");
}

INSTANTIATE_TEST_SUITE_P(
    Hyphenated, CSIDFromStringTest,
    testing::Values(CharsetCase{"utf-8", 171}, CharsetCase{"Utf8", 171},
                    CharsetCase{"UTF-8", 171}, CharsetCase{"iso-8859-1", 32},
                    CharsetCase{"ISO88591", 32}, CharsetCase{"utf-7", 170},
                    CharsetCase{"euc-kr", 3303}, CharsetCase{"ISO-8859-2", kDefault},
                    CharsetCase{"ISO88592", 33}, CharsetCase{"ISO-2022-JP", kDefault},
                    CharsetCase{"UTF-16", kDefault}));

INSTANTIATE_TEST_SUITE_P(
    CodePages, CSIDFromStringTest,
    testing::Values(CharsetCase{"windows-1252", 82}, CharsetCase{"cp1252", 82},
                    CharsetCase{"1252", 82}, CharsetCase{"125", kDefault},
                    CharsetCase{"windows-1251", 81}, CharsetCase{"x1250y", 80},
                    // 1252 is looked for before 1251 and 1250.
                    CharsetCase{"12501252", 82}, CharsetCase{"12511250", 81},
                    CharsetCase{"IBMCP1258", 3310}, CharsetCase{"ibmcp1258", 3310},
                    CharsetCase{"ANSI", 82}));

INSTANTIATE_TEST_SUITE_P(
    WholeNames, CSIDFromStringTest,
    testing::Values(
        CharsetCase{"ISO646", 31}, CharsetCase{"ascii", 31}, CharsetCase{"BASE64", 3299},
        CharsetCase{"IsoKr", 3303}, CharsetCase{"EUCK", 3303}, CharsetCase{"EUC", 23},
        CharsetCase{"TCA", 25}, CharsetCase{"Big5", 26}, CharsetCase{"gb", 27},
        CharsetCase{"NECESJIS", 28}, CharsetCase{"ISO88593", 34}, CharsetCase{"ISO88594", 35},
        CharsetCase{"ISO88595", 36}, CharsetCase{"ISO88596", 37}, CharsetCase{"ISO88597", 38},
        CharsetCase{"IBMCP813", 38}, CharsetCase{"ISO88598", 39}, CharsetCase{"ISO88599", 40},
        CharsetCase{"IBMCP37", 64}, CharsetCase{"THAI", 144}, CharsetCase{"UNICODE", 160},
        CharsetCase{"ISO10646", 160}, CharsetCase{"LMBCS", 256}, CharsetCase{"LMBCS10", 256},
        CharsetCase{"LMBCS11", 257}, CharsetCase{"lmbcs12", 258}, CharsetCase{"T61", 2816},
        CharsetCase{"T50", 2817}, CharsetCase{"ASN1", 2832}, CharsetCase{"IBMCP856", 3072},
        CharsetCase{"EACC", 3275}, CharsetCase{"ISO2022JP", 3276}, CharsetCase{"JIS", 3277},
        CharsetCase{"CCCII", 3278}, CharsetCase{"JIS2", 3300}, CharsetCase{"EUCJ", 3301},
        CharsetCase{"EUCT", 3302}, CharsetCase{"EUCC", 3304}, CharsetCase{"IA5JIS", 3305},
        CharsetCase{"IBMCP921", 3306}, CharsetCase{"IBMCP922", 3307}, CharsetCase{"KOI8", 3308},
        CharsetCase{"IBMCP720", 3309}, CharsetCase{"ISO885910", 3311},
        CharsetCase{"JP1TEXT", 3312}, CharsetCase{"VIQRI", 3313}, CharsetCase{"VISCII", 3314},
        CharsetCase{"VISCII1", 3315}, CharsetCase{"VISCII2", 3316},
        CharsetCase{"VISCII3", 3338}, CharsetCase{"TCVN3", 3338},
        CharsetCase{"ISO88598i", 3356}, CharsetCase{"iso88598I", 3356},
        CharsetCase{"ISO88598e", 3357}, CharsetCase{"ISCII", 3358}));

INSTANTIATE_TEST_SUITE_P(
    Unknown, CSIDFromStringTest,
    testing::Values(CharsetCase{nullptr, kDefault}, CharsetCase{"", kDefault},
                    CharsetCase{"UTF8 ", kDefault}, CharsetCase{" UTF8", kDefault},
                    CharsetCase{"UTF", kDefault}, CharsetCase{"LMBCS1", kDefault},
                    CharsetCase{"VISCII4", kDefault}, CharsetCase{"ISO88598x", kDefault},
                    CharsetCase{"KOI8-R", kDefault}, CharsetCase{"EU", kDefault}));

TEST(CSIDFromString, UnknownNameGivesTheCallersDefault) {
  EXPECT_EQ(CSIDFromString("nonsense", 0), 0);
  EXPECT_EQ(CSIDFromString("nonsense", 171), 171);
  EXPECT_EQ(CSIDFromString(nullptr, 32), 32);
}

}  // namespace
