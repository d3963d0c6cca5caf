// The append actions through AlterRichText on a note of a database file:
// each case stores a body written in the record script, appends to a chunk
// of it under AutoSave, opens the database again and compares the stored
// body with the record script of what the append must leave, written by
// hand from the append rules (the side the chunk's append_position picks,
// the paragraph records around inserted text, the records of each append).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cdbuild/cd_builder.h"
#include "cdbuild/cd_script.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osmem.h"
#include "host/status.h"
#include "store/tracked_memory_testing.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "tests/support/allocation_faults.h"
#include "tests/support/database_file_fixture.h"
#include "tests/support/note_fixture.h"
#include "tests/support/stored_values.h"
#include "velko/velko.h"

namespace {

using Bytes = std::vector<BYTE>;

std::string Hex(const Bytes& bytes) {
  std::string hex;
  char pair[4];
  for (BYTE byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02X ", byte);
    hex += pair;
  }
  return hex;
}

/* One append: the body, the chunk, the side, the call and the body after. */
struct append_case {
  const char* name;
  std::string body;
  const char* definition;
  DWORD append_position; /* 0: before the chunk; 1: after it */
  WORD action;
  WORD p1, p2, p3, p4;
  const char* s1;
  const char* s2;
  std::string saved; /* "" when the call must fail and change nothing */
  STATUS status = NOERROR;
  const char* formula = nullptr; /* a hide formula the session holds, compiled */
  WORD secondary = 0;            /* the chunk's secondary status afterwards */
};

const std::string kDef1 = "PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100\n";
const std::string kTextBody = kDef1 + "PABREF id=1\nTEXT text=\"a\"\nPARAGRAPH\nPABREF id=1\n"
                                      "TEXT text=\"b\"\n";
/* A one-cell table after a paragraph, then closing text. */
const std::string kTableBody = kDef1 + R"(PABREF id=1
TEXT text="a"
PARAGRAPH
TABLEBEGIN
TABLECELL row=0 column=0 rowspan=0 colspan=0
TEXT text="x"
TABLEEND
PARAGRAPH
TEXT text="b"
)";

/* The page break with its definition of the id: margins 1440/0/1440, no
 * tab stops but the first tab at 720, flags 0x0101. */
std::string PageBreak(WORD id) {
  const Bytes definition = cdbuild::PabDef({.id = id,
                                            .left = 1440,
                                            .right = 0,
                                            .first_line = 1440,
                                            .tabs = {720},
                                            .tab_count = 0,
                                            .flags = 0x0101});
  std::string hex = "HEX";
  char pair[4];
  for (BYTE byte : definition) {
    std::snprintf(pair, sizeof pair, " %02X", byte);
    hex += pair;
  }
  const std::string n = std::to_string(id);
  return "PARAGRAPH\n" + hex + "\nPABREF id=" + n + "\nTEXT text=\"\"\nPARAGRAPH\n";
}

/* A stored body never ends in a paragraph record: an empty text run
 * follows. */
const std::string kFinalText = "TEXT text=\"\"\n";

