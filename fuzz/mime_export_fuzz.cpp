/*
 * Fuzz target for saving an arbitrary stored body as a MIME message
 * (VelkoRTItem::SaveAsMime) under arbitrary generations and options.
 *
 * Input: byte 0 chooses the generation (bits 0-2), where the message goes
 * (bits 3-4: 0 a memory stream, 1 an unnamed temporary file, 2 and 3 a
 * path), whether the note holds an attachment "report.txt" that a file
 * hotspot of the body may name (bit 5), and how many items (1 to 3) the
 * body is split into (bits 6-7). Byte 1 makes an allocation fail during
 * the save: below 0xC0 none; 0xC0-0xDF a tracked block, 0xE0-0xFF a host
 * block, the nth from then on (from the low five bits). Then the option
 * string up to the first NUL byte (at most kLargestOptions bytes are
 * used), and behind it the stored records of the body, stored as
 * TYPE_COMPOSITE values of "Body" on a note of a "mem:" database.
 *
 * Checked, whatever the status: the item's last_status is the status
 * returned; the sessions' temporary directory is empty and the note holds
 * the attachments it held before (no part file is left anywhere); host
 * memory handles are back where they were once the session is deleted.
 * On failure nothing was written: the caller's file is empty, and the
 * path and the directory it lies in hold nothing.
 *
 * On success the message is read by GMime; every line of it ends in CR LF
 * and is at most 998 bytes long; every line of a quoted-printable part is
 * at most 76 printable ASCII characters, every "=" of it begins an escape
 * of two hex digits or a soft break, and no line that ends the encoded
 * text's own line ends in a blank. The text/html
 * part is what GenerateHTMLToMime renders in MIME mode for the item, the
 * generation and the options the export hands on (the caller's, with
 * quoted-printable asked for unless they name a transfer encoding): byte
 * for byte as it is held when the renderer encoded it, else, decoded, the
 * rendered text with its line ends made CR LF (GMime encodes it then,
 * taking each line end for a line break of the message). The parts with a
 * Content-ID follow it in the order it names them, and the built-in icons
 * it names are among them.
 *
 * What the export reads of encoded text as the renderer hands it on (its
 * line ends, and its ids by ReadEncodedHTML and QuotedPrintableContentIDs)
 * is what plain readings of the whole text give, for the rendered HTML,
 * the option string and the body's bytes, read in pieces of a size the
 * input chooses. A broken invariant traps; the sanitizers catch the rest.
 *
 * Files the renderer writes (images, attachments) go to a directory of
 * the process's own, which the options name before anything the input
 * says; it is emptied after every run.
 */
#include <ctype.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <gmime/gmime.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "export/item_export.h"
#include "fuzz/fuzz_support.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osenv.h"
#include "store/tracked_memory.h"
#include "store/tracked_memory_testing.h"
#include "tests/support/note_fixture.h"
#include "velko/property_string.h"
#include "velko/status.h"
#include "velko/velko.h"

