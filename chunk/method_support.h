/*
 * Pieces the chunk's append, edit and property methods share: compiling a
 * formula into a place of the session, the "Tarno: " error message of a
 * formula that does not compile, and short text helpers. They prepare what
 * an engine action reads; they issue no action themselves.
 */
#ifndef VELKO_CHUNK_METHOD_SUPPORT_H
#define VELKO_CHUNK_METHOD_SUPPORT_H

#include <stddef.h>

#include "velko/velko.h"

/* The room for hotspot code and compiled formulas in the result text. */
constexpr size_t kResultCodeRoom = 65341;

/* The outcome of compiling a formula. */
struct compiled_formula {
  STATUS status = 0;        /* 0, the compile error (ERR_FORMULA_COMPILE), or 263 */
  STATUS compile_error = 0; /* the host's error code when the formula has an error */
  WORD length = 0;          /* bytes written at the destination */
  bool too_long = false;    /* compiled, but more than the room given */
};

/* Compiles text (length bytes; 0: its string length) and copies the
 * compiled bytes to dest when they fit room bytes. */
compiled_formula CompileFormulaInto(const char* text, WORD length, char* dest, size_t room);

/* Shows "Tarno: " followed by the host's text for the error (its low 14
 * bits, at most 1,024 bytes) through the host's message handler. */
void ShowFormulaError(STATUS error);

/* The text's byte length cut to a word. */
WORD TextLength(const char* text);
bool IsEmptyText(const char* text);

/* Case-insensitive whole-word comparison. */
bool SameWord(const char* text, const char* word);

/* Empties the session's result text. */
void ClearResultText(LSXLsiSession* session);

#endif
