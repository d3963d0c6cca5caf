// A note's stored "Body" values read back from its database file, for the
// sweeps that check a failed operation left the file exactly old or new.
#ifndef VELKO_TESTS_SUPPORT_STORED_VALUES_H
#define VELKO_TESTS_SUPPORT_STORED_VALUES_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "tests/support/note_fixture.h"

namespace note_testing {

/* Every stored value of "Body" of the note, read with the database file
 * opened anew (so that what a test sees is what reached the file); the
 * note is deleted afterwards when asked. */
inline std::vector<Bytes> StoredBodyValues(const std::string& path, NOTEID id, bool remove) {
  DBHANDLE db = NULLHANDLE;
  EXPECT_EQ(NSFDbOpen(path.c_str(), &db), NOERROR);
  NOTEHANDLE note = NULLHANDLE;
  EXPECT_EQ(NSFNoteOpen(db, id, 0, &note), NOERROR);
  std::vector<Bytes> values = ItemValues(note, "Body");
  NSFNoteClose(note);
  if (remove)
    NSFNoteDelete(db, id, 0);
  NSFDbClose(db);
  return values;
}

} // namespace note_testing

#endif
