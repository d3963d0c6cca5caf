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
std::string ReadProperty(const char* props, const char* key) {
  std::vector<char> buffer(strlen(props) + 1, 'X');
  if (ExtractProperty(props, key, buffer.data(), buffer.size()) == 0)
    return "<absent>";
  return buffer.data();
}

TEST(Stristr, FindsFirstCaseInsensitiveMatch) {
  struct Case {
    const char* text;
    const char* needle;
    int offset; // -1: no match
  };
  const Case cases[] = {
      {"a WIDTH=5", "Width=", 2}, {"abcabc", "CA", 2}, {"abc", "abcd", -1}, {"", "", -1},
      {"abc", "", 0},
      // Only ASCII letters fold: 0xC4 and 0xE4 differ.
      {"\xC4", "\xE4", -1},       {"x[", "{", -1},
  };
  for (const Case& c : cases) {
    const char* hit = stristr(c.text, c.needle);
    EXPECT_EQ(hit, c.offset < 0 ? nullptr : c.text + c.offset) << c.text << " / " << c.needle;
  }
  EXPECT_EQ(stristr(nullptr, "a"), nullptr);
  EXPECT_EQ(stristr("a", nullptr), nullptr);
}

TEST(ExtractProperty, ReadsTheValueOfTheFirstKeyThatPassesTheBoundaryTest) {
  struct Case {
    const char* props;
    const char* key;
    const char* expected; // "<absent>" when the key is absent
  };
  const Case cases[] = {
      // A key must not follow a word character or a delimiter.
      {"TableWidth=5 Width=7", "Width=", "7"},
      {"TableWidth=5", "Width=", "<absent>"},
      {"WIDTH=40", "width=", "40"},
      {"Width=1 Width=2", "Width=", "1"},
      {"X=1;Width=3", "Width=", "3"},
      {"_Width=4", "Width=", "4"},
      {"\xE9Width=4", "Width=", "4"},
      {"9Width=4", "Width=", "<absent>"},
      {"Title='a Width=5 wide' Height=2", "Width=", "5"},
      {"Title='Width=5'", "Width=", "<absent>"},
      {"Title=~Width=5~", "Width=", "<absent>"},
      {"Title='Width=5' Width=6", "Width=", "6"},
      {"", "Width=", "<absent>"},
      // Values: up to a space, or between a pair of delimiters.
      {"Width= Height=3", "Width=", ""},
      {"Height=3 Width=", "Width=", ""},
      {"Title='a b c' Width=5", "Title=", "a b c"},
      {"Title=\"it's\" X=1", "Title=", "it's"},
      {"Title=|it's \"so\"| X=1", "Title=", "it's \"so\""},
      {"Title=~a|b~", "Title=", "a|b"},
      {"Title='abc def", "Title=", "abc def"},
      {"Title='", "Title=", ""},
      {"Width=5\tHeight=3", "Width=", "5\tHeight=3"},
      {"Width=a'b X", "Width=", "a'b"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ReadProperty(c.props, c.key), c.expected) << c.props;

  char buffer[8] = "keepme";
  EXPECT_EQ(ExtractProperty("TableWidth=5", "Width=", buffer, sizeof buffer), 0);
  EXPECT_EQ(ExtractProperty(nullptr, "Width=", buffer, sizeof buffer), 0);
  EXPECT_EQ(ExtractProperty("Width=5", nullptr, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "keepme");
  EXPECT_EQ(ExtractProperty("Width=5", "Width=", nullptr, 8), 1);
  EXPECT_EQ(ExtractEnvironmentVarOrProperty("A=1 B='x y'", "PATH", "b=", buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "x y");
}

TEST(ExtractProperty, CutsTheValueToTheBufferSize) {
  struct Case {
    size_t size;
    const char* expected;
  };
  for (const Case& c : {Case{0, ""}, Case{1, ""}, Case{2, "a"}, Case{6, "abcde"},
                        Case{7, "abcdef"}, Case{12, "abcdef"}}) {
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
}

TEST(ExtractPropertyBOOL, OnlyTheOppositeWordOfTheWholeValueChangesTheAnswer) {
  struct Case {
    const char* props;
    BOOL defaultValue;
    BOOL expected;
  };
  const Case cases[] = {
      {"Show=No", 1, 0},     {"Show='nO' X=1", 1, 0}, {"Show=Yes", 1, 1},
      {"Show=Nope", 1, 1},   {"Show=N", 1, 1},
      // A non-zero default other than 1 comes back as passed.
      {"Show=Maybe", 5, 5},  {"Show=No", 5, 0},       {"Show=YES", 0, 1},
      {"Show=true", 0, 0},   {"Show=Yesterday", 0, 0},
      // Absent or empty: the default.
      {"Hide=No", 1, 1},     {"Show= X=No", 1, 1},    {"Show=''", 0, 0},
  };
  for (const Case& c : cases) {
    char buffer[16];
    EXPECT_EQ(ExtractPropertyBOOL(c.props, "Show=", buffer, sizeof buffer, c.defaultValue),
              c.expected)
        << c.props << " default " << c.defaultValue;
  }
  char buffer[3];
  EXPECT_EQ(ExtractPropertyBOOL("Show=Nope", "Show=", buffer, sizeof buffer, 1), 1);
  EXPECT_STREQ(buffer, "No");
  EXPECT_EQ(ExtractPropertyBOOL("Show=No", "Show=", buffer, 1, 1), 0);
  EXPECT_EQ(ExtractPropertyBOOL("Show=Yes", "Show=", nullptr, 0, 0), 1);
  EXPECT_EQ(ExtractPropertyBOOL(nullptr, "Show=", buffer, sizeof buffer, 7), 7);
  EXPECT_EQ(ExtractPropertyBOOL("Show=No", nullptr, buffer, sizeof buffer, 1), 1);
}

// ---- flag-word readers ----

constexpr DWORD kBit = 0x00010000u;
constexpr DWORD kOthers = 0x80000005u;

/* Runs the reader on the word and the double-word form with the bit set or
 * not; expected 1: bit set, 0: bit cleared, -1: flags as passed. */
template <typename Reader>
void ExpectFlags(const char* props, bool startSet, int expected, Reader reader) {
  char buffer[16];
  const DWORD flags = kOthers | (startSet ? kBit : 0);
  const DWORD want = expected < 0 ? flags : (expected ? (kOthers | kBit) : kOthers);
  EXPECT_EQ(reader(props, buffer, kBit, flags), want) << props;
  const DWORD wflags = 0x8005 | (startSet ? 0x0100 : 0);
  const DWORD wwant = expected < 0 ? wflags : (expected ? 0x8105 : 0x8005);
  EXPECT_EQ(reader(props, buffer, 0x0100, wflags), wwant) << props << " (word)";
}

TEST(ExtractPropertyFlags, TheYesWordSetsTheNoWordOrAnyOtherClearsOnlyTheBit) {
  struct Case {
    const char* props;
    const char* yesWord;
    const char* noWord;
    bool startSet;
    int expected;
  };
  const Case cases[] = {
      {"Opt=Yes", nullptr, nullptr, false, 1},  {"Opt=yes", "Yes", nullptr, false, 1},
      {"Opt=Maybe", "Yes", nullptr, true, 0},   {"Opt=Maybe", "Yes", "No", true, -1},
      {"Opt=no", nullptr, "No", true, 0},       {"Opt=On", "On", "Off", false, 1},
      {"Opt=Yes", "On", "Off", false, -1},      {"Opt=Yes", "On", nullptr, true, 0},
      {"Opt=Yess", nullptr, nullptr, true, 0},
      // Absent or empty values leave the flags as passed.
      {"Other=Yes", nullptr, nullptr, false, -1}, {"Opt= X=Yes", nullptr, nullptr, true, -1},
      {"Opt=''", nullptr, nullptr, true, -1},
  };
  for (const Case& c : cases) {
    ExpectFlags(c.props, c.startSet, c.expected,
                [&](const char* props, char* buffer, DWORD flag, DWORD flags) -> DWORD {
                  return flag == kBit ? ExtractPropertyDWFlags(props, "Opt=", buffer, 16, flag,
                                                               flags, c.yesWord, c.noWord)
                                      : ExtractPropertyWFlags(props, "Opt=", buffer, 16,
                                                              static_cast<WORD>(flag),
                                                              static_cast<WORD>(flags),
                                                              c.yesWord, c.noWord);
                });
  }
  char buffer[4];
  EXPECT_EQ(ExtractPropertyDWFlags("Opt=Yesterday", "Opt=", buffer, sizeof buffer, 1, 1, nullptr,
                                   "No"),
            1u) << "the whole value is compared, not the cut buffer";
  EXPECT_EQ(ExtractPropertyDWFlags(nullptr, "Opt=", buffer, 4, 1, 6, nullptr, nullptr), 6u);
  EXPECT_EQ(ExtractPropertyWFlags("Opt=Yes", nullptr, buffer, 4, 1, 6, nullptr, nullptr), 6);
}

TEST(ExtractPropertyFlagsBOOL, YesSetsNoClearsElseUnchanged) {
  struct Case {
    const char* props;
    bool startSet;
    int expected;
  };
  for (const Case& c : {Case{"Opt=YES", false, 1}, Case{"Opt=nO", true, 0},
                        Case{"Opt=Maybe", true, -1}, Case{"Opt=Maybe", false, -1},
                        Case{"Opt=", true, -1}, Case{"Other=No", true, -1}}) {
    ExpectFlags(c.props, c.startSet, c.expected,
                [](const char* props, char* buffer, DWORD flag, DWORD flags) -> DWORD {
                  return flag == kBit ? ExtractPropertyDWFlagsBOOL(props, "Opt=", buffer, 16,
                                                                   flag, flags)
                                      : ExtractPropertyWFlagsBOOL(props, "Opt=", buffer, 16,
                                                                  static_cast<WORD>(flag),
                                                                  static_cast<WORD>(flags));
                });
  }
  char buffer[4];
  EXPECT_EQ(ExtractPropertyDWFlagsBOOL("Opt=Yesterday", "Opt=", buffer, sizeof buffer, 1, 0), 0u);
  EXPECT_EQ(ExtractPropertyWFlagsBOOL("Opt=Nothing", "Opt=", buffer, 3, 1, 1), 1);
  EXPECT_EQ(ExtractPropertyWFlagsBOOL("Opt=Yes", "Opt=", buffer, 0, 1, 0), 1);
  EXPECT_EQ(ExtractPropertyDWFlagsBOOL(nullptr, "Opt=", buffer, 4, 1, 1), 1u);
  EXPECT_EQ(ExtractPropertyWFlagsBOOL("Opt=No", nullptr, buffer, 4, 1, 1), 1);
}

TEST(ExtractFlag, FindsABareWordNotInsideAnother) {
  struct Case {
    const char* props;
    const char* word;
    int offset; // -1: not found
  };
  const Case cases[] = {
      {"indent xml", "xml", 7},  {"asxml", "xml", -1},     {"asxml xml", "xml", 6},
      {"Indent XML", "xml", 7},  {"xmlfoo", "xml", 0},     {"rtl_more", "RTL", 0},
      {"a HIDE_READING", "HIDE_READ", -1},                 {"a HIDE_READING HIDE_READ", "HIDE_READ", 15},
      {"a_xml", "xml", -1},      {"a xml_b", "xml", 2},    {"a -xml x", "xml", 3},
      {"a xml9", "xml", -1},     {"a \xE9xml\xE9", "xml", 3}, {"", "xml", -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ExtractFlag(c.props, c.word), c.offset < 0 ? nullptr : c.props + c.offset)
        << c.props;
  EXPECT_EQ(ExtractFlag(nullptr, "xml"), nullptr);
  EXPECT_EQ(ExtractFlag("xml", nullptr), nullptr);
}

// ---- in-place editors ----

TEST(EliminateProperty, RemovesTheFirstEntryThatFollowsNoWordCharacter) {
  struct Case {
    const char* props;
    const char* key;
    int result;
    std::string expected;
  };
  const Case cases[] = {
      {"Caption='My title' Width=5", "Caption=", 1, std::string(18, ' ') + " Width=5"},
      {"Width=5 Caption=abc", "Caption=", 1, "Width=5"},
      {"a=1 B=2", "A=", 1, "B=2"},
      {"B=2 A=1 C=3", "A=", 1, "B=2 C=3"},
      {"A=1 B=2 \n", "B=", 1, "A=1"},
      {"A= B=2", "A=", 1, "   B=2"},
      // Without a closing delimiter only the key is blanked.
      {"Caption='abc Width=5", "Caption=", 1, "        'abc Width=5"},
      {"TableWidth=5 Width=6", "Width=", 1, "TableWidth=5"},
      // Only a word character before the key rejects it.
      {"Title='Width=5' B=1", "Width=", 1, "Title='B=1"},
      {"A=1", "A=", 1, ""},
      {"TableWidth=5", "Width=", 0, "TableWidth=5"},
      {"  \n", "A=", 0, "  \n"},
  };
  for (const Case& c : cases) {
    std::string props = c.props;
    EXPECT_EQ(EliminateProperty(props.data(), c.key), c.result) << c.props;
    EXPECT_EQ(std::string(props.c_str()), c.expected) << c.props;
  }
  // Closing the gap clears the freed tail; repeated calls remove every entry.
  char props[] = "A=12 B=2 a=3 C='x'";
  EXPECT_EQ(EliminateProperty(props, "A="), 1);
  EXPECT_EQ(EliminateProperty(props, "A="), 1);
  EXPECT_EQ(EliminateProperty(props, "A="), 0);
  EXPECT_EQ(std::string(props, sizeof props), std::string("B=2 C='x'\0\0\0\0\0\0\0\0\0\0", 19));
  EXPECT_EQ(EliminateProperty(nullptr, "A="), 0);
  EXPECT_EQ(EliminateProperty(props, nullptr), 0);
}

TEST(SemiExtractProperty, CutsTheValueInPlaceAndSavesTheCharacterToRestore) {
  struct Case {
    const char* props;
    const char* key;
    const char* value; // null: absent
    char saved;
  };
  const Case cases[] = {
      {"A='x y' B=2", "A=", "x y", '\''}, {"B=2 A=~x~", "a=", "x", '~'},
      {"A=1 B=2", "A=", "1", ' '},        {"A= B=2", "A=", "", ' '},
      // A value that runs to the end is returned whole.
      {"B=2 A=1", "A=", "1", '\0'},       {"A='xyz", "A=", "xyz", '\0'},
      // No boundary test: the first hit is taken.
      {"TableA=1 A=2", "A=", "1", ' '},   {"B=2", "A=", nullptr, '\0'},
  };
  for (const Case& c : cases) {
    std::string props = c.props;
    char saved = 'Z';
    char* value = SemiExtractProperty(props.data(), c.key, &saved);
    EXPECT_EQ(saved, c.saved) << c.props;
    if (c.value == nullptr) {
      EXPECT_EQ(value, nullptr) << c.props;
      continue;
    }
    ASSERT_NE(value, nullptr) << c.props;
    EXPECT_STREQ(value, c.value) << c.props;
    value[strlen(value)] = saved;
    EXPECT_EQ(std::string(props.c_str()), c.props);
  }
  char props[] = "A=1 B=2";
  char saved = 'Z';
  EXPECT_EQ(SemiExtractProperty(nullptr, "A=", &saved), nullptr);
  EXPECT_EQ(saved, '\0');
  // Without somewhere to save the cut character nothing is cut.
  EXPECT_EQ(SemiExtractProperty(props, "A=", nullptr), nullptr);
  EXPECT_STREQ(props, "A=1 B=2");
}

TEST(ExtractIterativeProperty, FindsTheFirstEntryWithPrefixAndSuffix) {
  struct Case {
    const char* props;
    const char* key;
    const char* prefix;
    const char* suffix;
    const char* expected; // "<absent>" when 0
  };
  const Case cases[] = {
      {"Font=Arial Font=Courier", "Font=", nullptr, nullptr, "Arial"},
      {"Font=Arial Font=Courier", "font=", "cou", nullptr, "Courier"},
      {"Font=Arial Font=Courier", "Font=", "Times", nullptr, "<absent>"},
      {"A=ab_1 A=ab_2 A=ab_3", "A=", "ab_", "2", "ab_2"},
      {"A=ab A=abc", "A=", "ab", "c", "abc"},
      {"A=ab_1 A=ab_2", "A=", "ab_", "3", "<absent>"},
      {"X='pre one' X=|pre two|", "X=", "pre t", nullptr, "pre two"},
      {"X= X='' X=z", "X=", "z", nullptr, "z"},
      // The boundary test of ExtractProperty applies.
      {"TableX=abc X=abd", "X=", "abc", nullptr, "<absent>"},
      // A value running to the end of the string ends the search.
      {"X='abc X=def", "X=", "d", nullptr, "<absent>"},
      // The search resumes after the value, not inside it.
      {"T='a X=1' X=2", "X=", "2", nullptr, "2"},
      {"X='a X=1' X=2", "X=", "1", nullptr, "<absent>"},
      // An empty key with empty values still comes to an end.
      {"  ", "", "z", nullptr, "<absent>"},
      {"a b", "", "b", nullptr, "b"},
  };
  for (const Case& c : cases) {
    char buffer[32] = "keepme";
    const int found =
        ExtractIterativeProperty(c.props, c.key, c.prefix, c.suffix, buffer, sizeof buffer);
    const bool absent = strcmp(c.expected, "<absent>") == 0;
    EXPECT_EQ(found, absent ? 0 : 1) << c.props;
    EXPECT_STREQ(buffer, absent ? "keepme" : c.expected) << c.props;
  }
  char buffer[3];
  EXPECT_EQ(ExtractIterativeProperty("A=abc A=abd", "A=", "ab", "d", buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "ab") << "cut to the buffer, compared whole";
  EXPECT_EQ(ExtractIterativeProperty("A=abc", "A=", "abc", nullptr, nullptr, 0), 1);
  EXPECT_EQ(ExtractIterativeProperty(nullptr, "A=", nullptr, nullptr, buffer, 3), 0);
  EXPECT_EQ(ExtractIterativeProperty("A=1", nullptr, nullptr, nullptr, buffer, 3), 0);
}

} // namespace
