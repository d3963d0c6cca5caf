/*
 * Positioned content: layers and layout regions, each written as
 * positioned div elements.
 *
 * ProcessXMLLayer writes one div for a layer (a CDBEGIN/CDEND bracket for
 * 0x6C around a CDLAYER, its positioning, size, background and identity
 * records, then its content): the style comes from the property records
 * that open the bracket, and the content after them is rendered by the
 * record driver one call deeper. ProcessXMLLayout writes a layout region
 * (CDLAYOUT to CDLAYOUTEND) as a relatively positioned div holding one
 * absolutely positioned div per placed field, with the field's first text.
 *
 * Tags opened inside a layer or a field are closed before its "</div>",
 * and the layer's paragraphs close nothing opened before it, so that the
 * div never straddles markup. Not here: the driver's own handling
 * of the layer bracket (render/driver.cpp).
 */
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "engine/record_fields.h"
#include "engine/services.h"
#include "generate/length_value.h"
#include "host/oslog.h"
#include "render/identity.h"
#include "render/output_buffer.h"
#include "render/family_renderers.h"
#include "render/tag_stack.h"
#include "render/text_render.h"
#include "store/body.h"
#include "store/session.h"
#include "velko/status.h"

namespace {

/* Twips to pixels: 15 twips a pixel. */
unsigned Pixels(WORD twips) { return unsigned{twips} * 96 / 1440; }

/* A horizontal position in a layout region, measured from a 1-inch margin. */
unsigned MarginPixels(WORD twips) { return twips < 1440 ? 0 : Pixels(static_cast<WORD>(twips - 1440)); }

void Trace(const html_render_info *c, const char *text) {
  if (c->session != nullptr && c->session->internal->debug_level > 2)
    AddInLogMessageText("%s", 0, text);
}

bool Usable(const html_render_info *c, const record_storage *node) {
  return node != nullptr && !IsBeyondLast(c, node);
}

bool IsLayerEnd(const record_storage *node) {
  return node->signature == SIG_CD_END && NodeBracket(node) == SIG_CD_LAYER;
}

/* The records that describe a layer rather than hold its content. */
bool IsLayerProperty(WORD signature) {
  switch (signature) {
  case SIG_CD_LAYER:
  case SIG_CD_POSITIONING:
  case SIG_CD_BOXSIZE:
  case SIG_CD_BACKGROUNDCOLOR:
  case SIG_CD_LAYERBACKGROUND:
  case SIG_CD_IDNAME:
    return true;
  default:
    return false;
  }
}

/* A CDBEGIN or CDEND of the bracket that holds a layer's background (its
 * colour, image resource and repeat), which stands among the layer's
 * property records. */
bool IsBackgroundBracket(const record_storage *node) {
  return (node->signature == SIG_CD_BEGIN || node->signature == SIG_CD_END) &&
         NodeBracket(node) == SIG_CD_LAYERBACKGROUND;
}

/* Records that leave a layer empty when they are all it holds after its
 * first paragraph: paragraph styles, colours, text brackets and text runs
 * without text. A further paragraph is a line of the layer's own. */
bool WritesNothingInLayer(const record_storage *node) {
  switch (node->signature) {
  case SIG_CD_PABREFERENCE:
  case SIG_CD_PABDEFINITION:
  case 0xFFC3:
  case SIG_CD_COLOR:
    return true;
  case SIG_CD_BEGIN:
  case SIG_CD_END:
    return IsTextRun(NodeBracket(node));
  case SIG_CD_TEXT:
  case SIG_CD_BIDI_TEXT:
    return node->length <= sizeof(CDTEXT);
  default:
    return false;
  }
}

bool ReadLength(const record_storage *node, DWORD offset, LENGTH_VALUE *value) {
  if (node->data == nullptr || node->length < offset + sizeof *value)
    return false;
  memcpy(value, node->data + offset, sizeof *value);
  return true;
}

void PutLength(html_render_info *c, const char *name, const LENGTH_VALUE &value) {
  char text[kLengthValueTextSize + 1] = {};
  FormatLengthValue(&value, text, sizeof text);
  RenderPuts(c, name);
  RenderPuts(c, text);
  RenderPuts(c, "; ");
}

void PutPositioning(html_render_info *c, const record_storage *node) {
  BYTE scheme = 0;
  LENGTH_VALUE top;
  LENGTH_VALUE left;
  DWORD zIndex = 0;
  if (!ReadRecordByte(node->data, node->length, offsetof(CDPOSITIONING, Scheme), &scheme) ||
      !ReadRecordDword(node->data, node->length, offsetof(CDPOSITIONING, ZIndex), &zIndex) ||
      !ReadLength(node, offsetof(CDPOSITIONING, Top), &top) ||
      !ReadLength(node, offsetof(CDPOSITIONING, Left), &left))
    return;
  RenderPuts(c, "position: ");
  RenderPuts(c, scheme == 0   ? "static; "
                : scheme == 2 ? "relative; "
                : scheme == 3 ? "fixed; "
                              : "absolute; ");
  PutLength(c, "top: ", top);
  PutLength(c, "left: ", left);
  RenderPrintf(c, "z-index: %ld; ", static_cast<long>(static_cast<int32_t>(zIndex)));
}

void PutBoxSize(html_render_info *c, const record_storage *node) {
  LENGTH_VALUE width;
  LENGTH_VALUE height;
  if (!ReadLength(node, offsetof(CDBOXSIZE, Width), &width) ||
      !ReadLength(node, offsetof(CDBOXSIZE, Height), &height))
    return;
  PutLength(c, "width: ", width);
  PutLength(c, "height: ", height);
}

bool ReadColour(const record_storage *node, DWORD offset, COLOR_VALUE *colour) {
  if (node->data == nullptr || node->length < offset + sizeof *colour)
    return false;
  memcpy(colour, node->data + offset, sizeof *colour);
  return (colour->Flags & 0x0001) != 0;
}

void PutBackground(html_render_info *c, const record_storage *node) {
  COLOR_VALUE colour;
  if (ReadColour(node, offsetof(CDCOLOR, Color), &colour))
    RenderPrintf(c, "background-color: rgb(%d,%d,%d); ", colour.Red, colour.Green, colour.Blue);
}

/* The tags and font state of content rendered inside a div: what is opened
 * there is closed before the div is. */
struct inner_markup {
  DWORD depth;
  FONTID font;
};

inner_markup OpenInner(const html_render_info *c) { return {XMLStackDepth(c), c->current_font}; }

void CloseInner(html_render_info *c, const inner_markup &mark) {
  while (c->tag_stack != nullptr && XMLStackDepth(c) > mark.depth) {
    if (PopXMLStack(c, 0, nullptr, 1, 0, 0, 0, 0) == 0)
      break;
  }
  c->current_font = mark.font;
}

/* The layer's CDEND after `from` (layers nested inside counted), or null. */
record_storage *FindLayerEnd(const html_render_info *c, record_storage *from) {
  DWORD open = 0;
  for (record_storage *node = from; Usable(c, node); node = node->next) {
    if (node->signature == SIG_CD_BEGIN && NodeBracket(node) == SIG_CD_LAYER)
      ++open;
    else if (IsLayerEnd(node) && open-- == 0)
      return node;
  }
  return nullptr;
}

bool LayerIsEmpty(const html_render_info *c, const record_storage *content) {
  const record_storage *node = content;
  if (Usable(c, node) && node->signature == SIG_CD_PARAGRAPH)
    node = node->next; // the paragraph the layer's text starts in
  for (; Usable(c, node) && !IsLayerEnd(node); node = node->next) {
    if (!WritesNothingInLayer(node))
      return false;
  }
  return true;
}

/* The first record after the layer's property records from `first`: its
 * content's first, or its CDEND. The background bracket is passed whole,
 * whatever it holds, but not beyond the layer's end. */
record_storage *PropertiesEnd(const html_render_info *c, record_storage *first) {
  bool inBackground = false;
  record_storage *node = first;
  for (; Usable(c, node) && !IsLayerEnd(node); node = node->next) {
    if (IsBackgroundBracket(node))
      inBackground = node->signature == SIG_CD_BEGIN;
    else if (!inBackground && !IsLayerProperty(node->signature))
      break;
  }
  return node;
}

/* Writes the layer's start tag from its property records, from `first` up
 * to the first record that is not one; returns that record (its content's
 * first, or its CDEND). */
record_storage *WriteLayerStart(html_render_info *c, record_storage *first, STATUS *status) {
  record_storage *const end = PropertiesEnd(c, first);
  RenderPuts(c, "<div");
  for (record_storage *node = first; node != end; node = node->next) {
    if (node->signature == SIG_CD_IDNAME && node->data != nullptr) {
      *status = CalculateXMLIDName(node->data, node->length, c, nullptr);
      break;
    }
  }
  RenderPuts(c, " style=\"");
  RenderPuts(c, c->curly_open);
  for (record_storage *node = first; node != end; node = node->next) {
    if (node->signature == SIG_CD_POSITIONING)
      PutPositioning(c, node);
    else if (node->signature == SIG_CD_BOXSIZE)
      PutBoxSize(c, node);
    else if (node->signature == SIG_CD_BACKGROUNDCOLOR)
      PutBackground(c, node);
  }
  RenderPuts(c, c->curly_close);
  RenderPuts(c, "\">");
  return Usable(c, end) ? end : nullptr;
}

/* Passes a layer the driver does not enter: its CDEND is consumed here, so
 * the layer level the driver raised at its CDBEGIN is lowered here too. */
void SkipLayer(html_render_info *c, const record_storage *begin, record_storage *content) {
  record_storage *end = FindLayerEnd(c, content);
  c->current_record = end != nullptr ? end->next : nullptr;
  if (begin->signature == SIG_CD_BEGIN && end != nullptr && c->layer_level > 0)
    --c->layer_level;
}

/* ---- layout regions ---- */

/* The "style=" value of the field font's span declarations, without the
 * braces of UseCurlyBracesInline=, appended to `out`. The markup is built
 * apart: no closing tag is left on the stack and the font state stays. */
void FieldFontStyle(html_render_info *c, FONTID font, render_text *out) {
  xml_stack_node *saved = c->tag_stack;
  const DWORD savedDepth = c->tag_depth;
  const FONTID savedFont = c->current_font;
  c->tag_stack = nullptr;
  c->tag_depth = 0;
  render_text markup{c->session};
  CalculateXMLFontStringToText(font, nullptr, c, 0, 0, &markup);
  while (c->tag_stack != nullptr)
    PopXMLStack(c, 0, nullptr, 0, 0, 0, 0, 0);
  c->tag_stack = saved;
  c->tag_depth = savedDepth;
  c->current_font = savedFont;
  const char *key = markup.data != nullptr ? strstr(markup.data, "style=\"") : nullptr;
  if (key == nullptr)
    return;
  const char *value = key + strlen("style=\"");
  const char *close = strchr(value, '"');
  if (close == nullptr)
    return;
  const size_t open = strlen(c->curly_open);
  const size_t shut = strlen(c->curly_close);
  size_t length = static_cast<size_t>(close - value);
  if (open > 0 && length >= open + shut && strncmp(value, c->curly_open, open) == 0) {
    value += open;
    length -= open + shut;
  }
  RenderTextPut(out, value, length);
}

void WriteRegionStart(html_render_info *c, const record_storage *node) {
  WORD margin = 0;
  WORD width = 0;
  WORD height = 0;
  ReadRecordWord(node->data, node->length, offsetof(CDLAYOUT, LeftMargin), &margin);
  ReadRecordWord(node->data, node->length, offsetof(CDLAYOUT, Width), &width);
  ReadRecordWord(node->data, node->length, offsetof(CDLAYOUT, Height), &height);
  RenderPuts(c, "<div style=\"");
  RenderPuts(c, c->curly_open);
  RenderPrintf(c, "position:relative;top:0px;left:%upx;z-index:1; ", MarginPixels(margin));
  RenderPrintf(c, "width:%upx;height:%upx; ", Pixels(width), Pixels(height));
  RenderPuts(c, c->curly_close);
  RenderPuts(c, "\">");
}

enum : DWORD {
  kFieldBordered = 0x00000001,
  kFieldLeftToRight = 0x01000000,
  kFieldRightToLeft = 0x02000000,
  kFieldTransparent = 0x10000000,
  kFieldCentre = 0x20000000,
  kFieldRight = 0x40000000,
  kFieldVerticalCentre = 0x80000000,
};

void WriteFieldStart(html_render_info *c, const record_storage *node) {
  CDLAYOUTFIELD field = {};
  memcpy(&field, node->data, node->length < sizeof field ? node->length : sizeof field);
  RenderPuts(c, "<div style=\"");
  RenderPuts(c, c->curly_open);
  RenderPrintf(c, "position:absolute;top:%upx;left:%upx;z-index:2; ", Pixels(field.Top),
               MarginPixels(field.Left));
  RenderPrintf(c, "width:%upx;height:%upx; ", Pixels(field.Width), Pixels(field.Height));
  render_text style{c->session};
  FieldFontStyle(c, field.FontID, &style);
  if (style.length > 0) {
    RenderPutc(c, ' ');
    RenderPut(c, style.data, style.length);
    RenderPutc(c, ' ');
  }
  if ((field.BackColor.Flags & 0x0001) != 0)
    RenderPrintf(c, "background-color:rgb(%d,%d,%d); ", field.BackColor.Red,
                 field.BackColor.Green, field.BackColor.Blue);
  const DWORD flags = field.Flags;
  if ((flags & kFieldCentre) != 0)
    RenderPuts(c, "text-align:center; ");
  else if ((flags & kFieldRight) != 0)
    RenderPuts(c, "text-align:right; ");
  if ((flags & kFieldVerticalCentre) != 0)
    RenderPuts(c, "vertical-align:middle; ");
  if ((flags & kFieldLeftToRight) != 0)
    RenderPuts(c, "direction: ltr;");
  else if ((flags & kFieldRightToLeft) != 0)
    RenderPuts(c, "direction: rtl;");
  if ((flags & kFieldBordered) != 0 && (flags & kFieldTransparent) == 0)
    RenderPuts(c, "border:1px solid black;");
  RenderPuts(c, c->curly_close);
  RenderPuts(c, "\">");
}

/* The field's text: the first text run before the next field, layout text
 * or region end. */
record_storage *FieldText(const html_render_info *c, record_storage *field) {
  for (record_storage *node = field->next; Usable(c, node); node = node->next) {
    const WORD signature = node->signature;
    if (signature == SIG_CD_LAYOUTTEXT || signature == SIG_CD_LAYOUTFIELD ||
        signature == SIG_CD_LAYOUTEND)
      return nullptr;
    if (IsTextRun(signature))
      return node;
  }
  return nullptr;
}

STATUS WriteField(html_render_info *c, record_storage *field, STATUS last) {
  WriteFieldStart(c, field);
  record_storage *text = FieldText(c, field);
  if (text != nullptr) {
    const inner_markup mark = OpenInner(c);
    c->current_record = text;
    last = ProcessXMLText(c, SIG_CD_LAYOUT, 1);
    CloseInner(c, mark);
  }
  RenderPuts(c, "</div>");
  return last;
}

} // namespace