namespace {

namespace fs = std::filesystem;

constexpr char kDbPath[] = "mem:mimeexportfuzz";
constexpr size_t kLargestOptions = 4096;
constexpr char kAttachmentName[] = "report.txt";
constexpr size_t kLongestLine = 998;
constexpr size_t kLongestEncodedLine = 76;

enum class destination { memory, unnamed_file, path };

struct fuzz_input : options_and_body {
  const char* generation = nullptr;
  destination to = destination::memory;
  bool attachment = false;
  int pieces = 1;
  void (*fail)(int) = nullptr;
  int fail_nth = 0;
};

fuzz_input Split(const uint8_t* data, size_t size) {
  fuzz_input input;
  input.generation = kGenerations[data[0] & 7];
  const int to = data[0] >> 3 & 3;
  input.to = to == 0   ? destination::memory
             : to == 1 ? destination::unnamed_file
                       : destination::path;
  input.attachment = (data[0] & 0x20) != 0;
  input.pieces = 1 + (data[0] >> 6) % 3;
  if (data[1] >= 0xC0) {
    input.fail = data[1] >= 0xE0 ? HostTestFailAllocation : VelkoTestFailTrackedAllocation;
    input.fail_nth = 1 + 3 * (data[1] & 0x1F);
  }
  static_cast<options_and_body&>(input) = SplitOptionsAndBody(data + 2, size - 2, kLargestOptions);
  return input;
}

/* The directories of the process, made once and removed when it ends:
 * the sessions' temporary directory, the one the renderer writes its
 * files to, and the one the message's path lies in. */
struct directories {
  directories() {
    base = (fs::temp_directory_path() / "velko_mime_export_fuzz_XXXXXX").string();
    check(mkdtemp(base.data()) != nullptr);
    temp = base + "/temp";
    files = base + "/files";
    out = base + "/out";
    source = base + "/" + kAttachmentName;
    for (const std::string* dir : {&temp, &files, &out})
      check(fs::create_directory(*dir));
    std::ofstream(source, std::ios::binary) << "report body\n";
  }
  ~directories() {
    std::error_code error;
    fs::remove_all(base, error);
  }
  std::string base;
  std::string temp;
  std::string files;
  std::string out;
  std::string source; /* the attachment's bytes */
};

const directories& Directories() {
  static const directories made;
  return made;
}

bool Empty(const std::string& dir) {
  std::error_code error;
  return fs::is_empty(dir, error) && !error;
}

void EmptyDirectory(const std::string& dir) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dir, error))
    fs::remove_all(entry.path(), error);
}

std::string ReadWhole(FILE* file) {
  std::string text;
  check(fflush(file) == 0 && fseek(file, 0, SEEK_SET) == 0);
  char block[16384];
  size_t got = 0;
  while ((got = fread(block, 1, sizeof block, file)) > 0)
    text.append(block, got);
  return text;
}

/* ---- what the export hands the renderer ---- */

/* The caller's options, with quoted-printable asked for unless they name
 * a transfer encoding of their own. */
std::string RenderingOptions(const std::string& options) {
  char value[VELKO_SCRATCH_TEXT_SIZE] = {};
  if (ExtractProperty(options.c_str(), "ContentTransferEncoding=", value, sizeof value) != 0)
    return options;
  return options + (options.empty() ? "" : " ") + "ContentTransferEncoding=quoted-printable";
}

bool RenderedQuotedPrintable(const std::string& options) {
  char value[VELKO_SCRATCH_TEXT_SIZE] = {};
  return ExtractPropertyDWFlags(options.c_str(), "ContentTransferEncoding=", value, sizeof value,
                                1, 0, "quoted-printable", nullptr) != 0;
}

/* What GenerateHTMLToMime renders for the whole item in MIME mode: the
 * part file it attaches (taken off the note again), then the caller
 * buffer's text; nothing when it fails. The link icons it marks as used
 * go to used. */
std::optional<std::string> RenderedForMime(VelkoRTItem* item, const char* generation,
                                           const std::string& options,
                                           int (&used)[kLinkGraphics]) {
  VelkoRTChunk* chunk = item->DefineChunk("Everything");
  check(chunk != nullptr);
  std::vector<char> buffer(kWorkBlockSize);
  DWORD length = static_cast<DWORD>(buffer.size());
  char partName[256] = {};
  int word = 0;
  const STATUS status = chunk->GenerateHTMLToMime(
      0, 1, generation, options.c_str(), static_cast<WORD>(options.size()), buffer.data(),
      &length, 9, partName, nullptr, nullptr, nullptr, nullptr, used, &word);
  delete chunk;
  std::string html;
  if (partName[0] != '\0')
    check(ReadAttachmentData(item->note, partName, true, &html) == NOERROR);
  if (status != NOERROR)
    return std::nullopt;
  return html + std::string(buffer.data(), length);
}

/* The text with every line end that is not already a CR LF made one, as
 * GMime's line-end filter writes it. */
std::string CRLFLineEnds(std::string_view text) {
  std::string lines;
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '\n' && (at == 0 || text[at - 1] != '\r'))
      lines += '\r';
    lines += text[at];
  }
  return lines;
}

/* ---- the readers of the encoded HTML ---- */

bool HexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }


/* The sizes of the pieces the HTML is read in, as the renderer may hand
 * it on: a byte at a time, around the readers' blocks, and whole. */
