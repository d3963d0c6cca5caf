/*
 * Document links: a Notes link (to a database, a view, a document or an
 * anchor in a document) rendered as an HTML anchor with its link icon.
 *
 * The link's note link comes from the record (CDLINKEXPORT2, or a
 * note-link resource holding it inline) or from the note's link table
 * (CDLINK2, or a resource holding an index). The URL is the link
 * directory, the server part and the note-link path (render/identity.h),
 * or what the caller's link callback answers for it.
 */
#include <string.h>

#include "engine/link_records.h"
#include "engine/record_fields.h"
#include "host/nsfnote.h"
#include "render/identity.h"
#include "render/family_renderers.h"
#include "render/text_render.h"
#include "store/messages.h"
#include "velko/property_string.h"
#include "velko/status.h"

namespace {

constexpr WORD kResourceNoteLink = 2; /* CDRESOURCE.Type of a note link */

/* The link kind's icon-used mark, in link_graphic_used. */
enum link_kind { kDatabaseLink = 0, kViewLink = 1, kDocumentLink = 2, kAnchorLink = 3, kBroken };

/* What the link record says: the note link (unless broken) and its three
 * texts, each cut at the record's end. */
struct link_source {
  bool broken = false;
  NOTELINK link = {};
  const char *comment = "";
  size_t comment_length = 0;
  const char *server = "";
  size_t server_length = 0;
  const char *anchor = "";
  size_t anchor_length = 0;
};

size_t BoundedText(const char *text, size_t available) {
  const void *nul = memchr(text, '\0', available);
  return nul != nullptr ? static_cast<size_t>(static_cast<const char *>(nul) - text) : available;
}

/* Up to three NUL-terminated texts behind a link record's fixed part:
 * comment, server hint, anchor name. */
void ReadLinkTexts(const char *texts, size_t available, link_source *source) {
  const char **starts[3] = {&source->comment, &source->server, &source->anchor};
  size_t *lengths[3] = {&source->comment_length, &source->server_length, &source->anchor_length};
  for (int i = 0; i < 3 && available > 0; ++i) {
    const size_t length = BoundedText(texts, available);
    *starts[i] = texts;
    *lengths[i] = length;
    const size_t step = length < available ? length + 1 : length;
    texts += step;
    available -= step;
  }
}

/* The entry of the note's link table; a missing table or entry is told to
 * the user and breaks the link. */
void LookUpLinkTable(const html_render_info *context, WORD index, link_source *source) {
  const NOTEHANDLE note = context->item != nullptr ? context->item->note : NULLHANDLE;
  switch (FindLinkTableEntry(note, index, &source->link)) {
  case link_table_lookup::found:
    return;
  case link_table_lookup::no_table:
    ShowUserMessage("TARNO: Broken $Links reference");
    break;
  case link_table_lookup::not_in_list:
    ShowUserMessage("TARNO: Broken $Links reference - not in list");
    break;
  }
  source->broken = true;
}

bool IsResourceSignature(WORD signature) {
  return signature == SIG_CD_RESOURCE || signature == SIG_CD_RESOURCE_FF71 ||
         signature == SIG_CD_RESOURCE_FF78 || signature == SIG_CD_RESOURCE_FF5A;
}

/* A note-link resource: server hint and comment behind the fixed part,
 * then the note link or its table index, then the anchor name. */
void ReadResourceLink(const html_render_info *context, const char *record, DWORD length,
                      link_source *source) {
  DWORD flags = 0;
  WORD type = 0;
  WORD anchorLength = 0;
  WORD serverLength = 0;
  WORD commentLength = 0;
  if (!ReadRecordDword(record, length, offsetof(CDRESOURCE, Flags), &flags) ||
      !ReadRecordWord(record, length, offsetof(CDRESOURCE, Type), &type) ||
      !ReadRecordWord(record, length, offsetof(CDRESOURCE, Length1), &anchorLength) ||
      !ReadRecordWord(record, length, offsetof(CDRESOURCE, ServerHintLength), &serverLength) ||
      !ReadRecordWord(record, length, offsetof(CDRESOURCE, FileHintLength), &commentLength) ||
      type != kResourceNoteLink || length < sizeof(CDRESOURCE)) {
    source->broken = true;
    return;
  }
  DWORD at = sizeof(CDRESOURCE);
  auto take = [&](WORD wanted, const char **text, size_t *textLength) {
    const DWORD available = length - at;
    *text = record + at;
    *textLength = wanted < available ? wanted : available;
    at += static_cast<DWORD>(*textLength);
  };
  take(serverLength, &source->server, &source->server_length);
  take(commentLength, &source->comment, &source->comment_length);
  if ((flags & CDRESOURCE_FLAGS_NOTELINK_INLINE) != 0) {
    if (length - at < sizeof(NOTELINK)) {
      source->broken = true;
      return;
    }
    memcpy(&source->link, record + at, sizeof(NOTELINK));
    at += sizeof(NOTELINK);
  } else {
    WORD index = 0;
    if (!ReadRecordWord(record, length, at, &index)) {
      source->broken = true;
      return;
    }
    at += sizeof(WORD);
    LookUpLinkTable(context, index, source);
  }
  take(anchorLength, &source->anchor, &source->anchor_length);
}

link_source ReadLinkSource(const html_render_info *context, const record_storage *node) {
  link_source source;
  const char *record = node->data;
  const DWORD length = node->length;
  if (node->signature == SIG_CD_LINK) {
    WORD index = 0;
    if (!ReadRecordWord(record, length, offsetof(CDLINK2, LinkID), &index)) {
      source.broken = true;
      return source;
    }
    ReadLinkTexts(record + sizeof(CDLINK2), length - sizeof(CDLINK2), &source);
    LookUpLinkTable(context, index, &source);
  } else if (node->signature == SIG_CD_DOCLINK) {
    if (length < sizeof(CDLINKEXPORT2)) {
      source.broken = true;
      return source;
    }
    memcpy(&source.link, record + offsetof(CDLINKEXPORT2, NoteLink), sizeof(NOTELINK));
    ReadLinkTexts(record + sizeof(CDLINKEXPORT2), length - sizeof(CDLINKEXPORT2), &source);
  } else if (IsResourceSignature(node->signature)) {
    ReadResourceLink(context, record, length, &source);
  } else {
    source.broken = true;
  }
  return source;
}

/* A URL piece from the document: "\" as "/", then escaped for a URL. */
void PutDocumentURL(render_text *out, const char *text, size_t length) {
  size_t from = 0;
  for (size_t i = 0; i <= length; ++i) {
    if (i < length && text[i] != '\\')
      continue;
    if (i > from)
      RenderTextPutEscaped(out, kEscapeURL, text + from, i - from);
    if (i < length)
      RenderTextPutc(out, '/');
    from = i + 1;
  }
}

void PutCommand(render_text *out, const char *option, const char *fallback) {
  RenderTextPuts(out, option != nullptr ? option : fallback);
}

bool EndsWith(const char *text, const char *end) {
  const size_t length = strlen(text);
  const size_t endLength = strlen(end);
  return length >= endLength && memcmp(text + length - endLength, end, endLength) == 0;
}

const char *Directory(const html_render_info *context) {
  return context->link_url_directory != nullptr ? context->link_url_directory : "";
}

/* Appends `text` after `held` with exactly the one "/" a path needs
 * between them: a "/" on both sides is written once, none on either side
 * gets one (unless `held` is empty). */
void JoinPath(render_text *out, const char *text) {
  const bool heldSlash = out->length > 0 && out->data[out->length - 1] == '/';
  if (heldSlash && text[0] == '/')
    ++text;
  else if (out->length > 0 && !heldSlash && text[0] != '/')
    RenderTextPutc(out, '/');
  RenderTextPuts(out, text);
}

/* "#" and the anchor name, for a link with one. */
void PutAnchor(render_text *out, const link_source &source) {
  if (source.anchor_length == 0)
    return;
  RenderTextPutc(out, '#');
  PutDocumentURL(out, source.anchor, source.anchor_length);
}

bool SeeAttached(const html_render_info *context) {
  return (context->flags5 & html_flags5::SeeAttachedMsgEnabled) != 0;
}

/* The href of a link found, without the callback: the link directory,
 * the server part and the note-link path, joined with single "/". */
STATUS WriteLinkURL(html_render_info *context, const link_source &source, render_text *href) {
  render_text path(context->session);
  const bool relative = (context->flags2 & html_flags2::DoclinksRelative) != 0;
  if (!relative) {
    if (source.server_length != 0 && !SeeAttached(context)) {
      RenderTextPutc(&path, '/');
      PutDocumentURL(&path, source.server, source.server_length);
      RenderTextPutc(&path, '/');
    } else {
      RenderTextPuts(&path, EndsWith(Directory(context), "://") ? "//" : "/");
    }
  }
  render_text notelink(context->session);
  DumpNotelink(source.link, &notelink, kNotelinkURL, context->generation, context,
               SeeAttached(context) ? TRUE : FALSE);
  if (notelink.status != NOERROR)
    return notelink.status;
  JoinPath(&path, notelink.data != nullptr ? notelink.data : "");
  if (path.status != NOERROR)
    return path.status;
  RenderTextPuts(href, Directory(context));
  JoinPath(href, path.data != nullptr ? path.data : "");
  PutAnchor(href, source);
  return href->status;
}

/* Texts of the callback: the database part (the path's first part
 * without its leading "/"), the view ("0" for a document link without
 * one) and the note, as 32 digits; null when the link has no such part. */
struct link_parts {
  render_text database;
  render_text view;
  render_text note;
  explicit link_parts(LSXLsiSession *session) : database(session), view(session), note(session) {}
};

const char *TextOf(const render_text &text) {
  return text.length != 0 && text.data != nullptr ? text.data : nullptr;
}

/* The href the caller's link callback answers. */
STATUS WriteAnsweredURL(html_render_info *context, const link_source &source,
                        render_text *href) {
  link_parts parts(context->session);
  render_text database(context->session);
  DumpNotelink(source.link, &database, kNotelinkURL, context->generation, context, TRUE);
  if (database.status != NOERROR)
    return database.status;
  // The database part ends where the view part starts: the first "/"
  // behind the ".NSF" (or the base path's last part).
  const char *whole = database.data != nullptr ? database.data : "";
  while (*whole == '/')
    ++whole;
  const bool view = NotelinkHasView(source.link);
  const bool note = NotelinkHasNote(source.link);
  const char *end = whole + strlen(whole);
  if (view || note) {
    // The view and note parts are the last one or two "/" parts.
    for (int cut = note ? 2 : 1; cut > 0 && end > whole; --cut) {
      do
        --end;
      while (end > whole && *end != '/');
    }
  }
  RenderTextPut(&parts.database, whole, static_cast<size_t>(end - whole));
  if (view || note) {
    DumpNotelink(source.link, &parts.view, kNotelinkViewID, context->generation, context, TRUE);
    if (!view) {
      parts.view.length = 0;
      RenderTextPutc(&parts.view, '0');
    }
  }
  if (note)
    DumpNotelink(source.link, &parts.note, kNotelinkNoteID, context->generation, context, TRUE);
  if (parts.database.status != NOERROR || parts.view.status != NOERROR ||
      parts.note.status != NOERROR)
    return VELKO_ERR_MEMORY;

  render_text texts[3] = {render_text(context->session), render_text(context->session),
                          render_text(context->session)};
  RenderTextPut(&texts[0], source.comment, source.comment_length);
  RenderTextPut(&texts[1], source.server, source.server_length);
  RenderTextPut(&texts[2], source.anchor, source.anchor_length);
  for (const render_text &text : texts) {
    if (text.status != NOERROR)
      return text.status;
  }
  VelkoLinkAnswer answer;
  // Kind 1: a note link (URL links are raised as kind 2).
  context->chunk->RaiseQueryLinkData(TextOf(database), 0, 1, TextOf(parts.database),
                                     TextOf(parts.view), TextOf(parts.note), TextOf(texts[0]),
                                     TextOf(texts[1]), TextOf(texts[2]), &answer);
  if (answer.status != NOERROR)
    return answer.status;
  if ((answer.kind == 2 || answer.kind == 4) && answer.texts[0] != nullptr) {
    RenderTextPuts(href, answer.texts[0]);
    return href->status;
  }
  if (answer.kind != 0)
    return NOERROR; // no answer: an empty href
  const char *directory = Directory(context);
  RenderTextPuts(href, directory);
  if (!EndsWith(directory, "/"))
    RenderTextPutc(href, '/');
  RenderTextPuts(href, answer.texts[0]);
  if (answer.texts[2] != nullptr) {
    RenderTextPutc(href, '/');
    RenderTextPuts(href, answer.texts[1]);
    RenderTextPutc(href, '/');
    RenderTextPuts(href, answer.texts[2]);
    PutCommand(href, context->open_document_string, "?OpenDocument");
  } else if (answer.texts[1] != nullptr) {
    RenderTextPutc(href, '/');
    RenderTextPuts(href, answer.texts[1]);
    PutCommand(href, context->open_view_string, "?OpenView");
  } else {
    PutCommand(href, context->open_database_string, "?OpenDatabase");
  }
  PutAnchor(href, source);
  return href->status;
}

link_kind KindOf(const link_source &source) {
  if (source.broken)
    return kBroken;
  if (NotelinkHasNote(source.link))
    return source.anchor_length != 0 ? kAnchorLink : kDocumentLink;
  return NotelinkHasView(source.link) ? kViewLink : kDatabaseLink;
}

const char *Icon(const html_render_info *context, link_kind kind) {
  struct icon {
    const char *option;
    const char *fallback;
  };
  const icon icons[] = {
      {context->dblink_graphic, "/icons/dblink.gif"},
      {context->viewlink_graphic, "/icons/viewlink.gif"},
      {context->doclink_graphic, "/icons/doclink.gif"},
      {context->anchorlink_graphic, "/icons/textlink.gif"},
      {context->broken_link_graphic, "/icons/actn116.gif"},
  };
  const icon &chosen = icons[kind];
  return chosen.option != nullptr ? chosen.option : chosen.fallback;
}

/* The icon's alternative text: its kind's word, or its file name. */
void PutIconAlt(html_render_info *context, const char *icon) {
  struct word {
    const char *name;
    const char *alt;
  };
  static const word kWords[] = {{"doclink", "doclink"},
                                {"textlink", "anchor link"},
                                {"dblink", "database link"},
                                {"viewlink", "viewbase link"}};
  for (const word &w : kWords) {
    if (stristr(icon, w.name) != nullptr) {
      RenderPuts(context, w.alt);
      return;
    }
  }
  const char *slash = strrchr(icon, '/');
  RenderPuts(context, slash != nullptr ? slash + 1 : icon);
}

/* An open automatic link of the text before is closed first. */
void CloseAutoURL(html_render_info *context) {
  if (context->auto_url_open != 0)
    CloseXMLAutoURL(context);
}

} // namespace

