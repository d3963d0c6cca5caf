/*
 * Font markup: the tags that change the font of rendered text from the
 * font of the last markup to a new one, measured against the document's
 * base font. Two forms: legacy font and attribute tags (StandardFontTags
 * or HybridFontTags), or a span with an inline style plus attribute tags.
 * What is opened has its closing tag pushed on the main close-tag stack;
 * the text renderers and the driver pop them.
 *
 * Colours come from the colour value of the run when it carries an RGB
 * text colour, else from the palette (RGB_TABLE) by index, never from
 * colour names. Face names are escaped for the attribute they stand in;
 * in a style they are CSS strings, so that a name cannot add declarations.
 *
 * This file does not decide where runs start or end (render/text_runs.cpp).
 */
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "generate/color_string.h"
#include "generate/font_string.h"
#include "render/paragraphs.h"
#include "render/tag_stack.h"
#include "render/text_render.h"
#include "velko/velko.h"

namespace {

namespace f1 = html_flags;
namespace f3 = html_flags3;
namespace f4 = html_flags4;

/* The four parts of a font, read bytewise. */
struct font_parts {
  BYTE face;
  BYTE attributes;
  BYTE color;
  BYTE size;
};

font_parts Parts(FONTID font) {
  return {FontByte(&font, FONTID_FACE_BYTE), FontByte(&font, FONTID_ATTRIBUTES_BYTE),
          FontByte(&font, FONTID_COLOR_BYTE), FontByte(&font, FONTID_SIZE_BYTE)};
}

/* The attribute a bit stands for; superscript and subscript only without
 * the effect bit, which turns them into emboss and extrude. */
bool HasBold(BYTE attributes) { return (attributes & kFontBold) != 0; }
bool HasItalic(BYTE attributes) { return (attributes & kFontItalic) != 0; }
bool HasUnderline(BYTE attributes) { return (attributes & kFontUnderline) != 0; }
bool HasStrike(BYTE attributes) { return (attributes & kFontStrikethrough) != 0; }
bool HasSuperscript(BYTE attributes) { return (attributes & 0x90) == kFontSuperscript; }
bool HasSubscript(BYTE attributes) { return (attributes & 0xA0) == kFontSubscript; }

/* Whether the colour value carries the text's own colour: its RGB bytes
 * are valid. Highlight bits only add a background and leave the RGB
 * colour to the text. */
bool HasRgb(const COLOR_VALUE *colour) {
  return colour != nullptr && (colour->Flags & kColorFlagRgb) != 0;
}

/* Red, green and blue of the run: the colour value's RGB colour, else the
 * palette entry (black beyond the palette). */
void RunRgb(const COLOR_VALUE *colour, BYTE index, BYTE rgb[3]) {
  if (HasRgb(colour)) {
    rgb[0] = colour->Red;
    rgb[1] = colour->Green;
    rgb[2] = colour->Blue;
    return;
  }
  const DWORD value = index < kPaletteColors ? RGB_TABLE[index] : 0;
  rgb[0] = static_cast<BYTE>(value);
  rgb[1] = static_cast<BYTE>(value >> 8);
  rgb[2] = static_cast<BYTE>(value >> 16);
}

/* Appends the CSS/HTML face text of a face id, escaped for an attribute:
 * the substitute of a static face, else the face's name. False (nothing
 * written) when the item's face table has no such face. */
bool PutFaceName(const html_render_info *context, BYTE face, render_text *out) {
  char name[kFaceNameRoom] = {};
  const char *text = FaceText(context, face, name);
  if (text == nullptr)
    return false;
  RenderTextPutEscaped(out, kEscapeAttribute, text, strnlen(text, kStaticFontSubstituteSize));
  return true;
}

/* Whether a part of a substitute family list can stand unquoted: a name
 * of letters, digits, blanks, '-' and '_' (a generic family among them). */
bool IsPlainFamily(const char *part, size_t length) {
  if (length == 0)
    return false;
  for (size_t i = 0; i < length; ++i) {
    const char c = part[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
          c == ' ' || c == '-' || c == '_'))
      return false;
  }
  return true;
}

