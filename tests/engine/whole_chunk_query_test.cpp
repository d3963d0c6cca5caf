// The query actions over whole chunks issued through AlterRichText: what
// counts as something and as text (the found count rises once, at the
// first such record), and the answers a table cell's borders and an IDNAME
// give for parameters no method passes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/session.h"
#include "store/vocabulary.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;

class WholeChunkQueryTest : public EngineTest {
protected:
  /* The found count after the action over a chunk of the records, counted
   * on from 5. */
  WORD Count(const std::vector<Bytes>& records, WORD action) {
    NOTEHANDLE fresh = NULLHANDLE;
    EXPECT_EQ(NSFNoteCreate(db_, &fresh), NOERROR);
    EXPECT_EQ(note_testing::AppendRecords(fresh, "Body", Records(records)), NOERROR);
    VelkoRTItem item(session_);
    EXPECT_EQ(item.ConnectBackend(fresh, "Body", 0), NOERROR);
    VelkoRTChunk* chunk = item.DefineChunk("Everything");
    session_->internal->property_word_a = 5;
    EXPECT_EQ(chunk->AlterRichText(action, action, 0, 0, 0, nullptr, nullptr, nullptr, nullptr),
              NOERROR);
    const WORD count = session_->internal->property_word_a;
    item.CleanupTraces();
    NSFNoteClose(fresh);
    return count;
  }
};

TEST_F(WholeChunkQueryTest, WhatCountsAsSomethingAndAsText) {
  const Bytes emptyText = Text("");
  const Bytes hide = cdbuild::Sized(SIG_CD_PABHIDE, 14);
  const Bytes formulaRef = cdbuild::Sized(SIG_CD_PABFORMULAREF, 6);
  const Bytes rule = cdbuild::Sized(SIG_CD_HRULE, 16);
  const std::vector<Bytes> frame = {PabDef(1), PabRef(1), Paragraph(), hide, formulaRef,
                                    emptyText, Begin(SIG_CD_HRULE), End(SIG_CD_HRULE)};
  struct Case {
    const char* what;
    std::vector<Bytes> more;
    WORD something;
    WORD text;
  };
  const Case cases[] = {
      {"paragraph and style records, empty runs", {}, 5, 5},
      {"a rule", {rule}, 6, 5},
      {"a text run", {Text("a")}, 6, 6},
      {"two text runs count once", {Text("a"), emptyText, Text("b")}, 6, 6},
  };
  for (const Case& c : cases) {
    std::vector<Bytes> records = frame;
    records.insert(records.end(), c.more.begin(), c.more.end());
    EXPECT_EQ(Count(records, ACTION_CONTAINS_SOMETHING), c.something) << c.what;
    EXPECT_EQ(Count(records, ACTION_CONTAINS_TEXT), c.text) << c.what;
  }
}

TEST_F(WholeChunkQueryTest, CellBorderAndHtmlValueForOtherParameters) {
  Bytes idName(22);
  cdbuild::PutWord(idName, 8, 2);  // extra
  cdbuild::PutWord(idName, 10, 2); // name
  idName.insert(idName.end(), {'x', '1', 'n', '1'});
  AppendItem({PabDef(1), PabRef(1), Text("a"), cdbuild::Record(SIG_CD_IDNAME, idName),
              TableBegin(), cdbuild::TableCell({.borders = 0x39}), Text("b"), TableEnd()});
  struct Case {
    const char* definition;
    WORD action;
    WORD p1;
    const char* answer; /* null: the result text is left as it was */
  };
  const Case cases[] = {
      {"Table 1", ACTION_GET_CELL_BORDER, 0, "1,2,3,0"},
      {"Table 1", ACTION_GET_CELL_BORDER, 4, "0"},
      {"Table 1", ACTION_GET_CELL_BORDER, 5, nullptr},
      {"Paragraph 1", ACTION_GET_CELL_BORDER, 0, nullptr},
      {"Everything", ACTION_GET_HTML_VALUE, 1, "n1"},
      {"Everything", ACTION_GET_HTML_VALUE, 6, "x1"},
      {"Everything", ACTION_GET_HTML_VALUE, 9, "x1"},
      {"Everything", ACTION_GET_HTML_VALUE, 0, "x1"},
      {"Table 1", ACTION_GET_HTML_VALUE, 1, nullptr},
  };
  for (const Case& c : cases) {
    VelkoRTChunk* chunk = Chunk(c.definition);
    std::strcpy(session_->result_text, "kept");
    session_->result_length = 4;
    EXPECT_EQ(chunk->AlterRichText(c.action, c.p1, 0, 0, 0, nullptr, nullptr, nullptr, nullptr),
              NOERROR);
    const std::string expected = c.answer != nullptr ? c.answer : "kept";
    EXPECT_EQ(std::string(session_->result_text, session_->result_length), expected)
        << c.definition << " " << c.action << " " << c.p1;
    EXPECT_EQ(session_->result_text[session_->result_length], '\0');
  }
}

} // namespace
