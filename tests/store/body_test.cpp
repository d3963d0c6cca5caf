// A rich-text body in memory: loading the items of a name into a record
// list (ordinals, padding, side data of tables, images and text), writing a
// list back as items, damaged items, records too large to keep, memory
// failures and the record iterator, on real host notes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "host/cdrecords.h"
#include "host/host_testing.h"
#include "host/nls.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osenv.h"
#include "host/status.h"
#include "store/body.h"
#include "store/messages.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/tracked_memory_testing.h"
#include "tests/support/note_fixture.h"
#include "tools/cd_builder.h"
#include "velko/status.h"

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

using Bytes = std::vector<BYTE>;

constexpr char kDbPath[] = "mem:bodytest";

/* ---- stored records ---- */

/* Records of the length, header included, under the header form named
 * (whatever the signature asks for, so that damage can be written); the
 * bytes behind the header follow the builder's pattern, so that a
 * conversion that moves or drops a byte shows. */
Bytes Bsig(WORD signature, DWORD length) {
  return cdbuild::SizedAs(CD_HEADER_BSIG, signature, length, cdbuild::Fill::kPattern);
}
Bytes Wsig(WORD signature, DWORD length) {
  return cdbuild::SizedAs(CD_HEADER_WSIG, signature, length, cdbuild::Fill::kPattern);
}
Bytes Lsig(WORD signature, DWORD length) {
  return cdbuild::SizedAs(CD_HEADER_LSIG, signature, length, cdbuild::Fill::kPattern);
}

/* A word-length record of its header alone whose length field says less. */
Bytes ShortWsig(WORD signature, DWORD length) {
  return cdbuild::WithHeaderLength(Wsig(signature, WSIG_HEADER_SIZE), length);
}

Bytes Text(const std::string& text) { return cdbuild::Text(text); }

/* A cell at the row and column, its other bytes patterned. */
Bytes Cell(BYTE row, BYTE column, WORD signature = SIG_CD_TABLECELL) {
  Bytes record = Bsig(signature, sizeof(CDTABLECELL));
  record[2] = row;
  record[3] = column;
  return record;
}

Bytes TableBegin(WORD signature = SIG_CD_TABLEBEGIN) {
  return Bsig(signature, sizeof(CDTABLEBEGIN));
}
Bytes TableEnd(WORD signature = SIG_CD_TABLEEND) { return Bsig(signature, sizeof(CDTABLEEND)); }
Bytes PreTable() { return Wsig(SIG_CD_PRETABLEBEGIN, sizeof(CDPRETABLEBEGIN)); }
/* CDGRAPHIC: 32 bytes in host form, 30 stored (its LSIG header has no pad). */
Bytes Graphic() { return Lsig(SIG_CD_GRAPHIC, sizeof(CDGRAPHIC) - 2); }
Bytes BitmapHeader() { return Lsig(SIG_CD_BITMAPHEADER, sizeof(CDBITMAPHEADER) - 2); }

Bytes Bracket(WORD signature, WORD bracketed) {
  Bytes record = Bsig(signature, sizeof(CDBEGINRECORD));
  cdbuild::PutWord(record, 4, bracketed);
  return record;
}

using note_testing::Records;
using note_testing::Value;

std::string HostText(STATUS status) {
  char text[1100] = {};
  OSLoadString(NULLHANDLE, status, text, sizeof text);
  return text;
}

std::string OutOfMemoryLine(const std::string& where) {
  return "Out of memory at " + where + ": " + HostText(VELKO_ERR_MEMORY);
}

/* ---- fixture ---- */

class BodyTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    HostTestCaptureLog(true);
    handles_before_ = HostTestLiveHandles();
    ASSERT_EQ(note_testing::CreateDatabase(kDbPath, &db_), NOERROR);
    ASSERT_EQ(NSFNoteCreate(db_, &note_), NOERROR);
    session_ = new LSXLsiSession;
    item_ = note_testing::BindItem(session_, note_, "Body");
  }

  void TearDown() override {
    for (body_context* context : contexts_) {
      CleanupBodyContext(session_, context);
      delete context;
    }
    note_testing::UnbindItem(item_);
    NSFNoteClose(note_);
    NSFDbClose(db_);
    delete session_;
    debug_level = 0;
    EXPECT_EQ(HostTestLiveHandles(), handles_before_) << HostTestLeakReport();
    HostTestReset();
  }

  void Append(const char* name, const Bytes& records) {
    ASSERT_EQ(note_testing::AppendRecords(note_, name, records), NOERROR);
  }

  /* Every item value of the name, type word first. */
  std::vector<Bytes> Values(const char* name) { return note_testing::ItemValues(note_, name); }

  body_context* Load(int skipEnvelopes = 0, int plainText = 0, int entityText = 0) {
    body_context* context = StoreItemsAndRecords(item_, skipEnvelopes, 0, nullptr, plainText,
                                                 entityText, NULLHANDLE, nullptr);
    if (context != nullptr)
      contexts_.push_back(context);
    return context;
  }

  /* "Body" replaced by items of the records, one list each, and loaded
   * afresh with the log cleared. */
  body_context* Reload(const std::vector<std::vector<Bytes>>& items) {
    NSFItemDelete(note_, "Body", 4);
    HostTestClearLog();
    for (const std::vector<Bytes>& records : items)
      Append("Body", Records(records));
    return Load();
  }

  /* The load failed, marked the item incomplete and kept these texts. */
  void ExpectIncomplete(body_context* context, const std::vector<std::string>& kept) {
    EXPECT_EQ(context->load_status, VELKO_ERR_FAILED);
    EXPECT_EQ(item_->internal->incomplete_load, VELKO_ERR_FAILED);
    EXPECT_THAT(Describe(context), ElementsAreArray(kept));
  }

  static std::vector<record_storage*> Nodes(body_context* context) {
    std::vector<record_storage*> nodes;
    for (record_storage* node = GetNextCDRecord(context, nullptr); node != nullptr;
         node = GetNextCDRecord(context, node))
      nodes.push_back(node);
    return nodes;
  }

  static std::vector<body_item*> Items(body_context* context) {
    std::vector<body_item*> items;
    for (body_item* item = context->items; item != nullptr; item = item->next)
      items.push_back(item);
    return items;
  }

  static Bytes NodeBytes(const record_storage* node) {
    return Bytes(node->data, node->data + node->length);
  }

  /* The text of each text node, "<sig>" for other records. */
  static std::vector<std::string> Describe(body_context* context) {
    return note_testing::Describe(context->records);
  }

  static std::vector<DWORD> Ordinals(body_context* context) {
    std::vector<DWORD> ordinals;
    for (record_storage* node : Nodes(context))
      ordinals.push_back(node->ordinal);
    return ordinals;
  }

  std::vector<std::string> LogLines() { return HostTestLogLines(); }

  /* Blocks of the session's tracked pool still handed out. */
  size_t BlocksInUse() const {
    size_t count = 0;
    for (velko_allocation* block = session_->internal->pool; block; block = block->next)
      count += block->InUse() ? 1 : 0;
    return count;
  }

  DBHANDLE db_ = NULLHANDLE;
  NOTEHANDLE note_ = NULLHANDLE;
  LSXLsiSession* session_ = nullptr;
  VelkoRTItem* item_ = nullptr;
  std::vector<body_context*> contexts_;
  size_t handles_before_ = 0;
};

/* ---- headers ---- */

struct HeaderCase {
  const char* name;
  Bytes bytes;
  STATUS status;
  DWORD length;
  WORD signature;
};

TEST_F(BodyTest, GetBodyRecordReadsEachHeaderFormAndRefusesZeroes) {
  const HeaderCase cases[] = {
      {"byte length", {0x81, 0x02}, NOERROR, 2, 0x81},
      {"word length", {0x85, 0xFF, 0x0A, 0x00}, NOERROR, 10, 0xFF85},
      {"double-word length", {0x99, 0x00, 0x1E, 0x01, 0x00, 0x00}, NOERROR, 0x11E, 0x99},
      {"word length 0", {0x85, 0xFF, 0x00, 0x00}, VELKO_ERR_ITEM_NOT_FOUND, 0, 0xFF85},
      {"double-word signature 0", {0x00, 0x00, 0x06, 0, 0, 0}, VELKO_ERR_ITEM_NOT_FOUND, 6, 0},
      {"byte signature 0", {0x00, 0x04}, VELKO_ERR_ITEM_NOT_FOUND, 4, 0},
  };
  for (const HeaderCase& c : cases) {
    DWORD length = 0xDEAD;
    WORD signature = 0xBEEF;
    EXPECT_EQ(GetBodyRecord(reinterpret_cast<const char*>(c.bytes.data()), &length, &signature),
              c.status)
        << c.name;
    EXPECT_EQ(length, c.length) << c.name;
    EXPECT_EQ(signature, c.signature) << c.name;
  }
}

/* ---- nodes and the iterator ---- */

TEST_F(BodyTest, InsertingNodesMendsBothNeighbours) {
  record_storage first, second, third, fourth;
  first.InsertRecordAfter(&third);
  first.InsertRecordAfter(&second);
  EXPECT_EQ(first.next, &second);
  EXPECT_EQ(second.previous, &first);
  EXPECT_EQ(second.next, &third);
  EXPECT_EQ(third.previous, &second);

  third.InsertRecordBefore(&fourth);
  EXPECT_EQ(second.next, &fourth);
  EXPECT_EQ(fourth.previous, &second);
  EXPECT_EQ(fourth.next, &third);
  EXPECT_EQ(third.previous, &fourth);
  EXPECT_EQ(third.next, nullptr);

  body_context context;
  context.records = &first;
  EXPECT_EQ(GetNextCDRecord(&context, nullptr), &first);
  EXPECT_EQ(GetNextCDRecord(&context, &fourth), &third);
  EXPECT_EQ(GetNextCDRecord(&context, &third), nullptr);
  EXPECT_EQ(GetNextCDRecord(nullptr, &first), nullptr);
  EXPECT_EQ(GetPreviousCDRecord(&context, &third), &fourth);
  EXPECT_EQ(GetPreviousCDRecord(&context, &first), nullptr);
  EXPECT_EQ(GetPreviousCDRecord(&context, nullptr), nullptr);
  EXPECT_EQ(GetPreviousCDRecord(nullptr, &third), nullptr);
}

