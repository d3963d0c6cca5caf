// Action 49, the clean-up pass after an edit: over a body in the emitter's
// normal form it writes the stored items back byte for byte (one item,
// several items, records of unknown kinds); over other bodies the result is
// the input with the pass's own removals and the emitter's fix-ups, each
// checked; the pass's removals themselves on the loaded records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/walk.h"
#include "engine_fixture.h"
#include "host/host_testing.h"
#include "store/vocabulary.h"

namespace {

using namespace engine_test;

/* A body in the emitter's normal form: paragraph ids set, no adjacent
 * references or empty texts, a CDPARAGRAPH before the table, ending in
 * text. */
std::vector<Bytes> NormalBody() {
  return {
      PabDef(1),
      PabRef(1),
      Text("first paragraph"),
      Paragraph(),
      PabDef(2, 720),
      PabRef(2),
      Text("second"),
      Begin(SIG_CD_TEXT),
      TextEffect(),
      Text("wrapped"),
      Color(),
      End(SIG_CD_TEXT),
      Paragraph(),
      TableBegin(),
      Cell(0, 0),
      PabRef(1),
      Text("a"),
      Cell(0, 1),
      PabRef(1),
      Text("b"),
      Cell(1, 0),
      PabRef(1),
      Text("c"),
      Cell(1, 1),
      PabRef(1),
      Text("d"),
      TableEnd(),
      Paragraph(),
      PabRef(2),
      Text("odd!"),
      Wsig(0xFF40, 11), // a record of a kind nothing knows, odd length
      Bsig(0x70, 5),
      Text("end"),
  };
}

Bytes Stored(const std::vector<Bytes>& records) { return Value(Records(records)); }

class CleanupTest : public EngineTest {
protected:
  STATUS Clean(const char* definition = "Everything") {
    VelkoRTChunk* chunk = Chunk(definition);
    return Run(chunk, ACTION_CLEANUP_TEXT_RUNS);
  }
};

TEST_F(CleanupTest, ANormalBodyIsWrittenBackByteForByte) {
  AppendItem(NormalBody());
  const std::vector<Bytes> before = Values();
  ASSERT_EQ(before.size(), 1u);
  EXPECT_EQ(Clean(), NOERROR);
  EXPECT_EQ(Values(), before);
  EXPECT_EQ(item_->Modified, 0);
}

TEST_F(CleanupTest, ANormalBodyOfSeveralItemsKeepsItsItems) {
  std::vector<Bytes> records = {PabDef(1), PabRef(1)};
  for (int i = 0; i < 600; ++i) {
    records.push_back(Text(std::string(201, static_cast<char>('a' + i % 26))));
    records.push_back(Paragraph());
    records.push_back(PabRef(1));
  }
  records.push_back(Text("last"));
  // Stored items split where the body writer splits them.
  std::vector<std::vector<Bytes>> items(1);
  size_t used = 0;
  for (const Bytes& record : records) {
    const size_t padded = record.size() + (record.size() & 1);
    if (used > 0 && used + padded > kBodyItemSplit) {
      items.emplace_back();
      used = 0;
    }
    items.back().push_back(record);
    used += padded;
  }
  ASSERT_GE(items.size(), 3u);
  for (const std::vector<Bytes>& item : items)
    AppendItem(item);
  const std::vector<Bytes> before = Values();
  EXPECT_EQ(Clean(), NOERROR);
  EXPECT_EQ(Values(), before);
}

TEST_F(CleanupTest, RecordsOutsideTheChunkAreCopiedAroundItInOrder) {
  AppendItem(NormalBody());
  const std::vector<Bytes> before = Values();
  for (const char* definition :
       {"Paragraph 2", "Paragraph *", "Table 1; Row 2; Column 1", "Table 1; Column 2",
        "Text 'wrapped'", "Text *", "Before Table 1", "After Table 1", "Inside Table 1",
        "Table 1; Row 1", "Text 'nowhere'" /* the chunk never opens */}) {
    EXPECT_EQ(Clean(definition), NOERROR) << definition;
    EXPECT_EQ(Values(), before) << definition;
  }
}

/* ---- fix-ups: the result is the input changed by exactly these ---- */

struct FixupCase {
  const char* name;
  std::vector<Bytes> input;
  std::vector<Bytes> expected;
};

class FixupTest : public CleanupTest, public ::testing::WithParamInterface<FixupCase> {};

TEST_P(FixupTest, ResultIsTheInputWithTheFixup) {
  const FixupCase& c = GetParam();
  AppendItem(c.input);
  EXPECT_EQ(Clean(), NOERROR);
  const std::vector<Bytes> values = Values();
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0], Stored(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Fixups, FixupTest,
    ::testing::Values(
        FixupCase{"EmptyTextBetweenTextsGoes",
                  {PabDef(1), PabRef(1), Text("a"), Text(""), Text("b")},
                  {PabDef(1), PabRef(1), Text("a"), Text("b")}},
        FixupCase{"LeadingEmptyTextGoes",
                  {PabDef(1), PabRef(1), Text(""), Text("b")},
                  {PabDef(1), PabRef(1), Text("b")}},
        FixupCase{"TrailingEmptyTextGoes",
                  {PabDef(1), PabRef(1), Text("a"), Text(""), Paragraph(), Text("z")},
                  {PabDef(1), PabRef(1), Text("a"), Paragraph(), Text("z")}},
        FixupCase{"PassThroughAroundNothingGoes",
                  {PabDef(1), PabRef(1), Text("a"), HtmlBegin(), HtmlEnd(), Text("b")},
                  {PabDef(1), PabRef(1), Text("a"), Text("b")}},
        FixupCase{"PassThroughAroundAnEmptyTextGoes",
                  {PabDef(1), PabRef(1), Text("a"), Paragraph(), HtmlBegin(), Text(""), HtmlEnd(),
                   Paragraph(), Text("b")},
                  {PabDef(1), PabRef(1), Text("a"), Paragraph(), Text(""), Paragraph(), Text("b")}},
        FixupCase{"PassThroughAroundTextStays",
                  {PabDef(1), PabRef(1), HtmlBegin(), Text("<b>"), HtmlEnd(), Text("b")},
                  {PabDef(1), PabRef(1), HtmlBegin(), Text("<b>"), HtmlEnd(), Text("b")}},
        FixupCase{"BeginInsidePassThroughAndLoneEndGo",
                  {PabDef(1), PabRef(1), HtmlBegin(), Text("<b>"), HtmlBegin(), Text("<i>"),
                   HtmlEnd(), Paragraph(), HtmlEnd(), Text("b")},
                  {PabDef(1), PabRef(1), HtmlBegin(), Text("<b>"), Text("<i>"), HtmlEnd(),
                   Paragraph(), Text("b")}},
        FixupCase{"BeginAtTheEndGoes",
                  {PabDef(1), PabRef(1), Text("a"), HtmlBegin()},
                  {PabDef(1), PabRef(1), Text("a")}},
        FixupCase{"LargeParagraphMarkersAreDropped",
                  {PabDef(1), PabRef(1), LargeParagraph(1), Text("a"), LargeParagraph(2),
                   Paragraph(), Text("b")},
                  {PabDef(1), PabRef(1), Text("a"), Paragraph(), Text("b")}},
        FixupCase{"AdjacentReferencesFoldIntoTheLast",
                  {PabDef(1), PabDef(2), PabRef(1), PabRef(2), Text("a")},
                  {PabDef(1), PabDef(2), PabRef(2), Text("a")}},
        FixupCase{"AParagraphGoesBeforeATableAfterText",
                  {PabDef(1), PabRef(1), Text("a"), TableBegin(), Cell(0, 0), Text("x"), TableEnd(),
                   Paragraph(), Text("b")},
                  {PabDef(1), PabRef(1), Text("a"), Paragraph(), TableBegin(), Cell(0, 0),
                   Text("x"), TableEnd(), Paragraph(), Text("b")}},
        FixupCase{"ReferencesWithoutIdTakeTheCurrentOne",
                  {PabDef(1), PabDef(3), PabRef(0), Text("a")},
                  {PabDef(1), PabDef(3), PabRef(3), Text("a")}},
        FixupCase{"ABodyEndsInATextRun",
                  {PabDef(1), PabRef(1), Text("a"), Paragraph()},
                  {PabDef(1), PabRef(1), Text("a"), Paragraph(), Text("")}}),
    [](const ::testing::TestParamInfo<FixupCase>& info) { return info.param.name; });

TEST_F(CleanupTest, AnEmptyTextBracketBetweenTextsGoesWithAutoMergeText) {
  const std::vector<Bytes> input = {PabDef(1), PabRef(1), Text("a"),        Begin(SIG_CD_TEXT),
                                    Text(""),  Color(),   End(SIG_CD_TEXT), Text("b")};
  AppendItem(input);
  Connect();
  EXPECT_EQ(Clean(), NOERROR); // AutoMergeText is off: the bracket stays
  EXPECT_EQ(Values()[0], Stored(input));

  item_->AutoMergeText = 1;
  EXPECT_EQ(Clean(), NOERROR);
  EXPECT_EQ(Values()[0], Stored({PabDef(1), PabRef(1), Text("a"), Text("b")}));
}

/* ---- the pass itself, on the loaded records ---- */

class CleanupPassTest : public EngineTest {
protected:
  std::vector<WORD> CleanLoaded(const std::vector<Bytes>& records, WORD autoMerge = 0) {
    AppendItem(records);
    Connect();
    item_->AutoMergeText = autoMerge;
    item_->internal->input = StoreItemsAndRecords(item_, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
    auto* state = new chunk_process_state;
    state->session = session_;
    state->gen.item = item_;
    state->passthru_open = 1; // the pass starts closed whatever the state held
    CleanupTextRuns(state);
    delete state;
    return InputSignatures();
  }
};

TEST_F(CleanupPassTest, RemovedRecordsLeaveAConsistentList) {
  const std::vector<WORD> signatures =
      CleanLoaded({Text(""), Text("a"), HtmlEnd(), Text("b"), HtmlBegin()});
  EXPECT_EQ(signatures, (std::vector<WORD>{SIG_CD_TEXT, SIG_CD_TEXT}));
  record_storage* head = item_->internal->input->records;
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(head->previous, nullptr);
  ASSERT_NE(head->next, nullptr);
  EXPECT_EQ(head->next->previous, head);
  EXPECT_EQ(head->next->next, nullptr);
}

TEST_F(CleanupPassTest, ABracketWithoutItsEndStays) {
  const std::vector<WORD> signatures =
      CleanLoaded({Text("a"), Begin(SIG_CD_TEXT), Text(""), Color()}, 1);
  EXPECT_EQ(signatures, (std::vector<WORD>{SIG_CD_TEXT, SIG_CD_BEGIN, SIG_CD_TEXT, SIG_CD_COLOR}));
}

TEST_F(CleanupPassTest, ABracketFollowedByTextGoesAlsoAtTheStart) {
  const std::vector<WORD> signatures =
      CleanLoaded({Begin(SIG_CD_TEXT), Text(""), Color(), End(SIG_CD_TEXT), Text("b")}, 1);
  EXPECT_EQ(signatures, (std::vector<WORD>{SIG_CD_TEXT}));
}

} // namespace
