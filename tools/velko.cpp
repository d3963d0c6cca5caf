/*
 * The velko command: a thin layer over the library for people at a shell.
 *
 *   velko build SCRIPT -o FILE.cd     a CD file from a record script
 *   velko dump SOURCE                 the records of a body, one a line
 *   velko render SOURCE [...]         a body rendered to HTML or text
 *   velko import FILE -o OUT.cd       a file imported as rich text
 *
 * SOURCE is a CD file (the host's file form: the type word 1, then stored
 * records), which is loaded into a note of an in-memory database as its
 * "Body", or --db DBFILE --note NOTEID [--item NAME] for an item of a
 * database file. Either way an item is connected through the class
 * interface (VelkoRTItem::Connect); dump walks the records as the store's
 * loader reads them, render defines a chunk on the item and calls
 * GenerateHTML. import appends an HTML, text or image file (or, with
 * --mime, converts an RFC 822 message) into an empty "Body" of a note in
 * memory and writes the committed body as a CD file. The command keeps no
 * state and writes nothing but its output file.
 *
 * Exit status: 0 on success; 1 when the work failed; 2 for a command line
 * that cannot be used. A failure is exactly one line on stderr that names
 * the file, note, item or record and what is wrong, with the status word
 * and its text, or the system's reason for a file that cannot be read or
 * written; the texts the library sent to the message handler meanwhile
 * follow on the same line. A database that cannot be used says why (not
 * a database, damaged, locked, a directory, cannot be read), as the host
 * found it. The library's log lines go only to the file VELKO_LOG_FILE
 * names, so that they do not repeat the failure on stderr.
 *
 * Scripts and CD files are read whole, so they must be regular files of
 * at most 1 GiB: a directory, a device or a FIFO is refused before
 * anything is read, and so is an input the command could not hold.
 *
 * A body whose load stopped short (a damaged record, one longer than a
 * record can be, memory that ran out) is still listed (dump) or rendered
 * (render) as far as it loaded, and the command fails naming the record:
 * by its byte offset in a CD file, or in its stored item of a database.
 * A partial rendering goes to stdout, where it is seen next to the
 * failure; it is not written to an -o file, which would pass for complete.
 */
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "engine/stored_items.h"
#include "export/item_export.h"
#include "host/cdrecords.h"
#include "host/mime_items.h"
#include "host/nsfdata.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/ods.h"
#include "host/osenv.h"
#include "host/oslog.h"
#include "host/status.h"
#include "store/body.h"
#include "cdbuild/cd_builder.h"
#include "cdbuild/cd_script.h"
#include "velko/velko.h"

#ifdef VELKO_TEST_CONTROLS
#include "store/tracked_memory_testing.h"
#endif

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "usage: velko build SCRIPT -o FILE.cd\n"
    "       velko dump FILE.cd\n"
    "       velko dump --db DBFILE --note NOTEID [--item NAME]\n"
    "       velko render FILE.cd|--db DBFILE --note NOTEID [--item NAME]\n"
    "                    [--chunk DEF] [--generation HTML|XHTML|Fragment|Text]\n"
    "                    [--options \"PROPS\"] [-o OUT]\n"
    "       velko render FILE.cd|--db DBFILE --note NOTEID [--item NAME] --mime\n"
    "                    [--generation HTML|XHTML] [--options \"PROPS\"] -o OUT.eml\n"

    "       velko import FILE -o OUT.cd [--options \"PROPS\"] [--mime]\n";

/* The in-memory database that a CD file is loaded into. */
constexpr char kMemoryDatabase[] = "mem:velko";
constexpr char kBodyItem[] = "Body";

/* The largest script or CD file read: far above the bodies met in
 * practice, and small enough that what the command makes of it (a CD file
 * read in place, a script's records, the record list, the output) fits in
 * memory. */
constexpr uintmax_t kLargestInput = uintmax_t{1} << 30;

/* ---- test builds ---- */

/* Only the tools tests' build of the command (velko_command_testing, with
 * the test controls) can be told to run out of memory: with
 * VELKO_TEST_FAIL_MEMORY_AT=N in the environment, the Nth request for
 * tracked memory of the work (the load that dump lists, the rendering) is
 * refused, so that the tests see what a user would when memory runs out.
 * The shipped command has no such switch. */
void RefuseMemoryForTests() {
#ifdef VELKO_TEST_CONTROLS
  if (const char* nth = std::getenv("VELKO_TEST_FAIL_MEMORY_AT"))
    VelkoTestFailTrackedAllocation(std::atoi(nth));
#endif
}

/* ---- messages and failures ---- */

std::vector<std::string> g_messages;

STATUS CaptureMessage(const char* message, WORD /*type*/) {
  g_messages.emplace_back(message != nullptr ? message : "");
  return NOERROR;
}

int Usage(const std::string& problem) {
  if (!problem.empty())
    std::fprintf(stderr, "velko: %s\n", problem.c_str());
  std::fputs(kUsage, stderr);
  return kExitUsage;
}

/* The messages the library sent, to follow a failure on its line: each
 * after "; ", once, leaving out one that only repeats the status text. */
std::string FoldedMessages(const std::string& statusText) {
  std::string folded;
  std::vector<std::string> seen;
  for (const std::string& message : g_messages) {
    if (message.empty() || message == statusText ||
        std::find(seen.begin(), seen.end(), message) != seen.end())
      continue;
    seen.push_back(message);
    folded += "; " + message;
  }
  return folded;
}

/* Writes one line on stderr: a line break inside the text (a file name
 * may hold one) is shown as a space. */
