// Failure safety of a writing operation that is stored: action 49 (the
// clean-up pass, which rebuilds every record through the emitter, drops
// empty text runs and adds the final empty text run), Remove, the
// property settings, HideFormula, GraphicStorage, PassthruHTML and
// ReplaceTextQuick, over a note of a database file, run once for every N
// with the Nth failure of one kind armed, until a run meets no failure:
//   - the Nth host memory allocation, or the Nth request for tracked memory,
//     fails during the run (stored at once under AutoSave);
//   - the Nth storage write (each statement and the transaction's commit)
//     fails during Save, which commits the cached records and stores the
//     note, or during the AutoSave update;
//   - the Nth allocation SQLite itself makes fails during Save.
// Every run must report the failure or succeed, leave no host memory
// handle and no tracked block behind, and leave the stored note (the
// database closed and opened again) exactly as before or exactly as a run
// without failures leaves it; a run that reports a failure leaves it as
// before.
#include <gtest/gtest.h>
#include <unistd.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "chunk/rtchunk_internal.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osmem.h"
#include "host/status.h"
#include "store/tracked_memory_testing.h"
#include "store/vocabulary.h"
#include "tests/support/allocation_faults.h"
#include "tests/support/database_file_fixture.h"
#include "tests/support/note_fixture.h"
#include "tests/support/stored_values.h"
#include "cdbuild/cd_script.h"

namespace {

using Bytes = std::vector<BYTE>;

constexpr const char* kDefinition = "PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100\n";

/* Empty text runs beside text runs (dropped), text in a table, and a body
 * that ends in a paragraph record, so the pass adds an empty text run. */
const std::string kCleanupBody = std::string(kDefinition) + R"(PABREF id=1
TEXT text="first"
TEXT text=""
TEXT text="second"
PARAGRAPH
TABLEBEGIN
TABLECELL row=0 column=0 rowspan=0 colspan=0
PABREF id=1
TEXT text="cell"
TEXT text=""
TABLEEND
PARAGRAPH
PABREF id=1
TEXT text=""
TEXT text="last"
PARAGRAPH
)";

/* What the pass makes of it, in one stored item. */
const std::string kCleanedBody = std::string(kDefinition) + R"(PABREF id=1
TEXT text="first"
TEXT text="second"
PARAGRAPH
TABLEBEGIN
TABLECELL row=0 column=0 rowspan=0 colspan=0
PABREF id=1
TEXT text="cell"
TABLEEND
PARAGRAPH
PABREF id=1
TEXT text="last"
PARAGRAPH
TEXT text=""
)";

/* Two stored items whose rebuilt form is two items again, with empty text
 * runs in both. */
std::string TwoItemBody() {
  std::string script = std::string(kDefinition) + "PABREF id=1\n";
  std::string second = "ITEM\nPABREF id=1\n";
  for (int run = 0; run < 40; ++run) {
    script += "TEXT text=\"" + std::string(1000, static_cast<char>('a' + run % 26)) + "\"\n";
    second += "TEXT text=\"" + std::string(500, static_cast<char>('A' + run % 26)) + "\"\n";
    if (run % 10 == 0) {
      script += "TEXT text=\"\"\n";
      second += "TEXT text=\"\"\n";
    }
  }
  return script + "PARAGRAPH\n" + second + "PARAGRAPH\n";
}

cdbuild::Body TwoItems() {
  cdbuild::Body body;
  const std::string script = TwoItemBody();
  std::string error;
  size_t start = 0;
  while (start < script.size()) {
    const size_t end = script.find('\n', start);
    const std::string line = script.substr(start, end - start);
    start = end + 1;
    if (line == "ITEM")
      body.NewItem();
    else
      EXPECT_TRUE(cdbuild::BuildScriptLine(line, &body, &error)) << error;
  }
  return body;
}

/* ---- SQLite's allocator, failing at the Nth allocation when armed ---- */

