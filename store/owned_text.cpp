/*
 * Copies of texts: owned copies and copies cut to a fixed field.
 */
#include "store/new_object.h"
#include "store/owned_text.h"

#include <string.h>

#include <new>

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

void CopyCutText(char* out, const char* text, size_t limit) {
  const size_t length = text != nullptr ? strnlen(text, limit) : 0;
  if (length != 0)
    memcpy(out, text, length);
  out[length] = '\0';
}
