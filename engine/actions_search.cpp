/*
 * The search and replace actions over the records of an open chunk:
 * replacing a search text (ReplaceTextQuick, 2392, and its same-length
 * variant 2399) in text runs and, by the scope flags, in hotspot data,
 * event records, section titles, hide-when formulas, button and tab
 * labels; removing fields by name (RemoveFields, 2430); finding the last
 * occurrence of a text (2398); and turning occurrences into links built
 * from the chunk's link event data (2385). Also the expander of
 * regular-expression replacement patterns, which nothing calls yet.
 *
 * Text runs go to the text-run routine (ProcessTextStream), which splits
 * a run around its matches. A changed record of another kind is rebuilt in
 * a tracked block that the frame emits in its place: the input records are
 * never written, so a failed operation leaves the item as it was.
 */
#include <stddef.h>
#include <string.h>

#include "engine/generator_states.h"
#include "engine/paragraph_table.h"
#include "engine/process_state.h"
#include "engine/record_fields.h"
#include "engine/search_pattern.h"
#include "engine/services.h"
#include "engine/walk.h"
#include "host/formula.h"
#include "host/osmem.h"
#include "store/owned_text.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"

namespace {

/* ReplaceTextQuick's scope flags (p3). */
enum : WORD {
  kScopeText = 1,
  kScopeNonText = 2,
  kScopeFormula = 4,
  kScopeHideWhen = 8,
  kScopeUrl = 16,
};

/* A rebuilt record larger than this stays as it was (secondary 20017). */
constexpr DWORD kLargestRebuiltRecord = 64382;

/* Hotspot begins (0xFFA9, 0xFFAD): the data after the fixed part. */
constexpr DWORD kHotspotDataAt = sizeof(CDHOTSPOTBEGIN);
constexpr WORD kHotspotTypeFormulaButton = 3;
constexpr WORD kHotspotTypeUrl = 11;
constexpr DWORD kHotspotFlagFormula = 0x0010;
constexpr DWORD kHotspotFlagUrl = 0x1000;
/* Cleared when a hotspot's data changes length. */
constexpr DWORD kHotspotFlagKeptData = 0x00010000;

/* Event records: the texts follow 28 bytes of fixed part in host form. */
constexpr DWORD kEventTextsAt = 28;
constexpr WORD kEventTypeUrl = 1;
constexpr BYTE kEventFlagFormula = 0x01;

/* Section title bars: the title after the fixed part, or after the colour
 * word that follows it. */
constexpr DWORD kBarTitleAt = sizeof(CDBAR);
constexpr DWORD kBarFlagFormulaTitle = 0x2000;
constexpr DWORD kBarFlagTitleColor = 0x04000000;

constexpr DWORD kHideFormulaAt = sizeof(CDPABHIDE);
constexpr DWORD kButtonLabelAt = sizeof(CDBUTTON);
constexpr DWORD kTabLabelAt = offsetof(CDTABLELABEL, Label);
constexpr DWORD kTabLabelRoom = sizeof(CDTABLELABEL::Label);

/* CDFIELD: the lengths of the three formulas before the name, the name's
 * length, and the fixed part they follow. */
constexpr DWORD kFieldDefaultLengthAt = offsetof(CDFIELD, DVLength);
constexpr DWORD kFieldTranslationLengthAt = offsetof(CDFIELD, ITLength);
constexpr DWORD kFieldValidationLengthAt = offsetof(CDFIELD, VFLength);
constexpr DWORD kFieldNameLengthAt = offsetof(CDFIELD, NameLength);
constexpr DWORD kFieldTextsAt = sizeof(CDFIELD);
static_assert(kFieldTextsAt == 40);

/* Where a record's replaceable text lies and how it is replaced. */
struct text_place {
  DWORD at = 0;
  DWORD length = 0;
  bool formula = false;
  DWORD length_word_at = 0; /* the record's data-length word; 0: none */
  bool hotspot = false;
};

WORD WordIn(const char* record, DWORD length, DWORD offset) {
  WORD value = 0;
  ReadRecordWord(record, length, offset, &value);
  return value;
}
DWORD DwordIn(const char* record, DWORD length, DWORD offset) {
  DWORD value = 0;
  ReadRecordDword(record, length, offset, &value);
  return value;
}

DWORD BoundedLength(DWORD recordLength, DWORD at, DWORD wanted) {
  if (at >= recordLength)
    return 0;
  return wanted < recordLength - at ? wanted : recordLength - at;
}

/* Hotspot begins: URL data, plain data (popups, links, ...) or a formula. */
bool HotspotPlace(const char* record, DWORD length, WORD scope, text_place* place) {
  if (length < kHotspotDataAt)
    return false;
  const WORD type = WordIn(record, length, offsetof(CDHOTSPOTBEGIN, Type));
  const DWORD flags = DwordIn(record, length, offsetof(CDHOTSPOTBEGIN, Flags));
  const bool formula = (flags & kHotspotFlagFormula) != 0;
  const bool url = (flags & kHotspotFlagUrl) != 0;
  if ((scope & kScopeUrl) != 0 && type == kHotspotTypeUrl && url && !formula) {
    place->formula = false;
  } else if ((scope & kScopeNonText) != 0 && !formula && !url &&
             (type == 1 || type == kHotspotTypeUrl || type == 22)) {
    place->formula = false;
  } else if ((scope & kScopeFormula) != 0 && (type == kHotspotTypeFormulaButton || formula)) {
    place->formula = true;
  } else {
    return false;
  }
  place->at = kHotspotDataAt;
  place->length = BoundedLength(
      length, kHotspotDataAt, WordIn(record, length, offsetof(CDHOTSPOTBEGIN, DataLength)));
  place->length_word_at = offsetof(CDHOTSPOTBEGIN, DataLength);
  place->hotspot = true;
  return true;
}

/* Event records of a URL: their name, or the formula that gives it. */
bool EventPlace(const char* record, DWORD length, WORD scope, text_place* place) {
  if ((scope & (kScopeNonText | kScopeUrl)) == 0 || length < kEventTextsAt ||
      WordIn(record, length, offsetof(CDRESOURCE, Type)) != kEventTypeUrl)
    return false;
  const DWORD at = kEventTextsAt + WordIn(record, length, offsetof(CDRESOURCE, ServerHintLength)) +
                   WordIn(record, length, offsetof(CDRESOURCE, FileHintLength));
  if (at > length)
    return false;
  place->at = at;
  place->length = BoundedLength(length, at, WordIn(record, length, offsetof(CDRESOURCE, Length1)));
  place->formula = (static_cast<BYTE>(record[offsetof(CDRESOURCE, Flags)]) & kEventFlagFormula) != 0;
  place->length_word_at = offsetof(CDRESOURCE, Length1);
  return true;
}

bool SectionTitlePlace(const char* record, DWORD length, WORD scope, text_place* place) {
  if (length < offsetof(CDBAR, FontID))
    return false;
  const DWORD flags = DwordIn(record, length, offsetof(CDBAR, Flags));
  const DWORD at = kBarTitleAt + ((flags & kBarFlagTitleColor) != 0 ? sizeof(WORD) : 0);
  if (length <= at)
    return false;
  const bool formula = (flags & kBarFlagFormulaTitle) != 0;
  if ((formula && (scope & kScopeFormula) == 0) || (!formula && (scope & kScopeNonText) == 0))
    return false;
  place->at = at;
  place->length = length - at;
  place->formula = formula;
  return true;
}

/* Whole-record texts: a hide-when formula or a button's label. */
bool TailPlace(DWORD length, DWORD at, bool formula, text_place* place) {
  if (length <= at)
    return false;
  place->at = at;
  place->length = length - at;
  place->formula = formula;
  return true;
}

bool FindTextPlace(const char* record, WORD signature, DWORD length, WORD scope,
                   text_place* place) {
  switch (signature) {
  case SIG_CD_HOTSPOTBEGIN:
  case SIG_CD_V4HOTSPOTBEGIN:
    return HotspotPlace(record, length, scope, place);
  case SIG_CD_RESOURCE:
  case SIG_CD_RESOURCE_FF71:
  case SIG_CD_RESOURCE_FF78:
  case SIG_CD_RESOURCE_FF5A:
    return EventPlace(record, length, scope, place);
  case SIG_CD_SECTIONBAR:
    return SectionTitlePlace(record, length, scope, place);
  case SIG_CD_PABHIDE:
    return (scope & kScopeHideWhen) != 0 && TailPlace(length, kHideFormulaAt, true, place);
  case SIG_CD_BUTTON:
    return (scope & kScopeNonText) != 0 && TailPlace(length, kButtonLabelAt, false, place);
  default:
    return false;
  }
}

void SetTooLarge(chunk_process_state* state) {
  state->secondary_status = VELKO_ERR_INVALID_ARGUMENT;
  state->chunk->secondary_status = VELKO_ERR_INVALID_ARGUMENT;
}

/* ---- formulas ---- */

/* Copies the bytes of a host memory block into the session's result text
 * and frees the block; false (the block freed too) when they do not fit. */
bool TakeIntoResultText(DHANDLE handle, WORD length, LSXLsiSession* session) {
  // A block's length word cannot exceed the result text, so it always fits.
  static_assert(VELKO_RESULT_TEXT_SIZE > 0xFFFF);
  bool fits = true;
  const void* bytes = OSLockObject(handle);
  if (bytes == nullptr)
    fits = false;
  if (fits)
    memcpy(session->result_text, bytes, length);
  if (bytes != nullptr)
    OSUnlockObject(handle);
  OSMemFree(handle);
  return fits;
}

/* The formula with the replacement made in its text, compiled again: on
 * success *changed tells whether it changed and the new formula is in the
 * session's result text (*newLength bytes). A failing decompile or compile
 * is returned (it ends the operation); a text that would not fit leaves the
 * formula as it was. */
STATUS ReplaceInFormula(const char* formula, DWORD length, chunk_process_state* state,
                        bool* changed, DWORD* newLength) {
  *changed = false;
  LSXLsiSession* session = state->session;
  memcpy(session->result_text, formula, length); // a record's data always fits
  DHANDLE textHandle = NULLHANDLE;
  WORD textLength = 0;
  if (STATUS status = NSFFormulaDecompile(session->result_text, FALSE, &textHandle, &textLength);
      status != NOERROR)
    return status;
  if (!TakeIntoResultText(textHandle, textLength, session)) {
    SetTooLarge(state);
    return NOERROR;
  }

  char* text = nullptr;
  DWORD replacedLength = 0;
  const STATUS replaced =
      ReplaceOperationText(session->result_text, textLength, state, 0xFFFF, &text, &replacedLength);
  if (replaced == VELKO_ERR_INVALID_ARGUMENT)
    return NOERROR; // too long: the formula stays (the secondary status tells)
  if (replaced != NOERROR || text == nullptr)
    return replaced;

  FORMULAHANDLE compiled = NULLHANDLE;
  WORD compiledLength = 0;
  STATUS status = NSFFormulaCompile(nullptr, 0, text, static_cast<WORD>(replacedLength), &compiled,
                                    &compiledLength, nullptr, nullptr, nullptr, nullptr, nullptr);
  VelkoDeallocatePtr(session, text);
  if (status != NOERROR)
    return status;
  if (!TakeIntoResultText(compiled, compiledLength, session))
    return VELKO_ERR_MEMORY;
  *changed = true;
  *newLength = compiledLength;
  return NOERROR;
}

/* ---- rebuilding a record ---- */

void PutWord(BYTE* at, WORD value) { memcpy(at, &value, sizeof value); }

/* The record with its text replaced by the new data, as the step's output.
 * Data of the old length is written over the old; other data makes a new
 * record of the bytes before the data and the new data, of even length,
 * with its length words set. */
STATUS RebuildRecord(const char* record, WORD signature, DWORD length, const text_place& place,
                     const char* data, DWORD dataLength, chunk_record_output* output,
                     chunk_process_state* state) {
  DWORD size = length;
  if (dataLength != place.length) {
    size = place.at + dataLength;
    size += size & 1;
    if (size > kLargestRebuiltRecord) {
      SetTooLarge(state);
      return NOERROR;
    }
  }
  const DWORD kept = dataLength == place.length ? length : place.at;
  BYTE* built = CopyRecordIntoBlock(record, kept, size, output, state);
  if (built == nullptr)
    return VELKO_ERR_MEMORY;
  memcpy(built + place.at, data, dataLength);
  if (dataLength != place.length) {
    PutWord(built + offsetof(WSIG, Length), static_cast<WORD>(size));
    if (place.length_word_at != 0)
      PutWord(built + place.length_word_at, static_cast<WORD>(dataLength));
    if (place.hotspot) {
      DWORD flags = 0;
      memcpy(&flags, built + offsetof(CDHOTSPOTBEGIN, Flags), sizeof flags);
      flags &= ~kHotspotFlagKeptData;
      memcpy(built + offsetof(CDHOTSPOTBEGIN, Flags), &flags, sizeof flags);
    }
  }
  output->data = reinterpret_cast<const char*>(built);
  output->signature = signature;
  output->length = size;
  StateItem(state)->Modified = 1;
  return NOERROR;
}

STATUS ReplaceInRecord(const char* record, WORD signature, DWORD length, const text_place& place,
                       chunk_record_output* output, chunk_process_state* state) {
  if (place.formula) {
    bool changed = false;
    DWORD newLength = 0;
    if (STATUS status =
            ReplaceInFormula(record + place.at, place.length, state, &changed, &newLength);
        status != NOERROR || !changed)
      return status;
    return RebuildRecord(record, signature, length, place, state->session->result_text, newLength,
                         output, state);
  }
  char* text = nullptr;
  DWORD newLength = 0;
  const STATUS replaced =
      ReplaceOperationText(record + place.at, static_cast<WORD>(place.length), state,
                           kLargestRebuiltRecord - place.at, &text, &newLength);
  if (replaced == VELKO_ERR_INVALID_ARGUMENT)
    return NOERROR; // too long: the record stays (the secondary status tells)
  if (replaced != NOERROR || text == nullptr)
    return replaced;
  const STATUS status =
      RebuildRecord(record, signature, length, place, text, newLength, output, state);
  VelkoDeallocatePtr(state->session, text);
  return status;
}

/* A tab label: replaced, cut to 127 bytes between whole characters and
 * written back into the record's label, which keeps its size. */
STATUS ReplaceInTabLabel(const char* record, WORD signature, DWORD length,
                         chunk_record_output* output, chunk_process_state* state) {
  if (length <= kTabLabelAt + 1)
    return NOERROR;
  const DWORD room = BoundedLength(length, kTabLabelAt, kTabLabelRoom);
  const DWORD labelLength = static_cast<DWORD>(strnlen(record + kTabLabelAt, room));
  char* text = nullptr;
  DWORD newLength = 0;
  const STATUS replaced = ReplaceOperationText(record + kTabLabelAt, static_cast<WORD>(labelLength),
                                               state, kLargestRebuiltRecord, &text, &newLength);
  if (replaced == VELKO_ERR_INVALID_ARGUMENT)
    return NOERROR;
  if (replaced != NOERROR || text == nullptr)
    return replaced;
  const DWORD kept = WholeCharacters(text, newLength, room - 1);
  BYTE* built = CopyRecordIntoBlock(record, length, length, output, state);
  if (built != nullptr) {
    memset(built + kTabLabelAt, 0, room);
    memcpy(built + kTabLabelAt, text, kept);
    output->data = reinterpret_cast<const char*>(built);
    output->signature = signature;
    output->length = length;
    StateItem(state)->Modified = 1;
  }
  VelkoDeallocatePtr(state->session, text);
  return built != nullptr ? STATUS{NOERROR} : STATUS{VELKO_ERR_MEMORY};
}

bool StartsTextRun(const char* record, WORD signature, DWORD length) {
  return signature == SIG_CD_TEXT || signature == SIG_CD_TEXTEFFECT ||
         IsBeginOf(record, signature, length, SIG_CD_TEXT);
}

/* 2392 and 2399. */
STATUS ReplaceText(const char* record, WORD signature, DWORD length, chunk_record_output* output,
                   chunk_process_state* state) {
  const WORD scope = state->p3;
  if (ReplacesInTextRuns(state) && StartsTextRun(record, signature, length)) {
    output->length = 0; // the routine emits the run
    return ProcessTextStream(record, signature, length, state);
  }
  if (state->s2 == nullptr || state->p2 == 0)
    return NOERROR;
  if (signature == SIG_CD_TABLELABEL)
    return (scope & kScopeNonText) != 0
               ? ReplaceInTabLabel(record, signature, length, output, state)
               : STATUS{NOERROR};
  text_place place;
  if (!FindTextPlace(record, signature, length, scope, &place))
    return NOERROR;
  return ReplaceInRecord(record, signature, length, place, output, state);
}

/* ---- removing fields ---- */

bool IsFieldSignature(WORD signature) {
  return signature == SIG_CD_FIELD || signature == SIG_CD_EXTFIELD ||
         signature == SIG_CD_EXT2FIELD || signature == SIG_CD_EMBEDDEDCTL;
}

/* The field's name matches the pattern (s1, p1 bytes of it) whole, with
 * wildcards and without regard to case; a record too short for its name
 * matches nothing. */
bool FieldNameMatches(const record_storage* field, const chunk_process_state* state) {
  const char* record = field->data;
  const DWORD length = field->length;
  if (length < kFieldTextsAt)
    return false;
  const DWORD at = kFieldTextsAt + WordIn(record, length, kFieldDefaultLengthAt) +
                   WordIn(record, length, kFieldTranslationLengthAt) +
                   WordIn(record, length, kFieldValidationLengthAt);
  const WORD nameLength = WordIn(record, length, kFieldNameLengthAt);
  if (at + nameLength > length)
    return false;
  const WORD patternLength = static_cast<WORD>(strnlen(state->s1, state->p1));
  WORD matchLength = patternLength;
  const int32_t found = SearchBuffer(record + at, nameLength, state->s1, patternLength, TRUE, FALSE,
                                     FALSE, FALSE, FALSE, &matchLength,
                                     state->session->internal->nls_info);
  return found >= 0 && matchLength == nameLength;
}

/* The record that ends a removed field: the CDEND of a field bracket
 * when the field starts with its CDBEGIN, else the next CDFIELD. */
bool EndsRemovedField(const record_storage* node, bool fromBegin) {
  if (fromBegin)
    return node->signature == SIG_CD_END && IsFieldSignature(NodeBracket(node));
  return node->signature == SIG_CD_FIELD;
}

STATUS RemoveFields(WORD signature, chunk_record_output* output, chunk_process_state* state) {
  record_storage* current = state->current_record;
  if (current == nullptr)
    return NOERROR;
  if ((current->flags & RECORD_MARKED) != 0) {
    output->length = 0;
    return NOERROR;
  }
  const bool fromBegin = signature == SIG_CD_BEGIN;
  if (!IsFieldSignature(signature) && !(fromBegin && IsFieldSignature(NodeBracket(current))))
    return NOERROR;
  const record_storage* field =
      ScanForward(&state->field_scan, current,
                  [](const record_storage* node) { return node->signature == SIG_CD_FIELD; });
  if (field == nullptr)
    return NOERROR;
  const bool everyField = state->p1 == 0 || state->s1 == nullptr;
  if (!everyField && !FieldNameMatches(field, state))
    return NOERROR;

  output->length = 0;
  body_context* input = StateItem(state)->internal->input;
  for (record_storage* node = current; node != nullptr; node = node->next) {
    MarkRecordForRemoval(input, node);
    if (EndsRemovedField(node, fromBegin))
      break;
  }
  return NOERROR;
}

/* ---- finding, and occurrences to links ---- */

bool TextOfRecord(const char* record, WORD signature, DWORD length, const char** text,
                  WORD* textLength) {
  if (signature != SIG_CD_TEXT || length <= sizeof(CDTEXT))
    return false;
  *text = record + sizeof(CDTEXT);
  *textLength = static_cast<WORD>(length - sizeof(CDTEXT));
  return true;
}

/* The next occurrence of the search text in text[0, length): its offset
 * or -1, and the bytes it covers (at least one). */
int32_t FindNext(const char* text, WORD length, const chunk_process_state* state, WORD* covered) {
  const WORD searchLength = state->p2 != 0 ? state->p2 : static_cast<WORD>(strlen(state->s2));
  const VelkoRTChunk* chunk = state->chunk;
  WORD matchLength = searchLength;
  const int32_t found =
      SearchBuffer(text, length, state->s2, searchLength, state->text_wildcards != 0 ? TRUE : FALSE,
                   chunk->CaseSensitive, chunk->AccentSensitive, chunk->SearchWordBoundaries,
                   chunk->RegularExpression, &matchLength, state->session->internal->nls_info);
  if (found < 0)
    return -1;
  const DWORD left = length - static_cast<DWORD>(found);
  *covered = static_cast<WORD>(matchLength == 0 ? 1 : (matchLength < left ? matchLength : left));
  return found;
}

void KeepMatch(const char* match, WORD length, LSXLsiSession* session) {
  const size_t kept = length < VELKO_SCRATCH_TEXT_SIZE ? length : VELKO_SCRATCH_TEXT_SIZE - 1;
  memcpy(session->scratch_first, match, kept);
  session->scratch_first[kept] = '\0';
}

/* 2398: the last occurrence in the text record stays in the first scratch
 * text. */
STATUS FindText(const char* record, WORD signature, DWORD length, chunk_process_state* state) {
  const char* text = nullptr;
  WORD textLength = 0;
  if (state->s2 == nullptr || !TextOfRecord(record, signature, length, &text, &textLength))
    return NOERROR;
  WORD at = 0;
  WORD covered = 0;
  for (int32_t found; at < textLength &&
                      (found = FindNext(text + at, static_cast<WORD>(textLength - at), state,
                                        &covered)) >= 0;) {
    KeepMatch(text + at + found, covered, state->session);
    at = static_cast<WORD>(at + found + covered);
  }
  return NOERROR;
}

/* 2385: the text record becomes its pieces between the occurrences, each
 * occurrence a link from the chunk's link event data. */
STATUS LinkOccurrences(const char* record, WORD signature, DWORD length,
                       chunk_record_output* output, chunk_process_state* state) {
  const char* text = nullptr;
  WORD textLength = 0;
  if (state->s2 == nullptr || state->gen.link_hotspot != 0 ||
      !TextOfRecord(record, signature, length, &text, &textLength))
    return NOERROR;
  WORD covered = 0;
  int32_t found = FindNext(text, textLength, state, &covered);
  if (found < 0)
    return NOERROR;
  KeepMatch(text + found, covered, state->session);
  StateItem(state)->Modified = 1;
  output->length = 0;

  const CDTEXT header = DefaultTextHeader(state);
  link_operation link = LinkOperation(state);
  WORD at = 0;
  while (found >= 0) {
    const WORD start = static_cast<WORD>(at + found);
    if (start > at) {
      if (STATUS status = GenerateCDText(text + at, start - at, &header, &state->gen);
          status != NOERROR)
        return status;
    }
    if (STATUS status = GenerateLinkFromEventData(text + start, covered, &link); status != NOERROR)
      return status;
    at = static_cast<WORD>(start + covered);
    found = at < textLength ? FindNext(text + at, static_cast<WORD>(textLength - at), state, &covered)
                            : -1;
  }
  if (at < textLength)
    return GenerateCDText(text + at, textLength - at, &header, &state->gen);
  return NOERROR;
}

} // namespace