constexpr size_t kPieces[] = {1, 2, 15, 16, 17, 63, 64, 65, 200, 4096, SIZE_MAX};

bool EndsID(char c) {
  return c == '"' || c == '\'' || c == '>' || c == ')' || c == ' ' || c == '\t' || c == '\r' ||
         c == '\n' || c == '\0';
}

/* The distinct ids named after "cid:" in decoded text, in order of first
 * use; the search goes on behind each id. */
std::vector<std::string> NamedIDs(std::string_view text) {
  std::vector<std::string> ids;
  for (size_t at = text.find("cid:"); at != std::string_view::npos; at = text.find("cid:", at)) {
    at += 4;
    const size_t start = at;
    while (at < text.size() && !EndsID(text[at]))
      ++at;
    const std::string id(text.substr(start, at - start));
    if (!id.empty() && std::find(ids.begin(), ids.end(), id) == ids.end())
      ids.push_back(id);
  }
  return ids;
}

std::string DecodedWhole(std::string_view encoded) {
  std::string decoded(encoded.size() + 4, '\0');
  int state = 0;
  guint32 save = 0;
  const size_t made = g_mime_encoding_quoted_decode_step(
      reinterpret_cast<const unsigned char*>(encoded.data()), encoded.size(),
      reinterpret_cast<unsigned char*>(decoded.data()), &state, &save);
  decoded.resize(made);
  return decoded;
}

/* Every "=" begins an escape of two upper-case hex digits or a soft
 * break. */
bool WellFormedEscapes(std::string_view text) {
  for (size_t at = text.find('='); at != std::string_view::npos; at = text.find('=', at + 1)) {
    if (text.compare(at, 3, "=\r\n") == 0)
      continue;
    if (at + 2 >= text.size() || !HexDigit(text[at + 1]) || !HexDigit(text[at + 2]))
      return false;
  }
  return true;
}

bool LineEndsCRLF(std::string_view text) {
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '\r' && (at + 1 == text.size() || text[at + 1] != '\n'))
      return false;
    if (text[at] == '\n' && (at == 0 || text[at - 1] != '\r'))
      return false;
  }
  return true;
}

/* What the export reads of encoded text as it is handed on, a piece of
 * the size at a time: its line ends, and, for well-formed text, the ids
 * that decoding the whole text and searching it gives; the ids that the
 * block-wise decoding finds are those, whatever the block. */
void CheckEncodedReading(std::string_view encoded, size_t piece) {
  const std::vector<std::string> named = NamedIDs(DecodedWhole(encoded));
  check(QuotedPrintableContentIDs(encoded, piece) == named);
  const encoded_html_reading read = ReadEncodedHTML(encoded, piece);
  check(read.crlf_line_ends == LineEndsCRLF(encoded));
  check(read.well_formed_ids.has_value() == WellFormedEscapes(encoded));
  if (read.well_formed_ids)
    check(*read.well_formed_ids == named);
}

/* ---- the message ---- */

/* Every line ends in CR LF and is at most kLongestLine bytes. */
void CheckLines(std::string_view message) {
  size_t start = 0;
  while (start < message.size()) {
    const size_t end = message.find_first_of("\r\n", start);
    check(end != std::string_view::npos);
    check(message.compare(end, 2, "\r\n") == 0);
    check(end - start <= kLongestLine);
    start = end + 2;
  }
}

/* Quoted-printable text as a part holds it: lines of at most
 * kLongestEncodedLine printable ASCII characters (blanks and tabs among
 * them), every "=" an escape or a soft break, and no blank before a line
 * end that is not a soft break. */
void CheckQuotedPrintable(std::string_view encoded) {
  size_t start = 0;
  while (start < encoded.size()) {
    size_t end = encoded.find("\r\n", start);
    if (end == std::string_view::npos)
      end = encoded.size();
    const std::string_view line = encoded.substr(start, end - start);
    check(line.size() <= kLongestEncodedLine);
    for (const char c : line)
      check(c == ' ' || c == '\t' || (c > ' ' && c < 0x7F));
    for (size_t at = line.find('='); at != std::string_view::npos; at = line.find('=', at + 1)) {
      if (at + 1 == line.size())
        break; // a soft break
      check(at + 2 < line.size() && HexDigit(line[at + 1]) && HexDigit(line[at + 2]));
    }
    if (!line.empty() && line.back() != '=')
      check(line.back() != ' ' && line.back() != '\t');
    start = end + 2;
  }
}

