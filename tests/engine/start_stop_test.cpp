// Where chunks open and close: action 1 reports the first and last record
// of each chunk definition over bodies written record by record (plain
// paragraphs, a table of two rows, a nested table, brackets and hotspots),
// and the start and stop tests' answers for single records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/walk.h"
#include "engine_fixture.h"
#include "store/vocabulary.h"

namespace {

using namespace engine_test;

/* Two paragraphs, a table of two rows of three cells, two more paragraphs. */
std::vector<Bytes> ParagraphsAndTable() {
  return {
      PabDef(1),     // 1
      PabRef(1),     // 2
      Text("abc"),   // 3
      Paragraph(),   // 4
      PabRef(1),     // 5
      Text("hello"), // 6
      Paragraph(),   // 7
      TableBegin(),  // 8
      Cell(0, 0),    // 9
      Text("a"),     // 10
      Cell(0, 1),    // 11
      Text("b"),     // 12
      Cell(0, 2),    // 13
      Text("c"),     // 14
      Cell(1, 0),    // 15
      Text("d"),     // 16
      Cell(1, 1),    // 17
      Text("e"),     // 18
      Cell(1, 2),    // 19
      Text("f"),     // 20
      TableEnd(),    // 21
      Paragraph(),   // 22
      Text("ABC"),   // 23
      Paragraph(),   // 24
      Text("tail"),  // 25
  };
}

/* A table holding a nested table in its first cell. */
std::vector<Bytes> NestedTable() {
  return {
      Text("x"),        // 1
      Paragraph(),      // 2
      TableBegin(),     // 3
      Cell(0, 0),       // 4
      Text("a"),        // 5
      TableBegin(true), // 6
      Cell(0, 0, true), // 7
      Text("n"),        // 8
      TableEnd(true),   // 9
      Cell(0, 1),       // 10
      Text("b"),        // 11
      TableEnd(),       // 12
      Text("y"),        // 13
  };
}

struct PositionCase {
  const char* definition;
  DWORD first;
  DWORD last;
};

class PositionTest : public EngineTest, public ::testing::WithParamInterface<PositionCase> {};

TEST_P(PositionTest, ParagraphsAndTable) {
  AppendItem(ParagraphsAndTable());
  const PositionCase& c = GetParam();
  const auto [first, last] = Positions(c.definition);
  EXPECT_EQ(first, c.first) << c.definition;
  EXPECT_EQ(last, c.last) << c.definition;

  // The chunk's own way in gives the same answer and a chunk status of 0.
  VelkoRTChunk* chunk = Chunk(c.definition);
  session_->internal->found_first = 0;
  session_->internal->found_second = 0;
  EXPECT_EQ(chunk->AlterRichText(1, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr), NOERROR);
  EXPECT_EQ(chunk->status, NOERROR);
  EXPECT_EQ(session_->internal->found_first, c.first) << c.definition;
  EXPECT_EQ(session_->internal->found_second, c.last) << c.definition;
}

INSTANTIATE_TEST_SUITE_P(
    Definitions, PositionTest,
    ::testing::Values(PositionCase{"Everything", 1, 25}, PositionCase{"Table 1", 8, 21},
                      PositionCase{"Table 1; Row 2; Column 3", 19, 20},
                      PositionCase{"Table 1; Row 1; Column 2", 11, 12},
                      PositionCase{"Table 1; Row 2", 15, 20},
                      PositionCase{"Table 1; Column 1", 9, 16}, PositionCase{"Paragraph 1", 1, 3},
                      PositionCase{"Paragraph 2", 4, 6}, PositionCase{"Before Table 1", 1, 7},
                      PositionCase{"After Table 1", 22, 25}, PositionCase{"Inside Table 1", 10, 20},
                      PositionCase{"Text 'abc'", 3, 3}, PositionCase{"Text 'abc' 2", 23, 23},
                      PositionCase{"Text 'ab'", 0, 0}, PositionCase{"Text STARTS 'he'", 6, 6},
                      PositionCase{"Text ENDS 'il'", 25, 25},
                      PositionCase{"Text SUBSTR 'ell'", 6, 6}, PositionCase{"Text 3", 10, 10},
                      PositionCase{"Table 2", 0, 0}, PositionCase{"Before Paragraph 1", 0, 0}),
    [](const ::testing::TestParamInfo<PositionCase>& info) {
      std::string name;
      for (const char* c = info.param.definition; *c != '\0'; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
      return name;
    });

class NestedPositionTest : public EngineTest, public ::testing::WithParamInterface<PositionCase> {};

TEST_P(NestedPositionTest, NestedTable) {
  AppendItem(NestedTable());
  const PositionCase& c = GetParam();
  const auto [first, last] = Positions(c.definition);
  EXPECT_EQ(first, c.first) << c.definition;
  EXPECT_EQ(last, c.last) << c.definition;
}

INSTANTIATE_TEST_SUITE_P(
    Definitions, NestedPositionTest,
    ::testing::Values(PositionCase{"Table 1", 3, 12}, // the nested end does not close it
                      PositionCase{"Table 2", 6, 9},  // tables count in record order
                      PositionCase{"Table 1; Table 2", 6, 9},
                      PositionCase{"Table 1; Row 1; Column 1", 4, 9},
                      PositionCase{"Table 1; Row 1; Column 2", 10, 11},
                      PositionCase{"Inside Table 2", 8, 8}, PositionCase{"After Table 2", 10, 13}),
    [](const ::testing::TestParamInfo<PositionCase>& info) {
      std::string name;
      for (const char* c = info.param.definition; *c != '\0'; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
      return name;
    });

/* ---- FirstRecord, LastRecord and Exists ---- */

class QueryRecordsTest : public EngineTest {};

TEST_F(QueryRecordsTest, FirstRecordEndsTheWalkAtTheChunksFirstRecord) {
  AppendItem(ParagraphsAndTable());
  const auto [first, last] = Positions("Table 1; Column 2", PROP_FIRSTRECORD);
  EXPECT_EQ(first, 11u);
  EXPECT_EQ(last, 0u); // the walk ended before a second word was written
}

TEST_F(QueryRecordsTest, LastRecordIsTheLastRecordOfTheLastOccurrence) {
  AppendItem(ParagraphsAndTable());
  // Column 2 occurs in both rows: cells 11-12 and 17-18.
  const auto [first, last] = Positions("Table 1; Column 2", PROP_LASTRECORD);
  EXPECT_EQ(first, 11u);
  EXPECT_EQ(last, 18u);
}

TEST_F(QueryRecordsTest, ExistsAnswersAtTheFirstRecordAndMarksTheChunkRead) {
  AppendItem(ParagraphsAndTable());
  VelkoRTChunk* chunk = Chunk("Text 'hello'");
  EXPECT_EQ(Run(chunk, 1, PROP_EXISTS), NOERROR);
  EXPECT_EQ(session_->internal->found_first, 6u);
  EXPECT_EQ(chunk->status, VELKO_STATUS_READ_ONLY);

  VelkoRTChunk* missing = Chunk("Text 'nowhere'");
  session_->internal->found_first = 0;
  EXPECT_EQ(Run(missing, 1, PROP_EXISTS), NOERROR);
  EXPECT_EQ(session_->internal->found_first, 0u);
}

TEST_F(QueryRecordsTest, ReadingLeavesTheNoteAndItsRecordsAsTheyWere) {
  AppendItem(ParagraphsAndTable());
  const std::vector<Bytes> before = Values();
  Positions("Table 1");
  EXPECT_EQ(Values(), before);
  EXPECT_EQ(item_->Modified, 0);
  EXPECT_EQ(InputSignatures().size(), 25u);
}

TEST_F(QueryRecordsTest, ExtraClausesApplyToOneCallOnly) {
  AppendItem(ParagraphsAndTable());
  VelkoRTChunk* chunk = Chunk("Table 1");
  DWORD simple = 0;
  chunkdef_info* extra =
      ParseDefinition(session_, 0, chunk->internal->definitions, "Row 2", &simple);
  ASSERT_NE(extra, nullptr);
  EXPECT_EQ(Run(chunk, 1, 0, 0, nullptr, nullptr, extra), NOERROR);
  EXPECT_EQ(session_->internal->found_first, 15u);
  EXPECT_EQ(session_->internal->found_second, 20u);
  EXPECT_EQ(chunk->internal->definitions->next, nullptr); // the chunk's own chain is unchanged
  DeleteChunkDefinitions(extra);

  session_->internal->found_first = 0;
  session_->internal->found_second = 0;
  EXPECT_EQ(Run(chunk, 1), NOERROR);
  EXPECT_EQ(session_->internal->found_first, 8u);
  EXPECT_EQ(session_->internal->found_second, 21u);
}

/* ---- brackets, hotspots and paragraphs ---- */

TEST_F(QueryRecordsTest, ATableAnnouncedByItsPretableRecordsCountsOnce) {
  AppendItem({
      Text("x"),                   // 1
      Paragraph(),                 // 2
      Begin(SIG_CD_PRETABLEBEGIN), // 3
      PreTable(),                  // 4
      End(SIG_CD_PRETABLEBEGIN),   // 5
      TableBegin(),                // 6
      Cell(0, 0),                  // 7
      Text("a"),                   // 8
      TableEnd(),                  // 9
      Paragraph(),                 // 10
      TableBegin(),                // 11
      Cell(0, 0),                  // 12
      TableEnd(),                  // 13
  });
  EXPECT_EQ(Positions("Table 1"), std::make_pair(DWORD{3}, DWORD{9}));
  EXPECT_EQ(Positions("Table 2"), std::make_pair(DWORD{11}, DWORD{13}));
  EXPECT_EQ(Positions("Before Table 1"), std::make_pair(DWORD{1}, DWORD{2}));
}

TEST_F(QueryRecordsTest, AV4HotspotWithItsHotspotBeginIsOneOccurrence) {
  AppendItem({
      Text("x"),                              // 1
      HotspotBegin(SIG_CD_V4HOTSPOTBEGIN, 3), // 2
      HotspotBegin(SIG_CD_HOTSPOTBEGIN, 3),   // 3
      Text("press"),                          // 4
      HotspotEnd(SIG_CD_HOTSPOTEND),          // 5
      HotspotEnd(SIG_CD_V4HOTSPOTEND),        // 6
      Text("y"),                              // 7
      HotspotBegin(SIG_CD_V4HOTSPOTBEGIN, 3), // 8
      Text("again"),                          // 9
      HotspotEnd(SIG_CD_V4HOTSPOTEND),        // 10
  });
  EXPECT_EQ(Positions("Button 1"), std::make_pair(DWORD{2}, DWORD{5}));
  EXPECT_EQ(Positions("Button 2"), std::make_pair(DWORD{8}, DWORD{10}));
  EXPECT_EQ(Positions("Hotspot 2"), std::make_pair(DWORD{8}, DWORD{10}));
  EXPECT_EQ(Positions("Button 'press'"), std::make_pair(DWORD{2}, DWORD{5}));
  EXPECT_EQ(Positions("Button 'again'"), std::make_pair(DWORD{8}, DWORD{10}));
}

TEST_F(QueryRecordsTest, AParagraphAfterANestedHotspotEndsAtTheNextParagraph) {
  AppendItem({
      PabDef(1),                              // 1
      PabRef(1),                              // 2
      Text("one"),                            // 3
      Paragraph(),                            // 4
      Text("two"),                            // 5
      HotspotBegin(SIG_CD_V4HOTSPOTBEGIN, 3), // 6
      Paragraph(),                            // 7: inside the hotspot
      HotspotEnd(SIG_CD_V4HOTSPOTEND),        // 8
      Text("more"),                           // 9
      Paragraph(),                            // 10
      Text("three"),                          // 11
  });
  EXPECT_EQ(Positions("Paragraph 2"), std::make_pair(DWORD{4}, DWORD{9}));
  // A range of paragraphs takes each one, the next opening where one ends.
  EXPECT_EQ(Positions("Paragraph 1-2"), std::make_pair(DWORD{1}, DWORD{9}));
  EXPECT_EQ(Positions("Paragraph *"), std::make_pair(DWORD{1}, DWORD{11}));
}

/* A naming record: the id, class, style, title and extra texts, then the name. */
Bytes IdName(const std::string& id, const std::string& name) {
  Bytes record = Wsig(SIG_CD_IDNAME, 26 + id.size() + name.size());
  PutWord(record, 4, static_cast<WORD>(id.size()));
  PutWord(record, 14, static_cast<WORD>(name.size()));
  std::memcpy(record.data() + 26, id.data(), id.size());
  std::memcpy(record.data() + 26 + id.size(), name.data(), name.size());
  return record;
}

TEST_F(QueryRecordsTest, TargetsByIdAndByNameOfTheirNamingRecord) {
  AppendItem({
      Text("x"),               // 1
      Begin(SIG_CD_LAYER),     // 2
      Bsig(SIG_CD_LAYER, 20),  // 3
      IdName("one", "first"),  // 4
      Text("in one"),          // 5
      End(SIG_CD_LAYER),       // 6
      Begin(SIG_CD_LAYER),     // 7
      Bsig(SIG_CD_LAYER, 20),  // 8
      IdName("two", "Second"), // 9
      Text("in two"),          // 10
      End(SIG_CD_LAYER),       // 11
      Text("end"),             // 12
  });
  EXPECT_EQ(Positions("Layer 1"), std::make_pair(DWORD{2}, DWORD{6}));
  EXPECT_EQ(Positions("Layer ID 'two'"), std::make_pair(DWORD{7}, DWORD{11}));
  EXPECT_EQ(Positions("Layer NAME 'Second'"), std::make_pair(DWORD{7}, DWORD{11}));
  EXPECT_EQ(Positions("Layer NAME 'second'"), std::make_pair(DWORD{0}, DWORD{0})); // case counts
  EXPECT_EQ(Positions("Layer ID 'tw'"), std::make_pair(DWORD{0}, DWORD{0}));
  EXPECT_EQ(Positions("Inside Layer 2"), std::make_pair(DWORD{10}, DWORD{10}));
}

TEST_F(QueryRecordsTest, StylizedTextEndsWhereTheFontChanges) {
  AppendItem({
      PabDef(1),        // 1
      PabRef(1),        // 2
      Text("a", 1, 10), // 3
      Text("b", 1, 10), // 4
      Text("c", 4, 12), // 5
      Text("d", 4, 12), // 6
      Paragraph(),      // 7
      Text("e", 1, 10), // 8
  });
  EXPECT_EQ(Positions("StylizedText 1"), std::make_pair(DWORD{3}, DWORD{4}));
  // Each run of one font is one occurrence; a paragraph record belongs to it.
  EXPECT_EQ(Positions("StylizedText *"), std::make_pair(DWORD{3}, DWORD{8}));
}

TEST_F(QueryRecordsTest, RemovalMarksOfAnEarlierWalkAreCleared) {
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
  chunkdef_info Clause(WORD relation, WORD type, WORD index) {
    chunkdef_info clause;
    clause.relation = relation;
    clause.target_type = type;
    clause.index_count = 1;
    clause.index_starts[0] = index;
    return clause;
  }
  chunk_process_state match_;
};

TEST_F(MatchTest, AShortRecordNeverMatches) {
  chunkdef_info cell = Clause(RELATION_CONTAINS, TARGETTYPE_COLUMN, 1);
  char shortCell[4] = {static_cast<char>(SIG_CD_TABLECELL), 3, 0, 0};
  match_.record_counter = 2;
  DWORD complete = 9;
  // The record ends after the row byte: the column byte at offset 3 is not read.
  EXPECT_EQ(MatchInitiator(&cell, shortCell, SIG_CD_TABLECELL, 3, 0, &complete, &match_), 0u);
  shortCell[3] = 0;
  EXPECT_EQ(MatchInitiator(&cell, shortCell, SIG_CD_TABLECELL, 4, 0, &complete, &match_), 1u);

  chunkdef_info text = Clause(RELATION_CONTAINS, TARGETTYPE_TEXT, 1);
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

  chunkdef_info paragraph = Clause(RELATION_CONTAINS, TARGETTYPE_PARAGRAPH, 1);
  const char shortLarge[4] = {0x68, static_cast<char>(0xFF), 4, 0};
  DWORD counted = 0;
  DWORD ended = 0;
  EXPECT_EQ(MatchTerminator(&paragraph, shortLarge, SIG_CD_LARGEPARAGRAPH, 4, 0, &counted, &ended,
                            0, &match_),
            0u);
  const char shortEnd[4] = {static_cast<char>(SIG_CD_END), 4, 0, 0};
  chunkdef_info table = Clause(RELATION_CONTAINS, TARGETTYPE_TABLE, 1);
  EXPECT_EQ(MatchTerminator(&table, shortEnd, SIG_CD_END, 4, 0, &counted, &ended, 0, &match_), 0u);
}

TEST_F(MatchTest, Complete) {
  chunkdef_info doclink = Clause(RELATION_CONTAINS, TARGETTYPE_DOCLINK, 2);
  Bytes link = Wsig(SIG_CD_DOCLINK, 44);
  DWORD complete = 0;
  match_.record_counter = 5;
  EXPECT_EQ(MatchInitiator(&doclink, reinterpret_cast<const char*>(link.data()), SIG_CD_DOCLINK, 44,
                           0, &complete, &match_),
            0u); // occurrence 1 is not selected
  EXPECT_EQ(doclink.occurrence, 1u);
  EXPECT_EQ(MatchInitiator(&doclink, reinterpret_cast<const char*>(link.data()), SIG_CD_DOCLINK, 44,
                           0, &complete, &match_),
            1u);
  EXPECT_EQ(doclink.occurrence, 2u);
  EXPECT_EQ(complete, 1u);

  chunkdef_info table = Clause(RELATION_CONTAINS, TARGETTYPE_TABLE, 1);
  Bytes begin = TableBegin();
  EXPECT_EQ(MatchInitiator(&table, reinterpret_cast<const char*>(begin.data()), SIG_CD_TABLEBEGIN,
                           14, 0, &complete, &match_),
            1u);
  EXPECT_EQ(complete, 0u);
  // A table begin announced by its pretable record does not start a table.
  table.occurrence = 0;
  match_.pretable_flag = 1;
  EXPECT_EQ(MatchInitiator(&table, reinterpret_cast<const char*>(begin.data()), SIG_CD_TABLEBEGIN,
                           14, 0, &complete, &match_),
            0u);
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
    chunkdef_info clause = Clause(RELATION_CONTAINS, c.type, 1);
    Bytes begin = HotspotBegin(SIG_CD_V4HOTSPOTBEGIN, c.hotspotType, c.flags);
    DWORD complete = 0;
    EXPECT_EQ(MatchInitiator(&clause, reinterpret_cast<const char*>(begin.data()),
                             SIG_CD_V4HOTSPOTBEGIN, 16, 0, &complete, &match_),
              c.starts)
        << "type " << c.type << " hotspot " << c.hotspotType << " flags " << c.flags;
  }
  // A hotspot begin right after a V4 hotspot begin starts nothing.
  chunkdef_info clause = Clause(RELATION_CONTAINS, TARGETTYPE_HOTSPOT, 1);
  Bytes begin = HotspotBegin(SIG_CD_HOTSPOTBEGIN, 3);
  DWORD complete = 0;
  EXPECT_EQ(MatchInitiator(&clause, reinterpret_cast<const char*>(begin.data()),
                           SIG_CD_HOTSPOTBEGIN, 16, SIG_CD_V4HOTSPOTBEGIN, &complete, &match_),
            0u);
  EXPECT_EQ(clause.occurrence, 0u);
}

} // namespace
