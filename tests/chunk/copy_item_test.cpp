// Copying the raw items of one name between notes through the public
// CopyItemToNote: values of any type in order under the target's name,
// a null target name, a missing source name, an item copied onto itself,
// and a failed append at any allocation restoring the target's old items.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host_testing.h"
#include "host/nsfdata.h"
#include "host/nsfnote.h"
#include "host/status.h"
#include "tests/support/test_fixture.h"
#include "velko/velko.h"

namespace {

using engine_test::Bytes;
using engine_test::EngineTest;

// A value as the note holds it: the type word, then the bytes.
Bytes Value(WORD type, const std::string& bytes) {
  Bytes value(2 + bytes.size());
  value[0] = static_cast<BYTE>(type);
  value[1] = static_cast<BYTE>(type >> 8);
  for (size_t i = 0; i < bytes.size(); ++i)
    value[2 + i] = static_cast<BYTE>(bytes[i]);
  return value;
}

class CopyItemTest : public EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(NSFNoteCreate(db_, &target_), NOERROR);
    Append(note_, "Data", TYPE_TEXT, "first");
    Append(note_, "Data", TYPE_COMPOSITE, std::string("\x81\xFF\x04\x00", 4));
    Append(note_, "Other", TYPE_TEXT, "other");
    Append(target_, "Data", TYPE_TEXT, "old");
  }
  void TearDown() override {
    NSFNoteClose(target_);
    EngineTest::TearDown();
  }

  static void Append(NOTEHANDLE note, const char* name, WORD type, const std::string& bytes) {
    ASSERT_EQ(NSFItemAppend(note, 0, name, static_cast<WORD>(std::string(name).size()), type,
                            bytes.data(), static_cast<DWORD>(bytes.size())),
              NOERROR);
  }

  NOTEHANDLE target_ = NULLHANDLE;
};

TEST_F(CopyItemTest, ReplacesTheTargetsItemsByTheSourceValues) {
  const std::vector<Bytes> copied = {Value(TYPE_TEXT, "first"),
                                     Value(TYPE_COMPOSITE, std::string("\x81\xFF\x04\x00", 4))};
  const std::vector<Bytes> old = {Value(TYPE_TEXT, "old")};
  const struct {
    const char* source;
    const char* target;
    const char* checked;
    std::vector<Bytes> values;
  } cases[] = {
      {"Data", nullptr, "Data", copied},    // null: the source's name
      {"data", "", "Data", copied},         // empty too; names ignore case
      {"Missing", nullptr, "Data", old},    // nothing to copy deletes nothing
      {"Missing", "Data", "Data", old},
      {"Data", "Copy", "Copy", copied},
      {"Data", "Copy", "Data", old},        // other names stay
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " -> " + (c.target ? c.target : "(null)"));
    NSFItemDelete(target_, "Data", 4);
    NSFItemDelete(target_, "Copy", 4);
    Append(target_, "Data", TYPE_TEXT, "old");
    EXPECT_EQ(CopyItemToNote(note_, target_, c.source, c.target), NOERROR);
    EXPECT_EQ(note_testing::ItemValues(target_, c.checked), c.values);
  }
}

TEST_F(CopyItemTest, EveryOldItemOfTheNameGoesInOneStep) {
  Append(target_, "DATA", TYPE_NUMBER, std::string(8, '\0'));
  Append(target_, "Other", TYPE_TEXT, "stays");
  EXPECT_EQ(CopyItemToNote(note_, target_, "Other", "Data"), NOERROR);
  EXPECT_EQ(note_testing::ItemValues(target_, "Data"),
            (std::vector<Bytes>{Value(TYPE_TEXT, "other")}));
  EXPECT_EQ(note_testing::ItemValues(target_, "Other"),
            (std::vector<Bytes>{Value(TYPE_TEXT, "stays")}));
}

TEST_F(CopyItemTest, WithinOneNote) {
  EXPECT_EQ(CopyItemToNote(note_, note_, "Data", "DATA"), NOERROR);
  EXPECT_EQ(Values("Data").size(), 2u) << "an item copied onto itself stays";
  EXPECT_EQ(CopyItemToNote(note_, note_, "Data", nullptr), NOERROR);
  EXPECT_EQ(Values("Data").size(), 2u);
  EXPECT_EQ(CopyItemToNote(note_, note_, "Data", "Other"), NOERROR);
  EXPECT_EQ(Values("Other"), Values("Data"));
}

TEST_F(CopyItemTest, AFailedAllocationKeepsTheTargetsItems) {
  const std::vector<Bytes> old = {Value(TYPE_TEXT, "old")};
  STATUS status = ERR_MEMORY;
  for (int nth = 1; status != NOERROR && nth < 100; ++nth) {
    SCOPED_TRACE(nth);
    HostTestFailAllocation(nth);
    status = CopyItemToNote(note_, target_, "Data", nullptr);
    HostTestFailAllocation(0);
    if (status != NOERROR) {
      EXPECT_EQ(status, ERR_MEMORY);
      EXPECT_EQ(note_testing::ItemValues(target_, "Data"), old);
    }
  }
  EXPECT_EQ(status, NOERROR);
  EXPECT_EQ(note_testing::ItemValues(target_, "Data").size(), 2u);
}

} // namespace
