// Target attributes (action 2437, which no method issues) through the
// chunk's class interface on a note of a database file: the body the run
// stores, read back with the database opened anew, against records written
// by hand with the byte builder, per target type; what is set on graphics
// and layers read back through the target-property query; refusals; and
// the action over every failing allocation.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cdbuild/cd_script.h"
#include "host/nsfdb.h"
#include "store/vocabulary.h"
#include "tests/support/allocation_faults.h"
#include "tests/support/record_lines.h"
#include "tests/support/stored_chunk_fixture.h"
#include "tests/support/stored_values.h"

namespace {

using note_testing::Bytes;
using note_testing::RecordLines;

class TargetPropertiesSetTest : public StoredChunkFixture {
public:
  /* Action 2437 for the target type on the chunk of the definition. */
  long Set(NOTEID id, const char* definition, WORD type, const std::string& properties) {
    return OnChunk(id, definition, [&](VelkoRTChunk* chunk) {
      return static_cast<long>(chunk->AlterRichText(ACTION_SET_TARGET_PROPERTIES, type, 0, 0, 0,
                                                    properties.c_str(), nullptr, nullptr,
                                                    nullptr));
    });
  }

  /* What the target-property query of the chunk answers. */
  std::string Query(NOTEID id, const char* definition, const char* target, const char* property) {
    std::string answer = "(none)";
    OnChunk(id, definition, [&](VelkoRTChunk* chunk) {
      const char* text = chunk->GetTargetProperties(target, property);
      answer = text != nullptr ? text : "(null)";
      return 0L;
    });
    return answer;
  }
};

/* ---- bytes of records, written out field by field ---- */

std::string Hex(const void* data, size_t size) {
  std::string hex;
  char digits[3];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(digits, sizeof digits, "%02X", static_cast<const unsigned char*>(data)[i]);
    hex += digits;
  }
  return hex;
}
std::string Word(unsigned value) { return Hex(&value, 2); } // little-endian host
std::string Dword(unsigned value) { return Hex(&value, 4); }
std::string Zeros(size_t count) { return std::string(2 * count, '0'); }
/* A length value: flags, two bytes of alignment, the number, the units
 * and a reserved byte, two bytes of alignment. */
std::string Length(double number, unsigned units) {
  return Word(0) + Zeros(2) + Hex(&number, 8) + Word(units) + Zeros(2);
}

std::string AltText(const std::string& text) {
  return "RAW sig=0xFFCA data=" + Word(static_cast<unsigned>(text.size())) + Zeros(6) +
         " tail=\"" + text + "\"\n";
}
/* A caption: position byte, font (face, attributes, colour, size) and the
 * colour value's flags and red, green and blue. */
std::string Caption(const std::string& text, unsigned position, const std::string& font) {
  return "RAW sig=0xFF76 data=" + Word(static_cast<unsigned>(text.size())) + Word(position) +
         font + Zeros(6) + Zeros(14) + " tail=\"" + text + "\"\n";
}
/* A border record of the style and the four widths, the rest zero. */
std::string Border(unsigned style, unsigned width) {
  return "RAW sig=0xFFFC data=" + Zeros(4) + Word(style) + Word(width) + Word(width) +
         Word(width) + Word(width) + Zeros(42) + "\n";
}

const std::string kHead = R"(PABDEF id=1
PABREF id=1
TEXT text="x"
)";
const std::string kTail = "TEXT text=\"y\"\n";
const std::string kSecond = "PARAGRAPH\nPABREF id=1\nTEXT text=\"z\"\n";
const std::string kOpen = "BEGIN sig=0x99 version=1\n";
const std::string kClose = "END sig=0x99 version=1\n";
const std::string kNoFont = Zeros(4);
const std::string kBoldTwelve = "0001000C"; // face 0, bold, colour 0, 12 points

struct set_case {
  const char* name;
  const char* definition;
  WORD type;
  std::string properties;
  std::string body;
  std::string expected;
};

