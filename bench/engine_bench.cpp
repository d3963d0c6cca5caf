// The chunk engine on large bodies: generated rich text of about 5, 10, 20
// and 40 MB (paragraphs of text runs in several fonts, tables of cells)
// stored as a real note's items, then timed as the plain load, the load
// with Commit, a reading walk over loaded records (action 1 on
// "Everything"), a writing walk with load and Commit (action 49), Remove
// of a middle paragraph, a
// reading walk with a chunk that opens at every table cell, the margin
// query (action 36, MaxRightMargin) over "Everything", ChangeFont over
// "Everything" (load, the writing walk and Commit), and the reads of the
// stored values (the item checksum, all text) and a text find that matches
// nothing over loaded records; AppendRTChunk of the whole body into an
// empty item; and the row keys of a row sort (action 11)
// over a table of 5,000, 10,000 and 20,000 rows against the plain load of
// that table; and ReplaceTextQuick over "Everything", with load and Commit
// of the body it writes (more records than its input); and the writing
// operations over "Everything" timed in pairs with load and Commit, in
// turn, for a ratio taken side by side (BM_PairedWithLoadAndCommit). Bytes per
// second are the body's stored bytes; the counters give the body's records
// and, for the load, the heap a loaded body takes against its stored bytes
// ("heap/stored"). The ratios printed after the table set the walks
// against the load they build on.
//
// The bodies are written byte by byte in stored form by the record builder,
// split into items as SaveBodyItems splits them; the engine's emitter never
// makes the input.
// Nothing here checks results beyond the statuses; the tests do that.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_support.h"
#include "bench/heap_count.h"
#include "bench/ratio_report.h"
#include "engine/chunk_state.h"
#include "engine/driver.h"
#include "engine/retrieve.h"
#include "host/cdrecords.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/nif.h"
#include "host/formula.h"
#include "host/osmem.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "tests/support/note_fixture.h"
#include "tests/support/record_lines.h"
#include "cdbuild/cd_builder.h"
#include "velko/status.h"

namespace {

using Bytes = std::vector<BYTE>;

constexpr char kDatabase[] = "mem:bench";
constexpr char kItemName[] = "Body";
constexpr size_t kMegabyte = 1000 * 1000;

/* ---- stored records ---- */

/* A cell of one inch at the row and column, its spans left at 0. */
Bytes Cell(BYTE row, BYTE column) {
  return cdbuild::TableCell({.row = row, .column = column, .row_span = 0, .column_span = 0});
}

/* ---- generated bodies ---- */

std::string Words(Sequence& sequence, size_t length) {
  static const char* const kWords[] = {"rich ",   "text ",  "body ",   "record ", "table ",
                                       "cell ",   "font ",  "chunk ",  "engine ", "note ",
                                       "walk ",   "paragraph ", "item ", "stored ", "linear "};
  std::string text;
  while (text.size() < length)
    text += kWords[sequence.Next(sizeof kWords / sizeof kWords[0])];
  text.resize(length);
  return text;
}

/* Records in order, and the bytes they take padded, to size the body by. */
struct BodyBuilder {
  void Add(Bytes record) {
    record_bytes += EvenLength(record.size());
    body.Add(std::move(record));
  }

