/*
 * Finding the attachment and OLE object names of rich-text records and
 * removing those objects from a note; the removal of an item's
 * attachments (RemoveAttachmentsFromItem) is built on them.
 */
#include "export/attachment_names.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "chunk/object_names.h"
#include "chunk/services.h"
#include "host/cdrecords.h"
#include "host/nsfdata.h"
#include "host/osenv.h"
#include "host/nsfnote.h"
#include "host/ods.h"
#include "host/oslog.h"
#include "host/status.h"
#include "velko/velko.h"

namespace {

constexpr WORD kFileHotspotType = 4;
/* An OLE object record: the length of its attachment name at byte 14 and
 * the name behind the 20-byte fixed part. */
constexpr DWORD kOleNameLengthAt = 14;
constexpr DWORD kOleFixedLength = 20;

void AddOnce(std::vector<std::string>* list, std::string name) {
  if (!name.empty() && std::find(list->begin(), list->end(), name) == list->end())
    list->push_back(std::move(name));
}

WORD WordAt(const BYTE* record, DWORD at) {
  WORD value = 0;
  std::memcpy(&value, record + at, sizeof value);
  return value;
}

STATUS CollectRecord(char* record, WORD signature, DWORD length, void* context) {
  CollectAttachmentName(reinterpret_cast<const BYTE*>(record), signature, length,
                        static_cast<attachment_names*>(context));
  return NOERROR;
}

} // namespace

void CollectAttachmentName(const BYTE* record, WORD signature, DWORD length,
                           attachment_names* names) {
  if (record == nullptr || names == nullptr)
    return;
  const auto* text = reinterpret_cast<const char*>(record);
  if (signature == SIG_CD_HOTSPOTBEGIN || signature == SIG_CD_V4HOTSPOTBEGIN) {
    if (length < sizeof(CDHOTSPOTBEGIN) ||
        WordAt(record, offsetof(CDHOTSPOTBEGIN, Type)) != kFileHotspotType)
      return;
    AddOnce(&names->files, SafeObjectName(std::string_view(text + sizeof(CDHOTSPOTBEGIN),
                                                     length - sizeof(CDHOTSPOTBEGIN))));
  } else if (signature == SIG_CD_OLEBEGIN) {
    if (length < kOleFixedLength)
      return;
    const WORD nameLength = WordAt(record, kOleNameLengthAt);
    if (nameLength > length - kOleFixedLength)
      return;
    const std::string_view name(text + kOleFixedLength, nameLength);
    AddOnce(&names->ole_objects, SafeObjectName(name));
  }
}

STATUS CollectItemAttachmentNames(NOTEHANDLE note, const char* itemName, attachment_names* names) {
  if (note == NULLHANDLE || itemName == nullptr || names == nullptr)
    return NOERROR;
  const auto nameLength = static_cast<WORD>(std::strlen(itemName));
  BLOCKID item;
  BLOCKID value;
  WORD type = 0;
  DWORD length = 0;
  for (STATUS status = NSFItemInfo(note, itemName, nameLength, &item, &type, &value, &length);
       status == NOERROR;
       status = NSFItemInfoNext(note, item, itemName, nameLength, &item, &type, &value, &length)) {
    if (type != TYPE_COMPOSITE)
      continue;
    if (const STATUS read = EnumCompositeBuffer(value, length, CollectRecord, names);
        read != NOERROR)
      return read;
  }
  return NOERROR;
}

void RemoveNamedAttachments(NOTEHANDLE note, const attachment_names& names) {
  for (const std::string& name : names.files) {
    // The attachment as the note holds it, found as its external name is.
    char held[MAXPATH] = {};
    if (ExternalFileNameFromInternal(note, name.c_str(), held) != NOERROR)
      continue;
    BLOCKID item;
    BLOCKID value;
    DWORD length = 0;
    STATUS status = NSFItemInfo(note, "$FILE", 5, &item, nullptr, &value, &length);
    while (status == NOERROR) {
      const auto* bytes = static_cast<const char*>(OSLockBlock(value));
      FILEOBJECT file{};
      bool match = false;
      if (bytes != nullptr && length >= sizeof(WORD) + sizeof file) {
        std::memcpy(&file, bytes + sizeof(WORD), sizeof file);
        match = sizeof(WORD) + sizeof file + file.FileNameLength <= length &&
                std::string_view(bytes + sizeof(WORD) + sizeof file, file.FileNameLength) == held;
      }
      if (bytes != nullptr)
        OSUnlockBlock(value);
      if (match)
        break;
      status = NSFItemInfoNext(note, item, "$FILE", 5, &item, nullptr, &value, &length);
    }
    if (status == NOERROR)
      status = NSFNoteDetachFile(note, item);
    if (status != NOERROR)
      AddInLogMessageText("TARNO: Could not remove the attachment '%s'", status, name.c_str());
  }
  for (const std::string& name : names.ole_objects) {
    const STATUS status = NSFNoteDeleteOLE2Object(note, name.c_str());
    if (status != NOERROR && status != ERR_ITEM_NOT_FOUND)
      AddInLogMessageText("TARNO: Could not remove the OLE object '%s'", status, name.c_str());
  }
}

STATUS RemoveAttachmentsFromItem(VelkoRTItem* item) {
  if (item == nullptr || item->note == NULLHANDLE || item->item_name == nullptr)
    return NOERROR;
  attachment_names names;
  const STATUS status = CollectItemAttachmentNames(item->note, item->item_name, &names);
  RemoveNamedAttachments(item->note, names);
  return status;
}
