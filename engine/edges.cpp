/*
 * The chunk's two edges. ProcessStartChunk runs once where a chunk opens,
 * before that record is handled: it marks the chunk opened here, copies the
 * records a writing walk passed over up to this record, and runs the
 * action's work at the start. ProcessStopChunk runs once where the chunk
 * closes, after its last record, with the action's work at the stop.
 *
 * The work of each action at the edges lives with the action: appends and
 * imports, and the wrapping, once-only, property and sort work. An action
 * whose edge work emitted records marks the item modified here.
 */
#include "engine/edges_wrap.h"
#include "engine/paragraph_table.h"
#include "engine/property_set_actions.h"
#include "engine/services.h"
#include "engine/walk.h"
#include "store/rtitem_internal.h"
#include "store/vocabulary.h"

namespace {

/* Actions that insert records before or after the chunk. */
bool HasAppendWork(WORD action) {
  if (action >= ACTION_APPEND_ANCHOR && action <= ACTION_APPEND_TEXT)
    return true;
  switch (action) {
  case ACTION_APPEND_PAGE_BREAK:
  case ACTION_APPEND_FIELD:
  case ACTION_APPEND_PARAGRAPH:
  case ACTION_APPEND_HOTSPOT:
  case ACTION_APPEND_RESOURCE:
  case ACTION_APPEND_GRAPHIC:
  case ACTION_APPEND_LAYER:
  case ACTION_APPEND_TABLE_ALT:
  case ACTION_APPEND_HTML:
  case ACTION_APPEND_FORM_BODY:
  case ACTION_APPEND_PAGE_BODY:
  case ACTION_APPEND_FILE_ATTACHMENT:
    return true;
  default:
    return false;
  }
}

/* Actions with wrapping, property or sort work where the chunk opens. */
bool HasStartWork(WORD action) {
  switch (action) {
  case ACTION_COLLECT_SORT_KEY:
  case ACTION_SET_HIDE_FORMULA:
  case ACTION_SET_ROW_LABEL:
  case ACTION_GET_PASSTHRU_HTML:
  case ACTION_SET_PASSTHRU_HTML:
  case ACTION_CLEAR_RECORD_MARK:
  case PROP_RECORDTYPE:
  case ACTION_CHANGE_PARAGRAPH:
  case ACTION_WRAP_IN_LINK:
  case ACTION_WRAP_IN_LINK_ALT:
  case ACTION_SET_CELL_COLOR:
  case ACTION_SORT_BY_ROW:
  case ACTION_WRAP_IN_SECTION:
  case ACTION_SET_HTML_VALUE:
  case ACTION_CELL_IS_MERGED:
  case PROP_TARGETCOLUMN:
  case PROP_TARGETROW:
  case PROP_INSIDEHOTSPOT:
    return true;
  default:
    return false;
  }
}

/* Actions with wrapping, once-only or property work where the chunk
 * closes (the rendering action renders there, engine/actions_render.cpp). */
bool HasStopWork(WORD action) {
  switch (action) {
  case ACTION_COLLECT_SORT_KEY:
  case ACTION_GET_MARGINS:
  case ACTION_SET_ROW_LABEL:
  case ACTION_SET_PASSTHRU_HTML:
  case ACTION_REMOVE:
  case ACTION_WRAP_IN_LINK:
  case ACTION_WRAP_IN_LINK_ALT:
  case ACTION_SET_CELL_COLOR:
  case ACTION_WRAP_IN_SECTION:
  case ACTION_SET_HTML_VALUE:
  case ACTION_SET_TARGET_PROPERTIES:
  case ACTION_SET_IMAGE_HOTSPOT:
    return true;
  default:
    return false;
  }
}

/* The last record of the output body, to tell whether edge work emitted. */
const record_storage* LastOutputRecord(const chunk_process_state* state) {
  const VelkoRTItem* item = StateItem(state);
  const body_context* output = item->internal != nullptr ? item->internal->output : nullptr;
  return output != nullptr ? output->last_written : nullptr;
}

void NoteEmitted(const record_storage* before, chunk_process_state* state) {
  if (LastOutputRecord(state) != before)
    StateItem(state)->Modified = 1;
}

} // namespace

STATUS ProcessStartChunk(const char* record, WORD signature, DWORD length,
                         chunk_process_state* state) {
  state->chunk_opened_here = 1;
  if (state->writes != 0 && state->pass_over_mark != 0 &&
      state->pass_over_mark < state->record_counter) {
    if (STATUS status = CopyPassedOverRecords(state, state->current_record, false);
        status != NOERROR)
      return status;
  }

  const record_storage* before = LastOutputRecord(state);
  STATUS status = NOERROR;
  if (state->action == ACTION_QUERY_RECORDS)
    status = QueryRecordPositionsAtStart(state);
  else if (IsPropertyEdgeQuery(state->action))
    status = PropertyQueryAtChunkStart(record, signature, length, state);
  else if (HasTableEdgeWork(state->action))
    status = TableWorkAtChunkStart(signature, state);
  else if (HasAppendWork(state->action))
    status = AppendAtChunkStart(record, signature, length, state);
  else if (HasParagraphTableEdgeWork(state->action))
    status = ParagraphTableWorkAtStart(signature, state);
  else if (state->action == ACTION_COLLECT_SORT_KEY)
    status = SortKeyAtChunkStart(state);
  else if (state->action == ACTION_SET_ROW_LABEL)
    status = RowLabelAtChunkStart(state);
  else if (HasPropertySetEdgeWork(state->action))
    status = PropertySetWorkAtStart(signature, state);
  else if (HasWrapWork(state->action))
    status = WrapWorkAtChunkStart(state);
  else if (HasStartWork(state->action))
    status = EdgeWorkAtChunkStart(record, signature, length, state);
  NoteEmitted(before, state);
  return status;
}

STATUS ProcessStopChunk(const char* record, WORD signature, DWORD length,
                        chunk_process_state* state) {
  const record_storage* before = LastOutputRecord(state);
  STATUS status = NOERROR;
  if (state->action == ACTION_RENDER)
    status = RenderChunkAtStop(state);
  else if (IsPropertyEdgeQuery(state->action))
    status = PropertyQueryAtChunkStop(state);
  else if (HasTableEdgeWork(state->action))
    status = TableWorkAtChunkStop(signature, state);
  else if (HasAppendWork(state->action))
    status = AppendAtChunkStop(record, signature, length, state);
  else if (state->action == ACTION_REMOVE || state->action == ACTION_REMOVE_HOTSPOTS ||
           state->action == ACTION_REMOVE_LINKS || state->action == ACTION_REMOVE_SECTIONS)
    status = RemovalWorkAtChunkStop(record, signature, length, state);
  else if (state->action == ACTION_COLLECT_SORT_KEY || state->action == ACTION_COLLECT_SORT_KEYS)
    status = SortKeysAtChunkStop(state);
  else if (state->action == ACTION_SET_ROW_LABEL)
    status = RowLabelAtChunkStop(state);
  else if (HasPropertySetEdgeWork(state->action))
    status = PropertySetWorkAtStop(state);
  else if (HasWrapWork(state->action))
    status = WrapWorkAtChunkStop(state);
  else if (state->action == ACTION_SET_TARGET_PROPERTIES)
    status = TargetPropertiesAtChunkStop(state);
  else if (HasStopWork(state->action))
    status = EdgeWorkAtChunkStop(record, signature, length, state);
  NoteEmitted(before, state);
  return status;
}
