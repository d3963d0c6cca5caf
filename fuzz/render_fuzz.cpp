/*
 * Fuzz target for rendering an arbitrary stored body under arbitrary
 * options.
 *
 * Input: byte 0 chooses the generation (bits 0-2), how many items (1 to 3)
 * the body is split into (bits 3-4), whether an output callback is
 * installed (bit 5), whether the run has an extra clause (bit 6) and
 * whether the chunk's definition is a text clause whose text is the option
 * string's start (bit 7); byte 1 chooses the chunk's definition otherwise.
 * Then the option string up to the first
 * NUL byte (at most kLargestOptions bytes are used), and behind it the
 * stored records of the body, which are stored as TYPE_COMPOSITE values of
 * "Body" on a note of a "mem:" database and rendered by GenerateHTML
 * through a connected item.
 *
 * Checked: the output's length (the session's render_result_length) stays
 * within a bound that grows with the input (the frame and its option
 * texts, and a fixed expansion for every byte and record of the body),
 * and the returned text ends with a NUL at that length; while the run
 * goes on, at every break test of the walk and every piece handed to the
 * callback, the context's held text lies inside its buffer with its
 * counters in order. Files a run writes (images, attachments) go to a
 * directory of the process's own, which the options name before anything
 * the input says and which is the sessions' temporary directory; it is
 * emptied after every run. Host memory handles must be back where they were
 * after the session is deleted. An XHTML document that rendered without a
 * failure must be well formed (libxml2's XML parser, the HTML named
 * entities made numeric first), whenever nothing but the renderer wrote
 * it: no option that is the caller's own markup (written as it stands by
 * design) occurs in the option string, none chooses another form of
 * output (a fragment, another character set, quoted-printable, NUL line
 * ends), and pass-through HTML is skipped. Option texts the renderer
 * escapes (the title, the language, the base URL, the chunk's definition
 * in the abstract) are checked with the rest. A broken invariant traps;
 * the sanitizers catch the rest.
 */
#include <ctype.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <string_view>

#include "engine/chunk_state.h"
#include "engine/driver.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/rendered_xhtml.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osenv.h"
#include "render/render_info.h"
#include "store/tracked_memory.h"
#include "tests/support/note_fixture.h"
#include "velko/status.h"

