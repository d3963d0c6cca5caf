// The table, layer, pass-through and section-begin generators run inside a
// real writing operation (set up, the generator in place of the walk,
// finish) over a note whose body holds one paragraph; the body read back
// from the note is compared byte for byte with records written by hand with
// the record builder. Also: refused sizes, and a tracked allocation failing
// at every point of a generator leaving the note's old body.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "generate/structure_generators.h"
#include "store/session.h"
#include "store/tracked_memory_testing.h"
#include "store/vocabulary.h"
#include "tests/support/bytes_support.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;
using bytes_test::ShowHex;
using cdbuild::Font;

constexpr WORD kInch = 1440;

/* The paragraph definition a writing operation starts from: PABID 1, one
 * inch left and first line, a tab at half an inch, flags 0x0100 and
 * 0x0494, the extension words of the one-inch margins. */
cdbuild::PabDefFields Template(WORD id) {
  return {.id = id,
          .left = kInch,
          .first_line = kInch,
          .tabs = {720},
          .tab_count = 0,
          .flags = 0x0100,
          .flags2 = 0x0494,
          .extension = std::array<WORD, 6>{kInch, 0, kInch, 0, 0, 100}};
}

/* A first-row cell's definition: the template moved into the cell. */
Bytes CellDefinition(WORD id, WORD left, WORD first, WORD right) {
  cdbuild::PabDefFields fields = Template(id);
  fields.left = left;
  fields.first_line = first;
  fields.right = right;
  fields.flags = 0x0186;
  fields.flags2 = 0x0440;
  return cdbuild::PabDef(fields);
}

Bytes EmptyText() { return cdbuild::Text(""); }

/* The empty text run the operation's finish adds behind a body that does
 * not end in one. */
Bytes ClosingText() { return EmptyText(); }

Bytes Cell(BYTE row, BYTE column, WORD left, WORD right, BYTE borders = 0x55,
           WORD word = 0x1111, bool nested = false, BYTE flags = 2) {
  return cdbuild::TableCell({.row = row,
                             .column = column,
                             .left = left,
                             .right = right,
                             .borders = borders,
                             .flags = flags,
                             .v42_border = word,
                             .nested = nested});
}

Bytes TableStart(WORD left, WORD flags = 2, WORD vertical = 0, bool nested = false) {
  return cdbuild::TableBegin({.left = left,
                              .vertical_space = vertical,
                              .flags = flags,
                              .nested = nested,
                              .words = {40, 60}});
}

Bytes Concat(const std::vector<Bytes>& records) {
  cdbuild::Body body;
  for (const Bytes& record : records)
    body.Add(record);
  EXPECT_TRUE(body.ok());
  return body.RecordBytes();
}

Bytes EvenPadded(Bytes record) {
  return record.size() % 2 != 0 ? cdbuild::WithTail(record, {0}) : record;
}

class StructureGeneratorTest : public EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    AppendItem({Paragraph(), PabDef(1), PabRef(1), Text("old")});
    old_body_ = BodyRecords();
  }

  /* Runs work inside a writing operation with a generation block filled
   * from the operation's state; the final status. */
  STATUS InOperation(const std::function<STATUS(structure_generation*)>& work,
                     const std::function<void(structure_generation*)>& prepare = nullptr) {
    return InWritingOperation([&](chunk_process_state* state) {
      structure_generation generation;
      generation.gen = &state->gen;
      generation.last_pabid = 1;
      if (prepare)
        prepare(&generation);
      return work(&generation);
    });
  }

  /* Puts the table-append parameters in the session: per column a width
   * and a property string (null: none). */
  void Columns(const std::vector<WORD>& widths, const std::vector<const char*>& texts = {}) {
    _internal_SESS* internal = session_->internal;
    for (size_t column = 0; column < 64; ++column) {
      internal->column_widths[column] = column < widths.size() ? widths[column] : 0;
      internal->cell_texts[column] =
          column < texts.size() ? const_cast<char*>(texts[column]) : nullptr;
    }
  }

  Bytes old_body_;
};

