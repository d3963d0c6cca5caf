// Host databases of the stand-in: create and open ("mem:" and files under
// the data directory), paths, persistence, the SQLite schema, note IDs and
// UNIDs, network paths, handles that cannot be mistaken for one another,
// and the reset of "mem:" databases.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "host/nif.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osenv.h"
#include "host/osmem.h"
#include "host/status.h"
#include "tests/support/test_fixture.h"
#include "tests/support/note_fixture.h"

namespace {

class DatabaseTest : public host_test::HostFixture {
protected:
  void SetUp() override {
    HostFixture::SetUp();
    directory_ = file_testing::MakeDataDirectory("velko-db");
    ASSERT_FALSE(directory_.empty());
  }
  void TearDown() override {
    HostTestReset(); // closes what a test left open
    HostFixture::TearDown();
    std::filesystem::remove_all(directory_);
  }

  static DBHANDLE CreateAndOpen(const char* path) {
    DBHANDLE db = NULLHANDLE;
    EXPECT_EQ(note_testing::CreateDatabase(path, &db), NOERROR) << path;
    return db;
  }

  // Stores a new note with one text item and returns its note ID.
  static NOTEID StoreNote(DBHANDLE db, const char* text) {
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteCreate(db, &note), NOERROR);
    EXPECT_EQ(NSFItemSetText(note, "Subject", text, static_cast<WORD>(std::strlen(text))), NOERROR);
    EXPECT_EQ(NSFNoteUpdate(note, 0), NOERROR);
    NOTEID id = 0;
    NSFNoteGetInfo(note, _NOTE_ID, &id);
    EXPECT_EQ(NSFNoteClose(note), NOERROR);
    return id;
  }

  static std::string SubjectOf(DBHANDLE db, NOTEID id) {
    NOTEHANDLE note = NULLHANDLE;
    if (NSFNoteOpen(db, id, 0, &note) != NOERROR)
      return "<not found>";
    char text[256];
    NSFItemGetText(note, "Subject", text, sizeof text);
    NSFNoteClose(note);
    return text;
  }

  std::string directory_;
};

TEST_F(DatabaseTest, FileDatabaseKeepsNotesIDsAndReplicaIDAcrossReopen) {
  DBHANDLE db = CreateAndOpen("persist.nsf");
  char canonical[MAXPATH];
  char expanded[MAXPATH];
  ASSERT_EQ(NSFDbPathGet(db, canonical, expanded), NOERROR);
  EXPECT_STREQ(canonical, "persist.nsf");
  EXPECT_EQ(std::string(expanded), directory_ + "/persist.nsf");
  EXPECT_EQ(NSFDbPathGet(db, nullptr, nullptr), NOERROR) << "either buffer may be null";
  DBREPLICAINFO before;
  ASSERT_EQ(NSFDbReplicaInfoGet(db, &before), NOERROR);
  EXPECT_NE(before.ID.Innards[0] & before.ID.Innards[1], 0u);
  EXPECT_EQ(NSFDbReplicaInfoGet(db, nullptr), ERR_HOST_BAD_ARGUMENT);
  std::vector<NOTEID> ids;
  for (const char* text : {"a", "b", "c"})
    ids.push_back(StoreNote(db, text));
  EXPECT_EQ(ids, (std::vector<NOTEID>{0x100, 0x104, 0x108}));
  ASSERT_EQ(NSFNoteDelete(db, 0x108, 0), NOERROR);
  EXPECT_EQ(NSFNoteDelete(db, 0x108, 0), ERR_HOST_NOTE_NOT_FOUND);
  EXPECT_EQ(NSFDbGetNoteInfo(db, 0x108, nullptr, nullptr, nullptr), ERR_HOST_NOTE_NOT_FOUND);
  EXPECT_EQ(StoreNote(db, "d"), 0x10Cu) << "the deleted note's ID is not handed out again";
  ASSERT_EQ(NSFDbClose(db), NOERROR);
  EXPECT_EQ(NSFDbClose(db), ERR_HOST_BAD_HANDLE);
  EXPECT_EQ(NSFDbPathGet(db, canonical, expanded), ERR_HOST_BAD_HANDLE);
  HostTestReset(); // drops every connection; files stay
  HostTestSetDataDirectory(directory_.c_str());

  ASSERT_EQ(NSFDbOpen((directory_ + "/persist.nsf").c_str(), &db), NOERROR)
      << "an absolute path is used as it is";
  EXPECT_EQ(SubjectOf(db, 0x104), "b");
  DBREPLICAINFO after;
  ASSERT_EQ(NSFDbReplicaInfoGet(db, &after), NOERROR);
  EXPECT_EQ(std::memcmp(&before.ID, &after.ID, sizeof before.ID), 0);
  EXPECT_EQ(StoreNote(db, "e"), 0x110u) << "the note ID counter is stored too";
  ASSERT_EQ(NSFDbReplicaInfoGet(CreateAndOpen("mem:other"), &after), NOERROR);
  EXPECT_NE(std::memcmp(&before.ID, &after.ID, sizeof after.ID), 0) << "replica IDs differ";
}

