// The record actions beside Remove that the corpus cannot show: ExportGraphic
// (the refusal of a bitmap with its message and secondary status, and the
// file the first image is written to) and the GIF conversion of bitmaps, through
// AlterRichText on a stored body; and Remove's message when the session's
// list of removed paragraph definitions is full.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "cdbuild/cd_script.h"
#include "host/host_testing.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;

class RemovalTest : public EngineTest {
protected:
  /* The body of the script as the note's "Body"; its values as stored. */
  std::vector<Bytes> Body(const std::string& script) {
    cdbuild::Body body;
    cdbuild::ScriptError error;
    EXPECT_TRUE(cdbuild::BuildScript(script, &body, &error)) << error.line << ": " << error.message;
    EXPECT_EQ(body.AppendItems(note_, "Body"), NOERROR);
    return Values();
  }

  STATUS Alter(VelkoRTChunk* chunk, WORD action, const char* s1 = nullptr) {
    return chunk->AlterRichText(action, 0, 0, 0, 0, s1, nullptr, nullptr, nullptr);
  }
};

constexpr const char* kText = "PABDEF id=1\nPABREF id=1\nTEXT text=\"picture\"\n";

TEST_F(RemovalTest, ExportGraphicRefusesABitmapBeforeAnyImage) {
  const std::vector<Bytes> before =
      Body(std::string(kText) + "GRAPHIC\nBITMAPHEADER width=8 height=8\nBITMAPSEGMENT data=00\n"
                                "GRAPHIC\nIMAGEHEADER type=1\nIMAGESEGMENT data=4749\n");
  VelkoRTChunk* chunk = Chunk("Everything");
  EXPECT_EQ(Alter(chunk, ACTION_EXPORT_GRAPHIC, "out.gif"), VELKO_ERR_NO_INPUT);
  EXPECT_EQ(chunk->secondary_status, VELKO_ERR_BITMAP_EXPORT);
  EXPECT_EQ(note_testing::MessageTexts(),
            std::vector<std::string>{"TARNO: ExportGraphic method for bitmaps requires Notes "
                                     "6.0.2 or later, and appropriate Tarno version"});
  EXPECT_EQ(Values(), before);
}

/* The first image of the chunk is written to the file its name gives (in
 * the working directory, here a directory of the test's own); the first
 * scratch text is cleared then. An image that cannot be written (its
 * header counts no segments) gives the writer's 1028 and leaves the name
 * in the scratch text. A bitmap after the image is not looked at. */
TEST_F(RemovalTest, ExportGraphicWritesTheFirstImageUnderItsName) {
  struct Case {
    const char* s1;
    int imageType;
    int segments;
    STATUS status;
    const char* name;
  };
  const Case cases[] = {
      {"c:\\img\\out.JPG", 1, 1, NOERROR, "c:\\img\\out.JPG"}, // an image extension: as given
      {"shot.gif.bak", 2, 1, NOERROR, "shot.gif.bak"},
      {"pic", 1, 1, NOERROR, "pic.gif"}, // else the type's extension
      {"pic", 2, 1, NOERROR, "pic.jpg"},
      {"", 1, 1, NOERROR, "default.gif"}, // the item's import-export file without ".cd"
      {nullptr, 2, 1, NOERROR, "default.jpg"},
      {"none", 1, 0, 1028, "none.gif"},
  };
  const std::filesystem::path home = std::filesystem::current_path();
  const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) /
                                    ("velko_export_graphic_" + std::to_string(getpid()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    const std::vector<Bytes> before =
        Body(std::string(kText) + "GRAPHIC\nIMAGEHEADER type=" + std::to_string(c.imageType) +
             " segments=" + std::to_string(c.segments) +
             "\nIMAGESEGMENT data=4749\nGRAPHIC\nBITMAPHEADER width=8 height=8\n");
    VelkoRTChunk* chunk = Chunk("Everything");
    EXPECT_EQ(Alter(chunk, ACTION_EXPORT_GRAPHIC, c.s1), c.status);
    std::set<std::string> written;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
      written.insert(entry.path().filename().string());
    std::filesystem::current_path(home);
    if (c.status == NOERROR) {
      EXPECT_STREQ(session_->scratch_first, "");
      EXPECT_EQ(written, std::set<std::string>{c.name});
      std::ifstream in(dir / c.name, std::ios::binary);
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "GI");
    } else {
      EXPECT_STREQ(session_->scratch_first, c.name);
      EXPECT_TRUE(written.empty());
    }
    EXPECT_EQ(chunk->secondary_status, 0);
    EXPECT_EQ(Values(), before);
    item_ = nullptr; // deleted with the session
  }
  std::filesystem::remove_all(dir);
}

