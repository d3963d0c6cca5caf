// Finding paragraph definitions among an item's records: one PABID
// backwards from the end or from the current record, the 92-byte cut of a
// long definition, and the default definition when none is found, with
// the highest PABID in use.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "cdbuild/cd_builder.h"
#include "engine/process_state.h"
#include "engine/retrieve.h"
#include "store/services.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;

class RetrieveTest : public EngineTest {
protected:
  const CDPABDEFINITION& Found() const {
    return *reinterpret_cast<const CDPABDEFINITION*>(state_->retrieved_definition);
  }
};

TEST_F(RetrieveTest, OnePabidBackwards) {
  LoadInput({PabDef(7, 100), Text("a"), PabDef(7, 200), Text("b"), PabDef(7, 300), Text("c")});
  RetrievePABDEF(7, RETRIEVE_BACKWARD, state_);
  EXPECT_EQ(Found().LeftMargin, 100); // the first in record order
  state_->current_record = InputNode(4);
  RetrievePABDEF(7, RETRIEVE_BACKWARD | RETRIEVE_FROM_CURRENT | RETRIEVE_FIRST_TAKEN, state_);
  EXPECT_EQ(Found().LeftMargin, 200); // the nearest before the current record
  RetrievePABDEF(7, RETRIEVE_FORWARD | RETRIEVE_FROM_CURRENT | RETRIEVE_FIRST_TAKEN, state_);
  EXPECT_EQ(Found().LeftMargin, 300);
}

TEST_F(RetrieveTest, AnyPabidForwardsTakesTheLastDefinitionOfTheHighest) {
  LoadInput({PabDef(1, 100), PabDef(3, 200), PabDef(2, 300), PabRef(2), Text("a"),
             PabDef(3, 400), PabDef(2, 500), PabRef(3), Text("b")});
  RetrievePABDEF(kAnyPabid, RETRIEVE_FORWARD, state_);
  EXPECT_EQ(Found().PABID, 3);
  EXPECT_EQ(Found().LeftMargin, 400);
}

TEST_F(RetrieveTest, WithoutADefinitionTheDefaultStands) {
  LoadInput({PabRef(1), Text("a")});
  RetrievePABDEF(kAnyPabid, RETRIEVE_FORWARD, state_);
  EXPECT_EQ(state_->retrieved_found, 0u);
  EXPECT_EQ(Found().Header.Signature, SIG_CD_PABDEFINITION);
  EXPECT_EQ(Found().Header.Length, sizeof(CDPABDEFINITION));
  EXPECT_EQ(Found().PABID, 0);
  EXPECT_EQ(Found().LeftMargin, 1440);
  EXPECT_EQ(Found().FirstLineLeftMargin, 1440);
  EXPECT_EQ(Found().Tab[0], 720);
  EXPECT_EQ(Found().Flags, 0);

  state_->last_pabid = 4;
  SetLastPABID(state_);
  EXPECT_EQ(state_->last_pabid, 4);
}

TEST_F(RetrieveTest, ALongDefinitionIsCutTo92Bytes) {
  Bytes longDefinition = PabDef(5);
  longDefinition.resize(120, 0xAB);
  cdbuild::PutWord(longDefinition, 2, 120);
  LoadInput({longDefinition, PabRef(5), Text("a")});
  std::memset(state_->retrieved_definition, 0, sizeof state_->retrieved_definition);
  RetrievePABDEF(5, RETRIEVE_FORWARD, state_);
  EXPECT_EQ(Found().PABID, 5);
  EXPECT_EQ(state_->retrieved_definition[91], 0xAB);

  SetLastPABID(state_);
  EXPECT_EQ(state_->last_pabid, 5);
}

} // namespace

