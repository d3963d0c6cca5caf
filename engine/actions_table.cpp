/*
 * Table actions on the records of a chunk: ChangeTable (2413) rewrites the
 * table's CDPRETABLEBEGIN and CDTABLEBEGIN records from a table property
 * string and sets or adds the row cycle time of an animated table.
 *
 * The cell-border action (2393, which no method issues) sets the border
 * widths of every cell of the chunk from a text of four characters.
 *
 * CellColor (2394) gives every cell of the chunk the session's cell
 * colour: a palette colour as the cell's background index, an RGB colour
 * as one colour record among each cell's records. AppendRow (2355) copies
 * the row the session found before the end of the table at the wanted
 * depth, or at the chunk's edge; the copy itself is the chunk layer's
 * AppendChunk.
 *
 * The HTML identity texts (2422) are engine/actions_html_value.cpp, the
 * field modification (2416) engine/actions_field_modify.cpp and the
 * target attributes (2437) engine/actions_target_properties.cpp.
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
/* The byte of a CDPRETABLEBEGIN that counts the table's rows. */
constexpr DWORD kPreTableRowCount = 8;
/* The flag of a cell whose background index is used. */
constexpr BYTE kCellBackgroundColored = 0x01;

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

/* ---- cell colour ---- */

/* The colour record of a cell, carrying the RGB value. */
STATUS EmitCellColor(DWORD rgb, chunk_process_state* state) {
  StateItem(state)->Modified = 1;
  return GenerateCDColorValue(static_cast<BYTE>(SIG_CD_CELLCOLOR), rgb, 0, &state->gen);
}

/* An RGB colour goes into colour records; a palette colour is the cells'
 * background index alone. */
bool ColorsByRecord(const _internal_SESS* session) {
  return session->cell_color_rgb != 0 && session->cell_color_index == 0;
}

/* The bit of a table depth in the state's mask of open cells that have
 * their colour record (depths past 31 share the last bit). Bit 0 tells
 * that a cell of the chunk was met. */
DWORD LevelBit(int32_t depth) { return 1u << (depth < 1 ? 1 : depth > 31 ? 31 : depth); }
constexpr DWORD kCellMet = 1;

/* A cell: the colour record of the cell before it at its depth, unless
 * that cell had its own record rewritten or the chunk opens here or at the
 * table's first cell; then the background index and its flag. */
STATUS ColorCell(const char* record, DWORD length, chunk_record_output* output,
                 chunk_process_state* state) {
  const _internal_SESS* session = state->session->internal;
  if (length < sizeof(CDTABLECELL))
    return NOERROR;
  CDTABLECELL cell;
  memcpy(&cell, record, sizeof cell);
  const DWORD level = LevelBit(state->depth_table);
  if (state->chunk_opened_here == 0 && ColorsByRecord(session) &&
      (state->colored_cells & level) == 0 && (cell.Row != 0 || cell.Column != 0)) {
    if (STATUS status = EmitCellColor(session->cell_color_rgb, state); status != NOERROR)
      return status;
  }
  state->colored_cells = (state->colored_cells & ~level) | kCellMet;
  BYTE* data = CopyRecordIntoBlock(record, length, length, output, state);
  if (data == nullptr)
    return VELKO_ERR_MEMORY;
  cell.BackgroundColor = session->cell_color_index;
  cell.Flags |= kCellBackgroundColored;
  memcpy(data, &cell, sizeof cell);
  output->data = reinterpret_cast<const char*>(data);
  if (!ColorsByRecord(session))
    state->colored_cells |= level;
  StateItem(state)->Modified = 1;
  return NOERROR;
}

/* A cell's colour record takes the RGB colour, or goes with a palette
 * colour. */
STATUS ColorRecord(const char* record, DWORD length, chunk_record_output* output,
                   chunk_process_state* state) {
  const _internal_SESS* session = state->session->internal;
  state->colored_cells |= LevelBit(state->depth_table);
  StateItem(state)->Modified = 1;
  if (!ColorsByRecord(session) || length < sizeof(CDCOLOR)) {
    output->length = 0;
    return NOERROR;
  }
  BYTE* data = CopyRecordIntoBlock(record, length, length, output, state);
  if (data == nullptr)
    return VELKO_ERR_MEMORY;
  CDCOLOR color;
  memcpy(&color, data, sizeof color);
  color.Color.Red = static_cast<BYTE>(session->cell_color_rgb & 0xFF);
  color.Color.Green = static_cast<BYTE>(session->cell_color_rgb >> 8 & 0xFF);
  color.Color.Blue = static_cast<BYTE>(session->cell_color_rgb >> 16 & 0xFF);
  color.Color.Reserved = 0;
  memcpy(data, &color, sizeof color);
  output->data = reinterpret_cast<const char*>(data);
  return NOERROR;
}

STATUS SetCellColor(const char* record, WORD signature, DWORD length, chunk_record_output* output,
                    chunk_process_state* state) {
  if (IsTableCell(signature))
    return ColorCell(record, length, output, state);
  if (signature == SIG_CD_CELLCOLOR)
    return ColorRecord(record, length, output, state);
  // The last cell's colour record stands before the table's end (the
  // walk has left the table already).
  if (!IsTableEnd(signature))
    return NOERROR;
  const DWORD level = LevelBit(state->depth_table + 1);
  const bool missing = (state->colored_cells & level) == 0;
  state->colored_cells |= level;
  if (state->chunk_opened_here != 0 || !ColorsByRecord(state->session->internal) || !missing)
    return NOERROR;
  return EmitCellColor(state->session->internal->cell_color_rgb, state);
}

