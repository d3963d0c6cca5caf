// Images written as files and image resources, directories made for them,
// and attachments extracted by name: files hold the segments' bytes in
// order and nothing else; every refusal (no header, no segments, missing
// segments, an unwritable path) leaves no file; an image resource reads
// back unchanged, is kept or rewritten by the replace flag, and a failing
// store leaves the database as it was; a resource's file tells a missing
// resource from a file that cannot be written.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "cdbuild/cd_script.h"
#include "host/host_testing.h"
#include "host/nif.h"
#include "host/nsfnote.h"
#include "host/status.h"
#include "render/services.h"
#include "store/body.h"
#include "tests/support/test_fixture.h"

namespace {

namespace fs = std::filesystem;
using namespace engine_test;

/* Three segments, one of odd length, as a GIF's bytes would come. */
constexpr const char* kImage = "GRAPHIC destwidth=100 destheight=50\n"
                               "IMAGEHEADER type=1 width=10 height=5 segments=3\n"
                               "IMAGESEGMENT data=\"GIF89a\"\n"
                               "IMAGESEGMENT data=\"\\x00\\x01\\xff\"\n"
                               "IMAGESEGMENT data=\"end;\"\n";
const std::string kImageBytes("GIF89a\x00\x01\xff" "end;", 13);

constexpr const char* kOtherImage = "GRAPHIC\nIMAGEHEADER type=2 segments=1\n"
                                    "IMAGESEGMENT data=\"JFIF\"\n";

class ExportGraphicsTest : public EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    dir_ = fs::path(::testing::TempDir()) /
           ("velko_export_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    fs::remove_all(dir_);
    EngineTest::TearDown();
  }

