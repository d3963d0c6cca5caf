// LMBCS and character-set translation of the host stand-in: the fixed way
// LMBCS is written (checked against ICU's own LMBCS-1 reader), character
// lengths and lead bytes, translation with "?" substitution and cut output,
// OSTranslate's modes and IntlTextCompare's strength flags.
#include <gtest/gtest.h>

#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/host_testing.h"
#include "host/nls.h"
#include "host/status.h"

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int value : values)
    bytes.push_back(static_cast<char>(value));
  return bytes;
}

std::string Hex(const std::string& bytes) {
  std::string hex;
  char part[4];
  for (unsigned char byte : bytes) {
    std::snprintf(part, sizeof part, "%02X ", byte);
    hex += part;
  }
  return hex;
}

const BYTE* B(const std::string& text) { return reinterpret_cast<const BYTE*>(text.data()); }

// ICU's own reading of LMBCS, independent of the host's code.
std::u16string IcuReadsLmbcs(const std::string& lmbcs) {
  UErrorCode error = U_ZERO_ERROR;
  UConverter* converter = ucnv_open("LMBCS-1", &error);
  std::u16string units(lmbcs.size() + 1, u'\0');
  const int32_t length = ucnv_toUChars(converter, reinterpret_cast<UChar*>(units.data()),
                                       static_cast<int32_t>(units.size()), lmbcs.data(),
                                       static_cast<int32_t>(lmbcs.size()), &error);
  ucnv_close(converter);
  units.resize(U_SUCCESS(error) ? static_cast<size_t>(length) : 0);
  return units;
}

std::u16string Utf16(const std::string& utf8) {
  std::u16string units(utf8.size() + 1, u'\0');
  int32_t length = 0;
  UErrorCode error = U_ZERO_ERROR;
  u_strFromUTF8(reinterpret_cast<UChar*>(units.data()), static_cast<int32_t>(units.size()),
                &length, utf8.data(), static_cast<int32_t>(utf8.size()), &error);
  units.resize(static_cast<size_t>(length));
  return units;
}

TEST(Lmbcs, WritesTheFixedFormAndReadsItBack) {
  const struct {
    std::string utf8;
    std::string lmbcs;
  } cases[] = {
      {"Az ~\x7F\t\n\r", "Az ~\x7F\t\n\r"},
      {std::string("a\0b", 3), std::string("a\0b", 3)},
      {"\x01\x1F\u0080\u009F", Bytes({0x0F, 0x21, 0x0F, 0x3F, 0x0F, 0x80, 0x0F, 0x9F})},
      {"\u00C7\u00FC\u00A0\u2500\u25A0", Bytes({0x80, 0x81, 0xFF, 0xC4, 0xFE})}, // code page 850
      {"\u20AC\u3042", Bytes({0x14, 0x20, 0xAC, 0x14, 0x30, 0x42})},
      {"\u0100\uF600", Bytes({0x14, 0xF6, 0x01, 0x14, 0xF6, 0xF6})}, // a zero low byte
      {"\uF601", Bytes({0x12, 0x8C, 0xEC})},
      {"\U0001F600", Bytes({0x14, 0xD8, 0x3D, 0x14, 0xF6, 0xDE})},
  };
  for (const auto& c : cases) {
    const std::string lmbcs = LmbcsFromUtf8(c.utf8);
    EXPECT_EQ(Hex(lmbcs), Hex(c.lmbcs));
    EXPECT_EQ(Utf8FromLmbcs(lmbcs), c.utf8);
  }
  // The noncharacters are written as units; ICU's reader takes them for U+FFFD.
  const std::string noncharacters = Bytes({0x14, 0xFF, 0xFE, 0x14, 0xFF, 0xFF});
  EXPECT_EQ(Hex(LmbcsFromUtf8("\uFFFE\uFFFF")), Hex(noncharacters));
  EXPECT_EQ(IcuReadsLmbcs(noncharacters), u"\uFFFD\uFFFD");
  const std::string text = "Zo\u00EB \u20AC5 \U00010000\U0001F600\U0010FFFF \u65E5\u672C\t\r\n";
  const std::string lmbcs = LmbcsFromUtf8(text);
  EXPECT_EQ(IcuReadsLmbcs(lmbcs), Utf16(text));
  EXPECT_EQ(lmbcs.find('\0'), std::string::npos);
  EXPECT_EQ(Utf8FromLmbcs(lmbcs), text);
}

