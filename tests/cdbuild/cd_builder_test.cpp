// The record builder's refusals: what it cannot write gives no record (no
// header form for the signature, a length shorter than the header or past
// the header's reach, more tab stops or note-link bytes than the layout
// holds), hex text split inside a byte gives nothing, and a body given an
// empty record is no longer sound. Then script fields written where the
// host layouts read them: numeric font attributes, the pre-table colours,
// a colour record's gradient, and a double-word header length.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cdbuild/cd_builder.h"
#include "cdbuild/cd_script.h"
#include "host/cdrecords.h"
#include "tests/support/bytes_support.h"

namespace {

using bytes_test::Bytes;
using bytes_test::Hex;

TEST(CdBuilderTest, WhatCannotBeWrittenGivesNoRecord) {
  const struct {
    const char* name;
    std::function<Bytes()> make;
  } cases[] = {
      {"a signature with another high byte", [] { return cdbuild::Raw(0x1281); }},
      {"shorter than its header", [] { return cdbuild::Sized(0xFF10, 3); }},
      {"a header cut short", [] { return cdbuild::WithHeaderLength(Hex("85 FF 08"), 8); }},
      {"a word length over a word",
       [] { return cdbuild::WithHeaderLength(cdbuild::Text(""), 0x10000); }},
      {"a byte length of 0",
       [] { return cdbuild::WithHeaderLength(cdbuild::Paragraph(), 0); }},
      {"a tail on no record", [] { return cdbuild::WithTail({}, {1}); }},
      {"21 tab stops",
       [] { return cdbuild::PabDef({.tabs = std::vector<int16_t>(21, 720)}); }},
      {"a note link of 41 bytes", [] { return cdbuild::DocLink(Bytes(41, 1), {}); }},
  };
  for (const auto& c : cases)
    EXPECT_TRUE(c.make().empty()) << c.name;

  EXPECT_FALSE(cdbuild::ParseHex("8 1").has_value());
  EXPECT_FALSE(cdbuild::ParseHex("81,0").has_value());
  cdbuild::Body body;
  EXPECT_TRUE(body.ok());
  body.Add(cdbuild::Paragraph()).Add(Bytes{}).Add(cdbuild::Paragraph());
  EXPECT_FALSE(body.ok());
  EXPECT_EQ(body.records().size(), 2u);
}

/* The one record a script line makes. */
Bytes Built(const std::string& line) {
  cdbuild::Body body;
  std::string error;
  EXPECT_TRUE(cdbuild::BuildScriptLine(line, &body, &error)) << line << ": " << error;
  return body.records().size() == 1 ? body.records()[0] : Bytes{};
}

template <typename T> T At(const Bytes& record, size_t offset) {
  T value{};
  if (offset + sizeof value <= record.size())
    std::memcpy(&value, record.data() + offset, sizeof value);
  return value;
}

TEST(CdBuilderTest, ScriptFieldsLandWhereTheHostLayoutsReadThem) {
  const Bytes text = Built("TEXT attributes=5 text=\"x\"");
  EXPECT_EQ(text[offsetof(CDTEXT, FontID) + FONTID_ATTRIBUTES_BYTE], 5);

  // Word-length records keep the host layout's offsets in their stored form.
  const Bytes pretable = Built("PRETABLEBEGIN bodycolor=0x123456 bordercolor=0xABCDEF");
  EXPECT_EQ(At<DWORD>(pretable, offsetof(CDPRETABLEBEGIN, BodyColor)), 0x00563412u);
  const auto border = At<COLOR_VALUE>(pretable, offsetof(CDPRETABLEBEGIN, CellBorderColor));
  EXPECT_EQ(border.Flags, 0x0001);
  EXPECT_EQ(border.Red, 0xAB);
  EXPECT_EQ(border.Green, 0xCD);
  EXPECT_EQ(border.Blue, 0xEF);

  const Bytes colour = Built("COLOR rgb=0x010203 gradient=0x040506");
  ASSERT_EQ(colour.size(), sizeof(CDCOLOR) + sizeof(COLOR_VALUE));
  const auto second = At<COLOR_VALUE>(colour, sizeof(CDCOLOR));
  EXPECT_EQ(second.Red, 4);
  EXPECT_EQ(second.Green, 5);
  EXPECT_EQ(second.Blue, 6);

  const Bytes graphic =
      cdbuild::WithHeaderLength(cdbuild::Raw(SIG_CD_GRAPHIC), 0x12345678);
  EXPECT_EQ(At<DWORD>(graphic, 2), 0x12345678u);
}

} // namespace
