/*
 * The output stage: the translation, encoding and output passes over the
 * held text of a rendering run, line wrapping, and the sinks (the caller's
 * file, the MIME part file, the output callback).
 *
 * Each pass replaces the part of the held text it has not seen yet and
 * moves its counter to the end, so that a pass never sees text twice. This
 * file decides nothing about when to flush: the driver, the text writers
 * and the entry points call RenderFlush at their flush points, and the
 * output primitive when a write does not fit.
 */
#include "render/output_stage.h"

#include <stdio.h>
#include <stdlib.h>
#include <stdint.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "host/nls.h"
#include "render/output_buffer.h"
#include "store/byte_lanes.h"
#include "store/session.h"
#include "velko/status.h"

namespace {

/* Quoted-printable lines may hold at most 76 characters, the soft break
 * included. */
constexpr long kQuotedPrintableLine = 76;
/* A part the wrap may cut beyond its width while looking for a break. */
constexpr long kWrapLookAhead = 1000;
constexpr int kPartFileTries = 100;
/* The callback takes pieces of at most this many bytes. */
constexpr size_t kCallbackPiece = 0xFFFF;
constexpr WORD kPartFileSuffixLength = 5; /* ".html" */
/* Bytes the part file gathers before it writes. */
constexpr size_t kPartFileBuffer = 64 * 1024;
/* Room for the line ends of a short text. */
constexpr size_t kLineEndRoom = 16;

STATUS Fail(html_render_info *context, STATUS status) {
  if (context->output_status == NOERROR)
    context->output_status = status;
  return context->output_status;
}

bool QuotedPrintable(const html_render_info *context) {
  return (context->encoding_flags & kEncodingQuotedPrintable) != 0;
}

/* Replaces the held text from `from` on by `bytes`; the held text stays as
 * it was when it does not fit. */
STATUS ReplaceTail(html_render_info *context, DWORD from, const char *bytes, DWORD length) {
  if (STATUS status = RenderGrowTo(context, size_t{from} + length + 1); status != NOERROR)
    return status;
  memcpy(context->output_buffer + from, bytes, length);
  context->output_length = from + length;
  context->output_buffer[context->output_length] = '\0';
  context->write_ptr = context->output_buffer + context->output_length;
  return NOERROR;
}

bool AllPlain(const char *text, DWORD length) {
  // Sixteen bytes at a time (the compiler's vector extension) while they
  // are all printable ASCII.
  typedef BYTE byte_block __attribute__((vector_size(16)));
  DWORD i = 0;
  for (; i + sizeof(byte_block) <= length; i += sizeof(byte_block)) {
    byte_block block;
    memcpy(&block, text + i, sizeof block);
    const auto other = (block < 0x20) | (block >= 0x80);
    uint64_t lanes[2];
    memcpy(lanes, &other, sizeof lanes);
    if ((lanes[0] | lanes[1]) != 0)
      break;
  }
  for (; i < length; ++i) {
    const BYTE b = static_cast<BYTE>(text[i]);
    if (b >= 0x20 && b < 0x80)
      continue; // printable ASCII never leads an LMBCS character
    if (b >= 0x80 || NLS_isleadbyte(b, nullptr))
      return false;
  }
  return true;
}

/* Sixteen bytes compared at once (the compiler's vector extension). */
typedef lane_block wrap_block;

/* ---- quoted-printable ---- */

/* Bytes of the output character set's character at p. */
size_t OutputCharacterLength(const html_render_info *context, const BYTE *p, size_t left) {
  if (p[0] < 0x80)
    return 1;
  size_t length = 1;
  if (context->charset_mode == kCharsetUTF8) {
    if (p[0] >= 0xF0)
      length = 4;
    else if (p[0] >= 0xE0)
      length = 3;
    else if (p[0] >= 0xC0)
      length = 2;
  } else if (context->charset_mode == kCharsetByHost &&
             NLS_isleadbyte(p[0], context->charset_nls) != FALSE) {
    length = 2;
  }
  return std::min(length, left);
}

/* How the encoder treats each byte of the output: as itself, as an escape
 * "=XX", as a line end (NUL), or as the first byte of a character that may
 * have several (bytes from 0x80 on, whose length the character set
 * decides). */
enum : BYTE { kQPLiteral = 0, kQPEscape = 1, kQPLineEnd = 2, kQPHigh = 3 };

struct qp_classes {
  BYTE of[256];
  constexpr qp_classes() : of() {
    for (int b = 0; b < 256; ++b) {
      if (b == 0)
        of[b] = kQPLineEnd;
      else if (b >= 0x80)
        of[b] = kQPHigh;
      else if (b == ' ' || b == '\t' || (b >= 0x21 && b <= 0x7E && b != '='))
        of[b] = kQPLiteral;
      else
        of[b] = kQPEscape;
    }
  }
};
constexpr qp_classes kQPClass;

constexpr char kHexDigits[] = "0123456789ABCDEF";

/* The lanes of a block whose bytes quoted-printable keeps: printable
 * ASCII from the blank on (as signed bytes, those from 0x80 on fall below
 * it), but "=", and tabs. */
inline unsigned LiteralLanes(const BYTE *at) {
  typedef signed char signed_block __attribute__((vector_size(16)));
  signed_block b;
  memcpy(&b, at, sizeof b);
  const auto kept = ((b > 0x1F) & (b < 0x7F) & ~(b == '=')) | (b == '\t');
  return LaneBits(reinterpret_cast<const wrap_block &>(kept));
}

/* The end of the run of bytes from i on before end that stay as they are:
 * sixty-four at a time while all stay, then sixteen at a time (the
 * compiler's vector extension), then one by one. */
DWORD LiteralRunEnd(const BYTE *bytes, DWORD i, DWORD end) {
  constexpr DWORD kBlock = sizeof(wrap_block);
  constexpr unsigned kAll = (1u << kBlock) - 1;
  for (; i + 4 * kBlock <= end; i += 4 * kBlock) {
    if ((LiteralLanes(bytes + i) & LiteralLanes(bytes + i + kBlock) &
         LiteralLanes(bytes + i + 2 * kBlock) & LiteralLanes(bytes + i + 3 * kBlock)) != kAll)
      break;
  }
  for (; i + kBlock <= end; i += kBlock) {
    if (const unsigned changed = ~LiteralLanes(bytes + i) & kAll; changed != 0)
      return i + static_cast<DWORD>(__builtin_ctz(changed));
  }
  while (i < end && kQPClass.of[bytes[i]] == kQPLiteral)
    ++i;
  return i;
}

char *PutEscapedByte(char *at, BYTE b) {
  at[0] = '=';
  at[1] = kHexDigits[b >> 4];
  at[2] = kHexDigits[b & 0xF];
  return at + 3;
}

/* Input bytes encoded between two checks of the room; the encoding of one
 * byte takes at most kQPLargestExpansion bytes ("=0D=0A" of a line end),
 * and a character that begins in a block may end kQPLongestOverrun bytes
 * (three bytes "=XX" and a marker each) beyond it. */
constexpr DWORD kQPBlock = 4096;
constexpr DWORD kQPLargestExpansion = 6;
constexpr DWORD kQPLongestOverrun = 3 * 4;

/* A NUL (a line end) becomes an escaped line end; a character of several
 * bytes is escaped byte by byte with a soft-break marker (NUL) after each
 * escape; other bytes stay when quoted-printable lets them. Runs of bytes
 * that stay are copied whole. */
void EncodeQuotedPrintable(const html_render_info *context, const char *text, DWORD length,
                           render_text *out) {
  const BYTE *bytes = reinterpret_cast<const BYTE *>(text);
  const bool toFile = context->out_file != nullptr;
  const char *lineEnd = toFile ? "=0A" : "=0D=0A";
  const size_t lineEndLength = toFile ? 3 : 6;
  DWORD i = 0;
  while (i < length) {
    const DWORD blockEnd = length - i > kQPBlock ? i + kQPBlock : length;
    if (!RenderTextReserve(out, size_t{blockEnd - i} * kQPLargestExpansion + kQPLongestOverrun))
      return;
    char *at = out->data + out->length;
    while (i < blockEnd) {
      const DWORD start = i;
      i = LiteralRunEnd(bytes, i, blockEnd);
      memcpy(at, bytes + start, i - start);
      at += i - start;
      if (i == blockEnd)
        break;
      const BYTE b = bytes[i];
      switch (kQPClass.of[b]) {
      case kQPLineEnd:
        memcpy(at, lineEnd, lineEndLength);
        at += lineEndLength;
        ++i;
        break;
      case kQPHigh: {
        // A character may run past the block: the room holds its bytes,
        // at most four.
        const size_t characterLength = OutputCharacterLength(context, bytes + i, length - i);
        if (characterLength == 1) {
          at = PutEscapedByte(at, b);
          ++i;
          break;
        }
        for (size_t k = 0; k < characterLength; ++k) {
          at = PutEscapedByte(at, bytes[i + k]);
          *at++ = '\0';
        }
        i += static_cast<DWORD>(characterLength);
        break;
      }
      default:
        at = PutEscapedByte(at, b);
        ++i;
        break;
      }
    }
    out->length = static_cast<DWORD>(at - out->data);
    out->data[out->length] = '\0';
  }
}

/* ---- sinks ---- */

STATUS WriteFile(html_render_info *context, FILE *file, const char *text, size_t length) {
  if (length == 0)
    return NOERROR;
  if (fwrite(text, 1, length, file) != length)
    return Fail(context, kOutputWriteFailed);
  return NOERROR;
}

/* The caller's memory takes the part's text as a part file would. */
STATUS WriteMemoryPart(html_render_info *context, const char *text, size_t length) {
  if (length == 0)
    return NOERROR;
  if (!context->part_memory->Append(text, length))
    return Fail(context, VELKO_ERR_MEMORY);
  context->part_memory_length += length;
  return NOERROR;
}

/* Hands text to the output callback in pieces it can take, cut after a
 * line end where there is one, and never inside a UTF-8 character. */
void RaiseInPieces(html_render_info *context, const char *text, size_t length) {
  if (context->chunk == nullptr)
    return;
  while (length > 0) {
    size_t piece = std::min(length, kCallbackPiece);
    if (piece < length) {
      size_t cut = piece;
      while (cut > 0 && text[cut - 1] != '\n' && text[cut - 1] != '\0')
        --cut;
      if (cut > 0) {
        piece = cut;
      } else if (context->charset_mode == kCharsetUTF8) {
        while (piece > 1 && (static_cast<BYTE>(text[piece]) & 0xC0) == 0x80)
          --piece;
      }
    }
    context->chunk->RaiseActOnText(text, static_cast<WORD>(piece));
    text += piece;
    length -= piece;
  }
}

/* The sink of this flush, if any, takes the text. */
STATUS WriteToSink(html_render_info *context, DWORD final, const char *text, size_t length) {
  if (context->out_file != nullptr)
    return WriteFile(context, context->out_file, text, length);
  if (context->part_file != nullptr)
    return WriteFile(context, context->part_file, text, length);
  if (context->part_memory_open != 0)
    return WriteMemoryPart(context, text, length);
  if ((context->flags & html_flags::OutputToEvent) != 0 && final == 0)
    RaiseInPieces(context, text, length);
  return NOERROR;
}

/* Empties the held text after a sink took it; `keep` bytes from `from` on
 * stay as the start of the next held text (already translated and
 * encoded). */
void KeepOnly(html_render_info *context, DWORD from, DWORD keep) {
  memmove(context->output_buffer, context->output_buffer + from, keep);
  context->output_length = keep;
  context->output_translated = keep;
  context->output_encoded = keep;
  context->output_wrapped = 0;
  context->output_buffer[keep] = '\0';
  context->write_ptr = context->output_buffer + keep;
}

/* ---- wrapping ---- */

/* The bytes that ScanByte acts on; the scan steps over all others. */
struct wrap_bytes {
  bool acts[256];
  constexpr wrap_bytes() : acts() {
    for (const char c : {'\n', '<', ' ', '/', '>', ';', '\0'})
      acts[static_cast<BYTE>(c)] = true;
  }
};
constexpr wrap_bytes kWrapBytes;

/* The bytes of the text that ScanByte acts on, as bits, and the blanks
 * among them: one word of each for each 64 bytes from the text's start,
 * made when the scan first needs it and kept for the next few words. */
class acting_bytes {
public:
  acting_bytes(const char *text, long length) : text_(text), length_(length) {}

