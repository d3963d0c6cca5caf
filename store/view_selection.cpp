/*
 * The documents of a view or of a selection formula (see
 * store/view_selection.h): a formula runs as a database search whose
 * callback fills the ID table; a view's collection is read in batches from
 * its first entry, or from the first entry of a key for as many entries as
 * the key has.
 */
#include "store/view_selection.h"

#include <cstdio>
#include <cstring>

#include "host/formula.h"
#include "host/idtable.h"
#include "host/nif.h"
#include "host/osmem.h"
#include "host/status.h"
#include "store/host_release.h"
#include "store/messages.h"
#include "store/session.h"
#include "store/tracked_memory.h"

namespace {

constexpr size_t kSelectPrefixLength = 7; // "SELECT "

// A formula begins with "SELECT " in any case and holds '@' or '='.
bool IsSelectionFormula(const char* selection) {
  if (std::strlen(selection) < kSelectPrefixLength)
    return false;
  static constexpr char kPrefix[] = "select ";
  for (size_t i = 0; i < kSelectPrefixLength; ++i) {
    char c = selection[i];
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
    if (c != kPrefix[i])
      return false;
  }
  return std::strpbrk(selection, "@=") != nullptr;
}

// Shows one of the messages that name the selection text.
void ShowSelectionMessage(LSXLsiSession* session, const char* format, const char* selection) {
  std::snprintf(session->scratch_first, sizeof session->scratch_first, format, selection);
  ShowUserMessage(session->scratch_first);
}

// A new, empty sorted list; VELKO_ERR_MEMORY when none can be had.
STATUS StartSortedIdList(LSXLsiSession* session) {
  FreeSortedIdList(session);
  auto* list = static_cast<NOTEID*>(VelkoAllocatePtr(
      session, VELKO_HERE, size_t{kSortedIdListCapacity} * sizeof(NOTEID), 0));
  if (list == nullptr) {
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
  session->internal->sorted_IdList = list;
  return NOERROR;
}

STATUS FormulaSelection(LSXLsiSession* session, DBHANDLE db, const char* selection,
                        DHANDLE table, int listFlag) {
  FORMULAHANDLE formula = NULLHANDLE;
  WORD formulaLength = 0;
  STATUS status = NSFFormulaCompile(nullptr, 0, selection, 0, &formula, &formulaLength, nullptr,
                                    nullptr, nullptr, nullptr, nullptr);
  if (status != NOERROR) {
    ShowSelectionMessage(session, "TARNO: Selection formula '%s' does not compile", selection);
    return status;
  }
  status = NSFSearch(db, formula, nullptr, 0, NOTE_CLASS_DOCUMENT, nullptr, AddIDUnique, &table,
                     nullptr);
  ReleaseHostMemory(formula);
  if (status != NOERROR) {
    ShowSelectionMessage(session, "TARNO: Unknown error using selection formula '%s'", selection);
    return status;
  }
  if (!listFlag)
    return NOERROR;
  if (status = StartSortedIdList(session); status != NOERROR)
    return status;
  _internal_SESS* state = session->internal;
  NOTEID id = 0;
  for (BOOL first = TRUE; state->sorted_IdList_count < kSortedIdListCapacity &&
                          IDScan(table, first, &id);
       first = FALSE)
    state->sorted_IdList[state->sorted_IdList_count++] = id;
  return NOERROR;
}

// The collection of the named view: the kept one when a keyed call names
// the view it was opened for, else a new one that replaces it.
STATUS ViewCollection(LSXLsiSession* session, DBHANDLE db, const char* view, bool keyed,
                      HCOLLECTION* retCollection) {
  _internal_SESS* state = session->internal;
  const size_t nameLength = std::strlen(view);
  if (keyed && state->cached_collection != NULLHANDLE && state->cached_collection_db == db &&
      nameLength < sizeof state->cached_collection_view &&
      std::strcmp(state->cached_collection_view, view) == 0) {
    *retCollection = state->cached_collection;
    return NOERROR;
  }
  NOTEID viewNoteID = 0;
  STATUS status = NIFFindDesignNote(db, view, NOTE_CLASS_VIEW, &viewNoteID);
  if (status != NOERROR) {
    ShowSelectionMessage(session, "TARNO: View '%s' not found", view);
    return status;
  }
  HCOLLECTION collection = NULLHANDLE;
  status = NIFOpenCollection(db, db, viewNoteID, 0, &collection);
  if (status != NOERROR)
    return status;
  CloseCachedViewCollection(session);
  state->cached_collection = collection;
  state->cached_collection_db = db;
  // A name too long to keep is never matched again.
  if (nameLength < sizeof state->cached_collection_view)
    std::memcpy(state->cached_collection_view, view, nameLength + 1);
  *retCollection = collection;
  return NOERROR;
}

// Takes the document IDs of one batch; stops early when the list is full.
STATUS TakeBatch(LSXLsiSession* session, DHANDLE table, const NOTEID* ids, DWORD count,
                 int listFlag) {
  _internal_SESS* state = session->internal;
  for (DWORD i = 0; i < count; ++i) {
    if (ids[i] & NOTEID_CATEGORY)
      continue;
    if (listFlag) {
      if (state->sorted_IdList_count >= kSortedIdListCapacity)
        return NOERROR;
      state->sorted_IdList[state->sorted_IdList_count++] = ids[i];
    }
    if (STATUS status = IDInsert(table, ids[i], nullptr); status != NOERROR)
      return status;
  }
  return NOERROR;
}

STATUS ReadView(LSXLsiSession* session, HCOLLECTION collection, const char* key, DHANDLE table,
                int listFlag) {
  _internal_SESS* state = session->internal;
  COLLECTIONPOSITION position{};
  DWORD remaining = MAXDWORD_ENTRIES;
  const bool keyed = key != nullptr && key[0] != '\0';
  if (keyed) {
    STATUS status =
        NIFFindByName(collection, key, FIND_CASE_INSENSITIVE, &position, &remaining);
    if ((status & STATUS_CODE_MASK) == ERR_NOT_FOUND)
      return NOERROR;
    if (status != NOERROR)
      return status;
  } else {
    position.Tumbler[0] = 1;
  }

  bool first = true;
  WORD signal = 0;
  do {
    DHANDLE buffer = NULLHANDLE;
    DWORD returned = 0;
    STATUS status = NIFReadEntries(collection, &position, NAVIGATE_NEXT, first ? 0 : 1,
                                   NAVIGATE_NEXT, remaining, READ_MASK_NOTEID, &buffer, nullptr,
                                   nullptr, &returned, &signal);
    if (status == NOERROR && buffer != NULLHANDLE) {
      if (listFlag && state->sorted_IdList == nullptr)
        status = StartSortedIdList(session);
      if (status == NOERROR) {
        const auto* ids = static_cast<const NOTEID*>(OSLockObject(buffer));
        status = ids == nullptr ? STATUS{VELKO_ERR_MEMORY}
                                : TakeBatch(session, table, ids, returned, listFlag);
        OSUnlockObject(buffer);
      }
    }
    if (buffer != NULLHANDLE)
      ReleaseHostMemory(buffer);
    if (status != NOERROR)
      return status;
    first = false;
    // A keyed read asks only for the key's entries not read yet.
    if (keyed)
      remaining -= returned < remaining ? returned : remaining;
  } while ((signal & SIGNAL_MORE_TO_DO) && remaining != 0 &&
           !(listFlag && state->sorted_IdList_count >= kSortedIdListCapacity));
  return NOERROR;
}

} // namespace

STATUS ViewSelection(LSXLsiSession* session, DBHANDLE db, const char* selection, const char* key,
                     DHANDLE* retTable, int listFlag) {
  if (retTable != nullptr)
    *retTable = NULLHANDLE;
  if (session == nullptr || selection == nullptr || retTable == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  if (listFlag)
    FreeSortedIdList(session);
  DHANDLE table = NULLHANDLE;
  STATUS status = IDCreateTable(4, &table);
  if (status != NOERROR)
    return status;

  const bool keyed = key != nullptr && key[0] != '\0';
  if (IsSelectionFormula(selection)) {
    status = FormulaSelection(session, db, selection, table, listFlag);
  } else {
    HCOLLECTION collection = NULLHANDLE;
    status = ViewCollection(session, db, selection, keyed, &collection);
    if (status == NOERROR)
      status = ReadView(session, collection, key, table, listFlag);
  }
  if (status != NOERROR) {
    ReleaseHostMemory(table);
    if (listFlag)
      FreeSortedIdList(session);
    return status;
  }
  *retTable = table;
  return NOERROR;
}

STATUS AddIDUnique(void* parameter, SEARCH_MATCH* match, ITEM_TABLE* /*summary*/) {
  if (parameter == nullptr || match == nullptr || !(match->SERetFlags & SE_FMATCH))
    return NOERROR;
  return IDInsert(*static_cast<DHANDLE*>(parameter), match->NoteID, nullptr);
}

const NOTEID* SortedIdList(LSXLsiSession* session) { return session->internal->sorted_IdList; }

WORD SortedIdListCount(LSXLsiSession* session) { return session->internal->sorted_IdList_count; }

void FreeSortedIdList(LSXLsiSession* session) {
  _internal_SESS* state = session->internal;
  if (state->sorted_IdList != nullptr)
    VelkoDeallocatePtr(session, state->sorted_IdList);
  state->sorted_IdList = nullptr;
  state->sorted_IdList_count = 0;
}

DHANDLE CachedViewCollection(LSXLsiSession* session) {
  return session->internal->cached_collection;
}

void CloseCachedViewCollection(LSXLsiSession* session) {
  _internal_SESS* state = session->internal;
  if (state->cached_collection != NULLHANDLE)
    static_cast<void>(NIFCloseCollection(state->cached_collection));
  state->cached_collection = NULLHANDLE;
  state->cached_collection_db = NULLHANDLE;
  state->cached_collection_view[0] = '\0';
}
