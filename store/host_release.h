/*
 * Releasing what the library took from the host: memory, notes and
 * databases. A release that fails (a handle the host no longer knows)
 * leaves the caller nothing to undo and nothing the operation could report
 * in place of its own result, so these return nothing. Not for opening or
 * writing: those statuses are always checked.
 */
#ifndef VELKO_STORE_HOST_RELEASE_H
#define VELKO_STORE_HOST_RELEASE_H

#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osmem.h"

inline void ReleaseHostMemory(DHANDLE handle) { static_cast<void>(OSMemFree(handle)); }

inline void ReleaseNoteHandle(NOTEHANDLE note) { static_cast<void>(NSFNoteClose(note)); }

inline void ReleaseDatabaseHandle(DBHANDLE db) { static_cast<void>(NSFDbClose(db)); }

#endif
