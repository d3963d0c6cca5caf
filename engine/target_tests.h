/*
 * What the tests of one clause against one record (engine/target_tests.cpp)
 * share with the clause machinery that runs them per record
 * (engine/start_stop.cpp): the record a test is about, the row of a
 * target type and its start signatures, and the few tests the machinery
 * also runs on its own. Internal to those two files.
 *
 * MatchInitiator and MatchTerminator themselves are declared with the
 * walk's steps in engine/walk.h.
 */
#ifndef VELKO_ENGINE_TARGET_TESTS_H
#define VELKO_ENGINE_TARGET_TESTS_H

#include "velko/host_types.h"

struct chunk_process_state;
struct chunkdef_info;
struct record_storage;
struct target_parameter;

/* Graphic records that belong to a graphic and do not end it. */
constexpr WORD kGraphicPartFirst = 0x95;
constexpr WORD kGraphicPartLast = 0xA0;

/* The record a test is about, with its node for looking around it. */
struct walk_record {
  const char* data;
  WORD signature;
  DWORD length;
  const record_storage* node; /* null when the record is not a node of the walk */
};

/* The record as a test sees it: the walk's current node goes with it when
 * the data is that node's. */
walk_record RecordInWalk(const char* data, WORD signature, DWORD length,
                         const chunk_process_state* state);
/* A node of the walk as a test sees it (all null for none). */
walk_record RecordOf(const record_storage* node);

/* The target type's row of target_parameter_table; null for Everything and
 * for a type past the table. */
const target_parameter* RowOf(WORD targetType);
bool IsStartSignature(const target_parameter* row, WORD signature);
/* The row has text patterns a target's first run must begin with. */
bool HasStartPattern(const target_parameter* row);
bool IsParagraphType(WORD type);
/* The clause (may be null) targets rows or columns. */
bool IsRowOrColumn(const chunkdef_info* clause);

/* The clause's indexes select the occurrence (no index selects every one). */
bool IndexSelects(const chunkdef_info* clause, DWORD occurrence);
/* The paragraph start test turns the record down (previous: the signature
 * of the record before it). */
bool RefusedForParagraph(const walk_record& record, WORD previous,
                         const chunk_process_state* state);
/* The clause's start test answers from the target's inner records alone:
 * an Inside clause whose target has begun, a Row whose Column has. */
bool DecidedByInnerRecords(const chunkdef_info* clause);
/* Keeps the walk's nesting depths at the record in the clause. */
void KeepDepths(chunkdef_info* clause, const chunk_process_state* state);
/* The record ends the hotspot or layer that holds the occurrence of a
 * Contains or Inside paragraph clause. */
bool EndsParagraphHolder(const chunkdef_info* clause, const walk_record& record,
                         const chunk_process_state* state);

#endif
