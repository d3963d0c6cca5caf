// The rendering entry points on stored notes: the exact document frame of
// each generation and of the frame options, and the sinks of
// GenerateHTMLToMime (caller buffer, caller file, MIME part files attached
// to the note).
//
// The body between head and closing text is the rendered chunk: the head
// pass's style sheet, the head's end and the body tag, then the text. The
// rendering itself is tested with the driver (driver_test.cpp).
#include <gtest/gtest.h>

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "chunk/chunk_item_fixture.h"
#include "host/host_testing.h"
#include "render_fixture.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "store/tracked_memory_testing.h"

namespace {

using chunk_testing::Records;
using render_testing::kFixedSource;
using render_testing::kGeneratorComment;

const std::string kHtmlStart =
    std::string("<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">") +
    "<html lang=\"en\">" + kGeneratorComment;
const std::string kXhtmlStart =
    std::string("<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
                "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">") +
    "<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">" + kGeneratorComment;
const std::string kStyleMeta = "<meta http-equiv=\"Content-Style-Type\" content=\"text/css\" />";
const std::string kHead = "<head><title></title>" + kStyleMeta;
const std::string kClosing = "</body></html>";
/* What the driver renders of the note with one paragraph "Hello". */
const std::string kSheet = "<style type=\"text/css\">div.pabid1 {}</style>";
const std::string kBody = "<body text='#000000' bgcolor='#ffffff'>";
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

class FrameTest : public chunk_testing::ChunkItemTest {
protected:
  void SetUp() override {
    ChunkItemTest::SetUp();
    SetRenderFrameSource(&kFixedSource);
  }
  void TearDown() override {
    SetRenderFrameSource(nullptr);
    ChunkItemTest::TearDown();
  }

  VelkoRTChunk *Paragraph(const char *definition = "Everything") {
    return ChunkOn(Records().Definition().Paragraph().Reference().Text("Hello"), definition);
  }

  /* GenerateHTML's result as a string; the block is released. */
  std::string Html(VelkoRTChunk *chunk, const char *generation, const char *options = nullptr,
                   const char *extra = "") {
    char *result = chunk->GenerateHTML(extra, generation, options, 0, nullptr, nullptr);
    EXPECT_NE(result, nullptr);
    if (result == nullptr)
      return "(null)";
    std::string text(result, session()->render_result_length);
    EXPECT_EQ(text.size(), strlen(result));
    VelkoDeallocatePtr(session(), result);
    return text;
  }
};

/* ---- GenerateHTML on a stored note ---- */

TEST_F(FrameTest, Html401Frame) {
  VelkoRTChunk *chunk = Paragraph();
  EXPECT_EQ(Html(chunk, "HTML 4.01"), kHtmlStart + kHead + kRendered + kClosing);
  EXPECT_EQ(session()->result_length, (kHtmlStart + kHead + kRendered + kClosing).size());
  EXPECT_EQ(chunk->internal->render_context, nullptr);
}

TEST_F(FrameTest, Xhtml10Frame) {
  VelkoRTChunk *chunk = Paragraph();
  EXPECT_EQ(Html(chunk, "XHTML 1.0"), kXhtmlStart + kHead + kRendered + kClosing);
  EXPECT_EQ(Html(chunk, "xhtml"), kXhtmlStart + kHead + kRendered + kClosing);
}

TEST_F(FrameTest, GenerationNames) {
  VelkoRTChunk *chunk = Paragraph();
  const std::string html = kHtmlStart + kHead + kRendered + kClosing;
  EXPECT_EQ(Html(chunk, "HTML"), html);
  EXPECT_EQ(Html(chunk, "html 4.01 strict"), html);
  EXPECT_EQ(Html(chunk, "Something else"), html);
  EXPECT_EQ(Html(chunk, "Plain Text"), "Hello");
  EXPECT_EQ(Html(chunk, "passthrough"), "Hello");
}

TEST_F(FrameTest, FragmentHasNoFrame) {
  VelkoRTChunk *chunk = Paragraph();
  EXPECT_EQ(Html(chunk, "HTML", "Generation=Fragment"), "Hello");
  EXPECT_EQ(Html(chunk, "XHTML", "Ostrafine=Yes"),
            "<div><span style=\"font-size: 10pt; font-family: sans-serif; \">Hello</span></div>");
  // A frame option still writes its text in a fragment.
  EXPECT_EQ(Html(chunk, "HTML", "Generation=Fragment Doctype=<!DOCTYPE> ClosingTag=</html>"),
            "<!DOCTYPE>Hello</html>");
}

TEST_F(FrameTest, PlainTextHasOnlyPrefaceAndPostscript) {
  VelkoRTChunk *chunk = Paragraph();
  EXPECT_EQ(Html(chunk, "Plain Text", "Preface='Dear all,' Doctype=x ClosingBody=y Postscript=Bye"),
            "Dear all,HelloBye");
}

TEST_F(FrameTest, AbstractMetaNamesTheChunk) {
  VelkoRTChunk *table = ChunkOn(Records().Definition().Table(1, 1), "Table 1");
  const std::string abstract = "<meta name=\"ABSTRACT\" content=\"Table 1\">";
  EXPECT_EQ(Html(table, "HTML"), kHtmlStart + kHead + abstract + kTableRendered + kClosing);
  EXPECT_EQ(Html(table, "HTML", nullptr, "Row 1"),
            kHtmlStart + kHead + "<meta name=\"ABSTRACT\" content=\"Table 1; Row 1\">" +
                kTableRendered + kClosing);
  EXPECT_EQ(Html(table, "XHTML"), kXhtmlStart + kHead +
                                      "<meta name=\"ABSTRACT\" content=\"Table 1\" />" +
                                      kTableRendered + kClosing);
  VelkoRTChunk *everything = item_->DefineChunk("Everything");
  EXPECT_EQ(Html(everything, "HTML", nullptr, "Table 1"),
            kHtmlStart + kHead + abstract + kTableRendered + kClosing);
  // The whole note: the definition's rule set, and the table's text flat
  // (tables are not rendered as tables yet) in the cell's division.
  EXPECT_EQ(Html(everything, "HTML", nullptr, nullptr),
            kHtmlStart + kHead + kSheet + "</head>" + kBody + "<div class=\"pabid1\">r0c0</div>" +
                kClosing);
}

TEST_F(FrameTest, DefinitionTextInTheAbstractIsEscaped) {
  VelkoRTChunk *chunk =
      ChunkOn(Records().Definition().Paragraph().Reference().Text("a<b"), "Text 'a<b'");
  ASSERT_STREQ(chunk->definition, "Text \"a<b\" 1");
  EXPECT_EQ(Html(chunk, "HTML"),
            kHtmlStart + kHead + "<meta name=\"ABSTRACT\" content=\"Text &quot;a&lt;b&quot; 1\">" +
                "<style type=\"text/css\"></style></head>" + kBody + "a&lt;b" + kClosing);
}

struct FrameOptionCase {
  const char *generation;
  const char *options;
  std::string expected;
};

class FrameOptionTest : public FrameTest, public ::testing::WithParamInterface<FrameOptionCase> {};

TEST_P(FrameOptionTest, OptionReplacesItsPiece) {
  VelkoRTChunk *chunk = Paragraph();
  EXPECT_EQ(Html(chunk, GetParam().generation, GetParam().options), GetParam().expected)
      << GetParam().options;
}

const std::string kDoctype = "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">";

INSTANTIATE_TEST_SUITE_P(
    Options, FrameOptionTest,
    ::testing::Values(
        FrameOptionCase{"HTML", "Preface=<!--pre-->",
                        "<!--pre-->" + kHtmlStart + kHead + kRendered + kClosing},
        FrameOptionCase{"HTML", "Doctype='<!DOCTYPE html>'",
                        "<!DOCTYPE html><html lang=\"en\">" + std::string(kGeneratorComment) +
                            kHead + kRendered + kClosing},
        FrameOptionCase{"HTML", "Doctype=",
                        "<html lang=\"en\">" + std::string(kGeneratorComment) + kHead + kRendered +
                            kClosing},
        FrameOptionCase{"HTML", "OpeningTag=", kDoctype + kHead + kRendered + kClosing},
        FrameOptionCase{"HTML", "OpeningTag=<html>",
                        kDoctype + "<html>" + kHead + kRendered + kClosing},
        FrameOptionCase{"HTML", "LanguageAbbrev=de",
                        kDoctype + "<html lang=\"de\">" + kGeneratorComment + kHead + kRendered +
                            kClosing},
        FrameOptionCase{"HTML", "LanguageAbbrev='x\"y'",
                        kDoctype + "<html lang=\"x&quot;y\">" + kGeneratorComment + kHead +
                            kRendered + kClosing},
        // A head given whole loses its "</head>" and the head pass writes
        // none (the body opens the head's end); XHTML has its head closed
        // after the style sheet, to stay well-formed.
        FrameOptionCase{"HTML", "HeadTag='<head><title>T</title></head>'",
                        kHtmlStart + "<head><title>T</title>" + kSheet + kBody + "Hello" +
                            kClosing},
        FrameOptionCase{"HTML", "HeadTag='<HEAD></HEAD>'",
                        kHtmlStart + "<HEAD>" + kSheet + kBody + "Hello" + kClosing},
        FrameOptionCase{"XHTML", "HeadTag='<head><title>T</title></head>'",
                        kXhtmlStart + "<head><title>T</title>" + kRendered + kClosing},
        // No head: nothing closes one.
        FrameOptionCase{"HTML", "HeadTag=", kHtmlStart + kSheet + kBody + "Hello" + kClosing},
        FrameOptionCase{"HTML", "Title='Q&A <1>'",
                        kHtmlStart + "<head><title>Q&amp;A &lt;1&gt;</title>" + kStyleMeta +
                            kRendered + kClosing},
        FrameOptionCase{"HTML", "BaseHREF=http://x/a?b=1&c",
                        kHtmlStart + "<head><title></title><base href=\"http://x/a?b=1&amp;c\">" +
                            kStyleMeta + kRendered + kClosing},
        FrameOptionCase{"XHTML", "BaseHREF=http://x/",
                        kXhtmlStart + "<head><title></title><base href=\"http://x/\" />" +
                            kStyleMeta + kRendered + kClosing},
        FrameOptionCase{"HTML", "StandardFontTags=Yes",
                        kHtmlStart + "<head><title></title>" + kSheet +
                            "</head><body bgcolor='#ffffff'>Hello" + kClosing},
        FrameOptionCase{"HTML", "ClosingBody= ClosingTag='</x>' Postscript=<!--end-->",
                        kHtmlStart + kHead + kRendered + "</x><!--end-->"}));

TEST_F(FrameTest, NonAsciiTitleBecomesReferences) {
  VelkoRTChunk *chunk = Paragraph();
  const std::string options = "Title='" + LmbcsFromUtf8("Caf\xC3\xA9 \xE2\x82\xAC") + "'";
  EXPECT_EQ(Html(chunk, "HTML", options.c_str()), kHtmlStart +
                                                      "<head><title>Caf&#233; &euro;</title>" +
                                                      kStyleMeta + kRendered + kClosing);
}

TEST_F(FrameTest, OptionsLengthLimitsTheOptions) {
  VelkoRTChunk *chunk = Paragraph();
  const char *options = "Preface=A Postscript=B";
  char *result = chunk->GenerateHTML("", "Plain Text", options, 9, nullptr, nullptr);
  ASSERT_NE(result, nullptr);
  EXPECT_STREQ(result, "AHello");
  VelkoDeallocatePtr(session(), result);
}

TEST_F(FrameTest, CallbacksAreInstalledAndTheOutputCallbackClearedAfter) {
  VelkoRTChunk *chunk = Paragraph();
  auto link = [](VelkoRTChunk *, WORD, const char *, WORD, TIMEDATE *, UNIVERSALNOTEID *,
                 UNIVERSALNOTEID *, const char *, WORD, const char *, WORD, const char *,
                 WORD) -> WORD { return 0; };
  char *result = chunk->GenerateHTML("", "HTML", nullptr, 0, render_testing::RecordPiece, link);
  ASSERT_NE(result, nullptr);
  VelkoDeallocatePtr(session(), result);
  EXPECT_EQ(chunk->internal->act_on_text, nullptr);
  EXPECT_NE(chunk->internal->query_link_data, nullptr);
}

TEST_F(FrameTest, ADocumentBeyond64KBKeepsItsWholeLength) {
  VelkoRTChunk *chunk = Paragraph();
  const std::string preface(100000, 'p');
  const std::string options = "Preface=" + preface;
  const std::string text = Html(chunk, "Plain Text", options.c_str());
  EXPECT_EQ(text, preface + "Hello");
  EXPECT_EQ(session()->render_result_length, 100005u);
  EXPECT_EQ(session()->result_length, 0xFFFF);
}

TEST_F(FrameTest, MemoryFailuresGiveNullOrTheWholeDocumentAndLeakNothing) {
  VelkoRTChunk *chunk = Paragraph();
  const std::string expected = kHtmlStart + kHead + kRendered + kClosing;
  EXPECT_EQ(Html(chunk, "HTML"), expected); // the item's records are loaded and stay
  const int before = BlocksInUse(session());
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
      VelkoDeallocatePtr(session(), result);
    }
    EXPECT_EQ(BlocksInUse(session()), before) << nth;
  }
  EXPECT_GT(failures, 5);
}

/* ---- GenerateHTMLToMime ---- */

class MimeTest : public FrameTest {
protected:
  void SetUp() override {
    FrameTest::SetUp();
    char pattern[] = "/tmp/velko-mime-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory_ = pattern;
    HostTestSetEnvironment("$TarnoTempDirectory", directory_.c_str());
    session()->InitializeTempDirectory();
  }
  void TearDown() override {
    if (DIR *dir = opendir(directory_.c_str())) {
      while (dirent *entry = readdir(dir)) {
        if (entry->d_name[0] != '.')
          unlink((directory_ + "/" + entry->d_name).c_str());
      }
      closedir(dir);
    }
    rmdir(directory_.c_str());
    FrameTest::TearDown();
  }