void RunCases(TargetPropertiesSetTest* test, const std::vector<set_case>& cases) {
  for (const set_case& c : cases) {
    SCOPED_TRACE(c.name);
    const NOTEID id = test->StoreNote(c.body);
    EXPECT_EQ(test->Set(id, c.definition, c.type, c.properties), NOERROR);
    EXPECT_EQ(test->Stored(id), TargetPropertiesSetTest::Expected(c.expected));
  }
}

/* ---- graphics ---- */

const std::string kGraphicKeys =
    "AltText='new' Caption='cap' CaptionPosition=Center CaptionFont='Bold 12pt' "
    "GraphicHTMLClass='c' BorderStyle=SOLID BorderThickness=3";
const std::string kGraphicRecords =
    AltText("ab") + Caption("old", 0, kNoFont) + "IDNAME id=\"g1\"\n";
/* An identity record of odd length is written even. */
const std::string kEven = " tail=\"\\0\"\n";

TEST_F(TargetPropertiesSetTest, GraphicsTakeTheirKeys) {
  RunCases(this, {
      // Every record the graphic has is rewritten, the border it lacks is
      // added; the graphic stands in a bracket of its own, closed where
      // the chunk closes.
      {"RecordsOfTheGraphic", "Graphic 1", TARGETTYPE_GRAPHIC, kGraphicKeys,
       kHead + "GRAPHIC\n" + kGraphicRecords + kTail,
       kHead + kOpen + "GRAPHIC\n" + AltText("new") + Caption("cap", 1, kBoldTwelve) +
           "IDNAME id=\"g1\" class=\"c\"" + kEven + Border(1, 3) + kClose + kTail},
      // A graphic without them gets each once where the chunk closes.
      {"RecordsAdded", "Graphic 1", TARGETTYPE_GRAPHIC, kGraphicKeys,
       kHead + "GRAPHIC\n" + kTail,
       kHead + kOpen + "GRAPHIC\n" + AltText("new") + Caption("cap", 1, kBoldTwelve) +
           "IDNAME class=\"c\"" + kEven + Border(1, 3) + kClose + kTail},
      // Keys left out leave their parts; a caption keeps its text and a
      // record without its key is not added.
      {"SomeKeys", "Graphic 1", TARGETTYPE_GRAPHIC, "CaptionPosition=Center GraphicHTMLTitle=t",
       kHead + "GRAPHIC\n" + kGraphicRecords + kTail,
       kHead + kOpen + "GRAPHIC\n" + AltText("ab") + Caption("old", 1, kNoFont) +
           "IDNAME id=\"g1\" title=\"t\"" + kEven + kClose + kTail},
      // A border record in the chunk is rewritten; the bracket closes
      // where the chunk does.
      {"BorderOfTheGraphic", "Paragraph 1", TARGETTYPE_GRAPHIC,
       "BorderStyle=SOLID BorderThickness=3", kHead + "GRAPHIC\n" + Border(0, 0) + kSecond,
       kHead + kOpen + "GRAPHIC\n" + Border(1, 3) + kClose + kSecond},
      // A graphic in its bracket gets no second one.
      {"InItsBracket", "Graphic 1", TARGETTYPE_GRAPHIC, "AltText='new'",
       kHead + kOpen + "GRAPHIC\n" + AltText("ab") + kClose + kTail,
       kHead + kOpen + "GRAPHIC\n" + AltText("new") + kClose + kTail},
      // Without a key nothing is written, not even an empty identity.
      {"NoKey", "Graphic 1", TARGETTYPE_GRAPHIC, "GraphicHTML", kHead + "GRAPHIC\n" + kTail,
       kHead + "GRAPHIC\n" + kTail},
      // A section's chunk takes the graphic's records where it closes.
      {"Section", "Paragraph 1", TARGETTYPE_SECTION, "AltText='a'", kHead + kSecond,
       kHead + AltText("a") + kSecond},
      // Another target type's records are left alone.
      {"OtherType", "Everything", TARGETTYPE_FIELD, kGraphicKeys,
       kHead + "GRAPHIC\n" + kGraphicRecords + kTail,
       kHead + "GRAPHIC\n" + kGraphicRecords + kTail},
  });
}

