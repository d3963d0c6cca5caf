/*
 * Paragraph styles of a chunk (ChangeParagraph, 2364): where the chunk
 * opens and at every record of it.
 *
 * On a chunk of the whole item the matching definitions are rewritten in
 * place under their own PABIDs. On any smaller chunk a changed definition
 * is written under a new PABID and its old form is handed to the session's
 * list of saved definitions, which the record emitter writes again before
 * the first reference to the old PABID after the chunk; references inside
 * the chunk follow the new PABIDs, so paragraphs that shared a definition
 * go on sharing one.
 *
 * Merging cells (2405) marks the cells of a range covered and lets the
 * bottom-right one span the range, opening it with the paragraph style of
 * the top-left one; undoing merges (2406) clears the covering flags and
 * spans of every cell of the chunk.
 */
#include <stddef.h>
#include <string.h>

#include "engine/paragraph_table.h"
#include "engine/paragraph_work.h"
#include "engine/process_state.h"
#include "engine/record_fields.h"
#include "engine/retrieve.h"
#include "engine/services.h"
#include "store/emitter.h"
#include "store/messages.h"
#include "store/session.h"
#include "velko/status.h"
#include "store/vocabulary.h"

namespace {

/* Applies the change to the work definition when it meets the selection;
 * true when it did. */
bool ChangeWork(chunk_process_state* state) {
  if (MatchParagraphSpec(Work(state), state->paragraph_style) == 0)
    return false;
  ApplyParagraphSpec(state->paragraph_style, Work(state), state->set_implied_properties);
  Work(state)->Definition.Header.Length = kParagraphDefinitionArea;
  StateItem(state)->Modified = 1;
  return true;
}

STATUS EmitWork(chunk_process_state* state) {
  const WORD length = Work(state)->Definition.Header.Length;
  return CopyCDUpdated(state->paragraph_work, SIG_CD_PABDEFINITION,
                       length <= kParagraphDefinitionArea ? length : kParagraphDefinitionArea,
                       &state->gen);
}

void RememberCell(const char* record, DWORD length, chunk_process_state* state) {
  BYTE row = 0;
  BYTE column = 0;
  ReadRecordByte(record, length, offsetof(CDTABLECELL, Row), &row);
  ReadRecordByte(record, length, offsetof(CDTABLECELL, Column), &column);
  const DWORD level = WalkLevel(state);
  state->level_row[level] = row;
  state->level_column[level] = column;
  state->new_style_id = 0;
}

STATUS ChangeDefinition(const char* record, DWORD length, chunk_record_output* output,
                        chunk_process_state* state) {
  LoadWork(record, length, state);
  if (MatchParagraphSpec(Work(state), state->paragraph_style) == 0)
    return NOERROR; // passes as it came
  if (!ChangesWholeItem(state)) {
    if (STATUS status = SaveAndRenumber(state); status != NOERROR)
      return status;
  }
  ChangeWork(state);
  state->new_style_id = Work(state)->Definition.PABID;
  output->data = reinterpret_cast<const char*>(state->paragraph_work);
  output->signature = SIG_CD_PABDEFINITION;
  output->length = kParagraphDefinitionArea;
  return NOERROR;
}

STATUS ChangeReference(const char* record, DWORD length, chunk_record_output* output,
                       chunk_process_state* state) {
  WORD id = 0;
  if (ChangesWholeItem(state) ||
      !ReadRecordWord(record, length, offsetof(CDPABREFERENCE, PABID), &id))
    return NOERROR;
  if (const int index = SavedIndex(state, id); index >= 0) {
    if (STATUS status = NewIdOfEntry(state, index, &state->new_style_id); status != NOERROR)
      return status;
    OutputReference(state->new_style_id, output, state);
    return NOERROR;
  }
  if (id == state->new_style_id)
    return NOERROR;
  LoadDefinitionInEffect(id, state);
  if (STATUS status = SaveAndRenumber(state); status != NOERROR)
    return status;
  if (ChangeWork(state))
    state->new_style_id = Work(state)->Definition.PABID;
  if (STATUS status = EmitWork(state); status != NOERROR)
    return status;
  OutputReference(Work(state)->Definition.PABID, output, state);
  return NOERROR;
}

/* Flags of a cell covered by a merged neighbour: by one above it, and by
 * one to its left. */
constexpr BYTE kCoveredFlags = 0x04 | 0x08;

STATUS UndoCellMerge(const char* record, DWORD length, chunk_record_output* output,
                     chunk_process_state* state) {
  if (length < sizeof(CDTABLECELL))
    return NOERROR;
  BYTE* data = CopyRecordIntoBlock(record, length, length, output, state);
  if (data == nullptr)
    return VELKO_ERR_MEMORY;
  CDTABLECELL cell;
  memcpy(&cell, data, sizeof cell);
  cell.Flags = static_cast<BYTE>(cell.Flags & ~kCoveredFlags);
  cell.RowSpan = 1;
  cell.ColumnSpan = 1;
  memcpy(data, &cell, sizeof cell);
  output->data = reinterpret_cast<const char*>(data);
  StateItem(state)->Modified = 1;
  return NOERROR;
}

/* ---- merging cells ---- */

enum : DWORD {
  kMergeAwaitDefinition = 0x1, /* the top-left cell's first reference names it */
  kMergeHaveDefinition = 0x2,  /* the work definition holds it */
  kMergeDropOpening = 0x4,     /* the bottom-right cell's own opening goes */
};

/* Whether the cell lies in the range p1-p3 (rows) by p2-p4 (columns),
 * counted from 1. */
bool InMergeRange(const CDTABLECELL& cell, const chunk_process_state* state) {
  const int row = cell.Row + 1;
  const int column = cell.Column + 1;
  return row >= state->p1 && row <= state->p3 && column >= state->p2 && column <= state->p4;
}

/* The bottom-right cell: its spans, then a paragraph break, the top-left
 * cell's definition under a new PABID and a reference to it. */
STATUS OpenMergedCell(CDTABLECELL cell, DWORD length, const char* record,
                      chunk_record_output* output, chunk_process_state* state) {
  cell.RowSpan = static_cast<BYTE>(state->p3 - state->p1 + 1);
  cell.ColumnSpan = static_cast<BYTE>(state->p4 - state->p2 + 1);
  BYTE* data = CopyRecordIntoBlock(record, length, length, output, state);
  if (data == nullptr)
    return VELKO_ERR_MEMORY;
  memcpy(data, &cell, sizeof cell);
  state->found = 1;
  StateItem(state)->Modified = 1;
  if ((state->merge_steps & kMergeHaveDefinition) == 0) {
    output->data = reinterpret_cast<const char*>(data);
    return NOERROR;
  }
  // The merged cell's definition takes the id after the highest; past
  // 65535 it would wrap to 0, so the merge is refused before any record.
  SetLastPABID(state);
  if (state->last_pabid == 0xFFFF)
    return RefuseParagraphIdPastLargest(&state->gen);
  if (STATUS status = CopyCDUpdated(data, output->signature, length, &state->gen);
      status != NOERROR)
    return status;
  output->length = 0; // emitted above, ahead of its opening
  CDPARAGRAPH paragraph = {};
  paragraph.Header.Signature = static_cast<BYTE>(SIG_CD_PARAGRAPH);
  paragraph.Header.Length = sizeof paragraph;
  if (STATUS status = CopyCDUpdated(&paragraph, SIG_CD_PARAGRAPH, sizeof paragraph, &state->gen);
      status != NOERROR)
    return status;
  Work(state)->Definition.PABID = static_cast<WORD>(state->last_pabid + 1);
  if (STATUS status = EmitWork(state); status != NOERROR)
    return status;
  CDPABREFERENCE reference = {};
  reference.Header.Signature = static_cast<BYTE>(SIG_CD_PABREFERENCE);
  reference.Header.Length = sizeof reference;
  reference.PABID = Work(state)->Definition.PABID;
  state->merge_steps = kMergeDropOpening;
  return CopyCDUpdated(&reference, SIG_CD_PABREFERENCE, sizeof reference, &state->gen);
}

STATUS MergeCell(const char* record, DWORD length, chunk_record_output* output,
                 chunk_process_state* state) {
  state->merge_steps &= ~DWORD{kMergeDropOpening};
  if (length < sizeof(CDTABLECELL))
    return NOERROR;
  CDTABLECELL cell;
  memcpy(&cell, record, sizeof cell);
  if (!InMergeRange(cell, state))
    return NOERROR;
  if ((cell.Flags & kCoveredFlags) != 0 || cell.RowSpan > 1 || cell.ColumnSpan > 1)
    return VELKO_ERR_FAILED; // already merged
  const bool lastRow = cell.Row + 1 == state->p3;
  const bool lastColumn = cell.Column + 1 == state->p4;
  if (cell.Row + 1 == state->p1 && cell.Column + 1 == state->p2)
    state->merge_steps |= kMergeAwaitDefinition;
  if (lastRow && lastColumn)
    return OpenMergedCell(cell, length, record, output, state);
  cell.Flags = static_cast<BYTE>(cell.Flags | (lastRow ? 0x04 : 0x08));
  BYTE* data = CopyRecordIntoBlock(record, length, length, output, state);
  if (data == nullptr)
    return VELKO_ERR_MEMORY;
  memcpy(data, &cell, sizeof cell);
  output->data = reinterpret_cast<const char*>(data);
  StateItem(state)->Modified = 1;
  return NOERROR;
}

STATUS MergeCells(const char* record, WORD signature, DWORD length, chunk_record_output* output,
                  chunk_process_state* state) {
  if (IsTableCell(signature))
    return MergeCell(record, length, output, state);
  if (IsTableEnd(signature)) {
    state->merge_steps &= ~DWORD{kMergeDropOpening};
    return NOERROR;
  }
  if (signature == SIG_CD_PABREFERENCE && (state->merge_steps & kMergeAwaitDefinition) != 0) {
    WORD id = 0;
    if (ReadRecordWord(record, length, offsetof(CDPABREFERENCE, PABID), &id)) {
      LoadDefinitionInEffect(id, state);
      state->merge_steps = (state->merge_steps & ~DWORD{kMergeAwaitDefinition}) |
                           kMergeHaveDefinition;
    }
  }
  if ((state->merge_steps & kMergeDropOpening) == 0)
    return NOERROR;
  // The merged cell's own paragraph break and reference before its first
  // other record go: the cell opens with the ones written above.
  if (signature == SIG_CD_PARAGRAPH || signature == SIG_CD_PABREFERENCE) {
    output->length = 0;
    return NOERROR;
  }
  state->merge_steps &= ~DWORD{kMergeDropOpening};
  return NOERROR;
}

} // namespace