  int FilesLeft() const {
    int count = 0;
    if (DIR *dir = opendir(directory_.c_str())) {
      while (dirent *entry = readdir(dir))
        count += entry->d_name[0] != '.' ? 1 : 0;
      closedir(dir);
    }
    return count;
  }

  std::string directory_;
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
  EXPECT_EQ(FilesLeft(), 0);
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
  EXPECT_EQ(FilesLeft(), 0); // attached, then deleted
  // The closing text stays in the caller's buffer, behind what the record
  // driver flushed at its end.
  const std::string held(buffer, length);
  ASSERT_GE(held.size(), 10u);
  EXPECT_EQ(held.substr(held.size() - 10), "<!--end-->");

  BLOCKID itemBid = {};
  ASSERT_EQ(NSFItemInfo(item_->note, "$FILE", 5, &itemBid, nullptr, nullptr, nullptr), NOERROR);
  const std::string extracted = directory_ + "/extracted.html";
  ASSERT_EQ(NSFNoteExtractFile(item_->note, itemBid, extracted.c_str(), nullptr), NOERROR);
  std::ifstream in(extracted, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  std::string unwrapped = content.str();
  for (size_t at; (at = unwrapped.find("\r\n")) != std::string::npos;)
    unwrapped.erase(at, 2);
  EXPECT_GT(unwrapped.size(), preface.size() / 2);
  // The rendered fragment: the line end before where the body would open,
  // then the text.
  EXPECT_EQ(unwrapped + held, preface + "\nHello<!--end-->");
  std::istringstream lines(content.str());
  for (std::string line; std::getline(lines, line);)
    EXPECT_LE(line.size(), 73u) << line; // the width, and the CR
  unlink(extracted.c_str());
}

TEST_F(MimeTest, CallerFileGetsTheWholeDocument) {
  VelkoRTChunk *chunk = Paragraph();
  FILE *file = tmpfile();
  ASSERT_NE(file, nullptr);
  DWORD length = 0;
  char name[8];
  EXPECT_EQ(chunk->GenerateHTMLToMime(0, 0, "HTML", nullptr, 0, nullptr, &length, 0, name, file,
                                      "page.html", nullptr, nullptr, nullptr, nullptr),
            NOERROR);
  EXPECT_EQ(length, 0u); // nothing is left in the buffer
  rewind(file);
  std::string text;
  for (int c; (c = fgetc(file)) != EOF;)
    text += static_cast<char>(c);
  fclose(file);
  EXPECT_EQ(text, kHtmlStart + kHead + kRendered + kClosing);
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

TEST_F(MimeTest, EmlFileWritesAttachmentsToDisk) {
  VelkoRTChunk *chunk = Paragraph();
  html_render_info *context = CreateRenderContext(session(), chunk);
  ASSERT_NE(context, nullptr);
  chunk->internal->render_context = context;
  FILE *file = tmpfile();
  EXPECT_EQ(chunk->GenerateXML(0, 1, "", "HTML", nullptr, 0, nullptr, nullptr, 0, file,
                               "c:\\out\\Mail.EML", nullptr, nullptr),
            NOERROR);
  EXPECT_EQ(context->attachment_handling, kHandlingDisk);
  EXPECT_EQ(context->flags & html_flags::Fragment, 0u);
  EXPECT_NE(context->flags & html_flags::Translation, 0u);
  EXPECT_NE(context->flags & html_flags::NewlineCRLF, 0u);
  chunk->internal->render_context = nullptr;
  ReleaseRenderContext(context);
  fclose(file);
  EXPECT_EQ(chunk->GenerateXML(0, 1, "", "HTML", nullptr, 0, nullptr, nullptr, 0, nullptr, nullptr,
                               nullptr, nullptr),
            VELKO_ERR_BAD_ARGUMENT); // no context recorded
}

TEST_F(MimeTest, MimeModeWithoutAFileSwitchesOnFragmentAndInlineGraphics) {
  VelkoRTChunk *chunk = Paragraph();
  html_render_info *context = CreateRenderContext(session(), chunk);
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

TEST_F(FrameTest, ResolveWikiDefaultUsesTheDatabaseAndTheFormItem) {
  VelkoRTChunk *chunk = Paragraph();
  NSFItemSetText(item_->note, "Form", "Main Topic", 10);
  html_render_info *context = CreateRenderContext(session(), chunk);
  ASSERT_NE(context, nullptr);
  chunk->internal->render_context = context;
  ASSERT_EQ(chunk->GenerateXML(0, 0, "", "HTML", nullptr, 0, nullptr, nullptr, 0, nullptr, nullptr,
                               nullptr, nullptr),
            NOERROR);
  EXPECT_STREQ(context->resolve_wiki,
               "/mem:chunks/ResolveWikiLink?OpenAgent&amp;Form=Main+Topic&amp;WikiText=");
  chunk->internal->render_context = nullptr;
  ReleaseRenderContext(context);
}

} // namespace