void PutCssString(render_text *out, const char *text, size_t length) {
  RenderTextPutc(out, '\'');
  RenderTextPutEscaped(out, kEscapeCSSString, text, length);
  RenderTextPutc(out, '\'');
}

/* A substitute is a family list of its own ("Courier,monospace"): plain
 * names stay as written, any other part becomes a CSS string, so that no
 * part can end the declaration. */
void PutSubstituteFamilies(render_text *out, const char *text) {
  const size_t length = strnlen(text, kStaticFontSubstituteSize);
  size_t start = 0;
  while (start <= length) {
    const char *comma = static_cast<const char *>(memchr(text + start, ',', length - start));
    const size_t end = comma != nullptr ? static_cast<size_t>(comma - text) : length;
    if (start > 0)
      RenderTextPutc(out, ',');
    if (IsPlainFamily(text + start, end - start))
      RenderTextPut(out, text + start, end - start);
    else
      PutCssString(out, text + start, end - start);
    start = end + 1;
  }
}

/* Pushes a closing tag and appends its opening tag, unless one of the
 * closing forms is already on the main stack. */
void OpenAttribute(html_render_info *context, render_text *work, const char *open,
                   const char *close, const char *otherClose) {
  if (TagOnXMLStack(context, 0, close, 0) != 0)
    return;
  if (otherClose != nullptr && TagOnXMLStack(context, 0, otherClose, 0) != 0)
    return;
  if (PushXMLStack(context, 0, close) == nullptr)
    return; // without its closing tag the element is not opened
  RenderTextPuts(work, open);
}

/* Bold, italic, superscript and subscript; with underline and
 * strikethrough too in the tag form (the span carries them otherwise). */
void OpenAttributes(html_render_info *context, render_text *work, BYTE attributes,
                    bool decorations) {
  const bool wai = (context->flags & f1::WAICompliant) != 0;
  if (HasBold(attributes))
    OpenAttribute(context, work, wai ? "<strong>" : "<b>", wai ? "</strong>" : "</b>",
                  wai ? "</b>" : "</strong>");
  if (HasItalic(attributes))
    OpenAttribute(context, work, wai ? "<em>" : "<i>", wai ? "</em>" : "</i>",
                  wai ? "</i>" : "</em>");
  if (decorations && HasUnderline(attributes))
    OpenAttribute(context, work, "<u>", "</u>", nullptr);
  if (decorations && HasStrike(attributes))
    OpenAttribute(context, work, "<s>", "</s>", nullptr);
  if (HasSuperscript(attributes))
    OpenAttribute(context, work, "<sup>", "</sup>", nullptr);
  if (HasSubscript(attributes))
    OpenAttribute(context, work, "<sub>", "</sub>", nullptr);
}

/* Pops the main stack down to the tag (either of two forms), appending the
 * popped closing tags to the work text. */
void CloseAttribute(html_render_info *context, render_text *work, const char *tag,
                    const char *otherTag) {
  if (PopXMLStackToBuffer(context, 0, tag, 1, 1, work, 0, 0, 0) == 0 && otherTag != nullptr)
    PopXMLStackToBuffer(context, 0, otherTag, 1, 1, work, 0, 0, 0);
}

/* Closes bold, italic, superscript and subscript that the last markup had
 * and the new font has not. */
void CloseEndedAttributes(html_render_info *context, render_text *work, BYTE was, BYTE now) {
  if (HasBold(was) && !HasBold(now))
    CloseAttribute(context, work, "</b>", "</strong>");
  if (HasItalic(was) && !HasItalic(now))
    CloseAttribute(context, work, "</i>", "</em>");
  if (HasSuperscript(was) && !HasSuperscript(now))
    CloseAttribute(context, work, "</sup>", nullptr);
  if (HasSubscript(was) && !HasSubscript(now))
    CloseAttribute(context, work, "</sub>", nullptr);
}

/* The inputs of one markup. */
struct font_change {
  font_parts font;
  font_parts base;
  font_parts current;
  const COLOR_VALUE *colour;
  bool forceSize;
  bool rtl;
};

bool Suppressed(const html_render_info *context, DWORD bit) { return (context->flags3 & bit) != 0; }

/* Whether the colour must be written: forced, another palette index, or
 * an RGB colour of the run's own. */
