/*
 * Tests of the property-string readers: the key boundary test, quoted and
 * unquoted values, the yes/no and flag-word readers, the bare-flag reader,
 * the in-place editors and the cut to the caller's buffer size.
 */
#include "velko/property_string.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

namespace {

// Reads key with a buffer large enough for any value of props; "<absent>"
// when the reader reports the key absent.
std::string readProperty(const char* props, const char* key) {
  std::vector<char> buffer(strlen(props) + 1, 'X');
  if (ExtractProperty(props, key, buffer.data(), buffer.size()) == 0)
    return "<absent>";
  return buffer.data();
}

// ---- stristr ----

struct StristrCase {
  const char* text;
  const char* needle;
  int offset;  // -1: no match
};

class StristrTest : public testing::TestWithParam<StristrCase> {};

TEST_P(StristrTest, FindsFirstCaseInsensitiveMatch) {
  const StristrCase& c = GetParam();
  const char* hit = stristr(c.text, c.needle);
  if (c.offset < 0) {
    EXPECT_EQ(hit, nullptr);
  } else {
    EXPECT_EQ(hit, c.text + c.offset);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StristrTest,
    testing::Values(StristrCase{"Width=5", "width=", 0}, StristrCase{"a WIDTH=5", "Width=", 2},
                    StristrCase{"abcabc", "CA", 2}, StristrCase{"abc", "abcd", -1},
                    StristrCase{"ab", "b", 1}, StristrCase{"", "a", -1},
                    StristrCase{"", "", -1}, StristrCase{"abc", "", 0},
                    // Only ASCII letters fold: 0xC4 and 0xE4 differ.
                    StristrCase{"\xC4", "\xE4", -1}, StristrCase{"x[", "{", -1}));

TEST(Stristr, NullArgumentsGiveNull) {
  EXPECT_EQ(stristr(nullptr, "a"), nullptr);
  EXPECT_EQ(stristr("a", nullptr), nullptr);
}

// ---- ExtractProperty ----

struct ReadCase {
  const char* props;
  const char* key;
  const char* expected;  // "<absent>" when the key is absent
};

class ExtractPropertyTest : public testing::TestWithParam<ReadCase> {};

TEST_P(ExtractPropertyTest, ReadsValue) {
  const ReadCase& c = GetParam();
  EXPECT_EQ(readProperty(c.props, c.key), c.expected) << c.props;
}

INSTANTIATE_TEST_SUITE_P(
    BoundaryTest, ExtractPropertyTest,
    testing::Values(ReadCase{"TableWidth=5 Width=7", "Width=", "7"},
                    ReadCase{"TableWidth=5", "Width=", "<absent>"},
                    ReadCase{"WIDTH=40", "width=", "40"},
                    ReadCase{"Width=1 Width=2", "Width=", "1"},
                    ReadCase{"X=1;Width=3", "Width=", "3"},
                    ReadCase{"A=Width=4", "Width=", "4"},
                    ReadCase{"_Width=4", "Width=", "4"},
                    ReadCase{"\xE9Width=4", "Width=", "4"},
                    ReadCase{"9Width=4", "Width=", "<absent>"},
                    // Inside a quoted value a key after a space is found ...
                    ReadCase{"Title='a Width=5 wide' Height=2", "Width=", "5"},
                    // ... but not right behind an opening delimiter.
                    ReadCase{"Title='Width=5'", "Width=", "<absent>"},
                    ReadCase{"Title=\"Width=5\"", "Width=", "<absent>"},
                    ReadCase{"Title=|Width=5|", "Width=", "<absent>"},
                    ReadCase{"Title=~Width=5~", "Width=", "<absent>"},
                    ReadCase{"Title='Width=5' Width=6", "Width=", "6"},
                    ReadCase{"", "Width=", "<absent>"}));

INSTANTIATE_TEST_SUITE_P(
    Values, ExtractPropertyTest,
    testing::Values(ReadCase{"Width= Height=3", "Width=", ""},
                    ReadCase{"Height=3 Width=", "Width=", ""},
                    ReadCase{"Title='a b c' Width=5", "Title=", "a b c"},
                    ReadCase{"Title=\"it's\" X=1", "Title=", "it's"},
                    ReadCase{"Title=|it's \"so\"| X=1", "Title=", "it's \"so\""},
                    ReadCase{"Title=~a|b~", "Title=", "a|b"},
                    ReadCase{"Title='' Width=5", "Title=", ""},
                    ReadCase{"Title='abc def", "Title=", "abc def"},
                    ReadCase{"Title='", "Title=", ""},
                    ReadCase{"Title=|", "Title=", ""},
                    ReadCase{"Width=5\tHeight=3", "Width=", "5\tHeight=3"},
                    ReadCase{"Width=5\nHeight=3 X", "Width=", "5\nHeight=3"},
                    ReadCase{"Width=a'b X", "Width=", "a'b"},
                    ReadCase{"A=1 B=2", "B=", "2"}));

TEST(ExtractProperty, AbsentKeyLeavesBufferUntouched) {
  char buffer[8] = "keepme";
  EXPECT_EQ(ExtractProperty("TableWidth=5", "Width=", buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "keepme");
}

TEST(ExtractProperty, NullInputsReportAbsentWithoutWriting) {
  char buffer[8] = "keepme";
  EXPECT_EQ(ExtractProperty(nullptr, "Width=", buffer, sizeof buffer), 0);
  EXPECT_EQ(ExtractProperty("Width=5", nullptr, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "keepme");
  EXPECT_EQ(ExtractProperty("Width=5", "Width=", nullptr, 8), 1);
}

struct CutCase {
  size_t size;
  const char* expected;
};

class ExtractPropertyCutTest : public testing::TestWithParam<CutCase> {};

TEST_P(ExtractPropertyCutTest, CutsValueToBufferSize) {
  const CutCase& c = GetParam();
  for (const char* props : {"Name=abcdef X=1", "Name='abcdef' X=1", "X=1 Name=abcdef"}) {
    char buffer[16];
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(ExtractProperty(props, "Name=", buffer, c.size), 1) << props;
    const size_t written = c.size == 0 ? 0 : strlen(c.expected) + 1;
    if (c.size > 0) {
      EXPECT_STREQ(buffer, c.expected) << props;
    }
    for (size_t i = written; i < sizeof buffer; ++i)
      EXPECT_EQ(buffer[i], '#') << props << " byte " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ExtractPropertyCutTest,
                         testing::Values(CutCase{0, ""}, CutCase{1, ""}, CutCase{2, "a"},
                                         CutCase{6, "abcde"}, CutCase{7, "abcdef"},
                                         CutCase{12, "abcdef"}));

TEST(ExtractEnvironmentVarOrProperty, ReadsThePropertyOnly) {
  char buffer[8] = "keepme";
  EXPECT_EQ(ExtractEnvironmentVarOrProperty("A=1", "PATH", "PATH=", buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "keepme");
  EXPECT_EQ(ExtractEnvironmentVarOrProperty("A=1 B='x y'", "PATH", "b=", buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "x y");
  EXPECT_EQ(ExtractEnvironmentVarOrProperty("A=1", nullptr, "A=", buffer, 1), 1);
  EXPECT_STREQ(buffer, "");
}

TEST(ValidateProperties, AlwaysZero) {
  EXPECT_EQ(ValidateProperties("A=1", "A"), 0);
  EXPECT_EQ(ValidateProperties(nullptr, nullptr), 0);
  EXPECT_EQ(ValidateProperties("garbage '", ""), 0);
}

// ---- ExtractPropertyBOOL ----

struct BoolCase {
  const char* props;
  BOOL defaultValue;
  BOOL expected;
};

class ExtractPropertyBOOLTest : public testing::TestWithParam<BoolCase> {};

TEST_P(ExtractPropertyBOOLTest, OnlyTheOppositeWordChangesTheAnswer) {
  const BoolCase& c = GetParam();
  char buffer[16];
  EXPECT_EQ(ExtractPropertyBOOL(c.props, "Show=", buffer, sizeof buffer, c.defaultValue),
            c.expected)
      << c.props << " default " << c.defaultValue;
}

INSTANTIATE_TEST_SUITE_P(
    Words, ExtractPropertyBOOLTest,
    testing::Values(BoolCase{"Show=No", 1, 0}, BoolCase{"Show=NO", 1, 0},
                    BoolCase{"Show=no", 1, 0}, BoolCase{"Show='nO' X=1", 1, 0},
                    BoolCase{"Show=Yes", 1, 1}, BoolCase{"Show=false", 1, 1},
                    BoolCase{"Show=Nope", 1, 1}, BoolCase{"Show=N", 1, 1},
                    BoolCase{"Show=0", 1, 1},
                    // A non-zero default other than 1 comes back as passed.
                    BoolCase{"Show=Maybe", 5, 5}, BoolCase{"Show=No", 5, 0},
                    BoolCase{"Show=Yes", 0, 1}, BoolCase{"Show=YES", 0, 1},
                    BoolCase{"Show=yes", 0, 1}, BoolCase{"Show=true", 0, 0},
                    BoolCase{"Show=1", 0, 0}, BoolCase{"Show=Y", 0, 0},
                    BoolCase{"Show=Yesterday", 0, 0}, BoolCase{"Show=No", 0, 0},
                    // Absent or empty: the default.
                    BoolCase{"Hide=No", 1, 1}, BoolCase{"Hide=Yes", 0, 0},
                    BoolCase{"Show= X=No", 1, 1}, BoolCase{"Show=''", 0, 0},
                    BoolCase{"Show=", 1, 1}));

TEST(ExtractPropertyBOOL, ComparesTheWholeValueNotTheCutBuffer) {
  char buffer[3];
  // The buffer holds "No" but the value is "Nope".
  EXPECT_EQ(ExtractPropertyBOOL("Show=Nope", "Show=", buffer, sizeof buffer, 1), 1);
  EXPECT_STREQ(buffer, "No");
  // The buffer holds "" but the value is "No".
  EXPECT_EQ(ExtractPropertyBOOL("Show=No", "Show=", buffer, 1, 1), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(ExtractPropertyBOOL("Show=Yes", "Show=", nullptr, 0, 0), 1);
}

TEST(ExtractPropertyBOOL, NullInputsGiveDefault) {
  char buffer[4] = "abc";
  EXPECT_EQ(ExtractPropertyBOOL(nullptr, "Show=", buffer, sizeof buffer, 7), 7);
  EXPECT_EQ(ExtractPropertyBOOL("Show=No", nullptr, buffer, sizeof buffer, 1), 1);
  EXPECT_STREQ(buffer, "abc");
}

// ---- flag-word readers ----

constexpr DWORD kBit = 0x00010000u;
constexpr DWORD kOthers = 0x80000005u;

struct FlagsCase {
  const char* props;
  const char* yesWord;
  const char* noWord;
  bool startSet;
  int expected;  // 1: bit set, 0: bit cleared, -1: flags as passed
};

class ExtractPropertyFlagsTest : public testing::TestWithParam<FlagsCase> {};

TEST_P(ExtractPropertyFlagsTest, SetsOrClearsOnlyTheBit) {
  const FlagsCase& c = GetParam();
  char buffer[16];
  const DWORD flags = kOthers | (c.startSet ? kBit : 0);
  const DWORD want = c.expected < 0 ? flags : (c.expected ? (kOthers | kBit) : kOthers);
  EXPECT_EQ(ExtractPropertyDWFlags(c.props, "Opt=", buffer, sizeof buffer, kBit, flags, c.yesWord,
                                   c.noWord),
            want)
      << c.props;
  const WORD wflags = static_cast<WORD>(0x8005 | (c.startSet ? 0x0100 : 0));
  const WORD wwant = c.expected < 0 ? wflags : static_cast<WORD>(c.expected ? 0x8105 : 0x8005);
  EXPECT_EQ(ExtractPropertyWFlags(c.props, "Opt=", buffer, sizeof buffer, 0x0100, wflags,
                                  c.yesWord, c.noWord),
            wwant)
      << c.props;
}

INSTANTIATE_TEST_SUITE_P(
    Words, ExtractPropertyFlagsTest,
    testing::Values(
        FlagsCase{"Opt=Yes", nullptr, nullptr, false, 1},
        FlagsCase{"Opt=yes", "Yes", nullptr, false, 1},
        FlagsCase{"Opt=Maybe", "Yes", nullptr, true, 0},
        FlagsCase{"Opt=Maybe", "Yes", "No", true, -1},
        FlagsCase{"Opt=No", "Yes", "No", true, 0},
        FlagsCase{"Opt=no", nullptr, "No", true, 0},
        FlagsCase{"Opt=On", "On", "Off", false, 1},
        FlagsCase{"Opt=Yes", "On", "Off", false, -1},
        FlagsCase{"Opt=Yes", "On", nullptr, true, 0},
        FlagsCase{"Opt=OFF", "On", "Off", true, 0},
        FlagsCase{"Opt=Yess", nullptr, nullptr, true, 0},
        // Absent or empty values leave the flags as passed.
        FlagsCase{"Other=Yes", nullptr, nullptr, false, -1},
        FlagsCase{"Opt= X=Yes", nullptr, nullptr, true, -1},
        FlagsCase{"Opt=''", nullptr, nullptr, true, -1}));

struct FlagsBoolCase {
  const char* props;
  bool startSet;
  int expected;  // 1: set, 0: cleared, -1: as passed
};

class ExtractPropertyFlagsBOOLTest : public testing::TestWithParam<FlagsBoolCase> {};

TEST_P(ExtractPropertyFlagsBOOLTest, YesSetsNoClearsElseUnchanged) {
  const FlagsBoolCase& c = GetParam();
  char buffer[16];
  const DWORD flags = kOthers | (c.startSet ? kBit : 0);
  const DWORD want = c.expected < 0 ? flags : (c.expected ? (kOthers | kBit) : kOthers);
  EXPECT_EQ(ExtractPropertyDWFlagsBOOL(c.props, "Opt=", buffer, sizeof buffer, kBit, flags), want)
      << c.props;
  const WORD wflags = static_cast<WORD>(0x8005 | (c.startSet ? 0x0100 : 0));
  const WORD wwant = c.expected < 0 ? wflags : static_cast<WORD>(c.expected ? 0x8105 : 0x8005);
  EXPECT_EQ(ExtractPropertyWFlagsBOOL(c.props, "Opt=", buffer, sizeof buffer, 0x0100, wflags),
            wwant)
      << c.props;
}

INSTANTIATE_TEST_SUITE_P(Words, ExtractPropertyFlagsBOOLTest,
                         testing::Values(FlagsBoolCase{"Opt=Yes", false, 1},
                                         FlagsBoolCase{"Opt=YES", false, 1},
                                         FlagsBoolCase{"Opt=No", true, 0},
                                         FlagsBoolCase{"Opt=nO", true, 0},
                                         FlagsBoolCase{"Opt=Maybe", true, -1},
                                         FlagsBoolCase{"Opt=Maybe", false, -1},
                                         FlagsBoolCase{"Opt=", true, -1},
                                         FlagsBoolCase{"Other=No", true, -1}));

TEST(ExtractPropertyFlags, CompareTheWholeValueNotTheCutBuffer) {
  char buffer[4];
  EXPECT_EQ(ExtractPropertyDWFlags("Opt=Yesterday", "Opt=", buffer, sizeof buffer, 1, 1, nullptr,
                                   "No"),
            1u);
  EXPECT_STREQ(buffer, "Yes");
  EXPECT_EQ(ExtractPropertyDWFlagsBOOL("Opt=Yesterday", "Opt=", buffer, sizeof buffer, 1, 0), 0u);
  EXPECT_EQ(ExtractPropertyWFlagsBOOL("Opt=Nothing", "Opt=", buffer, 3, 1, 1), 1);
  EXPECT_EQ(ExtractPropertyWFlagsBOOL("Opt=Yes", "Opt=", buffer, 0, 1, 0), 1);
}

TEST(ExtractPropertyFlags, NullInputsLeaveFlags) {
  char buffer[4];
  EXPECT_EQ(ExtractPropertyDWFlags(nullptr, "Opt=", buffer, 4, 1, 6, nullptr, nullptr), 6u);
  EXPECT_EQ(ExtractPropertyWFlags("Opt=Yes", nullptr, buffer, 4, 1, 6, nullptr, nullptr), 6);
  EXPECT_EQ(ExtractPropertyDWFlagsBOOL(nullptr, "Opt=", buffer, 4, 1, 1), 1u);
  EXPECT_EQ(ExtractPropertyWFlagsBOOL("Opt=No", nullptr, buffer, 4, 1, 1), 1);
}

// ---- ExtractFlag ----

struct FlagCase {
  const char* props;
  const char* word;
  int offset;  // -1: not found
};

class ExtractFlagTest : public testing::TestWithParam<FlagCase> {};

TEST_P(ExtractFlagTest, FindsBareWord) {
  const FlagCase& c = GetParam();
  const char* hit = ExtractFlag(c.props, c.word);
  if (c.offset < 0) {
    EXPECT_EQ(hit, nullptr) << c.props;
  } else {
    EXPECT_EQ(hit, c.props + c.offset) << c.props;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractFlagTest,
    testing::Values(FlagCase{"indent xml", "xml", 7}, FlagCase{"asxml", "xml", -1},
                    FlagCase{"asxml xml", "xml", 6}, FlagCase{"Indent XML", "xml", 7},
                    FlagCase{"xmlfoo", "xml", 0}, FlagCase{"RTL", "RTL", 0},
                    FlagCase{"RTLX=1", "RTL", 0}, FlagCase{"rtl_more", "RTL", 0},
                    FlagCase{"a HIDE_READING", "HIDE_READ", -1},
                    FlagCase{"a HIDE_READING HIDE_READ", "HIDE_READ", 15},
                    FlagCase{"HIDE_READING", "HIDE_READ", 0},
                    FlagCase{"A=1 LIST_TYPE=2", "LIST_TYPE", 4},
                    FlagCase{"a_xml", "xml", -1}, FlagCase{"a xml_b", "xml", 2},
                    FlagCase{"a +xml", "xml", 3}, FlagCase{"a -xml x", "xml", 3},
                    FlagCase{"a 'xml'", "xml", 3}, FlagCase{"a xml9", "xml", -1},
                    FlagCase{"a \xE9xml\xE9", "xml", 3}, FlagCase{"", "xml", -1}));

TEST(ExtractFlag, NullInputsGiveNull) {
  EXPECT_EQ(ExtractFlag(nullptr, "xml"), nullptr);
  EXPECT_EQ(ExtractFlag("xml", nullptr), nullptr);
}

// ---- EliminateProperty ----

struct EliminateCase {
  const char* props;
  const char* key;
  int result;
  std::string expected;
};

class EliminatePropertyTest : public testing::TestWithParam<EliminateCase> {};

TEST_P(EliminatePropertyTest, RemovesFirstEntry) {
  const EliminateCase& c = GetParam();
  const size_t length = strlen(c.props);
  std::vector<char> buffer(length + 1);
  memcpy(buffer.data(), c.props, length + 1);
  EXPECT_EQ(EliminateProperty(buffer.data(), c.key), c.result) << c.props;
  EXPECT_EQ(std::string(buffer.data()), c.expected) << c.props;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EliminatePropertyTest,
    testing::Values(
        EliminateCase{"Caption='My title' Width=5", "Caption=", 1,
                      std::string(18, ' ') + " Width=5"},
        EliminateCase{"Width=5 Caption=abc", "Caption=", 1, "Width=5"},
        EliminateCase{"A=1 B=2", "A=", 1, "B=2"},
        EliminateCase{"a=1 B=2", "A=", 1, "B=2"},
        EliminateCase{"B=2 A=1 C=3", "A=", 1, "B=2 C=3"},
        EliminateCase{"A=1 B=2 \n", "B=", 1, "A=1"},
        EliminateCase{"A= B=2", "A=", 1, "   B=2"},
        EliminateCase{"B=2 A=", "A=", 1, "B=2"},
        EliminateCase{"A=|x y| B=2", "A=", 1, std::string(7, ' ') + " B=2"},
        // Without a closing delimiter only the key is blanked.
        EliminateCase{"Caption='abc Width=5", "Caption=", 1, "        'abc Width=5"},
        EliminateCase{"TableWidth=5", "Width=", 0, "TableWidth=5"},
        EliminateCase{"TableWidth=5 Width=6", "Width=", 1, "TableWidth=5"},
        // Only a word character before the key rejects it.
        EliminateCase{"Title='Width=5' B=1", "Width=", 1, "Title='B=1"},
        EliminateCase{"A=1", "A=", 1, ""},
        EliminateCase{"  \n", "A=", 0, "  \n"},
        EliminateCase{"", "A=", 0, ""}));

TEST(EliminateProperty, ClosingTheGapClearsTheFreedTail) {
  char props[] = "A=12 B=2";
  EXPECT_EQ(EliminateProperty(props, "A="), 1);
  EXPECT_EQ(std::string(props, sizeof props), std::string("B=2\0\0\0\0\0\0", 9));
}

TEST(EliminateProperty, RepeatedCallsRemoveEveryOccurrence) {
  char props[] = "A=1 B=2 a=3 C='x'";
  EXPECT_EQ(EliminateProperty(props, "A="), 1);
  EXPECT_STREQ(props, "B=2 a=3 C='x'");
  EXPECT_EQ(EliminateProperty(props, "A="), 1);
  EXPECT_STREQ(props, "B=2 C='x'");
  EXPECT_EQ(EliminateProperty(props, "A="), 0);
  EXPECT_STREQ(props, "B=2 C='x'");
}

TEST(EliminateProperty, NullInputsGiveZero) {
  char props[] = "A=1";
  EXPECT_EQ(EliminateProperty(nullptr, "A="), 0);
  EXPECT_EQ(EliminateProperty(props, nullptr), 0);
  EXPECT_STREQ(props, "A=1");
}

// ---- SemiExtractProperty ----

struct SemiCase {
  const char* props;
  const char* key;
  const char* value;  // null: absent
  char saved;
};

class SemiExtractPropertyTest : public testing::TestWithParam<SemiCase> {};

TEST_P(SemiExtractPropertyTest, CutsValueAndRestores) {
  const SemiCase& c = GetParam();
  std::string props = c.props;
  char saved = 'Z';
  char* value = SemiExtractProperty(props.data(), c.key, &saved);
  EXPECT_EQ(saved, c.saved) << c.props;
  if (c.value == nullptr) {
    EXPECT_EQ(value, nullptr) << c.props;
    EXPECT_EQ(props, c.props);
    return;
  }
  ASSERT_NE(value, nullptr) << c.props;
  ASSERT_GE(value, props.data());
  ASSERT_LE(value, props.data() + props.size());
  EXPECT_STREQ(value, c.value) << c.props;
  value[strlen(value)] = saved;
  EXPECT_EQ(std::string(props.c_str()), c.props);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SemiExtractPropertyTest,
    testing::Values(SemiCase{"A='x y' B=2", "A=", "x y", '\''},
                    SemiCase{"B=2 A=~x~", "a=", "x", '~'},
                    SemiCase{"A=1 B=2", "A=", "1", ' '},
                    SemiCase{"A= B=2", "A=", "", ' '},
                    // A value that runs to the end is returned whole.
                    SemiCase{"B=2 A=1", "A=", "1", '\0'},
                    SemiCase{"B=2 A=", "A=", "", '\0'},
                    SemiCase{"A='xyz", "A=", "xyz", '\0'},
                    SemiCase{"A='", "A=", "", '\0'},
                    // No boundary test: the first hit is taken.
                    SemiCase{"TableA=1 A=2", "A=", "1", ' '},
                    SemiCase{"B=2", "A=", nullptr, '\0'},
                    SemiCase{"", "A=", nullptr, '\0'}));

TEST(SemiExtractProperty, NullInputsClearSaved) {
  char props[] = "A=1 B=2";
  char saved = 'Z';
  EXPECT_EQ(SemiExtractProperty(nullptr, "A=", &saved), nullptr);
  EXPECT_EQ(saved, '\0');
  saved = 'Z';
  EXPECT_EQ(SemiExtractProperty(props, nullptr, &saved), nullptr);
  EXPECT_EQ(saved, '\0');
  // Without somewhere to save the cut character nothing is cut.
  EXPECT_EQ(SemiExtractProperty(props, "A=", nullptr), nullptr);
  EXPECT_STREQ(props, "A=1 B=2");
}

// ---- ExtractIterativeProperty ----

struct IterativeCase {
  const char* props;
  const char* key;
  const char* prefix;
  const char* suffix;
  const char* expected;  // "<absent>" when 0
};

class ExtractIterativePropertyTest : public testing::TestWithParam<IterativeCase> {};

TEST_P(ExtractIterativePropertyTest, FindsEntryWithPrefixAndSuffix) {
  const IterativeCase& c = GetParam();
  char buffer[32] = "keepme";
  const int found = ExtractIterativeProperty(c.props, c.key, c.prefix, c.suffix, buffer,
                                             sizeof buffer);
  if (strcmp(c.expected, "<absent>") == 0) {
    EXPECT_EQ(found, 0) << c.props;
    EXPECT_STREQ(buffer, "keepme") << c.props;
  } else {
    EXPECT_EQ(found, 1) << c.props;
    EXPECT_STREQ(buffer, c.expected) << c.props;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractIterativePropertyTest,
    testing::Values(
        IterativeCase{"Font=Arial Font=Courier", "Font=", nullptr, nullptr, "Arial"},
        IterativeCase{"Font=Arial Font=Courier", "Font=", "", nullptr, "Arial"},
        IterativeCase{"Font=Arial Font=Courier", "font=", "cou", nullptr, "Courier"},
        IterativeCase{"Font=Arial Font=Courier", "Font=", "Times", nullptr, "<absent>"},
        IterativeCase{"A=ab_1 A=ab_2 A=ab_3", "A=", "ab_", "2", "ab_2"},
        IterativeCase{"A=ab_x A=AB_Y", "A=", "ab_", "y", "AB_Y"},
        IterativeCase{"A=ab A=abc", "A=", "ab", "c", "abc"},
        IterativeCase{"A=ab_1 A=ab_2", "A=", "ab_", "3", "<absent>"},
        IterativeCase{"X='pre one' X='pre two'", "X=", "pre t", nullptr, "pre two"},
        IterativeCase{"X='pre one' X=|pre two|", "X=", "pre t", nullptr, "pre two"},
        IterativeCase{"X= X='' X=z", "X=", "z", nullptr, "z"},
        // The boundary test of ExtractProperty applies.
        IterativeCase{"TableX=abc X=abd", "X=", "abc", nullptr, "<absent>"},
        // A value running to the end of the string ends the search.
        IterativeCase{"X='abc X=def", "X=", "d", nullptr, "<absent>"},
        // The search resumes after the value, not inside it.
        IterativeCase{"T='a X=1' X=2", "X=", "2", nullptr, "2"},
        IterativeCase{"X='a X=1' X=2", "X=", "1", nullptr, "<absent>"},
        // An empty key with empty values still comes to an end.
        IterativeCase{"  ", "", "z", nullptr, "<absent>"},
        IterativeCase{"a b", "", "b", nullptr, "b"}));

TEST(ExtractIterativeProperty, CutsToBufferAndComparesWholeValue) {
  char buffer[3];
  EXPECT_EQ(ExtractIterativeProperty("A=abc A=abd", "A=", "ab", "d", buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "ab");
  EXPECT_EQ(ExtractIterativeProperty("A=abc", "A=", "abc", nullptr, nullptr, 0), 1);
}

TEST(ExtractIterativeProperty, NullInputsGiveZero) {
  char buffer[4] = "abc";
  EXPECT_EQ(ExtractIterativeProperty(nullptr, "A=", nullptr, nullptr, buffer, 4), 0);
  EXPECT_EQ(ExtractIterativeProperty("A=1", nullptr, nullptr, nullptr, buffer, 4), 0);
  EXPECT_STREQ(buffer, "abc");
}

}  // namespace
