/*
 * Section bars (CDBAR): the title bar of a collapsible section, written
 * as a caller's opening and closing texts, an expand/collapse pair of
 * divisions driven by the page script (SectionsInCSS), a rule and
 * heading, or, under OstrafineSections, one of the table-built mail-style
 * bars whose closing rule is written when the section's hotspot ends.
 * The section's content follows as ordinary records.
 */
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "engine/record_fields.h"
#include "render/output_buffer.h"
#include "render/paragraphs.h"
#include "render/family_renderers.h"
#include "render/sections.h"
#include "render/tag_stack.h"
#include "render/text_render.h"
#include "store/body.h"

namespace {

constexpr DWORD kTitleAt = 14;
constexpr DWORD kShowsExpanded = 0x00000010;
constexpr DWORD kTitleIsFormula = 0x00002000;
constexpr WORD kMailHeaderMark = 0x0080;

struct bar_fields {
  DWORD flags = 0;
  FONTID font = 0;
  const char *title = nullptr;
  DWORD title_length = 0;
  int style = 0; /* 0..7 */
};

/* The bar's fields; the title ends at its first NUL (a stored title of
 * even length is padded with one). */
bar_fields ReadBar(const record_storage *node) {
  bar_fields bar;
  if (node == nullptr || node->data == nullptr || node->length < sizeof(CDBAR))
    return bar;
  memcpy(&bar.flags, node->data + offsetof(CDBAR, Flags), sizeof bar.flags);
  memcpy(&bar.font, node->data + offsetof(CDBAR, FontID), sizeof bar.font);
  bar.style = static_cast<int>((bar.flags >> 28) & 0x7);
  if (node->length > kTitleAt) {
    bar.title = node->data + kTitleAt;
    const void *nul = memchr(bar.title, '\0', node->length - kTitleAt);
    bar.title_length = nul != nullptr ? static_cast<DWORD>(static_cast<const char *>(nul) - bar.title)
                                      : node->length - kTitleAt;
  }
  return bar;
}

/* The bar colour: a CDCOLOR right after the bar gives it (its RGB bytes,
 * else the palette colour of the bar font); without one, dark green. */
void BarColour(const record_storage *node, const bar_fields &bar, char (&out)[8]) {
  const record_storage *next = node->next;
  if (next == nullptr || next->signature != SIG_CD_COLOR || next->data == nullptr ||
      next->length < sizeof(CDCOLOR)) {
    strcpy(out, "#006400");
    return;
  }
  COLOR_VALUE colour;
  memcpy(&colour, next->data + offsetof(CDCOLOR, Color), sizeof colour);
  if ((colour.Flags & 0x0001) != 0)
    snprintf(out, sizeof out, "#%02x%02x%02x", colour.Red, colour.Green, colour.Blue);
  else
    RenderPaletteColor(static_cast<BYTE>(bar.font >> (8 * FONTID_COLOR_BYTE)), out);
}

/* A 0x62 record whose word at 4 is 0x80, right after the bar or one
 * record later, makes the bar a mail header. */
bool IsMailHeader(const record_storage *node) {
  const record_storage *next = node->next;
  for (int i = 0; i < 2 && next != nullptr; ++i, next = next->next) {
    WORD mark = 0;
    if (next->signature == SIG_CD_TABRECORD && next->data != nullptr &&
        ReadRecordWord(next->data, next->length, 4, &mark) && mark == kMailHeaderMark)
      return true;
  }
  return false;
}

const char *ImageEnd(const html_render_info *c) { return IsXhtml(c) ? " />" : ">"; }

void PutTitle(html_render_info *c, const bar_fields &bar, const char *text, DWORD length) {
  if (length != 0)
    CopyTranslatedText(c, text, length, nullptr, FALSE, FALSE,
                       (bar.flags & kTitleIsFormula) != 0 ? TRUE : FALSE);
}

void PutIcon(html_render_info *c) {
  const bool mime = c->mime_mode != 0;
  const char *src = c->collapse_graphic;
  if (src == nullptr) {
    src = mime ? "cid:_a_collapse" : "/icons/graycol.gif";
    if (mime)
      c->collapse_image_used = 1;
  }
  RenderPuts(c, "<img src='");
  RenderPuts(c, src);
  RenderPuts(c, "' border='0' width='16' height='16' alt='");
  RenderPuts(c, mime ? "Inactive - section collapsed" : "Click to collapse section");
  RenderPuts(c, "'");
  RenderPuts(c, ImageEnd(c));
}

/* The title in the bar font's markup, or in the fixed 10pt span when the
 * font gives none; whatever the markup opened is closed after it. */
void PutTitleSpan(html_render_info *c, const bar_fields &bar, const char *text, DWORD length) {
  const xml_stack_node *below = c->tag_stack;
  const DWORD before = c->output_length;
  const FONTID font = c->current_font;
  CalculateXMLFontString(bar.font, nullptr, c, 0, 0, 0);
  if (c->output_length == before) {
    RenderPuts(c, "<span style='font-size: 10pt; color: rgb(0,0,0); font-family: sans-serif; '>");
    PushClosingTag(c, "</span>");
  }
  PutTitle(c, bar, text, length);
  render_text closing(c->session);
  PopXMLStackToPointToBuffer(c, 0, below, &closing);
  if (closing.length != 0)
    RenderPut(c, closing.data, closing.length);
  c->current_font = font;
}

/* The caption cut at the first and second "---": title, subject, date. */
struct header_parts {
  DWORD title = 0;
  const char *subject = nullptr;
  DWORD subject_length = 0;
  const char *date = nullptr;
  DWORD date_length = 0;
};

const char *FindDashes(const char *text, DWORD length) {
  for (DWORD i = 0; i + 3 <= length; ++i) {
    if (memcmp(text + i, "---", 3) == 0)
      return text + i;
  }
  return nullptr;
}

header_parts SplitHeader(const bar_fields &bar) {
  header_parts parts;
  parts.title = bar.title_length;
  const char *end = bar.title + bar.title_length;
  const char *first = bar.title != nullptr ? FindDashes(bar.title, bar.title_length) : nullptr;
  if (first == nullptr)
    return parts;
  parts.title = static_cast<DWORD>(first - bar.title);
  parts.subject = first + 3;
  const char *second = FindDashes(parts.subject, static_cast<DWORD>(end - parts.subject));
  parts.subject_length = static_cast<DWORD>((second != nullptr ? second : end) - parts.subject);
  if (second != nullptr) {
    parts.date = second + 3;
    parts.date_length = static_cast<DWORD>(end - parts.date);
  }
  return parts;
}

constexpr const char *kHeaderSpan =
    "<span style='font-size: 10pt; color: rgb(66,66,130); font-family: sans-serif; '>";

void MailHeaderBar(html_render_info *c, const bar_fields &bar, const char *colour) {
  const header_parts parts = SplitHeader(bar);
  RenderPrintf(c,
               "<div id='sctn%dp' style='border-top: none; border-left: none; border-right: none; "
               "border-bottom: 1px solid %s;'>",
               c->section_counter + 1, colour);
  RenderPuts(c, "<table width='100%' cellspacing='0' style='border-collapse: collapse; '>"
                "<tr valign='middle'><td width='16' ");
  RenderPrintf(c,
               "style='padding: 0.0000in 0.0403in; border-top: 1px solid %s; border-left: 1px solid "
               "%s; border-right: none; border-bottom: 1px solid %s;'>",
               colour, colour, colour);
  PutIcon(c);
  RenderPuts(c, IsXhtml(c) ? "<br />" : "<br>");
  RenderPrintf(c,
               "</td><td width='22%%' style='padding: 0.0000in 0.0403in; border-top: 1px solid %s; "
               "border-left: none; border-right: 1px solid %s; border-bottom: 1px solid %s;'>",
               colour, colour, colour);
  PutTitleSpan(c, bar, bar.title, parts.title);
  RenderPrintf(c,
               "</td><td width='53%%' style='padding: 0.0000in 0.0403in; border: 1px solid %s; "
               "border-right: none;' bgcolor='#e0f1ff' valign='middle'>",
               colour);
  RenderPuts(c, kHeaderSpan);
  if (parts.subject != nullptr)
    PutTitle(c, bar, parts.subject, parts.subject_length);
  else
    RenderPuts(c, "No Subject");
  RenderPrintf(c,
               "</span></td><td width='192' style='padding: 0.0000in 0.0403in; border: 1px solid "
               "%s; border-left: none;' bgcolor='#e0f1ff' valign='middle'>",
               colour);
  RenderPuts(c, kHeaderSpan);
  if (parts.date != nullptr)
    PutTitle(c, bar, parts.date, parts.date_length);
  else
    RenderPuts(c, "No Date");
  RenderPuts(c, "</span></td></tr></table></div>");
}

const char *LevelBackground(const html_render_info *c) {
  const WORD level = c->table_level;
  if (level == 0 || level >= kRenderTableLevels || c->table_levels[level].colour[0] == '\0')
    return "#ffffff";
  return c->table_levels[level].colour;
}

void MailStyleBar(html_render_info *c, const record_storage *node, const bar_fields &bar) {
  char colour[8];
  BarColour(node, bar, colour);
  if (bar.style == 0 && IsMailHeader(node)) {
    MailHeaderBar(c, bar, colour);
    return;
  }
  if (bar.style == 0) {
    RenderPrintf(c,
                 "<div style='border-left: 1px solid %s; border-top: 1px solid %s; border-right: "
                 "3px solid %s; border-bottom: 2px solid %s;'>",
                 colour, colour, colour, colour);
    PutIcon(c);
    PutTitleSpan(c, bar, bar.title, bar.title_length);
    RenderPuts(c, "</div>");
  } else if (bar.style == 7) {
    RenderPrintf(c,
                 "<table width='100%%' cellspacing='0' cellpadding='0' border='0'><tr><td "
                 "width='1%%'>&nbsp;</td><td width='40%%' bgcolor='%s' style='border: none; '>",
                 colour);
    PutTitleSpan(c, bar, bar.title, bar.title_length);
    RenderPrintf(c,
                 "</td><td width='59%%' bgcolor='%s'>&nbsp;</td></tr><tr><td colspan='3' "
                 "bgcolor='%s' height='2px'></td></tr></table>",
                 LevelBackground(c), colour);
  } else {
    RenderPuts(c, "<table width='100%' cellspacing='0' cellpadding='0' border='0'><tr><td>");
    PutIcon(c);
    RenderPuts(c, "&nbsp;</td><td width='100%' style='border: none; '>");
    PutTitleSpan(c, bar, bar.title, bar.title_length);
    RenderPuts(c, "</td></tr></table>");
  }
  if (c->section_id < kMaxNesting)
    c->section_bars[c->section_id] = node;
}

bool OptionIs(html_render_info *c, const char *key, const char *value) {
  render_option option(c, key);
  return option.value() != nullptr && strcasecmp(option.value(), value) == 0;
}

void CssOrHeadingBar(html_render_info *c, const bar_fields &bar) {
  const int number = c->section_counter + 1;
  const bool expanded = (bar.flags & kShowsExpanded) != 0;
  const bool css = (c->flags2 & html_flags2::SectionsInCSS) != 0;
  const bool includeTitle = OptionIs(c, "SectionIncludeTitle=", "YES");
  bool titled = false;
  {
    render_option open(c, "SectionOpenTag=");
    if (open.value() != nullptr) {
      RenderPuts(c, open.value());
      titled = includeTitle;
    } else if (css) {
      if (TagOnXMLStack(c, 0, "</div>", 1) != 0)
        PopXMLStack(c, 0, "</div>", 1, 1, 0, 0, 0);
      RenderPrintf(c, "\n<div id=\"sctn%dc\" style=\"display: %s\">\n", number,
                   expanded ? "none" : "block");
      RenderPrintf(c, "<a href=\"#\" onclick=\"expandCollapseSection(%d,'e')\">\n", number);
      RenderPrintf(c, "<h3><img src='%s' alt='expand section' border='0'%s\n",
                   c->expand_graphic != nullptr ? c->expand_graphic : "/icons/expand.gif",
                   ImageEnd(c));
      titled = true;
    } else {
      RenderPuts(c, includeTitle ? "<hr /><h3>" : "<hr />");
      titled = includeTitle;
    }
  }
  if (titled)
    PutTitle(c, bar, bar.title, bar.title_length);
  render_option close(c, "SectionCloseTag=");
  if (close.value() != nullptr) {
    RenderPuts(c, close.value());
  } else if (css) {
    RenderPuts(c, "</h3></a></div>\n");
    RenderPrintf(c, "<div id=\"sctn%de\" style=\"display: %s\">\n", number,
                 expanded ? "block" : "none");
    RenderPrintf(c, "<a href=\"#\" onclick=\"expandCollapseSection(%d,'c')\">\n", number);
    RenderPrintf(c, "<h3><img src='%s' alt='collapse section' border='0'%s\n",
                 c->collapse_graphic != nullptr ? c->collapse_graphic : "/icons/collapse.gif",
                 ImageEnd(c));
    PutTitle(c, bar, bar.title, bar.title_length);
    RenderPuts(c, "</h3></a>\n");
    if (PushXMLStackWithID(c, 0, "</div>", c->section_id) == nullptr &&
        c->output_status == NOERROR)
      c->output_status = VELKO_ERR_MEMORY;
  } else if (titled) {
    RenderPuts(c, "</h3>");
  }
}

} // namespace

