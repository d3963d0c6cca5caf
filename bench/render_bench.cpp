// Bodies whose records would make a renderer that looks back through the
// list grow with the square of their size, rendered by the driver over the
// loaded list (output in memory; no options unless named) at 5, 10 and
// 20 MB of records; the times must grow linearly:
//   BM_RenderTableCells/N      one table whose every cell starts with a
//                              paragraph reference;
//   BM_RenderRules/N           one paragraph of horizontal rules only;
//   BM_RenderFontChanges/N     one paragraph of two-letter runs whose font
//                              changes at every run;
//   BM_RenderEmptyRuns/N       one paragraph of empty runs in alternating
//                              fonts, one run of text at its end;
//   BM_RenderGroupedFontChanges/N  the same runs as BM_RenderFontChanges
//                              inside one begin/end group, a colour record
//                              after them;
//   BM_RenderHiddenParagraphs/N  paragraphs whose definition asks for a
//                              hide-when formula, the formula record at the
//                              start (option RespectHiddenFormulas=Yes);
//   BM_RenderHideWhenFormulas/N  paragraphs of four definitions, each with a
//                              compiled hide-when formula that reads the
//                              note and shows the paragraph, so that every
//                              paragraph evaluates one (RespectHiddenFormulas=Yes);
//   BM_RenderPlainParagraphs/N   the same body without the formula flag,
//                              its denominator in the ratio report;
//   BM_RenderTableBodies/N     tables of 10 columns and 50 rows of short
//                              cells with some spans (a column pair merged
//                              in every fifth row, a cell over two rows in
//                              the next two), one after the other, at 5 and
//                              10 MB of records;
//   BM_RenderTableRows/N       one such table of N rows (100 and 1000):
//                              no cell may walk the whole table.
// These report MB of records per second ("records_MB/s") and the output's
// size. The comparison with cmark is bench/cmark_bench.cpp.
// Nothing here checks the HTML beyond its status; the tests do that.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_support.h"
#include "bench/ratio_report.h"
#include "engine/chunk_state.h"
#include "engine/services.h"
#include "host/cdrecords.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "render/output_buffer.h"
#include "render/render_info.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/tracked_memory.h"
#include "tests/support/note_fixture.h"
#include "cdbuild/cd_builder.h"
#include "velko/status.h"

namespace {

constexpr char kItemName[] = "Body";
constexpr double kMegabyte = 1000.0 * 1000.0;

/* ---- the connected item ---- */

struct connection {
  LSXLsiSession session;
  VelkoRTItem* item = nullptr;
  VelkoRTChunk* chunk = nullptr;

