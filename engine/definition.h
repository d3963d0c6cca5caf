/*
 * Chunk definition texts: the parser that turns a text such as
 * "Table 1; Row 2" or "Inside Section 'Notes'" into a chain of chunkdef_info
 * clauses, and the canonical text that a chain is written back as.
 *
 * The canonical text of any chain the parser makes parses back to a chain
 * with the same canonical text. Running a chain against an item's records is
 * the engine's work; deriving, zooming and stepping chunks is the chunk's.
 */
#ifndef VELKO_ENGINE_DEFINITION_H
#define VELKO_ENGINE_DEFINITION_H

#include <stddef.h>

#include "engine/chunkdef.h"
#include "velko/velko.h"

/* Parses `text` into a new chain of clauses that the caller owns (free it
 * with DeleteChunkDefinitions). `previous` is the clause the new ones will
 * follow (or null); it is read for the Row and Column rule and not linked.
 * The upper-cased copy of the text is made in the session's first scratch
 * text. *simple (when given) becomes 1 when every clause is a Contains
 * clause with exactly one index that is not a range, else 0.
 *
 * Null when the text does not parse, is empty or longer than 4095
 * characters, or a clause lists more than 100 indexes (callers report
 * VELKO_ERR_BAD_ARGUMENT). */
chunkdef_info* ParseDefinition(LSXLsiSession* session, WORD unused, chunkdef_info* previous,
                               const char* text, DWORD* simple);

/* The chunk's clause chain; null for a null chunk or state block. */
chunkdef_info* GetChunkDefFromChunk(VelkoRTChunk* chunk);

/* Writes the canonical text of `chain` ("Everything" for an empty chain)
 * into `out`. False, with `out` left empty, when the text does not fit in
 * outSize bytes with its NUL, or the chain holds what the text cannot
 * express: a match text holding ';' or all three quote characters, or more
 * than 100 indexes in a clause. */
bool CalculateDefinition(const chunkdef_info* chain, char* out, size_t outSize);

#endif
