/*
 * Stand-in of the element identity attributes for the image renderer
 * (render/identity_pending.h): the five identity texts as attributes and
 * the extra-attribute text, with the keys other renderers read for
 * themselves removed.
 */
#include "render/identity_pending.h"

#include <string.h>

#include "render/text_render.h"
#include "store/tracked_memory.h"
#include "velko/property_string.h"
#include "velko/status.h"

namespace {

/* Keys of the extra text that are never written as attributes. */
constexpr const char *kControlKeys[] = {"Caption=",    "TarnoDataTable=", "TarnoTH=",
                                        "TarnoTHEAD=", "TarnoTBODY=",     "TarnoTFOOT=",
                                        "src="};

void WriteExtra(html_render_info *c, char *extra) {
  for (const char *key : kControlKeys) {
    if (extra[0] == '\0')
      break;
    while (EliminateProperty(extra, key) != 0 && extra[0] != '\0') {
    }
  }
  size_t length = strlen(extra);
  while (length > 0 && extra[length - 1] == ' ')
    --length;
  size_t from = 0;
  while (from < length && extra[from] == ' ')
    ++from;
  if (from == length)
    return;
  RenderPutc(c, ' ');
  RenderPut(c, extra + from, length - from);
}

} // namespace

void AutoQuoteHTMLParams(const char *text, size_t length, bool quote, render_text *out) {
  char open = 0;   /* the quote of a value quoted in the source */
  bool ours = false; /* a value this function opened */
  for (size_t i = 0; i < length; ++i) {
    const char ch = text[i];
    if (ch == '<') {
      RenderTextPuts(out, "&lt;");
    } else if (ch == '>') {
      RenderTextPuts(out, "&gt;");
    } else if (open != 0) {
      RenderTextPutc(out, ch);
      if (ch == open)
        open = 0;
    } else if (ours) {
      if (ch == ' ') {
        RenderTextPuts(out, "\" ");
        ours = false;
      } else if (ch == '"' || ch == '\'') {
        RenderTextPuts(out, "&quot;");
      } else {
        RenderTextPutc(out, ch);
      }
    } else if (ch == '=') {
      RenderTextPutc(out, ch);
      const char next = i + 1 < length ? text[i + 1] : '\0';
      if (next == '"' || next == '\'') {
        RenderTextPutc(out, next);
        open = next;
        ++i;
      } else if (quote) {
        RenderTextPutc(out, '"');
        ours = true;
      }
    } else if (ch == '"' || ch == '\'') {
      RenderTextPutc(out, ch);
      open = ch;
    } else {
      RenderTextPutc(out, ch);
    }
  }
  if (ours)
    RenderTextPutc(out, '"');
  else if (open != 0)
    RenderTextPutc(out, open);
}

STATUS CalculateXMLIDName(const char *record, DWORD length, html_render_info *c, char *extra) {
  if (record == nullptr || length < sizeof(CDIDNAME))
    return NOERROR;
  CDIDNAME id;
  memcpy(&id, record, sizeof id);
  const char *texts = record + sizeof(CDIDNAME);
  const DWORD room = length - static_cast<DWORD>(sizeof(CDIDNAME));
  const WORD lengths[] = {id.Length, id.ClassNameLength, id.StyleLength, id.TitleLength,
                          id.ExtraLength, id.NameLength};
  DWORD offsets[6] = {};
  DWORD at = 0;
  for (int i = 0; i < 6; ++i) {
    offsets[i] = at;
    at += lengths[i];
  }
  if (at > room)
    return NOERROR;
  const struct {
    int text;
    const char *attribute;
  } order[] = {{0, " id=\""}, {5, " name=\""}, {1, " class=\""}, {2, " style=\""}, {3, " title=\""}};
  for (const auto &attribute : order) {
    if (lengths[attribute.text] == 0)
      continue;
    RenderPuts(c, attribute.attribute);
    CopyTranslatedText(c, texts + offsets[attribute.text], lengths[attribute.text], nullptr, 1, 0,
                       0);
    RenderPutc(c, '"');
  }
  if (id.ExtraLength == 0)
    return NOERROR;
  if (extra != nullptr) {
    WriteExtra(c, extra);
    return NOERROR;
  }
  render_text safe(c->session);
  AutoQuoteHTMLParams(texts + offsets[4], id.ExtraLength,
                      (c->flags3 & html_flags3::AutoQuoteHTMLParams) != 0, &safe);
  char *copy = RenderTextDetach(&safe);
  if (copy == nullptr)
    return VELKO_ERR_MEMORY;
  WriteExtra(c, copy);
  VelkoDeallocatePtr(c->session, copy);
  return NOERROR;
}
