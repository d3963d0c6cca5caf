/*
 * The record emitter (CopyCDUpdated) and the small record builders that
 * feed it.
 *
 * A record whose fields matter is copied into the session's scratch area
 * and fixed up there: paragraph ids are assigned, definitions inside table
 * cells are fitted to the cell, cell rows are renumbered and borders
 * matched, and the nesting of tables and hotspots is followed so that a
 * record that would make an invalid body is refused (status 1027, error
 * word 20025) before anything of it reaches the body. The fixed-up copy, or
 * the record itself when nothing in it needs fixing, becomes a node of the
 * item's output record list. Held-back paragraph definitions and the paragraph
 * break that a table needs before it are emitted as nodes of their own and
 * also copied into the current body buffer.
 *
 * The lane appends runs of unchanged records of the body being rebuilt
 * with only the steps CopyCDUpdated would take for them, while the
 * context's state lets every record of its kinds pass unchanged.
 *
 * Not here: the output body's items (store/body_builder.cpp) and the
 * text-envelope builders, which belong to the engine.
 */
#include "store/emitter.h"

#include <cassert>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <new>

#include "host/oslog.h"
#include "host/osenv.h"
#include "store/body.h"
#include "store/messages.h"
#include "store/owned_text.h"
#include "store/rtitem_internal.h"
#include "store/services.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "velko/status.h"

