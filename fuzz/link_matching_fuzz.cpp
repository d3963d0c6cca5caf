/*
 * Fuzz target for keyword link matching (LinkMatching and KeywordMatching)
 * on a body of fuzzed text runs with a fuzzed keyword table.
 *
 * Input: byte 0 holds the options (bit 0 Keyword mode, bits 1-2 MatchText=
 * whole, Starts, Ends or Substr, bit 3 ReplaceExtra=Yes, bit 4
 * SingleMatch=Yes, bits 5-7 MinLength= 0 to 7); byte 1 the keyword
 * documents (1 to 6, the byte taken modulo 6; with bit 7 set,
 * WikiMatching runs instead, the keyword documents its pages, and texts are
 * read through an alphabet of markup pieces; else bits 3-6 pick a mode of
 * kModes, 0 and those past the table the link or Keyword mode of byte 0);
 * then per document a length byte and that many bytes
 * of its keyword text; the rest is the body's text. Text bytes are read
 * through an alphabet of letters, blanks, punctuation, the value separator
 * '`' and LMBCS characters of two and three bytes; the body text is cut
 * into runs of 1 to 16 characters, every other run (by its first byte)
 * wrapped in a text envelope (begin, text effect, text, colour, end).
 *
 * Every keyword document also holds a text "Info" and a rich-text "Body",
 * which the value formulas and the insert modes read.
 *
 * Checked: the call either succeeds or leaves the note's body byte for
 * byte; every tracked block is given back; a body that was changed loads
 * whole and walks; in link mode, and in the modes that link or highlight
 * the matched text, the text of the text runs, read in order, is the text
 * it was; Keyword mode never changes the body. A broken invariant traps.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "cdbuild/cd_builder.h"
#include "fuzz/stored_body_checks.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"

namespace {

constexpr const char* kDatabase = "mem:link_matching_fuzz";
constexpr const char* kView = "Keywords";
constexpr const char* kPageView = "Pages";

/* Pieces of text a fuzz byte stands for. */
const char* const kAlphabet[] = {"a",  "b",  "c",  "A",  "B",     "k",     " ",  " ",
                                 ".",  ",",  "-",  "`",  "1",     "\x10\xA1", "\x10\xE9",
                                 "\x13\x82\xA0", "ab", "bc", "ca", "e"};

/* Pieces of wiki markup and its texts. */
const char* const kWikiAlphabet[] = {"((", "))", "(", ")", "|", "#", "a", "B", " ",  "\"",
                                     ":",  "http:", "google:", "tarno:", "mailto:", "wk:",
                                     "\x10\xA1", "/", "'", "~"};

bool wikiMode = false;

/* The modes bits 3-6 of byte 1 pick: the mode, the value formula, the
 * properties (a formula or options) and whether the visible text stays. */
struct fuzz_mode {
  WORD mode;
  const char* value;
  const char* properties;
  bool same_text;
};
const fuzz_mode kModes[] = {
    {0, nullptr, nullptr, false},
    {2801, "@Text(Info)", nullptr, false},
    {2802, "", nullptr, true},
    {2803, "Body", nullptr, false},
    {2805, "Info", nullptr, true},
    {2806, "Body", nullptr, false},
    {2386, "\"http://x.org/\" + Keyword", nullptr, true},
    {2386, "Info", "@Text(\"Hotspot=Mouseover\")", true},
    {2806, "Info + Keyword", nullptr, false},
};

std::string TextOf(const uint8_t* data, size_t size) {
  std::string text;
  for (size_t i = 0; i < size; ++i)
    text += wikiMode ? kWikiAlphabet[data[i] % (sizeof kWikiAlphabet / sizeof kWikiAlphabet[0])]
                     : kAlphabet[data[i] % (sizeof kAlphabet / sizeof kAlphabet[0])];
  return text;
}

DBHANDLE Database() {
  static const DBHANDLE db = [] {
    const DBHANDLE handle = note_testing::ProcessDatabase(kDatabase);
    check(HostTestCreateView(handle, kView, "SELECT Form = \"Keyword\"", nullptr, 0, nullptr) ==
          NOERROR);
    check(HostTestCreateView(handle, kPageView, "SELECT Form = \"Keyword\"", "Keyword", 0,
                             nullptr) == NOERROR);
    return handle;
  }();
  return db;
}

NOTEID KeywordDocument(const std::string& text) {
  return note_testing::StoreNoteWith(Database(), [&](NOTEHANDLE note) {
    STATUS status = NSFItemSetText(note, "Form", "Keyword", 7);
    if (status == NOERROR)
      status = NSFItemSetText(note, "Keyword", text.data(), static_cast<WORD>(text.size()));
    if (status == NOERROR)
      status = NSFItemSetText(note, "Info", "[i]", 3);
    if (status == NOERROR) {
      cdbuild::Body body;
      body.Add(cdbuild::PabDef({}));
      body.Add(cdbuild::PabRef(1));
      body.Add(cdbuild::Text("rich " + text));
      status = note_testing::AppendRecords(note, "Body", body.RecordBytes());
    }
    return status;
  });
}

