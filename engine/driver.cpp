/*
 * The chunk engine's driver. ProcessChunk carries out one action over the
 * records of a chunk's item in one walk: it links the run chain of the
 * definition clauses, makes the operation state, prepares what the action
 * needs (fonts, paragraph specs, the row sort, rendering, work buffers),
 * loads the item's records on first use, walks them, closes a chunk still
 * open, and then either makes the rebuilt body the item's records and
 * commits it, or, for a reading action, leaves the item as it was.
 *
 * Also the frame every action case runs in for one record of the open
 * chunk (ProcessChunkRecord) and the comparators of the row sort. The
 * per-record step is engine/walk.cpp; the cases are the action files.
 */
#include "engine/driver.h"

#include <algorithm>
#include <new>
#include <stdlib.h>
#include <string.h>

#include "engine/chunk_state.h"
#include "engine/paragraph_work.h"
#include "engine/record_fields.h"
#include "engine/retrieve.h"
#include "engine/services.h"
#include "engine/walk.h"
#include "host/nls.h"
#include "host/osmem.h"
#include "store/host_release.h"
#include "store/messages.h"
#include "store/new_object.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "store/vocabulary.h"
#include "velko/property_string.h"
#include "velko/status.h"

namespace {

/* ---- the blank paragraph the walk starts from ---- */

constexpr WORD kOneInch = 1440;
constexpr WORD kHalfInch = 720;
constexpr WORD kBlankPabFlags = 0x0100;
constexpr WORD kBlankPabFlags2 = 0x0494;
constexpr WORD kBlankExtensionLength = 84;
constexpr WORD kDefaultFontSize = 10;

/* Fonts of the actions that mark text, when the item names none. */
constexpr const char* kDefaultHyperlinkFont = "BLUE +UNDERLINE";
constexpr const char* kDefaultURLFont = "BLUE +UNDERLINE";
constexpr const char* kDefaultLinkHighlightFont = "BLUE";
constexpr const char* kDefaultHighlightFont = "RED +BOLD";
constexpr const char* kDefaultActionHotspotFont = "DARKGREEN +UNDERLINE";
constexpr const char* kDefaultPermanentPenFont = "BLUE +BOLD";

constexpr const char* kDefaultWikiOpen = "((";
constexpr const char* kDefaultWikiClose = "))";

/* The highest PABID answered by action 37 for an item without definitions. */
constexpr WORD kNoDefinitionsPabid = 50;

constexpr DWORD kFieldBufferSize = kWorkBlockSize;

/* The compare flag that lets equal numbers be ordered by their texts. */
constexpr WORD kCompareNumbersAsText = 0x100;

/* ---- the run chain ---- */

void ResetRunFields(chunkdef_info* clause) {
  clause->occurrence = 0;
  clause->finished = 0;
  clause->seen = 0;
  clause->deferred_record = 0;
  clause->font_id = 0;
  clause->nested_starts = 0;
  clause->run_record = 0;
  clause->awaited = 0;
  clause->whole_record = 0;
  clause->tested_record = 0;
  clause->whole_at_accept = 0;
}

/* Links the chunk's clauses and then the extra clauses into one run chain;
 * the clauses' own next links are left alone. Returns its head. */
chunkdef_info* BuildRunChain(chunkdef_info* clauses, chunkdef_info* extra) {
  chunkdef_info* head = nullptr;
  chunkdef_info* last = nullptr;
  for (chunkdef_info* list : {clauses, extra}) {
    for (chunkdef_info* clause = list; clause != nullptr; clause = clause->next) {
      ResetRunFields(clause);
      clause->run_previous = last;
      clause->run_next = nullptr;
      if (last != nullptr)
        last->run_next = clause;
      else
        head = clause;
      last = clause;
    }
  }
  return head;
}

/* ---- the state ---- */

void StartBlankParagraph(chunk_process_state* state) {
  _CDPABDEFEXT blank = {};
  CDPABDEFINITION& definition = blank.Definition;
  definition.Header.Signature = SIG_CD_PABDEFINITION;
  definition.Header.Length = kBlankExtensionLength;
  definition.PABID = 1;
  definition.LeftMargin = kOneInch;
  definition.FirstLineLeftMargin = kOneInch;
  definition.Tab[0] = kHalfInch;
  definition.Flags = kBlankPabFlags;
  definition.Flags2 = kBlankPabFlags2;
  blank.LeftMarginOffset = kOneInch;
  blank.FirstLineLeftMarginOffset = kOneInch;
  blank.RightMarginPercent = 100;
  memcpy(state->gen.paragraph_copy, &blank, sizeof blank);

  CDPABREFERENCE reference = {};
  reference.Header.Signature = static_cast<BYTE>(SIG_CD_PABREFERENCE);
  reference.Header.Length = sizeof reference;
  reference.PABID = 1;
  SetCurrentReference(state, reference);

  state->paragraph.Header.Signature = static_cast<BYTE>(SIG_CD_PARAGRAPH);
  state->paragraph.Header.Length = sizeof(CDPARAGRAPH);
}

/* The item's current text record: face 1, size 10. */
void StartCurrentTextHeader(VelkoRTItem* item) {
  CDTEXT header = {};
  header.Header.Signature = SIG_CD_TEXT;
  header.Header.Length = sizeof header;
  BYTE* font = reinterpret_cast<BYTE*>(&header.FontID);
  font[FONTID_FACE_BYTE] = 1;
  font[FONTID_SIZE_BYTE] = kDefaultFontSize;
  memcpy(item->internal->current_text_header, &header, sizeof header);
}

chunk_process_state* NewState(VelkoRTChunk* chunk, NOTEHANDLE note, const char* itemName,
                              WORD action, WORD p1, WORD p2, WORD p3, WORD p4, const char* s1,
                              const char* s2, chunkdef_info* head, VelkoRTChunk* other) {
  auto* state = NewObject<chunk_process_state>();
  if (state == nullptr)
    return nullptr;
  VelkoRTItem* item = chunk->item;
  state->session = chunk->session;
  state->gen.session = chunk->session;
  state->gen.item = item;
  state->gen.operation = state;
  state->note = note;
  state->item_name = itemName;
  state->chunk = chunk;
  state->other_chunk = other;
  state->s1 = s1;
  state->s2 = s2;
  state->action = action;
  state->p1 = p1;
  state->p2 = p2;
  state->p3 = p3;
  state->p4 = p4;
  state->first_clause = head;
  state->pending = head;
  state->text_wildcards = chunk->TextWildcards;
  state->set_implied_properties = chunk->SetImpliedProperties;
  state->not_appending_chunk =
      (action != ACTION_APPEND_RTCHUNK && action != ACTION_APPEND_RTITEM) ? 1 : 0;
  StartBlankParagraph(state);
  StartCurrentTextHeader(item);
  MirrorClientPreference(*item);
  ReadWikiDelimiters(state->session->internal->option_string, state->wiki_open, state->wiki_close);
  return state;
}

/* ---- the session's saved definitions and the sort keys ---- */

void FreeSavedDefinitions(LSXLsiSession* session) { ReleaseSavedDefinitions(session); }

/* The state frees the keys it takes, with their texts; the chunk's copy
 * of the array is cleared when the operation settles its keys. */
void TakeKeysFromChunk(_internal_RTCHUNK* chunk, chunk_process_state* state) {
  state->sort_key_count = chunk->sort_key_count;
  state->sort_keys = chunk->sort_keys;
  MoveRecordArena(&state->sort_key_texts, &chunk->sort_key_texts);
}

void ClearChunkKeys(_internal_RTCHUNK* chunk) {
  chunk->sort_key_count = 0;
  chunk->sort_keys = nullptr;
}

/* ---- preparation ---- */

bool HasKeyText(const chunk_sort_key& key) { return key.text != nullptr && key.length != 0; }

/* The row sort: sorts the chunk's keys in place; 1026 when there is
 * nothing to sort. */
STATUS SortKeys(chunk_process_state* state) {
  _internal_RTCHUNK* chunk = state->chunk->internal;
  bool anyText = false;
  for (WORD i = 0; i < chunk->sort_key_count && chunk->sort_keys != nullptr; ++i)
    anyText = anyText || HasKeyText(chunk->sort_keys[i]);
  if (chunk->sort_key_count < 2 || !anyText)
    return VELKO_ERR_NOTHING_TO_SORT;

  LSXLsiSession* session = state->session;
  char* order = session->scratch_first;
  order[0] = '\0';
  if (state->s1 != nullptr) {
    strncpy(order, state->s1, sizeof session->scratch_first - 1);
    order[sizeof session->scratch_first - 1] = '\0';
    for (char* c = order; *c != '\0'; ++c) {
      if (*c >= 'a' && *c <= 'z')
        *c = static_cast<char>(*c - 'a' + 'A');
    }
  }
  WORD& flags = session->internal->sort_compare_flags;
  flags = 0;
  if (state->chunk->AccentSensitive != 0)
    flags |= INTL_ACCENT_SENSITIVE;
  if (state->chunk->CaseSensitive != 0)
    flags |= INTL_CASE_SENSITIVE;
  const bool numeric = strstr(order, "NUMERIC") != nullptr;
  const bool reverse = strstr(order, "REVERSE") != nullptr;
  row_comparator compare = cmpsort;
  if (numeric && reverse)
    compare = cmpsortnr;
  else if (numeric)
    compare = cmpsortn;
  else if (reverse)
    compare = cmpsortr;
  SortRowKeys(chunk->sort_keys, chunk->sort_key_count, compare, flags);
  TakeKeysFromChunk(chunk, state);
  return NOERROR;
}

bool ActionWritesHere(WORD action, WORD p1) { return OperationWritesItem(action, p1); }

/* Text searches drop wildcards when the search text has none. */
void SettleWildcards(chunk_process_state* state) {
  switch (state->action) {
  case ACTION_HIGHLIGHT_TEXT:
  case ACTION_REPLACE_TEXT_QUICK:
  case ACTION_FIND_TEXT:
  case ACTION_REPLACE_TEXT_SAME_LENGTH:
    break;
  default:
    return;
  }
  if (state->text_wildcards != 0 && (state->s2 == nullptr || (strchr(state->s2, '*') == nullptr &&
                                                              strchr(state->s2, '?') == nullptr)))
    state->text_wildcards = 0;
}

const char* FontOr(const char* font, const char* fallback) {
  return font != nullptr ? font : fallback;
}

STATUS ParseFonts(chunk_process_state* state, const char* font, const char* second) {
  return ParseFontString(font, second, StateItem(state), state->fonts, state->font_masks);
}

/* A font the action may go without: none given parses nothing. */
STATUS ParseOptionalFont(chunk_process_state* state, const char* font) {
  return font != nullptr ? ParseFonts(state, font, nullptr) : NOERROR;
}

/* The first font of the text actions: s2 for AppendText and SetText when
 * given, the permanent pen when it is on, else no font. */
STATUS PrepareTextFont(chunk_process_state* state) {
  VelkoRTItem* item = StateItem(state);
  const char* font = "";
  if ((state->action == ACTION_APPEND_TEXT || state->action == ACTION_SET_TEXT) &&
      state->s2 != nullptr)
    font = state->s2;
  else if (item->PermanentPen != 0)
    font = FontOr(item->PermanentPenFont, kDefaultPermanentPenFont);
  return ParseFonts(state, font, nullptr);
}

STATUS PrepareLinkFont(chunk_process_state* state) {
  VelkoRTItem* item = StateItem(state);
  state->link_matcher = state->session->internal->link_matcher;
  if (state->writes == 0)
    return NOERROR;
  // While LinkMatching runs a value formula, every match shows its result
  // and takes the URL font, whatever the mode.
  const bool linking = state->p1 == ACTION_LINK_MATCHING || state->p1 == ACTION_WIKI_MATCHING ||
                       state->p1 == ACTION_LINK_MATCHING_VARIANT;
  const char* font;
  if (state->session->internal->link_value_formula != NULLHANDLE)
    font = FontOr(item->URLFont, kDefaultURLFont);
  else if (linking)
    font = FontOr(item->HyperlinkFont, kDefaultHyperlinkFont);
  else
    font = FontOr(item->HighlightFont, kDefaultLinkHighlightFont);
  return ParseFonts(state, font, nullptr);
}

/* The text after the fourth ';' of s2, or null when it has fewer. */
const char* AfterFourthSemicolon(const char* text) {
  if (text == nullptr)
    return nullptr;
  for (int count = 0; count < 4; ++count) {
    text = strchr(text, ';');
    if (text == nullptr)
      return nullptr;
    ++text;
  }
  return text;
}

STATUS ParseParagraph(chunk_process_state* state, const char* text, const char* second) {
  if (state->paragraph_style != nullptr) {
    VelkoDeallocatePtr(state->session, state->paragraph_style);
    state->paragraph_style = nullptr;
  }
  return ParseParagraphString(StateItem(state), text, second, &state->paragraph_style);
}

void ReleaseFieldBuffers(_internal_RTCHUNK* chunk, int count) {
  for (int slot = 0; slot < count; ++slot) {
    const DHANDLE handle = chunk->field_buffer_handles[slot];
    if (handle != NULLHANDLE) {
      if (chunk->field_buffers[slot] != nullptr)
        OSUnlockObject(handle);
      ReleaseHostMemory(handle);
    }
    chunk->field_buffer_handles[slot] = NULLHANDLE;
    chunk->field_buffers[slot] = nullptr;
  }
}

/* The chunk's five field buffers; when one cannot be had, none. */
STATUS AllocateFieldBuffers(_internal_RTCHUNK* chunk) {
  for (int slot = 0; slot < kFieldBuffers; ++slot) {
    DHANDLE handle = NULLHANDLE;
    void* buffer = nullptr;
    if (OSMemAlloc(MEM_TYPE_ENGINE, kFieldBufferSize, &handle) == NOERROR)
      buffer = OSLockObject(handle);
    if (buffer == nullptr) {
      if (handle != NULLHANDLE)
        ReleaseHostMemory(handle);
      ReleaseFieldBuffers(chunk, kFieldBuffers);
      return VELKO_ERR_MEMORY;
    }
    memset(buffer, 0, kFieldBufferSize);
    chunk->field_buffer_handles[slot] = handle;
    chunk->field_buffers[slot] = buffer;
  }
  return NOERROR;
}

/* A paragraph style followed by the font of the same string. */
STATUS PrepareParagraphAndFont(chunk_process_state* state, const char* style, const char* second,
                               const char* font) {
  if (STATUS status = ParseParagraph(state, style, second); status != NOERROR)
    return status;
  return ParseOptionalFont(state, font);
}

/* The last target is what Remove's query of the chunk's last record left
 * in the found words. Attachments the chunk holds go when they can; the
 * removal of the records does not wait on it. */
STATUS PrepareRemoval(chunk_process_state* state) {
  _internal_SESS* session = state->session->internal;
  if (session->found_first == 0)
    return NOERROR;
  state->last_target_first = session->found_first;
  state->last_target_last = session->found_second;
  (void)RemoveAttachmentsFromChunk(state->chunk, state);
  return NOERROR;
}

/* What the action needs before the walk; a failure ends the operation. */
STATUS Prepare(chunk_process_state* state) {
  VelkoRTItem* item = StateItem(state);
  switch (state->action) {
  case ACTION_SET_TEXT:
  case ACTION_APPEND_NEW_LINES:
  case ACTION_APPEND_TABS:
  case ACTION_APPEND_TEXT:
  case ACTION_REPLACE_TEXT_QUICK:
  case ACTION_PEN_FONT_TEXT:
  case ACTION_REPLACE_TEXT_SAME_LENGTH:
    return PrepareTextFont(state);
  case ACTION_LINK_MATCHING:
  case ACTION_WIKI_MATCHING:
  case ACTION_LINK_MATCHING_VARIANT:
    return PrepareLinkFont(state);
  case ACTION_HIGHLIGHT:
  case ACTION_HIGHLIGHT_TEXT:
    return ParseFonts(state, FontOr(item->HighlightFont, kDefaultHighlightFont), nullptr);
  case ACTION_APPEND_HOTSPOT:
    return ParseFonts(state, FontOr(item->ActionHotspotFont, kDefaultActionHotspotFont), nullptr);
  case ACTION_CHANGE_FONT:
    return ParseFonts(state, state->s1, state->s2);
  case ACTION_CHANGE_PARAGRAPH:
    return ParseParagraph(state, state->s1, state->s2);
  case ACTION_APPEND_PARAGRAPH:
    return PrepareParagraphAndFont(state, state->s1, state->s2, state->s2);
  case ACTION_APPEND_LAYER:
    if (const char* style = AfterFourthSemicolon(state->s2); style != nullptr)
      return PrepareParagraphAndFont(state, style, nullptr, state->s2);
    return NOERROR;
  case ACTION_FONT_IN_USE:
    return ParseFonts(state, state->s1, state->s1);
  case ACTION_SET_LINK:
    return PrepareLinkProperty(state);
  case ACTION_APPEND_ROW:
    state->append_row = 1;
    return NOERROR;
  case ACTION_WRAP_IN_SECTION:
    return ParseOptionalFont(state, state->s2);
  case ACTION_REMOVE:
    return PrepareRemoval(state);
  case ACTION_REMOVE_HOTSPOTS:
  case ACTION_REMOVE_LINKS:
  case ACTION_REMOVE_SECTIONS:
    // The chunk's last record, where the method asked for it first.
    state->last_target_last = state->session->internal->found_second;
    return NOERROR;
  case ACTION_MODIFY_FIELD:
    return AllocateFieldBuffers(state->chunk->internal);
  default:
    return NOERROR;
  }
}

/* ---- the item's records (loaded by ItemBody) ---- */

/* Why the item's records could not be had: an item held in memory has
 * none, an item without its note or name cannot load them, and one with
 * both ran short of memory for them. */
STATUS NoInputStatus(const VelkoRTItem* item) {
  if (item->internal->state == kItemStateInMemory)
    return VELKO_ERR_BAD_ARGUMENT;
  if (item->note == NULLHANDLE || item->item_name == nullptr || item->item_name[0] == '\0')
    return VELKO_ERR_NO_INPUT;
  return VELKO_ERR_MEMORY;
}

/* Removal marks of an earlier walk do not outlive it. The list is walked
 * only when it holds marks, and only marked nodes are written, so that a
 * walk over a large body neither reads nor dirties every node for them. */
void ClearRemovalMarks(body_context* input) {
  if (input == nullptr || input->marked == 0)
    return;
  for (record_storage* node = input->records; node != nullptr; node = node->next) {
    if ((node->flags & RECORD_MARKED) != 0)
      node->flags &= static_cast<WORD>(~RECORD_MARKED);
  }
  input->marked = 0;
}

/* Action 37: the highest PABID of the item's definitions, into the
 * session's append word, which the next append passes as its id base; no
 * walk. */
STATUS AnswerHighestPabid(chunk_process_state* state) {
  body_context* input = ItemBody(StateItem(state));
  if (input == nullptr && NoInputStatus(StateItem(state)) == VELKO_ERR_MEMORY)
    return VELKO_ERR_MEMORY;
  state->current_record = GetNextCDRecord(input, nullptr);
  if (STATUS status = RetrievePABDEF(kAnyPabid, RETRIEVE_FORWARD, state); status != NOERROR)
    return status;
  WORD pabid = 0;
  memcpy(&pabid, state->retrieved_definition + offsetof(CDPABDEFINITION, PABID), sizeof pabid);
  state->session->internal->append_parameter =
      state->retrieved_found != 0 && pabid != 0 ? pabid : kNoDefinitionsPabid;
  return NOERROR;
}

/* The walk over the input records. A writing walk hands the records its
 * lane can take to it, and the rest to the per-record step; a query of the
 * chunk's last record and a rendering pass the records behind a chunk open
 * or closed for good at once. */
STATUS Walk(body_context* input, chunk_process_state* state) {
  state->previous_signature = 0;
  const bool lane = PrepareWalkLane(state);
  const bool passes =
      (state->action == ACTION_QUERY_RECORDS || state->action == ACTION_RENDER) &&
      state->writes == 0;
  record_storage* node = GetNextCDRecord(input, nullptr);
  while (node != nullptr && node->length != 0) {
    if (lane) {
      STATUS status = NOERROR;
      record_storage* after = WalkLaneRun(node, state, &status);
      if (status != NOERROR)
        return status;
      if (after != node) {
        node = after;
        continue;
      }
    }
    if (passes) {
      record_storage* after = PassRestOfWalk(node, state);
      if (after != node) {
        node = after;
        continue;
      }
    }
    const WORD signature = node->signature;
    if (state->writes != 0 &&
        (node->length > kLargestWalkedRecord || signature <= kLowestWalkedSignature))
      return VELKO_ERR_FAILED;
    if (state->writes == 0 && IsTableBegin(signature) && state->gen.table_level <= 8)
      ++state->gen.table_level;
    state->current_record = node;
    if (STATUS status = Process_OneCDRecord(node->data, signature, node->length, state);
        status != NOERROR)
      return status;
    if (state->writes == 0 && IsTableEnd(signature) && state->gen.table_level > 0)
      --state->gen.table_level;
    state->previous_signature = signature;
    node = GetNextCDRecord(input, state->current_record);
  }
  return NOERROR;
}

/* A writing operation that succeeded: the body ends in a text run, and the
 * rebuilt body becomes the item's records. */
STATUS FinishWrittenBody(chunk_process_state* state) {
  VelkoRTItem* item = StateItem(state);
  _internal_RTITEM* internal = item->internal;
  if (state->gen.text_state == TEXT_STATE_OTHER) {
    if (STATUS status = GenerateCDText("", 0, internal->current_text_header, &state->gen);
        status != NOERROR)
      return status;
  }
  if (STATUS status = StoreBodyItem(&state->gen); status != NOERROR)
    return status;
  // Nodes of the new body may point at records of a loaded input.
  if (internal->input != nullptr && internal->input->output == 0)
    MoveBodyMemory(internal->output, internal->input);
  DeleteBodyContext(state->session, internal->input);
  internal->input = internal->output;
  internal->output = nullptr;
  if (item->CacheRecords == 0)
    return item->Commit();
  return NOERROR;
}

void DiscardWrittenBody(chunk_process_state* state) {
  _internal_RTITEM* internal = StateItem(state)->internal;
  RestoreLaneFonts(state);
  CleanupBodyItems(&state->gen, 0);
  DeleteBodyContext(state->session, internal->output);
}

/* ---- after the walk ---- */

void MoveKeysToChunk(chunk_process_state* state) {
  _internal_RTCHUNK* chunk = state->chunk->internal;
  FreeSortKeys(state->session, chunk->sort_keys, &chunk->sort_key_texts);
  chunk->sort_keys = state->sort_keys;
  MoveRecordArena(&chunk->sort_key_texts, &state->sort_key_texts);
  chunk->sort_key_count = state->sort_key_count;
  state->sort_keys = nullptr;
  state->sort_key_count = 0;
}

void SettleSortKeys(STATUS status, chunk_process_state* state) {
  _internal_RTCHUNK* chunk = state->chunk->internal;
  const WORD action = state->action;
  if ((action == ACTION_COLLECT_SORT_KEY || action == ACTION_COLLECT_SORT_KEYS) &&
      status == NOERROR) {
    MoveKeysToChunk(state);
    return;
  }
  if (action == ACTION_SORT_BY_ROW && chunk->sort_keys != nullptr) {
    ClearChunkKeys(chunk); // the state holds them and frees them
    return;
  }
  if (action == ACTION_DROP_CHUNK && chunk->sort_keys != nullptr) {
    FreeSortKeys(state->session, chunk->sort_keys, &chunk->sort_key_texts);
    ClearChunkKeys(chunk);
  }
}

void DeleteState(chunk_process_state* state) {
  FreeSavedDefinitions(state->session);
  FreeSortKeys(state->session, state->sort_keys, &state->sort_key_texts);
  if (state->paragraph_style != nullptr)
    VelkoDeallocatePtr(state->session, state->paragraph_style);
  if (state->action == ACTION_MODIFY_FIELD)
    ReleaseFieldBuffers(state->chunk->internal, kFieldBuffers);
  delete state;
}

/* The item's records loaded on first use, and the output body started
 * when the action writes. */
STATUS StartBodies(chunk_process_state* state) {
  VelkoRTItem* item = StateItem(state);
  _internal_RTITEM* internal = item->internal;
  const bool loadedBefore = internal->input != nullptr;
  body_context* input = ItemBody(item);
  state->input_loaded_now = !loadedBefore && input != nullptr ? 1 : 0;
  // A reading action on an item without records answers that it found
  // nothing; records that memory could not hold are a failure for every
  // action.
  if (input == nullptr && (state->writes != 0 || NoInputStatus(item) == VELKO_ERR_MEMORY))
    return NoInputStatus(item);
  // A body that did not load completely would lose what it missed. A
  // reading action works on what loaded from a damaged body, but not on a
  // body cut short for want of memory: its answer would pass for whole.
  if (input != nullptr && internal->incomplete_load != NOERROR &&
      (state->writes != 0 || internal->incomplete_load == VELKO_ERR_MEMORY))
    return internal->incomplete_load;
  if (state->writes != 0) {
    if (STATUS status = CreateBodyItem(&state->gen); status != NOERROR)
      return status;
  }
  state->record_counter = 0;
  return NOERROR;
}

/* The last definition of the highest PABID, as RetrievePABDEF(kAnyPabid,
 * RETRIEVE_FORWARD) finds it; on a body the operation loaded, the one its
 * load kept, taken without walking the list. */
STATUS RetrieveHighestDefinition(const body_context* input, chunk_process_state* state) {
  if (state->input_loaded_now == 0 || input == nullptr || !EmitterLaneOn())
    return RetrievePABDEF(kAnyPabid, RETRIEVE_FORWARD, state);
  record_storage* const current = state->current_record;
  state->current_record = const_cast<record_storage*>(input->highest_definition);
  const WORD id = input->highest_definition != nullptr ? input->highest_definition_id : kAnyPabid;
  const STATUS status =
      RetrievePABDEF(id, RETRIEVE_BACKWARD | RETRIEVE_FROM_CURRENT | RETRIEVE_FIRST_TAKEN, state);
  state->current_record = current;
  state->wanted_pabid = kAnyPabid;
  return status;
}

/* Runs the set-up operation: what comes before the walk, the walk and what
 * follows it up to writing the body. */
STATUS RunOperation(chunk_process_state* state, chunkdef_info* extra) {
  _internal_RTITEM* internal = StateItem(state)->internal;
  const WORD action = state->action;
  // The input body StartBodies loaded (null for an item without records).
  body_context* input = internal->input;

  STATUS status = NOERROR;
  if (action == ACTION_SET_HIDE_FORMULA || action == ACTION_CHANGE_PARAGRAPH ||
      action == ACTION_APPEND_PARAGRAPH) {
    status = RetrieveHighestDefinition(input, state);
    memcpy(&state->found_pabid, state->retrieved_definition + offsetof(CDPABDEFINITION, PABID),
           sizeof state->found_pabid);
  } else if (action == ACTION_RENDER) {
    status = PrepareXMLRendering(state, state->chunk->internal->render_context,
                                 extra != nullptr ? 1 : 0);
  } else if (action == ACTION_CLEANUP_TEXT_RUNS) {
    CleanupTextRuns(state);
  }
  ClearRemovalMarks(input);

  if (status == NOERROR)
    status = Walk(input, state);
  if (status == NOERROR && state->writes != 0 && state->pass_over_mark != 0 &&
      state->pass_over_mark <= state->record_counter)
    status = CopyPassedOverRecords(state, nullptr, true);
  if (status == VELKO_ERR_ITEM_NOT_FOUND && state->writes == 0)
    status = NOERROR; // a reading case ends the walk once its answer is complete
  if (status == NOERROR && state->chunk_open != 0) {
    status = ProcessStopChunk(reinterpret_cast<const char*>(internal->current_text_header),
                              SIG_CD_TEXT, sizeof(CDTEXT), state);
    state->chunk_open = 0;
  }
  if (status == NOERROR && action == ACTION_RENDER)
    status = FinishXMLRendering(state, state->chunk->internal->render_context);
  if (status == NOERROR && action == ACTION_MERGE_CELLS && state->found == 0)
    status = VELKO_ERR_FAILED;
  return status;
}

} // namespace

