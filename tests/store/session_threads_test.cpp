// Sessions share nothing: operations of two sessions interleaved step by
// step give what each gives alone (the emitter's last record type, the
// renderer's debug level, the break test), and two threads, each rendering
// and editing its own note through its own session, run side by side.
// scripts/test runs these tests once more under ThreadSanitizer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "chunk/rtchunk_internal.h"
#include "engine/driver.h"
#include "engine/process_state.h"
#include "engine/services.h"
#include "host/host_testing.h"
#include "host/nls.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/body.h"
#include "store/emitter.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "store/vocabulary.h"
#include "tests/support/note_fixture.h"
#include "cdbuild/cd_builder.h"
#include "velko/status.h"

namespace {

using note_testing::Bytes;

constexpr const char* kDbPath = "mem:sessionthreads";

Bytes Definition() { return note_testing::DefaultDefinition(1); }

/* A body of `paragraphs` paragraphs of text, the run of each split in two
 * (the clean-up pass merges them). */
Bytes Paragraphs(int paragraphs, const std::string& word) {
  std::vector<Bytes> records = {Definition()};
  for (int i = 0; i < paragraphs; ++i) {
    records.push_back(cdbuild::Paragraph());
    records.push_back(cdbuild::PabRef(1));
    records.push_back(cdbuild::Text(word + " " + std::to_string(i) + " "));
    records.push_back(cdbuild::Text("and some more words to fill the line"));
  }
  return note_testing::Records(records);
}

class SessionThreadsTest : public ::testing::Test {
protected:
  void SetUp() override {
    handles_ = note_testing::ResetHostCapturing();
    ASSERT_EQ(note_testing::CreateDatabase(kDbPath, &db_), NOERROR);
  }
  void TearDown() override {
    NSFDbClose(db_);
    HostTestSetEnvironment("OstrafineDebug", nullptr);
    EXPECT_EQ(HostTestLiveHandles(), handles_) << HostTestLeakReport();
    HostTestReset();
  }

  NOTEID StoreNote(const Bytes& records) {
    const NOTEID id = note_testing::StoreNote(db_, records);
    EXPECT_NE(id, 0u);
    return id;
  }

  DBHANDLE db_ = NULLHANDLE;
  size_t handles_ = 0;
};

/* ---- the emitter: a session of its own and an output body on a note ---- */

struct emitter_session {
  explicit emitter_session(DBHANDLE db) {
    EXPECT_EQ(NSFNoteCreate(db, &note), NOERROR);
    item = note_testing::BindItem(&session, note, "Body");
    gen.session = &session;
    gen.item = item;
    EXPECT_EQ(CreateBodyItem(&gen), NOERROR);
  }
  ~emitter_session() {
    ReleaseSavedDefinitions(&session);
    note_testing::UnbindItem(item);
    NSFNoteClose(note);
  }
  STATUS Emit(const Bytes& record) {
    const WORD signature =
        record[1] == 0xFF ? static_cast<WORD>(record[0] | record[1] << 8) : record[0];
    return CopyCDUpdated(record.data(), signature, static_cast<DWORD>(record.size()), &gen);
  }
  std::vector<std::string> Output() { return note_testing::Describe(item->internal->output->records); }

  LSXLsiSession session;
  NOTEHANDLE note = NULLHANDLE;
  VelkoRTItem* item = nullptr;
  generation_context gen;
};

/* Records of two emitters, one step of each in turn: the paragraph break
 * that a table begin gets depends on the record its own session emitted
 * last, not on the other session's. */
TEST_F(SessionThreadsTest, InterleavedEmittersGiveWhatEachGivesAlone) {
  const std::vector<Bytes> first = {Definition(), cdbuild::Paragraph(), cdbuild::TableBegin(),
                                    cdbuild::TableCell({}), cdbuild::Paragraph(),
                                    cdbuild::Text("a"), cdbuild::TableEnd()};
  const std::vector<Bytes> second = {Definition(), cdbuild::PabRef(1), cdbuild::Text("b"),
                                     cdbuild::Text("c"), cdbuild::TableBegin(),
                                     cdbuild::TableCell({}), cdbuild::TableEnd()};
  auto alone = [this](const std::vector<Bytes>& records) {
    emitter_session run(db_);
    for (const Bytes& record : records)
      EXPECT_EQ(run.Emit(record), NOERROR);
    return run.Output();
  };
  const std::vector<std::string> firstAlone = alone(first);
  const std::vector<std::string> secondAlone = alone(second);
  // The table begin after a paragraph needs no break of its own; after text
  // it gets one.
  EXPECT_THAT(firstAlone, testing::ElementsAre("<FF82>", "<0081>", "<00A3>", "<00A4>", "<0081>",
                                               "a", "<00A5>"));
  EXPECT_THAT(secondAlone, testing::ElementsAre("<FF82>", "<0083>", "b", "c", "<0081>", "<00A3>",
                                                "<00A4>", "<00A5>"));

  emitter_session a(db_);
  emitter_session b(db_);
  for (size_t step = 0; step < first.size(); ++step) {
    EXPECT_EQ(a.Emit(first[step]), NOERROR) << step;
    EXPECT_EQ(b.Emit(second[step]), NOERROR) << step;
  }
  EXPECT_EQ(a.Output(), firstAlone);
  EXPECT_EQ(b.Output(), secondAlone);
}

/* ---- sessions with an item connected to a stored note ---- */

/* A session of its own with an item connected to the note, its chunk on
 * the whole body, and a chunk on a table the body does not have (where a
 * row sort prepares without writing). */
struct chunk_session {
  explicit chunk_session(NOTEID id) {
    item = new VelkoRTItem(session.get()); // the session deletes it
    EXPECT_EQ(item->Connect("", kDbPath, id, "Body", 0), NOERROR);
    everything = item->DefineChunk("Everything");
    no_table = item->DefineChunk("Table 1");
    EXPECT_NE(everything, nullptr);
    EXPECT_NE(no_table, nullptr);
  }

