/*
 * The table renderer: the records of a rich-text table (and of the tables
 * nested in its cells) become an HTML table with rows and cells, an
 * accordion of divisions (row display "captions" with SupportRico), or a
 * table whose rows are tabs (with a CSS tab bar under TabbedTablesInCSS).
 * The renderer walks the table's own records (pre-table, begin, cells,
 * end, the border and identity records before a table) and hands the
 * content of each cell to the driver, which renders it one level deeper
 * and returns at the next cell or table end. Merged cells are placed at
 * their area's top-left position; after a cell that spans rows the walk
 * resumes at the cell after that position.
 *
 * Also the test for tables whose paragraphs are all hidden and the header
 * flags of a cell.
 *
 * Not here: the cell walkers (render/table_cells.cpp), the border CSS of a
 * border record (render/borders.cpp), the border classes of the style
 * sheet (render/head.cpp).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string_view>

#include "chunk/font_override.h"
#include "engine/record_fields.h"
#include "engine/services.h"
#include "host/cdrecords.h"
#include "render/graphic.h"
#include "render/identity.h"
#include "render/output_buffer.h"
#include "render/paragraphs.h"
#include "render/table.h"
#include "render/table_parts.h"
#include "render/tag_stack.h"
#include "render/text_render.h"
#include "store/body.h"
#include "store/session.h"
#include "velko/property_string.h"
#include "velko/status.h"


namespace {

namespace f1 = html_flags;
namespace f2 = html_flags2;
namespace f3 = html_flags3;
namespace f4 = html_flags4;
namespace f5 = html_flags5;

constexpr WORD kUndecided = 0xFFFF;
constexpr DWORD kWidestTable = 28800; /* twips */
constexpr double kTwipsPerInch = 1440.0;
constexpr int kPixelsPerInch = 96;
constexpr BYTE kRowDisplayTabs = 4;
constexpr BYTE kRowDisplayCaptions = 8;
constexpr WORD kHeaderRecord = 0x57;
constexpr WORD kHeaderRecordKind = 0x83;

/* Keys of the other-attributes text that are the renderer's, never
 * attributes. */
constexpr const char *kControlKeys[] = {"Caption=",    "TarnoDataTable=", "TarnoTH=",
                                        "TarnoTHEAD=", "TarnoTBODY=",     "TarnoTFOOT=",
                                        "src="};

bool Flag(DWORD word, DWORD bit) { return (word & bit) != 0; }

DWORD HeaderFlagsOf(const record_storage *node);

using table_parts::Byte;
using table_parts::Dword;
using table_parts::Word;
using namespace table_parts;

/* ---- one call ---- */

struct table_call {
  table_call(html_render_info *context, WORD beginSignature, WORD callDepth)
      : c(context), begin(beginSignature), depth(callDepth), other(context->session),
        caption(context->session), entry_level(context->table_level) {}

  html_render_info *c;
  WORD begin;
  WORD depth;
  render_text other;   /* the other-attributes text of the table or cell */
  render_text caption; /* the table's Caption= value */
  WORD entry_level;    /* the call returns when the level falls back to it */
  bool no_table_begun = true;
  bool own_style = false; /* the element has a style of its own: ours is left out */
  int data_kind = 0; /* of TarnoDataTable=, for the cells */
  STATUS status = NOERROR;
  definition_lookup definitions;     /* the last first-definition lookup of a cell */
  paragraph_definition first_read{}; /* the fields of the last definition read */
  bool first_read_ok = false;
  /* The last cell scanned, its fields and the next cell its scan met:
   * the cell before that one in the table. */
  record_storage *scanned = nullptr;
  cell_fields scanned_fields{};
  const record_storage *scanned_next = nullptr;
};

enum class step { go_on, done };

using level_state = html_render_info::table_level_state;

level_state &Level(html_render_info *c) {
  return c->table_levels[c->table_level < kRenderTableLevels ? c->table_level : 0];
}

void StepOn(html_render_info *c) {
  if (c->current_record != nullptr)
    c->current_record = c->current_record->next;
}

void NoteFailure(table_call &call, STATUS status) {
  if (status != NOERROR && call.status == NOERROR)
    call.status = status;
}

/* Tells a caller that takes the MIME part in memory of the resource of a
 * cell's background, under both ids the cell may name it by: as escaped in
 * the style's url() (the text of `style` from `idAt` on) and in the
 * background attribute. False when memory ran out. */
bool ReportBackgroundResource(html_render_info *c, const render_text &style, DWORD idAt,
                              const char *name, size_t length, std::string_view resource) {
  if (c->part_memory == nullptr)
    return true;
  if (style.status != NOERROR)
    return false;
  c->part_memory->ResourceNamed(style.data + idAt, style.length - idAt, resource.data(),
                                resource.size());
  return RenderReportResource(c, std::string_view(name, length), resource);
}

/* ---- the close-tag stack ---- */

/* Pops the top closing tag, writing it; a list's tag lowers the open-list
 * depth. */
void PopOne(html_render_info *c) {
  if (c->tag_stack == nullptr)
    return;
  if (IsListClosingNode(c->tag_stack) && c->list_depth > 0)
    --c->list_depth;
  PopXMLStack(c, 0, nullptr, 1, 0, 0, 0, 0);
}

/* How many nodes from the top the current table pushed: those above the
 * depth the stack had at its begin. An accordion pushes no "</table>" of
 * its own, so only this count keeps the row and cell of a table around it
 * out of reach. */
DWORD PushedByTable(html_render_info *c) {
  const DWORD floor = Level(c).stack_depth;
  return XMLStackDepth(c) > floor ? XMLStackDepth(c) - floor : 0;
}

/* The first node from the top with `tag` among the tags the current table
 * pushed, unless a node with `stop` comes first. */
const xml_stack_node *FindOpen(html_render_info *c, const char *tag, const char *stop) {
  DWORD above = PushedByTable(c);
  for (const xml_stack_node *node = c->tag_stack; node != nullptr && above > 0;
       node = node->next, --above) {
    if (SameXMLTag(node->tag, tag))
      return node;
    if (stop != nullptr && SameXMLTag(node->tag, stop))
      return nullptr;
  }
  return nullptr;
}

void PopThrough(html_render_info *c, const xml_stack_node *node) {
  if (node == nullptr)
    return;
  while (c->tag_stack != nullptr && c->tag_stack != node)
    PopOne(c);
  PopOne(c);
}

/* Closes an open tag of the current table (never one behind the table's
 * own "</table>"). */
void CloseOpen(html_render_info *c, const char *tag) {
  PopThrough(c, FindOpen(c, tag, "</table>"));
}

void PopToDepth(html_render_info *c, DWORD depth) {
  while (c->tag_stack != nullptr && XMLStackDepth(c) > depth)
    PopOne(c);
}

/* Whether the node is among the tags the current table pushed. */
bool TablePushed(html_render_info *c, const xml_stack_node *node) {
  DWORD above = PushedByTable(c);
  for (const xml_stack_node *at = c->tag_stack; at != nullptr && above > 0;
       at = at->next, --above) {
    if (at == node)
      return true;
  }
  return false;
}

/* Closes the open cell of the current row, one the current table pushed
 * (an accordion without cells leaves the cell around it open): what lies
 * above its closing tag, then, when asked and the cell is still empty, a
 * line break, then the cell's tag. */
void CloseCell(html_render_info *c, bool fill) {
  const xml_stack_node *cell = OpenCellOfRow(c);
  if (cell == nullptr || !TablePushed(c, cell))
    return;
  while (c->tag_stack != nullptr && c->tag_stack != cell)
    PopOne(c);
  if (fill && c->table_level < kRenderTableLevels && c->cell_empty[c->table_level] != 0)
    WriteXMLLineBreak(c);
  PopOne(c);
}

/* ---- identity records and the other-attributes text ---- */

struct identity_texts {
  const char *text[6] = {}; /* id, class, style, title, extra, name */
  WORD length[6] = {};
};

