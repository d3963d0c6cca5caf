/*
 * Finding records past the current record of a walk: a paragraph
 * definition by its PABID among the item's input records, and the highest
 * PABID in use; and reading an item's stored values again: the merged cell
 * that covers a table cell, all text or file data of an item, and the
 * item's checksum (CalculateCRC, declared with the store's services in
 * store/services.h because the item calls it).
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

/* The own error word of a state whose item has a stored value of the name
 * that is not rich text. */
constexpr WORD kNotRichTextError = 20029;

/* Reads the stored values of the state's item (its note and item name) and
 * numbers their records from 1. From the table cell numbered
 * `recordNumber` on, the first cell of its own table (not of a table nested
 * in a later cell) whose spans reach back over it is the
 * merged cell that covers it: p1 and p2 become that cell's row and column
 * (from 1), p3 and p4 those of the wanted cell; p1 and p2 stay 0 when no
 * cell covers it before its table ends. The state's own error word
 * (secondary_status) is cleared; an item value that is not rich text gives
 * 257 with the error word 20029. Other host statuses are returned. The
 * walk's record counter is left alone. */
STATUS RetrieveTargetCell(DWORD recordNumber, chunk_process_state* state);

/* Gathers the text of every text record of the items of the name (with a
 * blank for each paragraph record when paragraphBlanks is not 0), or with
 * fileMode the data of the file segments, sized by the last file header
 * met, into a new array (`new char[]`, the caller deletes it with
 * delete[]) of *length bytes and a NUL. File segments beyond the header's
 * size are cut. No item of the name gives the empty text. 263 for a null
 * out pointer or no memory; 257 for an item that is not rich text, a
 * damaged record header, or a file header larger than the stored values;
 * host statuses as they come. Nothing is handed out on failure. */
STATUS RetrieveAllText(NOTEHANDLE note, const char* itemName, char** buffer, DWORD* length,
                       DWORD paragraphBlanks, DWORD fileMode);

#endif
