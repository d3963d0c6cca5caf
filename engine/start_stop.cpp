/*
 * Where a chunk opens and closes. For every record of a walk CheckStartStop
 * runs the clauses of the operation's run chain against the record:
 * accepting a clause when its start test passes, reopening it where its
 * target ends, the opening loop over the pending clauses, the relation
 * helpers (After, Outside, Ends With, Before, Inside), the closing loop
 * and the end of the target around the pending clause.
 *
 * Not here: the tests of one clause against one record, MatchInitiator and
 * MatchTerminator (engine/target_tests.cpp). The nesting counts the tests
 * read are kept by the per-record step (engine/walk.cpp); what happens at
 * the chunk's edges is engine/edges.cpp.
 */
#include "engine/chunk_state.h"
#include "engine/driver.h"
#include "engine/record_fields.h"
#include "engine/target_tests.h"
#include "engine/walk.h"
#include "store/vocabulary.h"

namespace {

/* An Inside clause whose target began at a record before keeps the level
 * of that begin, where its closing tests look for the target's end as a
 * Contains clause's would (a table, a layer or a nested section first in a
 * section lies deeper). One of a bracketed target (a text bracket first in
 * a bracketed button) keeps the depths where it opens, inside the
 * target's bracket, whose records end the target. */
bool KeepsTargetBegin(const chunkdef_info* clause) {
  return clause->relation == RELATION_INSIDE && clause->seen != 0 && clause->seen_bracket == 0;
}

/* Accepting a clause: it becomes the last matched clause and the clause
 * after it the pending one. */
void Accept(chunk_process_state* state, chunkdef_info* clause) {
  state->last_matched = clause;
  state->pending = clause->run_next;
  clause->finished = 0;
  clause->nested_starts = 0;
  clause->whole_record = 0;
  if (!KeepsTargetBegin(clause))
    KeepDepths(clause, state);
  clause->seen = 0;
  if (state->pending != nullptr) {
    state->pending->occurrence = 0;
    state->pending->run_record = 0;
    state->pending->awaited = 0;
    state->pending->deferred_record = 0;
  }
}

/* A clause matched again from the next occurrence on. */
void Reopen(chunk_process_state* state, chunkdef_info* clause) {
  state->pending = clause;
  state->last_matched = clause->run_previous;
}

/* Whether the chunk can occur only once, so that the start and stop tests
 * may end once it closed: its definition is simple, and no Column clause
 * stands without a Row before it (such a column has a cell in every row). */
bool OccursOnce(const chunk_process_state* state) {
  if (state->chunk == nullptr || state->chunk->internal == nullptr ||
      state->chunk->internal->simple_definition == 0)
    return false;
  for (const chunkdef_info* clause = state->first_clause; clause != nullptr;
       clause = clause->run_next) {
    if (clause->target_type == TARGETTYPE_COLUMN &&
        (clause->run_previous == nullptr || clause->run_previous->target_type != TARGETTYPE_ROW))
      return false;
  }
  return true;
}

/* The chunk closes at the record. */
STATUS CloseChunk(const walk_record& record, chunk_process_state* state) {
  const STATUS status = ProcessStopChunk(record.data, record.signature, record.length, state);
  state->chunk_open = 0;
  if (OccursOnce(state))
    state->stop_matching = 1;
  return status;
}

/* A chunk that is one record long: it opens, the record is handled and it
 * closes. */
STATUS RunWholeChunk(const walk_record& record, chunk_process_state* state) {
  state->chunk_open = 1;
  STATUS status = ProcessStartChunk(record.data, record.signature, record.length, state);
  if (status == NOERROR)
    status = ProcessChunkRecord(record.data, record.signature, record.length, state);
  if (status == NOERROR) {
    status = ProcessStopChunk(record.data, record.signature, record.length, state);
    state->handled = 1;
  }
  state->chunk_open = 0;
  if (OccursOnce(state))
    state->stop_matching = 1;
  return status;
}

enum class open_result { go_on, stopped, returned };

DWORD Initiates(chunkdef_info* clause, const walk_record& record, WORD previous, DWORD* complete,
                chunk_process_state* state) {
  return MatchInitiator(clause, record.data, record.signature, record.length, previous, complete,
                        state);
}

/* The clause's occurrence number and kept FONTID before its start test ran
 * at a record. */
struct occurrence_before {
  DWORD number;
  DWORD font_id;
};

occurrence_before OccurrenceBefore(const chunkdef_info* clause) {
  return {clause->occurrence, clause->font_id};
}

/* Targets that end at the first record after them or at the start of the
 * next one (rows, columns, paragraphs, stylized runs, graphics): the record
 * that ends one may begin the next, so the end is the one of the occurrence
 * current before the record. */
bool EndJudgedBeforeRecord(const chunkdef_info* clause) {
  const WORD type = clause->target_type;
  return IsRowOrColumn(clause) || IsParagraphType(type) || type == TARGETTYPE_STYLIZEDTEXT ||
         type == TARGETTYPE_GRAPHIC;
}

bool AtClauseLevel(const chunkdef_info* clause, const walk_record& record,
                   const chunk_process_state* state);
bool ClosingTestsApply(const chunkdef_info* clause, const walk_record& record,
                       const chunk_process_state* state);

/* The selected occurrence begun at the record is the one whose end the
 * clause waits for. */
void AwaitEnd(chunkdef_info* clause, const chunk_process_state* state) {
  clause->awaited = clause->occurrence;
  clause->awaited_record = state->record_counter;
  clause->awaited_hotspot = state->depth_hotspot;
  clause->awaited_layer = state->depth_layer;
  clause->awaited_table = state->depth_table;
  clause->awaited_begin = state->depth_begin;
}

/* A selected target begun at the record, whose end After and Ends With
 * look for where it began: a stylized run at the layer depth it lies at, a
 * paragraph at its level (of nested selected paragraphs, the outermost). */
void NoteStart(chunkdef_info* clause, DWORD started, const chunk_process_state* state) {
  if (started == 0)
    return;
  if (clause->target_type == TARGETTYPE_STYLIZEDTEXT)
    clause->awaited_layer = state->depth_layer;
  else if (IsParagraphType(clause->target_type) && clause->awaited == 0)
    AwaitEnd(clause, state);
}

/* Whether the record ends the awaited occurrence where it would close a
 * Contains clause accepted at that occurrence's begin: the level test and
 * the end test read the occurrence's begin in the clause's own fields, put
 * back afterwards. */
bool ClosesAwaited(chunkdef_info* clause, const walk_record& record, WORD previous,
                   DWORD matchedNow, DWORD* ended, chunk_process_state* state) {
  const WORD relation = clause->relation;
  const DWORD occurrence = clause->occurrence;
  const int32_t depths[] = {clause->depth_hotspot, clause->depth_layer, clause->depth_table,
                            clause->depth_begin};
  clause->relation = RELATION_CONTAINS;
  clause->depth_hotspot = clause->awaited_hotspot;
  clause->depth_layer = clause->awaited_layer;
  clause->depth_table = clause->awaited_table;
  clause->depth_begin = clause->awaited_begin;
  clause->occurrence = clause->awaited;
  DWORD counted = 0;
  const bool ends = ClosingTestsApply(clause, record, state) &&
                    MatchTerminator(clause, record.data, record.signature, record.length,
                                    previous, &counted, ended, matchedNow, state) != 0;
  clause->relation = relation;
  clause->depth_hotspot = depths[0];
  clause->depth_layer = depths[1];
  clause->depth_table = depths[2];
  clause->depth_begin = depths[3];
  clause->occurrence = occurrence;
  return ends;
}

/* Targets that may hold targets of their own kind (hotspots, tables,
 * layers...): After and Ends With remember where the selected occurrence
 * began, and only a record at that level ends it, with the occurrence
 * number it had, whatever was numbered inside it since. */
bool EndsAwaitedOccurrence(chunkdef_info* clause, const walk_record& record, WORD previous,
                           DWORD started, DWORD* ended, chunk_process_state* state) {
  *ended = 0;
  if (started != 0 && clause->awaited == 0) {
    AwaitEnd(clause, state);
    return false;
  }
  if (clause->awaited == 0 || !ClosesAwaited(clause, record, previous, 0, ended, state))
    return false;
  clause->awaited = 0;
  return true;
}

/* After and Ends With look for the end of a selected occurrence without
 * having opened at its start: whether the record ends one (*ended as
 * MatchTerminator gives it), given what the clause's start test answered
 * at the record and the occurrence that was current before it. Targets
 * longer than their start record, other than those of
 * EndJudgedBeforeRecord and Record, end as EndsAwaitedOccurrence tells.
 * For the targets of EndJudgedBeforeRecord the end counts only when that
 * occurrence is selected; a text record of another font lies outside the
 * run it ends. */
bool EndsSelectedOccurrence(chunkdef_info* clause, const walk_record& record, WORD previous,
                            DWORD started, const occurrence_before& before, DWORD* ended,
                            chunk_process_state* state) {
  DWORD counted = 0;
  if (!EndJudgedBeforeRecord(clause)) {
    const target_parameter* row = RowOf(clause->target_type);
    if (row != nullptr && row->flags[kTargetFlagStartRecordAlone] == 0 &&
        clause->target_type != TARGETTYPE_RECORD)
      return EndsAwaitedOccurrence(clause, record, previous, started, ended, state);
    return MatchTerminator(clause, record.data, record.signature, record.length, previous,
                           &counted, ended, started, state) != 0;
  }
  *ended = 0;
  // A paragraph ends at its own level: the paragraph record of a paragraph
  // nested in a hotspot or layer within it does not end it.
  if (IsParagraphType(clause->target_type) && clause->awaited != 0) {
    const DWORD startedAwaited = clause->awaited_record == state->record_counter ? 1 : 0;
    if (!ClosesAwaited(clause, record, previous, startedAwaited, ended, state))
      return false;
    clause->awaited = 0;
    NoteStart(clause, started, state);
    return true;
  }
  const DWORD current = before.number;
  if (current == 0 || !IndexSelects(clause, current)) {
    NoteStart(clause, started, state);
    return false;
  }
  const DWORD startedThis = started != 0 && clause->occurrence == current ? 1 : 0;
  // The end test reads the occurrence and font of the target before the
  // record, which the start test may have moved on.
  const occurrence_before now = OccurrenceBefore(clause);
  const int32_t layer = clause->depth_layer;
  clause->occurrence = current;
  clause->font_id = before.font_id;
  // A run ends at the end of the layer it began in.
  if (clause->target_type == TARGETTYPE_STYLIZEDTEXT)
    clause->depth_layer = clause->awaited_layer;
  const DWORD ends = MatchTerminator(clause, record.data, record.signature, record.length,
                                     previous, &counted, ended, startedThis, state);
  clause->occurrence = now.number;
  clause->font_id = now.font_id;
  clause->depth_layer = layer;
  NoteStart(clause, started, state);
  if (ends == 0)
    return false;
  if (clause->target_type == TARGETTYPE_STYLIZEDTEXT && IsTextRun(record.signature))
    *ended = 1;
  return true;
}

/* Outside: whether the chunk opens at the record. It stays closed over
 * each selected target: from where one begins (a one-record target defers
 * the opening to the next record) up to where it ends, opening at the end
 * record when that lies outside the target (a paragraph record, the cell
 * that begins the next row), else at the record after it. */
bool OutsideAccepts(chunkdef_info* clause, const walk_record& record, WORD previous,
                    chunk_process_state* state) {
  // The closing loop met the target's begin at this record already.
  if (clause->awaited != 0 && clause->awaited_record == state->record_counter)
    return false;
  DWORD complete = 0;
  const occurrence_before prior = OccurrenceBefore(clause);
  const bool awaiting = clause->awaited != 0;
  const DWORD started = Initiates(clause, record, previous, &complete, state);
  if (awaiting) {
    DWORD ended = 0;
    if (!EndsSelectedOccurrence(clause, record, previous, started, prior, &ended, state))
      return false;
    clause->awaited = 0;
    // An end record of the target's own: the next record is tested
    // afresh, and may begin the next selected occurrence.
    if (ended == 0 && !IsRowOrColumn(clause))
      return false;
    // A column's cells in the rows below are selected occurrences of the
    // same number.
    if (started == 0 ||
        (clause->occurrence == prior.number && clause->target_type != TARGETTYPE_COLUMN))
      return true;
    // The end record begins the next selected occurrence.
    if (complete == 0)
      AwaitEnd(clause, state);
    return false;
  }
  if (started == 0)
    return true;
  if (complete != 0)
    clause->deferred_record = state->record_counter + 1;
  else
    AwaitEnd(clause, state);
  return false;
}

/* Outside and After: whether the clause is accepted at the record, or
 * deferred to the next one. */
bool OutsideOrAfterAccepts(chunkdef_info* clause, const walk_record& record, WORD previous,
                           chunk_process_state* state) {
  if (clause->relation == RELATION_OUTSIDE)
    return OutsideAccepts(clause, record, previous, state);
  DWORD complete = 0;
  const occurrence_before prior = OccurrenceBefore(clause);
  const DWORD started = Initiates(clause, record, previous, &complete, state);
  DWORD ended = 0;
  if ((started == 0 || complete == 0) &&
      !EndsSelectedOccurrence(clause, record, previous, started, prior, &ended, state))
    return false;
  if (ended == 0) {
    clause->deferred_record = state->record_counter + 1;
    return false;
  }
  return true;
}

/* An Inside clause opened at a hotspot or layer begin inside its target
 * (a button first in a table's cell), with the depths where it opened,
 * tests the target's end at the target's own level, the one around that
 * begin: the depth the begin added is taken off. A bracketed hotspot keeps
 * the depths where the chunk opened. The start test let the record open
 * the clause, so it is no hotspot begin right after the V4 one it goes
 * with. */
void KeepTargetLevel(chunkdef_info* clause, const walk_record& record,
                     const chunk_process_state* state) {
  if (clause->relation != RELATION_INSIDE)
    return;
  const WORD signature = record.signature;
  if ((signature == SIG_CD_V4HOTSPOTBEGIN || signature == SIG_CD_HOTSPOTBEGIN) &&
      InnermostBracket(state) != SIG_CD_V4HOTSPOTBEGIN)
    clause->depth_hotspot = state->depth_hotspot - 1;
  else if (IsBeginOf(record.data, signature, record.length, SIG_CD_LAYER))
    clause->depth_layer = state->depth_layer - 1;
  else if (IsTableBegin(signature))
    clause->depth_table = state->depth_table - 1;
}

/* An Ends With clause is accepted without its start test, and its closing
 * tests run only from the next record on: a target beginning at the record
 * (a stylized run or a graphic at the item's first record, the paragraph
 * whose record opens Paragraph 2) is counted here, so that the end of the
 * selected one is known. The item's first paragraph is counted already
 * when the clause is the first; Record targets are counted from the record
 * after the one where the chunk opened. */
void CountStartAtAccept(chunkdef_info* clause, const walk_record& record, WORD previous,
                        chunk_process_state* state) {
  if (clause->relation != RELATION_ENDS_WITH || clause->target_type == TARGETTYPE_RECORD ||
      (IsParagraphType(clause->target_type) && clause->occurrence != 0))
    return;
  DWORD complete = 0;
  const DWORD started = Initiates(clause, record, previous, &complete, state);
  NoteStart(clause, started, state);
  clause->whole_at_accept = started != 0 && complete != 0 ? state->record_counter : 0;
}

/* Before is accepted without its start test: a selected target beginning
 * where it would open (a table that is the first of its own tables, the
 * first cell of a row) leaves nothing before it, and the chunk is empty;
 * one not selected is counted, as the clause's Contains twin counts it (the
 * paragraph whose record opens Paragraph 2 is the first of those in it).
 * Records are counted from the next record on, and the item's first
 * paragraph is counted already when the clause is the first. */
bool BeforeTargetBeginsAtOpening(chunkdef_info* clause, const walk_record& record,
                                 WORD previous, chunk_process_state* state) {
  if (clause->target_type == TARGETTYPE_RECORD ||
      (IsParagraphType(clause->target_type) && clause->occurrence != 0))
    return false;
  DWORD complete = 0;
  if (Initiates(clause, record, previous, &complete, state) == 0)
    return false;
  clause->finished = 1;
  if (clause->run_previous != nullptr)
    clause->run_previous->finished = 1;
  return true;
}

/* An Inside clause whose target began and met only its own records since
 * (a lone paragraph record, an empty hotspot) may find the target's end at
 * the record, at the target's level: the target held nothing, and the
 * record is tested afresh, as the start of another occurrence. */
void ForgetEmptyTarget(chunkdef_info* clause, const walk_record& record, WORD previous,
                       chunk_process_state* state) {
  if (clause->relation != RELATION_INSIDE || clause->seen == 0 ||
      !ClosingTestsApply(clause, record, state))
    return;
  // In the bracket that began the target only its CDEND ends it: the
  // records bracketed (a layer's own LAYER record) are the target's.
  const WORD open = InnermostBracket(state);
  if (open != 0 && IsStartSignature(RowOf(clause->target_type), open) &&
      record.signature != SIG_CD_END)
    return;
  DWORD counted = 0;
  DWORD ended = 0;
  if (MatchTerminator(clause, record.data, record.signature, record.length, previous, &counted,
                      &ended, 0, state) != 0)
    clause->seen = 0;
}

/* The opening loop over the pending clauses. In a reopening at a table
 * cell a Row clause followed by a Column clause opens only with it, and a
 * clause accepted by its start test leaves the record to the action step. */
open_result OpenClauses(const walk_record& record, WORD previous, bool reopening, bool* accepted,
                        STATUS* status, chunk_process_state* state) {
  for (chunkdef_info* clause = state->pending; clause != nullptr && clause->finished == 0;
       clause = state->pending) {
    switch (clause->relation) {
    case RELATION_EVERYTHING:
    case RELATION_ENDS_WITH:
      Accept(state, clause);
      *accepted = true;
      CountStartAtAccept(clause, record, previous, state);
      if (IsRowOrColumn(state->pending))
        Accept(state, state->pending);
      continue;
    case RELATION_CONTAINS:
    case RELATION_INSIDE:
    case RELATION_STARTS_WITH: {
      DWORD complete = 0;
      chunkdef_info* column = clause->run_next;
      const bool pair = reopening && IsTableCell(record.signature) &&
                        clause->target_type == TARGETTYPE_ROW && column != nullptr &&
                        column->target_type == TARGETTYPE_COLUMN;
      ForgetEmptyTarget(clause, record, previous, state);
      if (Initiates(clause, record, previous, &complete, state) == 0) {
        if (!reopening && clause->relation != RELATION_STARTS_WITH &&
            IsTableCell(record.signature) && IsRowOrColumn(clause) &&
            IsRowOrColumn(state->last_matched) && state->last_matched != nullptr) {
          Reopen(state, state->last_matched);
        }
        return open_result::stopped;
      }
      if (clause->relation != RELATION_STARTS_WITH && complete != 0 &&
          clause->run_next == nullptr && state->chunk_open == 0) {
        *status = RunWholeChunk(record, state);
        return open_result::returned;
      }
      if (pair) {
        DWORD columnComplete = 0;
        if (Initiates(column, record, previous, &columnComplete, state) == 0)
          return open_result::stopped;
        Accept(state, clause);
        Accept(state, column);
      } else {
        const bool keepsBegin = KeepsTargetBegin(clause);
        Accept(state, clause);
        if (!keepsBegin)
          KeepTargetLevel(clause, record, state);
        if (clause->relation != RELATION_STARTS_WITH && complete != 0)
          clause->whole_record = state->record_counter;
      }
      *accepted = true;
      if (reopening)
        state->handled = 0;
      continue;
    }
    case RELATION_OUTSIDE:
    case RELATION_AFTER:
      if (!OutsideOrAfterAccepts(clause, record, previous, state))
        return open_result::stopped;
      Accept(state, clause);
      *accepted = true;
      continue;
    case RELATION_BEFORE:
      if ((clause->target_type == TARGETTYPE_RECORD || IsParagraphType(clause->target_type)) &&
          clause->index_count > 0 && clause->index_starts[0] == 1) {
        *status = NOERROR;
        return open_result::returned;
      }
      if (BeforeTargetBeginsAtOpening(clause, record, previous, state)) {
        *status = NOERROR;
        return open_result::returned;
      }
      Accept(state, clause);
      *accepted = true;
      continue;
    default:
      return open_result::stopped;
    }
  }
  return open_result::go_on;
}

/* Text runs and graphics hold no table: a table begin at their level ends
 * them, where a hotspot, layer or table holds the table. */
bool EndsBeforeTable(const chunkdef_info* clause) {
  return clause->target_type == TARGETTYPE_STYLIZEDTEXT ||
         clause->target_type == TARGETTYPE_RAWTEXT || clause->target_type == TARGETTYPE_GRAPHIC;
}

/* Whether the record lies at the level of the last matched clause L, so
 * that its closing tests apply. Records inside a hotspot, layer or table
 * that L contains are passed over. */
bool AtClauseLevel(const chunkdef_info* clause, const walk_record& record,
                   const chunk_process_state* state) {
  const WORD signature = record.signature;
  const WORD bracketed = BracketedSignature(record.data, signature, record.length);
  const bool hotspotBegin = signature == SIG_CD_HOTSPOTBEGIN || signature == SIG_CD_V4HOTSPOTBEGIN;
  const bool hotspotEnd = signature == SIG_CD_HOTSPOTEND || signature == SIG_CD_V4HOTSPOTEND;
  if (hotspotBegin) {
    if (clause->depth_hotspot != state->depth_hotspot - 1)
      return false;
  } else if (clause->target_type != TARGETTYPE_GRAPHIC) {
    if ((hotspotEnd && state->depth_begin == clause->depth_begin) ||
        (signature == SIG_CD_END && bracketed == SIG_CD_V4HOTSPOTEND)) {
      if (clause->depth_hotspot != state->depth_hotspot + 1)
        return false;
    } else {
      if (state->depth_hotspot != clause->depth_hotspot)
        return false;
      if (signature == SIG_CD_BEGIN && bracketed == SIG_CD_LAYER) {
        if (clause->depth_layer != state->depth_layer - 1)
          return false;
      } else if (signature == SIG_CD_END && bracketed == SIG_CD_LAYER) {
        // Only the end of the layer the clause lies in (or of one around
        // it), not that of a layer nested in it.
        if (state->depth_layer >= clause->depth_layer)
          return false;
      } else if (state->depth_layer > clause->depth_layer) {
        return false;
      }
    }
  }
  const bool paragraphs = IsParagraphType(clause->target_type);
  if (IsTableBegin(signature))
    return (paragraphs || EndsBeforeTable(clause)) &&
           clause->depth_table == state->depth_table - 1;
  if (IsTableEnd(signature) || (signature == SIG_CD_END && (bracketed == SIG_CD_TABLEEND ||
                                                            bracketed == SIG_CD_NESTEDTABLEEND)))
    return clause->depth_table == state->depth_table + 1;
  return paragraphs || clause->depth_table == state->depth_table;
}

/* Whether the closing tests of a Contains or Inside clause apply at the
 * record: it lies at the clause's level, or it ends the hotspot or layer
 * around the clause's paragraph. */
bool ClosingTestsApply(const chunkdef_info* clause, const walk_record& record,
                       const chunk_process_state* state) {
  return AtClauseLevel(clause, record, state) || EndsParagraphHolder(clause, record, state);
}

/* What closing the matched clauses at one record found. */
struct closing {
  int closed = 0;          /* clauses closed */
  DWORD last_ended = 0;    /* the terminator of the last one closed ended outside it */
  bool ended_outside = false;
  bool one_table = false;  /* a table end closed the chunk's table and the same table's outer clause */
  bool ends_with_outside = false; /* an Ends With target ended at the record, outside it */
  STATUS status = NOERROR; /* a failure of closing the chunk on the way */
};

/* Whether the record at which the chunk closes is still handed to the
 * action step. */
bool HandedBeforeClose(const walk_record& record, const closing& result,
                       const chunk_process_state* state) {
  const WORD signature = record.signature;
  const DWORD lastEnded = result.last_ended;
  const chunkdef_info* pending = state->pending;
  if (IsTableEnd(signature) && result.closed > 1 && !result.one_table)
    return false;
  if (pending != nullptr &&
      (pending->relation == RELATION_INSIDE || pending->relation == RELATION_BEFORE ||
       pending->relation == RELATION_OUTSIDE))
    return false;
  if (IsTableCell(signature))
    return false;
  // An Ends With target that ended at a record outside it (a layer's end
  // after a run in the layer) closes the chunk before that record, also
  // where the record ends the target around the clause too (a section's
  // end after the section's last run).
  if (result.ends_with_outside)
    return false;
  const WORD type = pending != nullptr ? pending->target_type : WORD{TARGETTYPE_EVERYTHING};
  if (type == TARGETTYPE_STYLIZEDTEXT && IsTextRun(signature))
    return false;
  if (type == TARGETTYPE_GRAPHIC) {
    const bool part = signature >= kGraphicPartFirst && signature <= kGraphicPartLast &&
                      signature != SIG_CD_GRAPHIC;
    return part || (signature == SIG_CD_END && lastEnded == 0);
  }
  if (IsParagraphType(type) && (signature == SIG_CD_PARAGRAPH || IsTableStructure(signature)))
    return false;
  return true;
}

/* A clause whose match was deferred to this record is accepted here. */
bool AcceptDeferredClause(chunk_process_state* state) {
  chunkdef_info* pending = state->pending;
  if (pending == nullptr || pending->deferred_record == 0 ||
      pending->deferred_record != state->record_counter)
    return false;
  pending->deferred_record = 0;
  Accept(state, pending);
  return true;
}

/* The item's first record begins its first paragraph, whatever it is: a
 * Before or Ends With clause, accepted there without its start test,
 * counts that paragraph at it, and Ends With awaits its end when it is
 * selected. */
void CountFirstParagraph(chunk_process_state* state) {
  chunkdef_info* pending = state->pending;
  if (pending == nullptr || !IsParagraphType(pending->target_type) ||
      (pending->relation != RELATION_BEFORE && pending->relation != RELATION_ENDS_WITH) ||
      state->record_counter != 1)
    return;
  pending->occurrence = 1;
  if (pending->relation == RELATION_ENDS_WITH && IndexSelects(pending, 1))
    AwaitEnd(pending, state);
}

/* Matches the pending clauses at the record (`reopening`: after clauses
 * closed at it) and opens the chunk when none is left pending. True when
 * that settles the record, with the status to return in *status. */
bool OpenAtRecord(const walk_record& record, WORD previous, bool reopening, bool* accepted,
                  STATUS* status, chunk_process_state* state) {
  if (OpenClauses(record, previous, reopening, accepted, status, state) == open_result::returned)
    return true;
  if (state->pending != nullptr || state->chunk_open != 0)
    return false;
  state->chunk_open = 1;
  *status = ProcessStartChunk(record.data, record.signature, record.length, state);
  return true;
}

enum class close_step { next, stop, failed };

/* Reopens a Contains or Inside clause that closes: its occurrence takes
 * the starts of its own kind counted inside it. */
void ReopenContaining(chunk_process_state* state, chunkdef_info* clause) {
  Reopen(state, clause);
  clause->occurrence += clause->nested_starts;
  clause->nested_starts = 0;
}

/* A Contains or Inside clause closes where its target ends; a column that
 * ends at a cell closes its row with it. */
close_step CloseContaining(const walk_record& record, WORD previous, chunkdef_info*& clause,
                           chunkdef_info*& before, closing* result, chunk_process_state* state) {
  const WORD signature = record.signature;
  DWORD counted = 0;
  DWORD ended = 0;
  if (MatchTerminator(clause, record.data, signature, record.length, previous, &counted, &ended, 0,
                      state) == 0)
    return close_step::stop;
  ReopenContaining(state, clause);
  ++result->closed;
  result->last_ended = ended;
  if (IsTableCell(signature) && clause->target_type == TARGETTYPE_COLUMN && before != nullptr &&
      before->target_type == TARGETTYPE_ROW) {
    Reopen(state, before);
    clause = before;
    before = clause->run_previous;
  }
  if (ended != 0 && state->chunk_open != 0) {
    result->ended_outside = true;
    result->status = CloseChunk(record, state);
    if (result->status != NOERROR)
      return close_step::failed;
  }
  if (before != nullptr && before->relation == RELATION_INSIDE &&
      clause->relation == RELATION_CONTAINS && before->target_type == clause->target_type)
    return close_step::stop;
  if (IsTableEnd(signature) && clause->target_type == TARGETTYPE_TABLE) {
    // A table is the first of its own tables: its end closes the clause
    // around it too. The end is the chunk's own only where the table is
    // the chunk's target, not a row or column closed in it first.
    if (before == nullptr || before->target_type != TARGETTYPE_TABLE ||
        (before->relation != RELATION_CONTAINS && before->relation != RELATION_INSIDE) ||
        before->depth_table != clause->depth_table)
      return close_step::stop;
    if (result->closed == 1)
      result->one_table = true;
  }
  return close_step::next;
}

/* An Outside or Before clause closes where its target begins; Before
 * closes for good, with the clause before it. Outside then waits for the
 * target's end. Where no target begins, the clause before may end. */
close_step CloseBeforeTarget(const walk_record& record, WORD previous, chunkdef_info* clause,
                             chunkdef_info* before, closing* result, chunk_process_state* state) {
  DWORD complete = 0;
  if (clause->tested_record == state->record_counter ||
      Initiates(clause, record, previous, &complete, state) == 0)
    return close_step::next;
  Reopen(state, clause);
  ++result->closed;
  // A one-record target's next record is tested in the opening loop.
  if (clause->relation == RELATION_OUTSIDE && complete == 0)
    AwaitEnd(clause, state);
  if (clause->relation == RELATION_BEFORE) {
    clause->finished = 1;
    if (before != nullptr)
      before->finished = 1;
  }
  return close_step::next;
}

/* An Ends With clause closes for good, with the clause before it, where
 * its target begins completely or ends; elsewhere the clause before is
 * tested. */
close_step CloseEndsWith(const walk_record& record, WORD previous, chunkdef_info* clause,
                         chunkdef_info* before, closing* result, chunk_process_state* state) {
  if (clause->tested_record == state->record_counter)
    return close_step::next;
  DWORD complete = 0;
  DWORD ended = 0;
  // The selected target was whole at the record the clause was accepted
  // at: the chunk ends with that record, before this one.
  const bool endedAtAccept =
      clause->whole_at_accept != 0 && clause->whole_at_accept != state->record_counter;
  clause->whole_at_accept = 0;
  if (endedAtAccept) {
    ended = 1;
  } else {
    const occurrence_before prior = OccurrenceBefore(clause);
    const DWORD started = Initiates(clause, record, previous, &complete, state);
    // Where its target does not end, the clause before may.
    if ((started == 0 || complete == 0) &&
        !EndsSelectedOccurrence(clause, record, previous, started, prior, &ended, state))
      return close_step::next;
  }
  Reopen(state, clause);
  ++result->closed;
  result->last_ended = ended;
  result->ends_with_outside = ended != 0;
  clause->finished = 1;
  if (before != nullptr)
    before->finished = 1;
  return close_step::next;
}

/* Whether the target of a Contains or Inside clause ends at the record,
 * at the clause's level, with *ended as MatchTerminator gives it. The
 * end-pattern flag is put back. */
bool TargetEndsAt(chunkdef_info* clause, const walk_record& record, WORD previous, DWORD* ended,
                  chunk_process_state* state) {
  *ended = 0;
  if ((clause->relation != RELATION_CONTAINS && clause->relation != RELATION_INSIDE) ||
      !ClosingTestsApply(clause, record, state))
    return false;
  const DWORD endPattern = state->end_pattern;
  DWORD counted = 0;
  const DWORD ends = MatchTerminator(clause, record.data, record.signature, record.length,
                                     previous, &counted, ended, 0, state);
  state->end_pattern = endPattern;
  return ends != 0;
}

/* A target lies within the target of the clause before it and ends with
 * it at the latest: where its own tests pass over the record that ends the
 * target around it (a run in a paragraph of a bracketed section, at whose
 * hotspot end the depths are still the run's), the clause closes there
 * all the same. */
bool ClosesWithEnclosingTarget(chunkdef_info* clause, const walk_record& record, WORD previous,
                               chunk_process_state* state) {
  chunkdef_info* before = clause->run_previous;
  DWORD ended = 0;
  return before != nullptr &&
         (clause->relation == RELATION_CONTAINS || clause->relation == RELATION_INSIDE) &&
         !TargetEndsAt(clause, record, previous, &ended, state) &&
         TargetEndsAt(before, record, previous, &ended, state);
}

/* Closes the matched clauses that end at the record, innermost first,
 * passing over those that never close (Everything, After, Starts With). */
closing CloseClauses(const walk_record& record, WORD previous, chunk_process_state* state) {
  closing result;
  const chunkdef_info* const innermost = state->last_matched;
  for (chunkdef_info* clause = state->last_matched; clause != nullptr;) {
    chunkdef_info* before = clause->run_previous;
    close_step step = close_step::stop;
    switch (clause->relation) {
    case RELATION_EVERYTHING:
    case RELATION_AFTER:
    case RELATION_STARTS_WITH:
      step = close_step::next;
      break;
    case RELATION_CONTAINS:
    case RELATION_INSIDE:
      // An enclosing target's tests see only the records at its own level:
      // the end of a section nested in a section closes the inner clause
      // alone.
      if (clause != innermost && !ClosingTestsApply(clause, record, state))
        break;
      if (clause == innermost && ClosesWithEnclosingTarget(clause, record, previous, state)) {
        ReopenContaining(state, clause);
        ++result.closed;
        step = close_step::next;
        break;
      }
      step = CloseContaining(record, previous, clause, before, &result, state);
      break;
    case RELATION_OUTSIDE:
    case RELATION_BEFORE:
      step = CloseBeforeTarget(record, previous, clause, before, &result, state);
      break;
    case RELATION_ENDS_WITH:
      step = CloseEndsWith(record, previous, clause, before, &result, state);
      break;
    default:
      break;
    }
    if (step != close_step::next)
      break;
    clause = before;
  }
  return result;
}

/* Where clauses closed: the record still goes to the action step when it
 * belongs to the chunk, then the chunk closes. */
STATUS CloseOpenChunk(const walk_record& record, const closing& result,
                      chunk_process_state* state) {
  if (state->chunk_open == 0)
    return NOERROR;
  if (HandedBeforeClose(record, result, state)) {
    const STATUS status =
        ProcessChunkRecord(record.data, record.signature, record.length, state);
    state->handled = 1;
    if (status != NOERROR)
      return status;
  }
  return CloseChunk(record, state);
}

/* The record that ended an occurrence may begin the next one: a table
 * cell (the next row or column), a text run of another font, or a record
 * that lies outside the occurrence it ended (the next paragraph). */
bool MayReopenAt(WORD signature, const closing& result, const chunk_process_state* state) {
  const chunkdef_info* pending = state->pending;
  return IsTableCell(signature) || result.ended_outside ||
         (pending != nullptr && pending->target_type == TARGETTYPE_STYLIZEDTEXT &&
          IsTextRun(signature));
}

/* True when the chunk is open with no clause pending and every matched
 * clause is one that never closes (Everything, After, Starts With): no
 * record can change the chunk's state until the walk ends. */
bool OpenForGood(const chunk_process_state* state) {
  if (state->chunk_open == 0 || state->pending != nullptr)
    return false;
  for (const chunkdef_info* clause = state->last_matched; clause != nullptr;
       clause = clause->run_previous) {
    if (clause->relation != RELATION_EVERYTHING && clause->relation != RELATION_AFTER &&
        clause->relation != RELATION_STARTS_WITH)
      return false;
  }
  return true;
}

/* While a clause's occurrence is open its start test does not run, but
 * an occurrence of its target nested deeper in it (a table in a cell of
 * the table, a section in the section) is numbered all the same, as a
 * walk for that one target numbers it: such starts are counted, and added
 * to the clause's occurrence number when the open occurrence ends. */
void CountNestedStarts(const walk_record& record, WORD previous, chunk_process_state* state) {
  for (chunkdef_info* clause = state->last_matched; clause != nullptr;
       clause = clause->run_previous) {
    if ((clause->relation != RELATION_CONTAINS && clause->relation != RELATION_INSIDE) ||
        IsRowOrColumn(clause) || clause->target_type == TARGETTYPE_RECORD)
      continue;
    const target_parameter* row = RowOf(clause->target_type);
    if (row == nullptr ||
        (record.signature != SIG_CD_BEGIN && !IsStartSignature(row, record.signature)))
      continue;
    if (state->depth_table <= clause->depth_table &&
        state->depth_hotspot <= clause->depth_hotspot &&
        state->depth_layer <= clause->depth_layer)
      continue;
    // The start test of a copy that selects every occurrence: the clause's
    // own run fields stay as they are, but for the text run it met, which
    // the next nested text record may go on with.
    chunkdef_info probe = *clause;
    probe.relation = RELATION_CONTAINS;
    probe.index_count = 0;
    probe.seen = 0;
    probe.run_next = nullptr;
    DWORD complete = 0;
    if (Initiates(&probe, record, previous, &complete, state) != 0)
      ++clause->nested_starts;
    clause->run_record = probe.run_record;
    clause->run_font = probe.run_font;
    clause->run_continues = probe.run_continues;
  }
}

/* Where the target of the last matched clause ends at a record while the
 * clause after it is pending: not at all, at a record after it (the next
 * row's first cell, the next paragraph's record, a table end after a row),
 * or at its own last record (a section's hotspot end). */
enum class enclosing_end { none, outside, own };

/* Whether the record that ends the clause's occurrence lies outside it: as
 * MatchTerminator tells it, and always for rows, columns and text runs,
 * which end at the first record after them. */
bool EndLiesOutside(const chunkdef_info* clause, DWORD ended) {
  return ended != 0 || IsRowOrColumn(clause) || clause->target_type == TARGETTYPE_STYLIZEDTEXT ||
         clause->target_type == TARGETTYPE_RAWTEXT;
}

/* A pending clause would take a record that ends the enclosing target as
 * a start of its own (every record begins a Record target; a table begin
 * that ends a paragraph begins a table), and with a Record clause that
 * target would never close: the enclosing end is tested first. After,
 * Outside and Starts With would open the chunk at such a record (a table
 * that begins where the paragraph around the clause ends), and their
 * acceptance would keep the enclosing target from closing there. The test leaves the
 * state as it was (the end-pattern flag is put back). */
enclosing_end EnclosingEndAt(const walk_record& record, WORD previous,
                             chunk_process_state* state) {
  const chunkdef_info* pending = state->pending;
  chunkdef_info* last = state->last_matched;
  if (pending == nullptr || pending->finished != 0 ||
      (pending->relation != RELATION_CONTAINS && pending->relation != RELATION_INSIDE &&
       pending->relation != RELATION_STARTS_WITH && pending->relation != RELATION_AFTER &&
       pending->relation != RELATION_OUTSIDE) ||
      last == nullptr || last != pending->run_previous)
    return enclosing_end::none;
  // A Before, Outside or Ends With clause that was found not to close at
  // the record lies within the target of the clause before it, whose end
  // is tested (StylizedText 2; Before Table 1; Text * ends with the run).
  if (last->tested_record == state->record_counter &&
      (last->relation == RELATION_BEFORE || last->relation == RELATION_OUTSIDE ||
       last->relation == RELATION_ENDS_WITH))
    last = last->run_previous;
  // After, Everything and Starts With never close: the target around them
  // ends what lies in them (StylizedText 1; After Record 1; Text * ends
  // with the run).
  while (last != nullptr &&
         (last->relation == RELATION_AFTER || last->relation == RELATION_EVERYTHING ||
          last->relation == RELATION_STARTS_WITH))
    last = last->run_previous;
  DWORD ended = 0;
  if (last == nullptr || !TargetEndsAt(last, record, previous, &ended, state))
    return enclosing_end::none;
  return EndLiesOutside(last, ended) ? enclosing_end::outside : enclosing_end::own;
}

/* The matched clauses close at the record and the chunk with them; the
 * record then lies outside what closed and may begin the next occurrence
 * or open the clauses after it. */
STATUS CloseThenReopen(const walk_record& record, WORD previous, chunk_process_state* state) {
  const closing result = CloseClauses(record, previous, state);
  if (result.status != NOERROR)
    return result.status;
  if (STATUS closed = CloseOpenChunk(record, result, state); closed != NOERROR)
    return closed;
  bool again = false;
  STATUS status = NOERROR;
  OpenAtRecord(record, previous, true, &again, &status, state);
  return status;
}

/* A Before or Outside clause closes where its target begins, and an Ends
 * With clause where its target ends, before the clause after it, pending,
 * may take that record as a start of its own (a Text clause, whose
 * one-record chunks open and close at once, after Before StylizedText 1 or
 * Ends With Graphic 1): its test runs first, once. True when the clause
 * closed there, with the status in *status. */
bool ClosesBeforePendingClause(const walk_record& record, WORD previous, STATUS* status,
                               chunk_process_state* state) {
  chunkdef_info* last = state->last_matched;
  const chunkdef_info* pending = state->pending;
  if (last == nullptr || pending == nullptr || pending->finished != 0 ||
      pending->run_previous != last ||
      (last->relation != RELATION_BEFORE && last->relation != RELATION_OUTSIDE &&
       last->relation != RELATION_ENDS_WITH) ||
      (pending->relation != RELATION_CONTAINS && pending->relation != RELATION_INSIDE))
    return false;
  closing result;
  if (last->relation == RELATION_ENDS_WITH) {
    // Only an end outside the target closes the clause ahead: a record of
    // the target's own (a one-record target) is the pending clause's to
    // take first, and the clause closes after it, as the test is put back.
    chunkdef_info* before = last->run_previous;
    const chunkdef_info saved = *last;
    const DWORD beforeFinished = before != nullptr ? before->finished : 0;
    const DWORD endPattern = state->end_pattern;
    CloseEndsWith(record, previous, last, before, &result, state);
    if (result.closed != 0 && result.last_ended == 0) {
      *last = saved;
      if (before != nullptr)
        before->finished = beforeFinished;
      state->end_pattern = endPattern;
      state->last_matched = last;
      state->pending = last->run_next;
      return false;
    }
  } else {
    CloseBeforeTarget(record, previous, last, last->run_previous, &result, state);
  }
  if (result.closed == 0) {
    last->tested_record = state->record_counter;
    return false;
  }
  *status = CloseOpenChunk(record, result, state);
  // The record may end the target around the clause as well (a hotspot's
  // end that is the Record an Outside clause stays closed over): the
  // clauses before close there too, and the record may begin the next
  // occurrence.
  chunkdef_info* around = state->last_matched;
  if (*status != NOERROR || around == nullptr ||
      (around->relation != RELATION_CONTAINS && around->relation != RELATION_INSIDE) ||
      !ClosingTestsApply(around, record, state))
    return true;
  const closing closed = CloseClauses(record, previous, state);
  *status = closed.status;
  if (*status != NOERROR || closed.closed == 0 ||
      !MayReopenAt(record.signature, closed, state))
    return true;
  bool again = false;
  OpenAtRecord(record, previous, true, &again, status, state);
  return true;
}

/* A Contains or Inside clause accepted at a one-record target (Text 2;
 * Record *, Inside Record 3; Text *): what the clauses after it match lies
 * in that record, and at the next record the target ends, with them,
 * before the record. The outermost such clause is matched again from
 * there, and the record is tested as usual, by the clauses around it too.
 * The status of closing the chunk goes to *status; true when it failed. */
bool EndsOneRecordTarget(const walk_record& record, STATUS* status, chunk_process_state* state) {
  chunkdef_info* whole = nullptr;
  for (chunkdef_info* clause = state->last_matched; clause != nullptr;
       clause = clause->run_previous) {
    if (clause->whole_record != 0 && clause->whole_record != state->record_counter)
      whole = clause;
  }
  if (whole == nullptr)
    return false;
  whole->whole_record = 0;
  Reopen(state, whole);
  if (state->chunk_open != 0)
    *status = CloseChunk(record, state);
  return *status != NOERROR;
}

/* After a one-record chunk ran at the record (the chunk is closed again),
 * an Ends With clause matched at a record before (`accepted`: a clause was
 * accepted at this one) still tests the record. */
bool EndsWithTestFollows(bool accepted, const chunk_process_state* state) {
  const chunkdef_info* last = state->last_matched;
  return !accepted && state->chunk_open == 0 && state->handled != 0 && last != nullptr &&
         last->relation == RELATION_ENDS_WITH && last->finished == 0 &&
         state->pending == last->run_next;
}

} // namespace

