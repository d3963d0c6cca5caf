/*
 * Database objects (blobs in the objects table) and file attachments on
 * top of them: a "$FILE" item whose value is TYPE_OBJECT, a FILEOBJECT
 * and the file name, naming the object that holds the file's bytes.
 *
 * Files are stored as they are (no compression, whatever encoding is
 * asked for). An attached file's object is written at once; it stays in
 * the database even when the note is closed without being updated. An OLE
 * object is a database object named by an "$OLEOBJINFO" item (one
 * CDOLEOBJ_INFO record and its texts). The calls that allocate run under
 * GuardedStatus (host_internal.h): short memory is ERR_MEMORY.
 */
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "host/cdrecords.h"
#include "host/host_internal.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osmem.h"
#include "host/status.h"
#include "host/storage.h"
#include "host/timedate.h"

using namespace velko::host;

namespace {

constexpr WORD kFileItemFlags = ITEM_SIGN | ITEM_SEAL | ITEM_SUMMARY;

struct ObjectInfo {
  DWORD size = 0;
  WORD objectClass = 0;
  WORD privileges = 0;
};

STATUS FindObject(sqlite3* db, DWORD objectID, ObjectInfo* info) {
  Statement query(db, "SELECT size, class, privileges FROM objects WHERE object_id = ?");
  query.Bind(1, objectID);
  const int result = query.Step();
  if (result == SQLITE_DONE)
    return ERR_HOST_OBJECT_NOT_FOUND;
  if (result != SQLITE_ROW)
    return ERR_HOST_STORAGE;
  info->size = static_cast<DWORD>(query.Int(0));
  info->objectClass = static_cast<WORD>(query.Int(1));
  info->privileges = static_cast<WORD>(query.Int(2));
  return NOERROR;
}

// The SQLite database behind a database handle and an object in it:
// ERR_HOST_BAD_HANDLE for a handle that is not live, else FindObject's
// status. The caller holds the host lock.
STATUS FindHandleObject(DBHANDLE handle, DWORD objectID, sqlite3** retDb, ObjectInfo* info) {
  const OpenDatabase* database = FindDatabase(handle);
  if (database == nullptr)
    return ERR_HOST_BAD_HANDLE;
  *retDb = database->store->db();
  return FindObject(*retDb, objectID, info);
}

// Adds an object inside the caller's transaction: zero-filled when bytes
// is null, else holding size bytes of it.
STATUS InsertObject(sqlite3* db, DWORD size, WORD objectClass, WORD privileges, const char* bytes,
                    DWORD* retObjectID) {
  Statement next(db, "SELECT next_object_id FROM database WHERE id = 1");
  if (next.Step() != SQLITE_ROW)
    return ERR_HOST_STORAGE;
  const int64_t id = next.Int(0);
  if (id <= 0 || id > 0xFFFFFFFF)
    return ERR_HOST_STORAGE;
  Statement bump(db, "UPDATE database SET next_object_id = ? WHERE id = 1");
  bump.Bind(1, id + 1);
  if (const int result = bump.RunWrite(); result != SQLITE_DONE)
    return StorageStatus(result);
  Statement insert(db, "INSERT INTO objects (object_id, class, privileges, size, bytes) "
                       "VALUES (?, ?, ?, ?, ?)");
  insert.Bind(1, id).Bind(2, objectClass).Bind(3, privileges).Bind(4, size);
  if (bytes == nullptr)
    insert.BindZeroBlob(5, size);
  else
    insert.BindBlobInPlace(5, bytes, size); // the bytes outlive the statement
  if (const int result = insert.RunWrite(); result != SQLITE_DONE)
    return StorageStatus(result);
  *retObjectID = static_cast<DWORD>(id);
  return NOERROR;
}

STATUS AddObject(sqlite3* db, DWORD size, WORD objectClass, WORD privileges, const char* bytes,
                 DWORD* retObjectID) {
  if (size > OSMEM_MAX_BLOCK_SIZE)
    return ERR_HOST_BAD_ARGUMENT;
  Transaction transaction(db);
  if (!transaction.ok())
    return ERR_HOST_STORAGE;
  DWORD id = 0;
  if (const STATUS status = InsertObject(db, size, objectClass, privileges, bytes, &id);
      status != NOERROR)
    return status;
  if (!transaction.Commit())
    return ERR_HOST_STORAGE;
  *retObjectID = id;
  return NOERROR;
}

STATUS RemoveObject(sqlite3* db, DWORD objectID) {
  Transaction transaction(db);
  if (!transaction.ok())
    return ERR_HOST_STORAGE;
  Statement remove(db, "DELETE FROM objects WHERE object_id = ?");
  remove.Bind(1, objectID);
  if (const int result = remove.RunWrite(); result != SQLITE_DONE)
    return StorageStatus(result);
  if (sqlite3_changes(db) == 0)
    return ERR_HOST_OBJECT_NOT_FOUND;
  return transaction.Commit() ? NOERROR : ERR_HOST_STORAGE;
}

// Reads length bytes at offset of an object whose range was checked.
STATUS ReadObjectBytes(sqlite3* db, DWORD objectID, DWORD offset, DWORD length, void* out) {
  if (length == 0)
    return NOERROR;
  sqlite3_blob* blob = nullptr;
  if (sqlite3_blob_open(db, "main", "objects", "bytes", objectID, 0, &blob) != SQLITE_OK) {
    sqlite3_blob_close(blob);
    return ERR_HOST_STORAGE;
  }
  const int result =
      sqlite3_blob_read(blob, out, static_cast<int>(length), static_cast<int>(offset));
  sqlite3_blob_close(blob);
  return result == SQLITE_OK ? NOERROR : ERR_HOST_STORAGE;
}

bool InRange(DWORD offset, DWORD length, DWORD size) {
  return offset <= size && length <= size - offset;
}

// The last element of a path ('/' or '\' separated); an LMBCS name's
// characters of several bytes may hold those bytes.
std::string_view LastPathElement(std::string_view path) {
  size_t start = 0;
  for (size_t at = 0; at < path.size(); at += LmbcsCharLength(static_cast<BYTE>(path[at]))) {
    if (path[at] == '/' || path[at] == '\\')
      start = at + 1;
  }
  return path.substr(std::min(start, path.size()));
}

STATUS ReadWholeFile(const char* path, std::string* bytes, TIMEDATE* modified) {
  struct stat info;
  if (stat(path, &info) != 0 || !S_ISREG(info.st_mode))
    return ERR_HOST_FILE_IO;
  if (static_cast<uint64_t>(info.st_size) > OSMEM_MAX_BLOCK_SIZE)
    return ERR_HOST_VALUE_TOO_LARGE;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr)
    return ERR_HOST_FILE_IO;
  // Read at once as the size was measured; a file that has grown since is
  // read to its end all the same.
  bool failed = false;
  try {
    bytes->resize(static_cast<size_t>(info.st_size));
    const size_t got = std::fread(bytes->data(), 1, bytes->size(), file);
    bytes->resize(got);
    char block[4096];
    size_t more = 0;
    while (std::ferror(file) == 0 && (more = std::fread(block, 1, sizeof block, file)) > 0)
      bytes->append(block, more);
    failed = std::ferror(file) != 0;
  } catch (...) {
    std::fclose(file);
    throw;
  }
  std::fclose(file);
  if (failed)
    return ERR_HOST_FILE_IO;
  *modified =
      TimeDateFromUnix(info.st_mtim.tv_sec, static_cast<uint32_t>(info.st_mtim.tv_nsec / 10000000));
  return NOERROR;
}

