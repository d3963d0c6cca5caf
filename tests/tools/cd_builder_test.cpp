// The byte-level record builder: each record kind's stored bytes against
// hand-written hex, header forms and their limits, tails and header
// lengths, and record lists laid out as items (split as the body writer
// splits them), CD files and items of a note.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/ods.h"
#include "host/status.h"
#include "tests/tools/bytes_support.h"
#include "tools/cd_builder.h"

namespace {

using tools_test::Bytes;
using tools_test::Hex;
using tools_test::ShowHex;
namespace cb = cdbuild;

struct RecordCase {
  const char* what;
  std::function<Bytes()> make;
  const char* hex;
};

void ExpectRecords(const std::vector<RecordCase>& cases) {
  for (const RecordCase& c : cases) {
    const Bytes made = c.make();
    EXPECT_EQ(made, Hex(c.hex)) << c.what << "\n  made: " << ShowHex(made);
  }
}

TEST(CdBuilderRecordTest, TextRuns) {
  ExpectRecords({
      {"default font", [] { return cb::Text("Hi"); }, "85 FF 0A 00 01 00 00 0A 48 69"},
      {"every font byte, odd length without pad",
       [] { return cb::Text({.font = {4, 0x05, 4, 12}, .text = "abc"}); },
       "85 FF 0B 00 04 05 04 0C 61 62 63"},
      {"empty text", [] { return cb::Text(""); }, "85 FF 08 00 01 00 00 0A"},
      {"another signature in the text layout",
       [] { return cb::Text({.text = "x", .signature = SIG_CD_BIDI_TEXT}); },
       "E4 FF 09 00 01 00 00 0A 78"},
      {"bytes as they are", [] { return cb::Text(std::string("\0\xFF", 2)); },
       "85 FF 0A 00 01 00 00 0A 00 FF"},
  });
}

TEST(CdBuilderRecordTest, ParagraphDefinitions) {
  ExpectRecords({
      {"defaults: 70 bytes, first line at the left margin", [] { return cb::PabDef({}); },
       "82 FF 46 00 01 00 00 00 00 00 00 00 00 00 A0 05 00 00 A0 05 00 00 Z40 "
       "00 00 00 00 00 00 00 00"},
      {"every field, extension words from byte 70",
       [] {
         return cb::PabDef({.id = 2,
                            .justify = 3,
                            .line_spacing = 1,
                            .spacing_before = 2,
                            .spacing_after = 3,
                            .left = 720,
                            .right = 360,
                            .first_line = 1080,
                            .tabs = {-720, 1440},
                            .flags = 0x0100,
                            .tab_types = 0x12345678,
                            .flags2 = 0x0494,
                            .extension = std::array<WORD, 6>{1, 2, 3, 4, 5, 6},
                            .ext_flags = 0x1,
                            .flags3 = 0xA0B0C0D0});
       },
       "82 FF 5A 00 02 00 03 00 01 00 02 00 03 00 D0 02 68 01 38 04 02 00 30 FD A0 05 Z36 "
       "00 01 78 56 34 12 94 04 01 00 02 00 03 00 04 00 05 00 06 00 01 00 00 00 D0 C0 B0 A0"},
      {"six extension words alone: 82 bytes",
       [] { return cb::PabDef({.extension = std::array<WORD, 6>{1440, 0, 1440, 0, 0, 100}}); },
       "82 FF 52 00 01 00 00 00 00 00 00 00 00 00 A0 05 00 00 A0 05 00 00 Z40 "
       "00 00 00 00 00 00 00 00 A0 05 00 00 A0 05 00 00 00 00 64 00"},
      {"ext flags without words: zero words first",
       [] { return cb::PabDef({.left = 0, .ext_flags = 0x2}); },
       "82 FF 56 00 01 00 Z64 Z12 02 00 00 00"},
      {"flags3 alone: ext flags become 1",
       [] { return cb::PabDef({.left = 0, .flags3 = 0x44}); },
       "82 FF 5A 00 01 00 Z64 Z12 01 00 00 00 44 00 00 00"},
      {"twenty tabs fill the table",
       [] { return cb::PabDef({.left = 0, .tabs = std::vector<int16_t>(20, 1)}); },
       "82 FF 46 00 01 00 Z14 14 00 "
       "01 00 01 00 01 00 01 00 01 00 01 00 01 00 01 00 01 00 01 00 "
       "01 00 01 00 01 00 01 00 01 00 01 00 01 00 01 00 01 00 01 00 Z8"},
      {"twenty-one tabs are refused",
       [] { return cb::PabDef({.tabs = std::vector<int16_t>(21, 1)}); }, ""},
  });
}

TEST(CdBuilderRecordTest, ParagraphsReferencesAndBrackets) {
  ExpectRecords({
      {"paragraph", [] { return cb::Paragraph(); }, "81 02"},
      {"reference", [] { return cb::PabRef(7); }, "83 04 07 00"},
      {"begin", [] { return cb::Begin(SIG_CD_TEXT); }, "DD 06 00 00 85 FF"},
      {"end with a version", [] { return cb::End(SIG_CD_HOTSPOTBEGIN, 1); },
       "DE 06 01 00 A9 FF"},
  });
}

TEST(CdBuilderRecordTest, Tables) {
  ExpectRecords({
      {"table begin", [] { return cb::TableBegin({.left = 100, .horizontal_space = 2,
                                                  .vertical_space = 3, .flags = 8}); },
       "A3 0E 64 00 00 00 00 00 02 00 03 00 08 00"},
      {"nested table begin", [] { return cb::TableBegin({.nested = true}); }, "CF 0E Z12"},
      {"cell edges from its column", [] { return cb::TableCell({.row = 1, .column = 2}); },
       "A4 12 01 02 40 0B E0 10 00 00 00 00 00 00 01 01 00 00"},
      {"nested cell, every field",
       [] {
         return cb::TableCell({.row = 3, .column = 0, .left = 10, .right = 20, .borders = 0x55,
                               .flags = 0x02, .v42_border = 0x1234, .row_span = 2,
                               .column_span = 3, .background = 5, .nested = true});
       },
       "D0 12 03 00 0A 00 14 00 00 00 55 02 34 12 02 03 05 00"},
      {"table end", [] { return cb::TableEnd(); }, "A5 08 Z6"},
      {"nested table end", [] { return cb::TableEnd(true); }, "D1 08 Z6"},
      {"pre-table, defaults", [] { return cb::PreTableBegin(); }, "FB FF 30 00 Z44"},
      {"pre-table, every field",
       [] {
         return cb::PreTableBegin({.flags = 0x10, .row_display = 1, .min_row_height = 200,
                                   .body_color = 0x00332211, .table_color = 0x00EFCDAB,
                                   .cell_border_color = {1, 1, 2, 3}, .name = "T"});
       },
       "FB FF 31 00 10 00 00 00 Z12 01 00 C8 00 Z4 11 22 33 00 AB CD EF 00 "
       "01 00 01 02 03 00 01 00 Z4 54"},
  });
}

TEST(CdBuilderRecordTest, Fields) {
  ExpectRecords({
      {"a text field with a name", [] { return cb::Field({.name = "Subject"}); },
       "8A FF 2F 00 00 00 00 05 00 00 Z10 01 00 00 0A Z8 07 00 Z6 "
       "53 75 62 6A 65 63 74"},
      {"every part in order: formulas, name, description, values",
       [] {
         return cb::Field({.flags = 0x0080, .data_type = 0x0300, .list_delimiter = 0x3006,
                           .font = {4, 1, 2, 9}, .tab_order = 4, .default_formula = "\x0A\x0B",
                           .translation_formula = "t", .validation_formula = "\x0C",
                           .name = "N", .description = "D", .text_values = "V"});
       },
       "8A FF 2F 00 80 00 00 03 06 30 Z10 04 01 02 09 02 00 01 00 04 00 01 00 01 00 01 00 "
       "01 00 00 00 0A 0B 74 0C 4E 44 56"},
  });
}

TEST(CdBuilderRecordTest, PassThroughColoursHotspotsAndLinks) {
  ExpectRecords({
      {"pass-through begin", [] { return cb::HtmlBegin(); }, "CC FF 08 00 00 00 00 00"},
      {"pass-through end", [] { return cb::HtmlEnd(); }, "CD FF 08 00 00 00 00 00"},
      {"colour", [] { return cb::Color({.color = {1, 0xFF, 0x80, 0x00}}); },
       "D2 08 01 00 FF 80 00 00"},
      {"colour with a gradient",
       [] { return cb::Color({.color = {0x11, 0xFF, 0x80, 0}, .gradient = cb::ColorValue{1, 0, 0, 0xFF}}); },
       "D2 0E 11 00 FF 80 00 00 01 00 00 00 FF 00"},
      {"hotspot with data",
       [] { return cb::HotspotBegin({.type = 1, .flags = 0x10000, .data = "ab"}); },
       "A9 FF 12 00 01 00 00 00 00 00 01 00 02 00 00 00 61 62"},
      {"V4 hotspot", [] { return cb::HotspotBegin({.signature = SIG_CD_V4HOTSPOTBEGIN}); },
       "AD FF 10 00 Z12"},
      {"hotspot end", [] { return cb::HotspotEnd(); }, "AA 02"},
      {"V4 hotspot end", [] { return cb::HotspotEnd(SIG_CD_V4HOTSPOTEND); }, "AE 02"},
      {"link", [] { return cb::Link(3); }, "91 FF 06 00 03 00"},
      {"doc link: short note link zero-filled, texts behind",
       [] { return cb::DocLink({1, 2}, {'x'}); }, "92 FF 2D 00 01 02 Z38 78"},
      {"doc link: a note link over 40 bytes is refused",
       [] { return cb::DocLink(Bytes(41, 1)); }, ""},
  });
}

TEST(CdBuilderHeaderTest, FormFollowsTheSignature) {
  ExpectRecords({
      {"BSIG", [] { return cb::Raw(0x81); }, "81 02"},
      {"WSIG", [] { return cb::Raw(0xFF99, {7}); }, "99 FF 05 00 07"},
      {"LSIG: signature byte, 0, double-word length; fields 2 bytes lower",
       [] { return cb::Raw(SIG_CD_GRAPHIC, {1, 2}); }, "99 00 08 00 00 00 01 02"},
      {"LSIG of the image header", [] { return cb::Raw(SIG_CD_IMAGEHEADER); },
       "7D 00 06 00 00 00"},
      {"the largest BSIG: 254 bytes", [] { return cb::Raw(0x81, Bytes(252, 0)); },
       "81 FE Z252"},
      {"255 bytes would read as a WSIG header", [] { return cb::Raw(0x81, Bytes(253, 0)); },
       ""},
      {"a signature with another high byte has no header form",
       [] { return cb::Raw(0x1281); }, ""},
  });
  EXPECT_EQ(cb::Raw(0xFF99, Bytes(65531, 0)).size(), 65535u);
  EXPECT_TRUE(cb::Raw(0xFF99, Bytes(65532, 0)).empty());
  const Bytes large = cb::Raw(SIG_CD_IMAGESEGMENT, Bytes(70000, 0));
  ASSERT_EQ(large.size(), 70006u);
  EXPECT_EQ(Bytes(large.begin(), large.begin() + 6), Hex("7C 00 76 11 01 00"));
}

TEST(CdBuilderHeaderTest, TailsAndHeaderLengths) {
  ExpectRecords({
      {"tail on a BSIG", [] { return cb::WithTail(cb::Paragraph(), {0xAA, 0xBB}); }, "81 04 AA BB"},
      {"tail on a WSIG", [] { return cb::WithTail(cb::Text(""), {0x41}); },
       "85 FF 09 00 01 00 00 0A 41"},
      {"tail on an LSIG", [] { return cb::WithTail(cb::Raw(SIG_CD_GRAPHIC), {1}); },
       "99 00 07 00 00 00 01"},
      {"tail past a BSIG's reach", [] { return cb::WithTail(cb::Raw(0x81, Bytes(250)), Bytes(3)); },
       ""},
      {"BSIG length", [] { return cb::WithHeaderLength(cb::Paragraph(), 9); }, "81 09"},
      {"BSIG length 0 cannot be written", [] { return cb::WithHeaderLength(cb::Paragraph(), 0); },
       ""},
      {"BSIG length 255 cannot be written",
       [] { return cb::WithHeaderLength(cb::Paragraph(), 255); }, ""},
      {"WSIG length", [] { return cb::WithHeaderLength(cb::Text(""), 0x100); },
       "85 FF 00 01 01 00 00 0A"},
      {"WSIG length 0", [] { return cb::WithHeaderLength(cb::HtmlEnd(), 0); },
       "CD FF 00 00 00 00 00 00"},
      {"WSIG length over a word", [] { return cb::WithHeaderLength(cb::HtmlEnd(), 0x10000); }, ""},
      {"LSIG length", [] { return cb::WithHeaderLength(cb::Raw(SIG_CD_GRAPHIC), 0x12345678); },
       "99 00 78 56 34 12"},
      {"a header cut short", [] { return cb::WithHeaderLength(Hex("85 FF 08"), 8); }, ""},
      {"no record at all", [] { return cb::WithTail({}, {1}); }, ""},
  });
}

TEST(CdBuilderHeaderTest, SizedRecordsAndTheirFill) {
  ExpectRecords({
      {"BSIG, zero behind the header", [] { return cb::Sized(0x42, 5); }, "42 05 00 00 00"},
      {"WSIG, the pattern from offset 4",
       [] { return cb::Sized(0xFF10, 7, cb::Fill::kPattern); }, "10 FF 07 00 1D 24 2B"},
      {"LSIG, the pattern from offset 6",
       [] { return cb::Sized(SIG_CD_GRAPHIC, 8, cb::Fill::kPattern); },
       "99 00 08 00 00 00 2B 32"},
      {"the header alone", [] { return cb::Sized(SIG_CD_PARAGRAPH, 2); }, "81 02"},
      {"the pattern wraps at a byte",
       [] { return Bytes(1, cb::Sized(0xFF10, 40, cb::Fill::kPattern)[37]); }, "04"},
      {"shorter than its header", [] { return cb::Sized(0xFF10, 3); }, ""},
      {"BSIG of 255 bytes", [] { return cb::Sized(0x42, 255); }, ""},
      {"no header form", [] { return cb::Sized(0x1281, 4); }, ""},
      {"a graphic under a byte-length header",
       [] { return cb::SizedAs(CD_HEADER_BSIG, SIG_CD_GRAPHIC, 4, cb::Fill::kPattern); },
       "99 04 0F 16"},
      {"a byte-length signature under a double-word header",
       [] { return cb::SizedAs(CD_HEADER_LSIG, 0x42, 7); }, "42 00 07 00 00 00 00"},
      {"signature 0 under a byte-length header",
       [] { return cb::SizedAs(CD_HEADER_BSIG, 0, 3); }, "00 03 00"},
  });
}

TEST(CdBuilderHeaderTest, FieldsWrittenByOffset) {
  Bytes record = cb::Sized(0xFF10, 10);
  cb::PutWord(record, 4, 0x1234);
  cb::PutDword(record, 6, 0xA1B2C3D4);
  EXPECT_EQ(record, Hex("10 FF 0A 00 34 12 D4 C3 B2 A1"));
  const FONTID font = cb::FontId({4, 0x05, 2, 12});
  const auto* bytes = reinterpret_cast<const BYTE*>(&font);
  EXPECT_EQ(Bytes(bytes, bytes + 4), Hex("04 05 02 0C"));
  EXPECT_EQ(cb::PabDef({.tabs = {720}, .tab_count = 0}),
            Hex("82 FF 46 00 01 00 Z8 A0 05 00 00 A0 05 00 00 D0 02 Z46"));
}

TEST(CdBuilderHeaderTest, HexText) {
  EXPECT_EQ(cb::ParseHex("85ff 0A:00,01\n"), Hex("85 FF 0A 00 01"));
  EXPECT_EQ(cb::ParseHex(""), Bytes{});
  EXPECT_EQ(cb::ParseHex("8"), std::nullopt);
  EXPECT_EQ(cb::ParseHex("8 5"), std::nullopt);
  EXPECT_EQ(cb::ParseHex("0g"), std::nullopt);
  EXPECT_EQ(cb::ParseHex("0x10"), std::nullopt);
}

/* ---- record lists ---- */

TEST(CdBuilderBodyTest, OddRecordsArePaddedInItemsAndFiles) {
  cb::Body body;
  body.Add(cb::Text("abc")).Add(cb::Paragraph());
  ASSERT_TRUE(body.ok());
  EXPECT_EQ(body.RecordBytes(), Hex("85 FF 0B 00 01 00 00 0A 61 62 63 00 81 02"));
  EXPECT_EQ(body.FileContent(), Hex("01 00 85 FF 0B 00 01 00 00 0A 61 62 63 00 81 02"));
  EXPECT_THAT(body.Items(), ::testing::ElementsAre(body.RecordBytes()));
  EXPECT_EQ(body.records().size(), 2u);
}

TEST(CdBuilderBodyTest, ARefusedRecordFailsTheBody) {
  cb::Body body;
  body.Add(cb::Paragraph()).Add(cb::Raw(0x81, Bytes(300)));
  EXPECT_FALSE(body.ok());
  EXPECT_EQ(body.records().size(), 1u);
}

/* Record sizes per item for records of the given sizes. */
std::vector<size_t> ItemSizes(const cb::Body& body) {
  std::vector<size_t> sizes;
  for (const Bytes& item : body.Items())
    sizes.push_back(item.size());
  return sizes;
}

TEST(CdBuilderBodyTest, ItemsSplitBeforePassingTheWritersLimit) {
  cb::Body body;
  for (int count = 0; count < 100; ++count)
    body.Add(cb::Raw(0xFF99, Bytes(996)));  // 1000 bytes each
  EXPECT_THAT(ItemSizes(body), ::testing::ElementsAre(49000, 49000, 2000));

  cb::Body exact;  // records that fill an item to the byte stay in it
  exact.Add(cb::Raw(0xFF99, Bytes(49018))).Add(cb::Paragraph());
  EXPECT_THAT(ItemSizes(exact), ::testing::ElementsAre(49022, 2));
  cb::Body padded;  // an odd record keeps its pad byte in the item
  padded.Add(cb::Raw(0xFF99, Bytes(49015))).Add(cb::Paragraph());
  EXPECT_THAT(ItemSizes(padded), ::testing::ElementsAre(49022));
  cb::Body over;
  over.Add(cb::Raw(0xFF99, Bytes(49015))).Add(cb::PabRef(1));
  EXPECT_THAT(ItemSizes(over), ::testing::ElementsAre(49020, 4));
}

TEST(CdBuilderBodyTest, ALargeRecordHasAnItemOfItsOwn) {
  cb::Body body;
  body.Add(cb::Paragraph()).Add(cb::Raw(0xFF99, Bytes(60000))).Add(cb::Paragraph());
  EXPECT_THAT(ItemSizes(body), ::testing::ElementsAre(2, 60004, 2));
}

TEST(CdBuilderBodyTest, ItemsStartWhereAsked) {
  cb::Body body;
  body.NewItem().Add(cb::Paragraph()).NewItem().Add(cb::PabRef(1)).Add(cb::Paragraph());
  EXPECT_THAT(body.Items(), ::testing::ElementsAre(Hex("81 02"), Hex("83 04 01 00 81 02")));
  cb::Body empty;
  EXPECT_THAT(empty.Items(), ::testing::ElementsAre(Bytes{}));
  EXPECT_EQ(empty.FileContent(), Hex("01 00"));
}

TEST(CdBuilderBodyTest, FilesAreWrittenAndReadBackByTheHostWalker) {
  cb::Body body;
  body.Add(cb::Text("abc")).Add(cb::Raw(SIG_CD_GRAPHIC, Bytes(24))).Add(cb::Paragraph());
  const std::string path = tools_test::TempPath("builder_test.cd");
  ASSERT_TRUE(body.WriteFile(path));
  struct Seen {
    std::vector<WORD> signatures;
    std::vector<Bytes> records;
  } seen;
  const STATUS status = EnumCompositeFile(
      path.c_str(),
      [](char* record, WORD signature, DWORD length, void* context) -> STATUS {
        auto* s = static_cast<Seen*>(context);
        s->signatures.push_back(signature);
        s->records.emplace_back(record, record + length);
        return NOERROR;
      },
      &seen);
  EXPECT_EQ(status, NOERROR);
  EXPECT_THAT(seen.signatures, ::testing::ElementsAre(SIG_CD_TEXT, SIG_CD_GRAPHIC, SIG_CD_PARAGRAPH));
  EXPECT_EQ(seen.records, body.records());
  std::remove(path.c_str());
  EXPECT_FALSE(body.WriteFile(tools_test::TempPath("missing/x.cd")));
}

TEST(CdBuilderBodyTest, ItemsAreAppendedToANote) {
  HostTestReset();
  DBHANDLE db = NULLHANDLE;
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(NSFDbCreate("mem:buildertest", DBCLASS_NOTEFILE, FALSE), NOERROR);
  ASSERT_EQ(NSFDbOpen("mem:buildertest", &db), NOERROR);
  ASSERT_EQ(NSFNoteCreate(db, &note), NOERROR);
  cb::Body body;
  body.Add(cb::Text("abc")).NewItem().Add(cb::Paragraph());
  EXPECT_EQ(body.AppendItems(note, "Body"), NOERROR);

  std::vector<Bytes> values;
  BLOCKID item = {};
  BLOCKID value = {};
  WORD type = 0;
  DWORD length = 0;
  STATUS status = NSFItemInfo(note, "Body", 4, &item, &type, &value, &length);
  while (status == NOERROR) {
    EXPECT_EQ(type, TYPE_COMPOSITE);
    const auto* data = static_cast<const BYTE*>(OSLockBlock(value));
    values.emplace_back(data, data + length);
    OSUnlockBlock(value);
    status = NSFItemInfoNext(note, item, "Body", 4, &item, &type, &value, &length);
  }
  EXPECT_THAT(values, ::testing::ElementsAre(Hex("01 00 85 FF 0B 00 01 00 00 0A 61 62 63 00"),
                                             Hex("01 00 81 02")));
  HostTestSetItemValueLimit(10);
  EXPECT_EQ(body.AppendItems(note, "Other"), ERR_HOST_VALUE_TOO_LARGE);
  NSFNoteClose(note);
  NSFDbClose(db);
  HostTestReset();
}

} // namespace
