// Notes and items of the stand-in: working copies, items of one name in
// order, BLOCKIDs, deleting, text lists and conversions, the value cap,
// copying notes and items, and updates that fail part-way.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osmem.h"
#include "host/status.h"
#include "host/textlist.h"

namespace {

std::string Bytes(const void* data, size_t size) {
  return std::string(static_cast<const char*>(data), size);
}

std::string Word(WORD word) { return Bytes(&word, sizeof word); }

// The bytes of an item value (type word first).
std::string ValueAt(BLOCKID bid, DWORD length) {
  const void* data = OSLockBlock(bid);
  if (data == nullptr)
    return "<unlockable>";
  std::string bytes = Bytes(data, length);
  OSUnlockBlock(bid);
  return bytes;
}

struct ItemSeen {
  std::string name;
  WORD type;
  std::string value;
  bool operator==(const ItemSeen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ItemSeen& item) {
  return out << item.name << "/" << item.type << "/" << item.value.size() << " bytes";
}

class NoteItemTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    liveBefore_ = HostTestLiveHandles();
    ASSERT_EQ(NSFDbCreate("mem:notes", DBCLASS_NOTEFILE, FALSE), NOERROR);
    ASSERT_EQ(NSFDbOpen("mem:notes", &db_), NOERROR);
    ASSERT_EQ(NSFNoteCreate(db_, &note_), NOERROR);
  }
  void TearDown() override {
    if (note_ != NULLHANDLE) {
      EXPECT_EQ(NSFNoteClose(note_), NOERROR);
    }
    EXPECT_EQ(NSFDbClose(db_), NOERROR);
    EXPECT_EQ(HostTestLiveHandles(), liveBefore_) << HostTestLeakReport();
    HostTestReset();
  }

  STATUS Append(NOTEHANDLE note, const char* name, WORD type, const std::string& value,
                WORD flags = 0) {
    return NSFItemAppend(note, flags, name, static_cast<WORD>(std::strlen(name)), type,
                         value.data(), static_cast<DWORD>(value.size()));
  }

  // Every item of the name, in order, through NSFItemInfo and NSFItemInfoNext.
  std::vector<ItemSeen> ItemsNamed(NOTEHANDLE note, const char* name) {
    std::vector<ItemSeen> seen;
    const WORD length = static_cast<WORD>(std::strlen(name));
    BLOCKID item;
    WORD type = 0;
    BLOCKID value;
    DWORD valueLength = 0;
    STATUS status = NSFItemInfo(note, name, length, &item, &type, &value, &valueLength);
    while (status == NOERROR) {
      char itemName[256];
      NSFItemGetName(note, item, itemName);
      seen.push_back({itemName, type, ValueAt(value, valueLength)});
      status = NSFItemInfoNext(note, item, name, length, &item, &type, &value, &valueLength);
    }
    EXPECT_EQ(status, ERR_ITEM_NOT_FOUND);
    return seen;
  }

  NOTEID Store(NOTEHANDLE note) {
    EXPECT_EQ(NSFNoteUpdate(note, 0), NOERROR);
    NOTEID id = 0;
    NSFNoteGetInfo(note, _NOTE_ID, &id);
    return id;
  }

  DBHANDLE db_ = NULLHANDLE;
  NOTEHANDLE note_ = NULLHANDLE;
  size_t liveBefore_ = 0;
};

TEST_F(NoteItemTest, NewNoteHasNoIDAndADocumentClass) {
  NOTEID id = 0xDEAD;
  WORD noteClass = 0;
  DBHANDLE db = NULLHANDLE;
  ORIGINATORID oid;
  NSFNoteGetInfo(note_, _NOTE_ID, &id);
  NSFNoteGetInfo(note_, _NOTE_CLASS, &noteClass);
  NSFNoteGetInfo(note_, _NOTE_DB, &db);
  NSFNoteGetInfo(note_, _NOTE_OID, &oid);
  EXPECT_EQ(id, 0u);
  EXPECT_EQ(noteClass, NOTE_CLASS_DOCUMENT);
  EXPECT_EQ(db, db_);
  EXPECT_EQ(oid.Sequence, 0u);
  EXPECT_EQ(NSFItemInfo(note_, "Body", 4, nullptr, nullptr, nullptr, nullptr), ERR_ITEM_NOT_FOUND);
}

