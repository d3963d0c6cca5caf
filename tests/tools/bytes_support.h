// Test support for the tools tests: expected bytes written as hex text,
// read by a parser of the tests' own (not the builder's), and bytes shown
// as hex in failure messages; temporary file names.
#ifndef VELKO_TESTS_TOOLS_BYTES_SUPPORT_H
#define VELKO_TESTS_TOOLS_BYTES_SUPPORT_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "velko/host_types.h"

namespace tools_test {

using Bytes = std::vector<BYTE>;

/* Bytes from hex pairs separated by spaces; "Z12" stands for 12 zero
 * bytes. Anything else is a fault in the test itself. */
inline Bytes Hex(std::string_view text) {
  Bytes bytes;
  size_t at = 0;
  while (at < text.size()) {
    if (text[at] == ' ') {
      ++at;
      continue;
    }
    if (text[at] == 'Z') {
      size_t end = at + 1;
      while (end < text.size() && text[end] != ' ')
        ++end;
      bytes.insert(bytes.end(), std::stoul(std::string(text.substr(at + 1, end - at - 1))), 0);
      at = end;
      continue;
    }
    bytes.push_back(static_cast<BYTE>(std::stoul(std::string(text.substr(at, 2)), nullptr, 16)));
    at += 2;
  }
  return bytes;
}

/* A file name in the test temporary directory, unique to this process (the
 * same test may run at once in another build). */
inline std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "velko_tools_" + std::to_string(getpid()) + "_" + name;
}

inline std::string ShowHex(const Bytes& bytes) {
  std::string text;
  for (BYTE byte : bytes) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02X ", byte);
    text += pair;
  }
  return text;
}

} // namespace tools_test

#endif
