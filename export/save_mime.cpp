/*
 * Saving an item as a MIME message. The item is rendered whole through
 * GenerateHTMLToMime in MIME mode without a file: the renderer writes a
 * fragment with inline styles and cid: graphics, the text it hands on
 * while it runs is taken in memory (where GenerateHTMLToMime would write
 * a part file and attach it to the note), and the rest stays in the
 * export's buffer. The HTML is that text followed by the buffer's.
 *
 * The message is built with GMime:
 *   multipart/related; type="text/html"
 *     text/html; charset=<the output's set>, quoted-printable as the
 *       renderer encoded it (the options ask for it unless they name a
 *       transfer encoding of their own; then GMime encodes the text)
 *     one part for each image the HTML names by cid:, under that
 *       Content-ID: the image data of the graphic whose item number and
 *       offset the id carries
 *     one part for each image resource the renderer reported naming and
 *       the HTML names by cid:, read from the item's database, under the
 *       id with the HTML's escapes decoded
 *     one part for each link, section or tab icon the HTML names by its
 *       default cid: (a built-in GIF)
 *   and, when the options render attachments by name, a multipart/mixed
 *   around it with one attachment part per file of the item's file
 *   hotspots.
 * A cid: that names nothing the item holds (a resource the database
 * lacks) gets no part.
 *
 * The message is built whole in memory before a byte of it is written.
 */
#include <ctype.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "export/attachment_names.h"
#include "export/gmime_support.h"
#include "export/item_export.h"
#include "host/cdrecords.h"
#include "host/nls.h"
#include "host/nsfnote.h"
#include "render/render_info.h"
#include "store/body.h"
#include "store/byte_lanes.h"
#include "store/charset_names.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "velko/property_string.h"
#include "velko/status.h"

