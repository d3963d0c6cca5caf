/*
 * The link generators (generate/links.h): document links from a note ID,
 * from a view selection and from event data, URL links, popups and the
 * link end. Records are built in tracked blocks sized from their texts and
 * emitted one by one; the first failing emit ends the generator with its
 * status, so the operation fails and the note keeps its old body.
 */
#include "generate/links.h"

#include <string.h>
#include <strings.h>

#include <string>

#include "generate/attribute_strings.h"
#include "generate/link_records.h"
#include "generate/services.h"
#include "host/idtable.h"
#include "host/nsfdb.h"
#include "host/osmem.h"
#include "store/messages.h"
#include "store/rtitem_internal.h"
#include "store/services.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "store/view_selection.h"
#include "velko/property_string.h"
#include "velko/status.h"

namespace {

using link_records::record_block;

/* Fixed parts of the link records, host form. */
constexpr DWORD kResourceLinkBeginLength = sizeof(CDHOTSPOTBEGIN);
constexpr WORD kResourceLinkBeginType = 32;
constexpr DWORD kResourceLinkBeginFlags = 8;
constexpr WORD kLinkHotspotType = 11;
constexpr DWORD kDocLinkFlags = 8;
constexpr DWORD kURLLinkFlags = 0x1008;
constexpr WORD kPopupType = 1;
constexpr WORD kMouseOverPopupType = 22;
constexpr DWORD kPopupFlags = 4;
constexpr DWORD kPopupHighlightFlags = 0x100008;
constexpr DWORD kPopupNoStyleFlags = 8;
constexpr WORD kResourceURL = 1;
constexpr WORD kResourceNoteLink = 2;
constexpr WORD kResourceClassNoteLink = 1;
/* Zero bytes behind a URL in the link hotspot begin. */
constexpr DWORD kURLDataTail = 3;

constexpr char kDefaultLinkFont[] = "BLUE +UNDERLINE";
constexpr char kDefaultPopupFont[] = "+Highlight";
constexpr char kNoHint[] = "*NONE*";

size_t Length(const char* text) { return text == nullptr ? 0 : strlen(text); }

bool Empty(const char* text) { return text == nullptr || text[0] == '\0'; }

LSXLsiSession* SessionOfOperation(const link_operation* op) { return SessionOf(op->gen); }

_internal_SESS* SessionState(const link_operation* op) {
  return SessionOfOperation(op)->internal;
}

/* The value of key in properties ("" when absent). */
std::string Property(const char* properties, const char* key) {
  std::string value(Length(properties) + 1, '\0');
  if (ExtractProperty(properties, key, value.data(), value.size()) == 0)
    return {};
  value.resize(strlen(value.c_str()));
  return value;
}

/* Shows "<format with text>" unless silenced. */
void ShowProgress(const char* format, const char* text) {
  std::string message(strlen(format) + Length(text) + 1, '\0');
  snprintf(message.data(), message.size(), format, text == nullptr ? "" : text);
  ShowUserMessage(message.c_str());
}

/* Reads up to 8 hexadecimal digits of text, stopping at the first
 * character that is not one. */
DWORD HexGroup(const char* text) {
  DWORD value = 0;
  for (int i = 0; i < 8; ++i) {
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      break;
    value = (value << 4) | static_cast<DWORD>(digit);
  }
  return value;
}

} // namespace

/* A replica ID of 16 digits: the high word, then the low one. */
TIMEDATE ParseReplica(const char* text) {
  TIMEDATE id = {};
  id.Innards[1] = HexGroup(text);
  id.Innards[0] = HexGroup(text + 8);
  return id;
}

/* A UNID of 32 digits: file high and low, note high and low. */
void ParseUnid(const char* text, DWORD file[2], TIMEDATE* note) {
  file[1] = HexGroup(text);
  file[0] = HexGroup(text + 8);
  note->Innards[1] = HexGroup(text + 16);
  note->Innards[0] = HexGroup(text + 24);
}

