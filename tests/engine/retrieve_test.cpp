// Finding paragraph definitions among an item's records: one PABID
// backwards from the end or from the current record, the 92-byte cut of a
// long definition, and the default definition when none is found, with
// the highest PABID in use.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cdbuild/cd_builder.h"
#include "engine/process_state.h"
#include "engine/retrieve.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;

class RetrieveTest : public EngineTest {
protected:
  const CDPABDEFINITION& Found() const {
    return *reinterpret_cast<const CDPABDEFINITION*>(state_->retrieved_definition);
  }
};

TEST_F(RetrieveTest, OnePabidBackwards) {
  LoadInput({PabDef(7, 100), Text("a"), PabDef(7, 200), Text("b"), PabDef(7, 300), Text("c")});
  RetrievePABDEF(7, RETRIEVE_BACKWARD, state_);
  EXPECT_EQ(Found().LeftMargin, 100); // the first in record order
  state_->current_record = InputNode(4);
  RetrievePABDEF(7, RETRIEVE_BACKWARD | RETRIEVE_FROM_CURRENT | RETRIEVE_FIRST_TAKEN, state_);
  EXPECT_EQ(Found().LeftMargin, 200); // the nearest before the current record
  RetrievePABDEF(7, RETRIEVE_FORWARD | RETRIEVE_FROM_CURRENT | RETRIEVE_FIRST_TAKEN, state_);
  EXPECT_EQ(Found().LeftMargin, 300);
}

TEST_F(RetrieveTest, WithoutADefinitionTheDefaultStands) {
  LoadInput({PabRef(1), Text("a")});
  RetrievePABDEF(kAnyPabid, RETRIEVE_FORWARD, state_);
  EXPECT_EQ(state_->retrieved_found, 0u);
  EXPECT_EQ(Found().Header.Signature, SIG_CD_PABDEFINITION);
  EXPECT_EQ(Found().Header.Length, sizeof(CDPABDEFINITION));
  EXPECT_EQ(Found().PABID, 0);
  EXPECT_EQ(Found().LeftMargin, 1440);
  EXPECT_EQ(Found().FirstLineLeftMargin, 1440);
  EXPECT_EQ(Found().Tab[0], 720);
  EXPECT_EQ(Found().Flags, 0);

  state_->last_pabid = 4;
  SetLastPABID(state_);
  EXPECT_EQ(state_->last_pabid, 4);
}

TEST_F(RetrieveTest, ALongDefinitionIsCutTo92Bytes) {
  Bytes longDefinition = PabDef(5);
  longDefinition.resize(120, 0xAB);
  cdbuild::PutWord(longDefinition, 2, 120);
  LoadInput({longDefinition, PabRef(5), Text("a")});
  std::memset(state_->retrieved_definition, 0, sizeof state_->retrieved_definition);
  RetrievePABDEF(5, RETRIEVE_FORWARD, state_);
  EXPECT_EQ(Found().PABID, 5);
  EXPECT_EQ(state_->retrieved_definition[91], 0xAB);

  SetLastPABID(state_);
  EXPECT_EQ(state_->last_pabid, 5);
}

} // namespace
