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
#include "host/status.h"
#include "store/body.h"
#include "store/messages.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/tracked_memory_testing.h"
#include "tests/support/test_fixture.h"
#include "tests/support/note_fixture.h"
#include "cdbuild/cd_builder.h"
#include "velko/status.h"

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using note_testing::Records;
using note_testing::Value;

namespace {

using Bytes = std::vector<BYTE>;

/* ---- stored records ---- */

/* Records of the length, header included, under the header form named
 * (whatever the signature asks for, so that damage can be written); the
 * bytes behind the header are patterned, so that a conversion that moves
 * or drops a byte shows. */
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

/* ---- fixture ---- */

class BodyTest : public ::testing::Test {
protected:
  void SetUp() override {
    handles_before_ = note_testing::ResetHostCapturing();
    ASSERT_EQ(note_testing::CreateDatabase("mem:bodytest", &db_), NOERROR);
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
    HostTestSetItemValueLimit(0);
    EXPECT_EQ(HostTestLiveHandles(), handles_before_) << HostTestLeakReport();
    HostTestReset();
  }

  void Append(const char* name, const Bytes& records) {
    ASSERT_EQ(note_testing::AppendRecords(note_, name, records), NOERROR);
  }

  /* Every item value of the name, type word first. */
  std::vector<Bytes> Values(const char* name) { return note_testing::ItemValues(note_, name); }

  /* The items of the name loaded, the context kept for the teardown. */
  body_context* Load(int skipEnvelopes = 0, int plainText = 0, int entityText = 0,
                     const char* name = nullptr) {
    body_context* context =
        StoreItemsAndRecords(item_, skipEnvelopes, 0, nullptr, plainText, entityText,
                             name != nullptr ? note_ : NULLHANDLE, name);
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
    ASSERT_NE(context, nullptr);
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

  /* The load's own account of where and why it stopped, the place given
   * as the offset in the stored item it keeps. */
  static std::string Stopped(const body_context* context) {
    const std::string place = " at offset " + std::to_string(context->stop.offset) + " of item " +
                              std::to_string(context->stop.item_number);
    char text[200];
    DescribeLoadStop(context, place.c_str(), text, sizeof text);
    return text;
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

  /* Links nodes of the context's arena over the test's records as its
   * list. */
  void LinkRecords(body_context* context, std::vector<Bytes>& records) {
    record_storage* last = nullptr;
    for (Bytes& record : records) {
      record_storage* node = NewArenaRecordAt(
          session_, context, static_cast<WORD>(record[0] | record[1] << 8),
          reinterpret_cast<char*>(record.data()), static_cast<DWORD>(record.size()), VELKO_HERE);
      ASSERT_NE(node, nullptr);
      if (last == nullptr)
        context->records = node;
      else
        last->InsertRecordAfter(node);
      last = node;
    }
  }

  DBHANDLE db_ = NULLHANDLE;
  NOTEHANDLE note_ = NULLHANDLE;
  LSXLsiSession* session_ = nullptr;
  VelkoRTItem* item_ = nullptr;
  std::vector<body_context*> contexts_;
  size_t handles_before_ = 0;
};

/* ---- headers and nodes ---- */

TEST_F(BodyTest, GetBodyRecordReadsEachHeaderFormAndRefusesZeroes) {
  struct Case {
    const char* name;
    Bytes bytes;
    STATUS status;
    DWORD length;
    WORD signature;
  };
  const Case cases[] = {
      {"byte length", {0x81, 0x02}, NOERROR, 2, 0x81},
      {"word length", {0x85, 0xFF, 0x0A, 0x00}, NOERROR, 10, 0xFF85},
      {"double-word length", {0x99, 0x00, 0x1E, 0x01, 0x00, 0x00}, NOERROR, 0x11E, 0x99},
      {"word length 0", {0x85, 0xFF, 0x00, 0x00}, VELKO_ERR_ITEM_NOT_FOUND, 0, 0xFF85},
      {"double-word signature 0", {0x00, 0x00, 0x06, 0, 0, 0}, VELKO_ERR_ITEM_NOT_FOUND, 6, 0},
      {"byte signature 0", {0x00, 0x04}, VELKO_ERR_ITEM_NOT_FOUND, 4, 0},
  };
  for (const Case& c : cases) {
    DWORD length = 0xDEAD;
    WORD signature = 0xBEEF;
    EXPECT_EQ(GetBodyRecord(reinterpret_cast<const char*>(c.bytes.data()), &length, &signature),
              c.status)
        << c.name;
    EXPECT_EQ(length, c.length) << c.name;
    EXPECT_EQ(signature, c.signature) << c.name;
  }
}

/* ---- loading ---- */

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

TEST_F(BodyTest, LoadRefusesMissingItemNoteOrNameAndAMissingItemIsAnEmptyBody) {
  EXPECT_EQ(StoreItemsAndRecords(nullptr, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr), nullptr);
  EXPECT_EQ(StoreItemsAndRecords(item_, 0, 0, nullptr, 0, 0, note_, nullptr), nullptr);
  EXPECT_EQ(StoreItemsAndRecords(item_, 0, 0, nullptr, 0, 0, note_, ""), nullptr);

  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->load_status, NOERROR);
  EXPECT_EQ(context->records, nullptr);
  EXPECT_EQ(context->items, nullptr);
  EXPECT_STREQ(context->item_name, "Body");
  // The type word alone: no records, one item.
  Append("Body", {});
  context = Load();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->records, nullptr);
  ASSERT_EQ(Items(context).size(), 1u);
  EXPECT_EQ(Items(context)[0]->first_ordinal, 1u);
  EXPECT_EQ(Items(context)[0]->length, 2u);

