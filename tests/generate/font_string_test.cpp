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
#include "store/session.h"
#include "store/vocabulary.h"
#include "cdbuild/cd_builder.h"

namespace {

constexpr WORD kNotes = 1;
constexpr WORD kWeb = 0;

/* An item whose face table holds the standard faces and a few more. */
class FontStringTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    saved_ = session_->internal->global_client_preference;
    item_ = std::make_unique<VelkoRTItem>(session_.get());
    const struct {
      BYTE id;
      const char* name;
    } faces[] = {{5, "Arial"}, {6, "Arial Narrow"}, {7, "Arial Black"}, {20, "Abc"}, {21, "Xyz"}};
    for (const auto& added : faces) {
      font_face& face = item_->internal->faces[item_->internal->face_count++];
      face.id = added.id;
      std::strncpy(face.name, added.name, sizeof face.name - 1);
    }
    session_->internal->global_client_preference = kNotes;
  }
  void TearDown() override {
    item_.reset();
    session_->internal->global_client_preference = saved_;
  }

  /* The parts of the first spec that are not 0 and the mask as nine '0'
   * and '1' (entry 0 first); the second pair must be empty. */
  std::string Parse(const char* text, const char* second = nullptr, int pair = 0) {
    font_spec specs[2];
    font_spec_mask masks[2];
    std::memset(specs, 0xAB, sizeof specs);
    std::memset(masks, 0xAB, sizeof masks);
    const STATUS status = ParseFontString(text, second, item_.get(), specs, masks);
    const font_spec& spec = specs[pair];
    char parts[160];
    std::snprintf(parts, sizeof parts, "%u %u %u %u +%02X -%02X f+%04X f-%04X rgb%06X f%04X %u%u%u",
                  spec.face, spec.attributes, spec.color, spec.size, spec.attributes_add,
                  spec.attributes_remove, spec.color_flags_add, spec.color_flags_remove, spec.rgb,
                  spec.color_value.Flags, spec.color_value.Red, spec.color_value.Green,
                  spec.color_value.Blue);
    std::string result = parts;
    result += " ";
    for (DWORD given : masks[pair].given)
      result += given != 0 ? '1' : '0';
    if (pair == 0 && second == nullptr) {
      for (DWORD given : masks[1].given)
        EXPECT_EQ(given, 0u) << text;
    }
    return status == 0 ? result : "status " + std::to_string(status) + " " + result;
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

TEST_F(FontStringTest, ParseFontStringFillsFontSpecAndMask) {
  const struct {
    std::string text;
    WORD naming;
    const char* parsed; // face attributes colour size +add -remove f+add f-remove rgb flags RGB mask
  } cases[] = {
      {"BLUE +UNDERLINE", kNotes, "0 0 4 0 +04 -00 f+0000 f-0000 rgbFF0000 f0000 000 001010000"},
      {"GREEN", kWeb, "0 0 9 0 +00 -00 f+0000 f-0000 rgb008000 f0000 000 001000000"},
      {"DARKGREEN +UNDERLINE", kNotes,
       "0 0 9 0 +04 -00 f+0000 f-0000 rgb008000 f0000 000 001010000"},
      {"DARKGREEN +UNDERLINE", kWeb,
       "0 0 9 0 +04 -00 f+0000 f-0000 rgb008000 f0000 000 001010000"},
      // STRIKE matches as a prefix
      {"RED +STRIKETHROUGH", kNotes, "0 0 2 0 +08 -00 f+0000 f-0000 rgb0000FF f0000 000 001010000"},
      // PLAIN comes last
      {"Plain +Bold", kNotes, "0 0 0 0 +01 -00 f+0000 f-E000 rgb000000 f0000 000 000110101"},
      {"Bold Plain", kNotes, "0 0 0 0 +00 -00 f+0000 f-E000 rgb000000 f0000 000 000100101"},
      // sizes; one word always names a colour
      {"12pt Bold", kNotes, "0 1 0 12 +00 -00 f+0000 f-0000 rgb000000 f0000 000 010100000"},
      {"150 Arial", kNotes, "5 0 0 0 +00 -00 f+0000 f-0000 rgb000000 f0000 000 100000000"},
      {"10 200", kNotes, "0 0 0 10 +00 -00 f+0000 f-0000 rgb000000 f0000 000 010000000"},
      {"12,14", kNotes, "0 0 0 12 +00 -00 f+0000 f-0000 rgb000000 f0000 000 011000000"},
      {"99999999999 5", kNotes, "0 0 0 5 +00 -00 f+0000 f-0000 rgb000000 f0000 000 010000000"},
      {"100pt", kNotes, "0 0 0 100 +00 -00 f+0000 f-0000 rgb000000 f0000 000 011000000"},
      {"101pt", kNotes, "0 0 0 0 +00 -00 f+0000 f-0000 rgb000000 f0000 000 001000000"},
      // colours by number, RGB and '#': their digits are never a size
      {"COLOR300 12", kNotes, "0 0 44 12 +00 -00 f+0000 f-0000 rgb000000 f0000 000 011000000"},
      {"RGB(255,0,0) 10", kNotes, "0 0 168 10 +00 -00 f+0000 f-0000 rgb0000FF f0000 000 011000000"},
      {"#12AB34 12", kNotes, "0 0 0 12 +00 -00 f+0000 f-0000 rgb34AB12 f0000 000 011000000"},
      // not even the digits that follow a hexadecimal letter
      {"#FF99AA", kNotes, "0 0 0 0 +00 -00 f+0000 f-0000 rgbAA99FF f0000 000 001000000"},
      // faces: the longest name in the table wins; a name can hold a colour
      {"Arial Black", kNotes, "7 0 0 0 +00 -00 f+0000 f-0000 rgb000000 f0000 000 101000000"},
      {"Arial Narrow 9pt", kNotes, "6 0 0 9 +00 -00 f+0000 f-0000 rgb000000 f0000 000 110000000"},
      {"Bold Italic Blue 12pt Arial", kNotes,
       "5 3 4 12 +00 -00 f+0000 f-0000 rgbFF0000 f0000 000 111100000"},
      {"Default Sans Serif", kNotes, "1 0 0 0 +00 -00 f+0000 f-0000 rgb000000 f0000 000 100000000"},
      {"Times New Roman 12", kNotes, "0 0 0 12 +00 -00 f+0000 f-0000 rgb000000 f0000 000 110000000"},
      // generic families count only in lower case
      {"Sans-Serif", kNotes, "0 0 0 0 +00 -00 f+0000 f-0000 rgb000000 f0000 000 001000000"},
      {"sans-serif", kNotes, "1 0 0 0 +00 -00 f+0000 f-0000 rgb000000 f0000 000 101000000"},
      {"monospace", kNotes, "4 0 0 0 +00 -00 f+0000 f-0000 rgb000000 f0000 000 101000000"},
      // style words, absolute, added and removed
      {"Bold Italics Underlined Strikethrough", kNotes,
       "0 15 0 0 +00 -00 f+0000 f-0000 rgb000000 f0000 000 000100000"},
      {"Embossed", kNotes, "0 144 0 0 +00 -00 f+0000 f-0000 rgb000000 f0000 000 001100000"},
      {"Subscript Extruded", kNotes, "0 160 0 0 +00 -00 f+0000 f-0000 rgb000000 f0000 000 000100000"},
      {"-Emboss", kNotes, "0 0 0 0 +00 -90 f+0000 f-0000 rgb000000 f0000 000 001001000"},
      {"+Superscript", kNotes, "0 0 0 0 +10 -80 f+0000 f-0000 rgb000000 f0000 000 001011000"},
      {"-Bold +Italic", kNotes, "0 0 0 0 +02 -01 f+0000 f-0000 rgb000000 f0000 000 000011000"},
      // colour flags
      {"HighlightYellow", kNotes, "0 0 0 0 +00 -00 f+8000 f-0000 rgb000000 f8000 000 001000100"},
      {"-HighlightYellow", kNotes, "0 0 0 0 +00 -00 f+0000 f-8000 rgb000000 f0000 000 001000001"},
      {"+HighlightPink Blue", kNotes,
       "0 0 4 0 +00 -00 f+4000 f-0000 rgbFF0000 f4000 000 001000010"},
      {"-SystemColor HighlightBlue", kNotes,
       "0 0 0 0 +00 -00 f+2000 f-0009 rgb000000 f2000 000 000000101"},
      // WINDOWTEXT has no current colour here: black
      {"WindowText", kNotes, "0 0 0 0 +00 -00 f+0000 f-0000 rgb000000 f0000 000 001000000"},
      // only the first 255 characters are read
      {std::string(251, 'X') + " 12 Bold", kNotes,
       "0 0 0 12 +00 -00 f+0000 f-0000 rgb000000 f0000 000 010000000"},
  };
  for (const auto& c : cases) {
    session_->internal->global_client_preference = c.naming;
    EXPECT_EQ(Parse(c.text.c_str()), c.parsed) << c.text;
  }
}

TEST_F(FontStringTest, SecondStringFillsTheSecondPairAndANullFontFails) {
  const std::string empty = "0 0 0 0 +00 -00 f+0000 f-0000 rgb000000 f0000 000 000000000";
  EXPECT_EQ(Parse(nullptr, "Bold", 0), "status 1028 " + empty) << "both pairs are cleared";
  EXPECT_EQ(Parse(nullptr, "Bold", 1), "status 1028 " + empty);
  EXPECT_EQ(Parse("Bold", "Red 9pt", 0),
            "0 1 0 0 +00 -00 f+0000 f-0000 rgb000000 f0000 000 001100000");
  EXPECT_EQ(Parse("Bold", "Red 9pt", 1),
            "0 0 2 9 +00 -00 f+0000 f-0000 rgb0000FF f0000 000 011000000");
  EXPECT_EQ(Parse("", "Blue", 0), empty);
  EXPECT_EQ(Parse("Blue", "", 1), empty);
  font_spec specs[2];
  font_spec_mask masks[2];
  ASSERT_EQ(ParseFontString("Arial 12 monospace", nullptr, nullptr, specs, masks), 0);
  EXPECT_EQ(specs[0].face, 4) << "without an item only the generic families are faces";
  EXPECT_EQ(specs[0].size, 12);
}

TEST_F(FontStringTest, CalculateFontStringInternalWritesTheParts) {
  const FONTID blue = Font(5, 0x03, 4, 12);
  const struct {
    FONTID font;
    std::vector<BYTE> record; // empty: no colour record
    WORD naming;
    WORD part;
    const char* text;
  } cases[] = {
      {blue, {}, kNotes, PROP_FONT, "Bold Italic Blue 12pt Arial"},
      {blue, {}, kNotes, PROP_TEXTATTRIBUTES, "Bold Italic"},
      {blue, {}, kNotes, PROP_FONTCOLOR, "Blue"},
      {blue, {}, kNotes, PROP_FONTFACE, "Arial"},
      {blue, {}, kNotes, 1, ""},
      {Font(0, 0, 0, 10), {}, kNotes, PROP_FONT, "Plain Black 10pt Default Serif"},
      {Font(5, 0x90, 0, 10), {}, kNotes, PROP_FONT, "Superscript Embossed Black 10pt Arial"},
      {Font(5, 0xA0, 0, 10), {}, kNotes, PROP_FONT, "Subscript Extruded Black 10pt Arial"},
      {Font(5, 0x3F, 0, 10), {}, kNotes, PROP_FONT,
       "Bold Italic Underline Strikethrough Superscript Subscript Black 10pt Arial"},
      {Font(200, 0, 0, 10), {}, kNotes, PROP_FONT, "Plain Black 10pt"},
      {Font(5, 0, 200, 10), {}, kNotes, PROP_FONT, "Plain COLOR200 10pt Arial"},
      {Font(5, 0, 3, 10), {}, kWeb, PROP_FONT, "Plain Lime 10pt Arial"},
      // a colour record: highlights, exact RGB
      {Font(5, 0x01, 0, 10), ColorRecord(0xE000, 0, 0, 0), kNotes, PROP_FONT,
       "Bold HighlightYellow HighlightPink HighlightBlue Black 10pt Arial"},
      {Font(5, 0, 0, 12), ColorRecord(0x0001, 10, 20, 30), kNotes, PROP_FONT,
       "Plain RGB10,20,30 12pt Arial"},
      {Font(5, 0, 0, 12), ColorRecord(0x0800, 10, 20, 30), kNotes, PROP_FONT,
       "Plain Black 12pt Arial"},
      {Font(5, 0, 0, 12), ColorRecord(0x4000, 0, 0, 0), kNotes, PROP_TEXTATTRIBUTES,
       "HighlightPink"},
  };
  for (const auto& c : cases) {
    session_->internal->global_client_preference = c.naming;
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
  CalculateFontStringExt(&first, &second, nullptr, item_.get(), out, PROP_FONT);
  EXPECT_STREQ(out, "Italic Blue 9pt Arial Narrow");
  CalculateFontStringExt(&first, nullptr, nullptr, item_.get(), out, PROP_FONT);
  EXPECT_STREQ(out, "Bold Black 10pt Arial");
  CalculateFontStringExt(nullptr, nullptr, nullptr, item_.get(), out, PROP_FONT);
  EXPECT_STREQ(out, "");
  CalculateFontString(&first, nullptr, out, PROP_FONT);
  EXPECT_STREQ(out, "Bold Black 10pt");
  // At an odd address the record is read byte by byte.
  std::vector<BYTE> buffer(1 + sizeof second);
  std::memcpy(buffer.data() + 1, &second, sizeof second);
  CalculateFontString(reinterpret_cast<const CDTEXT*>(buffer.data() + 1), item_.get(), out,
                      PROP_FONT);
  EXPECT_STREQ(out, "Italic Blue 9pt Arial Narrow");
}

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
  for (WORD naming : {kNotes, kWeb}) {
    session_->internal->global_client_preference = naming;
    for (BYTE face : faces)
      for (BYTE attribute : attributes)
        for (int color = 0; color < 240; color += 13)
          for (BYTE size : {1, 10, 100}) {
            const CDTEXT record = TextRecord(Font(face, attribute, static_cast<BYTE>(color), size));
            char out[kFontStringSize];
            CalculateFontString(&record, item_.get(), out, PROP_FONT);
            ASSERT_EQ(RoundTrip(out, item_.get()), record.FontID) << out;
          }
  }
  // A highlighted colour parses back beside its highlight word.
  const FONTID font = Font(5, 0, 6, 10);
  const std::vector<BYTE> record = ColorRecord(0x8001, 255, 255, 0);
  char out[kFontStringSize];
  CalculateFontStringInternal(&font, reinterpret_cast<const CDCOLOR*>(record.data()), item_.get(),
                              out, PROP_FONT);
  ASSERT_STREQ(out, "HighlightYellow Yellow 10pt Arial");
  EXPECT_EQ(Parse(out), "5 0 6 10 +00 -00 f+8000 f-0000 rgb00FFFF f8000 000 111000100");
  EXPECT_EQ(RoundTrip(out, item_.get()), font);
}

} // namespace
