// The per-record step of the walk: the host's break test (asked at the
// first record and every hundredth; an interrupted walk fails, and an
// interrupted writing walk leaves the note as it was), the count of
// CDBEGIN brackets beyond fifty levels, and the current paragraph
// definition and text header.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/walk.h"
#include "tests/support/test_fixture.h"
#include "store/vocabulary.h"

namespace {

using namespace engine_test;

/* ---- the break test ---- */

int break_calls = 0;
int break_at_call = 0; /* answer 1 at this call (0: never) */

WORD CountingBreak() {
  ++break_calls;
  return break_calls == break_at_call ? 1 : 0;
}

class BreakTest : public EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    break_calls = 0;
    break_at_call = 0;
    std::vector<Bytes> records = {PabDef(1), PabRef(1)};
    for (int i = 0; i < 125; ++i) {
      records.push_back(Text(std::string("t").append(std::to_string(i))));
      records.push_back(Paragraph());
    }
    records.push_back(Text("end")); // 253 records
    AppendItem(records);
    ControlBreak = CountingBreak;
  }
};

TEST_F(BreakTest, AskedAtTheFirstRecordAndEveryHundredthAnInterruptedReadingWalkFails) {
  EXPECT_EQ(Positions("Everything"), std::make_pair(DWORD{1}, DWORD{253}));
  EXPECT_EQ(break_calls, 3); // records 1, 101 and 201
  EXPECT_TRUE(HostTestMessages().empty());

  break_calls = 0;
  break_at_call = 1;
  EXPECT_EQ(Run(Chunk("Everything"), 1), VELKO_ERR_FAILED);
  EXPECT_EQ(break_calls, 1);
  EXPECT_EQ(HostTestMessages(), (std::vector<HostTestMessage>{{"TARNO: Interrupted by user!", 6}}));
}

TEST_F(BreakTest, AnInterruptedWritingWalkLeavesTheNoteAsItWas) {
  const std::vector<Bytes> before = Values();
  break_at_call = 2; // at record 101, after records were written
  VelkoRTChunk* chunk = Chunk("Everything");
  EXPECT_EQ(Run(chunk, ACTION_CLEANUP_TEXT_RUNS), VELKO_ERR_FAILED);
  EXPECT_EQ(Values(), before);
  EXPECT_EQ(item_->internal->output, nullptr);
  EXPECT_EQ(HostTestMessages().size(), 1u);

  // The next operation runs on the records as they were.
  ControlBreak = nullptr;
  EXPECT_EQ(Run(chunk, ACTION_CLEANUP_TEXT_RUNS), NOERROR);
  EXPECT_EQ(Values(), before);
}

/* ---- nesting counts, record by record ---- */

class NestingTest : public EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    AppendItem({Text("x"), Paragraph(), Text("y")});
    Connect();
    state_ = new chunk_process_state;
    state_->session = session_;
    state_->gen.item = item_;
    state_->stop_matching = 1; // no start and stop tests: the counts alone
  }

  void Walk(const std::vector<Bytes>& records) {
    for (const Bytes& record : records) {
      ASSERT_EQ(Process_OneCDRecord(reinterpret_cast<const char*>(record.data()),
                                    SignatureOf(record), static_cast<DWORD>(record.size()), state_),
                NOERROR);
    }
  }

  static WORD SignatureOf(const Bytes& record) {
    if (record[1] == 0xFF)
      return static_cast<WORD>(record[0] | 0xFF00);
    return record[0];
  }
};

TEST_F(NestingTest, BracketsBeyondFiftyLevelsCloseFirst) {
  Walk({Begin(SIG_CD_PRETABLEBEGIN)});
  for (int level = 0; level < 52; ++level)
    Walk({Begin(SIG_CD_FIELD)});
  EXPECT_EQ(state_->depth_begin, 50);
  EXPECT_EQ(state_->begin_overflow, 3u);
  EXPECT_EQ(InnermostBracket(state_), 0); // beyond the levels kept apart
  for (int level = 0; level < 52; ++level)
    Walk({End(SIG_CD_FIELD)});
  // The pretable bracket is still open: it is the innermost again.
  EXPECT_EQ(state_->depth_begin, 1);
  EXPECT_EQ(InnermostBracket(state_), SIG_CD_PRETABLEBEGIN);
  Walk({End(SIG_CD_PRETABLEBEGIN), End(SIG_CD_PRETABLEBEGIN)});
  EXPECT_EQ(state_->depth_begin, 0);
}

TEST_F(NestingTest, TheCurrentParagraphAndTextHeaderFollowTheRecords) {
  Walk({PabDef(7, 360, false), PabRef(7), Text("a", 4, 12)});
  const _CDPABDEFEXT* definition = CurrentDefinition(state_);
  // The definition without extension words is copied with its own length.
  EXPECT_EQ(definition->Definition.PABID, 7);
  EXPECT_EQ(definition->Definition.LeftMargin, 360);
  EXPECT_EQ(definition->Definition.Header.Length, 70);
  EXPECT_EQ(CurrentReference(state_).PABID, 7);
  EXPECT_EQ(item_->internal->current_text_header[4], 4);
  EXPECT_EQ(item_->internal->current_text_header[7], 12);

  // A definition longer than the area is cut to its 92 bytes.
  Bytes longDefinition = PabDef(8, 500);
  longDefinition.resize(200, 0xCD);
  cdbuild::PutWord(longDefinition, 2, 200);
  Walk({longDefinition});
  EXPECT_EQ(CurrentDefinition(state_)->Definition.PABID, 8);
  EXPECT_EQ(CurrentDefinition(state_)->Flags3, 0xCDCDCDCDu);
  EXPECT_EQ(CurrentReference(state_).PABID, 7); // the reference after the area is untouched
  // A text record too short for its header leaves the header as it was.
  Walk({cdbuild::Sized(SIG_CD_TEXT, 6)});
  EXPECT_EQ(item_->internal->current_text_header[4], 4);

  // Inside a table whose level keeps its definitions apart nothing changes.
  state_->gen.table_level = 1;
  state_->level_saves_definitions[1] = 1;
  Walk({PabDef(9, 100), PabRef(9)});
  EXPECT_EQ(CurrentDefinition(state_)->Definition.PABID, 8);
  EXPECT_EQ(CurrentReference(state_).PABID, 7);
}

} // namespace
