/*
 * Keyword link matching (action 2386): the keywords of the session's
 * keyword table are found in the chunk's text records and turned into
 * document links to the documents that gave them (or, in Keyword mode,
 * collected into the caller's buffer). Text runs wrapped in an envelope
 * (CDBEGIN, text effect, text, colour, CDEND) keep their wrapping: the
 * envelope records are held back and emitted again around every piece of
 * text that stays text.
 */
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/generator_states.h"
#include "engine/keyword_index.h"
#include "engine/process_state.h"
#include "engine/record_fields.h"
#include "engine/services.h"
#include "engine/text_envelope.h"
#include "host/idtable.h"
#include "host/nsfnote.h"
#include "host/nls.h"
#include "host/osenv.h"
#include "host/osmem.h"
#include "host/textlist.h"
#include "store/formula_value.h"
#include "store/host_release.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/view_selection.h"
#include "store/vocabulary.h"
#include "velko/property_string.h"

namespace {

constexpr WORD kMatchStarts = 2;
constexpr WORD kMatchEnds = 3;
constexpr WORD kMatchSubstring = 4;
constexpr size_t kKeywordCompare = 80;
constexpr size_t kKeywordBufferTaken = 64905;
constexpr size_t kKeywordBufferRoom = 65341;
constexpr DWORD kNoWord = 0xFFFFFFFF;

bool IsMarked(const chunk_process_state* state) {
  return state->current_record != nullptr &&
         (state->current_record->flags & RECORD_MATCH_MARKER) != 0;
}

/* ---- the text envelope ---- */

/* The record after the current one, past a text effect, is a text run. */
bool BeginWrapsText(const chunk_process_state* state) {
  const record_storage* next = state->current_record != nullptr ? state->current_record->next
                                                                  : nullptr;
  if (next != nullptr && IsTextEffect(next->signature))
    next = next->next;
  return IsTextRun(next);
}

bool HoldsBegin(const chunk_process_state* state) {
  return state->envelope != nullptr && state->envelope->signature == SIG_CD_BEGIN;
}

/* Envelope records: held back, dropped, or passed on. True when the
 * record was one of them. */
bool HandleEnvelopeRecord(const char* record, WORD signature, DWORD length,
                          chunk_record_output* output, chunk_process_state* state) {
  if (IsBeginOf(record, signature, length, SIG_CD_TEXT)) {
    if (state->envelope == nullptr && state->current_record != nullptr &&
        BeginWrapsText(state)) {
      state->envelope = state->current_record;
      output->length = 0;
    }
    return true;
  }
  if (IsTextEffect(signature)) {
    if (!HoldsBegin(state))
      state->envelope = state->current_record;
    output->length = state->envelope != nullptr ? 0 : output->length;
    return true;
  }
  if (IsEndOf(record, signature, length, SIG_CD_TEXT) || signature == SIG_CD_COLOR) {
    // The held begin's colour and end record go out with every piece.
    if (HoldsBegin(state)) {
      output->length = 0;
      if (signature == SIG_CD_END)
        state->envelope = nullptr;
    }
    return true;
  }
  return false;
}

/* A piece of the current text record that stays text. */
STATUS EmitPiece(const char* record, const char* text, size_t length,
                 chunk_process_state* state) {
  if (length == 0 || state->writes == 0)
    return NOERROR;
  return GenerateTextEnvelopeData(text, static_cast<WORD>(length), record, state);
}

/* A text record left as it was: again inside its held envelope. */
STATUS KeepTextRecord(const char* record, DWORD length, chunk_record_output* output,
                      chunk_process_state* state) {
  if (state->envelope == nullptr || length <= sizeof(CDTEXT) || state->writes == 0)
    return NOERROR;
  output->length = 0;
  const STATUS status = EmitPiece(record, record + sizeof(CDTEXT), length - sizeof(CDTEXT), state);
  if (IsTextEffect(state->envelope->signature))
    state->envelope = nullptr;
  return status;
}

/* ---- keyword matching ---- */

struct character {
  DWORD offset;
  bool letter;
};

/* The characters of the text: where each starts, and whether it is a
 * letter; a final entry marks the end. */
std::vector<character> Characters(const char* text, DWORD length) {
  std::vector<character> characters;
  DWORD at = 0;
  while (at < length) {
    const auto* byte = reinterpret_cast<const BYTE*>(text + at);
    BYTE window[4] = {};
    memcpy(window, byte, length - at < sizeof window ? length - at : sizeof window);
    WORD bytes = 1;
    if (NLS_isleadbyte(window[0], nullptr) &&
        (NLS_string_bytes(window, 1, &bytes, nullptr) != NLS_SUCCESS || bytes == 0))
      bytes = 1;
    characters.push_back({at, NLS_isalpha(window, nullptr) != FALSE});
    at += bytes;
  }
  characters.push_back({length, false});
  return characters;
}

struct record_match {
  const char* record;
  const char* text;
  std::vector<character> chars;
  size_t count; /* characters, without the end entry */
  DWORD word_index[26];
  /* (prefix, character index) of every character with a byte after it,
   * sorted: where a keyword of that prefix can start. */
  std::vector<std::pair<DWORD, DWORD>> prefix_at;
  size_t piece_start = 0;  /* character index */
  DWORD emitted = 0;       /* bytes of text already emitted or consumed */
  bool matched = false;
};

bool LetterAt(const record_match& match, size_t index) {
  return index < match.count && match.chars[index].letter;
}

/* The first word start of each letter from the piece start on. */
void BuildWordIndex(record_match* match, WORD minimum) {
  for (DWORD& entry : match->word_index)
    entry = kNoWord;
  const DWORD length = match->chars[match->count].offset;
  for (size_t i = match->piece_start; i < match->count; ++i) {
    if (match->chars[i].offset + minimum > length)
      break;
    if (!match->chars[i].letter || (i > 0 && match->chars[i - 1].letter))
      continue;
    const char first = static_cast<char>(tolower(static_cast<BYTE>(match->text[match->chars[i].offset])));
    if (first >= 'a' && first <= 'z' && match->word_index[first - 'a'] == kNoWord)
      match->word_index[first - 'a'] = static_cast<DWORD>(i);
  }
}

/* The character index whose offset is `offset`; count when none is. */
size_t IndexAt(const record_match& match, DWORD offset) {
  size_t low = 0;
  size_t high = match.count;
  while (low < high) {
    const size_t middle = (low + high) / 2;
    if (match.chars[middle].offset < offset)
      low = middle + 1;
    else
      high = middle;
  }
  return match.chars[low].offset == offset ? low : match.count + 1;
}

/* The match's characters [first, last) after the mode's boundary rule;
 * false when the rule refuses the candidate. */
bool ApplyBoundaryRule(const record_match& match, const link_matching_info& table, size_t* first,
                       size_t* last) {
  const bool letterBefore = *first > 0 && LetterAt(match, *first - 1);
  const bool letterAfter = LetterAt(match, *last);
  switch (table.match_mode) {
  case kMatchSubstring:
    return true;
  case kMatchStarts:
    if (letterBefore)
      return false;
    if (table.ReplaceExtra != 0)
      while (LetterAt(match, *last))
        ++*last;
    return true;
  case kMatchEnds:
    if (letterAfter)
      return false;
    if (table.ReplaceExtra != 0)
      while (*first > match.piece_start && LetterAt(match, *first - 1))
        --*first;
    return true;
  default:
    return !letterBefore && !letterAfter;
  }
}

/* The first two bytes of a text in lower case, as one number. */
DWORD PrefixOf(const char* text) {
  return static_cast<DWORD>(tolower(static_cast<BYTE>(text[0]))) |
         static_cast<DWORD>(tolower(static_cast<BYTE>(text[1]))) << 8;
}

/* The matching work of a text: its characters, where each two-byte prefix
 * stands and the first word starts, the piece start at the text start. */
record_match MatchOf(const char* record, const char* text, DWORD length, WORD minimum) {
  record_match match{record, text, Characters(text, length), 0, {}, {}};
  match.count = match.chars.size() - 1;
  for (size_t i = 0; i < match.count && match.chars[i].offset + 2 <= length; ++i)
    match.prefix_at.emplace_back(PrefixOf(text + match.chars[i].offset), static_cast<DWORD>(i));
  std::sort(match.prefix_at.begin(), match.prefix_at.end());
  BuildWordIndex(&match, minimum);
  return match;
}

/* The first character from `from` on where the two bytes `prefix` stand;
 * count when there is none. */
size_t NextWithPrefix(const record_match& match, DWORD prefix, size_t from) {
  const auto at = std::lower_bound(match.prefix_at.begin(), match.prefix_at.end(),
                                   std::make_pair(prefix, static_cast<DWORD>(from)));
  return at != match.prefix_at.end() && at->first == prefix ? at->second : match.count;
}

/* Where the scan for keyword k starts: when the mode wants a word start
 * and the keyword begins with a letter, the first word that begins with
 * it (count when none does); else the piece start. */
size_t ScanStart(const record_match& match, const link_matching_info& table, DWORD k) {
  const char first = table.first_characters[k];
  if (first < 'a' || first > 'z' || table.match_mode == kMatchEnds ||
      table.match_mode == kMatchSubstring)
    return match.piece_start;
  const DWORD word = match.word_index[first - 'a'];
  return word == kNoWord ? match.count : word;
}

/* A place of a keyword that the boundary rule takes: the character it
 * stands at, and the characters [first, last) the match covers. */
struct keyword_place {
  size_t at;
  size_t first;
  size_t last;
};

/* The first place of the keyword from character i on; false when there is
 * none. The first place the boundary rule refuses ends the keyword for the
 * text: a keyword met inside a longer word is not looked for further on. */
bool NextPlace(const record_match& match, const link_matching_info& table, const char* keyword,
               size_t compared, size_t i, keyword_place* place) {
  const DWORD length = match.chars[match.count].offset;
  const DWORD prefix = PrefixOf(keyword);
  for (i = NextWithPrefix(match, prefix, i);
       i < match.count && match.chars[i].offset + compared <= length;
       i = NextWithPrefix(match, prefix, i + 1)) {
    const DWORD at = match.chars[i].offset;
    size_t last = IndexAt(match, static_cast<DWORD>(at + compared));
    if (last > match.count || strncasecmp(match.text + at, keyword, compared) != 0)
      continue;
    size_t first = i;
    if (!ApplyBoundaryRule(match, table, &first, &last))
      return false;
    *place = {i, first, last};
    return true;
  }
  return false;
}

const char* KeywordText(const keyword_index& index, DWORD k) {
  return index.texts.data() + index.places[k];
}

size_t ComparedLength(const keyword_index& index, DWORD k) {
  return std::min<size_t>(index.lengths[k], kKeywordCompare);
}

/* A piece of a matched record written as a text run of its own: the
 * keywords that the next pass, taking it as a record, would find in it are
 * noted, so that the passes end as soon as none is left. */
void NotePiece(const char* text, DWORD length, chunk_process_state* state) {
  const link_matching_info* table = state->link_matcher;
  keyword_index* index = state->keywords;
  if (state->writes == 0 || length == 0 || length < table->minimum_length)
    return;
  const std::vector<DWORD> present = KeywordsInText(index, *table, text, length);
  if (present.empty())
    return;
  const record_match piece = MatchOf(nullptr, text, length, table->minimum_length);
  keyword_place place;
  for (const DWORD k : present)
    if (NextPlace(piece, *table, KeywordText(*index, k), ComparedLength(*index, k),
                  ScanStart(piece, *table, k), &place))
      index->next_pass.push_back(k);
}

/* Keyword mode: the match's result joins the caller's buffer, after the
 * separator the properties name ("," when they name none). */
void CollectKeyword(std::string_view result, const char* properties,
                    chunk_process_state* state) {
  char* buffer = const_cast<char*>(state->s2);
  if (buffer == nullptr)
    return;
  const size_t used = strnlen(buffer, kKeywordBufferRoom);
  if (used > kKeywordBufferTaken)
    return;
  char separator[64] = ",";
  if (properties != nullptr)
    ExtractProperty(properties, "Separator=", separator, sizeof separator);
  const size_t separatorLength = used > 0 ? strlen(separator) : 0;
  if (used + separatorLength + result.size() + 1 > kKeywordBufferRoom)
    return;
  memcpy(buffer + used, separator, separatorLength);
  memcpy(buffer + used + separatorLength, result.data(), result.size());
  buffer[used + separatorLength + result.size()] = '\0';
}

/* The keyword document of a match, open while the match's formulas and
 * its inserted rich text read it. */
class keyword_document {
public:
  keyword_document(DBHANDLE db, NOTEID id) {
    if (NSFNoteOpen(db, id, 0, &note_) != NOERROR)
      note_ = NULLHANDLE;
  }
  ~keyword_document() {
    if (note_ != NULLHANDLE)
      NSFNoteClose(note_);
  }
  keyword_document(const keyword_document&) = delete;
  keyword_document& operator=(const keyword_document&) = delete;
  NOTEHANDLE note() const { return note_; }

private:
  NOTEHANDLE note_ = NULLHANDLE;
};

/* What a match gives the mode step: the text it matched, the result text
 * (the value formula's value on the keyword document, else the matched
 * text) and the properties text (the properties formula's value, else the
 * caller's option string; null when none). */
struct match_values {
  std::string_view matched;
  std::string result;
  std::string properties;
  bool has_properties = false;
  NOTEHANDLE document = NULLHANDLE;
  const char* PropertiesText() const { return has_properties ? properties.c_str() : nullptr; }
};

/* Fills the values of a match; with a formula the keyword document is
 * opened into *document (a document that cannot be opened reads as one
 * without fields) and the formulas are evaluated on it. */
void EvaluateMatchValues(NOTEID noteId, match_values* values,
                         std::optional<keyword_document>* document, chunk_process_state* state) {
  _internal_SESS* session = state->session->internal;
  const DHANDLE valueFormula = session->link_value_formula;
  const DHANDLE propertiesFormula = session->link_properties_formula;
  values->result.assign(values->matched);
  values->has_properties = session->option_string != nullptr;
  if (values->has_properties)
    values->properties = session->option_string;
  if (valueFormula == NULLHANDLE && propertiesFormula == NULLHANDLE)
    return;
  document->emplace(session->link_db, noteId);
  values->document = (*document)->note();
  char* text = state->session->result_text;
  DWORD length = 0;
  if (propertiesFormula != NULLHANDLE) {
    if (EvaluateFormulaText(propertiesFormula, values->document, number_range_text::every_number,
                            text, kKeywordBufferRoom, &length) != NOERROR)
      length = 0;
    values->has_properties = length > 0;
    values->properties.assign(text, length);
  }
  if (valueFormula != NULLHANDLE) {
    if (EvaluateFormulaText(valueFormula, values->document, number_range_text::every_number, text,
                            kKeywordBufferRoom, &length) != NOERROR)
      length = 0;
    values->result.assign(text, length);
  }
}

/* Links and popups: without a value formula a link to the keyword
 * document; with one, a URL link to the result or a popup showing it, as
 * the mode or the properties' "Hotspot=" say. */
STATUS LinkMatch(const match_values& values, const char* keyword, WORD keywordLength,
                 NOTEID noteId, chunk_process_state* state) {
  link_operation link = LinkOperation(state);
  const std::string matched(values.matched);
  if (state->session->internal->link_value_formula == NULLHANDLE) {
    // The link shows the matched text and names the keyword as its comment.
    const std::string comment(keyword, std::min<size_t>(keywordLength, kKeywordCompare));
    return GenerateHyperlinksFromNoteID(matched.c_str(), comment.c_str(), noteId, nullptr, &link);
  }
  char kind[32] = "URL";
  if (state->p1 == LINK_MODE_POPUP)
    strcpy(kind, "POPUP");
  else if (const char* properties = values.PropertiesText(); properties != nullptr)
    ExtractProperty(properties, "Hotspot=", kind, sizeof kind);
  if (strcasecmp(kind, "URL") == 0)
    return GenerateURLFromReference(matched.data(), static_cast<WORD>(matched.size()),
                                    values.result.data(),
                                    static_cast<WORD>(values.result.size()), &link);
  return GeneratePopupFromReference(matched.c_str(), values.result.c_str(),
                                    values.PropertiesText(), &link);
}

/* The rich text a match inserts: the keyword document's rich-text field
 * that s1 names, or the result text when s1 is a formula rather than a
 * field name. */
STATUS InsertContent(record_match* match, const match_values& values,
                     chunk_process_state* state) {
  _internal_SESS* session = state->session->internal;
  const char* field = state->s1;
  if (session->link_value_formula != NULLHANDLE && field != nullptr &&
      strpbrk(field, " @\"+") != nullptr)
    return EmitPiece(match->record, values.result.data(), values.result.size(), state);
  const NOTEHANDLE note = session->append_note;
  const DBHANDLE db = session->append_db;
  record_storage* current = state->current_record;
  const DWORD number = state->record_counter;
  session->append_note = values.document;
  session->append_db = session->link_db;
  const STATUS status = AppendChunk(state->chunk, state, state->p2);
  session->append_note = note;
  session->append_db = db;
  state->current_record = current;
  state->record_counter = number;
  return status;
}

/* Highlight mode: the result text in the text record's font changed by
 * the mode's font. */
STATUS HighlightMatch(const record_match* match, const match_values& values,
                      chunk_process_state* state) {
  CDTEXT header;
  memcpy(&header, match->record, sizeof header);
  ApplyFontOverride(&header.FontID, nullptr, nullptr, &state->fonts[0],
                    state->font_masks[0].given);
  if (values.result.empty() || state->writes == 0)
    return NOERROR;
  return GenerateTextEnvelopeData(values.result.data(), static_cast<WORD>(values.result.size()),
                                  &header, state);
}

/* What the mode emits in place of the match. */
STATUS ModeStep(record_match* match, const match_values& values, const char* keyword,
                WORD keywordLength, NOTEID noteId, chunk_process_state* state) {
  const auto matched = [&] {
    return EmitPiece(match->record, values.matched.data(), values.matched.size(), state);
  };
  switch (state->p1) {
  case LINK_MODE_APPEND:
    if (STATUS status = matched(); status != NOERROR)
      return status;
    return InsertContent(match, values, state);
  case LINK_MODE_INSERT:
    if (STATUS status = InsertContent(match, values, state); status != NOERROR)
      return status;
    return matched();
  case LINK_MODE_REPLACE:
    return InsertContent(match, values, state);
  case LINK_MODE_HIGHLIGHT:
    return HighlightMatch(match, values, state);
  default:
    return LinkMatch(values, keyword, keywordLength, noteId, state);
  }
}

/* The last record of the output, to tell whether a step emitted. */
const record_storage* OutputEnd(const chunk_process_state* state) {
  const VelkoRTItem* item = StateItem(state);
  return item->internal != nullptr && item->internal->output != nullptr
             ? item->internal->output->last_written
             : nullptr;
}

/* The work at an accepted match of keyword k. *emitted tells whether the
 * mode step wrote records, so that its failure can end the record. */
STATUS ActOnMatch(record_match* match, const char* keyword, WORD keywordLength, NOTEID noteId,
                  DWORD start, DWORD end, chunk_process_state* state, bool* emitted) {
  *emitted = false;
  if (STATUS status = EmitPiece(match->record, match->text + match->emitted, start - match->emitted,
                                state);
      status != NOERROR)
    return status;
  NotePiece(match->text + match->emitted, start - match->emitted, state);
  match->emitted = start;
  match_values values;
  values.matched = std::string_view(match->text + start, end - start);
  std::optional<keyword_document> document;
  EvaluateMatchValues(noteId, &values, &document, state);
  if (state->p1 == LINK_MODE_KEYWORD) {
    CollectKeyword(values.result, values.PropertiesText(), state);
    return NOERROR;
  }
  const record_storage* before = OutputEnd(state);
  _internal_SESS* session = state->session->internal;
  session->marker_switch = 1;
  const STATUS status = ModeStep(match, values, keyword, keywordLength, noteId, state);
  session->marker_switch = 0;
  *emitted = OutputEnd(state) != before;
  StateItem(state)->Modified = 1;
  return status;
}

/* Scans the text for keyword k from its scan start on, acting on every
 * place the boundary rule takes. */
STATUS MatchKeyword(record_match* match, link_matching_info* table, keyword_index* index, DWORD k,
                    chunk_process_state* state) {
  const char* keyword = KeywordText(*index, k);
  const WORD keywordLength = index->lengths[k];
  const size_t compared = ComparedLength(*index, k);
  const auto* noteIds = static_cast<const NOTEID*>(table->note_ids_locked);
  keyword_place place;
  size_t i = ScanStart(*match, *table, k);
  while (!(table->SingleMatch != 0 && table->matched_words[k] != 0) &&
         NextPlace(*match, *table, keyword, compared, i, &place)) {
    const DWORD start = match->chars[place.first].offset;
    const DWORD end = match->chars[place.last].offset;
    bool emitted = false;
    STATUS status =
        ActOnMatch(match, keyword, keywordLength, noteIds[k], start, end, state, &emitted);
    match->matched = true;
    if (status != NOERROR && emitted)
      return status; // records of the failed step are out: the record ends
    if (status != NOERROR) {
      // The failed match stays text: emitted with the next piece.
      i = place.at + 1;
      continue;
    }
    if (table->SingleMatch != 0)
      DropFoundKeyword(index, k);
    table->matched_words[k] = 1;
    if (state->p1 != LINK_MODE_KEYWORD) // collecting changes nothing: one pass does
      state->session->internal->link_match_found = 1;
    match->emitted = end;
    match->piece_start = place.last;
    BuildWordIndex(match, table->minimum_length);
    i = place.last;
  }
  return NOERROR;
}

/* The keywords KeywordsInText finds in a record's text; what the lane
 * found in the same text, when it left the record to this step. */
std::vector<DWORD> KeywordsOfRecord(keyword_index* index, const link_matching_info& table,
                                    const char* text, DWORD length) {
  if (index->looked_text == text) {
    index->looked_text = nullptr;
    return std::move(index->looked_found);
  }
  return KeywordsInText(index, table, text, length);
}

STATUS MatchKeywords(const char* record, DWORD length, chunk_record_output* output,
                     chunk_process_state* state) {
  link_matching_info* table = state->link_matcher;
  keyword_index* index = state->keywords;
  const char* text = record + sizeof(CDTEXT);
  const DWORD textLength = length - static_cast<DWORD>(sizeof(CDTEXT));
  // Most records hold no keyword that can still match: the filter rules
  // them out before the text is split into characters.
  const std::vector<DWORD> candidates = KeywordsOfRecord(index, *table, text, textLength);
  if (candidates.empty())
    return KeepTextRecord(record, length, output, state);
  record_match match = MatchOf(record, text, textLength, table->minimum_length);

  table->note_ids_locked = OSLockObject(table->note_ids);
  STATUS status = table->note_ids_locked != nullptr ? STATUS{NOERROR} : STATUS{VELKO_ERR_MEMORY};
  for (size_t c = 0; c < candidates.size() && status == NOERROR; ++c) {
    const DWORD k = candidates[c];
    if (table->SingleMatch != 0 && table->matched_words[k] != 0)
      continue;
    if (state->writes == 0 && match.piece_start != 0) {
      // Collecting emits nothing: every keyword scans the whole text.
      match.piece_start = 0;
      BuildWordIndex(&match, table->minimum_length);
    }
    status = MatchKeyword(&match, table, index, k, state);
  }
  OSUnlockObject(table->note_ids);
  table->note_ids_locked = nullptr;
  if (status != NOERROR)
    return status;
  if (!match.matched)
    return KeepTextRecord(record, length, output, state);
  output->length = 0;
  status = EmitPiece(record, text + match.emitted, textLength - match.emitted, state);
  NotePiece(text + match.emitted, textLength - match.emitted, state);
  return status;
}

/* Whether the record is a text run the matching looks at: not one an
 * earlier match marked, and not an envelope record (which the envelope
 * handling takes care of). */
bool TextRunToMatch(const char* record, WORD signature, DWORD length, chunk_record_output* output,
                    chunk_process_state* state) {
  if (IsMarked(state))
    return false;
  if (HandleEnvelopeRecord(record, signature, length, output, state))
    return false;
  return IsTextRun(signature);
}

/* Whether a text run of the length is matched: false when it is kept as
 * it is without a look at its text. */
bool TextRunMatched(DWORD length, chunk_process_state* state) {
  link_matching_info* table = state->link_matcher;
  if (table == nullptr || table->note_ids == NULLHANDLE || table->matched_words == nullptr ||
      length < table->minimum_length + sizeof(CDTEXT) || state->gen.link_hotspot != 0 ||
      state->gen.in_text_envelope != 0)
    return false;
  if (state->keywords == nullptr) {
    // The table's index serves every walk; what it looks for is this walk's.
    state->keywords = TableKeywordIndex(table);
    if (state->keywords == nullptr)
      return false;
    StartKeywordWalk(state->keywords, table);
  }
  return true;
}

STATUS LinkMatchingRecord(const char* record, WORD signature, DWORD length,
                          chunk_record_output* output, chunk_process_state* state) {
  if (!TextRunToMatch(record, signature, length, output, state))
    return NOERROR;
  if (!TextRunMatched(length, state))
    return KeepTextRecord(record, length, output, state);
  return MatchKeywords(record, length, output, state);
}

/* ---- wiki markup ---- */

/* The settings naming the web search service and the help pages that
 * "google:" and "tarno:" tokens link to, and their defaults. */
constexpr const char* kSearchServiceSetting = "VelkoWikiSearchService";
constexpr const char* kSearchServiceDefault = "https://www.google.com";
constexpr const char* kHelpPageSetting = "VelkoWikiHelpPage";
constexpr const char* kHelpPageDefault = "https://help.velko.dev/topic/";
constexpr const char* kWikiPageView = "$QMWL";

std::string Setting(const char* name, const char* fallback) {
  char value[512] = {};
  if (OSGetEnvironmentString(name, value, sizeof value) && value[0] != '\0')
    return value;
  return fallback;
}

bool StartsWithWord(std::string_view text, std::string_view word) {
  return text.size() >= word.size() && strncasecmp(text.data(), word.data(), word.size()) == 0;
}

/* A search term percent-encoded: letters, digits and "-._~" stay, a blank
 * is `blank`, everything else "%XX". */
std::string EncodeTerm(std::string_view term, const char* blank) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : term) {
    const auto byte = static_cast<BYTE>(c);
    if ((byte < 0x80 && isalnum(byte)) || c == '-' || c == '.' || c == '_' || c == '~') {
      encoded += c;
    } else if (c == ' ') {
      encoded += blank;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0xF];
    }
  }
  return encoded;
}

