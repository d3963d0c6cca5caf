// Connecting through the class interface to a note one of whose stored
// items is damaged (a value too short to hold its type word, written into
// the database file from outside): the note opens and its sound rich-text
// item connects and renders; connecting to the damaged item fails with the
// host's status and a message that names it, never with "Unable to find
// note".
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/status.h"
#include "tests/support/note_fixture.h"
#include "tests/support/test_fixture.h"
#include "velko/velko.h"

namespace {

using note_testing::MessageTexts;

class DamagedItemConnectTest : public ::testing::TestWithParam<const char*> {
protected:
  void SetUp() override {
    note_testing::ResetHostCapturing();
    directory_ = file_testing::MakeDataDirectory("velko-connect-damaged");
    ASSERT_FALSE(directory_.empty());
    path_ = directory_ + "/notes.nsf";
    DBHANDLE db = NULLHANDLE;
    ASSERT_EQ(note_testing::CreateDatabase(path_.c_str(), &db), NOERROR);
    const auto records = note_testing::Records({cdbuild::Text("sound", {})});
    id_ = note_testing::StoreNoteWith(db, [&](NOTEHANDLE note) {
      const STATUS status = note_testing::AppendRecords(note, "Body", records);
      return status != NOERROR ? status : note_testing::AppendRecords(note, "Other", records);
    });
    NSFDbClose(db);
    ASSERT_NE(id_, 0u);
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path_.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    const std::string damage = "UPDATE items SET value = x'" + std::string(GetParam()) +
                               "' WHERE name = 'Body'";
    EXPECT_EQ(sqlite3_exec(raw, damage.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(raw);
    session_ = new LSXLsiSession;
  }
  void TearDown() override {
    delete session_;
    HostTestReset();
    std::filesystem::remove_all(directory_);
  }

  std::string directory_;
  std::string path_;
  NOTEID id_ = 0;
  LSXLsiSession* session_ = nullptr;
};

INSTANTIATE_TEST_SUITE_P(EmptyOrOneByte, DamagedItemConnectTest, ::testing::Values("", "01"));

TEST_P(DamagedItemConnectTest, TheSoundItemOfTheNoteConnectsAndRenders) {
  auto* item = new VelkoRTItem(session_);
  ASSERT_EQ(item->Connect("", path_.c_str(), id_, "Other", 0), NOERROR);
  VelkoRTChunk* chunk = item->DefineChunk("Everything");
  ASSERT_NE(chunk, nullptr);
  char* html = chunk->GenerateHTML(nullptr, "Fragment", "Generation=Fragment", 0, nullptr, nullptr);
  ASSERT_NE(html, nullptr);
  EXPECT_EQ(std::string(html, session_->render_result_length), "sound");
  VelkoDeallocatePtr(session_, html);
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{});
}

TEST_P(DamagedItemConnectTest, ConnectingToTheDamagedItemFailsNamingIt) {
  auto* item = new VelkoRTItem(session_);
  EXPECT_EQ(item->Connect("", path_.c_str(), id_, "Body", 0), ERR_HOST_ITEM_DAMAGED);
  EXPECT_EQ(item->IsConnected, 0);
  EXPECT_EQ(item->DefineChunk("Everything"), nullptr);
  char expected[160];
  std::snprintf(expected, sizeof expected,
                "Note item \"Body\" (note ID 0x%X) is damaged: its stored value of %zu byte%s is "
                "too short to hold its data type",
                static_cast<unsigned>(id_), std::string(GetParam()).size() / 2,
                std::string(GetParam()).empty() ? "s" : "");
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{expected});
}

} // namespace