  delete[] item_->item_name;
  item_->item_name = nullptr;
  EXPECT_EQ(StoreItemsAndRecords(item_, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr), nullptr);
  item_->note = NULLHANDLE;
  EXPECT_EQ(StoreItemsAndRecords(item_, 0, 0, nullptr, 0, 0, NULLHANDLE, "Body"), nullptr);
}

TEST_F(BodyTest, TextItemLoadsAsOneTextRecordWithEntriesJoinedBySemicolons) {
  ASSERT_EQ(NSFItemAppendTextList(note_, "Body", "alpha", 5, TRUE), NOERROR);
  ASSERT_EQ(NSFItemAppendTextList(note_, "Body", "beta", 4, TRUE), NOERROR);
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->load_status, NOERROR);
  const std::vector<record_storage*> nodes = Nodes(context);
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0]->ordinal, 1u);
  EXPECT_EQ(nodes[0]->flags, RECORD_IN_ARENA);
  EXPECT_EQ(Bytes(nodes[0]->data, nodes[0]->data + nodes[0]->length), Text("alpha;beta"));
  ASSERT_EQ(Items(context).size(), 1u);
  EXPECT_EQ(Items(context)[0]->length, 18u);
  EXPECT_EQ(Items(context)[0]->last_ordinal, 1u);
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
  EXPECT_THAT(HostTestLogLines(), Contains("Item Body holds 64375 bytes of text, more than one "
                                           "text record can hold: it can be read but not written "
                                           "back"));
}

TEST_F(BodyTest, AnOddRecordIsPaddedAndAMissingLastPadIsTolerated) {
  const Bytes odd = Bsig(0x42, 7);
  Append("Body", Records({odd, Text("next")}));
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->load_status, NOERROR);
  const std::vector<record_storage*> nodes = Nodes(context);
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(nodes[0]->stored_length, 7u);
  EXPECT_EQ(Bytes(nodes[0]->data, nodes[0]->data + 8), Records({odd}));
  EXPECT_THAT(Describe(context), ElementsAre("<0042>", "next"));

  Bytes records = Records({Text("ab"), odd});
  records.pop_back();
  NSFItemDelete(note_, "Body", 4);
  Append("Body", records);
  context = Load();
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
  const std::vector<record_storage*> nodes = Nodes(context);
  for (size_t at = 1; at < nodes.size(); ++at)
    EXPECT_EQ(nodes[at]->previous, nodes[at - 1]);
  const std::vector<body_item*> items = Items(context);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0]->last_ordinal, 2u);
  EXPECT_EQ(items[1]->item_number, 1);
  EXPECT_EQ(items[1]->first_ordinal, 3u);
  EXPECT_EQ(items[1]->last_ordinal, 5u);
  EXPECT_EQ(Bytes(items[1]->buffer, items[1]->buffer + items[1]->length), Values("Body")[1]);
  EXPECT_EQ(context->items_tail, items[1]);
}

