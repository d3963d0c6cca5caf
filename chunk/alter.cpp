/*
 * The chunk's one way into the engine: AlterRichText hands an action code
 * and its parameters to ProcessChunk for the chunk's item, and settles the
 * chunk's status word and the note's update afterwards.
 *
 * What each action does is the engine's; which action a method issues is
 * the method's. This file only dispatches.
 */
#include <stdint.h>
#include <string.h>

#include <memory>
#include <new>

#include "chunk/rtchunk_internal.h"
#include "engine/chunkdef.h"
#include "engine/definition.h"
#include "engine/driver.h"
#include "host/nsfnote.h"
#include "store/new_object.h"
#include "store/rtitem_internal.h"
#include "store/session.h"

#ifdef VELKO_TEST_CONTROLS
#include <utility>

#include "chunk/action_record_testing.h"

namespace {
std::vector<recorded_action> recorded;
bool recording = false;

void RecordAction(const VelkoRTChunk& chunk, WORD action, WORD p1, WORD p2, WORD p3, WORD p4,
                  const char* s1, const char* s2, const char* extra, const VelkoRTChunk* other) {
  if (!recording)
    return;
  // The record's own memory must not change what the dispatch reports.
  try {
    recorded_action last_action;
    last_action.action = action;
    last_action.p1 = p1;
    last_action.p2 = p2;
    last_action.p3 = p3;
    last_action.p4 = p4;
    last_action.has_s1 = s1 != nullptr;
    last_action.has_s2 = s2 != nullptr;
    last_action.s1 = s1 != nullptr ? s1 : "";
    last_action.s2 = s2 != nullptr ? s2 : "";
    last_action.extra = extra != nullptr ? extra : "";
    last_action.other = other;
    if (chunk.session != nullptr) {
      const _internal_SESS* internal = chunk.session->internal;
      if (internal != nullptr && internal->parameter_text != nullptr)
        last_action.parameter_text = internal->parameter_text;
      last_action.result_text.assign(chunk.session->result_text, chunk.session->result_length);
      last_action.scratch_first = chunk.session->scratch_first;
      last_action.scratch_third = chunk.session->scratch_third;
      if (internal != nullptr)
        for (int slot = 0; slot < 20; ++slot)
          last_action.cell_texts.emplace_back(
              internal->cell_texts[slot] != nullptr ? internal->cell_texts[slot] : "");
    }
    recorded.push_back(std::move(last_action));
  } catch (...) {
  }
}
} // namespace

void VelkoTestResetActionRecord() {
  recorded.clear();
  recording = true;
}
void VelkoTestStopActionRecord() {
  recorded.clear();
  recording = false;
}
const std::vector<recorded_action>& VelkoTestRecordedActions() { return recorded; }
#endif

