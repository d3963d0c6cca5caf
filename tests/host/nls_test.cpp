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
  error = U_ZERO_ERROR;
  const int32_t length = ucnv_toUChars(converter, reinterpret_cast<UChar*>(units.data()),
                                       static_cast<int32_t>(units.size()), lmbcs.data(),
                                       static_cast<int32_t>(lmbcs.size()), &error);
  ucnv_close(converter);
  units.resize(U_SUCCESS(error) ? static_cast<size_t>(length) : 0);
  return units;
}

std::string Utf8Of(char32_t codePoint) {
  char bytes[4];
  int32_t length = 0;
  UBool failed = false;
  U8_APPEND(bytes, length, 4, codePoint, failed);
  return failed ? std::string() : std::string(bytes, static_cast<size_t>(length));
}

struct EncodingCase {
  const char* name;
  std::string utf8;
  std::string lmbcs;
};

class LmbcsEncodingTest : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(LmbcsEncodingTest, WritesTheFixedFormAndIcuReadsItBack) {
  const std::string lmbcs = LmbcsFromUtf8(GetParam().utf8);
  EXPECT_EQ(Hex(lmbcs), Hex(GetParam().lmbcs));
  EXPECT_EQ(Utf8FromLmbcs(lmbcs), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, LmbcsEncodingTest,
    ::testing::Values(
        EncodingCase{"Ascii", "Az ~\x7F", "Az ~\x7F"},
        EncodingCase{"TabLfCrAsThemselves", "\t\n\r", "\t\n\r"},
        EncodingCase{"NulAsItself", std::string("a\0b", 3), std::string("a\0b", 3)},
        EncodingCase{"C0Controls", "\x01\x19\x1F", Bytes({0x0F, 0x21, 0x0F, 0x39, 0x0F, 0x3F})},
        EncodingCase{"C1Controls", "\u0080\u009F", Bytes({0x0F, 0x80, 0x0F, 0x9F})},
        EncodingCase{"CodePage850", "\u00C7\u00FC\u00E9\u00A0\u2500\u25A0",
                     Bytes({0x80, 0x81, 0x82, 0xFF, 0xC4, 0xFE})},
        EncodingCase{"Utf16Group", "\u20AC\u3042", Bytes({0x14, 0x20, 0xAC, 0x14, 0x30, 0x42})},
        EncodingCase{"ZeroLowByte", "\u0100\u4E00\uF600",
                     Bytes({0x14, 0xF6, 0x01, 0x14, 0xF6, 0x4E, 0x14, 0xF6, 0xF6})},
        EncodingCase{"F6RowThroughGroup12", "\uF601", Bytes({0x12, 0x8C, 0xEC})},
        EncodingCase{"SurrogatePair", "\U0001F600", Bytes({0x14, 0xD8, 0x3D, 0x14, 0xF6, 0xDE})}),
    [](const auto& info) { return std::string(info.param.name); });

// The noncharacters U+FFFE and U+FFFF are the exception: ICU's reader turns
// 0x14 FF FE and 0x14 FF FF into U+FFFD and no other group holds them.
TEST(LmbcsRoundTrip, EveryBmpCodePointComesBackThroughIcuWithoutNul) {
  std::vector<std::string> failures;
  for (char32_t codePoint = 1; codePoint <= 0xFFFD; ++codePoint) {
    if (codePoint >= 0xD800 && codePoint <= 0xDFFF)
      continue;
    const std::string lmbcs = LmbcsFromUtf8(Utf8Of(codePoint));
    const std::u16string back = IcuReadsLmbcs(lmbcs);
    if (back != std::u16string(1, static_cast<char16_t>(codePoint)) ||
        lmbcs.find('\0') != std::string::npos) {
      char line[64];
      std::snprintf(line, sizeof line, "U+%04X -> %s", static_cast<unsigned>(codePoint),
                    Hex(lmbcs).c_str());
      failures.push_back(line);
    }
  }
  EXPECT_TRUE(failures.empty()) << failures.size() << " failures, first " << failures.front();
}

TEST(LmbcsRoundTrip, NoncharactersAreWrittenAsUnitsAndReadAsReplacement) {
  EXPECT_EQ(Hex(LmbcsFromUtf8("\uFFFE\uFFFF")), Hex(Bytes({0x14, 0xFF, 0xFE, 0x14, 0xFF, 0xFF})));
  EXPECT_EQ(IcuReadsLmbcs(Bytes({0x14, 0xFF, 0xFE, 0x14, 0xFF, 0xFF})), u"\uFFFD\uFFFD");
}

TEST(LmbcsRoundTrip, SupplementaryCharactersAndWholeTexts) {
  const std::string text = "Zo\u00EB \u20AC5 \U00010000\U0001F600\U0010FFFF \u65E5\u672C\t\r\n";
  const std::string lmbcs = LmbcsFromUtf8(text);
  std::u16string expected(text.size(), u'\0');
  int32_t length = 0;
  UErrorCode error = U_ZERO_ERROR;
  u_strFromUTF8(reinterpret_cast<UChar*>(expected.data()), static_cast<int32_t>(expected.size()),
                &length, text.data(), static_cast<int32_t>(text.size()), &error);
  expected.resize(static_cast<size_t>(length));
  EXPECT_EQ(IcuReadsLmbcs(lmbcs), expected);
  EXPECT_EQ(lmbcs.find('\0'), std::string::npos);
  EXPECT_EQ(Utf8FromLmbcs(lmbcs), text);
}

// The byte length of a character, as ICU's reader consumes it: the units
// ICU makes of the byte followed by "ABC" tell how many of those it took.
size_t IcuCharLength(BYTE lead) {
  const std::string probe = std::string(1, static_cast<char>(lead)) + "ABC";
  return 4 - IcuReadsLmbcs(probe).size() + 1;
}

TEST(LmbcsLeadBytes, MatchIcusReader) {
  for (int byte = 0; byte <= 0xFF; ++byte) {
    const BYTE lead = static_cast<BYTE>(byte);
    const bool expected = (byte >= 0x01 && byte <= 0x06) || byte == 0x08 || byte == 0x0B ||
                          (byte >= 0x0F && byte <= 0x14);
    EXPECT_EQ(NLS_isleadbyte(lead, nullptr), expected ? TRUE : FALSE) << byte;
    WORD bytes = 0;
    const std::string text = std::string(1, static_cast<char>(lead)) + "ABC";
    ASSERT_EQ(NLS_string_bytes(B(text), 1, &bytes, nullptr), NLS_SUCCESS);
    EXPECT_EQ(bytes, IcuCharLength(lead)) << byte;
  }
}

TEST(LmbcsLengths, CountCharactersOfEveryGroup) {
  // A, e-acute (850), C0 control, hiragana a in group 0x10, euro in group 0x14, Z.
  const std::string text = Bytes({'A', 0x82, 0x0F, 0x21, 0x10, 0x82, 0xA0, 0x14, 0x20, 0xAC, 'Z'});
  const struct {
    WORD numChars;
    WORD bytes;
  } byChars[] = {{0, 0}, {1, 1}, {2, 2}, {3, 4}, {4, 7}, {5, 10}, {6, 11}, {NLS_NULLTERM, 11}};
  for (const auto& check : byChars) {
    WORD bytes = 0;
    EXPECT_EQ(NLS_string_bytes(B(text), check.numChars, &bytes, nullptr), NLS_SUCCESS);
    EXPECT_EQ(bytes, check.bytes) << check.numChars;
  }
  const struct {
    WORD numBytes;
    WORD chars;
  } byBytes[] = {{0, 0}, {1, 1}, {3, 3}, {4, 3}, {5, 4}, {7, 4}, {11, 6}, {NLS_NULLTERM, 6}};
  for (const auto& check : byBytes) {
    WORD chars = 0;
    EXPECT_EQ(NLS_string_chars(B(text), check.numBytes, &chars, nullptr), NLS_SUCCESS);
    EXPECT_EQ(chars, check.chars) << check.numBytes;
  }
}

TEST(LmbcsLengths, DoubleByteGroupLeadsTakeThreeBytes) {
  for (int lead = 0x10; lead <= 0x13; ++lead) {
    const std::string text = Bytes({lead, 0x82, 0xA0, 'x', 0});
    const std::string doubled = Bytes({lead, lead, 'A', 'x', 0});
    WORD bytes = 0;
    WORD chars = 0;
    EXPECT_EQ(NLS_string_bytes(B(text), 1, &bytes, nullptr), NLS_SUCCESS);
    EXPECT_EQ(bytes, 3);
    EXPECT_EQ(NLS_string_chars(B(text), NLS_NULLTERM, &chars, nullptr), NLS_SUCCESS);
    EXPECT_EQ(chars, 2);
    EXPECT_EQ(NLS_string_bytes(B(doubled), 1, &bytes, nullptr), NLS_SUCCESS);
    EXPECT_EQ(bytes, 3);
    EXPECT_EQ(IcuReadsLmbcs(text.substr(0, 3)).size(), 1u) << lead;
  }
}

TEST(LmbcsLengths, NulEndsOnlyTerminatedTexts) {
  const std::string text("a\0b", 4); // with the terminator
  WORD count = 0;
  NLS_string_bytes(B(text), 3, &count, nullptr);
  EXPECT_EQ(count, 3) << "with a count, NUL is a one-byte character";
  NLS_string_chars(B(text), 3, &count, nullptr);
  EXPECT_EQ(count, 3);
  NLS_string_bytes(B(text), NLS_NULLTERM, &count, nullptr);
  EXPECT_EQ(count, 1);
  NLS_string_chars(B(text), NLS_NULLTERM, &count, nullptr);
  EXPECT_EQ(count, 1);

  const std::string cut = Bytes({'A', 0x14, 0x20, 0, 0x41});
  NLS_string_bytes(B(cut), NLS_NULLTERM, &count, nullptr);
  EXPECT_EQ(count, 3) << "a character cut by the NUL ends there";
  NLS_string_chars(B(cut), NLS_NULLTERM, &count, nullptr);
  EXPECT_EQ(count, 2);

  EXPECT_EQ(NLS_string_bytes(nullptr, 1, &count, nullptr), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(NLS_string_chars(B(text), 1, nullptr, nullptr), ERR_HOST_BAD_ARGUMENT);
}

TEST(LmbcsLetters, DecodesTheCharacterAtThePosition) {
  const struct {
    const char* name;
    std::string character;
    BOOL alpha;
  } cases[] = {
      {"ascii letter", "A", TRUE},
      {"digit", "1", FALSE},
      {"e acute in 850", Bytes({0x82}), TRUE},
      {"box drawing in 850", Bytes({0xC4}), FALSE},
      {"control group", Bytes({0x0F, 0x21}), FALSE},
      {"hiragana in group 0x14", Bytes({0x14, 0x30, 0x42}), TRUE},
      {"hiragana in group 0x10", Bytes({0x10, 0x82, 0xA0}), TRUE},
      {"euro sign", Bytes({0x14, 0x20, 0xAC}), FALSE},
      {"bold A, a surrogate pair", LmbcsFromUtf8("\U0001D400"), TRUE},
      {"group byte cut by NUL", Bytes({0x14, 0x00}), FALSE},
  };
  for (const auto& check : cases) {
    const std::string terminated = check.character + std::string(3, '\0');
    EXPECT_EQ(NLS_isalpha(B(terminated), nullptr), check.alpha) << check.name;
  }
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
  // Translates with the room given; returns the bytes written.
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
    std::string written = out.substr(0, length);
    if (length < room && out[length] == '\0')
      written += "<NUL>";
    return written;
  }
  std::vector<NLS_PINFO> loaded_;
};

TEST_F(CharsetTest, LoadsWhatIcuServesAndRefusesTheRest) {
  for (WORD csid : {23,   26,   27,   31,   32,   33,   34,   35,   36,   37,   38,   39,   40,
                    64,   80,   81,   82,   144,  160,  170,  171,  256,  257,  258,  3072, 3276,
                    3301, 3302, 3303, 3304, 3306, 3307, 3308, 3309, 3310, 3311, 3356, 3357})
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
}

TEST_F(CharsetTest, LmbcsToIsoLatin1AndUnicodeWithQuestionMarks) {
  const NLS_PINFO latin1 = Load(32);
  const NLS_PINFO unicode = Load(160);
  const NLS_PINFO cp1252 = Load(82);
  const std::string text = LmbcsFromUtf8("A\u00E9\u20AC\u3042");
  const WORD engineFlags = NLS_SOURCEISLMBCS | NLS_NONULLTERMINATE; // 0x90
  NLS_STATUS status = 0xFFFF;
  EXPECT_EQ(Hex(Translate(text, latin1, engineFlags, 10, &status)), Hex("A\xE9??"));
  EXPECT_EQ(status, NLS_SUCCESS);
  EXPECT_EQ(Hex(Translate(text, cp1252, engineFlags, 10)), Hex("A\xE9\x80?"));
  EXPECT_EQ(Hex(Translate(text, unicode, engineFlags, 10)),
            Hex(Bytes({'A', 0, 0xE9, 0, 0xAC, 0x20, 0x42, 0x30})));
  // One character at a time, as the engine asks for numeric references.
  const std::string hiragana = Bytes({0x14, 0x30, 0x42});
  EXPECT_EQ(Translate(hiragana, latin1, engineFlags, 10), "?");
  EXPECT_EQ(Hex(Translate(hiragana, unicode, engineFlags, 10)), Hex(Bytes({0x42, 0x30})));
  const std::string loneHigh = Bytes({0x14, 0xD8, 0x3D});
  EXPECT_EQ(Translate(loneHigh, latin1, engineFlags, 10), "?");
  EXPECT_EQ(Hex(Translate(loneHigh, unicode, engineFlags, 10)), Hex(Bytes({0x3D, 0xD8})));
}

TEST_F(CharsetTest, TerminatorIsWrittenUnlessAskedNot) {
  const NLS_PINFO latin1 = Load(32);
  const NLS_PINFO unicode = Load(160);
  WORD length = 10;
  BYTE out[10];
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(NLS_translate(B("Ab"), 2, out, &length, NLS_SOURCEISLMBCS, latin1), NLS_SUCCESS);
  EXPECT_EQ(length, 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), std::string("Ab\0#", 4));
  length = 10;
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(NLS_translate(B("A"), 1, out, &length, NLS_SOURCEISLMBCS, unicode), NLS_SUCCESS);
  EXPECT_EQ(length, 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 5), std::string("A\0\0\0#", 5));
}