enum { kId, kClass, kStyle, kTitle, kExtra, kName };

bool ReadIdentity(const record_storage *node, identity_texts *out) {
  *out = identity_texts{};
  if (node == nullptr || node->data == nullptr || node->length < sizeof(CDIDNAME))
    return false;
  DWORD at = sizeof(CDIDNAME);
  for (int i = 0; i < 6; ++i) {
    WORD length = Word(node, offsetof(CDIDNAME, Length) + 2 * static_cast<size_t>(i));
    const DWORD room = node->length > at ? node->length - at : 0;
    if (length > room)
      length = static_cast<WORD>(room);
    out->text[i] = node->data + at;
    out->length[i] = length;
    at += length;
  }
  return true;
}

bool OtherHas(const table_call &call, const char *key) {
  return call.other.data != nullptr && call.other.length != 0 &&
         ExtractProperty(call.other.data, key, nullptr, 0) != 0;
}

void SyncLength(render_text &text) {
  if (text.data != nullptr)
    text.length = static_cast<DWORD>(strlen(text.data));
}

void RemoveKey(render_text &text, const char *key) {
  if (text.data == nullptr)
    return;
  while (text.data[0] != '\0' && EliminateProperty(text.data, key) != 0) {
  }
  SyncLength(text);
}

/* Reads a key's value ("Yes" or a number) and removes the key. */
bool TakeYes(render_text &text, const char *key) {
  char value[8] = {};
  const bool yes = text.data != nullptr &&
                   ExtractProperty(text.data, key, value, sizeof value) != 0 &&
                   strcasecmp(value, "Yes") == 0;
  RemoveKey(text, key);
  return yes;
}

void CompactBlanks(render_text &text);

/* The other-attributes text of an identity record into `other` (and, for a
 * table, its Caption= value into `caption`, the key removed); an empty
 * text leaves `other` empty. */
void LoadOther(table_call &call, const record_storage *identity, bool withCaption) {
  RenderTextFree(&call.other);
  identity_texts texts;
  if (!ReadIdentity(identity, &texts) || texts.length[kExtra] == 0)
    return;
  RenderTextPut(&call.other, texts.text[kExtra], texts.length[kExtra]);
  if (call.other.status != NOERROR) {
    NoteFailure(call, VELKO_ERR_MEMORY);
    return;
  }
  // A NUL inside the record's text ends it.
  SyncLength(call.other);
  if (withCaption && ExtractProperty(call.other.data, "Caption=", nullptr, 0) != 0) {
    RenderTextFree(&call.caption);
    RenderTextPut(&call.caption, call.other.data, call.other.length);
    if (call.caption.status != NOERROR) {
      NoteFailure(call, VELKO_ERR_MEMORY);
      return;
    }
    ExtractProperty(call.other.data, "Caption=", call.caption.data, call.caption.size);
    SyncLength(call.caption);
    if (call.caption.length == 0)
      RenderTextFree(&call.caption);
    RemoveKey(call.other, "Caption=");
  }
  SyncLength(call.other);
  CompactBlanks(call.other);
  if (call.other.length == 0)
    RenderTextFree(&call.other);
}

/* A removed key leaves blanks where it stood: runs of blanks outside
 * quoted values become one, and none is left at either end. */
void CompactBlanks(render_text &text) {
  if (text.data == nullptr)
    return;
  char open = 0;
  DWORD out = 0;
  for (DWORD i = 0; i < text.length; ++i) {
    const char ch = text.data[i];
    if (open == 0 && ch == ' ' && (out == 0 || text.data[out - 1] == ' '))
      continue;
    if (open != 0 && ch == open)
      open = 0;
    else if (open == 0 && (ch == '"' || ch == '\'' || ch == '|' || ch == '~'))
      open = ch;
    text.data[out++] = ch;
  }
  while (out > 0 && open == 0 && text.data[out - 1] == ' ')
    --out;
  text.data[out] = '\0';
  text.length = out;
}

void RemoveControlKeys(render_text &text) {
  for (const char *key : kControlKeys)
    RemoveKey(text, key);
  CompactBlanks(text);
}

/* ---- records around a table ---- */

struct table_sources {
  record_storage *identity = nullptr;
  record_storage *border = nullptr;
  record_storage *pretable = nullptr;
};

/* The table's identity, border and pre-table records: the nearest before
 * its begin, up to a pre-table record, a paragraph, a text run or the
 * structure of an enclosing table. */
table_sources LookBackFromBegin(record_storage *begin) {
  table_sources found;
  for (record_storage *node = begin->previous; node != nullptr; node = node->previous) {
    const WORD signature = node->signature;
    if (signature == SIG_CD_PRETABLEBEGIN) {
      found.pretable = node;
      break;
    }
    if (signature == SIG_CD_PABREFERENCE || IsTextRun(signature) || IsTableCell(signature) ||
        IsTableBegin(signature) || IsTableEnd(signature))
      break;
    if (signature == SIG_CD_IDNAME && found.identity == nullptr)
      found.identity = node;
    else if (signature == SIG_CD_BORDERINFO && found.border == nullptr)
      found.border = node;
  }
  return found;
}

/* Looks back over the records that carry no content of their own; the
 * record the look-back stops at. */
const record_storage *LookBackOverEmpty(const record_storage *from) {
  const record_storage *node = from;
  for (; node != nullptr; node = node->previous) {
    switch (node->signature) {
    case SIG_CD_LARGEPARAGRAPH:
    case SIG_CD_PARAGRAPH:
    case SIG_CD_PABDEFINITION:
    case SIG_CD_STYLENAME:
    case SIG_CD_PABFORMULAREF:
    case SIG_CD_BORDERINFO:
    case SIG_CD_PRETABLEBEGIN:
    case SIG_CD_TABLEDATAEXTENSION:
    case SIG_CD_IDNAME:
    case SIG_CD_BEGIN:
    case SIG_CD_END:
      continue;
    default:
      if (IsTextRun(node->signature) && node->length == sizeof(CDTEXT))
        continue;
      return node;
    }
  }
  return nullptr;
}

bool IsReference(const record_storage *node) {
  return node != nullptr && node->signature == SIG_CD_PABREFERENCE;
}

/* ---- what one walk over a table's cells gives ---- */

struct table_survey {
  WORD columns = 0;
  DWORD first_row_left = 0xFFFFFFFF;
  DWORD first_row_right = 0;
  bool uniform = true;    /* every cell has single borders on every side */
  bool no_borders = true; /* no cell has a border */
};

table_survey SurveyTable(record_storage *begin, bool borders) {
  table_survey survey;
  DWORD depth = 0;
  for (record_storage *node = begin->next; node != nullptr; node = node->next) {
    PrefetchRecordsAhead(node);
    const WORD signature = node->signature;
    if (IsTableBegin(signature)) {
      ++depth;
      continue;
    }
    if (IsTableEnd(signature)) {
      if (depth == 0)
        break;
      --depth;
      continue;
    }
    if (depth != 0 || !IsTableCell(signature))
      continue;
    cell_fields cell;
    ReadCellFields(node, &cell);
    if (cell.column + 1 > survey.columns)
      survey.columns = static_cast<WORD>(cell.column + 1);
    if (cell.row == 0) {
      if (cell.left < survey.first_row_left)
        survey.first_row_left = cell.left;
      if (cell.right > survey.first_row_right)
        survey.first_row_right = cell.right;
    }
    if (borders && (survey.uniform || survey.no_borders)) {
      const cell_sides sides = CellSides(cell);
      if (sides.top != 1 || sides.right != 1 || sides.bottom != 1 || sides.left != 1)
        survey.uniform = false;
      if (sides.top + sides.right + sides.bottom + sides.left > 0)
        survey.no_borders = false;
    }
  }
  return survey;
}

/* ---- a cell's own records ---- */

