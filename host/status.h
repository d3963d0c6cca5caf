/*
 * Status codes of the host stand-in.
 *
 * A STATUS is 16 bits; its low 14 bits are the code (OSLoadString and the
 * engine mask with 0x3FFF), the upper two bits are flags the host may set.
 * The first three codes are the platform's own numbers, which the engine
 * compares against. The stand-in's own errors live in 0x3100-0x31FF, apart
 * from every code the engine itself uses (257, 259, 263, 546, 1026-1028,
 * 1298, 14409, 20013-20034).
 *
 * This header only names codes; their texts come from OSLoadString.
 */
#ifndef VELKO_HOST_STATUS_H
#define VELKO_HOST_STATUS_H

#include "velko/host_types.h"

#define STATUS_CODE_MASK 0x3FFF

/* The platform's own codes. */
#define ERR_MEMORY 263          /* "Insufficient memory" */
#define ERR_ITEM_NOT_FOUND 546  /* "Note item not found" */
#define ERR_NOT_FOUND 0x404     /* "Entry not found in index" (the same number as 1028) */

/* The stand-in's own codes. */
#define ERR_HOST_BASE 0x3100
#define ERR_HOST_BAD_HANDLE 0x3101         /* not a handle of this table */
#define ERR_HOST_STALE_HANDLE 0x3102       /* the handle's block was freed and its slot reused */
#define ERR_HOST_DOUBLE_FREE 0x3103        /* the handle's block was already freed */
#define ERR_HOST_NOT_LOCKED 0x3104         /* unlock of a block that is not locked */
#define ERR_HOST_BAD_ARGUMENT 0x3105       /* a required argument is missing or out of range */
#define ERR_HOST_LIST_FULL 0x3106          /* the text list's block cannot hold the entry */
#define ERR_HOST_NOT_SUPPORTED 0x3107      /* the stand-in does not provide this */
#define ERR_HOST_CHARSET_UNKNOWN 0x3108    /* no converter for this character set id */
#define ERR_HOST_TRANSLATION_FAILED 0x3109 /* the character converter reported an error */
#define ERR_HOST_BUFFER_TOO_SMALL 0x310A   /* the output did not fit; what fits was written */
#define ERR_HOST_LIST_ENTRY 0x310B         /* no such entry in the text list */
#define ERR_HOST_LAST 0x31FF

#endif
