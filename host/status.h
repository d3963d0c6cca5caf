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
 * ERR_MEMORY is also what every host call returns when memory runs out:
 * none of them lets an exception out.
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

/* Databases, notes, items, objects and collections: 0x3110-0x312F. */
#define ERR_HOST_NOTE_NOT_FOUND 0x3110      /* no note with this ID or UNID */
#define ERR_HOST_SERVER_NOT_LOCAL 0x3111    /* only the local server is served */
#define ERR_HOST_VALUE_TOO_LARGE 0x3112     /* item value above the size cap */
#define ERR_HOST_DB_EXISTS 0x3113           /* database already exists */
#define ERR_HOST_DB_NOT_FOUND 0x3114        /* no database at this path */
#define ERR_HOST_STORAGE 0x3115             /* the database file could not be read or written */
#define ERR_HOST_OBJECT_NOT_FOUND 0x3116    /* no database object with this ID */
#define ERR_HOST_FILE_IO 0x3117             /* a file could not be read or written */
#define ERR_HOST_NOT_ATTACHMENT 0x3118      /* the item is not a file attachment */
#define ERR_HOST_COLLECTION 0x3119          /* no such collection */
#define ERR_HOST_DB_IN_USE 0x311A           /* the database is open and cannot be replaced */
#define ERR_HOST_UNID_EXISTS 0x311B         /* another note of the database has this UNID */
#define ERR_HOST_ITEM_DAMAGED 0x311C        /* the item's stored value cannot hold its type word */

/* Composite data: 0x3130-0x313F. */
#define ERR_HOST_BAD_RECORD 0x3130          /* a CD record header is not valid */
#define ERR_HOST_BAD_CD_FILE 0x3131         /* not a CD file */
#define ERR_HOST_ODS_TYPE 0x3132            /* unknown structure type */
#define ERR_HOST_NOT_COMPOSITE 0x3133       /* the item value is not composite data */

/* Formulas: 0x3140-0x315F. */
#define ERR_FORMULA_COMPILE 0x3140          /* the formula has a syntax error */
#define ERR_FORMULA_UNEXPECTED 0x3141       /* unexpected token */
#define ERR_FORMULA_UNTERMINATED 0x3142     /* unterminated string or bracket */
#define ERR_FORMULA_UNKNOWN_FUNCTION 0x3143 /* unknown @function */
#define ERR_FORMULA_EMPTY 0x3144            /* nothing to compile */
#define ERR_FORMULA_BAD_FORMULA 0x3145      /* not a compiled formula */
#define ERR_FORMULA_TOO_LONG 0x3146         /* the compiled formula would pass 64 KB */
#define ERR_FORMULA_TOO_DEEP 0x3147         /* nested too deeply */
#define ERR_FORMULA_DATA_TYPE 0x3148        /* a value of the wrong type */
#define ERR_FORMULA_NOT_AVAILABLE 0x3149    /* an @function that does not evaluate here */
#define ERR_FORMULA_TOO_BIG 0x314A          /* a value passes the list or text caps */
#define ERR_FORMULA_ARGUMENTS 0x314B        /* wrong number of arguments */
#define ERR_FORMULA_BAD_VALUE 0x314C        /* a value an operation cannot take */

/* Import filters: 0x3160-0x316F. */
#define ERR_FILTER_NO_LIBRARY 0x3160        /* no import filter library of this name */
#define ERR_FILTER_FORMAT 0x3161            /* the filter does not convert this format */
#define ERR_FILTER_BAD_IMAGE 0x3162         /* the file is not a whole image of the format */
#define ERR_FILTER_TOO_LARGE 0x3163         /* the file is too large for the filter */

#define ERR_HOST_LAST 0x31FF

#endif
