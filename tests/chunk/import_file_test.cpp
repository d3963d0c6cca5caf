// Appending a CD file through VelkoRTChunk::AppendImportFile: each case
// stores a body (and a font table) in a database file, writes a CD file
// with the record builder, appends it after the whole body under AutoSave
// and compares the stored body and font table with what the append rules
// give, written by hand: paragraph ids moved by 125, faces mapped only
// after the file's own font table, failures keeping the note.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cdbuild/cd_builder.h"
#include "cdbuild/cd_script.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/status.h"
#include "store/session.h"
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

/* Records of a script followed by more records. */
void AddScript(cdbuild::Body* body, const std::string& script) {
  const cdbuild::Body built = Script(script);
  for (const Bytes& record : built.records())
    body->Add(record);
}

const std::string kDef1 = "PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100\n";
const std::string kBody = kDef1 + "PABREF id=1\nTEXT text=\"a\"\n";

class ImportFileTest : public DatabaseFileFixture<> {
public:
  void SetUp() override {
    DatabaseFileFixture<>::SetUp();
    cd_path_ = path_ + ".CD";
  }
  void TearDown() override {
    std::filesystem::remove(cd_path_);
    DatabaseFileFixture<>::TearDown();
  }

  /* A note with the body and, when given, "$Fonts" holding the table. */
  NOTEID StoreNote(const Bytes& fonts = {}, const std::string& body = kBody) {
    DBHANDLE db = NULLHANDLE;
    EXPECT_EQ(NSFDbOpen(path_.c_str(), &db), NOERROR);
    const NOTEID id = note_testing::StoreNoteWith(db, [&](NOTEHANDLE note) {
      if (STATUS status = Script(body).AppendItems(note, "Body"); status != NOERROR)
        return status;
      if (fonts.empty())
        return NOERROR;
      return NSFItemAppend(note, 0, "$Fonts", 6, TYPE_COMPOSITE, fonts.data(),
                           static_cast<DWORD>(fonts.size()));
    });
    EXPECT_NE(id, 0u);
    NSFDbClose(db);
    return id;
  }

  /* Appends each file in turn after the whole body, in one session; the
   * first failing status. */
  STATUS Import(NOTEID id, const std::vector<std::string>& files) {
    auto* session = new LSXLsiSession;
    auto* item = new VelkoRTItem(session);
    STATUS status = item->Connect("", path_.c_str(), id, "Body", 0);
    if (status == NOERROR) {
      item->AutoSave = 1;
      VelkoRTChunk* chunk = item->DefineChunk("Everything");
      if (chunk == nullptr) {
        status = VELKO_ERR_FAILED;
      } else {
        chunk->append_position = 1;
        for (const std::string& file : files) {
          status = chunk->AppendImportFile(file.c_str(), nullptr);
          secondary_ = chunk->secondary_status;
          if (status != NOERROR)
            break;
        }
      }
    }
    delete session;
    return status;
  }

  void ExpectBody(NOTEID id, const std::string& script) {
    const std::vector<Bytes> stored = note_testing::StoredBodyValues(path_, id, false);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(Hex(stored[0]), Hex(note_testing::Value(Script(script).RecordBytes())));
  }

  Bytes Fonts(NOTEID id) {
    DBHANDLE db = NULLHANDLE;
    EXPECT_EQ(NSFDbOpen(path_.c_str(), &db), NOERROR);
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteOpen(db, id, 0, &note), NOERROR);
    const std::vector<Bytes> values = note_testing::ItemValues(note, "$Fonts");
    NSFNoteClose(note);
    NSFDbClose(db);
    return values.empty() ? Bytes{} : Bytes(values[0].begin() + 2, values[0].end());
  }

  std::string cd_path_;
  WORD secondary_ = 0;
};

/* The file's ids move by 125 past the item's highest (1): definitions and
 * every reference to them alike. */
TEST_F(ImportFileTest, ParagraphIdsMovePastTheItemsByOneHundredTwentyFive) {
  const NOTEID id = StoreNote();
  cdbuild::Body file;
  AddScript(&file, "PABDEF id=1 left=720\nPABDEF id=2\nPABREF id=1\nTEXT text=\"x\"\n"
                   "PARAGRAPH\nPABREF id=2\nTEXT text=\"y\"\n");
  ASSERT_TRUE(file.WriteFile(cd_path_));
  EXPECT_EQ(Import(id, {cd_path_}), NOERROR);
  EXPECT_EQ(secondary_, 0);
  ExpectBody(id, kBody + "PABDEF id=127 left=720\nPABDEF id=128\nPABREF id=127\n"
                         "TEXT text=\"x\"\nPARAGRAPH\nPABREF id=128\nTEXT text=\"y\"\n");
}

/* The item's highest paragraph id moves the base with it; an id that
 * would pass 65535 ends the append with 1027 and the note keeps its body. */
