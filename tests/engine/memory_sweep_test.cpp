// Out of memory as the C++ runtime reports it: with the global operator
// new of this binary throwing std::bad_alloc at its Nth call
// (tests/support/failing_new.h), a run through the class interface
// (InitializeTempDirectory, Connect to a note of a database file, Exists,
// GenerateHTML and the free of its result, the clean-up pass (action 49)
// and Save) is made once for every N until a run meets no failure. No
// exception may leave the library; every status is 0 or 263; no host
// memory handle is left behind; a rendering the chunk reports whole holds
// every text, translated for output, that the clean run's holds; and the
// note, read again from the file, is exactly as before or exactly as the
// clean run leaves it: new only when the pass and Save both succeeded.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cdbuild/cd_script.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/vocabulary.h"
#include "tests/support/failing_new.h"
#include "tests/support/note_fixture.h"
#include "tests/support/stored_values.h"
#include "velko/velko.h"

namespace {

using Bytes = std::vector<BYTE>;
using failing_new::Unarmed;

/* Text in code page 850 and in a UTF-16 group of LMBCS, so that loading
 * and rendering translate characters; empty text runs for the clean-up
 * pass to drop, in a table too; a body that ends in a paragraph record, so
 * the pass adds a text run. */
constexpr const char* kBody = R"(PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100
PABREF id=1
TEXT text="caf\x82 \x14\x4E\x2D and more"
TEXT text=""
TEXT text="second" attributes=bold
PARAGRAPH
TABLEBEGIN
TABLECELL row=0 column=0 rowspan=0 colspan=0
PABREF id=1
TEXT text="cell \x81ber"
TEXT text=""
TABLEEND
PARAGRAPH
)";

/* The texts of the body as the rendering writes them. */
const char* const kRenderedTexts[] = {"caf&eacute; &#20013; and more", "second",
                                      "cell &uuml;ber"};

/* What one run met. */
struct RunResult {
  RunResult() { statuses.reserve(3); }
  void Keep(STATUS status) { statuses.push_back(status); } /* within the room made */

  std::vector<STATUS> statuses; /* of Connect, the pass and Save */
  bool cleaned = false;         /* the pass succeeded */
  bool saved = false;           /* Save succeeded */
  int exists = -1;
  bool rendered = false; /* GenerateHTML gave a block */
  STATUS render_status = NOERROR;
  std::string html;
};

class MemorySweepTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    HostTestCaptureLog(true);
    HostTestCaptureMessages();
    // InitializeTempDirectory then logs the directory it fixed.
    HostTestSetEnvironment("TarnoDebug", "1");
    // A file of this process's own: other test runs may share the directory.
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    path_ = (std::filesystem::path(::testing::TempDir()) /
             ("velko_" + name + "_" + std::to_string(getpid()) + ".nsf"))
                .string();
    std::filesystem::remove(path_);
    ASSERT_EQ(NSFDbCreate(path_.c_str(), DBCLASS_NOTEFILE, TRUE), NOERROR);
    cdbuild::ScriptError error;
    ASSERT_TRUE(cdbuild::BuildScript(kBody, &body_, &error)) << error.line << ": " << error.message;
  }
  void TearDown() override {
    failing_new::Disarm();
    HostTestReset();
    std::filesystem::remove(path_);
  }

  NOTEID StoreNote() {
    DBHANDLE db = NULLHANDLE;
    EXPECT_EQ(NSFDbOpen(path_.c_str(), &db), NOERROR);
    const NOTEID id = note_testing::StoreNoteWith(
        db, [&](NOTEHANDLE note) { return body_.AppendItems(note, "Body"); });
    EXPECT_NE(id, 0u);
    NSFDbClose(db);
    return id;
  }

  /* The "Body" values of the note with the database opened anew; the note
   * is deleted afterwards when asked. */
  std::vector<Bytes> StoredValues(NOTEID id, bool remove) {
    return note_testing::StoredBodyValues(path_, id, remove);
  }

  /* One run in a session of its own, armed at the Nth allocation (0: not
   * armed) once the session and the item are made: their constructors
   * report short memory as std::bad_alloc by design. */
  RunResult Run(NOTEID id, long nth) {
    RunResult result;
    auto* session = new LSXLsiSession;
    auto* item = new VelkoRTItem(session);
    failing_new::Arm(nth);
    const auto guarded = [](const char* operation, auto call) {
      try {
        call();
      } catch (const std::exception& thrown) {
        const Unarmed unarmed;
        ADD_FAILURE() << operation << " let out " << thrown.what();
      } catch (...) {
        const Unarmed unarmed;
        ADD_FAILURE() << operation << " let out an exception";
      }
    };
    guarded("InitializeTempDirectory", [&] { session->InitializeTempDirectory(); });
    STATUS connected = VELKO_ERR_FAILED;
    guarded("Connect", [&] { connected = item->Connect("", path_.c_str(), id, "Body", 0); });
    result.Keep(connected);
    VelkoRTChunk* chunk = nullptr;
    if (connected == NOERROR) {
      item->CacheRecords = 1; // the pass caches its records; Save stores them
      guarded("DefineChunk", [&] { chunk = item->DefineChunk("Everything"); });
    }
    if (chunk != nullptr) {
      guarded("Exists", [&] { result.exists = chunk->Exists(); });
      char* html = nullptr;
      guarded("GenerateHTML", [&] {
        html = chunk->GenerateHTML(nullptr, "XHTML 1.0", "", 0, nullptr, nullptr);
      });
      if (html != nullptr) {
        const Unarmed unarmed;
        result.rendered = true;
        result.render_status = chunk->status;
        result.html.assign(html, session->render_result_length);
      }
      guarded("VelkoDeallocatePtr", [&] { VelkoDeallocatePtr(session, html); });
      STATUS cleaned = VELKO_ERR_FAILED;
      guarded("AlterRichText", [&] {
        cleaned = chunk->AlterRichText(ACTION_CLEANUP_TEXT_RUNS, 0, 0, 0, 0, nullptr, nullptr,
                                       nullptr, nullptr);
      });
      result.Keep(cleaned);
      result.cleaned = cleaned == NOERROR;
      STATUS saved = VELKO_ERR_FAILED;
      guarded("Save", [&] { saved = item->Save(); });
      result.Keep(saved);
      result.saved = saved == NOERROR;
    }
    failing_new::Disarm();
    delete session;
    return result;
  }

  std::string path_;
  cdbuild::Body body_;
};

