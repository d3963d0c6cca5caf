// Record arenas: a piece larger than a slab gets a block of its own,
// release gives every block back to the pool, also of blocks moved from
// other arenas, no arena or session gives nothing, and a node is freed by
// the rule of its flags.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
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

/* Bytes given back return to the current slab only from the piece carved
 * last: the next piece starts where the given-back bytes began. */
TEST_F(RecordArenaTest, BytesGoBackOnlyFromThePieceCarvedLast) {
  char* first = static_cast<char*>(Piece(256));
  ASSERT_NE(first, nullptr);
  const size_t room = arena_.room;
  RecordArenaGiveBack(&arena_, first + 256, 64);
  EXPECT_EQ(arena_.room, room + 64);
  EXPECT_EQ(static_cast<char*>(Piece(8)), first + 192);

  char* second = static_cast<char*>(Piece(128));
  const size_t before = arena_.room;
  struct giveback {
    const char* what;
    char* end;
    size_t size;
  };
  const giveback refused[] = {
      {"an earlier piece", first + 256, 64},
      {"an end inside the piece", second + 64, 64},
      {"a size off the alignment", second + 128, 12},
      {"nothing", second + 128, 0},
  };
  for (const giveback& case_ : refused) {
    RecordArenaGiveBack(&arena_, case_.end, case_.size);
    EXPECT_EQ(arena_.room, before) << case_.what;
    EXPECT_EQ(arena_.free, second + 128) << case_.what;
  }
  RecordArenaGiveBack(nullptr, second + 128, 8);

  // Given back in two steps, the whole piece is carved again.
  RecordArenaGiveBack(&arena_, second + 128, 64);
  RecordArenaGiveBack(&arena_, second + 64, 64);
  EXPECT_EQ(arena_.room, before + 128);
  EXPECT_EQ(static_cast<char*>(Piece(128)), second);
}

TEST_F(RecordArenaTest, NullArenaOrSessionGivesNothing) {
  EXPECT_EQ(RecordArenaAllocate(session_.get(), nullptr, VELKO_HERE, 8, 0), nullptr);
  EXPECT_EQ(RecordArenaAllocate(nullptr, &arena_, VELKO_HERE, 8, 0), nullptr);
  ReleaseRecordArena(session_.get(), nullptr);
}

/* ---- moving arenas ---- */

/* Blocks moved to another arena keep their pieces, and go back to the pool
 * with the arena they moved to, also after a further move: the chain of
 * every arena must stay whole however often it moves. */
TEST_F(RecordArenaTest, MovedBlocksAreReleasedWithTheArenaTheyMovedTo) {
  // Two such pieces do not fit one slab: each piece opens a slab.
  constexpr size_t kPiece = kRecordArenaSlabSize / 2 + 8;
  struct move_case {
    const char* what;
    int to_slabs;
    int from_slabs;
  };
  const move_case cases[] = {
      {"into an empty arena", 0, 2},
      {"into an arena of one slab", 1, 1},
      {"behind several slabs", 2, 3},
  };
  for (const move_case& case_ : cases) {
    record_arena to{};
    record_arena from{};
    std::vector<std::pair<char*, char>> pieces;
    const auto fill = [&](record_arena* arena, int slabs, char mark) {
      for (int slab = 0; slab < slabs; ++slab) {
        auto* piece = static_cast<char*>(
            RecordArenaAllocate(session_.get(), arena, VELKO_HERE, kPiece, 0));
        ASSERT_NE(piece, nullptr);
        std::memset(piece, mark, kPiece);
        pieces.emplace_back(piece, mark);
      }
    };
    fill(&to, case_.to_slabs, 't');
    fill(&from, case_.from_slabs, 'f');

    MoveRecordArena(&to, &from);
    EXPECT_EQ(from.block_count, 0u) << case_.what;
    EXPECT_EQ(from.last_block, nullptr) << case_.what;
    EXPECT_EQ(to.block_count, static_cast<DWORD>(case_.to_slabs + case_.from_slabs))
        << case_.what;

    record_arena third{};
    fill(&third, 1, 'x');
    MoveRecordArena(&third, &to);
    EXPECT_EQ(third.block_count, static_cast<DWORD>(case_.to_slabs + case_.from_slabs + 1))
        << case_.what;
    for (const auto& [piece, mark] : pieces)
      EXPECT_EQ(std::string(piece, kPiece), std::string(kPiece, mark)) << case_.what;

    ReleaseRecordArena(session_.get(), &third);
    EXPECT_TRUE(BlocksInUse().empty()) << case_.what;
  }
}

/* ---- record nodes ---- */

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
  own->flags = RECORD_OWNS_DATA;
  EXPECT_EQ(BlocksInUse().size(), 3u); // the slab and two blocks

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

} // namespace
