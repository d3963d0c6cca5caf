// What the golden corpus of images cannot show: file names from the
// document never reach outside the image directory (the tree around it
// listed before and after), the content ids of images and image resources
// in a MIME message, an image abandoned for want of memory leaving no
// part of its element behind, the temporary directory and the data
// directory of the host, images inside attachment hotspots of a message,
// and which image resources written to disk fail the render.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "cdbuild/cd_script.h"
#include "golden_files.h"
#include "render/graphic.h"
#include "render_fixture.h"
#include "host/host_testing.h"
#include "store/tracked_memory_testing.h"

namespace {

namespace fs = std::filesystem;
using cdbuild::Body;

/* An image bracket of one segment "GIF", after the records given. */
std::string ImageScript(const std::string &inside) {
  return "PARAGRAPH\nPABDEF id=1\nPABREF id=1\nTEXT text=\"A\"\nBEGIN sig=CDGRAPHIC\nGRAPHIC\n"
         "IMAGEHEADER type=1 width=1 height=1 segments=1\nIMAGESEGMENT data=\"GIF\"\n" +
         inside + "END sig=CDGRAPHIC\n";
}

Body Build(const std::string &script) {
  Body body;
  cdbuild::ScriptError error;
  EXPECT_TRUE(cdbuild::BuildScript(script, &body, &error)) << error.line << ": " << error.message;
  return body;
}

class GraphicTest : public driver_testing::DriverTest {
protected:
  void SetUp() override {
    DriverTest::SetUp();
    root_ = fs::path(::testing::TempDir()) / ("velko_graphic_" + std::to_string(getpid()) + "_" +
                                              ::testing::UnitTest::GetInstance()
                                                  ->current_test_info()
                                                  ->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "images");
  }
  void TearDown() override {
    DriverTest::TearDown();
    fs::remove_all(root_);
  }

  std::set<std::string> Tree() const {
    std::set<std::string> paths;
    for (const auto &entry : fs::recursive_directory_iterator(root_))
      paths.insert(fs::relative(entry.path(), root_).string());
    return paths;
  }

  /* The whole document GenerateHTML returns for the body stored in a
   * database of its own: made at `created` (unless null) and connected
   * with `connected`. */
  std::string GenerateFrom(const char *created, const char *connected, const Body &body,
                           const char *options) {
    DBHANDLE db = NULLHANDLE;
    if (created != nullptr)
      EXPECT_EQ(note_testing::CreateDatabase(created, &db), NOERROR);
    else
      EXPECT_EQ(NSFDbOpen(connected, &db), NOERROR);
    const NOTEID id = note_testing::StoreNoteWith(
        db, [&](NOTEHANDLE note) { return body.AppendItems(note, "Body"); });
    auto *item = new VelkoRTItem(session_.get()); // the session deletes it
    EXPECT_EQ(item->Connect("", connected, id, "Body", 0), NOERROR);
    VelkoRTChunk *chunk = item->DefineChunk("Everything");
    std::string text = "(null)";
    if (char *result = chunk != nullptr ? chunk->GenerateHTML("", "HTML", options, 0, nullptr,
                                                              nullptr)
                                        : nullptr) {
      text.assign(result, session_->render_result_length);
      VelkoDeallocatePtr(session_.get(), result);
    }
    NSFDbClose(db);
    return text;
  }

  fs::path root_;
};

/* Names of the document, each rendered under ImageUseName= (and as the
 * subdirectory): only files inside the image directory are made, each
 * under the name's last path element; refused names make none. */
TEST_F(GraphicTest, NamesFromTheDocumentStayInsideTheImageDirectory) {
  const struct {
    const char *name; /* as the script writes it */
    const char *made; /* under images/, or null */
  } cases[] = {
      {"../x.gif", "x.gif"},
      {"a\\\\..\\\\..\\\\b", "b.gif"},
      {"..", nullptr},
      {".", nullptr},
      {"", "Body_0_7c.gif"}, // no name: the image's own file name
      {"c\\x01d.gif", nullptr},
      {"/etc/passwd", "passwd.gif"},
  };
  const std::string directory = (root_ / "images").string();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::set<std::string> before = Tree();
    const std::string options =
        "ImageHandling=DISK ImageUseName=Yes ImageDirectory=" + directory;
    Render(Build(ImageScript(std::string("IDNAME id=\"i\" name=\"") + c.name + "\"\n")),
           options.c_str());
    std::set<std::string> expected = before;
    if (c.made != nullptr)
      expected.insert(std::string("images/") + c.made);
    EXPECT_EQ(Tree(), expected);
  }
  // A subdirectory or an item name that climbs is refused the same way.
  const std::set<std::string> before = Tree();
  for (const char *subdirectory : {"..", "a\x02"}) {
    const std::string options = "ImageHandling=DISK ImageDirectory=" + directory +
                                " DefaultSubdirectory=" + subdirectory;
    Render(Build(ImageScript("")), options.c_str());
    EXPECT_EQ(Tree(), before) << subdirectory;
  }
}

