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

#include "engine/paragraph_work.h"
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

/* The flag of a paragraph definition whose paragraphs have a hide formula. */
constexpr WORD kHiddenByFormula = 0x0800;

WORD FormulaLength(const chunk_process_state* state) { return state->session->result_length; }

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

STATUS HideDefinition(const char* record, DWORD length, chunk_record_output* output,
                      chunk_process_state* state) {
  LoadWork(record, length, state);
  if (!ChangesWholeItem(state)) {
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
  if (ChangesWholeItem(state) || !ReadRecordWord(record, length, offsetof(CDPABREFERENCE, PABID), &id))
    return NOERROR;
  if (const int index = SavedIndex(state, id); index >= 0) {
    if (STATUS status = NewIdOfEntry(state, index, &state->new_style_id); status != NOERROR)
      return status;
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
    if (ChangesWholeItem(state))
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
      signature == SIG_CD_PABFORMULAREF || ChangesWholeItem(state))
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
