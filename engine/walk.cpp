/*
 * The per-record step of the chunk engine's walk: the host's break test,
 * the nesting counts (tables, CDBEGIN brackets, hotspots, layers, large
 * paragraphs) that the start and stop tests and the actions read, the
 * current paragraph definition, reference and text header, then the start
 * and stop tests and the action step of an open chunk.
 *
 * Records outside the chunk are not copied as a writing walk meets them:
 * the first one passed over is remembered by number and node, and the
 * stretch is copied when the chunk next opens or the walk ends, resuming
 * at the remembered node, so every walk stays linear in the records.
 *
 * A writing walk's lane takes runs of records that need nothing of the
 * step but their counts: while the chunk is open for good (and the
 * action's case leaves them as they are) they go straight to the emitter's
 * lane, and once the start and stop tests are over, or before the chunk
 * first opens for records whose signature cannot open it (and paragraph
 * records that a first clause of paragraphs by index only counts), they
 * are only passed over; which signatures it may take is settled once per
 * walk in a table.
 *
 * Also ConsumeRecord and the clean-up pass of action 49 built on it.
 */
#include <string.h>

#include "engine/driver.h"
#include "engine/record_fields.h"
#include "engine/services.h"
#include "engine/walk.h"
#include "store/emitter.h"
#include "store/messages.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "store/vocabulary.h"
#include "velko/status.h"

WORD (*ControlBreak)(void) = nullptr;

