// The rendering action (2419) in the engine: each chunk of the walk is
// handed to the renderer from its first to its last record and rendered
// where it closes; without a rendering context there is nothing to do;
// the note is never written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/services.h"
#include "engine/record_fields.h"
#include "store/emitter_lane_testing.h"
#include "store/rtitem_internal.h"
#include "tests/support/test_fixture.h"
#include "render/output_buffer.h"
#include "render/render_info.h"
#include "store/vocabulary.h"

namespace {

using namespace engine_test;

class RenderActionTest : public EngineTest {
protected:
  void TearDown() override {
    if (chunk_ != nullptr)
      chunk_->internal->render_context = nullptr;
    ReleaseRenderContext(context_);
    EngineTest::TearDown();
  }

  /* A fragment rendering context on the chunk, as an entry point makes it. */
  void Attach(VelkoRTChunk* chunk, DWORD options = html_flags::Fragment) {
    chunk_ = chunk;
    context_ = CreateRenderContext(session_, chunk);
    ASSERT_NE(context_, nullptr);
    ASSERT_EQ(SetupRenderOutput(context_, nullptr, 0), NOERROR);
    context_->generation = kGenerationHTML;
    context_->flags = options;
    context_->flags2 = html_flags2::MoveStylesInline;
    context_->flags4 = html_flags4::AllowEmptyDivs;
    context_->curly_open = "";
    context_->curly_close = "";
    chunk->internal->render_context = context_;
  }

  std::string Held() const { return std::string(context_->output_buffer, context_->output_length); }

