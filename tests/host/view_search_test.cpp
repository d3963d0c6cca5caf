// Views, searches and ID tables of the stand-in: view order by text and
// number keys in both directions, category entries, keyed finds, reads in
// batches with their signal and position, database searches by class with
// the match flag and a stopping callback, ID tables as ordered sets, and
// the placeholder item; views built again after their documents change.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "host/formula.h"
#include "host/idtable.h"
#include "host/nif.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/nsfsearch.h"
#include "host/osmem.h"
#include "host/status.h"
#include "host/timedate.h"
#include "tests/support/note_fixture.h"
#include "tests/support/test_fixture.h"

namespace {

constexpr NOTEID kCategory = NOTEID_CATEGORY;

class ViewSearchTest : public host_test::HostFixture {
protected:
  void SetUp() override {
    HostFixture::SetUp();
    ASSERT_EQ(note_testing::CreateDatabase("mem:views", &db_), NOERROR);
  }
  void TearDown() override {
    EXPECT_EQ(NSFDbClose(db_), NOERROR);
    HostFixture::TearDown();
  }

  // Stores a document with a text "Subject" and, when rank is not
  // negative, a number "Rank"; its note ID.
  NOTEID StoreDocument(const char* subject, double rank = -1, WORD noteClass = NOTE_CLASS_DOCUMENT) {
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteCreate(db_, &note), NOERROR);
    NSFNoteSetInfo(note, _NOTE_CLASS, &noteClass);
    if (subject != nullptr) {
      EXPECT_EQ(NSFItemSetText(note, "Subject", subject, note_testing::NameLength(subject)),
                NOERROR);
    }
    if (rank >= 0) {
      EXPECT_EQ(NSFItemAppend(note, 0, "Rank", 4, TYPE_NUMBER, &rank, sizeof rank), NOERROR);
    }
    EXPECT_EQ(NSFNoteUpdate(note, 0), NOERROR);
    NOTEID id = 0;
    NSFNoteGetInfo(note, _NOTE_ID, &id);
    EXPECT_EQ(NSFNoteClose(note), NOERROR);
    return id;
  }

  // Every entry of the collection, read from the first in batches as a
  // caller does; the signal flags of each batch go to *signals.
  static std::vector<NOTEID> ReadAll(HCOLLECTION collection, std::vector<WORD>* signals) {
    std::vector<NOTEID> ids;
    COLLECTIONPOSITION position{};
    position.Tumbler[0] = 1;
    WORD signal = 0;
    bool first = true;
    do {
      DHANDLE buffer = NULLHANDLE;
      DWORD returned = 0;
      WORD length = 0;
      EXPECT_EQ(NIFReadEntries(collection, &position, NAVIGATE_NEXT, first ? 0 : 1, NAVIGATE_NEXT,
                               MAXDWORD_ENTRIES, READ_MASK_NOTEID, &buffer, &length, nullptr,
                               &returned, &signal),
                NOERROR);
      EXPECT_EQ(length, returned * sizeof(NOTEID));
      if (buffer != NULLHANDLE) {
        const auto* batch = static_cast<const NOTEID*>(OSLockObject(buffer));
        ids.insert(ids.end(), batch, batch + returned);
        OSUnlockObject(buffer);
        EXPECT_EQ(OSMemFree(buffer), NOERROR);
      }
      signals->push_back(signal);
      first = false;
    } while ((signal & SIGNAL_MORE_TO_DO) && signals->size() < 100);
    return ids;
  }

  std::vector<NOTEID> ViewEntries(const char* sortKey, WORD keyFlags,
                                  std::vector<WORD>* signals) {
    NOTEID view = 0;
    EXPECT_EQ(HostTestCreateView(db_, "Ordered", nullptr, sortKey, keyFlags, &view), NOERROR);
    HCOLLECTION collection = NULLHANDLE;
    EXPECT_EQ(NIFOpenCollection(db_, db_, view, 0, &collection), NOERROR);
    std::vector<NOTEID> ids = ReadAll(collection, signals);
    EXPECT_EQ(NIFCloseCollection(collection), NOERROR);
    return ids;
  }

  DBHANDLE db_ = NULLHANDLE;
};

