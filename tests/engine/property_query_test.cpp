// The chunk property queries through AlterRichText, p1 being the property
// id: each case builds a body from a record script, issues the query's
// action over a chunk and reads the place that the property's result class
// names (the result text, the first or third scratch text, the PABID word,
// the record-type word or the found count). The answers are the documented
// ones, edge cases included: the last section title against the first
// anchor, a bitmap header of width 0, a 200 x 100 ratio, a shared GIF by
// formula, margins of 0 and 360, merged cells, pass-through HTML around the
// chunk, note links by index with a broken index, and text cut on an LMBCS
// character.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cdbuild/cd_script.h"
#include "host/nsfnote.h"
#include "store/vocabulary.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;

/* Where the answer of a result class lies. */
enum class Place { kResult, kFirst, kThird, kPabid, kRecordType, kFoundCount };

/* ---- script lines ---- */

std::string HexWord(unsigned value) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "%02X%02X", value & 0xFF, (value >> 8) & 0xFF);
  return hex;
}

std::string HexDword(unsigned value) { return HexWord(value & 0xFFFF) + HexWord(value >> 16); }

std::string Zeros(int count) { return std::string(2 * count, '0'); }

std::string Graphic(unsigned width, unsigned height, unsigned resize, unsigned flags) {
  return "GRAPHIC destwidth=" + std::to_string(width) + " destheight=" + std::to_string(height) +
         " resize=" + std::to_string(resize) + " flags=" + std::to_string(flags) + "\n";
}

std::string BitmapHeader(unsigned width, unsigned height) {
  return "BITMAPHEADER width=" + std::to_string(width) + " height=" + std::to_string(height) + "\n";
}

/* Image type 2 is JPEG, 1 GIF. */
std::string ImageHeader(unsigned type, unsigned width, unsigned height, unsigned segments) {
  return "IMAGEHEADER type=" + std::to_string(type) + " width=" + std::to_string(width) +
         " height=" + std::to_string(height) + " segments=" + std::to_string(segments) + "\n";
}

std::string ImageSegment() { return "IMAGESEGMENT data=00000000\n"; }

std::string StorageLink(unsigned type, const std::string& reference) {
  return "STORAGELINK type=" + std::to_string(type) + " ref=\"" + reference + "\"\n";
}

/* A resource: its flags (1 formula, 2 inline link), type (1 URL, 2 note
 * link, 3 named element), class (0x13 image), hints, link bytes in hex
 * and name. */
std::string Resource(unsigned flags, unsigned type, unsigned resourceClass,
                     const std::string& server, const std::string& file, const std::string& linkHex,
                     const std::string& name) {
  std::string line = "RESOURCE flags=" + std::to_string(flags) + " type=" + std::to_string(type) +
                     " class=" + std::to_string(resourceClass) + " server=\"" + server +
                     "\" file=\"" + file + "\" name=\"" + name + "\"";
  if (!linkHex.empty())
    line += " link=" + linkHex;
  return line + "\n";
}

/* A note link: replica ID, view UNID, note UNID as u32 words. */
const std::string kNoteLink = HexDword(0x11111111) + HexDword(0x22222222) + // replica
                              HexDword(0xA1A1A1A1) + HexDword(0xA2A2A2A2) + // view
                              HexDword(0xA3A3A3A3) + HexDword(0xA4A4A4A4) + //
                              HexDword(0xB1B1B1B1) + HexDword(0xB2B2B2B2) + // note
                              HexDword(0xB3B3B3B3) + HexDword(0xB4B4B4B4);  //

/* "$Links": a type word, a count, then a note link of 0xEE bytes and,
 * when `ours`, the note link above at index 1. */
void AppendLinks(NOTEHANDLE note, bool ours) {
  cdbuild::Bytes value = {static_cast<BYTE>(ours ? 2 : 1), 0};
  value.insert(value.end(), 40, 0xEE);
  if (ours) {
    const cdbuild::Bytes link = *cdbuild::ParseHex(kNoteLink);
    value.insert(value.end(), link.begin(), link.end());
  }
  ASSERT_EQ(NSFItemAppend(note, 0, "$Links", 6, TYPE_NOTEREF_LIST, value.data(),
                          static_cast<DWORD>(value.size())),
            NOERROR);
}

const char* const kStart = "PABDEF id=1 flags=0x0100\nPABREF id=1\n";

struct QueryCase {
  const char* name;
  std::string script;
  WORD action;
  WORD p1;
  Place place;
  const char* answer;
  const char* definition = "Everything";
};

