// ReplaceTextQuick by scope over every kind of record it reaches (hotspot
// data, event records, section titles, hide-when formulas, buttons and
// tab labels), in place and rebuilt, its bounds and its formula
// failures; RemoveFields by name pattern and by each field's records; the
// find and link-occurrence actions; and the replacement-pattern expander.
// Bodies are record scripts; expected bodies are written by hand.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "cdbuild/cd_script.h"
#include "engine/search_pattern.h"
#include "host/status.h"
#include "store/vocabulary.h"
#include "tests/support/record_lines.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;

constexpr const char* kDefinition =
    "PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100\nPABREF id=1\n";

/* A compiled formula of the source as a hex field value. */
std::string Formula(const std::string& source) {
  std::string hex;
  char pair[3];
  for (BYTE byte : cdbuild::CompiledFormula(source)) {
    snprintf(pair, sizeof pair, "%02X", byte);
    hex += pair;
  }
  return hex;
}

class SearchTest : public EngineTest {
protected:
  /* The script as the note's "Body"; its values as stored. */
  std::vector<Bytes> Body(const std::string& script) {
    AppendItem({Stored(script)});
    return Values();
  }

  /* The records of the script as one stored value would hold them. */
  static Bytes Stored(const std::string& script) {
    cdbuild::Body body;
    cdbuild::ScriptError error;
    EXPECT_TRUE(cdbuild::BuildScript(script, &body, &error)) << error.line << ": " << error.message;
    return body.RecordBytes();
  }

  /* The stored values of the script's records, split into items as the
   * body writer splits them. */
  static std::vector<Bytes> Expected(const std::string& script) {
    cdbuild::Body body;
    cdbuild::ScriptError error;
    EXPECT_TRUE(cdbuild::BuildScript(script, &body, &error)) << error.line << ": " << error.message;
    std::vector<Bytes> values;
    for (const Bytes& item : body.Items())
      values.push_back(note_testing::Value(item));
    return values;
  }
};

/* One record of the scope body: what it becomes when the scope reaches it,
 * with "Old" replaced by "New" (same length) and by "Newer". */
struct scope_row {
  const char* name;
  std::string input;
  WORD scopes; /* the scope flags that reach it */
  std::string same_length;
  std::string longer;
};

