// Images by reference inside a real writing operation, read back from the
// saved note: the graphic's record sequence and each property that changes
// it (file path, image type and size, alternate text, border, caption,
// wrapping, quoted HTML values, replica ID, background use), the storage
// link, and the calls refused before any record.
#include <optional>

#include "tests/generate/generator_fixture.h"

namespace {

using namespace generator_test;
using cdbuild::Begin;
using cdbuild::End;

struct resource_call {
  const char* name = "logo.gif";
  const char* properties = "";
  DWORD background = 0;
  WORD width = 0;
  WORD height = 0;
  const char* alt = nullptr;
  const char* align = nullptr;
  const char* hspace = nullptr;
  const char* vspace = nullptr;
  const char* border = nullptr;
};

STATUS Call(const resource_call& call, hotspot_state* state, WORD resourceClass = 19) {
  return GenerateResource(3, resourceClass, call.name, call.properties, call.background, state,
                          call.width, call.height, call.alt, call.align, call.hspace, call.vspace,
                          call.border);
}

Bytes Graphic(BYTE flags = 1, WORD width = 0, WORD height = 0) {
  return cdbuild::Graphic({.dest_width = width, .dest_height = height, .version = 2, .flags = flags});
}

Bytes Header(WORD type = 1, WORD width = 100, WORD height = 100) {
  return cdbuild::ImageHeader({.image_type = type, .width = width, .height = height});
}

/* The image resource reference: 8 zero bytes of replica ID unless given. */
Bytes Reference(std::string name = "logo.gif", DWORD flags = 0, WORD resourceClass = 19,
                std::string path = "", Bytes replica = Bytes(8)) {
  return Even(cdbuild::Resource({.flags = flags,
                                 .type = 3,
                                 .resource_class = resourceClass,
                                 .file_hint = path,
                                 .link = replica,
                                 .name = name}));
}

/* The graphic's bracket around the records. */
std::vector<Bytes> Bracketed(std::vector<Bytes> inner) {
  inner.insert(inner.begin(), Begin(SIG_CD_GRAPHIC, 1));
  inner.push_back(End(SIG_CD_GRAPHIC, 1));
  return inner;
}

class ResourceTest : public GeneratorTest {};

TEST_F(ResourceTest, GraphicSequences) {
  const cdbuild::Font captionFont = {.face = 0, .size = 10};
  const struct {
    const char* what;
    resource_call call;
    std::vector<Bytes> expected;
  } cases[] = {
      {"no properties", {}, Bracketed({Graphic(), Header(), Reference()})},
      {"a file path: class 8 and the file-path flag",
       {.properties = "FilePath=img/a.gif"},
       Bracketed({Graphic(), Header(), Reference("logo.gif", 0x08, 8, "img/a.gif")})},
      {"a replica ID from the first 16 characters, the last 8 digits first",
       {.properties = "ReplicaID=0123456789ABCDEF99"},
       Bracketed({Graphic(), Header(),
                  Reference("logo.gif", 0, 19, "",
                            {0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01})})},
      {"a replica ID of fewer than 16 characters is none",
       {.properties = "ReplicaID=0123456789ABCDE"},
       Bracketed({Graphic(), Header(), Reference()})},
      {"JPEG, the image width before the graphic width",
       {.properties = "ImageType=JPEG ImageWidth=40 GraphicWidth=50 GraphicHeight=60"},
       Bracketed({Graphic(), Header(2, 40, 60), Reference()})},
      {"the size arguments: the graphic's destination and the image's size",
       {.width = 120, .height = 80},
       Bracketed({Graphic(1, 120, 80), Header(1, 120, 80), Reference()})},
      {"the alternate text argument wins",
       {.properties = "AltText=prop", .alt = "arg"},
       Bracketed({Graphic(), Header(), Even(cdbuild::AltText("arg")), Reference()})},
      {"the alternate text property", {.properties = "AltText='a b'"},
       Bracketed({Graphic(), Header(), Even(cdbuild::AltText("a b")), Reference()})},
      {"an empty alternate text argument writes none",
       {.properties = "AltText=prop", .alt = ""},
       Bracketed({Graphic(), Header(), Reference()})},
      {"a border", {.border = "3"},
       Bracketed({Graphic(), Header(), cdbuild::BorderInfo(1, 3), Reference()})},
      {"a caption at the bottom",
       {.properties = "Caption=Hi"},
       Bracketed({Graphic(), Header(),
                  cdbuild::Caption({.text = "Hi", .font = captionFont, .color = {.flags = 8}}),
                  Reference()})},
      {"a centred caption in red",
       {.properties = "Caption=Hi CaptionPosition=center CaptionFont=RED"},
       Bracketed({Graphic(), Header(),
                  cdbuild::Caption({.text = "Hi",
                                    .position = 1,
                                    .font = {.face = 0, .color = 2, .size = 10},
                                    .color = {.flags = 1, .red = 0xFF}}),
                  Reference()})},
      {"WRAP_AROUND floats the graphic and aligns it to the top",
       {.properties = "WrapText=WRAP_AROUND"},
       Bracketed({Graphic(3), Header(), cdbuild::VerticalAlign(2), Reference()})},
      {"WRAP_FLOAT_RIGHT", {.properties = "WrapText=WRAP_FLOAT_RIGHT"},
       Bracketed({Graphic(3), Header(), cdbuild::Float(2), Reference()})},
      {"an align argument of left wins over the property",
       {.properties = "WrapText=ALIGN_BOTTOM", .align = "LEFT"},
       Bracketed({Graphic(3), Header(), cdbuild::Float(1), Reference()})},
      {"an align argument naming the middle",
       {.align = "absmiddle"},
       Bracketed({Graphic(), Header(), cdbuild::VerticalAlign(1), Reference()})},
      {"ALIGN_BOTTOM", {.properties = "WrapText=ALIGN_BOTTOM"},
       Bracketed({Graphic(), Header(), cdbuild::VerticalAlign(5), Reference()})},
      {"a replica ID of 16 digits: its last 8, then its first 8",
       {.properties = "ReplicaID=0123456789abcdef"},
       Bracketed({Graphic(), Header(),
                  Reference("logo.gif", 0, 19, "",
                            {0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01})})},
      {"a replica ID of 15 digits is zero", {.properties = "ReplicaID=0123456789abcde"},
       Bracketed({Graphic(), Header(), Reference()})},
      {"a replica ID that is not hexadecimal is zero",
       {.properties = "ReplicaID=0123456789abcdeg"},
       Bracketed({Graphic(), Header(), Reference()})},
      {"the name ends at its last '?'", {.name = "logo.gif?Open&x?y"},
       Bracketed({Graphic(), Header(), Reference("logo.gif?Open&x")})},
      {"or else at its last '!'", {.name = "a!b.gif!x"},
       Bracketed({Graphic(), Header(), Reference("a!b.gif")})},
      {"a name of odd length is padded", {.name = "a.gif"},
       Bracketed({Graphic(), Header(), Reference("a.gif")})},
      {"quoted HTML values; a value without its closing quote is left out",
       {.properties = "ImageHTMLID='x' ImageHTMLClass=|c d| ImageHTMLTitle='open"},
       Bracketed({Graphic(), Header(), Reference(),
                  cdbuild::IdName({.id = "x", .class_name = "c d"})})},
      {"keys found anywhere and in any case, the other part as given",
       {.properties = "xIMAGEhtmlName=~n~ ImageHTMLOther=\"a=1\"", .hspace = "4"},
       Bracketed({Graphic(), Header(), Reference(),
                  cdbuild::IdName({.extra = "a=1", .name = "n"})})},
      {"hspace and vspace make the other part",
       {.hspace = "5", .vspace = "7"},
       Bracketed({Graphic(), Header(), Reference(),
                  cdbuild::IdName({.extra = "hspace='5' vspace='7' "})})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    ASSERT_EQ(InOperation([&](hotspot_state* state) { return Call(c.call, state); }), NOERROR);
    ExpectBody(c.expected);
  }
}

TEST_F(ResourceTest, BackgroundReferences) {
  const struct {
    const char* what;
    const char* properties;
    std::vector<Bytes> expected;
  } cases[] = {
      {"tiled by default", "",
       {Even(cdbuild::Resource({.signature = SIG_CD_RESOURCE_FF5A,
                                .type = 3,
                                .resource_class = 19,
                                .link = Bytes(8),
                                .name = "logo.gif"})),
        cdbuild::BackgroundRepeat(4)}},
      {"a file path keeps the class", "FilePath=x.nsf Repeat=center",
       {Even(cdbuild::Resource({.signature = SIG_CD_RESOURCE_FF5A,
                                .flags = 0x08,
                                .type = 3,
                                .resource_class = 19,
                                .file_hint = "x.nsf",
                                .link = Bytes(8),
                                .name = "logo.gif"})),
        cdbuild::BackgroundRepeat(6)}},
      {"a storage object: type 6, class 8, no replica ID",
       "BackgroundStorage=1 ReplicaID=0123456789ABCDEF Repeat=REPEAT_HORIZONTAL",
       {Even(cdbuild::Resource({.signature = SIG_CD_RESOURCE_FF5A,
                                .type = 6,
                                .resource_class = 8,
                                .name = "logo.gif"})),
        cdbuild::BackgroundRepeat(3)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    ASSERT_EQ(InOperation([&](hotspot_state* state) {
                return Call({.properties = c.properties, .background = 1}, state);
              }),
              NOERROR);
    ExpectBody(c.expected);
  }
}

TEST_F(ResourceTest, RefusedCallsLeaveTheBody) {
  const struct {
    const char* what;
    resource_call call;
    WORD resourceClass;
  } cases[] = {
      {"a class other than an image resource", {}, 18},
      {"no name", {.name = nullptr}, 19},
      {"records copied in outside an engine operation", {.properties = "MakeInLine=yes"}, 19},
      {"a reference longer than a record holds",
       {.properties = nullptr, .alt = nullptr}, 19},
  };
  std::string longName(70000, 'n');
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    const std::vector<Bytes> before = Values();
    resource_call call = c.call;
    if (call.properties == nullptr)
      call.name = longName.c_str();
    EXPECT_EQ(InOperation([&](hotspot_state* state) { return Call(call, state, c.resourceClass); }),
              VELKO_ERR_BAD_ARGUMENT);
    EXPECT_EQ(Values(), before);
  }
}

TEST_F(ResourceTest, TheCallersNameIsNotCut) {
  Fresh();
  char name[] = "logo.gif?Open";
  ASSERT_EQ(InOperation([&](hotspot_state* state) { return Call({.name = name}, state); }),
            NOERROR);
  EXPECT_STREQ(name, "logo.gif?Open");
}

TEST_F(ResourceTest, StorageLinks) {
  const auto link = [](WORD storage, WORD load, std::string reference) {
    return Even(cdbuild::StorageLink(
        {.storage_type = storage, .load_type = load, .reference = reference}));
  };
  const auto size = [](WORD width, WORD height) {
    return cdbuild::BitmapHeader(
        {.width = width, .height = height, .bits_per_pixel = 0, .samples_per_pixel = 0});
  };
  const struct {
    const char* what;
    WORD kind;
    const char* properties;
    std::vector<Bytes> inner; /* between the graphic and the closing CDEND */
    BYTE graphicFlags;
  } cases[] = {
      {"a URL loaded when deferred", 2, "LoadType=deferred",
       {link(4, 1, "http://a/b.gif"), size(100, 100)}, 0},
      {"a file object, any other load type, its size", 3,
       "LoadType=now ImageWidth=30 ImageHeight=20", {link(1, 2, "http://a/b.gif"), size(30, 20)},
       0},
      {"no load type", 3, "", {link(1, 0, "http://a/b.gif"), size(100, 100)}, 0},
      {"floating left with alternate text", 2, "WrapText=WRAP_FLOAT_LEFT AltText=pic",
       {link(4, 0, "http://a/b.gif"), size(100, 100), Even(cdbuild::AltText("pic")),
        cdbuild::Float(1)},
       2},
      {"WRAP_AROUND aligns only when whole", 2, "WrapText=WRAP_AROUNDx",
       {link(4, 0, "http://a/b.gif"), size(100, 100)}, 2},
      {"WRAP_AROUND", 2, "WrapText=wrap_around",
       {link(4, 0, "http://a/b.gif"), size(100, 100), cdbuild::VerticalAlign(2)}, 2},
      {"ALIGN_CENTER and an HTML id", 2, "WrapText=ALIGN_CENTER ImageHTMLID=|i|",
       {link(4, 0, "http://a/b.gif"), size(100, 100), cdbuild::VerticalAlign(1),
        Even(cdbuild::IdName({.id = "i"}))},
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    ASSERT_EQ(InOperation([&](hotspot_state* state) {
                return GenerateStorageLink(c.kind, "http://a/b.gif", c.properties, state);
              }),
              NOERROR);
    std::vector<Bytes> expected = {engine_test::Text(""), Begin(SIG_CD_GRAPHIC, 1),
                                   Graphic(c.graphicFlags)};
    expected.insert(expected.end(), c.inner.begin(), c.inner.end());
    expected.push_back(End(SIG_CD_GRAPHIC, 1));
    ExpectBody(expected);
  }
}

} // namespace