  connection(const char* database, NOTEID note) {
    item = new VelkoRTItem(&session);
    if (item->Connect("", database, note, kItemName, 0) == NOERROR)
      chunk = item->DefineChunk("Everything");
  }
};

/* The last node of the list. */
record_storage* LastRecord(record_storage* node) {
  while (node != nullptr && node->next != nullptr)
    node = node->next;
  return node;
}

/* A context positioned on the whole loaded list as the engine leaves it at
 * the chunk's stop: output in a buffer of the run, HTML, no options, the
 * lookup table of paragraph definitions filled. */
html_render_info* ContextOverList(connection& link, body_context* records,
                                  const char* options = nullptr) {
  html_render_info* context = CreateRenderContext(&link.session, link.chunk);
  if (context == nullptr)
    return nullptr;
  link.chunk->internal->render_context = context;
  if (SetupRenderOutput(context, nullptr, 0) != NOERROR)
    return context; // the run fails on the output's status
  context->generation = kGenerationHTML;
  if (options != nullptr) {
    context->options = VelkoAllocatePtrAndCopy(&link.session, VELKO_HERE, options, 0);
    if (context->options == nullptr || ReadRenderingOptions(context) != NOERROR)
      context->output_status = VELKO_ERR_MEMORY;
  }
  context->image_handling = kHandlingDefault;
  context->attachment_handling = kHandlingDefault;
  context->session_nls = link.session.internal->nls_info;
  context->output_nls = link.session.internal->nls_info;
  for (record_storage* node = records->records; node != nullptr; node = node->next) {
    if (node->signature == SIG_CD_PABDEFINITION && context->pabdef_count < kLookupSlots - 1)
      context->pabdef_records[++context->pabdef_count] = node;
  }
  context->first_record = records->records;
  context->current_record = records->records;
  context->last_record = LastRecord(records->records);
  return context;
}

/* One run of the driver over the list; the output's length, 0 on failure. */
size_t RenderList(connection& link, body_context* records, const char* options = nullptr) {
  html_render_info* context = ContextOverList(link, records, options);
  if (context == nullptr)
    return 0;
  const STATUS status = ProcessXMLStream(context, 0, 0, 0);
  const size_t output =
      status == NOERROR && context->output_status == NOERROR ? context->output_length : 0;
  link.chunk->internal->render_context = nullptr;
  ReleaseRenderContext(context);
  return output;
}

/* ---- bodies that must render in linear time ---- */

constexpr char kShapeDatabase[] = "mem:renderbench-shapes";
constexpr size_t kRecordMegabyte = 1000 * 1000;

enum class shape {
  kTableCells,
  kRules,
  kFontChanges,
  kEmptyRuns,
  kGroupedFontChanges,
  kHiddenParagraphs,
  kHideWhenFormulas,
  kPlainParagraphs,
  kTableBodies,
};

/* The options a shape is rendered with. */
const char* ShapeOptions(shape kind) {
  switch (kind) {
  case shape::kHiddenParagraphs:
  case shape::kHideWhenFormulas:
  case shape::kPlainParagraphs:
    return "RespectHiddenFormulas=Yes";
  default:
    return nullptr;
  }
}

/* Appends records until the body's records reach the size. */
template <typename MakeRecords>
void FillTo(cdbuild::Body& body, size_t bytes, MakeRecords make) {
  size_t total = 0;
  for (size_t n = 0; total < bytes; ++n) {
    for (cdbuild::Bytes& record : make(n)) {
      total += record.size();
      body.Add(std::move(record));
    }
  }
}

/* One table of 10 columns and `rows` rows of short cells: in every fifth
 * row columns 2 and 3 are merged, and in the two rows after it column 5 is
 * one cell over both rows (the covered position flagged 0x08, the
 * spanning cell below it). */
std::vector<cdbuild::Bytes> SpannedTable(size_t rows) {
  constexpr int kColumns = 10;
  std::vector<cdbuild::Bytes> records;
  records.push_back(cdbuild::TableBegin());
  for (size_t row = 0; row < rows; ++row) {
    for (int column = 0; column < kColumns; ++column) {
      cdbuild::TableCellFields fields;
      fields.row = static_cast<BYTE>(row % 256);
      fields.column = static_cast<BYTE>(column);
      fields.borders = 0x55;
      if (row % 5 == 1 && column == 2)
        fields.flags = 0x04;
      if (row % 5 == 1 && column == 3)
        fields.column_span = 2;
      if (row % 5 == 2 && column == 5)
        fields.flags = 0x08;
      if (row % 5 == 3 && column == 5)
        fields.row_span = 2;
      records.push_back(cdbuild::TableCell(fields));
      if ((fields.flags & 0x0C) == 0) {
        records.push_back(cdbuild::PabRef(1));
        const char text[3] = {'c', static_cast<char>('0' + column), '\0'};
        records.push_back(cdbuild::Text(text));
      }
    }
  }
  records.push_back(cdbuild::TableEnd());
  return records;
}

cdbuild::Body ShapeBody(shape kind, size_t bytes) {
  cdbuild::Body body;
  if (kind == shape::kHiddenParagraphs) {
    // Paragraphs whose definition asks for a hide-when formula, which
    // stands at the start of the list.
    cdbuild::PabDefFields hidden;
    hidden.flags = 0x0800;
    body.Add(cdbuild::PabDef(hidden));
    body.Add(cdbuild::Raw(SIG_CD_PABHIDE, {0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 'f', '0'}));
    FillTo(body, bytes, [](size_t) {
      return std::vector<cdbuild::Bytes>{cdbuild::Paragraph(), cdbuild::PabRef(1),
                                         cdbuild::Text("ab")};
    });
    return body;
  }
  if (kind == shape::kHideWhenFormulas || kind == shape::kPlainParagraphs) {
    // Four definitions, each with its hide-when formula (flag 0x0800 only
    // on the formula body); all four formulas show their paragraphs.
    static const char* const kFormulas[] = {
        "Subject = \"hide\"",
        "@Contains(Subject; \"x\") | @Elements(Tags) > 3",
        "x := @LowerCase(Form); x = \"secret\"",
        "@IsAvailable(Secret)",
    };
    for (WORD pabid = 1; pabid <= 4; ++pabid) {
      cdbuild::PabDefFields definition;
      definition.id = pabid;
      definition.flags = kind == shape::kHideWhenFormulas ? 0x0800 : 0;
      body.Add(cdbuild::PabDef(definition));
      const cdbuild::Bytes compiled = cdbuild::CompiledFormula(kFormulas[pabid - 1]);
      body.Add(cdbuild::PabHide(pabid, std::string(compiled.begin(), compiled.end())));
    }
    FillTo(body, bytes, [](size_t n) {
      return std::vector<cdbuild::Bytes>{cdbuild::Paragraph(),
                                         cdbuild::PabRef(static_cast<WORD>(1 + n % 4)),
                                         cdbuild::Text("ab")};
    });
    return body;
  }
  body.Add(note_testing::DefaultDefinition(1, 1440));
  body.Add(cdbuild::Paragraph());
  body.Add(cdbuild::PabRef(1));
  if (kind == shape::kTableBodies) {
    FillTo(body, bytes, [](size_t) { return SpannedTable(50); });
    return body;
  }
  if (kind == shape::kRules) {
    // Flags 0, width 1440, height 30, palette colour 0.
    const cdbuild::Bytes rule = cdbuild::Record(
        SIG_CD_HRULE, {0x00, 0x00, 0x00, 0x00, 0xA0, 0x05, 0x1E, 0x00, 0x00, 0x00, 0x00, 0x00});
    FillTo(body, bytes, [&](size_t) { return std::vector<cdbuild::Bytes>{rule}; });
    return body;
  }
  // Runs of two letters whose font changes at every run: each is marked
  // up on its own.
  const cdbuild::Bytes bold = cdbuild::Text("ab", {1, 0x01, 0, 10});
  const cdbuild::Bytes plain = cdbuild::Text("ab", {1, 0x00, 0, 10});
  if (kind == shape::kFontChanges) {
    FillTo(body, bytes, [&](size_t n) { return std::vector<cdbuild::Bytes>{n % 2 ? plain : bold}; });
    return body;
  }
  if (kind == shape::kEmptyRuns) {
    // Empty runs, in alternating fonts so that none merges with the next,
    // and one run of text at the end of the paragraph.
    const cdbuild::Bytes emptyBold = cdbuild::Text("", {1, 0x01, 0, 10});
    const cdbuild::Bytes emptyPlain = cdbuild::Text("", {1, 0x00, 0, 10});
    FillTo(body, bytes,
           [&](size_t n) { return std::vector<cdbuild::Bytes>{n % 2 ? emptyPlain : emptyBold}; });
    body.Add(plain);
    return body;
  }
  if (kind == shape::kGroupedFontChanges) {
    // The runs inside one begin/end group, whose colour record follows
    // them all.
    body.Add(cdbuild::Begin(SIG_CD_HOTSPOTBEGIN));
    FillTo(body, bytes, [&](size_t n) { return std::vector<cdbuild::Bytes>{n % 2 ? plain : bold}; });
    body.Add(cdbuild::Color({.color = {0x0001, 0x33, 0x66, 0x99}}));
    body.Add(cdbuild::End(SIG_CD_HOTSPOTBEGIN));
    return body;
  }
  body.Add(cdbuild::TableBegin());
  FillTo(body, bytes, [](size_t cell) {
    cdbuild::TableCellFields fields;
    fields.row = static_cast<BYTE>(cell / 8 % 256);
    fields.column = static_cast<BYTE>(cell % 8);
    return std::vector<cdbuild::Bytes>{cdbuild::TableCell(fields), cdbuild::PabRef(1),
                                       cdbuild::Text("cell")};
  });
  body.Add(cdbuild::TableEnd());
  return body;
}

/* The note holding the body of the shape and size, stored on first use. */
NOTEID ShapeNote(shape kind, size_t bytes) {
  static DBHANDLE db = [] {
    DBHANDLE handle = NULLHANDLE;
    note_testing::CreateDatabase(kShapeDatabase, &handle);
    return handle;
  }();
  static std::map<std::pair<shape, size_t>, NOTEID> notes;
  NOTEID& note = notes[{kind, bytes}];
  if (note == 0)
    note = StoreItems(db, kItemName, ShapeBody(kind, bytes).Items(kBodyItemSplit));
  return note;
}

/* Times the driver over the loaded list of the shape's body; storing and
 * loading the body are not timed. */
void RenderShape(benchmark::State& state, shape kind) {
  const size_t bytes = static_cast<size_t>(state.range(0)) * kRecordMegabyte;
  connection link(kShapeDatabase, ShapeNote(kind, bytes));
  body_context* records = link.chunk != nullptr ? StoreItemsAndRecords(link.item, 0, 0, nullptr, 0,
                                                                       0, NULLHANDLE, nullptr)
                                                : nullptr;
  if (records == nullptr || records->load_status != NOERROR) {
    state.SkipWithError("load");
    return;
  }
  const size_t output = RenderList(link, records, ShapeOptions(kind));
  if (output == 0) {
    state.SkipWithError("ProcessXMLStream");
  } else {
    for (auto _ : state)
      benchmark::DoNotOptimize(RenderList(link, records, ShapeOptions(kind)));
    state.counters["records_MB/s"] = benchmark::Counter(
        static_cast<double>(bytes) / kMegabyte, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["out_MB"] = static_cast<double>(output) / kMegabyte;
  }
  CleanupBodyContext(&link.session, records);
  delete records;
}

void BM_RenderTableCells(benchmark::State& state) { RenderShape(state, shape::kTableCells); }
void BM_RenderRules(benchmark::State& state) { RenderShape(state, shape::kRules); }
void BM_RenderFontChanges(benchmark::State& state) { RenderShape(state, shape::kFontChanges); }
void BM_RenderEmptyRuns(benchmark::State& state) { RenderShape(state, shape::kEmptyRuns); }
void BM_RenderGroupedFontChanges(benchmark::State& state) {
  RenderShape(state, shape::kGroupedFontChanges);
}
void BM_RenderHiddenParagraphs(benchmark::State& state) {
  RenderShape(state, shape::kHiddenParagraphs);
}

void BM_RenderTableBodies(benchmark::State& state) { RenderShape(state, shape::kTableBodies); }

/* One spanned table of state.range(0) rows. */
void BM_RenderTableRows(benchmark::State& state) {
  static DBHANDLE db = [] {
    DBHANDLE handle = NULLHANDLE;
    note_testing::CreateDatabase("mem:renderbench-rows", &handle);
    return handle;
  }();
  const size_t rows = static_cast<size_t>(state.range(0));
  cdbuild::Body body;
  body.Add(note_testing::DefaultDefinition(1, 1440));
  body.Add(cdbuild::Paragraph());
  body.Add(cdbuild::PabRef(1));
  for (cdbuild::Bytes& record : SpannedTable(rows))
    body.Add(std::move(record));
  const NOTEID note = StoreItems(db, kItemName, body.Items(kBodyItemSplit));
  connection link("mem:renderbench-rows", note);
  body_context* records = link.chunk != nullptr ? StoreItemsAndRecords(link.item, 0, 0, nullptr, 0,
                                                                       0, NULLHANDLE, nullptr)
                                                : nullptr;
  if (records == nullptr || records->load_status != NOERROR) {
    state.SkipWithError("load");
    return;
  }
  if (RenderList(link, records) == 0) {
    state.SkipWithError("ProcessXMLStream");
  } else {
    for (auto _ : state)
      benchmark::DoNotOptimize(RenderList(link, records));
    state.counters["rows/s"] = benchmark::Counter(static_cast<double>(rows),
                                                  benchmark::Counter::kIsIterationInvariantRate);
  }
  CleanupBodyContext(&link.session, records);
  delete records;
}

void BM_RenderHideWhenFormulas(benchmark::State& state) {
  RenderShape(state, shape::kHideWhenFormulas);
}
void BM_RenderPlainParagraphs(benchmark::State& state) {
  RenderShape(state, shape::kPlainParagraphs);
}

BENCHMARK(BM_RenderTableCells)->Arg(5)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderRules)->Arg(5)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderFontChanges)->Arg(5)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderEmptyRuns)->Arg(5)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderGroupedFontChanges)->Arg(5)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderHiddenParagraphs)->Arg(5)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderHideWhenFormulas)->Arg(5)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderPlainParagraphs)->Arg(5)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderTableBodies)->Arg(5)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderTableRows)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

// Evaluating a formula for every paragraph against rendering it plainly.
const bool kFormulaRatios = AddBenchRatio("BM_RenderHideWhenFormulas", "BM_RenderPlainParagraphs", "-");

} // namespace
