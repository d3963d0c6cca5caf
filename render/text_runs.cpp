/*
 * Text runs: a CDTEXT record (or its right-to-left form) and the runs in
 * the same font after it, rendered with their font markup; the characters
 * escaped, named by the entity table or written as numeric references;
 * NUL bytes as line breaks; tabs and preserved spaces as blanks; web, mail
 * and Skype addresses turned into links under MakeURLHotspots. A long run
 * is handed to the sink at break opportunities once the held text passes
 * the flush threshold.
 *
 * Text is written as ASCII markup and references only; no LMBCS byte of a
 * run reaches the output as it stands.
 *
 * Not here: the markup of a font (render/font_markup.cpp), paragraphs and
 * the record walk (the driver).
 */
#include <stdint.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "chunk/font_override.h"
#include "engine/record_fields.h"
#include "host/nls.h"
#include "host/oslog.h"
#include "render/entities.h"
#include "render/tag_stack.h"
#include "render/text_render.h"
#include "store/body.h"
#include "store/messages.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "velko/property_string.h"

namespace {

constexpr BYTE kFixedPitchFace = 4;
constexpr DWORD kReplacementCharacter = 0xFFFD;
/* Room made before a font markup is written, so that the markup and the
 * text before it stay together in the buffer. */
constexpr DWORD kMarkupRoom = 1024;
/* A long run is flushed this many bytes before the threshold at a break
 * opportunity, or this many after it anywhere. */
constexpr long long kEarlyFlush = 7;
constexpr long long kLateFlush = 40;

/* A text run whose header and font can be read. */
bool IsReadableRun(const record_storage *record) {
  return IsTextRun(record) && record->data != nullptr && record->length >= sizeof(CDTEXT);
}

bool HasText(const record_storage *record) {
  return IsReadableRun(record) && record->length > sizeof(CDTEXT);
}

FONTID RunFont(const record_storage *record) {
  FONTID font = 0;
  memcpy(&font, record->data + offsetof(CDTEXT, FontID), sizeof font);
  return font;
}

void Trace(const html_render_info *context, const char *text) {
  if (context->session != nullptr && context->session->internal->debug_level > 2)
    AddInLogMessageText("%s", 0, text);
}

/* ---- the records around a run ----
 *
 * Whether text comes before or after a run in its paragraph, and the
 * record a run's colour comes from, are read from the context's text run
 * index as the walk moves forward: looking through the paragraph at every
 * run would make a paragraph of many font changes (or of many empty runs)
 * render in time that grows with its square. A run behind the index's
 * position (a repeated walk) is answered by looking through the list. */

/* Records after which the text of a paragraph does not go on. */
bool EndsParagraphText(WORD signature) {
  switch (signature) {
  case SIG_CD_TABLECELL:
  case SIG_CD_NESTEDTABLECELL:
  case SIG_CD_TABLEEND:
  case SIG_CD_NESTEDTABLEEND:
  case SIG_CD_TABLEBEGIN:
  case SIG_CD_NESTEDTABLEBEGIN:
  case SIG_CD_V4HOTSPOTEND:
  case SIG_CD_HOTSPOTEND:
  case SIG_CD_ALTHOTSPOTEND:
  case SIG_CD_HRULE:
    return true;
  default:
    return false;
  }
}

void ReadIntoIndex(text_run_index *index, const record_storage *node) {
  if (node->signature == SIG_CD_PABREFERENCE)
    index->text_in_paragraph = false;
  else if (HasText(node))
    index->text_in_paragraph = true;
  if (!IsTextRun(node))
    index->last_other = node;
  if (index->ahead_known && node == index->ahead)
    index->ahead_known = false; // passed: what lies after it is not known
}

/* The index with every record before the record read; null when the
 * record lies behind it. */
text_run_index *IndexAt(html_render_info *context, const record_storage *record) {
  text_run_index *index = &context->text_runs;
  const bool at = MoveCursorTo(index->cursor, record,
                               [index](const record_storage *node) { ReadIntoIndex(index, node); });
  return at ? index : nullptr;
}

/* Whether other text shares the paragraph before the record. */
bool TextBefore(html_render_info *context, const record_storage *record) {
  if (record == nullptr)
    return false;
  if (const text_run_index *index = IndexAt(context, record))
    return index->text_in_paragraph;
  for (const record_storage *node = record->previous;
       node != nullptr && node->signature != SIG_CD_PABREFERENCE; node = node->previous) {
    if (HasText(node))
      return true;
  }
  return false;
}

/* The first record after the record that has text or is a table or
 * hotspot boundary, or the paragraph reference that ends the paragraph;
 * null at the list's end. */
const record_storage *TextAfterStop(const record_storage *record) {
  const record_storage *node = record->next;
  while (node != nullptr && node->signature != SIG_CD_PABREFERENCE && !HasText(node) &&
         !EndsParagraphText(node->signature))
    node = node->next;
  return node;
}

/* Whether text or a table or hotspot boundary follows in the paragraph. */
bool TextAfter(html_render_info *context, const record_storage *record) {
  const record_storage *stop = nullptr;
  if (text_run_index *index = IndexAt(context, record)) {
    if (!index->ahead_known || index->ahead == record) {
      index->ahead = TextAfterStop(record);
      index->ahead_known = true;
    }
    stop = index->ahead;
  } else {
    stop = TextAfterStop(record);
  }
  return stop != nullptr && stop->signature != SIG_CD_PABREFERENCE;
}

bool ReadColour(const record_storage *record, COLOR_VALUE *colour) {
  if (record->data == nullptr || record->length < sizeof(CDCOLOR))
    return false;
  memcpy(colour, record->data + offsetof(CDCOLOR, Color), sizeof *colour);
  return true;
}

/* The colour of the runs of a begin/end group: every colour record among
 * the group's runs after the run, the last one winning. */
bool GroupColour(const record_storage *run, COLOR_VALUE *colour) {
  bool found = false;
  for (const record_storage *node = run->next;
       node != nullptr && (IsTextRun(node) || node->signature == SIG_CD_COLOR); node = node->next) {
    if (node->signature == SIG_CD_COLOR && ReadColour(node, colour))
      found = true;
  }
  return found;
}

/* The run's colour value: inside a begin/end group every colour record
 * among the group's runs (the last wins), else a colour record right
 * after the run. The group is found by looking back over the text runs
 * before the run; every run after the CDBEGIN sees the same colour
 * records ahead of it, so the group's colour is looked for once. */
bool FindRunColour(html_render_info *context, const record_storage *run, COLOR_VALUE *colour) {
  text_run_index *index = IndexAt(context, run);
  const record_storage *before = nullptr;
  if (index != nullptr) {
    before = index->last_other;
  } else {
    before = run->previous;
    while (IsTextRun(before))
      before = before->previous;
  }
  if (before != nullptr && before->signature == SIG_CD_BEGIN) {
    if (index == nullptr)
      return GroupColour(run, colour);
    if (index->group != before) {
      index->group = before;
      index->group_has_colour = GroupColour(run, &index->group_colour);
    }
    if (index->group_has_colour)
      *colour = index->group_colour;
    return index->group_has_colour;
  }
  return run->next != nullptr && run->next->signature == SIG_CD_COLOR &&
         ReadColour(run->next, colour);
}

/* Bytes that can be appended before the primitive must make room. */
DWORD RoomLeft(const html_render_info *context) {
  const DWORD used = context->output_length + 1;
  return context->output_capacity > used ? context->output_capacity - used : 0;
}

int StackDepth(const html_render_info *context) {
  return static_cast<int>(XMLStackDepth(context));
}

void ClearCellEmptyMark(html_render_info *context) {
  if (context->table_level < kRenderTableLevels)
    context->cell_empty[context->table_level] = 0;
}

/* Writes the run's font markup; markup that repeats the bytes right
 * before it is taken back with the tags it pushed. */
STATUS WriteFontMarkup(html_render_info *context, const record_storage *run) {
  const style_mapping *mapping = context->paragraph_mapping;
  if (mapping != nullptr && (mapping->flags & STYLE_MAPPING_NO_FONT_MARKUP) != 0)
    return NOERROR;
  COLOR_VALUE colour = {};
  const bool hasColour = FindRunColour(context, run, &colour);
  Trace(context, "ProcessXMLText - About to check color value");
  // Room first, so that no flush separates the markup from what precedes
  // it: the primitive hands text on only when a write does not fit.
  if (RoomLeft(context) < kMarkupRoom && context->output_hold == 0 && RenderHasSink(context, 0))
    RenderFlush(context, 0);
  const DWORD room = RoomLeft(context);
  const int depthBefore = StackDepth(context);
  const DWORD mark = context->output_length;
  const STATUS status = CalculateXMLFontString(RunFont(run), hasColour ? &colour : nullptr, context,
                                               0, 0, run->signature == SIG_CD_BIDI_TEXT ? 1 : 0);
  if (status != NOERROR)
    return status;
  if (context->output_length < mark || context->output_length - mark >= room)
    return NOERROR; // the held text may have moved on
  const DWORD length = context->output_length - mark;
  const char *markup = context->output_buffer + mark;
  // Markup that closed something cannot be taken back without losing it.
  if (length == 0 || length > mark ||
      std::string_view(markup, length).find("</") != std::string_view::npos ||
      memcmp(markup - length, markup, length) != 0)
    return NOERROR;
  RenderTruncate(context, mark);
  for (int pushed = StackDepth(context) - depthBefore; pushed > 0; --pushed)
    PopXMLStack(context, 0, nullptr, 0, 0, 0, 0, 0);
  return NOERROR;
}

/* Bytes that may stand in an automatic link's address. */
bool IsAddressByte(BYTE b) {
  if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9'))
    return true;
  return b != 0 && strchr("_-#,.?!=/\\%@';", b) != nullptr;
}

/* ASCII bytes that HTML and XML do not take as text. */
bool IsForbiddenByte(BYTE b) {
  return (b < 0x20 && b != '\t' && b != '\n' && b != '\r') || b == 0x7F;
}

bool IsForbiddenCodePoint(DWORD codePoint) {
  return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F) ||
         (codePoint >= 0xD800 && codePoint <= 0xDFFF);
}