/* Appends Name=value with a quote the value does not hold; false when it
 * holds all four quote characters. */
bool AppendQuoted(std::string* properties, const char* name, std::string_view value) {
  const std::string_view quotes = "'\"|~";
  bool free = false;
  for (const char q : quotes)
    free = free || value.find(q) == std::string_view::npos;
  if (!free)
    return false;
  const char quote = ChooseDelimiter(value.data(), value.size());
  *properties += name;
  *properties += quote;
  properties->append(value);
  *properties += quote;
  *properties += ' ';
  return true;
}

/* The parts of a token: what it names, where its anchor starts and what
 * it shows. */
struct wiki_token {
  std::string_view target;  /* up to "|", or whole */
  std::string_view page;    /* target up to the anchor's "#" */
  std::string_view anchor;  /* after the "#"; empty when none */
  std::string_view display; /* after "|", or the page */
  bool bar = false;
};

wiki_token ParseToken(std::string_view token, char closing) {
  wiki_token parts;
  const size_t bar = token.find('|');
  parts.bar = bar != std::string_view::npos;
  parts.target = token.substr(0, bar);
  const size_t hash = parts.target.rfind('#');
  const bool anchored = hash != std::string_view::npos && hash > 0;
  parts.page = anchored ? parts.target.substr(0, hash) : parts.target;
  parts.anchor = anchored ? parts.target.substr(hash + 1) : std::string_view{};
  if (parts.bar) {
    parts.display = token.substr(bar + 1);
    while (parts.display.size() > 1 && parts.display.back() == closing)
      parts.display.remove_suffix(1);
  } else {
    parts.display = parts.page;
  }
  return parts;
}

