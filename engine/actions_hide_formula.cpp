/*
 * The hide formula of a chunk's paragraphs (HideFormula set, action 25):
 * the compiled formula the chunk object left in the session's result text
 * (empty to remove it) becomes the hide formula of every paragraph of the
 * chunk, at each record of the chunk and where it opens.
 *
 * Each paragraph definition the chunk's paragraphs use gets the flag that
 * says it has a hide formula (or loses it) and, with a formula, a hide
 * record of its own PABID right after it; a reader finds a paragraph's
 * formula by the PABID of its reference.
 *
 * On a chunk of the whole item the definitions change in place under their
 * own PABIDs, the references stay as they are and the old hide and
 * formula-reference records go. On a smaller chunk a
 * definition is written under a new PABID and its old form goes to the
 * session's list of saved definitions, which the walk writes again before
 * the first reference to the old PABID after the chunk; the references
 * inside the chunk follow the new PABIDs, so paragraphs outside the chunk
 * keep their formula, and paragraphs that shared a definition inside the
 * chunk go on sharing one.
 *
 * Not here: the reading of the formula (action 24, engine/actions_property.cpp).
 */
#include <stddef.h>
#include <string.h>

#include "engine/process_state.h"
#include "engine/property_set_actions.h"
#include "engine/record_fields.h"
#include "engine/retrieve.h"
#include "engine/services.h"
#include "engine/walk.h"
#include "store/emitter.h"
#include "store/messages.h"
#include "store/rtitem_internal.h"
#include "store/services.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "store/vocabulary.h"
#include "velko/status.h"

namespace {

constexpr const char* kSavedListFull =
    "TARNO: Unable to save additional obsoleted PAB definitions.";

/* The flag of a paragraph definition whose paragraphs have a hide formula. */
constexpr WORD kHiddenByFormula = 0x0800;

_CDPABDEFEXT* Work(chunk_process_state* state) {
  return reinterpret_cast<_CDPABDEFEXT*>(state->paragraph_work);
}

bool WholeItem(const chunk_process_state* state) {
  return DefinitionTargetType(state->first_clause) == TARGETTYPE_EVERYTHING;
}

WORD FormulaLength(const chunk_process_state* state) { return state->session->result_length; }

/* The table level of the walk, as an index of the per-level stores. */
DWORD WalkLevel(const chunk_process_state* state) {
  if (state->depth_table <= 0)
    return 0;
  return static_cast<DWORD>(state->depth_table) < kEmitterMaxTableLevel
             ? static_cast<DWORD>(state->depth_table)
             : kEmitterMaxTableLevel;
}

/* The new PABID of the saved entry at the index: above every PABID the
 * item had before the operation. */
WORD NewIdOfEntry(const chunk_process_state* state, int index) {
  return static_cast<WORD>(index + state->found_pabid + 2);
}

/* The index of the saved definition of the PABID, or -1. */
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

/* Copies the record into the work definition, zero-filled and cut to 92
 * bytes. */
void LoadWork(const char* record, DWORD length, chunk_process_state* state) {
  memset(state->paragraph_work, 0, sizeof state->paragraph_work);
  memcpy(state->paragraph_work, record,
         length < sizeof state->paragraph_work ? length : sizeof state->paragraph_work);
}

/* The definition in effect for paragraphs that refer to the PABID, into
 * the work definition: the walk's current one when it has that PABID,
 * else the last one of the PABID before the current record. */
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

/* Saves the work definition unchanged in the session's list and gives it
 * the new PABID of its entry. A full list leaves it its PABID (and says
 * so); a copy that cannot be had ends the operation. */
STATUS SaveAndRenumber(chunk_process_state* state) {
  _internal_SESS* session = state->session->internal;
  if (session->saved_definition_count >= _internal_SESS::kMaxSavedDefinitions) {
    ShowUserMessage(kSavedListFull);
    return NOERROR;
  }
  const int index = static_cast<int>(session->saved_definition_count);
  if (STATUS status = SaveParagraphDefinition(state->session, state->paragraph_work);
      status != NOERROR)
    return status;
  Work(state)->Definition.PABID = NewIdOfEntry(state, index);
  return NOERROR;
}

/* The hide record of the PABID with the formula, emitted. Its length word
 * holds the formula's own length, so that a reader takes the formula
 * without the pad byte of an odd one. */
STATUS EmitHide(WORD id, chunk_process_state* state) {
  const WORD formulaLength = FormulaLength(state);
  const DWORD exact = sizeof(CDPABHIDE) + formulaLength;
  const DWORD size = EvenLength(exact);
  velko_allocation* block = VelkoAllocate(state->session, VELKO_HERE, size, 1);
  if (block == nullptr || block->data == nullptr) {
    if (block != nullptr)
      VelkoDeallocate(state->session, block);
    return VELKO_ERR_MEMORY;
  }
  auto* data = static_cast<char*>(block->data);
  CDPABHIDE header = {};
  header.Header.Signature = SIG_CD_PABHIDE;
  header.Header.Length = static_cast<WORD>(exact);
  header.PABID = id;
  memcpy(data, &header, sizeof header);
  memcpy(data + sizeof header, state->session->result_text, formulaLength);
  const STATUS status = CopyCDUpdated(data, SIG_CD_PABHIDE, size, &state->gen);
  VelkoDeallocate(state->session, block);
  return status;
}

/* The work definition with the flag the formula asks for, emitted with
 * its hide record after it. */
STATUS EmitWorkWithHide(DWORD length, chunk_process_state* state) {
  CDPABDEFINITION& definition = Work(state)->Definition;
  if (FormulaLength(state) != 0)
    definition.Flags |= kHiddenByFormula;
  else
    definition.Flags &= static_cast<WORD>(~kHiddenByFormula);
  if (length > kParagraphDefinitionArea)
    length = kParagraphDefinitionArea;
  if (STATUS status =
          CopyCDUpdated(state->paragraph_work, SIG_CD_PABDEFINITION, length, &state->gen);
      status != NOERROR)
    return status;
  StateItem(state)->Modified = 1;
  if (FormulaLength(state) == 0)
    return NOERROR;
  return EmitHide(definition.PABID, state);
}

/* The length a definition loaded from elsewhere is written with. */
DWORD WorkLength(chunk_process_state* state) {
  const WORD length = Work(state)->Definition.Header.Length;
  return length >= sizeof(CDPABDEFINITION) && length <= kParagraphDefinitionArea
             ? length
             : kParagraphDefinitionArea;
}

/* The reference record, with the PABID, as the step's output. */
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

STATUS HideDefinition(const char* record, DWORD length, chunk_record_output* output,
                      chunk_process_state* state) {
  LoadWork(record, length, state);
  if (!WholeItem(state)) {
    if (STATUS status = SaveAndRenumber(state); status != NOERROR)
      return status;
    state->new_style_id = Work(state)->Definition.PABID;
  }
  output->length = 0; // written below, ahead of its hide record
  return EmitWorkWithHide(length, state);
}

STATUS HideReference(const char* record, DWORD length, chunk_record_output* output,
                     chunk_process_state* state) {
  WORD id = 0;
  if (WholeItem(state) || !ReadRecordWord(record, length, offsetof(CDPABREFERENCE, PABID), &id))
    return NOERROR;
  if (const int index = SavedIndex(state, id); index >= 0) {
    state->new_style_id = NewIdOfEntry(state, index);
    OutputReference(state->new_style_id, output, state);
    StateItem(state)->Modified = 1;
    return NOERROR;
  }
  if (id == state->new_style_id)
    return NOERROR;
  LoadDefinitionInEffect(id, state);
  if (STATUS status = SaveAndRenumber(state); status != NOERROR)
    return status;
  state->new_style_id = Work(state)->Definition.PABID;
  if (STATUS status = EmitWorkWithHide(WorkLength(state), state); status != NOERROR)
    return status;
  OutputReference(state->new_style_id, output, state);
  return NOERROR;
}

} // namespace

