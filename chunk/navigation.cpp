/*
 * A chunk's definition as the caller changes it: sub-chunks, zooming in and
 * out, stepping through the targets of the last clause, counting targets,
 * and asking whether the target exists.
 *
 * The chain of clauses drives the engine; the definition text is always the
 * canonical text written back from the chain. Every change keeps the two in
 * step, and a change whose text cannot be written is not made. Finding
 * targets in the records is the engine's (query action 1).
 */
#include <string.h>

#include <algorithm>
#include <new>

#include "chunk/rtchunk_internal.h"
#include "engine/chunkdef.h"
#include "engine/definition.h"
#include "host/nsfnote.h"
#include "store/new_object.h"
#include "store/owned_text.h"
#include "store/session.h"
#include "store/vocabulary.h"

namespace {

/* Largest index a clause can hold; stepping past it would wrap to 0, which
 * the engine reads as every target. */
constexpr WORD kLargestIndex = 0xFFFF;

/* GetCount's answer for a sub-definition that does not parse. */
constexpr WORD kCountNotParsed = 0xFFFF;

/* Writes the chain's canonical text and makes it the chunk's definition
 * text. False, with the old text kept, when it cannot be written. */
bool RebuildDefinitionText(VelkoRTChunk& chunk) {
  if (chunk.session == nullptr)
    return false;
  char* scratch = chunk.session->scratch_first;
  if (!CalculateDefinition(chunk.internal->definitions, scratch, VELKO_SCRATCH_TEXT_SIZE))
    return false;
  char* text = CopyOwnedText(scratch);
  if (text == nullptr)
    return false;
  delete[] chunk.definition;
  chunk.definition = text;
  return true;
}

/* The canonical text of the chunk's chain as a new owned text; null when it
 * cannot be written. */
char* CanonicalText(VelkoRTChunk& chunk) {
  if (chunk.session == nullptr)
    return nullptr;
  char* scratch = chunk.session->scratch_first;
  if (!CalculateDefinition(chunk.internal->definitions, scratch, VELKO_SCRATCH_TEXT_SIZE))
    return nullptr;
  return CopyOwnedText(scratch);
}

void ClearFoundWords(LSXLsiSession* session) {
  if (session == nullptr || session->internal == nullptr)
    return;
  session->internal->found_first = 0;
  session->internal->found_second = 0;
}

/* Runs query action 1 for the chunk's target; true when the engine found
 * it. */
bool QueryTarget(VelkoRTChunk& chunk, WORD property) {
  if (chunk.session == nullptr || chunk.session->internal == nullptr)
    return false;
  ClearFoundWords(chunk.session);
  if (chunk.AlterRichText(ACTION_QUERY_RECORDS, property, 0, 0, 0, nullptr, nullptr, nullptr,
                          nullptr) != NOERROR)
    return false; // a query that failed found nothing
  return chunk.session->internal->found_first != 0;
}

/* A new clause holding the definition data of `from` (not its run fields);
 * null when memory cannot be had. */
chunkdef_info* CopyClause(const chunkdef_info& from) {
  auto* clause = NewObject<chunkdef_info>();
  if (clause == nullptr)
    return nullptr;
  clause->relation = from.relation;
  clause->target_type = from.target_type;
  clause->index_count = from.index_count;
  const WORD used = from.index_count <= kMaxDefinitionIndexes
                        ? from.index_count
                        : static_cast<WORD>(kMaxDefinitionIndexes);
  for (WORD i = 0; i < used; ++i) {
    clause->index_starts[i] = from.index_starts[i];
    clause->index_ends[i] = from.index_ends[i];
  }
  // The engine compares the match text when it looks for the target, so a
  // sub-chunk without it would name other targets than its parent.
  clause->match_mode = from.match_mode;
  clause->literal = from.literal;
  if (from.match_text != nullptr) {
    clause->match_text = CopyOwnedText(from.match_text);
    if (clause->match_text == nullptr) {
      delete clause;
      return nullptr;
    }
  }
  return clause;
}

/* A copy of the whole chain; false (and nothing made) when memory cannot be
 * had. An empty chain copies to null. */
bool CopyChain(const chunkdef_info* chain, chunkdef_info** out) {
  *out = nullptr;
  chunkdef_info** tail = out;
  for (const chunkdef_info* clause = chain; clause != nullptr; clause = clause->next) {
    chunkdef_info* copy = CopyClause(*clause);
    if (copy == nullptr) {
      DeleteChunkDefinitions(*out);
      *out = nullptr;
      return false;
    }
    *tail = copy;
    tail = &copy->next;
  }
  return true;
}

/* Appends `tail` to the chain held in *head. */
void AppendClauses(chunkdef_info** head, chunkdef_info* tail) {
  chunkdef_info* last = LastClause(*head);
  if (last == nullptr)
    *head = tail;
  else
    last->next = tail;
}

/* Cuts the clauses from `first` off the chain held in *head (first must be
 * in it) and returns them. */
chunkdef_info* CutClauses(chunkdef_info** head, chunkdef_info* first) {
  if (*head == first) {
    *head = nullptr;
    return first;
  }
  for (chunkdef_info* clause = *head; clause != nullptr; clause = clause->next) {
    if (clause->next == first) {
      clause->next = nullptr;
      return first;
    }
  }
  return nullptr;
}

DWORD CombinedSimpleFlag(DWORD chunkFlag, DWORD subFlag) {
  return (chunkFlag == 1 && subFlag == 1) ? 1 : 0;
}

/* ---- stepping the last clause's indexes ---- */

struct SavedIndexes {
  WORD starts[kMaxDefinitionIndexes];
  WORD ends[kMaxDefinitionIndexes];
};

WORD UsedSlots(const chunkdef_info& clause) {
  return clause.index_count <= kMaxDefinitionIndexes ? clause.index_count
                                                     : static_cast<WORD>(kMaxDefinitionIndexes);
}

void SaveIndexes(const chunkdef_info& clause, SavedIndexes* saved) {
  memcpy(saved->starts, clause.index_starts, sizeof saved->starts);
  memcpy(saved->ends, clause.index_ends, sizeof saved->ends);
}

void RestoreIndexes(chunkdef_info& clause, const SavedIndexes& saved) {
  memcpy(clause.index_starts, saved.starts, sizeof saved.starts);
  memcpy(clause.index_ends, saved.ends, sizeof saved.ends);
}

bool CanStepUp(const chunkdef_info& clause) {
  for (WORD i = 0; i < UsedSlots(clause); ++i) {
    if (clause.index_starts[i] == kLargestIndex)
      return false;
  }
  return true;
}

/* Every start one up; an end that was a range stays one. */
void StepUp(chunkdef_info& clause) {
  for (WORD i = 0; i < UsedSlots(clause); ++i) {
    ++clause.index_starts[i];
    if (clause.index_ends[i] >= clause.index_starts[i] && clause.index_ends[i] < kLargestIndex)
      ++clause.index_ends[i];
  }
}

/* Every start one down (a start of 0 stays); an end above 0 that is at
 * least the new start follows it. */
void StepDown(chunkdef_info& clause) {
  for (WORD i = 0; i < UsedSlots(clause); ++i) {
    if (clause.index_starts[i] != 0)
      --clause.index_starts[i];
    if (clause.index_ends[i] != 0 && clause.index_ends[i] >= clause.index_starts[i])
      --clause.index_ends[i];
  }
}

/* Every start of the clause moved by `step` from where `first` has it; a
 * start does not go below 0. */
void MoveStarts(chunkdef_info& clause, const SavedIndexes& first, long step) {
  for (WORD i = 0; i < UsedSlots(clause); ++i)
    clause.index_starts[i] = static_cast<WORD>(std::max(0L, first.starts[i] + step));
}

/* The largest step from `first` that every start can take without passing
 * the largest index. */
long StepsToLargestIndex(const chunkdef_info& clause, const SavedIndexes& first) {
  WORD largest = 0;
  for (WORD i = 0; i < UsedSlots(clause); ++i)
    largest = std::max(largest, first.starts[i]);
  return kLargestIndex - largest;
}

/* Whether the target is found with every start moved by `step` from
 * `first`. */
bool FoundAtStep(VelkoRTChunk& chunk, chunkdef_info& clause, const SavedIndexes& first, long step) {
  MoveStarts(clause, first, step);
  return QueryTarget(chunk, PROP_EXISTS);
}

/* The largest step from `lowest` to `highest` (starts moved from `first`)
 * at which the target is found; lowest - 1 when it is not found at lowest.
 * Targets are numbered in the order the walk meets them, so a target found
 * at a step is found at every smaller one: the step doubles until a target
 * is missing, then the gap is halved. n steps take about 2 log2 n walks of
 * the item rather than n. */
long LastFoundStep(VelkoRTChunk& chunk, chunkdef_info& clause, const SavedIndexes& first,
                   long lowest, long highest) {
  if (lowest > highest || !FoundAtStep(chunk, clause, first, lowest))
    return lowest - 1;
  long found = lowest;
  long missing = highest + 1; // a step whose target is missing, or beyond reach
  for (long distance = 1; distance <= highest - lowest; distance *= 2) {
    if (!FoundAtStep(chunk, clause, first, lowest + distance)) {
      missing = lowest + distance;
      break;
    }
    found = lowest + distance;
  }
  while (missing - found > 1) {
    const long middle = found + (missing - found) / 2;
    if (FoundAtStep(chunk, clause, first, middle))
      found = middle;
    else
      missing = middle;
  }
  return found;
}

/* The first-slot start of the last target found when every start of the
 * clause steps up by one from where it stands, stopping at the first
 * target missing or at the largest index; 0 when none is found. */
WORD CountTargets(VelkoRTChunk& chunk, chunkdef_info& clause) {
  SavedIndexes first;
  SaveIndexes(clause, &first);
  const long found = LastFoundStep(chunk, clause, first, 0, StepsToLargestIndex(clause, first));
  return found < 0 ? 0 : static_cast<WORD>(first.starts[0] + found);
}

/* The last clause when it has index slots to step; null otherwise. */
chunkdef_info* SteppableClause(VelkoRTChunk& chunk) {
  if (chunk.internal == nullptr)
    return nullptr;
  chunkdef_info* last = LastClause(chunk.internal->definitions);
  if (last == nullptr || last->index_count == 0)
    return nullptr;
  return last;
}

/* Writes the stepped definition text and asks whether the target exists.
 * When the text cannot be written the indexes go back and the operation
 * fails with 1028. */
int ConcludeStep(VelkoRTChunk& chunk, chunkdef_info& clause, const SavedIndexes& before) {
  if (!RebuildDefinitionText(chunk)) {
    RestoreIndexes(clause, before);
    chunk.status = VELKO_ERR_BAD_ARGUMENT;
    return 0;
  }
  return QueryTarget(chunk, PROP_EXISTS) ? 1 : 0;
}

} // namespace