namespace {

constexpr DWORD kBreakTestInterval = 100;
constexpr const char* kInterruptedMessage = "TARNO: Interrupted by user!";


/* Bytes at the end of the current definition cleared before a definition
 * is copied over it. */
constexpr DWORD kDefinitionTail = 12;

/* The empty text run. */
constexpr DWORD kEmptyTextLength = sizeof(CDTEXT);

bool Interrupted(const chunk_process_state* state) {
  if (state->record_counter % kBreakTestInterval != 1)
    return false;
  WORD (*breakTest)(void) = state->session->internal->ControlBreak;
  if (breakTest == nullptr)
    breakTest = ControlBreak;
  if (breakTest == nullptr || breakTest() == 0)
    return false;
  ShowUserMessage(kInterruptedMessage);
  return true;
}

void CountTables(WORD signature, WORD bracketed, chunk_process_state* state) {
  if ((signature == SIG_CD_PRETABLEBEGIN && state->pretable_flag == 0) ||
      (signature == SIG_CD_BEGIN && bracketed == SIG_CD_PRETABLEBEGIN)) {
    state->pretable_flag = 1;
    ++state->depth_table;
  } else if (IsTableBegin(signature)) {
    if (state->pretable_flag == 0)
      ++state->depth_table;
  } else if (IsTableCell(signature)) {
    state->pretable_flag = 0;
  } else if (IsTableEnd(signature)) {
    --state->depth_table;
  }
}

/* The CDBEGIN stack. Brackets opened beyond its 50 levels are counted, and
 * their CDENDs close them before any stacked level, so the stack stays in
 * step with the records. */
void CountBrackets(WORD signature, WORD bracketed, chunk_process_state* state) {
  if (signature == SIG_CD_END) {
    if (state->begin_overflow > 0)
      --state->begin_overflow;
    else if (state->depth_begin > 0)
      --state->depth_begin;
    return;
  }
  if (signature != SIG_CD_BEGIN)
    return;
  if (state->depth_begin < kMaxBeginNesting)
    state->begin_stack[++state->depth_begin] = bracketed;
  else
    ++state->begin_overflow;
}

bool LevelKeepsDefinitions(const chunk_process_state* state) {
  DWORD level = state->gen.table_level;
  if (level >= kEmitterTableLevels)
    level = kEmitterTableLevels - 1;
  return state->level_saves_definitions[level] != 0;
}

/* The bit of a hotspot level in twin_hotspot_levels; 0 past level 64. */
uint64_t TwinLevelBit(int32_t level) {
  return level >= 1 && level <= 64 ? uint64_t{1} << (level - 1) : 0;
}

/* The first of the nesting and paragraph rules that applies to the record. */
void FollowRecord(const char* record, WORD signature, DWORD length, WORD bracketed, WORD previous,
                  chunk_process_state* state) {
  const WORD inner = InnermostBracket(state);
  const bool twinEnd = state->twin_end_pending != 0;
  state->twin_end_pending = 0;
  const bool hotspotBegin = signature == SIG_CD_V4HOTSPOTBEGIN ||
                            (signature == SIG_CD_HOTSPOTBEGIN && previous != SIG_CD_V4HOTSPOTBEGIN);
  if ((hotspotBegin && inner != SIG_CD_V4HOTSPOTBEGIN) ||
      (signature == SIG_CD_BEGIN &&
       (bracketed == SIG_CD_V4HOTSPOTBEGIN || bracketed == SIG_CD_HOTSPOTBEGIN ||
        bracketed == SIG_CD_RESOURCELINKBEGIN))) {
    ++state->depth_hotspot;
    state->twin_hotspot_levels &= ~TwinLevelBit(state->depth_hotspot);
    return;
  }
  // A hotspot begin right after a V4 hotspot begin adds no level: the two
  // are one hotspot, which ends with a hotspot end and a V4 hotspot end.
  if (signature == SIG_CD_HOTSPOTBEGIN && previous == SIG_CD_V4HOTSPOTBEGIN &&
      inner != SIG_CD_V4HOTSPOTBEGIN) {
    state->twin_hotspot_levels |= TwinLevelBit(state->depth_hotspot);
    return;
  }
  const bool hotspotEnd = signature == SIG_CD_HOTSPOTEND || signature == SIG_CD_V4HOTSPOTEND;
  if (hotspotEnd && inner != SIG_CD_V4HOTSPOTBEGIN) {
    // The V4 hotspot end right after the hotspot end of such a pair closed
    // that hotspot's level already.
    if (twinEnd && signature == SIG_CD_V4HOTSPOTEND && previous == SIG_CD_HOTSPOTEND)
      return;
    const uint64_t bit = TwinLevelBit(state->depth_hotspot);
    if (signature == SIG_CD_HOTSPOTEND && (state->twin_hotspot_levels & bit) != 0) {
      state->twin_hotspot_levels &= ~bit;
      state->twin_end_pending = 1;
    }
    --state->depth_hotspot;
    return;
  }
  if (signature == SIG_CD_END &&
      (bracketed == SIG_CD_V4HOTSPOTEND || bracketed == SIG_CD_HOTSPOTEND ||
       bracketed == SIG_CD_ALTHOTSPOTEND)) {
    --state->depth_hotspot;
    return;
  }
  if (signature == SIG_CD_BEGIN && bracketed == SIG_CD_LAYER) {
    ++state->depth_layer;
    return;
  }
  if (signature == SIG_CD_END && bracketed == SIG_CD_LAYER) {
    --state->depth_layer;
    return;
  }
  if (signature == SIG_CD_TEXT) {
    if (length >= sizeof(CDTEXT) && StateItem(state)->internal != nullptr)
      memcpy(StateItem(state)->internal->current_text_header, record, sizeof(CDTEXT));
    return;
  }
  if (signature == SIG_CD_PABDEFINITION) {
    if (LevelKeepsDefinitions(state) || length < sizeof(WSIG))
      return;
    BYTE* definition = state->gen.paragraph_copy;
    memset(definition + kParagraphDefinitionArea - kDefinitionTail, 0, kDefinitionTail);
    memcpy(definition, record,
           length < kParagraphDefinitionArea ? length : kParagraphDefinitionArea);
    state->definition_changed = 1;
    return;
  }
  if (signature == SIG_CD_PABREFERENCE) {
    WORD id = 0;
    if (LevelKeepsDefinitions(state) ||
        !ReadRecordWord(record, length, offsetof(CDPABREFERENCE, PABID), &id))
      return;
    CDPABREFERENCE reference = CurrentReference(state);
    reference.PABID = id;
    SetCurrentReference(state, reference);
    state->reference_changed = 1;
    return;
  }
  if (signature == SIG_CD_LARGEPARAGRAPH) {
    WORD word = 0;
    if (!ReadRecordWord(record, length, offsetof(CDLARGEPARAGRAPH, Flags), &word))
      return;
    if (state->chunk_open == 0 && (word & CDLARGEPARAGRAPH_BEGIN) != 0)
      state->ff68_flag = 1;
    else if ((word & CDLARGEPARAGRAPH_END) != 0)
      state->ff68_flag = 0;
  }
}

/* The first saved paragraph definition with the PABID, or null. */
const char* SavedDefinition(const _internal_SESS* session, WORD id) {
  for (DWORD index = 0; index < session->saved_definition_count; ++index) {
    const char* entry = session->saved_definitions[index];
    CDPABDEFINITION definition;
    if (entry == nullptr)
      continue;
    memcpy(&definition, entry, sizeof(WSIG) + sizeof(WORD));
    if (definition.PABID == id)
      return entry;
  }
  return nullptr;
}

/* Before a paragraph reference, the saved definition of its PABID. */
STATUS EmitSavedDefinition(const record_storage* node, chunk_process_state* state) {
  const _internal_SESS* session = state->session->internal;
  WORD id = 0;
  if (session->saved_definition_count == 0 || node->signature != SIG_CD_PABREFERENCE ||
      !ReadRecordWord(node->data, node->length, offsetof(CDPABREFERENCE, PABID), &id))
    return NOERROR;
  const char* entry = SavedDefinition(session, id);
  if (entry == nullptr)
    return NOERROR;
  WSIG header;
  memcpy(&header, entry, sizeof header);
  return CopyCDUpdated(entry, SIG_CD_PABDEFINITION, header.Length, &state->gen);
}

bool IsEmptyText(const record_storage* node) {
  return node != nullptr && node->signature == SIG_CD_TEXT && node->length == kEmptyTextLength;
}
bool IsText(const record_storage* node) {
  return node != nullptr && node->signature == SIG_CD_TEXT;
}
bool IsTextBracket(const record_storage* node, WORD signature) {
  return node != nullptr && node->signature == signature && NodeBracket(node) == SIG_CD_TEXT;
}

/* A CDBEGIN of text holding only an empty text run, between text runs: the
 * bracket through its CDEND goes. True when it went, with *after the record
 * after it. */
bool RemoveEmptyTextBracket(chunk_process_state* state, body_context* list, record_storage* begin,
                            record_storage** after) {
  record_storage* empty = begin->next;
  if (!IsEmptyText(empty) || empty->next == nullptr || IsText(empty->next))
    return false;
  record_storage* fourth = empty->next->next;
  fourth = fourth != nullptr ? fourth->next : nullptr;
  const record_storage* before = begin->previous;
  if (!(IsText(before) || IsTextBracket(before, SIG_CD_END) || IsText(fourth) ||
        IsTextBracket(fourth, SIG_CD_BEGIN)))
    return false;
  record_storage* end = empty->next;
  while (end != nullptr && end->signature != SIG_CD_END)
    end = end->next;
  if (end == nullptr)
    return false; // without its CDEND the bracket is left as it is
  record_storage* node = begin;
  while (node != end)
    node = ConsumeRecord(state->session, list, node);
  *after = ConsumeRecord(state->session, list, end);
  return true;
}

/* A pass-through begin: returns the record the pass goes on with. */
record_storage* CleanPassThroughBegin(chunk_process_state* state, body_context* list,
                                      record_storage* begin) {
  LSXLsiSession* session = state->session;
  record_storage* next = begin->next;
  if (state->passthru_open != 0 || next == nullptr)
    return ConsumeRecord(session, list, begin);
  if (next->signature == SIG_CD_HTMLEND) {
    ConsumeRecord(session, list, begin);
    return ConsumeRecord(session, list, next);
  }
  if (IsEmptyText(next)) {
    if (next->next == nullptr) {
      ConsumeRecord(session, list, begin);
      return next;
    }
    if (next->next->signature == SIG_CD_HTMLEND) {
      ConsumeRecord(session, list, next->next);
      ConsumeRecord(session, list, begin);
      return next;
    }
  }
  state->passthru_open = 1;
  return next;
}

} // namespace

