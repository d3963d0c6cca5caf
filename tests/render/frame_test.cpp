// The rendering entry points on stored notes: the exact document frame of
// each generation and of the frame options beyond the golden corpus, the
// MIME sinks of GenerateHTMLToMime (caller buffer, MIME part files
// attached to the note), the context GenerateXML sets up, and memory
// failures.
//
// The body between head and closing text is the rendered chunk: the head
// pass's style sheet, the head's end and the body tag, then the text. The
// rendering itself is tested with the driver (driver_test.cpp).
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include "driver_fixture.h"
#include "store/tracked_memory_testing.h"

namespace {

using cdbuild::Body;
using driver_testing::kBody;
using driver_testing::kClosing;
using driver_testing::kHead;
using driver_testing::kHtmlStart;
using driver_testing::kXhtmlStart;
using render_testing::kGeneratorComment;

const std::string kStyleMeta = "<meta http-equiv=\"Content-Style-Type\" content=\"text/css\" />";
/* What the driver renders of the note with one paragraph "Hello". */
const std::string kSheet = "<style type=\"text/css\">div.pabid1 {}</style>";
const std::string kRendered = kSheet + "</head>" + kBody + "Hello";
/* A chunk of the one-cell table: no definition lies inside it, the cell's
 * paragraph is a division of the definition before the table. */
const std::string kTableRendered =
    "<style type=\"text/css\"></style></head>" + kBody + "<div class=\"pabid1\">r0c0</div>";

int BlocksInUse(LSXLsiSession *session) {
  int count = 0;
  for (velko_allocation *block = session->internal->pool; block != nullptr; block = block->next)
    count += block->InUse() ? 1 : 0;
  return count;
}

class FrameTest : public driver_testing::DriverTest {
protected:
  /* The note with one paragraph of the text; its chunk of the definition. */
  VelkoRTChunk *Paragraph(const char *definition = "Everything", const char *text = "Hello") {
    Body body;
    body.Add(driver_testing::Definition(1)).Add(cdbuild::Paragraph()).Add(cdbuild::PabRef(1));
    Load(body.Add(cdbuild::Text(text)));
    return std::strcmp(definition, "Everything") == 0 ? chunk_ : item_->DefineChunk(definition);
  }

