// Test support for the host tests: a fixture that resets the host and, when
// the test ends, finds every memory block it took given back; bytes shown
// as hex in failure messages.
#ifndef VELKO_TESTS_HOST_HOST_FIXTURE_H
#define VELKO_TESTS_HOST_HOST_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "host/host_testing.h"

namespace host_test {

/* A derived fixture closes its handles before calling TearDown here, so
 * that a block a close should free is counted as live. */
class HostFixture : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    live_ = HostTestLiveHandles();
  }
  void TearDown() override {
    EXPECT_EQ(HostTestLiveHandles(), live_) << HostTestLeakReport();
    HostTestReset();
  }
  size_t live_ = 0;
};

inline std::string Hex(const std::string& bytes) {
  std::string hex;
  char pair[4];
  for (unsigned char byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02X ", byte);
    hex += pair;
  }
  return hex;
}

} // namespace host_test

#endif
