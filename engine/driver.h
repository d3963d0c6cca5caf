/*
 * The chunk engine's driver: one call of ProcessChunk carries out one
 * action over the records of a chunk's item (preparation, one walk over the
 * records, closing an open chunk, writing the rebuilt body back or leaving
 * the item untouched for a reading action), and ProcessChunkRecord is the
 * frame every action case runs in for one record of the open chunk.
 *
 * The per-record step of the walk is in engine/walk.cpp, the start and stop
 * tests in engine/start_stop.cpp (those of one clause against one record in
 * engine/target_tests.cpp), the chunk's edges in engine/edges.cpp and the
 * action cases in the engine's action files.
 */
#ifndef VELKO_ENGINE_DRIVER_H
#define VELKO_ENGINE_DRIVER_H

#include "velko/velko.h"

struct chunkdef_info;
struct chunk_process_state;
struct chunk_sort_key;
struct record_arena;
struct record_storage;

/* Runs `action` with its parameters over the chunk's item: `note` and
 * `itemName` are the item's note and name; `extra` (may be null) holds the
 * clauses of an extra definition that apply to this call only (the caller
 * keeps and frees them); `other` is the operation's second chunk or null.
 * `unused` is passed as 0.
 *
 * Returns the operation's status: 0 on success, 1028 for a null chunk, 1026
 * for a sort with nothing to sort, 257 for an interrupted walk or a record
 * that a writing walk cannot keep, else the failing step's status. A
 * reading action leaves the note and its records as they were and sets the
 * chunk's status to 1298; a failed writing action leaves the note as it
 * was. */
STATUS ProcessChunk(VelkoRTChunk* chunk, NOTEHANDLE note, const char* itemName, WORD action,
                    WORD p1, WORD p2, WORD p3, WORD p4, const char* s1, const char* s2, WORD unused,
                    chunkdef_info* extra, VelkoRTChunk* other);

/* ProcessChunk in three parts, for callers that run work of their own
 * inside a real operation (between set-up and finish, in place of the
 * walk).
 *
 * SetUpChunkOperation: checks the chunk, builds the run chain, makes the
 * operation state and prepares what the action needs; loads the item's
 * records on first use and, when the action writes, starts the output
 * body. *operation is the state, or null when the operation is already
 * over (a null chunk, no memory for the state, action 37 answered, a sort
 * with nothing to sort): the status is then its result. With a state, a
 * non-zero status is the operation's failure, to be handed to the finish.
 *
 * FinishChunkOperation: with status 0, a writing action's output body
 * (ending in a text run) becomes the item's records and is committed
 * unless the item caches records; on failure the output body is dropped
 * and the item keeps its records. Then the sort keys, the chunk's status
 * words and the state are settled, and the state is deleted. Returns the
 * operation's final status. */
STATUS SetUpChunkOperation(VelkoRTChunk* chunk, NOTEHANDLE note, const char* itemName,
                           WORD action, WORD p1, WORD p2, WORD p3, WORD p4, const char* s1,
                           const char* s2, chunkdef_info* extra, VelkoRTChunk* other,
                           chunk_process_state** operation);
STATUS FinishChunkOperation(chunk_process_state* state, STATUS status);

/* The action step for one record inside the open chunk: runs the action's
 * case on the record and, in a writing walk, emits what the case leaves as
 * the record's output. 546 ends the walk with the answer complete; any
 * other non-zero status ends the operation. */
STATUS ProcessChunkRecord(const char* record, WORD signature, DWORD length,
                          chunk_process_state* state);
/* Whether the operation's action case may read or change a record of the
 * signature (else ProcessChunkRecord only emits it as it is). */
bool ActionCaseReads(const chunk_process_state* state, WORD signature);
/* Whether the case reads records of the signature but may leave one as it
 * is, which ActionCaseLeaves then tells for the node: 0 when the case would
 * change it, else flags of what the case does besides emitting it, which
 * ActionCaseLeft does once the walk's lane has taken it. */
bool ActionCaseMayLeave(const chunk_process_state* state, WORD signature);
BYTE ActionCaseLeaves(const record_storage* node, chunk_process_state* state);
void ActionCaseLeft(const record_storage* node, BYTE leaves, chunk_process_state* state);

/* ---- sorting rows ---- */

/* Comparators of chunk_sort_key under the compare flags `flags`
 * (INTL_ACCENT_SENSITIVE, INTL_CASE_SENSITIVE; the row sort keeps the
 * flags of its last sort in the session's sort_compare_flags): title rows
 * first in row order, the others by their texts (IntlTextCompare with the
 * flags), by their texts read as numbers (equal numbers in row order, or by
 * text when the flags hold 0x100), or either reversed; equal keys in row
 * order. Negative, 0 or positive as for qsort. */
int cmpsort(const chunk_sort_key& a, const chunk_sort_key& b, WORD flags);
int cmpsortr(const chunk_sort_key& a, const chunk_sort_key& b, WORD flags);
int cmpsortn(const chunk_sort_key& a, const chunk_sort_key& b, WORD flags);
int cmpsortnr(const chunk_sort_key& a, const chunk_sort_key& b, WORD flags);
using row_comparator = int (*)(const chunk_sort_key&, const chunk_sort_key&, WORD);

/* Sorts `count` keys in place by `compare` under `flags`; keys it holds
 * equal keep their order. */
void SortRowKeys(chunk_sort_key* keys, WORD count, row_comparator compare, WORD flags);

/* Frees an array of sort keys (a tracked block) and the arena of their
 * texts, which is left empty. */
void FreeSortKeys(LSXLsiSession* session, chunk_sort_key* keys, record_arena* texts);
/* A 0-terminated copy of count bytes of text in the keys' text arena; null
 * when memory runs out. */
char* CopyKeyText(LSXLsiSession* session, record_arena* texts, const char* text, DWORD count);

/* The wiki delimiters of the option string: a "WikiDelimiters=" value of
 * exactly four characters gives the opening pair (its first two) and the
 * closing pair; anything else "((" and "))". Each pair is NUL-terminated. */
void ReadWikiDelimiters(const char* options, char open[3], char close[3]);

/* The host's break test: when installed, the walk calls it at its first
 * record and every hundredth after; a non-zero answer interrupts the
 * operation with 257 and the note keeps its old body. Null: none. The
 * host sets it before any session runs; the engine only reads it, and a
 * session's own break test (LSXLsiSession::SetControlBreak) takes its
 * place for that session's walks. */
extern WORD (*ControlBreak)(void);

#endif
