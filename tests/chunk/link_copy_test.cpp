// Self-contained copies of indexed link records: a CDLINK2 followed by the
// 0xFF92 record carrying its note link, a note-link resource rebuilt with
// its note link inline, broken references (no table, an index at the
// table's count, a resource cut short) emitting nothing with a message, and
// a refused allocation. Expected records are written out byte by byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "chunk/link_copy.h"
#include "engine/process_state.h"
#include "host/host_testing.h"
#include "host/nsfdata.h"
#include "host/nsfnote.h"
#include "store/tracked_memory_testing.h"
#include "tests/support/test_fixture.h"

namespace {

using engine_test::Bytes;
using engine_test::EngineTest;

/* The note link of entry n: 40 bytes n*40, n*40+1, ... */
Bytes NoteLink(int n) {
  Bytes link(40);
  for (int i = 0; i < 40; ++i)
    link[i] = static_cast<BYTE>(n * 40 + i);
  return link;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

/* A link table value without its type word: the count, then `held` links. */
Bytes LinkTable(WORD count, int held) {
  Bytes table = {static_cast<BYTE>(count), static_cast<BYTE>(count >> 8)};
  for (int i = 0; i < held; ++i)
    table = Cat({table, NoteLink(i)});
  return table;
}

// A resource (0xFFF6) of type 2: flags, Length1 3, hints "ab" and "c",
// index 1, then "xyz"; 28 + 3 + 2 + 3 = 36 bytes.
Bytes Resource(BYTE flags, BYTE length1 = 3) {
  return {0xF6, 0xFF, 36, 0, flags, 0, 0, 0, 2, 0, 0, 0, length1, 0, 2, 0, 1, 0,
          0,    0,    0,  0, 0,     0, 0, 0, 0, 0, 'a', 'b', 'c', 1, 0, 'x', 'y', 'z'};
}

class LinkCopyTest : public EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    LoadInput({engine_test::PabDef(1), cdbuild::PabRef(1)});
    ASSERT_EQ(CreateBodyItem(&state_->gen), NOERROR);
  }

  void Table(const char* name, const Bytes& value) {
    ASSERT_EQ(NSFItemAppend(note_, 0, name, static_cast<WORD>(std::string(name).size()),
                            TYPE_NOTEREF_LIST, value.data(), static_cast<DWORD>(value.size())),
              NOERROR);
  }

  STATUS Emit(const Bytes& record) {
    const WORD signature = static_cast<WORD>(record[0] | record[1] << 8);
    return EmitSelfContainedLink(record.data(), signature, static_cast<DWORD>(record.size()),
                                 note_, &state_->gen);
  }

  std::vector<Bytes> Output() const {
    std::vector<Bytes> records;
    for (const record_storage* node = item_->internal->output->records; node != nullptr;
         node = node->next)
      records.emplace_back(node->data, node->data + node->length);
    return records;
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const HostTestMessage& message : HostTestMessages())
      texts.push_back(message.text);
    return texts;
  }
};

TEST_F(LinkCopyTest, AnIndexedLinkGetsItsNoteLinkFromTheLinksTable) {
  Table("$FormLinks", LinkTable(3, 3)); // passed over: "$Links" is there
  Table("$Links", LinkTable(2, 2));
  // Index 1 and one byte behind the fixed part: 7 bytes become 45.
  ASSERT_EQ(Emit({0x91, 0xFF, 7, 0, 1, 0, 'q'}), NOERROR);
  EXPECT_EQ(Output(), (std::vector<Bytes>{Cat({{0x92, 0xFF, 45, 0}, NoteLink(1), {'q'}})}));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(LinkCopyTest, WithoutLinksTheFormLinksTableIsRead) {
  Table("$FormLinks", LinkTable(1, 1));
  ASSERT_EQ(Emit({0x91, 0xFF, 6, 0, 0, 0}), NOERROR);
  EXPECT_EQ(Output(), (std::vector<Bytes>{Cat({{0x92, 0xFF, 44, 0}, NoteLink(0)})}));
}

TEST_F(LinkCopyTest, ANoteLinkResourceIsRebuiltWithItsLinkInline) {
  Table("$Links", LinkTable(2, 2));
  ASSERT_EQ(Emit(Resource(0x01)), NOERROR);
  // Length 28 + 3 + 40 + 3 = 74; Flags 0x1 | 0x2; hints, link 1, "xyz".
  const Bytes expected = Cat({{0xF6, 0xFF, 74, 0, 0x03, 0, 0, 0, 2, 0, 0, 0, 3, 0, 2, 0, 1, 0,
                               0,    0,    0,  0, 0,    0, 0, 0, 0, 0, 'a', 'b', 'c'},
                              NoteLink(1),
                              {'x', 'y', 'z'}});
  EXPECT_EQ(Output(), std::vector<Bytes>{expected});
}

TEST_F(LinkCopyTest, RecordsThatNeedNoRebuildEmitNothingAndSayNothing) {
  Table("$Links", LinkTable(2, 2));
  Bytes url = Resource(0);
  url[8] = 1; // a URL resource
  const Bytes full = Resource(0);
  const Bytes cut(full.begin(), full.begin() + 27);
  const std::vector<Bytes> records = {
      Resource(0x02),           // its link is inline already
      url,                      //
      {0x91, 0xFF, 5, 0, 1},    // too short to hold the index
      cut,                      // fixed part cut short
      cdbuild::Text("ab"),
  };
  for (const Bytes& record : records)
    EXPECT_EQ(Emit(record), NOERROR);
  EXPECT_TRUE(Output().empty());
  EXPECT_TRUE(Messages().empty());
}

TEST_F(LinkCopyTest, BrokenReferencesShowTheMessageAndEmitNothing) {
  const struct {
    const char* name;
    Bytes table; // empty: no link table
    Bytes record;
  } cases[] = {
      {"no link table", {}, {0x91, 0xFF, 6, 0, 0, 0}},
      {"index equal to the count", LinkTable(2, 2), {0x91, 0xFF, 6, 0, 2, 0}},
      {"count beyond the value's links", LinkTable(3, 2), {0x91, 0xFF, 6, 0, 2, 0}},
      {"resource index equal to the count", LinkTable(1, 1), Resource(0)},
      {"Length1 past the record", LinkTable(2, 2), Resource(0, 4)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Restart(); // a new note with an empty output body
    if (!c.table.empty())
      Table("$Links", c.table);
    EXPECT_EQ(Emit(c.record), NOERROR);
    EXPECT_TRUE(Output().empty());
    EXPECT_EQ(Messages(), std::vector<std::string>{"TARNO: Broken $Links reference"});
  }
}

TEST_F(LinkCopyTest, ARefusedAllocationReturnsItsStatusWithTheErrorWord) {
  Table("$Links", LinkTable(2, 2));
  const Bytes records[] = {{0x91, 0xFF, 6, 0, 0, 0}, Resource(0)};
  for (const Bytes& record : records) {
    VelkoTestFailTrackedAllocation(1);
    state_->gen.error_word = 0;
    EXPECT_EQ(Emit(record), VELKO_ERR_MEMORY);
    VelkoTestFailTrackedAllocation(0);
    EXPECT_EQ(state_->gen.error_word, kLinkCopyMemoryError);
    EXPECT_TRUE(Output().empty());
  }
  const std::vector<std::string> messages = Messages();
  EXPECT_EQ(std::count(messages.begin(), messages.end(), "TARNO: Memory allocation error"), 2);
}

} // namespace
