/*
 * The HTML importer: HTML from a file, a text or the text records of a
 * loaded body (pass-through regions marked first when asked) is turned
 * into UTF-8,
 * parsed and cleaned by tidy, and its <body> walked into text runs and
 * paragraphs. The records go through the record emitter into the import's
 * own list (CopyCDUpdatedToRec; text runs are made there directly) and,
 * when the whole walk succeeded, from the list into the output body, whose
 * nodes point at the list's records; a failed import writes nothing.
 *
 * What the walk writes: text in the item's default font changed by the
 * inline styles around it (b/strong, i/em, u/ins, s/strike/del, sup, sub,
 * tt/code/kbd/samp/pre, font size, h1-h6) and by style attributes
 * (font-weight, font-style, text-decoration, font-size); a NUL in the run for br and a
 * line end in pre (none right before a block end); a CDPARAGRAPH between
 * blocks; a rule (CDHRULE) in a paragraph of its own for hr; an anchor
 * (CDANCHOR) for a's name or id; a URL link around a's content for its href
 * (not a script, at most 2048 bytes), the content in the item's URL font
 * over the font around it; style attributes' color (an exact colour in a
 * colour record after the text, bracketed) and font-family. Other elements
 * keep their text, as blocks or inline; images are the image step's
 * (import/html_images.h). Named references of the entity table are
 * numbered before parsing (import/html_entities.h). Nothing is written
 * for head, script, style, comments and form controls.
 *
 * Paragraph definitions for alignment, margins, spacing and lists come
 * from import/html_paragraphs.h, which the walk tells where blocks begin
 * and end and where paragraphs start. Tables are written by
 * import/html_tables.cpp, which the walk gives hooks.
 *
 * Not here: style sheets.
 */
#include <stdio.h>
#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include <new>
#include <string>
#include <string_view>
#include <unordered_map>

#include "engine/process_state.h"
#include "engine/services.h"
#include "generate/attribute_strings.h"
#include "generate/color_string.h"
#include "generate/built_record.h"
#include "generate/font_string.h"
#include "generate/links.h"
#include "host/cdrecords.h"
#include "import/charset.h"
#include "import/css_declarations.h"
#include "import/html_entities.h"
#include "import/html_nesting.h"
#include "import/html_images.h"
#include "import/html_import_state.h"
#include "import/html_paragraphs.h"
#include "import/html_tables.h"
#include "import/passthru.h"
#include "import/tidy_parser.h"
#include "store/body.h"
#include "store/charset_names.h"
#include "store/emitter.h"
#include "store/messages.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "velko/property_string.h"

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
/* Text bytes of one text record, which stays below 32000 bytes. */
constexpr size_t kLongestRun = 32000 - 1 - 8;
/* The length of the text's first piece of at most the longest run, cut
 * between characters; a first character longer than that is the piece. */
size_t LongestRunPiece(std::string_view text) {
  size_t piece = 0;
  while (piece < text.size()) {
    const size_t next = LmbcsCharacterLength(text, piece);
    if (piece + next > kLongestRun && piece > 0)
      break;
    piece += next;
  }
  return piece;
}
/* Elements nested deeper than this are walked no further: their text is
 * kept, in the font of the deepest element walked. */
constexpr int kDeepestNesting = 200;
constexpr BYTE kMonospaceFace = 4;
constexpr BYTE kFontSizes[7] = {8, 10, 12, 14, 18, 24, 36};
constexpr BYTE kHeadingSizes[6] = {24, 18, 14, 12, 10, 8};
/* The longest link address taken as a link. */
constexpr size_t kLongestUrl = 2048;
constexpr char kDefaultUrlFont[] = "BLUE +UNDERLINE";

/* A FONTID taken apart (face, attributes, colour, size), with the exact
 * colour of a colour record after the text (flags 0: none). */
struct font_bytes {
  BYTE face, attributes, color, size;
  WORD color_flags = 0;
  DWORD rgb = 0;
  bool operator==(const font_bytes&) const = default;
};

FONTID FontIdOf(const font_bytes& font) {
  const BYTE bytes[4] = {font.face, font.attributes, font.color, font.size};
  FONTID id;
  memcpy(&id, bytes, sizeof id);
  return id;
}

void SetFontId(font_bytes* font, FONTID id) {
  BYTE bytes[4];
  memcpy(bytes, &id, sizeof bytes);
  font->face = bytes[0];
  font->attributes = bytes[1];
  font->color = bytes[2];
  font->size = bytes[3];
}

bool IsSkipped(TidyTagId tag) {
  switch (tag) {
  case TidyTag_HEAD: case TidyTag_SCRIPT: case TidyTag_STYLE: case TidyTag_INPUT:
  case TidyTag_SELECT: case TidyTag_TEXTAREA: case TidyTag_NOSCRIPT: case TidyTag_BUTTON:
  case TidyTag_OPTION: case TidyTag_TITLE:
    return true;
  default:
    return false;
  }
}

