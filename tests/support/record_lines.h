// The records of stored body values as lines of hex, one record a line
// (signature and bytes), so that a difference between two bodies names
// the record it is in.
#ifndef VELKO_TESTS_SUPPORT_RECORD_LINES_H
#define VELKO_TESTS_SUPPORT_RECORD_LINES_H

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/note_fixture.h"

namespace note_testing {

/* The records of one stored value (after its 2-byte type word). */
inline std::vector<std::string> RecordLines(const Bytes& value) {
  std::vector<std::string> lines;
  size_t at = 2;
  while (at + 2 <= value.size()) {
    const WORD first = static_cast<WORD>(value[at] | value[at + 1] << 8);
    size_t length = 0;
    if ((first & 0xFF00) == 0xFF00) // a word signature and a word length
      length = at + 4 <= value.size() ? (value[at + 2] | value[at + 3] << 8) : 0;
    else if ((first & 0xFF00) == 0) // a double-word length follows
      length = at + 6 <= value.size() ? (value[at + 2] | value[at + 3] << 8 |
                                         value[at + 4] << 16 | value[at + 5] << 24)
                                      : 0;
    else
      length = value[at + 1];
    if (length == 0 || at + length > value.size()) {
      lines.push_back("damaged at " + std::to_string(at));
      break;
    }
    std::string line;
    char hex[4];
    for (size_t byte = 0; byte < length; ++byte) {
      std::snprintf(hex, sizeof hex, "%02X", value[at + byte]);
      line += hex;
    }
    lines.push_back(line);
    at += length + (length & 1);
  }
  return lines;
}

/* The records of every value, in order. */
inline std::vector<std::string> RecordLines(const std::vector<Bytes>& values) {
  std::vector<std::string> lines;
  for (const Bytes& value : values) {
    const std::vector<std::string> more = RecordLines(value);
    lines.insert(lines.end(), more.begin(), more.end());
  }
  return lines;
}

/* The paragraph ids of the definitions (0xFF82) among record lines, in
 * order. */
inline std::vector<unsigned> DefinitionIds(const std::vector<std::string>& lines) {
  std::vector<unsigned> ids;
  for (const std::string& line : lines) {
    if (line.compare(0, 4, "82FF") == 0 && line.size() >= 12)
      ids.push_back(std::stoul(line.substr(10, 2) + line.substr(8, 2), nullptr, 16));
  }
  return ids;
}

} // namespace note_testing

#endif
