// Rendering speed and memory against cmark. One generated list of ASCII text
// runs (plain, bold and italic, 4 to 8 words each, 10 runs per paragraph)
// becomes both a stored rich-text body and the equivalent Markdown
// ("**...**", "*...*", a blank line between paragraphs), each about 10 MB
// of text. Timed in one run:
//   BM_RenderCmark             cmark rendering the Markdown to a string;
//   BM_RenderProcessXMLStream  the rendering driver over the loaded record
//                              list (no options, output held in memory);
//   BM_RenderGenerateHTML      GenerateHTML on the stored note: loading,
//                              the engine's walk and the rendering;
//   BM_RenderMemcpy            a copy of the text, for scale.
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
//                              start (option RespectHiddenFormulas=Yes).
// These report MB of records per second ("records_MB/s") and the output's
// size.
// Each reports MB of text per second ("text_MB/s"), the output's size
// ("out_MB") and the peak heap growth of one run over the state before it
// ("heap_MB", and "heap/out" against the output's size). For the rendering
// cases that state is the record list already loaded.
//
// The heap is measured by this binary's own malloc family, which counts
// the usable size of the blocks made and freed while a measurement is open
// and the highest count reached: the session's tracked pool and the host's
// memory objects are made with malloc and new inside the process, so they
// count too.
// Nothing here checks the HTML beyond its status; the tests do that.
#include <benchmark/benchmark.h>

#include <cmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_support.h"
#include "bench/heap_count.h"
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

constexpr char kDatabase[] = "mem:renderbench";
constexpr char kItemName[] = "Body";
constexpr double kMegabyte = 1000.0 * 1000.0;
constexpr size_t kTextBytes = 10 * 1000 * 1000;
constexpr int kRunsPerParagraph = 10;

/* ---- the generated document ---- */

enum class run_kind { kPlain, kBold, kItalic };

struct text_run {
  run_kind kind;
  std::string text;
};

/* Plain lower-case words: nothing Markdown or HTML would treat apart. */
std::string RunText(Sequence& sequence) {
  static const char* const kWords[] = {
      "rich",     "text",  "body",   "record", "table", "cell",      "font", "chunk",
      "engine",   "note",  "walk",   "item",   "store", "paragraph", "bold", "plain",
      "italic",   "words", "render", "output", "a",     "of",        "the",  "markup",
      "document", "run",   "list",   "byte",   "quick", "brown",     "fox",  "lazy"};
  const uint32_t count = 4 + sequence.Next(5);
  std::string text;
  for (uint32_t word = 0; word < count; ++word) {
    if (word > 0)
      text += ' ';
    text += kWords[sequence.Next(sizeof kWords / sizeof kWords[0])];
  }
  return text;
}

/* Paragraphs of runs until the text (runs and the blanks between them)
 * reaches the size. */
std::vector<std::vector<text_run>> GenerateParagraphs(size_t textBytes, size_t* total) {
  Sequence sequence(2024);
  std::vector<std::vector<text_run>> paragraphs;
  *total = 0;
  while (*total < textBytes) {
    std::vector<text_run> runs;
    for (int run = 0; run < kRunsPerParagraph; ++run) {
      runs.push_back({static_cast<run_kind>(sequence.Next(3)), RunText(sequence)});
      *total += runs.back().text.size() + (run > 0 ? 1 : 0);
    }
    paragraphs.push_back(std::move(runs));
  }
  return paragraphs;
}

std::string Markdown(const std::vector<std::vector<text_run>>& paragraphs) {
  std::string markdown;
  for (const auto& runs : paragraphs) {
    for (size_t i = 0; i < runs.size(); ++i) {
      if (i > 0)
        markdown += ' ';
      const char* mark = runs[i].kind == run_kind::kBold     ? "**"
                         : runs[i].kind == run_kind::kItalic ? "*"
                                                             : "";
      markdown += mark;
      markdown += runs[i].text;
      markdown += mark;
    }
    markdown += "\n\n";
  }
  return markdown;
}

/* The same text as records: one paragraph definition, then per paragraph
 * a paragraph record, its definition's reference and a text record per
 * run, the blank between two runs at the end of the first. */
cdbuild::Body RichText(const std::vector<std::vector<text_run>>& paragraphs) {
  cdbuild::Body body;
  body.Add(note_testing::DefaultDefinition(1, 1440));
  for (const auto& runs : paragraphs) {
    body.Add(cdbuild::Paragraph());
    body.Add(cdbuild::PabRef(1));
    for (size_t i = 0; i < runs.size(); ++i) {
      const BYTE attributes = runs[i].kind == run_kind::kBold     ? 0x01
                              : runs[i].kind == run_kind::kItalic ? 0x02
                                                                  : 0x00;
      std::string text = runs[i].text;
      if (i + 1 < runs.size())
        text += ' ';
      body.Add(cdbuild::Text(text, {1, attributes, 0, 10}));
    }
  }
  return body;
}

/* Everything the cases share, made on first use. */
struct document {
  size_t text_bytes = 0;
  std::string text; /* the runs' text and the blanks between them, for the copy */
  std::string markdown;
  NOTEID note_id = 0;
};

const document& Document() {
  static const document made = [] {
    document doc;
    const auto paragraphs = GenerateParagraphs(kTextBytes, &doc.text_bytes);
    for (const auto& runs : paragraphs) {
      for (size_t i = 0; i < runs.size(); ++i)
        doc.text += (i > 0 ? " " : "") + runs[i].text;
    }
    doc.markdown = Markdown(paragraphs);
    const cdbuild::Body body = RichText(paragraphs);
    DBHANDLE db = NULLHANDLE;
    note_testing::CreateDatabase(kDatabase, &db);
    doc.note_id = StoreItems(db, kItemName, body.Items(kBodyItemSplit));
    return doc;
  }();
  return made;
}