class PropertyQueryTest : public EngineTest {
protected:
  struct Answer {
    STATUS status = 0;
    std::string text;
  };

  /* Runs the action over a note made of the script (and prepared by
   * `prepare`) and reads the place. */
  Answer Query(const std::string& script, const char* definition, WORD action, WORD p1, Place place,
               WORD p2 = 0, const std::function<void(NOTEHANDLE)>& prepare = nullptr) {
    Answer answer;
    cdbuild::Body body;
    cdbuild::ScriptError error;
    EXPECT_TRUE(cdbuild::BuildScript(script, &body, &error)) << error.line << ": " << error.message;
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteCreate(db_, &note), NOERROR);
    EXPECT_EQ(body.AppendItems(note, "Body"), NOERROR);
    if (prepare)
      prepare(note);
    auto* item = new VelkoRTItem(session_);
    EXPECT_EQ(item->ConnectBackend(note, "Body", 0), NOERROR);
    VelkoRTChunk* chunk = item->DefineChunk(definition);
    EXPECT_NE(chunk, nullptr) << definition;
    if (chunk != nullptr) {
      ClearPlaces();
      answer.status =
          chunk->AlterRichText(action, p1, p2, 0, 0, nullptr, nullptr, nullptr, nullptr);
      answer.text = Read(place);
    }
    delete item;
    NSFNoteClose(note);
    return answer;
  }

  void ClearPlaces() {
    // Filled first, so that an answer that forgets its NUL shows.
    std::memset(session_->result_text, 'x', 64);
    session_->result_text[0] = '\0';
    session_->result_length = 0;
    std::memset(session_->scratch_first, 'x', 64);
    session_->scratch_first[0] = '\0';
    std::memset(session_->scratch_third, 'x', 64);
    session_->scratch_third[0] = '\0';
    session_->internal->pabid_word = 0;
    session_->internal->property_word_a = 0;
    session_->internal->property_word_b = 0;
  }

  std::string Read(Place place) {
    switch (place) {
    case Place::kResult:
      EXPECT_EQ(std::strlen(session_->result_text), session_->result_length);
      return std::string(session_->result_text, session_->result_length);
    case Place::kFirst:
      return session_->scratch_first;
    case Place::kThird:
      return session_->scratch_third;
    case Place::kPabid:
      return std::to_string(session_->internal->pabid_word);
    case Place::kRecordType:
      return std::to_string(session_->internal->property_word_b);
    case Place::kFoundCount:
      return std::to_string(session_->internal->property_word_a);
    }
    return {};
  }

  void RunCases(const std::vector<QueryCase>& cases) {
    for (const QueryCase& c : cases) {
      SCOPED_TRACE(c.name);
      const Answer answer = Query(c.script, c.definition, c.action, c.p1, c.place);
      EXPECT_EQ(answer.status, NOERROR);
      EXPECT_EQ(answer.text, c.answer);
    }
  }
};