/* ---- tables ---- */

struct table_case {
  const char* name;
  const char* properties;
  std::vector<Bytes> expected;
};

/* The two one-inch cells of one row from left edge x, with the definitions
 * of the cells (PABIDs 3 and 4). */
std::vector<Bytes> TwoCells(WORD x, BYTE borders = 0x55, WORD word = 0x1111) {
  const auto inner = [](WORD edge) { return static_cast<WORD>(edge + 40); };
  const WORD first = kInch < inner(x) ? inner(x) : kInch;
  const WORD second = kInch < inner(x + kInch) ? inner(x + kInch) : kInch;
  return {Cell(0, 0, x, x + kInch, borders, word),
          Paragraph(),
          CellDefinition(3, first, first, x + kInch - 40),
          PabRef(3),
          EmptyText(),
          Cell(0, 1, x + kInch, x + 2 * kInch, borders, word),
          Paragraph(),
          CellDefinition(4, second, second, x + 2 * kInch - 40),
          PabRef(4),
          EmptyText()};
}

std::vector<Bytes> Join(std::vector<std::vector<Bytes>> parts) {
  std::vector<Bytes> all;
  for (auto& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

/* A CDPRETABLEBEGIN of one row and two columns, as built with defaults. */
Bytes PreTable(DWORD flags = 0, const std::string& name = "") {
  return cdbuild::PreTableBegin({.flags = flags,
                                 .cell_border_color = {1, 0, 0, 0},
                                 .name = name,
                                 .rows = 1,
                                 .columns = 2});
}

std::vector<Bytes> TableClose(WORD reference = 1) {
  return {cdbuild::TableEnd(), Paragraph(), PabRef(reference), EmptyText()};
}

TEST_F(StructureGeneratorTest, TablesOfTwoOneInchColumnsByTheirProperties) {
  cdbuild::PabDefFields margin = Template(2);
  margin.left = 720;
  margin.first_line = 720;
  margin.extension = std::array<WORD, 6>{720, 0, 720, 0, 0, 100};
  const table_case cases[] = {
      {"no properties", nullptr,
       Join({{Paragraph(), TableStart(kInch)}, TwoCells(kInch), TableClose()})},
      {"a left margin of half an inch", "TableMarginLeft=0.5",
       Join({{Paragraph(), cdbuild::PabDef(margin), PabRef(2), PreTable(), TableStart(720)},
             TwoCells(720),
             TableClose(2)})},
      {"fitted to the window", "TableWidth=fit_to_window",
       Join({{Paragraph(), PreTable(0x41), TableStart(1080, 3)}, TwoCells(1080), TableClose()})},
      {"a name brackets the table's first record", "TableName=T1",
       Join({{Paragraph(), Begin(SIG_CD_PRETABLEBEGIN, 1), PreTable(0, "T1"),
              cdbuild::IdName({.name = "T1"}), End(SIG_CD_PRETABLEBEGIN, 1), TableStart(kInch)},
             TwoCells(kInch),
             TableClose()})},
      {"row spacing alone is not bracketed", "RowSpacing=0.1",
       Join({{Paragraph(), PreTable(), TableStart(kInch, 2, 144)}, TwoCells(kInch), TableClose()})},
      {"single borders", "CellBorder=S",
       Join({{Paragraph(), PreTable(), TableStart(kInch)}, TwoCells(kInch, 0x55, 0x1111),
             TableClose()})},
      {"a double first side, the rest none", "CellBorder=D0",
       Join({{Paragraph(), PreTable(), TableStart(kInch)}, TwoCells(kInch, 0x20, 0x0200),
             TableClose()})},
      {"no border named", "CellBorder=X",
       Join({{Paragraph(), PreTable(), TableStart(kInch)}, TwoCells(kInch, 0, 0), TableClose()})},
      {"sides repeat the one before", "CellBorder=2S",
       Join({{Paragraph(), PreTable(), TableStart(kInch)}, TwoCells(kInch, 0x20 | 0x40 | 0x01 | 0x04,
                                                                0x0200 | 0x1000 | 0x1 | 0x10),
             TableClose()})},
  };
  for (const table_case& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    Columns({kInch, kInch});
    ASSERT_EQ(InOperation([&](structure_generation* g) {
                g->properties = c.properties;
                return GenerateTable(2, 1, g);
              }),
              NOERROR);
    EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Concat(c.expected)));
  }
}

