/*
 * Design notes and collections.
 *
 * A design note is found among the stored notes of a class by its
 * "$TITLE": each text (or text list entry) may hold several names
 * separated by '|', compared without regard to case (blanks around a name
 * are dropped). Notes not yet stored are not seen.
 *
 * Of the collections only the design collection is served; it holds
 * nothing, so opening, updating and closing it only keep a handle.
 * Short memory is ERR_MEMORY.
 */
#include "host/nif.h"

#include <string>
#include <vector>

#include "host/host_internal.h"
#include "host/nls.h"
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
  if (viewNoteID != kDesignCollection)
    return ERR_HOST_COLLECTION;
  return GuardedStatus([&]() -> STATUS {
    auto collection = std::make_unique<OpenCollection>();
    collection->db = viewDb;
    const HCOLLECTION handle = Collections().Add(std::move(collection));
    if (handle == NULLHANDLE)
      return ERR_MEMORY;
    *retCollection = handle;
    return NOERROR;
  });
}

extern "C" STATUS NIFUpdateCollection(HCOLLECTION collection) {
  const auto lock = LockHost();
  return Collections().Find(collection) ? NOERROR : ERR_HOST_BAD_HANDLE;
}

extern "C" STATUS NIFCloseCollection(HCOLLECTION collection) {
  const auto lock = LockHost();
  return Collections().Remove(collection) ? NOERROR : ERR_HOST_BAD_HANDLE;
}
