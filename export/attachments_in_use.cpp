/*
 * Attachments kept while they are in use. A Remove first notes on the item
 * the attachment and OLE object names of the records it is about to drop
 * (RemoveAttachmentsFromChunk); nothing leaves the note then, so a Remove
 * that fails, or one that keeps the record naming a file (a Remove Inside
 * a file hotspot), leaves every file in place. Once the item's new body
 * is committed, the noted names that neither that body nor another
 * rich-text item of the note names are removed (DetachReleasedAttachments).
 *
 * Not here: reading names from records and removing named objects
 * (export/attachment_names.h).
 */
#include <algorithm>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "engine/process_state.h"
#include "engine/services.h"
#include "export/attachment_names.h"
#include "host/nsfdata.h"
#include "host/nsfnote.h"
#include "host/oslog.h"
#include "store/body.h"
#include "store/messages.h"
#include "store/rtitem_internal.h"
#include "store/services.h"
#include "store/tracked_memory.h"

namespace {

void AddOnce(std::vector<std::string>* list, const std::string& name) {
  if (std::find(list->begin(), list->end(), name) == list->end())
    list->push_back(name);
}

} // namespace

STATUS RemoveAttachmentsFromChunk(VelkoRTChunk* chunk, chunk_process_state* state) {
  if (chunk == nullptr || state == nullptr || chunk->item == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  VelkoRTItem* item = chunk->item;
  body_context* body = ItemBody(item);
  if (body == nullptr)
    return NOERROR; // no records, no names
  try {
    attachment_names names;
    DWORD number = 0;
    for (record_storage* node = GetNextCDRecord(body, nullptr);
         node != nullptr && node->length != 0 && number < state->last_target_last;
         node = GetNextCDRecord(body, node)) {
      if (++number >= state->last_target_first)
        CollectAttachmentName(reinterpret_cast<const BYTE*>(node->data), node->signature,
                              node->length, &names);
    }
    for (const std::string& name : names.files)
      AddOnce(&item->internal->released_files, name);
    for (const std::string& name : names.ole_objects)
      AddOnce(&item->internal->released_ole_objects, name);
  } catch (const std::bad_alloc&) {
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
  return NOERROR;
}

void DetachReleasedAttachments(VelkoRTItem* item, NOTEHANDLE note) {
  if (item == nullptr || item->internal == nullptr)
    return;
  _internal_RTITEM* internal = item->internal;
  if (internal->released_files.empty() && internal->released_ole_objects.empty())
    return;
  try {
    attachment_names released;
    released.files = internal->released_files;
    released.ole_objects = internal->released_ole_objects;
    RemoveAttachmentsNoOneNames(note, std::move(released), item->item_name);
  } catch (const std::bad_alloc&) {
    LogOutOfMemory(VELKO_HERE);
  }
  internal->released_files.clear();
  internal->released_ole_objects.clear();
}
