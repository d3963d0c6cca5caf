/*
 * The session's pool of tracked memory blocks.
 *
 * The pool is a singly linked list. Its first block stays the head; behind
 * it blocks fall in size, so the first free block that fits is the head or
 * the largest free one. Released blocks keep their memory until the session
 * ends. This file does not decide when the pool is freed; the session does.
 */
#include "store/tracked_memory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <set>
#include <unordered_map>

#include "host/oslog.h"
#include "host/osmem.h"
#include "store/messages.h"
#include "store/session.h"
#include "velko/property_string.h"
#include "velko/status.h"

// Orders the blocks behind the head as the pool list holds them: falling
// link size, then creation order.
struct PoolOrder {
  bool operator()(const velko_allocation* a, const velko_allocation* b) const {
    if (a->link_size != b->link_size)
      return a->link_size > b->link_size;
    return a->sequence < b->sequence;
  }
};

struct tracked_pool_index {
  std::set<velko_allocation*, PoolOrder> ordered;   // every block behind the head
  std::set<velko_allocation*, PoolOrder> free_blocks; // free blocks behind the head
  std::unordered_map<const void*, velko_allocation*> by_data;
  uint64_t next_sequence = 1;
};

namespace {

const char kAllocationErrorMessage[] = "Harrowmint: Memory allocation error";

void ReportAllocationError(int line, const char* file) {
  AddInLogMessageText("Harrowmint: Memory allocation error at %d in %s", VELKO_ERR_MEMORY, line,
                      file ? file : "");
  ShowUserMessage(kAllocationErrorMessage);
}

tracked_pool_index* IndexOf(_internal_SESS* state) {
  if (state->pool_index == nullptr)
    state->pool_index = new (std::nothrow) tracked_pool_index();
  return state->pool_index;
}

// Inserts a new block: behind the head, after every block at least as large
// as the request, so that behind the head sizes never grow.
void LinkIntoPool(_internal_SESS* state, tracked_pool_index* index, velko_allocation* block,
                  size_t requested) {
  block->link_size = static_cast<DWORD>(requested + (requested & 1));
  block->sequence = index->next_sequence++;
  if (state->pool == nullptr) {
    state->pool = block;
    return;
  }
  auto at = index->ordered.insert(block).first;
  velko_allocation* before =
      at == index->ordered.begin() ? state->pool : *std::prev(at);
  block->next = before->next;
  before->next = block;
}

void NoteFree(_internal_SESS* state, tracked_pool_index* index, velko_allocation* block) {
  if (block != state->pool)
    index->free_blocks.insert(block);
}

// The head when it is free and large enough, else the largest free block
// when it is large enough: the first fitting free block in pool order.
velko_allocation* FindFreeBlock(_internal_SESS* state, tracked_pool_index* index, size_t size) {
  velko_allocation* head = state->pool;
  if (head != nullptr && !head->InUse() && head->size >= size)
    return head;
  if (index->free_blocks.empty())
    return nullptr;
  velko_allocation* largest = *index->free_blocks.begin();
  return largest->size >= size ? largest : nullptr;
}

void TakeBlock(_internal_SESS* state, tracked_pool_index* index, velko_allocation* block) {
  if (block != state->pool)
    index->free_blocks.erase(block);
}

void RememberData(tracked_pool_index* index, velko_allocation* block) {
  if (block->data != nullptr)
    index->by_data.emplace(block->data, block);
}

void LogBlockInUse(LSXLsiSession* session, const velko_allocation* block) {
  snprintf(session->scratch_first, sizeof session->scratch_first,
           "VelkoDeallocate all: Freeing item of size %ld allocated at line %d in file %s",
           static_cast<long>(block->size), block->line, block->file);
  AddInLogMessageText("%s", 0, session->scratch_first);
}

}  // namespace

velko_allocation::velko_allocation(LSXLsiSession* owner, size_t requested) : session(owner) {
  size_t rounded = requested + (requested & 1);
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
  if (os_memory) {
    if (handle != NULLHANDLE) {
      if (data != nullptr)
        OSUnlockObject(handle);
      OSMemFree(handle);
    }
    return;
  }
  std::free(data);
}

void* velko_allocation::Allocate(LSXLsiSession* owner, int holderLine, const char* holderFile,
                                 int zero) {
  session = owner;
  line = static_cast<WORD>(holderLine);
  const char* name = (holderFile != nullptr && holderFile[0] != '\0') ? holderFile : "?";
  snprintf(file, sizeof file, "%.9s", name);
  ++use_count;
  if (os_memory) {
    if (handle == NULLHANDLE)
      data = nullptr;
    else if (data == nullptr)
      data = OSLockObject(handle);
  }
  if (zero && data != nullptr)
    std::memset(data, 0, size);
  return data;
}

void velko_allocation::Deallocate(LSXLsiSession*) {
  line = 0;
  file[0] = '\0';
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
  if (velko_allocation* reused = FindFreeBlock(state, index, size)) {
    TakeBlock(state, index, reused);
    reused->Allocate(session, line, file, zero);
    RememberData(index, reused);
    return reused;
  }
  auto* block = new (std::nothrow) velko_allocation(session, size);
  if (block == nullptr) {
    ReportAllocationError(line, file);
    return nullptr;
  }
  LinkIntoPool(state, index, block, size);
  void* data = block->Allocate(session, line, file, zero);
  RememberData(index, block);
  return data != nullptr ? block : nullptr;
}

void* VelkoAllocatePtr(LSXLsiSession* session, int line, const char* file, size_t size, int zero) {
  velko_allocation* block = VelkoAllocate(session, line, file, size, zero);
  return block != nullptr ? block->data : nullptr;
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
    auto found = index->by_data.find(data);
    if (found != index->by_data.end()) {
      VelkoDeallocate(session, found->second);
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
