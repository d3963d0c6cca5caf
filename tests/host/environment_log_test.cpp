// Settings (the notes.ini stand-in), the data directory, status texts,
// the message handler and the log of the host stand-in.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
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

namespace {

namespace fs = std::filesystem;

// A data directory of its own, removed afterwards.
class TempDirectory {
public:
  TempDirectory() {
    std::string pattern = (fs::temp_directory_path() / "velko-host-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDirectory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(path_ + "/" + name, std::ios::binary | std::ios::trunc) << text;
  }

private:
  std::string path_;
};

const char kSettings[] = "[Notes]\n"
                         "; a comment=ignored\n"
                         "TarnoDebug=2\n"
                         "\n"
                         "$TarnoTempDirectory=/var/tmp/x/\r\n"
                         "  Spaced Name  =  spaced value  \n"
                         "DUP=first\n"
                         "dup=second\n"
                         "Empty=\n"
                         "no equals sign\n";

class EnvironmentTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    dir_.Write("notes.ini", kSettings);
    HostTestSetDataDirectory(dir_.path().c_str());
  }
  void TearDown() override { HostTestReset(); }
  static std::string Get(const char* name, WORD length = 256, BOOL* found = nullptr) {
    char buffer[256];
    std::memset(buffer, 'x', sizeof buffer);
    const BOOL set = OSGetEnvironmentString(name, buffer, length);
    if (found != nullptr)
      *found = set;
    return set ? std::string(buffer) : std::string("<unset:") + buffer + ">";
  }
  TempDirectory dir_;
};

TEST_F(EnvironmentTest, ReadsTheSettingsFile) {
  EXPECT_EQ(Get("TarnoDebug"), "2");
  EXPECT_EQ(Get("tarnodebug"), "2") << "names ignore case";
  EXPECT_EQ(Get("$TARNOTEMPDIRECTORY"), "/var/tmp/x/");
  EXPECT_EQ(Get("spaced name"), "spaced value");
  EXPECT_EQ(Get("Dup"), "first") << "the first occurrence wins";
  EXPECT_EQ(Get("Empty"), "");
  EXPECT_EQ(Get("Missing"), "<unset:>");
  EXPECT_EQ(Get("[Notes]"), "<unset:>");
  EXPECT_EQ(Get("; a comment"), "<unset:>");
  EXPECT_EQ(OSGetEnvironmentLong("TarnoDebug"), 2);
  EXPECT_EQ(OSGetEnvironmentLong("$TarnoTempDirectory"), 0);
  EXPECT_EQ(OSGetEnvironmentLong("Missing"), 0);
}

TEST_F(EnvironmentTest, CopiesAtMostTheBufferLessOne) {
  BOOL found = FALSE;
  EXPECT_EQ(Get("$TarnoTempDirectory", 4, &found), "/va");
  EXPECT_TRUE(found);
  char untouched = 'x';
  EXPECT_TRUE(OSGetEnvironmentString("TarnoDebug", &untouched, 0));
  EXPECT_EQ(untouched, 'x');
  EXPECT_FALSE(OSGetEnvironmentString(nullptr, &untouched, 1));
  EXPECT_EQ(untouched, 0);
}

TEST_F(EnvironmentTest, ProcessValuesOverrideTheFileUntilReset) {
  OSSetEnvironmentVariable("TARNODEBUG", "5");
  EXPECT_EQ(OSGetEnvironmentLong("TarnoDebug"), 5);
  OSSetEnvironmentVariable("TarnoDebug", nullptr);
  EXPECT_EQ(Get("TarnoDebug"), "<unset:>") << "null unsets, hiding the file's value";
  HostTestSetEnvironment("Fresh", "yes");
  EXPECT_EQ(Get("fresh"), "yes");
  std::ifstream file(dir_.path() + "/notes.ini");
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_EQ(text.str(), kSettings) << "the file is never written";

  HostTestReset();
  HostTestSetDataDirectory(dir_.path().c_str());
  EXPECT_EQ(Get("TarnoDebug"), "2");
  EXPECT_EQ(Get("Fresh"), "<unset:>");
}

TEST_F(EnvironmentTest, ReloadsTheFileWhenItChanges) {
  EXPECT_EQ(Get("TarnoDebug"), "2");
  dir_.Write("notes.ini", "TarnoDebug=17\nAdded=1\n");
  EXPECT_EQ(Get("TarnoDebug"), "17");
  EXPECT_EQ(Get("Added"), "1");
  fs::remove(dir_.path() + "/notes.ini");
  EXPECT_EQ(Get("TarnoDebug"), "<unset:>");
}

