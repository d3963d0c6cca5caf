// Host calls on notes, items and databases with the global operator new
// failing at its Nth call (tests/support/failing_new.h), once for every N
// until a call meets no failure: no exception leaves the call, it returns
// 0 or ERR_MEMORY, a failed call leaves the working copy (one value of
// which a caller holds locked) and the stored note as they were, a call
// that succeeds leaves them as a run without failures does, and no memory
// handle is left behind.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "host/formula.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osmem.h"
#include "host/status.h"
#include "tests/support/failing_new.h"
#include "tests/support/note_fixture.h"
#include "tests/support/test_fixture.h"

namespace {

constexpr char kDbPath[] = "mem:guard";

/* What a call works on: a stored note and a working copy of it; a note or
 * database the call opens is handed back in `opened`. */
struct Subject {
  DBHANDLE db = NULLHANDLE;
  NOTEID id = 0;
  NOTEHANDLE note = NULLHANDLE;
  BLOCKID item_c = {}; /* the descriptor of item C */
  NOTEHANDLE opened_note = NULLHANDLE;
  DBHANDLE opened_db = NULLHANDLE;
};

struct HostCall {
  const char* name;
  STATUS (*call)(Subject& subject);
};

void PrintTo(const HostCall& call, std::ostream* out) { *out << call.name; }

const HostCall kCalls[] = {
    {"NSFItemSetText", [](Subject& s) { return NSFItemSetText(s.note, "A", "changed", 7); }},
    {"NSFItemDelete", [](Subject& s) { return NSFItemDelete(s.note, "A", 1); }},
    {"NSFItemAppendTextList",
     [](Subject& s) { return NSFItemAppendTextList(s.note, "B", "z", 1, FALSE); }},
    {"NSFItemAppendTextListEntries",
     [](Subject& s) {
       const WORD lengths[] = {1, 2};
       return NSFItemAppendTextListEntries(s.note, "B", "zzz", lengths, 2);
     }},
    {"NSFItemAppend",
     [](Subject& s) { return NSFItemAppend(s.note, 0, "D", 1, TYPE_TEXT, "delta", 5); }},
    {"NSFItemCopy", [](Subject& s) { return NSFItemCopy(s.note, s.item_c); }},
    {"NSFNoteUpdate", [](Subject& s) { return NSFNoteUpdate(s.note, 0); }},
    {"NSFNoteCopy", [](Subject& s) { return NSFNoteCopy(s.note, &s.opened_note); }},
    {"NSFNoteOpen", [](Subject& s) { return NSFNoteOpen(s.db, s.id, 0, &s.opened_note); }},
    {"NSFNoteCreate", [](Subject& s) { return NSFNoteCreate(s.db, &s.opened_note); }},
    {"NSFDbOpen", [](Subject& s) { return NSFDbOpen(kDbPath, &s.opened_db); }},
};

/* The items A to D of a note in order, as "name=hex of the value". */
std::string Describe(NOTEHANDLE note) {
  std::string text;
  for (const char* name : {"A", "B", "C", "D"}) {
    for (const note_testing::Bytes& value : note_testing::ItemValues(note, name))
      text += std::string(name) + "=" + host_test::Hex(std::string(value.begin(), value.end()));
  }
  return text;
}

/* The working copy, what a call opened (which is closed again) and the
 * stored note with its sequence number. */
std::string State(Subject& s) {
  std::string state = Describe(s.note);
  if (s.opened_note != NULLHANDLE) {
    state += " opened " + Describe(s.opened_note);
    EXPECT_EQ(NSFNoteClose(s.opened_note), NOERROR);
    s.opened_note = NULLHANDLE;
  }
  if (s.opened_db != NULLHANDLE) {
    state += " opened database";
    EXPECT_EQ(NSFDbClose(s.opened_db), NOERROR);
    s.opened_db = NULLHANDLE;
  }
  NOTEHANDLE stored = NULLHANDLE;
  EXPECT_EQ(NSFNoteOpen(s.db, s.id, 0, &stored), NOERROR);
  ORIGINATORID oid = {};
  NSFNoteGetInfo(stored, _NOTE_OID, &oid);
  state += " stored " + Describe(stored) + " seq " + std::to_string(oid.Sequence);
  EXPECT_EQ(NSFNoteClose(stored), NOERROR);
  return state;
}

/* What one run left. */
struct Outcome {
  STATUS status = NOERROR;
  bool escaped = false;
  bool fired = false;
  std::string before;
  std::string after;
  size_t handles_left = 0;
};

class MemoryGuardTest : public host_test::HostFixture,
                        public ::testing::WithParamInterface<HostCall> {
protected:
  /* One run with the Nth allocation failing (0: none). */
  Outcome RunOnce(long nth) {
    Outcome outcome;
    Subject s;
    EXPECT_EQ(note_testing::CreateDatabase(kDbPath, &s.db), NOERROR);
    s.id = note_testing::StoreNoteWith(s.db, [](NOTEHANDLE note) {
      STATUS status = NSFItemSetText(note, "A", "alpha", 5);
      for (const char* entry : {"x", "y"})
        if (status == NOERROR)
          status = NSFItemAppendTextList(note, "B", entry, 1, FALSE);
      return status != NOERROR ? status : NSFItemSetText(note, "C", "gamma", 5);
    });
    EXPECT_EQ(NSFNoteOpen(s.db, s.id, 0, &s.note), NOERROR);
    BLOCKID valueOfA = {};
    EXPECT_EQ(NSFItemInfo(s.note, "A", 1, nullptr, nullptr, &valueOfA, nullptr), NOERROR);
    OSLockBlock(valueOfA);
    EXPECT_EQ(NSFItemInfo(s.note, "C", 1, &s.item_c, nullptr, nullptr, nullptr), NOERROR);
    outcome.before = State(s);

    failing_new::Arm(nth);
    try {
      outcome.status = GetParam().call(s);
    } catch (...) {
      outcome.escaped = true;
    }
    failing_new::Disarm();
    outcome.fired = nth > 0 && failing_new::Fired(nth);

    outcome.after = State(s);
    OSUnlockBlock(valueOfA);
    EXPECT_EQ(NSFNoteClose(s.note), NOERROR);
    EXPECT_EQ(NSFDbClose(s.db), NOERROR);
    HostTestReset();
    outcome.handles_left = HostTestLiveHandles() - live_;
    return outcome;
  }
};

INSTANTIATE_TEST_SUITE_P(NotesItemsDatabases, MemoryGuardTest, ::testing::ValuesIn(kCalls));

TEST_P(MemoryGuardTest, AFailedAllocationIsTheMemoryStatusAndChangesNothing) {
  const Outcome clean = RunOnce(0);
  ASSERT_EQ(clean.status, NOERROR);
  ASSERT_NE(clean.after, clean.before);
  int failed = 0;
  for (long nth = 1; nth < 10000; ++nth) {
    SCOPED_TRACE("allocation " + std::to_string(nth));
    const Outcome run = RunOnce(nth);
    EXPECT_FALSE(run.escaped) << "an exception left the call";
    EXPECT_EQ(run.handles_left, 0u) << HostTestLeakReport();
    if (!run.fired) {
      EXPECT_EQ(run.status, NOERROR);
      EXPECT_EQ(run.after, clean.after);
      break;
    }
    ++failed;
    if (run.status == NOERROR) {
      EXPECT_EQ(run.after, clean.after);
    } else {
      EXPECT_EQ(run.status, ERR_MEMORY);
      EXPECT_EQ(run.after, run.before) << "a failed call changed something";
    }
    if (HasFailure())
      break; // one run's findings are enough
  }
  EXPECT_GT(failed, 0) << "the call made no allocation to fail";
}

/* Formula calls with operator new failing at each N in turn: starting a
 * formula (its instructions), evaluating it against a note (its values,
 * the field reads, the result) and stopping it answer ERR_MEMORY or their
 * clean result, let no exception out and leave no block behind. */
class FormulaMemoryGuardTest : public host_test::HostFixture {
protected:
  struct Run {
    STATUS status = NOERROR;
    std::string result;
    bool escaped = false;
    bool fired = false;
  };

