/*
 * The link property settings (LinkAnchorText, LinkHintServer,
 * LinkNoteUniversalID, LinkPopupText, LinkReplicaID, LinkViewUniversalID):
 * before the walk the property's value becomes the one new link part of
 * the session; at each document link of the chunk (a link holding its note
 * link, a link by index into the note's link table, or a note-link
 * resource) the link is written back holding its own note link, with that
 * part replaced. Links that lack a part the session's filter names pass
 * unchanged.
 */
#include <ctype.h>
#include <stddef.h>
#include <string.h>
#include <strings.h>

#include <string>

#include "engine/link_records.h"
#include "engine/process_state.h"
#include "engine/property_set_actions.h"
#include "engine/record_fields.h"
#include "engine/services.h"
#include "engine/walk.h"
#include "generate/links.h"
#include "store/messages.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"

namespace {

constexpr size_t kReplicaDigits = 16;
constexpr size_t kUnidDigits = 32;
/* A note-link resource: its fixed part in host form, and its type. */
constexpr DWORD kResourceFixed = 28;
constexpr WORD kNoteLinkResource = 2;
/* A rebuilt link: header, note link, and the NULs of popup and hint. */
constexpr DWORD kDocLinkFixed = sizeof(CDLINKEXPORT2);
constexpr DWORD kDocLinkEmpty = kDocLinkFixed + 2;

bool AllHexDigits(const char* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (isxdigit(static_cast<unsigned char>(text[i])) == 0)
      return false;
  }
  return true;
}

bool IsResource(WORD signature) {
  return signature == SIG_CD_RESOURCE || signature == SIG_CD_RESOURCE_FF71 ||
         signature == SIG_CD_RESOURCE_FF78 || signature == SIG_CD_RESOURCE_FF5A;
}

WORD WordAt(const char* record, DWORD offset) {
  WORD value = 0;
  memcpy(&value, record + offset, sizeof value);
  return value;
}

void PutWordAt(char* record, DWORD offset, WORD value) {
  memcpy(record + offset, &value, sizeof value);
}

/* A text of at most `available` bytes, up to its NUL. */
std::string BoundedText(const char* text, DWORD available) {
  return std::string(text, strnlen(text, available));
}

/* The three NUL-terminated texts behind a link's fixed part; a text cut
 * by the record's end ends there, a missing one is empty. */
void SplitTexts(const char* texts, DWORD available, link_parts* link) {
  std::string* parts[] = {&link->popup, &link->hint, &link->anchor};
  for (std::string* part : parts) {
    *part = BoundedText(texts, available);
    const DWORD step = part->size() < available ? static_cast<DWORD>(part->size()) + 1 : available;
    texts += step;
    available -= step;
  }
}

enum class link_read { rewrite, pass, broken };

/* The link of a record: its note link (from the note's link table for a
 * link by index) and its texts. */
link_read ReadLink(const char* record, WORD signature, DWORD length, NOTEHANDLE note,
                   link_parts* link) {
  if (signature == SIG_CD_DOCLINK) {
    if (length < kDocLinkFixed)
      return link_read::pass;
    memcpy(&link->link, record + offsetof(CDLINKEXPORT2, NoteLink), sizeof link->link);
    SplitTexts(record + kDocLinkFixed, length - kDocLinkFixed, link);
    return link_read::rewrite;
  }
  if (signature == SIG_CD_LINK) {
    if (length < sizeof(CDLINK2))
      return link_read::pass;
    if (FindLinkTableEntry(note, WordAt(record, offsetof(CDLINK2, LinkID)), &link->link) !=
        link_table_lookup::found)
      return link_read::broken;
    SplitTexts(record + sizeof(CDLINK2), length - sizeof(CDLINK2), link);
    return link_read::rewrite;
  }
  if (!IsResource(signature) || length < kResourceFixed ||
      WordAt(record, offsetof(CDRESOURCE, Type)) != kNoteLinkResource)
    return link_read::pass;
  // Fixed part, server hint, file hint, the note link or its index, then
  // Length1 bytes: each length is bounded by the record.
  const DWORD serverHint = WordAt(record, offsetof(CDRESOURCE, ServerHintLength));
  const DWORD fileHint = WordAt(record, offsetof(CDRESOURCE, FileHintLength));
  const DWORD first = WordAt(record, offsetof(CDRESOURCE, Length1));
  DWORD flags = 0;
  memcpy(&flags, record + offsetof(CDRESOURCE, Flags), sizeof flags);
  const bool inline_ = (flags & CDRESOURCE_FLAGS_NOTELINK_INLINE) != 0;
  const DWORD linkAt = kResourceFixed + serverHint + fileHint;
  const DWORD firstAt = linkAt + (inline_ ? sizeof(NOTELINK) : sizeof(WORD));
  if (firstAt + first > length)
    return link_read::pass;
  if (inline_) {
    memcpy(&link->link, record + linkAt, sizeof link->link);
  } else if (FindLinkTableEntry(note, WordAt(record, linkAt), &link->link) !=
             link_table_lookup::found) {
    return link_read::broken;
  }
  link->hint = BoundedText(record + kResourceFixed, serverHint);
  link->popup = BoundedText(record + kResourceFixed + serverHint, fileHint);
  link->anchor = BoundedText(record + firstAt, first);
  return link_read::rewrite;
}

