/*
 * The record driver of the HTML renderer. ProcessXMLStream walks the
 * records of a chunk from the context's current record to its last record:
 * it writes the small record kinds itself (line breaks, horizontal rules,
 * anchors), hands paragraphs, text runs, fields, pass-through HTML and the
 * larger families to their renderers, renders the content of CDBEGIN/CDEND
 * brackets by calling itself one level deeper, and keeps the held output
 * below the flush threshold by handing it to the output stage. At an
 * outermost call it first runs the head pass and at its end closes every
 * open tag. Plain text is a walk of its own that copies the text of the
 * runs.
 *
 * Also the small services the paragraph renderer shares with the driver
 * (line breaks, traces, whole option values, the per-chunk lists).
 *
 * Not here: what each family writes (render/paragraph.cpp, text_runs.cpp,
 * fields.cpp, and the renderers of render/family_renderers.h).
 */
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "engine/record_fields.h"
#include "engine/services.h"
#include "host/osenv.h"
#include "host/oslog.h"
#include "render/output_buffer.h"
#include "render/paragraphs.h"
#include "render/family_renderers.h"
#include "render/table.h"
#include "render/tag_stack.h"
#include "render/text_render.h"
#include "store/body.h"
#include "store/messages.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "velko/property_string.h"
#include "velko/status.h"