CDPABREFERENCE CurrentReference(const chunk_process_state* state) {
  CDPABREFERENCE reference;
  static_assert(sizeof reference == sizeof state->gen.paragraph_word);
  memcpy(&reference, &state->gen.paragraph_word, sizeof reference);
  return reference;
}

void SetCurrentReference(chunk_process_state* state, const CDPABREFERENCE& reference) {
  memcpy(&state->gen.paragraph_word, &reference, sizeof reference);
}

STATUS EmitParagraph(chunk_process_state* state) {
  return CopyCDUpdated(&state->paragraph, SIG_CD_PARAGRAPH, sizeof(CDPARAGRAPH), &state->gen);
}

STATUS EmitReference(chunk_process_state* state) {
  const CDPABREFERENCE reference = CurrentReference(state);
  return CopyCDUpdated(&reference, SIG_CD_PABREFERENCE, sizeof reference, &state->gen);
}

CDTEXT DefaultTextHeader(chunk_process_state* state) {
  CDTEXT header = {};
  memcpy(&header, StateItem(state)->internal->default_text_header, sizeof header);
  header.Header.Signature = SIG_CD_TEXT;
  header.Header.Length = sizeof header;
  return header;
}

STATUS Process_OneCDRecord(const char* record, WORD signature, DWORD length,
                           chunk_process_state* state) {
  state->handled = 0;
  ++state->record_counter;
  if (Interrupted(state))
    return VELKO_ERR_FAILED;

  state->record_counter_copy = state->record_counter;
  state->previous_signature = state->record_counter == 1 ? 0 : state->last_handled_signature;
  state->last_handled_signature = signature;
  const WORD previous = state->previous_signature;

  const WORD bracketed = BracketedSignature(record, signature, length);
  CountTables(signature, bracketed, state);
  CountBrackets(signature, bracketed, state);
  FollowRecord(record, signature, length, bracketed, previous, state);

  STATUS status = NOERROR;
  if (state->stop_matching == 0)
    status = CheckStartStop(record, signature, length, state);
  if (IsTableBegin(signature))
    state->pretable_flag = 0;
  state->previous_signature = signature;
  if (status != NOERROR)
    return status;

  state->record_counter_copy = state->record_counter;
  if (state->handled != 0)
    return NOERROR;
  if (state->chunk_open != 0)
    return ProcessChunkRecord(record, signature, length, state);
  // A record a text run of the chunk took with it (the run reached past
  // the chunk's end) went out with the run: it is not copied again.
  if (state->writes != 0 && length != 0 && state->pass_over_mark == 0 &&
      state->record_counter > state->skip_mark) {
    state->pass_over_mark = state->record_counter;
    state->pass_over_node = state->current_record;
  }
  return NOERROR;
}