/* The text of the body's text runs, in order. */
std::string RunText(const std::vector<note_testing::Bytes>& values) {
  std::string text;
  for (const note_testing::Bytes& value : values) {
    size_t at = 2;
    while (at + 2 <= value.size()) {
      const WORD first = static_cast<WORD>(value[at] | value[at + 1] << 8);
      size_t length = 0;
      if ((first & 0xFF00) == 0xFF00)
        length = at + 4 <= value.size() ? (value[at + 2] | value[at + 3] << 8) : 0;
      else if ((first & 0xFF00) == 0)
        length = at + 6 <= value.size() ? (value[at + 2] | value[at + 3] << 8 |
                                           value[at + 4] << 16 | value[at + 5] << 24)
                                        : 0;
      else
        length = value[at + 1];
      if (length == 0 || at + length > value.size())
        break;
      if (first == SIG_CD_TEXT && length >= 8)
        text.append(reinterpret_cast<const char*>(value.data() + at + 8), length - 8);
      at += length + (length & 1);
    }
  }
  return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2)
    return 0;
  const uint8_t options = data[0];
  const int documents = data[1] % 6 + 1;
  wikiMode = (data[1] & 0x80) != 0;
  size_t at = 2;
  std::vector<NOTEID> keywordNotes;
  Database();
  for (int d = 0; d < documents && at < size; ++d) {
    const size_t length = data[at] % 12 + 1;
    ++at;
    const size_t taken = length < size - at ? length : size - at;
    keywordNotes.push_back(KeywordDocument(TextOf(data + at, taken)));
    at += taken;
  }

  cdbuild::Body body;
  body.Add(cdbuild::PabDef({}));
  body.Add(cdbuild::PabRef(1));
  std::string visible;
  while (at < size) {
    const size_t length = data[at] % 16 + 1;
    const size_t taken = length < size - at ? length : size - at;
    const std::string text = TextOf(data + at, taken);
    const bool wrapped = (data[at] & 0x10) != 0;
    at += taken;
    visible += text;
    if (wrapped) {
      body.Add(cdbuild::Begin(SIG_CD_TEXT, 0));
      body.Add(cdbuild::Sized(SIG_CD_TEXTEFFECT, 8));
    }
    body.Add(cdbuild::Text(text));
    if (wrapped) {
      body.Add(cdbuild::Color({}));
      body.Add(cdbuild::End(SIG_CD_TEXT, 0));
    }
  }
  const note_testing::Bytes bytes = body.RecordBytes();

  static const char* const kMatchText[] = {"", "MatchText=Starts ", "MatchText=Ends ",
                                           "MatchText=Substr "};
  std::string properties = kMatchText[(options >> 1) & 3];
  if ((options & 0x08) != 0)
    properties += "ReplaceExtra=Yes ";
  properties += (options & 0x10) != 0 ? "SingleMatch=Yes " : "SingleMatch=No ";
  properties += "MinLength=" + std::to_string(options >> 5);
  const size_t modeIndex = (data[1] >> 3) & 0x0F;
  const fuzz_mode mode = modeIndex < sizeof kModes / sizeof kModes[0] ? kModes[modeIndex]
                                                                       : kModes[0];
  const bool keywordMode = mode.mode == 0 && (options & 1) != 0;
  if (mode.properties != nullptr)
    properties = mode.properties;

  RunOnStoredBody(kDatabase, bytes.data(), bytes.size(), 1,
                  [&](LSXLsiSession* session, NOTEHANDLE note) {
                    const auto before = note_testing::ItemValues(note, "Body");
                    CheckChunkOperation(session, note, "Everything", [&](VelkoRTChunk* chunk) {
                      if (wikiMode) {
                        static const char* const kWikiOptions[] = {
                            "", "Tag=wk", "WikiDelimiters=[[]]", "ResolveTags=No"};
                        return chunk->WikiMatching(options & 1 ? "@" : "", kDatabase, kPageView,
                                                   "Keyword", "", kWikiOptions[options >> 6]);
                      }
                      const STATUS status =
                          keywordMode
                              ? chunk->KeywordMatching("", kDatabase, kView, "Keyword", "",
                                                       properties.c_str())
                          : mode.mode != 0
                              ? chunk->LinkMatching("", kDatabase, kView, "Keyword", mode.value,
                                                    properties.c_str(), mode.mode)
                              : chunk->LinkMatching("", kDatabase, kView, "Keyword", "",
                                                    properties.c_str(), 2386);
                      // The session keeps the keyword table for the next call; a
                      // refused call lets it go, so that no block stays held.
                      check(chunk->LinkMatching("", "", kView, "Keyword", "", "", 2386) ==
                            VELKO_ERR_INVALID_ARGUMENT);
                      return status;
                    });
                    const auto after = note_testing::ItemValues(note, "Body");
                    if (wikiMode)
                      return;
                    if (keywordMode)
                      check(after == before);
                    else if (mode.mode == 0 || mode.same_text)
                      check(RunText(after) == visible);
                    check(strlen(session->result_text) < VELKO_RESULT_TEXT_SIZE);
                  });
  for (NOTEID id : keywordNotes)
    check(NSFNoteDelete(Database(), id, 0) == NOERROR);
  return 0;
}
