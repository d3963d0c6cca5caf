// Cost of taking and releasing tracked blocks as a body of many records
// does: every record's data is a block, released together at the end.
#include <benchmark/benchmark.h>

#include <vector>

#include "store/session.h"

namespace {

void BM_TrackedBlocksPerRecord(benchmark::State& state) {
  const auto count = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    LSXLsiSession session;
    std::vector<void*> blocks;
    blocks.reserve(count);
    for (size_t i = 0; i < count; ++i)
      blocks.push_back(VelkoAllocatePtr(&session, VELKO_HERE, 16 + (i % 7) * 12, 0));
    for (void* block : blocks)
      VelkoDeallocatePtr(&session, block);
    for (size_t i = 0; i < count; ++i)
      blocks[i] = VelkoAllocatePtr(&session, VELKO_HERE, 16 + (i % 5) * 12, 0);
    benchmark::DoNotOptimize(blocks.data());
    for (void* block : blocks)
      VelkoDeallocatePtr(&session, block);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * count * 2));
}
BENCHMARK(BM_TrackedBlocksPerRecord)->Arg(1000)->Arg(10000)->Arg(100000);

}  // namespace
