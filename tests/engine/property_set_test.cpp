// The chunk property settings through AlterRichText on a note of a
// database file: each case stores a body built record by record, sets a
// property over a chunk in a session of its own (stored at once under
// AutoSave), and compares the body read back with the database opened
// anew against the body written by hand. Covered: section titles, button
// texts and anchor names (fixed fields kept, lengths as stored), the text
// of a chunk (with and without a colour from the font string), expanded
// paragraph definitions, and the refusal of caller texts too long for one
// record, which leaves the note as it was.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cdbuild/cd_builder.h"
#include "chunk/rtchunk_internal.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "store/vocabulary.h"
#include "tests/support/database_file_fixture.h"
#include "tests/support/note_fixture.h"
#include "tests/support/stored_values.h"
#include "tests/support/test_fixture.h"

namespace {

using Bytes = std::vector<BYTE>;
/* The bytes as hexadecimal pairs, so that a mismatch shows where. */
std::string Hex(const Bytes& bytes) {
  return host_test::Hex(std::string(bytes.begin(), bytes.end()));
}

/* The status of a service refused for this call. */
constexpr STATUS kRefused = 1028;

/* One setting: the chunk it works on and its arguments. */
struct setting {
  const char* chunk;
  WORD action;
  WORD p1;
  WORD p2;
  std::string s1;
  const char* s2;
  std::string result = {}; /* the session's result text before the run */
};

void PutWord(Bytes* record, size_t at, WORD value) {
  (*record)[at] = static_cast<BYTE>(value & 0xFF);
  (*record)[at + 1] = static_cast<BYTE>(value >> 8);
}

/* The record with its length word replaced and zero bytes added up to
 * `size` (a stored record padded as the engine builds it). */
Bytes Resized(Bytes record, WORD lengthWord, size_t size) {
  record.resize(size, 0);
  PutWord(&record, 2, lengthWord);
  return record;
}

const cdbuild::Font kFont{.face = 4, .attributes = 0x01, .color = 0, .size = 12};

class PropertySetTest : public DatabaseFileFixture<> {
protected:
  NOTEID Store(const std::vector<Bytes>& records) {
    DBHANDLE db = NULLHANDLE;
    EXPECT_EQ(NSFDbOpen(path_.c_str(), &db), NOERROR);
    const NOTEID id = note_testing::StoreNote(db, note_testing::Records(records));
    EXPECT_NE(id, 0u);
    NSFDbClose(db);
    return id;
  }

  STATUS Set(NOTEID id, const setting& set) {
    auto* session = new LSXLsiSession;
    auto* item = new VelkoRTItem(session);
    STATUS status = item->Connect("", path_.c_str(), id, "Body", 0);
    if (status == NOERROR) {
      item->AutoSave = 1;
      memcpy(session->result_text, set.result.data(), set.result.size());
      session->result_length = static_cast<WORD>(set.result.size());
      VelkoRTChunk* chunk = item->DefineChunk(set.chunk);
      status = chunk != nullptr ? chunk->AlterRichText(set.action, set.p1, set.p2, 0, 0,
                                                       set.s1.c_str(), set.s2, nullptr, nullptr)
                                : STATUS{VELKO_ERR_FAILED};
    }
    delete session;
    return status;
  }

  /* The records of the stored body after the setting, its items joined
   * (each value without its type word). */
  std::string After(const std::vector<Bytes>& records, const setting& set, STATUS expected) {
    const NOTEID id = Store(records);
    EXPECT_EQ(Set(id, set), expected);
    Bytes joined;
    for (const Bytes& value : note_testing::StoredBodyValues(path_, id, true))
      joined.insert(joined.end(), value.begin() + 2, value.end());
    return Hex(joined);
  }