TEST_F(EnvironmentTest, DataDirectoryComesFromOverrideProcessOrWorkingDirectory) {
  char path[MAXPATH];
  EXPECT_EQ(OSGetDataDirectory(path), dir_.path().size());
  EXPECT_EQ(std::string(path), dir_.path());

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

struct StatusTextCase {
  STATUS status;
  const char* text;
};

class StatusTextTest : public ::testing::TestWithParam<StatusTextCase> {};

TEST_P(StatusTextTest, LoadsTheTextOfTheLow14Bits) {
  char buffer[128];
  const WORD length = OSLoadString(0, GetParam().status, buffer, sizeof buffer);
  EXPECT_STREQ(buffer, GetParam().text);
  EXPECT_EQ(length, std::strlen(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StatusTextTest,
    ::testing::Values(StatusTextCase{ERR_ITEM_NOT_FOUND, "Note item not found"},
                      StatusTextCase{ERR_MEMORY, "Insufficient memory"},
                      StatusTextCase{ERR_NOT_FOUND, "Entry not found in index"},
                      StatusTextCase{1028, "Entry not found in index"},
                      StatusTextCase{0x8000 | ERR_ITEM_NOT_FOUND, "Note item not found"},
                      StatusTextCase{ERR_HOST_LIST_FULL, "Text list is full"},
                      StatusTextCase{ERR_HOST_CHARSET_UNKNOWN, "Unknown character set"},
                      StatusTextCase{1234, "Error 0x04D2"},
                      StatusTextCase{20017, "Error 0x0E31"},
                      StatusTextCase{0xC000 | 20017, "Error 0x0E31"}));

TEST(StatusText, IsCutToTheBuffer) {
  char buffer[5] = "xxxx";
  EXPECT_EQ(OSLoadString(0, ERR_ITEM_NOT_FOUND, buffer, sizeof buffer), 4);
  EXPECT_STREQ(buffer, "Note");
  EXPECT_EQ(OSLoadString(0, ERR_ITEM_NOT_FOUND, buffer, 0), 0);
  EXPECT_EQ(OSLoadString(0, ERR_ITEM_NOT_FOUND, nullptr, 10), 0);
}

TEST(StatusCodes, OwnCodesStayClearOfTheSystemsCodes) {
  for (unsigned code = ERR_HOST_BASE; code <= ERR_HOST_LAST; ++code) {
    EXPECT_EQ(code & 0x3FFF, code);
    for (unsigned system : {257u, 259u, 263u, 546u, 1026u, 1027u, 1028u, 1298u, 14409u})
      EXPECT_NE(code, system);
    EXPECT_FALSE(code >= 20013 && code <= 20034);
  }
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

TEST_F(MessagesAndLogTest, MessageHandlerIsNullUntilInstalled) {
  EXPECT_EQ(OSGetSignalHandler(OS_SIGNAL_MESSAGE), nullptr);
  void* dummy = reinterpret_cast<void*>(&DummyHandler);
  EXPECT_EQ(OSSetSignalHandler(OS_SIGNAL_MESSAGE, dummy), nullptr);
  EXPECT_EQ(OSGetSignalHandler(OS_SIGNAL_MESSAGE), dummy);
  HostTestCaptureMessages();
  EXPECT_NE(OSGetSignalHandler(OS_SIGNAL_MESSAGE), dummy);
  EXPECT_EQ(OSSetSignalHandler(40, dummy), nullptr);
  EXPECT_EQ(OSGetSignalHandler(40), nullptr);
  HostTestReset();
  EXPECT_EQ(OSGetSignalHandler(OS_SIGNAL_MESSAGE), nullptr);
}

TEST_F(MessagesAndLogTest, CapturedMessagesKeepTextAndType) {
  HostTestCaptureMessages();
  auto handler = reinterpret_cast<OSSIGMSGPROC>(OSGetSignalHandler(OS_SIGNAL_MESSAGE));
  ASSERT_NE(handler, nullptr);
  EXPECT_EQ(handler("Harrowmint: Memory allocation error", 6), NOERROR);
  handler("second", 2);
  const std::vector<HostTestMessage> expected = {{"Harrowmint: Memory allocation error", 6},
                                                 {"second", 2}};
  EXPECT_EQ(HostTestMessages(), expected);
  HostTestClearMessages();
  EXPECT_TRUE(HostTestMessages().empty());
}

TEST_F(MessagesAndLogTest, LogLinesAreFormattedWithTheStatusText) {
  HostTestCaptureLog(true);
  AddInLogMessageText("Harrowmint: Unable to allocate %lu bytes of memory", ERR_MEMORY, 70000UL);
  AddInLogMessageText("TarnoDebug: Temp directory='%s'", NOERROR, "/tmp/");
  AddInLogMessageText("Unknown: %d", 1234, 7);
  const std::string longText(2000, 'L');
  AddInLogMessageText("%s!", NOERROR, longText.c_str());
  const std::vector<std::string> expected = {
      "Harrowmint: Unable to allocate 70000 bytes of memory: Insufficient memory",
      "TarnoDebug: Temp directory='/tmp/'", "Unknown: 7: Error 0x04D2", longText + "!"};
  EXPECT_EQ(HostTestLogLines(), expected);
  HostTestClearLog();
  EXPECT_TRUE(HostTestLogLines().empty());
}

TEST_F(MessagesAndLogTest, LogFileGetsTimestampedLines) {
  TempDirectory dir;
  const std::string path = dir.path() + "/log.txt";
  setenv("VELKO_LOG_FILE", path.c_str(), 1);
  AddInLogMessageText("first %d", NOERROR, 1);
  AddInLogMessageText("second", ERR_ITEM_NOT_FOUND);
  std::ifstream file(path);
  std::string one;
  std::string two;
  std::string three;
  std::getline(file, one);
  std::getline(file, two);
  EXPECT_FALSE(std::getline(file, three));
  EXPECT_TRUE(std::regex_match(one, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d first 1)"))) << one;
  EXPECT_TRUE(std::regex_match(two, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d second: Note item not found)")))
      << two;
}

TEST_F(MessagesAndLogTest, LogGoesToStderrByDefault) {
  ::testing::internal::CaptureStderr();
  AddInLogMessageText("to stderr %s", NOERROR, "now");
  const std::string written = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(std::regex_match(written, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d to stderr now\n)")))
      << written;
}

} // namespace
