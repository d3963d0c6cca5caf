/*
 * The record step of a copying chunk append (AppendChunk_OneCDRecord, see
 * chunk/append_chunk_internal.h): one source record is kept to the range,
 * its paragraph ids are moved where the target's would collide (or made
 * the target's own where the target has an equal definition), an inline
 * image gets its size and wrapping, and the record is copied, dropped or
 * rebuilt; then what it names in the source note comes along: a file
 * attachment, an OLE object, the note link of an indexed link, a field's
 * registration.
 *
 * Not here: choosing and loading the source, and closing a Section
 * (chunk/append_chunk.cpp).
 */
#include <cstddef>
#include <cstring>
#include <new>

#include "chunk/append_chunk_internal.h"
#include "chunk/append_row.h"
#include "chunk/copy_objects.h"
#include "chunk/face_map.h"
#include "chunk/link_copy.h"
#include "chunk/paragraph_style.h"
#include "host/cdrecords.h"
#include "host/status.h"
#include "store/emitter.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "velko/property_string.h"
#include "velko/velko.h"

namespace {

constexpr STATUS kBeyondRange = 546;
/* A file hotspot: its type, and the attachment name behind the 16-byte
 * fixed part. */
constexpr WORD kFileHotspotType = 4;
constexpr DWORD kFileHotspotFixedLength = 16;
/* An OLE object record: the length of its attachment name at byte 14, the
 * name behind the 20-byte fixed part. */
constexpr DWORD kOleNameLengthAt = 14;
constexpr DWORD kOleFixedLength = 20;
/* A CDGRAPHIC put inline: its version, and the flag of a floating image. */
constexpr BYTE kInlineGraphicVersion = 1;
constexpr BYTE kGraphicFloats = 0x02;
/* Room of a property value read here. */
constexpr size_t kValueRoom = 256;

bool Holds(DWORD length, size_t offset, size_t size) { return offset + size <= length; }

WORD WordAt(const char* record, size_t offset) {
  WORD value = 0;
  std::memcpy(&value, record + offset, sizeof value);
  return value;
}

void PutWord(char* record, size_t offset, WORD value) {
  std::memcpy(record + offset, &value, sizeof value);
}

/* The record moved into the run's scratch, where it may be changed
 * without touching the source (which may be the body being walked). */
char* Writable(chunk_append_run* run, const char* record, DWORD length, bool* failed) {
  try {
    run->scratch.assign(record, record + length);
    run->scratch.push_back(0); /* the pad byte of an odd record */
  } catch (const std::bad_alloc&) {
    *failed = true;
    return nullptr;
  }
  return run->scratch.data();
}

/* ---- paragraph ids ---- */

/* The pair of the source id, found through the run's positions; null
 * when it has none. */
append_pabid_pair* FindPair(chunk_process_state* state, WORD from) {
  const std::vector<DWORD>& positions = state->append_run->pair_positions;
  if (positions.empty() || positions[from] == 0)
    return nullptr;
  /* A copy nested in this one starts the map afresh: a position it left
   * stale finds nothing. */
  const DWORD position = positions[from] - 1;
  std::vector<append_pabid_pair>& map = state->append_pabid_map;
  if (position >= map.size() || map[position].from != from)
    return nullptr;
  return &map[position];
}

/* The pair of `from` now gives `to`; a new pair when it had none. */
STATUS SetPair(chunk_process_state* state, WORD from, WORD to) {
  if (append_pabid_pair* pair = FindPair(state, from); pair != nullptr) {
    pair->to = to;
    return NOERROR;
  }
  std::vector<DWORD>& positions = state->append_run->pair_positions;
  try {
    if (positions.empty())
      positions.assign(DWORD{0xFFFF} + 1, 0);
    state->append_pabid_map.push_back({from, to});
  } catch (const std::bad_alloc&) {
    return VELKO_ERR_MEMORY;
  }
  positions[from] = static_cast<DWORD>(state->append_pabid_map.size());
  return NOERROR;
}

/* The id moved by the base; 1027 past 65535, where it would wrap onto
 * another definition. */
STATUS Moved(const chunk_append_run* run, WORD id, WORD* moved) {
  const DWORD value = DWORD{id} + run->base;
  if (value > 0xFFFF)
    return VELKO_ERR_INVALID_SEQUENCE;
  *moved = static_cast<WORD>(value);
  return NOERROR;
}

_CDPABDEFEXT DefinitionArea(const char* record, DWORD length) {
  _CDPABDEFEXT area{};
  std::memcpy(&area, record, length < sizeof area ? length : sizeof area);
  return area;
}

/* The target's definitions, read once per run. */
STATUS ReadTargetDefinitions(chunk_process_state* state, chunk_append_run* run) {
  if (run->target_definitions_read)
    return NOERROR;
  run->target_definitions_read = true;
  const body_context* body = ItemBody(StateItem(state));
  if (body == nullptr)
    return NOERROR;
  try {
    for (const record_storage* node = body->records; node != nullptr; node = node->next) {
      if (node->signature == SIG_CD_PABDEFINITION && node->length >= sizeof(WSIG) + sizeof(WORD))
        run->target_definitions.push_back(DefinitionArea(node->data, node->length));
    }
  } catch (const std::bad_alloc&) {
    return VELKO_ERR_MEMORY;
  }
  return NOERROR;
}

/* The id of the target's first definition equal to the source's, or 0. */
STATUS EqualTargetDefinition(chunk_process_state* state, chunk_append_run* run,
                             const char* record, DWORD length, WORD* id) {
  *id = 0;
  if (const STATUS status = ReadTargetDefinitions(state, run); status != NOERROR)
    return status;
  const _CDPABDEFEXT wanted = DefinitionArea(record, length);
  for (const _CDPABDEFEXT& candidate : run->target_definitions) {
    if (CompareParagraphs(state->session, &candidate, &wanted, 1) != 0) {
      *id = candidate.Definition.PABID;
      return NOERROR;
    }
  }
  return NOERROR;
}

/* A definition takes the id of an equal target definition, else its id
 * moved by the base; its source id gives that id from now on. */
STATUS RenumberDefinition(char* record, DWORD length, chunk_process_state* state,
                          chunk_append_run* run) {
  const size_t at = offsetof(CDPABDEFINITION, PABID);
  if (!Holds(length, at, sizeof(WORD)))
    return NOERROR;
  const WORD id = WordAt(record, at);
  WORD target = 0;
  if (const STATUS status = EqualTargetDefinition(state, run, record, length, &target);
      status != NOERROR)
    return status;
  if (target == 0) {
    if (const STATUS status = Moved(run, id, &target); status != NOERROR)
      return status;
  }
  PutWord(record, at, target);
  return SetPair(state, id, target);
}

/* The nearest definition of the id before the node in the source list. */
const record_storage* PrecedingDefinition(const record_storage* node, WORD id) {
  for (const record_storage* at = node->previous; at != nullptr; at = at->previous) {
    if (at->signature == SIG_CD_PABDEFINITION &&
        Holds(at->length, offsetof(CDPABDEFINITION, PABID), sizeof(WORD)) &&
        WordAt(at->data, offsetof(CDPABDEFINITION, PABID)) == id)
      return at;
  }
  return nullptr;
}

/* Emits a definition of the template's or the source's, with the id. */
STATUS EmitDefinitionWithId(const void* definition, DWORD length, WORD id,
                            chunk_process_state* state) {
  alignas(4) BYTE copy[kParagraphDefinitionArea] = {};
  const DWORD kept = length < sizeof copy ? length : static_cast<DWORD>(sizeof copy);
  std::memcpy(copy, definition, kept);
  PutWord(reinterpret_cast<char*>(copy), offsetof(CDPABDEFINITION, PABID), id);
  return CopyCDUpdated(copy, SIG_CD_PABDEFINITION, kept, &state->gen);
}

/* A reference takes its id's pair; without one, the definition before it
 * in the source decides (an equal target definition, else a moved copy
 * emitted ahead). A leading reference without such a definition gets the
 * template definition ahead of it. */
STATUS RenumberReference(char* record, DWORD length, chunk_process_state* state,
                         chunk_append_run* run) {
  const size_t at = offsetof(CDPABREFERENCE, PABID);
  if (!Holds(length, at, sizeof(WORD)))
    return NOERROR;
  const WORD id = WordAt(record, at);
  WORD target = id;
  bool definitionUsed = false;
  if (const append_pabid_pair* pair = FindPair(state, id); pair != nullptr) {
    target = pair->to;
  } else if (const record_storage* definition = PrecedingDefinition(run->current, id);
             definition != nullptr) {
    definitionUsed = true;
    if (const STATUS status =
            EqualTargetDefinition(state, run, definition->data, definition->length, &target);
        status != NOERROR)
      return status;
    if (target == 0) {
      if (const STATUS status = Moved(run, id, &target); status != NOERROR)
        return status;
      if (const STATUS status =
              EmitDefinitionWithId(definition->data, definition->length, target, state);
          status != NOERROR)
        return status;
    }
    if (const STATUS status = SetPair(state, id, target); status != NOERROR)
      return status;
  } else if (const STATUS status = SetPair(state, id, id); status != NOERROR) {
    /* No definition before it: the id stays, and a later reference keeps
     * it without searching the list again (a definition met in between
     * sets the pair anew). */
    return status;
  }
  if (run->current->ordinal == 1 && !definitionUsed) {
    const WORD length16 = WordAt(reinterpret_cast<const char*>(run->template_definition),
                                 offsetof(WSIG, Length));
    if (const STATUS status =
            EmitDefinitionWithId(run->template_definition, length16, target, state);
        status != NOERROR)
      return status;
  }
  PutWord(record, at, target);
  return NOERROR;
}

/* An id that names a definition goes through the map. */
void MapId(char* record, DWORD length, size_t at, chunk_process_state* state) {
  if (!Holds(length, at, sizeof(WORD)))
    return;
  if (const append_pabid_pair* pair = FindPair(state, WordAt(record, at)); pair != nullptr)
    PutWord(record, at, pair->to);
}

bool HoldsParagraphId(WORD signature) {
  return signature == SIG_CD_PABDEFINITION || signature == SIG_CD_PABREFERENCE ||
         signature == SIG_CD_PABFORMULAREF || signature == SIG_CD_STYLENAME ||
         signature == SIG_CD_PABHIDE;
}

STATUS RenumberParagraphIds(char* record, WORD signature, DWORD length,
                            chunk_process_state* state, chunk_append_run* run) {
  switch (signature) {
  case SIG_CD_PABDEFINITION:
    return RenumberDefinition(record, length, state, run);
  case SIG_CD_PABREFERENCE:
    return RenumberReference(record, length, state, run);
  case SIG_CD_PABFORMULAREF:
    MapId(record, length, offsetof(CDPABFORMULAREF, FirstPABID), state);
    MapId(record, length, offsetof(CDPABFORMULAREF, SecondPABID), state);
    return NOERROR;
  case SIG_CD_STYLENAME:
    MapId(record, length, offsetof(CDSTYLENAME, PABID), state);
    return NOERROR;
  case SIG_CD_PABHIDE:
    MapId(record, length, offsetof(CDPABHIDE, PABID), state);
    return NOERROR;
  default:
    return NOERROR;
  }
}

/* ---- an image resource put inline ---- */

/* The decimal value of the key in the graphic's properties, when given. */
bool PropertyWord(const char* properties, const char* key, WORD* value) {
  char text[kValueRoom] = {};
  if (properties == nullptr || ExtractProperty(properties, key, text, sizeof text) == 0)
    return false;
  *value = static_cast<WORD>(std::strtoul(text, nullptr, 10));
  return true;
}

bool WrapsText(const char* properties) {
  char text[kValueRoom] = {};
  return properties != nullptr && ExtractProperty(properties, "WrapText=", text, sizeof text) != 0 &&
         strncasecmp(text, "WRAP", 4) == 0;
}

bool EditsImage(WORD signature) {
  return signature == SIG_CD_IMAGEHEADER || signature == SIG_CD_GRAPHIC;
}

/* The size asked for (the arguments, then "ImageWidth=" and
 * "ImageHeight="); a graphic of version 1, floating under "WrapText=WRAP". */
void EditImageRecord(char* record, WORD signature, DWORD length, const chunk_append_run* run) {
  if (signature == SIG_CD_IMAGEHEADER) {
    WORD width = run->image_width;
    WORD height = run->image_height;
    PropertyWord(run->image_properties, "ImageWidth=", &width);
    PropertyWord(run->image_properties, "ImageHeight=", &height);
    if (width != 0 && Holds(length, offsetof(CDIMAGEHEADER, Width), sizeof(WORD)))
      PutWord(record, offsetof(CDIMAGEHEADER, Width), width);
    if (height != 0 && Holds(length, offsetof(CDIMAGEHEADER, Height), sizeof(WORD)))
      PutWord(record, offsetof(CDIMAGEHEADER, Height), height);
    return;
  }
  if (!Holds(length, offsetof(CDGRAPHIC, Flags), sizeof(BYTE)))
    return;
  record[offsetof(CDGRAPHIC, Version)] = static_cast<char>(kInlineGraphicVersion);
  if (WrapsText(run->image_properties))
    record[offsetof(CDGRAPHIC, Flags)] =
        static_cast<char>(static_cast<BYTE>(record[offsetof(CDGRAPHIC, Flags)]) | kGraphicFloats);
}

/* ---- the copy ---- */

bool IsFieldPart(WORD signature) {
  return signature == SIG_CD_EXTFIELD || signature == SIG_CD_EXT2FIELD ||
         signature == SIG_CD_EMBEDDEDCTL;
}

/* A CDFIELD long enough to be written again from its buffer. */
bool IsWholeField(WORD signature, DWORD length) {
  return signature == SIG_CD_FIELD && length >= sizeof(CDFIELD);
}

/* Records the copy leaves out: an indexed link (rebuilt after the copy),
 * the field records (the field is written again at its CDFIELD), and the
 * identity record of a bracketed field or control. */
bool Dropped(const char* record, WORD signature, DWORD length, const chunk_append_run* run) {
  if (IsIndexedLinkRecord(reinterpret_cast<const BYTE*>(record), signature, length))
    return true;
  if (IsWholeField(signature, length) || signature == SIG_CD_EXTFIELD ||
      signature == SIG_CD_EXT2FIELD)
    return true;
  return signature == SIG_CD_IDNAME && (run->last_begin_signature == SIG_CD_EMBEDDEDCTL ||
                                        run->last_begin_signature == SIG_CD_FIELD);
}

STATUS CopyRecord(const char* record, WORD signature, DWORD length, chunk_process_state* state,
                  chunk_append_run* run) {
  if (Dropped(record, signature, length, run))
    return NOERROR;
  if (signature == SIG_CD_BEGIN && Holds(length, offsetof(CDBEGINRECORD, Signature), sizeof(WORD)))
    run->last_begin_signature = WordAt(record, offsetof(CDBEGINRECORD, Signature));
  if (signature == SIG_CD_TEXT)
    return EmitFaceMappedText(reinterpret_cast<const BYTE*>(record), length,
                              state->session->internal, &state->gen);
  return CopyCDUpdated(record, signature, length, &state->gen);
}

/* ---- what a record brings along ---- */

/* A missing object leaves the copy without it. */
STATUS ObjectStatus(STATUS status) {
  return (status & STATUS_CODE_MASK) == ERR_ITEM_NOT_FOUND ? NOERROR : status;
}

STATUS BringObject(const char* record, WORD signature, DWORD length, chunk_process_state* state,
                   const chunk_append_run* run) {
  const VelkoRTItem* target = StateItem(state);
  /* Within one note the objects are there already. */
  if (run->source_note == NULLHANDLE || run->source_note == target->note)
    return NOERROR;
  if (signature == SIG_CD_OLEBEGIN) {
    if (!Holds(length, kOleNameLengthAt, sizeof(WORD)))
      return NOERROR;
    const WORD nameLength = WordAt(record, kOleNameLengthAt);
    if (!Holds(length, kOleFixedLength, nameLength))
      return NOERROR;
    return ObjectStatus(CopyOleObjectBetweenNotes(state->session, run->source_note, target->note,
                                                  record + kOleFixedLength, nameLength,
                                                  target->item_name));
  }
  if ((signature != SIG_CD_HOTSPOTBEGIN && signature != SIG_CD_V4HOTSPOTBEGIN) ||
      length <= kFileHotspotFixedLength ||
      WordAt(record, offsetof(CDHOTSPOTBEGIN, Type)) != kFileHotspotType)
    return NOERROR;
  const char* name = record + kFileHotspotFixedLength;
  const size_t nameLength = strnlen(name, length - kFileHotspotFixedLength);
  return ObjectStatus(CopyAttachmentBetweenNotes(state->session, run->source_note, target->note,
                                                 name, static_cast<WORD>(nameLength)));
}

/* The record into its field buffer (zero-filled up to its header's
 * length, which the field writer reads by). */
STATUS HoldFieldRecord(const char* record, DWORD length, std::vector<BYTE>* buffer) {
  const DWORD declared = WordAt(record, offsetof(WSIG, Length));
  try {
    buffer->assign(declared > length ? declared : length, 0);
  } catch (const std::bad_alloc&) {
    return VELKO_ERR_MEMORY;
  }
  std::memcpy(buffer->data(), record, length);
  return NOERROR;
}

int FieldSlot(WORD signature) {
  switch (signature) {
  case SIG_CD_EXTFIELD:
    return kFieldBufferExtField;
  case SIG_CD_EXT2FIELD:
    return kFieldBufferExt2Field;
  default:
    return kFieldBufferControl;
  }
}

void ReleaseFieldRecords(chunk_append_run* run) {
  for (std::vector<BYTE>& buffer : run->fields)
    std::vector<BYTE>().swap(buffer);
}

/* At the CDFIELD the held field is written: with the identity record
 * that follows it before the next paragraph or text run, and without its
 * embedded control, which the copy placed already. */
STATUS WriteField(const char* record, DWORD length, chunk_process_state* state,
                  chunk_append_run* run) {
  STATUS status = HoldFieldRecord(record, length, &run->fields[kFieldBufferField]);
  for (const record_storage* node = run->current->next; status == NOERROR && node != nullptr;
       node = node->next) {
    if (node->signature == SIG_CD_IDNAME && node->length >= sizeof(WSIG)) {
      status = HoldFieldRecord(node->data, node->length, &run->fields[kFieldBufferIdName]);
      break;
    }
    if (node->signature == SIG_CD_IDNAME || node->signature == SIG_CD_PARAGRAPH ||
        node->signature == SIG_CD_TEXT)
      break;
  }
  if (status == NOERROR) {
    field_operation op;
    op.gen = &state->gen;
    op.note = StateItem(state)->note;
    op.names = run->names;
    for (int slot = 0; slot < kFieldBufferCount; ++slot) {
      if (slot != kFieldBufferControl && !run->fields[slot].empty())
        op.buffers[slot] = run->fields[slot].data();
    }
    status = GenerateField(nullptr, nullptr, 0, "Copy", &op);
  }
  ReleaseFieldRecords(run);
  return status;
}

STATUS BringAlong(const char* record, WORD signature, DWORD length, chunk_process_state* state,
                  chunk_append_run* run) {
  if (signature == SIG_CD_OLEBEGIN || signature == SIG_CD_HOTSPOTBEGIN ||
      signature == SIG_CD_V4HOTSPOTBEGIN)
    return BringObject(record, signature, length, state, run);
  if (IsIndexedLinkRecord(reinterpret_cast<const BYTE*>(record), signature, length))
    return EmitSelfContainedLink(reinterpret_cast<const BYTE*>(record), signature, length,
                                 run->source_note, &state->gen, run->link_items);
  if (IsFieldPart(signature) && length >= sizeof(WSIG))
    return HoldFieldRecord(record, length, &run->fields[FieldSlot(signature)]);
  if (IsWholeField(signature, length))
    return WriteField(record, length, state, run);
  return NOERROR;
}

/* ---- the lane ---- */

/* Where a text run keeps its face (the first byte of its FONTID). */
constexpr DWORD kTextFaceAt = offsetof(CDTEXT, FontID);

/* Whether the step does more with records of the signature than hand
 * them to the emitter: ids it renumbers, image records it edits, records
 * it drops or rebuilds, brackets it follows, objects, fields and indexed
 * links it brings. Text faces are told per record. */
bool StepNeeded(WORD signature, const chunk_append_run* run, const chunk_process_state* state) {
  if (MayBeIndexedLink(signature))
    return true;
  if (run->base != 0 && HoldsParagraphId(signature))
    return true;
  if (run->image_inline && EditsImage(signature))
    return true;
  if (state->action == ACTION_APPEND_ROW &&
      (signature == SIG_CD_PABDEFINITION || IsTableCell(signature)))
    return true;
  switch (signature) {
  case SIG_CD_BEGIN:
  case SIG_CD_IDNAME:
  case SIG_CD_FIELD:
  case SIG_CD_EXTFIELD:
  case SIG_CD_EXT2FIELD:
  case SIG_CD_EMBEDDEDCTL:
  case SIG_CD_OLEBEGIN:
  case SIG_CD_HOTSPOTBEGIN:
  case SIG_CD_V4HOTSPOTBEGIN:
    return true;
  default:
    return false;
  }
}

/* Whether the record, of a signature the lane may take, goes out as it
 * is: inside the range, a text run's face unmapped. */
bool PassesUnchanged(const record_storage* node, BYTE kind, const chunk_append_run* run,
                     const _internal_SESS* faces) {
  if (run->range_first != 0 && (node->ordinal < run->range_first || node->ordinal > run->range_last))
    return false;
  const auto* data = reinterpret_cast<const BYTE*>(node->data);
  if (kind == EMITTER_LANE_TEXT)
    return faces == nullptr || node->length <= kTextFaceAt ||
           MappedTextFace(faces, data[kTextFaceAt]) == data[kTextFaceAt];
  return true;
}

} // namespace

