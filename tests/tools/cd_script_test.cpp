// The record script: every mnemonic's stored bytes against hand-written
// hex, values (numbers, words, texts with escapes, hex bytes, signature
// names), refused lines with their messages and line numbers, and the round
// trip from a script to a CD file and through the store's loader.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/cdrecords.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/ods.h"
#include "store/body.h"
#include "tests/tools/bytes_support.h"
#include "tools/cd_script.h"
#include "velko/velko.h"

namespace {

using tools_test::Bytes;
using tools_test::Hex;
using tools_test::ShowHex;

struct LineCase {
  const char* line;
  const char* hex; /* the one record the line makes */
};

/* The records a script line makes, or the refusal's message. */
std::vector<Bytes> Records(const std::string& line, std::string* error = nullptr) {
  cdbuild::Body body;
  std::string message;
  if (!cdbuild::BuildScriptLine(line, &body, &message)) {
    if (error != nullptr)
      *error = message;
    return {};
  }
  return body.records();
}

void ExpectLines(const std::vector<LineCase>& cases) {
  for (const LineCase& c : cases) {
    std::string error;
    const std::vector<Bytes> records = Records(c.line, &error);
    ASSERT_EQ(records.size(), 1u) << c.line << ": " << error;
    EXPECT_EQ(records.front(), Hex(c.hex)) << c.line << "\n  made: " << ShowHex(records.front());
  }
}

TEST(CdScriptTest, TextRuns) {
  ExpectLines({
      {"TEXT text=\"Hi\"", "85 FF 0A 00 01 00 00 0A 48 69"},
      {"text face=4 attributes=bold+underline color=blue size=12 text=\"abc\"",
       "85 FF 0B 00 04 05 04 0C 61 62 63"},
      {"TEXT attributes=0x90 color=7 text=4869", "85 FF 0A 00 01 90 07 0A 48 69"},
      {"TEXT Attributes=ITALIC+Shadow+strikethrough+superscript+subscript",
       "85 FF 08 00 01 BA 00 0A"},
      {"TEXT text=\"q\\\"\\\\\\n\\r\\t\\0\\x7f#\" # a comment", "85 FF 11 00 01 00 00 0A 71 22 5C 0A 0D 09 00 7F 23"},
      {"TEXT text=\"a b\" sig=BIDI_TEXT", "E4 FF 0B 00 01 00 00 0A 61 20 62"},
      {"TEXT text= sig=CDTEXT", "85 FF 08 00 01 00 00 0A"},
      {"   TEXT\ttext=\"x\"   \r", "85 FF 09 00 01 00 00 0A 78"},
  });
}

TEST(CdScriptTest, ParagraphDefinitions) {
  ExpectLines({
      {"PABDEF", "82 FF 46 00 01 00 00 00 00 00 00 00 00 00 A0 05 00 00 A0 05 00 00 Z40 Z8"},
      {"PABDEF id=2 justify=center spacing=1 before=2 after=3 left=720 right=360 firstline=1080 "
       "tabs=-720,1440 flags=0x0100 tabtypes=0x12345678 flags2=0x0494 ext=1,2,3,4,5,6 "
       "extflags=1 flags3=0xA0B0C0D0",
       "82 FF 5A 00 02 00 03 00 01 00 02 00 03 00 D0 02 68 01 38 04 02 00 30 FD A0 05 Z36 "
       "00 01 78 56 34 12 94 04 01 00 02 00 03 00 04 00 05 00 06 00 01 00 00 00 D0 C0 B0 A0"},
      {"PABDEF left=0 justify=4 ext=1440,0,1440,0,0,100",
       "82 FF 52 00 01 00 04 00 Z62 A0 05 00 00 A0 05 00 00 00 00 64 00"},
      {"PABDEF left=0 flags3=0x44", "82 FF 5A 00 01 00 Z64 Z12 01 00 00 00 44 00 00 00"},
      {"PABDEF left=0 justify=full extflags=0", "82 FF 56 00 01 00 02 00 Z62 Z12 00 00 00 00"},
  });
}

TEST(CdScriptTest, StructureRecords) {
  ExpectLines({
      {"PARAGRAPH", "81 02"},
      {"PABREF", "83 04 01 00"},
      {"PABREF id=7", "83 04 07 00"},
      {"BEGIN sig=CDTEXT", "DD 06 00 00 85 FF"},
      {"END sig=0xFFA9 version=1", "DE 06 01 00 A9 FF"},
      {"BEGIN sig=hotspotbegin", "DD 06 00 00 A9 FF"},
      {"TABLEBEGIN left=100 hspace=2 vspace=3 flags=8", "A3 0E 64 00 00 00 00 00 02 00 03 00 08 00"},
      {"TABLEBEGIN nested=yes", "CF 0E Z12"},
      {"TABLECELL row=1 column=2", "A4 12 01 02 40 0B E0 10 00 00 00 00 00 00 01 01 00 00"},
      {"TABLECELL row=3 left=10 right=20 borders=0x55 flags=2 v42border=0x1234 rowspan=2 "
       "colspan=3 background=5 nested=true",
       "D0 12 03 00 0A 00 14 00 00 00 55 02 34 12 02 03 05 00"},
      {"TABLEEND", "A5 08 Z6"},
      {"TABLEEND nested=1", "D1 08 Z6"},
      {"TABLEEND nested=no", "A5 08 Z6"},
      {"PRETABLEBEGIN", "FB FF 30 00 Z44"},
      {"PRETABLEBEGIN flags=0x10 rowdisplay=1 minrowheight=200 bodycolor=0x112233 "
       "tablecolor=0xABCDEF bordercolor=0x010203 name=\"T\"",
       "FB FF 31 00 10 00 00 00 Z12 01 00 C8 00 Z4 11 22 33 00 AB CD EF 00 "
       "01 00 01 02 03 00 01 00 Z4 54"},
  });
}

TEST(CdScriptTest, FieldsPassThroughColoursHotspotsLinksAndRaw) {
  ExpectLines({
      {"FIELD name=\"Subject\"",
       "8A FF 2F 00 00 00 00 05 00 00 Z10 01 00 00 0A Z8 07 00 Z6 53 75 62 6A 65 63 74"},
      {"FIELD flags=0x0080 type=0x0300 delimiter=0x3006 face=4 attributes=1 color=2 size=9 "
       "taborder=4 default=0A0B translation=\"t\" validation=0C name=\"N\" description=\"D\" "
       "values=\"V\"",
       "8A FF 2F 00 80 00 00 03 06 30 Z10 04 01 02 09 02 00 01 00 04 00 01 00 01 00 01 00 "
       "01 00 00 00 0A 0B 74 0C 4E 44 56"},
      {"HTMLBEGIN", "CC FF 08 00 00 00 00 00"},
      {"HTMLEND", "CD FF 08 00 00 00 00 00"},
      {"PASSTHRUBEGIN", "CC FF 08 00 00 00 00 00"},
      {"PASSTHRUEND", "CD FF 08 00 00 00 00 00"},
      {"COLOR rgb=0xFF8000", "D2 08 01 00 FF 80 00 00"},
      {"COLOR", "D2 08 01 00 00 00 00 00"},
      {"COLOR rgb=0xFF8000 flags=0x11 gradient=0x0000FF",
       "D2 0E 11 00 FF 80 00 00 01 00 00 00 FF 00"},
      {"HOTSPOTBEGIN type=1 flags=0x10000 data=\"ab\"",
       "A9 FF 12 00 01 00 00 00 00 00 01 00 02 00 00 00 61 62"},
      {"HOTSPOTBEGIN sig=V4HOTSPOTBEGIN", "AD FF 10 00 Z12"},
      {"HOTSPOTEND", "AA 02"},
      {"HOTSPOTEND sig=0xAE", "AE 02"},
      {"LINK id=3", "91 FF 06 00 03 00"},
      {"LINK", "91 FF 06 00 00 00"},
      {"DOCLINK notelink=0102 texts=\"x\"", "92 FF 2D 00 01 02 Z38 78"},
      {"DOCLINK", "92 FF 2C 00 Z40"},
      {"RAW sig=0x99 data=0102", "99 00 08 00 00 00 01 02"},
      {"RAW sig=0xFF99 data=\"a\"", "99 FF 05 00 61"},
      {"RAW sig=PARAGRAPH", "81 02"},
      {"HEX 01 02 03", "01 02 03"},
      {"HEX 0102 03:04", "01 02 03 04"},
  });
}

TEST(CdScriptTest, TailsAndHeaderLengthsOnAnyRecord) {
  ExpectLines({
      {"PARAGRAPH tail=AABB", "81 04 AA BB"},
      {"PARAGRAPH length=9", "81 09"},
      {"TEXT text=\"\" length=0x100", "85 FF 00 01 01 00 00 0A"},
      {"HTMLEND length=0", "CD FF 00 00 00 00 00 00"},
      {"RAW sig=0x99 length=0x12345678", "99 00 78 56 34 12"},
      {"TEXT text=\"a\" tail=\"b\" length=4", "85 FF 04 00 01 00 00 0A 61 62"},
  });
}

TEST(CdScriptTest, BlankAndCommentLinesMakeNoRecord) {
  for (const char* line : {"", "   ", "# PARAGRAPH", "  \t# comment", "\r"})
    EXPECT_TRUE(Records(line).empty()) << line;
}

struct RefusalCase {
  std::string line;
  const char* message;
};

TEST(CdScriptTest, RefusedLinesSayWhy) {
  const RefusalCase cases[] = {
      {"FOO", "unknown record kind 'FOO'"},
      {"TEXT colour=1", "'colour' is not a field of TEXT"},
      {"TEXT size=300 colour=1", "'colour' is not a field of TEXT"},
      {"TEXT size=300", "field 'size': expected a number from 0 to 255, found '300'"},
      {"TEXT size=-1", "field 'size': expected a number from 0 to 255, found '-1'"},
      {"TEXT size=0x", "field 'size': expected a number from 0 to 255, found '0x'"},
      {"TEXT size=1 SIZE=2", "field 'SIZE' given twice"},
      {"TEXT text=\"abc", "unterminated text"},
      {"TEXT text=\"abc\\", "unterminated text"},
      {"TEXT text=\"a\\qb\"", "unknown escape '\\q'"},
      {"TEXT text=\"\\x4\"", "\\x must be followed by two hex digits"},
      {"TEXT text=Hello", "field 'text': expected a quoted text or hex digits, found 'Hello'"},
      {"TEXT text=\"a\"b", "a space must follow the quoted text of field 'text'"},
      {"TEXT text=a\"b\"", "field 'text': a quote inside a bare value"},
      {"TEXT bold", "expected name=value, found 'bold'"},
      {"TEXT \"x\"", "a quoted text must be the value of a field"},
      {"=5", "a field needs a name before '='"},
      {"size=5", "a line must start with a record kind, found 'size='"},
      {"TEXT size=\"1\"", "field 'size': expected a bare value, found '\"1\"'"},
      {"TEXT color=purple",
       "field 'color': expected a number or black, white, red, green, blue, magenta, yellow, "
       "cyan, found 'purple'"},
      {"TEXT attributes=bold+loud",
       "field 'attributes': expected a number or words joined by '+' of bold, italic, "
       "underline, strikethrough, superscript, subscript, shadow, emboss, extrude, found "
       "'bold+loud'"},
      {"TEXT attributes=256", "field 'attributes': expected a number from 0 to 255, found '256'"},
      {"TEXT text=\"" + std::string(65528, 'a') + "\"", "TEXT: the record is too long for its header"},
      {"PABDEF justify=middle",
       "field 'justify': expected a number or left, right, full, center, none, found 'middle'"},
      {"PABDEF tabs=1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21",
       "field 'tabs': at most 20 tabs"},
      {"PABDEF tabs=1,,2",
       "field 'tabs': expected numbers from -32768 to 32767 separated by ',', found '1,,2'"},
      {"PABDEF tabs=40000",
       "field 'tabs': expected numbers from -32768 to 32767 separated by ',', found '40000'"},
      {"PABDEF ext=1,2,3",
       "field 'ext': expected six numbers from 0 to 65535 separated by ',', found '1,2,3'"},
      {"PABDEF ext=1,2,3,4,5,6,7",
       "field 'ext': expected six numbers from 0 to 65535 separated by ',', found "
       "'1,2,3,4,5,6,7'"},
      {"PABDEF firstline=65536",
       "field 'firstline': expected a number from 0 to 65535, found '65536'"},
      {"PABDEF flags3=0x100000000",
       "field 'flags3': expected a number from 0 to 4294967295, found '0x100000000'"},
      {"BEGIN", "field 'sig' is required"},
      {"RAW data=01", "field 'sig' is required"},
      {"BEGIN sig=NOSUCH",
       "field 'sig': expected a signature number 0x00nn or 0xFFnn or a signature name, found "
       "'NOSUCH'"},
      {"BEGIN sig=0x10000",
       "field 'sig': expected a signature number 0x00nn or 0xFFnn or a signature name, found "
       "'0x10000'"},
      {"RAW sig=0x1285",
       "field 'sig': expected a signature number 0x00nn or 0xFFnn or a signature name, found "
       "'0x1285'"},
      {"TABLEBEGIN nested=maybe", "field 'nested': expected yes or no, found 'maybe'"},
      {"TABLEBEGIN nested=2", "field 'nested': expected yes or no, found '2'"},
      {"COLOR rgb=0x1000000",
       "field 'rgb': expected a number from 0 to 16777215, found '0x1000000'"},
      {"DOCLINK notelink=" + std::string(82, '1'), "field 'notelink': at most 40 bytes"},
      {"RAW sig=0x81 data=" + std::string(506, '0'), "RAW: the record is too long for its header"},
      {"PARAGRAPH tail=" + std::string(506, '0'), "PARAGRAPH: the record is too long for its header"},
      {"PARAGRAPH length=255", "field 'length': 255 does not fit the record's header"},
      {"PARAGRAPH length=0", "field 'length': 0 does not fit the record's header"},
      {"PARAGRAPH tail=0", "field 'tail': expected a quoted text or hex digits, found '0'"},
      {"HEX 0g", "HEX: expected hex digits, found '0g'"},
      {"HEX 01 a=1", "HEX: expected hex digits, found 'a=1'"},
      {"HEX", "HEX: no bytes"},
      {"HEX # only a comment", "HEX: no bytes"},
  };
  for (const RefusalCase& c : cases) {
    std::string error;
    EXPECT_TRUE(Records(c.line, &error).empty()) << c.line;
    EXPECT_EQ(error, c.message) << c.line;
  }
}

TEST(CdScriptTest, ScriptsStopAtTheFirstRefusedLineWithItsNumber) {
  cdbuild::Body body;
  cdbuild::ScriptError error;
  EXPECT_FALSE(cdbuild::BuildScript("# memo\nPARAGRAPH\r\n\nTEXT size=999\nPABREF\n", &body, &error));
  EXPECT_EQ(error.line, 4u);
  EXPECT_EQ(error.message, "field 'size': expected a number from 0 to 255, found '999'");
  EXPECT_THAT(body.records(), ::testing::ElementsAre(Hex("81 02")));

  cdbuild::Body whole;
  cdbuild::ScriptError none;
  EXPECT_TRUE(cdbuild::BuildScript("PARAGRAPH\nPABREF id=2", &whole, &none));
  EXPECT_THAT(whole.records(), ::testing::ElementsAre(Hex("81 02"), Hex("83 04 02 00")));
  EXPECT_EQ(none.line, 0u);
  cdbuild::Body empty;
  EXPECT_TRUE(cdbuild::BuildScript("", &empty, &none));
  EXPECT_TRUE(empty.records().empty());
}

TEST(CdScriptTest, TheExampleScriptsBuild) {
  size_t scripts = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(VELKO_SOURCE_DIR) + "/examples")) {
    if (entry.path().extension() != ".cdscript")
      continue;
    ++scripts;
    std::ifstream file(entry.path(), std::ios::binary);
    const std::string script((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
    cdbuild::Body body;
    cdbuild::ScriptError error;
    EXPECT_TRUE(cdbuild::BuildScript(script, &body, &error))
        << entry.path() << ":" << error.line << ": " << error.message;
    EXPECT_TRUE(body.ok()) << entry.path();
    EXPECT_FALSE(body.records().empty()) << entry.path();
  }
  EXPECT_GE(scripts, 4u);
}

/* ---- round trips ---- */

constexpr char kMemo[] = R"(# a short memo
PABDEF id=1 left=1440 ext=1440,0,1440,0,0,100
PARAGRAPH
PABREF id=1
TEXT attributes=bold text="Dear reader,"
TEXT text=" odd"
RAW sig=GRAPHIC data=000000000000000000000000000000000000000000000000
TABLEBEGIN
TABLECELL row=1 column=4
TABLEEND
)";

