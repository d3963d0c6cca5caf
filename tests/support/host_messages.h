// Test support for tests that read what the host showed or would show: the
// host's text of a status, and the texts of the messages captured since the
// host was reset (each checked to be a user message, type 6). GoogleTest-
// bound.
#ifndef VELKO_TESTS_SUPPORT_HOST_MESSAGES_H
#define VELKO_TESTS_SUPPORT_HOST_MESSAGES_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host_testing.h"
#include "host/osenv.h"

namespace note_testing {

inline std::string HostText(STATUS status) {
  char text[1100] = {};
  OSLoadString(NULLHANDLE, status, text, sizeof text);
  return text;
}

inline std::vector<std::string> MessageTexts() {
  std::vector<std::string> texts;
  for (const HostTestMessage& message : HostTestMessages()) {
    EXPECT_EQ(message.type, 6) << message.text;
    texts.push_back(message.text);
  }
  return texts;
}

} // namespace note_testing

#endif
