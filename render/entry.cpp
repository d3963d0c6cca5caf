/*
 * The chunk's rendering entry points and the document frame.
 *
 * GenerateHTML returns the output as a tracked block; GenerateHTMLToMime
 * serves the item-level export (a caller buffer, a caller file, MIME part
 * files attached to the note, or the part taken in the caller's memory);
 * GenerateXML is the run both share: it reads the options, writes the
 * start of the document (document type, html tag, generator comment, an
 * open head), has the engine run the rendering action over the chunk, and
 * writes the closing text. Also the rendering
 * context's creation and release, and the source of the generator
 * comment's date and version text.
 *
 * The head is left open here: the driver's head pass completes it and
 * opens the body.
 */
#include <string.h>
#include <strings.h>
#include <time.h>
#include <unistd.h>

#include <initializer_list>
#include <new>
#include <type_traits>

#include "engine/chunk_state.h"
#include "engine/services.h"
#include "host/nls.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osenv.h"
#include "host/oslog.h"
#include "host/osmem.h"
#include "host/status.h"
#include "render/output_buffer.h"
#include "render/output_stage.h"
#include "render/paragraphs.h"
#include "render/render_info.h"
#include "render/family_renderers.h"
#include "render/run_files.h"
#include "render/table.h"
#include "render/tag_stack.h"
#include "render/text_render.h"
#include "store/body.h"
#include "store/host_release.h"
#include "store/messages.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "store/vocabulary.h"
#include "velko/property_string.h"
#include "velko/status.h"

#ifndef VELKO_VERSION_TEXT
#define VELKO_VERSION_TEXT "0.1.0"
#endif

// The context is made in place in a zeroed tracked block and released
// with it; nothing in it needs destruction.
static_assert(std::is_trivially_destructible_v<html_render_info>);

namespace {

using namespace html_flags;

constexpr const char *kHtmlDoctype =
    "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">";
constexpr const char *kXhtmlDoctype =
    "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
    "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">";
constexpr const char *kHtmlOpening = "<html lang=\"";
constexpr const char *kXhtmlOpening = "<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"";
constexpr const char *kDefaultLanguage = "en";
constexpr const char *kStyleTypeMeta =
    "<meta http-equiv=\"Content-Style-Type\" content=\"text/css\" />";
constexpr const char *kEverything = "Everything";
constexpr const char *kHeadEnd = "</head>";
/* A head option may end with "</head>"; it is cut when more is held. */
constexpr DWORD kHeadCutMinimum = 10;
constexpr const char *kPartItemName = "$FILE";
constexpr WORD kPartEncoding = 0x0900;
constexpr WORD kStatusTextSize = 1024;
constexpr size_t kPartNameNulls = 4;

const char *LibraryVersion() { return "velko " VELKO_VERSION_TEXT " rich-text renderer"; }

void LocalDate(WORD *month, WORD *day, WORD *year) {
  const time_t now = time(nullptr);
  tm local = {};
  localtime_r(&now, &local);
  *month = static_cast<WORD>(local.tm_mon + 1);
  *day = static_cast<WORD>(local.tm_mday);
  *year = static_cast<WORD>(local.tm_year + 1900);
}

render_frame_source frame_source = {LocalDate, LibraryVersion};

/* What one run is asked to do. */
struct render_request {
  int mime_mode = 0;
  const char *extra = nullptr;
  const char *generation = nullptr;
  const char *options = nullptr;
  size_t options_length = 0;
  char *buffer = nullptr;
  DWORD *capacity = nullptr;
  WORD part_number = 0;
  FILE *file = nullptr;
  const char *file_name = nullptr;
  ActOnTextCallback act_on_text = nullptr;
  QueryLinkDataCallback query_link_data = nullptr;
};

WORD GenerationOf(const char *name) {
  if (name == nullptr)
    return kGenerationHTML;
  if (strcasecmp(name, "HTML") == 0 || strncasecmp(name, "HTML 4.01", 9) == 0)
    return kGenerationHTML;
  if (strcasecmp(name, "XHTML") == 0 || strncasecmp(name, "XHTML 1.0", 9) == 0)
    return kGenerationXHTML;
  if (strcasecmp(name, "Plain Text") == 0 || strcasecmp(name, "Passthrough") == 0)
    return kGenerationText;
  return kGenerationHTML;
}

void ClearSessionResult(LSXLsiSession *session) {
  session->scratch_first[0] = '\0';
  session->result_text[0] = '\0';
  session->result_length = 0;
  session->render_result_length = 0;
}

void SetSessionResult(html_render_info *c) {
  c->session->render_result_length = c->output_length;
  c->session->result_length =
      static_cast<WORD>(c->output_length > 0xFFFF ? 0xFFFF : c->output_length);
}

/* ---- the document frame ---- */

/* The value of a frame option, read whole (frame texts may be longer than
 * the session's scratch texts) into a tracked block of its own. */
class frame_option {
public:
  frame_option(html_render_info *c, const char *key) : session_(c->session) {
    if (c->options == nullptr || c->output_status != NOERROR)
      return;
    const size_t size = strlen(c->options) + 1;
    char *value = static_cast<char *>(VelkoAllocatePtr(session_, VELKO_HERE, size, 0));
    if (value == nullptr) {
      c->output_status = VELKO_ERR_MEMORY;
      return;
    }
    if (ExtractProperty(c->options, key, value, size) != 0)
      value_ = value;
    else
      VelkoDeallocatePtr(session_, value);
  }
  ~frame_option() { VelkoDeallocatePtr(session_, value_); }
  frame_option(const frame_option &) = delete;
  frame_option &operator=(const frame_option &) = delete;