bool IsBlock(TidyTagId tag) {
  switch (tag) {
  case TidyTag_P: case TidyTag_DIV: case TidyTag_H1: case TidyTag_H2: case TidyTag_H3:
  case TidyTag_H4: case TidyTag_H5: case TidyTag_H6: case TidyTag_LI: case TidyTag_UL:
  case TidyTag_OL: case TidyTag_DL: case TidyTag_DT: case TidyTag_DD: case TidyTag_PRE:
  case TidyTag_BLOCKQUOTE: case TidyTag_ADDRESS: case TidyTag_CENTER: case TidyTag_TABLE:
  case TidyTag_TR: case TidyTag_TD: case TidyTag_TH: case TidyTag_CAPTION: case TidyTag_HR:
  case TidyTag_FORM: case TidyTag_FIELDSET: case TidyTag_MENU: case TidyTag_DIR:
    return true;
  default:
    return false;
  }
}

/* The font size of a font element's size attribute ("1" to "7", or "+n" /
 * "-n" from 3); 0 when it gives none. */
BYTE FontElementSize(const char* value) {
  if (value == nullptr || *value == '\0')
    return 0;
  int size = 0;
  if (value[0] == '+' || value[0] == '-')
    size = 3 + (value[0] == '+' ? 1 : -1) * atoi(value + 1);
  else
    size = atoi(value);
  if (size < 1)
    size = 1;
  if (size > 7)
    size = 7;
  return kFontSizes[size - 1];
}

/* Asks for the memory of a tidy node (about two cache lines) ahead of its
 * use. */
void PrefetchNode(TidyNode node) {
  if (node == nullptr)
    return;
  __builtin_prefetch(node);
  __builtin_prefetch(reinterpret_cast<const char*>(node) + 64);
}

const char* AttributeValue(TidyNode node, TidyAttrId id) {
  TidyAttr attribute = tidyAttrGetById(node, id);
  return attribute == nullptr ? nullptr : tidyAttrValue(attribute);
}

/* The font of an element's content, from the font around it. */
font_bytes ElementFont(TidyNode node, TidyTagId tag, font_bytes font) {
  switch (tag) {
  case TidyTag_B: case TidyTag_STRONG: font.attributes |= kFontBold; break;
  case TidyTag_I: case TidyTag_EM: font.attributes |= kFontItalic; break;
  case TidyTag_U: case TidyTag_INS: font.attributes |= kFontUnderline; break;
  case TidyTag_S: case TidyTag_STRIKE: case TidyTag_DEL: font.attributes |= kFontStrikethrough; break;
  case TidyTag_SUP: font.attributes = (font.attributes & ~kFontSubscript) | kFontSuperscript; break;
  case TidyTag_SUB: font.attributes = (font.attributes & ~kFontSuperscript) | kFontSubscript; break;
  case TidyTag_TT: case TidyTag_CODE: case TidyTag_KBD: case TidyTag_SAMP: case TidyTag_PRE:
    font.face = kMonospaceFace;
    break;
  case TidyTag_FONT:
    if (BYTE size = FontElementSize(AttributeValue(node, TidyAttr_SIZE)); size != 0)
      font.size = size;
    break;
  case TidyTag_H1: case TidyTag_H2: case TidyTag_H3: case TidyTag_H4: case TidyTag_H5:
  case TidyTag_H6:
    font.attributes |= kFontBold;
    font.size = kHeadingSizes[tag - TidyTag_H1];
    break;
  default:
    break;
  }
  return font;
}

/* A font-size in points ("12pt", "16px" as 3/4 of it); 0 for another
 * form. */
BYTE StyleSize(const std::string& value) {
  char* end = nullptr;
  const double number = strtod(value.c_str(), &end);
  if (end == value.c_str() || number <= 0)
    return 0;
  const std::string unit = TrimmedLower(end);
  const double points = unit == "pt" ? number : unit == "px" ? number * 3 / 4 : 0;
  if (points <= 0)
    return 0;
  return points >= 255 ? 255 : points < 1 ? 1 : static_cast<BYTE>(points + 0.5);
}

void SetAttribute(font_bytes* font, BYTE attribute, bool on) {
  font->attributes = on ? font->attributes | attribute : font->attributes & ~attribute;
}

/* The face of a font-family list: its first family, as the item's font
 * table gives it (generic families included); face when it names none. */
BYTE FamilyFace(const std::string& value, BYTE face, VelkoRTItem* item) {
  std::string first = value.substr(0, value.find(','));
  while (!first.empty() && isspace(static_cast<unsigned char>(first.back())))
    first.pop_back();
  if (first.size() >= 2 && (first.front() == '"' || first.front() == '\'') &&
      first.back() == first.front())
    first = first.substr(1, first.size() - 2);
  if (first.empty())
    return face;
  return static_cast<BYTE>(item->AddToFontTable(first.c_str(), 0));
}