TEST_F(ViewSearchTest, ViewsOrderDocumentsByKeyThenNoteIdAndMarkCategories) {
  const NOTEID pear = StoreDocument("pear", 10);
  const NOTEID apple = StoreDocument("Apple", 9);
  const NOTEID form = StoreDocument("apple", -1, NOTE_CLASS_FORM); // never listed
  const NOTEID apple2 = StoreDocument("apple", 100);
  const NOTEID none = StoreDocument(nullptr, 10);
  const NOTEID banana = StoreDocument("banana", 2.5);
  const NOTEID kiwi = StoreDocument("kiwi");
  ASSERT_NE(form, 0u);
  const NOTEID c1 = kCategory | 1, c2 = kCategory | 2, c3 = kCategory | 3, c4 = kCategory | 4,
               c5 = kCategory | 5;

  struct Case {
    const char* name;
    const char* key;
    WORD flags;
    std::vector<NOTEID> expected;
  } cases[] = {
      {"no key: note-ID order", nullptr, 0, {pear, apple, apple2, none, banana, kiwi}},
      {"text key, case ignored, ties by ID, no key as empty", "Subject", 0,
       {none, apple, apple2, banana, kiwi, pear}},
      {"descending, ties still by ID", "Subject", VIEW_KEY_DESCENDING,
       {pear, kiwi, banana, apple, apple2, none}},
      {"numbers numerically and before texts", "Rank", 0,
       {banana, apple, pear, none, apple2, kiwi}},
      {"numbers descending", "Rank", VIEW_KEY_DESCENDING,
       {kiwi, apple2, pear, none, apple, banana}},
      {"categories before each key", "Subject", VIEW_KEY_CATEGORIZED,
       {c1, none, c2, apple, apple2, c3, banana, c4, kiwi, c5, pear}},
      {"categories of a descending view", "Rank", VIEW_KEY_CATEGORIZED | VIEW_KEY_DESCENDING,
       {c1, kiwi, c2, apple2, c3, pear, none, c4, apple, c5, banana}},
  };
  for (const Case& test : cases) {
    std::vector<WORD> signals;
    EXPECT_EQ(ViewEntries(test.key, test.flags, &signals), test.expected) << test.name;
    EXPECT_EQ(signals, std::vector<WORD>{0}) << test.name;
  }
}

TEST_F(ViewSearchTest, BatchesSignalWhileEntriesAskedForRemainAndKeepThePosition) {
  std::vector<NOTEID> stored;
  for (const char* subject : {"e", "d", "c", "b", "a"})
    stored.push_back(StoreDocument(subject));
  const std::vector<NOTEID> ascending(stored.rbegin(), stored.rend());

  struct Case {
    DWORD limit;
    std::vector<WORD> signals;
  } cases[] = {
      {2, {SIGNAL_MORE_TO_DO, SIGNAL_MORE_TO_DO, 0}},
      {4, {SIGNAL_MORE_TO_DO, 0}},
      {5, {0}}, // the last entry returned: nothing remains
      {0, {0}},
  };
  for (const Case& test : cases) {
    HostTestSetReadEntriesLimit(test.limit);
    std::vector<WORD> signals;
    EXPECT_EQ(ViewEntries("Subject", 0, &signals), ascending) << test.limit;
    EXPECT_EQ(signals, test.signals) << test.limit;
  }

  // A read that asks for exactly what the batch holds does not signal, and
  // leaves the position at the last entry it returned.
  HostTestSetReadEntriesLimit(2);
  NOTEID view = 0;
  ASSERT_EQ(HostTestCreateView(db_, "Plain", nullptr, "Subject", 0, &view), NOERROR);
  HCOLLECTION collection = NULLHANDLE;
  ASSERT_EQ(NIFOpenCollection(db_, NULLHANDLE, view, 0, &collection), NOERROR);
  COLLECTIONPOSITION position{};
  position.Tumbler[0] = 2;
  DHANDLE buffer = NULLHANDLE;
  DWORD returned = 0, skipped = 0;
  WORD signal = 0xFFFF;
  ASSERT_EQ(NIFReadEntries(collection, &position, NAVIGATE_NEXT, 1, NAVIGATE_NEXT, 2,
                           READ_MASK_NOTEID, &buffer, nullptr, &skipped, &returned, &signal),
            NOERROR);
  EXPECT_EQ(skipped, 1u);
  EXPECT_EQ(returned, 2u);
  EXPECT_EQ(signal, 0);
  EXPECT_EQ(position.Tumbler[0], 4u);
  const auto* ids = static_cast<const NOTEID*>(OSLockObject(buffer));
  EXPECT_EQ(std::vector<NOTEID>(ids, ids + 2), std::vector<NOTEID>(&ascending[2], &ascending[4]));
  OSUnlockObject(buffer);
  EXPECT_EQ(OSMemFree(buffer), NOERROR);

  // Past the end: nothing, no buffer, no signal.
  position.Tumbler[0] = 5;
  ASSERT_EQ(NIFReadEntries(collection, &position, NAVIGATE_NEXT, 1, NAVIGATE_NEXT, 3,
                           READ_MASK_NOTEID, &buffer, nullptr, nullptr, &returned, &signal),
            NOERROR);
  EXPECT_EQ(buffer, NULLHANDLE);
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(signal, 0);

  // Only the next-entry navigator and note IDs are served.
  EXPECT_EQ(NIFReadEntries(collection, &position, 2, 1, NAVIGATE_NEXT, 3, READ_MASK_NOTEID,
                           &buffer, nullptr, nullptr, &returned, &signal),
            ERR_HOST_NOT_SUPPORTED);
  EXPECT_EQ(NIFReadEntries(collection, &position, NAVIGATE_NEXT, 1, NAVIGATE_NEXT, 3, 0x10,
                           &buffer, nullptr, nullptr, &returned, &signal),
            ERR_HOST_NOT_SUPPORTED);
  EXPECT_EQ(NIFCloseCollection(collection), NOERROR);
}