/* ---- the lane ---- */

namespace {

/* Lane table entries: the emitter's lane kind in the low bits, and what
 * the walk needs of the signature. */
constexpr BYTE kLaneEmitterKind = 0x07;
constexpr BYTE kLaneTableStep = 0x08; /* a table's begin or end: the step only counts tables */
constexpr BYTE kLaneStepFree = 0x10;  /* the per-record step only counts it */
constexpr BYTE kLaneCaseReads = 0x20; /* the action's case reads it */
constexpr BYTE kLaneMayStart = 0x40;  /* the chunk's start test may take it */
constexpr BYTE kLaneCaseMayLeave = 0x80; /* the case may leave it: ActionCaseLeaves */
/* True for the records the per-record step does more with than count
 * them: the nesting counts (CountTables, CountBrackets, FollowRecord's
 * hotspots and layers), the current definition and the large paragraph
 * flag. Text runs and references are free: the lane keeps the text header
 * and the reference of the last one it took; so are table cells, whose
 * only step (the pre-table flag cleared) the lane takes itself. */
bool StepFollows(WORD signature) {
  switch (signature) {
  case SIG_CD_PRETABLEBEGIN:
  case SIG_CD_BEGIN:
  case SIG_CD_END:
  case SIG_CD_HOTSPOTBEGIN:
  case SIG_CD_V4HOTSPOTBEGIN:
  case SIG_CD_HOTSPOTEND:
  case SIG_CD_V4HOTSPOTEND:
  case SIG_CD_PABDEFINITION:
  case SIG_CD_LARGEPARAGRAPH:
    return true;
  default:
    return IsTableBegin(signature) || IsTableEnd(signature);
  }
}

bool HasBreakTest(const chunk_process_state* state) {
  return state->session->internal->ControlBreak != nullptr || ControlBreak != nullptr;
}

/* Whether the lane may take records here: the chunk open for good with
 * no record to drop, the start and stop tests over, or, before the chunk
 * first opens, records whose signature cannot open it; closed, not before
 * the walk is past the records a text run took beyond the chunk's end. */
bool LaneMayRun(const chunk_process_state* state) {
  if (state->chunk_open == 0)
    return state->record_counter >= state->skip_mark &&
           (state->stop_matching != 0 || StartTestsBySignature(state));
  return state->skip_mark == 0 && (state->stop_matching != 0 || ChunkOpenForGood(state));
}

bool LastingInput(const chunk_process_state* state) {
  const body_context* input = StateItem(state)->internal->input;
  return input != nullptr && input->output == 0;
}

/* What the per-record step leaves after the lane took records up to last:
 * the counts and signatures, the text header of the last text run and the
 * reference of the last paragraph reference. */
void FinishLaneRun(const record_storage* last, DWORD counter, const record_storage* text,
                   const record_storage* reference, chunk_process_state* state) {
  state->handled = 0;
  state->record_counter = counter;
  state->record_counter_copy = counter;
  state->previous_signature = last->signature;
  state->last_handled_signature = last->signature;
  state->current_record = const_cast<record_storage*>(last);
  if (state->chunk_open != 0)
    state->chunk_opened_here = 0;
  if (text != nullptr)
    CopyWalkedTextHeader(text, state);
  WORD id = 0;
  if (reference != nullptr && !LevelKeepsDefinitions(state) &&
      ReadRecordWord(reference->data, reference->length, offsetof(CDPABREFERENCE, PABID), &id)) {
    CDPABREFERENCE current = CurrentReference(state);
    current.PABID = id;
    SetCurrentReference(state, current);
    state->reference_changed = 1;
  }
}

/* Whether an emitting lane takes the record through the emitter's full
 * path (see TakeTableRecord): a table's begin or end that the case, if
 * it runs, does not read. */
bool TakesTableRecord(BYTE entry, bool open) {
  return (entry & kLaneTableStep) != 0 && (!open || (entry & kLaneCaseReads) == 0);
}

/* A table's begin or end met by an emitting lane: its step counts the
 * table, and the record goes out as the frame would send it, through the
 * emitter's table checks, the lane closed around it. False when the lane
 * could not open again (*status 0) or the emit failed. */
bool TakeTableRecord(const record_storage* node, emitter_lane* lane, chunk_process_state* state,
                     STATUS* status) {
  CloseEmitterLane(lane);
  *status = EmitInputRecord(node->data, node->signature, node->length, state);
  if (*status != NOERROR)
    return false;
  CountTables(node->signature, 0, state);
  if (IsTableBegin(node->signature))
    state->pretable_flag = 0;
  return OpenEmitterLane(&state->gen, LastingInput(state), lane);
}

} // namespace

