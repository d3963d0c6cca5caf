// Host databases of the stand-in: create and open ("mem:" and files under
// the data directory), paths, persistence, the SQLite schema, note IDs and
// UNIDs, network paths, handles that cannot be mistaken for one another,
// and the reset of "mem:" databases.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/host_testing.h"
#include "host/nif.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osenv.h"
#include "host/osmem.h"
#include "host/status.h"
#include "tests/support/store_files.h"

namespace {

class DatabaseTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    liveBefore_ = HostTestLiveHandles();
    directory_ = file_testing::MakeDataDirectory("velko-db");
    ASSERT_FALSE(directory_.empty());
  }
  void TearDown() override {
    HostTestReset();
    std::filesystem::remove_all(directory_);
    EXPECT_EQ(HostTestLiveHandles(), liveBefore_) << HostTestLeakReport();
  }

  DBHANDLE CreateAndOpen(const char* path) {
    EXPECT_EQ(NSFDbCreate(path, DBCLASS_NOTEFILE, FALSE), NOERROR) << path;
    DBHANDLE db = NULLHANDLE;
    EXPECT_EQ(NSFDbOpen(path, &db), NOERROR) << path;
    return db;
  }

  // Stores a new note with one text item and returns its note ID.
  NOTEID StoreNote(DBHANDLE db, const char* text) {
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteCreate(db, &note), NOERROR);
    EXPECT_EQ(NSFItemSetText(note, "Subject", text, static_cast<WORD>(std::strlen(text))), NOERROR);
    EXPECT_EQ(NSFNoteUpdate(note, 0), NOERROR);
    NOTEID id = 0;
    NSFNoteGetInfo(note, _NOTE_ID, &id);
    EXPECT_EQ(NSFNoteClose(note), NOERROR);
    return id;
  }

  std::string SubjectOf(DBHANDLE db, NOTEID id) {
    NOTEHANDLE note = NULLHANDLE;
    if (NSFNoteOpen(db, id, 0, &note) != NOERROR)
      return "<not found>";
    char text[256];
    NSFItemGetText(note, "Subject", text, sizeof text);
    NSFNoteClose(note);
    return text;
  }

  std::string directory_;
  size_t liveBefore_ = 0;
};

TEST_F(DatabaseTest, CreateOpenAndPathsOfAFileDatabase) {
  const DBHANDLE db = CreateAndOpen("sub.nsf");
  ASSERT_NE(db, NULLHANDLE);
  char canonical[MAXPATH];
  char expanded[MAXPATH];
  ASSERT_EQ(NSFDbPathGet(db, canonical, expanded), NOERROR);
  EXPECT_STREQ(canonical, "sub.nsf");
  EXPECT_EQ(std::string(expanded), directory_ + "/sub.nsf");
  EXPECT_TRUE(std::filesystem::exists(directory_ + "/sub.nsf"));
  EXPECT_EQ(NSFDbPathGet(db, nullptr, nullptr), NOERROR) << "either buffer may be null";
  EXPECT_EQ(NSFDbClose(db), NOERROR);
  EXPECT_EQ(NSFDbClose(db), ERR_HOST_BAD_HANDLE);
  EXPECT_EQ(NSFDbPathGet(db, canonical, expanded), ERR_HOST_BAD_HANDLE);
}

TEST_F(DatabaseTest, CreateRefusesAnExistingDatabaseUnlessForced) {
  struct Case {
    const char* path;
  };
  for (const Case& c : {Case{"twice.nsf"}, Case{"mem:twice"}}) {
    ASSERT_EQ(NSFDbCreate(c.path, DBCLASS_NOTEFILE, FALSE), NOERROR) << c.path;
    EXPECT_EQ(NSFDbCreate(c.path, DBCLASS_NOTEFILE, FALSE), ERR_HOST_DB_EXISTS) << c.path;
    DBHANDLE db = NULLHANDLE;
    ASSERT_EQ(NSFDbOpen(c.path, &db), NOERROR);
    const NOTEID id = StoreNote(db, "old");
    EXPECT_EQ(NSFDbCreate(c.path, DBCLASS_NOTEFILE, TRUE), ERR_HOST_DB_IN_USE) << c.path;
    EXPECT_EQ(SubjectOf(db, id), "old") << "a refused replacement leaves the database";
    ASSERT_EQ(NSFDbClose(db), NOERROR);
    EXPECT_EQ(NSFDbCreate(c.path, DBCLASS_NOTEFILE, TRUE), NOERROR) << c.path;
    ASSERT_EQ(NSFDbOpen(c.path, &db), NOERROR);
    EXPECT_EQ(SubjectOf(db, id), "<not found>") << "the forced create starts empty";
    EXPECT_EQ(NSFDbClose(db), NOERROR);
  }
}

