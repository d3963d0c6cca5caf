// Failure safety of a writing operation with commit: action 49 (the clean-up
// pass, which rebuilds every record through the emitter, drops empty text
// runs and adds the final empty text run the driver emits) runs once for
// every N with the Nth host memory allocation failing, and once for every N
// with the Nth request for tracked memory failing, until a run meets no
// failure. Every run must return 0 or 263, leave no host memory handle and
// no tracked block behind, and leave the stored note (closed and opened
// again) exactly as before or exactly as a run without failures leaves it.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "host/host_testing.h"
#include "host/osmem.h"
#include "store/tracked_memory_testing.h"
#include "store/vocabulary.h"

namespace {

using namespace engine_test;

/* Empty text runs beside text runs (dropped), text in a table, and a body
 * that ends in a paragraph record, so the driver adds an empty text run. */
std::vector<Bytes> CleanupBody() {
  return {PabDef(1),    PabRef(1),  Text("first"), Text(""),     Text("second"), Paragraph(),
          TableBegin(), Cell(0, 0), PabRef(1),     Text("cell"), Text(""),       TableEnd(),
          Paragraph(),  PabRef(1),  Text(""),      Text("last"), Paragraph()};
}

/* A body of two stored items whose rebuilt form is written as two items
 * again, with empty text runs in both. */
std::vector<std::vector<Bytes>> TwoItemBody() {
  std::vector<Bytes> first = {PabDef(1), PabRef(1)};
  std::vector<Bytes> second = {PabRef(1)};
  for (int run = 0; run < 40; ++run) {
    first.push_back(Text(std::string(1000, static_cast<char>('a' + run % 26))));
    second.push_back(Text(std::string(500, static_cast<char>('A' + run % 26))));
    if (run % 10 == 0) {
      first.push_back(Text(""));
      second.push_back(Text(""));
    }
  }
  first.push_back(Paragraph());
  second.push_back(Paragraph());
  return {first, second};
}

/* One way of making the Nth allocation fail, and of telling afterwards
 * whether it did. */
struct fault_control {
  const char* name;
  void (*arm)(int nth);
  bool (*fired)(int nth);
};

/* The host's single failure switches itself off once it fires: when none
 * of nth further allocations fails, it fired during the run. */
bool HostFailureFired(int nth) {
  bool fired = true;
  for (int probe = 0; probe < nth && fired; ++probe) {
    DHANDLE handle = NULLHANDLE;
    if (OSMemAlloc(MEM_TYPE_ENGINE, 1, &handle) != NOERROR)
      fired = false;
    else
      OSMemFree(handle);
  }
  HostTestFailAllocation(0);
  return fired;
}

bool TrackedFailureFired(int nth) {
  const bool fired = VelkoTestTrackedRequests() >= nth;
  VelkoTestFailTrackedAllocation(0);
  return fired;
}

const fault_control kControls[] = {
    {"host memory", HostTestFailAllocation, HostFailureFired},
    {"tracked memory", VelkoTestFailTrackedAllocation, TrackedFailureFired},
};

int FailureCount() {
  return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

/* Size of a block named by a log line of the allocator, or 0. */
unsigned long SizeIn(const std::string& line, const char* format) {
  unsigned long size = 0;
  return std::sscanf(line.c_str(), format, &size) == 1 ? size : 0;
}

/* The session leaves no tracked block in use, save the pool entries the
 * allocator keeps (stamped, without memory) for a request the host
 * refused: one per "Unable to allocate" line. */
void ExpectNoBlockLeft(const std::vector<std::string>& lines) {
  std::multiset<unsigned long> refused;
  for (const std::string& line : lines) {
    if (unsigned long size = SizeIn(line, "Harrowmint: Unable to allocate %lu bytes"))
      refused.insert(size);
  }
  for (const std::string& line : lines) {
    const unsigned long size = SizeIn(line, "VelkoDeallocate all: Freeing item of size %lu");
    if (size == 0)
      continue;
    auto found = refused.find(size);
    EXPECT_NE(found, refused.end()) << "a tracked block left in use: " << line;
    if (found != refused.end())
      refused.erase(found);
  }
}

class FaultSweepTest : public EngineTest {
protected:
  /* A stored note holding the items; its id. */
  NOTEID StoreNote(const std::vector<std::vector<Bytes>>& items) {
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteCreate(db_, &note), NOERROR);
    for (const std::vector<Bytes>& records : items)
      EXPECT_EQ(note_testing::AppendRecords(note, "Body", Records(records)), NOERROR);
    EXPECT_EQ(NSFNoteUpdate(note, UPDATE_FORCE), NOERROR);
    NOTEID id = 0;
    NSFNoteGetInfo(note, _NOTE_ID, &id);
    NSFNoteClose(note);
    return id;
  }

  /* Every stored value of "Body" of the note, read through a fresh open. */
  std::vector<Bytes> StoredValues(NOTEID id) {
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteOpen(db_, id, 0, &note), NOERROR);
    std::vector<Bytes> values = note_testing::ItemValues(note, "Body");
    NSFNoteClose(note);
    return values;
  }