  Run RunOnce(NOTEHANDLE note, long nth) {
    static const std::string kSource =
        "SELECT A = \"alpha\"; x := @Explode(\"p q r\") : B; @Implode(@UpperCase(x) + \"!\"; \",\")";
    std::string compiled("FM\x01\x00", 4);
    const DWORD length = static_cast<DWORD>(kSource.size());
    compiled.append(reinterpret_cast<const char*>(&length), sizeof length);
    compiled += kSource;
    Run run;
    failing_new::Arm(nth);
    try {
      HCOMPUTE compute = NULLHANDLE;
      run.status = NSFComputeStart(0, compiled.data(), &compute);
      DHANDLE result = NULLHANDLE;
      if (run.status == NOERROR) {
        run.status =
            NSFComputeEvaluate(compute, note, &result, nullptr, nullptr, nullptr, nullptr);
        const STATUS stopped = NSFComputeStop(compute);
        if (run.status == NOERROR)
          run.status = stopped;
      }
      failing_new::Unarmed unarmed;
      if (result != NULLHANDLE) {
        run.result.assign(static_cast<const char*>(OSLockObject(result)), OSMemGetSize(result));
        OSUnlockObject(result);
        OSMemFree(result);
      }
    } catch (...) {
      run.escaped = true;
    }
    failing_new::Disarm();
    run.fired = nth > 0 && failing_new::Fired(nth);
    return run;
  }
};

TEST_F(FormulaMemoryGuardTest, AFailedAllocationIsTheMemoryStatusAndLeavesNoBlock) {
  DBHANDLE db = NULLHANDLE;
  ASSERT_EQ(note_testing::CreateDatabase(kDbPath, &db), NOERROR);
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(NSFNoteCreate(db, &note), NOERROR);
  ASSERT_EQ(NSFItemSetText(note, "A", "alpha", 5), NOERROR);
  ASSERT_EQ(NSFItemAppendTextList(note, "B", "s", 1, FALSE), NOERROR);
  const size_t handles = HostTestLiveHandles();
  const Run clean = RunOnce(note, 0);
  ASSERT_EQ(clean.status, NOERROR);
  ASSERT_EQ(clean.result, std::string("\x00\x05", 2) + "P!,Q!,R!,S!");
  int failed = 0;
  for (long nth = 1; nth < 10000; ++nth) {
    SCOPED_TRACE("allocation " + std::to_string(nth));
    const Run run = RunOnce(note, nth);
    EXPECT_FALSE(run.escaped) << "an exception left the call";
    EXPECT_EQ(HostTestLiveHandles(), handles) << HostTestLeakReport();
    if (!run.fired) {
      EXPECT_EQ(run.status, NOERROR);
      EXPECT_EQ(run.result, clean.result);
      break;
    }
    ++failed;
    if (run.status == NOERROR)
      EXPECT_EQ(run.result, clean.result);
    else
      EXPECT_EQ(run.status, ERR_MEMORY);
    if (HasFailure())
      break;
  }
  EXPECT_GT(failed, 0) << "the calls made no allocation to fail";
  EXPECT_EQ(NSFNoteClose(note), NOERROR);
  EXPECT_EQ(NSFDbClose(db), NOERROR);
}

} // namespace