void PrepareAppendLane(chunk_append_run* run, const chunk_process_state* state) {
  run->lane_on = EmitterLaneOn();
  for (unsigned slot = 0; slot < kLaneSlotCount; ++slot) {
    const WORD signature = LaneSlotSignature(slot);
    run->lane_kinds[slot] =
        slot == 0 || StepNeeded(signature, run, state) ? BYTE{EMITTER_LANE_NONE}
                                                       : EmitterLaneKind(signature);
  }
}

record_storage* AppendLaneRun(record_storage* node, chunk_process_state* state, STATUS* status) {
  *status = NOERROR;
  chunk_append_run* run = state->append_run;
  if (!run->lane_on || node == nullptr || run->lane_kinds[LaneSlot(node->signature)] == 0)
    return node;
  emitter_lane lane;
  /* The source outlives no output: its records are copied. */
  if (!OpenEmitterLane(&state->gen, false, &lane))
    return node;
  const _internal_SESS* session = state->session->internal;
  const _internal_SESS* faces = session->face_remap_count != 0 ? session : nullptr;
  record_storage* last = nullptr;
  DWORD lastOrdinal = 0; /* in the source: a node taken is numbered anew */
  for (; node != nullptr; node = node->next) {
    // Nodes and records mostly follow each other in memory: what lies a
    // few records ahead of both is asked for while this one is copied.
    __builtin_prefetch(reinterpret_cast<const char*>(node) + kLaneLookAhead);
    __builtin_prefetch(node->data + kLaneLookAhead);
    const BYTE kind = run->lane_kinds[LaneSlot(node->signature)];
    if (kind == EMITTER_LANE_NONE || !PassesUnchanged(node, kind, run, faces))
      break;
    // An end the copy leaves out is the walk's to pass over.
    if (run->next_unpaired_end < run->unpaired_ends.size() &&
        node->ordinal >= run->unpaired_ends[run->next_unpaired_end])
      break;
    const DWORD ordinal = node->ordinal;
    if (run->take_nodes) {
      if (!TakeLaneNode(&lane, node, kind))
        break;
      run->taken_by = lane.output;
    } else {
      bool taken = false;
      *status = EmitLaneRecord(&lane, node->data, node->signature, node->length, kind, &taken);
      if (*status != NOERROR || !taken)
        break;
    }
    last = node;
    lastOrdinal = ordinal;
  }
  CloseEmitterLane(&lane);
  if (last != nullptr) {
    state->record_counter = lastOrdinal;
    state->current_record = last;
    run->current = last;
  }
  return node;
}