TEST_F(CharsetTest, TooLittleRoomWritesWholeCharactersThatFit) {
  const NLS_PINFO latin1 = Load(32);
  const NLS_PINFO unicode = Load(160);
  const std::string text = LmbcsFromUtf8("A\u00E9\u20AC");
  NLS_STATUS status = 0;
  EXPECT_EQ(Hex(Translate(text, latin1, 0x90, 2, &status)), Hex("A\xE9"));
  EXPECT_EQ(status, ERR_HOST_BUFFER_TOO_SMALL);
  EXPECT_EQ(Translate(text, latin1, NLS_SOURCEISLMBCS, 3, &status), "A\xE9<NUL>");
  EXPECT_EQ(status, ERR_HOST_BUFFER_TOO_SMALL);
  EXPECT_EQ(Translate(text, latin1, NLS_SOURCEISLMBCS, 3 + 1, &status), "A\xE9?<NUL>");
  EXPECT_EQ(status, NLS_SUCCESS);
  EXPECT_EQ(Hex(Translate(text, unicode, 0x90, 3, &status)), Hex(std::string("A\0", 2)));
  EXPECT_EQ(status, ERR_HOST_BUFFER_TOO_SMALL);
  const std::string pair = LmbcsFromUtf8("\U0001F600");
  EXPECT_EQ(Translate(pair, unicode, 0x90, 3, &status), "") << "a surrogate pair is not split";
  EXPECT_EQ(status, ERR_HOST_BUFFER_TOO_SMALL);
  const std::string lmbcs = LmbcsFromUtf8("x\u20AC");
  EXPECT_EQ(Translate(lmbcs, nullptr, 0x90, 3, &status), "x") << "LMBCS is cut between characters";
  EXPECT_EQ(status, ERR_HOST_BUFFER_TOO_SMALL);
}