  /* GenerateHTML's result as a string; the block is released. */
  std::string Html(VelkoRTChunk *chunk, const char *generation, const char *options = nullptr,
                   const char *extra = "") {
    char *result = chunk->GenerateHTML(extra, generation, options, 0, nullptr, nullptr);
    EXPECT_NE(result, nullptr);
    if (result == nullptr)
      return "(null)";
    std::string text(result, session_->render_result_length);
    EXPECT_EQ(text.size(), strlen(result));
    VelkoDeallocatePtr(session_.get(), result);
    return text;
  }
};

/* ---- GenerateHTML on a stored note ---- */

TEST_F(FrameTest, GenerationNames) {
  VelkoRTChunk *chunk = Paragraph();
  const std::string html = kHtmlStart + kHead + kRendered + kClosing;
  const std::string xhtml = kXhtmlStart + kHead + kRendered + kClosing;
  const std::pair<const char *, std::string> cases[] = {
      {"HTML 4.01", html},  {"HTML", html},   {"html 4.01 strict", html}, {"Something else", html},
      {"XHTML 1.0", xhtml}, {"xhtml", xhtml}, {"Plain Text", "Hello"},    {"passthrough", "Hello"}};
  for (const auto &[generation, expected] : cases) {
    EXPECT_EQ(Html(chunk, generation), expected) << generation;
    EXPECT_EQ(session_.get()->result_length, expected.size());
    EXPECT_EQ(chunk->internal->render_context, nullptr);
  }
}

TEST_F(FrameTest, AbstractMetaNamesTheChunk) {
  Body body;
  body.Add(driver_testing::Definition(1)).Add(cdbuild::Paragraph()).Add(cdbuild::TableBegin());
  body.Add(cdbuild::TableCell({.row = 0, .column = 0})).Add(cdbuild::Paragraph());
  body.Add(cdbuild::PabRef(1)).Add(cdbuild::Text("r0c0")).Add(cdbuild::TableEnd());
  Load(body);
  VelkoRTChunk *table = item_->DefineChunk("Table 1");
  const std::string abstract = "<meta name=\"ABSTRACT\" content=\"Table 1\">";
  EXPECT_EQ(Html(table, "HTML"), kHtmlStart + kHead + abstract + kTableRendered + kClosing);
  EXPECT_EQ(Html(table, "HTML", nullptr, "Row 1"),
            kHtmlStart + kHead + "<meta name=\"ABSTRACT\" content=\"Table 1; Row 1\">" +
                kTableRendered + kClosing);
  EXPECT_EQ(Html(table, "XHTML"), kXhtmlStart + kHead +
                                      "<meta name=\"ABSTRACT\" content=\"Table 1\" />" +
                                      kTableRendered + kClosing);
  EXPECT_EQ(Html(chunk_, "HTML", nullptr, "Table 1"),
            kHtmlStart + kHead + abstract + kTableRendered + kClosing);
}

TEST_F(FrameTest, DefinitionTextInTheAbstractIsEscaped) {
  VelkoRTChunk *chunk = Paragraph("Text 'a<b'", "a<b");
  ASSERT_STREQ(chunk->definition, "Text \"a<b\" 1");
  EXPECT_EQ(Html(chunk, "HTML"),
            kHtmlStart + kHead + "<meta name=\"ABSTRACT\" content=\"Text &quot;a&lt;b&quot; 1\">" +
                "<style type=\"text/css\"></style></head>" + kBody + "a&lt;b" + kClosing);
}

TEST_F(FrameTest, OptionsReplaceTheirPieces) {
  VelkoRTChunk *chunk = Paragraph();
  const std::string doctype = "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">";
  const struct {
    const char *generation;
    std::string options;
    std::string expected;
  } cases[] = {
      {"HTML", "LanguageAbbrev='x\"y'",
       doctype + "<html lang=\"x&quot;y\">" + kGeneratorComment + kHead + kRendered + kClosing},
      // A head given whole loses its "</head>" and the head pass writes
      // none (the body opens the head's end); XHTML has its head closed
      // after the style sheet, to stay well-formed.
      {"HTML", "HeadTag='<HEAD></HEAD>'",
       kHtmlStart + "<HEAD>" + kSheet + kBody + "Hello" + kClosing},
      {"XHTML", "HeadTag='<head><title>T</title></head>'",
       kXhtmlStart + "<head><title>T</title>" + kRendered + kClosing},
      // No head: nothing closes one.
      {"HTML", "HeadTag=", kHtmlStart + kSheet + kBody + "Hello" + kClosing},
      {"HTML", "Title='" + LmbcsFromUtf8("Caf\xC3\xA9 \xE2\x82\xAC") + "'",
       kHtmlStart + "<head><title>Caf&#233; &euro;</title>" + kStyleMeta + kRendered + kClosing},
      {"HTML", "ClosingBody= ClosingTag='</x>' Postscript=<!--end-->",
       kHtmlStart + kHead + kRendered + "</x><!--end-->"},
      // A frame option still writes its text in a fragment.
      {"HTML", "Generation=Fragment Doctype=<!DOCTYPE> ClosingTag=</html>",
       "<!DOCTYPE>Hello</html>"},
      // Plain text has only preface and postscript.
      {"Plain Text", "Preface='Dear all,' Doctype=x ClosingBody=y Postscript=Bye",
       "Dear all,HelloBye"}};
  for (const auto &c : cases)
    EXPECT_EQ(Html(chunk, c.generation, c.options.c_str()), c.expected) << c.options;
}

TEST_F(FrameTest, OptionsLengthLimitsTheOptions) {
  VelkoRTChunk *chunk = Paragraph();
  const char *options = "Preface=A Postscript=B";
  char *result = chunk->GenerateHTML("", "Plain Text", options, 9, nullptr, nullptr);
  ASSERT_NE(result, nullptr);
  EXPECT_STREQ(result, "AHello");
  VelkoDeallocatePtr(session_.get(), result);
}

TEST_F(FrameTest, CallbacksAreInstalledAndTheOutputCallbackClearedAfter) {
  VelkoRTChunk *chunk = Paragraph();
  auto link = [](VelkoRTChunk *, WORD, const char *, WORD, TIMEDATE *, UNIVERSALNOTEID *,
                 UNIVERSALNOTEID *, const char *, WORD, const char *, WORD, const char *,
                 WORD) -> WORD { return 0; };
  char *result = chunk->GenerateHTML("", "HTML", nullptr, 0, render_testing::RecordPiece, link);
  ASSERT_NE(result, nullptr);
  VelkoDeallocatePtr(session_.get(), result);
  EXPECT_EQ(chunk->internal->act_on_text, nullptr);
  EXPECT_NE(chunk->internal->query_link_data, nullptr);
}

TEST_F(FrameTest, MemoryFailuresGiveNullOrTheWholeDocumentAndLeakNothing) {
  VelkoRTChunk *chunk = Paragraph();
  const std::string expected = kHtmlStart + kHead + kRendered + kClosing;
  EXPECT_EQ(Html(chunk, "HTML"), expected); // the item's records are loaded and stay
  const int before = BlocksInUse(session_.get());
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
    EXPECT_EQ(BlocksInUse(session_.get()), before) << nth;
  }
  EXPECT_GT(failures, 5);
}