chunkdef_info* LastClause(chunkdef_info* chain) {
  if (chain == nullptr)
    return nullptr;
  while (chain->next != nullptr)
    chain = chain->next;
  return chain;
}

VelkoRTChunk* VelkoRTChunk::DefineSubChunk(const char* subDefinition) {
  if (session == nullptr || subDefinition == nullptr)
    return nullptr;
  auto* chunk = NewObject<VelkoRTChunk>(session, item);
  if (chunk == nullptr || chunk->internal == nullptr) {
    delete chunk;
    return nullptr;
  }
  if (!CopyChain(internal->definitions, &chunk->internal->definitions)) {
    delete chunk;
    return nullptr;
  }
  DWORD simple = 0;
  chunkdef_info* added =
      ParseDefinition(session, 0, LastClause(chunk->internal->definitions), subDefinition, &simple);
  if (added == nullptr) {
    delete chunk;
    return nullptr;
  }
  AppendClauses(&chunk->internal->definitions, added);
  chunk->internal->simple_definition = CombinedSimpleFlag(internal->simple_definition, simple);
  chunk->target_type = LastClause(chunk->internal->definitions)->target_type;
  if (!RebuildDefinitionText(*chunk)) {
    delete chunk;
    status = VELKO_ERR_BAD_ARGUMENT;
    return nullptr;
  }
  return chunk;
}