bool Present(const link_parts& parts, link_part part) { return parts.present[part] == 'Y'; }

/* Each part the filter holds equals the link's: the note link's parts by
 * bytes, the popup exactly, hint and anchor without regard to case. */
bool PassesFilter(const link_parts& link, const link_parts& filter) {
  if (Present(filter, kLinkPartReplica) &&
      memcmp(&link.link.File, &filter.link.File, sizeof link.link.File) != 0)
    return false;
  if (Present(filter, kLinkPartView) &&
      memcmp(&link.link.View, &filter.link.View, sizeof link.link.View) != 0)
    return false;
  if (Present(filter, kLinkPartNote) &&
      memcmp(&link.link.Note, &filter.link.Note, sizeof link.link.Note) != 0)
    return false;
  if (Present(filter, kLinkPartPopup) && link.popup != filter.popup)
    return false;
  if (Present(filter, kLinkPartHint) && strcasecmp(link.hint.c_str(), filter.hint.c_str()) != 0)
    return false;
  return !Present(filter, kLinkPartAnchor) ||
         strcasecmp(link.anchor.c_str(), filter.anchor.c_str()) == 0;
}

void ApplyNewParts(const link_parts& parts, link_parts* link) {
  if (Present(parts, kLinkPartReplica))
    link->link.File = parts.link.File;
  if (Present(parts, kLinkPartView))
    link->link.View = parts.link.View;
  if (Present(parts, kLinkPartNote))
    link->link.Note = parts.link.Note;
  if (Present(parts, kLinkPartPopup))
    link->popup = parts.popup;
  if (Present(parts, kLinkPartHint))
    link->hint = parts.hint;
  if (Present(parts, kLinkPartAnchor))
    link->anchor = parts.anchor;
}

/* The link holding its note link, then popup, hint and (when not empty)
 * anchor, each with its NUL, padded to an even length. */
STATUS BuildDocLink(const link_parts& link, chunk_record_output* output,
                    chunk_process_state* state) {
  DWORD length = kDocLinkEmpty + link.popup.size() + link.hint.size();
  if (!link.anchor.empty())
    length += link.anchor.size() + 1;
  length += length & 1;
  if (length > kBodyBufferCapacity)
    return kServiceNotAvailable;
  char* data = NewOutputRecord(length, SIG_CD_DOCLINK, output, state);
  if (data == nullptr)
    return VELKO_ERR_MEMORY;
  PutWordAt(data, 0, SIG_CD_DOCLINK);
  PutWordAt(data, sizeof(WORD), static_cast<WORD>(length));
  memcpy(data + offsetof(CDLINKEXPORT2, NoteLink), &link.link, sizeof link.link);
  // The block is zeroed: each text's NUL is already there.
  char* text = data + kDocLinkFixed;
  memcpy(text, link.popup.data(), link.popup.size());
  text += link.popup.size() + 1;
  memcpy(text, link.hint.data(), link.hint.size());
  text += link.hint.size() + 1;
  memcpy(text, link.anchor.data(), link.anchor.size());
  return NOERROR;
}

/* A note-link resource in its inline form: the fixed part kept with the
 * inline flag, hint server and popup as server and file hints, the note
 * link, then the anchor text. */
