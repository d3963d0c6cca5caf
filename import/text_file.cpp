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
#include "host/cdrecords.h"
#include "host/nls.h"
#include "store/emitter.h"
#include "store/messages.h"
#include "store/rtitem_internal.h"
#include "store/tracked_memory.h"

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
/* UTF-8 bytes translated per call: their LMBCS (at most 3 bytes for each
 * UTF-16 unit, 6 for a 4-byte character) stays within a u16 length. */
constexpr size_t kTranslatePiece = 16000;
constexpr WORD kTranslateRoom = 0xFFF0;

bool ReadFile(const char* path, std::string* content) {
  const std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(path, "rb"), fclose);
  if (file == nullptr)
    return false;
  char piece[8192];
  size_t got = 0;
  while ((got = fread(piece, 1, sizeof piece, file.get())) > 0)
    content->append(piece, got);
  return ferror(file.get()) == 0;
}

/* The length of the UTF-8 sequence its lead byte starts, 0 for a byte that
 * starts none. */
size_t Utf8SequenceLength(unsigned char lead) {
  if (lead < 0x80)
    return 1;
  if (lead >= 0xC2 && lead <= 0xDF)
    return 2;
  if (lead >= 0xE0 && lead <= 0xEF)
    return 3;
  if (lead >= 0xF0 && lead <= 0xF4)
    return 4;
  return 0;
}

/* True for well-formed UTF-8 (no overlong forms, surrogates or code points
 * above U+10FFFF) holding at least one byte above 0x7F. */
bool IsUtf8WithNonAscii(std::string_view text) {
  bool nonAscii = false;
  for (size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const size_t length = Utf8SequenceLength(lead);
    if (length == 0 || text.size() - at < length)
      return false;
    for (size_t i = 1; i < length; ++i) {
      if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80)
        return false;
    }
    if (length > 1) {
      const auto second = static_cast<unsigned char>(text[at + 1]);
      if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
          (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
        return false;
      nonAscii = true;
    }
    at += length;
  }
  return nonAscii;
}

/* The UTF-8 text as LMBCS, translated in pieces cut between characters. */
STATUS TranslateUtf8(std::string_view utf8, std::string* lmbcs) {
  NLS_PINFO info = nullptr;
  if (NLS_STATUS status = NLS_load_charset(NLS_CS_UTF8, &info); status != NLS_SUCCESS)
    return status;
  STATUS status = NOERROR;
  std::string out(kTranslateRoom, '\0');
  for (size_t at = 0; at < utf8.size() && status == NOERROR;) {
    size_t piece = utf8.size() - at < kTranslatePiece ? utf8.size() - at : kTranslatePiece;
    while (at + piece < utf8.size() &&
           (static_cast<unsigned char>(utf8[at + piece]) & 0xC0) == 0x80)
      --piece; // the cut moves back to the start of a character
    WORD written = kTranslateRoom;
    status = NLS_translate(reinterpret_cast<const BYTE*>(utf8.data() + at),
                           static_cast<WORD>(piece), reinterpret_cast<BYTE*>(out.data()), &written,
                           NLS_NONULLTERMINATE | NLS_TARGETISLMBCS, info);
    lmbcs->append(out.data(), written);
    at += piece;
  }
  NLS_unload_charset(info);
  return status;
}

/* The byte length of the LMBCS character at `at` (a character cut short by
 * the end of the text ends there). */
size_t CharacterLength(std::string_view text, size_t at) {
  WORD length = 1;
  NLS_string_bytes(reinterpret_cast<const BYTE*>(text.data() + at), 1, &length, nullptr);
  const size_t left = text.size() - at;
  return length == 0 ? 1 : length < left ? length : left;
}

/* Where the line from `at` ends: its CR or LF (a byte of a character of
 * several bytes is none), else the end of the text. */
size_t LineEnd(std::string_view text, size_t at) {
  while (at < text.size() && text[at] != '\r' && text[at] != '\n')
    at += CharacterLength(text, at);
  return at < text.size() ? at : text.size();
}

/* The bytes of the longest run of whole characters from the start of the
 * line that fits in limit bytes; one whole character when the first alone
 * is longer. */
size_t PieceLength(std::string_view line, WORD limit) {
  size_t length = CharacterLength(line, 0);
  while (length < line.size()) {
    const size_t next = CharacterLength(line, length);
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
  if (!ReadFile(path, &content))
    return VELKO_ERR_NO_INPUT;
  std::string_view text = content;
  const bool marked = text.substr(0, kUtf8Mark.size()) == kUtf8Mark;
  if (marked)
    text.remove_prefix(kUtf8Mark.size());
  std::string lmbcs;
  if (marked || IsUtf8WithNonAscii(text)) {
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
