// The golden corpus of HTML rendering (tests/render/golden), checked on its
// own: every case has a complete header and an expected output, every
// record script builds, and every expected HTML or XHTML output parses
// without an error in libxml2. Nothing is rendered here: comparing the
// renderer's output with the expected files is the rendering harness's job.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "golden_fixture.h"
#include "cdbuild/cd_script.h"

namespace {

using golden_testing::CaseName;
using golden_testing::DecodeQuotedPrintable;
using golden_testing::FindCases;
using golden_testing::GoldenCase;
using golden_testing::Header;
using golden_testing::IsFragment;
using golden_testing::IsXhtml;
using golden_testing::Joined;
using golden_testing::NumericEntities;
using golden_testing::ParseErrors;
using golden_testing::ParserInput;
using golden_testing::ReadFile;
using golden_testing::ReadHeader;

constexpr size_t kLeastCases = 80;

// ---- the checker's own pieces ----

TEST(GoldenCheckTools, QuotedPrintableDecodesEscapesAndSoftBreaks) {
  EXPECT_EQ(DecodeQuotedPrintable("a=3Db=\r\n c=\nd"), "a=b cd");
  EXPECT_EQ(DecodeQuotedPrintable("=E9=20="), "\xE9 =");
}

TEST(GoldenCheckTools, NamedEntitiesBecomeNumericExceptXmlOnes) {
  EXPECT_EQ(NumericEntities("caf&eacute;&nbsp;&amp;&lt;&euro;"), "caf&#233;&#160;&amp;&lt;&#8364;");
  EXPECT_EQ(NumericEntities("&nosuchname; & &#65; &;"), "&nosuchname; & &#65; &;");
}

TEST(GoldenCheckTools, HtmlParserReportsMisnestedTags) {
  EXPECT_TRUE(ParseErrors("<p>ok <b>bold</b></p>", false).empty());
  EXPECT_FALSE(ParseErrors("<p><b><i>x</b></i></p>", false).empty());
  EXPECT_FALSE(ParseErrors("<p><nosuchtag>x</nosuchtag></p>", false).empty());
}

TEST(GoldenCheckTools, XmlParserReportsUnclosedAndUnknownEntities) {
  EXPECT_TRUE(ParseErrors("<div>a<br />b&#160;</div>", true).empty());
  EXPECT_FALSE(ParseErrors("<div>a<br>b</div>", true).empty());
  EXPECT_FALSE(ParseErrors("<div>&nbsp;</div>", true).empty());
  EXPECT_FALSE(ParseErrors("<div><hr noshade /></div>", true).empty());
}

TEST(GoldenCheckTools, HeaderTakesOptionsVerbatim) {
  const Header header = ReadHeader("# options: Title='a  b' X=1\n# generation: XHTML Fragment\n"
                                   "# chunk: Everything\n# sink: buffer:512\n# rule: one\n"
                                   "# rule: two\n\nPARAGRAPH\n# not header\n");
  EXPECT_EQ(header.options, "Title='a  b' X=1");
  EXPECT_EQ(header.generation, "XHTML Fragment");
  EXPECT_EQ(header.sink, "buffer:512");
  EXPECT_EQ(header.rules, (std::vector<std::string>{"one", "two"}));
  EXPECT_TRUE(IsFragment(header.generation));
  EXPECT_TRUE(IsXhtml(header.generation));
}

// ---- the corpus ----

TEST(GoldenCorpus, HoldsEnoughCasesInEveryFamily) {
  const std::vector<GoldenCase> cases = FindCases();
  EXPECT_GE(cases.size(), kLeastCases);
  std::set<std::string> families;
  for (const GoldenCase &golden : cases)
    families.insert(golden.family);
  for (const char *family :
       {"frame", "text", "chars", "fonts", "wai", "urls", "spaces", "breaks", "fields", "passthru",
        "paragraphs", "lists", "hide", "borders", "head", "output", "consolidate", "images",
        "layers"})
    EXPECT_EQ(families.count(family), 1u) << family;
}

class GoldenCaseTest : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenCaseTest, HeaderIsComplete) {
  const Header header = ReadHeader(ReadFile(GetParam().script));
  EXPECT_TRUE(header.hasOptions);
  static const std::set<std::string, std::less<>> kGenerations = {"HTML", "XHTML", "Fragment",
                                                                  "XHTML Fragment", "Text"};
  EXPECT_EQ(kGenerations.count(header.generation), 1u) << header.generation;
  EXPECT_EQ(header.chunk, "Everything");
  const bool knownSink = header.sink == "returned" || header.sink == "file" ||
                         header.sink == "callback" || header.sink.rfind("buffer:", 0) == 0;
  EXPECT_TRUE(knownSink) << header.sink;
  EXPECT_FALSE(header.rules.empty());
}

TEST_P(GoldenCaseTest, ScriptBuilds) {
  cdbuild::Body body;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript(ReadFile(GetParam().script), &body, &error))
      << "line " << error.line << ": " << error.message;
  EXPECT_TRUE(body.ok());
}

TEST_P(GoldenCaseTest, ExpectedOutputParses) {
  ASSERT_TRUE(std::filesystem::exists(GetParam().expected)) << GetParam().expected;
  const std::string expected = ReadFile(GetParam().expected);
  ASSERT_FALSE(expected.empty());
  const Header header = ReadHeader(ReadFile(GetParam().script));
  if (header.generation == "Text")
    GTEST_SKIP() << "plain text is not HTML";
  const std::vector<std::string> errors =
      ParseErrors(ParserInput(expected, header), IsXhtml(header.generation));
  EXPECT_TRUE(errors.empty()) << Joined(errors);
}

INSTANTIATE_TEST_SUITE_P(Corpus, GoldenCaseTest, ::testing::ValuesIn(FindCases()), CaseName);

} // namespace