TEST_F(MemorySweepTest, EveryFailedAllocationIsAStatusAndLeavesTheNoteOldOrNew) {
  // The clean run: what every other run is held to.
  const NOTEID reference = StoreNote();
  const std::vector<Bytes> before = StoredValues(reference, false);
  const RunResult clean = Run(reference, 0);
  ASSERT_EQ(clean.statuses, (std::vector<STATUS>{NOERROR, NOERROR, NOERROR}));
  ASSERT_EQ(clean.exists, 1);
  ASSERT_TRUE(clean.rendered);
  ASSERT_EQ(clean.render_status, NOERROR);
  for (const char* text : kRenderedTexts)
    ASSERT_NE(clean.html.find(text), std::string::npos) << text << " in " << clean.html;
  const std::vector<Bytes> after = StoredValues(reference, true);
  ASSERT_NE(before, after);

  long runs = 0;
  for (long nth = 1;; ++nth) {
    SCOPED_TRACE("allocation " + std::to_string(nth));
    const NOTEID id = StoreNote();
    const size_t handles = HostTestLiveHandles();
    const RunResult run = Run(id, nth);
    const bool fired = failing_new::Fired(nth);
    EXPECT_EQ(HostTestLiveHandles(), handles) << HostTestLeakReport();
    const std::vector<Bytes> stored = StoredValues(id, true);
    ++runs;
    if (!fired) {
      EXPECT_EQ(run.statuses, clean.statuses);
      EXPECT_EQ(run.html, clean.html);
      EXPECT_EQ(stored, after);
      break;
    }
    for (STATUS status : run.statuses)
      EXPECT_TRUE(status == NOERROR || status == VELKO_ERR_MEMORY) << "status " << status;
    if (run.rendered && run.render_status != NOERROR) {
      EXPECT_EQ(run.render_status, VELKO_ERR_MEMORY);
    } else if (run.rendered) {
      for (const char* text : kRenderedTexts)
        EXPECT_NE(run.html.find(text), std::string::npos)
            << text << " missing from a rendering reported whole: " << run.html;
    }
    EXPECT_EQ(stored, run.cleaned && run.saved ? after : before)
        << "cleaned " << run.cleaned << ", saved " << run.saved;
    if (HasFailure())
      break; // one run's findings are enough
  }
  EXPECT_GT(runs, 100);
  RecordProperty("runs", static_cast<int>(runs));
}

} // namespace