TEST_F(BodyTest, CreateRecordDataBuildsTheRecordBehindTheNode) {
  alignas(record_storage) char space[sizeof(record_storage) + 16];
  std::memset(space, 0x5A, sizeof space);
  auto* node = new (space) record_storage;
  node->ordinal = 4;
  node->CreateRecordData(SIG_CD_PABREFERENCE, 4, 12);
  EXPECT_EQ(node->signature, SIG_CD_PABREFERENCE);
  EXPECT_EQ(node->length, 4u);
  EXPECT_EQ(node->ordinal, 5u);
  EXPECT_EQ(node->flags, RECORD_OWNS_DATA);
  EXPECT_EQ(node->data, space + sizeof(record_storage));
  EXPECT_EQ(Bytes(node->data, node->data + 13), Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x5A}));
  node->~record_storage();
}

/* ---- loading ---- */

TEST_F(BodyTest, LoadRefusesMissingItemNoteOrName) {
  EXPECT_EQ(StoreItemsAndRecords(nullptr, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr), nullptr);
  EXPECT_EQ(StoreItemsAndRecords(item_, 0, 0, nullptr, 0, 0, note_, nullptr), nullptr);
  EXPECT_EQ(StoreItemsAndRecords(item_, 0, 0, nullptr, 0, 0, note_, ""), nullptr);
  delete[] item_->item_name;
  item_->item_name = nullptr;
  EXPECT_EQ(StoreItemsAndRecords(item_, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr), nullptr);
  item_->note = NULLHANDLE;
  EXPECT_EQ(StoreItemsAndRecords(item_, 0, 0, nullptr, 0, 0, NULLHANDLE, "Body"), nullptr);
}

TEST_F(BodyTest, MissingItemLoadsAnEmptyBody) {
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->load_status, NOERROR);
  EXPECT_EQ(context->records, nullptr);
  EXPECT_EQ(context->items, nullptr);
  EXPECT_EQ(context->note, note_);
  EXPECT_STREQ(context->item_name, "Body");
}

TEST_F(BodyTest, TextItemLoadsAsOneTextRecordWithEntriesJoinedBySemicolons) {
  ASSERT_EQ(NSFItemAppendTextList(note_, "Body", "alpha", 5, TRUE), NOERROR);
  ASSERT_EQ(NSFItemAppendTextList(note_, "Body", "beta", 4, TRUE), NOERROR);
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->load_status, NOERROR);
  std::vector<record_storage*> nodes = Nodes(context);
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0]->signature, SIG_CD_TEXT);
  EXPECT_EQ(nodes[0]->ordinal, 1u);
  EXPECT_EQ(nodes[0]->length, 18u);
  EXPECT_EQ(nodes[0]->flags, RECORD_IN_ARENA);
  const Bytes header(item_->internal->default_text_header,
                     item_->internal->default_text_header + 8);
  Bytes expected = header[0] == 0x85 ? header : Bytes({0x85, 0xFF, 8, 0, 1, 0, 0, 10});
  expected[2] = 18;
  for (char c : std::string("alpha;beta"))
    expected.push_back(static_cast<BYTE>(c));
  EXPECT_EQ(NodeBytes(nodes[0]), expected);
  std::vector<body_item*> items = Items(context);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0]->length, 18u);
  EXPECT_EQ(items[0]->item_number, 0);
  EXPECT_EQ(items[0]->first_ordinal, 1u);
  EXPECT_EQ(items[0]->last_ordinal, 1u);
}

TEST_F(BodyTest, TextTooLongForOneRecordLoadsForReadingButIsIncomplete) {
  const std::string text(64375, 'x');
  ASSERT_EQ(NSFItemSetText(note_, "Body", text.data(), static_cast<WORD>(text.size())), NOERROR);
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->load_status, VELKO_ERR_FAILED);
  EXPECT_EQ(item_->internal->incomplete_load, VELKO_ERR_FAILED);
  ASSERT_EQ(Nodes(context).size(), 1u);
  EXPECT_EQ(Nodes(context)[0]->length, 64383u);
  EXPECT_THAT(LogLines(), Contains("Item Body holds 64375 bytes of text, more than one text "
                                   "record can hold: it can be read but not written back"));
}

TEST_F(BodyTest, TypeWordAloneGivesAnEmptyListAndOneItem) {
  Append("Body", {});
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->load_status, NOERROR);
  EXPECT_EQ(context->records, nullptr);
  std::vector<body_item*> items = Items(context);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0]->item_number, 0);
  EXPECT_EQ(items[0]->first_ordinal, 1u);
  EXPECT_EQ(items[0]->length, 2u);
}

TEST_F(BodyTest, OddRecordIsPaddedAndTheNextIsReadEightBytesOn) {
  const Bytes odd = Bsig(0x42, 7);
  Append("Body", Records({odd, Text("next")}));
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->load_status, NOERROR);
  std::vector<record_storage*> nodes = Nodes(context);
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(nodes[0]->signature, 0x42);
  EXPECT_EQ(nodes[0]->length, 7u);
  EXPECT_EQ(nodes[0]->stored_length, 7u);
  EXPECT_EQ(NodeBytes(nodes[0]), odd);
  EXPECT_EQ(nodes[0]->data[7], 0);
  EXPECT_THAT(Describe(context), ElementsAre("<0042>", "next"));
}

TEST_F(BodyTest, MissingPadAfterTheLastOddRecordIsTolerated) {
  Bytes records = Records({Text("ab"), Bsig(0x42, 7)});
  records.pop_back();
  Append("Body", records);
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->load_status, NOERROR);
  EXPECT_THAT(Describe(context), ElementsAre("ab", "<0042>"));
}

