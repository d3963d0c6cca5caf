/*
 * Hotspots and sections: ProcessXMLHotspot renders one hotspot (URL
 * links, links carried by link records, JavaScript event anchors, wiki
 * links, text popups, computed text, file attachments) or a section bar
 * inside one, hands the records inside the hotspot back to the record
 * driver one level deeper, and at the hotspot's end record closes what
 * the hotspot opened: lists begun inside it, a mail-style bar's closing
 * rule, the section's division and the anchor.
 *
 * The hotspot depth is the context's section_id: the section divisions
 * are pushed with it and closed when the hotspot that holds them ends.
 */
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/record_fields.h"
#include "engine/services.h"
#include "host/nsfnote.h"
#include "host/oslog.h"
#include "host/status.h"
#include "render/formulas.h"
#include "render/graphic.h"
#include "render/identity.h"
#include "render/output_buffer.h"
#include "render/paragraphs.h"
#include "render/run_files.h"
#include "render/family_renderers.h"
#include "render/sections.h"
#include "render/services.h"
#include "render/tag_stack.h"
#include "render/text_render.h"
#include "store/body.h"
#include "store/session.h"

/* The CDTARGETs and CDIDNAMEs a hotspot's anchor reads, kept from the last
 * look ahead: hotspots nested in one another, or begun without an end,
 * share the records up to the first hotspot end, which are then read once
 * instead of once for each of them. The region runs from the node the look
 * ahead started at to the record it stopped at; `after` gives, for each
 * node of the region, where its own look ahead starts among the marks. */
struct hotspot_marks {
  std::vector<const record_storage *> marks; /* in list order */
  /* By mark index (and one past the last): the first target and the first
   * identity record at or after it. */
  std::vector<size_t> next_target;
  std::vector<size_t> next_identity;
  std::unordered_map<const record_storage *, size_t> after;
};

/* The hotspot end FindEnd found after each node it read past (null: the
 * list or the run's records ended first), under the run's last record it
 * was read with. */
struct hotspot_ends {
  const record_storage *last = nullptr;
  std::unordered_map<const record_storage *, record_storage *> end_after;
};