  VelkoRTChunk* chunk_ = nullptr;
  html_render_info* context_ = nullptr;
};

/* A table of two rows and two columns after a paragraph. */
std::vector<Bytes> TableRecords() {
  std::vector<Bytes> records = {Paragraph(),    PabDef(1),   PabRef(1),
                                Text("Before"), Paragraph(), TableBegin()};
  const char* texts[] = {"A1", "B1", "A2", "B2"};
  for (int i = 0; i < 4; ++i) {
    records.push_back(Cell(static_cast<BYTE>(i / 2), static_cast<BYTE>(i % 2)));
    records.push_back(Paragraph());
    records.push_back(PabRef(1));
    records.push_back(Text(texts[i]));
  }
  records.push_back(TableEnd());
  return records;
}

TEST_F(RenderActionTest, EachChunkIsRenderedWhereItCloses) {
  AppendItem(TableRecords());
  VelkoRTChunk* column = Chunk("Table 1; Column 2");
  Attach(column);
  EXPECT_EQ(Run(column, ACTION_RENDER), NOERROR);
  // Two chunks, the second cell of each row; each cell's paragraph opens
  // a division of its own. Without EncapsulateTable a chunk that starts at
  // a cell opens no table or row of its own.
  EXPECT_EQ(Held(), "<td width='96'><div>B1</div></td><td width='96'><div>B2</div></td>");
  EXPECT_EQ(context_->first_record, nullptr); // forgotten after each chunk
  EXPECT_EQ(context_->state, nullptr);
  EXPECT_EQ(column->status, VELKO_STATUS_READ_ONLY);
}

TEST_F(RenderActionTest, EncapsulatedChunksFindTheirTableFromEveryCell) {
  AppendItem(TableRecords());
  VelkoRTChunk* column = Chunk("Table 1; Column 2");
  Attach(column);
  context_->flags2 |= html_flags2::EncapsulateTable;
  EXPECT_EQ(Run(column, ACTION_RENDER), NOERROR);
  // Each chunk finds the table it starts in back through the cells before
  // its own (the second through the whole first row) and opens it, and a
  // row, as its cell is not the row's first; the end of each chunk's run
  // closes both.
  EXPECT_EQ(Held(), "<table border='0'><tr><td width='96'><div>B1</div></td></tr></table>"
                    "<table border='0'><tr><td width='96'><div>B2</div></td></tr></table>");
}

TEST_F(RenderActionTest, TheWholeBodyAsOneChunkWritesNothingBack) {
  AppendItem(TableRecords());
  const std::vector<Bytes> before = Values();
  VelkoRTChunk* everything = Chunk("Everything");
  // Without a rendering context there is nothing to do.
  EXPECT_EQ(Run(everything, ACTION_RENDER), kServiceNotAvailable);
  Attach(everything);
  EXPECT_EQ(Run(everything, ACTION_RENDER), NOERROR);
  EXPECT_EQ(Held(), "Before<table border='0'><tr valign='top'><td width='96'><div>A1</div></td>"
                    "<td width='96'><div>B1</div></td></tr><tr valign='top'><td width='96'>"
                    "<div>A2</div></td><td width='96'><div>B2</div></td></tr></table>");
  EXPECT_EQ(context_->last_record->signature, SIG_CD_TABLEEND);
  EXPECT_EQ(item_->Modified, 0);
  EXPECT_EQ(Values(), before);
}

TEST_F(RenderActionTest, ExtraClausesDeferTheFinalFlush) {
  AppendItem(TableRecords());
  VelkoRTChunk* table = Chunk("Table 1");
  Attach(table);
  DWORD simple = 0;
  chunkdef_info* extra =
      ParseDefinition(session_, 0, table->internal->definitions, "Row 2", &simple);
  ASSERT_NE(extra, nullptr);
  context_->table_pending = 1; // as a table renderer would leave it
  EXPECT_EQ(Run(table, ACTION_RENDER, 0, 0, nullptr, nullptr, extra), NOERROR);
  DeleteChunkDefinitions(extra);
  EXPECT_EQ(context_->render_at_end, 1u);
  // The chunk in mode 1 left the table open; the final call closed it.
  EXPECT_EQ(Held(), "<tr valign='top'><td width='96'><div>A2</div></td><td width='96'>"
                    "<div>B2</div></td></tr></table>");
  EXPECT_EQ(context_->table_pending, 0u);
}

/* The PABIDs of a lookup table's entries, from slot 1. */
std::vector<WORD> LookupPabids(record_storage* const* table, WORD count, DWORD offset) {
  std::vector<WORD> pabids;
  for (WORD i = 1; i <= count; ++i) {
    WORD pabid = 0;
    EXPECT_TRUE(ReadRecordWord(table[i]->data, table[i]->length, offset, &pabid));
    pabids.push_back(pabid);
  }
  return pabids;
}

TEST_F(RenderActionTest, LookupTablesOfAFreshLoadMatchAWalkOfTheList) {
  // More definitions and style names than a table holds, in an order that
  // is not their PABIDs', each style name between two definitions.
  constexpr WORD kKinds = 300;
  std::vector<Bytes> records;
  for (WORD i = 0; i < kKinds; ++i) {
    const WORD pabid = static_cast<WORD>((i * 7) % kKinds + 1);
    records.push_back(PabDef(pabid));
    records.push_back(cdbuild::StyleName(pabid, "Style " + std::to_string(i)));
  }
  records.push_back(Paragraph());
  records.push_back(PabRef(1));
  records.push_back(Text("x"));
  AppendItem(records);
  VelkoRTChunk* everything = Chunk("Everything");
  Attach(everything);
  ASSERT_EQ(item_->internal->input, nullptr); // the run loads the body
  ASSERT_EQ(Run(everything, ACTION_RENDER), NOERROR);
  const std::string loaded = Held();
  EXPECT_NE(loaded.find(">x<"), std::string::npos) << loaded;
  ASSERT_EQ(context_->pabdef_count, kLookupSlots - 1);
  ASSERT_EQ(context_->style_name_count, kLookupSlots - 1);
  const std::vector<WORD> definitions = LookupPabids(
      context_->pabdef_records, context_->pabdef_count, offsetof(CDPABDEFINITION, PABID));
  const std::vector<WORD> styleNames = LookupPabids(
      context_->style_name_records, context_->style_name_count, offsetof(CDSTYLENAME, PABID));
  for (WORD i = 0; i < kLookupSlots - 1; ++i) {
    EXPECT_EQ(definitions[i], (i * 7) % kKinds + 1) << i;
    EXPECT_EQ(styleNames[i], (i * 7) % kKinds + 1) << i;
  }

  // The same tables and output from a walk of the list.
  VelkoTestSetEmitterLane(false);
  RenderTruncate(context_, 0);
  const STATUS walked = Run(everything, ACTION_RENDER);
  VelkoTestSetEmitterLane(true);
  ASSERT_EQ(walked, NOERROR);
  EXPECT_EQ(Held(), loaded);
  EXPECT_EQ(LookupPabids(context_->pabdef_records, context_->pabdef_count,
                         offsetof(CDPABDEFINITION, PABID)),
            definitions);
  EXPECT_EQ(LookupPabids(context_->style_name_records, context_->style_name_count,
                         offsetof(CDSTYLENAME, PABID)),
            styleNames);
}

} // namespace