TEST_F(BodyTest, NamedNoteAndItemLoadWithoutTouchingTheItemsOwnState) {
  Append("Other", Records({Text("x"), ShortWsig(0xFF10, 3)}));
  item_->internal->incomplete_load = 1234;
  body_context* context = Load(0, 0, 0, "Other");
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->load_status, VELKO_ERR_FAILED);
  EXPECT_STREQ(context->item_name, "Other");
  EXPECT_EQ(item_->internal->incomplete_load, 1234);
}

TEST_F(BodyTest, GivenContextIsEmptiedAndRefilled) {
  Append("Body", Records({Text("a"), Graphic(), Text("b")}));
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  auto blocksInUse = [this] {
    size_t count = 0;
    for (velko_allocation* block = session_->internal->pool; block; block = block->next)
      count += block->InUse() ? 1 : 0;
    return count;
  };
  const size_t held = blocksInUse();
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(StoreItemsAndRecords(item_, 0, 0, context, 0, 0, NULLHANDLE, nullptr), context);
    EXPECT_THAT(Describe(context), ElementsAre("a", "<0099>", "b"));
    EXPECT_EQ(Items(context).size(), 1u);
    EXPECT_EQ(blocksInUse(), held);
  }
  CleanupBodyContext(session_, context);
  EXPECT_EQ(context->records, nullptr);
  EXPECT_EQ(context->items, nullptr);
  EXPECT_EQ(context->value, nullptr);
  EXPECT_EQ(blocksInUse(), 1u) << "what stays held is the item's conversion buffers";
}

/* ---- writing back ---- */

TEST_F(BodyTest, LoadThenSaveReproducesTheStoredBytes) {
  const Bytes first = Records({Wsig(SIG_CD_PABDEFINITION, sizeof(CDPABDEFINITION) - 2),
                               Text("Hello"), Bsig(0x42, 7), Wsig(0xFF10, 9), Graphic(),
                               BitmapHeader(), PreTable(), TableBegin(), Cell(0, 0), TableEnd(),
                               Wsig(SIG_CD_PABDEFINITION, sizeof(CDPABDEFINITION) - 2 + 12),
                               Bracket(SIG_CD_BEGIN, 0xFF85)});
  const Bytes second = Records({Text("World!"), Wsig(0xFF33, 11), Bsig(0x7E, 3)});
  Append("Body", first);
  Append("Body", second);

  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  ASSERT_EQ(context->load_status, NOERROR);
  ASSERT_EQ(Nodes(context).size(), 15u);
  EXPECT_EQ(Nodes(context)[0]->length, sizeof(CDPABDEFINITION));
  EXPECT_EQ(Nodes(context)[4]->length, sizeof(CDGRAPHIC));

  context->item_name = "Copy";
  ASSERT_EQ(SaveBodyItems(context, item_), NOERROR);
  EXPECT_THAT(Values("Copy"), ElementsAre(Value(Records({first, second}))));
}

/* 193 records of 254 bytes fill an item to exactly 49022 bytes. */
TEST_F(BodyTest, SavingSmallRecordsStartsAnItemBeforeOneWouldPassTheSplit) {
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  std::vector<Bytes> records;
  for (int count = 0; count < 394; ++count) {
    records.push_back(Wsig(0xFF10, 254));
    records.back()[4] = static_cast<BYTE>(count);
  }
  LinkRecords(context, records);
  context->item_name = "Copy";
  ASSERT_EQ(SaveBodyItems(context, item_), NOERROR);
  const std::vector<Bytes> values = Values("Copy");
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0].size(), 2u + kBodyItemSplit);
  EXPECT_EQ(values[1].size(), 2u + kBodyItemSplit);
  EXPECT_EQ(values[2].size(), 2u + 8 * 254);
  EXPECT_EQ(values[1][2 + 4], 193);
  EXPECT_EQ(values[2][2 + 4], static_cast<BYTE>(386));

  body_context* reloaded = Load(0, 0, 0, "Copy");
  ASSERT_NE(reloaded, nullptr);
  EXPECT_EQ(reloaded->load_status, NOERROR);
  EXPECT_EQ(Nodes(reloaded).size(), 394u);
  ASSERT_EQ(Items(reloaded).size(), 3u);
  EXPECT_EQ(Items(reloaded)[2]->first_ordinal, 387u);
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

