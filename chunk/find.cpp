/*
 * The find methods of a chunk: FindNamedChunk (a table, button or layer by
 * its name) and FindTextChunk (a text run by its text and font), and the
 * searches behind them over the item's loaded records. Both number their
 * elements from the start of the item, so that the caller can address the
 * one found as a chunk ("Table 3").
 *
 * The chunk's record range comes from the engine (query action 1); the
 * searches only read the record list.
 */
#include "chunk/find.h"

#include <stdint.h>
#include <string.h>
#include <strings.h>

#include "chunk/font_override.h"
#include "chunk/rtchunk_internal.h"
#include "chunk/search.h"
#include "engine/chunkdef.h"
#include "engine/forward_scan.h"
#include "engine/record_fields.h"
#include "host/nls.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"

namespace {

/* The largest element number a definition can address. */
constexpr DWORD kLargestElementNumber = 0xFFFF;
/* A last record number past every record. */
constexpr DWORD kNoUpperBound = 0xFFFFFFFF;

/* Where a name lies in the records of a named element. */
constexpr DWORD kIdNameTextOffset = sizeof(CDIDNAME);
constexpr DWORD kButtonLabelOffset = sizeof(CDBUTTON);

/* The chunk's search flags and the session's character set. */
struct search_flags {
  BOOL wildcards = FALSE;
  BOOL case_sensitive = FALSE;
  BOOL accent_sensitive = FALSE;
  BOOL word_boundaries = FALSE;
  BOOL regular_expression = FALSE;
  NLS_PINFO info = nullptr;
};

search_flags FlagsOf(const VelkoRTChunk& chunk) {
  search_flags flags;
  flags.wildcards = chunk.TextWildcards != 0;
  flags.case_sensitive = chunk.CaseSensitive != 0;
  flags.accent_sensitive = chunk.AccentSensitive != 0;
  flags.word_boundaries = chunk.SearchWordBoundaries != 0;
  flags.regular_expression = chunk.RegularExpression != 0;
  if (chunk.session != nullptr && chunk.session->internal != nullptr)
    flags.info = chunk.session->internal->nls_info;
  return flags;
}

/* Which single-byte characters of a text can begin a match of the
 * pattern: the first character of the pattern compared, under the search's
 * flags, with every byte that is a character of its own; a lead byte of a
 * longer character always can. A text none of whose bytes can begin a
 * match holds no match, which spares the search of texts that cannot
 * match. Not used (every text is searched) for a pattern that begins with
 * a wildcard or a character of more than one byte.
 *
 * Texts are mostly printable ASCII, where a letter's first character can
 * begin a match at its two cases only: when at most two printable ASCII
 * bytes can, eight bytes at a time are tested for those two and for any
 * byte outside printable ASCII, and only a group that holds one is looked
 * up byte by byte. */
class first_character_filter {
public:
  void Build(const char* pattern, WORD patternLength, const search_flags& flags) {
    used_ = false;
    if (patternLength == 0)
      return;
    const auto first = static_cast<BYTE>(pattern[0]);
    if (NLS_isleadbyte(first, flags.info) || (flags.wildcards && (first == '?' || first == '*')))
      return;
    WORD compareFlags = 0;
    if (flags.case_sensitive)
      compareFlags |= INTL_CASE_SENSITIVE;
    if (flags.accent_sensitive)
      compareFlags |= INTL_ACCENT_SENSITIVE;
    int printable = 0;
    for (int byte = 0; byte < 256; ++byte) {
      const char text = static_cast<char>(byte);
      can_begin_[byte] = NLS_isleadbyte(static_cast<BYTE>(byte), flags.info) ||
                         IntlTextCompare(pattern, 1, &text, 1, compareFlags) == 0;
      if (can_begin_[byte] && byte >= kFirstPrintable && byte < kFirstHigh) {
        if (printable < 2)
          printable_[printable] = static_cast<BYTE>(byte);
        ++printable;
      }
    }
    grouped_ = printable <= 2;
    if (printable == 1)
      printable_[1] = printable_[0];
    if (printable == 0)
      printable_[0] = printable_[1] = kFirstHigh; // never a printable byte
    used_ = true;
  }