  /* Action 49 with commit and save on the stored note, in a session of its
   * own that ends with the run. */
  STATUS CleanUp(NOTEID id) {
    auto* session = new LSXLsiSession;
    auto* item = new VelkoRTItem(session);
    STATUS status = item->Connect("", kDbPath, id, "Body", 0);
    if (status == NOERROR) {
      item->AutoSave = 1;
      VelkoRTChunk* chunk = item->DefineChunk("Everything");
      status = VELKO_ERR_FAILED;
      if (chunk != nullptr)
        status = chunk->AlterRichText(ACTION_CLEANUP_TEXT_RUNS, 0, 0, 0, 0, nullptr, nullptr,
                                      nullptr, nullptr);
    }
    delete session;
    return status;
  }

  /* The sweep over one control; returns the number of runs that met a
   * failure. */
  int Sweep(const fault_control& control, const std::vector<std::vector<Bytes>>& items,
            const std::vector<Bytes>& before, const std::vector<Bytes>& after) {
    int failed = 0;
    const int failures = FailureCount();
    for (int nth = 1; nth < 5000; ++nth) {
      SCOPED_TRACE(std::string(control.name) + " allocation " + std::to_string(nth));
      const NOTEID id = StoreNote(items);
      const size_t handles = HostTestLiveHandles();
      HostTestCaptureLog(true);
      HostTestClearLog();
      control.arm(nth);
      const STATUS status = CleanUp(id);
      const bool fired = control.fired(nth);
      ExpectNoBlockLeft(HostTestLogLines());
      HostTestCaptureLog(false);
      EXPECT_EQ(HostTestLiveHandles(), handles) << HostTestLeakReport();
      const std::vector<Bytes> stored = StoredValues(id);
      NSFNoteDelete(db_, id, 0);
      if (!fired) {
        EXPECT_EQ(status, NOERROR);
        EXPECT_EQ(stored, after);
        return failed;
      }
      ++failed;
      EXPECT_TRUE(status == NOERROR || status == VELKO_ERR_MEMORY) << status;
      EXPECT_TRUE(stored == before || stored == after)
          << "a mix of the old and the new body, status " << status;
      if (status != NOERROR) {
        EXPECT_EQ(stored, before) << "a failed operation changed the note";
      }
      if (FailureCount() > failures)
        return failed; // one run's findings are enough
    }
    ADD_FAILURE() << "the sweep did not end";
    return failed;
  }

  /* Values before and after a run without failures. */
  void Expected(const std::vector<std::vector<Bytes>>& items, std::vector<Bytes>* before,
                std::vector<Bytes>* after) {
    const NOTEID id = StoreNote(items);
    *before = StoredValues(id);
    ASSERT_EQ(CleanUp(id), NOERROR);
    *after = StoredValues(id);
    NSFNoteDelete(db_, id, 0);
    ASSERT_NE(*before, *after) << "the clean-up must change the body";
  }
};

TEST_F(FaultSweepTest, CleanUpOfOneItemIsAllOrNothingAtEveryFailure) {
  const std::vector<std::vector<Bytes>> items = {CleanupBody()};
  std::vector<Bytes> before;
  std::vector<Bytes> after;
  Expected(items, &before, &after);
  // The rebuilt body: the empty runs beside text are gone and an empty text
  // run ends it, in one stored item.
  const Bytes expected =
      Value(Records({PabDef(1), PabRef(1), Text("first"), Text("second"), Paragraph(), TableBegin(),
                     Cell(0, 0), PabRef(1), Text("cell"), TableEnd(), Paragraph(), PabRef(1),
                     Text("last"), Paragraph(), Text("")}));
  ASSERT_EQ(after, std::vector<Bytes>{expected});
  for (const fault_control& control : kControls)
    EXPECT_GT(Sweep(control, items, before, after), 5) << control.name;
}

TEST_F(FaultSweepTest, CleanUpOfTwoItemsIsAllOrNothingAtEveryFailure) {
  const std::vector<std::vector<Bytes>> items = TwoItemBody();
  std::vector<Bytes> before;
  std::vector<Bytes> after;
  Expected(items, &before, &after);
  ASSERT_EQ(before.size(), 2u);
  ASSERT_EQ(after.size(), 2u);
  for (const fault_control& control : kControls)
    EXPECT_GT(Sweep(control, items, before, after), 5) << control.name;
}

} // namespace
