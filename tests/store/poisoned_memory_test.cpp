// Built with AddressSanitizer, the memory no holder may touch is poisoned:
// a read one byte past a loaded record copied into its record slab, a read
// past the last record of a value copy that records are read from in
// place, a read of a tracked block after it went back to the pool, and a
// read past the request in a larger pool block handed out again are each
// reported. Other builds skip.
#include <gtest/gtest.h>

#include "store/tracked_memory.h"
#include "tests/support/note_fixture.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELKO_TEST_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VELKO_TEST_ADDRESS_SANITIZER 1
#endif

namespace {

// ASan's report: a poisoned granule is "use-after-poison"; a granule whose
// first bytes belong to a piece and whose next one is in use is named
// "unknown-crash"; past a heap block of the pool it is "heap-buffer-overflow".
[[maybe_unused]] constexpr char kReported[] =
    "AddressSanitizer: (use-after-poison|unknown-crash|heap-buffer-overflow) on address";

[[maybe_unused]] char ReadByte(const char* at) { return *static_cast<const volatile char*>(at); }

TEST(PoisonedMemory, ReadsPastWhatAHolderHoldsAreReported) {
#if !defined(VELKO_TEST_ADDRESS_SANITIZER)
  GTEST_SKIP() << "needs AddressSanitizer";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  note_testing::ResetHostCapturing();
  DBHANDLE db = NULLHANDLE;
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(note_testing::CreateDatabase("mem:poisoned", &db), NOERROR);
  ASSERT_EQ(NSFNoteCreate(db, &note), NOERROR);
  // A paragraph definition, which is converted and so copied behind its
  // node in the slab, between records read in place; a text record of 10
  // bytes ends the value.
  ASSERT_EQ(note_testing::AppendRecords(
                note, "Body",
                note_testing::Records({cdbuild::Paragraph(), note_testing::DefaultDefinition(1, 720),
                                       cdbuild::Paragraph(), cdbuild::Text("Hi")})),
            NOERROR);
  LSXLsiSession session;
  VelkoRTItem* item = note_testing::BindItem(&session, note, "Body");
  body_context* body = StoreItemsAndRecords(item, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
  ASSERT_NE(body, nullptr);
  ASSERT_EQ(body->load_status, NOERROR);
  const record_storage* definition = body->records->next;
  ASSERT_EQ(definition->flags & RECORD_IN_PLACE, 0);
  const DWORD length = definition->length;
  EXPECT_EQ(ReadByte(definition->data + length - 1), definition->data[length - 1]);
  EXPECT_DEATH(ReadByte(definition->data + length), kReported);
  const record_storage* text = definition->next->next;
  ASSERT_EQ(text->length, 10u);
  ASSERT_NE(text->flags & RECORD_IN_PLACE, 0);
  EXPECT_EQ(ReadByte(text->data + 9), 'i');
  EXPECT_DEATH(ReadByte(text->data + 12), kReported);

  // A pool of its own, whose first block is handed out again.
  LSXLsiSession pool;
  auto* freed = static_cast<char*>(VelkoAllocatePtr(&pool, VELKO_HERE, 100, 1));
  ASSERT_NE(freed, nullptr);
  VelkoDeallocatePtr(&pool, freed);
  EXPECT_DEATH(ReadByte(freed), kReported);
  auto* reused = static_cast<char*>(VelkoAllocatePtr(&pool, VELKO_HERE, 40, 1));
  ASSERT_EQ(reused, freed);
  EXPECT_EQ(ReadByte(reused + 39), '\0');
  EXPECT_DEATH(ReadByte(reused + 40), kReported);
  VelkoDeallocatePtr(&pool, reused);

  CleanupBodyContext(&session, body);
  delete body;
  note_testing::UnbindItem(item);
  NSFNoteClose(note);
  NSFDbClose(db);
  HostTestReset();
#endif
}

} // namespace
