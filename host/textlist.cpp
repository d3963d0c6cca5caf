/*
 * Text lists in memory blocks (layout in host/textlist.h). A list never
 * grows its block: ListAllocate fixes the room and ListAddEntry refuses an
 * entry that does not fit. Words are read and written with memcpy because a
 * list may sit at any address.
 */
#include "host/textlist.h"

#include <cstring>

#include "host/osmem.h"
#include "host/status.h"

namespace {

constexpr size_t kMaxListBytes = 0xFFFF; // the list size is a WORD

WORD ReadWord(const BYTE* at) {
  WORD value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

void WriteWord(BYTE* at, WORD value) { std::memcpy(at, &value, sizeof value); }

size_t HeaderBytes(BOOL prefixDataType) { return prefixDataType ? 2 * sizeof(WORD) : sizeof(WORD); }

const BYTE* CountAt(const void* list, BOOL prefixDataType) {
  return static_cast<const BYTE*>(list) + (prefixDataType ? sizeof(WORD) : 0);
}

// Bytes taken by the count, the length words and the texts.
size_t UsedBytes(const BYTE* countAt) {
  const WORD count = ReadWord(countAt);
  size_t used = sizeof(WORD) + count * sizeof(WORD);
  for (WORD entry = 0; entry < count; ++entry)
    used += ReadWord(countAt + sizeof(WORD) * (1 + entry));
  return used;
}

// Holds a lock on a block for the length of one call.
class BlockLock {
public:
  explicit BlockLock(DHANDLE handle) : handle_(handle), data_(OSLockObject(handle)) {}
  ~BlockLock() {
    if (data_ != nullptr)
      OSUnlockObject(handle_);
  }
  BlockLock(const BlockLock&) = delete;
  BlockLock& operator=(const BlockLock&) = delete;
  BYTE* data() const { return static_cast<BYTE*>(data_); }

private:
  DHANDLE handle_;
  void* data_;
};

} // namespace

extern "C" STATUS ListAllocate(WORD listEntries, WORD textSize, BOOL prefixDataType,
                               DHANDLE* retHandle, void** retpList, WORD* retListSize) {
  if (retHandle == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  const size_t header = HeaderBytes(prefixDataType);
  const DWORD room = static_cast<DWORD>(header + listEntries * sizeof(WORD) + textSize);
  const STATUS status = OSMemAlloc(MEM_TYPE_ENGINE, room, retHandle);
  if (status != NOERROR)
    return status;
  BYTE* list = static_cast<BYTE*>(OSLockObject(*retHandle));
  if (prefixDataType)
    WriteWord(list, TYPE_TEXT_LIST);
  WriteWord(list + header - sizeof(WORD), 0);
  if (retListSize != nullptr)
    *retListSize = static_cast<WORD>(header);
  if (retpList != nullptr) {
    *retpList = list;
    return NOERROR;
  }
  OSUnlockObject(*retHandle);
  return NOERROR;
}

extern "C" STATUS ListAddEntry(DHANDLE handle, BOOL prefixDataType, WORD* pListSize,
                               WORD entryNumber, const char* text, WORD textSize) {
  if (text == nullptr && textSize != 0)
    return ERR_HOST_BAD_ARGUMENT;
  const BlockLock block(handle);
  if (block.data() == nullptr)
    return ERR_HOST_BAD_HANDLE;
  const size_t room = OSMemGetSize(handle);
  const size_t header = HeaderBytes(prefixDataType);
  if (room < header || (prefixDataType && ReadWord(block.data()) != TYPE_TEXT_LIST))
    return ERR_HOST_BAD_ARGUMENT;
  BYTE* countAt = block.data() + header - sizeof(WORD);
  const WORD count = ReadWord(countAt);
  if (entryNumber != count)
    return ERR_HOST_BAD_ARGUMENT;
  // A block whose words point past its end is not one of our lists.
  if (header + count * sizeof(WORD) > room)
    return ERR_HOST_BAD_ARGUMENT;
  const size_t used = header - sizeof(WORD) + UsedBytes(countAt);
  if (used > room)
    return ERR_HOST_BAD_ARGUMENT;
  const size_t needed = used + sizeof(WORD) + textSize;
  if (needed > room || needed > kMaxListBytes)
    return ERR_HOST_LIST_FULL;

  // Make room for the new length word in front of the texts.
  BYTE* lengths = countAt + sizeof(WORD);
  BYTE* texts = lengths + count * sizeof(WORD);
  const size_t textBytes = block.data() + used - texts;
  std::memmove(texts + sizeof(WORD), texts, textBytes);
  WriteWord(lengths + count * sizeof(WORD), textSize);
  if (textSize != 0)
    std::memcpy(texts + sizeof(WORD) + textBytes, text, textSize);
  WriteWord(countAt, static_cast<WORD>(count + 1));
  if (pListSize != nullptr)
    *pListSize = static_cast<WORD>(needed);
  return NOERROR;
}

extern "C" WORD ListGetNumEntries(const void* list, BOOL prefixDataType) {
  if (list == nullptr)
    return 0;
  return ReadWord(CountAt(list, prefixDataType));
}

extern "C" STATUS ListGetText(const void* list, BOOL prefixDataType, WORD entryNumber,
                              char** retText, WORD* retTextLength) {
  if (list == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  const BYTE* countAt = CountAt(list, prefixDataType);
  const WORD count = ReadWord(countAt);
  if (entryNumber >= count)
    return ERR_HOST_LIST_ENTRY;
  const BYTE* lengths = countAt + sizeof(WORD);
  if (retText != nullptr) {
    // The text's place is found from the lengths of all the texts before it.
    size_t offset = count * sizeof(WORD);
    for (WORD entry = 0; entry < entryNumber; ++entry)
      offset += ReadWord(lengths + entry * sizeof(WORD));
    *retText = const_cast<char*>(reinterpret_cast<const char*>(lengths + offset));
  }
  if (retTextLength != nullptr)
    *retTextLength = ReadWord(lengths + entryNumber * sizeof(WORD));
  return NOERROR;
}
