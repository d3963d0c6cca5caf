/*
 * Paragraphs: what a paragraph reference starts in the output. The
 * paragraph's definition is found (through the remap of equal
 * definitions), a hidden paragraph is dropped with its text, the markup the
 * previous paragraph left open is closed, and the new paragraph opens its
 * list and list item, its paragraph or division element (with a class, or
 * with its style inline), or, with simple tags, only a line break or an
 * alignment division; or the texts of the item's first paragraph style
 * mapping that the paragraph meets replace all of that. The first
 * paragraph of a table cell (and of the record list) gets no paragraph
 * element unless ForceParagraphs is set.
 *
 * Also the reading of paragraph definition records that every renderer of
 * paragraphs shares.
 *
 * Not here: the CSS of each definition (render/head.cpp), the indentation
 * of nested lists (render/lists.cpp), border CSS (render/borders.cpp).
 */
#include <string.h>
#include <strings.h>

#include <iterator>
#include <string>
#include <string_view>

#include "chunk/paragraph_style.h"
#include "engine/record_fields.h"
#include "render/formulas.h"
#include "render/paragraphs.h"
#include "render/tag_stack.h"
#include "render/text_render.h"
#include "store/body.h"
#include "store/rtitem_internal.h"

namespace {

namespace f1 = html_flags;
namespace f2 = html_flags2;
namespace f3 = html_flags3;
namespace f4 = html_flags4;

/* The fixed fields of a definition end with Flags2. */
constexpr DWORD kDefinitionFixedPart = offsetof(CDPABDEFINITION, Flags2) + sizeof(WORD);
constexpr DWORD kExtensionEnd = offsetof(_CDPABDEFEXT, RightMarginPercent) + sizeof(WORD);
constexpr const char *kListStyleType = "list-style-type: ";
constexpr const char *kZeroMargin = "margin-left: 0.00in;";
constexpr size_t kBorderTextSize = 512;

/* Closing tags that a paragraph never closes across: lists, and the table
 * structure it may lie in. */
constexpr const char *kTableTags[] = {"</td>", "</th>", "</tr>", "</table>"};

bool Flag(DWORD word, DWORD bit) { return (word & bit) != 0; }

/* From the top of the main stack, `tag` comes before any of the stop tags
 * and before any table structure. */
bool TagBefore(const html_render_info *c, const char *tag,
               std::initializer_list<const char *> stops) {
  const char *all[8];
  size_t count = 0;
  for (const char *stop : stops) {
    if (count < std::size(all) - std::size(kTableTags))
      all[count++] = stop;
  }
  for (const char *stop : kTableTags)
    all[count++] = stop;
  return TagOpenBeforeStops(c, tag, all, count);
}

void PopTo(html_render_info *c, const char *tag) { PopXMLStack(c, 0, tag, 1, 1, 0, 0, 0); }

const record_storage *DefinitionNode(const html_render_info *c, WORD index) {
  return index > 0 && index <= c->pabdef_count ? c->pabdef_records[index] : nullptr;
}

/* The last entry of a lookup table that lies before the reference and
 * carries the PABID (read by `pabidOf`); 0 when none. */
template <typename ReadPabid>
WORD FindBefore(record_storage *const *records, WORD count, const record_storage *reference,
                WORD pabid, ReadPabid pabidOf) {
  for (WORD i = count; i >= 1; --i) {
    const record_storage *node = records[i];
    WORD found = 0;
    if (node != nullptr && node->ordinal < reference->ordinal && pabidOf(node, &found) &&
        found == pabid)
      return i;
  }
  return 0;
}

bool StyleNamePabid(const record_storage *node, WORD *pabid) {
  return ReadRecordWord(node->data, node->length, offsetof(CDSTYLENAME, PABID), pabid);
}

/* The paragraph's style name; empty when it has none. */
std::string_view StyleNameOf(const html_render_info *c) {
  const WORD index = c->current_style_name;
  if (index == 0 || index > c->style_name_count)
    return {};
  const record_storage *node = c->style_name_records[index];
  const DWORD at = offsetof(CDSTYLENAME, StyleName);
  if (node == nullptr || node->data == nullptr || node->length <= at)
    return {};
  const char *name = node->data + at;
  return std::string_view(name, strnlen(name, node->length - at));
}

/* ---- hidden paragraphs ---- */

/* The compiled hide-when formula of the PABID: the nearest CDPABHIDE
 * before the reference. */
bool HideFormulaHides(html_render_info *c, const record_storage *reference, WORD pabid) {
  const record_storage *node = FindHideBefore(c, reference, pabid);
  if (node == nullptr || node->length <= sizeof(CDPABHIDE))
    return false; // no formula, or an empty one, hides nothing
  return HideWhenFormulaHides(c, node->data + sizeof(CDPABHIDE),
                              node->length - static_cast<DWORD>(sizeof(CDPABHIDE)));
}

bool IsHidden(html_render_info *c, const paragraph_definition &definition,
              const record_storage *reference, WORD pabid) {
  const bool preview = Flag(c->flags3, f3::PreviewMode);
  const bool web = Flag(c->flags3, f3::WebMode);
  if (!preview && Flag(definition.flags, pab_flags::HideRead))
    return true;
  if (preview && Flag(definition.flags, pab_flags::HidePrint))
    return true;
  if (!web && Flag(definition.flags, pab_flags::HideNotes))
    return true;
  if (web && Flag(definition.flags2, pab_flags2::HideWeb))
    return true;
  return Flag(definition.flags, pab_flags::HideIf) && HideFormulaHides(c, reference, pabid);
}

bool BracketsText(const record_storage *node) {
  return IsTextRun(NodeBracket(node));
}

/* The text of a hidden paragraph, and the records that belong to it. */
bool IsHiddenText(const record_storage *node) {
  switch (node->signature) {
  case SIG_CD_TEXT:
  case SIG_CD_BIDI_TEXT:
  case SIG_CD_TEXTEFFECT:
  case SIG_CD_BIDI_TEXTEFFECT:
  case SIG_CD_COLOR:
  case SIG_CD_PARAGRAPH:
  case SIG_CD_LARGEPARAGRAPH:
    return true;
  case SIG_CD_BEGIN:
  case SIG_CD_END:
    return BracketsText(node);
  default:
    return false;
  }
}

bool IsHotspotBegin(WORD signature) {
  return signature == SIG_CD_HOTSPOTBEGIN || signature == SIG_CD_V4HOTSPOTBEGIN;
}

/* A record a hidden paragraph's link or button may hold that belongs to
 * the document's structure instead: a paragraph of its own, a section
 * bar, a table or a layer. */
bool IsStructure(const record_storage *node) {
  const WORD signature = node->signature;
  return signature == SIG_CD_PABREFERENCE || signature == SIG_CD_SECTIONBAR ||
         signature == SIG_CD_LAYER || signature == SIG_CD_LAYOUT ||
         IsTableStructure(signature) ||
         (IsBracket(signature) && NodeBracket(node) == SIG_CD_LAYER);
}

/* A link record, or a bracket around one. */
bool IsLinkPart(const record_storage *node) {
  return IsLinkRecord(node->signature) ||
         (IsBracket(node->signature) && IsLinkRecord(NodeBracket(node)));
}

/* A hotspot inside a hidden paragraph (a link, a button, a popup) is part
 * of its text: true, with `after` the record after the hotspot's end (and
 * the bracket end around it), when `node` opens a hotspot that ends before
 * any structure. A section holds a bar and paragraphs of its own and is
 * never taken. */
bool SkipsHiddenHotspot(const html_render_info *c, record_storage *node, record_storage **after) {
  const bool bracket = node->signature == SIG_CD_BEGIN && IsHotspotBegin(NodeBracket(node));
  if (!bracket && !IsHotspotBegin(node->signature))
    return false;
  DWORD open = 0;
  for (record_storage *at = node; at != nullptr && !IsBeyondLast(c, at); at = at->next) {
    if (IsStructure(at))
      return false;
    if (IsHotspotBegin(at->signature)) {
      ++open;
    } else if (IsHotspotEnd(at->signature) && open > 0 && --open == 0) {
      record_storage *next = at->next;
      if (next != nullptr && next->signature == SIG_CD_END && !IsBeyondLast(c, next) &&
          (IsHotspotBegin(NodeBracket(next)) || IsHotspotEnd(NodeBracket(next))))
        next = next->next;
      *after = next;
      return true;
    }
  }
  return false;
}

void SkipHiddenParagraph(html_render_info *c, const record_storage *reference) {
  record_storage *node = reference->next;
  while (node != nullptr && !IsBeyondLast(c, node)) {
    if (IsHiddenText(node) || IsLinkPart(node)) {
      node = node->next;
      continue;
    }
    if (!SkipsHiddenHotspot(c, node, &node))
      break;
  }
  c->current_record = node;
}

/* ---- closing what the previous paragraph left open ---- */

struct look_back {
  const record_storage *stop = nullptr; /* the record the look-back stopped at */
  bool paragraph = false;               /* a CDPARAGRAPH was looked over */
};

/* Looks back from the reference over the records that carry no content of
 * their own. */
look_back LookBack(const record_storage *reference) {
  look_back result;
  const record_storage *node = reference->previous;
  for (; node != nullptr; node = node->previous) {
    const WORD signature = node->signature;
    if (signature == SIG_CD_PARAGRAPH)
      result.paragraph = true;
    else if (signature != SIG_CD_LARGEPARAGRAPH && signature != SIG_CD_PABDEFINITION &&
             signature != SIG_CD_STYLENAME && signature != SIG_CD_PABFORMULAREF &&
             !(IsTextRun(node) && node->length == sizeof(CDTEXT)))
      break;
  }
  result.stop = node;
  return result;
}

/* Inside a layer the paragraph continues the layer's division unless a
 * paragraph or table came between. */
bool LayerKeepsOpen(const html_render_info *c, const record_storage *reference) {
  if (c->layer_level == 0)
    return false;
  for (const record_storage *node = reference->previous; node != nullptr; node = node->previous) {
    switch (node->signature) {
    case SIG_CD_PABREFERENCE:
    case SIG_CD_TABLEEND:
    case SIG_CD_NESTEDTABLEEND:
    case SIG_CD_BOXSIZE:
    case SIG_CD_POSITIONING:
      return true;
    case SIG_CD_LAYER:
      return false;
    default:
      break;
    }
  }
  return true;
}

/* In a tabbed table the row division of a tab stays open over the first
 * paragraph of the row's first cell. */
bool TabKeepsOpen(const html_render_info *c, const record_storage *reference) {
  const WORD level = c->table_level;
  if (!Flag(c->flags2, f2::TabbedTablesInCSS) || level == 0 || level >= kRenderTableLevels ||
      c->table_levels[level].tabbed == 0)
    return false;
  if (TagOnXMLStackWithID(c, 0, "</div>", 0) == 0 || TagOnXMLStack(c, 0, "</td>", 0) == 0)
    return false;
  for (const record_storage *node = reference->previous; node != nullptr; node = node->previous) {
    if (node->signature == SIG_CD_PABREFERENCE)
      return false;
    if (IsTableCell(node->signature)) {
      BYTE column = 0;
      ReadRecordByte(node->data, node->length, CDTABLECELL_COLUMN_OFFSET, &column);
      return column == 0;
    }
  }
  return false;
}

bool KeepsPreviousOpen(const html_render_info *c, const record_storage *reference) {
  if (TabKeepsOpen(c, reference) || LayerKeepsOpen(c, reference))
    return true;
  return Flag(c->flags2, f2::SectionsInCSS) && TagOnXMLStackWithID(c, 0, "</div>", 0) != 0;
}

void ClosePrevious(html_render_info *c, const record_storage *reference) {
  if (TagBefore(c, "</div>", {"</ul>", "</ol>", "</p>"}) && TagOpenInLayer(c, "</div>")) {
    const look_back back = LookBack(reference);
    PopTo(c, "</div>");
    static const char kEmptyDivision[] = "<div></div>";
    if (!back.paragraph && c->output_length == sizeof kEmptyDivision - 1 &&
        memcmp(c->output_buffer, kEmptyDivision, sizeof kEmptyDivision - 1) == 0)
      RenderTruncate(c, 0);
  }
  if (Flag(c->flags4, f4::UsePTags) && TagBefore(c, "</p>", {"</ul>", "</ol>", "</div>"}) &&
      TagOpenInLayer(c, "</p>")) {
    const look_back back = LookBack(reference);
    if (back.stop != nullptr && back.stop->signature == SIG_CD_PABREFERENCE && back.paragraph)
      WriteXMLLineBreak(c);
    PopTo(c, "</p>");
  }
}

/* ---- style mappings ---- */

/* Whether the definition's record meets the mapping's paragraph criteria;
 * the record is read through a copy of at most its 92 bytes. */
bool MeetsCriteria(const paragraph_definition &definition, const style_mapping *mapping) {
  const record_storage *node = definition.node;
  if (node == nullptr || node->data == nullptr)
    return false;
  _CDPABDEFEXT existing;
  memset(&existing, 0, sizeof existing);
  memcpy(&existing, node->data, node->length < sizeof existing ? node->length : sizeof existing);
  if (existing.Definition.Header.Length > node->length)
    existing.Definition.Header.Length = static_cast<WORD>(node->length);
  return MatchParagraph(&existing, &mapping->criteria_definition, mapping->criteria_list_set,
                        mapping->criteria_list_clear, mapping->criteria) != 0;
}

/* Writes an opening text of a mapping and pushes its closing text. */
void OpenMappingText(html_render_info *c, const std::string &opening, const std::string &closing) {
  RenderPuts(c, opening.c_str());
  if (!closing.empty())
    PushXMLStack(c, 0, closing.c_str());
}

/* Pops a closing text of a mapping, writing it and what lies above it. */
void CloseMappingText(html_render_info *c, const std::string &closing) {
  if (!closing.empty() && TagOpenInLayer(c, closing.c_str()))
    PopTo(c, closing.c_str());
}

/* Before a paragraph opens: the previous paragraph's mapping is closed,
 * and a group of mapped list paragraphs ends with the list. */
void CloseParagraphMapping(html_render_info *c, bool leavingList) {
  if (c->paragraph_mapping != nullptr)
    CloseMappingText(c, c->paragraph_mapping->closing);
  c->paragraph_mapping = nullptr;
  if (!leavingList || c->group_mapping == nullptr)
    return;
  CloseMappingText(c, c->group_mapping->group_closing);
  c->group_mapping = nullptr;
}

/* Opens the paragraph's mapping: its group when the group is new, then
 * the paragraph. */
void OpenParagraphMapping(html_render_info *c, style_mapping *mapping) {
  if (mapping != c->group_mapping && !mapping->group_opening.empty())
    OpenMappingText(c, mapping->group_opening, mapping->group_closing);
  OpenMappingText(c, mapping->opening, mapping->closing);
  c->group_mapping = mapping;
  c->paragraph_mapping = mapping;
}

bool MappingPasses(const html_render_info *c, const style_mapping *mapping,
                   const paragraph_definition *definition) {
  if (Flag(mapping->flags, STYLE_MAPPING_BY_NAME)) {
    const std::string_view mine = StyleNameOf(c);
    const std::string_view theirs(mapping->style_name,
                                  strnlen(mapping->style_name, sizeof mapping->style_name));
    if (mine != theirs)
      return false;
  }
  if (Flag(mapping->flags, STYLE_MAPPING_BY_PARAGRAPH))
    return definition != nullptr && MeetsCriteria(*definition, mapping);
  return true;
}

/* The item's first paragraph style mapping that the paragraph meets. */
style_mapping *FindParagraphMapping(const html_render_info *c,
                                    const paragraph_definition *definition) {
  if (c->item == nullptr || c->item->internal == nullptr)
    return nullptr;
  for (style_mapping *node = c->item->internal->style_mappings[0]; node != nullptr;
       node = node->next) {
    if (!Flag(node->flags, STYLE_MAPPING_MAPPED) && MappingPasses(c, node, definition))
      return node;
  }
  return nullptr;
}

/* ---- the first paragraph of a cell ---- */

/* Whether the run's table of definitions holds every definition of the
 * list: it answers for the paragraph index then (as the index itself
 * does for a record behind it). */
bool DefinitionTableComplete(const html_render_info *c) {
  return c->pabdef_count > 0 && c->pabdef_count < kLookupSlots - 1;
}

/* `inForce`: the reference's definition as found in the run's table of
 * definitions (null: none). */
bool FirstOfCell(html_render_info *c, const record_storage *reference,
                 const paragraph_definition *inForce) {
  if (Flag(c->flags, f1::ForceParagraphs))
    return false;
  bool definition = false;
  bool paragraph = false;
  bool large = false;
  const record_storage *node = reference->previous;
  for (; node != nullptr; node = node->previous) {
    if (!definition && node->signature == SIG_CD_PABDEFINITION)
      definition = true;
    else if (!paragraph && node->signature == SIG_CD_PARAGRAPH)
      paragraph = true;
    else if (!large && node->signature == SIG_CD_LARGEPARAGRAPH)
      large = true;
    else
      break;
  }
  if (node == nullptr)
    return true;
  if (!IsTableCell(node->signature))
    return false;
  BYTE cellFlags = 0;
  ReadRecordByte(node->data, node->length, offsetof(CDTABLECELL, Flags), &cellFlags);
  if (Flag(c->flags, f1::StandardFontTags))
    return true;
  // Without a definition between the cell and the reference, the cell's
  // first paragraph is under the definition found for the reference.
  const bool useless = !definition && DefinitionTableComplete(c)
                           ? CellParagraphUselessUnder(inForce)
                           : FirstTablecellParagraphUseless(c, node) != 0;
  return useless || (cellFlags & 0x0C) != 0;
}

/* No alignment and no simple-tags element: no definition, or the
 * reference right behind a definition that opens the record list. */
bool WithoutAlignment(const record_storage *definitionNode, const record_storage *reference) {
  if (definitionNode == nullptr)
    return true;
  const record_storage *before = reference->previous;
  return before != nullptr && before->signature == SIG_CD_PABDEFINITION &&
         before->previous == nullptr;
}

const char *AlignAttribute(WORD justify) {
  switch (justify) {
  case 1:
    return " align='right'";
  case 3:
    return " align='center'";
  case 2:
    return " align='justify'";
  default:
    return "";
  }
}

/* ---- lists ---- */

/* The value of "list-style-type: " in the style text. */
std::string_view ListStyleType(const char *styleText) {
  const char *at = styleText != nullptr ? strstr(styleText, kListStyleType) : nullptr;
  if (at == nullptr)
    return {};
  at += strlen(kListStyleType);
  const char *end = strchr(at, ';');
  return std::string_view(at, end != nullptr ? static_cast<size_t>(end - at) : strlen(at));
}

/* The type attribute of a numbered list in simple tags. */
const char *NumberingType(const char *styleText) {
  const std::string_view type = ListStyleType(styleText);
  if (type == "decimal")
    return " type=\"1\"";
  if (type == "upper-alpha")
    return " type=\"A\"";
  if (type == "lower-alpha")
    return " type=\"a\"";
  if (type == "upper-roman")
    return " type=\"I\"";
  if (type == "lower-roman")
    return " type=\"i\"";
  return "";
}

const char *ListCloser(const record_storage *definitionNode) {
  paragraph_definition definition;
  ReadParagraphDefinition(definitionNode, &definition);
  return Flag(definition.flags, pab_flags::Numbered) ? "</ol>" : "</ul>";
}

WORD ListIndent(const record_storage *definitionNode) {
  paragraph_definition definition;
  ReadParagraphDefinition(definitionNode, &definition);
  return definition.first_line;
}

/* Closes the innermost open list; false, leaving it open, when it was
 * opened outside the table cell or the layer being written (a cell's
 * closing tag lies above the list's, or the layer began above it): closing
 * it there would close the table with it, or end the list inside the
 * layer's division. A cell or a layer closes only the lists opened inside
 * it. */
bool CloseInnermostList(html_render_info *c) {
  const char *closer = ListCloser(c->list_levels[c->list_depth]);
  if (TagOnXMLStack(c, 0, closer, 0) != 0) {
    if (TagOnXMLStackBefore(c, 0, closer, "</td>", "</th>", nullptr) == 0 ||
        !TagOpenInLayer(c, closer))
      return false;
    PopTo(c, closer);
  }
  c->list_levels[c->list_depth] = nullptr;
  --c->list_depth;
  return true;
}

void CloseAllLists(html_render_info *c) {
  while (c->list_depth > 0 && CloseInnermostList(c)) {
  }
}

/* Closes the open lists indented deeper than the list paragraph (or as
 * deep, when they are of the other kind); whether a new level opens. In a
 * table cell a list opened outside the table stays open, and the
 * paragraph opens a level of the cell's own. */
bool SettleListLevels(html_render_info *c, const record_storage *list) {
  const WORD indent = ListIndent(list);
  const char *closer = ListCloser(list);
  while (c->list_depth > 0) {
    const record_storage *inner = c->list_levels[c->list_depth];
    if (inner == list)
      return false;
    const WORD innerIndent = ListIndent(inner);
    if (innerIndent > indent || (innerIndent == indent && strcmp(ListCloser(inner), closer) != 0)) {
      if (!CloseInnermostList(c))
        return true;
      continue;
    }
    return innerIndent < indent;
  }
  return true;
}

void OpenListLevel(html_render_info *c, const record_storage *reference, record_storage *list,
                   bool numbered, const char *styleText, WORD pabid) {
  if (c->list_depth >= kListLevels)
    return;
  if (Flag(c->flags, f1::StandardFontTags)) {
    if (numbered)
      RenderPrintf(c, "<ol%s>", NumberingType(styleText));
    else
      RenderPuts(c, "<ul>");
  } else if (Flag(c->flags2, f2::MoveStylesInline)) {
    ++c->output_hold; // the nesting may rewrite the opening just written
    const DWORD start = c->output_length;
    RenderPuts(c, numbered ? "<ol style=\"" : "<ul style=\"");
    RenderPuts(c, c->curly_open);
    // 1028 only says there is no list definition to measure the nesting
    // from: the list opens with its own style text alone. What it writes
    // fails the output itself.
    static_cast<void>(HandleSpecialListNesting(c, reference, styleText, start));
    RenderPuts(c, styleText);
    RenderPuts(c, c->curly_close);
    RenderPuts(c, "\">");
    --c->output_hold;
  } else {
    RenderPrintf(c, "<%s class=\"pabid%d\">", numbered ? "ol" : "ul", int{pabid});
  }
  c->list_levels[++c->list_depth] = list;
  PushClosingTag(c, numbered ? "</ol>" : "</ul>");
}

bool StartsTableOrGraphic(const record_storage *node) {
  if (node == nullptr)
    return false;
  WORD signature = node->signature;
  if (signature == SIG_CD_BEGIN)
    signature = NodeBracket(node);
  return signature == SIG_CD_PRETABLEBEGIN || signature == SIG_CD_TABLEBEGIN ||
         signature == SIG_CD_NESTEDTABLEBEGIN || signature == SIG_CD_GRAPHIC;
}

/* Red, green and blue of a colour value's own colour, or of the palette. */
void PutColour(render_text *out, const COLOR_VALUE *colour, BYTE index) {
  char text[32];
  if (colour != nullptr && Flag(colour->Flags, 0x0001)) {
    snprintf(text, sizeof text, "rgb(%d,%d,%d)", colour->Red, colour->Green, colour->Blue);
    RenderTextPuts(out, text);
    return;
  }
  RenderPaletteRgb(index, text);
  RenderTextPuts(out, text);
}

/* The font of the item's first run, where it differs from the body's. */
void PutItemFont(html_render_info *c, const record_storage *reference, render_text *out) {
  const record_storage *run = reference->next;
  while (run != nullptr && !IsTextRun(run) && run->signature != SIG_CD_PABREFERENCE &&
         !IsBeyondLast(c, run))
    run = run->next;
  if (!IsTextRun(run) || run->data == nullptr || run->length < sizeof(CDTEXT) ||
      IsBeyondLast(c, run))
    return;
  FONTID font = 0;
  memcpy(&font, run->data + offsetof(CDTEXT, FontID), sizeof font);
  COLOR_VALUE colourValue = {};
  const COLOR_VALUE *colour = nullptr;
  const record_storage *next = run->next;
  if (next != nullptr && next->signature == SIG_CD_COLOR && next->data != nullptr &&
      next->length >= sizeof(CDCOLOR)) {
    memcpy(&colourValue, next->data + offsetof(CDCOLOR, Color), sizeof colourValue);
    colour = &colourValue;
  }
  const bool rtl = run->signature == SIG_CD_BIDI_TEXT;
  const bool forced = c->force_font_size || c->force_font_face || c->force_font_color;
  if (font == c->base_font && colour == nullptr && !forced)
    return;
  if (TagOnXMLStack(c, 0, "</span>", 1) != 0 && font == c->current_font && colour == nullptr &&
      !rtl && c->force_direction == 0)
    return;
  const BYTE *parts = reinterpret_cast<const BYTE *>(&font);
  const BYTE *base = reinterpret_cast<const BYTE *>(&c->base_font);
  char text[64];
  if (c->force_font_size != 0 || parts[FONTID_SIZE_BYTE] != base[FONTID_SIZE_BYTE]) {
    snprintf(text, sizeof text, "font-size: %dpt; ", parts[FONTID_SIZE_BYTE]);
    RenderTextPuts(out, text);
  }
  if (colour != nullptr && Flag(colour->Flags, 0xE000)) {
    RenderTextPuts(out, "background: ");
    RenderTextPuts(out, Flag(colour->Flags, 0x8000)   ? "#ffffc2;"
                        : Flag(colour->Flags, 0x4000) ? "#ffe0e6;"
                                                      : "#e0ffff;");
  }
  if (c->force_font_color != 0 || parts[FONTID_COLOR_BYTE] != base[FONTID_COLOR_BYTE] ||
      colour != nullptr) {
    RenderTextPuts(out, "color: ");
    PutColour(out, colour, parts[FONTID_COLOR_BYTE]);
    RenderTextPuts(out, "; ");
  }
  const BYTE attributes = parts[FONTID_ATTRIBUTES_BYTE];
  if (attributes != base[FONTID_ATTRIBUTES_BYTE]) {
    const bool underline = Flag(attributes, 0x04);
    const bool strike = Flag(attributes, 0x08);
    if (underline && strike)
      RenderTextPuts(out, "text-decoration: underline line-through; ");
    else if (underline)
      RenderTextPuts(out, "text-decoration: underline; ");
    else if (strike)
      RenderTextPuts(out, "text-decoration: line-through; ");
  }
  if ((c->force_font_face != 0 || parts[FONTID_FACE_BYTE] != base[FONTID_FACE_BYTE]) &&
      !Flag(c->flags3, f3::SuppressFontFace))
    PutFontFamily(c, parts[FONTID_FACE_BYTE], out);
  if (rtl)
    RenderTextPuts(out, "direction: rtl;");
  else if (c->force_direction != 0)
    RenderTextPuts(out, "direction: ltr;");
}

void WriteListItem(html_render_info *c, const record_storage *reference, bool numbered,
                   const char *styleText, const paragraph_definition *definition) {
  if (StartsTableOrGraphic(reference->next))
    return; // the table or image is the item's content without an element
  // In XHTML the item before ends here, so that items do not nest.
  if (IsXhtml(c) && TagBefore(c, "</li>", {"</ul>", "</ol>"}))
    PopTo(c, "</li>");
  const bool simple = Flag(c->flags, f1::StandardFontTags);
  render_text style{c->session};
  RenderTextPut(&style, "", 0);
  if (!simple) {
    const std::string_view type = ListStyleType(styleText);
    if (!type.empty()) {
      RenderTextPuts(&style, kListStyleType);
      RenderTextPut(&style, type.data(), type.size());
      RenderTextPuts(&style, "; ");
    }
  }
  if (definition != nullptr) {
    if (definition->line_spacing == 2)
      RenderTextPuts(&style, "line-height: 2em; ");
    else if (definition->line_spacing == 1)
      RenderTextPuts(&style, "line-height: 1.5em; ");
    if (definition->spacing_before == 2)
      RenderTextPuts(&style, "margin-top: 1em; ");
    else if (definition->spacing_before == 1)
      RenderTextPuts(&style, "margin-top: 0.5em; ");
    if (definition->spacing_after == 2)
      RenderTextPuts(&style, "margin-bottom: 1em; ");
    else if (definition->spacing_after == 1)
      RenderTextPuts(&style, "margin-bottom: 0.5em; ");
  }
  if (!simple)
    PutItemFont(c, reference, &style);
  RenderPuts(c, "<li");
  if (simple && numbered)
    RenderPuts(c, NumberingType(styleText));
  if (style.length > 0) {
    RenderPuts(c, " style=\"");
    RenderPuts(c, c->curly_open);
    RenderPut(c, style.data, style.length);
    RenderPuts(c, c->curly_close);
    RenderPuts(c, "\"");
  }
  RenderPuts(c, ">");
  if (style.status != NOERROR && c->output_status == NOERROR)
    c->output_status = style.status;
  RenderTextFree(&style);
  if (IsXhtml(c))
    PushClosingTag(c, "</li>");
}

/* The list paragraph's list levels and item; false when it is no list
 * paragraph (then the open lists are closed). */
bool RenderListParagraph(html_render_info *c, const record_storage *reference, WORD pabid,
                         WORD mapped, const paragraph_definition *definition) {
  bool numbered = false;
  record_storage *list = RememberedListOf(c, pabid, &numbered);
  if (list == nullptr) {
    CloseAllLists(c);
    return false;
  }
  const char *styleText = ParagraphStyleText(c, mapped);
  if (SettleListLevels(c, list))
    OpenListLevel(c, reference, list, numbered, styleText, mapped);
  WriteListItem(c, reference, numbered, styleText, definition);
  return true;
}

/* ---- paragraph elements ---- */

/* The border record between the reference and the paragraph's content. */
const record_storage *ParagraphBorder(const html_render_info *c, const record_storage *reference) {
  for (const record_storage *node = reference->next; node != nullptr && !IsBeyondLast(c, node);
       node = node->next) {
    switch (node->signature) {
    case SIG_CD_BORDERINFO:
      return node;
    case SIG_CD_TEXT:
    case SIG_CD_BEGIN:
    case SIG_CD_PABREFERENCE:
    case SIG_CD_TABLEBEGIN:
    case SIG_CD_NESTEDTABLEBEGIN:
      return nullptr;
    default:
      break;
    }
  }
  return nullptr;
}

/* The text is a C string; only its first byte is cleared up front, as a
 * paragraph without a border (most) reads nothing more. */
struct paragraph_border {
  paragraph_border() { text[0] = '\0'; }
  char text[kBorderTextSize];
  WORD vspace = 0;
  WORD hspace = 0;
};

void ReadBorder(html_render_info *c, const record_storage *reference, paragraph_border *border) {
  const record_storage *node = ParagraphBorder(c, reference);
  if (node == nullptr)
    return;
  if (node->data != nullptr && node->length >= sizeof(CDBORDERINFO)) {
    CDBORDERINFO info;
    memcpy(&info, node->data, sizeof info);
    if (info.OuterWidthTop + info.OuterWidthBottom != 0)
      border->vspace =
          info.OuterWidthTop > info.OuterWidthBottom ? info.OuterWidthTop : info.OuterWidthBottom;
    if (info.OuterWidthLeft + info.OuterWidthRight != 0)
      border->hspace =
          info.OuterWidthLeft > info.OuterWidthRight ? info.OuterWidthLeft : info.OuterWidthRight;
  }
  if (CalculateXMLBorderString(node, c) != NOERROR)
    return;
  const char *css = c->session->scratch_second;
  const size_t length = strlen(css);
  if (length > 1) { // more than the leading blank
    const size_t kept = length < sizeof border->text - 1 ? length : sizeof border->text - 1;
    memcpy(border->text, css, kept);
    border->text[kept] = '\0';
  }
}

/* Whether the style text says nothing but a zero left margin. */
bool SaysNothing(std::string_view style) {
  while (!style.empty() && style.back() == ' ')
    style.remove_suffix(1);
  while (!style.empty() && style.front() == ' ')
    style.remove_prefix(1);
  return style.empty() || (style.size() == strlen(kZeroMargin) &&
                           strncasecmp(style.data(), kZeroMargin, style.size()) == 0);
}

const char *FindIgnoringCase(const char *text, const char *part) {
  const size_t length = strlen(part);
  for (const char *at = text; *at != '\0'; ++at) {
    if (strncasecmp(at, part, length) == 0)
      return at;
  }
  return nullptr;
}

void PutAttributes(html_render_info *c, const paragraph_border &border, const char *align,
                   WORD mapped, bool inlineStyles) {
  if (border.vspace != 0)
    RenderPrintf(c, " vspace=\"%d\"", int{border.vspace});
  if (border.hspace != 0)
    RenderPrintf(c, " hspace=\"%d\"", int{border.hspace});
  RenderPuts(c, align);
  if (inlineStyles || Flag(c->flags4, f4::SuppressDivInfo))
    RenderPuts(c, ">");
  else {
    RenderPuts(c, " class=\"pabid");
    RenderPutDecimal(c, mapped);
    RenderPuts(c, "\">");
  }
}

/* An element with the border text only (or bare). */
void OpenPlainElement(html_render_info *c, const paragraph_border &border) {
  const bool paragraphs = Flag(c->flags4, f4::UsePTags);
  RenderPuts(c, paragraphs ? "<p" : "<div");
  if (border.text[0] != '\0') {
    RenderPuts(c, " style=\"");
    RenderPuts(c, c->curly_open);
    RenderPuts(c, border.text);
    RenderPuts(c, c->curly_close);
    RenderPuts(c, "\"");
  }
  PushClosingTag(c, paragraphs ? "</p>" : "</div>");
}

/* The element with the definition's style inline; false when none is
 * written. */
bool OpenInlineElement(html_render_info *c, const paragraph_border &border, WORD mapped) {
  const char *style = ParagraphStyleText(c, mapped);
  if (SaysNothing(style)) {
    if (!Flag(c->flags4, f4::AllowEmptyDivs) && border.text[0] == '\0')
      return false;
    OpenPlainElement(c, border);
    return true;
  }
  if (Flag(c->flags4, f4::UsePTags)) {
    RenderPuts(c, "<p style=\"");
    RenderPuts(c, c->curly_open);
    RenderPuts(c, style);
    PushClosingTag(c, "</p>");
  } else {
    RenderPuts(c, "<div style=\"");
    RenderPuts(c, c->curly_open);
    const char *zero = FindIgnoringCase(style, kZeroMargin);
    if (zero == nullptr) {
      RenderPuts(c, style);
    } else {
      RenderPut(c, style, static_cast<size_t>(zero - style));
      const char *after = zero + strlen(kZeroMargin);
      if (*after == ' ')
        ++after;
      RenderPuts(c, after);
    }
    PushClosingTag(c, "</div>");
  }
  RenderPuts(c, border.text);
  RenderPuts(c, c->curly_close);
  RenderPuts(c, "\"");
  return true;
}

void OpenParagraphElement(html_render_info *c, const record_storage *reference, WORD mapped,
                          const paragraph_definition *definition, bool withoutAlignment) {
  if (Flag(c->flags, f1::StandardFontTags)) {
    if (TagOnXMLStack(c, 0, "</p>", 0) != 0)
      PopTo(c, "</p>");
    if (withoutAlignment)
      return;
    const WORD justify = definition->justify;
    if (justify == 1 || justify == 2 || justify == 3) {
      RenderPuts(c, justify == 1   ? "<div align='right'>"
                    : justify == 3 ? "<div align='center'>"
                                   : "<div align='justify'>");
      PushClosingTag(c, "</div>");
    } else {
      WriteXMLLineBreak(c);
    }
    return;
  }
  paragraph_border border;
  ReadBorder(c, reference, &border);
  const char *align =
      withoutAlignment || definition == nullptr ? "" : AlignAttribute(definition->justify);
  if (Flag(c->flags2, f2::MoveStylesInline)) {
    if (OpenInlineElement(c, border, mapped))
      PutAttributes(c, border, align, mapped, true);
    return;
  }
  OpenPlainElement(c, border);
  PutAttributes(c, border, align, mapped, false);
}

} // namespace