STATUS ProcessParagraphAction(const char* record, WORD signature, DWORD length,
                              chunk_record_output* output, chunk_process_state* state) {
  if (state->action == ACTION_MERGE_CELLS)
    return MergeCells(record, signature, length, output, state);
  if (state->action == ACTION_UNDO_MERGE_CELLS)
    return IsTableCell(signature) ? UndoCellMerge(record, length, output, state) : NOERROR;
  if (state->action != ACTION_CHANGE_PARAGRAPH)
    return kServiceNotAvailable;
  if (IsTableCell(signature)) {
    RememberCell(record, length, state);
    return NOERROR;
  }
  if (signature == SIG_CD_PABDEFINITION)
    return ChangeDefinition(record, length, output, state);
  if (signature == SIG_CD_PABREFERENCE)
    return ChangeReference(record, length, output, state);
  return NOERROR;
}

STATUS ChangeParagraphAtStart(WORD signature, chunk_process_state* state) {
  // A chunk that opens at a table leaves the paragraph around the table
  // alone (a reference before the table begin would need a paragraph break
  // of its own): the cells' references take the changed copies.
  if (IsTableCell(signature) || IsTableBegin(signature) || signature == SIG_CD_PRETABLEBEGIN ||
      signature == SIG_CD_PABDEFINITION || signature == SIG_CD_PABREFERENCE ||
      signature == SIG_CD_PARAGRAPH || ChangesWholeItem(state))
    return NOERROR;
  // The chunk opens inside a paragraph: the rest of it takes a changed
  // copy of the definition in effect under a new PABID.
  LoadDefinitionInEffect(CurrentReference(state).PABID, state);
  if (STATUS status = SaveAndRenumber(state); status != NOERROR)
    return status;
  ChangeWork(state);
  state->new_style_id = Work(state)->Definition.PABID;
  if (STATUS status = EmitWork(state); status != NOERROR)
    return status;
  CDPABREFERENCE reference = {};
  reference.Header.Signature = static_cast<BYTE>(SIG_CD_PABREFERENCE);
  reference.Header.Length = sizeof reference;
  reference.PABID = state->new_style_id;
  return CopyCDUpdated(&reference, SIG_CD_PABREFERENCE, sizeof reference, &state->gen);
}
