/*
 * Field modification (action 2416, which no method issues): the field of
 * the chunk whose name is s1 (its first p1 characters; all of it when p1
 * is 0) is taken apart into the chunk's five field buffers, its JavaScript
 * events into "JavaScript:" texts, and written again by the field
 * generator in its "Modify" mode, in place of its old records.
 *
 * A field's records are read ahead from the one where it starts (its
 * CDBEGINRECORD, or its first field record) through the list of records;
 * the walk then drops the records taken. A group of records that is not a
 * whole field, or a field of another name, stays as it is. The buffers
 * are made before the walk (the driver); the action does nothing while
 * the chunk's field flag is set.
 */
#include <string.h>
#include <strings.h>

#include <string>
#include <vector>

#include "engine/chunk_state.h"
#include "engine/paragraph_table.h"
#include "engine/process_state.h"
#include "engine/record_fields.h"
#include "generate/field.h"
#include "store/rtitem_internal.h"
#include "store/tracked_memory.h"
#include "velko/status.h"

namespace {

/* Room of each field buffer (the driver makes them this large). */
constexpr DWORD kFieldBufferRoom = kWorkBlockSize;
/* The action kind of a JavaScript event. */
constexpr WORD kJavaScriptEvent = 4;

/* Event names by event type, from 1. */
constexpr const char* kEventNames[] = {
    "OnClick",   "OnDblClick", "OnMouseDown", "OnMouseUp", "OnMouseOver", "OnMouseMove",
    "OnMouseOut", "OnKeyPress", "OnKeyDown",  "OnKeyUp",   "OnFocus",     "OnBlur",
    "OnLoad",    "OnUnload",   "Header",      "OnSubmit",  "OnReset",     "OnChange",
    "OnError",   "OnHelp",     "OnSelect",
};

const char* EventName(WORD type) {
  constexpr WORD count = sizeof kEventNames / sizeof kEventNames[0];
  return type >= 1 && type <= count ? kEventNames[type - 1] : "UNDEFINED_EVENT";
}

/* The buffer a field record goes into; -1 for another record. */
int BufferOf(WORD signature) {
  switch (signature) {
  case SIG_CD_FIELD:
    return kFieldBufferField;
  case SIG_CD_EXTFIELD:
    return kFieldBufferExtField;
  case SIG_CD_EXT2FIELD:
    return kFieldBufferExt2Field;
  case SIG_CD_EMBEDDEDCTL:
    return kFieldBufferControl;
  case SIG_CD_IDNAME:
    return kFieldBufferIdName;
  default:
    return -1;
  }
}

/* The records that come before the CDFIELD of a field. */
bool LeadsAField(WORD signature) {
  return signature == SIG_CD_EXTFIELD || signature == SIG_CD_EXT2FIELD ||
         signature == SIG_CD_EMBEDDEDCTL;
}

WORD FieldBracket(const record_storage* node) {
  const WORD bracketed = NodeBracket(node);
  return bracketed == SIG_CD_FIELD || bracketed == SIG_CD_EMBEDDEDCTL ? bracketed : 0;
}

/* The field's name as its CDFIELD holds it; false for a record too short. */
bool FieldName(const record_storage* node, std::string* name) {
  if (node->length < sizeof(CDFIELD))
    return false;
  CDFIELD field;
  memcpy(&field, node->data, sizeof field);
  const DWORD at = sizeof field + field.DVLength + field.ITLength + field.VFLength;
  if (at + field.NameLength > node->length)
    return false;
  name->assign(node->data + at, field.NameLength);
  return true;
}

bool NameMatches(const std::string& name, const chunk_process_state* state) {
  const char* wanted = state->s1 != nullptr ? state->s1 : "";
  size_t length = strlen(wanted);
  if (state->p1 != 0 && state->p1 < length)
    length = state->p1;
  if (name.size() != length)
    return false;
  return state->chunk->CaseSensitive != 0 ? strncmp(name.c_str(), wanted, length) == 0
                                          : strncasecmp(name.c_str(), wanted, length) == 0;
}

/* What a field's records gave: the records taken (the first is the
 * current one), whether a bracket held them, and the event texts. */
struct taken_field {
  const record_storage* records[kFieldBufferCount] = {};
  DWORD count = 0;
  bool bracketed = false;
  std::vector<std::string> events;
};

/* A JavaScript event: its code from the blob parts after it, named by its
 * event. *next is the first record after the parts. */
const record_storage* TakeEvent(const record_storage* node, taken_field* taken) {
  CDEVENT event;
  memcpy(&event, node->data, sizeof event);
  std::string code;
  ++taken->count;
  node = node->next;
  while (node != nullptr && node->signature == SIG_CD_BLOBPART &&
         node->length >= sizeof(CDBLOBPART)) {
    CDBLOBPART part;
    memcpy(&part, node->data, sizeof part);
    const DWORD room = node->length - sizeof part;
    code.append(node->data + sizeof part, part.Length < room ? part.Length : room);
    ++taken->count;
    node = node->next;
  }
  // The code ends at its NUL (the action length counts it).
  code.resize(strnlen(code.c_str(), code.size()));
  taken->events.push_back(std::string("JavaScript:") + EventName(event.EventType) + ":" + code);
  return node;
}

bool IsJavaScriptEvent(const record_storage* node) {
  if (node->signature != SIG_CD_EVENT || node->length < sizeof(CDEVENT))
    return false;
  CDEVENT event;
  memcpy(&event, node->data, sizeof event);
  return event.ActionType == kJavaScriptEvent;
}

/* Reads the field that starts at the node; false when the records there
 * are not a whole field of the wanted name. */
bool TakeField(const record_storage* node, const chunk_process_state* state, taken_field* taken) {
  const WORD bracket = FieldBracket(node);
  if (bracket != 0) {
    taken->bracketed = true;
    ++taken->count;
    node = node->next;
  }
  for (; node != nullptr && LeadsAField(node->signature); node = node->next) {
    taken->records[BufferOf(node->signature)] = node;
    ++taken->count;
  }
  std::string name;
  if (node == nullptr || node->signature != SIG_CD_FIELD || !FieldName(node, &name) ||
      !NameMatches(name, state))
    return false;
  taken->records[kFieldBufferField] = node;
  ++taken->count;
  node = node->next;
  while (node != nullptr) {
    if (IsJavaScriptEvent(node)) {
      node = TakeEvent(node, taken);
    } else if (node->signature == SIG_CD_IDNAME) {
      taken->records[kFieldBufferIdName] = node;
      ++taken->count;
      node = node->next;
    } else {
      break;
    }
  }
  if (!taken->bracketed)
    return true;
  // The bracket's end, and the empty text run the generator writes after
  // a bracketed field.
  if (node == nullptr || !IsEndOf(node->data, node->signature, node->length, bracket))
    return false;
  ++taken->count;
  node = node->next;
  if (node != nullptr && node->signature == SIG_CD_TEXT && node->length == sizeof(CDTEXT))
    ++taken->count;
  return true;
}

/* The taken records into the chunk's buffers (empty ones cleared). */
bool FillBuffers(const taken_field& taken, _internal_RTCHUNK* chunk) {
  for (int slot = 0; slot < kFieldBufferCount; ++slot) {
    void* buffer = chunk->field_buffers[slot];
    if (buffer == nullptr)
      return false;
    memset(buffer, 0, sizeof(WSIG));
    const record_storage* record = taken.records[slot];
    if (record == nullptr)
      continue;
    if (record->length > kFieldBufferRoom)
      return false;
    memcpy(buffer, record->data, record->length);
  }
  return true;
}

} // namespace

