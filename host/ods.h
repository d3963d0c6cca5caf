/*
 * Conversion of structures between their stored (canonical) form and the
 * host form, and enumeration of the CD records of an item value or a CD
 * file.
 *
 * Host form is the 32-bit layout of each structure, packed to 4 bytes.
 * Stored form is the host form without a few pad bytes: the two bytes after
 * the signature of a long (LSIG) record header, so that stored LSIG headers
 * are 6 bytes, and one alignment pad inside CDRESOURCE and inside
 * CDPABDEFINITION. Every other structure is the same in both forms.
 * Structures and their ODS type numbers are declared in host/cdrecords.h.
 */
#ifndef VELKO_HOST_ODS_H
#define VELKO_HOST_ODS_H

#include "host/nsfdata.h"
#include "velko/host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Stored size of one structure of the type; 0 for an unknown type. */
WORD ODSLength(WORD type);

/* Reads iterations structures of the type from *ppSrc (stored form) into
 * pDest (host form) and advances *ppSrc past what was read. */
void ODSReadMemory(const void** ppSrc, WORD type, void* pDest, WORD iterations);

/* Writes iterations structures of the type from pSrc (host form) to
 * *ppDest (stored form) and advances *ppDest past what was written. */
void ODSWriteMemory(void** ppDest, WORD type, const void* pSrc, WORD iterations);

/* Called for each record in stored form: its address (header first), its
 * signature as the record list holds it (0x00nn or 0xFFnn) and its length.
 * A non-zero status ends the enumeration and is returned by it. */
typedef STATUS (*ActionRoutinePtr)(char* recordPtr, WORD recordType, DWORD recordLength,
                                   void* context);

/* Enumerates the records of a TYPE_COMPOSITE item value (type word first).
 * A header that is not valid (length below its header size or past the
 * value, signature or length 0) ends the enumeration with
 * ERR_HOST_BAD_RECORD. A missing pad byte after an odd last record is
 * tolerated. */
STATUS EnumCompositeBuffer(BLOCKID itemValue, DWORD itemValueLength,
                           ActionRoutinePtr actionRoutine, void* context);

/* The same over a CD file: the type word 1 followed by stored records. */
STATUS EnumCompositeFile(const char* fileName, ActionRoutinePtr actionRoutine, void* context);

#ifdef __cplusplus
}
#endif

#endif