  bool MayMatch(const char* text, DWORD length) const {
    if (!used_)
      return true;
    DWORD i = 0;
    if (grouped_) {
      const uint64_t first = kOnes * printable_[0];
      const uint64_t second = kOnes * printable_[1];
      for (; i + 8 <= length; i += 8) {
        uint64_t group = 0;
        memcpy(&group, text + i, sizeof group);
        const uint64_t flagged = (group & kHighBits) | Below(group, kFirstPrintable) |
                                 ZeroByte(group ^ first) | ZeroByte(group ^ second);
        if (flagged != 0 && AnyCanBegin(text + i, 8))
          return true;
      }
    }
    return AnyCanBegin(text + i, length - i);
  }

private:
  static constexpr int kFirstPrintable = 0x20;
  static constexpr int kFirstHigh = 0x80;
  static constexpr uint64_t kOnes = 0x0101010101010101ULL;
  static constexpr uint64_t kHighBits = 0x8080808080808080ULL;

  /* Non-zero when a byte of the group is 0 (or, for Below, under n <= 0x80). */
  static uint64_t ZeroByte(uint64_t group) { return (group - kOnes) & ~group & kHighBits; }
  static uint64_t Below(uint64_t group, int n) {
    return (group - kOnes * static_cast<uint64_t>(n)) & ~group & kHighBits;
  }

  bool AnyCanBegin(const char* text, DWORD length) const {
    for (DWORD i = 0; i < length; ++i) {
      if (can_begin_[static_cast<BYTE>(text[i])])
        return true;
    }
    return false;
  }

  bool used_ = false;
  bool grouped_ = false;
  BYTE printable_[2] = {};
  bool can_begin_[256] = {};
};

/* What a search looks for, and the range the element must reach into. */
struct find_request {
  find_request(int within, DWORD first, DWORD last, const char* pattern, WORD patternLength,
               WORD mode, const search_flags& flags)
      : within(within), first(first), last(last), pattern(pattern),
        pattern_length(patternLength), mode(mode), flags(flags) {
    filter.Build(pattern, patternLength, flags);
  }

  int within = 0;
  DWORD first = 0;
  DWORD last = 0;
  const char* pattern = nullptr;
  WORD pattern_length = 0;
  WORD mode = 0;
  search_flags flags;
  first_character_filter filter;

  bool InRange(DWORD ordinal) const {
    return within != 0 ? ordinal >= first && ordinal <= last : ordinal > last;
  }
  /* No later record can be in range. */
  bool PastRange(DWORD ordinal) const { return within != 0 && ordinal > last; }

