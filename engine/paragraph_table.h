/*
 * The work of the paragraph and table actions where a chunk opens or
 * closes, which the edge routing (engine/edges.cpp) hands them. Their cases
 * for the records inside the chunk are ProcessParagraphAction and
 * ProcessTableAction (engine/services.h).
 */
#ifndef VELKO_ENGINE_PARAGRAPH_TABLE_H
#define VELKO_ENGINE_PARAGRAPH_TABLE_H

#include "velko/host_types.h"

struct chunk_process_state;

/* A zeroed tracked block of `size` bytes holding a copy of the record (cut
 * to size), held as the step's output until the frame has emitted it;
 * null when memory cannot be had. */
struct chunk_record_output;
BYTE* CopyRecordIntoBlock(const char* record, DWORD length, DWORD size,
                          chunk_record_output* output, chunk_process_state* state);

/* True for the actions whose edge work is below. */
bool HasParagraphTableEdgeWork(WORD action);

/* Where the chunk opens, before its first record (of the signature) is
 * handled. */
STATUS ParagraphTableWorkAtStart(WORD signature, chunk_process_state* state);

/* The row append and the cell colour where the chunk opens and where it
 * closes (at the record of the signature). */
bool HasTableEdgeWork(WORD action);
STATUS TableWorkAtChunkStart(WORD signature, chunk_process_state* state);
STATUS TableWorkAtChunkStop(WORD signature, chunk_process_state* state);

/* The HTML identity texts (action 2422): the case for a record of the
 * chunk, and the work where the chunk opens and closes. */
STATUS SetHtmlValue(const char* record, WORD signature, DWORD length,
                    chunk_record_output* output, chunk_process_state* state);
STATUS HtmlValueAtChunkStart(WORD signature, chunk_process_state* state);
STATUS HtmlValueAtChunkStop(chunk_process_state* state);

/* Field modification (action 2416): the case for a record of the chunk. */
STATUS ModifyField(WORD signature, chunk_record_output* output, chunk_process_state* state);

/* Target attributes (action 2437): the case for a record of the chunk,
 * and the records still missing where the chunk closes. */
STATUS SetTargetProperties(const char* record, WORD signature, DWORD length,
                           chunk_record_output* output, chunk_process_state* state);
STATUS TargetPropertiesAtChunkStop(chunk_process_state* state);

/* ChangeParagraph where a smaller chunk opens inside a paragraph: a
 * changed copy of the definition in effect under a new PABID, and a
 * reference to it. */
STATUS ChangeParagraphAtStart(WORD signature, chunk_process_state* state);

#endif
