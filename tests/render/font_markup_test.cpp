// Font markup: the span form and the tag form, what is measured against
// the base font and the last markup, the closing tags pushed, and the
// colours, sizes, faces and directions written.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "render_fixture.h"

namespace {

using text_testing::MakeFont;
using Tags = std::vector<std::string>;

constexpr BYTE kBold = 0x01;
constexpr BYTE kItalic = 0x02;
constexpr BYTE kUnderline = 0x04;
constexpr BYTE kStrike = 0x08;
constexpr BYTE kRed = 2;

class FontMarkupTest : public text_testing::TextRenderTest {
protected:
  void SetUp() override {
    TextRenderTest::SetUp();
    LoadRecords({cdbuild::Text("x")});
  }

  /* The markup the call appends to the output. */
  std::string Markup(FONTID font, const COLOR_VALUE *colour = nullptr, DWORD forceSize = 0,
                     DWORD rtl = 0) {
    const DWORD before = context_->output_length;
    EXPECT_EQ(CalculateXMLFontString(font, colour, context_, 0, forceSize, rtl), NOERROR);
    return Held().substr(before);
  }

  void TagForm() { context_->flags |= html_flags::StandardFontTags; }
};

TEST_F(FontMarkupTest, SpanFormSizeAndColourOfTheSpan) {
  EXPECT_EQ(Markup(MakeFont(1, 0, kRed, 12)),
            "<span style=\"font-size: 12pt; color: rgb(255,0,0); \">");
  EXPECT_EQ(Stack(), Tags{"</span>"});
  EXPECT_EQ(context_->current_font, MakeFont(1, 0, kRed, 12));
  // The same font again, its span still on top: nothing.
  EXPECT_EQ(Markup(MakeFont(1, 0, kRed, 12)), "");
  EXPECT_EQ(Stack(), Tags{"</span>"});
}

TEST_F(FontMarkupTest, SpanFormClosesTheSpanWhenTheSizeChanges) {
  Markup(MakeFont(1, 0, kRed, 12));
  EXPECT_EQ(Markup(MakeFont(1, 0, kRed, 14)),
            "</span><span style=\"font-size: 14pt; color: rgb(255,0,0); \">");
  EXPECT_EQ(Stack(), Tags{"</span>"});
}

TEST_F(FontMarkupTest, SpanFormInsideAnAnchorTurnsUnderliningOff) {
  context_->anchor_open = 1;
  EXPECT_EQ(Markup(MakeFont(1, 0, kRed, 10)),
            "<span style=\"color: rgb(255,0,0); text-decoration: none; \">");
  DiscardXMLStacks(context_);
  EXPECT_EQ(Markup(MakeFont(1, kUnderline, 0, 12)),
            "<span style=\"font-size: 12pt; text-decoration: underline; \">");
}

TEST_F(FontMarkupTest, SpanFormColourValueAndHighlights) {
  const struct {
    COLOR_VALUE colour;
    BYTE index;
    const char *markup;
  } cases[] = {
      // An RGB colour of the run's own is written even on the base index.
      {{0x0001, 0x12, 0x34, 0x56, 0}, 0, "<span style=\"color: rgb(18,52,86); \">"},
      // A highlight adds only the background; the RGB colour stays the text's.
      {{0x8001, 0x12, 0x34, 0x56, 0},
       kRed,
       "<span style=\"background: #ffffc2;color: rgb(18,52,86); \">"},
      {{0x4000, 0, 0, 0, 0}, kRed, "<span style=\"background: #ffe0e6;color: rgb(255,0,0); \">"},
      {{0x2000, 0, 0, 0, 0}, 0, "<span style=\"background: #e0ffff;\">"}};
  for (const auto &c : cases) {
    DiscardXMLStacks(context_);
    context_->current_font = context_->base_font;
    EXPECT_EQ(Markup(MakeFont(1, 0, c.index, 10), &c.colour), c.markup);
  }
}

TEST_F(FontMarkupTest, SpanFormFaceAndItsSubstitute) {
  std::snprintf(context_->font_map_faces[0], kStaticFontFaceSize, "Default Monospace");
  std::snprintf(context_->font_map_substitutes[0], kStaticFontSubstituteSize, "Courier,monospace");
  EXPECT_EQ(Markup(MakeFont(4, 0, 0, 10)), "<span style=\"font-family: Courier,monospace; \">");
  DiscardXMLStacks(context_);
  const FACEID face = item_->DefineFont("O'Neil \"Sans\"");
  ASSERT_NE(face, 0);
  EXPECT_EQ(Markup(MakeFont(face, 0, 0, 10)),
            "<span style=\"font-family: 'O\\'Neil \\22 Sans\\22 '; \">");
  // Suppressed faces are not written.
  DiscardXMLStacks(context_);
  context_->current_font = context_->base_font;
  context_->flags3 |= html_flags3::SuppressFontFace;
  EXPECT_EQ(Markup(MakeFont(face, 0, 0, 10)), "");
}

TEST_F(FontMarkupTest, EndedAttributesCloseBeforeTheNewSpan) {
  EXPECT_EQ(Markup(MakeFont(1, kBold, kRed, 10)), "<span style=\"color: rgb(255,0,0); \"><b>");
  EXPECT_EQ(Stack(), (Tags{"</b>", "</span>"}));
  EXPECT_EQ(Markup(MakeFont(1, 0, kRed, 10)), "</b><span style=\"color: rgb(255,0,0); \">");
  EXPECT_EQ(Stack(), (Tags{"</span>", "</span>"}));
}

TEST_F(FontMarkupTest, WaiCompliantUsesStrongAndEmAndClosesThem) {
  context_->flags |= html_flags::WAICompliant;
  EXPECT_EQ(Markup(MakeFont(1, kBold | kItalic, 0, 10)), "<strong><em>");
  EXPECT_EQ(Stack(), (Tags{"</em>", "</strong>"}));
  // Already open in either form: not opened again.
  EXPECT_EQ(Markup(MakeFont(1, kBold | kItalic, 0, 10)), "");
  EXPECT_EQ(Markup(MakeFont(1, 0, 0, 10)), "</em></strong>");
  EXPECT_EQ(Stack(), Tags{});
}

TEST_F(FontMarkupTest, EmbossAndExtrudeAreNotSuperscriptOrSubscript) {
  EXPECT_EQ(Markup(MakeFont(1, 0x90, 0, 10)), "");
  EXPECT_EQ(Markup(MakeFont(1, 0xA0, 0, 10)), "");
  EXPECT_EQ(Stack(), Tags{});
}

TEST_F(FontMarkupTest, EachSuppressionLeavesItsPartOutAndTheFontIsKept) {
  context_->flags3 |= html_flags3::SuppressFontSize;
  EXPECT_EQ(Markup(MakeFont(1, 0, kRed, 24)), "<span style=\"color: rgb(255,0,0); \">");
  DiscardXMLStacks(context_);
  context_->flags3 = html_flags3::SuppressFontColor;
  EXPECT_EQ(Markup(MakeFont(1, 0, kRed, 24)), "<span style=\"font-size: 24pt; \">");
  DiscardXMLStacks(context_);
  context_->flags3 = html_flags3::SuppressFontAttr;
  EXPECT_EQ(Markup(MakeFont(1, kBold | kUnderline, 0, 10)), "");
  context_->flags3 |= html_flags3::SuppressFontFace | html_flags3::SuppressFontSize |
                      html_flags3::SuppressFontColor;
  EXPECT_EQ(Markup(MakeFont(4, kBold, kRed, 24)), "");
  EXPECT_EQ(context_->current_font, MakeFont(4, kBold, kRed, 24));
  EXPECT_EQ(Stack(), Tags{});
}

TEST_F(FontMarkupTest, TagFormSizeByHtmlSize) {
  TagForm();
  EXPECT_EQ(Markup(MakeFont(1, 0, 0, 14)), "<font size='4'>");
  EXPECT_EQ(Stack(), Tags{"</font>"});
  DiscardXMLStacks(context_);
  EXPECT_EQ(Markup(MakeFont(1, 0, 0, 9)), ""); // 9 and 10 points are both size 2
  EXPECT_EQ(Markup(MakeFont(1, 0, 0, 10), nullptr, 1), "<font size='2'>");
  DiscardXMLStacks(context_);
  EXPECT_EQ(Markup(MakeFont(1, 0, 0, 36)), "<font size='7'>");
}

TEST_F(FontMarkupTest, TagFormAttributesColourAndFace) {
  TagForm();
  EXPECT_EQ(Markup(MakeFont(4, kBold | kItalic | kUnderline | kStrike, kRed, 10)),
            "<font color='#ff0000' face='Default Monospace'><b><i><u><s>");
  EXPECT_EQ(Stack(), (Tags{"</s>", "</u>", "</i>", "</b>", "</font>"}));
  // The attribute tags already open are not opened again.
  EXPECT_EQ(Markup(MakeFont(1, kBold, 0, 10)), "");
}

TEST_F(FontMarkupTest, TagFormAttributesAreMeasuredAgainstTheItemDefault) {
  TagForm();
  item_->default_attributes = kBold;
  EXPECT_EQ(Markup(MakeFont(1, kBold, 0, 10)), "");
  EXPECT_EQ(Markup(MakeFont(1, kItalic, 0, 10)), "<i>");
}

TEST_F(FontMarkupTest, AFaceMissingFromTheFaceTableIsNotWritten) {
  EXPECT_EQ(Markup(MakeFont(99, 0, 0, 10)), "");
  TagForm();
  EXPECT_EQ(Markup(MakeFont(99, 0, 0, 10)), "");
  EXPECT_EQ(Markup(MakeFont(99, 0, 0, 14)), "<font size='4'>");
}

TEST_F(FontMarkupTest, TagFormColourValueAndDirection) {
  TagForm();
  COLOR_VALUE rgb = {0x0001, 0xAB, 0xCD, 0xEF, 0};
  EXPECT_EQ(Markup(MakeFont(1, 0, 0, 10), &rgb, 0, 1), "<font color='#abcdef' dir='rtl'>");
  EXPECT_EQ(Markup(MakeFont(1, 0, 0, 14)), "<font size='4' dir='ltr'>");
}

TEST_F(FontMarkupTest, BaseFontTag) {
  TagForm();
  context_->writing_base_font = 1;
  context_->base_font = MakeFont(1, 0, 0, 12);
  EXPECT_EQ(Markup(MakeFont(1, 0, 0, 12), nullptr, 1), "<basefont size='3'/>");
  EXPECT_EQ(Stack(), Tags{});
  context_->flags |= html_flags::Fragment;
  EXPECT_EQ(Markup(MakeFont(1, 0, 0, 12), nullptr, 1), "<font size='3'>");
}

TEST_F(FontMarkupTest, KeepInScratchLeavesTheMarkupThere) {
  const DWORD before = context_->output_length;
  ASSERT_EQ(CalculateXMLFontString(MakeFont(1, 0, 0, 14), nullptr, context_, 1, 0, 0), NOERROR);
  EXPECT_EQ(context_->output_length, before);
  EXPECT_STREQ(session_->scratch_second, "<span style=\"font-size: 14pt; \">");
  EXPECT_EQ(Stack(), Tags{"</span>"});
  // Nothing to write leaves the scratch text empty.
  ASSERT_EQ(CalculateXMLFontString(MakeFont(1, 0, 0, 14), nullptr, context_, 1, 0, 0), NOERROR);
  EXPECT_STREQ(session_->scratch_second, "");
}

TEST_F(FontMarkupTest, MarkupIntoAText) {
  render_text text{session_.get()};
  ASSERT_EQ(CalculateXMLFontStringToText(MakeFont(1, kBold, 0, 10), nullptr, context_, 0, 0, &text),
            NOERROR);
  EXPECT_EQ(std::string(text.data, text.length), "<b>");
  EXPECT_EQ(Held(), "");
  RenderTextFree(&text);
}

/* Markup written to the output gives what the markup into a text gives,
 * with the same tags left open and the same font taken as the last, from
 * the same start: runs in the base font after markup in it or in another
 * font, with a colour, forced parts, a direction or the tag forms. */
TEST_F(FontMarkupTest, OutputMarkupAgreesWithMarkupIntoAText) {
  const FONTID base = MakeFont(1, 0, 0, 10);
  const COLOR_VALUE red = {0x0001, 0xFF, 0, 0, 0};
  const struct {
    const char *name;
    FONTID current; /* the font of the last markup */
    bool span_open;
    FONTID run;
    const COLOR_VALUE *colour;
    DWORD force_size;
    DWORD rtl;
    void (*settle)(html_render_info *);
  } cases[] = {
      {"base after base", base, false, base, nullptr, 0, 0, nullptr},
      {"base after base, span open", base, true, base, nullptr, 0, 0, nullptr},
      {"base after bold", MakeFont(1, kBold, 0, 10), false, base, nullptr, 0, 0, nullptr},
      {"base after red", MakeFont(1, 0, kRed, 10), true, base, nullptr, 0, 0, nullptr},
      {"base after larger", MakeFont(1, 0, 0, 14), true, base, nullptr, 0, 0, nullptr},
      {"base after another face", MakeFont(4, 0, 0, 10), true, base, nullptr, 0, 0, nullptr},
      {"bold after base", base, false, MakeFont(1, kBold, 0, 10), nullptr, 0, 0, nullptr},
      {"base with a colour", base, false, base, &red, 0, 0, nullptr},
      {"base, size forced", base, false, base, nullptr, 1, 0, nullptr},
      {"base, right to left", base, false, base, nullptr, 0, 1, nullptr},
      {"base after right to left", base, false, base, nullptr, 0, 0,
       [](html_render_info *c) { c->rtl_seen = 1; }},
      {"base, face forced", base, false, base, nullptr, 0, 0,
       [](html_render_info *c) { c->force_font_face = 1; }},
      {"base, size forced by option", base, false, base, nullptr, 0, 0,
       [](html_render_info *c) { c->force_font_size = 1; }},
      {"base, colour forced", base, false, base, nullptr, 0, 0,
       [](html_render_info *c) { c->force_font_color = 1; }},
      {"base in the tag form", base, false, base, nullptr, 0, 0,
       [](html_render_info *c) { c->flags |= html_flags::StandardFontTags; }},
      {"base in the hybrid form", base, false, base, nullptr, 0, 0,
       [](html_render_info *c) { c->flags4 |= html_flags4::HybridFontTags; }},
  };
  for (const auto &c : cases) {
    struct result {
      std::string markup;
      Tags stack;
      FONTID font;
      WORD rtl_seen;
    } results[2];
    for (int way = 0; way < 2; ++way) {
      Unload();
      LoadRecords({cdbuild::Text("x")});
      context_->base_font = base;
      context_->current_font = c.current;
      if (c.span_open)
        PushXMLStack(context_, 0, "</span>");
      if (c.settle != nullptr)
        c.settle(context_);
      if (way == 0) {
        results[way].markup = Markup(c.run, c.colour, c.force_size, c.rtl);
      } else {
        render_text text{session_.get()};
        ASSERT_EQ(CalculateXMLFontStringToText(c.run, c.colour, context_, c.force_size, c.rtl,
                                               &text),
                  NOERROR);
        results[way].markup = Held() + (text.data != nullptr ? text.data : "");
      }
      results[way].stack = Stack();
      results[way].font = context_->current_font;
      results[way].rtl_seen = context_->rtl_seen;
    }
    EXPECT_EQ(results[0].markup, results[1].markup) << c.name;
    EXPECT_EQ(results[0].stack, results[1].stack) << c.name;
    EXPECT_EQ(results[0].font, results[1].font) << c.name;
    EXPECT_EQ(results[0].rtl_seen, results[1].rtl_seen) << c.name;
  }
}

} // namespace
