// The documents of a view or a selection formula for a session: the ID
// table and the sorted list in view order (categories left out) or in ID
// order for a formula, keyed reads over several batches, which texts are
// formulas, the session's kept collection, the list's reset and cap, and
// the three messages.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/host_testing.h"
#include "host/idtable.h"
#include "host/nif.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osmem.h"
#include "host/status.h"
#include "store/tracked_memory_testing.h"
#include "store/view_selection.h"
#include "tests/support/note_fixture.h"
#include "tests/support/test_fixture.h"

using note_testing::MessageTexts;

namespace {

class ViewSelectionTest : public host_test::HostFixture {
protected:
  void SetUp() override {
    HostFixture::SetUp();
    HostTestCaptureMessages();
    ASSERT_EQ(note_testing::CreateDatabase("mem:selection", &db_), NOERROR);
  }
  void TearDown() override {
    session_.reset(); // closes the kept collection, frees the list
    EXPECT_EQ(NSFDbClose(db_), NOERROR);
    HostFixture::TearDown();
  }

  NOTEID StoreDocument(const char* subject, double rank) {
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteCreate(db_, &note), NOERROR);
    EXPECT_EQ(NSFItemSetText(note, "Subject", subject, note_testing::NameLength(subject)),
              NOERROR);
    EXPECT_EQ(NSFItemAppend(note, 0, "Rank", 4, TYPE_NUMBER, &rank, sizeof rank), NOERROR);
    EXPECT_EQ(NSFNoteUpdate(note, 0), NOERROR);
    NOTEID id = 0;
    NSFNoteGetInfo(note, _NOTE_ID, &id);
    EXPECT_EQ(NSFNoteClose(note), NOERROR);
    return id;
  }

  struct Result {
    STATUS status = 0;
    std::vector<NOTEID> table; // ascending, as IDScan gives it
    std::vector<NOTEID> list;  // the sorted list afterwards
  };

  Result Select(const char* selection, const char* key, int listFlag) {
    Result result;
    DHANDLE table = 0xDEAD;
    result.status = ViewSelection(session_.get(), db_, selection, key, &table, listFlag);
    if (result.status != NOERROR) {
      EXPECT_EQ(table, NULLHANDLE);
    }
    NOTEID id = 0;
    for (BOOL first = TRUE; table != NULLHANDLE && IDScan(table, first, &id); first = FALSE)
      result.table.push_back(id);
    if (table != NULLHANDLE) {
      EXPECT_EQ(OSMemFree(table), NOERROR);
    }
    const NOTEID* list = SortedIdList(session_.get());
    const WORD count = SortedIdListCount(session_.get());
    if (list != nullptr) {
      result.list.assign(list, list + count);
    } else {
      EXPECT_EQ(count, 0);
    }
    return result;
  }

  std::unique_ptr<LSXLsiSession> session_ = std::make_unique<LSXLsiSession>();
  DBHANDLE db_ = NULLHANDLE;
};

using Ids = std::vector<NOTEID>;

