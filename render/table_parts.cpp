/*
 * The table renderer's pieces (render/table_parts.h): extra attributes,
 * the tab bar and labels, cell background colours and images.
 */
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "host/cdrecords.h"
#include "render/formulas.h"
#include "render/identity.h"
#include "render/paragraphs.h"
#include "render/table_parts.h"
#include "render/text_render.h"

namespace table_parts {

namespace {

constexpr WORD kTabLabelFlag = 0x0002;
constexpr BYTE kResourceNamedElement = 3;
constexpr WORD kResourceImageClass = 0x13;
constexpr WORD kColourStyles = 0x0080 | 0x0100 | 0x0200 | 0x0400 | 0x0800 | 0x2000 | 0x4000;

bool Flag(DWORD word, DWORD bit) { return (word & bit) != 0; }

} // namespace

/* Extra attributes are attribute markup that cannot leave their element:
 * in HTML "<" and ">" become entities and a quote left open is closed; in
 * XHTML every attribute is written name="value" (PutXhtmlAttributes). */
void PutExtraAttributes(html_render_info *c, const char *text, size_t length) {
  if (length == 0)
    return;
  if (IsXhtml(c)) {
    PutXhtmlAttributes(c, text, length);
    return;
  }
  if (text[0] != ' ')
    RenderPutc(c, ' ');
  CopyExtraAttributes(c, text, length);
}

/* ---- tab labels ---- */

bool LabelText(const record_storage *label, const char **text, size_t *length) {
  constexpr DWORD at = offsetof(CDTABLELABEL, Label);
  if (label == nullptr || label->data == nullptr || label->length <= at)
    return false;
  constexpr size_t kLabelRoom = sizeof(CDTABLELABEL::Label);
  const size_t room = label->length - at < kLabelRoom ? label->length - at : kLabelRoom;
  *text = label->data + at;
  *length = strnlen(*text, room);
  return true;
}

bool IsTabLabel(const record_storage *node) {
  return node->signature == SIG_CD_TABLELABEL &&
         (Word(node, offsetof(CDTABLELABEL, Flags)) & kTabLabelFlag) != 0;
}

/* Calls visit for every tab label of the table at depth 0. */
namespace {

template <typename Visit> void ForEachTabLabel(const record_storage *begin, Visit &&visit) {
  if (begin == nullptr)
    return;
  DWORD depth = 0;
  for (const record_storage *node = begin->next; node != nullptr; node = node->next) {
    if (IsTableBegin(node->signature)) {
      ++depth;
    } else if (IsTableEnd(node->signature)) {
      if (depth == 0)
        return;
      --depth;
    } else if (depth == 0 && IsTabLabel(node)) {
      visit(node);
    }
  }
}

} // namespace

void PutLabel(html_render_info *c, const record_storage *label) {
  const char *text = nullptr;
  size_t length = 0;
  if (LabelText(label, &text, &length))
    CopyTranslatedText(c, text, static_cast<DWORD>(length), nullptr, 1, 0, 0);
}

const char *OrDefault(const char *value, const char *fallback) {
  return value != nullptr && value[0] != '\0' ? value : fallback;
}

void WriteTabBar(html_render_info *c, const record_storage *pretable) {
  const int table = c->table_counter + 1;
  const record_storage *begin = pretable->next;
  while (begin != nullptr && !IsTableBegin(begin->signature) && !IsTableCell(begin->signature) &&
         !IsTableEnd(begin->signature))
    begin = begin->next;
  if (begin != nullptr && !IsTableBegin(begin->signature))
    begin = nullptr;
  RenderPrintf(c, "<a name=\"ttbl%d\"></a><ul id=\"tabnav\">", table);
  int count = 0;
  ForEachTabLabel(begin, [&](const record_storage *) { ++count; });
  int k = 0;
  ForEachTabLabel(begin, [&](const record_storage *label) {
    ++k;
    RenderPrintf(c,
                 "<li class=\"tab%d\"><a href=\"#ttbl%d\" id='t%dlink%d' "
                 "onClick=\"switchTab(%d, %d, %d)\" ",
                 k, table, table, k, count, table, k);
    if (k == 1)
      RenderPrintf(c, "style=\"color: %s; background: %s\">",
                   OrDefault(c->css_tab_sel_text, "#ffffcc"),
                   OrDefault(c->css_tab_sel_background, "#cccc99"));
    else
      RenderPrintf(c, "style=\"color: %s; background: %s\">",
                   OrDefault(c->css_tab_nosel_text, "#333333"),
                   OrDefault(c->css_tab_nosel_background, "#999966"));
    PutLabel(c, label);
    RenderPuts(c, "</a></li>");
  });
  RenderPuts(c, "</ul>");
}

/* ---- colours ---- */

namespace {

void RgbOf(DWORD colour, BYTE rgb[3]) {
  rgb[0] = static_cast<BYTE>(colour & 0xFF);
  rgb[1] = static_cast<BYTE>((colour >> 8) & 0xFF);
  rgb[2] = static_cast<BYTE>((colour >> 16) & 0xFF);
}

} // namespace

bool UsesColourStyle(WORD beginFlags) { return (beginFlags & kColourStyles) != 0; }

/* The colour the table's colour style gives a cell; false when none. */
bool ColourStyle(const html_render_info::table_level_state &level, int row, int column,
                 BYTE rgb[3]) {
  const WORD styles = level.begin_flags & kColourStyles;
  if (styles == 0)
    return false;
  const DWORD c1 = Dword(level.pretable, offsetof(CDPRETABLEBEGIN, BodyColor));
  const DWORD c2 = Dword(level.pretable, offsetof(CDPRETABLEBEGIN, TableColor));
  const bool last = level.columns == column + 1;
  bool first = true;
  if (styles == kColourStyles)
    first = true;
  else if (Flag(styles, 0x0400))
    first = column % 2 == 1;
  else if (Flag(styles, 0x0800))
    first = row % 2 == 1;
  else if (Flag(styles, 0x0080))
    first = row == 0 || column == 0;
  else if (Flag(styles, 0x0200))
    first = column == 0;
  else if (Flag(styles, 0x0100))
    first = row == 0;
  else if (Flag(styles, 0x2000))
    first = row == 0 || last;
  else
    first = last;
  RgbOf(first ? c1 : c2, rgb);
  return true;
}

/* Writes the bgcolor attribute of a cell (or tab row): its cell-colour
 * record, its palette index, or the table's colour style. The value goes
 * to `value` ("" when none). */
void PutBackgroundColour(html_render_info *c, const html_render_info::table_level_state &level,
                         const record_storage *colour, const cell_fields &cell, char value[8]) {
  value[0] = '\0';
  if (colour != nullptr && colour->length >= sizeof(CDCOLOR)) {
    snprintf(value, 8, "#%02x%02x%02x", Byte(colour, 4), Byte(colour, 5), Byte(colour, 6));
    RenderPrintf(c, " bgcolor=\"%s\"", value);
  } else if (cell.background >= 1 && cell.background <= 239) {
    RenderPaletteColor(cell.background, value);
    RenderPrintf(c, " bgcolor='%s'", value);
  } else {
    BYTE rgb[3];
    if (!ColourStyle(level, cell.row, cell.column, rgb))
      return;
    snprintf(value, 8, "#%02x%02x%02x", rgb[0], rgb[1], rgb[2]);
    RenderPrintf(c, " bgcolor=\"%s\"", value);
  }
}

bool IsBackgroundImage(const record_storage *node) {
  if (node->signature != SIG_CD_RESOURCE_FF78 && node->signature != SIG_CD_RESOURCE_FF5A)
    return false;
  return Word(node, offsetof(CDRESOURCE, Type)) == kResourceNamedElement &&
         Word(node, offsetof(CDRESOURCE, ResourceClass)) == kResourceImageClass &&
         Word(node, offsetof(CDRESOURCE, Length1)) != 0;
}

/* The name of a cell's background image: see table_parts.h. */
bool BackgroundName(html_render_info *context, const record_storage *resource,
                    render_text *evaluated, const char **name, size_t *length,
                    std::string_view *whole) {
  const DWORD at = sizeof(CDRESOURCE) + Word(resource, offsetof(CDRESOURCE, ServerHintLength)) +
                   Word(resource, offsetof(CDRESOURCE, FileHintLength)) + 8;
  DWORD size = Word(resource, offsetof(CDRESOURCE, Length1));
  if (resource->data == nullptr || at >= resource->length)
    return false;
  if (size > resource->length - at)
    size = resource->length - at;
  const char *text = resource->data + at;
  if ((Dword(resource, offsetof(CDRESOURCE, Flags)) & 0x0001) != 0) {
    const STATUS status = RenderFormulaText(context, text, size, evaluated);
    if (status == VELKO_ERR_MEMORY && evaluated->status == NOERROR)
      evaluated->status = status;
    if (status != NOERROR || evaluated->data == nullptr)
      return false;
    text = evaluated->data;
    size = evaluated->length;
  }
  size = static_cast<DWORD>(strnlen(text, size));
  DWORD start = 0;
  for (DWORD i = 0; i < size; ++i) {
    if (text[i] == '\\' || text[i] == '/' || text[i] == '|')
      start = i + 1;
  }
  if (start >= size)
    return false;
  *name = text + start;
  *length = size - start;
  *whole = std::string_view(text, size);
  return true;
}

/* A name inside CSS url(...) in a double-quoted attribute: URL-escaped, and
 * "(", ")" and "'" percent-encoded as well. */
void PutCssUrlName(render_text *out, const char *name, size_t length) {
  render_text escaped{out->session};
  RenderTextPutEscaped(&escaped, kEscapeURL, name, length);
  for (DWORD i = 0; i < escaped.length; ++i) {
    const char ch = escaped.data[i];
    if (ch == '(' || ch == ')') {
      RenderTextPuts(out, ch == '(' ? "%28" : "%29");
    } else if (strncmp(escaped.data + i, "&#x27;", 6) == 0) {
      RenderTextPuts(out, "%27");
      i += 5;
    } else {
      RenderTextPutc(out, ch);
    }
  }
  if (escaped.status != NOERROR)
    out->status = escaped.status;
}

void PutRepeat(render_text *style, const record_storage *repeat) {
  if (repeat == nullptr) {
    RenderTextPuts(style, "background-repeat:repeat;");
    return;
  }
  switch (Byte(repeat, 4)) {
  case 4:
    RenderTextPuts(style, "background-repeat:repeat;background-position:left top;");
    return;
  case 2:
    RenderTextPuts(style, "background-repeat:repeat-y;background-position:left top;");
    return;
  case 3:
    RenderTextPuts(style, "background-repeat:repeat-x;background-position:left top;");
    return;
  case 6:
    RenderTextPuts(style, "background-repeat:no-repeat;background-position:center;");
    return;
  case 5:
    RenderTextPuts(style, "background-position:left top;background-size:100%;");
    return;
  default:
    RenderTextPuts(style, "background-repeat:no-repeat;background-position:left top;");
    return;
  }
}

const record_storage *LastDefinitionBefore(const html_render_info *context, DWORD ordinal,
                                           WORD pabid, definition_lookup *kept) {
  if (kept->known && kept->pabid == pabid && ordinal > kept->after && ordinal <= kept->up_to)
    return kept->node;
  // From the last slot down: the first definition of the PABID before the
  // ordinal is the answer; the lowest ordinal among the later ones of the
  // PABID (passed over) bounds how far it holds.
  const record_storage *found = nullptr;
  DWORD upTo = 0xFFFFFFFF;
  for (WORD i = context->pabdef_count; i >= 1; --i) {
    const record_storage *node = context->pabdef_records[i];
    WORD id = 0;
    if (node == nullptr || !ReadDefinitionPabid(node, &id) || id != pabid)
      continue;
    if (node->ordinal < ordinal) {
      found = node;
      break;
    }
    if (node->ordinal < upTo)
      upTo = node->ordinal;
  }
  *kept = definition_lookup{true, pabid, found != nullptr ? found->ordinal : 0, upTo, found};
  return found;
}

} // namespace table_parts