struct cell_scan {
  const record_storage *identity = nullptr; /* 0xFF7B */
  const record_storage *colour = nullptr;   /* 0xD3 */
  const record_storage *resource = nullptr; /* a background image */
  const record_storage *repeat = nullptr;   /* its repeat record */
  const record_storage *definition = nullptr;
  const record_storage *reference = nullptr;
  const record_storage *label = nullptr;
  const record_storage *last_text = nullptr; /* the cell's last text run */
  const record_storage *next_cell = nullptr; /* the next cell of the table, where the scan stopped */
  DWORD header = 0;   /* the header flags of its first header record, as CellIsHeader */
  bool whole = false; /* the scan reached the cell's end (not the run's last record) */
};

/* The records of the cell (from the record after it to the next cell or
 * table end), at depth 0. */
cell_scan ScanCell(const html_render_info *c, const record_storage *cell) {
  cell_scan scan;
  DWORD depth = 0;
  const record_storage *node = cell->next;
  for (; node != nullptr && !IsBeyondLast(c, node); node = node->next) {
    const WORD signature = node->signature;
    if (IsTableBegin(signature)) {
      ++depth;
      continue;
    }
    if (IsTableEnd(signature)) {
      if (depth == 0)
        break;
      --depth;
      continue;
    }
    if (depth != 0)
      continue;
    if (IsTableCell(signature)) {
      scan.next_cell = node;
      break;
    }
    if (scan.header == 0 && signature == kHeaderRecord)
      scan.header = HeaderFlagsOf(node);
    if (IsTextRun(signature))
      scan.last_text = node;
    else if (signature == SIG_CD_IDNAME2 && scan.identity == nullptr)
      scan.identity = node;
    else if (signature == SIG_CD_CELLCOLOR && scan.colour == nullptr)
      scan.colour = node;
    else if (signature == SIG_CD_PABDEFINITION && scan.definition == nullptr)
      scan.definition = node;
    else if (signature == SIG_CD_PABREFERENCE && scan.reference == nullptr)
      scan.reference = node;
    else if (scan.label == nullptr && IsTabLabel(node))
      scan.label = node;
    else if (scan.resource == nullptr && IsBackgroundImage(node)) {
      scan.resource = node;
      if (node->next != nullptr && node->next->signature == SIG_CD_BACKGROUNDREPEAT)
        scan.repeat = node->next;
    }
  }
  scan.whole = node == nullptr || !IsBeyondLast(c, node);
  return scan;
}

/* ---- pre-table record ---- */

void PreTable(table_call &call, record_storage *node) {
  html_render_info *c = call.c;
  const BYTE display = Byte(node, offsetof(CDPRETABLEBEGIN, RowDisplay));
  c->pending_row_display = display;
  if (display == kRowDisplayTabs && Flag(c->flags2, f2::TabbedTablesInCSS))
    WriteTabBar(c, node);
  StepOn(c);
}

/* ---- the table's opening tag ---- */

/* How the opening tag's attributes are written. */
struct opening {
  record_storage *begin;
  table_sources sources;
  table_survey survey;
  bool encapsulated;
};

void PutIdentity(table_call &call, const record_storage *identity) {
  html_render_info *c = call.c;
  level_state &level = Level(c);
  identity_texts texts;
  const bool known = ReadIdentity(identity, &texts);
  static const char *const kNames[] = {" id='", " name='", " class='", " style='", " title='"};
  static const int kOrder[] = {kId, kName, kClass, kStyle, kTitle};
  for (int i = 0; i < 5 && known; ++i) {
    const int which = kOrder[i];
    if (texts.length[which] == 0)
      continue;
    RenderPuts(c, kNames[i]);
    RenderPutEscaped(c, kEscapeAttribute, texts.text[which], texts.length[which]);
    RenderPutc(c, '\'');
  }
  call.own_style = (known && texts.length[kStyle] != 0) || OtherHas(call, "style=");
  if ((!known || texts.length[kId] == 0) && !OtherHas(call, "id=") &&
      Flag(c->flags4, f4::AutoTagTable)) {
    if (c->table_level > 1)
      RenderPrintf(c, " id='n%dtbl%d'", int{c->table_level}, int{level.number});
    else
      RenderPrintf(c, " id='tbl%d'", int{level.number});
  }
}

/* The data-table kind of TarnoDataTable= (0 to 4), the key removed. */
int DataTableKind(table_call &call) {
  char value[16] = {};
  int kind = 0;
  if (call.other.data != nullptr &&
      ExtractProperty(call.other.data, "TarnoDataTable=", value, sizeof value) != 0) {
    kind = atoi(value);
    if (kind < 0 || kind > 4)
      kind = 0;
  }
  return kind;
}

void PutBorderAttributes(table_call &call, const opening &open) {
  html_render_info *c = call.c;
  level_state &level = Level(c);
  const bool css = Flag(c->flags, f1::CSSBorders);
  const bool sparse = Flag(c->flags4, f4::SparseTable);
  const bool uniform = open.survey.uniform;
  const bool noBorders = open.survey.no_borders;
  const bool branchA = !OtherHas(call, "border=") && !sparse && uniform;
  const record_storage *border = open.sources.border;
  if (!css) {
    if (!branchA)
      return;
    cell_fields first;
    if (ReadCellFields(open.begin->next, &first))
      RenderPrintf(c, " border='%u'", CellSides(first).top);
    else
      RenderPuts(c, " border='1'");
    return;
  }
  if (!branchA && sparse)
    return;
  if (!OtherHas(call, "cellspacing="))
    RenderPuts(c, " cellspacing='0'");
  if (!OtherHas(call, "cellpadding="))
    RenderPuts(c, " cellpadding='0'");
  render_text text{c->session};
  RenderTextPut(&text, "", 0);
  if (border != nullptr) {
    CalculateXMLBorderString(border, c);
    RenderTextPuts(&text, c->session->scratch_second);
  }
  if (text.status != NOERROR) {
    NoteFailure(call, VELKO_ERR_MEMORY);
    return;
  }
  level.border_mark = noBorders ? 0 : kUndecided;
  const bool borderStyleNone =
      border == nullptr || Word(border, offsetof(CDBORDERINFO, BorderStyle)) == 0;
  if (strstr(text.data, "border=") == nullptr && !OtherHas(call, "border=") &&
      (noBorders || (!uniform && borderStyleNone)))
    RenderPuts(c, " border='0'");
  if (branchA && uniform)
    level.border_mark = 1;
  if ((noBorders && text.length == 0) || call.own_style)
    return;
  auto spaces = [&] {
    if (border == nullptr || OtherHas(call, "vspace=") || OtherHas(call, "hspace="))
      return;
    const WORD top = Word(border, offsetof(CDBORDERINFO, OuterWidthTop));
    const WORD bottom = Word(border, offsetof(CDBORDERINFO, OuterWidthBottom));
    const WORD left = Word(border, offsetof(CDBORDERINFO, OuterWidthLeft));
    const WORD right = Word(border, offsetof(CDBORDERINFO, OuterWidthRight));
    if (top + bottom > 0)
      RenderPrintf(c, " vspace=\"%d\"", int{top > bottom ? top : bottom});
    if (left + right > 0)
      RenderPrintf(c, " hspace=\"%d\"", int{left > right ? left : right});
  };
  if (branchA) {
    spaces();
    RenderPrintf(c, " style='%sborder-collapse: collapse; %s%s'", c->curly_open, c->curly_close,
                 text.data);
  } else {
    RenderPrintf(c, open.encapsulated ? " style='%sborder-collapse: separate%s%s'"
                                      : " style='%sborder-collapse: separate; %s%s'",
                 c->curly_open, c->curly_close, text.data);
    spaces();
  }
}

/* The table fits the window (its width is given as a share of it). */
bool FitsWindow(const record_storage *begin, const record_storage *pretable) {
  const WORD beginFlags = Word(begin, offsetof(CDTABLEBEGIN, Flags));
  const DWORD preFlags = Dword(pretable, offsetof(CDPRETABLEBEGIN, Flags));
  return Flag(beginFlags, 0x0001) || Flag(preFlags, 0x01 | 0x40);
}

