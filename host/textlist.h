/*
 * Text lists of the host in memory blocks.
 *
 * Layout (all words in host order, possibly unaligned):
 *   [WORD data type TYPE_TEXT_LIST, when prefixed]
 *   WORD count
 *   WORD lengths[count]
 *   the texts back to back, not NUL-terminated.
 * A list is made with room for a number of entries and text bytes and is
 * filled by appending; an entry that the block cannot hold is refused.
 */
#ifndef VELKO_HOST_TEXTLIST_H
#define VELKO_HOST_TEXTLIST_H

#include "velko/host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define TYPE_TEXT_LIST 0x0501

/* Allocates a block with room for listEntries entries and textSize bytes of
 * text, holding an empty list, and returns it locked (*retpList; the caller
 * unlocks and frees it). *retListSize is the bytes in use. Any of the
 * return pointers but retHandle may be null. */
STATUS ListAllocate(WORD listEntries, WORD textSize, BOOL prefixDataType, DHANDLE* retHandle,
                    void** retpList, WORD* retListSize);

/* Appends an entry; entryNumber must be the current count. *pListSize (may
 * be null) becomes the bytes in use. ERR_HOST_LIST_FULL when the block
 * cannot hold it (the list is unchanged). */
STATUS ListAddEntry(DHANDLE handle, BOOL prefixDataType, WORD* pListSize, WORD entryNumber,
                    const char* text, WORD textSize);

/* The number of entries; 0 for a null list. */
WORD ListGetNumEntries(const void* list, BOOL prefixDataType);

/* The address and length of an entry's text (either return may be null);
 * ERR_HOST_LIST_ENTRY when there is no such entry. */
STATUS ListGetText(const void* list, BOOL prefixDataType, WORD entryNumber, char** retText,
                   WORD* retTextLength);

#ifdef __cplusplus
}
#endif

#endif