namespace {

constexpr char kDbPath[] = "mem:renderfuzz";
constexpr size_t kLargestOptions = 4096;

/* The bound on the output. The frame (document type, head, closing text)
 * and the option texts it may repeat, each of their bytes translated as
 * text is (a tab preserved as 80 "&nbsp;", 480 bytes: a title full of tabs
 * grows that much); then for every byte of the body twice the widest thing
 * one byte can become (a little more with quoted-printable line breaks),
 * and for every byte the option texts again, since a record (two bytes at
 * least) may write an option's text (a link graphic, a link text). */
constexpr size_t kFrameBytes = 64 * 1024;
constexpr size_t kBytesPerBodyByte = 1024;
constexpr size_t kOptionRepeats = 8;

size_t OutputBound(size_t optionsLength, size_t bodyLength) {
  return kFrameBytes + kOptionRepeats * optionsLength * kBytesPerBodyByte +
         bodyLength * (kBytesPerBodyByte + kOptionRepeats * optionsLength);
}

const char* const kDefinitions[] = {"Everything",
                                    "Table 1",
                                    "Table 1; Row 2; Column 3",
                                    "Text 'a' 1",
                                    "Starts With Table 1",
                                    "Field Name 'Subject' 1",
                                    "Before Hotspot 1",
                                    "Inside Section 1"};

/* Bytes of the option string that a text clause of the definition takes
 * (its apostrophes left out: they would end the clause's text). */
constexpr size_t kClauseText = 64;

std::string TextClause(std::string_view options) {
  std::string text;
  for (const char c : options.substr(0, kClauseText)) {
    if (c != '\'')
      text += c;
  }
  return "Text '" + text + "' 1";
}

/* The chunk whose rendering is under way, for the checks during the run. */
VelkoRTChunk* rendering = nullptr;

/* The held text lies inside the buffer, NUL-terminated, with the output
 * passes' counters in order behind each other. */
void CheckContext() {
  if (rendering == nullptr || rendering->internal == nullptr)
    return;
  const html_render_info* context = rendering->internal->render_context;
  if (context == nullptr || context->output_buffer == nullptr)
    return;
  check(context->output_length < context->output_capacity);
  check(context->write_ptr == context->output_buffer + context->output_length);
  check(context->output_buffer[context->output_length] == '\0');
  check(context->output_wrapped <= context->output_encoded);
  check(context->output_encoded <= context->output_translated);
  check(context->output_translated <= context->output_length);
}

WORD CheckAtBreak() {
  CheckContext();
  return 0;
}

/* The pieces handed to the output callback, in order. */
std::string pieces;

WORD CheckPiece(VelkoRTChunk*, const char* text, WORD length) {
  check(length == 0 || text != nullptr);
  CheckContext();
  if (length > 0)
    pieces.append(text, length);
  return 0;
}

/* Options whose text is written as the caller's own markup, as it stands
 * by design (the frame, the head, the body tag, the style sheet's
 * additions, the scripts' texts, the parameters of automatic links, the
 * URL directories of links, images and attachments, the open strings of
 * links and images, the attachment graphic and message), or
 * that leave a plain XHTML document (another generation or the presets
 * that choose a fragment, another character set, quoted-printable, NUL or
 * CR LF line ends), or that bring pass-through HTML back. */
const char* const kUncheckedKeys[] = {
    "Preface=",
    "Doctype=",
    "OpeningTag=",
    "HeadTag=",
    "OpeningBody=",
    "ClosingBody=",
    "ClosingTag=",
    "Postscript=",
    "AddStyleSheetInfo=",
    "OpeningGlobalStyle=",
    "SectionCSSHeader=",
    "TabbedCSSHeader=",
    "RicoHeader=",
    "ExtraURLHotspotParams=",
    "CSSTabNoSelBackgroundColor=",
    "CSSTabNoSelTextColor=",
    "CSSTabSelBackgroundColor=",
    "CSSTabSelTextColor=",
    "Generation=",
    "Ostrafine=",
    "QuilEditor=",
    "Translation=",
    "Charset=",
    "CharsetNum=",
    "ContentTransferEncoding=",
    "AddNewlines=",
    "SkipPassthru=",
    "DefaultURLDirectory=",
    "LinkURLDirectory=",
    "ImageURLDirectory=", /* and InPlaceImageURLDirectory= */
    "AttachmentURLDirectory=", /* and InPlaceAttachmentURLDirectory= */
    "BrokenLinkURL=",
    "BrokenLinkGraphic=",
    "DBLinkGraphic=",
    "ViewLinkGraphic=",
    "DoclinkGraphic=",
    "AnchorLinkGraphic=",
    "OpenDatabaseString=",
    "OpenViewString=",
    "OpenDocumentString=",
    "OpenImageResourceString=",
    "OpenElementString=",
    "ResolveWiki=",
    "AttachmentGraphic=",
    "SeeAttachedMsg=",
    "BasePathname=",
};

/* Whether the renderer alone writes the document under these options. */
bool RendererWritesAll(std::string_view options) {
  return !NamesAnyKey(options, kUncheckedKeys);
}

struct fuzz_input : options_and_body {
  const char* generation = nullptr;
  std::string definition;
  int pieces = 1;
  bool callback = false;
  bool extra = false;
  bool xhtml = false; /* the generation asked for is XHTML */
};

fuzz_input Split(const uint8_t* data, size_t size) {
  fuzz_input input;
  input.generation = kGenerations[data[0] & 7];
  input.xhtml = input.generation != nullptr && strncmp(input.generation, "XHTML", 5) == 0;
  input.pieces = 1 + (data[0] >> 3 & 3) % 3;
  input.callback = (data[0] & 0x20) != 0;
  input.extra = (data[0] & 0x40) != 0;
  static_cast<options_and_body&>(input) = SplitOptionsAndBody(data + 2, size - 2, kLargestOptions);
  input.definition = (data[0] & 0x80) != 0
                         ? TextClause(input.options)
                         : kDefinitions[data[1] % (sizeof kDefinitions / sizeof kDefinitions[0])];
  return input;
}

void Render(LSXLsiSession* session, NOTEID noteId, const fuzz_input& input) {
  auto* item = new VelkoRTItem(session); // the session deletes it
  if (item->Connect("", kDbPath, noteId, "Body", 0) != NOERROR)
    return;
  VelkoRTChunk* chunk = item->DefineChunk(input.definition.c_str());
  if (chunk == nullptr)
    chunk = item->DefineChunk("Everything");
  check(chunk != nullptr);
  rendering = chunk;
  // Pass-through HTML is the document's own markup; it is skipped where
  // the document is checked.
  const bool checked = input.xhtml && RendererWritesAll(input.options);
  const std::string options = FuzzOutputOptions() + " " +
                              (checked ? input.options + " SkipPassthru=Yes" : input.options);
  ControlBreak = CheckAtBreak;
  pieces.clear();
  char* html = chunk->GenerateHTML(input.extra ? "Table 1" : nullptr, input.generation,
                                   options.c_str(), 0, input.callback ? CheckPiece : nullptr,
                                   nullptr);
  ControlBreak = nullptr;
  rendering = nullptr;
  check(chunk->internal->render_context == nullptr);
  const DWORD length = session->render_result_length;
  check(length <= OutputBound(options.size(), input.body_length));
  if (html != nullptr) {
    check(html[length] == '\0');
    if (checked && chunk->status == NOERROR)
      check(WellFormedXhtml(pieces + std::string(html, length)));
    VelkoDeallocatePtr(session, html);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2)
    return 0;
  QuietFuzzHostInOutputDirectory();
  const DBHANDLE db = note_testing::ProcessDatabase(kDbPath);
  const size_t handles = HostTestLiveHandles();
  const fuzz_input input = Split(data, size);

  const NOTEID noteId =
      StoreFuzzNote(db, input.body, input.body_length, input.pieces, [](NOTEHANDLE) {});
  {
    auto* session = new LSXLsiSession;
    Render(session, noteId, input);
    delete session;
  }
  EmptyFuzzOutputDirectory();
  check(NSFNoteDelete(db, noteId, UPDATE_FORCE) == NOERROR);
  check(HostTestLiveHandles() == handles);
  HostTestClearLog();
  HostTestClearMessages();
  return 0;
}