bool PrepareWalkLane(chunk_process_state* state) {
  state->lane_on = 0;
  if (state->writes == 0 || !EmitterLaneOn() || StateItem(state)->internal == nullptr)
    return false;
  for (unsigned slot = 0; slot < sizeof state->lane_table; ++slot) {
    const WORD signature = LaneSlotSignature(slot);
    BYTE entry = 0;
    if (signature > kLowestWalkedSignature) {
      entry = EmitterLaneKind(signature);
      if (!StepFollows(signature))
        entry |= kLaneStepFree;
      else if (IsTableBegin(signature) || IsTableEnd(signature))
        entry |= kLaneTableStep;
      if (ActionCaseReads(state, signature))
        entry |= kLaneCaseReads;
      if (ActionCaseMayLeave(state, signature))
        entry |= kLaneCaseMayLeave;
      if (FirstClauseMayStartAt(state, signature))
        entry |= kLaneMayStart;
    }
    state->lane_table[slot] = entry;
  }
  state->lane_on = 1;
  return true;
}

record_storage* WalkLaneRun(record_storage* node, chunk_process_state* state, STATUS* status) {
  *status = NOERROR;
  if (state->lane_on == 0 || HasBreakTest(state) || !LaneMayRun(state))
    return node;
  const bool open = state->chunk_open != 0;
  // Closed with the tests still running, records that may open the chunk
  // go to the per-record step.
  const BYTE closedStop =
      !open && state->stop_matching == 0 ? kLaneMayStart : BYTE{0};
  // Unless the start test only counts the paragraph records it turns
  // down: those the lane passes over too, counted.
  const bool countsParagraphs = closedStop != 0 && StartTestsCountParagraphs(state);
  const BYTE passedStop = countsParagraphs ? BYTE{0} : closedStop;
  const BYTE* table = state->lane_table;
  // The matching cases copy a record an earlier match marked with its mark
  // (FrameTail): such records take the per-record step.
  const WORD stopFlags =
      state->action == ACTION_LINK_MATCHING || state->action == ACTION_WIKI_MATCHING
          ? WORD{RECORD_MATCH_MARKER}
          : WORD{0};
  // Once the tests are over the chunk never opens again: what was passed
  // over goes out now, in the order the walk's end would copy it, and the
  // run after it is emitted as it is taken, so that the rest of the body
  // is walked once.
  const bool emits = open || state->stop_matching != 0;
  // A record the lane cannot take needs no run opened for it.
  if (node == nullptr || (node->flags & stopFlags) != 0)
    return node;
  if (const BYTE first = table[LaneSlot(node->signature)];
      (first & (kLaneStepFree | passedStop)) != kLaneStepFree &&
      !(emits && TakesTableRecord(first, open)))
    return node;
  if (!open && emits && state->pass_over_mark != 0) {
    *status = CopyPassedOverRecords(state, node, true);
    if (*status != NOERROR)
      return node;
  }
  emitter_lane lane;
  bool laneOpen = emits && OpenEmitterLane(&state->gen, LastingInput(state), &lane);
  if (emits && !laneOpen)
    return node;
  DWORD counter = state->record_counter;
  WORD previous = state->last_handled_signature;
  const record_storage* last = nullptr;
  const record_storage* text = nullptr;
  const record_storage* reference = nullptr;
  // The records that need neither the step nor the case, and that the
  // emitter takes without a call, go in bursts (see OpenLaneBurst).
  const BYTE burstMask = kLaneStepFree | (open ? kLaneCaseReads : BYTE{0});
  // What the per-record step would note of a record the run took.
  auto noteTaken = [&](const record_storage* taken, WORD signature, DWORD length) {
    if (signature == SIG_CD_TEXT && length >= sizeof(CDTEXT))
      text = taken;
    else if (signature == SIG_CD_PABREFERENCE && length >= sizeof(CDPABREFERENCE))
      reference = taken;
    else if (IsTableCell(signature))
      state->pretable_flag = 0; // CountTables' step for a cell
    last = taken;
  };
  for (; node != nullptr; node = node->next) {
    lane_burst burst;
    if (emits && laneOpen && OpenLaneBurst(&lane, &burst)) {
      const DWORD opened = burst.ordinal;
      const record_storage* taken = last;
      for (; node != nullptr; node = node->next) {
        const DWORD length = node->length;
        const WORD signature = node->signature;
        const BYTE entry = table[LaneSlot(signature)];
        if ((entry & burstMask) != kLaneStepFree || length == 0 ||
            length > kLargestWalkedRecord || (node->flags & stopFlags) != 0)
          break;
        __builtin_prefetch(reinterpret_cast<const char*>(node) + kLaneLookAhead);
        __builtin_prefetch(node->data + kLaneLookAhead);
        if (!LaneBurstTakes(&burst, node->data, signature, length,
                            static_cast<BYTE>(entry & kLaneEmitterKind)))
          break;
        noteTaken(node, signature, length);
      }
      CloseLaneBurst(&lane, burst);
      counter += burst.ordinal - opened;
      if (last != taken)
        previous = last->signature;
      if (node == nullptr)
        break;
    }
    const DWORD length = node->length;
    const WORD signature = node->signature;
    if (length == 0 || length > kLargestWalkedRecord || (node->flags & stopFlags) != 0)
      break;
    // Nodes and records mostly follow each other in memory: what lies a
    // few records ahead of both is asked for while this one is handled.
    __builtin_prefetch(reinterpret_cast<const char*>(node) + kLaneLookAhead);
    __builtin_prefetch(node->data + kLaneLookAhead);
    const BYTE entry = table[LaneSlot(signature)];
    bool leaveRun = false;
    if (emits && TakesTableRecord(entry, open)) {
      laneOpen = TakeTableRecord(node, &lane, state, status);
      if (*status != NOERROR)
        break;
      leaveRun = !laneOpen;
    } else if (emits) {
      // A record the case reads goes on when the case would leave it as
      // it is; what the case does besides follows once it is taken.
      BYTE leaves = 0;
      if ((entry & (kLaneStepFree | (open ? kLaneCaseReads : BYTE{0}))) != kLaneStepFree &&
          ((entry & (kLaneStepFree | kLaneCaseMayLeave)) != (kLaneStepFree | kLaneCaseMayLeave) ||
           (leaves = ActionCaseLeaves(node, state)) == 0))
        break;
      bool taken = false;
      const auto kind = static_cast<BYTE>(entry & kLaneEmitterKind);
      *status = leaves != 0 ? EmitLaneTextRun(&lane, node, kind, leaves, state, &taken)
                            : EmitLaneRecord(&lane, node->data, signature, length, kind, &taken);
      if (*status != NOERROR || !taken)
        break;
      if (leaves != 0)
        ActionCaseLeft(node, leaves, state);
    } else {
      if ((entry & (kLaneStepFree | closedStop)) != kLaneStepFree &&
          (!countsParagraphs || (entry & kLaneStepFree) == 0 ||
           !PassParagraphStart(node, previous, state)))
        break;
      if (state->pass_over_mark == 0) {
        state->pass_over_mark = counter + 1;
        state->pass_over_node = node;
      }
    }
    ++counter;
    noteTaken(node, signature, length);
    previous = signature;
    if (leaveRun) {
      node = node->next;
      break;
    }
  }
  if (laneOpen)
    CloseEmitterLane(&lane);
  if (last != nullptr)
    FinishLaneRun(last, counter, text, reference, state);
  return node;
}

