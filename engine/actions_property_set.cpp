/*
 * The chunk engine's property settings and sort keys: the writing cases
 * that rename section bars, buttons and anchors, set target frames, action
 * formulas and row labels, replace the text of a chunk and widen short
 * paragraph definitions to their extended form; and the reading cases that
 * collect the keys of a table's rows or of whole chunks for a row sort,
 * with their work where the chunk opens and closes.
 *
 * Each case leaves the current record as it is, replaces it by a record it
 * builds in a tracked block (released by the frame once emitted), or emits
 * records of its own and drops it. Every change marks the item modified.
 * A caller's text that would make a record past the emitter's largest
 * record is refused with kServiceNotAvailable before anything is emitted.
 *
 * Not here: the reading cases (engine/actions_property.cpp); the settings
 * of hide formulas, pass-through HTML and graphic storage, which this
 * dispatch hands on (engine/property_set_actions.h).
 */
#include <string.h>
#include <strings.h>

#include "engine/driver.h"
#include "engine/property_set_actions.h"
#include "engine/record_fields.h"
#include "engine/services.h"
#include "engine/walk.h"
#include "store/emitter.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "store/vocabulary.h"

char* NewOutputRecord(DWORD size, WORD signature, chunk_record_output* output,
                      chunk_process_state* state) {
  velko_allocation* block = VelkoAllocate(state->session, VELKO_HERE, size, 1);
  if (block == nullptr || block->data == nullptr)
    return nullptr;
  output->block = block;
  output->data = static_cast<const char*>(block->data);
  output->signature = signature;
  output->length = size;
  return static_cast<char*>(block->data);
}