TEST_F(ViewSearchTest, FindByNameGivesTheFirstDocumentOfTheKeyInAnyCaseAndItsCount) {
  for (const auto& [subject, rank] : {std::pair<const char*, double>{"Berry", 3}, {"apple", 2},
                                      {"berry", 3}, {"BERRY", 3}, {"cherry", 1}})
    StoreDocument(subject, rank);

  struct Case {
    const char* key;
    WORD flags;
    const char* name;
    STATUS status;
    DWORD entry; // from 1
    DWORD matches;
  } cases[] = {
      {"Subject", 0, "bERRy", NOERROR, 2, 3},
      {"Subject", VIEW_KEY_CATEGORIZED, "berry", NOERROR, 4, 3}, // past two categories
      {"Subject", VIEW_KEY_DESCENDING, "Cherry", NOERROR, 1, 1},
      {"Subject", 0, "berr", ERR_NOT_FOUND, 0, 0},
      {"Subject", 0, "", ERR_NOT_FOUND, 0, 0},
      {"Rank", 0, "3", NOERROR, 3, 3},
      {"Rank", 0, "3x", ERR_NOT_FOUND, 0, 0},
  };
  for (const Case& test : cases) {
    NOTEID view = 0;
    ASSERT_EQ(HostTestCreateView(db_, "Find", nullptr, test.key, test.flags, &view), NOERROR);
    HCOLLECTION collection = NULLHANDLE;
    ASSERT_EQ(NIFOpenCollection(db_, db_, view, 0, &collection), NOERROR);
    COLLECTIONPOSITION position{};
    DWORD matches = 0;
    EXPECT_EQ(NIFFindByName(collection, test.name, FIND_CASE_INSENSITIVE, &position, &matches),
              test.status)
        << test.name;
    EXPECT_EQ(position.Tumbler[0], test.entry) << test.name;
    EXPECT_EQ(matches, test.matches) << test.name;
    EXPECT_EQ(NIFFindByName(collection, test.name, 0, &position, &matches),
              ERR_HOST_NOT_SUPPORTED);
    EXPECT_EQ(NIFCloseCollection(collection), NOERROR);
  }
}