std::vector<append_case> Cases() {
  std::string thirtyTwo;
  for (int i = 0; i < 32; ++i)
    thirtyTwo += "\\0";
  return {
      {"NewLinesStopAtThirtyTwoThenBreakTheParagraph", kTextBody, "Everything", 1,
       ACTION_APPEND_NEW_LINES, 40, 1, 0, 0, nullptr, nullptr,
       kTextBody + "TEXT text=\"" + thirtyTwo + "\"\nPARAGRAPH\nPABREF id=1\n" + kFinalText},
      {"NewLinesWithoutTheParagraphFlag", kTextBody, "Everything", 1, ACTION_APPEND_NEW_LINES, 2,
       0, 0, 0, nullptr, nullptr, kTextBody + "TEXT text=\"\\0\\0\"\n"},
      {"TabsNeverBreakTheParagraph", kTextBody, "Everything", 1, ACTION_APPEND_TABS, 3, 1, 0, 0,
       nullptr, nullptr, kTextBody + "TEXT text=\"\\t\\t\\t\"\n"},
      {"AnchorAfterTheChunkFollowsAnEmptyText", kTextBody, "Everything", 1,
       ACTION_APPEND_ANCHOR, 0, 0, 0, 0, "top", nullptr,
       kTextBody + "TEXT text=\"\"\nANCHOR name=\"top\"\n" + kFinalText},
      {"AnchorLengthCutsTheName", kTextBody, "Everything", 1, ACTION_APPEND_ANCHOR, 0, 2, 0, 0,
       "top", nullptr, kTextBody + "TEXT text=\"\"\nANCHOR name=\"to\"\n" + kFinalText},
      {"AnchorLengthNeverReadsPastTheName", kTextBody, "Everything", 1, ACTION_APPEND_ANCHOR, 0,
       40, 0, 0, "top", nullptr, kTextBody + "TEXT text=\"\"\nANCHOR name=\"top\"\n" + kFinalText},
      {"AnchorBeforeTheChunkPrecedesAnEmptyText", kTextBody, "Paragraph 2", 0,
       ACTION_APPEND_ANCHOR, 0, 0, 0, 0, "top", nullptr,
       kDef1 + "PABREF id=1\nTEXT text=\"a\"\nANCHOR name=\"top\"\nTEXT text=\"\"\n"
               "PARAGRAPH\nPABREF id=1\nTEXT text=\"b\"\n"},
      {"PageBreakTakesAFreshId", kTextBody, "Everything", 1, ACTION_APPEND_PAGE_BREAK, 0, 0, 0,
       0, nullptr, nullptr, kTextBody + PageBreak(2) + kFinalText},
      {"PageBreakIdPassesTheHighestInUse",
       kTextBody + "PARAGRAPH\nPABDEF id=7 flags=0x0100 ext=1440,0,1440,0,0,100\nPABREF id=7\n"
                   "TEXT text=\"c\"\n",
       "Everything", 1, ACTION_APPEND_PAGE_BREAK, 0, 0, 0, 0, nullptr, nullptr,
       kTextBody + "PARAGRAPH\nPABDEF id=7 flags=0x0100 ext=1440,0,1440,0,0,100\nPABREF id=7\n"
                   "TEXT text=\"c\"\n" + PageBreak(8) + kFinalText},
      /* After a text run the text continues the line. */
      {"TextAfterTextNeedsNoParagraph", kTextBody, "Everything", 1, ACTION_APPEND_TEXT, 0, 0, 0,
       0, "new", nullptr, kTextBody + "TEXT text=\"new\"\n"},
      /* After a paragraph record the text gets the paragraph's reference. */
      {"TextAfterAParagraphTakesItsReference", kDef1 + "PABREF id=1\nTEXT text=\"a\"\nPARAGRAPH\n",
       "Everything", 1, ACTION_APPEND_TEXT, 0, 0, 0, 0, "new", nullptr,
       kDef1 + "PABREF id=1\nTEXT text=\"a\"\nPARAGRAPH\nPABREF id=1\nTEXT text=\"new\"\n"},
      {"TextLengthCutsTheCallersText", kTextBody, "Everything", 1, ACTION_APPEND_TEXT, 0, 2, 0, 0,
       "newer", nullptr, kTextBody + "TEXT text=\"ne\"\n"},
      /* No text is the empty text, whatever length comes with it. */
      {"NoTextWithALengthIsEmpty", kTextBody, "Everything", 1, ACTION_APPEND_TEXT, 0, 35, 0, 0,
       nullptr, nullptr, kTextBody + "TEXT text=\"\"\n"},
      /* Right after a table end nothing comes between table and text. */
      {"TextAfterATableEnd", kTableBody, "Table 1", 1, ACTION_APPEND_TEXT, 0, 0, 0, 0, "t",
       nullptr,
       kDef1 + "PABREF id=1\nTEXT text=\"a\"\nPARAGRAPH\nTABLEBEGIN\n"
               "TABLECELL row=0 column=0 rowspan=0 colspan=0\nTEXT text=\"x\"\nTABLEEND\n"
               "TEXT text=\"t\"\nPARAGRAPH\nTEXT text=\"b\"\n"},
      /* Before a table the text gets a paragraph and the reference, so
       * the table keeps its own paragraph; the table begin then gets the
       * paragraph record a table after a non-paragraph record always
       * gets. */
      {"TextBeforeATableBreaksTheParagraph", kTableBody, "Table 1", 0, ACTION_APPEND_TEXT, 0, 0,
       0, 0, "t", nullptr,
       kDef1 + "PABREF id=1\nTEXT text=\"a\"\nPARAGRAPH\nTEXT text=\"t\"\nPARAGRAPH\n"
               "PABREF id=1\nPARAGRAPH\nTABLEBEGIN\nTABLECELL row=0 column=0 rowspan=0 colspan=0\n"
               "TEXT text=\"x\"\nTABLEEND\nPARAGRAPH\nTEXT text=\"b\"\n"},
      /* Before a text run the text joins its line. */
      {"TextBeforeTextJoinsTheLine", kTextBody, "Text 2", 0, ACTION_APPEND_TEXT, 0, 0, 0, 0, "t",
       nullptr,
       kDef1 + "PABREF id=1\nTEXT text=\"a\"\nPARAGRAPH\nPABREF id=1\nTEXT text=\"t\"\n"
               "TEXT text=\"b\"\n"},
      /* At the start of a cell its first text run is joined, without a
       * paragraph between. */
      {"TextAtTheStartOfACellJoinsItsFirstText", kTableBody, "Table 1; Text 1", 0,
       ACTION_APPEND_TEXT, 0, 0, 0, 0, "t", nullptr,
       kDef1 + "PABREF id=1\nTEXT text=\"a\"\nPARAGRAPH\nTABLEBEGIN\n"
               "TABLECELL row=0 column=0 rowspan=0 colspan=0\nTEXT text=\"t\"\nTEXT text=\"x\"\n"
               "TABLEEND\nPARAGRAPH\nTEXT text=\"b\"\n"},
      /* A new paragraph at the end: a definition of its own under a fresh
       * id, copied from the current one. */
      {"ParagraphGetsADefinitionOfItsOwn", kTextBody, "Everything", 1, ACTION_APPEND_PARAGRAPH,
       0, 0, 0, 0, "", nullptr,
       kTextBody + "PARAGRAPH\nPABDEF id=2 flags=0x0100 ext=1440,0,1440,0,0,100\nPABREF id=2\n"
                   "TEXT text=\"\"\n"},
      /* A hide formula flags the definition and follows it, padded even. */
      {"ParagraphHiddenByAFormula", kTextBody, "Everything", 1, ACTION_APPEND_PARAGRAPH, 0, 0,
       0, 0, "", nullptr,
       kTextBody + "PARAGRAPH\nPABDEF id=2 flags=0x0900 ext=1440,0,1440,0,0,100\n"
                   "PABHIDE id=2 source=\"@True\" tail=\"\\0\"\nPABREF id=2\nTEXT text=\"\"\n",
       NOERROR, "@True"},
      /* Imports that have no converter yet fail, the note kept, and say
       * so in the chunk's secondary status. */
      {"FileWithoutAFilterIsRefused", kTextBody, "Everything", 1, ACTION_APPEND_IMPORT_FILE, 0,
       0, 0, 0, "/tmp/picture.gif", nullptr, "", 1028, nullptr, 20014},
      /* A CD file is read directly: one that cannot be read gives the
       * reader's status and the CD file's secondary status. */
      {"CdFileReadsThroughTheImport", kTextBody, "Everything", 1, ACTION_APPEND_IMPORT_FILE, 0,
       0, 0, 0, "/tmp/velko-no-such-file.cd", nullptr, "", ERR_HOST_FILE_IO, nullptr, 20032},
      /* The built-in text import of a missing file: 259. */
      {"BuiltInTextImport", kTextBody, "Everything", 1, ACTION_APPEND_IMPORT_FILE, 0, 0, 0, 0,
       "/tmp/velko-no-such-notes.txt", "velko LineLength=0", "", 259, nullptr, 20014},
      {"HtmlFromAFile", kTextBody, "Everything", 1, ACTION_APPEND_HTML, 1, 0, 0, 0,
       "/tmp/velko-no-such-page.htm", nullptr, "", 259, nullptr, 20014},
      {"HtmlInline", kTextBody, "Everything", 1, ACTION_APPEND_HTML, 3, 0, 0, 0, "<b>x</b>",
       nullptr, kTextBody + "TEXT attributes=bold text=\"x\"\n"},
      /* A chunk copy without a second chunk copies the chunk's own item
       * behind itself, its ids kept (a base argument of 0). */
      {"ChunkCopy", kTextBody, "Everything", 1, ACTION_APPEND_RTCHUNK, 0, 0, 0, 0, nullptr,
       nullptr, kTextBody + kTextBody},
      /* An item copy without the item AppendRTItem opens, and a design
       * body without a name, have no source: the note is kept. */
      {"ItemCopy", kTextBody, "Everything", 1, ACTION_APPEND_RTITEM, 0, 0, 0, 0, nullptr,
       nullptr, "", 1028},
      {"SubformBody", kTextBody, "Everything", 1, ACTION_APPEND_SUBFORM_BODY, 0, 0, 0, 0, nullptr,
       nullptr, "", 1028},
      {"FormBody", kTextBody, "Everything", 1, ACTION_APPEND_FORM_BODY, 0, 0, 0, 0, nullptr,
       nullptr, "", 1028},
      {"PageBody", kTextBody, "Everything", 1, ACTION_APPEND_PAGE_BODY, 0, 0, 0, 0, nullptr,
       nullptr, "", 1028},
      /* Mode 2 imports nothing and succeeds. */
      {"HtmlModeTwoDoesNothing", kTextBody, "Everything", 1, ACTION_APPEND_HTML, 2, 0, 0, 0,
       "<b>x</b>", nullptr, kTextBody},
  };
}

