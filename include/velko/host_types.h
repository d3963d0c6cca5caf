/*
 * Scalar types of the host platform's C API, as the library and its public
 * classes use them. Handles are 32-bit integers that index tables of the
 * host, never pointers. Sizes the host gives as 16 or 32 bits stay 16 or
 * 32 bits on a 64-bit build.
 *
 * This header declares types only; the host calls themselves are declared
 * by the host library's own headers.
 */
#ifndef VELKO_HOST_TYPES_H
#define VELKO_HOST_TYPES_H

#include <stdint.h>

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t BOOL;
typedef uint16_t STATUS;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define NOERROR ((STATUS)0)

/* Handles: 32-bit values; 0 is no handle. */
typedef uint32_t DHANDLE;
typedef uint32_t MEMHANDLE;
typedef uint32_t DBHANDLE;
typedef uint32_t NOTEHANDLE;
typedef uint32_t HMODULE;
#define NULLHANDLE ((DHANDLE)0)

typedef uint32_t NOTEID;
typedef uint16_t FONTIDWORD;

/* A point in time; the layout of the two words belongs to the host. */
typedef struct {
  DWORD Innards[2];
} TIMEDATE;

/* Character-set information handed to the NLS calls; null means the
 * host's own multi-byte character set (LMBCS). */
typedef struct NLS_INFO* NLS_PINFO;

#endif
