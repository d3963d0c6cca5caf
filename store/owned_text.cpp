/*
 * Copies of texts: owned copies, copies cut to a fixed field, and cuts
 * between whole LMBCS characters.
 */
#include "store/new_object.h"
#include "store/owned_text.h"

#include <string.h>

#include <new>

#include "host/nls.h"

char* CopyOwnedText(const char* text, size_t length) {
  if (text == nullptr)
    return nullptr;
  char* copy = NewArray<char>(length + 1);
  if (copy == nullptr)
    return nullptr;
  memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

char* CopyOwnedText(const char* text) {
  return text != nullptr ? CopyOwnedText(text, strlen(text)) : nullptr;
}

/* Bytes past a cut that may still belong to the character cut. */
constexpr size_t kLongestCharacterTail = 2;

void CopyCutText(char* out, const char* text, size_t limit) {
  size_t length = text != nullptr ? strnlen(text, limit + kLongestCharacterTail) : 0;
  if (length > limit || (length == limit && length > 0))
    length = WholeCharacters(text, static_cast<DWORD>(length), static_cast<DWORD>(limit));
  if (length != 0)
    memcpy(out, text, length);
  out[length] = '\0';
}

WORD CharacterBytes(const char* character) {
  WORD bytes = 1;
  if (NLS_string_bytes(reinterpret_cast<const BYTE*>(character), 1, &bytes, nullptr) !=
          NLS_SUCCESS ||
      bytes == 0)
    bytes = 1;
  return bytes;
}

DWORD WholeCharacters(const char* text, DWORD length, DWORD room) {
  DWORD at = 0;
  while (at < length) {
    const WORD bytes = CharacterBytes(text + at);
    // A character the text ends inside is not whole either.
    if (at + bytes > room || at + bytes > length)
      break;
    at += bytes;
  }
  return at;
}