  bool Matches(const char* text, DWORD length) const {
    // The modes that need the pattern found fail at once for a text where
    // it cannot begin.
    const bool needsFind = mode >= FIND_MATCH_EXACT && mode <= FIND_MATCH_SUBSTRING;
    if (needsFind && !filter.MayMatch(text, length))
      return false;
    const WORD textLength = length > 0xFFFF ? 0xFFFF : static_cast<WORD>(length);
    return MatchStringInBuffer(text, textLength, pattern, pattern_length, mode, flags.wildcards,
                               flags.case_sensitive, flags.accent_sensitive,
                               flags.word_boundaries, flags.regular_expression, nullptr,
                               flags.info) != 0;
  }
};

const record_storage* FirstRecord(VelkoRTChunk* chunk) {
  body_context* body = ItemBody(chunk->item);
  return body != nullptr ? body->records : nullptr;
}

WORD ElementNumber(DWORD count) { return count > kLargestElementNumber ? 0 : static_cast<WORD>(count); }

/* How the elements of one target type are bracketed and named. */
struct named_kind {
  WORD bracket = 0;     /* the signature its CDBEGIN/CDEND brackets */
  WORD name_record = 0; /* the record inside the bracket that holds the name */
};

bool KindOf(WORD targetType, named_kind* kind) {
  switch (targetType) {
  case TARGETTYPE_TABLE:
    *kind = {SIG_CD_PRETABLEBEGIN, SIG_CD_IDNAME};
    return true;
  case TARGETTYPE_LAYER:
    *kind = {SIG_CD_LAYER, SIG_CD_IDNAME};
    return true;
  case TARGETTYPE_BUTTON:
    *kind = {SIG_CD_BUTTON, SIG_CD_BUTTON};
    return true;
  default:
    return false;
  }
}

/* The name a name record holds; false for a record too short to hold one. */
bool NameOf(const record_storage* node, const char** name, DWORD* length) {
  if (node->signature == SIG_CD_BUTTON) {
    if (node->length < kButtonLabelOffset)
      return false;
    *name = node->data + kButtonLabelOffset;
    *length = node->length - kButtonLabelOffset;
    return true;
  }
  WORD nameLength = 0;
  if (node->length < kIdNameTextOffset ||
      !ReadRecordWord(node->data, node->length, offsetof(CDIDNAME, Length), &nameLength))
    return false;
  *name = node->data + kIdNameTextOffset;
  const DWORD room = node->length - kIdNameTextOffset;
  *length = nameLength < room ? nameLength : room;
  return true;
}

/* The name record of the bracket opened at `begin`, up to its CDEND; null
 * when it has none. The search meets the begins in order, so `look` reads
 * nested or unclosed brackets through once. */
const record_storage* NameRecordAfter(const record_storage* begin, const named_kind& kind,
                                      forward_scan* look) {
  const record_storage* stop = ScanForward(look, begin->next, [&kind](const record_storage* node) {
    return node->signature == kind.name_record ||
           IsEndOf(node->data, node->signature, node->length, kind.bracket);
  });
  return stop != nullptr && stop->signature == kind.name_record ? stop : nullptr;
}

/* The colour value of the CDCOLOR inside the text bracket opened at
 * `begin`; null when it has none before its CDEND (`look` as for
 * NameRecordAfter). */
const COLOR_VALUE* BracketColor(const record_storage* begin, forward_scan* look) {
  const record_storage* stop = ScanForward(look, begin->next, [](const record_storage* node) {
    return (node->signature == SIG_CD_COLOR && node->length >= sizeof(CDCOLOR)) ||
           IsEndOf(node->data, node->signature, node->length, SIG_CD_TEXT);
  });
  if (stop == nullptr || stop->signature != SIG_CD_COLOR)
    return nullptr;
  return reinterpret_cast<const COLOR_VALUE*>(stop->data + offsetof(CDCOLOR, Color));
}

/* ---- the methods' arguments ---- */

/* A definition the find methods can search: "Everything" alone, or clauses
 * that each contain, follow or (not last) lie inside one single target. */
bool Searchable(const chunkdef_info* chain) {
  if (chain == nullptr || (chain->next == nullptr && chain->relation == RELATION_EVERYTHING))
    return true;
  for (const chunkdef_info* clause = chain; clause != nullptr; clause = clause->next) {
    const WORD relation = clause->relation;
    if (relation == RELATION_EVERYTHING)
      continue;
    const bool accepted = relation == RELATION_CONTAINS || relation == RELATION_AFTER ||
                          (relation == RELATION_INSIDE && clause->next != nullptr);
    if (!accepted)
      return false;
    if (clause->index_count != 1 || clause->index_ends[0] > clause->index_starts[0])
      return false;
  }
  return true;
}

/* The match mode a word names, by its first letters without regard to
 * case; 0 for none. */
WORD MatchModeOf(const char* mode) {
  if (mode == nullptr)
    return FIND_MATCH_ANY;
  struct mode_word {
    const char* word;
    size_t letters;
    WORD mode;
  };
  static const mode_word kWords[] = {
      {"EXACT", 5, FIND_MATCH_EXACT},   {"ENTIRE", 5, FIND_MATCH_EXACT},
      {"STARTS", 6, FIND_MATCH_STARTS}, {"ENDS", 4, FIND_MATCH_ENDS},
      {"SUBSTR", 6, FIND_MATCH_SUBSTRING}, {"EVENT", 5, FIND_MATCH_EVENT},
  };
  for (const mode_word& word : kWords) {
    if (strncasecmp(mode, word.word, word.letters) == 0)
      return word.mode;
  }
  return FIND_MATCH_ANY;
}

/* The record range of a lone "Everything" chunk, without a walk over
 * every record: from the loaded body's first record with no upper bound
 * (no record lies past the body's last), which finds what query action 1's
 * first and last record would. False (the query must run) for any other
 * definition, or an item whose body is not loaded whole. */
bool WholeBodyRange(VelkoRTChunk& chunk, DWORD* first, DWORD* last) {
  const chunkdef_info* chain = chunk.internal != nullptr ? chunk.internal->definitions : nullptr;
  if (chain == nullptr || chain->next != nullptr || chain->relation != RELATION_EVERYTHING ||
      chunk.item == nullptr || chunk.item->internal == nullptr)
    return false;
  const body_context* body = chunk.item->internal->input;
  if (body == nullptr || body->records == nullptr || body->load_status != NOERROR ||
      chunk.item->internal->incomplete_load != NOERROR)
    return false;
  *first = body->records->ordinal;
  *last = kNoUpperBound;
  return true;
}

/* Clears the session's found words and asks the engine for the chunk's
 * first and last record (query action 1, unless the chunk is the whole
 * loaded body); false when the chunk has no session. */
bool QueryRange(VelkoRTChunk& chunk, DWORD* first, DWORD* last) {
  if (chunk.session == nullptr || chunk.session->internal == nullptr)
    return false;
  _internal_SESS* session = chunk.session->internal;
  session->found_first = 0;
  session->found_second = 0;
  if (!WholeBodyRange(chunk, &session->found_first, &session->found_second))
    chunk.AlterRichText(ACTION_QUERY_RECORDS, PROP_FIND, 0, 0, 0, nullptr, nullptr, nullptr,
                        nullptr);
  *first = session->found_first;
  *last = session->found_second;
  return true;
}

/* The definition check shared by the methods: false, with status 20017,
 * for a definition they cannot search. */
bool CheckSearchable(VelkoRTChunk& chunk) {
  chunk.status = 0;
  if (chunk.internal != nullptr && Searchable(chunk.internal->definitions))
    return true;
  chunk.status = VELKO_ERR_INVALID_ARGUMENT;
  return false;
}

} // namespace