class AppendTest : public DatabaseFileFixture<::testing::TestWithParam<append_case>> {
public:
  /* The append in a session of its own, stored by AutoSave. */
  STATUS Append(NOTEID id, const append_case& c, const std::function<void()>& arm = [] {}) {
    auto* session = new LSXLsiSession;
    auto* item = new VelkoRTItem(session);
    arm();
    STATUS status = item->Connect("", path_.c_str(), id, "Body", 0);
    if (status == NOERROR) {
      item->AutoSave = 1;
      VelkoRTChunk* chunk = item->DefineChunk(c.definition);
      if (chunk == nullptr) {
        status = VELKO_ERR_FAILED;
      } else {
        chunk->append_position = c.append_position;
        if (c.formula != nullptr) {
          const Bytes compiled = cdbuild::CompiledFormula(c.formula);
          memcpy(session->result_text, compiled.data(), compiled.size());
          session->result_length = static_cast<WORD>(compiled.size());
        }
        status = chunk->AlterRichText(c.action, c.p1, c.p2, c.p3, c.p4, c.s1, c.s2, nullptr,
                                      nullptr);
        secondary_ = chunk->secondary_status;
      }
    }
    delete session;
    return status;
  }

  WORD secondary_ = 0; /* the chunk's secondary status after the last append */
};

