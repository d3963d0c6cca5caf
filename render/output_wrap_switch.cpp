/*
 * Whether the line wrap of the output stage steps from one byte it acts
 * on to the next through their bits (render/output_stage.cpp): always in
 * the shipped library; in the test library a test may turn it off, so
 * that it can compare the lines with those of the scan that looks at
 * every place in turn.
 */
#include "render/output_stage.h"

#ifdef VELKO_TEST_CONTROLS
#include <atomic>

#include "render/output_stage_testing.h"

namespace {
std::atomic<bool> by_bits_off{false};
} // namespace

bool WrapScanByBits() { return !by_bits_off.load(std::memory_order_relaxed); }

void VelkoTestSetWrapScanByBits(bool on) { by_bits_off.store(!on, std::memory_order_relaxed); }
#else
bool WrapScanByBits() { return true; }
#endif
