// Test support for the record builder and command tests: expected bytes
// written as hex text, read by a parser of the tests' own (not the
// builder's), and bytes shown as hex in failure messages; temporary file
// names.
#ifndef VELKO_TESTS_SUPPORT_BYTES_SUPPORT_H
#define VELKO_TESTS_SUPPORT_BYTES_SUPPORT_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "velko/host_types.h"

namespace bytes_test {

using Bytes = std::vector<BYTE>;

/* Bytes from hex pairs separated by spaces; "Z12" stands for 12 zero
 * bytes. Anything else is a fault in the test itself. */
inline Bytes Hex(std::string_view text) {
  Bytes bytes;
  for (size_t at = 0, end = 0; at < text.size(); at = end + 1) {
    end = std::min(text.find(' ', at), text.size());
    const std::string token(text.substr(at, end - at));
    if (token.empty())
      continue;
    if (token[0] == 'Z')
      bytes.insert(bytes.end(), std::stoul(token.substr(1)), 0);
    else
      bytes.push_back(static_cast<BYTE>(std::stoul(token, nullptr, 16)));
  }
  return bytes;
}

inline std::string ShowHex(const Bytes& bytes) {
  std::string text;
  char pair[4];
  for (BYTE byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02X ", byte);
    text += pair;
  }
  return text;
}

/* A file name in the test temporary directory, unique to this process (the
 * same test may run at once in another build). */
inline std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "velko_tools_" + std::to_string(getpid()) + "_" + name;
}

} // namespace bytes_test

#endif