bool ColourDiffers(const html_render_info *context, const font_change &change) {
  return context->force_font_color != 0 || change.font.color != change.base.color ||
         HasRgb(change.colour);
}

bool FaceDiffers(const html_render_info *context, const font_change &change) {
  return context->force_font_face != 0 || change.font.face != change.base.face;
}

/* ---- the tag form ---- */

void PutFontTag(html_render_info *context, const font_change &change, render_text *work) {
  const bool colour = ColourDiffers(context, change) && !Suppressed(context, f3::SuppressFontColor);
  // A face the item's face table does not know is not written.
  render_text name{context->session};
  const bool face = FaceDiffers(context, change) && !Suppressed(context, f3::SuppressFontFace) &&
                    PutFaceName(context, change.font.face, &name);
  const bool size = (context->force_font_size != 0 || change.forceSize ||
                     HTMLSizeFromPointSize(context, change.font.size) !=
                         HTMLSizeFromPointSize(context, change.base.size)) &&
                    !Suppressed(context, f3::SuppressFontSize);
  if (!colour && !face && !size) {
    RenderTextFree(&name);
    return;
  }
  const bool basefont = (context->flags & f1::StandardFontTags) != 0 &&
                        (context->flags & f1::Fragment) == 0 && context->writing_base_font != 0;
  RenderTextPuts(work, basefont ? "<basefont" : "<font");
  char text[64];
  if (colour) {
    BYTE rgb[3];
    RunRgb(change.colour, change.font.color, rgb);
    snprintf(text, sizeof text, " color='#%02x%02x%02x'", rgb[0], rgb[1], rgb[2]);
    RenderTextPuts(work, text);
  }
  if (size) {
    snprintf(text, sizeof text, " size='%d'", HTMLSizeFromPointSize(context, change.font.size));
    RenderTextPuts(work, text);
  }
  if (face) {
    RenderTextPuts(work, " face='");
    RenderTextPut(work, name.data, name.length);
    RenderTextPuts(work, "'");
  }
  RenderTextFree(&name);
  if (change.rtl) {
    RenderTextPuts(work, " dir='rtl'");
    context->rtl_seen = 1;
  } else if (context->rtl_seen != 0) {
    RenderTextPuts(work, " dir='ltr'");
  }
  if (basefont) {
    RenderTextPuts(work, "/>");
    return;
  }
  RenderTextPuts(work, ">");
}

/* The font tag, with its closing tag pushed; an element whose closing tag
 * cannot be pushed is not opened. */
void BuildFontTag(html_render_info *context, const font_change &change, render_text *work) {
  render_text tag{context->session};
  PutFontTag(context, change, &tag);
  const bool basefont = tag.length > 9 && memcmp(tag.data, "<basefont", 9) == 0;
  if (tag.length > 0 && tag.status == NOERROR &&
      (basefont || PushXMLStack(context, 0, "</font>") != nullptr))
    RenderTextPut(work, tag.data, tag.length);
  RenderTextFree(&tag);
}

void BuildTagForm(html_render_info *context, const font_change &change, render_text *work) {
  BuildFontTag(context, change, work);
  if (Suppressed(context, f3::SuppressFontAttr))
    return;
  const BYTE defaults = context->item != nullptr ? context->item->default_attributes : 0;
  if (change.font.attributes != defaults)
    OpenAttributes(context, work, change.font.attributes, true);
}

/* ---- the span form ---- */

bool DiffersFrom(const font_parts &a, const font_parts &b) {
  return a.face != b.face || a.attributes != b.attributes || a.color != b.color || a.size != b.size;
}

/* Closes the open span when the face, colour or size it carries changes. */
void CloseChangedSpan(html_render_info *context, const font_change &change) {
  if (TagOnXMLStack(context, 0, "</span>", 0) == 0)
    return;
  const bool face =
      !Suppressed(context, f3::SuppressFontFace) && change.font.face != change.current.face;
  const bool colour = !Suppressed(context, f3::SuppressFontColor) &&
                      (change.font.color != change.current.color || change.colour != nullptr);
  const bool size =
      !Suppressed(context, f3::SuppressFontSize) && change.font.size != change.current.size;
  if (face || colour || size)
    PopXMLStackToBuffer(context, 0, "</span>", 1, 1, nullptr, 0, 0, 0);
}