TEST_F(PropertyQueryTest, TitlesLabelsAndFormulas) {
  const std::string start = kStart;
  const std::string longTitle(VELKO_SCRATCH_TEXT_SIZE - 1, 'T');
  RunCases({
      {"the last section title stands",
       start + "SECTIONBAR title=\"First\"\nTEXT text=\"a\"\nSECTIONBAR title=\"Second\"\n",
       ACTION_GET_SECTION_TITLE, PROP_SECTIONTITLE, Place::kFirst, "Second"},
      {"a bar without a title gives an empty title",
       start + "SECTIONBAR title=\"First\"\nSECTIONBAR\n", ACTION_GET_SECTION_TITLE,
       PROP_SECTIONTITLE, Place::kFirst, ""},
      {"the first anchor stands", start + "ANCHOR name=\"one\"\nANCHOR name=\"two\"\n",
       ACTION_GET_ANCHOR_TEXT, PROP_ANCHORTEXT, Place::kResult, "one"},
      {"an anchor's length field bounds its text", start + "ANCHOR name=\"abc\" tail=\"def\"\n",
       ACTION_GET_ANCHOR_TEXT, PROP_ANCHORTEXT, Place::kResult, "abc"},
      {"the formula of a button hotspot or of a formula hotspot",
       start + "HOTSPOTBEGIN type=11 data=\"url\"\nHOTSPOTEND\n"
               "HOTSPOTBEGIN type=7 flags=0x10 data=\"@Command\"\nHOTSPOTEND\n"
               "HOTSPOTBEGIN type=3 data=\"later\"\nHOTSPOTEND\n",
       ACTION_GET_ACTION_FORMULA, PROP_ACTIONFORMULA, Place::kResult, "@Command"},
      {"the last button's label stands", start + "BUTTON label=\"OK\"\nBUTTON label=\"Cancel\"\n",
       ACTION_GET_BUTTON_TEXT, PROP_BUTTONTEXT, Place::kResult, "Cancel"},
      {"the first hide formula", start + "PABHIDE id=1 formula=\"f1\"\nPABHIDE formula=\"f2\"\n",
       ACTION_GET_HIDE_FORMULA, PROP_HIDEFORMULA, Place::kResult, "f1"},
      {"the PABID of a style name", "STYLENAME id=9 name=\"S\"\n" + start, ACTION_GET_PABID,
       PROP_PABID, Place::kPabid, "9"},
      {"the PABID of a reference", start + "PARAGRAPH\nPABREF id=7\nTEXT text=\"b\"\n",
       ACTION_GET_PABID, PROP_PABID, Place::kPabid, "7", "Paragraph 2"},
      {"the first style name",
       start + "STYLENAME id=2 name=\"Heading\"\nSTYLENAME id=3 name=\"Body\"\n",
       ACTION_GET_STYLE_NAME, PROP_STYLENAME, Place::kFirst, "Heading"},
      {"a row label", start + "TABLELABEL label=\"Row A\" flags=1\n", ACTION_GET_ROW_LABEL,
       PROP_ROWLABEL, Place::kFirst, "Row A"},
      {"a target frame, its length word bounding it",
       start + "TARGET frame=\"_blank\" tail=\"xx\"\n", ACTION_GET_TARGET_FRAME, PROP_TARGETFRAME,
       Place::kFirst, "_blank"},
      {"a title longer than the first scratch text keeps what fits",
       start + "SECTIONBAR title=\"" + std::string(5000, 'T') + "\"\n", ACTION_GET_SECTION_TITLE,
       PROP_SECTIONTITLE, Place::kFirst, longTitle.c_str()},
  });
}

TEST_F(PropertyQueryTest, Flags) {
  const std::string start = kStart;
  RunCases({
      {"a hotspot without a border", start + "HOTSPOTBEGIN type=3 flags=8\nHOTSPOTEND\n",
       ACTION_GET_HOTSPOT_BORDER, PROP_HOTSPOTBORDER, Place::kFirst, "FALSE"},
      {"a hotspot with its border", start + "HOTSPOTBEGIN type=3 flags=0x10\nHOTSPOTEND\n",
       ACTION_GET_HOTSPOT_BORDER, PROP_HOTSPOTBORDER, Place::kFirst, "TRUE"},
      {"a table that fits the window",
       start + "TABLEBEGIN flags=1\nTABLECELL\nTEXT text=\"c\"\nTABLEEND\n",
       ACTION_GET_TABLE_FIT_TO_WINDOW, PROP_TABLEFITTOWINDOW, Place::kFirst, "TRUE"},
      {"an image sized in pixels", start + Graphic(10, 10, 1, 1), ACTION_GET_IMAGE_IN_PIXELS,
       PROP_IMAGEINPIXELS, Place::kFirst, "TRUE"},
  });
}

TEST_F(PropertyQueryTest, FileNamesAndLinkUrls) {
  const std::string start = kStart;
  const std::string attachment = "HOTSPOTBEGIN type=4 data=\"ATT1\\0orig.txt\\0\"\nHOTSPOTEND\n";
  RunCases({
      {"an attachment's internal name", start + attachment, ACTION_GET_FILE_NAMES, PROP_FILENAME,
       Place::kFirst, "ATT1"},
      {"the name it was attached from", start + attachment, ACTION_GET_FILE_NAMES, PROP_OLEFILENAME,
       Place::kFirst, "orig.txt"},
      {"an attachment object's storage link", start + attachment + StorageLink(1, "OBJ"),
       ACTION_GET_FILE_NAMES, PROP_FILENAME, Place::kFirst, "OBJ"},
      {"a later URL storage link leaves no name", start + attachment + StorageLink(4, "http://h"),
       ACTION_GET_FILE_NAMES, PROP_FILENAME, Place::kFirst, ""},
      {"a later file hotspot without names leaves no name",
       start + attachment + "HOTSPOTBEGIN type=4\nHOTSPOTEND\n", ACTION_GET_FILE_NAMES,
       PROP_OLEFILENAME, Place::kFirst, ""},
      {"a URL hotspot",
       start + "HOTSPOTBEGIN type=11 data=\"no\"\nHOTSPOTEND\n"
               "HOTSPOTBEGIN type=11 flags=0x1000 data=\"http://a\"\nHOTSPOTEND\n",
       ACTION_GET_LINK, PROP_LINKURL, Place::kThird, "http://a"},
      {"a URL resource after its hints", start + Resource(0, 1, 0, "srv", "fh", "", "http://b"),
       ACTION_GET_LINK, PROP_LINKURL, Place::kThird, "http://b"},
  });
}

