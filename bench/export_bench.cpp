// The item-level MIME export against the rendering it is built on: one
// item of about 10 MB of paragraphs with 100 GIF images among them.
//
// Timed:
//   BM_ExportGenerateHTML  GenerateHTML of the whole item;
//   BM_ExportRenderForMime the rendering SaveAsMime runs, alone
//                          (GenerateHTMLToMime in MIME mode);
//   BM_ExportSaveAsMime    SaveAsMime of the whole item to a file (the
//                          rendering in MIME mode, its part file attached
//                          and read back, the message built and written).
// Each iteration connects the item afresh (not timed), so both load the
// body. The ratios to GenerateHTML are printed after the table; the export
// should stay within 1.3 times the rendering.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/ratio_report.h"
#include "cdbuild/cd_builder.h"
#include "host/cdrecords.h"
#include "velko/velko.h"

namespace {

constexpr char kDatabase[] = "mem:exportbench";
constexpr char kItemName[] = "Body";
constexpr size_t kBodyBytes = 10 * 1000 * 1000;
constexpr int kImages = 100;
constexpr size_t kImageBytes = 4000;

const char* kWords[] = {"export", "message", "part", "image", "the", "of", "rich", "text",
                        "header", "boundary", "encoded", "line", "paragraph", "and", "a"};

/* A GIF header and filler bytes: the export copies image data as it is. */
cdbuild::Bytes ImageData(int number) {
  cdbuild::Bytes data = {'G', 'I', 'F', '8', '9', 'a'};
  Sequence sequence(static_cast<uint32_t>(number) + 7);
  while (data.size() < kImageBytes)
    data.push_back(static_cast<BYTE>(sequence.Next(256)));
  return data;
}

NOTEID StoreBody() {
  cdbuild::Body body;
  body.Add(cdbuild::PabDef({}));
  Sequence sequence(20);
  size_t bytes = 0;
  const size_t imageEvery = kBodyBytes / kImages;
  size_t nextImage = imageEvery / 2;
  int images = 0;
  while (bytes < kBodyBytes) {
    std::string text;
    while (text.size() < 120)
      text += std::string(kWords[sequence.Next(std::size(kWords))]) + " ";
    body.Add(cdbuild::Paragraph());
    body.Add(cdbuild::PabRef(1));
    body.Add(cdbuild::Text(text));
    bytes += text.size() + 20;
    if (bytes >= nextImage && images < kImages) {
      const cdbuild::Bytes data = ImageData(images);
      cdbuild::ImageHeaderFields header;
      header.image_type = 1;
      header.width = 32;
      header.height = 32;
      header.data_size = static_cast<DWORD>(data.size());
      header.segment_count = 1;
      body.Add(cdbuild::Begin(SIG_CD_GRAPHIC));
      body.Add(cdbuild::Graphic({}));
      body.Add(cdbuild::ImageHeader(header));
      body.Add(cdbuild::ImageSegment(data));
      body.Add(cdbuild::End(SIG_CD_GRAPHIC));
      bytes += data.size();
      nextImage += imageEvery;
      ++images;
    }
  }
  return StoreItems(note_testing::ProcessDatabase(kDatabase), kItemName, body.Items());
}

NOTEID BodyNote() {
  static const NOTEID note = StoreBody();
  return note;
}

struct connection {
  LSXLsiSession session;
  VelkoRTItem* item = nullptr;

  connection() {
    session.InitializeTempDirectory();
    item = new VelkoRTItem(&session);
    if (item->Connect("", kDatabase, BodyNote(), kItemName, 0) != NOERROR)
      item = nullptr;
  }
};

void BM_ExportGenerateHTML(benchmark::State& state) {
  size_t output = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto* link = new connection;
    VelkoRTChunk* chunk = link->item != nullptr ? link->item->DefineChunk("Everything") : nullptr;
    state.ResumeTiming();
    char* html = chunk != nullptr ? chunk->GenerateHTML("", "HTML 4.01", nullptr, 0, nullptr,
                                                        nullptr)
                                  : nullptr;
    output = html != nullptr ? link->session.render_result_length : 0;
    VelkoDeallocatePtr(&link->session, html);
    state.PauseTiming();
    delete link;
    state.ResumeTiming();
    if (output == 0) {
      state.SkipWithError("GenerateHTML failed");
      return;
    }
  }
  state.counters["out_MB"] = static_cast<double>(output) / 1e6;
}

void BM_ExportSaveAsMime(benchmark::State& state) {
  const std::string path = "/tmp/velko-export-bench-" + std::to_string(getpid()) + ".eml";
  long size = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto* link = new connection;
    state.ResumeTiming();
    const STATUS status =
        link->item != nullptr ? link->item->SaveAsMime(path.c_str(), "HTML 4.01", "") : 1;
    state.PauseTiming();
    delete link;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
      std::fseek(file, 0, SEEK_END);
      size = std::ftell(file);
      std::fclose(file);
    }
    std::remove(path.c_str());
    state.ResumeTiming();
    if (status != NOERROR) {
      state.SkipWithError("SaveAsMime failed");
      return;
    }
  }
  state.counters["out_MB"] = static_cast<double>(size) / 1e6;
}

/* The rendering that SaveAsMime runs, alone: MIME mode, quoted-printable,
 * into a caller buffer and the part file attached to the note. */
void BM_ExportRenderForMime(benchmark::State& state) {
  std::vector<char> buffer(65406);
  for (auto _ : state) {
    state.PauseTiming();
    auto* link = new connection;
    VelkoRTChunk* chunk = link->item != nullptr ? link->item->DefineChunk("Everything") : nullptr;
    state.ResumeTiming();
    DWORD length = static_cast<DWORD>(buffer.size());
    char partName[256] = {};
    int used[4] = {};
    int word = 0;
    const char options[] = "ContentTransferEncoding=quoted-printable";
    const STATUS status =
        chunk != nullptr
            ? chunk->GenerateHTMLToMime(0, 1, "HTML 4.01", options, sizeof options - 1,
                                        buffer.data(), &length, 1, partName, nullptr, nullptr,
                                        nullptr, nullptr, used, &word)
            : STATUS{1};
    state.PauseTiming();
    delete link;
    state.ResumeTiming();
    if (status != NOERROR) {
      state.SkipWithError("GenerateHTMLToMime failed");
      return;
    }
  }
}

BENCHMARK(BM_ExportGenerateHTML)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ExportRenderForMime)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ExportSaveAsMime)->Unit(benchmark::kMillisecond)->Iterations(5);

const bool kExportRatio = AddBenchRatio("BM_ExportSaveAsMime", "BM_ExportGenerateHTML", "1.3");
const bool kMimeRenderRatio =
    AddBenchRatio("BM_ExportRenderForMime", "BM_ExportGenerateHTML", "-");

} // namespace
