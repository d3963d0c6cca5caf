/*
 * Design notes and collections.
 *
 * Design notes are found by class and by "$TITLE", whose value may hold
 * aliases separated by '|'; names compare without regard to case. Of the
 * collections only the design collection (NOTE_ID_SPECIAL |
 * NOTE_CLASS_DESIGN) is served so far: opening and updating it succeed.
 */
#ifndef VELKO_HOST_NIF_H
#define VELKO_HOST_NIF_H

#include "host/nsfdata.h"
#include "velko/host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef DHANDLE HCOLLECTION;

/* The stored note whose class shares a bit with noteClass and whose first
 * "$TITLE" item (text or text list) holds the name, blanks around each
 * alias dropped, case ignored (accents count); the lowest note ID wins.
 * ERR_NOT_FOUND (0x404) when no note carries the name. */
STATUS NIFFindDesignNote(DBHANDLE db, const char* name, WORD noteClass, NOTEID* retNoteID);

/* ERR_HOST_COLLECTION for any view note ID but the design collection's. */
STATUS NIFOpenCollection(DBHANDLE viewDb, DBHANDLE dataDb, NOTEID viewNoteID, WORD openFlags,
                         HCOLLECTION* retCollection);
STATUS NIFUpdateCollection(HCOLLECTION collection);
STATUS NIFCloseCollection(HCOLLECTION collection);

#ifdef __cplusplus
}
#endif

#endif