BOOL NotelinkIsCurrentNote(NOTEHANDLE note, const NOTELINK *link) {
  if (note == NULLHANDLE || link == nullptr)
    return FALSE;
  ORIGINATORID oid = {};
  NSFNoteGetInfo(note, _NOTE_OID, &oid);
  if (memcmp(&oid.Note, &link->Note.Note, sizeof(TIMEDATE)) == 0)
    return TRUE;
  // A sent copy names the note it was sent from.
  BLOCKID value = {};
  DWORD valueLength = 0;
  if (NSFItemInfo(note, "$KeepSent", 9, nullptr, nullptr, &value, &valueLength) != NOERROR)
    return FALSE;
  const auto *bytes = static_cast<const BYTE *>(OSLockBlock(value));
  constexpr DWORD kUnidAt = 2 * sizeof(WORD); // the type word and a further word
  bool same = false;
  if (bytes != nullptr && valueLength >= kUnidAt + sizeof(UNID))
    same = memcmp(bytes + kUnidAt + offsetof(UNID, Note), &link->Note.Note, sizeof(TIMEDATE)) == 0;
  if (bytes != nullptr)
    OSUnlockBlock(value);
  return same ? TRUE : FALSE;
}

STATUS ProcessXMLDoclink(html_render_info *context, WORD, WORD, WORD complete,
                         DWORD *inPageAnchor) {
  const record_storage *node = context->current_record;
  if (node == nullptr)
    return NOERROR;
  CloseAutoURL(context);
  const link_source source = ReadLinkSource(context, node);
  link_kind kind = KindOf(source);

  render_text href(context->session);
  STATUS status = NOERROR;
  const bool currentNote = !source.broken && source.anchor_length != 0 && SeeAttached(context) &&
                           NotelinkIsCurrentNote(context->item != nullptr ? context->item->note
                                                                          : NULLHANDLE,
                                                 &source.link) != FALSE;
  if (source.broken) {
    if (context->broken_link_url != nullptr)
      RenderTextPuts(&href, context->broken_link_url);
  } else if (currentNote) {
    PutAnchor(&href, source);
    if (inPageAnchor != nullptr)
      *inPageAnchor = 1;
    kind = kAnchorLink;
  } else if ((context->flags & html_flags::RaiseDocLinkEvent) != 0 && context->chunk != nullptr) {
    status = WriteAnsweredURL(context, source, &href);
  } else {
    status = WriteLinkURL(context, source, &href);
  }
  if (status == NOERROR)
    status = href.status;
  if (status != NOERROR)
    return status;

  RenderPuts(context, "<a href=\"");
  if (href.length != 0)
    RenderPut(context, href.data, href.length);
  const char *icon = Icon(context, kind);
  if (kind != kBroken)
    context->link_graphic_used[kind] = 1;
  const bool described =
      (context->flags & html_flags::WAICompliant) != 0 || SeeAttached(context);
  if (source.comment_length != 0 && described) {
    RenderPuts(context, "\" title=\"");
    CopyTranslatedText(context, source.comment, static_cast<DWORD>(source.comment_length),
                       nullptr, TRUE, FALSE, FALSE);
  }
  if (complete == 0) {
    RenderPuts(context, "\">");
    return context->output_status;
  }
  const char *end = IsXhtml(context) ? "\" />" : "\">";
  RenderPuts(context, "\"><img src=\"");
  RenderPuts(context, icon);
  if (described) {
    RenderPuts(context, "\" alt=\"");
    PutIconAlt(context, icon);
    RenderPuts(context, " icon");
  }
  RenderPuts(context, "\" border=\"0");
  RenderPuts(context, end);
  RenderPuts(context, "</a>");
  return context->output_status;
}
