// Rendering against cmark in process, on like-for-like documents. Three
// mixes of about 10 MB of text each, written once as Markdown and once as a
// stored rich-text body, as bench/compare_cmark.py writes them for the
// whole programs:
//   plain   paragraphs of plain words;
//   styled  paragraphs of alternating plain and bold or italic runs of 2-5
//           words;
//   lists   a lead paragraph and a bulleted list of 3-8 items, in turn;
//   tables  a paragraph holding a link (a V4 URL hotspot, which renders as
//           an anchor; "[text](url)") and ending in an image (an embedded
//           GIF; "![](src)"), then a section (a section hotspot and its
//           bar, rendered without options as a rule and its content; a
//           thematic break "---") holding a table of 6 columns and 3-6
//           rows of 1-3 words a cell (a pipe table, which cmark without
//           extensions reads as text).
// Both forms hold the same words and the same styled elements (neighbouring
// runs of one style never occur, so neither side merges what the other
// keeps apart); each mix is checked before it is timed: the same text once
// the tags are stripped (white space and a pipe table's "|" and "-" aside)
// and the same count of bold, italic, list-item, anchor and rule elements.
//
// Each mix is about 10 MB of Markdown; "tables_5MB" is the tables mix at
// about 5 MB, so that its times can be compared for linear growth.
//
// Timed per mix:
//   BM_Cmark/<mix>         cmark_markdown_to_html on the Markdown;
//   BM_GenerateHTML/<mix>  GenerateHTML on an item connected afresh for the
//                          iteration (its load, the engine's walk and the
//                          rendering; the connect is not timed);
//   BM_RenderLoaded/<mix>  GenerateHTML on an item whose records are
//                          loaded already: the walk and the rendering.
// Counters: MB of Markdown text per second ("text_MB/s"), the output's
// size, and for GenerateHTML the peak heap growth of one call against the
// body's stored bytes and the output ("heap/(body+out)"). The ratios to
// cmark are printed after the table.
#include <benchmark/benchmark.h>

#include <cmark.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/heap_count.h"
#include "bench/ratio_report.h"
#include "cdbuild/cd_builder.h"
#include "host/nsfdb.h"
#include "store/body.h"
#include "tests/support/note_fixture.h"
#include "velko/velko.h"