TEST_P(AppendTest, StoresTheAppendedRecords) {
  const append_case& c = GetParam();
  const cdbuild::Body body = Script(c.body);
  const NOTEID id = StoreBody(body);
  const std::vector<Bytes> before = note_testing::StoredBodyValues(path_, id, false);
  EXPECT_EQ(Append(id, c), c.status);
  EXPECT_EQ(secondary_, c.secondary);
  const std::vector<Bytes> stored = note_testing::StoredBodyValues(path_, id, true);
  const std::vector<Bytes> expected =
      c.saved.empty() ? before
                      : std::vector<Bytes>{note_testing::Value(Script(c.saved).RecordBytes())};
  ASSERT_EQ(stored.size(), expected.size());
  for (size_t item = 0; item < stored.size(); ++item)
    EXPECT_EQ(Hex(stored[item]), Hex(expected[item])) << "item " << item;
}

INSTANTIATE_TEST_SUITE_P(Appends, AppendTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<append_case>& info) {
                           return std::string(info.param.name);
                         });

/* The signatures of the stored records of a value (after its type word),
 * four hex digits each; a text run as its text in quotes. */
std::vector<std::string> Signatures(const Bytes& value) {
  std::vector<std::string> out;
  size_t at = 2;
  while (at + 2 <= value.size()) {
    const BYTE low = value[at];
    const BYTE high = value[at + 1];
    size_t length = 0;
    WORD signature = low;
    if (high == 0xFF) {
      signature = static_cast<WORD>(0xFF00 | low);
      length = value[at + 2] | (value[at + 3] << 8);
    } else if (high == 0x00) {
      length = value[at + 2] | (value[at + 3] << 8) | (value[at + 4] << 16) |
               (static_cast<size_t>(value[at + 5]) << 24);
    } else {
      length = high;
    }
    if (length < 2 || at + length > value.size()) {
      out.push_back("damaged");
      break;
    }
    char name[16];
    std::snprintf(name, sizeof name, "%04X", signature);
    std::string entry = name;
    if (signature == SIG_CD_TEXT) {
      entry.assign(1, '"');
      entry.append(reinterpret_cast<const char*>(value.data()) + at + 8, length - 8);
      entry.push_back('"');
    }
    out.push_back(entry);
    at += length + (length & 1);
  }
  return out;
}