TEST_F(GraphicTest, ContentIdsNameTheImageKindItsPlaceAndTheNote) {
  UNIVERSALNOTEID unid = {};
  unid.File[0] = 1;
  unid.File[1] = 0xAB;
  unid.Note.Innards[0] = 2;
  unid.Note.Innards[1] = 0xcd;
  const struct {
    WORD type;
    position_side_data position;
    const char *id;
  } cases[] = {
      {2, {0x1a2, 0}, "_2_0000000001A2000000CD00000002"},
      {1, {0x1a2, 0}, "_1_0000000001A2000000CD00000002"},
      {3, {0xabcdef, 12}, "_1_000012ABCDEF000000CD00000002"},
  };
  for (const auto &c : cases) {
    char id[64];
    ImageContentID(c.type, c.position, unid, id, sizeof id);
    EXPECT_STREQ(id, c.id);
  }
  // Rendered for MIME: the id after "cid:", quoted only in XHTML.
  Body body = Build(ImageScript(""));
  for (WORD generation : {kGenerationHTML, kGenerationXHTML}) {
    Prepare(body, "UseUNID=000000AB00000001000000CD00000002", generation);
    context_->mime_mode = 1;
    context_->image_handling = kHandlingDefault;
    const std::string out = Drive();
    const std::string image = out.substr(out.find("<img"));
    // The graphic ends 0x7C bytes into the item: the type word and the
    // stored paragraph, definition, reference, text, bracket and graphic
    // records.
    EXPECT_EQ(image, generation == kGenerationHTML
                         ? "<img src=cid:_1_00000000007C000000CD00000002 height=\"1\" width=\"1\" "
                           "border=\"0\">"
                         : "<img src=\"cid:_1_00000000007C000000CD00000002\" height=\"1\" "
                           "width=\"1\" border=\"0\" />");
  }
}

/* A named image resource in a MIME message: its content id is the name
 * up to a "|" with "\\" and "/" as "_"; under WAICompliant= the alt text
 * says which database the resource came from, by its database reference. */
