// AlterRichText as a free function over a chunk pointer: a chunk of no
// item, or none at all, is refused; otherwise it is the method, extra
// definition included; and a text argument that lies in the session's
// first scratch text survives the parse of the extra definition there.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "chunk/rtchunk_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;

/* "intro", then a table of three rows of two cells, "r<row>c<column>". */
std::vector<Bytes> TableRecords() {
  std::vector<Bytes> records = {PabDef(1), PabRef(1), Text("intro"), Paragraph(), TableBegin()};
  for (BYTE row = 0; row < 3; ++row) {
    for (BYTE column = 0; column < 2; ++column) {
      records.push_back(Cell(row, column));
      std::string text = "r0c0";
      text[1] = static_cast<char>('0' + row);
      text[3] = static_cast<char>('0' + column);
      records.push_back(Text(text));
    }
  }
  records.push_back(TableEnd());
  return records;
}

using DispatchTest = EngineTest;

TEST_F(DispatchTest, ChunkWithoutItemIsRefused) {
  VelkoRTChunk chunk(session_, nullptr);
  EXPECT_EQ(chunk.AlterRichText(ACTION_QUERY_RECORDS, PROP_EXISTS, 0, 0, 0, nullptr, nullptr,
                                nullptr, nullptr),
            VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(AlterRichText(nullptr, ACTION_QUERY_RECORDS, PROP_EXISTS, 0, 0, 0, nullptr, nullptr,
                          nullptr, nullptr),
            VELKO_ERR_BAD_ARGUMENT);
}

TEST_F(DispatchTest, FreeFunctionIsTheMethod) {
  AppendItem(TableRecords());
  VelkoRTChunk* chunk = Chunk("Table 1");
  session_->internal->found_first = 0;
  EXPECT_EQ(AlterRichText(chunk, ACTION_QUERY_RECORDS, PROP_EXISTS, 0, 0, 0, nullptr, nullptr,
                          "Row 3", nullptr),
            NOERROR);
  EXPECT_NE(session_->internal->found_first, 0u);
  EXPECT_EQ(chunk->status, NOERROR);
}

TEST_F(DispatchTest, StringInFirstScratchTextSurvivesTheExtraDefinition) {
  AppendItem(TableRecords());
  VelkoRTChunk* chunk = Chunk("Table 1");
  // The separator of the gathered texts is built where the extra
  // definition is parsed.
  std::strcpy(session_->scratch_first, " | ");
  session_->result_length = 0;
  EXPECT_EQ(chunk->AlterRichText(ACTION_GET_TEXT, PROP_TEXT, 1, 0, 0, session_->scratch_first,
                                 nullptr, "Row 2", nullptr),
            NOERROR);
  EXPECT_EQ(std::string(session_->result_text, session_->result_length), "r1c0 | r1c1");
}

} // namespace
