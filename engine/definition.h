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
#include "store/services.h"
#include "velko/velko.h"

/* ParseDefinition and CalculateDefinition are declared with the other
 * services the store calls, in store/services.h. */

/* The chunk's clause chain; null for a null chunk or state block. */
chunkdef_info* GetChunkDefFromChunk(VelkoRTChunk* chunk);

#endif
