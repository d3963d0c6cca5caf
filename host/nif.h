/*
 * Design notes and collections.
 *
 * Design notes are found by class and by "$TITLE", whose value may hold
 * aliases separated by '|'; names compare without regard to case.
 *
 * A view is a design note of class NOTE_CLASS_VIEW: "$TITLE", "$FORMULA"
 * (the compiled selection, TYPE_FORMULA; without one every document is
 * selected) and two items of the stand-in's own: the sort key (TYPE_TEXT:
 * the name of the item whose first value is the key; TYPE_FORMULA: a
 * compiled formula whose result is the key) and the key flags
 * (TYPE_NUMBER). Its collection holds the selected documents (class
 * NOTE_CLASS_DOCUMENT) sorted by key, numbers before texts and numerically,
 * texts as IntlTextCompare orders them (accents count; case only with
 * VIEW_KEY_CASE_SENSITIVE), equal keys in note-ID order. A document
 * without a key sorts as "". A categorized view puts a category entry
 * before the documents of each key.
 *
 * The design collection (NOTE_ID_SPECIAL | NOTE_CLASS_DESIGN) holds
 * nothing: opening and updating it succeed.
 */
#ifndef VELKO_HOST_NIF_H
#define VELKO_HOST_NIF_H

#include "host/nsfdata.h"
#include "velko/host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef DHANDLE HCOLLECTION;

/* The stand-in's own view items and key flags. */
#define VIEW_SORT_KEY_ITEM "$VelkoSortKey"
#define VIEW_KEY_FLAGS_ITEM "$VelkoKeyFlags"
#define VIEW_KEY_DESCENDING 0x0001
#define VIEW_KEY_CATEGORIZED 0x0002
#define VIEW_KEY_CASE_SENSITIVE 0x0004

/* Category entries carry this bit and their number (from 1). */
#define NOTEID_CATEGORY 0x80000000u

/* A place in a collection. Views are flat: Tumbler[0] is the entry's
 * number from 1 (0: before the first), Level is 0. */
typedef struct {
  WORD Level;
  BYTE MinLevel;
  BYTE MaxLevel;
  DWORD Tumbler[32];
} COLLECTIONPOSITION;

/* The only navigator served: the next entry. */
#define NAVIGATE_NEXT 0x0001
/* The only return mask served: note IDs, 4 bytes each. */
#define READ_MASK_NOTEID 0x00000001u
/* Signal flag: entries asked for remain after this batch. */
#define SIGNAL_MORE_TO_DO 0x0020
/* The only find flags served: the key equals the name in any case. */
#define FIND_CASE_INSENSITIVE 0x0002
/* A return count that asks for every entry. */
#define MAXDWORD_ENTRIES 0xFFFFFFFFu
/* The most entries one batch returns (tests may lower it). */
#define READ_ENTRIES_LIMIT 16383u

/* The stored note whose class shares a bit with noteClass and whose first
 * "$TITLE" item (text or text list) holds the name, blanks around each
 * alias dropped, case ignored (accents count); the lowest note ID wins.
 * ERR_NOT_FOUND (0x404) when no note carries the name. */
STATUS NIFFindDesignNote(DBHANDLE db, const char* name, WORD noteClass, NOTEID* retNoteID);

/* Opens the view's collection over the documents of dataDb (NULLHANDLE:
 * viewDb), or the design collection. ERR_HOST_COLLECTION when viewNoteID
 * is not a stored view of viewDb; a selection or key formula that fails
 * to evaluate gives its status. The open flags are not used. */
STATUS NIFOpenCollection(DBHANDLE viewDb, DBHANDLE dataDb, NOTEID viewNoteID, WORD openFlags,
                         HCOLLECTION* retCollection);
/* Builds the entries again from the stored notes; positions held by
 * callers then count in the new entries. */
STATUS NIFUpdateCollection(HCOLLECTION collection);
STATUS NIFCloseCollection(HCOLLECTION collection);

/* The first document entry whose key equals the name (a number key: the
 * name read as a number), and how many entries from it on have that key
 * (category entries of another case among them). ERR_NOT_FOUND when none;
 * find flags other than FIND_CASE_INSENSITIVE are ERR_HOST_NOT_SUPPORTED. */
STATUS NIFFindByName(HCOLLECTION collection, const char* name, WORD findFlags,
                     COLLECTIONPOSITION* retIndexPos, DWORD* retNumMatches);

/* Moves skipCount entries on from *indexPos, then returns up to
 * returnCount entries (at most READ_ENTRIES_LIMIT) from there: their note
 * IDs in a new memory block (NULLHANDLE when none) that the caller frees.
 * *indexPos is left at the last entry returned. SIGNAL_MORE_TO_DO is set
 * when the batch stopped at its limit before returnCount with entries left
 * behind it. Only NAVIGATE_NEXT and READ_MASK_NOTEID are served
 * (ERR_HOST_NOT_SUPPORTED otherwise). Any out pointer may be null. */
STATUS NIFReadEntries(HCOLLECTION collection, COLLECTIONPOSITION* indexPos, WORD skipNavigator,
                      DWORD skipCount, WORD returnNavigator, DWORD returnCount, DWORD returnMask,
                      DHANDLE* retBuffer, WORD* retBufferLength, DWORD* retNumEntriesSkipped,
                      DWORD* retNumEntriesReturned, WORD* retSignalFlags);

#ifdef __cplusplus
}
#endif

#endif