/* ---- layers ---- */

/* A layer's position record: scheme, z-index, top and left, the bottom
 * and right left empty, and the two browser offsets. */
std::string Position(unsigned scheme, unsigned zIndex, const std::string& top,
                     const std::string& left, double leftOffset, double rightOffset) {
  return "RAW sig=0x6B data=" + Word(scheme) + Dword(zIndex) + top + left + Zeros(32) +
         Hex(&leftOffset, 8) + Hex(&rightOffset, 8) + "\n";
}
std::string BoxSize(const std::string& width, const std::string& height) {
  return "RAW sig=0x6A data=" + Zeros(2) + width + height + Zeros(80) + "\n";
}
/* The layer's background: an image named by URL and its repeat mode. */
std::string Background(const std::string& image, unsigned repeat) {
  return "BEGIN sig=0x63 version=1\nRESOURCE type=1 server=\"srv\" name=\"" + image +
         "\"\nRAW sig=0x63 data=" + Word(repeat) + Zeros(48) + "\nEND sig=0x63 version=1\n";
}
const std::string kNoLength = Length(0, 0);
std::string Layer(const std::string& records, const std::string& inside = "") {
  return kHead + "LAYERBEGIN\nLAYER\n" + records + "TEXT text=\"in\"\n" + inside + "LAYEREND\n" +
         kTail;
}
const std::string kLayerKeys =
    "ZIndex=3 Top=100px Left=1.5in Scheme=relative BrowserLeftOffset=10 "
    "BrowserRightOffset=20.5 Width=50% Height=300px BackgroundImage='new.gif' "
    "BackgroundRepeat=once LayerHTMLClass='k'";
const std::string kLayerRecords = Position(1, 0, kNoLength, kNoLength, 0, 0) +
                                  BoxSize(kNoLength, kNoLength) + Background("old.gif", 4) +
                                  "IDNAME id=\"lay\"\n";

TEST_F(TargetPropertiesSetTest, LayersTakeTheirKeys) {
  // Pixels 2, twips 1 (an inch is 1440 twips), percent 3.
  const std::string position = Position(2, 3, Length(100, 2), Length(2160, 1), 10, 20.5);
  const std::string nested = kHead +
                             "LAYERBEGIN\nLAYER\nIDNAME id=\"o\"\nLAYERBEGIN\nLAYER\n"
                             "TEXT text=\"in\"\nLAYEREND\nLAYEREND\n" + kTail;
  RunCases(this, {
      {"RecordsOfTheLayer", "Layer 1", TARGETTYPE_LAYER, kLayerKeys, Layer(kLayerRecords),
       Layer(position + BoxSize(Length(50, 3), Length(300, 2)) + Background("new.gif", 1) +
             "IDNAME id=\"lay\" class=\"k\"\n")},
      // Keys left out keep their fields; a repeat mode of no known name
      // keeps the record's.
      {"SomeKeys", "Layer 1", TARGETTYPE_LAYER, "Scheme=fixed Height=2in BackgroundRepeat=sideways",
       Layer(kLayerRecords),
       Layer(Position(3, 0, kNoLength, kNoLength, 0, 0) + BoxSize(kNoLength, Length(2880, 1)) +
             Background("old.gif", 4) + "IDNAME id=\"lay\"\n")},
      // A layer without its identity record gets one, once, before the
      // end of its bracket.
      {"IdentityAdded", "Layer 1", TARGETTYPE_LAYER, "LayerHTMLID='x' LayerHTMLName='n'",
       Layer(""), Layer("", "IDNAME id=\"x\" name=\"n\"\n")},
      {"IdentityAddedInEverything", "Everything", TARGETTYPE_LAYER, "LayerHTMLStyle='abc'",
       Layer(""), Layer("", "IDNAME style=\"abc\"" + kEven)},
      // Nested layers: the inner one gets its record, the outer one's is
      // rewritten.
      {"NestedLayers", "Layer 1", TARGETTYPE_LAYER, "LayerHTMLID='x'", nested,
       kHead + "LAYERBEGIN\nLAYER\nIDNAME id=\"x\"" + kEven +
           "LAYERBEGIN\nLAYER\nTEXT text=\"in\"\nIDNAME id=\"x\"" + kEven +
           "LAYEREND\nLAYEREND\n" + kTail},
      // Without a layer in the chunk, the record comes where it closes.
      {"NoLayer", "Paragraph 1", TARGETTYPE_LAYER, "LayerHTMLID='x'", kHead + kSecond,
       kHead + "IDNAME id=\"x\"" + kEven + kSecond},
  });
}

