// Database objects, file attachments and design notes of the stand-in:
// object reads and writes, the "$FILE" item layout, attach/extract round
// trips, finding design notes by name and alias, and the design
// collection.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "host/cdrecords.h"
#include "host/nif.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osmem.h"
#include "host/status.h"
#include "host/textlist.h"
#include "tests/support/test_fixture.h"
#include "tests/support/note_fixture.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class StoreFixture : public host_test::HostFixture {
protected:
  void SetUp() override {
    HostFixture::SetUp();
    directory_ = file_testing::MakeDataDirectory("velko-attach");
    ASSERT_FALSE(directory_.empty());
    ASSERT_EQ(note_testing::CreateDatabase("objects.nsf", &db_), NOERROR);
  }
  void TearDown() override {
    EXPECT_EQ(NSFDbClose(db_), NOERROR);
    HostFixture::TearDown();
    std::filesystem::remove_all(directory_);
  }

  // "|"-joined columns of the first row of the raw database file.
  std::string Query(const char* sql) {
    sqlite3* raw = nullptr;
    sqlite3_open_v2((directory_ + "/objects.nsf").c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    std::string text = file_testing::FirstRow(raw, sql);
    sqlite3_close(raw);
    return text;
  }

  std::string ReadObject(DWORD id, DWORD offset, DWORD length, STATUS* status) {
    DHANDLE buffer = NULLHANDLE;
    *status = NSFDbReadObject(db_, id, offset, length, &buffer);
    if (*status != NOERROR)
      return "";
    std::string bytes(static_cast<const char*>(OSLockObject(buffer)), OSMemGetSize(buffer));
    OSUnlockObject(buffer);
    EXPECT_EQ(OSMemFree(buffer), NOERROR);
    return bytes;
  }

  static DHANDLE Block(const std::string& bytes) {
    DHANDLE buffer = NULLHANDLE;
    EXPECT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, static_cast<DWORD>(bytes.size()), &buffer), NOERROR);
    std::memcpy(OSLockObject(buffer), bytes.data(), bytes.size());
    OSUnlockObject(buffer);
    return buffer;
  }

  std::string directory_;
  DBHANDLE db_ = NULLHANDLE;
};

using ObjectTest = StoreFixture;

TEST_F(ObjectTest, AllocateWriteReadAndFree) {
  DWORD first = 0;
  DWORD second = 0;
  ASSERT_EQ(NSFDbAllocObject(db_, 10, OBJECT_FILE, 3, &first), NOERROR);
  ASSERT_EQ(NSFDbAllocObject(db_, 0, OBJECT_UNKNOWN, 0, &second), NOERROR);
  EXPECT_EQ(first, 1u);
  EXPECT_EQ(second, 2u);
  DWORD size = 0;
  WORD objectClass = 0;
  WORD privileges = 0;
  ASSERT_EQ(NSFDbGetObjectSize(db_, first, OBJECT_FILE, &size, &objectClass, &privileges), NOERROR);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(objectClass, OBJECT_FILE);
  EXPECT_EQ(privileges, 3);

  STATUS status = 0;
  EXPECT_EQ(ReadObject(first, 0, 0xFFFFFFFF, &status), std::string(10, '\0'));
  const DHANDLE buffer = Block("WXYZ");
  ASSERT_EQ(NSFDbWriteObject(db_, first, buffer, 3, 4), NOERROR);
  EXPECT_EQ(ReadObject(first, 0, 0xFFFFFFFF, &status), std::string("\0\0\0WXYZ\0\0\0", 10));
  EXPECT_EQ(ReadObject(first, 4, 2, &status), "XY");
  EXPECT_EQ(ReadObject(first, 10, 0xFFFFFFFF, &status), "");
  EXPECT_EQ(status, NOERROR) << "reading nothing at the end";

  const struct {
    DWORD offset;
    DWORD length;
  } bad[] = {{7, 4}, {11, 0}, {0xFFFFFFFF, 4}};
  for (const auto& b : bad) {
    EXPECT_EQ(NSFDbWriteObject(db_, first, buffer, b.offset, b.length), ERR_HOST_BAD_ARGUMENT)
        << b.offset;
    ReadObject(first, b.offset, b.length, &status);
    EXPECT_EQ(status, ERR_HOST_BAD_ARGUMENT) << b.offset;
  }
  EXPECT_EQ(NSFDbWriteObject(db_, first, buffer, 0, 5), ERR_HOST_BAD_ARGUMENT)
      << "more bytes than the buffer holds";
  EXPECT_EQ(OSMemFree(buffer), NOERROR);
  EXPECT_EQ(NSFDbWriteObject(db_, first, buffer, 0, 1), ERR_HOST_BAD_HANDLE);

  ASSERT_EQ(NSFDbFreeObject(db_, first), NOERROR);
  EXPECT_EQ(NSFDbFreeObject(db_, first), ERR_HOST_OBJECT_NOT_FOUND);
  ReadObject(first, 0, 1, &status);
  EXPECT_EQ(status, ERR_HOST_OBJECT_NOT_FOUND);
  EXPECT_EQ(NSFDbGetObjectSize(db_, first, 0, &size, nullptr, nullptr), ERR_HOST_OBJECT_NOT_FOUND);
  DWORD third = 0;
  ASSERT_EQ(NSFDbAllocObject(db_, 1, OBJECT_FILE, 0, &third), NOERROR);
  EXPECT_EQ(third, 3u) << "object IDs are not reused";
}