/* A URL token: a link to the URL, or to a search built from the term.
 * *handled is set when the token is one (its link then made, or the token
 * left as text when it shows nothing). */
STATUS LinkUrlToken(const wiki_token& parts, chunk_process_state* state, bool* handled,
                    bool* linked) {
  const std::string_view target = parts.target;
  std::string url;
  std::string text;
  if (StartsWithWord(target, "google:") && target.size() > 7) {
    const std::string_view term = target.substr(7);
    url = Setting(kSearchServiceSetting, kSearchServiceDefault) + "/search?q=" +
          EncodeTerm(term, "%20");
    text = parts.bar ? std::string(parts.display) : std::string(term);
  } else if (StartsWithWord(target, "tarno:") && target.size() > 6) {
    const std::string_view term = target.substr(6);
    url = Setting(kHelpPageSetting, kHelpPageDefault) + EncodeTerm(term, "+");
    text = parts.bar ? std::string(parts.display) : std::string(term);
  } else {
    const bool scheme = ((StartsWithWord(target, "http:") || StartsWithWord(target, "https:") ||
                          StartsWithWord(target, "file:")) &&
                         target.size() > 5) ||
                        (StartsWithWord(target, "mailto:") && target.size() > 6);
    if (!scheme)
      return NOERROR;
    url = target;
    if (parts.bar) {
      text = parts.display;
    } else {
      size_t at = target.find(':');
      while (at < target.size() && (target[at] == ':' || target[at] == '/'))
        ++at;
      text = target.substr(at);
    }
  }
  *handled = true;
  if (text.empty() || url.size() > 0xFFFF || text.size() > 0xFFFF)
    return NOERROR;
  *linked = true;
  link_operation link = LinkOperation(state);
  state->session->internal->marker_switch = 1;
  const STATUS status = GenerateURLFromReference(text.data(), static_cast<WORD>(text.size()),
                                                 url.data(), static_cast<WORD>(url.size()), &link);
  state->session->internal->marker_switch = 0;
  return status;
}

