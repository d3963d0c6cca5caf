/*
 * The output primitive of a rendering run: appending to the held text with
 * its length and write position kept as counters, making room by handing
 * the held text to the sink or by growing the buffer, and the growable
 * tracked text that the output passes and the option reader build in.
 *
 * The passes that a flush runs are in render/output_stage.cpp; escaping and
 * character sets in render/escape.cpp.
 */
#include "render/output_buffer.h"

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <charconv>
#include <functional>

#include "generate/color_string.h"
#include "render/output_stage.h"
#include "store/tracked_memory.h"
#include "velko/status.h"

namespace {

/* The largest buffer a run grows to: sizes stay 32-bit. */
constexpr uint64_t kLargestOutput = 0xFFFFFF00u;
/* Formatted texts up to this size are built on the stack. */
constexpr size_t kFormatBuffer = 512;

STATUS Fail(html_render_info *context, STATUS status) {
  if (context->output_status == NOERROR)
    context->output_status = status;
  return context->output_status;
}

bool HasRoom(const html_render_info *context, size_t length) {
  return context->output_capacity > context->output_length &&
         length < context->output_capacity - context->output_length;
}

void Terminate(html_render_info *context) {
  context->output_buffer[context->output_length] = '\0';
  context->write_ptr = context->output_buffer + context->output_length;
}

/* The run's own buffer made `size` bytes, its text kept; false, with the
 * buffer as it was, when memory cannot be had. The tracked block is
 * resized in place, so that the smaller buffers it grew from are not kept
 * in the pool. */
bool Resize(html_render_info *context, size_t size) {
  char *resized = static_cast<char *>(
      VelkoReallocatePtr(context->session, VELKO_HERE, context->output_buffer, size));
  if (resized == nullptr)
    return false;
  context->output_buffer = resized;
  context->output_capacity = static_cast<DWORD>(size);
  Terminate(context);
  return true;
}

/* The buffer of this run resized to hold length more bytes: by half again
 * its size at least, so that appends stay linear while the slack stays
 * below half the held text. */
STATUS Grow(html_render_info *context, size_t length) {
  if (context->output_owned == 0)
    return Fail(context, VELKO_ERR_MEMORY);
  const uint64_t needed = uint64_t{context->output_length} + length + 1;
  if (needed > kLargestOutput)
    return Fail(context, VELKO_ERR_MEMORY);
  const uint64_t capacity = context->output_capacity;
  const uint64_t size = std::min(kLargestOutput, std::max(needed, capacity + capacity / 2));
  return Resize(context, size) ? NOERROR : Fail(context, VELKO_ERR_MEMORY);
}

/* Room for length more bytes and the NUL: flush when a sink takes the text
 * (and flushing is allowed), then grow. */
STATUS MakeRoom(html_render_info *context, size_t length, bool mayFlush) {
  if (context->output_status != NOERROR)
    return context->output_status;
  if (context->output_buffer == nullptr)
    return Fail(context, VELKO_ERR_MEMORY);
  if (HasRoom(context, length))
    return NOERROR;
  if (mayFlush && context->output_hold == 0 && RenderHasSink(context, 0)) {
    if (STATUS status = RenderFlush(context, 0); status != NOERROR)
      return status;
    if (HasRoom(context, length))
      return NOERROR;
  }
  return Grow(context, length);
}

/* The longest start of text, at most room bytes, that ends between two
 * LMBCS characters. */
size_t WholeCharacters(const char *text, size_t length, size_t room) {
  size_t at = 0;
  while (at < length) {
    const size_t bytes = LmbcsCharacterBytes(text + at, length - at);
    if (at + bytes > room)
      break;
    at += bytes;
  }
  return at;
}

/* A caller's buffer cannot grow: with a sink, text longer than its room
 * goes in pieces of whole characters, each handed on before the next. */
STATUS PutInPieces(html_render_info *context, const char *text, size_t length) {
  while (length > 0) {
    const size_t room = context->output_capacity - context->output_length - 1;
    const size_t piece = length <= room ? length : WholeCharacters(text, length, room);
    if (piece == 0) {
      const DWORD held = context->output_length;
      if (STATUS status = RenderFlush(context, 0); status != NOERROR)
        return status;
      if (context->output_length >= held)
        return Fail(context, VELKO_ERR_MEMORY); // nothing was handed on
      continue;
    }
    memcpy(context->output_buffer + context->output_length, text, piece);
    context->output_length += static_cast<DWORD>(piece);
    Terminate(context);
    text += piece;
    length -= piece;
  }
  return NOERROR;
}

bool PointsInto(const html_render_info *context, const char *text) {
  const std::less<const char *> before;
  const char *start = context->output_buffer;
  return start != nullptr && !before(text, start) && before(text, start + context->output_capacity);
}

} // namespace