namespace {

/* Whether the walk's input is the list its load made, untouched since,
 * and the walk has met every node before node: its nodes from node on are
 * then the rest of the walk. */
bool LoadedListLeadsOn(const body_context* input, const record_storage* node,
                       const chunk_process_state* state) {
  return state->input_loaded_now != 0 && input != nullptr && input->loaded_last != nullptr &&
         node->ordinal == state->record_counter + 1 && input->loaded_last->ordinal >= node->ordinal;
}

} // namespace

record_storage* PassRestOfWalk(record_storage* node, chunk_process_state* state) {
  const WORD action = state->action;
  // A break test must still be asked every hundred records.
  if ((action != ACTION_QUERY_RECORDS && action != ACTION_RENDER) || state->writes != 0 ||
      node == nullptr || node->length == 0 || state->skip_mark != 0 || !EmitterLaneOn() ||
      HasBreakTest(state))
    return node;
  // Open for good, every record up to the walk's end would take the
  // action's step (action 1 asking only for the chunk's first record or
  // its existence has its answer already); closed for good, none would.
  // Of what the per-record step follows besides, only the item's current
  // text header outlives the walk.
  const bool open = ChunkOpenForGood(state);
  if (open ? action == ACTION_QUERY_RECORDS && !QueryPassesRestOfChunk(state)
           : state->chunk_open != 0 || state->stop_matching == 0)
    return node;
  record_storage* const first = node;
  const DWORD firstNumber = state->record_counter + 1;
  DWORD counter = state->record_counter;
  const record_storage* text = nullptr;
  record_storage* last = nullptr;
  const body_context* input = StateItem(state)->internal->input;
  if (LoadedListLeadsOn(input, node, state)) {
    // The list as its load left it: numbered on from node without a gap,
    // no record of length 0, the load's last node its end.
    last = input->loaded_last;
    counter = last->ordinal;
    for (const record_storage* back = last; text == nullptr; back = back->previous) {
      if (back->signature == SIG_CD_TEXT && back->length >= sizeof(CDTEXT))
        text = back;
      if (back == node)
        break;
    }
    node = nullptr;
  } else {
    for (; node != nullptr && node->length != 0; node = node->next) {
      ++counter;
      if (node->signature == SIG_CD_TEXT && node->length >= sizeof(CDTEXT))
        text = node;
      last = node;
    }
  }
  state->handled = 0;
  state->chunk_opened_here = 0;
  state->record_counter = counter;
  state->record_counter_copy = counter;
  state->previous_signature = last->signature;
  state->last_handled_signature = last->signature;
  if (text != nullptr)
    memcpy(StateItem(state)->internal->current_text_header, text->data, sizeof(CDTEXT));
  if (open && action == ACTION_QUERY_RECORDS) {
    AnswerRecordPositionsThrough(firstNumber, counter, state);
  } else if (open) {
    // The rendering step remembers the chunk's first record and takes
    // each record as the last one so far.
    state->current_record = first;
    ProcessRenderRecord(state);
    state->current_record = last;
    ProcessRenderRecord(state);
  }
  state->current_record = last;
  return node;
}

