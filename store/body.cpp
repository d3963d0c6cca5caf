/*
 * Loading the CD records of a rich-text item into a body_context: every
 * item of the name is copied once into a tracked block, its records are
 * walked in place, converted to host form one at a time and kept as
 * record_storage nodes with the side data the engine and the renderer read
 * (table sizes, image positions, text for entity or plain output). Nodes,
 * their data and side data and the body_items are pieces of the context's
 * record arena, so a body of any size takes a few tracked blocks, not one
 * or more per record. Also the node links, the record iterator and the
 * release of a context's records.
 *
 * Every stored header is checked against what remains of its value before
 * anything is read, so a damaged item never leads past its value; the load
 * then reports the body incomplete instead of handing out a body that would
 * lose data when written back. Writing a record list is in
 * store/body_writer.cpp; building a body (the record emitter) is not here.
 */
#include "store/body.h"

#include <cassert>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>
#include <strings.h>

#include "host/cdrecords.h"
#include "host/nls.h"
#include "host/nsfnote.h"
#include "host/oslog.h"
#include "store/messages.h"
#include "store/new_object.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "velko/status.h"

/* ---- record nodes ---- */

void record_storage::InsertRecordAfter(record_storage* node) {
  node->previous = this;
  node->next = next;
  if (next != nullptr)
    next->previous = node;
  next = node;
}

void record_storage::InsertRecordBefore(record_storage* node) {
  node->next = this;
  node->previous = previous;
  if (previous != nullptr)
    previous->next = node;
  previous = node;
}

void record_storage::CreateRecordData(WORD newSignature, DWORD newLength, WORD count) {
  signature = newSignature;
  length = newLength;
  ++ordinal;
  flags = RECORD_OWNS_DATA;
  data = reinterpret_cast<char*>(this + 1);
  std::memset(data, 0, count);
}

namespace {

static_assert(record_storage::kSideDataRoom % kRecordArenaAlignment == 0);

/* A node of the context's arena with `dataRoom` bytes behind it and, when
 * asked, side data room before it; signature and length set. */
record_storage* MakeArenaNode(LSXLsiSession* session, body_context* context, WORD signature,
                              DWORD length, size_t dataRoom, bool sideRoom, int line,
                              const char* file) {
  const size_t prefix = sideRoom ? record_storage::kSideDataRoom : 0;
  void* piece = RecordArenaAllocate(session, &context->arena, line, file,
                                    prefix + kArenaNodeSize + dataRoom, 0);
  if (piece == nullptr)
    return nullptr;
  auto* node = new (static_cast<char*>(piece) + prefix) record_storage;
  node->signature = signature;
  node->length = length;
  node->flags = sideRoom ? RECORD_IN_ARENA | RECORD_SIDE_ROOM : RECORD_IN_ARENA;
  return node;
}

/* Side data room for a node of the arena: makes the node's side data
 * (zeroed, record_storage::kSideDataRoom bytes) and returns it; null for a
 * node made without room (RECORD_SIDE_ROOM). */
void* UseSideData(record_storage* node) {
  if (node == nullptr || (node->flags & RECORD_SIDE_ROOM) == 0)
    return nullptr;
  node->flags |= RECORD_SIDE_DATA;
  void* side = node->SideData();
  std::memset(side, 0, record_storage::kSideDataRoom);
  return side;
}

} // namespace

record_storage* NewArenaRecord(LSXLsiSession* session, body_context* context, WORD signature,
                               DWORD length, int line, const char* file) {
  if (context == nullptr)
    return nullptr;
  record_storage* node = MakeArenaNode(session, context, signature, length,
                                       EvenLength(static_cast<size_t>(length)), false, line, file);
  if (node == nullptr)
    return nullptr;
  node->data = reinterpret_cast<char*>(node) + kArenaNodeSize;
  if (length & 1)
    node->data[length] = '\0';
  return node;
}

record_storage* NewArenaRecordAt(LSXLsiSession* session, body_context* context, WORD signature,
                                 char* data, DWORD length, int line, const char* file) {
  if (context == nullptr)
    return nullptr;
  record_storage* node = MakeArenaNode(session, context, signature, length, 0, false, line, file);
  if (node == nullptr)
    return nullptr;
  node->data = data;
  node->flags |= RECORD_IN_PLACE;
  return node;
}

char* NewRecordData(LSXLsiSession* session, body_context* context, record_storage* node,
                    DWORD length) {
  if (context == nullptr || node == nullptr)
    return nullptr;
  auto* data = static_cast<char*>(RecordArenaAllocate(
      session, &context->arena, VELKO_HERE, EvenLength(static_cast<size_t>(length)), 0));
  if (data == nullptr)
    return nullptr;
  if (length & 1)
    data[length] = '\0';
  if ((node->flags & RECORD_OWNS_DATA) != 0 && node->data != nullptr)
    VelkoDeallocatePtr(session, node->data);
  node->flags &= static_cast<WORD>(~(RECORD_OWNS_DATA | RECORD_IN_PLACE));
  node->data = data;
  node->length = length;
  return data;
}


record_storage* GetNextCDRecord(body_context* context, record_storage* current) {
  if (context == nullptr)
    return nullptr;
  return current == nullptr ? context->records : current->next;
}

record_storage* GetPreviousCDRecord(body_context* context, record_storage* current) {
  if (context == nullptr || current == nullptr)
    return nullptr;
  return current->previous;
}

/* ---- stored headers ---- */

namespace {

WORD ReadWord(const char* at) {
  const auto* bytes = reinterpret_cast<const BYTE*>(at);
  return static_cast<WORD>(bytes[0] | (bytes[1] << 8));
}

DWORD ReadDword(const char* at) {
  const auto* bytes = reinterpret_cast<const BYTE*>(at);
  return static_cast<DWORD>(bytes[0]) | (static_cast<DWORD>(bytes[1]) << 8) |
         (static_cast<DWORD>(bytes[2]) << 16) | (static_cast<DWORD>(bytes[3]) << 24);
}

void WriteWord(char* at, WORD value) {
  at[0] = static_cast<char>(value & 0xFF);
  at[1] = static_cast<char>(value >> 8);
}

} // namespace

