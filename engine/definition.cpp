/*
 * The chunk definition parser and the canonical definition text.
 *
 * A definition is a list of clauses separated by ";". A clause is an
 * optional relation word, a target word, an optional match text (with an
 * optional mode word before it) and an index list:
 *
 *   Table 1; Row 2          Inside Section 'Notes'      Text Starts "He" 1
 *   Ends With Table 2-4,7   Everything                  Field Name |Subject| *
 *
 * Keywords are matched without regard to case, as prefixes of the text at
 * their place; match texts keep the caller's case. The canonical text is
 * what a chunk shows as its definition; it is written so that it parses back
 * to the same clauses. Nothing here runs a chain against records.
 */
#include "engine/definition.h"

#include <stdint.h>
#include <string.h>

#include <initializer_list>
#include <memory>
#include <new>

#include "engine/chunk_state.h"
#include "store/new_object.h"
#include "store/owned_text.h"
#include "store/vocabulary.h"

namespace {

/* ---------------------------------------------------------------------
 * Keywords
 * --------------------------------------------------------------------- */

struct Keyword {
  const char* word; /* upper case */
  WORD value;
};

constexpr Keyword kRelationWords[] = {
    {"CONTAINS", RELATION_CONTAINS}, {"INSIDE", RELATION_INSIDE}, {"OUTSIDE", RELATION_OUTSIDE},
    {"BEFORE", RELATION_BEFORE},     {"AFTER", RELATION_AFTER},   {"START", RELATION_STARTS_WITH},
    {"END", RELATION_ENDS_WITH},
};

/* Tested in this order, each as a prefix: a word that begins another word
 * of the list comes after it ("GRAPHICHOTSPOT" before "GRAPHIC",
 * "PARAGRAPHLIST" before "PARAGRAPH"). "LAYOUT" and "IGNORE" also take the
 * canonical names "LayoutRegion" and "Ignored"; "HR" is the canonical name
 * of a horizontal rule. */
constexpr Keyword kTargetWords[] = {
    {"EVERYTHING", TARGETTYPE_EVERYTHING},
    {"TABLE", TARGETTYPE_TABLE},
    {"HOTSPOT", TARGETTYPE_HOTSPOT},
    {"COLUMN", TARGETTYPE_COLUMN},
    {"ROW", TARGETTYPE_ROW},
    {"BUTTON", TARGETTYPE_BUTTON},
    {"SECTION", TARGETTYPE_SECTION},
    {"DOCLINK", TARGETTYPE_DOCLINK},
    {"FILE", TARGETTYPE_FILE},
    {"RECORD", TARGETTYPE_RECORD},
    {"STYLIZEDTEXT", TARGETTYPE_STYLIZEDTEXT},
    {"RAWTEXT", TARGETTYPE_RAWTEXT},
    {"OLEOBJECT", TARGETTYPE_OLEOBJECT},
    {"ANCHOR", TARGETTYPE_ANCHOR},
    {"GRAPHICHOTSPOT", TARGETTYPE_GRAPHICHOTSPOT},
    {"GRAPHIC", TARGETTYPE_GRAPHIC},
    {"HYPERLINK", TARGETTYPE_HYPERLINK},
    {"POPUP", TARGETTYPE_POPUP},
    {"ACTIONHOTSPOT", TARGETTYPE_ACTIONHOTSPOT},
    {"FIELD", TARGETTYPE_FIELD},
    {"EVENT", TARGETTYPE_EVENT},
    {"PARAGRAPHLIST", TARGETTYPE_PARAGRAPHLIST},
    {"PARAGRAPH", TARGETTYPE_PARAGRAPH},
    {"XML", TARGETTYPE_XML},
    {"HTML", TARGETTYPE_HTML},
    {"XHTML", TARGETTYPE_XHTML},
    {"SUBFORM", TARGETTYPE_SUBFORM},
    {"COMPUTEDTEXT", TARGETTYPE_COMPUTEDTEXT},
    {"HORIZONTALRULE", TARGETTYPE_HR},
    {"HR", TARGETTYPE_HR},
    {"PASSTHRUHTML", TARGETTYPE_PASSTHRUHTML},
    {"LAYER", TARGETTYPE_LAYER},
    {"LAYOUT", TARGETTYPE_LAYOUTREGION},
    {"URLLINK", TARGETTYPE_URLLINK},
    {"IMAGEHOTSPOT", TARGETTYPE_GRAPHICHOTSPOT},
    {"IMAGEMAP", TARGETTYPE_IMAGEMAP},
    {"IGNORE", TARGETTYPE_IGNORED},
    {"DELIMITEDHTML", TARGETTYPE_DELIMITEDHTML},
    {"TEXT", TARGETTYPE_TEXT},
    {"NONBLANKTEXT", TARGETTYPE_NONBLANKTEXT},
};

/* Any other word before a match text means an exact match. */
constexpr Keyword kModeWords[] = {
    {"STARTS", MATCH_STARTS}, {"ENDS", MATCH_ENDS},    {"SUBSTR", MATCH_SUBSTRING},
    {"ID", MATCH_BY_ID},      {"NAME", MATCH_BY_NAME},
};

constexpr WORD kNoKeyword = 0xFFFF;
constexpr WORD kLargestIndex = 0xFFFF;
constexpr char kClauseSeparator = ';';

bool IsBlank(char c) { return c == ' '; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsQuote(char c) { return c == '\'' || c == '"' || c == '|'; }
/* The white space that the C library skips before a number. */
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool BeginsWith(const char* text, const char* end, const char* word) {
  for (; *word != '\0'; ++text, ++word) {
    if (text == end || *text != *word)
      return false;
  }
  return true;
}

template <size_t N> WORD FindKeyword(const Keyword (&words)[N], const char* text, const char* end) {
  for (const Keyword& keyword : words) {
    if (BeginsWith(text, end, keyword.word))
      return keyword.value;
  }
  return kNoKeyword;
}

const char* SkipBlanks(const char* p, const char* end) {
  while (p != end && IsBlank(*p))
    ++p;
  return p;
}

const char* SkipSpace(const char* p, const char* end) {
  while (p != end && IsSpace(*p))
    ++p;
  return p;
}

const char* FindChar(const char* p, const char* end, char c) {
  while (p != end && *p != c)
    ++p;
  return p;
}

/* ---------------------------------------------------------------------
 * Index lists
 * --------------------------------------------------------------------- */

/* Reads the decimal number at p into *value; null when p holds no digit or
 * the number is above the largest index. */
const char* ReadIndex(const char* p, const char* end, WORD* value) {
  if (p == end || !IsDigit(*p))
    return nullptr;
  uint32_t number = 0;
  for (; p != end && IsDigit(*p); ++p) {
    number = number * 10 + static_cast<uint32_t>(*p - '0');
    if (number > kLargestIndex)
      return nullptr;
  }
  *value = static_cast<WORD>(number);
  return p;
}

/* One item: a number, or a number, "-" and the end of a range, with white
 * space allowed around each part. */
bool ParseIndexItem(const char* p, const char* end, WORD* start, WORD* last) {
  p = ReadIndex(SkipSpace(p, end), end, start);
  if (p == nullptr)
    return false;
  p = SkipSpace(p, end);
  *last = 0;
  if (p != end && *p == '-') {
    p = ReadIndex(SkipSpace(p + 1, end), end, last);
    if (p == nullptr)
      return false;
    p = SkipSpace(p, end);
  }
  return p == end;
}

bool HoldsOnlySpace(const char* p, const char* end) { return SkipSpace(p, end) == end; }

/* An empty list is the single index 1; "*" alone is every target (count
 * 0). Otherwise ","-separated items fill the slots in order. A "*" among
 * numbers, an item that is not a number and more items than slots are
 * refused. */
bool ParseIndexList(const char* p, const char* end, chunkdef_info* clause) {
  if (HoldsOnlySpace(p, end)) {
    clause->index_count = 1;
    clause->index_starts[0] = 1;
    return true;
  }
  const char* star = FindChar(p, end, '*');
  if (star != end) {
    clause->index_count = 0;
    return HoldsOnlySpace(p, star) && HoldsOnlySpace(star + 1, end);
  }
  WORD count = 0;
  while (true) {
    const char* comma = FindChar(p, end, ',');
    if (count == kMaxDefinitionIndexes)
      return false;
    if (!ParseIndexItem(p, comma, &clause->index_starts[count], &clause->index_ends[count]))
      return false;
    ++count;
    if (comma == end)
      break;
    p = comma + 1;
  }
  clause->index_count = count;
  return true;
}

/* ---------------------------------------------------------------------
 * Clauses
 * --------------------------------------------------------------------- */

/* The definition being parsed: the upper-cased copy in which keywords are
 * found, and the caller's text at the same offsets, from which match texts
 * are taken. */
struct Source {
  const char* upper;
  const char* original;
  bool* short_of_memory; /* set when a clause could not be made */

  const char* OriginalAt(const char* p) const { return original + (p - upper); }
};

/* "Column" follows a Contains clause on a Table or Row, "Row" one on a
 * Table or Column. */
bool FollowsTableClause(const chunkdef_info* before, WORD partner) {
  return before != nullptr && before->relation == RELATION_CONTAINS &&
         (before->target_type == TARGETTYPE_TABLE || before->target_type == partner);
}

bool TargetAllowedAfter(WORD type, const chunkdef_info* before) {
  if (type == TARGETTYPE_COLUMN)
    return FollowsTableClause(before, TARGETTYPE_ROW);
  if (type == TARGETTYPE_ROW)
    return FollowsTableClause(before, TARGETTYPE_COLUMN);
  return true;
}

/* Where the target word begins: the clause start for a clause without a
 * relation word, else the word after the first run of blanks (and after
 * the "With" of "Starts With" and "Ends With"). */
const char* FindTargetWord(const char* begin, const char* end, WORD* relation) {
  *relation = FindKeyword(kRelationWords, begin, end);
  if (*relation == kNoKeyword) {
    *relation = RELATION_CONTAINS;
    return begin;
  }
  const char* target = SkipBlanks(FindChar(begin, end, ' '), end);
  const bool withFollows = *relation == RELATION_STARTS_WITH || *relation == RELATION_ENDS_WITH;
  if (withFollows && BeginsWith(target, end, "WITH"))
    target = SkipBlanks(FindChar(target, end, ' '), end);
  return target;
}

/* The part after the target word: an optional match text, then the index
 * list. */
bool ParseMatchAndIndexes(const Source& source, const char* target, const char* end,
                          chunkdef_info* clause) {
  const char* p = FindChar(target, end, ' ');
  if (p == end)
    return ParseIndexList(end, end, clause);
  p = SkipBlanks(p, end);
  if (p != end && (IsDigit(*p) || *p == '*'))
    return ParseIndexList(p, end, clause);

  WORD mode = MATCH_EXACT;
  if (p != end && !IsQuote(*p)) {
    const WORD word = FindKeyword(kModeWords, p, end);
    if (word != kNoKeyword)
      mode = word;
  }
  const char* scan = p;
  while (scan != end && !IsQuote(*scan) && !IsDigit(*scan) && *scan != '*')
    ++scan;
  if (scan == end || !IsQuote(*scan))
    return ParseIndexList(scan, end, clause);

  // An unclosed quote runs to the end of the clause.
  const char* close = FindChar(scan + 1, end, *scan);
  clause->match_mode = mode;
  clause->literal = 1;
  clause->match_text =
      CopyOwnedText(source.OriginalAt(scan + 1), static_cast<size_t>(close - scan - 1));
  if (clause->match_text == nullptr) {
    *source.short_of_memory = true;
    return false;
  }
  const char* list = close == end ? end : SkipBlanks(close + 1, end);
  return ParseIndexList(list, end, clause);
}

/* Parses one clause, [begin, end) of the upper-cased copy with its leading
 * blanks skipped. Null when it does not parse. */
chunkdef_info* ParseClause(const Source& source, const char* begin, const char* end,
                           const chunkdef_info* before) {
  const bool everything = BeginsWith(begin, end, "EVERYTHING");
  if (everything) {
    auto* clause = NewObject<chunkdef_info>();
    if (clause == nullptr) {
      *source.short_of_memory = true;
      return nullptr;
    }
    clause->relation = RELATION_EVERYTHING;
    clause->target_type = TARGETTYPE_EVERYTHING;
    clause->index_count = 0;
    return clause;
  }
  if (FindChar(begin, end, ' ') == end)
    return nullptr;

  WORD relation = 0;
  const char* target = FindTargetWord(begin, end, &relation);
  const WORD type = FindKeyword(kTargetWords, target, end);
  if (type == kNoKeyword || !TargetAllowedAfter(type, before))
    return nullptr;

  auto* clause = NewObject<chunkdef_info>();
  if (clause == nullptr) {
    *source.short_of_memory = true;
    return nullptr;
  }
  clause->relation = relation;
  clause->target_type = type;
  if (!ParseMatchAndIndexes(source, target, end, clause)) {
    DeleteChunkDefinitions(clause);
    return nullptr;
  }
  return clause;
}

bool IsSimpleClause(const chunkdef_info& clause) {
  return clause.relation == RELATION_CONTAINS && clause.index_count == 1 &&
         clause.index_ends[0] <= clause.index_starts[0];
}

bool IsSimpleChain(const chunkdef_info* chain) {
  for (; chain != nullptr; chain = chain->next) {
    if (!IsSimpleClause(*chain))
      return false;
  }
  return true;
}

bool Overlaps(const char* text, size_t length, const char* buffer, size_t size) {
  const auto first = reinterpret_cast<uintptr_t>(text);
  const auto area = reinterpret_cast<uintptr_t>(buffer);
  return first < area + size && area < first + length + 1;
}

/* An empty clause ends the list; anything but blanks and separators after
 * it would be dropped unseen, so it is refused. */
bool OnlySeparatorsFollow(const char* p, const char* end) {
  for (; p != end; ++p) {
    if (!IsBlank(*p) && *p != kClauseSeparator)
      return false;
  }
  return true;
}

chunkdef_info* ParseClauses(const Source& source, const char* textEnd,
                            const chunkdef_info* previous) {
  chunkdef_info* head = nullptr;
  chunkdef_info** tail = &head;
  const chunkdef_info* before = previous;
  const char* p = source.upper;
  while (true) {
    p = SkipBlanks(p, textEnd);
    const char* end = FindChar(p, textEnd, kClauseSeparator);
    if (p == end) {
      if (OnlySeparatorsFollow(end, textEnd))
        break;
      DeleteChunkDefinitions(head);
      return nullptr;
    }
    chunkdef_info* clause = ParseClause(source, p, end, before);
    if (clause == nullptr) {
      DeleteChunkDefinitions(head);
      return nullptr;
    }
    *tail = clause;
    tail = &clause->next;
    before = clause;
    if (end == textEnd)
      break;
    p = end + 1;
  }
  return head;
}

/* ---------------------------------------------------------------------
 * The canonical text
 * --------------------------------------------------------------------- */

/* Appends to a fixed buffer, keeping it NUL-terminated; once something
 * does not fit, nothing more is written and the writer reports the
 * overflow. */
class TextWriter {
public:
  TextWriter(char* out, size_t size) : out_(out), size_(size) { out_[0] = '\0'; }

  void Put(char c) {
    if (overflow_ || used_ + 1 >= size_) {
      overflow_ = true;
      return;
    }
    out_[used_++] = c;
    out_[used_] = '\0';
  }
  void Put(const char* text) {
    for (; *text != '\0' && !overflow_; ++text)
      Put(*text);
  }
  void PutNumber(unsigned value) {
    char digits[12];
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (count > 0)
      Put(digits[--count]);
  }
  bool Overflowed() const { return overflow_; }

private:
  char* out_;
  size_t size_;
  size_t used_ = 0;
  bool overflow_ = false;
};

/* "Contains" is written only before "Everything", where leaving it out
 * would read back as the Everything clause. */
const char* RelationWord(const chunkdef_info& clause) {
  switch (clause.relation) {
  case RELATION_EVERYTHING:
    return "Everything";
  case RELATION_CONTAINS:
    return clause.target_type == TARGETTYPE_EVERYTHING ? "Contains " : "";
  case RELATION_INSIDE:
    return "Inside ";
  case RELATION_OUTSIDE:
    return "Outside ";
  case RELATION_BEFORE:
    return "Before ";
  case RELATION_AFTER:
    return "After ";
  case RELATION_STARTS_WITH:
    return "Starts With ";
  case RELATION_ENDS_WITH:
    return "Ends With ";
  default:
    return "Error ";
  }
}

const char* ModeWord(WORD mode) {
  switch (mode) {
  case MATCH_STARTS:
    return "Starts ";
  case MATCH_ENDS:
    return "Ends ";
  case MATCH_SUBSTRING:
    return "Substring ";
  case MATCH_BY_ID:
    return "ID ";
  case MATCH_BY_NAME:
    return "Name ";
  default:
    return "";
  }
}

/* The first of '"', '\'' and '|' that the text does not hold; 0 when it
 * holds all three. */
char QuoteFor(const char* text) {
  for (char quote : {'"', '\'', '|'}) {
    if (strchr(text, quote) == nullptr)
      return quote;
  }
  return '\0';
}

bool WriteMatchText(TextWriter& writer, const chunkdef_info& clause) {
  if (clause.match_mode == MATCH_NONE || clause.match_text == nullptr)
    return true;
  const char quote = QuoteFor(clause.match_text);
  if (quote == '\0' || strchr(clause.match_text, kClauseSeparator) != nullptr)
    return false;
  writer.Put(ModeWord(clause.match_mode));
  writer.Put(quote);
  writer.Put(clause.match_text);
  writer.Put(quote);
  writer.Put(' ');
  return true;
}

bool WriteIndexes(TextWriter& writer, const chunkdef_info& clause) {
  if (clause.index_count == 0) {
    writer.Put('*');
    return true;
  }
  if (clause.index_count > kMaxDefinitionIndexes)
    return false;
  for (WORD i = 0; i < clause.index_count; ++i) {
    if (i > 0)
      writer.Put(',');
    writer.PutNumber(clause.index_starts[i]);
    if (clause.index_ends[i] > clause.index_starts[i]) {
      writer.Put('-');
      writer.PutNumber(clause.index_ends[i]);
    }
  }
  return true;
}

bool WriteClause(TextWriter& writer, const chunkdef_info& clause) {
  writer.Put(RelationWord(clause));
  const bool everything =
      clause.relation == RELATION_EVERYTHING && clause.target_type == TARGETTYPE_EVERYTHING;
  if (!everything) {
    writer.Put(LookupTargetTypeName(clause.target_type, "Error"));
    writer.Put(' ');
  }
  if (!WriteMatchText(writer, clause))
    return false;
  if (clause.relation == RELATION_EVERYTHING)
    return true;
  return WriteIndexes(writer, clause);
}

} // namespace

chunkdef_info* ParseDefinition(LSXLsiSession* session, WORD /*unused*/, chunkdef_info* previous,
                               const char* text, DWORD* simple, bool* shortOfMemory) {
  bool memoryShort = false;
  if (shortOfMemory == nullptr)
    shortOfMemory = &memoryShort;
  *shortOfMemory = false;
  if (simple != nullptr)
    *simple = 0;
  if (session == nullptr || text == nullptr)
    return nullptr;
  char* upper = session->scratch_first;
  const size_t length = strnlen(text, VELKO_SCRATCH_TEXT_SIZE);
  if (length >= VELKO_SCRATCH_TEXT_SIZE)
    return nullptr;

  // A caller's text that lies in the scratch text itself is kept aside, so
  // that its match texts keep their case.
  std::unique_ptr<char[]> kept;
  if (Overlaps(text, length, upper, VELKO_SCRATCH_TEXT_SIZE)) {
    kept.reset(CopyOwnedText(text, length));
    if (kept == nullptr) {
      *shortOfMemory = true;
      return nullptr;
    }
    text = kept.get();
  }
  for (size_t i = 0; i < length; ++i)
    upper[i] = UpperAscii(text[i]);
  upper[length] = '\0';

  const Source source{upper, text, shortOfMemory};
  chunkdef_info* chain = ParseClauses(source, upper + length, previous);
  if (chain != nullptr && simple != nullptr)
    *simple = IsSimpleChain(chain) ? 1 : 0;
  return chain;
}

chunkdef_info* GetChunkDefFromChunk(VelkoRTChunk* chunk) {
  if (chunk == nullptr || chunk->internal == nullptr)
    return nullptr;
  return chunk->internal->definitions;
}

bool CalculateDefinition(const chunkdef_info* chain, char* out, size_t outSize) {
  if (out == nullptr || outSize == 0)
    return false;
  TextWriter writer(out, outSize);
  if (chain == nullptr)
    writer.Put("Everything");
  for (const chunkdef_info* clause = chain; clause != nullptr; clause = clause->next) {
    if (!WriteClause(writer, *clause)) {
      out[0] = '\0';
      return false;
    }
    if (clause->next != nullptr)
      writer.Put("; ");
  }
  if (writer.Overflowed()) {
    out[0] = '\0';
    return false;
  }
  return true;
}

WORD DefinitionTargetType(const chunkdef_info* chain) {
  if (chain == nullptr)
    return 0;
  while (chain->next != nullptr)
    chain = chain->next;
  return chain->target_type;
}