void ReportLine(std::string line) {
  std::replace_if(line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  std::fprintf(stderr, "velko: %s\n", line.c_str());
}

/* Reports a failed step: what failed, the status word and its text, and
 * the messages the library sent meanwhile. */
int Failure(const std::string& what, STATUS status) {
  char text[256] = {};
  OSLoadString(NULLHANDLE, status, text, sizeof text);
  ReportLine(what + ": status " + std::to_string(status) + " (" + text + ")" +
             FoldedMessages(text));
  return kExitFailure;
}

int Problem(const std::string& what) {
  ReportLine(what + FoldedMessages(""));
  return kExitFailure;
}

/* The system's text for an errno value. */
std::string SystemReason(int error) {
  return error != 0 ? std::strerror(error) : "the system gave no reason";
}

/* ---- inputs ---- */

const char* FileKind(mode_t mode) {
  if (S_ISCHR(mode))
    return "a character device";
  if (S_ISBLK(mode))
    return "a block device";
  if (S_ISFIFO(mode))
    return "a FIFO";
  if (S_ISSOCK(mode))
    return "a socket";
  return "a special file";
}

/* Why the input at path cannot be read whole, or empty when it can: it
 * must be a regular file of at most kLargestInput bytes. Only its status
 * is looked at, so a FIFO or a device is never opened. */
std::string InputProblem(const std::string& path) {
  struct stat info = {};
  if (stat(path.c_str(), &info) != 0)
    return SystemReason(errno);
  if (S_ISDIR(info.st_mode))
    return "it is a directory";
  if (!S_ISREG(info.st_mode))
    return std::string("it is not a regular file but ") + FileKind(info.st_mode);
  if (static_cast<uintmax_t>(info.st_size) > kLargestInput)
    return "it is " + std::to_string(info.st_size) + " bytes, more than the " +
           std::to_string(kLargestInput) + " bytes the command reads";
  return "";
}

/* Writes all the bytes to the open file and closes it (stdout is only
 * flushed); the system's reason when they cannot be written, else empty. */
std::string WriteStream(FILE* file, const void* bytes, size_t length) {
  errno = 0;
  const bool written = std::fwrite(bytes, 1, length, file) == length;
  int error = written ? 0 : errno;
  const bool closed = file == stdout ? std::fflush(file) == 0 : std::fclose(file) == 0;
  if (error == 0 && !closed)
    error = errno;
  return written && closed ? "" : SystemReason(error);
}

/* Writes the bytes to path, or to stdout when path is empty; the system's
 * reason when they cannot be written, else empty. A file is written whole
 * or not at all: the bytes go to a temporary file beside it, renamed into
 * place once written and closed, so that a failed run leaves no part of a
 * file and an earlier file as it was. A replaced file keeps its mode, a new
 * one has the mode the umask allows; a symbolic link is written through.
 * A device or a FIFO at the path (/dev/null, a pipe) is written in place,
 * as a file renamed over it would take its place. */
std::string WriteOutput(const std::string& path, const void* bytes, size_t length) {
  if (path.empty())
    return WriteStream(stdout, bytes, length);
  struct stat info = {};
  const bool exists = stat(path.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
    FILE* file = std::fopen(path.c_str(), "wb");
    return file != nullptr ? WriteStream(file, bytes, length) : SystemReason(errno);
  }
  std::string target = path;
  if (exists) {
    if (char* resolved = realpath(path.c_str(), nullptr)) {
      target = resolved;
      std::free(resolved);
    }
  }
  // The kernel gives the new file the mode the umask allows, as for any
  // file the command makes; a replaced file's mode is given to it instead.
  std::string temporary = TemporaryPatternBeside(target);
  const int descriptor = CreateUniqueFile(&temporary);
  if (descriptor < 0)
    return SystemReason(errno);
  const bool moded = !exists || fchmod(descriptor, info.st_mode & 0777) == 0;
  FILE* file = moded ? fdopen(descriptor, "wb") : nullptr;
  std::string problem;
  if (file == nullptr) {
    problem = SystemReason(errno);
    close(descriptor);
  } else {
    problem = WriteStream(file, bytes, length);
  }
  if (problem.empty() && std::rename(temporary.c_str(), target.c_str()) != 0)
    problem = SystemReason(errno);
  if (!problem.empty())
    unlink(temporary.c_str());
  return problem;
}

/* Whether the output path names the input's file (through any link). */
bool SameFile(const std::string& output, const std::string& input) {
  struct stat out = {};
  struct stat in = {};
  return !output.empty() && stat(output.c_str(), &out) == 0 && stat(input.c_str(), &in) == 0 &&
         out.st_dev == in.st_dev && out.st_ino == in.st_ino;
}

/* The usage failure of an -o that names the input, which the command never
 * changes. */
int OutputIsInput(const std::string& output) {
  return Usage("-o " + output + " names the input file, which is never written");
}

/* ---- command line ---- */

struct Options {
  std::vector<std::string> positional;
  std::string output;     /* -o */
  std::string database;   /* --db */
  std::string note;       /* --note */
  std::string item = kBodyItem;
  std::string chunk = "Everything";
  std::string generation = "HTML";
  std::string properties; /* --options */
  bool mime = false;      /* --mime: the item as a MIME message */
  std::vector<std::string> given; /* the options named, in order */

  bool Given(const char* option) const {
    return std::find(given.begin(), given.end(), option) != given.end();
  }
  /* The first option named that is not one of allowed, or null. */
  const std::string* Other(std::initializer_list<const char*> allowed) const {
    for (const std::string& option : given) {
      if (std::none_of(allowed.begin(), allowed.end(),
                       [&](const char* name) { return option == name; }))
        return &option;
    }
    return nullptr;
  }
};

/* Reads the arguments after the subcommand; false with the problem. */
bool ParseOptions(int argc, char** argv, Options* options, std::string* problem) {
  for (int index = 2; index < argc; ++index) {
    const std::string argument = argv[index];
    // Given twice, an option would leave the user to guess which one counts.
    if (options->Given(argument.c_str())) {
      *problem = "option '" + argument + "' is given more than once";
      return false;
    }
    if (argument == "--mime") { // a switch: it takes no value
      options->mime = true;
      options->given.push_back(argument);
      continue;
    }
    std::string* value = nullptr;
    if (argument == "-o")
      value = &options->output;
    else if (argument == "--db")
      value = &options->database;
    else if (argument == "--note")
      value = &options->note;
    else if (argument == "--item")
      value = &options->item;
    else if (argument == "--chunk")
      value = &options->chunk;
    else if (argument == "--generation")
      value = &options->generation;
    else if (argument == "--options")
      value = &options->properties;
    if (value == nullptr && argument.size() > 1 && argument[0] == '-') {
      *problem = "unknown option '" + argument + "'";
      return false;
    }
    if (value == nullptr) {
      options->positional.push_back(argument);
      continue;
    }
    if (index + 1 >= argc) {
      *problem = "option '" + argument + "' needs a value";
      return false;
    }
    *value = argv[++index];
    options->given.push_back(argument);
  }
  return true;
}

/* A note ID in decimal or 0x hex. */
bool ParseNoteID(const std::string& text, NOTEID* id) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") !=
                            std::string::npos)
    return false;
  const unsigned long long value = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
  if (digits.size() > 10 || value > 0xFFFFFFFFull)
    return false;
  *id = static_cast<NOTEID>(value);
  return true;
}