/* The note of the page's document in the view; 0 when there is none. */
STATUS FindWikiPage(const std::string& page, chunk_process_state* state, NOTEID* found) {
  *found = 0;
  _internal_SESS* session = state->session->internal;
  const char* view = state->s1 != nullptr && state->s1[0] != '\0' ? state->s1 : kWikiPageView;
  DHANDLE ids = NULLHANDLE;
  const STATUS status = ViewSelection(state->session, session->link_db, view, page.c_str(), &ids, 0);
  if (status == NOERROR && ids != NULLHANDLE) {
    NOTEID id = 0;
    if (IDScan(ids, TRUE, &id))
      *found = id;
  }
  ReleaseHostMemory(ids);
  CloseCachedViewCollection(state->session);
  return status;
}

/* A page token: a link to the page's document when the view has one. */
STATUS LinkPageToken(const wiki_token& parts, chunk_process_state* state, bool* linked) {
  const std::string page(parts.page);
  NOTEID id = 0;
  if (STATUS status = FindWikiPage(page, state, &id); status != NOERROR || id == 0)
    return status;
  std::string properties = "Class='WikiLink$3' ";
  if (!AppendQuoted(&properties, "Title=", parts.target))
    return NOERROR;
  if (!parts.anchor.empty()) {
    std::string anchor(parts.anchor);
    for (char& c : anchor)
      if (c == ' ' || c == ':' || c == '"')
        c = '_';
    if (!AppendQuoted(&properties, "Anchor=", anchor))
      return NOERROR;
  }
  *linked = true;
  const std::string display(parts.display);
  link_operation link = LinkOperation(state);
  state->session->internal->marker_switch = 1;
  const STATUS status =
      GenerateHyperlinksFromNoteID(display.c_str(), page.c_str(), id, properties.c_str(), &link);
  state->session->internal->marker_switch = 0;
  return status;
}