int VelkoRTChunk::ZoomIn(const char* subDefinition) {
  if (session == nullptr || internal == nullptr || subDefinition == nullptr)
    return 0;
  if (unzoomed_definition == nullptr) {
    unzoomed_definition = CanonicalText(*this);
    if (unzoomed_definition == nullptr) {
      status = VELKO_ERR_BAD_ARGUMENT;
      return 0;
    }
  }
  DWORD simple = 0;
  chunkdef_info* added =
      ParseDefinition(session, 0, LastClause(internal->definitions), subDefinition, &simple);
  if (added == nullptr)
    return 0;
  AppendClauses(&internal->definitions, added);
  if (!RebuildDefinitionText(*this)) {
    DeleteChunkDefinitions(CutClauses(&internal->definitions, added));
    status = VELKO_ERR_BAD_ARGUMENT;
    return 0;
  }
  internal->simple_definition = CombinedSimpleFlag(internal->simple_definition, simple);
  target_type = LastClause(internal->definitions)->target_type;
  return 1;
}

void VelkoRTChunk::ZoomOut() {
  if (unzoomed_definition == nullptr || internal == nullptr)
    return;
  if (definition == nullptr || strcmp(definition, unzoomed_definition) != 0) {
    DeleteChunkDefinitions(internal->definitions);
    internal->definitions = nullptr;
    internal->simple_definition = 0;
    if (session != nullptr)
      internal->definitions =
          ParseDefinition(session, 0, nullptr, unzoomed_definition, &internal->simple_definition);
    // The unzoomed text was written from a chain, so it parses; should it
    // not, the chunk names everything.
    if (!RebuildDefinitionText(*this)) {
      delete[] definition;
      definition = CopyOwnedText("Everything");
    }
    const chunkdef_info* last = LastClause(internal->definitions);
    target_type = last != nullptr ? last->target_type : 0;
  }
  delete[] unzoomed_definition;
  unzoomed_definition = nullptr;
}