TEST_F(PropertyQueryTest, NoteLinkParts) {
  const std::string doclink = std::string(kStart) + "DOCLINK notelink=" + kNoteLink +
                              " texts=\"pop\\0server\\0anchor\\0\"\n";
  const std::string byIndex =
      std::string(kStart) + "LINK id=1 tail=\"pop\\0server\\0anchor\\0\"\nTEXT text=\"x\"\n";
  // A note-link resource holding its link inline, then its text.
  const std::string resource =
      std::string(kStart) + Resource(0x2, 2, 0, "srv", "file", kNoteLink, "txt");
  // One holding the index of its link in "$Links" instead.
  const std::string resourceByIndex =
      std::string(kStart) + Resource(0, 2, 0, "srv", "file", HexWord(1), "txt");
  const struct {
    const char* name;
    std::string script;
    WORD p1;
    const char* answer;
  } cases[] = {
      {"note UNID of a doclink", doclink, PROP_LINKNOTEUNIVERSALID,
       "B2B2B2B2B1B1B1B1B4B4B4B4B3B3B3B3"},
      {"view UNID of a doclink", doclink, PROP_LINKVIEWUNIVERSALID,
       "A2A2A2A2A1A1A1A1A4A4A4A4A3A3A3A3"},
      {"replica ID of a doclink", doclink, PROP_LINKREPLICAID, "2222222211111111"},
      {"popup text of a doclink", doclink, PROP_LINKPOPUPTEXT, "pop"},
      {"anchor text of a doclink", doclink, PROP_LINKANCHORTEXT, "anchor"},
      {"note UNID of a link by index", byIndex, PROP_LINKNOTEUNIVERSALID,
       "B2B2B2B2B1B1B1B1B4B4B4B4B3B3B3B3"},
      {"hint server of a link by index", byIndex, PROP_LINKHINTSERVER, "server"},
      {"replica ID of a resource's inline link", resource, PROP_LINKREPLICAID, "2222222211111111"},
      {"server hint of a resource", resource, PROP_LINKHINTSERVER, "srv"},
      {"file hint of a resource", resource, PROP_POPUPTEXT, "file"},
      {"text of a resource after its link", resource, PROP_LINKANCHORTEXT, "txt"},
      {"view UNID of a resource's link by index", resourceByIndex, PROP_LINKVIEWUNIVERSALID,
       "A2A2A2A2A1A1A1A1A4A4A4A4A3A3A3A3"},
  };
  const auto links = [](NOTEHANDLE note) { AppendLinks(note, true); };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Answer answer =
        Query(c.script, "Everything", ACTION_GET_LINK, c.p1, Place::kThird, 0, links);
    EXPECT_EQ(answer.status, NOERROR);
    EXPECT_EQ(answer.text, c.answer);
  }
}

TEST_F(PropertyQueryTest, ABrokenLinkIndexIsShownAndTheNextLinkAnswers) {
  const std::string script = std::string(kStart) + "LINK id=3\nDOCLINK notelink=" + kNoteLink +
                             " texts=\"p\\0s\\0a\\0\"\n";
  const auto oneLink = [](NOTEHANDLE note) { AppendLinks(note, false); };
  HostTestClearMessages();
  Answer answer =
      Query(script, "Everything", ACTION_GET_LINK, PROP_LINKREPLICAID, Place::kThird, 0, oneLink);
  EXPECT_EQ(answer.status, NOERROR);
  EXPECT_EQ(answer.text, "2222222211111111");
  EXPECT_EQ(note_testing::MessageTexts(),
            std::vector<std::string>{"TARNO: Broken $Links reference"});

  // Without any link item the index is broken too, and nothing answers.
  HostTestClearMessages();
  answer = Query(std::string(kStart) + "LINK id=0\n", "Everything", ACTION_GET_LINK,
                 PROP_LINKNOTEUNIVERSALID, Place::kThird);
  EXPECT_EQ(answer.status, NOERROR);
  EXPECT_EQ(answer.text, "");
  EXPECT_EQ(note_testing::MessageTexts(),
            std::vector<std::string>{"TARNO: Broken $Links reference"});
}