namespace {

constexpr char kDatabase[] = "mem:cmarkbench";
constexpr char kItemName[] = "Body";
constexpr double kMegabyte = 1000.0 * 1000.0;
constexpr size_t kMegabyteBytes = 1000 * 1000;
constexpr size_t kTextBytes = 10 * kMegabyteBytes;
constexpr int kTableColumns = 6;
constexpr char kLinkURL[] = "http://example.com/page";
constexpr char kImageSource[] = "/images/picture.gif";

/* ---- the mixes ---- */

enum class style { kPlain, kBold, kItalic, kLink, kImage };

struct run {
  style kind;
  std::string text;
};

struct block {
  bool item; /* a list item, else a paragraph */
  std::vector<run> runs;
  std::vector<std::vector<std::string>> rows{}; /* a table's cell texts, when not empty */
};

std::string Words(Sequence& sequence, uint32_t low, uint32_t high) {
  static const char* const kWords[] = {
      "rich",    "text",   "body",   "record", "table",  "cell",     "font",   "chunk",
      "engine",  "note",   "walk",   "item",   "store",  "paragraph", "words", "render",
      "output",  "document", "run",  "list",   "byte",   "quick",    "brown",  "fox",
      "lazy",    "markup", "stream", "header", "linear", "quarter",  "figure", "report"};
  const uint32_t count = low + sequence.Next(high - low + 1);
  std::string text;
  for (uint32_t word = 0; word < count; ++word) {
    if (word > 0)
      text += ' ';
    text += kWords[sequence.Next(sizeof kWords / sizeof kWords[0])];
  }
  return text;
}

/* The next blocks of the mix. */
void NextBlocks(const std::string& mix, Sequence& sequence, std::vector<block>* blocks) {
  if (mix == "plain") {
    blocks->push_back({false, {{style::kPlain, Words(sequence, 40, 120)}}});
  } else if (mix == "styled") {
    block paragraph{false, {}};
    const uint32_t runs = 6 + sequence.Next(11);
    for (uint32_t k = 0; k < runs; ++k) {
      const style kind =
          k % 2 == 0 ? style::kPlain : (sequence.Next(2) == 0 ? style::kBold : style::kItalic);
      paragraph.runs.push_back({kind, Words(sequence, 2, 5)});
    }
    blocks->push_back(paragraph);
  } else if (mix == "tables") {
    blocks->push_back({false,
                       {{style::kPlain, Words(sequence, 10, 30)},
                        {style::kLink, Words(sequence, 2, 4)},
                        {style::kPlain, Words(sequence, 5, 15)},
                        {style::kImage, ""}}});
    block table{false, {}};
    const uint32_t rows = 3 + sequence.Next(4);
    for (uint32_t row = 0; row < rows; ++row) {
      table.rows.emplace_back();
      for (int column = 0; column < kTableColumns; ++column)
        table.rows.back().push_back(Words(sequence, 1, 3));
    }
    blocks->push_back(table);
  } else {
    blocks->push_back({false, {{style::kPlain, Words(sequence, 20, 60)}}});
    const uint32_t items = 3 + sequence.Next(6);
    for (uint32_t k = 0; k < items; ++k)
      blocks->push_back({true, {{style::kPlain, Words(sequence, 4, 12)}}});
  }
}

/* A run's text as both sides write it: a blank between runs, inside the
 * run before it. */
std::string RunText(const block& b, size_t k) {
  return b.runs[k].text + (k + 1 < b.runs.size() ? " " : "");
}

/* A pipe table: the first row as its head, then the delimiter row. */
std::string PipeTable(const std::vector<std::vector<std::string>>& rows) {
  std::string text;
  for (size_t row = 0; row < rows.size(); ++row) {
    for (const std::string& cell : rows[row])
      text += "| " + cell + " ";
    text += "|\n";
    if (row == 0) {
      for (size_t column = 0; column < rows[row].size(); ++column)
        text += "|---";
      text += "|\n";
    }
  }
  return text;
}

/* The same table as records: a cell record, the reference and the text of
 * each cell. */
void AddTable(cdbuild::Body& body, const std::vector<std::vector<std::string>>& rows) {
  body.Add(cdbuild::TableBegin());
  for (size_t row = 0; row < rows.size(); ++row) {
    for (size_t column = 0; column < rows[row].size(); ++column) {
      cdbuild::TableCellFields fields;
      fields.row = static_cast<BYTE>(row);
      fields.column = static_cast<BYTE>(column);
      body.Add(cdbuild::TableCell(fields));
      body.Add(cdbuild::PabRef(1));
      body.Add(cdbuild::Text(rows[row][column]));
    }
  }
  body.Add(cdbuild::TableEnd());
}

/* The table in a section: its hotspot (a V4 section), its bar, the table
 * and the hotspot's end. */
void AddSection(cdbuild::Body& body, const std::vector<std::vector<std::string>>& rows) {
  body.Add(cdbuild::HotspotBegin({.signature = SIG_CD_V4HOTSPOTBEGIN, .type = 13}));
  body.Add(cdbuild::SectionBar({.title = "Section"}));
  AddTable(body, rows);
  body.Add(cdbuild::HotspotEnd(SIG_CD_V4HOTSPOTEND));
}

/* An embedded GIF of one segment, in its bracket. */
void AddImage(cdbuild::Body& body) {
  body.Add(cdbuild::Begin(SIG_CD_GRAPHIC));
  body.Add(cdbuild::Graphic());
  body.Add(cdbuild::ImageHeader({.image_type = 1, .width = 1, .height = 1, .segment_count = 1}));
  body.Add(cdbuild::ImageSegment({'G', 'I', 'F'}));
  body.Add(cdbuild::End(SIG_CD_GRAPHIC));
}

struct mix_document {
  std::string markdown;
  NOTEID note_id = 0;
  size_t stored_bytes = 0;
};

/* The mix of the name, "<mix>" or "<mix>_<N>MB" for another size than
 * kTextBytes. */
const mix_document& Mix(const std::string& name) {
  static std::map<std::string, mix_document> made;
  if (auto found = made.find(name); found != made.end())
    return found->second;
  const size_t underscore = name.find('_');
  const std::string mix = name.substr(0, underscore);
  const size_t textBytes = underscore == std::string::npos
                               ? kTextBytes
                               : std::stoul(name.substr(underscore + 1)) * kMegabyteBytes;
  mix_document doc;
  Sequence sequence(2026);
  std::vector<block> blocks;
  while (doc.markdown.size() < textBytes) {
    const size_t from = blocks.size();
    NextBlocks(mix, sequence, &blocks);
    for (size_t b = from; b < blocks.size(); ++b) {
      if (!blocks[b].rows.empty()) {
        doc.markdown += "\n---\n" + PipeTable(blocks[b].rows);
        continue;
      }
      const bool previousItem = b > 0 && blocks[b - 1].item;
      std::string line = blocks[b].item ? (previousItem ? "- " : "\n- ") : "\n";
      for (size_t k = 0; k < blocks[b].runs.size(); ++k) {
        const char* mark = blocks[b].runs[k].kind == style::kBold     ? "**"
                           : blocks[b].runs[k].kind == style::kItalic ? "*"
                                                                      : "";
        // The blank stays outside the emphasis, as Markdown needs it.
        const std::string& text = blocks[b].runs[k].text;
        const std::string element =
            blocks[b].runs[k].kind == style::kLink    ? "[" + text + "](" + kLinkURL + ")"
            : blocks[b].runs[k].kind == style::kImage ? std::string("![](") + kImageSource + ")"
                                                      : mark + text + mark;
        line += element + (k + 1 < blocks[b].runs.size() ? " " : "");
      }
      doc.markdown += line + "\n";
    }
  }
  cdbuild::Body body;
  body.Add(note_testing::DefaultDefinition(1, 1440));
  body.Add(note_testing::DefaultDefinition(2, 1800));
  // The list's definition: bulleted (flags 0x0400).
  body.Add(cdbuild::PabDef({.id = 3, .left = 1800, .flags = 0x0400}));
  for (const block& b : blocks) {
    if (!b.rows.empty()) {
      AddSection(body, b.rows);
      continue;
    }
    body.Add(cdbuild::Paragraph());
    body.Add(cdbuild::PabRef(b.item ? 3 : 1));
    for (size_t k = 0; k < b.runs.size(); ++k) {
      if (b.runs[k].kind == style::kLink) {
        body.Add(cdbuild::HotspotBegin(
            {.signature = SIG_CD_V4HOTSPOTBEGIN, .type = 11, .flags = 0x1000, .data = kLinkURL}));
        body.Add(cdbuild::Text(RunText(b, k)));
        body.Add(cdbuild::HotspotEnd(SIG_CD_V4HOTSPOTEND));
        continue;
      }
      if (b.runs[k].kind == style::kImage) {
        AddImage(body);
        if (k + 1 < b.runs.size())
          body.Add(cdbuild::Text(" "));
        continue;
      }
      const BYTE attributes = b.runs[k].kind == style::kBold     ? 0x01
                              : b.runs[k].kind == style::kItalic ? 0x02
                                                                 : 0x00;
      body.Add(cdbuild::Text(RunText(b, k), {1, attributes, 0, 10}));
    }
  }
  const auto values = body.Items(kBodyItemSplit);
  for (const auto& value : values)
    doc.stored_bytes += value.size() + 2;
  doc.note_id = StoreItems(note_testing::ProcessDatabase(kDatabase), kItemName, values);
  return made.emplace(name, std::move(doc)).first->second;
}

/* ---- the check that both sides hold the same ---- */

std::string Stripped(const std::string& html) {
  static const std::regex kTag("<[^>]*>");
  std::string text = std::regex_replace(html, kTag, "");
  std::string kept;
  for (char c : text) {
    // A pipe table's delimiters are text to cmark without extensions.
    if (c != ' ' && c != '\n' && c != '\t' && c != '\r' && c != '|' && c != '-')
      kept += c;
  }
  return kept;
}

size_t Count(const std::string& html, std::initializer_list<const char*> names) {
  size_t count = 0;
  for (const char* name : names) {
    const std::string open = std::string("<") + name;
    for (size_t at = html.find(open); at != std::string::npos; at = html.find(open, at + 1)) {
      const char after = html[at + open.size()];
      count += after == '>' || after == ' ' ? 1 : 0;
    }
  }
  return count;
}

/* Empty when the two outputs hold the same text and styled elements. */
std::string Difference(const std::string& ours, const std::string& theirs) {
  const size_t bodyAt = ours.find("<body");
  const size_t bodyEnd = ours.rfind("</body>");
  const std::string body =
      bodyAt == std::string::npos ? ours
                                  : ours.substr(ours.find('>', bodyAt) + 1,
                                                bodyEnd == std::string::npos ? std::string::npos
                                                                             : bodyEnd - ours.find('>', bodyAt) - 1);
  if (Stripped(body) != Stripped(theirs))
    return "the texts differ";
  const struct {
    const char* what;
    std::initializer_list<const char*> names;
  } kinds[] = {{"bold", {"b", "strong"}},
               {"italic", {"i", "em"}},
               {"list item", {"li"}},
               {"anchor", {"a"}},
               {"rule", {"hr"}}};
  for (const auto& kind : kinds) {
    if (Count(body, kind.names) != Count(theirs, kind.names))
      return std::string(kind.what) + " elements differ: " + std::to_string(Count(body, kind.names)) +
             " against " + std::to_string(Count(theirs, kind.names));
  }
  return "";
}

/* ---- the cases ---- */

struct connection {
  LSXLsiSession session;
  VelkoRTItem* item = nullptr;
  VelkoRTChunk* chunk = nullptr;