/* The attributes of the table's opening tag after "<table". */
void PutTableAttributes(table_call &call, const opening &open) {
  html_render_info *c = call.c;
  level_state &level = Level(c);
  PutIdentity(call, open.sources.identity);
  // The other attributes: the data-table kind and the control keys are
  // the renderer's.
  call.data_kind = DataTableKind(call);
  if (call.other.data != nullptr) {
    render_text written{c->session};
    RenderTextPut(&written, call.other.data, call.other.length);
    RemoveControlKeys(written);
    if (written.status != NOERROR)
      NoteFailure(call, VELKO_ERR_MEMORY);
    else
      PutExtraAttributes(c, written.data, written.length);
  }
  level.full_width = FitsWindow(open.begin, open.sources.pretable) ? 1 : 0;
  const bool sparseWidth =
      !Flag(c->flags4, f4::SparseTable) || Flag(c->flags4, f4::SparseTableWidth);
  if (level.full_width != 0 && !OtherHas(call, "width=") && (!open.encapsulated || sparseWidth))
    RenderPuts(c, " width='100%'");
  level.width = 0;
  if (level.full_width != 0 && open.survey.first_row_right > open.survey.first_row_left &&
      open.survey.first_row_left != 0xFFFFFFFF) {
    const DWORD width = open.survey.first_row_right - open.survey.first_row_left;
    level.width = width > kWidestTable ? kWidestTable : width;
  }
  PutBorderAttributes(call, open);
}

/* The cells' borders are surveyed with CSS borders, unless the table is
 * sparse. */
bool SurveysBorders(const html_render_info *c) {
  return Flag(c->flags, f1::CSSBorders) && !Flag(c->flags4, f4::SparseTable);
}

/* The survey of the table's cells, where anything written depends on it:
 * the cells' borders (surveyed with CSS borders), the column count (for a
 * colour style) or the first row's extent (for a table that fits the
 * window). Otherwise what a survey without borders gives for what is
 * read: single borders everywhere, and no extent. */
table_survey SurveyWhereNeeded(const html_render_info *c, record_storage *begin,
                               const record_storage *pretable) {
  const bool borders = SurveysBorders(c);
  if (borders || UsesColourStyle(Word(begin, offsetof(CDTABLEBEGIN, Flags))) ||
      FitsWindow(begin, pretable))
    return SurveyTable(begin, borders);
  return table_survey{};
}

/* Starts a new table level; false when the nesting is too deep to keep. */
bool RaiseLevel(html_render_info *c, record_storage *begin) {
  if (c->table_level + 1 >= kRenderTableLevels)
    return false;
  ++c->table_level;
  ++c->table_counter;
  level_state &level = Level(c);
  level = level_state{};
  level.number = c->table_counter;
  level.border_mark = kUndecided;
  level.begin_flags = Word(begin, offsetof(CDTABLEBEGIN, Flags));
  level.hspace = Word(begin, offsetof(CDTABLEBEGIN, HorizInterCellSpace));
  level.vspace = Word(begin, offsetof(CDTABLEBEGIN, VertInterCellSpace));
  c->cell_empty[c->table_level] = 0;
  c->cell_saved_record[c->table_level] = nullptr;
  c->cell_saved_flag[c->table_level] = 0;
  return true;
}

/* Before the table: an open paragraph division or paragraph is closed
 * unless the table continues it. */
void CloseParagraphBefore(table_call &call, const record_storage *begin) {
  html_render_info *c = call.c;
  const record_storage *stop = LookBackOverEmpty(begin->previous);
  if (TagOnXMLStack(c, 0, "</div>", 0) != 0) {
    const WORD outer = c->table_level;
    const bool tabbed = Flag(c->flags2, f2::TabbedTablesInCSS) && outer > 0 &&
                        outer < kRenderTableLevels && c->table_levels[outer].tabbed != 0;
    const bool section =
        Flag(c->flags2, f2::SectionsInCSS) && TagOnXMLStackWithID(c, 0, "</div>", 1) != 0;
    if (!tabbed && !section && !IsReference(stop))
      PopXMLStack(c, 0, "</div>", 1, 1, 0, 0, 1);
    return;
  }
  if (TagOnXMLStack(c, 0, "</p>", 0) != 0) {
    if (IsReference(stop))
      WriteXMLLineBreak(c);
    PopXMLStack(c, 0, "</p>", 1, 1, 0, 0, 1);
  }
}

/* Skips a table without output: a hidden table, or one nested too deep. */
step SkipTable(table_call &call, record_storage *after) {
  html_render_info *c = call.c;
  c->current_record = after;
  return c->table_level <= call.entry_level ? step::done : step::go_on;
}

step TableBegin(table_call &call, record_storage *begin) {
  html_render_info *c = call.c;
  call.no_table_begun = false;
  c->table_begin_record = begin;
  CloseParagraphBefore(call, begin);
  record_storage *after = begin;
  if (TableAllHidden(c, &after) != 0)
    return SkipTable(call, after);
  const WORD display = c->pending_row_display;
  c->pending_row_display = 0;
  if (!RaiseLevel(c, begin)) {
    record_storage *end = FindEndOfTable(c, begin);
    return SkipTable(call, end != nullptr ? end->next : nullptr);
  }
  level_state &level = Level(c);
  level.tabbed = display == kRowDisplayTabs ? 1 : 0;
  level.accordion = display == kRowDisplayCaptions && Flag(c->flags5, f5::SupportRico) ? 1 : 0;
  opening open{begin, LookBackFromBegin(begin), {}, false};
  level.pretable = open.sources.pretable;
  c->pretable_record = open.sources.pretable;
  open.survey = SurveyWhereNeeded(c, begin, open.sources.pretable);
  level.columns = open.survey.columns;
  LoadOther(call, open.sources.identity, true);
  level.stack_depth = XMLStackDepth(c);
  if (level.accordion != 0) {
    RenderPrintf(c, "<div id=\"accordionTblDiv%d\">", int{level.number});
    PushClosingTag(c, "</div>");
  } else {
    RenderPuts(c, "<table");
    PutTableAttributes(call, open);
    if (Flag(level.begin_flags, 0x0010))
      c->table_rtl = 1;
    if (!OtherHas(call, "dir=") && Flag(level.begin_flags, 0x0010))
      RenderPuts(c, " dir='rtl'");
    else if (!OtherHas(call, "dir=") && c->table_rtl != 0)
      RenderPuts(c, " dir='ltr'");
    RenderPutc(c, '>');
    PushClosingTag(c, "</table>");
  }
  StepOn(c);
  RenderTextFree(&call.other);
  if (call.caption.data != nullptr && call.caption.length != 0) {
    RenderPuts(c, "<caption>");
    CopyTranslatedText(c, call.caption.data, call.caption.length, nullptr, 1, 0, 0);
    RenderPuts(c, "</caption>");
  }
  RenderTextFree(&call.caption);
  return step::go_on;
}

/* A chunk that starts inside a table opens the table itself. */
void EncapsulatedStart(table_call &call, record_storage *cell) {
  html_render_info *c = call.c;
  record_storage *begin = cell;
  while (begin != nullptr && !IsTableBegin(begin->signature)) {
    // The walk from a cell met before ends where that one's did.
    if (begin == c->walked_back_cell) {
      begin = c->walked_back_begin;
      break;
    }
    begin = FindPreviousTableCell(c, begin);
  }
  c->walked_back_cell = cell;
  c->walked_back_begin = begin;
  if (begin == nullptr || !RaiseLevel(c, begin))
    return;
  c->table_encapsulated = 1;
  level_state &level = Level(c);
  opening open{begin, LookBackFromBegin(begin), {}, true};
  level.pretable = open.sources.pretable;
  open.survey = SurveyWhereNeeded(c, begin, open.sources.pretable);
  level.columns = open.survey.columns;
  LoadOther(call, open.sources.identity, false);
  level.stack_depth = XMLStackDepth(c);
  RenderPuts(c, "<table");
  PutTableAttributes(call, open);
  RenderPutc(c, '>');
  PushClosingTag(c, "</table>");
  RenderTextFree(&call.other);
  cell_fields fields;
  ReadCellFields(cell, &fields);
  if (fields.column != 0) {
    RenderPuts(c, "<tr>");
    PushClosingTag(c, "</tr>");
  }
}

