/*
 * Element identity attributes and note-link URLs, shared by the renderers
 * of tables, hotspots, layers, images and document links.
 *
 * CalculateXMLIDName writes the id, name, class, style and title of an
 * element and its free-form extra attributes from the element's identity
 * record (CDIDNAME, 0xFF7A or 0xFF7B). DumpNotelink turns a note link into
 * the path part of a URL (or one of its IDs as hexadecimal text).
 * AutoQuoteHTMLParams is the copy of extra attribute text that quotes
 * unquoted values.
 */
#ifndef VELKO_RENDER_IDENTITY_H
#define VELKO_RENDER_IDENTITY_H

#include "host/cdrecords.h"
#include "render/output_buffer.h"
#include "render/render_info.h"

/* The control keys of extra attribute text that other renderers read for
 * themselves and that are never written as attributes. */
inline constexpr const char *kIdentityControlKeys[] = {
    "Caption=",    "TarnoDataTable=", "TarnoTH=", "TarnoTHEAD=",
    "TarnoTBODY=", "TarnoTFOOT=",     "src=",
};

/* Appends the identity attributes of the record (its whole stored bytes,
 * header included): each non-empty text of id, name, class, style and
 * title as ` key="..."`, translated for a double-quoted attribute; then,
 * when the record has extra attribute text, that text (or `extra` in its
 * place when given) without the control keys, after one blank, quoted as
 * AutoQuoteHTMLParams does under that option and else copied with its
 * markup characters made entities and an open quote closed. A text that
 * is empty once the keys are gone writes nothing. Lengths are bounded by
 * the record. Returns 0, or 263 when the work copy of the extra text
 * cannot be had (the attributes before it are written). */
STATUS CalculateXMLIDName(const char *record, DWORD length, html_render_info *context,
                          const char *extra);

/* Appends extra attribute text quoting each unquoted value: after "=" a
 * value that does not start with a quote is written in double quotes,
 * ending at a blank, with quotes inside it as "&quot;"; a value quoted in
 * the source is copied unchanged to its closing quote; "<" and ">" are
 * "&lt;" and "&gt;" everywhere; a quote still open at the end is closed. */
STATUS AutoQuoteHTMLParams(html_render_info *context, const char *text, size_t length);

/* The same copy without quoting values: markup characters as entities and
 * an open quote closed, so that the text cannot leave its element. */
STATUS CopyExtraAttributes(html_render_info *context, const char *text, size_t length);

/* Appends extra attribute text as XHTML takes it: each attribute as
 * name="value", its value made text-safe; a value without quotes runs to
 * the next blank, a name without a value is its own value, and a name that
 * is no XHTML attribute name (an XML name without a colon, or of the xml:
 * prefix) or that came before (in any case) is left out. */
void PutXhtmlAttributes(html_render_info *context, const char *text, size_t length);

/* Action codes DumpNotelink answers. */
enum : WORD {
  kNotelinkURL = 2419,         /* the URL path (also 2431) */
  kNotelinkURLAlso = 2431,
  kNotelinkNoteID = 2322,      /* the note UNID, 32 digits */
  kNotelinkReplicaID = 2323,   /* the replica ID, 16 digits */
  kNotelinkViewID = 2324,      /* the view UNID, 32 digits */
};

/* Appends the link's text for the action to `out`. For the URL path: the
 * database ("/" and BasePathname= for a link into the database rendered,
 * else "__<replica>.NSF"), then "/" and the view ("0" when it has none)
 * and "/" and the note as far as the link has them, and unless
 * omitCommand the command (the OpenDatabaseString=, OpenViewString= or
 * OpenDocumentString= text, or its default). IDs are upper-case
 * hexadecimal, each TIMEDATE's second word first. `generation` is not
 * read. Returns out's status (0, or 263 when it cannot grow). */
STATUS DumpNotelink(const NOTELINK &link, render_text *out, WORD action, WORD generation,
                    const html_render_info *context, BOOL omitCommand);

/* The link's view or note UNID is there unless all its words are 0. */
bool NotelinkHasView(const NOTELINK &link);
bool NotelinkHasNote(const NOTELINK &link);

#endif
