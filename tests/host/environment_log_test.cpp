// Settings (the notes.ini stand-in), the data directory, status texts,
// the message handler and the log of the host stand-in.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "host/host_testing.h"
#include "host/osenv.h"
#include "host/oslog.h"
#include "host/status.h"
#include "tests/support/test_fixture.h"

namespace {

namespace fs = std::filesystem;

const char kSettings[] = "[Notes]\n; a comment=ignored\nTarnoDebug=2\n\n$TarnoTempDirectory=/var/tmp/x/\r\n"
                         "  Spaced Name  =  spaced value  \nDUP=first\ndup=second\nEmpty=\nno equals sign\n";

class EnvironmentTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    dir_ = file_testing::MakeDataDirectory("velko-host");
    ASSERT_FALSE(dir_.empty());
    Write(kSettings);
    HostTestSetDataDirectory(dir_.c_str());
  }
  void TearDown() override {
    HostTestReset();
    fs::remove_all(dir_);
  }
  void Write(const std::string& text) const {
    std::ofstream(dir_ + "/notes.ini", std::ios::binary | std::ios::trunc) << text;
  }
  static std::string Get(const char* name, WORD length = 256) {
    char buffer[256];
    std::memset(buffer, 'x', sizeof buffer);
    const BOOL set = OSGetEnvironmentString(name, buffer, length);
    return set ? std::string(buffer) : std::string("<unset:") + buffer + ">";
  }
  std::string dir_;
};

TEST_F(EnvironmentTest, ReadsTheSettingsFile) {
  const struct {
    const char* name;
    const char* value;
  } cases[] = {{"tarnodebug", "2"},           {"$TARNOTEMPDIRECTORY", "/var/tmp/x/"},
               {"spaced name", "spaced value"}, {"Dup", "first"}, // the first occurrence wins
               {"Empty", ""},                 {"Missing", "<unset:>"},
               {"[Notes]", "<unset:>"},       {"; a comment", "<unset:>"}};
  for (const auto& c : cases)
    EXPECT_EQ(Get(c.name), c.value) << c.name;
  EXPECT_EQ(OSGetEnvironmentLong("TarnoDebug"), 2);
  EXPECT_EQ(OSGetEnvironmentLong("$TarnoTempDirectory"), 0);
  EXPECT_EQ(OSGetEnvironmentLong("Missing"), 0);

  EXPECT_EQ(Get("$TarnoTempDirectory", 4), "/va") << "at most the buffer less one";
  char untouched = 'x';
  EXPECT_TRUE(OSGetEnvironmentString("TarnoDebug", &untouched, 0));
  EXPECT_EQ(untouched, 'x');
  EXPECT_FALSE(OSGetEnvironmentString(nullptr, &untouched, 1));
  EXPECT_EQ(untouched, 0);
}

TEST_F(EnvironmentTest, ProcessValuesOverrideTheFileUntilResetAndTheFileIsReloaded) {
  OSSetEnvironmentVariable("TARNODEBUG", "5");
  EXPECT_EQ(OSGetEnvironmentLong("TarnoDebug"), 5);
  OSSetEnvironmentVariable("TarnoDebug", nullptr);
  EXPECT_EQ(Get("TarnoDebug"), "<unset:>") << "null unsets, hiding the file's value";
  HostTestSetEnvironment("Fresh", "yes");
  EXPECT_EQ(Get("fresh"), "yes");
  std::stringstream text;
  text << std::ifstream(dir_ + "/notes.ini").rdbuf();
  EXPECT_EQ(text.str(), kSettings) << "the file is never written";

  HostTestReset();
  HostTestSetDataDirectory(dir_.c_str());
  EXPECT_EQ(Get("TarnoDebug"), "2");
  EXPECT_EQ(Get("Fresh"), "<unset:>");
  Write("TarnoDebug=17\nAdded=1\n");
  EXPECT_EQ(Get("TarnoDebug"), "17");
  EXPECT_EQ(Get("Added"), "1");
  fs::remove(dir_ + "/notes.ini");
  EXPECT_EQ(Get("TarnoDebug"), "<unset:>");
}

TEST_F(EnvironmentTest, DataDirectoryComesFromOverrideProcessOrWorkingDirectory) {
  char path[MAXPATH];
  EXPECT_EQ(OSGetDataDirectory(path), dir_.size());
  EXPECT_EQ(std::string(path), dir_);
  HostTestSetDataDirectory("/some/dir/");
  EXPECT_EQ(OSGetDataDirectory(path), 9);
  EXPECT_STREQ(path, "/some/dir");
  HostTestSetDataDirectory(nullptr);
  setenv("VELKO_DATA_DIR", "/from/process", 1);
  OSGetDataDirectory(path);
  EXPECT_STREQ(path, "/from/process");
  unsetenv("VELKO_DATA_DIR");
  OSGetDataDirectory(path);
  EXPECT_EQ(std::string(path), fs::current_path().string());
}