TEST_F(NoteItemTest, ItemsOfOneNameKeepTheirOrderThroughUpdateAndReopen) {
  ASSERT_EQ(Append(note_, "Body", TYPE_COMPOSITE, "one"), NOERROR);
  ASSERT_EQ(Append(note_, "Other", TYPE_TEXT, "x"), NOERROR);
  ASSERT_EQ(Append(note_, "BODY", TYPE_COMPOSITE, "two"), NOERROR);
  ASSERT_EQ(Append(note_, "body", TYPE_COMPOSITE, "three!"), NOERROR);
  const std::vector<ItemSeen> expected = {
      {"Body", TYPE_COMPOSITE, Word(TYPE_COMPOSITE) + "one"},
      {"BODY", TYPE_COMPOSITE, Word(TYPE_COMPOSITE) + "two"},
      {"body", TYPE_COMPOSITE, Word(TYPE_COMPOSITE) + "three!"},
  };
  EXPECT_EQ(ItemsNamed(note_, "bOdY"), expected) << "names compare without ASCII case";

  const NOTEID id = Store(note_);
  ASSERT_EQ(NSFNoteClose(note_), NOERROR);
  ASSERT_EQ(NSFNoteOpen(db_, id, OPEN_EXPAND, &note_), NOERROR);
  EXPECT_EQ(ItemsNamed(note_, "Body"), expected);
  EXPECT_EQ(ItemsNamed(note_, "Other"),
            (std::vector<ItemSeen>{{"Other", TYPE_TEXT, Word(TYPE_TEXT) + "x"}}));
}

TEST_F(NoteItemTest, InfoReportsLengthWithTheTypeWordAndOptionalOutputs) {
  ASSERT_EQ(Append(note_, "Size", TYPE_NUMBER, std::string(8, '\0')), NOERROR);
  DWORD length = 0;
  WORD type = 0;
  EXPECT_EQ(NSFItemInfo(note_, "Size", 4, nullptr, &type, nullptr, &length), NOERROR);
  EXPECT_EQ(length, 10u);
  EXPECT_EQ(type, TYPE_NUMBER);
  EXPECT_EQ(NSFItemInfo(note_, "SizeXYZ", 4, nullptr, nullptr, nullptr, nullptr), NOERROR)
      << "only nameLength bytes of the name count";
  BLOCKID item;
  ASSERT_EQ(NSFItemInfo(note_, "Size", 4, &item, nullptr, nullptr, nullptr), NOERROR);
  EXPECT_EQ(item.pool, note_);
  EXPECT_NE(item.block, NULLBLOCK);
}

TEST_F(NoteItemTest, DeleteRemovesEveryItemOfTheName) {
  for (const char* value : {"a", "b", "c"})
    ASSERT_EQ(Append(note_, "$Fonts", TYPE_COMPOSITE, value), NOERROR);
  ASSERT_EQ(Append(note_, "Keep", TYPE_TEXT, "k"), NOERROR);
  EXPECT_EQ(NSFItemDelete(note_, "$FONTS", 6), NOERROR);
  EXPECT_EQ(NSFItemInfo(note_, "$Fonts", 6, nullptr, nullptr, nullptr, nullptr),
            ERR_ITEM_NOT_FOUND);
  EXPECT_EQ(NSFItemDelete(note_, "$Fonts", 6), ERR_ITEM_NOT_FOUND);
  EXPECT_EQ(ItemsNamed(note_, "Keep").size(), 1u);
  const NOTEID id = Store(note_);
  NOTEHANDLE stored = NULLHANDLE;
  ASSERT_EQ(NSFNoteOpen(db_, id, 0, &stored), NOERROR);
  EXPECT_EQ(NSFItemInfo(stored, "$Fonts", 6, nullptr, nullptr, nullptr, nullptr),
            ERR_ITEM_NOT_FOUND);
  EXPECT_EQ(NSFNoteClose(stored), NOERROR);
}

TEST_F(NoteItemTest, DeletedItemValueStaysReadableWhileLocked) {
  ASSERT_EQ(Append(note_, "Body", TYPE_COMPOSITE, "record bytes"), NOERROR);
  BLOCKID item;
  BLOCKID value;
  DWORD length = 0;
  ASSERT_EQ(NSFItemInfo(note_, "Body", 4, &item, nullptr, &value, &length), NOERROR);
  const char* locked = static_cast<const char*>(OSLockBlock(value));
  ASSERT_NE(locked, nullptr);
  ASSERT_EQ(NSFItemDelete(note_, "Body", 4), NOERROR);
  ASSERT_EQ(Append(note_, "Body", TYPE_COMPOSITE, "new bytes of another item"), NOERROR);
  EXPECT_EQ(Bytes(locked, length), Word(TYPE_COMPOSITE) + "record bytes");
  OSUnlockBlock(value);
  EXPECT_EQ(NSFItemInfoNext(note_, item, "Body", 4, nullptr, nullptr, nullptr, nullptr),
            ERR_ITEM_NOT_FOUND)
      << "a deleted item has no next item";
  char name[256];
  EXPECT_EQ(NSFItemGetName(note_, item, name), 0);
  // Closing the note frees the retired value too (checked in TearDown).
}

