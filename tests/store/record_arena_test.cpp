// Record arenas: pieces carved from 64 KiB tracked slabs, blocks of their
// own for large pieces, release of everything at once back into the pool;
// the nodes of a loaded body made in its context's arena, freed by the rule
// of their flags; the test control that refuses the nth request for
// tracked memory; and the host memory a large load takes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/cdrecords.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/body.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "store/tracked_memory_testing.h"
#include "velko/status.h"

using ::testing::ElementsAre;

namespace {

class RecordArenaTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    HostTestCaptureLog(true);
    HostTestCaptureMessages();
    session_ = std::make_unique<LSXLsiSession>();
  }

  void TearDown() override {
    ReleaseRecordArena(session_.get(), &arena_);
    VelkoTestFailTrackedAllocation(0);
    session_.reset();
    HostTestReset();
  }

  void* Piece(size_t size, int zero = 0) {
    return RecordArenaAllocate(session_.get(), &arena_, VELKO_HERE, size, zero);
  }

  /* The tracked blocks of the session's pool that are in use. */
  std::vector<const velko_allocation*> BlocksInUse() const {
    std::vector<const velko_allocation*> blocks;
    for (velko_allocation* block = session_->internal->pool; block != nullptr; block = block->next)
      if (block->InUse())
        blocks.push_back(block);
    return blocks;
  }

  std::unique_ptr<LSXLsiSession> session_;
  record_arena arena_;
};

/* ---- pieces and slabs ---- */

TEST_F(RecordArenaTest, SmallPiecesShareOneAlignedSlab) {
  std::vector<char*> pieces;
  for (size_t size : {1u, 7u, 8u, 13u, 56u, 3u})
    pieces.push_back(static_cast<char*>(Piece(size)));
  for (char* piece : pieces) {
    ASSERT_NE(piece, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(piece) % kRecordArenaAlignment, 0u);
  }
  // Each piece takes its size rounded up to 8 bytes, one behind the other.
  EXPECT_EQ(pieces[1] - pieces[0], 8);
  EXPECT_EQ(pieces[2] - pieces[1], 8);
  EXPECT_EQ(pieces[3] - pieces[2], 8);
  EXPECT_EQ(pieces[4] - pieces[3], 16);
  EXPECT_EQ(pieces[5] - pieces[4], 56);
  EXPECT_EQ(arena_.block_count, 1u);
  const std::vector<const velko_allocation*> blocks = BlocksInUse();
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0]->size, kRecordArenaSlabSize);
  EXPECT_EQ(blocks[0]->os_memory, 0u) << "a slab is a heap block, not a host handle";
}

TEST_F(RecordArenaTest, AFullSlabIsFollowedByANewOne) {
  const size_t perSlab = (kRecordArenaSlabSize - 16) / 1024;
  for (size_t count = 0; count < perSlab; ++count)
    ASSERT_NE(Piece(1024), nullptr);
  EXPECT_EQ(arena_.block_count, 1u);
  char* next = static_cast<char*>(Piece(1024));
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(arena_.block_count, 2u);
  EXPECT_EQ(BlocksInUse().size(), 2u);
}

TEST_F(RecordArenaTest, APieceLargerThanASlabGetsABlockOfItsOwn) {
  char* small = static_cast<char*>(Piece(16));
  char* large = static_cast<char*>(Piece(100000, 1));
  char* after = static_cast<char*>(Piece(16));
  ASSERT_NE(large, nullptr);
  EXPECT_EQ(arena_.block_count, 2u);
  EXPECT_EQ(after - small, 16) << "the slab stays current";
  EXPECT_EQ(std::string(large, large + 100000), std::string(100000, '\0'));
  std::memset(large, 0x5A, 100000); // all of it is usable
}

TEST_F(RecordArenaTest, ZeroingIsDoneOnlyWhenAsked) {
  auto* first = static_cast<unsigned char*>(Piece(32));
  std::memset(first, 0xEE, 32);
  ReleaseRecordArena(session_.get(), &arena_);
  auto* again = static_cast<unsigned char*>(Piece(32, 1));
  ASSERT_EQ(again, first) << "the released slab is handed out again";
  EXPECT_EQ(std::vector<unsigned char>(again, again + 32), std::vector<unsigned char>(32, 0));
}

