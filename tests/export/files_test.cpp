// Attachment names and sizes read from a note's "$FILE" items: attachments
// made by the host (NSFNoteAttachFile) are found by name without regard to
// case, give their recorded file size or their object's size, and the name
// the note holds; a missing name is the item-not-found status; "$FILE"
// items that hold no sound file object are passed over.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

#include "engine/services.h"
#include "host/cdrecords.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osenv.h"
#include "host/status.h"
#include "store/services.h"
#include "tests/support/note_fixture.h"

namespace {

class AttachmentFilesTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    ASSERT_EQ(note_testing::CreateDatabase("mem:attachments", &db_), NOERROR);
    ASSERT_EQ(NSFNoteCreate(db_, &note_), NOERROR);
  }
  void TearDown() override {
    NSFNoteClose(note_);
    NSFDbClose(db_);
    HostTestReset();
  }

  /* Attaches a file of `size` bytes under the name. */
  void Attach(const std::string& name, size_t size) {
    const std::string path = ::testing::TempDir() + "velko_files_" + std::to_string(getpid());
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
    ASSERT_EQ(NSFNoteAttachFile(note_, "$FILE", 5, path.c_str(), name.c_str(), 0), NOERROR);
    std::remove(path.c_str());
  }

  /* A "$FILE" object item written by hand: the FILEOBJECT, then `name`,
   * with the name length given (which may pass the value's end). */
  void AppendFileItem(DWORD object, DWORD fileSize, const std::string& name, WORD nameLength) {
    FILEOBJECT file = {};
    file.Header.ObjectType = OBJECT_FILE;
    file.Header.RRV = object;
    file.FileNameLength = nameLength;
    file.FileSize = fileSize;
    std::string value(reinterpret_cast<const char*>(&file), sizeof file);
    value += name;
    ASSERT_EQ(NSFItemAppend(note_, 0, "$FILE", 5, TYPE_OBJECT, value.data(),
                            static_cast<DWORD>(value.size())),
              NOERROR);
  }

  DBHANDLE db_ = NULLHANDLE;
  NOTEHANDLE note_ = NULLHANDLE;
};

TEST_F(AttachmentFilesTest, SizesByNameFromTheItemOrTheObject) {
  const struct {
    const char* name;
    DWORD fromObject;
    STATUS status;
    DWORD size;
  } cases[] = {
      {"report.txt", 0, NOERROR, 30},    {"REPORT.TXT", 1, NOERROR, 30},
      {"empty.BIN", 0, NOERROR, 0},
      {"report.txt2", 0, NOERROR, 5},    {"copy.txt", 0, NOERROR, 99},
      {"copy.txt", 1, NOERROR, 30},      {"report.tx", 0, ERR_ITEM_NOT_FOUND, 0},
      {"report.txt ", 0, ERR_ITEM_NOT_FOUND, 0}, {"", 0, ERR_ITEM_NOT_FOUND, 0},
  };
  DWORD size = 7;
  EXPECT_EQ(FileSizeFromInternal(db_, note_, "report.txt", &size, 0), ERR_ITEM_NOT_FOUND);
  EXPECT_EQ(size, 0u);
  ASSERT_EQ(NSFItemAppend(note_, 0, "$FILE", 5, TYPE_TEXT, "report.txt", 10), NOERROR);
  AppendFileItem(2, 77, "report.txt", 200); // a name running past the value
  Attach("report.txt", 30);
  Attach("Empty.bin", 0);
  Attach("report.txt2", 5);
  // Objects are numbered from 1 in the order made: report.txt's is 1. An
  // item naming it records another size.
  AppendFileItem(1, 99, "copy.txt", 8);
  for (const auto& c : cases) {
    size = 12345;
    EXPECT_EQ(FileSizeFromInternal(db_, note_, c.name, &size, c.fromObject), c.status)
        << c.name << " " << c.fromObject;
    EXPECT_EQ(size, c.size) << c.name << " " << c.fromObject;
  }
  EXPECT_EQ(FileSizeFromInternal(db_, note_, "report.txt", nullptr, 0), NOERROR);
  // Without a database handle the object is looked up in the note's.
  EXPECT_EQ(FileSizeFromInternal(NULLHANDLE, note_, "copy.txt", &size, 1), NOERROR);
  EXPECT_EQ(size, 30u);
}

TEST_F(AttachmentFilesTest, ExternalNamesAreTheNamesTheNoteHolds) {
  const struct {
    const char* asked;
    STATUS status;
    const char* name;
  } cases[] = {
      {"graphic", NOERROR, "Graphic"},
      {"photo.jpg", NOERROR, "Photo.JPG"},
      {"Graphic0", ERR_ITEM_NOT_FOUND, ""},
      {"Graphi", ERR_ITEM_NOT_FOUND, ""},
  };
  char name[MAXPATH] = "old";
  EXPECT_EQ(ExternalFileNameFromInternal(note_, "Graphic", name), ERR_ITEM_NOT_FOUND);
  EXPECT_STREQ(name, "");
  Attach("Graphic", 4);
  Attach("Photo.JPG", 4);
  for (const auto& c : cases) {
    std::memset(name, '?', sizeof name);
    EXPECT_EQ(ExternalFileNameFromInternal(note_, c.asked, name), c.status) << c.asked;
    EXPECT_STREQ(name, c.name) << c.asked;
  }
}

} // namespace
