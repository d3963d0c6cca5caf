// Test support for the golden corpus of HTML rendering
// (tests/render/golden): finding the cases, reading a case's header, and
// the strict parse of HTML or XHTML output with libxml2 (HTML parser for
// HTML, XML parser for XHTML with the HTML 4.01 named entities made
// numeric, fragments wrapped in one division, quoted-printable decoded
// first). Shared by the corpus check and the rendering harness; nothing
// here renders.
#ifndef VELKO_TESTS_RENDER_GOLDEN_FIXTURE_H
#define VELKO_TESTS_RENDER_GOLDEN_FIXTURE_H

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "cdbuild/cd_builder.h"
#include "cdbuild/cd_script.h"
#include "host/nsfdata.h"
#include "host/nsfnote.h"
#include "velko/velko.h"
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
  /* The note's other items: "$Links" and "$FormLinks" entries (40 bytes
   * each, as stored), "$KeepSent" (a 16-byte UNID). */
  std::vector<std::string> links;
  std::vector<std::string> form_links;
  bool hasFormLinks = false;
  std::string keep_sent;
  /* The link callback: its answer ("kind|text1|text2|text3"), what it must
   * receive, one line per call, and the messages the user must be shown. */
  bool hasLinkAnswer = false;
  std::string link_answer;
  std::vector<std::string> link_received;
  std::vector<std::string> messages;
  /* Files the run writes under the case's directory ("$DIR" in the
   * options): relative path and whole content; image resources stored in
   * the note's database before the run, and those the run makes: name and
   * image bytes. */
  std::vector<std::pair<std::string, std::string>> files;
  std::vector<std::pair<std::string, std::string>> resources;
  std::vector<std::pair<std::string, std::string>> made_resources;
  /* The note's attachments ("$FILE" items): file name and whole content. */
  std::vector<std::pair<std::string, std::string>> attachments;
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
    } else if (key == "links" || key == "form links") {
      std::vector<std::string> &entries = key == "links" ? header.links : header.form_links;
      header.hasFormLinks = header.hasFormLinks || key == "form links";
      for (size_t from = 0; from < value.size();) {
        const size_t blank = std::min(value.find(' ', from), value.size());
        if (blank > from)
          entries.emplace_back(value.substr(from, blank - from));
        from = blank + 1;
      }
    } else if (key == "keep sent") {
      header.keep_sent = value;
    } else if (key == "link answer") {
      header.hasLinkAnswer = true;
      header.link_answer = value;
    } else if (key == "link received") {
      header.link_received.emplace_back(value);
    } else if (key == "message") {
      header.messages.emplace_back(value);
    } else if (key == "file") {
      header.files.push_back(NameAndContent(value));
    } else if (key == "resource") {
      header.resources.push_back(NameAndContent(value));
    } else if (key == "resource made") {
      header.made_resources.push_back(NameAndContent(value));
    } else if (key == "attachment") {
      header.attachments.push_back(NameAndContent(value));
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

/* ---- the note's other items and the link callback ---- */

/* The value of a link table: the count, then the entries (the item's type
 * word comes from NSFItemAppend). */
inline STATUS AppendLinkTable(NOTEHANDLE note, const char *name,
                              const std::vector<std::string> &entries) {
  cdbuild::Bytes value = {static_cast<BYTE>(entries.size()), 0};
  for (const std::string &entry : entries) {
    const std::optional<cdbuild::Bytes> link = cdbuild::ParseHex(entry);
    if (!link || link->size() != 40)
      return 1; // a header that does not say 40 bytes stores no note
    value.insert(value.end(), link->begin(), link->end());
  }
  return NSFItemAppend(note, 0, name, static_cast<WORD>(strlen(name)), TYPE_NOTEREF_LIST,
                       value.data(), static_cast<DWORD>(value.size()));
}

/* The items the header names besides the body. */
inline STATUS AppendNoteItems(NOTEHANDLE note, const Header &header) {
  if (!header.links.empty())
    if (STATUS status = AppendLinkTable(note, "$Links", header.links); status != NOERROR)
      return status;
  if (header.hasFormLinks)
    if (STATUS status = AppendLinkTable(note, "$FormLinks", header.form_links); status != NOERROR)
      return status;
  if (!header.keep_sent.empty()) {
    const std::optional<cdbuild::Bytes> unid = cdbuild::ParseHex(header.keep_sent);
    if (!unid || unid->size() != 16)
      return 1;
    cdbuild::Bytes value = {0, 0}; // the word after the type word
    value.insert(value.end(), unid->begin(), unid->end());
    if (STATUS status = NSFItemAppend(note, 0, "$KeepSent", 9, TYPE_NOTEREF_LIST, value.data(),
                                      static_cast<DWORD>(value.size()));
        status != NOERROR)
      return status;
  }
  for (const auto &[name, content] : header.attachments) {
    const fs::path source =
        fs::path(::testing::TempDir()) / ("velko_attachment_" + std::to_string(getpid()));
    std::ofstream(source, std::ios::binary) << content;
    const STATUS status = NSFNoteAttachFile(note, "$FILE", 5, source.c_str(), name.c_str(), 0);
    fs::remove(source);
    if (status != NOERROR)
      return status;
  }
  return NOERROR;
}

/* The link callback of a case: what it answers and what it was handed. */
struct link_callback_state {
  std::string answer; /* "kind|text1|text2|text3" */
  std::vector<std::string> received;
};
inline link_callback_state &LinkCallbackState() {
  static link_callback_state state;
  return state;
}

inline std::string TextOr(const char *text, WORD length) {
  return text != nullptr ? std::string(text, length) : std::string("(null)");
}

/* A parsed ID as the 32 digits it was read from. */
inline std::string IdDigits(const UNIVERSALNOTEID &id) {
  char digits[40];
  snprintf(digits, sizeof digits, "%.8X%.8X%.8X%.8X", static_cast<unsigned>(id.File[1]),
           static_cast<unsigned>(id.File[0]), static_cast<unsigned>(id.Note.Innards[1]),
           static_cast<unsigned>(id.Note.Innards[0]));
  return digits;
}

/* Records the call as "kind|replica text|replica ID|view ID|note ID|text1|
 * text2|text3" (the parsed IDs as the digits they come from: the replica
 * ID's second word first) and answers with the case's kind and texts 1 to
 * 3 (an empty text is left unset). */
inline WORD AnswerLink(VelkoRTChunk *chunk, WORD kind, const char *replicaText, WORD replicaLength,
                       TIMEDATE *replicaID, UNIVERSALNOTEID *viewID, UNIVERSALNOTEID *noteID,
                       const char *text1, WORD length1, const char *text2, WORD length2,
                       const char *text3, WORD length3) {
  char replica[24];
  snprintf(replica, sizeof replica, "%.8X%.8X", static_cast<unsigned>(replicaID->Innards[1]),
           static_cast<unsigned>(replicaID->Innards[0]));
  link_callback_state &state = LinkCallbackState();
  state.received.push_back(std::to_string(kind) + "|" + TextOr(replicaText, replicaLength) + "|" +
                           replica + "|" + IdDigits(*viewID) + "|" + IdDigits(*noteID) + "|" +
                           TextOr(text1, length1) + "|" + TextOr(text2, length2) + "|" +
                           TextOr(text3, length3));
  std::vector<std::string> parts;
  for (size_t from = 0;;) {
    const size_t bar = state.answer.find('|', from);
    parts.push_back(state.answer.substr(from, bar - from));
    if (bar == std::string::npos)
      break;
    from = bar + 1;
  }
  for (WORD slot = 1; slot < parts.size() && slot <= 3; ++slot) {
    if (!parts[slot].empty())
      chunk->SetEventRetString(slot, parts[slot].c_str(), static_cast<WORD>(parts[slot].size()));
  }
  return static_cast<WORD>(std::stoul(parts[0]));
}

} // namespace golden_testing

#endif
