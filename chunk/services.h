/*
 * Services the chunk layer calls in higher layers (export), declared here
 * so that the chunk's calls upward go through one seam. The definitions are
 * the owning folders'.
 */
#ifndef VELKO_CHUNK_SERVICES_H
#define VELKO_CHUNK_SERVICES_H

#include "velko/host_types.h"

/* Copies the external file name of the note's attachment whose internal
 * name is `internalName` (compared without regard to case) into `name`
 * (room for MAXPATH bytes) and returns 0; the item-not-found status when
 * the note has no such attachment. */
STATUS ExternalFileNameFromInternal(NOTEHANDLE note, const char* internalName, char* name);

class VelkoRTItem;

/* Removes from the item's note the "$FILE" attachments and OLE objects the
 * records of the item's current value refer to; failures are logged. 0, or
 * the host's status when the value could not be read to its end (what was
 * read is still removed). */
STATUS RemoveAttachmentsFromItem(VelkoRTItem* item);

/* After an item of the note was replaced: removes from the note the "$FILE"
 * attachments and OLE objects that the items of the name in `previous` (a
 * note holding the item's old values) refer to and that no rich-text item
 * of the note refers to now (the new value included); failures are
 * logged. */
void RemoveAttachmentsNoLongerNamed(NOTEHANDLE previous, NOTEHANDLE note, const char* itemName);

#endif