/* Which bytes a run's text writes as they stand: printable ASCII but the
 * escaped characters, the blank only when blanks are written as blanks,
 * and the letters that may start an automatic link only when no links are
 * made. */
constexpr std::array<bool, 256> PlainBytes(bool blank, bool linkLetters) {
  std::array<bool, 256> plain{};
  for (int b = 0x21; b < 0x7F; ++b)
    plain[b] = true;
  for (const char c : std::string_view("&\"<>"))
    plain[static_cast<BYTE>(c)] = false;
  for (const char c : std::string_view("hHmMsS"))
    plain[static_cast<BYTE>(c)] = linkLetters;
  plain[' '] = blank;
  return plain;
}

constexpr std::array<bool, 256> kPlainBytes[2][2] = {
    {PlainBytes(false, false), PlainBytes(false, true)},
    {PlainBytes(true, false), PlainBytes(true, true)},
};

/* The longest automatic link prefix ("https://" is 8; its colon is its
 * fifth byte, "mailto:"'s the seventh). */
constexpr DWORD kLongestLinkPrefix = 8;

/* Sixteen bytes compared at once (the compiler's vector extension). */
typedef BYTE byte_block __attribute__((vector_size(16)));

/* The first lane of a comparison's result that is set (lanes are all ones
 * or all zeros), or the block's size when none is. */