namespace {

constexpr size_t kOptionValueSize = VELKO_SCRATCH_TEXT_SIZE;
constexpr WORD kDefaultCharset = NLS_CS_ISO88591;

/* ---- GMime ---- */

/* A leaf part of the type holding the bytes (already encoded as `held`
 * says, else to be encoded), written with the transfer encoding. The
 * caller owns the part. */
GMimePart* NewPart(const char* type, const char* subtype, std::string_view bytes,
                   GMimeContentEncoding held, GMimeContentEncoding transfer) {
  GMimePart* part = g_mime_part_new_with_type(type, subtype);
  object_ref<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
  object_ref<GMimeDataWrapper> content(g_mime_data_wrapper_new_with_stream(stream.get(), held));
  g_mime_part_set_content(part, content.get());
  g_mime_part_set_content_encoding(part, transfer);
  return part;
}

/* As NewPart, for bytes the part takes over: they are not copied. */
GMimePart* NewPartTaking(const char* type, const char* subtype, GByteArray* bytes,
                         GMimeContentEncoding held, GMimeContentEncoding transfer) {
  GMimePart* part = g_mime_part_new_with_type(type, subtype);
  object_ref<GMimeStream> stream(g_mime_stream_mem_new_with_byte_array(bytes));
  object_ref<GMimeDataWrapper> content(g_mime_data_wrapper_new_with_stream(stream.get(), held));
  g_mime_part_set_content(part, content.get());
  g_mime_part_set_content_encoding(part, transfer);
  return part;
}

/* ---- what the options say ---- */

/* The MIME name of the output's character set (CharsetNum=, Charset=,
 * else ISO-8859-1, as the renderer reads them). Every set the renderer
 * writes bytes of (one the host translates to that keeps ASCII) has its
 * name here, the multi-byte ones too; the renderer writes any other set
 * only as ASCII and numeric references, which UTF-8 labels truly. */
const char* CharsetName(const char* options) {
  char value[kOptionValueSize] = {};
  WORD csid = kDefaultCharset;
  if (options != nullptr && ExtractProperty(options, "CharsetNum=", value, sizeof value) != 0) {
    const long number = strtol(value, nullptr, 10);
    csid = number > 0 && number <= 0xFFFF ? static_cast<WORD>(number) : kDefaultCharset;
  } else if (options != nullptr && ExtractProperty(options, "Charset=", value, sizeof value) != 0) {
    csid = CSIDFromString(value, kDefaultCharset);
  }
  static constexpr struct {
    WORD csid;
    const char* name;
  } kNames[] = {
      {31, "US-ASCII"},      {32, "ISO-8859-1"},    {33, "ISO-8859-2"},    {34, "ISO-8859-3"},
      {35, "ISO-8859-4"},    {36, "ISO-8859-5"},    {37, "ISO-8859-6"},    {38, "ISO-8859-7"},
      {39, "ISO-8859-8"},    {40, "ISO-8859-9"},    {80, "windows-1250"},  {81, "windows-1251"},
      {82, "windows-1252"},  {144, "TIS-620"},      {171, "UTF-8"},        {3308, "KOI8-R"},
      {3310, "windows-1258"}, {3311, "ISO-8859-10"}, {23, "EUC-JP"},       {26, "Big5"},
      {27, "GB2312"},        {3276, "ISO-2022-JP"}, {3301, "EUC-JP"},      {3302, "x-EUC-TW"},
      {3303, "EUC-KR"},      {3304, "GB2312"},      {3356, "ISO-8859-8-I"}, {3357, "ISO-8859-8-E"},
      {3072, "x-IBM856"},    {3306, "x-IBM921"},    {3307, "x-IBM922"},    {3309, "x-IBM720"},
  };
  for (const auto& entry : kNames) {
    if (entry.csid == csid)
      return entry.name;
  }
  return "UTF-8";
}

/* The options the renderer is given: the caller's, and, unless they name
 * a transfer encoding, quoted-printable, so that the renderer encodes the
 * HTML itself (every CR and LF of it as an escape, lines wrapped with
 * soft breaks) and the part carries its bytes exactly. */
std::string RenderingOptions(const char* options) {
  std::string rendering = options != nullptr ? options : "";
  char value[kOptionValueSize] = {};
  if (ExtractProperty(rendering.c_str(), "ContentTransferEncoding=", value, sizeof value) == 0)
    rendering += rendering.empty() ? "ContentTransferEncoding=quoted-printable"
                                   : " ContentTransferEncoding=quoted-printable";
  return rendering;
}

/* Whether the renderer encodes its output quoted-printable itself
 * (ContentTransferEncoding=quoted-printable). */
bool RenderedQuotedPrintable(const char* options) {
  char value[kOptionValueSize] = {};
  return options != nullptr && ExtractPropertyDWFlags(options, "ContentTransferEncoding=", value,
                                                      sizeof value, 1, 0, "quoted-printable",
                                                      nullptr) != 0;
}

/* Whether the renderer shows attachments by name (AttachmentHandling=
 * holding NAME, and neither IGNORE nor DISK) and does not suppress them. */
bool AttachmentsByName(const char* options) {
  char value[kOptionValueSize] = {};
  if (options == nullptr ||
      ExtractProperty(options, "AttachmentHandling=", value, sizeof value) == 0)
    return false;
  for (char* at = value; *at != '\0'; ++at)
    *at = static_cast<char>(toupper(static_cast<unsigned char>(*at)));
  if (strstr(value, "IGNORE") != nullptr || strstr(value, "DISK") != nullptr ||
      strstr(value, "NAME") == nullptr)
    return false;
  return ExtractPropertyDWFlagsBOOL(options, "SuppressAttachments=", value, sizeof value, 1, 0) ==
         0;
}

/* ---- the content ids of the HTML ---- */

bool EndsContentID(char c) {
  return c == '"' || c == '\'' || c == '>' || c == ')' || c == ' ' || c == '\t' || c == '\r' ||
         c == '\n' || c == '\0';
}

/* Every distinct id named, in order of first use; a set of those met
 * tells a new one, so thousands of ids are not each compared with every
 * earlier one. */
class distinct_ids {
public:
  void Add(std::string_view id) {
    if (id.empty() || !met_.emplace(id).second)
      return;
    ids_.emplace_back(id);
  }
  std::vector<std::string>& ids() { return ids_; }

private:
  std::unordered_set<std::string> met_;
  std::vector<std::string> ids_;
};

/* Gathers the ids named after "cid:" in text handed on in pieces: an id
 * that a piece's end cuts is finished by the pieces after it, and a
 * "cid:" that it cuts is found once the piece's last bytes are handed on
 * again at the start of the next piece. */
class content_id_scan {
public:
  /* Reads the next piece (with last, the text ends with it); returns how
   * many of its last bytes the next piece must start with. */
  size_t Feed(std::string_view text, bool last) {
    size_t at = 0;
    if (open_) {
      const size_t end = IDEnd(text, 0);
      id_.append(text.substr(0, end));
      if (end == text.size() && !last)
        return 0;
      ids_.Add(id_);
      open_ = false;
      at = end;
    }
    for (;;) {
      const size_t found = FindPrefix(text, at);
      if (found == std::string_view::npos)
        return last ? 0 : std::min(text.size() - at, kPrefix.size() - 1);
      const size_t start = found + kPrefix.size();
      const size_t end = IDEnd(text, start);
      if (end == text.size() && !last) {
        open_ = true;
        id_.assign(text.substr(start));
        return 0;
      }
      ids_.Add(text.substr(start, end - start));
      at = end;
    }
  }
  /* Every distinct id, in order of first use. */
  std::vector<std::string>& ids() { return ids_.ids(); }

private:
  static constexpr std::string_view kPrefix = "cid:";

  /* As text.find(kPrefix, at), looking for the colon: rarer in HTML than
   * the first letter. */
  static size_t FindPrefix(std::string_view text, size_t at) {
    constexpr size_t kColon = kPrefix.size() - 1;
    for (size_t colon = at + kColon; colon < text.size(); ++colon) {
      const void* found = memchr(text.data() + colon, ':', text.size() - colon);
      if (found == nullptr)
        break;
      colon = static_cast<size_t>(static_cast<const char*>(found) - text.data());
      if (text.compare(colon - kColon, kColon, kPrefix.substr(0, kColon)) == 0)
        return colon - kColon;
    }
    return std::string_view::npos;
  }

  static size_t IDEnd(std::string_view text, size_t at) {
    while (at < text.size() && !EndsContentID(text[at]))
      ++at;
    return at;
  }

