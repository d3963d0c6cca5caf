// GenerateHTML on a body that its own run loads: the lookup tables of
// definitions and style names come from the records the load kept, and
// the records behind a chunk open or closed for good are passed at once;
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
  /* GenerateHTML of the chunk of "Body" on a fresh connection; with
   * cached, its records loaded before the run. The item's text header
   * after the run goes in *header when given. */
  std::string Generate(NOTEID id, const char *generation, const char *definition = "Everything",
                       bool cached = false, std::string *header = nullptr) {
    auto *item = new VelkoRTItem(session_.get()); // the session deletes it
    EXPECT_EQ(item->Connect("", kDbPath, id, "Body", 0), NOERROR);
    VelkoRTChunk *chunk = item->DefineChunk(definition);
    EXPECT_NE(chunk, nullptr);
    if (chunk == nullptr)
      return "";
    if (cached) {
      item->CacheRecords = 1;
      EXPECT_EQ(chunk->AlterRichText(1, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr), NOERROR);
    }
    char *html = chunk->GenerateHTML("", generation, nullptr, 0, nullptr, nullptr);
    EXPECT_NE(html, nullptr);
    if (html == nullptr)
      return "";
    std::string text(html, session_->render_result_length);
    VelkoDeallocatePtr(session_.get(), html);
    EXPECT_EQ(chunk->status, NOERROR);
    if (header != nullptr)
      header->assign(reinterpret_cast<const char *>(item->internal->current_text_header),
                     sizeof(CDTEXT));
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


TEST_F(LoadedBodyTest, ChunksOpenOrClosedForGoodRenderAsAWalkOfEachRecord) {
  // Paragraphs, a table, a section holding a table, a link and text runs
  // of two fonts, the last run's font not the first's.
  std::vector<Bytes> records = {cdbuild::PabDef({.id = 1})};
  for (int part = 0; part < 3; ++part) {
    records.push_back(cdbuild::Paragraph());
    records.push_back(cdbuild::PabRef(1));
    records.push_back(Text("lead " + std::to_string(part)));
    records.push_back(cdbuild::HotspotBegin({.signature = SIG_CD_V4HOTSPOTBEGIN, .type = 13}));
    records.push_back(cdbuild::SectionBar({.title = "Section"}));
    records.push_back(cdbuild::TableBegin());
    for (BYTE column = 0; column < 3; ++column) {
      cdbuild::TableCellFields fields;
      fields.column = column;
      records.push_back(cdbuild::TableCell(fields));
      records.push_back(cdbuild::PabRef(1));
      records.push_back(Text("cell " + std::to_string(column)));
    }
    records.push_back(cdbuild::TableEnd());
    records.push_back(cdbuild::HotspotEnd(SIG_CD_V4HOTSPOTEND));
  }
  records.push_back(cdbuild::Paragraph());
  records.push_back(cdbuild::PabRef(1));
  records.push_back(cdbuild::Text("tail", {.attributes = 1, .size = 14}));
  const NOTEID id = note_testing::StoreNote(db_, note_testing::Records(records));
  ASSERT_NE(id, 0u);
  // Open for good from some record on, or closed for good before the end.
  for (const char *definition : {"Everything", "After Paragraph 1", "After Table 1",
                                 "Starts With Table 2", "Table 1", "Paragraph 2"}) {
    for (const bool cached : {false, true}) {
      std::string passedHeader;
      std::string walkedHeader;
      const std::string passed = Generate(id, "HTML", definition, cached, &passedHeader);
      VelkoTestSetEmitterLane(false);
      const std::string walked = Generate(id, "HTML", definition, cached, &walkedHeader);
      VelkoTestSetEmitterLane(true);
      EXPECT_NE(passed.find("cell 0"), std::string::npos) << definition;
      EXPECT_EQ(passed, walked) << definition << (cached ? " cached" : "");
      EXPECT_EQ(passedHeader, walkedHeader) << definition << (cached ? " cached" : "");
    }
  }
}

} // namespace