std::vector<scope_row> ScopeRows() {
  return {
      /* popup data: the kept-data flag 0x10000 goes when the length changes */
      {"popup", "HOTSPOTBEGIN type=1 flags=0x10000 data=\"Old popup\"", 2,
       "HOTSPOTBEGIN type=1 flags=0x10000 data=\"New popup\"",
       "HOTSPOTBEGIN type=1 data=\"Newer popup\" tail=00"},
      {"popup end", "HOTSPOTEND", 0, "", ""},
      {"URL hotspot", "HOTSPOTBEGIN type=11 flags=0x11000 data=\"http://Old/\"", 16,
       "HOTSPOTBEGIN type=11 flags=0x11000 data=\"http://New/\"",
       "HOTSPOTBEGIN type=11 flags=0x1000 data=\"http://Newer/\" tail=00"},
      {"URL hotspot end", "HOTSPOTEND", 0, "", ""},
      /* a file hotspot is no scope's */
      {"file hotspot", "HOTSPOTBEGIN type=4 data=\"Old.txt\"", 0, "", ""},
      {"file hotspot end", "HOTSPOTEND", 0, "", ""},
      {"formula hotspot", "HOTSPOTBEGIN type=3 flags=0x10 data=" + Formula("\"Old\""), 4,
       "HOTSPOTBEGIN type=3 flags=0x10 data=" + Formula("\"New\""),
       "HOTSPOTBEGIN type=3 flags=0x10 data=" + Formula("\"Newer\"") + " tail=00"},
      {"formula hotspot end", "HOTSPOTEND", 0, "", ""},
      /* URL events, by name or by formula, for NONTEXT and URL alike */
      {"URL event", "RESOURCE type=1 name=\"http://Old/\"", 2 | 16,
       "RESOURCE type=1 name=\"http://New/\"", "RESOURCE type=1 name=\"http://Newer/\" tail=00"},
      {"URL formula event", "RESOURCE flags=1 type=1 name=" + Formula("\"Old\""), 2 | 16,
       "RESOURCE flags=1 type=1 name=" + Formula("\"New\""),
       "RESOURCE flags=1 type=1 name=" + Formula("\"Newer\"") + " tail=00"},
      /* a note-link event is not replaced */
      {"note link event", "RESOURCE type=2 link=0000 name=\"Old\"", 0, "", ""},
      {"section title", "SECTIONBAR flags=0x04000000 title=\"Old title\"", 2,
       "SECTIONBAR flags=0x04000000 title=\"New title\"",
       "SECTIONBAR flags=0x04000000 title=\"Newer title\" tail=00"},
      {"formula title", "SECTIONBAR flags=0x04002000 title=" + Formula("\"Old\""), 4,
       "SECTIONBAR flags=0x04002000 title=" + Formula("\"New\""),
       "SECTIONBAR flags=0x04002000 title=" + Formula("\"Newer\"") + " tail=00"},
      {"hide-when", "PABHIDE source=\"Status = \\\"Old\\\"\"", 8,
       "PABHIDE source=\"Status = \\\"New\\\"\"", "PABHIDE source=\"Status = \\\"Newer\\\"\""},
      {"button", "BUTTON label=\"Old button\"", 2, "BUTTON label=\"New button\"",
       "BUTTON label=\"Newer button\""},
      {"tab label", "TABLELABEL label=\"Old tab\"", 2, "TABLELABEL label=\"New tab\"",
       "TABLELABEL label=\"Newer tab\""},
  };
}

/* Every option over a body of every record kind (and no text run): each
 * record that the scope reaches is replaced, the others are kept; the
 * rebuilt body ends in the empty text run every written body gets. */
TEST_F(SearchTest, ReplaceTextQuickReachesEachRecordKindByItsScope) {
  struct Case {
    const char* options;
    WORD scope;
  };
  const Case cases[] = {
      {nullptr, 1},  {"NONTEXT", 2}, {"FORMULA", 4},     {"HIDEWHEN", 8},
      {"URL", 16},   {"FORMULA URL", 20}, {"EVERYTHING", 31},
  };
  for (const char* replacement : {"New", "Newer"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(replacement) + " " + (c.options ? c.options : "(none)"));
      Restart();
      std::string input = kDefinition;
      std::string expected = kDefinition;
      for (const scope_row& row : ScopeRows()) {
        input += row.input + "\n";
        const bool reached = (row.scopes & c.scope) != 0;
        const std::string& changed = strlen(replacement) == 3 ? row.same_length : row.longer;
        expected += (reached ? changed : row.input) + "\n";
      }
      expected += "TEXT text=\"\"\n";
      Body(input);
      VelkoRTChunk* chunk = Chunk("Everything");
      EXPECT_EQ(chunk->ReplaceTextQuick("Old", 3, replacement, 0, c.options), NOERROR);
      EXPECT_EQ(Values(), Expected(expected));
      EXPECT_EQ(chunk->secondary_status, 0);
    }
  }
}

/* Text runs are the text scope's only: another scope passes them on
 * unchanged; the text scope (also no option text at all, and everything)
 * hands each run to the text-run routine, which splits it around the
 * matches (a plain piece before and after, the replacement in the run's
 * font). The final empty run of a written body takes the font of the last
 * run walked. */