sqlite3_mem_methods original_methods;
long sqlite_allocations = 0;
long sqlite_fail_at = 0; /* 0: never */

bool SqliteAllocationFails() {
  return sqlite_fail_at > 0 && ++sqlite_allocations == sqlite_fail_at;
}
void* FailingMalloc(int size) {
  return SqliteAllocationFails() ? nullptr : original_methods.xMalloc(size);
}
void* FailingRealloc(void* old, int size) {
  return SqliteAllocationFails() ? nullptr : original_methods.xRealloc(old, size);
}

/* ---- the kinds of failure ---- */

enum class Route { AutoSave, Save };

struct fault_control {
  const char* name;
  Route route;
  void (*arm)(int nth);
  bool (*fired)(int nth); /* whether the armed failure was met; disarms */
};

void ArmSqlite(int nth) {
  sqlite_allocations = 0;
  sqlite_fail_at = nth;
}
bool SqliteFailureFired(int nth) {
  const bool fired = sqlite_allocations >= nth;
  sqlite_fail_at = 0;
  return fired;
}

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

class FaultSweepTest : public DatabaseFileFixture<> {
protected:
  /* Every stored value of "Body" of the note, read with the database
   * opened anew; deletes the note afterwards when asked. */
  std::vector<Bytes> StoredValues(NOTEID id, bool remove = false) {
    return note_testing::StoredBodyValues(path_, id, remove);
  }

  /* Action 49 on the stored note in a session of its own that ends with
   * the run: stored by the AutoSave update, or cached and stored by Save.
   * The failure is armed around the part of the run it is meant for. */
  STATUS CleanUp(NOTEID id, Route route, const std::function<void()>& arm) {
    auto* session = new LSXLsiSession;
    auto* item = new VelkoRTItem(session);
    if (route == Route::AutoSave)
      arm();
    STATUS status = item->Connect("", path_.c_str(), id, "Body", 0);
    if (status == NOERROR) {
      item->AutoSave = route == Route::AutoSave;
      item->CacheRecords = route == Route::Save;
      VelkoRTChunk* chunk = item->DefineChunk(definition_);
      status = chunk != nullptr ? operation_(chunk) : STATUS{VELKO_ERR_FAILED};
      if (status == NOERROR && route == Route::Save) {
        arm();
        status = item->Save();
      }
    }
    delete session;
    return status;
  }

  /* The sweep over one control; the number of runs that met a failure. */
  int Sweep(const fault_control& control, const cdbuild::Body& body,
            const std::vector<Bytes>& before, const std::vector<Bytes>& after) {
    int failed = 0;
    const int failures = FailureCount();
    for (int nth = 1; nth < 20000; ++nth) {
      SCOPED_TRACE(std::string(control.name) + " failure " + std::to_string(nth));
      const NOTEID id = StoreBody(body);
      const size_t handles = HostTestLiveHandles();
      HostTestCaptureLog(true);
      HostTestClearLog();
      const STATUS status = CleanUp(id, control.route, [&] { control.arm(nth); });
      const bool fired = control.fired(nth);
      ExpectNoBlockLeft(HostTestLogLines());
      HostTestCaptureLog(false);
      EXPECT_EQ(HostTestLiveHandles(), handles) << HostTestLeakReport();
      const std::vector<Bytes> stored = StoredValues(id, true);
      if (!fired) {
        EXPECT_EQ(status, NOERROR);
        EXPECT_EQ(stored, after);
        return failed;
      }
      ++failed;
      EXPECT_TRUE(stored == before || stored == after)
          << "a mix of the old and the new body, status " << status;
      if (status != NOERROR) {
        EXPECT_EQ(stored, before) << "a failed operation changed the note, status " << status;
      }
      if (FailureCount() > failures)
        return failed; // one run's findings are enough
    }
    ADD_FAILURE() << "the sweep did not end";
    return failed;
  }

