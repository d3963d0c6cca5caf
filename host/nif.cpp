/*
 * Design notes and collections.
 *
 * A design note is found among the stored notes of a class by its
 * "$TITLE": each text (or text list entry) may hold several names
 * separated by '|', compared without regard to case (blanks around a name
 * are dropped). Notes not yet stored are not seen.
 *
 * The design collection holds nothing, so opening, updating and closing
 * it only keep a handle. A view's collection is built in full when it is
 * opened or updated: the selected documents with their keys, sorted, with
 * category entries where the view asks for them. Short memory is
 * ERR_MEMORY.
 */
#include "host/nif.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/host_internal.h"
#include "host/nls.h"
#include "host/osmem.h"
#include "host/selection_internal.h"
#include "host/status.h"
#include "host/storage.h"

using namespace velko::host;

namespace {

constexpr NOTEID kDesignCollection = NOTE_ID_SPECIAL | NOTE_CLASS_DESIGN;

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  return text;
}

bool SameDesignName(std::string_view a, std::string_view b) {
  if (a.size() > 0xFFFF || b.size() > 0xFFFF)
    return false;
  return CollatedCompare(a, b, INTL_ACCENT_SENSITIVE) == 0;
}

// TRUE when one of the names in the "$TITLE" value is the wanted one.
bool TitleNames(std::string_view value, std::string_view wanted) {
  std::vector<std::string_view> texts;
  if (!ValueTexts(reinterpret_cast<const BYTE*>(value.data()), static_cast<DWORD>(value.size()),
                  &texts))
    return false;
  for (std::string_view text : texts) {
    size_t start = 0;
    while (start <= text.size()) {
      size_t bar = text.find('|', start);
      if (bar == std::string_view::npos)
        bar = text.size();
      if (SameDesignName(TrimBlanks(text.substr(start, bar - start)), wanted))
        return true;
      start = bar + 1;
    }
  }
  return false;
}

} // namespace

