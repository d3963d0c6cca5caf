// Carrying a copied record's file attachment or OLE object from one note to
// another: names cut to their last path element, unsafe or unmatched names
// attaching nothing, the carried bytes and information, and the temporary
// file removed afterwards.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "chunk/copy_objects.h"
#include "host/cdrecords.h"
#include "host/nsfnote.h"
#include "host/osmem.h"
#include "host/status.h"
#include "store/session.h"
#include "tests/support/test_fixture.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

using engine_test::EngineTest;

class CopyObjectsTest : public EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(NSFNoteCreate(db_, &target_), NOERROR);
    work_ = std::filesystem::temp_directory_path() / "velko-copy-objects-XXXXXX";
    std::string pattern = work_.string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    work_ = pattern;
    std::filesystem::create_directory(work_ / "temp");
    const std::string temp = (work_ / "temp").string() + "/";
    std::memcpy(session_->internal->temp_directory, temp.c_str(), temp.size() + 1);
    session_->internal->temp_directory_len = static_cast<WORD>(temp.size());
    source_ = (work_ / "report.bin").string();
    std::ofstream(source_, std::ios::binary) << std::string("report\0bytes", 12);
  }
  void TearDown() override {
    NSFNoteClose(target_);
    std::filesystem::remove_all(work_);
    EngineTest::TearDown();
  }

  bool TemporaryDirectoryIsEmpty() { return std::filesystem::is_empty(work_ / "temp"); }

  // The names of the target's "$FILE" attachments, "|"-joined.
  std::string TargetFileNames() {
    std::string names;
    for (const note_testing::attachment& attachment : note_testing::Attachments(target_))
      names += (names.empty() ? "" : "|") + attachment.name;
    return names;
  }

  NOTEHANDLE target_ = NULLHANDLE;
  std::filesystem::path work_;
  std::string source_;
};