TEST_F(ObjectTest, FailedObjectWriteLeavesTheBytes) {
  DWORD id = 0;
  ASSERT_EQ(NSFDbAllocObject(db_, 4, OBJECT_FILE, 0, &id), NOERROR);
  const DHANDLE buffer = Block("abcd");
  for (int nth = 1; nth <= 2; ++nth) { // the blob write, then the commit
    HostTestFailStorageWrite(nth);
    EXPECT_EQ(NSFDbWriteObject(db_, id, buffer, 0, 4), ERR_HOST_STORAGE) << nth;
    STATUS status = 0;
    EXPECT_EQ(ReadObject(id, 0, 4, &status), std::string(4, '\0')) << nth;
  }
  HostTestFailStorageWrite(0);
  ASSERT_EQ(NSFDbWriteObject(db_, id, buffer, 0, 4), NOERROR);
  EXPECT_EQ(OSMemFree(buffer), NOERROR);

  HostTestFailStorageWrite(2); // the insert after the counter
  DWORD refused = 0;
  EXPECT_EQ(NSFDbAllocObject(db_, 4, OBJECT_FILE, 0, &refused), ERR_HOST_STORAGE);
  EXPECT_EQ(refused, 0u);
  ASSERT_EQ(NSFDbAllocObject(db_, 4, OBJECT_FILE, 0, &refused), NOERROR);
  EXPECT_EQ(refused, id + 1) << "the rolled-back allocation used no ID";
}

class AttachmentTest : public StoreFixture {
protected:
  void SetUp() override {
    StoreFixture::SetUp();
    ASSERT_EQ(NSFNoteCreate(db_, &note_), NOERROR);
    for (int i = 0; i < 100000; ++i)
      content_.push_back(static_cast<char>(i * 7 % 256));
    source_ = directory_ + "/source.bin";
    WriteFile(source_, content_);
  }
  void TearDown() override {
    EXPECT_EQ(NSFNoteClose(note_), NOERROR);
    StoreFixture::TearDown();
  }

  STATUS Attach(const char* original) {
    return NSFNoteAttachFile(note_, "$FILE", 5, source_.c_str(), original, 0);
  }
  FILEOBJECT FileObject(BLOCKID value) {
    FILEOBJECT file;
    std::memcpy(&file, static_cast<const char*>(OSLockBlock(value)) + 2, sizeof file);
    OSUnlockBlock(value);
    return file;
  }