/* ---- rows ---- */

const char *VerticalAlign(BYTE flags) {
  if (Flag(flags, cell_flags::AlignBottom))
    return "bottom";
  if (Flag(flags, cell_flags::AlignMiddle))
    return "middle";
  return "top";
}

void OpenGroups(html_render_info *c, const cell_scan &scan) {
  identity_texts texts;
  if (!ReadIdentity(scan.identity, &texts) || texts.length[kExtra] == 0)
    return;
  render_text extra{c->session};
  RenderTextPut(&extra, texts.text[kExtra], texts.length[kExtra]);
  SyncLength(extra);
  const bool head = TakeYes(extra, "TarnoTHEAD=");
  const bool foot = TakeYes(extra, "TarnoTFOOT=");
  const bool body = TakeYes(extra, "TarnoTBODY=");
  if (head) {
    if (FindOpen(c, "</thead>", "</table>") == nullptr) {
      RenderPuts(c, "<thead>");
      PushClosingTag(c, "</thead>");
    }
  } else if (foot) {
    CloseOpen(c, "</thead>");
    if (FindOpen(c, "</tfoot>", "</table>") == nullptr) {
      RenderPuts(c, "<tfoot>");
      PushClosingTag(c, "</tfoot>");
    }
  } else if (body) {
    CloseOpen(c, "</thead>");
    CloseOpen(c, "</tfoot>");
    CloseOpen(c, "</tbody>");
    RenderPuts(c, "<tbody>");
    PushClosingTag(c, "</tbody>");
  }
}

void WriteTabRow(html_render_info *c, const level_state &level, const cell_scan &scan,
                 const cell_fields &cell) {
  RenderPuts(c, "<tr style='padding-top: 4px; '><td width='100%' style='border: none; ' ");
  RenderPrintf(c, "bgcolor='%s'>",
               c->table_level > 0 && level.colour[0] != '\0' ? level.colour : "#ffffff");
  RenderPrintf(c, "<div style='margin-left: %dpx; position: relative; top: 1px; '><table ",
               5 * int{c->table_level});
  RenderPuts(c, "cellspacing='0' cellpadding='0' border='0' style='border-bottom: none; "
                "border-left: 1px solid #000000; border-right: 2px solid #000000; "
                "border-top: 1px solid #000000; '");
  char ignored[8];
  PutBackgroundColour(c, level, scan.colour, cell, ignored);
  const char *label = nullptr;
  size_t length = 0;
  if (LabelText(scan.label, &label, &length))
    RenderPrintf(c, " width='%d%%'", static_cast<int>(length) + 3);
  else
    RenderPuts(c, " width='10%'");
  RenderPuts(c, "><tr><td><span style=\"font-size: 10pt; color: rgb(0,0,0); "
                "font-family: sans-serif; \">");
  RenderPrintf(c, "<img src='%s' border='0' width='10' height='9' alt='TableTab'%s",
               OrDefault(c->tab_graphic, "/icons/folderp.gif"), IsXhtml(c) ? " />" : ">");
  if (label != nullptr)
    CopyTranslatedText(c, label, static_cast<DWORD>(length), nullptr, 1, 0, 0);
  else
    RenderPuts(c, "&lt;No&nbsp;tab&nbsp;label&gt;");
  RenderPuts(c, "&nbsp;</span></td></tr></table></div></td></tr>");
}

/* " valign='...'" of the cell flags. */
void PutVerticalAlign(html_render_info *c, BYTE flags) {
  RenderPuts(c, " valign='");
  RenderPuts(c, VerticalAlign(flags));
  RenderPutc(c, '\'');
}

/* An attribute whose value is a whole number in single quotes; `name`
 * holds the blank, the name, "=" and the opening quote. */
void PutQuotedNumber(html_render_info *c, const char *name, unsigned value) {
  RenderPuts(c, name);
  RenderPutDecimal(c, long{value});
  RenderPutc(c, '\'');
}

/* Opens the row of the cell shown at `position`; `fields` are the shown
 * cell's. */
void StartRow(table_call &call, const cell_fields &position, const cell_fields &fields,
              const cell_scan &scan) {
  html_render_info *c = call.c;
  level_state &level = Level(c);
  // The row still open in this table ends here, whatever the row number
  // says: it is one byte, and the row after row 255 reads 0 again. An
  // accordion's row ends with its table and divisions.
  if (level.accordion == 0) {
    CloseOpen(c, "</tr>");
  } else {
    PopToDepth(c, level.stack_depth + 1);
    const int number = level.number;
    const int row = position.row + 1;
    RenderPrintf(c, "<div id=\"ricoTbl%dRow%d\">", number, row);
    PushClosingTag(c, "</div>");
    if (scan.label != nullptr) {
      RenderPrintf(c, "<div id=\"ricoTbl%dCaption%d\" class=\"accordionTabTitleBar\">", number,
                   row);
      PutLabel(c, scan.label);
      RenderPuts(c, "</div>");
    }
    RenderPrintf(c, "<div id=\"ricoTbl%dContent%d\" class=\"accordionTabContentBox\">", number,
                 row);
    PushClosingTag(c, "</div>");
    RenderPuts(c, "<table border=\"0\">");
    PushClosingTag(c, "</table>");
  }
  OpenGroups(c, scan);
  if (level.tabbed != 0 && Flag(c->flags5, f5::OstrafineTabs))
    WriteTabRow(c, level, scan, fields);
  RenderPuts(c, "<tr");
  if (Flag(c->flags4, f4::AutoTagRow)) {
    if (c->table_level > 1)
      RenderPrintf(c, " id='n%dtbl%d_r%d'", int{c->table_level}, int{level.number},
                   position.row + 1);
    else
      RenderPrintf(c, " id='tbl%d_r%d'", int{level.number}, position.row + 1);
  }
  if (!Flag(c->flags4, f4::SparseTable))
    PutVerticalAlign(c, fields.flags);
  level.row_flags = fields.flags;
  RenderPutc(c, '>');
  PushClosingTag(c, "</tr>");
}

/* ---- cells ---- */

/* The definition of the cell's first paragraph: one among its records, else
 * the one in force for its first reference. */
const record_storage *FirstDefinition(table_call &call, const cell_scan &scan) {
  if (scan.definition != nullptr)
    return scan.definition;
  WORD pabid = 0;
  if (!ReferencePabid(scan.reference, &pabid))
    return nullptr;
  // From the run's table of definitions, as the paragraph renderer finds
  // them: the walk's index of paragraphs must not be moved ahead of the
  // records the driver renders next.
  return LastDefinitionBefore(call.c, scan.reference->ordinal,
                              ConvertPABIDToMapping(call.c, pabid), &call.definitions);
}

/* The fields of the cell's first definition (read once for the cells that
 * share it); false when it has none. */
bool ReadFirstDefinition(table_call &call, const cell_scan &scan, paragraph_definition *out) {
  const record_storage *node = FirstDefinition(call, scan);
  if (node == nullptr || node != call.first_read.node)
    call.first_read_ok = ReadParagraphDefinition(node, &call.first_read);
  *out = call.first_read;
  return call.first_read_ok;
}

int TwipsToPixels(long twips) {
  return twips > 0 ? static_cast<int>(twips * kPixelsPerInch / 1440) : 0;
}

