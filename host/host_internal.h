/*
 * Shared pieces of the host stand-in's own sources: the guards that keep
 * running out of memory from leaving a C function as an exception, the
 * reset hooks behind HostTestReset, the host's own messages and the
 * LMBCS/UTF-16 conversions that several host calls build on. Neither the
 * engine nor tests include this header.
 */
#ifndef VELKO_HOST_HOST_INTERNAL_H
#define VELKO_HOST_HOST_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include <unicode/ucnv.h>

#include "host/status.h"
#include "velko/host_types.h"

namespace velko::host {

// ---- no exception leaves the C API ----
//
// Every C function of the host whose work allocates runs its body under one
// of these: a std::bad_alloc becomes the memory status (or the answer the
// function documents for "nothing"), as the platform reports it. A body
// leaves the host's state whole when one of its allocations fails: it
// allocates before it changes anything, or owns what it made until it is
// handed over.

// For the calls that return a status: ERR_MEMORY when memory ran out.
template <typename Body> STATUS GuardedStatus(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return ERR_MEMORY;
  }
}

// For the calls that return an answer: onMemory when memory ran out.
template <typename Result, typename Body>
Result GuardedAnswer(Result onMemory, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return onMemory;
  }
}

// For the calls that return nothing: what memory was short for is left
// undone.
template <typename Body> void GuardedCall(Body&& body) noexcept {
  try {
    body();
  } catch (const std::bad_alloc&) {
  }
}

// Reset hooks, one per module, called by HostTestReset.
void ResetEnvironmentForTests();
void ResetLogForTests();
void ResetClockForTests();
void ResetMemoryFaultsForTests();
// Puts the batch limit of collection reads back to its default.
void ResetViewsForTests();
// Drops the import filters tests added.
void ResetFiltersForTests();
// Closes every open database, note and collection (their handles become
// bad), drops the "mem:" databases and clears storage test controls.
void ResetStorageForTests();

// True when the memory block of the handle is live and locked.
bool MemoryBlockIsLocked(DHANDLE handle);

// Gives the live, unlocked block of the handle a new size, keeping its
// content up to the smaller size (growth is zero-filled); the handle stays
// the same and the block's address changes. For host objects that grow
// inside one block (ID tables). ERR_MEMORY when memory is short (injected
// failures count), ERR_HOST_BAD_ARGUMENT for a locked block,
// ERR_HOST_BAD_HANDLE for a handle that is not live; the block is then
// unchanged.
STATUS ResizeMemoryBlock(DHANDLE handle, DWORD size);

// OSMemAlloc for a block its caller fills whole at once: the same block,
// handle and failures, without the zero fill first.
STATUS AllocateBlockToFill(DWORD size, DHANDLE* retHandle);

// Hands a message of the host to the installed message handler, with the
// message type the engine's own messages have (6); nothing without one.
void ShowHostMessage(const char* text);
// How many messages of the host were shown so far (with a handler or not).
uint64_t HostMessagesShown();

// The value of a setting (host/osenv.h), or nullopt when it is unset; may
// throw std::bad_alloc, for host calls that pass that on as their status.
std::optional<std::string> SettingValue(const char* name);

// Compares two LMBCS texts as IntlTextCompare does; may throw
// std::bad_alloc, for host calls that pass that on as their status.
int CollatedCompare(std::string_view a, std::string_view b, WORD flags);

// The byte length of the LMBCS character that starts with lead (1, 2 or 3).
inline size_t LmbcsCharLength(BYTE lead) {
  if (lead == 0x14 || (lead >= 0x10 && lead <= 0x13))
    return 3;
  if ((lead >= 0x01 && lead <= 0x06) || lead == 0x08 || lead == 0x0B || lead == 0x0F)
    return 2;
  return 1;
}

// An ICU converter of this thread, opened on first use with "?" as the
// substitute for unmappable characters, and reset on every call; null when
// ICU has no converter of that name.
UConverter* ThreadConverter(const char* icuName);

// LMBCS read through ICU's LMBCS-1 converter: into out, which has room for
// lmbcs.size() units (no LMBCS character gives more than one), needing no
// memory once the thread's converter is open; the units written, 0 when
// ICU refuses the text.
size_t Utf16FromLmbcsInto(std::string_view lmbcs, char16_t* out);
std::u16string Utf16FromLmbcs(std::string_view lmbcs);
// LMBCS written the fixed way (see host/nls.h).
std::string LmbcsFromUtf16(std::u16string_view text);
// Appends the LMBCS form of one UTF-16 code unit.
void AppendLmbcsUnit(char16_t unit, std::string& out);
// The code point of the LMBCS character at text (a surrogate pair written
// as two 0x14 groups is joined), reading no byte past a NUL; *length gets
// the bytes read. Needs no memory once the thread's converter is open.
UChar32 DecodeLmbcsChar(const BYTE* text, size_t* length);

// The length of a text that ends at its first NUL or after max bytes.
inline size_t BoundedLength(const char* text, size_t max) {
  const void* nul = std::memchr(text, 0, max);
  return nul == nullptr ? max : static_cast<size_t>(static_cast<const char*>(nul) - text);
}

// Copies text into a buffer of bufferLength bytes, cut to bufferLength - 1
// bytes and NUL-terminated; returns the bytes copied (0 without room).
inline size_t CopyTerminated(std::string_view text, char* buffer, size_t bufferLength) {
  if (buffer == nullptr || bufferLength == 0)
    return 0;
  const size_t count = text.size() < bufferLength ? text.size() : bufferLength - 1;
  std::memcpy(buffer, text.data(), count);
  buffer[count] = 0;
  return count;
}

// Whether the texts are equal without regard to ASCII case.
inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i]))
      return false;
  }
  return true;
}

// The text without the blanks (space, tab, CR, LF) at either end.
inline std::string_view TrimWhiteSpace(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && blank(text.back()))
    text.remove_suffix(1);
  return text;
}

} // namespace velko::host

#endif