struct read_part {
  bool html = false;
  bool quoted_printable = false;
  std::string id;      /* its Content-ID */
  std::string raw;     /* as the message holds it */
  std::string decoded;
};

std::string StreamBytes(GMimeStream* stream) {
  const GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
  return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
}

void CollectLeaves(GMimeObject* object, std::vector<read_part>* parts) {
  if (GMIME_IS_MULTIPART(object)) {
    GMimeMultipart* multipart = GMIME_MULTIPART(object);
    for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
      CollectLeaves(g_mime_multipart_get_part(multipart, i), parts);
    return;
  }
  check(GMIME_IS_PART(object));
  GMimePart* part = GMIME_PART(object);
  read_part read;
  GMimeContentType* type = g_mime_object_get_content_type(object);
  read.html = g_mime_content_type_is_type(type, "text", "html");
  read.quoted_printable =
      g_mime_part_get_content_encoding(part) == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE;
  const char* id = g_mime_object_get_content_id(object);
  read.id = id != nullptr ? id : "";
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  check(content != nullptr);
  GMimeStream* decoded = g_mime_stream_mem_new();
  check(g_mime_data_wrapper_write_to_stream(content, decoded) >= 0);
  read.decoded = StreamBytes(decoded);
  g_object_unref(decoded);
  GMimeStream* held = g_mime_data_wrapper_get_stream(content);
  g_mime_stream_reset(held);
  GMimeStream* raw = g_mime_stream_mem_new();
  g_mime_stream_write_to_stream(held, raw);
  read.raw = StreamBytes(raw);
  g_object_unref(raw);
  parts->push_back(std::move(read));
}

/* The message's leaf parts as GMime reads them; nothing when it does not
 * read as a message. */
std::optional<std::vector<read_part>> ReadMessage(const std::string& text) {
  GMimeStream* stream = g_mime_stream_mem_new_with_buffer(text.data(), text.size());
  GMimeParser* parser = g_mime_parser_new_with_stream(stream);
  GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
  std::optional<std::vector<read_part>> parts;
  if (message != nullptr) {
    if (GMimeObject* root = g_mime_message_get_mime_part(message); root != nullptr) {
      parts.emplace();
      CollectLeaves(root, &*parts);
    }
    g_object_unref(message);
  }
  g_object_unref(parser);
  g_object_unref(stream);
  return parts;
}

/* The parts with a Content-ID follow the HTML in the order the HTML first
 * names their ids, each once; a built-in icon that the HTML names has its
 * part (a link icon when the renderer marked it as used). */
void CheckReferencedParts(const std::vector<read_part>& parts,
                          const std::vector<std::string>& named,
                          const int (&used)[kLinkGraphics]) {
  constexpr const char* kLinkIcons[kLinkGraphics] = {"_a_dblink", "_a_viewlink", "_a_doclink",
                                                     "_an_anchorlink"};
  auto next = named.begin();
  std::vector<std::string> ids;
  for (const read_part& part : parts) {
    if (part.id.empty())
      continue;
    next = std::find(next, named.end(), part.id);
    check(next != named.end());
    ++next;
    ids.push_back(part.id);
  }
  const auto has = [&ids](const std::string& id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
  };
  for (const std::string& id : named) {
    bool builtIn = id == "_a_collapse" || id == "_a_tabletab";
    for (int i = 0; i < kLinkGraphics; ++i)
      builtIn = builtIn || (id == kLinkIcons[i] && used[i] == 1);
    check(!builtIn || has(id));
  }
}