TEST_F(BodyTest, ItemsOfOneNameLoadAsOneListWithOrdinalsContinuing) {
  Append("Body", Records({Text("a"), Text("b")}));
  Append("Other", Records({Text("not mine")}));
  Append("Body", Records({Text("c"), Text("d"), Text("e")}));
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->load_status, NOERROR);
  EXPECT_THAT(Describe(context), ElementsAre("a", "b", "c", "d", "e"));
  EXPECT_THAT(Ordinals(context), ElementsAre(1u, 2u, 3u, 4u, 5u));
  std::vector<record_storage*> nodes = Nodes(context);
  for (size_t at = 1; at < nodes.size(); ++at)
    EXPECT_EQ(nodes[at]->previous, nodes[at - 1]);
  std::vector<body_item*> items = Items(context);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0]->item_number, 0);
  EXPECT_EQ(items[0]->first_ordinal, 1u);
  EXPECT_EQ(items[0]->last_ordinal, 2u);
  EXPECT_EQ(items[1]->item_number, 1);
  EXPECT_EQ(items[1]->first_ordinal, 3u);
  EXPECT_EQ(items[1]->last_ordinal, 5u);
  EXPECT_EQ(Bytes(items[1]->buffer, items[1]->buffer + items[1]->length),
            Values("Body")[1]);
  EXPECT_EQ(context->items_tail, items[1]);
}

TEST_F(BodyTest, NamedNoteAndItemLoadWithoutTouchingTheItemsOwnState) {
  Append("Other", Records({Text("x"), ShortWsig(0xFF10, 3)}));
  item_->internal->incomplete_load = 1234;
  body_context* context =
      StoreItemsAndRecords(item_, 0, 0, nullptr, 0, 0, note_, "Other");
  ASSERT_NE(context, nullptr);
  contexts_.push_back(context);
  EXPECT_EQ(context->load_status, VELKO_ERR_FAILED);
  EXPECT_STREQ(context->item_name, "Other");
  EXPECT_EQ(item_->internal->incomplete_load, 1234);
}

TEST_F(BodyTest, GivenContextIsEmptiedAndRefilled) {
  Append("Body", Records({Text("a"), Graphic(), Text("b")}));
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  const size_t held = BlocksInUse();
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(StoreItemsAndRecords(item_, 0, 0, context, 0, 0, NULLHANDLE, nullptr), context);
    EXPECT_THAT(Describe(context), ElementsAre("a", "<0099>", "b"));
    EXPECT_EQ(Items(context).size(), 1u);
    EXPECT_EQ(BlocksInUse(), held);
  }
  CleanupBodyContext(session_, context);
  EXPECT_EQ(context->records, nullptr);
  EXPECT_EQ(context->items, nullptr);
  EXPECT_EQ(context->value, nullptr);
  /* What stays held is the item's conversion buffers. */
  EXPECT_EQ(BlocksInUse(), 1u);
}

/* ---- writing back ---- */

TEST_F(BodyTest, LoadThenSaveReproducesTheStoredBytes) {
  Bytes definition = Wsig(SIG_CD_PABDEFINITION, sizeof(CDPABDEFINITION) - 2);
  Bytes extended = Wsig(SIG_CD_PABDEFINITION, sizeof(CDPABDEFINITION) - 2 + 12);
  const std::vector<Bytes> first = {
      definition, Text("Hello"), Bsig(0x42, 7), Wsig(0xFF10, 9), Graphic(), BitmapHeader(),
      PreTable(), TableBegin(), Cell(0, 0), TableEnd(), extended, Bracket(SIG_CD_BEGIN, 0xFF85)};
  const std::vector<Bytes> second = {Text("World!"), Wsig(0xFF33, 11), Bsig(0x7E, 3)};
  Bytes firstRecords, secondRecords;
  for (const Bytes& record : first)
    firstRecords = Records({firstRecords, record});
  for (const Bytes& record : second)
    secondRecords = Records({secondRecords, record});
  Append("Body", firstRecords);
  Append("Body", secondRecords);

  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  ASSERT_EQ(context->load_status, NOERROR);
  ASSERT_EQ(Nodes(context).size(), first.size() + second.size());
  EXPECT_EQ(Nodes(context)[0]->length, sizeof(CDPABDEFINITION));
  EXPECT_EQ(Nodes(context)[4]->length, sizeof(CDGRAPHIC));
  EXPECT_EQ(Nodes(context)[4]->stored_length, sizeof(CDGRAPHIC) - 2);

  context->item_name = "Copy";
  ASSERT_EQ(SaveBodyItems(context, item_), NOERROR);
  EXPECT_THAT(Values("Copy"), ElementsAre(Value(Records({firstRecords, secondRecords}))));
}

