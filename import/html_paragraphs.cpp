/*
 * The paragraph styles of an HTML import: reading what a block element
 * asks of its paragraphs, turning it into a paragraph-style string over
 * the template definition, and writing each distinct definition once
 * under a new PABID (see html_paragraphs.h).
 */
#include "import/html_paragraphs.h"

#include <ctype.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <utility>

#include "chunk/paragraph_style.h"
#include "engine/process_state.h"
#include "engine/retrieve.h"
#include "engine/services.h"
#include "generate/built_record.h"
#include "generate/services.h"
#include "import/css_declarations.h"
#include "import/html_import_state.h"
#include "store/body.h"
#include "store/emitter.h"

namespace {

constexpr int32_t kTwipsPerInch = 1440;
constexpr int32_t kListIndent = kTwipsPerInch / 2; /* per list level */
constexpr int32_t kQuoteIndent = kTwipsPerInch / 2;
constexpr int32_t kLargestMargin = 0xFFFF;
/* Half a line of 12 points: the step between the spacing values. */
constexpr int32_t kSpacingStep = 120;

constexpr const char* kJustifyWords[] = {"LEFT", "RIGHT", "FULL", "CENTER"};
constexpr const char* kSpacingWords[] = {"SINGLE", "1.5", "DOUBLE"};

constexpr const char* kBulletWord = "BULLET";
constexpr const char* kNumberWord = "NUMBERED_LIST";

/* Flags2 bits: the left margin, and the first line's, also kept as an
 * offset in the extension words. */
constexpr WORD kLeftOffsetBit = 0x0004;
constexpr WORD kFirstLineOffsetBit = 0x0010;

const char* Attribute(TidyNode node, TidyAttrId id) {
  TidyAttr attribute = tidyAttrGetById(node, id);
  return attribute == nullptr ? nullptr : tidyAttrValue(attribute);
}

/* The justification an align value or a text-align value names, or -1. */
int JustifyOf(const std::string& value) {
  if (value == "left")
    return 0;
  if (value == "right")
    return 1;
  if (value == "justify")
    return 2;
  if (value == "center")
    return 3;
  return -1;
}

/* The spacing value of a vertical margin: its nearest number of half
 * lines, at most two. */
int SpacingOf(int32_t twips) {
  const int32_t halves = (twips + kSpacingStep / 2) / kSpacingStep;
  return halves <= 0 ? 0 : halves == 1 ? 1 : 2;
}

/* The list word of an HTML list type: a type attribute's letter (case
 * matters) or a list-style-type name. Null for another. */
const char* ListWordOf(const std::string& type) {
  static const struct {
    const char* type;
    const char* word;
  } kTypes[] = {
      {"1", kNumberWord},           {"a", "LOWER_ALPHA_LIST"},     {"A", "UPPER_ALPHA_LIST"},
      {"i", "LOWER_ROMAN_LIST"},    {"I", "UPPER_ROMAN_LIST"},     {"disc", kBulletWord},
      {"circle", "CIRCLE_LIST"},    {"square", "SQUARE_LIST"},     {"decimal", kNumberWord},
      {"lower-alpha", "LOWER_ALPHA_LIST"}, {"lower-latin", "LOWER_ALPHA_LIST"},
      {"upper-alpha", "UPPER_ALPHA_LIST"}, {"upper-latin", "UPPER_ALPHA_LIST"},
      {"lower-roman", "LOWER_ROMAN_LIST"}, {"upper-roman", "UPPER_ROMAN_LIST"},
  };
  for (const auto& entry : kTypes) {
    if (type == entry.type)
      return entry.word;
  }
  return nullptr;
}

/* The list word a type attribute gives, else `word`. */
const char* TypedListWord(TidyNode node, const char* word) {
  const char* type = Attribute(node, TidyAttr_TYPE);
  if (type == nullptr)
    return word;
  const std::string lower = TrimmedLower(type);
  // A one-letter type keeps its case: "a" and "A" are other lists.
  const char* typed = ListWordOf(
      lower.size() == 1 ? std::string(1, type[strspn(type, " \t\r\n\f")]) : lower);
  return typed != nullptr ? typed : word;
}

bool TakesAlign(TidyTagId tag) {
  switch (tag) {
  case TidyTag_P: case TidyTag_DIV: case TidyTag_H1: case TidyTag_H2: case TidyTag_H3:
  case TidyTag_H4: case TidyTag_H5: case TidyTag_H6: case TidyTag_TD: case TidyTag_TH:
    return true;
  default:
    return false;
  }
}

/* A block element that may ask a style of the paragraphs in it. */
bool StylesParagraphs(TidyNode node) {
  const TidyTagId tag = tidyNodeGetId(node);
  return TakesAlign(tag) || tag == TidyTag_CENTER || tag == TidyTag_BLOCKQUOTE ||
         tag == TidyTag_UL || tag == TidyTag_OL || tag == TidyTag_LI;
}

/* The declarations of a style attribute that concern paragraphs. */
void ReadStyleAttribute(const char* text, TidyTagId tag, block_paragraph_style* style) {
  css_declarations declarations(text);
  std::string name;
  std::string value;
  while (declarations.Next(&name, &value)) {
    int32_t twips = 0;
    if (name == "text-align") {
      if (const int justify = JustifyOf(value); justify >= 0)
        style->justify = justify;
    } else if (name == "margin-left" && CssLengthTwips(value, &twips)) {
      style->left += twips;
    } else if (name == "text-indent" && CssLengthTwips(value, &twips)) {
      style->indent = twips;
      style->indented = true;
    } else if (name == "margin-top" && CssLengthTwips(value, &twips)) {
      style->above = SpacingOf(twips);
    } else if (name == "margin-bottom" && CssLengthTwips(value, &twips)) {
      style->below = SpacingOf(twips);
    } else if (name == "list-style-type") {
      const char* word = ListWordOf(value);
      if (word == nullptr)
        continue;
      if (tag == TidyTag_LI && style->list_level > 0)
        style->item_word = word;
      else if (tag == TidyTag_UL || tag == TidyTag_OL)
        style->list_word = word;
    }
  }
}

int32_t Clamped(int64_t twips) {
  return twips < 0 ? 0 : twips > kLargestMargin ? kLargestMargin : static_cast<int32_t>(twips);
}

/* Whether the style asks nothing of a paragraph: ParagraphStyleText has no
 * word for it, and its paragraphs take the template. */
bool AsksNothing(const block_paragraph_style& style) {
  return style.justify < 0 && style.left == 0 && !style.indented && style.list_level == 0 &&
         style.above < 0 && style.below < 0 && style.item_word == nullptr;
}

/* Twips as inches that the paragraph-style parser reads back exactly
 * (it truncates toward zero). */
std::string Inches(int32_t twips) {
  char text[32];
  snprintf(text, sizeof text, "%.6f", (twips + 0.5) / kTwipsPerInch);
  return text;
}

/* A summary of a definition that two definitions comparing equal (checking
 * their lengths) share: the length and the margins and justification among
 * its bytes, which the comparison reads. */
uint64_t WrittenBucket(const _CDPABDEFEXT& definition) {
  const CDPABDEFINITION& d = definition.Definition;
  const size_t length = d.Header.Length;
  auto field = [length](size_t offset, WORD value) -> uint64_t {
    return offset + sizeof(WORD) <= length ? value : 0;
  };
  return uint64_t{d.Header.Length} |
         field(offsetof(CDPABDEFINITION, JustifyMode), d.JustifyMode) << 16 |
         (field(offsetof(CDPABDEFINITION, LeftMargin), d.LeftMargin) ^
          field(offsetof(CDPABDEFINITION, FirstLineLeftMargin), d.FirstLineLeftMargin) << 5)
             << 24 |
         field(offsetof(CDPABDEFINITION, RightMargin), d.RightMargin) << 48;
}

} // namespace