TEST_F(StructureGeneratorTest, AnAdjustableTableGetsFractionalWidths) {
  Columns({kInch, 2 * kInch});
  session_->internal->adjustable_table = 1;
  ASSERT_EQ(InOperation([](structure_generation* g) { return GenerateTable(2, 1, g); }),
            NOERROR);
  // Widths of one and two inches: a third and two thirds of 28800.
  const std::vector<Bytes> expected = {
      Paragraph(), TableStart(kInch, 3),
      cdbuild::TableCell({.row = 0, .column = 0, .left = kInch, .right = 2 * kInch,
                          .borders = 0x55, .flags = 2, .v42_border = 0x1111, .fraction = 9600}),
      Paragraph(), CellDefinition(3, 1480, 1480, 2840), PabRef(3), EmptyText(),
      cdbuild::TableCell({.row = 0, .column = 1, .left = 2 * kInch, .right = 4 * kInch,
                          .borders = 0x55, .flags = 2, .v42_border = 0x1111, .fraction = 19200}),
      Paragraph(), CellDefinition(4, 2920, 2920, 5720), PabRef(4), EmptyText(),
      cdbuild::TableEnd(), Paragraph(), PabRef(1), EmptyText()};
  EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Concat(expected)));
}

TEST_F(StructureGeneratorTest, CellStringsGiveTextFontsAlignmentAndRowRecords) {
  const std::string longLabel(200, 'L');
  const std::string column0 = "Text=A VertAlign=Center RowHeight=0.5 TabLabel=" + longLabel;
  Columns({kInch, kInch}, {column0.c_str(), "Hello"});
  ASSERT_EQ(InOperation([](structure_generation* g) { return GenerateTable(2, 2, g); }),
            NOERROR);
  const Bytes label = cdbuild::TableLabel(longLabel.substr(0, 127), 2);
  const std::vector<Bytes> expected = {
      Paragraph(), TableStart(kInch),
      Cell(0, 0, kInch, 2 * kInch, 0x55, 0x1111, false, 0x22), Paragraph(),
      CellDefinition(3, 1480, 1480, 2840), PabRef(3), Text("A"), cdbuild::RowHeight(720), label,
      Cell(0, 1, 2 * kInch, 3 * kInch), Paragraph(), CellDefinition(4, 2920, 2920, 4280),
      PabRef(4), Text("Hello"),
      // The second row takes the first row's definitions by reference.
      Cell(1, 0, kInch, 2 * kInch, 0x55, 0x1111, false, 0x22), Paragraph(), PabRef(3), Text("A"),
      cdbuild::RowHeight(720), label,
      Cell(1, 1, 2 * kInch, 3 * kInch), Paragraph(), PabRef(4), Text("Hello"),
      cdbuild::TableEnd(), Paragraph(), PabRef(1), EmptyText()};
  EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Concat(expected)));
}