TEST_F(CharsetTest, OtherSetsToLmbcs) {
  EXPECT_EQ(Hex(Translate("A\xE9", Load(32), NLS_NONULLTERMINATE, 10)), Hex(Bytes({'A', 0x82})));
  EXPECT_EQ(Hex(Translate(Bytes({0xAC, 0x20, 'A', 0}), Load(160), NLS_NONULLTERMINATE, 10)),
            Hex(Bytes({0x14, 0x20, 0xAC, 'A'})));
  EXPECT_EQ(Hex(Translate("\xE2\x82\xAC", Load(171), NLS_TARGETISLMBCS | NLS_NONULLTERMINATE, 10)),
            Hex(Bytes({0x14, 0x20, 0xAC})));
  EXPECT_EQ(Hex(Translate("\x80", Load(82), NLS_NONULLTERMINATE, 10)), Hex(Bytes({0x14, 0x20, 0xAC})));
  // A terminated source ends at its NUL.
  WORD length = 10;
  BYTE out[10];
  EXPECT_EQ(NLS_translate(B(std::string("Ab\0cd", 5)), NLS_NULLTERM, out, &length, 0x90, Load(32)),
            NLS_SUCCESS);
  EXPECT_EQ(length, 2);
}

TEST_F(CharsetTest, CountsAndLeadBytesInOtherSets) {
  const NLS_PINFO utf8 = Load(171);
  const std::string text = "a\u00E9\u20AC";
  WORD count = 0;
  EXPECT_EQ(NLS_string_bytes(B(text), 2, &count, utf8), NLS_SUCCESS);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(NLS_string_chars(B(text), NLS_NULLTERM, &count, utf8), NLS_SUCCESS);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(NLS_string_chars(B(text), 4, &count, utf8), NLS_SUCCESS);
  EXPECT_EQ(count, 3) << "a character cut by the count counts as one";
  EXPECT_TRUE(NLS_isleadbyte(0xC3, utf8));
  EXPECT_FALSE(NLS_isleadbyte('a', utf8));
  EXPECT_TRUE(NLS_isalpha(B(text) + 1, utf8));
  EXPECT_FALSE(NLS_isalpha(B(text) + 3, utf8));

  const NLS_PINFO unicode = Load(160);
  const std::string units = Bytes({'A', 0, 0x3D, 0xD8, 0x00, 0xDE, 0, 0});
  EXPECT_EQ(NLS_string_bytes(B(units), NLS_NULLTERM, &count, unicode), NLS_SUCCESS);
  EXPECT_EQ(count, 6);
  EXPECT_EQ(NLS_string_chars(B(units), NLS_NULLTERM, &count, unicode), NLS_SUCCESS);
  EXPECT_EQ(count, 2) << "a surrogate pair is one character";

  NLS_PINFO unloaded = nullptr;
  ASSERT_EQ(NLS_load_charset(32, &unloaded), NLS_SUCCESS);
  ASSERT_EQ(NLS_unload_charset(unloaded), NLS_SUCCESS);
  EXPECT_EQ(NLS_string_bytes(B(text), 1, &count, unloaded), ERR_HOST_BAD_ARGUMENT);
  WORD room = 10;
  BYTE out[10];
  EXPECT_EQ(NLS_translate(B(text), 1, out, &room, 0x90, unloaded), ERR_HOST_BAD_ARGUMENT);
}

