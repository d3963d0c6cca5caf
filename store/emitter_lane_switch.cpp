/*
 * Whether the lane of unchanged records is used (store/emitter.h): always
 * in the shipped library; in the test library a test may turn it off, so
 * that it can compare what a walk writes with and without it.
 */
#include "store/emitter.h"

#ifdef VELKO_TEST_CONTROLS
#include <atomic>

#include "store/emitter_lane_testing.h"

namespace {
std::atomic<bool> lane_off{false};
} // namespace

bool EmitterLaneOn() { return !lane_off.load(std::memory_order_relaxed); }

void VelkoTestSetEmitterLane(bool on) { lane_off.store(!on, std::memory_order_relaxed); }
#else
bool EmitterLaneOn() { return true; }
#endif