const char *StyleWord(WORD beginFlags) {
  if (Flag(beginFlags, 0x0008))
    return "ridge";
  if (Flag(beginFlags, 0x0004))
    return "groove";
  return "solid";
}

void PutSide(render_text *text, const char *side, unsigned width, const char *style,
             const char *colour) {
  char piece[80];
  if (width == 0)
    snprintf(piece, sizeof piece, "border-%s: none; ", side);
  else
    snprintf(piece, sizeof piece, "border-%s: %upx %s %s; ", side, width, style, colour);
  RenderTextPuts(text, piece);
}

/* Under AutoTHFont=, a cell whose last text run is in that font is a
 * header cell. */
bool FontMakesHeader(const html_render_info *c, const record_storage *text) {
  FONTID font = 0;
  if (text == nullptr || text->data == nullptr || text->length < 4 + sizeof font)
    return false;
  memcpy(&font, text->data + 4, sizeof font);
  return FontNotFiltered(&font, &c->auto_th_font, c->auto_th_font_mask.given) != 0;
}

/* Opens the cell; `fields` are its own. */
void StartCell(table_call &call, record_storage *cell, const cell_fields &fields,
               const cell_scan &scan) {
  html_render_info *c = call.c;
  level_state &level = Level(c);
  const WORD levelIndex = c->table_level < kRenderTableLevels ? c->table_level : 0;
  const cell_sides sides = CellSides(fields);

  RenderTextFree(&call.other);
  identity_texts identity;
  const bool hasIdentity = ReadIdentity(scan.identity, &identity);
  if (hasIdentity && identity.length[kExtra] != 0) {
    RenderTextPut(&call.other, identity.text[kExtra], identity.length[kExtra]);
    SyncLength(call.other);
    if (call.other.status != NOERROR) {
      NoteFailure(call, VELKO_ERR_MEMORY);
      return;
    }
  }
  bool header = false;
  if (c->auto_th_font_set == 0)
    header = TakeYes(call.other, "TarnoTH=");
  else
    header = FontMakesHeader(c, scan.last_text);
  for (const char *key : kControlKeys)
    RemoveKey(call.other, key);
  // The spans are the table's structure: the renderer writes them.
  RemoveKey(call.other, "colspan=");
  RemoveKey(call.other, "rowspan=");
  CloseCell(c, false);

  const DWORD headerFlags = scan.whole ? scan.header : CellIsHeader(cell->next);
  const int kind = call.data_kind;
  if (headerFlags != 0 || ((kind == 1 || kind == 2) && fields.row == 0) ||
      ((kind == 3 || kind == 4) && fields.column == 0))
    header = true;
  if (header) {
    RenderPuts(c, "<th");
    if (Flag(headerFlags, 0x3))
      RemoveKey(call.other, "scope=");
    if (Flag(headerFlags, 0x2))
      RenderPuts(c, " scope=\"row\"");
    else if (Flag(headerFlags, 0x1))
      RenderPuts(c, " scope=\"col\"");
  } else {
    RenderPuts(c, "<td");
  }

  // Width.
  c->cell_empty[levelIndex] = 1;
  const long span = long{fields.right} - long{fields.left};
  int pixels = TwipsToPixels(span);
  if (sides.left < static_cast<unsigned>(pixels))
    pixels -= static_cast<int>(sides.left);
  double percent = 0.0;
  if (level.full_width != 0 && level.width != 0)
    percent = static_cast<double>(span) * 100.0 / level.width;
  paragraph_definition first;
  const bool hasFirst = ReadFirstDefinition(call, scan, &first);
  if (fields.column_span > 1) {
    if (hasFirst && first.right > first.left) {
      pixels = TwipsToPixels(long{first.right} - first.left);
    } else {
      cell_fields earlier;
      if (ReadCellFields(FindPreviousTableCell(c, cell), &earlier))
        pixels = TwipsToPixels(long{earlier.right} - (hasFirst ? first.left : 0));
      else
        pixels = kPixelsPerInch;
    }
  }

  // Identity.
  if (hasIdentity)
    NoteFailure(call, CalculateXMLIDName(scan.identity->data, scan.identity->length, c,
                                         call.other.length != 0 ? call.other.data : nullptr));
  bool idWritten = (hasIdentity && identity.length[kId] != 0) || OtherHas(call, "id=");
  const bool ownStyle = (hasIdentity && identity.length[kStyle] != 0) || OtherHas(call, "style=");

  const bool sparse = Flag(c->flags4, f4::SparseTable);
  if (!OtherHas(call, "width=") && (!sparse || Flag(c->flags4, f4::SparseTableWidth))) {
    const DWORD sizing =
        fields.column < 32
            ? Dword(level.pretable, 12) >> fields.column
            : fields.column < 64 ? Dword(level.pretable, 16) >> (fields.column - 32) : 0;
    const bool sized = level.full_width != 0 && level.pretable != nullptr && (sizing & 1) != 0;
    if (percent != 0.0 && !sized)
      RenderPrintf(c, " width='%2.0f%%'", percent);
    else
      PutQuotedNumber(c, " width='", static_cast<unsigned>(pixels));
  }

  // Data-table attributes.
  switch (kind) {
  case 1:
    if (fields.row == 0) {
      if (!idWritten) {
        RenderPrintf(c, " id='c%d'", fields.column + 1);
        idWritten = true;
      }
    } else if (!OtherHas(call, "headers=")) {
      RenderPrintf(c, " headers='c%d'", fields.column + 1);
    }
    break;
  case 2:
    if (fields.row == 0 && !OtherHas(call, "scope="))
      RenderPuts(c, " scope='col'");
    break;
  case 3:
    if (fields.column == 0) {
      if (!idWritten) {
        RenderPrintf(c, " id='r%d'", fields.row + 1);
        idWritten = true;
      }
    } else if (!OtherHas(call, "headers=")) {
      RenderPrintf(c, " headers='r%d'", fields.row + 1);
    }
    break;
  case 4:
    if (fields.column == 0 && !OtherHas(call, "scope="))
      RenderPuts(c, " scope='row'");
    break;
  default:
    break;
  }
  if (!idWritten && Flag(c->flags4, f4::AutoTagCell)) {
    if (c->table_level > 1)
      RenderPrintf(c, " id='n%dtbl%d_r%d_c%d'", int{c->table_level}, int{level.number},
                   fields.row + 1, fields.column + 1);
    else
      RenderPrintf(c, " id='tbl%d_r%d_c%d'", int{level.number}, fields.row + 1,
                   fields.column + 1);
  }

  // Background image. The style texts below stay empty (without a block)
  // in most cells; the cell's style is written from them in one go.
  render_text background{c->session};
  const char *imageName = nullptr;
  size_t imageLength = 0;
  render_text evaluatedName{c->session};
  std::string_view resourceName;
  const bool image =
      scan.resource != nullptr && BackgroundName(c, scan.resource, &evaluatedName, &imageName,
                                                 &imageLength, &resourceName);
  if (evaluatedName.status == VELKO_ERR_MEMORY)
    NoteFailure(call, VELKO_ERR_MEMORY);
  if (image) {
    RenderTextPuts(&background, "background-image: url(cid:");
    const DWORD idAt = background.length;
    PutCssUrlName(&background, imageName, imageLength);
    if (!ReportBackgroundResource(c, background, idAt, imageName, imageLength, resourceName))
      NoteFailure(call, VELKO_ERR_MEMORY);
    RenderTextPuts(&background, ");");
    PutRepeat(&background, scan.repeat);
  }

  // Borders.
  const bool threeD = Flag(level.begin_flags, 0x0004 | 0x0008);
  const bool borderColour =
      (Word(level.pretable, offsetof(CDPRETABLEBEGIN, CellBorderColor)) & 0x0001) != 0;
  char colour[16] = "black";
  if (borderColour)
    snprintf(colour, sizeof colour, "#%02x%02x%02x", Byte(level.pretable, 38),
             Byte(level.pretable, 39), Byte(level.pretable, 40));
  const char *style = StyleWord(level.begin_flags);
  char padding[64] = "";
  size_t paddingLength = 0;
  if (level.hspace != 0 || level.vspace != 0) {
    snprintf(padding, sizeof padding, "padding: %6.4fin %6.4fin; ", level.vspace / kTwipsPerInch,
             level.hspace / kTwipsPerInch);
    paddingLength = strlen(padding);
  }
  render_text borderText{c->session};
  bool backgroundUsed = false;
  if (level.border_mark == 0 || level.border_mark == 1) {
    if (!OtherHas(call, "border=")) {
      RenderPuts(c, " border=\"");
      RenderPutDecimal(c, long{sides.left});
      RenderPutc(c, '"');
    }
    char text[96];
    if (threeD || borderColour) {
      if (image && !OtherHas(call, "background=")) {
        RenderPuts(c, " background=\"cid:");
        RenderPutEscaped(c, kEscapeURL, imageName, imageLength);
        RenderPutc(c, '"');
      }
      RenderTextPut(&borderText, padding, paddingLength);
      snprintf(text, sizeof text, "border: %upx %s %s; ", sides.left, style, colour);
    } else {
      RenderTextPut(&borderText, background.data, background.length);
      backgroundUsed = true;
      snprintf(text, sizeof text, "border: %upx solid black; ", sides.left);
    }
    RenderTextPuts(&borderText, text);
  } else if (level.border_mark == kUndecided && Flag(c->flags, f1::CSSBorders) && !sparse &&
             !OtherHas(call, "class=") && !(hasIdentity && identity.length[kClass] != 0)) {
    // A class of the cell's own (in its identity or other attributes)
    // keeps the border class out: an element has one class attribute.
    render_text sideText{c->session};
    if (sides.top == sides.right && sides.top == sides.bottom && sides.top == sides.left) {
      char text[80];
      if (sides.top == 0)
        snprintf(text, sizeof text, "border: none; ");
      else
        snprintf(text, sizeof text, "border: %upx %s %s; ", sides.top, style, colour);
      RenderTextPuts(&sideText, text);
    } else {
      PutSide(&sideText, "top", sides.top, style, colour);
      PutSide(&sideText, "left", sides.left, style, colour);
      PutSide(&sideText, "right", sides.right, style, colour);
      PutSide(&sideText, "bottom", sides.bottom, style, colour);
    }
    if (Flag(c->flags2, f2::MoveStylesInline)) {
      RenderTextPut(&borderText, sideText.data, sideText.length);
    } else {
      char key[12];
      BorderClassKey(sides, key);
      RenderPrintf(c, " class='brdr%s'", key);
    }
  }

  // Alignment, colour, spans.
  if (!OtherHas(call, "align=") && !sparse && !Flag(c->flags, f1::ForceParagraphs) && hasFirst) {
    if (first.justify == 1)
      RenderPuts(c, " align='right'");
    else if (first.justify == 2)
      RenderPuts(c, " align='justify'");
    else if (first.justify == 3)
      RenderPuts(c, " align='center'");
  }
  if (!OtherHas(call, "bgcolor=") && !sparse)
    PutBackgroundColour(c, level, scan.colour, fields, level.colour);
  const BYTE alignBits = cell_flags::AlignMiddle | cell_flags::AlignBottom;
  if (!OtherHas(call, "valign=") && !sparse &&
      (fields.flags & alignBits) != (level.row_flags & alignBits))
    PutVerticalAlign(c, fields.flags);
  if (fields.column_span > 1)
    PutQuotedNumber(c, " colspan='", fields.column_span);
  if (fields.row_span > 1) {
    PutQuotedNumber(c, " rowspan='", fields.row_span);
    if (c->cell_saved_record[levelIndex] != nullptr)
      c->cell_saved_flag[levelIndex] = 1;
  }

  // The cell's style: the padding (unless the borders have it), the
  // background (unless the borders have it) and the borders.
  if (background.status != NOERROR || borderText.status != NOERROR) {
    NoteFailure(call, VELKO_ERR_MEMORY);
    return;
  }
  const size_t stylePadding = !threeD && !borderColour ? paddingLength : 0;
  const size_t styleBackground = backgroundUsed ? 0 : background.length;
  if (stylePadding + styleBackground + borderText.length != 0 && !ownStyle) {
    RenderPuts(c, " style=\"");
    RenderPuts(c, c->curly_open);
    RenderPut(c, padding, stylePadding);
    RenderPut(c, background.data, styleBackground);
    RenderPut(c, borderText.data, borderText.length);
    RenderPuts(c, c->curly_close);
    RenderPutc(c, '"');
  }
  RenderPutc(c, '>');
  PushClosingTag(c, header ? "</th>" : "</td>");
  if (level.tabbed != 0 && Flag(c->flags2, f2::TabbedTablesInCSS) && fields.column == 0) {
    RenderPrintf(c, IsXhtml(c) ? "<div id=\"ttbl%drow%d\" style=\"display: %s\">"
                               : "<div id=ttbl%drow%d style=\"display: %s\">",
                 int{level.number}, fields.row + 1, fields.row == 0 ? "block" : "none");
    if (PushXMLStackWithID(c, 0, "</div>", levelIndex) == nullptr)
      NoteFailure(call, VELKO_ERR_MEMORY);
  }
  RenderTextFree(&call.other);
}

