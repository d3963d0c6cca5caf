/*
 * Evaluating a compiled selection or key formula against the stored notes
 * of a database, for searches and view collections. Neither the engine nor
 * tests include this header.
 */
#ifndef VELKO_HOST_SELECTION_INTERNAL_H
#define VELKO_HOST_SELECTION_INTERNAL_H

#include <string>
#include <string_view>
#include <vector>

#include "host/formula.h"
#include "host/nsfdata.h"
#include "host/storage.h"
#include "velko/host_types.h"

namespace velko::host {

// True when the compiled formula's source is "SELECT @All" (case and
// surrounding blanks aside): every note matches, and nothing needs to be
// evaluated.
bool SelectsEverything(std::string_view compiled);

// The note IDs of the class mask stored in the database, ascending.
STATUS StoredNotesOfClass(sqlite3* db, WORD noteClassMask, std::vector<NOTEID>* ids);

// A stored note and its notes row, read with the others of its class; the
// status of reading the row is kept for the one who opens the note.
struct StoredNote {
  NOTEID id = 0;
  STATUS status = NOERROR;
  NoteRow row;
};
// The notes of the class mask stored in the database with their rows,
// ascending.
STATUS StoredNoteRowsOfClass(sqlite3* db, WORD noteClassMask, std::vector<StoredNote>* notes);

// The sort key of a stored item value (type word first): a number, the
// text of a text, the first entry of a text list; "" for anything else.
CollectionKey CollectionKeyOf(std::string_view value);

// A started formula, stopped when it goes.
class StartedFormula {
public:
  StartedFormula() = default;
  ~StartedFormula();
  StartedFormula(const StartedFormula&) = delete;
  StartedFormula& operator=(const StartedFormula&) = delete;

  // Starts the compiled formula (its bytes).
  STATUS Start(std::string_view compiled);
  // Whether its answer for a note depends on nothing but the note's items:
  // it calls no @function and names no constant or environment value.
  bool ReadsOnlyItems() const { return fieldsKnown_ && itemsOnly_; }
  // Evaluates it against the stored note: the SELECT value into *matches
  // and, when value is not null, the result as a sort value. With a stored
  // note its row is used (and its status returned) instead of read again.
  STATUS Evaluate(DBHANDLE db, NOTEID id, bool* matches, CollectionKey* value,
                  const StoredNote* stored = nullptr);

private:
  std::string compiled_;
  HCOMPUTE compute_ = NULLHANDLE;
  // The item keys of every field the formula can read, when they are
  // known: a note is then opened with those items only.
  std::vector<std::string> fields_;
  bool fieldsKnown_ = false;
  bool itemsOnly_ = false;
};

} // namespace velko::host

#endif
