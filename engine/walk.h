/*
 * The steps of one walk over an item's records, shared by the engine's
 * files: the per-record step with its nesting counts, the copy-through of
 * records passed over outside the chunk, the clean-up pass of action 49,
 * the start and stop tests of a chunk, the chunk's two edges, the query
 * cases built so far and the rendering action.
 *
 * The driver that runs a walk is engine/driver.cpp.
 */
#ifndef VELKO_ENGINE_WALK_H
#define VELKO_ENGINE_WALK_H

#include "engine/process_state.h"

/* ---- engine/walk.cpp ---- */

/* Records a writing walk refuses: longer than this, or a signature not above
 * the last byte signature of a record header. */
constexpr DWORD kLargestWalkedRecord = 0x10000;
constexpr WORD kLowestWalkedSignature = 88;

/* The per-record step: break test, nesting counts, current paragraph and
 * text header, start and stop tests, and the action step while a chunk is
 * open (or, in a writing walk, the pass-over mark while none is). */
STATUS Process_OneCDRecord(const char* record, WORD signature, DWORD length,
                           chunk_process_state* state);

/* Unlinks the record from its list (mending the list's head when it was
 * the first), frees it with its side data (FreeRecordStorage: a node of a
 * record arena stays in the arena until the arena is released), and
 * returns the record that followed it. */
record_storage* ConsumeRecord(LSXLsiSession* session, body_context* list, record_storage* record);

/* Emits a record of the item's input list (data, with the signature and
 * length it leaves with). A loaded input's memory goes over to the output
 * when the operation succeeds, so the output's node may point at the
 * record instead of holding a copy; a rebuilt input is copied, so that a
 * body never holds more than the one it was built from. */
STATUS EmitInputRecord(const char* data, WORD signature, DWORD length, chunk_process_state* state);

/* A reading walk of an action whose step only reads where the chunk lies
 * (action 1, the rendering action), once its chunk is open for good or
 * closed for good: the records from node to the walk's end are passed at
 * once, the action's answer and the walk's state left as the per-record
 * step would leave them. Returns where the walk ends, or node itself when
 * the step must take the record. */
record_storage* PassRestOfWalk(record_storage* node, chunk_process_state* state);
/* The lane of a writing walk, for records that need none of the
 * per-record step but its counts: PrepareWalkLane fills the operation's
 * table (false when the lane is off or the walk reads); WalkLaneRun takes
 * the records from node on while the lane may, as Process_OneCDRecord
 * would with the chunk open for good (and the action's case leaving them
 * as they are) or with the start and stop tests over, and returns the
 * first record it left; a failure to emit is left in *status. */
bool PrepareWalkLane(chunk_process_state* state);
record_storage* WalkLaneRun(record_storage* node, chunk_process_state* state, STATUS* status);

/* Copies the records passed over outside the chunk, from the pass-over
 * mark up to (not including) `stop`, or to the end of the list when stop
 * is null, through the emitter; with savedDefinitions, a saved paragraph
 * definition of a reference's PABID goes out before the reference. The
 * mark is cleared on success. */
STATUS CopyPassedOverRecords(chunk_process_state* state, const record_storage* stop,
                             bool savedDefinitions);

/* The clean-up pass of action 49 over the item's input records: empty text
 * runs next to text runs, empty text brackets between text runs (with the
 * item's AutoMergeText) and pass-through HTML markers that enclose nothing
 * go. A body the operation loaded without such records is not walked. */
void CleanupTextRuns(chunk_process_state* state);

/* The walk's current paragraph record and current paragraph reference,
 * emitted. */
STATUS EmitParagraph(chunk_process_state* state);
STATUS EmitReference(chunk_process_state* state);

/* The item's default text record (without the operation's font). */
CDTEXT DefaultTextHeader(chunk_process_state* state);

/* ---- engine/target_tests.cpp ---- */

/* 1 when the record begins a selected occurrence of the clause's target;
 * *complete then tells whether the target is complete at this record. */
DWORD MatchInitiator(chunkdef_info* clause, const char* record, WORD signature, DWORD length,
                     WORD previous, DWORD* complete, chunk_process_state* state);
/* 1 when the record ends the clause's current occurrence (for targets
 * counted at their end, only a selected one); *ended is 1 when the record
 * lies outside the target, *counted when the occurrence was counted here. */
DWORD MatchTerminator(chunkdef_info* clause, const char* record, WORD signature, DWORD length,
                      WORD previous, DWORD* counted, DWORD* ended, DWORD matchedNow,
                      chunk_process_state* state);

/* ---- engine/start_stop.cpp ---- */