/* The file's bytes stored as a new file object of the database. */
STATUS StoreFileAsObject(sqlite3* db, const char* path, DWORD* objectID, DWORD* size,
                         TIMEDATE* modified) {
  std::string bytes;
  if (const STATUS status = ReadWholeFile(path, &bytes, modified); status != NOERROR)
    return status;
  *size = static_cast<DWORD>(bytes.size());
  return AddObject(db, *size, OBJECT_FILE, 0, bytes.data(), objectID);
}

STATUS WriteWholeFile(const char* path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out)
    return ERR_HOST_FILE_IO;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::remove(path);
    return ERR_HOST_FILE_IO;
  }
  return NOERROR;
}

// The FILEOBJECT of a "$FILE" item value, checked.
STATUS FileObjectOf(const WorkingItem& item, FILEOBJECT* ret) {
  const auto* value = static_cast<const BYTE*>(OSLockObject(item.value));
  if (value == nullptr)
    return ERR_HOST_STORAGE;
  STATUS status = ERR_HOST_NOT_ATTACHMENT;
  if (ValueType(value, item.length) == TYPE_OBJECT &&
      item.length >= sizeof(WORD) + sizeof(FILEOBJECT)) {
    std::memcpy(ret, value + sizeof(WORD), sizeof *ret);
    if (ret->Header.ObjectType == OBJECT_FILE &&
        sizeof(WORD) + sizeof(FILEOBJECT) + ret->FileNameLength <= item.length)
      status = NOERROR;
  }
  OSUnlockObject(item.value);
  return status;
}