  NOTEHANDLE note_ = NULLHANDLE;
  std::string content_;
  std::string source_;
};

TEST_F(AttachmentTest, FileItemLayoutAndRoundTripThroughStorage) {
  ASSERT_EQ(Attach("C:\\docs\\report.bin"), NOERROR);
  BLOCKID item;
  BLOCKID value;
  WORD type = 0;
  DWORD length = 0;
  ASSERT_EQ(NSFItemInfo(note_, "$FILE", 5, &item, &type, &value, &length), NOERROR);
  EXPECT_EQ(type, TYPE_OBJECT);
  ASSERT_EQ(length, 2 + sizeof(FILEOBJECT) + 10);
  const FILEOBJECT file = FileObject(value);
  EXPECT_EQ(file.Header.ObjectType, OBJECT_FILE);
  EXPECT_EQ(file.Header.RRV, 1u);
  EXPECT_EQ(file.FileNameLength, 10);
  EXPECT_EQ(file.FileSize, 100000u);
  EXPECT_EQ(file.CompressionType, 0);
  EXPECT_NE(file.FileModified.Innards[1], 0u);
  EXPECT_EQ(std::string(static_cast<const char*>(OSLockBlock(value)) + 2 + sizeof file, 10),
            "report.bin");
  OSUnlockBlock(value);
  WriteFile(source_, "small");
  ASSERT_EQ(Attach(nullptr), NOERROR) << "without an original name the path names the file";
  ASSERT_EQ(NSFNoteUpdate(note_, 0), NOERROR);
  EXPECT_EQ(Query("SELECT name, type, flags, length(value) FROM items"), "$FILE|3|7|52");
  EXPECT_EQ(Query("SELECT object_id, class, size, length(bytes) FROM objects"),
            "1|0|100000|100000");

  NOTEID id = 0;
  NSFNoteGetInfo(note_, _NOTE_ID, &id);
  ASSERT_EQ(NSFNoteClose(note_), NOERROR);
  ASSERT_EQ(NSFDbClose(db_), NOERROR);
  ASSERT_EQ(NSFDbOpen("objects.nsf", &db_), NOERROR);
  ASSERT_EQ(NSFNoteOpen(db_, id, 0, &note_), NOERROR);
  BLOCKID first;
  BLOCKID second;
  ASSERT_EQ(NSFItemInfo(note_, "$file", 5, &first, nullptr, nullptr, nullptr), NOERROR);
  ASSERT_EQ(NSFItemInfoNext(note_, first, "$FILE", 5, &second, nullptr, &value, &length), NOERROR);
  EXPECT_EQ(std::string(static_cast<const char*>(OSLockBlock(value)) + 2 + sizeof(FILEOBJECT),
                        length - 2 - sizeof(FILEOBJECT)),
            "source.bin");
  OSUnlockBlock(value);
  const std::string target = directory_ + "/extracted.bin";
  ASSERT_EQ(NSFNoteExtractFile(note_, second, target.c_str(), nullptr), NOERROR);
  EXPECT_EQ(ReadFile(target), "small");
  ASSERT_EQ(NSFNoteExtractFile(note_, first, target.c_str(), nullptr), NOERROR);
  EXPECT_EQ(ReadFile(target), content_) << "the file is replaced, not appended to";
}

