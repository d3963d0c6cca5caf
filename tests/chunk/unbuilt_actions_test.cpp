// Actions whose work is not built yet, issued through the chunk: each is
// refused with 1028, also where its chunk is never met, and the stored note
// keeps its bytes and its sequence number even under AutoSave.
#include <gtest/gtest.h>

#include <vector>

#include "chunk_item_fixture.h"
#include "engine/services.h"
#include "store/vocabulary.h"

namespace {

using chunk_testing::ChunkItemTest;
using chunk_testing::Records;

class UnbuiltActionTest : public ChunkItemTest {
protected:
  /* The item's values as stored in the database. */
  std::vector<note_testing::Bytes> StoredValues() {
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteOpen(db_, note_id_, 0, &note), NOERROR);
    std::vector<note_testing::Bytes> values = note_testing::ItemValues(note, kItemName);
    NSFNoteClose(note);
    return values;
  }
};

TEST_F(UnbuiltActionTest, IsRefusedAndLeavesTheStoredNote) {
  struct Case {
    WORD action;
    const char* s1;
    const char* s2;
  };
  const Case cases[] = {
      {ACTION_APPEND_TEXT, "appended", nullptr},      // work where the chunk closes
      {ACTION_SET_SECTION_TITLE, "title", nullptr},   // a property setting
      {ACTION_REMOVE, nullptr, nullptr},              // a removal
      {ACTION_CHANGE_FONT, "BOLD", nullptr},          // a text-run case
      {ACTION_WRAP_IN_SECTION, nullptr, "RED"},       // work at both edges only
      {ACTION_CONTAINS_TEXT, nullptr, nullptr},       // a reading query
  };
  for (const char* definition : {"Table 1", "Everything"}) {
    Records records;
    records.Definition().Reference().Text("kept").Paragraph().Reference().Text("as is");
    VelkoRTChunk* chunk = ChunkOn(records, definition);
    item_->AutoSave = 1;
    const std::vector<note_testing::Bytes> before = StoredValues();
    ASSERT_FALSE(before.empty());
    const DWORD sequence = Sequence();
    for (const Case& c : cases) {
      EXPECT_EQ(chunk->AlterRichText(c.action, 0, 0, 0, 0, c.s1, c.s2, nullptr, nullptr),
                kServiceNotAvailable)
          << definition << " " << c.action;
      EXPECT_EQ(chunk->status, kServiceNotAvailable) << definition << " " << c.action;
      EXPECT_EQ(StoredValues(), before) << definition << " " << c.action;
      EXPECT_EQ(Sequence(), sequence) << definition << " " << c.action;
    }
  }
}

} // namespace
