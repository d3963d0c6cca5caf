/*
 * The head pass: before the records of an outermost driver call are
 * rendered, one walk over them gathers what the rendering needs ahead of
 * the text: the dominant font of the body, the border classes of table
 * cells, the list definitions, and one CSS rule set per paragraph
 * definition (kept as the paragraph style list, which the paragraph
 * renderer refers to by class or copies inline). The first time in a run
 * it also writes the style sheet into the head the entry point left open,
 * the optional scripts of sections, tabs and Rico, closes the head and
 * opens the body.
 *
 * Not here: the document frame before the head's end (render/entry.cpp).
 */
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <new>
#include <vector>

#include "engine/record_fields.h"
#include "generate/color_string.h"
#include "generate/font_string.h"
#include "render/paragraphs.h"
#include "render/table.h"
#include "render/tag_stack.h"
#include "render/text_render.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/tracked_memory.h"
#include "velko/status.h"

namespace {

namespace f1 = html_flags;
namespace f2 = html_flags2;
namespace f5 = html_flags5;

constexpr BYTE kSeedCount = 50;
constexpr BYTE kDefaultFace = 1;
constexpr BYTE kDefaultSize = 10;
constexpr BYTE kDefaultColour = 0;
constexpr WORD kPageMargin = 1440;
constexpr WORD kListStep = 360;
constexpr float kTwipsPerInch = 1440.0f;
constexpr WORD kHighestPercent = 99;
/* A body font text shorter than this carries no style worth a rule. */
constexpr DWORD kShortestBodyFont = 20;
constexpr const char *kWhite = "#ffffff";

bool Flag(DWORD word, DWORD bit) { return (word & bit) != 0; }

FONTID MakeFont(BYTE face, BYTE attributes, BYTE colour, BYTE size) {
  FONTID font = 0;
  SetFontByte(&font, FONTID_FACE_BYTE, face);
  SetFontByte(&font, FONTID_ATTRIBUTES_BYTE, attributes);
  SetFontByte(&font, FONTID_COLOR_BYTE, colour);
  SetFontByte(&font, FONTID_SIZE_BYTE, size);
  return font;
}

/* What one pass keeps while it walks. */
struct head_pass {
  head_pass(html_render_info *context, bool openSheet) : c(context), sheet(openSheet) {}