/* ---- what is set reads back ---- */

struct read_back {
  const char* property;
  const char* value;
};

TEST_F(TargetPropertiesSetTest, GraphicAndLayerKeysReadBack) {
  struct round_trip {
    const char* name;
    std::string body;
    const char* definition;
    WORD type;
    const char* target;
    std::string properties;
    std::vector<read_back> answers;
  };
  const round_trip trips[] = {
      // Over the records the graphic has and over those it is given.
      {"GraphicWithRecords", kHead + "GRAPHIC\n" + kGraphicRecords + Border(0, 0) + kTail,
       "Everything", TARGETTYPE_GRAPHIC, "Graphic",
       "AltText=\"it's new\" Caption='cap' GraphicHTMLClass='c' GraphicHTMLName='gn' "
       "BorderStyle=DOUBLE BorderThickness=4",
       {{"AltText", "it's new"},
        {"Caption", "cap"},
        {"GraphicHTMLId", "g1"},
        {"GraphicHTMLClass", "c"},
        {"GraphicHTMLName", "gn"},
        {"BorderStyle", "DOUBLE"},
        {"BorderThicknessLeft", "4"}}},
      {"GraphicWithout", kHead + "GRAPHIC\n" + kTail, "Graphic 1", TARGETTYPE_GRAPHIC, "Graphic",
       "AltText=alt Caption='a caption' GraphicHTMLTitle='t'",
       {{"AltText", "alt"}, {"Caption", "a caption"}, {"GraphicHTMLTitle", "t"}}},
      {"Layer", Layer(kLayerRecords), "Layer 1", TARGETTYPE_LAYER, "Layer", kLayerKeys,
       {{"ZIndex", "3"},
        {"Top", "100px"},
        {"Left", "1.500000in"},
        {"Scheme", "relative"},
        {"BrowserLeftOffset", "10"},
        {"BrowserRightOffset", "21"},
        {"Width", "50%"},
        {"Height", "300px"},
        {"LayerHTMLId", "lay"},
        {"LayerHTMLClass", "k"}}},
      {"LayerWithout", Layer(""), "Layer 1", TARGETTYPE_LAYER, "Layer",
       "LayerHTMLId='x' LayerHTMLStyle='color:red'",
       {{"LayerHTMLId", "x"}, {"LayerHTMLStyle", "color:red"}}},
  };
  for (const round_trip& trip : trips) {
    SCOPED_TRACE(trip.name);
    const NOTEID id = StoreNote(trip.body);
    ASSERT_EQ(Set(id, trip.definition, trip.type, trip.properties), NOERROR);
    for (const read_back& answer : trip.answers)
      EXPECT_EQ(Query(id, trip.definition, trip.target, answer.property), answer.value)
          << answer.property;
  }
}

/* ---- paragraphs and rules ---- */

std::string Rule(unsigned flags) {
  return "RAW sig=0xFFC9 data=" + Dword(flags) + Word(100) + Word(720) + Word(0) + Word(0) +
         "\n";
}
const std::string kBorderKeys = "BorderStyle=SOLID BorderThickness=2";

