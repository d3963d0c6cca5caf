// `velko import` run as a process: an HTML file, a text file, a GIF
// through the import filter and an RFC 822 message with an attachment each
// become a CD file that `velko dump` lists; a missing file, a kind no
// import takes, a message that cannot be read and unusable command lines
// fail with one line and the right exit status, writing no output file.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/osenv.h"
#include "velko/status.h"

namespace {

/* What one run of the command gave. */
struct CommandRun {
  std::string out;
  std::string err;
  int exit = -1;
};

std::string Contents(const std::string& path) {
  std::ostringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}

/* The lines of the listing that name the record kind. */
std::vector<std::string> LinesOf(const std::string& listing, const std::string& kind) {
  std::vector<std::string> lines;
  std::istringstream stream(listing);
  for (std::string line; std::getline(stream, line);) {
    const size_t space = line.find(' ');
    if (space != std::string::npos && line.compare(space + 1, kind.size() + 1, kind + " ") == 0)
      lines.push_back(line.substr(space + 1));
  }
  return lines;
}

class ImportCommandTest : public ::testing::Test {
protected:
  void SetUp() override {
    directory_ = ::testing::TempDir() + "velko_import_" + std::to_string(getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    std::filesystem::create_directories(directory_ + "temp");
    // The settings of the command's data directory: the import filters.
    std::ofstream(directory_ + "notes.ini")
        << "EDITIMP1=GIF Image,0,imgfilt,GIF,.GIF\n"
        << "EDITIMP2=JPEG Image,0,imgfilt,JPEG,.JPG .JPEG\n"
        << "$TarnoTempDirectory=" << directory_ << "temp/\n";
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  std::string Input(const std::string& name, const std::string& bytes) {
    std::ofstream(directory_ + name, std::ios::binary) << bytes;
    return directory_ + name;
  }

  /* Runs the command with the arguments (shell words) in the test's data
   * directory; log lines go to a file so that stderr holds the command's
   * texts only. */
  CommandRun Velko(const std::string& arguments) {
    const std::string out = directory_ + "stdout";
    const std::string err = directory_ + "stderr";
    const std::string command = "VELKO_DATA_DIR='" + directory_ + "' VELKO_LOG_FILE='" +
                                directory_ + "log' '" + VELKO_COMMAND + "' " + arguments +
                                " >'" + out + "' 2>'" + err + "'";
    const int raw = std::system(command.c_str());
    return {Contents(out), Contents(err), WIFEXITED(raw) ? WEXITSTATUS(raw) : -1};
  }

  /* Imports the file and lists the CD file made. */
  std::string ImportAndDump(const std::string& input, const std::string& extra = "") {
    const std::string cd = directory_ + "out.cd";
    const CommandRun imported = Velko("import '" + input + "' -o '" + cd + "'" + extra);
    EXPECT_EQ(imported.exit, 0) << imported.err;
    EXPECT_EQ(imported.err, "");
    EXPECT_EQ(imported.out,
              cd + ": " + std::to_string(std::filesystem::file_size(cd)) + " bytes\n");
    const CommandRun dumped = Velko("dump '" + cd + "'");
    EXPECT_EQ(dumped.exit, 0) << dumped.err;
    return dumped.out;
  }

  /* Nothing but the inputs and the settings is left in the directory. */
  bool NoOutputFile() const { return !std::filesystem::exists(directory_ + "out.cd"); }

  std::string directory_;
};

// The blank body's records come first: its paragraph definition and
// reference, and its empty text run; the import follows.
constexpr char kBlankBody[] =
    "1 CDPABDEFINITION length=82 id=1 justify=left left=1440 right=0 firstline=1440 "
    "flags=0x0100 flags2=0x0494 ext=1440,0,1440,0,0,100\n"
    "2 CDPABREFERENCE length=4 id=1\n"
    "3 CDTEXT length=8 face=1 attributes=0x00 color=0 size=10 text=\"\"\n";

TEST_F(ImportCommandTest, ATextFileBecomesOneRunPerLineWithParagraphsBetween) {
  // CRLF, LF and an empty line; the last line end adds nothing; each
  // paragraph goes on in the current definition.
  const std::string listing = ImportAndDump(Input("notes.txt", "one\r\ntwo\n\nthree\n"));
  EXPECT_EQ(listing, std::string(kBlankBody) +
                         "4 CDTEXT length=11 face=1 attributes=0x00 color=0 size=10 text=\"one\"\n"
                         "5 CDPARAGRAPH length=2\n"
                         "6 CDPABREFERENCE length=4 id=1\n"
                         "7 CDTEXT length=11 face=1 attributes=0x00 color=0 size=10 text=\"two\"\n"
                         "8 CDPARAGRAPH length=2\n"
                         "9 CDPABREFERENCE length=4 id=1\n"
                         "10 CDTEXT length=8 face=1 attributes=0x00 color=0 size=10 text=\"\"\n"
                         "11 CDPARAGRAPH length=2\n"
                         "12 CDPABREFERENCE length=4 id=1\n"
                         "13 CDTEXT length=13 face=1 attributes=0x00 color=0 size=10 "
                         "text=\"three\"\n");
  // The options reach the import: a line of 3 characters at most.
  const std::string cut = ImportAndDump(Input("long.TXT", "abcdefg"), " --options LineLength=3");
  std::vector<std::string> texts = LinesOf(cut, "CDTEXT");
  ASSERT_EQ(texts.size(), 4u) << cut;
  EXPECT_NE(texts[1].find("text=\"abc\""), std::string::npos) << cut;
  EXPECT_NE(texts[2].find("text=\"def\""), std::string::npos) << cut;
  EXPECT_NE(texts[3].find("text=\"g\""), std::string::npos) << cut;
}

TEST_F(ImportCommandTest, AnHtmlFileKeepsItsTextAndStyles) {
  for (const char* name : {"page.html", "PAGE.HTM"}) {
    SCOPED_TRACE(name);
    const std::string listing =
        ImportAndDump(Input(name, "<html><body><p>Hello <b>bold</b> <i>world</i></p></body>"
                                  "</html>"));
    const std::vector<std::string> texts = LinesOf(listing, "CDTEXT");
    std::string runs;
    for (const std::string& text : texts)
      runs += text.substr(text.find("attributes=")) + "\n";
    EXPECT_NE(runs.find("attributes=0x00 color=0 size=10 text=\"Hello \"\n"
                        "attributes=0x01 color=0 size=10 text=\"bold\"\n"
                        "attributes=0x00 color=0 size=10 text=\" \"\n"
                        "attributes=0x02 color=0 size=10 text=\"world\"\n"),
              std::string::npos)
        << listing;
  }
  // The options reach the import: the file's bytes read as Latin-2.
  const std::string listing =
      ImportAndDump(Input("latin2.htm", "<p>\xB1</p>"), " --options 'Charset=iso-8859-2'");
  EXPECT_EQ(LinesOf(listing, "CDTEXT").size(), 2u) << listing;
  EXPECT_EQ(listing.find("text=\"\\xB1\""), std::string::npos) << listing;
}

TEST_F(ImportCommandTest, AGifGoesThroughTheImportFilterIntoImageRecords) {
  const std::string gif = {'G', 'I', 'F', '8', '9', 'a', 5, 0, 6, 0, '\x80', 0, 0, 0, 0, 0,
                           '\xFF', '\xFF', '\xFF', 0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44,
                           1, 0, 0x3B};
  const std::string listing = ImportAndDump(Input("dot.gif", gif));
  EXPECT_EQ(LinesOf(listing, "CDGRAPHIC").size(), 1u) << listing;
  EXPECT_EQ(LinesOf(listing, "CDIMAGEHEADER").size(), 1u) << listing;
  ASSERT_EQ(LinesOf(listing, "CDIMAGESEGMENT").size(), 1u) << listing;
  // The segment holds the file whole.
  EXPECT_NE(Contents(directory_ + "out.cd").find(gif), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(directory_ + "temp"));
}

TEST_F(ImportCommandTest, AMessageWithAnAttachmentBecomesItsTextAndAFileHotspot) {
  const std::string message = Input("mail.eml",
                                    "From: a@example.com\r\n"
                                    "Subject: files\r\n"
                                    "MIME-Version: 1.0\r\n"
                                    "Content-Type: multipart/mixed; boundary=\"b1\"\r\n"
                                    "\r\n"
                                    "--b1\r\n"
                                    "Content-Type: text/plain; charset=us-ascii\r\n"
                                    "\r\n"
                                    "See the data.\r\n"
                                    "--b1\r\n"
                                    "Content-Type: application/octet-stream; name=\"data.bin\"\r\n"
                                    "Content-Disposition: attachment; filename=\"data.bin\"\r\n"
                                    "Content-Transfer-Encoding: base64\r\n"
                                    "\r\n"
                                    "AAECAw==\r\n"
                                    "--b1--\r\n");
  const std::string listing = ImportAndDump(message, " --mime");
  EXPECT_NE(listing.find("text=\"See the data.\""), std::string::npos) << listing;
  const std::vector<std::string> hotspots = LinesOf(listing, "CDHOTSPOTBEGIN");
  ASSERT_EQ(hotspots.size(), 1u) << listing;
  EXPECT_NE(hotspots[0].find(" type=4 "), std::string::npos) << hotspots[0];
  EXPECT_NE(hotspots[0].find("data.bin"), std::string::npos) << hotspots[0];
  EXPECT_EQ(LinesOf(listing, "CDHOTSPOTEND").size(), 1u) << listing;
}

TEST_F(ImportCommandTest, FailuresAreOneLineAndWriteNothing) {
  char noFilter[256] = {};
  OSLoadString(NULLHANDLE, VELKO_ERR_BAD_ARGUMENT, noFilter, sizeof noFilter);
  const std::string missing = directory_ + "missing.html";
  const std::string bitmap = Input("picture.bmp", "BM");
  const std::string bare = Input("README", "text");
  // A multipart message without a part cannot be read.
  const std::string notMime = Input("broken.eml",
                                    "Subject: x\r\nContent-Type: multipart/mixed; boundary=\"q\"\r\n"
                                    "\r\nno parts\r\n");
  const struct {
    std::string arguments;
    int exit;
    std::string err;
  } cases[] = {
      {"'" + missing + "' -o '" + directory_ + "out.cd'", 1,
       "velko: " + missing + ": cannot read the file: No such file or directory\n"},
      {"'" + directory_ + "' -o '" + directory_ + "out.cd'", 1,
       "velko: " + directory_ + ": cannot read the file: it is a directory\n"},
      {"'" + bitmap + "' -o '" + directory_ + "out.cd'", 1,
       "velko: " + bitmap + ": no import takes files named \".bmp\": status 1028 (" + noFilter +
           ")\n"},
      {"'" + bare + "' -o '" + directory_ + "out.cd'", 1,
       "velko: " + bare + ": no import takes files without an extension: status 1028 (" +
           noFilter + ")\n"},
      {"'" + notMime + "' -o '" + directory_ + "out.cd' --mime", 1,
       "velko: " + notMime +
           ": the message cannot be converted to rich text; Cannot connect to item of type 25.  "
           "Not rich text!\n"},
      {"'" + bitmap + "' -o '" + directory_ + "out.cd' --bogus", 2,
       "velko: unknown option '--bogus'\n"},
      {"'" + bitmap + "' -o '" + directory_ + "out.cd' --db x.nsf", 2,
       "velko: import does not take --db\n"},
      {"'" + bitmap + "'", 2, "velko: import needs one FILE and -o OUT.cd\n"},
      {"'" + notMime + "' -o '" + directory_ + "out.cd' --mime --options x=1", 2,
       "velko: import --mime takes no --options\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const CommandRun run = Velko("import " + c.arguments);
    EXPECT_EQ(run.exit, c.exit);
    EXPECT_EQ(run.out, "");
    // A usage failure shows the usage after its line.
    EXPECT_EQ(run.err.substr(0, run.err.find('\n') + 1), c.err);
    if (c.exit == 1) {
      EXPECT_EQ(run.err, c.err);
    } else {
      EXPECT_NE(run.err.find("velko import FILE -o OUT.cd [--options \"PROPS\"] [--mime]\n"),
                std::string::npos);
    }
    EXPECT_TRUE(NoOutputFile());
  }
}

} // namespace
