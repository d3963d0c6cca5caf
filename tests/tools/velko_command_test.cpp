// The velko command run as a process: build and dump with their exact
// output, dump of a database file's item, and the exit statuses and
// messages of failures and unusable command lines.
#include <gmock/gmock.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "host/host_testing.h"
#include "host/nsfnote.h"
#include "host/osenv.h"
#include "host/status.h"
#include "tests/support/note_fixture.h"
#include "tests/support/bytes_support.h"
#include "cdbuild/cd_script.h"

namespace {

struct Result {
  int exit = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

/* "velko: PATH: cannot read the CD file: status N (TEXT)\n" */
std::string CannotRead(const std::string& path, STATUS status) {
  char text[256] = {};
  OSLoadString(NULLHANDLE, status, text, sizeof text);
  return "velko: " + path + ": cannot read the CD file: status " + std::to_string(status) + " (" +
         text + ")\n";
}

constexpr char kMemo[] = R"(# a memo with a pass-through part and a field
PABDEF id=1 ext=1440,0,1440,0,0,100
PARAGRAPH
PABREF id=1
TEXT attributes=bold size=12 text="Hello"
HTMLBEGIN
TEXT text="<i>x</i>"
HTMLEND
FIELD name="Subject"
)";

constexpr char kMemoListing[] =
    "1 CDPABDEFINITION length=82 id=1 justify=left left=1440 right=0 firstline=1440 "
    "ext=1440,0,1440,0,0,100\n"
    "2 CDPARAGRAPH length=2\n"
    "3 CDPABREFERENCE length=4 id=1\n"
    "4 CDTEXT length=13 face=1 attributes=0x01 color=0 size=12 text=\"Hello\"\n"
    "5 CDHTMLBEGIN length=8\n"
    "6 CDTEXT length=16 face=1 attributes=0x00 color=0 size=10 text=\"<i>x</i>\"\n"
    "7 CDHTMLEND length=8\n"
    "8 CDFIELD length=47 name=\"Subject\" type=0x0500\n";

class VelkoCommandTest : public ::testing::Test {
protected:
  void SetUp() override {
    prefix_ = bytes_test::TempPath(
        std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_");
    log_ = Path("log");
  }
  void TearDown() override {
    for (const std::string& path : made_)
      std::remove(path.c_str());
  }

  std::string Path(const std::string& name) {
    made_.push_back(prefix_ + name);
    return made_.back();
  }

  /* Runs the command with the arguments (a shell word list); log lines go
   * to a file of their own so that stderr holds the command's texts only.
   * The shell's words before the command (a limit, a trap) go first. */
  Result Velko(const std::string& arguments, const std::string& shell = "") {
    const std::string out = Path("stdout");
    const std::string err = Path("stderr");
    const std::string command = shell + "VELKO_LOG_FILE='" + log_ + "' '" + VELKO_COMMAND + "' " +
                                arguments + " >'" + out + "' 2>'" + err + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(out), ReadFile(err)};
  }

  /* A new database file at the path holding one note that fill (a
   * STATUS of the note handle) makes; its note ID, 0 when it could not be
   * stored. The host starts afresh around it. */
  template <typename Fill> NOTEID StoreInDatabaseFile(const std::string& database, Fill fill) {
    HostTestReset();
    DBHANDLE db = NULLHANDLE;
    EXPECT_EQ(note_testing::CreateDatabase(database.c_str(), &db), NOERROR);
    const NOTEID id = note_testing::StoreNoteWith(db, fill);
    NSFDbClose(db);
    HostTestReset();
    return id;
  }

  /* A CD file built by the command from the script. */
  std::string Build(const std::string& script, const std::string& name) {
    const std::string path = Path(name + ".cdscript");
    std::ofstream(path, std::ios::binary) << script;
    const std::string cd = Path(name + ".cd");
    EXPECT_EQ(Velko("build '" + path + "' -o '" + cd + "'").exit, 0);
    return cd;
  }

