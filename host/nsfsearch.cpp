/*
 * NSFSearch: the stored notes of a class mask in note-ID order, each
 * handed to the callback with its match flag. The note IDs are read first,
 * so a callback may change the database without disturbing the walk; a
 * note deleted before its turn is passed over.
 */
#include "host/nsfsearch.h"

#include <string>
#include <vector>

#include "host/host_internal.h"
#include "host/osmem.h"
#include "host/selection_internal.h"
#include "host/status.h"
#include "host/storage.h"
#include "host/timedate.h"

using namespace velko::host;

namespace {

// The bytes of the compiled formula in its memory block.
STATUS FormulaBytes(FORMULAHANDLE formula, std::string* compiled) {
  const void* bytes = OSLockObject(formula);
  if (bytes == nullptr)
    return ERR_HOST_BAD_HANDLE;
  const STATUS status = GuardedStatus([&] {
    compiled->assign(static_cast<const char*>(bytes), OSMemGetSize(formula));
    return NOERROR;
  });
  OSUnlockObject(formula);
  return status;
}

} // namespace

extern "C" STATUS NSFSearch(DBHANDLE db, FORMULAHANDLE formula, const char* /*viewTitle*/,
                            WORD /*searchFlags*/, WORD noteClassMask, const TIMEDATE* /*since*/,
                            NSFSEARCHPROC callback, void* parameter, TIMEDATE* retUntil) {
  if (callback == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  return GuardedStatus([&]() -> STATUS {
    auto lock = LockHost();
    const OpenDatabase* database = FindDatabase(db);
    if (database == nullptr)
      return ERR_HOST_BAD_HANDLE;
    std::vector<NOTEID> ids;
    if (const STATUS status = StoredNotesOfClass(database->store->db(), noteClassMask, &ids); status != NOERROR)
      return status;

    std::string compiled;
    StartedFormula selection;
    bool everything = formula == NULLHANDLE;
    if (!everything) {
      if (STATUS status = FormulaBytes(formula, &compiled); status != NOERROR)
        return status;
      everything = SelectsEverything(compiled);
      if (!everything)
        if (STATUS status = selection.Start(compiled); status != NOERROR)
          return status;
    }
    if (retUntil != nullptr)
      OSCurrentTIMEDATE(retUntil);

    for (const NOTEID id : ids) {
      // The callback may have closed the database.
      database = FindDatabase(db);
      if (database == nullptr)
        return ERR_HOST_BAD_HANDLE;
      NoteRow row;
      const STATUS read = ReadNoteRow(database->store->db(), id, &row);
      if (read == ERR_HOST_NOTE_NOT_FOUND)
        continue;
      if (read != NOERROR)
        return read;
      bool matches = true;
      if (!everything)
        if (STATUS status = selection.Evaluate(db, id, &matches, nullptr); status != NOERROR)
          return status;
      SEARCH_MATCH match{};
      match.NoteID = id;
      match.OriginatorID = row.oid;
      match.NoteClass = row.noteClass;
      match.SERetFlags = matches ? SE_FMATCH : 0;
      // The callback runs without the host's lock, as any caller of the
      // host does.
      lock.unlock();
      const STATUS status = callback(parameter, &match, nullptr);
      lock.lock();
      if (status != NOERROR)
        return status;
    }
    return NOERROR;
  });
}