STATUS AppendChunk_OneCDRecord(char* record, WORD signature, DWORD length,
                               chunk_process_state* state) {
  chunk_append_run* run = state->append_run;
  const DWORD ordinal = run->current->ordinal;
  state->record_counter = ordinal;
  if (run->range_first != 0) {
    if (ordinal < run->range_first)
      return NOERROR;
    if (ordinal > run->range_last)
      return kBeyondRange;
  }
  if (state->action == ACTION_APPEND_ROW) {
    /* A row copied as it stands: its definitions stay behind, and a cell
     * spanning rows or columns refuses the copy. */
    if (signature == SIG_CD_PABDEFINITION)
      return NOERROR;
    if (const STATUS status = RefuseSpannedCell(record, signature, length, state);
        status != NOERROR)
      return status;
  }

  const bool renumbers = run->base != 0 && HoldsParagraphId(signature);
  const bool editsImage = run->image_inline && EditsImage(signature);
  if (renumbers || editsImage) {
    bool failed = false;
    record = Writable(run, record, length, &failed);
    if (failed)
      return VELKO_ERR_MEMORY;
  }
  if (renumbers) {
    if (const STATUS status = RenumberParagraphIds(record, signature, length, state, run);
        status != NOERROR)
      return status;
  }
  if (editsImage)
    EditImageRecord(record, signature, length, run);

  if (const STATUS status = CopyRecord(record, signature, length, state, run); status != NOERROR)
    return status;
  /* The row template mode adds its empty text run behind a copied
   * paragraph reference here. */
  return BringAlong(record, signature, length, state, run);
}
