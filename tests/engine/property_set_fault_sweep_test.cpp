// Failure safety of the property settings that are stored at once under
// AutoSave: SetText (action 10, with a colour from its font string, so the
// text is wrapped in begin, colour and end records), a section title and
// the expansion of paragraph definitions, each run over a note of a
// database file once for every N with the Nth host memory allocation, or
// the Nth request for tracked memory, failing, until a run meets no
// failure. A run that meets a failure returns its status and leaves the
// stored note (the database opened anew) exactly as before; a run without
// failures stores the new body. No host memory handle stays behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cdbuild/cd_script.h"
#include "chunk/rtchunk_internal.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/osmem.h"
#include "store/tracked_memory_testing.h"
#include "store/vocabulary.h"
#include "tests/support/allocation_faults.h"
#include "tests/support/database_file_fixture.h"
#include "tests/support/note_fixture.h"
#include "tests/support/stored_values.h"

namespace {

using Bytes = std::vector<BYTE>;

/* Text runs in and around a table, a section and a short definition. */
const char* const kBody = R"(PABDEF id=1 flags=0x0100
PABDEF id=2 flags=0x0100 ext=1440,0,1440,0,0,100
PABREF id=1
TEXT face=4 size=12 text="first run"
TEXT text=""
TEXT text="second run"
SECTIONBAR title="Section"
TEXT text="in the section"
PARAGRAPH
TABLEBEGIN
TABLECELL row=0 column=0 rowspan=0 colspan=0
PABREF id=2
TEXT text="cell"
TABLEEND
PARAGRAPH
PABREF id=1
TEXT text="last"
)";

struct operation {
  const char* name;
  WORD action;
  WORD p2;
  const char* s1;
  const char* s2;
};

const operation kOperations[] = {
    {"SetText with a colour", ACTION_SET_TEXT, 8, "new text", "RED"},
    {"SectionTitle", ACTION_SET_SECTION_TITLE, 5, "Title", nullptr},
    {"ExpandPabDefs", ACTION_EXPAND_PAB_DEFS, 0, "", nullptr},
};

class PropertySetFaultSweepTest : public DatabaseFileFixture<> {
protected:
  /* The operation on "Everything" of the stored note, in a session of its
   * own; the failure is armed once the item is connected. */
  STATUS Run(NOTEID id, const operation& op, const std::function<void()>& arm) {
    auto* session = new LSXLsiSession;
    auto* item = new VelkoRTItem(session);
    STATUS status = item->Connect("", path_.c_str(), id, "Body", 0);
    if (status == NOERROR) {
      item->AutoSave = 1;
      VelkoRTChunk* chunk = item->DefineChunk("Everything");
      arm();
      status = chunk != nullptr ? chunk->AlterRichText(op.action, PROP_TEXT, op.p2, 0, 0, op.s1,
                                                       op.s2, nullptr, nullptr)
                                : STATUS{VELKO_ERR_FAILED};
    }
    delete session;
    return status;
  }

};

TEST_F(PropertySetFaultSweepTest, EveryFailedAllocationReturnsItsStatusAndKeepsTheStoredBody) {
  const cdbuild::Body body = Script(kBody);
  for (const operation& op : kOperations) {
    SCOPED_TRACE(op.name);
    const NOTEID reference = StoreBody(body);
    const std::vector<Bytes> before = note_testing::StoredBodyValues(path_, reference, false);
    ASSERT_EQ(Run(reference, op, [] {}), NOERROR);
    const std::vector<Bytes> after = note_testing::StoredBodyValues(path_, reference, true);
    ASSERT_NE(before, after) << "the setting must change the body";

    for (const allocation_faults::control& control : allocation_faults::kControls) {
      int failed = 0;
      bool ended = false;
      for (int nth = 1; nth < 5000 && !ended; ++nth) {
        SCOPED_TRACE(std::string(control.name) + " failure " + std::to_string(nth));
        const NOTEID id = StoreBody(body);
        const size_t handles = HostTestLiveHandles();
        HostTestCaptureLog(true);
        const STATUS status = Run(id, op, [&] { control.arm(nth); });
        const bool fired = control.fired(nth);
        HostTestCaptureLog(false);
        EXPECT_EQ(HostTestLiveHandles(), handles) << HostTestLeakReport();
        const std::vector<Bytes> stored = note_testing::StoredBodyValues(path_, id, true);
        if (!fired) {
          EXPECT_EQ(status, NOERROR);
          EXPECT_EQ(stored, after);
          ended = true;
          continue;
        }
        ++failed;
        if (status != NOERROR)
          EXPECT_EQ(stored, before) << "a failed setting changed the note, status " << status;
        else
          EXPECT_EQ(stored, after);
        if (HasFailure())
          return; // one run's findings are enough
      }
      EXPECT_TRUE(ended) << "the sweep did not end";
      EXPECT_GT(failed, 0) << control.name << " never failed";
    }
  }
}

} // namespace