bool ReplacesInTextRuns(const chunk_process_state* state) { return (state->p3 & kScopeText) != 0; }

STATUS ProcessSearchAction(const char* record, WORD signature, DWORD length,
                           chunk_record_output* output, chunk_process_state* state) {
  switch (state->action) {
  case ACTION_REPLACE_TEXT_QUICK:
  case ACTION_REPLACE_TEXT_SAME_LENGTH:
    return ReplaceText(record, signature, length, output, state);
  case ACTION_REMOVE_FIELDS:
    return RemoveFields(signature, output, state);
  case ACTION_FIND_TEXT:
    return FindText(record, signature, length, state);
  case ACTION_LINK_OCCURRENCES:
    return LinkOccurrences(record, signature, length, output, state);
  default:
    return NOERROR;
  }
}

/* ---- regular-expression replacement patterns ---- */

namespace {

/* Appends bytes to out while room is left (one byte kept for the NUL). */
struct pattern_output {
  char* out;
  WORD capacity;
  WORD used = 0;

  void Add(const char* bytes, DWORD count) {
    for (DWORD i = 0; i < count && used + 1 < capacity; ++i)
      out[used++] = bytes[i];
    out[used] = '\0';
  }
};

void AddGroup(pattern_output* output, const char* text, WORD textLength, const regex_group& group) {
  if (text == nullptr || group.start >= group.end || group.start >= textLength)
    return output->Add("", 0);
  const WORD end = group.end < textLength ? group.end : textLength;
  output->Add(text + group.start, end - group.start);
}

/* The decimal number at the pattern's position, read as far as its digits
 * go (at most five of them count); -1 without a digit. */
long NumberAt(const char* at) {
  if (*at < '0' || *at > '9')
    return -1;
  long number = 0;
  for (int digits = 0; at[digits] >= '0' && at[digits] <= '9'; ++digits) {
    if (digits < 5)
      number = number * 10 + (at[digits] - '0');
  }
  return number;
}

} // namespace

DWORD GenerateBufferFromRegexPattern(char* out, WORD capacity, const char* text, WORD textLength,
                                     const regex_group* groups, int32_t groupCount,
                                     const char* pattern) {
  if (out == nullptr || capacity == 0)
    return 0;
  pattern_output output{out, capacity};
  output.Add("", 0);
  if (pattern == nullptr || pattern[0] == '\0') {
    if (groups != nullptr)
      AddGroup(&output, text, textLength, groups[0]);
    return output.used;
  }
  constexpr long kHighestGroup = 33;
  for (size_t i = 0; pattern[i] != '\0'; ++i) {
    const bool escaped = i > 0 && pattern[i - 1] == '\\';
    const long number =
        pattern[i] == '$' && pattern[i + 1] != '\0' && !escaped ? NumberAt(pattern + i + 1) : -1;
    if (number < 0 || number > kHighestGroup || number > groupCount || groups == nullptr) {
      output.Add(pattern + i, 1);
      continue;
    }
    AddGroup(&output, text, textLength, groups[number]);
    i += number <= 9 ? 1 : 2;
  }
  return output.used;
}
