// The rendering entry points on a stored note: GenerateHTML when tracked
// memory runs out (no result or the whole document, nothing kept); the
// generation names, the frame pieces of fragments and plain text, the
// ABSTRACT meta, the option lengths and the output callback; and the
// MIME sinks: a small message rendered into the caller's buffer, a large
// one written to a part file that is attached to the note, a caller file
// named ".eml" that switches attachments to disk, and MIME mode without a
// file, which renders an inline fragment.
#include <gtest/gtest.h>

#include <stdio.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include "host/host_testing.h"
#include "host/nsfnote.h"
#include "store/session.h"
#include "store/tracked_memory_testing.h"
#include "tests/render/render_fixture.h"

namespace {

using render_testing::TempDirectory;

class StoredNoteTest : public ::testing::Test {
protected:
  static constexpr const char *kDbPath = "mem:mimetest";

  void SetUp() override {
    handles_ = note_testing::ResetHostCapturing();
    ASSERT_EQ(note_testing::CreateDatabase(kDbPath, &db_), NOERROR);
    session_ = std::make_unique<LSXLsiSession>();
    SetRenderFrameSource(&render_testing::kFixedSource);
    directory_ = std::make_unique<TempDirectory>(session_.get());
  }

  void TearDown() override {
    SetRenderFrameSource(nullptr);
    directory_.reset();
    session_.reset();
    NSFDbClose(db_);
    EXPECT_EQ(HostTestLiveHandles(), handles_) << HostTestLeakReport();
    HostTestReset();
  }

  /* A chunk of the whole body of a new note holding one paragraph "Hello". */
  VelkoRTChunk *Paragraph() {
    const NOTEID id = note_testing::StoreNote(
        db_, note_testing::Records({note_testing::DefaultDefinition(1), cdbuild::Paragraph(),
                                    cdbuild::PabRef(1), cdbuild::Text("Hello")}));
    EXPECT_NE(id, 0u);
    item_ = new VelkoRTItem(session_.get());
    EXPECT_EQ(item_->Connect("", kDbPath, id, "Body", 0), NOERROR);
    VelkoRTChunk *chunk = item_->DefineChunk("Everything");
    EXPECT_NE(chunk, nullptr);
    return chunk;
  }