record_storage* ConsumeRecord(LSXLsiSession* session, body_context* list, record_storage* record) {
  if (record == nullptr)
    return nullptr;
  record_storage* next = record->next;
  if (record->previous != nullptr)
    record->previous->next = next;
  if (next != nullptr)
    next->previous = record->previous;
  if (list != nullptr) {
    if (list->records == record)
      list->records = next;
    if (list->last_written == record)
      list->last_written = record->previous;
  }
  FreeRecordStorage(session, record);
  return next;
}

STATUS EmitInputRecord(const char* data, WORD signature, DWORD length, chunk_process_state* state) {
  const body_context* input = StateItem(state)->internal->input;
  if (input != nullptr && input->output == 0)
    state->gen.lasting_record = data;
  const STATUS status = CopyCDUpdated(data, signature, length, &state->gen);
  state->gen.lasting_record = nullptr;
  return status;
}

STATUS CopyPassedOverRecords(chunk_process_state* state, const record_storage* stop,
                             bool savedDefinitions) {
  // Records the emitter's lane takes go in runs; a run closes before any
  // other record is emitted.
  emitter_lane lane;
  bool laneOpen = false;
  for (record_storage* node = state->pass_over_node; node != nullptr && node != stop;
       node = node->next) {
    // The records were walked a while ago: what lies ahead is asked for
    // again, as in the lane's own runs.
    __builtin_prefetch(reinterpret_cast<const char*>(node) + kLaneLookAhead);
    __builtin_prefetch(node->data + kLaneLookAhead);
    if (state->lane_on != 0) {
      if (!laneOpen)
        laneOpen = OpenEmitterLane(&state->gen, LastingInput(state), &lane);
      if (lane_burst burst; laneOpen && OpenLaneBurst(&lane, &burst)) {
        for (; node != nullptr && node != stop; node = node->next) {
          __builtin_prefetch(reinterpret_cast<const char*>(node) + kLaneLookAhead);
          __builtin_prefetch(node->data + kLaneLookAhead);
          const BYTE kind = state->lane_table[LaneSlot(node->signature)] & kLaneEmitterKind;
          if (!LaneBurstTakes(&burst, node->data, node->signature, node->length, kind))
            break;
        }
        CloseLaneBurst(&lane, burst);
        if (node == nullptr || node == stop)
          break;
      }
      if (laneOpen) {
        bool taken = false;
        const STATUS status =
            EmitLaneRecord(&lane, node->data, node->signature, node->length,
                           static_cast<BYTE>(state->lane_table[LaneSlot(node->signature)] &
                                             kLaneEmitterKind),
                           &taken);
        if (status != NOERROR || !taken) {
          CloseEmitterLane(&lane);
          laneOpen = false;
        }
        if (status != NOERROR)
          return status;
        if (taken)
          continue;
      }
    }
    if (savedDefinitions) {
      if (STATUS status = EmitSavedDefinition(node, state); status != NOERROR)
        return status;
    }
    if (STATUS status = EmitInputRecord(node->data, node->signature, node->length, state);
        status != NOERROR)
      return status;
  }
  if (laneOpen)
    CloseEmitterLane(&lane);
  state->pass_over_mark = 0;
  state->pass_over_node = nullptr;
  return NOERROR;
}

