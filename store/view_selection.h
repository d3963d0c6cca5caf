/*
 * The documents of a view or of a selection formula.
 *
 * ViewSelection hands out an ID table (host/idtable.h; the caller frees it
 * with OSMemFree) of the documents a selection text picks and, when asked,
 * the same note IDs in view order in the session's sorted list. The text
 * is a formula when it begins with "SELECT " in any case and holds '@' or
 * '='; any other text names a view.
 *
 * The session keeps the last view collection it opened, with the database
 * and view name it was opened for; a keyed call for the same view reuses
 * it. The sorted list and the cached collection belong to the session, so
 * sessions on different threads never share them.
 */
#ifndef VELKO_STORE_VIEW_SELECTION_H
#define VELKO_STORE_VIEW_SELECTION_H

#include "host/nsfsearch.h"
#include "velko/velko.h"

/* The most note IDs the sorted list holds. */
constexpr WORD kSortedIdListCapacity = 16350;

/* Lists the selected documents. With a key (not null, not empty), only the
 * view's documents whose key equals it in any case; a key that matches
 * nothing gives an empty table and 0. With listFlag non-zero, the sorted
 * list is emptied first and then holds the IDs in view order (a formula's
 * in ascending ID order), at most kSortedIdListCapacity. On failure no
 * table is handed out (*retTable is 0). */
STATUS ViewSelection(LSXLsiSession* session, DBHANDLE db, const char* selection, const char* key,
                     DHANDLE* retTable, int listFlag);

/* Search callback: inserts the matched note's ID into the ID table at
 * parameter (a DHANDLE*) when the match flag is set; else 0. */
STATUS AddIDUnique(void* parameter, SEARCH_MATCH* match, ITEM_TABLE* summary);

/* The sorted list of the last call that asked for it (null when none) and
 * its count. */
const NOTEID* SortedIdList(LSXLsiSession* session);
WORD SortedIdListCount(LSXLsiSession* session);
/* Frees the sorted list and sets its count to 0. */
void FreeSortedIdList(LSXLsiSession* session);

/* The collection ViewSelection keeps open (0 when none). */
DHANDLE CachedViewCollection(LSXLsiSession* session);
/* Closes the kept collection and forgets it; also done when the session
 * ends. Callers close it this way, never with NIFCloseCollection. */
void CloseCachedViewCollection(LSXLsiSession* session);

#endif
