/*
 * Pass-through HTML of a chunk (PassthruHTML set, action 48, p1 the new
 * value) and the edge work of the property settings that have some
 * (HideFormula 25, PassthruHTML 48, the mark clearing of action 54).
 *
 * Setting pass-through makes the whole chunk one pass-through run, or no
 * part of one, and leaves the records around it as they were: where the
 * chunk opens, a run is begun (or the run the chunk lies in is ended);
 * the pass-through begins and ends inside the chunk go; where the chunk
 * closes, the run is ended again (or the run the records after the chunk
 * lie in is begun again). Whether the records after the chunk lie in a
 * run follows from the records before it and the begins and ends the chunk
 * held. The clean-up pass the chunk object runs next merges what meets.
 */
#include <string.h>

#include "engine/process_state.h"
#include "engine/property_set_actions.h"
#include "store/body.h"
#include "store/emitter.h"
#include "store/rtitem_internal.h"
#include "store/vocabulary.h"

namespace {

/* Whether the input records before the current one end inside a
 * pass-through run: a begin met, going back, before any end. */
bool PassThroughBefore(const chunk_process_state* state) {
  if (state->current_record == nullptr)
    return false;
  for (const record_storage* node = state->current_record->previous; node != nullptr;
       node = node->previous) {
    if (node->signature == SIG_CD_HTMLBEGIN)
      return true;
    if (node->signature == SIG_CD_HTMLEND)
      return false;
  }
  return false;
}

STATUS EmitBracket(WORD signature, chunk_process_state* state) {
  CDHTMLBEGIN record = {};
  record.Header.Signature = signature;
  record.Header.Length = sizeof record;
  StateItem(state)->Modified = 1;
  return CopyCDUpdated(&record, signature, sizeof record, &state->gen);
}

STATUS PassthruAtStart(chunk_process_state* state) {
  const bool inside = PassThroughBefore(state);
  state->passthru_inside = inside ? 1 : 0;
  if (state->p1 != 0 && !inside)
    return EmitBracket(SIG_CD_HTMLBEGIN, state);
  if (state->p1 == 0 && inside)
    return EmitBracket(SIG_CD_HTMLEND, state);
  return NOERROR;
}

STATUS PassthruAtStop(chunk_process_state* state) {
  const bool after = state->passthru_inside != 0;
  if (state->p1 != 0 && !after)
    return EmitBracket(SIG_CD_HTMLEND, state);
  if (state->p1 == 0 && after)
    return EmitBracket(SIG_CD_HTMLBEGIN, state);
  return NOERROR;
}

} // namespace

STATUS SetPassthru(WORD signature, chunk_record_output* output, chunk_process_state* state) {
  if (signature == SIG_CD_HTMLBEGIN)
    state->passthru_inside = 1;
  else if (signature == SIG_CD_HTMLEND)
    state->passthru_inside = 0;
  else
    return NOERROR;
  output->length = 0; // the chunk's run is settled at its edges
  return NOERROR;
}

bool HasPropertySetEdgeWork(WORD action) {
  return action == ACTION_SET_HIDE_FORMULA || action == ACTION_SET_PASSTHRU_HTML ||
         action == ACTION_CLEAR_RECORD_MARK;
}

STATUS PropertySetWorkAtStart(WORD signature, chunk_process_state* state) {
  switch (state->action) {
  case ACTION_SET_HIDE_FORMULA:
    return HideFormulaAtChunkStart(signature, state);
  case ACTION_SET_PASSTHRU_HTML:
    return PassthruAtStart(state);
  case ACTION_CLEAR_RECORD_MARK:
    // The first record of the chunk is no longer one a link match wrote.
    if (state->current_record != nullptr)
      state->current_record->flags &= static_cast<WORD>(~RECORD_MATCH_MARKER);
    return NOERROR;
  default:
    return NOERROR;
  }
}

STATUS PropertySetWorkAtStop(chunk_process_state* state) {
  return state->action == ACTION_SET_PASSTHRU_HTML ? PassthruAtStop(state) : NOERROR;
}
