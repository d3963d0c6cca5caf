/*
 * Test controls of the session's tracked memory and of the library's own
 * objects: refusing the nth request, so that tests can make every
 * allocation site of the engine fail in turn.
 *
 * Only tests and test tools include this header, besides the allocator
 * that defines the controls. They exist only in the test library
 * (velko_testing, built with VELKO_TEST_CONTROLS), never in the shipped one.
 * The controls are process-wide: set them while no other thread allocates
 * (requests from any thread are counted safely).
 */
#ifndef VELKO_STORE_TRACKED_MEMORY_TESTING_H
#define VELKO_STORE_TRACKED_MEMORY_TESTING_H

/* The nth request for tracked memory from now (1: the next) is refused; 0
 * turns this off. A request is one VelkoAllocate (and so one
 * VelkoAllocatePtr or VelkoAllocatePtrAndCopy) or one RecordArenaAllocate;
 * a refused one returns null after the log line and message a refusal of
 * the host writes. */
void VelkoTestFailTrackedAllocation(int nth);
/* The nth request from now and every later one are refused; 0 turns this
 * off. */
void VelkoTestFailTrackedAllocationsFrom(int nth);
/* Requests for tracked memory counted since the control was last set (or
 * since the process began). */
long VelkoTestTrackedRequests();

/* The nth allocation from now (1: the next) of an object or array of the
 * library (store/new_object.h, text copies included) or of an entry of the
 * tracked pool's index fails as a short memory would; 0 turns this off. */
void VelkoTestFailObjectAllocation(int nth);
/* Such allocations counted since that control was last set. */
long VelkoTestObjectAllocations();

#endif