inline DWORD FirstSet(byte_block lanes) {
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "lane 0 is the low byte");
  uint64_t low;
  uint64_t high;
  memcpy(&low, &lanes, sizeof low);
  memcpy(&high, reinterpret_cast<const char *>(&lanes) + sizeof low, sizeof high);
  if (low != 0)
    return static_cast<DWORD>(__builtin_ctzll(low) / 8);
  if (high != 0)
    return static_cast<DWORD>(8 + __builtin_ctzll(high) / 8);
  return sizeof(byte_block);
}

/* The n bytes from p (fewer than a block) in a block of zeros, put
 * together in registers from loads that overlap but never reach beyond
 * p + n (bytes stored one way and loaded another would wait on the
 * stores). */
inline byte_block PartBlock(const BYTE *p, DWORD n) {
  typedef uint64_t halves __attribute__((vector_size(16)));
  const auto load = [p](DWORD at, DWORD size) {
    uint64_t value = 0;
    memcpy(&value, p + at, size);
    return value;
  };
  uint64_t low = 0;
  uint64_t high = 0;
  if (n > 8) {
    low = load(0, 8);
    high = load(n - 8, 8) >> (8 * (16 - n));
  } else if (n == 8) {
    low = load(0, 8);
  } else if (n >= 4) {
    low = load(0, 4) | load(n - 4, 4) << (8 * (n - 4));
  } else if (n >= 2) {
    low = load(0, 2) | load(n - 2, 2) << (8 * (n - 2));
  } else if (n == 1) {
    low = p[0];
  }
  const halves both = {low, high};
  return reinterpret_cast<const byte_block &>(both);
}