TEST(Lmbcs, EveryBmpCodePointComesBackThroughIcuWithoutNul) {
  std::vector<std::string> failures;
  for (char32_t codePoint = 1; codePoint <= 0xFFFD; ++codePoint) {
    if (codePoint >= 0xD800 && codePoint <= 0xDFFF)
      continue;
    char utf8[4];
    int32_t length = 0;
    UBool failed = false;
    U8_APPEND(utf8, length, 4, codePoint, failed);
    ASSERT_FALSE(failed);
    const std::string lmbcs = LmbcsFromUtf8(std::string(utf8, static_cast<size_t>(length)));
    if (IcuReadsLmbcs(lmbcs) != std::u16string(1, static_cast<char16_t>(codePoint)) ||
        lmbcs.find('\0') != std::string::npos)
      failures.push_back(std::to_string(codePoint) + " -> " + Hex(lmbcs));
  }
  EXPECT_TRUE(failures.empty()) << failures.size() << " failures, first " << failures.front();
}

TEST(Lmbcs, LeadBytesAndCharacterLengthsMatchIcusReader) {
  for (int byte = 0; byte <= 0xFF; ++byte) {
    const bool lead = (byte >= 0x01 && byte <= 0x06) || byte == 0x08 || byte == 0x0B ||
                      (byte >= 0x0F && byte <= 0x14);
    EXPECT_EQ(NLS_isleadbyte(static_cast<BYTE>(byte), nullptr), lead ? TRUE : FALSE) << byte;
    // The units ICU makes of the byte and "ABC" tell how many bytes it took.
    const std::string text = std::string(1, static_cast<char>(byte)) + "ABC";
    WORD bytes = 0;
    ASSERT_EQ(NLS_string_bytes(B(text), 1, &bytes, nullptr), NLS_SUCCESS);
    EXPECT_EQ(bytes, 5 - IcuReadsLmbcs(text).size()) << byte;
  }
  for (int lead = 0x10; lead <= 0x13; ++lead) { // double-byte groups take three bytes
    WORD bytes = 0;
    EXPECT_EQ(NLS_string_bytes(B(Bytes({lead, lead, 'A', 0})), 1, &bytes, nullptr), NLS_SUCCESS);
    EXPECT_EQ(bytes, 3);
    EXPECT_EQ(IcuReadsLmbcs(Bytes({lead, 0x82, 0xA0})).size(), 1u) << lead;
  }
}