  /* The first byte from `from` on before `limit` that ScanByte acts on,
   * else limit (limit at most the text's length). */
  long Next(long from, long limit) { return NextOf(from, limit, false); }

  /* The first byte from `from` on before `limit` that ScanByte acts on
   * and is no blank, else limit. */
  long NextOther(long from, long limit) { return NextOf(from, limit, true); }

  /* The last blank from `from` on before `to`, else -1. */
  long LastBlank(long from, long to) {
    while (to > from) {
      const long word = (to - 1) >> 6;
      uint64_t bits = Get(word).blanks;
      const int end = static_cast<int>(to - (word << 6)); // bits below it count
      if (end < 64)
        bits &= (uint64_t{1} << end) - 1;
      if (bits != 0) {
        const long last = (word << 6) + 63 - __builtin_clzll(bits);
        return last >= from ? last : -1;
      }
      to = word << 6;
    }
    return -1;
  }

  /* The bits of the 128 places from `from` on (bit k of word k / 64 for
   * place from + k), none past the text's end. */
  void Window(long from, uint64_t acting[2], uint64_t blanks[2]) {
    const long word = from >> 6;
    const int shift = static_cast<int>(from & 63);
    uint64_t a[3] = {};
    uint64_t b[3] = {};
    for (int k = 0; k < 3 && (word + k) << 6 < length_; ++k) {
      const word_bits &got = Get(word + k);
      a[k] = got.acting;
      b[k] = got.blanks;
    }
    for (int k = 0; k < 2; ++k) {
      acting[k] = a[k] >> shift;
      blanks[k] = b[k] >> shift;
      if (shift != 0) {
        acting[k] |= a[k + 1] << (64 - shift);
        blanks[k] |= b[k + 1] << (64 - shift);
      }
    }
  }

private:
  struct word_bits {
    long word = -1;
    uint64_t acting = 0;
    uint64_t blanks = 0;
  };
  static constexpr int kKept = 4;

