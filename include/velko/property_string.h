/*
 * Readers of property strings, the one text format in which velko passes
 * options and attribute values.
 *
 * A property string is a NUL-terminated 8-bit text of entries separated by
 * single spaces. A keyed entry is a key ending with "=" followed at once by
 * its value (Width=5); a flag word is a bare word (PROPAGATE). A value is
 * either a run of characters without a space or is wrapped in one of the
 * delimiters ' " | ~ and then runs to the next occurrence of that same
 * delimiter (there is no escape). Keys and flag words are compared without
 * regard to ASCII case; every reader is passed the key with its "=".
 *
 * Every reader scans the string from its start, is linear in its length and
 * allocates nothing. A null string or key is treated as an absent key. The
 * value readers take the size of the caller's buffer and never write past
 * it: a longer value is cut to size - 1 bytes plus a NUL; a size of 0 (or a
 * null buffer) writes nothing but still reports presence.
 *
 * This header does not write property strings; writers put one space after
 * every entry and choose the delimiter themselves.
 */
#ifndef VELKO_PROPERTY_STRING_H
#define VELKO_PROPERTY_STRING_H

#include <stddef.h>

#include "velko/host_types.h"

/* First position of text where needle matches without regard to ASCII case,
 * or null. An empty text never matches; an empty needle matches at the start
 * of a non-empty text. */
char* stristr(const char* text, const char* needle);

/* 1 when the key is present (value then holds its value, possibly empty),
 * 0 when absent (value untouched). The key counts only at the start of the
 * string or after a character that is neither a letter, a digit nor one of
 * the four delimiters. */
int ExtractProperty(const char* properties, const char* key, char* value, size_t valueSize);

/* With a non-zero default only "No" (any case) gives 0; with a zero default
 * only "Yes" gives 1. An absent or empty value gives the default. */
BOOL ExtractPropertyBOOL(const char* properties, const char* key, char* value, size_t valueSize,
                         BOOL defaultValue);

/* The value equal to yesWord ("Yes" when null) sets flag in flags. Another
 * non-empty value clears it, or, when noWord is given, only noWord clears it.
 * An absent or empty value leaves flags as passed. */
DWORD ExtractPropertyDWFlags(const char* properties, const char* key, char* value, size_t valueSize,
                             DWORD flag, DWORD flags, const char* yesWord, const char* noWord);

/* "Yes" sets flag, "No" clears it, anything else leaves flags as passed. */
DWORD ExtractPropertyDWFlagsBOOL(const char* properties, const char* key, char* value,
                                 size_t valueSize, DWORD flag, DWORD flags);

/* The 16-bit forms of the two readers above. */
WORD ExtractPropertyWFlags(const char* properties, const char* key, char* value, size_t valueSize,
                           WORD flag, WORD flags, const char* yesWord, const char* noWord);
WORD ExtractPropertyWFlagsBOOL(const char* properties, const char* key, char* value,
                               size_t valueSize, WORD flag, WORD flags);

/* Pointer to the first acceptable occurrence of the bare word inside
 * properties, or null. An occurrence at the start of the string is always
 * taken; elsewhere it must follow a character that is neither a letter, a
 * digit nor '_', and end the string or precede a non-letter, non-digit. */
char* ExtractFlag(const char* properties, const char* word);

/* Removes the first occurrence of key and its value in place and trims
 * trailing spaces and line feeds. Returns 1 when the key was found, else 0;
 * call again until 0 to remove every occurrence. */
int EliminateProperty(char* properties, const char* key);

/* Cuts the value of the first occurrence of key in place and returns a
 * pointer to it inside properties, or null when the key is absent. *saved
 * receives the character that was overwritten by the terminating NUL (NUL
 * when none was); the caller restores the string by writing *saved back at
 * the end of the returned value. */
char* SemiExtractProperty(char* properties, const char* key, char* saved);

/* 1 with the value in the buffer for the first entry of key whose value
 * begins with prefix and, right after it, with suffix (both compared without
 * regard to case; a null or empty prefix takes the first entry, a null
 * suffix is not tested); 0 otherwise, with the buffer untouched. */
int ExtractIterativeProperty(const char* properties, const char* key, const char* prefix,
                             const char* suffix, char* value, size_t valueSize);

/* ExtractProperty on properties and key; the variable is not consulted. */
int ExtractEnvironmentVarOrProperty(const char* properties, const char* variable, const char* key,
                                    char* value, size_t valueSize);

/* Always 0: no check of a property string is defined. */
int ValidateProperties(const char* properties, const char* word);

#endif