/* ---- GenerateHTMLToMime ---- */

class MimeTest : public FrameTest {
protected:
  void SetUp() override {
    FrameTest::SetUp();
    directory_ = std::make_unique<render_testing::TempDirectory>(session_.get());
  }
  void TearDown() override {
    FrameTest::TearDown();
    directory_.reset();
  }

  size_t FilesLeft() const { return directory_->Files().size(); }

  std::unique_ptr<render_testing::TempDirectory> directory_;
};

TEST_F(MimeTest, SmallMessageStaysInTheCallersBuffer) {
  VelkoRTChunk *chunk = Paragraph();
  char buffer[4096];
  DWORD length = sizeof buffer;
  char name[32];
  memset(name, 'x', sizeof name);
  int graphics[4] = {1, 0, 1, 0};
  int word = 5;
  const char *options = "Preface=<div> Postscript=</div>";
  EXPECT_EQ(chunk->GenerateHTMLToMime(0, 1, "HTML", options, static_cast<WORD>(strlen(options)),
                                      buffer, &length, 7, name, nullptr, nullptr, nullptr, nullptr,
                                      graphics, &word),
            NOERROR);
  // MIME mode renders a fragment (the line end before where the body
  // would open, and the lines ended by the output stage, which ends a
  // piece at its last break even when the whole would fit), inline.
  EXPECT_EQ(std::string(buffer, length), "<div>\r\n\nHello\r\n</div>");
  EXPECT_EQ(length, 21u);
  EXPECT_EQ(std::string(name, 4), std::string(4, '\0'));
  EXPECT_EQ(graphics[0], 1);
  EXPECT_EQ(graphics[2], 1);
  EXPECT_EQ(word, 5);
  EXPECT_EQ(FilesLeft(), 0u);
  EXPECT_EQ(chunk->internal->render_context, nullptr);
}