/* ---- build ---- */

/* The bytes of a regular file (InputProblem); else why they cannot be
 * read, from the system. Reading stops past kLargestInput bytes, in case
 * the file grew since it was looked at. */
std::string ReadText(const std::string& path, std::string* text) {
  if (std::string problem = InputProblem(path); !problem.empty())
    return problem;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr)
    return SystemReason(errno);
  std::string problem;
  try {
    char chunk[8192];
    size_t got = 0;
    errno = 0;
    while (text->size() <= kLargestInput && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
      text->append(chunk, got);
    if (std::ferror(file) != 0)
      problem = SystemReason(errno);
    else if (text->size() > kLargestInput)
      problem = "it grew past the " + std::to_string(kLargestInput) + " bytes the command reads";
  } catch (const std::bad_alloc&) {
    problem = "it cannot be held in memory";
  }
  std::fclose(file);
  return problem;
}

int Build(const Options& options) {
  if (const std::string* other = options.Other({"-o"}))
    return Usage("build does not take " + *other);
  if (options.positional.size() != 1 || options.output.empty())
    return Usage("build needs one SCRIPT and -o FILE.cd");
  const std::string& scriptPath = options.positional.front();
  if (SameFile(options.output, scriptPath))
    return OutputIsInput(options.output);
  std::string script;
  if (const std::string problem = ReadText(scriptPath, &script); !problem.empty())
    return Problem(scriptPath + ": cannot read the script: " + problem);
  cdbuild::Body body;
  cdbuild::ScriptError error;
  cdbuild::Bytes content;
  try {
    if (!cdbuild::BuildScript(script, &body, &error)) {
      std::fprintf(stderr, "%s:%zu: %s\n", scriptPath.c_str(), error.line, error.message.c_str());
      return kExitFailure;
    }
    content = body.FileContent();
  } catch (const std::bad_alloc&) {
    return Problem(scriptPath + ": cannot build the records: memory ran out");
  }
  if (const std::string problem = WriteOutput(options.output, content.data(), content.size());
      !problem.empty())
    return Problem(options.output + ": cannot write the CD file: " + problem);
  std::printf("%s: %zu records, %zu bytes\n", options.output.c_str(), body.records().size(),
              content.size());
  return 0;
}

/* ---- sources ---- */

/* A new note of a new database in memory; on failure reports and returns
 * the exit status. */
int CreateMemoryNote(DBHANDLE* db, NOTEHANDLE* note) {
  if (STATUS status = NSFDbCreate(kMemoryDatabase, DBCLASS_NOTEFILE, TRUE); status != NOERROR)
    return Failure("cannot create a database in memory", status);
  if (STATUS status = NSFDbOpen(kMemoryDatabase, db); status != NOERROR)
    return Failure("cannot open the database in memory", status);
  if (STATUS status = NSFNoteCreate(*db, note); status != NOERROR)
    return Failure("cannot create a note", status);
  return 0;
}

/* A session with one item connected to the source's body. */
class Source {
public:
  Source() : session_(new LSXLsiSession) { session_->InitializeTempDirectory(); }
  ~Source() {
    delete session_; // deletes the item and its chunks
    if (mapped_ != nullptr)
      munmap(mapped_, mappedSize_);
    if (note_ != NULLHANDLE)
      NSFNoteClose(note_);
    if (db_ != NULLHANDLE)
      NSFDbClose(db_);
  }
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;

  /* Connects the item; on failure reports and returns the exit status. */
  int Open(const Options& options) {
    if (options.Given("--db") || options.Given("--note") || options.Given("--item"))
      return OpenDatabase(options);
    if (options.positional.size() != 1)
      return Usage("name one FILE.cd, or --db DBFILE --note NOTEID");
    return OpenFile(options.positional.front());
  }

  LSXLsiSession* session() const { return session_; }
  VelkoRTItem* item() const { return item_; }
  /* The source and its item as failures name them: "FILE.cd: item \"Body\""
   * or "DBFILE: note 0x100: item \"NAME\"". */
  const std::string& name() const { return name_; }

  /* Where the record a load stopped at lies, as the user can find it:
   * " at byte offset X" of a CD file, " at byte offset X of stored item K"
   * of a database's item. */
  std::string Place(const load_stop& stop) const {
    if (cdFile_.empty())
      return " at byte offset " + std::to_string(stop.offset) + " of stored item " +
             std::to_string(stop.item_number);
    return " at byte offset " + std::to_string(stop.offset);
  }

  /* The item's body: for a CD file its bytes, read into one block of the
   * session and loaded where they lie; for a database's item its stored
   * items, loaded as the engine loads them. Null, after the failure's
   * line, when the body cannot be had at all; a body that loaded in part
   * says so in its load_status. */
  body_context* LoadBody(int* exit) {
    if (!cdFile_.empty() && !fileLoaded_) {
      fileLoaded_ = true;
      if ((*exit = LoadFile()) != 0)
        return nullptr;
    }
    body_context* body = ItemBody(item_);
    if (body == nullptr) // a connected item has a note and a name
      *exit = Failure(name_ + ": the body cannot be loaded", VELKO_ERR_MEMORY);
    return body;
  }

private:
  int OpenDatabase(const Options& options) {
    NOTEID id = 0;
    if (options.database.empty() || !ParseNoteID(options.note, &id))
      return Usage("--db needs a database file and --note a note ID");
    if (!options.positional.empty())
      return Usage("name either a CD file or --db, not both");
    name_ = options.database + ": note " + NoteText(id) + ": item \"" + options.item + "\"";
    return Connect(options.database, id, options.item);
  }

