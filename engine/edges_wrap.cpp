/*
 * Wrapping and re-ordering work at a chunk's edges.
 *
 * A link (2387 and 2388, one work) opens where the chunk opens, from the
 * chunk's link data and without a text of its own (the chunk's records are
 * its text), and its end follows the chunk's last record. A section (2404) opens before the chunk, after an
 * empty text run when the record before the chunk is not one, and its end
 * is followed by a paragraph break, a reference to the current definition
 * and an empty text run.
 *
 * SortByRow's re-ordering (2396): where the first row opens, every row is
 * appended again in the order of the keys the driver sorted, one chunk
 * append per key; the walk then drops the rows where they stood
 * (engine/actions_removal.cpp).
 *
 * SetImageHotspot (2447): when the chunk held no image, its image-map area
 * is added where the chunk closes.
 */
#include "engine/edges_wrap.h"

#include <string.h>

#include "engine/process_state.h"
#include "engine/retrieve.h"
#include "engine/generator_states.h"
#include "engine/services.h"
#include "engine/walk.h"
#include "generate/built_record.h"
#include "generate/hotspot.h"
#include "generate/links.h"
#include "generate/structure_generators.h"
#include "store/emitter.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"

namespace {

/* ---- records of the walk's templates ---- */

/* An empty text run in the item's default font, without the operation's
 * font. */
STATUS EmitEmptyDefaultText(chunk_process_state* state) {
  const CDTEXT header = DefaultTextHeader(state);
  return GenerateCDText("", 0, &header, &state->gen);
}

/* ---- links ---- */

/* The link generators' view of the operation. The three length words of
 * the popup text, server hint and anchor are p2 to p4 (0: the text's own
 * length). */
struct link_wrap {
  WORD lengths[3];
  link_operation op;
};

void FillLinkOperation(chunk_process_state* state, link_wrap* wrap) {
  wrap->lengths[0] = state->p2;
  wrap->lengths[1] = state->p3;
  wrap->lengths[2] = state->p4;
  wrap->op = LinkOperation(state);
  wrap->op.lengths = wrap->lengths;
}

/* The link's begin without its text: the chunk's records are the text. */
STATUS OpenLink(chunk_process_state* state) {
  link_wrap wrap;
  FillLinkOperation(state, &wrap);
  const char* text = state->s1 != nullptr ? state->s1 : "";
  return GenerateLinkBeginFromEventData(text, state->p1, &wrap.op, 1);
}

STATUS CloseLink(chunk_process_state* state) {
  link_wrap wrap;
  FillLinkOperation(state, &wrap);
  return GenerateLinkEnd(&wrap.op, SIG_CD_V4HOTSPOTEND);
}

/* ---- sections ---- */

structure_generation SectionGeneration(chunk_process_state* state) {
  structure_generation generation = StructureState(state);
  generation.properties = state->session->internal->option_string;
  generation.title = state->s1;
  return generation;
}

STATUS OpenSection(chunk_process_state* state) {
  const record_storage* first = state->current_record;
  const bool textBefore = first != nullptr && first->previous != nullptr &&
                          first->previous->signature == SIG_CD_TEXT;
  if (!textBefore)
    RETURN_IF_FAILED(EmitEmptyDefaultText(state));
  structure_generation generation = SectionGeneration(state);
  const STATUS status = GenerateSectionBegin(&generation);
  TakeStructureState(generation, state);
  return status;
}

STATUS CloseSection(chunk_process_state* state) {
  link_wrap wrap;
  FillLinkOperation(state, &wrap);
  RETURN_IF_FAILED(GenerateSectionEnd(&wrap.op, SIG_CD_V4HOTSPOTEND));
  RETURN_IF_FAILED(EmitParagraph(state));
  RETURN_IF_FAILED(EmitReference(state));
  return EmitEmptyDefaultText(state);
}

/* ---- the row sort ---- */

/* Appends the row of every key not yet appended, in key order: the key's
 * record range becomes the append target of one chunk append from the
 * operation's second chunk. The walk's place is kept across each append
 * and the face map of the copy is forgotten after it. */
STATUS AppendSortedRows(chunk_process_state* state) {
  _internal_SESS* session = state->session->internal;
  while (state->sort_keys != nullptr && state->sort_key_next < state->sort_key_count) {
    const chunk_sort_key& key = state->sort_keys[state->sort_key_next];
    record_storage* current = state->current_record;
    const DWORD number = state->record_counter;
    state->append_target_first = key.first_record;
    state->append_target_last = key.last_record;
    const STATUS status = AppendChunk(state->other_chunk, state, 0);
    state->current_record = current;
    state->record_counter = number;
    session->face_remap_count = 0;
    if (status != NOERROR)
      return status;
    StateItem(state)->Modified = 1;
    ++state->sort_key_next;
  }
  return NOERROR;
}

} // namespace

bool HasWrapWork(WORD action) {
  switch (action) {
  case ACTION_WRAP_IN_LINK:
  case ACTION_WRAP_IN_LINK_ALT:
  case ACTION_WRAP_IN_SECTION:
  case ACTION_SORT_BY_ROW:
  case ACTION_SET_IMAGE_HOTSPOT:
    return true;
  default:
    return false;
  }
}

STATUS WrapWorkAtChunkStart(chunk_process_state* state) {
  switch (state->action) {
  case ACTION_WRAP_IN_LINK:
  case ACTION_WRAP_IN_LINK_ALT:
    return OpenLink(state);
  case ACTION_WRAP_IN_SECTION:
    return OpenSection(state);
  case ACTION_SORT_BY_ROW:
    return AppendSortedRows(state);
  default:
    return NOERROR;
  }
}

STATUS WrapWorkAtChunkStop(chunk_process_state* state) {
  switch (state->action) {
  case ACTION_WRAP_IN_LINK:
  case ACTION_WRAP_IN_LINK_ALT:
    return CloseLink(state);
  case ACTION_WRAP_IN_SECTION:
    return CloseSection(state);
  case ACTION_SET_IMAGE_HOTSPOT:
    if (state->once_done != 0)
      return NOERROR;
    state->once_done = 1;
    return AddImageHotspot(nullptr, state);
  default:
    return NOERROR;
  }
}

STATUS AddImageHotspot(record_storage* current, chunk_process_state* state) {
  const _internal_SESS* session = state->session->internal;
  hotspot_state hotspot;
  hotspot.gen = &state->gen;
  hotspot.label_font = &state->fonts[0];
  hotspot.label_font_mask = &state->font_masks[0];
  hotspot.secondary_status = &state->secondary_status;
  hotspot.current = current;
  hotspot.skip_mark = &state->skip_mark;
  return GenerateImageHotspot(session->hotspot_type, session->hotspot_code_kind, state->s2,
                              state->s1, state->p3, &hotspot);
}
