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

TEST(SignatureNameTest, EveryConstantOfTheHeaderIsNamedAfterItselfAndNothingElseIs) {
  std::ifstream header(std::string(VELKO_SOURCE_DIR) + "/host/cdrecords.h");
  const std::string text((std::istreambuf_iterator<char>(header)), std::istreambuf_iterator<char>());
  const std::regex constant(R"(inline constexpr WORD SIG_CD_(\w+) = 0x([0-9A-Fa-f]+);)");
  std::set<unsigned long> values;
  for (auto match = std::sregex_iterator(text.begin(), text.end(), constant);
       match != std::sregex_iterator(); ++match) {
    const unsigned long value = std::stoul((*match)[2].str(), nullptr, 16);
    const char* name = CDSignatureName(static_cast<WORD>(value));
    ASSERT_NE(name, nullptr) << (*match)[1];
    EXPECT_EQ(std::string(name), "CD" + (*match)[1].str());
    EXPECT_TRUE(values.insert(value).second) << "two constants share " << value;
  }
  EXPECT_GE(values.size(), 82u); /* the regex found them */
  for (unsigned long signature = 0; signature <= 0xFFFF; ++signature)
    EXPECT_EQ(CDSignatureName(static_cast<WORD>(signature)) != nullptr, values.count(signature) == 1)
        << signature;
  EXPECT_STREQ(CDSignatureName(0xFF5A), "CDRESOURCE_FF5A");
}

} // namespace