/* A colour value over the font: the palette colour, and the exact colour
 * when the font override asks for a colour record. */
void SetColor(font_bytes* font, const std::string& value, WORD clientPreference) {
  WORD index = font->color;
  DWORD rgb = 0;
  if (ParseColorString(value.c_str(), &index, &rgb, clientPreference) != NOERROR)
    return;
  font_spec spec = {};
  DWORD mask[9] = {};
  spec.color = static_cast<BYTE>(index);
  spec.rgb = rgb;
  mask[2] = 1;
  FONTID id = FontIdOf(*font);
  DWORD recordNeeded = 0;
  ApplyFontOverrideExt(&id, nullptr, &recordNeeded, nullptr, &spec, mask);
  SetFontId(font, id);
  font->color_flags = recordNeeded != 0 ? spec.color_value.Flags : 0;
  font->rgb = recordNeeded != 0 ? rgb : 0;
}

/* The font after an element's style attribute: font-weight, font-style,
 * text-decoration, font-size, color and font-family. */
font_bytes StyledFont(const char* style, font_bytes font, VelkoRTItem* item,
                      WORD clientPreference) {
  if (style == nullptr)
    return font;
  css_declarations declarations(style);
  std::string name;
  std::string value;
  while (declarations.Next(&name, &value)) {
    if (name == "font-weight") {
      const int weight = atoi(value.c_str());
      if (value == "bold" || value == "bolder" || weight >= 600)
        SetAttribute(&font, kFontBold, true);
      else if (value == "normal" || value == "lighter" || (weight > 0 && weight < 600))
        SetAttribute(&font, kFontBold, false);
    } else if (name == "font-style") {
      if (value == "italic" || value == "oblique")
        SetAttribute(&font, kFontItalic, true);
      else if (value == "normal")
        SetAttribute(&font, kFontItalic, false);
    } else if (name == "text-decoration") {
      if (value.find("underline") != std::string::npos)
        SetAttribute(&font, kFontUnderline, true);
      if (value.find("line-through") != std::string::npos)
        SetAttribute(&font, kFontStrikethrough, true);
      if (value == "none")
        SetAttribute(&font, kFontUnderline | kFontStrikethrough, false);
    } else if (name == "font-size") {
      if (BYTE size = StyleSize(value); size != 0)
        font.size = size;
    } else if (name == "color") {
      SetColor(&font, value, clientPreference);
    } else if (name == "font-family") {
      font.face = FamilyFace(value, font.face, item);
    }
  }
  return font;
}

/* The address of an a element that makes a link: its href, when present,
 * at most kLongestUrl bytes and not a script; else null. */
const char* LinkAddress(TidyNode node) {
  const char* href = AttributeValue(node, TidyAttr_HREF);
  if (href == nullptr || *href == '\0' || strlen(href) > kLongestUrl)
    return nullptr;
  return IsScriptAddress(href) ? nullptr : href;
}

class html_walker {
public:
  html_walker(chunk_process_state* process, tidy_parser* parser)
      : process_(process), parser_(parser) {
    memcpy(header_, StateItem(process)->internal->default_text_header, sizeof header_);
  }

  STATUS Walk(TidyNode body) {
    FONTID id;
    memcpy(&id, header_ + 4, sizeof id);
    font_bytes font = {};
    SetFontId(&font, id);
    RETURN_IF_FAILED(WalkChildren(body, font, false, 0));
    return EndBlock(); // no line end right before the end either
  }

private:
  STATUS WalkChildren(TidyNode node, font_bytes font, bool pre, int depth) {
    for (TidyNode child = tidyGetChild(node); child != nullptr;) {
      // The next node and this one's first child are asked for while this
      // one is written, and the memory the walk comes to after them.
      const TidyNode next = tidyGetNext(child);
      PrefetchNode(next);
      PrefetchNode(tidyGetChild(child));
      tidy_parser::PrefetchAhead(child);
      RETURN_IF_FAILED(WalkNode(child, font, pre, depth + 1));
      child = next;
    }
    return NOERROR;
  }