namespace {

/* The fixed parts that a renamed record keeps: a section bar's header,
 * flags, font and colour word, and a button's header, flags, width,
 * reserved bytes and font. */
constexpr DWORD kBarFixedPart = sizeof(CDBAR) + sizeof(WORD);
constexpr DWORD kButtonFixedPart = sizeof(CDBUTTON);
static_assert(kBarFixedPart == 14 && kButtonFixedPart == 16);

/* Extended paragraph definition: the flag word at 68 and its bit telling
 * that the extension fields are there, and the two double words at 84 and
 * 88 an expansion sets. */
constexpr DWORD kDefinitionExtensionFlagsAt = 68;
constexpr WORD kDefinitionExtensionPresent = 0x8000;
constexpr DWORD kDefinitionWordAt84 = 84;
constexpr DWORD kDefinitionWordAt88 = 88;

/* An empty text run: the header alone. */
constexpr DWORD kEmptyTextRun = sizeof(CDTEXT);

void PutWord(char* at, WORD value) { memcpy(at, &value, sizeof value); }
void PutDword(char* at, DWORD value) { memcpy(at, &value, sizeof value); }

/* A record of `fixed` bytes, the first of them kept from the old record
 * (the rest zero), then `count` bytes of text; *built is its data. */
STATUS RenameRecord(const char* record, DWORD length, WORD signature, DWORD fixed, const char* text,
                    DWORD count, DWORD size, chunk_record_output* output,
                    chunk_process_state* state, char** built) {
  if (size > kLargestEmittedRecord)
    return kServiceNotAvailable;
  char* data = NewOutputRecord(size, signature, output, state);
  if (data == nullptr)
    return VELKO_ERR_MEMORY;
  memcpy(data, record, length < fixed ? length : fixed);
  if (text != nullptr && count > 0)
    memcpy(data + fixed, text, count);
  StateItem(state)->Modified = 1;
  *built = data;
  return NOERROR;
}

/* SectionTitle: every bar gets s1 (p2 bytes, then a NUL) after its fixed
 * part; the length word holds the even record length. */
STATUS SetSectionTitle(const char* record, WORD signature, DWORD length,
                       chunk_record_output* output, chunk_process_state* state) {
  if (signature != SIG_CD_SECTIONBAR)
    return NOERROR;
  const DWORD size = EvenLength<DWORD>(state->p2 + kBarFixedPart + 1);
  char* data = nullptr;
  const STATUS status = RenameRecord(record, length, signature, kBarFixedPart, state->s1, state->p2,
                                     size, output, state, &data);
  if (status == NOERROR)
    PutWord(data + offsetof(WSIG, Length), static_cast<WORD>(size));
  return status;
}

/* ButtonText: every button gets s1 (p2 bytes) after its fixed part; the
 * length word holds the unpadded length, the record is stored even. */
STATUS SetButtonText(const char* record, WORD signature, DWORD length, chunk_record_output* output,
                     chunk_process_state* state) {
  if (signature != SIG_CD_BUTTON)
    return NOERROR;
  const DWORD exact = state->p2 + kButtonFixedPart;
  char* data = nullptr;
  const STATUS status = RenameRecord(record, length, signature, kButtonFixedPart, state->s1,
                                     state->p2, EvenLength(exact), output, state, &data);
  if (status == NOERROR)
    PutWord(data + offsetof(WSIG, Length), static_cast<WORD>(exact));
  return status;
}

/* AnchorText: the first anchor gets s1 as its name. */
STATUS SetAnchorText(const char* record, WORD signature, DWORD length, chunk_record_output* output,
                     chunk_process_state* state) {
  if (state->found != 0 || signature != SIG_CD_ANCHOR)
    return NOERROR;
  const DWORD count = state->s1 != nullptr ? static_cast<DWORD>(strlen(state->s1)) : 0;
  const DWORD size = EvenLength<DWORD>(sizeof(CDANCHOR) + count);
  char* data = nullptr;
  const STATUS status = RenameRecord(record, length, signature, sizeof(CDANCHOR), state->s1, count,
                                     size, output, state, &data);
  if (status != NOERROR)
    return status;
  PutWord(data + offsetof(WSIG, Length), static_cast<WORD>(size));
  PutWord(data + offsetof(CDANCHOR, NameLength), static_cast<WORD>(count));
  state->found = 1;
  return NOERROR;
}

/* ExpandPabDefs: a definition shorter than the extended form is widened to
 * it, with the extension flag and the two double words set. */
STATUS ExpandDefinition(const char* record, WORD signature, DWORD length,
                        chunk_record_output* output, chunk_process_state* state) {
  if (signature != SIG_CD_PABDEFINITION || length >= kParagraphDefinitionArea)
    return NOERROR;
  char* data = NewOutputRecord(kParagraphDefinitionArea, signature, output, state);
  if (data == nullptr)
    return VELKO_ERR_MEMORY;
  memcpy(data, record, length);
  PutWord(data + offsetof(WSIG, Length), static_cast<WORD>(kParagraphDefinitionArea));
  WORD flags = 0;
  memcpy(&flags, data + kDefinitionExtensionFlagsAt, sizeof flags);
  PutWord(data + kDefinitionExtensionFlagsAt, flags | kDefinitionExtensionPresent);
  PutDword(data + kDefinitionWordAt84, 1);
  PutDword(data + kDefinitionWordAt88, 4);
  StateItem(state)->Modified = 1;
  return NOERROR;
}

/* The pending paragraph break of the output, written before new text. */
STATUS EmitPendingParagraph(chunk_process_state* state) {
  _internal_RTITEM* internal = StateItem(state)->internal;
  if (internal->pending_paragraph == 0)
    return NOERROR;
  if (STATUS status =
          CopyCDUpdated(&state->paragraph, SIG_CD_PARAGRAPH, sizeof(CDPARAGRAPH), &state->gen);
      status != NOERROR)
    return status;
  const CDPABREFERENCE reference = CurrentReference(state);
  if (STATUS status = CopyCDUpdated(&reference, SIG_CD_PABREFERENCE, sizeof reference, &state->gen);
      status != NOERROR)
    return status;
  internal->pending_paragraph = 0;
  return NOERROR;
}

/* Text: the first run of the chunk becomes s1 in its own font (with the
 * operation's font applied); the later runs with text go, empty runs stay. */
STATUS SetText(WORD signature, DWORD length, chunk_record_output* output,
               chunk_process_state* state) {
  if (signature != SIG_CD_TEXT)
    return NOERROR;
  if (state->found != 0) {
    if (length > kEmptyTextRun)
      output->length = 0;
    return NOERROR;
  }
  if (sizeof(CDTEXT) + state->p2 > kLargestEmittedRecord)
    return kServiceNotAvailable;

  VelkoRTItem* item = StateItem(state);
  CDTEXT header;
  memcpy(&header, item->internal->current_text_header, sizeof header);
  DWORD rgb = 0;
  WORD colorFlags = 0;
  if (item->PermanentPen != 0 || state->s2 != nullptr)
    ApplyFontOverride(&header.FontID, &rgb, &colorFlags, &state->fonts[0],
                      state->font_masks[0].given);
  _internal_SESS* session = state->session->internal;
  session->override_color = rgb;
  session->override_color_flags = colorFlags;

  if (length <= kEmptyTextRun) {
    if (STATUS status = GenerateCDText("", 0, &header, &state->gen); status != NOERROR)
      return status;
  }
  if (STATUS status = EmitPendingParagraph(state); status != NOERROR)
    return status;
  // A begin is closed by the colour record and its end whenever one was
  // written, so that the run never leaves a bracket open.
  const bool bracket = rgb != 0 || colorFlags != 0;
  if (bracket) {
    if (STATUS status = GenerateCDBegin(SIG_CD_TEXT, 0, &state->gen); status != NOERROR)
      return status;
  }
  if (STATUS status =
          GenerateCDText(state->s1 != nullptr ? state->s1 : "", state->s1 != nullptr ? state->p2 : 0,
                         &header, &state->gen);
      status != NOERROR)
    return status;
  if (bracket) {
    if (STATUS status =
            GenerateCDColorValue(static_cast<BYTE>(SIG_CD_COLOR), rgb, colorFlags, &state->gen);
        status != NOERROR)
      return status;
    if (STATUS status = GenerateCDEnd(SIG_CD_TEXT, 0, &state->gen); status != NOERROR)
      return status;
  }
  state->found = 1;
  output->length = 0;
  return NOERROR;
}

/* A target record of the frame name s1 (p2 bytes): the fixed part kept
 * from `fixed` (null: zeros), length word p2 + 12, and `size` bytes in all. */
STATUS BuildTarget(const char* fixed, DWORD fixedLength, DWORD size, chunk_record_output* output,
                   chunk_process_state* state) {
  const DWORD exact = sizeof(CDTARGET) + state->p2;
  if (exact > kLargestEmittedRecord)
    return kServiceNotAvailable;
  char* data = NewOutputRecord(size, SIG_CD_TARGET, output, state);
  if (data == nullptr)
    return VELKO_ERR_MEMORY;
  if (fixed != nullptr)
    memcpy(data, fixed, fixedLength < sizeof(CDTARGET) ? fixedLength : sizeof(CDTARGET));
  PutWord(data + offsetof(WSIG, Signature), SIG_CD_TARGET);
  PutWord(data + offsetof(WSIG, Length), static_cast<WORD>(exact));
  PutWord(data + offsetof(CDTARGET, TargetLength), state->p2);
  if (state->s1 != nullptr && state->p2 > 0)
    memcpy(data + sizeof(CDTARGET), state->s1, state->p2);
  StateItem(state)->Modified = 1;
  state->found = 1;
  return NOERROR;
}

/* Whether the record ends the chunk's target without a target record: one
 * of the first five end signatures of the first clause's target type, or a
 * CDEND bracketing one. */
bool EndsTargetWithoutFrame(const char* record, WORD signature, DWORD length,
                            const chunk_process_state* state) {
  const chunkdef_info* clause = state->first_clause;
  if (clause == nullptr || clause->target_type == 0 || clause->target_type >= kTargetTypeCount)
    return false;
  const target_parameter& row = target_parameter_table[clause->target_type - 1];
  WORD bracketed = 0;
  if (signature == SIG_CD_END)
    ReadRecordWord(record, length, offsetof(CDENDRECORD, Signature), &bracketed);
  for (int index = 0; index < 5; ++index) {
    const WORD end = row.end_signatures[index];
    if (end != 0 && (end == signature || (bracketed != 0 && end == bracketed)))
      return true;
  }
  return false;
}

/* TargetFrame: every target record takes the frame name; where the chunk's
 * target ends without one, a new target record goes before that record. */
STATUS SetTargetFrame(const char* record, WORD signature, DWORD length, chunk_record_output* output,
                      chunk_process_state* state) {
  if (signature == SIG_CD_TARGET) {
    WORD targetLength = 0;
    ReadRecordWord(record, length, offsetof(CDTARGET, TargetLength), &targetLength);
    const DWORD size = targetLength == state->p2 && length >= sizeof(CDTARGET) + state->p2
                           ? length
                           : EvenLength<DWORD>(sizeof(CDTARGET) + state->p2);
    return BuildTarget(record, length, size, output, state);
  }
  if (state->found != 0 || !EndsTargetWithoutFrame(record, signature, length, state))
    return NOERROR;
  chunk_record_output target;
  const DWORD size = EvenLength<DWORD>(sizeof(CDTARGET) + state->p2);
  STATUS status = BuildTarget(nullptr, 0, size, &target, state);
  if (status == NOERROR)
    status = CopyCDUpdated(target.data, SIG_CD_TARGET, target.length, &state->gen);
  if (target.block != nullptr)
    VelkoDeallocate(state->session, target.block);
  return status;
}

/* ActionFormula: the first button or formula hotspot takes the compiled
 * formula the chunk object left in the session's result text, in place
 * when it is as long as the old one. */
constexpr WORD kHotspotButton = 3;
constexpr DWORD kHotspotFormula = 0x0010;

STATUS SetActionFormula(const char* record, WORD signature, DWORD length,
                        chunk_record_output* output, chunk_process_state* state) {
  if (state->found != 0 ||
      (signature != SIG_CD_HOTSPOTBEGIN && signature != SIG_CD_V4HOTSPOTBEGIN) ||
      length < sizeof(CDHOTSPOTBEGIN))
    return NOERROR;
  WORD type = 0;
  DWORD flags = 0;
  WORD dataLength = 0;
  ReadRecordWord(record, length, offsetof(CDHOTSPOTBEGIN, Type), &type);
  ReadRecordDword(record, length, offsetof(CDHOTSPOTBEGIN, Flags), &flags);
  ReadRecordWord(record, length, offsetof(CDHOTSPOTBEGIN, DataLength), &dataLength);
  if (type != kHotspotButton && (flags & kHotspotFormula) == 0)
    return NOERROR;
  const LSXLsiSession* session = state->session;
  const WORD formulaLength = session->result_length;
  const bool inPlace = formulaLength == dataLength && length >= sizeof(CDHOTSPOTBEGIN) + dataLength;
  const DWORD size = inPlace ? length : EvenLength<DWORD>(sizeof(CDHOTSPOTBEGIN) + formulaLength);
  char* data = nullptr;
  const STATUS status =
      RenameRecord(record, length, signature, sizeof(CDHOTSPOTBEGIN), session->result_text,
                   formulaLength, size, output, state, &data);
  if (status != NOERROR)
    return status;
  if (!inPlace) {
    PutWord(data + offsetof(WSIG, Length), static_cast<WORD>(size));
    PutWord(data + offsetof(CDHOTSPOTBEGIN, DataLength), formulaLength);
  }
  state->found = 1;
  return NOERROR;
}

/* ---- row labels ---- */

/* Labels keep at most this many characters before their NUL. */
constexpr DWORD kLongestLabel = sizeof(CDTABLELABEL::Label) - 1;

WORD LabelLength(const chunk_process_state* state) {
  const WORD length = state->p2 < kLongestLabel ? state->p2 : kLongestLabel;
  return state->s1 != nullptr ? static_cast<WORD>(strnlen(state->s1, length)) : 0;
}

/* A new label for the current row, before the record at hand. */
STATUS EmitRowLabel(chunk_process_state* state) {
  if (STATUS status = GenerateTabLabel(0, state->s1 != nullptr ? state->s1 : "", LabelLength(state),
                                       &state->gen);
      status != NOERROR)
    return status;
  StateItem(state)->Modified = 1;
  state->found = 1;
  return NOERROR;
}

/* RowLabel, in the table the chunk opened in: the row's label takes s1; a
 * row without one gets one before its second cell. */
STATUS SetRowLabel(const char* record, WORD signature, DWORD length, chunk_record_output* output,
                   chunk_process_state* state) {
  if (state->depth_table != state->label_depth)
    return NOERROR;
  if (signature == SIG_CD_TABLELABEL) {
    if (state->found != 0 || length < sizeof(CDTABLELABEL))
      return NOERROR;
    char* data = NewOutputRecord(length, signature, output, state);
    if (data == nullptr)
      return VELKO_ERR_MEMORY;
    memcpy(data, record, length);
    char* label = data + offsetof(CDTABLELABEL, Label);
    memset(label, 0, sizeof(CDTABLELABEL::Label));
    const WORD count = LabelLength(state);
    if (count > 0)
      memcpy(label, state->s1, count);
    StateItem(state)->Modified = 1;
    state->found = 1;
    return NOERROR;
  }
  if (!IsTableCell(signature) || length < offsetof(CDTABLECELL, Column) + 1)
    return NOERROR;
  const BYTE column = static_cast<BYTE>(record[offsetof(CDTABLECELL, Column)]);
  if (column == 0) {
    state->found = 0;
    return NOERROR;
  }
  if (column == 1 && state->found == 0)
    return EmitRowLabel(state);
  return NOERROR;
}

/* ---- row keys ---- */

/* Key tables start with room for this many keys and double when full. */
constexpr DWORD kFirstKeyRoom = 255;
/* Cells of this column and beyond give no key. */
constexpr BYTE kFirstUnkeyedColumn = 64;
/* The keyed table: fixed by its first cell, closed at its end. */
constexpr DWORD kKeyTableOpen = 1;
constexpr DWORD kKeyTableClosed = 2;
/* Key texts keep at most this many bytes. */
constexpr DWORD kLongestKeyText = 1023;

/* The room of a key table holding count keys: the first room, doubled as
 * often as the keys needed. */
DWORD KeyRoom(DWORD count) {
  DWORD room = kFirstKeyRoom;
  while (room < count)
    room *= 2;
  return room;
}

/* A new key (both record numbers `record`, no text) at the end of the
 * state's key table, which grows geometrically; 263 when memory runs out. */
STATUS AddKey(DWORD record, chunk_process_state* state) {
  const DWORD count = state->sort_key_count;
  if (count >= 0xFFFF)
    return VELKO_ERR_MEMORY;
  if (state->sort_keys == nullptr) {
    state->sort_keys = static_cast<chunk_sort_key*>(
        VelkoAllocatePtr(state->session, VELKO_HERE, kFirstKeyRoom * sizeof(chunk_sort_key), 1));
  } else if (count == KeyRoom(count)) {
    void* grown = VelkoReallocatePtr(state->session, VELKO_HERE, state->sort_keys,
                                     2 * static_cast<size_t>(count) * sizeof(chunk_sort_key));
    if (grown == nullptr)
      return VELKO_ERR_MEMORY;
    state->sort_keys = static_cast<chunk_sort_key*>(grown);
  }
  if (state->sort_keys == nullptr)
    return VELKO_ERR_MEMORY;
  chunk_sort_key key;
  key.first_record = record;
  key.last_record = record;
  state->sort_keys[count] = key;
  state->sort_key_count = static_cast<WORD>(count + 1);
  return NOERROR;
}

chunk_sort_key* LastKey(chunk_process_state* state) {
  return state->sort_key_count == 0 ? nullptr : &state->sort_keys[state->sort_key_count - 1];
}

/* The text of the current key: a copy of count bytes (cut to the longest
 * key text) in the keys' text arena; none for 0 bytes. A text it replaces
 * stays in the arena until the keys go. */
STATUS SetKeyText(const char* text, DWORD count, chunk_process_state* state) {
  chunk_sort_key* key = LastKey(state);
  if (key == nullptr)
    return NOERROR;
  if (count > kLongestKeyText)
    count = kLongestKeyText;
  char* copy = nullptr;
  if (count > 0) {
    copy = CopyKeyText(state->session, &state->sort_key_texts, text, count);
    if (copy == nullptr)
      return VELKO_ERR_MEMORY;
  }
  key->text = copy;
  key->length = static_cast<WORD>(count);
  state->found = 1;
  return NOERROR;
}

bool StartsWithWord(const char* text, const char* word) {
  return text != nullptr && strncasecmp(text, word, strlen(word)) == 0;
}

/* The table depth as an index of the per-level words. */
DWORD TableLevel(const chunk_process_state* state) {
  if (state->depth_table <= 0)
    return 0;
  return static_cast<DWORD>(state->depth_table) < kEmitterTableLevels
             ? static_cast<DWORD>(state->depth_table)
             : kEmitterTableLevels - 1;
}

bool InKeyedTable(const chunk_process_state* state) {
  return state->key_table_fixed == kKeyTableOpen &&
         state->key_table_begin[TableLevel(state)] == state->key_table;
}

/* The cell opens a row or adds a column to the row's key. */
STATUS KeyCell(const char* record, DWORD length, chunk_process_state* state) {
  if (length < offsetof(CDTABLECELL, Column) + 1)
    return NOERROR;
  const DWORD level = TableLevel(state);
  if (state->key_table_fixed == 0) {
    state->key_table = state->key_table_begin[level];
    state->key_table_fixed = kKeyTableOpen;
  }
  if (!InKeyedTable(state))
    return NOERROR;
  const BYTE row = static_cast<BYTE>(record[offsetof(CDTABLECELL, Row)]);
  const BYTE column = static_cast<BYTE>(record[offsetof(CDTABLECELL, Column)]);
  state->level_row[level] = row;
  state->level_column[level] = column;
  if (column >= kFirstUnkeyedColumn)
    return NOERROR;
  if (column == 0) {
    if (chunk_sort_key* previous = LastKey(state))
      previous->last_record = state->record_counter - 1;
    if (STATUS status = AddKey(state->record_counter, state); status != NOERROR)
      return status;
    state->found = 0;
  }
  chunk_sort_key* key = LastKey(state);
  if (key != nullptr && state->p2 != 0 && (row == 0 || state->p3 > row))
    key->title = 1;
  return NOERROR;
}

/* Action 11: the keys of the rows of one table, from the text of a column,
 * a section title or the row labels as s2 asks. */
STATUS CollectRowKeys(const char* record, WORD signature, DWORD length,
                      chunk_process_state* state) {
  if (IsTableBegin(signature)) {
    state->key_table_begin[TableLevel(state)] = state->record_counter;
    return NOERROR;
  }
  if (IsTableCell(signature))
    return KeyCell(record, length, state);
  if (IsTableEnd(signature)) {
    // The walk has left the ending table's depth already.
    const DWORD ended = TableLevel(state) + 1 < kEmitterTableLevels ? TableLevel(state) + 1
                                                                    : kEmitterTableLevels - 1;
    if (state->key_table_fixed != kKeyTableOpen ||
        state->key_table_begin[ended] != state->key_table)
      return NOERROR;
    if (chunk_sort_key* key = LastKey(state))
      key->last_record = state->record_counter - 1;
    state->key_table_fixed = kKeyTableClosed;
    return NOERROR;
  }
  if (!InKeyedTable(state))
    return NOERROR;
  const DWORD level = TableLevel(state);
  if (state->found != 0 || LastKey(state) == nullptr ||
      state->level_column[level] >= kFirstUnkeyedColumn)
    return NOERROR;
  const bool keyColumn = state->p1 == 0 || state->p1 == state->level_column[level];
  if (signature == SIG_CD_TEXT && length > kEmptyTextRun && keyColumn && state->s2 != nullptr &&
      strcasecmp(state->s2, "TEXT") == 0) {
    const bool titleRow = state->p2 != 0 && state->level_row[level] == 0;
    return SetKeyText(record + sizeof(CDTEXT), titleRow ? 0 : length - kEmptyTextRun, state);
  }
  if (signature == SIG_CD_SECTIONBAR && StartsWithWord(state->s2, "SECTION") &&
      length > kBarFixedPart)
    return SetKeyText(record + kBarFixedPart, length - kBarFixedPart, state);
  if (signature == SIG_CD_TABLELABEL && keyColumn &&
      (StartsWithWord(state->s2, "TABLABEL") || StartsWithWord(state->s2, "ROWLABEL")) &&
      length > offsetof(CDTABLELABEL, Label)) {
    const char* label = record + offsetof(CDTABLELABEL, Label);
    return SetKeyText(
        label, static_cast<DWORD>(strnlen(label, length - offsetof(CDTABLELABEL, Label))), state);
  }
  return NOERROR;
}

} // namespace