TEST_F(StructureGeneratorTest, ACellsTextFontStaysInItsCell) {
  Columns({kInch, kInch}, {"Text=A TextFont=Bold CellColor=Red", "Text=B"});
  ASSERT_EQ(InOperation([](structure_generation* g) { return GenerateTable(2, 1, g); }),
            NOERROR);
  const std::vector<Bytes> expected = {
      Paragraph(), TableStart(kInch),
      cdbuild::TableCell({.row = 0, .column = 0, .left = kInch, .right = 2 * kInch,
                          .borders = 0x55, .flags = 0x03, .v42_border = 0x1111,
                          .background = 2}),
      Paragraph(), CellDefinition(3, 1480, 1480, 2840), PabRef(3),
      cdbuild::Text("A", Font{.attributes = 0x01}),
      cdbuild::Color({.color = {0x0001, 0xFF, 0, 0}}),
      Cell(0, 1, 2 * kInch, 3 * kInch), Paragraph(), CellDefinition(4, 2920, 2920, 4280),
      PabRef(4), Text("B"),
      cdbuild::TableEnd(), Paragraph(), PabRef(1), EmptyText()};
  Bytes colour = Concat(expected);
  // The cell's background colour record is 0xD3, the builder's colour 0xD2.
  const Bytes d2 = cdbuild::Color({.color = {0x0001, 0xFF, 0, 0}});
  const auto at = std::search(colour.begin(), colour.end(), d2.begin(), d2.end());
  ASSERT_NE(at, colour.end());
  *at = static_cast<BYTE>(SIG_CD_CELLCOLOR);
  EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(colour));
}

TEST_F(StructureGeneratorTest, ACellsBackgroundImageIsAResourceAfterItsText) {
  Columns({kInch}, {"Text=A BackgroundImage=logo.gif Repeat=center"});
  ASSERT_EQ(InOperation([](structure_generation* g) { return GenerateTable(1, 1, g); }),
            NOERROR);
  const std::vector<Bytes> expected = {
      Paragraph(), TableStart(kInch),
      Cell(0, 0, kInch, 2 * kInch), Paragraph(), CellDefinition(3, 1480, 1480, 2840), PabRef(3),
      Text("A"),
      EvenPadded(cdbuild::Resource({.signature = SIG_CD_RESOURCE_FF5A,
                                    .type = 3,
                                    .resource_class = 19,
                                    .link = Bytes(8),
                                    .name = "logo.gif"})),
      cdbuild::BackgroundRepeat(6),
      cdbuild::TableEnd(), Paragraph(), PabRef(1), EmptyText()};
  EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Concat(expected)));
}

TEST_F(StructureGeneratorTest, ANestedTableUsesTheNestedSignatures) {
  Columns({kInch, kInch});
  ASSERT_EQ(InOperation([](structure_generation* g) {
              // An outer table's cell holds the new one.
              for (const Bytes& record : {TableStart(kInch), Cell(0, 0, kInch, 4 * kInch)}) {
                if (STATUS status = CopyCDUpdated(record.data(), record[0], record.size(), g->gen))
                  return status;
              }
              if (STATUS status = GenerateTable(2, 1, g))
                return status;
              const Bytes end = cdbuild::TableEnd();
              if (STATUS status = CopyCDUpdated(end.data(), end[0], end.size(), g->gen))
                return status;
              return NOERROR;
            }),
            NOERROR);
  const std::vector<Bytes> expected = {
      // The emitter breaks the paragraph before the outer table.
      Paragraph(), TableStart(kInch), Cell(0, 0, kInch, 4 * kInch),
      Paragraph(), TableStart(kInch, 2, 0, true),
      Cell(0, 0, kInch, 2 * kInch, 0x55, 0x1111, true), Paragraph(),
      CellDefinition(3, 1480, 1480, 2840), PabRef(3), EmptyText(),
      Cell(0, 1, 2 * kInch, 3 * kInch, 0x55, 0x1111, true), Paragraph(),
      CellDefinition(4, 2920, 2920, 4280), PabRef(4), EmptyText(),
      cdbuild::TableEnd(true), Paragraph(), PabRef(1), EmptyText(),
      cdbuild::TableEnd(), ClosingText()};
  EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Concat(expected)));
}