  bool open_ = false;
  std::string id_;
  distinct_ids ids_;
};

/* Every distinct id the HTML names after "cid:", in order of first use. */
std::vector<std::string> ContentIDs(std::string_view html) {
  content_id_scan scan;
  scan.Feed(html, true);
  return std::move(scan.ids());
}

/* What an image's id carries: "_K_NNNNNNOOOOOO" and 16 hex digits of the
 * note's UNID, K 2 for a JPEG, else 1; N the item number in decimal, O the
 * offset word in hexadecimal. */
struct image_id {
  WORD kind = 0;
  DWORD item_number = 0;
  DWORD offset = 0;
};

bool AllOf(std::string_view text, const char* digits) {
  return !text.empty() && text.find_first_not_of(digits) == std::string_view::npos;
}

bool ParseImageID(std::string_view id, image_id* image) {
  constexpr size_t kLength = 3 + 6 + 6 + 16;
  if (id.size() != kLength || id[0] != '_' || (id[1] != '1' && id[1] != '2') || id[2] != '_')
    return false;
  const std::string_view number = id.substr(3, 6);
  const std::string_view offset = id.substr(9, 6);
  if (!AllOf(number, "0123456789") || !AllOf(offset, "0123456789ABCDEF") ||
      !AllOf(id.substr(15), "0123456789ABCDEF"))
    return false;
  image->kind = static_cast<WORD>(id[1] - '0');
  image->item_number = static_cast<DWORD>(strtoul(std::string(number).c_str(), nullptr, 10));
  image->offset = static_cast<DWORD>(strtoul(std::string(offset).c_str(), nullptr, 16));
  return true;
}

/* The graphic records of the body by where they lie (item number, offset
 * word), made once for all the ids of a message. */
class graphic_places {
public:
  explicit graphic_places(const body_context* body) {
    for (const record_storage* node = body != nullptr ? body->records : nullptr; node != nullptr;
         node = node->next) {
      if (node->signature != SIG_CD_GRAPHIC)
        continue;
      if (const auto* side = static_cast<const position_side_data*>(node->SideData()))
        places_.emplace(Key(side->item_number, side->offset), node);
    }
  }
  /* The graphic that lies where the id says, or null. */
  const record_storage* Find(const image_id& image) const {
    const auto found = places_.find(Key(image.item_number, image.offset));
    return found != places_.end() ? found->second : nullptr;
  }

private:
  static uint64_t Key(DWORD itemNumber, DWORD offset) {
    return uint64_t{itemNumber} << 32 | offset;
  }
  std::map<uint64_t, const record_storage*> places_;
};

/* ---- built-in icons ---- */

/* The default cid: ids of the link icons, in the order of the renderer's
 * link-graphic-used words, and of the section and tab icons. */
constexpr const char* kLinkIconIDs[kLinkGraphics] = {"_a_dblink", "_a_viewlink", "_a_doclink",
                                                     "_an_anchorlink"};
constexpr const char* kOtherIconIDs[] = {"_a_collapse", "_a_tabletab"};

/* A 16 x 16 picture of two colours, '#' the dark one. */
constexpr const char* kIconRows[16] = {
    "................", "..#########.....", "..#.......##....", "..#.......#.#...",
    "..#.......####..", "..#..........#..", "..#..######..#..", "..#..........#..",
    "..#..#####...#..", "..#..........#..", "..#..#######.#..", "..#..........#..",
    "..#..####....#..", "..#..........#..", "..############..", "................",
};

/* Packs codes of `width` bits, least significant bit first. */
class bit_packer {
public:
  void Put(unsigned code, int width) {
    for (int bit = 0; bit < width; ++bit) {
      if (used_ == 0)
        bytes_.push_back(0);
      if ((code >> bit) & 1u)
        bytes_.back() = static_cast<char>(bytes_.back() | (1 << used_));
      used_ = (used_ + 1) % 8;
    }
  }
  const std::string& bytes() const { return bytes_; }

private:
  std::string bytes_;
  int used_ = 0;
};

/* The icon as a GIF89a. The picture data is LZW that never compresses:
 * a clear code before every two pixels keeps the table from growing past
 * the first free code, so that every code stays 3 bits wide. */
std::string IconGif() {
  constexpr unsigned kClear = 4;
  constexpr unsigned kEnd = 5;
  constexpr int kCodeWidth = 3;
  std::string gif("GIF89a\x10\x00\x10\x00\x81\x00\x00", 13);
  // Four colours (the table's smallest size with code size 2): white, a
  // dark blue, and two unused.
  gif.append("\xFF\xFF\xFF\x1F\x3A\x93\x00\x00\x00\x00\x00\x00", 12);
  gif.append("\x2C\x00\x00\x00\x00\x10\x00\x10\x00\x00\x02", 11);
  bit_packer codes;
  int pixel = 0;
  for (const char* row : kIconRows) {
    for (int x = 0; x < 16; ++x, ++pixel) {
      if (pixel % 2 == 0)
        codes.Put(kClear, kCodeWidth);
      codes.Put(row[x] == '#' ? 1u : 0u, kCodeWidth);
    }
  }
  codes.Put(kEnd, kCodeWidth);
  const std::string& data = codes.bytes();
  for (size_t at = 0; at < data.size(); at += 255) {
    const size_t block = std::min<size_t>(255, data.size() - at);
    gif.push_back(static_cast<char>(block));
    gif.append(data, at, block);
  }
  gif.push_back('\0');
  gif.push_back(';');
  return gif;
}

/* ---- what the encoded HTML holds, read as it is handed on ---- */

typedef lane_block byte_block;

/* Whether each line end from `from` on before `to` is one of a CR LF
 * (the bytes around the range looked at as they need): each byte is an
 * LF exactly when the byte before it is a CR. Sixteen places at a time
 * (the compiler's vector extension) against the sixteen bytes one place
 * back, the differences gathered and tested once; the rest one by one. */
bool LineEndsPaired(std::string_view text, size_t from, size_t to) {
  if (from >= to)
    return true;
  const char* bytes = text.data();
  if (from == 0 && bytes[0] == '\n')
    return false;
  // The CR before `to` wants the byte at `to` (a CR before `from` was
  // left for this range by the one before).
  if (bytes[to - 1] == '\r' && (to >= text.size() || bytes[to] != '\n'))
    return false;
  constexpr size_t kBlock = sizeof(byte_block);
  size_t at = std::max<size_t>(from, 1);
  byte_block differ = {};
  for (; at + kBlock <= to; at += kBlock) {
    byte_block block;
    byte_block before;
    memcpy(&block, bytes + at, sizeof block);
    memcpy(&before, bytes + at - 1, sizeof before);
    differ |= reinterpret_cast<byte_block>((block == '\n') ^ (before == '\r'));
  }
  if (LaneBits(differ) != 0)
    return false;
  for (; at < to; ++at) {
    if ((bytes[at] == '\n') != (bytes[at - 1] == '\r'))
      return false;
  }
  return true;
}

int UpperHexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

/* Reads the decoded characters of quoted-printable text around a place,
 * where every "=" before the place was found to begin an escape of two
 * upper-case hex digits or a soft break "=\r\n", so that the text reads
 * the same backwards as forwards. */
class encoded_text {
public:
  explicit encoded_text(std::string_view text) : text_(text) {}

