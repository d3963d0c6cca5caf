// Font strings: parsing into font specs with their given-flags,
// writing the font string of a FONTID (and colour record), and the round
// trip of a written string through the parser and the font override.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "chunk/font_override.h"
#include "generate/color_string.h"
#include "generate/font_string.h"
#include "host/host_testing.h"
#include "store/rtitem_internal.h"
#include "store/vocabulary.h"
#include "tools/cd_builder.h"

namespace {

constexpr int kNotes = 1;
constexpr int kWeb = 0;

/* An item whose face table holds the standard faces and a few more. */
class FontStringTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    saved_ = global_client_preference;
    item_ = std::make_unique<VelkoRTItem>(session_.get());
    AddFace(5, "Arial");
    AddFace(6, "Arial Narrow");
    AddFace(7, "Arial Black");
    AddFace(20, "Abc");
    AddFace(21, "Xyz");
    global_client_preference = kNotes;
  }
  void TearDown() override {
    item_.reset();
    global_client_preference = saved_;
  }

  void AddFace(BYTE id, const char* name) {
    font_face& face = item_->internal->faces[item_->internal->face_count++];
    face.id = id;
    std::strncpy(face.name, name, sizeof face.name - 1);
  }

  std::unique_ptr<LSXLsiSession> session_ = std::make_unique<LSXLsiSession>();
  std::unique_ptr<VelkoRTItem> item_;
  WORD saved_ = 1;
};

FONTID Font(BYTE face, BYTE attributes, BYTE color, BYTE size) {
  return cdbuild::FontId({face, attributes, color, size});
}

CDTEXT TextRecord(FONTID font) {
  CDTEXT record = {};
  record.Header.Signature = SIG_CD_TEXT;
  record.Header.Length = sizeof record;
  record.FontID = font;
  return record;
}

std::vector<BYTE> ColorRecord(WORD flags, BYTE red, BYTE green, BYTE blue) {
  return {0xD2, 8, static_cast<BYTE>(flags), static_cast<BYTE>(flags >> 8), red, green, blue, 0};
}

/* The mask as a string of nine '0' and '1', entry 0 first. */
std::string MaskText(const font_spec_mask& mask) {
  std::string text;
  for (DWORD given : mask.given)
    text += given != 0 ? '1' : '0';
  return text;
}

// ---- parsing ----

struct ParseCase {
  std::string text;
  int naming;
  BYTE face, attributes, color, size, add, remove;
  WORD flags_add, flags_remove;
  DWORD rgb;
  WORD flags;
  const char* mask;
};

void ExpectParsed(const ParseCase& c, const font_spec& spec, const font_spec_mask& mask) {
  SCOPED_TRACE(c.text);
  EXPECT_EQ(spec.face, c.face);
  EXPECT_EQ(spec.attributes, c.attributes);
  EXPECT_EQ(spec.color, c.color);
  EXPECT_EQ(spec.size, c.size);
  EXPECT_EQ(spec.attributes_add, c.add);
  EXPECT_EQ(spec.attributes_remove, c.remove);
  EXPECT_EQ(spec.color_flags_add, c.flags_add);
  EXPECT_EQ(spec.color_flags_remove, c.flags_remove);
  EXPECT_EQ(spec.rgb, c.rgb);
  EXPECT_EQ(spec.color_value.Flags, c.flags);
  EXPECT_EQ(spec.color_value.Red, 0);
  EXPECT_EQ(spec.color_value.Green, 0);
  EXPECT_EQ(spec.color_value.Blue, 0);
  EXPECT_EQ(MaskText(mask), c.mask);
}

