/*
 * Stepping to the next target of an item by reading its stored values
 * again: FindNextTarget reports the kind of the first record after a given
 * record number that begins a target, and its per-record step classifies
 * one stored record.
 *
 * Finding named elements and text runs among the loaded records is the
 * chunk layer's (chunk/find.h), since it needs the text search and the
 * font filter.
 */
#ifndef VELKO_ENGINE_FIND_H
#define VELKO_ENGINE_FIND_H

#include "velko/velko.h"

/* The target type of the host-form record (signature as the record list
 * holds it) when it begins a target that stepping reports: links, tables,
 * layers, graphics, text, layouts, fields, OLE objects, anchors, rules,
 * events and the hotspot family by its type and flags; 0 for any other
 * record. */
WORD ClassifyTargetRecord(const char* record, WORD signature, DWORD length);

/* The state of one stepping walk, handed to FindNextTarget_OneCDRecord. */
struct next_target_walk {
  VelkoRTItem* item = nullptr; /* its conversion buffer turns records into host form */
  DWORD counter = 0;           /* records met so far, over every item of the name */
  DWORD from = 0;              /* the first record number looked at */
  DWORD to = 0;                /* the last one, when bounded_above */
  bool bounded_above = false;
  WORD found = 0;              /* the target type found */
};

/* The per-record step of FindNextTarget, in the host's enumeration form:
 * counts the stored record, and when its number lies in the walk's bounds
 * converts and classifies it. Returns 546, which ends the enumeration, when
 * it found a target. */
STATUS FindNextTarget_OneCDRecord(char* record, WORD signature, DWORD length, void* walk);

/* The kind of the first target record of the chunk's item (the records of
 * all its stored items numbered from 1) after `high` when not bounded, or
 * strictly between `low` and `high` when bounded (high 0: no upper bound).
 * The record number reached (the target's, or the count of records when
 * none was found) and the first number looked at go to the session's first
 * and second found words. 0 when no target was found; also 0, with the
 * found words unchanged, for an item that is missing or not rich text or
 * whose records cannot be read. */
WORD FindNextTarget(VelkoRTChunk* chunk, int bounded, DWORD low, DWORD high);

#endif
