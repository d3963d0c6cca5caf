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
#include "store/vocabulary.h"

namespace {

using namespace engine_test;

/* A body in the emitter's normal form: paragraph ids set, no adjacent
 * references or empty texts, a CDPARAGRAPH before the table, ending in
 * text. */
std::vector<Bytes> NormalBody() {
  // clang-format off
  return {PabDef(1), PabRef(1), Text("first paragraph"), Paragraph(), PabDef(2, 720), PabRef(2),
          Text("second"), Begin(SIG_CD_TEXT), TextEffect(), Text("wrapped"), Color(),
          End(SIG_CD_TEXT), Paragraph(), TableBegin(), Cell(0, 0), PabRef(1), Text("a"),
          Cell(0, 1), PabRef(1), Text("b"), TableEnd(), Paragraph(), PabRef(2), Text("odd!"),
          Sized(0xFF40, 11), // a record of a kind nothing knows, odd length
          Sized(0x70, 5), Text("end")};
  // clang-format on
}

Bytes Stored(const std::vector<Bytes>& records) { return Value(Records(records)); }

class CleanupTest : public EngineTest {
protected:
  STATUS Clean(const char* definition = "Everything") {
    return Run(Chunk(definition), ACTION_CLEANUP_TEXT_RUNS);
  }
};

TEST_F(CleanupTest, ANormalBodyIsWrittenBackByteForByteWhateverTheChunk) {
  AppendItem(NormalBody());
  const std::vector<Bytes> before = Values();
  ASSERT_EQ(before.size(), 1u);
  // Records outside the chunk are copied around it in order.
  for (const char* definition :
       {"Everything", "Paragraph 2", "Paragraph *", "Table 1; Row 1; Column 2", "Table 1; Column 2",
        "Text 'wrapped'", "Before Table 1", "After Table 1", "Inside Table 1",
        "Text 'nowhere'" /* the chunk never opens */}) {
    EXPECT_EQ(Clean(definition), NOERROR) << definition;
    EXPECT_EQ(Values(), before) << definition;
  }
  EXPECT_EQ(item_->Modified, 0);
}

TEST_F(CleanupTest, ANormalBodyOfSeveralItemsKeepsItsItems) {
  // Stored items split where the body writer splits them (49022 bytes).
  cdbuild::Body body;
  body.Add(PabDef(1)).Add(PabRef(1));
  for (int i = 0; i < 600; ++i)
    body.Add(Text(std::string(201, static_cast<char>('a' + i % 26))))
        .Add(Paragraph())
        .Add(PabRef(1));
  body.Add(Text("last"));
  ASSERT_GE(body.Items(kBodyItemSplit).size(), 3u);
  ASSERT_EQ(body.AppendItems(note_, "Body"), NOERROR);
  const std::vector<Bytes> before = Values();
  EXPECT_EQ(Clean(), NOERROR);
  EXPECT_EQ(Values(), before);
}

/* ---- fix-ups: the result is the input changed by exactly these ---- */

TEST_F(CleanupTest, ResultIsTheInputWithTheFixup) {
  struct Case {
    const char* name;
    std::vector<Bytes> input;
    std::vector<Bytes> expected;
  };
  const Bytes def = PabDef(1);
  const Bytes ref = PabRef(1);
  const Case cases[] = {
      {"empty text after text",
       {def, ref, Text("a"), Text(""), Text("b")},
       {def, ref, Text("a"), Text("b")}},
      {"empty text before text", {def, ref, Text(""), Text("b")}, {def, ref, Text("b")}},
      {"pass-through around nothing",
       {def, ref, Text("a"), HtmlBegin(), HtmlEnd(), Text("b")},
       {def, ref, Text("a"), Text("b")}},
      {"pass-through around an empty text",
       {def, ref, Text("a"), Paragraph(), HtmlBegin(), Text(""), HtmlEnd(), Paragraph(), Text("b")},
       {def, ref, Text("a"), Paragraph(), Text(""), Paragraph(), Text("b")}},
      {"pass-through around text stays",
       {def, ref, HtmlBegin(), Text("<b>"), HtmlEnd(), Text("b")},
       {def, ref, HtmlBegin(), Text("<b>"), HtmlEnd(), Text("b")}},
      {"begin inside pass-through and lone end",
       {def, ref, HtmlBegin(), Text("<b>"), HtmlBegin(), Text("<i>"), HtmlEnd(), Paragraph(),
        HtmlEnd(), Text("b")},
       {def, ref, HtmlBegin(), Text("<b>"), Text("<i>"), HtmlEnd(), Paragraph(), Text("b")}},
      {"begin at the end", {def, ref, Text("a"), HtmlBegin()}, {def, ref, Text("a")}},
      {"large paragraph markers",
       {def, ref, LargeParagraph(1), Text("a"), LargeParagraph(2), Paragraph(), Text("b")},
       {def, ref, Text("a"), Paragraph(), Text("b")}},
      {"adjacent references fold into the last",
       {def, PabDef(2), ref, PabRef(2), Text("a")},
       {def, PabDef(2), PabRef(2), Text("a")}},
      {"a paragraph before a table after text",
       {def, ref, Text("a"), TableBegin(), Cell(0, 0), Text("x"), TableEnd(), Paragraph(),
        Text("b")},
       {def, ref, Text("a"), Paragraph(), TableBegin(), Cell(0, 0), Text("x"), TableEnd(),
        Paragraph(), Text("b")}},
      {"reference without id takes the current one",
       {def, PabDef(3), PabRef(0), Text("a")},
       {def, PabDef(3), PabRef(3), Text("a")}},
      {"a body ends in a text run",
       {def, ref, Text("a"), Paragraph()},
       {def, ref, Text("a"), Paragraph(), Text("")}},
  };
  for (const Case& c : cases) {
    delete item_; // a fresh item over the new body
    item_ = nullptr;
    NSFItemDelete(note_, "Body", 4);
    AppendItem(c.input);
    EXPECT_EQ(Clean(), NOERROR) << c.name;
    const std::vector<Bytes> values = Values();
    ASSERT_EQ(values.size(), 1u) << c.name;
    EXPECT_EQ(values[0], Stored(c.expected)) << c.name;
  }
}

TEST_F(CleanupTest, AnEmptyTextBracketBetweenTextsGoesWithAutoMergeText) {
  const std::vector<Bytes> input = {PabDef(1), PabRef(1), Text("a"),        Begin(SIG_CD_TEXT),
                                    Text(""),  Color(),   End(SIG_CD_TEXT), Text("b")};
  AppendItem(input);
  EXPECT_EQ(Clean(), NOERROR); // AutoMergeText is off: the bracket stays
  EXPECT_EQ(Values()[0], Stored(input));

  item_->AutoMergeText = 1;
  EXPECT_EQ(Clean(), NOERROR);
  EXPECT_EQ(Values()[0], Stored({PabDef(1), PabRef(1), Text("a"), Text("b")}));
}

/* ---- the pass itself, on the loaded records ---- */

TEST_F(CleanupTest, ThePassOnTheLoadedRecords) {
  struct Case {
    std::vector<Bytes> records;
    WORD autoMerge;
    std::vector<WORD> left;
  };
  const Case cases[] = {
      {{Text(""), Text("a"), HtmlEnd(), Text("b"), HtmlBegin()}, 0, {SIG_CD_TEXT, SIG_CD_TEXT}},
      // A bracket without its end stays.
      {{Text("a"), Begin(SIG_CD_TEXT), Text(""), Color()},
       1,
       {SIG_CD_TEXT, SIG_CD_BEGIN, SIG_CD_TEXT, SIG_CD_COLOR}},
      // A bracket followed by text goes also at the start.
      {{Begin(SIG_CD_TEXT), Text(""), Color(), End(SIG_CD_TEXT), Text("b")}, 1, {SIG_CD_TEXT}},
  };
  for (const Case& c : cases) {
    delete state_;
    delete item_;
    NSFItemDelete(note_, "Body", 4);
    LoadInput(c.records);
    item_->AutoMergeText = c.autoMerge;
    state_->passthru_open = 1; // the pass starts closed whatever the state held
    CleanupTextRuns(state_);
    EXPECT_EQ(InputSignatures(), c.left);
    // The list stays consistent: each node's previous is the one before it.
    record_storage* previous = nullptr;
    for (record_storage* node = item_->internal->input->records; node != nullptr;
         node = node->next) {
      EXPECT_EQ(node->previous, previous);
      previous = node;
    }
  }
}

} // namespace