TEST_F(AttachmentTest, Failures) {
  const std::string missing = directory_ + "/missing.bin";
  EXPECT_EQ(NSFNoteAttachFile(note_, "$FILE", 5, missing.c_str(), nullptr, 0), ERR_HOST_FILE_IO);
  EXPECT_EQ(NSFNoteAttachFile(note_, "$FILE", 5, directory_.c_str(), nullptr, 0), ERR_HOST_FILE_IO)
      << "a directory is not a file";
  EXPECT_EQ(NSFNoteAttachFile(note_, "Body", 4, source_.c_str(), nullptr, 0),
            ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(Attach("dir/"), ERR_HOST_BAD_ARGUMENT) << "no file name";
  HostTestSetItemValueLimit(2 + sizeof(FILEOBJECT) + 4);
  EXPECT_EQ(Attach("long.bin"), ERR_HOST_VALUE_TOO_LARGE);
  HostTestSetItemValueLimit(0);
  HostTestFailAllocation(1); // the value block of the item
  EXPECT_EQ(Attach("x.bin"), ERR_MEMORY);
  EXPECT_EQ(Query("SELECT count(*) FROM objects"), "0") << "refused attachments store nothing";

  ASSERT_EQ(NSFItemSetText(note_, "Text", "t", 1), NOERROR);
  BLOCKID text;
  ASSERT_EQ(NSFItemInfo(note_, "Text", 4, &text, nullptr, nullptr, nullptr), NOERROR);
  const std::string target = directory_ + "/out";
  EXPECT_EQ(NSFNoteExtractFile(note_, text, target.c_str(), nullptr), ERR_HOST_NOT_ATTACHMENT);
  const std::string shortObject(20, '\0');
  ASSERT_EQ(NSFItemAppend(note_, 0, "$FILE", 5, TYPE_OBJECT, shortObject.data(), 20), NOERROR);
  BLOCKID truncated;
  ASSERT_EQ(NSFItemInfo(note_, "$FILE", 5, &truncated, nullptr, nullptr, nullptr), NOERROR);
  EXPECT_EQ(NSFNoteExtractFile(note_, truncated, target.c_str(), nullptr), ERR_HOST_NOT_ATTACHMENT);
  EXPECT_FALSE(std::filesystem::exists(target));

  ASSERT_EQ(Attach("good.bin"), NOERROR);
  BLOCKID good;
  BLOCKID goodValue;
  ASSERT_EQ(NSFItemInfoNext(note_, truncated, "$FILE", 5, &good, nullptr, &goodValue, nullptr),
            NOERROR);
  EXPECT_EQ(NSFNoteExtractFile(note_, good, (directory_ + "/no/such/dir/x").c_str(), nullptr),
            ERR_HOST_FILE_IO);
  EXPECT_EQ(NSFNoteExtractFile(note_, BLOCKID{note_, 999}, target.c_str(), nullptr),
            ERR_ITEM_NOT_FOUND);
  const FILEOBJECT file = FileObject(goodValue);
  EXPECT_EQ(file.Header.RRV, 2u) << "the object of the refused attachment is gone, its ID used";
  ASSERT_EQ(NSFDbFreeObject(db_, file.Header.RRV), NOERROR);
  EXPECT_EQ(NSFNoteExtractFile(note_, good, target.c_str(), nullptr), ERR_HOST_OBJECT_NOT_FOUND);
}

// ---- design notes ----

TEST_F(AttachmentTest, DetachTakesTheItemAndItsObject) {
  ASSERT_EQ(Attach("a.bin"), NOERROR);
  ASSERT_EQ(Attach("b.bin"), NOERROR);
  BLOCKID first;
  ASSERT_EQ(NSFItemInfo(note_, "$FILE", 5, &first, nullptr, nullptr, nullptr), NOERROR);
  ASSERT_EQ(NSFNoteDetachFile(note_, first), NOERROR);
  BLOCKID left;
  BLOCKID value;
  ASSERT_EQ(NSFItemInfo(note_, "$FILE", 5, &left, nullptr, &value, nullptr), NOERROR);
  EXPECT_EQ(FileObject(value).Header.RRV, 2u) << "the second attachment stays";
  EXPECT_EQ(NSFItemInfoNext(note_, left, "$FILE", 5, &left, nullptr, nullptr, nullptr),
            ERR_ITEM_NOT_FOUND);
  EXPECT_EQ(Query("SELECT group_concat(object_id) FROM objects"), "2");
  EXPECT_EQ(NSFNoteDetachFile(note_, first), ERR_ITEM_NOT_FOUND) << "already detached";
  HostTestFailStorageWrite(1);
  EXPECT_EQ(NSFNoteDetachFile(note_, left), ERR_HOST_STORAGE);
  EXPECT_EQ(NSFItemInfo(note_, "$FILE", 5, &left, nullptr, nullptr, nullptr), NOERROR)
      << "the item stays with its object";
  EXPECT_EQ(Query("SELECT group_concat(object_id) FROM objects"), "2");

  ASSERT_EQ(NSFItemSetText(note_, "Text", "t", 1), NOERROR);
  BLOCKID text;
  ASSERT_EQ(NSFItemInfo(note_, "Text", 4, &text, nullptr, nullptr, nullptr), NOERROR);
  EXPECT_EQ(NSFNoteDetachFile(note_, text), ERR_ITEM_NOT_FOUND) << "not a $FILE item";
  const std::string shortObject(20, '\0');
  ASSERT_EQ(NSFItemAppend(note_, 0, "$FILE", 5, TYPE_OBJECT, shortObject.data(), 20), NOERROR);
  BLOCKID truncated;
  ASSERT_EQ(NSFItemInfoNext(note_, left, "$FILE", 5, &truncated, nullptr, nullptr, nullptr),
            NOERROR);
  EXPECT_EQ(NSFNoteDetachFile(note_, truncated), ERR_HOST_NOT_ATTACHMENT);
  EXPECT_EQ(NSFItemInfoNext(note_, left, "$FILE", 5, &truncated, nullptr, nullptr, nullptr),
            NOERROR)
      << "an item that is no attachment stays";
}

TEST_F(AttachmentTest, OleObjectInformationLayoutAndRoundTrip) {
  const OLE_GUID objectClass{0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
  ASSERT_EQ(NSFNoteAttachOLE2Object(note_, source_.c_str(), "EXT1", TRUE, "Sheet", "Body",
                                    &objectClass, 3, 0x7),
            NOERROR);
  BLOCKID item;
  BLOCKID value;
  WORD type = 0;
  DWORD length = 0;
  ASSERT_EQ(NSFItemInfo(note_, "$OLEOBJINFO", 11, &item, &type, &value, &length), NOERROR);
  EXPECT_EQ(type, TYPE_COMPOSITE);
  ASSERT_EQ(length, 2u + 48 + 4 + 5 + 4);
  const auto* bytes = static_cast<const BYTE*>(OSLockBlock(value)) + 2;
  const auto word = [bytes](int at) { return bytes[at] | bytes[at + 1] << 8; };
  EXPECT_EQ(word(0), 0xFFC1);
  EXPECT_EQ(word(2), 48 + 4 + 5 + 4);
  EXPECT_EQ(word(4), 4) << "file-object name length";
  EXPECT_EQ(word(6), 5) << "description length";
  EXPECT_EQ(word(8), 4) << "field name length";
  EXPECT_EQ(bytes[12], 0x04);
  EXPECT_EQ(bytes[27], 16) << "class identifier at 12..27";
  EXPECT_EQ(word(30), 3) << "display format";
  EXPECT_EQ(word(32), 0x5) << "only the scripted and control flags are kept";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes) + 48, 13), "EXT1SheetBody");
  OSUnlockBlock(value);

  const std::string target = directory_ + "/ole.out";
  EXPECT_EQ(NSFNoteExtractOLE2Object(note_, "ext1", target.c_str(), nullptr, TRUE, 0),
            ERR_ITEM_NOT_FOUND)
      << "object names keep their case";
  ASSERT_EQ(NSFNoteExtractOLE2Object(note_, "EXT1", target.c_str(), nullptr, TRUE, 0), NOERROR);
  EXPECT_EQ(ReadFile(target), content_);
  WriteFile(target, "kept");
  EXPECT_EQ(NSFNoteExtractOLE2Object(note_, "EXT1", target.c_str(), nullptr, FALSE, 0),
            ERR_HOST_FILE_IO);
  EXPECT_EQ(ReadFile(target), "kept");
  EXPECT_EQ(NSFNoteAttachOLE2Object(note_, source_.c_str(), "EXT1", TRUE, nullptr, nullptr,
                                    nullptr, 0, 0),
            ERR_HOST_BAD_ARGUMENT)
      << "one object of a name";
  EXPECT_EQ(NSFNoteAttachOLE2Object(note_, source_.c_str(), "EXT2", FALSE, nullptr, nullptr,
                                    nullptr, 0, 0),
            ERR_HOST_BAD_ARGUMENT)
      << "no object without its information";
  HostTestFailAllocation(1);
  EXPECT_EQ(NSFNoteAttachOLE2Object(note_, source_.c_str(), "EXT2", TRUE, nullptr, nullptr,
                                    nullptr, 0, 0),
            ERR_MEMORY);
  EXPECT_EQ(Query("SELECT group_concat(object_id) FROM objects"), "1")
      << "a refused object stores nothing";

  EXPECT_EQ(NSFNoteDeleteOLE2Object(note_, "EXT2"), ERR_ITEM_NOT_FOUND);
  ASSERT_EQ(NSFNoteDeleteOLE2Object(note_, "EXT1"), NOERROR);
  EXPECT_EQ(NSFItemInfo(note_, "$OLEOBJINFO", 11, &item, nullptr, nullptr, nullptr),
            ERR_ITEM_NOT_FOUND);
  EXPECT_EQ(Query("SELECT count(*) FROM objects"), "0");
  EXPECT_EQ(NSFNoteExtractOLE2Object(note_, "EXT1", target.c_str(), nullptr, TRUE, 0),
            ERR_ITEM_NOT_FOUND);
}

