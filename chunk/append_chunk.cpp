/*
 * The chunk append service of the engine (AppendChunk): copying the
 * records of a chunk, an item, a design element's body or an image
 * resource into an operation's output, one record at a time through the
 * record step (chunk/append_record.cpp), and the row sort's re-append of
 * the chunk's own rows, which copies a range as it stands but for the
 * paragraph definitions a moved row refers to, written ahead of it.
 *
 * A copying append chooses its source by the action: another chunk
 * (2356), the item AppendRTItem opened (2357) or the one link matching
 * names (2386), a form, page or subform body (2808, 2809, 2358), an image
 * resource (2424, also reached by the resource generator), or a row of the
 * chunk's own table (2355 with its copy flag). The source's fonts are
 * merged into the target note first; the face map is forgotten at the end.
 *
 * AppendRow's template mode (2355 without its copy flag) builds a new row
 * from the template row over the row sort's walk (chunk/append_row.h).
 * Under the test controls the service also records what it was handed, or a test's
 * stand-in answers for it (chunk/append_chunk_testing.h).
 */
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include <new>
#include <vector>

#include "chunk/append_chunk_internal.h"
#include "chunk/append_row.h"
#include "engine/process_state.h"
#include "engine/walk.h"
#include "generate/services.h"
#include "host/nsfnote.h"
#include "host/status.h"
#include "engine/services.h"
#include "store/body.h"
#include "store/emitter.h"
#include "store/note_access.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "velko/velko.h"

namespace {

/* Status of a record step for a record beyond the range, and of a load
 * that found nothing; both count as success for the run. */
constexpr STATUS kBeyondRange = 546;
constexpr STATUS kNothingLoaded = 1540;

/* The node of the body holding the record numbered `ordinal` (null when
 * there is none), through the state's index of the body's records, built
 * on the first call for the body. 263 when memory runs out for it. */
STATUS FindOrdinal(chunk_process_state *state, const body_context *body,
                   DWORD ordinal, record_storage **found) {
  *found = nullptr;
  std::vector<record_storage *> &index = state->append_index;
  if (state->append_index_body != body) {
    index.clear();
    state->append_index_body = nullptr;
    try {
      for (record_storage *node = body->records; node != nullptr;
           node = node->next) {
        if (node->ordinal != index.size() + 1)
          break; /* numbered out of order: the walk goes from the head */
        index.push_back(node);
      }
    } catch (const std::bad_alloc &) {
      index.clear();
      return VELKO_ERR_MEMORY;
    }
    state->append_index_body = body;
  }
  if (ordinal >= 1 && ordinal <= index.size() &&
      index[ordinal - 1]->ordinal == ordinal) {
    *found = index[ordinal - 1];
    return NOERROR;
  }
  for (record_storage *node = body->records; node != nullptr;
       node = node->next) {
    if (node->ordinal == ordinal) {
      *found = node;
      break;
    }
  }
  return NOERROR;
}

/* ---- the row sort ---- */

WORD RecordWord(const record_storage *node, size_t offset) {
  WORD word = 0;
  std::memcpy(&word, reinterpret_cast<const BYTE *>(node->data) + offset, sizeof word);
  return word;
}

bool SortedDefinitionBefore(const sorted_row_definition &a, const sorted_row_definition &b) {
  return a.pabid != b.pabid ? a.pabid < b.pabid : a.ordinal < b.ordinal;
}

/* The paragraph definitions inside the sort's rows, each with the key of
 * its row, ordered by id and record number. */
STATUS GatherSortedDefinitions(chunk_process_state *state, const body_context *body) {
  std::vector<sorted_row_definition> &definitions = state->sorted_definitions;
  definitions.clear();
  try {
    for (WORD key = 0; key < state->sort_key_count; ++key) {
      const chunk_sort_key &row = state->sort_keys[key];
      record_storage *node = nullptr;
      if (const STATUS status = FindOrdinal(state, body, row.first_record, &node);
          status != NOERROR)
        return status;
      for (; node != nullptr && node->ordinal <= row.last_record; node = node->next) {
        if (node->signature != SIG_CD_PABDEFINITION || node->data == nullptr ||
            node->length < offsetof(CDPABDEFINITION, PABID) + sizeof(WORD))
          continue;
        definitions.push_back({RecordWord(node, offsetof(CDPABDEFINITION, PABID)),
                               node->ordinal, key, false, node});
      }
    }
  } catch (const std::bad_alloc &) {
    definitions.clear();
    return VELKO_ERR_MEMORY;
  }
  std::sort(definitions.begin(), definitions.end(), SortedDefinitionBefore);
  state->sorted_definitions_gathered = true;
  return NOERROR;
}

/* A reference of a row the sort moves: the definition it names in the
 * body (the nearest one before it) may lie in a row that comes after this
 * one now. That definition is written ahead of the reference, once, so
 * that every reference follows its definition; the row holding it keeps
 * its own copy. */
STATUS WriteDefinitionAhead(const record_storage *reference, chunk_process_state *state) {
  if (reference->data == nullptr ||
      reference->length < offsetof(CDPABREFERENCE, PABID) + sizeof(WORD))
    return NOERROR;
  std::vector<sorted_row_definition> &definitions = state->sorted_definitions;
  sorted_row_definition wanted;
  wanted.pabid = RecordWord(reference, offsetof(CDPABREFERENCE, PABID));
  wanted.ordinal = reference->ordinal;
  auto found =
      std::lower_bound(definitions.begin(), definitions.end(), wanted, SortedDefinitionBefore);
  if (found == definitions.begin())
    return NOERROR;
  --found;
  /* A definition of a row appended already, or of this row, is written. */
  if (found->pabid != wanted.pabid || found->written || found->key <= state->sort_key_next)
    return NOERROR;
  const STATUS status = CopyCDUpdated(found->node->data, SIG_CD_PABDEFINITION,
                                      found->node->length, &state->gen);
  if (status == NOERROR)
    found->written = true;
  return status;
}

/* One record of the source: counted, kept to the range, copied. The row
 * sort copies its rows as they stand, each reference behind its
 * definition. */
STATUS AppendOneRecord(const record_storage *node, chunk_process_state *state) {
  state->record_counter = node->ordinal;
  if (state->append_target_first != 0 &&
      node->ordinal < state->append_target_first)
    return NOERROR;
  if (state->append_target_first != 0 &&
      node->ordinal > state->append_target_last)
    return kBeyondRange;
  if (state->action == ACTION_APPEND_ROW)
    return AppendTemplateRowRecord(node, state);
  if (state->action == ACTION_SORT_BY_ROW && node->signature == SIG_CD_PABREFERENCE) {
    if (const STATUS status = WriteDefinitionAhead(node, state); status != NOERROR)
      return status;
  }
  return CopyCDUpdated(node->data, node->signature, node->length, &state->gen);
}

} // namespace