void CheckMessage(VelkoRTItem* item, const fuzz_input& input, const std::string& options,
                  const std::string& message) {
  CheckLines(message);
  const std::optional<std::vector<read_part>> parts = ReadMessage(message);
  check(parts.has_value());
  const read_part* html = nullptr;
  for (const read_part& part : *parts) {
    if (part.quoted_printable)
      CheckQuotedPrintable(part.raw);
    if (part.html && html == nullptr)
      html = &part;
  }
  check(html != nullptr && html->quoted_printable);
  const std::string rendering = RenderingOptions(options);
  int used[kLinkGraphics] = {};
  const std::optional<std::string> rendered =
      RenderedForMime(item, input.generation, rendering, used);
  check(rendered.has_value());
  CheckEncodedReading(*rendered, kPieces[input.body_length % std::size(kPieces)]);
  if (RenderedQuotedPrintable(rendering))
    check(html->raw == *rendered);
  else
    check(html->decoded == CRLFLineEnds(*rendered));
  CheckReferencedParts(*parts, NamedIDs(html->decoded), used);
}

void Export(LSXLsiSession* session, NOTEID noteId, const fuzz_input& input) {
  auto* item = new VelkoRTItem(session); // the session deletes it
  if (item->Connect("", kDbPath, noteId, "Body", 0) != NOERROR)
    return;
  const directories& dirs = Directories();
  const std::string options =
      "ImageDirectory=" + dirs.files + " AttachmentDirectory=" + dirs.files + " " + input.options;
  const std::string attached = note_testing::AttachedFileNames(item->note);
  const std::string path = dirs.out + "/message.eml";

  FILE* file = nullptr;
  char* memory = nullptr;
  size_t memorySize = 0;
  if (input.to == destination::memory)
    file = open_memstream(&memory, &memorySize);
  else if (input.to == destination::unnamed_file)
    file = tmpfile();
  check(input.to == destination::path || file != nullptr);

  if (input.fail != nullptr)
    input.fail(input.fail_nth);
  const STATUS status = file != nullptr
                            ? item->SaveAsMime(file, input.generation, options.c_str())
                            : item->SaveAsMime(path.c_str(), input.generation, options.c_str());
  if (input.fail != nullptr)
    input.fail(0);

  check(item->last_status == status);
  check(Empty(dirs.temp));
  check(note_testing::AttachedFileNames(item->note) == attached);
  std::string message;
  if (input.to == destination::memory) {
    check(fflush(file) == 0);
    message.assign(memory, memorySize);
    fclose(file);
    free(memory);
  } else if (input.to == destination::unnamed_file) {
    message = ReadWhole(file);
    fclose(file);
  } else if (status == NOERROR) {
    std::ifstream in(path, std::ios::binary);
    check(in.good());
    message.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (status != NOERROR) {
    check(message.empty());
    check(Empty(dirs.out));
    return;
  }
  if (input.to == destination::path) {
    // The message alone, no temporary file beside it.
    for (const auto& entry : fs::directory_iterator(dirs.out))
      check(entry.path() == path);
    fs::remove(path);
  }
  CheckMessage(item, input, options, message);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2)
    return 0;
  static const bool quiet = [] {
    QuietFuzzHost(Directories().temp.c_str());
    g_mime_init();
    return true;
  }();
  (void)quiet;
  const DBHANDLE db = note_testing::ProcessDatabase(kDbPath);
  const size_t handles = HostTestLiveHandles();
  const fuzz_input input = Split(data, size);
  // The option string and the body read as encoded text too.
  CheckEncodedReading(input.options, kPieces[data[1] % std::size(kPieces)]);
  const std::string_view body(reinterpret_cast<const char*>(input.body), input.body_length);
  CheckEncodedReading(body, kPieces[data[0] % std::size(kPieces)]);

  const NOTEID noteId =
      StoreFuzzNote(db, input.body, input.body_length, input.pieces, [&](NOTEHANDLE note) {
        if (input.attachment)
          check(NSFNoteAttachFile(note, "$FILE", 5, Directories().source.c_str(),
                                  kAttachmentName, 0) == NOERROR);
      });
  {
    auto* session = new LSXLsiSession;
    Export(session, noteId, input);
    delete session;
  }
  EmptyDirectory(Directories().files);
  EmptyDirectory(Directories().out);
  check(NSFNoteDelete(db, noteId, UPDATE_FORCE) == NOERROR);
  check(HostTestLiveHandles() == handles);
  HostTestClearLog();
  HostTestClearMessages();
  return 0;
}