  cdbuild::Body body;
  size_t record_bytes = 0;
  size_t paragraphs = 0; /* paragraph records outside tables */
};

void AddTextRun(BodyBuilder& body, Sequence& sequence, size_t shortest, size_t spread) {
  const auto face = static_cast<BYTE>(sequence.Next(5));
  const auto attributes = static_cast<BYTE>(sequence.Next(4)); // plain, bold, italic, both
  const auto color = static_cast<BYTE>(sequence.Next(3));
  const auto size = static_cast<BYTE>(9 + sequence.Next(6));
  body.Add(cdbuild::Text(Words(sequence, shortest + sequence.Next(spread)),
                         {face, attributes, color, size}));
}

void AddParagraphs(BodyBuilder& body, Sequence& sequence, int count) {
  for (int paragraph = 0; paragraph < count; ++paragraph) {
    body.Add(cdbuild::Paragraph());
    ++body.paragraphs;
    body.Add(cdbuild::PabRef(static_cast<WORD>(1 + sequence.Next(4))));
    const uint32_t runs = 2 + sequence.Next(3);
    for (uint32_t run = 0; run < runs; ++run)
      AddTextRun(body, sequence, 10, 190);
  }
}

void AddTable(BodyBuilder& body, Sequence& sequence, BYTE rows, BYTE columns) {
  body.Add(cdbuild::TableBegin());
  for (BYTE row = 0; row < rows; ++row) {
    for (BYTE column = 0; column < columns; ++column) {
      body.Add(Cell(row, column));
      body.Add(cdbuild::PabRef(2));
      AddTextRun(body, sequence, 3, 40);
    }
  }
  body.Add(cdbuild::TableEnd());
  body.Add(cdbuild::Paragraph());
  ++body.paragraphs;
  body.Add(cdbuild::PabRef(1));
  AddTextRun(body, sequence, 10, 60);
}

struct generated_body {
  std::vector<std::vector<BYTE>> values;
  size_t bytes = 0;
  size_t records = 0;
  size_t paragraphs = 0;
  NOTEID note_id = 0;
};

/* Stores the body's values as a new note of the database, counting their
 * stored bytes. */
void Store(generated_body* body) {
  for (const auto& value : body->values)
    body->bytes += value.size() + 2; // and the type word
  body->note_id = StoreItems(note_testing::ProcessDatabase(kDatabase), kItemName, body->values);
}

/* About `megabytes` MB of stored records: four paragraph definitions, then
 * paragraphs and tables in turn, ending in a text run. */
BodyBuilder Generate(size_t megabytes) {
  BodyBuilder body;
  Sequence sequence(12345);
  for (WORD id = 1; id <= 4; ++id)
    body.Add(note_testing::DefaultDefinition(id, static_cast<WORD>(720 * id)));
  while (body.record_bytes < megabytes * kMegabyte) {
    AddParagraphs(body, sequence, 8);
    AddTable(body, sequence, static_cast<BYTE>(3 + sequence.Next(5)),
             static_cast<BYTE>(2 + sequence.Next(4)));
  }
  return body;
}

/* The stored note of the body of that size, made on first use. */
const generated_body& Body(size_t megabytes) {
  static std::map<size_t, generated_body> bodies;
  auto found = bodies.find(megabytes);
  if (found != bodies.end())
    return found->second;
  const BodyBuilder built = Generate(megabytes);
  generated_body body;
  body.values = built.body.Items(kBodyItemSplit);
  body.records = built.body.records().size();
  body.paragraphs = built.paragraphs;
  Store(&body);
  return bodies.emplace(megabytes, std::move(body)).first->second;
}

/* A session with the body's item connected. */
struct connection {
  LSXLsiSession session;
  VelkoRTItem* item = nullptr;

  explicit connection(const generated_body& body) {
    item = new VelkoRTItem(&session);
    item->Connect("", kDatabase, body.note_id, kItemName, 0);
  }
};

void Report(benchmark::State& state, const generated_body& body) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.bytes));
  state.counters["records"] = static_cast<double>(body.records);
  state.counters["MB"] = static_cast<double>(body.bytes) / kMegabyte;
}

void Check(benchmark::State& state, STATUS status, const char* what) {
  if (status != NOERROR)
    state.SkipWithError(what);
}

/* ---- the cases ---- */