/* Attaches a file of `size` bytes as the attachment `name`. */
void Attach(NOTEHANDLE note, const std::string& name, size_t size) {
  const std::string path = ::testing::TempDir() + "velko_size_" + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fwrite(std::string(size, 'x').data(), 1, size, file);
  std::fclose(file);
  ASSERT_EQ(NSFNoteAttachFile(note, "$FILE", 5, path.c_str(), name.c_str(), 0), NOERROR);
  std::remove(path.c_str());
}

TEST_F(PropertyQueryTest, FileSizesAddUp) {
  // Two attachments of 10 and 20 bytes; a third hotspot names a file the
  // note does not hold, which counts 0 bytes.
  const std::string script = std::string(kStart) +
                             "HOTSPOTBEGIN type=4 data=\"one.txt\\0a.txt\\0\"\nHOTSPOTEND\n" +
                             "HOTSPOTBEGIN type=4 data=\"gone.txt\\0g.txt\\0\"\nHOTSPOTEND\n" +
                             "HOTSPOTBEGIN type=4 data=\"TWO.TXT\\0b.txt\\0\"\nHOTSPOTEND\n" +
                             "HOTSPOTBEGIN type=4\nHOTSPOTEND\n";
  const auto attach = [](NOTEHANDLE note) {
    Attach(note, "one.txt", 10);
    Attach(note, "two.txt", 20);
  };
  const Answer answer =
      Query(script, "Everything", ACTION_GET_FILE_SIZE, PROP_FILESIZE, Place::kThird, 0, attach);
  EXPECT_EQ(answer.status, NOERROR);
  EXPECT_EQ(answer.text, "30");
}

TEST_F(PropertyQueryTest, Margins) {
  const std::string start = kStart;
  const std::string cells = "TABLEBEGIN\nTABLECELL left=0 right=1440\nTEXT text=\"a\"\n"
                            "TABLECELL column=1 left=360 right=2880\nTEXT text=\"b\"\nTABLEEND\n";
  RunCases({
      {"a cell margin of 0 is the narrowest", start + cells, ACTION_GET_MARGINS, PROP_MINLEFTMARGIN,
       Place::kThird, "0.000", "Table 1"},
      {"the widest right margin", start + cells, ACTION_GET_MARGINS, PROP_MAXRIGHTMARGIN,
       Place::kThird, "2.000", "Table 1"},
      {"paragraph definitions count as well",
       start + "PABDEF id=2 left=720 right=4320\nPABREF id=2\nTEXT text=\"p\"\n",
       ACTION_GET_MARGINS, PROP_MINLEFTMARGIN, Place::kThird, "0.500"},
      {"a chunk that never opens answers nothing", start + "TEXT text=\"p\"\n", ACTION_GET_MARGINS,
       PROP_MAXRIGHTMARGIN, Place::kThird, "", "Table 1"},
  });
}