TEST_F(GraphicTest, AResourceInAMessageIsItsContentIdWithTheDatabaseItCameFrom) {
  const struct {
    const char *name; /* as the script writes it */
    const char *link; /* the 8-byte database reference */
    const char *src;
    const char *alt;
  } cases[] = {
      {"logo.gif|1", "000E000000000000", "cid:logo.gif", "logo.gif|1 from user mail file"},
      {"logo.gif", "010E000000000000", "cid:logo.gif", "logo.gif from address book"},
      {"logo.gif", "020E000000000000", "cid:logo.gif", "logo.gif from headlines"},
      {"a\\\\b/c.gif", "030E000000000000", "cid:a_b_c.gif", "a\\b/c.gif from bookmark db"},
      {"logo.gif", "0000000000000000", "cid:logo.gif", "logo.gif"},
      {"logo.gif", "0100000002000000", "cid:logo.gif", "logo.gif from __0000000200000001.nsf"},
      {"logo.gif", "040E000000000000", "cid:logo.gif", "logo.gif from __0000000000000E04.nsf"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const Body body = Build(ImageScript(std::string("RESOURCE type=3 class=0x13 link=") + c.link +
                                        " name=\"" + c.name + "\"\n"));
    Prepare(body, "WAICompliant=Yes");
    context_->mime_mode = 1;
    context_->image_handling = kHandlingDefault;
    const std::string out = Drive();
    const size_t at = out.find("<img");
    ASSERT_NE(at, std::string::npos) << out;
    EXPECT_EQ(out.substr(at, out.find('>', at) + 1 - at),
              std::string("<img src=\"") + c.src + "\" alt=\"" + c.alt +
                  "\" height=\"1\" width=\"1\" border=\"0\">");
  }
}

/* Every tracked request refused in turn while an image with a long extra
 * text renders: a run that fails leaves nothing of the element ("<img"
 * is cut back), one that succeeds holds it whole. */
TEST_F(GraphicTest, AnImageAbandonedForWantOfMemoryIsCutBack) {
  const std::string extra(300, 'x');
  Body body = Build(ImageScript("IDNAME extra=\"data-a=" + extra + "\"\n") +
                    "TEXT text=\"B\"\n");
  const std::string whole = "<img src=\"/mem:textrender/0/000000ab00000001000000cd00000002/Body/"
                            "0.7c?OpenElement&amp;FieldElemFormat=gif\" height=\"1\" width=\"1\" "
                            "data-a=" + extra + " border=\"0\">B";
  bool failed = false;
  int nth = 1;
  for (; nth < 200; ++nth) {
    Prepare(body, "UseUNID=000000AB00000001000000CD00000002");
    context_->image_handling = kHandlingDefault;
    const DWORD before = context_->output_length;
    VelkoTestFailTrackedAllocation(nth);
    const STATUS status = ProcessXMLStream(context_, 0, 0, 0);
    const long requests = VelkoTestTrackedRequests();
    VelkoTestFailTrackedAllocation(0);
    const std::string out = Held().substr(before);
    if (status == NOERROR && requests < nth) {
      EXPECT_NE(out.find(whole), std::string::npos) << out;
      break;
    }
    if (status == NOERROR)
      continue; // the refused request was not the image's
    failed = true;
    EXPECT_EQ(status, VELKO_ERR_MEMORY);
    EXPECT_EQ(out.find("<img"), std::string::npos) << nth << ": " << out;
  }
  EXPECT_TRUE(failed);
  EXPECT_LT(nth, 200);
}

/* A second rendering with ImageOverwrite=No leaves the file as it is and
 * writes the same reference; by default the file is written again. */
/* The image renderer's debug setting is read at a run's first image and
 * holds for its others; the next run reads it again. Under it, every
 * suppressed image is logged. */
TEST_F(GraphicTest, TheDebugSettingHoldsForEveryImageOfARunAndIsReadAgainByTheNext) {
  Body body = Build(ImageScript("") + "BEGIN sig=CDGRAPHIC\nGRAPHIC\n"
                                      "IMAGEHEADER type=1 width=1 height=1 segments=1\n"
                                      "IMAGESEGMENT data=\"GIF\"\nEND sig=CDGRAPHIC\n");
  HostTestCaptureLog(true);
  const struct {
    const char *setting;
    size_t lines;
  } runs[] = {{"1", 2}, {nullptr, 0}, {"2", 2}};
  // One context for all runs, as a chunk that renders again keeps it.
  Prepare(body, "SuppressImages=Yes");
  context_->image_handling = kHandlingDefault;
  for (const auto &run : runs) {
    HostTestSetEnvironment("QuilEditDebug", run.setting);
    HostTestClearLog();
    context_->current_record = records_->records;
    const std::string out = Drive();
    EXPECT_EQ(out.find("<img"), std::string::npos);
    size_t suppressed = 0;
    for (const std::string &line : HostTestLogLines())
      suppressed += line == "Image suppressed due to SuppressImages setting" ? 1 : 0;
    EXPECT_EQ(suppressed, run.lines) << (run.setting != nullptr ? run.setting : "unset");
  }
  HostTestSetEnvironment("QuilEditDebug", nullptr);
  HostTestCaptureLog(false);
}

TEST_F(GraphicTest, ImageOverwriteNoKeepsAnExistingFile) {
  const std::string directory = (root_ / "images").string();
  const fs::path file = root_ / "images" / "Body_0_7c.gif";
  const Body body = Build(ImageScript(""));
  std::string first;
  for (const char *overwrite : {"No", "Yes"}) {
    SCOPED_TRACE(overwrite);
    std::ofstream(file, std::ios::binary) << "older";
    const std::string options = "ImageHandling=DISK ImageURLDirectory=/i ImageDirectory=" +
                                directory + " ImageOverwrite=" + overwrite;
    const std::string out = Render(body, options.c_str());
    EXPECT_NE(out.find("<img src=\"/i/Body_0_7c.gif\""), std::string::npos) << out;
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              std::string(overwrite) == "No" ? "older" : "GIF");
  }
}

