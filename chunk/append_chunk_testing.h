/*
 * Test controls of the chunk append service the engine calls (AppendChunk),
 * so that a test can check the engine's frame around the call while the
 * copy itself is not built: a record of each call with what it was handed
 * and the status the service answers, or a function of the test's own
 * standing in for the service (to see the state and write records).
 *
 * Only tests include this header. The controls exist only in the test
 * library (velko_testing, built with VELKO_TEST_CONTROLS); the shipped
 * library keeps none. They are process-wide: one test thread at a time.
 */
#ifndef VELKO_CHUNK_APPEND_CHUNK_TESTING_H
#define VELKO_CHUNK_APPEND_CHUNK_TESTING_H

#include <functional>
#include <vector>

#include "velko/velko.h"

struct chunk_process_state;

struct append_chunk_call {
  WORD action = 0;
  const VelkoRTChunk* chunk = nullptr; /* the chunk handed over */
  bool own_chunk = false;              /* it is the operation's own chunk */
  WORD base = 0;
  DWORD target_first = 0; /* the state's append target */
  DWORD target_last = 0;
  DWORD record_number = 0; /* the walk's record number at the call */
  WORD last_output = 0;    /* signature of the last record written before it */
  int32_t table_depth = 0; /* the walk's table depth */
};

/* Forgets the calls, records from now on, and answers `status` (1028, as
 * the service does, or 0 for a copy that wrote nothing). */
void VelkoTestRecordAppendChunk(STATUS status);
/* Forgets the calls and records no more (the start state). */
void VelkoTestStopAppendChunkRecord();
const std::vector<append_chunk_call>& VelkoTestAppendChunkCalls();

using append_chunk_stand_in =
    std::function<STATUS(VelkoRTChunk* chunk, chunk_process_state* state, WORD base)>;

/* From now on AppendChunk calls the stand-in and returns its status; an
 * empty one gives the library's own append back. */
void VelkoTestReplaceAppendChunk(append_chunk_stand_in standIn);

#endif