  /* The decoded character that ends just before *at, moving *at to its
   * start; false at the text's start. */
  bool Previous(size_t* at, char* c) const {
    size_t end = *at;
    while (end >= 3 && text_.compare(end - 3, 3, "=\r\n") == 0)
      end -= 3;
    if (end == 0)
      return false;
    if (end >= 3 && text_[end - 3] == '=') {
      *c = static_cast<char>(UpperHexValue(text_[end - 2]) << 4 | UpperHexValue(text_[end - 1]));
      *at = end - 3;
    } else {
      *c = text_[end - 1];
      *at = end - 1;
    }
    return true;
  }

  /* The decoded character that starts at or after *at (after any soft
   * breaks), moving *at past it: 1; 0 at the text's end; -1 at an "=" that
   * begins neither an escape nor a soft break. */
  int Next(size_t* at, char* c) const {
    size_t from = *at;
    while (text_.compare(from, 3, "=\r\n") == 0)
      from += 3;
    if (from >= text_.size())
      return 0;
    if (text_[from] != '=') {
      *c = text_[from];
      *at = from + 1;
      return 1;
    }
    const int high = from + 2 < text_.size() ? UpperHexValue(text_[from + 1]) : -1;
    const int low = high >= 0 ? UpperHexValue(text_[from + 2]) : -1;
    if (low < 0)
      return -1;
    *c = static_cast<char>(high << 4 | low);
    *at = from + 3;
    return 1;
  }

private:
  std::string_view text_;
};

/* The first place from `from` on that holds "=" or ":", else the text's
 * end; an "=" that the text shows to begin a soft break "=\r\n" may be
 * stepped over, as the reader steps over it. Sixty-four places at a time
 * as bits (the compiler's vector extension), the two bytes after each
 * "=" among them looked at one by one (most are soft breaks, about one a
 * line); then one by one, stopping at every "=". */
size_t NextMarkOrColon(std::string_view text, size_t from) {
  constexpr size_t kBlock = sizeof(byte_block);
  const char* bytes = text.data();
  for (; from + 4 * kBlock <= text.size(); from += 4 * kBlock) {
    uint64_t marks = 0;
    for (int k = 0; k < 4; ++k) {
      byte_block block;
      memcpy(&block, bytes + from + k * kBlock, sizeof block);
      marks |= uint64_t{LaneBits(reinterpret_cast<byte_block>((block == '=') | (block == ':')))}
               << (k * kBlock);
    }
    for (; marks != 0; marks &= marks - 1) {
      const size_t at = from + static_cast<size_t>(__builtin_ctzll(marks));
      if (bytes[at] == ':' || at + 2 >= text.size() || bytes[at + 1] != '\r' ||
          bytes[at + 2] != '\n')
        return at;
    }
  }
  while (from < text.size() && text[from] != '=' && text[from] != ':')
    ++from;
  return from;
}

/* Finds the ids of well-formed quoted-printable text at its colons, as
 * the text grows: each Read is given the whole text so far and goes on
 * where the last stopped; what the text's end leaves open (an escape or
 * an id it cuts) waits for the next, until the text is complete. */
class content_id_reader {
public:
  /* Reads the text (last: it is complete). */
  void Read(std::string_view encoded, bool last) {
    const encoded_text text(encoded);
    for (size_t at = NextMarkOrColon(encoded, next_); !failed_ && at < encoded.size();
         at = NextMarkOrColon(encoded, at)) {
      // Where to go on when the text's end leaves this place open.
      next_ = at;
      const size_t colon = at;
      size_t after = at + 1;
      if (encoded[at] == '=') {
        if (encoded.compare(at, 3, "=\r\n") == 0) {
          at += 3;
          continue;
        }
        char c = 0;
        after = at;
        if (const int read = text.Next(&after, &c); read != 1) {
          failed_ = last;
          return;
        }
        at = after;
        if (c != ':')
          continue;
      } else {
        at = after;
      }
      if (colon < id_end_ || !AfterPrefix(text, colon))
        continue;
      std::string id;
      size_t end = after;
      for (;;) {
        size_t next = end;
        char c = 0;
        const int read = text.Next(&next, &c);
        if (read < 0 || (read == 0 && !last)) {
          failed_ = read < 0 && last;
          return;
        }
        if (read == 0 || EndsContentID(c))
          break;
        id.push_back(c);
        end = next;
      }
      id_end_ = end;
      ids_.Add(id);
    }
    next_ = encoded.size();
  }