  /* A CD file becomes the body of an item of a note in memory: the note is
   * stored with an empty rich-text item, the item connected to it, and the
   * file's bytes loaded as the item's body when the body is asked for. */
  int OpenFile(const std::string& path) {
    if (const std::string problem = InputProblem(path); !problem.empty())
      return Problem(path + ": cannot read the CD file: " + problem);
    name_ = path + ": item \"" + kBodyItem + "\"";
    if (const int failed = CreateMemoryNote(&db_, &note_); failed != 0)
      return failed;
    if (STATUS status = NSFItemAppend(note_, 0, kBodyItem, sizeof kBodyItem - 1, TYPE_COMPOSITE,
                                      nullptr, 0);
        status != NOERROR)
      return Failure("cannot make the item", status);
    if (STATUS status = NSFNoteUpdate(note_, 0); status != NOERROR)
      return Failure("cannot store the note", status);
    cdFile_ = path;
    NOTEID id = 0;
    NSFNoteGetInfo(note_, _NOTE_ID, &id);
    return Connect(kMemoryDatabase, id, kBodyItem);
  }

  /* Loads the CD file as the body: mapped into memory where the byte
   * behind it (which the loader may use as the last record's pad byte)
   * lies in its last page, else read into one tracked block with a spare
   * byte. */
  int LoadFile() {
    const std::string& path = cdFile_;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
      return Problem(path + ": cannot read the CD file: " + SystemReason(errno));
    struct stat info = {};
    const bool sized = fstat(fileno(file), &info) == 0;
    const auto size = sized ? static_cast<uintmax_t>(info.st_size) : 0;
    if (!sized || size > kLargestInput) {
      std::fclose(file);
      return Problem(path + ": cannot read the CD file: " +
                     (sized ? "it grew past " + std::to_string(kLargestInput) + " bytes"
                            : SystemReason(errno)));
    }
    if (MapFile(fileno(file), size)) {
      std::fclose(file);
      return TakeValue(path, static_cast<char*>(mapped_), size, nullptr);
    }
    velko_allocation* block = VelkoAllocate(session_, VELKO_HERE, size + 1, 0);
    if (block == nullptr || block->data == nullptr) {
      std::fclose(file);
      VelkoDeallocate(session_, block);
      return Failure(path + ": cannot read the CD file", VELKO_ERR_MEMORY);
    }
    errno = 0;
    const size_t got = std::fread(block->data, 1, size, file);
    const int error = std::ferror(file) != 0 ? errno : 0;
    std::fclose(file);
    if (error != 0 || got != size) {
      VelkoDeallocate(session_, block);
      return Problem(path + ": cannot read the CD file: " +
                     (error != 0 ? SystemReason(error) : "it changed while it was read"));
    }
    return TakeValue(path, static_cast<char*>(block->data), size, block);
  }

  /* Maps the file's bytes, private to the command, when the byte behind
   * them lies in the mapping's last page. A file the system will not map
   * is read instead. */
  bool MapFile(int descriptor, uintmax_t size) {
    const auto page = static_cast<uintmax_t>(sysconf(_SC_PAGESIZE));
    if (size == 0 || size % page == 0)
      return false;
    // Mapped for reading, so that the pages are the file's own; a page the
    // loader writes (a pad byte that is not 0) becomes a copy of its own.
    void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, descriptor, 0);
    if (mapped == MAP_FAILED)
      return false;
    if (mprotect(mapped, size, PROT_READ | PROT_WRITE) != 0) {
      munmap(mapped, size);
      return false;
    }
    mapped_ = mapped;
    mappedSize_ = size;
    return true;
  }

  /* Checks the type word of the file's bytes (mapped, or read into the
   * block) and loads them as the body; a body that loads in part is
   * reported later with what loaded. */
  int TakeValue(const std::string& path, char* value, uintmax_t size, velko_allocation* block) {
    WORD type = 0;
    if (size >= sizeof type)
      std::memcpy(&type, value, sizeof type);
    if (type != TYPE_COMPOSITE) {
      VelkoDeallocate(session_, block);
      return Failure(path + ": cannot read the CD file", ERR_HOST_BAD_CD_FILE);
    }
    const auto length = static_cast<DWORD>(size);
    const STATUS status = block != nullptr ? StoreBodyValue(item_, block, length)
                                           : StoreBodyValueAt(item_, value, length);
    if (status != NOERROR && ItemBody(item_) == nullptr)
      return Failure(path + ": the body cannot be loaded", status);
    return 0;
  }

  static std::string NoteText(NOTEID id) {
    char note[16];
    std::snprintf(note, sizeof note, "0x%X", static_cast<unsigned>(id));
    return note;
  }

  int Connect(const std::string& database, NOTEID id, const std::string& itemName) {
    item_ = new VelkoRTItem(session_);
    const STATUS status = item_->Connect("", database.c_str(), id, itemName.c_str(), 0);
    const std::string what =
        "cannot connect item \"" + itemName + "\" of note " + NoteText(id) + " in " + database;
    // The item's own error says which name it refused; the status beside it
    // is then the note opener's answer to an empty name, which misleads.
    if (item_->own_error == VELKO_ERR_INVALID_NAME) {
      const bool path = database.empty() || database.size() > kLongestName;
      return Failure(what + (path ? ": the database path" : ": the item name") +
                         " is empty or longer than 256 characters",
                     item_->own_error);
    }
    if (status == ERR_HOST_STORAGE) {
      // The host keeps why the database could not be used.
      char cause[160] = {};
      if (NSFDbStorageFailure(cause, sizeof cause))
        return Failure(what + ": the file " + cause, status);
    }
    if (status != NOERROR)
      return Failure(what, status);
    // A missing item is left unconnected without a status.
    if (item_->IsConnected == 0)
      return Failure(name_ + ": the note has no such item", VELKO_ERR_ITEM_NOT_FOUND);
    return 0;
  }

  /* The longest database path and item name the item takes. */
  static constexpr size_t kLongestName = 256;

  LSXLsiSession* session_;
  VelkoRTItem* item_ = nullptr;
  DBHANDLE db_ = NULLHANDLE;
  NOTEHANDLE note_ = NULLHANDLE;
  std::string name_;
  /* The CD file read as the body; empty for a database's item. */
  std::string cdFile_;
  bool fileLoaded_ = false;
  /* The file's mapping, which the item's body points into. */
  void* mapped_ = nullptr;
  uintmax_t mappedSize_ = 0;
};

