/*
 * Services of higher layers that the rich-text store calls: copying a whole
 * rich-text item (the chunk layer) and turning a MIME item into rich text
 * (the export layer). Declared here once; each is defined by the layer that
 * owns it. Until a layer provides the real operation, its definition
 * reports that the operation is not available.
 */
#ifndef VELKO_STORE_SERVICES_H
#define VELKO_STORE_SERVICES_H

#include "velko/velko.h"

/* Copies the whole body of `from` into the item of `to`. 0 on success;
 * 1298 counts as success for the caller. */
STATUS CopyRTItem(VelkoRTItem* from, VelkoRTItem* to, int sameNote, int reserved);

/* Turns the MIME item of the open note into a rich-text item of the same
 * name. The caller reads the item's data type again afterwards. */
STATUS ConvertFromMIMEBackend(VelkoRTItem* item, NOTEHANDLE note, const char* itemName,
                              const char* a, WORD aLength, const char* b, WORD bLength);

#endif
