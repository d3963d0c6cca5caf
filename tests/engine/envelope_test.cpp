// Emitting records around text: the text envelope rebuilt around a kept
// run or around new text, and the copy-through of passed-over records with
// a saved paragraph definition going out before its first reference.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/process_state.h"
#include "engine/text_envelope.h"
#include "engine/walk.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;

class EmitTest : public EngineTest {
protected:
  void Load(const std::vector<Bytes>& records) {
    LoadInput(records);
    state_->gen.session = session_;
    state_->writes = 1;
    ASSERT_EQ(CreateBodyItem(&state_->gen), NOERROR);
  }
  /* The output's records: "<sig>" or the text of a text run. */
  std::vector<std::string> Output() {
    return note_testing::Describe(item_->internal->output->records);
  }
};

std::vector<Bytes> Envelope() {
  return {PabDef(1),    PabRef(1), Begin(SIG_CD_TEXT), TextEffect(),
          Text("kept"), Color(),   End(SIG_CD_TEXT),   Text("after")};
}

TEST_F(EmitTest, TheEnvelopeGoesAroundTheKeptRun) {
  Load(Envelope());
  state_->envelope = InputNode(3);
  state_->current_record = InputNode(5);
  EXPECT_EQ(GenerateTextEnvelope(0, state_), NOERROR);
  EXPECT_EQ(Output(), (std::vector<std::string>{"<00DD>", "<FFC3>", "kept", "<00D2>", "<00DE>"}));
}

TEST_F(EmitTest, TheEnvelopeGoesAroundEachNewPiece) {
  Load(Envelope());
  state_->envelope = InputNode(3);
  state_->current_record = InputNode(5);
  EXPECT_EQ(GenerateTextEnvelopeData("ke", 2, InputNode(5)->data, state_), NOERROR);
  EXPECT_EQ(GenerateTextEnvelopeData("pt", 2, InputNode(5)->data, state_), NOERROR);
  EXPECT_EQ(Output(), (std::vector<std::string>{"<00DD>", "<FFC3>", "ke", "<00D2>", "<00DE>",
                                                "<00DD>", "<FFC3>", "pt", "<00D2>", "<00DE>"}));
}

TEST_F(EmitTest, ATextEffectAloneIsNoBracket) {
  Load(Envelope());
  state_->envelope = InputNode(4);
  state_->current_record = InputNode(5);
  EXPECT_EQ(GenerateTextEnvelopeData("new", 3, nullptr, state_), NOERROR);
  EXPECT_EQ(Output(), (std::vector<std::string>{"<FFC3>", "new"}));
}

TEST_F(EmitTest, WithoutAnEnvelopeOnlyTheTextGoes) {
  Load(Envelope());
  state_->current_record = InputNode(8);
  EXPECT_EQ(GenerateTextEnvelope(0, state_), NOERROR);
  EXPECT_EQ(GenerateTextEnvelopeData("x", 1, nullptr, state_), NOERROR);
  EXPECT_EQ(Output(), (std::vector<std::string>{"after", "x"}));
}

TEST_F(EmitTest, CopyThroughEmitsASavedDefinitionBeforeItsReference) {
  Load({PabDef(1), PabRef(1), Text("a"), Paragraph(), PabRef(5), Text("b")});
  Bytes saved = PabDef(5, 720);
  Bytes host(saved.size() + 2);
  // The saved definition in host form: the two pad bytes after the fixed part.
  std::memcpy(host.data(), saved.data(), 70);
  std::memcpy(host.data() + 72, saved.data() + 70, saved.size() - 70);
  cdbuild::PutWord(host, 2, static_cast<WORD>(host.size()));
  ASSERT_EQ(SaveParagraphDefinition(session_, host.data()), NOERROR);
  state_->pass_over_mark = 2;
  state_->pass_over_node = InputNode(2);
  EXPECT_EQ(CopyPassedOverRecords(state_, InputNode(6), true), NOERROR);
  EXPECT_EQ(Output(), (std::vector<std::string>{"<0083>", "a", "<0081>", "<FF82>", "<0083>"}));
  EXPECT_EQ(state_->pass_over_mark, 0u);
  EXPECT_EQ(state_->pass_over_node, nullptr);
  EXPECT_EQ(session_->internal->saved_definition_count, 0);
}

} // namespace