step Cell(table_call &call, record_storage *cell) {
  html_render_info *c = call.c;
  const WORD levelIndex = c->table_level < kRenderTableLevels ? c->table_level : 0;
  // After a cell that spans rows the walk goes back to the cell after its
  // position.
  if (c->cell_saved_record[levelIndex] != nullptr && c->cell_saved_flag[levelIndex] != 0) {
    c->current_record = c->cell_saved_record[levelIndex];
    c->cell_saved_record[levelIndex] = nullptr;
    c->cell_saved_flag[levelIndex] = 0;
    return step::go_on;
  }
  if (call.no_table_begun && Flag(c->flags2, f2::EncapsulateTable) && c->table_encapsulated == 0 &&
      c->table_level == 0) {
    EncapsulatedStart(call, cell);
    if (call.status != NOERROR)
      return step::done;
  }
  const WORD level = c->table_level < kRenderTableLevels ? c->table_level : 0;

  // The grid position: a position whose cell is shown elsewhere (a covered
  // cell whose spanning cell starts there) stays; others are passed.
  record_storage *position = cell;
  cell_fields at;
  ReadCellFields(position, &at);
  int rowLeft = at.column == 0 ? at.row : -1;
  record_storage *shown = nullptr;
  // A cell that neither spans nor is covered is shown where it stands.
  const bool plain = (at.flags & cell_flags::Covered) == 0 && at.row_span == 1 &&
                     at.column_span == 1;
  for (shown = cell; !plain;) {
    shown = FindDisplayedTableCell(c, position);
    if (CellStartsSpan(c, position, shown) != 0)
      break;
    record_storage *next = FindNextTableCell(c, position);
    if (next == nullptr) {
      c->current_record = nullptr;
      return step::done;
    }
    cell_fields following;
    const bool isCell = ReadCellFields(next, &following);
    if (rowLeft >= 0 && (!isCell || (following.column == 0 && following.row == rowLeft + 1))) {
      CloseOpen(c, "</tr>");
      RenderPuts(c, "<tr></tr>");
    }
    if (!isCell) {
      c->current_record = next;
      return step::go_on;
    }
    position = next;
    if (following.column == 0)
      rowLeft = following.row;
  }
  c->position_cell = position;
  if (position != cell)
    ReadCellFields(position, &at);
  // Row 0 Column 0 has no cell before it, unless the row number wrapped
  // past 255 while a row of this table is open.
  const bool firstCell =
      at.row == 0 && at.column == 0 && FindOpen(c, "</tr>", "</table>") == nullptr;
  if (!firstCell && (at.flags & cell_flags::Covered) == 0)
    CloseCell(c, Flag(c->flags3, f3::FillEmptyTableCells));
  if (shown != cell) {
    c->current_record = shown;
    c->cell_saved_record[level] = FindNextTableCell(c, position);
  } else {
    c->cell_saved_record[level] = nullptr;
  }
  c->cell_saved_flag[level] = 0;
  const cell_scan scan = ScanCell(c, shown);
  cell_fields shownFields = at;
  if (shown != position)
    ReadCellFields(shown, &shownFields);
  const bool startsRow =
      at.column == 0 ||
      (call.scanned_next == position
           ? CellAfterStartsRow(c, at, call.scanned, call.scanned_fields)
           : CellOfFieldsStartsRow(c, position, at)) != 0;
  call.scanned = shown;
  call.scanned_fields = shownFields;
  call.scanned_next = scan.next_cell;
  if (startsRow)
    StartRow(call, at, shownFields, scan);
  StartCell(call, shown, shownFields, scan);
  if (call.status != NOERROR)
    return step::done;
  c->current_record = shown->next;
  return step::go_on;
}

