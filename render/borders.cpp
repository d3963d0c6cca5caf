/*
 * Border strings: the CSS of a CDBORDERINFO record (border style, colour,
 * widths, margin and padding) for the style attribute of the element it
 * frames. The text goes to the session's second scratch text.
 *
 * Not here: where the text is placed (the paragraph, table and image
 * renderers).
 */
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "render/paragraphs.h"
#include "store/body.h"

namespace {

constexpr WORD kDropShadow = 0x0001;
constexpr WORD kColourSet = 0x0001;
/* Drop shadows are drawn this wide on the right and bottom. */
constexpr unsigned kShadowWidth = 12;
constexpr const char *kShadowGrey = "border-color:rgb(211,211,211);";

/* The text being built in the scratch text, cut at its size. */
class css_text {
public:
  explicit css_text(char *out) : out_(out) { out_[0] = '\0'; }

  void Puts(const char *text) { Append(text, strlen(text)); }

  void Printf(const char *format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
  {
    char text[128];
    va_list arguments;
    va_start(arguments, format);
    const int n = vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (n > 0)
      Append(text, std::min(static_cast<size_t>(n), sizeof text - 1));
  }

private:
  void Append(const char *text, size_t length) {
    const size_t room = VELKO_SCRATCH_TEXT_SIZE - 1 - used_;
    const size_t take = length < room ? length : room;
    memcpy(out_ + used_, text, take);
    used_ += take;
    out_[used_] = '\0';
  }

  char *out_;
  size_t used_ = 0;
};

const char *StyleWord(const CDBORDERINFO &border) {
  if ((border.BorderFlags & kDropShadow) != 0 && border.BorderStyle <= 1)
    return "inset";
  switch (border.BorderStyle) {
  case 0:
    return "none";
  case 2:
    return "double";
  case 3:
    return "inset";
  case 4:
    return "outset";
  case 5:
    return "ridge";
  case 6:
    return "groove";
  case 7:
    return "dotted";
  case 8:
    return "dashed";
  default:
    return "solid";
  }
}

void PutColour(const CDBORDERINFO &border, css_text &css) {
  const COLOR_VALUE &colour = border.Color;
  const bool set = (colour.Flags & kColourSet) != 0;
  if ((border.BorderFlags & kDropShadow) != 0) {
    if (colour.Red + colour.Green + colour.Blue == 0 || !set) {
      css.Puts(kShadowGrey);
      return;
    }
  } else if (!set) {
    return;
  }
  css.Printf("border-color:rgb(%u,%u,%u);", unsigned{colour.Red}, unsigned{colour.Green},
             unsigned{colour.Blue});
}

void PutWidths(const CDBORDERINFO &border, css_text &css) {
  const unsigned top = border.BorderWidthTop;
  const unsigned left = border.BorderWidthLeft;
  const unsigned bottom = border.BorderWidthBottom;
  const unsigned right = border.BorderWidthRight;
  const bool shadow = (border.BorderFlags & kDropShadow) != 0;
  if (top == left && top == bottom && top == right) {
    if (shadow && top < kShadowWidth)
      css.Printf("border-width: %upx %upx %upx %upx;", top, kShadowWidth, kShadowWidth, left);
    else
      css.Printf("border-width:%u;", top);
    return;
  }
  if (shadow)
    css.Puts("border-width:0px 12px 12px 0px;");
  else
    css.Printf("border-width: %u %u %u %u;", top, right, bottom, left);
}

/* Margin or padding: one value when all four sides are equal (none when
 * that is 0), else the four sides when any is set. */
void PutSides(css_text &css, const char *property, unsigned top, unsigned right, unsigned bottom,
              unsigned left) {
  if (top == right && top == bottom && top == left) {
    if (top != 0)
      css.Printf("%s:%u;", property, top);
    return;
  }
  if (top + right + bottom + left != 0)
    css.Printf("%s: %u %u %u %u;", property, top, right, bottom, left);
}

} // namespace

STATUS CalculateXMLBorderString(const record_storage *record, html_render_info *context) {
  css_text css(context->session->scratch_second);
  css.Puts(" ");
  // A record shorter than its fixed fields says nothing.
  if (record == nullptr || record->data == nullptr || record->length < sizeof(CDBORDERINFO))
    return NOERROR;
  CDBORDERINFO border;
  memcpy(&border, record->data, sizeof border);
  css.Puts("border-style:");
  css.Puts(StyleWord(border));
  css.Puts(";");
  PutColour(border, css);
  PutWidths(border, css);
  PutSides(css, "margin", border.OuterWidthTop, border.OuterWidthRight, border.OuterWidthBottom,
           border.OuterWidthLeft);
  PutSides(css, "padding", border.InnerWidthTop, border.InnerWidthRight, border.InnerWidthBottom,
           border.InnerWidthLeft);
  return NOERROR;
}
