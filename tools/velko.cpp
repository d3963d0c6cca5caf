/*
 * The velko command: a thin layer over the library for people at a shell.
 *
 *   velko build SCRIPT -o FILE.cd     a CD file from a record script
 *   velko dump SOURCE                 the records of a body, one a line
 *   velko render SOURCE [...]         a body rendered to HTML or text
 *
 * SOURCE is a CD file (the host's file form: the type word 1, then stored
 * records), which is loaded into a note of an in-memory database as its
 * "Body", or --db DBFILE --note NOTEID [--item NAME] for an item of a
 * database file. Either way an item is connected through the class
 * interface (VelkoRTItem::Connect); dump walks the records as the store's
 * loader reads them, render defines a chunk on the item and calls
 * GenerateHTML. The command keeps no state and writes nothing but its
 * output file.
 *
 * Exit status: 0 on success; 1 when the work failed; 2 for a command line
 * that cannot be used. A failure is one line on stderr that names the
 * file, note, item or record and what is wrong, with the status word and
 * its text; the texts the library sent to the message handler follow it.
 * The library's log lines go only to the file VELKO_LOG_FILE names, so
 * that they do not repeat the failure on stderr.
 *
 * A body whose load stopped at a damaged record is still listed (dump) or
 * rendered (render) as far as it loaded, and the command fails naming the
 * record. A partial rendering goes to stdout, where it is seen next to the
 * failure; it is not written to an -o file, which would pass for complete.
 */
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "host/cdrecords.h"
#include "host/nsfdata.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/ods.h"
#include "host/osenv.h"
#include "host/oslog.h"
#include "store/body.h"
#include "cdbuild/cd_builder.h"
#include "cdbuild/cd_script.h"
#include "velko/velko.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "usage: velko build SCRIPT -o FILE.cd\n"
    "       velko dump FILE.cd\n"
    "       velko dump --db DBFILE --note NOTEID [--item NAME]\n"
    "       velko render FILE.cd|--db DBFILE --note NOTEID [--item NAME]\n"
    "                    [--chunk DEF] [--generation HTML|XHTML|Fragment|Text]\n"
    "                    [--options \"PROPS\"] [-o OUT]\n";

/* The in-memory database that a CD file is loaded into. */
constexpr char kMemoryDatabase[] = "mem:velko";
constexpr char kBodyItem[] = "Body";

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

/* Reports a failed step: what failed, the status word and its text, and
 * every message the library sent meanwhile. */
int Failure(const std::string& what, STATUS status) {
  char text[256] = {};
  OSLoadString(NULLHANDLE, status, text, sizeof text);
  std::fprintf(stderr, "velko: %s: status %u (%s)\n", what.c_str(), static_cast<unsigned>(status),
               text);
  for (const std::string& message : g_messages)
    std::fprintf(stderr, "velko: message: %s\n", message.c_str());
  return kExitFailure;
}

int Problem(const std::string& what) {
  std::fprintf(stderr, "velko: %s\n", what.c_str());
  for (const std::string& message : g_messages)
    std::fprintf(stderr, "velko: message: %s\n", message.c_str());
  return kExitFailure;
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

/* The file's bytes; false when it cannot be opened or read (a directory
 * opens but cannot be read). */
bool ReadText(const std::string& path, std::string* text) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr)
    return false;
  char chunk[8192];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    text->append(chunk, got);
  const bool read = std::ferror(file) == 0;
  std::fclose(file);
  return read;
}

int Build(const Options& options) {
  if (const std::string* other = options.Other({"-o"}))
    return Usage("build does not take " + *other);
  if (options.positional.size() != 1 || options.output.empty())
    return Usage("build needs one SCRIPT and -o FILE.cd");
  const std::string& scriptPath = options.positional.front();
  std::string script;
  std::error_code ignored;
  if (std::filesystem::is_directory(scriptPath, ignored))
    return Problem(scriptPath + ": cannot read the script: it is a directory");
  if (!ReadText(scriptPath, &script))
    return Problem(scriptPath + ": cannot read the script");
  cdbuild::Body body;
  cdbuild::ScriptError error;
  if (!cdbuild::BuildScript(script, &body, &error)) {
    std::fprintf(stderr, "%s:%zu: %s\n", scriptPath.c_str(), error.line, error.message.c_str());
    return kExitFailure;
  }
  if (!body.WriteFile(options.output))
    return Problem(options.output + ": cannot write the CD file");
  const size_t bytes = body.FileContent().size();
  std::printf("%s: %zu records, %zu bytes\n", options.output.c_str(), body.records().size(), bytes);
  return 0;
}

/* ---- sources ---- */

/* The records of a CD file gathered by the host's record walker. */
STATUS GatherRecord(char* record, WORD /*signature*/, DWORD length, void* context) {
  auto* body = static_cast<cdbuild::Body*>(context);
  body->Add(cdbuild::Bytes(record, record + length));
  return NOERROR;
}

