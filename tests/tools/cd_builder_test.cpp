// The byte-level record builder and the record script that drives it: each
// record kind's stored bytes against hand-written hex (made by a builder
// call and by the script line that names the same fields), header forms and
// their limits, tails and header lengths, and record lists laid out as items
// (split as the body writer splits them), CD files and items of a note.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "host/host_testing.h"
#include "host/ods.h"
#include "host/status.h"
#include "tests/support/note_fixture.h"
#include "tests/tools/bytes_support.h"
#include "tools/cd_builder.h"
#include "tools/cd_script.h"

namespace {

using ::testing::ElementsAre;
using tools_test::Bytes;
using tools_test::Hex;
using tools_test::ShowHex;
namespace cb = cdbuild;

struct RecordCase {
  const char* script;          /* a script line making the record, or null */
  std::function<Bytes()> make; /* a builder call making it, or null */
  const char* hex;             /* empty: the builder refuses */
};

void ExpectRecords(const std::vector<RecordCase>& cases) {
  for (const RecordCase& c : cases) {
    const std::string what = c.script != nullptr ? c.script : c.hex;
    if (c.make) {
      const Bytes made = c.make();
      EXPECT_EQ(made, Hex(c.hex)) << what << "\n  made: " << ShowHex(made);
    }
    if (c.script != nullptr) {
      cb::Body body;
      std::string error;
      ASSERT_TRUE(cb::BuildScriptLine(c.script, &body, &error)) << what << ": " << error;
      ASSERT_EQ(body.records().size(), 1u) << what;
      EXPECT_EQ(body.records()[0], Hex(c.hex)) << what << "\n  made: " << ShowHex(body.records()[0]);
    }
  }
}

TEST(CdRecordTest, TextRunsAndParagraphDefinitions) {
  ExpectRecords({
      {"TEXT text=\"Hi\"", [] { return cb::Text("Hi"); }, "85 FF 0A 00 01 00 00 0A 48 69"},
      {"text face=4 attributes=bold+underline color=blue size=12 text=\"abc\"",
       [] { return cb::Text({.font = {4, 0x05, 4, 12}, .text = "abc"}); },
       "85 FF 0B 00 04 05 04 0C 61 62 63"},
      {"TEXT Attributes=ITALIC+Shadow+strikethrough+superscript+subscript", nullptr,
       "85 FF 08 00 01 BA 00 0A"},
      {"TEXT attributes=0x90 color=7 text=00FF", [] {
         return cb::Text({.font = {1, 0x90, 7, 10}, .text = std::string("\0\xFF", 2)});
       }, "85 FF 0A 00 01 90 07 0A 00 FF"},
      {"TEXT text=\"a b\" sig=BIDI_TEXT",
       [] { return cb::Text({.text = "a b", .signature = SIG_CD_BIDI_TEXT}); },
       "E4 FF 0B 00 01 00 00 0A 61 20 62"},
      {"TEXT text= sig=CDTEXT", [] { return cb::Text(""); }, "85 FF 08 00 01 00 00 0A"},
      {"PABDEF", [] { return cb::PabDef({}); },
       "82 FF 46 00 01 00 00 00 00 00 00 00 00 00 A0 05 00 00 A0 05 00 00 Z40 Z8"},
      {"PABDEF id=2 justify=center spacing=1 before=2 after=3 left=720 right=360 firstline=1080 "
       "tabs=-720,1440 flags=0x0100 tabtypes=0x12345678 flags2=0x0494 ext=1,2,3,4,5,6 "
       "extflags=1 flags3=0xA0B0C0D0",
       [] {
         return cb::PabDef({.id = 2, .justify = 3, .line_spacing = 1, .spacing_before = 2,
                            .spacing_after = 3, .left = 720, .right = 360, .first_line = 1080,
                            .tabs = {-720, 1440}, .flags = 0x0100, .tab_types = 0x12345678,
                            .flags2 = 0x0494, .extension = std::array<WORD, 6>{1, 2, 3, 4, 5, 6},
                            .ext_flags = 0x1, .flags3 = 0xA0B0C0D0});
       },
       "82 FF 5A 00 02 00 03 00 01 00 02 00 03 00 D0 02 68 01 38 04 02 00 30 FD A0 05 Z36 "
       "00 01 78 56 34 12 94 04 01 00 02 00 03 00 04 00 05 00 06 00 01 00 00 00 D0 C0 B0 A0"},
      // The extension words from byte 70; ext flags without words write zero
      // words first; flags3 alone makes the ext flags 1.
      {"PABDEF left=0 justify=4 ext=1440,0,1440,0,0,100",
       [] { return cb::PabDef({.justify = 4, .left = 0,
                               .extension = std::array<WORD, 6>{1440, 0, 1440, 0, 0, 100}}); },
       "82 FF 52 00 01 00 04 00 Z62 A0 05 00 00 A0 05 00 00 00 00 64 00"},
      {"PABDEF left=0 justify=full extflags=2",
       [] { return cb::PabDef({.justify = 2, .left = 0, .ext_flags = 0x2}); },
       "82 FF 56 00 01 00 02 00 Z62 Z12 02 00 00 00"},
      {"PABDEF left=0 flags3=0x44", [] { return cb::PabDef({.left = 0, .flags3 = 0x44}); },
       "82 FF 5A 00 01 00 Z64 Z12 01 00 00 00 44 00 00 00"},
      {nullptr, [] { return cb::PabDef({.left = 0, .tabs = std::vector<int16_t>(20, 1)}); },
       "82 FF 46 00 01 00 Z14 14 00 01 00 01 00 01 00 01 00 01 00 01 00 01 00 01 00 01 00 01 00 "
       "01 00 01 00 01 00 01 00 01 00 01 00 01 00 01 00 01 00 01 00 Z8"},
      {nullptr, [] { return cb::PabDef({.tabs = {720}, .tab_count = 0}); },
       "82 FF 46 00 01 00 Z8 A0 05 00 00 A0 05 00 00 D0 02 Z46"},
      {nullptr, [] { return cb::PabDef({.tabs = std::vector<int16_t>(21, 1)}); }, ""},
  });
}

TEST(CdRecordTest, StructureTablesAndFields) {
  ExpectRecords({
      {"PARAGRAPH", [] { return cb::Paragraph(); }, "81 02"},
      {"PABREF id=7", [] { return cb::PabRef(7); }, "83 04 07 00"},
      {"BEGIN sig=CDTEXT", [] { return cb::Begin(SIG_CD_TEXT); }, "DD 06 00 00 85 FF"},
      {"END sig=0xFFA9 version=1", [] { return cb::End(SIG_CD_HOTSPOTBEGIN, 1); },
       "DE 06 01 00 A9 FF"},
      {"BEGIN sig=hotspotbegin", nullptr, "DD 06 00 00 A9 FF"},
      {"TABLEBEGIN left=100 hspace=2 vspace=3 flags=8",
       [] { return cb::TableBegin({.left = 100, .horizontal_space = 2, .vertical_space = 3,
                                   .flags = 8}); },
       "A3 0E 64 00 00 00 00 00 02 00 03 00 08 00"},
      {"TABLEBEGIN nested=yes", [] { return cb::TableBegin({.nested = true}); }, "CF 0E Z12"},
      // Cell edges from the column unless given.
      {"TABLECELL row=1 column=2", [] { return cb::TableCell({.row = 1, .column = 2}); },
       "A4 12 01 02 40 0B E0 10 00 00 00 00 00 00 01 01 00 00"},
      {"TABLECELL row=3 left=10 right=20 borders=0x55 flags=2 v42border=0x1234 rowspan=2 "
       "colspan=3 background=5 nested=true",
       [] {
         return cb::TableCell({.row = 3, .column = 0, .left = 10, .right = 20, .borders = 0x55,
                               .flags = 0x02, .v42_border = 0x1234, .row_span = 2,
                               .column_span = 3, .background = 5, .nested = true});
       },
       "D0 12 03 00 0A 00 14 00 00 00 55 02 34 12 02 03 05 00"},
      {"TABLEEND nested=no", [] { return cb::TableEnd(); }, "A5 08 Z6"},
      {"TABLEEND nested=1", [] { return cb::TableEnd(true); }, "D1 08 Z6"},
      {"PRETABLEBEGIN", [] { return cb::PreTableBegin(); }, "FB FF 30 00 Z44"},
      {"PRETABLEBEGIN flags=0x10 rowdisplay=1 minrowheight=200 bodycolor=0x112233 "
       "tablecolor=0xABCDEF bordercolor=0x010203 name=\"T\"",
       [] {
         return cb::PreTableBegin({.flags = 0x10, .row_display = 1, .min_row_height = 200,
                                   .body_color = 0x00332211, .table_color = 0x00EFCDAB,
                                   .cell_border_color = {1, 1, 2, 3}, .name = "T"});
       },
       "FB FF 31 00 10 00 00 00 Z12 01 00 C8 00 Z4 11 22 33 00 AB CD EF 00 "
       "01 00 01 02 03 00 01 00 Z4 54"},
      {"FIELD name=\"Subject\"", [] { return cb::Field({.name = "Subject"}); },
       "8A FF 2F 00 00 00 00 05 00 00 Z10 01 00 00 0A Z8 07 00 Z6 53 75 62 6A 65 63 74"},
      // Every part in order: formulas, name, description, values.
      {"FIELD flags=0x0080 type=0x0300 delimiter=0x3006 face=4 attributes=1 color=2 size=9 "
       "taborder=4 default=0A0B translation=\"t\" validation=0C name=\"N\" description=\"D\" "
       "values=\"V\"",
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

TEST(CdRecordTest, PassThroughColoursHotspotsLinksAndRaw) {
  ExpectRecords({
      {"HTMLBEGIN", [] { return cb::HtmlBegin(); }, "CC FF 08 00 00 00 00 00"},
      {"PASSTHRUEND", [] { return cb::HtmlEnd(); }, "CD FF 08 00 00 00 00 00"},
      {"COLOR rgb=0xFF8000", [] { return cb::Color({.color = {1, 0xFF, 0x80, 0x00}}); },
       "D2 08 01 00 FF 80 00 00"},
      {"COLOR rgb=0xFF8000 flags=0x11 gradient=0x0000FF",
       [] { return cb::Color({.color = {0x11, 0xFF, 0x80, 0}, .gradient = cb::ColorValue{1, 0, 0, 0xFF}}); },
       "D2 0E 11 00 FF 80 00 00 01 00 00 00 FF 00"},
      {"HOTSPOTBEGIN type=1 flags=0x10000 data=\"ab\"",
       [] { return cb::HotspotBegin({.type = 1, .flags = 0x10000, .data = "ab"}); },
       "A9 FF 12 00 01 00 00 00 00 00 01 00 02 00 00 00 61 62"},
      {"HOTSPOTBEGIN sig=V4HOTSPOTBEGIN",
       [] { return cb::HotspotBegin({.signature = SIG_CD_V4HOTSPOTBEGIN}); }, "AD FF 10 00 Z12"},
      {"HOTSPOTEND", [] { return cb::HotspotEnd(); }, "AA 02"},
      {"HOTSPOTEND sig=0xAE", [] { return cb::HotspotEnd(SIG_CD_V4HOTSPOTEND); }, "AE 02"},
      {"LINK id=3", [] { return cb::Link(3); }, "91 FF 06 00 03 00"},
      // A short note link is zero-filled, the texts behind it; over 40 bytes is refused.
      {"DOCLINK notelink=0102 texts=\"x\"", [] { return cb::DocLink({1, 2}, {'x'}); },
       "92 FF 2D 00 01 02 Z38 78"},
      {nullptr, [] { return cb::DocLink(Bytes(41, 1)); }, ""},
      // The header form follows the signature; LSIG fields sit 2 bytes lower.
      {"RAW sig=PARAGRAPH", [] { return cb::Raw(0x81); }, "81 02"},
      {"RAW sig=0xFF99 data=\"a\"", [] { return cb::Raw(0xFF99, {'a'}); }, "99 FF 05 00 61"},
      {"RAW sig=0x99 data=0102", [] { return cb::Raw(SIG_CD_GRAPHIC, {1, 2}); },
       "99 00 08 00 00 00 01 02"},
      {nullptr, [] { return cb::Raw(SIG_CD_IMAGEHEADER); }, "7D 00 06 00 00 00"},
      {nullptr, [] { return cb::Raw(0x81, Bytes(252, 0)); }, "81 FE Z252"}, // the largest BSIG
      {nullptr, [] { return cb::Raw(0x81, Bytes(253, 0)); }, ""}, // 255 reads as a WSIG header
      {nullptr, [] { return cb::Raw(0x1281); }, ""},              // no header form
      {"HEX 0102 03:04", nullptr, "01 02 03 04"},
  });
  EXPECT_EQ(cb::Raw(0xFF99, Bytes(65531, 0)).size(), 65535u);
  EXPECT_TRUE(cb::Raw(0xFF99, Bytes(65532, 0)).empty());
  const Bytes large = cb::Raw(SIG_CD_IMAGESEGMENT, Bytes(70000, 0));
  ASSERT_EQ(large.size(), 70006u);
  EXPECT_EQ(Bytes(large.begin(), large.begin() + 6), Hex("7C 00 76 11 01 00"));
}

TEST(CdRecordTest, TailsHeaderLengthsAndSizedRecords) {
  ExpectRecords({
      {"PARAGRAPH tail=AABB", [] { return cb::WithTail(cb::Paragraph(), {0xAA, 0xBB}); },
       "81 04 AA BB"},
      {"TEXT text=\"a\" tail=\"b\" length=4", nullptr, "85 FF 04 00 01 00 00 0A 61 62"},
      {nullptr, [] { return cb::WithTail(cb::Raw(SIG_CD_GRAPHIC), {1}); }, "99 00 07 00 00 00 01"},
      {nullptr, [] { return cb::WithTail(cb::Raw(0x81, Bytes(250)), Bytes(3)); }, ""},
      {nullptr, [] { return cb::WithTail({}, {1}); }, ""},
      {"PARAGRAPH length=9", [] { return cb::WithHeaderLength(cb::Paragraph(), 9); }, "81 09"},
      {nullptr, [] { return cb::WithHeaderLength(cb::Paragraph(), 0); }, ""},
      {nullptr, [] { return cb::WithHeaderLength(cb::Paragraph(), 255); }, ""},
      {"TEXT text=\"\" length=0x100", [] { return cb::WithHeaderLength(cb::Text(""), 0x100); },
       "85 FF 00 01 01 00 00 0A"},
      {"HTMLEND length=0", [] { return cb::WithHeaderLength(cb::HtmlEnd(), 0); },
       "CD FF 00 00 00 00 00 00"},
      {nullptr, [] { return cb::WithHeaderLength(cb::HtmlEnd(), 0x10000); }, ""},
      {"RAW sig=0x99 length=0x12345678",
       [] { return cb::WithHeaderLength(cb::Raw(SIG_CD_GRAPHIC), 0x12345678); },
       "99 00 78 56 34 12"},
      {nullptr, [] { return cb::WithHeaderLength(Hex("85 FF 08"), 8); }, ""}, // a header cut short
      // Zero behind the header, or the pattern n * 7 + 1 from the record's start.
      {nullptr, [] { return cb::Sized(0x42, 5); }, "42 05 00 00 00"},
      {nullptr, [] { return cb::Sized(0xFF10, 7, cb::Fill::kPattern); }, "10 FF 07 00 1D 24 2B"},
      {nullptr, [] { return cb::Sized(SIG_CD_GRAPHIC, 8, cb::Fill::kPattern); },
       "99 00 08 00 00 00 2B 32"},
      {nullptr, [] { return Bytes(1, cb::Sized(0xFF10, 40, cb::Fill::kPattern)[37]); }, "04"},
      {nullptr, [] { return cb::Sized(0xFF10, 3); }, ""},
      {nullptr, [] { return cb::Sized(0x42, 255); }, ""},
      {nullptr, [] { return cb::Sized(0x1281, 4); }, ""},
      {nullptr, [] { return cb::SizedAs(CD_HEADER_BSIG, SIG_CD_GRAPHIC, 4, cb::Fill::kPattern); },
       "99 04 0F 16"},
      {nullptr, [] { return cb::SizedAs(CD_HEADER_LSIG, 0x42, 7); }, "42 00 07 00 00 00 00"},
      {nullptr, [] { return cb::SizedAs(CD_HEADER_BSIG, 0, 3); }, "00 03 00"},
  });
  Bytes record = cb::Sized(0xFF10, 10);
  cb::PutWord(record, 4, 0x1234);
  cb::PutDword(record, 6, 0xA1B2C3D4);
  EXPECT_EQ(record, Hex("10 FF 0A 00 34 12 D4 C3 B2 A1"));
  const FONTID font = cb::FontId({4, 0x05, 2, 12});
  const auto* bytes = reinterpret_cast<const BYTE*>(&font);
  EXPECT_EQ(Bytes(bytes, bytes + 4), Hex("04 05 02 0C"));
  EXPECT_EQ(cb::ParseHex("85ff 0A:00,01\n"), Hex("85 FF 0A 00 01"));
  EXPECT_EQ(cb::ParseHex(""), Bytes{});
  for (const char* bad : {"8", "8 5", "0g", "0x10"})
    EXPECT_EQ(cb::ParseHex(bad), std::nullopt) << bad;
}

/* ---- record lists ---- */

std::vector<size_t> ItemSizes(const cb::Body& body) {
  std::vector<size_t> sizes;
  for (const Bytes& item : body.Items())
    sizes.push_back(item.size());
  return sizes;
}

TEST(CdBodyTest, OddRecordsArePaddedAndItemsSplitBeforePassingTheWritersLimit) {
  cb::Body body;
  body.Add(cb::Text("abc")).Add(cb::Paragraph());
  ASSERT_TRUE(body.ok());
  EXPECT_EQ(body.RecordBytes(), Hex("85 FF 0B 00 01 00 00 0A 61 62 63 00 81 02"));
  EXPECT_EQ(body.FileContent(), Hex("01 00 85 FF 0B 00 01 00 00 0A 61 62 63 00 81 02"));
  EXPECT_THAT(body.Items(), ElementsAre(body.RecordBytes()));
  body.Add(cb::Raw(0x81, Bytes(300)));
  EXPECT_FALSE(body.ok()) << "a refused record fails the body";
  EXPECT_EQ(body.records().size(), 2u);

  cb::Body many;
  for (int count = 0; count < 100; ++count)
    many.Add(cb::Raw(0xFF99, Bytes(996))); // 1000 bytes each
  EXPECT_THAT(ItemSizes(many), ElementsAre(49000, 49000, 2000));
  const struct {
    Bytes first;
    Bytes second;
    std::vector<size_t> sizes;
  } cases[] = {
      {cb::Raw(0xFF99, Bytes(49018)), cb::Paragraph(), {49022, 2}}, // filled to the byte
      {cb::Raw(0xFF99, Bytes(49015)), cb::Paragraph(), {49022}},    // the pad stays in the item
      {cb::Raw(0xFF99, Bytes(49015)), cb::PabRef(1), {49020, 4}},
      {cb::Raw(0xFF99, Bytes(60000)), cb::Paragraph(), {60004, 2}}, // a large record alone
  };
  for (const auto& c : cases) {
    cb::Body split;
    split.Add(c.first).Add(c.second);
    EXPECT_EQ(ItemSizes(split), c.sizes) << c.first.size();
  }
  cb::Body asked;
  asked.NewItem().Add(cb::Paragraph()).NewItem().Add(cb::PabRef(1)).Add(cb::Paragraph());
  EXPECT_THAT(asked.Items(), ElementsAre(Hex("81 02"), Hex("83 04 01 00 81 02")));
  cb::Body empty;
  EXPECT_THAT(empty.Items(), ElementsAre(Bytes{}));
  EXPECT_EQ(empty.FileContent(), Hex("01 00"));
}

TEST(CdBodyTest, FilesAndNoteItemsAreWrittenAndReadBackByTheHost) {
  cb::Body body;
  body.Add(cb::Text("abc")).Add(cb::Raw(SIG_CD_GRAPHIC, Bytes(24))).NewItem().Add(cb::Paragraph());
  const std::string path = tools_test::TempPath("builder_test.cd");
  ASSERT_TRUE(body.WriteFile(path));
  std::vector<Bytes> seen;
  const STATUS status = EnumCompositeFile(
      path.c_str(),
      [](char* record, WORD, DWORD length, void* context) -> STATUS {
        static_cast<std::vector<Bytes>*>(context)->emplace_back(record, record + length);
        return NOERROR;
      },
      &seen);
  std::remove(path.c_str());
  EXPECT_EQ(status, NOERROR);
  EXPECT_EQ(seen, body.records());
  EXPECT_FALSE(body.WriteFile(tools_test::TempPath("missing/x.cd")));

  HostTestReset();
  DBHANDLE db = NULLHANDLE;
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(note_testing::CreateDatabase("mem:buildertest", &db), NOERROR);
  ASSERT_EQ(NSFNoteCreate(db, &note), NOERROR);
  EXPECT_EQ(body.AppendItems(note, "Body"), NOERROR);
  const std::vector<Bytes> items = body.Items();
  EXPECT_THAT(note_testing::ItemValues(note, "Body"),
              ElementsAre(note_testing::Value(items[0]), note_testing::Value(items[1])));
  EXPECT_EQ(items[1], Hex("81 02"));
  HostTestSetItemValueLimit(10);
  EXPECT_EQ(body.AppendItems(note, "Other"), ERR_HOST_VALUE_TOO_LARGE);
  NSFNoteClose(note);
  NSFDbClose(db);
  HostTestReset();
}

} // namespace