TEST_F(PropertyQueryTest, GraphicFacts) {
  const std::string start = kStart;
  const std::string bitmap0 = start + Graphic(0, 0, 0, 0) + BitmapHeader(0, 50);
  const std::string image = start + ImageHeader(2, 200, 100, 1) + ImageSegment();
  const std::string sharedGif = start + Graphic(0, 0, 0, 0) + ImageHeader(1, 16, 16, 0) +
                                Resource(1, 3, 0x13, "", "", Zeros(8), "pic.gif");
  const std::string sharedJpeg = start + Graphic(0, 0, 0, 0) + ImageHeader(2, 16, 16, 0) +
                                 Resource(0, 3, 0x13, "", "", Zeros(8), "pic.jpg");
  RunCases({
      {"a bitmap header's width of 0", bitmap0, ACTION_GET_GRAPHIC_WIDTH, PROP_GRAPHICWIDTH,
       Place::kThird, "0"},
      {"a bitmap header without height answers no height", start + BitmapHeader(0, 0),
       ACTION_GET_GRAPHIC_HEIGHT, PROP_GRAPHICHEIGHT, Place::kThird, ""},
      {"a 200 x 100 ratio", image, ACTION_GET_GRAPHIC_RATIO, PROP_GRAPHICRATIO, Place::kThird,
       "2.0000"},
      {"a graphic's size in inches", start + Graphic(2160, 720, 1, 0), ACTION_GET_GRAPHIC_HEIGHT,
       PROP_GRAPHICHEIGHT, Place::kThird, "0.500"},
      {"a graphic's size in pixels", start + Graphic(300, 720, 0, 1), ACTION_GET_GRAPHIC_WIDTH,
       PROP_GRAPHICWIDTH, Place::kThird, "300"},
      {"a graphic without a size set gives the image header's",
       start + Graphic(0, 0, 0, 0) + ImageHeader(2, 200, 100, 1), ACTION_GET_GRAPHIC_HEIGHT,
       PROP_GRAPHICHEIGHT, Place::kThird, "100"},
      {"the unit of an image header", image, ACTION_GET_GRAPHIC_UNIT, PROP_GRAPHICUNIT,
       Place::kFirst, "pixels"},
      {"the ratio read from a GIF's own bytes",
       start + Graphic(0, 0, 0, 0) + ImageHeader(1, 0, 0, 1) +
           "IMAGESEGMENT data=474946383961C80064000000\n",
       ACTION_GET_GRAPHIC_RATIO, PROP_GRAPHICRATIO, Place::kThird, "2.0000"},
      {"an inline JPEG", image, ACTION_GET_GRAPHIC_FORMAT, PROP_GRAPHICFORMAT, Place::kFirst,
       "JPEG"},
      {"a Notes bitmap", bitmap0, ACTION_GET_GRAPHIC_FORMAT, PROP_GRAPHICFORMAT, Place::kFirst,
       "Notes Bitmap"},
      {"a shared GIF by formula", sharedGif, ACTION_GET_GRAPHIC_FORMAT, PROP_GRAPHICFORMAT,
       Place::kFirst, "GIF Image Resource (formula)"},
      {"a shared JPEG by name", sharedJpeg, ACTION_GET_GRAPHIC_FORMAT, PROP_GRAPHICFORMAT,
       Place::kFirst, "JPEG Image Resource"},
      {"a shared image whose resource is no image resource",
       start + Graphic(0, 0, 0, 0) + ImageHeader(1, 16, 16, 0) +
           Resource(0, 1, 0, "", "", "", "http://i"),
       ACTION_GET_GRAPHIC_FORMAT, PROP_GRAPHICFORMAT, Place::kFirst, "GIF"},
      {"a shared image by name", sharedJpeg, ACTION_GET_GRAPHIC_OFFSET, PROP_GRAPHICOFFSET,
       Place::kFirst, "pic.jpg"},
      {"a shared image by name one record further on",
       start + Graphic(0, 0, 0, 0) + "ANCHOR name=\"n\"\n" + ImageHeader(2, 16, 16, 0) +
           Resource(0, 3, 0x13, "", "", Zeros(8), "far.jpg"),
       ACTION_GET_GRAPHIC_OFFSET, PROP_GRAPHICOFFSET, Place::kFirst, "far.jpg"},
      // The graphic's data lies behind it: 2 bytes of type word, 70 of
      // paragraph definition, 4 of reference and 30 of graphic.
      {"where an inline image's data lies", bitmap0 + "TEXT text=\"t\"\n",
       ACTION_GET_GRAPHIC_OFFSET, PROP_GRAPHICOFFSET, Place::kFirst, "0.6a"},
      {"inline storage", start + Graphic(0, 0, 0, 0) + ImageHeader(2, 1, 1, 1) + ImageSegment(),
       ACTION_GET_GRAPHIC_STORAGE, PROP_GRAPHICSTORAGE, Place::kFirst, "Inline"},
      {"a URL storage link", start + Graphic(0, 0, 0, 0) + StorageLink(4, "u"),
       ACTION_GET_GRAPHIC_STORAGE, PROP_GRAPHICSTORAGE, Place::kFirst, "Storage Link URL"},
      {"an image resource by formula", sharedGif, ACTION_GET_GRAPHIC_STORAGE, PROP_GRAPHICSTORAGE,
       Place::kFirst, "Image Resource (formula)"},
      {"nothing before the next text", start + Graphic(0, 0, 0, 0) + "TEXT text=\"t\"\n",
       ACTION_GET_GRAPHIC_STORAGE, PROP_GRAPHICSTORAGE, Place::kFirst, "Undetermined"},
  });
}

