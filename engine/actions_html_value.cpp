/*
 * The HTML identity texts of tables and cells (action 2422, which no
 * method issues): one of the six texts of an identity record (ID, class,
 * style, title, other, name) is set, in the chunk's existing identity
 * records or in new ones that hold that text alone: a table's record in a
 * bracket before its CDPRETABLEBEGIN, a cell's among the cell's records,
 * after the cell record. A Table chunk opens after the bracket of its
 * table's identity record: a table that has one gets no second one there.
 *
 * p1 chooses the text (1 name, 2 ID, 3 class, 4 style, 5 title, any other
 * the other attributes), p2 the level (0 any, 1 table, 2 cell), s2 is the
 * new text.
 */
#include <string.h>

#include <string>

#include "engine/paragraph_table.h"
#include "engine/process_state.h"
#include "engine/record_fields.h"
#include "engine/services.h"
#include "store/emitter.h"
#include "store/tracked_memory.h"
#include "store/vocabulary.h"
#include "velko/status.h"

namespace {

constexpr int kIdentityTexts = 6;
/* p2: the level of the records set. */
constexpr WORD kAnyLevel = 0;
constexpr WORD kTableLevel = 1;
constexpr WORD kCellLevel = 2;

/* The place of the chosen text among the record's six (ID, class, style,
 * title, other, name). */
int ChosenText(WORD part) {
  switch (part) {
  case 1:
    return 5;
  case 2:
    return 0;
  case 3:
    return 1;
  case 4:
    return 2;
  case 5:
    return 3;
  default:
    return 4;
  }
}

const char* NewText(const chunk_process_state* state) {
  return state->s2 != nullptr ? state->s2 : "";
}

/* An identity record of the signature with the six texts, its length
 * made even; 1028 when it would be longer than a record can be. */
STATUS BuildIdentity(WORD signature, const std::string (&texts)[kIdentityTexts],
                     std::string* built) {
  size_t length = sizeof(CDIDNAME);
  for (const std::string& text : texts)
    length += text.size();
  length += length & 1;
  if (length > kLargestEmittedRecord)
    return kServiceNotAvailable;
  CDIDNAME header = {};
  header.Header.Signature = signature;
  header.Header.Length = static_cast<WORD>(length);
  WORD* lengths[kIdentityTexts] = {&header.Length,      &header.ClassNameLength,
                                   &header.StyleLength, &header.TitleLength,
                                   &header.ExtraLength, &header.NameLength};
  for (int i = 0; i < kIdentityTexts; ++i)
    *lengths[i] = static_cast<WORD>(texts[i].size());
  built->assign(reinterpret_cast<const char*>(&header), sizeof header);
  for (const std::string& text : texts)
    built->append(text);
  built->resize(length, '\0');
  return NOERROR;
}

/* A new identity record holding the chosen text alone. */
STATUS EmitNewIdentity(WORD signature, chunk_process_state* state) {
  std::string texts[kIdentityTexts];
  texts[ChosenText(state->p1)] = NewText(state);
  std::string record;
  if (STATUS status = BuildIdentity(signature, texts, &record); status != NOERROR)
    return status;
  StateItem(state)->Modified = 1;
  return CopyCDUpdated(record.data(), signature, static_cast<DWORD>(record.size()), &state->gen);
}

/* The existing record with the chosen text replaced, held as the step's
 * output; a record too short for its texts stays as it is. */
STATUS RebuildIdentity(const char* record, WORD signature, DWORD length,
                       chunk_record_output* output, chunk_process_state* state) {
  if (length < sizeof(CDIDNAME))
    return NOERROR;
  CDIDNAME header;
  memcpy(&header, record, sizeof header);
  const WORD lengths[kIdentityTexts] = {header.Length,      header.ClassNameLength,
                                        header.StyleLength, header.TitleLength,
                                        header.ExtraLength, header.NameLength};
  std::string texts[kIdentityTexts];
  DWORD at = sizeof(CDIDNAME);
  for (int i = 0; i < kIdentityTexts; ++i) {
    if (at + lengths[i] > length)
      return NOERROR;
    texts[i].assign(record + at, lengths[i]);
    at += lengths[i];
  }
  texts[ChosenText(state->p1)] = NewText(state);
  std::string rebuilt;
  if (STATUS status = BuildIdentity(signature, texts, &rebuilt); status != NOERROR)
    return status;
  velko_allocation* block = VelkoAllocate(state->session, VELKO_HERE, rebuilt.size(), 1);
  if (block == nullptr || block->data == nullptr)
    return VELKO_ERR_MEMORY;
  memcpy(block->data, rebuilt.data(), rebuilt.size());
  output->block = block;
  output->data = static_cast<const char*>(block->data);
  output->length = static_cast<DWORD>(rebuilt.size());
  StateItem(state)->Modified = 1;
  state->table_done = 1;
  return NOERROR;
}

/* The table already has its identity record: a bracket of it ends right
 * before the node. */
bool HasTableIdentity(const record_storage* node) {
  const record_storage* end = node != nullptr ? node->previous : nullptr;
  if (end == nullptr || !IsEndOf(end->data, end->signature, end->length, SIG_CD_PRETABLEBEGIN))
    return false;
  for (const record_storage* at = end->previous; at != nullptr; at = at->previous) {
    if (at->signature == SIG_CD_IDNAME)
      return true;
    if (IsBracket(at->signature))
      return false;
  }
  return false;
}

bool SetsTables(WORD level) { return level == kAnyLevel || level == kTableLevel; }
bool SetsCells(WORD level) { return level == kAnyLevel || level == kCellLevel; }

} // namespace

