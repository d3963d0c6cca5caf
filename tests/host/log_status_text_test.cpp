// The log's status argument and the texts of the engine's own codes: the
// status is taken as a type that variadic calls do not promote (va_start
// after a promoted parameter is undefined), the arguments behind it reach
// the line, and the engine's codes, those above 14 bits among them, read
// as words.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <type_traits>
#include <utility>

#include "host/host_testing.h"
#include "host/oslog.h"
#include "velko/status.h"

namespace {

template <typename Format, typename Status>
Status StatusParameter(void (*)(Format, Status, ...));
using LogStatus = decltype(StatusParameter(&AddInLogMessageText));
static_assert(std::is_same_v<decltype(+std::declval<LogStatus>()), LogStatus>,
              "the parameter before the variadic arguments must not be promoted");

TEST(LogStatusText, ArgumentsBehindTheStatusAndTheEnginesTextsReachTheLine) {
  HostTestReset();
  HostTestCaptureLog(true);
  AddInLogMessageText("%s %d %s", VELKO_ERR_FAILED, "a", 7, "b");
  AddInLogMessageText("%ld", VELKO_ERR_INVALID_NAME, 20013L);
  AddInLogMessageText("%s", VELKO_ERR_INVALID_SEQUENCE, "c");
  EXPECT_THAT(HostTestLogLines(),
              ::testing::ElementsAre("a 7 b: The operation failed",
                                     "20013: Invalid database path or item name",
                                     "c: The generated record sequence is not valid"));
  HostTestReset();
}

} // namespace