void CleanupTextRuns(chunk_process_state* state) {
  VelkoRTItem* item = StateItem(state);
  body_context* list = item->internal->input;
  if (list == nullptr)
    return;
  LSXLsiSession* session = state->session;
  state->passthru_open = 0;
  // A body just loaded without any record the pass could change or
  // remove is left as it is without walking it.
  if (state->input_loaded_now != 0 && list->cleanup_candidates == 0 && EmitterLaneOn())
    return;
  record_storage* node = list->records;
  while (node != nullptr) {
    const WORD signature = node->signature;
    record_storage* after = nullptr;
    if (item->AutoMergeText != 0 && IsTextBracket(node, SIG_CD_BEGIN) &&
        RemoveEmptyTextBracket(state, list, node, &after)) {
      node = after;
      continue;
    }
    if (IsText(node) && IsText(node->next)) {
      if (node->length == kEmptyTextLength) {
        node = ConsumeRecord(session, list, node);
        continue;
      }
      if (node->next->length == kEmptyTextLength) {
        node = ConsumeRecord(session, list, node->next);
        continue;
      }
      node = node->next;
      continue;
    }
    if (signature == SIG_CD_HTMLBEGIN) {
      node = CleanPassThroughBegin(state, list, node);
      continue;
    }
    if (signature == SIG_CD_HTMLEND) {
      const bool open = state->passthru_open != 0;
      state->passthru_open = 0;
      node = open ? node->next : ConsumeRecord(session, list, node);
      continue;
    }
    node = node->next;
  }
}