STATUS ProcessXMLLayer(html_render_info *context, WORD, WORD depth) {
  html_render_info *c = context;
  record_storage *at = c->current_record;
  if (at == nullptr || (at->signature != SIG_CD_LAYER &&
                        !(at->signature == SIG_CD_BEGIN && NodeBracket(at) == SIG_CD_LAYER)))
    return NOERROR;
  Trace(c, "PXMLL - IN");
  // A layer nested deeper than the driver goes is left out whole.
  if (depth >= kMaxNesting) {
    SkipLayer(c, at, at->next);
    return NOERROR;
  }
  STATUS status = NOERROR;
  record_storage *content = WriteLayerStart(c, at->next, &status);
  if (status == NOERROR && content != nullptr && !IsLayerEnd(content) &&
      !LayerIsEmpty(c, content)) {
    const inner_markup mark = OpenInner(c);
    const DWORD outerFloor = c->layer_floor;
    c->layer_floor = mark.depth;
    c->current_record = content;
    status = ProcessXMLStream(c, SIG_CD_LAYER, depth, 0);
    c->layer_floor = outerFloor;
    CloseInner(c, mark);
  } else {
    SkipLayer(c, at, content);
  }
  RenderPuts(c, "</div>");
  Trace(c, "PXMLL - OUT");
  return status;
}

STATUS ProcessXMLLayout(html_render_info *context, WORD) {
  html_render_info *c = context;
  record_storage *at = c->current_record;
  if (at == nullptr || at->signature != SIG_CD_LAYOUT)
    return NOERROR;
  WriteRegionStart(c, at);
  STATUS last = NOERROR;
  for (record_storage *node = at->next; Usable(c, node); node = node->next) {
    if (node->signature == SIG_CD_LAYOUTEND) {
      RenderPuts(c, "</div>");
      c->current_record = node->next;
      return last;
    }
    if (node->signature == SIG_CD_LAYOUTFIELD && node->data != nullptr)
      last = WriteField(c, node, last);
  }
  // The region's records ran out before its end: the div is closed still.
  RenderPuts(c, "</div>");
  c->current_record = nullptr;
  return last;
}
