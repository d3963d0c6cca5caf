/*
 * The keyword link matching methods: LinkMatching and the five methods that
 * call it with their mode, and the regular-expression variants that do
 * nothing. LinkMatching checks its arguments, builds (or reuses) the
 * session's keyword table from the documents of a view, and runs the
 * engine's matching action over the chunk until a pass changes nothing.
 *
 * Keywords come from a named reference field or from a formula evaluated
 * on each document. The result formula (the value a match links to, shows
 * or inserts) and the properties formula are started here and left in the
 * session for the matching action, which evaluates them per match; they
 * are stopped when the call ends.
 */
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <time.h>

#include <cctype>
#include <cstdlib>
#include <new>
#include <unordered_set>
#include <vector>

#include "chunk/link_matching.h"
#include "chunk/method_support.h"
#include "engine/keyword_index.h"
#include "host/formula.h"
#include "host/idtable.h"
#include "host/nls.h"
#include "host/nif.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osmem.h"
#include "host/textlist.h"
#include "host/timedate.h"
#include "store/host_release.h"
#include "store/messages.h"
#include "store/formula_value.h"
#include "store/note_access.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "store/view_selection.h"
#include "store/vocabulary.h"
#include "velko/property_string.h"

namespace {


constexpr DWORD kNoteTableSize = 65406;
constexpr DWORD kMaxKeywords = 16350;
constexpr DWORD kKeywordResultSize = 65406;
constexpr WORD kKeywordTextRoom = 65341;
constexpr WORD kKeywordListRoom = 60000;
constexpr WORD kMaxKeywordCompare = 80;
constexpr int kMaxPasses = 50;
constexpr char kValueSeparator = '`';

const char* MethodName(WORD mode) {
  switch (mode) {
  case LINK_MODE_APPEND:
    return "AppendMatching";
  case LINK_MODE_HIGHLIGHT:
    return "HighlightMatching";
  case LINK_MODE_INSERT:
    return "InsertMatching";
  case LINK_MODE_KEYWORD:
    return "KeywordMatching";
  case LINK_MODE_POPUP:
    return "PopupMatching";
  case LINK_MODE_REPLACE:
    return "ReplaceMatching";
  default:
    return "LinkMatching";
  }
}

bool IsFormulaText(const char* text) {
  return text != nullptr && (text[0] == '"' || text[0] == '@' || text[0] == '(');
}

void ShowMethodMessage(const char* format, const char* method) {
  char text[256];
  snprintf(text, sizeof text, format, method);
  ShowUserMessage(text);
}

/* Stores text as a key when it fits whole; false when it does not. */
bool StoreKey(char* key, size_t room, const char* text) {
  const size_t length = text != nullptr ? strlen(text) : 0;
  if (length >= room)
    return false;
  memcpy(key, text != nullptr ? text : "", length + 1);
  return true;
}

bool SameKey(const char* key, const char* text) {
  return text != nullptr && key[0] != '\0' && strcasecmp(key, text) == 0;
}

/* Day of the year and hour of a time in seconds since 1970. */
void DayAndHour(int64_t seconds, int* day, int* hour) {
  const time_t at = static_cast<time_t>(seconds);
  struct tm parts = {};
  gmtime_r(&at, &parts);
  *day = parts.tm_yday;
  *hour = parts.tm_hour;
}

int64_t Now() {
  TIMEDATE now;
  OSCurrentTIMEDATE(&now);
  return UnixFromTimeDate(now);
}

WORD MinimumLength(const char* options) {
  char value[32] = {};
  if (options == nullptr || !ExtractProperty(options, "MinLength=", value, sizeof value))
    return 3;
  const long number = strtol(value, nullptr, 10);
  if (number <= 0)
    return 1;
  return number > 132 ? 3 : static_cast<WORD>(number);
}

/* Whether the first and the last character of the text are letters; each
 * character is read whole, from a window padded with zeros at the end. */
void EdgeLetters(const char* text, size_t length, bool* first, bool* last) {
  *first = *last = false;
  for (size_t at = 0; at < length;) {
    BYTE window[4] = {};
    memcpy(window, text + at, length - at < sizeof window ? length - at : sizeof window);
    WORD bytes = 1;
    if (NLS_isleadbyte(window[0], nullptr) &&
        (NLS_string_bytes(window, 1, &bytes, nullptr) != NLS_SUCCESS || bytes == 0))
      bytes = 1;
    *last = NLS_isalpha(window, nullptr) != FALSE;
    if (at == 0)
      *first = *last;
    at += bytes;
  }
}

/* The keyword's first letter in lower case, for a letter of one byte. */
char FirstLetter(const char* text) {
  const BYTE c = static_cast<BYTE>(text[0]);
  return c < 0x80 && isalpha(c) ? static_cast<char>(tolower(c)) : 0;
}

/* The table being built: its current list and counts. */
struct table_builder {
  link_matching_info* table;
  int list = 0;
  WORD entries = 0; /* entries of the current list */
  DWORD total = 0;
  NOTEID* note_ids = nullptr;
};

STATUS StartList(table_builder* builder) {
  DHANDLE handle = NULLHANDLE;
  void* list = nullptr;
  if (STATUS status = ListAllocate(0, kKeywordListRoom, TRUE, &handle, &list, nullptr);
      status != NOERROR)
    return status;
  OSUnlockObject(handle);
  builder->table->keyword_lists[builder->list] = handle;
  builder->entries = 0;
  return NOERROR;
}

/* Adds one accepted keyword; false when no list can take it. */
bool AddKeyword(table_builder* builder, const char* text, WORD length, NOTEID id) {
  if (builder->total + builder->entries >= kMaxKeywords)
    return false;
  link_matching_info* table = builder->table;
  if (ListAddEntry(table->keyword_lists[builder->list], TRUE, nullptr, builder->entries, text,
                   length) != NOERROR) {
    if (builder->list + 1 >= kKeywordListHandles)
      return false;
    builder->total += builder->entries;
    ++builder->list;
    if (StartList(builder) != NOERROR ||
        ListAddEntry(table->keyword_lists[builder->list], TRUE, nullptr, 0, text, length) !=
            NOERROR)
      return false;
  }
  const DWORD k = builder->total + builder->entries;
  ++builder->entries;
  table->first_characters[k] = FirstLetter(text);
  builder->note_ids[k] = id;
  if (table->minimum_length == 0 || length < table->minimum_length)
    table->minimum_length = length;
  return true;
}

/* Where a note's keyword text comes from: a named field, or a started
 * formula evaluated on the note (the field then unread). */
struct keyword_source {
  const char* field;
  DHANDLE formula;
};

/* The keyword text of a note in the session's result text; its length. */
DWORD KeywordText(NOTEHANDLE note, const keyword_source& source, char* text) {
  if (source.formula == NULLHANDLE)
    return NSFItemConvertToText(note, source.field, text, kKeywordTextRoom, kValueSeparator);
  DWORD length = 0;
  if (EvaluateFormulaText(source.formula, note, number_range_text::first_number, text,
                          kKeywordTextRoom, &length) != NOERROR)
    return 0;
  return length;
}

/* The keywords one note gives: its text split at the separator. */
void CollectKeywords(table_builder* builder, NOTEID id, const keyword_source& source, WORD minimum,
                     bool wordBoundaries, LSXLsiSession* session) {
  NOTEHANDLE note = NULLHANDLE;
  if (NSFNoteOpen(builder->table->session->internal->link_db, id, 0, &note) != NOERROR)
    return;
  char* text = session->result_text;
  const DWORD length = KeywordText(note, source, text);
  NSFNoteClose(note);
  if (length < minimum) // a text of exactly the minimum is a keyword of its own
    return;
  text[length] = '\0';
  char* rest = nullptr;
  const char separators[] = {kValueSeparator, '\0'};
  for (char* piece = strtok_r(text, separators, &rest); piece != nullptr;
       piece = strtok_r(nullptr, separators, &rest)) {
    const size_t pieceLength = strlen(piece);
    const size_t counted = pieceLength > kMaxKeywordCompare ? kMaxKeywordCompare : pieceLength;
    if (counted < minimum)
      continue;
    bool firstLetter = false;
    bool lastLetter = false;
    if (wordBoundaries)
      EdgeLetters(piece, pieceLength, &firstLetter, &lastLetter);
    if (wordBoundaries && (!firstLetter || !lastLetter))
      continue;
    AddKeyword(builder, piece, static_cast<WORD>(pieceLength), id);
  }
}

/* Builds the keyword table from the view's documents. */
STATUS BuildTable(LSXLsiSession* session, const char* view, const keyword_source& source,
                  WORD minimum, bool wordBoundaries, bool readTarget) {
  _internal_SESS* internal = session->internal;
  DHANDLE ids = NULLHANDLE;
  if (STATUS status = ViewSelection(session, internal->link_db, view, nullptr, &ids, 1);
      status != NOERROR)
    return status;
  ReleaseHostMemory(ids);

  auto* table = new (std::nothrow) link_matching_info(session);
  if (table == nullptr)
    return VELKO_ERR_MEMORY;
  internal->link_matcher = table;
  const NOTEID* sorted = SortedIdList(session);
  DWORD count = SortedIdListCount(session);
  if (count > kMaxKeywords)
    count = kMaxKeywords;
  table->first_characters =
      static_cast<char*>(VelkoAllocatePtr(session, VELKO_HERE, kMaxKeywords, 1));
  if (table->first_characters == nullptr)
    return VELKO_ERR_MEMORY;
  if (STATUS status = OSMemAlloc(0x8000, kNoteTableSize, &table->note_ids); status != NOERROR)
    return status;
  table_builder builder{table};
  if (STATUS status = StartList(&builder); status != NOERROR)
    return status;
  builder.note_ids = static_cast<NOTEID*>(OSLockObject(table->note_ids));
  memset(builder.note_ids, 0, kNoteTableSize);
  table->minimum_length = 0;
  // A document listed twice gives its keywords once, where it stands first.
  std::unordered_set<NOTEID> seen;
  seen.reserve(count);
  for (DWORD i = 0; i < count; ++i)
    if (seen.insert(sorted[i]).second)
      CollectKeywords(&builder, sorted[i], source, minimum, wordBoundaries, session);
  builder.total += builder.entries;
  OSUnlockObject(table->note_ids);
  internal->link_cache_keyword_count = static_cast<WORD>(builder.total);
  return readTarget ? ReadLinkTarget(session, view) : NOERROR;
}

/* The cached table still serves these keys at this hour. */
bool CachedTableServes(const VelkoRTChunk& chunk, const char* server, const char* path,
                       const char* view, const char* field, const char* resultFormula) {
  const _internal_SESS* internal = chunk.session->internal;
  const link_matching_info* table = internal->link_matcher;
  if (chunk.item->CacheLinkMatching == 0 || table == nullptr ||
      table->keyword_lists[0] == NULLHANDLE || table->note_ids == NULLHANDLE ||
      internal->link_cache_build_time == 0)
    return false;
  if (strcasecmp(internal->link_cache_server, server != nullptr ? server : "") != 0 ||
      !SameKey(internal->link_cache_database, path) || !SameKey(internal->link_cache_view, view) ||
      !SameKey(internal->link_cache_reference_field, field))
    return false;
  if (!IsEmptyText(resultFormula) && strcmp(internal->link_cache_result_formula, resultFormula) != 0)
    return false;
  int builtDay = 0, builtHour = 0, day = 0, hour = 0;
  DayAndHour(internal->link_cache_build_time, &builtDay, &builtHour);
  DayAndHour(Now(), &day, &hour);
  return builtDay == day && builtHour == hour;
}

/* The matching options of the table for this call. */
void ReadMatchOptions(link_matching_info* table, const char* options, WORD mode) {
  char value[16] = {};
  table->match_mode = 1;
  if (options != nullptr && ExtractProperty(options, "MatchText=", value, sizeof value)) {
    if (strncasecmp(value, "Starts", 6) == 0)
      table->match_mode = 2;
    else if (strncasecmp(value, "Ends", 4) == 0)
      table->match_mode = 3;
    else if (strncasecmp(value, "Substr", 6) == 0)
      table->match_mode = 4;
    value[0] = '\0';
    table->ReplaceExtra =
        ExtractProperty(options, "ReplaceExtra=", value, sizeof value) && SameWord(value, "Yes")
            ? 1
            : 0;
  }
  value[0] = '\0';
  if (options != nullptr && ExtractProperty(options, "SingleMatch=", value, sizeof value))
    table->SingleMatch = SameWord(value, "Yes") ? 1 : 0;
  else
    table->SingleMatch = mode == LINK_MODE_KEYWORD ? 1 : 0;
}

/* Compiles and starts a formula into *compute; a formula with an error
 * leaves it in *compileError. */
STATUS StartFormula(const char* text, DHANDLE* compute, STATUS* compileError) {
  std::vector<char> compiled(0x10000);
  const compiled_formula outcome = CompileFormulaInto(text, 0, compiled.data(), compiled.size());
  if (outcome.status != NOERROR) {
    *compileError = outcome.compile_error;
    return outcome.status;
  }
  return NSFComputeStart(0, compiled.data(), compute);
}

/* The formulas of one call, started; stopped and cleared when it ends.
 * The value and properties formulas live in the session, where the
 * matching action reads them. */
class started_formulas {
public:
  explicit started_formulas(_internal_SESS* internal) : internal_(internal) {}
  ~started_formulas() {
    for (DHANDLE* compute :
         {&keyword, &internal_->link_value_formula, &internal_->link_properties_formula}) {
      if (*compute != NULLHANDLE)
        NSFComputeStop(*compute);
      *compute = NULLHANDLE;
    }
  }
  started_formulas(const started_formulas&) = delete;
  started_formulas& operator=(const started_formulas&) = delete;