namespace {

using namespace engine_test;

/* ---- the merged cell over a cell ---- */

class TargetCellTest : public EngineTest {
protected:
  /* RetrieveTargetCell for the record number: status and p1-p4. */
  std::pair<STATUS, std::vector<WORD>> Retrieve(DWORD record) {
    const STATUS status = RetrieveTargetCell(record, state_);
    return {status, {state_->p1, state_->p2, state_->p3, state_->p4}};
  }
  using Answer = std::pair<STATUS, std::vector<WORD>>;
};

Bytes SpanCell(BYTE row, BYTE column, BYTE rowSpan, BYTE columnSpan) {
  return cdbuild::TableCell(
      {.row = row, .column = column, .row_span = rowSpan, .column_span = columnSpan});
}

TEST_F(TargetCellTest, TheFirstSpanningCellFromTheWantedOneCoversIt) {
  // Records: 1 table, 2-5 cells of a 2x2 table whose last cell spans both
  // rows and columns, 6 end; then a second table whose spanning cell must
  // not answer for the first table.
  LoadInput({TableBegin(), SpanCell(0, 0, 1, 1), SpanCell(0, 1, 1, 1), SpanCell(1, 0, 1, 1),
             SpanCell(1, 1, 2, 2), TableEnd(), TableBegin(), SpanCell(0, 0, 1, 1),
             SpanCell(2, 2, 3, 3), TableEnd()});
  state_->p1 = state_->p2 = 77;
  EXPECT_EQ(Retrieve(2), (Answer{NOERROR, {2, 2, 1, 1}}));
  EXPECT_EQ(Retrieve(4), (Answer{NOERROR, {2, 2, 2, 1}}));
  EXPECT_EQ(Retrieve(5), (Answer{NOERROR, {2, 2, 2, 2}})); // a spanning cell covers itself
  // The second table's spanning cell (rows and columns 1-3) covers its
  // first cell; the first table's cells stop at their own table's end.
  EXPECT_EQ(Retrieve(8), (Answer{NOERROR, {3, 3, 1, 1}}));
  state_->note = note_;
  state_->item_name = "Body";
  EXPECT_EQ(Retrieve(3), (Answer{NOERROR, {2, 2, 1, 2}}));
}

TEST_F(TargetCellTest, ACellWithoutSpanningCellAfterItGetsOnlyItsOwnPlace) {
  LoadInput({TableBegin(), SpanCell(0, 0, 1, 1), SpanCell(0, 1, 1, 1), TableEnd(), TableBegin(),
             SpanCell(1, 1, 2, 2), TableEnd()});
  EXPECT_EQ(Retrieve(3), (Answer{NOERROR, {0, 0, 1, 2}}));
}

TEST_F(TargetCellTest, ATableNestedInALaterCellIsPassedOver) {
  // Records: 1 table, 2-3 the first row, 4-6 a table nested in cell (0, 1)
  // whose only cell spans two rows and columns, 7-8 the second row, whose
  // last cell spans both rows and columns, 9 end.
  const Bytes nestedSpan = cdbuild::TableCell(
      {.row = 0, .column = 0, .row_span = 2, .column_span = 2, .nested = true});
  LoadInput({TableBegin(), SpanCell(0, 0, 1, 1), SpanCell(0, 1, 1, 1), TableBegin(true),
             nestedSpan, TableEnd(true), SpanCell(1, 0, 1, 1), SpanCell(1, 1, 2, 2),
             TableEnd()});
  // Not the nested cell (which would answer 1, 1): the second row's.
  EXPECT_EQ(Retrieve(2), (Answer{NOERROR, {2, 2, 1, 1}}));
}

TEST_F(TargetCellTest, AnItemThatIsNotRichTextFailsWithItsErrorWord) {
  LoadInput({TableBegin(), SpanCell(0, 0, 1, 1), TableEnd()});
  ASSERT_EQ(NSFItemSetText(note_, "Body", "text", 4), NOERROR);
  EXPECT_EQ(Retrieve(2), (Answer{VELKO_ERR_FAILED, {0, 0, 0, 0}}));
  EXPECT_EQ(state_->secondary_status, kNotRichTextError);
}

/* ---- all text ---- */

class AllTextTest : public EngineTest {
protected:
  /* RetrieveAllText over the note's "Body": the status and the text (its
   * length checked against the NUL). */
  std::pair<STATUS, std::string> All(DWORD blanks, DWORD fileMode) {
    char* buffer = nullptr;
    DWORD length = 0xFFFF;
    const STATUS status = RetrieveAllText(note_, "Body", &buffer, &length, blanks, fileMode);
    if (status != NOERROR) {
      EXPECT_EQ(buffer, nullptr);
      return {status, {}};
    }
    EXPECT_EQ(buffer[length], '\0');
    std::string text(buffer, length);
    delete[] buffer;
    return {status, text};
  }
  using Answer = std::pair<STATUS, std::string>;