  long NextOf(long from, long limit, bool others) {
    while (from < limit) {
      const long word = from >> 6;
      const word_bits &got = Get(word);
      const uint64_t bits = (others ? got.acting & ~got.blanks : got.acting) >> (from & 63);
      if (bits != 0)
        return std::min(limit, from + __builtin_ctzll(bits));
      from = (word + 1) << 6;
    }
    return limit;
  }

  const word_bits &Get(long word) {
    word_bits &kept = kept_[word & (kKept - 1)];
    if (kept.word == word)
      return kept;
    const long start = word << 6;
    const long count = std::min(64L, length_ - start);
    BYTE tail[64] = {};
    const BYTE *bytes = reinterpret_cast<const BYTE *>(text_) + start;
    if (count < 64)
      bytes = static_cast<const BYTE *>(memcpy(tail, bytes, static_cast<size_t>(count)));
    uint64_t acting = 0;
    uint64_t blanks = 0;
    for (int block = 0; block < 4; ++block) {
      wrap_block b;
      memcpy(&b, bytes + block * 16, sizeof b);
      const auto blank = b == ' ';
      const auto acts = (b == '\n') | (b == '<') | blank | (b == '/') | (b == '>') | (b == ';') |
                        (b == '\0');
      acting |= uint64_t{LaneBits(reinterpret_cast<const wrap_block &>(acts))} << (block * 16);
      blanks |= uint64_t{LaneBits(reinterpret_cast<const wrap_block &>(blank))} << (block * 16);
    }
    // Bytes past the text's end were not copied: no bit of theirs counts.
    if (count < 64) {
      acting &= (uint64_t{1} << count) - 1;
      blanks &= (uint64_t{1} << count) - 1;
    }
    kept = {word, acting, blanks};
    return kept;
  }