TEST_F(StructureGeneratorTest, TablesTooLargeAreRefusedAndTheNoteKeepsItsBody) {
  const struct {
    const char* name;
    WORD columns;
    WORD rows;
    WORD width;
  } cases[] = {
      {"65 columns", 65, 1, 100},
      {"no column", 0, 1, 100},
      {"256 rows", 1, 256, 100},
      {"no row", 1, 0, 100},
      {"46 one-inch columns pass 65535 twips", 46, 1, kInch},
      {"a column of 65535 twips", 1, 1, 0xFFFF},
      {"widths summed past 16 bits", 2, 1, 40000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Columns(std::vector<WORD>(64, c.width));
    EXPECT_EQ(InOperation([&](structure_generation* g) {
                return GenerateTable(c.columns, c.rows, g);
              }),
              1028);
    EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(old_body_));
  }
  Columns(std::vector<WORD>(64, kInch));
  EXPECT_EQ(InOperation([](structure_generation* g) { return GenerateTable(44, 1, g); }),
            NOERROR);
}

/* ---- layers ---- */

cdbuild::LengthValue Pixels(double length) { return {.length = length, .units = 2}; }

std::vector<Bytes> LayerRecords(const cdbuild::PositioningFields& position,
                                cdbuild::LengthValue width, cdbuild::LengthValue height,
                                const std::vector<Bytes>& background = {}) {
  return Join({{cdbuild::LayerBegin(), cdbuild::Layer(), cdbuild::Positioning(position),
                cdbuild::BoxSize(width, height)},
               background,
               {Paragraph(), cdbuild::PabDef(Template(2)), PabRef(2), EmptyText(),
                cdbuild::LayerEnd(), ClosingText()}});
}

TEST_F(StructureGeneratorTest, LayersByPropertiesAndPosition) {
  const struct {
    const char* name;
    const char* properties;
    const char* position;
    std::vector<Bytes> expected;
  } cases[] = {
      {"the default layer", "", nullptr, LayerRecords({}, Pixels(100), Pixels(100))},
      {"a position of four lengths", "", "10px;20px;300px;200px",
       LayerRecords({.top = Pixels(10), .left = Pixels(20)}, Pixels(300), Pixels(200))},
      {"a key overrides the position", "top=5in", "10px;20px",
       LayerRecords({.top = {.length = 7200, .units = 1}, .left = Pixels(20)}, Pixels(100),
                    Pixels(100))},
      {"position=fixed", "position=fixed", nullptr,
       LayerRecords({.scheme = 3}, Pixels(100), Pixels(100))},
      {"Scheme=absolute keeps 1", "Scheme=absolute position=fixed", nullptr,
       LayerRecords({}, Pixels(100), Pixels(100))},
      {"a black background", "BackgroundColor=Black", nullptr,
       LayerRecords({}, Pixels(100), Pixels(100),
                    {cdbuild::Raw(SIG_CD_BACKGROUNDCOLOR, {1, 0, 0, 0, 0, 0})})},
      {"a background image by its second name", "background-image=sky.gif BackgroundRepeat=centered",
       nullptr,
       LayerRecords({}, Pixels(100), Pixels(100),
                    {Begin(SIG_CD_LAYERBACKGROUND, 1),
                     EvenPadded(cdbuild::Resource({.type = 3, .resource_class = 19,
                                                   .link = Bytes(8, 0), .name = "sky.gif"})),
                     cdbuild::BackgroundProperties(6), End(SIG_CD_LAYERBACKGROUND, 1)})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    ASSERT_EQ(InOperation([&](structure_generation* g) {
                return GenerateLayer(0, g, c.properties, c.position);
              }),
              NOERROR);
    EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Concat(c.expected)));
  }
}

TEST_F(StructureGeneratorTest, ALayerHiddenByAFormulaAndItsOwnTextFont) {
  std::memcpy(session_->result_text, "F1x", 3);
  session_->result_length = 3;
  WORD hidden_pabid = 0;
  ASSERT_EQ(InOperation([&](structure_generation* g) {
              const STATUS status = GenerateLayer(7, g, "TextFont=Bold Text=t", nullptr);
              hidden_pabid = g->hide_written != 0 ? g->hide_pabid : 0;
              return status;
            }),
            NOERROR);
  EXPECT_EQ(hidden_pabid, 2);
  cdbuild::PabDefFields hidden = Template(2);
  hidden.flags = 0x0900;
  const std::vector<Bytes> expected = {
      cdbuild::LayerBegin(), cdbuild::Layer(), cdbuild::Positioning({.z_index = 7}),
      cdbuild::BoxSize(Pixels(100), Pixels(100)), Paragraph(), cdbuild::PabDef(hidden),
      EvenPadded(cdbuild::PabHide(2, "F1x")), PabRef(2),
      cdbuild::Text("t", Font{.attributes = 0x01}), cdbuild::LayerEnd(),
      // The item's own text record is left plain.
      ClosingText()};
  EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Concat(expected)));
}

