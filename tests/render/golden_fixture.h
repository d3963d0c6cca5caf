// Test support for the golden corpus of HTML rendering
// (tests/render/golden): finding the cases, reading a case's header, and
// the strict parse of HTML or XHTML output with libxml2 (HTML parser for
// HTML, XML parser for XHTML with the HTML 4.01 named entities made
// numeric, fragments wrapped in one division, quoted-printable decoded
// first). Shared by the corpus check and the rendering harness; nothing
// here renders.
#ifndef VELKO_TESTS_RENDER_GOLDEN_FIXTURE_H
#define VELKO_TESTS_RENDER_GOLDEN_FIXTURE_H

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "cdbuild/cd_script.h"
#include "tests/support/xml_check.h"

namespace golden_testing {

using xml_check::NumericEntities;
using xml_check::ParseErrors;

namespace fs = std::filesystem;

struct GoldenCase {
  std::string family;
  std::string name;
  fs::path script;
  fs::path expected;
};

inline void PrintTo(const GoldenCase &golden, std::ostream *out) {
  *out << golden.family << "/" << golden.name;
}

struct Header {
  bool hasOptions = false;
  std::string options;
  std::string generation;
  std::string chunk;
  std::string sink;
  std::vector<std::string> rules;
  /* Files the run writes under the case's directory ("$DIR" in the
   * options): relative path and whole content; image resources stored in
   * the note's database before the run, and those the run makes: name and
   * image bytes. */
  std::vector<std::pair<std::string, std::string>> files;
  std::vector<std::pair<std::string, std::string>> resources;
  std::vector<std::pair<std::string, std::string>> made_resources;
};

/* "name content": the name up to the first blank, the rest as it stands. */
inline std::pair<std::string, std::string> NameAndContent(std::string_view value) {
  const size_t blank = value.find(' ');
  if (blank == std::string_view::npos)
    return {std::string(value), std::string()};
  return {std::string(value.substr(0, blank)), std::string(value.substr(blank + 1))};
}

inline std::string ReadFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/* The header is the run of comment lines at the top: "# key: value". The
 * option string is taken exactly as it stands after "# options: ". */
inline Header ReadHeader(const std::string &script) {
  Header header;
  size_t at = 0;
  while (at < script.size() && script[at] == '#') {
    size_t end = script.find('\n', at);
    if (end == std::string::npos)
      end = script.size();
    const std::string_view line(script.data() + at + 1, end - at - 1);
    at = end + 1;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos)
      continue;
    std::string_view key = line.substr(0, colon);
    while (!key.empty() && key.front() == ' ')
      key.remove_prefix(1);
    std::string_view value = line.substr(colon + 1);
    if (!value.empty() && value.front() == ' ')
      value.remove_prefix(1);
    if (key == "options") {
      header.hasOptions = true;
      header.options = value;
    } else if (key == "generation") {
      header.generation = value;
    } else if (key == "chunk") {
      header.chunk = value;
    } else if (key == "sink") {
      header.sink = value;
    } else if (key == "rule") {
      header.rules.emplace_back(value);
    } else if (key == "file") {
      header.files.push_back(NameAndContent(value));
    } else if (key == "resource") {
      header.resources.push_back(NameAndContent(value));
    } else if (key == "resource made") {
      header.made_resources.push_back(NameAndContent(value));
    }
  }
  return header;
}

/* A case read in: its header, its script's records and its expected
 * output; a script that does not build fails the test that reads it. */
inline void ReadCase(const GoldenCase &golden, Header *header, cdbuild::Body *body,
                     std::string *expected) {
  const std::string script = ReadFile(golden.script);
  *header = ReadHeader(script);
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript(script, body, &error))
      << "line " << error.line << ": " << error.message;
  *expected = ReadFile(golden.expected);
}

/* Every case of the corpus, by family and name. */
inline std::vector<GoldenCase> FindCases() {
  std::vector<GoldenCase> cases;
  const fs::path root(VELKO_GOLDEN_DIR);
  std::error_code error;
  for (const auto &entry : fs::recursive_directory_iterator(root, error)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".cdscript")
      continue;
    GoldenCase golden;
    golden.family = entry.path().parent_path().filename().string();
    golden.name = entry.path().stem().string();
    golden.script = entry.path();
    golden.expected = fs::path(entry.path()).replace_extension(".html");
    cases.push_back(golden);
  }
  std::sort(cases.begin(), cases.end(), [](const GoldenCase &a, const GoldenCase &b) {
    return a.family != b.family ? a.family < b.family : a.name < b.name;
  });
  return cases;
}

/* The test name of a case: family_case. */
inline std::string CaseName(const ::testing::TestParamInfo<GoldenCase> &info) {
  std::string name = info.param.family + "_" + info.param.name;
  for (char &c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)))
      c = '_';
  return name;
}

inline bool IsFragment(const std::string &generation) {
  return generation.find("Fragment") != std::string::npos;
}

inline bool IsXhtml(const std::string &generation) { return generation.rfind("XHTML", 0) == 0; }

inline int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

/* Quoted-printable decoded: "=XX" is the byte, "=" before a line end is a
 * soft line break and goes with it. */
inline std::string DecodeQuotedPrintable(std::string_view text) {
  std::string decoded;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '=') {
      decoded += text[i];
      continue;
    }
    if (i + 2 < text.size() && text[i + 1] == '\r' && text[i + 2] == '\n') {
      i += 2;
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '\n') {
      i += 1;
      continue;
    }
    const int high = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
    const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
    if (high < 0 || low < 0) {
      decoded += text[i];
      continue;
    }
    decoded += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return decoded;
}

/* The text the parser sees for a case's output. */
inline std::string ParserInput(const std::string &output, const Header &header) {
  std::string text = output;
  if (header.options.find("ContentTransferEncoding=quoted-printable") != std::string::npos)
    text = DecodeQuotedPrintable(text);
  if (IsFragment(header.generation))
    text = "<div>" + text + "</div>";
  if (IsXhtml(header.generation))
    text = NumericEntities(text);
  return text;
}

inline std::string Joined(const std::vector<std::string> &lines) {
  std::string joined;
  for (const std::string &line : lines)
    joined += line + "\n";
  return joined;
}

} // namespace golden_testing

#endif