STATUS BuildResource(const char* record, WORD signature, const link_parts& link,
                     chunk_record_output* output, chunk_process_state* state) {
  const DWORD length = kResourceFixed + link.hint.size() + link.popup.size() + sizeof(NOTELINK) +
                       link.anchor.size();
  if (length > kBodyBufferCapacity)
    return kServiceNotAvailable;
  char* data = NewOutputRecord(length + (length & 1), signature, output, state);
  if (data == nullptr)
    return VELKO_ERR_MEMORY;
  output->length = length;
  memcpy(data, record, kResourceFixed);
  PutWordAt(data, sizeof(WORD), static_cast<WORD>(length));
  DWORD flags = 0;
  memcpy(&flags, data + offsetof(CDRESOURCE, Flags), sizeof flags);
  flags |= CDRESOURCE_FLAGS_NOTELINK_INLINE;
  memcpy(data + offsetof(CDRESOURCE, Flags), &flags, sizeof flags);
  PutWordAt(data, offsetof(CDRESOURCE, Length1), static_cast<WORD>(link.anchor.size()));
  PutWordAt(data, offsetof(CDRESOURCE, ServerHintLength), static_cast<WORD>(link.hint.size()));
  PutWordAt(data, offsetof(CDRESOURCE, FileHintLength), static_cast<WORD>(link.popup.size()));
  char* at = data + kResourceFixed;
  memcpy(at, link.hint.data(), link.hint.size());
  at += link.hint.size();
  memcpy(at, link.popup.data(), link.popup.size());
  at += link.popup.size();
  memcpy(at, &link.link, sizeof link.link);
  at += sizeof link.link;
  memcpy(at, link.anchor.data(), link.anchor.size());
  return NOERROR;
}

} // namespace

STATUS PrepareLinkProperty(chunk_process_state* state) {
  link_parts& parts = state->session->internal->link_new_parts;
  parts = link_parts{};
  const char* value = state->s1 != nullptr ? state->s1 : "";
  const size_t length = strnlen(value, state->p2);
  switch (state->p1) {
  case PROP_LINKANCHORTEXT:
    parts.anchor.assign(value, length);
    parts.present[kLinkPartAnchor] = 'Y';
    return NOERROR;
  case PROP_LINKHINTSERVER:
    parts.hint.assign(value, length);
    parts.present[kLinkPartHint] = 'Y';
    return NOERROR;
  case PROP_LINKPOPUPTEXT:
    parts.popup.assign(value, length);
    parts.present[kLinkPartPopup] = 'Y';
    return NOERROR;
  case PROP_LINKREPLICAID:
    if (length != kReplicaDigits || !AllHexDigits(value, length))
      return kServiceNotAvailable;
    parts.link.File = ParseReplica(value);
    parts.present[kLinkPartReplica] = 'Y';
    return NOERROR;
  case PROP_LINKVIEWUNIVERSALID:
  case PROP_LINKNOTEUNIVERSALID: {
    if (length != kUnidDigits || !AllHexDigits(value, length))
      return kServiceNotAvailable;
    const bool view = state->p1 == PROP_LINKVIEWUNIVERSALID;
    auto& unid = view ? parts.link.View : parts.link.Note;
    ParseUnid(value, unid.File, &unid.Note);
    parts.present[view ? kLinkPartView : kLinkPartNote] = 'Y';
    return NOERROR;
  }
  default:
    return kServiceNotAvailable;
  }
}

STATUS ProcessLinkPropertyAction(const char* record, WORD signature, DWORD length,
                                 chunk_record_output* output, chunk_process_state* state) {
  if (signature != SIG_CD_DOCLINK && signature != SIG_CD_LINK && !IsResource(signature))
    return NOERROR;
  const _internal_SESS* session = state->session->internal;
  link_parts link;
  switch (ReadLink(record, signature, length, state->note, &link)) {
  case link_read::pass:
    return NOERROR;
  case link_read::broken:
    ShowUserMessage("TARNO: Broken $Links reference");
    return NOERROR;
  case link_read::rewrite:
    break;
  }
  if (!PassesFilter(link, session->link_filter_parts))
    return NOERROR;
  ApplyNewParts(session->link_new_parts, &link);
  const STATUS status = IsResource(signature) ? BuildResource(record, signature, link, output, state)
                                              : BuildDocLink(link, output, state);
  if (status == NOERROR)
    StateItem(state)->Modified = 1;
  return status;
}