// A value no caller holds locked goes when its item goes, so a note kept
// open through many replacements of an item does not keep them all.
TEST_F(NoteItemTest, DeletedOrReplacedValueNobodyLocksIsFreedAtOnce) {
  ASSERT_EQ(Append(note_, "Body", TYPE_COMPOSITE, "record bytes"), NOERROR);
  ASSERT_EQ(NSFItemAppendTextList(note_, "List", "a", 1, TRUE), NOERROR);
  const size_t live = HostTestLiveHandles();
  BLOCKID item;
  BLOCKID value;
  DWORD length = 0;
  ASSERT_EQ(NSFItemInfo(note_, "Body", 4, &item, nullptr, &value, &length), NOERROR);
  ASSERT_EQ(NSFItemDelete(note_, "Body", 4), NOERROR);
  EXPECT_EQ(HostTestLiveHandles(), live - 1);
  EXPECT_EQ(OSLockBlock(value), nullptr) << "the value of a deleted item is gone";
  for (int round = 0; round < 100; ++round) {
    ASSERT_EQ(Append(note_, "Body", TYPE_COMPOSITE, "replacement"), NOERROR);
    ASSERT_EQ(NSFItemDelete(note_, "Body", 4), NOERROR);
    ASSERT_EQ(NSFItemAppendTextList(note_, "List", "b", 1, TRUE), NOERROR);
  }
  EXPECT_EQ(HostTestLiveHandles(), live - 1);
}

TEST_F(NoteItemTest, InfoNextRefusesAnItemOfAnotherNote) {
  NOTEHANDLE other = NULLHANDLE;
  ASSERT_EQ(NSFNoteCreate(db_, &other), NOERROR);
  ASSERT_EQ(Append(other, "Body", TYPE_COMPOSITE, "o"), NOERROR);
  ASSERT_EQ(Append(note_, "Body", TYPE_COMPOSITE, "n"), NOERROR);
  BLOCKID item;
  ASSERT_EQ(NSFItemInfo(other, "Body", 4, &item, nullptr, nullptr, nullptr), NOERROR);
  EXPECT_EQ(NSFItemInfoNext(note_, item, "Body", 4, nullptr, nullptr, nullptr, nullptr),
            ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(NSFNoteClose(other), NOERROR);
}

TEST_F(NoteItemTest, ValueCapIsEnforcedEverywhere) {
  const std::string justFits(65533, 'v');
  EXPECT_EQ(Append(note_, "Big", TYPE_COMPOSITE, justFits), NOERROR);
  EXPECT_EQ(Append(note_, "Big", TYPE_COMPOSITE, justFits + "v"), ERR_HOST_VALUE_TOO_LARGE);
  EXPECT_EQ(NSFItemAppend(note_, 0, "Big", 3, TYPE_COMPOSITE, justFits.data(), 0xFFFFFFFF),
            ERR_HOST_VALUE_TOO_LARGE)
      << "a huge length does not wrap around";

  HostTestSetItemValueLimit(12);
  EXPECT_EQ(Append(note_, "Small", TYPE_TEXT, "0123456789"), NOERROR);
  EXPECT_EQ(Append(note_, "Small", TYPE_TEXT, "0123456789a"), ERR_HOST_VALUE_TOO_LARGE);
  EXPECT_EQ(NSFItemSetText(note_, "Small", "0123456789ab", 12), ERR_HOST_VALUE_TOO_LARGE);
  EXPECT_EQ(ItemsNamed(note_, "Small").size(), 1u) << "a refused SetText leaves the old item";
  // List: type, count, two lengths, "abc" = 9; a third entry would need 12.
  ASSERT_EQ(NSFItemAppendTextList(note_, "List", "ab", 2, FALSE), NOERROR);
  ASSERT_EQ(NSFItemAppendTextList(note_, "List", "c", 1, FALSE), NOERROR);
  EXPECT_EQ(NSFItemAppendTextList(note_, "List", "d", 1, FALSE), ERR_HOST_VALUE_TOO_LARGE);
  char text[32];
  EXPECT_EQ(NSFItemConvertToText(note_, "List", text, sizeof text, ','), 4);
  EXPECT_STREQ(text, "ab,c");

  DHANDLE block = NULLHANDLE;
  ASSERT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, 13, &block), NOERROR);
  EXPECT_EQ(NSFItemAppendByBLOCKID(note_, 0, "Block", 5, BLOCKID{block, 0}, 13, nullptr),
            ERR_HOST_VALUE_TOO_LARGE);
  EXPECT_EQ(OSMemFree(block), NOERROR);

  HostTestSetItemValueLimit(0);
  EXPECT_EQ(Append(note_, "Big", TYPE_COMPOSITE, justFits), NOERROR) << "0 restores 65535";
}