TEST_F(BodyTest, SavingSmallRecordsStartsAnItemBeforeOneWouldPassTheSplit) {
  /* 193 records of 254 bytes fill an item to exactly 49022 bytes. */
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  std::vector<Bytes> records;
  for (int count = 0; count < 394; ++count) {
    records.push_back(Wsig(0xFF10, 254));
    records.back()[4] = static_cast<BYTE>(count);
  }
  record_storage* last = nullptr;
  for (Bytes& record : records) {
    auto* node = new record_storage;
    node->signature = 0xFF10;
    node->length = static_cast<DWORD>(record.size());
    node->data = reinterpret_cast<char*>(record.data());
    if (last == nullptr)
      context->records = node;
    else
      last->InsertRecordAfter(node);
    last = node;
  }
  context->item_name = "Copy";
  ASSERT_EQ(SaveBodyItems(context, item_), NOERROR);
  std::vector<Bytes> values = Values("Copy");
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0].size(), 2u + kBodyItemSplit);
  EXPECT_EQ(values[1].size(), 2u + kBodyItemSplit);
  EXPECT_EQ(values[2].size(), 2u + 8 * 254);
  EXPECT_EQ(values[1][2 + 4], 193);
  EXPECT_EQ(values[2][2 + 4], static_cast<BYTE>(386));

  body_context* reloaded =
      StoreItemsAndRecords(item_, 0, 0, nullptr, 0, 0, note_, "Copy");
  ASSERT_NE(reloaded, nullptr);
  contexts_.push_back(reloaded);
  EXPECT_EQ(reloaded->load_status, NOERROR);
  EXPECT_EQ(Nodes(reloaded).size(), 394u);
  std::vector<body_item*> items = Items(reloaded);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[2]->first_ordinal, 387u);
  EXPECT_EQ(items[2]->last_ordinal, 394u);
}

TEST_F(BodyTest, RecordLargerThanTheSplitIsAnItemOfItsOwn) {
  const Bytes big = Wsig(0xFF10, 50001);
  Append("Body", Records({Text("before"), big}));
  Append("Body", Records({Text("after")}));
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  ASSERT_EQ(context->load_status, NOERROR);
  context->item_name = "Copy";
  ASSERT_EQ(SaveBodyItems(context, item_), NOERROR);
  EXPECT_THAT(Values("Copy"), ElementsAre(Value(Records({Text("before")})),
                                          Value(Records({big})), Value(Records({Text("after")}))));
}

TEST_F(BodyTest, SavingAnEmptyListWritesNothing) {
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(SaveBodyItems(context, item_), NOERROR);
  EXPECT_THAT(Values("Body"), IsEmpty());
  EXPECT_EQ(SaveBodyItems(nullptr, item_), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(SaveBodyItems(context, nullptr), VELKO_ERR_BAD_ARGUMENT);
}

TEST_F(BodyTest, SaveReportsTheFirstFailureAndStopsThere) {
  Append("Body", Records({Text("a"), Wsig(0xFF10, 30000), Wsig(0xFF10, 30100), Text("b")}));
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  ASSERT_EQ(context->load_status, NOERROR);
  context->item_name = "Copy";

  HostTestSetItemValueLimit(20000);
  EXPECT_EQ(SaveBodyItems(context, item_), ERR_HOST_VALUE_TOO_LARGE);
  EXPECT_THAT(Values("Copy"), IsEmpty());

  HostTestSetItemValueLimit(30050);
  EXPECT_EQ(SaveBodyItems(context, item_), ERR_HOST_VALUE_TOO_LARGE);
  EXPECT_EQ(Values("Copy").size(), 1u);
  HostTestSetItemValueLimit(0);

  HostTestFailAllocation(1);
  EXPECT_EQ(SaveBodyItems(context, item_), ERR_MEMORY);
  HostTestFailAllocation(0);
}

TEST_F(BodyTest, SaveRefusesARecordThatCannotBeConverted) {
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  Bytes huge = Wsig(0xFF10, kLargestConvertedRecord + 1);
  auto* node = new record_storage;
  node->signature = 0xFF10;
  node->length = static_cast<DWORD>(huge.size());
  node->data = reinterpret_cast<char*>(huge.data());
  context->records = node;
  context->item_name = "Copy";
  EXPECT_EQ(SaveBodyItems(context, item_), VELKO_ERR_FAILED);
  EXPECT_THAT(Values("Copy"), IsEmpty());
}

/* ---- damaged items ---- */

struct DamageCase {
  const char* name;
  Bytes bytes;
};

std::vector<DamageCase> DamageCases() {
  Bytes pastValue = Wsig(0xFF10, 10);
  pastValue[2] = 200;
  Bytes belowHeader = Wsig(0xFF10, 10);
  belowHeader[2] = 3;
  Bytes zeroLength = Wsig(0xFF10, 10);
  zeroLength[2] = 0;
  Bytes longZero = Lsig(0, 10);
  Bytes byteZero = Bsig(0, 10);
  Bytes graphicAsByte = Bsig(SIG_CD_GRAPHIC, 30);
  Bytes byteAsLong = Lsig(0x42, 10);
  Bytes shortCell = Bsig(SIG_CD_TABLECELL, 4);
  Bytes shortText = Wsig(SIG_CD_TEXT, 6);
  return {
      {"length past the value", pastValue},
      {"length below the header", belowHeader},
      {"length 0", zeroLength},
      {"double-word signature 0", longZero},
      {"byte signature 0", byteZero},
      {"graphic with a byte-length header", graphicAsByte},
      {"byte-length signature with a double-word header", byteAsLong},
      {"cell shorter than its fixed part", shortCell},
      {"text shorter than its fixed part", shortText},
  };
}

TEST_F(BodyTest, DamagedFirstItemEndsTheLoadThere) {
  for (const DamageCase& c : DamageCases()) {
    SCOPED_TRACE(c.name);
    body_context* context = Reload({{Text("one"), c.bytes, Text("two")}, {Text("three")}});
    ASSERT_NE(context, nullptr);
    ExpectIncomplete(context, {"one"});
    EXPECT_EQ(Items(context).size(), 1u);
    EXPECT_THAT(LogLines(), ElementsAre("Rich text item Body number 0 is damaged at offset 14: "
                                        "the rest of it was not loaded"));
  }
}

TEST_F(BodyTest, DamagedLaterItemEndsOnlyThatItem) {
  for (const DamageCase& c : DamageCases()) {
    SCOPED_TRACE(c.name);
    body_context* context =
        Reload({{Text("zero")}, {Text("one"), c.bytes, Text("two")}, {Text("three")}});
    ASSERT_NE(context, nullptr);
    ExpectIncomplete(context, {"zero", "one", "three"});
    std::vector<body_item*> items = Items(context);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[2]->item_number, 2);
    EXPECT_EQ(items[2]->first_ordinal, 3u);
    EXPECT_THAT(LogLines(), ElementsAre("Rich text item Body number 1 is damaged at offset 14: "
                                        "the rest of it was not loaded"));
  }
}

