/*
 * Host databases: create, open and close them, their paths and replica
 * information, information about stored notes, originator IDs, network
 * paths, note deletion, and why a database could not be used.
 *
 * Only the local server is served. Database objects and attachments are in
 * attach.cpp, notes and items in nsfnote.cpp. The calls that allocate run
 * under GuardedStatus (host_internal.h): short memory is ERR_MEMORY.
 */
#include "host/nsfdb.h"

#include <string>

#include "host/host_internal.h"
#include "host/nsfnote.h"
#include "host/osenv.h"
#include "host/status.h"
#include "host/storage.h"
#include "host/timedate.h"

using namespace velko::host;

namespace {

STATUS CreateDatabase(const char* pathName, BOOL forceCreation) {
  const auto lock = LockHost();
  StorePath path;
  if (const STATUS status = ResolveStorePath(pathName, &path); status != NOERROR)
    return status;
  return CreateStore(path, forceCreation != FALSE);
}

STATUS OpenDatabaseByPath(const char* pathName, DBHANDLE* retHandle) {
  if (retHandle == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  *retHandle = NULLHANDLE;
  const auto lock = LockHost();
  auto database = std::make_unique<OpenDatabase>();
  if (const STATUS status = ResolveStorePath(pathName, &database->path); status != NOERROR)
    return status;
  if (const STATUS status = OpenStore(database->path, &database->store); status != NOERROR)
    return status;
  const DBHANDLE handle = Databases().Add(std::move(database));
  if (handle == NULLHANDLE)
    return ERR_MEMORY;
  *retHandle = handle;
  return NOERROR;
}

STATUS ConstructNetPath(const char* serverName, const char* fileName, char* retPathName) {
  const std::string server = serverName == nullptr ? "" : serverName;
  if (!IsLocalServer(server))
    return ERR_HOST_SERVER_NOT_LOCAL;
  const std::string path = server.empty() ? fileName : server + "!!" + fileName;
  if (path.size() >= MAXPATH)
    return ERR_HOST_BUFFER_TOO_SMALL;
  CopyTerminated(path, retPathName, MAXPATH);
  return NOERROR;
}

} // namespace

extern "C" STATUS NSFDbCreate(const char* pathName, WORD /*dbClass*/, BOOL forceCreation) {
  return GuardedStatus([&] { return CreateDatabase(pathName, forceCreation); });
}

extern "C" STATUS NSFDbOpen(const char* pathName, DBHANDLE* retHandle) {
  return GuardedStatus([&] { return OpenDatabaseByPath(pathName, retHandle); });
}

extern "C" STATUS NSFDbClose(DBHANDLE handle) {
  const auto lock = LockHost();
  // Working copies keep their own reference to the storage.
  return Databases().Remove(handle) ? NOERROR : ERR_HOST_BAD_HANDLE;
}

extern "C" STATUS NSFDbPathGet(DBHANDLE handle, char* retCanonicalPathName,
                               char* retExpandedPathName) {
  const auto lock = LockHost();
  const OpenDatabase* database = FindDatabase(handle);
  if (database == nullptr)
    return ERR_HOST_BAD_HANDLE;
  // Both paths were checked to be shorter than MAXPATH when opened.
  CopyTerminated(database->path.canonical, retCanonicalPathName, MAXPATH);
  CopyTerminated(database->path.expanded, retExpandedPathName, MAXPATH);
  return NOERROR;
}

extern "C" STATUS NSFDbReplicaInfoGet(DBHANDLE handle, DBREPLICAINFO* retReplicationInfo) {
  if (retReplicationInfo == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  const auto lock = LockHost();
  const OpenDatabase* database = FindDatabase(handle);
  if (database == nullptr)
    return ERR_HOST_BAD_HANDLE;
  Statement query(database->store->db(), "SELECT replica_id FROM database WHERE id = 1");
  if (query.Step() != SQLITE_ROW)
    return ERR_HOST_STORAGE;
  *retReplicationInfo = DBREPLICAINFO{};
  retReplicationInfo->ID = UnpackTimeDate(query.Int(0));
  return NOERROR;
}

extern "C" STATUS NSFDbGetNoteInfo(DBHANDLE handle, NOTEID noteID, ORIGINATORID* retNoteOID,
                                   TIMEDATE* retModified, WORD* retNoteClass) {
  const auto lock = LockHost();
  const OpenDatabase* database = FindDatabase(handle);
  if (database == nullptr)
    return ERR_HOST_BAD_HANDLE;
  NoteRow row;
  if (const STATUS status = ReadNoteRow(database->store->db(), noteID, &row); status != NOERROR)
    return status;
  if (retNoteOID != nullptr)
    *retNoteOID = row.oid;
  if (retModified != nullptr)
    *retModified = row.modified;
  if (retNoteClass != nullptr)
    *retNoteClass = row.noteClass;
  return NOERROR;
}

extern "C" STATUS NSFDbGenerateOID(DBHANDLE handle, ORIGINATORID* retOID) {
  if (retOID == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  const auto lock = LockHost();
  if (FindDatabase(handle) == nullptr)
    return ERR_HOST_BAD_HANDLE;
  // The file part is random, so notes made under a fixed test clock still
  // differ; no word of the UNID is ever 0.
  TIMEDATE now;
  OSCurrentTIMEDATE(&now);
  if (now.Innards[0] == 0)
    now.Innards[0] = 1;
  if (now.Innards[1] == 0)
    now.Innards[1] = 1;
  *retOID = ORIGINATORID{};
  retOID->File[0] = RandomNonZero();
  retOID->File[1] = RandomNonZero();
  retOID->Note = now;
  retOID->Sequence = 0;
  retOID->SequenceTime = now;
  return NOERROR;
}

extern "C" STATUS OSPathNetConstruct(const char* /*portName*/, const char* serverName,
                                     const char* fileName, char* retPathName) {
  if (fileName == nullptr || retPathName == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  retPathName[0] = 0;
  return GuardedStatus([&] { return ConstructNetPath(serverName, fileName, retPathName); });
}

extern "C" STATUS NSFNoteDelete(DBHANDLE handle, NOTEID noteID, WORD /*updateFlags*/) {
  const auto lock = LockHost();
  const OpenDatabase* database = FindDatabase(handle);
  if (database == nullptr)
    return ERR_HOST_BAD_HANDLE;
  sqlite3* db = database->store->db();
  Transaction transaction(db);
  if (!transaction.ok())
    return ERR_HOST_STORAGE;
  // The items go with the note (ON DELETE CASCADE). The note ID counter is
  // left alone, so the ID is never handed out again.
  database->store->CountNoteWrite(noteID);
  Statement remove(db, "DELETE FROM notes WHERE note_id = ?");
  remove.Bind(1, noteID);
  if (const int result = remove.RunWrite(); result != SQLITE_DONE)
    return StorageStatus(result);
  if (sqlite3_changes(db) == 0)
    return ERR_HOST_NOTE_NOT_FOUND;
  return transaction.Commit() ? NOERROR : ERR_HOST_STORAGE;
}

extern "C" BOOL NSFDbStorageFailure(char* retText, WORD size) {
  // The cause is the calling thread's own: no lock is needed.
  return DescribeStorageFailure(retText, size) ? TRUE : FALSE;
}