/* Bitmaps: one kept as a stored object (after a storage link) and an
 * image are left as they are (the rebuilt body gets its final empty text
 * run); another bitmap goes to the GIF conversion, which converts nothing
 * and succeeds, so that the bitmap's header and segments are dropped and
 * its graphic record stays. */
TEST_F(RemovalTest, BitmapConversionLeavesStoredBitmapsAndDropsConvertedOnes) {
  struct Case {
    const char* records;
    const char* kept;
  };
  const Case cases[] = {
      {"STORAGELINK type=1 ref=\"Graphic\"\nBITMAPHEADER width=8 height=8\n"
       "BITMAPSEGMENT data=00\n",
       "STORAGELINK type=1 ref=\"Graphic\"\nBITMAPHEADER width=8 height=8\n"
       "BITMAPSEGMENT data=00\n"},
      {"GRAPHIC\nBITMAPHEADER width=8 height=8\nBITMAPSEGMENT data=00\n", "GRAPHIC\n"},
      {"GRAPHIC\nIMAGEHEADER type=1\nIMAGESEGMENT data=4749\n",
       "GRAPHIC\nIMAGEHEADER type=1\nIMAGESEGMENT data=4749\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.records);
    TearDown();
    SetUp();
    Body(std::string(kText) + c.records);
    EXPECT_EQ(Alter(Chunk("Everything"), ACTION_CONVERT_BITMAPS), NOERROR);
    cdbuild::Body expected;
    cdbuild::ScriptError error;
    ASSERT_TRUE(cdbuild::BuildScript(std::string(kText) + c.kept + "TEXT text=\"\"\n", &expected,
                                     &error));
    EXPECT_EQ(Values(), std::vector<Bytes>{note_testing::Value(expected.RecordBytes())});
    item_ = nullptr;
  }
}

/* Past 1000 removed definitions the host is told, once, and the list
 * grows: the reference the removal leaves still has its definition, the
 * 1001st saved. */
TEST_F(RemovalTest, RemovedDefinitionsPastAThousandAreKeptAndTheHostIsTold) {
  std::string script = "PABDEF id=1\nPABREF id=1\nTEXT text=\"keep\"\nPARAGRAPH\n";
  for (int id = 2; id <= 1003; ++id)
    script += "PABDEF id=" + std::to_string(id) + " left=" + std::to_string(id) + "\n";
  script += "PABREF id=1002\nTEXT text=\"gone\"\nPARAGRAPH\nPABREF id=1\nTEXT text=\"end\"\n";
  Body(script);
  VelkoRTChunk* chunk = Chunk("Paragraph 2");
  item_->AutoSave = 1;
  EXPECT_EQ(chunk->Remove(), NOERROR);
  EXPECT_EQ(note_testing::MessageTexts(),
            std::vector<std::string>{"TARNO: Unable to save additional deleted PAB definitions."});
  cdbuild::Body expected;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript("PABDEF id=1\nPABREF id=1\nTEXT text=\"keep\"\n"
                                   "PABDEF id=1002 left=1002\nPABREF id=1002\nPARAGRAPH\n"
                                   "PABREF id=1\nTEXT text=\"end\"\n",
                                   &expected, &error));
  EXPECT_EQ(Values(), std::vector<Bytes>{note_testing::Value(expected.RecordBytes())});
}

} // namespace
