// The HTML entity table: its rows, their LMBCS forms, and the lookups by
// code point, by name and by LMBCS character.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "host/nls.h"
#include "render/entities.h"

namespace {

std::string Utf8(DWORD codePoint) {
  std::string out;
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
  return out;
}

TEST(EntityTable, HoldsTheHtml401SetInCodePointOrder) {
  std::set<std::string> names;
  for (int i = 0; i < kHtmlEntityCount; ++i) {
    names.insert(kHtmlEntities[i].name);
    if (i > 0) {
      EXPECT_LT(kHtmlEntities[i - 1].code, kHtmlEntities[i].code) << kHtmlEntities[i].name;
    }
  }
  EXPECT_EQ(names.size(), 252u);
  EXPECT_STREQ(kHtmlEntities[0].name, "quot");
  EXPECT_STREQ(kHtmlEntities[kHtmlEntityCount - 1].name, "diams");
}

TEST(EntityTable, EveryRowHoldsTheLmbcsTheHostWrites) {
  for (const html_entity &row : kHtmlEntities) {
    const std::string expected = LmbcsFromUtf8(Utf8(row.code));
    ASSERT_GE(row.lmbcs_length, 1);
    ASSERT_LE(row.lmbcs_length, 3);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(row.lmbcs), row.lmbcs_length), expected)
        << row.name;
  }
}

TEST(EntityTable, LooksUpByCodePoint) {
  struct Case {
    DWORD code;
    const char *name;
  };
  for (const Case &c :
       {Case{34, "quot"}, Case{160, "nbsp"}, Case{233, "eacute"}, Case{8364, "euro"},
        Case{8482, "trade"}, Case{8704, "forall"}, Case{9830, "diams"}}) {
    const html_entity *row = LookupEntityByCode(c.code);
    ASSERT_NE(row, nullptr) << c.code;
    EXPECT_STREQ(row->name, c.name);
  }
  for (DWORD code : {0u, 65u, 39u, 159u, 0x4E2Du, 0xFFFDu, 0x10000u})
    EXPECT_EQ(LookupEntityByCode(code), nullptr) << code;
}

TEST(EntityTable, LooksUpByNameWithCaseCounting) {
  const html_entity *upper = LookupEntityByName("Aacute", 6);
  const html_entity *lower = LookupEntityByName("aacute", 6);
  ASSERT_NE(upper, nullptr);
  ASSERT_NE(lower, nullptr);
  EXPECT_EQ(upper->code, 193u);
  EXPECT_EQ(lower->code, 225u);
  // The length counts: "amp" inside a longer text.
  const html_entity *amp = LookupEntityByName("ampersand", 3);
  ASSERT_NE(amp, nullptr);
  EXPECT_EQ(amp->code, 38u);
  EXPECT_EQ(LookupEntityByName("ampersand", 9), nullptr);
  EXPECT_EQ(LookupEntityByName("AMP", 3), nullptr);
  EXPECT_EQ(LookupEntityByName("", 0), nullptr);
  EXPECT_EQ(LookupEntityByName(nullptr, 4), nullptr);
  for (const html_entity &row : kHtmlEntities)
    EXPECT_EQ(LookupEntityByName(row.name, std::strlen(row.name)), &row) << row.name;
}

TEST(EntityTable, LookupExtendedReadsTheLmbcsCharacter) {
  // Code page 850's e acute, and the same character as a UTF-16 unit.
  EXPECT_STREQ(lookupExtended(nullptr, "\x82", 1), "eacute");
  EXPECT_STREQ(lookupExtended(nullptr, "\x14\x00\xE9", 3), "eacute");
  const std::string euro = LmbcsFromUtf8("\xE2\x82\xAC");
  EXPECT_STREQ(lookupExtended(nullptr, euro.data(), static_cast<WORD>(euro.size())), "euro");
  const std::string forall = LmbcsFromUtf8("\xE2\x88\x80");
  EXPECT_STREQ(lookupExtended(nullptr, forall.data(), static_cast<WORD>(forall.size())), "forall");
  // No entity, no character, or more than one character.
  EXPECT_EQ(lookupExtended(nullptr, "A", 1), nullptr);
  const std::string han = LmbcsFromUtf8("\xE4\xB8\xAD");
  EXPECT_EQ(lookupExtended(nullptr, han.data(), static_cast<WORD>(han.size())), nullptr);
  EXPECT_EQ(lookupExtended(nullptr, "\x82\x82", 2), nullptr);
  EXPECT_EQ(lookupExtended(nullptr, nullptr, 1), nullptr);
  EXPECT_EQ(lookupExtended(nullptr, "\x82", 0), nullptr);
}

} // namespace