  DHANDLE keyword = NULLHANDLE;

private:
  _internal_SESS* internal_;
};

/* Runs the matching passes, the clean-up pass and the commit. */
STATUS RunMatching(VelkoRTChunk& chunk, WORD mode, const char* resultFormula, char* result) {
  SavedSwitches switches(chunk);
  chunk.status = 0;
  STATUS status = NOERROR;
  for (int pass = 0; pass < kMaxPasses; ++pass) {
    chunk.session->internal->link_match_found = 0;
    status = chunk.AlterRichText(ACTION_LINK_MATCHING, mode, 0, 0, 0, resultFormula, result,
                                 nullptr, nullptr);
    if ((status != NOERROR && status != VELKO_ERR_ITEM_NOT_FOUND) ||
        chunk.session->internal->link_match_found == 0)
      break;
    // A pass that matched wrote its text around the matches as new text
    // runs; the rest it left as the last pass had. When none of those runs
    // holds a keyword the next pass would take, that pass would change
    // nothing: the loop ends here, as after it.
    if (!KeywordPassNeeded(chunk.session->internal->link_matcher))
      break;
  }
  if (status == VELKO_ERR_ITEM_NOT_FOUND)
    status = NOERROR;
  if (status != NOERROR)
    return status;
  switches.RestoreMerge();
  if (mode == LINK_MODE_KEYWORD)
    return NOERROR;
  if (switches.auto_merge() != 0) {
    if (STATUS merged = chunk.AlterRichText(ACTION_CLEANUP_TEXT_RUNS, 0, 0, 0, 0, nullptr,
                                            nullptr, nullptr, nullptr);
        merged != NOERROR)
      return merged;
  }
  switches.RestoreAll();
  if (switches.cache_records() != 0)
    return NOERROR;
  if (STATUS committed = chunk.item->Commit(); committed != NOERROR)
    return committed;
  return chunk.item->AutoSave != 0 ? NSFNoteUpdate(chunk.item->note, UPDATE_FORCE) : NOERROR;
}

/* The work of LinkMatching once the arguments are checked and the options
 * read; the database is open as the session's link database. */
STATUS MatchWithDatabase(VelkoRTChunk& chunk, const char* server, const char* path,
                         const char* view, const keyword_source& source,
                         const char* resultFormula, const char* options, WORD mode,
                         char* result) {
  LSXLsiSession* session = chunk.session;
  _internal_SESS* internal = session->internal;
  const char* field = source.field;
  // Links to the keyword documents go through the view; a result formula
  // links elsewhere.
  const bool readTarget = IsEmptyText(resultFormula);
  const bool reuse = CachedTableServes(chunk, server, path, view, field, resultFormula);
  if (!reuse)
    DropCachedTable(session);
  bool built = false;
  if (!reuse) {
    if (STATUS status = BuildTable(session, view, source, MinimumLength(options),
                                   chunk.SearchWordBoundaries != 0, readTarget);
        status != NOERROR)
      return status;
    built = true;
  } else if (STATUS status = readTarget ? ReadLinkTarget(session, view) : STATUS{NOERROR};
             status != NOERROR) {
    return status;
  }
  link_matching_info* table = internal->link_matcher;
  VelkoDeallocatePtr(session, table->matched_words);
  table->matched_words = static_cast<char*>(
      VelkoAllocatePtr(session, VELKO_HERE, internal->link_cache_keyword_count + 1u, 1));
  if (table->matched_words == nullptr)
    return VELKO_ERR_MEMORY;
  ReadMatchOptions(table, options, mode);

  const char* previousOptions = internal->option_string;
  internal->option_string = options;
  const STATUS status = RunMatching(chunk, mode, resultFormula, result);
  internal->option_string = previousOptions;
  if (status != NOERROR)
    return status;

  if (built && chunk.item->CacheLinkMatching != 0 &&
      StoreKey(internal->link_cache_server, sizeof internal->link_cache_server, server) &&
      StoreKey(internal->link_cache_database, sizeof internal->link_cache_database, path) &&
      StoreKey(internal->link_cache_view, sizeof internal->link_cache_view, view) &&
      StoreKey(internal->link_cache_reference_field, sizeof internal->link_cache_reference_field,
               field) &&
      StoreKey(internal->link_cache_result_formula, sizeof internal->link_cache_result_formula,
               resultFormula)) {
    internal->link_cache_build_time = static_cast<DWORD>(Now());
  } else if (built) {
    const WORD count = internal->link_cache_keyword_count;
    DropCachedTable(session);
    internal->link_cache_keyword_count = count;
  } else {
    // A reused table serves once: the next call builds it anew.
    delete internal->link_matcher;
    internal->link_matcher = nullptr;
  }
  return NOERROR;
}

} // namespace

