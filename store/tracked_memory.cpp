/*
 * The session's pool of tracked memory blocks.
 *
 * The pool is a singly linked list. Its first block stays the head; behind
 * it blocks fall in size, so the first free block that fits is the head or
 * the largest free one. Released blocks keep their memory until the session
 * ends. A heap block in use may be resized where the heap has it, for
 * buffers that grow. This file does not decide when the pool is freed; the session does.
 * The pool's index (the order of its blocks, a heap of its free blocks and
 * a flat map from data address to block) keeps a request and a release
 * from walking the list, and cheap when the pool holds many small blocks.
 *
 * Also record arenas, which carve many small pieces out of a few tracked
 * slabs and give them back all at once, and the test control that refuses
 * the nth request for tracked memory (store/tracked_memory_testing.h).
 */
#include "store/host_release.h"
#include "store/new_object.h"
#include "store/tracked_memory.h"
#include "store/tracked_memory_testing.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <set>
#include <vector>
#include <algorithm>

#include "host/oslog.h"
#include "host/osmem.h"
#include "store/messages.h"
#include "store/session.h"
#include "velko/property_string.h"
#include "velko/status.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELKO_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VELKO_ADDRESS_SANITIZER 1
#endif
#if defined(VELKO_ADDRESS_SANITIZER)
#include <sanitizer/asan_interface.h>
#endif

// Orders the blocks behind the head as the pool list holds them: falling
// link size, then creation order.
struct PoolOrder {
  bool operator()(const velko_allocation* a, const velko_allocation* b) const {
    if (a->link_size != b->link_size)
      return a->link_size > b->link_size;
    return a->sequence < b->sequence;
  }
};

namespace {

/* A free block behind the head with its place in pool order, so that the
 * heap of free blocks compares without reading the blocks. */
struct free_entry {
  DWORD link_size;
  uint64_t sequence;
  velko_allocation* block;
};

/* Heap order: the entry that comes first in pool order is the top. */
bool ComesLater(const free_entry& a, const free_entry& b) {
  if (a.link_size != b.link_size)
    return a.link_size < b.link_size;
  return a.sequence > b.sequence;
}

/* The blocks by their data address: open addressing with linear probing
 * in a table at most half full, so that a lookup reads one or two
 * neighbouring slots instead of a chain of scattered nodes. */
class block_address_map {
public:
  velko_allocation* Find(const void* data) const {
    if (slots_.empty())
      return nullptr;
    for (size_t at = Home(data);; at = (at + 1) & mask_) {
      const slot& entry = slots_[at];
      if (entry.data == data)
        return entry.block;
      if (entry.data == nullptr)
        return nullptr;
    }
  }

  /* Adds the entry unless the address has one; may throw std::bad_alloc,
   * and then nothing changed. */
  void Insert(const void* data, velko_allocation* block) {
    if ((count_ + 1) * 2 > slots_.size())
      Grow();
    size_t at = Home(data);
    while (slots_[at].data != nullptr) {
      if (slots_[at].data == data)
        return;
      at = (at + 1) & mask_;
    }
    slots_[at] = slot{data, block};
    ++count_;
  }

  /* Removes the address's entry, moving later entries of its run back so
   * that no lookup stops short of them. */
  velko_allocation* Erase(const void* data) {
    if (slots_.empty())
      return nullptr;
    size_t at = Home(data);
    while (slots_[at].data != data) {
      if (slots_[at].data == nullptr)
        return nullptr;
      at = (at + 1) & mask_;
    }
    velko_allocation* block = slots_[at].block;
    size_t hole = at;
    for (size_t next = (hole + 1) & mask_; slots_[next].data != nullptr;
         next = (next + 1) & mask_) {
      const size_t home = Home(slots_[next].data);
      // The entry may fill the hole when its home is not in (hole, next].
      if (((next - home) & mask_) >= ((next - hole) & mask_)) {
        slots_[hole] = slots_[next];
        hole = next;
      }
    }
    slots_[hole] = slot{};
    --count_;
    return block;
  }

private:
  struct slot {
    const void* data = nullptr;
    velko_allocation* block = nullptr;
  };

  size_t Home(const void* data) const {
    const auto bits = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(data));
    return static_cast<size_t>((bits * 0x9E3779B97F4A7C15ull) >> shift_);
  }