TEST_F(FontStringTest, ParseFontStringFillsFontSpecAndMask) {
  const ParseCase cases[] = {
      // text, naming, face, attributes, color, size, add, remove, flags add, flags remove,
      // rgb, colour-value flags, mask
      {"BLUE +UNDERLINE", kNotes, 0, 0, 4, 0, 0x04, 0, 0, 0, 0xFF0000, 0, "001010000"},
      {"DARKGREEN +UNDERLINE", kNotes, 0, 0, 9, 0, 0x04, 0, 0, 0, 0x008000, 0, "001010000"},
      {"DARKGREEN +UNDERLINE", kWeb, 0, 0, 9, 0, 0x04, 0, 0, 0, 0x008000, 0, "001010000"},
      {"GREEN", kWeb, 0, 0, 9, 0, 0, 0, 0, 0, 0x008000, 0, "001000000"},
      {"RED +STRIKETHROUGH", kNotes, 0, 0, 2, 0, 0x08, 0, 0, 0, 0x0000FF, 0, "001010000"},
      // PLAIN comes last
      {"Plain +Bold", kNotes, 0, 0, 0, 0, 0x01, 0, 0, 0xE000, 0, 0, "000110101"},
      {"Bold Plain", kNotes, 0, 0, 0, 0, 0, 0, 0, 0xE000, 0, 0, "000100101"},
      // sizes; one word always names a colour
      {"12pt", kNotes, 0, 0, 0, 12, 0, 0, 0, 0, 0, 0, "011000000"},
      {"12pt Bold", kNotes, 0, 0x01, 0, 12, 0, 0, 0, 0, 0, 0, "010100000"},
      {"150 Arial", kNotes, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, "100000000"},
      {"10 200", kNotes, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, "010000000"},
      {"12,14", kNotes, 0, 0, 0, 12, 0, 0, 0, 0, 0, 0, "011000000"},
      {"99999999999 5", kNotes, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, "010000000"},
      {"0pt", kNotes, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "001000000"},
      {"100pt", kNotes, 0, 0, 0, 100, 0, 0, 0, 0, 0, 0, "011000000"},
      {"101pt", kNotes, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "001000000"},
      // colours by number, RGB and '#': their digits are never a size
      {"COLOR5 12", kNotes, 0, 0, 5, 12, 0, 0, 0, 0, 0xFF00FF, 0, "011000000"},
      {"COLOR300 12", kNotes, 0, 0, 44, 12, 0, 0, 0, 0, 0, 0, "011000000"},
      {"RGB(255,0,0) 10", kNotes, 0, 0, 168, 10, 0, 0, 0, 0, 0x0000FF, 0, "011000000"},
      {"RGB(50,60,70)", kNotes, 0, 0, 0, 0, 0, 0, 0, 0, 0x463C32, 0, "001000000"},
      {"#FF99AA", kNotes, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA99FF, 0, "001000000"},
      {"#12AB34 12", kNotes, 0, 0, 0, 12, 0, 0, 0, 0, 0x34AB12, 0, "011000000"},
      // faces: the longest name in the table wins; a name can hold a colour
      {"Arial Black", kNotes, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, "101000000"},
      {"Arial Narrow 9pt", kNotes, 6, 0, 0, 9, 0, 0, 0, 0, 0, 0, "110000000"},
      {"Bold 12pt Arial", kNotes, 5, 0x01, 0, 12, 0, 0, 0, 0, 0, 0, "110100000"},
      {"Bold Italic Blue 12pt Arial", kNotes, 5, 0x03, 4, 12, 0, 0, 0, 0, 0xFF0000, 0, "111100000"},
      {"Xyz Abc", kNotes, 20, 0, 0, 0, 0, 0, 0, 0, 0, 0, "100000000"},
      {"Default Sans Serif", kNotes, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, "100000000"},
      {"Times New Roman 12", kNotes, 0, 0, 0, 12, 0, 0, 0, 0, 0, 0, "110000000"},
      // generic families count only in lower case
      {"Sans-Serif", kNotes, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "001000000"},
      {"sans-serif", kNotes, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, "101000000"},
      {"serif", kNotes, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "101000000"},
      {"cursive", kNotes, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "101000000"},
      {"fantasy", kNotes, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "101000000"},
      {"monospace", kNotes, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, "101000000"},
      // style words, absolute, added and removed
      {"Bold Italics Underlined Strikethrough", kNotes, 0, 0x0F, 0, 0, 0, 0, 0, 0, 0, 0,
       "000100000"},
      {"Embossed", kNotes, 0, 0x90, 0, 0, 0, 0, 0, 0, 0, 0, "001100000"},
      {"Extruded", kNotes, 0, 0xA0, 0, 0, 0, 0, 0, 0, 0, 0, "001100000"},
      {"Shadowed", kNotes, 0, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, "001100000"},
      {"Superscript Embossed", kNotes, 0, 0x90, 0, 0, 0, 0, 0, 0, 0, 0, "000100000"},
      {"Subscript Extruded", kNotes, 0, 0xA0, 0, 0, 0, 0, 0, 0, 0, 0, "000100000"},
      {"-Emboss", kNotes, 0, 0, 0, 0, 0, 0x90, 0, 0, 0, 0, "001001000"},
      {"+Superscript", kNotes, 0, 0, 0, 0, 0x10, 0x80, 0, 0, 0, 0, "001011000"},
      {"+Subscript", kNotes, 0, 0, 0, 0, 0x20, 0x80, 0, 0, 0, 0, "001011000"},
      {"-Bold +Italic", kNotes, 0, 0, 0, 0, 0x02, 0x01, 0, 0, 0, 0, "000011000"},
      // colour flags
      {"HighlightYellow", kNotes, 0, 0, 0, 0, 0, 0, 0x8000, 0, 0, 0x8000, "001000100"},
      {"-HighlightYellow", kNotes, 0, 0, 0, 0, 0, 0, 0, 0x8000, 0, 0, "001000001"},
      {"+HighlightPink Blue", kNotes, 0, 0, 4, 0, 0, 0, 0x4000, 0, 0xFF0000, 0x4000, "001000010"},
      {"HighlightBlue Blue", kNotes, 0, 0, 4, 0, 0, 0, 0x2000, 0, 0xFF0000, 0x2000, "001000100"},
      {"SystemColor", kNotes, 0, 0, 0, 0, 0, 0, 0x0009, 0, 0, 0x0009, "001000100"},
      {"-SystemColor HighlightBlue", kNotes, 0, 0, 0, 0, 0, 0, 0x2000, 0x0009, 0, 0x2000,
       "000000101"},
      // WINDOWTEXT has no current colour here: black
      {"WindowText", kNotes, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "001000000"},
      // only the first 255 characters are read
      {std::string(251, 'X') + " 12 Bold", kNotes, 0, 0, 0, 12, 0, 0, 0, 0, 0, 0, "010000000"},
  };
  for (const ParseCase& c : cases) {
    global_client_preference = static_cast<WORD>(c.naming);
    font_spec specs[2];
    font_spec_mask masks[2];
    ASSERT_EQ(ParseFontString(c.text.c_str(), nullptr, item_.get(), specs, masks), 0);
    ExpectParsed(c, specs[0], masks[0]);
    EXPECT_EQ(MaskText(masks[1]), "000000000") << c.text;
  }
}