  const char *text_;
  long length_;
  word_bits kept_[kKept];
};

struct wrap_state {
  const html_render_info *context;
  const char *text;
  long length;
  long width;
  bool quoted;
  bool in_tag = false;
  bool closing_tag = false;
  acting_bytes acting{text, length};
  /* The first NUL from nul_from on, else length (nul_from -1: not looked
   * for yet). */
  long nul_from = -1;
  long next_nul = -1;
};

/* Where a piece of the text may end, found by one scan from `rest`. */
struct wrap_scan {
  long line_start;
  long cand = -1;     /* the piece may end just after it */
  long tag_cand = -1; /* a preferred end at a tag boundary */
  long blank = -1;
  bool reached_end = false;
};

void ScanByte(wrap_state &w, wrap_scan &s, long p, bool record) {
  const char *t = w.text;
  switch (t[p]) {
  case '\n':
    s.line_start = p;
    break;
  case '<':
    w.in_tag = true;
    if (record)
      s.cand = p - 1;
    break;
  case ' ':
    w.closing_tag = false;
    s.blank = p;
    if (!w.in_tag && record) {
      s.cand = p - 1;
      if (t[p - 1] == '>' || (p + 1 < w.length && t[p + 1] == '<'))
        s.tag_cand = p;
    }
    break;
  case '/':
    if (p > 0 && t[p - 1] == '<')
      w.closing_tag = true;
    break;
  case '>':
    w.in_tag = false;
    if (record) {
      if (w.closing_tag || (p + 2 < w.length && t[p + 1] == '<' && t[p + 2] != '/'))
        s.tag_cand = p;
      s.cand = p;
    }
    w.closing_tag = false;
    break;
  case ';':
    if (!w.in_tag && record)
      s.cand = p;
    break;
  case '\0':
    if (w.quoted && record)
      s.cand = p;
    break;
  default:
    break;
  }
}

wrap_scan Scan(wrap_state &w, long rest) {
  wrap_scan s;
  s.line_start = rest;
  const long width = w.width;
  const BYTE *bytes = reinterpret_cast<const BYTE *>(w.text);
  for (long p = rest;; ++p) {
    if (p >= w.length) {
      s.reached_end = true;
      return s;
    }
    const bool lineHasCand = s.cand >= s.line_start;
    if (p - s.line_start >= 2 * width || (lineHasCand && s.cand - s.line_start + 1 >= width) ||
        p - rest >= width + kWrapLookAhead)
      return s;
    if (kWrapBytes.acts[bytes[p]]) {
      const bool record = p > rest && p - rest + 1 < width + kWrapLookAhead &&
                          !(lineHasCand && p - s.line_start + 1 > width);
      ScanByte(w, s, p, record);
    }
    if (s.cand >= 0 && p - s.line_start + 1 >= width)
      return s;
    // Bytes the scan does not act on change nothing: step over them up to
    // the first place where one of the tests above could end the scan.
    long limit = std::min({w.length, s.line_start + 2 * width, rest + width + kWrapLookAhead});
    if (s.cand >= 0)
      limit = std::min(limit, s.line_start + width - 1);
    if (p + 1 < limit)
      p = w.acting.Next(p + 1, limit) - 1;
  }
}

/* The widest line the one-pass scan takes: its places fit two words. */
constexpr long kWindowWidth = 128;

/* The bits of the first `count` places of word k (of 64) of a window. */
inline uint64_t WindowMask(long count, int k) {
  const long in = std::clamp(count - 64L * k, 0L, 64L);
  return in == 64 ? ~uint64_t{0} : (uint64_t{1} << in) - 1;
}

/* The scan of a line of the common kind in one pass: a line whose first
 * width places hold a candidate and neither a line end nor a NUL, with
 * two places of text after them. Scan then acts on exactly the bytes of
 * those places, in order, and ends after the last: this does the same
 * from their bits, taking each run of blanks between two other bytes (or
 * a word's edge) at its first and last blank (only they can be next to a
 * tag's edge, and the last makes the candidate). False, with nothing
 * changed, for any other line. */
bool ScanLine(wrap_state &w, long rest, wrap_scan &s) {
  const long width = w.width;
  if (width > kWindowWidth || rest + width + 2 > w.length)
    return false;
  const char *t = w.text;
  uint64_t acting[2];
  uint64_t blanks[2];
  w.acting.Window(rest, acting, blanks);
  bool inTag = w.in_tag;
  bool closingTag = w.closing_tag;
  long cand = -1;
  long tagCand = -1;
  long blank = -1;
  for (int k = 0; k < 2; ++k) {
    const uint64_t in = WindowMask(width, k);
    const long base = 64L * k;
    // The blanks not passed yet; the first place of the line, where no
    // blank is recorded, only sets the blank.
    uint64_t pending = blanks[k] & in;
    const uint64_t unrecorded = k == 0 ? 1 : 0;
    for (uint64_t others = acting[k] & in & ~blanks[k];; others &= others - 1) {
      const uint64_t before = others != 0 ? (others & -others) - 1 : ~uint64_t{0};
      if (const uint64_t run = pending & before; run != 0) {
        pending &= ~before;
        closingTag = false;
        blank = rest + base + 63 - __builtin_clzll(run);
        if (const uint64_t recorded = run & ~unrecorded; !inTag && recorded != 0) {
          const long first = rest + base + __builtin_ctzll(recorded);
          cand = blank - 1;
          if (t[blank + 1] == '<')
            tagCand = blank;
          else if (t[first - 1] == '>')
            tagCand = first;
        }
      }
      if (others == 0)
        break;
      const long at = base + __builtin_ctzll(others);
      const long p = rest + at;
      const bool record = at > 0;
      switch (t[p]) {
      case '<':
        inTag = true;
        if (record)
          cand = p - 1;
        break;
      case '/':
        if (p > 0 && t[p - 1] == '<')
          closingTag = true;
        break;
      case '>':
        inTag = false;
        if (record) {
          if (closingTag || (t[p + 1] == '<' && t[p + 2] != '/'))
            tagCand = p;
          cand = p;
        }
        closingTag = false;
        break;
      case ';':
        if (!inTag && record)
          cand = p;
        break;
      default: // a line end or a NUL
        return false;
      }
    }
  }
  if (cand < 0)
    return false;
  w.in_tag = inTag;
  w.closing_tag = closingTag;
  s.line_start = rest;
  s.cand = cand;
  s.tag_cand = tagCand;
  s.blank = blank;
  s.reached_end = false;
  return true;
}

/* As Scan, stepping only from one byte it acts on to the next. The scan
 * ends before acting at `hard` (the text's end, two widths past the
 * line's start, the look-ahead's end) and, once it has a candidate, after
 * acting at `soft` (the line's width reached); Scan's test of a candidate
 * that fills the line never ends a scan that this one does not end first,
 * as the candidate was made at or after its own place. */
wrap_scan ScanByBits(wrap_state &w, long rest) {
  wrap_scan s;
  s.line_start = rest;
  const long width = w.width;
  const long lookEnd = rest + width + kWrapLookAhead;
  long hard = std::min({w.length, rest + 2 * width, lookEnd});
  long soft = LONG_MAX;
  for (long p = rest;;) {
    const long limit = soft < hard ? soft + 1 : hard;
    const long q = w.acting.Next(p, limit);
    if (q >= limit) {
      s.reached_end = soft >= hard && hard >= w.length;
      return s;
    }
    const long lineStart = s.line_start;
    const bool record =
        q > rest && q + 1 < lookEnd && !(s.cand >= lineStart && q - lineStart + 1 > width);
    ScanByte(w, s, q, record);
    if (s.line_start != lineStart)
      hard = std::min({w.length, s.line_start + 2 * width, lookEnd});
    if (s.cand >= 0) {
      soft = s.line_start + width - 1;
      if (q >= soft)
        return s;
    }
    p = q + 1;
    if (w.text[q] != ' ' || s.cand < 0)
      continue;
    // Of the blanks that follow before the next other byte acted on, only
    // the last changes what the scan found: each makes the same candidate
    // as the one before, one place on, and none is next to a tag's edge.
    // The place before the look-ahead's end, where a blank makes no
    // candidate, is left to the steps above.
    const long runEnd = w.acting.NextOther(p, std::min(soft < hard ? soft + 1 : hard, lookEnd - 1));
    const long last = w.acting.LastBlank(p, runEnd);
    if (last < 0)
      continue;
    ScanByte(w, s, last, true);
    if (last >= soft)
      return s;
    p = last + 1;
  }
}

/* Shortens a cut piece so that no escape "=XX" is split: it ends before
 * any "=" among its last three bytes, the last piece of the text too. */
long KeepEscapesWhole(const wrap_state &w, long rest, long length) {
  if (!w.quoted)
    return length;
  const char *piece = w.text + rest;
  if (length >= 2 && piece[length - 1] == '=')
    return length - 1;
  if (length > 2 && piece[length - 2] == '=')
    return length - 2;
  if (length > 3 && piece[length - 3] == '=')
    return length - 3;
  return length;
}

/* What a line may hold after its piece's bytes: "=20=" and CR LF. */
constexpr size_t kLineTail = 6;

/* Room at the end of `out` for a piece of `length` bytes and its line's
 * tail; null, with the failure kept in out's status, when it cannot be
 * had. */
char *LineRoom(render_text *out, long length) {
  const size_t need = static_cast<size_t>(length) + kLineTail;
  const bool fits = out->status == NOERROR && out->data != nullptr &&
                    uint64_t{out->length} + need < out->size;
  if (!fits && !RenderTextReserve(out, need))
    return nullptr;
  return out->data + out->length;
}

/* The line written up to `at` (within the room LineRoom gave). */
void EndLine(render_text *out, char *at) {
  out->length = static_cast<DWORD>(at - out->data);
  *at = '\0';
}

char *CopyLineEnd(const wrap_state &w, char *at) {
  const DWORD flags = w.context->flags;
  if ((flags & html_flags::NewlineCRLF) != 0) {
    if (w.context->out_file == nullptr)
      *at++ = '\r';
    *at++ = '\n';
  } else if ((flags & html_flags::NewlineNUL) != 0) {
    *at++ = '\0';
  }
  return at;
}

/* The place of the first NUL of the text from `from` (a place of the
 * text) on, else the text's end: looked for again only once the copy has
 * passed the last one found, so that a text with few markers is searched
 * once, not line by line. */
long NextNul(wrap_state &w, long from) {
  if (w.nul_from < 0 || from < w.nul_from || w.next_nul < from) {
    const void *found = memchr(w.text + from, '\0', static_cast<size_t>(w.length - from));
    w.nul_from = from;
    w.next_nul = found != nullptr ? static_cast<const char *>(found) - w.text : w.length;
  }
  return w.next_nul;
}

/* Copies piece bytes (of the text); under quoted-printable the NUL
 * markers are dropped, in NewlineNUL mode LF bytes become NUL. */
char *CopyPieceBytes(wrap_state &w, const char *bytes, long length, char *at) {
  const bool nulLines = !w.quoted && (w.context->flags & html_flags::NewlineNUL) != 0;
  const long start = bytes - w.text;
  const bool asTheyAre = w.quoted ? NextNul(w, start) >= start + length : !nulLines;
  if (asTheyAre) {
    memcpy(at, bytes, static_cast<size_t>(length));
    return at + length;
  }
  const char *end = bytes + length;
  const char *run = bytes;
  const char *found = nullptr;
  while ((found = static_cast<const char *>(
              memchr(run, w.quoted ? '\0' : '\n', static_cast<size_t>(end - run)))) != nullptr) {
    memcpy(at, run, static_cast<size_t>(found - run));
    at += found - run;
    if (nulLines)
      *at++ = '\0';
    run = found + 1;
  }
  memcpy(at, run, static_cast<size_t>(end - run));
  return at + (end - run);
}

/* A piece that ends at a break. Under quoted-printable a NUL as its last
 * byte is a soft break, a trailing blank is written "=20=", and a piece
 * that more text follows (not beginning with a blank) gets a soft break. */
char *CopyBrokenPiece(wrap_state &w, long rest, long length, char *at) {
  const char *piece = w.text + rest;
  if (!w.quoted)
    return CopyPieceBytes(w, piece, length, at);
  const char last = piece[length - 1];
  at = CopyPieceBytes(w, piece, length - 1, at);
  if (last == '\0') {
    *at++ = '=';
    return at;
  }
  if (last == ' ') {
    memcpy(at, "=20=", 4);
    return at + 4;
  }
  *at++ = last;
  const long next = rest + length;
  if (last != '=' && next < w.length && w.text[next] != ' ')
    *at++ = '=';
  return at;
}

/* Wraps text into lines in `out`; returns the bytes wrapped. With keepTail
 * the unfinished last piece is left (its end depends on text to come). */
long WrapText(const html_render_info *context, const char *text, long length, bool keepTail,
              render_text *out) {
  wrap_state w{context, text, length, context->max_line_length, QuotedPrintable(context)};
  // Quoted-printable lines stay within 76 characters with their soft break.
  const long cutWidth = w.quoted ? std::min(w.width, kQuotedPrintableLine - 1) : w.width;
  const long longestBroken = w.quoted ? kQuotedPrintableLine - 3 : length;
  const bool byBits = WrapScanByBits();
  long rest = 0;
  while (rest < length && out->status == NOERROR) {
    wrap_scan s{rest};
    if (!byBits)
      s = Scan(w, rest);
    else if (!ScanLine(w, rest, s))
      s = ScanByBits(w, rest);
    const long left = length - rest;
    // Where this piece ends depends on text still to come.
    if (s.reached_end && keepTail)
      break;
    // The last of the text ends at its last break too, even when it would
    // fit on one line; only a rest without a break is taken whole.
    bool cut = s.cand < 0 && (s.blank < 0 || left <= w.width);
    long piece = 0;
    if (!cut) {
      long end = s.cand;
      if (s.cand < 0)
        end = s.blank;
      else if (s.tag_cand >= 0 &&
               (s.tag_cand <= s.cand || s.tag_cand - s.line_start + 1 <= w.width))
        end = s.tag_cand;
      piece = end - rest + 1;
      cut = piece > longestBroken;
    }
    if (cut)
      piece = std::min(left, cutWidth);
    if (keepTail && rest + piece == length)
      break;
    char *at = LineRoom(out, piece);
    if (at == nullptr)
      break;
    if (cut) {
      piece = KeepEscapesWhole(w, rest, piece);
      at = CopyPieceBytes(w, text + rest, piece, at);
      if (w.quoted)
        *at++ = '=';
    } else {
      at = CopyBrokenPiece(w, rest, piece, at);
    }
    EndLine(out, CopyLineEnd(w, at));
    rest += piece;
  }
  return rest;
}

/* Held text without the quoted-printable soft-break markers. */
STATUS WithoutMarkers(html_render_info *context, const char *text, DWORD length, render_text *out) {
  DWORD run = 0;
  for (DWORD i = 0; i < length; ++i) {
    if (text[i] == '\0') {
      RenderTextPut(out, text + run, i - run);
      run = i + 1;
    }
  }
  RenderTextPut(out, text + run, length - run);
  return out->status != NOERROR ? Fail(context, out->status) : NOERROR;
}

/* No wrapping: the whole held text goes to the sink, or stays. Text that
 * stays for good loses its quoted-printable soft-break markers, which no
 * line will use. */
STATUS OutputUnwrapped(html_render_info *context, DWORD final, bool sink) {
  if (!sink) {
    const DWORD from = context->output_wrapped;
    STATUS status = NOERROR;
    if (QuotedPrintable(context) && from < context->output_length) {
      render_text plain{context->session};
      status = WithoutMarkers(context, context->output_buffer + from, context->output_length - from,
                              &plain);
      if (status == NOERROR)
        status = ReplaceTail(context, from, plain.data != nullptr ? plain.data : "", plain.length);
      RenderTextFree(&plain);
      if (status != NOERROR)
        return Fail(context, status);
      context->output_translated = context->output_length;
      context->output_encoded = context->output_length;
    }
    context->output_wrapped = context->output_length;
    return status;
  }
  STATUS status = NOERROR;
  if (QuotedPrintable(context)) {
    render_text plain{context->session};
    status = WithoutMarkers(context, context->output_buffer, context->output_length, &plain);
    if (status == NOERROR)
      status = WriteToSink(context, final, plain.data, plain.length);
    RenderTextFree(&plain);
  } else {
    status = WriteToSink(context, final, context->output_buffer, context->output_length);
  }
  if (status == NOERROR)
    KeepOnly(context, 0, 0);
  return status;
}

STATUS OutputWrapped(html_render_info *context, DWORD final, bool sink) {
  const DWORD from = context->output_wrapped;
  render_text lines{context->session};
  // Room for the lines at once: the text and a little for the line ends
  // and soft breaks (more is found as the lines need it).
  const DWORD unwrapped = context->output_length - from;
  RenderTextReserve(&lines, size_t{unwrapped} + unwrapped / 8 + kLineEndRoom);
  const long wrapped =
      WrapText(context, context->output_buffer + from,
               static_cast<long>(context->output_length - from), sink && final == 0, &lines);
  STATUS status = lines.status != NOERROR ? Fail(context, lines.status) : NOERROR;
  if (status == NOERROR && sink) {
    status = WriteToSink(context, final, context->output_buffer, from);
    if (status == NOERROR)
      status = WriteToSink(context, final, lines.data, lines.length);
    if (status == NOERROR)
      KeepOnly(context, from + static_cast<DWORD>(wrapped),
               context->output_length - from - static_cast<DWORD>(wrapped));
  } else if (status == NOERROR) {
    status = ReplaceTail(context, from, lines.data != nullptr ? lines.data : "", lines.length);
    if (status == NOERROR) {
      context->output_translated = context->output_length;
      context->output_encoded = context->output_length;
      context->output_wrapped = context->output_length;
    }
  }
  RenderTextFree(&lines);
  return status;
}

} // namespace

