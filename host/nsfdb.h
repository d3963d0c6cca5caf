/*
 * Databases of the host: create, open, close, their paths, replica
 * information, note information, originator IDs, network paths and
 * database objects (the storage behind file attachments).
 *
 * Each database is one SQLite database: a file under the data directory
 * (a relative path is taken relative to it), or an in-memory database for a
 * path of the form "mem:NAME", shared by every open of that name until the
 * test controls reset the host.
 */
#ifndef VELKO_HOST_NSFDB_H
#define VELKO_HOST_NSFDB_H

#include "host/nsfdata.h"
#include "velko/host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Database classes for NSFDbCreate. */
#define DBCLASS_NOTEFILE 0xFF00

/* Creates an empty database (replica ID and title fresh; no notes); the
 * class is not used. An existing database is ERR_HOST_DB_EXISTS unless
 * force is set, which replaces it; a database that is open (a handle or a
 * note of it) cannot be replaced: ERR_HOST_DB_IN_USE. */
STATUS NSFDbCreate(const char* pathName, WORD dbClass, BOOL forceCreation);

/* Opens a database by path: a local path, "mem:NAME", or "server!!path"
 * with the local server (an empty server name, or the setting
 * "ServerName"). ERR_HOST_DB_NOT_FOUND when there is none,
 * ERR_HOST_STORAGE for a file that cannot be used as a database of ours
 * (NSFDbStorageFailure says why), ERR_HOST_BAD_ARGUMENT for a path
 * (expanded) of MAXPATH bytes or more. A closed database handle leaves the
 * notes opened through it usable. */
STATUS NSFDbOpen(const char* pathName, DBHANDLE* retHandle);
STATUS NSFDbClose(DBHANDLE handle);

/* The stand-in's own call, which the platform does not have: why the last
 * call of this thread that failed with ERR_HOST_STORAGE failed, in words
 * that follow "the file": "is not a database", "is damaged", "is locked by
 * another connection", "is a directory", "cannot be read (Permission
 * denied)", "cannot be written (the disk is full)", from SQLite's result
 * code and the system error behind it. The text is copied into retText
 * (size bytes, cut and terminated). Each thread keeps its own cause; every
 * NSFDbOpen and NSFDbCreate forgets the one before. FALSE, with an empty
 * text, when this thread met no storage failure since. */
BOOL NSFDbStorageFailure(char* retText, WORD size);

/* The path the database was opened with (canonical) and its full path
 * (expanded); each buffer holds at least MAXPATH bytes; either may be null. */
STATUS NSFDbPathGet(DBHANDLE handle, char* retCanonicalPathName, char* retExpandedPathName);

STATUS NSFDbReplicaInfoGet(DBHANDLE handle, DBREPLICAINFO* retReplicationInfo);

/* OID, last modification time and class of a stored note; any pointer may
 * be null. ERR_HOST_NOTE_NOT_FOUND for an unknown or deleted note ID. */
STATUS NSFDbGetNoteInfo(DBHANDLE handle, NOTEID noteID, ORIGINATORID* retNoteOID,
                        TIMEDATE* retModified, WORD* retNoteClass);

/* A fresh originator ID (new UNID, sequence 0) for a note of this database. */
STATUS NSFDbGenerateOID(DBHANDLE handle, ORIGINATORID* retOID);

/* Builds "server!!file" into retPathName (at least MAXPATH bytes). Only the
 * local server is served: an empty or null server gives the file path
 * alone; the name of the setting "ServerName" (any case) gives
 * "server!!file"; any other server gives ERR_HOST_SERVER_NOT_LOCAL. The
 * port is ignored. ERR_HOST_BUFFER_TOO_SMALL when the result would not fit. */
STATUS OSPathNetConstruct(const char* portName, const char* serverName, const char* fileName,
                          char* retPathName);

/* Database objects: blobs that items of class TYPE_OBJECT refer to. IDs
 * start at 1 and are never reused. An object keeps the size it was
 * allocated with (at most OSMEM_MAX_BLOCK_SIZE bytes, zero-filled); reads
 * and writes must fall inside it (ERR_HOST_BAD_ARGUMENT otherwise);
 * ERR_HOST_OBJECT_NOT_FOUND for an unknown ID. */
#define OBJECT_FILE 0x0000
#define OBJECT_FILTER_LEFTTODO 0x0003
#define OBJECT_ASSIST_RUNDATA 0x0008
#define OBJECT_UNKNOWN 0xFFFF

STATUS NSFDbAllocObject(DBHANDLE handle, DWORD size, WORD objectClass, WORD privileges,
                        DWORD* retObjectID);
/* Writes length bytes from the locked block of buffer at offset into the object. */
STATUS NSFDbWriteObject(DBHANDLE handle, DWORD objectID, DHANDLE buffer, DWORD offset,
                        DWORD length);
/* Reads length bytes (0xFFFFFFFF: to the end) at offset into a new memory
 * block that the caller frees with OSMemFree. */
STATUS NSFDbReadObject(DBHANDLE handle, DWORD objectID, DWORD offset, DWORD length,
                       DHANDLE* retBuffer);
STATUS NSFDbGetObjectSize(DBHANDLE handle, DWORD objectID, WORD objectType, DWORD* retSize,
                          WORD* retClass, WORD* retPrivileges);
STATUS NSFDbFreeObject(DBHANDLE handle, DWORD objectID);

#ifdef __cplusplus
}
#endif

#endif