  /* The script's records as the note's "Body", loaded; the first node. */
  record_storage* Load(const std::string& script) {
    cdbuild::Body body;
    cdbuild::ScriptError error;
    EXPECT_TRUE(cdbuild::BuildScript(script, &body, &error)) << error.line << ": " << error.message;
    NSFItemDelete(note_, "Body", 4);
    EXPECT_EQ(body.AppendItems(note_, "Body"), NOERROR);
    delete item_;
    Connect();
    item_->internal->input =
        StoreItemsAndRecords(item_, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
    return item_->internal->input->records;
  }

  /* Every path under the test's directory, relative to it. */
  std::set<std::string> Tree() const {
    std::set<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(dir_))
      paths.insert(fs::relative(entry.path(), dir_).string());
    return paths;
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  static std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  /* The image resource's image, written to a file and read back; empty
   * when it cannot be written. */
  std::string ResourceImage(const char* name) {
    const std::string file = Path("readback.gif");
    fs::remove(file);
    if (GenerateGraphicFileFromImageResource(session_, "", kDbPath, name, file.c_str()) != NOERROR)
      return "";
    return Contents(file);
  }

  fs::path dir_;
};

TEST_F(ExportGraphicsTest, DirectoriesAreMadeWithTheirParentsUnlessAFileStandsInTheWay) {
  std::ofstream(Path("file")) << "x";
  const struct {
    std::string path;
    BOOL made;
  } cases[] = {
      {Path("a/b/c"), TRUE},  // nested, every parent missing
      {Path("a/b"), TRUE},    // existing
      {Path("a/b/c/"), TRUE}, // a trailing "/"
      {Path("file/d"), FALSE}, // a file in the way of a parent
      {Path("file"), FALSE},   // a file of the name
      {"", FALSE},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MakeDirectoryIfNecessary(c.path.c_str()), c.made) << c.path;
  EXPECT_EQ(Tree(), (std::set<std::string>{"a", "a/b", "a/b/c", "file"}));
  EXPECT_EQ(MakeDirectoryIfNecessary(nullptr), FALSE);
}

TEST_F(ExportGraphicsTest, AnImageFileHoldsItsSegmentsInOrder) {
  record_storage* graphic = Load(std::string(kImage) + "TEXT text=\"after\"\n" + kOtherImage);
  // From the graphic record, as the renderer starts; from the header, as
  // ExportGraphic does.
  EXPECT_EQ(GenerateGraphicFileFromCDRecords(session_, Path("a.gif").c_str(), graphic), NOERROR);
  EXPECT_EQ(GenerateGraphicFileFromCDRecords(session_, Path("b.gif").c_str(), graphic->next),
            NOERROR);
  EXPECT_EQ(Contents(Path("a.gif")), kImageBytes);
  EXPECT_EQ(Contents(Path("b.gif")), kImageBytes);
  // An existing file is replaced.
  std::ofstream(Path("c.jpg")) << "an older and longer file";
  record_storage* other = graphic;
  for (int i = 0; i < 6; ++i)
    other = other->next;
  ASSERT_EQ(other->signature, SIG_CD_GRAPHIC);
  EXPECT_EQ(GenerateGraphicFileFromCDRecords(session_, Path("c.jpg").c_str(), other), NOERROR);
  EXPECT_EQ(Contents(Path("c.jpg")), "JFIF");
  EXPECT_EQ(Tree(), (std::set<std::string>{"a.gif", "b.gif", "c.jpg"}));
}

TEST_F(ExportGraphicsTest, AnImageThatCannotBeWrittenLeavesNoFile) {
  const struct {
    const char* why;
    std::string script;
    std::string file;
  } cases[] = {
      {"no header before a text run",
       "GRAPHIC\nTEXT text=\"x\"\nIMAGEHEADER segments=1\nIMAGESEGMENT data=\"GIF\"\n", "x.gif"},
      {"no header before an end bracket",
       "GRAPHIC\nEND sig=CDGRAPHIC\nIMAGEHEADER segments=1\nIMAGESEGMENT data=\"GIF\"\n", "x.gif"},
      {"no header before a hotspot end",
       "GRAPHIC\nHOTSPOTEND\nIMAGEHEADER segments=1\nIMAGESEGMENT data=\"GIF\"\n", "x.gif"},
      {"no header at all", "GRAPHIC\nPARAGRAPH\n", "x.gif"},
      {"a count of 0", "GRAPHIC\nIMAGEHEADER segments=0\nIMAGESEGMENT data=\"GIF\"\n", "x.gif"},
      {"a segment missing at the list end",
       "GRAPHIC\nIMAGEHEADER segments=3\nIMAGESEGMENT data=\"GIF\"\nIMAGESEGMENT data=\"89\"\n",
       "x.gif"},
      {"a segment missing before the next image",
       std::string("GRAPHIC\nIMAGEHEADER segments=2\nIMAGESEGMENT data=\"GIF\"\n") + kOtherImage,
       "x.gif"},
      {"a segment shorter than its size",
       "GRAPHIC\nIMAGEHEADER segments=1\nHEX 7c00 0d000000 0900 0900 474946 00\n", "x.gif"},
      {"a directory that does not exist", kImage, "none/x.gif"},
      {"a directory of the name", kImage, "dir"},
  };
  fs::create_directory(dir_ / "dir");
  for (const auto& c : cases) {
    record_storage* first = Load(c.script);
    ASSERT_NE(first, nullptr) << c.why;
    EXPECT_EQ(GenerateGraphicFileFromCDRecords(session_, Path(c.file).c_str(), first), 1028)
        << c.why;
    EXPECT_EQ(Tree(), std::set<std::string>{"dir"}) << c.why;
  }
  // A file that was there stays as it was.
  std::ofstream(Path("kept.gif")) << "kept";
  EXPECT_EQ(GenerateGraphicFileFromCDRecords(session_, Path("kept.gif").c_str(),
                                             Load("GRAPHIC\nIMAGEHEADER segments=0\n")),
            1028);
  EXPECT_EQ(Contents(Path("kept.gif")), "kept");
  EXPECT_EQ(GenerateGraphicFileFromCDRecords(session_, "", Load(kImage)), 1028);
}

TEST_F(ExportGraphicsTest, ImageResourcesAreMadeKeptOrRewritten) {
  record_storage* first = Load(kImage);
  EXPECT_EQ(GenerateImageResourceFromCDRecords(session_, "web/logo.gif", first, db_, 0), NOERROR);
  EXPECT_EQ(ResourceImage("web/logo.gif"), kImageBytes);
  NOTEID id = 0;
  ASSERT_EQ(NIFFindDesignNote(db_, "web/logo.gif", NOTE_CLASS_FORM, &id), NOERROR);
  NOTEHANDLE resource = NULLHANDLE;
  ASSERT_EQ(NSFNoteOpen(db_, id, 0, &resource), NOERROR);
  char text[64] = {};
  NSFItemGetText(resource, "$Flags", text, sizeof text);
  EXPECT_STREQ(text, "34CiQ");
  NSFItemGetText(resource, "$ImageNames", text, sizeof text);
  EXPECT_STREQ(text, "logo.gif");
  NSFNoteClose(resource);

  // Replace 0 keeps the image and says nothing; 1 rewrites it.
  record_storage* other = Load(kOtherImage);
  EXPECT_EQ(GenerateImageResourceFromCDRecords(session_, "web/logo.gif", other, db_, 0), NOERROR);
  EXPECT_EQ(ResourceImage("web/logo.gif"), kImageBytes);
  EXPECT_TRUE(note_testing::MessageTexts().empty());
  EXPECT_EQ(GenerateImageResourceFromCDRecords(session_, "web/logo.gif", other, db_, 1), NOERROR);
  EXPECT_EQ(ResourceImage("web/logo.gif"), "JFIF");
  NOTEID again = 0;
  EXPECT_EQ(NIFFindDesignNote(db_, "web/logo.gif", NOTE_CLASS_FORM, &again), NOERROR);
  EXPECT_EQ(again, id);

  // No whole image, no resource; no resource, no file.
  EXPECT_EQ(GenerateImageResourceFromCDRecords(session_, "none.gif",
                                               Load("GRAPHIC\nIMAGEHEADER segments=2\n"), db_, 1),
            1028);
  EXPECT_NE(NIFFindDesignNote(db_, "none.gif", NOTE_CLASS_FORM, &again), NOERROR);
  EXPECT_EQ(GenerateGraphicFileFromImageResource(session_, "", kDbPath, "none.gif",
                                                 Path("none.gif").c_str()),
            1028);
  EXPECT_FALSE(fs::exists(Path("none.gif")));
}

/* The resource's file: written; refused with 1028 for a resource that is
 * not there or holds no whole image (told as missing), and for a file that
 * cannot be written (not missing); GenerateGraphicFileFromImageResource
 * gives the same status each time. */
TEST_F(ExportGraphicsTest, AResourceFileTellsAMissingResourceFromAFileNotWritten) {
  ASSERT_EQ(GenerateImageResourceFromCDRecords(session_, "logo.gif", Load(kImage), db_, 0),
            NOERROR);
  cdbuild::Body cut;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript("GRAPHIC\nIMAGEHEADER segments=2\nIMAGESEGMENT data=\"GIF\"\n",
                                   &cut, &error));
  ASSERT_NE(note_testing::StoreImageResource(db_, "cut.gif", cut), 0u);
  fs::create_directory(dir_ / "dir");
  const struct {
    const char* name;
    const char* file;
    STATUS status;
    bool missing;
  } cases[] = {
      {"logo.gif", "logo.gif", NOERROR, false},
      {"none.gif", "none.gif", 1028, true}, // no resource of the name
      {"cut.gif", "cut.gif", 1028, true},   // a segment fewer than counted
      {"logo.gif", "dir", 1028, false},     // a directory of the file's name
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " to " + c.file);
    bool missing = !c.missing;
    EXPECT_EQ(WriteImageResourceFile(session_, "", kDbPath, c.name, Path(c.file).c_str(), &missing),
              c.status);
    EXPECT_EQ(missing, c.missing);
    fs::remove(Path("logo.gif"));
    EXPECT_EQ(GenerateGraphicFileFromImageResource(session_, "", kDbPath, c.name,
                                                   Path(c.file).c_str()),
              c.status);
    EXPECT_EQ(Contents(Path("logo.gif")), c.status == NOERROR ? kImageBytes : "");
    fs::remove(Path("logo.gif"));
    EXPECT_EQ(Tree(), std::set<std::string>{"dir"});
  }
}

