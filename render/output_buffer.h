/*
 * The one way rendered text enters the output: the output primitive of the
 * rendering context, its escaping functions by context (text, attribute,
 * URL), and a growable tracked text for work areas.
 *
 * The held text. The context's output buffer holds output_length bytes and
 * a NUL; write_ptr is always output_buffer + output_length. Both are kept as
 * counters: the held text is never scanned to find its end, so a NUL inside
 * it (a line-end or soft-break marker) is text like any other.
 *
 * Appending. RenderPut and its relatives append at the end. When a write
 * does not fit, the primitive first hands what is held to the sink through
 * the output stage (RenderFlush, non-final) when the run has a sink (a
 * caller file, a MIME part file, the output callback) and no writer holds a
 * position; when it still does not fit it grows the buffer, or, for a
 * caller's buffer, fails with 263. The first failure is kept in
 * output_status and every later append returns it without writing, so a
 * renderer may append freely and test the status once.
 *
 * Character sets. The held text is LMBCS. Writers put in either markup and
 * escaped text, which are ASCII, or pass-through text in LMBCS, which the
 * translation pass converts to the output character set at a flush. A
 * writer never converts text itself. The escaping functions write every
 * non-ASCII character as "&#N;" of its code point ("&#65533;" when it
 * cannot be read), except in URLs, where its UTF-8 bytes become "%XX".
 *
 * How a renderer writes:
 *   RenderPuts(ctx, "<td");
 *   RenderPrintf(ctx, " width=\"%d\"", width);
 *   RenderPutc(ctx, '>');
 *   RenderPutEscaped(ctx, kEscapeText, text, length); // document text
 *   RenderPut(ctx, passthru, passthruLength);         // pass-through HTML
 *   if (ctx->output_status != NOERROR)
 *     return ctx->output_status;
 * and, at its flush points, RenderFlush(ctx, final). Writers never test
 * output_capacity or write behind write_ptr themselves: room is the
 * primitive's concern. A writer that keeps an offset into the held text
 * (an open auto-URL anchor) raises output_hold while it does, so that no
 * flush of the primitive moves the text under it; RenderTruncate and
 * RenderEndsWith work on the held text at its end.
 *
 * This file does not run the output passes themselves (render/output_stage).
 */
#ifndef VELKO_RENDER_OUTPUT_BUFFER_H
#define VELKO_RENDER_OUTPUT_BUFFER_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "render/render_info.h"
#include "store/tracked_memory.h"
#include "velko/velko.h"

/* Size of the buffer a run starts with. */
constexpr DWORD kInitialOutputSize = kWorkBlockSize;

/* ---- the context's output ---- */

/* Makes a run's output buffer: the caller's buffer (cleared over its
 * capacity) when one is given, else a tracked block of kInitialOutputSize
 * bytes. 263 when the block cannot be had. */
STATUS SetupRenderOutput(html_render_info *context, char *buffer, DWORD capacity);

/* Append length bytes (text may lie anywhere, even inside the held text);
 * a C string; one byte; printf-style text. Each returns output_status. */
/* What RenderPut does when the text does not simply fit. */
STATUS RenderPutWithRoom(html_render_info *context, const char *text, size_t length);

/* The append that runs for every piece of text: bytes that fit behind the
 * held text go in at once; the rest takes the primitive's full way. */
inline STATUS RenderPut(html_render_info *context, const char *text, size_t length) {
  if (context->output_status == NOERROR && text != nullptr && length != 0 &&
      context->output_capacity > context->output_length &&
      length < context->output_capacity - context->output_length) {
    char *end = context->output_buffer + context->output_length;
    memmove(end, text, length); // text may be part of the held text
    context->output_length += static_cast<DWORD>(length);
    end[length] = '\0';
    context->write_ptr = end + length;
    return NOERROR;
  }
  return RenderPutWithRoom(context, text, length);
}

inline STATUS RenderPuts(html_render_info *context, const char *text) {
  return text == nullptr ? context->output_status : RenderPut(context, text, strlen(text));
}

inline STATUS RenderPutc(html_render_info *context, char c) { return RenderPut(context, &c, 1); }
/* A whole number in decimal, as "%ld" writes it: the attributes written
 * for every cell and paragraph take no format parse. */