/* A session with one item connected to the source's body. */
class Source {
public:
  Source() : session_(new LSXLsiSession) { session_->InitializeTempDirectory(); }
  ~Source() {
    delete session_; // deletes the item and its chunks
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

  int OpenFile(const std::string& path) {
    cdbuild::Body body;
    if (STATUS status = EnumCompositeFile(path.c_str(), GatherRecord, &body); status != NOERROR)
      return Failure(path + ": cannot read the CD file", status);
    if (STATUS status = NSFDbCreate(kMemoryDatabase, DBCLASS_NOTEFILE, TRUE); status != NOERROR)
      return Failure("cannot create a database in memory", status);
    if (STATUS status = NSFDbOpen(kMemoryDatabase, &db_); status != NOERROR)
      return Failure("cannot open the database in memory", status);
    if (STATUS status = NSFNoteCreate(db_, &note_); status != NOERROR)
      return Failure("cannot create a note", status);
    if (STATUS status = body.AppendItems(note_, kBodyItem); status != NOERROR)
      return Failure(path + ": cannot store the records as items", status);
    if (STATUS status = NSFNoteUpdate(note_, 0); status != NOERROR)
      return Failure("cannot store the note", status);
    NOTEID id = 0;
    NSFNoteGetInfo(note_, _NOTE_ID, &id);
    name_ = path + ": item \"" + kBodyItem + "\"";
    return Connect(kMemoryDatabase, id, kBodyItem);
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
};

/* Where the load of the body stopped: "record N (offset O of stored item
 * K) is damaged", from the first stored item whose records do not reach
 * its end; empty when no item shows where (an item that is not rich text
 * is not kept). Record N is the one the listing would have shown next. */
std::string DamagedRecord(const body_context* body) {
  DWORD before = 0; /* the last ordinal of the items before */
  for (const body_item* stored = body->items; stored != nullptr; stored = stored->next) {
    DWORD offset = kItemTypeWordSize;
    for (const record_storage* node = body->records; node != nullptr; node = node->next) {
      if (stored->last_ordinal != 0 && node->ordinal >= stored->first_ordinal &&
          node->ordinal <= stored->last_ordinal)
        offset += EvenLength(node->stored_length);
    }
    if (stored->buffer != nullptr && offset + 2 <= stored->length) {
      const DWORD last = stored->last_ordinal != 0 ? stored->last_ordinal : before;
      return "record " + std::to_string(last + 1) + " (offset " + std::to_string(offset) +
             " of stored item " + std::to_string(stored->item_number) + ") is damaged";
    }
    if (stored->last_ordinal != 0)
      before = stored->last_ordinal;
  }
  return "";
}

/* The failure of a body that loaded only in part. */
int LoadFailure(const Source& source, const body_context* body, const std::string& consequence) {
  const std::string where = DamagedRecord(body);
  return Failure(source.name() + ": " +
                     (where.empty() ? "the body was read only in part" : where) + "; " +
                     consequence,
                 body->load_status);
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
  VelkoRTItem* item = source.item();
  body_context* body = StoreItemsAndRecords(item, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
  if (body == nullptr)
    return Problem(source.name() + ": the body cannot be loaded");
  for (const record_storage* node = body->records; node != nullptr; node = node->next) {
    const DWORD length = node->stored_length != 0 ? node->stored_length : node->length;
    std::printf("%lu %s length=%lu%s\n", static_cast<unsigned long>(node->ordinal),
                SignatureText(node->signature).c_str(), static_cast<unsigned long>(length),
                MainFields(*node).c_str());
  }
  const int exit = body->load_status != NOERROR
                       ? LoadFailure(source, body, "the records before it are listed")
                       : 0;
  CleanupBodyContext(source.session(), body);
  delete body;
  return exit;
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

bool WriteOutput(const std::string& path, const char* text, size_t length) {
  FILE* file = path.empty() ? stdout : std::fopen(path.c_str(), "wb");
  if (file == nullptr)
    return false;
  const bool written = std::fwrite(text, 1, length, file) == length;
  const bool closed = path.empty() ? std::fflush(file) == 0 : std::fclose(file) == 0;
  return written && closed;
}

/* After a rendering: when the item's body loads only in part, the
 * rendering holds what loaded. It goes to stdout, not to an -o file, and
 * the failure names the damaged record. 0 when the body loads whole. */
int ReportDamage(const Source& source, const Options& options, const char* output,
                 size_t length) {
  body_context* body =
      StoreItemsAndRecords(source.item(), 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
  if (body == nullptr)
    return Problem(source.name() + ": the body cannot be loaded");
  int exit = 0;
  if (body->load_status != NOERROR) {
    std::string consequence = "nothing was written to " + options.output;
    if (options.output.empty()) {
      consequence = "the output holds what loaded";
      if (output != nullptr && !WriteOutput("", output, length))
        consequence = "stdout cannot be written";
    }
    exit = LoadFailure(source, body, consequence);
  }
  CleanupBodyContext(source.session(), body);
  delete body;
  return exit;
}

int Render(const Options& options) {
  const generation_choice* choice = FindGeneration(options.generation);
  if (choice == nullptr)
    return Usage("--generation is one of HTML, XHTML, Fragment, Text");
  Source source;
  if (const int failed = source.Open(options); failed != 0)
    return failed;
  VelkoRTChunk* chunk = source.item()->DefineChunk(options.chunk.c_str());
  if (chunk == nullptr)
    return Problem("the chunk definition \"" + options.chunk + "\" does not parse");
  std::string properties = choice->option;
  if (!options.properties.empty())
    properties += (properties.empty() ? "" : " ") + options.properties;
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
  const bool written = WriteOutput(options.output, output, length);
  VelkoDeallocatePtr(source.session(), output);
  if (!written)
    return Problem((options.output.empty() ? std::string("stdout") : options.output) +
                   ": cannot write the output");
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
  } catch (const std::exception& error) {
    return Problem(std::string("cannot go on: ") + error.what());
  }
  return Usage("unknown command '" + command + "'");
}