  /* The ids, in order of first use; nothing when the text was not
   * well-formed. */
  std::optional<std::vector<std::string>> Take() {
    if (failed_)
      return std::nullopt;
    return std::move(ids_.ids());
  }

private:
  /* Whether "cid" comes just before the colon. */
  static bool AfterPrefix(const encoded_text& text, size_t colon) {
    size_t back = colon;
    for (const char expected : {'d', 'i', 'c'}) {
      char c = 0;
      if (!text.Previous(&back, &c) || c != expected)
        return false;
    }
    return true;
  }

  size_t next_ = 0;
  size_t id_end_ = 0; // colons before it belong to the last id
  bool failed_ = false;
  distinct_ids ids_;
};

/* Reads the line ends and the ids of the HTML as it grows: each Read is
 * given the whole HTML so far. */
class html_reader {
public:
  void Read(std::string_view html, bool last) {
    // A CR at the end waits for the byte after it.
    const size_t to = last || html.empty() ? html.size() : html.size() - 1;
    crlf_ = crlf_ && LineEndsPaired(html, checked_, to);
    checked_ = to;
    ids_.Read(html, last);
  }
  encoded_html_reading Take() { return {crlf_, ids_.Take()}; }

private:
  bool crlf_ = true;
  size_t checked_ = 0;
  content_id_reader ids_;
};

/* ---- the parts ---- */

struct message_parts {
  GByteArray* html = nullptr; /* owned until a part takes it */
  encoded_html_reading read; /* of the HTML, as it came */
  /* The image resources the renderer named: the name of the resource
   * under the id as the HTML holds it; the first name an id was given. */
  std::map<std::string, std::string, std::less<>> resources;
  bool resources_lost = false; /* memory ran out keeping one */
  std::vector<GMimeObject*> related; /* owned; after the HTML */
  std::vector<GMimeObject*> attachments;
  message_parts() = default;
  message_parts(const message_parts&) = delete;
  message_parts& operator=(const message_parts&) = delete;
  ~message_parts() {
    if (html != nullptr)
      g_byte_array_unref(html);
    for (GMimeObject* part : related)
      g_object_unref(part);
    for (GMimeObject* part : attachments)
      g_object_unref(part);
  }
};

void AddInlinePart(message_parts* parts, const char* subtype, const std::string& id,
                   std::string_view bytes) {
  GMimePart* part = NewPart("image", subtype, bytes, GMIME_CONTENT_ENCODING_DEFAULT,
                            GMIME_CONTENT_ENCODING_BASE64);
  g_mime_object_set_content_id(GMIME_OBJECT(part), id.c_str());
  g_mime_object_set_disposition(GMIME_OBJECT(part), "inline");
  parts->related.push_back(GMIME_OBJECT(part));
}

/* The value of a hex digit of either case, or -1. */
int HexDigitValue(char c) { return c >= 'a' && c <= 'f' ? c - 'a' + 10 : UpperHexValue(c); }

/* The Content-ID a cid: URL of the HTML names: the character references
 * its URL escape writes ("&amp;", "&#x27;") and then its "%XX" escapes
 * decoded. */
std::string DecodedContentID(std::string_view id) {
  static constexpr struct {
    std::string_view reference;
    char c;
  } kReferences[] = {{"&amp;", '&'}, {"&#x27;", '\''}};
  std::string url;
  for (size_t at = 0; at < id.size();) {
    bool replaced = false;
    for (const auto& entry : kReferences) {
      if (id.compare(at, entry.reference.size(), entry.reference) == 0) {
        url.push_back(entry.c);
        at += entry.reference.size();
        replaced = true;
        break;
      }
    }
    if (!replaced)
      url.push_back(id[at++]);
  }
  std::string decoded;
  for (size_t at = 0; at < url.size(); ++at) {
    const int high = url[at] == '%' && at + 2 < url.size() ? HexDigitValue(url[at + 1]) : -1;
    const int low = high >= 0 ? HexDigitValue(url[at + 2]) : -1;
    if (low < 0) {
      decoded.push_back(url[at]);
      continue;
    }
    decoded.push_back(static_cast<char>(high << 4 | low));
    at += 2;
  }
  return decoded;
}

/* The part of the image resource the renderer named by the id, when the
 * item's database holds it; 263 when memory ran out. */
STATUS AddResourcePart(VelkoRTItem* item, const std::string& id, const std::string& name,
                       message_parts* parts) {
  std::string data;
  WORD imageType = 0;
  const STATUS status = ReadImageResource(item->session, item->server, item->database,
                                          name.c_str(), &data, &imageType);
  if (status == VELKO_ERR_MEMORY)
    return status;
  if (status == NOERROR)
    AddInlinePart(parts, imageType == 2 ? "jpeg" : "gif", DecodedContentID(id), data);
  return NOERROR;
}

/* A part for each id of the HTML (ids, as ContentIDs finds them) that
 * names an image of the item, an image resource the renderer named or a
 * built-in icon. 263 when memory ran out. */
STATUS AddReferencedParts(VelkoRTItem* item, const std::vector<std::string>& ids,
                          message_parts* parts) {
  std::optional<graphic_places> graphics;
  std::string icon;
  for (const std::string& id : ids) {
    image_id image;
    if (ParseImageID(id, &image)) {
      if (!graphics)
        graphics.emplace(ItemBody(item));
      const record_storage* graphic = graphics->Find(image);
      std::string data;
      if (graphic != nullptr && AppendImageData(graphic->next, &data))
        AddInlinePart(parts, image.kind == 2 ? "jpeg" : "gif", id, data);
      continue;
    }
    const auto resource = parts->resources.find(id);
    if (resource != parts->resources.end()) {
      if (STATUS status = AddResourcePart(item, id, resource->second, parts); status != NOERROR)
        return status;
      continue;
    }
    // An icon the HTML names gets its part whether or not a link of its
    // kind marked it used: an option may give one link kind another's.
    bool builtIn = false;
    for (const char* link : kLinkIconIDs)
      builtIn = builtIn || id == link;
    for (const char* other : kOtherIconIDs)
      builtIn = builtIn || id == other;
    if (!builtIn)
      continue;
    if (icon.empty())
      icon = IconGif();
    AddInlinePart(parts, "gif", id, icon);
  }
  return NOERROR;
}

/* The note's LMBCS attachment name as the UTF-8 that MIME headers carry. */
std::string Utf8FileName(const std::string& lmbcs) {
  const WORD length = static_cast<WORD>(std::min<size_t>(lmbcs.size(), 0xFFFF / 4));
  std::string utf8(4 * static_cast<size_t>(length) + 1, '\0');
  const WORD written = OSTranslate(OS_TRANSLATE_LMBCS_TO_UTF8, lmbcs.data(), length, utf8.data(),
                                   static_cast<WORD>(utf8.size()));
  if (written == 0 && length != 0)
    throw std::bad_alloc();
  utf8.resize(written);
  return utf8;
}

/* An attachment part for each file that a file hotspot of the item names
 * and the note holds. */
STATUS AddAttachments(VelkoRTItem* item, message_parts* parts) {
  attachment_names names;
  body_context* body = ItemBody(item);
  for (record_storage* node = body != nullptr ? GetNextCDRecord(body, nullptr) : nullptr;
       node != nullptr && node->length != 0; node = GetNextCDRecord(body, node))
    CollectAttachmentName(reinterpret_cast<const BYTE*>(node->data), node->signature,
                          node->length, &names);
  for (const std::string& name : names.files) {
    std::string data;
    const STATUS status = ReadAttachmentData(item->note, name.c_str(), false, &data);
    if (status == VELKO_ERR_ITEM_NOT_FOUND)
      continue;
    if (status != NOERROR)
      return status;
    const std::string fileName = Utf8FileName(name);
    GMimePart* part = NewPart("application", "octet-stream", data, GMIME_CONTENT_ENCODING_DEFAULT,
                              GMIME_CONTENT_ENCODING_BASE64);
    g_mime_object_set_disposition(GMIME_OBJECT(part), "attachment");
    g_mime_part_set_filename(part, fileName.c_str());
    parts->attachments.push_back(GMIME_OBJECT(part));
  }
  return NOERROR;
}

/* Bytes that stand for the HTML while GMime writes the rest of a large
 * message: never in a header, a boundary or base64. */
constexpr std::string_view kHTMLStandIn = "\x01velko html part\x01";
/* HTML from this size on is written around GMime's rendering of the rest. */
constexpr size_t kHTMLWrittenAround = 64 * 1024;
/* The HTML's last bytes stay in the stand-in, so that GMime sees the part
 * end as it would. */
constexpr size_t kHTMLEndKept = 2;

/* Writes the message to the stream: with the stand-in as the content of
 * the HTML part, the bytes GMime writes with the stand-in's first bytes
 * replaced by the HTML's own. False when the stand-in is not found once,
 * before anything is written. */
bool WriteAroundHTML(GMimeObject* message, GMimeFormatOptions* format, std::string_view html,
                     GMimeStream* out, ssize_t* written) {
  object_ref<GMimeStream> rest(g_mime_stream_mem_new());
  if (g_mime_object_write_to_stream(message, format, rest.get()) < 0)
    return false;
  const GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(rest.get()));
  const std::string_view other(reinterpret_cast<const char*>(bytes->data), bytes->len);
  const size_t at = other.find(kHTMLStandIn);
  if (at == std::string_view::npos ||
      other.find(kHTMLStandIn, at + kHTMLStandIn.size()) != std::string_view::npos)
    return false;
  const size_t after = at + kHTMLStandIn.size();
  const std::string_view pieces[] = {other.substr(0, at),
                                     html.substr(0, html.size() - kHTMLEndKept),
                                     other.substr(after)};
  *written = 0;
  for (const std::string_view piece : pieces) {
    if (g_mime_stream_write(out, piece.data(), piece.size()) < 0) {
      *written = -1;
      break;
    }
    *written += static_cast<ssize_t>(piece.size());
  }
  return true;
}