/* The failure of a body that loaded only in part: the loader's account
 * of where and why it stopped ("record N at byte offset X is damaged",
 * "memory ran out loading record N"), then what the command did about it.
 * Record N is the one the listing would have shown next. */
int LoadFailure(const Source& source, const body_context* body, const std::string& consequence) {
  char stopped[256] = {};
  DescribeLoadStop(body, source.Place(body->stop).c_str(), stopped, sizeof stopped);
  const std::string where = stopped[0] != '\0' ? stopped : "the body was read only in part";
  return Failure(source.name() + ": " + where + "; " + consequence, body->load_status);
}

/* ---- dump ---- */

/* Bytes as the script writes a quoted text (a NUL as \\x00, never \\0, so
 * that a digit after it cannot be misread). */
std::string Quoted(const char* data, size_t length) {
  std::string text = "\"";
  for (size_t at = 0; at < length; ++at) {
    const auto c = static_cast<unsigned char>(data[at]);
    if (c == '"' || c == '\\') {
      text += '\\';
      text += static_cast<char>(c);
    } else if (c == '\n' || c == '\r' || c == '\t') {
      text += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
    } else if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      text += escape;
    }
  }
  return text + "\"";
}

std::string SignatureText(WORD signature) {
  if (const char* name = CDSignatureName(signature))
    return name;
  char number[8];
  std::snprintf(number, sizeof number, "0x%04X", static_cast<unsigned>(signature));
  return number;
}

/* Accumulates " name=value" pieces of one listing line. */
class Line {
public:
  Line& Number(const char* name, unsigned long value) {
    return Word(name, std::to_string(value));
  }
  Line& NumberIf(const char* name, unsigned long value, unsigned long usual = 0) {
    return value != usual ? Number(name, value) : *this;
  }
  Line& Hex(const char* name, unsigned long value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*lX", digits, value);
    return Word(name, text);
  }
  Line& HexIf(const char* name, unsigned long value, int digits) {
    return value != 0 ? Hex(name, value, digits) : *this;
  }
  Line& Word(const char* name, const std::string& word) {
    text_.append(" ").append(name).append("=").append(word);
    return *this;
  }
  const std::string& text() const { return text_; }

private:
  std::string text_;
};

/* The record's fixed part as T, or null when the record is shorter.
 * Records read in place lie at even offsets only, so the fields are read
 * from an aligned copy (one per type; the command reads one record at a
 * time). With `partial`, a shorter record is copied as far as it goes and
 * the rest reads as zeros. */
template <typename T>
const T* Layout(const record_storage& node, bool partial = false) {
  static T copy;
  if (node.length < sizeof(T) && !partial)
    return nullptr;
  copy = T{};
  std::memcpy(&copy, node.data, std::min<size_t>(node.length, sizeof(T)));
  return &copy;
}

/* The bytes behind the fixed part, at most length of them. */
std::string Trailing(const record_storage& node, size_t offset, size_t length) {
  if (offset >= node.length)
    return Quoted("", 0);
  return Quoted(node.data + offset, std::min<size_t>(length, node.length - offset));
}

void TextFields(const record_storage& node, Line& line) {
  const auto* text = Layout<CDTEXT>(node);
  if (text == nullptr)
    return;
  const auto* font = reinterpret_cast<const BYTE*>(&text->FontID);
  line.Number("face", font[FONTID_FACE_BYTE])
      .Hex("attributes", font[FONTID_ATTRIBUTES_BYTE], 2)
      .Number("color", font[FONTID_COLOR_BYTE])
      .Number("size", font[FONTID_SIZE_BYTE])
      .Word("text", Trailing(node, sizeof(CDTEXT), node.length));
}

std::string Justification(WORD mode) {
  constexpr const char* kNames[] = {"left", "right", "full", "center", "none"};
  return mode < std::size(kNames) ? kNames[mode] : std::to_string(mode);
}

void PabDefFields(const record_storage& node, Line& line) {
  const auto* pab = Layout<CDPABDEFINITION>(node);
  if (pab == nullptr)
    return;
  line.Number("id", pab->PABID)
      .Word("justify", Justification(pab->JustifyMode))
      .Number("left", pab->LeftMargin)
      .Number("right", pab->RightMargin)
      .Number("firstline", pab->FirstLineLeftMargin)
      .NumberIf("spacing", pab->LineSpacing)
      .NumberIf("before", pab->ParagraphSpacingBefore)
      .NumberIf("after", pab->ParagraphSpacingAfter);
  if (pab->Tabs > 0) {
    std::string tabs;
    for (WORD tab = 0; tab < pab->Tabs && tab < 20; ++tab)
      tabs.append(tab > 0 ? "," : "").append(std::to_string(pab->Tab[tab]));
    line.Word("tabs", tabs);
  }
  line.HexIf("flags", pab->Flags, 4).HexIf("tabtypes", pab->TabTypes, 8).HexIf("flags2",
                                                                               pab->Flags2, 4);
  const auto* ext = Layout<_CDPABDEFEXT>(node, true);
  if (node.length >= offsetof(_CDPABDEFEXT, ExtFlags)) {
    line.Word("ext", std::to_string(ext->LeftMarginOffset) + "," +
                         std::to_string(ext->LeftMarginPercent) + "," +
                         std::to_string(ext->FirstLineLeftMarginOffset) + "," +
                         std::to_string(ext->FirstLineLeftMarginPercent) + "," +
                         std::to_string(ext->RightMarginOffset) + "," +
                         std::to_string(ext->RightMarginPercent));
  }
  if (node.length >= offsetof(_CDPABDEFEXT, Flags3))
    line.Hex("extflags", ext->ExtFlags, 8);
  if (node.length >= sizeof(_CDPABDEFEXT))
    line.Hex("flags3", ext->Flags3, 8);
}