bool SpanWanted(const html_render_info *context, const font_change &change) {
  const bool fromBase = DiffersFrom(change.font, change.base) || change.colour != nullptr ||
                        context->force_font_size != 0 || context->force_font_face != 0 ||
                        context->force_font_color != 0 || change.forceSize;
  if (!fromBase)
    return false;
  return TagOnXMLStack(context, 0, "</span>", 1) == 0 || DiffersFrom(change.font, change.current) ||
         change.colour != nullptr || change.rtl || context->rtl_seen != 0;
}

/* The declarations of the span's style; false when there are none. */
bool PutSpanStyle(html_render_info *context, const font_change &change, render_text *style) {
  char text[96];
  const DWORD startLength = style->length;
  if (!Suppressed(context, f3::SuppressFontSize) &&
      (context->force_font_size != 0 || change.forceSize || change.font.size != change.base.size)) {
    snprintf(text, sizeof text, "font-size: %dpt; ", change.font.size);
    RenderTextPuts(style, text);
  }
  const bool colourShown = !Suppressed(context, f3::SuppressFontColor);
  if (colourShown && change.colour != nullptr && (change.colour->Flags & kColorFlagHighlights)) {
    const WORD flags = change.colour->Flags;
    RenderTextPuts(style, "background: ");
    RenderTextPuts(style, (flags & kColorFlagHighlightYellow) ? "#ffffc2;"
                          : (flags & kColorFlagHighlightPink) ? "#ffe0e6;"
                                                              : "#e0ffff;");
  }
  if (colourShown && ColourDiffers(context, change)) {
    BYTE rgb[3];
    RunRgb(change.colour, change.font.color, rgb);
    snprintf(text, sizeof text, "color: rgb(%d,%d,%d); ", rgb[0], rgb[1], rgb[2]);
    RenderTextPuts(style, text);
  }
  if (!Suppressed(context, f3::SuppressFontAttr)) {
    const BYTE attributes = change.font.attributes;
    const bool underline = HasUnderline(attributes);
    const bool strike = HasStrike(attributes);
    if (attributes != change.base.attributes) {
      if (underline && strike)
        RenderTextPuts(style, "text-decoration: underline line-through; ");
      else if (underline)
        RenderTextPuts(style, "text-decoration: underline; ");
      else if (strike)
        RenderTextPuts(style, "text-decoration: line-through; ");
      else if (context->anchor_open != 0)
        RenderTextPuts(style, "text-decoration: none; ");
    } else if (context->anchor_open != 0 && !underline) {
      RenderTextPuts(style, "text-decoration: none; ");
    }
  }
  if (FaceDiffers(context, change) && !Suppressed(context, f3::SuppressFontFace)) {
    PutFontFamily(context, change.font.face, style);
  }
  if (change.rtl) {
    RenderTextPuts(style, "direction: rtl;");
    context->rtl_seen = 1;
  } else if (context->rtl_seen != 0) {
    RenderTextPuts(style, "direction: ltr;");
  }
  return style->length != startLength;
}

void BuildSpan(html_render_info *context, const font_change &change, render_text *work) {
  if (!SpanWanted(context, change))
    return;
  render_text style{context->session};
  if (PutSpanStyle(context, change, &style) && style.status == NOERROR &&
      PushXMLStack(context, 0, "</span>") != nullptr) {
    RenderTextPuts(work, "<span style=\"");
    RenderTextPuts(work, context->curly_open);
    RenderTextPut(work, style.data, style.length);
    RenderTextPuts(work, context->curly_close);
    RenderTextPuts(work, "\">");
  }
  RenderTextFree(&style);
}

void BuildSpanForm(html_render_info *context, const font_change &change, render_text *work) {
  CloseChangedSpan(context, change);
  // Attributes that end are closed before a new span opens, so that the
  // span is not closed again with them.
  if (!Suppressed(context, f3::SuppressFontAttr))
    CloseEndedAttributes(context, work, change.current.attributes, change.font.attributes);
  BuildSpan(context, change, work);
  if (!Suppressed(context, f3::SuppressFontAttr) &&
      change.font.attributes != change.base.attributes)
    OpenAttributes(context, work, change.font.attributes, false);
}