  STATUS WalkNode(TidyNode node, font_bytes font, bool pre, int depth) {
    const TidyNodeType type = tidyNodeGetType(node);
    if (type == TidyNode_Text)
      return Text(node, font, pre);
    if (type != TidyNode_Start && type != TidyNode_StartEnd)
      return NOERROR; // comments, processing instructions, doctype...
    const TidyTagId tag = tidyNodeGetId(node);
    if (IsSkipped(tag))
      return NOERROR;
    if (tag == TidyTag_BR)
      return AppendText(std::string_view("\0", 1), font);
    if (tag == TidyTag_IMG)
      return ImportHTMLImage(process_, node, ImageWalk(font));
    const bool block = IsBlock(tag);
    if (block)
      RETURN_IF_FAILED(EndBlock());
    if (tag == TidyTag_HR)
      return Rule();
    if (tag == TidyTag_TABLE && depth < kDeepestNesting)
      return Table(node, font, pre, depth);
    if (block)
      paragraphs_.EnterBlock(node, tag);
    const char* link = nullptr;
    if (tag == TidyTag_A) {
      RETURN_IF_FAILED(Anchor(node));
      link = LinkAddress(node);
    }
    font_bytes element = ElementFont(node, tag, font);
    if (link != nullptr) {
      RETURN_IF_FAILED(LinkFont(&element));
      RETURN_IF_FAILED(LinkBegin(link));
    }
    const font_bytes inner = StyleAttributeFont(AttributeValue(node, TidyAttr_STYLE), element);
    if (depth < kDeepestNesting)
      RETURN_IF_FAILED(WalkChildren(node, inner, pre || tag == TidyTag_PRE, depth));
    else
      RETURN_IF_FAILED(FlatText(node, inner, pre || tag == TidyTag_PRE));
    if (link != nullptr) {
      RETURN_IF_FAILED(FlushRun());
      link_operation op;
      op.gen = &process_->gen;
      RETURN_IF_FAILED(GenerateLinkEnd(&op, SIG_CD_V4HOTSPOTEND));
    }
    if (!block)
      return NOERROR;
    RETURN_IF_FAILED(EndBlock());
    paragraphs_.LeaveBlock();
    return NOERROR;
  }

  /* The font of a link's content: the item's URL font string (else blue
   * underlined) over the font around it; a highlight it names goes into a
   * colour record. */
  STATUS LinkFont(font_bytes* font) {
    if (!linkFontParsed_) { // the same for every link of the import
      const VelkoRTItem* item = StateItem(process_);
      const char* text =
          item->URLFont != nullptr && *item->URLFont != '\0' ? item->URLFont : kDefaultUrlFont;
      font_spec specs[2];
      font_spec_mask masks[2];
      RETURN_IF_FAILED(ParseFontString(text, nullptr, StateItem(process_), specs, masks));
      linkSpec_ = specs[0];
      linkMask_ = masks[0];
      linkFontParsed_ = true;
    }
    FONTID id = FontIdOf(*font);
    DWORD rgb = 0;
    WORD colorFlags = 0;
    RETURN_IF_FAILED(ApplyFontOverride(&id, &rgb, &colorFlags, &linkSpec_, linkMask_.given));
    SetFontId(font, id);
    if (colorFlags != 0) {
      font->color_flags = colorFlags;
      font->rgb = rgb;
    } else if (linkMask_.given[2] != 0) { // the link's colour replaces an exact one around it
      font->color_flags = 0;
      font->rgb = 0;
    }
    return NOERROR;
  }

  /* The font after a style attribute over the font around it, read once
   * for each style text and font: documents repeat their styles. */
  font_bytes StyleAttributeFont(const char* style, const font_bytes& font) {
    if (style == nullptr)
      return font;
    std::string& key = styleKey_;
    key.assign(style);
    key.push_back('\0');
    const BYTE parts[4] = {font.face, font.attributes, font.color, font.size};
    key.append(reinterpret_cast<const char*>(parts), sizeof parts);
    key.append(reinterpret_cast<const char*>(&font.color_flags), sizeof font.color_flags);
    key.append(reinterpret_cast<const char*>(&font.rgb), sizeof font.rgb);
    const auto found = styleFonts_.find(key);
    if (found != styleFonts_.end())
      return found->second;
    const font_bytes styled = StyledFont(style, font, StateItem(process_),
                                         process_->session->internal->global_client_preference);
    styleFonts_.emplace(key, styled);
    return styled;
  }

  /* The beginning of a URL link; the walk writes its content, in the link
   * font, whether the element holds a sole text or more. */
  STATUS LinkBegin(const char* href) {
    std::string& url = linkUrl_;
    url.clear();
    RETURN_IF_FAILED(TranslateUtf8(href, &url));
    RETURN_IF_FAILED(StartContent());
    link_operation op;
    op.gen = &process_->gen;
    written_ = true;
    return GenerateURLBeginFromReference("", 0, url.c_str(), 0, &op, 1);
  }

  /* The text under an element nested too deep to walk, in its font, found
   * without recursion; what skipped elements hold stays out. */
  STATUS FlatText(TidyNode top, font_bytes font, bool pre) {
    TidyNode node = tidyGetChild(top);
    while (node != nullptr) {
      TidyNode child = nullptr;
      if (tidyNodeGetType(node) == TidyNode_Text)
        RETURN_IF_FAILED(Text(node, font, pre));
      else if (!IsSkipped(tidyNodeGetId(node)))
        child = tidyGetChild(node);
      if (child != nullptr) {
        node = child;
        continue;
      }
      while (node != top && tidyGetNext(node) == nullptr)
        node = tidyGetParent(node);
      node = node == top ? nullptr : tidyGetNext(node);
    }
    return NOERROR;
  }

