/*
 * Element identity attributes (CDIDNAME) and note-link URL texts; see
 * render/identity.h.
 */
#include "render/identity.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <unordered_set>

#include "render/text_render.h"
#include "store/tracked_memory.h"
#include "velko/property_string.h"
#include "velko/status.h"

namespace {

/* ---- identity attributes ---- */

void PutAttribute(html_render_info *context, const char *key, const char *text, size_t length) {
  if (length == 0)
    return;
  RenderPuts(context, key);
  CopyTranslatedText(context, text, static_cast<DWORD>(length), nullptr, TRUE, FALSE, FALSE);
  RenderPutc(context, '"');
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

/* "<" and ">" as entities; other bytes as they are. */
void PutMarkupSafe(html_render_info *context, char c) {
  if (c == '<')
    RenderPuts(context, "&lt;");
  else if (c == '>')
    RenderPuts(context, "&gt;");
  else
    RenderPutc(context, c);
}

/* The extra text without the control keys, in a tracked work block. */
char *ExtraWithoutControlKeys(html_render_info *context, const char *text, size_t length) {
  auto *work =
      static_cast<char *>(VelkoAllocatePtr(context->session, VELKO_HERE, length + 1, 0));
  if (work == nullptr)
    return nullptr;
  memcpy(work, text, length);
  work[length] = '\0';
  for (const char *key : kIdentityControlKeys) {
    while (work[0] != '\0' && EliminateProperty(work, key) != 0) {
    }
  }
  return work;
}

bool IsNameCharacter(char ch, bool first) {
  const bool letter = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || ch == '_';
  return letter || (!first && ((ch >= '0' && ch <= '9') || ch == '-' || ch == '.'));
}

/* An attribute name an XHTML document can hold: an XML name without a
 * colon, or one of the xml: prefix, the only prefix bound without a
 * declaration ("x:" or "a:b" would leave the document ill-formed). */
bool IsAttributeName(const std::string &name) {
  const size_t from = name.size() > 4 && name.compare(0, 4, "xml:") == 0 ? 4 : 0;
  if (from == name.size())
    return false;
  for (size_t k = from; k < name.size(); ++k) {
    if (!IsNameCharacter(name[k], k == from))
      return false;
  }
  return true;
}

} // namespace

void PutXhtmlAttributes(html_render_info *c, const char *text, size_t length) {
  // The names written so far, lower-cased: a set, so that a text of many
  // attributes is not searched again for each one.
  std::unordered_set<std::string> seen;
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
    if (!IsAttributeName(name))
      continue;
    for (char &ch : name)
      ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
    if (!seen.insert(name).second)
      continue;
    RenderPutc(c, ' ');
    RenderPut(c, text + start, name.size());
    RenderPuts(c, "=\"");
    RenderPutEscaped(c, kEscapeText, value, valueLength);
    RenderPutc(c, '"');
  }
}

STATUS AutoQuoteHTMLParams(html_render_info *context, const char *text, size_t length) {
  char sourceQuote = 0; // the quote of a value quoted in the source, while inside it
  bool ownQuote = false; // inside a value this copy quoted
  for (size_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (sourceQuote != 0) {
      PutMarkupSafe(context, c);
      if (c == sourceQuote)
        sourceQuote = 0;
      continue;
    }
    if (ownQuote) {
      if (c == ' ') {
        RenderPuts(context, "\" ");
        ownQuote = false;
      } else if (IsQuote(c)) {
        RenderPuts(context, "&quot;");
      } else {
        PutMarkupSafe(context, c); // an "=" inside the value is part of it
      }
      continue;
    }
    if (c == '=' && (i + 1 >= length || !IsQuote(text[i + 1]))) {
      RenderPuts(context, "=\"");
      ownQuote = true;
      continue;
    }
    if (IsQuote(c))
      sourceQuote = c;
    PutMarkupSafe(context, c);
  }
  if (ownQuote)
    RenderPutc(context, '"');
  else if (sourceQuote != 0)
    RenderPutc(context, sourceQuote);
  return context->output_status;
}

STATUS CopyExtraAttributes(html_render_info *context, const char *text, size_t length) {
  char quote = 0;
  for (size_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (quote != 0 && c == quote)
      quote = 0;
    else if (quote == 0 && IsQuote(c))
      quote = c;
    PutMarkupSafe(context, c);
  }
  if (quote != 0)
    RenderPutc(context, quote);
  return context->output_status;
}