/* ---- paragraph definitions ---- */

bool ReadParagraphDefinition(const record_storage *node, paragraph_definition *out) {
  *out = paragraph_definition{};
  if (node == nullptr || node->signature != SIG_CD_PABDEFINITION || node->data == nullptr ||
      node->length < kDefinitionFixedPart)
    return false;
  // Word by word from the record: it is read at every paragraph and cell,
  // and most of its fixed part (the tab stops) is not wanted here.
  const char *data = node->data;
  const auto word = [data](size_t at) {
    WORD value;
    memcpy(&value, data + at, sizeof value);
    return value;
  };
  out->node = node;
  out->header_length = word(offsetof(CDPABDEFINITION, Header) + offsetof(WSIG, Length));
  out->pabid = word(offsetof(CDPABDEFINITION, PABID));
  out->justify = word(offsetof(CDPABDEFINITION, JustifyMode));
  out->line_spacing = word(offsetof(CDPABDEFINITION, LineSpacing));
  out->spacing_before = word(offsetof(CDPABDEFINITION, ParagraphSpacingBefore));
  out->spacing_after = word(offsetof(CDPABDEFINITION, ParagraphSpacingAfter));
  out->left = word(offsetof(CDPABDEFINITION, LeftMargin));
  out->right = word(offsetof(CDPABDEFINITION, RightMargin));
  out->first_line = word(offsetof(CDPABDEFINITION, FirstLineLeftMargin));
  out->flags = word(offsetof(CDPABDEFINITION, Flags));
  out->flags2 = word(offsetof(CDPABDEFINITION, Flags2));
  out->has_extension = node->length >= kExtensionEnd;
  if (out->has_extension) {
    // The six margin words follow each other from LeftMarginOffset on.
    WORD paragraph_definition::*const margins[] = {
        &paragraph_definition::left_offset,  &paragraph_definition::left_percent,
        &paragraph_definition::first_offset, &paragraph_definition::first_percent,
        &paragraph_definition::right_offset, &paragraph_definition::right_percent};
    static_assert(offsetof(_CDPABDEFEXT, RightMarginPercent) ==
                  offsetof(_CDPABDEFEXT, LeftMarginOffset) + 5 * sizeof(WORD));
    for (size_t i = 0; i < std::size(margins); ++i)
      out->*margins[i] = word(offsetof(_CDPABDEFEXT, LeftMarginOffset) + i * sizeof(WORD));
  }
  return true;
}