  void Grow() {
    const size_t size = slots_.empty() ? 64 : 2 * slots_.size();
    std::vector<slot> grown(size);
    int shift = 64;
    for (size_t s = size; s > 1; s >>= 1)
      --shift;
    const size_t mask = size - 1;
    for (const slot& entry : slots_) {
      if (entry.data == nullptr)
        continue;
      const auto bits = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(entry.data));
      size_t at = static_cast<size_t>((bits * 0x9E3779B97F4A7C15ull) >> shift);
      while (grown[at].data != nullptr)
        at = (at + 1) & mask;
      grown[at] = entry;
    }
    slots_.swap(grown);
    mask_ = mask;
    shift_ = shift;
  }

  std::vector<slot> slots_;
  size_t count_ = 0;
  size_t mask_ = 0;
  int shift_ = 63;
};

} // namespace

struct tracked_pool_index {
  std::set<velko_allocation*, PoolOrder> ordered; // every block behind the head
  /* Free blocks behind the head, a heap whose top is the first of them in
   * pool order: only that one is ever taken. */
  std::vector<free_entry> free_blocks;
  block_address_map by_data;
  uint64_t next_sequence = 1;
};

namespace {

const char kAllocationErrorMessage[] = "Harrowmint: Memory allocation error";

/* Marks bytes that no holder may touch, and gives them back, for
 * AddressSanitizer; nothing in other builds. */
void Poison(const void* at, size_t length) {
#if defined(VELKO_ADDRESS_SANITIZER)
  if (at != nullptr && length != 0)
    ASAN_POISON_MEMORY_REGION(at, length);
#else
  (void)at;
  (void)length;
#endif
}

void Unpoison(const void* at, size_t length) {
#if defined(VELKO_ADDRESS_SANITIZER)
  if (at != nullptr && length != 0)
    ASAN_UNPOISON_MEMORY_REGION(at, length);
#else
  (void)at;
  (void)length;
#endif
}

/* The holder reaches the bytes it asked for, rounded up to even; the rest
 * of the block is poisoned. */
void ExposeRequested(velko_allocation* block, size_t requested) {
  const size_t held = EvenLength(requested) < block->size ? EvenLength(requested) : block->size;
  block->requested = static_cast<DWORD>(held);
  if (block->data == nullptr)
    return;
  Unpoison(block->data, held);
  Poison(static_cast<char*>(block->data) + held, block->size - held);
}

/* Clears the bytes the block's holder asked for, not the whole of a larger
 * block taken again from the free list: a small request served by a large
 * free block costs what was asked. */
void ClearRequested(velko_allocation* block, int zero) {
  if (zero && block->data != nullptr)
    std::memset(block->data, 0, block->requested);
}

#ifdef VELKO_TEST_CONTROLS
/* The test control: requests counted since it was set, and which of them
 * are refused (0: none). Every session's allocations pass here, so the
 * fields are atomic: sessions on other threads count without a race. */
struct refusal_control {
  std::atomic<long> requests{0};
  std::atomic<long> refuse_at{0};
  std::atomic<bool> refuse_later{false};
};
refusal_control refusals;
refusal_control object_refusals;

/* Counts a request; true when the test control refuses it. */
bool Refuses(refusal_control& control) {
  const long request = control.requests.fetch_add(1, std::memory_order_relaxed) + 1;
  long refuseAt = control.refuse_at.load(std::memory_order_relaxed);
  if (refuseAt == 0 || request < refuseAt)
    return false;
  if (control.refuse_later.load(std::memory_order_relaxed))
    return true;
  if (request != refuseAt)
    return false;
  control.refuse_at.compare_exchange_strong(refuseAt, 0, std::memory_order_relaxed);
  return true;
}

bool RefusedByTest() { return Refuses(refusals); }

void SetRefusals(refusal_control& control, int nth, bool later) {
  control.refuse_at.store(0, std::memory_order_relaxed);
  control.requests.store(0, std::memory_order_relaxed);
  control.refuse_later.store(nth > 0 && later, std::memory_order_relaxed);
  control.refuse_at.store(nth > 0 ? nth : 0, std::memory_order_relaxed);
}
#else
/* The shipped library refuses nothing. */
constexpr bool RefusedByTest() { return false; }
#endif

/* Runs an insert into the pool's index; false when memory for it is short. */
template <typename Insert> bool IndexInsert(Insert insert) {
  if (ObjectAllocationRefused())
    return false;
  try {
    insert();
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

/* What a refusal of the memory itself writes: the host's refusal for a
 * size the host serves, the heap's for a larger one. */
void ReportRefusedMemory(size_t size) {
  const auto rounded = static_cast<unsigned long>(EvenLength(size));
  if (rounded < kHostMemoryBlockLimit)
    AddInLogMessageText("Harrowmint: Unable to allocate %lu bytes of memory", VELKO_ERR_MEMORY,
                        rounded);
  else
    AddInLogMessageText("Harrowmint: Unable to successfully allocate %lu bytes of memory",
                        VELKO_ERR_MEMORY, rounded);
  ShowUserMessage(kAllocationErrorMessage);
}

void ReportAllocationError(int line, const char* file) {
  AddInLogMessageText("Harrowmint: Memory allocation error at %d in %s", VELKO_ERR_MEMORY, line,
                      file ? file : "");
  ShowUserMessage(kAllocationErrorMessage);
}

tracked_pool_index* IndexOf(_internal_SESS* state) {
  if (state->pool_index == nullptr)
    state->pool_index = NewObject<tracked_pool_index>();
  return state->pool_index;
}

// Inserts a new block: behind the head, after every block at least as large
// as the request, so that behind the head sizes never grow. False, with the
// block left out, when the index cannot take it.
bool LinkIntoPool(_internal_SESS* state, tracked_pool_index* index, velko_allocation* block,
                  size_t requested) {
  block->link_size = static_cast<DWORD>(EvenLength(requested));
  block->sequence = index->next_sequence++;
  if (state->pool == nullptr) {
    state->pool = block;
    return true;
  }
  auto at = index->ordered.end();
  if (!IndexInsert([&] { at = index->ordered.insert(block).first; }))
    return false;
  velko_allocation* before =
      at == index->ordered.begin() ? state->pool : *std::prev(at);
  block->next = before->next;
  before->next = block;
  return true;
}

void NoteFree(_internal_SESS* state, tracked_pool_index* index, velko_allocation* block) {
  // A free block the index cannot take is not handed out again; the pool
  // still frees it at the end.
  if (block == state->pool)
    return;
  static_cast<void>(IndexInsert([&] {
    index->free_blocks.push_back(free_entry{block->link_size, block->sequence, block});
    std::push_heap(index->free_blocks.begin(), index->free_blocks.end(), ComesLater);
  }));
}

// The head when it is free and large enough, else the largest free block
// when it is large enough: the first fitting free block in pool order.
velko_allocation* FindFreeBlock(_internal_SESS* state, tracked_pool_index* index, size_t size) {
  velko_allocation* head = state->pool;
  if (head != nullptr && !head->InUse() && head->size >= size)
    return head;
  if (index->free_blocks.empty())
    return nullptr;
  velko_allocation* largest = index->free_blocks.front().block;
  return largest->size >= size ? largest : nullptr;
}

/* Takes the block FindFreeBlock gave out of the free blocks: the head, or
 * the top of the heap. */
void TakeBlock(_internal_SESS* state, tracked_pool_index* index, velko_allocation* block) {
  if (block == state->pool)
    return;
  std::pop_heap(index->free_blocks.begin(), index->free_blocks.end(), ComesLater);
  index->free_blocks.pop_back();
}

/* Indexes the block by its data, so that it can be freed by its pointer;
 * false when the index cannot take it. */
bool RememberData(tracked_pool_index* index, velko_allocation* block) {
  if (block->data == nullptr || block->data_indexed)
    return true; // a block's data stays where it is indexed until a resize moves both
  block->data_indexed = IndexInsert([&] { index->by_data.Insert(block->data, block); });
  return block->data_indexed;
}

velko_allocation* BlockInUseAt(tracked_pool_index* index, const void* data) {
  velko_allocation* block = index->by_data.Find(data);
  return block != nullptr && block->InUse() ? block : nullptr;
}

// Moves a block behind the head to the place of its new size in the pool
// list and its order, reusing its entry of the order: nothing is allocated.
void RelinkInPool(_internal_SESS* state, tracked_pool_index* index, velko_allocation* block,
                  size_t requested) {
  auto at = index->ordered.find(block);
  velko_allocation* before = at == index->ordered.begin() ? state->pool : *std::prev(at);
  before->next = block->next;
  block->next = nullptr;
  auto entry = index->ordered.extract(at);
  block->link_size = static_cast<DWORD>(EvenLength(requested));
  block->sequence = index->next_sequence++;
  at = index->ordered.insert(std::move(entry)).position;
  before = at == index->ordered.begin() ? state->pool : *std::prev(at);
  block->next = before->next;
  before->next = block;
}

// Names the holder: its source line and (at most nine characters of) file.
void Stamp(velko_allocation* block, int line, const char* file) {
  block->line = static_cast<WORD>(line);
  const char* name = (file != nullptr && file[0] != '\0') ? file : "?";
  size_t length = 0;
  while (length < sizeof block->file - 1 && name[length] != '\0')
    ++length;
  std::memcpy(block->file, name, length);
  block->file[length] = '\0';
}

// Resizes a heap block in place of the heap's choosing and moves it to
// the place of its new size in the pool.
void* ResizeHeapBlock(_internal_SESS* state, tracked_pool_index* index, velko_allocation* block,
                      size_t size) {
  const size_t rounded = EvenLength(size);
  Unpoison(block->data, block->size); // the heap copies the whole block
  void* moved = std::realloc(block->data, rounded);
  if (moved == nullptr) {
    ExposeRequested(block, block->requested);
    ReportRefusedMemory(size);
    return nullptr;
  }
  // The block's entry moves with it, so that nothing is allocated for it
  // once the data has moved.
  velko_allocation* indexed = index->by_data.Erase(block->data);
  block->data = moved;
  block->size = static_cast<DWORD>(rounded);
  ExposeRequested(block, size);
  // The entry just erased leaves room: this insert never grows the map.
  if (indexed != nullptr)
    index->by_data.Insert(moved, block);
  if (block == state->pool) {
    block->link_size = block->size;
    return moved;
  }
  RelinkInPool(state, index, block, size);
  return moved;
}

void LogBlockInUse(LSXLsiSession* session, const velko_allocation* block) {
  snprintf(session->scratch_first, sizeof session->scratch_first,
           "VelkoDeallocate all: Freeing item of size %ld allocated at line %d in file %s",
           static_cast<long>(block->size), block->line, block->file);
  AddInLogMessageText("%s", 0, session->scratch_first);
}

}  // namespace

velko_allocation::velko_allocation(LSXLsiSession* owner, size_t requested) : session(owner) {
  size_t rounded = EvenLength(requested);
  size = static_cast<DWORD>(rounded);
  if (rounded < kHostMemoryBlockLimit) {
    os_memory = 1;
    STATUS status = OSMemAlloc(MEM_TYPE_ENGINE, size, &handle);
    if (status != NOERROR) {
      handle = NULLHANDLE;
      AddInLogMessageText("Harrowmint: Unable to allocate %lu bytes of memory", status,
                          static_cast<unsigned long>(size));
      ShowUserMessage(kAllocationErrorMessage);
    }
    return;
  }
  data = std::malloc(rounded);
  if (data == nullptr) {
    AddInLogMessageText("Harrowmint: Unable to successfully allocate %lu bytes of memory",
                        VELKO_ERR_MEMORY, static_cast<unsigned long>(size));
    ShowUserMessage(kAllocationErrorMessage);
    size = 0;
  }
}

velko_allocation::~velko_allocation() {
  Unpoison(data, size);
  if (os_memory) {
    if (handle != NULLHANDLE) {
      if (data != nullptr)
        OSUnlockObject(handle);
      ReleaseHostMemory(handle);
    }
    return;
  }
  std::free(data);
}

void* velko_allocation::Allocate(LSXLsiSession* owner, int holderLine, const char* holderFile,
                                 int zero) {
  session = owner;
  Stamp(this, holderLine, holderFile);
  ++use_count;
  if (os_memory) {
    if (handle == NULLHANDLE)
      data = nullptr;
    else if (data == nullptr)
      data = OSLockObject(handle);
  }
  Unpoison(data, size);
  if (zero && data != nullptr)
    std::memset(data, 0, size);
  return data;
}

void velko_allocation::Deallocate(LSXLsiSession*) {
  line = 0;
  file[0] = '\0';
  requested = 0;
  Poison(data, size);
}

velko_allocation* VelkoAllocate(LSXLsiSession* session, int line, const char* file, size_t size,
                                int zero) {
  if (session == nullptr || session->internal == nullptr)
    return nullptr;
  _internal_SESS* state = session->internal;
  tracked_pool_index* index = IndexOf(state);
  if (size > kLargestTrackedRequest || index == nullptr) {
    // Cutting the request would hand the caller a shorter block than asked.
    ReportAllocationError(line, file);
    return nullptr;
  }
  if (RefusedByTest()) {
    ReportRefusedMemory(size);
    return nullptr;
  }
  if (velko_allocation* reused = FindFreeBlock(state, index, size)) {
    TakeBlock(state, index, reused);
    reused->Allocate(session, line, file, 0);
    ExposeRequested(reused, size);
    ClearRequested(reused, zero);
    if (!RememberData(index, reused)) {
      VelkoDeallocate(session, reused);
      ReportAllocationError(line, file);
      return nullptr;
    }
    return reused;
  }
  auto* block = NewObject<velko_allocation>(session, size);
  if (block != nullptr && !block->HoldsMemory()) {
    // The host refused the memory: the block is not pooled, so nothing
    // stays counted in use for a request that failed.
    delete block;
    return nullptr;
  }
  if (block == nullptr) {
    ReportAllocationError(line, file);
    return nullptr;
  }
  if (!LinkIntoPool(state, index, block, size)) {
    delete block;
    ReportAllocationError(line, file);
    return nullptr;
  }
  void* data = block->Allocate(session, line, file, 0);
  ExposeRequested(block, size);
  ClearRequested(block, zero);
  if (!RememberData(index, block)) {
    VelkoDeallocate(session, block); // stays in the pool as a free block
    ReportAllocationError(line, file);
    return nullptr;
  }
  if (data == nullptr) {
    VelkoDeallocate(session, block);
    return nullptr;
  }
  return block;
}

void* VelkoAllocatePtr(LSXLsiSession* session, int line, const char* file, size_t size, int zero) {
  velko_allocation* block = VelkoAllocate(session, line, file, size, zero);
  return block != nullptr ? block->data : nullptr;
}

void* VelkoReallocatePtr(LSXLsiSession* session, int line, const char* file, void* data,
                         size_t size) {
  if (session == nullptr || session->internal == nullptr || data == nullptr)
    return nullptr;
  _internal_SESS* state = session->internal;
  tracked_pool_index* index = state->pool_index;
  velko_allocation* block = index != nullptr ? BlockInUseAt(index, data) : nullptr;
  if (block == nullptr || size > kLargestTrackedRequest) {
    ReportAllocationError(line, file);
    return nullptr;
  }
  const bool onHeap = block->os_memory == 0 && EvenLength(size) >= kHostMemoryBlockLimit;
  if (onHeap) {
    if (RefusedByTest()) {
      ReportRefusedMemory(size);
      return nullptr;
    }
    void* resized = ResizeHeapBlock(state, index, block, size);
    if (resized != nullptr)
      Stamp(block, line, file);
    return resized;
  }
  void* replacement = VelkoAllocatePtr(session, line, file, size, 0);
  if (replacement == nullptr)
    return nullptr;
  std::memcpy(replacement, data, block->requested < size ? block->requested : size);
  VelkoDeallocate(session, block);
  return replacement;
}

char* VelkoAllocatePtrAndCopy(LSXLsiSession* session, int line, const char* file,
                              const char* source, size_t count) {
  if (source == nullptr)
    return nullptr;
  size_t length = count != 0 ? count : std::strlen(source);
  auto* copy = static_cast<char*>(VelkoAllocatePtr(session, line, file, length + 1, 0));
  if (copy == nullptr)
    return nullptr;
  std::memcpy(copy, source, length);
  copy[length] = '\0';
  return copy;
}

char* VelkoAllocatePtrExtractProperty(LSXLsiSession* session, int line, const char* file,
                                      const char* properties, const char* key) {
  if (session == nullptr)
    return nullptr;
  char* value = session->scratch_first;
  if (!ExtractProperty(properties, key, value, sizeof session->scratch_first) || value[0] == '\0')
    return nullptr;
  return VelkoAllocatePtrAndCopy(session, line, file, value, 0);
}

void VelkoDeallocate(LSXLsiSession* session, velko_allocation* block) {
  if (block == nullptr)
    return;
  bool wasInUse = block->InUse();
  block->Deallocate(session);
  if (!wasInUse || session == nullptr || session->internal == nullptr)
    return;
  if (tracked_pool_index* index = session->internal->pool_index)
    NoteFree(session->internal, index, block);
}

void VelkoDeallocatePtr(LSXLsiSession* session, void* data) {
  if (data == nullptr || session == nullptr || session->internal == nullptr)
    return;
  velko_allocation* pool = session->internal->pool;
  if (tracked_pool_index* index = session->internal->pool_index) {
    if (velko_allocation* block = index->by_data.Find(data)) {
      VelkoDeallocate(session, block);
      return;
    }
  }

  const char kNotTracked[] = "Attempted to deallocate a pointer not allocated through system.";
  AddInLogMessageText("%s", 0, kNotTracked);
  ShowUserMessage(kNotTracked);
  // Name the blocks the pointer may have strayed from: those it lies in or
  // at most 100 bytes past.
  auto address = reinterpret_cast<uintptr_t>(data);
  int count = 0;
  for (velko_allocation* block = pool; block != nullptr; block = block->next) {
    auto start = reinterpret_cast<uintptr_t>(block->data);
    if (block->data == nullptr || start >= address || address > start + block->size + 100)
      continue;
    snprintf(session->scratch_first, sizeof session->scratch_first,
             "%d) Might be related to %p --> item of size %ld allocated at line %d in file %s",
             ++count, block->data, static_cast<long>(block->size), block->line, block->file);
    AddInLogMessageText("%s", 0, session->scratch_first);
  }
}

DWORD VelkoTrackedBlocksInUse(const LSXLsiSession* session) {
  if (session == nullptr || session->internal == nullptr)
    return 0;
  DWORD count = 0;
  for (const velko_allocation* block = session->internal->pool; block != nullptr;
       block = block->next)
    count += block->InUse() ? 1 : 0;
  return count;
}

void VelkoDeallocateAndFreeAll(LSXLsiSession* session, int onlyWhenInUse) {
  if (session == nullptr || session->internal == nullptr)
    return;
  _internal_SESS* state = session->internal;
  if (onlyWhenInUse) {
    bool anyInUse = false;
    for (velko_allocation* block = state->pool; block != nullptr && !anyInUse; block = block->next)
      anyInUse = block->InUse();
    if (!anyInUse)
      return;
  }
  while (velko_allocation* block = state->pool) {
    if (block->InUse())
      LogBlockInUse(session, block);
    state->pool = block->next;
    delete block;
  }
  delete state->pool_index;
  state->pool_index = nullptr;
}

/* ---- record arenas ---- */

namespace {

/* The start of every block of an arena: the block itself and the block
 * made before it. Pieces follow it. */
struct arena_block_header {
  velko_allocation* block;
  arena_block_header* previous;
};

constexpr size_t AlignedSize(size_t size) {
  return (size + kRecordArenaAlignment - 1) & ~(kRecordArenaAlignment - 1);
}

constexpr size_t kArenaHeaderSize = AlignedSize(sizeof(arena_block_header));
static_assert(kArenaHeaderSize < kRecordArenaSlabSize);

/* A tracked block of at least size bytes, chained into the arena; returns
 * the first byte behind its header and the usable room behind it. */
char* AddArenaBlock(LSXLsiSession* session, record_arena* arena, int line, const char* file,
                    size_t size, size_t* room) {
  velko_allocation* block = VelkoAllocate(session, line, file, size, 0);
  if (block == nullptr)
    return nullptr;
  if (block->data == nullptr) { // a reused block whose memory the host refused
    VelkoDeallocate(session, block);
    return nullptr;
  }
  auto* header = static_cast<arena_block_header*>(block->data);
  header->block = block;
  header->previous = static_cast<arena_block_header*>(arena->last_block);
  arena->last_block = header;
  if (arena->first_block == nullptr)
    arena->first_block = header;
  ++arena->block_count;
  *room = (block->size - kArenaHeaderSize) & ~(kRecordArenaAlignment - 1);
  char* first = static_cast<char*>(block->data) + kArenaHeaderSize;
  Poison(first, block->size - kArenaHeaderSize); // each piece is unpoisoned when carved
  return first;
}

} // namespace

void* RecordArenaAllocate(LSXLsiSession* session, record_arena* arena, int line,
                          const char* file, size_t size, int zero) {
  if (arena == nullptr || session == nullptr)
    return nullptr;
  const size_t piece = AlignedSize(size == 0 ? 1 : size);
  if (piece < size || RefusedByTest()) {
    ReportRefusedMemory(size);
    return nullptr;
  }
  char* memory = nullptr;
  if (piece <= arena->room) {
    memory = arena->free;
    arena->free += piece;
    arena->room -= piece;
  } else if (piece > kRecordArenaSlabSize - kArenaHeaderSize) {
    // Too large for any slab: a block of its own, the current slab stays.
    if (piece > kLargestTrackedRequest - kArenaHeaderSize) {
      ReportRefusedMemory(size);
      return nullptr;
    }
    size_t room = 0;
    memory = AddArenaBlock(session, arena, line, file, kArenaHeaderSize + piece, &room);
  } else {
    size_t room = 0;
    char* slab = AddArenaBlock(session, arena, line, file, kRecordArenaSlabSize, &room);
    if (slab != nullptr) {
      memory = slab;
      arena->free = slab + piece;
      arena->room = room - piece;
    }
  }
  // The piece's size is reachable; the tail of its last 8 bytes stays
  // poisoned, and so does the slab's room that no piece holds yet.
  Unpoison(memory, size);
  if (memory != nullptr && zero)
    std::memset(memory, 0, size);
  return memory;
}

void RecordArenaGiveBack(record_arena* arena, void* end, size_t size) {
  if (arena == nullptr || size == 0 || size % kRecordArenaAlignment != 0 || end != arena->free)
    return;
  arena->free -= size;
  arena->room += size;
  Poison(arena->free, size);
}

void ReleaseRecordArena(LSXLsiSession* session, record_arena* arena) {
  if (arena == nullptr)
    return;
  auto* header = static_cast<arena_block_header*>(arena->last_block);
  while (header != nullptr) {
    arena_block_header* previous = header->previous;
    VelkoDeallocate(session, header->block);
    header = previous;
  }
  *arena = record_arena{};
}

void MoveRecordArena(record_arena* to, record_arena* from) {
  if (to == nullptr || from == nullptr || to == from || from->last_block == nullptr)
    return;
  // The chain of `from` goes in front of that of `to` without a walk over
  // its blocks, which lie far apart.
  auto* first = static_cast<arena_block_header*>(from->first_block);
  first->previous = static_cast<arena_block_header*>(to->last_block);
  to->last_block = from->last_block;
  if (to->first_block == nullptr)
    to->first_block = from->first_block;
  to->block_count += from->block_count;
  if (to->free == nullptr) { // nothing carved yet: go on in the newest slab
    to->free = from->free;
    to->room = from->room;
  }
  *from = record_arena{};
}

/* ---- test controls, left out of the shipped library ---- */

#ifdef VELKO_TEST_CONTROLS

void VelkoTestFailTrackedAllocation(int nth) { SetRefusals(refusals, nth, false); }

void VelkoTestFailTrackedAllocationsFrom(int nth) { SetRefusals(refusals, nth, true); }

long VelkoTestTrackedRequests() { return refusals.requests.load(std::memory_order_relaxed); }

void VelkoTestFailObjectAllocation(int nth) { SetRefusals(object_refusals, nth, false); }

long VelkoTestObjectAllocations() {
  return object_refusals.requests.load(std::memory_order_relaxed);
}

#endif

bool ObjectAllocationRefused() {
#ifdef VELKO_TEST_CONTROLS
  return Refuses(object_refusals);
#else
  return false;
#endif
}