TEST_F(NoteItemTest, AppendByBlockIdCopiesTheCallersBlock) {
  DHANDLE block = NULLHANDLE;
  ASSERT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, 16, &block), NOERROR);
  char* data = static_cast<char*>(OSLockObject(block));
  const std::string value = Word(TYPE_COMPOSITE) + "abcdef";
  std::memcpy(data + 4, value.data(), value.size());
  OSUnlockObject(block);

  BLOCKID item;
  ASSERT_EQ(NSFItemAppendByBLOCKID(note_, ITEM_SUMMARY, "Body", 4, BLOCKID{block, 4},
                                   static_cast<DWORD>(value.size()), &item),
            NOERROR);
  EXPECT_EQ(item.pool, note_);
  std::memset(OSLockObject(block), 'z', 16);
  OSUnlockObject(block);
  EXPECT_EQ(ItemsNamed(note_, "Body"), (std::vector<ItemSeen>{{"Body", TYPE_COMPOSITE, value}}))
      << "the item holds its own copy";
  EXPECT_EQ(NSFItemAppendByBLOCKID(note_, 0, "Body", 4, BLOCKID{block, 4}, 13, nullptr),
            ERR_HOST_BAD_ARGUMENT)
      << "a length past the block's end";
  EXPECT_EQ(NSFItemAppendByBLOCKID(note_, 0, "Body", 4, BLOCKID{block, 0}, 1, nullptr),
            ERR_HOST_BAD_ARGUMENT)
      << "a value shorter than its type word";
  EXPECT_EQ(OSMemFree(block), NOERROR);
  EXPECT_EQ(NSFItemAppendByBLOCKID(note_, 0, "Body", 4, BLOCKID{block, 0}, 2, nullptr),
            ERR_HOST_BAD_HANDLE);
}

TEST_F(NoteItemTest, AppendObjectFreesTheBlockOnlyWhenAsked) {
  const std::string value = Word(TYPE_OBJECT) + std::string(8, '\x01');
  for (const BOOL freeValue : {FALSE, TRUE}) {
    DHANDLE block = NULLHANDLE;
    ASSERT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, static_cast<DWORD>(value.size()), &block), NOERROR);
    std::memcpy(OSLockObject(block), value.data(), value.size());
    OSUnlockObject(block);
    ASSERT_EQ(NSFItemAppendObject(note_, 0, "$OBJ", 4, BLOCKID{block, 0},
                                  static_cast<DWORD>(value.size()), freeValue),
              NOERROR);
    EXPECT_EQ(OSMemFree(block), freeValue ? ERR_HOST_DOUBLE_FREE : NOERROR);
  }
  EXPECT_EQ(ItemsNamed(note_, "$OBJ").size(), 2u);

  DHANDLE text = NULLHANDLE;
  ASSERT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, 4, &text), NOERROR);
  WORD type = TYPE_TEXT;
  std::memcpy(OSLockObject(text), &type, sizeof type);
  OSUnlockObject(text);
  EXPECT_EQ(NSFItemAppendObject(note_, 0, "$OBJ", 4, BLOCKID{text, 0}, 4, TRUE),
            ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(OSMemFree(text), NOERROR) << "a refused value is not freed";
}

TEST_F(NoteItemTest, TextListAppend) {
  ASSERT_EQ(NSFItemAppendTextList(note_, "Names", "Ann", 3, FALSE), NOERROR);
  ASSERT_EQ(NSFItemAppendTextList(note_, "Names", "Bo", 2, FALSE), NOERROR);
  ASSERT_EQ(NSFItemAppendTextList(note_, "names", "Ann", 3, FALSE), NOERROR);
  ASSERT_EQ(NSFItemAppendTextList(note_, "Names", "ann", 3, FALSE), NOERROR)
      << "duplicates compare with case";
  ASSERT_EQ(NSFItemAppendTextList(note_, "Names", "Bo", 2, TRUE), NOERROR);
  const std::string expected =
      Word(TYPE_TEXT_LIST) + Word(4) + Word(3) + Word(2) + Word(3) + Word(2) + "AnnBoannBo";
  const std::vector<ItemSeen> items = ItemsNamed(note_, "Names");
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].value, expected);

  ASSERT_EQ(NSFItemSetText(note_, "Single", "one", 3), NOERROR);
  ASSERT_EQ(NSFItemAppendTextList(note_, "Single", "two", 3, FALSE), NOERROR);
  char text[32];
  EXPECT_EQ(NSFItemConvertToText(note_, "Single", text, sizeof text, ';'), 7);
  EXPECT_STREQ(text, "one;two") << "a text item becomes a list";

  ASSERT_EQ(Append(note_, "Number", TYPE_NUMBER, std::string(8, '\0')), NOERROR);
  EXPECT_EQ(NSFItemAppendTextList(note_, "Number", "x", 1, FALSE), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(NSFItemAppendTextList(note_, "Empty", nullptr, 0, FALSE), NOERROR);
  EXPECT_EQ(ItemsNamed(note_, "Empty")[0].value, Word(TYPE_TEXT_LIST) + Word(1) + Word(0));
}

TEST_F(NoteItemTest, SetTextReplacesEveryItemOfTheName) {
  ASSERT_EQ(Append(note_, "Subject", TYPE_TEXT, "old 1"), NOERROR);
  ASSERT_EQ(Append(note_, "Subject", TYPE_TEXT, "old 2"), NOERROR);
  ASSERT_EQ(NSFItemSetText(note_, "SUBJECT", "new", 3), NOERROR);
  EXPECT_EQ(ItemsNamed(note_, "Subject"),
            (std::vector<ItemSeen>{{"SUBJECT", TYPE_TEXT, Word(TYPE_TEXT) + "new"}}));
}

