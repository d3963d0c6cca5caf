// The fixture of the chunk method tests: an engine test whose record of
// the actions the methods hand the engine starts empty, with a one-run
// body to work on.
#ifndef VELKO_TESTS_CHUNK_ACTION_RECORD_FIXTURE_H
#define VELKO_TESTS_CHUNK_ACTION_RECORD_FIXTURE_H

#include <vector>

#include "chunk/action_record_testing.h"
#include "tests/support/test_fixture.h"

class ActionRecordTest : public engine_test::EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    VelkoTestResetActionRecord();
  }

  /* "Everything" of an item holding one paragraph with the text "abc". */
  VelkoRTChunk* Body() {
    AppendItem({engine_test::PabDef(1), engine_test::PabRef(1), engine_test::Text("abc")});
    return Chunk("Everything");
  }

  static const std::vector<recorded_action>& Actions() { return VelkoTestRecordedActions(); }
  static const recorded_action& Last() { return VelkoTestRecordedActions().back(); }
};

#endif
