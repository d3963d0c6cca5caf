/*
 * ID tables: a header and the note IDs in ascending order, in one memory
 * block that doubles when it is full. The header carries a mark, so that a
 * memory handle of anything else is not read as a table, and the scan
 * position of IDScan.
 */
#include "host/idtable.h"

#include <algorithm>
#include <cstring>

#include "host/host_internal.h"
#include "host/osmem.h"
#include "host/status.h"

namespace {

constexpr DWORD kTableMark = 0x54424449; // "IDBT"
constexpr DWORD kFirstCapacity = 64;

struct TableHeader {
  DWORD mark;
  DWORD count;
  DWORD scan; // the index of the next entry IDScan hands out
  DWORD capacity;
};

NOTEID* Entries(TableHeader* header) { return reinterpret_cast<NOTEID*>(header + 1); }

// The locked header of a table handle, or null (nothing stays locked).
TableHeader* LockTable(DHANDLE table) {
  if (OSMemGetSize(table) < sizeof(TableHeader))
    return nullptr;
  auto* header = static_cast<TableHeader*>(OSLockObject(table));
  if (header == nullptr)
    return nullptr;
  if (header->mark != kTableMark) {
    OSUnlockObject(table);
    return nullptr;
  }
  return header;
}

} // namespace

extern "C" STATUS IDCreateTable(DWORD /*alignment*/, DHANDLE* retTable) {
  if (retTable == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  *retTable = NULLHANDLE;
  DHANDLE table = NULLHANDLE;
  const STATUS status =
      OSMemAlloc(0, sizeof(TableHeader) + kFirstCapacity * sizeof(NOTEID), &table);
  if (status != NOERROR)
    return status;
  auto* header = static_cast<TableHeader*>(OSLockObject(table));
  *header = TableHeader{kTableMark, 0, 0, kFirstCapacity};
  OSUnlockObject(table);
  *retTable = table;
  return NOERROR;
}

extern "C" STATUS IDInsert(DHANDLE table, NOTEID id, BOOL* retInserted) {
  if (retInserted != nullptr)
    *retInserted = FALSE;
  TableHeader* header = LockTable(table);
  if (header == nullptr)
    return ERR_HOST_BAD_HANDLE;
  NOTEID* entries = Entries(header);
  const NOTEID* place = std::lower_bound(entries, entries + header->count, id);
  if (place != entries + header->count && *place == id) {
    OSUnlockObject(table);
    return NOERROR;
  }
  const DWORD index = static_cast<DWORD>(place - entries);
  if (header->count == header->capacity) {
    const DWORD capacity = header->capacity * 2;
    const DWORD limit = (OSMEM_MAX_BLOCK_SIZE - sizeof(TableHeader)) / sizeof(NOTEID);
    OSUnlockObject(table);
    if (capacity > limit)
      return ERR_MEMORY;
    const STATUS status = velko::host::ResizeMemoryBlock(
        table, static_cast<DWORD>(sizeof(TableHeader) + capacity * sizeof(NOTEID)));
    if (status != NOERROR)
      return status;
    header = static_cast<TableHeader*>(OSLockObject(table));
    header->capacity = capacity;
    entries = Entries(header);
  }
  std::memmove(entries + index + 1, entries + index, (header->count - index) * sizeof(NOTEID));
  entries[index] = id;
  ++header->count;
  OSUnlockObject(table);
  if (retInserted != nullptr)
    *retInserted = TRUE;
  return NOERROR;
}

extern "C" BOOL IDScan(DHANDLE table, BOOL first, NOTEID* retID) {
  TableHeader* header = LockTable(table);
  if (header == nullptr)
    return FALSE;
  if (first)
    header->scan = 0;
  BOOL found = FALSE;
  if (header->scan < header->count) {
    if (retID != nullptr)
      *retID = Entries(header)[header->scan];
    ++header->scan;
    found = TRUE;
  }
  OSUnlockObject(table);
  return found;
}

extern "C" DWORD IDEntries(DHANDLE table) {
  TableHeader* header = LockTable(table);
  if (header == nullptr)
    return 0;
  const DWORD count = header->count;
  OSUnlockObject(table);
  return count;
}