  STATUS Text(TidyNode node, font_bytes font, bool pre) {
    std::string_view text;
    if (!parser_->NodeText(node, &text))
      return VELKO_ERR_MEMORY;
    return AppendUtf8(text, font, pre);
  }

  /* UTF-8 text in the font; in pre a line end is a NUL. */
  STATUS AppendUtf8(std::string_view utf8, font_bytes font, bool pre) {
    if (!pre && Utf8IsLmbcs(utf8)) // most text: appended without a copy on the way
      return AppendText(utf8, font);
    translated_.clear();
    RETURN_IF_FAILED(TranslateUtf8(utf8, &translated_));
    if (pre) {
      for (char& c : translated_) {
        if (c == '\n')
          c = '\0';
      }
    }
    return AppendText(translated_, font);
  }

  STATUS AppendText(std::string_view lmbcs, font_bytes font) {
    if (lmbcs.empty())
      return NOERROR;
    if (breakDue_ || !written_)
      RETURN_IF_FAILED(StartContent());
    if (!run_.empty() && !(font == runFont_))
      RETURN_IF_FAILED(FlushRun());
    runFont_ = font;
    run_.append(lmbcs);
    written_ = true;
    return NOERROR;
  }

  /* Starts the paragraph that is due, after the run so far. */
  STATUS StartContent() {
    RETURN_IF_FAILED(FlushRun());
    if (!breakDue_)
      return written_ ? NOERROR : paragraphs_.FirstContent();
    breakDue_ = false;
    const CDPARAGRAPH paragraph = {{static_cast<BYTE>(SIG_CD_PARAGRAPH), sizeof(CDPARAGRAPH)}};
    RETURN_IF_FAILED(CopyCDUpdated(&paragraph, SIG_CD_PARAGRAPH, sizeof paragraph, &process_->gen));
    return paragraphs_.ParagraphStarted();
  }

  /* hr: a rule with its defaults in a paragraph of its own. */
  STATUS Rule() {
    if (written_)
      breakDue_ = true;
    RETURN_IF_FAILED(StartContent());
    CDHRULE rule = {};
    ApplyPropertiesToHRuleRecord(process_->session, SIG_CD_HRULE, &rule, sizeof rule, "", 1);
    RETURN_IF_FAILED(CopyCDUpdated(&rule, SIG_CD_HRULE, rule.Header.Length, &process_->gen));
    written_ = true;
    breakDue_ = true;
    return NOERROR;
  }

  /* a name= (else id=): an anchor record before the link's content. */
  STATUS Anchor(TidyNode node) {
    const char* name = AttributeValue(node, TidyAttr_NAME);
    if (name == nullptr || *name == '\0')
      name = AttributeValue(node, TidyAttr_ID);
    if (name == nullptr || *name == '\0')
      return NOERROR;
    std::string lmbcs;
    RETURN_IF_FAILED(TranslateUtf8(name, &lmbcs));
    if (lmbcs.size() > kLongestRun)
      lmbcs.resize(LongestRunPiece(lmbcs));
    RETURN_IF_FAILED(StartContent());
    std::string record(sizeof(CDANCHOR) + lmbcs.size(), '\0');
    auto* anchor = reinterpret_cast<CDANCHOR*>(record.data());
    anchor->Header.Signature = SIG_CD_ANCHOR;
    anchor->Header.Length = static_cast<WORD>(record.size());
    anchor->NameLength = static_cast<WORD>(lmbcs.size());
    lmbcs.copy(record.data() + sizeof(CDANCHOR), lmbcs.size());
    written_ = true;
    return CopyCDUpdated(record.data(), SIG_CD_ANCHOR, static_cast<DWORD>(record.size()),
                         &process_->gen);
  }

  /* A block begins or ends: the run ends (without a line end right before
   * the block's end), and the next content starts a new paragraph. */
  STATUS EndBlock() {
    if (!run_.empty() && run_.back() == '\0')
      run_.pop_back();
    RETURN_IF_FAILED(FlushRun());
    if (written_)
      breakDue_ = true;
    return NOERROR;
  }

  /* The run as text records, each below the longest run, cut between
   * characters. */
  STATUS FlushRun() {
    BYTE header[8];
    memcpy(header, header_, sizeof header);
    const FONTID id = FontIdOf(runFont_);
    memcpy(header + 4, &id, sizeof id);
    std::string_view text = run_;
    if (text.size() <= kLongestRun) { // the common case: nothing to cut
      if (!text.empty())
        RETURN_IF_FAILED(EmitText(text, header));
      run_.clear();
      return NOERROR;
    }
    while (!text.empty()) {
      const size_t piece = LongestRunPiece(text);
      RETURN_IF_FAILED(EmitText(text.substr(0, piece), header));
      text.remove_prefix(piece);
    }
    run_.clear();
    return NOERROR;
  }

