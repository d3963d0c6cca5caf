// Fields as form controls, pass-through HTML copied as it stands, and
// translated text (line breaks, spaces and tabs, the named special
// characters and numeric references), beyond the golden corpus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/timedate.h"
#include "render/output_stage.h"
#include "render_fixture.h"

namespace {

using cdbuild::Body;
using cdbuild::Bytes;
using text_testing::Lmbcs;
using text_testing::Pieces;

Bytes FieldRecord(WORD type, const std::string &name, const std::string &formula = "") {
  cdbuild::FieldFields fields;
  fields.data_type = type;
  fields.name = name;
  fields.default_formula = formula;
  fields.translation_formula = formula;
  fields.validation_formula = formula;
  fields.description = "not the name";
  return cdbuild::Field(fields);
}

class FieldTest : public text_testing::TextRenderTest {
protected:
  std::string Field(int n) {
    context_->current_record = Record(n);
    const DWORD before = context_->output_length;
    EXPECT_EQ(ProcessXMLField(context_, 0), NOERROR);
    EXPECT_EQ(context_->current_record, Record(n)); // the driver consumes it
    return Held().substr(before);
  }
};

TEST_F(FieldTest, TheNameIsEscapedAndCutToItsRecord) {
  LoadRecords({FieldRecord(TYPE_TEXT, "a\"<b>'"), FieldRecord(TYPE_TEXT, "Subject"),
               FieldRecord(TYPE_TEXT, "Subject")});
  EXPECT_EQ(Field(0), "<input name=\"a&quot;&lt;b&gt;&#39;\" value=\"\">");
  // The name's length says more than the record holds.
  WORD length = 200;
  memcpy(Record(1)->data + offsetof(CDFIELD, NameLength), &length, sizeof length);
  EXPECT_EQ(Field(1), "<input name=\"Subjectnot the name\" value=\"\">");
  // A record shorter than its fixed part writes nothing.
  Record(2)->length = sizeof(CDFIELD) - 1;
  EXPECT_EQ(Field(2), "");
}

class PassthruTest : public text_testing::TextRenderTest {
protected:
  std::string Passthru() {
    const DWORD before = context_->output_length;
    EXPECT_EQ(ProcessXMLPassthruHTML(context_, 0), NOERROR);
    return Held().substr(before);
  }
};

TEST_F(PassthruTest, LmbcsStaysForTheTranslationPass) {
  const std::string text = Lmbcs("caf\xC3\xA9 \xE4\xB8\xAD");
  LoadRecords({cdbuild::HtmlBegin(), cdbuild::Text(text), cdbuild::HtmlEnd()});
  EXPECT_EQ(Passthru(), text);
  context_->charset_id = NLS_CS_UTF8;
  ASSERT_EQ(ProcessHTMLTranslation(context_), NOERROR);
  EXPECT_EQ(Held(), "caf\xC3\xA9 \xE4\xB8\xAD");
}

TEST_F(PassthruTest, StopsAtTheListEndOrTheLastRecord) {
  LoadRecords({cdbuild::HtmlBegin(), cdbuild::Text("a"), cdbuild::Text("b"), cdbuild::Text("c")});
  // Without an end record the last record is copied too.
  EXPECT_EQ(Passthru(), "abc");
  EXPECT_EQ(context_->current_record, Record(3));
  context_->current_record = Record(0);
  context_->last_record = Record(1);
  EXPECT_EQ(Passthru(), "a");
  EXPECT_EQ(context_->current_record, Record(2));
}

TEST_F(PassthruTest, ALongPassageIsHandedOnWithNothingLost) {
  Body body;
  body.Add(cdbuild::HtmlBegin());
  std::string expected;
  for (int i = 0; i < 20; ++i) {
    const std::string piece = "<p>piece " + std::to_string(i) + "</p>";
    body.Add(cdbuild::Text(piece));
    expected += piece;
  }
  body.Add(cdbuild::HtmlEnd());
  Load(body);
  UseCallback(100);
  EXPECT_EQ(Passthru().empty(), false);
  EXPECT_GT(Pieces().size(), 1u);
  EXPECT_EQ(AllOutput(), expected);
}

class TranslatedTextTest : public text_testing::TextRenderTest {
protected:
  void SetUp() override {
    TextRenderTest::SetUp();
    LoadRecords({cdbuild::Text("x")});
  }