  /* Values before and after a run without failures. */
  void Expected(const cdbuild::Body& body, std::vector<Bytes>* before, std::vector<Bytes>* after) {
    const NOTEID id = StoreBody(body);
    *before = StoredValues(id);
    ASSERT_EQ(CleanUp(id, Route::AutoSave, [] {}), NOERROR);
    *after = StoredValues(id, true);
    ASSERT_NE(*before, *after) << "the operation must change the body";
  }

  /* Storage writes: the sweep goes on until the Nth write is past the
   * last one of the update, its commit included. Save, and the operation
   * whose AutoSave update fails, report the failed write. */
  void SweepStorageWrites(const cdbuild::Body& body) {
    std::vector<Bytes> before;
    std::vector<Bytes> after;
    Expected(body, &before, &after);
    for (Route route : {Route::Save, Route::AutoSave}) {
      int failedRuns = 0;
      for (int nth = 1; nth < 100; ++nth) {
        SCOPED_TRACE("storage write " + std::to_string(nth));
        const NOTEID id = StoreBody(body);
        const STATUS status = CleanUp(id, route, [nth] { HostTestFailStorageWrite(nth); });
        HostTestFailStorageWrite(0);
        const std::vector<Bytes> stored = StoredValues(id, true);
        EXPECT_TRUE(stored == before || stored == after) << "a mix, status " << status;
        if (status != NOERROR) {
          EXPECT_EQ(status, ERR_HOST_STORAGE);
          EXPECT_EQ(stored, before);
        } else {
          EXPECT_EQ(stored, after) << "a failed update reported as success";
        }
        if (stored == after) {
          EXPECT_EQ(status, NOERROR);
          break;
        }
        ++failedRuns;
      }
      // The note row, the deletion of the old items, one insert per item
      // and the commit: each of them failed once.
      EXPECT_GE(failedRuns, 3 + static_cast<int>(after.size()));
    }
  }

  /* The operation swept and the chunk it runs on: the clean-up pass over
   * the whole body unless a test says otherwise. */
  const char* definition_ = "Everything";
  std::function<STATUS(VelkoRTChunk*)> operation_ = [](VelkoRTChunk* chunk) {
    return chunk->AlterRichText(ACTION_CLEANUP_TEXT_RUNS, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                                nullptr);
  };
};

const fault_control kMemoryControls[] = {
    {"host memory", Route::AutoSave, HostTestFailAllocation,
     allocation_faults::HostFailureFired},
    {"tracked memory", Route::AutoSave, VelkoTestFailTrackedAllocation,
     allocation_faults::TrackedFailureFired},
};

TEST_F(FaultSweepTest, CleanUpOfOneItemIsAllOrNothingAtEveryFailedAllocation) {
  const cdbuild::Body body = Script(kCleanupBody);
  std::vector<Bytes> before;
  std::vector<Bytes> after;
  Expected(body, &before, &after);
  ASSERT_EQ(after, std::vector<Bytes>{note_testing::Value(Script(kCleanedBody).RecordBytes())});
  for (const fault_control& control : kMemoryControls)
    EXPECT_GT(Sweep(control, body, before, after), 5) << control.name;
}

TEST_F(FaultSweepTest, CleanUpOfTwoItemsIsAllOrNothingAtEveryFailedAllocation) {
  const cdbuild::Body body = TwoItems();
  std::vector<Bytes> before;
  std::vector<Bytes> after;
  Expected(body, &before, &after);
  ASSERT_EQ(before.size(), 2u);
  ASSERT_EQ(after.size(), 2u);
  for (const fault_control& control : kMemoryControls)
    EXPECT_GT(Sweep(control, body, before, after), 5) << control.name;
}

/* Remove of a middle paragraph whose definition is referred to after it:
 * the definition is saved and written again, so the sweep meets the saved
 * list's allocations as well as the rebuilt body's. */