TEST_F(TargetPropertiesSetTest, ParagraphsAndRulesTakeTheirKeys) {
  RunCases(this, {
      // Each paragraph reference without a border gets one before it.
      {"NewBorders", "Everything", TARGETTYPE_PARAGRAPH, kBorderKeys, kHead + kSecond,
       "PABDEF id=1\n" + Border(1, 2) + "PABREF id=1\nTEXT text=\"x\"\nPARAGRAPH\n" +
           Border(1, 2) + "PABREF id=1\nTEXT text=\"z\"\n"},
      // A reference followed by its border, alone or in a bracket, has
      // that border rewritten.
      {"ExistingBorders", "Everything", TARGETTYPE_PARAGRAPH, kBorderKeys,
       "PABDEF id=1\nPABREF id=1\n" + Border(0, 0) + "TEXT text=\"x\"\nPARAGRAPH\nPABREF id=1\n" +
           "BEGIN sig=0xFFFC\n" + Border(0, 0) + "END sig=0xFFFC\nTEXT text=\"z\"\n",
       "PABDEF id=1\nPABREF id=1\n" + Border(1, 2) + "TEXT text=\"x\"\nPARAGRAPH\nPABREF id=1\n" +
           "BEGIN sig=0xFFFC\n" + Border(1, 2) + "END sig=0xFFFC\nTEXT text=\"z\"\n"},
      // Without a border key no border is added.
      {"NoBorderKey", "Everything", TARGETTYPE_PARAGRAPH, "Caption=x BorderShadow=3",
       kHead + kSecond, kHead + kSecond},
      // A rule: its flags from the keys, its identity texts from the
      // HRHTML keys.
      {"Rule", "Everything", TARGETTYPE_HR, "FitToWindow=No No3DShadow=Yes HRHTMLClass='r'",
       kHead + Rule(0x4) + "IDNAME id=\"h\"\n" + kTail,
       kHead + Rule(0x8) + "IDNAME id=\"h\" class=\"r\"\n" + kTail},
      // The identity texts need an HRHTML key.
      {"RuleWithoutIdentityKeys", "Everything", TARGETTYPE_HR, "No3DShadow=Yes Class='r'",
       kHead + Rule(0x4) + "IDNAME id=\"h\"\n" + kTail,
       kHead + Rule(0xC) + "IDNAME id=\"h\"\n" + kTail},
  });
}

/* ---- URL links ---- */

std::string UrlLink(const std::string& records) {
  return kHead + "HOTSPOTBEGIN sig=0xFFAD type=11 flags=0x1000 data=\"u\"\n" + records +
         "TEXT text=\"l\"\nHOTSPOTEND sig=0xAE\n" + kTail;
}
const std::string kLinkKeys = "Target=_blank Class='c' Title='t t' LinkHTMLID=x";

TEST_F(TargetPropertiesSetTest, UrlLinksTakeTheirKeys) {
  RunCases(this, {
      // The target frame and the identity texts are rewritten; the begin
      // record, which holds only the URL, stays.
      {"RecordsOfTheLink", "URLLink 1", TARGETTYPE_URLLINK, kLinkKeys,
       UrlLink("TARGET frame=\"_top\"\nIDNAME id=\"a\"\n"),
       UrlLink("TARGET frame=\"_blank\"\nIDNAME id=\"a\" class=\"c\" title=\"t t\"" + kEven)},
      // A link without them gets both before its end.
      {"RecordsAdded", "Everything", TARGETTYPE_URLLINK, kLinkKeys, UrlLink(""),
       kHead + "HOTSPOTBEGIN sig=0xFFAD type=11 flags=0x1000 data=\"u\"\nTEXT text=\"l\"\n"
               "TARGET frame=\"_blank\"\nIDNAME class=\"c\" title=\"t t\"\n"
               "HOTSPOTEND sig=0xAE\n" + kTail},
      // Without the link's keys nothing is added.
      {"NoKeys", "URLLink 1", TARGETTYPE_URLLINK, "AltText=x HotspotHTMLID=y", UrlLink(""),
       UrlLink("")},
  });
}

/* Refusals answer 1028 and leave the note its body: a text too long for
 * its record, in the chunk or where it closes. */
