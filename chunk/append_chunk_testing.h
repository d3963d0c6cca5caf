/*
 * Test control of the chunk append (AppendChunk) that the engine's copying
 * and re-ordering actions call: a test puts a function of its own in its
 * place, to see the arguments and the state each call gets and to answer
 * with a status (or records) of its choosing, while the chunk append
 * itself is not built.
 *
 * Only tests include this header. The control exists only in the test
 * library (velko_testing, built with VELKO_TEST_CONTROLS); the shipped
 * library always runs its own append. It is process-wide: one test thread
 * at a time.
 */
#ifndef VELKO_CHUNK_APPEND_CHUNK_TESTING_H
#define VELKO_CHUNK_APPEND_CHUNK_TESTING_H

#include <functional>

#include "velko/velko.h"

struct chunk_process_state;

using append_chunk_stand_in =
    std::function<STATUS(VelkoRTChunk* chunk, chunk_process_state* state, WORD base)>;

/* From now on AppendChunk calls the stand-in and returns its status; an
 * empty one gives the library's own append back. */
void VelkoTestReplaceAppendChunk(append_chunk_stand_in standIn);

#endif