bool ReadDefinitionPabid(const record_storage *node, WORD *pabid) {
  if (node == nullptr || node->signature != SIG_CD_PABDEFINITION || node->data == nullptr ||
      node->length < kDefinitionFixedPart)
    return false;
  memcpy(pabid, node->data + offsetof(CDPABDEFINITION, PABID), sizeof *pabid);
  return true;
}

WORD LeftIndent(const paragraph_definition &definition) {
  if (definition.has_extension && Flag(definition.flags2, pab_flags2::LeftOffset))
    return definition.left_offset;
  return definition.left;
}

bool IsListDefinition(const paragraph_definition &definition) {
  return Flag(definition.flags, pab_flags::ListKinds);
}

bool HasListKind(const paragraph_definition &definition) {
  return IsListDefinition(definition) || Flag(definition.flags2, pab_flags2::ListStyles);
}

bool ReferencePabid(const record_storage *node, WORD *pabid) {
  return node != nullptr && node->signature == SIG_CD_PABREFERENCE &&
         ReadRecordWord(node->data, node->length, offsetof(CDPABREFERENCE, PABID), pabid);
}

const char *ParagraphStyleText(const html_render_info *context, WORD pabid) {
  if (context->paragraph_styles == nullptr || context->paragraph_style_count == 0)
    return "";
  for (WORD i = 0; i < context->paragraph_style_count; ++i) {
    if (context->paragraph_styles[i].pabid == pabid)
      return context->paragraph_styles[i].text;
  }
  return context->paragraph_styles[0].text;
}