/* ---- reporting ---- */

void Report(benchmark::State& state, size_t outputBytes, int64_t heapGrowth) {
  const document& doc = Document();
  state.counters["text_MB/s"] = benchmark::Counter(static_cast<double>(doc.text_bytes) / kMegabyte,
                                                   benchmark::Counter::kIsIterationInvariantRate);
  state.counters["text_MB"] = static_cast<double>(doc.text_bytes) / kMegabyte;
  state.counters["out_MB"] = static_cast<double>(outputBytes) / kMegabyte;
  if (heapGrowth < 0)
    return;
  state.counters["heap_MB"] = static_cast<double>(heapGrowth) / kMegabyte;
  if (outputBytes > 0)
    state.counters["heap/out"] = static_cast<double>(heapGrowth) / static_cast<double>(outputBytes);
}

/* ---- the connected item ---- */

struct connection {
  LSXLsiSession session;
  VelkoRTItem* item = nullptr;
  VelkoRTChunk* chunk = nullptr;

  connection() : connection(kDatabase, Document().note_id) {}
  connection(const char* database, NOTEID note) {
    item = new VelkoRTItem(&session);
    if (item->Connect("", database, note, kItemName, 0) == NOERROR)
      chunk = item->DefineChunk("Everything");
  }
};

/* ---- the cases ---- */

void BM_RenderCmark(benchmark::State& state) {
  const document& doc = Document();
  size_t output = 0;
  int64_t growth = 0;
  {
    heap_growth heap;
    char* html =
        cmark_markdown_to_html(doc.markdown.data(), doc.markdown.size(), CMARK_OPT_DEFAULT);
    growth = heap.Peak();
    output = std::strlen(html);
    free(html);
  }
  for (auto _ : state) {
    char* html =
        cmark_markdown_to_html(doc.markdown.data(), doc.markdown.size(), CMARK_OPT_DEFAULT);
    benchmark::DoNotOptimize(html);
    free(html);
  }
  Report(state, output, growth);
}

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

void BM_RenderProcessXMLStream(benchmark::State& state) {
  connection link;
  body_context* records = link.chunk != nullptr ? StoreItemsAndRecords(link.item, 0, 0, nullptr, 0,
                                                                       0, NULLHANDLE, nullptr)
                                                : nullptr;
  if (records == nullptr || records->load_status != NOERROR) {
    state.SkipWithError("load");
    return;
  }
  size_t output = 0;
  int64_t growth = 0;
  {
    heap_growth heap;
    output = RenderList(link, records);
    growth = heap.Peak();
  }
  if (output == 0) {
    state.SkipWithError("ProcessXMLStream");
  } else {
    for (auto _ : state)
      benchmark::DoNotOptimize(RenderList(link, records));
    Report(state, output, growth);
  }
  CleanupBodyContext(&link.session, records);
  delete records;
}

/* One GenerateHTML; the output's length, 0 on failure. */
size_t Generate(connection& link) {
  char* html = link.chunk->GenerateHTML(nullptr, "HTML 4.01", nullptr, 0, nullptr, nullptr);
  if (html == nullptr)
    return 0;
  const size_t output = link.session.render_result_length;
  VelkoDeallocatePtr(&link.session, html);
  return link.chunk->status == NOERROR ? output : 0;
}

/* The heap growth of a first GenerateHTML in a fresh session whose item
 * already holds its loaded records; -1 when it fails. */
int64_t GenerateHeapGrowth() {
  connection link;
  if (link.chunk == nullptr)
    return -1;
  link.item->CacheRecords = 1;
  if (link.chunk->AlterRichText(1, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr) != NOERROR)
    return -1;
  heap_growth heap;
  if (Generate(link) == 0)
    return -1;
  return heap.Peak();
}

void BM_RenderGenerateHTML(benchmark::State& state) {
  const int64_t growth = GenerateHeapGrowth();
  connection link;
  if (link.chunk == nullptr) {
    state.SkipWithError("connect");
    return;
  }
  const size_t output = Generate(link);
  if (output == 0 || growth < 0) {
    state.SkipWithError("GenerateHTML");
    return;
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(Generate(link));
  Report(state, output, growth);
}

void BM_RenderMemcpy(benchmark::State& state) {
  const document& doc = Document();
  std::vector<char> copy(doc.text.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), doc.text.data(), doc.text.size());
    benchmark::ClobberMemory();
  }
  Report(state, copy.size(), -1);
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
};

/* The options a shape is rendered with. */
const char* ShapeOptions(shape kind) {
  switch (kind) {
  case shape::kHiddenParagraphs:
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
  body.Add(note_testing::DefaultDefinition(1, 1440));
  body.Add(cdbuild::Paragraph());
  body.Add(cdbuild::PabRef(1));
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

BENCHMARK(BM_RenderCmark)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_RenderProcessXMLStream)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_RenderGenerateHTML)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_RenderMemcpy)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_RenderTableCells)->Arg(5)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderRules)->Arg(5)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderFontChanges)->Arg(5)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderEmptyRuns)->Arg(5)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderGroupedFontChanges)->Arg(5)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderHiddenParagraphs)->Arg(5)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);

} // namespace