  void AppendBody(const cdbuild::Body& body) {
    ASSERT_TRUE(body.ok());
    ASSERT_EQ(body.AppendItems(note_, "Body"), NOERROR);
  }
};

TEST_F(AllTextTest, TextModeGathersTheRunsWithOrWithoutParagraphBlanks) {
  cdbuild::Body body;
  body.Add(Paragraph()).Add(Text("ab")).Add(Paragraph()).Add(Text("cd")).Add(Text(""));
  body.NewItem().Add(Paragraph()).Add(cdbuild::FileSegment({'x'})).Add(Text("e"));
  AppendBody(body);
  EXPECT_EQ(All(1, 0), (Answer{NOERROR, " ab cd e"}));
  EXPECT_EQ(All(0, 0), (Answer{NOERROR, "abcde"}));
}

TEST_F(AllTextTest, FileModeGathersTheSegmentsSizedByTheHeader) {
  cdbuild::Body body;
  body.Add(cdbuild::FileHeader({.data_size = 10, .segment_count = 2}));
  body.Add(cdbuild::FileSegment({'h', 'e', 'l', 'l', 'o'})).Add(Text("text"));
  body.NewItem().Add(cdbuild::FileSegment({'w', 'o', 'r', 'l', 'd'}));
  AppendBody(body);
  EXPECT_EQ(All(1, 1), (Answer{NOERROR, "helloworld"}));
  // Segments beyond the header's size are cut.
  cdbuild::Body cut;
  cut.Add(cdbuild::FileHeader({.data_size = 7})).Add(cdbuild::FileSegment({'h', 'e', 'l', 'l'}));
  cut.Add(cdbuild::FileSegment({'o', 'w', 'o', 'r', 'l', 'd'}));
  ASSERT_EQ(NSFItemDelete(note_, "Body", 4), NOERROR);
  AppendBody(cut);
  EXPECT_EQ(All(0, 1), (Answer{NOERROR, "hellowo"}));
}

TEST_F(AllTextTest, Refusals) {
  char* buffer = nullptr;
  DWORD length = 0;
  EXPECT_EQ(RetrieveAllText(note_, "Body", nullptr, &length, 0, 0), VELKO_ERR_MEMORY);
  EXPECT_EQ(RetrieveAllText(note_, "Body", &buffer, nullptr, 0, 0), VELKO_ERR_MEMORY);
  EXPECT_EQ(All(0, 0), (Answer{NOERROR, ""})) << "no item";

  ASSERT_EQ(NSFItemSetText(note_, "Body", "text", 4), NOERROR);
  EXPECT_EQ(All(0, 0), (Answer{VELKO_ERR_FAILED, ""})) << "a text item";
  ASSERT_EQ(NSFItemDelete(note_, "Body", 4), NOERROR);

  AppendItem({Text("ab"), cdbuild::WithHeaderLength(Text("cd"), 200)});
  EXPECT_EQ(All(0, 0), (Answer{VELKO_ERR_FAILED, ""})) << "a record running past its value";
  ASSERT_EQ(NSFItemDelete(note_, "Body", 4), NOERROR);

  AppendItem({cdbuild::FileHeader({.data_size = 100000}), cdbuild::FileSegment({'a'})});
  EXPECT_EQ(All(0, 1), (Answer{VELKO_ERR_FAILED, ""})) << "more data than the item holds";
}

/* ---- the checksum ---- */

class ChecksumTest : public EngineTest {
protected:
  std::pair<STATUS, std::string> Crc(WORD lengthDigits, WORD sumDigits) {
    std::string out(lengthDigits + 2 * sumDigits + 1, 'x');
    const STATUS status = CalculateCRC(note_, "Body", out.data(), lengthDigits, sumDigits);
    EXPECT_EQ(out.back(), '\0');
    out.pop_back();
    return {status, out};
  }
  using Answer = std::pair<STATUS, std::string>;
};

TEST_F(ChecksumTest, FieldsOfOneItem) {
  // The value 01 00 81 02: length 4, byte sum 132, weighted 0x81*2 + 2*3 = 264.
  AppendItem({Paragraph()});
  EXPECT_EQ(Crc(4, 3), (Answer{NOERROR, "0004132264"}));
  EXPECT_EQ(Crc(0, 3), (Answer{NOERROR, "132264"}));
  EXPECT_EQ(Crc(4, 0), (Answer{NOERROR, "0004"}));
  EXPECT_EQ(Crc(1, 2), (Answer{NOERROR, "43264"})); // the last digits
  EXPECT_EQ(Crc(0, 0), (Answer{NOERROR, ""}));
}

TEST_F(ChecksumTest, TheWeightRestartsEvery128Bytes) {
  // A 132-byte value: 01 00, the header 85 FF 82 00, zeros, and 5 at value
  // offset 128 (weight 0) and 1 at 129 (weight 1). Weighted:
  // 0x85*2 + 0xFF*3 + 0x82*4 + 1 = 1552; sum 1 + 0x85 + 0xFF + 0x82 + 6 = 525.
  Bytes record = cdbuild::Sized(SIG_CD_TEXT, 130);
  record[126] = 5;
  record[127] = 1;
  AppendItem({record});
  EXPECT_EQ(Crc(3, 4), (Answer{NOERROR, "13205251552"}));
}

TEST_F(ChecksumTest, FurtherItemsAddLengthAndSumButNoWeight) {
  AppendItem({Paragraph()});
  AppendItem({Paragraph()});
  AppendItem({Paragraph()});
  EXPECT_EQ(Crc(2, 3), (Answer{NOERROR, "12396264"}));
}

TEST_F(ChecksumTest, ALengthOf1234WithTwoDigits) {
  AppendItem({cdbuild::Sized(SIG_CD_TEXT, 1232)});
  EXPECT_EQ(Crc(2, 0), (Answer{NOERROR, "34"}));
}

TEST_F(ChecksumTest, AMissingItemReturnsTheHostStatusWithZeroDigits) {
  EXPECT_EQ(Crc(1, 3), (Answer{VELKO_ERR_ITEM_NOT_FOUND, "0000000"}));
}

TEST_F(ChecksumTest, TheItemMethodOverABodySplitOverItems) {
  // Two stored items of one paragraph record each, through the class
  // interface; a disconnected item gives the empty text.
  AppendItem({Paragraph()});
  AppendItem({Paragraph()});
  Connect();
  char out[16] = "junk";
  EXPECT_EQ(item_->CalculateRTItemCRC(out, 4, 3), NOERROR);
  EXPECT_STREQ(out, "0008264264");
  VelkoRTItem loose(session_);
  EXPECT_EQ(loose.CalculateRTItemCRC(out, 4, 3), NOERROR);
  EXPECT_STREQ(out, "");
}

} // namespace