TEST_F(BodyTest, HeaderCutOffByTheEndOfTheValueIsDamage) {
  Append("Body", Records({Text("one"), Bytes({0x85, 0xFF, 0x08})}));
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->load_status, VELKO_ERR_FAILED);
  EXPECT_THAT(Describe(context), ElementsAre("one"));
}

TEST_F(BodyTest, LaterItemThatIsNotRichTextIsLeftOutAndReported) {
  Append("Body", Records({Text("zero")}));
  ASSERT_EQ(NSFItemAppend(note_, 0, "Body", 4, TYPE_TEXT, "plain", 5), NOERROR);
  Append("Body", Records({Text("two")}));
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->load_status, VELKO_ERR_FAILED);
  EXPECT_THAT(Describe(context), ElementsAre("zero", "two"));
  EXPECT_THAT(LogLines(), Contains("Rich text item Body number 1 is not rich text: it was not "
                                   "loaded"));
}

TEST_F(BodyTest, RecordTooLargeToWriteBackEndsTheLoad) {
  struct Case {
    const char* name;
    Bytes record;
    const char* line;
  };
  const Case cases[] = {
      {"stored form over the limit", Wsig(0xFF10, kLargestConvertedRecord + 1),
       "Rich text item Body number 0: record 0xFF10 of 64383 bytes at offset 14 cannot be "
       "converted; the rest of the body was not loaded"},
      {"host form over the limit", Lsig(SIG_CD_GRAPHIC, kLargestConvertedRecord - 1),
       "Rich text item Body number 0: record 0x0099 of 64381 bytes at offset 14 cannot be "
       "converted; the rest of the body was not loaded"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    body_context* context = Reload({{Text("one"), c.record, Text("two")}, {Text("three")}});
    ASSERT_NE(context, nullptr);
    ExpectIncomplete(context, {"one"});
    EXPECT_THAT(LogLines(), ElementsAre(c.line));
  }
}

TEST_F(BodyTest, CompleteReloadClearsTheIncompleteMark) {
  Append("Body", Records({Text("one"), ShortWsig(0xFF10, 3)}));
  ASSERT_NE(Load(), nullptr);
  EXPECT_EQ(item_->internal->incomplete_load, VELKO_ERR_FAILED);
  NSFItemDelete(note_, "Body", 4);
  Append("Body", Records({Text("one")}));
  ASSERT_NE(Load(), nullptr);
  EXPECT_EQ(item_->internal->incomplete_load, NOERROR);
}

TEST_F(BodyTest, TraceLinesAtDebugLevelThree) {
  Append("Body", Records({Text("ab"), ShortWsig(0xFF10, 2)}));
  debug_level = 3;
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  EXPECT_THAT(LogLines(),
              ElementsAre("SIAR - IN", "SIAR - Step 1", "SIAR - Step 2", "SIAR - Step 3",
                          "SBR - Step 2: Remaining length=14",
                          "SBR - Step 35 (Oot): Remaining length=14 record_length=10 "
                          "record_type=65413 data_=2",
                          "GSBR - Error: record_length=2 record_type=65296 data_=12",
                          "Rich text item Body number 0 is damaged at offset 12: the rest of it "
                          "was not loaded",
                          "SIAR - Step 4", "SIAR - OUT"));
}

/* ---- side data ---- */

TEST_F(BodyTest, TableSideDataCountsCellsAndPointsAtBeginAndPreTable) {
  Append("Body", Records({PreTable(), TableBegin(), Cell(0, 0), Cell(0, 4), Cell(2, 1),
                          TableEnd(), Cell(0, 0, SIG_CD_NESTEDTABLECELL)}));
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  ASSERT_EQ(context->load_status, NOERROR);
  std::vector<record_storage*> nodes = Nodes(context);
  ASSERT_EQ(nodes.size(), 7u);
  EXPECT_EQ(nodes[0]->side_data, nullptr);
  auto* size = static_cast<table_side_data*>(nodes[1]->side_data);
  ASSERT_NE(size, nullptr);
  EXPECT_EQ(size->rows, 3);
  EXPECT_EQ(size->columns, 5);
  for (int cell = 2; cell <= 4; ++cell) {
    auto* side = static_cast<cell_side_data*>(nodes[cell]->side_data);
    ASSERT_NE(side, nullptr);
    EXPECT_EQ(side->table, nodes[1]);
    EXPECT_EQ(side->pretable, nodes[0]);
  }
  EXPECT_EQ(nodes[5]->side_data, nullptr);
  EXPECT_EQ(nodes[6]->signature, SIG_CD_TABLECELL);
  EXPECT_EQ(nodes[6]->side_data, nullptr);
}

TEST_F(BodyTest, NestedTablesFollowTheirOwnBeginsAndPreTables) {
  Append("Body", Records({PreTable(), TableBegin(), Cell(0, 1), TableBegin(SIG_CD_NESTEDTABLEBEGIN),
                          Cell(1, 2, SIG_CD_NESTEDTABLECELL), TableEnd(SIG_CD_NESTEDTABLEEND),
                          Cell(3, 0), TableEnd()}));
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  std::vector<record_storage*> nodes = Nodes(context);
  ASSERT_EQ(nodes.size(), 8u);
  auto* inner = static_cast<cell_side_data*>(nodes[4]->side_data);
  EXPECT_EQ(inner->table, nodes[3]);
  EXPECT_EQ(inner->pretable, nullptr);
  auto* outer = static_cast<cell_side_data*>(nodes[6]->side_data);
  EXPECT_EQ(outer->table, nodes[1]);
  EXPECT_EQ(outer->pretable, nodes[0]);
  auto* outerSize = static_cast<table_side_data*>(nodes[1]->side_data);
  EXPECT_EQ(outerSize->rows, 4);
  EXPECT_EQ(outerSize->columns, 2);
  auto* innerSize = static_cast<table_side_data*>(nodes[3]->side_data);
  EXPECT_EQ(innerSize->rows, 2);
  EXPECT_EQ(innerSize->columns, 3);
}

TEST_F(BodyTest, ElevenNestedTableBeginsKeepTheLevelAtTen) {
  Bytes records;
  for (int level = 0; level < 11; ++level)
    records = Records({records, TableBegin(level == 0 ? SIG_CD_TABLEBEGIN
                                                      : SIG_CD_NESTEDTABLEBEGIN)});
  records = Records({records, Cell(0, 0, SIG_CD_NESTEDTABLECELL),
                     TableEnd(SIG_CD_NESTEDTABLEEND), Cell(0, 0, SIG_CD_NESTEDTABLECELL)});
  Append("Body", records);
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  std::vector<record_storage*> nodes = Nodes(context);
  ASSERT_EQ(nodes.size(), 14u);
  /* The eleventh begin takes the tenth level's place; after one end the
   * cells belong to the ninth. */
  EXPECT_EQ(static_cast<cell_side_data*>(nodes[11]->side_data)->table, nodes[10]);
  EXPECT_EQ(static_cast<cell_side_data*>(nodes[13]->side_data)->table, nodes[8]);
}

TEST_F(BodyTest, GraphicSideDataNamesWhereItsImageBeginsInStoredBytes) {
  /* Item 0: odd record (7 + pad), graphic (30 stored), bitmap header,
   * graphic that ends the item. Item 1: text (11 + pad), graphic. */
  Append("Body", Records({Bsig(0x42, 7), Graphic(), BitmapHeader(), Graphic()}));
  Append("Body", Records({Text("odd"), Graphic(), Text("x")}));
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  ASSERT_EQ(context->load_status, NOERROR);
  std::vector<record_storage*> nodes = Nodes(context);
  std::vector<body_item*> items = Items(context);
  ASSERT_EQ(nodes.size(), 7u);
  struct Expected {
    size_t node;
    DWORD offset;
    WORD item;
  };
  const Expected expected[] = {
      {1, 2 + 8 + 30, 0},
      {2, 2 + 8 + 30, 0},        /* the bitmap header: where it lies */
      {3, 2 + 30, 1},            /* last in its item: the next item */
      {5, 2 + 12 + 30, 1},
  };
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.node);
    auto* side = static_cast<position_side_data*>(nodes[e.node]->side_data);
    ASSERT_NE(side, nullptr);
    EXPECT_EQ(side->offset, e.offset);
    EXPECT_EQ(side->item_number, e.item);
  }
  EXPECT_EQ(CalculateImageOffsetWord(item_, items[0], nodes[1]), 2 + 8 + 30);
  EXPECT_EQ(CalculateImageOffsetWord(item_, items[0], nodes[3]), 2 + 8 + 30 + 38 + 30);
  EXPECT_EQ(CalculateImageOffsetWord(item_, items[1], nodes[5]), 2 + 12 + 30);
  EXPECT_EQ(CalculateImageOffsetWord(item_, items[1], nullptr), 0);
}

