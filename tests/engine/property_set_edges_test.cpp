// The property settings that work on paragraphs, pass-through runs and
// graphics, through AlterRichText and the chunk's property methods on a
// note of a database file: each case stores a body built record by record,
// runs in a session of its own (stored at once under AutoSave), and
// compares the body read back with the database opened anew against the
// body written by hand. Covered: hide formulas on the whole item and on
// one paragraph (set, removed, too long), pass-through HTML set on and off
// around a chunk and read back, the storage of a graphic moved into a file
// object and read back inline, and the two actions that change nothing
// (the mark clearing of action 54, the cell colour read of action 38).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cdbuild/cd_builder.h"
#include "chunk/rtchunk_internal.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "tests/support/database_file_fixture.h"
#include "tests/support/note_fixture.h"
#include "tests/support/stored_values.h"
#include "tests/support/test_fixture.h"

namespace {

using Bytes = std::vector<BYTE>;
using Operation = std::function<STATUS(VelkoRTChunk*)>;

constexpr STATUS kRefused = 1028;

std::string Hex(const Bytes& bytes) { return host_test::Hex(std::string(bytes.begin(), bytes.end())); }

void PutWord(Bytes* record, size_t at, WORD value) {
  (*record)[at] = static_cast<BYTE>(value & 0xFF);
  (*record)[at + 1] = static_cast<BYTE>(value >> 8);
}

/* A definition as a new item holds it, with the flags word given. */
Bytes Def(WORD id, WORD flags = 0x0100) {
  cdbuild::PabDefFields fields{.id = id, .tabs = {720}, .tab_count = 0, .flags = flags};
  fields.extension = std::array<WORD, 6>{1440, 0, 1440, 0, 0, 100};
  return cdbuild::PabDef(fields);
}
/* The flag of a definition whose paragraphs have a hide formula. */
constexpr WORD kHidden = 0x0800;

/* A definition longer than the fields the engine knows; cut, as the
 * engine stores such a definition again: its first 90 bytes, the header
 * saying so. */
Bytes LongDef(WORD id, WORD flags = 0x0100, bool cut = false) {
  Bytes record = Def(id, flags);
  record.insert(record.end(), 120, 'x');
  if (cut)
    record.resize(90);
  PutWord(&record, 2, static_cast<WORD>(record.size()));
  return record;
}

/* A hide record: the compiled formula of the PABID's paragraphs. */
Bytes Hide(WORD id, const std::string& formula) { return cdbuild::PabHide(id, formula); }

/* A paragraph formula reference (0xBC): the hide record's PABID, then the
 * paragraph's. */
Bytes FormulaRef(WORD hide, WORD paragraph) {
  Bytes payload(4);
  PutWord(&payload, 0, hide);
  PutWord(&payload, 2, paragraph);
  return cdbuild::Raw(SIG_CD_PABFORMULAREF, payload);
}

Bytes T(const std::string& text) { return cdbuild::Text(text); }
Bytes P() { return cdbuild::Paragraph(); }
Bytes R(WORD id) { return cdbuild::PabRef(id); }

/* The empty text run that a rebuilt body not ending in text gets last. */
const Bytes kClosingRun = cdbuild::Text("");

class PropertySetEdgesTest : public DatabaseFileFixture<> {
protected:
  NOTEID Store(const std::vector<Bytes>& records) {
    DBHANDLE db = NULLHANDLE;
    EXPECT_EQ(NSFDbOpen(path_.c_str(), &db), NOERROR);
    const NOTEID id = note_testing::StoreNote(db, note_testing::Records(records));
    EXPECT_NE(id, 0u);
    NSFDbClose(db);
    return id;
  }

  /* Runs the operation on the chunk of the stored note in a session of
   * its own, with the session's result text set first. */
  STATUS Run(NOTEID id, const char* definition, const Operation& operation,
             const std::string& result = {}) {
    auto* session = new LSXLsiSession;
    auto* item = new VelkoRTItem(session);
    STATUS status = item->Connect("", path_.c_str(), id, "Body", 0);
    if (status == NOERROR) {
      item->AutoSave = 1;
      memcpy(session->result_text, result.data(), result.size());
      session->result_length = static_cast<WORD>(result.size());
      VelkoRTChunk* chunk = item->DefineChunk(definition);
      status = chunk != nullptr ? operation(chunk) : STATUS{VELKO_ERR_FAILED};
    }
    delete session;
    return status;
  }

  /* The stored body's records, its items joined. */
  std::string Stored(NOTEID id) {
    Bytes joined;
    for (const Bytes& value : note_testing::StoredBodyValues(path_, id, false))
      joined.insert(joined.end(), value.begin() + 2, value.end());
    return Hex(joined);
  }

