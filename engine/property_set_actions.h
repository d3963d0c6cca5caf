/*
 * The property settings that change paragraphs, pass-through runs and the
 * storage of graphics (HideFormula 25, PassthruHTML 48, GraphicStorage
 * 68), the mark clearing of action 54, and their work where a chunk opens
 * or closes. ProcessPropertySetAction hands them their records; the edge
 * routing (engine/edges.cpp) their edges.
 */
#ifndef VELKO_ENGINE_PROPERTY_SET_ACTIONS_H
#define VELKO_ENGINE_PROPERTY_SET_ACTIONS_H

#include "velko/host_types.h"

struct chunk_process_state;
struct chunk_record_output;

/* The cases for one record of the open chunk (see ProcessPropertyAction). */
STATUS SetHideFormula(const char* record, WORD signature, DWORD length,
                      chunk_record_output* output, chunk_process_state* state);
STATUS SetPassthru(WORD signature, chunk_record_output* output, chunk_process_state* state);
STATUS SetGraphicStorage(const char* record, WORD signature, DWORD length,
                         chunk_record_output* output, chunk_process_state* state);

/* A zero-filled tracked block of size bytes that becomes the output of the
 * record (the frame releases it); null when memory cannot be had. */
char* NewOutputRecord(DWORD size, WORD signature, chunk_record_output* output,
                      chunk_process_state* state);

/* HideFormula where a smaller chunk opens inside a paragraph: the
 * paragraph takes a copy of its definition with the formula under a new
 * PABID. 1028 for a formula too long for one record. */
STATUS HideFormulaAtChunkStart(WORD signature, chunk_process_state* state);

/* True for the actions whose edge work is below (25, 48, 54). */
bool HasPropertySetEdgeWork(WORD action);

/* Where the chunk opens, before its first record (of the signature) is
 * handled, and where it closes. */
STATUS PropertySetWorkAtStart(WORD signature, chunk_process_state* state);
STATUS PropertySetWorkAtStop(chunk_process_state* state);

#endif