int MatchStringInBuffer(const char* text, WORD textLength, const char* pattern, WORD patternLength,
                        WORD mode, BOOL wildcards, BOOL caseSensitive, BOOL accentSensitive,
                        BOOL wordBoundaries, BOOL regularExpression, WORD* matchLength,
                        NLS_PINFO info) {
  if (mode == FIND_MATCH_ANY)
    return 1;
  WORD covered = 0;
  int32_t position = 0;
  if (patternLength != 0)
    position = SearchBuffer(text, textLength, pattern, patternLength, wildcards, caseSensitive,
                            accentSensitive, wordBoundaries, regularExpression, &covered, info);
  if (matchLength != nullptr)
    *matchLength = covered;
  switch (mode) {
  case FIND_MATCH_EXACT:
    return position == 0 && covered >= textLength ? 1 : 0;
  case FIND_MATCH_STARTS:
    return position == 0 ? 1 : 0;
  case FIND_MATCH_ENDS:
    return position >= 0 && position + covered == textLength ? 1 : 0;
  case FIND_MATCH_SUBSTRING:
    return position >= 0 ? 1 : 0;
  default:
    return 1;
  }
}

WORD FindNamedChunkInternal(VelkoRTChunk* chunk, int within, DWORD first, DWORD last,
                            const char* pattern, WORD patternLength, WORD mode, WORD targetType) {
  named_kind kind;
  // Only tables, buttons and layers carry names a find reads.
  if (first == 0 || last == 0 || chunk == nullptr || !KindOf(targetType, &kind))
    return 0;
  const find_request request{within, first, last, pattern, patternLength, mode, FlagsOf(*chunk)};

  DWORD count = 0;
  bool inBracket = false;
  const record_storage* name = nullptr; /* the pending name's record */
  bool compared = false;                /* the pending name was compared and failed */
  forward_scan look;
  for (const record_storage* node = FirstRecord(chunk); node != nullptr; node = node->next) {
    if (request.PastRange(node->ordinal))
      return 0;
    if (IsBeginOf(node->data, node->signature, node->length, kind.bracket)) {
      ++count;
      inBracket = true;
      name = NameRecordAfter(node, kind, &look);
      compared = false;
    } else if (IsEndOf(node->data, node->signature, node->length, kind.bracket)) {
      inBracket = false;
      name = nullptr;
      continue;
    } else if (node->signature == kind.bracket && !inBracket) {
      ++count;
      // A table or layer outside its bracket has no name record; a
      // button's name is its own label, wherever the button stands.
      if (kind.name_record != kind.bracket)
        continue;
      const char* text = nullptr;
      DWORD length = 0;
      if (request.InRange(node->ordinal) && NameOf(node, &text, &length) &&
          request.Matches(text, length))
        return ElementNumber(count);
      continue;
    }
    if (name == nullptr || compared || !request.InRange(node->ordinal))
      continue;
    const char* text = nullptr;
    DWORD length = 0;
    if (NameOf(name, &text, &length) && request.Matches(text, length))
      return ElementNumber(count);
    compared = true; // the same name against the same pattern fails again
  }
  return 0;
}

