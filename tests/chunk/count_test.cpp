// GetCount through the chunk interface: the count of a sub-definition's
// targets equals what stepping finds, target by target from the first,
// until one is missing, for targets nested in tables and sections, under
// the relations and within chunks narrower than the item; and it holds on
// a body of thousands of paragraphs. Past 65535 targets the count and the
// last target stop at the largest index, 65535.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cdbuild/cd_builder.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;

/* A paragraph holding the text. */
void AddParagraph(std::vector<Bytes>& body, const std::string& text) {
  body.push_back(Paragraph());
  body.push_back(PabRef(1));
  body.push_back(Text(text));
}

/* A table of the given rows and two columns; the first cell of the second
 * row holds a nested table of three rows when nested is set. */
void AddTable(std::vector<Bytes>& body, BYTE rows, bool nested) {
  body.push_back(Paragraph());
  body.push_back(TableBegin());
  for (BYTE row = 0; row < rows; ++row) {
    for (BYTE column = 0; column < 2; ++column) {
      body.push_back(Cell(row, column));
      body.push_back(PabRef(1));
      body.push_back(Text("cell " + std::to_string(row) + std::to_string(column)));
      if (nested && row == 1 && column == 0) {
        body.push_back(TableBegin(true));
        for (BYTE inner = 0; inner < 3; ++inner) {
          body.push_back(Cell(inner, 0, true));
          body.push_back(Text("inner"));
        }
        body.push_back(TableEnd(true));
      }
    }
  }
  body.push_back(TableEnd());
}

/* A section whose bar is followed by two paragraphs. */
void AddSection(std::vector<Bytes>& body) {
  body.push_back(HotspotBegin(SIG_CD_V4HOTSPOTBEGIN, 13));
  body.push_back(cdbuild::SectionBar({.title = "Section"}));
  AddParagraph(body, "in the section");
  AddParagraph(body, "and more");
  body.push_back(cdbuild::HotspotEnd(SIG_CD_V4HOTSPOTEND));
}

class CountTest : public EngineTest {
protected:
  /* The count as stepping finds it: the first target of the chunk's
   * definition followed by the sub-definition, then the next while one is
   * found. */
  WORD SteppedCount(const std::string& definition, const std::string& sub) {
    VelkoRTChunk* chunk = Chunk((definition + "; " + sub + " 1").c_str());
    EXPECT_NE(chunk, nullptr) << definition << "; " << sub;
    if (chunk == nullptr || chunk->Exists() == 0)
      return 0;
    WORD count = 1;
    while (chunk->GetNextTarget(0) != 0)
      ++count;
    return count;
  }
};

TEST_F(CountTest, CountsWhatSteppingFindsForEveryTargetAndRelation) {
  std::vector<Bytes> body;
  body.push_back(PabDef(1));
  for (int i = 0; i < 5; ++i)
    AddParagraph(body, "paragraph " + std::to_string(i));
  AddTable(body, 4, true);
  AddSection(body);
  AddParagraph(body, "between");
  AddTable(body, 2, false);
  AddSection(body);
  AddParagraph(body, "last");
  AppendItem(body);

  struct count_case {
    const char* definition;
    const char* sub;
  };
  const count_case cases[] = {
      {"Everything", "Paragraph"},      {"Everything", "Table"},
      {"Everything", "Section"},        {"Everything", "Hotspot"},
      {"Everything", "Text"},           {"Table 1", "Row"},
      {"Table 2", "Row"},               {"Table 3", "Row"},
      {"Table 1", "Column"},            {"Table 1; Row 2", "Column"},
      {"Table 1", "Paragraph"},         {"Section 2", "Paragraph"},
      {"Everything", "After Paragraph"}, {"Everything", "Before Paragraph"},
      {"Everything", "Outside Table"},  {"Everything", "Inside Section"},
      {"Everything", "Ends With Paragraph"},
  };
  for (const count_case& c : cases) {
    SCOPED_TRACE(std::string(c.definition) + " / " + c.sub);
    const WORD stepped = SteppedCount(c.definition, c.sub);
    VelkoRTChunk* chunk = Chunk(c.definition);
    ASSERT_NE(chunk, nullptr);
    EXPECT_EQ(chunk->GetCount(c.sub), stepped);
    EXPECT_STREQ(chunk->definition, c.definition) << "the count leaves the definition";
  }
}

TEST_F(CountTest, CountsThousandsOfParagraphs) {
  constexpr int kParagraphs = 3000;
  std::vector<Bytes> body;
  body.push_back(PabDef(1));
  for (int i = 0; i < kParagraphs; ++i)
    AddParagraph(body, "p");
  AppendItem(body);
  VelkoRTChunk* chunk = Chunk("Everything");
  ASSERT_NE(chunk, nullptr);
  // The definition opening the item starts a paragraph of its own.
  EXPECT_EQ(chunk->GetCount("Paragraph"), kParagraphs + 1);
  EXPECT_EQ(chunk->GetCount("Table"), 0);
}

TEST_F(CountTest, MoreTargetsThanIndexesStopAtTheLargestIndex) {
  // The definition opening the body starts a paragraph of its own: 65,541
  // paragraphs, more than an index can name, in items of 2,000.
  std::vector<Bytes> body;
  body.push_back(PabDef(1));
  for (int i = 1; i <= 65540; ++i) {
    AddParagraph(body, "p");
    if (i % 2000 == 0 || i == 65540) {
      AppendItem(body);
      body.clear();
    }
  }

  for (const char* from : {"Paragraph 65530", "Paragraph 65535", "Paragraph 1"}) {
    SCOPED_TRACE(from);
    VelkoRTChunk* chunk = Chunk(from);
    ASSERT_NE(chunk, nullptr);
    EXPECT_EQ(chunk->GetLastTarget(0), 1);
    EXPECT_STREQ(chunk->definition, "Paragraph 65535");
  }
  VelkoRTChunk* chunk = Chunk("Everything");
  ASSERT_NE(chunk, nullptr);
  EXPECT_EQ(chunk->GetCount("Paragraph"), 65535);
}

} // namespace
