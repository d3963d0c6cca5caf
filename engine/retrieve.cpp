/*
 * Finding paragraph definitions among an item's input records:
 * RetrievePABDEF (by PABID, forwards or backwards, from the list's ends or
 * the current record) and SetLastPABID (the highest PABID in use).
 *
 * Reading an item's stored values again, past the loaded body:
 * RetrieveTargetCell (the merged cell over a table cell), RetrieveAllText
 * (all text, or all file data, in one new buffer) and CalculateCRC (length
 * and byte sums as decimal digits). None of them changes a note.
 */
#include "engine/retrieve.h"

#include <stdint.h>
#include <string.h>

#include <new>

#include "engine/process_state.h"
#include "engine/record_fields.h"
#include "engine/stored_items.h"
#include "host/ods.h"
#include "store/rtitem_internal.h"
#include "store/services.h"

namespace {

constexpr WORD kOneInch = 1440;
constexpr WORD kHalfInch = 720;

body_context* InputOf(const chunk_process_state* state) {
  const VelkoRTItem* item = StateItem(state);
  return item != nullptr && item->internal != nullptr ? item->internal->input : nullptr;
}

void WriteDefaultDefinition(chunk_process_state* state) {
  memset(state->retrieved_definition, 0, sizeof state->retrieved_definition);
  CDPABDEFINITION definition = {};
  definition.Header.Signature = SIG_CD_PABDEFINITION;
  definition.Header.Length = sizeof(CDPABDEFINITION);
  definition.LeftMargin = kOneInch;
  definition.FirstLineLeftMargin = kOneInch;
  definition.Tab[0] = kHalfInch;
  memcpy(state->retrieved_definition, &definition, sizeof definition);
}

bool PabidOf(const record_storage* node, WORD* pabid) {
  return node->signature == SIG_CD_PABDEFINITION &&
         ReadRecordWord(node->data, node->length, offsetof(CDPABDEFINITION, PABID), pabid);
}

/* Takes the node when it is a wanted definition whose PABID is not below
 * the one held. */
bool Take(const record_storage* node, chunk_process_state* state) {
  WORD pabid = 0;
  if (!PabidOf(node, &pabid))
    return false;
  if (state->wanted_pabid != kAnyPabid && pabid != state->wanted_pabid)
    return false;
  WORD held = 0;
  memcpy(&held, state->retrieved_definition + offsetof(CDPABDEFINITION, PABID), sizeof held);
  if (pabid < held)
    return false;
  const DWORD size =
      node->length < kParagraphDefinitionArea ? node->length : kParagraphDefinitionArea;
  memset(state->retrieved_definition, 0, sizeof state->retrieved_definition);
  memcpy(state->retrieved_definition, node->data, size);
  state->retrieved_found = 1;
  return true;
}

} // namespace

STATUS RetrievePABDEF(WORD pabid, WORD flags, chunk_process_state* state) {
  state->wanted_pabid = pabid;
  state->retrieved_found = 0;
  WriteDefaultDefinition(state);
  body_context* input = InputOf(state);
  if (input == nullptr)
    return NOERROR;

  const bool fromCurrent = (flags & RETRIEVE_FROM_CURRENT) != 0;
  const bool firstOnly = (flags & RETRIEVE_FIRST_TAKEN) != 0;
  bool taken = false;
  if ((flags & RETRIEVE_BACKWARD) != 0) {
    const record_storage* node = fromCurrent ? state->current_record : input->records;
    if (!fromCurrent) {
      while (node != nullptr && node->next != nullptr)
        node = node->next;
    }
    for (; node != nullptr; node = node->previous) {
      if (Take(node, state)) {
        taken = true;
        if (firstOnly)
          break;
      }
    }
  }
  if ((flags & RETRIEVE_FORWARD) != 0 && !(firstOnly && taken)) {
    const record_storage* node = fromCurrent ? state->current_record : input->records;
    for (; node != nullptr; node = node->next) {
      if (Take(node, state) && firstOnly)
        break;
    }
  }
  return NOERROR;
}

void SetLastPABID(chunk_process_state* state) {
  const body_context* input = InputOf(state);
  if (input == nullptr)
    return;
  for (const record_storage* node = input->records; node != nullptr; node = node->next) {
    WORD pabid = 0;
    if (PabidOf(node, &pabid) && pabid > state->last_pabid)
      state->last_pabid = pabid;
  }
}

/* ---- the merged cell over a table cell ---- */