TEST_F(TargetPropertiesSetTest, RefusalsLeaveTheBody) {
  const std::string tooLong = "AltText='" + std::string(64382 - 12 + 1, 'a') + "'";
  const set_case cases[] = {
      {"LongTarget", "Everything", TARGETTYPE_URLLINK,
       "Target='" + std::string(64382 - 12 + 1, 'a') + "'",
       kHead + "HOTSPOTBEGIN sig=0xFFAD type=11 flags=0x1000 data=\"u\"\nTEXT text=\"l\"\n"
               "HOTSPOTEND sig=0xAE\n" + kTail, ""},
      {"LongAltText", "Graphic 1", TARGETTYPE_GRAPHIC, tooLong,
       kHead + "GRAPHIC\n" + AltText("ab") + kTail, ""},
      {"LongNewAltText", "Graphic 1", TARGETTYPE_GRAPHIC, tooLong, kHead + "GRAPHIC\n" + kTail,
       ""},
  };
  for (const set_case& c : cases) {
    SCOPED_TRACE(c.name);
    const NOTEID id = StoreNote(c.body);
    EXPECT_EQ(Set(id, c.definition, c.type, c.properties), 1028);
    EXPECT_EQ(Stored(id), Expected(c.body));
  }
}

/* Over every failing host and tracked allocation: the status is returned
 * (263 for tracked memory) and the note keeps its body, or the change is
 * whole. */
TEST_F(TargetPropertiesSetTest, SettingsAreAllOrNothingAtEveryFailedAllocation) {
  struct sweep_case {
    const char* name;
    const char* definition;
    WORD type;
    std::string properties;
    std::string body;
    std::string expected;
  };
  const sweep_case cases[] = {
      {"Graphic", "Graphic 1", TARGETTYPE_GRAPHIC, kGraphicKeys,
       kHead + "GRAPHIC\n" + AltText("ab") + Caption("old", 0, kNoFont) + kTail,
       kHead + kOpen + "GRAPHIC\n" + AltText("new") + Caption("cap", 1, kBoldTwelve) +
           "IDNAME class=\"c\"" + kEven + Border(1, 3) + kClose + kTail},
      {"Layer", "Layer 1", TARGETTYPE_LAYER, "Scheme=fixed LayerHTMLID='x'",
       Layer(Position(1, 0, kNoLength, kNoLength, 0, 0)),
       Layer(Position(3, 0, kNoLength, kNoLength, 0, 0), "IDNAME id=\"x\"" + kEven)},
      {"Paragraph", "Everything", TARGETTYPE_PARAGRAPH, kBorderKeys,
       "PABDEF id=1\nPABREF id=1\n" + Border(0, 0) + "TEXT text=\"x\"\n",
       "PABDEF id=1\nPABREF id=1\n" + Border(1, 2) + "TEXT text=\"x\"\n"},
  };
  for (const sweep_case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Bytes> before = {note_testing::Value(Script(c.body).RecordBytes())};
    const std::vector<Bytes> after = {note_testing::Value(Script(c.expected).RecordBytes())};
    for (const allocation_faults::control& control : allocation_faults::kControls) {
      SCOPED_TRACE(control.name);
      const bool tracked = control.arm == VelkoTestFailTrackedAllocation;
      const int failed = allocation_faults::SweepStoredOperation(
          control, [&] { return StoreNote(c.body); },
          [&](NOTEID note, const std::function<void()>& arm) {
            const STATUS status =
                static_cast<STATUS>(OnChunk(note, c.definition, [&](VelkoRTChunk* chunk) {
                  arm();
                  return static_cast<long>(
                      chunk->AlterRichText(ACTION_SET_TARGET_PROPERTIES, c.type, 0, 0, 0,
                                           c.properties.c_str(), nullptr, nullptr, nullptr));
                }));
            if (tracked && status != NOERROR) {
              EXPECT_EQ(status, 263);
            }
            return status;
          },
          [&](NOTEID note) { return note_testing::StoredBodyValues(path_, note, true); }, before,
          after);
      EXPECT_GT(failed, 0);
    }
  }
}

} // namespace