STATUS ProcessPropertySetAction(const char* record, WORD signature, DWORD length,
                                chunk_record_output* output, chunk_process_state* state) {
  switch (state->action) {
  case ACTION_SET_SECTION_TITLE:
    return SetSectionTitle(record, signature, length, output, state);
  case ACTION_SET_BUTTON_TEXT:
    return SetButtonText(record, signature, length, output, state);
  case ACTION_SET_ANCHOR_TEXT:
    return SetAnchorText(record, signature, length, output, state);
  case ACTION_EXPAND_PAB_DEFS:
    return ExpandDefinition(record, signature, length, output, state);
  case ACTION_SET_TEXT:
    return SetText(signature, length, output, state);
  case ACTION_SET_ACTION_FORMULA:
    return SetActionFormula(record, signature, length, output, state);
  case ACTION_SET_ROW_LABEL:
    return SetRowLabel(record, signature, length, output, state);
  case ACTION_SET_TARGET_FRAME:
    return SetTargetFrame(record, signature, length, output, state);
  case ACTION_SET_HIDE_FORMULA:
    return SetHideFormula(record, signature, length, output, state);
  case ACTION_SET_PASSTHRU_HTML:
    return SetPassthru(signature, output, state);
  case ACTION_SET_GRAPHIC_STORAGE:
    return SetGraphicStorage(record, signature, length, output, state);
  case ACTION_GET_CELL_COLOR:
    // Cell colours are not read back: the answer stays empty.
    return NOERROR;
  case ACTION_COLLECT_SORT_KEYS:
    return CollectRowKeys(record, signature, length, state);
  case ACTION_COLLECT_SORT_KEY:
    // The chunk's key, made where it opened, reaches to its last record.
    if (chunk_sort_key* key = LastKey(state))
      key->last_record = state->record_counter;
    return NOERROR;
  default:
    return kServiceNotAvailable;
  }
}

STATUS SortKeyAtChunkStart(chunk_process_state* state) {
  state->found = 0;
  return AddKey(state->record_counter, state);
}

STATUS SortKeysAtChunkStop(chunk_process_state* state) {
  // A chunk that closes at the table's end leaves its last row open; the
  // key of a whole chunk reached its last record within the chunk.
  if (state->action == ACTION_COLLECT_SORT_KEYS && state->key_table_fixed == kKeyTableOpen) {
    if (chunk_sort_key* key = LastKey(state))
      key->last_record = state->record_counter - 1;
  }
  return NOERROR;
}

STATUS RowLabelAtChunkStart(chunk_process_state* state) {
  state->label_depth = state->depth_table;
  return NOERROR;
}

STATUS RowLabelAtChunkStop(chunk_process_state* state) {
  // Only a row of the table that is still open and has no label yet gets
  // one here: never a label outside the table, nor a second one.
  if (state->found != 0 || state->label_depth <= 0 || state->depth_table != state->label_depth)
    return NOERROR;
  return EmitRowLabel(state);
}
