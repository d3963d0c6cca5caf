/*
 * The paragraph-changing actions' work definition and the session's list
 * of saved definitions (engine/paragraph_work.h).
 */
#include "engine/paragraph_work.h"

#include <stddef.h>
#include <string.h>

#include "engine/process_state.h"
#include "engine/record_fields.h"
#include "engine/retrieve.h"
#include "store/emitter.h"
#include "store/messages.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "velko/status.h"

namespace {

constexpr const char* kSavedListFull =
    "TARNO: Unable to save additional obsoleted PAB definitions.";

} // namespace

_CDPABDEFEXT* Work(chunk_process_state* state) {
  return reinterpret_cast<_CDPABDEFEXT*>(state->paragraph_work);
}

bool ChangesWholeItem(const chunk_process_state* state) {
  return DefinitionTargetType(state->first_clause) == TARGETTYPE_EVERYTHING;
}

DWORD WalkLevel(const chunk_process_state* state) {
  if (state->depth_table <= 0)
    return 0;
  return static_cast<DWORD>(state->depth_table) < kEmitterMaxTableLevel
             ? static_cast<DWORD>(state->depth_table)
             : kEmitterMaxTableLevel;
}

STATUS NewIdOfEntry(chunk_process_state* state, int index, WORD* id) {
  const DWORD next = static_cast<DWORD>(index) + state->found_pabid + 2;
  if (next > 0xFFFF)
    return RefuseParagraphIdPastLargest(&state->gen);
  *id = static_cast<WORD>(next);
  return NOERROR;
}

int SavedIndex(const chunk_process_state* state, WORD id) {
  const _internal_SESS* session = state->session->internal;
  for (DWORD index = 0; index < session->saved_definition_count; ++index) {
    const char* entry = session->saved_definitions[index];
    if (entry == nullptr)
      continue;
    WORD entryId = 0;
    memcpy(&entryId, entry + offsetof(CDPABDEFINITION, PABID), sizeof entryId);
    if (entryId == id)
      return static_cast<int>(index);
  }
  return -1;
}

void LoadWork(const char* record, DWORD length, chunk_process_state* state) {
  memset(state->paragraph_work, 0, sizeof state->paragraph_work);
  memcpy(state->paragraph_work, record,
         length < sizeof state->paragraph_work ? length : sizeof state->paragraph_work);
}

STATUS SaveAndRenumber(chunk_process_state* state) {
  _internal_SESS* session = state->session->internal;
  if (session->saved_definition_count >= _internal_SESS::kMaxSavedDefinitions) {
    ShowUserMessage(kSavedListFull);
    return NOERROR;
  }
  const int index = session->saved_definition_count;
  WORD id = 0;
  if (STATUS status = NewIdOfEntry(state, index, &id); status != NOERROR)
    return status;
  // The work area holds a longer definition cut to its own size: the copy
  // saved is what the area holds, and its header says so.
  WORD& length = Work(state)->Definition.Header.Length;
  if (length > kParagraphDefinitionArea)
    length = kParagraphDefinitionArea;
  if (STATUS status = SaveParagraphDefinition(state->session, state->paragraph_work);
      status != NOERROR)
    return status;
  Work(state)->Definition.PABID = id;
  state->last_new_style_id = Work(state)->Definition.PABID;
  return NOERROR;
}

void LoadDefinitionInEffect(WORD id, chunk_process_state* state) {
  const _CDPABDEFEXT* current = CurrentDefinition(state);
  if (current->Definition.PABID == id) {
    memcpy(state->paragraph_work, current, sizeof state->paragraph_work);
    return;
  }
  RetrievePABDEF(id, RETRIEVE_BACKWARD | RETRIEVE_FROM_CURRENT | RETRIEVE_FIRST_TAKEN, state);
  memcpy(state->paragraph_work, state->retrieved_definition, sizeof state->paragraph_work);
  Work(state)->Definition.PABID = id;
}

void OutputReference(WORD id, chunk_record_output* output, chunk_process_state* state) {
  CDPABREFERENCE reference = {};
  reference.Header.Signature = static_cast<BYTE>(SIG_CD_PABREFERENCE);
  reference.Header.Length = sizeof reference;
  reference.PABID = id;
  memcpy(state->reference_work, &reference, sizeof reference);
  output->data = reinterpret_cast<const char*>(state->reference_work);
  output->signature = SIG_CD_PABREFERENCE;
  output->length = sizeof reference;
}