bool CssLengthTwips(const std::string& value, int32_t* twips) {
  char* end = nullptr;
  const double number = strtod(value.c_str(), &end);
  if (end == value.c_str())
    return false;
  const std::string unit = TrimmedLower(end);
  double result = 0;
  if (unit == "pt")
    result = number * 20;
  else if (unit == "px")
    result = number * 15;
  else if (unit == "in")
    result = number * kTwipsPerInch;
  else if (unit == "cm")
    result = number * kTwipsPerInch / 2.54;
  else if (unit == "mm")
    result = number * kTwipsPerInch / 25.4;
  else if (unit.empty() && number == 0)
    result = 0;
  else
    return false;
  if (!(result > -kLargestMargin && result < kLargestMargin)) // NaN too
    return false;
  *twips = static_cast<int32_t>(result < 0 ? result - 0.5 : result + 0.5);
  return true;
}

std::string ParagraphStyleText(const block_paragraph_style& style, const _CDPABDEFEXT& base) {
  if (AsksNothing(style))
    return std::string();
  const CDPABDEFINITION& definition = base.Definition;
  std::string text;
  if (style.justify >= 0)
    text += std::string("Justify=") + kJustifyWords[style.justify] + " ";
  if (style.left != 0 || style.indented || style.list_level > 0) {
    const int32_t left = Clamped(int64_t{definition.LeftMargin} + style.left +
                                 int64_t{kListIndent} * style.list_level);
    const int32_t first =
        Clamped(left + (style.indented ? int64_t{style.indent}
                                       : int64_t{definition.FirstLineLeftMargin} -
                                             definition.LeftMargin));
    text += "LEFTMARGIN=" + Inches(left) + " LEFTMARGINFIRST=" + Inches(first) + " ";
    // A margin the template also keeps as an offset is changed there too.
    if ((definition.Flags2 & kLeftOffsetBit) != 0)
      text += "LEFTMARGINOFFSET=" + Inches(left) + " ";
    if ((definition.Flags2 & kFirstLineOffsetBit) != 0)
      text += "FirstLineLeftMarginOffset=" + Inches(first) + " ";
  }
  if (style.above >= 0)
    text += std::string("Above=") + kSpacingWords[style.above] + " ";
  if (style.below >= 0)
    text += std::string("Below=") + kSpacingWords[style.below] + " ";
  if (style.item_word != nullptr)
    text += std::string("+") + style.item_word + " ";
  if (!text.empty())
    text.pop_back();
  return text;
}

