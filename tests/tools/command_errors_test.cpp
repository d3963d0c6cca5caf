// Failures of the velko command: each exits 1 with exactly one line on
// stderr that names the file, note, item or record, what is wrong, and the
// status text or the system's reason, with the library's messages on the
// same line and no log line beside it (the command runs without
// VELKO_LOG_FILE, so the log would reach stderr). Inputs that cannot be
// read or are no regular file or too large, outputs that cannot be
// written, databases that cannot be used (each cause), records longer than
// the loader takes, and memory that runs out during the work.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/host_testing.h"
#include "host/nsfnote.h"
#include "tests/support/note_fixture.h"
#include "tests/support/bytes_support.h"
#include "cdbuild/cd_script.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

void Replace(std::string* text, const std::string& from, const std::string& to) {
  for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size()))
    text->replace(at, from.size(), to);
}

/* The user and group a test run as root drops to, so that file
 * permissions hold for the command as for any user. */
constexpr uid_t kNobody = 65534;

struct RunResult {
  int exit = -1;
  std::string out;
  std::string err;
};

/* Runs a velko program with the arguments (shell words) and the
 * environment assignments, without VELKO_LOG_FILE; stdout and stderr go to
 * files beside prefix. Unprivileged: as the user nobody when the test runs
 * as root. */
RunResult RunVelko(const std::string& program, const std::string& arguments, const std::string& prefix,
             bool unprivileged = false, const std::string& environment = "") {
  const std::string outPath = prefix + "stdout";
  const std::string errPath = prefix + "stderr";
  const std::string command =
      "exec env -u VELKO_LOG_FILE " + environment + " '" + program + "' " + arguments;
  const bool drop = unprivileged && geteuid() == 0;
  const pid_t child = fork();
  if (child == 0) {
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0)
      _exit(126);
    if (drop && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
      _exit(126);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  RunResult run;
  int raw = 0;
  if (child > 0 && waitpid(child, &raw, 0) == child && WIFEXITED(raw))
    run.exit = WEXITSTATUS(raw);
  run.out = ReadFile(outPath);
  run.err = ReadFile(errPath);
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  return run;
}

/* The lines of a text, without their line breaks. */
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);)
    lines.push_back(line);
  return lines;
}

/* A CD file of the script's records, or a note of the database holding
 * them as its Body. */
void BuildFile(const std::string& script, const std::string& path) {
  cdbuild::Body body;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript(script, &body, &error)) << error.message;
  ASSERT_TRUE(body.WriteFile(path));
}

std::string NoteText(NOTEID id) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(id));
  return text;
}

/* A file of the size with no bytes written (a hole). */
void MakeSparseFile(const std::string& path, off_t size) {
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(file, 0);
  ASSERT_EQ(ftruncate(file, size), 0);
  close(file);
}

// A paragraph, then a graphic too short for its fixed part: the load stops
// at the graphic, record 2 at byte offset 4.
constexpr char kDamaged[] = "PARAGRAPH\nRAW sig=GRAPHIC data=0102\nPARAGRAPH\n";

// Two records, then a text of 64,508 bytes, 126 more than the loader's
// limit: at byte offset 14 of the file, and alone in the second stored item
// of a note (at offset 2, behind the type word).
const std::string kLongRecord =
    "PARAGRAPH\nTEXT text=\"ab\"\nTEXT text=\"" + std::string(64500, 'x') + "\"\nPARAGRAPH\n";

constexpr char kFine[] = "PARAGRAPH\nTEXT text=\"fine\"\n";

/* The largest input the command reads, and one byte more. */
constexpr off_t kLargestInput = off_t{1} << 30;

