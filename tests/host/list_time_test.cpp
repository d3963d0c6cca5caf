// Text lists and TIMEDATE values of the host stand-in.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <string>

#include "host/osmem.h"
#include "host/status.h"
#include "host/textlist.h"
#include "host/timedate.h"
#include "tests/support/test_fixture.h"

namespace {

class TextListTest : public host_test::HostFixture {
protected:
  void TearDown() override {
    OSUnlockObject(handle_);
    EXPECT_EQ(OSMemFree(handle_), NOERROR);
    HostFixture::TearDown();
  }
  std::string Block() const {
    return std::string(static_cast<const char*>(list_), OSMemGetSize(handle_));
  }
  std::string Entry(BOOL prefixed, WORD n) const {
    char* text = nullptr;
    WORD length = 0;
    EXPECT_EQ(ListGetText(list_, prefixed, n, &text, &length), NOERROR);
    return std::string(text, length);
  }
  DHANDLE handle_ = NULLHANDLE;
  void* list_ = nullptr;
  WORD size_ = 0;
};

TEST_F(TextListTest, LayoutWithAndWithoutTheTypeWord) {
  ASSERT_EQ(ListAllocate(2, 10, TRUE, &handle_, &list_, &size_), NOERROR);
  EXPECT_EQ(size_, 4);
  EXPECT_EQ(OSMemGetSize(handle_), 4u + 2 * 2 + 10);
  EXPECT_EQ(ListGetNumEntries(list_, TRUE), 0);
  EXPECT_EQ(ListAddEntry(handle_, TRUE, &size_, 0, "alpha", 5), NOERROR);
  EXPECT_EQ(ListAddEntry(handle_, TRUE, &size_, 1, "beta", 4), NOERROR);
  EXPECT_EQ(size_, 17);
  EXPECT_EQ(Block().substr(0, 17), std::string("\x01\x05\x02\x00\x05\x00\x04\x00" "alphabeta", 17));
  EXPECT_EQ(ListGetNumEntries(list_, TRUE), 2);
  EXPECT_EQ(Entry(TRUE, 1), "beta");
  char* text = nullptr;
  WORD length = 0;
  EXPECT_EQ(ListGetText(list_, TRUE, 2, &text, &length), ERR_HOST_LIST_ENTRY);
  EXPECT_EQ(ListGetText(list_, TRUE, 0, nullptr, &length), NOERROR);
  EXPECT_EQ(length, 5);
  OSUnlockObject(handle_);
  EXPECT_EQ(OSMemFree(handle_), NOERROR);

  ASSERT_EQ(ListAllocate(1, 3, FALSE, &handle_, &list_, &size_), NOERROR);
  EXPECT_EQ(size_, 2);
  EXPECT_EQ(ListAddEntry(handle_, FALSE, &size_, 0, "abc", 3), NOERROR);
  EXPECT_EQ(size_, 7);
  EXPECT_EQ(Block(), std::string("\x01\x00\x03\x00" "abc", 7));
  EXPECT_EQ(Entry(FALSE, 0), "abc");
}

TEST_F(TextListTest, FullListRefusesTheEntryAndStaysUnchanged) {
  // Room: count 2 + one length 2 + 10 text bytes = 14 bytes.
  ASSERT_EQ(ListAllocate(1, 10, FALSE, &handle_, &list_, &size_), NOERROR);
  EXPECT_EQ(ListAddEntry(handle_, FALSE, &size_, 0, "abc", 3), NOERROR);
  EXPECT_EQ(ListAddEntry(handle_, FALSE, &size_, 1, "de", 2), NOERROR);
  const std::string before = Block();
  WORD size = size_;
  EXPECT_EQ(ListAddEntry(handle_, FALSE, &size, 2, "fg", 2), ERR_HOST_LIST_FULL);
  EXPECT_EQ(size, size_);
  EXPECT_EQ(Block(), before);
  EXPECT_EQ(ListAddEntry(handle_, FALSE, &size_, 2, "f", 1), NOERROR) << "fills the block exactly";
  EXPECT_EQ(size_, 14);
  EXPECT_EQ(ListAddEntry(handle_, FALSE, &size_, 3, "", 0), ERR_HOST_LIST_FULL);
  EXPECT_EQ(ListGetNumEntries(list_, FALSE), 3);
  EXPECT_EQ(Entry(FALSE, 1), "de");
}

TEST_F(TextListTest, MisuseAndAllocationFailureAreRefused) {
  HostTestFailAllocation(1);
  DHANDLE handle = 0x1234;
  void* list = &handle;
  EXPECT_EQ(ListAllocate(1, 10, TRUE, &handle, &list, &size_), ERR_MEMORY);
  EXPECT_EQ(handle, NULLHANDLE);
  ASSERT_EQ(ListAllocate(3, 10, TRUE, &handle_, &list_, &size_), NOERROR);
  EXPECT_EQ(ListAddEntry(handle_, TRUE, &size_, 1, "x", 1), ERR_HOST_BAD_ARGUMENT) << "not an append";
  EXPECT_EQ(ListAddEntry(handle_, TRUE, &size_, 0, nullptr, 1), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(ListAddEntry(NULLHANDLE, TRUE, &size_, 0, "x", 1), ERR_HOST_BAD_HANDLE);
  EXPECT_EQ(ListGetNumEntries(nullptr, TRUE), 0);
  EXPECT_EQ(ListGetText(nullptr, TRUE, 0, nullptr, nullptr), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(ListAllocate(1, 1, TRUE, nullptr, nullptr, nullptr), ERR_HOST_BAD_ARGUMENT);
}

TEST(TimeDate, TextIsAFixedFormatInUtc) {
  const struct {
    int64_t unixSeconds;
    const char* text;
  } cases[] = {{0, "01/01/1970 00:00:00"},          {1796594349, "12/06/2026 21:59:09"},
               {1709208000, "02/29/2024 12:00:00"}, {951868801, "03/01/2000 00:00:01"},
               {-1, "12/31/1969 23:59:59"},         {253402300799, "12/31/9999 23:59:59"},
               {-62135596800, "01/01/0001 00:00:00"}};
  for (const auto& c : cases) {
    const TIMEDATE td = TimeDateFromUnix(c.unixSeconds, 42);
    EXPECT_EQ(UnixFromTimeDate(td), c.unixSeconds);
    char text[80];
    WORD length = 0;
    ASSERT_EQ(ConvertTIMEDATEToText(nullptr, nullptr, &td, text, sizeof text, &length), NOERROR);
    EXPECT_EQ(length, TIMEDATE_TEXT_LENGTH);
    EXPECT_STREQ(text, c.text);
  }
  // Hundredths of a second since midnight, then the Julian day.
  const TIMEDATE later = TimeDateFromUnix(86400 + 3661, 57);
  EXPECT_EQ(later.Innards[0], 366157u);
  EXPECT_EQ(later.Innards[1], 2440589u);
}

TEST(TimeDate, TextNeedsRoomAndAValidTime) {
  const TIMEDATE td = TimeDateFromUnix(0);
  char text[TIMEDATE_TEXT_LENGTH + 1];
  std::memset(text, '#', sizeof text);
  WORD length = 99;
  EXPECT_EQ(ConvertTIMEDATEToText(nullptr, nullptr, &td, text, TIMEDATE_TEXT_LENGTH - 1, &length),
            ERR_HOST_BUFFER_TOO_SMALL);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(text[0], '#');
  EXPECT_EQ(ConvertTIMEDATEToText(nullptr, nullptr, &td, text, TIMEDATE_TEXT_LENGTH, &length), NOERROR);
  EXPECT_EQ(std::string(text, sizeof text), "01/01/1970 00:00:00#") << "no room for a NUL";
  const TIMEDATE bad[] = {{{8640000, td.Innards[1]}}, {{0, 0}}};
  for (const TIMEDATE* time : {&bad[0], &bad[1], static_cast<const TIMEDATE*>(nullptr)})
    EXPECT_EQ(ConvertTIMEDATEToText(nullptr, nullptr, time, text, sizeof text, &length),
              ERR_HOST_BAD_ARGUMENT);
}

TEST(TimeDate, CurrentTimeFollowsTheTestClock) {
  HostTestReset();
  const TIMEDATE fixed = TimeDateFromUnix(1796594349, 12);
  HostTestSetClock(&fixed);
  TIMEDATE now = {};
  OSCurrentTIMEDATE(&now);
  EXPECT_EQ(std::memcmp(&now, &fixed, sizeof now), 0);
  HostTestReset();
  // The system clock, not time(): time() may read a coarser clock that
  // lags behind it by a tick at a second's turn.
  const auto seconds = [] {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
  const auto before = seconds();
  OSCurrentTIMEDATE(&now);
  EXPECT_GE(UnixFromTimeDate(now), before);
  EXPECT_LE(UnixFromTimeDate(now), seconds());
}

} // namespace
