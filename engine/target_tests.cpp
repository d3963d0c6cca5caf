/*
 * The tests of one clause against one record. MatchInitiator tells whether
 * the record begins a selected occurrence of the clause's target,
 * MatchTerminator whether it ends the current one; the per-type
 * signatures and tests come from target_parameter_table.
 *
 * Not here: running the clauses of a chain per record, accepting,
 * reopening and closing them (engine/start_stop.cpp). The nesting counts
 * these tests read are kept by the per-record step (engine/walk.cpp).
 */
#include <string.h>

#include <initializer_list>

#include "engine/record_fields.h"
#include "engine/target_tests.h"
#include "engine/walk.h"
#include "store/vocabulary.h"

namespace {

constexpr int kStartSignatures = 4;
constexpr int kBracketedStartsTested = 3;
constexpr int kEndSignaturesTested = 5;
constexpr int kMemberSignatures = 7;


/* Hotspot flags an action hotspot needs one of. */
constexpr DWORD kActionHotspotFlags = 0x0010 | 0x0100;

template <typename T> bool InList(const T* list, int count, WORD signature) {
  if (signature == 0)
    return false;
  for (int i = 0; i < count; ++i) {
    if (list[i] == signature)
      return true;
  }
  return false;
}

bool IsEndSignature(const target_parameter* row, WORD signature) {
  return InList(row->end_signatures, kEndSignaturesTested, signature);
}
bool IsMemberSignature(const target_parameter* row, WORD signature) {
  return InList(row->member_signatures, kMemberSignatures, signature);
}
bool HasEndPattern(const target_parameter* row) { return row->end_text_patterns[0] != nullptr; }

bool IsTextLike(WORD type) {
  switch (type) {
  case TARGETTYPE_TEXT:
  case TARGETTYPE_STYLIZEDTEXT:
  case TARGETTYPE_NONBLANKTEXT:
  case TARGETTYPE_HTML:
  case TARGETTYPE_XML:
  case TARGETTYPE_XHTML:
  case TARGETTYPE_DELIMITEDHTML:
    return true;
  default:
    return false;
  }
}

bool IsHotspotFamily(WORD type) {
  switch (type) {
  case TARGETTYPE_BUTTON:
  case TARGETTYPE_SECTION:
  case TARGETTYPE_FILE:
  case TARGETTYPE_HYPERLINK:
  case TARGETTYPE_ACTIONHOTSPOT:
  case TARGETTYPE_POPUP:
  case TARGETTYPE_SUBFORM:
  case TARGETTYPE_COMPUTEDTEXT:
  case TARGETTYPE_URLLINK:
    return true;
  default:
    return false;
  }
}

const record_storage* NextNode(const walk_record& record) {
  return record.node != nullptr ? record.node->next : nullptr;
}

/* ---- text comparisons (ASCII case folded; other bytes compare as they are) ---- */

char Folded(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualIgnoringCase(const char* a, const char* b, DWORD length) {
  for (DWORD i = 0; i < length; ++i) {
    if (Folded(a[i]) != Folded(b[i]))
      return false;
  }
  return true;
}

bool BeginsWith(const char* text, DWORD length, const char* prefix) {
  const DWORD wanted = static_cast<DWORD>(strlen(prefix));
  return wanted <= length && EqualIgnoringCase(text, prefix, wanted);
}

bool EndsWith(const char* text, DWORD length, const char* suffix) {
  const DWORD wanted = static_cast<DWORD>(strlen(suffix));
  return wanted <= length && EqualIgnoringCase(text + length - wanted, suffix, wanted);
}

bool Contains(const char* text, DWORD length, const char* needle) {
  const DWORD wanted = static_cast<DWORD>(strlen(needle));
  if (wanted > length)
    return false;
  for (DWORD at = 0; at + wanted <= length; ++at) {
    if (EqualIgnoringCase(text + at, needle, wanted))
      return true;
  }
  return false;
}

/* ---- the records a test looks at ---- */

/* A text run, a CDBEGIN bracketing one, or a text effect: the run that
 * carries the text (the record itself, or the run after it, directly or
 * after a CDBEGIN bracketing text). */
const record_storage* RunAt(const walk_record& record) {
  if (IsTextRun(record.signature))
    return record.node;
  const record_storage* next = NextNode(record);
  if (next == nullptr)
    return nullptr;
  if (IsBeginOf(record.data, record.signature, record.length, SIG_CD_TEXT))
    return IsTextRun(next->signature) ? next : nullptr;
  if (!IsTextEffect(record.signature))
    return nullptr;
  if (IsTextRun(next->signature))
    return next;
  if (NodeBracket(next) == SIG_CD_TEXT && next->signature == SIG_CD_BEGIN &&
      next->next != nullptr && IsTextRun(next->next->signature))
    return next->next;
  return nullptr;
}

/* The first text run with text from the record on. */
const record_storage* FirstTextFrom(const record_storage* node, chunk_process_state* state) {
  if (node == nullptr)
    return nullptr;
  return ScanForward(&state->text_scan, node, [](const record_storage* at) {
    return IsTextRun(at->signature) && at->length > sizeof(CDTEXT);
  });
}

/* The record a CDBEGIN stands for: the first record after it with the
 * bracketed signature, up to the next CDBEGIN or CDEND, else the record
 * right after it. */
walk_record BracketedRecord(const walk_record& begin) {
  const WORD bracketed = BracketedSignature(begin.data, begin.signature, begin.length);
  const record_storage* after = NextNode(begin);
  for (const record_storage* node = after; node != nullptr && !IsBracket(node->signature);
       node = node->next) {
    if (node->signature == bracketed)
      return RecordOf(node);
  }
  return RecordOf(after);
}

/* The signature a test of member records reads: for a CDBEGIN or CDEND the
 * one it brackets. */
WORD ExaminedSignature(const walk_record& record) {
  if (IsBracket(record.signature))
    return BracketedSignature(record.data, record.signature, record.length);
  return record.signature;
}

/* The id (mode 6) or the name (mode 7) of the next naming record. */
bool NamingText(const record_storage* from, WORD mode, const char** text, DWORD* textLength,
                chunk_process_state* state) {
  if (from == nullptr)
    return false;
  const record_storage* node = ScanForward(&state->naming_scan, from, [](const record_storage* at) {
    return at->signature == SIG_CD_IDNAME || at->signature == SIG_CD_IDNAME2;
  });
  if (node == nullptr || node->length < sizeof(CDIDNAME))
    return false;
  CDIDNAME header;
  memcpy(&header, node->data, sizeof header);
  DWORD offset = sizeof(CDIDNAME);
  DWORD size = header.Length;
  if (mode == MATCH_BY_NAME) {
    offset += static_cast<DWORD>(header.Length) + header.ClassNameLength + header.StyleLength +
              header.TitleLength + header.ExtraLength;
    size = header.NameLength;
  }
  if (offset + size > node->length)
    return false;
  *text = node->data + offset;
  *textLength = size;
  return true;
}

/* ---- the tests of MatchInitiator ---- */

/* The first text run from the record on has text, and no table cell,
 * hotspot end or paragraph reference comes before it. */
bool NonBlankTextFollows(const walk_record& record, chunk_process_state* state) {
  if (record.node == nullptr)
    return false;
  const record_storage* decider =
      ScanForward(&state->nonblank_scan, record.node, [](const record_storage* at) {
        const WORD signature = at->signature;
        return IsTextRun(signature) || IsTableCell(signature) ||
               EqualsValidHotspotEnd(signature) || signature == SIG_CD_PABREFERENCE;
      });
  return decider != nullptr && IsTextRun(decider->signature) && decider->length > sizeof(CDTEXT);
}

/* A text run right after a text run of the same font goes on with that
 * run and begins none of its own: where the clause's start test met that
 * run at the record before, inside the current occurrence of the clause
 * before it (a target's first text record may begin a run). */
bool ContinuesRun(chunkdef_info* clause, const walk_record& record,
                  const chunk_process_state* state) {
  // A record tested again (the clause reopened at it) keeps its answer.
  if (clause->run_record != 0 && clause->run_record == state->record_counter)
    return clause->run_continues != 0;
  DWORD font = 0;
  if (!IsTextRun(record.signature) ||
      !ReadRecordDword(record.data, record.length, offsetof(CDTEXT, FontID), &font)) {
    clause->run_record = 0;
    return false;
  }
  const bool continues = clause->run_record != 0 &&
                         clause->run_record + 1 == state->record_counter &&
                         clause->run_font == font;
  clause->run_record = state->record_counter;
  clause->run_font = font;
  clause->run_continues = continues ? 1 : 0;
  return continues;
}

bool PassesDiscriminator(const target_parameter* row, WORD type, const walk_record& record) {
  const target_discriminator& test = row->discriminator;
  if (test.count != 0) {
    WORD value = 0;
    const DWORD offset = IsHotspotFamily(type) ? CDHOTSPOTBEGIN_TYPE_OFFSET : test.offset;
    if (!ReadRecordWord(record.data, record.length, offset, &value))
      return false;
    if (!InList(test.values, test.count < 4 ? test.count : 4, value))
      return false;
    if (type == TARGETTYPE_ACTIONHOTSPOT) {
      DWORD flags = 0;
      if (!ReadRecordDword(record.data, record.length, CDHOTSPOTBEGIN_FLAGS_OFFSET, &flags) ||
          (flags & kActionHotspotFlags) == 0)
        return false;
    }
  }
  for (const target_mask_test* test2 : {&row->exclude, &row->require}) {
    if (test2->count == 0)
      continue;
    DWORD value = 0;
    if (!ReadRecordDword(record.data, record.length, test2->offset, &value))
      return false;
    bool any = false;
    for (DWORD i = 0; i < test2->count && i < 3; ++i)
      any = any || (value & test2->masks[i]) != 0;
    if (test2 == &row->exclude ? any : !any)
      return false;
  }
  return true;
}

bool TextMatches(const chunkdef_info* clause, const char* text, DWORD length) {
  const char* wanted = clause->match_text;
  switch (clause->match_mode) {
  case MATCH_STARTS:
    return BeginsWith(text, length, wanted);
  case MATCH_ENDS:
    return EndsWith(text, length, wanted);
  case MATCH_SUBSTRING:
    return Contains(text, length, wanted);
  default:
    return strlen(wanted) == length && EqualIgnoringCase(text, wanted, length);
  }
}

/* The match-text test. A row with start patterns (XML, HTML...) always
 * tests the run's beginning against them, also without a match text, so
 * that such a target is never taken for plain text. */
bool PassesMatchText(const chunkdef_info* clause, const target_parameter* row,
                     const walk_record& record, chunk_process_state* state) {
  const bool hasText = clause->match_text != nullptr && clause->match_mode != MATCH_NONE;
  if (!hasText && !HasStartPattern(row))
    return true;
  if (hasText && (clause->match_mode == MATCH_BY_ID || clause->match_mode == MATCH_BY_NAME)) {
    const char* name = nullptr;
    DWORD nameLength = 0;
    if (!NamingText(record.node, clause->match_mode, &name, &nameLength, state))
      return false;
    return strlen(clause->match_text) == nameLength &&
           memcmp(name, clause->match_text, nameLength) == 0;
  }
  const record_storage* run = nullptr;
  if (clause->target_type != TARGETTYPE_TEXT && (hasText || !HasStartPattern(row)))
    run = FirstTextFrom(record.node, state);
  else
    run = RunAt(record);
  const char* text = nullptr;
  DWORD textLength = 0;
  if (!TextOfRun(run, &text, &textLength))
    return false;
  if (hasText)
    return TextMatches(clause, text, textLength);
  for (const char* pattern : row->start_text_patterns) {
    if (pattern != nullptr && BeginsWith(text, textLength, pattern))
      return true;
  }
  return false;
}

/* Inner records of an Inside clause whose target has begun, and of a Row
 * whose Column has: 1 for a record that is not one of the target's own. */
DWORD InsideAnswer(const target_parameter* row, const walk_record& examined,
                   const chunk_process_state* state) {
  const WORD open = InnermostBracket(state);
  if (open != 0 && !IsStartSignature(row, open))
    return IsMemberSignature(row, open) ? 0 : 1;
  return IsMemberSignature(row, ExaminedSignature(examined)) ? 0 : 1;
}

DWORD Occurrence(chunkdef_info* clause, const target_parameter* row, const walk_record& examined) {
  if (clause->target_type == TARGETTYPE_ROW || clause->target_type == TARGETTYPE_COLUMN) {
    BYTE index = 0;
    if (!ReadRecordByte(examined.data, examined.length, row->cell_index_byte, &index))
      return 0;
    return static_cast<DWORD>(index) + 1;
  }
  return clause->occurrence + 1;
}

/* ---- the tests of MatchTerminator ---- */

bool AccompaniesGraphic(const walk_record& record) {
  const WORD signature = record.signature;
  if (signature >= kGraphicPartFirst && signature <= kGraphicPartLast)
    return true;
  switch (signature) {
  case SIG_CD_IMAGESEGMENT:
  case SIG_CD_IMAGEHEADER:
  case SIG_CD_ALTTEXT:
  case SIG_CD_CAPTION:
  case SIG_CD_IDNAME:
  case SIG_CD_MAPELEMENT:
  case SIG_CD_AREAELEMENT:
  case SIG_CD_EVENT:
  case SIG_CD_STORAGELINK:
    return true;
  default:
    break;
  }
  const WORD bracketed = BracketedSignature(record.data, record.signature, record.length);
  return bracketed == SIG_CD_MAPELEMENT || bracketed == SIG_CD_AREAELEMENT;
}

/* The end patterns of XML, HTML, XHTML and DelimitedHTML: the run at the
 * record must end with one of them. At a CDBEGIN the match is remembered,
 * so that the CDEND closing the same text bracket ends the target. */
bool PassesEndPattern(const target_parameter* row, const walk_record& record,
                      chunk_process_state* state) {
  if (IsEndOf(record.data, record.signature, record.length, SIG_CD_TEXT) && state->end_pattern) {
    state->end_pattern = 0;
    return true;
  }
  const char* text = nullptr;
  DWORD textLength = 0;
  if (!TextOfRun(RunAt(record), &text, &textLength))
    return false;
  bool matched = false;
  for (const char* pattern : row->end_text_patterns) {
    if (pattern != nullptr && EndsWith(text, textLength, pattern))
      matched = true;
  }
  if (matched && record.signature == SIG_CD_BEGIN)
    state->end_pattern = 1;
  return matched;
}

/* The answer for targets counted where they end. */
DWORD Selected(const chunkdef_info* clause, DWORD* counted) {
  *counted = 1;
  return IndexSelects(clause, clause->occurrence) ? 1 : 0;
}

bool DepthMatchesPrevious(const chunkdef_info* clause, const chunk_process_state* state) {
  return clause->run_previous == nullptr || clause->run_previous->depth_table == state->depth_table;
}

/* Whether a table end ends the table of a row or column clause: the end of
 * a table nested in one of its cells leaves it open. The table's cells lie
 * at the depth saved in the clause before. */
bool EndsOwnTable(const chunkdef_info* clause, const chunk_process_state* state) {
  return clause->run_previous == nullptr ||
         clause->run_previous->depth_table == state->depth_table + 1;
}

} // namespace

/* ---- shared with the clause machinery (engine/target_tests.h) ---- */

/* The record in hand, with the walk's current node when the data is its. */
walk_record RecordInWalk(const char* data, WORD signature, DWORD length,
                         const chunk_process_state* state) {
  const record_storage* current = state->current_record;
  return {data, signature, length,
          current != nullptr && current->data == data ? current : nullptr};
}

const target_parameter* RowOf(WORD targetType) {
  if (targetType == TARGETTYPE_EVERYTHING || targetType >= kTargetTypeCount)
    return nullptr;
  return &target_parameter_table[targetType - 1];
}

bool IsStartSignature(const target_parameter* row, WORD signature) {
  return InList(row->start_signatures, kStartSignatures, signature);
}
bool HasStartPattern(const target_parameter* row) { return row->start_text_patterns[0] != nullptr; }

bool IsParagraphType(WORD type) {
  return type == TARGETTYPE_PARAGRAPH || type == TARGETTYPE_PARAGRAPHLIST;
}

bool IsRowOrColumn(const chunkdef_info* clause) {
  return clause != nullptr &&
         (clause->target_type == TARGETTYPE_ROW || clause->target_type == TARGETTYPE_COLUMN);
}

walk_record RecordOf(const record_storage* node) {
  if (node == nullptr)
    return {nullptr, 0, 0, nullptr};
  return {node->data, node->signature, node->length, node};
}

bool IndexSelects(const chunkdef_info* clause, DWORD occurrence) {
  if (clause->index_count == 0)
    return true;
  const int count =
      clause->index_count < kMaxDefinitionIndexes ? clause->index_count : kMaxDefinitionIndexes;
  for (int i = 0; i < count; ++i) {
    const DWORD start = clause->index_starts[i];
    const DWORD end = clause->index_ends[i];
    if (end > start ? (occurrence >= start && occurrence <= end) : occurrence == start)
      return true;
  }
  return false;
}

bool RefusedForParagraph(const walk_record& record, WORD previous,
                         const chunk_process_state* state) {
  const WORD signature = record.signature;
  if (signature == SIG_CD_PABREFERENCE &&
      (previous == SIG_CD_PABDEFINITION || previous == SIG_CD_PARAGRAPH ||
       previous == SIG_CD_PABHIDE))
    return true;
  if (signature == SIG_CD_PABDEFINITION) {
    if (previous == SIG_CD_PARAGRAPH)
      return true;
    const record_storage* next = NextNode(record);
    if (next == nullptr || next->signature == SIG_CD_STYLENAME)
      return true;
  }
  return state->ff68_flag != 0 && signature != SIG_CD_LARGEPARAGRAPH;
}

bool DecidedByInnerRecords(const chunkdef_info* clause) {
  if (clause->relation == RELATION_INSIDE && clause->seen != 0)
    return true;
  const chunkdef_info* next = clause->run_next;
  return clause->relation == RELATION_CONTAINS && clause->target_type == TARGETTYPE_ROW &&
         next != nullptr && next->target_type == TARGETTYPE_COLUMN && next->seen != 0;
}

/* The walk's nesting depths at the record, kept in the clause: where an
 * accepted clause lies, and where the target of an Inside clause began
 * until the clause is accepted. */
void KeepDepths(chunkdef_info* clause, const chunk_process_state* state) {
  clause->depth_hotspot = state->depth_hotspot;
  clause->depth_layer = state->depth_layer;
  clause->depth_table = state->depth_table;
  clause->depth_ff68 = state->ff68_flag;
  clause->depth_begin = state->depth_begin;
}

/* Whether the record ends the hotspot or layer that holds the occurrence of
 * a Contains or Inside paragraph clause, so that the paragraph ends before
 * it, whatever follows: the end of the layer it lies in, or a hotspot end
 * (or the end of the bracket around one) that leaves the hotspot it lies
 * in. In a bracketed hotspot the hotspot end comes first, while the depths
 * are still the paragraph's and the hotspot's bracket is the innermost. */
bool EndsParagraphHolder(const chunkdef_info* clause, const walk_record& record,
                         const chunk_process_state* state) {
  if (!IsParagraphType(clause->target_type) ||
      (clause->relation != RELATION_CONTAINS && clause->relation != RELATION_INSIDE))
    return false;
  const WORD signature = record.signature;
  const WORD bracketed = BracketedSignature(record.data, signature, record.length);
  if (signature == SIG_CD_END && bracketed == SIG_CD_LAYER)
    return state->depth_layer < clause->depth_layer;
  const bool hotspotEnd = signature == SIG_CD_HOTSPOTEND || signature == SIG_CD_V4HOTSPOTEND;
  const bool bracketEnd = signature == SIG_CD_END && (bracketed == SIG_CD_V4HOTSPOTEND ||
                                                      bracketed == SIG_CD_HOTSPOTEND);
  if ((!hotspotEnd && !bracketEnd) || state->depth_layer != clause->depth_layer)
    return false;
  if (state->depth_hotspot < clause->depth_hotspot)
    return true;
  // The hotspot end of the bracketed hotspot itself is the one its
  // bracket's end follows: a hotspot nested in it without a bracket of its
  // own ends at the same depths and leaves the paragraph open.
  const WORD open = InnermostBracket(state);
  const record_storage* next = NextNode(record);
  return hotspotEnd && state->depth_hotspot == clause->depth_hotspot &&
         state->depth_begin == clause->depth_begin &&
         (open == SIG_CD_V4HOTSPOTBEGIN || open == SIG_CD_HOTSPOTBEGIN ||
          open == SIG_CD_RESOURCELINKBEGIN) &&
         next != nullptr && next->signature == SIG_CD_END &&
         IsHotspotEnd(BracketedSignature(next->data, next->signature, next->length));
}

DWORD MatchInitiator(chunkdef_info* clause, const char* data, WORD signature, DWORD length,
                     WORD previous, DWORD* complete, chunk_process_state* state) {
  *complete = 0;
  const target_parameter* row = clause != nullptr ? RowOf(clause->target_type) : nullptr;
  if (row == nullptr)
    return 0;
  const WORD type = clause->target_type;
  const walk_record record = RecordInWalk(data, signature, length, state);

  if (signature == SIG_CD_HOTSPOTBEGIN && previous == SIG_CD_V4HOTSPOTBEGIN)
    return 0;
  if (type == TARGETTYPE_STYLIZEDTEXT && ContinuesRun(clause, record, state))
    return 0;
  if (IsParagraphType(type) && RefusedForParagraph(record, previous, state))
    return 0;
  if (IsTextLike(type) && IsTextEffect(previous) &&
      (IsTextRun(signature) || IsBeginOf(data, signature, length, SIG_CD_TEXT) ||
       IsBeginOf(data, signature, length, SIG_CD_BIDI_TEXT)))
    return 0;
  if (type == TARGETTYPE_NONBLANKTEXT && !NonBlankTextFollows(record, state))
    return 0;
  if (type == TARGETTYPE_TABLE && IsTableBegin(signature) && state->pretable_flag != 0)
    return 0;

  walk_record examined = record;
  if (signature == SIG_CD_BEGIN) {
    // Inside meets the bracketed begin of its target as one of the
    // target's own records; a Record is numbered alike whatever the
    // relation, a CDBEGIN being none.
    const WORD bracketed = BracketedSignature(data, signature, length);
    if ((clause->relation != RELATION_INSIDE || type == TARGETTYPE_RECORD) &&
        !InList(row->bracketed_start_signatures, kBracketedStartsTested, bracketed))
      return 0;
    examined = BracketedRecord(record);
    if (examined.data == nullptr)
      return 0;
  }

  if (DecidedByInnerRecords(clause))
    return InsideAnswer(row, examined, state);

  const WORD open = InnermostBracket(state);
  if (open != 0 && IsStartSignature(row, open) && signature != SIG_CD_BEGIN)
    return 0;

  const bool firstRecord = state->record_counter == 1;
  if (type != TARGETTYPE_RECORD && !IsStartSignature(row, examined.signature) &&
      !(IsParagraphType(type) && firstRecord))
    return 0;

  if (IsRowOrColumn(clause) && IsTableCell(examined.signature) &&
      !DepthMatchesPrevious(clause, state))
    return 0;
  if (!PassesDiscriminator(row, type, examined))
    return 0;
  if (!PassesMatchText(clause, row, record, state))
    return 0;

  clause->occurrence = Occurrence(clause, row, examined);
  if (!IndexSelects(clause, clause->occurrence))
    return 0;

  if (signature == SIG_CD_BEGIN || (IsTextLike(type) && IsTextEffect(signature)))
    *complete = 0;
  else
    *complete = row->flags[kTargetFlagStartRecordAlone];

  if (type == TARGETTYPE_STYLIZEDTEXT && IsTextRun(signature) && length >= sizeof(CDTEXT))
    memcpy(&clause->font_id, data + offsetof(CDTEXT, FontID), sizeof clause->font_id);

  if (clause->relation == RELATION_INSIDE && IsMemberSignature(row, ExaminedSignature(examined))) {
    // A target that is whole at its one record holds nothing to be inside.
    // Of a longer one the level is kept, where its end is looked for
    // while only its own records follow.
    if (*complete == 0) {
      clause->seen = 1;
      clause->seen_bracket = signature == SIG_CD_BEGIN ? 1 : 0;
      KeepDepths(clause, state);
    }
    return 0;
  }
  return 1;
}

DWORD MatchTerminator(chunkdef_info* clause, const char* data, WORD signature, DWORD length,
                      WORD previous, DWORD* counted, DWORD* ended, DWORD matchedNow,
                      chunk_process_state* state) {
  *ended = 0;
  *counted = 0;
  const target_parameter* row = clause != nullptr ? RowOf(clause->target_type) : nullptr;
  if (row == nullptr)
    return 0;
  const WORD type = clause->target_type;
  const walk_record record = RecordInWalk(data, signature, length, state);
  const DWORD endsOutside = row->flags[kTargetFlagEndOutside];

  if (signature == SIG_CD_HOTSPOTBEGIN && previous == SIG_CD_V4HOTSPOTBEGIN)
    return 0;
  if (HasEndPattern(row) && !PassesEndPattern(row, record, state))
    return 0;
  if (EndsParagraphHolder(clause, record, state)) {
    *ended = 1;
    return 1;
  }

  if (signature == SIG_CD_END) {
    const WORD bracketed = BracketedSignature(data, signature, length);
    if (type == TARGETTYPE_OLEOBJECT) {
      if (bracketed != SIG_CD_OLEBEGIN)
        return 0;
    } else if (type == TARGETTYPE_GRAPHIC) {
      const record_storage* next = NextNode(record);
      if (bracketed == SIG_CD_GRAPHIC && next != nullptr && next->signature == SIG_CD_BEGIN &&
          NodeBracket(next) == SIG_CD_MAPELEMENT)
        return 0;
      if (bracketed == SIG_CD_MAPELEMENT || bracketed == SIG_CD_AREAELEMENT)
        return 0;
      *ended = bracketed == SIG_CD_GRAPHIC ? 0 : endsOutside;
      return Selected(clause, counted);
    } else if ((type == TARGETTYPE_STYLIZEDTEXT || type == TARGETTYPE_RAWTEXT) &&
               bracketed == SIG_CD_LAYER && state->depth_layer < clause->depth_layer) {
      // The end of the layer the run lies in ends the run and is no part
      // of it.
      *ended = 1;
      return 1;
    } else if (type != TARGETTYPE_RECORD && !IsEndSignature(row, bracketed)) {
      return 0;
    }
    if (type != TARGETTYPE_RECORD)
      *ended = endsOutside;
    return Selected(clause, counted);
  }

  const WORD open = InnermostBracket(state);
  if (open != 0 && IsStartSignature(row, open)) {
    if (clause->relation == RELATION_INSIDE && IsEndSignature(row, signature))
      return 1;
    return 0;
  }

  switch (type) {
  case TARGETTYPE_STYLIZEDTEXT:
  case TARGETTYPE_RAWTEXT: {
    if (!IsTextRun(signature)) {
      // A paragraph record that ends the run is its last record; any other
      // (a table's begin or end, a hotspot's end, a graphic, an anchor) is
      // no part of it, so that removing the run leaves what follows whole.
      if (signature != SIG_CD_PARAGRAPH)
        *ended = 1;
      return 1;
    }
    DWORD font = 0;
    if (type == TARGETTYPE_STYLIZEDTEXT &&
        (!ReadRecordDword(data, length, offsetof(CDTEXT, FontID), &font) ||
         font != clause->font_id))
      return 1;
    return 0;
  }
  case TARGETTYPE_ROW:
    if (IsTableEnd(signature))
      return EndsOwnTable(clause, state);
    if (IsTableCell(signature) && DepthMatchesPrevious(clause, state)) {
      // A new row begins at column 0, and at a cell of another row where
      // no cell of column 0 is left.
      BYTE column = 0;
      BYTE cellRow = 0;
      if (!ReadRecordByte(data, length, CDTABLECELL_COLUMN_OFFSET, &column))
        return 0;
      return column == 0 ||
             (clause->occurrence != 0 &&
              ReadRecordByte(data, length, CDTABLECELL_ROW_OFFSET, &cellRow) &&
              static_cast<DWORD>(cellRow) + 1 != clause->occurrence);
    }
    return 0;
  case TARGETTYPE_COLUMN:
    if (IsTableEnd(signature))
      return EndsOwnTable(clause, state);
    return IsTableCell(signature) && DepthMatchesPrevious(clause, state);
  case TARGETTYPE_PARAGRAPH:
  case TARGETTYPE_PARAGRAPHLIST: {
    if (matchedNow == 0 && (signature == SIG_CD_PARAGRAPH ||
                            (signature == SIG_CD_PABREFERENCE && previous != SIG_CD_PARAGRAPH &&
                             previous != SIG_CD_PABDEFINITION) ||
                            IsTableStructure(signature))) {
      *ended = endsOutside;
      return 1;
    }
    WORD word = 0;
    return signature == SIG_CD_LARGEPARAGRAPH &&
           ReadRecordWord(data, length, offsetof(CDLARGEPARAGRAPH, Flags), &word) &&
           (word & CDLARGEPARAGRAPH_END) != 0;
  }
  case TARGETTYPE_GRAPHIC:
    if (AccompaniesGraphic(record) && !(signature == SIG_CD_GRAPHIC && matchedNow == 0))
      return 0;
    *ended = endsOutside;
    return Selected(clause, counted);
  case TARGETTYPE_RECORD:
    return Selected(clause, counted);
  default:
    if (!IsEndSignature(row, signature))
      return 0;
    *ended = endsOutside;
    return Selected(clause, counted);
  }
}