/* The generator appends: where the generator's records go, and the
 * paragraph and empty text that come first when the chunk begins at the
 * item's first record. */
struct placement_case {
  const char* name;
  WORD action, p1, p2;
  const char* s1;
  const char* generated_first; /* the generator's first record */
};

const placement_case kPlacements[] = {
    {"Table", ACTION_APPEND_TABLE, 2, 1, nullptr, "0081"},
    {"TableWithoutIssuer", ACTION_APPEND_TABLE_ALT, 1, 1, nullptr, "0081"},
    {"Layer", ACTION_APPEND_LAYER, 0, 0, nullptr, "00DD"},
    {"UrlGraphic", ACTION_APPEND_GRAPHIC, 2, 0, "http://example.org/a.gif", "00DD"},
    {"ImageResource", ACTION_APPEND_RESOURCE, 3, 19, "logo.gif", "00DD"},
};

/* A table that is the item's first record, then a closing text. */
const std::string kTableFirst = "TABLEBEGIN\nTABLECELL row=0 column=0 rowspan=0 colspan=0\n"
                                "TEXT text=\"x\"\nTABLEEND\nPARAGRAPH\nTEXT text=\"b\"\n";
const std::vector<std::string> kTableFirstRecords = {"00A3", "00A4", "\"x\"", "00A5",
                                                     "0081", "\"b\""};

class AppendPlacementTest : public AppendTest {
public:
  void TestBody() override {}
  std::vector<std::string> Stored(const std::string& body, const char* definition,
                                  DWORD position, const placement_case& p) {
    const NOTEID id = StoreBody(Script(body));
    append_case c{p.name, body, definition, position, p.action, p.p1, p.p2, 0, 0, p.s1,
                  nullptr, ""};
    EXPECT_EQ(Append(id, c), NOERROR);
    const std::vector<Bytes> values = note_testing::StoredBodyValues(path_, id, true);
    return values.size() == 1 ? Signatures(values[0]) : std::vector<std::string>{};
  }
};

TEST(AppendPlacement, GeneratorRecordsGoBeforeOrAfterTheChunk) {
  for (const placement_case& p : kPlacements) {
    SCOPED_TRACE(p.name);
    AppendPlacementTest test;
    test.SetUp();
    /* Before a table at record 1: paragraph, empty text, the generator's
     * records, then the table as it was. */
    std::vector<std::string> records = test.Stored(kTableFirst, "Table 1", 0, p);
    ASSERT_GT(records.size(), kTableFirstRecords.size() + 3);
    EXPECT_EQ(records[0], "0081");
    EXPECT_EQ(records[1], "\"\"");
    EXPECT_EQ(records[2], p.generated_first);
    std::vector<std::string> tail(records.end() - 6, records.end());
    EXPECT_EQ(tail, kTableFirstRecords);
    /* After the whole body: the body as it was, then the generator's
     * records. */
    records = test.Stored(kTextBody, "Everything", 1, p);
    ASSERT_GT(records.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(records.begin(), records.begin() + 6),
              (std::vector<std::string>{"FF82", "0083", "\"a\"", "0081", "0083", "\"b\""}));
    /* (a graphic after text takes the empty text run it always gets) */
    const size_t first = records[6] == "\"\"" && p.action == ACTION_APPEND_GRAPHIC ? 7 : 6;
    EXPECT_EQ(records[first], p.generated_first);
    /* Before a chunk that does not begin the item: no paragraph first. */
    records = test.Stored(kTextBody, "Text 2", 0, p);
    ASSERT_GT(records.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(records.begin(), records.begin() + 4),
              (std::vector<std::string>{"FF82", "0083", "\"a\"", "0081"}));
    EXPECT_EQ(records[4], "0083");
    test.TearDown();
  }
}

/* A font with a colour wraps the appended text with the colour record. */
TEST(AppendText, AColouredFontWrapsTheText) {
  AppendPlacementTest test;
  test.SetUp();
  const NOTEID id = test.StoreBody(Script(kTextBody));
  const append_case c{"colour", kTextBody, "Everything", 1, ACTION_APPEND_TEXT, 0, 0, 0, 0,
                      "t", "RED", ""};
  EXPECT_EQ(test.Append(id, c), NOERROR);
  const std::vector<Bytes> values = note_testing::StoredBodyValues(test.path_, id, true);
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(Signatures(values[0]),
            (std::vector<std::string>{"FF82", "0083", "\"a\"", "0081", "0083", "\"b\"", "00DD",
                                      "\"t\"", "00D2", "00DE"}));
  test.TearDown();
}

