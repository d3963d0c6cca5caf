/*
 * The objects a copied record names, carried from the source note to the
 * target note: a file attachment ("$FILE") and an OLE object with its
 * "$OLEOBJINFO". The chunk append and the whole-item copy both bring them
 * over through these, by way of a file of their own in the session's
 * temporary directory that is removed afterwards.
 */
#ifndef VELKO_CHUNK_COPY_OBJECTS_H
#define VELKO_CHUNK_COPY_OBJECTS_H

#include <string>

#include "velko/velko.h"

/* Attaches to target the attachment of source whose file name equals name
 * (without regard to case), under the same name. A name that is empty,
 * ".", "..", holds a control byte, or names no attachment attaches
 * nothing and gives ERR_ITEM_NOT_FOUND (the caller copies its record
 * without the object); else 0 or the host's status. */
STATUS CopyAttachmentBetweenNotes(LSXLsiSession* session, NOTEHANDLE source, NOTEHANDLE target,
                                  const char* name, WORD nameLength);

/* Attaches to target, under the target item's name, the OLE object of
 * source whose "$OLEOBJINFO" names the file object name (compared with
 * regard to case), with that information's description, class, display
 * format and flags. An unsafe or unmatched name attaches nothing and gives
 * ERR_ITEM_NOT_FOUND; a target that holds an object of that name already
 * keeps it, nothing is attached and 0 returned (a note holds one object of
 * a name); else 0 or the host's status. */
STATUS CopyOleObjectBetweenNotes(LSXLsiSession* session, NOTEHANDLE source, NOTEHANDLE target,
                                 const char* name, WORD nameLength, const char* targetItemName);

/* True when the note holds the OLE object of that name (with regard to
 * case). */
bool NoteHoldsOleObject(NOTEHANDLE note, const std::string& name);

#endif