TEST_F(StructureGeneratorTest, PassThroughTextOpensOneRun) {
  ASSERT_EQ(InOperation([](structure_generation* g) {
              STATUS status = GeneratePassthruText("<b>", 0, g);
              if (status == NOERROR)
                status = GeneratePassthruText("x</b>yz", 5, g);
              return status;
            }),
            NOERROR);
  const Bytes expected = Concat({cdbuild::HtmlBegin(), Text("<b>"), Text("x</b>")});
  const Bytes body = BodyRecords();
  ASSERT_GE(body.size(), expected.size());
  EXPECT_EQ(ShowHex(Bytes(body.begin(), body.begin() + expected.size())), ShowHex(expected));
}

/* ---- sections ---- */

std::vector<Bytes> SectionRecords(DWORD flags, const std::string& title,
                                  const std::vector<Bytes>& tab = {},
                                  std::vector<Bytes> opening = {Paragraph(), PabRef(1)}) {
  Bytes bar = cdbuild::SectionBar({.flags = flags, .title = title});
  bar = cdbuild::WithTail(bar, Bytes(title.size() % 2 == 0 ? 2 : 1, 0));
  return Join({opening,
               {EmptyText(), Begin(SIG_CD_V4HOTSPOTBEGIN, 0),
                cdbuild::HotspotBegin({.signature = SIG_CD_V4HOTSPOTBEGIN, .type = 12, .flags = 8}),
                Begin(SIG_CD_SECTIONBAR, 0), bar},
               tab,
               {cdbuild::Color({.color = {1, 0, 0, 0}}), End(SIG_CD_SECTIONBAR, 0), EmptyText(),
                Paragraph(), PabRef(1), ClosingText()}});
}

TEST_F(StructureGeneratorTest, SectionsByTheirProperties) {
  const struct {
    const char* name;
    const char* properties;
    const char* title;
    std::vector<Bytes> expected;
    size_t bar_length;
  } cases[] = {
      {"no properties, a title of 5", nullptr, "Hello", SectionRecords(0x14000000, "Hello"), 20},
      {"a title of 6", nullptr, "Hello!", SectionRecords(0x14000000, "Hello!"), 22},
      {"double", "BorderStyle=double", "T", SectionRecords(0x34000000, "T"), 16},
      {"TWOLINE", "BorderStyle=TWOLINE", "T", SectionRecords(0x54000000, "T"), 16},
      {"an unknown style", "BorderStyle=Fancy", "T", SectionRecords(0x14000000, "T"), 16},
      {"a tab", "BorderStyle=TAB", "T",
       SectionRecords(0x74000000, "T", {cdbuild::BarTab(1)}), 16},
      {"a gradient has no tab", "BorderStyle=Gradient", "T", SectionRecords(0x74000000, "T"), 16},
      {"expand rules", "ExpandReading=Auto-Collapse ExpandEditing=Auto-Expand EditorsOnly=yes",
       "T", SectionRecords(0x14000000 | 0x100 | 0x40 | 0x1, "T"), 16},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    ASSERT_EQ(InOperation([&](structure_generation* g) {
                g->properties = c.properties;
                g->title = c.title;
                return GenerateSectionBegin(g);
              }),
              NOERROR);
    EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Concat(c.expected)));
    const Bytes body = BodyRecords();
    const Bytes begin = Begin(SIG_CD_SECTIONBAR, 0);
    auto bar = std::search(body.begin(), body.end(), begin.begin(), begin.end());
    ASSERT_NE(bar, body.end());
    bar += static_cast<long>(begin.size());
    EXPECT_EQ(static_cast<size_t>(bar[2] | (bar[3] << 8)), c.bar_length);
  }
}

