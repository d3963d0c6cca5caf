// CopyItem and CleanupArgBuffer through the item: names are checked, the
// note is opened on the item's own server and database path and closed
// again, the open status is kept, and nothing on either note changes.
#include <gtest/gtest.h>

#include <vector>

#include "host/status.h"
#include "tests/support/test_fixture.h"
#include "velko/status.h"

namespace {

using namespace engine_test;

class CopyItemTest : public EngineTest {
protected:
  static constexpr const char* kItemName = "Body";

  /* A stored note whose item holds one paragraph of the text. */
  NOTEID StoreNote(const char* text) { return EngineTest::StoreNote({PabRef(1), Text(text)}); }
};

TEST_F(CopyItemTest, ChecksNamesOpensTheNoteOnTheItemsPathAndCopiesNothing) {
  const NOTEID source = StoreNote("source");
  const NOTEID target = StoreNote("target");
  item_ = new VelkoRTItem(session_);
  ASSERT_EQ(item_->Connect("", kDbPath, source, kItemName, 0), NOERROR);
  const std::vector<Bytes> sourceBefore = StoredValues(source);
  const std::vector<Bytes> targetBefore = StoredValues(target);
  const NOTEHANDLE itemNote = item_->note;

  struct Case {
    const char* database;
    NOTEID note;
    const char* item;
    STATUS result;
    WORD ownError;
  };
  const Case cases[] = {
      {"", target, kItemName, VELKO_ERR_FAILED, VELKO_ERR_INVALID_NAME},
      {nullptr, target, kItemName, VELKO_ERR_FAILED, VELKO_ERR_INVALID_NAME},
      {"elsewhere", target, "", VELKO_ERR_FAILED, VELKO_ERR_INVALID_NAME},
      // The database argument is checked, not opened: the item's path is.
      {"mem:no-such-database", target, kItemName, NOERROR, 0},
      {"elsewhere", 0x7FFF, kItemName, ERR_HOST_NOTE_NOT_FOUND, 0},
  };
  for (const Case& c : cases) {
    item_->own_error = 0;
    item_->last_status = 0;
    item_->note_id = source;
    EXPECT_EQ(item_->CopyItem("", c.database, c.note, c.item, 0), c.result) << c.note;
    EXPECT_EQ(item_->own_error, c.ownError) << c.note;
    if (c.ownError == 0) {
      EXPECT_EQ(item_->last_status, c.result) << c.note;
      EXPECT_EQ(item_->note_id, c.note);
    }
    EXPECT_EQ(item_->note, itemNote); // still bound to its own note
  }
  item_->CleanupArgBuffer(1);
  EXPECT_EQ(StoredValues(source), sourceBefore);
  EXPECT_EQ(StoredValues(target), targetBefore);
  // TearDown finds every handle the opens took closed again.
}

} // namespace
