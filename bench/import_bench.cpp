// The HTML import on generated documents of about 5, 10 and 20 MB (styled
// paragraphs, links, headings, lists and tables): tidy's parse and clean-up
// of the document alone, as the importer runs them; AppendHTML of the
// document as inline UTF-8 text with Commit into an empty item that
// caches its records; the two side by side in each iteration, timed as
// the import less the parse; and the plain load with Commit of the body
// that import made. The ratios printed after the table set the import's
// own work (the import less tidy's parse, from the separate runs and from
// the paired one) against that load and Commit, in CPU time.
//
// Nothing here checks results beyond the statuses; the tests do that.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>

#include "bench/bench_support.h"
#include "bench/ratio_report.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "import/tidy_parser.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "tests/support/note_fixture.h"
#include "velko/status.h"
#include "velko/velko.h"

namespace {

constexpr char kDatabase[] = "mem:importbench";
constexpr char kItemName[] = "Body";
constexpr size_t kMegabyte = 1000 * 1000;

/* ---- generated documents ---- */

std::string Words(Sequence& sequence, size_t count) {
  static const char* const kWords[] = {"rich",  "text",   "import", "tidy",  "record", "table",
                                       "cell",  "font",   "chunk",  "note",  "walk",   "item",
                                       "style", "stored", "linear", "body",  "markup", "link"};
  std::string text;
  for (size_t word = 0; word < count; ++word) {
    if (word > 0)
      text += ' ';
    text += kWords[sequence.Next(sizeof kWords / sizeof kWords[0])];
  }
  return text;
}

/* A run of words, plain or in one of the styles the importer maps: an
 * element of the table, a font size or a link. */
void AddRun(std::string& html, Sequence& sequence) {
  static const char* const kStyles[][2] = {
      {"<b>", "</b>"},
      {"<i>", "</i>"},
      {"<u>", "</u>"},
      {"<span style=\"color:#336699; font-weight:bold\">", "</span>"}};
  constexpr uint32_t kStyleCount = sizeof kStyles / sizeof kStyles[0];
  const std::string words = Words(sequence, 2 + sequence.Next(8));
  const uint32_t kind = sequence.Next(kStyleCount + 5);
  if (kind < kStyleCount)
    html += kStyles[kind][0] + words + kStyles[kind][1];
  else if (kind == kStyleCount)
    html += "<font size=\"" + std::to_string(1 + sequence.Next(7)) + "\">" + words + "</font>";
  else if (kind == kStyleCount + 1)
    html += "<a href=\"http://example.com/page/" + std::to_string(sequence.Next(100000)) +
            ".html\">" + words + "</a>";
  else
    html += words;
  html += ' ';
}

void AddParagraph(std::string& html, Sequence& sequence) {
  html += sequence.Next(4) == 0 ? "<p align=\"center\">" : "<p>";
  for (uint32_t run = 3 + sequence.Next(6); run > 0; --run)
    AddRun(html, sequence);
  html += "</p>\n";
}

void AddList(std::string& html, Sequence& sequence) {
  const bool numbered = sequence.Next(2) == 0;
  html += numbered ? "<ol>\n" : "<ul>\n";
  for (uint32_t entry = 2 + sequence.Next(5); entry > 0; --entry) {
    html += "<li>";
    AddRun(html, sequence);
    AddRun(html, sequence);
    html += "</li>\n";
  }
  html += numbered ? "</ol>\n" : "</ul>\n";
}

void AddTable(std::string& html, Sequence& sequence) {
  html += "<table border=\"1\" width=\"80%\">\n";
  const uint32_t columns = 2 + sequence.Next(4);
  for (uint32_t row = 3 + sequence.Next(5); row > 0; --row) {
    html += "<tr>";
    for (uint32_t column = 0; column < columns; ++column) {
      html += "<td>";
      AddRun(html, sequence);
      html += "</td>";
    }
    html += "</tr>\n";
  }
  html += "</table>\n";
}

/* About `megabytes` MB of HTML: paragraphs, with a heading, a list and a
 * table in turn between them. */
std::string Generate(size_t megabytes) {
  Sequence sequence(4242);
  std::string html = "<!DOCTYPE html>\n<html><head><title>Import</title></head><body>\n";
  for (size_t block = 0; html.size() < megabytes * kMegabyte; ++block) {
    switch (block % 10) {
    case 0:
      html += "<h2>" + Words(sequence, 4) + "</h2>\n";
      break;
    case 4:
      AddList(html, sequence);
      break;
    case 8:
      AddTable(html, sequence);
      break;
    default:
      AddParagraph(html, sequence);
      break;
    }
  }
  html += "</body></html>\n";
  return html;
}

const std::string& Document(size_t megabytes) {
  static std::map<size_t, std::string> documents;
  auto found = documents.find(megabytes);
  if (found == documents.end())
    found = documents.emplace(megabytes, Generate(megabytes)).first;
  return found->second;
}

DBHANDLE Database() {
  static const DBHANDLE db = [] {
    DBHANDLE handle = NULLHANDLE;
    note_testing::CreateDatabase(kDatabase, &handle);
    return handle;
  }();
  return db;
}

void Check(benchmark::State& state, STATUS status, const char* what) {
  if (status != NOERROR)
    state.SkipWithError(what);
}

/* A new note with an empty item that caches its records. */
struct empty_item {
  NOTEHANDLE note = NULLHANDLE;
  VelkoRTItem* item = nullptr;
  STATUS status = NOERROR;

  explicit empty_item(LSXLsiSession* session) {
    status = NSFNoteCreate(Database(), &note);
    item = new VelkoRTItem(session);
    item->CacheRecords = 1;
    if (status == NOERROR)
      status = item->CreateBackend(note, kItemName, 1);
  }
  ~empty_item() {
    delete item;
    if (note != NULLHANDLE)
      NSFNoteClose(note);
  }
  empty_item(const empty_item&) = delete;
  empty_item& operator=(const empty_item&) = delete;