  static std::string Expected(const std::vector<Bytes>& records) {
    return Hex(note_testing::Records(records));
  }

};

Bytes Definition() { return engine_test::PabDef(1); }

cdbuild::ButtonFields Button(const std::string& label) {
  return {.flags = 0x0003, .width = 1440, .font = kFont, .label = label};
}

cdbuild::SectionBarFields Bar(const std::string& title) {
  return {.flags = 0x00000102, .font = kFont, .color = 7, .title = title};
}

/* The empty text run in the default font that a rebuilt body not ending
 * in text gets as its last record. */
const Bytes kClosingRun = cdbuild::Text("");

Bytes TB(bool nested = false) { return engine_test::TableBegin(nested); }
Bytes TE(bool nested = false) { return engine_test::TableEnd(nested); }
Bytes C(BYTE row, BYTE column, bool nested = false) {
  return engine_test::Cell(row, column, nested);
}
Bytes T(const std::string& text) { return cdbuild::Text(text); }
std::string Repeated(const std::string& text, int times) {
  std::string repeated;
  for (int i = 0; i < times; ++i)
    repeated += text;
  return repeated;
}

/* A hotspot of the type, flags and data. */
Bytes Hot(WORD type, DWORD flags, const std::string& data, WORD signature = SIG_CD_HOTSPOTBEGIN) {
  return cdbuild::HotspotBegin(
      {.signature = signature, .type = type, .flags = flags, .data = data});
}

/* A URL hotspot. */
Bytes Hotspot() { return engine_test::HotspotBegin(SIG_CD_HOTSPOTBEGIN, 11); }

std::string Nuls(size_t count) { return std::string(count, '\0'); }

/* ---- renaming: the fixed part stays, text and lengths change ---- */

struct rename_case {
  const char* name;
  std::vector<Bytes> before;
  setting set;
  std::vector<Bytes> after;
};

std::vector<rename_case> RenameCases() {
  const Bytes def = Definition();
  const Bytes ref = cdbuild::PabRef(1);
  return {
      // Both bars of two sections take the title, NUL-terminated; a title
      // of even length gets its NUL and a pad byte inside the length.
      {"two section titles",
       {def, ref, cdbuild::SectionBar(Bar("First one")), cdbuild::Text("a"),
        cdbuild::SectionBar(Bar("Second")), cdbuild::Text("b")},
       {"Everything", ACTION_SET_SECTION_TITLE, 0, 2, "Ab", nullptr},
       {def, ref, cdbuild::SectionBar(Bar("Ab" + Nuls(2))), cdbuild::Text("a"),
        cdbuild::SectionBar(Bar("Ab" + Nuls(2))), cdbuild::Text("b")}},
      {"section title of odd length",
       {def, ref, cdbuild::SectionBar(Bar("x")), cdbuild::Text("a")},
       {"Everything", ACTION_SET_SECTION_TITLE, 0, 5, "Intro", nullptr},
       {def, ref, cdbuild::SectionBar(Bar("Intro" + Nuls(1))), cdbuild::Text("a")}},
      // The button keeps flags, width and font; its length word is the
      // unpadded length.
      {"button text of odd length",
       {def, ref, cdbuild::Button(Button("Old label")), cdbuild::Text("a")},
       {"Everything", ACTION_SET_BUTTON_TEXT, 0, 3, "Go!", nullptr},
       {def, ref, cdbuild::Button(Button("Go!")), cdbuild::Text("a")}},
      {"two buttons",
       {def, ref, cdbuild::Button(Button("A")), cdbuild::Button(Button("Bee"))},
       {"Everything", ACTION_SET_BUTTON_TEXT, 0, 4, "Next", nullptr},
       {def, ref, cdbuild::Button(Button("Next")), cdbuild::Button(Button("Next")), kClosingRun}},
      // Only the first anchor is renamed; the length word is even.
      {"first anchor only",
       {def, ref, cdbuild::Anchor("one"), cdbuild::Text("a"), cdbuild::Anchor("two")},
       {"Everything", ACTION_SET_ANCHOR_TEXT, 0, 0, "top", nullptr},
       {def, ref, Resized(cdbuild::Anchor("top"), 16, 16), cdbuild::Text("a"),
        cdbuild::Anchor("two"), kClosingRun}},
      {"anchor of even length",
       {def, ref, cdbuild::Anchor("abc")},
       {"Everything", ACTION_SET_ANCHOR_TEXT, 0, 0, "four", nullptr},
       {def, ref, cdbuild::Anchor("four"), kClosingRun}},
      // Every target record takes the frame name, in place or grown.
      {"target frames",
       {def, ref, cdbuild::Target("_top"), cdbuild::Text("a"), cdbuild::Target("x")},
       {"Everything", ACTION_SET_TARGET_FRAME, 0, 4, "_new", nullptr},
       {def, ref, cdbuild::Target("_new"), cdbuild::Text("a"), cdbuild::Target("_new"),
        kClosingRun}},
      // A hotspot without a target record gets one before its end.
      {"target frame added to a hotspot",
       {def, ref, Hotspot(), cdbuild::Text("link"), cdbuild::HotspotEnd(), cdbuild::Text("b")},
       {"Hotspot 1", ACTION_SET_TARGET_FRAME, 0, 6, "_blank", nullptr},
       {def, ref, Hotspot(), cdbuild::Text("link"), cdbuild::Target("_blank"),
        cdbuild::HotspotEnd(), cdbuild::Text("b")}},
      // The first button or formula hotspot takes the formula: a URL
      // hotspot is passed over, the later button stays.
      {"action formula of another length",
       {def, ref, Hot(11, 0, "http://x"), Hot(3, 0, "old1"), cdbuild::HotspotEnd(), Hot(3, 0, "b"),
        cdbuild::HotspotEnd(), T("a")},
       {"Everything", ACTION_SET_ACTION_FORMULA, 0, 0, "", nullptr, "ab"},
       {def, ref, Hot(11, 0, "http://x"), Hot(3, 0, "ab"), cdbuild::HotspotEnd(), Hot(3, 0, "b"),
        cdbuild::HotspotEnd(), T("a")}},
      {"action formula in place",
       {def, ref, Hot(4, 0x10, "old1", SIG_CD_V4HOTSPOTBEGIN), T("a")},
       {"Everything", ACTION_SET_ACTION_FORMULA, 0, 0, "", nullptr, "wxyz"},
       {def, ref, Hot(4, 0x10, "wxyz", SIG_CD_V4HOTSPOTBEGIN), T("a")}},
      // An odd formula: the length word holds the padded length.
      {"action formula of odd length",
       {def, ref, Hot(3, 0x20, "zz"), T("a")},
       {"Everything", ACTION_SET_ACTION_FORMULA, 0, 0, "", nullptr, "abc"},
       {def, ref, Resized(Hot(3, 0x20, "abc"), 20, 20), T("a")}},
      // Each row without a label gets one at its second cell.
      {"row labels added",
       {def, ref, cdbuild::Paragraph(), TB(), C(0, 0), T("a"), C(0, 1), T("b"), C(1, 0), T("c"),
        C(1, 1), T("d"), TE(), cdbuild::Paragraph(), ref, T("x")},
       {"Table 1", ACTION_SET_ROW_LABEL, 0, 3, "Row", nullptr},
       {def, ref, cdbuild::Paragraph(), TB(), C(0, 0), T("a"), cdbuild::TableLabel("Row", 0),
        C(0, 1), T("b"), C(1, 0), T("c"), cdbuild::TableLabel("Row", 0), C(1, 1), T("d"), TE(),
        cdbuild::Paragraph(), ref, T("x")}},
      // A row's own label is rewritten (its flags kept), cut to 127
      // characters; the other row gets a new one.
      {"row label rewritten and cut",
       {def, ref, cdbuild::Paragraph(), TB(), C(0, 0), cdbuild::TableLabel("old", 1), T("a"),
        C(0, 1), C(1, 0), C(1, 1), TE(), T("x")},
       {"Table 1", ACTION_SET_ROW_LABEL, 0, 200, std::string(200, 'L'), nullptr},
       {def, ref, cdbuild::Paragraph(), TB(), C(0, 0),
        cdbuild::TableLabel(std::string(127, 'L'), 1), T("a"), C(0, 1), C(1, 0),
        cdbuild::TableLabel(std::string(127, 'L'), 0), C(1, 1), TE(), T("x")}},
      // A label of 43 three-byte characters keeps the 42 whole ones that
      // fit in 127 bytes.
      {"row label cut between whole characters",
       {def, ref, cdbuild::Paragraph(), TB(), C(0, 0), T("a"), C(0, 1), TE(), T("x")},
       {"Table 1", ACTION_SET_ROW_LABEL, 0, 129, Repeated("\x14\x4e\x2d", 43), nullptr},
       {def, ref, cdbuild::Paragraph(), TB(), C(0, 0), T("a"),
        cdbuild::TableLabel(Repeated("\x14\x4e\x2d", 42), 0), C(0, 1), TE(), T("x")}},
      // Rows of one cell get no label, neither in the table nor after it;
      // a nested table's rows are not the chunk's.
      {"no label outside the table",
       {def, ref, cdbuild::Paragraph(), TB(), C(0, 0), cdbuild::Paragraph(), TB(true),
        C(0, 0, true), C(0, 1, true), TE(true), C(1, 0), TE(), T("x")},
       {"Table 1", ACTION_SET_ROW_LABEL, 0, 3, "Row", nullptr},
       {def, ref, cdbuild::Paragraph(), TB(), C(0, 0), cdbuild::Paragraph(), TB(true),
        C(0, 0, true), C(0, 1, true), TE(true), C(1, 0), TE(), T("x")}},
  };
}

TEST_F(PropertySetTest, RenamingKeepsTheFixedFieldsAndWritesTextAndLengths) {
  for (const rename_case& c : RenameCases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(After(c.before, c.set, NOERROR), Expected(c.after));
  }
}

/* ---- the text of a chunk ---- */

TEST_F(PropertySetTest, SetTextLeavesOneRunWithTheNewTextAndKeepsEmptyRuns) {
  const Bytes def = Definition();
  const Bytes ref = cdbuild::PabRef(1);
  const std::vector<Bytes> before = {def,
                                     ref,
                                     cdbuild::Text("one", kFont),
                                     cdbuild::Text(""),
                                     cdbuild::Text("two"),
                                     cdbuild::Text(""),
                                     cdbuild::Text("three"),
                                     cdbuild::Paragraph(),
                                     ref,
                                     cdbuild::Text("after")};
  // The two empty runs meet once the text between them is gone and are
  // written as one.
  const std::vector<Bytes> after = {
      def, ref, cdbuild::Text("new", kFont), kClosingRun, cdbuild::Paragraph(), ref, kClosingRun};
  EXPECT_EQ(After(before, {"Everything", ACTION_SET_TEXT, PROP_TEXT, 3, "new", nullptr}, NOERROR),
            Expected(after));
}

TEST_F(PropertySetTest, SetTextWithAColourWrapsTheTextInBeginColourAndEnd) {
  const Bytes def = Definition();
  const Bytes ref = cdbuild::PabRef(1);
  const std::vector<Bytes> before = {def, ref, cdbuild::Text("old", kFont)};
  cdbuild::Font red = kFont;
  red.color = 2;
  const std::vector<Bytes> after = {
      def,
      ref,
      cdbuild::Begin(SIG_CD_TEXT, 0),
      cdbuild::Text("red text", red),
      cdbuild::Color({.color = {.flags = 0x0001, .red = 0xFF, .green = 0, .blue = 0}}),
      cdbuild::End(SIG_CD_TEXT, 0)};
  EXPECT_EQ(
      After(before, {"Everything", ACTION_SET_TEXT, PROP_TEXT, 8, "red text", "RED"}, NOERROR),
      Expected(after));
}

/* No text is the empty text, whatever length comes with it. */
TEST_F(PropertySetTest, SetTextWithoutTextLeavesAnEmptyRun) {
  const Bytes def = Definition();
  const Bytes ref = cdbuild::PabRef(1);
  const std::vector<Bytes> before = {def, ref, cdbuild::Text("old", kFont)};
  const NOTEID id = Store(before);
  auto* session = new LSXLsiSession;
  auto* item = new VelkoRTItem(session);
  ASSERT_EQ(item->Connect("", path_.c_str(), id, "Body", 0), NOERROR);
  item->AutoSave = 1;
  VelkoRTChunk* chunk = item->DefineChunk("Everything");
  ASSERT_NE(chunk, nullptr);
  EXPECT_EQ(chunk->AlterRichText(ACTION_SET_TEXT, PROP_TEXT, 35, 0, 0, nullptr, nullptr, nullptr,
                                 nullptr),
            NOERROR);
  delete session;
  const std::vector<Bytes> stored = note_testing::StoredBodyValues(path_, id, true);
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(Hex(Bytes(stored[0].begin() + 2, stored[0].end())),
            Expected({def, ref, cdbuild::Text("", kFont)}));
}

/* ---- paragraph definitions ---- */

/* A definition as stored, widened to the extended form: 90 bytes, the
 * extension flag (0x8000 of the word at 68), ExtFlags 1 at 82 and Flags3
 * 4 at 86; what it had is kept. */
Bytes Widened(const Bytes& stored) {
  Bytes wide = Resized(stored, 90, 90);
  wide[69] = static_cast<BYTE>(wide[69] | 0x80);
  PutWord(&wide, 82, 1);
  PutWord(&wide, 86, 4);
  return wide;
}

TEST_F(PropertySetTest, ExpandPabDefsWidensShortDefinitionsOnly) {
  // Without extension words, with them, and the full extended form.
  const Bytes bare = engine_test::PabDef(1, 1440, false);
  const Bytes extended = engine_test::PabDef(2, 720, true);
  const Bytes full = cdbuild::PabDef({.id = 3,
                                      .extension = std::array<WORD, 6>{1, 2, 3, 4, 5, 6},
                                      .ext_flags = 1,
                                      .flags3 = 0x20});
  ASSERT_EQ(bare.size(), 70u);
  ASSERT_EQ(extended.size(), 82u);
  ASSERT_EQ(full.size(), 90u);
  const std::vector<Bytes> before = {bare,
                                     extended,
                                     full,
                                     cdbuild::PabRef(1),
                                     cdbuild::Text("a"),
                                     cdbuild::Paragraph(),
                                     cdbuild::PabRef(3),
                                     cdbuild::Text("b")};
  std::vector<Bytes> after = before;
  after[0] = Widened(bare);
  after[1] = Widened(extended);
  EXPECT_EQ(After(before, {"Everything", ACTION_EXPAND_PAB_DEFS, 0, 0, "", nullptr}, NOERROR),
            Expected(after));
}

/* ---- caller texts too long for one record ---- */

TEST_F(PropertySetTest, TextsPastTheLargestRecordAreRefusedAndTheNoteStaysAsItWas) {
  const Bytes def = Definition();
  const Bytes ref = cdbuild::PabRef(1);
  const std::vector<Bytes> body = {def,
                                   ref,
                                   cdbuild::SectionBar(Bar("t")),
                                   cdbuild::Button(Button("b")),
                                   cdbuild::Anchor("a"),
                                   cdbuild::Target("f"),
                                   Hot(3, 0, "f"),
                                   cdbuild::HotspotEnd(),
                                   cdbuild::Text("text")};
  const std::string longest(64400, 'x');
  const struct {
    const char* name;
    WORD action;
    WORD p2;
  } cases[] = {
      {"section title", ACTION_SET_SECTION_TITLE, 64368},
      {"button text", ACTION_SET_BUTTON_TEXT, 64367},
      {"anchor text", ACTION_SET_ANCHOR_TEXT, 0},
      {"text", ACTION_SET_TEXT, 64375},
      {"target frame", ACTION_SET_TARGET_FRAME, 64371},
      {"action formula", ACTION_SET_ACTION_FORMULA, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(
        After(body, {"Everything", c.action, PROP_TEXT, c.p2, longest, nullptr, longest}, kRefused),
        Expected(body));
  }
}

/* The largest texts that fit still make one record each. */
TEST_F(PropertySetTest, TextsUpToTheLargestRecordAreWritten) {
  const Bytes def = Definition();
  const Bytes ref = cdbuild::PabRef(1);
  const std::string title(64367, 't');
  const std::vector<Bytes> before = {def, ref, cdbuild::SectionBar(Bar("t"))};
  const std::vector<Bytes> after = {def, ref, cdbuild::SectionBar(Bar(title + Nuls(1))),
                                    kClosingRun};
  EXPECT_EQ(
      After(before, {"Everything", ACTION_SET_SECTION_TITLE, 0, 64367, title, nullptr}, NOERROR),
      Expected(after));
}

} // namespace