TEST_F(DatabaseTest, CreateRefusesAnExistingDatabaseUnlessForced) {
  for (const char* path : {"twice.nsf", "mem:twice"}) {
    DBHANDLE db = CreateAndOpen(path);
    EXPECT_EQ(NSFDbCreate(path, DBCLASS_NOTEFILE, FALSE), ERR_HOST_DB_EXISTS) << path;
    const NOTEID id = StoreNote(db, "old");
    EXPECT_EQ(NSFDbCreate(path, DBCLASS_NOTEFILE, TRUE), ERR_HOST_DB_IN_USE) << path;
    EXPECT_EQ(SubjectOf(db, id), "old") << "a refused replacement leaves the database";
    ASSERT_EQ(NSFDbClose(db), NOERROR);
    EXPECT_EQ(NSFDbCreate(path, DBCLASS_NOTEFILE, TRUE), NOERROR) << path;
    ASSERT_EQ(NSFDbOpen(path, &db), NOERROR);
    EXPECT_EQ(SubjectOf(db, id), "<not found>") << "the forced create starts empty";
    EXPECT_EQ(NSFDbClose(db), NOERROR);
  }
}

TEST_F(DatabaseTest, OpenFailures) {
  const std::string tooLong(MAXPATH, 'x');
  std::ofstream(directory_ + "/plain.txt") << "this is not a database, just some text\n";
  const struct {
    const char* path;
    STATUS status;
  } cases[] = {
      {"missing.nsf", ERR_HOST_DB_NOT_FOUND},   {"mem:missing", ERR_HOST_DB_NOT_FOUND},
      {"mem:", ERR_HOST_BAD_ARGUMENT},          {"", ERR_HOST_BAD_ARGUMENT},
      {"!!", ERR_HOST_BAD_ARGUMENT},            {tooLong.c_str(), ERR_HOST_BAD_ARGUMENT},
      {"plain.txt", ERR_HOST_STORAGE},          {nullptr, ERR_HOST_BAD_ARGUMENT},
      {"Remote/Acme!!names.nsf", ERR_HOST_SERVER_NOT_LOCAL},
  };
  for (const auto& c : cases) {
    DBHANDLE db = 0x1234;
    EXPECT_EQ(NSFDbOpen(c.path, &db), c.status) << (c.path ? c.path : "(null)");
    EXPECT_EQ(db, NULLHANDLE);
  }
  EXPECT_EQ(NSFDbOpen("mem:x", nullptr), ERR_HOST_BAD_ARGUMENT);
}