namespace {

struct target_cell_walk {
  chunk_process_state* state = nullptr;
  DWORD counter = 0;
  DWORD wanted = 0;
  int inner = 0;        /* tables opened after the wanted cell and still open */
  bool stopped = false; /* an answer, or the wanted cell's table ended */
};

/* Stops the enumeration; RetrieveTargetCell turns it into success. */
constexpr STATUS kStopWalk = VELKO_ERR_ITEM_NOT_FOUND;

STATUS TargetCellStep(char* record, WORD signature, DWORD length, void* context) {
  auto* walk = static_cast<target_cell_walk*>(context);
  ++walk->counter;
  // A table nested in a later cell neither ends the wanted cell's table
  // nor has cells that cover it.
  if (walk->counter > walk->wanted) {
    if (IsTableBegin(signature)) {
      ++walk->inner;
      return NOERROR;
    }
    if (IsTableEnd(signature)) {
      if (walk->inner > 0) {
        --walk->inner;
        return NOERROR;
      }
      walk->stopped = true;
      return kStopWalk;
    }
  }
  if (!IsTableCell(signature) || walk->counter < walk->wanted || walk->inner > 0)
    return NOERROR;
  chunk_process_state* state = walk->state;
  DWORD hostLength = length;
  const char* cell = StateItem(state)->ConvertFromCanonicalData(record, signature, &hostLength);
  BYTE row = 0, column = 0, rowSpan = 0, columnSpan = 0;
  if (cell == nullptr || !ReadRecordByte(cell, hostLength, offsetof(CDTABLECELL, Row), &row) ||
      !ReadRecordByte(cell, hostLength, offsetof(CDTABLECELL, Column), &column) ||
      !ReadRecordByte(cell, hostLength, offsetof(CDTABLECELL, RowSpan), &rowSpan) ||
      !ReadRecordByte(cell, hostLength, offsetof(CDTABLECELL, ColumnSpan), &columnSpan))
    return NOERROR; // a cell too short to say covers nothing
  if (walk->counter == walk->wanted) {
    state->p3 = static_cast<WORD>(row + 1);
    state->p4 = static_cast<WORD>(column + 1);
  }
  if (rowSpan < 2 && columnSpan < 2)
    return NOERROR;
  const int wantedRow = state->p3;
  const int wantedColumn = state->p4;
  if (wantedRow >= row - rowSpan + 2 && wantedRow <= row + 1 &&
      wantedColumn >= column - columnSpan + 2 && wantedColumn <= column + 1) {
    state->p1 = static_cast<WORD>(row + 1);
    state->p2 = static_cast<WORD>(column + 1);
    walk->stopped = true;
    return kStopWalk;
  }
  return NOERROR;
}

} // namespace