STATUS RenderPutDecimal(html_render_info *context, long value);
STATUS RenderPrintf(html_render_info *context, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

/* Room for writers that format in place: returns where at most `room`
 * bytes and a NUL may be written, or null on failure; RenderCommit then
 * appends the `written` bytes (at most room) put there. */
char *RenderReserve(html_render_info *context, size_t room);
void RenderCommit(html_render_info *context, size_t written);

/* Makes the buffer hold at least `capacity` bytes without handing text
 * to a sink: grows a buffer of this run, fails with 263 for the caller's.
 * For the output passes, which replace held text in place. */
STATUS RenderGrowTo(html_render_info *context, size_t capacity);
/* As RenderGrowTo for a run's own buffer, as a hint: false, with nothing
 * changed and no failure kept, when the room cannot be had. */
bool RenderTryGrowTo(html_render_info *context, size_t capacity);

/* Cuts the held text back to `length` bytes (no effect when it is not
 * longer). */
void RenderTruncate(html_render_info *context, DWORD length);

/* 1 when the held text ends with the text (ignoreCase: ASCII case not
 * counted). */
bool RenderEndsWith(const html_render_info *context, const char *text, bool ignoreCase);

/* Whether a flush of this kind has a sink: a caller file or an open part
 * file, or, when not final, a part file to open (MIME mode) or the output
 * callback (OutputToEvent). */
bool RenderHasSink(const html_render_info *context, DWORD final);

/* The output stage at a flush point: the translation pass, the encoding
 * pass and the output pass. Without a sink a non-final flush does nothing,
 * so that no text is passed twice. Returns output_status. */
STATUS RenderFlush(html_render_info *context, DWORD final);

/* ---- a growable tracked text ----
 *
 * A short text (markup, a style, a name) is held in the text's own room
 * and takes no tracked memory; a longer one moves to a tracked block. The
 * text is not copied or moved as a whole: data may point into it. It frees
 * its block when it goes out of scope; RenderTextFree empties it sooner. */

constexpr DWORD kRenderTextRoom = 256;

struct render_text;
void RenderTextFree(render_text *text);

struct render_text {
  render_text() = default;
  explicit render_text(LSXLsiSession *owner) : session(owner) {}
  ~render_text() {
    if (data != nullptr && data != room) // a text in its own room frees nothing
      RenderTextFree(this);
  }
  render_text(const render_text &) = delete;
  render_text &operator=(const render_text &) = delete;

  LSXLsiSession *session = nullptr;
  char *data = nullptr; /* room or a tracked block; NUL-terminated while not null */
  DWORD size = 0;
  DWORD length = 0;
  STATUS status = 0; /* first failure; sticky */
  char room[kRenderTextRoom];
};

/* What RenderTextPut does when the bytes do not simply fit. */
STATUS RenderTextPutWithRoom(render_text *text, const char *bytes, size_t length);

inline STATUS RenderTextPut(render_text *text, const char *bytes, size_t length) {
  if (text->data == nullptr && length < kRenderTextRoom && text->status == NOERROR &&
      bytes != nullptr) {
    text->data = text->room;
    text->size = kRenderTextRoom;
  }
  if (text->status == NOERROR && bytes != nullptr && text->data != nullptr &&
      uint64_t{text->length} + length < text->size) {
    memcpy(text->data + text->length, bytes, length);
    text->length += static_cast<DWORD>(length);
    text->data[text->length] = '\0';
    return NOERROR;
  }
  return RenderTextPutWithRoom(text, bytes, length);
}
STATUS RenderTextPuts(render_text *text, const char *string);
inline STATUS RenderTextPutc(render_text *text, char c) { return RenderTextPut(text, &c, 1); }
/* Room for `more` bytes and a NUL behind the text, for a writer that
 * fills data + length itself and then sets length (and the NUL). False,
 * with the failure kept in status, when the room cannot be had. */
bool RenderTextReserve(render_text *text, size_t more);
/* Frees the text's block; the text becomes empty (and may be used again). */
void RenderTextFree(render_text *text);
/* Hands the tracked block (an empty text gets one) to the caller, who
 * frees it with VelkoDeallocatePtr; null when memory cannot be had. */
char *RenderTextDetach(render_text *text);

/* ---- escaping ---- */

enum render_escape_context {
  kEscapeText,      /* & < > " as entities; the apostrophe stays */
  kEscapeAttribute, /* as text, and the apostrophe as "&#39;" */
  kEscapeURL,       /* URL-safe bytes stay, & and ' as entities, others %XX */
  kEscapeCSSString, /* the inside of a '...' CSS string (below) */
};

/* In a CSS string, printable ASCII stays except ' and \ (written "\'" and
 * "\\") and " & < > (hex escapes); control characters and every
 * non-ASCII character become hex escapes "\h " (the blank ends the
 * escape). The result is plain ASCII without markup characters, so the
 * string holds in a double-quoted attribute and in a style element
 * alike, in HTML and XHTML. */

/* Append LMBCS text escaped for its context. In text and attributes, tab,
 * LF and CR stay, other control characters (NUL included) become
 * "&#65533;": callers turn a text's own line ends into markup first. */
STATUS RenderPutEscaped(html_render_info *context, render_escape_context escape, const char *text,
                        size_t length);
STATUS RenderTextPutEscaped(render_text *out, render_escape_context escape, const char *text,
                            size_t length);

/* "&#N;" of a code point. */
STATUS RenderPutCodePoint(html_render_info *context, DWORD codePoint);

/* ---- LMBCS ---- */

/* Bytes of the LMBCS character at text (length bytes available, at least
 * one): at least 1, at most length. */
size_t LmbcsCharacterBytes(const char *text, size_t length);

/* Reads the LMBCS character at text (length bytes available): its code
 * point, U+FFFD when it cannot be read; returns its length in bytes (at
 * least 1). A surrogate pair written as two characters is read as one. */
size_t ReadLmbcsCharacter(const char *text, size_t length, DWORD *codePoint);

/* How the output character set is written (charset_mode). */
enum : WORD {
  kCharsetUnsettled = 0,
  kCharsetUTF8 = 1,        /* every character as itself */
  kCharsetByHost = 2,      /* through the host; what it cannot hold as "&#N;" */
  kCharsetNumericOnly = 3, /* ASCII; every other character as "&#N;" */
};

/* Settles context->charset_mode (and charset_nls) from charset_id.
 * Character sets that do not keep ASCII as itself, or that use NUL bytes
 * inside characters (UTF-16), are written numerically. */
void SettleOutputCharset(html_render_info *context);

/* Appends LMBCS text converted to the context's output character set:
 * ASCII bytes (NUL markers too) as they are, other characters as the set
 * writes them or as "&#N;". */
STATUS ConvertLmbcsForOutput(html_render_info *context, const char *text, size_t length,
                             render_text *out);

/* ---- colours ---- */

/* "#rrggbb" of a palette index; indexes beyond the palette give "#000000". */
void RenderPaletteColor(WORD index, char out[8]);
/* "rgb(r,g,b)" of a palette index; indexes beyond the palette give
 * "rgb(0,0,0)". */
void RenderPaletteRgb(WORD index, char out[20]);

#endif