/* How many bytes from p (at most limit) a run writes as they stand,
 * letters that may start an automatic link included: printable ASCII but
 * the escaped characters, and the blank when blankPlain. Sixteen bytes at
 * a time; the last bytes fewer than sixteen in a block of zeros, which
 * count as other bytes. */
DWORD PlainBytesFrom(const BYTE *p, DWORD limit, bool blankPlain) {
  const BYTE lowest = blankPlain ? 0x20 : 0x21;
  for (DWORD count = 0;; count += sizeof(byte_block)) {
    byte_block block;
    if (limit - count >= sizeof(byte_block))
      memcpy(&block, p + count, sizeof block);
    else
      block = PartBlock(p + count, limit - count);
    const auto other = (block < lowest) | (block >= 0x7F) | (block == '&') | (block == '"') |
                       (block == '<') | (block == '>');
    const DWORD plain = FirstSet(reinterpret_cast<const byte_block &>(other));
    if (plain < sizeof(byte_block))
      return count + plain;
  }
}

/* Writes the characters of the runs of one markup. */
class run_writer {
public:
  run_writer(html_render_info *context, BYTE face)
      : context_(context), face_(face), tab_width_(context->preserve_tabs),
        preserve_spaces_((context->flags & html_flags::PreserveSpaces) != 0),
        make_links_((context->flags & html_flags::MakeURLHotspots) != 0) {}

  /* The text of one run. */
  void Write(const char *text, DWORD length) {
    text_ = reinterpret_cast<const BYTE *>(text);
    length_ = length;
    for (DWORD i = 0; i < length_ && context_->output_status == NOERROR; ++i) {
      if (const DWORD plain = PlainSpan(i); plain > 0) {
        RenderPut(context_, text + i, plain);
        i += plain - 1;
        continue;
      }
      break_opportunity_ = false;
      const BYTE b = text_[i];
      if (b < 0x80 && NLS_isleadbyte(b, nullptr) == FALSE)
        WriteAscii(i);
      else
        WriteCharacter(i);
      FlushWhenFull();
    }
  }

private:
  void Put(const char *text) { RenderPuts(context_, text); }