TEST_F(BodyTest, SaveWritesNothingForAnEmptyListAndStopsAtTheFirstFailure) {
  body_context* empty = Load();
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SaveBodyItems(empty, item_), NOERROR);
  EXPECT_THAT(Values("Body"), IsEmpty());
  EXPECT_EQ(SaveBodyItems(nullptr, item_), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(SaveBodyItems(empty, nullptr), VELKO_ERR_BAD_ARGUMENT);

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

  std::vector<Bytes> huge = {Wsig(0xFF10, kLargestConvertedRecord + 1)};
  LinkRecords(empty, huge);
  empty->item_name = "Huge";
  EXPECT_EQ(SaveBodyItems(empty, item_), VELKO_ERR_FAILED);
  EXPECT_THAT(Values("Huge"), IsEmpty());
}

/* ---- damaged items ---- */

std::vector<std::pair<const char*, Bytes>> DamageCases() {
  return {
      {"length past the value", cdbuild::WithHeaderLength(Wsig(0xFF10, 10), 200)},
      {"length below the header", cdbuild::WithHeaderLength(Wsig(0xFF10, 10), 3)},
      {"length 0", cdbuild::WithHeaderLength(Wsig(0xFF10, 10), 0)},
      {"double-word signature 0", Lsig(0, 10)},
      {"byte signature 0", Bsig(0, 10)},
      {"graphic with a byte-length header", Bsig(SIG_CD_GRAPHIC, 30)},
      {"byte-length signature with a double-word header", Lsig(0x42, 10)},
      {"cell shorter than its fixed part", Bsig(SIG_CD_TABLECELL, 4)},
      {"text shorter than its fixed part", Wsig(SIG_CD_TEXT, 6)},
  };
}

TEST_F(BodyTest, DamageEndsTheLoadOfItsItemOnly) {
  for (const auto& [name, damage] : DamageCases()) {
    SCOPED_TRACE(name);
    body_context* first = Reload({{Text("one"), damage, Text("two")}, {Text("three")}});
    ExpectIncomplete(first, {"one"});
    EXPECT_THAT(HostTestLogLines(), ElementsAre("Rich text item Body number 0 is damaged at "
                                                "offset 14: the rest of it was not loaded"));
    EXPECT_EQ(Stopped(first), "record 2 at offset 14 of item 0 is damaged");

    // The load goes on with the next item; the damaged record is the one
    // kept, not the end of the list.
    body_context* context = Reload({{Text("zero")}, {Text("one"), damage, Text("two")},
                                    {Text("three")}});
    ExpectIncomplete(context, {"zero", "one", "three"});
    ASSERT_EQ(Items(context).size(), 3u);
    EXPECT_EQ(Items(context)[2]->first_ordinal, 3u);
    EXPECT_THAT(HostTestLogLines(), ElementsAre("Rich text item Body number 1 is damaged at "
                                                "offset 14: the rest of it was not loaded"));
    EXPECT_EQ(Stopped(context), "record 3 at offset 14 of item 1 is damaged");
  }
  // A header cut off by the end of the value is damage too.
  ExpectIncomplete(Reload({{Text("one"), Bytes({0x85, 0xFF, 0x08})}}), {"one"});
}

TEST_F(BodyTest, LaterItemThatIsNotRichTextIsLeftOutAndReported) {
  Append("Body", Records({Text("zero")}));
  ASSERT_EQ(NSFItemAppend(note_, 0, "Body", 4, TYPE_TEXT, "plain", 5), NOERROR);
  Append("Body", Records({Text("two")}));
  body_context* context = Load();
  ExpectIncomplete(context, {"zero", "two"});
  EXPECT_THAT(HostTestLogLines(),
              Contains("Rich text item Body number 1 is not rich text: it was not loaded"));
  EXPECT_EQ(Stopped(context), "stored item 1 is not rich text");
}