TEST(Lmbcs, CountsCharactersAndBytesOfEveryGroup) {
  // A, e-acute (850), C0 control, hiragana a in group 0x10, euro in group 0x14, Z.
  const std::string text = Bytes({'A', 0x82, 0x0F, 0x21, 0x10, 0x82, 0xA0, 0x14, 0x20, 0xAC, 'Z'});
  const struct {
    WORD count;
    WORD bytes; // NLS_string_bytes of count characters
    WORD chars; // NLS_string_chars of count bytes
  } cases[] = {{0, 0, 0},  {1, 1, 1},  {3, 4, 3},  {4, 7, 3},
               {5, 10, 4}, {6, 11, 4}, {NLS_NULLTERM, 11, 6}};
  for (const auto& c : cases) {
    WORD count = 0;
    EXPECT_EQ(NLS_string_bytes(B(text), c.count, &count, nullptr), NLS_SUCCESS);
    EXPECT_EQ(count, c.bytes) << c.count;
    EXPECT_EQ(NLS_string_chars(B(text), c.count, &count, nullptr), NLS_SUCCESS);
    EXPECT_EQ(count, c.chars) << c.count;
  }
  // With a count NUL is a one-byte character; it ends terminated texts,
  // cutting a character short there.
  const std::string nul("a\0b", 4);
  const std::string cut = Bytes({'A', 0x14, 0x20, 0, 0x41});
  const struct {
    const std::string& text;
    WORD count;
    WORD bytes;
    WORD chars;
  } ends[] = {{nul, 3, 3, 3}, {nul, NLS_NULLTERM, 1, 1}, {cut, NLS_NULLTERM, 3, 2}};
  for (const auto& c : ends) {
    WORD count = 0;
    NLS_string_bytes(B(c.text), c.count, &count, nullptr);
    EXPECT_EQ(count, c.bytes);
    NLS_string_chars(B(c.text), c.count, &count, nullptr);
    EXPECT_EQ(count, c.chars);
  }
  WORD count = 0;
  EXPECT_EQ(NLS_string_bytes(nullptr, 1, &count, nullptr), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(NLS_string_chars(B(text), 1, nullptr, nullptr), ERR_HOST_BAD_ARGUMENT);
}

TEST(Lmbcs, IsAlphaDecodesTheCharacterAtThePosition) {
  const struct {
    std::string character;
    BOOL alpha;
  } cases[] = {
      {"1", FALSE},
      {Bytes({0x82}), TRUE},              // e acute in 850
      {Bytes({0xC4}), FALSE},             // box drawing in 850
      {Bytes({0x0F, 0x21}), FALSE},       // a control
      {Bytes({0x14, 0x30, 0x42}), TRUE},  // hiragana in group 0x14
      {Bytes({0x10, 0x82, 0xA0}), TRUE},  // hiragana in group 0x10
      {Bytes({0x14, 0x20, 0xAC}), FALSE}, // the euro sign
      {LmbcsFromUtf8("\U0001D400"), TRUE}, // bold A, a surrogate pair
      {Bytes({0x14, 0x00}), FALSE},       // a group byte cut by NUL
  };
  for (const auto& c : cases)
    EXPECT_EQ(NLS_isalpha(B(c.character + std::string(3, '\0')), nullptr), c.alpha)
        << Hex(c.character);
  EXPECT_EQ(NLS_isalpha(nullptr, nullptr), FALSE);
}

class CharsetTest : public ::testing::Test {
protected:
  void TearDown() override {
    for (NLS_PINFO info : loaded_)
      EXPECT_EQ(NLS_unload_charset(info), NLS_SUCCESS);
  }
  NLS_PINFO Load(WORD csid) {
    NLS_PINFO info = nullptr;
    EXPECT_EQ(NLS_load_charset(csid, &info), NLS_SUCCESS) << csid;
    if (info != nullptr)
      loaded_.push_back(info);
    return info;
  }
  // Translates with the room given; the bytes written, "<NUL>" for a
  // terminator, and the status.
  static std::string Translate(const std::string& in, NLS_PINFO info, WORD flags, WORD room,
                               NLS_STATUS* status = nullptr) {
    std::string out(room + 4, '#');
    WORD length = room;
    const NLS_STATUS result =
        NLS_translate(B(in), static_cast<WORD>(in.size()), reinterpret_cast<BYTE*>(out.data()),
                      &length, flags, info);
    if (status != nullptr)
      *status = result;
    EXPECT_EQ(out.substr(room), "####") << "written past the room";
    std::string written = Hex(out.substr(0, length));
    if (length < room && out[length] == '\0')
      written += "<NUL>";
    return written;
  }
  std::vector<NLS_PINFO> loaded_;
};

TEST_F(CharsetTest, LoadsWhatIcuServesAndRefusesTheRest) {
  for (WORD csid : {23, 32, 40, 82, 144, 160, 171, 258, 3072, 3276, 3301, 3311, 3357})
    EXPECT_NE(Load(csid), nullptr) << csid;
  for (WORD csid : {0, 25, 3299, 2816, 9999}) {
    NLS_PINFO info = reinterpret_cast<NLS_PINFO>(&csid);
    EXPECT_EQ(NLS_load_charset(csid, &info), ERR_HOST_CHARSET_UNKNOWN) << csid;
    EXPECT_EQ(info, nullptr);
  }
  EXPECT_EQ(NLS_load_charset(32, nullptr), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(NLS_unload_charset(nullptr), ERR_HOST_BAD_ARGUMENT);
  NLS_PINFO once = nullptr;
  ASSERT_EQ(NLS_load_charset(32, &once), NLS_SUCCESS);
  EXPECT_EQ(NLS_unload_charset(once), NLS_SUCCESS);
  EXPECT_EQ(NLS_unload_charset(once), ERR_HOST_BAD_ARGUMENT) << "unloaded twice";
  WORD count = 0;
  EXPECT_EQ(NLS_string_bytes(B("a"), 1, &count, once), ERR_HOST_BAD_ARGUMENT);
  BYTE out[10];
  WORD room = 10;
  EXPECT_EQ(NLS_translate(B("a"), 1, out, &room, 0x90, once), ERR_HOST_BAD_ARGUMENT);
}

TEST_F(CharsetTest, TranslatesWithQuestionMarksWholeCharactersAndTerminators) {
  const NLS_PINFO latin1 = Load(32);
  const NLS_PINFO unicode = Load(160);
  const WORD engine = NLS_SOURCEISLMBCS | NLS_NONULLTERMINATE; // 0x90, as the engine asks
  const std::string text = LmbcsFromUtf8("A\u00E9\u20AC\u3042");
  const std::string pair = LmbcsFromUtf8("\U0001F600");
  const std::string loneHigh = Bytes({0x14, 0xD8, 0x3D});
  const struct {
    std::string in;
    NLS_PINFO info;
    WORD flags;
    WORD room;
    NLS_STATUS status;
    std::string out;
  } cases[] = {
      {text, latin1, engine, 10, NLS_SUCCESS, Hex("A\xE9??")},
      {text, Load(82), engine, 10, NLS_SUCCESS, Hex("A\xE9\x80?")},
      {text, unicode, engine, 10, NLS_SUCCESS, Hex(Bytes({'A', 0, 0xE9, 0, 0xAC, 0x20, 0x42, 0x30}))},
      {loneHigh, latin1, engine, 10, NLS_SUCCESS, Hex("?")},
      {loneHigh, unicode, engine, 10, NLS_SUCCESS, Hex(Bytes({0x3D, 0xD8}))},
      {"Ab", latin1, NLS_SOURCEISLMBCS, 10, NLS_SUCCESS, Hex("Ab") + "<NUL>"},
      {"A", unicode, NLS_SOURCEISLMBCS, 10, NLS_SUCCESS, Hex(std::string("A\0", 2)) + "<NUL>"},
      // Too little room: the whole characters that fit.
      {text, latin1, engine, 2, ERR_HOST_BUFFER_TOO_SMALL, Hex("A\xE9")},
      {text, latin1, NLS_SOURCEISLMBCS, 3, ERR_HOST_BUFFER_TOO_SMALL, Hex("A\xE9") + "<NUL>"},
      {text, unicode, engine, 3, ERR_HOST_BUFFER_TOO_SMALL, Hex(std::string("A\0", 2))},
      {pair, unicode, engine, 3, ERR_HOST_BUFFER_TOO_SMALL, ""},
      {LmbcsFromUtf8("x\u20AC"), nullptr, engine, 3, ERR_HOST_BUFFER_TOO_SMALL, Hex("x")},
      // Other sets to LMBCS.
      {"A\xE9", latin1, NLS_NONULLTERMINATE, 10, NLS_SUCCESS, Hex(Bytes({'A', 0x82}))},
      {Bytes({0xAC, 0x20, 'A', 0}), unicode, NLS_NONULLTERMINATE, 10, NLS_SUCCESS,
       Hex(Bytes({0x14, 0x20, 0xAC, 'A'}))},
      {"\xE2\x82\xAC", Load(171), NLS_TARGETISLMBCS | NLS_NONULLTERMINATE, 10, NLS_SUCCESS,
       Hex(Bytes({0x14, 0x20, 0xAC}))},
  };
  for (const auto& c : cases) {
    NLS_STATUS status = 0xFFFF;
    EXPECT_EQ(Translate(c.in, c.info, c.flags, c.room, &status), c.out) << Hex(c.in);
    EXPECT_EQ(status, c.status) << Hex(c.in);
  }
  WORD length = 10; // a terminated source ends at its NUL
  BYTE out[10];
  EXPECT_EQ(NLS_translate(B(std::string("Ab\0cd", 5)), NLS_NULLTERM, out, &length, engine, latin1),
            NLS_SUCCESS);
  EXPECT_EQ(length, 2);
}

TEST_F(CharsetTest, CountsAndLeadBytesInOtherSets) {
  const NLS_PINFO utf8 = Load(171);
  const std::string text = "a\u00E9\u20AC";
  WORD count = 0;
  EXPECT_EQ(NLS_string_bytes(B(text), 2, &count, utf8), NLS_SUCCESS);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(NLS_string_chars(B(text), 4, &count, utf8), NLS_SUCCESS);
  EXPECT_EQ(count, 3) << "a character cut by the count counts as one";
  EXPECT_TRUE(NLS_isleadbyte(0xC3, utf8));
  EXPECT_FALSE(NLS_isleadbyte('a', utf8));
  EXPECT_TRUE(NLS_isalpha(B(text) + 1, utf8));
  EXPECT_FALSE(NLS_isalpha(B(text) + 3, utf8));
  const std::string units = Bytes({'A', 0, 0x3D, 0xD8, 0x00, 0xDE, 0, 0});
  EXPECT_EQ(NLS_string_bytes(B(units), NLS_NULLTERM, &count, Load(160)), NLS_SUCCESS);
  EXPECT_EQ(count, 6);
  EXPECT_EQ(NLS_string_chars(B(units), NLS_NULLTERM, &count, loaded_.back()), NLS_SUCCESS);
  EXPECT_EQ(count, 2) << "a surrogate pair is one character";
}

TEST(OsTranslate, TranslatesEachModeAndTerminatesWhenRoomRemains) {
  const struct {
    WORD mode;
    std::string in;
    std::string out;
  } cases[] = {
      {OS_TRANSLATE_NATIVE_TO_LMBCS, "A\u00E9\u20AC", Bytes({'A', 0x82, 0x14, 0x20, 0xAC})},
      {OS_TRANSLATE_UTF8_TO_LMBCS, "\U0001F600", Bytes({0x14, 0xD8, 0x3D, 0x14, 0xF6, 0xDE})},
      {OS_TRANSLATE_LMBCS_TO_NATIVE, Bytes({'A', 0x82, 0x14, 0x20, 0xAC}), "A\u00E9\u20AC"},
      {OS_TRANSLATE_LMBCS_TO_UTF8, Bytes({'x', 0x14, 0xD8, 0x3D}), "x?"}, // a lone surrogate
      {OS_TRANSLATE_LOWER_CASE, Bytes({0xB7, 'B', 0x14, 0x04, 0x10}),
       Bytes({0x85, 'b', 0x14, 0x04, 0x30})},
      {OS_TRANSLATE_UPPER_CASE, LmbcsFromUtf8("stra\u00DFe"), "STRASSE"},
      {OS_TRANSLATE_UNICODE_TO_LMBCS, Bytes({'A', 0, 0xAC, 0x20}), Bytes({'A', 0x14, 0x20, 0xAC})},
      {OS_TRANSLATE_LMBCS_TO_UNICODE, Bytes({'A', 0x82}), Bytes({'A', 0, 0xE9, 0})},
  };
  for (const auto& c : cases) {
    char out[64];
    std::memset(out, '#', sizeof out);
    const WORD written = OSTranslate(c.mode, c.in.data(), static_cast<WORD>(c.in.size()), out, 60);
    const size_t terminator = c.mode == OS_TRANSLATE_LMBCS_TO_UNICODE ? 2 : 1;
    EXPECT_EQ(Hex(std::string(out, written + terminator + 1)),
              Hex(c.out + std::string(terminator, '\0') + "#"))
        << c.mode;
  }
  const std::string lmbcs = LmbcsFromUtf8("A\u20AC");
  char out[8];
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(OSTranslate(OS_TRANSLATE_LMBCS_TO_UTF8, lmbcs.data(), 4, out, 3), 1);
  EXPECT_EQ(std::string(out, 3), std::string("A\0#", 3)) << "cut between characters";
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(OSTranslate(OS_TRANSLATE_LMBCS_TO_UTF8, lmbcs.data(), 4, out, 4), 4);
  EXPECT_EQ(std::string(out, 5), "A\xE2\x82\xAC#") << "no room, no NUL";
  EXPECT_EQ(OSTranslate(99, "abc", 3, out, 8), 0);
  EXPECT_EQ(out[0], 0);
}

TEST(IntlTextCompare, StrengthFollowsTheFlags) {
  const struct {
    const char* a;
    const char* b;
    int none, accent, cases, both; // the sign for flags 0, accent, case, both
  } cases[] = {
      {"a", "A", 0, 0, -1, -1},
      {"a", "\u00E1", 0, -1, 0, -1},
      {"A", "\u00E1", 0, -1, 1, -1},
      {"b", "a", 1, 1, 1, 1},
      {"r\u00E9sum\u00E9", "Resume", 0, 1, -1, 1},
      {"\u00E9", "e\u0301", 0, 0, 0, 0},
      {"", "a", -1, -1, -1, -1},
  };
  const auto sign = [](int value) { return value < 0 ? -1 : value > 0 ? 1 : 0; };
  for (const auto& c : cases) {
    const std::string a = LmbcsFromUtf8(c.a);
    const std::string b = LmbcsFromUtf8(c.b);
    int expected[] = {c.none, c.accent, c.cases, c.both};
    WORD flags[] = {0, INTL_ACCENT_SENSITIVE, INTL_CASE_SENSITIVE,
                    INTL_ACCENT_SENSITIVE | INTL_CASE_SENSITIVE};
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(sign(IntlTextCompare(a.data(), static_cast<WORD>(a.size()), b.data(),
                                     static_cast<WORD>(b.size()), flags[i])),
                expected[i])
          << c.a << " vs " << c.b << " flags " << flags[i];
  }
  EXPECT_EQ(IntlTextCompare("abcX", 3, "abcY", 3, 3), 0) << "only the given lengths";
  EXPECT_LT(IntlTextCompare("abc", 2, "abc", 3, 3), 0);
}

} // namespace
