// GenerateHTML on a body that its own run loads: the lookup tables of
// definitions and style names come from the records the load kept, and
// the output is byte for byte that of a run that walks the list for them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render_fixture.h"
#include "store/emitter_lane_testing.h"
#include "tests/support/note_fixture.h"

namespace {

using namespace driver_testing;

class LoadedBodyTest : public DriverTest {
protected:
  /* GenerateHTML over all of the note's "Body" on a fresh connection. */
  std::string Generate(NOTEID id, const char *generation) {
    auto *item = new VelkoRTItem(session_.get()); // the session deletes it
    EXPECT_EQ(item->Connect("", kDbPath, id, "Body", 0), NOERROR);
    VelkoRTChunk *chunk = item->DefineChunk("Everything");
    EXPECT_NE(chunk, nullptr);
    if (chunk == nullptr)
      return "";
    char *html = chunk->GenerateHTML("", generation, nullptr, 0, nullptr, nullptr);
    EXPECT_NE(html, nullptr);
    if (html == nullptr)
      return "";
    std::string text(html, session_->render_result_length);
    VelkoDeallocatePtr(session_.get(), html);
    EXPECT_EQ(chunk->status, NOERROR);
    return text;
  }
};

TEST_F(LoadedBodyTest, AFreshLoadRendersAsAWalkOfTheList) {
  // More definitions than a lookup table holds, in an order that is not
  // their PABIDs'; an alignment per PABID, a paragraph of each, and a
  // PABID defined twice, so that each paragraph's look depends on which
  // definition is found.
  constexpr WORD kKinds = 300;
  std::vector<Bytes> records;
  for (WORD i = 0; i < kKinds; ++i) {
    const WORD pabid = static_cast<WORD>((i * 7) % kKinds + 1);
    records.push_back(cdbuild::PabDef({.id = pabid, .justify = static_cast<WORD>(pabid % 4)}));
    std::string name = "Style ";
    name += std::to_string(pabid);
    records.push_back(cdbuild::StyleName(pabid, name));
  }
  for (WORD pabid = 1; pabid <= kKinds; ++pabid) {
    records.push_back(cdbuild::Paragraph());
    records.push_back(cdbuild::PabRef(pabid));
    std::string text = "p";
    text += std::to_string(pabid);
    records.push_back(Text(text));
  }
  records.push_back(cdbuild::PabDef({.id = 2, .justify = 3}));
  records.push_back(cdbuild::Paragraph());
  records.push_back(cdbuild::PabRef(2));
  records.push_back(Text("again"));
  const NOTEID id = note_testing::StoreNote(db_, note_testing::Records(records));
  ASSERT_NE(id, 0u);
  for (const char *generation : {"HTML", "XHTML"}) {
    const std::string loaded = Generate(id, generation);
    VelkoTestSetEmitterLane(false);
    const std::string walked = Generate(id, generation);
    VelkoTestSetEmitterLane(true);
    EXPECT_NE(loaded.find("p300"), std::string::npos) << generation;
    EXPECT_NE(loaded.find("again"), std::string::npos) << generation;
    EXPECT_EQ(loaded, walked) << generation;
  }
}

} // namespace
