/*
 * Searching a database: every stored note of a class mask, in note-ID
 * order, handed to a callback with a flag telling whether the selection
 * formula matches it. Summary buffers are not provided (null).
 */
#ifndef VELKO_HOST_NSFSEARCH_H
#define VELKO_HOST_NSFSEARCH_H

#include "host/formula.h"
#include "host/nsfdata.h"
#include "velko/host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Return flags of a search match. */
#define SE_FMATCH 0x01 /* the note matches the selection formula */

/* One note met by the search. */
typedef struct {
  NOTEID NoteID;
  ORIGINATORID OriginatorID;
  WORD NoteClass;
  BYTE SERetFlags;
} SEARCH_MATCH;

/* The summary buffer handed to a search callback (always null here). */
typedef struct ITEM_TABLE ITEM_TABLE;

typedef STATUS (*NSFSEARCHPROC)(void* parameter, SEARCH_MATCH* match, ITEM_TABLE* summary);

/* Walks the notes of the database whose class shares a bit with
 * noteClassMask, in ascending note-ID order, calling the callback for each
 * with SE_FMATCH set when the compiled formula (a memory handle from
 * NSFFormulaCompile; NULLHANDLE: every note) selects it. The view title,
 * search flags and since time are not used; *retUntil (may be null) gets
 * the time of the search. A non-zero callback status ends the walk and is
 * returned; so is a failing evaluation. */
STATUS NSFSearch(DBHANDLE db, FORMULAHANDLE formula, const char* viewTitle, WORD searchFlags,
                 WORD noteClassMask, const TIMEDATE* since, NSFSEARCHPROC callback,
                 void* parameter, TIMEDATE* retUntil);

#ifdef __cplusplus
}
#endif

#endif