TEST_F(DatabaseTest, OpenFailures) {
  struct Case {
    const char* path;
    STATUS status;
  };
  const std::string tooLong(MAXPATH, 'x');
  std::ofstream(directory_ + "/plain.txt") << "this is not a database, just some text\n";
  const Case cases[] = {
      {"missing.nsf", ERR_HOST_DB_NOT_FOUND},
      {"mem:missing", ERR_HOST_DB_NOT_FOUND},
      {"mem:", ERR_HOST_BAD_ARGUMENT},
      {"", ERR_HOST_BAD_ARGUMENT},
      {"!!", ERR_HOST_BAD_ARGUMENT},
      {"Remote/Acme!!names.nsf", ERR_HOST_SERVER_NOT_LOCAL},
      {tooLong.c_str(), ERR_HOST_BAD_ARGUMENT},
      {"plain.txt", ERR_HOST_STORAGE},
  };
  for (const Case& c : cases) {
    DBHANDLE db = 0x1234;
    EXPECT_EQ(NSFDbOpen(c.path, &db), c.status) << c.path;
    EXPECT_EQ(db, NULLHANDLE) << c.path;
  }
  DBHANDLE db = NULLHANDLE;
  EXPECT_EQ(NSFDbOpen(nullptr, &db), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(NSFDbOpen("mem:x", nullptr), ERR_HOST_BAD_ARGUMENT);
}

TEST_F(DatabaseTest, LocalServerPathsOpenTheSameDatabase) {
  HostTestSetEnvironment("ServerName", "Alpha/Acme");
  const DBHANDLE direct = CreateAndOpen("local.nsf");
  const NOTEID id = StoreNote(direct, "shared");
  for (const char* path : {"!!local.nsf", "Alpha/Acme!!local.nsf", "alpha/acme!!local.nsf"}) {
    DBHANDLE db = NULLHANDLE;
    ASSERT_EQ(NSFDbOpen(path, &db), NOERROR) << path;
    EXPECT_EQ(SubjectOf(db, id), "shared") << path;
    char canonical[MAXPATH];
    NSFDbPathGet(db, canonical, nullptr);
    EXPECT_STREQ(canonical, "local.nsf") << "the server part is dropped";
    EXPECT_EQ(NSFDbClose(db), NOERROR);
  }
  DBHANDLE db = NULLHANDLE;
  EXPECT_EQ(NSFDbOpen("Beta/Acme!!local.nsf", &db), ERR_HOST_SERVER_NOT_LOCAL);
  EXPECT_EQ(NSFDbClose(direct), NOERROR);
}

TEST_F(DatabaseTest, FileDatabasePersistsAfterCloseAndReopen) {
  DBHANDLE db = CreateAndOpen("persist.nsf");
  DBREPLICAINFO before;
  ASSERT_EQ(NSFDbReplicaInfoGet(db, &before), NOERROR);
  const NOTEID first = StoreNote(db, "first");
  const NOTEID second = StoreNote(db, "second");
  ASSERT_EQ(NSFDbClose(db), NOERROR);
  HostTestReset(); // drops every connection; files stay
  HostTestSetDataDirectory(directory_.c_str());

  ASSERT_EQ(NSFDbOpen("persist.nsf", &db), NOERROR);
  EXPECT_EQ(SubjectOf(db, first), "first");
  EXPECT_EQ(SubjectOf(db, second), "second");
  DBREPLICAINFO after;
  ASSERT_EQ(NSFDbReplicaInfoGet(db, &after), NOERROR);
  EXPECT_EQ(std::memcmp(&before.ID, &after.ID, sizeof before.ID), 0);
  EXPECT_NE(after.ID.Innards[0], 0u);
  EXPECT_NE(after.ID.Innards[1], 0u);
  EXPECT_EQ(StoreNote(db, "third"), second + 4) << "the note ID counter is stored too";
  EXPECT_EQ(NSFDbClose(db), NOERROR);

  const std::string absolute = directory_ + "/persist.nsf";
  ASSERT_EQ(NSFDbOpen(absolute.c_str(), &db), NOERROR) << "an absolute path is used as it is";
  EXPECT_EQ(SubjectOf(db, first), "first");
  EXPECT_EQ(NSFDbClose(db), NOERROR);
}

TEST_F(DatabaseTest, SchemaIsInspectableWithSqlite) {
  const DBHANDLE db = CreateAndOpen("schema.nsf");
  const NOTEID id = StoreNote(db, "Hello");
  ASSERT_EQ(NSFNoteDelete(db, StoreNote(db, "Gone"), 0), NOERROR);
  ASSERT_EQ(NSFDbClose(db), NOERROR);

  sqlite3* raw = nullptr;
  ASSERT_EQ(
      sqlite3_open_v2((directory_ + "/schema.nsf").c_str(), &raw, SQLITE_OPEN_READONLY, nullptr),
      SQLITE_OK);
  const auto single = [raw](const char* sql) { return file_testing::FirstRow(raw, sql); };
  EXPECT_EQ(single("PRAGMA user_version"), "1");
  EXPECT_EQ(single("SELECT group_concat(name, ',') FROM (SELECT name FROM sqlite_schema "
                   "WHERE type = 'table' ORDER BY name)"),
            "database,items,notes,objects");
  EXPECT_EQ(single("SELECT title, next_note_id FROM database"), "schema|264");
  EXPECT_EQ(single("SELECT count(*) FROM notes"), "1");
  EXPECT_EQ(single("SELECT count(*) FROM items"), "1") << "a deleted note's items go with it";
  EXPECT_EQ(single("SELECT \"table\", on_delete FROM pragma_foreign_key_list('items')"),
            "notes|CASCADE");
  EXPECT_EQ(single("SELECT note_id, class, sequence FROM notes"), std::to_string(id) + "|1|1");
  EXPECT_EQ(single("SELECT position, name, name_key, type, flags, hex(value) FROM items"),
            "0|Subject|subject|1280|4|000548656C6C6F");
  sqlite3_close(raw);
}

TEST_F(DatabaseTest, NoteIDsStepByFourAndAreNeverReused) {
  DBHANDLE db = CreateAndOpen("ids.nsf");
  std::vector<NOTEID> ids;
  for (const char* text : {"a", "b", "c"})
    ids.push_back(StoreNote(db, text));
  EXPECT_EQ(ids, (std::vector<NOTEID>{0x100, 0x104, 0x108}));

  ASSERT_EQ(NSFNoteDelete(db, 0x108, 0), NOERROR);
  EXPECT_EQ(NSFNoteDelete(db, 0x108, 0), ERR_HOST_NOTE_NOT_FOUND);
  EXPECT_EQ(SubjectOf(db, 0x108), "<not found>");
  EXPECT_EQ(NSFDbGetNoteInfo(db, 0x108, nullptr, nullptr, nullptr), ERR_HOST_NOTE_NOT_FOUND);
  EXPECT_EQ(StoreNote(db, "d"), 0x10Cu) << "the deleted note's ID is not handed out again";

  ASSERT_EQ(NSFDbClose(db), NOERROR);
  ASSERT_EQ(NSFDbOpen("ids.nsf", &db), NOERROR);
  EXPECT_EQ(StoreNote(db, "e"), 0x110u);
  EXPECT_EQ(NSFDbClose(db), NOERROR);
}

TEST_F(DatabaseTest, DeletedNoteCannotBeUpdatedFromAnOpenCopy) {
  const DBHANDLE db = CreateAndOpen("mem:deleted");
  const NOTEID id = StoreNote(db, "x");
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(NSFNoteOpen(db, id, 0, &note), NOERROR);
  ASSERT_EQ(NSFNoteDelete(db, id, 0), NOERROR);
  EXPECT_EQ(NSFNoteUpdate(note, 0), ERR_HOST_NOTE_NOT_FOUND);
  EXPECT_EQ(SubjectOf(db, id), "<not found>") << "the update did not bring it back";
  NOTEID seen = 0;
  NSFNoteGetInfo(note, _NOTE_ID, &seen);
  EXPECT_EQ(seen, id);
  EXPECT_EQ(NSFNoteClose(note), NOERROR);
  EXPECT_EQ(NSFDbClose(db), NOERROR);
}

TEST_F(DatabaseTest, UnidsAndOriginatorIDs) {
  const TIMEDATE midnight = {{0, 2461000}};
  HostTestSetClock(&midnight); // the clock's first word is 0
  const DBHANDLE db = CreateAndOpen("mem:unids");
  std::vector<std::string> seen;
  for (int i = 0; i < 20; ++i) {
    ORIGINATORID oid;
    ASSERT_EQ(NSFDbGenerateOID(db, &oid), NOERROR);
    EXPECT_EQ(oid.Sequence, 0u);
    for (DWORD word : {oid.File[0], oid.File[1], oid.Note.Innards[0], oid.Note.Innards[1]})
      EXPECT_NE(word, 0u) << "no word of a UNID is 0";
    seen.emplace_back(reinterpret_cast<const char*>(&oid), sizeof(UNID));
  }
  for (size_t a = 0; a < seen.size(); ++a)
    for (size_t b = a + 1; b < seen.size(); ++b)
      EXPECT_NE(seen[a], seen[b]) << "UNIDs differ under a fixed clock";

  const TIMEDATE later = {{12345, 2461001}};
  HostTestSetClock(&later);
  const NOTEID id = StoreNote(db, "x");
  ORIGINATORID oid;
  TIMEDATE modified;
  WORD noteClass = 0;
  ASSERT_EQ(NSFDbGetNoteInfo(db, id, &oid, &modified, &noteClass), NOERROR);
  EXPECT_EQ(oid.Sequence, 1u);
  EXPECT_EQ(oid.SequenceTime.Innards[0], 12345u);
  EXPECT_EQ(modified.Innards[1], 2461001u);
  EXPECT_EQ(noteClass, NOTE_CLASS_DOCUMENT);

  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(NSFNoteOpenByUNID(db, reinterpret_cast<const UNID*>(&oid), 0, &note), NOERROR);
  NOTEID opened = 0;
  NSFNoteGetInfo(note, _NOTE_ID, &opened);
  EXPECT_EQ(opened, id);
  EXPECT_EQ(NSFNoteClose(note), NOERROR);
  UNID other = {{1, 2}, {{3, 4}}};
  EXPECT_EQ(NSFNoteOpenByUNID(db, &other, 0, &note), ERR_HOST_NOTE_NOT_FOUND);
  EXPECT_EQ(note, NULLHANDLE);
  EXPECT_EQ(NSFDbClose(db), NOERROR);
}

TEST_F(DatabaseTest, ReplicaIDsDifferBetweenDatabases) {
  const DBHANDLE a = CreateAndOpen("mem:a");
  const DBHANDLE b = CreateAndOpen("mem:b");
  DBREPLICAINFO infoA;
  DBREPLICAINFO infoB;
  ASSERT_EQ(NSFDbReplicaInfoGet(a, &infoA), NOERROR);
  ASSERT_EQ(NSFDbReplicaInfoGet(b, &infoB), NOERROR);
  EXPECT_NE(std::memcmp(&infoA.ID, &infoB.ID, sizeof infoA.ID), 0);
  EXPECT_EQ(infoA.Flags, 0);
  EXPECT_EQ(NSFDbReplicaInfoGet(a, nullptr), ERR_HOST_BAD_ARGUMENT);
  NSFDbClose(a);
  NSFDbClose(b);
}

TEST_F(DatabaseTest, MemoryDatabaseIsSharedUntilReset) {
  const DBHANDLE first = CreateAndOpen("mem:shared");
  const NOTEID id = StoreNote(first, "kept");
  ASSERT_EQ(NSFDbClose(first), NOERROR);
  DBHANDLE second = NULLHANDLE;
  ASSERT_EQ(NSFDbOpen("mem:shared", &second), NOERROR) << "closing the last handle keeps it";
  EXPECT_EQ(SubjectOf(second, id), "kept");
  char canonical[MAXPATH];
  char expanded[MAXPATH];
  ASSERT_EQ(NSFDbPathGet(second, canonical, expanded), NOERROR);
  EXPECT_STREQ(canonical, "mem:shared");
  EXPECT_STREQ(expanded, "mem:shared");
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(NSFNoteOpen(second, id, 0, &note), NOERROR);

  HostTestReset();
  EXPECT_EQ(NSFDbClose(second), ERR_HOST_BAD_HANDLE) << "handles of a reset database are bad";
  EXPECT_EQ(NSFNoteClose(note), ERR_HOST_BAD_HANDLE);
  EXPECT_EQ(NSFNoteUpdate(note, 0), ERR_HOST_BAD_HANDLE);
  EXPECT_EQ(NSFDbOpen("mem:shared", &second), ERR_HOST_DB_NOT_FOUND);
}

TEST_F(DatabaseTest, HandlesOfOneKindAreRefusedByTheOthers) {
  const DBHANDLE db = CreateAndOpen("mem:kinds");
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(NSFNoteCreate(db, &note), NOERROR);
  HCOLLECTION collection = NULLHANDLE;
  ASSERT_EQ(NIFOpenCollection(db, db, NOTE_ID_SPECIAL | NOTE_CLASS_DESIGN, 0, &collection),
            NOERROR);
  DHANDLE memory = NULLHANDLE;
  ASSERT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, 8, &memory), NOERROR);

  for (DWORD handle : {db, note, collection}) {
    EXPECT_EQ(OSLockObject(handle), nullptr) << std::hex << handle;
    EXPECT_EQ(OSMemFree(handle), ERR_HOST_BAD_HANDLE) << std::hex << handle;
  }
  EXPECT_NE(db, note);
  EXPECT_NE(note, collection);
  EXPECT_EQ(NSFDbClose(note), ERR_HOST_BAD_HANDLE);
  EXPECT_EQ(NSFDbClose(collection), ERR_HOST_BAD_HANDLE);
  EXPECT_EQ(NSFDbClose(memory), ERR_HOST_BAD_HANDLE);
  EXPECT_EQ(NSFNoteClose(db), ERR_HOST_BAD_HANDLE);
  EXPECT_EQ(NSFNoteClose(memory), ERR_HOST_BAD_HANDLE);
  EXPECT_EQ(NIFCloseCollection(note), ERR_HOST_BAD_HANDLE);
  EXPECT_EQ(NSFNoteCreate(note, &note), ERR_HOST_BAD_HANDLE);
  EXPECT_EQ(note, NULLHANDLE) << "a failed call clears the out handle";

  EXPECT_EQ(OSMemFree(memory), NOERROR);
  EXPECT_EQ(NIFCloseCollection(collection), NOERROR);
  EXPECT_EQ(NIFCloseCollection(collection), ERR_HOST_BAD_HANDLE);
  EXPECT_EQ(NSFDbClose(db), NOERROR);
}