STATUS SetupRenderOutput(html_render_info *context, char *buffer, DWORD capacity) {
  if (buffer != nullptr) {
    memset(buffer, 0, capacity);
    context->output_buffer = buffer;
    context->output_capacity = capacity;
    context->output_owned = 0;
  } else {
    context->output_buffer =
        static_cast<char *>(VelkoAllocatePtr(context->session, VELKO_HERE, kInitialOutputSize, 1));
    if (context->output_buffer == nullptr)
      return Fail(context, VELKO_ERR_MEMORY);
    context->output_capacity = kInitialOutputSize;
    context->output_owned = 1;
  }
  context->output_length = 0;
  context->output_translated = 0;
  context->output_encoded = 0;
  context->output_wrapped = 0;
  context->write_ptr = context->output_buffer;
  // A caller buffer of no size cannot hold even the NUL.
  if (capacity == 0 && buffer != nullptr)
    return Fail(context, VELKO_ERR_MEMORY);
  return NOERROR;
}

STATUS RenderPutWithRoom(html_render_info *context, const char *text, size_t length) {
  if (context->output_status != NOERROR)
    return context->output_status;
  if (length == 0 || text == nullptr)
    return NOERROR;
  // Text copied from the held text itself is found again by its offset,
  // and the held text must not move to a sink while it is copied.
  const bool inside = PointsInto(context, text);
  const size_t offset = inside ? static_cast<size_t>(text - context->output_buffer) : 0;
  if (!inside && context->output_owned == 0 && context->output_buffer != nullptr &&
      context->output_capacity > 0 && !HasRoom(context, length) && context->output_hold == 0 &&
      RenderHasSink(context, 0))
    return PutInPieces(context, text, length);
  if (STATUS status = MakeRoom(context, length, !inside); status != NOERROR)
    return status;
  if (inside)
    text = context->output_buffer + offset;
  memmove(context->output_buffer + context->output_length, text, length);
  context->output_length += static_cast<DWORD>(length);
  Terminate(context);
  return NOERROR;
}

STATUS RenderGrowTo(html_render_info *context, size_t capacity) {
  if (context->output_status != NOERROR)
    return context->output_status;
  if (capacity <= context->output_capacity)
    return NOERROR;
  return Grow(context, capacity - context->output_length - 1);
}

bool RenderTryGrowTo(html_render_info *context, size_t capacity) {
  if (context->output_status != NOERROR || context->output_owned == 0 ||
      capacity <= context->output_capacity || capacity > kLargestOutput)
    return false;
  return Resize(context, capacity);
}


STATUS RenderPutDecimal(html_render_info *context, long value) {
  // Where the longest number fits behind the held text, as RenderPut would
  // put it there, the digits are written in place rather than copied in.
  constexpr size_t kLongestDecimal = 20; /* a sign and 19 digits */
  if (context->output_status == NOERROR && context->output_capacity > context->output_length &&
      kLongestDecimal < context->output_capacity - context->output_length) {
    char *at = context->output_buffer + context->output_length;
    char *end = std::to_chars(at, at + kLongestDecimal, value).ptr;
    context->output_length += static_cast<DWORD>(end - at);
    *end = '\0';
    context->write_ptr = end;
    return NOERROR;
  }
  char digits[kLongestDecimal];
  const char *end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  return RenderPut(context, digits, static_cast<size_t>(end - digits));
}

STATUS RenderPrintf(html_render_info *context, const char *format, ...) {
  if (context->output_status != NOERROR)
    return context->output_status;
  char small[kFormatBuffer];
  va_list arguments;
  va_start(arguments, format);
  const int length = vsnprintf(small, sizeof small, format, arguments);
  va_end(arguments);
  if (length < 0)
    return context->output_status;
  if (static_cast<size_t>(length) < sizeof small)
    return RenderPut(context, small, static_cast<size_t>(length));
  char *at = RenderReserve(context, static_cast<size_t>(length));
  if (at == nullptr)
    return context->output_status;
  va_start(arguments, format);
  vsnprintf(at, static_cast<size_t>(length) + 1, format, arguments);
  va_end(arguments);
  RenderCommit(context, static_cast<size_t>(length));
  return context->output_status;
}

char *RenderReserve(html_render_info *context, size_t room) {
  if (MakeRoom(context, room, true) != NOERROR)
    return nullptr;
  return context->write_ptr;
}

void RenderCommit(html_render_info *context, size_t written) {
  if (context->output_status != NOERROR || written == 0)
    return;
  context->output_length += static_cast<DWORD>(written);
  Terminate(context);
}

void RenderTruncate(html_render_info *context, DWORD length) {
  if (context->output_buffer == nullptr || length >= context->output_length)
    return;
  context->output_length = length;
  context->output_translated = std::min(context->output_translated, length);
  context->output_encoded = std::min(context->output_encoded, length);
  context->output_wrapped = std::min(context->output_wrapped, length);
  Terminate(context);
}