namespace {

/* Bytes zeroed behind the record in the scratch area, so that the fixed
 * fields of a record shorter than its layout read as 0. */
constexpr DWORD kScratchTail = 128;
static_assert(kLargestEmittedRecord + kScratchTail <= kEmitterScratchSize);
/* The largest layout whose fields the fix-ups read or write: bytes behind
 * a shorter record up to this size are what the zeroed tail must cover. */
constexpr DWORD kLargestFixedLayout = [] {
  DWORD largest = 0;
  for (const size_t size :
       {sizeof(CDPABREFERENCE), sizeof(CDPABDEFINITION), sizeof(CDTABLEBEGIN),
        sizeof(CDTABLECELL), sizeof(CDHOTSPOTBEGIN), sizeof(CDRESOURCE), sizeof(CDBEGINRECORD),
        sizeof(CDENDRECORD)})
    largest = size > largest ? static_cast<DWORD>(size) : largest;
  return largest;
}();
static_assert(kLargestFixedLayout <= kScratchTail);

/* A text record without text, and the longest one that counts as empty. */
constexpr DWORD kEmptyTextLength = sizeof(CDTEXT);

/* Table cell flags: borders in the V4.2 word; the cell has column flags. */
constexpr BYTE kCellV42Border = 0x02;
constexpr BYTE kCellColumnFlags = 0x04 | 0x08;
/* Border fields, from the low bits up left, right, top, bottom: 2 bits
 * each in the border byte, 4 bits each in the V4.2 border word. */
constexpr int kTopShiftByte = 4;
constexpr int kBottomShiftByte = 6;
constexpr BYTE kSideMaskByte = 0x03;
constexpr int kTopShiftWord = 8;
constexpr int kBottomShiftWord = 12;
constexpr WORD kSideMaskWord = 0x0F;

/* Hotspot types the emitter follows. */
constexpr WORD kHotspotFile = 4;
constexpr WORD kHotspotType11 = 11;
constexpr WORD kHotspotLink = 12;
constexpr WORD kHotspotLinkBits = 0x000D;
/* Resource types (CDRESOURCE Type) that count as a hotspot kind. */
constexpr WORD kResourceURL = 1;
constexpr WORD kResourceNoteLink = 2;

constexpr WORD kQuilEditTraceLevel = 2;

/* ---- field access in host form ---- */

WORD ReadWord(const BYTE* at) {
  WORD value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

void WriteWord(BYTE* at, WORD value) { std::memcpy(at, &value, sizeof value); }

/* The signature a CDBEGIN or CDEND brackets. */
WORD BracketedSignature(const BYTE* data) {
  static_assert(offsetof(CDBEGINRECORD, Signature) == offsetof(CDENDRECORD, Signature));
  return ReadWord(data + offsetof(CDBEGINRECORD, Signature));
}

bool IsTextBracket(WORD signature, const BYTE* data) {
  return (signature == SIG_CD_BEGIN || signature == SIG_CD_END) &&
         BracketedSignature(data) == SIG_CD_TEXT;
}

/* Sets a record's BSIG header. */
void SetByteHeader(BYTE* data, WORD signature, DWORD length) {
  data[0] = static_cast<BYTE>(signature);
  data[1] = static_cast<BYTE>(length);
}

/* ---- the context ---- */

emitter_table_level& CurrentLevel(generation_context* context) {
  assert(context->table_level <= kEmitterMaxTableLevel);
  return context->levels[context->table_level];
}

constexpr const char* kColumnOutOfRangeMessage =
    "TARNO: Table cell in column 64 or beyond.  Operation failed!";
constexpr const char* kRecordTooLargeMessage =
    "TARNO: Record longer than 64382 bytes.  Operation failed!";
constexpr const char* kParagraphIdPastLargestMessage =
    "TARNO: Paragraph id past 65535.  Operation failed!";
static_assert(kEmitterColumns == 64 && kLargestEmittedRecord == 64382,
              "the refusal messages name these limits");

STATUS FormatError(generation_context* context, const char* message) {
  ShowUserMessage(message);
  context->error_word = VELKO_ERR_BAD_STRUCTURE;
  return VELKO_ERR_INVALID_SEQUENCE;
}

/* The record being emitted: its fixed-up copy in the scratch area, and what
 * has to be emitted before it once it is accepted. */
struct emitted_record {
  BYTE* data;
  WORD signature;
  DWORD length;
  int saved_definition = -1;   /* index in the session's saved list */
  bool paragraph_break = false; /* a CDPARAGRAPH before a table begin */
  /* The scratch copy is of the lasting record, of this length: when the
   * fix-ups leave its bytes and length as they were, the node points at
   * the lasting record instead of holding a copy. */
  bool unchanged_lasting = false;
  DWORD original_length = 0;
};

/* True when the fixed-up scratch copy holds the lasting record's bytes. */
bool IsUnchanged(const generation_context* context, const emitted_record& record) {
  return record.length == record.original_length &&
         std::memcmp(record.data, context->lasting_record, record.length) == 0;
}

/* ---- saved paragraph definitions ---- */

/* The length of a saved entry when it is a definition the emitter can
 * write, else 0. */
DWORD SavedDefinitionLength(const char* entry) {
  if (entry == nullptr)
    return 0;
  const auto* bytes = reinterpret_cast<const BYTE*>(entry);
  const DWORD length = ReadWord(bytes + offsetof(WSIG, Length));
  if (ReadWord(bytes) != SIG_CD_PABDEFINITION)
    return 0;
  if (length < offsetof(CDPABDEFINITION, PABID) + sizeof(WORD) || length > kLargestEmittedRecord)
    return 0;
  return length;
}

WORD SavedDefinitionId(const char* entry) {
  return ReadWord(reinterpret_cast<const BYTE*>(entry) + offsetof(CDPABDEFINITION, PABID));
}

int FindSavedDefinition(const _internal_SESS* state, WORD id) {
  for (int index = 0; index < static_cast<int>(state->saved_definition_count); ++index) {
    const char* entry = state->saved_definitions[index];
    if (SavedDefinitionLength(entry) != 0 && SavedDefinitionId(entry) == id)
      return index;
  }
  return -1;
}

/* Frees the entry; those behind it move down and trailing empty entries
 * leave the count. */
void RemoveSavedDefinition(LSXLsiSession* session, int index) {
  _internal_SESS* state = session->internal;
  VelkoDeallocatePtr(session, state->saved_definitions[index]);
  const int count = static_cast<int>(state->saved_definition_count);
  for (int at = index; at + 1 < count; ++at)
    state->saved_definitions[at] = state->saved_definitions[at + 1];
  state->saved_definitions[count - 1] = nullptr;
  int remaining = count - 1;
  while (remaining > 0 && state->saved_definitions[remaining - 1] == nullptr)
    --remaining;
  state->saved_definition_count = static_cast<DWORD>(remaining);
}

void RemoveSavedDefinitions(LSXLsiSession* session, WORD id) {
  for (int index = FindSavedDefinition(session->internal, id); index >= 0;
       index = FindSavedDefinition(session->internal, id))
    RemoveSavedDefinition(session, index);
}

/* ---- the output list and the body buffer ---- */

/* The last node of the list, found from the one last written (or the head)
 * so that nodes linked in by others are not passed over. */
record_storage* LastOutputNode(body_context* output) {
  record_storage* node = output->last_written != nullptr ? output->last_written : output->records;
  if (node == nullptr)
    return nullptr;
  while (node->next != nullptr)
    node = node->next;
  output->last_written = node;
  return node;
}

/* Appends a node of the record to the output list: pointing at the record
 * when it is the lasting record (or, with `lasting`, a record of the same
 * bytes that the lasting record is), else holding a copy. */
STATUS AppendOutputNode(generation_context* context, body_context* output, WORD signature,
                        const void* data, DWORD length, bool lasting = false,
                        const void* rest = nullptr, DWORD restAt = 0) {
  LSXLsiSession* session = SessionOf(context);
  if (lasting)
    data = context->lasting_record;
  else
    lasting = data == context->lasting_record;
  record_storage* node =
      lasting ? NewArenaRecordAt(session, output, signature,
                                 static_cast<char*>(const_cast<void*>(data)), length, VELKO_HERE)
              : NewArenaRecord(session, output, signature, length, VELKO_HERE);
  if (node == nullptr) {
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
  if (rest != nullptr) { // the record in two parts: data up to restAt, then rest
    std::memcpy(node->data, data, restAt);
    std::memcpy(node->data + restAt, rest, length - restAt);
  } else if (!lasting) {
    std::memcpy(node->data, data, length);
  }
  if (session->internal->marker_switch != 0)
    node->flags |= RECORD_MATCH_MARKER;
  record_storage* last = LastOutputNode(output);
  if (last == nullptr) {
    node->ordinal = 1;
    output->records = node;
  } else {
    node->ordinal = last->ordinal + 1;
    last->InsertRecordAfter(node);
  }
  output->last_written = node;
  return NOERROR;
}

STATUS StartNextBodyItem(generation_context* context) {
  if (STATUS status = StoreBodyItem(context); status != NOERROR)
    return status;
  return CreateBodyItem(context);
}

/* Copies a record into the current body buffer (one 0 byte after an odd
 * length), starting a further body item when it would not fit. */
STATUS WriteToBodyBuffer(generation_context* context, const void* data, DWORD length) {
  const DWORD padded = EvenLength(length);
  STATUS status = NOERROR;
  if (context->write_start == nullptr)
    status = CreateBodyItem(context);
  else if (static_cast<DWORD>(context->write_position - context->write_start) + padded >
           context->capacity)
    status = StartNextBodyItem(context);
  if (status != NOERROR)
    return status;
  if (padded > context->capacity)
    return VELKO_ERR_INVALID_SEQUENCE;
  std::memcpy(context->write_position, data, length);
  if (length & 1)
    context->write_position[length] = '\0';
  context->write_position += padded;
  return NOERROR;
}

/* True when the record would pass the margin at the end of the current
 * body buffer and the current body item already holds something; a further
 * item for an empty one would only leave an item without records whose
 * ordinals belong to the next. */
bool NeedsFurtherBodyItem(const generation_context* context, const body_context* output,
                          DWORD length) {
  if (context->write_start == nullptr)
    return false;
  const auto used = static_cast<DWORD>(context->write_position - context->write_start);
  if (used + length <= context->capacity - kBodyBufferMargin)
    return false;
  const body_item* current = output->items_tail;
  const record_storage* last = output->last_written;
  const bool holdsRecords =
      current != nullptr && last != nullptr && last->ordinal >= current->first_ordinal;
  return used > 0 || holdsRecords;
}

/* A record the emitter adds of its own: into the buffer and the list. When
 * no node can be had the buffer gives the bytes back. */
STATUS EmitAside(generation_context* context, body_context* output, WORD signature,
                 const void* data, DWORD length) {
  if (STATUS status = WriteToBodyBuffer(context, data, length); status != NOERROR)
    return status;
  const STATUS status = AppendOutputNode(context, output, signature, data, length);
  if (status != NOERROR)
    context->write_position -= EvenLength(length);
  return status;
}

/* The paragraph break before a table and the held-back definition of a
 * reference, once the record that needs them is accepted. The definition
 * leaves the saved list only when it reached the body. */
STATUS EmitPending(generation_context* context, body_context* output,
                   const emitted_record& record) {
  if (record.paragraph_break) {
    CDPARAGRAPH paragraph = {};
    SetByteHeader(reinterpret_cast<BYTE*>(&paragraph), SIG_CD_PARAGRAPH, sizeof paragraph);
    STATUS status =
        EmitAside(context, output, SIG_CD_PARAGRAPH, &paragraph, sizeof paragraph);
    if (status != NOERROR)
      return status;
    SessionOf(context)->internal->previous_record_type = SIG_CD_PARAGRAPH;
    context->after_table = 0;
  }
  if (record.saved_definition < 0)
    return NOERROR;
  LSXLsiSession* session = SessionOf(context);
  const char* entry = session->internal->saved_definitions[record.saved_definition];
  STATUS status = EmitAside(context, output, SIG_CD_PABDEFINITION, entry,
                            SavedDefinitionLength(entry));
  if (status != NOERROR)
    return status;
  RemoveSavedDefinition(session, record.saved_definition);
  return NOERROR;
}

/* ---- drops, restart and reference merging ---- */

bool IsDropped(const generation_context* context, const emitted_record& record) {
  const _internal_RTITEM* internal = context->item->internal;
  const WORD signature = record.signature;
  if (signature == SIG_CD_TEXT && record.length <= kEmptyTextLength &&
      context->text_state == TEXT_STATE_EMPTY_TEXT)
    return true;
  if (signature == SIG_CD_LARGEPARAGRAPH && internal->option_word != 0)
    return true;
  if (internal->image_data == 0)
    return false;
  switch (signature) {
  case SIG_CD_PABREFERENCE:
  case SIG_CD_PABDEFINITION:
  case SIG_CD_TEXT:
  case SIG_CD_TEXTEFFECT:
    return true;
  default:
    return IsTextBracket(signature, record.data);
  }
}

void MarkBodyForRestart(body_context* output) {
  if (OSGetEnvironmentLong("QuilEditDebug") > kQuilEditTraceLevel)
    AddInLogMessageText("Restarting Body field", 0);
  for (record_storage* node = LastOutputNode(output); node != nullptr; node = node->previous)
    node->flags |= RECORD_RESTART_MARK;
}

/* The id a reference carries: a forced id (which also clears the next
 * one), else the next id, else its own, else the current id (1 at least). */
WORD ResolveReferenceId(generation_context* context, WORD id) {
  if (context->forced_pabid != 0) {
    id = context->forced_pabid;
    context->forced_pabid = 0;
    context->next_pabid = 0;
    return id;
  }
  if (context->next_pabid != 0) {
    id = context->next_pabid;
    context->next_pabid = 0;
    return id;
  }
  if (id != 0)
    return id;
  if (context->current_pabid == 0)
    context->current_pabid = 1;
  return context->current_pabid;
}

/* A reference right behind another one is folded into it: the last one
 * takes the new id. True when the record was folded. Outside pass-through
 * the new id is resolved first, so that a forced, next or current id is
 * what the body carries; a reference whose held-back definition must come
 * first is not folded. */
bool FoldReference(generation_context* context, body_context* output, emitted_record& record) {
  BYTE* id = record.data + offsetof(CDPABREFERENCE, PABID);
  if (context->pass_through == 0)
    WriteWord(id, ResolveReferenceId(context, ReadWord(id)));
  record_storage* last = LastOutputNode(output);
  if (last == nullptr || last->signature != SIG_CD_PABREFERENCE ||
      last->length < sizeof(CDPABREFERENCE))
    return false;
  const WORD newId = ReadWord(id);
  if (context->pass_through == 0 && FindSavedDefinition(SessionOf(context)->internal, newId) >= 0)
    return false;
  auto* lastId = reinterpret_cast<BYTE*>(last->data) + offsetof(CDPABREFERENCE, PABID);
  if (ReadWord(lastId) != newId)
    WriteWord(lastId, newId);
  emitter_table_level& level = CurrentLevel(context);
  if (context->pass_through == 0 && level.open != 0)
    level.last_reference_pabid = newId;
  return true;
}

/* ---- fix-ups by signature ---- */

void FixReference(generation_context* context, emitted_record& record) {
  const WORD id = ReadWord(record.data + offsetof(CDPABREFERENCE, PABID));
  emitter_table_level& level = CurrentLevel(context);
  if (level.open != 0)
    level.last_reference_pabid = id;
  record.length = sizeof(CDPABREFERENCE);
  SetByteHeader(record.data, SIG_CD_PABREFERENCE, record.length);
  record.saved_definition = FindSavedDefinition(SessionOf(context)->internal, id);
}

void NoteColumnUsed(emitter_table_level& level, WORD column) {
  if (column >= level.columns_used)
    level.columns_used = static_cast<WORD>(column + 1);
}

WORD Raised(WORD value, WORD bound, bool exact) { return exact || value < bound ? bound : value; }
WORD Lowered(WORD value, WORD bound, bool exact) { return exact || value > bound ? bound : value; }

/* Margins of a definition inside an open table level: fitted to the cell
 * unless the context keeps margins and the table does not fit exactly. */
void FitDefinitionToCell(const generation_context* context, const emitter_table_level& level,
                         BYTE* data) {
  if (level.open == 0 || (context->keep_margins != 0 && level.exact_fit == 0))
    return;
  const bool exact = level.exact_fit != 0;
  if (level.column_flags == 0 && level.spanned_cell == 0) {
    const auto left = static_cast<WORD>(level.base_position + level.cell_offset);
    for (size_t field : {offsetof(CDPABDEFINITION, LeftMargin),
                         offsetof(CDPABDEFINITION, FirstLineLeftMargin)})
      WriteWord(data + field, Raised(ReadWord(data + field), left, exact));
  }
  if (level.column_flags == 0) {
    const int edge = static_cast<int>(level.cell_right) - level.base_position;
    const WORD right = static_cast<WORD>(edge > 0 ? edge : 0);
    const size_t field = offsetof(CDPABDEFINITION, RightMargin);
    WriteWord(data + field, Lowered(ReadWord(data + field), right, exact));
  }
  const size_t flags = offsetof(CDPABDEFINITION, Flags);
  WriteWord(data + flags, static_cast<WORD>(ReadWord(data + flags) | kCellDefinitionFlags));
}

STATUS FixDefinition(generation_context* context, emitted_record& record) {
  BYTE* data = record.data;
  WORD id = ReadWord(data + offsetof(CDPABDEFINITION, PABID));
  if (context->forced_pabid != 0) {
    id = context->forced_pabid;
    context->forced_pabid = 0;
  } else if (id == 0) {
    // The id after 65535 would wrap to 0, which names no definition.
    if (context->current_pabid == 0xFFFF)
      return RefuseParagraphIdPastLargest(context);
    id = static_cast<WORD>(context->current_pabid + 1);
  }
  WriteWord(data + offsetof(CDPABDEFINITION, PABID), id);
  emitter_table_level& level = CurrentLevel(context);
  FitDefinitionToCell(context, level, data);
  context->current_pabid = id;
  if (level.cell_paragraph != 0 && level.row == 0 && level.column < kEmitterColumns) {
    NoteColumnUsed(level, level.column);
    emitter_column& column = level.columns[level.column];
    const DWORD kept = record.length < kParagraphCopySize ? record.length : kParagraphCopySize;
    std::memset(column.definition, 0, sizeof column.definition);
    std::memcpy(column.definition, data, kept);
    column.definition_length = static_cast<WORD>(kept);
  }
  level.cell_paragraph = 0;
  RemoveSavedDefinitions(SessionOf(context), id);
  return NOERROR;
}

void FixTableBegin(generation_context* context, emitted_record& record) {
  emitter_table_level& level = CurrentLevel(context);
  std::memcpy(level.saved_paragraph, context->paragraph_copy, sizeof level.saved_paragraph);
  level.saved_paragraph_word = context->paragraph_word;
  level.open = 1;
  level.awaiting_first_cell = 1;
  level.cell_counter = 0;
  level.saved_pabid = context->current_pabid;
  level.base_position = ReadWord(record.data + offsetof(CDTABLEBEGIN, HorizInterCellSpace));
  record.length = sizeof(CDTABLEBEGIN);
  SetByteHeader(record.data, record.signature, record.length);
  switch (SessionOf(context)->internal->previous_record_type) {
  case SIG_CD_PARAGRAPH:
  case SIG_CD_END:
  case SIG_CD_PRETABLEBEGIN:
    break;
  default:
    record.paragraph_break = true;
  }
}

/* The cell's top border takes the bottom border remembered for its column
 * from the cell above; its own bottom border is remembered. */
void MatchBorders(generation_context* context, const emitter_table_level& level, BYTE* data) {
  const WORD column = level.column;
  const BYTE above = context->bottom_borders[column];
  BYTE bottom;
  if (data[offsetof(CDTABLECELL, Flags)] & kCellV42Border) {
    const size_t field = offsetof(CDTABLECELL, V42Border);
    WORD border = ReadWord(data + field);
    bottom = static_cast<BYTE>((border >> kBottomShiftWord) & kSideMaskWord);
    const auto top = static_cast<BYTE>((border >> kTopShiftWord) & kSideMaskWord);
    if (level.row != 0 && top != above) {
      border = static_cast<WORD>((border & ~(kSideMaskWord << kTopShiftWord)) |
                                 ((above & kSideMaskWord) << kTopShiftWord));
      WriteWord(data + field, border);
    }
  } else {
    BYTE& border = data[offsetof(CDTABLECELL, BorderWidths)];
    bottom = static_cast<BYTE>((border >> kBottomShiftByte) & kSideMaskByte);
    const auto top = static_cast<BYTE>((border >> kTopShiftByte) & kSideMaskByte);
    const BYTE wanted = above > kSideMaskByte ? kSideMaskByte : above;
    if (level.row != 0 && top != wanted)
      border = static_cast<BYTE>((border & ~(kSideMaskByte << kTopShiftByte)) |
                                 (wanted << kTopShiftByte));
  }
  context->bottom_borders[column] = bottom;
}

/* The row counter a cell of the column leaves in the table level: once
 * the first cell was met, a further row begins at any column not past the
 * one before, column 0 among them (also a row whose first columns are
 * gone). */
WORD CellRowCounter(const emitter_table_level& level, BYTE column) {
  return level.awaiting_first_cell == 0 && column <= level.column
             ? static_cast<WORD>(level.cell_counter + 1)
             : level.cell_counter;
}

/* The table level's state at a cell (column below kEmitterColumns) of the
 * record bytes, which its row counter is already written into. */
void EnterCell(emitter_table_level& level, const BYTE* data, BYTE column);

STATUS FixTableCell(generation_context* context, emitted_record& record) {
  emitter_table_level& level = CurrentLevel(context);
  BYTE* data = record.data;
  if (record.signature == SIG_CD_TABLECELL && level.open == 0)
    return FormatError(context, "TARNO: Table cell outside of table.  Operation failed!");
  const BYTE column = data[offsetof(CDTABLECELL, Column)];
  if (column >= kEmitterColumns)
    return FormatError(context, kColumnOutOfRangeMessage);
  level.cell_counter = CellRowCounter(level, column);
  data[offsetof(CDTABLECELL, Row)] = static_cast<BYTE>(level.cell_counter);
  EnterCell(level, data, column);
  record.length = sizeof(CDTABLECELL);
  SetByteHeader(data, record.signature, record.length);
  if (context->match_borders != 0 && column < kBorderColumns)
    MatchBorders(context, level, data);
  return NOERROR;
}

void EnterCell(emitter_table_level& level, const BYTE* data, BYTE column) {
  level.column = column;
  level.row = level.cell_counter;
  level.column_flags = (data[offsetof(CDTABLECELL, Flags)] & kCellColumnFlags) != 0 ? 1 : 0;
  level.spanned_cell = data[offsetof(CDTABLECELL, ColumnSpan)] >= 2 ? 1 : 0;
  level.cell_offset = ReadWord(data + offsetof(CDTABLECELL, LeftMargin));
  level.cell_right = ReadWord(data + offsetof(CDTABLECELL, RightMargin));
  NoteColumnUsed(level, column);
  emitter_column& entry = level.columns[column];
  entry.left = static_cast<WORD>(level.base_position + level.cell_offset);
  entry.width = static_cast<WORD>(level.cell_right - level.base_position);
  level.awaiting_first_cell = 0;
  level.cell_paragraph = 1;
  level.last_reference_pabid = 0;
}

STATUS FixTableEnd(generation_context* context) {
  emitter_table_level& level = CurrentLevel(context);
  if (level.open != 0) {
    std::memcpy(context->paragraph_copy, level.saved_paragraph, sizeof context->paragraph_copy);
    context->paragraph_word = level.saved_paragraph_word;
  }
  if (level.awaiting_first_cell != 0)
    return FormatError(context, "TARNO: Table must contain at least one cell. Operation failed!");
  if (level.open == 0)
    return FormatError(context, "TARNO: Table end outside of table.  Operation failed!");
  level.open = 0;
  level.cell_paragraph = 0;
  level.last_reference_pabid = 0;
  context->after_table = 1;
  return NOERROR;
}

void ClearHotspotFlags(generation_context* context) {
  context->file_hotspot[0] = 0;
  context->file_hotspot[1] = 0;
  context->link_hotspot = 0;
  context->hotspot_kind = 0;
  context->hotspot_type = 0;
}

/* Whether a hotspot begin of the type would open a file hotspot inside
 * one already open: an old-style begin inside either kind, a V4 begin
 * inside a V4 one. */
bool NestedFileHotspot(const generation_context* context, WORD signature, WORD type) {
  return type == kHotspotFile &&
         (context->file_hotspot[1] != 0 ||
          (signature == SIG_CD_HOTSPOTBEGIN && context->file_hotspot[0] != 0));
}

STATUS FixHotspotBegin(generation_context* context, const emitted_record& record) {
  const WORD type = ReadWord(record.data + offsetof(CDHOTSPOTBEGIN, Type));
  if (NestedFileHotspot(context, record.signature, type))
    return FormatError(context, "TARNO: Non-nestable file hotspot.  Operation failed!");
  if (type == kHotspotFile)
    context->file_hotspot[record.signature == SIG_CD_HOTSPOTBEGIN ? 0 : 1] = 1;
  if (type == kHotspotLink || (type & kHotspotLinkBits) != 0) {
    context->link_hotspot = 1;
    if (context->current_pabid > 1)
      context->hotspot_pabid = static_cast<WORD>(context->current_pabid - 1);
  }
  if (type == kHotspotType11)
    context->hotspot_kind = 1;
  if (type == 1 || type == 22)
    context->hotspot_type = 1;
  return NOERROR;
}

void FixResource(generation_context* context, const emitted_record& record) {
  const WORD type = ReadWord(record.data + offsetof(CDRESOURCE, Type));
  if (type == kResourceURL || type == kResourceNoteLink)
    context->hotspot_kind = 1;
}

/* The checks and changes that depend on the record's kind. */
STATUS FixUpRecord(generation_context* context, emitted_record& record) {
  switch (record.signature) {
  case SIG_CD_PABREFERENCE:
    FixReference(context, record);
    return NOERROR;
  case SIG_CD_PABDEFINITION:
    return FixDefinition(context, record);
  case SIG_CD_TABLEBEGIN:
  case SIG_CD_NESTEDTABLEBEGIN:
    FixTableBegin(context, record);
    return NOERROR;
  case SIG_CD_TABLECELL:
  case SIG_CD_NESTEDTABLECELL:
    return FixTableCell(context, record);
  case SIG_CD_TABLEEND:
  case SIG_CD_NESTEDTABLEEND:
    return FixTableEnd(context);
  case SIG_CD_PARAGRAPH:
    context->after_table = 0;
    return NOERROR;
  case SIG_CD_LAYOUT:
    if (CurrentLevel(context).open != 0)
      return FormatError(context,
                         "TARNO: Layout region cannot be inside table.  Operation failed!");
    return NOERROR;
  case SIG_CD_HOTSPOTEND:
  case SIG_CD_V4HOTSPOTEND:
    ClearHotspotFlags(context);
    return NOERROR;
  case SIG_CD_HOTSPOTBEGIN:
  case SIG_CD_V4HOTSPOTBEGIN:
    return FixHotspotBegin(context, record);
  case SIG_CD_RESOURCE_FF5A:
  case SIG_CD_RESOURCE_FF71:
  case SIG_CD_RESOURCE_FF78:
  case SIG_CD_RESOURCE:
    FixResource(context, record);
    return NOERROR;
  case SIG_CD_HTMLBEGIN:
    context->in_html = 1;
    return NOERROR;
  case SIG_CD_HTMLEND:
    context->in_html = 0;
    return NOERROR;
  default:
    return NOERROR;
  }
}

/* Between a table begin and its first cell only cells and further table
 * begins may come. */
STATUS CheckTableFormat(generation_context* context, WORD signature) {
  const emitter_table_level& level = CurrentLevel(context);
  if (level.open == 0 || level.awaiting_first_cell == 0)
    return NOERROR;
  if (IsTableBegin(signature) || IsTableCell(signature))
    return NOERROR;
  return FormatError(context, "TARNO: Invalid table format.  Operation failed!");
}

void UpdateTextState(generation_context* context, const emitted_record& record) {
  const WORD signature = record.signature;
  if (signature == SIG_CD_TEXT) {
    if (record.length <= kEmptyTextLength) {
      context->text_state = TEXT_STATE_EMPTY_TEXT;
      if (context->in_text_envelope != 0)
        context->item->internal->pending_paragraph = 1;
    } else {
      context->text_state = TEXT_STATE_TEXT;
    }
    return;
  }
  context->text_state = TEXT_STATE_OTHER;
  if (!IsTextBracket(signature, record.data))
    return;
  if (signature == SIG_CD_END) {
    context->text_state = TEXT_STATE_ENVELOPE_END;
    context->in_text_envelope = 0;
  } else {
    context->in_text_envelope = 1;
  }
}

void LeaveTableLevel(generation_context* context) {
  if (context->table_level == 0)
    return;
  // Only the columns the table wrote are cleared: a level holds 64.
  emitter_table_level& level = CurrentLevel(context);
  for (WORD column = 0; column < level.columns_used; ++column)
    level.columns[column] = emitter_column{};
  level.columns_used = 0;
  --context->table_level;
}

/* True for the records whose fields the emitter changes or reads (and so
 * fixes up in the scratch area, where a record shorter than its layout
 * reads as zeros behind its end); every other record is only counted,
 * linked and copied, and is never written to. */
bool FixUpReadsRecord(WORD signature) {
  switch (signature) {
  case SIG_CD_PABREFERENCE:
  case SIG_CD_PABDEFINITION:
  case SIG_CD_TABLEBEGIN:
  case SIG_CD_NESTEDTABLEBEGIN:
  case SIG_CD_TABLECELL:
  case SIG_CD_NESTEDTABLECELL:
  case SIG_CD_HOTSPOTBEGIN:
  case SIG_CD_V4HOTSPOTBEGIN:
  case SIG_CD_RESOURCE_FF5A:
  case SIG_CD_RESOURCE_FF71:
  case SIG_CD_RESOURCE_FF78:
  case SIG_CD_RESOURCE:
  case SIG_CD_BEGIN:
  case SIG_CD_END:
    return true;
  default:
    return false;
  }
}

/* The size of the layout whose fields the fix-ups of the signature read
 * or write: they touch no byte of the scratch area behind it. */
DWORD FixedLayoutSize(WORD signature) {
  switch (signature) {
  case SIG_CD_PABREFERENCE:
    return sizeof(CDPABREFERENCE);
  case SIG_CD_PABDEFINITION:
    return sizeof(CDPABDEFINITION);
  case SIG_CD_TABLEBEGIN:
  case SIG_CD_NESTEDTABLEBEGIN:
    return sizeof(CDTABLEBEGIN);
  case SIG_CD_TABLECELL:
  case SIG_CD_NESTEDTABLECELL:
    return sizeof(CDTABLECELL);
  case SIG_CD_HOTSPOTBEGIN:
  case SIG_CD_V4HOTSPOTBEGIN:
    return sizeof(CDHOTSPOTBEGIN);
  case SIG_CD_BEGIN:
  case SIG_CD_END:
    return sizeof(CDBEGINRECORD);
  default:
    return kLargestFixedLayout;
  }
}

/* The checks, fix-ups and appends of one record: in the scratch area when
 * FixUpReadsRecord, else where the caller has it. */
STATUS EmitRecord(generation_context* context, body_context* output, emitted_record& record) {
  const WORD signature = record.signature;
  if (IsTableBegin(signature) && context->table_level < kEmitterMaxTableLevel)
    ++context->table_level;
  if (IsDropped(context, record))
    return NOERROR;
  if (signature == SIG_CD_PABREFERENCE) {
    if (context->restart != 0)
      MarkBodyForRestart(output);
    if (FoldReference(context, output, record))
      return NOERROR;
  }
  if (NeedsFurtherBodyItem(context, output, record.length)) {
    if (STATUS status = StartNextBodyItem(context); status != NOERROR)
      return status;
  }
  if (context->pass_through == 0) {
    STATUS status = FixUpRecord(context, record);
    if (status == NOERROR)
      status = CheckTableFormat(context, signature);
    if (status == NOERROR)
      status = EmitPending(context, output, record);
    if (status != NOERROR)
      return status;
  }
  UpdateTextState(context, record);
  if (IsTableEnd(signature))
    LeaveTableLevel(context);
  context->item->AutoMergeText = 0;
  if (STATUS status = AppendOutputNode(context, output, signature, record.data, record.length,
                                       record.unchanged_lasting && IsUnchanged(context, record));
      status != NOERROR)
    return status;
  SessionOf(context)->internal->previous_record_type = signature;
  return NOERROR;
}

/* A record that needs none of the emitter's fix-ups, checks or drops but
 * those of the text state, the table format and the body item's room:
 * EmitRecord's steps for it, without the scratch area. */
bool IsPlainRecord(WORD signature) {
  if (FixUpReadsRecord(signature) || IsTableBegin(signature) || IsTableEnd(signature))
    return false;
  switch (signature) {
  case SIG_CD_PARAGRAPH:
  case SIG_CD_LAYOUT:
  case SIG_CD_HOTSPOTEND:
  case SIG_CD_V4HOTSPOTEND:
  case SIG_CD_HTMLBEGIN:
  case SIG_CD_HTMLEND:
  case SIG_CD_LARGEPARAGRAPH:
  case SIG_CD_TEXTEFFECT:
    return false;
  default:
    return true;
  }
}

STATUS EmitPlainRecord(generation_context* context, body_context* output, const void* data,
                       WORD signature, DWORD length, const void* rest = nullptr,
                       DWORD restAt = 0) {
  VelkoRTItem* item = context->item;
  if (signature == SIG_CD_TEXT) {
    if (item->internal->image_data != 0 ||
        (length <= kEmptyTextLength && context->text_state == TEXT_STATE_EMPTY_TEXT))
      return NOERROR; // dropped, as IsDropped says
  }
  if (NeedsFurtherBodyItem(context, output, length)) {
    if (STATUS status = StartNextBodyItem(context); status != NOERROR)
      return status;
  }
  if (context->pass_through == 0) {
    if (STATUS status = CheckTableFormat(context, signature); status != NOERROR)
      return status;
  }
  if (signature == SIG_CD_TEXT) {
    if (length <= kEmptyTextLength) {
      context->text_state = TEXT_STATE_EMPTY_TEXT;
      if (context->in_text_envelope != 0)
        item->internal->pending_paragraph = 1;
    } else {
      context->text_state = TEXT_STATE_TEXT;
    }
  } else {
    context->text_state = TEXT_STATE_OTHER;
  }
  item->AutoMergeText = 0;
  if (STATUS status = AppendOutputNode(context, output, signature, data, length, false, rest,
                                       restAt);
      status != NOERROR)
    return status;
  SessionOf(context)->internal->previous_record_type = signature;
  return NOERROR;
}

} // namespace

STATUS RefuseParagraphIdPastLargest(generation_context* context) {
  return FormatError(context, kParagraphIdPastLargestMessage);
}

STATUS CopyCDUpdated(const void* record, WORD signature, DWORD length,
                     generation_context* context) {
  if (context == nullptr || record == nullptr || context->item == nullptr ||
      context->item->internal == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  if (length > kLargestEmittedRecord)
    return FormatError(context, kRecordTooLargeMessage);
  if (context->import_target != nullptr)
    return CopyCDUpdatedToRec(const_cast<void*>(record), signature, length,
                              context->import_target);
  LSXLsiSession* session = SessionOf(context);
  body_context* output = context->item->internal->output;
  if (session == nullptr || session->internal == nullptr || output == nullptr ||
      length < BSIG_HEADER_SIZE)
    return VELKO_ERR_BAD_ARGUMENT;

  // Only the records the fix-ups change or read fields of go through the
  // scratch area; the rest are appended from where they are.
  if (!FixUpReadsRecord(signature)) {
    if (IsPlainRecord(signature))
      return EmitPlainRecord(context, output, record, signature, length);
    emitted_record emitted{static_cast<BYTE*>(const_cast<void*>(record)), signature, length};
    return EmitRecord(context, output, emitted);
  }
  auto* scratch = reinterpret_cast<BYTE*>(session->internal->emitter_scratch);
  std::memmove(scratch, record, length);
  // Behind the record, up to the largest layout, only bytes an earlier
  // record left need clearing; the fix-ups write within their layout.
  DWORD& used = session->internal->emitter_scratch_used;
  const DWORD dirty = used < kLargestFixedLayout ? used : kLargestFixedLayout;
  if (length < dirty)
    std::memset(scratch + length, 0, dirty - length);
  used = length > FixedLayoutSize(signature) ? length : FixedLayoutSize(signature);
  emitted_record emitted{scratch, signature, length};
  // A reference stays a copy: a reference folded into it later is written
  // over its id, and a lasting record is never written to.
  emitted.unchanged_lasting = record == context->lasting_record && signature != SIG_CD_PABREFERENCE;
  emitted.original_length = length;
  return EmitRecord(context, output, emitted);
}

/* ---- the lane ---- */

BYTE EmitterLaneKind(WORD signature) {
  switch (signature) {
  case SIG_CD_TEXT:
    return EMITTER_LANE_TEXT;
  case SIG_CD_PARAGRAPH:
    return EMITTER_LANE_PARAGRAPH;
  case SIG_CD_PABREFERENCE:
    return EMITTER_LANE_REFERENCE;
  case SIG_CD_TABLECELL:
  case SIG_CD_NESTEDTABLECELL:
    return EMITTER_LANE_CELL;
  case SIG_CD_BEGIN:
  case SIG_CD_END:
  case SIG_CD_HOTSPOTBEGIN:
  case SIG_CD_V4HOTSPOTBEGIN:
  case SIG_CD_HOTSPOTEND:
  case SIG_CD_V4HOTSPOTEND:
  case SIG_CD_RESOURCE_FF5A:
  case SIG_CD_RESOURCE_FF71:
  case SIG_CD_RESOURCE_FF78:
  case SIG_CD_RESOURCE:
    return EMITTER_LANE_STATE;
  default:
    return IsPlainRecord(signature) ? EMITTER_LANE_PLAIN : EMITTER_LANE_NONE;
  }
}

bool OpenEmitterLane(generation_context* context, bool lasting, emitter_lane* lane) {
  if (!EmitterLaneOn() || context == nullptr || context->item == nullptr || context->item->internal == nullptr ||
      context->import_target != nullptr || context->pass_through != 0 ||
      context->item->internal->image_data != 0)
    return false;
  LSXLsiSession* session = SessionOf(context);
  body_context* output = context->item->internal->output;
  if (session == nullptr || session->internal == nullptr || output == nullptr ||
      session->internal->marker_switch != 0)
    return false;
  // The longest record that neither passes the largest emitted nor needs a
  // further body item (NeedsFurtherBodyItem); the lane writes nothing into
  // the body buffer, so this stays for the run.
  DWORD room = kLargestEmittedRecord;
  if (context->write_start != nullptr) {
    const auto used = static_cast<DWORD>(context->write_position - context->write_start);
    const DWORD limit = context->capacity > kBodyBufferMargin ? context->capacity - kBodyBufferMargin : 0;
    room = limit > used ? limit - used : 0;
    if (room > kLargestEmittedRecord)
      room = kLargestEmittedRecord;
  }
  *lane = emitter_lane{};
  lane->context = context;
  lane->output = output;
  lane->session = session;
  lane->tail = LastOutputNode(output);
  lane->room = room;
  lane->lasting = lasting;
  // Before a table's first cell CheckTableFormat refuses all but cells
  // and tables: the run takes that cell as FixTableCell passes it, or
  // nothing.
  const emitter_table_level& level = CurrentLevel(context);
  lane->first_cell = level.open != 0 && level.awaiting_first_cell != 0;
  // A reference keeps its own id and has no held-back definition to go
  // before it only while no id is forced or next, no definition is saved
  // and the body is not being restarted.
  lane->references = context->restart == 0 && context->forced_pabid == 0 &&
                     context->next_pabid == 0 &&
                     session->internal->saved_definition_count == 0;
  return true;
}

namespace {

/* Bytes of the output's arena a run takes at a time for its nodes. */
constexpr size_t kLaneSpareSize = 4096;

void ReturnLaneSpare(emitter_lane* lane) {
  ReturnArenaSpare(&lane->output->arena, &lane->spare, &lane->spare_room);
}

/* A piece for a node with dataRoom bytes behind it, from the run's spare
 * piece of the output's arena. Null when memory runs out. */
void* CarveLaneNode(emitter_lane* lane, DWORD dataRoom) {
  return CutFromArenaSpare(lane->session, &lane->output->arena, &lane->spare, &lane->spare_room,
                           ArenaNodePiece(dataRoom), kLaneSpareSize, VELKO_HERE);
}

/* A table cell the emitter would leave as it is: inside an open table,
 * exactly a cell's length with its own header, a column the table level
 * holds, the row the level counts it in, and no border matching to make.
 * True with the level moved to the cell as FixTableCell moves it. */
bool TakeCell(emitter_lane* lane, const BYTE* data, WORD signature, DWORD length) {
  generation_context* context = lane->context;
  emitter_table_level& level = CurrentLevel(context);
  if (level.open == 0 || context->match_borders != 0 || length != sizeof(CDTABLECELL) ||
      data[0] != static_cast<BYTE>(signature) || data[1] != static_cast<BYTE>(length))
    return false;
  const BYTE column = data[offsetof(CDTABLECELL, Column)];
  if (column >= kEmitterColumns)
    return false;
  const WORD counter = CellRowCounter(level, column);
  if (data[offsetof(CDTABLECELL, Row)] != static_cast<BYTE>(counter))
    return false;
  level.cell_counter = counter;
  EnterCell(level, data, column);
  lane->first_cell = false;
  // The cell clears the level's last reference: one taken before it in
  // this run is not the level's any more.
  lane->last_reference_id = 0;
  return true;
}

/* A bracket, hotspot begin or end or resource that CopyCDUpdated passes
 * unchanged: as long as the fields its fix-up reads, a hotspot begin no
 * file hotspot it would refuse. True with the text-envelope or hotspot
 * state moved as FixUpRecord and UpdateTextState move it (the text state
 * itself follows when the run closes). */
bool TakeStateRecord(emitter_lane* lane, const BYTE* data, WORD signature, DWORD length) {
  generation_context* context = lane->context;
  emitted_record record{const_cast<BYTE*>(data), signature, length};
  switch (signature) {
  case SIG_CD_BEGIN:
  case SIG_CD_END:
    // A shorter bracket reads as bracketing signature 0 in the scratch area.
    if (length < sizeof(CDBEGINRECORD))
      return false;
    if (IsTextBracket(signature, data))
      context->in_text_envelope = signature == SIG_CD_BEGIN ? 1 : 0;
    return true;
  case SIG_CD_HOTSPOTBEGIN:
  case SIG_CD_V4HOTSPOTBEGIN: {
    if (length < offsetof(CDHOTSPOTBEGIN, Type) + sizeof(WORD))
      return false;
    if (NestedFileHotspot(context, signature, ReadWord(data + offsetof(CDHOTSPOTBEGIN, Type))))
      return false; // refused as nested
    return FixHotspotBegin(context, record) == NOERROR;
  }
  case SIG_CD_HOTSPOTEND:
  case SIG_CD_V4HOTSPOTEND:
    ClearHotspotFlags(context);
    return true;
  default:
    if (length < offsetof(CDRESOURCE, Type) + sizeof(WORD))
      return false;
    FixResource(context, record);
    return true;
  }
}

/* Whether the lane takes the record of the kind as CopyCDUpdated would
 * pass it; *id is a reference's id. A cell moves the open table to it. */
bool LaneTakes(emitter_lane* lane, const char* data, WORD signature, DWORD length, BYTE kind,
               WORD* id) {
  if (length < BSIG_HEADER_SIZE || length > lane->room ||
      (lane->first_cell && kind != EMITTER_LANE_CELL))
    return false;
  switch (kind) {
  case EMITTER_LANE_PLAIN:
  case EMITTER_LANE_PARAGRAPH:
    return true;
  case EMITTER_LANE_TEXT:
    return length > kEmptyTextLength; // an empty run may be dropped or mark a pending paragraph
  case EMITTER_LANE_REFERENCE:
    // Exactly a reference's length (a longer one is cut), an id of its
    // own, and no reference before it to be folded into.
    if (!lane->references || length != sizeof(CDPABREFERENCE) ||
        (lane->tail != nullptr && lane->tail->signature == SIG_CD_PABREFERENCE))
      return false;
    *id = ReadWord(reinterpret_cast<const BYTE*>(data) + offsetof(CDPABREFERENCE, PABID));
    return *id != 0;
  case EMITTER_LANE_CELL:
    return TakeCell(lane, reinterpret_cast<const BYTE*>(data), signature, length);
  case EMITTER_LANE_STATE:
    return TakeStateRecord(lane, reinterpret_cast<const BYTE*>(data), signature, length);
  default:
    return false;
  }
}

/* Links the node behind the output's last one and notes what it was. */
void LinkLaneNode(emitter_lane* lane, record_storage* node, BYTE kind, WORD id) {
  assert(lane->tail == nullptr || lane->tail->next == nullptr || lane->tail->next == node);
  AppendLaneNode(lane, node);
  if (kind == EMITTER_LANE_REFERENCE)
    lane->last_reference_id = id;
  else if (kind == EMITTER_LANE_PARAGRAPH)
    lane->paragraph_taken = true;
}

} // namespace

record_storage* PlaceLaneCell(emitter_lane* lane, void* piece, const char* data, WORD signature,
                              DWORD length) {
  if (!lane->lasting || length > lane->room ||
      !TakeCell(lane, reinterpret_cast<const BYTE*>(data), signature, length))
    return nullptr;
  return PlaceArenaRecord(piece, signature, const_cast<char*>(data), length);
}

STATUS EmitLaneRecordChecked(emitter_lane* lane, const char* data, WORD signature, DWORD length,
                             BYTE kind, bool* taken) {
  *taken = false;
  WORD id = 0;
  if (!LaneTakes(lane, data, signature, length, kind, &id))
    return NOERROR;
  // A reference is always a copy: a reference folded into it later is
  // written over its id.
  const bool pointed = lane->lasting && kind != EMITTER_LANE_REFERENCE;
  void* piece = CarveLaneNode(lane, pointed ? 0 : EvenLength(length));
  if (piece == nullptr) {
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
  record_storage* node =
      PlaceArenaRecord(piece, signature, pointed ? const_cast<char*>(data) : nullptr, length);
  if (!pointed)
    std::memcpy(node->data, data, length);
  LinkLaneNode(lane, node, kind, id);
  *taken = true;
  return NOERROR;
}

namespace {

/* Takes a copy of the record, its bytes written by fill into the new node;
 * data is what the lane's test reads of the record. As EmitLaneRecord for
 * the rest: never a reference nor a cell. */
template <typename Fill>
STATUS EmitLaneCopy(emitter_lane* lane, const char* data, WORD signature, DWORD length, BYTE kind,
                    bool* taken, Fill fill) {
  *taken = false;
  WORD id = 0;
  if (kind == EMITTER_LANE_REFERENCE || kind == EMITTER_LANE_CELL ||
      !LaneTakes(lane, data, signature, length, kind, &id))
    return NOERROR;
  void* piece = CarveLaneNode(lane, EvenLength(length));
  if (piece == nullptr) {
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
  record_storage* node = PlaceArenaRecord(piece, signature, nullptr, length);
  fill(node->data);
  LinkLaneNode(lane, node, kind, id);
  *taken = true;
  return NOERROR;
}

} // namespace

STATUS EmitLaneRecordChanged(emitter_lane* lane, const char* data, WORD signature, DWORD length,
                             BYTE kind, DWORD at, const void* bytes, DWORD count, bool* taken) {
  *taken = false;
  if (at > length || count > length - at)
    return NOERROR;
  return EmitLaneCopy(lane, data, signature, length, kind, taken, [&](char* copy) {
    std::memcpy(copy, data, at);
    std::memcpy(copy + at, bytes, count);
    std::memcpy(copy + at + count, data + at + count, length - at - count);
  });
}

STATUS EmitLaneRecordInPartsChecked(emitter_lane* lane, WORD signature, DWORD length, BYTE kind,
                                    const void* head, DWORD headLength, const char* rest,
                                    bool* taken) {
  *taken = false;
  if (headLength > length)
    return NOERROR;
  return EmitLaneCopy(lane, static_cast<const char*>(head), signature, length, kind, taken,
                      [&](char* copy) {
                        std::memcpy(copy, head, headLength);
                        std::memcpy(copy + headLength, rest, length - headLength);
                      });
}

bool TakeLaneNodeChecked(emitter_lane* lane, record_storage* node, BYTE kind) {
  if ((node->flags & (RECORD_IN_ARENA | RECORD_OWNS_DATA)) != RECORD_IN_ARENA)
    return false;
  WORD id = 0;
  if (!LaneTakes(lane, node->data, node->signature, node->length, kind, &id))
    return false;
  // As a node EmitLaneRecord makes: of the arena, data where it lies, no
  // stored length or side data; its next stays until the run closes.
  node->flags &= static_cast<WORD>(RECORD_IN_ARENA | RECORD_IN_PLACE);
  node->stored_length = 0;
  lane->taken_nodes = true;
  LinkLaneNode(lane, node, kind, id);
  return true;
}

void CloseEmitterLane(emitter_lane* lane) {
  if (lane->taken_nodes)
    lane->tail->next = nullptr; // it still led on in the list it came from
  lane->taken_nodes = false;
  if (lane->output != nullptr)
    ReturnLaneSpare(lane);
  if (lane->last_signature == 0)
    return;
  generation_context* context = lane->context;
  lane->output->last_written = lane->tail;
  context->text_state =
      lane->last_signature == SIG_CD_TEXT ? TEXT_STATE_TEXT : TEXT_STATE_OTHER;
  if (lane->last_signature == SIG_CD_END &&
      IsTextBracket(SIG_CD_END, reinterpret_cast<const BYTE*>(lane->tail->data)))
    context->text_state = TEXT_STATE_ENVELOPE_END;
  context->item->AutoMergeText = 0;
  if (lane->paragraph_taken)
    context->after_table = 0;
  emitter_table_level& level = CurrentLevel(context);
  if (lane->last_reference_id != 0 && level.open != 0)
    level.last_reference_pabid = lane->last_reference_id;
  lane->session->internal->previous_record_type = lane->last_signature;
  lane->last_signature = 0;
  lane->last_reference_id = 0;
  lane->paragraph_taken = false;
}

/* ---- builders ---- */

STATUS GenerateCDText(const char* text, int length, const void* header,
                      generation_context* context) {
  if (context == nullptr || context->item == nullptr || length < 0 ||
      (text == nullptr && length > 0))
    return VELKO_ERR_BAD_ARGUMENT;
  const DWORD total = static_cast<DWORD>(length) + kEmptyTextLength;
  if (total > kLargestEmittedRecord)
    return FormatError(context, kRecordTooLargeMessage);
  LSXLsiSession* session = SessionOf(context);
  auto* block = static_cast<BYTE*>(VelkoAllocatePtr(session, VELKO_HERE, total + 1, 1));
  if (block == nullptr) {
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
  CDTEXT* record = reinterpret_cast<CDTEXT*>(block);
  if (header != nullptr) {
    std::memcpy(block, header, sizeof(CDTEXT));
  } else {
    BYTE font[sizeof(FONTID)] = {};
    font[FONTID_FACE_BYTE] = 1;
    font[FONTID_SIZE_BYTE] = 10;
    std::memcpy(&record->FontID, font, sizeof font);
  }
  record->Header.Signature = SIG_CD_TEXT;
  record->Header.Length = static_cast<WORD>(total);
  if (length > 0)
    std::memcpy(block + sizeof(CDTEXT), text, static_cast<size_t>(length));
  const STATUS status = CopyCDUpdated(block, SIG_CD_TEXT, total, context);
  VelkoDeallocatePtr(session, block);
  return status;
}

namespace {

STATUS GenerateBracket(WORD bracket, WORD signature, WORD version, generation_context* context) {
  CDBEGINRECORD record = {};
  SetByteHeader(reinterpret_cast<BYTE*>(&record), bracket, sizeof record);
  record.Version = version;
  record.Signature = signature;
  return CopyCDUpdated(&record, bracket, sizeof record, context);
}

} // namespace

STATUS GenerateCDBegin(WORD signature, WORD version, generation_context* context) {
  return GenerateBracket(SIG_CD_BEGIN, signature, version, context);
}

STATUS GenerateCDEnd(WORD signature, WORD version, generation_context* context) {
  static_assert(sizeof(CDENDRECORD) == sizeof(CDBEGINRECORD));
  return GenerateBracket(SIG_CD_END, signature, version, context);
}

STATUS GenerateCDColorValue(BYTE signature, DWORD rgb, WORD flags, generation_context* context) {
  CDCOLOR record = {};
  SetByteHeader(reinterpret_cast<BYTE*>(&record), signature, sizeof record);
  record.Color.Flags = static_cast<WORD>(flags | 0x0001);
  record.Color.Red = static_cast<BYTE>(rgb & 0xFF);
  record.Color.Green = static_cast<BYTE>((rgb >> 8) & 0xFF);
  record.Color.Blue = static_cast<BYTE>((rgb >> 16) & 0xFF);
  return CopyCDUpdated(&record, signature, sizeof record, context);
}

STATUS GenerateTableCellData(BYTE signature, DWORD first, DWORD second,
                             generation_context* context) {
  CDTABLECELLDATA record = {};
  SetByteHeader(reinterpret_cast<BYTE*>(&record), signature, sizeof record);
  record.Version = 2;
  record.Signature = SIG_CD_PABREFERENCE;
  record.First = first;
  record.Second = second;
  return CopyCDUpdated(&record, signature, sizeof record, context);
}

STATUS GenerateTabLabel(WORD flags, const char* label, WORD length, generation_context* context) {
  if (label == nullptr && length > 0)
    return VELKO_ERR_BAD_ARGUMENT;
  CDTABLELABEL record = {};
  record.Header.Signature = SIG_CD_TABLELABEL;
  record.Header.Length = sizeof record;
  // The label keeps its NUL; a longer one is cut between whole characters.
  const size_t kept = WholeCharacters(label, length, sizeof record.Label - 1);
  if (kept > 0)
    std::memcpy(record.Label, label, kept);
  record.Flags = flags;
  return CopyCDUpdated(&record, SIG_CD_TABLELABEL, sizeof record, context);
}

namespace {

/* Twice the room (at first kFirstSavedDefinitionRoom) for the list of
 * saved definitions, the entries moved over. */
constexpr DWORD kFirstSavedDefinitionRoom = 64;

STATUS GrowSavedDefinitions(LSXLsiSession* session) {
  _internal_SESS* state = session->internal;
  const DWORD room =
      state->saved_definition_room == 0 ? kFirstSavedDefinitionRoom : 2 * state->saved_definition_room;
  auto** list =
      static_cast<char**>(VelkoAllocatePtr(session, VELKO_HERE, room * sizeof(char*), 1));
  if (list == nullptr) {
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
  if (state->saved_definition_count > 0)
    std::memcpy(list, state->saved_definitions, state->saved_definition_count * sizeof(char*));
  VelkoDeallocatePtr(session, state->saved_definitions);
  state->saved_definitions = list;
  state->saved_definition_room = room;
  return NOERROR;
}

} // namespace

STATUS SaveParagraphDefinition(LSXLsiSession* session, const void* record) {
  if (session == nullptr || session->internal == nullptr || record == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  const DWORD length = SavedDefinitionLength(static_cast<const char*>(record));
  if (length == 0)
    return VELKO_ERR_BAD_ARGUMENT;
  _internal_SESS* state = session->internal;
  if (state->saved_definition_count == state->saved_definition_room) {
    if (STATUS status = GrowSavedDefinitions(session); status != NOERROR)
      return status;
  }
  auto* copy = static_cast<char*>(VelkoAllocatePtr(session, VELKO_HERE, EvenLength(length), 1));
  if (copy == nullptr) {
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
  std::memcpy(copy, record, length);
  state->saved_definitions[state->saved_definition_count++] = copy;
  return NOERROR;
}

void ReleaseSavedDefinitions(LSXLsiSession* session) {
  _internal_SESS* state = session->internal;
  for (DWORD index = 0; index < state->saved_definition_count; ++index)
    VelkoDeallocatePtr(session, state->saved_definitions[index]);
  VelkoDeallocatePtr(session, state->saved_definitions);
  state->saved_definitions = nullptr;
  state->saved_definition_room = 0;
  state->saved_definition_count = 0;
}

STATUS GenerateCDTextDirect(const void* header, const char* text, DWORD length,
                            generation_context* context) {
  if (context == nullptr || context->item == nullptr || context->item->internal == nullptr ||
      header == nullptr || (text == nullptr && length > 0))
    return VELKO_ERR_BAD_ARGUMENT;
  const DWORD total = length + kEmptyTextLength;
  if (total > kLargestEmittedRecord)
    return FormatError(context, kRecordTooLargeMessage);
  LSXLsiSession* session = SessionOf(context);
  body_context* output = context->item->internal->output;
  if (context->import_target != nullptr || session == nullptr || session->internal == nullptr ||
      output == nullptr)
    return GenerateCDText(text, static_cast<int>(length), header, context);
  CDTEXT record;
  std::memcpy(&record, header, sizeof record);
  record.Header.Signature = SIG_CD_TEXT;
  record.Header.Length = static_cast<WORD>(total);
  return EmitPlainRecord(context, output, &record, SIG_CD_TEXT, total,
                         length > 0 ? static_cast<const void*>(text) : &record, sizeof record);
}
