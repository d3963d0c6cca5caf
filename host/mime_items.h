/*
 * MIME items: how a note holds an RFC 822 message. Each entity of the
 * message is one TYPE_MIME_PART item under the body's name, in message
 * order; its value (after the type word) is a MIME_PART header, the
 * boundary line that opened the entity (empty for the first), the entity's
 * headers with their closing blank line, and its content. Content too long
 * for one item goes on in later items marked MIME_PART_CONTINUED, whose
 * boundary and headers are empty. The boundary, headers and content of all
 * items, joined in order, are the message byte for byte.
 */
#ifndef VELKO_HOST_MIME_ITEMS_H
#define VELKO_HOST_MIME_ITEMS_H

#include "velko/host_types.h"

#define MIME_PART_VERSION 2
#define MIME_PART_CONTINUED 0x0001 /* the content goes on from the item before */

typedef struct {
  WORD Version;        /* MIME_PART_VERSION */
  WORD Flags;          /* MIME_PART_* */
  WORD BoundaryLength; /* bytes of the opening boundary line */
  WORD HeadersLength;  /* bytes of the headers, closing blank line included */
  DWORD ContentLength; /* bytes of content in this item */
} MIME_PART;
#ifdef __cplusplus
static_assert(sizeof(MIME_PART) == 12, "MIME_PART is 12 bytes");
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Most content bytes one item holds. */
#define MIME_PART_CONTENT_LIMIT 30000u

/* The three spans of one item value (type word first, as NSFItemInfo's
 * value block holds it); they point into the value. */
typedef struct {
  WORD Flags;
  const char* Boundary;
  WORD BoundaryLength;
  const char* Headers;
  WORD HeadersLength;
  const char* Content;
  DWORD ContentLength;
} MIME_PART_SPANS;

/* Reads an item value (type word included) into its spans.
 * ERR_HOST_BAD_RECORD when it is no MIME item of this layout. */
STATUS MIMEPartSpans(const void* value, DWORD valueLength, MIME_PART_SPANS* spans);

/* Replaces the note's items of the name by the message as MIME items. On
 * failure the items made so far are deleted again and the status is
 * returned. */
STATUS MIMEStoreMessage(NOTEHANDLE note, const char* itemName, const char* message,
                        DWORD messageLength);

#ifdef __cplusplus
}
#endif

#endif