TEST_F(RecordArenaTest, ReleaseGivesEveryBlockBackToThePool) {
  for (int count = 0; count < 3000; ++count)
    ASSERT_NE(Piece(100), nullptr);
  ASSERT_NE(Piece(70000), nullptr);
  const DWORD blocks = arena_.block_count;
  EXPECT_EQ(blocks, 6u); // five slabs and the large piece
  ReleaseRecordArena(session_.get(), &arena_);
  EXPECT_TRUE(BlocksInUse().empty());
  EXPECT_EQ(arena_.block_count, 0u);
  EXPECT_EQ(arena_.room, 0u);
  EXPECT_EQ(arena_.last_block, nullptr);

  // A second arena of the same shape takes no new block.
  size_t pooled = 0;
  for (velko_allocation* block = session_->internal->pool; block != nullptr; block = block->next)
    ++pooled;
  for (int count = 0; count < 3000; ++count)
    ASSERT_NE(Piece(100), nullptr);
  size_t now = 0;
  for (velko_allocation* block = session_->internal->pool; block != nullptr; block = block->next)
    ++now;
  EXPECT_EQ(now, pooled);
}

TEST_F(RecordArenaTest, ManyPiecesTakeNoHostHandle) {
  const size_t handles = HostTestLiveHandles();
  for (int count = 0; count < 100000; ++count)
    ASSERT_NE(Piece(48), nullptr);
  EXPECT_EQ(HostTestLiveHandles(), handles);
}

TEST_F(RecordArenaTest, NullArenaOrSessionGivesNothing) {
  EXPECT_EQ(RecordArenaAllocate(session_.get(), nullptr, VELKO_HERE, 8, 0), nullptr);
  EXPECT_EQ(RecordArenaAllocate(nullptr, &arena_, VELKO_HERE, 8, 0), nullptr);
  ReleaseRecordArena(session_.get(), nullptr);
}

/* ---- the test control ---- */

TEST_F(RecordArenaTest, TheNthTrackedRequestIsRefusedAsTheHostRefuses) {
  ASSERT_NE(Piece(8), nullptr); // the slab is there
  VelkoTestFailTrackedAllocation(3);
  EXPECT_NE(Piece(8), nullptr);
  EXPECT_NE(VelkoAllocatePtr(session_.get(), VELKO_HERE, 40, 0), nullptr);
  EXPECT_EQ(Piece(8), nullptr) << "a piece of a slab with room is refused too";
  EXPECT_NE(Piece(8), nullptr) << "only the third request";
  EXPECT_EQ(VelkoTestTrackedRequests(), 4);
  VelkoTestFailTrackedAllocation(1);
  EXPECT_EQ(VelkoAllocatePtr(session_.get(), VELKO_HERE, 70000, 0), nullptr);
  EXPECT_THAT(HostTestLogLines(),
              ElementsAre("Harrowmint: Unable to allocate 8 bytes of memory: Insufficient memory",
                          "Harrowmint: Unable to successfully allocate 70000 bytes of memory: "
                          "Insufficient memory"));
  EXPECT_EQ(HostTestMessages(),
            std::vector<HostTestMessage>({{"Harrowmint: Memory allocation error", 6},
                                          {"Harrowmint: Memory allocation error", 6}}));
  EXPECT_EQ(BlocksInUse().size(), 2u) << "a refused request leaves nothing in the pool";
}

/* A piece that opens a slab makes two requests: its own and the slab's. */
TEST_F(RecordArenaTest, RefusingFromTheNthRefusesEveryLaterRequest) {
  VelkoTestFailTrackedAllocationsFrom(2);
  EXPECT_EQ(Piece(8), nullptr);
  EXPECT_EQ(arena_.block_count, 0u);
  VelkoTestFailTrackedAllocationsFrom(3);
  EXPECT_NE(Piece(8), nullptr);
  EXPECT_EQ(VelkoTestTrackedRequests(), 2);
  for (int count = 0; count < 5; ++count)
    EXPECT_EQ(Piece(8), nullptr);
  EXPECT_EQ(VelkoAllocatePtrAndCopy(session_.get(), VELKO_HERE, "abc", 0), nullptr);
  VelkoTestFailTrackedAllocationsFrom(0);
  EXPECT_NE(Piece(8), nullptr);
  EXPECT_EQ(VelkoTestTrackedRequests(), 1);
}

/* ---- record nodes ---- */

TEST_F(RecordArenaTest, ArenaRecordHoldsItsDataBehindTheNode) {
  body_context context;
  record_storage* node =
      NewArenaRecord(session_.get(), &context, SIG_CD_TEXT, 11, VELKO_HERE);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->signature, SIG_CD_TEXT);
  EXPECT_EQ(node->length, 11u);
  EXPECT_EQ(node->flags, RECORD_IN_ARENA);
  EXPECT_EQ(node->ordinal, 0u);
  EXPECT_EQ(node->side_data, nullptr);
  EXPECT_EQ(node->next, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(node->data) % kRecordArenaAlignment, 0u);
  EXPECT_GE(node->data, reinterpret_cast<char*>(node + 1));
  EXPECT_EQ(node->data[11], '\0') << "the pad byte of an odd length";
  EXPECT_EQ(context.arena.block_count, 1u);
  context.records = node;
  ReleaseItemsRecords(session_.get(), &context);
  EXPECT_EQ(context.records, nullptr);
  EXPECT_EQ(context.arena.block_count, 0u);
  EXPECT_TRUE(BlocksInUse().empty());
}