/* A file of the given name and content in the test's temporary folder. */
std::string TemporaryFile(const std::string& name, const std::string& content) {
  const std::string path =
      (std::filesystem::path(::testing::TempDir()) / (std::to_string(getpid()) + "_" + name))
          .string();
  FILE* out = std::fopen(path.c_str(), "wb");
  EXPECT_NE(out, nullptr);
  if (out != nullptr) {
    std::fputs(content.c_str(), out);
    std::fclose(out);
  }
  return path;
}

/* The built-in text import cuts a line of 140 characters at the line
 * length the options give; a length below 1 or above 32000 is the
 * default of 132. */
TEST(AppendImport, TextLinesAreCutAtTheLineLengthOr132) {
  const std::string file = TemporaryFile("lines.txt", std::string(140, 'x'));
  struct Case {
    const char* options;
    size_t first; /* the first piece's length */
  };
  const Case cases[] = {{"Velko LineLength=0", 132},
                        {"velko LineLength=40000", 132},
                        {"VELKO LineLength=100", 100},
                        {"Velko", 132}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    AppendPlacementTest test;
    test.SetUp();
    const NOTEID id = test.StoreBody(Script(kTextBody));
    const append_case append{"text", kTextBody, "Everything", 1, ACTION_APPEND_IMPORT_FILE,
                             0, 0, 0, 0, file.c_str(), c.options, ""};
    EXPECT_EQ(test.Append(id, append), NOERROR);
    const std::vector<Bytes> values = note_testing::StoredBodyValues(test.path_, id, true);
    ASSERT_EQ(values.size(), 1u);
    const std::string first = "\"" + std::string(c.first, 'x') + "\"";
    const std::string rest = "\"" + std::string(140 - c.first, 'x') + "\"";
    EXPECT_EQ(Signatures(values[0]),
              (std::vector<std::string>{"FF82", "0083", "\"a\"", "0081", "0083", "\"b\"", first,
                                        "0081", "0083", rest}));
    test.TearDown();
  }
  std::filesystem::remove(file);
}

/* The built-in HTML import takes a file named ".htm" only: one named
 * ".html" looks for an import filter, finds none and is refused, the
 * note kept. */
TEST(AppendImport, BuiltInHtmlImportWantsTheHtmExtension) {
  const std::string htm = TemporaryFile("page.htm", "<b>x</b>");
  const std::string html = TemporaryFile("page.html", "<b>x</b>");
  AppendPlacementTest test;
  test.SetUp();
  NOTEID id = test.StoreBody(Script(kTextBody));
  append_case c{"htm", kTextBody, "Everything", 1, ACTION_APPEND_IMPORT_FILE, 0, 0, 0, 0,
                htm.c_str(), "Velko", ""};
  EXPECT_EQ(test.Append(id, c), NOERROR);
  EXPECT_EQ(test.secondary_, 0);
  EXPECT_EQ(note_testing::StoredBodyValues(test.path_, id, true),
            (std::vector<Bytes>{note_testing::Value(
                Script(kTextBody + "TEXT attributes=bold text=\"x\"\n").RecordBytes())}));

  id = test.StoreBody(Script(kTextBody));
  const std::vector<Bytes> before = note_testing::StoredBodyValues(test.path_, id, false);
  c.s1 = html.c_str();
  EXPECT_EQ(test.Append(id, c), 1028);
  EXPECT_EQ(test.secondary_, 20014);
  EXPECT_EQ(note_testing::StoredBodyValues(test.path_, id, true), before);
  test.TearDown();
  std::filesystem::remove(htm);
  std::filesystem::remove(html);
}

/* A file attached beside attachments of the names given: the status and
 * the stored body of the note, opened again. */
struct attachment_run {
  STATUS status;
  std::string stored;
  std::string before;
};