TEST_F(ViewSearchTest, CollectionsFollowUpdatesAndRefuseWhatIsNotAView) {
  const NOTEID first = StoreDocument("b");
  NOTEID view = 0;
  ASSERT_EQ(HostTestCreateView(db_, "Later|Alias", nullptr, "Subject", 0, &view), NOERROR);
  NOTEID found = 0;
  EXPECT_EQ(NIFFindDesignNote(db_, "alias", NOTE_CLASS_VIEW, &found), NOERROR);
  EXPECT_EQ(found, view);

  HCOLLECTION collection = NULLHANDLE;
  ASSERT_EQ(NIFOpenCollection(db_, db_, view, 0, &collection), NOERROR);
  const NOTEID second = StoreDocument("a");
  std::vector<WORD> signals;
  EXPECT_EQ(ReadAll(collection, &signals), std::vector<NOTEID>{first});
  EXPECT_EQ(NIFUpdateCollection(collection), NOERROR);
  EXPECT_EQ(ReadAll(collection, &signals), (std::vector<NOTEID>{second, first}));
  EXPECT_EQ(NIFCloseCollection(collection), NOERROR);
  EXPECT_EQ(NIFUpdateCollection(collection), ERR_HOST_BAD_HANDLE);

  for (const NOTEID notView : {first, NOTEID{0x7FFC}}) {
    EXPECT_EQ(NIFOpenCollection(db_, db_, notView, 0, &collection), ERR_HOST_COLLECTION);
    EXPECT_EQ(collection, NULLHANDLE);
  }
}

// Search callback: records each note and its flags; stops with the status
// at the note given.
struct SearchLog {
  std::vector<NOTEID> ids;
  std::vector<BYTE> flags;
  std::vector<WORD> classes;
  NOTEID stopAt = 0;
  STATUS stopWith = NOERROR;
};

STATUS RecordMatch(void* parameter, SEARCH_MATCH* match, ITEM_TABLE* summary) {
  auto* log = static_cast<SearchLog*>(parameter);
  EXPECT_EQ(summary, nullptr);
  log->ids.push_back(match->NoteID);
  log->flags.push_back(match->SERetFlags);
  log->classes.push_back(match->NoteClass);
  return match->NoteID == log->stopAt ? log->stopWith : NOERROR;
}

TEST_F(ViewSearchTest, SearchWalksTheClassMaskInNoteIdOrderAndStopsOnTheCallbackStatus) {
  const NOTEID d1 = StoreDocument("x");
  const NOTEID form = StoreDocument("f", -1, NOTE_CLASS_FORM);
  NOTEID view = 0;
  ASSERT_EQ(HostTestCreateView(db_, "V", nullptr, nullptr, 0, &view), NOERROR);
  const NOTEID d2 = StoreDocument("y");

  FORMULAHANDLE all = NULLHANDLE;
  ASSERT_EQ(NSFFormulaCompile(nullptr, 0, " select @ALL ", 0, &all, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr),
            NOERROR);
  struct Case {
    const char* name;
    WORD mask;
    FORMULAHANDLE formula;
    NOTEID stopAt;
    STATUS stopWith;
    std::vector<NOTEID> ids;
    std::vector<WORD> classes;
  } cases[] = {
      {"documents", NOTE_CLASS_DOCUMENT, NULLHANDLE, 0, NOERROR, {d1, d2}, {1, 1}},
      {"documents and views", NOTE_CLASS_DOCUMENT | NOTE_CLASS_VIEW, NULLHANDLE, 0, NOERROR,
       {d1, view, d2}, {1, 8, 1}},
      {"every class", NOTE_CLASS_ALL, all, 0, NOERROR, {d1, form, view, d2}, {1, 4, 8, 1}},
      {"stopped", NOTE_CLASS_ALL, all, form, 1028, {d1, form}, {1, 4}},
  };
  for (const Case& test : cases) {
    SearchLog log;
    log.stopAt = test.stopAt;
    log.stopWith = test.stopWith;
    EXPECT_EQ(NSFSearch(db_, test.formula, nullptr, 0, test.mask, nullptr, RecordMatch, &log,
                        nullptr),
              test.stopWith)
        << test.name;
    EXPECT_EQ(log.ids, test.ids) << test.name;
    EXPECT_EQ(log.classes, test.classes) << test.name;
    EXPECT_EQ(log.flags, std::vector<BYTE>(test.ids.size(), SE_FMATCH)) << test.name;
  }
  EXPECT_EQ(OSMemFree(all), NOERROR);

  // A note the callback deletes before its turn is passed over.
  struct Deleting {
    DBHANDLE db;
    NOTEID victim;
    std::vector<NOTEID> met;
  } deleting{db_, d2, {}};
  EXPECT_EQ(NSFSearch(db_, NULLHANDLE, nullptr, 0, NOTE_CLASS_ALL, nullptr,
                      [](void* parameter, SEARCH_MATCH* match, ITEM_TABLE*) -> STATUS {
                        auto* state = static_cast<Deleting*>(parameter);
                        state->met.push_back(match->NoteID);
                        return state->met.size() == 1 ? NSFNoteDelete(state->db, state->victim, 0)
                                                      : NOERROR;
                      },
                      &deleting, nullptr),
            NOERROR);
  EXPECT_EQ(deleting.met, (std::vector<NOTEID>{d1, form, view}));
  EXPECT_EQ(NSFSearch(0x7777, NULLHANDLE, nullptr, 0, 1, nullptr, RecordMatch, nullptr, nullptr),
            ERR_HOST_BAD_HANDLE);
}

