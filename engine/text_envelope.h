/*
 * Re-emitting the records held around a text run (its CDBEGIN, text
 * effect, colour record and CDEND: the text envelope) around the text that
 * an action keeps or writes anew. The state's `envelope` names the first
 * held record of the input list.
 */
#ifndef VELKO_ENGINE_TEXT_ENVELOPE_H
#define VELKO_ENGINE_TEXT_ENVELOPE_H

#include "velko/host_types.h"

struct chunk_process_state;

/* Emits the held records up to the first CDEND or text run, then the text
 * run at which that stopped, then (when a CDBEGIN was among them) the rest
 * of the envelope through its CDEND, text runs left out. The first
 * argument is not read. Returns the last emitter status; without a held
 * envelope it emits the current record alone. */
STATUS GenerateTextEnvelope(DWORD unused, chunk_process_state* state);

/* As GenerateTextEnvelope with a new text run of `length` bytes of text in
 * the font of the 8-byte `header` (the default font when null) in place of
 * the held text run. */
STATUS GenerateTextEnvelopeData(const char* text, WORD length, const void* header,
                                chunk_process_state* state);

#endif
