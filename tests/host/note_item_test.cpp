// Notes and items of the stand-in: working copies, items of one name in
// order, BLOCKIDs, deleting, text lists and conversions, the value cap,
// copying notes and items, updates that fail part-way, and notes opened
// again after every kind of write.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osmem.h"
#include "host/status.h"
#include "host/textlist.h"
#include "tests/support/test_fixture.h"
#include "tests/support/note_fixture.h"

namespace {

using Texts = std::vector<std::string>;

std::string Bytes(const void* data, size_t size) {
  return std::string(static_cast<const char*>(data), size);
}

std::string Word(WORD word) { return Bytes(&word, sizeof word); }

STATUS Append(NOTEHANDLE note, const char* name, WORD type, const std::string& value) {
  return NSFItemAppend(note, 0, name, static_cast<WORD>(std::strlen(name)), type, value.data(),
                       static_cast<DWORD>(value.size()));
}

// Every item of the name in order as "Name:value" (the value without its
// type word), through NSFItemInfo, NSFItemInfoNext and NSFItemGetName.
Texts Items(NOTEHANDLE note, const char* name) {
  Texts seen;
  const WORD length = static_cast<WORD>(std::strlen(name));
  BLOCKID item;
  BLOCKID value;
  DWORD valueLength = 0;
  STATUS status = NSFItemInfo(note, name, length, &item, nullptr, &value, &valueLength);
  while (status == NOERROR) {
    char itemName[256];
    NSFItemGetName(note, item, itemName);
    seen.push_back(std::string(itemName) + ":" +
                   Bytes(static_cast<const char*>(OSLockBlock(value)) + 2, valueLength - 2));
    OSUnlockBlock(value);
    status = NSFItemInfoNext(note, item, name, length, &item, nullptr, &value, &valueLength);
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

// A stored note read through a second working copy: its sequence and the
// items A to D.
std::string StoredState(DBHANDLE db, NOTEID id) {
  NOTEHANDLE note = NULLHANDLE;
  if (NSFNoteOpen(db, id, 0, &note) != NOERROR)
    return "<none>";
  ORIGINATORID oid;
  NSFNoteGetInfo(note, _NOTE_OID, &oid);
  std::string state = "seq " + std::to_string(oid.Sequence);
  for (const char* name : {"A", "B", "C", "D"})
    for (const std::string& item : Items(note, name))
      state += " " + item;
  NSFNoteClose(note);
  return state;
}

class NoteItemTest : public host_test::HostFixture {
protected:
  void SetUp() override {
    HostFixture::SetUp();
    ASSERT_EQ(note_testing::CreateDatabase("mem:notes", &db_), NOERROR);
    ASSERT_EQ(NSFNoteCreate(db_, &note_), NOERROR);
  }
  void TearDown() override {
    EXPECT_EQ(NSFNoteClose(note_), NOERROR);
    EXPECT_EQ(NSFDbClose(db_), NOERROR);
    HostFixture::TearDown();
  }
  // Opening the stored note with the Nth host allocation refused, for
  // each N up to `tries`, fails with ERR_MEMORY and leaves no handle.
  void ExpectOpenShortOfMemoryLeavesNothing(NOTEID id, int tries) {
    const size_t live = HostTestLiveHandles();
    for (int nth = 1; nth <= tries; ++nth) {
      HostTestFailAllocation(nth);
      NOTEHANDLE opened = 0x77;
      EXPECT_EQ(NSFNoteOpen(db_, id, 0, &opened), ERR_MEMORY) << nth;
      EXPECT_EQ(opened, NULLHANDLE);
      EXPECT_EQ(HostTestLiveHandles(), live) << nth;
    }
    HostTestFailAllocation(0);
  }

  DBHANDLE db_ = NULLHANDLE;
  NOTEHANDLE note_ = NULLHANDLE;
};

TEST_F(NoteItemTest, ItemsOfOneNameKeepTheirOrderThroughUpdateAndReopen) {
  NOTEID id = 0xDEAD;
  WORD noteClass = 0;
  NSFNoteGetInfo(note_, _NOTE_ID, &id);
  NSFNoteGetInfo(note_, _NOTE_CLASS, &noteClass);
  EXPECT_EQ(id, 0u);
  EXPECT_EQ(noteClass, NOTE_CLASS_DOCUMENT);
  ASSERT_EQ(Append(note_, "Body", TYPE_COMPOSITE, "one"), NOERROR);
  ASSERT_EQ(Append(note_, "Other", TYPE_NUMBER, std::string(8, '\0')), NOERROR);
  ASSERT_EQ(Append(note_, "BODY", TYPE_COMPOSITE, "two"), NOERROR);
  ASSERT_EQ(Append(note_, "body", TYPE_COMPOSITE, "three!"), NOERROR);
  const Texts expected = {"Body:one", "BODY:two", "body:three!"};
  EXPECT_EQ(Items(note_, "bOdY"), expected) << "names compare without ASCII case";
  DWORD length = 0;
  WORD type = 0;
  BLOCKID item;
  EXPECT_EQ(NSFItemInfo(note_, "OtherXYZ", 5, &item, &type, nullptr, &length), NOERROR)
      << "only nameLength bytes of the name count";
  EXPECT_EQ(length, 10u) << "the length counts the type word";
  EXPECT_EQ(type, TYPE_NUMBER);
  EXPECT_EQ(item.pool, note_);

  id = Store(note_);
  ASSERT_EQ(NSFNoteClose(note_), NOERROR);
  ASSERT_EQ(NSFNoteOpen(db_, id, OPEN_EXPAND, &note_), NOERROR);
  EXPECT_EQ(Items(note_, "Body"), expected);
  NOTEHANDLE unknown = 0x77;
  EXPECT_EQ(NSFNoteOpen(db_, 0x5000, 0, &unknown), ERR_HOST_NOTE_NOT_FOUND);
  EXPECT_EQ(unknown, NULLHANDLE);
}

TEST_F(NoteItemTest, DeleteAndSetTextReplaceEveryItemOfTheName) {
  for (const char* value : {"a", "b", "c"})
    ASSERT_EQ(Append(note_, "$Fonts", TYPE_COMPOSITE, value), NOERROR);
  ASSERT_EQ(Append(note_, "Subject", TYPE_TEXT, "old 1"), NOERROR);
  ASSERT_EQ(Append(note_, "Subject", TYPE_TEXT, "old 2"), NOERROR);
  EXPECT_EQ(NSFItemDelete(note_, "$FONTS", 6), NOERROR);
  EXPECT_EQ(NSFItemDelete(note_, "$Fonts", 6), ERR_ITEM_NOT_FOUND);
  EXPECT_EQ(Items(note_, "subject"), (Texts{"Subject:old 1", "Subject:old 2"}))
      << "items after the deleted ones are found where they moved";
  ASSERT_EQ(NSFItemSetText(note_, "SUBJECT", "new", 3), NOERROR);
  EXPECT_EQ(Items(note_, "Subject"), Texts{"SUBJECT:new"});
  NOTEHANDLE stored = NULLHANDLE;
  ASSERT_EQ(NSFNoteOpen(db_, Store(note_), 0, &stored), NOERROR);
  EXPECT_EQ(Items(stored, "$Fonts"), Texts{});
  EXPECT_EQ(Items(stored, "Subject"), Texts{"SUBJECT:new"});
  BLOCKID other;
  ASSERT_EQ(NSFItemInfo(stored, "Subject", 7, &other, nullptr, nullptr, nullptr), NOERROR);
  EXPECT_EQ(NSFItemInfoNext(note_, other, "Subject", 7, nullptr, nullptr, nullptr, nullptr),
            ERR_HOST_BAD_ARGUMENT)
      << "an item of another note";
  EXPECT_EQ(NSFNoteClose(stored), NOERROR);
}

// Items are found by their BLOCKIDs while serials rise with the items'
// order, and still once the note's serials ran out and freed ones are
// given again to items appended after those with higher serials.
TEST_F(NoteItemTest, ItemsAreFoundInOrderAfterTheSerialsRanOut) {
  ASSERT_EQ(Append(note_, "A", TYPE_TEXT, "1"), NOERROR);
  ASSERT_EQ(Append(note_, "B", TYPE_TEXT, "b"), NOERROR);
  ASSERT_EQ(Append(note_, "A", TYPE_TEXT, "2"), NOERROR);
  BLOCKID first;
  ASSERT_EQ(NSFItemInfo(note_, "A", 1, &first, nullptr, nullptr, nullptr), NOERROR);
  // Every serial up to the largest given once, the items taken out again.
  for (int i = 0; i < 0xFFFF - 3; ++i) {
    ASSERT_EQ(Append(note_, "T", TYPE_TEXT, "t"), NOERROR);
    ASSERT_EQ(NSFItemDelete(note_, "T", 1), NOERROR);
  }
  EXPECT_EQ(Items(note_, "A"), (Texts{"A:1", "A:2"}));
  // Freed serials come back, lower than those of the items before them.
  ASSERT_EQ(Append(note_, "A", TYPE_TEXT, "3"), NOERROR);
  ASSERT_EQ(Append(note_, "C", TYPE_TEXT, "c"), NOERROR);
  ASSERT_EQ(Append(note_, "A", TYPE_TEXT, "4"), NOERROR);
  ASSERT_EQ(NSFItemDelete(note_, "B", 1), NOERROR);
  ASSERT_EQ(Append(note_, "A", TYPE_TEXT, "5"), NOERROR);
  BLOCKID c;
  ASSERT_EQ(NSFItemInfo(note_, "C", 1, &c, nullptr, nullptr, nullptr), NOERROR);
  ASSERT_EQ(NSFItemDelete(note_, "C", 1), NOERROR);
  EXPECT_EQ(NSFItemInfoNext(note_, c, "A", 1, nullptr, nullptr, nullptr, nullptr),
            ERR_ITEM_NOT_FOUND)
      << "a deleted item has no next item";
  ASSERT_EQ(Append(note_, "A", TYPE_TEXT, "6"), NOERROR);
  EXPECT_EQ(Items(note_, "A"), (Texts{"A:1", "A:2", "A:3", "A:4", "A:5", "A:6"}));
  EXPECT_EQ(NSFItemInfoNext(note_, first, "A", 1, nullptr, nullptr, nullptr, nullptr), NOERROR);

  NOTEHANDLE stored = NULLHANDLE;
  ASSERT_EQ(NSFNoteOpen(db_, Store(note_), 0, &stored), NOERROR);
  EXPECT_EQ(Items(stored, "A"), (Texts{"A:1", "A:2", "A:3", "A:4", "A:5", "A:6"}));
  EXPECT_EQ(NSFNoteClose(stored), NOERROR);
}

// The names of every item of the note, in the note's order, through
// NSFItemScan.
Texts ScannedNames(NOTEHANDLE note) {
  Texts names;
  EXPECT_EQ(NSFItemScan(
                note,
                [](WORD, WORD, char* name, WORD nameLength, void*, DWORD, void* context) -> STATUS {
                  static_cast<Texts*>(context)->emplace_back(name, nameLength);
                  return NOERROR;
                },
                &names),
            NOERROR);
  return names;
}

// Once the serials ran out, items removed and added at random (appended,
// and set again through NSFItemSetText, which takes the new serial before
// the old item goes) keep the note's order, each new item's serial is one
// no live item holds, and every live item is found by its BLOCKID.
TEST_F(NoteItemTest, ManyRemovesAndAddsAfterTheSerialsRanOutKeepOrderAndSerials) {
  std::vector<std::string> order;       // the names, in the note's order
  std::vector<std::pair<std::string, WORD>> live; // name and serial
  const auto serialOf = [&](const std::string& name) {
    BLOCKID item;
    EXPECT_EQ(NSFItemInfo(note_, name.c_str(), static_cast<WORD>(name.size()), &item, nullptr,
                          nullptr, nullptr),
              NOERROR);
    return item.block;
  };
  const auto expectFresh = [&](WORD serial) {
    EXPECT_NE(serial, 0);
    const auto holder = std::find_if(live.begin(), live.end(),
                                     [serial](const auto& entry) { return entry.second == serial; });
    EXPECT_TRUE(holder == live.end()) << serial << " given again while " << holder->first
                                      << " holds it";
  };
  int named = 0;
  const auto add = [&] {
    const std::string name = std::string("I").append(std::to_string(named++));
    ASSERT_EQ(Append(note_, name.c_str(), TYPE_TEXT, name), NOERROR);
    const WORD serial = serialOf(name);
    expectFresh(serial);
    order.push_back(name);
    live.emplace_back(name, serial);
  };
  for (int i = 0; i < 100; ++i)
    add();
  for (size_t i = order.size(); i < 0xFFFF; ++i) {
    ASSERT_EQ(Append(note_, "T", TYPE_TEXT, "t"), NOERROR);
    ASSERT_EQ(NSFItemDelete(note_, "T", 1), NOERROR);
  }

  unsigned random = 12345;
  const auto next = [&random](size_t below) {
    random = random * 1103515245u + 12345u;
    return static_cast<size_t>((random >> 16) % below);
  };
  for (int step = 0; step < 3000; ++step) {
    const size_t choice = next(5);
    if (choice < 2 && !live.empty()) {
      const size_t at = next(live.size());
      const std::string name = live[at].first;
      ASSERT_EQ(NSFItemDelete(note_, name.c_str(), static_cast<WORD>(name.size())), NOERROR);
      live.erase(live.begin() + static_cast<std::ptrdiff_t>(at));
      order.erase(std::find(order.begin(), order.end(), name));
    } else if (choice == 2 && !live.empty()) {
      const size_t at = next(live.size());
      const std::string name = live[at].first;
      ASSERT_EQ(NSFItemSetText(note_, name.c_str(), "again", 5), NOERROR);
      const WORD serial = serialOf(name);
      expectFresh(serial);
      live[at].second = serial;
      order.erase(std::find(order.begin(), order.end(), name));
      order.push_back(name);
    } else {
      add();
    }
  }
  ASSERT_FALSE(live.empty());
  EXPECT_EQ(ScannedNames(note_), order);
  for (const auto& [name, serial] : live) {
    char found[256] = {};
    NSFItemGetName(note_, BLOCKID{note_, serial}, found);
    EXPECT_EQ(found, name) << serial;
  }

  NOTEHANDLE stored = NULLHANDLE;
  ASSERT_EQ(NSFNoteOpen(db_, Store(note_), 0, &stored), NOERROR);
  EXPECT_EQ(ScannedNames(stored), order);
  EXPECT_EQ(NSFNoteClose(stored), NOERROR);
}

// The status of the next item of the name after the item (which may have
// another name), and that item's value without its type word.
using Next = std::pair<STATUS, std::string>;
Next NextOfName(NOTEHANDLE note, BLOCKID item, const char* name) {
  BLOCKID value;
  DWORD length = 0;
  const STATUS status = NSFItemInfoNext(note, item, name, static_cast<WORD>(std::strlen(name)),
                                        nullptr, nullptr, &value, &length);
  if (status != NOERROR)
    return {status, ""};
  const std::string bytes = Bytes(OSLockBlock(value), length);
  OSUnlockBlock(value);
  return {status, bytes.substr(sizeof(WORD))};
}

// Deleting the items of names that stand between others keeps every other
// item in the note's order and found by name: from the first item of a
// name and from an item of another name (the next item of the name after
// it), before and after most of the note's items went, and once stored.
TEST_F(NoteItemTest, ItemsBetweenDeletedOnesKeepTheirOrderAndAreFoundByName) {
  for (const char* value : {"1", "2", "3"})
    for (const char* name : {"A", "B", "C"})
      ASSERT_EQ(Append(note_, name, TYPE_TEXT, value), NOERROR);
  ASSERT_EQ(Append(note_, "D", TYPE_TEXT, "1"), NOERROR);
  BLOCKID a2;
  ASSERT_EQ(NSFItemInfo(note_, "A", 1, &a2, nullptr, nullptr, nullptr), NOERROR);
  ASSERT_EQ(NSFItemInfoNext(note_, a2, "A", 1, &a2, nullptr, nullptr, nullptr), NOERROR);
  ASSERT_EQ(NSFItemDelete(note_, "b", 1), NOERROR);
  EXPECT_EQ(ScannedNames(note_), (Texts{"A", "C", "A", "C", "A", "C", "D"}));
  EXPECT_EQ(Items(note_, "A"), (Texts{"A:1", "A:2", "A:3"}));
  EXPECT_EQ(Items(note_, "C"), (Texts{"C:1", "C:2", "C:3"}));
  EXPECT_EQ(Items(note_, "B"), Texts{});
  EXPECT_EQ(NextOfName(note_, a2, "C"), (Next{NOERROR, "2"}));
  EXPECT_EQ(NextOfName(note_, a2, "B"), (Next{ERR_ITEM_NOT_FOUND, ""}));

  // Most of the note's items gone: the rest keep their order and serials.
  BLOCKID c1;
  ASSERT_EQ(NSFItemInfo(note_, "C", 1, &c1, nullptr, nullptr, nullptr), NOERROR);
  ASSERT_EQ(NSFItemDelete(note_, "A", 1), NOERROR);
  EXPECT_EQ(ScannedNames(note_), (Texts{"C", "C", "C", "D"}));
  EXPECT_EQ(Items(note_, "C"), (Texts{"C:1", "C:2", "C:3"}));
  EXPECT_EQ(NextOfName(note_, c1, "D"), (Next{NOERROR, "1"}));
  EXPECT_EQ(NextOfName(note_, c1, "C"), (Next{NOERROR, "2"}));
  EXPECT_EQ(NextOfName(note_, a2, "C"), (Next{ERR_ITEM_NOT_FOUND, ""}))
      << "a deleted item has no next item";
  char name[256];
  EXPECT_EQ(NSFItemGetName(note_, c1, name), 1);
  EXPECT_STREQ(name, "C");

  ASSERT_EQ(Append(note_, "A", TYPE_TEXT, "4"), NOERROR);
  ASSERT_EQ(NSFItemSetText(note_, "C", "5", 1), NOERROR);
  ASSERT_EQ(Append(note_, "D", TYPE_TEXT, "2"), NOERROR);
  const Texts order = {"D", "A", "C", "D"};
  EXPECT_EQ(ScannedNames(note_), order);
  EXPECT_EQ(Items(note_, "D"), (Texts{"D:1", "D:2"}));
  NOTEHANDLE stored = NULLHANDLE;
  ASSERT_EQ(NSFNoteOpen(db_, Store(note_), 0, &stored), NOERROR);
  EXPECT_EQ(ScannedNames(stored), order);
  EXPECT_EQ(Items(stored, "A"), Texts{"A:4"});
  EXPECT_EQ(Items(stored, "C"), Texts{"C:5"});
  EXPECT_EQ(Items(stored, "D"), (Texts{"D:1", "D:2"}));
  EXPECT_EQ(NSFNoteClose(stored), NOERROR);
}

// A deleted item's value stays readable while a caller holds it locked; a
// value no caller holds goes with its item, so that a note kept open
// through many replacements of an item does not keep them all.
TEST_F(NoteItemTest, DeletedValuesAreFreedOnceNobodyLocksThem) {
  ASSERT_EQ(Append(note_, "Body", TYPE_COMPOSITE, "record bytes"), NOERROR);
  ASSERT_EQ(Append(note_, "Kept", TYPE_COMPOSITE, "kept"), NOERROR);
  BLOCKID item;
  BLOCKID value;
  DWORD length = 0;
  ASSERT_EQ(NSFItemInfo(note_, "Body", 4, &item, nullptr, &value, &length), NOERROR);
  const char* locked = static_cast<const char*>(OSLockBlock(value));
  ASSERT_EQ(NSFItemDelete(note_, "Body", 4), NOERROR);
  ASSERT_EQ(Append(note_, "Body", TYPE_COMPOSITE, "new bytes of another item"), NOERROR);
  EXPECT_EQ(Bytes(locked, length), Word(TYPE_COMPOSITE) + "record bytes");
  OSUnlockBlock(value);
  EXPECT_EQ(NSFItemInfoNext(note_, item, "Body", 4, nullptr, nullptr, nullptr, nullptr),
            ERR_ITEM_NOT_FOUND)
      << "a deleted item has no next item";
  char name[256];
  EXPECT_EQ(NSFItemGetName(note_, item, name), 0);

  ASSERT_EQ(NSFItemAppendTextList(note_, "List", "a", 1, TRUE), NOERROR);
  ASSERT_EQ(NSFItemInfo(note_, "Kept", 4, nullptr, nullptr, &value, nullptr), NOERROR);
  const size_t live = HostTestLiveHandles();
  ASSERT_EQ(NSFItemDelete(note_, "Kept", 4), NOERROR);
  EXPECT_EQ(HostTestLiveHandles(), live - 1);
  EXPECT_EQ(OSLockBlock(value), nullptr) << "the value of a deleted item is gone";
  for (int round = 0; round < 100; ++round) {
    ASSERT_EQ(Append(note_, "Kept", TYPE_COMPOSITE, "replacement"), NOERROR);
    ASSERT_EQ(NSFItemDelete(note_, "Kept", 4), NOERROR);
    ASSERT_EQ(NSFItemAppendTextList(note_, "List", "b", 1, TRUE), NOERROR);
  }
  EXPECT_EQ(HostTestLiveHandles(), live - 1) << HostTestLeakReport();
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
  EXPECT_EQ(Items(note_, "Small").size(), 1u) << "a refused SetText leaves the old item";
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

TEST_F(NoteItemTest, AppendByBlockIdCopiesTheBlockAndAppendObjectFreesItWhenAsked) {
  DHANDLE block = NULLHANDLE;
  ASSERT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, 16, &block), NOERROR);
  const std::string value = Word(TYPE_OBJECT) + "abcdef";
  std::memcpy(static_cast<char*>(OSLockObject(block)) + 4, value.data(), value.size());
  OSUnlockObject(block);
  BLOCKID item;
  ASSERT_EQ(NSFItemAppendByBLOCKID(note_, ITEM_SUMMARY, "Body", 4, BLOCKID{block, 4}, 8, &item),
            NOERROR);
  EXPECT_EQ(item.pool, note_);
  std::memset(OSLockObject(block), 'z', 16);
  OSUnlockObject(block);
  EXPECT_EQ(Items(note_, "Body"), Texts{"Body:abcdef"}) << "the item holds its own copy";
  EXPECT_EQ(NSFItemAppendByBLOCKID(note_, 0, "Body", 4, BLOCKID{block, 4}, 13, nullptr),
            ERR_HOST_BAD_ARGUMENT)
      << "a length past the block's end";
  EXPECT_EQ(NSFItemAppendByBLOCKID(note_, 0, "Body", 4, BLOCKID{block, 0}, 1, nullptr),
            ERR_HOST_BAD_ARGUMENT)
      << "a value shorter than its type word";
  EXPECT_EQ(NSFItemAppendObject(note_, 0, "$OBJ", 4, BLOCKID{block, 0}, 4, TRUE),
            ERR_HOST_BAD_ARGUMENT)
      << "not an object value";
  std::memcpy(OSLockObject(block), value.data(), value.size());
  OSUnlockObject(block);
  ASSERT_EQ(NSFItemAppendObject(note_, 0, "$OBJ", 4, BLOCKID{block, 0}, 8, FALSE), NOERROR);
  ASSERT_EQ(NSFItemAppendObject(note_, 0, "$OBJ", 4, BLOCKID{block, 0}, 8, TRUE), NOERROR);
  EXPECT_EQ(Items(note_, "$OBJ"), (Texts{"$OBJ:abcdef", "$OBJ:abcdef"}));
  EXPECT_EQ(OSMemFree(block), ERR_HOST_DOUBLE_FREE);
  EXPECT_EQ(NSFItemAppendByBLOCKID(note_, 0, "Body", 4, BLOCKID{block, 0}, 2, nullptr),
            ERR_HOST_BAD_HANDLE);
}

TEST_F(NoteItemTest, TextListsAndTheirTextForms) {
  ASSERT_EQ(NSFItemAppendTextList(note_, "Names", "Ann", 3, FALSE), NOERROR);
  ASSERT_EQ(NSFItemAppendTextList(note_, "Names", "Bo", 2, FALSE), NOERROR);
  ASSERT_EQ(NSFItemAppendTextList(note_, "names", "Ann", 3, FALSE), NOERROR) << "left out";
  ASSERT_EQ(NSFItemAppendTextList(note_, "Names", "ann", 3, FALSE), NOERROR);
  ASSERT_EQ(NSFItemAppendTextList(note_, "Names", "Bo", 2, TRUE), NOERROR) << "a duplicate";
  EXPECT_EQ(Items(note_, "Names"),
            Texts{"Names:" + Word(4) + Word(3) + Word(2) + Word(3) + Word(2) + "AnnBoannBo"});
  ASSERT_EQ(NSFItemAppendTextList(note_, "Empty", nullptr, 0, FALSE), NOERROR);
  EXPECT_EQ(Items(note_, "Empty"), Texts{"Empty:" + Word(1) + Word(0)});
  ASSERT_EQ(NSFItemSetText(note_, "Single", "one", 3), NOERROR);
  ASSERT_EQ(NSFItemAppendTextList(note_, "Single", "two", 3, FALSE), NOERROR)
      << "a text item becomes a list";

  const double number = 3.25;
  const double large = 1e20;
  const TIMEDATE time = {{(21 * 3600 + 59 * 60 + 9) * 100, 2461201}}; // 06/09/2026
  ASSERT_EQ(Append(note_, "Number", TYPE_NUMBER, Bytes(&number, sizeof number)), NOERROR);
  ASSERT_EQ(Append(note_, "Large", TYPE_NUMBER, Bytes(&large, sizeof large)), NOERROR);
  ASSERT_EQ(Append(note_, "Time", TYPE_TIME, Bytes(&time, sizeof time)), NOERROR);
  ASSERT_EQ(Append(note_, "Body", TYPE_COMPOSITE, "rich"), NOERROR);
  ASSERT_EQ(Append(note_, "Short", TYPE_NUMBER, "12"), NOERROR);
  // Lists whose words point past the value's end.
  ASSERT_EQ(Append(note_, "Overlong", TYPE_TEXT_LIST, Word(2) + Word(1) + Word(5) + "abc"),
            NOERROR);
  ASSERT_EQ(Append(note_, "Overcount", TYPE_TEXT_LIST, Word(9) + Word(1)), NOERROR);
  EXPECT_EQ(NSFItemAppendTextList(note_, "Number", "x", 1, FALSE), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(NSFItemAppendTextList(note_, "Overlong", "x", 1, FALSE), ERR_HOST_BAD_ARGUMENT);
  const struct {
    const char* name;
    WORD bufferLength;
    const char* converted; // NSFItemConvertToText with ';'
    const char* got;       // NSFItemGetText
  } cases[] = {
      {"Single", 64, "one;two", "one"},   {"Single", 4, "one", "one"},
      {"Names", 6, "Ann;B", "Ann"},       {"Number", 64, "3.25", ""},
      {"Large", 64, "1e+20", ""},         {"Time", 64, "06/09/2026 21:59:09", ""},
      {"Body", 64, "", ""},               {"Short", 64, "", ""},
      {"Overlong", 64, "", ""},           {"Overcount", 64, "", ""},
      {"Missing", 64, "", ""},            {"single", 3, "on", "on"},
  };
  for (const auto& c : cases) {
    char buffer[64] = "junk";
    EXPECT_EQ(NSFItemConvertToText(note_, c.name, buffer, c.bufferLength, ';'),
              std::strlen(c.converted))
        << c.name;
    EXPECT_STREQ(buffer, c.converted) << c.name;
    std::strcpy(buffer, "junk");
    EXPECT_EQ(NSFItemGetText(note_, c.name, buffer, c.bufferLength), std::strlen(c.got)) << c.name;
    EXPECT_STREQ(buffer, c.got) << c.name;
  }
  EXPECT_EQ(NSFItemGetText(note_, "Single", nullptr, 0), 0);
}

// Several entries go into a text list in one write, as one call each would
// put them (duplicates kept), or none of them go in.
TEST_F(NoteItemTest, TextListEntriesAppendInOneWriteOrNotAtAll) {
  const WORD threeLengths[] = {2, 0, 1};
  ASSERT_EQ(NSFItemAppendTextListEntries(note_, "New", "abc", threeLengths, 3), NOERROR);
  EXPECT_EQ(Items(note_, "New"), Texts{"New:" + Word(3) + Word(2) + Word(0) + Word(1) + "abc"});

  ASSERT_EQ(NSFItemSetText(note_, "Single", "one", 3), NOERROR);
  const WORD twoLengths[] = {3, 3};
  ASSERT_EQ(NSFItemAppendTextListEntries(note_, "Single", "oneone", twoLengths, 2), NOERROR)
      << "a text item becomes a list; duplicates stay";
  EXPECT_EQ(Items(note_, "Single"),
            Texts{"Single:" + Word(3) + Word(3) + Word(3) + Word(3) + "oneoneone"});

  ASSERT_EQ(Append(note_, "Number", TYPE_NUMBER, "12345678"), NOERROR);
  EXPECT_EQ(NSFItemAppendTextListEntries(note_, "Number", "abc", twoLengths, 1),
            ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(NSFItemAppendTextListEntries(note_, "New", "ab", nullptr, 1), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(NSFItemAppendTextListEntries(note_, "None", nullptr, nullptr, 0), NOERROR);
  EXPECT_EQ(Items(note_, "None"), Texts{}) << "no entries, no item";

  // "New" is 13 bytes with its type word and a one-letter entry adds 3, so
  // 16 holds one more and not two.
  HostTestSetItemValueLimit(16);
  const WORD ones[] = {1, 1};
  EXPECT_EQ(NSFItemAppendTextListEntries(note_, "New", "de", ones, 2), ERR_HOST_VALUE_TOO_LARGE);
  EXPECT_EQ(NSFItemValueLimit(), 16u);
  EXPECT_EQ(Items(note_, "New"), Texts{"New:" + Word(3) + Word(2) + Word(0) + Word(1) + "abc"});
  ASSERT_EQ(NSFItemAppendTextListEntries(note_, "New", "d", ones, 1), NOERROR);
  EXPECT_EQ(Items(note_, "New"),
            Texts{"New:" + Word(4) + Word(2) + Word(0) + Word(1) + Word(1) + "abcd"});

  // Past 65535 entries a list takes no more, whatever the cap.
  HostTestSetItemValueLimit(200000);
  const std::vector<WORD> empties(65535, 0);
  ASSERT_EQ(NSFItemAppendTextListEntries(note_, "Many", "", empties.data(), 65535), NOERROR);
  EXPECT_EQ(NSFItemAppendTextListEntries(note_, "Many", "", empties.data(), 1),
            ERR_HOST_VALUE_TOO_LARGE);
  EXPECT_EQ(NSFItemAppendTextList(note_, "Many", "", 0, TRUE), ERR_HOST_VALUE_TOO_LARGE);
  HostTestSetItemValueLimit(0);
  EXPECT_EQ(NSFItemValueLimit(), 65535u);
}

TEST_F(NoteItemTest, CopiesOfItemsAndNotes) {
  ASSERT_EQ(NSFItemSetText(note_, "$TITLE", "Report", 6), NOERROR);
  ASSERT_EQ(NSFItemAppend(note_, ITEM_SUMMARY, "$Fonts", 6, TYPE_COMPOSITE, "table", 5), NOERROR);
  BLOCKID item;
  ASSERT_EQ(NSFItemInfo(note_, "$fonts", 6, &item, nullptr, nullptr, nullptr), NOERROR);
  NOTEHANDLE other = NULLHANDLE;
  ASSERT_EQ(NSFNoteCreate(db_, &other), NOERROR);
  ASSERT_EQ(NSFItemCopy(other, item), NOERROR);
  EXPECT_EQ(Items(other, "$FONTS"), Texts{"$Fonts:table"}) << "the name as appended";
  EXPECT_EQ(NSFItemCopy(other, BLOCKID{note_, 999}), ERR_ITEM_NOT_FOUND);
  EXPECT_EQ(NSFItemCopy(other, BLOCKID{0x12345678, 1}), ERR_HOST_BAD_HANDLE);
  EXPECT_EQ(NSFNoteClose(other), NOERROR);
  ASSERT_EQ(NSFItemCopy(note_, item), NOERROR) << "a copy within the same note";
  EXPECT_EQ(Items(note_, "$Fonts").size(), 2u);

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
  EXPECT_EQ(Items(copy, "$Fonts"), Items(note_, "$Fonts"));
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
  EXPECT_EQ(StoredState(db_, id), "seq 1") << "the source is stored once";
  char title[32];
  NSFItemGetText(note_, "$TITLE", title, sizeof title);
  EXPECT_STREQ(title, "Report") << "the source is untouched";
}

TEST_F(NoteItemTest, InfoMembersAreKeptAndStored) {
  const WORD form = NOTE_CLASS_FORM;
  const WORD flags = 0x0200;
  const DBHANDLE otherDb = 0x42;
  NSFNoteSetInfo(note_, _NOTE_CLASS, &form);
  NSFNoteSetInfo(note_, _NOTE_FLAGS, &flags);
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
  const NOTEID unknown = 0x5000;
  NSFNoteSetInfo(note_, _NOTE_ID, &unknown);
  EXPECT_EQ(NSFNoteUpdate(note_, 0), ERR_HOST_NOTE_NOT_FOUND);
}

TEST_F(NoteItemTest, UpdateFailingAtAnyWriteLeavesStoredNoteAndWorkingCopy) {
  // A first update: counter, note row, item delete, one item insert, commit.
  ASSERT_EQ(Append(note_, "A", TYPE_TEXT, "a1"), NOERROR);
  for (int nth = 1; nth <= 5; ++nth) {
    HostTestFailStorageWrite(nth);
    EXPECT_EQ(NSFNoteUpdate(note_, 0), ERR_HOST_STORAGE) << nth;
    NOTEID id = 1;
    NSFNoteGetInfo(note_, _NOTE_ID, &id);
    EXPECT_EQ(id, 0u) << nth;
    EXPECT_EQ(StoredState(db_, 0x100), "<none>") << nth;
  }
  HostTestFailStorageWrite(6);
  const NOTEID id = Store(note_);
  EXPECT_EQ(id, 0x100u) << "the failed attempts used no note ID";
  HostTestFailStorageWrite(0);
  ASSERT_EQ(Append(note_, "B", TYPE_TEXT, "b1"), NOERROR);
  ASSERT_EQ(Append(note_, "C", TYPE_TEXT, "c1"), NOERROR);
  Store(note_);
  const std::string before = StoredState(db_, id);
  ASSERT_EQ(before, "seq 2 A:a1 B:b1 C:c1");

  ASSERT_EQ(NSFItemDelete(note_, "B", 1), NOERROR);
  ASSERT_EQ(Append(note_, "A", TYPE_TEXT, "a2"), NOERROR);
  ASSERT_EQ(Append(note_, "D", TYPE_TEXT, "d1"), NOERROR);
  ORIGINATORID oidBefore;
  NSFNoteGetInfo(note_, _NOTE_OID, &oidBefore);
  // Note row, item delete, four item inserts, commit.
  for (int nth = 1; nth <= 7; ++nth) {
    HostTestFailStorageWrite(nth);
    EXPECT_EQ(NSFNoteUpdate(note_, 0), ERR_HOST_STORAGE) << nth;
    EXPECT_EQ(StoredState(db_, id), before) << "write " << nth;
    ORIGINATORID oid;
    NSFNoteGetInfo(note_, _NOTE_OID, &oid);
    EXPECT_EQ(std::memcmp(&oid, &oidBefore, sizeof oid), 0) << "write " << nth;
  }
  HostTestFailStorageWrite(8);
  EXPECT_EQ(NSFNoteUpdate(note_, 0), NOERROR) << "seven writes in all";
  HostTestFailStorageWrite(0);
  EXPECT_EQ(StoredState(db_, id), "seq 3 A:a1 A:a2 C:c1 D:d1");
}

TEST_F(NoteItemTest, OpenOrAppendThatRunsOutOfMemoryLeavesNothingBehind) {
  for (const char* name : {"A", "B", "C"})
    ASSERT_EQ(Append(note_, name, TYPE_TEXT, "value"), NOERROR);
  const NOTEID id = Store(note_);
  ExpectOpenShortOfMemoryLeavesNothing(id, 3);
  HostTestFailAllocation(1);
  EXPECT_EQ(Append(note_, "D", TYPE_TEXT, "x"), ERR_MEMORY);
  EXPECT_EQ(Items(note_, "D"), Texts{});
}

TEST_F(NoteItemTest, BadArgumentsHandlesAndBlocks) {
  const std::string longName(256, 'n');
  EXPECT_EQ(Append(note_, "", TYPE_TEXT, "x"), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(Append(note_, longName.c_str(), TYPE_TEXT, "x"), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(Append(note_, longName.substr(1).c_str(), TYPE_TEXT, "x"), NOERROR)
      << "255 bytes is the longest name";
  EXPECT_EQ(NSFItemAppend(note_, 0, "X", 1, TYPE_TEXT, nullptr, 3), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(NSFItemDelete(note_, "", 0), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(NSFItemSetText(note_, "X", nullptr, 1), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(NSFItemSetText(note_, nullptr, "x", 1), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(NSFItemInfo(note_, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
            ERR_HOST_BAD_ARGUMENT);
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

// What an item scan saw: "Name/flags/type:value" per item, the value
// without its type word; the scan deletes item `erase` and appends an item
// "New" when it meets item `grow`, and ends with `stop` at item `stopAt`.
struct scan_log {
  Texts seen;
  NOTEHANDLE note = NULLHANDLE;
  std::string erase, grow, stopAt;
  STATUS stop = NOERROR;
};

STATUS LogItem(WORD spare, WORD flags, char* name, WORD nameLength, void* value,
               DWORD valueLength, void* context) {
  auto* log = static_cast<scan_log*>(context);
  EXPECT_EQ(spare, 0);
  const std::string itemName(name, nameLength);
  WORD type = 0;
  std::memcpy(&type, value, sizeof type);
  log->seen.push_back(itemName + "/" + std::to_string(flags) + "/" +
                      std::to_string(type) + ":" +
                      Bytes(static_cast<const char*>(value) + 2, valueLength - 2));
  if (itemName == log->erase)
    NSFItemDelete(log->note, "C", 1);
  if (itemName == log->grow)
    Append(log->note, "New", TYPE_TEXT, "n");
  return itemName == log->stopAt ? log->stop : NOERROR;
}

// The items A, Body, C and body, made again from nothing.
void FillScannedNote(NOTEHANDLE note) {
  for (const char* name : {"A", "Body", "C", "New"})
    NSFItemDelete(note, name, static_cast<WORD>(std::strlen(name)));
  ASSERT_EQ(Append(note, "A", TYPE_TEXT, "one"), NOERROR);
  ASSERT_EQ(NSFItemAppend(note, ITEM_SUMMARY, "Body", 4, TYPE_COMPOSITE, "cd", 2), NOERROR);
  ASSERT_EQ(Append(note, "C", TYPE_NUMBER, "12345678"), NOERROR);
  ASSERT_EQ(Append(note, "body", TYPE_COMPOSITE, "more"), NOERROR);
}

TEST_F(NoteItemTest, ItemScanHandsEveryItemInOrder) {
  const std::string summary = std::to_string(ITEM_SUMMARY);
  const std::string text = std::to_string(TYPE_TEXT);
  const std::string composite = std::to_string(TYPE_COMPOSITE);
  const std::string a = "A/0/" + text + ":one";
  const std::string body = "Body/" + summary + "/" + composite + ":cd";
  const std::string c = "C/0/" + std::to_string(TYPE_NUMBER) + ":12345678";
  const std::string body2 = "body/0/" + composite + ":more";
  const struct {
    const char* label;
    const char* erase;
    const char* grow;
    const char* stopAt;
    STATUS stop;
    STATUS result;
    Texts seen;
  } cases[] = {
      {"whole note", "", "", "", NOERROR, NOERROR, {a, body, c, body2}},
      {"routine's status ends it", "", "", "Body", ERR_HOST_STORAGE, ERR_HOST_STORAGE, {a, body}},
      {"deleted before reached", "A", "", "", NOERROR, NOERROR, {a, body, body2}},
      {"appended not reached", "", "A", "", NOERROR, NOERROR, {a, body, c, body2}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.label);
    FillScannedNote(note_);
    scan_log log;
    log.note = note_;
    log.erase = k.erase;
    log.grow = k.grow;
    log.stopAt = k.stopAt;
    log.stop = k.stop;
    EXPECT_EQ(NSFItemScan(note_, LogItem, &log), k.result);
    EXPECT_EQ(log.seen, k.seen);
  }
  EXPECT_EQ(Items(note_, "New"), Texts{"New:n"}) << "the appended item is in the note";

  // A stored note scans as it was written.
  const NOTEID id = Store(note_);
  NOTEHANDLE reopened = NULLHANDLE;
  ASSERT_EQ(NSFNoteOpen(db_, id, 0, &reopened), NOERROR);
  scan_log log;
  EXPECT_EQ(NSFItemScan(reopened, LogItem, &log), NOERROR);
  EXPECT_EQ(log.seen, (Texts{a, body, c, body2, "New/0/" + text + ":n"}));
  EXPECT_EQ(NSFNoteClose(reopened), NOERROR);

  scan_log empty;
  EXPECT_EQ(NSFItemScan(0x00081234, LogItem, &empty), ERR_HOST_BAD_HANDLE);
  EXPECT_EQ(NSFItemScan(note_, nullptr, &empty), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(empty.seen, Texts{});
}

TEST_F(NoteItemTest, AStoredNoteReopensWithItsHeaderAndExactlyItsItems) {
  // The note's row and its items are read together: a note without items
  // still has its row, and no item comes from another note.
  const std::string text = std::to_string(TYPE_TEXT);
  const struct {
    const char* label;
    Texts values;
  } cases[] = {
      {"no items", {}},
      {"one item", {"one"}},
      {"items of one name", {"one", "two", "three"}},
  };
  NOTEHANDLE neighbour = NULLHANDLE;
  ASSERT_EQ(NSFNoteCreate(db_, &neighbour), NOERROR);
  ASSERT_EQ(NSFItemSetText(neighbour, "A", "other", 5), NOERROR);
  Store(neighbour);
  EXPECT_EQ(NSFNoteClose(neighbour), NOERROR);
  for (const auto& k : cases) {
    SCOPED_TRACE(k.label);
    NOTEHANDLE note = NULLHANDLE;
    ASSERT_EQ(NSFNoteCreate(db_, &note), NOERROR);
    const WORD form = NOTE_CLASS_FORM;
    NSFNoteSetInfo(note, _NOTE_CLASS, &form);
    Texts expected;
    for (const std::string& value : k.values) {
      ASSERT_EQ(Append(note, "A", TYPE_TEXT, value), NOERROR);
      expected.push_back("A/0/" + text + ":" + value);
    }
    const NOTEID id = Store(note);
    EXPECT_EQ(NSFNoteClose(note), NOERROR);
    ASSERT_EQ(NSFNoteOpen(db_, id, 0, &note), NOERROR);
    WORD noteClass = 0;
    ORIGINATORID oid;
    NSFNoteGetInfo(note, _NOTE_CLASS, &noteClass);
    NSFNoteGetInfo(note, _NOTE_OID, &oid);
    EXPECT_EQ(noteClass, NOTE_CLASS_FORM);
    EXPECT_EQ(oid.Sequence, 1u);
    scan_log log;
    EXPECT_EQ(NSFItemScan(note, LogItem, &log), NOERROR);
    EXPECT_EQ(log.seen, expected);
    EXPECT_EQ(NSFNoteClose(note), NOERROR);
  }
}

TEST_F(NoteItemTest, ValuesOfEverySizeReopenByteForByte) {
  // A long value is read from its row on its own, a short one comes with
  // the row; either way the reopened note holds the stored bytes in order,
  // among items of another name. Lengths are of the whole value, type word
  // included, around the 16 KB where the two ways part.
  const size_t lengths[] = {2, 3, 16383, 16384, 16385, 16386, 40001, 65535};
  Texts expected;
  for (size_t index = 0; index < std::size(lengths); ++index) {
    std::string value(lengths[index] - sizeof(WORD), '\0');
    for (size_t at = 0; at < value.size(); ++at)
      value[at] = static_cast<char>('a' + (at * 7 + index) % 26);
    ASSERT_EQ(Append(note_, "A", TYPE_COMPOSITE, value), NOERROR) << lengths[index];
    ASSERT_EQ(Append(note_, "B", TYPE_TEXT, std::to_string(index)), NOERROR);
    expected.push_back("A:" + value);
  }
  const NOTEID id = Store(note_);
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(NSFNoteOpen(db_, id, 0, &note), NOERROR);
  EXPECT_EQ(Items(note, "A"), expected);
  EXPECT_EQ(Items(note, "B"), (Texts{"B:0", "B:1", "B:2", "B:3", "B:4", "B:5", "B:6", "B:7"}));
  EXPECT_EQ(NSFNoteClose(note), NOERROR);

  // Short of memory for any value, long or short, the open leaves nothing.
  ExpectOpenShortOfMemoryLeavesNothing(id, static_cast<int>(2 * std::size(lengths)));
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
}

} // namespace

namespace {

// What a working copy of the stored note shows: its header, and every item
// with its flags and value in order; "<status>" as the header when it does
// not open.
struct opened_state {
  std::string header;
  std::string items;
  bool operator==(const opened_state&) const = default;
};

opened_state OpenedState(DBHANDLE db, NOTEID id) {
  NOTEHANDLE note = NULLHANDLE;
  if (const STATUS status = NSFNoteOpen(db, id, 0, &note); status != NOERROR)
    return {"<" + std::to_string(status) + ">", ""};
  WORD noteClass = 0;
  WORD flags = 0;
  ORIGINATORID oid;
  TIMEDATE modified;
  NSFNoteGetInfo(note, _NOTE_CLASS, &noteClass);
  NSFNoteGetInfo(note, _NOTE_FLAGS, &flags);
  NSFNoteGetInfo(note, _NOTE_OID, &oid);
  NSFNoteGetInfo(note, _NOTE_MODIFIED, &modified);
  opened_state state;
  state.header = std::to_string(noteClass) + " " + std::to_string(flags) + " " +
                 Bytes(&oid, sizeof oid) + Bytes(&modified, sizeof modified);
  scan_log log;
  EXPECT_EQ(NSFItemScan(note, LogItem, &log), NOERROR);
  for (const std::string& item : log.seen)
    state.items += " " + item;
  EXPECT_EQ(NSFNoteClose(note), NOERROR);
  return state;
}

// A note opened again is the stored note as it stands, whatever wrote it
// since its last open: the first open reads it from the database, later
// ones may be served from what that read; both give the same.
TEST_F(NoteItemTest, ANoteOpenedAgainIsTheNoteAsStoredNow) {
  const std::string large(5000, 'x');
  ASSERT_EQ(Append(note_, "A", TYPE_TEXT, "a1"), NOERROR);
  ASSERT_EQ(NSFItemAppend(note_, ITEM_SUMMARY, "B", 1, TYPE_TEXT, "b1", 2), NOERROR);
  ASSERT_EQ(Append(note_, "A", TYPE_TEXT, "a2"), NOERROR);
  const NOTEID id = Store(note_);
  NOTEHANDLE stale = NULLHANDLE;
  ASSERT_EQ(NSFNoteOpen(db_, id, 0, &stale), NOERROR);

  struct Step {
    const char* label;
    std::function<void()> write;
    std::string expected;
  } steps[] = {
      {"opened again", [] {}, " A/0/1280:a1 B/4/1280:b1 A/0/1280:a2"},
      {"a working copy changed, not stored",
       [&] {
         NOTEHANDLE other = NULLHANDLE;
         ASSERT_EQ(NSFNoteOpen(db_, id, 0, &other), NOERROR);
         ASSERT_EQ(Append(other, "C", TYPE_TEXT, "c0"), NOERROR);
         ASSERT_EQ(NSFItemDelete(other, "A", 1), NOERROR);
         EXPECT_EQ(NSFNoteClose(other), NOERROR);
       },
       " A/0/1280:a1 B/4/1280:b1 A/0/1280:a2"},
      {"stored through another copy",
       [&] {
         ASSERT_EQ(Append(note_, "C", TYPE_TEXT, "c1"), NOERROR);
         Store(note_);
       },
       " A/0/1280:a1 B/4/1280:b1 A/0/1280:a2 C/0/1280:c1"},
      {"a copy opened before that fails to store",
       [&] {
         ASSERT_EQ(Append(stale, "D", TYPE_TEXT, "d1"), NOERROR);
         HostTestFailStorageWrite(3);
         EXPECT_EQ(NSFNoteUpdate(stale, 0), ERR_HOST_STORAGE);
         HostTestFailStorageWrite(0);
       },
       " A/0/1280:a1 B/4/1280:b1 A/0/1280:a2 C/0/1280:c1"},
      {"that copy stored", [&] { EXPECT_EQ(NSFNoteUpdate(stale, 0), NOERROR); },
       " A/0/1280:a1 B/4/1280:b1 A/0/1280:a2 D/0/1280:d1"},
      {"a large item stored",
       [&] {
         ASSERT_EQ(NSFItemSetText(stale, "A", large.data(), static_cast<WORD>(large.size())),
                   NOERROR);
         EXPECT_EQ(NSFNoteUpdate(stale, 0), NOERROR);
       },
       " B/4/1280:b1 D/0/1280:d1 A/4/1280:" + large},
  };
  for (const Step& step : steps) {
    step.write();
    const opened_state first = OpenedState(db_, id);
    EXPECT_EQ(first.items, step.expected) << step.label;
    EXPECT_EQ(OpenedState(db_, id), first) << step.label << ", opened once more";
  }
  EXPECT_EQ(NSFNoteClose(stale), NOERROR);
  EXPECT_EQ(NSFNoteDelete(db_, id, 0), NOERROR);
  EXPECT_EQ(OpenedState(db_, id).header, "<" + std::to_string(ERR_HOST_NOTE_NOT_FOUND) + ">");
}

} // namespace