TEST_F(NoteItemTest, GetText) {
  ASSERT_EQ(NSFItemSetText(note_, "Title", "Quarterly", 9), NOERROR);
  ASSERT_EQ(NSFItemAppendTextList(note_, "List", "first", 5, FALSE), NOERROR);
  ASSERT_EQ(NSFItemAppendTextList(note_, "List", "second", 6, FALSE), NOERROR);
  ASSERT_EQ(Append(note_, "Number", TYPE_NUMBER, std::string(8, '\0')), NOERROR);
  struct Case {
    const char* name;
    WORD bufferLength;
    WORD length;
    const char* text;
  };
  const Case cases[] = {
      {"Title", 64, 9, "Quarterly"}, {"title", 4, 3, "Qua"}, {"List", 64, 5, "first"},
      {"Number", 64, 0, ""},         {"Missing", 64, 0, ""},
  };
  for (const Case& c : cases) {
    char buffer[64] = "junk";
    EXPECT_EQ(NSFItemGetText(note_, c.name, buffer, c.bufferLength), c.length) << c.name;
    EXPECT_STREQ(buffer, c.text) << c.name;
  }
  EXPECT_EQ(NSFItemGetText(note_, "Title", nullptr, 0), 0);
}

TEST_F(NoteItemTest, ConvertToText) {
  const double number = 3.25;
  const double large = 1e20;
  const TIMEDATE time = {{(21 * 3600 + 59 * 60 + 9) * 100, 2461201}}; // 06/09/2026
  ASSERT_EQ(NSFItemSetText(note_, "Text", "plain", 5), NOERROR);
  ASSERT_EQ(NSFItemAppendTextList(note_, "List", "a", 1, FALSE), NOERROR);
  ASSERT_EQ(NSFItemAppendTextList(note_, "List", "bc", 2, FALSE), NOERROR);
  ASSERT_EQ(Append(note_, "Number", TYPE_NUMBER, Bytes(&number, sizeof number)), NOERROR);
  ASSERT_EQ(Append(note_, "Large", TYPE_NUMBER, Bytes(&large, sizeof large)), NOERROR);
  ASSERT_EQ(Append(note_, "Time", TYPE_TIME, Bytes(&time, sizeof time)), NOERROR);
  ASSERT_EQ(Append(note_, "Body", TYPE_COMPOSITE, "rich"), NOERROR);
  ASSERT_EQ(Append(note_, "Short", TYPE_NUMBER, "12"), NOERROR);
  // Lists whose words point past the value's end.
  ASSERT_EQ(Append(note_, "Overlong", TYPE_TEXT_LIST, Word(2) + Word(1) + Word(5) + "abc"),
            NOERROR);
  ASSERT_EQ(Append(note_, "Overcount", TYPE_TEXT_LIST, Word(9) + Word(1)), NOERROR);
  struct Case {
    const char* name;
    char separator;
    WORD bufferLength;
    WORD length;
    const char* text;
  };
  const Case cases[] = {
      {"Text", ';', 64, 5, "plain"},  {"List", ';', 64, 4, "a;bc"},
      {"List", ',', 3, 2, "a,"},      {"Number", ';', 64, 4, "3.25"},
      {"Large", ';', 64, 5, "1e+20"}, {"Time", ';', 64, 19, "06/09/2026 21:59:09"},
      {"Body", ';', 64, 0, ""},       {"Short", ';', 64, 0, ""},
      {"Overlong", ';', 64, 0, ""},   {"Overcount", ';', 64, 0, ""},
      {"Missing", ';', 64, 0, ""},
  };
  for (const Case& c : cases) {
    char buffer[64] = "junk";
    EXPECT_EQ(NSFItemConvertToText(note_, c.name, buffer, c.bufferLength, c.separator), c.length)
        << c.name;
    EXPECT_STREQ(buffer, c.text) << c.name;
  }
  char buffer[8];
  EXPECT_EQ(NSFItemGetText(note_, "Overlong", buffer, sizeof buffer), 0);
  EXPECT_EQ(NSFItemAppendTextList(note_, "Overlong", "x", 1, FALSE), ERR_HOST_BAD_ARGUMENT);
}

TEST_F(NoteItemTest, ItemCopyAndItemNames) {
  ASSERT_EQ(Append(note_, "$Fonts", TYPE_COMPOSITE, "table", ITEM_SUMMARY), NOERROR);
  BLOCKID item;
  ASSERT_EQ(NSFItemInfo(note_, "$fonts", 6, &item, nullptr, nullptr, nullptr), NOERROR);
  char name[256];
  EXPECT_EQ(NSFItemGetName(note_, item, name), 6);
  EXPECT_STREQ(name, "$Fonts") << "the name as appended";

  NOTEHANDLE other = NULLHANDLE;
  ASSERT_EQ(NSFNoteCreate(db_, &other), NOERROR);
  ASSERT_EQ(NSFItemCopy(other, item), NOERROR);
  ASSERT_EQ(NSFItemCopy(note_, item), NOERROR) << "a copy within the same note";
  const std::vector<ItemSeen> one = {{"$Fonts", TYPE_COMPOSITE, Word(TYPE_COMPOSITE) + "table"}};
  EXPECT_EQ(ItemsNamed(other, "$Fonts"), one);
  EXPECT_EQ(ItemsNamed(note_, "$Fonts").size(), 2u);
  EXPECT_EQ(NSFItemCopy(other, BLOCKID{note_, 999}), ERR_ITEM_NOT_FOUND);
  EXPECT_EQ(NSFItemCopy(other, BLOCKID{0x12345678, 1}), ERR_HOST_BAD_HANDLE);
  EXPECT_EQ(NSFNoteClose(other), NOERROR);
}