STATUS SetHtmlValue(const char* record, WORD signature, DWORD length,
                    chunk_record_output* output, chunk_process_state* state) {
  const WORD level = state->p2;
  if ((signature == SIG_CD_IDNAME && SetsTables(level)) ||
      (signature == SIG_CD_IDNAME2 && SetsCells(level)))
    return RebuildIdentity(record, signature, length, output, state);

  if (level == kTableLevel && signature == SIG_CD_PRETABLEBEGIN && state->table_done == 0) {
    // Once: the table's record, in the bracket opened for it where the
    // chunk opened, or in one of its own.
    state->table_done = 1;
    if (state->html_bracket_open == 0) {
      if (STATUS status = GenerateCDBegin(SIG_CD_PRETABLEBEGIN, 1, &state->gen); status != NOERROR)
        return status;
    }
    state->html_bracket_open = 0;
    if (STATUS status = EmitNewIdentity(SIG_CD_IDNAME, state); status != NOERROR)
      return status;
    return GenerateCDEnd(SIG_CD_PRETABLEBEGIN, 1, &state->gen);
  }

  if (level == kCellLevel && (IsTableCell(signature) || IsTableEnd(signature))) {
    // The cell before this record gets its record here, unless it had one
    // or lies outside the chunk.
    if (state->html_cell_open != 0 && state->table_done == 0) {
      if (STATUS status = EmitNewIdentity(SIG_CD_IDNAME2, state); status != NOERROR)
        return status;
    }
    const bool cell = IsTableCell(signature);
    state->html_cell_open = cell ? 1 : 0;
    state->table_done = cell ? 0 : 1;
    return NOERROR;
  }
  if (IsTableBegin(signature) && SetsCells(level)) {
    state->html_cell_open = 0;
    state->table_done = 0;
  }
  return NOERROR;
}

STATUS HtmlValueAtChunkStart(WORD signature, chunk_process_state* state) {
  state->html_bracket_open = 0;
  state->html_cell_open = 0;
  if (state->p2 != kTableLevel || signature != SIG_CD_PRETABLEBEGIN ||
      state->chunk->target_type != TARGETTYPE_TABLE)
    return NOERROR;
  // A table whose record stands before the chunk gets no second one (the
  // record is changed where a chunk holds it).
  if (HasTableIdentity(state->current_record)) {
    state->table_done = 1;
    return NOERROR;
  }
  state->html_bracket_open = 1;
  StateItem(state)->Modified = 1;
  return GenerateCDBegin(SIG_CD_PRETABLEBEGIN, 1, &state->gen);
}

STATUS HtmlValueAtChunkStop(chunk_process_state* state) {
  const WORD type = state->chunk->target_type;
  if (state->table_done != 0 || !SetsCells(state->p2) ||
      (type != TARGETTYPE_ROW && type != TARGETTYPE_COLUMN))
    return NOERROR;
  state->table_done = 1;
  return EmitNewIdentity(SIG_CD_IDNAME2, state);
}
