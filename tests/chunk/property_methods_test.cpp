// The chunk's named properties through the class interface: reads that the
// chunk answers itself (search flags, the definition), reads the engine
// answers (text, PABID, a cell's row, the record words, the action formula
// as text, a link's popup text), the in-code rows that read empty, the
// refusals of a set with their messages, and the action, id and value a set
// hands to the engine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/status.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "tests/chunk/action_record_fixture.h"
#include "tests/support/compiled_formula.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;
using formula_testing::Compiled;

class PropertyMethodTest : public ActionRecordTest {
protected:
  std::string TextOf(VelkoRTChunk* chunk, const char* name, WORD size = 100,
                     WORD* written = nullptr) {
    char buffer[256];
    std::memset(buffer, '#', sizeof buffer);
    const WORD result = chunk->GetPropertyText(name, buffer, size);
    if (written != nullptr)
      *written = result;
    return buffer;
  }
};

TEST_F(PropertyMethodTest, SearchFlagsAreTheChunks) {
  VelkoRTChunk* chunk = Body();
  EXPECT_EQ(chunk->GetPropertyNumber("accentsensitive"), 1);
  EXPECT_EQ(chunk->GetPropertyNumber("CaseSensitive"), 0);
  WORD written = 9;
  EXPECT_EQ(TextOf(chunk, "AccentSensitive", 100, &written), "1.000000");
  EXPECT_EQ(written, 0);
  EXPECT_EQ(chunk->SetPropertyNumber("CaseSensitive", 1.9), 1);
  EXPECT_EQ(chunk->GetPropertyNumber("CaseSensitive"), 1);
  EXPECT_EQ(chunk->CaseSensitive, 1);
  EXPECT_EQ(chunk->GetPropertyNumber("AccentSensitive"), 1);
  EXPECT_EQ(chunk->SetPropertyNumber("TextWildcards", 0), 1);
  EXPECT_EQ(chunk->GetPropertyNumber("TextWildcards"), 0);
  EXPECT_TRUE(Actions().empty());
}

TEST_F(PropertyMethodTest, DefinitionIsCutAtTheCapacity) {
  AppendItem({PabDef(1), PabRef(1), TableBegin(), Cell(0, 0), Text("a"), Cell(1, 0), Text("b"),
              TableEnd()});
  VelkoRTChunk* chunk = Chunk("Table 1; Row 2");
  const std::string definition = chunk->definition;
  EXPECT_EQ(TextOf(chunk, "Definition"), definition);
  EXPECT_EQ(TextOf(chunk, "Definition", 5), "Tabl");
  EXPECT_EQ(TextOf(chunk, "definition", 1), "");
  EXPECT_EQ(TextOf(chunk, "Exists"), "1.000000");
  EXPECT_EQ(chunk->GetPropertyNumber("Exists"), 1);
}

TEST_F(PropertyMethodTest, UnknownNamesGiveNothing) {
  VelkoRTChunk* chunk = Body();
  WORD written = 9;
  EXPECT_EQ(TextOf(chunk, "NoSuchProperty", 100, &written), "");
  EXPECT_EQ(written, 0);
  EXPECT_EQ(chunk->GetPropertyNumber("NoSuchProperty"), 0);
  EXPECT_EQ(chunk->GetPropertyNumber(nullptr), 0);
  EXPECT_EQ(chunk->SetPropertyNumber("NoSuchProperty", 1), 0);
  EXPECT_EQ(chunk->SetPropertyText("NoSuchProperty", "x", 0), 0);
  EXPECT_EQ(chunk->SetPropertyText("NoList", nullptr, 0), 0);
  EXPECT_EQ(chunk->SetPropertyText(nullptr, "x", 0), 0);
  EXPECT_TRUE(note_testing::MessageTexts().empty());
  EXPECT_TRUE(Actions().empty());
}

TEST_F(PropertyMethodTest, SetsRefusedWithTheirMessages) {
  VelkoRTChunk* chunk = Body();
  struct Case {
    const char* name;
    bool text;
    std::string message;
  };
  const Case cases[] = {
      {"Exists", false, "@Tarno: Unable to set read-only property 'Exists'"},
      {"exists", true, "@Tarno: Unable to set read-only property 'Exists'"},
      {"HotspotBorder", false, "@Tarno: No handler enabled to set property 'HotspotBorder'"},
      {"PointSize", true, "@Tarno: No handler enabled to set property 'PointSize'"},
  };
  for (const Case& c : cases) {
    HostTestClearMessages();
    const int set =
        c.text ? chunk->SetPropertyText(c.name, "1", 0) : chunk->SetPropertyNumber(c.name, 1);
    EXPECT_EQ(set, 0) << c.name;
    EXPECT_EQ(note_testing::MessageTexts(), std::vector<std::string>{c.message}) << c.name;
    EXPECT_EQ(std::string(session_->result_text, session_->result_length), c.message);
  }
  EXPECT_TRUE(Actions().empty());
}