namespace {

/* ---- records ---- */

STATUS EmitResourceLinkBegin(link_operation* op) {
  CDHOTSPOTBEGIN begin = {};
  begin.Header.Signature = SIG_CD_RESOURCELINKBEGIN;
  begin.Header.Length = kResourceLinkBeginLength;
  begin.Type = kResourceLinkBeginType;
  begin.Flags = kResourceLinkBeginFlags;
  return CopyCDUpdated(&begin, SIG_CD_RESOURCELINKBEGIN, sizeof begin, op->gen);
}

/* A note-link CDRESOURCE: the hints, the note link and the first text. */
STATUS EmitNoteLinkResource(link_operation* op, const NOTELINK& link, const std::string& anchor,
                            const std::string& serverHint, const std::string& fileHint) {
  record_block block;
  CDRESOURCE fixed = {};
  fixed.Flags = CDRESOURCE_FLAGS_NOTELINK_INLINE;
  fixed.Type = kResourceNoteLink;
  fixed.ResourceClass = kResourceClassNoteLink;
  fixed.Length1 = static_cast<WORD>(anchor.size());
  fixed.ServerHintLength = static_cast<WORD>(serverHint.size());
  fixed.FileHintLength = static_cast<WORD>(fileHint.size());
  block.Add(&fixed, sizeof fixed);
  block.Add(serverHint);
  block.Add(fileHint);
  block.Add(&link, sizeof link);
  block.Add(anchor);
  return block.Emit(SIG_CD_RESOURCE, op->gen);
}

/* A link hotspot begin (0xFFAD, type 11) or a popup begin (0xFFA9) whose
 * data is text and its zero byte, with `tail` further zero bytes. */
STATUS EmitHotspotBegin(link_operation* op, WORD signature, WORD type, DWORD flags,
                        std::string_view data, DWORD tail) {
  record_block block;
  CDHOTSPOTBEGIN fixed = {};
  fixed.Type = type;
  fixed.Flags = flags;
  fixed.DataLength = static_cast<WORD>(data.size() + 1);
  block.Add(&fixed, sizeof fixed);
  block.AddTerminated(data);
  block.AddZeros(tail);
  return block.Emit(signature, op->gen);
}

/* The link record: the note link, then the texts, each with its zero. */
STATUS EmitDocLink(link_operation* op, const NOTELINK& link,
                   std::initializer_list<const std::string*> texts) {
  record_block block;
  WSIG header = {};
  block.Add(&header, sizeof header);
  block.Add(&link, sizeof link);
  for (const std::string* text : texts)
    block.AddTerminated(*text);
  return block.Emit(SIG_CD_DOCLINK, op->gen);
}

/* The item's default text header (signature, length and FONTID). */
CDTEXT DefaultTextHeader(const link_operation* op) {
  CDTEXT header = {};
  memcpy(&header, op->gen->item->internal->default_text_header, sizeof header);
  return header;
}

/* The text in the item's default text font with the font string applied;
 * a highlight or other extended colour the string names brackets the text
 * with a colour record when `colorBracket` is set. */
STATUS EmitTextInFont(link_operation* op, const char* text, size_t length, const char* font,
                      bool colorBracket) {
  CDTEXT header = DefaultTextHeader(op);
  font_spec specs[2];
  font_spec_mask masks[2];
  if (const STATUS status = ParseFontString(font, nullptr, op->gen->item, specs, masks);
      status != NOERROR)
    return status;
  _internal_SESS* state = SessionState(op);
  state->override_color = 0;
  state->override_color_flags = 0;
  ApplyFontOverride(&header.FontID, &state->override_color, &state->override_color_flags,
                    &specs[0], masks[0].given);
  const bool bracket = colorBracket && state->override_color_flags != 0;
  if (length > kLargestEmittedRecord)
    return VELKO_ERR_BAD_ARGUMENT;
  if (bracket) {
    if (const STATUS status = GenerateCDBegin(SIG_CD_TEXT, 0, op->gen); status != NOERROR)
      return status;
  }
  if (const STATUS status = GenerateCDText(text, static_cast<int>(length), &header, op->gen);
      status != NOERROR)
    return status;
  if (!bracket)
    return NOERROR;
  if (const STATUS status = GenerateCDColorValue(static_cast<BYTE>(SIG_CD_COLOR),
                                                 state->override_color,
                                                 state->override_color_flags, op->gen);
      status != NOERROR)
    return status;
  return GenerateCDEnd(SIG_CD_TEXT, 0, op->gen);
}

/* The text in the item's default font with the operation's override. */
STATUS EmitTextWithOverride(link_operation* op, const char* text) {
  CDTEXT header = DefaultTextHeader(op);
  if (op->font != nullptr && op->font_mask != nullptr) {
    _internal_SESS* state = SessionState(op);
    ApplyFontOverride(&header.FontID, &state->override_color, &state->override_color_flags,
                      op->font, op->font_mask);
  }
  const size_t length = Length(text);
  if (length > kLargestEmittedRecord)
    return VELKO_ERR_BAD_ARGUMENT;
  return GenerateCDText(text, static_cast<int>(length), &header, op->gen);
}

/* The HTML names of a note-ID link: "ID=" ... "Name=" of the property
 * string, with the class "WikiLink$3" and the titles "$1" and "$2"
 * replaced. */
STATUS EmitLinkNames(link_operation* op, const char* properties, const std::string& linkText,
                     const std::string& comment) {
  std::string parts[6] = {Property(properties, "ID="),    Property(properties, "Class="),
                          Property(properties, "Style="), Property(properties, "Title="),
                          Property(properties, "Other="), Property(properties, "Name=")};
  std::string& className = parts[1];
  if (className == "WikiLink$3") {
    className = "WikiLink";
    if (!Empty(op->second_string))
      className += op->second_string;
  }
  std::string& title = parts[3];
  if (title == "$1")
    title = linkText;
  else if (title == "$2")
    title = comment;
  return link_records::EmitIdName(SessionOfOperation(op), parts, op->gen);
}

/* The texts of a note-ID link: the visible text, and the comment (or the
 * link text when there is none), which is also the resource's file hint. */
struct note_link_texts {
  std::string text;
  std::string comment; /* the comment, or the link text */
};

/* The note link to the note of the session's link database: its replica
 * ID, the link view and the note's UNID. The note-info failure when the
 * note cannot be read. */
STATUS NoteLinkOf(link_operation* op, NOTEID noteID, NOTELINK* link) {
  _internal_SESS* state = SessionState(op);
  ORIGINATORID oid = {};
  if (const STATUS status = NSFDbGetNoteInfo(state->link_db, noteID, &oid, nullptr, nullptr);
      status != NOERROR)
    return status;
  *link = {};
  link->File = state->link_replica;
  static_assert(sizeof link->View == sizeof state->link_view);
  memcpy(&link->View, &state->link_view, sizeof link->View);
  static_assert(sizeof link->Note == sizeof(UNID));
  memcpy(&link->Note, &oid, sizeof link->Note);
  return NOERROR;
}

/* The records of one document link without brackets: the hotspot begin,
 * the link record, the text and the link end. */
STATUS EmitPlainDocLink(link_operation* op, const NOTELINK& link, const note_link_texts& texts) {
  if (const STATUS status =
          EmitHotspotBegin(op, SIG_CD_V4HOTSPOTBEGIN, kLinkHotspotType, kDocLinkFlags, texts.text, 0);
      status != NOERROR)
    return status;
  if (const STATUS status = EmitDocLink(op, link, {&texts.comment}); status != NOERROR)
    return status;
  if (const STATUS status = EmitTextWithOverride(op, texts.text.c_str()); status != NOERROR)
    return status;
  return link_records::EmitByteRecord(SIG_CD_V4HOTSPOTEND, op->gen);
}

note_link_texts TextsOf(const char* linkText, const char* comment) {
  note_link_texts texts;
  texts.text = linkText == nullptr ? "" : linkText;
  texts.comment = Empty(comment) ? texts.text : comment;
  return texts;
}

/* The text of one event string ("" when missing). */
const char* EventString(const link_operation* op, int index) {
  if (op->event_strings == nullptr || op->event_strings[index] == nullptr)
    return "";
  return op->event_strings[index];
}

/* A text of an event-data link cut to its length word, which takes the
 * text's length when 0. */
std::string Measured(const char* text, link_operation* op, int word) {
  const size_t length = strlen(text);
  if (op->lengths == nullptr)
    return text;
  if (op->lengths[word] == 0 || op->lengths[word] > length)
    op->lengths[word] = static_cast<WORD>(length > 0xFFFF ? 0xFFFF : length);
  return std::string(text, op->lengths[word]);
}

} // namespace

