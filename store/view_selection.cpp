/*
 * The documents of a view or of a selection formula (see
 * store/view_selection.h).
 */
#include "store/view_selection.h"

#include "host/nif.h"
#include "store/session.h"
#include "store/tracked_memory.h"

STATUS ViewSelection(LSXLsiSession* /*session*/, DBHANDLE /*db*/, const char* /*selection*/,
                     const char* /*key*/, DHANDLE* retTable, int /*listFlag*/) {
  if (retTable != nullptr)
    *retTable = NULLHANDLE;
  return 1028;
}

STATUS AddIDUnique(void* /*parameter*/, SEARCH_MATCH* /*match*/, ITEM_TABLE* /*summary*/) {
  return 1028;
}

const NOTEID* SortedIdList(LSXLsiSession* session) { return session->internal->sorted_IdList; }

WORD SortedIdListCount(LSXLsiSession* session) { return session->internal->sorted_IdList_count; }

void FreeSortedIdList(LSXLsiSession* session) {
  _internal_SESS* state = session->internal;
  if (state->sorted_IdList != nullptr)
    VelkoDeallocatePtr(session, state->sorted_IdList);
  state->sorted_IdList = nullptr;
  state->sorted_IdList_count = 0;
}

DHANDLE CachedViewCollection(LSXLsiSession* session) {
  return session->internal->cached_collection;
}

void CloseCachedViewCollection(LSXLsiSession* session) {
  _internal_SESS* state = session->internal;
  if (state->cached_collection != NULLHANDLE)
    static_cast<void>(NIFCloseCollection(state->cached_collection));
  state->cached_collection = NULLHANDLE;
  state->cached_collection_db = NULLHANDLE;
  state->cached_collection_view[0] = '\0';
}
