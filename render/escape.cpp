/*
 * Escaping of rendered text by context (text, attribute, URL, CSS
 * string), reading
 * LMBCS characters as code points, and converting LMBCS to the output
 * character set of a run.
 *
 * Characters are read through the host's translation services; this file
 * knows no character set tables of its own.
 */
#include <stdio.h>
#include <string.h>

#include "host/nls.h"
#include "render/output_buffer.h"
#include "velko/status.h"

namespace {

constexpr DWORD kReplacementCharacter = 0xFFFD;
constexpr BYTE kUnitGroup = 0x14;  /* LMBCS: a UTF-16 unit follows, big-endian */
constexpr BYTE kUnitEscape = 0xF6; /* in a unit character: the unit is the next byte, then 00 */

bool IsPlainByte(BYTE b) { return b < 0x80 && NLS_isleadbyte(b, nullptr) == FALSE; }

bool IsHighSurrogate(DWORD unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(DWORD unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

/* Characters that HTML and XML do not take as text: controls other than
 * tab, LF and CR, and lone surrogates. */
bool IsForbidden(DWORD codePoint) {
  if (codePoint < 0x20)
    return codePoint != '\t' && codePoint != '\n' && codePoint != '\r';
  if (codePoint >= 0x7F && codePoint <= 0x9F)
    return true;
  return codePoint >= 0xD800 && codePoint <= 0xDFFF;
}

/* The high byte of the UTF-16 unit of a unit character (group 0x14 and
 * the unit big-endian; a unit hh00 is written 0x14 0xF6 hh). */
BYTE UnitHighByte(const BYTE *character) {
  return character[1] == kUnitEscape ? character[2] : character[1];
}

/* A written surrogate pair: two unit characters, high then low. */
bool IsUnitPair(const BYTE *text, size_t length) {
  if (length < 6 || text[0] != kUnitGroup || text[3] != kUnitGroup)
    return false;
  const BYTE high = UnitHighByte(text);
  const BYTE low = UnitHighByte(text + 3);
  return high >= 0xD8 && high <= 0xDB && low >= 0xDC && low <= 0xDF;
}

DWORD DecodeUtf16(const BYTE *units, WORD bytes) {
  if (bytes < 2)
    return kReplacementCharacter;
  const DWORD first = units[0] | (DWORD{units[1]} << 8);
  if (IsHighSurrogate(first)) {
    if (bytes < 4)
      return kReplacementCharacter;
    const DWORD second = units[2] | (DWORD{units[3]} << 8);
    if (!IsLowSurrogate(second))
      return kReplacementCharacter;
    return 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00);
  }
  return IsLowSurrogate(first) ? kReplacementCharacter : first;
}

size_t EncodeUtf8(DWORD codePoint, char out[4]) {
  if (codePoint < 0x80) {
    out[0] = static_cast<char>(codePoint);
    return 1;
  }
  if (codePoint < 0x800) {
    out[0] = static_cast<char>(0xC0 | (codePoint >> 6));
    out[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 2;
  }
  if (codePoint < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (codePoint >> 12));
    out[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (codePoint >> 18));
  out[1] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (codePoint & 0x3F));
  return 4;
}

/* Bytes that stay as they are in a URL; '&' and the apostrophe become
 * entities, every other byte "%XX". */
bool IsURLSafe(BYTE b) {
  if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9'))
    return true;
  return b != 0 && strchr("-_.+!*(),%#@?=;:/$~", b) != nullptr;
}

/* The entity of an ASCII byte in text or attribute context, or null. */
const char *MarkupEntity(BYTE b, render_escape_context escape) {
  switch (b) {
  case '&':
    return "&amp;";
  case '<':
    return "&lt;";
  case '>':
    return "&gt;";
  case '"':
    return "&quot;";
  case '\'':
    return escape == kEscapeAttribute ? "&#39;" : nullptr;
  default:
    return IsForbidden(b) ? "&#65533;" : nullptr;
  }
}

/* The escape of a code point inside a '...' CSS string, or null when it
 * stays as it is. */
const char *CssStringEscape(DWORD codePoint, char (&code)[16]) {
  if (codePoint >= 0x20 && codePoint < 0x7F) {
    if (codePoint == '\'')
      return "\\'";
    if (codePoint == '\\')
      return "\\\\";
    if (strchr("\"&<>", static_cast<int>(codePoint)) == nullptr)
      return nullptr;
  }
  // NUL and lone surrogates cannot be escaped in CSS; they stand as U+FFFD.
  if (codePoint == 0 || (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF)
    codePoint = kReplacementCharacter;
  snprintf(code, sizeof code, "\\%x ", static_cast<unsigned>(codePoint));
  return code;
}

/* Writes escaped text through put(bytes, length), which returns false to
 * stop. */
template <typename Put>
void Escape(render_escape_context escape, const char *text, size_t length, Put put) {
  const BYTE *bytes = reinterpret_cast<const BYTE *>(text);
  size_t run = 0; /* start of the bytes not written yet */
  char code[16];
  auto flushRun = [&](size_t end) { return end == run || put(text + run, end - run); };
  for (size_t i = 0; i < length;) {
    const BYTE b = bytes[i];
    if (IsPlainByte(b)) {
      if (escape == kEscapeCSSString) {
        const char *escaped = CssStringEscape(b, code);
        if (escaped == nullptr) {
          ++i;
          continue;
        }
        if (!flushRun(i) || !put(escaped, strlen(escaped)))
          return;
      } else if (escape == kEscapeURL) {
        if (IsURLSafe(b)) {
          ++i;
          continue;
        }
        if (!flushRun(i))
          return;
        const char *entity = b == '&' ? "&amp;" : b == '\'' ? "&#x27;" : nullptr;
        if (entity == nullptr)
          snprintf(code, sizeof code, "%%%02X", b);
        if (!put(entity != nullptr ? entity : code, strlen(entity != nullptr ? entity : code)))
          return;
      } else {
        const char *entity = MarkupEntity(b, escape);
        if (entity == nullptr) {
          ++i;
          continue;
        }
        if (!flushRun(i) || !put(entity, strlen(entity)))
          return;
      }
      run = ++i;
      continue;
    }
    if (!flushRun(i))
      return;
    DWORD codePoint = 0;
    const size_t used = ReadLmbcsCharacter(text + i, length - i, &codePoint);
    if (escape == kEscapeCSSString) {
      const char *escaped = CssStringEscape(codePoint, code);
      const char c = static_cast<char>(codePoint);
      if (!(escaped != nullptr ? put(escaped, strlen(escaped)) : put(&c, 1)))
        return;
    } else if (escape == kEscapeURL) {
      char utf8[4];
      const size_t n = EncodeUtf8(codePoint, utf8);
      for (size_t k = 0; k < n; ++k) {
        snprintf(code, sizeof code, "%%%02X", static_cast<BYTE>(utf8[k]));
        if (!put(code, 3))
          return;
      }
    } else {
      if (IsForbidden(codePoint))
        codePoint = kReplacementCharacter;
      const char *entity =
          codePoint < 0x80 ? MarkupEntity(static_cast<BYTE>(codePoint), escape) : nullptr;
      if (entity != nullptr) {
        if (!put(entity, strlen(entity)))
          return;
      } else if (codePoint < 0x80) {
        const char c = static_cast<char>(codePoint);
        if (!put(&c, 1))
          return;
      } else {
        const int n = snprintf(code, sizeof code, "&#%u;", static_cast<unsigned>(codePoint));
        if (!put(code, static_cast<size_t>(n)))
          return;
      }
    }
    i += used;
    run = i;
  }
  flushRun(length);
}

/* Whether the host writes this character set with ASCII as itself. */
bool KeepsASCII(NLS_PINFO info) {
  static const char kProbe[] = "<a href=\"x\">&#;</a>";
  BYTE out[sizeof kProbe + 8];
  WORD room = sizeof out;
  if (NLS_translate(reinterpret_cast<const BYTE *>(kProbe), sizeof kProbe - 1, out, &room,
                    NLS_SOURCEISLMBCS | NLS_NONULLTERMINATE, info) != NLS_SUCCESS)
    return false;
  return room == sizeof kProbe - 1 && memcmp(out, kProbe, room) == 0;
}

} // namespace

size_t LmbcsCharacterBytes(const char *text, size_t length) {
  const BYTE *bytes = reinterpret_cast<const BYTE *>(text);
  if (length <= 1 || IsPlainByte(bytes[0]))
    return 1;
  WORD counted = 0;
  // A character the host cannot measure is taken a byte at a time, which
  // reads it as U+FFFD and steps on: text never stops on it.
  if (NLS_string_bytes(bytes, 1, &counted, nullptr) != NLS_SUCCESS || counted == 0)
    return 1;
  return counted < length ? counted : length;
}

size_t ReadLmbcsCharacter(const char *text, size_t length, DWORD *codePoint) {
  *codePoint = kReplacementCharacter;
  if (length == 0)
    return 0;
  const BYTE *bytes = reinterpret_cast<const BYTE *>(text);
  if (IsPlainByte(bytes[0])) {
    *codePoint = bytes[0];
    return 1;
  }
  size_t used = LmbcsCharacterBytes(text, length);
  if (IsUnitPair(bytes, length))
    used = 6;
  BYTE units[16];
  const WORD written = OSTranslate(OS_TRANSLATE_LMBCS_TO_UNICODE, text, static_cast<WORD>(used),
                                   reinterpret_cast<char *>(units), sizeof units);
  *codePoint = DecodeUtf16(units, written);
  return used;
}

STATUS RenderTextPutEscaped(render_text *out, render_escape_context escape, const char *text,
                            size_t length) {
  if (text == nullptr)
    return out->status;
  Escape(escape, text, length,
         [out](const char *bytes, size_t n) { return RenderTextPut(out, bytes, n) == NOERROR; });
  return out->status;
}

STATUS RenderPutEscaped(html_render_info *context, render_escape_context escape, const char *text,
                        size_t length) {
  if (text == nullptr)
    return context->output_status;
  Escape(escape, text, length, [context](const char *bytes, size_t n) {
    return RenderPut(context, bytes, n) == NOERROR;
  });
  return context->output_status;
}

STATUS RenderPutCodePoint(html_render_info *context, DWORD codePoint) {
  return RenderPrintf(context, "&#%u;", static_cast<unsigned>(codePoint));
}

void SettleOutputCharset(html_render_info *context) {
  if (context->charset_mode != kCharsetUnsettled)
    return;
  const WORD csid = context->charset_id == 0 ? NLS_CS_ISO88591 : context->charset_id;
  if (csid == NLS_CS_UTF8) {
    context->charset_mode = kCharsetUTF8;
    return;
  }
  context->charset_mode = kCharsetNumericOnly;
  // UTF-16 writes NUL bytes inside characters; UTF-7 and LMBCS give
  // ASCII other meanings.
  if (csid == NLS_CS_UNICODE || csid == NLS_CS_UTF7 || csid >= NLS_CS_LMBCS)
    return;
  NLS_PINFO info = nullptr;
  if (NLS_load_charset(csid, &info) != NLS_SUCCESS || info == nullptr)
    return;
  if (!KeepsASCII(info)) {
    static_cast<void>(NLS_unload_charset(info)); // a release: nothing to undo or report
    return;
  }
  context->charset_nls = info;
  context->charset_mode = kCharsetByHost;
}

STATUS ConvertLmbcsForOutput(html_render_info *context, const char *text, size_t length,
                             render_text *out) {
  SettleOutputCharset(context);
  const BYTE *bytes = reinterpret_cast<const BYTE *>(text);
  size_t run = 0;
  for (size_t i = 0; i < length && out->status == NOERROR;) {
    if (IsPlainByte(bytes[i])) {
      ++i;
      continue;
    }
    RenderTextPut(out, text + run, i - run);
    DWORD codePoint = 0;
    const size_t used = ReadLmbcsCharacter(text + i, length - i, &codePoint);
    char converted[32];
    size_t convertedLength = 0;
    if (context->charset_mode == kCharsetUTF8) {
      convertedLength = EncodeUtf8(codePoint, converted);
    } else if (codePoint < 0x80) {
      converted[0] = static_cast<char>(codePoint);
      convertedLength = 1;
    } else if (context->charset_mode == kCharsetByHost && codePoint != kReplacementCharacter) {
      WORD room = sizeof converted;
      const NLS_STATUS status =
          NLS_translate(bytes + i, static_cast<WORD>(used), reinterpret_cast<BYTE *>(converted),
                        &room, NLS_SOURCEISLMBCS | NLS_NONULLTERMINATE, context->charset_nls);
      // The host writes "?" for a character the set cannot hold.
      if (status == NLS_SUCCESS && room > 0 && !(room == 1 && converted[0] == '?'))
        convertedLength = room;
    }
    if (convertedLength == 0)
      convertedLength = static_cast<size_t>(
          snprintf(converted, sizeof converted, "&#%u;", static_cast<unsigned>(codePoint)));
    RenderTextPut(out, converted, convertedLength);
    i += used;
    run = i;
  }
  RenderTextPut(out, text + run, length - run);
  return out->status;
}