/* Opens and closes the chunk at the record; statuses of the edges and of
 * the action step pass through. */
STATUS CheckStartStop(const char* record, WORD signature, DWORD length, chunk_process_state* state);
/* True while the chunk is open and no record can close it before the walk
 * ends (CheckStartStop then does nothing). */
bool ChunkOpenForGood(const chunk_process_state* state);
/* False when the start test of the definition's first clause turns down
 * every record of the signature, CDBEGIN aside. */
bool FirstClauseMayStartAt(const chunk_process_state* state, WORD signature);
/* True while the chunk is closed with no clause matched and the first
 * clause pending, so that CheckStartStop does nothing at a record that
 * FirstClauseMayStartAt turns down (past the walk's first record). */
bool StartTestsBySignature(const chunk_process_state* state);
/* True while StartTestsBySignature holds for a first clause that contains
 * paragraphs chosen by index alone (no text, outside a bracket of its
 * target and a large paragraph): its start test at a paragraph record
 * only counts it, unless the count is one the clause selects. */
bool StartTestsCountParagraphs(const chunk_process_state* state);
/* Under StartTestsCountParagraphs, for a record the lane passes over that
 * may start the chunk (previous: the signature of the record before it):
 * true when the start test turns it down, with the occurrence counted as
 * MatchInitiator counts it; false, with nothing changed, when the
 * per-record step must take it. */
bool PassParagraphStart(const record_storage* node, WORD previous, chunk_process_state* state);

/* ---- engine/edges.cpp ---- */

/* Where the chunk opens (before the record is handled) and where it closes
 * (after its last record). */
STATUS ProcessStartChunk(const char* record, WORD signature, DWORD length,
                         chunk_process_state* state);
STATUS ProcessStopChunk(const char* record, WORD signature, DWORD length,
                        chunk_process_state* state);

/* ---- engine/actions_query.cpp ---- */

/* Action 1: record numbers of the chunk into the session's found words. */
STATUS QueryRecordPositions(chunk_process_state* state);
/* Action 1 where the chunk opens. */
STATUS QueryRecordPositionsAtStart(chunk_process_state* state);
/* Whether action 1 passes the rest of a chunk open for good at once: it
 * asks for more than the chunk's first record. */
bool QueryPassesRestOfChunk(const chunk_process_state* state);
/* Action 1's answer for the records numbered first to last, the rest of
 * a chunk open for good, as their per-record steps would leave it. */
void AnswerRecordPositionsThrough(DWORD first, DWORD last, chunk_process_state* state);
/* Action 9: the text of the chunk's text runs into the result text. */
STATUS QueryText(const char* record, WORD signature, DWORD length, chunk_process_state* state);

/* ---- engine/actions_property.cpp ---- */

/* True for a property query with an answer settled where the chunk opens
 * or closes (47, 2330, 2601-2603, 2615 at the start, 36 at the stop). */
bool IsPropertyEdgeQuery(WORD action);
/* Those answers where the chunk opens; 546 once the answer is complete. */
STATUS PropertyQueryAtChunkStart(const char* record, WORD signature, DWORD length,
                                 chunk_process_state* state);
/* Those answers where the chunk closes: the measured margin. */
STATUS PropertyQueryAtChunkStop(chunk_process_state* state);

/* ---- engine/actions_property_set.cpp ---- */
/* Action 2 where the chunk opens: a new key for the chunk (each record of
 * the chunk then becomes its last). */
STATUS SortKeyAtChunkStart(chunk_process_state* state);
/* Actions 2 and 11 where the chunk closes: the last row's last record
 * when the table's end did not come within the chunk. */
STATUS SortKeysAtChunkStop(chunk_process_state* state);
/* Action 42 where the chunk opens: the depth of the table whose rows are
 * labelled; where it closes: a label for an open row that has none. */
STATUS RowLabelAtChunkStart(chunk_process_state* state);
STATUS RowLabelAtChunkStop(chunk_process_state* state);
/* ---- engine/actions_render.cpp ---- */

/* Action 2419 at each record of the open chunk: the record is handed to
 * the rendering context. */
STATUS ProcessRenderRecord(chunk_process_state* state);
/* Action 2419 where the chunk closes: the chunk is rendered. */
STATUS RenderChunkAtStop(chunk_process_state* state);

/* ---- engine/link_property.cpp ---- */

/* Action 2362 before the walk: the property's value (s1, p2 bytes) becomes
 * the session's one new link part, the part the property id (p1) names.
 * 1028 for another id, or a replica ID or UNID that is not 16 or 32
 * hexadecimal digits. */
STATUS PrepareLinkProperty(chunk_process_state* state);

#endif
