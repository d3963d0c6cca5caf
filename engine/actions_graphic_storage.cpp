/*
 * How a chunk's graphics are stored (GraphicStorage set, action 68, s1
 * "inline" or "storage"; ExportGraphic issues "inline" before it exports).
 *
 * "storage" moves a graphic's image records into a file object of the
 * note and leaves a storage link to it in their place (the graphic record
 * and a bitmap header stay beside the link). "inline" reads such an object
 * back: its records take the place of the graphic, and the storage link
 * and the bitmap header after it go.
 *
 * A record is dropped only once its replacement exists: the image records
 * once the object holding them is written, the link once the object it
 * names has been read back. Records to drop later in the walk are marked
 * on their nodes and dropped when the walk meets them. A graphic whose
 * records are neither moved nor found stays as it was.
 */
#include <stddef.h>
#include <string.h>
#include <strings.h>

#include "engine/process_state.h"
#include "engine/property_set_actions.h"
#include "engine/record_fields.h"
#include "engine/services.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osmem.h"
#include "store/body.h"
#include "store/cd_storage.h"
#include "store/emitter.h"
#include "store/new_object.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "velko/status.h"

namespace {

/* The storage type of a link to a file object of the note. */
constexpr WORD kStoredInNote = 1;
/* Records that follow the graphic as its image data. */
constexpr WORD kMetafileHeader = 0x009F;
constexpr WORD kImageData = 0xFF87;

bool IsResource(WORD signature) {
  return signature == SIG_CD_RESOURCE || signature == SIG_CD_RESOURCE_FF71 ||
         signature == SIG_CD_RESOURCE_FF78 || signature == SIG_CD_RESOURCE_FF5A;
}

/* The first record after the graphic that tells how its image is held: a
 * storage link, an image or bitmap segment, or a text, hotspot end or
 * resource record where the graphic's own records end. Null when none. */
record_storage* HoldingRecord(record_storage* graphic) {
  for (record_storage* node = graphic->next; node != nullptr; node = node->next) {
    const WORD signature = node->signature;
    if (signature == SIG_CD_STORAGELINK || signature == SIG_CD_IMAGESEGMENT ||
        signature == SIG_CD_BITMAPSEGMENT || signature == SIG_CD_TEXT ||
        signature == SIG_CD_HOTSPOTEND || IsResource(signature))
      return node;
  }
  return nullptr;
}

bool IsImageRecord(WORD signature) {
  switch (signature) {
  case SIG_CD_IMAGEHEADER:
  case SIG_CD_IMAGESEGMENT:
  case SIG_CD_BITMAPHEADER:
  case SIG_CD_BITMAPSEGMENT:
  case kMetafileHeader:
  case kImageData:
    return true;
  default:
    return false;
  }
}

body_context* InputList(chunk_process_state* state) { return StateItem(state)->internal->input; }

/* "storage": the graphic and the image records after it go into a new
 * object; the storage conversion writes the graphic, the link and the
 * bitmap header in their place. */
STATUS StoreGraphic(record_storage* graphic, chunk_record_output* output,
                    chunk_process_state* state) {
  const record_storage* holding = HoldingRecord(graphic);
  if (holding == nullptr || (holding->signature != SIG_CD_IMAGESEGMENT &&
                             holding->signature != SIG_CD_BITMAPSEGMENT))
    return NOERROR; // stored elsewhere already, or not an image of its own
  record_storage* last = nullptr;
  for (record_storage* node = graphic->next; node != nullptr && IsImageRecord(node->signature);
       node = node->next)
    last = node;
  if (last == nullptr)
    return NOERROR;
  if (STATUS status = ConvertCDRecordsToCDStorage(&state->gen, graphic, last); status != NOERROR)
    return status;
  output->length = 0; // written again by the conversion, before the link
  for (record_storage* node = graphic->next;; node = node->next) {
    MarkRecordForRemoval(InputList(state), node);
    if (node == last)
      break;
  }
  StateItem(state)->Modified = 1;
  return NOERROR;
}

/* The object of the note named `name`, read and emitted record by record.
 * *found is false (and 0 returned) when the note holds no such object. */
STATUS EmitStoredRecords(const char* name, bool* found, chunk_process_state* state) {
  *found = false;
  NOTEHANDLE note = StateItem(state)->note;
  DWORD objectID = 0;
  if (FileObjectFromInternal(note, name, &objectID) != NOERROR)
    return NOERROR;
  DBHANDLE db = NULLHANDLE;
  NSFNoteGetInfo(note, _NOTE_DB, &db);
  DWORD size = 0;
  if (NSFDbGetObjectSize(db, objectID, OBJECT_FILE, &size, nullptr, nullptr) != NOERROR ||
      size == 0)
    return NOERROR;
  DHANDLE buffer = NULLHANDLE;
  if (STATUS status = NSFDbReadObject(db, objectID, 0, size, &buffer); status != NOERROR)
    return status;
  const auto* bytes = static_cast<const char*>(OSLockObject(buffer));
  STATUS status = VELKO_ERR_MEMORY;
  auto* reader = NewObject<cd_storage_reader>();
  if (bytes != nullptr && reader != nullptr) {
    reader->context = &state->gen;
    status = ConvertCDStorageToCDRecords_Fragment(bytes, size, reader);
    // An object that ends inside a segment has lost records.
    if (status == NOERROR && (reader->segment_count == 0 || reader->segment < reader->segment_count ||
                              reader->segment_left != 0 || reader->carried != 0))
      status = VELKO_ERR_FAILED;
  }
  delete reader;
  if (bytes != nullptr)
    OSUnlockObject(buffer);
  OSMemFree(buffer);
  *found = status == NOERROR;
  return status;
}

/* "inline": the object the graphic's storage link names takes the place
 * of the graphic; the link and the bitmap header after it go. */
STATUS InlineGraphic(record_storage* graphic, chunk_record_output* output,
                     chunk_process_state* state) {
  record_storage* link = HoldingRecord(graphic);
  WORD storageType = 0;
  WORD nameLength = 0;
  if (link == nullptr || link->signature != SIG_CD_STORAGELINK ||
      link->length < sizeof(CDSTORAGELINK) ||
      !ReadRecordWord(link->data, link->length, offsetof(CDSTORAGELINK, StorageType),
                      &storageType) ||
      storageType != kStoredInNote ||
      !ReadRecordWord(link->data, link->length, offsetof(CDSTORAGELINK, Length), &nameLength))
    return NOERROR;
  const DWORD room = link->length - static_cast<DWORD>(sizeof(CDSTORAGELINK));
  char* name = state->session->scratch_second;
  const DWORD count = nameLength < room ? nameLength : room;
  const DWORD kept = count < sizeof state->session->scratch_second - 1
                         ? count
                         : sizeof state->session->scratch_second - 1;
  memcpy(name, link->data + sizeof(CDSTORAGELINK), kept);
  name[kept] = '\0';

  bool found = false;
  if (STATUS status = EmitStoredRecords(name, &found, state); status != NOERROR || !found)
    return status;
  output->length = 0; // the object's own graphic record took its place
  MarkRecordForRemoval(InputList(state), link);
  if (link->next != nullptr && link->next->signature == SIG_CD_BITMAPHEADER)
    MarkRecordForRemoval(InputList(state), link->next);
  StateItem(state)->Modified = 1;
  return NOERROR;
}

} // namespace

STATUS SetGraphicStorage(const char*, WORD signature, DWORD, chunk_record_output* output,
                         chunk_process_state* state) {
  record_storage* node = state->current_record;
  if (node == nullptr)
    return NOERROR;
  if (signature != SIG_CD_GRAPHIC) {
    if ((node->flags & RECORD_MARKED) != 0)
      output->length = 0;
    return NOERROR;
  }
  if (state->s1 != nullptr && strcasecmp(state->s1, "inline") == 0)
    return InlineGraphic(node, output, state);
  if (state->s1 != nullptr && strcasecmp(state->s1, "storage") == 0)
    return StoreGraphic(node, output, state);
  return kServiceNotAvailable; // neither way of storing a graphic
}