STATUS ProcessHTMLTranslation(html_render_info *context) {
  if (context->output_status != NOERROR)
    return context->output_status;
  const DWORD from = context->output_translated;
  if (from >= context->output_length)
    return NOERROR;
  const char *text = context->output_buffer + from;
  const DWORD length = context->output_length - from;
  SettleOutputCharset(context);
  if (AllPlain(text, length)) {
    context->output_translated = context->output_length;
    return NOERROR;
  }
  render_text converted{context->session};
  STATUS status = ConvertLmbcsForOutput(context, text, length, &converted);
  if (status == NOERROR)
    status = ReplaceTail(context, from, converted.data, converted.length);
  RenderTextFree(&converted);
  if (status != NOERROR)
    return Fail(context, status);
  context->output_translated = context->output_length;
  return NOERROR;
}

STATUS ProcessHTMLEncoding(html_render_info *context) {
  if (ProcessHTMLTranslation(context) != NOERROR)
    return context->output_status;
  context->output_nls =
      context->session != nullptr ? context->session->internal->nls_info : nullptr;
  const DWORD from = context->output_encoded;
  if (from >= context->output_length)
    return NOERROR;
  if ((context->encoding_flags & kEncodingPassBits) == 0 || !QuotedPrintable(context)) {
    context->output_encoded = context->output_length;
    return NOERROR;
  }
  // Bytes that stay as they are need not be copied and put back: the
  // encoding starts at the first byte it changes, most flushes at none.
  const DWORD first = LiteralRunEnd(reinterpret_cast<const BYTE *>(context->output_buffer), from,
                                    context->output_length);
  if (first == context->output_length) {
    context->output_encoded = context->output_length;
    return NOERROR;
  }
  render_text encoded{context->session};
  EncodeQuotedPrintable(context, context->output_buffer + first, context->output_length - first,
                        &encoded);
  STATUS status = encoded.status;
  if (status == NOERROR)
    status = ReplaceTail(context, first, encoded.data, encoded.length);
  RenderTextFree(&encoded);
  if (status != NOERROR)
    return Fail(context, status);
  context->output_encoded = context->output_length;
  return NOERROR;
}

