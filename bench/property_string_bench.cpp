/*
 * Speed of ExtractProperty, the most used reader, on an option string of
 * about forty entries such as a rendering call receives: a key near the
 * start, one near the end, one absent, and one whose name ends many others.
 */
#include <benchmark/benchmark.h>

#include "velko/property_string.h"

namespace {

const char kOptions[] =
    "Format=HTML CharSet=UTF-8 Title='Quarterly report' Width=640 Height=480 "
    "TableWidth=100% TableBorder=1 CellPadding=2 CellSpacing=0 Indent=Yes "
    "FontFace=|Times New Roman| FontSize=12 FontColor=#000000 BackColor=#FFFFFF "
    "LinkColor=#0000FF VisitedColor=#800080 ImagePath=\"images/\" ImageWidth=32 "
    "ImageHeight=32 Align=left VAlign=top HideWhen=No Sections=Expanded "
    "Attachments=Links Tabs=All ListType=Bullet ListIndent=24 LeftMargin=10 "
    "RightMargin=10 TopMargin=5 BottomMargin=5 Margin=10 LineSpacing=1 "
    "Paragraphs=Yes Comments=No Language=en Direction=LTR ZIndex=3 "
    "LayerHTMLClass='banner top' Caption=~Figure 1~ ";

void extract(benchmark::State& state, const char* key) {
  char value[64];
  for (auto _ : state) {
    benchmark::DoNotOptimize(ExtractProperty(kOptions, key, value, sizeof value));
    benchmark::DoNotOptimize(value);
  }
}

void BM_ExtractPropertyNearStart(benchmark::State& state) {
  extract(state, "CharSet=");
}
BENCHMARK(BM_ExtractPropertyNearStart);

void BM_ExtractPropertyNearEnd(benchmark::State& state) {
  extract(state, "Caption=");
}
BENCHMARK(BM_ExtractPropertyNearEnd);

void BM_ExtractPropertyAbsent(benchmark::State& state) {
  extract(state, "Orientation=");
}
BENCHMARK(BM_ExtractPropertyAbsent);

// "Margin=" also ends LeftMargin=, RightMargin=, TopMargin= and
// BottomMargin=, which come first and which the boundary test must reject.
void BM_ExtractPropertyRejectedOccurrences(benchmark::State& state) {
  extract(state, "Margin=");
}
BENCHMARK(BM_ExtractPropertyRejectedOccurrences);

void BM_ExtractFlag(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(ExtractFlag(kOptions, "RTL"));
}
BENCHMARK(BM_ExtractFlag);

}  // namespace