namespace {

namespace f1 = html_flags;
namespace f2 = html_flags2;
namespace f3 = html_flags3;
namespace f5 = html_flags5;

enum : WORD {
  kModeRender = 0,
  kModeDeferred = 1, /* the table's end and the final flush wait for mode 2 */
  kModeFinal = 2,
};

/* The driver flushes once the held text is this close to the threshold. */
constexpr DWORD kFlushMargin = 40;
/* Room kept free in a caller's buffer that no sink empties. */
constexpr DWORD kCallerBufferReserve = 500;
constexpr const char *kTableEnd = "</table>";
/* The bracketed text of a run that is written raw (with the presets'
 * SeeAttachedMsg): "[<" at the text's start, "]" at its end. */
constexpr DWORD kRawTextMinimum = 12;

void Consume(html_render_info *c) {
  if (c->current_record != nullptr)
    c->current_record = c->current_record->next;
}

bool StandardTags(const html_render_info *c) { return (c->flags & f1::StandardFontTags) != 0; }

void TraceStatus(const html_render_info *c, const char *text, STATUS status) {
  if (c->session != nullptr && c->session->internal->debug_level > 2)
    AddInLogMessageText("%s", status, text);
}

/* Hands the held text to the sink (the auto-URL link closed first) unless
 * a writer holds a position in it. */
void FlushHeld(html_render_info *c) {
  CloseXMLAutoURL(c);
  if (c->output_hold == 0)
    RenderFlush(c, 0);
}

/* ---- one call ---- */

enum class next_step { go_on, leave };

struct stream_call {
  html_render_info *c;
  WORD begin;
  WORD depth;
  WORD mode;
  WORD flattened = 0;     /* brackets walked without a further call */
  WORD flattened_hotspots = 0; /* hotspots walked without a further call */
  STATUS status = 0;      /* of the last renderer: not 0 ends the walk and is returned */
  STATUS left_status = 0; /* what the call returns when it leaves */
};

/* Keeps the held text within bounds after each record: with a threshold,
 * flushes once the held text comes near it; without one, a caller's
 * buffer stops the walk with 263 before it is full. (A write that does not
 * fit a caller's buffer fails the output in any case.) */
bool BufferAllowsMore(stream_call &call) {
  html_render_info *c = call.c;
  if (c->output_status != NOERROR) {
    call.left_status = c->output_status;
    return false;
  }
  const DWORD threshold = c->event_chunk_size;
  if (threshold != 0) {
    if (c->output_length + kFlushMargin > threshold)
      FlushHeld(c);
    return true;
  }
  if (c->output_owned == 0 && c->output_length + kCallerBufferReserve > c->output_capacity) {
    call.left_status = VELKO_ERR_MEMORY;
    return false;
  }
  return true;
}

/* The bracket of this call was closed inside a nested call: the record
 * before the current one ends it. */
bool BracketClosed(const stream_call &call) {
  const record_storage *at = call.c->current_record;
  if (call.begin == 0 || call.depth == 0 || at == nullptr || at->previous == nullptr)
    return false;
  const record_storage *before = at->previous;
  return before->signature == SIG_CD_END && NodeBracket(before) == call.begin;
}

next_step Leave(stream_call &call, STATUS status = NOERROR) {
  call.left_status = status;
  return next_step::leave;
}

/* ---- records the driver writes itself ---- */

bool IsHotspotBeginOrBracket(const record_storage *node) {
  if (node == nullptr)
    return false;
  return node->signature == SIG_CD_V4HOTSPOTBEGIN ||
         (node->signature == SIG_CD_BEGIN && NodeBracket(node) == SIG_CD_V4HOTSPOTBEGIN);
}

/* A run whose text is "[<...]" is written raw (the text between the
 * brackets, NUL bytes as blanks) when the presets ask for it. */
bool WriteBracketedRaw(html_render_info *c, const record_storage *node) {
  if ((c->flags5 & f5::SeeAttachedMsgEnabled) == 0 || node->length <= kRawTextMinimum ||
      node->data == nullptr)
    return false;
  const char *text = node->data + sizeof(CDTEXT);
  if (text[0] != '[' || text[1] != '<' || node->data[node->length - 1] != ']')
    return false;
  const char *inner = node->data + sizeof(CDTEXT) + 1;
  const DWORD length = node->length - static_cast<DWORD>(sizeof(CDTEXT)) - 2;
  DWORD from = 0;
  for (DWORD i = 0; i < length; ++i) {
    if (inner[i] != '\0')
      continue;
    RenderPut(c, inner + from, i - from);
    RenderPutc(c, ' ');
    from = i + 1;
  }
  RenderPut(c, inner + from, length - from);
  return true;
}

next_step TextRun(stream_call &call, record_storage *node) {
  html_render_info *c = call.c;
  TraceStatus(c, "PrXMLStr - Step 5b", call.status);
  if (c->pending_line_break != 0) {
    c->pending_line_break = 0;
    WriteXMLLineBreak(c);
  }
  if (node->length == sizeof(CDTEXT) && node->previous != nullptr &&
      node->previous->signature == SIG_CD_PABREFERENCE) {
    const bool last = node == c->last_record || node->next == nullptr;
    const BOOL lineBreak = !last && !IsHotspotBeginOrBracket(node->next) ? 1 : 0;
    call.status = ProcessXMLText(c, call.begin, lineBreak);
  } else if (WriteBracketedRaw(c, node)) {
    Consume(c);
  } else {
    call.status = ProcessXMLText(c, call.begin, 0);
  }
  TraceStatus(c, "PrXMLStr - Step 5b - after", call.status);
  return next_step::go_on;
}

/* The JustifyMode of the paragraph in force at the record: the nearest
 * reference before it and that PABID's nearest definition before the
 * reference; -1 when there is none. */
int JustifyInForce(html_render_info *c, const record_storage *node) {
  const record_storage *reference = FindReferenceBefore(c, node);
  WORD pabid = 0;
  if (!ReferencePabid(reference, &pabid))
    return -1;
  paragraph_definition definition;
  if (!ReadParagraphDefinition(FindDefinitionBefore(c, reference, pabid), &definition))
    return -1;
  return definition.justify;
}

/* The colour value of a CDCOLOR that is the next record or the one after. */
bool RuleColour(const record_storage *node, COLOR_VALUE *colour) {
  const record_storage *next = node->next;
  for (int i = 0; i < 2 && next != nullptr; ++i, next = next->next) {
    if (next->signature == SIG_CD_COLOR && next->data != nullptr &&
        next->length >= sizeof(CDCOLOR)) {
      memcpy(colour, next->data + offsetof(CDCOLOR, Color), sizeof *colour);
      return true;
    }
  }
  return false;
}

void HorizontalRule(html_render_info *c, const record_storage *node) {
  if (node->data == nullptr || node->length < sizeof(CDHRULE))
    return;
  CDHRULE rule;
  memcpy(&rule, node->data, sizeof rule);
  if ((rule.Flags & 0x0004) != 0)
    RenderPrintf(c, "<hr width=\"%d%%\"", int{rule.Width});
  else
    RenderPrintf(c, "<hr width=\"%d\"", rule.Width / 15);
  RenderPrintf(c, " size=\"%d\"", rule.Height / 15);
  switch (JustifyInForce(c, node)) {
  case 0:
    RenderPuts(c, " align='left'");
    break;
  case 1:
    RenderPuts(c, " align='right'");
    break;
  case 3:
    RenderPuts(c, " align='center'");
    break;
  default:
    break;
  }
  if ((rule.Flags & 0x0008) != 0)
    RenderPuts(c, IsXhtml(c) ? " noshade=\"noshade\"" : " noshade");
  RenderPuts(c, " style=\"color: ");
  COLOR_VALUE colour = {};
  if (RuleColour(node, &colour) && (colour.Flags & 0x0001) != 0) {
    RenderPrintf(c, "rgb(%d,%d,%d)", colour.Red, colour.Green, colour.Blue);
  } else {
    char rgb[20];
    RenderPaletteRgb(rule.Color, rgb);
    RenderPuts(c, rgb);
  }
  RenderPuts(c, ";\"");
  RenderPuts(c, IsXhtml(c) ? " />" : ">");
}

void Anchor(html_render_info *c, const record_storage *node) {
  if (node->data == nullptr || node->length < sizeof(CDANCHOR))
    return;
  WORD length = 0;
  memcpy(&length, node->data + offsetof(CDANCHOR, NameLength), sizeof length);
  const DWORD room = node->length - static_cast<DWORD>(sizeof(CDANCHOR));
  RenderPuts(c, "<a name=\"");
  CopyTranslatedText(c, node->data + sizeof(CDANCHOR), length < room ? length : room, nullptr, 1, 0,
                     0);
  RenderPuts(c, "\"></a>");
}

void LargeParagraph(html_render_info *c, const record_storage *node) {
  WORD flags = 0;
  ReadRecordWord(node->data, node->length, offsetof(CDLARGEPARAGRAPH, Flags), &flags);
  c->large_paragraph = (flags & 0x0001) != 0 ? 1 : 0;
}

void PassThrough(stream_call &call) {
  html_render_info *c = call.c;
  render_option skip(c, "SkipPassthru=");
  if (skip.value() != nullptr && strcasecmp(skip.value(), "Yes") == 0) {
    Consume(c);
    return;
  }
  call.status = ProcessXMLPassthruHTML(c, call.begin);
  // The walk stops on the end record, which the driver consumes; a last
  // record it stopped on without one has been copied already.
  record_storage *at = c->current_record;
  if (at != nullptr && at->signature != SIG_CD_HTMLEND && !IsBeyondLast(c, at))
    Consume(c);
}

/* ---- tables, hotspots and brackets ---- */

const record_storage *CurrentDefinitionNode(const html_render_info *c) {
  const WORD index = c->current_definition;
  return index > 0 && index <= c->pabdef_count ? c->pabdef_records[index] : nullptr;
}

/* Simple tags: the table starts on a line (or in a division) of its own. */
void BreakBeforeTable(html_render_info *c) {
  if (TagOnXMLStack(c, 0, "</p>", 1) != 0)
    PopXMLStack(c, 0, "</p>", 1, 1, 0, 0, 0);
  paragraph_definition definition;
  const bool known = ReadParagraphDefinition(CurrentDefinitionNode(c), &definition);
  const WORD justify = known ? definition.justify : 0;
  if (justify == 1 || justify == 2 || justify == 3) {
    RenderPuts(c, justify == 1   ? "<div align='right'>"
                  : justify == 3 ? "<div align='center'>"
                                 : "<div align='justify'>");
    PushClosingTag(c, "</div>");
    return;
  }
  if (c->first_cell_paragraph != 0)
    return;
  if (justify != 4 && RenderEndsWith(c, XMLLineBreakText(c), false))
    return;
  WriteXMLLineBreak(c);
}

next_step TableStart(stream_call &call, record_storage *node) {
  html_render_info *c = call.c;
  c->table_word = 0;
  if (node->signature == SIG_CD_PRETABLEBEGIN) {
    c->pretable_record = node;
  } else {
    c->table_begin_record = node;
    c->pretable_record = nullptr;
  }
  if (StandardTags(c))
    BreakBeforeTable(c);
  if (BracketClosed(call))
    return Leave(call);
  call.status = ProcessXMLTable(c, call.begin, static_cast<WORD>(call.depth + 1));
  return next_step::go_on;
}

/* A cell met inside a nested call goes back to the call that renders its
 * table. */
next_step HandBackCell(stream_call &call) {
  html_render_info *c = call.c;
  const WORD level = c->table_level;
  if (level < kRenderTableLevels && c->cell_saved_record[level] != nullptr &&
      c->cell_saved_flag[level] != 0) {
    c->current_record = c->cell_saved_record[level];
    c->cell_saved_record[level] = nullptr;
    c->cell_saved_flag[level] = 0;
  }
  return Leave(call);
}

next_step TableEnd(stream_call &call) {
  html_render_info *c = call.c;
  if (call.depth > 0)
    return Leave(call);
  if (TagOnXMLStack(c, 0, kTableEnd, 0) != 0)
    PopXMLStack(c, 0, kTableEnd, 1, 1, 0, 0, 0);
  Consume(c);
  return next_step::go_on;
}

next_step HotspotEnd(stream_call &call) {
  html_render_info *c = call.c;
  if (call.flattened_hotspots > 0) {
    --call.flattened_hotspots;
    Consume(c);
    return next_step::go_on;
  }
  const bool sections = (c->flags2 & f2::SectionsInCSS) != 0 || (c->flags5 & f5::OstrafineSections);
  if (sections && c->in_link[0] == 0 && c->in_link[1] == 0) {
    while (c->section_id != 0 && TagOnXMLStackWithID(c, 0, "</div>", 0) == c->section_id) {
      if (PopXMLStack(c, 0, "</div>", 1, 1, 0, 0, 0) == 0)
        break;
    }
  }
  if (call.depth > 0)
    return Leave(call);
  Consume(c);
  return next_step::go_on;
}

STATUS RenderStream(html_render_info *c, WORD begin, WORD depth, WORD mode);

next_step Begin(stream_call &call, record_storage *node) {
  html_render_info *c = call.c;
  const WORD bracketed = NodeBracket(node);
  const WORD inner = static_cast<WORD>(call.depth + 1);
  if (bracketed == SIG_CD_LAYER) {
    ++c->layer_level;
    if (!StandardTags(c)) {
      if (c->outer_layer_depth == 0)
        c->outer_layer_depth = inner;
      call.status = ProcessXMLLayer(c, call.begin, inner);
      if (inner <= c->outer_layer_depth)
        c->outer_layer_depth = 0;
      return next_step::go_on;
    }
  }
  Consume(c);
  if (inner >= kMaxNesting) {
    ++call.flattened; // its end is met in this walk
    return next_step::go_on;
  }
  const STATUS status = RenderStream(c, bracketed, inner, kModeRender);
  if (status != NOERROR)
    return Leave(call, status);
  if (BracketClosed(call))
    return Leave(call);
  return next_step::go_on;
}

next_step End(stream_call &call, record_storage *node) {
  html_render_info *c = call.c;
  if (call.flattened > 0) {
    --call.flattened;
    Consume(c);
    return next_step::go_on;
  }
  if (NodeBracket(node) == SIG_CD_LAYER) {
    if (c->layer_level > 0)
      --c->layer_level;
    // The paragraph division the layer's content left open; one opened
    // before the layer stays open after it.
    if (!StandardTags(c) && TagOnXMLStack(c, 0, "</div>", 1) != 0 &&
        TagOpenInLayer(c, "</div>"))
      PopXMLStack(c, 0, "</div>", 1, 1, 0, 0, 0);
  }
  Consume(c);
  if (call.depth > 0)
    return Leave(call);
  return next_step::go_on;
}

/* ---- the dispatch ---- */

next_step Dispatch(stream_call &call, record_storage *node) {
  html_render_info *c = call.c;
  const WORD inner = static_cast<WORD>(call.depth + 1);
  switch (node->signature) {
  case SIG_CD_PARAGRAPH:
    if (c->large_paragraph == 0)
      c->pending_line_break = 1;
    Consume(c);
    return next_step::go_on;
  case SIG_CD_PABREFERENCE:
    if (c->large_paragraph != 0)
      Consume(c);
    else
      call.status = ProcessXMLParagraph(c);
    return next_step::go_on;
  case SIG_CD_LARGEPARAGRAPH:
    LargeParagraph(c, node);
    Consume(c);
    return next_step::go_on;
  case SIG_CD_TEXT:
  case SIG_CD_BIDI_TEXT:
    return TextRun(call, node);
  case SIG_CD_HTMLBEGIN:
    PassThrough(call);
    return next_step::go_on;
  case SIG_CD_HRULE:
    HorizontalRule(c, node);
    Consume(c);
    return next_step::go_on;
  case SIG_CD_ANCHOR:
    Anchor(c, node);
    Consume(c);
    return next_step::go_on;
  case SIG_CD_TABLEBEGIN:
  case SIG_CD_NESTEDTABLEBEGIN:
  case SIG_CD_PRETABLEBEGIN:
    return TableStart(call, node);
  case SIG_CD_TABLECELL:
  case SIG_CD_NESTEDTABLECELL:
    if (call.depth > 0)
      return HandBackCell(call);
    call.status = ProcessXMLTable(c, call.begin, inner);
    return next_step::go_on;
  case SIG_CD_TABLEEND:
  case SIG_CD_NESTEDTABLEEND:
    return TableEnd(call);
  case SIG_CD_FIELD:
    call.status = ProcessXMLField(c, call.begin);
    Consume(c);
    return next_step::go_on;
  case SIG_CD_LINK:
  case SIG_CD_DOCLINK:
    TraceStatus(c, "PrXMLStr - About to ProcessXMLDoclink", 0);
    call.status = ProcessXMLDoclink(c, call.begin, call.depth, 1, 0);
    TraceStatus(c, "PrXMLStr - Done with ProcessXMLDoclink", 0);
    Consume(c);
    return next_step::go_on;
  case SIG_CD_GRAPHIC:
    TraceStatus(c, "About to enter PXMLGr", 0);
    call.status = ProcessXMLGraphic(c, call.begin, call.depth);
    TraceStatus(c, "After PXMLGr", 0);
    Consume(c);
    return next_step::go_on;
  case SIG_CD_HOTSPOTBEGIN:
  case SIG_CD_V4HOTSPOTBEGIN:
  case SIG_CD_RESOURCELINKBEGIN:
    // A hotspot nested deeper than the driver goes is walked here, its
    // content written without its markup; its end is met in this walk.
    if (inner >= kMaxNesting) {
      ++call.flattened_hotspots;
      Consume(c);
      return next_step::go_on;
    }
    call.status = ProcessXMLHotspot(c, call.begin, inner);
    return BracketClosed(call) ? Leave(call) : next_step::go_on;
  case SIG_CD_HOTSPOTEND:
  case SIG_CD_V4HOTSPOTEND:
  case SIG_CD_ALTHOTSPOTEND:
    return HotspotEnd(call);
  case SIG_CD_SECTIONBAR:
    call.status = ProcessXMLSectionBar(c, call.begin);
    return next_step::go_on;
  case SIG_CD_LAYOUT:
    call.status = ProcessXMLLayout(c, inner);
    return next_step::go_on;
  case SIG_CD_BEGIN:
    return Begin(call, node);
  case SIG_CD_END:
    return End(call, node);
  default: // definitions and style names are the head pass's; the rest writes nothing
    Consume(c);
    return next_step::go_on;
  }
}

/* Walks the run; the status the call leaves with (0 at the run's end). */
STATUS WalkRecords(stream_call &call) {
  html_render_info *c = call.c;
  if (!BufferAllowsMore(call))
    return call.left_status;
  while (call.status == NOERROR && c->current_record != nullptr &&
         !IsBeyondLast(c, c->current_record)) {
    TraceStatus(c, "PrXMLStr - Step 5", 0);
    record_storage *at = c->current_record;
    PrefetchRecordsAhead(at);
    const next_step step = Dispatch(call, at);
    // A renderer that ran out of memory leaves its part unwritten: the
    // output fails rather than end short as if it were whole.
    if (call.status == VELKO_ERR_MEMORY && c->output_status == NOERROR)
      c->output_status = VELKO_ERR_MEMORY;
    if (step == next_step::leave)
      return call.left_status;
    // A renderer that did not move on has consumed nothing: the record is
    // passed, so that the walk always ends.
    if (c->current_record == at)
      Consume(c);
    if (!BufferAllowsMore(call))
      return call.left_status;
  }
  // A renderer's failure ends the walk at every depth and is what the
  // call answers, so that a document cut short never counts as whole.
  return call.status;
}

/* ---- the three generations ---- */

STATUS FinalFlush(html_render_info *c) {
  TraceStatus(c, "PrXMLStr - Step 2", 0);
  if (c->table_pending != 0) {
    if (c->row_pending != 0)
      RenderPuts(c, "</tr>");
    RenderPuts(c, kTableEnd);
    c->table_pending = 0;
    c->row_pending = 0;
  }
  return RenderFlush(c, 1);
}

void CopyPlainText(html_render_info *c, const record_storage *node) {
  if (node->data == nullptr || node->length <= sizeof(CDTEXT))
    return;
  const char *text = node->data + sizeof(CDTEXT);
  const DWORD length = node->length - static_cast<DWORD>(sizeof(CDTEXT));
  DWORD from = 0;
  for (DWORD i = 0; i < length; ++i) {
    const BYTE b = static_cast<BYTE>(text[i]);
    if (b != 0x00 && b != 0xFF)
      continue;
    RenderPut(c, text + from, i - from);
    RenderPuts(c, b == 0x00 ? "\r\n" : " ");
    from = i + 1;
  }
  RenderPut(c, text + from, length - from);
}

STATUS RenderPlainText(html_render_info *c) {
  while (c->output_status == NOERROR && c->current_record != nullptr &&
         !IsBeyondLast(c, c->current_record)) {
    const record_storage *node = c->current_record;
    const WORD signature = node->signature;
    const bool text = IsTextRun(signature);
    if (text)
      CopyPlainText(c, node);
    else if (signature == SIG_CD_PARAGRAPH && c->newline_on_paragraph != 0)
      RenderPuts(c, "\r\n");
    if ((text || signature == SIG_CD_PARAGRAPH) && c->event_chunk_size != 0 &&
        c->output_length + kFlushMargin > c->event_chunk_size)
      FlushHeld(c);
    Consume(c);
  }
  RenderFlush(c, 1);
  return c->output_status;
}

/* The end of an outermost call: every open tag closed, in mode 0 the
 * table closed and the held text flushed, the per-chunk lists freed. */
void FinishOutermost(html_render_info *c, WORD mode) {
  PopXMLStack(c, 0, "*", 1, 0, 0, 0, 0);
  c->list_depth = 0;
  c->paragraph_mapping = nullptr;
  c->group_mapping = nullptr;
  c->text_mapping_count = 0;
  if (mode == kModeRender) {
    if (c->row_pending != 0)
      RenderPuts(c, "</tr>");
    if (c->table_pending != 0)
      RenderPuts(c, kTableEnd);
    c->row_pending = 0;
    c->table_pending = 0;
    RenderFlush(c, (c->flags3 & f3::OutputAllToEvent) != 0 ? 0 : 1);
  }
}

STATUS RenderMarkup(html_render_info *c, WORD begin, WORD depth, WORD mode) {
  if (depth == 0) {
    if (STATUS status = RunXMLHeadPass(c); status != NOERROR) {
      FreeChunkStyleLists(c);
      return status;
    }
  }
  stream_call call{c, begin, depth, mode};
  const STATUS status = WalkRecords(call);
  if (depth != 0)
    return status;
  // The tags opened so far are closed also after a renderer's failure;
  // output that failed or ran out of room is left as it stands.
  if (status != VELKO_ERR_MEMORY && c->output_status == NOERROR)
    FinishOutermost(c, mode);
  FreeChunkStyleLists(c);
  return status != NOERROR ? status : c->output_status;
}

STATUS RenderStream(html_render_info *c, WORD begin, WORD depth, WORD mode) {
  // The setting is read once per rendering run, by its outermost call; the
  // nested calls for cells and sections keep the level it gave.
  if (depth == 0 && c->session != nullptr) {
    const long level = OSGetEnvironmentLong("OstrafineDebug");
    c->session->internal->debug_level =
        static_cast<WORD>(level < 0 ? 0 : level > 0xFFFF ? 0xFFFF : level);
    c->image_settings_read = 0;
  }
  TraceStatus(c, "PrXMLStr - IN", 0);
  if (depth == 0 && c->table_pending != 0 && c->output_length > strlen(kTableEnd) &&
      RenderEndsWith(c, kTableEnd, false))
    RenderTruncate(c, c->output_length - static_cast<DWORD>(strlen(kTableEnd)));
  if (mode == kModeFinal)
    return FinalFlush(c);
  if (c->generation == kGenerationText)
    return RenderPlainText(c);
  return RenderMarkup(c, begin, depth, mode);
}

} // namespace