TEST_F(CopyObjectsTest, AttachmentByItsLastPathElementIgnoringCase) {
  ASSERT_EQ(NSFNoteAttachFile(note_, "$FILE", 5, source_.c_str(), "Report.bin", 0), NOERROR);
  struct Case {
    std::string name;
    STATUS status;
    const char* names; // of the target's attachments afterwards
  } const cases[] = {
      {"Report.bin", NOERROR, "Report.bin"},
      {"C:\\docs\\REPORT.BIN", NOERROR, "REPORT.BIN"},
      {"../../report.bin", NOERROR, "report.bin"},
      {"", ERR_ITEM_NOT_FOUND, ""},
      {".", ERR_ITEM_NOT_FOUND, ""},
      {"..", ERR_ITEM_NOT_FOUND, ""},
      {"dir/", ERR_ITEM_NOT_FOUND, ""},
      {"rep\x01ort.bin", ERR_ITEM_NOT_FOUND, ""},
      {"report.bi", ERR_ITEM_NOT_FOUND, ""},
      {"other.bin", ERR_ITEM_NOT_FOUND, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NSFItemDelete(target_, "$FILE", 5);
    EXPECT_EQ(CopyAttachmentBetweenNotes(session_, note_, target_, c.name.data(),
                                         static_cast<WORD>(c.name.size())),
              c.status);
    EXPECT_EQ(TargetFileNames(), c.names);
    EXPECT_TRUE(TemporaryDirectoryIsEmpty());
  }
  BLOCKID item;
  ASSERT_EQ(NSFItemInfo(target_, "$FILE", 5, &item, nullptr, nullptr, nullptr), ERR_ITEM_NOT_FOUND);
  ASSERT_EQ(CopyAttachmentBetweenNotes(session_, note_, target_, "report.bin", 10), NOERROR);
  ASSERT_EQ(NSFItemInfo(target_, "$FILE", 5, &item, nullptr, nullptr, nullptr), NOERROR);
  const std::string out = (work_ / "out.bin").string();
  ASSERT_EQ(NSFNoteExtractFile(target_, item, out.c_str(), nullptr), NOERROR);
  EXPECT_EQ(ReadFile(out), std::string("report\0bytes", 12));
}

TEST_F(CopyObjectsTest, AFailingAttachLeavesNoTemporaryFile) {
  ASSERT_EQ(NSFNoteAttachFile(note_, "$FILE", 5, source_.c_str(), "report.bin", 0), NOERROR);
  EXPECT_EQ(CopyAttachmentBetweenNotes(session_, note_, NOTEHANDLE{0x7777}, "report.bin", 10),
            ERR_HOST_BAD_HANDLE);
  EXPECT_TRUE(TemporaryDirectoryIsEmpty());
  EXPECT_EQ(CopyOleObjectBetweenNotes(session_, note_, NOTEHANDLE{0x7777}, "report.bin", 10,
                                      "Body"),
            ERR_ITEM_NOT_FOUND);
}

TEST_F(CopyObjectsTest, OleObjectWithItsInformationUnderTheTargetItem) {
  const OLE_GUID objectClass{0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
  ASSERT_EQ(NSFNoteAttachOLE2Object(note_, source_.c_str(), "EXT42", TRUE, "Worksheet", "Body",
                                    &objectClass, 6, 0x7),
            NOERROR);
  for (const char* refused : {"ext42", "EXT4", "", "..", "EXT\x1f"}) {
    SCOPED_TRACE(refused);
    EXPECT_EQ(CopyOleObjectBetweenNotes(session_, note_, target_, refused,
                                        static_cast<WORD>(std::strlen(refused)), "Copy"),
              ERR_ITEM_NOT_FOUND);
  }
  BLOCKID item;
  EXPECT_EQ(NSFItemInfo(target_, "$OLEOBJINFO", 11, &item, nullptr, nullptr, nullptr),
            ERR_ITEM_NOT_FOUND);

  ASSERT_EQ(CopyOleObjectBetweenNotes(session_, note_, target_, "\\objects\\EXT42", 14, "Copy"),
            NOERROR);
  EXPECT_TRUE(TemporaryDirectoryIsEmpty());
  BLOCKID value;
  DWORD length = 0;
  ASSERT_EQ(NSFItemInfo(target_, "$OLEOBJINFO", 11, &item, nullptr, &value, &length), NOERROR);
  ASSERT_EQ(length, 2u + 48 + 5 + 9 + 4);
  const auto* bytes = static_cast<const BYTE*>(OSLockBlock(value)) + 2;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes) + 48, 18), "EXT42WorksheetCopy");
  EXPECT_EQ(bytes[12], 0x44);
  EXPECT_EQ(bytes[27], 8);
  EXPECT_EQ(bytes[30], 6) << "display format";
  EXPECT_EQ(bytes[32], 0x5) << "flags 0x1 and 0x4 only";
  OSUnlockBlock(value);
  const std::string out = (work_ / "ole.out").string();
  ASSERT_EQ(NSFNoteExtractOLE2Object(target_, "EXT42", out.c_str(), nullptr, TRUE, 0), NOERROR);
  EXPECT_EQ(ReadFile(out), std::string("report\0bytes", 12));

  // A second copy finds the object in the target and keeps it.
  EXPECT_EQ(CopyOleObjectBetweenNotes(session_, note_, target_, "EXT42", 5, "Other"), NOERROR);
  EXPECT_TRUE(TemporaryDirectoryIsEmpty());
  ASSERT_EQ(NSFItemInfo(target_, "$OLEOBJINFO", 11, &item, nullptr, &value, &length), NOERROR);
  EXPECT_EQ(NSFItemInfoNext(target_, item, "$OLEOBJINFO", 11, &item, nullptr, nullptr, nullptr),
            ERR_ITEM_NOT_FOUND);
  EXPECT_EQ(std::string(static_cast<const char*>(OSLockBlock(value)) + 2 + 48 + 14, 4), "Copy");
  OSUnlockBlock(value);
}

} // namespace
