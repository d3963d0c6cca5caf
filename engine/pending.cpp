/*
 * Engine actions whose cases and chunk-edge work are not built yet: the
 * list of their action codes, which the driver refuses before the walk,
 * and the seams themselves. Each seam reports that it is not available
 * (1028) and changes nothing, so that an operation that needs one fails
 * clearly instead of passing its records through as if it had done its
 * work.
 */
#include "engine/services.h"

#include "store/vocabulary.h"

namespace {

/* The action codes whose case, or whose work where the chunk opens or
 * closes, is one of the seams below, grouped by seam. A code leaves this
 * list when its work is built. */
// clang-format off
constexpr WORD kPendingActions[] = {
    /* ProcessPropertySetAction: property settings and sort keys */
    ACTION_SET_HIDE_FORMULA, ACTION_GET_CELL_COLOR,
    ACTION_SET_PASSTHRU_HTML, ACTION_SET_GRAPHIC_STORAGE,
    /* codes with no operation behind them: refused for good */
    ACTION_RESERVED_5, ACTION_RESERVED_6, ACTION_RESERVED_19, ACTION_RESERVED_30,
    ACTION_RESERVED_32, ACTION_RESERVED_34, ACTION_RESERVED_35, ACTION_RESERVED_40,
    ACTION_RESERVED_55, ACTION_RESERVED_56, ACTION_RESERVED_61, ACTION_RESERVED_62,
    ACTION_RESERVED_63, ACTION_RESERVED_64, ACTION_RESERVED_65, ACTION_RESERVED_70,
    /* EdgeWorkAtChunkStart and EdgeWorkAtChunkStop only */
    ACTION_CLEAR_RECORD_MARK, ACTION_WRAP_IN_SECTION,
    /* ProcessLinkPropertyAction */
    ACTION_SET_LINK,
    /* ProcessTextRunAction */
    ACTION_CHANGE_FONT, ACTION_FONT_IN_USE, ACTION_HIGHLIGHT, ACTION_HIGHLIGHT_TEXT,
    /* ProcessParagraphAction */
    ACTION_CHANGE_PARAGRAPH, ACTION_MERGE_CELLS, ACTION_UNDO_MERGE_CELLS,
    /* ProcessRemovalAction */
    ACTION_REMOVE, ACTION_EXPORT_GRAPHIC, ACTION_REMOVE_HOTSPOTS, ACTION_REMOVE_LINKS,
    ACTION_REMOVE_SECTIONS, ACTION_SORT_BY_ROW, ACTION_DROP_CHUNK, ACTION_SET_IMAGE_HOTSPOT,
    ACTION_CONVERT_BITMAPS,
    /* ProcessSearchAction */
    ACTION_LINK_OCCURRENCES, ACTION_REPLACE_TEXT_QUICK, ACTION_FIND_TEXT,
    ACTION_REPLACE_TEXT_SAME_LENGTH, ACTION_REMOVE_FIELDS,
    /* ProcessLinkMatchingAction */
    ACTION_LINK_MATCHING, ACTION_WIKI_MATCHING,
    /* ProcessTableAction */
    ACTION_APPEND_ROW, ACTION_WRAP_IN_LINK, ACTION_WRAP_IN_LINK_ALT, ACTION_SET_CELL_BORDERS,
    ACTION_SET_CELL_COLOR, ACTION_CHANGE_TABLE, ACTION_MODIFY_FIELD, ACTION_SET_HTML_VALUE,
    ACTION_SET_TARGET_PROPERTIES,
    /* AppendAtChunkStart and AppendAtChunkStop */
    ACTION_APPEND_ANCHOR, ACTION_APPEND_IMPORT_FILE, ACTION_APPEND_LINK, ACTION_APPEND_NEW_LINES,
    ACTION_APPEND_RTCHUNK, ACTION_APPEND_RTITEM, ACTION_APPEND_SUBFORM_BODY, ACTION_APPEND_TABLE,
    ACTION_APPEND_TABS, ACTION_APPEND_TEXT, ACTION_APPEND_PAGE_BREAK, ACTION_APPEND_FIELD,
    ACTION_APPEND_PARAGRAPH, ACTION_APPEND_HOTSPOT, ACTION_APPEND_RESOURCE, ACTION_APPEND_GRAPHIC,
    ACTION_APPEND_LAYER, ACTION_APPEND_TABLE_ALT, ACTION_APPEND_HTML, ACTION_APPEND_FORM_BODY,
    ACTION_APPEND_PAGE_BODY, ACTION_APPEND_FILE_ATTACHMENT,
};
// clang-format on

} // namespace

bool ActionIsPending(WORD action) {
  for (WORD pending : kPendingActions) {
    if (action == pending)
      return true;
  }
  return false;
}

STATUS ProcessTextStream(const char*, WORD, DWORD, chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS ProcessLinkPropertyAction(const char*, WORD, DWORD, chunk_record_output*,
                                 chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS ProcessTextRunAction(const char*, WORD, DWORD, chunk_record_output*, chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS ProcessParagraphAction(const char*, WORD, DWORD, chunk_record_output*,
                              chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS ProcessRemovalAction(const char*, WORD, DWORD, chunk_record_output*, chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS ProcessSearchAction(const char*, WORD, DWORD, chunk_record_output*, chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS ProcessLinkMatchingAction(const char*, WORD, DWORD, chunk_record_output*,
                                 chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS ProcessTableAction(const char*, WORD, DWORD, chunk_record_output*, chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS AppendAtChunkStart(const char*, WORD, DWORD, chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS AppendAtChunkStop(const char*, WORD, DWORD, chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS EdgeWorkAtChunkStart(const char*, WORD, DWORD, chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS EdgeWorkAtChunkStop(const char*, WORD, DWORD, chunk_process_state*) {
  return kServiceNotAvailable;
}