TEST_F(MimeTest, NoOptionsWhenTheirLengthIsZero) {
  VelkoRTChunk *chunk = Paragraph();
  char buffer[1024];
  DWORD length = sizeof buffer;
  char name[32];
  EXPECT_EQ(chunk->GenerateHTMLToMime(0, 0, "HTML", "Preface=x", 0, buffer, &length, 0, name,
                                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            NOERROR);
  EXPECT_EQ(std::string(buffer, length), kHtmlStart + kHead + kRendered + kClosing);
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
  EXPECT_EQ(FilesLeft(), 0u); // attached, then deleted
  // The closing text stays in the caller's buffer, behind what the record
  // driver flushed at its end.
  const std::string held(buffer, length);
  ASSERT_GE(held.size(), 10u);
  EXPECT_EQ(held.substr(held.size() - 10), "<!--end-->");

  BLOCKID itemBid = {};
  ASSERT_EQ(NSFItemInfo(item_->note, "$FILE", 5, &itemBid, nullptr, nullptr, nullptr), NOERROR);
  const std::string extracted = directory_->path + "/extracted.html";
  ASSERT_EQ(NSFNoteExtractFile(item_->note, itemBid, extracted.c_str(), nullptr), NOERROR);
  const std::string content = render_testing::ReadPath(extracted);
  std::string unwrapped = content;
  for (size_t at; (at = unwrapped.find("\r\n")) != std::string::npos;)
    unwrapped.erase(at, 2);
  EXPECT_GT(unwrapped.size(), preface.size() / 2);
  // The rendered fragment: the line end before where the body would open,
  // then the text.
  EXPECT_EQ(unwrapped + held, preface + "\nHello<!--end-->");
  std::istringstream lines(content);
  for (std::string line; std::getline(lines, line);)
    EXPECT_LE(line.size(), 73u) << line; // the width, and the CR
}

TEST_F(MimeTest, AFileThatCannotBeFlushedFailsTheRun) {
  VelkoRTChunk *chunk = Paragraph();
  FILE *full = fopen("/dev/full", "w");
  if (full == nullptr)
    GTEST_SKIP() << "no /dev/full";
  DWORD length = 0;
  char name[8];
  EXPECT_EQ(chunk->GenerateHTMLToMime(0, 0, "HTML", nullptr, 0, nullptr, &length, 0, name, full,
                                      nullptr, nullptr, nullptr, nullptr, nullptr),
            kOutputWriteFailed);
  EXPECT_EQ(chunk->status, kOutputWriteFailed);
  fclose(full);
}

TEST_F(MimeTest, GenerateXMLSetsUpTheRecordedContext) {
  VelkoRTChunk *chunk = Paragraph();
  NSFItemSetText(item_->note, "Form", "Main Topic", 10);
  chunk->internal->render_context = nullptr;
  EXPECT_EQ(chunk->GenerateXML(0, 1, "", "HTML", nullptr, 0, nullptr, nullptr, 0, nullptr, nullptr,
                               nullptr, nullptr),
            VELKO_ERR_BAD_ARGUMENT); // no context recorded
  char buffer[512];
  DWORD capacity = sizeof buffer;
  FILE *file = tmpfile();
  for (int run = 0; run < 3; ++run) {
    html_render_info *context = CreateRenderContext(session_.get(), chunk);
    ASSERT_NE(context, nullptr);
    chunk->internal->render_context = context;
    if (run == 0) {
      // An .eml file: a whole document, attachments to disk.
      EXPECT_EQ(chunk->GenerateXML(0, 1, "", "HTML", nullptr, 0, nullptr, nullptr, 0, file,
                                   "c:\\out\\Mail.EML", nullptr, nullptr),
                NOERROR);
      EXPECT_EQ(context->attachment_handling, kHandlingDisk);
      EXPECT_EQ(context->flags & html_flags::Fragment, 0u);
      EXPECT_NE(context->flags & html_flags::Translation, 0u);
      EXPECT_NE(context->flags & html_flags::NewlineCRLF, 0u);
    } else if (run == 1) {
      // MIME mode without a file: a fragment with inline graphics.
      EXPECT_EQ(chunk->GenerateXML(0, 1, "", "HTML", nullptr, 0, buffer, &capacity, 2, nullptr,
                                   nullptr, nullptr, nullptr),
                NOERROR);
      EXPECT_NE(context->flags & html_flags::Fragment, 0u);
      EXPECT_NE(context->flags2 & html_flags2::MoveStylesInline, 0u);
      EXPECT_NE(context->flags2 & html_flags2::InlineCidGraphics, 0u);
      EXPECT_STREQ(context->dblink_graphic, "cid:_a_dblink");
      EXPECT_EQ(context->output_buffer, buffer);
    } else {
      // The wiki default names the database and the note's form.
      ASSERT_EQ(chunk->GenerateXML(0, 0, "", "HTML", nullptr, 0, nullptr, nullptr, 0, nullptr,
                                   nullptr, nullptr, nullptr),
                NOERROR);
      EXPECT_STREQ(context->resolve_wiki,
                   "/mem:textrender/ResolveWikiLink?OpenAgent&amp;Form=Main+Topic&amp;WikiText=");
    }
    chunk->internal->render_context = nullptr;
    ReleaseRenderContext(context);
  }
  fclose(file);
}

} // namespace
