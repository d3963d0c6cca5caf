/*
 * Element identity attributes as the image renderer writes them: the
 * CDIDNAME's id, name, class, style and title, and its extra-attribute
 * text made safe to stand inside an element.
 *
 * Stand-in declarations until the renderer's identity attributes are
 * built in their own file; the image renderer is their only caller here.
 */
#ifndef VELKO_RENDER_IDENTITY_PENDING_H
#define VELKO_RENDER_IDENTITY_PENDING_H

#include "render/output_buffer.h"
#include "render/render_info.h"

/* Appends the identity attributes of the CDIDNAME (host form, `length`
 * bytes); `extra`, when given, replaces the record's extra-attribute
 * text (already made safe) and has the control keys removed from it. 0,
 * or 263 when memory runs out. */
STATUS CalculateXMLIDName(const char *record, DWORD length, html_render_info *context, char *extra);

/* The extra-attribute text made safe for an element: "<" and ">" as
 * "&lt;" and "&gt;", a quote left open at the end closed; with quote set,
 * each unquoted value after "=" enclosed in double quotes (a blank ends
 * it, quotes inside become "&quot;"). */
void AutoQuoteHTMLParams(const char *text, size_t length, bool quote, render_text *out);

#endif
