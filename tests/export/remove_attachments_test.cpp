// Removing the attachments and OLE objects a rich-text item refers to: file
// hotspots of type 4 (both signatures) and OLE object records over every
// piece of the item name their objects; names are cut to their last path
// element and "$FILE" names compare without regard to case; other
// hotspots, names past a record's end and objects of other items stay; a
// failing detach is logged and the rest still go.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "cdbuild/cd_builder.h"
#include "chunk/services.h"
#include "export/attachment_names.h"
#include "host/cdrecords.h"
#include "host/host_testing.h"
#include "host/nsfnote.h"
#include "host/osmem.h"
#include "host/status.h"
#include "tests/support/test_fixture.h"

namespace {

using cdbuild::Bytes;
using engine_test::EngineTest;

Bytes FileHotspot(const std::string& name, WORD type = 4, WORD signature = SIG_CD_HOTSPOTBEGIN) {
  return cdbuild::HotspotBegin({signature, type, 0, name + std::string(1, '\0')});
}

class RemoveAttachmentsTest : public EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    path_ = ::testing::TempDir() + "velko_remove_" + std::to_string(getpid());
    std::ofstream(path_, std::ios::binary) << "bytes";
    for (const char* name : {"a.bin", "b.bin", "keep.bin", "other.bin"})
      ASSERT_EQ(NSFNoteAttachFile(note_, "$FILE", 5, path_.c_str(), name, 0), NOERROR);
    for (const char* name : {"EXT1", "EXT2", "EXT3"})
      ASSERT_EQ(NSFNoteAttachOLE2Object(note_, path_.c_str(), name, TRUE, nullptr, "Body", nullptr,
                                        0, 0),
                NOERROR);
    HostTestCaptureLog(true);
  }
  void TearDown() override {
    std::remove(path_.c_str());
    EngineTest::TearDown();
  }

  std::string FileNames() { return note_testing::AttachedFileNames(note_); }

  std::string OleNames() {
    std::string names;
    const std::string out = path_ + ".out";
    for (const char* name : {"EXT1", "EXT2", "EXT3"})
      if (NSFNoteExtractOLE2Object(note_, name, out.c_str(), nullptr, TRUE, 0) == NOERROR)
        names += names.empty() ? name : std::string(" ") + name;
    std::remove(out.c_str());
    return names;
  }

  std::string path_;
};

TEST_F(RemoveAttachmentsTest, RemovesWhatTheItemsRecordsName) {
  AppendItem({FileHotspot("dir\\A.BIN"), cdbuild::Text("x"), cdbuild::HotspotEnd(),
              cdbuild::OleObject("EXT1", 4), FileHotspot("keep.bin", 1)});
  AppendItem({FileHotspot("../b.bin", 4, SIG_CD_V4HOTSPOTBEGIN), cdbuild::OleObject("EXT2", 40),
              FileHotspot("missing.bin"), FileHotspot(".."), cdbuild::OleObject("ext3", 4)});
  AppendItem({FileHotspot("other.bin"), cdbuild::OleObject("EXT3", 4)}, "Other");
  EXPECT_EQ(RemoveAttachmentsFromItem(Connect()), NOERROR);
  EXPECT_EQ(FileNames(), "keep.bin other.bin");
  EXPECT_EQ(OleNames(), "EXT2 EXT3") << "EXT2's name passes its record; OLE names keep their case";
  EXPECT_EQ(HostTestLogLines(), std::vector<std::string>{}) << "missing names are no failure";
}

TEST_F(RemoveAttachmentsTest, NamesOfRecordsAreCollectedOnce) {
  const Bytes hotspot = FileHotspot("c:/x/a.bin");
  const Bytes cut(hotspot.begin(), hotspot.begin() + 16); // the fixed part only
  const struct {
    Bytes record;
    std::vector<std::string> files;
    std::vector<std::string> objects;
  } cases[] = {
      {hotspot, {"a.bin"}, {}},
      {cut, {}, {}},
      {FileHotspot("a\x01.bin"), {}, {}},
      {FileHotspot("a.bin", 2), {}, {}},
      {cdbuild::OleObject("EXT9", 4), {}, {"EXT9"}},
      {cdbuild::OleObject("EXT9", 5), {}, {}},
      {cdbuild::OleObject("/EXT9", 5), {}, {"EXT9"}},
  };
  for (const auto& c : cases) {
    attachment_names names;
    const WORD signature = static_cast<WORD>(c.record[0] | c.record[1] << 8);
    for (int twice = 0; twice < 2; ++twice)
      CollectAttachmentName(c.record.data(), signature, static_cast<DWORD>(c.record.size()),
                            &names);
    EXPECT_EQ(names.files, c.files);
    EXPECT_EQ(names.ole_objects, c.objects);
  }
}

TEST_F(RemoveAttachmentsTest, AFailingDetachIsLoggedAndTheRestGo) {
  AppendItem({FileHotspot("a.bin"), FileHotspot("b.bin"), cdbuild::OleObject("EXT1", 4)});
  VelkoRTItem* item = Connect();
  HostTestFailStorageWrite(1); // the first detach
  EXPECT_EQ(RemoveAttachmentsFromItem(item), NOERROR);
  EXPECT_EQ(FileNames(), "a.bin keep.bin other.bin");
  EXPECT_EQ(OleNames(), "EXT2 EXT3");
  ASSERT_EQ(HostTestLogLines().size(), 1u);
  EXPECT_NE(HostTestLogLines()[0].find("TARNO: Could not remove the attachment 'a.bin'"),
            std::string::npos)
      << HostTestLogLines()[0];
}

} // namespace