namespace {

WORD NameLength(const char* name) {
  const size_t length = strlen(name);
  return length > 0xFFFF ? 0xFFFF : static_cast<WORD>(length);
}

/* True when the engine has records to work on: the item is on the note, or
 * the MIME export holds the item's records in memory. */
bool ItemIsAvailable(const VelkoRTItem& item) {
  if (item.internal != nullptr && item.internal->state == kItemStateInMemory)
    return true;
  if (item.note == NULLHANDLE || item.item_name == nullptr || item.item_name[0] == '\0')
    return false;
  return NSFItemInfo(item.note, item.item_name, NameLength(item.item_name), nullptr, nullptr,
                     nullptr, nullptr) == NOERROR;
}

/* The clauses of an extra definition for one call, parsed after the
 * chunk's last clause (null for none or for a text that does not parse:
 * the action then applies to the chunk as defined). The chunk's
 * simple-definition flag stays 1 only when the extra clauses are simple
 * too; the caller restores it after the call. *shortOfMemory tells a text
 * that could not be parsed for want of memory. */
chunkdef_info* ParseExtraDefinition(VelkoRTChunk& chunk, const char* extraDefinition,
                                    bool* shortOfMemory) {
  if (extraDefinition == nullptr || extraDefinition[0] == '\0' || chunk.session == nullptr)
    return nullptr;
  DWORD simple = 0;
  chunkdef_info* extra = ParseDefinition(chunk.session, 0, LastClause(chunk.internal->definitions),
                                         extraDefinition, &simple, shortOfMemory);
  if (extra != nullptr)
    chunk.internal->simple_definition =
        (chunk.internal->simple_definition == 1 && simple == 1) ? 1 : 0;
  return extra;
}

/* A string argument that lies in the session's first scratch text, kept
 * aside while an extra definition is parsed there. */
class ScratchArgument {
public:
  ScratchArgument(const LSXLsiSession* session, const char* text) : text_(text) {
    if (session == nullptr || text == nullptr)
      return;
    const auto at = reinterpret_cast<uintptr_t>(text);
    const auto begin = reinterpret_cast<uintptr_t>(session->scratch_first);
    const auto end = begin + sizeof session->scratch_first;
    if (at < begin || at >= end)
      return;
    const size_t rest = end - at;
    copy_.reset(NewArray<char>(rest));
    if (copy_ == nullptr) {
      failed_ = true; // the parse would overwrite the argument
      return;
    }
    memcpy(copy_.get(), text, rest);
    text_ = copy_.get();
  }
  const char* get() const { return text_; }
  bool failed() const { return failed_; }

private:
  const char* text_;
  std::unique_ptr<char[]> copy_;
  bool failed_ = false;
};

} // namespace

STATUS VelkoRTChunk::AlterRichText(WORD action, WORD p1, WORD p2, WORD p3, WORD p4, const char* s1,
                                   const char* s2, const char* extraDefinition,
                                   VelkoRTChunk* other) {
  status = NOERROR;
#ifdef VELKO_TEST_CONTROLS
  RecordAction(*this, action, p1, p2, p3, p4, s1, s2, extraDefinition, other);
#endif
  // Without its item on the note there is nothing to work on; reporting
  // success (and saving the note) would pass the missing item off as done.
  if (item == nullptr || internal == nullptr || !ItemIsAvailable(*item)) {
    status = VELKO_ERR_BAD_ARGUMENT;
    return status;
  }

  const DWORD simple = internal->simple_definition;
  const bool hasExtra = extraDefinition != nullptr && extraDefinition[0] != '\0';
  const ScratchArgument first(hasExtra ? session : nullptr, s1);
  const ScratchArgument second(hasExtra ? session : nullptr, s2);
  // Without memory for the arguments or the extra clauses the action would
  // run on other texts or another part of the item: it is not run.
  bool shortOfMemory = first.failed() || second.failed();
  chunkdef_info* extra =
      shortOfMemory ? nullptr : ParseExtraDefinition(*this, extraDefinition, &shortOfMemory);
  if (shortOfMemory) {
    status = VELKO_ERR_MEMORY;
    return status;
  }
  const STATUS result = ProcessChunk(this, item->note, item->item_name, action, p1, p2, p3, p4,
                                     first.get(), second.get(), 0, extra, other);
  DeleteChunkDefinitions(extra);
  internal->simple_definition = simple;

  if (result != NOERROR && result != VELKO_STATUS_READ_ONLY) {
    status = result;
    return status;
  }
  // A run that wrote nothing leaves the note as it is.
  if (result == VELKO_STATUS_READ_ONLY || status == VELKO_STATUS_READ_ONLY) {
    status = NOERROR;
    return status;
  }
  // The operation is done in memory; an update that fails is the
  // operation's status, so that the caller knows the note is not stored
  // (its own Save may still store it).
  if (status == NOERROR && item->AutoSave != 0)
    status = NSFNoteUpdate(item->note, UPDATE_FORCE);
  return status;
}

STATUS AlterRichText(VelkoRTChunk* chunk, WORD action, WORD p1, WORD p2, WORD p3, WORD p4,
                     const char* s1, const char* s2, const char* extraDefinition,
                     VelkoRTChunk* other) {
  if (chunk == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  return chunk->AlterRichText(action, p1, p2, p3, p4, s1, s2, extraDefinition, other);
}