TEST(VelkoCommandErrors, EachFailureIsOneLineNamingWhatIsWrongWithTheStatusText) {
  HostTestReset();
  const std::string prefix = bytes_test::TempPath("errors_");
  const std::string dir = prefix + "dir";
  const std::string readonly = prefix + "readonly";
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(readonly.c_str(), 0555), 0);
  ::chmod(readonly.c_str(), 0555); // whatever the umask left
  const std::string damaged = prefix + "damaged.cd";
  const std::string fine = prefix + "fine.cd";
  const std::string script = prefix + "fine.cdscript";
  const std::string longFile = prefix + "long.cd";
  const std::string huge = prefix + "huge.cd";
  const std::string big = prefix + "big.cd";
  const std::string fifo = prefix + "fifo";
  BuildFile(kDamaged, damaged);
  BuildFile(kFine, fine);
  BuildFile(kLongRecord, longFile);
  WriteFile(script, kFine);
  // A record of 70,000 bytes: no stored item can hold it.
  cdbuild::Body hugeBody;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript("PARAGRAPH", &hugeBody, &error));
  hugeBody.Add(cdbuild::SizedAs(CD_HEADER_LSIG, SIG_CD_GRAPHIC, 70000, cdbuild::Fill::kPattern));
  ASSERT_TRUE(hugeBody.WriteFile(huge));
  MakeSparseFile(big, kLargestInput + 1);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

  // A note whose Body spans two stored items; the second is damaged after
  // its first record, so the damaged record is the body's fourth. A second
  // note holds the long record.
  const std::string db = prefix + "notes.nsf";
  DBHANDLE handle = NULLHANDLE;
  ASSERT_EQ(note_testing::CreateDatabase(db.c_str(), &handle), NOERROR);
  cdbuild::Body twoItems;
  ASSERT_TRUE(cdbuild::BuildScript("PARAGRAPH\nTEXT text=\"kept\"\n", &twoItems, &error));
  twoItems.NewItem();
  ASSERT_TRUE(cdbuild::BuildScript(kDamaged, &twoItems, &error));
  const NOTEID id = note_testing::StoreNoteWith(
      handle, [&](NOTEHANDLE note) { return twoItems.AppendItems(note, "Body"); });
  ASSERT_NE(id, 0u);
  cdbuild::Body longBody;
  ASSERT_TRUE(cdbuild::BuildScript(kLongRecord, &longBody, &error));
  const NOTEID longID = note_testing::StoreNoteWith(
      handle, [&](NOTEHANDLE note) { return longBody.AppendItems(note, "Body"); });
  ASSERT_NE(longID, 0u);
  NSFDbClose(handle);
  HostTestReset();

  // Databases that cannot be used, one for each cause.
  const std::string empty = prefix + "empty.nsf";
  const std::string noise = prefix + "noise.nsf";
  const std::string truncated = prefix + "truncated.nsf";
  const std::string unreadable = prefix + "unreadable.nsf";
  WriteFile(empty, "");
  std::string bytes(4096, '\0');
  for (size_t at = 0; at < bytes.size(); ++at)
    bytes[at] = static_cast<char>(at * 37 + 11);
  WriteFile(noise, bytes);
  const std::string stored = ReadFile(db);
  ASSERT_GT(stored.size(), 65536u);
  WriteFile(truncated, stored.substr(0, stored.size() / 2));
  WriteFile(unreadable, stored);
  ASSERT_EQ(::chmod(unreadable.c_str(), 0), 0);

  const std::string out = prefix + "out.html";
  const std::string tooLong(300, 'n');
  const std::string unusable = "velko: cannot connect item \"Body\" of note 0x4 in ";
  const std::string storageError =
      ": status 12565 (Database storage error); TARNO: Unable to open database.";
  const std::string tooLongRecord = " is 64508 bytes, longer than the limit of 64382 bytes";
  const std::string notRegular = ": cannot read the CD file: it is not a regular file but ";
  const std::string tooLarge = " bytes, more than the 1073741824 bytes the command reads";
  const struct {
    std::string arguments;
    std::string line;
    bool unprivileged;
  } cases[] = {
      // Scripts and outputs: the system's reason.
      {"build {dir} -o {out}", "velko: {dir}: cannot read the script: it is a directory", false},
      {"build {prefix}missing -o {out}",
       "velko: {prefix}missing: cannot read the script: No such file or directory", false},
      {"build /proc/self/mem -o {out}",
       "velko: /proc/self/mem: cannot read the script: Input/output error", false},
      {"build /dev/zero -o {out}",
       "velko: /dev/zero: cannot read the script: it is not a regular file but a character device",
       false},
      {"build {big} -o {out}", "velko: {big}: cannot read the script: it is 1073741825" + tooLarge,
       false},
      {"build {script} -o {prefix}no/dir.cd",
       "velko: {prefix}no/dir.cd: cannot write the CD file: No such file or directory", false},
      {"build {script} -o {readonly}/out.cd",
       "velko: {readonly}/out.cd: cannot write the CD file: Permission denied", true},
      {"render {fine} -o {readonly}/out.html",
       "velko: {readonly}/out.html: cannot write the output: Permission denied", true},
      // CD files: regular files of a bounded size only, never read to the end
      // of a device.
      {"dump /dev/zero", "velko: /dev/zero" + notRegular + "a character device", false},
      {"render /dev/zero", "velko: /dev/zero" + notRegular + "a character device", false},
      {"dump {fifo}", "velko: {fifo}" + notRegular + "a FIFO", false},
      {"render {dir}", "velko: {dir}: cannot read the CD file: it is a directory", false},
      {"dump {big}", "velko: {big}: cannot read the CD file: it is 1073741825" + tooLarge, false},
      // Notes and items.
      {"dump --db {db} --note {note} --item MISSING",
       "velko: {db}: note {note}: item \"MISSING\": the note has no such item: status 546 "
       "(Note item not found)",
       false},
      {"render --db {db} --note {note} --item MISSING",
       "velko: {db}: note {note}: item \"MISSING\": the note has no such item: status 546 "
       "(Note item not found)",
       false},
      {"dump --db {db} --note 0x9998",
       "velko: cannot connect item \"Body\" of note 0x9998 in {db}: status 12560 (Note not "
       "found); TARNO: Unable to find note using NoteID.",
       false},
      {"dump --db {long} --note {note}",
       "velko: cannot connect item \"Body\" of note {note} in {long}: the database path is empty "
       "or longer than 256 characters: status 20013 (Invalid database path or item name); "
       "TARNO: Invalid database name",
       false},
      {"dump --db {db} --note {note} --item {long}",
       "velko: cannot connect item \"{long}\" of note {note} in {db}: the item name is empty or "
       "longer than 256 characters: status 20013 (Invalid database path or item name)",
       false},
      // Databases that cannot be used: why, with the host's status.
      {"dump --db {empty} --note 4", unusable + "{empty}: the file is not a database" + storageError,
       false},
      {"dump --db {damaged} --note 4",
       unusable + "{damaged}: the file is not a database" + storageError, false},
      {"render --db {noise} --note 4",
       unusable + "{noise}: the file is not a database" + storageError, false},
      {"dump --db {truncated} --note 4",
       unusable + "{truncated}: the file is damaged" + storageError, false},
      {"dump --db {dir} --note 4", unusable + "{dir}: the file is a directory" + storageError,
       false},
      {"dump --db {unreadable} --note 4",
       unusable + "{unreadable}: the file cannot be read (Permission denied)" + storageError,
       true},
      // Bodies that load in part: the record, where it lies and why.
      {"dump {damaged}",
       "velko: {damaged}: item \"Body\": record 2 at byte offset 4 is damaged; the records before "
       "it are listed: status 257 (The operation failed)",
       false},
      {"render --db {db} --note {note}",
       "velko: {db}: note {note}: item \"Body\": record 4 at byte offset 4 of stored item 1 is "
       "damaged; the output holds what loaded: status 257 (The operation failed)",
       false},
      {"render {damaged} -o {out}",
       "velko: {damaged}: item \"Body\": record 2 at byte offset 4 is damaged; nothing was "
       "written to {out}: status 257 (The operation failed)",
       false},
      {"dump {longFile}",
       "velko: {longFile}: item \"Body\": record 3 at byte offset 14" + tooLongRecord +
           "; the records before it are listed: status 257 (The operation failed)",
       false},
      {"render {longFile} -o {out}",
       "velko: {longFile}: item \"Body\": record 3 at byte offset 14" + tooLongRecord +
           "; nothing was written to {out}: status 257 (The operation failed)",
       false},
      {"dump --db {db} --note {longNote}",
       "velko: {db}: note {longNote}: item \"Body\": record 3 at byte offset 2 of stored item 1" +
           tooLongRecord + "; the records before it are listed: status 257 (The operation failed)",
       false},
      {"dump {huge}",
       "velko: {huge}: item \"Body\": record 2 at byte offset 4 is 70000 bytes, longer than "
       "the limit of 64382 bytes; the records before it are listed: status 257 (The operation "
       "failed)",
       false},
  };
  for (const auto& c : cases) {
    std::string arguments = c.arguments;
    std::string expected = c.line;
    for (std::string* text : {&arguments, &expected}) {
      Replace(text, "{dir}", dir);
      Replace(text, "{readonly}", readonly);
      Replace(text, "{db}", db);
      Replace(text, "{note}", NoteText(id));
      Replace(text, "{longNote}", NoteText(longID));
      Replace(text, "{damaged}", damaged);
      Replace(text, "{fine}", fine);
      Replace(text, "{script}", script);
      Replace(text, "{longFile}", longFile);
      Replace(text, "{huge}", huge);
      Replace(text, "{big}", big);
      Replace(text, "{fifo}", fifo);
      Replace(text, "{empty}", empty);
      Replace(text, "{noise}", noise);
      Replace(text, "{truncated}", truncated);
      Replace(text, "{unreadable}", unreadable);
      Replace(text, "{out}", out);
      Replace(text, "{long}", tooLong);
      Replace(text, "{prefix}", prefix);
    }
    const RunResult run = RunVelko(VELKO_COMMAND, arguments, prefix, c.unprivileged);
    EXPECT_EQ(run.exit, 1) << c.arguments << "\n" << run.err;
    EXPECT_EQ(run.err, expected + "\n") << c.arguments;
  }
  EXPECT_FALSE(std::ifstream(out).good());
  EXPECT_FALSE(std::ifstream(readonly + "/out.cd").good());
  for (const std::string& path : {damaged, fine, script, longFile, huge, big, fifo, db, empty,
                                  noise, truncated, unreadable})
    std::remove(path.c_str());
  ::rmdir(dir.c_str());
  ::rmdir(readonly.c_str());
}

