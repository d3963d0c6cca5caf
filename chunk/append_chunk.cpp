/*
 * The chunk append service of the engine (AppendChunk): copying the
 * records of a chunk, an item, a body or a table row into an operation's
 * output, one record at a time.
 *
 * Built: the row sort's re-append (2396), which copies a range of the
 * chunk's own item unchanged, and the row append from a template row
 * (2355 without its copy flag; chunk/append_row.h) over the same walk.
 * The other appends (the copying actions and the row copied as it
 * stands) are not built yet: they report that the service is not
 * available (1028) and change nothing. Under the test controls the service
 * also records what it was handed, or a test's stand-in answers for it
 * (chunk/append_chunk_testing.h).
 */
#include <new>
#include <vector>

#include "chunk/append_row.h"
#include "engine/process_state.h"
#include "engine/services.h"
#include "store/body.h"
#include "store/emitter.h"
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

/* One record of the source: counted, kept to the range, copied. The row
 * sort copies its rows as they stand. */
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
  STATUS status = kServiceNotAvailable;
  switch (state->action) {
  case ACTION_SORT_BY_ROW:
    status =
        chunk != nullptr ? AppendOwnItem(chunk, state) : kServiceNotAvailable;
    break;
  case ACTION_APPEND_ROW:
    status = chunk != nullptr ? AppendRowFromTemplate(chunk, state)
                              : kServiceNotAvailable;
    break;
  default:
    break;
  }
  if (status != kServiceNotAvailable)
    state->session->internal->face_remap_count = 0;
  return status;
}