/* The token of a text record that is one whole markup; false when the
 * record is not one. */
bool MarkupToken(const char* record, DWORD length, const chunk_process_state* state,
                 std::string_view* token) {
  const std::string_view tag = state->s2 != nullptr ? state->s2 : "";
  if (length <= 12 || (!tag.empty() && length < tag.size() + 14))
    return false;
  const std::string_view text(record + sizeof(CDTEXT), length - sizeof(CDTEXT));
  if (text[0] != state->wiki_open[0] || text[1] != state->wiki_open[1] ||
      text[text.size() - 2] != state->wiki_close[0] || text[text.size() - 1] != state->wiki_close[1])
    return false;
  std::string_view inner = text.substr(2, text.size() - 4);
  if (!tag.empty()) {
    if (!StartsWithWord(inner, tag) || inner.size() <= tag.size())
      return false;
    inner.remove_prefix(tag.size() + 1);
  }
  *token = inner;
  return !inner.empty();
}

STATUS WikiMatchingRecord(const char* record, WORD signature, DWORD length,
                          chunk_record_output* output, chunk_process_state* state) {
  if (!TextRunToMatch(record, signature, length, output, state))
    return NOERROR;
  std::string_view token;
  if (state->gen.link_hotspot != 0 || state->gen.in_text_envelope != 0 ||
      !MarkupToken(record, length, state, &token))
    return KeepTextRecord(record, length, output, state);
  const wiki_token parts = ParseToken(token, state->wiki_close[0]);
  bool handled = false;
  bool linked = false;
  STATUS status = LinkUrlToken(parts, state, &handled, &linked);
  if (!handled)
    status = LinkPageToken(parts, state, &linked);
  if (!linked) {
    const STATUS kept = KeepTextRecord(record, length, output, state);
    return status != NOERROR ? status : kept;
  }
  output->length = 0;
  StateItem(state)->Modified = 1;
  state->session->internal->link_match_found = 1;
  return status;
}

} // namespace