TEST_F(BodyTest, RecordTooLargeToWriteBackEndsTheLoad) {
  body_context* context = Reload(
      {{Text("one"), Wsig(0xFF10, kLargestConvertedRecord + 1), Text("two")}, {Text("three")}});
  ExpectIncomplete(context, {"one"});
  EXPECT_THAT(HostTestLogLines(),
              ElementsAre("Rich text item Body number 0: record 0xFF10 of 64383 bytes at offset "
                          "14 is longer than the 64382 bytes a record can have; the rest of the "
                          "body was not loaded"));
  EXPECT_EQ(Stopped(context), "record 2 at offset 14 of item 0 is 64383 bytes, longer than the "
                              "limit of 64382 bytes");
  // The host form of a graphic is 2 bytes longer than the stored one: the
  // length the limit applies to is named.
  context = Reload({{Text("one"), Lsig(SIG_CD_GRAPHIC, kLargestConvertedRecord - 1)}});
  ExpectIncomplete(context, {"one"});
  EXPECT_THAT(HostTestLogLines(),
              ElementsAre("Rich text item Body number 0: record 0x0099 of 64383 bytes at offset "
                          "14 is longer than the 64382 bytes a record can have; the rest of the "
                          "body was not loaded"));
  EXPECT_EQ(Stopped(context), "record 2 at offset 14 of item 0 is 64383 bytes, longer than the "
                              "limit of 64382 bytes");
  // A complete reload clears the mark and the account.
  context = Reload({{Text("one")}});
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(item_->internal->incomplete_load, NOERROR);
  EXPECT_EQ(Stopped(context), "");
}

