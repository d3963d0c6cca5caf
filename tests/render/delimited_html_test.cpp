// Marking bracketed pass-through HTML in a loaded record list: runs opened
// at "[<" and closed at ">]", the markers, and the records left alone.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "render/delimited_html.h"
#include "render_fixture.h"
#include "store/tracked_memory_testing.h"

namespace {

using cdbuild::Body;
using Entry = std::pair<WORD, std::string>; /* signature, text of a text run */
using Entries = std::vector<Entry>;

constexpr WORD kText = SIG_CD_TEXT;
constexpr WORD kBegin = SIG_CD_HTMLBEGIN;
constexpr WORD kEnd = SIG_CD_HTMLEND;
constexpr WORD kParagraph = SIG_CD_PARAGRAPH;

/* The records' signatures and texts, the links checked both ways. */
Entries List(const record_storage *records) {
  Entries entries;
  const record_storage *previous = nullptr;
  for (const record_storage *node = records; node != nullptr; node = node->next) {
    EXPECT_EQ(node->previous, previous);
    previous = node;
    std::string text;
    if (node->signature == kText) {
      WORD length = 0;
      memcpy(&length, node->data + 2, sizeof length);
      EXPECT_EQ(length, node->length);
      text.assign(node->data + 8, node->length - 8);
    }
    entries.emplace_back(node->signature, text);
  }
  return entries;
}

class DelimitedHTMLTest : public text_testing::TextRenderTest {
protected:
  /* The records after marking the list of the texts ("|" is a paragraph,
   * "<>" and "</>" native pass-through brackets). */
  Entries Marked(std::initializer_list<const char *> texts, const char *start = nullptr,
                 const char *end = nullptr) {
    Unload();
    Body body;
    for (const std::string text : texts) {
      if (text == "|")
        body.Add(cdbuild::Paragraph());
      else if (text == "<>")
        body.Add(cdbuild::HtmlBegin());
      else if (text == "</>")
        body.Add(cdbuild::HtmlEnd());
      else
        body.Add(cdbuild::Text(text));
    }
    Load(body);
    EXPECT_EQ(MarkDelimitedHTML(session_.get(), records_, start, end), NOERROR);
    return List(records_->records);
  }
};

TEST_F(DelimitedHTMLTest, BracketRunsBecomeAPassThroughRunWithMarkers) {
  EXPECT_EQ(Marked({"|", "[<", "b>x</b", ">]", "after"}),
            (Entries{{kParagraph, ""},
                     {kBegin, ""},
                     {kText, "<!--DelimitedStart--><"},
                     {kText, "b>x</b"},
                     {kText, "><!--DelimitedEnd-->"},
                     {kEnd, ""},
                     {kText, "after"}}));
}

TEST_F(DelimitedHTMLTest, CallerMarkersAndARunAtTheStartOfTheList) {
  EXPECT_EQ(Marked({"[<", "i>y</i", ">]"}, "<!--S-->", "<!--E-->"), (Entries{{kBegin, ""},
                                                                             {kText, "<!--S--><"},
                                                                             {kText, "i>y</i"},
                                                                             {kText, "><!--E-->"},
                                                                             {kEnd, ""}}));
}

TEST_F(DelimitedHTMLTest, RecordsLeftAlone) {
  // Brackets inside a native run and closings outside stay.
  EXPECT_EQ(Marked({"<>", "[<", "</>", ">]"}),
            (Entries{{kBegin, ""}, {kText, "[<"}, {kEnd, ""}, {kText, ">]"}}));
  // Brackets with other text are not touched.
  EXPECT_EQ(Marked({"[<b", "x>]"}), (Entries{{kText, "[<b"}, {kText, "x>]"}}));
}

TEST_F(DelimitedHTMLTest, ARunLeftOpenIsClosedAfterTheLastRecord) {
  EXPECT_EQ(Marked({"[<", "p>open", "|"}), (Entries{{kBegin, ""},
                                                    {kText, "<!--DelimitedStart--><"},
                                                    {kText, "p>open"},
                                                    {kParagraph, ""},
                                                    {kEnd, ""}}));
}

TEST_F(DelimitedHTMLTest, TheRenderingOptionMarksTheItemsLoadedRecords) {
  Load(Body().Add(cdbuild::Text("[<")).Add(cdbuild::Text("hr")).Add(cdbuild::Text(">]")));
  SetRenderFrameSource(&render_testing::kFixedSource);
  // The first run loads the item's records; the options of the second
  // find them loaded.
  for (int run = 0; run < 2; ++run) {
    char *result = chunk_->GenerateHTML(
        "", "HTML", "MarkDelimitedHTML=Yes DelimitedHTMLEnd=<!--/-->", 0, nullptr, nullptr);
    ASSERT_NE(result, nullptr);
    VelkoDeallocatePtr(session_.get(), result);
  }
  SetRenderFrameSource(nullptr);
  ASSERT_NE(item_->internal->input, nullptr);
  EXPECT_EQ(List(item_->internal->input->records), (Entries{{kBegin, ""},
                                                            {kText, "<!--DelimitedStart--><"},
                                                            {kText, "hr"},
                                                            {kText, "><!--/-->"},
                                                            {kEnd, ""}}));
}

/* The refusals of memory the marking can meet: a tracked block (a rebuilt
 * text, a marker's data) and a library object (a marker's node). */
struct refusal {
  const char *name;
  void (*arm)(int nth);
  long (*counted)();
};
const refusal kRefusals[] = {
    {"tracked memory", VelkoTestFailTrackedAllocation, VelkoTestTrackedRequests},
    {"object", VelkoTestFailObjectAllocation, VelkoTestObjectAllocations},
};

TEST_F(DelimitedHTMLTest, ARunThatCannotBeMarkedFailsTheRendering) {
  // Left open, the pass-through run would take the text after it raw.
  const Body body = Body()
                        .Add(cdbuild::Text("[<"))
                        .Add(cdbuild::Text("hr"))
                        .Add(cdbuild::Text(">]"))
                        .Add(cdbuild::Text("a<b"));
  const NOTEID id = note_testing::StoreNoteWith(
      db_, [&](NOTEHANDLE note) { return body.AppendItems(note, "Body"); });
  ASSERT_NE(id, 0u);
  SetRenderFrameSource(&render_testing::kFixedSource);
  const char *options = "MarkDelimitedHTML=Yes Generation=Fragment";
  /* The second run's text: the first loads the records, the second finds
   * them loaded and marks them, with the refusal armed. */
  auto secondRun = [&](const refusal *kind, int nth, bool *met) -> std::string {
    auto *item = new VelkoRTItem(session_.get()); // the session deletes it
    EXPECT_EQ(item->Connect("", kDbPath, id, "Body", 0), NOERROR);
    VelkoRTChunk *chunk = item->DefineChunk("Everything");
    char *first = chunk->GenerateHTML("", "HTML", options, 0, nullptr, nullptr);
    EXPECT_NE(first, nullptr);
    VelkoDeallocatePtr(session_.get(), first);
    if (kind != nullptr)
      kind->arm(nth);
    char *result = chunk->GenerateHTML("", "HTML", options, 0, nullptr, nullptr);
    *met = kind != nullptr && kind->counted() >= nth;
    if (kind != nullptr)
      kind->arm(0);
    if (result == nullptr)
      return "(failed " + std::to_string(chunk->status) + ")";
    std::string text(result, session_->render_result_length);
    VelkoDeallocatePtr(session_.get(), result);
    return text;
  };
  bool met = false;
  const std::string whole = secondRun(nullptr, 0, &met);
  EXPECT_EQ(whole, "<!--DelimitedStart--><hr><!--DelimitedEnd-->a&lt;b");
  for (const refusal &kind : kRefusals) {
    for (int nth = 1; nth < 200; ++nth) {
      SCOPED_TRACE(std::string(kind.name) + " refusal " + std::to_string(nth));
      const std::string text = secondRun(&kind, nth, &met);
      if (!met) {
        EXPECT_EQ(text, whole);
        break;
      }
      EXPECT_TRUE(text == whole || text == "(failed 263)") << text;
    }
  }
  SetRenderFrameSource(nullptr);
}

} // namespace
