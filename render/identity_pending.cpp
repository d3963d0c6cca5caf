/*
 * Element identity attributes until their own file lands: the id, name,
 * class, style and title of an identity record in double quotes, then its
 * extra attributes (or the prepared text given in their place) without
 * the renderer's control keys, kept inside the element.
 */
#include <ctype.h>
#include <string.h>

#include <string>

#include "host/cdrecords.h"
#include "render/output_buffer.h"
#include "render/text_render.h"
#include "store/body.h"
#include "store/tracked_memory.h"
#include "velko/property_string.h"
#include "velko/status.h"

STATUS CalculateXMLIDName(const record_storage *record, html_render_info *context, char *extra);

namespace {

constexpr const char *kControlKeys[] = {"Caption=",    "TarnoDataTable=", "TarnoTH=",
                                        "TarnoTHEAD=", "TarnoTBODY=",     "TarnoTFOOT=",
                                        "src="};

/* XHTML: name="value" for each attribute with an XML name, once each. */
void PutXhtmlAttributes(html_render_info *c, const char *text, size_t length) {
  std::string seen = " ";
  size_t i = 0;
  while (i < length) {
    while (i < length && text[i] == ' ')
      ++i;
    const size_t start = i;
    while (i < length && text[i] != ' ' && text[i] != '=')
      ++i;
    std::string name(text + start, i - start);
    const char *value = text + start;
    size_t valueLength = name.size();
    if (i < length && text[i] == '=') {
      ++i;
      const char quote = i < length && (text[i] == '"' || text[i] == '\'') ? text[i++] : ' ';
      value = text + i;
      while (i < length && text[i] != quote)
        ++i;
      valueLength = static_cast<size_t>(text + i - value);
      if (quote != ' ' && i < length)
        ++i;
    }
    bool valid = !name.empty();
    for (size_t k = 0; k < name.size() && valid; ++k) {
      const char ch = name[k];
      valid = isalpha(static_cast<unsigned char>(ch)) || ch == '_' ||
              (k > 0 && (isdigit(static_cast<unsigned char>(ch)) || ch == '-' || ch == '.' ||
                         ch == ':'));
      name[k] = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
    }
    if (!valid || seen.find(" " + name + " ") != std::string::npos)
      continue;
    seen += name + " ";
    RenderPutc(c, ' ');
    RenderPut(c, text + start, name.size());
    RenderPuts(c, "=\"");
    RenderPutEscaped(c, kEscapeText, value, valueLength);
    RenderPutc(c, '"');
  }
}

void PutExtra(html_render_info *c, char *text) {
  for (const char *key : kControlKeys) {
    while (text[0] != '\0' && EliminateProperty(text, key) != 0) {
    }
  }
  const size_t length = strlen(text);
  if (length == 0)
    return;
  if (IsXhtml(c)) {
    PutXhtmlAttributes(c, text, length);
    return;
  }
  if (text[0] != ' ')
    RenderPutc(c, ' ');
  char open = 0;
  for (size_t i = 0; i < length; ++i) {
    const char ch = text[i];
    if (open != 0 && ch == open)
      open = 0;
    else if (open == 0 && (ch == '"' || ch == '\''))
      open = ch;
    if (ch == '<')
      RenderPuts(c, "&lt;");
    else if (ch == '>')
      RenderPuts(c, "&gt;");
    else
      RenderPutc(c, ch);
  }
  if (open != 0)
    RenderPutc(c, open);
}

} // namespace

STATUS CalculateXMLIDName(const record_storage *record, html_render_info *context, char *extra) {
  if (record == nullptr || record->data == nullptr || record->length < sizeof(CDIDNAME))
    return NOERROR;
  WORD lengths[6];
  memcpy(lengths, record->data + offsetof(CDIDNAME, Length), sizeof lengths);
  const char *texts[6];
  DWORD at = sizeof(CDIDNAME);
  for (int i = 0; i < 6; ++i) {
    const DWORD room = record->length > at ? record->length - at : 0;
    if (lengths[i] > room)
      lengths[i] = static_cast<WORD>(room);
    texts[i] = record->data + at;
    at += lengths[i];
  }
  // id, class, style, title, extra, name as stored; written id, name,
  // class, style, title.
  static const int kOrder[] = {0, 5, 1, 2, 3};
  static const char *const kNames[] = {" id=\"", " name=\"", " class=\"", " style=\"", " title=\""};
  for (int i = 0; i < 5; ++i) {
    const int which = kOrder[i];
    if (lengths[which] == 0)
      continue;
    RenderPuts(context, kNames[i]);
    CopyTranslatedText(context, texts[which], lengths[which], nullptr, 1, 0, 0);
    RenderPutc(context, '"');
  }
  if (lengths[4] == 0)
    return context->output_status;
  if (extra != nullptr) {
    PutExtra(context, extra);
    return context->output_status;
  }
  char *copy =
      static_cast<char *>(VelkoAllocatePtr(context->session, VELKO_HERE, lengths[4] + 1u, 0));
  if (copy == nullptr)
    return VELKO_ERR_MEMORY;
  memcpy(copy, texts[4], lengths[4]);
  copy[lengths[4]] = '\0';
  PutExtra(context, copy);
  VelkoDeallocatePtr(context->session, copy);
  return context->output_status;
}