/* Frees the table's lists and note table and forgets the keys. */
void DropCachedTable(LSXLsiSession* session) {
  _internal_SESS* internal = session->internal;
  delete internal->link_matcher; // its destructor frees the handles and arrays
  internal->link_matcher = nullptr;
  ForgetLinkCacheKeys(internal);
}

/* Reads the link database's replica ID and the view's UNID for the links. */
STATUS ReadLinkTarget(LSXLsiSession* session, const char* view) {
  _internal_SESS* internal = session->internal;
  DBREPLICAINFO replica = {};
  if (STATUS status = NSFDbReplicaInfoGet(internal->link_db, &replica); status != NOERROR)
    return status;
  internal->link_replica = replica.ID;
  NOTEID viewId = 0;
  if (STATUS status = NIFFindDesignNote(internal->link_db, view, NOTE_CLASS_VIEW, &viewId);
      status != NOERROR)
    return status;
  ORIGINATORID oid = {};
  if (STATUS status = NSFDbGetNoteInfo(internal->link_db, viewId, &oid, nullptr, nullptr);
      status != NOERROR)
    return status;
  static_assert(sizeof internal->link_view == sizeof oid.File + sizeof oid.Note);
  memcpy(&internal->link_view, &oid, sizeof internal->link_view);
  return NOERROR;
}