  static std::string Expected(const std::vector<Bytes>& records) {
    return Hex(note_testing::Records(records));
  }

  /* The text of a property read in a session of its own. */
  std::string Read(NOTEID id, const char* definition, const char* name) {
    std::string text;
    Run(id, definition, [&](VelkoRTChunk* chunk) {
      char buffer[256] = {};
      chunk->GetPropertyText(name, buffer, sizeof buffer - 1);
      text = buffer;
      return STATUS{NOERROR};
    });
    return text;
  }
};

Operation Action(WORD action, WORD p1, WORD p2 = 0, const char* s1 = nullptr) {
  return [=](VelkoRTChunk* chunk) {
    return chunk->AlterRichText(action, p1, p2, 0, 0, s1, nullptr, nullptr, nullptr);
  };
}

/* ---- text values ---- */

/* A value longer than a length word can count is refused whole, given as
 * the value (its length 0: its string length) or in a list of Name=value
 * pairs, with no message, and the note stays as it was: for the text, for
 * a paragraph style taken as it is, and for a formula compiled from it. A
 * short one in a list is set. */
TEST_F(PropertySetEdgesTest, TextValuePastALengthWordIsRefusedInEitherForm) {
  const std::vector<Bytes> body = {Def(1), R(1), T("one")};
  for (const char* property : {"Text", "ParagraphStyle", "HideFormula"}) {
    for (const size_t length : {size_t{65536}, size_t{70000}}) {
      const std::string value(length, 'x');
      const std::string pair = std::string(property) + "=" + value;
      for (const bool listed : {false, true}) {
        SCOPED_TRACE(std::string(property) + " " + std::to_string(length) +
                     (listed ? " in a list" : " given"));
        const NOTEID id = Store(body);
        HostTestClearMessages();
        int answer = -1;
        EXPECT_EQ(Run(id, "Everything",
                      [&](VelkoRTChunk* chunk) {
                        answer = listed ? chunk->SetPropertyText(pair.c_str(), nullptr, 0)
                                        : chunk->SetPropertyText(property, value.c_str(), 0);
                        return chunk->status;
                      }),
                  kRefused);
        EXPECT_EQ(answer, 0);
        EXPECT_TRUE(HostTestMessages().empty());
        EXPECT_EQ(Stored(id), Expected(body));
      }
    }
  }
  const NOTEID id = Store(body);
  EXPECT_EQ(Run(id, "Everything",
                [](VelkoRTChunk* chunk) {
                  EXPECT_EQ(chunk->SetPropertyText("Text=new", nullptr, 0), 1);
                  return chunk->status;
                }),
            NOERROR);
  EXPECT_EQ(Stored(id), Expected({Def(1), R(1), T("new")}));
}

/* ---- hide formulas ---- */

struct hide_case {
  const char* name;
  const char* chunk;
  std::vector<Bytes> before;
  std::string formula; /* the compiled formula in the result text */
  std::vector<Bytes> after;
};

std::vector<hide_case> HideCases() {
  const Bytes compiled = cdbuild::CompiledFormula("@IsNewDoc");
  const std::string f(compiled.begin(), compiled.end());
  return {
      // Each definition of the item changes in place and gets a hide
      // record of its own PABID; the old hide and formula-reference
      // records go; references stay.
      {"whole item",
       "Everything",
       {Def(1), Def(2), Hide(1, "old"), FormulaRef(1, 2), R(1), T("one"), P(), R(2),
        T("two")},
       f,
       {Def(1, 0x0100 | kHidden), Hide(1, f), Def(2, 0x0100 | kHidden), Hide(2, f), R(1),
        T("one"), P(), R(2), T("two")}},
      // An empty formula clears the flag and removes the hide and
      // formula-reference records.
      {"whole item, formula removed",
       "Everything",
       {Def(1, 0x0100 | kHidden), Hide(1, f), Def(2, 0x0100 | kHidden), FormulaRef(1, 2), R(1),
        T("one"), P(), R(2), T("two")},
       "",
       {Def(1), Def(2), R(1), T("one"), P(), R(2), T("two")}},
      // One paragraph of three sharing a definition: it takes a copy with
      // the formula under a new PABID (above every PABID of the item); the
      // paragraph after it gets the old definition again.
      {"one paragraph",
       "Paragraph 2",
       {Def(1), R(1), T("one"), P(), R(1), T("two"), P(), R(1), T("three")},
       f,
       {Def(1), R(1), T("one"), P(), Def(3, 0x0100 | kHidden), Hide(3, f), R(3), T("two"), P(),
        Def(1), R(1), T("three")}},
      // A definition longer than its known fields is saved for the
      // paragraph after the chunk cut to them, never read past.
      {"one paragraph, long definition",
       "Paragraph 2",
       {LongDef(1), R(1), T("one"), P(), R(1), T("two"), P(), R(1), T("three")},
       f,
       {LongDef(1), R(1), T("one"), P(), LongDef(3, 0x0100 | kHidden, true), Hide(3, f), R(3),
        T("two"), P(), LongDef(1, 0x0100, true), R(1), T("three")}},
      // Two cells that share a definition share its copy; the paragraph
      // after the table gets the old definition again.
      {"table",
       "Table 1",
       {Def(1), R(1), T("x"), P(), engine_test::TableBegin(), engine_test::Cell(0, 0), R(1),
        T("a"), engine_test::Cell(0, 1), R(1), T("b"), engine_test::TableEnd(), P(), R(1),
        T("y")},
       f,
       {Def(1), R(1), T("x"), P(), engine_test::TableBegin(), engine_test::Cell(0, 0),
        Def(3, 0x0100 | kHidden), Hide(3, f), R(3), T("a"), engine_test::Cell(0, 1), R(3), T("b"),
        engine_test::TableEnd(), P(), Def(1), R(1), T("y")}},
      // A chunk that opens inside a paragraph gives it a copy where it
      // opens.
      {"inside a paragraph",
       "Text 2",
       {Def(1), R(1), T("one"), T("two"), P(), R(1), T("three")},
       f,
       {Def(1), R(1), T("one"), Def(3, 0x0100 | kHidden), Hide(3, f), R(3), T("two"), P(), Def(1),
        R(1), T("three")}},
      // The paragraph takes a copy without the flag; the old hide record
      // stays for the paragraph after it that keeps the old definition.
      {"one paragraph, formula removed",
       "Paragraph 3",
       {Def(1), Def(2, 0x0100 | kHidden), Hide(2, f), R(2), T("one"), P(), R(2), T("two"), P(),
        R(2), T("three")},
       "",
       {Def(1), Def(2, 0x0100 | kHidden), Hide(2, f), R(2), T("one"), P(), Def(4), R(4), T("two"),
        P(), Def(2, 0x0100 | kHidden), R(2), T("three")}},
  };
}

TEST_F(PropertySetEdgesTest, HideFormulaFlagsTheDefinitionsAndWritesOneHideRecordEach) {
  for (const hide_case& c : HideCases()) {
    SCOPED_TRACE(c.name);
    const NOTEID id = Store(c.before);
    EXPECT_EQ(Run(id, c.chunk,
                  Action(ACTION_SET_HIDE_FORMULA, PROP_HIDEFORMULA,
                         static_cast<WORD>(c.formula.size())),
                  c.formula),
              NOERROR);
    EXPECT_EQ(Stored(id), Expected(c.after));
  }
}

/* The largest formula that fits one hide record is written; one byte
 * more is refused and the note stays as it was. */
TEST_F(PropertySetEdgesTest, HideFormulaUpToTheLargestRecordIsWrittenAndLongerRefused) {
  const std::vector<Bytes> body = {Def(1), R(1), T("one")};
  const DWORD largest = 64382 - 14;
  for (const DWORD length : {largest, largest + 1}) {
    SCOPED_TRACE(length);
    const NOTEID id = Store(body);
    const std::string formula(length, 'f');
    const bool fits = length == largest;
    EXPECT_EQ(Run(id, "Everything",
                  Action(ACTION_SET_HIDE_FORMULA, PROP_HIDEFORMULA, static_cast<WORD>(length)),
                  formula),
              fits ? NOERROR : kRefused);
    EXPECT_EQ(Stored(id), fits ? Expected({Def(1, 0x0100 | kHidden), Hide(1, formula), R(1),
                                           T("one")})
                               : Expected(body));
  }
}

/* Through the property methods: the value is compiled, the read action
 * gives the compiled formula back, and an empty value removes it again. */
TEST_F(PropertySetEdgesTest, HideFormulaPropertyIsCompiledReadBackAndRemoved) {
  const std::vector<Bytes> body = {Def(1), R(1), T("one")};
  const NOTEID id = Store(body);
  const Bytes compiled = cdbuild::CompiledFormula("@True");
  const std::string f(compiled.begin(), compiled.end());
  EXPECT_EQ(Run(id, "Everything",
                [](VelkoRTChunk* chunk) {
                  return chunk->SetPropertyText("HideFormula", "@True", 0) == 1
                             ? STATUS{NOERROR}
                             : chunk->status;
                }),
            NOERROR);
  EXPECT_EQ(Stored(id), Expected({Def(1, 0x0100 | kHidden), Hide(1, f), R(1), T("one")}));
  std::string read;
  Run(id, "Everything", [&](VelkoRTChunk* chunk) {
    const STATUS status = Action(ACTION_GET_HIDE_FORMULA, PROP_HIDEFORMULA)(chunk);
    read.assign(chunk->session->result_text, chunk->session->result_length);
    return status;
  });
  EXPECT_EQ(read, f);
  EXPECT_EQ(Run(id, "Everything",
                [](VelkoRTChunk* chunk) {
                  return chunk->SetPropertyText("HideFormula", "", 0) == 1 ? STATUS{NOERROR}
                                                                           : chunk->status;
                }),
            NOERROR);
  EXPECT_EQ(Stored(id), Expected(body));
}

/* ---- pass-through HTML ---- */

struct passthru_case {
  const char* name;
  std::vector<Bytes> before;
  int value;
  std::vector<Bytes> after;
  const char* third; /* PassthruHTML of the paragraph after the chunk */
};

/* The chunk "Paragraph 2" runs from the paragraph record that ends the
 * first paragraph to the second one's text. */
std::vector<passthru_case> PassthruCases() {
  const Bytes b = cdbuild::HtmlBegin();
  const Bytes e = cdbuild::HtmlEnd();
  return {
      // The chunk becomes one run of its own.
      {"on, around a paragraph",
       {Def(1), R(1), T("one"), P(), R(1), T("<b>two</b>"), P(), R(1), T("three")},
       1,
       {Def(1), R(1), T("one"), b, P(), R(1), T("<b>two</b>"), e, P(), R(1), T("three")},
       "FALSE"},
      // The run the chunk lay in is ended before it and begun again after.
      {"off, inside a run",
       {Def(1), R(1), b, T("one"), P(), R(1), T("two"), P(), R(1), T("three"), e},
       0,
       {Def(1), R(1), b, T("one"), e, P(), R(1), T("two"), b, P(), R(1), T("three"), e,
        kClosingRun},
       "TRUE"},
      // The chunk's own bracket goes; nothing after it was inside a run.
      {"off, a run of its own",
       {Def(1), R(1), T("one"), P(), R(1), b, T("two"), e, P(), R(1), T("three")},
       0,
       {Def(1), R(1), T("one"), P(), R(1), T("two"), P(), R(1), T("three")},
       "FALSE"},
      // Already inside a run that goes on: nothing changes.
      {"on, inside a run",
       {Def(1), R(1), b, T("one"), P(), R(1), T("two"), P(), R(1), T("three"), e},
       1,
       {Def(1), R(1), b, T("one"), P(), R(1), T("two"), P(), R(1), T("three"), e, kClosingRun},
       "TRUE"},
  };
}

TEST_F(PropertySetEdgesTest, PassthruHtmlMakesTheChunkOneRunOrNoneAndLeavesTheRestAlone) {
  for (const passthru_case& c : PassthruCases()) {
    SCOPED_TRACE(c.name);
    const NOTEID id = Store(c.before);
    EXPECT_EQ(Run(id, "Paragraph 2",
                  [&](VelkoRTChunk* chunk) {
                    return chunk->SetPropertyNumber("PassthruHTML", c.value) == 1
                               ? STATUS{NOERROR}
                               : chunk->status;
                  }),
              NOERROR);
    EXPECT_EQ(Stored(id), Expected(c.after));
    EXPECT_EQ(Read(id, "Paragraph 2", "PassthruHTML"), c.value != 0 ? "TRUE" : "FALSE");
    EXPECT_EQ(Read(id, "Paragraph 3", "PassthruHTML"), c.third);
  }
}

/* ---- actions that change nothing ---- */

TEST_F(PropertySetEdgesTest, MarkClearingAndTheCellColourReadLeaveTheBodyAsItWas) {
  const std::vector<Bytes> body = {Def(1), R(1), T("one"), P(), R(1), T("two")};
  const NOTEID id = Store(body);
  EXPECT_EQ(Run(id, "Paragraph 2", Action(ACTION_CLEAR_RECORD_MARK, 0)), NOERROR);
  EXPECT_EQ(Stored(id), Expected(body));
  std::string answer = "unset";
  EXPECT_EQ(Run(id, "Everything",
                [&](VelkoRTChunk* chunk) {
                  const STATUS status = Action(ACTION_GET_CELL_COLOR, PROP_CELLCOLOR)(chunk);
                  answer.assign(chunk->session->result_text, chunk->session->result_length);
                  return status;
                },
                ""),
            NOERROR);
  EXPECT_EQ(answer, "");
  EXPECT_EQ(Stored(id), Expected(body));
}

/* ---- graphic storage ---- */

const Bytes kImage = {'G', 'I', 'F', '8', '9', 'a', 2, 0, 3, 0, 0x80, 0, 0, 0x3B};

std::vector<Bytes> InlineGraphic() {
  return {Def(1),
          R(1),
          T("before"),
          cdbuild::Graphic({.dest_width = 720, .dest_height = 1080, .resize = 1}),
          cdbuild::ImageHeader({.image_type = 1,
                                .width = 2,
                                .height = 3,
                                .data_size = static_cast<DWORD>(kImage.size()),
                                .segment_count = 1}),
          cdbuild::ImageSegment(kImage),
          T("after")};
}

/* A storage link to the note's object of the name (of seven or eight
 * characters); its length word holds its even length. */
Bytes Link(const std::string& name) {
  Bytes link = cdbuild::StorageLink({.reference = name});
  link.resize(32, 0);
  PutWord(&link, 2, 32);
  return link;
}

/* The graphic with its image in the object "Graphic": the graphic record,
 * the link, and a bitmap header of the image header's size. */
std::vector<Bytes> StoredGraphic() {
  std::vector<Bytes> records = InlineGraphic();
  records[4] = Link("Graphic");
  records[5] = cdbuild::BitmapHeader({.width = 2, .height = 3, .bits_per_pixel = 0,
                                      .samples_per_pixel = 0});
  return records;
}

Operation SetStorage(const char* how) {
  return [how](VelkoRTChunk* chunk) {
    return chunk->SetPropertyText("GraphicStorage", how, 0) == 1 ? STATUS{NOERROR}
                                                                 : chunk->status;
  };
}

TEST_F(PropertySetEdgesTest, GraphicStorageMovesTheImageIntoAnObjectAndBringsItBack) {
  const NOTEID id = Store(InlineGraphic());
  EXPECT_EQ(Read(id, "Graphic 1", "GraphicStorage"), "Inline");
  EXPECT_EQ(Run(id, "Graphic 1", SetStorage("storage")), NOERROR);
  EXPECT_EQ(Stored(id), Expected(StoredGraphic()));
  EXPECT_EQ(Read(id, "Graphic 1", "GraphicStorage"), "Storage Link Attachment");
  EXPECT_EQ(Run(id, "Graphic 1", SetStorage("INLINE")), NOERROR);
  EXPECT_EQ(Stored(id), Expected(InlineGraphic()));
  EXPECT_EQ(Read(id, "Graphic 1", "GraphicStorage"), "Inline");
}

/* Every graphic of a larger chunk gets an object of its own, named by the
 * first free name, and both come back. */
TEST_F(PropertySetEdgesTest, GraphicStorageOfTwoGraphicsNamesTwoObjects) {
  const std::vector<Bytes> one = InlineGraphic();
  std::vector<Bytes> inline2 = one;
  inline2.insert(inline2.end(), one.begin() + 3, one.end());
  const std::vector<Bytes> linked = StoredGraphic();
  std::vector<Bytes> stored2 = linked;
  stored2.insert(stored2.end(), linked.begin() + 3, linked.end());
  stored2[8] = Link("Graphic0");
  const NOTEID id = Store(inline2);
  EXPECT_EQ(Run(id, "Everything", SetStorage("Storage")), NOERROR);
  EXPECT_EQ(Stored(id), Expected(stored2));
  EXPECT_EQ(Run(id, "Everything", SetStorage("inline")), NOERROR);
  EXPECT_EQ(Stored(id), Expected(inline2));
}

/* Nothing is dropped while its replacement is missing: a link to an
 * object the note does not hold stays, an image held elsewhere already is
 * not moved, and a way of storing that is neither is refused. */
TEST_F(PropertySetEdgesTest, GraphicStorageKeepsRecordsWithoutTheirReplacement) {
  const std::vector<Bytes> linked = StoredGraphic();
  const struct {
    const char* name;
    const char* how;
    STATUS status;
  } cases[] = {
      {"inline without the object", "inline", NOERROR},
      {"storage of a linked image", "storage", NOERROR},
      {"neither", "elsewhere", kRefused},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const NOTEID id = Store(linked);
    EXPECT_EQ(Run(id, "Graphic 1", SetStorage(c.how)), c.status);
    EXPECT_EQ(Stored(id), Expected(linked));
  }
}

} // namespace
