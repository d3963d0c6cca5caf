// Failures of the velko command: each exits non-zero with one line on
// stderr that names the file, note, item or record, what is wrong and the
// status text, and no log line of the library beside it (the command runs
// without VELKO_LOG_FILE, so the log would reach stderr).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
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

void Replace(std::string* text, const std::string& from, const std::string& to) {
  for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size()))
    text->replace(at, from.size(), to);
}

// A paragraph, then a graphic too short for its fixed part: the load stops
// at the graphic, record 2 at offset 4 of the first stored item.
constexpr char kDamaged[] = "PARAGRAPH\nRAW sig=GRAPHIC data=0102\nPARAGRAPH\n";

TEST(VelkoCommandErrors, EachFailureIsOneLineNamingWhatIsWrongWithTheStatusText) {
  HostTestReset();
  const std::string prefix = bytes_test::TempPath("errors_");
  const std::string dir = prefix + "dir";
  ::mkdir(dir.c_str(), 0700);
  cdbuild::Body body;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript(kDamaged, &body, &error));
  const std::string damaged = prefix + "damaged.cd";
  ASSERT_TRUE(body.WriteFile(damaged));

  // A note whose Body spans two stored items; the second is damaged after
  // its first record, so the damaged record is the body's fourth.
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
  NSFDbClose(handle);
  HostTestReset();
  char noteText[16];
  std::snprintf(noteText, sizeof noteText, "0x%X", id);

  const std::string out = prefix + "out.html";
  const std::string tooLong(300, 'n');
  const struct {
    const char* arguments;
    int exit;
    const char* line;
  } cases[] = {
      {"build {dir} -o {out}", 1, "velko: {dir}: cannot read the script: it is a directory"},
      {"dump --db {db} --note {note} --item MISSING", 1,
       "velko: {db}: note {note}: item \"MISSING\": the note has no such item: status 546 "
       "(Note item not found)"},
      {"render --db {db} --note {note} --item MISSING", 1,
       "velko: {db}: note {note}: item \"MISSING\": the note has no such item: status 546 "
       "(Note item not found)"},
      {"dump --db {long} --note {note}", 1,
       "velko: cannot connect item \"Body\" of note {note} in {long}: the database path is empty "
       "or longer than 256 characters: status 20013 (Invalid database path or item name)"},
      {"dump --db {db} --note {note} --item {long}", 1,
       "velko: cannot connect item \"{long}\" of note {note} in {db}: the item name is empty or "
       "longer than 256 characters: status 20013 (Invalid database path or item name)"},
      {"dump {damaged}", 1,
       "velko: {damaged}: item \"Body\": record 2 (offset 4 of stored item 0) is damaged; the "
       "records before it are listed: status 257 (The operation failed)"},
      {"render --db {db} --note {note}", 1,
       "velko: {db}: note {note}: item \"Body\": record 4 (offset 4 of stored item 1) is "
       "damaged; the output holds what loaded: status 257 (The operation failed)"},
      {"render {damaged} -o {out}", 1,
       "velko: {damaged}: item \"Body\": record 2 (offset 4 of stored item 0) is damaged; "
       "nothing was written to {out}: status 257 (The operation failed)"},
  };
  for (const auto& c : cases) {
    std::string arguments = c.arguments;
    std::string expected = c.line;
    for (std::string* text : {&arguments, &expected}) {
      Replace(text, "{dir}", dir);
      Replace(text, "{db}", db);
      Replace(text, "{note}", noteText);
      Replace(text, "{damaged}", damaged);
      Replace(text, "{out}", out);
      Replace(text, "{long}", tooLong);
    }
    const std::string err = prefix + "stderr";
    const std::string command = "env -u VELKO_LOG_FILE '" + std::string(VELKO_COMMAND) + "' " +
                                arguments + " >/dev/null 2>'" + err + "'";
    const int raw = std::system(command.c_str());
    const std::string text = ReadFile(err);
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.exit) << c.arguments << "\n" << text;
    EXPECT_EQ(text.substr(0, text.find('\n')), expected) << c.arguments;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
      EXPECT_EQ(line.rfind("velko: ", 0), 0u) << c.arguments << ": " << line;
  }
  EXPECT_FALSE(std::ifstream(out).good());
  for (const std::string& path : {damaged, db, prefix + "stderr"})
    std::remove(path.c_str());
  ::rmdir(dir.c_str());
}

} // namespace
