/*
 * Notes and their items.
 *
 * An opened note is an in-memory working copy of the stored note: item
 * calls change only the copy, NSFNoteUpdate writes it back in one
 * transaction, NSFNoteClose drops it. Note IDs start at 0x100 and step by
 * 4, never reused.
 *
 * Items of one name keep their order. Every item value starts with its
 * data-type word, which the value length includes. A value is reached
 * through a BLOCKID (OSLockBlock); the value of a deleted item stays valid
 * while it is locked.
 *
 * No call lets an exception out: running out of memory is ERR_MEMORY (0 for
 * the calls that return a length) and leaves the note as it was.
 */
#ifndef VELKO_HOST_NSFNOTE_H
#define VELKO_HOST_NSFNOTE_H

#include "host/nsfdata.h"
#include "velko/host_types.h"

/* An OLE object's class identifier (host/cdrecords.h). */
struct OLE_GUID;

#ifdef __cplusplus
extern "C" {
#endif

/* ---- blocks ---- */

/* Locks the block's memory object and returns the block's address. */
void* OSLockBlock(BLOCKID bid);
void OSUnlockBlock(BLOCKID bid);

/* ---- notes ---- */

/* Open flags (accepted and ignored unless stated). */
#define OPEN_SUMMARY 0x0001
#define OPEN_EXPAND 0x0004
#define OPEN_NOVERIFYDEFAULT 0x0008
#define OPEN_RAW_MIME 0x0100 /* also: open without converting MIME */

/* Update flags. */
#define UPDATE_FORCE 0x0001
#define UPDATE_NOCOMMIT 0x0002

/* Members for NSFNoteGetInfo and NSFNoteSetInfo. */
#define _NOTE_DB 0        /* DBHANDLE (get only) */
#define _NOTE_ID 1        /* NOTEID; 0 until the note is first stored */
#define _NOTE_OID 2       /* ORIGINATORID */
#define _NOTE_CLASS 3     /* WORD */
#define _NOTE_MODIFIED 4  /* TIMEDATE */
#define _NOTE_FLAGS 7     /* WORD */

STATUS NSFNoteOpen(DBHANDLE db, NOTEID noteID, WORD openFlags, NOTEHANDLE* retNote);
STATUS NSFNoteOpenByUNID(DBHANDLE db, const UNID* unid, WORD openFlags, NOTEHANDLE* retNote);
/* A new note (class NOTE_CLASS_DOCUMENT, no items, note ID 0) of the database. */
STATUS NSFNoteCreate(DBHANDLE db, NOTEHANDLE* retNote);
/* A copy of the note with all its items, for the same database; it keeps
 * the source's note ID and OID until the caller changes them. */
STATUS NSFNoteCopy(NOTEHANDLE source, NOTEHANDLE* retCopy);
/* Stores the note: a new note (note ID 0) gets its note ID, every item row
 * is rewritten in one transaction, the sequence number grows and the
 * sequence time and modification time become now. On failure the stored
 * note and the working copy are unchanged: ERR_HOST_STORAGE,
 * ERR_HOST_NOTE_NOT_FOUND for a note ID the database does not hold (never
 * a way to bring back a deleted note), ERR_HOST_UNID_EXISTS when another
 * stored note has the note's UNID. The update flags are not used. */
STATUS NSFNoteUpdate(NOTEHANDLE note, WORD updateFlags);
STATUS NSFNoteClose(NOTEHANDLE note);
/* Deletes a stored note and its items; ERR_HOST_NOTE_NOT_FOUND when there
 * is none. Its note ID is never handed out again. Open working copies of
 * it stay open; updating one gives ERR_HOST_NOTE_NOT_FOUND. */
STATUS NSFNoteDelete(DBHANDLE db, NOTEID noteID, WORD updateFlags);
void NSFNoteGetInfo(NOTEHANDLE note, WORD member, void* retValue);
void NSFNoteSetInfo(NOTEHANDLE note, WORD member, const void* value);

/* Signing and sealing: no-ops (notes are never signed or sealed here). */
STATUS NSFNoteSign(NOTEHANDLE note);
STATUS NSFNoteUnsign(NOTEHANDLE note);
/* FALSE, with both flags FALSE. */
BOOL NSFNoteIsSignedOrSealed(NOTEHANDLE note, BOOL* retSigned, BOOL* retSealed);
STATUS NSFNoteDecrypt(NOTEHANDLE note, WORD decryptFlags, const void* decryptionKey);

/* ---- items ----
 * Item names are 1 to 255 bytes (ERR_HOST_BAD_ARGUMENT otherwise). An item
 * BLOCKID is {the note handle, the item's serial in the working copy}; a
 * value BLOCKID is {a memory handle holding the value, 0}. */

/* The first item of the name: its descriptor, data type, value and value
 * length (type word included). Any out pointer may be null.
 * ERR_ITEM_NOT_FOUND when the note has none. Names compare without regard
 * to ASCII case. An item whose stored value is too short to hold its type
 * word (damaged outside the host) gives ERR_HOST_ITEM_DAMAGED and only its
 * descriptor, and a message naming it goes to the message handler; the
 * note itself opens, and such an item is written back as it is. */
STATUS NSFItemInfo(NOTEHANDLE note, const char* name, WORD nameLength, BLOCKID* retItemBid,
                   WORD* retDataType, BLOCKID* retValueBid, DWORD* retValueLength);
/* The next item of the name after prevItemBid (an item of this note;
 * ERR_HOST_BAD_ARGUMENT otherwise); ERR_ITEM_NOT_FOUND at the end and
 * after an item that has been deleted. */
STATUS NSFItemInfoNext(NOTEHANDLE note, BLOCKID prevItemBid, const char* name, WORD nameLength,
                       BLOCKID* retItemBid, WORD* retDataType, BLOCKID* retValueBid,
                       DWORD* retValueLength);

/* Appends an item: the data type and a value without its type word. A
 * placeholder (ITEM_PLACEHOLDER) is appended with data type 0 and no
 * value; it reads back as type 0 with a value of its type word alone. */
STATUS NSFItemAppend(NOTEHANDLE note, WORD itemFlags, const char* name, WORD nameLength,
                     WORD dataType, const void* value, DWORD valueLength);
/* Appends an item whose value (type word first) is the block's content;
 * the block stays the caller's. */
STATUS NSFItemAppendByBLOCKID(NOTEHANDLE note, WORD itemFlags, const char* name,
                              WORD nameLength, BLOCKID valueBid, DWORD valueLength,
                              BLOCKID* retItemBid);
/* As NSFItemAppendByBLOCKID for an object item (TYPE_OBJECT value); with
 * freeValue the block's memory object is freed once the item holds a copy. */
STATUS NSFItemAppendObject(NOTEHANDLE note, WORD itemFlags, const char* name, WORD nameLength,
                           BLOCKID valueBid, DWORD valueLength, BOOL freeValue);
/* Adds an entry to the text list item of the name, creating the item
 * (ITEM_SUMMARY) when the note has none; a TYPE_TEXT item becomes a list;
 * an item of any other type gives ERR_HOST_BAD_ARGUMENT. Without
 * allowDuplicates an entry already present (case-sensitive) is not added
 * again. */
STATUS NSFItemAppendTextList(NOTEHANDLE note, const char* name, const char* text,
                             WORD textLength, BOOL allowDuplicates);
/* The stand-in's own: appends count entries to the text list item as
 * NSFItemAppendTextList with allowDuplicates appends them one at a time,
 * writing the list once. texts holds the entries back to back, lengths
 * their lengths. All of them go in, or none, with the status that the
 * first that does not fit would have had. */
STATUS NSFItemAppendTextListEntries(NOTEHANDLE note, const char* name, const char* texts,
                                    const WORD* lengths, DWORD count);
/* The stand-in's own: the value size cap in force (see
 * ITEM_VALUE_LIMIT_DEFAULT). */
DWORD NSFItemValueLimit(void);
/* Deletes every item of the name; ERR_ITEM_NOT_FOUND when there is none. */
STATUS NSFItemDelete(NOTEHANDLE note, const char* name, WORD nameLength);
/* Appends a copy of an item (of any open note; the BLOCKID's pool names
 * it) to this note. */
STATUS NSFItemCopy(NOTEHANDLE note, BLOCKID itemBid);
/* Replaces the items of the name by one TYPE_TEXT item (ITEM_SUMMARY),
 * appended at the end; when the new value is refused the old items stay. */
STATUS NSFItemSetText(NOTEHANDLE note, const char* name, const char* text, WORD textLength);
/* Text of a TYPE_TEXT item, or the first entry of a TYPE_TEXT_LIST item;
 * the length copied (at most bufferLength - 1 bytes and a NUL); 0 when the
 * item is missing, damaged or of another type. */
WORD NSFItemGetText(NOTEHANDLE note, const char* name, char* retBuffer, WORD bufferLength);
/* The item as text: texts as they are, text lists joined by the separator,
 * numbers ("%g") and times (ConvertTIMEDATEToText); the length copied (at
 * most bufferLength - 1 bytes and a NUL); 0 when missing or not convertible. */
WORD NSFItemConvertToText(NOTEHANDLE note, const char* name, char* retBuffer,
                          WORD bufferLength, char separator);
/* Name of an item: copied into retName (at least 256 bytes) and its length. */
WORD NSFItemGetName(NOTEHANDLE note, BLOCKID itemBid, char* retName);

/* Called by NSFItemScan for each item: spare (0), the item's flags, its
 * name (nameLength bytes, not terminated), its value (type word first; a
 * damaged value is handed as it is, shorter than its type word) and the
 * value's length. A non-zero status ends the scan. */
typedef STATUS (*NSFItemScanProc)(WORD spare, WORD itemFlags, char* name, WORD nameLength,
                                  void* value, DWORD valueLength, void* context);
/* Calls the routine for every item of the note, in the note's order, as
 * the note holds them when the scan starts: an item the routine deletes
 * before it is reached is passed over, one it appends is not reached.
 * 0 after the last item, else the routine's non-zero status. */
STATUS NSFItemScan(NOTEHANDLE note, NSFItemScanProc routine, void* context);

/* ---- attachments ---- */

/* Stores the file as a database object and appends a "$FILE" item (type
 * TYPE_OBJECT, a FILEOBJECT with the file name behind it, item flags 7).
 * The item's name must be "$FILE" (any case); originalPathName (else
 * pathName) gives the attachment's file name: its last '/' or '\' path
 * element. The bytes are stored as they are (compression 0, whatever the
 * encoding asked for); created and modified times are the file's
 * modification time. The object is written at once; when the item cannot
 * be appended it is removed again. ERR_HOST_FILE_IO when the file cannot
 * be read. */
STATUS NSFNoteAttachFile(NOTEHANDLE note, const char* itemName, WORD itemNameLength,
                         const char* pathName, const char* originalPathName, WORD encodingType);
/* Writes the attachment of the "$FILE" item to the file (replacing it).
 * ERR_HOST_NOT_ATTACHMENT for an item that holds no FILEOBJECT,
 * ERR_HOST_OBJECT_NOT_FOUND when its object is gone, ERR_HOST_FILE_IO when
 * the file cannot be written. */
STATUS NSFNoteExtractFile(NOTEHANDLE note, BLOCKID itemBid, const char* fileName,
                          const void* decryptionKey);

/* Takes the "$FILE" item out of the note and frees its database object.
 * ERR_ITEM_NOT_FOUND when the note has no such item, ERR_HOST_NOT_ATTACHMENT
 * for an item that holds no FILEOBJECT (it stays). The object is removed
 * first: when that fails the item stays and the status is returned. */
STATUS NSFNoteDetachFile(NOTEHANDLE note, BLOCKID itemBid);

/* ---- OLE objects ----
 * An OLE object is a database object holding the object's bytes and one
 * "$OLEOBJINFO" item (TYPE_COMPOSITE, one CDOLEOBJ_INFO record with the
 * object's name, description and the name of the item that shows it).
 * Object names compare with regard to case. */

/* Stores the file as the OLE object objectName of the note, with its
 * "$OLEOBJINFO" item (item flags ITEM_SIGN | ITEM_SUMMARY). createInfo must
 * be non-zero (the stand-in keeps no object without its information);
 * description and fieldName may be null (empty); flags keeps only
 * OLEOBJINFO_FLAG_SCRIPTED and OLEOBJINFO_FLAG_CONTROL. An object of that
 * name already in the note gives ERR_HOST_BAD_ARGUMENT; ERR_HOST_FILE_IO
 * when the file cannot be read. The object is removed again when its item
 * cannot be appended. */
STATUS NSFNoteAttachOLE2Object(NOTEHANDLE note, const char* pathName, const char* objectName,
                               BOOL createInfo, const char* description, const char* fieldName,
                               const OLE_GUID* objectClass, WORD displayFormat, DWORD flags);
/* Writes the bytes of the note's OLE object objectName to the file. An
 * existing file is replaced only when overwrite is non-zero (else
 * ERR_HOST_FILE_IO). decryptionKey and flags are not used.
 * ERR_ITEM_NOT_FOUND when the note has no such object. */
STATUS NSFNoteExtractOLE2Object(NOTEHANDLE note, const char* objectName, const char* fileName,
                                const void* decryptionKey, BOOL overwrite, DWORD flags);
/* Takes the OLE object's "$OLEOBJINFO" item out of the note and frees its
 * database object (the object first: when that fails the item stays).
 * ERR_ITEM_NOT_FOUND when the note has no such object. */
STATUS NSFNoteDeleteOLE2Object(NOTEHANDLE note, const char* objectName);

/* Value size cap: an item value (type word included) larger than this is
 * refused with ERR_HOST_VALUE_TOO_LARGE. 65535 unless a test changes it. */
#define ITEM_VALUE_LIMIT_DEFAULT 65535u

#ifdef __cplusplus
}
#endif

#endif