int VelkoRTChunk::GetNextTarget(int) {
  chunkdef_info* clause = SteppableClause(*this);
  if (clause == nullptr || !CanStepUp(*clause))
    return 0;
  SavedIndexes before;
  SaveIndexes(*clause, &before);
  StepUp(*clause);
  return ConcludeStep(*this, *clause, before);
}

int VelkoRTChunk::GetPreviousTarget(int) {
  chunkdef_info* clause = SteppableClause(*this);
  if (clause == nullptr)
    return 0;
  SavedIndexes before;
  SaveIndexes(*clause, &before);
  StepDown(*clause);
  return ConcludeStep(*this, *clause, before);
}

int VelkoRTChunk::GetLastTarget(int) {
  chunkdef_info* clause = SteppableClause(*this);
  if (clause == nullptr)
    return 0;
  SavedIndexes before;
  SaveIndexes(*clause, &before);
  // The last target above the starts, up to the largest index; else the
  // last at or below them with a first start of 1 at least; else the
  // first start at 0 (the step one below a first start of 1), where no
  // query is made (0 means every target).
  long step = LastFoundStep(*this, *clause, before, 1, StepsToLargestIndex(*clause, before));
  if (step < 1)
    step = LastFoundStep(*this, *clause, before, 1L - before.starts[0], 0);
  MoveStarts(*clause, before, step);
  if (!RebuildDefinitionText(*this)) {
    RestoreIndexes(*clause, before);
    status = VELKO_ERR_BAD_ARGUMENT;
    return 0;
  }
  return clause->index_starts[0] != 0 ? 1 : 0;
}

WORD VelkoRTChunk::GetCount(const char* subDefinition) {
  if (session == nullptr || internal == nullptr || subDefinition == nullptr)
    return kCountNotParsed;
  // The sub-definition with a first index, in the second scratch text.
  char* text = session->scratch_second;
  const size_t length = strlen(subDefinition);
  if (length + 3 > VELKO_SCRATCH_TEXT_SIZE)
    return kCountNotParsed;
  memmove(text, subDefinition, length);
  memcpy(text + length, " 1", 3);

  chunkdef_info* last = LastClause(internal->definitions);
  DWORD simple = 0;
  chunkdef_info* added = ParseDefinition(session, 0, last, text, &simple);
  if (added == nullptr)
    return kCountNotParsed;

  const WORD savedType = target_type;
  const DWORD savedSimple = internal->simple_definition;
  const WORD savedFirstStart = last != nullptr ? last->index_starts[0] : 0;
  AppendClauses(&internal->definitions, added);
  internal->simple_definition = CombinedSimpleFlag(savedSimple, simple);
  chunkdef_info* counted = LastClause(added);
  target_type = counted->target_type;

  const WORD count = counted->index_count != 0 ? CountTargets(*this, *counted) : 0;

  DeleteChunkDefinitions(CutClauses(&internal->definitions, added));
  if (last != nullptr)
    last->index_starts[0] = savedFirstStart;
  target_type = savedType;
  internal->simple_definition = savedSimple;
  return count;
}

int VelkoRTChunk::Exists() {
  const bool found = QueryTarget(*this, PROP_EXISTS);
  status = NOERROR; // an engine failure is not this question's answer
  return found ? 1 : 0;
}

STATUS VelkoRTChunk::Remove() {
  status = NOERROR;
  ClearFoundWords(session);
  // With attachments on the note the engine needs the chunk's last record
  // to find the attachments the chunk holds.
  if (item != nullptr && item->note != NULLHANDLE &&
      NSFItemInfo(item->note, "$FILE", 5, nullptr, nullptr, nullptr, nullptr) == NOERROR)
    QueryTarget(*this, PROP_LASTRECORD);
  return AlterRichText(ACTION_REMOVE, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
}

/* The removals of hotspots, links and sections ask for the chunk's last
 * record first: a hotspot that begins in the chunk and ends past it stays
 * whole. */
STATUS VelkoRTChunk::RemoveHotspots() {
  QueryTarget(*this, PROP_LASTRECORD);
  return AlterRichText(ACTION_REMOVE_HOTSPOTS, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
}

STATUS VelkoRTChunk::RemoveLinks(int flag) {
  QueryTarget(*this, PROP_LASTRECORD);
  return AlterRichText(ACTION_REMOVE_LINKS, static_cast<WORD>(flag), 0, 0, 0, nullptr, nullptr,
                       nullptr, nullptr);
}

STATUS VelkoRTChunk::RemoveSections() {
  QueryTarget(*this, PROP_LASTRECORD);
  return AlterRichText(ACTION_REMOVE_SECTIONS, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
}
