// MatchInitiator and MatchTerminator on single records: records too short
// for the fields a test reads never match, and the discriminators of
// hotspot targets. (Where chunks open and close over whole bodies is in
// the engine corpus, tests/engine/corpus.)
#include <gtest/gtest.h>

#include <cstring>

#include "engine/walk.h"
#include "tests/support/test_fixture.h"
#include "store/vocabulary.h"

namespace {

using namespace engine_test;

/* ---- MatchInitiator and MatchTerminator on single records ---- */

class MatchTest : public EngineTest {
protected:
  chunkdef_info Clause(WORD type, WORD index) {
    chunkdef_info clause;
    clause.relation = RELATION_CONTAINS;
    clause.target_type = type;
    clause.index_count = 1;
    clause.index_starts[0] = index;
    return clause;
  }
  DWORD Initiator(chunkdef_info& clause, const Bytes& record, WORD signature, DWORD* complete,
                  WORD previous = 0) {
    return MatchInitiator(&clause, reinterpret_cast<const char*>(record.data()), signature,
                          static_cast<DWORD>(record.size()), previous, complete, &match_);
  }
  chunk_process_state match_;
};

TEST_F(MatchTest, AShortRecordNeverMatches) {
  chunkdef_info cell = Clause(TARGETTYPE_COLUMN, 1);
  char shortCell[4] = {static_cast<char>(SIG_CD_TABLECELL), 3, 0, 0};
  match_.record_counter = 2;
  DWORD complete = 9;
  // The record ends after the row byte: the column byte at offset 3 is not read.
  EXPECT_EQ(MatchInitiator(&cell, shortCell, SIG_CD_TABLECELL, 3, 0, &complete, &match_), 0u);
  EXPECT_EQ(MatchInitiator(&cell, shortCell, SIG_CD_TABLECELL, 4, 0, &complete, &match_), 1u);

  chunkdef_info text = Clause(TARGETTYPE_TEXT, 1);
  text.match_text = const_cast<char*>("");
  text.match_mode = MATCH_EXACT;
  char shortText[6] = {static_cast<char>(0x85), static_cast<char>(0xFF), 6, 0, 1, 0};
  record_storage node;
  node.signature = SIG_CD_TEXT;
  node.length = 6;
  node.data = shortText;
  match_.current_record = &node;
  // Shorter than a text header: not even an empty text.
  EXPECT_EQ(MatchInitiator(&text, shortText, SIG_CD_TEXT, 6, 0, &complete, &match_), 0u);
  text.match_text = nullptr;
  node.data = nullptr;
  match_.current_record = nullptr;

  chunkdef_info paragraph = Clause(TARGETTYPE_PARAGRAPH, 1);
  const char shortLarge[4] = {0x68, static_cast<char>(0xFF), 4, 0};
  DWORD counted = 0;
  DWORD ended = 0;
  EXPECT_EQ(MatchTerminator(&paragraph, shortLarge, SIG_CD_LARGEPARAGRAPH, 4, 0, &counted, &ended,
                            0, &match_),
            0u);
  const char shortEnd[4] = {static_cast<char>(SIG_CD_END), 4, 0, 0};
  chunkdef_info table = Clause(TARGETTYPE_TABLE, 1);
  EXPECT_EQ(MatchTerminator(&table, shortEnd, SIG_CD_END, 4, 0, &counted, &ended, 0, &match_), 0u);
}

TEST_F(MatchTest, HotspotDiscriminators) {
  struct Case {
    WORD type;
    WORD hotspotType;
    DWORD flags;
    DWORD starts;
  };
  const Case cases[] = {
      {TARGETTYPE_BUTTON, 3, 0, 1},
      {TARGETTYPE_BUTTON, 4, 0, 0},
      {TARGETTYPE_FILE, 4, 0, 1},
      {TARGETTYPE_ACTIONHOTSPOT, 2, 0, 0}, // needs flag 0x10 or 0x100
      {TARGETTYPE_ACTIONHOTSPOT, 2, 0x100, 1},
      {TARGETTYPE_POPUP, 1, 0, 1},
      {TARGETTYPE_POPUP, 1, 0x40000, 0},  // excluded
      {TARGETTYPE_COMPUTEDTEXT, 1, 0, 0}, // required flag missing
      {TARGETTYPE_COMPUTEDTEXT, 1, 0x40000, 1},
      {TARGETTYPE_URLLINK, 11, 0x1000, 1},
      {TARGETTYPE_URLLINK, 11, 0, 0},
      {TARGETTYPE_HOTSPOT, 99, 0, 1},
  };
  match_.record_counter = 3;
  for (const Case& c : cases) {
    chunkdef_info clause = Clause(c.type, 1);
    DWORD complete = 0;
    EXPECT_EQ(Initiator(clause, HotspotBegin(SIG_CD_V4HOTSPOTBEGIN, c.hotspotType, c.flags),
                        SIG_CD_V4HOTSPOTBEGIN, &complete),
              c.starts)
        << "type " << c.type << " hotspot " << c.hotspotType << " flags " << c.flags;
  }
  // A hotspot begin right after a V4 hotspot begin starts nothing.
  chunkdef_info clause = Clause(TARGETTYPE_HOTSPOT, 1);
  DWORD complete = 0;
  EXPECT_EQ(Initiator(clause, HotspotBegin(SIG_CD_HOTSPOTBEGIN, 3), SIG_CD_HOTSPOTBEGIN, &complete,
                      SIG_CD_V4HOTSPOTBEGIN),
            0u);
  EXPECT_EQ(clause.occurrence, 0u);
}

} // namespace