TEST_F(FontStringTest, NullFontClearsBothPairsAndFails) {
  font_spec specs[2];
  font_spec_mask masks[2];
  std::memset(specs, 0xAB, sizeof specs);
  std::memset(masks, 0xAB, sizeof masks);
  EXPECT_EQ(ParseFontString(nullptr, "Bold", item_.get(), specs, masks), 1028);
  for (const font_spec& spec : specs) {
    EXPECT_EQ(spec.face, 0);
    EXPECT_EQ(spec.attributes, 0);
    EXPECT_EQ(spec.color, 0);
    EXPECT_EQ(spec.size, 0);
    EXPECT_EQ(spec.attributes_add, 0);
    EXPECT_EQ(spec.attributes_remove, 0);
    EXPECT_EQ(spec.color_flags_add, 0);
    EXPECT_EQ(spec.color_flags_remove, 0);
    EXPECT_EQ(spec.rgb, 0u);
    EXPECT_EQ(spec.color_value.Flags, 0);
    EXPECT_EQ(spec.color_value.Red | spec.color_value.Green | spec.color_value.Blue, 0);
  }
  EXPECT_EQ(MaskText(masks[0]), "000000000");
  EXPECT_EQ(MaskText(masks[1]), "000000000");
}

TEST_F(FontStringTest, SecondStringFillsTheSecondPair) {
  font_spec specs[2];
  font_spec_mask masks[2];
  ASSERT_EQ(ParseFontString("Bold", "Red 9pt", item_.get(), specs, masks), 0);
  EXPECT_EQ(specs[0].attributes, 0x01);
  EXPECT_EQ(MaskText(masks[0]), "001100000");
  EXPECT_EQ(specs[1].color, 2);
  EXPECT_EQ(specs[1].size, 9);
  EXPECT_EQ(MaskText(masks[1]), "011000000");

  ASSERT_EQ(ParseFontString("", "Blue", item_.get(), specs, masks), 0);
  EXPECT_EQ(MaskText(masks[0]), "000000000");
  EXPECT_EQ(specs[1].color, 4);

  ASSERT_EQ(ParseFontString("Blue", "", item_.get(), specs, masks), 0);
  EXPECT_EQ(specs[0].color, 4);
  EXPECT_EQ(MaskText(masks[1]), "000000000");
}

