/*
 * Finding records past the current record of a walk: a paragraph
 * definition by its PABID among the item's input records, and the highest
 * PABID in use.
 */
#ifndef VELKO_ENGINE_RETRIEVE_H
#define VELKO_ENGINE_RETRIEVE_H

#include "velko/host_types.h"

struct chunk_process_state;

/* The PABID that names any definition. */
constexpr WORD kAnyPabid = 4095;

/* Flags of RetrievePABDEF. */
enum : WORD {
  RETRIEVE_BACKWARD = 0x0001, /* from the last record (or the current one) back */
  RETRIEVE_FORWARD = 0x0002,  /* from the first record (or the current one) on */
  RETRIEVE_FROM_CURRENT = 0x0004,
  RETRIEVE_FIRST_TAKEN = 0x0008, /* stop at the first definition taken */
};

/* Fills the state's retrieved definition with the paragraph definition of
 * the PABID (kAnyPabid: any) found in the item's input records, a later
 * candidate replacing an earlier one unless RETRIEVE_FIRST_TAKEN; a
 * candidate whose PABID is below the one already held is passed over, so
 * (kAnyPabid, RETRIEVE_FORWARD) gives the last definition of the highest
 * PABID. Without a find the default definition stands and
 * retrieved_found is 0. At most 92 bytes of a definition are kept.
 * Returns 0. */
STATUS RetrievePABDEF(WORD pabid, WORD flags, chunk_process_state* state);

/* Raises the state's last PABID to the highest PABID of the item's input
 * paragraph definitions. */
void SetLastPABID(chunk_process_state* state);

#endif
