/*
 * The text-envelope builders: a text run of the input may be wrapped as
 * CDBEGIN(text), text effect, text run, colour record, CDEND(text). An
 * action that keeps a run, or writes pieces of it anew, emits the held
 * records of the envelope again around each run it writes, so the wrapping
 * survives the rewrite. The records are read from the input list, starting
 * at the state's held envelope record; they go through the emitter.
 */
#include "engine/text_envelope.h"

#include "engine/process_state.h"
#include "engine/record_fields.h"
#include "engine/walk.h"

namespace {

STATUS Emit(const record_storage* node, chunk_process_state* state) {
  return EmitInputRecord(node->data, node->signature, node->length, state);
}

/* The text a builder puts in place of the held text run. */
struct envelope_text {
  const char* text; /* null: the held text run itself */
  WORD length;
  const void* header;
};

STATUS EmitEnvelope(const envelope_text& replacement, chunk_process_state* state) {
  const record_storage* node = state->envelope;
  bool sawBegin = false;
  for (; node != nullptr && node->signature != SIG_CD_END && !IsTextRun(node->signature);
       node = node->next) {
    sawBegin = sawBegin || node->signature == SIG_CD_BEGIN;
    if (STATUS status = Emit(node, state); status != NOERROR)
      return status;
  }

  STATUS status = NOERROR;
  if (replacement.text != nullptr)
    status = GenerateCDText(replacement.text, replacement.length, replacement.header, &state->gen);
  else if (node != nullptr && IsTextRun(node->signature))
    status = Emit(node, state);
  if (status != NOERROR || !sawBegin)
    return status;

  for (; node != nullptr; node = node->next) {
    if (IsTextRun(node->signature))
      continue;
    if (STATUS emitted = Emit(node, state); emitted != NOERROR)
      return emitted;
    if (node->signature == SIG_CD_END)
      break;
  }
  return NOERROR;
}

} // namespace

STATUS GenerateTextEnvelope(DWORD, chunk_process_state* state) {
  if (state->envelope == nullptr) {
    const record_storage* current = state->current_record;
    return current != nullptr ? Emit(current, state) : NOERROR;
  }
  return EmitEnvelope({nullptr, 0, nullptr}, state);
}

STATUS GenerateTextEnvelopeData(const char* text, WORD length, const void* header,
                                chunk_process_state* state) {
  if (text == nullptr)
    text = "";
  if (state->envelope == nullptr)
    return GenerateCDText(text, length, header, &state->gen);
  return EmitEnvelope({text, length, header}, state);
}