TEST_F(ViewSelectionTest, ViewsInViewOrderFormulasInIdOrderKeysOverSeveralBatches) {
  const NOTEID fig = StoreDocument("fig", 4);
  const NOTEID berry1 = StoreDocument("Berry", 8);
  const NOTEID apple = StoreDocument("apple", 2);
  const NOTEID berry2 = StoreDocument("berry", 1);
  const NOTEID cherry = StoreDocument("cherry", 6);
  const NOTEID berry3 = StoreDocument("BERRY", 5);
  ASSERT_EQ(HostTestCreateView(db_, "By Subject|subjects", nullptr, "Subject",
                               VIEW_KEY_CATEGORIZED, nullptr),
            NOERROR);
  ASSERT_EQ(HostTestCreateView(db_, "SELECT ALL", nullptr, "Rank", VIEW_KEY_DESCENDING, nullptr),
            NOERROR);
  const Ids all = {fig, berry1, apple, berry2, cherry, berry3};

  struct Case {
    const char* name;
    const char* selection;
    const char* key;
    DWORD batch;
    Ids table;
    Ids list;
    STATUS status = NOERROR;
  } cases[] = {
      {"categorized view, categories skipped", "subjects", nullptr, 0, all,
       {apple, berry1, berry2, berry3, cherry, fig}},
      {"the same in batches of two", "By Subject", nullptr, 2, all,
       {apple, berry1, berry2, berry3, cherry, fig}},
      {"keyed read in batches of two", "By Subject", "bErry", 2, {berry1, berry2, berry3},
       {berry1, berry2, berry3}},
      {"keyed read in batches of one", "By Subject", "cherry", 1, {cherry}, {cherry}},
      {"a key that matches nothing", "By Subject", "date", 2, {}, {}},
      {"SELECT without '@' or '=' names a view", "SELECT ALL", nullptr, 0, all,
       {berry1, cherry, berry3, fig, apple, berry2}},
      {"a formula, in ascending ID order", "select Rank >= 5", nullptr, 0,
       {berry1, cherry, berry3}, {berry1, cherry, berry3}},
      {"a formula with '=' and no '@', case counts", "Select Subject = \"berry\"", nullptr, 0,
       {berry2}, {berry2}},
      {"SELECT, a space, but no '@' or '=': a view name", "SELECT Rank > 4", nullptr, 0, {}, {},
       ERR_NOT_FOUND},
      {"a formula ignores the key", "SELECT @All", "fig", 0, all, all},
  };
  for (const Case& test : cases) {
    HostTestSetReadEntriesLimit(test.batch);
    for (const int listFlag : {0, 1}) {
      const Result result = Select(test.selection, test.key, listFlag);
      EXPECT_EQ(result.status, test.status) << test.name;
      EXPECT_EQ(result.table, test.table) << test.name;
      EXPECT_EQ(result.list, listFlag ? test.list : Ids{}) << test.name << " list " << listFlag;
      FreeSortedIdList(session_.get());
    }
  }
  EXPECT_EQ(MessageTexts(), std::vector<std::string>(2, "TARNO: View 'SELECT Rank > 4' not found"));
}

TEST_F(ViewSelectionTest, FailuresShowTheirMessageAndHandOutNoTable) {
  StoreDocument("a", 1);
  ASSERT_EQ(HostTestCreateView(db_, "Plain", nullptr, "Subject", 0, nullptr), NOERROR);
  struct Case {
    const char* selection;
    STATUS status;
    const char* message;
  } cases[] = {
      {"Missing", ERR_NOT_FOUND, "TARNO: View 'Missing' not found"},
      {"SELECT@All", ERR_NOT_FOUND, "TARNO: View 'SELECT@All' not found"},
      {"SELECT Rank = (1", ERR_FORMULA_COMPILE,
       "TARNO: Selection formula 'SELECT Rank = (1' does not compile"},
      {"SELECT @Command([FileSave])", ERR_FORMULA_NOT_AVAILABLE,
       "TARNO: Unknown error using selection formula 'SELECT @Command([FileSave])'"},
  };
  for (const Case& test : cases) {
    HostTestClearMessages();
    // A list asked for by an earlier call is gone after a failing one.
    ASSERT_EQ(Select("Plain", nullptr, 1).list.size(), 1u);
    const Result result = Select(test.selection, nullptr, 1);
    EXPECT_EQ(result.status, test.status) << test.selection;
    EXPECT_EQ(result.list, Ids{}) << test.selection;
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{test.message}) << test.selection;
  }
}

TEST_F(ViewSelectionTest, TheSessionKeepsOneCollectionPerDatabaseAndViewName) {
  const NOTEID a = StoreDocument("a", 1);
  ASSERT_EQ(HostTestCreateView(db_, "First", nullptr, "Subject", 0, nullptr), NOERROR);
  ASSERT_EQ(HostTestCreateView(db_, "Second", nullptr, "Rank", 0, nullptr), NOERROR);

  EXPECT_EQ(Select("First", nullptr, 0).table, Ids{a});
  const DHANDLE first = CachedViewCollection(session_.get());
  ASSERT_NE(first, NULLHANDLE);

  // A keyed call for the same view reads the kept collection, as it was
  // when it was opened.
  const NOTEID later = StoreDocument("a", 2);
  EXPECT_EQ(Select("First", "A", 0).table, Ids{a});
  EXPECT_EQ(CachedViewCollection(session_.get()), first);

  // A keyed call for another view opens that one and closes the kept one.
  EXPECT_EQ(Select("Second", "2", 0).table, Ids{later});
  const DHANDLE second = CachedViewCollection(session_.get());
  EXPECT_NE(second, first);
  EXPECT_EQ(NIFCloseCollection(first), ERR_HOST_BAD_HANDLE);

  // A call without a key opens the view again.
  EXPECT_EQ(Select("Second", nullptr, 0).table, (Ids{a, later}));
  EXPECT_NE(CachedViewCollection(session_.get()), second);
  EXPECT_EQ(NIFCloseCollection(second), ERR_HOST_BAD_HANDLE);

  CloseCachedViewCollection(session_.get());
  EXPECT_EQ(CachedViewCollection(session_.get()), NULLHANDLE);
  EXPECT_EQ(Select("First", "a", 0).table, (Ids{a, later}));
}