  /* How many bytes from i on can be appended in one piece: plain bytes,
   * none while an automatic link is open, no more than keep the held text
   * within the limit at which a byte at a time would have flushed, and no
   * more than a caller's buffer has room for, so that what fits is kept
   * when it fills. 0: the byte at i takes the path of its own. */
  DWORD PlainSpan(DWORD i) const {
    if (context_->auto_url_open != 0)
      return 0;
    DWORD limit = length_ - i;
    if (context_->output_owned == 0)
      limit = std::min(limit, RoomLeft(context_));
    const DWORD threshold = context_->event_chunk_size;
    const bool flushing = threshold != 0 && RenderHasSink(context_, 0);
    if (flushing) {
      const long long room =
          static_cast<long long>(threshold) + kLateFlush - context_->output_length;
      if (room <= 0)
        return 0;
      if (room < limit)
        limit = static_cast<DWORD>(room);
    }
    const bool blankPlain = !preserve_spaces_ && !flushing;
    if (flushing && !preserve_spaces_) {
      if (const DWORD span = SpanOverBlanks(i, limit); span > 0)
        return span;
    }
    if (flushing && make_links_) {
      // A byte at a time, as the flush points fall by the bytes written.
      const std::array<bool, 256> &plain = kPlainBytes[blankPlain][false];
      DWORD count = 0;
      while (count < limit && plain[text_[i + count]])
        ++count;
      return count;
    }
    // A letter that may start an automatic link is plain where no link
    // starts: it is written as it stands all the same.
    const DWORD count = PlainBytesFrom(text_ + i, limit, blankPlain);
    return make_links_ ? BeforeFirstLink(i, count) : count;
  }

  /* With a flush threshold: plain bytes from i, blanks included, while
   * no blank among them would pass the threshold at which a blank flushes
   * and all of them fit in the buffer without making room, so that no
   * flush falls inside them; cut after the last blank when the text goes
   * on, so that the next piece starts where a word's own would. 0 when no
   * blank is among them: the bytes then take the word's way. */
  DWORD SpanOverBlanks(DWORD i, DWORD limit) const {
    const long long blankRoom = static_cast<long long>(context_->event_chunk_size) -
                                kEarlyFlush - context_->output_length;
    if (blankRoom <= 0)
      return 0;
    const DWORD cap = std::min({limit, RoomLeft(context_), static_cast<DWORD>(blankRoom)});
    DWORD count = PlainBytesFrom(text_ + i, cap, true);
    if (make_links_)
      count = BeforeFirstLink(i, count);
    if (count == cap && i + count < length_) {
      while (count > 0 && text_[i + count - 1] != ' ')
        --count;
    }
    if (memchr(text_ + i, ' ', count) == nullptr)
      return 0;
    return count;
  }

  /* Of count plain bytes from i, those before the first automatic link
   * that starts among them. Every prefix ends in a colon four to seven
   * bytes on, so only the places before a colon are tried. */
  DWORD BeforeFirstLink(DWORD i, DWORD count) const {
    const DWORD end = std::min(length_, i + count + kLongestLinkPrefix);
    for (DWORD from = i; from < end;) {
      const auto *colon =
          static_cast<const BYTE *>(memchr(text_ + from, ':', end - from));
      if (colon == nullptr)
        break;
      const auto at = static_cast<DWORD>(colon - text_);
      const DWORD first = at >= i + kLongestLinkPrefix - 1 ? at - (kLongestLinkPrefix - 1) : i;
      for (DWORD start = first; start + 3 < at && start < i + count; ++start) {
        if (LinkPrefix(start, nullptr) != 0)
          return start - i;
      }
      from = at + 1;
    }
    return count;
  }

  /* The length of the prefix of an automatic link that starts at i (web:
   * whether it is a web address), or 0. */
  size_t LinkPrefix(DWORD i, bool *web) const {
    const char *at = reinterpret_cast<const char *>(text_ + i);
    // The second letter rules out most words at once.
    const BYTE second = i + 1 < length_ ? static_cast<BYTE>(text_[i + 1] | 0x20) : 0;
    switch (text_[i]) {
    case 'h':
    case 'H':
      if (web != nullptr)
        *web = true;
      if (i + 9 >= length_ || second != 't')
        return 0;
      return strncasecmp(at, "http://", 7) == 0 ? 7 : strncasecmp(at, "https://", 8) == 0 ? 8 : 0;
    case 'm':
    case 'M':
      return i + 10 < length_ && second == 'a' && strncasecmp(at, "mailto:", 7) == 0 ? 7 : 0;
    case 's':
    case 'S':
      return i + 10 < length_ && second == 'k' && strncasecmp(at, "skype:", 6) == 0 ? 6 : 0;
    default:
      return 0;
    }
  }

