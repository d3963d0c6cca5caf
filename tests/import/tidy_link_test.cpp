// tidy-html5 as the import builds and links it: a paragraph parsed and
// cleaned gives a body holding one p element with its text.
#include <gtest/gtest.h>
#include <tidy/tidy.h>
#include <tidy/tidybuffio.h>

#include <string>

namespace {

TEST(TidyLinkTest, AParagraphParsesToABodyWithItsText) {
  TidyDoc document = tidyCreate();
  ASSERT_NE(document, nullptr);
  TidyBuffer errors = {};
  tidyBufInit(&errors);
  ASSERT_GE(tidySetErrorBuffer(document, &errors), 0); // nothing reaches stderr
  EXPECT_GE(tidyParseString(document, "<p>x</p>"), 0);
  EXPECT_GE(tidyCleanAndRepair(document), 0);

  TidyNode body = tidyGetBody(document);
  ASSERT_NE(body, nullptr);
  TidyNode paragraph = tidyGetChild(body);
  ASSERT_NE(paragraph, nullptr);
  EXPECT_EQ(tidyNodeGetId(paragraph), TidyTag_P);
  EXPECT_EQ(tidyGetNext(paragraph), nullptr);
  TidyNode text = tidyGetChild(paragraph);
  ASSERT_NE(text, nullptr);
  ASSERT_TRUE(tidyNodeIsText(text));
  TidyBuffer value = {};
  tidyBufInit(&value);
  ASSERT_TRUE(tidyNodeGetValue(document, text, &value));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(value.bp), value.size), "x");
  tidyBufFree(&value);
  tidyBufFree(&errors);
  tidyRelease(document);
}

} // namespace