TEST(CdScriptRoundTripTest, TheHostWalkerSeesTheScriptsRecords) {
  cdbuild::Body body;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript(kMemo, &body, &error)) << error.line << ": " << error.message;
  const std::string path = tools_test::TempPath("round_trip.cd");
  ASSERT_TRUE(body.WriteFile(path));
  struct Seen {
    std::vector<WORD> signatures;
    std::vector<DWORD> lengths;
  } seen;
  const STATUS status = EnumCompositeFile(
      path.c_str(),
      [](char*, WORD signature, DWORD length, void* context) -> STATUS {
        static_cast<Seen*>(context)->signatures.push_back(signature);
        static_cast<Seen*>(context)->lengths.push_back(length);
        return NOERROR;
      },
      &seen);
  std::remove(path.c_str());
  EXPECT_EQ(status, NOERROR);
  EXPECT_THAT(seen.signatures,
              ::testing::ElementsAre(SIG_CD_PABDEFINITION, SIG_CD_PARAGRAPH, SIG_CD_PABREFERENCE,
                                     SIG_CD_TEXT, SIG_CD_TEXT, SIG_CD_GRAPHIC, SIG_CD_TABLEBEGIN,
                                     SIG_CD_TABLECELL, SIG_CD_TABLEEND));
  EXPECT_THAT(seen.lengths, ::testing::ElementsAre(82, 2, 4, 20, 12, 30, 14, 18, 8));
}