TEST_F(PropertyMethodTest, SetsIssueTheirActionIdAndValue) {
  VelkoRTChunk* chunk = Body();
  struct Case {
    const char* name;
    int (*call)(VelkoRTChunk*);
    WORD action, p1, p2;
    const char* s1;
  };
  const Case cases[] = {
      {"list sets only the first settable key",
       [](VelkoRTChunk* c) { return c->SetPropertyText("Text=abc AnchorText=xyz", nullptr, 0); },
       17, 2302, 3, "xyz"},
      {"text", [](VelkoRTChunk* c) { return c->SetPropertyText("Text", "hello", 0); }, 10, 2332, 5,
       "hello"},
      {"text with length", [](VelkoRTChunk* c) { return c->SetPropertyText("RowLabel", "ab", 1); },
       42, 2608, 1, "ab"},
      {"number of a text row", [](VelkoRTChunk* c) { return c->SetPropertyNumber("Text", -42.7); },
       10, 2332, 3, "-42"},
      {"in-code row with a set action",
       [](VelkoRTChunk* c) { return c->SetPropertyText("LinkPopupText", "pop", 0); }, 2362, 2340, 3,
       "pop"},
  };
  for (const Case& c : cases) {
    VelkoTestResetActionRecord();
    c.call(chunk);
    ASSERT_EQ(Actions().size(), 1u) << c.name;
    const recorded_action& a = Actions().back();
    EXPECT_EQ(a.action, c.action) << c.name;
    EXPECT_EQ(a.p1, c.p1) << c.name;
    EXPECT_EQ(a.p2, c.p2) << c.name;
    EXPECT_EQ(a.s1, c.s1) << c.name;
  }
}

TEST_F(PropertyMethodTest, NumberSetOfAScratchRowWritesTrueForZero) {
  VelkoRTChunk* chunk = Body();
  struct Case {
    const char* name;
    double value;
    std::string first, third;
  };
  const Case cases[] = {
      {"SectionTitle", 2, "FALSE", ""},
      {"SectionTitle", 0.5, "TRUE", ""}, // truncated to 0
      {"ParagraphStyle", -1, "", "FALSE"},
      {"ParagraphStyle", 0, "", "TRUE"},
  };
  for (const Case& c : cases) {
    VelkoTestResetActionRecord();
    session_->scratch_first[0] = '\0';
    session_->scratch_third[0] = '\0';
    chunk->SetPropertyNumber(c.name, c.value);
    ASSERT_FALSE(Actions().empty()) << c.name;
    EXPECT_EQ(Actions()[0].scratch_first, c.first) << c.name << c.value;
    EXPECT_EQ(Actions()[0].scratch_third, c.third) << c.name << c.value;
  }
}

TEST_F(PropertyMethodTest, FormulaSetsCompileFirst) {
  VelkoRTChunk* chunk = Body();
  EXPECT_EQ(chunk->SetPropertyText("ActionFormula", "@If(", 0), 0);
  EXPECT_EQ(note_testing::MessageTexts().size(), 1u);
  EXPECT_TRUE(Actions().empty());
  chunk->SetPropertyText("HideFormula", "@True", 0);
  ASSERT_EQ(Actions().size(), 1u);
  EXPECT_EQ(Actions()[0].action, ACTION_SET_HIDE_FORMULA);
  EXPECT_EQ(Actions()[0].p1, 2333);
  EXPECT_EQ(Actions()[0].p2, Actions()[0].result_text.size());
  EXPECT_GT(Actions()[0].p2, 0);
}

TEST_F(PropertyMethodTest, ReadsTheEngineAnswers) {
  VelkoRTChunk* chunk = Body();
  WORD written = 0;
  EXPECT_EQ(TextOf(chunk, "Text", 100, &written), "abc");
  EXPECT_EQ(written, 3);
  EXPECT_EQ(TextOf(chunk, "Text", 3, &written), "ab");
  EXPECT_EQ(written, 2);
  const double pabid = chunk->GetPropertyNumber("PABID");
  EXPECT_EQ(TextOf(chunk, "PABID"), std::to_string(static_cast<long>(pabid)));
  EXPECT_EQ(pabid, 1);
}

/* A text cut to the caller's size keeps whole characters: with the euro
 * sign's three bytes after "ab", sizes 4 and 5 both give "ab". */
