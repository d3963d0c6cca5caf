/*
 * Copies of texts. One way to take an owned copy of a text, one way to
 * copy a text into a fixed field and one way to cut a text between whole
 * LMBCS characters, for every folder of the library. Neither
 * throws: a copy that cannot be had is null, and the caller reports 263 or
 * keeps what it had.
 */
#ifndef VELKO_STORE_OWNED_TEXT_H
#define VELKO_STORE_OWNED_TEXT_H

#include <stddef.h>

#include "velko/host_types.h"

/* A copy of `length` bytes of the text and a NUL, owned by the caller
 * (delete[]); null when the text is null or memory is short. */
char* CopyOwnedText(const char* text, size_t length);

/* The same for the whole of a NUL-terminated text. */
char* CopyOwnedText(const char* text);

/* Copies at most `limit` bytes of the text (null: none), cut between whole
 * characters, and a NUL into `out`, which holds at least limit + 1 bytes. */
void CopyCutText(char* out, const char* text, size_t limit);

/* The bytes of the LMBCS character that starts at `character`: 1 for a
 * byte that is a character of its own, more for a group byte and the
 * bytes it leads. */
WORD CharacterBytes(const char* character);

/* The longest start of the text (of `length` bytes), at most `room` bytes,
 * that ends between two LMBCS characters: a cut never splits one. */
DWORD WholeCharacters(const char* text, DWORD length, DWORD room);

#endif