TEST_F(DatabaseTest, LocalServerPathsOpenTheSameDatabase) {
  HostTestSetEnvironment("ServerName", "Alpha/Acme");
  const NOTEID id = StoreNote(CreateAndOpen("local.nsf"), "shared");
  for (const char* path : {"!!local.nsf", "alpha/acme!!local.nsf"}) {
    DBHANDLE db = NULLHANDLE;
    ASSERT_EQ(NSFDbOpen(path, &db), NOERROR) << path;
    EXPECT_EQ(SubjectOf(db, id), "shared") << path;
    char canonical[MAXPATH];
    NSFDbPathGet(db, canonical, nullptr);
    EXPECT_STREQ(canonical, "local.nsf") << "the server part is dropped";
  }
  DBHANDLE db = NULLHANDLE;
  EXPECT_EQ(NSFDbOpen("Beta/Acme!!local.nsf", &db), ERR_HOST_SERVER_NOT_LOCAL);

  const std::string longName(MAXPATH - 5, 'n');
  const struct {
    const char* server;
    const char* file;
    STATUS status;
    const char* path;
  } cases[] = {
      {nullptr, "names.nsf", NOERROR, "names.nsf"},
      {"ALPHA/acme", "names.nsf", NOERROR, "ALPHA/acme!!names.nsf"},
      {"Beta/Acme", "names.nsf", ERR_HOST_SERVER_NOT_LOCAL, ""},
      {"", nullptr, ERR_HOST_BAD_ARGUMENT, "junk"},
      {"Alpha/Acme", longName.c_str(), ERR_HOST_BUFFER_TOO_SMALL, ""},
  };
  for (const auto& c : cases) {
    char path[MAXPATH] = "junk";
    EXPECT_EQ(OSPathNetConstruct("TCPIP", c.server, c.file, path), c.status) << c.server;
    EXPECT_STREQ(path, c.path);
  }
  HostTestSetEnvironment("ServerName", nullptr);
  char path[MAXPATH];
  EXPECT_EQ(OSPathNetConstruct(nullptr, "Alpha/Acme", "names.nsf", path), ERR_HOST_SERVER_NOT_LOCAL)
      << "without the setting only the empty name is local";
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
  EXPECT_EQ(single("SELECT count(*) FROM items"), "1") << "a deleted note's items go with it";
  EXPECT_EQ(single("SELECT \"table\", on_delete FROM pragma_foreign_key_list('items')"),
            "notes|CASCADE");
  EXPECT_EQ(single("SELECT note_id, class, sequence FROM notes"), std::to_string(id) + "|1|1");
  EXPECT_EQ(single("SELECT position, name, name_key, type, flags, hex(value) FROM items"),
            "0|Subject|subject|1280|4|000548656C6C6F");
  sqlite3_close(raw);
}

TEST_F(DatabaseTest, NotesOutliveTheirDatabaseHandleButNotTheirDeletion) {
  const DBHANDLE db = CreateAndOpen("outlive.nsf");
  const NOTEID id = StoreNote(db, "x");
  NOTEHANDLE deleted = NULLHANDLE;
  ASSERT_EQ(NSFNoteOpen(db, id, 0, &deleted), NOERROR);
  ASSERT_EQ(NSFNoteDelete(db, id, 0), NOERROR);
  EXPECT_EQ(NSFNoteUpdate(deleted, 0), ERR_HOST_NOTE_NOT_FOUND);
  EXPECT_EQ(SubjectOf(db, id), "<not found>") << "the update did not bring it back";
  EXPECT_EQ(NSFNoteClose(deleted), NOERROR);
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(NSFNoteCreate(db, &note), NOERROR);
  ASSERT_EQ(NSFDbClose(db), NOERROR);
  ASSERT_EQ(NSFItemSetText(note, "Subject", "late", 4), NOERROR);
  EXPECT_EQ(NSFNoteUpdate(note, 0), NOERROR) << "the working copy keeps the storage";
  EXPECT_EQ(NSFNoteClose(note), NOERROR);
  DBHANDLE again = NULLHANDLE;
  ASSERT_EQ(NSFDbOpen("outlive.nsf", &again), NOERROR);
  EXPECT_EQ(SubjectOf(again, 0x104), "late");
}

TEST_F(DatabaseTest, UnidsAndOriginatorIDs) {
  const TIMEDATE midnight = {{0, 2461000}};
  HostTestSetClock(&midnight); // the clock's first word is 0
  const DBHANDLE db = CreateAndOpen("mem:unids");
  std::set<std::string> seen;
  for (int i = 0; i < 20; ++i) {
    ORIGINATORID oid;
    ASSERT_EQ(NSFDbGenerateOID(db, &oid), NOERROR);
    EXPECT_EQ(oid.Sequence, 0u);
    for (DWORD word : {oid.File[0], oid.File[1], oid.Note.Innards[0], oid.Note.Innards[1]})
      EXPECT_NE(word, 0u) << "no word of a UNID is 0";
    seen.emplace(reinterpret_cast<const char*>(&oid), sizeof(UNID));
  }
  EXPECT_EQ(seen.size(), 20u) << "UNIDs differ under a fixed clock";

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
  EXPECT_EQ(std::string(canonical) + " " + expanded, "mem:shared mem:shared");
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(NSFNoteOpen(second, id, 0, &note), NOERROR);
  HostTestReset();
  EXPECT_EQ(NSFDbClose(second), ERR_HOST_BAD_HANDLE) << "handles of a reset database are bad";
  EXPECT_EQ(NSFNoteUpdate(note, 0), ERR_HOST_BAD_HANDLE);
  EXPECT_EQ(NSFDbOpen("mem:shared", &second), ERR_HOST_DB_NOT_FOUND);
}