STATUS VelkoRTChunk::LinkMatching(const char* server, const char* path, const char* view,
                                  const char* field, const char* resultFormula,
                                  const char* properties, WORD mode) {
  if (mode < LINK_MODE_APPEND || mode > LINK_MODE_REPLACE)
    mode = ACTION_LINK_MATCHING;
  const char* method = MethodName(mode);
  LSXLsiSession* owner = session;
  const char* refusal = nullptr;
  if (IsEmptyText(path))
    refusal = "TARNO: %s method passed an invalid database filepath.";
  else if (IsEmptyText(view))
    refusal = "TARNO: %s method passed an invalid view name.";
  else if (IsEmptyText(field))
    refusal = "TARNO: %s missing reference fieldname.";
  if (refusal != nullptr) {
    ShowMethodMessage(refusal, method);
    DropCachedTable(owner);
    return status = VELKO_ERR_INVALID_ARGUMENT;
  }
  // A chunk whose item was disconnected has no records to match in.
  if (item == nullptr)
    return status = VELKO_ERR_BAD_ARGUMENT;

  struct formula_start {
    const char* text;
    const char* message;
    DHANDLE* compute;
  };
  started_formulas formulas(owner->internal);
  // The messages are the method's own: the result formula's names the
  // properties formula, and the properties formula's names LinkMatching
  // whatever the method.
  const formula_start starts[] = {
      {IsFormulaText(field) ? field : nullptr,
       mode == ACTION_LINK_MATCHING ? "TARNO: %s URL fieldname formula failed to compile."
                                    : "TARNO: %s result fieldname formula failed to compile.",
       &formulas.keyword},
      {IsEmptyText(resultFormula) ? nullptr : resultFormula,
       "TARNO: %s properties formula failed to compile.", &owner->internal->link_value_formula},
      {IsFormulaText(properties) ? properties : nullptr,
       "TARNO: LinkMatching properties formula failed to compile.",
       &owner->internal->link_properties_formula},
  };
  for (const formula_start& start : starts) {
    if (start.text == nullptr)
      continue;
    STATUS compileError = NOERROR;
    if (STATUS started = StartFormula(start.text, start.compute, &compileError);
        started != NOERROR) {
      DropCachedTable(owner);
      if (compileError == NOERROR)
        return status = started;
      ShowMethodMessage(start.message, method);
      status = compileError;
      return VELKO_ERR_IMPORT_FAILED; // 20014: a formula does not compile
    }
  }
  const char* options = IsFormulaText(properties) ? nullptr : properties;
  const keyword_source source{field, formulas.keyword};

  char* result = nullptr;
  if (mode == LINK_MODE_KEYWORD) {
    result = static_cast<char*>(VelkoAllocatePtr(owner, VELKO_HERE, kKeywordResultSize, 1));
    if (result == nullptr)
      return status = VELKO_ERR_MEMORY;
  }
  _internal_SESS* internal = owner->internal;
  DBHANDLE db = NULLHANDLE;
  STATUS outcome = OpenDB(owner, server, path, &db);
  if (outcome == NOERROR) {
    const DBHANDLE previousDb = internal->link_db;
    internal->link_db = db;
    outcome =
        MatchWithDatabase(*this, server, path, view, source, resultFormula, options, mode, result);
    CloseCachedViewCollection(owner);
    FreeSortedIdList(owner);
    internal->link_db = previousDb;
    NSFDbClose(db);
  }
  if (outcome != NOERROR)
    DropCachedTable(owner);
  if (result != nullptr) {
    if (outcome == NOERROR) {
      const size_t length = strnlen(result, VELKO_RESULT_TEXT_SIZE - 1);
      memcpy(owner->result_text, result, length);
      owner->result_text[length] = '\0';
    }
    VelkoDeallocatePtr(owner, result);
  }
  return status = static_cast<WORD>(outcome);
}