TEST_F(NoteItemTest, NoteCopyIsStoredAsANewNoteWithAFreshOID) {
  ASSERT_EQ(NSFItemSetText(note_, "$TITLE", "Report", 6), NOERROR);
  ASSERT_EQ(Append(note_, "Body", TYPE_COMPOSITE, "records"), NOERROR);
  const NOTEID id = Store(note_);

  NOTEHANDLE copy = NULLHANDLE;
  ASSERT_EQ(NSFNoteCopy(note_, &copy), NOERROR);
  NOTEID copyID = 0;
  ORIGINATORID sourceOID;
  ORIGINATORID copyOID;
  NSFNoteGetInfo(copy, _NOTE_ID, &copyID);
  NSFNoteGetInfo(note_, _NOTE_OID, &sourceOID);
  NSFNoteGetInfo(copy, _NOTE_OID, &copyOID);
  EXPECT_EQ(copyID, id);
  EXPECT_EQ(std::memcmp(&sourceOID, &copyOID, sizeof copyOID), 0);
  EXPECT_EQ(ItemsNamed(copy, "Body"), ItemsNamed(note_, "Body"));

  const NOTEID none = 0;
  NSFNoteSetInfo(copy, _NOTE_ID, &none);
  EXPECT_EQ(NSFNoteUpdate(copy, 0), ERR_HOST_UNID_EXISTS) << "the source's UNID is taken";
  NSFNoteGetInfo(copy, _NOTE_ID, &copyID);
  EXPECT_EQ(copyID, 0u) << "a failed update leaves the copy new";

  ORIGINATORID fresh;
  ASSERT_EQ(NSFDbGenerateOID(db_, &fresh), NOERROR);
  NSFNoteSetInfo(copy, _NOTE_OID, &fresh);
  ASSERT_EQ(NSFItemSetText(copy, "$TITLE", "Report1", 7), NOERROR);
  EXPECT_EQ(Store(copy), id + 4);
  EXPECT_EQ(NSFNoteClose(copy), NOERROR);

  NOTEHANDLE source = NULLHANDLE;
  ASSERT_EQ(NSFNoteOpen(db_, id, 0, &source), NOERROR);
  char title[32];
  NSFItemGetText(source, "$TITLE", title, sizeof title);
  EXPECT_STREQ(title, "Report") << "the source is untouched";
  EXPECT_EQ(NSFNoteClose(source), NOERROR);
}

TEST_F(NoteItemTest, InfoMembersAreKeptAndStored) {
  const WORD form = NOTE_CLASS_FORM;
  const WORD flags = 0x0200;
  NSFNoteSetInfo(note_, _NOTE_CLASS, &form);
  NSFNoteSetInfo(note_, _NOTE_FLAGS, &flags);
  const DBHANDLE otherDb = 0x42;
  NSFNoteSetInfo(note_, _NOTE_DB, &otherDb); // cannot be set
  const TIMEDATE clock = {{500, 2461100}};
  HostTestSetClock(&clock);
  const NOTEID id = Store(note_);
  ASSERT_EQ(NSFNoteClose(note_), NOERROR);
  ASSERT_EQ(NSFNoteOpen(db_, id, 0, &note_), NOERROR);
  WORD noteClass = 0;
  WORD noteFlags = 0;
  DBHANDLE db = NULLHANDLE;
  TIMEDATE modified;
  ORIGINATORID oid;
  NSFNoteGetInfo(note_, _NOTE_CLASS, &noteClass);
  NSFNoteGetInfo(note_, _NOTE_FLAGS, &noteFlags);
  NSFNoteGetInfo(note_, _NOTE_DB, &db);
  NSFNoteGetInfo(note_, _NOTE_MODIFIED, &modified);
  NSFNoteGetInfo(note_, _NOTE_OID, &oid);
  EXPECT_EQ(noteClass, NOTE_CLASS_FORM);
  EXPECT_EQ(noteFlags, 0x0200);
  EXPECT_EQ(db, db_);
  EXPECT_EQ(modified.Innards[0], 500u);
  EXPECT_EQ(oid.Sequence, 1u);
  EXPECT_EQ(oid.SequenceTime.Innards[1], 2461100u);
  EXPECT_EQ(NSFNoteUpdate(note_, UPDATE_FORCE), NOERROR);
  NSFNoteGetInfo(note_, _NOTE_OID, &oid);
  EXPECT_EQ(oid.Sequence, 2u) << "every update raises the sequence";
}