  STATUS Import(const std::string& html) {
    if (status != NOERROR)
      return status;
    if (STATUS appended = item->default_chunk->AppendHTML("INLINE", html.c_str(), "Charset=UTF-8");
        appended != NOERROR)
      return appended;
    return item->Commit();
  }
};

/* The stored note holding the body that the import of the document makes,
 * made on first use; 0 when the import failed. */
NOTEID ImportedNote(size_t megabytes) {
  static std::map<size_t, NOTEID> notes;
  auto found = notes.find(megabytes);
  if (found != notes.end())
    return found->second;
  LSXLsiSession session;
  empty_item target(&session);
  NOTEID id = 0;
  if (target.Import(Document(megabytes)) == NOERROR &&
      NSFNoteUpdate(target.note, UPDATE_FORCE) == NOERROR)
    NSFNoteGetInfo(target.note, _NOTE_ID, &id);
  return notes.emplace(megabytes, id).first->second;
}

void Report(benchmark::State& state, const std::string& html) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * html.size()));
  state.counters["MB"] = static_cast<double>(html.size()) / kMegabyte;
}

/* ---- the cases ---- */

void BM_TidyParse(benchmark::State& state) {
  const std::string& html = Document(static_cast<size_t>(state.range(0)));
  LSXLsiSession session;
  for (auto _ : state) {
    tidy_parser parser(&session);
    if (parser.Parse(html) != NOERROR) {
      state.SkipWithError("parse");
      break;
    }
  }
  Report(state, html);
}

void BM_HtmlImport(benchmark::State& state) {
  const std::string& html = Document(static_cast<size_t>(state.range(0)));
  // One session for every import, as the parse alone has: each import
  // meets the memory the previous one gave back.
  LSXLsiSession session;
  for (auto _ : state) {
    state.PauseTiming();
    auto* target = new empty_item(&session);
    state.ResumeTiming();
    const STATUS status = target->Import(html);
    if (status != NOERROR) {
      state.SkipWithError("import");
      delete target;
      break;
    }
    state.PauseTiming();
    delete target;
    state.ResumeTiming();
  }
  Report(state, html);
}

/* The import's own work measured in pairs: each iteration parses the
 * document as the importer does and imports it, and counts the import's
 * CPU time less the parse's. Taken side by side, the two long runs meet
 * the same state of the machine, which separate benchmarks a minute apart
 * do not; which of them goes first alternates, so that neither always
 * meets the memory the other just gave back. */
void BM_HtmlImportLessParse(benchmark::State& state) {
  const std::string& html = Document(static_cast<size_t>(state.range(0)));
  LSXLsiSession session;
  bool parseFirst = true;
  for (auto _ : state) {
    auto* target = new empty_item(&session);
    STATUS status = NOERROR;
    double parse = 0;
    double import = 0;
    auto timed = [&](double* seconds, auto run) {
      const double start = ThreadSeconds();
      if (status == NOERROR)
        status = run();
      *seconds = ThreadSeconds() - start;
    };
    auto parseAlone = [&] { return tidy_parser(&session).Parse(html); };
    auto importWhole = [&] { return target->Import(html); };
    if (parseFirst) {
      timed(&parse, parseAlone);
      timed(&import, importWhole);
    } else {
      timed(&import, importWhole);
      timed(&parse, parseAlone);
    }
    parseFirst = !parseFirst;
    delete target;
    if (status != NOERROR) {
      state.SkipWithError("import");
      break;
    }
    // A difference lost in the noise may come out below zero.
    state.SetIterationTime(std::max(import - parse, 1e-6));
  }
  Report(state, html);
}

void BM_ImportedLoadAndCommit(benchmark::State& state) {
  const std::string& html = Document(static_cast<size_t>(state.range(0)));
  const NOTEID id = ImportedNote(static_cast<size_t>(state.range(0)));
  if (id == 0) {
    state.SkipWithError("import");
    return;
  }
  LSXLsiSession session;
  auto* item = new VelkoRTItem(&session);
  Check(state, item->Connect("", kDatabase, id, kItemName, 0), "connect");
  for (auto _ : state) {
    item->internal->input = StoreItemsAndRecords(item, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
    Check(state, item->Commit(), "commit");
  }
  delete item;
  Report(state, html);
}

void Sizes(benchmark::internal::Benchmark* benchmark) {
  benchmark->Arg(5)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);
}

/* The parse and the import take a second or so at 20 MB: several runs of
 * each, so that their difference is not lost in the noise of one. */
void LongSizes(benchmark::internal::Benchmark* benchmark) {
  Sizes(benchmark);
  benchmark->MinTime(4.0);
}

[[maybe_unused]] const bool kRatios =
    AddBenchDifferenceRatio("BM_HtmlImport", "BM_TidyParse", "BM_ImportedLoadAndCommit", "1.3") &&
    AddBenchRatio("BM_HtmlImportLessParse", "BM_ImportedLoadAndCommit", "1.3");

BENCHMARK(BM_TidyParse)->Apply(LongSizes);
BENCHMARK(BM_HtmlImport)->Apply(LongSizes);
/* Pairs enough for the mean difference to stand out of a parse's own
 * jitter, in about fifteen seconds a size. */
BENCHMARK(BM_HtmlImportLessParse)->Arg(5)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(24);
BENCHMARK(BM_HtmlImportLessParse)->Arg(10)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(12);
BENCHMARK(BM_HtmlImportLessParse)->Arg(20)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(6);
BENCHMARK(BM_ImportedLoadAndCommit)->Apply(Sizes);

} // namespace
