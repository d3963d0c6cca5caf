// The record script beyond the record kinds (cd_builder_test.cpp holds
// those): texts with escapes, blanks and comments, refused lines with their
// messages and line numbers, the example scripts, and a script's records
// read by the store's loader.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/cdrecords.h"
#include "host/host_testing.h"
#include "store/body.h"
#include "tests/support/note_fixture.h"
#include "tests/support/bytes_support.h"
#include "cdbuild/cd_script.h"
#include "velko/velko.h"

namespace {

using bytes_test::Bytes;
using bytes_test::Hex;

/* The records a script line makes; the refusal's message when it makes none. */
std::vector<Bytes> Records(const std::string& line, std::string* error = nullptr) {
  cdbuild::Body body;
  std::string message;
  if (!cdbuild::BuildScriptLine(line, &body, &message) && error != nullptr)
    *error = message;
  return body.records();
}

TEST(CdScriptTest, EscapesSpacesAndComments) {
  EXPECT_THAT(Records("TEXT text=\"q\\\"\\\\\\n\\r\\t\\0\\x7f#\" # a comment"),
              ::testing::ElementsAre(Hex("85 FF 11 00 01 00 00 0A 71 22 5C 0A 0D 09 00 7F 23")));
  EXPECT_THAT(Records("   TEXT\ttext=\"x\"   \r"),
              ::testing::ElementsAre(Hex("85 FF 09 00 01 00 00 0A 78")));
  for (const char* line : {"", "   ", "# PARAGRAPH", "  \t# comment", "\r"})
    EXPECT_TRUE(Records(line).empty()) << line;
}

TEST(CdScriptTest, RefusedLinesSayWhy) {
  const struct {
    std::string line;
    const char* message;
  } cases[] = {
      {"FOO", "unknown record kind 'FOO'"},
      {"TEXT size=300 colour=1", "'colour' is not a field of TEXT"},
      {"TEXT size=300", "field 'size': expected a number from 0 to 255, found '300'"},
      {"TEXT size=0x", "field 'size': expected a number from 0 to 255, found '0x'"},
      {"TEXT size=1 SIZE=2", "field 'SIZE' given twice"},
      {"TEXT text=\"abc", "unterminated text"},
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
      {"TEXT text=\"" + std::string(65528, 'a') + "\"", "TEXT: the record is too long for its header"},
      {"PABDEF justify=middle",
       "field 'justify': expected a number or left, right, full, center, none, found 'middle'"},
      {"PABDEF tabs=1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21",
       "field 'tabs': at most 20 tabs"},
      {"PABDEF tabs=1,,2",
       "field 'tabs': expected numbers from -32768 to 32767 separated by ',', found '1,,2'"},
      {"PABDEF ext=1,2,3,4,5,6,7",
       "field 'ext': expected six numbers from 0 to 65535 separated by ',', found "
       "'1,2,3,4,5,6,7'"},
      {"PABDEF firstline=65536",
       "field 'firstline': expected a number from 0 to 65535, found '65536'"},
      {"PABDEF flags3=0x100000000",
       "field 'flags3': expected a number from 0 to 4294967295, found '0x100000000'"},
      {"RAW data=01", "field 'sig' is required"},
      {"BEGIN sig=NOSUCH",
       "field 'sig': expected a signature number 0x00nn or 0xFFnn or a signature name, found "
       "'NOSUCH'"},
      {"RAW sig=0x1285",
       "field 'sig': expected a signature number 0x00nn or 0xFFnn or a signature name, found "
       "'0x1285'"},
      {"TABLEBEGIN nested=2", "field 'nested': expected yes or no, found '2'"},
      {"COLOR rgb=0x1000000",
       "field 'rgb': expected a number from 0 to 16777215, found '0x1000000'"},
      {"DOCLINK notelink=" + std::string(82, '1'), "field 'notelink': at most 40 bytes"},
      {"PARAGRAPH tail=" + std::string(506, '0'), "PARAGRAPH: the record is too long for its header"},
      {"PARAGRAPH length=255", "field 'length': 255 does not fit the record's header"},
      {"PARAGRAPH tail=0", "field 'tail': expected a quoted text or hex digits, found '0'"},
      {"HEX 01 a=1", "HEX: expected hex digits, found 'a=1'"},
      {"HEX # only a comment", "HEX: no bytes"},
  };
  for (const auto& c : cases) {
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

/* The store's loader reads the builder's stored bytes into the host form
 * the engine's layouts describe: the fields land where cdrecords.h says. */
TEST(CdScriptTest, TheLoaderReadsTheFieldsWhereTheHostLayoutsPutThem) {
  HostTestReset();
  DBHANDLE db = NULLHANDLE;
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(note_testing::CreateDatabase("mem:scripttest", &db), NOERROR);
  ASSERT_EQ(NSFNoteCreate(db, &note), NOERROR);
  cdbuild::Body body;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript(R"(PABDEF id=1 left=1440 ext=1440,0,1440,0,0,100
PARAGRAPH
PABREF id=1
TEXT attributes=bold text="Dear reader,"
TEXT text=" odd"
RAW sig=GRAPHIC data=000000000000000000000000000000000000000000000000
TABLEBEGIN
TABLECELL row=1 column=4
TABLEEND
)",
                                   &body, &error));
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
    // Stored 82, 2, 4, 20, 12, 30, 14, 18, 8: in host form the definition
    // keeps its two end pad bytes, the graphic its two header pad bytes.
    EXPECT_THAT(lengths, ::testing::ElementsAre(84, 2, 4, 20, 12, 32, 14, 18, 8));
    // Records read in place lie at even offsets only: read through copies.
    const record_storage* node = loaded->records;
    _CDPABDEFEXT ext = {};
    std::memcpy(&ext, node->data, std::min<size_t>(node->length, sizeof ext));
    EXPECT_EQ(ext.Definition.PABID, 1);
    EXPECT_EQ(ext.Definition.LeftMargin, 1440);
    EXPECT_EQ(ext.Definition.FirstLineLeftMargin, 1440);
    EXPECT_EQ(ext.LeftMarginOffset, 1440);
    EXPECT_EQ(ext.RightMarginPercent, 100);
    node = node->next->next->next;
    CDTEXT text;
    std::memcpy(&text, node->data, sizeof text);
    EXPECT_EQ(reinterpret_cast<const BYTE*>(&text.FontID)[FONTID_ATTRIBUTES_BYTE], 0x01);
    EXPECT_EQ(std::string(node->data + sizeof(CDTEXT), 12), "Dear reader,");
    node = node->next->next->next;
    ASSERT_EQ(node->signature, SIG_CD_TABLEBEGIN);
    const auto* size = static_cast<const table_side_data*>(node->SideData());
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