TEST_F(FaultSweepTest, RemoveOfAParagraphIsAllOrNothingAtEveryFailedAllocation) {
  const cdbuild::Body body = Script(std::string(kDefinition) + R"(PABREF id=1
TEXT text="first"
PARAGRAPH
PABDEF id=2 flags=0x0100 left=2880 ext=1440,0,1440,0,0,100
PABREF id=2
TEXT text="second"
PARAGRAPH
TEXT text="third"
PARAGRAPH
PABREF id=2
TEXT text="fourth"
)");
  definition_ = "Paragraph 2";
  operation_ = [](VelkoRTChunk* chunk) { return chunk->Remove(); };
  std::vector<Bytes> before;
  std::vector<Bytes> after;
  Expected(body, &before, &after);
  for (const fault_control& control : kMemoryControls)
    EXPECT_GT(Sweep(control, body, before, after), 5) << control.name;
}

/* Text runs in and around a table, a section and a short definition. */
const char* const kSettingsBody = R"(PABDEF id=1 flags=0x0100
PABDEF id=2 flags=0x0100 ext=1440,0,1440,0,0,100
PABREF id=1
TEXT face=4 size=12 text="first run"
TEXT text=""
TEXT text="second run"
SECTIONBAR title="Section"
TEXT text="in the section"
PARAGRAPH
TABLEBEGIN
TABLECELL row=0 column=0 rowspan=0 colspan=0
PABREF id=2
TEXT text="cell"
TABLEEND
PARAGRAPH
PABREF id=1
TEXT text="last"
)";

/* The property settings stored at once under AutoSave: SetText (with a
 * colour from its font string, so the text is wrapped in begin, colour and
 * end records), a section title and the expansion of paragraph
 * definitions. */
TEST_F(FaultSweepTest, PropertySettingsAreAllOrNothingAtEveryFailedAllocation) {
  const struct {
    const char* name;
    WORD action;
    WORD p2;
    const char* s1;
    const char* s2;
  } settings[] = {
      {"SetText with a colour", ACTION_SET_TEXT, 8, "new text", "RED"},
      {"SectionTitle", ACTION_SET_SECTION_TITLE, 5, "Title", nullptr},
      {"ExpandPabDefs", ACTION_EXPAND_PAB_DEFS, 0, "", nullptr},
  };
  const cdbuild::Body body = Script(kSettingsBody);
  for (const auto& setting : settings) {
    SCOPED_TRACE(setting.name);
    operation_ = [&](VelkoRTChunk* chunk) {
      return chunk->AlterRichText(setting.action, PROP_TEXT, setting.p2, 0, 0, setting.s1,
                                  setting.s2, nullptr, nullptr);
    };
    std::vector<Bytes> before;
    std::vector<Bytes> after;
    Expected(body, &before, &after);
    for (const fault_control& control : kMemoryControls)
      EXPECT_GT(Sweep(control, body, before, after), 0) << control.name;
  }
}

/* HideFormula set through the property method, on the whole item and on
 * one paragraph of three that share a definition (saved, and written
 * again after the paragraph): the compile, the saved list, the hide
 * records and the rebuilt body all meet failures. */
TEST_F(FaultSweepTest, HideFormulaIsAllOrNothingAtEveryFailedAllocation) {
  const cdbuild::Body body = Script(std::string(kDefinition) + R"(PABREF id=1
TEXT text="first"
PARAGRAPH
PABREF id=1
TEXT text="second"
PARAGRAPH
PABREF id=1
TEXT text="third"
)");
  operation_ = [](VelkoRTChunk* chunk) {
    if (chunk->SetPropertyText("HideFormula", "@True", 0) == 1)
      return STATUS{NOERROR};
    return chunk->status != NOERROR ? chunk->status : STATUS{VELKO_ERR_FAILED};
  };
  for (const char* definition : {"Everything", "Paragraph 2"}) {
    SCOPED_TRACE(definition);
    definition_ = definition;
    std::vector<Bytes> before;
    std::vector<Bytes> after;
    Expected(body, &before, &after);
    for (const fault_control& control : kMemoryControls)
      EXPECT_GT(Sweep(control, body, before, after), 3) << control.name;
  }
}