/* Every host allocation refused in turn while an image is written as a
 * file and as an image resource: the run gives the whole output, or fails
 * with 263 holding the element whole or none of it. */
TEST_F(GraphicTest, EveryRefusedHostAllocationFailsTheImageOrLeavesItWhole) {
  const std::string directory = (root_ / "images").string();
  const Body body = Build(ImageScript("") + "TEXT text=\"B\"\n");
  for (const char *handling : {"DISK", "RESOURCE"}) {
    SCOPED_TRACE(handling);
    const std::string options = std::string("ImageHandling=") + handling +
                                " ImageURLDirectory=/i UseUNID=000000AB00000001000000CD00000002 "
                                "ImageDirectory=" + directory;
    const std::string whole = Render(body, options.c_str());
    const size_t img = whole.find("<img");
    ASSERT_NE(img, std::string::npos);
    const std::string element = whole.substr(img, whole.find('>', img) + 1 - img);
    int failures = 0;
    for (int nth = 1; nth < 500; ++nth) {
      Prepare(body, options.c_str());
      const DWORD before = context_->output_length;
      HostTestFailAllocation(nth);
      const STATUS status = ProcessXMLStream(context_, 0, 0, 0);
      HostTestFailAllocation(0);
      const std::string out = Held().substr(before);
      if (status == NOERROR && out == whole)
        continue;
      ++failures;
      EXPECT_EQ(status, VELKO_ERR_MEMORY) << nth;
      // A refusal inside the writer leaves the element whole (the writer's
      // status is the image's); one before the element leaves none of it.
      const size_t at = out.find("<img");
      if (at != std::string::npos) {
        EXPECT_EQ(out.substr(at), element) << nth;
      }
      if (HasFailure())
        break;
    }
    EXPECT_GT(failures, 0);
  }
}

/* A named resource written to disk: one whose image data is cut short
 * writes no file and the walk goes on after its element, as for an image
 * of the rich text; one whose file cannot be written (a directory has its
 * name) ends the walk after its element with 1028. */
TEST_F(GraphicTest, OnlyAResourceFileThatCannotBeWrittenFailsTheRender) {
  golden_testing::Header stored;
  stored.resources = {{"logo.gif", "GIF-logo"}};
  golden_testing::StoreResources(db_, stored);
  const Body cut = Build("GRAPHIC\nIMAGEHEADER type=1 segments=2\nIMAGESEGMENT data=\"GIF\"\n");
  ASSERT_NE(note_testing::StoreImageResource(db_, "cut.gif", cut), 0u);
  const struct {
    const char *name;
    bool taken; /* a directory stands at the file's path */
    STATUS status;
    const char *after; /* the output from the element on */
    const char *file;  /* the file's content; null when there is none */
  } cases[] = {
      {"logo.gif", false, NOERROR,
       "<img src=\"/i/logo.gif\" height=\"1\" width=\"1\" border=\"0\">B", "GIF-logo"},
      {"cut.gif", false, NOERROR,
       "<img src=\"/i/cut.gif\" height=\"1\" width=\"1\" border=\"0\">B", nullptr},
      {"logo.gif", true, 1028, "<img src=\"/i/logo.gif\" height=\"1\" width=\"1\" border=\"0\">",
       nullptr},
  };
  const std::string options =
      "ImageHandling=DISK ImageURLDirectory=/i ImageDirectory=" + (root_ / "images").string();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name + std::string(c.taken ? " over a directory" : ""));
    const fs::path file = root_ / "images" / c.name;
    fs::remove_all(file);
    if (c.taken)
      fs::create_directory(file);
    Prepare(Build(ImageScript(std::string("RESOURCE type=3 class=0x13 link=0000000000000000 "
                                          "name=\"") + c.name + "\"\n") +
                  "TEXT text=\"B\"\n"),
            options.c_str());
    const std::string out = Drive(0, c.status);
    const size_t img = out.find("<img");
    ASSERT_NE(img, std::string::npos) << out;
    EXPECT_EQ(out.substr(img), c.after);
    EXPECT_EQ(fs::is_regular_file(file), c.file != nullptr);
    if (c.file != nullptr) {
      std::ifstream in(file, std::ios::binary);
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), c.file);
    }
    fs::remove_all(file);
  }
}

