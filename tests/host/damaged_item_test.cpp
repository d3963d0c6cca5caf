// A stored item value too short to hold its type word (empty, or a single
// byte), written into the database file from outside: the note still
// opens and its other items read; the damaged item is reported by name
// when it is read (also when the note or a view is opened again), is
// copied and written back as it is, and can be deleted; a change from
// outside is read by the next open. A long value written from outside as
// SQLite text opens as it is too.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "host/host_testing.h"
#include "host/nif.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osenv.h"
#include "host/osmem.h"
#include "host/status.h"
#include "tests/support/note_fixture.h"
#include "tests/support/test_fixture.h"

namespace {

struct Damage {
  const char* value; /* hex of the stored value */
  const char* size;  /* as the message gives it */
};

const Damage kDamage[] = {{"", "0 bytes"}, {"05", "1 byte"}};

void PrintTo(const Damage& damage, std::ostream* out) { *out << "x'" << damage.value << "'"; }

std::string Message(const char* item, NOTEID id, const Damage& damage) {
  char text[200];
  std::snprintf(text, sizeof text,
                "Note item \"%s\" (note ID 0x%X) is damaged: its stored value of %s is too short "
                "to hold its data type",
                item, static_cast<unsigned>(id), damage.size);
  return text;
}

std::vector<std::string> Messages() {
  std::vector<std::string> texts;
  for (const HostTestMessage& message : HostTestMessages()) {
    EXPECT_EQ(message.type, 6);
    texts.push_back(message.text);
  }
  HostTestClearMessages();
  return texts;
}

std::string Text(NOTEHANDLE note, const char* name) {
  char text[64];
  NSFItemGetText(note, name, text, sizeof text);
  return text;
}

class DamagedItemTest : public host_test::HostFixture,
                        public ::testing::WithParamInterface<Damage> {
protected:
  void SetUp() override {
    HostFixture::SetUp();
    HostTestCaptureMessages();
    directory_ = file_testing::MakeDataDirectory("velko-damaged");
    ASSERT_FALSE(directory_.empty());
    ASSERT_EQ(note_testing::CreateDatabase("damaged.nsf", &db_), NOERROR);
    // Title, then Data twice (the first one to be damaged), then Extra.
    id_ = note_testing::StoreNoteWith(db_, [](NOTEHANDLE note) {
      STATUS status = NSFItemSetText(note, "Title", "Report", 6);
      for (const char* text : {"first", "second"})
        if (status == NOERROR)
          status = NSFItemAppend(note, 0, "Data", 4, TYPE_TEXT, text, std::strlen(text));
      return status != NOERROR ? status : NSFItemSetText(note, "Extra", "kept", 4);
    });
    ASSERT_NE(id_, 0u);
    ASSERT_EQ(Raw("UPDATE items SET value = x'" + std::string(GetParam().value) +
                  "' WHERE note_id = " + std::to_string(id_) + " AND position = 1"),
              "");
  }
  void TearDown() override {
    if (note_ != NULLHANDLE) {
      EXPECT_EQ(NSFNoteClose(note_), NOERROR);
    }
    EXPECT_EQ(NSFDbClose(db_), NOERROR);
    HostFixture::TearDown();
    std::filesystem::remove_all(directory_);
  }

  /* Runs the statement on the database file; the first row of its answer. */
  std::string Raw(const std::string& sql) {
    sqlite3* raw = nullptr;
    EXPECT_EQ(sqlite3_open_v2((directory_ + "/damaged.nsf").c_str(), &raw, SQLITE_OPEN_READWRITE,
                              nullptr),
              SQLITE_OK);
    std::string row = file_testing::FirstRow(raw, sql.c_str());
    sqlite3_close(raw);
    return row;
  }

  /* The stored items of the note: name and hex of the value. */
  std::string StoredItems() {
    std::string items;
    for (int position = 0; position < 4; ++position)
      items += Raw("SELECT name, hex(value) FROM items WHERE note_id = " + std::to_string(id_) +
                   " AND position = " + std::to_string(position)) +
               ";";
    return items;
  }

  std::string directory_;
  DBHANDLE db_ = NULLHANDLE;
  NOTEID id_ = 0;
  NOTEHANDLE note_ = NULLHANDLE;
};

INSTANTIATE_TEST_SUITE_P(EmptyOrOneByte, DamagedItemTest, ::testing::ValuesIn(kDamage));

TEST_P(DamagedItemTest, ALongValueStoredAsTextOpensAsItIs) {
  // Written from outside as SQLite text of more than 16 K characters, most
  // of two bytes, a value is read byte for byte like any other.
  ASSERT_EQ(Raw("UPDATE items SET value = 'ab' || "
                "replace(hex(zeroblob(20000)), '00', '\u00e9') WHERE note_id = " +
                std::to_string(id_) + " AND position = 3"),
            "");
  ASSERT_EQ(NSFNoteOpen(db_, id_, 0, &note_), NOERROR);
  BLOCKID value;
  DWORD length = 0;
  ASSERT_EQ(NSFItemInfo(note_, "Extra", 5, nullptr, nullptr, &value, &length), NOERROR);
  std::string expected = "ab";
  for (int count = 0; count < 20000; ++count)
    expected += "\u00e9";
  EXPECT_EQ(std::string(static_cast<const char*>(OSLockBlock(value)), length), expected);
  OSUnlockBlock(value);
  EXPECT_EQ(Text(note_, "Title"), "Report");
}

TEST_P(DamagedItemTest, TheNoteOpensAndItsOtherItemsRead) {
  ASSERT_EQ(NSFNoteOpen(db_, id_, 0, &note_), NOERROR);
  EXPECT_EQ(Text(note_, "Title"), "Report");
  EXPECT_EQ(Text(note_, "Extra"), "kept");
  EXPECT_TRUE(Messages().empty()) << "an item nobody asked for was reported";
}

TEST_P(DamagedItemTest, ReadingTheItemFailsWithAMessageNamingIt) {
  ASSERT_EQ(NSFNoteOpen(db_, id_, 0, &note_), NOERROR);
  BLOCKID item = {};
  WORD type = 0xFFFF;
  DWORD length = 0xFFFF;
  EXPECT_EQ(NSFItemInfo(note_, "data", 4, &item, &type, nullptr, &length), ERR_HOST_ITEM_DAMAGED);
  EXPECT_EQ(type, 0xFFFF);
  EXPECT_EQ(length, 0xFFFFu);
  EXPECT_EQ(Messages(), std::vector<std::string>{Message("Data", id_, GetParam())});
  const BLOCKID damaged = item;

  // Its descriptor leads on to the sound item of the name after it.
  BLOCKID value = {};
  ASSERT_EQ(NSFItemInfoNext(note_, item, "Data", 4, &item, &type, &value, &length), NOERROR);
  EXPECT_EQ(type, TYPE_TEXT);
  EXPECT_EQ(std::string(static_cast<const char*>(OSLockBlock(value)) + 2, length - 2), "second");
  OSUnlockBlock(value);

  // The calls that read a value in their own way report it too.
  char text[16] = "unchanged";
  EXPECT_EQ(NSFItemGetText(note_, "Data", text, sizeof text), 0);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(NSFItemConvertToText(note_, "Data", text, sizeof text, ';'), 0);
  EXPECT_EQ(NSFItemAppendTextList(note_, "Data", "x", 1, TRUE), ERR_HOST_ITEM_DAMAGED);
  NOTEHANDLE other = NULLHANDLE;
  ASSERT_EQ(NSFNoteCreate(db_, &other), NOERROR);
  EXPECT_EQ(NSFItemCopy(other, damaged), ERR_HOST_ITEM_DAMAGED);
  EXPECT_EQ(NSFNoteClose(other), NOERROR);
  EXPECT_EQ(Messages(), std::vector<std::string>(4, Message("Data", id_, GetParam())));

  char status[64];
  OSLoadString(NULLHANDLE, ERR_HOST_ITEM_DAMAGED, status, sizeof status);
  EXPECT_STREQ(status, "Note item is damaged");
}

TEST_P(DamagedItemTest, TheItemIsCopiedAndWrittenBackAsItIsAndCanBeDeleted) {
  const std::string damaged = GetParam().value;
  ASSERT_EQ(StoredItems(),
            "Title|00055265706F7274;Data|" + damaged + ";Data|00057365636F6E64;Extra|00056B657074;");
  ASSERT_EQ(NSFNoteOpen(db_, id_, 0, &note_), NOERROR);

  // A copy (of the same note ID) with a new title, stored.
  NOTEHANDLE copy = NULLHANDLE;
  ASSERT_EQ(NSFNoteCopy(note_, &copy), NOERROR);
  EXPECT_EQ(NSFItemSetText(copy, "Title", "Copy", 4), NOERROR);
  EXPECT_EQ(NSFNoteUpdate(copy, 0), NOERROR);
  EXPECT_EQ(NSFNoteClose(copy), NOERROR);
  EXPECT_EQ(StoredItems(),
            "Data|" + damaged + ";Data|00057365636F6E64;Extra|00056B657074;Title|0005436F7079;");

  EXPECT_EQ(NSFItemDelete(note_, "Data", 4), NOERROR);
  EXPECT_EQ(NSFNoteUpdate(note_, 0), NOERROR);
  EXPECT_EQ(StoredItems(), "Title|00055265706F7274;Extra|00056B657074;;;");
  EXPECT_TRUE(Messages().empty());
}

/* The note IDs of a view's collection over the selection; *status gets
 * what opening it returned. */
std::vector<NOTEID> Selected(DBHANDLE db, const char* selection, STATUS* status) {
  NOTEID view = 0;
  EXPECT_EQ(HostTestCreateView(db, "Damaged", selection, nullptr, 0, &view), NOERROR);
  HCOLLECTION collection = NULLHANDLE;
  *status = NIFOpenCollection(db, db, view, 0, &collection);
  std::vector<NOTEID> ids;
  if (*status != NOERROR)
    return ids;
  COLLECTIONPOSITION position{};
  DHANDLE buffer = NULLHANDLE;
  DWORD returned = 0;
  EXPECT_EQ(NIFReadEntries(collection, &position, NAVIGATE_NEXT, 1, NAVIGATE_NEXT,
                           MAXDWORD_ENTRIES, READ_MASK_NOTEID, &buffer, nullptr, nullptr,
                           &returned, nullptr),
            NOERROR);
  if (buffer != NULLHANDLE) {
    const auto* batch = static_cast<const NOTEID*>(OSLockObject(buffer));
    ids.assign(batch, batch + returned);
    OSUnlockObject(buffer);
    OSMemFree(buffer);
  }
  EXPECT_EQ(NIFCloseCollection(collection), NOERROR);
  return ids;
}

TEST_P(DamagedItemTest, AViewSelectionThatReadsTheItemIsToldOfItAndSeesNothing) {
  STATUS status = NOERROR;
  EXPECT_EQ(Selected(db_, "SELECT Data = \"\"", &status), std::vector<NOTEID>{id_});
  EXPECT_EQ(status, NOERROR);
  EXPECT_EQ(Messages(), std::vector<std::string>{Message("Data", id_, GetParam())});
  EXPECT_EQ(Selected(db_, "SELECT Data = \"\"", &status), std::vector<NOTEID>{id_});
  EXPECT_EQ(Messages(), std::vector<std::string>{Message("Data", id_, GetParam())})
      << "told again when the view is built again";
  EXPECT_EQ(Selected(db_, "SELECT Extra = \"kept\"", &status), std::vector<NOTEID>{id_});
  EXPECT_TRUE(Messages().empty()) << "the damaged item is not read";

  // A note whose header is damaged stops a selection that opens it, and
  // only such a selection.
  ASSERT_EQ(Raw("UPDATE notes SET unid = 'damaged' WHERE note_id = " + std::to_string(id_)), "");
  EXPECT_EQ(Selected(db_, "SELECT Extra = \"kept\"", &status), std::vector<NOTEID>{});
  EXPECT_EQ(status, ERR_HOST_STORAGE);
  EXPECT_EQ(Selected(db_, "SELECT @All", &status), std::vector<NOTEID>{id_});
  EXPECT_EQ(status, NOERROR);
}

} // namespace

namespace {

TEST_P(DamagedItemTest, ANoteOpenedAgainReadsAsStoredNowAndStillTellsOfTheItem) {
  for (int open = 0; open < 2; ++open) {
    ASSERT_EQ(NSFNoteOpen(db_, id_, 0, &note_), NOERROR);
    char text[16] = "unchanged";
    EXPECT_EQ(NSFItemGetText(note_, "Data", text, sizeof text), 0);
    EXPECT_EQ(Messages(), std::vector<std::string>{Message("Data", id_, GetParam())}) << open;
    EXPECT_EQ(Text(note_, "Extra"), "kept");
    EXPECT_EQ(NSFNoteClose(note_), NOERROR);
    note_ = NULLHANDLE;
  }
  // Another connection changes the note: the next open reads the change.
  ASSERT_EQ(Raw("UPDATE items SET value = x'0005676F6E65' WHERE note_id = " +
                std::to_string(id_) + " AND name = 'Extra'"),
            "");
  ASSERT_EQ(NSFNoteOpen(db_, id_, 0, &note_), NOERROR);
  EXPECT_EQ(Text(note_, "Extra"), "gone");
}

} // namespace