  DBHANDLE db_ = NULLHANDLE;
  std::unique_ptr<LSXLsiSession> session_;
  std::unique_ptr<TempDirectory> directory_;
  VelkoRTItem *item_ = nullptr; /* the session deletes it */
  size_t handles_ = 0;
};

using FrameTest = StoredNoteTest;
using MimeTest = StoredNoteTest;

TEST_F(FrameTest, MemoryFailuresGiveNullOrTheWholeDocumentAndLeakNothing) {
  VelkoRTChunk *chunk = Paragraph();
  const std::string expected = driver_testing::kHtmlStart + driver_testing::kHead +
                               driver_testing::Sheet("div.pabid1 {}") + "Hello" +
                               driver_testing::kClosing;
  char *first = chunk->GenerateHTML("", "HTML", nullptr, 0, nullptr, nullptr);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(std::string(first), expected); // the item's records are loaded and stay
  VelkoDeallocatePtr(session_.get(), first);
  const DWORD before = VelkoTrackedBlocksInUse(session_.get());
  int failures = 0;
  for (int nth = 1; nth <= 40; ++nth) {
    VelkoTestFailTrackedAllocation(nth);
    char *result =
        chunk->GenerateHTML("", "HTML", "DoclinkText=x LinkURLDirectory=/l", 0, nullptr, nullptr);
    VelkoTestFailTrackedAllocation(0);
    if (result == nullptr) {
      ++failures;
      EXPECT_EQ(chunk->status, VELKO_ERR_MEMORY) << nth;
    } else {
      EXPECT_EQ(std::string(result), expected) << nth;
      VelkoDeallocatePtr(session_.get(), result);
    }
    EXPECT_EQ(VelkoTrackedBlocksInUse(session_.get()), before) << nth;
  }
  EXPECT_GT(failures, 5);
}

/* The rendered text of Paragraph() with the whole HTML or XHTML frame. */
std::string Document(bool xhtml = false) {
  using namespace driver_testing;
  return (xhtml ? kXhtmlStart : kHtmlStart) + kHead + Sheet("div.pabid1 {}") + "Hello" + kClosing;
}

/* GenerateHTML's text, or "(null)". */
std::string Generated(VelkoRTChunk *chunk, const char *extra, const char *generation,
                      const char *options, WORD length = 0,
                      ActOnTextCallback callback = nullptr) {
  char *result = chunk->GenerateHTML(extra, generation, options, length, callback, nullptr);
  if (result == nullptr)
    return "(null)";
  std::string text(result);
  VelkoDeallocatePtr(chunk->session, result);
  return text;
}

TEST_F(FrameTest, GenerationNameChoosesTheDocumentFormWithoutRegardToCase) {
  VelkoRTChunk *chunk = Paragraph();
  struct Case {
    const char *name;
    std::string expected;
  };
  const Case cases[] = {
      {"xhtml", Document(true)},
      {"XhTmL", Document(true)},
      {"xhtml 1.0 Strict", Document(true)},
      {"html 4.01 Strict", Document()},
      {"HTML 5", Document()},
      {"Rich Text", Document()},
      {"passthrough", "Hello"},
      {"PLAIN TEXT", "Hello"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Generated(chunk, "", c.name, nullptr), c.expected) << c.name;
}

TEST_F(FrameTest, WithoutTheFrameOnlyOptionsWriteItsPieces) {
  VelkoRTChunk *chunk = Paragraph();
  struct Case {
    const char *generation;
    const char *options;
    const char *expected;
  };
  const Case cases[] = {
      // A fragment writes no default piece, but those the options give.
      {"HTML", "Generation=Fragment Doctype=<!--d--> OpeningTag=<div> ClosingBody=</div>",
       "<!--d--><div>Hello</div>"},
      // Plain text writes none of them; Preface= and Postscript= stay.
      {"Passthrough",
       "Preface=[ Doctype=<!--d--> OpeningTag=<html> HeadTag=<head> ClosingBody=</body> "
       "ClosingTag=</html> Postscript=]",
       "[Hello]"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Generated(chunk, "", c.generation, c.options), c.expected) << c.options;
}

TEST_F(FrameTest, AbstractMetaOfAnEverythingChunkHoldsTheExtraDefinitionAlone) {
  VelkoRTChunk *chunk = Paragraph();
  EXPECT_EQ(Generated(chunk, "", "HTML", nullptr), Document());
  const std::string head = driver_testing::kHtmlStart + driver_testing::kHead +
                           "<meta name=\"ABSTRACT\" content=\"Table 1\">";
  const std::string extra = Generated(chunk, "Table 1", "HTML", nullptr);
  EXPECT_EQ(extra.substr(0, head.size()), head) << extra;
}

TEST_F(FrameTest, OptionsLengthZeroIsTheWholeStringOrNoOptionsByEntryPoint) {
  VelkoRTChunk *chunk = Paragraph();
  const char *options = "Preface=[ Postscript=]";
  // GenerateHTML: 0 takes the string's own length; another length takes
  // that many bytes.
  EXPECT_EQ(Generated(chunk, "", "HTML", options), "[" + Document() + "]");
  EXPECT_EQ(Generated(chunk, "", "HTML", options, 10), "[" + Document());
  // GenerateHTMLToMime: 0 renders with no options at all.
  char buffer[1024];
  DWORD length = sizeof buffer;
  char name[8];
  EXPECT_EQ(chunk->GenerateHTMLToMime(0, 0, "HTML", options, 0, buffer, &length, 0, name, nullptr,
                                      nullptr, nullptr, nullptr, nullptr, nullptr),
            NOERROR);
  EXPECT_EQ(std::string(buffer, length), Document());
}

TEST_F(FrameTest, OutputCallbackTakesTextOnlyWhenAnHtmlRunAsksForItAndHasOne) {
  VelkoRTChunk *chunk = Paragraph();
  struct Case {
    const char *generation;
    const char *options;
    bool pieces;
    std::string whole;
    bool callback = true;
  };
  const Case cases[] = {
      {"HTML", "OutputToEvent=Yes OutputAllToEvent=Yes", true, Document()},
      {"HTML", "OutputToEvent=No OutputAllToEvent=Yes", false, Document()},
      // Plain text does not read the option.
      {"Plain Text", "OutputToEvent=Yes OutputAllToEvent=Yes", false, "Hello"},
      // With no callback to take them the pieces are kept, not dropped:
      // the whole document is returned.
      {"HTML", "OutputToEvent=80", false, Document(), false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.generation) + ", " + c.options);
    render_testing::CallbackPieces().clear();
    const std::string returned =
        Generated(chunk, "", c.generation, c.options, 0,
                  c.callback ? render_testing::RecordPiece : nullptr);
    std::string handed;
    for (const std::string &piece : render_testing::CallbackPieces())
      handed += piece;
    EXPECT_EQ(!handed.empty(), c.pieces);
    EXPECT_EQ(handed + returned, c.whole);
  }
}

TEST_F(MimeTest, SmallMessageStaysInTheCallersBuffer) {
  VelkoRTChunk *chunk = Paragraph();
  char buffer[4096];
  DWORD length = sizeof buffer;
  char name[32];
  std::memset(name, 'x', sizeof name);
  int graphics[4] = {1, 0, 1, 0};
  int word = 5;
  const char *options = "Preface=<div> Postscript=</div>";
  EXPECT_EQ(chunk->GenerateHTMLToMime(0, 1, "HTML", options, static_cast<WORD>(strlen(options)),
                                      buffer, &length, 7, name, nullptr, nullptr, nullptr, nullptr,
                                      graphics, &word),
            NOERROR);
  // MIME mode renders a fragment (the line end before where the body
  // would open, and the lines ended by the output stage, which ends a
  // piece at its last break even when the whole would fit), inline; the
  // closing text written after the run is a line of its own.
  EXPECT_EQ(std::string(buffer, length), "<div>\r\n\nHello\r\n</div>\r\n");
  EXPECT_EQ(std::string(name, 4), std::string(4, '\0'));
  EXPECT_EQ(graphics[0], 1);
  EXPECT_EQ(graphics[2], 1);
  EXPECT_EQ(word, 5);
  EXPECT_TRUE(directory_->Files().empty());
  EXPECT_EQ(chunk->internal->render_context, nullptr);
}

TEST_F(MimeTest, LargeMessageGoesToAPartFileAttachedToTheNote) {
  VelkoRTChunk *chunk = Paragraph();
  std::string preface;
  for (int i = 0; i < 30; ++i)
    preface += "<p>line " + std::to_string(i) + " of the message</p>";
  const std::string options = "Preface='" + preface + "' Postscript=<!--end-->";
  char buffer[256];
  DWORD length = sizeof buffer;
  char name[32] = {};
  EXPECT_EQ(chunk->GenerateHTMLToMime(0, 1, "HTML", options.c_str(),
                                      static_cast<WORD>(options.size()), buffer, &length, 5, name,
                                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            NOERROR);
  EXPECT_STREQ(name, "MP5_0.html");
  EXPECT_TRUE(directory_->Files().empty()); // attached, then deleted
  // The closing text stays in the caller's buffer, behind what the record
  // driver flushed at its end, a line as the part's lines are.
  const std::string held(buffer, length);
  EXPECT_EQ(held, "<!--end-->\r\n");

  BLOCKID itemBid = {};
  ASSERT_EQ(NSFItemInfo(item_->note, "$FILE", 5, &itemBid, nullptr, nullptr, nullptr), NOERROR);
  const std::string extracted = directory_->path + "/extracted.html";
  ASSERT_EQ(NSFNoteExtractFile(item_->note, itemBid, extracted.c_str(), nullptr), NOERROR);
  const std::string content = render_testing::ReadPath(extracted);
  std::string unwrapped = content + held;
  for (size_t at; (at = unwrapped.find("\r\n")) != std::string::npos;)
    unwrapped.erase(at, 2);
  // The rendered fragment: the line end before where the body would open,
  // then the text.
  EXPECT_EQ(unwrapped, preface + "\nHello<!--end-->");
  std::istringstream lines(content);
  for (std::string line; std::getline(lines, line);)
    EXPECT_LE(line.size(), 73u) << line; // the width, and the CR
}

TEST_F(MimeTest, EmlFileWritesAttachmentsToDisk) {
  VelkoRTChunk *chunk = Paragraph();
  struct Case {
    const char *options;
    WORD handling;
  };
  // AttachmentHandling= still decides over the ".eml" default.
  const Case cases[] = {{nullptr, kHandlingDisk}, {"AttachmentHandling=Ignore", kHandlingIgnore}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.options != nullptr ? c.options : "no options");
    html_render_info *context = CreateRenderContext(session_.get(), chunk);
    ASSERT_NE(context, nullptr);
    chunk->internal->render_context = context;
    FILE *file = tmpfile();
    ASSERT_NE(file, nullptr);
    const WORD length = c.options != nullptr ? static_cast<WORD>(strlen(c.options)) : 0;
    EXPECT_EQ(chunk->GenerateXML(0, 1, "", "HTML", c.options, length, nullptr, nullptr, 0, file,
                                 "c:\\out\\Mail.EML", nullptr, nullptr),
              NOERROR);
    EXPECT_EQ(context->attachment_handling, c.handling);
    EXPECT_EQ(context->flags & html_flags::Fragment, 0u);
    EXPECT_NE(context->flags & html_flags::Translation, 0u);
    EXPECT_NE(context->flags & html_flags::NewlineCRLF, 0u);
    chunk->internal->render_context = nullptr;
    ReleaseRenderContext(context);
    fclose(file);
  }
  EXPECT_EQ(chunk->GenerateXML(0, 1, "", "HTML", nullptr, 0, nullptr, nullptr, 0, nullptr, nullptr,
                               nullptr, nullptr),
            VELKO_ERR_BAD_ARGUMENT); // no context recorded
}

TEST_F(MimeTest, MimeModeWithoutAFileSwitchesOnFragmentAndInlineGraphics) {
  VelkoRTChunk *chunk = Paragraph();
  html_render_info *context = CreateRenderContext(session_.get(), chunk);
  ASSERT_NE(context, nullptr);
  chunk->internal->render_context = context;
  char buffer[512];
  DWORD capacity = sizeof buffer;
  EXPECT_EQ(chunk->GenerateXML(0, 1, "", "HTML", nullptr, 0, buffer, &capacity, 2, nullptr, nullptr,
                               nullptr, nullptr),
            NOERROR);
  EXPECT_NE(context->flags & html_flags::Fragment, 0u);
  EXPECT_NE(context->flags2 & html_flags2::MoveStylesInline, 0u);
  EXPECT_NE(context->flags2 & html_flags2::InlineCidGraphics, 0u);
  EXPECT_STREQ(context->dblink_graphic, "cid:_a_dblink");
  EXPECT_EQ(context->output_buffer, buffer);
  chunk->internal->render_context = nullptr;
  ReleaseRenderContext(context);
}

} // namespace
