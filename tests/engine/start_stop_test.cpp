// Where chunks open and close: action 1 reports the first and last record
// of each chunk definition over bodies written record by record (plain
// paragraphs, a table of two rows, a nested table, brackets and hotspots),
// and the start and stop tests' answers for single records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "engine/walk.h"
#include "engine_fixture.h"
#include "store/vocabulary.h"

namespace {

using namespace engine_test;

/* Two paragraphs, a table of two rows of three cells, two more paragraphs. */
std::vector<Bytes> ParagraphsAndTable() {
  return {
      PabDef(1),   PabRef(1),    Text("abc"), Paragraph(), PabRef(1),    Text("hello"), // 1-6
      Paragraph(), TableBegin(),                                                        // 7-8
      Cell(0, 0),  Text("a"),    Cell(0, 1),  Text("b"),   Cell(0, 2),   Text("c"),     // 9-14
      Cell(1, 0),  Text("d"),    Cell(1, 1),  Text("e"),   Cell(1, 2),   Text("f"),     // 15-20
      TableEnd(),  Paragraph(),  Text("ABC"), Paragraph(), Text("tail"),                // 21-25
  };
}

struct PositionCase {
  const char* definition;
  DWORD first;
  DWORD last;
};

class StartStopTest : public EngineTest {
protected:
  /* Action 1 over each definition on one item of the body. */
  void ExpectPositions(const std::vector<Bytes>& body, const std::vector<PositionCase>& cases) {
    AppendItem(body);
    for (const PositionCase& c : cases)
      EXPECT_EQ(Positions(c.definition), std::make_pair(c.first, c.last)) << c.definition;
  }
};

TEST_F(StartStopTest, ParagraphsAndTable) {
  // clang-format off
  ExpectPositions(ParagraphsAndTable(),
                  {{"Everything", 1, 25}, {"Table 1", 8, 21}, {"Table 1; Row 2; Column 3", 19, 20},
                   {"Table 1; Row 1; Column 2", 11, 12}, {"Table 1; Row 2", 15, 20},
                   {"Table 1; Column 1", 9, 16}, {"Paragraph 1", 1, 3}, {"Paragraph 2", 4, 6},
                   {"Before Table 1", 1, 7}, {"After Table 1", 22, 25}, {"Inside Table 1", 10, 20},
                   {"Text 'abc'", 3, 3}, {"Text 'abc' 2", 23, 23}, {"Text 'ab'", 0, 0},
                   {"Text STARTS 'he'", 6, 6}, {"Text ENDS 'il'", 25, 25}, {"Text SUBSTR 'ell'", 6, 6},
                   {"Text 3", 10, 10}, {"Table 2", 0, 0}, {"Before Paragraph 1", 0, 0}});
  // clang-format on
  // Reading leaves the note and its loaded records as they were.
  EXPECT_EQ(Values(), std::vector<Bytes>{Value(Records(ParagraphsAndTable()))});
  EXPECT_EQ(item_->Modified, 0);
  EXPECT_EQ(InputSignatures().size(), 25u);
}

TEST_F(StartStopTest, ANestedTable) {
  ExpectPositions({Text("x"), Paragraph(), TableBegin(), Cell(0, 0), Text("a"),   // 1-5
                   TableBegin(true), Cell(0, 0, true), Text("n"), TableEnd(true), // 6-9
                   Cell(0, 1), Text("b"), TableEnd(), Text("y")},                 // 10-13
                  {{"Table 1", 3, 12}, // the nested end does not close it
                   {"Table 2", 6, 9},  // tables count in record order
                   {"Table 1; Table 2", 6, 9},
                   {"Table 1; Row 1; Column 1", 4, 9},
                   {"Table 1; Row 1; Column 2", 10, 11},
                   {"Inside Table 2", 8, 8},
                   {"After Table 2", 10, 13}});
}

TEST_F(StartStopTest, FirstRecordLastRecordAndExists) {
  AppendItem(ParagraphsAndTable());
  // FirstRecord ends the walk at the chunk's first record, before a second
  // word is written.
  EXPECT_EQ(Positions("Table 1; Column 2", PROP_FIRSTRECORD), std::make_pair(DWORD{11}, DWORD{0}));
  // LastRecord: the last record of the last occurrence (cells 11-12 and 17-18).
  EXPECT_EQ(Positions("Table 1; Column 2", PROP_LASTRECORD), std::make_pair(DWORD{11}, DWORD{18}));
  EXPECT_EQ(Positions("Text 'hello'", PROP_EXISTS).first, 6u);
  EXPECT_EQ(Positions("Text 'nowhere'", PROP_EXISTS).first, 0u);
}

/* ---- brackets, hotspots and paragraphs ---- */

TEST_F(StartStopTest, ATableAnnouncedByItsPretableRecordsCountsOnce) {
  ExpectPositions({Text("x"), Paragraph(), Begin(SIG_CD_PRETABLEBEGIN), PreTable(), // 1-4
                   End(SIG_CD_PRETABLEBEGIN), TableBegin(), Cell(0, 0), Text("a"),  // 5-8
                   TableEnd(), Paragraph(), TableBegin(), Cell(0, 0), TableEnd()},  // 9-13
                  {{"Table 1", 3, 9}, {"Table 2", 11, 13}, {"Before Table 1", 1, 2}});
}

TEST_F(StartStopTest, AV4HotspotWithItsHotspotBeginIsOneOccurrence) {
  ExpectPositions({Text("x"), HotspotBegin(SIG_CD_V4HOTSPOTBEGIN, 3),                // 1-2
                   HotspotBegin(SIG_CD_HOTSPOTBEGIN, 3), Text("press"),              // 3-4
                   HotspotEnd(SIG_CD_HOTSPOTEND), HotspotEnd(SIG_CD_V4HOTSPOTEND),   // 5-6
                   Text("y"), HotspotBegin(SIG_CD_V4HOTSPOTBEGIN, 3), Text("again"), // 7-9
                   HotspotEnd(SIG_CD_V4HOTSPOTEND)},                                 // 10
                  {{"Button 1", 2, 5}, {"Button 2", 8, 10}, {"Hotspot 2", 8, 10},
                   {"Button 'press'", 2, 5}, {"Button 'again'", 8, 10}});
}

TEST_F(StartStopTest, AParagraphAfterANestedHotspotEndsAtTheNextParagraph) {
  ExpectPositions({PabDef(1), PabRef(1), Text("one"), Paragraph(), Text("two"), // 1-5
                   HotspotBegin(SIG_CD_V4HOTSPOTBEGIN, 3), Paragraph(), // 6-7: inside the hotspot
                   HotspotEnd(SIG_CD_V4HOTSPOTEND), Text("more"), Paragraph(), Text("three")},
                  {{"Paragraph 2", 4, 9},
                   // A range of paragraphs takes each one, the next opening where one ends.
                   {"Paragraph 1-2", 1, 9},
                   {"Paragraph *", 1, 11}});
}

/* A naming record: the id, class, style, title and extra texts, then the name. */
Bytes IdName(const std::string& id, const std::string& name) {
  Bytes record = Sized(SIG_CD_IDNAME, 26 + id.size() + name.size());
  PutWord(record, 4, static_cast<WORD>(id.size()));
  PutWord(record, 14, static_cast<WORD>(name.size()));
  std::memcpy(record.data() + 26, id.data(), id.size());
  std::memcpy(record.data() + 26 + id.size(), name.data(), name.size());
  return record;
}

TEST_F(StartStopTest, TargetsByIdAndByNameOfTheirNamingRecord) {
  ExpectPositions({Text("x"), Begin(SIG_CD_LAYER), Sized(SIG_CD_LAYER, 20), IdName("one", "first"),
                   Text("in one"), End(SIG_CD_LAYER), // 1-6
                   Begin(SIG_CD_LAYER), Sized(SIG_CD_LAYER, 20), IdName("two", "Second"),
                   Text("in two"), End(SIG_CD_LAYER), Text("end")}, // 7-12
                  {{"Layer 1", 2, 6}, {"Layer ID 'two'", 7, 11}, {"Layer NAME 'Second'", 7, 11},
                   {"Layer NAME 'second'", 0, 0} /* case counts */, {"Layer ID 'tw'", 0, 0},
                   {"Inside Layer 2", 10, 10}});
}

TEST_F(StartStopTest, StylizedTextEndsWhereTheFontChanges) {
  ExpectPositions({PabDef(1), PabRef(1), Text("a", 1, 10), Text("b", 1, 10), Text("c", 4, 12),
                   Text("d", 4, 12), Paragraph(), Text("e", 1, 10)},
                  {{"StylizedText 1", 3, 4},
                   // Each run of one font is one occurrence; a paragraph record belongs to it.
                   {"StylizedText *", 3, 8}});
}

TEST_F(StartStopTest, RemovalMarksOfAnEarlierWalkAreCleared) {
  AppendItem(ParagraphsAndTable());
  Positions("Everything");
  for (record_storage* node = item_->internal->input->records; node != nullptr; node = node->next)
    node->flags |= RECORD_MARKED;
  Positions("Table 1");
  for (record_storage* node = item_->internal->input->records; node != nullptr; node = node->next)
    EXPECT_EQ(node->flags & RECORD_MARKED, 0);
}

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
