/*
 * Rendering of text: text runs (CDTEXT and its right-to-left form) with
 * their escaping, entities, fonts, preserved spaces and tabs, line breaks
 * and automatic links; field records as empty form controls; pass-through
 * HTML copied as it stands; any other text written HTML-safe (titles,
 * attribute values, captions, link texts); and the font markup of a font
 * change (legacy font tags or a span with an inline style).
 *
 * Everything here writes through the output primitive
 * (render/output_buffer.h) and pushes the closing tags it leaves open on
 * the main close-tag stack (render/tag_stack.h). The record walk itself is
 * the driver's; these functions move the context's current record only
 * over the records they consume.
 *
 * State kept in the context between calls: base_font (set by the driver),
 * current_font and rtl_seen (set here), writing_base_font (set by the
 * driver while it builds the base font's markup), anchor_open (set by the
 * hotspot renderer while its anchor is open) and paragraph_mapping (the
 * style mapping the paragraph renderer put in force, or null).
 */
#ifndef VELKO_RENDER_TEXT_RENDER_H
#define VELKO_RENDER_TEXT_RENDER_H

#include "host/cdrecords.h"
#include "render/output_buffer.h"
#include "render/render_info.h"

struct style_mapping;

/* ---- text runs ---- */

/* Renders the text run at (or after) the context's current record and the
 * runs in the same font that follow it, with their font markup; closes
 * the attribute and font tags the run opened. bracketSignature is the
 * signature the caller's CDBEGIN/CDEND group brackets: for 0xFF85 and
 * 0xFFE4 the current record moves on to that group's CDEND. lineBreak:
 * an empty run is rendered as one line break. On return the current
 * record stands after the last run consumed. 0, or the output's failure
 * status (the output primitive's sticky status). */
STATUS ProcessXMLText(html_render_info *context, WORD bracketSignature, BOOL lineBreak);

/* Closes an open automatic link (auto_url_open): writes the end of its
 * start tag, the address again (from auto_url_start) as the link text, and
 * "</a>", and lowers output_hold, which opening the link raised. Does
 * nothing when none is open. Writers close it before they flush, so that
 * the held text under the link is not handed on while its address is still
 * being written. Returns the output's status. */
STATUS CloseXMLAutoURL(html_render_info *context);

/* ---- fields and pass-through HTML ---- */

/* Writes the field record at the current record (CDFIELD) as an empty
 * form control named after the field: a textarea for rich-text fields, an
 * input for text and text-list fields, nothing for others. Does not move
 * the current record. Returns the output's status. */
STATUS ProcessXMLField(html_render_info *context, WORD signature);

/* Copies the text of the text records from the current record up to the
 * pass-through end record (CDHTMLEND, 0xFFCD) unchanged, a NUL byte as
 * CR LF, and a CR LF per paragraph under NewlineOnParagraph. On return the
 * current record stands on the end record, or on the last record looked
 * at. Returns the output's status. */
STATUS ProcessXMLPassthruHTML(html_render_info *context, WORD signature);

/* ---- translated text ---- */

/* Appends length bytes of LMBCS text to out, HTML-safe for text and for
 * double-quoted attribute values: "&amp;", "&lt;", "&gt;", "&quot;", the
 * named entities of the special characters, "&#N;" for every other
 * character above ASCII; a NUL byte is a line break ("<br>" or "<br />")
 * unless skipLineBreaks, which also drops CR and LF; tabs and spaces as
 * the mapping (or the context) says; allSpaces writes every space as
 * "&nbsp;". isFormula: the text is a formula, and its result is written
 * instead (the formula's own text when it does not evaluate). */
void CopyTranslatedTextToBuffer(html_render_info *context, const char *text, DWORD length,
                                const style_mapping *mapping, render_text *out, BOOL skipLineBreaks,
                                BOOL allSpaces, BOOL isFormula);

/* The same, appended to the context's output. */
void CopyTranslatedText(html_render_info *context, const char *text, DWORD length,
                        const style_mapping *mapping, BOOL skipLineBreaks, BOOL allSpaces,
                        BOOL isFormula);

/* ---- font markup ---- */

/* Builds the markup that changes the font from the last markup
 * (current_font) to `font`, measured against the document's base font
 * (base_font): legacy font and attribute tags under StandardFontTags or
 * HybridFontTags, else a span with an inline style and attribute tags.
 * colour: the run's colour value, or null. forceSize: write the size even
 * when it is the base font's. rtl: a right-to-left run. The closing tags
 * of what is opened are pushed on the main close-tag stack; closing tags
 * popped on the way become part of the markup, except those of an open
 * span whose face, colour or size no longer apply, which are written to
 * the output at once. Without keepInScratch the
 * markup is appended to the output; with it the markup is left,
 * NUL-terminated, in the session's second scratch text (and appended to
 * the output instead when it does not fit there, so that no closing tag
 * is lost). current_font becomes `font`. Returns the output's status. */
STATUS CalculateXMLFontString(FONTID font, const COLOR_VALUE *colour, html_render_info *context,
                              DWORD keepInScratch, DWORD forceSize, DWORD rtl);

/* The same markup appended to `out` instead; the stack and current_font
 * change as above. Returns out's status. */
STATUS CalculateXMLFontStringToText(FONTID font, const COLOR_VALUE *colour,
                                    html_render_info *context, DWORD forceSize, DWORD rtl,
                                    render_text *out);

/* Room for a face name from the item's face table. */
constexpr size_t kFaceNameRoom = 64;

/* The text that names a face id in markup: the substitute of a static
 * face, else the face's name, which is read into `name`. Null when the
 * item's face table has no such face. */
const char *FaceText(const html_render_info *context, BYTE face, char (&name)[kFaceNameRoom]);

/* Appends "font-family: " + the face's family + "; ": a face name as a
 * quoted CSS string, a substitute as its family list with every part that
 * is not a plain name quoted. False (nothing written) when the item's face
 * table has no such face. */
bool PutFontFamily(const html_render_info *context, BYTE face, render_text *out);

#endif