bool RenderEndsWith(const html_render_info *context, const char *text, bool ignoreCase) {
  const size_t length = strlen(text);
  if (context->output_buffer == nullptr || length > context->output_length)
    return false;
  const char *tail = context->output_buffer + context->output_length - length;
  return ignoreCase ? strncasecmp(tail, text, length) == 0 : memcmp(tail, text, length) == 0;
}

bool RenderHasSink(const html_render_info *context, DWORD final) {
  if (context->out_file != nullptr || MimePartOpen(context))
    return true;
  if (final != 0)
    return false;
  return context->mime_mode != 0 || (context->flags & html_flags::OutputToEvent) != 0;
}

STATUS RenderFlush(html_render_info *context, DWORD final) {
  if (context->output_status != NOERROR)
    return context->output_status;
  if (final == 0 && !RenderHasSink(context, 0))
    return NOERROR;
  STATUS status = ProcessHTMLTranslation(context);
  if (status == NOERROR)
    status = ProcessHTMLEncoding(context);
  if (status == NOERROR)
    status = ProcessHTMLOutput(context, final);
  // The passes keep their failures in output_status; the output fails on
  // any pass that reports one all the same.
  if (status != NOERROR && context->output_status == NOERROR)
    context->output_status = status;
  return context->output_status;
}

/* ---- render_text ---- */

namespace {

/* The text's room made at least `needed` bytes (its own room first, then
 * a tracked block at least twice the old size), its bytes kept. */
STATUS MakeTextRoom(render_text *text, uint64_t needed) {
  if (text->data == nullptr && needed <= kRenderTextRoom) {
    text->data = text->room;
    text->size = kRenderTextRoom;
    text->data[text->length] = '\0';
  }
  if (needed <= text->size)
    return NOERROR;
  if (needed > kLargestOutput)
    return text->status = VELKO_ERR_MEMORY;
  const uint64_t size = std::min(
      kLargestOutput, std::max({needed, uint64_t{text->size} * 2, uint64_t{kRenderTextRoom}}));
  char *bigger = static_cast<char *>(VelkoAllocatePtr(text->session, VELKO_HERE, size, 0));
  if (bigger == nullptr)
    return text->status = VELKO_ERR_MEMORY;
  if (text->data != nullptr) {
    memcpy(bigger, text->data, text->length);
    if (text->data != text->room)
      VelkoDeallocatePtr(text->session, text->data);
  }
  text->data = bigger;
  text->size = static_cast<DWORD>(size);
  text->data[text->length] = '\0';
  return NOERROR;
}

} // namespace

STATUS RenderTextPutWithRoom(render_text *text, const char *bytes, size_t length) {
  if (text->status != NOERROR)
    return text->status;
  if (bytes == nullptr || (length == 0 && text->data != nullptr))
    return NOERROR;
  if (STATUS status = MakeTextRoom(text, uint64_t{text->length} + length + 1); status != NOERROR)
    return status;
  memcpy(text->data + text->length, bytes, length);
  text->length += static_cast<DWORD>(length);
  text->data[text->length] = '\0';
  return NOERROR;
}

STATUS RenderTextPuts(render_text *text, const char *string) {
  return string == nullptr ? text->status : RenderTextPut(text, string, strlen(string));
}

bool RenderTextReserve(render_text *text, size_t more) {
  if (text->status != NOERROR)
    return false;
  return MakeTextRoom(text, uint64_t{text->length} + more + 1) == NOERROR;
}

void RenderTextFree(render_text *text) {
  if (text->data != nullptr && text->data != text->room)
    VelkoDeallocatePtr(text->session, text->data);
  text->data = nullptr;
  text->size = 0;
  text->length = 0;
}

char *RenderTextDetach(render_text *text) {
  if (text->status != NOERROR) {
    RenderTextFree(text);
    return nullptr;
  }
  if (text->data == nullptr || text->data == text->room) {
    char *copy = VelkoAllocatePtrAndCopy(text->session, VELKO_HERE,
                                         text->data != nullptr ? text->data : "", text->length);
    RenderTextFree(text);
    if (copy == nullptr)
      text->status = VELKO_ERR_MEMORY;
    return copy;
  }
  char *data = text->data;
  text->data = nullptr;
  text->size = 0;
  text->length = 0;
  return data;
}

/* ---- colours ---- */

void RenderPaletteColor(WORD index, char out[8]) {
  const DWORD rgb = index < kPaletteColors ? RGB_TABLE[index] : 0;
  snprintf(out, 8, "#%02x%02x%02x", rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

void RenderPaletteRgb(WORD index, char out[20]) {
  const DWORD rgb = index < kPaletteColors ? RGB_TABLE[index] : 0;
  snprintf(out, 20, "rgb(%u,%u,%u)", rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}