  html_render_info *c;
  bool sheet; /* the style sheet is open: selectors are written */
  BYTE faces[256] = {};
  BYTE sizes[256] = {};
  BYTE colours[256] = {};
  bool rtl = false;               /* a right-to-left definition was met */
  bool list_image = false;        /* a list rule set used an image */
  std::vector<WORD> list_margins; /* left margins of the list definitions so far */
  STATUS status = NOERROR;
};

void Count(BYTE &counter) {
  if (counter < 255)
    ++counter;
}

/* ---- border classes ---- */

void PutSide(render_text *text, const char *name, unsigned width, bool spaced) {
  char piece[64];
  if (width == 0)
    snprintf(piece, sizeof piece, "border-%s:none; ", name);
  else
    snprintf(piece, sizeof piece, "border-%s:%s%upx solid black; ", name, spaced ? " " : "", width);
  RenderTextPuts(text, piece);
}

void AddBorderClass(head_pass &pass, const record_storage *cell) {
  html_render_info *c = pass.c;
  cell_fields fields;
  ReadCellFields(cell, &fields);
  const cell_sides sides = CellSides(fields);
  const unsigned left = sides.left, right = sides.right, top = sides.top, bottom = sides.bottom;
  char key[sizeof(render_border_class::key)];
  BorderClassKey(sides, key);
  for (WORD i = 0; i < c->border_class_count; ++i) {
    if (strcmp(c->border_classes[i].key, key) == 0)
      return;
  }
  if (c->border_class_count >= kBorderClasses)
    return;
  if (c->border_classes == nullptr) {
    c->border_classes = static_cast<render_border_class *>(
        VelkoAllocatePtr(c->session, VELKO_HERE, sizeof(render_border_class) * kBorderClasses, 1));
    if (c->border_classes == nullptr) {
      pass.status = VELKO_ERR_MEMORY;
      return;
    }
  }
  render_text text{c->session};
  char head[32];
  snprintf(head, sizeof head, "td.brdr%.4s {", key);
  RenderTextPuts(&text, head);
  if (top == 0 && right == 0 && bottom == 0 && left == 0) {
    RenderTextPuts(&text, "border:none; ");
  } else if (top == right && top == bottom && top == left) {
    snprintf(head, sizeof head, "border:%upx solid black", top);
    RenderTextPuts(&text, head);
  } else {
    PutSide(&text, "top", top, false);
    PutSide(&text, "left", left, false);
    PutSide(&text, "right", right, true);
    PutSide(&text, "bottom", bottom, true);
  }
  if (text.length >= 2 && memcmp(text.data + text.length - 2, "; ", 2) == 0) {
    text.length -= 2;
    text.data[text.length] = '\0';
  }
  char *detached = RenderTextDetach(&text);
  if (detached == nullptr) {
    pass.status = VELKO_ERR_MEMORY;
    return;
  }
  render_border_class &entry = c->border_classes[c->border_class_count++];
  snprintf(entry.key, sizeof entry.key, "%s", key);
  entry.text = detached;
}

/* ---- rule sets of paragraph definitions ---- */

void PutInches(render_text *out, const char *format, float inches) {
  char text[64];
  snprintf(text, sizeof text, format, static_cast<double>(inches));
  RenderTextPuts(out, text);
}

void PutNumber(render_text *out, const char *format, int number) {
  char text[64];
  snprintf(text, sizeof text, format, number);
  RenderTextPuts(out, text);
}

/* Lists are indented in quarter-inch steps from the nearest earlier list
 * definition indented less (the page margin for the first). */
void PutListMargin(head_pass &pass, const paragraph_definition &definition, render_text *out) {
  const WORD margin = LeftIndent(definition);
  if (definition.has_extension && Flag(definition.flags2, pab_flags2::LeftPercent)) {
    PutNumber(out, "margin-left: 0%%; padding-left: %3d%%; ", definition.left_percent);
    return;
  }
  WORD base = kPageMargin;
  for (auto it = pass.list_margins.rbegin(); it != pass.list_margins.rend(); ++it) {
    if (*it < margin) {
      base = *it;
      break;
    }
  }
  try {
    pass.list_margins.push_back(margin);
  } catch (const std::bad_alloc &) {
    // Short memory fails the text, as a failed append does.
    if (out->status == NOERROR)
      out->status = VELKO_ERR_MEMORY;
    return;
  }
  const long step = long{margin} - base;
  if (step >= kListStep)
    PutInches(out, "padding-left: 0.25in; margin-left: %4.2fin; ",
              static_cast<float>(step - kListStep) / kTwipsPerInch);
  else
    PutInches(out, "margin-left: 0.0in; padding-left: %4.2fin; ",
              static_cast<float>(step > 0 ? step : 0) / kTwipsPerInch);
}

/* Outside tables and layers: the margin beyond the page's one inch. Inside
 * them the cell or layer places the text. */
void PutParagraphMargin(head_pass &pass, const paragraph_definition &definition, render_text *out) {
  const html_render_info *c = pass.c;
  if (definition.has_extension && Flag(definition.flags2, pab_flags2::LeftPercent)) {
    if (definition.left_percent > 0)
      PutNumber(out, "margin-left: %3d%%; ", definition.left_percent);
    return;
  }
  if (c->table_level > 0 || c->layer_level > 0)
    return;
  const WORD margin = LeftIndent(definition);
  if (margin == kPageMargin ||
      Flag(definition.flags2, pab_flags2::DefaultLeft | pab_flags2::DefaultFirst))
    return;
  PutInches(out, "margin-left: %4.2fin; ", static_cast<float>(margin) / kTwipsPerInch - 1.0f);
}

WORD FirstIndent(const paragraph_definition &definition) {
  if (definition.has_extension && Flag(definition.flags2, pab_flags2::FirstOffset))
    return definition.first_offset;
  return definition.first_line;
}

void PutRightAndIndent(const paragraph_definition &definition, bool list, render_text *out) {
  const WORD flags2 = definition.flags2;
  if (definition.has_extension && Flag(flags2, pab_flags2::RightPercent) &&
      !Flag(flags2, pab_flags2::RightOffset) && definition.right_percent >= 1 &&
      definition.right_percent <= kHighestPercent)
    PutNumber(out, "margin-right: %3d%%; ", definition.right_percent);
  // A list's first line is where its bullet hangs; the list places it.
  if (list)
    return;
  if (definition.has_extension && Flag(flags2, pab_flags2::FirstPercent)) {
    if (definition.first_percent != definition.left_percent)
      PutNumber(out, "text-indent: %3d%%; ",
                int{definition.first_percent} - int{definition.left_percent});
    return;
  }
  const long indent = long{FirstIndent(definition)} - LeftIndent(definition);
  if (indent != 0)
    PutInches(out, "text-indent: %4.2fin; ", static_cast<float>(indent) / kTwipsPerInch);
}

struct list_style {
  const char *shape;
  const char *image; /* null: none */
};

list_style ListStyle(const html_render_info *c, const paragraph_definition &definition) {
  const WORD f = definition.flags2;
  if (Flag(definition.flags, pab_flags::Bulleted)) {
    if (Flag(f, pab_flags2::ListStyleB))
      return {"circle", c->css_circle_bullet_graphic};
    if (Flag(f, pab_flags2::ListStyleD))
      return {"circle", c->css_check_bullet_graphic};
    if (Flag(f, pab_flags2::ListStyleC))
      return {"square", c->css_square_bullet_graphic};
    if (Flag(f, pab_flags2::ListStyleA))
      return {"disc", c->css_check_bullet_graphic};
    return {"disc", c->css_bullet_graphic};
  }
  const bool a = Flag(f, pab_flags2::ListStyleA);
  const bool b = Flag(f, pab_flags2::ListStyleB);
  const bool cc = Flag(f, pab_flags2::ListStyleC);
  if (cc && b && a)
    return {"lower-alpha", nullptr};
  if (a && b)
    return {"upper-roman", nullptr};
  if (a && cc)
    return {"lower-roman", nullptr};
  if (cc && b)
    return {"upper-alpha", nullptr};
  return {"decimal", nullptr};
}

void PutListStyle(head_pass &pass, const paragraph_definition &definition, render_text *out) {
  const list_style style = ListStyle(pass.c, definition);
  if (style.image != nullptr && style.image[0] != '\0') {
    RenderTextPuts(out, "list-style: url('");
    // A CSS string, whether the rule set stands in the style sheet or
    // inline in an attribute: entities there would be read back in an
    // attribute and end the string.
    RenderTextPutEscaped(out, kEscapeCSSString, style.image, strlen(style.image));
    RenderTextPuts(out, "') ");
    RenderTextPuts(out, style.shape);
    RenderTextPuts(out, "; ");
    pass.list_image = true;
  } else if (pass.list_image) {
    RenderTextPuts(out, "list-style: url('') ");
    RenderTextPuts(out, style.shape);
    RenderTextPuts(out, "; ");
  } else {
    RenderTextPuts(out, "list-style-type: ");
    RenderTextPuts(out, style.shape);
    RenderTextPuts(out, "; ");
  }
  RenderTextPuts(out, "margin-top: 0; margin-bottom: 0; ");
}

void PutItemRule(html_render_info *c, const paragraph_definition &definition, const char *tag) {
  RenderPrintf(c, "%s.pabid%d LI {", tag, int{definition.pabid});
  if (definition.line_spacing == 2)
    RenderPuts(c, "line-height: 2em; ");
  else if (definition.line_spacing == 1)
    RenderPuts(c, "line-height: 1.5em; ");
  if (definition.spacing_before == 2)
    RenderPuts(c, "margin-top: 1em; ");
  else if (definition.spacing_before == 1)
    RenderPuts(c, "margin-top: 0.5em; ");
  if (definition.spacing_after == 2)
    RenderPuts(c, "margin-bottom: 1em; ");
  else if (definition.spacing_after == 1)
    RenderPuts(c, "margin-bottom: 0.5em; ");
  RenderPuts(c, "} ");
}

bool KeepParagraphStyle(head_pass &pass, WORD pabid, render_text *declarations) {
  html_render_info *c = pass.c;
  if (c->paragraph_style_count >= kParagraphStyles)
    return true; // the surplus gets no class
  if (c->paragraph_styles == nullptr) {
    c->paragraph_styles = static_cast<render_paragraph_style *>(VelkoAllocatePtr(
        c->session, VELKO_HERE, sizeof(render_paragraph_style) * kParagraphStyles, 1));
    if (c->paragraph_styles == nullptr)
      return false;
  }
  char *text = RenderTextDetach(declarations);
  if (text == nullptr)
    return false;
  c->paragraph_styles[c->paragraph_style_count++] = {pabid, text};
  return true;
}

void AddRuleSet(head_pass &pass, record_storage *node, const paragraph_definition &definition) {
  html_render_info *c = pass.c;
  const bool bulleted = Flag(definition.flags, pab_flags::Bulleted);
  const bool numbered = !bulleted && Flag(definition.flags, pab_flags::Numbered);
  const bool list = bulleted || numbered;
  const char *tag = bulleted ? "ul" : numbered ? "ol" : "div";
  if (list)
    AddToOrderedList(c, node);
  render_text declarations{c->session};
  RenderTextPut(&declarations, "", 0);
  if (list)
    PutListMargin(pass, definition, &declarations);
  else
    PutParagraphMargin(pass, definition, &declarations);
  PutRightAndIndent(definition, list, &declarations);
  if (Flag(definition.flags2, pab_flags2::RightToLeft)) {
    RenderTextPuts(&declarations, " direction: rtl;");
    pass.rtl = true;
  } else if (pass.rtl) {
    RenderTextPuts(&declarations, " direction: ltr;");
  }
  if (list)
    PutListStyle(pass, definition, &declarations);
  if (declarations.status != NOERROR) {
    pass.status = VELKO_ERR_MEMORY;
    RenderTextFree(&declarations);
    return;
  }
  if (pass.sheet) {
    RenderPrintf(c, "%s.pabid%d {", tag, int{definition.pabid});
    RenderPut(c, declarations.data, declarations.length);
    RenderPuts(c, "}");
    if (list)
      PutItemRule(c, definition, tag);
  }
  if (!KeepParagraphStyle(pass, definition.pabid, &declarations))
    pass.status = VELKO_ERR_MEMORY;
  RenderTextFree(&declarations);
}

/* ---- the walk ---- */

void WalkRecord(head_pass &pass, record_storage *node) {
  html_render_info *c = pass.c;
  switch (node->signature) {
  case SIG_CD_TEXT:
  case SIG_CD_BIDI_TEXT:
    if (node->length > sizeof(CDTEXT) && node->data != nullptr) {
      const BYTE *font = reinterpret_cast<const BYTE *>(node->data + offsetof(CDTEXT, FontID));
      Count(pass.faces[font[FONTID_FACE_BYTE]]);
      Count(pass.sizes[font[FONTID_SIZE_BYTE]]);
      Count(pass.colours[font[FONTID_COLOR_BYTE]]);
    }
    return;
  case SIG_CD_TABLEBEGIN:
  case SIG_CD_NESTEDTABLEBEGIN:
    if (c->table_level + 1 < kRenderTableLevels) {
      ++c->table_level;
      ReadRecordWord(node->data, node->length, offsetof(CDTABLEBEGIN, HorizInterCellSpace),
                     &c->table_spacing[c->table_level][0]);
      ReadRecordWord(node->data, node->length, offsetof(CDTABLEBEGIN, VertInterCellSpace),
                     &c->table_spacing[c->table_level][1]);
      c->level_last_cell[c->table_level] = nullptr;
    }
    return;
  case SIG_CD_TABLEEND:
  case SIG_CD_NESTEDTABLEEND:
    c->level_last_cell[c->table_level] = nullptr;
    if (c->table_level > 0)
      --c->table_level;
    return;
  case SIG_CD_BEGIN:
    if (NodeBracket(node) == SIG_CD_LAYER)
      ++c->layer_level;
    return;
  case SIG_CD_END:
    if (NodeBracket(node) == SIG_CD_LAYER && c->layer_level > 0)
      --c->layer_level;
    return;
  case SIG_CD_TABLECELL:
  case SIG_CD_NESTEDTABLECELL:
    if (!Flag(c->flags, f1::CSSBorders))
      return;
    c->level_last_cell[c->table_level] = node;
    if (!Flag(c->flags, f1::StandardFontTags))
      AddBorderClass(pass, node);
    return;
  case SIG_CD_PABDEFINITION: {
    paragraph_definition definition;
    if (ReadParagraphDefinition(node, &definition) &&
        ConvertPABIDToMapping(c, definition.pabid) == definition.pabid)
      AddRuleSet(pass, node, definition);
    return;
  }
  default:
    return;
  }
}

/* ---- the body font ---- */

BYTE MostCounted(const BYTE counts[256]) {
  int chosen = 0;
  for (int i = 1; i < 256; ++i) {
    if (counts[i] > counts[chosen])
      chosen = i;
  }
  return static_cast<BYTE>(chosen);
}

/* The double-quoted part of a built font text. */
bool QuotedPart(const render_text &text, const char **start, size_t *length) {
  if (text.data == nullptr)
    return false;
  const char *open = static_cast<const char *>(memchr(text.data, '"', text.length));
  if (open == nullptr)
    return false;
  const char *close =
      static_cast<const char *>(memchr(open + 1, '"', text.length - (open + 1 - text.data)));
  if (close == nullptr)
    return false;
  *start = open + 1;
  *length = static_cast<size_t>(close - open - 1);
  return true;
}

void RegisterBodyFont(html_render_info *c, FONTID font) {
  VelkoRTItem *item = c->item;
  if (item == nullptr || item->internal == nullptr || item->GetStyleMappingByFontID(font, 1))
    return;
  char face[64] = {};
  item->FindFaceByID(static_cast<FACEID>(font & 0xFF), face);
  item->CreateInternalStyleMapping("", face, font);
}

bool WriteOption(html_render_info *c, const char *key) {
  const render_option option(c, key);
  if (option.value() == nullptr)
    return false;
  RenderPuts(c, option.value());
  return true;
}

STATUS ChooseBodyFont(head_pass &pass, bool writing) {
  html_render_info *c = pass.c;
  const BYTE face = MostCounted(pass.faces);
  const BYTE size = MostCounted(pass.sizes);
  const BYTE colour = MostCounted(pass.colours);
  const bool fragment = Flag(c->flags, f1::Fragment);
  const FONTID font = MakeFont(face, 0, colour, size);
  if (face == kDefaultFace && colour == kDefaultColour && size == kDefaultSize) {
    if (writing && !fragment)
      WriteOption(c, "OpeningGlobalStyle=");
    c->base_font = font;
    c->current_font = font;
    return NOERROR;
  }
  // Measured against no font at all, the body's text carries every part.
  c->base_font = 0;
  c->writing_base_font = 1;
  render_text built{c->session};
  const STATUS status = CalculateXMLFontStringToText(font, nullptr, c, 1, 0, &built);
  c->writing_base_font = 0;
  if (status != NOERROR) {
    RenderTextFree(&built);
    return VELKO_ERR_FAILED;
  }
  RegisterBodyFont(c, font);
  if (writing && !Flag(c->flags, f1::StandardFontTags) && !fragment &&
      !WriteOption(c, "OpeningGlobalStyle=")) {
    const char *part = nullptr;
    size_t length = 0;
    if (built.length > kShortestBodyFont && QuotedPart(built, &part, &length)) {
      RenderPuts(c, "<style type=\"text/css\">body {");
      RenderPut(c, part, length);
      RenderPuts(c, "}</style>");
    }
  }
  RenderTextFree(&built);
  c->base_font = font;
  c->current_font = font;
  return NOERROR;
}

/* ---- completing the head and opening the body ---- */

void PutLines(html_render_info *c, std::initializer_list<const char *> lines) {
  for (const char *line : lines) {
    RenderPuts(c, line);
    RenderPutc(c, '\n');
  }
}

void WriteSectionScript(html_render_info *c) {
  if (WriteOption(c, "SectionCSSHeader="))
    return;
  PutLines(c, {"<script language=\"javascript\" type=\"text/javascript\">", "<!--",
               "function expandCollapseSection(i,ch){", "  if (document.getElementById){",
               "    document.getElementById('sctn'+i+'e').style.display='none';",
               "    document.getElementById('sctn'+i+'c').style.display='none';",
               "    document.getElementById('sctn'+i+ch).style.display='block';", "  }", "}", "-->",
               "</script>"});
}

const char *OrDefault(const char *value, const char *fallback) {
  return value != nullptr && value[0] != '\0' ? value : fallback;
}

void PutColourLine(html_render_info *c, const char *format, const char *colour) {
  RenderPrintf(c, format, colour);
  RenderPutc(c, '\n');
}

void WriteTabScript(html_render_info *c) {
  if (WriteOption(c, "TabbedCSSHeader="))
    return;
  PutLines(c, {"<script language=\"javascript\" type=\"text/javascript\">", "<!--",
               "function switchTab(numberOfTabs, tbl, i){", "  if (document.getElementById){",
               "    for (f=1;f<numberOfTabs+1;f++){",
               "      document.getElementById('ttbl'+tbl+'row'+f).style.display='none';"});
  PutColourLine(c, "      document.getElementById('t'+tbl+'link'+f).style.background='%s';",
                OrDefault(c->css_tab_nosel_background, "#999966"));
  PutColourLine(c, "      document.getElementById('t'+tbl+'link'+f).style.color='%s';",
                OrDefault(c->css_tab_nosel_text, "#333333"));
  PutLines(c, {"    }", "    document.getElementById('ttbl'+tbl+'row'+i).style.display='block';"});
  PutColourLine(c, "    document.getElementById('t'+tbl+'link'+i).style.background='%s';",
                OrDefault(c->css_tab_sel_background, "#cccc99"));
  PutColourLine(c, "    document.getElementById('t'+tbl+'link'+i).style.color='%s';",
                OrDefault(c->css_tab_sel_text, "#ffffcc"));
  PutLines(c, {"  }",
               "}",
               "-->",
               "</script>",
               "<style type=\"text/css\">",
               "ul#tabnav {",
               "font: bold 11px verdana, arial, sans-serif;",
               "list-style-type: none;",
               "padding-bottom: 24px;",
               "border-bottom:1px solid #6c6;",
               "margin: 0;",
               "}",
               "ul#tabnav li {",
               "float: left;",
               "height: 21px;",
               "background-color: #cfc;",
               "margin: 2px 2px 0 2px;",
               "border: 1px solid #6c6;",
               "}",
               "body#tab1 li.tab1, body#tab2 li.tab2,",
               "body#tab3 li.tab3, body#tab4 li.tab4 {",
               "border-bottom: 1px solid #fff;",
               "background-color: #fff;",
               "}",
               "body#tab1 li.tab1 a, body#tab2 li.tab2 a,",
               "body#tab3 li.tab3 a, body#tab4 li.tab4 a {",
               "color: #000;",
               "}",
               "#tabnav a {",
               "float: left;",
               "display: block;",
               "color: #666;",
               "text-decoration: none;",
               "padding: 4px;",
               "}",
               "#tabnav a:hover {",
               "background: #fff;",
               "}",
               "</style>"});
}

/* How a HeadTag= option leaves the head: absent, the head is completed;
 * given, only when it opens a head without a "</head>". A head given whole
 * is the caller's, and the document's start cut its trailing "</head>";
 * XHTML must still be well-formed, so there the head is closed again. */
enum class head_state { Complete, Leave, CloseOnly };

head_state HeadTagState(html_render_info *c) {
  const render_option head(c, "HeadTag=");
  const char *value = head.value();
  if (value == nullptr)
    return head_state::Complete;
  if (strcasestr(value, "<head>") != nullptr && strcasestr(value, "</head>") == nullptr)
    return head_state::Complete;
  static const char kHeadEnd[] = "</head>";
  const size_t length = strlen(value);
  const bool endsTheHead = length >= sizeof kHeadEnd - 1 &&
                           strcasecmp(value + length - (sizeof kHeadEnd - 1), kHeadEnd) == 0;
  return endsTheHead && c->generation == kGenerationXHTML ? head_state::CloseOnly
                                                          : head_state::Leave;
}

void CompleteHead(html_render_info *c) {
  const head_state state = HeadTagState(c);
  if (state == head_state::Leave)
    return;
  if (state == head_state::CloseOnly) {
    RenderPuts(c, "</head>");
    return;
  }
  if (Flag(c->flags5, f5::SupportRico) && !WriteOption(c, "RicoHeader="))
    RenderPuts(c, "<script type=\"text/javascript\" src=\"prototype-1.4.0/dist/prototype.js\">"
                  "</script><script type=\"text/javascript\" src=\"rico.js\"></script>");
  if (Flag(c->flags2, f2::SectionsInCSS))
    WriteSectionScript(c);
  if (Flag(c->flags2, f2::TabbedTablesInCSS))
    WriteTabScript(c);
  RenderPuts(c, "</head>");
}

void OpenBody(html_render_info *c) {
  if (Flag(c->flags, f1::NewlineCRLF | f1::NewlineNUL) &&
      !Flag(c->encoding_flags, kEncodingQuotedPrintable))
    RenderPutc(c, '\n');
  if (!WriteOption(c, "OpeningBody=") && !Flag(c->flags, f1::Fragment)) {
    const BYTE colour = FontByte(&c->base_font, FONTID_COLOR_BYTE);
    if (Flag(c->flags, f1::StandardFontTags)) {
      RenderPuts(c, "<body bgcolor='#ffffff'>");
    } else if (colour >= 1 && colour < kPaletteColors) {
      char hex[8];
      RenderPaletteColor(colour, hex);
      RenderPrintf(c, "<body text='%s' bgcolor='#ffffff'>", hex);
    } else {
      RenderPuts(c, "<body text='#000000' bgcolor='#ffffff'>");
    }
  }
  snprintf(c->background_color, sizeof c->background_color, "%s", kWhite);
}

/* The bookkeeping of the records starts afresh for the walk to come. */
void ClearBookkeeping(html_render_info *c) {
  PopXMLStack(c, 0, "*", 0, 0, 0, 0, 0);
  c->table_level = 0;
  c->layer_level = 0;
  c->section_counter = 0;
  c->section_id = 0;
  c->in_link[0] = 0;
  c->in_link[1] = 0;
  c->anchor_open = 0;
  for (const record_storage *&bar : c->section_bars)
    bar = nullptr;
  for (int level = 0; level < kRenderTableLevels; ++level) {
    c->cell_empty[level] = 0;
    c->cell_saved_record[level] = nullptr;
    c->cell_saved_flag[level] = 0;
    c->table_levels[level] = {};
    c->table_levels[level].border_mark = 0xFFFF; // undecided until a table says
  }
  c->table_counter = 0;
  c->pending_row_display = 0;
  c->table_encapsulated = 0;
  c->position_cell = nullptr;
  c->pending_line_break = 0;
  c->large_paragraph = 0;
  c->current_definition = 0;
  c->previous_definition = 0;
  c->current_style_name = 0;
  c->first_cell_paragraph = 0;
  c->list_depth = 0;
  c->paragraph_mapping = nullptr;
  c->group_mapping = nullptr;
  c->text_mapping_count = 0;
  c->current_font = c->base_font;
}

} // namespace

