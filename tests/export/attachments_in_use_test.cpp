// Attachments of removed content go only once nothing names them: a
// Remove notes the files its records name, and once the new body is
// committed those that neither the body nor another rich-text item names
// leave the note. Removing one of two file hotspots keeps the other's
// file; a Remove Inside a file hotspot keeps the hotspot and its file; a
// file another item names stays; with cached records the file stays until
// the body is committed; and a Remove that fails at any allocation keeps
// every file and the body.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "cdbuild/cd_builder.h"
#include "host/host_testing.h"
#include "host/nsfnote.h"
#include "host/osmem.h"
#include "store/tracked_memory_testing.h"
#include "tests/support/test_fixture.h"

namespace {

using engine_test::Bytes;
using engine_test::PabDef;
using engine_test::PabRef;
using engine_test::Text;

Bytes FileHotspot(const std::string& name) {
  return cdbuild::HotspotBegin({SIG_CD_HOTSPOTBEGIN, 4, 0, name + '\0' + name + '\0'});
}

class AttachmentsInUseTest : public engine_test::EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    path_ = ::testing::TempDir() + "velko_in_use_" + std::to_string(getpid());
    std::ofstream(path_, std::ios::binary) << "bytes";
  }
  void TearDown() override {
    VelkoTestFailTrackedAllocation(0);
    HostTestFailAllocation(0);
    std::remove(path_.c_str());
    EngineTest::TearDown();
  }

  /* A note with a.bin, b.bin and c.bin attached, a body with file hotspots
   * of a.bin and b.bin, and, when given, an item "Other" naming a file. */
  void Build(const char* otherNames) {
    Restart();
    HostTestCaptureLog(true);
    for (const char* name : {"a.bin", "b.bin", "c.bin"})
      ASSERT_EQ(NSFNoteAttachFile(note_, "$FILE", 5, path_.c_str(), name, 0), NOERROR);
    AppendItem({PabDef(1), PabRef(1), FileHotspot("a.bin"), Text("A"), cdbuild::HotspotEnd(),
                Text(" and "), FileHotspot("b.bin"), Text("B"), cdbuild::HotspotEnd()});
    if (otherNames != nullptr)
      AppendItem({FileHotspot(otherNames), cdbuild::HotspotEnd()}, "Other");
  }

  std::string FileNames() { return note_testing::AttachedFileNames(note_); }

  std::string path_;
};

TEST_F(AttachmentsInUseTest, OnlyFilesNothingNamesAfterTheRemoveLeave) {
  struct Case {
    const char* name;
    const char* definition;
    const char* other; /* what the item "Other" names, or null */
    const char* files;
  };
  const Case cases[] = {
      {"the first of two file hotspots", "File 1", nullptr, "b.bin c.bin"},
      {"the second of two file hotspots", "File 2", nullptr, "a.bin c.bin"},
      {"everything", "Everything", nullptr, "c.bin"},
      {"inside a file hotspot", "Inside File 1", nullptr, "a.bin b.bin c.bin"},
      {"a file another item names", "File 1", "A.BIN", "a.bin b.bin c.bin"},
      {"another item naming another file", "File 1", "c.bin", "b.bin c.bin"},
      {"text beside the hotspots", "Text 2", nullptr, "a.bin b.bin c.bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Build(c.other);
    VelkoRTChunk* chunk = Chunk(c.definition);
    ASSERT_NE(chunk, nullptr);
    EXPECT_EQ(chunk->Remove(), NOERROR);
    EXPECT_EQ(FileNames(), c.files);
    EXPECT_EQ(HostTestLogLines(), std::vector<std::string>{});
  }
}

TEST_F(AttachmentsInUseTest, WithCachedRecordsTheFileLeavesWhenTheBodyIsCommitted) {
  Build(nullptr);
  VelkoRTChunk* chunk = Chunk("File 1");
  item_->CacheRecords = 1;
  EXPECT_EQ(chunk->Remove(), NOERROR);
  EXPECT_EQ(FileNames(), "a.bin b.bin c.bin");
  EXPECT_EQ(item_->Commit(), NOERROR);
  EXPECT_EQ(FileNames(), "b.bin c.bin");
}

TEST_F(AttachmentsInUseTest, ARemoveThatFailsKeepsEveryFileAndTheBody) {
  const struct {
    const char* name;
    void (*fail)(int);
  } routes[] = {
      {"tracked memory", VelkoTestFailTrackedAllocation},
      {"host memory", HostTestFailAllocation},
  };
  for (const auto& route : routes) {
    SCOPED_TRACE(route.name);
    int failures = 0;
    for (int nth = 1; nth < 400; ++nth) {
      Build(nullptr);
      const std::vector<Bytes> before = Values();
      VelkoRTChunk* chunk = Chunk("File 1");
      route.fail(nth);
      const STATUS status = chunk->Remove();
      route.fail(0);
      if (status == NOERROR) {
        EXPECT_NE(Values(), before) << nth;
        break;
      }
      ++failures;
      EXPECT_EQ(FileNames(), "a.bin b.bin c.bin") << nth;
      EXPECT_EQ(Values(), before) << nth;
    }
    EXPECT_GT(failures, 0);
  }
}

} // namespace
