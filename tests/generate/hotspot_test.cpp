// Hotspots, buttons, embedded controls and file hotspots inside a real
// writing operation, read back from the saved note: each kind's record
// sequence, the button's width with its exact clamp messages and its
// width type, note links from UNID texts, JavaScript events, and the file
// icon, a valid GIF of the size its records name.
#include <fstream>

#include "host/nsfnote.h"
#include "tests/generate/generator_fixture.h"

namespace {

using namespace generator_test;
using cdbuild::Begin;
using cdbuild::End;

constexpr cdbuild::Font kNoFont = {.face = 0, .size = 0};

Bytes V4Begin(WORD kind, DWORD flags, const std::string& data = "") {
  return Even(cdbuild::HotspotBegin(
      {.signature = SIG_CD_V4HOTSPOTBEGIN, .type = kind, .flags = flags, .data = data}));
}

Bytes PopupBegin(WORD kind, DWORD flags, const std::string& data = "") {
  return Even(cdbuild::HotspotBegin(
      {.signature = SIG_CD_HOTSPOTBEGIN, .type = kind, .flags = flags, .data = data}));
}

Bytes Button(WORD width, WORD flags = 0, const std::string& label = "Save",
             cdbuild::Font font = kNoFont) {
  return Even(cdbuild::Button({.flags = flags, .width = width, .font = font, .label = label}));
}

/* A V4 hotspot's records between its bracket and its end. */
std::vector<Bytes> V4Hotspot(std::vector<Bytes> inner) {
  inner.insert(inner.begin(), Begin(SIG_CD_V4HOTSPOTBEGIN));
  inner.push_back(cdbuild::HotspotEnd(SIG_CD_V4HOTSPOTEND));
  inner.push_back(End(SIG_CD_V4HOTSPOTEND));
  return inner;
}

std::vector<Bytes> PopupHotspot(std::vector<Bytes> inner) {
  inner.insert(inner.begin(), Begin(SIG_CD_V4HOTSPOTBEGIN));
  inner.push_back(cdbuild::HotspotEnd(SIG_CD_HOTSPOTEND));
  inner.push_back(End(SIG_CD_V4HOTSPOTEND));
  return inner;
}

/* The embedded control a kind starts with: 3.5 by 2 inches, face 1 at 10
 * points in every font, white colours. */
Bytes Control(WORD kind, DWORD flags = 0x4408, WORD width = 5040, WORD height = 2880,
              cdbuild::Font text = {}, cdbuild::Font sub1 = {}, cdbuild::Font sub2 = {}) {
  const cdbuild::ColorValue white = {.flags = 5, .red = 255, .green = 255, .blue = 255};
  return cdbuild::EmbeddedControl({.type = kind,
                                   .flags = flags,
                                   .width = width,
                                   .height = height,
                                   .text_font = text,
                                   .first_sub_font = sub1,
                                   .second_sub_font = sub2,
                                   .colors = {white, white}});
}

Bytes EditorOptions(DWORD flags, const std::string& label = "") {
  Bytes record = cdbuild::Sized(SIG_CD_EMBEDDEDEDITOR, 64);
  cdbuild::PutDword(record, 4, flags);
  cdbuild::PutWord(record, 8, static_cast<WORD>(label.size()));
  return Even(cdbuild::WithTail(record, Bytes(label.begin(), label.end())));
}

/* The embedded element of a control linked to a note, with its note link. */
Bytes LinkedElement(const Bytes& noteLink) {
  return cdbuild::Resource({.signature = SIG_CD_RESOURCE_FF71,
                            .flags = 2,
                            .type = 2,
                            .resource_class = 1,
                            .link = noteLink});
}

class HotspotTest : public GeneratorTest {
protected:
  STATUS Hotspot(WORD kind, DWORD flags, const std::string& label, const char* properties) {
    return InOperation([&](hotspot_state* state) {
      return GenerateHotspot(kind, flags, label.c_str(), static_cast<WORD>(label.size()),
                             properties, 0, state);
    });
  }
};

TEST_F(HotspotTest, ButtonWidthsAreClampedWithTheirMessages) {
  const struct {
    const char* properties;
    WORD width;
    std::vector<std::string> messages;
  } cases[] = {
      {"", 2880, {}},
      {"ButtonWidth=0.1", 360, {"TARNO: Minimum button width of 0.25 used."}},
      {"ButtonWidth=30", 32760, {"TARNO: Maximum button width of 22.75 used."}},
      {"ButtonWidth=0.25", 360, {}},
      {"ButtonWidth=22.75", 32760, {}},
      {"Width=1.5", 2160, {}},
      {"ButtonWidth=2 Width=1", 2880, {}},
      {"ButtonWidth=-1", 360, {"TARNO: Minimum button width of 0.25 used."}},
      {"ButtonWidth=nan", 360, {"TARNO: Minimum button width of 0.25 used."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.properties);
    Fresh();
    SetData("@Command");
    ASSERT_EQ(Hotspot(kHotspotButton, kHotspotCodeFormula, "Save", c.properties), NOERROR);
    ExpectBody(V4Hotspot({V4Begin(kHotspotButton, 0x1C, "@Command"), Button(c.width)}));
    EXPECT_EQ(note_testing::MessageTexts(), c.messages);
  }
}

TEST_F(HotspotTest, ButtonFlagsAndFont) {
  const struct {
    const char* properties;
    WORD flags;
    cdbuild::Font font;
  } cases[] = {
      {"ButtonFit=Fixed", 0x0200, kNoFont},
      {"ButtonFit=minimum", 0x0400, kNoFont},
      {"ButtonFit=FIT", 0x0800, kNoFont},
      {"ButtonFit=Maximum", 0, kNoFont},
      {"ButtonWrap=No", 0x0002, kNoFont},
      {"ButtonWrap=yes", 0, kNoFont},
      {"ButtonWrap=No ButtonFit=Fix", 0x0202, kNoFont},
      {"TextFont=+Bold", 0, {.face = 0, .attributes = 1, .size = 0}},
      {"TextFont=12pt", 0, {.face = 0, .size = 12}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.properties);
    Fresh();
    SetData("@Command");
    ASSERT_EQ(Hotspot(kHotspotButton, kHotspotCodeLotusScript, "Save", c.properties), NOERROR);
    ExpectBody(V4Hotspot(
        {V4Begin(kHotspotButton, 0x10C, "@Command"), Button(2880, c.flags, "Save", c.font)}));
  }
}

TEST_F(HotspotTest, KindsAndCodeFlags) {
  const Bytes script = {'a', 'l', 'e', 'r', 't', '(', '1', ')', '2', 0};
  const struct {
    const char* what;
    WORD kind;
    DWORD flags;
    const char* properties;
    std::vector<Bytes> expected;
  } cases[] = {
      {"an action hotspot is bracketed without Target or HotspotHTML", kHotspotAction,
       kHotspotCodeFormula, "",
       V4Hotspot({V4Begin(kHotspotAction, 0x1C, "@Command"), engine_test::Text("Save")})},
      {"a JavaScript action, again for every client", kHotspotAction, kHotspotCodeJavaScript,
       "CommonJavaScript=yes",
       V4Hotspot({V4Begin(kHotspotAction, 0x20000C),
                  cdbuild::Event({.event_type = 1, .action_type = 4, .action_length = 8}),
                  cdbuild::BlobPart(SIG_CD_BLOBPART, SIG_CD_EVENT, 20000,
                                    Bytes(script.begin(), script.begin() + 8)),
                  cdbuild::Event({.signature = SIG_CD_EVENT_COMMON,
                                  .event_type = 1,
                                  .action_type = 4,
                                  .action_length = 8}),
                  cdbuild::BlobPart(SIG_CD_BLOBPART_COMMON, SIG_CD_EVENT_COMMON, 20000,
                                    Bytes(script.begin(), script.begin() + 8)),
                  engine_test::Text("Save")})},
      {"a JavaScript button of default width without its properties", kHotspotButton,
       kHotspotCodeJavaScript, "ButtonWidth=5",
       V4Hotspot({V4Begin(kHotspotButton, 0x20000C),
                  cdbuild::Event({.event_type = 1, .action_type = 4, .action_length = 8}),
                  cdbuild::BlobPart(SIG_CD_BLOBPART, SIG_CD_EVENT, 20000,
                                    Bytes(script.begin(), script.begin() + 8)),
                  Button(2880)})},
      {"a formula popup", kHotspotPopup, kHotspotCodeFormula, "",
       PopupHotspot({PopupBegin(kHotspotPopup, 0x1C, "@Command"), engine_test::Text("Save")})},
      {"computed text has no characters", kHotspotPopup, 0x40010, "",
       PopupHotspot({PopupBegin(kHotspotPopup, 0x4001C, "@Command"), engine_test::Text("")})},
      {"a text popup on mouse-over", kHotspotMouseOver, 0, "",
       PopupHotspot({PopupBegin(kHotspotMouseOver, 0x0C, "@Command"), engine_test::Text("Save")})},
      {"a subform by name, its data ended by a zero", kHotspotSubform, 0, "",
       V4Hotspot({V4Begin(kHotspotSubform, 0x08, std::string("@Command\0", 9))})},
      {"a file-upload control has no data", kHotspotFileUpload, 0, "",
       V4Hotspot({V4Begin(kHotspotFileUpload, 0x08)})},
      {"another kind with HotspotHTML: the bracket and the HTML attributes", 5, 0,
       "HotspotHTML HotspotHTMLID=h1",
       {Begin(SIG_CD_V4HOTSPOTBEGIN), cdbuild::IdName({.id = "h1"}), End(SIG_CD_V4HOTSPOTEND)}},
      {"another kind with no HTML attributes given: the bracket alone", 5, 0, "HotspotHTML",
       {Begin(SIG_CD_V4HOTSPOTBEGIN), End(SIG_CD_V4HOTSPOTEND)}},
      {"another kind with neither Target nor HotspotHTML writes nothing", 5, 0, "", {}},
      {"a named control with its target", kHotspotEmbeddedNamed, 0, "Target=_top Scrollbars=yes",
       V4Hotspot({cdbuild::Resource({.signature = SIG_CD_RESOURCE_FF71,
                                     .type = 3,
                                     .resource_class = 2,
                                     .link = Bytes(8),
                                     .name = "@Command"}),
                  V4Begin(kHotspotEmbeddedNamed, 0x08, std::string("@Command\0", 9)),
                  cdbuild::Target("_top"), Control(kHotspotEmbeddedNamed, 0x4400),
                  [] {
                    Bytes tail = cdbuild::Sized(SIG_CD_EMBEDDEDTAIL, 32);
                    cdbuild::PutDword(tail, 4, 2);
                    return tail;
                  }()})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    SetData(c.flags == kHotspotCodeJavaScript ? "alert(1)" : "@Command");
    ASSERT_EQ(Hotspot(c.kind, c.flags, "Save", c.properties), NOERROR);
    ExpectBody(c.expected);
  }
}

TEST_F(HotspotTest, AnOddScriptIsPaddedInItsBlobPart) {
  Fresh();
  SetData("alert(12)");
  ASSERT_EQ(Hotspot(kHotspotAction, kHotspotCodeJavaScript, "Go", ""), NOERROR);
  const std::string script = "alert(12)";
  Bytes padded(script.begin(), script.end());
  padded.push_back(0);
  ExpectBody(V4Hotspot({V4Begin(kHotspotAction, 0x20000C),
                        cdbuild::Event({.event_type = 1, .action_type = 4, .action_length = 9}),
                        cdbuild::BlobPart(SIG_CD_BLOBPART, SIG_CD_EVENT, 20000, padded),
                        engine_test::Text("Go")}));
}

TEST_F(HotspotTest, ControlsLinkedToANote) {
  const Bytes unid = {0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01,
                      0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
  const auto link = [](const Bytes& replica, const Bytes& view, const Bytes& note) {
    Bytes bytes = replica;
    bytes.insert(bytes.end(), view.begin(), view.end());
    bytes.insert(bytes.end(), note.begin(), note.end());
    return bytes;
  };
  const char* const kUnid = "0123456789abcdefFEDCBA9876543210";
  const std::string full = std::string("UNID=") + kUnid;
  const std::string all = full + " VIEWID=" + kUnid + " REPID=0123456789ABCDEF";
  const std::string shortUnid = std::string("UNID=") + std::string(kUnid).substr(1);
  const struct {
    const char* what;
    std::string properties;
    std::string label;
    std::vector<Bytes> expected;
  } cases[] = {
      {"the note's UNID", full, "",
       V4Hotspot({LinkedElement(link(Bytes(8), Bytes(16), unid)),
                  V4Begin(kHotspotEmbeddedLinked, 0x08), Control(kHotspotEmbeddedLinked),
                  EditorOptions(0)})},
      {"replica, view and note", all, "Edit",
       V4Hotspot({LinkedElement(link(Bytes(unid.begin(), unid.begin() + 8), unid, unid)),
                  V4Begin(kHotspotEmbeddedLinked, 0x08), Control(kHotspotEmbeddedLinked),
                  EditorOptions(1, "Edit")})},
      {"a UNID with a letter that is no digit leaves the note zero",
       "UNID=0123456789abcdefFEDCBA987654321g", "",
       V4Hotspot({LinkedElement(Bytes(40)), V4Begin(kHotspotEmbeddedLinked, 0x08),
                  Control(kHotspotEmbeddedLinked), EditorOptions(0)})},
      {"a UNID of 31 digits leaves the note zero", shortUnid, "",
       V4Hotspot({LinkedElement(Bytes(40)), V4Begin(kHotspotEmbeddedLinked, 0x08),
                  Control(kHotspotEmbeddedLinked), EditorOptions(0)})},
      {"without a UNID no element; sizes clamped; the action bar hidden",
       "Width=0.1 Height=0.1 HideActionBar=No TextFont=12pt Sub2Font=Bold", "",
       V4Hotspot({V4Begin(kHotspotEmbeddedLinked, 0x08),
                  Control(kHotspotEmbeddedLinked, 0x4408, 360, 240, {.size = 12}, {.size = 12},
                          {.attributes = 1, .size = 12}),
                  EditorOptions(4)})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    ASSERT_EQ(Hotspot(kHotspotEmbeddedLinked, 0, c.label, c.properties.c_str()), NOERROR);
    ExpectBody(c.expected);
  }
  EXPECT_EQ(note_testing::MessageTexts(),
            (std::vector<std::string>{"TARNO: Minimum embedded control width of 0.25 used.",
                                      "TARNO: Minimum embedded control height of 0.167 used."}));
}

TEST_F(HotspotTest, TheFileIconIsA23By32Gif89aOf180Bytes) {
  const Bytes icon(FileIconGif, FileIconGif + kFileIconSize);
  ASSERT_EQ(icon.size(), 180u);
  EXPECT_EQ(std::string(icon.begin(), icon.begin() + 6), "GIF89a");
  EXPECT_EQ(icon[6] | icon[7] << 8, 23); // logical screen width
  EXPECT_EQ(icon[8] | icon[9] << 8, 32); // and height
  EXPECT_EQ(icon[10] & 0x80, 0x80);      // a global colour table of two entries
  const size_t image = 13 + 6;
  EXPECT_EQ(icon[image], 0x2C); // the image descriptor: the whole screen
  EXPECT_EQ(icon[image + 5] | icon[image + 6] << 8, 23);
  EXPECT_EQ(icon[image + 7] | icon[image + 8] << 8, 32);
  EXPECT_EQ(icon.back(), 0x3B); // the trailer
}

/* The built-in icon's graphic, image header and one segment. */
void FileIconRecords(std::vector<Bytes>* records) {
  records->push_back(cdbuild::Graphic({.version = 2}));
  records->push_back(cdbuild::ImageHeader(
      {.image_type = 1, .width = 23, .height = 32, .data_size = 180, .segment_count = 1}));
  records->push_back(cdbuild::ImageSegment(Bytes(FileIconGif, FileIconGif + kFileIconSize)));
}

TEST_F(HotspotTest, FileHotspots) {
  const std::string path = ::testing::TempDir() + "velko_report.txt";
  std::ofstream(path) << "report";
  const auto begin = [](const std::string& display) {
    return PopupBegin(kHotspotFile, 0x08, std::string("ATT1\0", 5) + display + std::string(1, '\0'));
  };
  const auto withIcon = [&](const std::string& display, std::vector<Bytes> after) {
    std::vector<Bytes> records = {begin(display)};
    FileIconRecords(&records);
    records.push_back(engine_test::Text(" - " + display));
    records.insert(records.end(), after.begin(), after.end());
    return PopupHotspot(records);
  };
  const struct {
    const char* what;
    const char* display;
    const char* properties;
    size_t attachments;
    std::vector<Bytes> expected;
  } cases[] = {
      {"attached, with the icon and the path's last part", nullptr, "", 1,
       withIcon("velko_report.txt", {})},
      {"already attached, a display name and a text", "Report", "AlreadyAttached=yes UseText=Open",
       0, withIcon("Report", {engine_test::Text("Open")})},
      {"a graphic without an import filter gives no icon", "Report",
       "AlreadyAttached=Yes UseGraphic=pic.bmp", 0, PopupHotspot({begin("Report")})},
      {"an empty graphic gives no icon", "Report", "AlreadyAttached=Yes UseGraphic=", 0,
       PopupHotspot({begin("Report")})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    ASSERT_EQ(InOperation([&](hotspot_state* state) {
                return GenerateFileHotspot(path.c_str(), "ATT1", c.display, 0, c.properties, state);
              }),
              NOERROR);
    ExpectBody(c.expected);
    EXPECT_EQ(note_testing::ItemValues(note_, "$FILE").size(), c.attachments);
  }
  std::remove(path.c_str());
}

TEST_F(HotspotTest, AFileThatCannotBeAttachedWritesNothing) {
  Fresh();
  const std::vector<Bytes> before = Values();
  const STATUS status = InOperation([&](hotspot_state* state) {
    return GenerateFileHotspot("/nonexistent/velko/none.txt", "ATT1", nullptr, 0, "", state);
  });
  EXPECT_NE(status, NOERROR);
  EXPECT_EQ(Values(), before);
  EXPECT_TRUE(note_testing::ItemValues(note_, "$FILE").empty());
}

} // namespace

namespace {

using namespace generator_test;

class LongTextTest : public GeneratorTest {};

TEST_F(LongTextTest, TextsPastARecordAreRefusedAndTheBodyKept) {
  const std::string longText(64400, 'x');
  const std::string longUseText = "AlreadyAttached=Yes UseText=" + longText;
  const struct {
    const char* what;
    std::function<STATUS(hotspot_state*)> run;
  } cases[] = {
      {"an action's label",
       [&](hotspot_state* state) {
         return GenerateHotspot(kHotspotAction, kHotspotCodeFormula, longText.c_str(),
                                static_cast<WORD>(longText.size()), "", 0, state);
       }},
      {"a button's label",
       [&](hotspot_state* state) {
         return GenerateHotspot(kHotspotButton, kHotspotCodeFormula, longText.c_str(),
                                static_cast<WORD>(longText.size()), "", 0, state);
       }},
      {"a file hotspot's text",
       [&](hotspot_state* state) {
         return GenerateFileHotspot("/a/b", "B", nullptr, 0, longUseText.c_str(), state);
       }},
      {"a file hotspot's display name",
       [&](hotspot_state* state) {
         return GenerateFileHotspot("/a/b", "B", longText.c_str(), 0, "AlreadyAttached=Yes",
                                    state);
       }},
      {"a storage link's reference",
       [&](hotspot_state* state) { return GenerateStorageLink(2, longText.c_str(), "", state); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    SetData("@Command");
    const std::vector<Bytes> before = Values();
    EXPECT_EQ(InOperation(c.run), VELKO_ERR_BAD_ARGUMENT);
    EXPECT_EQ(Values(), before);
  }
}

TEST_F(LongTextTest, ALongPropertyStringStillGivesItsShortHTMLAttributes) {
  Fresh();
  const std::string properties = "HotspotHTMLID=h1 Other=" + std::string(70000, 'o');
  ASSERT_EQ(InOperation([&](hotspot_state* state) {
              return GenerateHotspot(5, 0, "", 0, properties.c_str(), 0, state);
            }),
            NOERROR);
  // "HotspotHTML" is found inside the key; the bracket and the attributes.
  ExpectBody({cdbuild::Begin(SIG_CD_V4HOTSPOTBEGIN), cdbuild::IdName({.id = "h1"}),
              cdbuild::End(SIG_CD_V4HOTSPOTEND)});
}

} // namespace