  std::string prefix_;
  std::string log_;
  std::vector<std::string> made_;
};

TEST_F(VelkoCommandTest, BuildWritesTheScriptsRecordsAndDumpListsThem) {
  const std::string script = Path("memo.cdscript");
  std::ofstream(script, std::ios::binary) << kMemo;
  const std::string cd = Path("memo.cd");
  Result result = Velko("build -o '" + cd + "' '" + script + "'");
  EXPECT_EQ(result.exit, 0) << result.err;
  EXPECT_EQ(result.out, cd + ": 8 records, 184 bytes\n");
  EXPECT_EQ(result.err, "");
  cdbuild::Body body;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript(kMemo, &body, &error));
  const bytes_test::Bytes expected = body.FileContent();
  EXPECT_EQ(ReadFile(cd), std::string(expected.begin(), expected.end()));
  result = Velko("dump '" + cd + "'");
  EXPECT_EQ(result.exit, 0) << result.err;
  EXPECT_EQ(result.out, kMemoListing);
  EXPECT_EQ(result.err, "");

  std::ofstream(script, std::ios::binary) << "PARAGRAPH\nFOO x=1\n";
  const std::string bad = Path("bad.cd");
  result = Velko("build '" + script + "' -o '" + bad + "'");
  EXPECT_EQ(result.exit, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, script + ":2: unknown record kind 'FOO'\n");
  EXPECT_FALSE(std::ifstream(bad).good());
  const std::string missing = Path("missing.cdscript");
  result = Velko("build '" + missing + "' -o '" + bad + "'");
  EXPECT_EQ(result.exit, 1);
  EXPECT_EQ(result.err, "velko: " + missing + ": cannot read the script: No such file or directory\n");
  EXPECT_EQ(Velko("build '" + script + "' -o '" + Path("no/dir.cd") + "'").exit, 1);
}

TEST_F(VelkoCommandTest, DumpShowsEachKindsMainFields) {
  const std::string cd = Build(R"(PABDEF id=2 justify=center left=720 right=360 firstline=0 spacing=1 before=2 after=3 tabs=720,-10 flags=0x100 tabtypes=2 flags2=0x494 ext=1,2,3,4,5,6 flags3=7
BEGIN sig=CDTEXT
END sig=0xFF85 version=2
PRETABLEBEGIN flags=4 name="grid"
TABLEBEGIN left=10 hspace=1 vspace=2 flags=3
TABLECELL row=1 column=2 rowspan=2 colspan=3 borders=0x55 flags=2 background=7
TABLEEND
TABLEBEGIN nested=yes
TABLECELL nested=yes
TABLEEND nested=yes
FIELD name="N" description="about" type=0x0300 flags=0x80
COLOR rgb=0x102030
HOTSPOTBEGIN type=1 flags=0x10 data="http://x\0"
HOTSPOTEND
HOTSPOTBEGIN sig=V4HOTSPOTBEGIN type=4
HOTSPOTEND sig=V4HOTSPOTEND
LINK id=3
TEXT text="\"q\"\\\n"
RAW sig=0xFF42 data=01
)",
                               "kinds");
  const Result result = Velko("dump '" + cd + "'");
  EXPECT_EQ(result.exit, 0) << result.err;
  EXPECT_EQ(result.out,
            "1 CDPABDEFINITION length=90 id=2 justify=center left=720 right=360 firstline=0 "
            "spacing=1 before=2 after=3 tabs=720,-10 flags=0x0100 tabtypes=0x00000002 "
            "flags2=0x0494 ext=1,2,3,4,5,6 extflags=0x00000001 flags3=0x00000007\n"
            "2 CDBEGIN length=6 sig=CDTEXT\n"
            "3 CDEND length=6 sig=CDTEXT version=2\n"
            "4 CDPRETABLEBEGIN length=52 flags=0x00000004 name=\"grid\"\n"
            "5 CDTABLEBEGIN length=14 left=10 hspace=1 vspace=2 flags=0x0003\n"
            "6 CDTABLECELL length=18 row=1 column=2 left=2880 right=4320 rowspan=2 colspan=3 "
            "borders=0x55 flags=0x02 background=7\n"
            "7 CDTABLEEND length=8\n"
            "8 CDNESTEDTABLEBEGIN length=14 left=0\n"
            "9 CDNESTEDTABLECELL length=18 row=0 column=0 left=0 right=1440\n"
            "10 CDNESTEDTABLEEND length=8\n"
            "11 CDFIELD length=46 name=\"N\" type=0x0300 flags=0x0080 description=\"about\"\n"
            "12 CDCOLOR length=8 rgb=0x102030 flags=0x0001\n"
            "13 CDHOTSPOTBEGIN length=25 type=1 flags=0x00000010 data=\"http://x\\x00\"\n"
            "14 CDHOTSPOTEND length=2\n"
            "15 CDV4HOTSPOTBEGIN length=16 type=4\n"
            "16 CDV4HOTSPOTEND length=2\n"
            "17 CDLINK length=6 id=3\n"
            "18 CDTEXT length=13 face=1 attributes=0x00 color=0 size=10 text=\"\\\"q\\\"\\\\\\n\"\n"
            "19 0xFF42 length=5\n");
}