TEST_F(BodyTest, TraceLinesAtDebugLevelThree) {
  Append("Body", Records({Text("ab"), ShortWsig(0xFF10, 2)}));
  session_->internal->debug_level = 3;
  ASSERT_NE(Load(), nullptr);
  EXPECT_THAT(HostTestLogLines(),
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
    auto* side = static_cast<position_side_data*>(nodes[e.node]->SideData());
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

/* Eleven tables open inside each other: the eleventh takes the tenth's
 * level, so one end brings cells back to the ninth. A cell takes the row
 * and column sizes of its own table only; one outside any table is a plain
 * CDTABLECELL without side data. */
TEST_F(BodyTest, CellsSizeTheirOwnTableAndNestingStopsAtTenLevels) {
  std::vector<Bytes> records = {PreTable(), TableBegin(), Cell(2, 1)};
  for (int level = 2; level <= 11; ++level)
    records.push_back(TableBegin(SIG_CD_NESTEDTABLEBEGIN));
  records.push_back(Cell(0, 4, SIG_CD_NESTEDTABLECELL));
  records.push_back(TableEnd(SIG_CD_NESTEDTABLEEND));
  records.push_back(Cell(1, 0, SIG_CD_NESTEDTABLECELL));
  for (int level = 9; level >= 1; --level)
    records.push_back(TableEnd(level == 1 ? SIG_CD_TABLEEND : SIG_CD_NESTEDTABLEEND));
  records.push_back(Cell(3, 3, SIG_CD_NESTEDTABLECELL));
  Append("Body", Records(records));
  body_context* context = Load();
  ASSERT_NE(context, nullptr);
  ASSERT_EQ(context->load_status, NOERROR);
  const std::vector<record_storage*> nodes = Nodes(context);
  ASSERT_EQ(nodes.size(), records.size());
  record_storage* const pretable = nodes[0];
  // The begins of levels 1 to 11; the first cell stands behind the first.
  auto beginAt = [&](int level) { return nodes[level == 1 ? 1 : level + 1]; };

  struct Case {
    size_t cell;
    record_storage* table;
    record_storage* pretable;
  };
  for (const Case& c : {Case{2, beginAt(1), pretable}, Case{13, beginAt(11), nullptr},
                        Case{15, beginAt(9), nullptr}}) {
    SCOPED_TRACE(c.cell);
    const auto* side = static_cast<const cell_side_data*>(nodes[c.cell]->SideData());
    ASSERT_NE(side, nullptr);
    EXPECT_EQ(side->table, c.table);
    EXPECT_EQ(side->pretable, c.pretable);
  }
  auto size = [&](int level) {
    const auto* side = static_cast<const table_side_data*>(beginAt(level)->SideData());
    return side != nullptr ? std::pair<int, int>{side->rows, side->columns}
                           : std::pair<int, int>{-1, -1};
  };
  EXPECT_EQ(size(1), (std::pair<int, int>{3, 2}));
  EXPECT_EQ(size(11), (std::pair<int, int>{1, 5}));
  EXPECT_EQ(size(10), (std::pair<int, int>{0, 0}));
  EXPECT_EQ(size(9), (std::pair<int, int>{2, 1}));

  record_storage* outside = nodes.back();
  EXPECT_EQ(outside->signature, SIG_CD_TABLECELL);
  EXPECT_EQ(outside->SideData(), nullptr);
}

/* The load's three text options: text envelopes and colour records left
 * out; multi-byte characters written as character references beside the
 * record; the text itself pointed at. */
TEST_F(BodyTest, TextOptionsSkipEnvelopesAndGiveTextSideData) {
  const std::string euro = "\x14\x20\xAC"; // U+20AC in LMBCS
  Append("Body", Records({Bracket(SIG_CD_BEGIN, SIG_CD_TEXT), Text("a" + euro + "b"),
                          Bracket(SIG_CD_END, SIG_CD_TEXT), Bsig(SIG_CD_COLOR, sizeof(CDCOLOR)),
                          Bracket(SIG_CD_BEGIN, SIG_CD_GRAPHIC), Text("plain")}));
  struct Case {
    int skip, plain, entity;
    std::vector<std::string> records;
    std::vector<std::string> sideTexts; // per text node; "-" for none
  };
  const std::string all[] = {"<00DD>", "a" + euro + "b", "<00DE>", "<00D2>", "<00DD>", "plain"};
  const Case cases[] = {
      {1, 0, 0, {"a" + euro + "b", "<00DD>", "plain"}, {"-", "-"}},
      {0, 0, 1, {std::begin(all), std::end(all)}, {"a&#8364;b", "-"}},
      {0, 1, 0, {std::begin(all), std::end(all)}, {"a" + euro + "b", "plain"}},
      {0, 1, 1, {std::begin(all), std::end(all)}, {"a&#8364;b", "-"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.skip << c.plain << c.entity);
    body_context* context = Load(c.skip, c.plain, c.entity);
    ASSERT_NE(context, nullptr);
    ASSERT_EQ(context->load_status, NOERROR);
    EXPECT_THAT(Describe(context), ElementsAreArray(c.records));
    std::vector<std::string> sideTexts;
    for (record_storage* node : Nodes(context)) {
      if (node->signature != SIG_CD_TEXT)
        continue;
      const auto* side = static_cast<const text_side_data*>(node->SideData());
      sideTexts.push_back(side == nullptr ? "-" : std::string(side->text, side->length));
      if (side != nullptr && !c.entity) {
        EXPECT_EQ(side->text, node->data + sizeof(CDTEXT)) << "points into the record";
      }
    }
    EXPECT_THAT(sideTexts, ElementsAreArray(c.sideTexts));
  }
}

/* ---- memory ---- */

/* Nodes, their data and side data come from the context's record arena,
 * whose slabs are heap blocks: the host's refusals reach the value copies
 * and text buffers, the tracked allocator's refusals every piece. */
TEST_F(BodyTest, OutOfMemoryWhileLoadingGives263AtEveryAllocation) {
  Append("Body", Records({Text(std::string("a").append(LmbcsFromUtf8("\xE4\xB8\xAD"))), Bsig(0x42, 7), Graphic(),
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
      body_context* context = StoreItemsAndRecords(item, 0, 0, nullptr, 1, 1, NULLHANDLE, nullptr);
      refuse(0);
      ASSERT_NE(context, nullptr);
      const STATUS status = context->load_status;
      const size_t nodes = Nodes(context).size();
      // Memory that ran out is told from damage, at the record that was
      // not loaded.
      const std::string stopped = Stopped(context);
      if (status != NOERROR) {
        EXPECT_EQ(stopped.rfind("memory ran out loading record " + std::to_string(nodes + 1) +
                                    " at offset ",
                                0),
                  0u)
            << stopped;
      }
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
      for (const std::string& line : HostTestLogLines())
        lines.insert(line);
    }
  }
  EXPECT_GE(failures, 10);
  // Side data lies in its node's piece: only the entity text is a piece of
  // its own that can fail apart from its node.
  for (const char* where : {"CDR4150", "CDR4164", "CDR4270"})
    EXPECT_THAT(lines, Contains(std::string("Out of memory at ") + where + ": " +
                                note_testing::HostText(VELKO_ERR_MEMORY)));
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
  EXPECT_THAT(HostTestLogLines(), Contains(::testing::StartsWith("Out of memory at ")));
}

} // namespace