class DesignTest : public host_test::HostFixture {
protected:
  void SetUp() override {
    HostFixture::SetUp();
    ASSERT_EQ(note_testing::CreateDatabase("mem:design", &db_), NOERROR);
  }
  void TearDown() override {
    EXPECT_EQ(NSFDbClose(db_), NOERROR);
    HostFixture::TearDown();
  }

  // A note of the class with $TITLE items of the texts; stored unless asked not to.
  NOTEID StoreDesign(WORD noteClass, std::initializer_list<const char*> titles, bool asList = true,
                     NOTEHANDLE* keep = nullptr) {
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteCreate(db_, &note), NOERROR);
    NSFNoteSetInfo(note, _NOTE_CLASS, &noteClass);
    for (const char* title : titles) {
      const WORD length = static_cast<WORD>(std::strlen(title));
      EXPECT_EQ(asList ? NSFItemAppendTextList(note, "$TITLE", title, length, FALSE)
                       : NSFItemAppend(note, 0, "$TITLE", 6, TYPE_TEXT, title, length),
                NOERROR);
    }
    if (keep != nullptr) {
      *keep = note;
      return 0;
    }
    EXPECT_EQ(NSFNoteUpdate(note, 0), NOERROR);
    NOTEID id = 0;
    NSFNoteGetInfo(note, _NOTE_ID, &id);
    EXPECT_EQ(NSFNoteClose(note), NOERROR);
    return id;
  }

  DBHANDLE db_ = NULLHANDLE;
};