TEST(StatusText, IsTheTextOfTheLow14BitsCutToTheBuffer) {
  const struct {
    STATUS status;
    const char* text;
  } cases[] = {{ERR_ITEM_NOT_FOUND, "Note item not found"},
               {ERR_NOT_FOUND, "Entry not found in index"},
               {1028, "Entry not found in index"},
               {0x8000 | ERR_ITEM_NOT_FOUND, "Note item not found"},
               {ERR_HOST_DB_IN_USE, "Database is in use"},
               {ERR_FORMULA_TOO_DEEP, "Formula is nested too deeply"},
               {1234, "Error 0x04D2"},
               {0xC000 | 20017, "Error 0x0E31"}};
  for (const auto& c : cases) {
    char buffer[128];
    EXPECT_EQ(OSLoadString(0, c.status, buffer, sizeof buffer), std::strlen(c.text));
    EXPECT_STREQ(buffer, c.text);
  }
  char buffer[5] = "xxxx";
  EXPECT_EQ(OSLoadString(0, ERR_ITEM_NOT_FOUND, buffer, sizeof buffer), 4);
  EXPECT_STREQ(buffer, "Note");
  EXPECT_EQ(OSLoadString(0, ERR_ITEM_NOT_FOUND, buffer, 0), 0);
  EXPECT_EQ(OSLoadString(0, ERR_ITEM_NOT_FOUND, nullptr, 10), 0);
}

class MessagesAndLogTest : public ::testing::Test {
protected:
  void SetUp() override { HostTestReset(); }
  void TearDown() override {
    unsetenv("VELKO_LOG_FILE");
    HostTestReset();
  }
};

STATUS DummyHandler(const char*, WORD) { return NOERROR; }

TEST_F(MessagesAndLogTest, MessageHandlerIsNullUntilInstalledAndCaptureKeepsTextAndType) {
  EXPECT_EQ(OSGetSignalHandler(OS_SIGNAL_MESSAGE), nullptr);
  void* dummy = reinterpret_cast<void*>(&DummyHandler);
  EXPECT_EQ(OSSetSignalHandler(OS_SIGNAL_MESSAGE, dummy), nullptr);
  EXPECT_EQ(OSSetSignalHandler(40, dummy), nullptr);
  EXPECT_EQ(OSGetSignalHandler(40), nullptr) << "only the message handler is kept";

  HostTestCaptureMessages();
  auto handler = reinterpret_cast<OSSIGMSGPROC>(OSGetSignalHandler(OS_SIGNAL_MESSAGE));
  ASSERT_NE(handler, nullptr);
  EXPECT_NE(reinterpret_cast<void*>(handler), dummy);
  EXPECT_EQ(handler("Harrowmint: Memory allocation error", 6), NOERROR);
  handler("second", 2);
  const std::vector<HostTestMessage> expected = {{"Harrowmint: Memory allocation error", 6},
                                                 {"second", 2}};
  EXPECT_EQ(HostTestMessages(), expected);
  HostTestClearMessages();
  EXPECT_TRUE(HostTestMessages().empty());
  HostTestReset();
  EXPECT_EQ(OSGetSignalHandler(OS_SIGNAL_MESSAGE), nullptr);
}

TEST_F(MessagesAndLogTest, LogLinesAreFormattedWithTheStatusText) {
  HostTestCaptureLog(true);
  AddInLogMessageText("Harrowmint: Unable to allocate %lu bytes of memory", ERR_MEMORY, 70000UL);
  AddInLogMessageText("Unknown: %d", 1234, 7);
  const std::string longText(2000, 'L');
  AddInLogMessageText("%s!", NOERROR, longText.c_str());
  const std::vector<std::string> expected = {
      "Harrowmint: Unable to allocate 70000 bytes of memory: Insufficient memory",
      "Unknown: 7: Error 0x04D2", longText + "!"};
  EXPECT_EQ(HostTestLogLines(), expected);
  HostTestClearLog();
  EXPECT_TRUE(HostTestLogLines().empty());
}

TEST_F(MessagesAndLogTest, LogGoesTimestampedToTheLogFileOrStderr) {
  const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )";
  ::testing::internal::CaptureStderr();
  AddInLogMessageText("to stderr %s", NOERROR, "now");
  const std::string written = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(std::regex_match(written, std::regex(stamp + "to stderr now\n"))) << written;

  const std::string dir = file_testing::MakeDataDirectory("velko-log");
  setenv("VELKO_LOG_FILE", (dir + "/log.txt").c_str(), 1);
  AddInLogMessageText("first %d", NOERROR, 1);
  AddInLogMessageText("second", ERR_ITEM_NOT_FOUND);
  std::stringstream file;
  file << std::ifstream(dir + "/log.txt").rdbuf();
  fs::remove_all(dir);
  EXPECT_TRUE(std::regex_match(file.str(), std::regex(stamp + "first 1\n" + stamp +
                                                      "second: Note item not found\n")))
      << file.str();
}

} // namespace