WORD FindTextChunkInternal(VelkoRTChunk* chunk, int within, DWORD first, DWORD last,
                           const char* pattern, WORD patternLength, WORD mode,
                           const font_spec* font, const font_spec_mask* mask) {
  if (first == 0 || last == 0 || chunk == nullptr || font == nullptr || mask == nullptr)
    return 0;
  const find_request request{within, first, last, pattern, patternLength, mode, FlagsOf(*chunk)};

  // A font string that names nothing lets every run through.
  bool filtered = false;
  for (DWORD given : mask->given)
    filtered = filtered || given != 0;

  DWORD count = 0;
  bool inRun = false;
  const COLOR_VALUE* color = nullptr;
  forward_scan look;
  for (const record_storage* node = FirstRecord(chunk); node != nullptr; node = node->next) {
    if (request.PastRange(node->ordinal))
      return 0;
    if (IsBeginOf(node->data, node->signature, node->length, SIG_CD_TEXT)) {
      ++count;
      inRun = true;
      color = BracketColor(node, &look);
      continue;
    }
    if (IsEndOf(node->data, node->signature, node->length, SIG_CD_TEXT)) {
      inRun = false;
      color = nullptr;
      continue;
    }
    if (node->signature != SIG_CD_TEXT || node->length < sizeof(CDTEXT))
      continue;
    if (!inRun)
      ++count;
    if (!request.InRange(node->ordinal))
      continue;
    FONTID fontId = 0;
    memcpy(&fontId, node->data + offsetof(CDTEXT, FontID), sizeof fontId);
    if (filtered && FontNotFilteredExt(&fontId, color, font, mask->given) == 0)
      continue;
    if (request.Matches(node->data + sizeof(CDTEXT), node->length - sizeof(CDTEXT)))
      return ElementNumber(count);
  }
  return 0;
}

WORD VelkoRTChunk::FindNamedChunk(int n, const char* targetType, const char* text,
                                  WORD textLength, const char* mode, const char*) {
  if (!CheckSearchable(*this))
    return 0;
  const WORD matchMode = MatchModeOf(mode);
  const WORD type = TargetTypeOfName(targetType);
  DWORD first = 0;
  DWORD last = 0;
  if (!QueryRange(*this, &first, &last) || first == 0)
    return 0;
  return FindNamedChunkInternal(this, n, first, last, text != nullptr ? text : "",
                                text != nullptr ? textLength : 0, matchMode, type);
}

WORD VelkoRTChunk::FindTextChunk(int n, const char* text, WORD textLength, const char* mode,
                                 const char* font) {
  if (!CheckSearchable(*this))
    return 0;
  const WORD matchMode = MatchModeOf(mode);
  font_spec specs[2] = {};
  font_spec_mask masks[2] = {};
  if (ParseFontString(font, nullptr, item, specs, masks) != NOERROR)
    return 0;
  DWORD first = 0;
  DWORD last = 0;
  if (!QueryRange(*this, &first, &last))
    return 0;
  return FindTextChunkInternal(this, n, first, last, text != nullptr ? text : "",
                               text != nullptr ? textLength : 0, matchMode, &specs[0], &masks[0]);
}