STATUS GetBodyRecord(const char* data, DWORD* length, WORD* signature) {
  const WORD word = ReadWord(data);
  switch (HeaderKindOfSecondByte(static_cast<BYTE>(word >> 8))) {
  case CD_HEADER_LSIG:
    *signature = word;
    *length = ReadDword(data + 2);
    break;
  case CD_HEADER_WSIG:
    *signature = word;
    *length = ReadWord(data + 2);
    break;
  case CD_HEADER_BSIG:
    *signature = word & 0xFF;
    *length = word >> 8;
    break;
  }
  if (*length == 0 || *signature == 0)
    return VELKO_ERR_ITEM_NOT_FOUND;
  return NOERROR;
}

/* ---- loading ---- */

namespace {

/* What one load carries from record to record. */
struct body_load_state {
  LSXLsiSession* session = nullptr;
  VelkoRTItem* item = nullptr;
  int skip_envelopes = 0;
  int reserved = 0; /* passed through; nothing reads it */
  int entity_text = 0;
  int plain_text = 0;
  body_context* context = nullptr;
  body_item* current_item = nullptr;
  record_storage* last = nullptr;
  /* Tables: per level (1 to kMaxTableLevel) the begin node and the
   * pre-table record that came before it. */
  WORD table_level = 0;
  record_storage* table_begin[kMaxTableLevel + 1] = {};
  record_storage* table_pretable[kMaxTableLevel + 1] = {};
  record_storage* pending_pretable = nullptr;
  /* The record being stored: its offset in the current value and whether
   * it is the value's last record. */
  DWORD record_offset = 0;
  bool record_ends_item = false;
  /* The stored and host forms of every signature. */
  const cd_record_forms* forms = RecordForms();
  /* UTF-16 for entity text; loaded on first use. */
  NLS_PINFO unicode = nullptr;
  bool unicode_tried = false;
  /* Set when the walk of an item ended on damaged data: the load goes on
   * with the next item. */
  bool item_damaged = false;
};

/* Record loading traces at the session's debug level 3 and above. */
bool Tracing(const LSXLsiSession* session) {
  return session != nullptr && session->internal != nullptr && session->internal->debug_level >= 3;
}

const char* ItemName(const body_load_state& state) {
  return state.context->item_name != nullptr ? state.context->item_name : "";
}

WORD CurrentItemNumber(const body_load_state& state) {
  return state.current_item != nullptr ? state.current_item->item_number : 0;
}

/* Offset of the cursor in the current value (type word included). */
DWORD CursorOffset(const body_context* context) {
  return static_cast<DWORD>(context->cursor - context->value);
}

/* Keeps where and why the load stopped: the record at offset of the
 * current item, the one the list would hold next. The first record kept
 * stays (a damaged later item ends only itself): false when one was. */
bool NoteLoadStop(body_load_state& state, load_stop_kind kind, DWORD offset, DWORD length,
                  WORD signature) {
  load_stop& stop = state.context->stop;
  if (stop.kind != load_stop_kind::none)
    return false;
  stop.kind = kind;
  stop.ordinal = state.last != nullptr ? state.last->ordinal + 1 : 1;
  stop.item_number = CurrentItemNumber(state);
  stop.offset = offset;
  stop.length = length;
  stop.signature = signature;
  return true;
}

void LogDamagedRecord(const body_load_state& state, DWORD length, WORD signature) {
  const DWORD offset = CursorOffset(state.context);
  if (Tracing(state.session))
    AddInLogMessageText("GSBR - Error: record_length=%ld record_type=%ld data_=%ld", 0,
                        static_cast<long>(length), static_cast<long>(signature),
                        static_cast<long>(offset));
  AddInLogMessageText("Rich text item %s number %u is damaged at offset %lu: the rest of it "
                      "was not loaded",
                      0, ItemName(state), static_cast<unsigned>(CurrentItemNumber(state)),
                      static_cast<unsigned long>(offset));
}

/* Reads the header at the cursor and checks it against what remains of the
 * value and against the record's signature: the header's form must be the
 * signature's, and the length must hold the header and the record's fixed
 * part and lie inside the value. 257 for anything else. */
STATUS ReadStoredHeader(body_load_state& state, DWORD* length, WORD* signature) {
  body_context* context = state.context;
  const char* data = context->cursor;
  const DWORD available = context->remaining;
  *length = 0;
  *signature = 0;
  const cd_header_kind kind = HeaderKindOfSecondByte(static_cast<BYTE>(data[1]));
  const WORD headerSize = StoredHeaderSize(kind);
  bool sound = available >= headerSize && GetBodyRecord(data, length, signature) == NOERROR;
  sound = sound && HeaderKindOfSignature(*signature) == kind;
  sound = sound && *length >= headerSize && *length <= available;
  // A record longer than the loader takes is refused as too long, not as
  // damage, by the record step.
  sound = sound && *length >= state.forms->Of(*signature).stored_fixed;
  if (sound)
    return NOERROR;
  LogDamagedRecord(state, *length, *signature);
  NoteLoadStop(state, load_stop_kind::damaged, CursorOffset(context), *length, *signature);
  return VELKO_ERR_FAILED;
}

/* Steps the cursor past the record and its pad byte; a missing pad byte
 * after the value's last record is tolerated. */
void AdvancePastRecord(body_context* context, DWORD length) {
  DWORD step = EvenLength(length);
  if (step > context->remaining)
    step = context->remaining;
  context->cursor += step;
  context->remaining -= step;
}

STATUS OutOfMemory(const char* text) {
  AddInLogMessageText("%s", VELKO_ERR_MEMORY, text);
  return VELKO_ERR_MEMORY;
}

STATUS ConversionRefused(body_load_state& state, WORD signature, DWORD length) {
  const _internal_RTITEM* internal = state.item->internal;
  if (internal != nullptr && internal->conversion_status == VELKO_ERR_MEMORY) {
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
  AddInLogMessageText("Rich text item %s number %u: record 0x%04X of %lu bytes at offset %lu "
                      "cannot be converted; the rest of the body was not loaded",
                      0, ItemName(state), static_cast<unsigned>(CurrentItemNumber(state)),
                      static_cast<unsigned>(signature), static_cast<unsigned long>(length),
                      static_cast<unsigned long>(state.record_offset));
  NoteLoadStop(state, load_stop_kind::not_converted, state.record_offset, length, signature);
  return VELKO_ERR_FAILED;
}

/* A record longer than a conversion takes, stored or in host form (a few
 * fixed parts grow by a pad byte or two): it could be read, but not
 * written back. */
STATUS RecordTooLong(body_load_state& state, WORD signature, DWORD length) {
  AddInLogMessageText("Rich text item %s number %u: record 0x%04X of %lu bytes at offset %lu "
                      "is longer than the %lu bytes a record can have; the rest of the body was "
                      "not loaded",
                      0, ItemName(state), static_cast<unsigned>(CurrentItemNumber(state)),
                      static_cast<unsigned>(signature), static_cast<unsigned long>(length),
                      static_cast<unsigned long>(state.record_offset),
                      static_cast<unsigned long>(kLargestConvertedRecord));
  NoteLoadStop(state, load_stop_kind::too_long, state.record_offset, length, signature);
  return VELKO_ERR_FAILED;
}

/* ---- side data ---- */

/* Byte length of the character at text, at most available. */
WORD CharacterLength(const BYTE* text, DWORD available) {
  BYTE character[4] = {};
  std::memcpy(character, text, available < 3 ? available : 3);
  WORD bytes = 1;
  if (NLS_string_bytes(character, 1, &bytes, nullptr) != NLS_SUCCESS || bytes == 0)
    bytes = 1;
  return bytes > available ? static_cast<WORD>(available) : bytes;
}

NLS_PINFO UnicodeInfo(body_load_state& state) {
  if (!state.unicode_tried) {
    state.unicode_tried = true;
    if (NLS_load_charset(NLS_CS_UNICODE, &state.unicode) != NLS_SUCCESS)
      state.unicode = nullptr;
  }
  return state.unicode;
}

/* Writes one multi-byte character as "&#%u;" when it is one UTF-16 unit,
 * else its bytes unchanged; returns the bytes written. */
DWORD WriteEntity(body_load_state& state, const BYTE* character, WORD bytes, char* out) {
  NLS_PINFO unicode = UnicodeInfo(state);
  BYTE utf16[8];
  WORD produced = sizeof utf16;
  if (unicode != nullptr &&
      NLS_translate(character, bytes, utf16, &produced, NLS_SOURCEISLMBCS | NLS_NONULLTERMINATE,
                    unicode) == NLS_SUCCESS &&
      produced == 2) {
    const unsigned code = utf16[0] | (utf16[1] << 8);
    return static_cast<DWORD>(std::snprintf(out, 9, "&#%u;", code));
  }
  std::memcpy(out, character, bytes);
  return bytes;
}

/* Entity side data: the text with each multi-byte character written as a
 * numeric character reference, made only when the text holds one. */
STATUS StoreEntityText(body_load_state& state, record_storage* node, const BYTE* text,
                       DWORD textLength) {
  DWORD room = 0;
  for (DWORD at = 0; at < textLength;) {
    const WORD bytes = CharacterLength(text + at, textLength - at);
    room += bytes == 1 ? 1 : 9;
    at += bytes;
  }
  if (room <= textLength)
    return NOERROR;
  auto* out = static_cast<char*>(
      RecordArenaAllocate(state.session, &state.context->arena, VELKO_HERE, room + 1, 0));
  if (out == nullptr)
    return OutOfMemory("Out of memory at CDR4270");
  auto* side = static_cast<text_side_data*>(UseSideData(node));
  DWORD written = 0;
  for (DWORD at = 0; at < textLength;) {
    const WORD bytes = CharacterLength(text + at, textLength - at);
    if (bytes == 1)
      out[written++] = static_cast<char>(text[at]);
    else
      written += WriteEntity(state, text + at, bytes, out + written);
    at += bytes;
  }
  out[written] = '\0';
  side->text = out;
  side->length = written;
  node->flags |= RECORD_SIDE_TEXT;
  return NOERROR;
}

STATUS StoreTextSideData(body_load_state& state, record_storage* node) {
  constexpr DWORD kTextHeader = sizeof(CDTEXT);
  const DWORD textLength = node->length > kTextHeader ? node->length - kTextHeader : 0;
  const auto* text = reinterpret_cast<const BYTE*>(node->data + kTextHeader);
  if (state.entity_text)
    return StoreEntityText(state, node, text, textLength);
  if (!state.plain_text)
    return NOERROR;
  auto* side = static_cast<text_side_data*>(UseSideData(node));
  side->text = node->data + kTextHeader;
  side->length = textLength;
  return NOERROR;
}

/* Where a graphic's image records begin: just behind the graphic in its
 * item, or, when the graphic ends its item, in the next item. Both count
 * stored bytes, the offsets that server URLs name. */
STATUS StoreGraphicSideData(body_load_state& state, record_storage* node) {
  auto* side = static_cast<position_side_data*>(UseSideData(node));
  const DWORD stored = EvenLength(node->stored_length);
  if (state.record_ends_item) {
    side->offset = kItemTypeWordSize + stored;
    side->item_number = static_cast<WORD>(CurrentItemNumber(state) + 1);
  } else {
    side->offset = state.record_offset + stored;
    side->item_number = CurrentItemNumber(state);
  }
  return NOERROR;
}

STATUS StoreRecordPosition(body_load_state& state, record_storage* node) {
  auto* side = static_cast<position_side_data*>(UseSideData(node));
  side->offset = state.record_offset;
  side->item_number = CurrentItemNumber(state);
  return NOERROR;
}

STATUS StoreTableBegin(body_load_state& state, record_storage* node) {
  if (state.table_level < kMaxTableLevel)
    ++state.table_level;
  state.table_begin[state.table_level] = node;
  state.table_pretable[state.table_level] = state.pending_pretable;
  state.pending_pretable = nullptr;
  UseSideData(node);
  return NOERROR;
}

/* A cell points at its table and the pre-table record before it, and
 * widens the table's row and column counts to hold it. A cell outside any
 * table is kept as a plain CDTABLECELL. */
STATUS StoreTableCell(body_load_state& state, record_storage* node) {
  record_storage* table =
      state.table_level > 0 ? state.table_begin[state.table_level] : nullptr;
  if (table == nullptr) {
    node->signature = SIG_CD_TABLECELL;
    return NOERROR;
  }
  auto* side = static_cast<cell_side_data*>(UseSideData(node));
  side->pretable = state.table_pretable[state.table_level];
  side->table = table;
  auto* size = static_cast<table_side_data*>(table->SideData());
  if (size == nullptr || node->length <= offsetof(CDTABLECELL, Column))
    return NOERROR;
  const auto* bytes = reinterpret_cast<const BYTE*>(node->data);
  const WORD rows = static_cast<WORD>(bytes[offsetof(CDTABLECELL, Row)] + 1);
  const WORD columns = static_cast<WORD>(bytes[offsetof(CDTABLECELL, Column)] + 1);
  if (rows > size->rows)
    size->rows = rows;
  if (columns > size->columns)
    size->columns = columns;
  return NOERROR;
}

void StoreTableEnd(body_load_state& state) {
  if (state.table_level == 0)
    return;
  state.table_begin[state.table_level] = nullptr;
  state.table_pretable[state.table_level] = nullptr;
  state.pending_pretable = nullptr;
  --state.table_level;
}

STATUS StoreSideData(body_load_state& state, record_storage* node) {
  switch (node->signature) {
  case SIG_CD_TEXT:
    return StoreTextSideData(state, node);
  case SIG_CD_GRAPHIC:
    return StoreGraphicSideData(state, node);
  case SIG_CD_BITMAPHEADER:
    return StoreRecordPosition(state, node);
  case SIG_CD_PRETABLEBEGIN:
    state.pending_pretable = node;
    return NOERROR;
  case SIG_CD_TABLEBEGIN:
  case SIG_CD_NESTEDTABLEBEGIN:
    return StoreTableBegin(state, node);
  case SIG_CD_TABLECELL:
  case SIG_CD_NESTEDTABLECELL:
    return StoreTableCell(state, node);
  case SIG_CD_TABLEEND:
  case SIG_CD_NESTEDTABLEEND:
    StoreTableEnd(state);
    return NOERROR;
  default:
    return NOERROR;
  }
}

/* ---- nodes ---- */

/* Text envelopes (a CDBEGIN or CDEND around text) and colour records are
 * left out of the list with the skip-envelopes option. */
bool IsSkippedEnvelope(WORD signature, const char* host, DWORD length) {
  if (signature == SIG_CD_COLOR)
    return true;
  if (signature != SIG_CD_BEGIN && signature != SIG_CD_END)
    return false;
  static_assert(offsetof(CDBEGINRECORD, Signature) == offsetof(CDENDRECORD, Signature));
  if (length < sizeof(CDBEGINRECORD))
    return false;
  return ReadWord(host + offsetof(CDBEGINRECORD, Signature)) == SIG_CD_TEXT;
}

/* Whether the record keeps side data: tables, cells, image positions and,
 * with the entity or plain-text option, text. */
bool NeedsSideRoom(const body_load_state& state, WORD signature) {
  switch (signature) {
  case SIG_CD_TEXT:
    return state.entity_text || state.plain_text;
  case SIG_CD_GRAPHIC:
  case SIG_CD_BITMAPHEADER:
  case SIG_CD_TABLEBEGIN:
  case SIG_CD_NESTEDTABLEBEGIN:
  case SIG_CD_TABLECELL:
  case SIG_CD_NESTEDTABLECELL:
    return true;
  default:
    return false;
  }
}

/* A record the clean-up pass of text runs may change or remove: an empty
 * text run, a CDBEGIN of text, a pass-through HTML marker. */
bool MayNeedCleanup(const record_storage* node) {
  switch (node->signature) {
  case SIG_CD_TEXT:
    return node->length <= sizeof(CDTEXT);
  case SIG_CD_HTMLBEGIN:
  case SIG_CD_HTMLEND:
    return true;
  case SIG_CD_BEGIN:
    return node->length < sizeof(CDBEGINRECORD) ||
           ReadWord(node->data + offsetof(CDBEGINRECORD, Signature)) == SIG_CD_TEXT;
  default:
    return false;
  }
}

/* Keeps the definition when its PABID is the highest met so far (a later
 * one of the same PABID replaces an earlier one). */
void NoteDefinition(body_context* context, const record_storage* node) {
  constexpr DWORD kIdEnd = offsetof(CDPABDEFINITION, PABID) + sizeof(WORD);
  if (node->length < kIdEnd)
    return;
  const WORD id = ReadWord(node->data + offsetof(CDPABDEFINITION, PABID));
  if (context->highest_definition == nullptr || id >= context->highest_definition_id) {
    context->highest_definition = node;
    context->highest_definition_id = id;
  }
}

/* Keeps the node in a list of the load's records of its kind while there
 * is room; the count goes on. */
void NoteRecord(record_storage** list, DWORD* count, record_storage* node) {
  if (*count < body_context::kNotedRecords)
    list[*count] = node;
  ++*count;
}

/* A node for the record, linked behind the last one: its data is the
 * record where it lies (in place) or a copy behind the node. An odd length
 * gets one more 0 byte; in place that is the stored pad byte. */
STATUS AppendNode(body_load_state& state, WORD signature, char* host, DWORD length, bool inPlace,
                  record_storage** made) {
  const size_t dataRoom = inPlace ? 0 : EvenLength(static_cast<size_t>(length));
  record_storage* node =
      MakeArenaNode(state.session, state.context, signature, length, dataRoom,
                    NeedsSideRoom(state, signature), VELKO_HERE);
  if (node == nullptr)
    return OutOfMemory(state.last == nullptr ? "Out of memory at CDR4150"
                                             : "Out of memory at CDR4164");
  if (inPlace) {
    node->data = host;
    node->flags |= RECORD_IN_PLACE;
  } else {
    node->data = reinterpret_cast<char*>(node) + kArenaNodeSize;
    std::memcpy(node->data, host, length);
  }
  // The stored pad byte is 0 as a rule: written only when it is not, so
  // that pages of a value read in place stay untouched.
  if ((length & 1) && node->data[length] != '\0')
    node->data[length] = '\0';
  if (state.last == nullptr) {
    node->ordinal = 1;
    state.context->records = node;
  } else {
    node->ordinal = state.last->ordinal + 1;
    state.last->next = node;
    node->previous = state.last;
  }
  state.last = node;
  if (MayNeedCleanup(node))
    ++state.context->cleanup_candidates;
  if (node->signature == SIG_CD_PABDEFINITION) {
    NoteDefinition(state.context, node);
    NoteRecord(state.context->noted_definitions, &state.context->noted_definition_count, node);
  } else if (node->signature == SIG_CD_STYLENAME) {
    NoteRecord(state.context->noted_style_names, &state.context->noted_style_name_count, node);
  }
  *made = node;
  return NOERROR;
}

/* Keeps the stored record at data as a node with its side data: in place
 * when its stored form is its host form, else converted. */
STATUS StoreBodyRecords_OneCDRecord(char* data, WORD signature, DWORD length,
                                    body_load_state* state) {
  if (length > kLargestConvertedRecord)
    return RecordTooLong(*state, signature, length);
  const bool inPlace = !state->forms->Of(signature).converts;
  char* host = data;
  DWORD hostLength = length;
  if (!inPlace) {
    host = state->item->ConvertFromCanonicalData(data, signature, &hostLength);
    if (host == nullptr)
      return ConversionRefused(*state, signature, length);
    if (hostLength > kLargestConvertedRecord)
      return RecordTooLong(*state, signature, hostLength);
  }
  if (state->skip_envelopes && IsSkippedEnvelope(signature, host, hostLength)) {
    if (Tracing(state->session))
      AddInLogMessageText("SBR_1 - Step 3", 0);
    return NOERROR;
  }
  record_storage* node = nullptr;
  STATUS status = AppendNode(*state, signature, host, hostLength, inPlace, &node);
  if (status != NOERROR)
    return status;
  node->stored_length = static_cast<WORD>(length);
  body_item* current = state->current_item;
  if (current->first_ordinal == 0)
    current->first_ordinal = node->ordinal;
  current->last_ordinal = node->ordinal;
  return StoreSideData(*state, node);
}

/* ---- items ---- */

/* Walks the records of the current value copy from the cursor. */
STATUS WalkItemRecords(body_load_state& state) {
  body_context* context = state.context;
  while (context->remaining >= 2) {
    DWORD length = 0;
    WORD signature = 0;
    STATUS status = ReadStoredHeader(state, &length, &signature);
    if (status != NOERROR) {
      state.item_damaged = true;
      return status;
    }
    context->record_length = length;
    context->record_signature = signature;
    state.record_offset = CursorOffset(context);
    state.record_ends_item = context->remaining < EvenLength(length) + 2;
    if (Tracing(state.session))
      AddInLogMessageText("SBR - Step 35 (Oot): Remaining length=%ld record_length=%ld "
                          "record_type=%ld data_=%ld",
                          0, static_cast<long>(context->remaining), static_cast<long>(length),
                          static_cast<long>(signature), static_cast<long>(state.record_offset));
    status = StoreBodyRecords_OneCDRecord(context->cursor, signature, length, &state);
    if (status != NOERROR)
      return status;
    AdvancePastRecord(context, length);
  }
  return NOERROR;
}

body_item* NewBodyItem(LSXLsiSession* session, body_context* context) {
  void* piece = RecordArenaAllocate(session, &context->arena, VELKO_HERE, sizeof(body_item), 1);
  return piece != nullptr ? new (piece) body_item : nullptr;
}

void AppendBodyItem(body_context* context, body_item* item) {
  if (context->items_tail == nullptr)
    context->items = item;
  else
    context->items_tail->next = item;
  context->items_tail = item;
}

/* Appends the body_item of a value (valueLength bytes and a spare one
 * behind them) held in block, or the caller's when block is null, and
 * walks its records. */
STATUS WalkValue(body_load_state& state, velko_allocation* block, char* value,
                 DWORD valueLength, WORD number) {
  body_context* context = state.context;
  if (value[valueLength] != '\0') // written only when it must be: the value may be shared
    value[valueLength] = '\0';
  body_item* item = NewBodyItem(state.session, context);
  if (item == nullptr) {
    VelkoDeallocate(state.session, block);
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
  item->buffer = value;
  item->block = block;
  item->length = valueLength;
  item->item_number = number;
  item->first_ordinal = number == 0 ? 1 : 0;
  AppendBodyItem(context, item);
  state.current_item = item;

  const DWORD start = valueLength < kItemTypeWordSize ? valueLength : kItemTypeWordSize;
  context->value = value;
  context->cursor = value + start;
  context->remaining = valueLength - start;
  if (Tracing(state.session))
    AddInLogMessageText("SBR - Step 2: Remaining length=%ld", 0,
                        static_cast<long>(context->remaining));
  return WalkItemRecords(state);
}

/* Copies one stored item's value, appends its body_item and walks its
 * records. A later item that is not rich text is damaged data for the body. */
STATUS LoadStoredItem(body_load_state& state, WORD dataType, BLOCKID valueBid, DWORD valueLength,
                      WORD number) {
  body_context* context = state.context;
  context->value_bid = valueBid;
  context->value_length = valueLength;
  context->data_type = dataType;
  if (dataType != TYPE_COMPOSITE) {
    AddInLogMessageText("Rich text item %s number %u is not rich text: it was not loaded", 0,
                        ItemName(state), static_cast<unsigned>(number));
    state.item_damaged = true;
    if (NoteLoadStop(state, load_stop_kind::not_rich_text, 0, valueLength, 0))
      state.context->stop.item_number = number;
    return VELKO_ERR_FAILED;
  }
  // One byte more than the value: the pad byte of a last record of odd
  // length that the value leaves out, which records read in place need.
  velko_allocation* block = VelkoAllocate(state.session, VELKO_HERE,
                                          valueLength < 2 ? 2 : valueLength + 1, 0);
  if (block == nullptr) {
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
  const void* stored = OSLockBlock(valueBid);
  if (stored == nullptr) {
    VelkoDeallocate(state.session, block);
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
  std::memcpy(block->data, stored, valueLength);
  OSUnlockBlock(valueBid);
  return WalkValue(state, block, static_cast<char*>(block->data), valueLength, number);
}

/* The default CDTEXT header of the item: signature, length 8, FONTID. */
void DefaultTextHeader(const VelkoRTItem* item, char* header) {
  static_assert(sizeof(_internal_RTITEM::default_text_header) == sizeof(CDTEXT));
  const _internal_RTITEM* internal = item->internal;
  if (internal != nullptr && ReadWord(reinterpret_cast<const char*>(
                                 internal->default_text_header)) == SIG_CD_TEXT) {
    std::memcpy(header, internal->default_text_header, sizeof(CDTEXT));
    return;
  }
  const BYTE standard[sizeof(CDTEXT)] = {0x85, 0xFF, 8, 0, 1, 0, 0, 10}; /* face 1, 10 points */
  std::memcpy(header, standard, sizeof standard);
}

/* An item that is not rich text is read as text: one CDTEXT record, list
 * entries separated by ';'. Text too long to be written back as one record
 * is loaded for reading, and the body is reported incomplete. */
STATUS LoadTextItem(body_load_state& state, WORD dataType, DWORD valueLength) {
  body_context* context = state.context;
  context->data_type = dataType;
  context->value_length = valueLength;
  LSXLsiSession* session = state.session;
  const WORD textLength = NSFItemConvertToText(context->note, context->item_name,
                                               session->result_text, kLargestTextItem + 1, ';');
  const DWORD length = textLength + static_cast<DWORD>(sizeof(CDTEXT));

  body_item* item = NewBodyItem(session, context);
  if (item == nullptr) {
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
  item->length = length;
  item->first_ordinal = 1;
  item->last_ordinal = 1;
  AppendBodyItem(context, item);
  state.current_item = item;

  auto* record = static_cast<char*>(VelkoAllocatePtr(session, VELKO_HERE, length, 0));
  if (record == nullptr) {
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
  DefaultTextHeader(state.item, record);
  WriteWord(record + 2, static_cast<WORD>(length));
  std::memcpy(record + sizeof(CDTEXT), session->result_text, textLength);
  record_storage* node = nullptr;
  STATUS status = AppendNode(state, SIG_CD_TEXT, record, length, false, &node);
  VelkoDeallocatePtr(session, record);
  if (status != NOERROR)
    return status;
  if (length > kLargestConvertedRecord) {
    AddInLogMessageText("Item %s holds %lu bytes of text, more than one text record can hold: "
                        "it can be read but not written back",
                        0, ItemName(state), static_cast<unsigned long>(textLength));
    if (NoteLoadStop(state, load_stop_kind::long_text, 0, length, SIG_CD_TEXT))
      state.context->stop.ordinal = node->ordinal;
    return VELKO_ERR_FAILED;
  }
  return NOERROR;
}

/* Loads the first item of the name and every further one. A damaged first
 * item ends the load; a damaged later item ends only itself, and the body
 * is reported incomplete with the first such status. Other failures end
 * the load. */
STATUS LoadBody(body_load_state& state) {
  body_context* context = state.context;
  const char* name = context->item_name;
  const auto nameLength = static_cast<WORD>(std::strlen(name));
  BLOCKID itemBid = {};
  BLOCKID valueBid = {};
  WORD dataType = 0;
  DWORD valueLength = 0;
  STATUS status =
      NSFItemInfo(context->note, name, nameLength, &itemBid, &dataType, &valueBid, &valueLength);
  if (status == VELKO_ERR_ITEM_NOT_FOUND)
    return NOERROR;
  if (status != NOERROR)
    return status;
  context->item_bid = itemBid;
  if (dataType != TYPE_COMPOSITE)
    return LoadTextItem(state, dataType, valueLength);
  status = LoadStoredItem(state, dataType, valueBid, valueLength, 0);
  if (status != NOERROR)
    return status;

  STATUS damaged = NOERROR;
  for (WORD number = 1;; ++number) {
    context->previous_item_bid = context->item_bid;
    status = NSFItemInfoNext(context->note, context->previous_item_bid, name, nameLength,
                             &itemBid, &dataType, &valueBid, &valueLength);
    if (status == VELKO_ERR_ITEM_NOT_FOUND)
      return damaged;
    if (status != NOERROR)
      return status;
    context->item_bid = itemBid;
    state.item_damaged = false;
    status = LoadStoredItem(state, dataType, valueBid, valueLength, number);
    if (status == NOERROR)
      continue;
    if (!state.item_damaged)
      return status;
    if (damaged == NOERROR)
      damaged = status;
  }
}

/* Damage is kept where it is found. A failure that ends the load (memory
 * ran out, the host could not give the items) is kept where it happened,
 * in place of any damage an earlier item showed. */
void NoteWhatEndedLoad(body_load_state& state, STATUS status) {
  if (status == NOERROR)
    return;
  if (status == VELKO_ERR_FAILED && state.context->stop.kind != load_stop_kind::none)
    return;
  state.context->stop = load_stop{};
  load_stop_kind kind = load_stop_kind::unreadable;
  if (status == VELKO_ERR_MEMORY)
    kind = load_stop_kind::out_of_memory;
  else if (status == VELKO_ERR_FAILED)
    kind = load_stop_kind::damaged;
  const bool walking = state.current_item != nullptr && state.context->value != nullptr;
  NoteLoadStop(state, kind, walking ? CursorOffset(state.context) : 0, 0, 0);
}

bool IsItemsOwnBody(const VelkoRTItem* item, const body_context* context) {
  return item->note != NULLHANDLE && context->note == item->note && item->item_name != nullptr &&
         context->item_name != nullptr && strcasecmp(item->item_name, context->item_name) == 0;
}

} // namespace

STATUS StoreBodyRecords(VelkoRTItem* item, int skipEnvelopes, int reserved, int plainText,
                        int entityText, body_context* context) {
  if (item == nullptr || context == nullptr || item->session == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  STATUS status = VELKO_ERR_BAD_ARGUMENT;
  context->stop = load_stop{};
  if (context->note != NULLHANDLE && context->item_name != nullptr &&
      context->records == nullptr && context->items == nullptr) {
    body_load_state state;
    state.session = item->session;
    state.item = item;
    state.skip_envelopes = skipEnvelopes;
    state.reserved = reserved;
    state.plain_text = plainText;
    state.entity_text = entityText;
    state.context = context;
    context->cleanup_candidates = 0;
    context->highest_definition = nullptr;
    context->highest_definition_id = 0;
    context->noted_definition_count = 0;
    context->noted_style_name_count = 0;
    status = LoadBody(state);
    context->loaded_last = state.last;
    if (state.unicode != nullptr) // releasing: a failure leaves nothing to undo
      static_cast<void>(NLS_unload_charset(state.unicode));
    NoteWhatEndedLoad(state, status);
  }
  context->load_status = status;
  if (item->internal != nullptr && IsItemsOwnBody(item, context))
    item->internal->incomplete_load = status;
  return status;
}

namespace {

/* Makes the value the connected item's input body. */
STATUS LoadValueAsBody(VelkoRTItem* item, velko_allocation* block, char* value, DWORD length) {
  _internal_RTITEM* internal = item->internal;
  if (internal->input != nullptr) {
    CleanupBodyContext(item->session, internal->input);
    delete internal->input;
    internal->input = nullptr;
  }
  body_context* context = NewObject<body_context>();
  if (context == nullptr) {
    VelkoDeallocate(item->session, block);
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
  context->note = item->note;
  context->item_name = item->item_name;
  context->value_length = length;
  context->data_type = TYPE_COMPOSITE;
  body_load_state state;
  state.session = item->session;
  state.item = item;
  state.context = context;
  const STATUS status = WalkValue(state, block, value, length, 0);
  context->loaded_last = state.last;
  NoteWhatEndedLoad(state, status);
  context->load_status = status;
  internal->incomplete_load = status;
  internal->input = context;
  return status;
}

bool CanTakeValue(const VelkoRTItem* item) {
  return item != nullptr && item->internal != nullptr && item->session != nullptr &&
         item->note != NULLHANDLE && item->item_name != nullptr;
}

} // namespace

STATUS StoreBodyValue(VelkoRTItem* item, velko_allocation* block, DWORD length) {
  if (!CanTakeValue(item) || block == nullptr || block->data == nullptr || block->size <= length) {
    if (item != nullptr && item->session != nullptr)
      VelkoDeallocate(item->session, block);
    return VELKO_ERR_BAD_ARGUMENT;
  }
  return LoadValueAsBody(item, block, static_cast<char*>(block->data), length);
}

STATUS StoreBodyValueAt(VelkoRTItem* item, char* value, DWORD length) {
  if (!CanTakeValue(item) || value == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  return LoadValueAsBody(item, nullptr, value, length);
}

void DescribeLoadStop(const body_context* context, const char* place, char* text, size_t size) {
  if (text == nullptr || size == 0)
    return;
  text[0] = '\0';
  if (context == nullptr)
    return;
  const load_stop& stop = context->stop;
  const unsigned long ordinal = stop.ordinal;
  const unsigned long length = stop.length;
  if (place == nullptr)
    place = "";
  switch (stop.kind) {
  case load_stop_kind::none:
    break;
  case load_stop_kind::damaged:
    std::snprintf(text, size, "record %lu%s is damaged", ordinal, place);
    break;
  case load_stop_kind::too_long:
    std::snprintf(text, size, "record %lu%s is %lu bytes, longer than the limit of %lu bytes",
                  ordinal, place, length, static_cast<unsigned long>(kLargestConvertedRecord));
    break;
  case load_stop_kind::not_converted:
    std::snprintf(text, size, "record %lu%s cannot be converted", ordinal, place);
    break;
  case load_stop_kind::not_rich_text:
    std::snprintf(text, size, "stored item %u is not rich text",
                  static_cast<unsigned>(stop.item_number));
    break;
  case load_stop_kind::long_text:
    std::snprintf(text, size, "the item's text is %lu bytes, more than one text record can hold",
                  length - static_cast<unsigned long>(sizeof(CDTEXT)));
    break;
  case load_stop_kind::out_of_memory:
    std::snprintf(text, size, "memory ran out loading record %lu%s", ordinal, place);
    break;
  case load_stop_kind::unreadable:
    std::snprintf(text, size, "the stored items cannot be read");
    break;
  }
}

body_context* ItemBody(VelkoRTItem* item) {
  if (item == nullptr || item->internal == nullptr)
    return nullptr;
  _internal_RTITEM* internal = item->internal;
  if (internal->input == nullptr && internal->state != kItemStateInMemory)
    internal->input = StoreItemsAndRecords(item, 0, static_cast<int>(internal->option_word),
                                           nullptr, 0, 0, NULLHANDLE, nullptr);
  return internal->input;
}

body_context* StoreItemsAndRecords(VelkoRTItem* item, int skipEnvelopes, int reserved,
                                   body_context* context, int plainText, int entityText,
                                   NOTEHANDLE note, const char* name) {
  if (Tracing(item != nullptr ? item->session : nullptr))
    AddInLogMessageText("SIAR - IN", 0);
  if (item == nullptr)
    return nullptr;
  if (note == NULLHANDLE) {
    note = item->note;
    name = item->item_name;
  }
  if (note == NULLHANDLE || name == nullptr || name[0] == '\0')
    return nullptr;
  if (Tracing(item->session))
    AddInLogMessageText("SIAR - Step 1", 0);

  if (context == nullptr) {
    context = NewObject<body_context>();
    if (context == nullptr) {
      LogOutOfMemory(VELKO_HERE);
      return nullptr;
    }
  } else {
    CleanupBodyContext(item->session, context);
    *context = body_context{};
  }
  context->note = note;
  context->item_name = name;
  if (Tracing(item->session))
    AddInLogMessageText("SIAR - Step 2", 0);

  if (Tracing(item->session))
    AddInLogMessageText("SIAR - Step 3", 0);
  // A load that stops early keeps its status in the item's incomplete_load,
  // where every writer of the item finds it.
  static_cast<void>(
      StoreBodyRecords(item, skipEnvelopes, reserved, plainText, entityText, context));
  if (Tracing(item->session)) {
    AddInLogMessageText("SIAR - Step 4", 0);
    AddInLogMessageText("SIAR - OUT", 0);
  }
  return context;
}

/* ---- release ---- */

void FreeRecordStorage(LSXLsiSession* session, record_storage* node) {
  if (node == nullptr)
    return;
  const bool inArena = (node->flags & RECORD_IN_ARENA) != 0;
  if ((node->flags & RECORD_OWNS_DATA) && node->data != nullptr)
    VelkoDeallocatePtr(session, node->data);
  if (inArena)
    node->~record_storage();
  else
    delete node;
}

namespace {

bool PointsInto(const char* pointer, const velko_allocation* block) {
  if (pointer == nullptr || block->data == nullptr)
    return false;
  const char* start = static_cast<const char*>(block->data);
  return pointer >= start && pointer <= start + block->size;
}

} // namespace

void ReleaseItemsRecords(LSXLsiSession* session, body_context* context) {
  if (context == nullptr)
    return;
  // The nodes of a list, their side data and any data they were given
  // lie in the context's arena and go with it, so the list is not walked.
#ifndef NDEBUG
  for (const record_storage* node = context->records; node != nullptr; node = node->next)
    assert((node->flags & (RECORD_IN_ARENA | RECORD_OWNS_DATA)) == RECORD_IN_ARENA);
#endif
  context->records = nullptr;
  context->last_written = nullptr;
  context->loaded_last = nullptr;
  while (body_item* item = context->items) {
    context->items = item->next;
    if (item->block != nullptr) {
      if (PointsInto(context->value, item->block)) {
        context->value = nullptr;
        context->cursor = nullptr;
      }
      VelkoDeallocate(session, item->block);
    }
    item->~body_item();
  }
  context->items_tail = nullptr;
  while (body_item* item = context->retained) {
    context->retained = item->next;
    VelkoDeallocate(session, item->block);
    item->~body_item();
  }
  ReleaseRecordArena(session, &context->arena);
}

void MoveBodyMemory(body_context* to, body_context* from) {
  if (to == nullptr || from == nullptr || to == from)
    return;
  MoveRecordArena(&to->arena, &from->arena);
  for (body_item** list : {&from->items, &from->retained}) {
    while (body_item* item = *list) {
      *list = item->next;
      if (item->block != nullptr && PointsInto(from->value, item->block)) {
        from->value = nullptr;
        from->cursor = nullptr;
      }
      item->next = to->retained;
      to->retained = item;
    }
  }
  from->items_tail = nullptr;
  from->records = nullptr;
  from->last_written = nullptr;
  from->loaded_last = nullptr;
}

void CleanupBodyContext(LSXLsiSession* session, body_context* context) {
  if (context == nullptr)
    return;
  ReleaseItemsRecords(session, context);
  if (context->value != nullptr)
    VelkoDeallocatePtr(session, context->value);
  context->value = nullptr;
  context->cursor = nullptr;
}

void DeleteBodyContext(LSXLsiSession* session, body_context*& context) {
  if (context == nullptr)
    return;
  CleanupBodyContext(session, context);
  delete context;
  context = nullptr;
}

/* ---- image offsets ---- */

namespace {

/* The record's length in stored form: as read, or, for a record made in
 * memory, by the item's canonical and host sizes of its fixed part. */
DWORD StoredLength(VelkoRTItem* item, const record_storage* node) {
  if (node->stored_length != 0 || item == nullptr)
    return node->stored_length != 0 ? node->stored_length : node->length;
  const auto length = static_cast<WORD>(node->length);
  const WORD host = item->NonCanonicalLength(node->signature, length);
  const WORD canonical = item->CanonicalLength(node->signature, length);
  if (node->length < host)
    return node->length;
  return node->length - host + canonical;
}

} // namespace

WORD CalculateImageOffsetWord(VelkoRTItem* item, body_item* current, record_storage* graphic) {
  if (graphic == nullptr)
    return 0;
  const DWORD first = current != nullptr ? current->first_ordinal : 0;
  DWORD offset = kItemTypeWordSize;
  for (const record_storage* node = graphic; node != nullptr; node = node->previous) {
    offset += EvenLength(StoredLength(item, node));
    if (node->ordinal <= first)
      break;
  }
  return offset > 0xFFFF ? 0xFFFF : static_cast<WORD>(offset);
}