TEST_F(VelkoCommandTest, DumpReadsAnItemOfADatabaseFile) {
  const std::string database = Path("notes.nsf");
  cdbuild::Body body;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript(kMemo, &body, &error));
  body.NewItem(); // the records of a second item continue the ordinals
  ASSERT_TRUE(cdbuild::BuildScript("PARAGRAPH", &body, &error));
  const NOTEID id = StoreInDatabaseFile(database, [&](NOTEHANDLE note) {
    const STATUS status = body.AppendItems(note, "Body");
    return status != NOERROR ? status : body.AppendItems(note, "Other");
  });
  ASSERT_NE(id, 0u);

  char hexID[16];
  std::snprintf(hexID, sizeof hexID, "0x%X", id);
  const std::string expected = std::string(kMemoListing) + "9 CDPARAGRAPH length=2\n";
  Result result = Velko("dump --db '" + database + "' --note " + hexID);
  EXPECT_EQ(result.exit, 0) << result.err;
  EXPECT_EQ(result.out, expected);
  result = Velko("dump --db '" + database + "' --note " + std::to_string(id) + " --item Other");
  EXPECT_EQ(result.exit, 0) << result.err;
  EXPECT_EQ(result.out, expected);
  result = Velko("dump --db '" + database + "' --note 0x9998");
  EXPECT_EQ(result.exit, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_THAT(result.err, ::testing::StartsWith("velko: cannot connect item \"Body\" of note "
                                                "0x9998 in " + database + ": status "));
}

TEST_F(VelkoCommandTest, DumpReportsWhatItCannotReadAndListsWhatLoaded) {
  const std::string text = Path("text.cd");
  std::ofstream(text) << "hello";
  const std::string missing = Path("missing.cd");
  const Result notCd = Velko("dump '" + text + "'");
  EXPECT_EQ(notCd.exit, 1);
  EXPECT_EQ(notCd.out, "");
  EXPECT_EQ(notCd.err, CannotRead(text, ERR_HOST_BAD_CD_FILE));
  // A text record that claims more bytes than the file holds.
  const std::string damaged = Build("PARAGRAPH\nHEX 85 FF 40 00\n", "damaged");
  const Result cut = Velko("dump '" + damaged + "'");
  EXPECT_EQ(cut.exit, 1);
  EXPECT_EQ(cut.out, "1 CDPARAGRAPH length=2\n");
  EXPECT_THAT(cut.err, ::testing::EndsWith(": record 2 at byte offset 4 is damaged; the records "
                                           "before it are listed: status 257 (The operation "
                                           "failed)\n"));
  // A file that is not there is named with the system's reason.
  const Result absent = Velko("dump '" + missing + "'");
  EXPECT_EQ(absent.exit, 1);
  EXPECT_EQ(absent.err, "velko: " + missing + ": cannot read the CD file: No such file or directory\n");
  // A graphic shorter than its fixed part cannot be converted.
  const Result result =
      Velko("dump '" + Build("PARAGRAPH\nRAW sig=GRAPHIC data=0102\nPARAGRAPH\n", "short") + "'");
  EXPECT_EQ(result.exit, 1);
  EXPECT_EQ(result.out, "1 CDPARAGRAPH length=2\n");
  char status[256] = {};
  OSLoadString(NULLHANDLE, 257, status, sizeof status);
  EXPECT_THAT(result.err, ::testing::EndsWith(": record 2 at byte offset 4 is damaged; the records "
                                              "before it are listed: status 257 (" +
                                              std::string(status) + ")\n"));
}

