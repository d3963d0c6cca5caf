/*
 * Self-contained copies of link records for a body written into another
 * note. A link that names its target by an index into the source note's
 * link table ("$Links", else "$FormLinks") means nothing in another note:
 * the copy of an indexed link (0xFF91) is followed by a 0xFF92 record
 * carrying the note link itself, and a note-link resource without an
 * inline link is rebuilt with its note link inline. The chunk append and
 * the whole-item copy both build them here.
 */
#ifndef VELKO_CHUNK_LINK_COPY_H
#define VELKO_CHUNK_LINK_COPY_H

#include "engine/link_records.h"
#include "store/emitter.h"
#include "velko/host_types.h"

/* Error word of the generation context when a rebuilt link finds no
 * memory. */
constexpr WORD kLinkCopyMemoryError = 20024;

/* True for a record the copies below rebuild: an indexed link (0xFF91), or
 * a resource record (0xFFF6, 0xFF71, 0xFF78, 0xFF5A) of type 2 (note link)
 * whose Flags lack 0x2 (link inline). The fields read lie in the record. */
bool IsIndexedLinkRecord(const BYTE* record, WORD signature, DWORD length);
/* Whether a record of the signature may be one IsIndexedLinkRecord holds
 * true for (false: it never is, whatever its fields). */
bool MayBeIndexedLink(WORD signature);

/* Emits through the emitter the self-contained form of the record (host
 * form, header included), its index looked up in sourceNote's link table:
 * for 0xFF91 a 0xFF92 record (the note link, then the bytes behind the
 * 6-byte fixed part); for a resource the same signature with Flags 0x2,
 * its fixed part and hints, the note link, then the Length1 bytes behind
 * the index. An odd record is emitted with one zero pad byte. A missing
 * table, an index not below its count, or a resource whose fixed part,
 * hints, index and Length1 bytes do not fit the record is a broken
 * reference: the message "TARNO: Broken $Links reference", nothing is
 * emitted, 0. A record not IsIndexedLinkRecord emits nothing (0). Without
 * memory: the message "TARNO: Memory allocation error", error word
 * kLinkCopyMemoryError, 263. Else the emitter's status. The items of
 * the table are looked up as `items` says (a design element's body links
 * through "$FormLinks" only). */
STATUS EmitSelfContainedLink(const BYTE* record, WORD signature, DWORD length,
                             NOTEHANDLE sourceNote, generation_context* context,
                             link_table_items items = link_table_items::links_then_form_links);

#endif
