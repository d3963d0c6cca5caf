// A body stored over several items of the same name is one record list:
// every query and edit through the chunk gives the same answer and stores
// the same records whichever record starts the body's second item.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/stored_chunk_fixture.h"
#include "velko/velko.h"

namespace {

/* Paragraphs, a popup hotspot, a second paragraph definition, a table,
 * a link and two nested sections. */
const char kBody[] = R"(PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100
PABREF id=1
TEXT text="alpha one"
PARAGRAPH
PABREF id=1
TEXT text="beta two "
HOTSPOTBEGIN sig=CDV4HOTSPOTBEGIN type=1 data="popup text"
TEXT text="hot"
HOTSPOTEND sig=CDV4HOTSPOTEND
TEXT text=" after"
PARAGRAPH
PABDEF id=2 left=2880 flags=0x0100
PABREF id=2
TEXT text="gamma three"
PARAGRAPH
PABREF id=1
TABLEBEGIN
TABLECELL row=0 column=0
PABREF id=1
TEXT text="r0c0"
TABLECELL row=0 column=1
PABREF id=1
TEXT text="r0c1"
TABLECELL row=1 column=0
PABREF id=1
TEXT text="r1c0"
TABLECELL row=1 column=1
PABREF id=1
TEXT text="r1c1"
TABLEEND
PABREF id=1
TEXT text="delta four "
HOTSPOTBEGIN type=11 data="http://x"
RESOURCE type=1
TEXT text="link"
HOTSPOTEND
PARAGRAPH
HOTSPOTBEGIN type=12 sig=V4HOTSPOTBEGIN
SECTIONBAR title="Outer"
TEXT text="outer"
HOTSPOTBEGIN type=13 sig=V4HOTSPOTBEGIN
SECTIONBAR title="Inner"
TEXT text="inner"
HOTSPOTEND sig=V4HOTSPOTEND
TEXT text="tail"
HOTSPOTEND sig=V4HOTSPOTEND
PARAGRAPH
TEXT text="end"
)";

using MultiItemBodyTest = StoredChunkFixture;

TEST_F(MultiItemBodyTest, EveryItemBoundaryGivesTheAnswersAndRecordsOfOneItem) {
  struct Case {
    const char* name;
    const char* definition;
    std::function<long(VelkoRTChunk*)> work;
  };
  const Case cases[] = {
      {"text", "Everything",
       [](VelkoRTChunk* c) {
         char text[200];
         const DWORD length = c->GetText(nullptr, text, sizeof text, 0, nullptr);
         return static_cast<long>(std::hash<std::string>{}(std::string(text, length)) >> 1);
       }},
      {"counts", "Everything",
       [](VelkoRTChunk* c) {
         return long{c->GetCount("Paragraph")} * 10000 + c->GetCount("Table 1; Row") * 100 +
                c->GetCount("Section");
       }},
      {"remove paragraph", "Paragraph 2", [](VelkoRTChunk* c) { return long{c->Remove()}; }},
      {"remove row", "Table 1; Row 1", [](VelkoRTChunk* c) { return long{c->Remove()}; }},
      {"remove table", "Table 1", [](VelkoRTChunk* c) { return long{c->Remove()}; }},
      {"remove hotspots", "Everything", [](VelkoRTChunk* c) { return long{c->RemoveHotspots()}; }},
      {"remove sections", "Everything", [](VelkoRTChunk* c) { return long{c->RemoveSections()}; }},
      {"replace growing", "Everything",
       [](VelkoRTChunk* c) { return long{c->ReplaceTextQuick("o", 1, "OO", 2, nullptr)}; }},
      {"append to a paragraph", "Paragraph 2",
       [](VelkoRTChunk* c) { return long{c->AppendText("ZZ", 2, nullptr)}; }},
      {"append to a cell", "Table 1; Row 2; Column 1",
       [](VelkoRTChunk* c) { return long{c->AppendText("ZZ", 2, nullptr)}; }},
      {"font of a section", "Section 2",
       [](VelkoRTChunk* c) { return long{c->ChangeFont("Bold", nullptr, 0)}; }},
      {"paragraph style", "Paragraph 3",
       [](VelkoRTChunk* c) { return long{c->ChangeParagraph("Center", nullptr, 0)}; }},
      {"append row", "Table 1",
       [](VelkoRTChunk* c) {
         const char* cells[20] = {"n0", "n1"};
         return long{c->AppendRow(0, 0, cells)};
       }},
  };
  const cdbuild::Body whole = Script(kBody);
  const std::vector<note_testing::Bytes>& records = whole.records();
  for (const Case& c : cases) {
    const NOTEID one = StoreBody(whole);
    const long answer = OnChunk(one, c.definition, c.work);
    const std::vector<std::string> stored = Stored(one);
    for (size_t second = 1; second < records.size(); ++second) {
      SCOPED_TRACE(std::string(c.name) + ", second item from record " + std::to_string(second));
      cdbuild::Body split;
      for (size_t i = 0; i < records.size(); ++i) {
        if (i == second)
          split.NewItem();
        split.Add(records[i]);
      }
      const NOTEID id = StoreBody(split);
      EXPECT_EQ(OnChunk(id, c.definition, c.work), answer);
      EXPECT_EQ(Stored(id), stored);
    }
  }
}

} // namespace