TEST_F(NoteItemTest, UpdateOfAnUnknownNoteIDIsRefused) {
  const NOTEID unknown = 0x5000;
  NSFNoteSetInfo(note_, _NOTE_ID, &unknown);
  EXPECT_EQ(NSFNoteUpdate(note_, 0), ERR_HOST_NOTE_NOT_FOUND);
  NOTEHANDLE opened = 0x77;
  EXPECT_EQ(NSFNoteOpen(db_, unknown, 0, &opened), ERR_HOST_NOTE_NOT_FOUND);
  EXPECT_EQ(opened, NULLHANDLE);
}

// Snapshot of a stored note, read through a second working copy.
std::string StoredState(DBHANDLE db, NOTEID id) {
  NOTEHANDLE note = NULLHANDLE;
  if (NSFNoteOpen(db, id, 0, &note) != NOERROR)
    return "<none>";
  ORIGINATORID oid;
  NSFNoteGetInfo(note, _NOTE_OID, &oid);
  std::string state = "seq " + std::to_string(oid.Sequence);
  for (const char* name : {"A", "B", "C", "D"}) {
    BLOCKID item;
    BLOCKID value;
    DWORD length = 0;
    STATUS status = NSFItemInfo(note, name, 1, &item, nullptr, &value, &length);
    while (status == NOERROR) {
      state += std::string(" ") + name + "=" + ValueAt(value, length).substr(2);
      status = NSFItemInfoNext(note, item, name, 1, &item, nullptr, &value, &length);
    }
  }
  NSFNoteClose(note);
  return state;
}

TEST_F(NoteItemTest, UpdateFailingAtAnyWriteLeavesStoredNoteAndWorkingCopy) {
  ASSERT_EQ(Append(note_, "A", TYPE_TEXT, "a1"), NOERROR);
  ASSERT_EQ(Append(note_, "B", TYPE_TEXT, "b1"), NOERROR);
  ASSERT_EQ(Append(note_, "C", TYPE_TEXT, "c1"), NOERROR);
  const NOTEID id = Store(note_);
  const std::string before = StoredState(db_, id);
  ASSERT_EQ(before, "seq 1 A=a1 B=b1 C=c1");

  ASSERT_EQ(NSFItemDelete(note_, "B", 1), NOERROR);
  ASSERT_EQ(Append(note_, "A", TYPE_TEXT, "a2"), NOERROR);
  ASSERT_EQ(Append(note_, "D", TYPE_TEXT, "d1"), NOERROR);
  ORIGINATORID oidBefore;
  NSFNoteGetInfo(note_, _NOTE_OID, &oidBefore);

  int failures = 0;
  for (int nth = 1; nth < 50; ++nth) {
    HostTestFailStorageWrite(nth);
    const STATUS status = NSFNoteUpdate(note_, 0);
    if (status == NOERROR)
      break;
    ++failures;
    EXPECT_EQ(status, ERR_HOST_STORAGE) << nth;
    EXPECT_EQ(StoredState(db_, id), before) << "write " << nth;
    ORIGINATORID oid;
    NSFNoteGetInfo(note_, _NOTE_OID, &oid);
    EXPECT_EQ(std::memcmp(&oid, &oidBefore, sizeof oid), 0) << "write " << nth;
  }
  HostTestFailStorageWrite(0);
  // Note row, item delete, four item inserts, commit.
  EXPECT_EQ(failures, 7);
  EXPECT_EQ(StoredState(db_, id), "seq 2 A=a1 A=a2 C=c1 D=d1");
}

TEST_F(NoteItemTest, FailedFirstUpdateUsesNoNoteID) {
  ASSERT_EQ(Append(note_, "A", TYPE_TEXT, "x"), NOERROR);
  int failures = 0;
  for (int nth = 1; nth < 50; ++nth) {
    HostTestFailStorageWrite(nth);
    const STATUS status = NSFNoteUpdate(note_, 0);
    if (status == NOERROR)
      break;
    ++failures;
    EXPECT_EQ(status, ERR_HOST_STORAGE);
    NOTEID id = 1;
    NSFNoteGetInfo(note_, _NOTE_ID, &id);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(StoredState(db_, 0x100), "<none>");
  }
  HostTestFailStorageWrite(0);
  // Counter, note row, item delete, one item insert, commit.
  EXPECT_EQ(failures, 5);
  NOTEID id = 0;
  NSFNoteGetInfo(note_, _NOTE_ID, &id);
  EXPECT_EQ(id, 0x100u) << "the failed attempts used no note ID";
}