TEST_F(VelkoCommandTest, RenderWritesTheSameOutputToAFileAsToStdoutAndReportsWhatStopsIt) {
  const std::string cd = Build(kMemo, "memo");
  const Result printed = Velko("render '" + cd + "' --generation Fragment");
  EXPECT_EQ(printed.exit, 0) << printed.err;
  EXPECT_THAT(printed.out, ::testing::HasSubstr("Hello"));
  const std::string html = Path("memo.html");
  const Result written = Velko("render '" + cd + "' --generation Fragment -o '" + html + "'");
  EXPECT_EQ(written.exit, 0) << written.err;
  EXPECT_EQ(written.out, html + ": " + std::to_string(printed.out.size()) + " bytes\n");
  EXPECT_EQ(ReadFile(html), printed.out);

  const Result definition = Velko("render '" + cd + "' --chunk 'Bogus 1'");
  EXPECT_EQ(definition.exit, 1);
  EXPECT_EQ(definition.out, "");
  EXPECT_EQ(definition.err, "velko: the chunk definition \"Bogus 1\" does not parse\n");
  const std::string database = Path("missing.nsf");
  const Result missing = Velko("render --db '" + database + "' --note 4");
  EXPECT_EQ(missing.exit, 1);
  EXPECT_EQ(missing.out, "");
  // The status word and its text, then what the library told the user, on
  // the same line.
  char text[256] = {};
  OSLoadString(NULLHANDLE, ERR_HOST_DB_NOT_FOUND, text, sizeof text);
  EXPECT_EQ(missing.err, "velko: cannot connect item \"Body\" of note 0x4 in " + database +
                             ": status " + std::to_string(ERR_HOST_DB_NOT_FOUND) + " (" + text +
                             "); TARNO: Unable to open database.\n");
}

TEST_F(VelkoCommandTest, UnusableCommandLinesShowTheUsage) {
  const struct {
    const char* arguments;
    const char* first_line;
  } cases[] = {
      {"", "usage: velko build SCRIPT -o FILE.cd"},
      {"frobnicate", "velko: unknown command 'frobnicate'"},
      {"build x.cdscript", "velko: build needs one SCRIPT and -o FILE.cd"},
      {"build x --db y -o z", "velko: build does not take --db"},
      {"build x -o", "velko: option '-o' needs a value"},
      {"dump --bogus", "velko: unknown option '--bogus'"},
      {"dump", "velko: name one FILE.cd, or --db DBFILE --note NOTEID"},
      {"dump a.cd -o out", "velko: dump does not take -o"},
      {"dump --note 0x10", "velko: --db needs a database file and --note a note ID"},
      {"dump --db x.nsf --note 12q", "velko: --db needs a database file and --note a note ID"},
      {"dump --db x.nsf --note 0x100000000",
       "velko: --db needs a database file and --note a note ID"},
      {"dump a.cd --db x.nsf --note 4", "velko: name either a CD file or --db, not both"},
      {"render a.cd --generation PDF", "velko: --generation is one of HTML, XHTML, Fragment, Text"},
      {"render a.cd --chunk 'Table 1' --chunk 'Table 2'",
       "velko: option '--chunk' is given more than once"},
      {"render a.cd --mime -o x.eml --mime", "velko: option '--mime' is given more than once"},
  };
  for (const auto& c : cases) {
    const Result result = Velko(c.arguments);
    EXPECT_EQ(result.exit, 2) << c.arguments;
    EXPECT_EQ(result.out, "") << c.arguments;
    EXPECT_EQ(result.err.substr(0, result.err.find('\n')), c.first_line) << c.arguments;
    EXPECT_THAT(result.err, ::testing::HasSubstr("usage: velko build SCRIPT -o FILE.cd\n"))
        << c.arguments;
  }
  const Result help = Velko("--help");
  EXPECT_EQ(help.exit, 0);
  EXPECT_THAT(help.out, ::testing::StartsWith("usage: velko build SCRIPT -o FILE.cd\n"));
}

} // namespace

