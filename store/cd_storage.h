/*
 * Graphics held as storage objects: the image records of a body written
 * into a file object of the note, leaving in the body a storage link to it;
 * reading such stored CD data back record by record; and the pixel size of
 * an image found from its records.
 *
 * The object's layout (all words little-endian, as stored): a word
 * segment count, one word length per segment, then each segment: the word
 * 1 and its records in stored form, each odd record followed by a 0 byte. A
 * segment's length counts its opening word and its records with their pad
 * bytes.
 *
 * Not here: the engine's graphic actions that call these, and attachments
 * made from files (the host's NSFNoteAttachFile).
 */
#ifndef VELKO_STORE_CD_STORAGE_H
#define VELKO_STORE_CD_STORAGE_H

#include "velko/velko.h"

struct generation_context;
struct record_storage;

/* Moves the records first..last (inclusive; last must follow first in its
 * list) into a new file object of the note of context->item, named
 * "Graphic", or else the first of "Graphic0" to "Graphic999" that no
 * attachment of the note holds. The object is written and its "$FILE"
 * item appended before any record is emitted; then the records 0x99 and
 * 0xDD of the run, a storage link to the object, the run's last 0x95
 * record (or a new one of the image header's size, else 100 by 100) and
 * its last 0xDE record go through the emitter of context.
 *
 * 0; 263 for a null argument or a last record that does not follow first;
 * 1028 when every name is taken or a segment table cannot hold the run;
 * 257 or 263 when a record cannot be converted to stored form; the host's
 * status (allocation masked with 0x3FFF) when the object cannot be
 * allocated or written or its item appended: nothing new is left in the
 * note then and nothing is emitted. An emitter failure is returned as it
 * is, after the object and its item are in place. */
STATUS ConvertCDRecordsToCDStorage(generation_context* context, record_storage* first,
                                   record_storage* last);

/* What GetRecordFromCDData reads for: the bytes its caller still expects
 * (reduced by every record read) and the emitter that receives them. */
struct cd_record_context {
  DWORD remaining = 0;
  generation_context* context = nullptr;
};

/* Reads the stored record at *data (header as the loader reads it, length
 * made even) and emits it in host form. On success *data moves behind it
 * and *remaining and context->remaining lose its even length. 257 for a
 * null pointer, no data, a header that cannot be read, or a record longer
 * than *remaining (which then becomes the length needed); 257 or 263 when
 * it cannot be converted; else the emitter's status. */
STATUS GetRecordFromCDData(cd_record_context* context, const char** data, DWORD* remaining);

/* The width and height of the graphic whose first record is `first`:
 * sizes given as 0 start as 100; the records from first to the end of its
 * list are read until both are found: an image header's size, a 0x95
 * record's size, a CDGRAPHIC's destination size when its resize flag is
 * set (each only when non-zero), and, while no image type is known, the
 * data of an image segment: GIF (its screen size), BMP (no size) or else
 * a JPEG scan for its first frame header. 1028 when a size pointer is
 * null, else 0. */
STATUS GetDimensionsFromRecords(record_storage* first, WORD* width, WORD* height);

/* Does nothing and returns 0: whole objects are read with the fragment
 * reader below. */
STATUS ConvertCDStorageToCDRecords();

/* A reader of one storage object fed in fragments of any size. Set
 * `context` and leave the rest zero; feed the object's bytes in order.
 * Bytes behind the last segment are ignored. */
struct cd_storage_reader {
  generation_context* context = nullptr; /* receives the records */

  /* The reader's own state. */
  BYTE phase = 0;
  WORD segment_count = 0;
  WORD segments_known = 0; /* lengths read from the table */
  WORD segment = 0;        /* segments begun */
  DWORD segment_left = 0;  /* bytes of the current segment not read yet */
  DWORD carried = 0;       /* bytes of an unfinished piece in carry */
  WORD lengths[1000] = {};
  BYTE carry[0x10000] = {};
};

/* Reads the next fragment of an object: the segment count (0 or more than
 * 1000 refused), the length table, then each segment's opening word and
 * records, emitting each record as soon as it is whole; a piece cut by the
 * fragment's end is carried to the next one. 0; 257 for an object that
 * does not parse (a count refused, a segment shorter than its opening
 * word, a record that passes its segment's end or has no sound header);
 * 263 (logged) when memory runs out; else the emitter's status. */
STATUS ConvertCDStorageToCDRecords_Fragment(const char* fragment, DWORD length,
                                            cd_storage_reader* reader);

#endif
