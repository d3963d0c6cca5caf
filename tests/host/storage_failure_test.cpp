// Why a host database could not be used: NSFDbStorageFailure gives the
// cause of the calling thread's last storage failure in words, from
// SQLite's result code (the status stays ERR_HOST_STORAGE); each thread
// keeps its own, an open forgets the one before, and a failed write says
// that the file cannot be written. Each cause of a failed open is shown
// as the user sees it by the command's tests (tests/tools).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/status.h"
#include "tests/support/note_fixture.h"
#include "tests/support/test_fixture.h"

namespace {

class StorageFailureTest : public host_test::HostFixture {
protected:
  void SetUp() override {
    HostFixture::SetUp();
    directory_ = file_testing::MakeDataDirectory("velko-cause");
    ASSERT_FALSE(directory_.empty());
  }
  void TearDown() override {
    HostTestReset();
    HostFixture::TearDown();
    std::filesystem::remove_all(directory_);
  }

  std::string Path(const char* name) const { return directory_ + "/" + name; }

  void Write(const char* name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }

  /* The status of opening the path, and the cause this thread keeps. */
  static std::string OpenAndSayWhy(const std::string& path) {
    DBHANDLE db = NULLHANDLE;
    const STATUS status = NSFDbOpen(path.c_str(), &db);
    if (db != NULLHANDLE)
      NSFDbClose(db);
    return std::to_string(status) + " " + Cause();
  }

  static std::string Cause() {
    char text[128] = "untouched";
    const BOOL kept = NSFDbStorageFailure(text, sizeof text);
    return (kept ? "kept: " : "none: ") + std::string(text);
  }

  std::string directory_;
};

TEST_F(StorageFailureTest, EachThreadKeepsItsOwnAndAnOpenForgetsTheOneBefore) {
  Write("empty.nsf", "");
  ASSERT_EQ(::mkdir(Path("folder.nsf").c_str(), 0700), 0);
  EXPECT_EQ(Cause(), "none: ");
  EXPECT_EQ(OpenAndSayWhy(Path("empty.nsf")),
            std::to_string(ERR_HOST_STORAGE) + " kept: is not a database");
  std::string other;
  std::string otherAfterFailing;
  std::thread([&] {
    other = Cause();
    otherAfterFailing = OpenAndSayWhy(Path("folder.nsf"));
  }).join();
  EXPECT_EQ(other, "none: ");
  EXPECT_EQ(otherAfterFailing, std::to_string(ERR_HOST_STORAGE) + " kept: is a directory");
  EXPECT_EQ(Cause(), "kept: is not a database");
  // Cut to the buffer, terminated.
  char text[8] = {};
  EXPECT_TRUE(NSFDbStorageFailure(text, sizeof text));
  EXPECT_STREQ(text, "is not ");

  DBHANDLE db = NULLHANDLE;
  ASSERT_EQ(note_testing::CreateDatabase(Path("fine.nsf").c_str(), &db), NOERROR);
  EXPECT_EQ(Cause(), "none: ");
  NSFDbClose(db);
}

TEST_F(StorageFailureTest, AWriteThatFailsSaysTheFileCannotBeWritten) {
  DBHANDLE db = NULLHANDLE;
  ASSERT_EQ(note_testing::CreateDatabase(Path("notes.nsf").c_str(), &db), NOERROR);
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(NSFNoteCreate(db, &note), NOERROR);
  HostTestFailStorageWrite(1);
  EXPECT_EQ(NSFNoteUpdate(note, 0), ERR_HOST_STORAGE);
  EXPECT_EQ(Cause(), "kept: cannot be written");
  NSFNoteClose(note);
  NSFDbClose(db);
}

} // namespace