TEST_F(ViewSelectionTest, AddIdUniqueTakesOnlyMatchedNotes) {
  DHANDLE table = NULLHANDLE;
  ASSERT_EQ(IDCreateTable(4, &table), NOERROR);
  for (const auto& [id, flags] : {std::pair<NOTEID, BYTE>{12, SE_FMATCH}, {8, 0}, {4, SE_FMATCH},
                                  {12, SE_FMATCH}, {16, 0x02}}) {
    SEARCH_MATCH match{};
    match.NoteID = id;
    match.SERetFlags = flags;
    EXPECT_EQ(AddIDUnique(&table, &match, nullptr), NOERROR);
  }
  NOTEID id = 0;
  Ids ids;
  for (BOOL first = TRUE; IDScan(table, first, &id); first = FALSE)
    ids.push_back(id);
  EXPECT_EQ(ids, (Ids{4, 12}));
  EXPECT_EQ(OSMemFree(table), NOERROR);
}

TEST_F(ViewSelectionTest, TheListStopsAtItsCapacity) {
  constexpr int kDocuments = kSortedIdListCapacity + 2;
  Ids stored;
  for (int i = 0; i < kDocuments; ++i)
    stored.push_back(StoreDocument("d", kDocuments - i));
  ASSERT_EQ(HostTestCreateView(db_, "Falling", nullptr, "Rank", 0, nullptr), NOERROR);
  HostTestSetReadEntriesLimit(5000);

  const Result listed = Select("Falling", nullptr, 1);
  ASSERT_EQ(listed.status, NOERROR);
  ASSERT_EQ(listed.list.size(), kSortedIdListCapacity);
  // View order is the reverse of storing; the table holds the same IDs.
  EXPECT_EQ(listed.list.front(), stored.back());
  EXPECT_EQ(listed.list.back(), stored[2]);
  EXPECT_EQ(listed.table, Ids(stored.begin() + 2, stored.end()));

  const Result formula = Select("SELECT Rank >= 1", nullptr, 1);
  EXPECT_EQ(formula.table.size(), size_t{kDocuments});
  EXPECT_EQ(formula.list, Ids(stored.begin(), stored.begin() + kSortedIdListCapacity));

  EXPECT_EQ(Select("Falling", nullptr, 0).table, stored);
}

TEST_F(ViewSelectionTest, EveryFailedAllocationIsReturnedAndLeavesNothingBehind) {
  for (int i = 0; i < 5; ++i)
    StoreDocument("k", i);
  ASSERT_EQ(HostTestCreateView(db_, "Keys", nullptr, "Subject", VIEW_KEY_CATEGORIZED, nullptr),
            NOERROR);
  HostTestSetReadEntriesLimit(2);
  const size_t live = HostTestLiveHandles();
  struct Case {
    const char* selection;
    const char* key;
    void (*fail)(int);
    size_t listed; // when nothing failed
  } cases[] = {
      {"Keys", nullptr, HostTestFailAllocation, 5},
      {"Keys", "K", HostTestFailAllocation, 5},
      {"SELECT Rank >= 2", nullptr, HostTestFailAllocation, 3},
      {"Keys", nullptr, VelkoTestFailTrackedAllocation, 5},
      {"SELECT @All", nullptr, VelkoTestFailTrackedAllocation, 5},
  };
  for (const Case& test : cases) {
    int failures = 0;
    for (int nth = 1; nth <= 40; ++nth) {
      CloseCachedViewCollection(session_.get());
      test.fail(nth);
      const Result result = Select(test.selection, test.key, 1);
      test.fail(0);
      if (result.status != NOERROR) {
        ++failures;
        EXPECT_EQ(result.status, ERR_MEMORY) << test.selection << " " << nth;
        EXPECT_EQ(result.list, Ids{}) << test.selection << " " << nth;
      } else {
        EXPECT_EQ(result.list.size(), test.listed) << test.selection << " " << nth;
      }
      FreeSortedIdList(session_.get());
      EXPECT_EQ(HostTestLiveHandles(), live) << test.selection << " " << nth;
    }
    EXPECT_GT(failures, 0) << test.selection;
  }
}

} // namespace