bool ChunkOpenForGood(const chunk_process_state* state) { return OpenForGood(state); }

bool FirstClauseMayStartAt(const chunk_process_state* state, WORD signature) {
  const chunkdef_info* clause = state->first_clause;
  const target_parameter* row = clause != nullptr ? RowOf(clause->target_type) : nullptr;
  if (row == nullptr || clause->target_type == TARGETTYPE_RECORD)
    return true;
  return signature == SIG_CD_BEGIN || IsStartSignature(row, signature);
}

bool StartTestsBySignature(const chunk_process_state* state) {
  const chunkdef_info* clause = state->pending;
  if (state->chunk_open != 0 || state->last_matched != nullptr || clause == nullptr ||
      clause != state->first_clause || clause->deferred_record != 0 ||
      state->record_counter == 0 || DecidedByInnerRecords(clause))
    return false;
  // MatchInitiator turns such a record down before it changes anything,
  // and with no clause matched nothing is left to close.
  return clause->relation == RELATION_CONTAINS || clause->relation == RELATION_INSIDE ||
         clause->relation == RELATION_STARTS_WITH;
}

bool StartTestsCountParagraphs(const chunk_process_state* state) {
  const chunkdef_info* clause = state->pending;
  if (!StartTestsBySignature(state) || clause->relation != RELATION_CONTAINS ||
      clause->finished != 0 || !IsParagraphType(clause->target_type) ||
      (clause->match_text != nullptr && clause->match_mode != MATCH_NONE) ||
      state->ff68_flag != 0)
    return false;
  const target_parameter* row = RowOf(clause->target_type);
  const WORD open = InnermostBracket(state);
  return row != nullptr && !HasStartPattern(row) && row->discriminator.count == 0 &&
         row->exclude.count == 0 && row->require.count == 0 &&
         !(open != 0 && IsStartSignature(row, open));
}