/* Freeing one node follows its flags: nothing of the arena goes alone, but
 * data an action replaced with a tracked block of its own does, and a node
 * made elsewhere goes as before. */
TEST_F(RecordArenaTest, FreeingANodeFollowsItsFlags) {
  body_context context;
  record_storage* arena = NewArenaRecord(session_.get(), &context, SIG_CD_TEXT, 8, VELKO_HERE);
  record_storage* replaced =
      NewArenaRecord(session_.get(), &context, SIG_CD_PARAGRAPH, 2, VELKO_HERE);
  ASSERT_NE(arena, nullptr);
  ASSERT_NE(replaced, nullptr);
  replaced->data = static_cast<char*>(VelkoAllocatePtr(session_.get(), VELKO_HERE, 40, 1));
  replaced->flags |= RECORD_OWNS_DATA;
  auto* own = new record_storage;
  own->data = static_cast<char*>(VelkoAllocatePtr(session_.get(), VELKO_HERE, 20, 1));
  own->side_data = VelkoAllocatePtr(session_.get(), VELKO_HERE, 6, 1);
  own->flags = RECORD_OWNS_DATA;
  EXPECT_EQ(BlocksInUse().size(), 4u); // the slab and three blocks

  FreeRecordStorage(session_.get(), arena);
  FreeRecordStorage(session_.get(), replaced);
  FreeRecordStorage(session_.get(), own);
  const std::vector<const velko_allocation*> left = BlocksInUse();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0]->size, kRecordArenaSlabSize);
  EXPECT_THAT(HostTestLogLines(), ::testing::IsEmpty()) << "no pointer freed that is no block";
  ReleaseItemsRecords(session_.get(), &context);
  EXPECT_TRUE(BlocksInUse().empty());
}

/* ---- a large load ---- */

class ArenaLoadTest : public RecordArenaTest {
protected:
  void SetUp() override {
    RecordArenaTest::SetUp();
    ASSERT_EQ(NSFDbCreate("mem:arenatest", DBCLASS_NOTEFILE, FALSE), NOERROR);
    ASSERT_EQ(NSFDbOpen("mem:arenatest", &db_), NOERROR);
    ASSERT_EQ(NSFNoteCreate(db_, &note_), NOERROR);
  }

  void TearDown() override {
    NSFNoteClose(note_);
    NSFDbClose(db_);
    RecordArenaTest::TearDown();
  }

  DBHANDLE db_ = NULLHANDLE;
  NOTEHANDLE note_ = NULLHANDLE;
};

/* About 20000 records in ten items load with one host handle per stored
 * item (its value copy) and a few more, not one or more per record. */
TEST_F(ArenaLoadTest, ALargeLoadTakesAHandlePerItemNotPerRecord) {
  std::vector<BYTE> value;
  for (int record = 0; record < 2000; ++record) {
    const BYTE text[] = {0x85, 0xFF, 20, 0, 1, 0, 0, 10, 'r', 'e', 'c', 'o',
                         'r', 'd', ' ', 't', 'e', 'x', 't', static_cast<BYTE>('0' + record % 10)};
    value.insert(value.end(), text, text + sizeof text);
  }
  for (int item = 0; item < 10; ++item)
    ASSERT_EQ(NSFItemAppend(note_, 0, "Body", 4, TYPE_COMPOSITE, value.data(),
                            static_cast<DWORD>(value.size())),
              NOERROR);
  auto* item = new VelkoRTItem(session_.get());
  ASSERT_EQ(item->ConnectBackend(note_, "Body", 0), NOERROR);
  const size_t handles = HostTestLiveHandles();
  body_context* context = StoreItemsAndRecords(item, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
  ASSERT_NE(context, nullptr);
  ASSERT_EQ(context->load_status, NOERROR);
  size_t records = 0;
  for (record_storage* node = context->records; node != nullptr; node = node->next) {
    ++records;
    EXPECT_EQ(node->flags, RECORD_IN_ARENA);
  }
  EXPECT_EQ(records, 20000u);
  EXPECT_LE(HostTestLiveHandles() - handles, 10u + 4u) << HostTestLeakReport();
  CleanupBodyContext(session_.get(), context);
  delete context;
  delete item;
}

} // namespace