TEST_F(DatabaseTest, StaleHandleIsNotTakenForItsSuccessor) {
  const DBHANDLE db = CreateAndOpen("mem:stale");
  NOTEHANDLE first = NULLHANDLE;
  ASSERT_EQ(NSFNoteCreate(db, &first), NOERROR);
  ASSERT_EQ(NSFNoteClose(first), NOERROR);
  for (int i = 0; i < 50; ++i) {
    NOTEHANDLE later = NULLHANDLE;
    ASSERT_EQ(NSFNoteCreate(db, &later), NOERROR);
    EXPECT_NE(later, first);
    EXPECT_EQ(NSFNoteClose(first), ERR_HOST_BAD_HANDLE);
    ASSERT_EQ(NSFNoteClose(later), NOERROR);
  }
  EXPECT_EQ(NSFDbClose(db), NOERROR);
}

TEST_F(DatabaseTest, AFullNoteTableRefusesFurtherNotesWithoutLosingTheirValues) {
  const DBHANDLE db = CreateAndOpen("mem:full");
  const NOTEID stored = StoreNote(db, "kept");
  NOTEHANDLE source = NULLHANDLE;
  ASSERT_EQ(NSFNoteOpen(db, stored, 0, &source), NOERROR);
  std::vector<NOTEHANDLE> open;
  for (STATUS status = NOERROR; status == NOERROR;) {
    NOTEHANDLE note = NULLHANDLE;
    status = NSFNoteCreate(db, &note);
    if (status == NOERROR)
      open.push_back(note);
    else
      EXPECT_EQ(status, ERR_MEMORY);
    ASSERT_LT(open.size(), 5000u);
  }
  EXPECT_EQ(open.size(), 4094u) << "4095 note handles, one taken by the source";
  const size_t live = HostTestLiveHandles();
  NOTEHANDLE copy = source;
  NOTEHANDLE reopened = source;
  EXPECT_EQ(NSFNoteCopy(source, &copy), ERR_MEMORY);
  EXPECT_EQ(NSFNoteOpen(db, stored, 0, &reopened), ERR_MEMORY);
  EXPECT_EQ(copy, NULLHANDLE);
  EXPECT_EQ(reopened, NULLHANDLE);
  EXPECT_EQ(HostTestLiveHandles(), live) << "the refused notes' item values are freed";
  for (NOTEHANDLE note : open)
    EXPECT_EQ(NSFNoteClose(note), NOERROR);
  EXPECT_EQ(NSFNoteCopy(source, &copy), NOERROR) << "a closed note gives its handle back";
  EXPECT_EQ(NSFNoteClose(copy), NOERROR);
  EXPECT_EQ(NSFNoteClose(source), NOERROR);
  EXPECT_EQ(NSFDbClose(db), NOERROR);
}