namespace {

namespace f1 = html_flags;
namespace f3 = html_flags3;
namespace f5 = html_flags5;

/* Hotspot types. */
constexpr WORD kTypePopup = 1;
constexpr WORD kTypeRegion = 2;
constexpr WORD kTypeFile = 4;
constexpr WORD kTypeURL = 11;
constexpr WORD kTypeBundle = 12;
constexpr WORD kTypeV4Section = 13;
constexpr WORD kTypeMouseOverPopup = 22;
/* Hotspot flags. */
constexpr DWORD kFlagLinkRecords = 0x00000001;
constexpr DWORD kFlagFormula = 0x00000010;
constexpr DWORD kFlagURLText = 0x00001000;
constexpr DWORD kFlagComputedText = 0x00040000;
constexpr DWORD kFlagEvents = 0x00200000;
/* Resource types and flags. */
constexpr WORD kResourceURL = 1;
constexpr WORD kResourceNoteLink = 2;
constexpr DWORD kResourceIsFormula = 0x00000001;
constexpr WORD kActionJavaScript = 4;
constexpr size_t kLongestURL = 4095;
constexpr DWORD kDataAt = sizeof(CDHOTSPOTBEGIN);
/* The fixed part of a CDRESOURCE in host form. */
constexpr DWORD kResourceFixed = sizeof(CDRESOURCE);
constexpr DWORD kTargetAt = 12;
constexpr DWORD kScriptAt = 18;

bool BracketsLink(const record_storage *node) {
  return IsLinkRecord(NodeBracket(node));
}

struct hotspot_begin {
  WORD type = 0;
  DWORD flags = 0;
  const char *data = nullptr;
  DWORD length = 0; /* bounded by the record */
};

hotspot_begin ReadBegin(const record_storage *node) {
  hotspot_begin begin;
  if (node->data == nullptr || node->length < kDataAt)
    return begin;
  WORD dataLength = 0;
  ReadRecordWord(node->data, node->length, offsetof(CDHOTSPOTBEGIN, Type), &begin.type);
  ReadRecordDword(node->data, node->length, offsetof(CDHOTSPOTBEGIN, Flags), &begin.flags);
  ReadRecordWord(node->data, node->length, offsetof(CDHOTSPOTBEGIN, DataLength), &dataLength);
  begin.data = node->data + kDataAt;
  const DWORD room = node->length - kDataAt;
  begin.length = dataLength < room ? dataLength : room;
  return begin;
}

/* A text from document data ends at its first NUL. */
DWORD TextLength(const char *text, DWORD length) {
  const void *nul = text != nullptr ? memchr(text, '\0', length) : nullptr;
  return nul != nullptr ? static_cast<DWORD>(static_cast<const char *>(nul) - text) : length;
}

const char *ImageEnd(const html_render_info *c) { return IsXhtml(c) ? " />" : ">"; }

struct hotspot_call {
  html_render_info *c;
  WORD begin;
  WORD depth;
  WORD raised = 0;          /* hotspot depths raised here */
  bool anchor_here = false; /* "</a>" pushed here */
  bool link_done = false;   /* a link record inside was rendered */
  bool finished = false;    /* the hotspot was written whole, its end passed */
  STATUS status = NOERROR;
};

void Advance(html_render_info *c) {
  if (c->current_record != nullptr)
    c->current_record = c->current_record->next;
}

/* Records FindEnd reads before it keeps what it read. */
constexpr size_t kShortEndSearch = 64;

/* FindEnd past its first records, from `start` on: the answer of a node
 * read before is taken where the read meets it, and every node read now,
 * from `from` on, keeps the answer; read in place when memory runs out. */
record_storage *FindEndKept(html_render_info *c, record_storage *from, record_storage *start) {
  record_storage *node = start;
  try {
    hotspot_ends *kept = c->hotspot_ends;
    if (kept == nullptr) {
      kept = new hotspot_ends;
      c->hotspot_ends = kept;
    }
    if (kept->last != c->last_record) {
      kept->end_after.clear();
      kept->last = c->last_record;
    }
    record_storage *end = nullptr;
    for (; node != nullptr && !IsBeyondLast(c, node); node = node->next) {
      if (IsHotspotEnd(node->signature)) {
        end = node;
        break;
      }
      const auto known = kept->end_after.find(node);
      if (known != kept->end_after.end()) {
        end = known->second;
        break;
      }
    }
    for (const record_storage *at = from; at != node; at = at->next)
      kept->end_after.emplace(at, end);
    return end;
  } catch (const std::bad_alloc &) {
    delete c->hotspot_ends;
    c->hotspot_ends = nullptr;
    for (node = start; node != nullptr && !IsBeyondLast(c, node); node = node->next) {
      if (IsHotspotEnd(node->signature))
        return node;
    }
    return nullptr;
  }
}

/* The hotspot's end record from the node on, or null. A long read keeps
 * its answer for every node it passed (hotspot_ends), so that hotspots
 * begun without an end, one in each of many cells or layers, do not each
 * read to the end of the list. */
record_storage *FindEnd(html_render_info *c, record_storage *from) {
  record_storage *node = from;
  for (size_t read = 0; read < kShortEndSearch; ++read, node = node->next) {
    if (node == nullptr || IsBeyondLast(c, node))
      return nullptr;
    if (IsHotspotEnd(node->signature))
      return node;
  }
  return FindEndKept(c, from, node);
}

void RaiseDepth(hotspot_call &h) {
  html_render_info *c = h.c;
  if (c->section_id + 1 >= kMaxNesting)
    return;
  ++c->section_id;
  ++h.raised;
  c->section_bars[c->section_id] = nullptr;
}

void PushAnchorEnd(hotspot_call &h) {
  PushClosingTag(h.c, "</a>");
  h.anchor_here = true;
}

/* The text of a hotspot's or resource's data: the data itself, or the
 * result of its formula. Data that does not start as a formula is taken as
 * written; a formula that starts but does not evaluate gives no text. Out
 * of memory leaves out's status 263. */
void DataText(html_render_info *c, const char *data, DWORD length, bool formula,
              render_text *out) {
  if (formula) {
    bool started = false;
    const STATUS status = RenderFormulaText(c, data, length, out, &started);
    if (status == NOERROR)
      return;
    if (status == ERR_MEMORY) {
      out->status = ERR_MEMORY;
      return;
    }
    out->length = 0;
    if (started)
      return;
  }
  RenderTextPut(out, data, TextLength(data, length));
}

bool IsTargetMark(const record_storage *node) {
  return node->signature == SIG_CD_TARGET && node->length >= kTargetAt;
}

void PutTarget(html_render_info *c, const record_storage *node) {
  WORD length = 0;
  ReadRecordWord(node->data, node->length, offsetof(CDTARGET, TargetLength), &length);
  const DWORD room = node->length - kTargetAt;
  RenderPuts(c, " target=\"");
  CopyTranslatedText(c, node->data + kTargetAt, length < room ? length : room, nullptr, TRUE,
                     FALSE, FALSE);
  RenderPutc(c, '"');
}

/* Whether another hotspot begins between the node and the first hotspot
 * end after it. */
bool BeginsAnotherBeforeEnd(html_render_info *c, const record_storage *from) {
  for (const record_storage *node = from->next;
       node != nullptr && !IsBeyondLast(c, node) && !IsHotspotEnd(node->signature);
       node = node->next) {
    if (node->signature == SIG_CD_HOTSPOTBEGIN || node->signature == SIG_CD_V4HOTSPOTBEGIN ||
        node->signature == SIG_CD_RESOURCELINKBEGIN)
      return true;
  }
  return false;
}

/* Reads the region that starts at the node into the kept marks; false
 * when memory ran out (the marks are then dropped). */
bool ReadMarks(html_render_info *c, const record_storage *from) {
  hotspot_marks *kept = c->hotspot_marks;
  try {
    if (kept == nullptr) {
      kept = new hotspot_marks;
      c->hotspot_marks = kept;
    }
    kept->marks.clear();
    kept->after.clear();
    kept->after.emplace(from, 0);
    for (const record_storage *node = from->next;
         node != nullptr && !IsBeyondLast(c, node) && !IsHotspotEnd(node->signature);
         node = node->next) {
      if (node->data != nullptr && (IsTargetMark(node) || node->signature == SIG_CD_IDNAME))
        kept->marks.push_back(node);
      kept->after.emplace(node, kept->marks.size());
    }
    const size_t count = kept->marks.size();
    kept->next_target.assign(count + 1, count);
    kept->next_identity.assign(count + 1, count);
    for (size_t i = count; i-- > 0;) {
      const bool target = kept->marks[i]->signature == SIG_CD_TARGET;
      kept->next_target[i] = target ? i : kept->next_target[i + 1];
      kept->next_identity[i] = target ? kept->next_identity[i + 1] : i;
    }
    return true;
  } catch (const std::bad_alloc &) {
    delete kept;
    c->hotspot_marks = nullptr;
    return false;
  }
}

/* PutTargetsAndIdentity without the kept marks: the records are read
 * where they stand. */
bool PutMarksInPlace(html_render_info *c, const record_storage *from) {
  bool target = false;
  for (const record_storage *node = from->next;
       node != nullptr && !IsBeyondLast(c, node) && !IsHotspotEnd(node->signature);
       node = node->next) {
    if (node->data == nullptr)
      continue;
    if (IsTargetMark(node) && !target) {
      PutTarget(c, node);
      target = true;
    } else if (node->signature == SIG_CD_IDNAME) {
      CalculateXMLIDName(node->data, node->length, c, nullptr);
    }
  }
  return target;
}

/* " target=..." of the first CDTARGET and the identity attributes of the
 * CDIDNAMEs between the node and the hotspot's end. An element takes one
 * target: a further CDTARGET (a second one, or a nested hotspot's) would
 * repeat the attribute, which no parser accepts. */
bool PutTargetsAndIdentity(html_render_info *c, const record_storage *from) {
  if (from == nullptr)
    return false;
  hotspot_marks *kept = c->hotspot_marks;
  if (kept == nullptr || kept->after.find(from) == kept->after.end()) {
    // A hotspot that holds no other begins before its end is read where
    // it stands: only nested or unclosed ones share the marks.
    if (!BeginsAnotherBeforeEnd(c, from) || !ReadMarks(c, from))
      return PutMarksInPlace(c, from);
    kept = c->hotspot_marks;
  }
  const size_t first = kept->after.find(from)->second;
  // The first target in its place among the identity records; the later
  // targets write nothing and are not visited.
  const size_t count = kept->marks.size();
  const size_t target = kept->next_target[first];
  size_t i = kept->next_identity[first];
  for (; i < target && i < count; i = kept->next_identity[i + 1])
    CalculateXMLIDName(kept->marks[i]->data, kept->marks[i]->length, c, nullptr);
  if (target < count)
    PutTarget(c, kept->marks[target]);
  for (; i < count; i = kept->next_identity[i + 1])
    CalculateXMLIDName(kept->marks[i]->data, kept->marks[i]->length, c, nullptr);
  return target < count;
}

/* "<a href=\"URL\"" for a URL from the document ("\" as "/", URL-escaped),
 * or with the link callback's answer under RaiseLinkEvent=; false when
 * nothing was written (no answer). */
bool PutURLStart(html_render_info *c, const char *url, size_t length) {
  if (length > kLongestURL)
    length = kLongestURL;
  if ((c->flags & f1::RaiseURLLinkEvent) != 0 && c->chunk != nullptr) {
    std::string text(url, length);
    VelkoLinkAnswer answer;
    c->chunk->RaiseQueryLinkData(nullptr, 0, 2, nullptr, nullptr, nullptr, text.c_str(), nullptr,
                                 nullptr, &answer);
    if (answer.status != NOERROR && c->output_status == NOERROR)
      c->output_status = answer.status;
    if ((answer.kind != 2 && answer.kind != 4) || answer.texts[0] == nullptr)
      return false;
    RenderPuts(c, "<a href=\"");
    RenderPuts(c, answer.texts[0]);
    RenderPutc(c, '"');
    return true;
  }
  std::string slashed(url, length);
  for (char &ch : slashed) {
    if (ch == '\\')
      ch = '/';
  }
  RenderPuts(c, "<a href=\"");
  RenderPutEscaped(c, kEscapeURL, slashed.data(), slashed.size());
  RenderPutc(c, '"');
  return true;
}

/* A URL link: its anchor with target and identity attributes. */
void URLLink(hotspot_call &h, const record_storage *node, const char *url, size_t length) {
  html_render_info *c = h.c;
  if (length == 0 || !PutURLStart(c, url, length))
    return;
  c->anchor_open = 1;
  PutTargetsAndIdentity(c, node);
  RenderPutc(c, '>');
  PushAnchorEnd(h);
}

/* ---- wiki links ---- */

struct wiki_title {
  const char *text = nullptr;
  DWORD length = 0;
};

/* The title of a CDIDNAME in the hotspot whose class begins "WikiLink". */
bool FindWikiTitle(const html_render_info *c, const record_storage *from, wiki_title *title) {
  for (const record_storage *node = from != nullptr ? from->next : nullptr;
       node != nullptr && !IsBeyondLast(c, node) && !IsHotspotEnd(node->signature);
       node = node->next) {
    if (node->signature != SIG_CD_IDNAME || node->data == nullptr ||
        node->length < sizeof(CDIDNAME) - 2)
      continue;
    CDIDNAME id{};
    memcpy(&id, node->data, node->length < sizeof id ? node->length : sizeof id);
    const DWORD textAt = 26;
    const DWORD classAt = textAt + id.Length;
    const DWORD titleAt = classAt + id.ClassNameLength + id.StyleLength;
    if (titleAt + id.TitleLength > node->length || id.ClassNameLength < 8 ||
        strncasecmp(node->data + classAt, "WikiLink", 8) != 0 || id.TitleLength == 0)
      continue;
    title->text = node->data + titleAt;
    title->length = TextLength(title->text, id.TitleLength);
    return title->length != 0;
  }
  return false;
}

bool UseJavaScript(html_render_info *c) {
  render_option option(c, "UseJavaScript=");
  return option.value() != nullptr && strcasecmp(option.value(), "no") != 0;
}

void WikiLink(hotspot_call &h, const wiki_title &title) {
  html_render_info *c = h.c;
  const char *wiki = c->resolve_wiki;
  if (UseJavaScript(c)) {
    // The title as a JavaScript string inside a double-quoted attribute.
    std::string script;
    for (DWORD i = 0; i < title.length; ++i) {
      const char ch = title.text[i];
      if (ch == '\\' || ch == '"' || ch == '\'')
        script += '\\';
      if (static_cast<unsigned char>(ch) < 0x20) {
        char code[8];
        snprintf(code, sizeof code, "\\x%02x", static_cast<unsigned char>(ch));
        script += code;
      } else {
        script += ch;
      }
    }
    RenderPuts(c, "<a href=\"\" class=\"WikiLink\" onClick=\"var newWin = window.open(&quot;");
    RenderPuts(c, wiki);
    RenderPuts(c, "&quot;); newWin.document.getElementsByName(&quot;Subject&quot;)[0].value = "
                  "&quot;");
    RenderPutEscaped(c, kEscapeAttribute, script.data(), script.size());
    RenderPuts(c, "&quot;; return false;\">");
  } else {
    std::string words(title.text, title.length);
    for (char &ch : words) {
      if (ch == ' ')
        ch = '+';
    }
    RenderPuts(c, "<a href=\"http:");
    RenderPuts(c, wiki);
    RenderPutEscaped(c, kEscapeURL, words.data(), words.size());
    RenderPuts(c, "\" class=\"WikiLink\" target=\"_top\">");
  }
  PushAnchorEnd(h);
}

/* ---- V4 hotspots ---- */

/* A link carried by link records inside the hotspot: the first link's
 * anchor around the hotspot's text; the walk goes on past the end. */
void LinkRecordsHotspot(hotspot_call &h, record_storage *node) {
  html_render_info *c = h.c;
  record_storage *end = FindEnd(c, node->next);
  bool linked = false;
  DWORD sameWindow = 0;
  for (record_storage *at = node->next; at != end && at != nullptr && !linked; at = at->next) {
    if (!IsLinkRecord(at->signature) && at->signature != SIG_CD_RESOURCE)
      continue;
    record_storage *saved = c->current_record;
    c->current_record = at;
    h.status = ProcessXMLDoclink(c, h.begin, h.depth, 0, &sameWindow);
    c->current_record = saved;
    if (h.status != NOERROR)
      return;
    if (RenderEndsWith(c, ">", false))
      RenderTruncate(c, c->output_length - 1);
    linked = true;
  }
  if (linked) {
    const bool target = PutTargetsAndIdentity(c, node);
    if (sameWindow != 0 && !target)
      RenderPuts(c, " target=\"_self\"");
    RenderPutc(c, '>');
  }
  for (record_storage *at = node->next; at != end && at != nullptr; at = at->next) {
    if (at->signature != SIG_CD_TEXT && at->signature != SIG_CD_BIDI_TEXT)
      continue;
    c->current_record = at;
    h.status = ProcessXMLText(c, h.begin, 0);
    if (h.status != NOERROR)
      return;
  }
  if (linked)
    RenderPuts(c, "</a>");
  c->current_record = end != nullptr ? end->next : nullptr;
}

const char *EventAttribute(WORD code) {
  static const char *const kNames[] = {
      "OnClick",    "OnClick",    "OnDblClick", "OnMouseDown", "OnMouseUp", "OnMouseOver",
      "OnMouseMove", "OnMouseOut", "OnKeyPress", "OnKeyDown",  "OnKeyUp",   "OnFocus",
      "OnBlur",     "OnLoad",     "OnUnload",   "Header",      "OnSubmit",  "OnReset",
      "OnChange",   "OnError",    "OnHelp",     "OnSelect"};
  return code < sizeof kNames / sizeof kNames[0] ? kNames[code] : "OnClick";
}

/* One anchor with an attribute per JavaScript event of the hotspot. */
void EventsHotspot(hotspot_call &h, const record_storage *node) {
  html_render_info *c = h.c;
  bool opened = false;
  for (const record_storage *at = node->next;
       at != nullptr && !IsBeyondLast(c, at) && !IsHotspotEnd(at->signature); at = at->next) {
    if (at->signature != SIG_CD_EVENT || at->data == nullptr)
      continue;
    WORD code = 0;
    WORD action = 0;
    DWORD remaining = 0;
    ReadRecordWord(at->data, at->length, offsetof(CDEVENT, EventType), &code);
    ReadRecordWord(at->data, at->length, offsetof(CDEVENT, ActionType), &action);
    ReadRecordDword(at->data, at->length, offsetof(CDEVENT, ActionLength), &remaining);
    if (action != kActionJavaScript)
      continue;
    if (!opened) {
      RenderPuts(c, "<a href=\"\" ");
      c->anchor_open = 1;
      PushAnchorEnd(h);
      opened = true;
    } else {
      RenderPutc(c, ' ');
    }
    RenderPuts(c, EventAttribute(code));
    RenderPuts(c, "=\"");
    for (const record_storage *piece = at->next;
         piece != nullptr && remaining != 0 && piece->signature == SIG_CD_BLOBPART &&
         !IsBeyondLast(c, piece);
         piece = piece->next) {
      WORD length = 0;
      if (piece->data == nullptr || piece->length < kScriptAt ||
          !ReadRecordWord(piece->data, piece->length, offsetof(CDBLOBPART, Length), &length))
        break;
      DWORD take = length < remaining ? length : remaining;
      if (take > piece->length - kScriptAt)
        take = piece->length - kScriptAt;
      CopyTranslatedText(c, piece->data + kScriptAt, TextLength(piece->data + kScriptAt, take),
                         nullptr, TRUE, FALSE, FALSE);
      remaining -= take;
    }
    if (!RenderEndsWith(c, ";", false))
      RenderPuts(c, "; ");
    RenderPuts(c, "return false;\"");
  }
  if (opened)
    RenderPutc(c, '>');
}

void V4Hotspot(hotspot_call &h, record_storage *node) {
  html_render_info *c = h.c;
  RaiseDepth(h);
  const hotspot_begin begin = ReadBegin(node);
  if (begin.type == kTypeBundle || begin.type == kTypeV4Section || h.anchor_here ||
      (c->flags3 & f3::SuppressLinks) != 0) {
    Advance(c);
    return;
  }
  if (begin.type == kTypeURL && (begin.flags & kFlagURLText) != 0) {
    render_text url(c->session);
    DataText(c, begin.data, begin.length, (begin.flags & kFlagFormula) != 0, &url);
    if (url.status != NOERROR) {
      h.status = url.status;
      return;
    }
    URLLink(h, node, url.data, url.length);
  } else if (begin.type == kTypeURL && (begin.flags & kFlagLinkRecords) != 0) {
    LinkRecordsHotspot(h, node);
    h.finished = true;
    return;
  } else if (begin.type == kTypeRegion && (begin.flags & kFlagEvents) != 0) {
    EventsHotspot(h, node);
  } else if (begin.type == kTypeRegion && (begin.flags & kFlagFormula) != 0 &&
             c->resolve_wiki != nullptr) {
    wiki_title title;
    if (FindWikiTitle(c, node, &title))
      WikiLink(h, title);
  }
  Advance(c);
}

/* ---- resources ---- */

void ResourceHotspot(hotspot_call &h, record_storage *node) {
  html_render_info *c = h.c;
  WORD type = 0;
  DWORD flags = 0;
  WORD length = 0;
  WORD server = 0;
  WORD file = 0;
  const char *record = node->data;
  if (record == nullptr || node->length < kResourceFixed) {
    Advance(c);
    return;
  }
  ReadRecordWord(record, node->length, offsetof(CDRESOURCE, Type), &type);
  ReadRecordDword(record, node->length, offsetof(CDRESOURCE, Flags), &flags);
  ReadRecordWord(record, node->length, offsetof(CDRESOURCE, Length1), &length);
  ReadRecordWord(record, node->length, offsetof(CDRESOURCE, ServerHintLength), &server);
  ReadRecordWord(record, node->length, offsetof(CDRESOURCE, FileHintLength), &file);
  if (type == kResourceURL) {
    if ((c->flags3 & f3::SuppressLinks) == 0 && !h.anchor_here) {
      const DWORD at = kResourceFixed + server + file;
      const DWORD room = at < node->length ? node->length - at : 0;
      render_text url(c->session);
      DataText(c, record + (at < node->length ? at : 0), length < room ? length : room,
               (flags & kResourceIsFormula) != 0, &url);
      if (url.status != NOERROR) {
        h.status = url.status;
        return;
      }
      URLLink(h, node, url.data, url.length);
    }
  } else if (type == kResourceNoteLink) {
    c->anchor_open = 1;
    wiki_title title;
    if (!h.anchor_here && c->resolve_wiki != nullptr && FindWikiTitle(c, node, &title))
      WikiLink(h, title);
    if (!h.anchor_here) {
      DWORD sameWindow = 0;
      h.status = ProcessXMLDoclink(c, h.begin, h.depth, 0, &sameWindow);
      if (h.status != NOERROR)
        return;
      PushAnchorEnd(h);
      if (RenderEndsWith(c, ">", false)) {
        RenderTruncate(c, c->output_length - 1);
        const bool target = PutTargetsAndIdentity(c, node);
        if (sameWindow != 0 && !target)
          RenderPuts(c, " target=\"_self\"");
        RenderPutc(c, '>');
      }
    }
  }
  Advance(c);
}

/* ---- file attachments ---- */

void PutAttachmentGraphic(html_render_info *c, const std::string &shown) {
  if (c->attachment_graphic == nullptr)
    return;
  RenderPuts(c, "<img src=\"");
  RenderPuts(c, c->attachment_graphic);
  RenderPuts(c, "\" alt=\" ");
  CopyTranslatedText(c, shown.data(), static_cast<DWORD>(shown.size()), nullptr, TRUE, FALSE,
                     FALSE);
  RenderPuts(c, " \" border=\"0\"");
  RenderPuts(c, ImageEnd(c));
}

void PutShownName(html_render_info *c, const std::string &shown) {
  CopyTranslatedText(c, shown.data(), static_cast<DWORD>(shown.size()), nullptr, TRUE, FALSE,
                     FALSE);
}

void SeeAttached(html_render_info *c, const std::string &shown) {
  RenderPuts(c, "<i>(");
  RenderPuts(c, c->see_attached_msg != nullptr ? c->see_attached_msg : "See attached file: ");
  RenderPutc(c, '\'');
  PutShownName(c, shown);
  RenderPuts(c, "')</i>");
}

NOTEHANDLE RenderedNote(const html_render_info *c) {
  return c->item != nullptr ? c->item->note : NULLHANDLE;
}

/* Mode 1: a link to the copy on the server. */
void ServerAttachment(hotspot_call &h, const std::string &internal) {
  html_render_info *c = h.c;
  RenderPuts(c, "<a href=\"");
  if (c->inplace_attachment_url_directory != nullptr) {
    RenderPuts(c, c->inplace_attachment_url_directory);
  } else {
    const std::string path = RenderRelativeDatabasePath(c);
    RenderPutc(c, '/');
    RenderPutEscaped(c, kEscapeURL, path.data(), path.size());
  }
  if (c->file_names_field != nullptr && RenderedNote(c) != NULLHANDLE)
    NSFItemAppendTextList(RenderedNote(c), c->file_names_field, internal.c_str(),
                          static_cast<WORD>(internal.size()), TRUE);
  RenderPuts(c, "/0/");
  RenderPuts(c, RenderNoteUnidText(c).c_str());
  RenderPuts(c, "/$FILE/");
  RenderPutEscaped(c, kEscapeURL, internal.data(), internal.size());
  RenderPuts(c, "\">");
  PushAnchorEnd(h);
}

/* Mode 2: the file extracted into the attachment directory, linked there. */
void DiskAttachment(hotspot_call &h, const std::string &internal, const std::string &shown) {
  html_render_info *c = h.c;
  if (c->attachment_directory == nullptr)
    return;
  if (c->attachment_directory_made == 0) {
    if (MakeDirectoryIfNecessary(c->attachment_directory) == 0)
      return;
    c->attachment_directory_made = 1;
  }
  std::string name;
  if (!RenderCheckedFileName(shown.data(), shown.size(), &name))
    return;
  // What the extraction says changes nothing: the link is written all the
  // same.
  const NOTEHANDLE note = RenderedNote(c);
  STATUS ignored = NOERROR;
  if (note != NULLHANDLE)
    name = WriteRunFile(
        c, c->attachment_directory, name, false,
        [note, &internal](const std::string &path) {
          return ExtractAttachmentFile(note, internal.c_str(), path.c_str());
        },
        &ignored);
  // Without a URL directory of its own the link names the file where it
  // was written: in the attachment directory, a path escaped for a URL.
  const bool urlDirectory = c->attachment_url_directory != nullptr;
  std::string base = urlDirectory ? c->attachment_url_directory : c->attachment_directory;
  for (char &ch : base) {
    if (ch == '\\')
      ch = '/';
  }
  while (!base.empty() && base.back() == '/')
    base.pop_back();
  RenderPuts(c, "<a href=\"");
  if (urlDirectory)
    RenderPuts(c, base.c_str());
  else
    RenderPutEscaped(c, kEscapeURL, base.data(), base.size());
  RenderPutc(c, '/');
  RenderPutEscaped(c, kEscapeURL, name.data(), name.size());
  RenderPuts(c, "\">");
  PutAttachmentGraphic(c, shown);
  if (c->attachment_text_in_link != 0)
    PutShownName(c, shown);
  PushAnchorEnd(h);
}

/* Mode 4: an anchor named after the file. */
void NamedAttachment(html_render_info *c, const std::string &shown) {
  RenderPuts(c, "<a name=\"");
  PutShownName(c, shown);
  RenderPuts(c, "\"></a>");
  PutAttachmentGraphic(c, shown);
  if (c->attachment_text_in_link == 0)
    return;
  if (c->mime_mode != 0) {
    RenderPuts(c, "&lt;attachment: ");
    PutShownName(c, shown);
    RenderPuts(c, "&gt;");
  } else {
    PutShownName(c, shown);
  }
}

void FileHotspot(hotspot_call &h, record_storage *node, const hotspot_begin &begin) {
  html_render_info *c = h.c;
  if ((c->flags3 & f3::SuppressAttachments) != 0) {
    if (c->session != nullptr && c->session->internal->debug_level != 0)
      AddInLogMessageText("%s", 0, "Attachment suppressed due to SuppressAttachments setting");
    record_storage *end = FindEnd(c, node->next);
    if (h.anchor_here && TagOnXMLStack(c, 0, "</a>", 1) != 0) {
      PopXMLStack(c, 0, "</a>", 1, 1, 0, 0, 0);
      h.anchor_here = false;
    }
    c->current_record = end != nullptr ? end : node->next;
    return;
  }
  const WORD mode = c->attachment_handling;
  if (c->mime_mode != 0 && mode != kHandlingDisk && mode != kHandlingByName) {
    record_storage *end = FindEnd(c, node->next);
    c->current_record = end != nullptr ? end : node->next;
    return;
  }
  Advance(c);
  const DWORD internalLength = TextLength(begin.data, begin.length);
  if (internalLength == 0 || mode == kHandlingIgnore)
    return;
  const std::string internal(begin.data, internalLength);
  std::string shown;
  if (internalLength < begin.length) {
    const char *rest = begin.data + internalLength + 1;
    shown.assign(rest, TextLength(rest, begin.length - internalLength - 1));
  }
  c->in_link[0] = 1;
  if ((c->flags5 & f5::SeeAttachedMsgEnabled) != 0) {
    SeeAttached(c, shown);
    return;
  }
  if (mode == kHandlingDisk)
    DiskAttachment(h, internal, shown);
  else if (mode == kHandlingByName)
    NamedAttachment(c, shown);
  else
    ServerAttachment(h, internal);
}

/* ---- older hotspots ---- */

void Popup(hotspot_call &h, const hotspot_begin &begin) {
  html_render_info *c = h.c;
  if (begin.length == 0)
    return;
  render_text text(c->session);
  DataText(c, begin.data, begin.length, (begin.flags & kFlagFormula) != 0, &text);
  if (text.status != NOERROR) {
    h.status = text.status;
    return;
  }
  RenderPuts(c, "<a onclick=\"return false;\" title=\"");
  if (text.length != 0)
    CopyTranslatedText(c, text.data, text.length, nullptr, TRUE, FALSE, FALSE);
  RenderPutc(c, '"');
  RenderPuts(c, (c->flags & f1::StandardFontTags) != 0
                    ? " href=\"\""
                    : " style=\"text-decoration: none; background: #ffffc2\"");
  RenderPutc(c, '>');
  PushAnchorEnd(h);
}

void ComputedText(hotspot_call &h, const hotspot_begin &begin) {
  html_render_info *c = h.c;
  if (begin.length == 0)
    return;
  render_text text(c->session);
  DataText(c, begin.data, begin.length, true, &text);
  if (text.status != NOERROR) {
    h.status = text.status;
    return;
  }
  if (text.length != 0)
    CopyTranslatedText(c, text.data, text.length, nullptr, FALSE, FALSE, FALSE);
}

void Hotspot(hotspot_call &h, record_storage *node) {
  html_render_info *c = h.c;
  if (node->previous == nullptr || node->previous->signature != SIG_CD_V4HOTSPOTBEGIN)
    RaiseDepth(h);
  const hotspot_begin begin = ReadBegin(node);
  const bool popup = begin.type == kTypePopup || begin.type == kTypeMouseOverPopup;
  if (popup && (begin.flags & kFlagComputedText) != 0) {
    if ((begin.flags & kFlagFormula) != 0) {
      ComputedText(h, begin);
    } else if (begin.type == kTypePopup) {
      record_storage *end = FindEnd(c, node->next);
      c->current_record = end != nullptr ? end : node->next;
      return;
    }
  } else if (popup) {
    Popup(h, begin);
  } else if (begin.type == kTypeFile) {
    FileHotspot(h, node, begin);
    return;
  }
  Advance(c);
}

/* ---- the walk ---- */

bool IsContent(const record_storage *node) {
  switch (node->signature) {
  case SIG_CD_PARAGRAPH:
  case SIG_CD_PABREFERENCE:
  case SIG_CD_GRAPHIC:
  case SIG_CD_TABLEBEGIN:
  case SIG_CD_STYLENAME:
  case SIG_CD_NESTEDTABLEBEGIN:
  case SIG_CD_PABDEFINITION:
  case SIG_CD_PRETABLEBEGIN:
    return true;
  case SIG_CD_TEXT:
  case SIG_CD_BIDI_TEXT:
    return node->length != sizeof(CDTEXT);
  default:
    return false;
  }
}

/* Closes lists opened inside the hotspot: a "</ul>" or "</ol>" above every
 * division, paragraph, quotation and cell on the stack. */
void CloseInnerLists(html_render_info *c) {
  for (bool again = true; again;) {
    again = false;
    for (const char *list : {"</ul>", "</ol>"}) {
      if (TagOnXMLStackBefore(c, 0, list, "</div>", "</p>", "</blockquote>") != 0 &&
          TagOnXMLStackBeforeTag(c, 0, list, "</td>", "</th>") != 0 &&
          PopXMLStack(c, 0, list, 1, 1, 0, 0, 0) != 0)
        again = true;
    }
  }
}

void EndHotspot(hotspot_call &h, record_storage *end) {
  html_render_info *c = h.c;
  CloseInnerLists(c);
  if ((c->flags5 & f5::OstrafineSections) != 0)
    CloseSectionBar(c, c->section_id);
  if ((c->flags2 & html_flags2::SectionsInCSS) != 0 && c->in_link[0] == 0) {
    while (c->section_id != 0 && TagOnXMLStackWithID(c, 0, "</div>", 0) == c->section_id) {
      if (PopXMLStack(c, 0, "</div>", 1, 1, 0, 0, 0) == 0)
        break;
    }
  }
  for (; h.raised > 0 && c->section_id > 0; --h.raised)
    --c->section_id;
  if (h.anchor_here && TagOnXMLStack(c, 0, "</a>", 0) != 0)
    PopXMLStack(c, 0, "</a>", 1, 1, 0, 0, 0);
  c->in_link[0] = 0;
  c->anchor_open = 0;
  record_storage *next = end->next;
  if (next != nullptr && next->signature == SIG_CD_END && !IsBeyondLast(c, next))
    next = next->next;
  c->current_record = next;
}

/* A record inside the hotspot, rendered by the driver one level deeper;
 * true when the bracket the hotspot stands in ended there. */
bool HandToDriver(hotspot_call &h) {
  html_render_info *c = h.c;
  h.status = ProcessXMLStream(c, h.begin, static_cast<WORD>(h.depth + 1), 0);
  const record_storage *at = c->current_record;
  if (h.begin == 0 || h.depth == 0 || at == nullptr || at->previous == nullptr)
    return false;
  return at->previous->signature == SIG_CD_END && NodeBracket(at->previous) == h.begin;
}

void LinkInside(hotspot_call &h) {
  html_render_info *c = h.c;
  if (h.link_done || h.anchor_here) {
    Advance(c);
    return;
  }
  h.link_done = true;
  PushAnchorEnd(h);
  DWORD sameWindow = 0;
  h.status = ProcessXMLDoclink(c, h.begin, h.depth, 0, &sameWindow);
  if (h.status != NOERROR)
    return;
  if (sameWindow != 0) {
    if (RenderEndsWith(c, ">", false))
      RenderTruncate(c, c->output_length - 1);
    RenderPuts(c, " target=\"_self\">");
  }
  c->anchor_open = 1;
  Advance(c);
}

} // namespace