/* ---- table end ---- */

step TableEnd(table_call &call) {
  html_render_info *c = call.c;
  const WORD levelIndex = c->table_level < kRenderTableLevels ? c->table_level : 0;
  if (c->cell_saved_record[levelIndex] != nullptr && c->cell_saved_flag[levelIndex] != 0) {
    c->current_record = c->cell_saved_record[levelIndex];
    c->cell_saved_record[levelIndex] = nullptr;
    c->cell_saved_flag[levelIndex] = 0;
    return step::go_on;
  }
  level_state &level = Level(c);
  if (c->table_level > 0) {
    CloseCell(c, Flag(c->flags3, f3::FillEmptyTableCells));
    PopToDepth(c, level.stack_depth);
    if (level.accordion != 0)
      RenderPrintf(c, "<script>{new Rico.Accordion( $('accordionTblDiv%d') );}</script>",
                   int{level.number});
    c->cell_saved_record[levelIndex] = nullptr;
    c->cell_saved_flag[levelIndex] = 0;
    level = level_state{};
    --c->table_level;
  } else if (TagOnXMLStack(c, 0, "</table>", 0) != 0) {
    PopXMLStack(c, 0, "</table>", 1, 1, 0, 0, 0);
  }
  StepOn(c);
  return c->table_level <= call.entry_level ? step::done : step::go_on;
}

/* ---- content ---- */

bool IsContent(WORD signature) {
  switch (signature) {
  case SIG_CD_PARAGRAPH:
  case SIG_CD_PABREFERENCE:
  case SIG_CD_GRAPHIC:
  case SIG_CD_STYLENAME:
  case SIG_CD_BEGIN:
  case SIG_CD_RESOURCELINKBEGIN:
  case SIG_CD_PABDEFINITION:
  case SIG_CD_TEXT:
  case SIG_CD_LINK:
  case SIG_CD_DOCLINK:
  case SIG_CD_HOTSPOTBEGIN:
  case SIG_CD_V4HOTSPOTBEGIN:
  case SIG_CD_BIDI_TEXT:
  // Records the driver renders that may also open a cell.
  case SIG_CD_FIELD:
  case SIG_CD_HRULE:
  case SIG_CD_ANCHOR:
  case SIG_CD_HTMLBEGIN:
  case SIG_CD_SECTIONBAR:
  case SIG_CD_LAYOUT:
  case SIG_CD_LARGEPARAGRAPH:
    return true;
  default:
    return false;
  }
}

step Content(table_call &call, record_storage *node) {
  html_render_info *c = call.c;
  const STATUS status = ProcessXMLStream(c, call.begin, static_cast<WORD>(call.depth + 1), 0);
  if (status != NOERROR) {
    NoteFailure(call, status);
    return step::done;
  }
  const record_storage *at = c->current_record;
  if (call.begin != 0 && call.depth != 0 && at != nullptr && at->previous != nullptr &&
      at->previous->signature == SIG_CD_END && NodeBracket(at->previous) == call.begin)
    return step::done;
  if (c->current_record == node)
    StepOn(c);
  return step::go_on;
}

} // namespace

/* ---- the renderer ---- */

STATUS ProcessXMLTable(html_render_info *context, WORD beginSignature, WORD depth) {
  html_render_info *c = context;
  table_call call(context, beginSignature, depth);
  while (call.status == NOERROR && c->output_status == NOERROR && c->current_record != nullptr &&
         !IsBeyondLast(c, c->current_record)) {
    record_storage *node = c->current_record;
    step next = step::go_on;
    switch (node->signature) {
    case SIG_CD_END:
      StepOn(c);
      next = step::done;
      break;
    case SIG_CD_TABLEEND:
    case SIG_CD_NESTEDTABLEEND:
      next = TableEnd(call);
      break;
    case SIG_CD_TABLEBEGIN:
    case SIG_CD_NESTEDTABLEBEGIN:
      next = TableBegin(call, node);
      break;
    case SIG_CD_TABLECELL:
    case SIG_CD_NESTEDTABLECELL:
      next = Cell(call, node);
      break;
    case SIG_CD_PRETABLEBEGIN:
      PreTable(call, node);
      break;
    case SIG_CD_BORDERINFO:
    case SIG_CD_IDNAME:
      StepOn(c); // read again from the table begin
      break;
    default:
      if (IsContent(node->signature))
        next = Content(call, node);
      else
        StepOn(c);
      break;
    }
    if (next == step::done)
      break;
    // A record no handler moved past is passed, so that the walk always
    // ends.
    if (c->current_record == node && call.status == NOERROR)
      StepOn(c);
  }
  if (call.status == NOERROR && (call.other.status != NOERROR || call.caption.status != NOERROR))
    call.status = VELKO_ERR_MEMORY;
  return call.status;
}

DWORD TableAllHidden(html_render_info *context, record_storage **node) {
  if (node == nullptr || *node == nullptr || !Flag(context->flags2, f2::RespectHiddenFormulas))
    return 0;
  DWORD depth = 0;
  record_storage *at = *node;
  for (; at != nullptr; at = at->next) {
    const WORD signature = at->signature;
    if (IsTableBegin(signature)) {
      ++depth;
    } else if (IsTableEnd(signature)) {
      if (depth > 0)
        --depth;
      if (depth == 0)
        break;
    } else if (signature == SIG_CD_PABREFERENCE) {
      if (ParagraphIsHidden(context, at) != 1)
        return 0;
    }
  }
  // A table that runs to the end of the records without its end record is
  // passed to that end.
  *node = at != nullptr ? at->next : nullptr;
  return 1;
}

DWORD CellIsHeader(const record_storage *node) {
  DWORD depth = 0;
  for (; node != nullptr; node = node->next) {
    const WORD signature = node->signature;
    if (IsTableBegin(signature)) {
      ++depth;
      continue;
    }
    if (IsTableEnd(signature)) {
      if (depth == 0)
        return 0;
      --depth;
      continue;
    }
    if (depth != 0)
      continue;
    if (IsTableCell(signature))
      return 0;
    if (const DWORD flags = HeaderFlagsOf(node); flags != 0)
      return flags;
  }
  return 0;
}

namespace {

/* The first header flags (row or column bit set) of a header record; 0
 * for any other record. */
DWORD HeaderFlagsOf(const record_storage *node) {
  if (node->signature != kHeaderRecord || Word(node, 4) != kHeaderRecordKind)
    return 0;
  const WORD count = Word(node, 2);
  for (WORD i = 0; i < count; ++i) {
    const size_t at = 12 + 4 * size_t{i};
    if (node->data == nullptr || at + 4 > node->length)
      break;
    const DWORD flags = Dword(node, at);
    if ((flags & 0x3) != 0)
      return flags;
  }
  return 0;
}

} // namespace