int ParagraphIsHidden(html_render_info *c, const record_storage *reference) {
  WORD pabid = 0;
  if (!ReferencePabid(reference, &pabid))
    return -1;
  const WORD mapped = ConvertPABIDToMapping(c, pabid);
  const WORD index =
      FindBefore(c->pabdef_records, c->pabdef_count, reference, mapped, ReadDefinitionPabid);
  paragraph_definition definition;
  if (!ReadParagraphDefinition(DefinitionNode(c, index), &definition))
    return -1;
  return IsHidden(c, definition, reference, pabid) ? 1 : 0;
}

/* ---- the paragraph renderer ---- */

STATUS ProcessXMLParagraph(html_render_info *c) {
  record_storage *reference = c->current_record;
  c->pending_line_break = 0;
  c->previous_definition = c->current_definition;
  c->current_definition = 0;
  WORD pabid = 0;
  if (!ReferencePabid(reference, &pabid)) {
    c->current_record = reference != nullptr ? reference->next : nullptr;
    return c->output_status;
  }
  const WORD mapped = ConvertPABIDToMapping(c, pabid);
  c->current_definition =
      FindBefore(c->pabdef_records, c->pabdef_count, reference, mapped, ReadDefinitionPabid);
  c->current_style_name =
      FindBefore(c->style_name_records, c->style_name_count, reference, pabid, StyleNamePabid);
  paragraph_definition definitionFields;
  const record_storage *definitionNode = DefinitionNode(c, c->current_definition);
  const paragraph_definition *definition =
      ReadParagraphDefinition(definitionNode, &definitionFields) ? &definitionFields : nullptr;

  if (Flag(c->flags2, f2::RespectHiddenFormulas) && definition != nullptr &&
      IsHidden(c, *definition, reference, pabid)) {
    // The next paragraph follows the last one written, not this one.
    c->current_definition = c->previous_definition;
    SkipHiddenParagraph(c, reference);
    return c->output_status;
  }

  if (!KeepsPreviousOpen(c, reference))
    ClosePrevious(c, reference);
  // Leaving a list closes only an open group mapping: the previous
  // paragraph's definition is read for that alone.
  bool leavingList = false;
  if (c->group_mapping != nullptr && (definition == nullptr || !HasListKind(*definition))) {
    paragraph_definition previous;
    leavingList = ReadParagraphDefinition(DefinitionNode(c, c->previous_definition), &previous) &&
                  HasListKind(previous);
  }
  CloseParagraphMapping(c, leavingList);

  if (style_mapping *mapping = FindParagraphMapping(c, definition); mapping != nullptr) {
    OpenParagraphMapping(c, mapping);
    c->last_pabid = mapped;
    c->current_record = reference->next;
    return c->output_status;
  }
  c->paragraph_mapping = nullptr;
  if (Flag(c->flags, f1::ForceParagraphs) && TagOpenInLayer(c, "</p>"))
    PopTo(c, "</p>");

  c->first_cell_paragraph = FirstOfCell(c, reference, definition) ? 1 : 0;
  const bool list = RenderListParagraph(c, reference, pabid, mapped, definition);
  if (!list && c->first_cell_paragraph == 0)
    OpenParagraphElement(
        c, reference, mapped, definition,
        WithoutAlignment(definition != nullptr ? definitionNode : nullptr, reference));
  c->last_pabid = mapped;
  c->current_record = reference->next;
  return c->output_status;
}