namespace {

/* A CD file of exactly `size` bytes: the type word, text records of the
 * padding's length, and a last text record of `last` bytes (odd: its pad
 * byte is left out, as the last record of a value may leave it). */
std::string CdFileOfSize(size_t size, size_t last) {
  std::string file("\x01\x00", 2);
  auto text = [](size_t length) {
    std::string record("\x85\xFF", 2);
    record += static_cast<char>(length & 0xFF);
    record += static_cast<char>(length >> 8);
    record += std::string("\x01\x00\x00\x0A", 4); // face 1, 10 points
    record += std::string(length - 8, 'a');
    return record;
  };
  while (file.size() + 4000 + last < size)
    file += text(4000);
  const size_t filler = size - file.size() - last;
  if (filler > 0)
    file += text(filler);
  file += text(last);
  return file;
}

} // namespace

// A CD file is read where it lies, mapped into memory, unless the byte
// behind it would lie past the mapping's last page: then it is read into
// memory. Either way the same records come out, the last one without its
// pad byte included.
TEST_F(VelkoCommandTest, CdFilesOfEveryLengthAgainstThePageLoadTheSameRecords) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  for (const size_t size : {page - 1, page, page + 1, 2 * page, 2 * page + 3}) {
    SCOPED_TRACE(size);
    const size_t last = size % 2 == 1 ? 9 : 10;
    const std::string content = CdFileOfSize(size, last);
    ASSERT_EQ(content.size(), size);
    const std::string path = Path(std::to_string(size) + ".cd");
    std::ofstream(path, std::ios::binary) << content;
    const Result result = Velko("dump '" + path + "'");
    EXPECT_EQ(result.exit, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const std::string lastLine = "CDTEXT length=" + std::to_string(last) +
                                 " face=1 attributes=0x00 color=0 size=10 text=\"" +
                                 std::string(last - 8, 'a') + "\"\n";
    EXPECT_THAT(result.out, ::testing::EndsWith(lastLine));
  }
}

// velko render --mime: the item written as a MIME message with its
// images, and the command lines and files it refuses.
namespace {

using ::testing::HasSubstr;

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

/* Text and one GIF. */
constexpr char kPicture[] = R"(PARAGRAPH
PABDEF id=1
PABREF id=1
TEXT text="A picture: "
BEGIN sig=CDGRAPHIC
GRAPHIC
IMAGEHEADER type=1 width=1 height=1 segments=1
IMAGESEGMENT data=47494638396101000100800000000000FFFFFF2C00000000010001000002024401003B
END sig=CDGRAPHIC
)";

/* The checks every message of kPicture passes: a related multipart of
 * the quoted-printable HTML and the picture under the id the HTML names. */
void ExpectPictureMessage(const std::string& message) {
  EXPECT_THAT(message, HasSubstr("MIME-Version: 1.0\r\n"));
  EXPECT_THAT(message, HasSubstr("Content-Type: multipart/related;"));
  EXPECT_THAT(message, HasSubstr("Content-Type: text/html; charset=ISO-8859-1\r\n"
                                 "Content-Transfer-Encoding: quoted-printable\r\n"));
  // The renderer's encoding: the blank before a soft line break escaped.
  EXPECT_THAT(message, HasSubstr("A picture:=20=\r\n<img src=3Dcid:_1_"));
  const size_t cid = message.find("cid:_1_");
  ASSERT_NE(cid, std::string::npos);
  const std::string id = message.substr(cid + 4, 31);
  EXPECT_THAT(message, HasSubstr("Content-Id: <" + id + ">\r\n"));
  // The GIF's bytes in base64.
  EXPECT_THAT(message, HasSubstr("R0lGODlhAQABAIAAAAAAAP///ywAAAAAAQABAAACAkQBADs="));
}