void BracketFields(const record_storage& node, Line& line) {
  if (const auto* bracket = Layout<CDBEGINRECORD>(node)) {
    line.Word("sig", SignatureText(bracket->Signature)).NumberIf("version", bracket->Version);
  }
}

void TableBeginFields(const record_storage& node, Line& line) {
  if (const auto* table = Layout<CDTABLEBEGIN>(node)) {
    line.Number("left", table->LeftMargin)
        .NumberIf("hspace", table->HorizInterCellSpace)
        .NumberIf("vspace", table->VertInterCellSpace)
        .HexIf("flags", table->Flags, 4);
  }
}

void TableCellFields(const record_storage& node, Line& line) {
  const auto* cell = Layout<CDTABLECELL>(node);
  if (cell == nullptr)
    return;
  line.Number("row", cell->Row)
      .Number("column", cell->Column)
      .Number("left", cell->LeftMargin)
      .Number("right", cell->RightMargin)
      .NumberIf("rowspan", cell->RowSpan, 1)
      .NumberIf("colspan", cell->ColumnSpan, 1)
      .HexIf("borders", cell->BorderWidths, 2)
      .HexIf("flags", cell->Flags, 2)
      .NumberIf("background", cell->BackgroundColor);
}

void PreTableFields(const record_storage& node, Line& line) {
  const auto* pre = Layout<CDPRETABLEBEGIN>(node);
  if (pre == nullptr)
    return;
  line.HexIf("flags", pre->Flags, 8);
  if (pre->NameLength > 0)
    line.Word("name", Trailing(node, sizeof(CDPRETABLEBEGIN), pre->NameLength));
}

void FieldFields(const record_storage& node, Line& line) {
  const auto* field = Layout<CDFIELD>(node);
  if (field == nullptr)
    return;
  const size_t nameOffset =
      sizeof(CDFIELD) + size_t{field->DVLength} + field->ITLength + field->VFLength;
  line.Word("name", Trailing(node, nameOffset, field->NameLength))
      .Hex("type", field->DataType, 4)
      .HexIf("flags", field->Flags, 4);
  if (field->DescLength > 0)
    line.Word("description", Trailing(node, nameOffset + field->NameLength, field->DescLength));
}

void ColorFields(const record_storage& node, Line& line) {
  if (const auto* color = Layout<CDCOLOR>(node)) {
    const DWORD rgb = static_cast<DWORD>(color->Color.Red) << 16 |
                      static_cast<DWORD>(color->Color.Green) << 8 | color->Color.Blue;
    line.Hex("rgb", rgb, 6).Hex("flags", color->Color.Flags, 4);
  }
}

void HotspotFields(const record_storage& node, Line& line) {
  const auto* hotspot = Layout<CDHOTSPOTBEGIN>(node);
  if (hotspot == nullptr)
    return;
  line.Number("type", hotspot->Type).HexIf("flags", hotspot->Flags, 8);
  if (hotspot->DataLength > 0)
    line.Word("data", Trailing(node, sizeof(CDHOTSPOTBEGIN), hotspot->DataLength));
}

/* The main fields of a record, by its kind, named as the script names them. */
std::string MainFields(const record_storage& node) {
  Line line;
  switch (node.signature) {
  case SIG_CD_TEXT:
  case SIG_CD_BIDI_TEXT:
    TextFields(node, line);
    break;
  case SIG_CD_PABDEFINITION:
    PabDefFields(node, line);
    break;
  case SIG_CD_PABREFERENCE:
    if (const auto* reference = Layout<CDPABREFERENCE>(node))
      line.Number("id", reference->PABID);
    break;
  case SIG_CD_BEGIN:
  case SIG_CD_END:
    BracketFields(node, line);
    break;
  case SIG_CD_TABLEBEGIN:
  case SIG_CD_NESTEDTABLEBEGIN:
    TableBeginFields(node, line);
    break;
  case SIG_CD_TABLECELL:
  case SIG_CD_NESTEDTABLECELL:
    TableCellFields(node, line);
    break;
  case SIG_CD_PRETABLEBEGIN:
    PreTableFields(node, line);
    break;
  case SIG_CD_FIELD:
    FieldFields(node, line);
    break;
  case SIG_CD_COLOR:
    ColorFields(node, line);
    break;
  case SIG_CD_HOTSPOTBEGIN:
  case SIG_CD_V4HOTSPOTBEGIN:
  case SIG_CD_RESOURCELINKBEGIN:
  case SIG_CD_ALTHOTSPOTBEGIN:
    HotspotFields(node, line);
    break;
  case SIG_CD_LINK:
    if (const auto* link = Layout<CDLINK2>(node))
      line.Number("id", link->LinkID);
    break;
  default:
    break;
  }
  return line.text();
}

int Dump(const Options& options) {
  if (const std::string* other = options.Other({"--db", "--note", "--item"}))
    return Usage("dump does not take " + *other);
  Source source;
  if (const int failed = source.Open(options); failed != 0)
    return failed;
  RefuseMemoryForTests();
  int failed = 0;
  const body_context* body = source.LoadBody(&failed);
  if (body == nullptr)
    return failed;
  for (const record_storage* node = body->records; node != nullptr; node = node->next) {
    const DWORD length = node->stored_length != 0 ? node->stored_length : node->length;
    std::printf("%lu %s length=%lu%s\n", static_cast<unsigned long>(node->ordinal),
                SignatureText(node->signature).c_str(), static_cast<unsigned long>(length),
                MainFields(*node).c_str());
  }
  return body->load_status != NOERROR
             ? LoadFailure(source, body, "the records before it are listed")
             : 0;
}

/* ---- import ---- */

/* The database and note in memory that an import fills, closed when it
 * ends. */