html_paragraphs::html_paragraphs(chunk_process_state* process) : process_(process) {
  static_assert(sizeof frame_.definition == sizeof process->gen.paragraph_copy);
  memcpy(&frame_.definition, process->gen.paragraph_copy, sizeof frame_.definition);
  CDPABREFERENCE reference;
  static_assert(sizeof reference == sizeof process->gen.paragraph_word);
  memcpy(&reference, &process->gen.paragraph_word, sizeof reference);
  frame_.in_effect = reference.PABID;
  frame_.defined = false; // looked up at the first reference to it
}

STATUS html_paragraphs::PabidFor(const _CDPABDEFEXT& definition, WORD* pabid) {
  LSXLsiSession* session = process_->session;
  if (CompareParagraphs(session, &definition, &frame_.definition, 1) != 0) {
    *pabid = frame_.definition.Definition.PABID;
    return NOERROR;
  }
  // The definitions written only grow, so the first that compares equal
  // to the same bytes stays the first: it is looked for once.
  const std::string key(reinterpret_cast<const char*>(&definition), sizeof definition);
  if (const auto found = writtenFor_.find(key); found != writtenFor_.end()) {
    *pabid = found->second;
    return NOERROR;
  }
  if (const auto bucket = writtenBy_.find(WrittenBucket(definition)); bucket != writtenBy_.end()) {
    for (const size_t index : bucket->second) {
      const _CDPABDEFEXT& earlier = written_[index];
      if (CompareParagraphs(session, &definition, &earlier, 1) != 0) {
        *pabid = earlier.Definition.PABID;
        writtenFor_.emplace(key, *pabid);
        return NOERROR;
      }
    }
  }
  if (highest_ == 0) {
    SetLastPABID(process_);
    highest_ = process_->last_pabid;
    const template_frame& import = outer_.empty() ? frame_ : outer_.front();
    for (WORD known :
         {process_->gen.current_pabid, import.definition.Definition.PABID, import.in_effect}) {
      if (known > highest_)
        highest_ = known;
    }
  }
  if (highest_ == 0xFFFF)
    return kServiceNotAvailable; // no id left
  RETURN_IF_FAILED(Write(definition, static_cast<WORD>(highest_ + 1)));
  *pabid = ++highest_;
  writtenFor_.emplace(key, *pabid);
  if (highest_ > process_->last_pabid)
    process_->last_pabid = highest_;
  return NOERROR;
}

STATUS html_paragraphs::Write(_CDPABDEFEXT definition, WORD pabid) {
  definition.Definition.PABID = pabid;
  WORD length = definition.Definition.Header.Length;
  if (length < sizeof(CDPABDEFINITION) || length > sizeof definition)
    length = sizeof definition;
  RETURN_IF_FAILED(
      CopyCDUpdated(&definition, SIG_CD_PABDEFINITION, length, &process_->gen));
  writtenBy_[WrittenBucket(definition)].push_back(written_.size());
  written_.push_back(definition);
  return NOERROR;
}

STATUS html_paragraphs::TemplatePabid(WORD* pabid) {
  *pabid = frame_.definition.Definition.PABID;
  if (frame_.defined)
    return NOERROR;
  RETURN_IF_FAILED(RetrievePABDEF(*pabid, RETRIEVE_FORWARD | RETRIEVE_FIRST_TAKEN, process_));
  if (process_->retrieved_found == 0)
    RETURN_IF_FAILED(Write(frame_.definition, *pabid));
  frame_.defined = true;
  return NOERROR;
}