TEST_F(VelkoCommandTest, RenderMimeWritesTheItemOfACdFileAsAMessage) {
  const std::string cd = Build(kPicture, "picture");
  const std::string eml = Path("picture.eml");
  const Result result = Velko("render '" + cd + "' --mime -o '" + eml + "'");
  EXPECT_EQ(result.exit, 0) << result.err;
  const std::string message = ReadFile(eml);
  EXPECT_EQ(result.out, eml + ": " + std::to_string(message.size()) + " bytes\n");
  EXPECT_EQ(result.err, "");
  ExpectPictureMessage(message);
}

TEST_F(VelkoCommandTest, RenderMimeWritesTheItemOfADatabaseAsAMessage) {
  const std::string database = Path("notes.nsf");
  cdbuild::Body body;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript(kPicture, &body, &error));
  const NOTEID id = StoreInDatabaseFile(
      database, [&](NOTEHANDLE note) { return body.AppendItems(note, "Memo"); });
  ASSERT_NE(id, 0u);

  const std::string eml = Path("memo.eml");
  const Result result = Velko("render --db '" + database + "' --note " + std::to_string(id) +
                              " --item Memo --mime -o '" + eml + "'");
  EXPECT_EQ(result.exit, 0) << result.err;
  ExpectPictureMessage(ReadFile(eml));
}

TEST_F(VelkoCommandTest, RenderMimeLeavesNoFileWhenItCannotWriteOrUse) {
  const std::string cd = Build(kPicture, "picture");
  const std::string eml = Path("missing-directory/picture.eml");
  const Result unwritable = Velko("render '" + cd + "' --mime -o '" + eml + "'");
  EXPECT_EQ(unwritable.exit, 1);
  EXPECT_EQ(unwritable.out, "");
  EXPECT_THAT(unwritable.err, ::testing::StartsWith("velko: " + cd + ": item \"Body\": the MIME "
                                                    "export to " + eml + " failed: status 1028"));
  EXPECT_FALSE(Exists(eml));

  // A body that loads only in part writes nothing.
  const std::string damaged = Build("PARAGRAPH\nHEX 85 FF 40 00\n", "damaged");
  const std::string cut = Path("damaged.eml");
  const Result partial = Velko("render '" + damaged + "' --mime -o '" + cut + "'");
  EXPECT_EQ(partial.exit, 1);
  EXPECT_THAT(partial.err, HasSubstr("is damaged"));
  EXPECT_FALSE(Exists(cut));

  const struct {
    const char* arguments;
    const char* first_line;
  } usages[] = {
      {" --mime", "velko: --mime needs -o OUT.eml"},
      {" --mime --chunk 'Table 1' -o x.eml",
       "velko: --mime exports the whole item; it does not take --chunk"},
      {" --mime --generation Text -o x.eml", "velko: --mime takes --generation HTML or XHTML"},
      {" --mime --generation Fragment -o x.eml", "velko: --mime takes --generation HTML or XHTML"},
  };
  for (const auto& usage : usages) {
    const Result result = Velko("render '" + cd + "'" + usage.arguments);
    EXPECT_EQ(result.exit, 2) << usage.arguments;
    EXPECT_EQ(result.err.substr(0, result.err.find('\n')), usage.first_line);
    EXPECT_THAT(result.err, HasSubstr("--mime\n"));
  }
}

} // namespace

