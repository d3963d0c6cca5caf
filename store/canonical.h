/*
 * The store's table of record signatures with a known fixed structure, and
 * an item's two conversion buffers.
 *
 * The four conversion members themselves are VelkoRTItem's
 * (include/velko/velko.h); this header only serves the store's other files:
 * the item's destructor releases the buffers, the loader and the emitter
 * may ask for a signature's fixed part.
 */
#ifndef VELKO_STORE_CANONICAL_H
#define VELKO_STORE_CANONICAL_H

#include "host/cdrecords.h"
#include "store/tracked_memory.h"
#include "velko/velko.h"

/* Size of each conversion buffer, and the longest record converted (the
 * rest of the buffer is room for growth). */
constexpr DWORD kConversionBufferSize = kWorkBlockSize;
constexpr DWORD kLargestConvertedRecord = 64382;

/* The item's two conversion buffers: A receives every converted record, B
 * holds the source copy. */
enum : int {
  kConversionBufferA = 0,
  kConversionBufferB = 1,
};

/* One signature of the table. */
struct cd_signature_entry {
  WORD ods_type = 0;
  WORD host_size = 0;          /* fixed part in host form; 0 for a raw copy */
  cd_header_kind kind = CD_HEADER_BSIG;
  bool known = false;
  bool raw = false;            /* carried over unchanged in both directions */
};

/* The entry of a signature as the record list holds it (0x00nn or 0xFFnn),
 * or null for a signature outside the table. */
const cd_signature_entry* LookupCDSignature(WORD signature);

/* What the loader and the writer need to know of a signature's forms. */
struct cd_record_form {
  WORD stored_fixed = 0;  /* stored length of the fixed part; 0 without one */
  bool converts = false;  /* the host form differs from the stored form */
};

/* The forms of every signature, by slot: 0x00nn, then 0xFFnn, then one
 * entry (nothing known) for every other signature. */
struct cd_record_forms {
  cd_record_form slots[513];

  const cd_record_form& Of(WORD signature) const {
    const WORD high = signature & 0xFF00;
    if (high == 0x0000)
      return slots[signature & 0xFF];
    if (high == 0xFF00)
      return slots[256 + (signature & 0xFF)];
    return slots[512];
  }
};

/* The table, made from the host's sizes on first use. */
const cd_record_forms* RecordForms();

/* The item's conversion buffer A or B (kConversionBufferSize bytes), made
 * from the session's pool on first use; null when it cannot be had. */
BYTE* ConversionBuffer(VelkoRTItem* item, int which);

/* Hands the item's two conversion buffers back to the session's pool;
 * called by the item's destructor. */
void ReleaseConversionBuffers(VelkoRTItem* item);

#endif
