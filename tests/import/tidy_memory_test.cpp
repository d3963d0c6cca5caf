// The parser's memory: tidy's many small blocks are cut from a few large
// tracked blocks, so that a document of any size takes few of the host's
// memory handles (about a million exist, which a document of some 20 MB
// parsed block by block would pass); the document still parses whole.
#include <gtest/gtest.h>

#include <string>

#include "import/tidy_parser.h"
#include "store/tracked_memory_testing.h"
#include "velko/velko.h"

namespace {

TEST(TidyMemoryTest, ALargeDocumentTakesFewTrackedBlocks) {
  std::string html = "<html><body>";
  for (int paragraph = 0; paragraph < 20000; ++paragraph)
    html += "<p>word <b>bold</b> <a href=\"http://example.com/" + std::to_string(paragraph) +
            "\">link</a></p>";
  html += "</body></html>";
  LSXLsiSession session;
  VelkoTestFailTrackedAllocation(0); // counts from here
  {
    tidy_parser parser(&session);
    ASSERT_EQ(parser.Parse(html), NOERROR);
    TidyNode body = tidyGetBody(parser.document());
    ASSERT_NE(body, nullptr);
    int paragraphs = 0;
    for (TidyNode child = tidyGetChild(body); child != nullptr; child = tidyGetNext(child))
      paragraphs += tidyNodeGetId(child) == TidyTag_P ? 1 : 0;
    EXPECT_EQ(paragraphs, 20000);
  }
  // Some 160,000 blocks of tidy's; block by block each was a request.
  EXPECT_LT(VelkoTestTrackedRequests(), 500);
}

} // namespace