/* Appends the records of the chunk's own item in the state's range. */
STATUS AppendOwnItem(VelkoRTChunk *chunk, chunk_process_state *state) {
  VelkoRTItem *item = chunk->item;
  if (item == nullptr || item->internal == nullptr)
    return kServiceNotAvailable;
  if (item->internal->input == nullptr) {
    item->internal->input =
        StoreItemsAndRecords(item, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
    if (item->internal->input == nullptr)
      return kServiceNotAvailable;
  }
  const body_context *body = item->internal->input;
  if (state->action == ACTION_SORT_BY_ROW && !state->sorted_definitions_gathered) {
    if (const STATUS status = GatherSortedDefinitions(state, body); status != NOERROR)
      return status;
  }
  record_storage *node = body->records;
  if (state->append_target_first != 0) {
    const STATUS status =
        FindOrdinal(state, body, state->append_target_first, &node);
    if (status != NOERROR)
      return status;
  }
  for (; node != nullptr; node = node->next) {
    state->current_record = node;
    const STATUS status = AppendOneRecord(node, state);
    if (status == kBeyondRange)
      break; /* every record behind it lies beyond the range too */
    if (status != NOERROR && status != kNothingLoaded)
      return status;
  }
  return NOERROR;
}

namespace {

/* ---- copying appends ---- */

/* Where a copying append takes its records from. */
struct append_source {
  WORD action = 0;
  /* A design element's name (2358, 2808, 2809, 2424). */
  const char* design_name = nullptr;
  /* 2424: the size asked for and the graphic's properties. */
  WORD image_width = 0;
  WORD image_height = 0;
  const char* image_properties = nullptr;
};

/* The design pattern and body item of a design-element source; null for
 * the other actions. */
const char* DesignPattern(WORD action, const char** itemName) {
  switch (action) {
  case ACTION_APPEND_FORM_BODY:
    *itemName = "$Body";
    return "-UW";
  case ACTION_APPEND_PAGE_BODY:
    *itemName = "$Body";
    return "+W";
  case ACTION_APPEND_SUBFORM_BODY:
    *itemName = "$Body";
    return "+U";
  case ACTION_APPEND_RESOURCE:
    *itemName = "$ImageData";
    return "+i";
  default:
    return nullptr;
  }
}

/* The template definition a reset gives: PABID 1, margins of an inch,
 * the first tab slot at half an inch (with a tab count of 0). */
void ResetTemplate(BYTE* area) {
  CDPABDEFINITION definition{};
  definition.Header.Signature = SIG_CD_PABDEFINITION;
  definition.Header.Length = sizeof(CDPABDEFINITION);
  definition.PABID = 1;
  definition.LeftMargin = 1440;
  definition.FirstLineLeftMargin = 1440;
  definition.Tab[0] = 720;
  std::memset(area, 0, kParagraphDefinitionArea);
  std::memcpy(area, &definition, sizeof definition);
}

/* A design note opened for the run, closed when the run ends. */
class design_note {
public:
  design_note() = default;
  ~design_note() {
    if (note_ != NULLHANDLE)
      NSFNoteClose(note_);
  }
  design_note(const design_note&) = delete;
  design_note& operator=(const design_note&) = delete;
  NOTEHANDLE* out() { return &note_; }
  NOTEHANDLE note() const { return note_; }

private:
  NOTEHANDLE note_ = NULLHANDLE;
};

/* A source body loaded for the run, freed when the run ends. */
class loaded_source {
public:
  loaded_source(chunk_process_state* state) : state_(state) {}
  ~loaded_source() {
    if (body_ == nullptr)
      return;
    if (state_->append_index_body == body_) {
      state_->append_index.clear();
      state_->append_index_body = nullptr;
    }
    CleanupBodyContext(state_->session, body_);
    delete body_;
  }
  loaded_source(const loaded_source&) = delete;
  loaded_source& operator=(const loaded_source&) = delete;
  void set(body_context* body) { body_ = body; }

private:
  chunk_process_state* state_;
  body_context* body_ = nullptr;
};

bool SameItem(const VelkoRTItem* target, DBHANDLE db, NOTEHANDLE note, const char* name) {
  return db == target->db && note == target->note && target->item_name != nullptr &&
         strcasecmp(name, target->item_name) == 0;
}

/* Whether the lane may move the source's nodes into the output: the
 * source is a chunk of an item kept for this copy alone (its list is given
 * up), and the step never looks back along the source list for a record
 * (ids keep, no image edits). */
bool TakesSourceNodes(WORD action, const VelkoRTChunk* chunk, const VelkoRTItem* target,
                      const chunk_append_run& run) {
  return action == ACTION_APPEND_RTCHUNK && chunk->item != target &&
         chunk->item->internal != nullptr && chunk->item->internal->records_given_up &&
         run.source == chunk->item->internal->input && run.base == 0 && !run.image_inline;
}

/* The output that took source nodes keeps the source's memory; the
 * source's list, which led into the output, is emptied. */
void GiveUpSource(chunk_process_state* state, const chunk_append_run& run) {
  if (state->append_index_body == run.source) {
    state->append_index.clear();
    state->append_index_body = nullptr;
  }
  MoveBodyMemory(run.taken_by, run.source);
}

/* A range that holds one end of a structure and not the other (a chunk
 * After a row runs to its table's end, Before a text in a section begins
 * at the section's begin) would leave the target with a table, hotspot or
 * bracket open or closed twice: the ends whose begins lie before the range
 * are noted to be left out, and the begins whose ends lie after it to be
 * closed where the copy ends. */
STATUS PairStructures(chunk_append_run* run, const record_storage* first) {
  std::vector<const record_storage*>& open = run->unpaired_begins;
  try {
    for (const record_storage* node = first; node != nullptr && node->ordinal <= run->range_last;
         node = node->next) {
      const WORD signature = node->signature;
      if (StructureEndFor(signature) != 0) {
        open.push_back(node);
        continue;
      }
      if (!IsStructureEnd(signature))
        continue;
      const auto begin = std::find_if(open.rbegin(), open.rend(), [&](const record_storage* at) {
        return StructureEndFor(at->signature) == signature;
      });
      if (begin == open.rend())
        run->unpaired_ends.push_back(node->ordinal);
      else
        open.erase(std::next(begin).base());
    }
  } catch (const std::bad_alloc&) {
    return VELKO_ERR_MEMORY;
  }
  return NOERROR;
}

/* Whether the copy leaves the node out: an end whose begin lies before
 * the range. */
bool IsUnpairedEnd(chunk_append_run* run, const record_storage* node) {
  const std::vector<DWORD>& ends = run->unpaired_ends;
  while (run->next_unpaired_end < ends.size() && ends[run->next_unpaired_end] < node->ordinal)
    ++run->next_unpaired_end;
  return run->next_unpaired_end < ends.size() && ends[run->next_unpaired_end] == node->ordinal;
}

/* Every record of the source from the range's first through the step;
 * 546 and 1540 of a step count as success. */
STATUS WalkSource(chunk_process_state* state, chunk_append_run* run) {
  record_storage* node = run->source->records;
  if (run->range_first > 1) {
    const STATUS status = FindOrdinal(state, run->source, run->range_first, &node);
    if (status != NOERROR)
      return status;
  }
  if (run->range_first != 0) {
    if (const STATUS status = PairStructures(run, node); status != NOERROR)
      return status;
  }
  PrepareAppendLane(run, state);
  for (; node != nullptr; node = node->next) {
    STATUS status = NOERROR;
    node = AppendLaneRun(node, state, &status);
    if (status != NOERROR)
      return status;
    if (node == nullptr)
      break;
    if (IsUnpairedEnd(run, node))
      continue;
    run->current = node;
    state->current_record = node;
    status = AppendChunk_OneCDRecord(node->data, node->signature, node->length, state);
    if (status == kBeyondRange)
      break; /* every record behind it lies beyond the range too */
    if (status != NOERROR && status != kNothingLoaded)
      return status;
  }
  return NOERROR;
}

/* A Section target closes with the template definition, when a definition
 * is pending, and the walk's paragraph reference. */
STATUS CloseSection(chunk_process_state* state, const chunk_append_run& run) {
  if (state->chunk == nullptr || state->chunk->target_type != TARGETTYPE_SECTION)
    return NOERROR;
  if (state->definition_changed != 0) {
    WSIG header;
    std::memcpy(&header, run.template_definition, sizeof header);
    const DWORD length = header.Length < kParagraphDefinitionArea ? header.Length
                                                                  : kParagraphDefinitionArea;
    if (const STATUS status =
            CopyCDUpdated(run.template_definition, SIG_CD_PABDEFINITION, length, &state->gen);
        status != NOERROR)
      return status;
  }
  const CDPABREFERENCE reference = CurrentReference(state);
  return CopyCDUpdated(&reference, SIG_CD_PABREFERENCE, sizeof reference, &state->gen);
}

/* The begins the range holds without their ends, closed innermost first
 * where the copy ends: a bracket's end names what it brackets, as its
 * begin does. */
STATUS CloseUnpairedBegins(chunk_process_state* state, const chunk_append_run& run) {
  for (auto at = run.unpaired_begins.rbegin(); at != run.unpaired_begins.rend(); ++at) {
    const record_storage* begin = *at;
    const WORD signature = StructureEndFor(begin->signature);
    STATUS status = NOERROR;
    if (signature == SIG_CD_END) {
      CDBEGINRECORD end = {};
      if (begin->length >= sizeof end)
        std::memcpy(&end, begin->data, sizeof end);
      end.Header.Signature = static_cast<BYTE>(SIG_CD_END);
      end.Header.Length = sizeof end;
      status = CopyCDUpdated(&end, SIG_CD_END, sizeof end, &state->gen);
    } else if (signature == SIG_CD_TABLEEND || signature == SIG_CD_NESTEDTABLEEND) {
      CDTABLEEND end = {};
      end.Header.Signature = static_cast<BYTE>(signature);
      end.Header.Length = sizeof end;
      status = CopyCDUpdated(&end, signature, sizeof end, &state->gen);
    } else {
      BSIG end = {static_cast<BYTE>(signature), sizeof end};
      status = CopyCDUpdated(&end, signature, sizeof end, &state->gen);
    }
    if (status != NOERROR)
      return status;
  }
  return NOERROR;
}

STATUS CopyingAppend(VelkoRTChunk* chunk, chunk_process_state* state, WORD baseArgument,
                     const append_source& source) {
  VelkoRTItem* target = StateItem(state);
  if (target == nullptr || target->internal == nullptr)
    return kServiceNotAvailable;
  _internal_SESS* session = state->session->internal;
  state->append_pabid_map.clear();
  chunk_append_run run;
  const char* itemName = nullptr;
  bool mergeFonts = true;
  bool resetTemplate = true;
  const char* pattern = DesignPattern(source.action, &itemName);
  switch (source.action) {
  case ACTION_APPEND_RTCHUNK:
    if (chunk == nullptr || chunk->item == nullptr)
      return kServiceNotAvailable;
    run.source_note = chunk->item->note;
    run.source_db = chunk->item->db;
    itemName = chunk->item->item_name;
    run.range_first = state->append_target_first;
    run.range_last = state->append_target_last;
    resetTemplate = state->p2 == 0;
    break;
  case ACTION_APPEND_RTITEM:
  case ACTION_LINK_MATCHING:
    run.source_note = session->append_note;
    run.source_db = session->append_db;
    itemName = source.action == ACTION_APPEND_RTITEM ? session->append_item_name : state->s1;
    break;
  case ACTION_APPEND_ROW:
    if (chunk == nullptr)
      return kServiceNotAvailable;
    run.source_note = target->note;
    run.source_db = target->db;
    itemName = target->item_name;
    run.range_first = state->append_target_first;
    run.range_last = state->append_target_last;
    mergeFonts = false;
    break;
  default:
    if (pattern == nullptr)
      return NOERROR;
    if (chunk == nullptr || source.design_name == nullptr)
      return kServiceNotAvailable;
    run.link_items = source.action == ACTION_APPEND_RESOURCE
                         ? link_table_items::links_then_form_links
                         : link_table_items::form_links_only;
    break;
  }
  design_note design;
  if (pattern != nullptr) {
    const STATUS opened = OpenNoteInDB(state->session, target->db, 0, source.design_name, pattern,
                                       nullptr, design.out(), 0, target->AutoDecrypt, nullptr);
    if (opened != NOERROR)
      return opened;
    run.source_note = design.note();
    run.source_db = target->db;
  }
  if (run.source_note == NULLHANDLE || itemName == nullptr || itemName[0] == '\0')
    return kServiceNotAvailable;
  if (mergeFonts && run.source_note != target->note)
    static_cast<void>(target->MergeFontTables(run.source_note)); /* faces then stay */

  run.base = baseArgument == 0 ? 0 : DWORD{baseArgument} + 1;
  if (resetTemplate)
    ResetTemplate(run.template_definition);
  else
    std::memcpy(run.template_definition, CurrentDefinition(state), kParagraphDefinitionArea);
  if (source.action == ACTION_APPEND_RESOURCE) {
    run.image_inline = true;
    run.image_width = source.image_width;
    run.image_height = source.image_height;
    run.image_properties = source.image_properties;
  }

  loaded_source loaded(state);
  if (SameItem(target, run.source_db, run.source_note, itemName)) {
    run.source = ItemBody(target);
  } else if (source.action == ACTION_APPEND_RTCHUNK) {
    /* The second chunk's item holds its records from the query that
     * found the range; they are read once. */
    run.source = ItemBody(chunk->item);
  } else {
    run.source = StoreItemsAndRecords(target, 0, 0, nullptr, 0, 0, run.source_note, itemName);
    loaded.set(run.source);
  }
  // A source that did not load whole (damaged, or cut short for want of
  // memory) would be copied in part and pass for whole: the append fails
  // with why its load stopped, which the load logged, and adds nothing.
  if (run.source != nullptr && run.source->load_status != NOERROR)
    return (run.source->load_status & STATUS_CODE_MASK) == VELKO_ERR_MEMORY
               ? STATUS{VELKO_ERR_MEMORY}
               : run.source->load_status;
  STATUS status = NOERROR;
  if (run.source != nullptr) {
    run.take_nodes = TakesSourceNodes(source.action, chunk, target, run);
    chunk_append_run* outer = state->append_run;
    if (outer != nullptr)
      run.names = outer->names;
    state->append_run = &run;
    status = WalkSource(state, &run);
    if (outer == nullptr) {
      const STATUS registered = WriteFieldNames(target->note, run.names);
      if (status == NOERROR)
        status = registered;
    }
    if (status == NOERROR)
      status = CloseUnpairedBegins(state, run);
    state->append_run = outer;
    if (run.taken_by != nullptr)
      GiveUpSource(state, run);
  }
  if (status == NOERROR)
    status = CloseSection(state, run);
  session->face_remap_count = 0;
  session->face_map_count = 0;
  return status;
}

} // namespace

#ifdef VELKO_TEST_CONTROLS
#include <utility>

#include "chunk/append_chunk_testing.h"

namespace {
append_chunk_stand_in &StandIn() {
  static append_chunk_stand_in standIn;
  return standIn;
}

bool recording = false;
STATUS answer = kServiceNotAvailable;
std::vector<append_chunk_call> calls;

void Record(VelkoRTChunk *chunk, const chunk_process_state *state, WORD base) {
  append_chunk_call call;
  call.action = state->action;
  call.chunk = chunk;
  call.own_chunk = chunk == state->chunk;
  call.base = base;
  call.target_first = state->append_target_first;
  call.target_last = state->append_target_last;
  call.record_number = state->record_counter;
  call.table_depth = state->depth_table;
  const VelkoRTItem *item = StateItem(state);
  const body_context *output = item != nullptr && item->internal != nullptr
                                   ? item->internal->output
                                   : nullptr;
  if (output != nullptr && output->last_written != nullptr)
    call.last_output = output->last_written->signature;
  calls.push_back(call);
}
} // namespace

void VelkoTestRecordAppendChunk(STATUS status) {
  calls.clear();
  recording = true;
  answer = status;
}
void VelkoTestStopAppendChunkRecord() {
  calls.clear();
  recording = false;
  answer = kServiceNotAvailable;
}
const std::vector<append_chunk_call> &VelkoTestAppendChunkCalls() {
  return calls;
}

void VelkoTestReplaceAppendChunk(append_chunk_stand_in standIn) {
  StandIn() = std::move(standIn);
}
#endif

STATUS AppendChunk(VelkoRTChunk *chunk, chunk_process_state *state,
                   [[maybe_unused]] WORD base) {
#ifdef VELKO_TEST_CONTROLS
  if (StandIn())
    return StandIn()(chunk, state, base);
  if (recording && state != nullptr) {
    Record(chunk, state, base);
    return answer;
  }
#endif
  if (state == nullptr)
    return kServiceNotAvailable;
  /* The row sort and the row from a template row copy the chunk's own
   * rows through one walk. */
  const bool sorting = state->action == ACTION_SORT_BY_ROW;
  if (sorting || (state->action == ACTION_APPEND_ROW && state->p3 == 0)) {
    STATUS status = kServiceNotAvailable;
    if (chunk != nullptr)
      status = sorting ? AppendOwnItem(chunk, state) : AppendRowFromTemplate(chunk, state);
    if (status != kServiceNotAvailable)
      state->session->internal->face_remap_count = 0;
    return status;
  }
  append_source source;
  source.action = state->action;
  source.design_name = state->s1;
  return CopyingAppend(chunk, state, base, source);
}

STATUS AppendImageResourceRecords(generation_context* context, const char* name, WORD width,
                                  WORD height, const char* properties) {
  if (context == nullptr || context->operation == nullptr || name == nullptr)
    return kServiceNotAvailable;
  auto* state = static_cast<chunk_process_state*>(context->operation);
  record_storage* current = state->current_record;
  const DWORD number = state->record_counter;
  append_source source;
  source.action = ACTION_APPEND_RESOURCE;
  source.design_name = name;
  source.image_width = width;
  source.image_height = height;
  source.image_properties = properties;
  const STATUS status = CopyingAppend(state->chunk, state, 0, source);
  state->current_record = current;
  state->record_counter = number;
  return status;
}
