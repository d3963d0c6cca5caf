// Images and character references appended through VelkoRTChunk::AppendHTML:
// pictures from the chunk's inline parts (cid:) and from data: URIs as
// graphic records, other addresses as storage links, the alt text when
// neither serves; every name of the entity table decoded, unknown ones
// kept. Expected records are written by hand as record scripts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cdbuild/cd_script.h"
#include "render/entities.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/tracked_memory_testing.h"
#include "tests/support/record_lines.h"
#include "tests/support/test_fixture.h"

namespace {

using engine_test::Bytes;

/* The item's records before each import. */
constexpr const char* kItemRecords = "PABDEF id=1\nPABREF id=1\nTEXT text=\"x\"\n";

std::vector<Bytes> Built(const std::string& script) {
  cdbuild::Body body;
  cdbuild::ScriptError error;
  EXPECT_TRUE(cdbuild::BuildScript(script, &body, &error))
      << "line " << error.line << ": " << error.message;
  return body.records();
}

/* The record lines of the item's records followed by the script's. */
std::vector<std::string> Lines(const std::string& script) {
  return note_testing::RecordLines(
      {note_testing::Value(note_testing::Records(Built(kItemRecords + script)))});
}

/* An inline MIME part as the MIME conversion hands it to the chunk. */
struct part_text {
  std::string id;
  std::string data;
};

char* Owned(const std::string& text) {
  char* copy = new char[text.size() + 1];
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

/* 2 x 3 pixels; 14 bytes. */
const std::string kGif("GIF89a\x02\x00\x03\x00\x00\x00\x00;", 14);
constexpr const char* kGifBase64 = "R0lGODlhAgADAAAAADs=";
constexpr const char* kGifRecords =
    "IMAGEHEADER type=1 width=2 height=3 datasize=14 segments=1\n"
    "IMAGESEGMENT data=474946383961020003000000003B\n";
/* A JPEG's start, frame header (4 high, 5 wide) and end; 17 bytes. */
constexpr const char* kJpegBase64 = "/9j/wAALCAAEAAUBAREA/9k=";

/* A CDALTTEXT of the text, padded to an even length. */
std::string AltText(const std::string& text) {
  std::string data = "\\x" + std::string(text.size() < 16 ? "0" : "") +
                     "0123456789ABCDEF"[text.size() % 16] + "\\x00\\0\\0\\0\\0\\0\\0" + text;
  if (text.size() % 2 != 0)
    data += "\\0";
  return "RAW sig=0xFFCA data=\"" + data + "\"\n";
}

class HtmlImagesTest : public engine_test::EngineTest {
protected:
  /* Imports the UTF-8 HTML into a fresh item whose chunk holds the inline
   * parts; the item's record lines. */
  std::vector<std::string> Import(const std::string& html, STATUS* status = nullptr,
                                  const std::vector<part_text>& parts = {}) {
    Restart();
    AppendItem(Built(kItemRecords));
    VelkoRTChunk* chunk = chunk_ = Chunk("Everything");
    inline_part_node** tail = &chunk->internal->inline_parts;
    for (const part_text& part : parts) {
      *tail = new inline_part_node{Owned(part.data), Owned(part.id), nullptr,
                                   static_cast<DWORD>(part.data.size()), false};
      tail = &(*tail)->next;
    }
    const STATUS result = chunk->AppendHTML("INLINE", html.c_str(), "Charset=UTF-8");
    if (status != nullptr)
      *status = result;
    else
      EXPECT_EQ(result, NOERROR) << html;
    return note_testing::RecordLines(Values());
  }

  VelkoRTChunk* chunk_ = nullptr; /* the chunk of the last import */
};

/* Every name of the table imports as the table's character; the loop runs
 * over the table itself. */
TEST_F(HtmlImagesTest, EveryEntityOfTheTableDecodes) {
  for (const html_entity& entity : kHtmlEntities) {
    SCOPED_TRACE(entity.name);
    const std::string character(reinterpret_cast<const char*>(entity.lmbcs), entity.lmbcs_length);
    std::string escaped;
    for (unsigned char c : "[" + character + "]") {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      escaped += hex;
    }
    EXPECT_EQ(Import(std::string("[&") + entity.name + ";]"),
              Lines("TEXT text=\"" + escaped + "\"\n"));
  }
}

/* Names the table lacks stay as written; a reference the parser decodes
 * is not decoded twice. */
TEST_F(HtmlImagesTest, ReferencesOutsideTheTable) {
  const struct {
    const char* html;
    const char* script;
  } cases[] = {
      {"a&bogus;b", "TEXT text=\"a&bogus;b\"\n"},
      {"a&#150;b", "TEXT text=\"a\\x14\\x20\\x13b\"\n"},
      {"&amp;lang;", "TEXT text=\"&lang;\"\n"},
      {"&amp;&lang;", "TEXT text=\"&\\x14\\x23\\x29\"\n"},
      {"&LANG;&lang", "TEXT text=\"&LANG;&lang\"\n"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Import(c.html), Lines(c.script)) << c.html;
}

/* A body context loaded with entity text imports that text: its numeric
 * references read the same under any charset option. A record the
 * pass-through marking rewrote imports its new text. */
TEST_F(HtmlImagesTest, BodyContextsImportTheirEntityText) {
  const struct {
    const char* name;
    const char* options;
    const char* script;
  } cases[] = {
      {"entity text under a UTF-8 option", "Charset=UTF-8",
       "TEXT text=\"a{\"\nTEXT attributes=bold text=\"\\x14\\x20\\xAC\"\nTEXT text=\"}\"\n"},
      {"a marked record", "MarkPassthruHTML=Yes PassthruHTMLStart='{' PassthruHTMLEnd='}'",
       "TEXT text=\"a[<b>\\x14\\x20\\xAC</b>]\"\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    AppendItem(Built(kItemRecords));
    AppendItem(Built("TEXT text=\"a{<b>\\x14\\x20\\xAC</b>}\"\n"), "Source");
    VelkoRTItem source(session_);
    ASSERT_EQ(source.ConnectBackend(note_, "Source", 0), NOERROR);
    body_context* loaded = StoreItemsAndRecords(&source, 0, 0, nullptr, 0, 1, NULLHANDLE, nullptr);
    ASSERT_NE(loaded, nullptr);
    VelkoRTChunk* chunk = Chunk("Everything");
    item_->internal->html_import[0] = loaded; // the item frees it
    EXPECT_EQ(chunk->AppendHTML("BodyContext", "", c.options), NOERROR);
    EXPECT_EQ(note_testing::RecordLines(Values()), Lines(c.script));
  }
}

/* The used marks of the chunk's inline parts, in order ("1" used). */
std::string UsedMarks(VelkoRTChunk* chunk) {
  std::string marks;
  for (const inline_part_node* node = chunk->internal->inline_parts; node != nullptr;
       node = node->next)
    marks += node->used ? '1' : '0';
  return marks;
}

struct image_case {
  const char* name;
  std::string html;
  std::string script; /* the records after the item's own */
  std::string used = ""; /* the used marks of the two inline parts */
};

/* The two inline parts every case offers: a GIF, and a part that is no
 * picture. */
const std::vector<part_text> kParts = {{"pic@x", kGif}, {"text part", "plain words"}};

TEST_F(HtmlImagesTest, ImagesGiveTheirRecords) {
  const std::string longUrl = "http://" + std::string(2048 - 7, 'u');
  const std::string bigGif =
      std::string("GIF89a\x02\x00\x03\x00\x00\x00\x00", 13) + std::string(10240, 'z') + ";";
  std::string bigBase64;
  {
    static const char* kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (size_t at = 0; at < bigGif.size(); at += 3) {
      DWORD bits = 0;
      const size_t got = std::min<size_t>(3, bigGif.size() - at);
      for (size_t i = 0; i < 3; ++i)
        bits = bits << 8 | (i < got ? static_cast<unsigned char>(bigGif[at + i]) : 0);
      for (size_t i = 0; i < 4; ++i)
        bigBase64 += i <= got ? kAlphabet[bits >> (18 - 6 * i) & 63] : '=';
    }
  }
  auto hex = [](const std::string& bytes) {
    std::string text;
    char two[3];
    for (unsigned char c : bytes) {
      std::snprintf(two, sizeof two, "%02X", c);
      text += two;
    }
    return text;
  };
  const image_case cases[] = {
      {"a cid: GIF between text, with its alt text; the part is used",
       "<p>a<img src=\"cid:pic@x\" alt=\"pic\">b</p>",
       "TEXT text=\"a\"\nBEGIN sig=GRAPHIC version=1\nGRAPHIC version=2\n" +
           std::string(kGifRecords) + AltText("pic") +
           "END sig=GRAPHIC version=1\nTEXT text=\"b\"\n",
       "10"},
      {"a cid: escaped", "<img src=\"CID:pic%40x\">",
       "BEGIN sig=GRAPHIC version=1\nGRAPHIC version=2\n" + std::string(kGifRecords) +
           "END sig=GRAPHIC version=1\nTEXT text=\"\"\n",
       "10"},
      {"a data: JPEG, its odd segment padded",
       std::string("<p>a</p><img src=\"data:image/jpeg;base64,") + kJpegBase64 + "\">",
       "TEXT text=\"a\"\nPARAGRAPH\nBEGIN sig=GRAPHIC version=1\nGRAPHIC version=2\n"
       "IMAGEHEADER type=2 width=5 height=4 datasize=17 segments=1\n"
       "IMAGESEGMENT data=FFD8FFC0000B080004000501011100FFD9 tail=\"\\0\"\n"
       "END sig=GRAPHIC version=1\nTEXT text=\"\"\n"},
      {"width and height in pixels",
       std::string("<img src=\"data:image/gif;base64,") + kGifBase64 +
           "\" width=\"40\" height=\"30px\">",
       "BEGIN sig=GRAPHIC version=1\n"
       "GRAPHIC destwidth=40 destheight=30 resize=1 version=2 flags=1\n" +
           std::string(kGifRecords) + "END sig=GRAPHIC version=1\nTEXT text=\"\"\n"},
      {"a width alone keeps the shape; a percentage is no size",
       std::string("<img src=\"data:;base64,") + kGifBase64 +
           "\" width=\"20\"><img src=\"cid:pic@x\" width=\"50%\">",
       "BEGIN sig=GRAPHIC version=1\n"
       "GRAPHIC destwidth=20 destheight=30 resize=1 version=2 flags=1\n" +
           std::string(kGifRecords) + "END sig=GRAPHIC version=1\n"
           "BEGIN sig=GRAPHIC version=1\nGRAPHIC version=2\n" + std::string(kGifRecords) +
           "END sig=GRAPHIC version=1\nTEXT text=\"\"\n",
       "10"},
      {"an image over one segment",
       "<img src=\"data:image/gif;base64," + bigBase64 + "\">",
       "BEGIN sig=GRAPHIC version=1\nGRAPHIC version=2\n"
       "IMAGEHEADER type=1 width=2 height=3 datasize=10254 segments=2\n"
       "IMAGESEGMENT data=" + hex(bigGif.substr(0, 10240)) + "\nIMAGESEGMENT data=" +
           hex(bigGif.substr(10240)) + "\nEND sig=GRAPHIC version=1\nTEXT text=\"\"\n"},
      {"another address: a storage link with the alt text and the width",
       "a<img src=\"http://x.y/p.png\" alt=\"it's\" width=\"50\">",
       "TEXT text=\"a\"\nTEXT text=\"\"\nBEGIN sig=GRAPHIC version=1\nGRAPHIC version=2\n"
       "STORAGELINK type=4 load=0 ref=\"http://x.y/p.png\"\n"
       "BITMAPHEADER width=50 height=100 bpp=0 samples=0\n" +
           AltText("it's") + "END sig=GRAPHIC version=1\nTEXT text=\"\"\n"},
      {"an address of 2048 bytes is linked", "<img src=\"" + longUrl + "\">",
       "TEXT text=\"\"\nBEGIN sig=GRAPHIC version=1\nGRAPHIC version=2\n"
       "STORAGELINK type=4 load=0 ref=\"" + longUrl + "\"\n"
       "BITMAPHEADER width=100 height=100 bpp=0 samples=0\n"
       "END sig=GRAPHIC version=1\nTEXT text=\"\"\n"},
      {"an address over 2048 bytes gives the alt text",
       "a<img src=\"" + longUrl + "u\" alt=\"long\">", "TEXT text=\"along\"\n"},
      {"bad data: URIs and scripts give the alt text",
       "<img src=\"data:image/gif;base64,R0l!GOD\" alt=\"1\">"
       "<img src=\"data:image/gif," + std::string(kGifBase64) + "\" alt=\"2\">"
       "<img src=\"data:image/png;base64,iVBORw0KGgo=\" alt=\"3\">"
       "<img src=\"data:image/gif;base64,R0lGODlhAgADAAAAAD=s\" alt=\"4\">"
       "<img src=\" javascript:x()\" alt=\"5\">",
       "TEXT text=\"12345\"\n"},
      {"a cid: of no part, or of a part that is no picture, gives the alt text",
       "<img src=\"cid:other\" alt=\"1\"><img src=\"cid:text%20part\" alt=\"2\"><img src=\"\">",
       "TEXT text=\"12\"\n", "00"},
  };
  for (const image_case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Import(c.html, nullptr, kParts), Lines(c.script));
    EXPECT_EQ(UsedMarks(chunk_), c.used.empty() ? "00" : c.used);
  }
}

/* Of inline parts that share a content-id the first is the one a cid:
 * names, whatever the later ones hold; each lookup finds its own part
 * among many. */
TEST_F(HtmlImagesTest, ACidNamesTheFirstPartOfItsId) {
  std::vector<part_text> parts = {{"dup", "plain words"}, {"dup", kGif}};
  for (int n = 0; n < 50; ++n)
    parts.push_back({"filler" + std::to_string(n), "plain words"});
  parts.push_back({"pic@x", kGif});
  EXPECT_EQ(Import("<img src=\"cid:dup\" alt=\"d\"><img src=\"cid:pic@x\">", nullptr, parts),
            Lines("TEXT text=\"d\"\nBEGIN sig=GRAPHIC version=1\nGRAPHIC version=2\n" +
                  std::string(kGifRecords) + "END sig=GRAPHIC version=1\nTEXT text=\"\"\n"));
  EXPECT_EQ(UsedMarks(chunk_), "00" + std::string(50, '0') + "1");
}

/* An imported picture renders as an img element of its size and alt
 * text, in place between the texts; a storage link as an img element of
 * its address. */
TEST_F(HtmlImagesTest, ImportedImagesRender) {
  Import("<p>before<img src=\"cid:pic@x\" alt=\"the picture\" width=\"20\">after"
         "<img src=\"http://x.y/p.gif\" alt=\"linked\">end</p>",
         nullptr, kParts);
  char* html = chunk_->GenerateHTML("", "HTML 4.01", "", 0, nullptr, nullptr);
  ASSERT_NE(html, nullptr);
  const std::string rendered(html, session_->render_result_length);
  VelkoDeallocatePtr(session_, html);
  const size_t picture = rendered.find("before<img src=\"");
  ASSERT_NE(picture, std::string::npos) << rendered;
  const std::string element = "gif\" height=\"30\" width=\"20\" alt=\"the picture\" border=\"0\">";
  const size_t attributes = rendered.find(element + "after", picture);
  EXPECT_NE(attributes, std::string::npos) << rendered;
  EXPECT_EQ(rendered.find('>', picture + 4), attributes + element.size() - 1) << rendered;
  EXPECT_NE(rendered.find("after<img src=\"http://x.y/p.gif\"", attributes), std::string::npos)
      << rendered;
  EXPECT_NE(rendered.find("alt=\"linked\""), std::string::npos) << rendered;
}

/* The Nth tracked allocation failing, each N in turn until the import
 * succeeds: 263, the body as it was and no block held; then the images. */
TEST_F(HtmlImagesTest, AFailedAllocationLeavesTheBody) {
  const std::string html = "a<img src=\"cid:pic@x\" alt=\"p\"><img src=\"http://x.y/p.gif\">";
  int failures = 0;
  for (int nth = 1; nth < 1000; ++nth) {
    SCOPED_TRACE(nth);
    Restart();
    HostTestCaptureLog(true); // the out-of-memory lines
    AppendItem(Built(kItemRecords));
    const std::vector<Bytes> before = Values();
    VelkoRTChunk* chunk = Chunk("Everything");
    chunk->internal->inline_parts = new inline_part_node{
        Owned(kGif), Owned("pic@x"), nullptr, static_cast<DWORD>(kGif.size()), false};
    VelkoTestFailTrackedAllocation(nth);
    const STATUS status = chunk->AppendHTML("INLINE", html.c_str(), "");
    VelkoTestFailTrackedAllocation(0);
    if (status == NOERROR) {
      EXPECT_EQ(note_testing::RecordLines(Values()),
                Lines("TEXT text=\"a\"\nBEGIN sig=GRAPHIC version=1\nGRAPHIC version=2\n" +
                      std::string(kGifRecords) + AltText("p") +
                      "END sig=GRAPHIC version=1\nTEXT text=\"\"\n"
                      "BEGIN sig=GRAPHIC version=1\nGRAPHIC version=2\n"
                      "STORAGELINK type=4 load=0 ref=\"http://x.y/p.gif\"\n"
                      "BITMAPHEADER width=100 height=100 bpp=0 samples=0\n"
                      "END sig=GRAPHIC version=1\nTEXT text=\"\"\n"));
      break;
    }
    ++failures;
    EXPECT_EQ(status, VELKO_ERR_MEMORY);
    EXPECT_EQ(Values(), before);
    delete item_; // the chunk with it
    item_ = nullptr;
    EXPECT_EQ(VelkoTrackedBlocksInUse(session_), 0u);
  }
  EXPECT_GT(failures, 10);
}

} // namespace