extern "C" STATUS NIFFindDesignNote(DBHANDLE db, const char* name, WORD noteClass,
                                    NOTEID* retNoteID) {
  if (name == nullptr || retNoteID == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  *retNoteID = 0;
  return GuardedStatus([&]() -> STATUS {
    const auto lock = LockHost();
    const OpenDatabase* database = FindDatabase(db);
    if (database == nullptr)
      return ERR_HOST_BAD_HANDLE;
    const std::string_view wanted = TrimBlanks(name);
    if (wanted.empty())
      return ERR_NOT_FOUND;
    // Only the first "$TITLE" item of each note names it.
    Statement query(database->store->db(),
                    "SELECT n.note_id, i.value FROM notes n JOIN items i ON i.note_id = n.note_id "
                    "WHERE i.name_key = '$title' AND (n.class & ?) != 0 "
                    "AND i.position = (SELECT MIN(position) FROM items "
                    "WHERE note_id = n.note_id AND name_key = '$title') "
                    "ORDER BY n.note_id");
    query.Bind(1, noteClass & NOTE_CLASS_ALL);
    int result;
    while ((result = query.Step()) == SQLITE_ROW) {
      if (TitleNames(query.Blob(1), wanted)) {
        *retNoteID = static_cast<NOTEID>(query.Int(0));
        return NOERROR;
      }
    }
    return result == SQLITE_DONE ? ERR_NOT_FOUND : ERR_HOST_STORAGE;
  });
}

namespace {

DWORD readEntriesLimit = READ_ENTRIES_LIMIT;

// The first stored value of the note's item (type word first); empty when
// the note has none.
STATUS FirstItemValue(sqlite3* db, NOTEID id, std::string_view key, std::string* value) {
  Statement query(db, "SELECT value FROM items WHERE note_id = ? AND name_key = ? "
                      "ORDER BY position LIMIT 1");
  query.Bind(1, id).BindText(2, key);
  const int result = query.Step();
  if (result == SQLITE_ROW)
    value->assign(query.Blob(0));
  else
    value->clear();
  return result == SQLITE_ROW || result == SQLITE_DONE ? NOERROR : ERR_HOST_STORAGE;
}

// What a view note says: its selection, key and key flags.
struct ViewDefinition {
  std::string selection; // compiled; empty: every document
  std::string keyItem;   // the key item's name key; empty with a key formula or no key
  std::string keyFormula; // compiled
  WORD keyFlags = 0;
};

// The value after the type word when the value is of the type, else "".
std::string_view ValueOfType(std::string_view value, WORD type) {
  if (value.size() < 2 || ValueType(reinterpret_cast<const BYTE*>(value.data()),
                                    static_cast<DWORD>(value.size())) != type)
    return {};
  return value.substr(2);
}

STATUS ReadViewDefinition(sqlite3* db, NOTEID viewNoteID, ViewDefinition* view) {
  NoteRow row;
  const STATUS read = ReadNoteRow(db, viewNoteID, &row);
  if (read == ERR_HOST_NOTE_NOT_FOUND || (read == NOERROR && !(row.noteClass & NOTE_CLASS_VIEW)))
    return ERR_HOST_COLLECTION;
  if (read != NOERROR)
    return read;
  std::string value;
  if (STATUS status = FirstItemValue(db, viewNoteID, "$formula", &value); status != NOERROR)
    return status;
  view->selection = ValueOfType(value, TYPE_FORMULA);
  if (SelectsEverything(view->selection))
    view->selection.clear();
  if (STATUS status = FirstItemValue(db, viewNoteID, ItemKey(VIEW_SORT_KEY_ITEM), &value);
      status != NOERROR)
    return status;
  view->keyItem = ItemKey(ValueOfType(value, TYPE_TEXT));
  view->keyFormula = ValueOfType(value, TYPE_FORMULA);
  if (STATUS status = FirstItemValue(db, viewNoteID, ItemKey(VIEW_KEY_FLAGS_ITEM), &value);
      status != NOERROR)
    return status;
  const CollectionKey flags = CollectionKeyOf(value);
  if (flags.number && flags.value >= 0 && flags.value <= 0xFFFF)
    view->keyFlags = static_cast<WORD>(flags.value);
  return NOERROR;
}

// Orders two keys as the view does (without its direction).
int CompareKeys(const CollectionKey& a, const CollectionKey& b, WORD keyFlags) {
  if (a.number != b.number)
    return a.number ? -1 : 1;
  if (a.number)
    return a.value < b.value ? -1 : a.value > b.value ? 1 : 0;
  const WORD flags =
      INTL_ACCENT_SENSITIVE | ((keyFlags & VIEW_KEY_CASE_SENSITIVE) ? INTL_CASE_SENSITIVE : 0);
  return CollatedCompare(a.text, b.text, flags);
}

// The kept answer of the note, when there is one and the note has not been
// written since.
const ViewAnswer* KeptAnswer(const ViewAnswers* kept, const Store& store, NOTEID id) {
  if (kept == nullptr)
    return nullptr;
  const auto found = kept->of.find(id);
  return found != kept->of.end() && found->second.writes == store.NoteWrites(id) ? &found->second
                                                                                : nullptr;
}

// Builds the collection's entries from the stored notes; the collection is
// changed only when all went well.
STATUS BuildViewEntries(OpenCollection& collection) {
  const OpenDatabase* viewDatabase = FindDatabase(collection.db);
  const OpenDatabase* dataDatabase = FindDatabase(collection.dataDb);
  if (viewDatabase == nullptr || dataDatabase == nullptr)
    return ERR_HOST_BAD_HANDLE;
  ViewDefinition view;
  if (STATUS status = ReadViewDefinition(viewDatabase->store->db(), collection.viewNoteID, &view);
      status != NOERROR)
    return status;
  StartedFormula selection;
  StartedFormula keyFormula;
  if (!view.selection.empty())
    if (STATUS status = selection.Start(view.selection); status != NOERROR)
      return status;
  if (!view.keyFormula.empty())
    if (STATUS status = keyFormula.Start(view.keyFormula); status != NOERROR)
      return status;

  // When the formulas read nothing but items, a document not written since
  // the last build of this definition answers as it did then; answers that
  // showed a message (a damaged item) are found again, to show it again.
  // Keeping answers never changes what a build returns: when they cannot be
  // kept, every document answers anew.
  Store& store = *dataDatabase->store;
  ViewAnswers* kept = nullptr;
  if ((!view.selection.empty() || !view.keyFormula.empty()) &&
      (view.selection.empty() || selection.ReadsOnlyItems()) &&
      (view.keyFormula.empty() || keyFormula.ReadsOnlyItems())) {
    try {
      std::string definition = view.selection;
      for (const std::string* part : {&view.keyFormula, &view.keyItem}) {
        definition += '\0';
        definition += *part;
      }
      kept = store.AnswersOfView(definition);
    } catch (const std::bad_alloc&) {
      kept = nullptr;
    }
  }

  // The documents' rows are read in one go when a formula opens them,
  // unless documents answer as before: the few others read their own.
  const bool rows = (kept == nullptr || kept->of.empty()) &&
                    (!view.selection.empty() || !view.keyFormula.empty());
  std::vector<StoredNote> documents;
  if (!rows) {
    std::vector<NOTEID> ids;
    if (STATUS status = StoredNotesOfClass(store.db(), NOTE_CLASS_DOCUMENT, &ids);
        status != NOERROR)
      return status;
    documents.resize(ids.size());
    for (size_t i = 0; i < ids.size(); ++i)
      documents[i].id = ids[i];
  } else if (STATUS status = StoredNoteRowsOfClass(store.db(), NOTE_CLASS_DOCUMENT, &documents);
             status != NOERROR) {
    return status;
  }

  // Whether a document is selected, and its key when it is.
  std::string value;
  const auto answer = [&](const StoredNote& document, ViewAnswer* found) -> STATUS {
    const NOTEID id = document.id;
    const StoredNote* row = rows ? &document : nullptr;
    found->matches = true;
    if (!view.selection.empty())
      if (STATUS status = selection.Evaluate(collection.dataDb, id, &found->matches, nullptr, row);
          status != NOERROR)
        return status;
    if (!found->matches)
      return NOERROR;
    if (!view.keyFormula.empty()) {
      bool ignored = false;
      return keyFormula.Evaluate(collection.dataDb, id, &ignored, &found->key, row);
    }
    if (!view.keyItem.empty()) {
      if (STATUS status = FirstItemValue(store.db(), id, view.keyItem, &value); status != NOERROR)
        return status;
      found->key = CollectionKeyOf(value);
    }
    return NOERROR;
  };

  ViewAnswers answers;
  std::vector<CollectionEntry> selected;
  for (const StoredNote& document : documents) {
    ViewAnswer found;
    bool keep = kept != nullptr;
    if (const ViewAnswer* known = KeptAnswer(kept, store, document.id)) {
      found = *known;
    } else {
      const uint64_t messages = HostMessagesShown();
      if (STATUS status = answer(document, &found); status != NOERROR)
        return status;
      found.writes = store.NoteWrites(document.id);
      keep = keep && HostMessagesShown() == messages;
    }
    try {
      if (keep)
        answers.of.emplace(document.id, found);
    } catch (const std::bad_alloc&) {
      kept->of.clear();
      kept = nullptr;
    }
    if (found.matches)
      selected.push_back(CollectionEntry{document.id, std::move(found.key)});
  }
  if (kept != nullptr)
    *kept = std::move(answers);

  // Documents come in note-ID order, so a stable sort by key keeps equal
  // keys in that order whichever way the keys run. Without a key they are
  // all equal: the order stays.
  const bool descending = (view.keyFlags & VIEW_KEY_DESCENDING) != 0;
  if (!view.keyItem.empty() || !view.keyFormula.empty())
    std::stable_sort(selected.begin(), selected.end(),
                     [&](const CollectionEntry& a, const CollectionEntry& b) {
                       const int order = CompareKeys(a.key, b.key, view.keyFlags);
                       return descending ? order > 0 : order < 0;
                     });

  std::vector<CollectionEntry> entries;
  if (view.keyFlags & VIEW_KEY_CATEGORIZED) {
    entries.reserve(selected.size() * 2);
    DWORD category = 0;
    for (CollectionEntry& entry : selected) {
      // entries ends with the document before this one, if any.
      if (entries.empty() || CompareKeys(entries.back().key, entry.key, view.keyFlags) != 0)
        entries.push_back(CollectionEntry{NOTEID_CATEGORY | ++category, entry.key});
      entries.push_back(std::move(entry));
    }
  } else {
    entries = std::move(selected);
  }
  collection.keyFlags = view.keyFlags;
  collection.entries = std::move(entries);
  return NOERROR;
}

// TRUE when a document's key equals the name in any case.
bool KeyEqualsName(const CollectionKey& key, const std::string& name) {
  if (key.number) {
    char* end = nullptr;
    const double number = std::strtod(name.c_str(), &end);
    return !name.empty() && end == name.c_str() + name.size() && number == key.value;
  }
  return CollatedCompare(key.text, name, INTL_ACCENT_SENSITIVE) == 0;
}

} // namespace


extern "C" STATUS NIFOpenCollection(DBHANDLE viewDb, DBHANDLE dataDb, NOTEID viewNoteID,
                                    WORD /*openFlags*/, HCOLLECTION* retCollection) {
  if (retCollection == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  *retCollection = NULLHANDLE;
  const auto lock = LockHost();
  if (FindDatabase(viewDb) == nullptr)
    return ERR_HOST_BAD_HANDLE;
  if (dataDb != NULLHANDLE && FindDatabase(dataDb) == nullptr)
    return ERR_HOST_BAD_HANDLE;
  return GuardedStatus([&]() -> STATUS {
    auto collection = std::make_unique<OpenCollection>();
    collection->db = viewDb;
    if (viewNoteID != kDesignCollection) {
      collection->dataDb = dataDb != NULLHANDLE ? dataDb : viewDb;
      collection->viewNoteID = viewNoteID;
      if (STATUS status = BuildViewEntries(*collection); status != NOERROR)
        return status;
    }
    const HCOLLECTION handle = Collections().Add(std::move(collection));
    if (handle == NULLHANDLE)
      return ERR_MEMORY;
    *retCollection = handle;
    return NOERROR;
  });
}

extern "C" STATUS NIFUpdateCollection(HCOLLECTION collection) {
  return GuardedStatus([&]() -> STATUS {
    const auto lock = LockHost();
    OpenCollection* open = Collections().Find(collection);
    if (open == nullptr)
      return ERR_HOST_BAD_HANDLE;
    return open->viewNoteID == 0 ? NOERROR : BuildViewEntries(*open);
  });
}

extern "C" STATUS NIFCloseCollection(HCOLLECTION collection) {
  const auto lock = LockHost();
  return Collections().Remove(collection) ? NOERROR : ERR_HOST_BAD_HANDLE;
}

extern "C" STATUS NIFFindByName(HCOLLECTION collection, const char* name, WORD findFlags,
                                COLLECTIONPOSITION* retIndexPos, DWORD* retNumMatches) {
  if (name == nullptr || retIndexPos == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  if (findFlags != FIND_CASE_INSENSITIVE)
    return ERR_HOST_NOT_SUPPORTED;
  return GuardedStatus([&]() -> STATUS {
    const auto lock = LockHost();
    const OpenCollection* open = Collections().Find(collection);
    if (open == nullptr)
      return ERR_HOST_BAD_HANDLE;
    const std::string nameText(name);
    const std::vector<CollectionEntry>& entries = open->entries;
    size_t first = 0;
    while (first < entries.size() &&
           ((entries[first].id & NOTEID_CATEGORY) ||
            !KeyEqualsName(entries[first].key, nameText)))
      ++first;
    if (first == entries.size())
      return ERR_NOT_FOUND;
    size_t end = first + 1;
    while (end < entries.size() && KeyEqualsName(entries[end].key, nameText))
      ++end;
    std::memset(retIndexPos, 0, sizeof *retIndexPos);
    retIndexPos->Tumbler[0] = static_cast<DWORD>(first + 1);
    if (retNumMatches != nullptr)
      *retNumMatches = static_cast<DWORD>(end - first);
    return NOERROR;
  });
}

extern "C" STATUS NIFReadEntries(HCOLLECTION collection, COLLECTIONPOSITION* indexPos,
                                 WORD skipNavigator, DWORD skipCount, WORD returnNavigator,
                                 DWORD returnCount, DWORD returnMask, DHANDLE* retBuffer,
                                 WORD* retBufferLength, DWORD* retNumEntriesSkipped,
                                 DWORD* retNumEntriesReturned, WORD* retSignalFlags) {
  if (retBuffer != nullptr)
    *retBuffer = NULLHANDLE;
  if (retBufferLength != nullptr)
    *retBufferLength = 0;
  if (retNumEntriesSkipped != nullptr)
    *retNumEntriesSkipped = 0;
  if (retNumEntriesReturned != nullptr)
    *retNumEntriesReturned = 0;
  if (retSignalFlags != nullptr)
    *retSignalFlags = 0;
  if (indexPos == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  if ((skipCount != 0 && skipNavigator != NAVIGATE_NEXT) ||
      (returnCount != 0 && returnNavigator != NAVIGATE_NEXT) || returnMask != READ_MASK_NOTEID)
    return ERR_HOST_NOT_SUPPORTED;
  const auto lock = LockHost();
  const OpenCollection* open = Collections().Find(collection);
  if (open == nullptr)
    return ERR_HOST_BAD_HANDLE;
  const std::vector<CollectionEntry>& entries = open->entries;
  const uint64_t size = entries.size();

  // Entry numbers count from 1; 0 is before the first.
  const uint64_t at = std::min<uint64_t>(indexPos->Tumbler[0], size);
  const uint64_t skipped = std::min<uint64_t>(skipCount, size - at);
  // A skip that runs past the last entry leaves nothing to return.
  uint64_t start = at + std::min<uint64_t>(skipCount, size + 1 - at);
  if (start == 0)
    start = 1;
  const uint64_t left = start <= size ? size - start + 1 : 0;
  const uint64_t count = std::min<uint64_t>({returnCount, readEntriesLimit, left});

  DHANDLE buffer = NULLHANDLE;
  if (count != 0 && retBuffer != nullptr) {
    if (STATUS status = OSMemAlloc(0, static_cast<DWORD>(count * sizeof(NOTEID)), &buffer);
        status != NOERROR)
      return status;
    auto* ids = static_cast<NOTEID*>(OSLockObject(buffer));
    for (uint64_t i = 0; i < count; ++i)
      ids[i] = entries[start - 1 + i].id;
    OSUnlockObject(buffer);
  }
  std::memset(indexPos, 0, sizeof *indexPos);
  indexPos->Tumbler[0] = static_cast<DWORD>(count != 0 ? start + count - 1 : at + skipped);
  if (retBuffer != nullptr)
    *retBuffer = buffer;
  if (retBufferLength != nullptr)
    *retBufferLength = static_cast<WORD>(count * sizeof(NOTEID));
  if (retNumEntriesSkipped != nullptr)
    *retNumEntriesSkipped = static_cast<DWORD>(skipped);
  if (retNumEntriesReturned != nullptr)
    *retNumEntriesReturned = static_cast<DWORD>(count);
  if (retSignalFlags != nullptr && count < returnCount && start + count - 1 < size && count != 0)
    *retSignalFlags = SIGNAL_MORE_TO_DO;
  return NOERROR;
}

/* ---- test controls (host/host_testing.h); left out of the shipped library ---- */

#ifdef VELKO_TEST_CONTROLS

#include "host/host_testing.h"
#include "host/nsfnote.h"

void velko::host::ResetViewsForTests() { readEntriesLimit = READ_ENTRIES_LIMIT; }

void HostTestSetReadEntriesLimit(DWORD limit) {
  readEntriesLimit = limit == 0 || limit > READ_ENTRIES_LIMIT ? READ_ENTRIES_LIMIT : limit;
}

namespace {

// TRUE for a text made of letters, digits, '_' and '$' only: an item name.
bool PlainItemName(std::string_view text) {
  if (text.empty())
    return false;
  for (const char c : text)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
          c == '_' || c == '$'))
      return false;
  return true;
}

// Appends the compiled formula as a TYPE_FORMULA item.
STATUS AppendFormulaItem(NOTEHANDLE note, const char* name, const char* text) {
  FORMULAHANDLE formula = NULLHANDLE;
  WORD length = 0;
  STATUS status = NSFFormulaCompile(nullptr, 0, text, 0, &formula, &length, nullptr, nullptr,
                                    nullptr, nullptr, nullptr);
  if (status != NOERROR)
    return status;
  const void* bytes = OSLockObject(formula);
  status = NSFItemAppend(note, 0, name, static_cast<WORD>(std::strlen(name)), TYPE_FORMULA, bytes,
                         length);
  OSUnlockObject(formula);
  static_cast<void>(OSMemFree(formula));
  return status;
}

} // namespace

STATUS HostTestCreateView(DBHANDLE db, const char* title, const char* selection,
                          const char* sortKey, WORD keyFlags, NOTEID* retNoteID) {
  if (retNoteID != nullptr)
    *retNoteID = 0;
  if (title == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  NOTEHANDLE note = NULLHANDLE;
  STATUS status = NSFNoteCreate(db, &note);
  if (status != NOERROR)
    return status;
  const WORD viewClass = NOTE_CLASS_VIEW;
  NSFNoteSetInfo(note, _NOTE_CLASS, &viewClass);
  status = NSFItemSetText(note, "$TITLE", title, static_cast<WORD>(std::strlen(title)));
  if (status == NOERROR)
    status = AppendFormulaItem(note, "$FORMULA", selection != nullptr ? selection : "SELECT @All");
  if (status == NOERROR && sortKey != nullptr) {
    status = PlainItemName(sortKey)
                 ? NSFItemSetText(note, VIEW_SORT_KEY_ITEM, sortKey,
                                  static_cast<WORD>(std::strlen(sortKey)))
                 : AppendFormulaItem(note, VIEW_SORT_KEY_ITEM, sortKey);
  }
  if (status == NOERROR) {
    const double flags = keyFlags;
    status = NSFItemAppend(note, 0, VIEW_KEY_FLAGS_ITEM,
                           static_cast<WORD>(std::strlen(VIEW_KEY_FLAGS_ITEM)), TYPE_NUMBER,
                           &flags, sizeof flags);
  }
  if (status == NOERROR)
    status = NSFNoteUpdate(note, 0);
  if (status == NOERROR && retNoteID != nullptr)
    NSFNoteGetInfo(note, _NOTE_ID, retNoteID);
  static_cast<void>(NSFNoteClose(note));
  return status;
}

#endif
