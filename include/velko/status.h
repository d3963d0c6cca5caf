/*
 * Status codes that velko itself returns. Every operation returns a 16-bit
 * status, 0 for success; statuses of the host's C API pass through unchanged
 * (546, item not found, among them).
 */
#ifndef VELKO_STATUS_H
#define VELKO_STATUS_H

#include "velko/host_types.h"

enum : STATUS {
  VELKO_OK = 0,
  VELKO_ERR_FAILED = 257,           /* the operation failed; see the item's own error word */
  VELKO_ERR_NO_INPUT = 259,         /* no note or input */
  VELKO_ERR_MEMORY = 263,           /* out of memory, or memory that failed to lock */
  VELKO_ERR_ITEM_NOT_FOUND = 546,   /* the host's item-not-found; from an action step: answer complete */
  VELKO_ERR_NOTHING_TO_SORT = 1026,
  VELKO_ERR_INVALID_SEQUENCE = 1027, /* generated record sequence not valid */
  VELKO_ERR_BAD_ARGUMENT = 1028,    /* required argument missing or bad */
  VELKO_STATUS_READ_ONLY = 1298,    /* a reading action ran; taken as success */
  VELKO_STATUS_INLINE_HTML = 14409,
  VELKO_ERR_INVALID_NAME = 20013,   /* own error: invalid database path or item name */
  VELKO_ERR_IMPORT_FAILED = 20014,
  VELKO_ERR_NOT_TABLE_OR_ROW = 20016,
  VELKO_ERR_INVALID_ARGUMENT = 20017,
  VELKO_ERR_NOT_TABLE = 20023,
  VELKO_ERR_BAD_STRUCTURE = 20025,  /* error word: invalid table, hotspot or layout structure */
  VELKO_ERR_BITMAP_EXPORT = 20034,
};

#endif