  explicit connection(NOTEID note) {
    item = new VelkoRTItem(&session);
    if (item->Connect("", kDatabase, note, kItemName, 0) == NOERROR)
      chunk = item->DefineChunk("Everything");
  }
};

/* One GenerateHTML; the output (empty on failure) when asked for, else
 * only its length. */
size_t Generate(connection& link, std::string* output = nullptr) {
  char* html = link.chunk->GenerateHTML(nullptr, "HTML 4.01", nullptr, 0, nullptr, nullptr);
  if (html == nullptr)
    return 0;
  const size_t length = link.session.render_result_length;
  if (output != nullptr)
    output->assign(html, length);
  VelkoDeallocatePtr(&link.session, html);
  return link.chunk->status == NOERROR ? length : 0;
}

std::string CmarkHTML(const std::string& markdown) {
  char* html = cmark_markdown_to_html(markdown.data(), markdown.size(), CMARK_OPT_DEFAULT);
  std::string text(html);
  free(html);
  return text;
}

void Report(benchmark::State& state, const mix_document& doc, size_t output) {
  state.counters["text_MB/s"] = benchmark::Counter(static_cast<double>(doc.markdown.size()) / kMegabyte,
                                                   benchmark::Counter::kIsIterationInvariantRate);
  state.counters["out_MB"] = static_cast<double>(output) / kMegabyte;
}

void BM_Cmark(benchmark::State& state, const std::string& mix) {
  const mix_document& doc = Mix(mix);
  size_t output = 0;
  for (auto _ : state) {
    char* html = cmark_markdown_to_html(doc.markdown.data(), doc.markdown.size(), CMARK_OPT_DEFAULT);
    output = std::strlen(html);
    free(html);
  }
  Report(state, doc, output);
}

void BM_GenerateHTML(benchmark::State& state, const std::string& mix) {
  const mix_document& doc = Mix(mix);
  size_t output = 0;
  int64_t heap = 0;
  {
    // The check, and the heap of a first call in a fresh session (the
    // connect, which opens the note, outside it).
    connection link(doc.note_id);
    std::string ours;
    ours.reserve(2 * doc.markdown.size());
    heap_growth growth;
    output = link.chunk != nullptr ? Generate(link, &ours) : 0;
    heap = growth.Peak();
    if (output == 0) {
      state.SkipWithError("GenerateHTML failed");
      return;
    }
    if (const std::string difference = Difference(ours, CmarkHTML(doc.markdown));
        !difference.empty()) {
      state.SkipWithError(("not like for like: " + difference).c_str());
      return;
    }
  }
  for (auto _ : state) {
    state.PauseTiming();
    auto* link = new connection(doc.note_id);
    state.ResumeTiming();
    benchmark::DoNotOptimize(Generate(*link));
    state.PauseTiming();
    delete link;
    state.ResumeTiming();
  }
  Report(state, doc, output);
  state.counters["heap/(body+out)"] =
      static_cast<double>(heap) / static_cast<double>(doc.stored_bytes + output);
}

void BM_RenderLoaded(benchmark::State& state, const std::string& mix) {
  const mix_document& doc = Mix(mix);
  connection link(doc.note_id);
  if (link.chunk == nullptr || ItemBody(link.item) == nullptr) {
    state.SkipWithError("connect");
    return;
  }
  size_t output = 0;
  for (auto _ : state)
    output = Generate(link);
  if (output == 0)
    state.SkipWithError("GenerateHTML failed");
  Report(state, doc, output);
}

[[maybe_unused]] const bool kRegistered = [] {
  for (const char* mix : {"plain", "styled", "lists", "tables", "tables_5MB"}) {
    const std::string name = mix;
    benchmark::RegisterBenchmark(("BM_Cmark/" + name).c_str(), BM_Cmark, name)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0);
    benchmark::RegisterBenchmark(("BM_GenerateHTML/" + name).c_str(), BM_GenerateHTML, name)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0);
    benchmark::RegisterBenchmark(("BM_RenderLoaded/" + name).c_str(), BM_RenderLoaded, name)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0);
  }
  return AddBenchRatio("BM_GenerateHTML", "BM_Cmark", "0.4") &&
         AddBenchRatio("BM_RenderLoaded", "BM_Cmark", "-");
}();

} // namespace