STATUS ModifyField(WORD signature, chunk_record_output* output, chunk_process_state* state) {
  const record_storage* node = state->current_record;
  if (state->chunk->field_flag != 0 || node == nullptr || node->signature != signature ||
      (FieldBracket(node) == 0 && !LeadsAField(signature) && signature != SIG_CD_FIELD))
    return NOERROR;
  taken_field taken;
  if (!TakeField(node, state, &taken) || !FillBuffers(taken, state->chunk->internal))
    return NOERROR;

  std::vector<char*> events;
  for (std::string& text : taken.events)
    events.push_back(text.data());
  field_operation op;
  op.gen = &state->gen;
  op.note = StateItem(state)->note;
  for (int slot = 0; slot < kFieldBufferCount; ++slot)
    op.buffers[slot] = state->chunk->internal->field_buffers[slot];
  op.event_strings = events.data();
  op.event_count = static_cast<int>(events.size());
  StateItem(state)->Modified = 1;
  if (STATUS status = GenerateField(nullptr, nullptr, taken.bracketed ? 1 : 0, "Modify", &op);
      status != NOERROR)
    return status;
  // The old records go: this one, and the walk drops the rest.
  output->length = 0;
  state->skip_mark = state->record_counter + taken.count - 1;
  return NOERROR;
}