TEST_F(SearchTest, TextRunsAreReplacedInTheTextScopeOnly) {
  const std::string runs = std::string(kDefinition) + "TEXT face=4 text=\"an Old day\"\n" +
                           "BUTTON label=\"Old\"\n";
  const std::string replacedRun =
      std::string(kDefinition) + "TEXT face=4 text=\"an \"\nTEXT face=4 text=\"Newer\"\n" +
      "TEXT face=4 text=\" day\"\n";
  struct Case {
    const char* options;
    std::string expected;
  };
  const Case cases[] = {
      {"NONTEXT", std::string(kDefinition) + "TEXT face=4 text=\"an Old day\"\n" +
                      "BUTTON label=\"Newer\" tail=00\nTEXT face=4 text=\"\"\n"},
      {"TEXT", replacedRun + "BUTTON label=\"Old\"\nTEXT face=4 text=\"\"\n"},
      {nullptr, replacedRun + "BUTTON label=\"Old\"\nTEXT face=4 text=\"\"\n"},
      {"", replacedRun + "BUTTON label=\"Old\"\nTEXT face=4 text=\"\"\n"},
      {"EVERYTHING", replacedRun + "BUTTON label=\"Newer\" tail=00\nTEXT face=4 text=\"\"\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options != nullptr ? c.options : "(none)");
    Restart();
    Body(runs);
    VelkoRTChunk* chunk = Chunk("Everything");
    EXPECT_EQ(chunk->ReplaceTextQuick("old", 3, "Newer", 5, c.options), NOERROR);
    EXPECT_EQ(Values(), Expected(c.expected));
  }
}

/* The run a replacement walks last gives the item's default text header
 * its font but keeps the header's own length: a blank body made after it
 * ends in an empty text run, not in a header claiming the run's length.
 * Runs with and without a match, bare and in a text envelope (which the
 * walk rebuilds record by record). */
TEST_F(SearchTest, TheDefaultTextHeaderKeepsABareLength) {
  const std::string bare = "TEXT face=4 text=\"an Old day\"\n";
  const std::string enveloped = "BEGIN sig=TEXT\n" + bare + "COLOR rgb=0x102030\nEND sig=TEXT\n";
  for (const std::string& run : {bare, enveloped}) {
    for (const char* search : {"Old", "none"}) {
      SCOPED_TRACE(run + search);
      Restart();
      Body(kDefinition + run);
      VelkoRTChunk* chunk = Chunk("Everything");
      ASSERT_EQ(chunk->ReplaceTextQuick(search, static_cast<WORD>(strlen(search)), "New", 3,
                                        nullptr),
                NOERROR);
      ASSERT_EQ(chunk->item->CreateBlankRichTextItem(), NOERROR);
      const std::vector<Bytes> values = Values();
      ASSERT_EQ(values.size(), 1u);
      ASSERT_GE(values[0].size(), 8u);
      const Bytes text(values[0].end() - 8, values[0].end());
      EXPECT_EQ(Bytes(text.begin(), text.begin() + 5), (Bytes{0x85, 0xFF, 8, 0, 4}));
    }
  }
}

/* Action 2399 writes as many bytes of the replacement as each match
 * covers; the chunk's second event string, when set, is a font applied to
 * the replacement over the set font, the rest of the run keeping its own. */
TEST_F(SearchTest, SameLengthReplacementTakesTheSecondEventStringsFont) {
  struct Case {
    const char* event;
    const char* replaced;
  };
  const Case cases[] = {
      {nullptr, "TEXT face=4 text=\"New\""},
      {"+Bold", "TEXT face=4 attributes=bold text=\"New\""},
      {"Red +Italic", "TEXT face=4 attributes=italic color=red text=\"New\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.event != nullptr ? c.event : "none");
    Restart();
    Body(std::string(kDefinition) + "TEXT face=4 text=\"an Old day\"\n");
    VelkoRTChunk* chunk = Chunk("Everything");
    if (c.event != nullptr)
      chunk->SetEventRetString(2, c.event, static_cast<WORD>(strlen(c.event)));
    EXPECT_EQ(chunk->AlterRichText(ACTION_REPLACE_TEXT_SAME_LENGTH, 5, 3, 1, 0, "Newer", "old",
                                   nullptr, nullptr),
              NOERROR);
    EXPECT_EQ(note_testing::RecordLines(Values()),
              note_testing::RecordLines(Expected(std::string(kDefinition) +
                                                 "TEXT face=4 text=\"an \"\n" + c.replaced +
                                                 "\nTEXT face=4 text=\" day\"\n")));
  }
}

/* Cut to the match's length, a replacement keeps only its whole
 * characters: "x" and the euro sign's three bytes for a three-byte match
 * leave "x". */
TEST_F(SearchTest, SameLengthReplacementKeepsWholeCharacters) {
  Body(std::string(kDefinition) + "TEXT face=4 text=\"an Old day\"\n");
  VelkoRTChunk* chunk = Chunk("Everything");
  EXPECT_EQ(chunk->AlterRichText(ACTION_REPLACE_TEXT_SAME_LENGTH, 4, 3, 1, 0, "x\x14\x20\xac",
                                 "old", nullptr, nullptr),
            NOERROR);
  EXPECT_EQ(note_testing::RecordLines(Values()),
            note_testing::RecordLines(Expected(std::string(kDefinition) +
                                               "TEXT face=4 text=\"an \"\nTEXT face=4 text=\"x\"\n"
                                               "TEXT face=4 text=\" day\"\n")));
}

/* A rebuilt record of at most 64382 bytes is written; a larger one, or a
 * formula text that would pass 65535 bytes, leaves the record as it was
 * with 20017 as the chunk's secondary status and status 0. A tab label is
 * cut to 127 bytes. */
TEST_F(SearchTest, BoundsLeaveTheRecordAndSetTheSecondaryStatus) {
  struct Case {
    const char* name;
    std::string record;
    size_t replacement;
    std::string expected;
    WORD secondary;
  };
  const std::string longest(64382 - 16, 'x');
  const Case cases[] = {
      {"button of 64382 bytes", "BUTTON label=\"Old\"", longest.size(),
       "BUTTON label=\"" + longest + "\"", 0},
      {"button of 64384 bytes", "BUTTON label=\"Old\"", longest.size() + 2,
       "BUTTON label=\"Old\"", 20017},
      {"formula text of 65537 bytes", "PABHIDE source=\"\\\"Old\\\"\"", 65535,
       "PABHIDE source=\"\\\"Old\\\"\"", 20017},
      {"tab label", "TABLELABEL label=\"Old\"", 200,
       "TABLELABEL label=\"" + std::string(127, 'x') + "\"", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    Body(std::string(kDefinition) + c.record + "\n");
    VelkoRTChunk* chunk = Chunk("Everything");
    const std::string replacement(c.replacement, 'x');
    EXPECT_EQ(chunk->ReplaceTextQuick("Old", 3, replacement.c_str(),
                                      static_cast<WORD>(c.replacement), "NONTEXT HIDEWHEN"),
              NOERROR);
    EXPECT_EQ(chunk->secondary_status, c.secondary);
    EXPECT_EQ(Values(), Expected(std::string(kDefinition) + c.expected + "\nTEXT text=\"\"\n"));
  }
}

/* Lengths inside a record are bounded by the record: event texts said to
 * lie beyond it leave the record as it was; hotspot data said to run past
 * it is the data the record holds. */
TEST_F(SearchTest, EmbeddedLengthsAreBoundedByTheRecord) {
  struct Case {
    const char* name;
    const char* input;
    const char* expected;
  };
  const Case cases[] = {
      // a URL event whose server hint is said to be 200 bytes long
      {"event", "HEX F6 FF 1D 00 00 00 00 00 01 00 00 00 03 00 C8 00 00 00 00 00 00 00 00 00 00 00"
                " 4F 6C 64 00",
       "HEX F6 FF 1D 00 00 00 00 00 01 00 00 00 03 00 C8 00 00 00 00 00 00 00 00 00 00 00"
       " 4F 6C 64 00"},
      // a popup whose data is said to be 200 bytes long
      {"popup", "HEX A9 FF 19 00 01 00 00 00 00 00 00 00 C8 00 00 00 4F 6C 64 20 70 6F 70 75 70 00",
       "HOTSPOTBEGIN type=1 data=\"Newer popup\" tail=00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    Body(std::string(kDefinition) + c.input + "\n");
    VelkoRTChunk* chunk = Chunk("Everything");
    EXPECT_EQ(chunk->ReplaceTextQuick("Old", 3, "Newer", 5, "NONTEXT URL"), NOERROR);
    EXPECT_EQ(Values(), Expected(std::string(kDefinition) + c.expected + "\nTEXT text=\"\"\n"));
  }
}

/* A hide-when formula is decompiled, replaced and compiled again by the
 * host; a text that no longer compiles fails the operation with the
 * compiler's status and leaves the note as it was, also under AutoSave. */
TEST_F(SearchTest, HideWhenFormulasAreCompiledAgain) {
  const std::string body = std::string(kDefinition) + "PABHIDE source=\"Status = \\\"Old\\\"\"\n" +
                           "TABLELABEL label=\"Old\"\n";
  {
    Body(body);
    VelkoRTChunk* chunk = Chunk("Everything");
    EXPECT_EQ(chunk->ReplaceTextQuick("\"Old\"", 5, "\"New\"", 5, "HIDEWHEN"), NOERROR);
    EXPECT_EQ(Values(), Expected(std::string(kDefinition) +
                                 "PABHIDE source=\"Status = \\\"New\\\"\"\n" +
                                 "TABLELABEL label=\"Old\"\nTEXT text=\"\"\n"));
  }
  Restart();
  const std::vector<Bytes> before = Body(body);
  VelkoRTChunk* chunk = Chunk("Everything");
  item_->AutoSave = 1;
  EXPECT_EQ(chunk->ReplaceTextQuick("\"Old\"", 5, "\"New", 4, "EVERYTHING"), ERR_FORMULA_COMPILE);
  EXPECT_EQ(chunk->status, ERR_FORMULA_COMPILE);
  EXPECT_EQ(Values(), before);
}

/* Fields: bracketed by a field begin and end, by an embedded control's,
 * and one without brackets (its records up to its CDFIELD). */
constexpr const char* kFieldBody = R"(TEXT text="a"
BEGIN sig=CDFIELD
RAW sig=0xFFB0 data=00000000000000000000000000000000
FIELD name="Subject"
END sig=CDFIELD
TEXT text="b"
RAW sig=0xFFB0 data=00000000000000000000000000000000
FIELD name="Status"
TEXT text="c"
BEGIN sig=0xFFF7
RAW sig=0xFFF7 data=0000000000000000000000000000000000000000000000000000000000000000
FIELD name="subjectLine"
END sig=0xFFF7
TEXT text="d"
)";

TEST_F(SearchTest, RemoveFieldsByNamePattern) {
  const std::string subject = "BEGIN sig=CDFIELD\n"
                              "RAW sig=0xFFB0 data=00000000000000000000000000000000\n"
                              "FIELD name=\"Subject\"\nEND sig=CDFIELD\n";
  const std::string status = "RAW sig=0xFFB0 data=00000000000000000000000000000000\n"
                             "FIELD name=\"Status\"\n";
  const std::string line =
      "BEGIN sig=0xFFF7\n"
      "RAW sig=0xFFF7 data=0000000000000000000000000000000000000000000000000000000000000000\n"
      "FIELD name=\"subjectLine\"\nEND sig=0xFFF7\n";
  struct Case {
    const char* pattern;
    WORD length;
    bool subject, status, line; /* the fields kept */
  };
  const Case cases[] = {
      {"", 0, false, false, false},         // no pattern: every field
      {nullptr, 0, false, false, false},
      {"*", 0, false, false, false},        // any name of any length
      {"subject", 0, false, true, true},    // whole names only, any case
      {"SUB*", 0, false, true, false},
      {"Status", 3, true, true, true},      // "Sta" covers part of the name
      {"tatu", 0, true, true, true},
      {"Stat?s", 0, true, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern ? c.pattern : "(null)");
    Restart();
    Body(std::string(kDefinition) + kFieldBody);
    VelkoRTChunk* chunk = Chunk("Everything");
    EXPECT_EQ(chunk->RemoveFields(c.pattern, c.length), NOERROR);
    const std::string expected = std::string(kDefinition) + "TEXT text=\"a\"\n" +
                                 (c.subject ? subject : "") + "TEXT text=\"b\"\n" +
                                 (c.status ? status : "") + "TEXT text=\"c\"\n" +
                                 (c.line ? line : "") + "TEXT text=\"d\"\n";
    EXPECT_EQ(Values(), Expected(expected));
  }
}

/* A field's records run from the first field record before its CDFIELD;
 * the field records of the next field start after that CDFIELD. */
TEST_F(SearchTest, RemoveFieldsTakesEachFieldsOwnRecords) {
  const std::string ext = "RAW sig=0xFFB0 data=00000000000000000000000000000000\n";
  const std::string alpha = ext + ext + "FIELD name=\"Alpha\"\n";
  const std::string beta = ext + "FIELD name=\"Beta\"\n";
  struct Case {
    const char* pattern;
    bool alpha, beta; /* the fields kept */
  };
  for (const Case& c : {Case{"Alpha", false, true}, Case{"Beta", true, false}}) {
    SCOPED_TRACE(c.pattern);
    Restart();
    Body(std::string(kDefinition) + "TEXT text=\"a\"\n" + alpha + "TEXT text=\"b\"\n" + beta +
         "TEXT text=\"c\"\n");
    VelkoRTChunk* chunk = Chunk("Everything");
    EXPECT_EQ(chunk->RemoveFields(c.pattern, 0), NOERROR);
    EXPECT_EQ(Values(), Expected(std::string(kDefinition) + "TEXT text=\"a\"\n" +
                                 (c.alpha ? alpha : "") + "TEXT text=\"b\"\n" +
                                 (c.beta ? beta : "") + "TEXT text=\"c\"\n"));
  }
}

/* Find leaves the last occurrence of the chunk in the first scratch text,
 * under the chunk's case rule, and writes nothing. */
TEST_F(SearchTest, FindLeavesTheLastOccurrence) {
  struct Case {
    WORD caseSensitive;
    const char* last;
  };
  for (const Case& c : {Case{0, "OLD"}, Case{1, "Old"}}) {
    Restart();
    const std::vector<Bytes> before = Body(std::string(kDefinition) +
                                           "TEXT text=\"Old and old\"\nTEXT text=\"and OLD.\"\n");
    VelkoRTChunk* chunk = Chunk("Everything");
    chunk->CaseSensitive = c.caseSensitive;
    session_->scratch_first[0] = '\0';
    EXPECT_EQ(chunk->AlterRichText(ACTION_FIND_TEXT, 0, 3, 0, 0, nullptr, "Old", nullptr, nullptr),
              NOERROR);
    EXPECT_STREQ(session_->scratch_first, c.last);
    EXPECT_EQ(Values(), before);
  }
}

/* Occurrences become links from the chunk's link event data (a URL
 * here): the text around them stays in text records of its own, each
 * occurrence is the text of its link, and the first one stays in the
 * first scratch text. A text without the search text is kept as it is. */
TEST_F(SearchTest, OccurrencesBecomeLinks) {
  Body(std::string(kDefinition) + "TEXT text=\"see Old and old here\"\nPARAGRAPH\n" +
       "TEXT text=\"nothing\"\n");
  VelkoRTChunk* chunk = Chunk("Everything");
  chunk->SetEventRetString(1, "http://example.com/", 19);
  EXPECT_EQ(chunk->AlterRichText(ACTION_LINK_OCCURRENCES, 0, 3, 0, 0, nullptr, "Old", nullptr,
                                 nullptr),
            NOERROR);
  EXPECT_STREQ(session_->scratch_first, "Old");
  Positions("Everything"); // loads the stored records again
  const std::vector<std::string> records =
      note_testing::Describe(item_->internal->input->records);
  // A URL link: its bracket, the resource link begin, the URL resource,
  // the link hotspot around the text, and their ends.
  const std::vector<std::string> link = {"<00DD>", "<FF7E>", "<FFF6>", "<FFAD>"};
  const std::vector<std::string> end = {"<00AE>", "<00DE>"};
  std::vector<std::string> expected = {"<FF82>", "<0083>", "see "};
  for (const char* occurrence : {"Old", "old"}) {
    expected.insert(expected.end(), link.begin(), link.end());
    expected.push_back(occurrence);
    expected.insert(expected.end(), end.begin(), end.end());
    expected.push_back(occurrence[0] == 'O' ? " and " : " here");
  }
  expected.insert(expected.end(), {"<0081>", "nothing"});
  EXPECT_EQ(records, expected);
}

/* ---- the replacement-pattern expander ---- */

TEST(RegexPatternTest, GroupsReplaceTheirMarks) {
  const char* text = "abcdefghijklmnopqrstuvwxyz";
  std::vector<regex_group> groups = {{0, 26}};
  for (WORD i = 1; i <= 12; ++i)
    groups.push_back({static_cast<WORD>(i - 1), static_cast<WORD>(i + 1)}); // "ab", "bc", ...
  struct Case {
    const char* pattern;
    int32_t count;
    const char* out;
  };
  const Case cases[] = {
      {"$1", 12, "ab"},
      {"<$12>", 12, "<lm>"},
      {"$12", 11, "$12"},            // beyond the group count: copied
      {"$1$2", 12, "abbc"},
      {"$9x", 12, "ijx"},            // one digit up to 9
      {"$10", 12, "jk"},             // two digits from 10
      {"$05", 12, "ef5"},            // read as 5, one digit skipped
      {"\\$1", 12, "\\$1"},          // escaped
      {"a$", 12, "a$"},              // a final '$'
      {"$x", 12, "$x"},
      {"$0", 12, "abcdefghijklmnopqrstuvwxyz"},
      {"", 12, "abcdefghijklmnopqrstuvwxyz"}, // no pattern: the whole match
      {nullptr, 0, "abcdefghijklmnopqrstuvwxyz"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern ? c.pattern : "(null)");
    char out[64];
    memset(out, '#', sizeof out);
    const DWORD length = GenerateBufferFromRegexPattern(out, sizeof out, text, 26, groups.data(),
                                                        c.count, c.pattern);
    EXPECT_STREQ(out, c.out);
    EXPECT_EQ(length, strlen(c.out));
  }
}

TEST(RegexPatternTest, OutputIsCutAtItsCapacity) {
  const regex_group groups[] = {{0, 6}, {2, 40}};
  char out[5];
  EXPECT_EQ(GenerateBufferFromRegexPattern(out, sizeof out, "abcdef", 6, groups, 1, "$0"), 4u);
  EXPECT_STREQ(out, "abcd");
  // A group's end is bounded by the text.
  EXPECT_EQ(GenerateBufferFromRegexPattern(out, sizeof out, "abcdef", 6, groups, 1, "$1"), 4u);
  EXPECT_STREQ(out, "cdef");
  EXPECT_EQ(GenerateBufferFromRegexPattern(out, 0, "abcdef", 6, groups, 1, "$1"), 0u);
}

} // namespace