STATUS RunXMLHeadPass(html_render_info *c) {
  FreeChunkStyleLists(c);
  c->table_level = 0;
  c->layer_level = 0;
  const bool writing = c->head_written == 0;
  head_pass pass(c, writing && !Flag(c->flags2, f2::MoveStylesInline));
  if (pass.sheet)
    RenderPuts(c, "<style type=\"text/css\">");
  TraceXMLStream(c, "PrXMLStr - Step 3");
  pass.colours[kDefaultColour] = kSeedCount;
  pass.faces[kDefaultFace] = kSeedCount;
  pass.sizes[kDefaultSize] = kSeedCount;
  pass.rtl = c->force_direction != 0;
  for (record_storage *node = c->current_record;
       node != nullptr && !IsBeyondLast(c, node) && pass.status == NOERROR; node = node->next) {
    PrefetchRecordsAhead(node);
    WalkRecord(pass, node);
  }
  if (pass.status != NOERROR) {
    // The run cannot be rendered whole: the output says so.
    if (c->output_status == NOERROR)
      c->output_status = pass.status;
    return pass.status;
  }
  if (pass.sheet) {
    for (WORD i = 0; c->border_classes != nullptr && i < c->border_class_count; ++i) {
      RenderPuts(c, c->border_classes[i].text);
      RenderPuts(c, "}");
    }
    WriteOption(c, "AddStyleSheetInfo=");
    RenderPuts(c, "</style>");
  }
  if (writing) {
    if (STATUS status = ChooseBodyFont(pass, writing); status != NOERROR) {
      if (c->output_status == NOERROR)
        c->output_status = status;
      return status;
    }
  }
  TraceXMLStream(c, "PrXMLStr - Step 4");
  if (writing) {
    if (!Flag(c->flags, f1::Fragment))
      CompleteHead(c);
    OpenBody(c);
    c->head_written = 1;
  }
  ClearBookkeeping(c);
  return c->output_status;
}
