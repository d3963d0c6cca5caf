// The record builder's refusals: what it cannot write gives no record (no
// header form for the signature, a length shorter than the header or past
// the header's reach, more tab stops or note-link bytes than the layout
// holds), hex text split inside a byte gives nothing, and a body given an
// empty record is no longer sound. Then script fields written where the
// host layouts read them: numeric font attributes, the pre-table colours,
// a colour record's gradient, and a double-word header length.
// Last, the records of anchors, buttons, section bars, element names, hide
// formulas, style names, targets, labels and layers, byte for byte.
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

namespace {

/* Records of the anchors, buttons, section bars, element names, hide
 * formulas, style names, targets, labels and layers, byte for byte. */
TEST(CdBuilderTest, NamedAndLabelledRecordsAreLaidOutAsStored) {
  const struct {
    const char* line;
    const char* hex;
  } cases[] = {
      {"ANCHOR name=\"ab\"", "CB FF 0E 00 02 00 Z6 61 62"},
      {"BUTTON flags=1 width=0x0B40 face=4 size=12 label=\"Go\"",
       "AB FF 12 00 01 00 40 0B 00 00 00 00 04 00 00 0C 47 6F"},
      {"SECTIONBAR title=\"T\" barcolor=2", "AC FF 0F 00 00 00 00 00 01 00 00 0A 02 00 54"},
      {"IDNAME id=\"i\" class=\"c\" name=\"n\"",
       "7A FF 1D 00 01 00 01 00 00 00 00 00 00 00 01 00 Z10 69 63 6E"},
      {"PABHIDE id=3 formula=\"\\x01\\x02\"", "BB FF 10 00 03 00 Z8 01 02"},
      {"PABHIDE id=2 source=\"@True\"",
       "BB FF 1B 00 02 00 Z8 46 4D 01 00 05 00 00 00 40 54 72 75 65"},
      {"PABHIDE source=\"\"", "BB FF 16 00 01 00 Z8 46 4D 01 00 00 00 00 00"},
      {"STYLENAME id=5 name=\"Head\"",
       "A6 30 Z6 05 00 48 65 61 64 Z32 00 00"},
      {"TARGET frame=\"_top\"", "F2 FF 10 00 04 00 Z6 5F 74 6F 70"},
      {"TABLELABEL label=\"R\" flags=1", "E3 FF 8C 00 52 Z127 Z6 01 00"},
      {"LAYERBEGIN", "DD 06 02 00 6C 00"},
      {"LAYER", "6C 14 Z18"},
      {"LAYEREND", "DE 06 02 00 6C 00"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Built(c.line), Hex(c.hex)) << c.line;

  // Names longer than their fixed fields are refused, not cut.
  EXPECT_TRUE(cdbuild::StyleName(1, std::string(36, 'x')).empty());
  EXPECT_TRUE(cdbuild::TableLabel(std::string(128, 'x')).empty());
  EXPECT_EQ(cdbuild::TableLabel(std::string(127, 'x')).size(), sizeof(CDTABLELABEL));
}

} // namespace