struct memory_note {
  DBHANDLE db = NULLHANDLE;
  NOTEHANDLE note = NULLHANDLE;
  memory_note() = default;
  memory_note(const memory_note&) = delete;
  memory_note& operator=(const memory_note&) = delete;
  ~memory_note() {
    if (note != NULLHANDLE)
      NSFNoteClose(note);
    if (db != NULLHANDLE)
      NSFDbClose(db);
  }
};

/* A note in memory whose "Body" an import fills, and the session that
 * works on it (which goes, with its items, before the note is closed). */
class ImportTarget {
public:
  /* Makes the note; on failure reports and returns the exit status. */
  int Open() {
    session_.InitializeTempDirectory();
    return CreateMemoryNote(&memory_.db, &memory_.note);
  }

  /* Appends the file to a blank "Body" and commits it: an HTML file
   * (".htm", ".html") through the HTML import, any other through the file
   * import, which takes ".txt" files as text and other kinds through the
   * import filter their extension names. */
  int AppendFile(const std::string& path, const std::string& properties) {
    auto* item = new VelkoRTItem(&session_); // the session deletes it
    item->CacheRecords = 1;
    if (STATUS status = item->CreateBackend(memory_.note, kBodyItem, 1); status != NOERROR)
      return Failure("cannot make the item \"" + std::string(kBodyItem) + "\"", status);
    VelkoRTChunk* chunk = item->default_chunk;
    const std::string extension = Extension(path);
    STATUS status = NOERROR;
    if (strcasecmp(extension.c_str(), ".htm") == 0 || strcasecmp(extension.c_str(), ".html") == 0)
      status = chunk->AppendHTML("File", path.c_str(), properties.c_str());
    else
      status = chunk->AppendImportFile(path.c_str(), ImportOptions(extension, properties).c_str());
    if (status == VELKO_ERR_BAD_ARGUMENT)
      return Failure(path + ": no import takes files " +
                         (extension.empty() ? "without an extension"
                                            : "named \"" + extension + "\""),
                     status);
    if (status != NOERROR)
      return Failure(path + ": cannot import the file", status);
    if (status = item->Commit(); status != NOERROR)
      return Failure(path + ": cannot store the imported body", status);
    return 0;
  }

  /* Stores the message as MIME items of "Body" and connects them, which
   * converts them to rich text. */
  int ConvertMessage(const std::string& path) {
    std::string message;
    if (const std::string problem = ReadText(path, &message); !problem.empty())
      return Problem(path + ": cannot read the message: " + problem);
    if (STATUS status = MIMEStoreMessage(memory_.note, kBodyItem, message.data(),
                                         static_cast<DWORD>(message.size()));
        status != NOERROR)
      return Failure(path + ": cannot store the message as MIME items", status);
    auto* item = new VelkoRTItem(&session_);
    const STATUS status = item->ConnectBackend(memory_.note, kBodyItem, 0);
    if (status != NOERROR)
      return Failure(path + ": the message cannot be converted to rich text", status);
    if (item->IsConnected == 0) // the conversion's messages say why
      return Problem(path + ": the message cannot be converted to rich text");
    return 0;
  }

  /* The stored "Body" as a CD file: the type word, then the records of
   * every stored item in order. */
  STATUS CDFile(std::string* content) const {
    const WORD composite = TYPE_COMPOSITE;
    content->assign(reinterpret_cast<const char*>(&composite), sizeof composite);
    return VisitStoredItems(memory_.note, kBodyItem, [&](const stored_item_value& value) -> STATUS {
      if (value.type != TYPE_COMPOSITE || value.length < sizeof(WORD))
        return ERR_HOST_BAD_CD_FILE;
      const char* bytes = static_cast<const char*>(OSLockBlock(value.value));
      content->append(bytes + sizeof(WORD), value.length - sizeof(WORD));
      OSUnlockBlock(value.value);
      return NOERROR;
    });
  }

private:
  /* The name's extension from its last '.' after its last '/', or "". */
  static std::string Extension(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
      return "";
    return path.substr(dot);
  }

  /* The file import's options: a text file is imported as text only when
   * the options start with "Velko" and end with the extension (the
   * import reads the kind from the options' last '.'). */
  static std::string ImportOptions(const std::string& extension, const std::string& properties) {
    if (strcasecmp(extension.c_str(), ".txt") != 0)
      return properties;
    return "Velko " + (properties.empty() ? "" : properties + " ") + extension;
  }

  memory_note memory_;
  LSXLsiSession session_;
};

int Import(const Options& options) {
  if (const std::string* other = options.Other({"-o", "--options", "--mime"}))
    return Usage("import does not take " + *other);
  if (options.positional.size() != 1 || options.output.empty())
    return Usage("import needs one FILE and -o OUT.cd");
  const bool mime = options.Given("--mime");
  if (mime && options.Given("--options"))
    return Usage("import --mime takes no --options");
  const std::string& path = options.positional.front();
  if (SameFile(options.output, path))
    return OutputIsInput(options.output);
  if (const std::string problem = InputProblem(path); !problem.empty())
    return Problem(path + ": cannot read the file: " + problem);
  ImportTarget target;
  if (const int failed = target.Open(); failed != 0)
    return failed;
  const int failed = mime ? target.ConvertMessage(path) : target.AppendFile(path, options.properties);
  if (failed != 0)
    return failed;
  std::string content;
  if (const STATUS status = target.CDFile(&content); status != NOERROR)
    return Failure(path + ": the imported body cannot be read", status);
  if (const std::string problem = WriteOutput(options.output, content.data(), content.size());
      !problem.empty())
    return Problem(options.output + ": cannot write the CD file: " + problem);
  std::printf("%s: %zu bytes\n", options.output.c_str(), content.size());
  return 0;
}

/* ---- render ---- */

/* The generation name the renderer knows for each --generation word, and
 * the option that Fragment adds: a fragment is HTML without its frame. */
struct generation_choice {
  const char* word;
  const char* generation;
  const char* option;
};

