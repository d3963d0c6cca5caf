/*
 * The attribute text writer: the one way attribute writers and query
 * answers append key=value words to a text of fixed capacity (the
 * session's answer text holds 65341 bytes and a NUL).
 *
 * A key is appended whole or not at all: a key that would not fit leaves
 * the text as it was and makes the writer's status kAttributeTextFull,
 * which stays. Writers append freely and the caller tests the status once
 * (it becomes the operation's secondary status).
 *
 * The writer owns nothing; the buffer is the caller's.
 */
#ifndef VELKO_GENERATE_ATTRIBUTE_TEXT_H
#define VELKO_GENERATE_ATTRIBUTE_TEXT_H

#include <stdarg.h>
#include <stddef.h>

#include "velko/host_types.h"

/* Bytes of text the session's answer text holds, before its NUL. */
constexpr size_t kSessionTextCapacity = 65341;

/* The status of a key that did not fit. */
constexpr STATUS kAttributeTextFull = 20017;

struct attribute_text {
  char* text = nullptr; /* text[length] is always NUL */
  size_t length = 0;
  size_t capacity = 0; /* bytes of text the buffer holds before its NUL */
  STATUS status = 0;   /* 0, or kAttributeTextFull once a key did not fit */
};

/* Opens a writer on buffer, which holds capacity + 1 bytes, and takes the
 * text already in it (a NUL-terminated text; cut at capacity). */
void AttributeTextOpen(attribute_text* out, char* buffer, size_t capacity);

/* Appends length bytes; false (and the status set) when they do not fit. */
bool AttributeTextAppend(attribute_text* out, const char* text, size_t length);

/* Appends a NUL-terminated text (null: nothing). */
bool AttributeTextPuts(attribute_text* out, const char* text);

/* Appends the printf form of format; whole or not at all. */
bool AttributeTextPrintf(attribute_text* out, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
bool AttributeTextVPrintf(attribute_text* out, const char* format, va_list arguments);

/* Appends key, then text between the delimiter ChooseDelimiter picks for
 * it, then a blank: Key='value' . */
bool AttributeTextQuoted(attribute_text* out, const char* key, const char* text, size_t length);

#endif