TEST_F(DatabaseTest, HandlesOfOneKindOrOfAClosedNoteAreRefused) {
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
  for (DWORD handle : {note, collection, memory})
    EXPECT_EQ(NSFDbClose(handle), ERR_HOST_BAD_HANDLE) << std::hex << handle;
  for (DWORD handle : {db, memory})
    EXPECT_EQ(NSFNoteClose(handle), ERR_HOST_BAD_HANDLE) << std::hex << handle;
  EXPECT_EQ(NIFCloseCollection(note), ERR_HOST_BAD_HANDLE);
  NOTEHANDLE refused = 0x77;
  EXPECT_EQ(NSFNoteCreate(note, &refused), ERR_HOST_BAD_HANDLE);
  EXPECT_EQ(refused, NULLHANDLE) << "a failed call clears the out handle";
  EXPECT_EQ(OSMemFree(memory), NOERROR);
  EXPECT_EQ(NIFCloseCollection(collection), NOERROR);

  ASSERT_EQ(NSFNoteClose(note), NOERROR);
  for (int i = 0; i < 50; ++i) {
    NOTEHANDLE later = NULLHANDLE;
    ASSERT_EQ(NSFNoteCreate(db, &later), NOERROR);
    EXPECT_NE(later, note) << "a stale handle is not taken for its successor";
    EXPECT_EQ(NSFNoteClose(note), ERR_HOST_BAD_HANDLE);
    ASSERT_EQ(NSFNoteClose(later), NOERROR);
  }
}

TEST_F(DatabaseTest, AFullNoteTableRefusesFurtherNotesWithoutLosingTheirValues) {
  const DBHANDLE db = CreateAndOpen("mem:full");
  const NOTEID stored = StoreNote(db, "kept");
  NOTEHANDLE source = NULLHANDLE;
  ASSERT_EQ(NSFNoteOpen(db, stored, 0, &source), NOERROR);
  std::vector<NOTEHANDLE> open;
  for (STATUS status = NOERROR; status == NOERROR && open.size() < 5000;) {
    NOTEHANDLE note = NULLHANDLE;
    status = NSFNoteCreate(db, &note);
    if (status == NOERROR)
      open.push_back(note);
    else
      EXPECT_EQ(status, ERR_MEMORY);
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
}

// Each query's statement is kept prepared by its connection and reused:
// reads and writes repeated many times see their own bindings, a note
// stored between reads is seen, and closing the database finalizes every
// kept statement, so the connection closes at once (a statement left
// prepared would keep it open) and the file opens again with all notes.
TEST_F(DatabaseTest, RepeatedQueriesReuseStatementsAndLeaveNoneAtClose) {
  const size_t live = HostTestLiveHandles();
  const size_t busy = HostTestBusyCloses();
  DBHANDLE db = CreateAndOpen("reuse.nsf");
  std::vector<NOTEID> ids;
  for (int round = 0; round < 50; ++round) {
    const std::string text = "note " + std::to_string(round);
    ids.push_back(StoreNote(db, text.c_str()));
    ASSERT_EQ(ids.back(), static_cast<NOTEID>(0x100 + 4 * round)) << "the ID counter is bumped";
    for (int reopen = 0; reopen < 4; ++reopen)
      ASSERT_EQ(SubjectOf(db, ids[static_cast<size_t>(round * reopen / 4)]),
                "note " + std::to_string(round * reopen / 4));
  }
  EXPECT_EQ(SubjectOf(db, 0x99), "<not found>") << "a missing note after reused reads";
  EXPECT_EQ(SubjectOf(db, ids.back()), "note 49") << "and a found one after the missing one";
  ASSERT_EQ(NSFDbClose(db), NOERROR);
  EXPECT_EQ(HostTestBusyCloses(), busy) << "a statement was left prepared on the closed connection";
  EXPECT_EQ(HostTestLiveHandles(), live);

  ASSERT_EQ(NSFDbOpen("reuse.nsf", &db), NOERROR);
  EXPECT_EQ(SubjectOf(db, ids[17]), "note 17");
  ASSERT_EQ(NSFDbClose(db), NOERROR);
  DBHANDLE memory = CreateAndOpen("mem:reuse");
  EXPECT_EQ(SubjectOf(memory, StoreNote(memory, "kept")), "kept");
  ASSERT_EQ(NSFDbClose(memory), NOERROR);
  HostTestReset(); // drops the "mem:" database and its connection
  EXPECT_EQ(HostTestBusyCloses(), busy);
  HostTestSetDataDirectory(directory_.c_str());
}

} // namespace