/* Writes the message of the parts to the file; 1028 when it cannot be
 * written whole. A large HTML that the renderer encoded is written as it
 * stands around what GMime writes of the rest, which it would pass
 * through its line-end filter unchanged. */
STATUS WriteMessage(message_parts* parts, const char* charset, bool quotedPrintable, FILE* file) {
  object_ref<GMimeMessage> message(g_mime_message_new(TRUE));
  GDateTime* now = g_date_time_new_now_local();
  g_mime_message_set_date(message.get(), now);
  g_date_time_unref(now);

  object_ref<GMimeMultipart> related(g_mime_multipart_new_with_subtype("related"));
  g_mime_object_set_content_type_parameter(GMIME_OBJECT(related.get()), "type", "text/html");
  // The part takes the HTML's bytes over instead of copying them; around
  // a large HTML it takes the stand-in, the HTML's bytes kept here.
  GByteArray* bytes = std::exchange(parts->html, nullptr);
  const std::string_view htmlBytes(reinterpret_cast<const char*>(bytes->data), bytes->len);
  const bool around =
      quotedPrintable && htmlBytes.size() >= kHTMLWrittenAround && parts->read.crlf_line_ends;
  const GMimeContentEncoding held =
      quotedPrintable ? GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE : GMIME_CONTENT_ENCODING_DEFAULT;
  object_ref<GMimePart> html(nullptr);
  if (around) {
    parts->html = bytes; // freed with the parts
    std::string standIn(kHTMLStandIn);
    standIn.append(htmlBytes.substr(htmlBytes.size() - kHTMLEndKept));
    html.object = NewPart("text", "html", standIn, held, GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
  } else {
    html.object =
        NewPartTaking("text", "html", bytes, held, GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
  }
  g_mime_object_set_content_type_parameter(GMIME_OBJECT(html.get()), "charset", charset);
  g_mime_multipart_add(related.get(), GMIME_OBJECT(html.get()));
  for (GMimeObject* part : parts->related)
    g_mime_multipart_add(related.get(), part);

  object_ref<GMimeMultipart> mixed(parts->attachments.empty()
                                        ? nullptr
                                        : g_mime_multipart_new_with_subtype("mixed"));
  if (mixed.get() != nullptr) {
    g_mime_multipart_add(mixed.get(), GMIME_OBJECT(related.get()));
    for (GMimeObject* part : parts->attachments)
      g_mime_multipart_add(mixed.get(), part);
    g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(mixed.get()));
  } else {
    g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(related.get()));
  }

  object_ref<GMimeStream> out(g_mime_stream_file_new(file));
  g_mime_stream_file_set_owner(GMIME_STREAM_FILE(out.get()), FALSE);
  // Lines end in CR LF, as RFC 822 has them; the renderer's encoded HTML
  // already ends its lines so and passes unchanged.
  GMimeFormatOptions* format = g_mime_format_options_new();
  g_mime_format_options_set_newline_format(format, GMIME_NEWLINE_FORMAT_DOS);
  ssize_t written = -1;
  if (!around || !WriteAroundHTML(GMIME_OBJECT(message.get()), format, htmlBytes, out.get(),
                                  &written)) {
    if (around) {
      // The stand-in was not found once: the part takes the HTML itself.
      object_ref<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(
          htmlBytes.data(), htmlBytes.size()));
      object_ref<GMimeDataWrapper> content(
          g_mime_data_wrapper_new_with_stream(stream.get(), held));
      g_mime_part_set_content(html.get(), content.get());
    }
    written = g_mime_object_write_to_stream(GMIME_OBJECT(message.get()), format, out.get());
  }
  g_mime_format_options_free(format);
  if (written < 0 || g_mime_stream_flush(out.get()) != 0 || ferror(file) != 0)
    return VELKO_ERR_BAD_ARGUMENT;
  return NOERROR;
}

