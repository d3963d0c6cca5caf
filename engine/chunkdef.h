/*
 * A parsed chunk definition: a chain of clauses, one per ";"-separated part
 * of the definition text ("Table 1; Row 2"). The last clause names the
 * innermost target. The run fields belong to the engine during one operation.
 */
#ifndef VELKO_ENGINE_CHUNKDEF_H
#define VELKO_ENGINE_CHUNKDEF_H

#include "store/services.h"
#include "velko/host_types.h"

constexpr int kMaxDefinitionIndexes = 100;

/* Relations of a clause to its target. */
enum : WORD {
  RELATION_EVERYTHING = 1,
  RELATION_CONTAINS = 2,
  RELATION_INSIDE = 3,
  RELATION_OUTSIDE = 4,
  RELATION_BEFORE = 5,
  RELATION_AFTER = 6,
  RELATION_STARTS_WITH = 7,
  RELATION_ENDS_WITH = 8,
};

/* How a clause's match text is compared. */
enum : WORD {
  MATCH_NONE = 0,
  MATCH_EXACT = 1,
  MATCH_STARTS = 2,
  MATCH_ENDS = 3,
  MATCH_SUBSTRING = 4,
  MATCH_BY_ID = 6,
  MATCH_BY_NAME = 7,
};

struct chunkdef_info {
  WORD relation = 0;
  WORD target_type = 0;
  WORD index_count = 0; /* 0: every target */
  WORD index_starts[kMaxDefinitionIndexes] = {};
  WORD index_ends[kMaxDefinitionIndexes] = {};
  char* match_text = nullptr; /* owned */
  DWORD literal = 0;          /* 1 for a quoted match text */
  WORD match_mode = MATCH_NONE;
  char* text_copy = nullptr;  /* owned */
  char* extra = nullptr;      /* owned */
  chunkdef_info* next = nullptr;

  /* Run fields, owned by the engine during one operation. */
  DWORD occurrence = 0; /* number of the occurrence of the target last seen */
  DWORD finished = 0;   /* never matched again */
  DWORD seen = 0;       /* Inside: the target's own records have been met */
  DWORD seen_bracket = 0; /* Inside: and the target began at a CDBEGIN */
  /* The walk's nesting depths when the clause was accepted (Inside, until
   * then: where its target began). */
  int32_t depth_hotspot = 0;
  int32_t depth_layer = 0;
  int32_t depth_table = 0;
  WORD depth_ff68 = 0;
  int32_t depth_begin = 0;
  /* The clause counts as matched when the record of this number is
   * reached; 0: none. */
  DWORD deferred_record = 0;
  DWORD font_id = 0; /* StylizedText: the FONTID of the run matched */
  /* StylizedText: the number of the last text record the start test met
   * in the current occurrence of the clause before (0: none), and its
   * FONTID; whether that record went on with a run. */
  DWORD run_record = 0;
  DWORD run_font = 0;
  DWORD run_continues = 0;
  /* Starts of the clause's target nested in its open occurrence, counted
   * when that occurrence ends. */
  DWORD nested_starts = 0;
  /* After, Ends With, Outside: the selected occurrence whose end is
   * awaited (0: none), the record where it began, and the walk's nesting
   * depths there (for a stylized run, only the layer depth is kept). */
  DWORD awaited = 0;
  DWORD awaited_record = 0;
  int32_t awaited_hotspot = 0;
  int32_t awaited_layer = 0;
  int32_t awaited_table = 0;
  int32_t awaited_begin = 0;
  /* Contains, Inside: the record that is the whole of the one-record
   * target the clause was accepted at (0: none); the target ends at the
   * next record. */
  DWORD whole_record = 0;
  /* Before, Outside, Ends With: the record whose closing test ran
   * already, ahead of the clause after it (0: none). */
  DWORD tested_record = 0;
  /* Ends With: the record the clause was accepted at when the selected
   * target is whole there (0: none); the chunk ends before the next. */
  DWORD whole_at_accept = 0;
  chunkdef_info* run_next = nullptr;
  chunkdef_info* run_previous = nullptr;
};

/* DeleteChunkDefinitions is declared in store/services.h. */

#endif
