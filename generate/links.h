/*
 * Generators of link records: document links to a note (from its note ID,
 * from the notes a view selection yields, or from the link data a chunk
 * carries as event strings), URL links, text popups, and the shared link
 * end. Every record goes through the record emitter into the operation's
 * generation context; each generator returns the first failing status of
 * the records it writes.
 *
 * What the generators read of the session: the link database, its replica
 * ID and the link view's UNID (set by the caller before the note-ID and
 * selection generators), GlobalSuppressMessages; what they leave there: the
 * note link parsed from event data and the to_doclink, to_popup, to_hint
 * and to_anchor results (store/session.h), so that sessions stay apart.
 *
 * Not here: deciding when a link is opened or closed (the chunk engine).
 */
#ifndef VELKO_GENERATE_LINKS_H
#define VELKO_GENERATE_LINKS_H

#include "generate/font_string.h"
#include "store/emitter.h"
#include "velko/velko.h"

/* Link kinds of a chunk's link data. */
enum : WORD {
  kLinkKindIconOnly = 1,
  kLinkKindWithText = 3,
  kLinkKindURL = 4,
};

/* The text used for an event-data link without a popup text. */
inline constexpr char kDefaultLinkPopup[] = "Click here to view...";

/* What a link generator takes from the chunk operation that calls it. */
struct link_operation {
  generation_context* gen = nullptr;
  /* The operation's font override (applied to the note-ID link's text);
   * null: none. mask has seven entries (generate/services.h). */
  const font_spec* font = nullptr;
  const DWORD* font_mask = nullptr;
  /* The operation's second string: what a "WikiLink$3" class names. */
  const char* second_string = nullptr;
  /* The chunk's link data: six event strings (entries may be null) and
   * the link kind, which an event-data link to a URL sets to 4. */
  char* const* event_strings = nullptr;
  WORD* link_kind = nullptr;
  /* The operation's three length words of the popup text, server hint and
   * anchor of an event-data link; a word that is 0 takes its text's
   * length. Null: none kept. */
  WORD* lengths = nullptr;
  /* The session's hotspot property string (a URL link with "HTML" in it
   * gets a CDIDNAME); null: none. */
  const char* hotspot_properties = nullptr;
};

/* A document link to the note of the link database: linkText is the
 * visible text, comment (null or empty: the link text) the link's comment;
 * properties (null or empty: a plain link) add the resource record, the
 * anchor ("Anchor=") and the HTML names ("ID=", "Class=", "Style=",
 * "Title=", "Other=", "Name="). The note-info failure, an emit failure, 263
 * or 1028 (a record too large) is returned; else 0. */
STATUS GenerateHyperlinksFromNoteID(const char* linkText, const char* comment, NOTEID noteID,
                                    const char* properties, link_operation* op);

/* One document link per note the selection (a view name or a formula)
 * yields with the key on the link database, in the ID table's order; key
 * is also the link text. Notes whose info cannot be read are skipped. */
STATUS GenerateHyperlinksFromReference(const char* selection, const char* key,
                                       const char* comment, link_operation* op);

/* The links of GenerateHyperlinksFromReference to the notes of ids, in
 * their order: for each note whose info can be read, the link hotspot
 * begin, the link record, the text and the link end, without brackets. */
STATUS GenerateHyperlinksToNotes(const NOTEID* ids, DWORD count, const char* key,
                                 const char* comment, link_operation* op);

/* The beginning of a link from the chunk's event strings (a replica ID,
 * view and note UNIDs, popup text, server hint, anchor), or of a URL link
 * when the first string holds ':', '/' or '.'. With withoutText the text
 * is not written and the resource records are. 1028 without a first event
 * string, 257 for a replica ID that is not 16 characters. */
STATUS GenerateLinkBeginFromEventData(const char* text, WORD textLength, link_operation* op,
                                      DWORD withoutText);
/* The beginning, then the link end unless the link kind is 1. */
STATUS GenerateLinkFromEventData(const char* text, WORD textLength, link_operation* op);

/* The beginning of a URL link: lengths of 0 take the texts' own lengths. */
STATUS GenerateURLBeginFromReference(const char* text, WORD textLength, const char* url,
                                     WORD urlLength, link_operation* op, DWORD withoutText);
STATUS GenerateURLFromReference(const char* text, WORD textLength, const char* url,
                                WORD urlLength, link_operation* op);

/* The beginning of a text popup ("Hotspot=Mouseover", "Style=Highlight"
 * or "Style=None" in properties). */
STATUS GeneratePopupBeginFromReference(const char* text, const char* popupText,
                                       const char* properties, link_operation* op,
                                       DWORD withoutText);
STATUS GeneratePopupFromReference(const char* text, const char* popupText,
                                  const char* properties, link_operation* op);

/* The end of a link: the byte record {0xAE, 2} under signature, then the
 * CDEND for signature, version 0. */
STATUS GenerateLinkEnd(link_operation* op, WORD signature);
STATUS GenerateSectionEnd(link_operation* op, WORD signature);

/* A replica ID written as 16 hexadecimal digits (high word first). */
TIMEDATE ParseReplica(const char* text);
/* A UNID written as 32 hexadecimal digits: file high and low, then note
 * high and low. */
void ParseUnid(const char* text, DWORD file[2], TIMEDATE* note);

#endif