/* The img elements of a whole document, in order. */
std::string ImgElements(const std::string &document) {
  std::string elements;
  for (size_t at = document.find("<img"); at != std::string::npos;
       at = document.find("<img", at + 1))
    elements += document.substr(at, document.find('>', at) + 1 - at);
  return elements;
}

/* Without ImageDirectory= images are written to the session's temporary
 * directory, made when missing. */
TEST_F(GraphicTest, TheTemporaryDirectoryTakesTheImagesWhenNoImageDirectoryIsGiven) {
  const fs::path temp = root_ / "temp";
  HostTestSetEnvironment("$TarnoTempDirectory", (temp.string() + "/").c_str());
  session_->InitializeTempDirectory();
  const std::string out = Render(Build(ImageScript("")), "ImageHandling=DISK ImageURLDirectory=/i");
  HostTestSetEnvironment("$TarnoTempDirectory", nullptr);
  EXPECT_EQ(ImgElements(out), "<img src=\"/i/Body_0_7c.gif\" height=\"1\" width=\"1\" border=\"0\">");
  std::ifstream in(temp / "Body_0_7c.gif", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "GIF");
}

/* The URL directory of a run without ImageURLDirectory= is the database's
 * path under the host's data directory: the data directory taken off its
 * front (without case) with the separator after it, "\\" as "/", anything
 * up to a "!!" dropped. It leads the server reference of an embedded image
 * and of a named image resource. */
TEST_F(GraphicTest, TheDatabasePathUnderTheDataDirectoryLeadsTheReferences) {
  const struct {
    const char *created; /* the database made */
    const char *connected; /* the path the item connects with */
    const char *relative;
  } cases[] = {
      {"mem:Data\\Sub\\pic", "mem:Data\\Sub\\pic", "Sub/pic"},
      {"mem:data/x", "mem:data/x", "x"},
      {"mem:database", "mem:database", "base"},
      {"mem:other", "mem:other", "mem:other"},
      {"mem:bang", "!!mem:bang", "mem:bang"},
  };
  HostTestSetDataDirectory("MEM:DATA");
  const Body body = Build(ImageScript("") + "BEGIN sig=CDGRAPHIC\nGRAPHIC\n"
                                            "IMAGEHEADER type=1 width=1 height=1\n"
                                            "RESOURCE type=3 class=0x13 link=0000000000000000 "
                                            "name=\"logo.gif\"\nEND sig=CDGRAPHIC\n");
  for (const auto &c : cases) {
    SCOPED_TRACE(c.connected);
    const std::string relative = c.relative;
    EXPECT_EQ(ImgElements(GenerateFrom(c.created, c.connected, body,
                                       "UseUNID=000000AB00000001000000CD00000002")),
              "<img src=\"/" + relative +
                  "/0/000000ab00000001000000cd00000002/Body/0.7c?OpenElement&amp;"
                  "FieldElemFormat=gif\" height=\"1\" width=\"1\" border=\"0\">"
                  "<img src=\"/" + relative +
                  "/logo.gif?OpenImageResource\" height=\"1\" width=\"1\" border=\"0\">");
  }
  HostTestSetDataDirectory(nullptr);
}

/* A database that is the data directory itself has an empty relative path:
 * a named resource is referenced by its name and the open-image-resource
 * text alone, by reference and when written to disk (the URL directory
 * being empty); InPlaceImageURLDirectory= does not lead a resource's
 * reference then. */
TEST_F(GraphicTest, ADatabaseAtTheDataDirectoryNamesResourcesAlone) {
  const std::string directory = (root_ / "images").string();
  HostTestSetDataDirectory("mem:top");
  golden_testing::Header stored;
  stored.resources = {{"logo.gif", "GIF-logo"}};
  const Body body = Build(ImageScript("RESOURCE type=3 class=0x13 link=0000000000000000 "
                                      "name=\"logo.gif\"\n"));
  const std::string element =
      "<img src=\"logo.gif?OpenImageResource\" height=\"1\" width=\"1\" border=\"0\">";
  DBHANDLE db = NULLHANDLE;
  ASSERT_EQ(note_testing::CreateDatabase("mem:top", &db), NOERROR);
  golden_testing::StoreResources(db, stored);
  for (const std::string &options :
       {std::string(""), std::string("InPlaceImageURLDirectory=/place"),
        "ImageHandling=DISK ImageDirectory=" + directory}) {
    SCOPED_TRACE(options);
    EXPECT_EQ(ImgElements(GenerateFrom(nullptr, "mem:top", body, options.c_str())), element);
  }
  std::ifstream in(root_ / "images" / "logo.gif", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "GIF-logo");
  NSFDbClose(db);
  HostTestSetDataDirectory(nullptr);
}

