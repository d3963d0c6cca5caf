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
#include <strings.h>

#include <algorithm>
#include <new>
#include <set>
#include <string>
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

constexpr WORD kLastItemSerial = 0xFFFF;

struct less_ignoring_case {
  bool operator()(const std::string& a, const std::string& b) const {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
  }
};
using name_set = std::set<std::string, less_ignoring_case>;

/* The names of the note's items, each once (compared without regard to
 * case). The host hands out item descriptors by serial, so every serial is
 * asked for its item's name. */
name_set NoteItemNames(NOTEHANDLE note) {
  name_set names;
  char name[256] = {};
  for (DWORD serial = 1; serial <= kLastItemSerial; ++serial) {
    const BLOCKID item = {note, static_cast<WORD>(serial)};
    if (NSFItemGetName(note, item, name) != 0)
      names.insert(name);
  }
  return names;
}

/* Every name that a rich-text item of the note refers to. False when an
 * item could not be read to its end: what it names is then unknown. */
bool NamesInUse(NOTEHANDLE note, attachment_names* used) {
  for (const std::string& item : NoteItemNames(note)) {
    if (CollectItemAttachmentNames(note, item.c_str(), used) != NOERROR)
      return false;
  }
  return true;
}

void AddOnce(std::vector<std::string>* list, const std::string& name) {
  if (std::find(list->begin(), list->end(), name) == list->end())
    list->push_back(name);
}

std::vector<std::string> NotIn(const std::vector<std::string>& names,
                               const std::vector<std::string>& used) {
  const name_set inUse(used.begin(), used.end());
  std::vector<std::string> left;
  for (const std::string& name : names) {
    if (inUse.count(name) == 0)
      left.push_back(name);
  }
  return left;
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
    attachment_names used;
    if (NamesInUse(note, &used)) {
      attachment_names unused;
      unused.files = NotIn(internal->released_files, used.files);
      unused.ole_objects = NotIn(internal->released_ole_objects, used.ole_objects);
      RemoveNamedAttachments(note, unused);
    } else {
      AddInLogMessageText("TARNO: Attachments of removed content kept: the note's rich text "
                          "could not be read",
                          0);
    }
  } catch (const std::bad_alloc&) {
    LogOutOfMemory(VELKO_HERE);
  }
  internal->released_files.clear();
  internal->released_ole_objects.clear();
}
