// A body of several stored items, loaded through an item connected
// to a database file, committed and saved, reads back the same through a
// fresh open of the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/cdrecords.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "tests/support/note_fixture.h"
#include "tests/support/test_fixture.h"
#include "tools/cd_builder.h"

namespace {

using Bytes = std::vector<BYTE>;

// The records of every item of the name, one after another (type words left out).
Bytes JoinedRecords(const std::vector<Bytes>& values) {
  Bytes records;
  for (const Bytes& value : values)
    records.insert(records.end(), value.begin() + 2, value.end());
  return records;
}

class PersistenceTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    directory_ = file_testing::MakeDataDirectory("velko-persist");
    ASSERT_FALSE(directory_.empty());
  }
  void TearDown() override {
    HostTestReset();
    std::filesystem::remove_all(directory_);
  }
  std::string directory_;
};

TEST_F(PersistenceTest, SavedBodyReadsBackTheSameFromTheFile) {
  DBHANDLE db = NULLHANDLE;
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(note_testing::CreateDatabase("body.nsf", &db), NOERROR);
  ASSERT_EQ(NSFNoteCreate(db, &note), NOERROR);
  // Two stored items of one name, each a run of text records.
  for (int item = 0; item < 2; ++item) {
    std::vector<Bytes> records;
    for (int run = 0; run < 40; ++run) {
      const std::string text = "item " + std::to_string(item) + " run " + std::to_string(run);
      records.push_back(cdbuild::Text(text));
    }
    ASSERT_EQ(note_testing::AppendRecords(note, "Body", note_testing::Records(records)), NOERROR);
  }
  ASSERT_EQ(NSFNoteUpdate(note, 0), NOERROR);
  NOTEID id = 0;
  NSFNoteGetInfo(note, _NOTE_ID, &id);
  const std::vector<Bytes> before = note_testing::ItemValues(note, "Body");
  ASSERT_EQ(before.size(), 2u);
  NSFNoteClose(note);
  NSFDbClose(db);

  {
    LSXLsiSession session;
    auto* item = new VelkoRTItem(&session);
    ASSERT_EQ(item->Connect("", "body.nsf", id, "Body", 0), NOERROR);
    item->internal->input = StoreItemsAndRecords(item, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
    ASSERT_NE(item->internal->input, nullptr);
    ASSERT_EQ(item->internal->input->load_status, NOERROR);
    ASSERT_EQ(item->Commit(), NOERROR);
    ASSERT_EQ(item->Save(), NOERROR);
  }

  ASSERT_EQ(NSFDbOpen("body.nsf", &db), NOERROR);
  ASSERT_EQ(NSFNoteOpen(db, id, 0, &note), NOERROR);
  // The two small items come back as one: the writer fills an item up to
  // its split size. The records are byte for byte the same.
  const std::vector<Bytes> after = note_testing::ItemValues(note, "Body");
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0][0], 1);
  EXPECT_EQ(JoinedRecords(after), JoinedRecords(before));
  NSFNoteClose(note);
  NSFDbClose(db);
}

}  // namespace