constexpr WORD kOleInfoItemFlags = ITEM_SIGN | ITEM_SUMMARY;
constexpr std::string_view kOleInfoKey = "$oleobjinfo";

// The "$OLEOBJINFO" item of the note naming the object (case-sensitive),
// with its record; null when there is none. Damaged or foreign values are
// passed over.
const WorkingItem* FindOleInfo(WorkingNote& note, std::string_view objectName,
                               CDOLEOBJ_INFO* ret) {
  for (const WorkingItem& item : note.items) {
    if (item.removed || item.key != kOleInfoKey)
      continue;
    const auto* value = static_cast<const BYTE*>(OSLockObject(item.value));
    if (value == nullptr)
      continue;
    bool match = false;
    constexpr DWORD kFixed = sizeof(WORD) + sizeof(CDOLEOBJ_INFO);
    if (ValueType(value, item.length) == TYPE_COMPOSITE && item.length >= kFixed) {
      std::memcpy(ret, value + sizeof(WORD), sizeof *ret);
      match = ret->Header.Signature == SIG_CD_OLEOBJINFO &&
              ret->FileObjNameLength == objectName.size() &&
              kFixed + ret->FileObjNameLength <= item.length &&
              std::memcmp(value + kFixed, objectName.data(), objectName.size()) == 0;
    }
    OSUnlockObject(item.value);
    if (match)
      return &item;
  }
  return nullptr;
}

bool FileExists(const char* path) {
  struct stat info;
  return stat(path, &info) == 0;
}

} // namespace

// ---- database objects ----