std::vector<NOTEID> ScanAll(DHANDLE table) {
  std::vector<NOTEID> ids;
  NOTEID id = 0;
  for (BOOL first = TRUE; IDScan(table, first, &id); first = FALSE)
    ids.push_back(id);
  return ids;
}

TEST_F(ViewSearchTest, IdTablesAreOrderedSetsThatGrowAndAreFreedAsMemory) {
  DHANDLE table = NULLHANDLE;
  ASSERT_EQ(IDCreateTable(4, &table), NOERROR);
  EXPECT_EQ(IDEntries(table), 0u);
  EXPECT_EQ(ScanAll(table), std::vector<NOTEID>{});

  // Inserted in falling order with repeats, past the first block's room.
  std::vector<NOTEID> expected;
  for (NOTEID id = 4; id <= 1000; id += 4)
    expected.push_back(id);
  for (NOTEID id = 1000; id >= 4; id -= 4) {
    BOOL inserted = FALSE;
    ASSERT_EQ(IDInsert(table, id, &inserted), NOERROR);
    EXPECT_TRUE(inserted);
    ASSERT_EQ(IDInsert(table, id, &inserted), NOERROR);
    EXPECT_FALSE(inserted);
  }
  EXPECT_EQ(IDEntries(table), expected.size());
  EXPECT_EQ(ScanAll(table), expected);

  // A scan goes on from where it stopped until it starts again.
  NOTEID id = 0;
  EXPECT_TRUE(IDScan(table, TRUE, &id));
  EXPECT_TRUE(IDScan(table, FALSE, &id));
  EXPECT_EQ(id, 8u);
  EXPECT_TRUE(IDScan(table, TRUE, &id));
  EXPECT_EQ(id, 4u);

  // A growth that finds no memory leaves the table as it was.
  DHANDLE small = NULLHANDLE;
  ASSERT_EQ(IDCreateTable(4, &small), NOERROR);
  for (NOTEID n = 1; n <= 64; ++n)
    ASSERT_EQ(IDInsert(small, n * 4, nullptr), NOERROR);
  HostTestFailAllocation(1);
  EXPECT_EQ(IDInsert(small, 2, nullptr), ERR_MEMORY);
  EXPECT_EQ(IDEntries(small), 64u);
  EXPECT_EQ(ScanAll(small).front(), 4u);
  EXPECT_EQ(IDInsert(small, 2, nullptr), NOERROR);
  EXPECT_EQ(ScanAll(small).front(), 2u);
  EXPECT_EQ(IDEntries(small), 65u);

  // Other memory blocks are not tables.
  DHANDLE other = NULLHANDLE;
  ASSERT_EQ(OSMemAlloc(0, 64, &other), NOERROR);
  EXPECT_FALSE(IDScan(other, TRUE, &id));
  EXPECT_EQ(IDEntries(other), 0u);
  EXPECT_EQ(IDInsert(other, 4, nullptr), ERR_HOST_BAD_HANDLE);

  for (DHANDLE handle : {table, small, other})
    EXPECT_EQ(OSMemFree(handle), NOERROR);
  EXPECT_FALSE(IDScan(table, TRUE, &id));
}