TEST_F(PropertyQueryTest, AnswersWhereTheChunkOpens) {
  const std::string start = kStart;
  const std::string passthru = start + "TEXT text=\"a\"\nHTMLBEGIN\nPARAGRAPH\nTEXT text=\"<b>\"\n"
                                       "HTMLEND\nPARAGRAPH\nTEXT text=\"c\"\n";
  // A merged cell lies where its spans end: the second cell of the first
  // row is covered by the cell below it, which spans two rows.
  const std::string table = start +
                            "TABLEBEGIN\nTABLECELL\nTEXT text=\"a\"\n"
                            "TABLECELL column=1 flags=8\nTEXT text=\"b\"\n"
                            "TABLECELL row=1\nTEXT text=\"c\"\n"
                            "TABLECELL row=1 column=1 rowspan=2\nTEXT text=\"d\"\nTABLEEND\n";
  // The first cell is covered by the one beside it, which spans two columns.
  const std::string wide = start + "TABLEBEGIN\nTABLECELL flags=4\nTEXT text=\"a\"\n"
                                   "TABLECELL column=1 colspan=2\nTEXT text=\"b\"\nTABLEEND\n";
  RunCases({
      {"a chunk inside pass-through HTML", passthru, ACTION_GET_PASSTHRU_HTML, PROP_PASSTHRUHTML,
       Place::kFirst, "TRUE", "Paragraph 2"},
      {"a chunk after it", passthru, ACTION_GET_PASSTHRU_HTML, PROP_PASSTHRUHTML, Place::kFirst,
       "FALSE", "Paragraph 3"},
      {"the record type where a table opens", start + "TABLEBEGIN\nTABLECELL\nTABLEEND\n",
       PROP_RECORDTYPE, PROP_RECORDTYPE, Place::kRecordType, "163", "Table 1"},
      {"a cell spanning two rows is merged", table, ACTION_CELL_IS_MERGED, PROP_CELLISMERGED,
       Place::kThird, "TRUE", "Table 1; Row 2; Column 2"},
      {"a plain cell is not", table, ACTION_CELL_IS_MERGED, PROP_CELLISMERGED, Place::kThird,
       "FALSE", "Table 1; Row 1; Column 1"},
      {"a covered cell is merged", table, ACTION_CELL_IS_MERGED, PROP_CELLISMERGED, Place::kThird,
       "TRUE", "Table 1; Row 1; Column 2"},
      {"rows count from 1", table, PROP_TARGETROW, PROP_TARGETROW, Place::kThird, "2",
       "Table 1; Row 2; Column 1"},
      {"a cell covered from above answers the merged cell's row", table, PROP_TARGETROW,
       PROP_TARGETROW, Place::kThird, "2", "Table 1; Row 1; Column 2"},
      {"and its column", table, PROP_TARGETCOLUMN, PROP_TARGETCOLUMN, Place::kThird, "2",
       "Table 1; Row 1; Column 2"},
      {"a cell covered from the side keeps its row", wide, PROP_TARGETROW, PROP_TARGETROW,
       Place::kThird, "1", "Table 1; Row 1; Column 1"},
      {"and answers the merged cell's column", wide, PROP_TARGETCOLUMN, PROP_TARGETCOLUMN,
       Place::kThird, "2", "Table 1; Row 1; Column 1"},
      {"chunks inside hotspots are counted",
       start + "TEXT text=\"a\"\nHOTSPOTBEGIN type=3\nTEXT text=\"b\"\nHOTSPOTEND\n"
               "TEXT text=\"c\"\n",
       PROP_INSIDEHOTSPOT, PROP_INSIDEHOTSPOT, Place::kFoundCount, "1", "Text *"},
  });
}

TEST_F(PropertyQueryTest, ParagraphStyleOfADefinitionOrOfTheOneAReferenceNames) {
  // Three definitions; the second paragraph refers to the second, while the
  // walk's current definition is by then the third. The third paragraph
  // refers to a definition the item lacks: the current one answers.
  const std::string script = "PABDEF id=1 flags=0x0100\nPABDEF id=2 left=720 flags=0x0100\n"
                             "PABDEF id=3 left=2880 flags=0x0100\nPABREF id=1\n"
                             "TEXT text=\"a\"\nPARAGRAPH\nPABREF id=2\nTEXT text=\"b\"\n"
                             "PARAGRAPH\nPABREF id=9\nTEXT text=\"c\"\n";
  const struct {
    const char* definition;
    WORD omitDefaults;
    const char* starts;
  } cases[] = {
      {"Paragraph 2", 0, "LeftMargin=\"0.50\" "},
      {"Paragraph 1", 0, "LeftMargin=\"1.00\" "},
      {"Paragraph 2", 1, "LeftMargin=\"0.50\" "},
      {"Paragraph 3", 0, "LeftMargin=\"2.00\" "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.definition);
    const Answer answer = Query(script, c.definition, ACTION_GET_PARAGRAPH_STYLE,
                                PROP_PARAGRAPHSTYLE, Place::kThird, c.omitDefaults);
    EXPECT_EQ(answer.status, NOERROR);
    EXPECT_EQ(answer.text.substr(0, std::strlen(c.starts)), c.starts) << answer.text;
  }
}

