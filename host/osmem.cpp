/*
 * The host's memory objects: a process-wide table of blocks reached
 * through handles, with counted locks, generations that expose stale and
 * double frees, injectable allocation failures and a leak report.
 *
 * Handle layout: bits 0-19 hold the slot index + 1, bits 20-31 the slot's
 * generation (1 to 4095). A freed slot keeps its generation until it is
 * reused, so freeing it again reads as a double free; reuse bumps the
 * generation, so the old handle then reads as stale. Freed slots are reused
 * last-freed first. Block memory never moves while its handle lives,
 * except when the host itself resizes an unlocked block
 * (ResizeMemoryBlock, for ID tables).
 *
 * Only OSMemAlloc and ResizeMemoryBlock allocate: the list of free slots
 * always has room for every slot, so freeing never needs memory and never
 * fails for want of it.
 */
#include "host/osmem.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "host/host_internal.h"
#include "host/host_testing.h"
#include "host/status.h"

namespace {

constexpr uint32_t kIndexBits = 20;
constexpr uint32_t kIndexMask = (1u << kIndexBits) - 1;
constexpr uint32_t kGenerationMask = 0xFFFu;
constexpr size_t kMaxSlots = kIndexMask; // index + 1 must fit in 20 bits

struct Slot {
  uint32_t generation = 1;
  bool inUse = false;
  DWORD size = 0;
  uint32_t locks = 0;
  std::unique_ptr<std::byte[]> data;
};

enum class Lookup { kLive, kBad, kStale, kFreed };

struct MemoryTable {
  std::mutex mutex;
  std::vector<Slot> slots;
  std::vector<uint32_t> freeSlots; // indexes, reused from the back; room for every slot
  // Fault injection: allocations counted from the moment it was armed.
  int failNth = 0;
  bool failFromNth = false;
  int allocationsSinceArmed = 0;
};

MemoryTable& Table() {
  static MemoryTable table;
  return table;
}

DHANDLE MakeHandle(uint32_t index, uint32_t generation) {
  return (generation << kIndexBits) | (index + 1);
}

// Finds the slot of a handle; the table's mutex is held.
Lookup Find(MemoryTable& table, DHANDLE handle, Slot** slot) {
  const uint32_t indexPlusOne = handle & kIndexMask;
  const uint32_t generation = handle >> kIndexBits;
  if (indexPlusOne == 0 || generation == 0 || indexPlusOne > table.slots.size())
    return Lookup::kBad;
  Slot& found = table.slots[indexPlusOne - 1];
  if (found.generation != generation)
    return Lookup::kStale;
  if (!found.inUse)
    return Lookup::kFreed;
  *slot = &found;
  return Lookup::kLive;
}

bool InjectedFailure(MemoryTable& table) {
  if (table.failNth == 0)
    return false;
  ++table.allocationsSinceArmed;
  if (table.failFromNth)
    return table.allocationsSinceArmed >= table.failNth;
  if (table.allocationsSinceArmed != table.failNth)
    return false;
  table.failNth = 0;
  return true;
}

// A new slot at the end of the table; the free list grows first, so that
// it keeps room for every slot. Nothing changes when memory runs out.
uint32_t AppendSlot(MemoryTable& table) {
  const size_t slots = table.slots.size() + 1;
  if (table.freeSlots.capacity() < slots)
    table.freeSlots.reserve(std::max<size_t>(64, 2 * slots));
  table.slots.emplace_back();
  return static_cast<uint32_t>(slots - 1);
}

} // namespace