  /* A text record as GenerateCDText hands it to the import's list, made
   * there directly. */
  STATUS TextRecord(std::string_view text, const BYTE header[8]) {
    generation_context* gen = &process_->gen;
    if (gen->import_target == nullptr || gen->item->internal == nullptr)
      return GenerateCDText(text.data(), static_cast<int>(text.size()), header, gen);
    return CopyTextToRec(header, text, gen->import_target);
  }

  /* One text record; with an exact colour, bracketed with its colour
   * record. */
  STATUS EmitText(std::string_view text, const BYTE header[8]) {
    generation_context* gen = &process_->gen;
    if (runFont_.color_flags == 0)
      return TextRecord(text, header);
    RETURN_IF_FAILED(GenerateCDBegin(SIG_CD_TEXT, 0, gen));
    RETURN_IF_FAILED(TextRecord(text, header));
    RETURN_IF_FAILED(GenerateCDColorValue(static_cast<BYTE>(SIG_CD_COLOR), runFont_.rgb,
                                          runFont_.color_flags, gen));
    return GenerateCDEnd(SIG_CD_TEXT, 0, gen);
  }

  /* A table (import/html_tables.h): its cells' content walked in the font
   * around the table. */
  STATUS Table(TidyNode node, font_bytes font, bool pre, int depth) {
    class hooks final : public html_table_walk {
    public:
      hooks(html_walker* walker, font_bytes font, bool pre, int depth)
          : walker_(walker), font_(font), pre_(pre), depth_(depth) {}
      STATUS BeforeTable() override {
        walker_->breakDue_ = false;
        return walker_->FlushRun();
      }
      STATUS Block(TidyNode node) override {
        RETURN_IF_FAILED(walker_->EndBlock());
        RETURN_IF_FAILED(walker_->WalkChildren(node, font_, pre_, depth_ + 1));
        return walker_->EndBlock();
      }
      STATUS CellContent(TidyNode node) override {
        walker_->written_ = false;
        walker_->breakDue_ = false;
        RETURN_IF_FAILED(walker_->WalkChildren(node, font_, pre_, depth_ + 2));
        RETURN_IF_FAILED(walker_->EndBlock());
        AfterTable();
        return NOERROR;
      }
      STATUS TabbedCell(TidyNode node, bool first) override {
        if (!first)
          RETURN_IF_FAILED(walker_->AppendText("\t", font_));
        return walker_->WalkChildren(node, font_, pre_, depth_ + 2);
      }
      STATUS EndRow() override { return walker_->EndBlock(); }
      void AfterTable() override {
        walker_->written_ = false;
        walker_->breakDue_ = false;
      }

    private:
      html_walker* walker_;
      font_bytes font_;
      bool pre_;
      int depth_;
    } walk(this, font, pre, depth);
    return ImportHTMLTable(node, process_, &paragraphs_, &walk);
  }

  /* What the image step asks of the walk, in the font around the image. */
  html_image_walk ImageWalk(font_bytes font) {
    auto begin = [this]() -> STATUS {
      RETURN_IF_FAILED(StartContent());
      written_ = true;
      return NOERROR;
    };
    return {begin, [this, font](std::string_view alt) { return AppendUtf8(alt, font, false); },
            &inlineParts_};
  }

  chunk_process_state* process_;
  tidy_parser* parser_;
  BYTE header_[8];
  std::string run_;
  std::string translated_; /* AppendUtf8's LMBCS, reused from text to text */
  std::string linkUrl_;    /* LinkBegin's address, reused from link to link */
  /* The item's URL font, parsed at the first link. */
  bool linkFontParsed_ = false;
  font_spec linkSpec_ = {};
  font_spec_mask linkMask_ = {};
  std::unordered_map<std::string, font_bytes> styleFonts_; /* StyleAttributeFont's */
  inline_part_index inlineParts_; /* the chunk's inline parts, for "cid:" images */
  std::string styleKey_; /* StyleAttributeFont's key, reused from element to element */
  font_bytes runFont_ = {};
  bool written_ = false;  /* some text was written */
  bool breakDue_ = false; /* a paragraph starts before the next text */
  html_paragraphs paragraphs_{process_}; /* the paragraphs' definitions */
};

/* Emits the collected records into the output body, in order. The
 * output takes over the list's memory: runs of records the emitter's lane
 * takes skip the per-record checks it would pass them by, their nodes
 * linked into the output as they are; the output's nodes for the others
 * point at the records in the list instead of copying them. */