/* Where the chunk closes: the colour record of the chunk's last cell when
 * it has none yet. */
STATUS CellColorAtStop(WORD signature, chunk_process_state* state) {
  const _internal_SESS* session = state->session->internal;
  if ((state->colored_cells & kCellMet) == 0 || !ColorsByRecord(session))
    return NOERROR;
  const DWORD level =
      LevelBit(IsTableEnd(signature) ? state->depth_table + 1 : state->depth_table);
  if ((state->colored_cells & level) != 0)
    return NOERROR;
  state->colored_cells |= level;
  return EmitCellColor(session->cell_color_rgb, state);
}

/* ---- row appends ---- */

/* The row the session found, copied into the output by the chunk layer;
 * the walk's place is kept across the copy. */
STATUS CopyFoundRow(chunk_process_state* state) {
  const _internal_SESS* session = state->session->internal;
  record_storage* current = state->current_record;
  const DWORD number = state->record_counter;
  state->append_target_first = session->found_first;
  state->append_target_last = session->found_second;
  const STATUS status = AppendChunk(state->chunk, state, 0);
  state->current_record = current;
  state->record_counter = number;
  if (status == NOERROR)
    StateItem(state)->Modified = 1;
  return status;
}

bool AppendsAfter(const chunk_process_state* state) {
  return state->chunk != nullptr && state->chunk->append_position != 0;
}

/* The walk's table depth past the end of the table that takes the row. A
 * Table chunk's wanted depth lies outside its table; a Row chunk's lies
 * inside it, where the end of a table nested in the row also leaves the
 * walk, so the row's own table ends one level further out. */
int32_t DepthPastRowTable(const chunk_process_state* state) {
  const bool row = state->chunk != nullptr && state->chunk->target_type == TARGETTYPE_ROW;
  return row ? state->wanted_depth - 1 : state->wanted_depth;
}

/* Inside the chunk, appending after it: the table that takes the row
 * announces one row more (the walk has counted the table a
 * CDPRETABLEBEGIN announces), and its end takes the row before it. Tables
 * nested in it keep their count and their rows. */
STATUS AppendRow(const char* record, WORD signature, DWORD length, chunk_record_output* output,
                 chunk_process_state* state) {
  if (!AppendsAfter(state))
    return NOERROR;
  const int32_t pastRowTable = DepthPastRowTable(state);
  if (signature == SIG_CD_PRETABLEBEGIN) {
    if (state->depth_table != pastRowTable + 1)
      return NOERROR;
    if (length <= kPreTableRowCount)
      return NOERROR;
    BYTE* data = CopyRecordIntoBlock(record, length, length, output, state);
    if (data == nullptr)
      return VELKO_ERR_MEMORY;
    ++data[kPreTableRowCount];
    output->data = reinterpret_cast<const char*>(data);
    StateItem(state)->Modified = 1;
    return NOERROR;
  }
  if (IsTableEnd(signature) && state->depth_table == pastRowTable) {
    state->table_done = 1;
    return CopyFoundRow(state);
  }
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
  if (state->action == ACTION_SET_CELL_COLOR)
    return SetCellColor(record, signature, length, output, state);
  if (state->action == ACTION_APPEND_ROW)
    return AppendRow(record, signature, length, output, state);
  if (state->action == ACTION_SET_HTML_VALUE)
    return SetHtmlValue(record, signature, length, output, state);
  if (state->action == ACTION_MODIFY_FIELD)
    return ModifyField(signature, output, state);
  if (state->action == ACTION_SET_TARGET_PROPERTIES)
    return SetTargetProperties(record, signature, length, output, state);
  return kServiceNotAvailable;
}

bool HasTableEdgeWork(WORD action) {
  return action == ACTION_APPEND_ROW || action == ACTION_SET_CELL_COLOR ||
         action == ACTION_SET_HTML_VALUE;
}

STATUS TableWorkAtChunkStart(WORD signature, chunk_process_state* state) {
  state->table_done = 0;
  if (state->action == ACTION_SET_HTML_VALUE)
    return HtmlValueAtChunkStart(signature, state);
  if (state->action != ACTION_APPEND_ROW)
    return NOERROR;
  // A Table chunk opens with its table counted: its rows lie one level
  // below the walk's depth there.
  state->wanted_depth = state->depth_table;
  if (state->chunk != nullptr && state->chunk->target_type == TARGETTYPE_TABLE &&
      state->wanted_depth > 0)
    --state->wanted_depth;
  if (AppendsAfter(state) || state->wanted_depth != state->depth_table)
    return NOERROR;
  return CopyFoundRow(state);
}

STATUS TableWorkAtChunkStop(WORD signature, chunk_process_state* state) {
  if (state->action == ACTION_SET_HTML_VALUE)
    return HtmlValueAtChunkStop(state);
  if (state->action == ACTION_SET_CELL_COLOR)
    return CellColorAtStop(signature, state);
  if (state->table_done != 0 || state->action != ACTION_APPEND_ROW || !AppendsAfter(state))
    return NOERROR;
  // A table end has left its table already.
  const int32_t depth = IsTableEnd(signature) ? state->depth_table + 1 : state->depth_table;
  if (state->wanted_depth != depth)
    return NOERROR;
  state->table_done = 1;
  return CopyFoundRow(state);
}

bool HasParagraphTableEdgeWork(WORD action) { return action == ACTION_CHANGE_PARAGRAPH; }

STATUS ParagraphTableWorkAtStart(WORD signature, chunk_process_state* state) {
  if (state->action == ACTION_CHANGE_PARAGRAPH)
    return ChangeParagraphAtStart(signature, state);
  return NOERROR;
}
