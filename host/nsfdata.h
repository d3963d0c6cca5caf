/*
 * Data types, flags and identifiers shared by the host's database, note and
 * item calls: item data types, item flags, note classes, BLOCKIDs, UNIDs
 * and originator IDs.
 *
 * Record layouts (CD records, NOTELINK, FILEOBJECT) are declared in
 * host/cdrecords.h, not here.
 */
#ifndef VELKO_HOST_NSFDATA_H
#define VELKO_HOST_NSFDATA_H

#include "velko/host_types.h"

/* Item data types: the first word of every item value. */
#define TYPE_ERROR 0x0000
#define TYPE_COMPOSITE 0x0001
#define TYPE_OBJECT 0x0003
#define TYPE_NOTEREF_LIST 0x0007
#define TYPE_MIME_PART 0x0019
#define TYPE_NUMBER 0x0300
#define TYPE_NUMBER_RANGE 0x0301
#define TYPE_TIME 0x0400
#define TYPE_TIME_RANGE 0x0401
#define TYPE_TEXT 0x0500
/* TYPE_TEXT_LIST 0x0501 is declared with the text lists (host/textlist.h). */

/* The head of a number or time range value (after its type word): the
 * single entries, then the pairs. */
typedef struct {
  WORD ListEntries;
  WORD RangeEntries;
} RANGE;
#define TYPE_FORMULA 0x0600
#define TYPE_USERID 0x0700
#define TYPE_INVALID_OR_UNKNOWN 0x0000

/* Item flags. */
#define ITEM_SIGN 0x0001
#define ITEM_SEAL 0x0002
#define ITEM_SUMMARY 0x0004
#define ITEM_READWRITERS 0x0020
#define ITEM_NAMES 0x0040
#define ITEM_PLACEHOLDER 0x0100
#define ITEM_PROTECTED 0x0200
#define ITEM_READERS 0x0400

/* Note classes. */
#define NOTE_CLASS_DOCUMENT 0x0001
#define NOTE_CLASS_INFO 0x0002
#define NOTE_CLASS_FORM 0x0004
#define NOTE_CLASS_VIEW 0x0008
#define NOTE_CLASS_ICON 0x0010
#define NOTE_CLASS_DESIGN 0x0020
#define NOTE_CLASS_ACL 0x0040
#define NOTE_CLASS_HELP_INDEX 0x0080
#define NOTE_CLASS_HELP 0x0100
#define NOTE_CLASS_FILTER 0x0200
#define NOTE_CLASS_FIELD 0x0400
#define NOTE_CLASS_REPLFORMULA 0x0800
#define NOTE_CLASS_PRIVATE 0x1000
#define NOTE_CLASS_DEFAULT 0x8000
#define NOTE_CLASS_ALL 0x7FFF

/* Special note IDs: the design collection of a database. */
#define NOTE_ID_SPECIAL 0xFFFF0000u

/* A block inside a host memory object: the object's handle and an offset
 * into it. Item values and item descriptors are reached through BLOCKIDs. */
typedef struct {
  DHANDLE pool;
  WORD block;
} BLOCKID;

#define NULLBLOCK ((WORD)0)

#ifdef __cplusplus
inline bool ISNULLBLOCKID(BLOCKID bid) { return bid.pool == NULLHANDLE; }
#endif

/* Universal note ID: the database's file part and the note's time part. */
typedef struct {
  DWORD File[2];
  TIMEDATE Note;
} UNID;

/* Originator ID: a UNID with the sequence number and time of the last
 * change (28 bytes). */
typedef struct {
  DWORD File[2];
  TIMEDATE Note;
  DWORD Sequence;
  TIMEDATE SequenceTime;
} ORIGINATORID;

typedef ORIGINATORID OID;

/* Replica information of a database. */
typedef struct {
  TIMEDATE ID; /* the replica ID */
  WORD Flags;
  WORD CutoffInterval;
  TIMEDATE Cutoff;
} DBREPLICAINFO;

#ifdef __cplusplus
static_assert(sizeof(UNID) == 16, "UNID is 16 bytes");
static_assert(sizeof(ORIGINATORID) == 28, "ORIGINATORID is 28 bytes");
static_assert(sizeof(DBREPLICAINFO) == 20, "DBREPLICAINFO is 20 bytes");
#endif

#endif