TEST_F(NoteItemTest, OpenThatRunsOutOfMemoryLeavesNothingBehind) {
  for (const char* name : {"A", "B", "C"})
    ASSERT_EQ(Append(note_, name, TYPE_TEXT, "value"), NOERROR);
  const NOTEID id = Store(note_);
  const size_t live = HostTestLiveHandles();
  for (int nth = 1; nth <= 3; ++nth) {
    HostTestFailAllocation(nth);
    NOTEHANDLE opened = 0x77;
    EXPECT_EQ(NSFNoteOpen(db_, id, 0, &opened), ERR_MEMORY) << nth;
    EXPECT_EQ(opened, NULLHANDLE);
    EXPECT_EQ(HostTestLiveHandles(), live) << nth;
  }
  HostTestFailAllocation(0);
  HostTestFailAllocation(1);
  EXPECT_EQ(Append(note_, "D", TYPE_TEXT, "x"), ERR_MEMORY);
  EXPECT_EQ(NSFItemInfo(note_, "D", 1, nullptr, nullptr, nullptr, nullptr), ERR_ITEM_NOT_FOUND);
}

TEST_F(NoteItemTest, ClosingFreesEveryValueBlock) {
  const size_t before = HostTestLiveHandles();
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(NSFNoteCreate(db_, &note), NOERROR);
  for (int i = 0; i < 10; ++i)
    ASSERT_EQ(Append(note, "Body", TYPE_COMPOSITE, std::string(100, 'x')), NOERROR);
  ASSERT_EQ(NSFItemDelete(note, "Body", 4), NOERROR);
  ASSERT_EQ(NSFItemSetText(note, "T", "t", 1), NOERROR);
  ASSERT_EQ(NSFItemSetText(note, "T", "u", 1), NOERROR);
  EXPECT_GT(HostTestLiveHandles(), before);
  ASSERT_EQ(NSFNoteClose(note), NOERROR);
  EXPECT_EQ(HostTestLiveHandles(), before) << HostTestLeakReport();
}

TEST_F(NoteItemTest, BadArguments) {
  const std::string longName(256, 'n');
  EXPECT_EQ(Append(note_, "", TYPE_TEXT, "x"), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(Append(note_, longName.c_str(), TYPE_TEXT, "x"), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(Append(note_, longName.substr(1).c_str(), TYPE_TEXT, "x"), NOERROR)
      << "255 bytes is the longest name";
  EXPECT_EQ(NSFItemAppend(note_, 0, "X", 1, TYPE_TEXT, nullptr, 3), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(NSFItemInfo(note_, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
            ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(NSFItemDelete(note_, "", 0), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(NSFItemSetText(note_, nullptr, "x", 1), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(NSFItemSetText(note_, "X", nullptr, 1), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(NSFNoteOpen(db_, 0x100, 0, nullptr), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(NSFNoteCopy(note_, nullptr), ERR_HOST_BAD_ARGUMENT);
  const NOTEHANDLE bad = 0x00081234;
  EXPECT_EQ(NSFItemInfo(bad, "X", 1, nullptr, nullptr, nullptr, nullptr), ERR_HOST_BAD_HANDLE);
  EXPECT_EQ(NSFItemDelete(bad, "X", 1), ERR_HOST_BAD_HANDLE);
  EXPECT_EQ(NSFNoteUpdate(bad, 0), ERR_HOST_BAD_HANDLE);
  EXPECT_EQ(NSFItemGetText(bad, "X", nullptr, 0), 0);
  WORD untouched = 7;
  NSFNoteGetInfo(bad, _NOTE_CLASS, &untouched);
  EXPECT_EQ(untouched, 7);
}

TEST_F(NoteItemTest, LockBlockAddsTheOffsetAndRefusesOneOutside) {
  DHANDLE block = NULLHANDLE;
  ASSERT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, 8, &block), NOERROR);
  char* base = static_cast<char*>(OSLockObject(block));
  EXPECT_EQ(OSLockBlock(BLOCKID{block, 6}), base + 6);
  OSUnlockBlock(BLOCKID{block, 6});
  EXPECT_EQ(OSLockBlock(BLOCKID{block, 9}), nullptr);
  EXPECT_TRUE(OSUnlockObject(block));
  EXPECT_FALSE(OSUnlockObject(block)) << "the refused lock took none";
  EXPECT_EQ(OSMemFree(block), NOERROR);
  EXPECT_EQ(OSLockBlock(BLOCKID{note_, 1}), nullptr) << "an item descriptor is no memory block";
}

TEST_F(NoteItemTest, SigningAndSealingAreNoOps) {
  EXPECT_EQ(NSFNoteSign(note_), NOERROR);
  EXPECT_EQ(NSFNoteUnsign(note_), NOERROR);
  EXPECT_EQ(NSFNoteDecrypt(note_, 0, nullptr), NOERROR);
  BOOL isSigned = TRUE;
  BOOL isSealed = TRUE;
  EXPECT_EQ(NSFNoteIsSignedOrSealed(note_, &isSigned, &isSealed), FALSE);
  EXPECT_EQ(isSigned, FALSE);
  EXPECT_EQ(isSealed, FALSE);
  EXPECT_EQ(NSFNoteSign(db_), ERR_HOST_BAD_HANDLE);
  EXPECT_EQ(NSFNoteExtractOLEObject(note_, "obj", "/tmp/x"), ERR_HOST_NOT_SUPPORTED);
}

} // namespace