STATUS RetrieveTargetCell(DWORD recordNumber, chunk_process_state* state) {
  state->p1 = state->p2 = state->p3 = state->p4 = 0;
  state->secondary_status = 0;
  VelkoRTItem* item = StateItem(state);
  if (item == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  const NOTEHANDLE note = state->note != NULLHANDLE ? state->note : item->note;
  const char* name = state->item_name != nullptr ? state->item_name : item->item_name;
  target_cell_walk walk;
  walk.state = state;
  walk.wanted = recordNumber;
  const STATUS status = VisitStoredItems(note, name, [&](const stored_item_value& value) -> STATUS {
    if (value.type != TYPE_COMPOSITE) {
      state->secondary_status = kNotRichTextError;
      return VELKO_ERR_FAILED;
    }
    const STATUS enumerated = EnumCompositeBuffer(value.value, value.length, TargetCellStep, &walk);
    return walk.stopped ? kStopWalk : enumerated;
  });
  if (status == kStopWalk || (status == VELKO_ERR_FAILED && state->secondary_status == 0))
    return NOERROR;
  return status;
}

/* ---- all text or file data of an item ---- */

namespace {

constexpr char kParagraphBlank = ' ';

/* One pass over the records of every item of the name: counting (out is
 * null) or copying into out, which holds `capacity` bytes. */
struct text_pass {
  DWORD paragraph_blanks = 0;
  DWORD file_mode = 0;
  char* out = nullptr;
  DWORD capacity = 0;
  DWORD used = 0;           /* bytes counted or copied */
  DWORD stored_bytes = 0;   /* value bytes of the items walked, type words included */

  void Append(const BYTE* data, DWORD count) {
    if (out == nullptr) {
      used += count;
      return;
    }
    if (count > capacity - used)
      count = capacity - used; // data beyond the size counted is cut
    memcpy(out + used, data, count);
    used += count;
  }
};

/* The fixed part of a stored file record in host form; false when the
 * record is shorter than its stored fixed part. */
template <typename Fixed>
bool ReadFileRecord(const BYTE* record, DWORD length, WORD odsType, Fixed* fixed) {
  const WORD storedSize = ODSLength(odsType);
  if (storedSize == 0 || length < storedSize)
    return false;
  const void* source = record;
  ODSReadMemory(&source, odsType, fixed, 1);
  return true;
}

/* One record of a pass; false ends the walk of this item. */
bool TextPassRecord(text_pass& pass, const BYTE* record, WORD signature, DWORD length) {
  if (pass.file_mode == 0) {
    if (signature == SIG_CD_TEXT && length > sizeof(CDTEXT))
      pass.Append(record + sizeof(CDTEXT), length - static_cast<DWORD>(sizeof(CDTEXT)));
    else if (signature == SIG_CD_PARAGRAPH && pass.paragraph_blanks != 0)
      pass.Append(reinterpret_cast<const BYTE*>(&kParagraphBlank), 1);
    return true;
  }
  if (signature == SIG_CD_FILEHEADER && pass.out == nullptr) {
    CDFILEHEADER header;
    if (ReadFileRecord(record, length, ODS_CDFILEHEADER, &header))
      pass.used = header.FileDataSize;
    return false;
  }
  if (signature == SIG_CD_FILESEGMENT && pass.out != nullptr) {
    CDFILESEGMENT segment;
    if (!ReadFileRecord(record, length, ODS_CDFILESEGMENT, &segment))
      return true;
    const DWORD fixed = ODSLength(ODS_CDFILESEGMENT);
    const DWORD available = length - fixed;
    pass.Append(record + fixed, segment.DataSize < available ? segment.DataSize : available);
  }
  return true;
}

/* Walks the stored records of one item value for the pass. */
STATUS TextPassValue(text_pass& pass, const stored_item_value& value) {
  if (value.type != TYPE_COMPOSITE)
    return VELKO_ERR_FAILED;
  pass.stored_bytes += value.length;
  const auto* data = static_cast<const BYTE*>(OSLockBlock(value.value));
  if (data == nullptr)
    return VELKO_ERR_MEMORY;
  STATUS status = NOERROR;
  DWORD at = sizeof(WORD);
  while (at < value.length && value.length - at >= BSIG_HEADER_SIZE) {
    WORD signature = 0;
    DWORD length = 0;
    if (!ReadStoredHeader(data + at, value.length - at, &signature, &length)) {
      status = VELKO_ERR_FAILED;
      break;
    }
    if (!TextPassRecord(pass, data + at, signature, length))
      break;
    const DWORD step = length + (length & 1);
    if (step >= value.length - at)
      break;
    at += step;
  }
  OSUnlockBlock(value.value);
  return status;
}

STATUS RunTextPass(NOTEHANDLE note, const char* itemName, text_pass& pass) {
  const STATUS status = VisitStoredItems(
      note, itemName, [&](const stored_item_value& value) { return TextPassValue(pass, value); });
  return status == VELKO_ERR_ITEM_NOT_FOUND ? NOERROR : status;
}

} // namespace

STATUS RetrieveAllText(NOTEHANDLE note, const char* itemName, char** buffer, DWORD* length,
                       DWORD paragraphBlanks, DWORD fileMode) {
  if (buffer == nullptr || length == nullptr)
    return VELKO_ERR_MEMORY;
  text_pass count;
  count.paragraph_blanks = paragraphBlanks;
  count.file_mode = fileMode;
  STATUS status = RunTextPass(note, itemName, count);
  if (status != NOERROR)
    return status;
  // A file header can claim any size; data larger than the stored values
  // cannot be there.
  if (count.used > count.stored_bytes)
    return VELKO_ERR_FAILED;

  text_pass copy;
  copy.paragraph_blanks = paragraphBlanks;
  copy.file_mode = fileMode;
  copy.capacity = count.used;
  copy.out = new (std::nothrow) char[static_cast<size_t>(count.used) + 1]();
  if (copy.out == nullptr)
    return VELKO_ERR_MEMORY;
  status = RunTextPass(note, itemName, copy);
  if (status != NOERROR) {
    delete[] copy.out;
    return status;
  }
  copy.out[count.used] = '\0';
  *buffer = copy.out;
  *length = count.used;
  return NOERROR;
}

/* ---- the item checksum ---- */

namespace {

/* Writes the last `digits` decimal digits of value, zero-padded, at out. */
void WriteDigits(char* out, WORD digits, uint64_t value) {
  for (WORD i = digits; i > 0; --i) {
    out[i - 1] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

} // namespace

STATUS CalculateCRC(NOTEHANDLE note, const char* itemName, char* out, WORD lengthDigits,
                    WORD sumDigits) {
  if (out == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  const size_t width = static_cast<size_t>(lengthDigits) + 2 * static_cast<size_t>(sumDigits);
  memset(out, '0', width);
  out[width] = '\0';
  if (lengthDigits == 0 && sumDigits == 0)
    return NOERROR;

  uint64_t totalLength = 0;
  uint64_t plainSum = 0;
  uint64_t weightedSum = 0;
  const STATUS status =
      VisitStoredItems(note, itemName, [&](const stored_item_value& value) -> STATUS {
        totalLength += value.length;
        if (sumDigits == 0)
          return NOERROR;
        const auto* bytes = static_cast<const BYTE*>(OSLockBlock(value.value));
        if (bytes == nullptr)
          return VELKO_ERR_MEMORY;
        const bool first = value.number == 0;
        for (DWORD i = 0; i < value.length; ++i) {
          plainSum += bytes[i];
          if (first)
            weightedSum += static_cast<uint64_t>(bytes[i]) * (i & 127);
        }
        OSUnlockBlock(value.value);
        return NOERROR;
      });
  if (status != NOERROR)
    return status;
  if (lengthDigits > 0)
    WriteDigits(out, lengthDigits, totalLength);
  if (sumDigits > 0) {
    WriteDigits(out + lengthDigits, sumDigits, plainSum);
    WriteDigits(out + lengthDigits + sumDigits, sumDigits, weightedSum);
  }
  return NOERROR;
}