TEST_F(BodyTest, ImageOffsetOfRecordsMadeInMemoryUsesTheirStoredSizes) {
  record_storage text, graphic;
  text.signature = SIG_CD_TEXT;
  text.length = 11;
  text.ordinal = 1;
  graphic.signature = SIG_CD_GRAPHIC;
  graphic.length = sizeof(CDGRAPHIC);
  graphic.ordinal = 2;
  text.InsertRecordAfter(&graphic);
  body_item first;
  first.first_ordinal = 1;
  EXPECT_EQ(CalculateImageOffsetWord(item_, &first, &graphic), 2 + 12 + 30);
}

TEST_F(BodyTest, SkippedEnvelopesLeaveNoNodesButImageOffsetsStayTrue) {
  Append("Body", Records({Bracket(SIG_CD_BEGIN, SIG_CD_TEXT), Text("in"),
                          Bracket(SIG_CD_END, SIG_CD_TEXT), Bsig(SIG_CD_COLOR, 8),
                          Bracket(SIG_CD_BEGIN, SIG_CD_V4HOTSPOTBEGIN), Graphic(), Text("z")}));
  body_context* all = Load();
  ASSERT_NE(all, nullptr);
  EXPECT_THAT(Describe(all),
              ElementsAre("<00DD>", "in", "<00DE>", "<00D2>", "<00DD>", "<0099>", "z"));
  body_context* skipped = Load(1);
  ASSERT_NE(skipped, nullptr);
  EXPECT_EQ(skipped->load_status, NOERROR);
  EXPECT_THAT(Describe(skipped), ElementsAre("in", "<00DD>", "<0099>", "z"));
  EXPECT_THAT(Ordinals(skipped), ElementsAre(1u, 2u, 3u, 4u));
  auto* side = static_cast<position_side_data*>(Nodes(skipped)[2]->side_data);
  EXPECT_EQ(side->offset, 2u + 6 + 10 + 6 + 8 + 6 + 30);
  EXPECT_EQ(Items(skipped)[0]->last_ordinal, 4u);
}

