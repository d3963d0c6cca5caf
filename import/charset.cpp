/*
 * Reading imported files, and character sets of imported text: UTF-8 validation and piecewise
 * translation between a host character set, LMBCS and UTF-8.
 */
#include "import/charset.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <memory>

#include "host/nls.h"
#include "store/byte_lanes.h"

namespace {

/* Source bytes translated per call: their output (at most 4 bytes for each
 * source byte) stays within a u16 length. */
constexpr size_t kTranslatePiece = 16000;
constexpr WORD kTranslateRoom = 0xFFF0;
constexpr WORD kRoomSlack = 16;

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

/* Where a piece of at most kTranslatePiece bytes from `at` ends, between
 * two characters of the text's set. */
size_t PieceEnd(std::string_view text, size_t at, WORD csid) {
  if (csid == NLS_CS_LMBCS) {
    size_t end = at;
    while (end < text.size()) {
      const size_t next = LmbcsCharacterLength(text, end);
      if (end + next - at > kTranslatePiece && end > at)
        break;
      end += next;
    }
    return end;
  }
  size_t end = text.size() - at < kTranslatePiece ? text.size() : at + kTranslatePiece;
  if (csid == NLS_CS_UTF8) {
    while (end < text.size() && end > at && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
      --end; // the cut moves back to the start of a character
  }
  return end == at ? at + 1 : end;
}

STATUS Translate(std::string_view text, WORD csid, WORD pieceSet, WORD direction,
                 std::string* out) {
  NLS_PINFO info = nullptr;
  if (NLS_STATUS status = NLS_load_charset(csid, &info); status != NLS_SUCCESS)
    return status;
  STATUS status = NOERROR;
  // A character grows at most fourfold in either direction, so a short
  // text needs no more room than that (most texts are a few words).
  const size_t longest = text.size() < kTranslatePiece ? text.size() : kTranslatePiece;
  const WORD roomSize =
      longest < (kTranslateRoom - kRoomSlack) / 4 ? static_cast<WORD>(4 * longest + kRoomSlack)
                                                 : kTranslateRoom;
  std::string room(roomSize, '\0');
  for (size_t at = 0; at < text.size() && status == NOERROR;) {
    const size_t end = PieceEnd(text, at, pieceSet);
    WORD written = roomSize;
    status = NLS_translate(reinterpret_cast<const BYTE*>(text.data() + at),
                           static_cast<WORD>(end - at), reinterpret_cast<BYTE*>(room.data()),
                           &written, NLS_NONULLTERMINATE | direction, info);
    out->append(room.data(), written);
    at = end;
  }
  NLS_unload_charset(info);
  return status;
}

/* True when every byte is one that UTF-8 and LMBCS write alike: NUL, TAB,
 * LF, CR and printable ASCII. Most imported text is such, and is then
 * copied as it is instead of through the host's translation. */
bool SameByte(unsigned char byte) {
  return byte < 0x80 && (byte >= 0x20 || byte == 0 || byte == '\t' || byte == '\n' || byte == '\r');
}

/* Whether the sixteen bytes at `bytes` are all printable ASCII: as signed
 * bytes, none lies below 0x20 (bytes above 0x7F are negative). */
bool PrintableBlock(const char* bytes) {
  typedef signed char signed_block __attribute__((vector_size(16)));
  signed_block block;
  memcpy(&block, bytes, sizeof block);
  const signed_block below = block < signed_block{} + 0x20;
  return LaneBits(reinterpret_cast<const lane_block&>(below)) == 0;
}

/* Whether every byte of text[from, to) is one SameByte takes. */
bool SameBytes(std::string_view text, size_t from, size_t to) {
  for (size_t at = from; at < to; ++at) {
    if (!SameByte(static_cast<unsigned char>(text[at])))
      return false;
  }
  return true;
}

bool SameInUtf8AndLmbcs(std::string_view text) {
  // Sixteen bytes at a time while all are printable ASCII, the last ones
  // in a block that ends with the text; a block that holds another byte
  // is tested one by one. Texts shorter than a block go eight bytes at a
  // time (none with its high bit, none below 0x20).
  const size_t size = text.size();
  if (size >= 16) {
    size_t at = 0;
    for (; at + 16 <= size; at += 16) {
      if (!PrintableBlock(text.data() + at) && !SameBytes(text, at, at + 16))
        return false;
    }
    return at == size || PrintableBlock(text.data() + size - 16) || SameBytes(text, at, size);
  }
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  constexpr uint64_t kSpaces = 0x2020202020202020ull;
  size_t at = 0;
  for (; at + sizeof(uint64_t) <= size; at += sizeof(uint64_t)) {
    uint64_t word;
    memcpy(&word, text.data() + at, sizeof word);
    if ((word & kHigh) == 0 && ((word - kSpaces) & ~word & kHigh) == 0)
      continue;
    if (!SameBytes(text, at, at + sizeof word))
      return false;
  }
  return SameBytes(text, at, size);
}

} // namespace

bool IsUtf8(std::string_view text, bool nonAscii) {
  bool beyondAscii = false;
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
      beyondAscii = true;
    }
    at += length;
  }
  return beyondAscii || !nonAscii;
}

bool Utf8IsLmbcs(std::string_view utf8) { return SameInUtf8AndLmbcs(utf8); }

STATUS TranslateToLmbcs(std::string_view text, WORD csid, std::string* lmbcs) {
  if (csid == NLS_CS_LMBCS || (csid == NLS_CS_UTF8 && SameInUtf8AndLmbcs(text))) {
    lmbcs->append(text);
    return NOERROR;
  }
  return Translate(text, csid, csid, NLS_TARGETISLMBCS, lmbcs);
}

STATUS TranslateLmbcsToUtf8(std::string_view lmbcs, std::string* utf8) {
  if (SameInUtf8AndLmbcs(lmbcs)) {
    utf8->append(lmbcs);
    return NOERROR;
  }
  return Translate(lmbcs, NLS_CS_UTF8, NLS_CS_LMBCS, NLS_SOURCEISLMBCS, utf8);
}

size_t LmbcsCharacterLength(std::string_view text, size_t at) {
  // Only bytes below 0x20 lead characters of more than one byte; the text
  // runs that are cut by this are mostly of single bytes.
  if (static_cast<unsigned char>(text[at]) >= 0x20)
    return 1;
  WORD length = 1;
  NLS_string_bytes(reinterpret_cast<const BYTE*>(text.data() + at), 1, &length, nullptr);
  const size_t left = text.size() - at;
  return length == 0 ? 1 : length < left ? length : left;
}

bool ReadWholeFile(const char* path, std::string* content) {
  const std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(path, "rb"), fclose);
  if (file == nullptr)
    return false;
  char piece[8192];
  size_t got = 0;
  while ((got = fread(piece, 1, sizeof piece, file.get())) > 0)
    content->append(piece, got);
  return ferror(file.get()) == 0;
}
