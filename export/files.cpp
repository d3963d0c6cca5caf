/*
 * The note's file attachments as the store and the engine ask about them:
 * an attachment's external file name by its internal name, its size and
 * the object that holds it. They walk the note's "$FILE" items, each a
 * TYPE_OBJECT value holding a FILEOBJECT and the file's name; the host
 * keeps one name per attachment, which serves as both the internal
 * (object) name and the external (file) name. Names compare without
 * regard to ASCII case.
 *
 * Also the extraction of an attachment by its internal name to a file,
 * and the reading of its bytes for the item-level export.
 *
 * Not here: attaching or removing files.
 */
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "engine/services.h"
#include "export/item_export.h"
#include "host/cdrecords.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osenv.h"
#include "host/osmem.h"
#include "host/status.h"
#include "render/services.h"
#include "store/services.h"

namespace {

constexpr const char* kFileItem = "$FILE";

bool SameNameIgnoringCase(const char* a, size_t lengthA, const char* b, size_t lengthB) {
  if (lengthA != lengthB)
    return false;
  for (size_t at = 0; at < lengthA; ++at) {
    const auto lower = [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    if (lower(a[at]) != lower(b[at]))
      return false;
  }
  return true;
}

/* Calls `visit` with the FILEOBJECT and file name of every "$FILE" item
 * that holds a sound one, in the note's order, until it answers false. */
template <typename Visit> void EachAttachment(NOTEHANDLE note, Visit visit) {
  const WORD itemLength = static_cast<WORD>(std::strlen(kFileItem));
  BLOCKID item = {};
  WORD type = 0;
  BLOCKID value = {};
  DWORD valueLength = 0;
  STATUS status = NSFItemInfo(note, kFileItem, itemLength, &item, &type, &value, &valueLength);
  while (status == NOERROR) {
    const auto* bytes = static_cast<const BYTE*>(OSLockBlock(value));
    bool goOn = true;
    if (bytes != nullptr && type == TYPE_OBJECT &&
        valueLength >= sizeof(WORD) + sizeof(FILEOBJECT)) {
      FILEOBJECT candidate = {};
      std::memcpy(&candidate, bytes + sizeof(WORD), sizeof candidate);
      const auto* fileName = reinterpret_cast<const char*>(bytes) + sizeof(WORD) + sizeof candidate;
      const DWORD nameEnd = sizeof(WORD) + sizeof candidate + candidate.FileNameLength;
      if (candidate.Header.ObjectType == OBJECT_FILE && nameEnd <= valueLength)
        goOn = visit(item, candidate, fileName);
    }
    if (bytes != nullptr)
      OSUnlockBlock(value);
    if (!goOn)
      return;
    status = NSFItemInfoNext(note, item, kFileItem, itemLength, &item, &type, &value, &valueLength);
  }
}

/* The attachment of the note named `name` (with last, the last one of
 * that name, else the first): its FILEOBJECT and, when `stored` is given
 * (MAXPATH bytes), the name as the note holds it, cut to fit. False when
 * no "$FILE" item holds a sound FILEOBJECT of that name. */
bool FindAttachment(NOTEHANDLE note, const char* name, FILEOBJECT* found,
                    char* stored = nullptr, BLOCKID* foundItem = nullptr, bool last = false) {
  const size_t nameLength = std::strlen(name);
  bool matched = false;
  EachAttachment(note, [&](const BLOCKID& item, const FILEOBJECT& file, const char* fileName) {
    if (!SameNameIgnoringCase(fileName, file.FileNameLength, name, nameLength))
      return true;
    *found = file;
    if (stored != nullptr) {
      const size_t length = std::min<size_t>(file.FileNameLength, MAXPATH - 1);
      std::memcpy(stored, fileName, length);
      stored[length] = '\0';
    }
    if (foundItem != nullptr)
      *foundItem = item;
    matched = true;
    return last;
  });
  return matched;
}

} // namespace

STATUS ListAttachmentNames(NOTEHANDLE note, std::vector<std::string>* names) {
  if (note == NULLHANDLE)
    return ERR_ITEM_NOT_FOUND;
  EachAttachment(note, [names](const BLOCKID&, const FILEOBJECT& file, const char* fileName) {
    names->emplace_back(fileName, file.FileNameLength);
    return true;
  });
  return NOERROR;
}

STATUS ExternalFileNameFromInternal(NOTEHANDLE note, const char* internalName, char* name) {
  if (name != nullptr)
    name[0] = '\0';
  FILEOBJECT file = {};
  char stored[MAXPATH] = {};
  if (note == NULLHANDLE || internalName == nullptr ||
      !FindAttachment(note, internalName, &file, stored))
    return ERR_ITEM_NOT_FOUND;
  // The host keeps one name for both: the external name is the one held.
  if (name != nullptr)
    std::memcpy(name, stored, sizeof stored);
  return NOERROR;
}

STATUS FileSizeFromInternal(DBHANDLE db, NOTEHANDLE note, const char* name, DWORD* size,
                            DWORD fromObject) {
  if (size == nullptr)
    return NOERROR;
  *size = 0;
  FILEOBJECT file = {};
  if (note == NULLHANDLE || name == nullptr || !FindAttachment(note, name, &file))
    return ERR_ITEM_NOT_FOUND;
  if (fromObject == 0) {
    *size = file.FileSize;
    return NOERROR;
  }
  if (db == NULLHANDLE)
    NSFNoteGetInfo(note, _NOTE_DB, &db); // the object lies in the note's database
  return NSFDbGetObjectSize(db, file.Header.RRV, OBJECT_FILE, size, nullptr, nullptr);
}

STATUS FileObjectFromInternal(NOTEHANDLE note, const char* name, DWORD* objectID) {
  if (objectID == nullptr)
    return ERR_ITEM_NOT_FOUND;
  *objectID = 0;
  FILEOBJECT file = {};
  if (note == NULLHANDLE || name == nullptr || !FindAttachment(note, name, &file))
    return ERR_ITEM_NOT_FOUND;
  *objectID = file.Header.RRV;
  return NOERROR;
}

STATUS ExtractAttachmentFile(NOTEHANDLE note, const char* internalName, const char* fileName) {
  FILEOBJECT file = {};
  BLOCKID item = {};
  if (note == NULLHANDLE || internalName == nullptr || fileName == nullptr ||
      !FindAttachment(note, internalName, &file, nullptr, &item))
    return ERR_ITEM_NOT_FOUND;
  return NSFNoteExtractFile(note, item, fileName, nullptr);
}

STATUS ReadAttachmentBytes(NOTEHANDLE note, const char* name, bool detach,
                           const attachment_bytes_taker& take) {
  FILEOBJECT file = {};
  BLOCKID item = {};
  if (note == NULLHANDLE || name == nullptr ||
      !FindAttachment(note, name, &file, nullptr, &item, true))
    return ERR_ITEM_NOT_FOUND;
  DBHANDLE db = NULLHANDLE;
  NSFNoteGetInfo(note, _NOTE_DB, &db);
  DWORD size = 0;
  STATUS status = NSFDbGetObjectSize(db, file.Header.RRV, OBJECT_FILE, &size, nullptr, nullptr);
  DHANDLE buffer = NULLHANDLE;
  if (status == NOERROR && size != 0)
    status = NSFDbReadObject(db, file.Header.RRV, 0, size, &buffer);
  const char* bytes = nullptr;
  if (buffer != NULLHANDLE) {
    bytes = static_cast<const char*>(OSLockObject(buffer));
    if (bytes == nullptr)
      status = ERR_MEMORY;
  }
  // An empty file has no buffer: no bytes, but read.
  const char* read = status != NOERROR ? nullptr : bytes != nullptr ? bytes : "";
  if (const STATUS taken = take(read, bytes != nullptr ? size : 0); status == NOERROR)
    status = taken;
  if (bytes != nullptr)
    OSUnlockObject(buffer);
  if (buffer != NULLHANDLE)
    OSMemFree(buffer);
  // Taken off the note even when it could not be read.
  if (detach) {
    const STATUS detached = NSFNoteDetachFile(note, item);
    if (status == NOERROR)
      status = detached;
  }
  return status;
}

STATUS ReadAttachmentData(NOTEHANDLE note, const char* name, bool detach, std::string* data) {
  return ReadAttachmentBytes(note, name, detach, [data](const char* bytes, size_t size) {
    data->clear();
    try {
      if (bytes != nullptr)
        data->assign(bytes, size);
    } catch (const std::bad_alloc&) {
      return STATUS{ERR_MEMORY};
    }
    return STATUS{NOERROR};
  });
}