STATUS CalculateXMLIDName(const char *record, DWORD length, html_render_info *context,
                          const char *extra) {
  if (record == nullptr || length < sizeof(CDIDNAME))
    return NOERROR;
  CDIDNAME fields;
  memcpy(&fields, record, sizeof fields);
  // The six texts one after the other, each cut at the record's end.
  const WORD lengths[6] = {fields.Length,      fields.ClassNameLength, fields.StyleLength,
                           fields.TitleLength, fields.ExtraLength,     fields.NameLength};
  const char *texts[6];
  size_t sizes[6];
  DWORD at = sizeof(CDIDNAME);
  for (int i = 0; i < 6; ++i) {
    const DWORD available = length - at;
    sizes[i] = lengths[i] < available ? lengths[i] : available;
    texts[i] = record + at;
    at += static_cast<DWORD>(sizes[i]);
  }
  enum { kId, kClass, kStyle, kTitle, kExtra, kName };
  PutAttribute(context, " id=\"", texts[kId], sizes[kId]);
  PutAttribute(context, " name=\"", texts[kName], sizes[kName]);
  PutAttribute(context, " class=\"", texts[kClass], sizes[kClass]);
  PutAttribute(context, " style=\"", texts[kStyle], sizes[kStyle]);
  PutAttribute(context, " title=\"", texts[kTitle], sizes[kTitle]);
  if (fields.ExtraLength == 0)
    return context->output_status;

  const char *source = extra != nullptr ? extra : texts[kExtra];
  const size_t sourceLength = extra != nullptr ? strlen(extra) : sizes[kExtra];
  char *work = ExtraWithoutControlKeys(context, source, sourceLength);
  if (work == nullptr)
    return VELKO_ERR_MEMORY;
  const size_t workLength = strlen(work);
  // A text of blanks alone (what the removal may leave) writes nothing.
  if (workLength != strspn(work, " ") && IsXhtml(context)) {
    // XHTML takes only well-formed attributes: name="value", once each.
    PutXhtmlAttributes(context, work, workLength);
  } else if (workLength != strspn(work, " ")) {
    if (work[0] != ' ')
      RenderPutc(context, ' ');
    if ((context->flags3 & html_flags3::AutoQuoteHTMLParams) != 0)
      AutoQuoteHTMLParams(context, work, workLength);
    else
      CopyExtraAttributes(context, work, workLength);
  }
  VelkoDeallocatePtr(context->session, work);
  return context->output_status;
}

/* ---- note links ---- */

namespace {

/* A TIMEDATE as 16 upper-case hexadecimal digits, second word first. */
void PutTimedate(render_text *out, const DWORD (&words)[2]) {
  char text[17];
  snprintf(text, sizeof text, "%.8lX%.8lX", static_cast<unsigned long>(words[1]),
           static_cast<unsigned long>(words[0]));
  RenderTextPut(out, text, 16);
}

template <typename Unid> void PutUnid(render_text *out, const Unid &unid) {
  PutTimedate(out, unid.File);
  PutTimedate(out, unid.Note.Innards);
}

template <typename Unid> bool HasUnid(const Unid &unid) {
  return (unid.File[0] | unid.File[1] | unid.Note.Innards[0] | unid.Note.Innards[1]) != 0;
}

void PutCommand(render_text *out, const char *option, const char *fallback) {
  RenderTextPuts(out, option != nullptr ? option : fallback);
}

} // namespace

bool NotelinkHasView(const NOTELINK &link) { return HasUnid(link.View); }
bool NotelinkHasNote(const NOTELINK &link) { return HasUnid(link.Note); }

STATUS DumpNotelink(const NOTELINK &link, render_text *out, WORD action, WORD,
                    const html_render_info *context, BOOL omitCommand) {
  switch (action) {
  case kNotelinkReplicaID:
    PutTimedate(out, link.File.Innards);
    return out->status;
  case kNotelinkViewID:
    PutUnid(out, link.View);
    return out->status;
  case kNotelinkNoteID:
    PutUnid(out, link.Note);
    return out->status;
  case kNotelinkURL:
  case kNotelinkURLAlso:
    break;
  default:
    return out->status;
  }
  const bool here = context->base_pathname[0] != '\0' &&
                    link.File.Innards[0] == context->replica_info.ID.Innards[0] &&
                    link.File.Innards[1] == context->replica_info.ID.Innards[1];
  if (here) {
    RenderTextPutc(out, '/');
    RenderTextPuts(out, context->base_pathname);
  } else {
    RenderTextPuts(out, "__");
    PutTimedate(out, link.File.Innards);
    RenderTextPuts(out, ".NSF");
  }
  const bool view = NotelinkHasView(link);
  const bool note = NotelinkHasNote(link);
  if (!view && !note) {
    if (omitCommand == FALSE)
      PutCommand(out, context->open_database_string, "?OpenDatabase");
    return out->status;
  }
  RenderTextPutc(out, '/');
  if (view)
    PutUnid(out, link.View);
  else
    RenderTextPutc(out, '0');
  if (note) {
    RenderTextPutc(out, '/');
    PutUnid(out, link.Note);
    if (omitCommand == FALSE)
      PutCommand(out, context->open_document_string, "?OpenDocument");
  } else if (omitCommand == FALSE) {
    PutCommand(out, context->open_view_string, "?OpenView");
  }
  return out->status;
}