TEST_F(BodyTest, PlainTextSideDataPointsIntoTheRecord) {
  Append("Body", Records({Text("plain"), Wsig(SIG_CD_TEXT, 8)}));
  body_context* context = Load(0, 1, 0);
  ASSERT_NE(context, nullptr);
  std::vector<record_storage*> nodes = Nodes(context);
  auto* side = static_cast<text_side_data*>(nodes[0]->side_data);
  ASSERT_NE(side, nullptr);
  EXPECT_EQ(side->text, nodes[0]->data + 8);
  EXPECT_EQ(side->length, 5u);
  EXPECT_EQ(nodes[0]->flags & RECORD_SIDE_TEXT, 0);
  auto* empty = static_cast<text_side_data*>(nodes[1]->side_data);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->length, 0u);
}

TEST_F(BodyTest, EntityTextWritesMultiByteCharactersAsReferences) {
  const std::string mixed = "a" + LmbcsFromUtf8("\xE4\xB8\xAD") + "b" +
                            LmbcsFromUtf8("\xE2\x82\xAC");
  Append("Body", Records({Text(mixed), Text("only ascii")}));
  body_context* context = Load(0, 1, 1);
  ASSERT_NE(context, nullptr);
  ASSERT_EQ(context->load_status, NOERROR);
  std::vector<record_storage*> nodes = Nodes(context);
  auto* side = static_cast<text_side_data*>(nodes[0]->side_data);
  ASSERT_NE(side, nullptr);
  EXPECT_EQ(std::string(side->text, side->length), "a&#20013;b&#8364;");
  EXPECT_EQ(side->text[side->length], '\0');
  EXPECT_EQ(nodes[0]->flags, RECORD_IN_ARENA | RECORD_SIDE_TEXT);
  EXPECT_EQ(nodes[1]->side_data, nullptr);
}

/* ---- memory ---- */

struct FailedLoad {
  STATUS status;
  std::vector<std::string> lines;
};

/* Nodes, their data and side data come from the context's record arena,
 * whose slabs are heap blocks: the host's refusals reach the value copies
 * and text buffers, the tracked allocator's refusals every piece. */
TEST_F(BodyTest, OutOfMemoryWhileLoadingGives263AtEveryAllocation) {
  Append("Body", Records({Text("a" + LmbcsFromUtf8("\xE4\xB8\xAD")), Bsig(0x42, 7), Graphic(),
                          BitmapHeader(), PreTable(), TableBegin(), Cell(0, 0), TableEnd()}));
  Append("Body", Records({Text("b")}));
  std::set<std::string> lines;
  int failures = 0;
  for (void (*refuse)(int) : {HostTestFailAllocation, VelkoTestFailTrackedAllocation}) {
    for (int nth = 1; nth < 200; ++nth) {
      SCOPED_TRACE(nth);
      auto* session = new LSXLsiSession;
      VelkoRTItem* item = note_testing::BindItem(session, note_, "Body");
      HostTestClearLog();
      refuse(nth);
      body_context* context =
          StoreItemsAndRecords(item, 0, 0, nullptr, 1, 1, NULLHANDLE, nullptr);
      refuse(0);
      ASSERT_NE(context, nullptr);
      const STATUS status = context->load_status;
      const size_t nodes = Nodes(context).size();
      CleanupBodyContext(session, context);
      delete context;
      note_testing::UnbindItem(item);
      delete session;
      if (status == NOERROR) {
        EXPECT_EQ(nodes, 9u);
        break;
      }
      EXPECT_EQ(status, VELKO_ERR_MEMORY);
      ++failures;
      for (const std::string& line : LogLines())
        lines.insert(line);
    }
  }
  EXPECT_GE(failures, 10);
  EXPECT_THAT(lines, Contains(OutOfMemoryLine("CDR4342")));
  EXPECT_THAT(lines, Contains(OutOfMemoryLine("CDR4380")));
  EXPECT_THAT(lines, Contains(OutOfMemoryLine("CDR4270")));
}

TEST_F(BodyTest, EveryAllocationFailingGives263WithoutLeaks) {
  Append("Body", Records({Text("a"), Text("b")}));
  HostTestFailAllocationsFrom(1);
  body_context* context = Load();
  HostTestFailAllocationsFrom(0);
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->load_status, VELKO_ERR_MEMORY);
  EXPECT_EQ(item_->internal->incomplete_load, VELKO_ERR_MEMORY);
  EXPECT_EQ(context->records, nullptr);
  EXPECT_THAT(LogLines(), Contains(::testing::StartsWith("Out of memory at ")));
}

} // namespace