  std::string Translate(const std::string &text, BOOL skipLineBreaks = 0, BOOL allSpaces = 0,
                        const style_mapping *mapping = nullptr) {
    const DWORD before = context_->output_length;
    CopyTranslatedText(context_, text.data(), static_cast<DWORD>(text.size()), mapping,
                       skipLineBreaks, allSpaces, 0);
    return Held().substr(before);
  }
};

TEST_F(TranslatedTextTest, LineBreaksAndLineEnds) {
  const std::string text("a\0b\r\nc", 6);
  EXPECT_EQ(Translate(text), "a<br>b&#13;&#10;c");
  context_->generation = kGenerationXHTML;
  EXPECT_EQ(Translate(text), "a<br />b&#13;&#10;c");
  EXPECT_EQ(Translate(text, 1), "abc");
  context_->cell_empty[0] = 1;
  Translate(std::string("\0", 1), 1);
  EXPECT_EQ(context_->cell_empty[0], 1u);
  Translate(std::string("\0", 1));
  EXPECT_EQ(context_->cell_empty[0], 0u);
}

TEST_F(TranslatedTextTest, SpacesAndTabs) {
  EXPECT_EQ(Translate("a  b "), "a  b&nbsp;");
  EXPECT_EQ(Translate("a  b", 0, 1), "a&nbsp;&nbsp;b");
  context_->flags |= html_flags::PreserveSpaces;
  EXPECT_EQ(Translate("a  b c"), "a&nbsp;&nbsp;b c");
  style_mapping mapping;
  mapping.flags = STYLE_MAPPING_NO_PRESERVED_SPACES;
  EXPECT_EQ(Translate("a  b c", 0, 0, &mapping), "a  b c");
  EXPECT_EQ(Translate("a\tb"), "a\tb");
  context_->preserve_tabs = 3;
  EXPECT_EQ(Translate("a\tb"), "a&nbsp;&nbsp;&nbsp;b");
  // A mapping's own tab width wins; one above 80 gives no blanks.
  mapping.flags = 0;
  mapping.tab_width = 1;
  EXPECT_EQ(Translate("a\tb", 0, 0, &mapping), "a&nbsp;b");
  mapping.tab_width = 81;
  EXPECT_EQ(Translate("a\tb", 0, 0, &mapping), "a\tb");
  mapping.tab_width = 0;
  EXPECT_EQ(Translate("a\tb", 0, 0, &mapping), "a&nbsp;&nbsp;&nbsp;b");
}

TEST_F(TranslatedTextTest, SpecialCharactersAndReferences) {
  struct Case {
    std::string text;
    const char *html;
    const char *noExtended; /* under ExtendedSpecialCharacters=No */
    const char *xml;        /* under UseXMLEntities */
  };
  const std::vector<Case> cases = {
      {"\xFF", "&nbsp;", "&nbsp;", "&#160;"},
      {"\xA8", "&iquest;", "&iquest;", "&#191;"},
      {"\xA9", "&reg;", "&#174;", "&#174;"},
      {"\x82", "&#233;", "&#233;", "&#233;"},
      {Lmbcs("\xE2\x82\xAC"), "&euro;", "&euro;", "&euro;"},
      {Lmbcs("\xE2\x84\xA2"), "&trade;", "&#8482;", "&trade;"},
      {Lmbcs("\xE4\xB8\xAD"), "&#20013;", "&#20013;", "&#20013;"},
      {std::string("\x1B", 1), "&#65533;", "&#65533;", "&#65533;"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Translate(c.text), c.html) << c.html;
  context_->flags2 |= html_flags2::NoExtendedSpecialCharacters;
  for (const Case &c : cases)
    EXPECT_EQ(Translate(c.text), c.noExtended) << c.noExtended;
  context_->flags2 &= ~html_flags2::NoExtendedSpecialCharacters;
  context_->flags3 |= html_flags3::UseXMLEntities;
  for (const Case &c : cases)
    EXPECT_EQ(Translate(c.text), c.xml) << c.xml;
}

TEST_F(TranslatedTextTest, IntoATextAndFromAFormula) {
  render_text out{session_.get()};
  RenderTextPuts(&out, "title: ");
  const std::string text = "x<y";
  CopyTranslatedTextToBuffer(context_, text.data(), 3, nullptr, &out, 0, 0, 0);
  EXPECT_EQ(std::string(out.data, out.length), "title: x&lt;y");
  EXPECT_EQ(Held(), "");
  // A formula that cannot be evaluated is written as its own text.
  CopyTranslatedTextToBuffer(context_, "@A&B", 4, nullptr, &out, 0, 0, 1);
  EXPECT_EQ(std::string(out.data, out.length), "title: x&lt;y@A&amp;B");
  RenderTextFree(&out);
  CopyTranslatedText(context_, nullptr, 4, nullptr, 0, 0, 0);
  EXPECT_EQ(Held(), "");
}

/* Formula texts are evaluated on the rendered note and their result, as
 * text by its type, is what is translated. */
TEST_F(TranslatedTextTest, FormulaResultsAsTextByType) {
  NOTEHANDLE note = item_->note;
  ASSERT_EQ(NSFItemSetText(note, "Subject", "a<b", 3), NOERROR);
  ASSERT_EQ(NSFItemAppendTextList(note, "Tags", "x", 1, TRUE), NOERROR);
  ASSERT_EQ(NSFItemAppendTextList(note, "Tags", "y&z", 3, TRUE), NOERROR);
  const TIMEDATE clock = TimeDateFromUnix(1796515200); // 2026-12-06 00:00:00 UTC
  HostTestSetClock(&clock);
  const struct {
    const char *source;
    const char *html;
  } cases[] = {
      {"Subject", "a&lt;b"},
      {"Tags", "x;y&amp;z"},
      {"1 / 4", "0.25"},
      {"1 / 3", "0.333333"},
      {"1e20", "1e+20"},
      {"7.5 : 2 : 3", "7.5"},
      {"@Now + 90", "12/06/2026 00:01:30"},
      {"[01/02/2026] : [03/04/2026 - 03/05/2026 12:00] : [12/31/2025]",
       "01/02/2026 00:00:00;12/31/2025 00:00:00;03/04/2026 00:00:00 - 03/05/2026 12:00:00"},
      {"Missing", ""},
  };
  for (const auto &c : cases) {
    const Bytes compiled = cdbuild::CompiledFormula(c.source);
    const DWORD before = context_->output_length;
    CopyTranslatedText(context_, reinterpret_cast<const char *>(compiled.data()),
                       static_cast<DWORD>(compiled.size()), nullptr, 0, 0, 1);
    EXPECT_EQ(Held().substr(before), c.html) << c.source;
  }
}

TEST_F(TranslatedTextTest, FormulasThatDoNotEvaluateAreWrittenAsTheirBytes) {
  const struct {
    Bytes formula;
    const char *html;
  } cases[] = {
      // Fails to evaluate: the compiled bytes themselves, NULs skipped.
      {cdbuild::CompiledFormula("@Prompt"), "FM&#65533;&#65533;@Prompt"},
      // Ends before the source its header announces: never read past.
      {Bytes{'F', 'M', 1, 0, 9, 0, 0, 0, '@', 'T'}, "FM&#65533;\t@T"},
      // Shorter than a header.
      {Bytes{'F', 'M', 1}, "FM&#65533;"},
  };
  for (const auto &c : cases) {
    const DWORD before = context_->output_length;
    CopyTranslatedText(context_, reinterpret_cast<const char *>(c.formula.data()),
                       static_cast<DWORD>(c.formula.size()), nullptr, 1, 0, 1);
    EXPECT_EQ(Held().substr(before), c.html) << c.html;
  }
}

} // namespace

namespace {

/* Memory running out while a formula is evaluated fails the output with
 * 263; the formula's bytes are never shown in place of its result. */
TEST_F(TranslatedTextTest, MemoryRunningOutInAFormulaFailsTheOutput) {
  ASSERT_EQ(NSFItemSetText(item_->note, "Subject", "abc", 3), NOERROR);
  const Bytes compiled = cdbuild::CompiledFormula("Subject");
  bool refused = false;
  for (int nth = 1; nth < 50 && !refused; ++nth) {
    context_->output_status = NOERROR;
    const DWORD before = context_->output_length;
    HostTestFailAllocation(nth);
    CopyTranslatedText(context_, reinterpret_cast<const char *>(compiled.data()),
                       static_cast<DWORD>(compiled.size()), nullptr, 0, 0, 1);
    HostTestFailAllocation(0);
    const std::string written = Held().substr(before);
    if (context_->output_status == VELKO_ERR_MEMORY) {
      refused = true;
      EXPECT_EQ(written, "") << nth;
    } else {
      EXPECT_EQ(written, "abc") << nth;
    }
  }
  EXPECT_TRUE(refused);
}

} // namespace
