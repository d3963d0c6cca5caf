// Marking bracketed pass-through HTML in a loaded record list: runs opened
// at "[<" and closed at ">]", the markers, and the records left alone.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "chunk/chunk_item_fixture.h"
#include "host/cdrecords.h"
#include "render/delimited_html.h"
#include "render_fixture.h"
#include "store/body.h"
#include "store/rtitem_internal.h"

namespace {

/* Stored records: text runs and native pass-through brackets. */
class Stream {
public:
  Stream &Text(const std::string &text) {
    const size_t length = 8 + text.size();
    Put({0x85, 0xFF, static_cast<BYTE>(length & 0xFF), static_cast<BYTE>(length >> 8), 0x01, 0x00,
         0x00, 0x0A});
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    if (length % 2 != 0)
      bytes_.push_back(0x00);
    return *this;
  }
  Stream &Begin() { return Put({0xCC, 0xFF, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00}); }
  Stream &End() { return Put({0xCD, 0xFF, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00}); }
  Stream &Paragraph() { return Put({0x81, 0x02}); }
  const std::vector<BYTE> &bytes() const { return bytes_; }

private:
  Stream &Put(std::initializer_list<BYTE> bytes) {
    bytes_.insert(bytes_.end(), bytes);
    return *this;
  }
  std::vector<BYTE> bytes_;
};

using Entry = std::pair<WORD, std::string>; /* signature, text of a text run */

class DelimitedHTMLTest : public chunk_testing::ChunkItemTest {
protected:
  void TearDown() override {
    if (body_ != nullptr) {
      CleanupBodyContext(session(), body_);
      delete body_;
    }
    ChunkItemTest::TearDown();
  }

  /* Stores the records on a note and loads them into a record list. */
  void Load(const Stream &stream) {
    NOTEHANDLE note = NULLHANDLE;
    ASSERT_EQ(NSFNoteCreate(db_, &note), NOERROR);
    ASSERT_EQ(NSFItemAppend(note, 0, kItemName, 4, TYPE_COMPOSITE, stream.bytes().data(),
                            static_cast<DWORD>(stream.bytes().size())),
              NOERROR);
    ASSERT_EQ(NSFNoteUpdate(note, 0), NOERROR);
    NOTEID id = 0;
    NSFNoteGetInfo(note, _NOTE_ID, &id);
    NSFNoteClose(note);
    item_ = Connect(id);
    body_ = StoreItemsAndRecords(item_, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
    ASSERT_NE(body_, nullptr);
    ASSERT_NE(body_->records, nullptr);
  }

  std::vector<Entry> List() const {
    std::vector<Entry> entries;
    const record_storage *previous = nullptr;
    for (const record_storage *node = body_->records; node != nullptr; node = node->next) {
      EXPECT_EQ(node->previous, previous);
      previous = node;
      std::string text;
      if (node->signature == SIG_CD_TEXT) {
        WORD length = 0;
        memcpy(&length, node->data + 2, sizeof length);
        EXPECT_EQ(length, node->length);
        text.assign(node->data + 8, node->length - 8);
      }
      entries.emplace_back(node->signature, text);
    }
    return entries;
  }

  body_context *body_ = nullptr;
};

constexpr WORD kText = SIG_CD_TEXT;
constexpr WORD kBegin = SIG_CD_HTMLBEGIN;
constexpr WORD kEnd = SIG_CD_HTMLEND;
constexpr WORD kParagraph = 0x81;

TEST_F(DelimitedHTMLTest, BracketRunsBecomeAPassThroughRunWithMarkers) {
  Load(Stream().Paragraph().Text("[<").Text("b>x</b").Text(">]").Text("after"));
  EXPECT_EQ(MarkDelimitedHTML(session(), body_, nullptr, nullptr), NOERROR);
  EXPECT_EQ(List(), (std::vector<Entry>{{kParagraph, ""},
                                        {kBegin, ""},
                                        {kText, "<!--DelimitedStart--><"},
                                        {kText, "b>x</b"},
                                        {kText, "><!--DelimitedEnd-->"},
                                        {kEnd, ""},
                                        {kText, "after"}}));
}

TEST_F(DelimitedHTMLTest, CallerMarkersAndARunAtTheStartOfTheList) {
  Load(Stream().Text("[<").Text("i>y</i").Text(">]"));
  MarkDelimitedHTML(session(), body_, "<!--S-->", "<!--E-->");
  EXPECT_EQ(List(), (std::vector<Entry>{{kBegin, ""},
                                        {kText, "<!--S--><"},
                                        {kText, "i>y</i"},
                                        {kText, "><!--E-->"},
                                        {kEnd, ""}}));
}

TEST_F(DelimitedHTMLTest, BracketsInsideANativeRunAndClosingsOutsideStay) {
  Load(Stream().Begin().Text("[<").End().Text(">]"));
  MarkDelimitedHTML(session(), body_, nullptr, nullptr);
  EXPECT_EQ(List(), (std::vector<Entry>{{kBegin, ""}, {kText, "[<"}, {kEnd, ""}, {kText, ">]"}}));
}

TEST_F(DelimitedHTMLTest, ARunLeftOpenIsClosedAfterTheLastRecord) {
  Load(Stream().Text("[<").Text("p>open").Paragraph());
  MarkDelimitedHTML(session(), body_, nullptr, nullptr);
  EXPECT_EQ(List(), (std::vector<Entry>{{kBegin, ""},
                                        {kText, "<!--DelimitedStart--><"},
                                        {kText, "p>open"},
                                        {kParagraph, ""},
                                        {kEnd, ""}}));
}

TEST_F(DelimitedHTMLTest, BracketsWithOtherTextAreNotTouched) {
  Load(Stream().Text("[<b").Text("x>]"));
  MarkDelimitedHTML(session(), body_, nullptr, nullptr);
  EXPECT_EQ(List(), (std::vector<Entry>{{kText, "[<b"}, {kText, "x>]"}}));
}

TEST_F(DelimitedHTMLTest, TheRenderingOptionMarksTheItemsLoadedRecords) {
  Load(Stream().Text("[<").Text("hr").Text(">]"));
  VelkoRTChunk *chunk = item_->DefineChunk("Everything");
  ASSERT_NE(chunk, nullptr);
  SetRenderFrameSource(&render_testing::kFixedSource);
  // The first run loads the item's records; the options of the second
  // find them loaded.
  for (int run = 0; run < 2; ++run) {
    char *result = chunk->GenerateHTML(
        "", "HTML", "MarkDelimitedHTML=Yes DelimitedHTMLEnd=<!--/-->", 0, nullptr, nullptr);
    ASSERT_NE(result, nullptr);
    VelkoDeallocatePtr(session(), result);
  }
  SetRenderFrameSource(nullptr);
  ASSERT_NE(item_->internal->input, nullptr);
  std::vector<Entry> entries;
  for (const record_storage *node = item_->internal->input->records; node != nullptr;
       node = node->next)
    entries.emplace_back(node->signature, node->signature == kText
                                              ? std::string(node->data + 8, node->length - 8)
                                              : "");
  EXPECT_EQ(entries, (std::vector<Entry>{{kBegin, ""},
                                         {kText, "<!--DelimitedStart--><"},
                                         {kText, "hr"},
                                         {kText, "><!--/-->"},
                                         {kEnd, ""}}));
}

} // namespace