bool PassParagraphStart(const record_storage* node, WORD previous, chunk_process_state* state) {
  chunkdef_info* clause = state->pending;
  const WORD signature = node->signature;
  if (signature == SIG_CD_BEGIN || !IsStartSignature(RowOf(clause->target_type), signature))
    return false;
  // MatchInitiator's tests in its order, as StartTestsCountParagraphs
  // leaves them: a refused record is not counted; any other is, and opens
  // the chunk when the clause's indexes select it.
  if (RefusedForParagraph(RecordOf(node), previous, state))
    return true;
  const DWORD occurrence = clause->occurrence + 1;
  if (IndexSelects(clause, occurrence))
    return false;
  clause->occurrence = occurrence;
  return true;
}

STATUS CheckStartStop(const char* data, WORD signature, DWORD length, chunk_process_state* state) {
  if (OpenForGood(state))
    return NOERROR;
  const walk_record record = RecordInWalk(data, signature, length, state);
  const WORD previous = state->previous_signature;
  STATUS status = NOERROR;
  if (EndsOneRecordTarget(record, &status, state) || state->stop_matching != 0)
    return status;
  if (ClosesBeforePendingClause(record, previous, &status, state))
    return status;

  CountNestedStarts(record, previous, state);
  const enclosing_end enclosing = EnclosingEndAt(record, previous, state);
  if (enclosing == enclosing_end::outside)
    return CloseThenReopen(record, previous, state);

  bool accepted = AcceptDeferredClause(state);
  CountFirstParagraph(state);
  // The enclosing target's own last record is its last Record too: the
  // target closes after it. A one-record chunk taken at the record of an
  // Ends With target's own is followed by that clause's closing test.
  if (OpenAtRecord(record, previous, false, &accepted, &status, state)) {
    if ((enclosing != enclosing_end::own && !EndsWithTestFollows(accepted, state)) || status != NOERROR)
      return status;
  } else if (accepted && enclosing != enclosing_end::own) {
    return NOERROR;
  }

  chunkdef_info* last = state->last_matched;
  if (last != nullptr &&
      (last->relation == RELATION_CONTAINS || last->relation == RELATION_INSIDE) &&
      !ClosingTestsApply(last, record, state) &&
      !ClosesWithEnclosingTarget(last, record, previous, state))
    return NOERROR;

  const closing result = CloseClauses(record, previous, state);
  if (result.status != NOERROR)
    return result.status;
  if (result.closed == 0)
    return NOERROR;
  if (STATUS closed = CloseOpenChunk(record, result, state); closed != NOERROR)
    return closed;

  if (!MayReopenAt(signature, result, state))
    return NOERROR;
  bool again = false;
  if (OpenAtRecord(record, previous, true, &again, &status, state))
    return status;
  return NOERROR;
}