extern "C" STATUS NSFDbAllocObject(DBHANDLE handle, DWORD size, WORD objectClass, WORD privileges,
                                   DWORD* retObjectID) {
  if (retObjectID == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  *retObjectID = 0;
  const auto lock = LockHost();
  const OpenDatabase* database = FindDatabase(handle);
  if (database == nullptr)
    return ERR_HOST_BAD_HANDLE;
  return AddObject(database->store->db(), size, objectClass, privileges, nullptr, retObjectID);
}

extern "C" STATUS NSFDbWriteObject(DBHANDLE handle, DWORD objectID, DHANDLE buffer, DWORD offset,
                                   DWORD length) {
  const auto lock = LockHost();
  sqlite3* db = nullptr;
  ObjectInfo info;
  if (const STATUS status = FindHandleObject(handle, objectID, &db, &info); status != NOERROR)
    return status;
  // Objects do not grow: the write must fall inside the allocated size.
  if (!InRange(offset, length, info.size))
    return ERR_HOST_BAD_ARGUMENT;
  const auto* data = static_cast<const char*>(OSLockObject(buffer));
  if (data == nullptr)
    return ERR_HOST_BAD_HANDLE;
  STATUS status = NOERROR;
  if (length > OSMemGetSize(buffer))
    status = ERR_HOST_BAD_ARGUMENT;
  else if (length > 0)
    status = [&] {
      Transaction transaction(db);
      if (!transaction.ok())
        return ERR_HOST_STORAGE;
      sqlite3_blob* blob = nullptr;
      if (sqlite3_blob_open(db, "main", "objects", "bytes", objectID, 1, &blob) != SQLITE_OK) {
        sqlite3_blob_close(blob);
        return ERR_HOST_STORAGE;
      }
      const bool written =
          !InjectedWriteFailure() && sqlite3_blob_write(blob, data, static_cast<int>(length),
                                                        static_cast<int>(offset)) == SQLITE_OK;
      sqlite3_blob_close(blob);
      if (!written)
        return ERR_HOST_STORAGE;
      return transaction.Commit() ? NOERROR : ERR_HOST_STORAGE;
    }();
  OSUnlockObject(buffer);
  return status;
}

extern "C" STATUS NSFDbReadObject(DBHANDLE handle, DWORD objectID, DWORD offset, DWORD length,
                                  DHANDLE* retBuffer) {
  if (retBuffer == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  *retBuffer = NULLHANDLE;
  const auto lock = LockHost();
  sqlite3* db = nullptr;
  ObjectInfo info;
  if (const STATUS status = FindHandleObject(handle, objectID, &db, &info); status != NOERROR)
    return status;
  if (length == 0xFFFFFFFF && offset <= info.size)
    length = info.size - offset;
  if (!InRange(offset, length, info.size))
    return ERR_HOST_BAD_ARGUMENT;
  DHANDLE buffer = NULLHANDLE;
  if (const STATUS status = OSMemAlloc(MEM_TYPE_ENGINE, length, &buffer); status != NOERROR)
    return status;
  const STATUS status = ReadObjectBytes(db, objectID, offset, length, OSLockObject(buffer));
  OSUnlockObject(buffer);
  if (status != NOERROR) {
    OSMemFree(buffer);
    return status;
  }
  *retBuffer = buffer;
  return NOERROR;
}

extern "C" STATUS NSFDbGetObjectSize(DBHANDLE handle, DWORD objectID, WORD /*objectType*/,
                                     DWORD* retSize, WORD* retClass, WORD* retPrivileges) {
  const auto lock = LockHost();
  sqlite3* db = nullptr;
  ObjectInfo info;
  if (const STATUS status = FindHandleObject(handle, objectID, &db, &info); status != NOERROR)
    return status;
  if (retSize != nullptr)
    *retSize = info.size;
  if (retClass != nullptr)
    *retClass = info.objectClass;
  if (retPrivileges != nullptr)
    *retPrivileges = info.privileges;
  return NOERROR;
}

extern "C" STATUS NSFDbFreeObject(DBHANDLE handle, DWORD objectID) {
  const auto lock = LockHost();
  const OpenDatabase* database = FindDatabase(handle);
  if (database == nullptr)
    return ERR_HOST_BAD_HANDLE;
  return RemoveObject(database->store->db(), objectID);
}

// ---- attachments ----

extern "C" STATUS NSFNoteAttachFile(NOTEHANDLE handle, const char* itemName, WORD itemNameLength,
                                    const char* pathName, const char* originalPathName,
                                    WORD /*encodingType*/) {
  if (itemName == nullptr || pathName == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  return GuardedStatus([&]() -> STATUS {
    const auto lock = LockHost();
    WorkingNote* note = FindNote(handle);
    if (note == nullptr)
      return ERR_HOST_BAD_HANDLE;
    const std::string_view name(itemName, itemNameLength);
    if (ItemKey(name) != "$file")
      return ERR_HOST_BAD_ARGUMENT;
    const std::string_view fileName = LastPathElement(
        originalPathName != nullptr && *originalPathName != 0 ? originalPathName : pathName);
    if (fileName.empty() || fileName.size() > 0xFFFF)
      return ERR_HOST_BAD_ARGUMENT;
    // The value must fit under the cap before anything is stored.
    if (sizeof(WORD) + sizeof(FILEOBJECT) + fileName.size() > ItemValueLimit())
      return ERR_HOST_VALUE_TOO_LARGE;

    sqlite3* db = note->store->db();
    DWORD objectID = 0;
    DWORD size = 0;
    TIMEDATE modified;
    if (const STATUS status = StoreFileAsObject(db, pathName, &objectID, &size, &modified);
        status != NOERROR)
      return status;

    FILEOBJECT file{};
    file.Header.ObjectType = OBJECT_FILE;
    file.Header.RRV = objectID;
    file.FileNameLength = static_cast<WORD>(fileName.size());
    file.FileSize = size;
    file.FileCreated = modified;
    file.FileModified = modified;
    const WORD type = TYPE_OBJECT;
    // The object stored above goes again when its item cannot be had.
    const STATUS status = GuardedStatus([&] {
      return AppendItemValue(
          *note, kFileItemFlags, name,
          {std::string_view(reinterpret_cast<const char*>(&type), sizeof type),
           std::string_view(reinterpret_cast<const char*>(&file), sizeof file), fileName},
          nullptr);
    });
    if (status != NOERROR)
      RemoveObject(db, objectID);
    return status;
  });
}

extern "C" STATUS NSFNoteExtractFile(NOTEHANDLE handle, BLOCKID itemBid, const char* fileName,
                                     const void* /*decryptionKey*/) {
  if (fileName == nullptr || *fileName == 0)
    return ERR_HOST_BAD_ARGUMENT;
  return GuardedStatus([&]() -> STATUS {
    const auto lock = LockHost();
    WorkingNote* note = FindNote(handle);
    if (note == nullptr)
      return ERR_HOST_BAD_HANDLE;
    if (itemBid.pool != handle)
      return ERR_HOST_BAD_ARGUMENT;
    const WorkingItem* item = FindItemBySerial(*note, itemBid.block);
    if (item == nullptr)
      return ERR_ITEM_NOT_FOUND;
    FILEOBJECT file;
    if (const STATUS status = FileObjectOf(*item, &file); status != NOERROR)
      return status;
    sqlite3* db = note->store->db();
    ObjectInfo info;
    if (const STATUS status = FindObject(db, file.Header.RRV, &info); status != NOERROR)
      return status;
    if (file.FileSize > info.size)
      return ERR_HOST_STORAGE;
    std::string bytes(file.FileSize, '\0');
    if (const STATUS status =
            ReadObjectBytes(db, file.Header.RRV, 0, file.FileSize, bytes.data());
        status != NOERROR)
      return status;
    return WriteWholeFile(fileName, bytes);
  });
}

extern "C" STATUS NSFNoteDetachFile(NOTEHANDLE handle, BLOCKID itemBid) {
  return GuardedStatus([&]() -> STATUS {
    const auto lock = LockHost();
    WorkingNote* note = FindNote(handle);
    if (note == nullptr)
      return ERR_HOST_BAD_HANDLE;
    if (itemBid.pool != handle)
      return ERR_HOST_BAD_ARGUMENT;
    const WorkingItem* item = FindItemBySerial(*note, itemBid.block);
    if (item == nullptr || item->key != "$file")
      return ERR_ITEM_NOT_FOUND;
    FILEOBJECT file;
    if (const STATUS status = FileObjectOf(*item, &file); status != NOERROR)
      return status;
    // The object goes first: when it cannot, the item stays to name it. An
    // object already missing is no failure.
    if (const STATUS status = RemoveObject(note->store->db(), file.Header.RRV);
        status != NOERROR && status != ERR_HOST_OBJECT_NOT_FOUND)
      return status;
    RemoveItemBySerial(*note, itemBid.block);
    return NOERROR;
  });
}

// ---- OLE objects ----

extern "C" STATUS NSFNoteAttachOLE2Object(NOTEHANDLE handle, const char* pathName,
                                          const char* objectName, BOOL createInfo,
                                          const char* description, const char* fieldName,
                                          const OLE_GUID* objectClass, WORD displayFormat,
                                          DWORD flags) {
  if (pathName == nullptr || objectName == nullptr || *objectName == 0 || !createInfo)
    return ERR_HOST_BAD_ARGUMENT;
  return GuardedStatus([&]() -> STATUS {
    const auto lock = LockHost();
    WorkingNote* note = FindNote(handle);
    if (note == nullptr)
      return ERR_HOST_BAD_HANDLE;
    const std::string_view name(objectName);
    const std::string_view text(description != nullptr ? description : "");
    const std::string_view field(fieldName != nullptr ? fieldName : "");
    const size_t length = sizeof(CDOLEOBJ_INFO) + name.size() + text.size() + field.size();
    if (length > 0xFFFF)
      return ERR_HOST_BAD_ARGUMENT;
    if (sizeof(WORD) + length > ItemValueLimit())
      return ERR_HOST_VALUE_TOO_LARGE;
    CDOLEOBJ_INFO info{};
    if (FindOleInfo(*note, name, &info) != nullptr)
      return ERR_HOST_BAD_ARGUMENT;

    sqlite3* db = note->store->db();
    DWORD objectID = 0;
    DWORD size = 0;
    TIMEDATE modified;
    if (const STATUS status = StoreFileAsObject(db, pathName, &objectID, &size, &modified);
        status != NOERROR)
      return status;

    info = CDOLEOBJ_INFO{};
    info.Header.Signature = SIG_CD_OLEOBJINFO;
    info.Header.Length = static_cast<WORD>(length);
    info.FileObjNameLength = static_cast<WORD>(name.size());
    info.DescriptionNameLength = static_cast<WORD>(text.size());
    info.FieldNameLength = static_cast<WORD>(field.size());
    if (objectClass != nullptr)
      info.OleObjClass = *objectClass;
    info.DisplayFormat = displayFormat;
    info.Flags = flags & (OLEOBJINFO_FLAG_SCRIPTED | OLEOBJINFO_FLAG_CONTROL);
    info.ObjectID = objectID;
    info.ObjectSize = size;
    const WORD type = TYPE_COMPOSITE;
    const STATUS status = GuardedStatus([&] {
      return AppendItemValue(
          *note, kOleInfoItemFlags, "$OLEOBJINFO",
          {std::string_view(reinterpret_cast<const char*>(&type), sizeof type),
           std::string_view(reinterpret_cast<const char*>(&info), sizeof info), name, text, field},
          nullptr);
    });
    if (status != NOERROR)
      RemoveObject(db, objectID);
    return status;
  });
}

extern "C" STATUS NSFNoteExtractOLE2Object(NOTEHANDLE handle, const char* objectName,
                                           const char* fileName, const void* /*decryptionKey*/,
                                           BOOL overwrite, DWORD /*flags*/) {
  if (objectName == nullptr || fileName == nullptr || *fileName == 0)
    return ERR_HOST_BAD_ARGUMENT;
  return GuardedStatus([&]() -> STATUS {
    const auto lock = LockHost();
    WorkingNote* note = FindNote(handle);
    if (note == nullptr)
      return ERR_HOST_BAD_HANDLE;
    CDOLEOBJ_INFO info;
    if (FindOleInfo(*note, objectName, &info) == nullptr)
      return ERR_ITEM_NOT_FOUND;
    sqlite3* db = note->store->db();
    ObjectInfo object;
    if (const STATUS status = FindObject(db, info.ObjectID, &object); status != NOERROR)
      return status;
    if (info.ObjectSize > object.size)
      return ERR_HOST_STORAGE;
    if (!overwrite && FileExists(fileName))
      return ERR_HOST_FILE_IO;
    std::string bytes(info.ObjectSize, '\0');
    if (const STATUS status = ReadObjectBytes(db, info.ObjectID, 0, info.ObjectSize, bytes.data());
        status != NOERROR)
      return status;
    return WriteWholeFile(fileName, bytes);
  });
}

extern "C" STATUS NSFNoteDeleteOLE2Object(NOTEHANDLE handle, const char* objectName) {
  if (objectName == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  return GuardedStatus([&]() -> STATUS {
    const auto lock = LockHost();
    WorkingNote* note = FindNote(handle);
    if (note == nullptr)
      return ERR_HOST_BAD_HANDLE;
    CDOLEOBJ_INFO info;
    const WorkingItem* item = FindOleInfo(*note, objectName, &info);
    if (item == nullptr)
      return ERR_ITEM_NOT_FOUND;
    if (const STATUS status = RemoveObject(note->store->db(), info.ObjectID);
        status != NOERROR && status != ERR_HOST_OBJECT_NOT_FOUND)
      return status;
    RemoveItemBySerial(*note, item->serial);
    return NOERROR;
  });
}