TEST_F(FontStringTest, WithoutAnItemNoFaceNameIsLookedUp) {
  font_spec specs[2];
  font_spec_mask masks[2];
  ASSERT_EQ(ParseFontString("Arial 12", nullptr, nullptr, specs, masks), 0);
  EXPECT_EQ(MaskText(masks[0]), "010000000");
  ASSERT_EQ(ParseFontString("monospace", nullptr, nullptr, specs, masks), 0);
  EXPECT_EQ(specs[0].face, 4);
  EXPECT_EQ(masks[0].given[kSpecFace], 1u);
}

// ---- writing ----

struct WriteCase {
  FONTID font;
  std::vector<BYTE> record;  // empty: no colour record
  int naming;
  WORD part;
  const char* text;
};

TEST_F(FontStringTest, CalculateFontStringInternalWritesTheParts) {
  const FONTID blue = Font(5, 0x03, 4, 12);
  const WriteCase cases[] = {
      {blue, {}, kNotes, PROP_FONT, "Bold Italic Blue 12pt Arial"},
      {blue, {}, kNotes, PROP_TEXTATTRIBUTES, "Bold Italic"},
      {blue, {}, kNotes, PROP_FONTCOLOR, "Blue"},
      {blue, {}, kNotes, PROP_POINTSIZE, "12pt"},
      {blue, {}, kNotes, PROP_FONTFACE, "Arial"},
      {blue, {}, kNotes, 1, ""},
      {Font(0, 0, 0, 10), {}, kNotes, PROP_FONT, "Plain Black 10pt Default Serif"},
      {Font(5, 0x90, 0, 10), {}, kNotes, PROP_FONT, "Superscript Embossed Black 10pt Arial"},
      {Font(5, 0xA0, 0, 10), {}, kNotes, PROP_FONT, "Subscript Extruded Black 10pt Arial"},
      {Font(5, 0x80, 0, 10), {}, kNotes, PROP_FONT, "Shadowed Black 10pt Arial"},
      {Font(5, 0x3F, 0, 10),
       {},
       kNotes,
       PROP_FONT,
       "Bold Italic Underline Strikethrough Superscript Subscript Black 10pt Arial"},
      {Font(200, 0, 0, 10), {}, kNotes, PROP_FONT, "Plain Black 10pt"},
      {Font(200, 0, 0, 10), {}, kNotes, PROP_FONTFACE, ""},
      {Font(5, 0, 200, 10), {}, kNotes, PROP_FONT, "Plain COLOR200 10pt Arial"},
      {Font(5, 0, 3, 10), {}, kWeb, PROP_FONT, "Plain Lime 10pt Arial"},
      {Font(5, 0, 3, 10), {}, kNotes, PROP_FONT, "Plain Green 10pt Arial"},
      // a colour record: highlights, exact RGB
      {Font(5, 0, 4, 12), ColorRecord(0x8001, 0, 0, 255), kNotes, PROP_FONT,
       "HighlightYellow Blue 12pt Arial"},
      {Font(5, 0x01, 0, 10), ColorRecord(0xE000, 0, 0, 0), kNotes, PROP_FONT,
       "Bold HighlightYellow HighlightPink HighlightBlue Black 10pt Arial"},
      {Font(5, 0, 0, 12), ColorRecord(0x0001, 10, 20, 30), kNotes, PROP_FONT,
       "Plain RGB10,20,30 12pt Arial"},
      {Font(5, 0, 0, 12), ColorRecord(0x0800, 10, 20, 30), kNotes, PROP_FONT,
       "Plain Black 12pt Arial"},
      {Font(5, 0, 0, 12), ColorRecord(0x4000, 0, 0, 0), kNotes, PROP_TEXTATTRIBUTES,
       "HighlightPink"},
  };
  for (const WriteCase& c : cases) {
    global_client_preference = static_cast<WORD>(c.naming);
    const CDCOLOR* rec =
        c.record.empty() ? nullptr : reinterpret_cast<const CDCOLOR*>(c.record.data());
    char out[kFontStringSize];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(CalculateFontStringInternal(&c.font, rec, item_.get(), out, c.part), 0);
    EXPECT_STREQ(out, c.text);
  }
}