/* ---- the rendering ---- */

/* Part names "MP<n>_<k>.html": a number of their own for each export of
 * the process. */
WORD NextPartNumber() {
  static std::atomic<unsigned> counter{0};
  return static_cast<WORD>(1 + counter.fetch_add(1) % 0xFFFE);
}

/* The renderer's part text, appended to the HTML's array as each flush
 * hands it on, so that it is neither written to a file nor attached to
 * the note and read back; its line ends and its ids are read while the
 * new text is at hand, not in passes over the whole HTML afterwards. */
class html_part final : public mime_part_memory {
public:
  html_part(VelkoRTItem* item, message_parts* parts) : item_(item), parts_(parts) {}
  bool Append(const char* text, size_t length) override {
    if (parts_->html == nullptr)
      parts_->html = g_byte_array_sized_new(RoomHint(length));
    if (length > G_MAXUINT - parts_->html->len)
      return false;
    g_byte_array_append(parts_->html, reinterpret_cast<const guint8*>(text),
                        static_cast<guint>(length));
    // No exception goes back into the renderer: memory that runs out here
    // fails its output.
    try {
      reader_.Read(HTML(), false);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }
  void ResourceNamed(const char* id, size_t idLength, const char* name,
                     size_t nameLength) override {
    const std::string_view named(id, idLength);
    if (parts_->resources.find(named) != parts_->resources.end())
      return;
    try {
      parts_->resources.emplace(std::string(named), std::string(name, nameLength));
    } catch (const std::bad_alloc&) {
      parts_->resources_lost = true;
    }
  }
  /* Reads the end of the HTML, once all of it was appended. */
  void Finish() {
    reader_.Read(HTML(), true);
    parts_->read = reader_.Take();
  }

private:
  std::string_view HTML() const {
    return std::string_view(reinterpret_cast<const char*>(parts_->html->data), parts_->html->len);
  }

  /* Room for the HTML from its first text on: about the stored bytes of
   * the body the run loaded, which the HTML of most bodies comes close to,
   * so that the array is not grown and copied again and again. A hint
   * only, and at most a modest block (the stored bytes of images become a
   * short element each): the array grows beyond it as it must. */
  guint RoomHint(size_t first) const {
    constexpr size_t kLargestHint = 64 * 1024 * 1024;
    size_t stored = first;
    const body_context* body = item_->internal != nullptr ? item_->internal->input : nullptr;
    for (const body_item* at = body != nullptr ? body->items : nullptr; at != nullptr;
         at = at->next)
      stored += at->length;
    return static_cast<guint>(std::min(stored, kLargestHint));
  }

  VelkoRTItem* item_;
  message_parts* parts_;
  html_reader reader_;
};

/* Renders the item for MIME into parts->html: the part text the renderer
 * handed on while it ran, then the text left in the buffer; and the image
 * resources it named into parts->resources. */
STATUS RenderForMime(VelkoRTItem* item, const char* generation, const char* options,
                     message_parts* parts) {
  export_render run;
  run.mime_mode = 1;
  run.generation = generation;
  run.options = options;
  run.part_number = NextPartNumber();
  html_part part(item, parts);
  run.part_memory = &part;
  std::string held;
  const STATUS status = RenderItemForExport(item, &run, &held);
  if (status != NOERROR)
    return status;
  if (parts->resources_lost)
    return VELKO_ERR_MEMORY;
  if (!part.Append(held.data(), held.size()))
    return VELKO_ERR_MEMORY;
  part.Finish();
  return NOERROR;
}

} // namespace