  /* The value, or null when the option is absent. */
  const char *value() const { return value_; }

private:
  LSXLsiSession *session_;
  char *value_ = nullptr;
};

/* Writes the option's value as it reads; false when the option is absent
 * (an empty value writes nothing but counts as present). */
bool WriteOption(html_render_info *c, const char *key) {
  const frame_option option(c, key);
  if (option.value() == nullptr)
    return false;
  RenderPuts(c, option.value());
  return true;
}

bool IsFragment(const html_render_info *c) { return (c->flags & Fragment) != 0; }
const char *EmptyElementEnd(const html_render_info *c) { return IsXhtml(c) ? "\" />" : "\">"; }

void WriteOpeningTag(html_render_info *c) {
  RenderPuts(c, IsXhtml(c) ? kXhtmlOpening : kHtmlOpening);
  const frame_option option(c, "LanguageAbbrev=");
  const char *language = option.value() != nullptr ? option.value() : kDefaultLanguage;
  RenderPutEscaped(c, kEscapeAttribute, language, strlen(language));
  RenderPuts(c, "\">");
  const char *version = frame_source.version();
  RenderPrintf(c, "<!-- %.63s, %.2d/%.2d/%.4d -->", version != nullptr ? version : "",
               int{c->run_month}, int{c->run_day}, int{c->run_year});
}

/* The ABSTRACT meta names the chunk: its definition and the extra one. */
void WriteAbstract(html_render_info *c, const char *definition, const char *extra) {
  const bool everything = definition == nullptr || strcmp(definition, kEverything) == 0;
  const bool hasExtra = extra != nullptr && extra[0] != '\0';
  if (everything && !hasExtra)
    return;
  RenderPuts(c, "<meta name=\"ABSTRACT\" content=\"");
  if (!everything) {
    RenderPutEscaped(c, kEscapeAttribute, definition, strlen(definition));
    if (hasExtra)
      RenderPuts(c, "; ");
  }
  if (hasExtra)
    RenderPutEscaped(c, kEscapeAttribute, extra, strlen(extra));
  RenderPuts(c, EmptyElementEnd(c));
}

void WriteHead(html_render_info *c, const char *extra) {
  RenderPuts(c, "<head><title>");
  const frame_option title(c, "Title=");
  // The title is text like the document's: a blank that ends it is kept
  // as "&nbsp;".
  if (title.value() != nullptr)
    CopyTranslatedText(c, title.value(), static_cast<DWORD>(strlen(title.value())), nullptr, 0, 0,
                       0);
  RenderPuts(c, "</title>");
  const frame_option option(c, "BaseHREF=");
  const char *base = option.value();
  if (base != nullptr && base[0] != '\0') {
    RenderPuts(c, "<base href=\"");
    RenderPutEscaped(c, kEscapeURL, base, strlen(base));
    RenderPuts(c, EmptyElementEnd(c));
  }
  if ((c->flags & StandardFontTags) == 0)
    RenderPuts(c, kStyleTypeMeta);
  WriteAbstract(c, c->chunk != nullptr ? c->chunk->definition : nullptr, extra);
}

void WriteDocumentStart(html_render_info *c, const char *extra) {
  WriteOption(c, "Preface=");
  if (c->generation == kGenerationText)
    return;
  if (!WriteOption(c, "Doctype=") && !IsFragment(c))
    RenderPuts(c, IsXhtml(c) ? kXhtmlDoctype : kHtmlDoctype);
  if (!WriteOption(c, "OpeningTag=") && !IsFragment(c))
    WriteOpeningTag(c);
  if (!WriteOption(c, "HeadTag=") && !IsFragment(c))
    WriteHead(c, extra);
  if (c->output_length > kHeadCutMinimum && RenderEndsWith(c, kHeadEnd, true))
    RenderTruncate(c, c->output_length - static_cast<DWORD>(strlen(kHeadEnd)));
}

void WriteClosingText(html_render_info *c) {
  if (c->generation != kGenerationText) {
    if (!WriteOption(c, "ClosingBody=") && !IsFragment(c))
      RenderPuts(c, "</body>");
    if (!WriteOption(c, "ClosingTag=") && !IsFragment(c))
      RenderPuts(c, "</html>");
  }
  WriteOption(c, "Postscript=");
}

/* A run in which no record reached the driver (an empty body, a chunk
 * that matches nothing) still completes the head and opens the body, as
 * the driver's head pass does before the records of any other run; else
 * the closing text would follow an open head. */
void OpenBodyOfEmptyRun(html_render_info *c) {
  if (c->generation == kGenerationText || c->head_written != 0 || c->output_status != NOERROR)
    return;
  c->first_record = nullptr;
  c->current_record = nullptr;
  c->last_record = nullptr;
  // With no record to walk, the driver can fail only in its head pass, and
  // that failure is the output's (output_status); a caller's buffer near
  // its end (263) stops a walk that has nothing left to write.
  static_cast<void>(ProcessXMLStream(c, 0, 0, 0));
}

/* ---- the run ---- */

/* The status of the load the run rendered from: 0, or why the item's body
 * stopped loading part-way (a damaged record, memory that ran out). What
 * loaded is rendered, but the run must not pass for complete: the failure
 * is logged with the load's own account of it and becomes the run's
 * status. */
STATUS IncompleteLoad(const VelkoRTChunk *chunk) {
  const VelkoRTItem *item = chunk->item;
  const body_context *input =
      item != nullptr && item->internal != nullptr ? item->internal->input : nullptr;
  if (input == nullptr || input->load_status == NOERROR)
    return NOERROR;
  DWORD loaded = 0; // the ordinal of the last record loaded
  for (const record_storage *node = input->records; node != nullptr; node = node->next)
    loaded = node->ordinal;
  char stopped[160];
  DescribeLoadStop(input, nullptr, stopped, sizeof stopped);
  AddInLogMessageText("Rich text item %s number %u: %s; only the %lu records before it were "
                      "rendered",
                      input->load_status, input->item_name != nullptr ? input->item_name : "",
                      static_cast<unsigned>(input->stop.item_number), stopped,
                      static_cast<unsigned long>(loaded));
  return input->load_status;
}

STATUS SetUp(VelkoRTChunk *chunk, html_render_info *c, const render_request &r) {
  c->session = chunk->session;
  c->text_runs = text_run_index{}; // the options may mark the records anew
  c->mime_mode = r.mime_mode != 0 ? 1 : 0;
  c->mime_part_number = r.part_number;
  c->out_file = r.file;
  c->output_nls = chunk->session->internal->nls_info;
  const bool callerBuffer = r.buffer != nullptr && r.capacity != nullptr;
  if (STATUS status =
          SetupRenderOutput(c, callerBuffer ? r.buffer : nullptr, callerBuffer ? *r.capacity : 0);
      status != NOERROR)
    return status;
  const size_t optionsLength = r.options != nullptr ? strnlen(r.options, r.options_length) : 0;
  if (optionsLength > 0) {
    c->options = VelkoAllocatePtrAndCopy(c->session, VELKO_HERE, r.options, optionsLength);
    if (c->options == nullptr)
      return c->output_status = VELKO_ERR_MEMORY;
  }
  c->generation = GenerationOf(r.generation);
  c->image_handling = kHandlingDefault;
  c->attachment_handling = kHandlingDefault;
  c->item = chunk->item;
  c->chunk = chunk;
  frame_source.date(&c->run_month, &c->run_day, &c->run_year);
  if (c->mime_mode != 0) {
    if (r.file == nullptr) {
      c->flags |= Fragment;
      c->flags2 |= html_flags2::MoveStylesInline | html_flags2::InlineCidGraphics;
    } else if (r.file_name != nullptr && stristr(r.file_name, ".eml") != nullptr) {
      c->attachment_handling = kHandlingDisk;
    }
    c->flags |= Translation;
  }
  if (STATUS status = ReadRenderingOptions(c); status != NOERROR) {
    c->output_status = status;
    return status;
  }
  return NOERROR;
}

/* A run whose output is held whole (no sink takes it as it grows) starts
 * with room for about the body's stored bytes, which the HTML of most
 * bodies comes close to, so that the buffer is not grown and copied again
 * and again. The body is loaded here for it, as the walk would load it. */
void ReserveOutputForBody(VelkoRTChunk *chunk, html_render_info *c) {
  c->body_loaded_by_run = 0;
  if (c->output_owned == 0 || RenderHasSink(c, 0))
    return;
  const bool loadedBefore = chunk->item != nullptr && chunk->item->internal != nullptr &&
                            chunk->item->internal->input != nullptr;
  const body_context *body = ItemBody(chunk->item);
  if (body == nullptr)
    return;
  c->body_loaded_by_run = loadedBefore ? 0 : 1;
  size_t stored = 0;
  for (const body_item *item = body->items; item != nullptr; item = item->next)
    stored += item->length;
  // A hint only: without the room the buffer grows as it goes.
  static_cast<void>(RenderTryGrowTo(c, stored + kInitialOutputSize));
}

STATUS Run(VelkoRTChunk *chunk, html_render_info *c, const render_request &r) {
  chunk->secondary_status = 0;
  if (r.act_on_text != nullptr)
    chunk->internal->act_on_text = r.act_on_text;
  if (r.query_link_data != nullptr)
    chunk->internal->query_link_data = r.query_link_data;
  if (SetUp(chunk, c, r) == NOERROR) {
    // Text handed to the event with no callback to take it would be lost:
    // without one, the text stays in the buffer as without the option.
    if (chunk->internal->act_on_text == nullptr)
      c->flags &= ~html_flags::OutputToEvent;
    ReserveOutputForBody(chunk, c);
    WriteDocumentStart(c, r.extra);
    if (chunk->secondary_status == NOERROR) {
      const STATUS walked = chunk->AlterRichText(ACTION_RENDER, 0, 0, 0, 0, nullptr, nullptr,
                                                 r.extra != nullptr ? r.extra : "", nullptr);
      // A walk that failed (the chunk not prepared, paired or rendered
      // whole) left part of the chunk unwritten: the output fails with it
      // rather than pass for the whole document.
      if (walked != NOERROR && c->output_status == NOERROR)
        c->output_status = walked;
    }
    OpenBodyOfEmptyRun(c);
    WriteClosingText(c);
    // The closing text follows the final flush; it goes through the
    // passes the rest went through (a quoted-printable part would be
    // invalid with it raw). A caller's file takes it through all of them
    // when the run ends.
    if (c->out_file == nullptr)
      static_cast<void>(ProcessHeldText(c));
  }
  if (c->output_buffer != nullptr)
    SetSessionResult(c);
  const STATUS status = c->output_status != NOERROR ? c->output_status : IncompleteLoad(chunk);
  if (status != NOERROR)
    chunk->status = status;
  return status;
}

/* The held text as a tracked block the caller frees: the run's own
 * buffer, cut to the text and its NUL (kept whole when it cannot be cut),
 * so that a large document is never held twice; a copy when the buffer is
 * the caller's. The context no longer holds the buffer. Null when memory
 * runs out. */
char *TakeOutput(html_render_info *c) {
  const size_t size = size_t{c->output_length} + 1;
  if (c->output_owned == 0) {
    auto *copy = static_cast<char *>(VelkoAllocatePtr(c->session, VELKO_HERE, size, 0));
    if (copy != nullptr)
      memcpy(copy, c->output_buffer, size);
    return copy;
  }
  char *result = c->output_buffer;
  if (auto *cut = static_cast<char *>(VelkoReallocatePtr(c->session, VELKO_HERE, result, size)))
    result = cut;
  c->output_buffer = nullptr;
  c->write_ptr = nullptr;
  c->output_capacity = 0;
  c->output_owned = 0;
  return result;
}

/* Closes the run's part file and attaches it to the note as "$FILE";
 * the file is deleted once attached. A part that could not be written
 * completely is neither attached nor kept. */
STATUS AttachPartFile(html_render_info *c, STATUS status, char *partNameOut) {
  const STATUS closed = CloseMimePartFile(c);
  if (status == NOERROR)
    status = closed;
  if (status != NOERROR) {
    unlink(c->part_file_path);
    if (partNameOut != nullptr)
      memset(partNameOut, 0, kPartNameNulls);
    return status;
  }
  const NOTEHANDLE note = c->item != nullptr ? c->item->note : NULLHANDLE;
  const STATUS attached =
      note == NULLHANDLE
          ? STATUS{VELKO_ERR_BAD_ARGUMENT}
          : NSFNoteAttachFile(note, kPartItemName, static_cast<WORD>(strlen(kPartItemName)),
                              c->part_file_path, c->part_file_name, kPartEncoding);
  if (attached != NOERROR) {
    char message[kStatusTextSize + 1] = {};
    OSLoadString(NULLHANDLE, static_cast<STATUS>(attached & 0x3FFF), message, kStatusTextSize);
    ShowUserMessage(message);
  } else {
    unlink(c->part_file_path);
  }
  if (partNameOut != nullptr)
    strcpy(partNameOut, c->part_file_name);
  return attached;
}

/* Settles a part the caller took in memory, in place of attaching a part
 * file that the caller would read and take off the note again: the
 * database ends as it would then, the object id the attachment would have
 * had used up, and a part too large for the host to attach fails as its
 * attachment would. */
STATUS SettleMemoryPart(html_render_info *c, STATUS status, char *partNameOut) {
  if (status != NOERROR) {
    if (partNameOut != nullptr)
      memset(partNameOut, 0, kPartNameNulls);
    return status;
  }
  const NOTEHANDLE note = c->item != nullptr ? c->item->note : NULLHANDLE;
  DBHANDLE db = NULLHANDLE;
  if (note != NULLHANDLE)
    NSFNoteGetInfo(note, _NOTE_DB, &db);
  DWORD objectID = 0;
  STATUS stored = VELKO_ERR_BAD_ARGUMENT;
  if (note != NULLHANDLE)
    stored = c->part_memory_length > OSMEM_MAX_BLOCK_SIZE
                 ? STATUS{ERR_HOST_VALUE_TOO_LARGE}
                 : NSFDbAllocObject(db, 0, OBJECT_FILE, 0, &objectID);
  if (stored != NOERROR) {
    char message[kStatusTextSize + 1] = {};
    OSLoadString(NULLHANDLE, static_cast<STATUS>(stored & 0x3FFF), message, kStatusTextSize);
    ShowUserMessage(message);
  }
  if (partNameOut != nullptr)
    strcpy(partNameOut, c->part_file_name);
  return stored != NOERROR ? stored : NSFDbFreeObject(db, objectID);
}

/* What a caller file still lacks after the run: the held text, through all
 * passes, then the file flushed. */
STATUS FinishCallerFile(html_render_info *c, FILE *file) {
  if (c->output_status == NOERROR)
    RenderFlush(c, 1);
  if (fflush(file) != 0 && c->output_status == NOERROR)
    c->output_status = kOutputWriteFailed;
  return c->output_status;
}

void FreeText(LSXLsiSession *session, char *&text) {
  VelkoDeallocatePtr(session, text);
  text = nullptr;
}

/* What both entry points do first: clear the chunk's secondary status and
 * the session's result, keep the callbacks given, and make the chunk's
 * rendering context. Null, with the chunk's status 263, when it cannot be
 * made. */
html_render_info *OpenChunkRender(VelkoRTChunk *chunk, ActOnTextCallback actOnText,
                                  QueryLinkDataCallback queryLinkData) {
  chunk->secondary_status = 0;
  ClearSessionResult(chunk->session);
  if (actOnText != nullptr)
    chunk->internal->act_on_text = actOnText;
  if (queryLinkData != nullptr)
    chunk->internal->query_link_data = queryLinkData;
  html_render_info *context = CreateRenderContext(chunk->session, chunk);
  if (context == nullptr) {
    chunk->status = VELKO_ERR_MEMORY;
    return nullptr;
  }
  chunk->internal->render_context = context;
  return context;
}

} // namespace