attachment_run AttachBeside(const std::vector<std::string>& taken) {
  AppendPlacementTest test;
  test.SetUp();
  /* A database in memory, held open for the run, keeps the many
   * attachments quick to write. */
  std::filesystem::remove(test.path_);
  test.path_ = "mem:append_attachments";
  DBHANDLE held = NULLHANDLE;
  EXPECT_EQ(note_testing::CreateDatabase(test.path_.c_str(), &held), NOERROR);
  attachment_run run{};
  const std::string file =
      (std::filesystem::path(::testing::TempDir()) / ("a_" + std::to_string(getpid()) + ".gif"))
          .string();
  FILE* out = std::fopen(file.c_str(), "wb");
  EXPECT_NE(out, nullptr);
  if (out == nullptr)
    return run;
  std::fputs("GIF89a", out);
  std::fclose(out);
  DBHANDLE db = NULLHANDLE;
  EXPECT_EQ(NSFDbOpen(test.path_.c_str(), &db), NOERROR);
  const cdbuild::Body body = Script(kTextBody);
  const NOTEID id = note_testing::StoreNoteWith(db, [&](NOTEHANDLE note) {
    STATUS status = body.AppendItems(note, "Body");
    for (const std::string& name : taken) {
      if (status == NOERROR)
        status = NSFNoteAttachFile(note, "$FILE", 5, file.c_str(), name.c_str(), 0);
    }
    return status;
  });
  NSFDbClose(db);
  const std::vector<Bytes> before = note_testing::StoredBodyValues(test.path_, id, false);
  const std::string shown = "shown/a.gif";
  const append_case c{"attach", kTextBody, "Everything", 1, ACTION_APPEND_FILE_ATTACHMENT,
                      0, 0, 0, 0, file.c_str(), shown.c_str(), ""};
  run.status = test.Append(id, c);
  const std::vector<Bytes> values = note_testing::StoredBodyValues(test.path_, id, true);
  if (values.size() == 1 && before.size() == 1) {
    run.stored.assign(values[0].begin(), values[0].end());
    run.before.assign(before[0].begin(), before[0].end());
  }
  std::filesystem::remove(file);
  NSFDbClose(held);
  test.TearDown();
  return run;
}

/* Beside a.gif and Att0.gif the file is attached as Att1.gif and shown
 * with its own name. */
TEST(AppendAttachment, ATakenNameTriesTheNumberedNames) {
  const attachment_run run = AttachBeside({"a.gif", "Att0.gif"});
  EXPECT_EQ(run.status, NOERROR);
  EXPECT_NE(run.stored.find(std::string("Att1.gif\0a.gif", 14)), std::string::npos);
  EXPECT_EQ(run.stored.find("Att2.gif"), std::string::npos);
}

/* When a.gif and Att0.gif to Att999.gif are all taken the attachment is
 * refused and the note kept: a second attachment of a taken name would
 * hide a file. */
TEST(AppendAttachment, ThousandTakenNamesRefuseTheAttachment) {
  std::vector<std::string> taken = {"a.gif"};
  for (int n = 0; n < 1000; ++n)
    taken.push_back("Att" + std::to_string(n) + ".gif");
  const attachment_run run = AttachBeside(taken);
  EXPECT_EQ(run.status, 1028);
  EXPECT_EQ(run.stored, run.before);
  EXPECT_FALSE(run.stored.empty());
}

/* A table appended to a stored note, with the Nth host allocation or
 * tracked request failing, for every N until a run meets no failure: a
 * run that fails leaves the stored body as it was, one that succeeds
 * stores the whole table, and none leaves a host memory handle. */
TEST(AppendFaults, TableAppendIsAllOrNothingAtEveryFailedAllocation) {
  const append_case c{"table", kTextBody, "Everything", 1, ACTION_APPEND_TABLE, 2, 2, 0, 0,
                      "TableWidth=4in", nullptr, ""};
  AppendPlacementTest test;
  test.SetUp();
  const NOTEID first = test.StoreBody(Script(kTextBody));
  const std::vector<Bytes> before = note_testing::StoredBodyValues(test.path_, first, false);
  ASSERT_EQ(test.Append(first, c), NOERROR);
  const std::vector<Bytes> after = note_testing::StoredBodyValues(test.path_, first, true);
  ASSERT_NE(before, after);
  for (const allocation_faults::control& fault : allocation_faults::kControls) {
    const int failed = allocation_faults::SweepStoredOperation(
        fault, [&] { return test.StoreBody(Script(kTextBody)); },
        [&](NOTEID id, const std::function<void()>& arm) { return test.Append(id, c, arm); },
        [&](NOTEID id) { return note_testing::StoredBodyValues(test.path_, id, true); }, before,
        after);
    EXPECT_GT(failed, 0) << fault.name;
  }
  test.TearDown();
}

} // namespace
