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
#include <new>

#include "host/oslog.h"
#include "host/osmem.h"
#include "store/messages.h"
#include "store/session.h"
#include "velko/property_string.h"
#include "velko/status.h"

namespace {

const char kAllocationErrorMessage[] = "Harrowmint: Memory allocation error";

void ReportAllocationError(int line, const char* file) {
  AddInLogMessageText("Harrowmint: Memory allocation error at %d in %s", VELKO_ERR_MEMORY, line,
                      file ? file : "");
  ShowUserMessage(kAllocationErrorMessage);
}

// Inserts a new block: behind the head, after every block at least as large
// as the request.
void LinkIntoPool(_internal_SESS* state, velko_allocation* block, size_t requested) {
  if (state->pool == nullptr) {
    state->pool = block;
    return;
  }
  velko_allocation* at = state->pool;
  while (at->next != nullptr && at->next->size >= requested)
    at = at->next;
  block->next = at->next;
  at->next = block;
}

velko_allocation* FindFreeBlock(_internal_SESS* state, size_t size) {
  for (velko_allocation* block = state->pool; block != nullptr; block = block->next) {
    if (!block->InUse() && block->size >= size)
      return block;
  }
  return nullptr;
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
  if (size > kLargestTrackedRequest) {
    // Cutting the request would hand the caller a shorter block than asked.
    ReportAllocationError(line, file);
    return nullptr;
  }
  if (velko_allocation* reused = FindFreeBlock(state, size)) {
    reused->Allocate(session, line, file, zero);
    return reused;
  }
  auto* block = new (std::nothrow) velko_allocation(session, size);
  if (block == nullptr) {
    ReportAllocationError(line, file);
    return nullptr;
  }
  LinkIntoPool(state, block, size);
  if (block->Allocate(session, line, file, zero) == nullptr)
    return nullptr;
  return block;
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
  block->Deallocate(session);
}

void VelkoDeallocatePtr(LSXLsiSession* session, void* data) {
  if (data == nullptr || session == nullptr || session->internal == nullptr)
    return;
  velko_allocation* pool = session->internal->pool;
  for (velko_allocation* block = pool; block != nullptr; block = block->next) {
    if (block->data == data) {
      block->Deallocate(session);
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
}