struct OsTranslateCase {
  const char* name;
  WORD mode;
  std::string in;
  std::string out;
};

class OsTranslateTest : public ::testing::TestWithParam<OsTranslateCase> {};

TEST_P(OsTranslateTest, TranslatesAndTerminatesWhenRoomRemains) {
  const OsTranslateCase& c = GetParam();
  char out[64];
  std::memset(out, '#', sizeof out);
  const WORD written = OSTranslate(c.mode, c.in.data(), static_cast<WORD>(c.in.size()), out, 60);
  EXPECT_EQ(Hex(std::string(out, written)), Hex(c.out));
  const size_t terminator = c.mode == OS_TRANSLATE_LMBCS_TO_UNICODE ? 2 : 1;
  EXPECT_EQ(std::string(out + written, terminator), std::string(terminator, '\0'));
  EXPECT_EQ(out[written + terminator], '#');
}

INSTANTIATE_TEST_SUITE_P(
    Modes, OsTranslateTest,
    ::testing::Values(
        OsTranslateCase{"NativeToLmbcs", OS_TRANSLATE_NATIVE_TO_LMBCS, "A\u00E9\u20AC",
                        Bytes({'A', 0x82, 0x14, 0x20, 0xAC})},
        OsTranslateCase{"Utf8ToLmbcs", OS_TRANSLATE_UTF8_TO_LMBCS, "\U0001F600",
                        Bytes({0x14, 0xD8, 0x3D, 0x14, 0xF6, 0xDE})},
        OsTranslateCase{"LmbcsToNative", OS_TRANSLATE_LMBCS_TO_NATIVE, Bytes({'A', 0x82, 0x14, 0x20, 0xAC}),
                        "A\u00E9\u20AC"},
        OsTranslateCase{"LmbcsToUtf8LoneSurrogate", OS_TRANSLATE_LMBCS_TO_UTF8,
                        Bytes({'x', 0x14, 0xD8, 0x3D}), "x?"},
        OsTranslateCase{"LowerCase", OS_TRANSLATE_LOWER_CASE, Bytes({0xB7, 'B', 0x14, 0x04, 0x10}),
                        Bytes({0x85, 'b', 0x14, 0x04, 0x30})},
        OsTranslateCase{"UpperCaseChangesLength", OS_TRANSLATE_UPPER_CASE, LmbcsFromUtf8("stra\u00DFe"),
                        "STRASSE"},
        OsTranslateCase{"UnicodeToLmbcs", OS_TRANSLATE_UNICODE_TO_LMBCS, Bytes({'A', 0, 0xAC, 0x20}),
                        Bytes({'A', 0x14, 0x20, 0xAC})},
        OsTranslateCase{"LmbcsToUnicode", OS_TRANSLATE_LMBCS_TO_UNICODE, Bytes({'A', 0x82}),
                        Bytes({'A', 0, 0xE9, 0})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OsTranslate, CutsBetweenCharactersAndNeverWritesPastTheEnd) {
  const std::string lmbcs = LmbcsFromUtf8("A\u20AC");
  char out[8];
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(OSTranslate(OS_TRANSLATE_LMBCS_TO_UTF8, lmbcs.data(), static_cast<WORD>(lmbcs.size()), out, 3), 1);
  EXPECT_EQ(std::string(out, 3), std::string("A\0#", 3));
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(OSTranslate(OS_TRANSLATE_LMBCS_TO_UTF8, lmbcs.data(), static_cast<WORD>(lmbcs.size()), out, 4), 4);
  EXPECT_EQ(std::string(out, 5), "A\xE2\x82\xAC#") << "no room, no NUL";
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(OSTranslate(99, "abc", 3, out, 8), 0);
  EXPECT_EQ(out[0], 0);
}

struct CompareCase {
  const char* a;
  const char* b;
  int none;    // flags 0
  int accent;  // INTL_ACCENT_SENSITIVE
  int cases;   // INTL_CASE_SENSITIVE
  int both;    // both flags
};

int Sign(int value) { return value < 0 ? -1 : value > 0 ? 1 : 0; }

TEST(IntlTextCompare, StrengthFollowsTheFlags) {
  const CompareCase cases[] = {
      {"a", "A", 0, 0, -1, -1},
      {"a", "\u00E1", 0, -1, 0, -1},
      {"A", "\u00E1", 0, -1, 1, -1},
      {"a", "b", -1, -1, -1, -1},
      {"b", "a", 1, 1, 1, 1},
      {"r\u00E9sum\u00E9", "Resume", 0, 1, -1, 1},
      {"\u00E9", "e\u0301", 0, 0, 0, 0},
      {"", "a", -1, -1, -1, -1},
  };
  for (const CompareCase& c : cases) {
    const std::string a = LmbcsFromUtf8(c.a);
    const std::string b = LmbcsFromUtf8(c.b);
    const auto compare = [&](WORD flags) {
      return Sign(IntlTextCompare(a.data(), static_cast<WORD>(a.size()), b.data(),
                                  static_cast<WORD>(b.size()), flags));
    };
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    EXPECT_EQ(compare(0), c.none);
    EXPECT_EQ(compare(INTL_ACCENT_SENSITIVE), c.accent);
    EXPECT_EQ(compare(INTL_CASE_SENSITIVE), c.cases);
    EXPECT_EQ(compare(INTL_ACCENT_SENSITIVE | INTL_CASE_SENSITIVE), c.both);
  }
}

TEST(IntlTextCompare, ComparesOnlyTheGivenLengths) {
  EXPECT_EQ(IntlTextCompare("abcX", 3, "abcY", 3, 3), 0);
  EXPECT_LT(IntlTextCompare("abc", 2, "abc", 3, 3), 0);
}

} // namespace
