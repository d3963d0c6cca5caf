/*
 * The names of the file attachments and OLE objects that rich-text records
 * refer to, and their removal from a note. A file hotspot (0xFFA9 or 0xFFAD
 * of type 4) names a "$FILE" attachment by the text behind its fixed part;
 * an OLE object record (0xFFA7) names its object. Names keep only their
 * part after the last '/' or '\'; a name that is empty, ".", ".." or holds
 * a control byte names nothing.
 */
#ifndef VELKO_EXPORT_ATTACHMENT_NAMES_H
#define VELKO_EXPORT_ATTACHMENT_NAMES_H

#include <string>
#include <vector>

#include "velko/host_types.h"

struct attachment_names {
  std::vector<std::string> files;       /* "$FILE" attachments */
  std::vector<std::string> ole_objects; /* OLE objects */
};

/* Adds the name the record (host form, header included) refers to, if
 * any; a name already listed is not added again. Fields that do not lie
 * inside the record are not read. */
void CollectAttachmentName(const BYTE* record, WORD signature, DWORD length,
                           attachment_names* names);

/* Adds the names every record of the note's items of that name refers
 * to. An item that is not rich text, or whose records cannot be read to
 * the end, adds what was read; the host's status of a failed read is
 * returned, else 0. */
STATUS CollectItemAttachmentNames(NOTEHANDLE note, const char* itemName, attachment_names* names);

/* Adds the names every rich-text item of the note (of any name) refers
 * to. Reading is as for CollectItemAttachmentNames; the first failure is
 * returned, after the other items were read. */
STATUS CollectNoteAttachmentNames(NOTEHANDLE note, attachment_names* names);

/* Detaches from the note each listed "$FILE" attachment (names compared
 * without regard to case) and deletes each listed OLE object. A name that
 * the note does not hold is passed over; any other failure is logged and
 * the rest are still removed. */
void RemoveNamedAttachments(NOTEHANDLE note, const attachment_names& names);

/* Removes from the note each candidate that no rich-text item of the note
 * names any more (files compared without regard to case, OLE objects with
 * it). When the note's rich text cannot be read, nothing is removed and
 * the failure is logged under the item's name. */
void RemoveAttachmentsNoOneNames(NOTEHANDLE note, attachment_names candidates,
                                 const char* itemName);

#endif