TEST_F(ImportFileTest, TheItemsHighestIdMovesTheBase) {
  struct word_case {
    WORD word; /* the item's highest id */
    STATUS status;
    std::string appended;
  };
  const word_case cases[] = {
      {10, NOERROR, "PABDEF id=136\nPABREF id=136\nTEXT text=\"x\"\n"},
      {65409, NOERROR, "PABDEF id=65535\nPABREF id=65535\nTEXT text=\"x\"\n"},
      {65410, VELKO_ERR_INVALID_SEQUENCE, ""},
  };
  cdbuild::Body file;
  AddScript(&file, "PABDEF id=1\nPABREF id=1\nTEXT text=\"x\"\n");
  ASSERT_TRUE(file.WriteFile(cd_path_));
  for (const word_case& c : cases) {
    SCOPED_TRACE(c.word);
    const std::string body = kBody + "PABDEF id=" + std::to_string(c.word) + "\n";
    const NOTEID id = StoreNote({}, body);
    EXPECT_EQ(Import(id, {cd_path_}), c.status);
    EXPECT_EQ(secondary_, c.status == NOERROR ? 0 : 20032);
    ExpectBody(id, body + c.appended);
  }
}

/* Faces: runs before the file's font table keep theirs; after it a face
 * of 5 or more takes the note's id of its name (a face the note lacked is
 * added under the next free id), faces 0-4 stay; the note's table gains
 * the missing face. */
TEST_F(ImportFileTest, FacesMapOnlyAfterTheFontTable) {
  const NOTEID id = StoreNote(cdbuild::FontTable({{5, "Verdana"}}));
  cdbuild::Body file;
  AddScript(&file, "TEXT face=5 text=\"before\"\n");
  file.Add(cdbuild::FontTable({{5, "Georgia"}, {6, "Verdana"}}));
  AddScript(&file, "TEXT face=5 text=\"g\"\nTEXT face=6 text=\"v\"\nTEXT face=4 text=\"c\"\n");
  ASSERT_TRUE(file.WriteFile(cd_path_));
  EXPECT_EQ(Import(id, {cd_path_}), NOERROR);
  ExpectBody(id, kBody + "TEXT face=5 text=\"before\"\nTEXT face=6 text=\"g\"\n"
                         "TEXT face=5 text=\"v\"\nTEXT face=4 text=\"c\"\n");
  EXPECT_EQ(Hex(Fonts(id)), Hex(cdbuild::FontTable({{5, "Verdana"}, {6, "Georgia"}})));
}

/* A file without a font table maps nothing, even right after an append
 * whose font table left a map. */
TEST_F(ImportFileTest, NoMappingWithoutAFontTable) {
  const NOTEID id = StoreNote(cdbuild::FontTable({{5, "Verdana"}}));
  cdbuild::Body first;
  first.Add(cdbuild::FontTable({{5, "Georgia"}, {6, "Verdana"}}));
  AddScript(&first, "TEXT face=5 text=\"g\"\n");
  ASSERT_TRUE(first.WriteFile(cd_path_));
  const std::string second = cd_path_ + "2.cd";
  cdbuild::Body plain;
  AddScript(&plain, "TEXT face=5 text=\"p\"\nTEXT face=6 text=\"q\"\n");
  ASSERT_TRUE(plain.WriteFile(second));
  EXPECT_EQ(Import(id, {cd_path_, second}), NOERROR);
  std::filesystem::remove(second);
  ExpectBody(id, kBody + "TEXT face=6 text=\"g\"\nTEXT face=5 text=\"p\"\n"
                         "TEXT face=6 text=\"q\"\n");
}

/* A file that cannot be read, or holds a damaged record, fails with the
 * reader's status and secondary status 20032; the note keeps its body. */
TEST_F(ImportFileTest, UnreadableFileFailsAndKeepsTheNote) {
  struct failure {
    const char* name;
    Bytes content; /* empty: no file at all */
    STATUS status;
  };
  const failure failures[] = {
      {"missing", {}, ERR_HOST_FILE_IO},
      {"record past the end", {0x01, 0x00, 0x85, 0xFF, 0x40, 0x00, 0x01, 0x00}, ERR_HOST_BAD_RECORD},
  };
  for (const failure& f : failures) {
    SCOPED_TRACE(f.name);
    const NOTEID id = StoreNote();
    std::filesystem::remove(cd_path_);
    if (!f.content.empty()) {
      FILE* out = std::fopen(cd_path_.c_str(), "wb");
      ASSERT_NE(out, nullptr);
      std::fwrite(f.content.data(), 1, f.content.size(), out);
      std::fclose(out);
    }
    EXPECT_EQ(Import(id, {cd_path_}), f.status);
    EXPECT_EQ(secondary_, 20032);
    ExpectBody(id, kBody);
  }
}

} // namespace