/* A graphic's image moved into a file object of the note: the object's
 * buffer, its "$FILE" item and the rebuilt body meet failures; and the
 * pass-through set of one paragraph. */
TEST_F(FaultSweepTest, GraphicStorageAndPassthruAreAllOrNothingAtEveryFailedAllocation) {
  const cdbuild::Body body = Script(std::string(kDefinition) + R"(PABREF id=1
TEXT text="before"
PARAGRAPH
PABREF id=1
GRAPHIC destwidth=720 destheight=720 resize=1
IMAGEHEADER type=1 width=2 height=2 datasize=6 segments=1
IMAGESEGMENT data="GIF89a"
TEXT text="after"
)");
  const struct {
    const char* name;
    const char* definition;
    std::function<STATUS(VelkoRTChunk*)> operation;
  } cases[] = {
      {"GraphicStorage", "Graphic 1",
       [](VelkoRTChunk* chunk) {
         if (chunk->SetPropertyText("GraphicStorage", "storage", 0) == 1)
           return STATUS{NOERROR};
         return chunk->status != NOERROR ? chunk->status : STATUS{VELKO_ERR_FAILED};
       }},
      // The action alone: the property method stores it before its
      // clean-up pass, a second operation with a failure of its own.
      {"PassthruHTML", "Paragraph 2",
       [](VelkoRTChunk* chunk) {
         return chunk->AlterRichText(ACTION_SET_PASSTHRU_HTML, 1, 0, 0, 0, nullptr, nullptr,
                                     nullptr, nullptr);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    definition_ = c.definition;
    operation_ = c.operation;
    std::vector<Bytes> before;
    std::vector<Bytes> after;
    Expected(body, &before, &after);
    for (const fault_control& control : kMemoryControls)
      EXPECT_GT(Sweep(control, body, before, after), 3) << control.name;
  }
}

/* The font changes of text runs: ChangeFont re-emits an enveloped run, a
 * run with a text effect and a long run (built in memory of its own),
 * HighlightText splits runs into pieces, each with its own records, and a
 * link property rewrites a link: every record built meets failures. */
TEST_F(FaultSweepTest, FontChangesAreAllOrNothingAtEveryFailedAllocation) {
  const cdbuild::Body body = Script(std::string(kDefinition) + "PABREF id=1\nTEXT text=\"" +
                                    std::string(600, 'x') + " part\"\n" + R"(
BEGIN sig=TEXT
TEXT text="blue part"
COLOR rgb=0x102030
END sig=TEXT
RAW sig=0xFFC3 data=0180000A
TEXT text="shadow part" attributes=shadow
DOCLINK notelink=00 texts="pop\0hint\0"
TEXT text="blue"
)");
  const std::function<STATUS(VelkoRTChunk*)> operations[] = {
      [](VelkoRTChunk* chunk) { return chunk->ChangeFont("+BOLD 12pt", nullptr, 0); },
      [](VelkoRTChunk* chunk) { return chunk->HighlightText("part", 0); },
      [](VelkoRTChunk* chunk) {
        return chunk->SetPropertyText("LinkAnchorText", "anchor", 0) == 1 ? NOERROR
                                                                           : chunk->status;
      },
  };
  for (const auto& operation : operations) {
    operation_ = operation;
    std::vector<Bytes> before;
    std::vector<Bytes> after;
    Expected(body, &before, &after);
    for (const fault_control& control : kMemoryControls)
      EXPECT_GT(Sweep(control, body, before, after), 1) << control.name;
  }
}

/* Storage writes of the clean-up pass, over one item and over two. */
TEST_F(FaultSweepTest, EveryFailedStorageWriteOfSaveOrCommitLeavesTheOldOrTheNewNote) {
  for (const cdbuild::Body& body : {Script(kCleanupBody), TwoItems()})
    SweepStorageWrites(body);
}

/* ReplaceTextQuick over a button, a section title, a hide-when formula
 * (decompiled and compiled again) and text runs it leaves alone: every
 * failed allocation and every failed storage write of its commit leaves
 * the old note or the new one, and a reported failure the old one. */
TEST_F(FaultSweepTest, ReplaceTextQuickIsAllOrNothingAtEveryFailure) {
  const cdbuild::Body body = Script(std::string(kDefinition) + R"(PABREF id=1
TEXT text="Old text"
BUTTON label="Old button"
SECTIONBAR flags=0x04000000 title="Old section"
PARAGRAPH
PABHIDE source="Status = \"Old\""
PABREF id=1
TEXT text="last"
)");
  operation_ = [](VelkoRTChunk* chunk) {
    return chunk->ReplaceTextQuick("Old", 3, "Newer", 5, "NONTEXT HIDEWHEN");
  };
  std::vector<Bytes> before;
  std::vector<Bytes> after;
  Expected(body, &before, &after);
  for (const fault_control& control : kMemoryControls)
    EXPECT_GT(Sweep(control, body, before, after), 3) << control.name;
  SweepStorageWrites(body);
}

/* SQLite's own allocations: its allocator is replaced while SQLite is shut
 * down (no connection is open after the host's reset). */
TEST_F(FaultSweepTest, EveryFailedSqliteAllocationOfSaveLeavesTheOldOrTheNewNote) {
  HostTestReset();
  ASSERT_EQ(sqlite3_shutdown(), SQLITE_OK);
  ASSERT_EQ(sqlite3_config(SQLITE_CONFIG_GETMALLOC, &original_methods), SQLITE_OK);
  sqlite3_mem_methods failing = original_methods;
  failing.xMalloc = FailingMalloc;
  failing.xRealloc = FailingRealloc;
  ASSERT_EQ(sqlite3_config(SQLITE_CONFIG_MALLOC, &failing), SQLITE_OK);
  ASSERT_EQ(sqlite3_initialize(), SQLITE_OK);

  const cdbuild::Body body = Script(kCleanupBody);
  std::vector<Bytes> before;
  std::vector<Bytes> after;
  Expected(body, &before, &after);
  const fault_control control = {"SQLite allocation", Route::Save, ArmSqlite, SqliteFailureFired};
  EXPECT_GT(Sweep(control, body, before, after), 5);

  HostTestReset();
  sqlite3_shutdown();
  sqlite3_config(SQLITE_CONFIG_MALLOC, &original_methods);
  sqlite3_initialize();
}

/* An HTML import: tidy's blocks, the import's record list and the body it
 * writes all meet failures (with paragraph styles, also the parse of each
 * style and the definitions it writes); a refusal anywhere is 263 and
 * leaves the note, and every block tidy held is given back. */
TEST_F(FaultSweepTest, HtmlImportIsAllOrNothingAtEveryFailedAllocation) {
  const cdbuild::Body body = Script(std::string(kDefinition) + "PABREF id=1\nTEXT text=\"x\"\n");
  for (const char* html : {"<p>a <b>bold</b> &eacute;</p><pre>c\nd</pre><h2>title</h2>",
                           "<p align=center>a</p><ul><li>b</li></ul><p>c</p>"}) {
    SCOPED_TRACE(html);
    operation_ = [html](VelkoRTChunk* chunk) {
      const STATUS status = chunk->AppendHTML("INLINE", html, "");
      EXPECT_TRUE(status == NOERROR || status == VELKO_ERR_MEMORY) << status;
      return status;
    };
    std::vector<Bytes> before;
    std::vector<Bytes> after;
    Expected(body, &before, &after);
    for (const fault_control& control : kMemoryControls)
      // The parser cuts its blocks from a few large ones, so the host's
      // memory is asked for only a dozen times or so.
      EXPECT_GT(Sweep(control, body, before, after), 10) << control.name;
  }
}

} // namespace
