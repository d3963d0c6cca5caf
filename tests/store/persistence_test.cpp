// A body of several stored items, loaded through an item connected
// to a database file, committed and saved, reads back the same through a
// fresh open of the file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/cdrecords.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/session.h"

namespace {

using Bytes = std::vector<BYTE>;

// One stored CDTEXT record holding `text`, padded to even length.
Bytes StoredText(const std::string& text) {
  Bytes record(8 + text.size());
  const size_t length = record.size();
  record[0] = 0x85;
  record[1] = 0xFF;
  record[2] = static_cast<BYTE>(length);
  record[3] = static_cast<BYTE>(length >> 8);
  record[4] = 1;   // face
  record[7] = 10;  // size
  std::memcpy(record.data() + 8, text.data(), text.size());
  if (length & 1)
    record.push_back(0);
  return record;
}

// The records of every item of the name, one after another (type words left out).
Bytes JoinedRecords(const std::vector<Bytes>& values) {
  Bytes records;
  for (const Bytes& value : values)
    records.insert(records.end(), value.begin() + 2, value.end());
  return records;
}

std::vector<Bytes> ItemValues(NOTEHANDLE note, const char* name) {
  std::vector<Bytes> values;
  BLOCKID item{}, value{};
  DWORD length = 0;
  STATUS status = NSFItemInfo(note, name, static_cast<WORD>(std::strlen(name)), &item, nullptr,
                              &value, &length);
  while (status == NOERROR) {
    auto* bytes = static_cast<const BYTE*>(OSLockBlock(value));
    values.emplace_back(bytes, bytes + length);
    OSUnlockBlock(value);
    status = NSFItemInfoNext(note, item, name, static_cast<WORD>(std::strlen(name)), &item,
                             nullptr, &value, &length);
  }
  return values;
}

class PersistenceTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    char pattern[] = "/tmp/velko-persist-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory_ = pattern;
    HostTestSetDataDirectory(directory_.c_str());
  }
  void TearDown() override {
    HostTestReset();
    std::system(("rm -rf '" + directory_ + "'").c_str());
  }
  std::string directory_;
};

TEST_F(PersistenceTest, SavedBodyReadsBackTheSameFromTheFile) {
  ASSERT_EQ(NSFDbCreate("body.nsf", DBCLASS_NOTEFILE, FALSE), NOERROR);
  DBHANDLE db = NULLHANDLE;
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(NSFDbOpen("body.nsf", &db), NOERROR);
  ASSERT_EQ(NSFNoteCreate(db, &note), NOERROR);
  // Two stored items of one name, each a run of text records.
  for (int item = 0; item < 2; ++item) {
    Bytes records;
    for (int run = 0; run < 40; ++run) {
      Bytes record = StoredText("item " + std::to_string(item) + " run " + std::to_string(run));
      records.insert(records.end(), record.begin(), record.end());
    }
    ASSERT_EQ(NSFItemAppend(note, 0, "Body", 4, 1, records.data(),
                            static_cast<DWORD>(records.size())),
              NOERROR);
  }
  ASSERT_EQ(NSFNoteUpdate(note, 0), NOERROR);
  NOTEID id = 0;
  NSFNoteGetInfo(note, _NOTE_ID, &id);
  const std::vector<Bytes> before = ItemValues(note, "Body");
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
  const std::vector<Bytes> after = ItemValues(note, "Body");
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0][0], 1);
  EXPECT_EQ(JoinedRecords(after), JoinedRecords(before));
  NSFNoteClose(note);
  NSFDbClose(db);
}

}  // namespace