/* The heap a loaded body takes. */
int64_t LoadedBodyHeap(connection& link) {
  heap_growth heap;
  body_context* context = StoreItemsAndRecords(link.item, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
  const int64_t grown = heap.Peak();
  CleanupBodyContext(&link.session, context);
  delete context;
  return grown;
}

/* Loads of the item's body, timed without their release. */
void TimeLoads(benchmark::State& state, connection& link) {
  for (auto _ : state) {
    body_context* context =
        StoreItemsAndRecords(link.item, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
    state.PauseTiming();
    Check(state, context != nullptr ? context->load_status : STATUS{VELKO_ERR_FAILED}, "load");
    CleanupBodyContext(&link.session, context);
    delete context;
    state.ResumeTiming();
  }
}

void BM_Load(benchmark::State& state) {
  const generated_body& body = Body(static_cast<size_t>(state.range(0)));
  connection link(body);
  const int64_t heap = LoadedBodyHeap(link); // a fresh session: its pool is empty

  TimeLoads(state, link);
  Report(state, body);
  state.counters["heap/stored"] = static_cast<double>(heap) / static_cast<double>(body.bytes);
}

/* Puts the body's generated items back into the connected note, so that
 * each timed operation meets the input the load and Commit are timed on,
 * not what the previous one wrote. */
void RestoreBody(benchmark::State& state, connection& link, const generated_body& body) {
  const NOTEHANDLE note = link.item->note;
  while (NSFItemDelete(note, kItemName, sizeof kItemName - 1) == NOERROR) {
  }
  for (const auto& value : body.values)
    Check(state, note_testing::AppendRecords(note, kItemName, value), "restore");
}

/* Load and Commit of the body, restored untimed before each. */
void TimeLoadAndCommit(benchmark::State& state, const generated_body& body) {
  connection link(body);
  for (auto _ : state) {
    state.PauseTiming();
    RestoreBody(state, link, body);
    state.ResumeTiming();
    link.item->internal->input =
        StoreItemsAndRecords(link.item, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
    Check(state, link.item->Commit(), "commit");
  }
  Report(state, body);
}

/* The load and Commit the writing operations are set against, on the
 * same input: the generated body. */
void BM_LoadAndCommit(benchmark::State& state) {
  TimeLoadAndCommit(state, Body(static_cast<size_t>(state.range(0))));
}

/* The chunk of the definition with the item's records loaded and kept
 * (CacheRecords) before the timing starts; null, with the benchmark
 * skipped, when the definition does not parse. */
VelkoRTChunk* LoadedChunk(benchmark::State& state, connection& link, const char* definition) {
  link.item->CacheRecords = 1;
  VelkoRTChunk* chunk = link.item->DefineChunk(definition);
  if (chunk == nullptr) {
    state.SkipWithError("definition");
    return nullptr;
  }
  Check(state, chunk->AlterRichText(1, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr), "load");
  return chunk;
}

/* A reading walk over records loaded before the timing starts: action 1,
 * or the action and p1 given. */
void ReadingWalk(benchmark::State& state, const char* definition, WORD action = 1, WORD p1 = 0) {
  const generated_body& body = Body(static_cast<size_t>(state.range(0)));
  connection link(body);
  VelkoRTChunk* chunk = LoadedChunk(state, link, definition);
  if (chunk == nullptr)
    return;
  for (auto _ : state)
    Check(state, chunk->AlterRichText(action, p1, 0, 0, 0, nullptr, nullptr, nullptr, nullptr),
          "walk");
  Report(state, body);
  state.counters["last"] = static_cast<double>(link.session.internal->found_second);
}

/* Action 1 asking for the first record of "Everything": every record takes
 * the per-record step (asked for its last record, a chunk open for good
 * counts the rest of the body without stepping through it). */
void BM_ReadingWalk(benchmark::State& state) {
  ReadingWalk(state, "Everything", ACTION_QUERY_RECORDS, PROP_FIRSTRECORD);
}
void BM_EveryTableCell(benchmark::State& state) { ReadingWalk(state, "Table *; Row *; Column *"); }
void BM_MaxRightMargin(benchmark::State& state) {
  ReadingWalk(state, "Everything", ACTION_GET_MARGINS, PROP_MAXRIGHTMARGIN);
}

/* A writing operation on the whole item ("Everything") of the body of
 * the benchmark's size, timed with its load and Commit; the generated
 * body is restored, untimed, before each. */
template <typename Operation>
void EverythingOperation(benchmark::State& state, const char* what, Operation operation) {
  const generated_body& body = Body(static_cast<size_t>(state.range(0)));
  connection link(body);
  VelkoRTChunk* chunk = link.item->DefineChunk("Everything");
  if (chunk == nullptr) {
    state.SkipWithError("definition");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    RestoreBody(state, link, body);
    state.ResumeTiming();
    Check(state, operation(chunk), what);
  }
  Report(state, body);
}

void BM_WritingWalk(benchmark::State& state) {
  EverythingOperation(state, "walk", [](VelkoRTChunk* chunk) {
    return chunk->AlterRichText(49, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  });
}

/* Remove of the paragraph in the middle of the body: load, the writing
 * walk and the rebuilt body, as the clean-up pass above. */
void BM_RemoveMiddleParagraph(benchmark::State& state) {
  const generated_body& body = Body(static_cast<size_t>(state.range(0)));
  connection link(body);
  const std::string definition = "Paragraph " + std::to_string(body.paragraphs / 2);
  VelkoRTChunk* chunk = link.item->DefineChunk(definition.c_str());
  if (chunk == nullptr) {
    state.SkipWithError("definition");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    RestoreBody(state, link, body);
    state.ResumeTiming();
    Check(state, chunk->Remove(), "remove");
  }
  Report(state, body);
}

/* AppendText where the body ends: a writing walk with load and Commit
 * that adds one text run after the last record. */
void BM_AppendTextAtEnd(benchmark::State& state) {
  EverythingOperation(state, "append", [](VelkoRTChunk* chunk) {
    return chunk->AlterRichText(ACTION_APPEND_TEXT, 0, 0, 0, 0, "appended", nullptr, nullptr,
                                nullptr);
  });
}

/* The checksum digits of every stored item of the body. */
void BM_ItemChecksum(benchmark::State& state) {
  const generated_body& body = Body(static_cast<size_t>(state.range(0)));
  connection link(body);
  char out[10 + 2 * 10 + 1];
  for (auto _ : state)
    Check(state, link.item->CalculateRTItemCRC(out, 10, 10), "checksum");
  Report(state, body);
}

/* All text of the body, with a blank for each paragraph. */
void BM_AllText(benchmark::State& state) {
  const generated_body& body = Body(static_cast<size_t>(state.range(0)));
  connection link(body);
  DWORD length = 0;
  for (auto _ : state) {
    char* text = nullptr;
    Check(state, RetrieveAllText(link.item->note, kItemName, &text, &length, 1, 0), "all text");
    delete[] text;
  }
  Report(state, body);
  state.counters["text MB"] = static_cast<double>(length) / kMegabyte;
}

/* A find over every text run of loaded records that matches none: the
 * range query (a reading walk) and the search of each run. */
void BM_FindTextNoMatch(benchmark::State& state) {
  const generated_body& body = Body(static_cast<size_t>(state.range(0)));
  connection link(body);
  VelkoRTChunk* chunk = LoadedChunk(state, link, "Everything");
  if (chunk == nullptr)
    return;
  for (auto _ : state) {
    if (chunk->FindTextChunk(1, "zebra", 5, "SUBSTR", "") != 0 || chunk->status != NOERROR)
      state.SkipWithError("find");
  }
  Report(state, body);
}

/* ChangeParagraph on the whole item: every definition rewritten in place
 * by one writing walk. */
void BM_ChangeParagraph(benchmark::State& state) {
  EverythingOperation(state, "walk", [](VelkoRTChunk* chunk) {
    return chunk->AlterRichText(ACTION_CHANGE_PARAGRAPH, 0, 0, 0, 0, "Justify=Center Below=1.5",
                                nullptr, nullptr, nullptr);
  });
}

/* ChangeFont on the whole item: every text run re-emitted in the new
 * font by one writing walk, with load and Commit. */
void BM_ChangeFontEverything(benchmark::State& state) {
  EverythingOperation(state, "walk", [](VelkoRTChunk* chunk) {
    return chunk->ChangeFont("+BOLD 12pt", nullptr, 1);
  });
}

/* ---- row keys ---- */

/* The stored note of one table of `rows` rows of three cells each (row
 * numbers wrap at 256, as a cell's row byte does), made on first use. */
const generated_body& RowsBody(int rows) {
  static std::map<int, generated_body> bodies;
  auto found = bodies.find(rows);
  if (found != bodies.end())
    return found->second;
  BodyBuilder built;
  Sequence sequence(777);
  built.Add(note_testing::DefaultDefinition(1, 720));
  built.Add(cdbuild::PabRef(1));
  built.Add(cdbuild::TableBegin());
  for (int row = 0; row < rows; ++row) {
    for (BYTE column = 0; column < 3; ++column) {
      built.Add(Cell(static_cast<BYTE>(row), column));
      built.Add(cdbuild::PabRef(1));
      AddTextRun(built, sequence, 3, 40);
    }
  }
  built.Add(cdbuild::TableEnd());
  built.Add(cdbuild::Paragraph());
  AddTextRun(built, sequence, 3, 40);
  generated_body body;
  body.values = built.body.Items(kBodyItemSplit);
  body.records = built.body.records().size();
  Store(&body);
  return bodies.emplace(rows, std::move(body)).first->second;
}

/* The plain load of the table body. */
void BM_RowTableLoad(benchmark::State& state) {
  const generated_body& body = RowsBody(static_cast<int>(state.range(0)));
  connection link(body);
  TimeLoads(state, link);
  Report(state, body);
}

/* Action 11 over the table, its records loaded before the timing starts:
 * the text of the second column becomes each row's key. */
void BM_RowKeys(benchmark::State& state) {
  const generated_body& body = RowsBody(static_cast<int>(state.range(0)));
  connection link(body);
  VelkoRTChunk* chunk = LoadedChunk(state, link, "Table 1");
  if (chunk == nullptr)
    return;
  for (auto _ : state)
    Check(state,
          chunk->AlterRichText(ACTION_COLLECT_SORT_KEYS, 1, 0, 0, 0, nullptr, "TEXT", nullptr,
                               nullptr),
          "keys");
  Report(state, body);
  state.counters["keys"] = static_cast<double>(chunk->internal->sort_key_count);
}

/* An operation on the table of the row body, timed per call; with
 * `fresh` each call gets the stored body anew (outside the timing), for an
 * operation that grows the table. */
void TableOperation(benchmark::State& state, const char* what,
                    const std::function<STATUS(VelkoRTChunk*)>& operation, bool fresh = false) {
  const generated_body& body = RowsBody(static_cast<int>(state.range(0)));
  auto link = std::make_unique<connection>(body);
  for (auto _ : state) {
    if (fresh) {
      state.PauseTiming();
      link = std::make_unique<connection>(body);
      state.ResumeTiming();
    }
    VelkoRTChunk* chunk = link->item->DefineChunk("Table 1");
    if (chunk == nullptr) {
      state.SkipWithError("definition");
      return;
    }
    Check(state, operation(chunk), what);
  }
  Report(state, body);
}

/* SortByRow by the second column: the keys, then every row appended
 * again in key order and the rows dropped where they stood. */
void BM_SortByRow(benchmark::State& state) {
  TableOperation(state, "sort",
                 [](VelkoRTChunk* chunk) { return chunk->SortByRow(2, 0, 0, 0, "TitleRows=0"); });
}

/* AppendRow with the middle row as its template and a string for each
 * cell: the whole item rewritten with one row more. */
void BM_AppendRow(benchmark::State& state) {
  static const char* const kCells[20] = {"Text=a RowHeight=0.5 TabLabel=t", "b",
                                         "Text=c CellColor=red"};
  const WORD row = 100; /* the row bytes of the generated table run to 255 */
  TableOperation(state, "append",
                 [row](VelkoRTChunk* chunk) { return chunk->AppendRow(0, row, kCells); }, true);
}

/* ReplaceTextQuick of the search text by a text of its length, over
 * "Everything": load, the writing walk with its replacements, and Commit.
 * Every scope is asked for; while the text-run routine is not available
 * (its status 1028) every scope but the text runs, which then pass
 * unchanged. The scopes used are the benchmark's label; "records out"
 * counts the records of the written body against the stored body's, as
 * each match splits its run. */
void ReplaceText(benchmark::State& state, const char* search, const char* replacement) {
  const generated_body& body = Body(static_cast<size_t>(state.range(0)));
  connection link(body);
  VelkoRTChunk* chunk = link.item->DefineChunk("Everything");
  if (chunk == nullptr)
    return state.SkipWithError("definition");
  const auto length = static_cast<WORD>(std::char_traits<char>::length(search));
  const char* options = "EVERYTHING";
  if (chunk->ReplaceTextQuick(search, length, replacement, length, options) ==
      VELKO_ERR_BAD_ARGUMENT)
    options = "NONTEXT FORMULA HIDEWHEN URL";
  state.SetLabel(options);
  for (auto _ : state) {
    state.PauseTiming();
    RestoreBody(state, link, body);
    state.ResumeTiming();
    Check(state, chunk->ReplaceTextQuick(search, length, replacement, length, options),
          "replace");
  }
  Report(state, body);
  const size_t written =
      note_testing::RecordLines(note_testing::ItemValues(link.item->note, kItemName)).size();
  state.counters["records out"] =
      static_cast<double>(written) / static_cast<double>(body.records);
}

/* A word found in most paragraph runs: most runs are split. */
void BM_ReplaceTextQuick(benchmark::State& state) { ReplaceText(state, "walk", "Walk"); }

/* The body BM_ReplaceTextQuick writes over the generated body of that
 * size, stored as a note of its own, made on first use. */
const generated_body& ReplacedBody(size_t megabytes) {
  static std::map<size_t, generated_body> bodies;
  if (auto found = bodies.find(megabytes); found != bodies.end())
    return found->second;
  generated_body body;
  {
    connection link(Body(megabytes));
    VelkoRTChunk* chunk = link.item->DefineChunk("Everything");
    if (chunk != nullptr &&
        chunk->ReplaceTextQuick("walk", 4, "Walk", 4, "EVERYTHING") == NOERROR) {
      const std::vector<Bytes> written = note_testing::ItemValues(link.item->note, kItemName);
      body.records = note_testing::RecordLines(written).size();
      for (const Bytes& value : written)
        body.values.emplace_back(value.begin() + sizeof(WORD), value.end()); // less the type word
    }
  }
  if (!body.values.empty())
    Store(&body);
  return bodies.emplace(megabytes, std::move(body)).first->second;
}

/* Load and Commit of what BM_ReplaceTextQuick writes: the same work on
 * its output, which holds more records than its input as each match
 * splits its run. */
void BM_LoadAndCommitReplaced(benchmark::State& state) {
  const generated_body& body = ReplacedBody(static_cast<size_t>(state.range(0)));
  if (body.note_id == 0)
    return state.SkipWithError("replace");
  TimeLoadAndCommit(state, body);
}

/* A two-word phrase found in about one paragraph run in fifteen. */
void BM_ReplaceTextQuickPhrase(benchmark::State& state) {
  ReplaceText(state, "linear walk", "linear Walk");
}

/* The keyword documents of BM_LinkMatching, made on first use: 1,000
 * documents of form "BenchKeyword" whose "Keyword" is a word; five are
 * words of the bodies, the others begin like them and match nowhere. A
 * view "BenchKeywords" selects them. */
const char* KeywordView() {
  static const bool made = [] {
    const DBHANDLE db = note_testing::ProcessDatabase(kDatabase);
    NOTEHANDLE view = NULLHANDLE;
    if (NSFNoteCreate(db, &view) != NOERROR)
      return false;
    const WORD viewClass = NOTE_CLASS_VIEW;
    NSFNoteSetInfo(view, _NOTE_CLASS, &viewClass);
    FORMULAHANDLE formula = NULLHANDLE;
    WORD length = 0;
    const char* selection = "SELECT Form = \"BenchKeyword\"";
    bool stored = NSFItemSetText(view, "$TITLE", "BenchKeywords", 13) == NOERROR &&
                  NSFFormulaCompile(nullptr, 0, selection, 0, &formula, &length, nullptr, nullptr,
                                    nullptr, nullptr, nullptr) == NOERROR;
    if (stored) {
      stored = NSFItemAppend(view, 0, "$FORMULA", 8, TYPE_FORMULA, OSLockObject(formula),
                             length) == NOERROR &&
               NSFNoteUpdate(view, 0) == NOERROR;
      OSUnlockObject(formula);
      OSMemFree(formula);
    }
    NSFNoteClose(view);
    static const char* const kStems[] = {"rich", "text", "body", "record", "table", "cell",
                                         "font", "chunk", "engine", "note"};
    static const char* const kFound[] = {"engine", "paragraph", "stored", "linear", "walk"};
    for (int k = 0; stored && k < 1000; ++k) {
      std::string keyword = k < 5 ? kFound[k] : kStems[k % 10];
      if (k >= 5) {
        keyword += static_cast<char>('q' + k / 100 % 10);
        keyword += static_cast<char>('a' + k / 10 % 10);
        keyword += static_cast<char>('a' + k % 10);
      }
      stored = note_testing::StoreNoteWith(db, [&](NOTEHANDLE note) {
                 STATUS status = NSFItemSetText(note, "Form", "BenchKeyword", 12);
                 if (status == NOERROR)
                   status = NSFItemSetText(note, "Keyword", keyword.data(),
                                           static_cast<WORD>(keyword.size()));
                 return status;
               }) != 0;
    }
    return stored;
  }();
  return made ? "BenchKeywords" : nullptr;
}

/* LinkMatching with 1,000 keywords over "Everything": the keyword table
 * (built on every other call: a cached table serves once), load, the
 * matching passes and Commit. Each keyword is linked once (SingleMatch). */
void BM_LinkMatching(benchmark::State& state) {
  const generated_body& body = Body(static_cast<size_t>(state.range(0)));
  const char* view = KeywordView();
  connection link(body);
  VelkoRTChunk* chunk = link.item->DefineChunk("Everything");
  if (chunk == nullptr || view == nullptr)
    return state.SkipWithError("definition");
  for (auto _ : state) {
    state.PauseTiming();
    RestoreBody(state, link, body);
    state.ResumeTiming();
    Check(state,
          chunk->LinkMatching("", kDatabase, view, "Keyword", nullptr, "SingleMatch=Yes", 2386),
          "link matching");
  }
  Report(state, body);
}

/* The writing operations over the whole body set against load + Commit
 * in pairs: each iteration restores the body and times one, then restores
 * it and times the other, which goes first in turn; the counter "ratio" is
 * the operation's time over load + Commit's, summed over the pairs. Taken
 * side by side, the two meet the same state of the machine, which
 * separate benchmarks a minute apart do not. The reported time is the
 * operation's. */
enum class paired_operation { kWritingWalk, kChangeFont, kReplaceWord, kReplacePhrase, kLinkMatching };

void BM_PairedWithLoadAndCommit(benchmark::State& state) {
  const auto which = static_cast<paired_operation>(state.range(0));
  const generated_body& body = Body(static_cast<size_t>(state.range(1)));
  connection own(body);
  connection base(body);
  VelkoRTChunk* chunk = own.item->DefineChunk("Everything");
  const char* view = which == paired_operation::kLinkMatching ? KeywordView() : "";
  if (chunk == nullptr || view == nullptr)
    return state.SkipWithError("definition");
  auto operation = [&]() -> STATUS {
    switch (which) {
    case paired_operation::kWritingWalk:
      return chunk->AlterRichText(49, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    case paired_operation::kChangeFont:
      return chunk->ChangeFont("+BOLD 12pt", nullptr, 1);
    case paired_operation::kReplaceWord:
      return chunk->ReplaceTextQuick("walk", 4, "Walk", 4, "EVERYTHING");
    case paired_operation::kReplacePhrase:
      return chunk->ReplaceTextQuick("linear walk", 11, "linear Walk", 11, "EVERYTHING");
    case paired_operation::kLinkMatching:
      return chunk->LinkMatching("", kDatabase, view, "Keyword", nullptr, "SingleMatch=Yes", 2386);
    }
    return NOERROR;
  };
  auto loadAndCommit = [&]() -> STATUS {
    base.item->internal->input =
        StoreItemsAndRecords(base.item, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
    return base.item->Commit();
  };
  double ownSeconds = 0;
  double baseSeconds = 0;
  bool operationFirst = true;
  for (auto _ : state) {
    double iteration = 0;
    for (int turn = 0; turn < 2; ++turn) {
      const bool timesOperation = (turn == 0) == operationFirst;
      connection& link = timesOperation ? own : base;
      RestoreBody(state, link, body);
      const double start = ThreadSeconds();
      Check(state, timesOperation ? operation() : loadAndCommit(), "pair");
      const double seconds = ThreadSeconds() - start;
      if (timesOperation)
        iteration = seconds;
      (timesOperation ? ownSeconds : baseSeconds) += seconds;
    }
    operationFirst = !operationFirst;
    state.SetIterationTime(std::max(iteration, 1e-6));
  }
  Report(state, body);
  if (baseSeconds > 0)
    state.counters["ratio"] = ownSeconds / baseSeconds;
}

void PairedOperations(benchmark::internal::Benchmark* benchmark) {
  benchmark->ArgNames({"op", "MB"});
  for (int64_t op = 0; op <= static_cast<int64_t>(paired_operation::kLinkMatching); ++op) {
    for (int64_t megabytes : {5, 10, 20})
      benchmark->Args({op, megabytes});
  }
  benchmark->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(16);
}

/* An item's body with nothing in it: one empty text run. */
Bytes EmptyText() { return cdbuild::Text({.text = ""}); }

/* AppendRTChunk of the whole body ("Everything") into an empty item of a
 * new note: the copy's loads, its writing walk and the stored result;
 * making and dropping the target is not timed. */
void BM_AppendRTChunk(benchmark::State& state) {
  const generated_body& body = Body(static_cast<size_t>(state.range(0)));
  const DBHANDLE db = note_testing::ProcessDatabase(kDatabase);
  LSXLsiSession session;
  for (auto _ : state) {
    state.PauseTiming();
    NOTEHANDLE note = NULLHANDLE;
    Check(state, NSFNoteCreate(db, &note), "note");
    Check(state, note_testing::AppendRecords(note, kItemName, EmptyText()), "item");
    auto* item = new VelkoRTItem(&session);
    Check(state, item->ConnectBackend(note, kItemName, 0), "connect");
    VelkoRTChunk* chunk = item->DefineChunk("Everything");
    state.ResumeTiming();
    Check(state, chunk->AppendRTChunk("", kDatabase, body.note_id, kItemName, "Everything", 0),
          "append");
    state.PauseTiming();
    size_t copied = 0;
    for (const Bytes& value : note_testing::ItemValues(note, kItemName))
      copied += value.size();
    state.counters["copied/stored"] =
        static_cast<double>(copied) / static_cast<double>(body.bytes);
    delete item;
    NSFNoteClose(note);
    state.ResumeTiming();
  }
  Report(state, body);
}

void SortRowCounts(benchmark::internal::Benchmark* benchmark) {
  benchmark->Arg(500)->Arg(1000)->Unit(benchmark::kMillisecond)->MinTime(0.5);
}

void RowCounts(benchmark::internal::Benchmark* benchmark) {
  benchmark->Arg(5000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond)->MinTime(0.5);
}

void Sizes(benchmark::internal::Benchmark* benchmark) {
  benchmark->Arg(5)->Arg(10)->Arg(20)->Arg(40)->Unit(benchmark::kMillisecond)->MinTime(1.0);
}

[[maybe_unused]] const bool kRatios =
    AddBenchRatio("BM_WritingWalk", "BM_LoadAndCommit", "1.3") &&
    AddBenchRatio("BM_RemoveMiddleParagraph", "BM_LoadAndCommit", "1.3") &&
    AddBenchRatio("BM_ReadingWalk", "BM_Load", "1.0") &&
    AddBenchRatio("BM_MaxRightMargin", "BM_Load", "1.0") &&
    AddBenchRatio("BM_ItemChecksum", "BM_Load", "1.0") &&
    AddBenchRatio("BM_AllText", "BM_Load", "1.0") &&
    AddBenchRatio("BM_FindTextNoMatch", "BM_Load", "1.0") &&
    AddBenchRatio("BM_ChangeParagraph", "BM_LoadAndCommit", "1.3") &&
    AddBenchRatio("BM_AppendTextAtEnd", "BM_LoadAndCommit", "1.3") &&
    AddBenchRatio("BM_AppendRTChunk", "BM_LoadAndCommit", "1.3") &&
    AddBenchRatio("BM_RowKeys", "BM_RowTableLoad", "-") &&
    AddBenchRatio("BM_ReplaceTextQuick", "BM_LoadAndCommit", "1.5") &&
    AddBenchRatio("BM_ReplaceTextQuick", "BM_LoadAndCommitReplaced", "-") &&
    AddBenchRatio("BM_ReplaceTextQuickPhrase", "BM_LoadAndCommit", "1.5") &&
    AddBenchRatio("BM_ChangeFontEverything", "BM_LoadAndCommit", "1.5") &&
    AddBenchRatio("BM_LinkMatching", "BM_LoadAndCommit", "1.5");

BENCHMARK(BM_Load)->Apply(Sizes);
BENCHMARK(BM_LoadAndCommit)->Apply(Sizes);
BENCHMARK(BM_ReadingWalk)->Apply(Sizes);
BENCHMARK(BM_WritingWalk)->Apply(Sizes);
BENCHMARK(BM_EveryTableCell)->Apply(Sizes);
BENCHMARK(BM_MaxRightMargin)->Apply(Sizes);
BENCHMARK(BM_ItemChecksum)->Apply(Sizes);
BENCHMARK(BM_AllText)->Apply(Sizes);
BENCHMARK(BM_FindTextNoMatch)->Apply(Sizes);
BENCHMARK(BM_RemoveMiddleParagraph)->Apply(Sizes);
BENCHMARK(BM_ChangeParagraph)->Apply(Sizes);
BENCHMARK(BM_AppendTextAtEnd)->Apply(Sizes);
BENCHMARK(BM_AppendRTChunk)->Apply(Sizes);
BENCHMARK(BM_RowTableLoad)->Apply(RowCounts);
BENCHMARK(BM_RowKeys)->Apply(RowCounts);
BENCHMARK(BM_SortByRow)->Apply(SortRowCounts);
BENCHMARK(BM_ReplaceTextQuick)->Apply(Sizes);
BENCHMARK(BM_LoadAndCommitReplaced)->Apply(Sizes);
BENCHMARK(BM_ReplaceTextQuickPhrase)->Apply(Sizes);
BENCHMARK(BM_AppendRow)->Apply(SortRowCounts);
BENCHMARK(BM_ChangeFontEverything)->Apply(Sizes);
BENCHMARK(BM_LinkMatching)->Apply(Sizes);
BENCHMARK(BM_PairedWithLoadAndCommit)->Apply(PairedOperations);

} // namespace