TEST_F(DesignTest, FindByNameAndAlias) {
  const NOTEID document = StoreDesign(NOTE_CLASS_DOCUMENT, {"main"});
  const NOTEID view = StoreDesign(NOTE_CLASS_VIEW, {"Main Form"});
  const NOTEID form = StoreDesign(NOTE_CLASS_FORM, {"Main Form|main"});
  const NOTEID listed = StoreDesign(NOTE_CLASS_FORM, {"Alpha", "Beta | b"});
  const NOTEID accented = StoreDesign(NOTE_CLASS_FORM, {"\x9A" "ber"}); // "Über" in LMBCS
  const NOTEID byDefault = StoreDesign(NOTE_CLASS_FORM | NOTE_CLASS_DEFAULT, {"Memo"});
  // Only the first $TITLE item names the note.
  const NOTEID twoItems = StoreDesign(NOTE_CLASS_FORM, {"First", "Second"}, false);
  ASSERT_NE(document, 0u);
  const struct {
    const char* name;
    WORD noteClass;
    STATUS status;
    NOTEID id;
  } cases[] = {
      {"MAIN", NOTE_CLASS_FORM, NOERROR, form},
      {"main form", NOTE_CLASS_FORM, NOERROR, form},
      {"Main Form", NOTE_CLASS_VIEW, NOERROR, view},
      {"beta", NOTE_CLASS_FORM, NOERROR, listed},
      {"\x81" "BER", NOTE_CLASS_FORM, NOERROR, accented}, // "üBER"
      {"uber", NOTE_CLASS_FORM, ERR_NOT_FOUND, 0},
      {"Memo", NOTE_CLASS_FORM, NOERROR, byDefault},
      {"First", NOTE_CLASS_FORM, NOERROR, twoItems},
      {"Second", NOTE_CLASS_FORM, ERR_NOT_FOUND, 0},
      {"Main F", NOTE_CLASS_FORM, ERR_NOT_FOUND, 0},
  };
  for (const auto& c : cases) {
    NOTEID id = 0xDEAD;
    EXPECT_EQ(NIFFindDesignNote(db_, c.name, c.noteClass, &id), c.status) << c.name;
    EXPECT_EQ(id, c.id) << c.name;
  }
  NOTEID id = 0;
  EXPECT_EQ(NIFFindDesignNote(0x00041234, "Memo", NOTE_CLASS_FORM, &id), ERR_HOST_BAD_HANDLE);
}

