/*
 * Table actions on the records of a chunk: ChangeTable (2413) rewrites the
 * table's CDPRETABLEBEGIN and CDTABLEBEGIN records from a table property
 * string and sets or adds the row cycle time of an animated table.
 *
 * The cell-border action (2393, which no method issues) sets the border
 * widths of every cell of the chunk from a text of four characters.
 *
 * The other actions that reach ProcessTableAction (row appends, wrapping,
 * cell colours, fields, HTML and target attributes) are not offered here:
 * the driver refuses them before the walk.
 */
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "engine/paragraph_table.h"
#include "engine/process_state.h"
#include "engine/record_fields.h"
#include "engine/services.h"
#include "generate/attribute_strings.h"
#include "store/emitter.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "store/vocabulary.h"
#include "velko/property_string.h"
#include "velko/status.h"

namespace {

constexpr const char* kRowCycleKey = "RowCycleMilliseconds=";
constexpr const char* kTableNameKey = "TableName=";
/* Room of the block a CDPRETABLEBEGIN is rebuilt in: at least this, and
 * this much beyond a longer record. */
constexpr DWORD kPreTableRoom = 148;
constexpr DWORD kPreTableSlack = 50;

/* The row cycle time the property string sets; false without one. */
bool RowCycle(const char* properties, DWORD* milliseconds) {
  char value[32] = {};
  if (properties == nullptr || ExtractProperty(properties, kRowCycleKey, value, sizeof value) == 0)
    return false;
  *milliseconds = static_cast<DWORD>(strtol(value, nullptr, 10));
  return true;
}

/* A bound of the length of the TableName= value: the value is no longer
 * than the string. 0 without the key. */
DWORD TableNameBound(const char* properties) {
  if (properties == nullptr || stristr(properties, kTableNameKey) == nullptr)
    return 0;
  return static_cast<DWORD>(strlen(properties));
}

STATUS ChangePreTable(const char* record, DWORD length, chunk_record_output* output,
                      chunk_process_state* state) {
  DWORD size = length + kPreTableSlack > kPreTableRoom ? length + kPreTableSlack : kPreTableRoom;
  // A long name needs room of its own, and an even end.
  const DWORD named = sizeof(CDPRETABLEBEGIN) + TableNameBound(state->s1) + 2;
  if (named > size)
    size = named;
  BYTE* data = CopyRecordIntoBlock(record, length, size, output, state);
  if (data == nullptr)
    return VELKO_ERR_MEMORY;
  if (STATUS status = ApplyPropertiesToTableRecord(state->session, StateItem(state),
                                                    SIG_CD_PRETABLEBEGIN, data, size, state->s1, 0);
      status != NOERROR)
    return status;
  WSIG header;
  memcpy(&header, data, sizeof header);
  output->data = reinterpret_cast<const char*>(data);
  output->signature = SIG_CD_PRETABLEBEGIN;
  output->length = header.Length;
  StateItem(state)->Modified = 1;
  return NOERROR;
}

STATUS ChangeTableBegin(const char* record, DWORD length, chunk_record_output* output,
                        chunk_process_state* state) {
  const DWORD size = length > sizeof(CDTABLEBEGIN) ? length : sizeof(CDTABLEBEGIN);
  BYTE* data = CopyRecordIntoBlock(record, length, size, output, state);
  if (data == nullptr)
    return VELKO_ERR_MEMORY;
  // The walk has counted this table already: a table of the first level
  // stands at depth 1.
  const WORD signature = state->depth_table <= 1 ? SIG_CD_TABLEBEGIN : SIG_CD_NESTEDTABLEBEGIN;
  if (STATUS status = ApplyPropertiesToTableRecord(state->session, StateItem(state), signature,
                                                    data, size, state->s1, 0);
      status != NOERROR)
    return status;
  data[0] = static_cast<BYTE>(signature);
  output->data = reinterpret_cast<const char*>(data);
  output->signature = signature;
  output->length = length;
  StateItem(state)->Modified = 1;
  return NOERROR;
}

STATUS ChangeTimer(const char* record, DWORD length, DWORD milliseconds,
                   chunk_record_output* output, chunk_process_state* state) {
  if (length < sizeof(CDTIMERINFO))
    return NOERROR;
  BYTE* data = CopyRecordIntoBlock(record, length, length, output, state);
  if (data == nullptr)
    return VELKO_ERR_MEMORY;
  memcpy(data + offsetof(CDTIMERINFO, Interval), &milliseconds, sizeof milliseconds);
  output->data = reinterpret_cast<const char*>(data);
  StateItem(state)->Modified = 1;
  return NOERROR;
}

/* Before a table end: a timer record, unless one of the two records before
 * it is one (or the table end has not two records before it). */
STATUS AddTimerBeforeEnd(DWORD milliseconds, chunk_process_state* state) {
  const record_storage* node = state->current_record;
  const record_storage* previous = node != nullptr ? node->previous : nullptr;
  const record_storage* earlier = previous != nullptr ? previous->previous : nullptr;
  if (previous == nullptr || earlier == nullptr || previous->signature == SIG_CD_TIMERINFO ||
      earlier->signature == SIG_CD_TIMERINFO)
    return NOERROR;
  CDTIMERINFO timer = {};
  timer.Header.Signature = static_cast<BYTE>(SIG_CD_TIMERINFO);
  timer.Header.Length = sizeof timer;
  timer.Interval = milliseconds;
  StateItem(state)->Modified = 1;
  return CopyCDUpdated(&timer, SIG_CD_TIMERINFO, sizeof timer, &state->gen);
}

STATUS ChangeTable(const char* record, WORD signature, DWORD length, chunk_record_output* output,
                   chunk_process_state* state) {
  if (signature == SIG_CD_PRETABLEBEGIN)
    return ChangePreTable(record, length, output, state);
  if (IsTableBegin(signature))
    return ChangeTableBegin(record, length, output, state);
  DWORD milliseconds = 0;
  if (!RowCycle(state->s1, &milliseconds))
    return NOERROR;
  if (signature == SIG_CD_TIMERINFO)
    return ChangeTimer(record, length, milliseconds, output, state);
  if (IsTableEnd(signature))
    return AddTimerBeforeEnd(milliseconds, state);
  return NOERROR;
}

/* ---- cell borders ---- */

/* The 4-bit width a border character gives: its digit value ('N' and any
 * character that is no digit give 0). */
WORD WideBorder(char side) { return side >= '0' && side <= '9' ? side - '0' : 0; }

/* The 2-bit width a border character gives, or the present one. */
BYTE NarrowBorder(char side, BYTE present) {
  return side == '0' || side == '1' || side == '2' ? static_cast<BYTE>(side - '0') : present;
}

/* The cell's borders from the first four characters of s1: top, bottom,
 * left and right. A shorter text leaves the cell alone. */
STATUS SetCellBorders(const char* record, DWORD length, chunk_record_output* output,
                      chunk_process_state* state) {
  const char* sides = state->s1;
  if (sides == nullptr || strnlen(sides, 4) < 4 || length < sizeof(CDTABLECELL))
    return NOERROR;
  BYTE* data = CopyRecordIntoBlock(record, length, length, output, state);
  if (data == nullptr)
    return VELKO_ERR_MEMORY;
  CDTABLECELL cell;
  memcpy(&cell, data, sizeof cell);
  const char top = sides[0], bottom = sides[1], left = sides[2], right = sides[3];
  cell.V42Border = static_cast<WORD>(WideBorder(left) | WideBorder(right) << 4 |
                                     WideBorder(top) << 8 | WideBorder(bottom) << 12);
  const BYTE present = cell.BorderWidths;
  cell.BorderWidths = static_cast<BYTE>(
      NarrowBorder(left, present & 3) | NarrowBorder(right, present >> 2 & 3) << 2 |
      NarrowBorder(top, present >> 4 & 3) << 4 | NarrowBorder(bottom, present >> 6 & 3) << 6);
  memcpy(data, &cell, sizeof cell);
  output->data = reinterpret_cast<const char*>(data);
  StateItem(state)->Modified = 1;
  return NOERROR;
}

} // namespace

BYTE* CopyRecordIntoBlock(const char* record, DWORD length, DWORD size,
                          chunk_record_output* output, chunk_process_state* state) {
  velko_allocation* block = VelkoAllocate(state->session, VELKO_HERE, size, 1);
  if (block == nullptr || block->data == nullptr)
    return nullptr;
  output->block = block;
  auto* data = static_cast<BYTE*>(block->data);
  memcpy(data, record, length < size ? length : size);
  return data;
}

STATUS ProcessTableAction(const char* record, WORD signature, DWORD length,
                          chunk_record_output* output, chunk_process_state* state) {
  if (state->action == ACTION_CHANGE_TABLE)
    return ChangeTable(record, signature, length, output, state);
  if (state->action == ACTION_SET_CELL_BORDERS)
    return IsTableCell(signature) ? SetCellBorders(record, length, output, state) : NOERROR;
  return kServiceNotAvailable;
}

bool HasParagraphTableEdgeWork(WORD action) { return action == ACTION_CHANGE_PARAGRAPH; }

STATUS ParagraphTableWorkAtStart(WORD signature, chunk_process_state* state) {
  if (state->action == ACTION_CHANGE_PARAGRAPH)
    return ChangeParagraphAtStart(signature, state);
  return NOERROR;
}