TEST_F(DatabaseTest, NotesOutliveTheirDatabaseHandle) {
  const DBHANDLE db = CreateAndOpen("outlive.nsf");
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(NSFNoteCreate(db, &note), NOERROR);
  ASSERT_EQ(NSFDbClose(db), NOERROR);
  ASSERT_EQ(NSFItemSetText(note, "Subject", "late", 4), NOERROR);
  EXPECT_EQ(NSFNoteUpdate(note, 0), NOERROR) << "the working copy keeps the storage";
  EXPECT_EQ(NSFNoteClose(note), NOERROR);
  DBHANDLE again = NULLHANDLE;
  ASSERT_EQ(NSFDbOpen("outlive.nsf", &again), NOERROR);
  EXPECT_EQ(SubjectOf(again, 0x100), "late");
  EXPECT_EQ(NSFDbClose(again), NOERROR);
}

TEST_F(DatabaseTest, PathNetConstruct) {
  HostTestSetEnvironment("ServerName", "Alpha/Acme");
  struct Case {
    const char* server;
    const char* file;
    STATUS status;
    const char* path;
  };
  const Case cases[] = {
      {nullptr, "names.nsf", NOERROR, "names.nsf"},
      {"", "mail/jo.nsf", NOERROR, "mail/jo.nsf"},
      {"Alpha/Acme", "names.nsf", NOERROR, "Alpha/Acme!!names.nsf"},
      {"ALPHA/acme", "names.nsf", NOERROR, "ALPHA/acme!!names.nsf"},
      {"Beta/Acme", "names.nsf", ERR_HOST_SERVER_NOT_LOCAL, ""},
  };
  for (const Case& c : cases) {
    char path[MAXPATH] = "junk";
    EXPECT_EQ(OSPathNetConstruct(nullptr, c.server, c.file, path), c.status) << c.file;
    EXPECT_STREQ(path, c.path);
  }
  const std::string longName(MAXPATH - 5, 'n');
  char path[MAXPATH];
  EXPECT_EQ(OSPathNetConstruct("TCPIP", "Alpha/Acme", longName.c_str(), path),
            ERR_HOST_BUFFER_TOO_SMALL);
  EXPECT_EQ(OSPathNetConstruct(nullptr, "", nullptr, path), ERR_HOST_BAD_ARGUMENT);

  HostTestSetEnvironment("ServerName", nullptr);
  EXPECT_EQ(OSPathNetConstruct(nullptr, "Alpha/Acme", "names.nsf", path), ERR_HOST_SERVER_NOT_LOCAL)
      << "without the setting only the empty name is local";
}

TEST_F(DatabaseTest, StatusTextsOfTheNewCodes) {
  struct Case {
    STATUS status;
    const char* text;
  };
  const Case cases[] = {{ERR_HOST_DB_IN_USE, "Database is in use"},
                        {ERR_HOST_UNID_EXISTS, "Another note has this universal ID"},
                        {ERR_HOST_STORAGE, "Database storage error"}};
  for (const Case& c : cases) {
    char text[128];
    OSLoadString(NULLHANDLE, c.status, text, sizeof text);
    EXPECT_STREQ(text, c.text);
  }
}

} // namespace