namespace {

STATUS AllocateBlock(DWORD size, bool zeroed, DHANDLE* retHandle) {
  if (retHandle == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  *retHandle = NULLHANDLE;
  return velko::host::GuardedStatus([&]() -> STATUS {
    MemoryTable& table = Table();
    std::lock_guard lock(table.mutex);
    if (InjectedFailure(table) || size > OSMEM_MAX_BLOCK_SIZE)
      return ERR_MEMORY;
    // A block of size 0 still has an address of its own.
    const size_t room = size == 0 ? 1 : size;
    std::unique_ptr<std::byte[]> data(zeroed ? new (std::nothrow) std::byte[room]()
                                             : new (std::nothrow) std::byte[room]);
    if (!data)
      return ERR_MEMORY;

    uint32_t index;
    if (!table.freeSlots.empty()) {
      index = table.freeSlots.back();
      table.freeSlots.pop_back();
      Slot& reused = table.slots[index];
      reused.generation = reused.generation == kGenerationMask ? 1 : reused.generation + 1;
    } else {
      if (table.slots.size() >= kMaxSlots)
        return ERR_MEMORY;
      index = AppendSlot(table);
    }
    Slot& slot = table.slots[index];
    slot.inUse = true;
    slot.size = size;
    slot.locks = 0;
    slot.data = std::move(data);
    *retHandle = MakeHandle(index, slot.generation);
    return NOERROR;
  });
}

} // namespace

extern "C" STATUS OSMemAlloc(WORD /*blockType*/, DWORD size, DHANDLE* retHandle) {
  return AllocateBlock(size, true, retHandle);
}

STATUS velko::host::AllocateBlockToFill(DWORD size, DHANDLE* retHandle) {
  return AllocateBlock(size, false, retHandle);
}

extern "C" void* OSLockObject(DHANDLE handle) {
  MemoryTable& table = Table();
  std::lock_guard lock(table.mutex);
  Slot* slot = nullptr;
  if (Find(table, handle, &slot) != Lookup::kLive)
    return nullptr;
  ++slot->locks;
  return slot->data.get();
}

extern "C" BOOL OSUnlockObject(DHANDLE handle) {
  MemoryTable& table = Table();
  std::lock_guard lock(table.mutex);
  Slot* slot = nullptr;
  if (Find(table, handle, &slot) != Lookup::kLive || slot->locks == 0)
    return FALSE;
  --slot->locks;
  return TRUE;
}

extern "C" STATUS OSMemFree(DHANDLE handle) {
  MemoryTable& table = Table();
  std::lock_guard lock(table.mutex);
  Slot* slot = nullptr;
  switch (Find(table, handle, &slot)) {
  case Lookup::kBad:
    return ERR_HOST_BAD_HANDLE;
  case Lookup::kStale:
    return ERR_HOST_STALE_HANDLE;
  case Lookup::kFreed:
    return ERR_HOST_DOUBLE_FREE;
  case Lookup::kLive:
    break;
  }
  slot->inUse = false;
  slot->locks = 0;
  slot->size = 0;
  slot->data.reset();
  table.freeSlots.push_back((handle & kIndexMask) - 1); // within its room: never allocates
  return NOERROR;
}

extern "C" DWORD OSMemGetSize(DHANDLE handle) {
  MemoryTable& table = Table();
  std::lock_guard lock(table.mutex);
  Slot* slot = nullptr;
  if (Find(table, handle, &slot) != Lookup::kLive)
    return 0;
  return slot->size;
}

bool velko::host::MemoryBlockIsLocked(DHANDLE handle) {
  MemoryTable& table = Table();
  std::lock_guard lock(table.mutex);
  Slot* slot = nullptr;
  return Find(table, handle, &slot) == Lookup::kLive && slot->locks != 0;
}

STATUS velko::host::ResizeMemoryBlock(DHANDLE handle, DWORD size) {
  MemoryTable& table = Table();
  std::lock_guard lock(table.mutex);
  Slot* slot = nullptr;
  if (Find(table, handle, &slot) != Lookup::kLive)
    return ERR_HOST_BAD_HANDLE;
  if (slot->locks != 0)
    return ERR_HOST_BAD_ARGUMENT;
  if (InjectedFailure(table) || size > OSMEM_MAX_BLOCK_SIZE)
    return ERR_MEMORY;
  std::unique_ptr<std::byte[]> data(new (std::nothrow) std::byte[size == 0 ? 1 : size]());
  if (!data)
    return ERR_MEMORY;
  std::copy_n(slot->data.get(), std::min(size, slot->size), data.get());
  slot->data = std::move(data);
  slot->size = size;
  return NOERROR;
}

/* ---- test controls (host/host_testing.h); left out of the shipped library ---- */

#ifdef VELKO_TEST_CONTROLS

void velko::host::ResetMemoryFaultsForTests() {
  MemoryTable& table = Table();
  std::lock_guard lock(table.mutex);
  table.failNth = 0;
  table.failFromNth = false;
  table.allocationsSinceArmed = 0;
}

void HostTestFailAllocation(int nth) {
  MemoryTable& table = Table();
  std::lock_guard lock(table.mutex);
  table.failNth = nth > 0 ? nth : 0;
  table.failFromNth = false;
  table.allocationsSinceArmed = 0;
}

void HostTestFailAllocationsFrom(int nth) {
  MemoryTable& table = Table();
  std::lock_guard lock(table.mutex);
  table.failNth = nth > 0 ? nth : 0;
  table.failFromNth = nth > 0;
  table.allocationsSinceArmed = 0;
}

size_t HostTestLiveHandles() {
  MemoryTable& table = Table();
  std::lock_guard lock(table.mutex);
  return table.slots.size() - table.freeSlots.size();
}

std::string HostTestLeakReport() {
  MemoryTable& table = Table();
  std::lock_guard lock(table.mutex);
  std::string report;
  for (uint32_t index = 0; index < table.slots.size(); ++index) {
    const Slot& slot = table.slots[index];
    if (!slot.inUse)
      continue;
    char line[80];
    std::snprintf(line, sizeof line, "handle 0x%08X size %u locks %u\n",
                  static_cast<unsigned>(MakeHandle(index, slot.generation)),
                  static_cast<unsigned>(slot.size), static_cast<unsigned>(slot.locks));
    report += line;
  }
  return report;
}

#endif