STATUS FlushRecordList(const html_import_state& import, body_context* list,
                       chunk_process_state* process) {
  generation_context* gen = &process->gen;
  emitter_lane lane;
  bool laneOpen = false;
  STATUS status = NOERROR;
  for (record_storage* node = import.head; node != nullptr && status == NOERROR;
       node = node->next) {
    // The list was written a while ago: what lies ahead is asked for
    // again, as the walk's lane does.
    __builtin_prefetch(reinterpret_cast<const char*>(node) + kLaneLookAhead);
    if (!laneOpen)
      laneOpen = OpenEmitterLane(gen, true, &lane);
    if (laneOpen) {
      if (TakeLaneNode(&lane, node, EmitterLaneKind(node->signature)))
        continue; // its next still leads on in the list
      CloseEmitterLane(&lane);
      laneOpen = false;
    }
    const void* const lasting = gen->lasting_record;
    gen->lasting_record = node->data;
    status = CopyCDUpdated(node->data, node->signature, node->length, gen);
    gen->lasting_record = lasting;
  }
  if (laneOpen)
    CloseEmitterLane(&lane);
  // Whatever was emitted, the nodes made so far may point into the list.
  if (body_context* output = gen->item->internal->output; output != nullptr)
    MoveBodyMemory(output, list);
  return status;
}

/* Parses the UTF-8 HTML and walks its body into the import's list. The
 * parser (and the text it parsed) is given back before the list is
 * emitted: the output body is then built in memory the process already
 * holds rather than in pages new to it. */
STATUS ParseAndWalk(std::string_view utf8, html_import_state* import,
                    chunk_process_state* process) {
  std::string numbered;
  if (NumberTableEntities(utf8, &numbered))
    utf8 = numbered;
  std::string flattened;
  if (FlattenDeepNesting(utf8, kDeepestParsedNesting, &flattened))
    utf8 = flattened;
  tidy_parser parser(process->session);
  RETURN_IF_FAILED(parser.Parse(utf8));
  import->document = parser.document();
  STATUS status = NOERROR;
  process->gen.import_target = import;
  try {
    status = html_walker(process, &parser).Walk(tidyGetBody(parser.document()));
  } catch (const std::bad_alloc&) {
    LogOutOfMemory(VELKO_HERE);
    status = VELKO_ERR_MEMORY;
  }
  process->gen.import_target = nullptr;
  import->document = nullptr;
  ReturnListSpare(import);
  return status;
}

/* Parses the UTF-8 HTML and writes its body. */
STATUS ImportUtf8(std::string_view utf8, const char* options, WORD charset,
                  chunk_process_state* process) {
  body_context list = {};
  html_import_state import;
  import.session = process->session;
  import.process = process;
  import.list_body = &list;
  import.options = options;
  import.charset = charset;
  import.table_depth = process->gen.table_level;
  STATUS status = ParseAndWalk(utf8, &import, process);
  if (status == NOERROR)
    status = FlushRecordList(import, &list, process);
  ReleaseItemsRecords(process->session, &list);
  return status;
}

/* The character set the option "Charset=" names, with the name retried
 * without '-', '_' and blanks; 0 when it names none. */
WORD OptionCharset(const char* options) {
  char value[64] = {};
  if (options == nullptr || ExtractProperty(options, "Charset=", value, sizeof value) == 0 ||
      value[0] == '\0')
    return 0;
  if (WORD csid = CSIDFromString(value, 0); csid != 0)
    return csid;
  std::string plain;
  for (const char* at = value; *at != '\0'; ++at) {
    if (*at != '-' && *at != '_' && *at != ' ')
      plain.push_back(*at);
  }
  return CSIDFromString(plain.c_str(), 0);
}

/* The charset a <meta> names in the first 1024 bytes, or 0. */
WORD MetaCharset(std::string_view content) {
  std::string head(content.substr(0, 1024));
  for (char& c : head)
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  const size_t meta = head.find("<meta");
  if (meta == std::string::npos)
    return 0;
  size_t at = head.find("charset=", meta);
  if (at == std::string::npos)
    return 0;
  at += 8;
  while (at < head.size() && (head[at] == '"' || head[at] == '\''))
    ++at;
  size_t end = at;
  while (end < head.size() && (isalnum(static_cast<unsigned char>(head[end])) || head[end] == '-' ||
                               head[end] == '_' || head[end] == ':' || head[end] == '.'))
    ++end;
  return CSIDFromString(head.substr(at, end - at).c_str(), 0);
}

/* The text of the character set as UTF-8 for the parser. */
STATUS ToUtf8(std::string_view text, WORD csid, std::string* utf8) {
  if (csid == NLS_CS_UTF8) {
    utf8->assign(text);
    return NOERROR;
  }
  std::string lmbcs;
  if (STATUS status = TranslateToLmbcs(text, csid, &lmbcs); status != NOERROR)
    return status;
  return TranslateLmbcsToUtf8(lmbcs, utf8);
}

