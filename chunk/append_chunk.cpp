/*
 * The chunk append service of the engine (AppendChunk): copying the
 * records of a chunk, an item, a body or a table row into an operation's
 * output. The copy is not built yet: the service reports that it is not
 * available (1028) and changes nothing. Under the test controls it also
 * records what it was handed (chunk/append_chunk_testing.h).
 */
#include "engine/process_state.h"
#include "engine/services.h"
#include "store/rtitem_internal.h"
#include "velko/velko.h"

#ifdef VELKO_TEST_CONTROLS
#include <utility>

#include "chunk/append_chunk_testing.h"

namespace {
append_chunk_stand_in& StandIn() {
  static append_chunk_stand_in standIn;
  return standIn;
}

bool recording = false;
STATUS answer = kServiceNotAvailable;
std::vector<append_chunk_call> calls;

void Record(VelkoRTChunk* chunk, const chunk_process_state* state, WORD base) {
  append_chunk_call call;
  call.action = state->action;
  call.chunk = chunk;
  call.own_chunk = chunk == state->chunk;
  call.base = base;
  call.target_first = state->append_target_first;
  call.target_last = state->append_target_last;
  call.record_number = state->record_counter;
  call.table_depth = state->depth_table;
  const VelkoRTItem* item = StateItem(state);
  const body_context* output = item != nullptr && item->internal != nullptr
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
const std::vector<append_chunk_call>& VelkoTestAppendChunkCalls() { return calls; }

void VelkoTestReplaceAppendChunk(append_chunk_stand_in standIn) { StandIn() = std::move(standIn); }
#endif

STATUS AppendChunk([[maybe_unused]] VelkoRTChunk* chunk,
                   [[maybe_unused]] chunk_process_state* state, [[maybe_unused]] WORD base) {
#ifdef VELKO_TEST_CONTROLS
  if (StandIn())
    return StandIn()(chunk, state, base);
  if (recording && state != nullptr) {
    Record(chunk, state, base);
    return answer;
  }
#endif
  return kServiceNotAvailable;
}