  /* The rendered HTML: the pieces handed to the callback, then the
   * returned text. */
  std::string Render(const char* options, ActOnTextCallback callback) {
    pieces.clear();
    char* result = everything->GenerateHTML("", "HTML", options, 0, callback, nullptr);
    EXPECT_NE(result, nullptr);
    if (result == nullptr)
      return "(null)";
    const std::string text = pieces + std::string(result, session->render_result_length);
    VelkoDeallocatePtr(session.get(), result);
    return text;
  }

  STATUS CleanUp() {
    return everything->AlterRichText(ACTION_CLEANUP_TEXT_RUNS, 0, 0, 0, 0, nullptr, nullptr,
                                     nullptr, nullptr);
  }

  /* Gives the table chunk keys as the key-gathering action leaves them
   * and sorts them in the given order. */
  STATUS Sort(const char* order) {
    const char* texts[] = {"b", "B", "a"};
    auto* keys = static_cast<chunk_sort_key*>(
        VelkoAllocatePtr(session.get(), VELKO_HERE, sizeof(chunk_sort_key) * 3, 1));
    for (WORD i = 0; i < 3; ++i) {
      keys[i] = chunk_sort_key{};
      keys[i].first_record = 10u * (i + 1);
      keys[i].text = CopyKeyText(session.get(), &no_table->internal->sort_key_texts, texts[i], 1);
      keys[i].length = 1;
    }
    no_table->internal->sort_keys = keys;
    no_table->internal->sort_key_count = 3;
    return no_table->AlterRichText(ACTION_SORT_BY_ROW, 0, 0, 0, 0, order, nullptr, nullptr,
                                   nullptr);
  }

  std::vector<Bytes> Stored() { return note_testing::ItemValues(item->note, "Body"); }