/* The store's loader reads the builder's stored bytes into the host form
 * the engine's layouts describe: the fields land where cdrecords.h says. */
TEST(CdScriptRoundTripTest, TheLoaderReadsTheFieldsWhereTheHostLayoutsPutThem) {
  HostTestReset();
  DBHANDLE db = NULLHANDLE;
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(NSFDbCreate("mem:scripttest", DBCLASS_NOTEFILE, FALSE), NOERROR);
  ASSERT_EQ(NSFDbOpen("mem:scripttest", &db), NOERROR);
  ASSERT_EQ(NSFNoteCreate(db, &note), NOERROR);
  cdbuild::Body body;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript(kMemo, &body, &error));
  ASSERT_EQ(body.AppendItems(note, "Body"), NOERROR);
  {
    LSXLsiSession session;
    auto* item = new VelkoRTItem(&session);
    ASSERT_EQ(item->ConnectBackend(note, "Body", 0), NOERROR);
    body_context* loaded = StoreItemsAndRecords(item, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->load_status, NOERROR);
    std::vector<DWORD> lengths;
    for (record_storage* node = loaded->records; node != nullptr; node = node->next)
      lengths.push_back(node->length);
    // Host form: the definition keeps its two end pad bytes, the graphic
    // its two header pad bytes.
    EXPECT_THAT(lengths, ::testing::ElementsAre(84, 2, 4, 20, 12, 32, 14, 18, 8));
    const record_storage* node = loaded->records;
    const auto* ext = reinterpret_cast<const _CDPABDEFEXT*>(node->data);
    EXPECT_EQ(ext->Definition.PABID, 1);
    EXPECT_EQ(ext->Definition.LeftMargin, 1440);
    EXPECT_EQ(ext->Definition.FirstLineLeftMargin, 1440);
    EXPECT_EQ(ext->LeftMarginOffset, 1440);
    EXPECT_EQ(ext->RightMarginPercent, 100);
    node = node->next->next->next;
    const auto* text = reinterpret_cast<const CDTEXT*>(node->data);
    EXPECT_EQ(reinterpret_cast<const BYTE*>(&text->FontID)[FONTID_ATTRIBUTES_BYTE], 0x01);
    EXPECT_EQ(std::string(node->data + sizeof(CDTEXT), 12), "Dear reader,");
    node = node->next->next->next;
    ASSERT_EQ(node->signature, SIG_CD_TABLEBEGIN);
    const auto* size = static_cast<const table_side_data*>(node->side_data);
    ASSERT_NE(size, nullptr);
    EXPECT_EQ(size->rows, 2);
    EXPECT_EQ(size->columns, 5);
    CleanupBodyContext(&session, loaded);
    delete loaded;
  }
  NSFNoteClose(note);
  NSFDbClose(db);
  HostTestReset();
}

} // namespace
