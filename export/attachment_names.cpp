/*
 * Finding the attachment and OLE object names of rich-text records and
 * removing those objects from a note; the removal of an item's
 * attachments (RemoveAttachmentsFromItem) is built on them.
 */
#include "export/attachment_names.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "chunk/object_names.h"
#include "chunk/services.h"
#include "host/cdrecords.h"
#include "host/nsfdata.h"
#include "host/osenv.h"
#include "host/nsfnote.h"
#include "host/ods.h"
#include "host/oslog.h"
#include "host/status.h"
#include "store/vocabulary.h"
#include "velko/velko.h"

namespace {

void AddOnce(std::vector<std::string>* list, std::string name) {
  if (!name.empty() && std::find(list->begin(), list->end(), name) == list->end())
    list->push_back(std::move(name));
}

STATUS CollectRecord(char* record, WORD signature, DWORD length, void* context) {
  CollectAttachmentName(reinterpret_cast<const BYTE*>(record), signature, length,
                        static_cast<attachment_names*>(context));
  return NOERROR;
}

/* The names of the note's rich-text items, each once (names compare
 * without regard to case, as the note's do). */
STATUS CollectRichTextItemName(WORD, WORD, char* name, WORD nameLength, void* value,
                               DWORD valueLength, void* context) {
  WORD type = 0;
  if (value == nullptr || valueLength < sizeof type)
    return NOERROR;
  std::memcpy(&type, value, sizeof type);
  if (type != TYPE_COMPOSITE)
    return NOERROR;
  auto* itemNames = static_cast<std::vector<std::string>*>(context);
  std::string itemName;
  try {
    itemName.assign(name, nameLength);
  } catch (const std::bad_alloc&) {
    return VELKO_ERR_MEMORY;
  }
  for (const std::string& known : *itemNames)
    if (CompareNamesIgnoringCase(known.c_str(), itemName.c_str()) == 0)
      return NOERROR;
  try {
    itemNames->push_back(std::move(itemName));
  } catch (const std::bad_alloc&) {
    return VELKO_ERR_MEMORY;
  }
  return NOERROR;
}

/* Takes out of `list` every name that `kept` holds, compared as `same` says. */
template <typename Same>
void RemoveKept(std::vector<std::string>* list, const std::vector<std::string>& kept, Same same) {
  list->erase(std::remove_if(list->begin(), list->end(),
                             [&](const std::string& name) {
                               return std::any_of(kept.begin(), kept.end(),
                                                  [&](const std::string& other) {
                                                    return same(name, other);
                                                  });
                             }),
              list->end());
}

} // namespace

void CollectAttachmentName(const BYTE* record, WORD signature, DWORD length,
                           attachment_names* names) {
  if (names == nullptr)
    return;
  std::string name;
  switch (RecordObjectName(record, signature, length, &name)) {
  case named_object::file:
    AddOnce(&names->files, std::move(name));
    break;
  case named_object::ole_object:
    AddOnce(&names->ole_objects, std::move(name));
    break;
  case named_object::none:
    break;
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

STATUS CollectNoteAttachmentNames(NOTEHANDLE note, attachment_names* names) {
  if (note == NULLHANDLE || names == nullptr)
    return NOERROR;
  std::vector<std::string> itemNames;
  STATUS status = NSFItemScan(note, CollectRichTextItemName, &itemNames);
  for (const std::string& itemName : itemNames) {
    const STATUS read = CollectItemAttachmentNames(note, itemName.c_str(), names);
    if (status == NOERROR)
      status = read;
  }
  return status;
}

void RemoveAttachmentsNoOneNames(NOTEHANDLE note, attachment_names candidates,
                                 const char* itemName) {
  if (note == NULLHANDLE || (candidates.files.empty() && candidates.ole_objects.empty()))
    return;
  attachment_names named;
  // A name that cannot be checked is kept.
  if (const STATUS status = CollectNoteAttachmentNames(note, &named); status != NOERROR) {
    AddInLogMessageText("TARNO: Could not read the attachments of '%s'", status, itemName);
    return;
  }
  // File names compare without regard to case, OLE object names with it.
  RemoveKept(&candidates.files, named.files, [](const std::string& a, const std::string& b) {
    return CompareNamesIgnoringCase(a.c_str(), b.c_str()) == 0;
  });
  RemoveKept(&candidates.ole_objects, named.ole_objects,
             [](const std::string& a, const std::string& b) { return a == b; });
  RemoveNamedAttachments(note, candidates);
}

void RemoveAttachmentsNoLongerNamed(NOTEHANDLE previous, NOTEHANDLE note, const char* itemName) {
  if (previous == NULLHANDLE || note == NULLHANDLE || itemName == nullptr)
    return;
  attachment_names old;
  if (const STATUS status = CollectItemAttachmentNames(previous, itemName, &old);
      status != NOERROR)
    AddInLogMessageText("TARNO: Could not read the attachments of '%s'", status, itemName);
  RemoveAttachmentsNoOneNames(note, std::move(old), itemName);
}