STATUS ImportFile(const char* path, const char* options, chunk_process_state* process) {
  std::string content;
  if (!ReadWholeFile(path, &content))
    return VELKO_ERR_NO_INPUT;
  std::string_view text = content;
  WORD csid = OptionCharset(options);
  if (csid == 0 && text.substr(0, kUtf8Mark.size()) == kUtf8Mark) {
    text.remove_prefix(kUtf8Mark.size());
    csid = NLS_CS_UTF8;
  }
  if (csid == 0)
    csid = MetaCharset(text);
  if (csid == 0)
    csid = IsUtf8(text, false) ? NLS_CS_UTF8 : NLS_CS_WIN1252;
  std::string utf8;
  if (STATUS status = ToUtf8(text, csid, &utf8); status != NOERROR)
    return status;
  return ImportUtf8(utf8, options, csid, process);
}

STATUS ImportInline(std::string_view text, const char* options, chunk_process_state* process) {
  WORD csid = OptionCharset(options);
  if (csid == 0)
    csid = NLS_CS_LMBCS;
  if (csid == NLS_CS_UTF8) // parsed where it is
    return ImportUtf8(text, options, csid, process);
  std::string utf8;
  if (STATUS status = ToUtf8(text, csid, &utf8); status != NOERROR)
    return status;
  return ImportUtf8(utf8, options, csid, process);
}

/* The HTML held as text in a loaded body: the text of each text record
 * (its entity text when it was loaded with one), a line end for each
 * paragraph. */
std::string BodyText(const body_context* body) {
  std::string text;
  for (const record_storage* node = body->records; node != nullptr; node = node->next) {
    const auto* entity = node->signature == SIG_CD_TEXT && (node->flags & RECORD_SIDE_TEXT) != 0
                             ? static_cast<const text_side_data*>(node->SideData())
                             : nullptr;
    if (entity != nullptr)
      text.append(entity->text, entity->length);
    else if (node->signature == SIG_CD_TEXT && node->length > sizeof(CDTEXT))
      text.append(node->data + sizeof(CDTEXT), node->length - sizeof(CDTEXT));
    else if (node->signature == SIG_CD_PARAGRAPH)
      text.push_back('\n');
  }
  return text;
}

/* With "MarkPassthruHTML=Yes", the regions between the options'
 * "PassthruHTMLStart=" and "PassthruHTMLEnd=" become bracketed text. */
STATUS MarkPassthru(body_context* body, const char* options, LSXLsiSession* session) {
  char value[8] = {};
  if (ExtractPropertyBOOL(options, "MarkPassthruHTML=", value, sizeof value, 0) == 0)
    return NOERROR;
  html_import_state marking;
  marking.session = session;
  marking.passthru_start =
      VelkoAllocatePtrExtractProperty(session, VELKO_HERE, options, "PassthruHTMLStart=");
  marking.passthru_end =
      VelkoAllocatePtrExtractProperty(session, VELKO_HERE, options, "PassthruHTMLEnd=");
  const STATUS status = EncodePassthruHTML(body, &marking);
  VelkoDeallocatePtr(session, marking.passthru_start);
  VelkoDeallocatePtr(session, marking.passthru_end);
  return status;
}

STATUS LoadAndParseHTMLFromBodyContext(body_context* body, const char* options,
                                       chunk_process_state* process) {
  if (options != nullptr)
    RETURN_IF_FAILED(MarkPassthru(body, options, process->session));
  const std::string text = BodyText(body);
  if (text.empty())
    return VELKO_STATUS_INLINE_HTML;
  return ImportInline(text, options, process);
}

bool UsableState(const chunk_process_state* state) {
  return state != nullptr && StateItem(state) != nullptr && state->session != nullptr;
}

} // namespace

STATUS GenerateCDRecordsFromHTMLFile(const char* path, const char* options,
                                     chunk_process_state* state) {
  if (!UsableState(state))
    return VELKO_ERR_BAD_ARGUMENT;
  if (path == nullptr)
    return VELKO_ERR_NO_INPUT;
  try {
    return ImportFile(path, options, state);
  } catch (const std::bad_alloc&) {
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
}

STATUS GenerateCDRecordsFromHTMLInline(const char* text, DWORD length, const char* options,
                                       chunk_process_state* state, DWORD, DWORD) {
  if (!UsableState(state))
    return VELKO_ERR_BAD_ARGUMENT;
  if (text == nullptr)
    return VELKO_STATUS_INLINE_HTML;
  const size_t size = length != 0 ? length : strlen(text);
  if (size == 0)
    return VELKO_STATUS_INLINE_HTML;
  try {
    return ImportInline(std::string_view(text, size), options, state);
  } catch (const std::bad_alloc&) {
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
}

STATUS GenerateCDRecordsFromHTMLBodyContext(body_context* const contexts[2], const char* options,
                                            chunk_process_state* state) {
  if (!UsableState(state))
    return VELKO_ERR_BAD_ARGUMENT;
  if (contexts == nullptr || contexts[0] == nullptr)
    return VELKO_ERR_NO_INPUT;
  try {
    return LoadAndParseHTMLFromBodyContext(contexts[0], options, state);
  } catch (const std::bad_alloc&) {
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
}