void ReleaseHotspotMarks(html_render_info *context) {
  delete context->hotspot_marks;
  context->hotspot_marks = nullptr;
  delete context->hotspot_ends;
  context->hotspot_ends = nullptr;
}

STATUS ProcessXMLHotspot(html_render_info *context, WORD beginSignature, WORD depth) {
  hotspot_call h{context, beginSignature, depth};
  TraceXMLStream(context, "PXMLH - IN");
  while (h.status == NOERROR && context->output_status == NOERROR &&
         context->current_record != nullptr && !IsBeyondLast(context, context->current_record)) {
    record_storage *node = context->current_record;
    const WORD signature = node->signature;
    if (signature == SIG_CD_TABLEEND || signature == SIG_CD_NESTEDTABLEEND) {
      if (h.depth != 0)
        return NOERROR;
      Advance(context);
    } else if (IsContent(node)) {
      if (HandToDriver(h))
        return h.status;
    } else if (signature == SIG_CD_BEGIN) {
      if (BracketsLink(node)) {
        Advance(context);
      } else if (HandToDriver(h)) {
        return h.status;
      }
    } else if (signature == SIG_CD_END) {
      if (!BracketsLink(node))
        return NOERROR;
      Advance(context);
    } else if (IsLinkRecord(signature)) {
      LinkInside(h);
    } else if (signature == SIG_CD_V4HOTSPOTBEGIN) {
      V4Hotspot(h, node);
    } else if (signature == SIG_CD_HOTSPOTBEGIN) {
      Hotspot(h, node);
    } else if (signature == SIG_CD_SECTIONBAR) {
      h.status = RenderSectionBar(context);
    } else if (signature == SIG_CD_RESOURCE) {
      ResourceHotspot(h, node);
    } else if (IsHotspotEnd(signature)) {
      EndHotspot(h, node);
      TraceXMLStream(context, "PXMLH - OUT");
      return context->output_status;
    } else {
      Advance(context);
    }
    if (h.finished) {
      for (; h.raised > 0 && context->section_id > 0; --h.raised)
        --context->section_id;
      context->anchor_open = 0;
      return h.status != NOERROR ? h.status : context->output_status;
    }
    if (context->current_record == node && h.status == NOERROR)
      Advance(context);
  }
  return h.status != NOERROR ? h.status : context->output_status;
}
