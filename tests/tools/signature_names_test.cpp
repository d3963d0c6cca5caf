// The signature name table against the signature constants: every
// SIG_CD_* constant of the record header has its name, and nothing else
// has one.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>

#include "host/cdrecords.h"

namespace {

TEST(SignatureNameTest, EveryConstantOfTheHeaderIsNamedAfterItself) {
  std::ifstream header(std::string(VELKO_SOURCE_DIR) + "/host/cdrecords.h");
  ASSERT_TRUE(header.good());
  const std::string text((std::istreambuf_iterator<char>(header)), std::istreambuf_iterator<char>());
  const std::regex constant(R"(inline constexpr WORD SIG_CD_(\w+) = 0x([0-9A-Fa-f]+);)");
  std::set<unsigned long> values;
  size_t count = 0;
  for (auto match = std::sregex_iterator(text.begin(), text.end(), constant);
       match != std::sregex_iterator(); ++match) {
    const unsigned long value = std::stoul((*match)[2].str(), nullptr, 16);
    const char* name = CDSignatureName(static_cast<WORD>(value));
    ASSERT_NE(name, nullptr) << (*match)[1];
    EXPECT_EQ(std::string(name), "CD" + (*match)[1].str());
    EXPECT_TRUE(values.insert(value).second) << "two constants share " << value;
    ++count;
  }
  EXPECT_GE(count, 82u); /* the regex found them */

  size_t named = 0;
  for (unsigned long signature = 0; signature <= 0xFFFF; ++signature) {
    if (CDSignatureName(static_cast<WORD>(signature)) != nullptr) {
      EXPECT_EQ(values.count(signature), 1u) << signature;
      ++named;
    }
  }
  EXPECT_EQ(named, count);
}

TEST(SignatureNameTest, KnownNames) {
  EXPECT_STREQ(CDSignatureName(SIG_CD_TEXT), "CDTEXT");
  EXPECT_STREQ(CDSignatureName(0xFF82), "CDPABDEFINITION");
  EXPECT_STREQ(CDSignatureName(0x00DD), "CDBEGIN");
  EXPECT_STREQ(CDSignatureName(0xFF5A), "CDRESOURCE_FF5A");
  EXPECT_EQ(CDSignatureName(0x0000), nullptr);
  EXPECT_EQ(CDSignatureName(0x0062), nullptr); /* in the conversion table, not named */
  EXPECT_EQ(CDSignatureName(0x0185), nullptr); /* the text signature with another high byte */
}

} // namespace