encoded_html_reading ReadEncodedHTML(std::string_view encoded, size_t piece) {
  html_reader reader;
  piece = std::max<size_t>(piece, 1);
  size_t read = std::min(piece, encoded.size());
  for (;;) {
    reader.Read(encoded.substr(0, read), read == encoded.size());
    if (read == encoded.size())
      return reader.Take();
    read += std::min(piece, encoded.size() - read);
  }
}

std::vector<std::string> QuotedPrintableContentIDs(std::string_view encoded, size_t block) {
  content_id_scan scan;
  // Decoded text is no longer than its encoding (room for a few more
  // bytes all the same, as GMime asks); the last bytes of a block that may
  // begin "cid:" move to the front before the next.
  constexpr size_t kCarried = 3;
  constexpr size_t kSlack = 4;
  block = std::max<size_t>(block, 1);
  std::string decoded(std::min(block, encoded.size()) + kCarried + kSlack, '\0');
  auto* out = reinterpret_cast<unsigned char*>(decoded.data());
  int state = 0;
  guint32 save = 0;
  size_t carried = 0;
  size_t at = 0;
  do {
    const size_t length = std::min(block, encoded.size() - at);
    const size_t made = g_mime_encoding_quoted_decode_step(
        reinterpret_cast<const unsigned char*>(encoded.data()) + at, length, out + carried, &state,
        &save);
    at += length;
    const size_t held = carried + made;
    carried = scan.Feed(std::string_view(decoded.data(), held), at == encoded.size());
    memmove(out, out + held - carried, carried);
  } while (at < encoded.size());
  return std::move(scan.ids());
}

STATUS SaveAsMimeInternal(VelkoRTItem* item, FILE* file, const char* generation,
                          const char* options) {
  if (STATUS status = CheckItemExport(item, options); status != NOERROR)
    return status;
  if (file == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  InitialiseGMime();
  try {
    message_parts parts;
    const std::string rendering = RenderingOptions(options);
    if (rendering.size() > 0xFFFF)
      return VELKO_ERR_BAD_ARGUMENT;
    if (STATUS status = RenderForMime(item, generation, rendering.c_str(), &parts);
        status != NOERROR)
      return status;
    const bool quotedPrintable = RenderedQuotedPrintable(rendering.c_str());
    const std::string_view html(reinterpret_cast<const char*>(parts.html->data), parts.html->len);
    std::optional<std::vector<std::string>> ids;
    if (quotedPrintable)
      ids = std::move(parts.read.well_formed_ids);
    if (!ids)
      ids = quotedPrintable ? QuotedPrintableContentIDs(html) : ContentIDs(html);
    if (STATUS status = AddReferencedParts(item, *ids, &parts); status != NOERROR)
      return status;
    if (AttachmentsByName(options)) {
      if (STATUS status = AddAttachments(item, &parts); status != NOERROR)
        return status;
    }
    return WriteMessage(&parts, CharsetName(options), quotedPrintable, file);
  } catch (const std::bad_alloc&) {
    return VELKO_ERR_MEMORY;
  }
}

STATUS VelkoRTItem::SaveAsMime(const char* path, const char* generation, const char* options) {
  if (STATUS status = CheckItemExport(this, options); status != NOERROR)
    return FinishItemExport(this, status);
  whole_file out;
  if (STATUS status = out.Open(path); status != NOERROR)
    return FinishItemExport(this, status);
  const STATUS status = SaveAsMimeInternal(this, out.file(), generation, options);
  return FinishItemExport(this, out.Finish(status));
}

STATUS VelkoRTItem::SaveAsMime(FILE* file, const char* generation, const char* options) {
  return FinishItemExport(this, SaveAsMimeInternal(this, file, generation, options));
}
