/*
 * Formulas: compiling formula text, turning a compiled formula back into
 * its text, and evaluating a compiled formula against a note.
 *
 * A compiled formula is a magic word, a version word, the source length and
 * the source in LMBCS, so that decompiling gives the source back exactly;
 * the compiler still parses the whole formula language and reports a
 * syntax error with its place.
 */
#ifndef VELKO_HOST_FORMULA_H
#define VELKO_HOST_FORMULA_H

#include "velko/host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef DHANDLE FORMULAHANDLE;

/* Compiles the text (formulaLength bytes; 0: up to its NUL). On success a
 * new memory block holding the compiled formula and its length; on a
 * syntax error ERR_FORMULA_COMPILE is returned and the compile error (one
 * of the ERR_FORMULA_* codes), its line and column (from 1), its byte offset
 * and the length of the offending token are set. Any out pointer except
 * retFormula may be null. */
STATUS NSFFormulaCompile(const char* formulaName, WORD formulaNameLength, const char* formulaText,
                         WORD formulaLength, FORMULAHANDLE* retFormula, WORD* retFormulaLength,
                         STATUS* retCompileError, WORD* retCompileErrorLine,
                         WORD* retCompileErrorColumn, WORD* retCompileErrorOffset,
                         WORD* retCompileErrorLength);

/* The source text of a compiled formula (at its address) in a new memory
 * block (not NUL-terminated) and its length. */
STATUS NSFFormulaDecompile(const char* formulaBuffer, BOOL selectionFormula,
                           DHANDLE* retFormulaText, WORD* retFormulaTextLength);

/* A started formula, ready to be evaluated against notes. */
typedef DHANDLE HCOMPUTE;

/* Starts the compiled formula at `formula` (the bytes NSFFormulaCompile
 * gives; bytes without its magic are refused with ERR_FORMULA_BAD_FORMULA).
 * `flags` is reserved (0). */
STATUS NSFComputeStart(WORD flags, const void* formula, HCOMPUTE* retHandle);

/* Evaluates the started formula against the note (NULLHANDLE: no note;
 * field references then read as ""). The result, the value of the last
 * statement, comes in a new memory block (free it with OSMemFree): a type
 * word and the value in its stored layout (TYPE_TEXT or TYPE_TEXT_LIST,
 * TYPE_NUMBER or TYPE_NUMBER_RANGE, TYPE_TIME or TYPE_TIME_RANGE: the times,
 * then the pairs). Any out pointer may be null; *noteMatches is the truth of
 * the last SELECT, TRUE when the formula has none. The note is never
 * changed. A formula that cannot be evaluated gives one of the
 * ERR_FORMULA_* codes of evaluation and no block. */
STATUS NSFComputeEvaluate(HCOMPUTE handle, NOTEHANDLE note, DHANDLE* retResult,
                          WORD* retResultLength, BOOL* noteMatches, BOOL* noteShouldBeDeleted,
                          BOOL* noteModified);

/* Ends a started formula. */
STATUS NSFComputeStop(HCOMPUTE handle);

#ifdef __cplusplus
}
#endif

#endif