void html_paragraphs::EnterBlock(TidyNode node, TidyTagId tag) {
  std::vector<block_paragraph_style>& blocks = frame_.blocks;
  block_paragraph_style style = blocks.empty() ? block_paragraph_style{} : blocks.back();
  style.above = -1; // spacing belongs to the block that names it
  style.below = -1;
  if (tag == TidyTag_CENTER) {
    style.justify = 3;
  } else if (TakesAlign(tag)) {
    if (const char* align = Attribute(node, TidyAttr_ALIGN); align != nullptr) {
      if (const int justify = JustifyOf(TrimmedLower(align)); justify >= 0)
        style.justify = justify;
    }
  } else if (tag == TidyTag_BLOCKQUOTE) {
    style.left += kQuoteIndent;
  } else if (tag == TidyTag_UL || tag == TidyTag_OL) {
    ++style.list_level;
    style.list_word = TypedListWord(node, tag == TidyTag_OL ? kNumberWord : kBulletWord);
    style.item_word = nullptr;
  } else if (tag == TidyTag_LI && style.list_level > 0) {
    style.item_word = TypedListWord(node, style.list_word);
  }
  if (const char* text = Attribute(node, TidyAttr_STYLE); text != nullptr)
    ReadStyleAttribute(text, tag, &style);
  blocks.push_back(style);
}

void html_paragraphs::LeaveBlock() {
  if (!frame_.blocks.empty())
    frame_.blocks.pop_back();
}

STATUS html_paragraphs::EnterCell(const _CDPABDEFEXT& definition, TidyNode cell) {
  WORD pabid = definition.Definition.PABID;
  if (pabid == frame_.definition.Definition.PABID)
    RETURN_IF_FAILED(TemplatePabid(&pabid)); // the cell takes the template around it
  outer_.push_back(std::move(frame_));
  // A new frame over the one moved from, as template_frame{} would be but
  // for `unchanged`, which is worked out before it is read; the lists of
  // the last cell left, emptied, so that a cell allocates nothing.
  frame_.definition = definition;
  frame_.updated = false;
  frame_.defined = true;
  frame_.in_effect = 0;
  frame_.blocks = std::move(spareBlocks_);
  frame_.blocks.clear();
  frame_.decided = std::move(spareDecided_);
  frame_.decided.clear();
  opening_ = opening::empty;
  after_table_ = nullptr;
  if (cell == nullptr)
    return Refer(pabid);
  EnterBlock(cell, tidyNodeGetId(cell));
  // The reference names the style of the blocks the cell begins with, so
  // that its first content seldom needs another.
  for (TidyNode child = tidyGetChild(cell); child != nullptr && StylesParagraphs(child);
       child = tidyGetChild(child))
    EnterBlock(child, tidyNodeGetId(child));
  const STATUS status = WantedPabid(&pabid);
  frame_.blocks.resize(1);
  return status == NOERROR ? Refer(pabid) : status;
}

void html_paragraphs::LeaveCell() {
  if (outer_.empty())
    return;
  spareBlocks_ = std::move(frame_.blocks);
  spareDecided_ = std::move(frame_.decided);
  frame_ = std::move(outer_.back());
  outer_.pop_back();
  opening_ = opening::started;
  after_table_ = nullptr;
}

STATUS html_paragraphs::TableClosingPabid(WORD* pabid) { return TemplatePabid(pabid); }

void html_paragraphs::TableEnded(WORD pabid, record_storage* reference) {
  frame_.in_effect = pabid;
  opening_ = opening::empty;
  after_table_ = reference;
}

STATUS html_paragraphs::RestyleAfterTable(record_storage* reference) {
  // A second reference behind the paragraph's empty run would start a
  // paragraph of its own: the one there takes the style instead, and a
  // definition the style needs goes in before it.
  html_import_state* import = process_->gen.import_target;
  record_storage* const point = import->insertion_point;
  import->insertion_point = reference->previous;
  WORD pabid = 0;
  const STATUS status = WantedPabid(&pabid);
  import->insertion_point = point;
  RETURN_IF_FAILED(status);
  if (pabid == frame_.in_effect)
    return NOERROR;
  CDPABREFERENCE record;
  memcpy(&record, reference->data, sizeof record);
  record.PABID = pabid;
  memcpy(reference->data, &record, sizeof record);
  frame_.in_effect = pabid;
  return NOERROR;
}