// Where -o points: never at the input, which stays as it was; a file is
// written whole or not at all, through links, keeping its mode; a device
// or a FIFO is written in place.
namespace {

bool IsFifo(const std::string& path) {
  struct stat info = {};
  return lstat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
}

/* The names of the directory's entries. */
std::vector<std::string> Entries(const std::string& directory) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(directory.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..")
        names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

/* A script of many text runs: every output made of it is some kilobytes. */
std::string LongScript() {
  std::string script = "PARAGRAPH\n";
  for (int run = 0; run < 100; ++run)
    script += "TEXT text=\"run " + std::to_string(run) + " of the long script\"\n";
  return script;
}

} // namespace

TEST_F(VelkoCommandTest, AnOutputThatNamesTheInputIsRefusedAndTheInputKept) {
  const std::string script = Path("memo.cdscript");
  std::ofstream(script, std::ios::binary) << kMemo;
  const std::string cd = Build(kMemo, "memo");
  const std::string link = Path("link.cd");
  ASSERT_EQ(symlink(cd.c_str(), link.c_str()), 0);
  const std::string html = Path("page.html");
  std::ofstream(html, std::ios::binary) << "<p>Hello</p>";
  const struct {
    std::string arguments;
    std::string input;
    std::string output;
  } cases[] = {
      {"build '" + script + "' -o '" + script + "'", script, script},
      {"render '" + cd + "' -o '" + link + "'", cd, link},
      {"render '" + cd + "' --mime -o '" + cd + "'", cd, cd},
      {"render --db '" + cd + "' --note 4 -o '" + cd + "'", cd, cd},
      {"import '" + html + "' -o '" + html + "'", html, html},
      {"import '" + html + "' --mime -o '" + html + "'", html, html},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const std::string before = ReadFile(c.input);
    const Result result = Velko(c.arguments);
    EXPECT_EQ(result.exit, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.substr(0, result.err.find('\n')),
              "velko: -o " + c.output + " names the input file, which is never written");
    EXPECT_EQ(ReadFile(c.input), before);
  }
}

TEST_F(VelkoCommandTest, AWriteThatFailsLeavesTheEarlierOutputAndNoTemporaryFile) {
  const std::string script = Path("long.cdscript");
  std::ofstream(script, std::ios::binary) << LongScript();
  const std::string cd = Build(LongScript(), "long");
  const std::string html = Path("long.html");
  {
    std::ofstream page(html, std::ios::binary);
    for (int line = 0; line < 100; ++line)
      page << "<p>line " << line << " of the long page</p>\n";
  }
  const std::string dir = prefix_ + "outputs";
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  const std::string out = Path("outputs/out");
  const std::string link = Path("outputs/link");
  // Files of at most 512 bytes: every output here is longer, so its
  // write fails part way with "File too large".
  const std::string limited = "trap '' XFSZ; ulimit -f 1; ";
  const struct {
    std::string arguments;
    std::string line;
  } cases[] = {
      {"build '" + script + "' -o '" + out + "'",
       "velko: " + out + ": cannot write the CD file: File too large"},
      {"render '" + cd + "' -o '" + out + "'",
       "velko: " + out + ": cannot write the output: File too large"},
      {"render '" + cd + "' --mime -o '" + out + "'",
       "velko: " + cd + ": item \"Body\": the MIME export to " + out + " failed: status 1028"},
      {"import '" + html + "' -o '" + out + "'",
       "velko: " + out + ": cannot write the CD file: File too large"},
  };
  std::ofstream(out, std::ios::binary) << "earlier";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const Result result = Velko(c.arguments, limited);
    EXPECT_EQ(result.exit, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_THAT(result.err, ::testing::StartsWith(c.line));
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
    EXPECT_EQ(ReadFile(out), "earlier");
    EXPECT_THAT(Entries(dir), ::testing::ElementsAre("out"));
  }

  // Written whole through a link, the file keeps its mode.
  ASSERT_EQ(chmod(out.c_str(), 0600), 0);
  ASSERT_EQ(symlink(out.c_str(), link.c_str()), 0);
  const Result written = Velko("render '" + cd + "' -o '" + link + "'");
  EXPECT_EQ(written.exit, 0) << written.err;
  EXPECT_EQ(ReadFile(out), Velko("render '" + cd + "'").out);
  struct stat info = {};
  ASSERT_EQ(lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(stat(out.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_THAT(Entries(dir), ::testing::ElementsAre("link", "out"));
  std::remove(link.c_str());
  std::remove(out.c_str());
  EXPECT_EQ(rmdir(dir.c_str()), 0);
}

// A new output file has mode 0666 less what the umask of the command's
// process forbids, as any file it made would.
TEST_F(VelkoCommandTest, ANewOutputFileHasTheModeTheUmaskAllows) {
  const std::string script = Path("memo.cdscript");
  std::ofstream(script, std::ios::binary) << kMemo;
  const std::string cd = Build(kMemo, "memo");
  const std::string html = Path("page.html");
  std::ofstream(html, std::ios::binary) << "<p>Hello</p>";
  const std::string out = Path("out");
  const struct {
    const char* umask;
    mode_t mode;
  } masks[] = {{"027", 0640}, {"077", 0600}, {"002", 0664}, {"0", 0666}};
  for (const auto& m : masks) {
    for (const std::string& arguments :
         {"build '" + script + "'", "render '" + cd + "'", "render '" + cd + "' --mime",
          "import '" + html + "'"}) {
      SCOPED_TRACE(arguments + " under umask " + m.umask);
      std::remove(out.c_str());
      const Result result =
          Velko(arguments + " -o '" + out + "'", std::string("umask ") + m.umask + "; ");
      EXPECT_EQ(result.exit, 0) << result.err;
      struct stat info = {};
      ASSERT_EQ(stat(out.c_str(), &info), 0);
      EXPECT_EQ(info.st_mode & 07777, m.mode);
    }
  }
}

TEST_F(VelkoCommandTest, AFifoOutputIsWrittenInPlace) {
  const std::string script = Path("memo.cdscript");
  std::ofstream(script, std::ios::binary) << kMemo;
  const std::string cd = Build(kPicture, "picture");
  const std::string html = Path("page.html");
  std::ofstream(html, std::ios::binary) << "<p>Hello</p>";
  const std::string fifo = Path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Held open for reading, so that the command's open does not wait; each
  // output fits in the pipe.
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const struct {
    std::string arguments;
    std::string holds;
  } cases[] = {
      {"build '" + script + "'", std::string("\x01\x00", 2)},
      {"render '" + cd + "' --generation Fragment", "A picture: "},
      {"render '" + cd + "' --mime", "MIME-Version: 1.0\r\n"},
      {"import '" + html + "'", std::string("\x01\x00", 2)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const Result result = Velko(c.arguments + " -o '" + fifo + "'");
    EXPECT_EQ(result.exit, 0) << result.err;
    std::string got;
    char buffer[4096];
    for (ssize_t n; (n = read(reader, buffer, sizeof buffer)) > 0;)
      got.append(buffer, static_cast<size_t>(n));
    EXPECT_THAT(got, HasSubstr(c.holds));
    EXPECT_TRUE(IsFifo(fifo));
  }
  close(reader);
}

TEST_F(VelkoCommandTest, AChunkThatMatchesNothingFails) {
  const std::string memo = Build(kMemo, "memo");
  const std::string empty = Build("", "empty");
  const struct {
    std::string file;
    const char* chunk;
    int exit;
  } cases[] = {
      {memo, "Table 1", 1},
      {memo, "Paragraph 7", 1},
      {memo, "Paragraph 1", 0},
      {empty, "Everything", 0},
      {empty, "Paragraph 1", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.chunk);
    const Result result =
        Velko("render '" + c.file + "' --generation Text --chunk '" + c.chunk + "'");
    EXPECT_EQ(result.exit, c.exit) << result.err;
    EXPECT_EQ(result.err, c.exit == 0 ? "" : "velko: " + c.file + ": item \"Body\": the chunk \"" +
                                             c.chunk + "\" matches nothing\n");
    EXPECT_TRUE(c.exit == 0 || result.out.empty()) << result.out;
  }
}