void SetRenderFrameSource(const render_frame_source *source) {
  frame_source.date = source != nullptr && source->date != nullptr ? source->date : LocalDate;
  frame_source.version =
      source != nullptr && source->version != nullptr ? source->version : LibraryVersion;
}

html_render_info *CreateRenderContext(LSXLsiSession *session, VelkoRTChunk *chunk) {
  if (session == nullptr)
    return nullptr;
  void *block = VelkoAllocatePtr(session, VELKO_HERE, sizeof(html_render_info), 1);
  if (block == nullptr)
    return nullptr;
  auto *context = new (block) html_render_info{};
  context->session = session;
  context->chunk = chunk;
  context->item = chunk != nullptr ? chunk->item : nullptr;
  return context;
}

void ReleaseRenderContext(html_render_info *c) {
  if (c == nullptr)
    return;
  LSXLsiSession *session = c->session;
  for (char **text : {&c->options,
                      &c->image_directory,
                      &c->default_subdirectory,
                      &c->delimited_html_start,
                      &c->delimited_html_end,
                      &c->attachment_directory,
                      &c->image_url_directory,
                      &c->attachment_url_directory,
                      &c->inplace_image_url_directory,
                      &c->inplace_attachment_url_directory,
                      &c->link_url_directory,
                      &c->attachment_graphic,
                      &c->css_bullet_graphic,
                      &c->css_circle_bullet_graphic,
                      &c->css_square_bullet_graphic,
                      &c->css_check_bullet_graphic,
                      &c->resolve_wiki,
                      &c->open_database_string,
                      &c->open_view_string,
                      &c->open_document_string,
                      &c->open_image_resource_string,
                      &c->open_element_string,
                      &c->blank_alt_string,
                      &c->file_names_field,
                      &c->dblink_graphic,
                      &c->viewlink_graphic,
                      &c->doclink_graphic,
                      &c->anchorlink_graphic,
                      &c->broken_link_graphic,
                      &c->collapse_graphic,
                      &c->expand_graphic,
                      &c->tab_graphic,
                      &c->passthru_html_start,
                      &c->passthru_html_end,
                      &c->broken_link_url,
                      &c->doclink_text,
                      &c->css_tab_nosel_background,
                      &c->css_tab_nosel_text,
                      &c->css_tab_sel_background,
                      &c->css_tab_sel_text,
                      &c->see_attached_msg})
    FreeText(session, *text);
  if (c->output_owned != 0)
    FreeText(session, c->output_buffer);
  DiscardXMLStacks(c);
  FreeParagraphIndex(c);
  ReleaseRunFiles(c);
  ReleaseHotspotMarks(c);
  ReleaseTableCellIndex(c);
  // A part file still open here was never attached: it is removed, so how
  // its close went tells nobody anything.
  if (c->part_file != nullptr) {
    static_cast<void>(CloseMimePartFile(c));
    unlink(c->part_file_path);
  }
  // Releases: a failure leaves nothing to undo and nothing to report in
  // place of the run's own status.
  if (c->charset_nls != nullptr)
    static_cast<void>(NLS_unload_charset(c->charset_nls));
  if (c->image_db_owned != 0 && c->image_db != NULLHANDLE)
    ReleaseDatabaseHandle(c->image_db);
  VelkoDeallocatePtr(session, c);
}