TEST_F(StructureGeneratorTest, AReplySectionShiftsItsOwnParagraph) {
  ASSERT_EQ(InOperation([](structure_generation* g) {
              g->properties = "BorderStyle=PostReply";
              g->title = "Re";
              return GenerateSectionBegin(g);
            }),
            NOERROR);
  // A new definition (PABID 2, past the item's 1): left-justified, its
  // margins shifted a quarter inch left of the current one's inch.
  cdbuild::PabDefFields shifted = Template(2);
  shifted.left = 1080;
  shifted.first_line = 1080;
  shifted.extension = std::array<WORD, 6>{1080, 0, 1080, 0, 0, 100};
  const std::vector<Bytes> expected =
      SectionRecords(0x04008010, "Re", {cdbuild::BarTab(19)},
                     {Paragraph(), cdbuild::PabDef(shifted), PabRef(2)});
  EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Concat(expected)));
}

/* ---- failures ---- */

TEST_F(StructureGeneratorTest, RecordsPastTheEmittersLargestAreRefusedBeforeTheyAreBuilt) {
  const std::string huge(64400, 'h');
  const std::string text = "Text=" + huge;
  const struct {
    const char* name;
    std::function<STATUS(structure_generation*)> run;
  } cases[] = {
      {"a cell's text", [&](structure_generation* g) { return GenerateTable(1, 1, g); }},
      {"a layer's text", [&](structure_generation* g) {
         return GenerateLayer(0, g, text.c_str(), nullptr);
       }},
      {"a section's title", [&](structure_generation* g) {
         g->title = huge.c_str();
         return GenerateSectionBegin(g);
       }},
      {"pass-through text", [&](structure_generation* g) {
         return GeneratePassthruText(huge.c_str(), 0, g);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    Columns({kInch}, {text.c_str()});
    EXPECT_EQ(InOperation(c.run), 1028);
    EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(old_body_));
  }
}

TEST_F(StructureGeneratorTest, AFailedAllocationAnywhereIsReturnedAndTheBodyStays) {
  const std::string column = "Text=A TextFont=Bold TabLabel=x CellHTML CellHTMLID=c";
  const struct {
    const char* name;
    std::function<STATUS(structure_generation*)> run;
  } generators[] = {
      {"a table",
       [](structure_generation* g) {
         g->properties = "TableName=T1 TableMarginLeft=0.5 RowCycleMilliseconds=100";
         return GenerateTable(2, 2, g);
       }},
      {"a layer",
       [](structure_generation* g) {
         return GenerateLayer(3, g, "LayerHTMLID=x BackgroundImage=a.gif Text=t", "1px;2px");
       }},
      {"a section",
       [](structure_generation* g) {
         g->properties = "BorderStyle=PostReply";
         g->title = "Title";
         return GenerateSectionBegin(g);
       }},
  };
  for (const auto& generator : generators) {
    SCOPED_TRACE(generator.name);
    bool failedOnce = false;
    for (int nth = 1; nth < 400; ++nth) {
      Restart();
      Columns({kInch, kInch}, {column.c_str(), nullptr});
      STATUS status = InOperation([&](structure_generation* g) {
        VelkoTestFailTrackedAllocation(nth);
        const STATUS result = generator.run(g);
        VelkoTestFailTrackedAllocation(0);
        return result;
      });
      if (status == NOERROR) {
        EXPECT_NE(ShowHex(BodyRecords()), ShowHex(old_body_));
        break;
      }
      failedOnce = true;
      SCOPED_TRACE(nth);
      EXPECT_EQ(status, VELKO_ERR_MEMORY);
      EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(old_body_));
    }
    EXPECT_TRUE(failedOnce);
  }
}

} // namespace