  std::unique_ptr<LSXLsiSession> session = std::make_unique<LSXLsiSession>();
  VelkoRTItem* item = nullptr;
  VelkoRTChunk* everything = nullptr;
  VelkoRTChunk* no_table = nullptr;
  std::string pieces;
};

/* Set by the single-thread tests for the callbacks below. */
chunk_session* g_rendering = nullptr;
std::function<void()> g_once;

WORD RecordPiece(VelkoRTChunk*, const char* text, WORD length) {
  g_rendering->pieces.append(text, length);
  if (g_once) {
    std::function<void()> once = std::move(g_once);
    g_once = nullptr;
    once();
  }
  return 0;
}

/* Trace lines: the level a session's render read stays that session's,
 * whatever another session's render reads in the meantime. The first
 * session's first output piece runs the second session's whole render
 * with the setting at 0. */
TEST_F(SessionThreadsTest, RenderKeepsItsDebugLevelWhileAnotherRenders) {
  const Bytes first = Paragraphs(6, "first");
  const Bytes second = Paragraphs(2, "second");
  const char* options = "OutputToEvent=100 OutputAllToEvent=Yes";

  HostTestSetEnvironment("OstrafineDebug", "0");
  chunk_session secondAloneRun(StoreNote(second));
  const std::string secondAlone = secondAloneRun.Render(nullptr, nullptr);
  HostTestSetEnvironment("OstrafineDebug", "3");
  chunk_session firstAloneRun(StoreNote(first));
  g_rendering = &firstAloneRun;
  HostTestClearLog();
  const std::string firstAlone = firstAloneRun.Render(options, RecordPiece);
  const std::vector<std::string> firstTraces = HostTestLogLines();
  EXPECT_THAT(firstTraces, testing::Contains("PrXMLStr - Step 5b - after"));

  chunk_session a(StoreNote(first));
  chunk_session b(StoreNote(second));
  std::string secondInterleaved;
  g_rendering = &a;
  g_once = [&] {
    HostTestSetEnvironment("OstrafineDebug", "0");
    secondInterleaved = b.Render(nullptr, nullptr);
    HostTestSetEnvironment("OstrafineDebug", "3");
  };
  HostTestClearLog();
  EXPECT_EQ(a.Render(options, RecordPiece), firstAlone);
  EXPECT_EQ(g_once, nullptr) << "the second render ran inside the first";
  EXPECT_EQ(HostTestLogLines(), firstTraces);
  EXPECT_EQ(secondInterleaved, secondAlone);
  g_rendering = nullptr;
}

/* The break test a session installs is called by its own walks only; the
 * global one stays for sessions without their own. */
int g_breaks = 0;
std::function<void()> g_in_break;
WORD CountAndRun() {
  ++g_breaks;
  if (g_in_break) {
    std::function<void()> run = std::move(g_in_break);
    g_in_break = nullptr;
    run();
  }
  return 0;
}
WORD Interrupt() { return 1; }

TEST_F(SessionThreadsTest, BreakTestBelongsToItsSession) {
  const Bytes body = Paragraphs(30, "word"); // 121 records: tests at 1 and 101
  chunk_session aloneRun(StoreNote(body));
  aloneRun.item->AutoSave = 1;
  ASSERT_EQ(aloneRun.CleanUp(), NOERROR);
  const std::vector<Bytes> cleaned = aloneRun.Stored();

  // The first session's break test runs the second session's walk, which
  // has none of its own and so calls none.
  chunk_session a(StoreNote(body));
  chunk_session b(StoreNote(body));
  a.item->AutoSave = 1;
  b.item->AutoSave = 1;
  a.session->SetControlBreak(CountAndRun);
  g_breaks = 0;
  STATUS inner = VELKO_ERR_FAILED;
  g_in_break = [&] { inner = b.CleanUp(); };
  EXPECT_EQ(a.CleanUp(), NOERROR);
  EXPECT_EQ(inner, NOERROR);
  EXPECT_EQ(g_breaks, 2);
  EXPECT_EQ(a.Stored(), cleaned);
  EXPECT_EQ(b.Stored(), cleaned);

  // The global break test serves the sessions without their own.
  chunk_session c(StoreNote(body));
  ControlBreak = Interrupt;
  g_breaks = 0;
  EXPECT_EQ(c.CleanUp(), VELKO_ERR_FAILED);
  EXPECT_EQ(a.CleanUp(), NOERROR);
  EXPECT_EQ(g_breaks, 2);
  ControlBreak = nullptr;
}

/* ---- two threads ---- */

/* What one thread's round gives: the rendered note, the stored body after
 * the clean-up pass, the compare flags of its sort. */
struct round_result {
  std::string rendered;
  std::vector<Bytes> stored;
  WORD sort_flags = 0;
  bool operator==(const round_result&) const = default;
};

TEST_F(SessionThreadsTest, TwoThreadsRenderAndEditThroughTheirOwnSessions) {
  struct thread_setup {
    std::string word;
    WORD case_sensitive;
    const char* preference;
    WORD suppress;
  };
  const thread_setup setups[2] = {{"first", 1, "Web", 1}, {"second", 0, "Notes", 0}};
  // Forty paragraphs give each walk and render enough work between two
  // host calls (each behind the host's lock) for the threads to overlap.
  auto round = [this](const thread_setup& setup) {
    chunk_session run(StoreNote(Paragraphs(40, setup.word)));
    run.item->AutoSave = 1;
    run.item->SetPropertyText("ClientPreference", setup.preference, 0);
    run.item->SetPropertyNumber("SuppressMessages", setup.suppress);
    run.no_table->CaseSensitive = setup.case_sensitive;
    round_result result;
    EXPECT_EQ(run.CleanUp(), NOERROR);
    result.stored = run.Stored();
    // The chunk holds no table: no row opens and nothing is appended; the
    // compare flags are set before the walk.
    EXPECT_EQ(run.Sort("numeric"), NOERROR);
    result.sort_flags = run.session->internal->sort_compare_flags;
    result.rendered = run.Render(nullptr, nullptr);
    return result;
  };
  const round_result expected[2] = {round(setups[0]), round(setups[1])};
  EXPECT_EQ(expected[0].sort_flags, INTL_ACCENT_SENSITIVE | INTL_CASE_SENSITIVE);
  EXPECT_EQ(expected[1].sort_flags, INTL_ACCENT_SENSITIVE);

  constexpr int kRounds = 8;
  std::vector<round_result> results[2];
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i)
        results[t].push_back(round(setups[t]));
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  for (int t = 0; t < 2; ++t) {
    ASSERT_EQ(results[t].size(), static_cast<size_t>(kRounds));
    for (const round_result& result : results[t])
      EXPECT_TRUE(result == expected[t]) << "thread " << t;
  }
}

}  // namespace
