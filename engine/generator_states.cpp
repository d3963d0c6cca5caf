/*
 * The record generators' views of a chunk operation
 * (engine/generator_states.h).
 */
#include "engine/generator_states.h"

#include "engine/process_state.h"
#include "engine/retrieve.h"
#include "store/body.h"
#include "store/session.h"

structure_generation StructureState(chunk_process_state* state) {
  structure_generation generation;
  generation.gen = &state->gen;
  generation.paragraph = state->paragraph;
  generation.fonts[0] = state->fonts[0];
  generation.fonts[1] = state->fonts[1];
  generation.font_masks[0] = state->font_masks[0];
  generation.font_masks[1] = state->font_masks[1];
  generation.paragraph_values = state->paragraph_style;
  generation.set_implied = state->set_implied_properties;
  SetLastPABID(state);
  generation.last_pabid = state->last_pabid;
  const DWORD level = state->gen.table_level;
  generation.level_saves_definitions = state->level_saves_definitions[level];
  generation.level_pabid = state->level_pabid_base[level];
  generation.current_signature =
      state->current_record != nullptr ? state->current_record->signature : 0;
  generation.passthru_open = state->passthru_open;
  return generation;
}

void TakeStructureState(const structure_generation& generation, chunk_process_state* state) {
  if (generation.last_pabid > state->last_pabid)
    state->last_pabid = generation.last_pabid;
  state->passthru_open = generation.passthru_open;
}


link_operation LinkOperation(chunk_process_state* state) {
  link_operation op;
  op.gen = &state->gen;
  op.font = &state->fonts[0];
  op.font_mask = state->font_masks[0].given;
  op.second_string = state->s2;
  op.event_strings = state->chunk->event_strings;
  op.link_kind = &state->chunk->link_mode;
  return op;
}

hotspot_state HotspotState(chunk_process_state* state) {
  hotspot_state hotspot;
  hotspot.gen = &state->gen;
  hotspot.label_font = &state->fonts[0];
  hotspot.label_font_mask = &state->font_masks[0];
  hotspot.secondary_status = &state->secondary_status;
  hotspot.current = state->current_record;
  hotspot.skip_mark = &state->skip_mark;
  return hotspot;
}
