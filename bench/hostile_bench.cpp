// Operations on input of hostile shape (unclosed begins, deep nesting) at
// growing sizes, each fitted to a cost linear in the shape's repeats: the
// complexity rows ("_BigO", "_RMS") Google Benchmark prints after each
// case show how well the times follow N. A shape that made an operation
// quadratic (a scan from every record, a call per nesting level) leaves a
// large RMS.
//   BM_RemoveHotspotsOfUnclosedLinks/N  RemoveHotspots over "Everything"
//       of N link begins without ends, each before a text run;
//   BM_CountNonBlankTextAfterDefinitions/N  GetCount("NonBlankText") of
//       N paragraph definitions and references before a text;
//   BM_RenderNestedHotspots/N  GenerateHTML of N hotspots nested in one
//       another, each holding a text run;
//   BM_ImportNestedDivisions/N  AppendHTML of N divisions nested in one
//       another, each holding a word, into an empty item;
//   BM_StoreNestedMultiparts/N  a message of N multiparts nested in one
//       another stored as MIME items.
// Each iteration connects afresh (not timed) and leaves the note as it was.
#include <benchmark/benchmark.h>

#include <string>
#include "bench/bench_support.h"
#include "cdbuild/cd_builder.h"
#include "cdbuild/cd_script.h"
#include "host/mime_items.h"
#include "host/nsfnote.h"
#include "store/body.h"
#include "store/session.h"
#include "tests/support/note_fixture.h"
#include "velko/status.h"
#include "velko/velko.h"

namespace {

constexpr char kDatabase[] = "mem:hostilebench";
constexpr char kItemName[] = "Body";

DBHANDLE Database() {
  static const DBHANDLE db = note_testing::ProcessDatabase(kDatabase);
  return db;
}

/* The text repeated `count` times between a head and a tail. */
std::string Repeated(const std::string& head, const std::string& unit, int64_t count,
                     const std::string& tail = "") {
  std::string text = head;
  text.reserve(head.size() + unit.size() * static_cast<size_t>(count) + tail.size());
  for (int64_t i = 0; i < count; ++i)
    text += unit;
  return text + tail;
}

/* A stored note whose body the record script makes; 0 when it does not
 * build. */
NOTEID StoredScript(const std::string& script) {
  cdbuild::Body body;
  cdbuild::ScriptError error;
  if (!cdbuild::BuildScript(script, &body, &error))
    return 0;
  return StoreItems(Database(), kItemName, body.Items(kBodyItemSplit));
}

constexpr char kFirstParagraph[] = "PABDEF id=1\nPABREF id=1\n";

/* Times `operation` on a chunk of the stored body, connected afresh for
 * every iteration. */
template <typename Operation>
void TimeOnChunk(benchmark::State& state, NOTEID id, const char* definition,
                 Operation operation) {
  if (id == 0)
    return state.SkipWithError("body");
  for (auto _ : state) {
    state.PauseTiming();
    LSXLsiSession session;
    auto* item = new VelkoRTItem(&session);
    VelkoRTChunk* chunk = item->Connect("", kDatabase, id, kItemName, 0) == NOERROR
                              ? item->DefineChunk(definition)
                              : nullptr;
    state.ResumeTiming();
    const bool done = chunk != nullptr && operation(chunk);
    state.PauseTiming();
    delete item;
    state.ResumeTiming();
    if (!done) {
      state.SkipWithError("operation");
      break;
    }
  }
  state.SetComplexityN(state.range(0));
}

void BM_RemoveHotspotsOfUnclosedLinks(benchmark::State& state) {
  const NOTEID id = StoredScript(Repeated(
      kFirstParagraph, "HOTSPOTBEGIN type=11 data=\"http://x\"\nTEXT text=\"t\"\n", state.range(0)));
  TimeOnChunk(state, id, "Everything",
              [](VelkoRTChunk* chunk) { return chunk->RemoveHotspots() == NOERROR; });
}

void BM_CountNonBlankTextAfterDefinitions(benchmark::State& state) {
  const NOTEID id = StoredScript(
      Repeated(kFirstParagraph, "PABDEF id=1\nPABREF id=1\n", state.range(0), "TEXT text=\"x\"\n"));
  TimeOnChunk(state, id, "Everything",
              [](VelkoRTChunk* chunk) { return chunk->GetCount("NonBlankText") == 1; });
}

void BM_RenderNestedHotspots(benchmark::State& state) {
  const int64_t depth = state.range(0);
  const NOTEID id = StoredScript(Repeated(kFirstParagraph, "HOTSPOTBEGIN type=4\nTEXT text=\"x\"\n",
                                          depth, Repeated("", "HOTSPOTEND\n", depth)));
  TimeOnChunk(state, id, "Everything", [](VelkoRTChunk* chunk) {
    char* html = chunk->GenerateHTML("", "HTML 4.01", "", 0, nullptr, nullptr);
    if (html == nullptr)
      return false;
    VelkoDeallocatePtr(chunk->session, html);
    return true;
  });
}

void BM_ImportNestedDivisions(benchmark::State& state) {
  const int64_t depth = state.range(0);
  const std::string html = Repeated("", "<div>x", depth, Repeated("", "</div>", depth));
  const NOTEID id = StoredScript(std::string(kFirstParagraph) + "TEXT text=\"\"\n");
  TimeOnChunk(state, id, "Everything", [&](VelkoRTChunk* chunk) {
    return chunk->AppendHTML("INLINE", html.c_str(), "") == NOERROR;
  });
}

void BM_StoreNestedMultiparts(benchmark::State& state) {
  // The headers and opening delimiters from the outermost in, the
  // innermost part, then the closing delimiters from the innermost out.
  std::string message = "From: a@example.com\r\nMIME-Version: 1.0\r\n";
  for (int64_t level = 0; level < state.range(0); ++level) {
    const std::string boundary = std::to_string(level);
    message.append("Content-Type: multipart/mixed; boundary=\"b").append(boundary);
    message.append("\"\r\n\r\n--b").append(boundary).append("\r\n");
  }
  message.append("Content-Type: text/plain\r\n\r\nhello\r\n");
  for (int64_t level = state.range(0); level-- > 0;)
    message.append("\r\n--b").append(std::to_string(level)).append("--\r\n");
  for (auto _ : state) {
    state.PauseTiming();
    NOTEHANDLE note = NULLHANDLE;
    if (NSFNoteCreate(Database(), &note) != NOERROR) {
      state.SkipWithError("note");
      break;
    }
    state.ResumeTiming();
    const STATUS status =
        MIMEStoreMessage(note, kItemName, message.data(), static_cast<DWORD>(message.size()));
    state.PauseTiming();
    NSFNoteClose(note);
    state.ResumeTiming();
    if (status != NOERROR) {
      state.SkipWithError("store");
      break;
    }
  }
  state.SetComplexityN(state.range(0));
}

void Repeats(benchmark::internal::Benchmark* benchmark) {
  benchmark->RangeMultiplier(4)
      ->Range(2500, 40000)
      ->Unit(benchmark::kMillisecond)
      ->Complexity(benchmark::oN);
}

BENCHMARK(BM_RemoveHotspotsOfUnclosedLinks)->Apply(Repeats);
BENCHMARK(BM_CountNonBlankTextAfterDefinitions)->Apply(Repeats);
BENCHMARK(BM_RenderNestedHotspots)->Apply(Repeats);
BENCHMARK(BM_ImportNestedDivisions)->Apply(Repeats);
BENCHMARK(BM_StoreNestedMultiparts)->Apply(Repeats);

} // namespace
