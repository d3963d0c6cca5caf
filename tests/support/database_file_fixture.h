// The body a record script describes (the script must build), and a test
// fixture with a database file of the running test's and process's
// own (ctest runs tests side by side, and other builds may run the same
// test at once), created empty before each test and removed after it,
// with the host's state reset and its messages captured.
#ifndef VELKO_TESTS_SUPPORT_DATABASE_FILE_FIXTURE_H
#define VELKO_TESTS_SUPPORT_DATABASE_FILE_FIXTURE_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <string>

#include "cdbuild/cd_builder.h"
#include "cdbuild/cd_script.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "tests/support/note_fixture.h"

/* The body the record script describes; a script that does not build
 * fails the test. */
inline cdbuild::Body Script(const std::string& script) {
  cdbuild::Body body;
  cdbuild::ScriptError error;
  EXPECT_TRUE(cdbuild::BuildScript(script, &body, &error)) << error.line << ": " << error.message;
  return body;
}

template <typename Base = ::testing::Test> class DatabaseFileFixture : public Base {
public:
  void SetUp() override {
    HostTestReset();
    HostTestCaptureMessages();
    std::string file = "velko_" + std::to_string(getpid()) + "_";
    for (char c : std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()))
      file += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    path_ = (std::filesystem::path(::testing::TempDir()) / (file + ".nsf")).string();
    std::filesystem::remove(path_);
    ASSERT_EQ(NSFDbCreate(path_.c_str(), DBCLASS_NOTEFILE, TRUE), NOERROR);
  }
  void TearDown() override {
    HostTestReset();
    std::filesystem::remove(path_);
  }

  /* A stored note whose "Body" holds the body; its id. */
  NOTEID StoreBody(const cdbuild::Body& body) {
    DBHANDLE db = NULLHANDLE;
    EXPECT_EQ(NSFDbOpen(path_.c_str(), &db), NOERROR);
    const NOTEID id = note_testing::StoreNoteWith(
        db, [&](NOTEHANDLE note) { return body.AppendItems(note, "Body"); });
    EXPECT_NE(id, 0u);
    NSFDbClose(db);
    return id;
  }

  std::string path_;
};

#endif