STATUS html_paragraphs::StyledDefinition(_CDPABDEFEXT* definition, bool* styled) {
  *styled = false;
  const std::vector<block_paragraph_style>& blocks = frame_.blocks;
  const std::string text =
      blocks.empty() ? std::string() : ParagraphStyleText(blocks.back(), frame_.definition);
  if (text.empty())
    return NOERROR;
  VelkoRTItem* item = StateItem(process_);
  if (!frame_.updated) {
    // Every update marks the definition; a style that changes nothing else
    // keeps the template.
    frame_.unchanged = frame_.definition;
    RETURN_IF_FAILED(ApplyParagraphStyleText(item, "", &frame_.unchanged));
    frame_.updated = true;
  }
  *definition = frame_.definition;
  RETURN_IF_FAILED(ApplyParagraphStyleText(item, text.c_str(), definition));
  *styled = CompareParagraphs(process_->session, definition, &frame_.unchanged, 1) == 0;
  return NOERROR;
}

STATUS html_paragraphs::WantedPabid(WORD* pabid) {
  if (frame_.blocks.empty() || AsksNothing(frame_.blocks.back())) {
    // Nothing to look up: an unstyled paragraph takes the template.
    *pabid = frame_.definition.Definition.PABID;
    return NOERROR;
  }
  const block_paragraph_style style = frame_.blocks.back();
  for (const auto& [decided_style, decided_pabid] : frame_.decided) {
    if (decided_style == style) {
      *pabid = decided_pabid;
      return NOERROR;
    }
  }
  _CDPABDEFEXT definition;
  bool styled = false;
  RETURN_IF_FAILED(StyledDefinition(&definition, &styled));
  if (!styled)
    *pabid = frame_.definition.Definition.PABID;
  else
    RETURN_IF_FAILED(PabidFor(definition, pabid));
  // Kept only once decided: a failed write leaves no id behind.
  frame_.decided.emplace_back(style, *pabid);
  return NOERROR;
}

STATUS html_paragraphs::Refer(WORD pabid) {
  if (pabid == frame_.definition.Definition.PABID)
    RETURN_IF_FAILED(TemplatePabid(&pabid)); // its definition goes before the first reference
  frame_.in_effect = pabid;
  CDPABREFERENCE reference = {};
  reference.Header.Signature = static_cast<BYTE>(SIG_CD_PABREFERENCE);
  reference.Header.Length = sizeof reference;
  reference.PABID = pabid;
  return CopyCDUpdated(&reference, SIG_CD_PABREFERENCE, sizeof reference, &process_->gen);
}

STATUS html_paragraphs::ParagraphStarted() {
  opening_ = opening::started;
  after_table_ = nullptr;
  WORD pabid = 0;
  RETURN_IF_FAILED(WantedPabid(&pabid));
  // A styled paragraph always names its definition, so that each list
  // item is a paragraph of its own; an unstyled one only goes back.
  return pabid == frame_.in_effect && pabid == frame_.definition.Definition.PABID ? NOERROR
                                                                                   : Refer(pabid);
}

STATUS html_paragraphs::FirstContent() {
  const opening open = opening_;
  if (open == opening::started)
    return NOERROR;
  opening_ = opening::started;
  record_storage* const afterTable = after_table_;
  after_table_ = nullptr;
  WORD pabid = 0;
  if (afterTable != nullptr && afterTable->previous != nullptr &&
      process_->gen.import_target != nullptr)
    return RestyleAfterTable(afterTable);
  if (open == opening::empty) {
    // A cell's first paragraph or the one after a table holds no text:
    // it takes the style its blocks ask.
    RETURN_IF_FAILED(WantedPabid(&pabid));
    return pabid == frame_.in_effect ? NOERROR : Refer(pabid);
  }
  _CDPABDEFEXT definition;
  bool styled = false;
  RETURN_IF_FAILED(StyledDefinition(&definition, &styled));
  if (!styled)
    return NOERROR; // the paragraph goes on as it is
  const BYTE before = process_->gen.text_state;
  if (before == TEXT_STATE_TEXT || before == TEXT_STATE_ENVELOPE_END) {
    const CDPARAGRAPH paragraph = {{static_cast<BYTE>(SIG_CD_PARAGRAPH), sizeof(CDPARAGRAPH)}};
    RETURN_IF_FAILED(
        CopyCDUpdated(&paragraph, SIG_CD_PARAGRAPH, sizeof paragraph, &process_->gen));
  }
  RETURN_IF_FAILED(PabidFor(definition, &pabid));
  return pabid == frame_.in_effect ? NOERROR : Refer(pabid);
}
