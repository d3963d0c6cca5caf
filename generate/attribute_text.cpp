/*
 * The attribute text writer: appends whole keys to a text of fixed
 * capacity and remembers when one did not fit.
 */
#include "generate/attribute_text.h"

#include <stdio.h>
#include <string.h>

#include "store/vocabulary.h"

void AttributeTextOpen(attribute_text* out, char* buffer, size_t capacity) {
  out->text = buffer;
  out->capacity = capacity;
  out->status = 0;
  out->length = buffer == nullptr ? 0 : strnlen(buffer, capacity);
  if (buffer != nullptr)
    buffer[out->length] = '\0';
}

static bool Refuse(attribute_text* out) {
  out->status = kAttributeTextFull;
  return false;
}

bool AttributeTextAppend(attribute_text* out, const char* text, size_t length) {
  if (out->text == nullptr || length > out->capacity - out->length)
    return Refuse(out);
  memcpy(out->text + out->length, text, length);
  out->length += length;
  out->text[out->length] = '\0';
  return true;
}

bool AttributeTextPuts(attribute_text* out, const char* text) {
  if (text == nullptr)
    return true;
  return AttributeTextAppend(out, text, strlen(text));
}

bool AttributeTextVPrintf(attribute_text* out, const char* format, va_list arguments) {
  if (out->text == nullptr)
    return Refuse(out);
  const size_t room = out->capacity - out->length;
  const int written = vsnprintf(out->text + out->length, room + 1, format, arguments);
  if (written < 0 || static_cast<size_t>(written) > room) {
    out->text[out->length] = '\0';
    return Refuse(out);
  }
  out->length += static_cast<size_t>(written);
  return true;
}

bool AttributeTextPrintf(attribute_text* out, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const bool fitted = AttributeTextVPrintf(out, format, arguments);
  va_end(arguments);
  return fitted;
}

bool AttributeTextQuoted(attribute_text* out, const char* key, const char* text, size_t length) {
  const size_t keyLength = strlen(key);
  /* Text from a record ends at a NUL it may hold: the answer is a C text. */
  length = text == nullptr ? 0 : strnlen(text, length);
  if (out->text == nullptr || keyLength + length + 3 > out->capacity - out->length)
    return Refuse(out);
  const char quote = ChooseDelimiter(text, length);
  char* at = out->text + out->length;
  memcpy(at, key, keyLength);
  at += keyLength;
  *at++ = quote;
  if (length != 0)
    memcpy(at, text, length);
  at += length;
  *at++ = quote;
  *at++ = ' ';
  *at = '\0';
  out->length = static_cast<size_t>(at - out->text);
  return true;
}