bool AllSuppressed(const html_render_info *context) {
  const DWORD all =
      f3::SuppressFontFace | f3::SuppressFontSize | f3::SuppressFontAttr | f3::SuppressFontColor;
  return (context->flags3 & all) == all;
}

/* A run in the font of the last markup, which is the base font, without
 * a colour of its own and with nothing forced: the span form closes,
 * opens and writes nothing for it. Most runs of a body are such. */
bool SpanFormUnchanged(const html_render_info *context, FONTID font, const COLOR_VALUE *colour,
                       DWORD forceSize, DWORD rtl) {
  if ((context->flags & f1::StandardFontTags) != 0 || (context->flags4 & f4::HybridFontTags) != 0 ||
      colour != nullptr || forceSize != 0 || rtl != 0 || context->force_font_size != 0 ||
      context->force_font_face != 0 || context->force_font_color != 0)
    return false;
  const font_parts run = Parts(font);
  return !DiffersFrom(run, Parts(context->current_font)) &&
         !DiffersFrom(run, Parts(context->base_font));
}

} // namespace

STATUS CalculateXMLFontStringToText(FONTID font, const COLOR_VALUE *colour,
                                    html_render_info *context, DWORD forceSize, DWORD rtl,
                                    render_text *out) {
  if (!AllSuppressed(context)) {
    const font_change change = {Parts(font),
                                Parts(context->base_font),
                                Parts(context->current_font),
                                colour,
                                forceSize != 0,
                                rtl != 0};
    render_text work{context->session};
    RenderTextPut(&work, "", 0);
    if ((context->flags & f1::StandardFontTags) != 0 || (context->flags4 & f4::HybridFontTags) != 0)
      BuildTagForm(context, change, &work);
    else
      BuildSpanForm(context, change, &work);
    if (work.status != NOERROR && out->status == NOERROR)
      out->status = work.status;
    RenderTextPut(out, work.data, work.length);
    RenderTextFree(&work);
  }
  context->current_font = font;
  return out->status;
}

const char *FaceText(const html_render_info *context, BYTE face, char (&name)[kFaceNameRoom]) {
  if (context->item == nullptr || context->item->FindFaceByID(face, name) == 0 || name[0] == '\0')
    return nullptr;
  for (int i = 0; i < kStaticFonts && context->font_map_faces[i][0] != '\0'; ++i) {
    if (strcasecmp(name, context->font_map_faces[i]) == 0)
      return context->font_map_substitutes[i];
  }
  return name;
}

bool PutFontFamily(const html_render_info *context, BYTE face, render_text *out) {
  char name[kFaceNameRoom] = {};
  const char *text = FaceText(context, face, name);
  if (text == nullptr)
    return false;
  RenderTextPuts(out, "font-family: ");
  if (text == name)
    PutCssString(out, name, strnlen(name, sizeof name));
  else
    PutSubstituteFamilies(out, text);
  RenderTextPuts(out, "; ");
  return true;
}

STATUS CalculateXMLFontString(FONTID font, const COLOR_VALUE *colour, html_render_info *context,
                              DWORD keepInScratch, DWORD forceSize, DWORD rtl) {
  if (SpanFormUnchanged(context, font, colour, forceSize, rtl)) {
    context->session->scratch_second[0] = '\0';
    context->current_font = font;
    return context->output_status;
  }
  render_text markup{context->session};
  if (STATUS status = CalculateXMLFontStringToText(font, colour, context, forceSize, rtl, &markup);
      status != NOERROR) {
    RenderTextFree(&markup);
    return status;
  }
  char *scratch = context->session->scratch_second;
  scratch[0] = '\0';
  if (keepInScratch != 0 && markup.length < VELKO_SCRATCH_TEXT_SIZE) {
    if (markup.length > 0)
      memcpy(scratch, markup.data, markup.length + 1);
  } else {
    RenderPut(context, markup.data, markup.length);
  }
  RenderTextFree(&markup);
  return context->output_status;
}