/* ---- services shared with the paragraph renderer ---- */

const char *XMLLineBreakText(const html_render_info *context) {
  return context->generation == kGenerationHTML ? "<br>" : "<br />";
}

void ClearCellEmptyMark(html_render_info *context) {
  if (context->table_level < kRenderTableLevels)
    context->cell_empty[context->table_level] = 0;
}

void WriteXMLLineBreak(html_render_info *context) {
  RenderPuts(context, XMLLineBreakText(context));
  ClearCellEmptyMark(context);
}

void PushClosingTag(html_render_info *context, const char *tag) {
  if (PushXMLStack(context, 0, tag) == nullptr && context->output_status == NOERROR)
    context->output_status = VELKO_ERR_MEMORY;
}

void TraceXMLStream(const html_render_info *context, const char *text) {
  TraceStatus(context, text, 0);
}

render_option::render_option(html_render_info *context, const char *key)
    : session_(context->session) {
  if (context->options == nullptr)
    return;
  const size_t size = strlen(context->options) + 1;
  char *value = static_cast<char *>(VelkoAllocatePtr(session_, VELKO_HERE, size, 0));
  if (value == nullptr) {
    // Read as absent, the option would change the output silently.
    if (context->output_status == NOERROR)
      context->output_status = VELKO_ERR_MEMORY;
    return;
  }
  if (ExtractProperty(context->options, key, value, size) != 0)
    value_ = value;
  else
    VelkoDeallocatePtr(session_, value);
}

render_option::~render_option() { VelkoDeallocatePtr(session_, value_); }

void FreeChunkStyleLists(html_render_info *context) {
  LSXLsiSession *session = context->session;
  for (WORD i = 0; context->paragraph_styles != nullptr && i < context->paragraph_style_count; ++i)
    VelkoDeallocatePtr(session, context->paragraph_styles[i].text);
  for (WORD i = 0; context->border_classes != nullptr && i < context->border_class_count; ++i)
    VelkoDeallocatePtr(session, context->border_classes[i].text);
  VelkoDeallocatePtr(session, context->paragraph_styles);
  VelkoDeallocatePtr(session, context->border_classes);
  context->paragraph_styles = nullptr;
  context->border_classes = nullptr;
  context->paragraph_style_count = 0;
  context->border_class_count = 0;
  FreeParagraphIndex(context);
  ReleaseHotspotMarks(context);
  ReleaseTableCellIndex(context);
  context->walked_back_cell = nullptr;
  context->walked_back_begin = nullptr;
}

STATUS ProcessXMLStream(html_render_info *context, WORD beginSignature, WORD depth, WORD mode) {
  if (context == nullptr || context->output_buffer == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  return RenderStream(context, beginSignature, depth, mode);
}