/* In a message whose attachments are anchors by name (mode 4), the
 * attachment graphic stands for the file, and the image inside the
 * attachment's hotspot is left out; without the graphic, or outside a
 * message, the image is written. */
TEST_F(GraphicTest, TheAttachmentGraphicReplacesTheIconInAMessage) {
  const Body body = Build(
      "PARAGRAPH\nPABDEF id=1\nPABREF id=1\nHOTSPOTBEGIN type=4 data=\"ATT1\\0a.txt\"\n"
      "BEGIN sig=CDGRAPHIC\nGRAPHIC\nIMAGEHEADER type=1 width=1 height=1 segments=1\n"
      "IMAGESEGMENT data=\"GIF\"\nEND sig=CDGRAPHIC\nHOTSPOTEND\n");
  // The graphic ends 0x8C bytes into the item: the type word and the
  // paragraph, definition, reference, hotspot, bracket and graphic records.
  const std::string icon = "<img src=cid:_1_00000000008C000000CD00000002 height=\"1\" "
                           "width=\"1\" border=\"0\">";
  const std::string graphic = "<img src=\"/icons/att.gif\" alt=\" a.txt \" border=\"0\">";
  const struct {
    const char *options;
    WORD mime;
    std::string out;
  } cases[] = {
      {"AttachmentGraphic=/icons/att.gif", 1,
       "<a name=\"a.txt\"></a>" + graphic + "&lt;attachment: a.txt&gt;"},
      {"", 1, "<a name=\"a.txt\"></a>&lt;attachment: a.txt&gt;" + icon},
      {"AttachmentGraphic=/icons/att.gif", 0, "<a name=\"a.txt\"></a>" + graphic + "a.txt" +
           "<img src=\"/mem:textrender/0/000000ab00000001000000cd00000002/Body/0.8c?OpenElement"
           "&amp;FieldElemFormat=gif\" height=\"1\" width=\"1\" border=\"0\">"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.options);
    const std::string options = std::string("AttachmentHandling=NAME "
                                            "UseUNID=000000AB00000001000000CD00000002 ") +
                                c.options;
    Prepare(body, options.c_str());
    context_->mime_mode = c.mime;
    context_->image_handling = kHandlingDefault;
    const std::string out = Drive();
    EXPECT_EQ(out.substr(out.find("<a ")), c.out);
  }
}

/* A resource named by a formula, with every host allocation refused in
 * turn: a run that cannot evaluate the formula for want of memory fails
 * with 263 and leaves none of the element; no run names the resource with
 * an empty text. */
TEST_F(GraphicTest, ARefusedAllocationInAResourceNameFormulaFailsTheImage) {
  const Body body = Build(ImageScript("RESOURCE type=3 class=0x13 flags=1 "
                                      "link=0000000000000000 name=\"FM\\x01\\x00\\x0F\\x00\\x00"
                                      "\\x00\\\"lo\\\" + \\\"go.gif\\\"\"\n") +
                          "TEXT text=\"B\"\n");
  const std::string element = "<img src=\"/mem:textrender/logo.gif?OpenImageResource\" "
                              "height=\"1\" width=\"1\" border=\"0\">";
  Prepare(body);
  context_->image_handling = kHandlingDefault;
  ASSERT_NE(Drive().find(element + "B"), std::string::npos);
  int failures = 0;
  for (int nth = 1; nth < 500; ++nth) {
    Prepare(body);
    context_->image_handling = kHandlingDefault;
    const DWORD before = context_->output_length;
    HostTestFailAllocation(nth);
    const STATUS status = ProcessXMLStream(context_, 0, 0, 0);
    HostTestFailAllocation(0);
    const std::string out = Held().substr(before);
    if (status == NOERROR && out.find(element + "B") != std::string::npos)
      continue;
    ++failures;
    EXPECT_EQ(status, VELKO_ERR_MEMORY) << nth;
    EXPECT_EQ(out.find("<img"), std::string::npos) << nth << ": " << out;
    if (HasFailure())
      break;
  }
  EXPECT_GT(failures, 0);
}

} // namespace
