// The library's own objects, text copies and index entries of the tracked
// pool failing in turn: an item is made and connected, its properties and a
// style mapping set, chunks with a match text, an event text and a
// sub-chunk made, a chunk of the whole item defined and the clean-up pass
// (action 49)
// run with commit, once for every N with the Nth such allocation failing,
// until a run meets no failure. No exception may leave the library, every
// status is 0 or 263, no host handle is left behind, and the stored note is
// exactly as before or exactly as a run without failures leaves it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_fixture.h"
#include "host/host_testing.h"
#include "store/tracked_memory_testing.h"
#include "store/vocabulary.h"

namespace {

using namespace engine_test;

class ObjectFaultSweepTest : public EngineTest {
protected:
  NOTEID StoreNote() {
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteCreate(db_, &note), NOERROR);
    const std::vector<Bytes> records = {PabDef(1),   PabRef(1),  Text("first"), Text(""),
                                        Paragraph(), PabRef(1),  TableBegin(),  Cell(0, 0),
                                        PabRef(1),   Text("in"), Text(""),      TableEnd(),
                                        Paragraph(), Text("last")};
    EXPECT_EQ(note_testing::AppendRecords(note, "Body", Records(records)), NOERROR);
    EXPECT_EQ(NSFNoteUpdate(note, UPDATE_FORCE), NOERROR);
    NOTEID id = 0;
    NSFNoteGetInfo(note, _NOTE_ID, &id);
    NSFNoteClose(note);
    return id;
  }

  std::vector<Bytes> StoredValues(NOTEID id) {
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteOpen(db_, id, 0, &note), NOERROR);
    std::vector<Bytes> values = note_testing::ItemValues(note, "Body");
    NSFNoteClose(note);
    return values;
  }

  /* The run in a session of its own; every status it met. */
  std::vector<STATUS> Run(NOTEID id) {
    std::vector<STATUS> statuses;
    auto* session = new LSXLsiSession;
    auto* item = new VelkoRTItem(session);
    statuses.push_back(item->Connect("", kDbPath, id, "Body", 0));
    if (statuses.back() == NOERROR && item->IsConnected != 0) {
      item->AutoSave = 1;
      item->SetPropertyText("HighlightFont", "GREEN +ITALIC", 0);
      item->CreateInternalStyleMapping("Heading", "Arial", 0x0A000100);
      if (VelkoRTChunk* text = item->DefineChunk("Text \"first\" 1")) {
        text->SetEventRetString(1, "seen", 4);
        delete text->DefineSubChunk("Text 1");
      }
      if (VelkoRTChunk* chunk = item->DefineChunk("Everything")) {
        statuses.push_back(chunk->AlterRichText(ACTION_CLEANUP_TEXT_RUNS, 0, 0, 0, 0, nullptr,
                                                nullptr, nullptr, nullptr));
      } else {
        statuses.push_back(VELKO_ERR_MEMORY); // the chunk could not be made
      }
    }
    delete session;
    return statuses;
  }
};

TEST_F(ObjectFaultSweepTest, EveryFailedObjectIsReportedAndLeavesTheNoteWholeOrUnchanged) {
  const NOTEID reference = StoreNote();
  const std::vector<Bytes> before = StoredValues(reference);
  VelkoTestFailObjectAllocation(0);
  ASSERT_EQ(Run(reference), (std::vector<STATUS>{NOERROR, NOERROR}));
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
    bool allSucceeded = true;
    for (STATUS status : statuses) {
      EXPECT_TRUE(status == NOERROR || status == VELKO_ERR_MEMORY) << status;
      allSucceeded = allSucceeded && status == NOERROR;
    }
    EXPECT_TRUE(stored == before || stored == after) << "a mix of the old and the new body";
    if (!allSucceeded) {
      EXPECT_EQ(stored, before) << "a failed run changed the note";
    }
    if (::testing::Test::HasFailure())
      break; // one run's findings are enough
  }
  EXPECT_GT(failed, 20);
}

} // namespace