STATUS VelkoRTChunk::GenerateXML(int, int mimeMode, const char *extraDefinition,
                                 const char *generation, const char *options, WORD optionsLength,
                                 char *buffer, DWORD *capacity, WORD partNumber, FILE *file,
                                 const char *fileName, ActOnTextCallback actOnText,
                                 QueryLinkDataCallback queryLinkData) {
  html_render_info *context = internal != nullptr ? internal->render_context : nullptr;
  if (context == nullptr || session == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  render_request request;
  request.mime_mode = mimeMode;
  request.extra = extraDefinition;
  request.generation = generation;
  request.options = options;
  request.options_length = optionsLength;
  request.buffer = buffer;
  request.capacity = capacity;
  request.part_number = partNumber;
  request.file = file;
  request.file_name = fileName;
  request.act_on_text = actOnText;
  request.query_link_data = queryLinkData;
  return Run(this, context, request);
}

char *VelkoRTChunk::GenerateHTML(const char *extraDefinition, const char *generation,
                                 const char *options, WORD optionsLength,
                                 ActOnTextCallback actOnText, QueryLinkDataCallback queryLinkData) {
  if (session == nullptr || internal == nullptr)
    return nullptr;
  html_render_info *context = OpenChunkRender(this, actOnText, queryLinkData);
  if (context == nullptr)
    return nullptr;

  render_request request;
  request.extra = extraDefinition;
  request.generation = generation;
  request.options = options;
  request.options_length = optionsLength != 0   ? optionsLength
                           : options != nullptr ? strlen(options)
                                                : 0;
  request.act_on_text = internal->act_on_text;
  request.query_link_data = internal->query_link_data;
  // The run leaves its status in the chunk's; the text is returned unless
  // the output failed (a run over an incomplete load delivers its text
  // with the load's status).
  static_cast<void>(Run(this, context, request));

  char *result = nullptr;
  if (context->output_status == NOERROR) {
    result = TakeOutput(context);
    if (result == nullptr)
      status = VELKO_ERR_MEMORY;
  }
  ReleaseRenderContext(context);
  internal->render_context = nullptr;
  internal->act_on_text = nullptr;
  return result;
}

STATUS VelkoRTChunk::GenerateHTMLToMime(int, int mimeMode, const char *generation,
                                        const char *options, WORD optionsLength, char *buffer,
                                        DWORD *length, WORD partNumber, char *partNameOut,
                                        FILE *file, const char *fileName,
                                        ActOnTextCallback actOnText,
                                        QueryLinkDataCallback queryLinkData, int *linkGraphicUsed,
                                        int *callerWord) {
  return GenerateHTMLToMimeInMemory(this, mimeMode, generation, options, optionsLength, buffer,
                                    length, partNumber, partNameOut, file, fileName, actOnText,
                                    queryLinkData, linkGraphicUsed, callerWord, nullptr);
}

STATUS GenerateHTMLToMimeInMemory(VelkoRTChunk *chunk, int mimeMode, const char *generation,
                                  const char *options, WORD optionsLength, char *buffer,
                                  DWORD *length, WORD partNumber, char *partNameOut, FILE *file,
                                  const char *fileName, ActOnTextCallback actOnText,
                                  QueryLinkDataCallback queryLinkData, int *linkGraphicUsed,
                                  int *callerWord, mime_part_memory *partMemory) {
  LSXLsiSession *session = chunk->session;
  auto *internal = chunk->internal;
  if (session == nullptr || internal == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  html_render_info *context = OpenChunkRender(chunk, actOnText, queryLinkData);
  if (context == nullptr) {
    if (partNameOut != nullptr)
      memset(partNameOut, 0, kPartNameNulls);
    return chunk->status;
  }
  context->part_memory = partMemory;
  for (int i = 0; linkGraphicUsed != nullptr && i < kLinkGraphics; ++i)
    context->link_graphic_used[i] = static_cast<DWORD>(linkGraphicUsed[i]);
  if (callerWord != nullptr)
    context->caller_word = static_cast<DWORD>(*callerWord);

  render_request request;
  request.mime_mode = mimeMode;
  request.extra = "";
  request.generation = generation;
  request.options = options;
  request.options_length = optionsLength;
  request.buffer = buffer;
  request.capacity = length;
  request.part_number = partNumber;
  request.file = file;
  request.file_name = fileName;
  request.act_on_text = internal->act_on_text;
  request.query_link_data = internal->query_link_data;
  STATUS result = Run(chunk, context, request);

  for (int i = 0; linkGraphicUsed != nullptr && i < kLinkGraphics; ++i)
    linkGraphicUsed[i] = static_cast<int>(context->link_graphic_used[i]);
  if (callerWord != nullptr)
    *callerWord = static_cast<int>(context->caller_word);

  // The output of a run over an incomplete load is delivered whole; the
  // run's status still says that the load was incomplete.
  if (file != nullptr) {
    if (const STATUS flushed = FinishCallerFile(context, file); flushed != NOERROR)
      result = flushed;
    if (partNameOut != nullptr)
      memset(partNameOut, 0, kPartNameNulls);
  } else if (context->part_file != nullptr) {
    if (const STATUS attached = AttachPartFile(context, context->output_status, partNameOut);
        attached != NOERROR)
      result = attached;
  } else if (context->part_memory_open != 0) {
    if (const STATUS settled = SettleMemoryPart(context, context->output_status, partNameOut);
        settled != NOERROR)
      result = settled;
  } else if (partNameOut != nullptr) {
    memset(partNameOut, 0, kPartNameNulls);
  }
  if (context->output_buffer != nullptr)
    SetSessionResult(context);
  if (length != nullptr)
    *length = session->render_result_length;
  if (result != NOERROR)
    chunk->status = result;
  ReleaseRenderContext(context);
  internal->render_context = nullptr;
  return result;
}
