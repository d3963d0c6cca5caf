// The record emitter's size limit: a record longer than 64,382 bytes, fed
// to CopyCDUpdated or built by GenerateCDText, is refused with status 1027,
// error word 20025 and the user message, and leaves the body being built,
// the emitter's state and the item exactly as they were; a record of the
// limit itself is taken.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/cdrecords.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/emitter.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "tests/support/note_fixture.h"
#include "tests/support/test_fixture.h"
#include "velko/status.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

using Bytes = std::vector<BYTE>;

constexpr char kTooLong[] = "TARNO: Record longer than 64382 bytes.  Operation failed!";

/* Everything of the body being built that a refused record must leave
 * alone: the output records (signature, length, bytes), the write area,
 * the emitter's carried state and the item's AutoMergeText. */
struct build_state {
  std::vector<Bytes> records;
  Bytes buffer;
  const body_item* items = nullptr;
  WORD previous_record_type = 0;
  BYTE text_state = 0;
  DWORD table_level = 0;
  WORD current_pabid = 0;
  DWORD auto_merge_text = 0;
  bool operator==(const build_state&) const = default;
};

class RecordLimitTest : public ::testing::Test {
protected:
  void SetUp() override {
    handles_before_ = note_testing::ResetHostCapturing();
    ASSERT_EQ(note_testing::CreateDatabase("mem:recordlimit", &db_), NOERROR);
    ASSERT_EQ(NSFNoteCreate(db_, &note_), NOERROR);
    session_ = new LSXLsiSession;
    item_ = note_testing::BindItem(session_, note_, "Body");
    gen_ = std::make_unique<generation_context>();
    gen_->session = session_;
    gen_->item = item_;
    ASSERT_EQ(CreateBodyItem(gen_.get()), NOERROR);
    // A body under way: a paragraph reference and a text run.
    ASSERT_EQ(Emit(cdbuild::PabRef(1)), NOERROR);
    ASSERT_EQ(Emit(cdbuild::Text("ab")), NOERROR);
    item_->AutoMergeText = 1; /* every record taken clears it */
  }

  void TearDown() override {
    gen_.reset();
    note_testing::UnbindItem(item_);
    NSFNoteClose(note_);
    NSFDbClose(db_);
    delete session_;
    EXPECT_EQ(HostTestLiveHandles(), handles_before_) << HostTestLeakReport();
    HostTestReset();
  }

  STATUS Emit(const Bytes& record) {
    const WORD signature = record[1] == 0xFF ? static_cast<WORD>(record[0] | record[1] << 8)
                                             : record[0];
    return CopyCDUpdated(record.data(), signature, static_cast<DWORD>(record.size()), gen_.get());
  }

  build_state State() const {
    build_state state;
    for (const record_storage* node = item_->internal->output->records; node != nullptr;
         node = node->next) {
      state.records.emplace_back(node->data, node->data + node->length);
    }
    state.buffer.assign(gen_->write_start, gen_->write_position);
    state.items = item_->internal->output->items;
    state.previous_record_type = session_->internal->previous_record_type;
    state.text_state = gen_->text_state;
    state.table_level = gen_->table_level;
    state.current_pabid = gen_->current_pabid;
    state.auto_merge_text = item_->AutoMergeText;
    return state;
  }

  size_t handles_before_ = 0;
  DBHANDLE db_ = NULLHANDLE;
  NOTEHANDLE note_ = NULLHANDLE;
  LSXLsiSession* session_ = nullptr;
  VelkoRTItem* item_ = nullptr;
  std::unique_ptr<generation_context> gen_;
};

/* A text record of `length` bytes in all: its header and length - 8
 * characters. */
Bytes TextOfLength(size_t length) { return cdbuild::Text(std::string(length - 8, 'x')); }

TEST_F(RecordLimitTest, ARecordOverTheLimitIsRefusedAndChangesNothing) {
  const std::string over(64383 - 8, 'x');
  const int overLength = static_cast<int>(over.size());
  const Bytes fourPointTwelve = cdbuild::Text("", {.face = 4, .size = 12});
  // A record longer than its own header can say: the emitter takes a
  // DWORD length, so only the limit stands in the way.
  Bytes beyondAWord(70000, 'x');
  beyondAWord[0] = 0x85;
  beyondAWord[1] = 0xFF;
  struct Case {
    const char* name;
    std::function<STATUS()> emit;
  };
  const Case cases[] = {
      {"copied, one byte over", [&] { return Emit(TextOfLength(64383)); }},
      {"copied, the longest a header can say", [&] { return Emit(TextOfLength(65535)); }},
      {"copied, longer than a header can say",
       [&] { return CopyCDUpdated(beyondAWord.data(), SIG_CD_TEXT, 70000, gen_.get()); }},
      {"generated, one byte over",
       [&] { return GenerateCDText(over.data(), overLength, nullptr, gen_.get()); }},
      {"generated with a header, one byte over",
       [&] { return GenerateCDText(over.data(), overLength, fourPointTwelve.data(), gen_.get()); }},
      // The length alone is refused: the text is never read.
      {"generated, the longest length an int holds",
       [&] { return GenerateCDText(over.data(), 0x7FFFFFFF, nullptr, gen_.get()); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HostTestClearMessages();
    gen_->error_word = 0;
    const build_state before = State();
    EXPECT_EQ(c.emit(), VELKO_ERR_INVALID_SEQUENCE);
    EXPECT_EQ(gen_->error_word, VELKO_ERR_BAD_STRUCTURE);
    EXPECT_THAT(note_testing::MessageTexts(), ElementsAre(kTooLong));
    EXPECT_TRUE(State() == before) << "the body or the emitter's state changed";
  }
}

TEST_F(RecordLimitTest, ARecordOfTheLimitIsTaken) {
  for (const bool generated : {false, true}) {
    SCOPED_TRACE(generated ? "generated" : "copied");
    HostTestClearMessages();
    const size_t records = State().records.size();
    item_->AutoMergeText = 1;
    STATUS status = NOERROR;
    if (generated) {
      const std::string text(64382 - 8, 'y');
      status = GenerateCDText(text.data(), static_cast<int>(text.size()), nullptr, gen_.get());
    } else {
      status = Emit(TextOfLength(64382));
    }
    ASSERT_EQ(status, NOERROR);
    EXPECT_EQ(gen_->error_word, 0);
    EXPECT_THAT(note_testing::MessageTexts(), IsEmpty());
    const build_state after = State();
    ASSERT_EQ(after.records.size(), records + 1);
    const Bytes& last = after.records.back();
    EXPECT_EQ(last.size(), 64382u);
    // Signature 0xFF85, length 64382 (0xFB7E), face 1 and size 10 by default.
    EXPECT_THAT(Bytes(last.begin(), last.begin() + 8),
                ElementsAre(0x85, 0xFF, 0x7E, 0xFB, 1, 0, 0, 10));
    EXPECT_EQ(last.back(), generated ? 'y' : 'x');
    EXPECT_EQ(after.previous_record_type, SIG_CD_TEXT);
    EXPECT_EQ(after.auto_merge_text, 0u);
  }
}

} // namespace