STATUS RenderSectionBar(html_render_info *context) {
  const record_storage *node = context->current_record;
  if (node == nullptr)
    return NOERROR;
  const bar_fields bar = ReadBar(node);
  if ((context->flags5 & html_flags5::OstrafineSections) != 0)
    MailStyleBar(context, node, bar);
  else
    CssOrHeadingBar(context, bar);
  ++context->section_counter;
  context->current_record = node->next;
  return context->output_status;
}

void CloseSectionBar(html_render_info *context, WORD depth) {
  if (depth == 0 || depth >= kMaxNesting || context->section_bars[depth] == nullptr)
    return;
  const record_storage *node = context->section_bars[depth];
  context->section_bars[depth] = nullptr;
  const bar_fields bar = ReadBar(node);
  char colour[8];
  BarColour(node, bar, colour);
  const char *end = ImageEnd(context);
  switch (bar.style) {
  case 1:
    return;
  case 3:
  case 4:
    RenderPrintf(context, "<hr width='100%%' size='%dpx' color='%s' style='margin-top: 0.25em;'%s",
                 bar.style == 3 ? 2 : 3, colour, end);
    return;
  case 5:
    RenderPrintf(context,
                 "<hr width='100%%' size='1px' color='%s' style='margin-top: 0.25em;'%s%s<hr "
                 "width='100%%' size='1px' color='%s'%s",
                 colour, end, IsXhtml(context) ? "<br />" : "<br>", colour, end);
    return;
  default:
    RenderPrintf(context, "<hr width='100%%' size='1px' color='%s' style='margin-top: 0.25em;'%s",
                 colour, end);
    return;
  }
}

STATUS ProcessXMLSectionBar(html_render_info *context, WORD) { return RenderSectionBar(context); }
