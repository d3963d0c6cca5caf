/*
 * The record generators' views of a chunk operation: the state blocks the
 * structure and link generators take, filled from the operation's state,
 * and what a structure generator hands back.
 */
#ifndef VELKO_ENGINE_GENERATOR_STATES_H
#define VELKO_ENGINE_GENERATOR_STATES_H

#include "generate/hotspot.h"
#include "generate/links.h"
#include "generate/structure_generators.h"

struct chunk_process_state;

/* The operation's paragraph, fonts, paragraph values, last PABID and
 * per-level definition words as a structure generator sees them. */
structure_generation StructureState(chunk_process_state* state);

/* The highest PABID and the pass-through word the generator leaves,
 * taken back into the operation. */
void TakeStructureState(const structure_generation& generation, chunk_process_state* state);

/* The operation's font, second string, event strings and link kind as a
 * link generator sees them (no length words). */
link_operation LinkOperation(chunk_process_state* state);

/* The operation's emitter, label font, secondary status, current record
 * and skip mark as the hotspot and resource generators see them. */
hotspot_state HotspotState(chunk_process_state* state);

#endif
