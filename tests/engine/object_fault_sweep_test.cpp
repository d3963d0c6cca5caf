// The library's own objects (the private blocks of sessions, items and
// chunks among them), text copies and index entries of the tracked pool
// failing in turn: an item is made and connected, its properties and a
// style mapping set, chunks with a match text, an event text and a
// sub-chunk made, a row read through an extra definition, a chunk of the
// whole item defined and the clean-up pass (action 49)
// run with commit, once for every N with the Nth such allocation failing,
// until a run meets no failure. No exception may leave the library, every
// status is 0 or 263, no host handle is left behind, and the stored note is
// exactly as before or exactly as a run without failures leaves it.
#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "tests/support/test_fixture.h"
#include "host/host_testing.h"
#include "store/tracked_memory_testing.h"
#include "store/vocabulary.h"

namespace {

using namespace engine_test;

class ObjectFaultSweepTest : public EngineTest {
protected:
  NOTEID StoreNote() {
    return EngineTest::StoreNote({PabDef(1), PabRef(1), Text("first"), Text(""), Paragraph(),
                                  PabRef(1), TableBegin(), Cell(0, 0), PabRef(1), Text("in"),
                                  Text(""), Cell(1, 0), PabRef(1), Text("two"), TableEnd(),
                                  Paragraph(), Text("last")});
  }

  /* The run in a session of its own; every status it met. cleaned_ tells
   * whether the clean-up pass succeeded. */
  std::vector<STATUS> Run(NOTEID id) {
    cleaned_ = false;
    std::vector<STATUS> statuses;
    // The constructors alone report short memory as std::bad_alloc, as the
    // allocation of the object itself does.
    LSXLsiSession* session = nullptr;
    try {
      session = new LSXLsiSession;
    } catch (const std::bad_alloc&) {
      return {VELKO_ERR_MEMORY};
    }
    VelkoRTItem* item = nullptr;
    try {
      item = new VelkoRTItem(session);
    } catch (const std::bad_alloc&) {
      delete session;
      return {VELKO_ERR_MEMORY};
    }
    statuses.push_back(item->Connect("", kDbPath, id, "Body", 0));
    if (statuses.back() == NOERROR && item->IsConnected != 0) {
      item->AutoSave = 1;
      item->SetPropertyText("HighlightFont", "GREEN +ITALIC", 0);
      item->CreateInternalStyleMapping("Heading", "Arial", 0x0A000100);
      if (VelkoRTChunk* text = item->DefineChunk("Text \"first\" 1")) {
        text->SetEventRetString(1, "seen", 4);
        delete text->DefineSubChunk("Text 1");
      }
      // The text of the second row, named by an extra definition for this
      // call only: a run that answers must answer exactly that.
      if (VelkoRTChunk* table = item->DefineChunk("Table 1")) {
        session->result_length = 0;
        const STATUS status = table->AlterRichText(ACTION_GET_TEXT, PROP_TEXT, 0, 0, 0, nullptr,
                                                   nullptr, "Row 2", nullptr);
        statuses.push_back(status);
        if (status == NOERROR) {
          EXPECT_EQ(std::string(session->result_text, session->result_length), "two");
        }
      }
      if (VelkoRTChunk* chunk = item->DefineChunk("Everything")) {
        statuses.push_back(chunk->AlterRichText(ACTION_CLEANUP_TEXT_RUNS, 0, 0, 0, 0, nullptr,
                                                nullptr, nullptr, nullptr));
        cleaned_ = statuses.back() == NOERROR;
      } else {
        statuses.push_back(VELKO_ERR_MEMORY); // the chunk could not be made
      }
    }
    delete session;
    return statuses;
  }

  bool cleaned_ = false;
};

TEST_F(ObjectFaultSweepTest, EveryFailedObjectIsReportedAndLeavesTheNoteWholeOrUnchanged) {
  const NOTEID reference = StoreNote();
  const std::vector<Bytes> before = StoredValues(reference);
  VelkoTestFailObjectAllocation(0);
  ASSERT_EQ(Run(reference), (std::vector<STATUS>{NOERROR, NOERROR, NOERROR}));
  const std::vector<Bytes> after = StoredValues(reference);
  ASSERT_NE(before, after);
  const long allocations = VelkoTestObjectAllocations();
  ASSERT_GT(allocations, 20);

  int failed = 0;
  for (int nth = 1; nth <= allocations + 1; ++nth) {
    SCOPED_TRACE("object allocation " + std::to_string(nth));
    const NOTEID id = StoreNote();
    const size_t handles = HostTestLiveHandles();
    VelkoTestFailObjectAllocation(nth);
    std::vector<STATUS> statuses;
    EXPECT_NO_THROW(statuses = Run(id));
    const bool fired = VelkoTestObjectAllocations() >= nth;
    VelkoTestFailObjectAllocation(0);
    EXPECT_EQ(HostTestLiveHandles(), handles) << HostTestLeakReport();
    const std::vector<Bytes> stored = StoredValues(id);
    NSFNoteDelete(db_, id, 0);
    if (!fired) {
      EXPECT_EQ(stored, after);
      break;
    }
    ++failed;
    for (STATUS status : statuses)
      EXPECT_TRUE(status == NOERROR || status == VELKO_ERR_MEMORY) << status;
    EXPECT_EQ(stored, cleaned_ ? after : before);
    if (::testing::Test::HasFailure())
      break; // one run's findings are enough
  }
  EXPECT_GT(failed, 20);
}

} // namespace
