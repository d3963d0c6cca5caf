// The chunk engine on large bodies: generated rich text of about 5 and 10 MB
// (paragraphs of text runs in several fonts, tables of cells) stored as a
// real note's items, then timed as the plain load, the load with Commit, a
// reading walk over loaded records (action 1 on "Everything"), a writing
// walk with load and Commit (action 49), and a reading walk with a chunk
// that opens at every table cell. Bytes per second are the body's stored
// bytes; the counters give the body's records and the host memory handles
// a writing walk holds at most.
//
// The bodies are written byte by byte in stored form, split into items as
// SaveBodyItems splits them; the engine's emitter never makes the input.
// Nothing here checks results beyond the statuses; the tests do that.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "chunk/rtchunk_internal.h"
#include "engine/driver.h"
#include "host/cdrecords.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "velko/status.h"

namespace {

using Bytes = std::vector<BYTE>;

constexpr char kDatabase[] = "mem:bench";
constexpr char kItemName[] = "Body";
constexpr size_t kMegabyte = 1000 * 1000;

/* ---- stored records ---- */

void PutWord(Bytes& record, size_t at, WORD value) {
  record[at] = static_cast<BYTE>(value);
  record[at + 1] = static_cast<BYTE>(value >> 8);
}

Bytes Bsig(WORD signature, size_t length) {
  Bytes record(length);
  record[0] = static_cast<BYTE>(signature);
  record[1] = static_cast<BYTE>(length);
  return record;
}

Bytes Wsig(WORD signature, size_t length) {
  Bytes record(length);
  PutWord(record, 0, signature);
  PutWord(record, 2, static_cast<WORD>(length));
  return record;
}

/* A text run: FONTID face, attributes, colour and size, then the text. */
Bytes Text(const std::string& text, BYTE face, BYTE attributes, BYTE color, BYTE size) {
  Bytes record = Wsig(SIG_CD_TEXT, 8 + text.size());
  record[4] = face;
  record[5] = attributes;
  record[6] = color;
  record[7] = size;
  std::memcpy(record.data() + 8, text.data(), text.size());
  return record;
}

Bytes Paragraph() { return Bsig(SIG_CD_PARAGRAPH, 2); }

Bytes PabRef(WORD id) {
  Bytes record = Bsig(SIG_CD_PABREFERENCE, 4);
  PutWord(record, 2, id);
  return record;
}

/* A paragraph definition with its six margin words. */
Bytes PabDef(WORD id, WORD leftMargin) {
  Bytes record = Wsig(SIG_CD_PABDEFINITION, 82);
  PutWord(record, 4, id);
  PutWord(record, 14, leftMargin);
  PutWord(record, 18, leftMargin);
  PutWord(record, 22, 720);
  PutWord(record, 62, 0x0100);
  PutWord(record, 70, leftMargin);
  PutWord(record, 74, leftMargin);
  PutWord(record, 80, 100);
  return record;
}

Bytes TableBegin() { return Bsig(SIG_CD_TABLEBEGIN, 14); }
Bytes TableEnd() { return Bsig(SIG_CD_TABLEEND, 8); }

Bytes Cell(BYTE row, BYTE column) {
  Bytes record = Bsig(SIG_CD_TABLECELL, 18);
  record[2] = row;
  record[3] = column;
  PutWord(record, 4, static_cast<WORD>(column * 1440));
  PutWord(record, 6, static_cast<WORD>(column * 1440 + 1440));
  return record;
}

/* ---- generated bodies ---- */

/* A small deterministic generator, so that every run times the same body. */
class Sequence {
public:
  uint32_t Next(uint32_t bound) {
    state_ = state_ * 1664525u + 1013904223u;
    return (state_ >> 8) % bound;
  }

private:
  uint32_t state_ = 12345;
};

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

/* Records gathered into item values the way SaveBodyItems gathers them:
 * a further item before one would hold more than kBodyItemSplit bytes. */
class BodyBuilder {
public:
  void Add(const Bytes& record) {
    const size_t padded = record.size() + (record.size() & 1);
    if (!current_.empty() && current_.size() + padded > kBodyItemSplit)
      Flush();
    current_.insert(current_.end(), record.begin(), record.end());
    if (record.size() & 1)
      current_.push_back(0);
    ++records_;
  }
  void Flush() {
    if (!current_.empty())
      values_.push_back(std::move(current_));
    current_.clear();
  }
  size_t TotalBytes() const {
    size_t total = current_.size();
    for (const auto& value : values_)
      total += value.size() + 2; // and the type word
    return total;
  }
  const std::vector<std::vector<BYTE>>& Values() const { return values_; }
  size_t Records() const { return records_; }

private:
  std::vector<std::vector<BYTE>> values_;
  std::vector<BYTE> current_;
  size_t records_ = 0;
};

void AddTextRun(BodyBuilder& body, Sequence& sequence, size_t shortest, size_t spread) {
  const auto face = static_cast<BYTE>(sequence.Next(5));
  const auto attributes = static_cast<BYTE>(sequence.Next(4)); // plain, bold, italic, both
  const auto color = static_cast<BYTE>(sequence.Next(3));
  const auto size = static_cast<BYTE>(9 + sequence.Next(6));
  body.Add(Text(Words(sequence, shortest + sequence.Next(spread)), face, attributes, color, size));
}

void AddParagraphs(BodyBuilder& body, Sequence& sequence, int count) {
  for (int paragraph = 0; paragraph < count; ++paragraph) {
    body.Add(Paragraph());
    body.Add(PabRef(static_cast<WORD>(1 + sequence.Next(4))));
    const uint32_t runs = 2 + sequence.Next(3);
    for (uint32_t run = 0; run < runs; ++run)
      AddTextRun(body, sequence, 10, 190);
  }
}

void AddTable(BodyBuilder& body, Sequence& sequence, BYTE rows, BYTE columns) {
  body.Add(TableBegin());
  for (BYTE row = 0; row < rows; ++row) {
    for (BYTE column = 0; column < columns; ++column) {
      body.Add(Cell(row, column));
      body.Add(PabRef(2));
      AddTextRun(body, sequence, 3, 40);
    }
  }
  body.Add(TableEnd());
  body.Add(Paragraph());
  body.Add(PabRef(1));
  AddTextRun(body, sequence, 10, 60);
}

struct generated_body {
  std::vector<std::vector<BYTE>> values;
  size_t bytes = 0;
  size_t records = 0;
  NOTEID note_id = 0;
};

/* About `megabytes` MB of stored records: four paragraph definitions, then
 * paragraphs and tables in turn, ending in a text run. */
BodyBuilder Generate(size_t megabytes) {
  BodyBuilder body;
  Sequence sequence;
  for (WORD id = 1; id <= 4; ++id)
    body.Add(PabDef(id, static_cast<WORD>(720 * id)));
  while (body.TotalBytes() < megabytes * kMegabyte) {
    AddParagraphs(body, sequence, 8);
    AddTable(body, sequence, static_cast<BYTE>(3 + sequence.Next(5)),
             static_cast<BYTE>(2 + sequence.Next(4)));
  }
  body.Flush();
  return body;
}

/* The database, opened once for the process. */
DBHANDLE Database() {
  static DBHANDLE db = [] {
    DBHANDLE handle = NULLHANDLE;
    NSFDbCreate(kDatabase, DBCLASS_NOTEFILE, FALSE);
    NSFDbOpen(kDatabase, &handle);
    return handle;
  }();
  return db;
}

/* The stored note of the body of that size, made on first use. */
const generated_body& Body(size_t megabytes) {
  static std::map<size_t, generated_body> bodies;
  auto found = bodies.find(megabytes);
  if (found != bodies.end())
    return found->second;
  BodyBuilder built = Generate(megabytes);
  generated_body body;
  body.values = built.Values();
  body.bytes = built.TotalBytes();
  body.records = built.Records();
  NOTEHANDLE note = NULLHANDLE;
  NSFNoteCreate(Database(), &note);
  for (const auto& value : body.values)
    NSFItemAppend(note, 0, kItemName, 4, TYPE_COMPOSITE, value.data(),
                  static_cast<DWORD>(value.size()));
  NSFNoteUpdate(note, UPDATE_FORCE);
  NSFNoteGetInfo(note, _NOTE_ID, &body.note_id);
  NSFNoteClose(note);
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

void BM_Load(benchmark::State& state) {
  const generated_body& body = Body(static_cast<size_t>(state.range(0)));
  connection link(body);
  for (auto _ : state) {
    body_context* context =
        StoreItemsAndRecords(link.item, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
    state.PauseTiming();
    Check(state, context != nullptr ? context->load_status : STATUS{VELKO_ERR_FAILED}, "load");
    CleanupBodyContext(&link.session, context);
    delete context;
    state.ResumeTiming();
  }
  Report(state, body);
}

void BM_LoadAndCommit(benchmark::State& state) {
  const generated_body& body = Body(static_cast<size_t>(state.range(0)));
  connection link(body);
  for (auto _ : state) {
    link.item->internal->input =
        StoreItemsAndRecords(link.item, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
    Check(state, link.item->Commit(), "commit");
  }
  Report(state, body);
}

/* A reading walk over records loaded before the timing starts. */
void ReadingWalk(benchmark::State& state, const char* definition) {
  const generated_body& body = Body(static_cast<size_t>(state.range(0)));
  connection link(body);
  link.item->CacheRecords = 1;
  VelkoRTChunk* chunk = link.item->DefineChunk(definition);
  if (chunk == nullptr) {
    state.SkipWithError("definition");
    return;
  }
  Check(state, chunk->AlterRichText(1, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr), "load");
  for (auto _ : state)
    Check(state, chunk->AlterRichText(1, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr), "walk");
  Report(state, body);
  state.counters["last"] = static_cast<double>(link.session.internal->found_second);
}

void BM_ReadingWalk(benchmark::State& state) { ReadingWalk(state, "Everything"); }
void BM_EveryTableCell(benchmark::State& state) { ReadingWalk(state, "Table *; Row *; Column *"); }

/* The most host memory handles held at any break test of a walk. */
size_t peak_handles = 0;
WORD SampleHandles() {
  peak_handles = std::max(peak_handles, HostTestLiveHandles());
  return 0;
}

/* The host memory handles a first writing walk of a fresh session takes
 * at most beyond those held before it. */
size_t HandlesOfFirstWritingWalk(const generated_body& body) {
  connection link(body);
  VelkoRTChunk* chunk = link.item->DefineChunk("Everything");
  if (chunk == nullptr)
    return 0;
  const size_t before = HostTestLiveHandles();
  peak_handles = before;
  ControlBreak = SampleHandles;
  chunk->AlterRichText(49, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  ControlBreak = nullptr;
  return peak_handles - before;
}

void BM_WritingWalk(benchmark::State& state) {
  const generated_body& body = Body(static_cast<size_t>(state.range(0)));
  const size_t handles = HandlesOfFirstWritingWalk(body);
  connection link(body);
  VelkoRTChunk* chunk = link.item->DefineChunk("Everything");
  if (chunk == nullptr) {
    state.SkipWithError("definition");
    return;
  }
  for (auto _ : state)
    Check(state, chunk->AlterRichText(49, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr), "walk");
  Report(state, body);
  state.counters["handles"] = static_cast<double>(handles);
}

void Sizes(benchmark::internal::Benchmark* benchmark) {
  benchmark->Arg(5)->Arg(10)->Unit(benchmark::kMillisecond)->MinTime(1.0);
}

BENCHMARK(BM_Load)->Apply(Sizes);
BENCHMARK(BM_LoadAndCommit)->Apply(Sizes);
BENCHMARK(BM_ReadingWalk)->Apply(Sizes);
BENCHMARK(BM_WritingWalk)->Apply(Sizes);
BENCHMARK(BM_EveryTableCell)->Apply(Sizes);

} // namespace