TEST_F(PropertyMethodTest, TextIsCutBetweenWholeCharacters) {
  AppendItem({PabDef(1), PabRef(1), Text("ab\x14\x20\xac")});
  VelkoRTChunk* chunk = Chunk("Everything");
  const struct {
    WORD size;
    std::string text;
  } cases[] = {{4, "ab"}, {5, "ab"}, {6, "ab\x14\x20\xac"}};
  for (const auto& c : cases) {
    WORD written = 0;
    EXPECT_EQ(TextOf(chunk, "Text", c.size, &written), c.text) << c.size;
    EXPECT_EQ(written, c.text.size()) << c.size;
  }
}

TEST_F(PropertyMethodTest, TargetRowOfAPlainCellCountsFromOne) {
  std::vector<Bytes> records = {PabDef(1), PabRef(1), TableBegin()};
  for (BYTE row = 0; row < 3; ++row)
    for (BYTE column = 0; column < 2; ++column) {
      records.push_back(Cell(row, column));
      records.push_back(Text("x"));
    }
  records.push_back(TableEnd());
  AppendItem(records);
  VelkoRTChunk* cell = Chunk("Table 1; Row 3; Column 2");
  EXPECT_EQ(cell->GetPropertyNumber("TargetRow"), 3);
  EXPECT_EQ(cell->GetPropertyNumber("TargetColumn"), 2);
  EXPECT_EQ(cell->GetPropertyNumber("TargetNth"), 0);
  ASSERT_FALSE(Actions().empty());
  EXPECT_EQ(Actions()[0].action, PROP_TARGETROW);
}

TEST_F(PropertyMethodTest, ReadsTheWordsTheWalkLeaves) {
  AppendItem({PabDef(1), PabRef(1), TableBegin(), Cell(0, 0), Text("a"), Cell(1, 0), Text("b"),
              TableEnd()});
  VelkoRTChunk* chunk = Chunk("Table 1");
  struct Case {
    const char* name;
    double number;
    std::string text;
  };
  const Case cases[] = {
      {"RecordType", 163, "163"}, // the table's first record, CDTABLEBEGIN
      {"FirstRecord", 3, "3"},
      {"LastRecord", 8, "8"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(chunk->GetPropertyNumber(c.name), c.number) << c.name;
    WORD written = 9;
    EXPECT_EQ(TextOf(chunk, c.name, 100, &written), c.text) << c.name;
    EXPECT_EQ(written, 0) << c.name;
  }
}

TEST_F(PropertyMethodTest, ActionFormulaIsReadAsFormulaText) {
  const std::string formula = "@Command([FileSave])";
  AppendItem({PabDef(1), PabRef(1),
              cdbuild::HotspotBegin({.type = 3, .data = Compiled(formula.c_str())}), Text("go"),
              cdbuild::HotspotEnd()});
  VelkoRTChunk* chunk = Chunk("Everything");
  WORD written = 0;
  EXPECT_EQ(TextOf(chunk, "ActionFormula", 100, &written), formula);
  EXPECT_EQ(written, formula.size());
  EXPECT_EQ(TextOf(chunk, "ActionFormula", 9, &written), "@Command");
  EXPECT_EQ(written, 8);

  // Data that is no compiled formula reads as the decompiler's error.
  Restart();
  AppendItem({PabDef(1), PabRef(1), cdbuild::HotspotBegin({.type = 3, .data = "later"}),
              Text("go"), cdbuild::HotspotEnd()});
  chunk = Chunk("Everything");
  EXPECT_EQ(TextOf(chunk, "ActionFormula", 200),
            "*** Error: " + note_testing::HostText(ERR_FORMULA_BAD_FORMULA));
}

TEST_F(PropertyMethodTest, InCodeRowsWithoutAnAnswerReadEmpty) {
  VelkoRTChunk* chunk = Body();
  for (const char* name : {"CellColor", "TargetType", "UnformattedText", "UnzoomedDefinition"}) {
    WORD written = 9;
    EXPECT_EQ(TextOf(chunk, name, 100, &written), "") << name;
    EXPECT_EQ(written, 0) << name;
    EXPECT_EQ(chunk->GetPropertyNumber(name), 0) << name;
  }
  EXPECT_TRUE(Actions().empty());
}

TEST_F(PropertyMethodTest, PopupTextIsTheLinksPopupText) {
  const std::string texts("Pop\0Hint\0Anc\0", 13);
  AppendItem({PabDef(1), PabRef(1), Text("see "),
              cdbuild::DocLink(Bytes(40, 0x11), Bytes(texts.begin(), texts.end())), Text(".")});
  VelkoRTChunk* chunk = Chunk("Everything");
  for (const char* name : {"PopupText", "LinkPopupText"}) {
    WORD written = 9;
    EXPECT_EQ(TextOf(chunk, name, 100, &written), "Pop") << name;
    EXPECT_EQ(written, 0) << name;
  }
}

} // namespace