STATUS SetHideFormula(const char* record, WORD signature, DWORD length,
                      chunk_record_output* output, chunk_process_state* state) {
  if (sizeof(CDPABHIDE) + FormulaLength(state) > kLargestEmittedRecord)
    return kServiceNotAvailable;
  if (IsTableCell(signature)) {
    BYTE row = 0;
    BYTE column = 0;
    ReadRecordByte(record, length, offsetof(CDTABLECELL, Row), &row);
    ReadRecordByte(record, length, offsetof(CDTABLECELL, Column), &column);
    const DWORD level = WalkLevel(state);
    state->level_row[level] = row;
    state->level_column[level] = column;
    state->new_style_id = 0;
    return NOERROR;
  }
  switch (signature) {
  case SIG_CD_PABDEFINITION:
    return HideDefinition(record, length, output, state);
  case SIG_CD_PABREFERENCE:
    return HideReference(record, length, output, state);
  case SIG_CD_PABHIDE:
  case SIG_CD_PABFORMULAREF:
    // The old formula records go where every definition carries the new
    // formula; on a smaller chunk they stay for the paragraphs after it
    // that keep their old definitions (the chunk's own take new PABIDs).
    if (WholeItem(state))
      output->length = 0;
    return NOERROR;
  default:
    return NOERROR;
  }
}

STATUS HideFormulaAtChunkStart(WORD signature, chunk_process_state* state) {
  if (sizeof(CDPABHIDE) + FormulaLength(state) > kLargestEmittedRecord)
    return kServiceNotAvailable;
  // A chunk that opens at a paragraph's own records or at a table meets
  // the references it changes; the whole item changes in place.
  if (IsTableCell(signature) || IsTableBegin(signature) || signature == SIG_CD_PRETABLEBEGIN ||
      signature == SIG_CD_PABDEFINITION || signature == SIG_CD_PABREFERENCE ||
      signature == SIG_CD_PARAGRAPH || signature == SIG_CD_PABHIDE ||
      signature == SIG_CD_PABFORMULAREF || WholeItem(state))
    return NOERROR;
  // The chunk opens inside a paragraph: the paragraph takes a copy of the
  // definition in effect with the formula, under a new PABID.
  LoadDefinitionInEffect(CurrentReference(state).PABID, state);
  if (STATUS status = SaveAndRenumber(state); status != NOERROR)
    return status;
  state->new_style_id = Work(state)->Definition.PABID;
  if (STATUS status = EmitWorkWithHide(WorkLength(state), state); status != NOERROR)
    return status;
  CDPABREFERENCE reference = {};
  reference.Header.Signature = static_cast<BYTE>(SIG_CD_PABREFERENCE);
  reference.Header.Length = sizeof reference;
  reference.PABID = state->new_style_id;
  return CopyCDUpdated(&reference, SIG_CD_PABREFERENCE, sizeof reference, &state->gen);
}