#define VELKO_MATCHING_METHOD(name, mode)                                                      \
  STATUS VelkoRTChunk::name(const char* server, const char* path, const char* view,          \
                            const char* field, const char* resultFormula,                    \
                            const char* properties) {                                        \
    return LinkMatching(server, path, view, field, resultFormula, properties, mode);         \
  }
VELKO_MATCHING_METHOD(AppendMatching, LINK_MODE_APPEND)
VELKO_MATCHING_METHOD(HighlightMatching, LINK_MODE_HIGHLIGHT)
VELKO_MATCHING_METHOD(InsertMatching, LINK_MODE_INSERT)
VELKO_MATCHING_METHOD(KeywordMatching, LINK_MODE_KEYWORD)
VELKO_MATCHING_METHOD(PopupMatching, LINK_MODE_POPUP)
VELKO_MATCHING_METHOD(ReplaceMatching, LINK_MODE_REPLACE)
#undef VELKO_MATCHING_METHOD

STATUS VelkoRTChunk::RegexLink(const char*, const char*, const char*, WORD) { return NOERROR; }
STATUS VelkoRTChunk::RegexHighlight(const char* a, const char* b, const char* c) {
  return RegexLink(a, b, c, 2817);
}
STATUS VelkoRTChunk::RegexKeywords(const char* a, const char* b, const char* c) {
  return RegexLink(a, b, c, 2818);
}
STATUS VelkoRTChunk::RegexPopup(const char* a, const char* b, const char* c) {
  return RegexLink(a, b, c, 2820);
}
STATUS VelkoRTChunk::RegexReplace(const char* a, const char* b, const char* c) {
  return RegexLink(a, b, c, 2821);
}
