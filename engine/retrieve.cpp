/*
 * Finding paragraph definitions among an item's input records:
 * RetrievePABDEF (by PABID, forwards or backwards, from the list's ends or
 * the current record) and SetLastPABID (the highest PABID in use).
 *
 * Reading stored items again (target cells, all text, checksums) is not
 * here.
 */
#include "engine/retrieve.h"

#include <string.h>

#include "engine/process_state.h"
#include "engine/record_fields.h"
#include "store/rtitem_internal.h"

namespace {

constexpr WORD kOneInch = 1440;
constexpr WORD kHalfInch = 720;

body_context* InputOf(const chunk_process_state* state) {
  const VelkoRTItem* item = StateItem(state);
  return item != nullptr && item->internal != nullptr ? item->internal->input : nullptr;
}

void WriteDefaultDefinition(chunk_process_state* state) {
  memset(state->retrieved_definition, 0, sizeof state->retrieved_definition);
  CDPABDEFINITION definition = {};
  definition.Header.Signature = SIG_CD_PABDEFINITION;
  definition.Header.Length = sizeof(CDPABDEFINITION);
  definition.LeftMargin = kOneInch;
  definition.FirstLineLeftMargin = kOneInch;
  definition.Tab[0] = kHalfInch;
  memcpy(state->retrieved_definition, &definition, sizeof definition);
}

bool PabidOf(const record_storage* node, WORD* pabid) {
  return node->signature == SIG_CD_PABDEFINITION &&
         ReadRecordWord(node->data, node->length, offsetof(CDPABDEFINITION, PABID), pabid);
}

/* Takes the node when it is a wanted definition whose PABID is not below
 * the one held. */
bool Take(const record_storage* node, chunk_process_state* state) {
  WORD pabid = 0;
  if (!PabidOf(node, &pabid))
    return false;
  if (state->wanted_pabid != kAnyPabid && pabid != state->wanted_pabid)
    return false;
  WORD held = 0;
  memcpy(&held, state->retrieved_definition + offsetof(CDPABDEFINITION, PABID), sizeof held);
  if (pabid < held)
    return false;
  const DWORD size =
      node->length < kParagraphDefinitionArea ? node->length : kParagraphDefinitionArea;
  memset(state->retrieved_definition, 0, sizeof state->retrieved_definition);
  memcpy(state->retrieved_definition, node->data, size);
  state->retrieved_found = 1;
  return true;
}

} // namespace

STATUS RetrievePABDEF(WORD pabid, WORD flags, chunk_process_state* state) {
  state->wanted_pabid = pabid;
  state->retrieved_found = 0;
  WriteDefaultDefinition(state);
  body_context* input = InputOf(state);
  if (input == nullptr)
    return NOERROR;

  const bool fromCurrent = (flags & RETRIEVE_FROM_CURRENT) != 0;
  const bool firstOnly = (flags & RETRIEVE_FIRST_TAKEN) != 0;
  bool taken = false;
  if ((flags & RETRIEVE_BACKWARD) != 0) {
    const record_storage* node = fromCurrent ? state->current_record : input->records;
    if (!fromCurrent) {
      while (node != nullptr && node->next != nullptr)
        node = node->next;
    }
    for (; node != nullptr; node = node->previous) {
      if (Take(node, state)) {
        taken = true;
        if (firstOnly)
          break;
      }
    }
  }
  if ((flags & RETRIEVE_FORWARD) != 0 && !(firstOnly && taken)) {
    const record_storage* node = fromCurrent ? state->current_record : input->records;
    for (; node != nullptr; node = node->next) {
      if (Take(node, state) && firstOnly)
        break;
    }
  }
  return NOERROR;
}

void SetLastPABID(chunk_process_state* state) {
  const body_context* input = InputOf(state);
  if (input == nullptr)
    return;
  for (const record_storage* node = input->records; node != nullptr; node = node->next) {
    WORD pabid = 0;
    if (PabidOf(node, &pabid) && pabid > state->last_pabid)
      state->last_pabid = pabid;
  }
}
