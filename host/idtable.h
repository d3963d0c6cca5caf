/*
 * ID tables: ordered sets of note IDs held in one memory block.
 *
 * The table's handle is a memory handle: the caller frees it with
 * OSMemFree. Entries are kept in ascending order without duplicates;
 * IDScan walks them in that order. The block grows as entries are added,
 * so it is never locked by callers while the table is in use.
 */
#ifndef VELKO_HOST_IDTABLE_H
#define VELKO_HOST_IDTABLE_H

#include "host/nsfdata.h"
#include "velko/host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A new empty table. The alignment is accepted and not used. */
STATUS IDCreateTable(DWORD alignment, DHANDLE* retTable);

/* Adds the ID; *retInserted (may be null) is FALSE when it was there. */
STATUS IDInsert(DHANDLE table, NOTEID id, BOOL* retInserted);

/* The first entry (first TRUE) or the one after the last scanned; FALSE at
 * the end, for an empty table and for a handle that is not a table. */
BOOL IDScan(DHANDLE table, BOOL first, NOTEID* retID);

/* The number of entries; 0 for a handle that is not a table. */
DWORD IDEntries(DHANDLE table);

#ifdef __cplusplus
}
#endif

#endif
