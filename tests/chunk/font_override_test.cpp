// The font override and filter: applying font specs to FONTIDs
// and colour values, and testing FONTIDs (with their colour values) against
// a filter font spec.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>

#include "chunk/font_override.h"
#include "generate/color_string.h"
#include "generate/font_string.h"
#include "host/host_testing.h"
#include "cdbuild/cd_builder.h"

namespace {

FONTID Font(BYTE face, BYTE attributes, BYTE color, BYTE size) {
  return cdbuild::FontId({face, attributes, color, size});
}

BYTE Attributes(FONTID font) { return FontByte(&font, FONTID_ATTRIBUTES_BYTE); }

/* A mask with the listed entries given. */
struct Mask {
  Mask(std::initializer_list<font_spec_part> parts) {
    for (font_spec_part part : parts)
      given[part] = 1;
  }
  DWORD given[kSpecParts] = {};
};

COLOR_VALUE Color(WORD flags, BYTE red, BYTE green, BYTE blue) {
  COLOR_VALUE color = {};
  color.Flags = flags;
  color.Red = red;
  color.Green = green;
  color.Blue = blue;
  return color;
}

font_spec Spec(BYTE color, DWORD rgb, WORD flags = 0, WORD add = 0, WORD remove = 0) {
  font_spec spec = {};
  spec.color = color;
  spec.rgb = rgb;
  spec.color_value.Flags = flags;
  spec.color_flags_add = add;
  spec.color_flags_remove = remove;
  return spec;
}

class FontOverrideTest : public ::testing::Test {
protected:
  void SetUp() override { HostTestReset(); }
};

// ---- ApplyFontOverride and FontNotFiltered ----

TEST_F(FontOverrideTest, EachGivenPartIsOverwritten) {
  font_spec spec = Spec(4, 0xFF0000, 0xA009);
  spec.face = 9;
  spec.attributes = 0x06;
  spec.size = 30;
  spec.attributes_add = 0x08;
  spec.attributes_remove = 0x02;
  struct Case {
    Mask mask;
    FONTID font;
    DWORD rgb;
    WORD flags;
  } cases[] = {
      {{}, Font(1, 0x01, 2, 10), 77, 88},
      {{kSpecFace}, Font(9, 0x01, 2, 10), 77, 88},
      {{kSpecSize}, Font(1, 0x01, 2, 30), 77, 88},
      {{kSpecColor}, Font(1, 0x01, 4, 10), 0xFF0000, 88},
      {{kSpecColorFlags}, Font(1, 0x01, 2, 10), 77, 0xA000},
      {{kSpecAttributes}, Font(1, 0x06, 2, 10), 77, 88},
      {{kSpecAttributesAdd}, Font(1, 0x09, 2, 10), 77, 88},
      {{kSpecAttributesRemove}, Font(1, 0x01, 2, 10), 77, 88},
      // absolute, then added, then removed
      {{kSpecAttributes, kSpecAttributesAdd, kSpecAttributesRemove}, Font(1, 0x0C, 2, 10), 77, 88},
      {{kSpecColorFlagsAdd, kSpecColorFlagsRemove}, Font(1, 0x01, 2, 10), 77, 88},
  };
  for (const Case& c : cases) {
    FONTID font = Font(1, 0x01, 2, 10);
    DWORD rgb = 77;
    WORD flags = 88;
    EXPECT_EQ(ApplyFontOverride(&font, &rgb, &flags, &spec, c.mask.given), 0);
    EXPECT_EQ(font, c.font);
    EXPECT_EQ(rgb, c.rgb);
    EXPECT_EQ(flags, c.flags);
  }
  // The outputs may be null.
  Mask color{kSpecColor, kSpecColorFlags};
  FONTID font = 0;
  EXPECT_EQ(ApplyFontOverride(&font, nullptr, nullptr, &spec, color.given), 0);
  EXPECT_EQ(font, Font(0, 0, 4, 0));
  EXPECT_EQ(ApplyFontOverrideExt(&font, nullptr, nullptr, nullptr, &spec, color.given), 0);
}

TEST_F(FontOverrideTest, FilterTestsEachGivenPart) {
  font_spec spec = Spec(4, 0, 0x8000);
  spec.face = 5;
  spec.size = 12;
  spec.attributes = 0x03;
  spec.attributes_add = 0x05;
  spec.attributes_remove = 0x08;
  struct Case {
    Mask mask;
    FONTID font;
    int passes;
  } cases[] = {
      {{}, Font(0, 0, 0, 0), 1},
      {{}, Font(255, 0xFF, 200, 255), 1},
      {{kSpecFace}, Font(5, 0, 0, 0), 1},
      {{kSpecFace}, Font(6, 0, 0, 0), 0},
      {{kSpecSize}, Font(0, 0, 0, 12), 1},
      {{kSpecSize}, Font(0, 0, 0, 11), 0},
      {{kSpecColor}, Font(0, 0, 4, 0), 1},
      {{kSpecColor}, Font(0, 0, 2, 0), 0},
      {{kSpecAttributes}, Font(0, 0x03, 0, 0), 1},
      {{kSpecAttributes}, Font(0, 0x07, 0, 0), 0},
      {{kSpecAttributesAdd}, Font(0, 0x04, 0, 0), 1},
      {{kSpecAttributesAdd}, Font(0, 0x02, 0, 0), 0},
      {{kSpecAttributesRemove}, Font(0, 0x07, 0, 0), 1},
      {{kSpecAttributesRemove}, Font(0, 0x09, 0, 0), 0},
      {{kSpecColorFlags}, Font(0, 0, 0, 0), 1}, // not tested by the plain filter
      {{kSpecFace, kSpecSize, kSpecColor}, Font(5, 0x40, 4, 12), 1},
      {{kSpecFace, kSpecSize, kSpecColor}, Font(5, 0x40, 4, 13), 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FontNotFiltered(&c.font, &spec, c.mask.given), c.passes);
    // The extended filter without a colour value tests the same, save the
    // colour flags.
    if (c.mask.given[kSpecColorFlags] == 0) {
      EXPECT_EQ(FontNotFilteredExt(&c.font, nullptr, &spec, c.mask.given), c.passes);
    }
  }
}

// ---- ApplyFontOverrideExt and FontNotFilteredExt without a given part ----

TEST_F(FontOverrideTest, EmptyMaskLeavesFontAndColourValueAndPassesEveryFont) {
  font_spec spec = Spec(4, 0xFF0000, 0x8001, 0x4000, 0x2000);
  spec.face = 9;
  spec.size = 30;
  spec.attributes = 0x06;
  spec.attributes_add = 0x08;
  spec.attributes_remove = 0x91;
  Mask none{};
  // Embossed bold, red, with a colour value whose flags every given part
  // would change or reject.
  const FONTID before = Font(1, 0x91, 2, 10);
  const COLOR_VALUE valueBefore = Color(0xA001, 1, 2, 3);
  FONTID font = before;
  COLOR_VALUE value = valueBefore;
  DWORD record = 9, effect = 9;
  EXPECT_EQ(ApplyFontOverrideExt(&font, &value, &record, &effect, &spec, none.given), 0);
  EXPECT_EQ(font, before);
  EXPECT_EQ(std::memcmp(&value, &valueBefore, sizeof value), 0);
  EXPECT_EQ(record, 1u); // the value keeps its flags
  EXPECT_EQ(effect, 1u); // and the font its emboss
  EXPECT_EQ(FontNotFilteredExt(&font, &value, &spec, none.given), 1);
  EXPECT_EQ(FontNotFilteredExt(&font, nullptr, &spec, none.given), 1);
}

// ---- ApplyFontOverrideExt: attributes and effects ----

TEST_F(FontOverrideTest, RemovalKeepsTheEffectItSharesBitsWith) {
  struct Case {
    Mask mask;
    BYTE set, add, remove;
    BYTE font;
    BYTE result;
  } cases[] = {
      {{kSpecAttributesRemove}, 0, 0, 0xA0, 0x20, 0x20}, // subscript stays on removing extrude
      {{kSpecAttributesRemove}, 0, 0, 0x90, 0x10, 0x10}, // superscript stays on removing emboss
      {{kSpecAttributesRemove}, 0, 0, 0x90, 0x80, 0x80}, // shadow stays on removing emboss
      {{kSpecAttributesRemove}, 0, 0, 0xA0, 0x80, 0x80}, // shadow stays on removing extrude
      {{kSpecAttributesRemove}, 0, 0, 0x10, 0x90, 0x90}, // emboss stays on removing superscript
      {{kSpecAttributesRemove}, 0, 0, 0x80, 0x90, 0x90}, // emboss stays on removing shadow
      {{kSpecAttributesRemove}, 0, 0, 0xA0, 0x90, 0x90}, // emboss stays on removing extrude
      {{kSpecAttributesRemove}, 0, 0, 0x20, 0xA0, 0xA0}, // extrude stays on removing subscript
      {{kSpecAttributesRemove}, 0, 0, 0x80, 0xA0, 0xA0}, // extrude stays on removing shadow
      {{kSpecAttributesRemove}, 0, 0, 0x90, 0xA0, 0xA0}, // extrude stays on removing emboss
      {{kSpecAttributesRemove}, 0, 0, 0x01, 0x91, 0x90},
      {{kSpecAttributesRemove}, 0, 0, 0x90, 0x90, 0x00},
      {{kSpecAttributesRemove}, 0, 0, 0xA0, 0xA0, 0x00},
      {{kSpecAttributesRemove}, 0, 0, 0x80, 0x80, 0x00},
      {{kSpecAttributesRemove}, 0, 0, 0x10, 0x30, 0x20},
      // Adding and removing the same attribute removes it.
      {{kSpecAttributesAdd, kSpecAttributesRemove}, 0, 0x04, 0x04, 0x01, 0x01},
      // Absolute and added attributes come first.
      {{kSpecAttributes, kSpecAttributesAdd}, 0x80, 0x01, 0, 0x06, 0x81},
  };
  for (const Case& c : cases) {
    font_spec spec = {};
    spec.attributes = c.set;
    spec.attributes_add = c.add;
    spec.attributes_remove = c.remove;
    FONTID font = Font(1, c.font, 0, 10);
    DWORD record = 9, effect = 9;
    ApplyFontOverrideExt(&font, nullptr, &record, &effect, &spec, c.mask.given);
    EXPECT_EQ(Attributes(font), c.result) << std::hex << int(c.font) << " - " << int(c.remove);
    EXPECT_EQ(effect, c.result >= 0x80 ? 1u : 0u);
    EXPECT_EQ(record, 0u);
  }
}

TEST_F(FontOverrideTest, AddedSuperscriptReplacesAShadow) {
  font_spec specs[2];
  font_spec_mask masks[2];
  ASSERT_EQ(ParseFontString("+Superscript", nullptr, nullptr, specs, masks), 0);
  masks[0].given[kSpecColor] = 0;
  FONTID font = Font(1, 0x80, 0, 10);
  DWORD record = 9, effect = 9;
  ApplyFontOverrideExt(&font, nullptr, &record, &effect, &specs[0], masks[0].given);
  EXPECT_EQ(Attributes(font), 0x10);
  EXPECT_EQ(effect, 0u);
  font = Font(1, 0x90, 0, 10);
  ApplyFontOverrideExt(&font, nullptr, &record, &effect, &specs[0], masks[0].given);
  EXPECT_EQ(Attributes(font), 0x90);
  EXPECT_EQ(effect, 1u);
}

// ---- ApplyFontOverrideExt: colour value ----

TEST_F(FontOverrideTest, ColourValueTakesFlagsAndColour) {
  struct Case {
    const char* what;
    font_spec spec;
    Mask mask;
    COLOR_VALUE before;
    COLOR_VALUE after;
    DWORD record;
  };
  // clang-format off
  const Case cases[] = {
      {"highlight set", Spec(0, 0, 0x8000), {kSpecColorFlags}, Color(0, 0, 0, 0), Color(0x8000, 0, 0, 0), 1},
      {"system colour set", Spec(0, 0, 0x0008), {kSpecColorFlags}, Color(0, 0, 0, 0), Color(0x0009, 0, 0, 0), 1},
      {"highlight added", Spec(0, 0, 0, 0x4000), {kSpecColorFlagsAdd}, Color(0x0001, 1, 2, 3), Color(0x4001, 1, 2, 3), 1},
      {"highlight removed", Spec(0, 0, 0, 0, 0x8000), {kSpecColorFlagsRemove}, Color(0x8001, 1, 2, 3), Color(0x0001, 1, 2, 3), 1},
      {"system colour removed", Spec(0, 0, 0, 0, 0x0009), {kSpecColorFlagsRemove}, Color(0x0009, 1, 2, 3), Color(0x0001, 1, 2, 3), 1},
      {"all removed", Spec(0, 0, 0, 0, 0xE000), {kSpecColorFlagsRemove}, Color(0xE000, 0, 0, 0), Color(0, 0, 0, 0), 0},
      {"exact colour", Spec(0, 0xC4E4FF), {kSpecColor}, Color(0x0004, 0, 0, 0), Color(0x0001, 0xFF, 0xE4, 0xC4), 1},
      {"palette colour with its RGB", Spec(4, 0xFF0000), {kSpecColor}, Color(0x0009, 1, 2, 3), Color(0x0001, 0, 0, 0xFF), 1},
      {"black drops the RGB flag", Spec(0, 0), {kSpecColor}, Color(0x0001, 10, 20, 30), Color(0, 10, 20, 30), 0},
      {"palette index without RGB leaves the value", Spec(44, 0), {kSpecColor}, Color(0x0001, 10, 20, 30), Color(0x0001, 10, 20, 30), 1},
      {"system colour kept", Spec(0, 0, 0x0008), {kSpecColor, kSpecColorFlags}, Color(0x0004, 5, 5, 5), Color(0x0009, 0, 0, 0), 1},
      {"colour not given", Spec(4, 0xFF0000), {}, Color(0, 0, 0, 0), Color(0, 0, 0, 0), 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    font_spec spec = c.spec;
    COLOR_VALUE value = c.before;
    FONTID font = Font(1, 0, 7, 10);
    DWORD record = 9, effect = 9;
    ApplyFontOverrideExt(&font, &value, &record, &effect, &spec, c.mask.given);
    EXPECT_EQ(std::memcmp(&value, &c.after, sizeof value), 0)
        << std::hex << value.Flags << " " << int(value.Red) << " " << int(value.Green) << " "
        << int(value.Blue);
    EXPECT_EQ(record, c.record);
    EXPECT_EQ(effect, 0u);
    EXPECT_EQ(FontByte(&font, FONTID_COLOR_BYTE), c.mask.given[kSpecColor] ? c.spec.color : 7);
  }
}

TEST_F(FontOverrideTest, WithoutAColourValueTheFontSpecBuildsOne) {
  struct Case {
    const char* what;
    font_spec spec;
    DWORD record;
    COLOR_VALUE built;
  } cases[] = {
      {"nothing", Spec(0, 0), 0, Color(0, 0, 0, 0)},
      {"highlight added", Spec(0, 0, 0, 0x8000), 1, Color(0, 0, 0, 0)},
      {"highlight added and removed", Spec(0, 0, 0, 0x8000, 0x8000), 0, Color(0, 0, 0, 0)},
      {"highlight set", Spec(0, 0, 0x2000), 1, Color(0x2000, 0, 0, 0)},
      {"exact colour", Spec(0, 0x1E140A), 1, Color(0x0001, 10, 20, 30)},
      {"exact colour keeps its highlight", Spec(0, 0x1E140A, 0x8000), 1, Color(0x8001, 10, 20, 30)},
  };
  Mask mask{kSpecColor};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    font_spec spec = c.spec;
    FONTID font = 0;
    DWORD record = 9, effect = 9;
    ApplyFontOverrideExt(&font, nullptr, &record, &effect, &spec, mask.given);
    EXPECT_EQ(record, c.record);
    EXPECT_EQ(std::memcmp(&spec.color_value, &c.built, sizeof c.built), 0);
  }
}

TEST_F(FontOverrideTest, ColourValueAtAnOddAddressIsReadAndWrittenBytewise) {
  BYTE buffer[1 + sizeof(COLOR_VALUE)] = {};
  COLOR_VALUE before = Color(0x8001, 1, 2, 3);
  std::memcpy(buffer + 1, &before, sizeof before);
  auto* value = reinterpret_cast<COLOR_VALUE*>(buffer + 1);
  font_spec spec = Spec(0, 0, 0, 0, 0x8000);
  Mask mask{kSpecColorFlagsRemove};
  FONTID font = 0;
  DWORD record = 9, effect = 9;
  ApplyFontOverrideExt(&font, value, &record, &effect, &spec, mask.given);
  const BYTE expected[] = {0x01, 0x00, 1, 2, 3, 0};
  EXPECT_EQ(std::memcmp(buffer + 1, expected, sizeof expected), 0);
  spec = Spec(0, 0x030201);
  Mask color{kSpecColor};
  EXPECT_EQ(FontNotFilteredExt(&font, value, &spec, color.given), 1);
}

// ---- FontNotFilteredExt ----

TEST_F(FontOverrideTest, ExtendedFilterComparesColourAndFlags) {
  const FONTID red = Font(1, 0, 2, 10);
  const FONTID blue = Font(1, 0, 4, 10);
  const FONTID black = Font(1, 0, 0, 10);
  struct Case {
    const char* what;
    font_spec spec;
    Mask mask;
    FONTID font;
    bool has_color;
    COLOR_VALUE color;
    int passes;
  };
  // clang-format off
  const Case cases[] = {
      // exact RGB of the run against the palette colour of the filter
      {"RGB of palette 2, filter 2", Spec(2, 0x0000FF), {kSpecColor}, red, true, Color(0x0001, 255, 0, 0), 1},
      {"RGB of palette 2, filter 2 without RGB", Spec(2, 0), {kSpecColor}, red, true, Color(0x0001, 255, 0, 0), 1},
      {"other RGB, filter 2", Spec(2, 0x0000FF), {kSpecColor}, red, true, Color(0x0001, 0, 0, 255), 0},
      // both exact: the bytes decide
      {"both RGB, same", Spec(0, 0x1E140A, 0x0001), {kSpecColor}, black, true, Color(0x0001, 10, 20, 30), 1},
      {"both RGB, different", Spec(0, 0x1E140A, 0x0001), {kSpecColor}, black, true, Color(0x0001, 10, 20, 31), 0},
      {"exact run, filter exact black", Spec(0, 0, 0x0001), {kSpecColor}, black, true, Color(0x0001, 0, 0, 0), 1},
      // a run without an exact colour is its palette colour
      {"palette 4, filter Blue", Spec(4, 0xFF0000), {kSpecColor}, blue, false, {}, 1},
      {"palette 4 with plain value, filter Blue", Spec(4, 0xFF0000), {kSpecColor}, blue, true, Color(0x8000, 0, 0, 0), 1},
      {"palette 0, filter Bisque", Spec(0, 0xC4E4FF), {kSpecColor}, black, false, {}, 0},
      {"palette 0, filter black", Spec(0, 0), {kSpecColor}, black, false, {}, 1},
      // absolute colour flags must equal the run's highlights
      {"highlight wanted, present", Spec(0, 0, 0x8000), {kSpecColorFlags}, black, true, Color(0x8001, 0, 0, 0), 1},
      {"highlight wanted, other", Spec(0, 0, 0x8000), {kSpecColorFlags}, black, true, Color(0x4000, 0, 0, 0), 0},
      {"highlight wanted, no value", Spec(0, 0, 0x8000), {kSpecColorFlags}, black, false, {}, 0},
      {"none wanted, present", Spec(0, 0, 0), {kSpecColorFlags}, black, true, Color(0x2000, 0, 0, 0), 0},
      // flags to have and to lack
      {"add present", Spec(0, 0, 0, 0x4000), {kSpecColorFlagsAdd}, black, true, Color(0x4000, 0, 0, 0), 1},
      {"add missing", Spec(0, 0, 0, 0x4000), {kSpecColorFlagsAdd}, black, true, Color(0x8000, 0, 0, 0), 0},
      {"add, no value", Spec(0, 0, 0, 0x4000), {kSpecColorFlagsAdd}, black, false, {}, 0},
      {"remove present", Spec(0, 0, 0, 0, 0x8000), {kSpecColorFlagsRemove}, black, true, Color(0x8000, 0, 0, 0), 0},
      {"remove absent", Spec(0, 0, 0, 0, 0x8000), {kSpecColorFlagsRemove}, black, true, Color(0x4000, 0, 0, 0), 1},
  };
  // clang-format on
  for (const Case& c : cases) {
    const COLOR_VALUE* color = c.has_color ? &c.color : nullptr;
    EXPECT_EQ(FontNotFilteredExt(&c.font, color, &c.spec, c.mask.given), c.passes) << c.what;
  }
}

TEST_F(FontOverrideTest, ParsedFilterFindsTheFontItWasWrittenFor) {
  font_spec specs[2];
  font_spec_mask masks[2];
  ASSERT_EQ(ParseFontString("+Bold Blue", nullptr, nullptr, specs, masks), 0);
  FONTID boldBlue = Font(1, 0x01, 4, 10);
  FONTID italicBlue = Font(1, 0x02, 4, 10);
  FONTID boldRed = Font(1, 0x01, 2, 10);
  EXPECT_EQ(FontNotFiltered(&boldBlue, &specs[0], masks[0].given), 1);
  EXPECT_EQ(FontNotFiltered(&italicBlue, &specs[0], masks[0].given), 0);
  EXPECT_EQ(FontNotFiltered(&boldRed, &specs[0], masks[0].given), 0);
  EXPECT_EQ(FontNotFilteredExt(&boldBlue, nullptr, &specs[0], masks[0].given), 1);
  COLOR_VALUE exactBlue = Color(0x0001, 0, 0, 255);
  EXPECT_EQ(FontNotFilteredExt(&boldBlue, &exactBlue, &specs[0], masks[0].given), 1);
  COLOR_VALUE exactOther = Color(0x0001, 0, 0, 254);
  EXPECT_EQ(FontNotFilteredExt(&boldBlue, &exactOther, &specs[0], masks[0].given), 0);
}

} // namespace