  void WriteAscii(DWORD &i) {
    const BYTE b = text_[i];
    switch (b) {
    case ' ':
      CloseXMLAutoURL(context_);
      WriteSpaces(i);
      break_opportunity_ = true;
      return;
    case '\0':
      CloseXMLAutoURL(context_);
      Put(context_->generation == kGenerationHTML ? "<br>" : "<br />");
      ClearCellEmptyMark(context_);
      break_opportunity_ = true;
      return;
    case '\t':
      CloseXMLAutoURL(context_);
      if (tab_width_ == 0)
        Put(" ");
      for (WORD k = 0; k < tab_width_; ++k)
        Put("&nbsp;");
      break_opportunity_ = true;
      return;
    case '&':
      Put("&amp;"); // part of an open link's address
      return;
    case '"':
    case '<':
    case '>':
      CloseXMLAutoURL(context_);
      Put(b == '"' ? "&quot;" : b == '<' ? "&lt;" : "&gt;");
      return;
    default:
      break;
    }
    if (OpenLinkAt(i))
      return;
    if (context_->auto_url_open != 0 && !IsAddressByte(b))
      CloseXMLAutoURL(context_);
    if (IsForbiddenByte(b)) {
      Put("&#65533;");
      return;
    }
    RenderPutc(context_, static_cast<char>(b));
  }

  /* A space, or with preserved spaces the spaces that must not collapse. */
  void WriteSpaces(DWORD &i) {
    if (!preserve_spaces_) {
      Put(" ");
      return;
    }
    const bool single = i + 1 < length_ && text_[i + 1] != ' ' && face_ != kFixedPitchFace;
    if (single) {
      Put(" ");
      return;
    }
    DWORD end = i;
    while (end < length_ && text_[end] == ' ') {
      Put("&nbsp;");
      ++end;
    }
    i = end - 1;
  }

  /* Opens an automatic link when an address starts at i; i then stands on
   * the prefix's last byte. */
  bool OpenLinkAt(DWORD &i) {
    if ((context_->flags & html_flags::MakeURLHotspots) == 0 || context_->auto_url_open != 0)
      return false;
    const char *at = reinterpret_cast<const char *>(text_ + i);
    bool web = false;
    const size_t prefix = LinkPrefix(i, &web);
    if (prefix == 0)
      return false;
    WriteLinkStart(web);
    context_->auto_url_start = context_->output_length;
    context_->auto_url_open = 1;
    ++context_->output_hold; // the address is read back when the link closes
    RenderPut(context_, at, prefix);
    i += static_cast<DWORD>(prefix) - 1;
    return true;
  }

  void WriteLinkStart(bool web) {
    char params[VELKO_SCRATCH_TEXT_SIZE];
    if (web && context_->options != nullptr &&
        ExtractProperty(context_->options, "ExtraURLHotspotParams=", params, sizeof params) != 0) {
      Put("<a ");
      Put(params);
      Put(" href=\"");
      return;
    }
    Put("<a href=\"");
  }

  /* A character above ASCII (or in more than one byte): its entity name,
   * else its numeric reference. */
  void WriteCharacter(DWORD &i) {
    DWORD codePoint = kReplacementCharacter;
    const size_t used =
        ReadLmbcsCharacter(reinterpret_cast<const char *>(text_ + i), length_ - i, &codePoint);
    if (IsForbiddenCodePoint(codePoint) && codePoint != '\t' && codePoint != '\n' &&
        codePoint != '\r')
      codePoint = kReplacementCharacter;
    const html_entity *entity = (context_->flags3 & html_flags3::UseXMLEntities) == 0
                                    ? LookupEntityByCode(codePoint)
                                    : nullptr;
    if (entity != nullptr)
      RenderPrintf(context_, "&%s;", entity->name);
    else
      RenderPutCodePoint(context_, codePoint);
    i += static_cast<DWORD>(used) - 1;
  }