// A writer that holds its lock for longer than the host waits (two
// seconds) keeps the command out; the line says so.
TEST(VelkoCommandErrors, ADatabaseLockedByAWriterIsReportedAsLocked) {
  HostTestReset();
  const std::string prefix = bytes_test::TempPath("locked_");
  const std::string db = prefix + "notes.nsf";
  DBHANDLE handle = NULLHANDLE;
  ASSERT_EQ(note_testing::CreateDatabase(db.c_str(), &handle), NOERROR);
  const NOTEID id = note_testing::StoreNoteWith(handle, [&](NOTEHANDLE note) {
    cdbuild::Body body;
    cdbuild::ScriptError error;
    return cdbuild::BuildScript(kFine, &body, &error) ? body.AppendItems(note, "Body")
                                                      : STATUS{1};
  });
  ASSERT_NE(id, 0u);
  NSFDbClose(handle);
  HostTestReset();

  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open_v2(db.c_str(), &writer, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(writer, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  const RunResult locked = RunVelko(VELKO_COMMAND, "dump --db '" + db + "' --note " + NoteText(id),
                              prefix);
  ASSERT_EQ(sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close_v2(writer);
  EXPECT_EQ(locked.exit, 1);
  EXPECT_EQ(locked.err, "velko: cannot connect item \"Body\" of note " + NoteText(id) + " in " +
                            db + ": the file is locked by another connection: status 12565 "
                                 "(Database storage error); TARNO: Unable to open database.\n");
  // Once the writer is gone the same command reads the note.
  const RunResult free = RunVelko(VELKO_COMMAND, "dump --db '" + db + "' --note " + NoteText(id),
                            prefix);
  EXPECT_EQ(free.exit, 0) << free.err;
  EXPECT_EQ(free.out, "1 CDPARAGRAPH length=2\n2 CDTEXT length=12 face=1 attributes=0x00 "
                      "color=0 size=10 text=\"fine\"\n");
  std::remove(db.c_str());
}

// The command built with the test controls refuses the Nth request for
// tracked memory of the work, for every N until the work succeeds: each
// failure is one line with the memory status, and none says that anything
// is damaged, neither on stderr nor in the log.
TEST(VelkoCommandErrors, MemoryThatRunsOutIsReportedAsMemoryNotAsDamage) {
  const std::string prefix = bytes_test::TempPath("memory_");
  const std::string cd = prefix + "memo.cd";
  const std::string log = prefix + "log";
  BuildFile("PABDEF id=1\nPARAGRAPH\nPABREF id=1\nTEXT text=\"one\"\nPARAGRAPH\n"
            "TEXT attributes=bold text=\"two\"\n",
            cd);
  std::set<std::string> lines;
  std::set<std::string> logLines;
  for (const char* command : {"dump", "render"}) {
    int failures = 0;
    int nth = 1;
    for (; nth < 400; ++nth) {
      SCOPED_TRACE(std::string(command) + " failing at " + std::to_string(nth));
      std::remove(log.c_str());
      const RunResult run = RunVelko(VELKO_TEST_COMMAND, std::string(command) + " '" + cd + "'", prefix,
                               false,
                               "VELKO_LOG_FILE='" + log + "' VELKO_TEST_FAIL_MEMORY_AT=" +
                                   std::to_string(nth));
      for (const std::string& line : Lines(ReadFile(log)))
        logLines.insert(line.substr(line.find(' ', line.find(' ') + 1) + 1)); // no time stamp
      if (run.exit == 0)
        break;
      ++failures;
      EXPECT_EQ(run.exit, 1);
      const std::vector<std::string> err = Lines(run.err);
      ASSERT_EQ(err.size(), 1u) << run.err;
      EXPECT_EQ(err[0].find("damaged"), std::string::npos) << err[0];
      EXPECT_NE(err[0].find(": status 263 (Insufficient memory)"), std::string::npos) << err[0];
      lines.insert(err[0]);
    }
    EXPECT_LT(nth, 400) << command << " never succeeded";
    EXPECT_GE(failures, 2) << command;
  }
  EXPECT_TRUE(lines.count("velko: " + cd + ": item \"Body\": memory ran out loading record 1 at "
                          "byte offset 2; the records before it are listed: status 263 "
                          "(Insufficient memory); Harrowmint: Memory allocation error"))
      << ::testing::PrintToString(lines);
  // Render refuses a body that memory cut short (its answer would pass for
  // whole), so the load's account is the command's line, not a render's.
  EXPECT_TRUE(lines.count("velko: " + cd + ": item \"Body\": memory ran out loading record 1 at "
                          "byte offset 2; the output holds what loaded: status 263 "
                          "(Insufficient memory); Harrowmint: Memory allocation error"))
      << ::testing::PrintToString(lines);
  for (const std::string& line : logLines)
    EXPECT_EQ(line.find("damaged"), std::string::npos) << line;
  std::remove(cd.c_str());
  std::remove(log.c_str());
}

} // namespace