STATUS ProcessHTMLOutput(html_render_info *context, DWORD final) {
  if (ProcessHTMLEncoding(context) != NOERROR)
    return context->output_status;
  if (context->mime_mode != 0 && !MimePartOpen(context) && final == 0 &&
      context->out_file == nullptr)
    OpenMimePartFile(context);
  const bool sink = context->out_file != nullptr || MimePartOpen(context) ||
                    ((context->flags & html_flags::OutputToEvent) != 0 && final == 0);
  if (!sink && final == 0)
    return NOERROR;
  if (context->max_line_length == 0)
    return OutputUnwrapped(context, final, sink);
  return OutputWrapped(context, final, sink);
}

STATUS ProcessHeldText(html_render_info *context) {
  if (ProcessHTMLEncoding(context) != NOERROR)
    return context->output_status;
  if (context->max_line_length == 0)
    return OutputUnwrapped(context, 1, false);
  return OutputWrapped(context, 1, false);
}

bool OpenMimePartFile(html_render_info *context) {
  if (context->part_memory != nullptr) {
    // No file to make: the part is named as the first file would be.
    snprintf(context->part_file_name, sizeof context->part_file_name, "MP%d_%d.html",
             int{context->mime_part_number}, int{context->mime_part_counter});
    context->mime_part_counter = static_cast<WORD>(context->mime_part_counter + 1);
    context->part_memory_open = 1;
    return true;
  }
  const char *temp_directory = context->session->internal->temp_directory;
  const char *directory = temp_directory[0] != '\0' ? temp_directory : "/tmp/";
  for (int k = 0; k < kPartFileTries; ++k) {
    const int number = context->mime_part_counter + k;
    snprintf(context->part_file_name, sizeof context->part_file_name, "MP%d_%d.html",
             int{context->mime_part_number}, number);
    const int written =
        snprintf(context->part_file_path, sizeof context->part_file_path, "%sMP%d_%d_XXXXXX.html",
                 directory, int{context->mime_part_number}, number);
    if (written < 0 || static_cast<size_t>(written) >= sizeof context->part_file_path)
      break;
    const int descriptor = mkstemps(context->part_file_path, kPartFileSuffixLength);
    if (descriptor < 0)
      continue;
    FILE *file = fdopen(descriptor, "w");
    if (file == nullptr) {
      close(descriptor);
      unlink(context->part_file_path);
      continue;
    }
    // The flushes hand on a few kilobytes each: the file gathers them
    // into larger writes.
    setvbuf(file, nullptr, _IOFBF, kPartFileBuffer);
    context->part_file = file;
    context->mime_part_counter = static_cast<WORD>(number + 1);
    return true;
  }
  context->part_file_name[0] = '\0';
  context->part_file_path[0] = '\0';
  return false;
}

STATUS CloseMimePartFile(html_render_info *context) {
  FILE *file = context->part_file;
  if (file == nullptr)
    return NOERROR;
  context->part_file = nullptr;
  const bool flushed = fflush(file) == 0;
  const bool closed = fclose(file) == 0;
  return flushed && closed ? NOERROR : kOutputWriteFailed;
}