TEST_F(FontStringTest, TextRecordWritersTakeTheSecondRecordWhenGiven) {
  CDTEXT first = TextRecord(Font(5, 0x01, 0, 10));
  CDTEXT second = TextRecord(Font(6, 0x02, 4, 9));
  char out[kFontStringSize];
  CalculateFontString(&first, item_.get(), out, PROP_FONT);
  EXPECT_STREQ(out, "Bold Black 10pt Arial");
  CalculateFontStringExt(&first, &second, nullptr, item_.get(), out, PROP_FONT);
  EXPECT_STREQ(out, "Italic Blue 9pt Arial Narrow");
  CalculateFontStringExt(&first, nullptr, nullptr, item_.get(), out, PROP_FONT);
  EXPECT_STREQ(out, "Bold Black 10pt Arial");
  CalculateFontStringExt(nullptr, nullptr, nullptr, item_.get(), out, PROP_FONT);
  EXPECT_STREQ(out, "");
  CalculateFontString(&first, nullptr, out, PROP_FONT);
  EXPECT_STREQ(out, "Bold Black 10pt");
}

TEST_F(FontStringTest, TextRecordAtAnOddAddressIsReadBytewise) {
  CDTEXT record = TextRecord(Font(5, 0x04, 2, 11));
  std::vector<BYTE> buffer(1 + sizeof record);
  std::memcpy(buffer.data() + 1, &record, sizeof record);
  char out[kFontStringSize];
  CalculateFontString(reinterpret_cast<const CDTEXT*>(buffer.data() + 1), item_.get(), out,
                      PROP_FONT);
  EXPECT_STREQ(out, "Underline Red 11pt Arial");
}

// ---- round trip ----

FONTID RoundTrip(const char* text, VelkoRTItem* item) {
  font_spec specs[2];
  font_spec_mask masks[2];
  EXPECT_EQ(ParseFontString(text, nullptr, item, specs, masks), 0);
  FONTID font = 0;
  ApplyFontOverride(&font, nullptr, nullptr, &specs[0], masks[0].given);
  return font;
}

TEST_F(FontStringTest, WrittenFontStringsParseBackToTheSameFont) {
  const BYTE faces[] = {0, 1, 3, 4, 5, 6, 20, 21};
  const BYTE attributes[] = {0, 0x01, 0x0F, 0x10, 0x20, 0x30, 0x3F, 0x80, 0x90, 0xA0, 0xB0, 0xBF};
  const BYTE sizes[] = {1, 10, 100};
  for (int naming : {kNotes, kWeb}) {
    global_client_preference = static_cast<WORD>(naming);
    for (BYTE face : faces) {
      for (BYTE attribute : attributes) {
        for (int color = 0; color < 240; color += 13) {
          for (BYTE size : sizes) {
            FONTID font = Font(face, attribute, static_cast<BYTE>(color), size);
            CDTEXT record = TextRecord(font);
            char out[kFontStringSize];
            CalculateFontString(&record, item_.get(), out, PROP_FONT);
            ASSERT_EQ(RoundTrip(out, item_.get()), font) << out;
          }
        }
      }
    }
  }
}

TEST_F(FontStringTest, HighlightedColourParsesBackBesideItsHighlightWord) {
  FONTID font = Font(5, 0, 6, 10);
  std::vector<BYTE> record = ColorRecord(0x8001, 255, 255, 0);
  char out[kFontStringSize];
  CalculateFontStringInternal(&font, reinterpret_cast<const CDCOLOR*>(record.data()), item_.get(),
                              out, PROP_FONT);
  ASSERT_STREQ(out, "HighlightYellow Yellow 10pt Arial");
  font_spec specs[2];
  font_spec_mask masks[2];
  ParseFontString(out, nullptr, item_.get(), specs, masks);
  EXPECT_EQ(specs[0].color, 6);
  EXPECT_EQ(specs[0].color_value.Flags, 0x8000);
  EXPECT_EQ(RoundTrip(out, item_.get()), font);
}

}  // namespace