TEST_F(PropertyQueryTest, LengthFieldsPastTheRecordStopAtItsEnd) {
  // Each record claims more bytes than it holds: the answer is what it
  // holds (and, run under the address sanitizer, nothing is read beyond).
  const std::string start = kStart;
  RunCases({
      {"an anchor of 50 bytes holding 2", start + "RAW sig=0xFFCB data=3200" + Zeros(6) + "6162\n",
       ACTION_GET_ANCHOR_TEXT, PROP_ANCHORTEXT, Place::kResult, "ab"},
      {"a target of 100 bytes holding 2", start + "RAW sig=0xFFF2 data=6400" + Zeros(6) + "5F74\n",
       ACTION_GET_TARGET_FRAME, PROP_TARGETFRAME, Place::kFirst, "_t"},
      {"a URL of 100 bytes holding 4",
       start + "RAW sig=0xFFA9 data=0B000000001000006400000068747470\n", ACTION_GET_LINK,
       PROP_LINKURL, Place::kThird, "http"},
      {"a label without its NUL", start + "RAW sig=0xFFE3 data=\"" + std::string(136, 'L') + "\"\n",
       ACTION_GET_ROW_LABEL, PROP_ROWLABEL, Place::kFirst, std::string(136, 'L').c_str()},
      {"a server hint that takes the whole rest",
       start + "RAW sig=0xFFF6 data=0000000001000000" + "0A00C8000000" + Zeros(8) + "616263\n",
       ACTION_GET_LINK, PROP_LINKURL, Place::kThird, ""},
  });
}

/* The font of the chunk's first text run, the part p1 names, without a
 * trailing blank: the text effect's font when the run has one, and the
 * run's colour record beside it. */
TEST_F(PropertyQueryTest, FontQueriesReadTheFirstRunsFont) {
  const std::string start = kStart;
  const std::string envelope = start + "BEGIN sig=TEXT\nTEXT text=\"a\" color=blue\n"
                                       "COLOR rgb=0x102030\nEND sig=TEXT\nTEXT text=\"b\"\n";
  const std::string effect = start + "RAW sig=0xFFC3 data=0181030C\nTEXT text=\"a\"\n";
  const std::string plain = start + "TEXT text=\"a\" color=red attributes=italic size=14\n";
  RunCases({
      {"a plain run", plain, ACTION_GET_FONT, PROP_FONT, Place::kThird,
       "Italic Red 14pt Default Sans Serif"},
      {"its colour", plain, ACTION_GET_FONT, PROP_FONTCOLOR, Place::kThird, "Red"},
      {"its attributes", plain, ACTION_GET_FONT, PROP_TEXTATTRIBUTES, Place::kThird, "Italic"},
      {"an RGB colour from the run's colour record", envelope, ACTION_GET_FONT, PROP_FONTCOLOR,
       Place::kThird, "RGB16,32,48"},
      {"the text effect's font", effect, ACTION_GET_FONT, PROP_FONT, Place::kThird,
       "Bold Shadowed Green 12pt Default Sans Serif"},
  });
}

TEST_F(PropertyQueryTest, GatheredTextIsNeverCutInsideACharacter) {
  // Six runs of 10000 bytes, then 5338 bytes and a three-byte character
  // that the limit of 65340 bytes would split: the text stops before it.
  std::string script = kStart;
  for (int run = 0; run < 6; ++run)
    script += "TEXT text=\"" + std::string(10000, static_cast<char>('a' + run)) + "\"\n";
  script += "TEXT text=\"" + std::string(5338, 'g') + "\\x14\\x30\\x42z\"\n";
  for (WORD wholeCharacter : {0, 1}) {
    std::string text = script;
    if (wholeCharacter != 0) // one byte less before it: the character fits
      text.replace(text.find(std::string(5338, 'g')), 5338, std::string(5337, 'g'));
    const Answer answer = Query(text, "Everything", ACTION_GET_TEXT, PROP_TEXT, Place::kResult, 1);
    EXPECT_EQ(answer.status, NOERROR);
    if (wholeCharacter != 0) {
      ASSERT_EQ(answer.text.size(), 65340u);
      EXPECT_EQ(answer.text.substr(65337), "\x14\x30\x42");
    } else {
      ASSERT_EQ(answer.text.size(), 65338u);
      EXPECT_EQ(answer.text.back(), 'g');
    }
  }
}

} // namespace
