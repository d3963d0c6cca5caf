/*
 * GenerateCDRecordsFromTextFile: a text file appended as paragraphs of
 * plain text in the item's default font. Each line of the file (ended by
 * CR, LF or CR LF) is cut into pieces of at most the line length in bytes,
 * never inside a character; each piece becomes one CDTEXT, and a
 * CDPARAGRAPH with a CDPABREFERENCE (id 0: the current definition) goes
 * between pieces. An empty line gives an empty CDTEXT; the line end that
 * ends the file starts no further paragraph.
 *
 * A file in UTF-8 (with its byte-order mark, or valid UTF-8 holding a
 * byte above 0x7F) is translated to LMBCS; any other file is taken as
 * LMBCS as it is.
 *
 * Not here: choosing this import for a file (the engine's file import).
 */
#include <stdio.h>
#include <string.h>

#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "engine/process_state.h"
#include "engine/services.h"
#include "import/charset.h"
#include "host/cdrecords.h"
#include "host/nls.h"
#include "store/emitter.h"
#include "store/messages.h"
#include "store/rtitem_internal.h"
#include "store/tracked_memory.h"

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
/* Where the line from `at` ends: its CR or LF (a byte of a character of
 * several bytes is none), else the end of the text. */
size_t LineEnd(std::string_view text, size_t at) {
  while (at < text.size() && text[at] != '\r' && text[at] != '\n')
    at += LmbcsCharacterLength(text, at);
  return at < text.size() ? at : text.size();
}

/* The bytes of the longest run of whole characters from the start of the
 * line that fits in limit bytes; one whole character when the first alone
 * is longer. */
size_t PieceLength(std::string_view line, WORD limit) {
  size_t length = LmbcsCharacterLength(line, 0);
  while (length < line.size()) {
    const size_t next = LmbcsCharacterLength(line, length);
    if (length + next > limit)
      break;
    length += next;
  }
  return length;
}

struct text_emitter {
  chunk_process_state* state;
  bool first = true;

  STATUS Line(std::string_view text) {
    if (!first) {
      const CDPARAGRAPH paragraph = {{static_cast<BYTE>(SIG_CD_PARAGRAPH), sizeof(CDPARAGRAPH)}};
      if (STATUS status =
              CopyCDUpdated(&paragraph, SIG_CD_PARAGRAPH, sizeof paragraph, &state->gen);
          status != NOERROR)
        return status;
      CDPABREFERENCE reference = {};
      reference.Header.Signature = static_cast<BYTE>(SIG_CD_PABREFERENCE);
      reference.Header.Length = sizeof reference;
      if (STATUS status =
              CopyCDUpdated(&reference, SIG_CD_PABREFERENCE, sizeof reference, &state->gen);
          status != NOERROR)
        return status;
    }
    first = false;
    return GenerateCDText(text.data(), static_cast<int>(text.size()),
                          StateItem(state)->internal->default_text_header, &state->gen);
  }
};

/* Every line of the text, each cut into pieces of at most lineLength bytes. */
STATUS EmitLines(std::string_view text, WORD lineLength, chunk_process_state* state) {
  text_emitter emitter{state};
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = LineEnd(text, at);
    std::string_view line = text.substr(at, end - at);
    do {
      const size_t piece = line.empty() ? 0 : PieceLength(line, lineLength);
      if (STATUS status = emitter.Line(line.substr(0, piece)); status != NOERROR)
        return status;
      line.remove_prefix(piece);
    } while (!line.empty());
    at = end + 1; // past CR or LF (or the end of the text)
    if (end < text.size() && text[end] == '\r' && at < text.size() && text[at] == '\n')
      ++at;
  }
  return NOERROR;
}

STATUS ImportText(const char* path, WORD lineLength, chunk_process_state* state) {
  std::string content;
  if (!ReadWholeFile(path, &content))
    return VELKO_ERR_NO_INPUT;
  std::string_view text = content;
  const bool marked = text.substr(0, kUtf8Mark.size()) == kUtf8Mark;
  if (marked)
    text.remove_prefix(kUtf8Mark.size());
  std::string lmbcs;
  if (marked || IsUtf8(text, true)) {
    if (STATUS status = TranslateUtf8(text, &lmbcs); status != NOERROR)
      return status;
    text = lmbcs;
  }
  return EmitLines(text, lineLength, state);
}

} // namespace

STATUS GenerateCDRecordsFromTextFile(const char* path, WORD lineLength,
                                     chunk_process_state* state) {
  if (state == nullptr || StateItem(state) == nullptr || lineLength == 0)
    return VELKO_ERR_BAD_ARGUMENT;
  if (path == nullptr)
    return VELKO_ERR_NO_INPUT;
  try {
    return ImportText(path, lineLength, state);
  } catch (const std::bad_alloc&) {
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
}