/* Each write step of the store failing in turn: the resource is made (or
 * rewritten) whole or not at all. */
TEST_F(ExportGraphicsTest, AFailingStoreLeavesTheDatabaseAsItWas) {
  for (int replace = 0; replace <= 1; ++replace) {
    SCOPED_TRACE(replace);
    Restart();
    const std::string before = replace == 1 ? "JFIF" : "";
    if (replace == 1) {
      ASSERT_EQ(GenerateImageResourceFromCDRecords(session_, "pic.gif", Load(kOtherImage), db_, 0),
                NOERROR);
    }
    record_storage* first = Load(kImage);
    STATUS status = NOERROR;
    int nth = 1;
    for (;; ++nth) {
      HostTestFailStorageWrite(nth);
      status = GenerateImageResourceFromCDRecords(session_, "pic.gif", first, db_, replace);
      HostTestFailStorageWrite(0);
      if (status == NOERROR)
        break;
      EXPECT_EQ(ResourceImage("pic.gif"), before) << nth;
      ASSERT_LT(nth, 50);
    }
    EXPECT_GT(nth, 1);
    EXPECT_EQ(ResourceImage("pic.gif"), kImageBytes);
  }
}

TEST_F(ExportGraphicsTest, AttachmentsAreExtractedByTheirInternalName) {
  const std::string source = Path("source.bin");
  std::ofstream(source, std::ios::binary) << std::string("attached\0bytes", 14);
  ASSERT_EQ(NSFNoteAttachFile(note_, "$FILE", 5, source.c_str(), "Report.PDF", 0), NOERROR);
  fs::remove(source);
  EXPECT_EQ(ExtractAttachmentFile(note_, "report.pdf", Path("out.pdf").c_str()), NOERROR);
  EXPECT_EQ(Contents(Path("out.pdf")), std::string("attached\0bytes", 14));
  EXPECT_EQ(ExtractAttachmentFile(note_, "report.pd", Path("short.pdf").c_str()),
            ERR_ITEM_NOT_FOUND);
  EXPECT_EQ(ExtractAttachmentFile(note_, "report.pdf ", Path("long.pdf").c_str()),
            ERR_ITEM_NOT_FOUND);
  EXPECT_EQ(Tree(), std::set<std::string>{"out.pdf"});
}

} // namespace