void ReadWikiDelimiters(const char* options, char open[3], char close[3]) {
  char value[16] = {};
  const char* pairs = kDefaultWikiOpen;
  const char* closing = kDefaultWikiClose;
  if (ExtractProperty(options, "WikiDelimiters=", value, sizeof value) != 0 && strlen(value) == 4) {
    pairs = value;
    closing = value + 2;
  }
  memcpy(open, pairs, 2);
  memcpy(close, closing, 2);
  open[2] = '\0';
  close[2] = '\0';
}

void FreeSortKeys(LSXLsiSession* session, chunk_sort_key* keys, record_arena* texts) {
  ReleaseRecordArena(session, texts);
  if (keys != nullptr)
    VelkoDeallocatePtr(session, keys);
}

char* CopyKeyText(LSXLsiSession* session, record_arena* texts, const char* text, DWORD count) {
  auto* copy = static_cast<char*>(RecordArenaAllocate(session, texts, VELKO_HERE, count + 1, 0));
  if (copy == nullptr)
    return nullptr;
  memcpy(copy, text, count);
  copy[count] = '\0';
  return copy;
}

STATUS SetUpChunkOperation(VelkoRTChunk* chunk, NOTEHANDLE note, const char* itemName,
                           WORD action, WORD p1, WORD p2, WORD p3, WORD p4, const char* s1,
                           const char* s2, chunkdef_info* extra, VelkoRTChunk* other,
                           chunk_process_state** operation) {
  if (operation == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  *operation = nullptr;
  if (chunk == nullptr || chunk->internal == nullptr || chunk->session == nullptr ||
      chunk->session->internal == nullptr || chunk->item == nullptr ||
      chunk->item->internal == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  chunk->secondary_status = 0;
  chunkdef_info* head = BuildRunChain(chunk->internal->definitions, extra);
  chunk->session->internal->hotspot_word = 0;
  chunk->session->internal->global_rgb_set = 0;

  chunk_process_state* state =
      NewState(chunk, note, itemName, action, p1, p2, p3, p4, s1, s2, head, other);
  if (state == nullptr) {
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }

  if (action == ACTION_PREPARE_APPEND) {
    const STATUS status = AnswerHighestPabid(state);
    chunk->status = VELKO_STATUS_READ_ONLY;
    DeleteState(state);
    return status;
  }
  if (action == ACTION_SORT_BY_ROW) {
    if (STATUS status = SortKeys(state); status != NOERROR) {
      delete state;
      return status;
    }
  }

  FreeSavedDefinitions(state->session);
  chunk->field_flag = 0;
  state->writes = ActionWritesHere(action, p1) ? 1 : 0;
  SettleWildcards(state);
  *operation = state;

  // An action whose work is not built would pass the records through and
  // report success wherever its chunk is not met: refused before the item
  // is loaded or anything is written.
  STATUS status = ActionIsPending(action) ? kServiceNotAvailable : Prepare(state);
  if (status == NOERROR)
    status = StartBodies(state);
  return status;
}

STATUS FinishChunkOperation(chunk_process_state* state, STATUS status) {
  if (state == nullptr)
    return status;
  VelkoRTChunk* chunk = state->chunk;
  if (state->writes != 0) {
    if (status == NOERROR)
      status = FinishWrittenBody(state);
    if (status != NOERROR && StateItem(state)->internal->output != nullptr)
      DiscardWrittenBody(state);
  }
  SettleSortKeys(status, state);
  if (state->writes == 0 && (status == NOERROR || chunk->status == NOERROR))
    chunk->status = VELKO_STATUS_READ_ONLY;
  if (state->secondary_status != 0)
    chunk->secondary_status = state->secondary_status;
  DeleteState(state);
  return status;
}

STATUS ProcessChunk(VelkoRTChunk* chunk, NOTEHANDLE note, const char* itemName, WORD action,
                    WORD p1, WORD p2, WORD p3, WORD p4, const char* s1, const char* s2, WORD,
                    chunkdef_info* extra, VelkoRTChunk* other) {
  chunk_process_state* state = nullptr;
  STATUS status = SetUpChunkOperation(chunk, note, itemName, action, p1, p2, p3, p4, s1, s2,
                                      extra, other, &state);
  if (state == nullptr)
    return status; // refused, or answered without a walk
  if (status == NOERROR)
    status = RunOperation(state, extra);
  return FinishChunkOperation(state, status);
}

/* ---- the frame of the action cases ---- */

namespace {

bool IsPropertyCase(WORD action) {
  switch (action) {
  case ACTION_COLLECT_SORT_KEY:
  case ACTION_RESERVED_5:
  case ACTION_RESERVED_6:
  case ACTION_GET_SECTION_TITLE:
  case ACTION_SET_SECTION_TITLE:
  case ACTION_GET_TEXT:
  case ACTION_SET_TEXT:
  case ACTION_COLLECT_SORT_KEYS:
  case ACTION_GET_FILE_NAMES:
  case ACTION_GET_FONT:
  case ACTION_GET_PARAGRAPH_STYLE:
  case ACTION_GET_LINK:
  case ACTION_GET_ANCHOR_TEXT:
  case ACTION_SET_ANCHOR_TEXT:
  case ACTION_GET_HOTSPOT_BORDER:
  case ACTION_RESERVED_19:
  case ACTION_GET_ACTION_FORMULA:
  case ACTION_SET_ACTION_FORMULA:
  case ACTION_GET_BUTTON_TEXT:
  case ACTION_SET_BUTTON_TEXT:
  case ACTION_GET_HIDE_FORMULA:
  case ACTION_SET_HIDE_FORMULA:
  case ACTION_GET_PABID:
  case ACTION_GET_STYLE_NAME:
  case ACTION_GET_GRAPHIC_HEIGHT:
  case ACTION_RESERVED_30:
  case ACTION_GET_GRAPHIC_WIDTH:
  case ACTION_RESERVED_32:
  case ACTION_GET_TABLE_FIT_TO_WINDOW:
  case ACTION_RESERVED_34:
  case ACTION_RESERVED_35:
  case ACTION_GET_MARGINS:
  case ACTION_GET_CELL_COLOR:
  case ACTION_GET_IMAGE_IN_PIXELS:
  case ACTION_RESERVED_40:
  case ACTION_GET_ROW_LABEL:
  case ACTION_SET_ROW_LABEL:
  case ACTION_GET_TARGET_FRAME:
  case ACTION_SET_TARGET_FRAME:
  case ACTION_SET_PASSTHRU_HTML:
  case ACTION_GET_GRAPHIC_FORMAT:
  case ACTION_GET_GRAPHIC_OFFSET:
  case ACTION_GET_GRAPHIC_RATIO:
  case ACTION_GET_GRAPHIC_UNIT:
  case ACTION_RESERVED_55:
  case ACTION_RESERVED_56:
  case ACTION_RESERVED_61:
  case ACTION_RESERVED_62:
  case ACTION_RESERVED_63:
  case ACTION_RESERVED_64:
  case ACTION_RESERVED_65:
  case ACTION_GET_FILE_SIZE:
  case ACTION_GET_GRAPHIC_STORAGE:
  case ACTION_SET_GRAPHIC_STORAGE:
  case ACTION_EXPAND_PAB_DEFS:
  case ACTION_RESERVED_70:
    return true;
  default:
    return false;
  }
}

using action_case = STATUS (*)(const char* record, WORD signature, DWORD length,
                               chunk_record_output* output, chunk_process_state* state);

STATUS QueryRecordsCase(const char*, WORD, DWORD, chunk_record_output*,
                        chunk_process_state* state) {
  return QueryRecordPositions(state);
}
STATUS RenderCase(const char*, WORD, DWORD, chunk_record_output*, chunk_process_state* state) {
  return ProcessRenderRecord(state);
}
STATUS QueryTextCase(const char* record, WORD signature, DWORD length, chunk_record_output*,
                     chunk_process_state* state) {
  return QueryText(record, signature, length, state);
}

/* The case of the action at each record of the open chunk; null for an
 * action without one, whose records stay as they are. */
action_case ActionCaseOf(WORD action) {
  switch (action) {
  case ACTION_QUERY_RECORDS:
    return QueryRecordsCase;
  case ACTION_RENDER:
    return RenderCase;
  case ACTION_GET_TEXT:
    return QueryTextCase;
  case ACTION_CONTAINS_SOMETHING:
  case ACTION_CONTAINS_TEXT:
  case ACTION_GET_CELL_BORDER:
  case ACTION_GET_TABLE_PROPERTIES:
  case ACTION_GET_HTML_VALUE:
  case ACTION_GET_TARGET_PROPERTIES:
    return ProcessQueryAction;
  case ACTION_SET_LINK:
    return ProcessLinkPropertyAction;
  case ACTION_CHANGE_FONT:
  case ACTION_HIGHLIGHT:
  case ACTION_FONT_IN_USE:
  case ACTION_HIGHLIGHT_TEXT:
    return ProcessTextRunAction;
  case ACTION_CHANGE_PARAGRAPH:
  case ACTION_MERGE_CELLS:
  case ACTION_UNDO_MERGE_CELLS:
    return ProcessParagraphAction;
  case ACTION_REMOVE:
  case ACTION_EXPORT_GRAPHIC:
  case ACTION_REMOVE_HOTSPOTS:
  case ACTION_REMOVE_LINKS:
  case ACTION_REMOVE_SECTIONS:
  case ACTION_SORT_BY_ROW:
  case ACTION_DROP_CHUNK:
  case ACTION_SET_IMAGE_HOTSPOT:
  case ACTION_CONVERT_BITMAPS:
    return ProcessRemovalAction;
  case ACTION_LINK_OCCURRENCES:
  case ACTION_REPLACE_TEXT_QUICK:
  case ACTION_FIND_TEXT:
  case ACTION_REPLACE_TEXT_SAME_LENGTH:
  case ACTION_REMOVE_FIELDS:
    return ProcessSearchAction;
  case ACTION_LINK_MATCHING:
  case ACTION_WIKI_MATCHING:
    return ProcessLinkMatchingAction;
  case ACTION_APPEND_ROW:
  case ACTION_SET_CELL_BORDERS:
  case ACTION_SET_CELL_COLOR:
  case ACTION_CHANGE_TABLE:
  case ACTION_MODIFY_FIELD:
  case ACTION_SET_HTML_VALUE:
  case ACTION_SET_TARGET_PROPERTIES:
    return ProcessTableAction;
  default:
    return IsPropertyCase(action) ? ProcessPropertyAction : nullptr;
  }
}

/* Runs the case of the action; 0 lets the frame emit the output. */
STATUS RunActionCase(const char* record, WORD signature, DWORD length, chunk_record_output* output,
                     chunk_process_state* state) {
  const action_case run = ActionCaseOf(state->action);
  return run != nullptr ? run(record, signature, length, output, state) : NOERROR;
}

void ReleaseHeldBlock(chunk_record_output* output, chunk_process_state* state) {
  if (output->block != nullptr)
    VelkoDeallocate(state->session, output->block);
  output->block = nullptr;
}

/* Emits what the case left as the record's output. */
STATUS FrameTail(const char* record, chunk_record_output* output, chunk_process_state* state) {
  state->chunk_opened_here = 0;
  STATUS status = NOERROR;
  if (state->writes != 0) {
    if (output->length == 0) {
      if (state->action != ACTION_HIGHLIGHT && state->action != ACTION_HIGHLIGHT_TEXT)
        StateItem(state)->Modified = 1;
    } else {
      // Link records of an earlier match keep their marker when copied.
      const bool keepMarker =
          (state->action == ACTION_LINK_MATCHING || state->action == ACTION_WIKI_MATCHING) &&
          output->data == record && state->current_record != nullptr &&
          (state->current_record->flags & RECORD_MATCH_MARKER) != 0;
      _internal_SESS* session = state->session->internal;
      if (keepMarker)
        session->marker_switch = 1;
      const bool ownRecord =
          state->current_record != nullptr && output->data == state->current_record->data;
      status = ownRecord
                   ? EmitInputRecord(output->data, output->signature, output->length, state)
                   : CopyCDUpdated(output->data, output->signature, output->length, &state->gen);
      if (keepMarker)
        session->marker_switch = 0;
    }
  }
  ReleaseHeldBlock(output, state);
  return status;
}

} // namespace

STATUS ProcessChunkRecord(const char* record, WORD signature, DWORD length,
                          chunk_process_state* state) {
  chunk_record_output output;
  output.data = record;
  output.signature = signature;
  output.length = length;
  if (state->record_counter <= state->skip_mark) {
    output.length = 0; // already re-emitted with the text run before it
    return FrameTail(record, &output, state);
  }
  state->skip_mark = 0;
  if (STATUS status = RunActionCase(record, signature, length, &output, state); status != NOERROR) {
    ReleaseHeldBlock(&output, state);
    return status;
  }
  return FrameTail(record, &output, state);
}

bool ActionCaseReads(const chunk_process_state* state, WORD signature) {
  const WORD action = state->action;
  // ChangeParagraph's case reads cells, definitions and references only;
  // on the whole item it changes definitions in place and leaves cells
  // and references as they are.
  if (action == ACTION_CHANGE_PARAGRAPH)
    return signature == SIG_CD_PABDEFINITION ||
           (!ChangesWholeItem(state) &&
            (IsTableCell(signature) || signature == SIG_CD_PABREFERENCE));
  // The writing text-run cases read the records a text run starts with,
  // section title bars and buttons.
  if (action == ACTION_CHANGE_FONT || action == ACTION_HIGHLIGHT ||
      action == ACTION_HIGHLIGHT_TEXT)
    return signature == SIG_CD_TEXT || signature == SIG_CD_TEXTEFFECT ||
           signature == SIG_CD_BEGIN || signature == SIG_CD_SECTIONBAR ||
           signature == SIG_CD_BUTTON;
  // The replacements read text runs from their first record, and the
  // records holding the other texts and formulas they replace in
  // (ReplaceText and FindTextPlace, engine/actions_search.cpp).
  if (action == ACTION_REPLACE_TEXT_QUICK || action == ACTION_REPLACE_TEXT_SAME_LENGTH) {
    switch (signature) {
    case SIG_CD_TEXT:
    case SIG_CD_TEXTEFFECT:
    case SIG_CD_BEGIN:
    case SIG_CD_TABLELABEL:
    case SIG_CD_HOTSPOTBEGIN:
    case SIG_CD_V4HOTSPOTBEGIN:
    case SIG_CD_RESOURCE:
    case SIG_CD_RESOURCE_FF71:
    case SIG_CD_RESOURCE_FF78:
    case SIG_CD_RESOURCE_FF5A:
    case SIG_CD_SECTIONBAR:
    case SIG_CD_PABHIDE:
    case SIG_CD_BUTTON:
      return true;
    default:
      return false;
    }
  }
  // The matching cases read text runs and the records of a text run's
  // envelope; records an earlier match marked stop the lane (WalkLaneRun).
  if (action == ACTION_LINK_MATCHING || action == ACTION_WIKI_MATCHING)
    return IsTextRun(signature) || IsTextEffect(signature) || signature == SIG_CD_BEGIN ||
           signature == SIG_CD_END || signature == SIG_CD_COLOR;
  return ActionCaseOf(action) != nullptr;
}

bool ActionCaseMayLeave(const chunk_process_state* state, WORD signature) {
  if (state->action == ACTION_LINK_MATCHING)
    return IsTextRun(signature);
  return signature == SIG_CD_TEXT && TextRunsMayStay(state);
}

BYTE ActionCaseLeaves(const record_storage* node, chunk_process_state* state) {
  if (state->action == ACTION_LINK_MATCHING)
    return LinkMatchingLeavesTextRun(node, state) ? 1 : 0; // nothing besides
  return TextRunStays(node, state);
}

void ActionCaseLeft(const record_storage* node, BYTE leaves, chunk_process_state* state) {
  if (state->action != ACTION_LINK_MATCHING)
    PassTextRun(node, leaves, state);
}

/* ---- the row sort's comparators ---- */

namespace {

int ComparePositions(const chunk_sort_key& a, const chunk_sort_key& b) {
  if (a.first_record == b.first_record)
    return 0;
  return a.first_record < b.first_record ? -1 : 1;
}

int CompareTexts(const chunk_sort_key& a, const chunk_sort_key& b, WORD flags) {
  return IntlTextCompare(a.text != nullptr ? a.text : "", a.text != nullptr ? a.length : 0,
                         b.text != nullptr ? b.text : "", b.text != nullptr ? b.length : 0,
                         flags);
}

double NumberOf(const chunk_sort_key& key) { return key.text != nullptr ? atof(key.text) : 0.0; }

int CompareNumbers(const chunk_sort_key& a, const chunk_sort_key& b, WORD flags) {
  const double x = NumberOf(a);
  const double y = NumberOf(b);
  if (x != y)
    return x < y ? -1 : 1;
  return (flags & kCompareNumbersAsText) != 0 ? CompareTexts(a, b, flags) : 0;
}

/* Title rows first, in row order; the others by `order` (reversed when
 * asked), equal ones in row order. */
int CompareKeys(const chunk_sort_key& a, const chunk_sort_key& b, WORD flags,
                int (*order)(const chunk_sort_key&, const chunk_sort_key&, WORD), bool reverse) {
  if ((a.title != 0) != (b.title != 0))
    return a.title != 0 ? -1 : 1;
  if (a.title == 0) {
    const int result = order(a, b, flags);
    if (result != 0)
      return reverse ? (result < 0 ? 1 : -1) : result;
  }
  return ComparePositions(a, b);
}

} // namespace

int cmpsort(const chunk_sort_key& a, const chunk_sort_key& b, WORD flags) {
  return CompareKeys(a, b, flags, CompareTexts, false);
}
int cmpsortr(const chunk_sort_key& a, const chunk_sort_key& b, WORD flags) {
  return CompareKeys(a, b, flags, CompareTexts, true);
}
int cmpsortn(const chunk_sort_key& a, const chunk_sort_key& b, WORD flags) {
  return CompareKeys(a, b, flags, CompareNumbers, false);
}
int cmpsortnr(const chunk_sort_key& a, const chunk_sort_key& b, WORD flags) {
  return CompareKeys(a, b, flags, CompareNumbers, true);
}

void SortRowKeys(chunk_sort_key* keys, WORD count, row_comparator compare, WORD flags) {
  if (keys == nullptr || count < 2)
    return;
  // Stable, so keys the comparator holds equal keep the order they came in.
  std::stable_sort(keys, keys + count, [compare, flags](const chunk_sort_key& a,
                                                        const chunk_sort_key& b) {
    return compare(a, b, flags) < 0;
  });
}