TEST_F(DesignTest, OnlyStoredNotesAreFound) {
  NOTEHANDLE note = NULLHANDLE;
  StoreDesign(NOTE_CLASS_FORM, {"Draft"}, true, &note);
  NOTEID id = 0;
  EXPECT_EQ(NIFFindDesignNote(db_, "Draft", NOTE_CLASS_FORM, &id), ERR_NOT_FOUND);
  ASSERT_EQ(NSFNoteUpdate(note, 0), NOERROR);
  EXPECT_EQ(NIFFindDesignNote(db_, "Draft", NOTE_CLASS_FORM, &id), NOERROR);
  EXPECT_EQ(id, 0x100u);
  ASSERT_EQ(NSFNoteClose(note), NOERROR);
  ASSERT_EQ(NSFNoteDelete(db_, id, 0), NOERROR);
  EXPECT_EQ(NIFFindDesignNote(db_, "Draft", NOTE_CLASS_FORM, &id), ERR_NOT_FOUND);
}

TEST_F(DesignTest, OnlyTheDesignCollectionOpens) {
  HCOLLECTION collection = NULLHANDLE;
  ASSERT_EQ(NIFOpenCollection(db_, db_, NOTE_ID_SPECIAL | NOTE_CLASS_DESIGN, 0, &collection),
            NOERROR);
  EXPECT_EQ(NIFUpdateCollection(collection), NOERROR);
  EXPECT_EQ(NIFCloseCollection(collection), NOERROR);
  EXPECT_EQ(NIFUpdateCollection(collection), ERR_HOST_BAD_HANDLE);
  for (NOTEID view : {NOTEID{0x100}, NOTEID{NOTE_ID_SPECIAL | NOTE_CLASS_VIEW}, NOTEID{0}}) {
    HCOLLECTION refused = 0x99;
    EXPECT_EQ(NIFOpenCollection(db_, db_, view, 0, &refused), ERR_HOST_COLLECTION) << view;
    EXPECT_EQ(refused, NULLHANDLE);
  }
  EXPECT_EQ(NIFOpenCollection(0x00041234, db_, NOTE_ID_SPECIAL | NOTE_CLASS_DESIGN, 0, &collection),
            ERR_HOST_BAD_HANDLE);
}

} // namespace