TEST_F(ViewSearchTest, PlaceholderItemsHaveNoTypeAndNoValue) {
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(NSFNoteCreate(db_, &note), NOERROR);
  ASSERT_EQ(NSFItemAppend(note, ITEM_PLACEHOLDER, "Total1", 6, 0, nullptr, 0), NOERROR);
  ASSERT_EQ(NSFNoteUpdate(note, 0), NOERROR);
  NOTEID id = 0;
  NSFNoteGetInfo(note, _NOTE_ID, &id);
  ASSERT_EQ(NSFNoteClose(note), NOERROR);

  ASSERT_EQ(NSFNoteOpen(db_, id, 0, &note), NOERROR);
  WORD type = 0xFFFF;
  DWORD length = 0;
  EXPECT_EQ(NSFItemInfo(note, "total1", 6, nullptr, &type, nullptr, &length), NOERROR);
  EXPECT_EQ(type, 0);
  EXPECT_EQ(length, 2u); // the type word alone
  EXPECT_EQ(NSFNoteClose(note), NOERROR);
}

TEST_F(ViewSearchTest, SelectionAndKeyFormulasRunOnEachDocument) {
  const NOTEID low = StoreDocument("Low", 1);
  const NOTEID high = StoreDocument("high", 7);
  const NOTEID mid = StoreDocument("mid", 5);
  const NOTEID top = StoreDocument("TOP", 9);

  // The search: the match flag follows the formula, every note is met.
  FORMULAHANDLE formula = NULLHANDLE;
  ASSERT_EQ(NSFFormulaCompile(nullptr, 0, "SELECT Rank > 4", 0, &formula, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr),
            NOERROR);
  SearchLog log;
  EXPECT_EQ(NSFSearch(db_, formula, nullptr, 0, NOTE_CLASS_DOCUMENT, nullptr, RecordMatch, &log,
                      nullptr),
            NOERROR);
  EXPECT_EQ(log.ids, (std::vector<NOTEID>{low, high, mid, top}));
  EXPECT_EQ(log.flags, (std::vector<BYTE>{0, SE_FMATCH, SE_FMATCH, SE_FMATCH}));
  EXPECT_EQ(OSMemFree(formula), NOERROR);

  struct Case {
    const char* name;
    const char* selection;
    const char* key;
    WORD flags;
    STATUS status;
    std::vector<NOTEID> expected;
  } cases[] = {
      {"selection", "SELECT Rank > 4", "Rank", VIEW_KEY_DESCENDING, NOERROR, {top, high, mid}},
      {"key formula, texts", "SELECT @All", "@LowerCase(Subject)", 0, NOERROR,
       {high, low, mid, top}},
      {"key formula, numbers", "SELECT Rank < 9", "0 - Rank", 0, NOERROR, {high, mid, low}},
      {"selection that fails", "SELECT @Command([FileSave])", nullptr, 0,
       ERR_FORMULA_NOT_AVAILABLE, {}},
      {"key that fails", nullptr, "@Prompt([Ok]; \"a\"; \"b\")", 0, ERR_FORMULA_NOT_AVAILABLE,
       {}},
  };
  for (const Case& test : cases) {
    NOTEID view = 0;
    ASSERT_EQ(HostTestCreateView(db_, "F", test.selection, test.key, test.flags, &view), NOERROR)
        << test.name;
    HCOLLECTION collection = NULLHANDLE;
    ASSERT_EQ(NIFOpenCollection(db_, db_, view, 0, &collection), test.status) << test.name;
    if (collection == NULLHANDLE)
      continue;
    std::vector<WORD> signals;
    EXPECT_EQ(ReadAll(collection, &signals), test.expected) << test.name;
    EXPECT_EQ(NIFCloseCollection(collection), NOERROR);
  }
}

} // namespace

