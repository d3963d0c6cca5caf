// The import's record list, which the record emitter fills while an HTML
// import runs: records go after the insertion point (which follows them)
// or at the end, copied with a zero byte after an odd length, also when
// they fill several of the arena pieces the list carves its nodes from or
// need one of their own; a refused allocation is 263 with the
// out-of-memory log line and leaves the list.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "host/host_testing.h"
#include "import/html_import_state.h"
#include "store/body.h"
#include "store/services.h"
#include "store/session.h"
#include "store/tracked_memory_testing.h"
#include "velko/velko.h"

namespace {

class RecordListTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    session_ = new LSXLsiSession;
    import_.session = session_;
    import_.list_body = &list_;
  }
  void TearDown() override {
    ReleaseItemsRecords(session_, &list_);
    delete session_;
    HostTestReset();
  }

  /* A record of the signature whose bytes after the header are the text. */
  STATUS Add(BYTE signature, const std::string& text) {
    std::vector<BYTE> record = {signature, static_cast<BYTE>(2 + text.size())};
    record.insert(record.end(), text.begin(), text.end());
    return CopyCDUpdatedToRec(record.data(), signature, static_cast<DWORD>(record.size()),
                              &import_);
  }

  /* The list's records from the head: signature and bytes after the
   * header; every node linked both ways and the tail the last. */
  std::vector<std::string> List() {
    std::vector<std::string> texts;
    record_storage* previous = nullptr;
    for (record_storage* node = import_.head; node != nullptr; node = node->next) {
      EXPECT_EQ(node->previous, previous);
      texts.push_back(std::to_string(node->signature) + ":" +
                      std::string(node->data + 2, node->length - 2));
      previous = node;
    }
    EXPECT_EQ(import_.tail, previous);
    return texts;
  }

  LSXLsiSession* session_ = nullptr;
  body_context list_;
  html_import_state import_;
};

TEST_F(RecordListTest, RecordsGoAtTheEndOrAfterTheInsertionPoint) {
  ASSERT_EQ(Add(0x85, "ab"), NOERROR);
  ASSERT_EQ(Add(0x85, "cd"), NOERROR);
  EXPECT_EQ(List(), (std::vector<std::string>{"133:ab", "133:cd"}));
  import_.insertion_point = import_.head;
  ASSERT_EQ(Add(0x85, "x1"), NOERROR);
  ASSERT_EQ(Add(0x85, "x2"), NOERROR);
  EXPECT_EQ(List(), (std::vector<std::string>{"133:ab", "133:x1", "133:x2", "133:cd"}));
  EXPECT_EQ(import_.insertion_point, import_.head->next->next);
  import_.insertion_point = import_.tail;
  ASSERT_EQ(Add(0x85, "z"), NOERROR);
  EXPECT_EQ(List(), (std::vector<std::string>{"133:ab", "133:x1", "133:x2", "133:cd", "133:z"}));
  EXPECT_EQ(import_.insertion_point, import_.tail);
}

TEST_F(RecordListTest, AnOddRecordIsCopiedWithAZeroByteAfterIt) {
  std::vector<BYTE> record = {0x85, 5, 'a', 'b', 'c', 0xEE};
  ASSERT_EQ(CopyCDUpdatedToRec(record.data(), 0x85, 5, &import_), NOERROR);
  record[4] = 'z'; // a copy, not the caller's bytes
  ASSERT_NE(import_.head, nullptr);
  EXPECT_EQ(import_.head->length, 5u);
  EXPECT_EQ(std::string(import_.head->data, 6), std::string("\x85\x05" "abc\0", 6));
}

TEST_F(RecordListTest, RecordsOfManyPiecesKeepTheirOrderAndBytes) {
  // Lengths odd and even, short and past a whole piece, as many as fill a
  // few dozen pieces; then records after an insertion point among them.
  std::vector<std::string> expected;
  for (size_t count = 0; count < 600; ++count) {
    const size_t length = count % 97 == 0 ? 4100 + count : count % 53;
    const std::string text(length, static_cast<char>('a' + count % 26));
    ASSERT_EQ(CopyCDUpdatedToRec((std::string("\x85\x00", 2) + text).data(), 0x85,
                                 static_cast<DWORD>(2 + length), &import_),
              NOERROR);
    expected.push_back("133:" + text);
  }
  import_.insertion_point = import_.head->next;
  size_t at = 2;
  for (const std::string& text : {std::string("p"), std::string("qr"), std::string(4500, 'z')}) {
    ASSERT_EQ(Add(0x85, text), NOERROR);
    expected.insert(expected.begin() + static_cast<std::ptrdiff_t>(at++), "133:" + text);
  }
  EXPECT_EQ(List(), expected);
  for (record_storage* node = import_.head; node != nullptr; node = node->next) {
    if (node->length % 2 == 1) {
      EXPECT_EQ(node->data[node->length], '\0');
    }
  }
}

TEST_F(RecordListTest, ARefusedAllocationIs263AndLeavesTheList) {
  ASSERT_EQ(Add(0x85, "ab"), NOERROR);
  HostTestCaptureLog(true);
  HostTestClearLog();
  VelkoTestFailTrackedAllocationsFrom(1);
  // Longer than the piece the list carves its nodes from: it needs an
  // allocation of its own.
  EXPECT_EQ(Add(0x85, std::string(5000, 'c')), VELKO_ERR_MEMORY);
  VelkoTestFailTrackedAllocationsFrom(0);
  bool logged = false;
  for (const std::string& line : HostTestLogLines())
    logged = logged || line.find("Out of memory at") != std::string::npos;
  EXPECT_TRUE(logged);
  EXPECT_EQ(List(), std::vector<std::string>{"133:ab"});
  EXPECT_EQ(CopyCDUpdatedToRec(nullptr, 0x85, 4, &import_), VELKO_ERR_BAD_ARGUMENT);
}

} // namespace
