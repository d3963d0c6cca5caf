// A database-file fixture for work on a chunk of a stored note: the note
// stored from a record script, the work done in a session of its own and
// saved by the AutoSave update, and the stored body read back (with the
// database opened anew) as record lines against a script's.
#ifndef VELKO_TESTS_SUPPORT_STORED_CHUNK_FIXTURE_H
#define VELKO_TESTS_SUPPORT_STORED_CHUNK_FIXTURE_H

#include <functional>
#include <string>
#include <vector>

#include "tests/support/database_file_fixture.h"
#include "tests/support/record_lines.h"
#include "tests/support/stored_values.h"

/* Record scripts of what stands before and after a table in the bodies of
 * these tests: a paragraph definition and a paragraph "a" ending in a
 * paragraph break, and a paragraph "b". */
inline const std::string kParagraphBefore = R"(PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100
PABREF id=1
TEXT text="a"
PARAGRAPH
)";
inline const std::string kParagraphAfter = R"(PARAGRAPH
PABREF id=1
TEXT text="b"
)";

class StoredChunkFixture : public DatabaseFileFixture<> {
public:
  NOTEID StoreNote(const std::string& script) { return StoreBody(Script(script)); }

  std::vector<std::string> Stored(NOTEID id) {
    return note_testing::RecordLines(note_testing::StoredBodyValues(path_, id, false));
  }
  static std::vector<std::string> Expected(const std::string& script) {
    return note_testing::RecordLines(
        std::vector<note_testing::Bytes>{note_testing::Value(Script(script).RecordBytes())});
  }

  /* The work on the chunk of the stored note, in a session of its own that
   * ends with it; stored by the AutoSave update. arm runs just before the
   * work. Its answer is returned (-1 when the chunk could not be had). */
  long OnChunk(NOTEID id, const char* definition, const std::function<long(VelkoRTChunk*)>& work,
               const std::function<void()>& arm = [] {}) {
    auto* session = new LSXLsiSession;
    auto* item = new VelkoRTItem(session);
    long answer = -1;
    if (item->Connect("", path_.c_str(), id, "Body", 0) == NOERROR) {
      item->AutoSave = 1;
      if (VelkoRTChunk* chunk = item->DefineChunk(definition); chunk != nullptr) {
        arm();
        answer = work(chunk);
      }
    }
    delete session;
    return answer;
  }
};

#endif