namespace {

// A view's formulas see every field they name, in any case and however
// they name it, and the first item of a name: the collection opens each
// document with only those fields.
TEST_F(ViewSearchTest, FormulasSeeEveryFieldTheyNameAndTheFirstItemOfAName) {
  const NOTEID low = StoreDocument("Low", 1);
  const NOTEID high = StoreDocument("high", 7);
  const NOTEID none = StoreDocument("none");
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(NSFNoteCreate(db_, &note), NOERROR);
  for (const double rank : {3.0, 8.0})
    ASSERT_EQ(NSFItemAppend(note, 0, "Rank", 4, TYPE_NUMBER, &rank, sizeof rank), NOERROR);
  ASSERT_EQ(NSFItemSetText(note, "Subject", "twice", 5), NOERROR);
  ASSERT_EQ(NSFNoteUpdate(note, 0), NOERROR);
  NOTEID twice = 0;
  NSFNoteGetInfo(note, _NOTE_ID, &twice);
  ASSERT_EQ(NSFNoteClose(note), NOERROR);

  struct Case {
    const char* selection;
    const char* key;
    std::vector<NOTEID> expected;
  } cases[] = {
      {"SELECT @Text(rANK) = \"3\" | @Text(Rank) = \"7\"", nullptr, {high, twice}},
      {"SELECT @Text(Rank) = \"8\"", nullptr, {}}, // the first of two items counts
      {"SELECT @IsAvailable(Rank)", nullptr, {low, high, twice}},
      {"SELECT !@IsAvailable(rank)", nullptr, {none}},
      {"DEFAULT Rank := 6; SELECT @Text(Rank) = \"6\"", nullptr, {none}},
      {"x := SUBJECT; SELECT x = \"none\" | x = \"twice\"", nullptr, {none, twice}},
      {"SELECT @Text(Rank) != \"7\"", "@LowerCase(Subject)", {low, none, twice}},
      {"SELECT @All", "Subject + \"\"", {high, low, none, twice}},
  };
  for (const Case& test : cases) {
    NOTEID view = 0;
    ASSERT_EQ(HostTestCreateView(db_, "Fields", test.selection, test.key, 0, &view), NOERROR)
        << test.selection;
    HCOLLECTION collection = NULLHANDLE;
    ASSERT_EQ(NIFOpenCollection(db_, db_, view, 0, &collection), NOERROR) << test.selection;
    std::vector<WORD> signals;
    EXPECT_EQ(ReadAll(collection, &signals), test.expected) << test.selection;
    EXPECT_EQ(NIFCloseCollection(collection), NOERROR);
  }
}

} // namespace

