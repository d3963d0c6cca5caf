/*
 * Visiting every stored item of one name on a note, in order, for the
 * routines that read an item's values again instead of its loaded records
 * (target stepping, merged-cell lookup, all text, the checksum), and
 * reading the headers of the stored records in a value.
 *
 * Nothing here converts a record or keeps a value past the visit.
 */
#ifndef VELKO_ENGINE_STORED_ITEMS_H
#define VELKO_ENGINE_STORED_ITEMS_H

#include <string.h>

#include "host/cdrecords.h"
#include "host/nsfnote.h"
#include "velko/status.h"

/* One item value handed to a visitor: its data type, its value block and
 * length (type word included) and its place among the items of the name,
 * from 0. */
struct stored_item_value {
  WORD type = 0;
  BLOCKID value = {};
  DWORD length = 0;
  WORD number = 0;
};

/* Calls visit(const stored_item_value&) for the first item of the name and
 * every further one until the host reports no more; a visitor status other
 * than 0 ends the visits and is returned. The host's item-not-found status
 * when the note has no item of the name; 0 after the last item; any other
 * host status as it comes. */
template <typename Visitor>
STATUS VisitStoredItems(NOTEHANDLE note, const char* name, Visitor&& visit) {
  if (name == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  const size_t nameLength = strlen(name);
  if (nameLength == 0 || nameLength > 0xFFFF)
    return VELKO_ERR_BAD_ARGUMENT;
  const WORD length = static_cast<WORD>(nameLength);
  BLOCKID itemBid = {};
  stored_item_value item;
  STATUS status = NSFItemInfo(note, name, length, &itemBid, &item.type, &item.value, &item.length);
  if (status != NOERROR)
    return status;
  for (;;) {
    status = visit(static_cast<const stored_item_value&>(item));
    if (status != NOERROR)
      return status;
    const BLOCKID previous = itemBid;
    status = NSFItemInfoNext(note, previous, name, length, &itemBid, &item.type, &item.value,
                             &item.length);
    if (status == VELKO_ERR_ITEM_NOT_FOUND)
      return NOERROR;
    if (status != NOERROR)
      return status;
    ++item.number;
  }
}

/* The header of the stored record at `data` with `remaining` bytes from
 * there to the end of the value: its signature as the record list holds it
 * and its whole length. False when the header does not fit the bytes left,
 * or its signature or length is 0, or the length is below the header's own
 * size or runs past the value. */
inline bool ReadStoredHeader(const BYTE* data, DWORD remaining, WORD* signature, DWORD* length) {
  if (remaining < BSIG_HEADER_SIZE)
    return false;
  const cd_header_kind kind = HeaderKindOfSecondByte(data[1]);
  const WORD headerSize = StoredHeaderSize(kind);
  if (remaining < headerSize)
    return false;
  switch (kind) {
  case CD_HEADER_BSIG:
    *signature = data[0];
    *length = data[1];
    break;
  case CD_HEADER_WSIG: {
    WORD word = 0;
    memcpy(&word, data + 2, sizeof word);
    *signature = static_cast<WORD>(0xFF00 | data[0]);
    *length = word;
    break;
  }
  case CD_HEADER_LSIG: {
    DWORD dword = 0;
    memcpy(&dword, data + 2, sizeof dword);
    *signature = data[0];
    *length = dword;
    break;
  }
  }
  return (*signature & 0xFF) != 0 && *length >= headerSize && *length <= remaining;
}

#endif