  /* Hands the held text on once it passes the threshold: a little before
   * it at a break opportunity, anywhere a little after it. */
  void FlushWhenFull() {
    const DWORD threshold = context_->event_chunk_size;
    if (threshold == 0 || !RenderHasSink(context_, 0))
      return;
    const long long held = context_->output_length;
    const long long limit = break_opportunity_ ? static_cast<long long>(threshold) - kEarlyFlush
                                               : static_cast<long long>(threshold) + kLateFlush;
    if (held <= limit)
      return;
    CloseXMLAutoURL(context_);
    // A position another writer holds in the text must not move.
    if (context_->output_hold == 0)
      RenderFlush(context_, 0);
  }

  html_render_info *context_;
  BYTE face_;
  WORD tab_width_;
  bool preserve_spaces_;
  bool make_links_;
  const BYTE *text_ = nullptr;
  DWORD length_ = 0;
  bool break_opportunity_ = false;
};

/* The next run in the same font after the run, past empty runs in that
 * font; `after` receives the first record not consumed. */
record_storage *NextRunInFont(const html_render_info *context, record_storage *run,
                              record_storage **after) {
  const FONTID font = RunFont(run);
  record_storage *node = run->next;
  while (IsReadableRun(node) && !HasText(node) && RunFont(node) == font &&
         !IsBeyondLast(context, node))
    node = node->next;
  *after = node;
  if (HasText(node) && RunFont(node) == font && !IsBeyondLast(context, node))
    return node;
  return nullptr;
}


/* ---- text-run style mappings ---- */

/* Whether the font passes the mapping's font filter. */
bool PassesFilter(const style_mapping *mapping, FONTID font) {
  const FONTID filter = mapping->filter_font;
  font_spec spec = {};
  spec.face = FontByte(&filter, FONTID_FACE_BYTE);
  spec.attributes = FontByte(&filter, FONTID_ATTRIBUTES_BYTE);
  spec.color = FontByte(&filter, FONTID_COLOR_BYTE);
  spec.size = FontByte(&filter, FONTID_SIZE_BYTE);
  spec.attributes_add = spec.attributes;
  spec.attributes_remove = spec.attributes;
  return FontNotFiltered(&font, &spec, mapping->filter_mask) != 0;
}

/* Whether the mapping's closing text is still waiting on the main stack
 * (the very text it pushed); a mapping without one counts as open. */
bool ClosingWaits(const html_render_info *context, const style_mapping *mapping) {
  const char *closing = mapping->closing.c_str();
  if (*closing == '\0')
    return true;
  for (const xml_stack_node *node = context->tag_stack; node != nullptr; node = node->next) {
    if (node->tag == closing)
      return true;
  }
  return false;
}

bool IsOpenTextMapping(const html_render_info *context, const style_mapping *mapping) {
  for (WORD slot = 0; slot < context->text_mapping_count; ++slot) {
    if (context->text_mappings[slot] == mapping)
      return true;
  }
  return false;
}

/* Closes, newest first, the open text-run mappings whose filter the font
 * no longer passes (with every mapping opened after them), and forgets
 * those whose closing text something else has already written; then opens
 * the item's run mappings that the font passes, up to ten at once. */
void UpdateTextMappings(html_render_info *context, FONTID font) {
  for (int slot = context->text_mapping_count - 1; slot >= 0; --slot) {
    const style_mapping *mapping = context->text_mappings[slot];
    const bool waits = ClosingWaits(context, mapping);
    if (waits && PassesFilter(mapping, font))
      continue;
    if (waits && !mapping->closing.empty())
      PopXMLStack(context, 0, mapping->closing.c_str(), 1, 1, 0, 0, 0);
    context->text_mappings[slot] = nullptr;
    context->text_mapping_count = static_cast<WORD>(slot);
  }
  if (context->item == nullptr || context->item->internal == nullptr)
    return;
  for (style_mapping *mapping = context->item->internal->style_mappings[0]; mapping != nullptr;
       mapping = mapping->next) {
    if ((mapping->flags & STYLE_MAPPING_MAPPED) == 0 || !PassesFilter(mapping, font) ||
        IsOpenTextMapping(context, mapping))
      continue;
    if (context->text_mapping_count >= kActiveTextMappings)
      continue; // an eleventh is not opened
    RenderPuts(context, mapping->opening.c_str());
    if (!mapping->closing.empty())
      PushXMLStack(context, 0, mapping->closing.c_str());
    context->text_mappings[context->text_mapping_count++] = mapping;
  }
}