namespace {

// A view built again answers for every document as a build from nothing
// would, however its documents were written since: updated (also twice
// from copies opened before either write), deleted, added, or changed by
// another connection to the file.
class ViewRebuildTest : public ViewSearchTest {
protected:
  std::vector<NOTEID> Entries(DBHANDLE db, NOTEID view) {
    HCOLLECTION collection = NULLHANDLE;
    EXPECT_EQ(NIFOpenCollection(db, db, view, 0, &collection), NOERROR);
    std::vector<WORD> signals;
    std::vector<NOTEID> ids = ReadAll(collection, &signals);
    EXPECT_EQ(NIFCloseCollection(collection), NOERROR);
    return ids;
  }
  static void SetRank(NOTEHANDLE note, double rank) {
    EXPECT_EQ(NSFItemDelete(note, "Rank", 4), NOERROR);
    EXPECT_EQ(NSFItemAppend(note, 0, "Rank", 4, TYPE_NUMBER, &rank, sizeof rank), NOERROR);
  }
  void UpdateRank(NOTEID id, double rank) {
    NOTEHANDLE note = NULLHANDLE;
    ASSERT_EQ(NSFNoteOpen(db_, id, 0, &note), NOERROR);
    SetRank(note, rank);
    EXPECT_EQ(NSFNoteUpdate(note, 0), NOERROR);
    EXPECT_EQ(NSFNoteClose(note), NOERROR);
  }
};

TEST_F(ViewRebuildTest, FollowsEveryWriteOfItsDocuments) {
  // A fixed clock: every write stores the same time.
  const TIMEDATE early = TimeDateFromUnix(1104537600); // 2005-01-01
  HostTestSetClock(&early);
  const NOTEID a = StoreDocument("a", 1);
  const NOTEID b = StoreDocument("b", 7);
  const NOTEID c = StoreDocument("c", 5);
  NOTEID view = 0;
  ASSERT_EQ(HostTestCreateView(db_, "Ranked", "SELECT Rank > 4", "Rank", 0, &view), NOERROR);
  EXPECT_EQ(Entries(db_, view), (std::vector<NOTEID>{c, b}));
  EXPECT_EQ(Entries(db_, view), (std::vector<NOTEID>{c, b})) << "nothing written";

  UpdateRank(a, 9);
  EXPECT_EQ(Entries(db_, view), (std::vector<NOTEID>{c, b, a})) << "a updated";

  // Two copies of b, opened before either is written, store the same
  // sequence number.
  NOTEHANDLE first = NULLHANDLE;
  NOTEHANDLE second = NULLHANDLE;
  ASSERT_EQ(NSFNoteOpen(db_, b, 0, &first), NOERROR);
  ASSERT_EQ(NSFNoteOpen(db_, b, 0, &second), NOERROR);
  SetRank(first, 8);
  SetRank(second, 2);
  EXPECT_EQ(NSFNoteUpdate(first, 0), NOERROR);
  EXPECT_EQ(Entries(db_, view), (std::vector<NOTEID>{c, b, a})) << "b's first copy stored";
  EXPECT_EQ(NSFNoteUpdate(second, 0), NOERROR);
  EXPECT_EQ(Entries(db_, view), (std::vector<NOTEID>{c, a})) << "b's second copy stored";
  EXPECT_EQ(NSFNoteClose(first), NOERROR);
  EXPECT_EQ(NSFNoteClose(second), NOERROR);

  EXPECT_EQ(NSFNoteDelete(db_, c, 0), NOERROR);
  EXPECT_EQ(Entries(db_, view), (std::vector<NOTEID>{a})) << "c deleted";
  const NOTEID d = StoreDocument("d", 6);
  EXPECT_EQ(Entries(db_, view), (std::vector<NOTEID>{d, a})) << "d added";

  // Another view of the same formulas; one whose formula reads more than
  // the items answers anew every time.
  NOTEID same = 0;
  ASSERT_EQ(HostTestCreateView(db_, "Same", "SELECT Rank > 4", "Rank", 0, &same), NOERROR);
  EXPECT_EQ(Entries(db_, same), (std::vector<NOTEID>{d, a}));
  NOTEID dated = 0;
  ASSERT_EQ(HostTestCreateView(db_, "Dated", "SELECT Rank > 4 & @Now < [01/01/2010]", "Rank",
                               0, &dated),
            NOERROR);
  EXPECT_EQ(Entries(db_, dated), (std::vector<NOTEID>{d, a}));
  const TIMEDATE later = TimeDateFromUnix(1420070400); // 2015-01-01
  HostTestSetClock(&later);
  EXPECT_EQ(Entries(db_, dated), std::vector<NOTEID>{}) << "the clock moved";
  EXPECT_EQ(Entries(db_, same), (std::vector<NOTEID>{d, a}));
  UpdateRank(d, 3);
  EXPECT_EQ(Entries(db_, same), (std::vector<NOTEID>{a}));
  HostTestSetClock(nullptr);
}

TEST_F(ViewRebuildTest, SeesWhatAnotherConnectionChanged) {
  const std::string directory = file_testing::MakeDataDirectory("velko-rebuild");
  ASSERT_FALSE(directory.empty());
  DBHANDLE db = NULLHANDLE;
  ASSERT_EQ(note_testing::CreateDatabase("rebuild.nsf", &db), NOERROR);
  const NOTEID id = note_testing::StoreNoteWith(
      db, [](NOTEHANDLE note) { return NSFItemSetText(note, "Subject", "kept", 4); });
  ASSERT_NE(id, 0u);
  NOTEID view = 0;
  ASSERT_EQ(HostTestCreateView(db, "Kept", "SELECT Subject = \"kept\"", nullptr, 0, &view),
            NOERROR);
  EXPECT_EQ(Entries(db, view), std::vector<NOTEID>{id});

  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open_v2((directory + "/rebuild.nsf").c_str(), &raw, SQLITE_OPEN_READWRITE,
                            nullptr),
            SQLITE_OK);
  const std::string change = "UPDATE items SET value = x'0005676F6E65' WHERE note_id = " +
                             std::to_string(id) + " AND name_key = 'subject'";
  EXPECT_EQ(sqlite3_exec(raw, change.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(raw);
  EXPECT_EQ(Entries(db, view), std::vector<NOTEID>{});

  EXPECT_EQ(NSFDbClose(db), NOERROR);
  std::filesystem::remove_all(directory);
}

} // namespace