/* ---- document links from a note ID ---- */

STATUS GenerateHyperlinksFromNoteID(const char* linkText, const char* comment, NOTEID noteID,
                                    const char* properties, link_operation* op) {
  if (op == nullptr || op->gen == nullptr || op->gen->item == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  NOTELINK link;
  if (const STATUS status = NoteLinkOf(op, noteID, &link); status != NOERROR)
    return status;
  if (SessionState(op)->GlobalSuppressMessages == 0)
    ShowProgress("Adding hypertext link to %s...", linkText);
  const note_link_texts texts = TextsOf(linkText, comment);
  const bool withProperties = !Empty(properties);
  const std::string anchor = Property(properties, "Anchor=");
  STATUS status = NOERROR;
  if (withProperties) {
    status = GenerateCDBegin(SIG_CD_V4HOTSPOTBEGIN, 0, op->gen);
    if (status == NOERROR)
      status = EmitResourceLinkBegin(op);
    if (status == NOERROR)
      status = EmitNoteLinkResource(op, link, anchor, std::string(), texts.comment);
  }
  if (status == NOERROR)
    status = EmitHotspotBegin(op, SIG_CD_V4HOTSPOTBEGIN, kLinkHotspotType, kDocLinkFlags,
                              texts.text, 0);
  if (status == NOERROR) {
    status = anchor.empty() ? EmitDocLink(op, link, {&texts.comment})
                            : EmitDocLink(op, link, {&texts.comment, &anchor});
  }
  if (status == NOERROR)
    status = EmitTextWithOverride(op, texts.text.c_str());
  if (status == NOERROR && withProperties)
    status = EmitLinkNames(op, properties, texts.text, Empty(comment) ? std::string() : comment);
  if (status == NOERROR)
    status = link_records::EmitByteRecord(SIG_CD_V4HOTSPOTEND, op->gen);
  if (status == NOERROR && withProperties)
    status = GenerateCDEnd(SIG_CD_V4HOTSPOTEND, 0, op->gen);
  return status;
}

/* ---- document links from event data ---- */

STATUS GenerateLinkBeginFromEventData(const char* text, WORD textLength, link_operation* op,
                                      DWORD withoutText) {
  if (op == nullptr || op->gen == nullptr || op->gen->item == nullptr || op->link_kind == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  const char* replica = EventString(op, 0);
  if (replica[0] == '\0')
    return VELKO_ERR_BAD_ARGUMENT;
  if (text != nullptr && strpbrk(replica, ":/.") != nullptr)
    *op->link_kind = kLinkKindURL;
  if (*op->link_kind == kLinkKindURL) {
    const std::string url = replica;
    return GenerateURLBeginFromReference(text, textLength, url.c_str(), 0, op, withoutText);
  }

  _internal_SESS* state = SessionState(op);
  NOTELINK& link = state->link_areas[0];
  link = {};
  memset(state->to_doclink, 0, sizeof state->to_doclink);
  if (strlen(replica) != 16)
    return VELKO_ERR_FAILED;
  link.File = ParseReplica(replica);
  state->to_doclink[0] = 'Y';
  bool noteParsed = false;
  if (strlen(EventString(op, 1)) == 32) {
    ParseUnid(EventString(op, 1), link.View.File, &link.View.Note);
    state->to_doclink[1] = 'Y';
    if (strlen(EventString(op, 2)) == 32) {
      ParseUnid(EventString(op, 2), link.Note.File, &link.Note.Note);
      state->to_doclink[2] = 'Y';
      noteParsed = true;
    }
  }

  const char* popupText = EventString(op, 3);
  const char* hintText = EventString(op, 4);
  const char* anchorText = EventString(op, 5);
  if (popupText[0] == '\0')
    popupText = kDefaultLinkPopup;
  if (strncasecmp(hintText, kNoHint, strlen(kNoHint)) == 0)
    hintText = "";
  if (!noteParsed)
    anchorText = "";
  const std::string popup = Measured(popupText, op, 0);
  const std::string hint = Measured(hintText, op, 1);
  const std::string anchor = Measured(anchorText, op, 2);
  state->to_popup = popup;
  state->to_hint = hint;
  state->to_anchor = anchor;

  STATUS status = NOERROR;
  if (*op->link_kind == kLinkKindWithText || withoutText != 0) {
    status = GenerateCDBegin(SIG_CD_V4HOTSPOTBEGIN, 0, op->gen);
    if (status == NOERROR)
      status = EmitResourceLinkBegin(op);
    if (status == NOERROR)
      status = EmitNoteLinkResource(op, link, anchor, hint, popup);
    if (status == NOERROR)
      status = EmitHotspotBegin(op, SIG_CD_V4HOTSPOTBEGIN, kLinkHotspotType, kDocLinkFlags, popup,
                                0);
  }
  if (status == NOERROR)
    status = GenerateCDBegin(SIG_CD_DOCLINK, 0, op->gen);
  if (status == NOERROR) {
    status = anchor.empty() ? EmitDocLink(op, link, {&popup, &hint})
                            : EmitDocLink(op, link, {&popup, &hint, &anchor});
  }
  if (status == NOERROR)
    status = GenerateCDEnd(SIG_CD_DOCLINK, 0, op->gen);
  if (status == NOERROR && *op->link_kind == kLinkKindWithText && withoutText == 0) {
    const char* font = Empty(op->gen->item->HyperlinkFont) ? kDefaultLinkFont
                                                            : op->gen->item->HyperlinkFont;
    const size_t length = textLength != 0 ? textLength : Length(text);
    status = EmitTextInFont(op, text == nullptr ? "" : text, length, font, false);
  }
  return status;
}

STATUS GenerateLinkFromEventData(const char* text, WORD textLength, link_operation* op) {
  const STATUS status = GenerateLinkBeginFromEventData(text, textLength, op, 0);
  if (status != NOERROR || *op->link_kind == kLinkKindIconOnly)
    return status;
  return GenerateLinkEnd(op, SIG_CD_V4HOTSPOTEND);
}

/* ---- URL links ---- */

STATUS GenerateURLBeginFromReference(const char* text, WORD textLength, const char* url,
                                     WORD urlLength, link_operation* op, DWORD withoutText) {
  if (op == nullptr || op->gen == nullptr || op->gen->item == nullptr || url == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  const size_t urlSize = urlLength != 0 ? strnlen(url, urlLength) : strlen(url);
  const std::string_view address(url, urlSize);
  STATUS status = GenerateCDBegin(SIG_CD_V4HOTSPOTBEGIN, 0, op->gen);
  if (status == NOERROR)
    status = EmitResourceLinkBegin(op);
  if (status == NOERROR) {
    record_block block;
    CDRESOURCE fixed = {};
    fixed.Type = kResourceURL;
    fixed.Length1 = static_cast<WORD>(address.size());
    block.Add(&fixed, sizeof fixed);
    block.Add(address);
    status = block.Emit(SIG_CD_RESOURCE, op->gen);
  }
  if (status == NOERROR)
    status = EmitHotspotBegin(op, SIG_CD_V4HOTSPOTBEGIN, kLinkHotspotType, kURLLinkFlags, address,
                              kURLDataTail - 1);
  if (status == NOERROR && withoutText == 0) {
    const size_t length =
        textLength != 0 ? strnlen(text == nullptr ? "" : text, textLength) : Length(text);
    const char* font =
        Empty(op->gen->item->URLFont) ? kDefaultLinkFont : op->gen->item->URLFont;
    status = EmitTextInFont(op, text == nullptr ? "" : text, length, font, true);
  }
  if (status == NOERROR && op->hotspot_properties != nullptr &&
      strstr(op->hotspot_properties, "HTML") != nullptr)
    status = link_records::EmitIdNameFromProperties(SessionOfOperation(op), "",
                                                    op->hotspot_properties, op->gen);
  return status;
}

STATUS GenerateURLFromReference(const char* text, WORD textLength, const char* url,
                                WORD urlLength, link_operation* op) {
  const STATUS status = GenerateURLBeginFromReference(text, textLength, url, urlLength, op, 0);
  if (status != NOERROR)
    return status;
  return GenerateLinkEnd(op, SIG_CD_V4HOTSPOTEND);
}

/* ---- popups ---- */

STATUS GeneratePopupBeginFromReference(const char* text, const char* popupText,
                                       const char* properties, link_operation* op,
                                       DWORD withoutText) {
  if (op == nullptr || op->gen == nullptr || op->gen->item == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  ShowProgress("Adding popup text to %s...", text);
  STATUS status = GenerateCDBegin(SIG_CD_V4HOTSPOTBEGIN, 0, op->gen);
  if (status == NOERROR) {
    const WORD type = strcasecmp(Property(properties, "Hotspot=").c_str(), "Mouseover") == 0
                          ? kMouseOverPopupType
                          : kPopupType;
    const std::string style = Property(properties, "Style=");
    DWORD flags = kPopupFlags;
    if (strcasecmp(style.c_str(), "Highlight") == 0)
      flags |= kPopupHighlightFlags;
    else if (strcasecmp(style.c_str(), "None") == 0)
      flags |= kPopupNoStyleFlags;
    status = EmitHotspotBegin(op, SIG_CD_HOTSPOTBEGIN, type, flags,
                              popupText == nullptr ? "" : popupText, 0);
  }
  if (status == NOERROR && withoutText == 0) {
    const char* font =
        Empty(op->gen->item->PopUpFont) ? kDefaultPopupFont : op->gen->item->PopUpFont;
    status = EmitTextInFont(op, text == nullptr ? "" : text, Length(text), font, false);
  }
  return status;
}

STATUS GeneratePopupFromReference(const char* text, const char* popupText,
                                  const char* properties, link_operation* op) {
  const STATUS status = GeneratePopupBeginFromReference(text, popupText, properties, op, 0);
  if (status != NOERROR)
    return status;
  return GenerateLinkEnd(op, SIG_CD_V4HOTSPOTEND);
}

/* ---- the link end ---- */

STATUS GenerateLinkEnd(link_operation* op, WORD signature) {
  if (op == nullptr || op->gen == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  if (const STATUS status = link_records::EmitByteRecord(signature, op->gen); status != NOERROR)
    return status;
  return GenerateCDEnd(signature, 0, op->gen);
}

STATUS GenerateSectionEnd(link_operation* op, WORD signature) {
  return GenerateLinkEnd(op, signature);
}

/* ---- document links from a selection ---- */

STATUS GenerateHyperlinksToNotes(const NOTEID* ids, DWORD count, const char* key,
                                 const char* comment, link_operation* op) {
  if (op == nullptr || op->gen == nullptr || op->gen->item == nullptr ||
      (ids == nullptr && count > 0))
    return VELKO_ERR_BAD_ARGUMENT;
  const note_link_texts texts = TextsOf(key, comment);
  for (DWORD i = 0; i < count; ++i) {
    NOTELINK link;
    if (NoteLinkOf(op, ids[i], &link) != NOERROR)
      continue;
    if (SessionState(op)->GlobalSuppressMessages == 0)
      ShowProgress("Adding hypertext link to %s...", texts.text.c_str());
    if (const STATUS status = EmitPlainDocLink(op, link, texts);
        status != NOERROR)
      return status;
  }
  return NOERROR;
}

STATUS GenerateHyperlinksFromReference(const char* selection, const char* key,
                                       const char* comment, link_operation* op) {
  if (op == nullptr || op->gen == nullptr || op->gen->item == nullptr || selection == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  LSXLsiSession* session = SessionOfOperation(op);
  DHANDLE table = NULLHANDLE;
  if (const STATUS status =
          ViewSelection(session, session->internal->link_db, selection, key, &table, 0);
      status != NOERROR)
    return status;
  /* The IDs are taken out of the table first: it stays the host's block. */
  const DWORD count = IDEntries(table);
  auto* ids = static_cast<NOTEID*>(
      VelkoAllocatePtr(session, VELKO_HERE, (count == 0 ? 1 : count) * sizeof(NOTEID), 0));
  STATUS status = VELKO_ERR_MEMORY;
  if (ids != nullptr) {
    DWORD taken = 0;
    for (BOOL first = TRUE; taken < count && IDScan(table, first, &ids[taken]); first = FALSE)
      ++taken;
    status = GenerateHyperlinksToNotes(ids, taken, key, comment, op);
    VelkoDeallocatePtr(session, ids);
  } else {
    LogOutOfMemory(VELKO_HERE);
  }
  OSMemFree(table);
  return status;
}