constexpr generation_choice kGenerations[] = {
    {"HTML", "HTML 4.01", ""},
    {"XHTML", "XHTML 1.0", ""},
    {"Fragment", "HTML 4.01", "Generation=Fragment"},
    {"Text", "Plain Text", ""},
};

const generation_choice* FindGeneration(const std::string& word) {
  for (const generation_choice& choice : kGenerations) {
    if (word == choice.word)
      return &choice;
  }
  return nullptr;
}

/* After a rendering: when the item's body loads only in part, the
 * rendering holds what loaded. It goes to stdout, not to an -o file, and
 * the failure names the damaged record. 0 when the body loads whole. */
int ReportDamage(Source& source, const Options& options, const char* output, size_t length) {
  int exit = 0;
  const body_context* body = source.LoadBody(&exit);
  if (body == nullptr)
    return exit;
  if (body->load_status != NOERROR) {
    std::string consequence = "nothing was written to " + options.output;
    if (options.output.empty()) {
      consequence = "the output holds what loaded";
      if (output != nullptr) {
        if (const std::string problem = WriteOutput("", output, length); !problem.empty())
          consequence = "stdout cannot be written: " + problem;
      }
    }
    exit = LoadFailure(source, body, consequence);
  }
  return exit;
}

/* The whole item as a MIME message written to the -o file: the rendered
 * HTML with the images and icons it names, through SaveAsMime. A body
 * that loads only in part writes nothing. */
int RenderMime(const Options& options, const generation_choice& choice) {
  if (options.output.empty())
    return Usage("--mime needs -o OUT.eml");
  if (options.Given("--chunk"))
    return Usage("--mime exports the whole item; it does not take --chunk");
  // The message's text part is HTML: plain text or a fragment would go out
  // labelled as a whole HTML page.
  if (std::strcmp(choice.word, "HTML") != 0 && std::strcmp(choice.word, "XHTML") != 0)
    return Usage("--mime takes --generation HTML or XHTML");
  Source source;
  if (const int failed = source.Open(options); failed != 0)
    return failed;
  RefuseMemoryForTests();
  int failed = 0;
  if (source.LoadBody(&failed) == nullptr)
    return failed;
  const STATUS status = source.item()->SaveAsMime(options.output.c_str(), choice.generation,
                                                  options.properties.c_str());
  if (const int damaged = ReportDamage(source, options, nullptr, 0); damaged != 0)
    return damaged;
  if (status != NOERROR)
    return Failure(source.name() + ": the MIME export to " + options.output + " failed", status);
  struct stat info = {};
  const auto size = stat(options.output.c_str(), &info) == 0 ? static_cast<uintmax_t>(info.st_size)
                                                             : uintmax_t{0};
  std::printf("%s: %ju bytes\n", options.output.c_str(), size);
  return 0;
}

int Render(const Options& options) {
  const generation_choice* choice = FindGeneration(options.generation);
  if (choice == nullptr)
    return Usage("--generation is one of HTML, XHTML, Fragment, Text");
  const std::string& input = options.Given("--db") || options.positional.empty()
                                 ? options.database
                                 : options.positional.front();
  if (SameFile(options.output, input))
    return OutputIsInput(options.output);
  if (options.mime)
    return RenderMime(options, *choice);
  Source source;
  if (const int failed = source.Open(options); failed != 0)
    return failed;
  VelkoRTChunk* chunk = source.item()->DefineChunk(options.chunk.c_str());
  if (chunk == nullptr)
    return Problem("the chunk definition \"" + options.chunk + "\" does not parse");
  std::string properties = choice->option;
  if (!options.properties.empty())
    properties += (properties.empty() ? "" : " ") + options.properties;
  RefuseMemoryForTests();
  // The body is loaded first, so that a CD file is read straight into it;
  // a failure to load it at all is the command's.
  int failed = 0;
  const body_context* body = source.LoadBody(&failed);
  if (body == nullptr)
    return failed;
  // A chunk asked for by name that is not in the body would render as an
  // empty page; a body that loaded in part is reported as such instead.
  // The whole of an empty body is rendered as empty.
  if (options.Given("--chunk") && body->load_status == NOERROR && chunk->Exists() == 0 &&
      !(body->records == nullptr && strcasecmp(options.chunk.c_str(), "Everything") == 0))
    return Problem(source.name() + ": the chunk \"" + options.chunk + "\" matches nothing");
  char* output = chunk->GenerateHTML("", choice->generation, properties.c_str(), 0, nullptr,
                                     nullptr);
  const size_t length = source.session()->render_result_length;
  if (const int damaged = ReportDamage(source, options, output, length); damaged != 0) {
    VelkoDeallocatePtr(source.session(), output);
    return damaged;
  }
  if (output == nullptr || chunk->status != NOERROR) {
    VelkoDeallocatePtr(source.session(), output);
    const STATUS status = chunk->status != NOERROR ? chunk->status : STATUS{VELKO_ERR_MEMORY};
    return Failure(source.name() + ": rendering failed", status);
  }
  const std::string problem = WriteOutput(options.output, output, length);
  VelkoDeallocatePtr(source.session(), output);
  if (!problem.empty())
    return Problem((options.output.empty() ? std::string("stdout") : options.output) +
                   ": cannot write the output: " + problem);
  if (!options.output.empty())
    std::printf("%s: %zu bytes\n", options.output.c_str(), length);
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 2)
    return Usage("");
  const std::string command = argv[1];
  if (command == "-h" || command == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  Options options;
  std::string problem;
  if (!ParseOptions(argc, argv, &options, &problem))
    return Usage(problem);
  OSSetSignalHandler(OS_SIGNAL_MESSAGE, reinterpret_cast<void*>(&CaptureMessage));
  OSLogToStandardError(FALSE);
  try {
    if (command == "build")
      return Build(options);
    if (command == "dump")
      return Dump(options);
    if (command == "render")
      return Render(options);
    if (command == "import")
      return Import(options);
  } catch (const std::bad_alloc&) {
    return Problem("cannot go on: memory ran out");
  } catch (const std::exception& error) {
    return Problem(std::string("cannot go on: ") + error.what());
  }
  return Usage("unknown command '" + command + "'");
}