/* Renders the run and the runs in its font that follow it. */
STATUS RenderRuns(html_render_info *context, record_storage *run, BOOL lineBreak) {
  UpdateTextMappings(context, RunFont(run));
  if (STATUS status = WriteFontMarkup(context, run); status != NOERROR)
    return status;
  Trace(context, "ProcessXMLText - #2");
  const FONTID font = RunFont(run);
  run_writer writer(context, FontByte(&font, FONTID_FACE_BYTE));
  static const char kLineBreak[1] = {'\0'};
  const DWORD length = run->length - static_cast<DWORD>(sizeof(CDTEXT));
  const char *text = length == 0 && lineBreak != 0 ? kLineBreak : run->data + sizeof(CDTEXT);
  DWORD textLength = length == 0 && lineBreak != 0 ? 1 : length;
  record_storage *after = run->next;
  for (;;) {
    context->current_record = run;
    if (textLength > 0)
      ClearCellEmptyMark(context);
    writer.Write(text, textLength);
    if (context->output_status != NOERROR)
      return context->output_status;
    record_storage *next = NextRunInFont(context, run, &after);
    if (next == nullptr)
      break;
    run = next;
    text = run->data + sizeof(CDTEXT);
    textLength = run->length - static_cast<DWORD>(sizeof(CDTEXT));
  }
  CloseXMLAutoURL(context);
  CloseRunTagsOnXMLStack(context); // what the runs' markup opened
  context->current_record = after;
  return context->output_status;
}

/* Moves the current record to the next CDEND. */
void SkipToGroupEnd(html_render_info *context) {
  record_storage *node = context->current_record;
  while (node != nullptr && node->signature != SIG_CD_END && !IsBeyondLast(context, node))
    node = node->next;
  context->current_record = node;
}

STATUS FinishText(html_render_info *context, WORD bracketSignature, STATUS status) {
  if (IsTextRun(bracketSignature))
    SkipToGroupEnd(context);
  if (TagOnXMLStack(context, 0, "</span>", 0) != 0)
    PopXMLStack(context, 0, "</span>", 1, 0, 0, 0, 0);
  Trace(context, "ProcessXMLText - OUT");
  return status != NOERROR ? status : context->output_status;
}

} // namespace

STATUS CloseXMLAutoURL(html_render_info *context) {
  if (context->auto_url_open == 0)
    return context->output_status;
  context->auto_url_open = 0;
  const DWORD start = context->auto_url_start;
  const DWORD end = context->output_length;
  RenderPuts(context, "\">");
  if (start <= end)
    RenderPut(context, context->output_buffer + start, end - start);
  RenderPuts(context, "</a>");
  if (context->output_hold > 0)
    --context->output_hold;
  return context->output_status;
}

STATUS ProcessXMLText(html_render_info *context, WORD bracketSignature, BOOL lineBreak) {
  Trace(context, "ProcessXMLText - IN");
  record_storage *run = context->current_record;
  bool sole = (context->flags & html_flags::StandardFontTags) == 0 && !TextBefore(context, run);
  while (run != nullptr && !IsTextRun(run) && run->signature != SIG_CD_END &&
         !IsBeyondLast(context, run) && run->next != nullptr)
    run = run->next;
  context->current_record = run;
  // A run after the chunk's last record belongs to no chunk being rendered.
  if (run == nullptr || !IsTextRun(run) || IsBeyondLast(context, run))
    return FinishText(context, bracketSignature, NOERROR);
  if (sole && TextAfter(context, run))
    sole = false;
  if (!IsReadableRun(run) || (!HasText(run) && !sole)) {
    context->current_record = run->next; // nothing of it is written
    return FinishText(context, bracketSignature, NOERROR);
  }
  const STATUS status = RenderRuns(context, run, lineBreak);
  return FinishText(context, bracketSignature, status);
}