bool LinkMatchingLeavesTextRun(const record_storage* node, chunk_process_state* state) {
  // A held envelope goes out again with the record; a marked record keeps
  // its mark (the lane stops at both before asking).
  if (state->envelope != nullptr && node->length > sizeof(CDTEXT) && state->writes != 0)
    return false;
  if ((node->flags & RECORD_MATCH_MARKER) != 0 || !IsTextRun(node->signature))
    return false;
  if (!TextRunMatched(node->length, state))
    return true;
  keyword_index* index = state->keywords;
  const char* text = node->data + sizeof(CDTEXT);
  std::vector<DWORD> found = KeywordsInText(index, *state->link_matcher, text,
                                            node->length - static_cast<DWORD>(sizeof(CDTEXT)));
  if (found.empty())
    return true;
  index->looked_text = text;
  index->looked_found = std::move(found);
  return false;
}

STATUS ProcessLinkMatchingAction(const char* record, WORD signature, DWORD length,
                                 chunk_record_output* output, chunk_process_state* state) {
  if (state->action == ACTION_WIKI_MATCHING)
    return WikiMatchingRecord(record, signature, length, output, state);
  if (state->action != ACTION_LINK_MATCHING)
    return kServiceNotAvailable;
  return LinkMatchingRecord(record, signature, length, output, state);
}
