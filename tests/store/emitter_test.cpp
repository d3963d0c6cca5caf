// The record emitter through its record stream: records fed one by one to
// CopyCDUpdated on an item's output body, then the output list inspected
// (signatures, lengths, ids, flags, bytes) and, written with SaveBodyItems,
// the stored items. Also the small record builders, the output body's
// items, and the size limit (a record over 64,382 bytes is refused and
// changes nothing).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "host/cdrecords.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osenv.h"
#include "host/status.h"
#include "import/html_import_state.h"
#include "store/body.h"
#include "store/emitter.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "store/tracked_memory_testing.h"
#include "tests/support/note_fixture.h"
#include "tests/support/test_fixture.h"
#include "cdbuild/cd_builder.h"
#include "velko/status.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

using Bytes = std::vector<BYTE>;

constexpr char kDbPath[] = "mem:emittertest";

constexpr char kCellOutside[] = "TARNO: Table cell outside of table.  Operation failed!";
constexpr char kNoCell[] = "TARNO: Table must contain at least one cell. Operation failed!";
constexpr char kEndOutside[] = "TARNO: Table end outside of table.  Operation failed!";
constexpr char kLayoutInTable[] = "TARNO: Layout region cannot be inside table.  Operation failed!";
constexpr char kNestedFile[] = "TARNO: Non-nestable file hotspot.  Operation failed!";
constexpr char kInvalidFormat[] = "TARNO: Invalid table format.  Operation failed!";
constexpr char kColumn64[] = "TARNO: Table cell in column 64 or beyond.  Operation failed!";
constexpr char kTooLong[] = "TARNO: Record longer than 64382 bytes.  Operation failed!";

/* ---- host-form records ---- */

/* The emitter takes records in host form. For byte- and word-length
 * records that is the stored form the builder writes; a paragraph
 * definition has two pad bytes behind its fixed part, and a double-word
 * header two behind its signature. */
using cdbuild::PabRef;
using cdbuild::Paragraph;
using cdbuild::PutWord;
using cdbuild::Sized;
using cdbuild::Text;

WORD GetWord(const BYTE* at) { return static_cast<WORD>(at[0] | (at[1] << 8)); }

Bytes Def(WORD id, WORD left = 1440, WORD right = 0, WORD first = 1440) {
  const Bytes stored = cdbuild::PabDef(
      {.id = id, .left = left, .right = right, .first_line = first, .flags = 0x0100});
  return cdbuild::WithTail(stored, Bytes(sizeof(CDPABDEFINITION) - 70));
}

Bytes TableBegin(WORD space = 0, WORD signature = SIG_CD_TABLEBEGIN) {
  return cdbuild::TableBegin(
      {.horizontal_space = space, .nested = signature == SIG_CD_NESTEDTABLEBEGIN});
}

struct cell_spec {
  BYTE row = 0x55; /* renumbered by the emitter */
  BYTE column = 0;
  WORD left = 0;
  WORD right = 1440;
  BYTE flags = 0;
  BYTE span = 0;
  BYTE border = 0;
  WORD v42 = 0;
  WORD signature = SIG_CD_TABLECELL;
};

/* The cell the fields describe; its row span stays 0. */
Bytes Cell(const cell_spec& spec) {
  return cdbuild::TableCell({.row = spec.row,
                             .column = spec.column,
                             .left = spec.left,
                             .right = spec.right,
                             .borders = spec.border,
                             .flags = spec.flags,
                             .v42_border = spec.v42,
                             .row_span = 0,
                             .column_span = spec.span,
                             .nested = spec.signature == SIG_CD_NESTEDTABLECELL});
}

Bytes Cell(BYTE column) {
  cell_spec spec;
  spec.column = column;
  return Cell(spec);
}

Bytes TableEnd(WORD signature = SIG_CD_TABLEEND) {
  return cdbuild::TableEnd(signature == SIG_CD_NESTEDTABLEEND);
}

/* A begin or end record (version 1) around the bracketed signature. */
Bytes Bracket(WORD signature, WORD bracketed) {
  return signature == SIG_CD_BEGIN ? cdbuild::Begin(bracketed, 1) : cdbuild::End(bracketed, 1);
}

Bytes Hotspot(WORD signature, WORD type) {
  return cdbuild::HotspotBegin({.signature = signature, .type = type});
}

Bytes Resource(WORD signature, WORD type) {
  Bytes record = Sized(signature, sizeof(CDRESOURCE));
  PutWord(record, offsetof(CDRESOURCE, Type), type);
  return record;
}

/* CDGRAPHIC in host form: an LSIG header (length at offset 4). */
Bytes Graphic() {
  Bytes record(sizeof(CDGRAPHIC));
  record[0] = static_cast<BYTE>(SIG_CD_GRAPHIC);
  record[4] = static_cast<BYTE>(sizeof(CDGRAPHIC));
  return record;
}

/* The signature as the record list holds it. */
WORD SignatureOf(const Bytes& record) {
  if (record[1] == 0xFF)
    return GetWord(record.data());
  return record[0];
}

/* ---- fixture ---- */

class EmitterTest : public ::testing::Test {
protected:
  void SetUp() override {
    handles_before_ = note_testing::ResetHostCapturing();
    ASSERT_EQ(note_testing::CreateDatabase(kDbPath, &db_), NOERROR);
    ASSERT_EQ(NSFNoteCreate(db_, &note_), NOERROR);
    session_ = new LSXLsiSession;
    item_ = note_testing::BindItem(session_, note_, "Body");
    item_->AutoMergeText = 1;
    gen_ = std::make_unique<generation_context>();
    gen_->session = session_;
    gen_->item = item_;
    session_->internal->previous_record_type = 0;
    ASSERT_EQ(CreateBodyItem(gen_.get()), NOERROR);
  }

  void TearDown() override {
    ReleaseSavedDefinitions(session_);
    gen_.reset();
    note_testing::UnbindItem(item_);
    NSFNoteClose(note_);
    NSFDbClose(db_);
    delete session_;
    EXPECT_EQ(HostTestLiveHandles(), handles_before_) << HostTestLeakReport();
    HostTestReset();
  }

  STATUS Emit(const Bytes& record) {
    return CopyCDUpdated(record.data(), SignatureOf(record), static_cast<DWORD>(record.size()),
                         gen_.get());
  }

  void EmitAll(std::initializer_list<Bytes> records) {
    for (const Bytes& record : records)
      ASSERT_EQ(Emit(record), NOERROR) << "record 0x" << std::hex << SignatureOf(record);
  }

  body_context* Output() { return item_->internal->output; }

  std::vector<record_storage*> Nodes() {
    std::vector<record_storage*> nodes;
    for (record_storage* node = Output()->records; node != nullptr; node = node->next)
      nodes.push_back(node);
    return nodes;
  }

  std::vector<WORD> Signatures() {
    std::vector<WORD> signatures;
    for (record_storage* node : Nodes())
      signatures.push_back(node->signature);
    return signatures;
  }

  std::vector<body_item*> Items() {
    std::vector<body_item*> items;
    for (body_item* item = Output()->items; item != nullptr; item = item->next)
      items.push_back(item);
    return items;
  }

  static Bytes NodeBytes(const record_storage* node) {
    return Bytes(node->data, node->data + node->length);
  }

  static WORD NodeWord(const record_storage* node, size_t offset) {
    return GetWord(reinterpret_cast<const BYTE*>(node->data) + offset);
  }

  /* Bytes written into the current body buffer. */
  Bytes BufferBytes() {
    return Bytes(gen_->write_start, gen_->write_position);
  }

  void SaveDefinitions(std::initializer_list<Bytes> definitions) {
    for (const Bytes& definition : definitions)
      ASSERT_EQ(SaveParagraphDefinition(session_, definition.data()), NOERROR);
  }

  std::vector<WORD> SavedIds() {
    std::vector<WORD> ids;
    const _internal_SESS* state = session_->internal;
    for (DWORD index = 0; index < state->saved_definition_count; ++index) {
      const char* entry = state->saved_definitions[index];
      ids.push_back(entry == nullptr ? 0
                                     : GetWord(reinterpret_cast<const BYTE*>(entry) +
                                               offsetof(CDPABDEFINITION, PABID)));
    }
    return ids;
  }

  static std::vector<std::string> Messages() { return note_testing::MessageTexts(); }

  /* Every stored value of the item "Body", type word first. */
  std::vector<Bytes> StoredValues() { return note_testing::ItemValues(note_, "Body"); }

  size_t handles_before_ = 0;
  DBHANDLE db_ = NULLHANDLE;
  NOTEHANDLE note_ = NULLHANDLE;
  LSXLsiSession* session_ = nullptr;
  VelkoRTItem* item_ = nullptr;
  std::unique_ptr<generation_context> gen_;
};

/* ---- appending ---- */

TEST_F(EmitterTest, AppendsEachRecordAsAnArenaNodeWithItsOrdinal) {
  const Bytes text = Text("abc");
  const Bytes color = Sized(SIG_CD_COLOR, sizeof(CDCOLOR));
  EmitAll({text, color});
  session_->internal->marker_switch = 1;
  EmitAll({Paragraph()});

  const std::vector<record_storage*> nodes = Nodes();
  ASSERT_EQ(nodes.size(), 3u);
  EXPECT_EQ(NodeBytes(nodes[0]), text);
  EXPECT_EQ(nodes[0]->data[text.size()], 0) << "odd length: one 0 byte follows";
  EXPECT_EQ(NodeBytes(nodes[1]), color);
  EXPECT_EQ(NodeBytes(nodes[2]), Paragraph());
  EXPECT_THAT(Signatures(), ElementsAre(SIG_CD_TEXT, SIG_CD_COLOR, SIG_CD_PARAGRAPH));
  EXPECT_EQ(nodes[0]->ordinal, 1u);
  EXPECT_EQ(nodes[1]->ordinal, 2u);
  EXPECT_EQ(nodes[2]->ordinal, 3u);
  EXPECT_EQ(nodes[0]->flags, RECORD_IN_ARENA);
  EXPECT_EQ(nodes[1]->flags, RECORD_IN_ARENA);
  EXPECT_EQ(nodes[2]->flags, RECORD_IN_ARENA | RECORD_MATCH_MARKER);
  EXPECT_EQ(nodes[1]->previous, nodes[0]);
  EXPECT_EQ(Output()->last_written, nodes[2]);
  EXPECT_EQ(item_->AutoMergeText, 0);
  EXPECT_EQ(session_->internal->previous_record_type, SIG_CD_PARAGRAPH);
  EXPECT_THAT(BufferBytes(), IsEmpty()) << "ordinary records go to the list only";
}

TEST_F(EmitterTest, AppendsBehindNodesLinkedInByOthers) {
  EmitAll({Text("a")});
  record_storage* first = Nodes()[0];
  record_storage* extra = NewArenaRecord(session_, Output(), SIG_CD_PARAGRAPH, 2, VELKO_HERE);
  ASSERT_NE(extra, nullptr);
  extra->ordinal = 2;
  first->InsertRecordAfter(extra);
  EmitAll({Text("b")});
  EXPECT_THAT(Signatures(), ElementsAre(SIG_CD_TEXT, SIG_CD_PARAGRAPH, SIG_CD_TEXT));
  EXPECT_EQ(Nodes()[2]->ordinal, 3u);
}

TEST_F(EmitterTest, RefusesWhatItCannotTake) {
  const Bytes text = Text("a");
  EXPECT_EQ(CopyCDUpdated(nullptr, SIG_CD_TEXT, 9, gen_.get()), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(CopyCDUpdated(text.data(), SIG_CD_TEXT, 9, nullptr), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(CopyCDUpdated(text.data(), SIG_CD_TEXT, 1, gen_.get()), VELKO_ERR_BAD_ARGUMENT);
  generation_context noItem;
  EXPECT_EQ(CopyCDUpdated(text.data(), SIG_CD_TEXT, 9, &noItem), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(Output()->records, nullptr);
}

TEST_F(EmitterTest, NeedsAnOutputBody) {
  VelkoRTItem other(session_);
  generation_context context;
  context.session = session_;
  context.item = &other;
  EXPECT_EQ(CopyCDUpdated(Text("a").data(), SIG_CD_TEXT, 9, &context), VELKO_ERR_BAD_ARGUMENT);
}

TEST_F(EmitterTest, HandsRecordsToARunningImportInstead) {
  body_context list;
  html_import_state import;
  import.session = session_;
  import.list_body = &list;
  gen_->import_target = &import;
  EXPECT_EQ(Emit(Text("a")), NOERROR);
  EXPECT_EQ(Output()->records, nullptr);
  EXPECT_EQ(session_->internal->previous_record_type, 0);
  ASSERT_NE(import.head, nullptr);
  EXPECT_EQ(import.head->signature, SIG_CD_TEXT);
  gen_->import_target = nullptr;
  ReleaseItemsRecords(session_, &list);
}

/* ---- record size ---- */

TEST_F(EmitterTest, TakesRecordsUpToTheConversionLimit) {
  const Bytes largest = Text(std::string(kLargestEmittedRecord - 8, 'x'));
  const Bytes larger = Text(std::string(kLargestEmittedRecord - 7, 'x'));
  EXPECT_EQ(Emit(largest), NOERROR);
  EXPECT_EQ(gen_->error_word, 0);
  EXPECT_EQ(Emit(larger), VELKO_ERR_INVALID_SEQUENCE);
  EXPECT_EQ(gen_->error_word, VELKO_ERR_BAD_STRUCTURE);
  ASSERT_EQ(Nodes().size(), 1u);
  EXPECT_EQ(Nodes()[0]->length, kLargestEmittedRecord);
  EXPECT_THAT(Messages(), ElementsAre(kTooLong));
}

/* ---- the size limit ----
 *
 * A record longer than 64,382 bytes, fed to CopyCDUpdated or built by
 * GenerateCDText, is refused with status 1027, error word 20025 and the
 * user message, and leaves the body being built, the emitter's state and
 * the item exactly as they were; a record of the limit itself is taken. */

/* Everything of the body being built that a refused record must leave
 * alone: the output records (signature, length, bytes), the write area,
 * the emitter's carried state and the item's AutoMergeText. */
struct build_state {
  std::vector<Bytes> records;
  Bytes buffer;
  const body_item* items = nullptr;
  WORD previous_record_type = 0;
  BYTE text_state = 0;
  DWORD table_level = 0;
  WORD current_pabid = 0;
  DWORD auto_merge_text = 0;
  bool operator==(const build_state&) const = default;
};

class RecordLimitTest : public EmitterTest {
protected:
  void SetUp() override {
    EmitterTest::SetUp();
    // A body under way: a paragraph reference and a text run.
    ASSERT_EQ(Emit(cdbuild::PabRef(1)), NOERROR);
    ASSERT_EQ(Emit(cdbuild::Text("ab")), NOERROR);
    item_->AutoMergeText = 1; /* every record taken clears it */
  }

  build_state State() const {
    build_state state;
    for (const record_storage* node = item_->internal->output->records; node != nullptr;
         node = node->next) {
      state.records.emplace_back(node->data, node->data + node->length);
    }
    state.buffer.assign(gen_->write_start, gen_->write_position);
    state.items = item_->internal->output->items;
    state.previous_record_type = session_->internal->previous_record_type;
    state.text_state = gen_->text_state;
    state.table_level = gen_->table_level;
    state.current_pabid = gen_->current_pabid;
    state.auto_merge_text = item_->AutoMergeText;
    return state;
  }
};

/* A text record of `length` bytes in all: its header and length - 8
 * characters. */
Bytes TextOfLength(size_t length) { return cdbuild::Text(std::string(length - 8, 'x')); }

TEST_F(RecordLimitTest, ARecordOverTheLimitIsRefusedAndChangesNothing) {
  const std::string over(64383 - 8, 'x');
  const int overLength = static_cast<int>(over.size());
  const Bytes fourPointTwelve = cdbuild::Text("", {.face = 4, .size = 12});
  // A record longer than its own header can say: the emitter takes a
  // DWORD length, so only the limit stands in the way.
  Bytes beyondAWord(70000, 'x');
  beyondAWord[0] = 0x85;
  beyondAWord[1] = 0xFF;
  struct Case {
    const char* name;
    std::function<STATUS()> emit;
  };
  const Case cases[] = {
      {"copied, one byte over", [&] { return Emit(TextOfLength(64383)); }},
      {"copied, the longest a header can say", [&] { return Emit(TextOfLength(65535)); }},
      {"copied, longer than a header can say",
       [&] { return CopyCDUpdated(beyondAWord.data(), SIG_CD_TEXT, 70000, gen_.get()); }},
      {"generated, one byte over",
       [&] { return GenerateCDText(over.data(), overLength, nullptr, gen_.get()); }},
      {"generated with a header, one byte over",
       [&] { return GenerateCDText(over.data(), overLength, fourPointTwelve.data(), gen_.get()); }},
      // The length alone is refused: the text is never read.
      {"generated, the longest length an int holds",
       [&] { return GenerateCDText(over.data(), 0x7FFFFFFF, nullptr, gen_.get()); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HostTestClearMessages();
    gen_->error_word = 0;
    const build_state before = State();
    EXPECT_EQ(c.emit(), VELKO_ERR_INVALID_SEQUENCE);
    EXPECT_EQ(gen_->error_word, VELKO_ERR_BAD_STRUCTURE);
    EXPECT_THAT(note_testing::MessageTexts(), ElementsAre(kTooLong));
    EXPECT_TRUE(State() == before) << "the body or the emitter's state changed";
  }
}

TEST_F(RecordLimitTest, ARecordOfTheLimitIsTaken) {
  for (const bool generated : {false, true}) {
    SCOPED_TRACE(generated ? "generated" : "copied");
    HostTestClearMessages();
    const size_t records = State().records.size();
    item_->AutoMergeText = 1;
    STATUS status = NOERROR;
    if (generated) {
      const std::string text(64382 - 8, 'y');
      status = GenerateCDText(text.data(), static_cast<int>(text.size()), nullptr, gen_.get());
    } else {
      status = Emit(TextOfLength(64382));
    }
    ASSERT_EQ(status, NOERROR);
    EXPECT_EQ(gen_->error_word, 0);
    EXPECT_THAT(note_testing::MessageTexts(), IsEmpty());
    const build_state after = State();
    ASSERT_EQ(after.records.size(), records + 1);
    const Bytes& last = after.records.back();
    EXPECT_EQ(last.size(), 64382u);
    // Signature 0xFF85, length 64382 (0xFB7E), face 1 and size 10 by default.
    EXPECT_THAT(Bytes(last.begin(), last.begin() + 8),
                ElementsAre(0x85, 0xFF, 0x7E, 0xFB, 1, 0, 0, 10));
    EXPECT_EQ(last.back(), generated ? 'y' : 'x');
    EXPECT_EQ(after.previous_record_type, SIG_CD_TEXT);
    EXPECT_EQ(after.auto_merge_text, 0u);
  }
}

/* ---- dropped records ---- */

TEST_F(EmitterTest, DropsAnEmptyTextAfterAnEmptyText) {
  EmitAll({Text(""), Text(""), Text(""), Text("a"), Text(""), Paragraph(), Text(""), Text("")});
  EXPECT_THAT(Signatures(), ElementsAre(SIG_CD_TEXT, SIG_CD_TEXT, SIG_CD_TEXT, SIG_CD_PARAGRAPH,
                                        SIG_CD_TEXT));
  EXPECT_EQ(Nodes()[1]->length, 9u);
  EXPECT_EQ(session_->internal->previous_record_type, SIG_CD_TEXT);
}

TEST_F(EmitterTest, DropsLargeParagraphMarkersWhileTheOptionWordIsSet) {
  const Bytes marker = Sized(SIG_CD_LARGEPARAGRAPH, 8);
  ASSERT_EQ(item_->internal->option_word, 1u) << "set from construction";
  EmitAll({marker});
  EXPECT_EQ(Output()->records, nullptr);
  EXPECT_EQ(session_->internal->previous_record_type, 0);
  item_->internal->option_word = 0;
  EmitAll({marker});
  EXPECT_THAT(Signatures(), ElementsAre(SIG_CD_LARGEPARAGRAPH));
}

TEST_F(EmitterTest, ImageDataItemsDropTextAndParagraphRecords) {
  item_->internal->image_data = 1;
  EmitAll({Def(1), PabRef(1), Bracket(SIG_CD_BEGIN, SIG_CD_TEXT), Text("a"),
           Sized(SIG_CD_TEXTEFFECT, 8), Bracket(SIG_CD_END, SIG_CD_TEXT),
           Graphic(), Bracket(SIG_CD_BEGIN, SIG_CD_GRAPHIC),
           Bracket(SIG_CD_END, SIG_CD_GRAPHIC), Paragraph()});
  EXPECT_THAT(Signatures(), ElementsAre(SIG_CD_GRAPHIC, SIG_CD_BEGIN, SIG_CD_END, SIG_CD_PARAGRAPH));
}

/* ---- paragraph ids ---- */

struct reference_case {
  const char* name;
  WORD forced, next, current, own;
  WORD id;                          /* the id the reference carries */
  WORD forced_after, next_after, current_after;
};

class ReferenceIdTest : public EmitterTest,
                        public ::testing::WithParamInterface<reference_case> {};

TEST_P(ReferenceIdTest, AssignsTheReferenceId) {
  const reference_case& c = GetParam();
  gen_->forced_pabid = c.forced;
  gen_->next_pabid = c.next;
  gen_->current_pabid = c.current;
  Bytes reference = PabRef(c.own);
  reference[1] = 6; /* a longer header is cut back to 4 */
  reference.resize(6);
  EmitAll({reference});
  ASSERT_EQ(Nodes().size(), 1u);
  EXPECT_EQ(NodeBytes(Nodes()[0]), PabRef(c.id));
  EXPECT_EQ(gen_->forced_pabid, c.forced_after);
  EXPECT_EQ(gen_->next_pabid, c.next_after);
  EXPECT_EQ(gen_->current_pabid, c.current_after);
}

INSTANTIATE_TEST_SUITE_P(
    Emitter, ReferenceIdTest,
    ::testing::Values(reference_case{"forced", 9, 8, 3, 5, 9, 0, 0, 3},
                      reference_case{"next", 0, 8, 3, 5, 8, 0, 0, 3},
                      reference_case{"own", 0, 0, 3, 5, 5, 0, 0, 3},
                      reference_case{"current", 0, 0, 3, 0, 3, 0, 0, 3},
                      reference_case{"first", 0, 0, 0, 0, 1, 0, 0, 1}),
    [](const auto& info) { return std::string(info.param.name); });

struct definition_case {
  const char* name;
  WORD forced, next, current, own;
  WORD id;
  WORD forced_after, next_after;
};

class DefinitionIdTest : public EmitterTest,
                         public ::testing::WithParamInterface<definition_case> {};

TEST_P(DefinitionIdTest, AssignsTheDefinitionIdAndMakesItCurrent) {
  const definition_case& c = GetParam();
  gen_->forced_pabid = c.forced;
  gen_->next_pabid = c.next;
  gen_->current_pabid = c.current;
  EmitAll({Def(c.own)});
  ASSERT_EQ(Nodes().size(), 1u);
  EXPECT_EQ(NodeBytes(Nodes()[0]), Def(c.id)) << "outside a table nothing else changes";
  EXPECT_EQ(gen_->current_pabid, c.id);
  EXPECT_EQ(gen_->forced_pabid, c.forced_after);
  EXPECT_EQ(gen_->next_pabid, c.next_after);
}

INSTANTIATE_TEST_SUITE_P(
    Emitter, DefinitionIdTest,
    ::testing::Values(definition_case{"forced", 9, 8, 3, 5, 9, 0, 8},
                      definition_case{"own", 0, 8, 3, 5, 5, 0, 8},
                      definition_case{"afterCurrent", 0, 0, 3, 0, 4, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

/* ---- adjacent references ---- */

TEST_F(EmitterTest, AReferenceRightAfterAReferenceIsFoldedIntoIt) {
  EmitAll({PabRef(5), PabRef(7)});
  ASSERT_EQ(Nodes().size(), 1u);
  EXPECT_EQ(NodeBytes(Nodes()[0]), PabRef(7));
  EmitAll({PabRef(7)});
  EXPECT_EQ(NodeBytes(Nodes()[0]), PabRef(7));
  EmitAll({Text("a"), PabRef(8)});
  EXPECT_THAT(Signatures(), ElementsAre(SIG_CD_PABREFERENCE, SIG_CD_TEXT, SIG_CD_PABREFERENCE));
  EXPECT_EQ(session_->internal->previous_record_type, SIG_CD_PABREFERENCE);
}

TEST_F(EmitterTest, AFoldedReferenceCarriesItsAssignedId) {
  gen_->current_pabid = 3;
  EmitAll({PabRef(5), PabRef(0)});
  ASSERT_EQ(Nodes().size(), 1u);
  EXPECT_EQ(NodeBytes(Nodes()[0]), PabRef(3)) << "never a reference to id 0";
  gen_->forced_pabid = 9;
  EmitAll({PabRef(4)});
  EXPECT_EQ(NodeBytes(Nodes()[0]), PabRef(9));
  EXPECT_EQ(gen_->forced_pabid, 0) << "the forced id was used";
}

TEST_F(EmitterTest, PassThroughFoldsByTheIdAsGiven) {
  gen_->pass_through = 1;
  gen_->current_pabid = 3;
  EmitAll({PabRef(5), PabRef(0)});
  ASSERT_EQ(Nodes().size(), 1u);
  EXPECT_EQ(NodeBytes(Nodes()[0]), PabRef(0));
}

/* ---- held-back paragraph definitions ---- */

TEST_F(EmitterTest, EmitsASavedDefinitionBeforeItsFirstReference) {
  const Bytes saved3 = Def(3, 100);
  const Bytes saved5 = Def(5, 200);
  const Bytes saved7 = Def(7, 300);
  SaveDefinitions({saved3, saved5, saved7});
  session_->internal->marker_switch = 1;
  EmitAll({Text("a"), PabRef(5)});

  EXPECT_THAT(Signatures(), ElementsAre(SIG_CD_TEXT, SIG_CD_PABDEFINITION, SIG_CD_PABREFERENCE));
  const std::vector<record_storage*> nodes = Nodes();
  EXPECT_EQ(NodeBytes(nodes[1]), saved5) << "as saved, without fix-ups";
  EXPECT_EQ(nodes[1]->flags, RECORD_IN_ARENA | RECORD_MATCH_MARKER);
  EXPECT_EQ(nodes[1]->ordinal, 2u);
  EXPECT_EQ(nodes[2]->ordinal, 3u);
  EXPECT_EQ(BufferBytes(), saved5) << "also copied into the body buffer";
  EXPECT_THAT(SavedIds(), ElementsAre(3, 7)) << "removed; the entries behind move down";
  EXPECT_EQ(session_->internal->saved_definitions[2], nullptr);

  EmitAll({Text("b"), PabRef(5)});
  EXPECT_EQ(Nodes().size(), 5u) << "emitted once only";
}

TEST_F(EmitterTest, ASavedDefinitionIsNotFoldedAway) {
  const Bytes saved = Def(5);
  SaveDefinitions({saved});
  EmitAll({PabRef(1), PabRef(5)});
  EXPECT_THAT(Signatures(),
              ElementsAre(SIG_CD_PABREFERENCE, SIG_CD_PABDEFINITION, SIG_CD_PABREFERENCE));
  EXPECT_EQ(NodeBytes(Nodes()[0]), PabRef(1));
  EXPECT_EQ(NodeBytes(Nodes()[2]), PabRef(5));
}

TEST_F(EmitterTest, RemovingASavedDefinitionDropsTrailingEmptyEntries) {
  SaveDefinitions({Def(3), Def(5)});
  _internal_SESS* state = session_->internal;
  state->saved_definition_count = 4; /* two entries cleared by others */
  EmitAll({PabRef(5)});
  EXPECT_EQ(state->saved_definition_count, 1);
  EXPECT_THAT(SavedIds(), ElementsAre(3));
}

TEST_F(EmitterTest, ASavedDefinitionWithAnOddLengthIsPaddedInTheBuffer) {
  Bytes saved = Def(5);
  saved.push_back(0x7E);
  PutWord(saved, 2, static_cast<WORD>(saved.size()));
  SaveDefinitions({saved});
  EmitAll({PabRef(5)});
  Bytes expected = saved;
  expected.push_back(0);
  EXPECT_EQ(BufferBytes(), expected);
  EXPECT_EQ(Nodes()[0]->length, saved.size());
}

TEST_F(EmitterTest, ADefinitionDeletesSavedDefinitionsOfItsId) {
  SaveDefinitions({Def(3), Def(5), Def(3)});
  EmitAll({Def(3)});
  EXPECT_THAT(SavedIds(), ElementsAre(5));
  EmitAll({PabRef(3)});
  EXPECT_THAT(Signatures(), ElementsAre(SIG_CD_PABDEFINITION, SIG_CD_PABREFERENCE));
}

TEST_F(EmitterTest, SavingADefinitionTakesOnlyDefinitions) {
  EXPECT_EQ(SaveParagraphDefinition(session_, Text("abc").data()), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(SaveParagraphDefinition(nullptr, Def(1).data()), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(SaveParagraphDefinition(session_, nullptr), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(session_->internal->saved_definition_count, 0);
}

/* ---- restart ---- */

TEST_F(EmitterTest, ARestartMarksTheWholeBodyWithItsOwnFlag) {
  EmitAll({Text("a"), Paragraph()});
  Nodes()[0]->flags |= RECORD_MARKED;
  gen_->restart = 1;
  HostTestSetEnvironment("QuilEditDebug", "3");
  EmitAll({PabRef(1)});
  const std::vector<record_storage*> nodes = Nodes();
  ASSERT_EQ(nodes.size(), 3u);
  EXPECT_EQ(nodes[0]->flags, RECORD_IN_ARENA | RECORD_MARKED | RECORD_RESTART_MARK);
  EXPECT_EQ(nodes[1]->flags, RECORD_IN_ARENA | RECORD_RESTART_MARK);
  EXPECT_EQ(nodes[2]->flags, RECORD_IN_ARENA) << "the reference itself is not marked";
  EXPECT_THAT(HostTestLogLines(), ElementsAre("Restarting Body field"));
}

TEST_F(EmitterTest, ARestartLogsOnlyAboveTraceLevelTwo) {
  gen_->restart = 1;
  HostTestSetEnvironment("QuilEditDebug", "2");
  EmitAll({Text("a"), PabRef(1)});
  EXPECT_EQ(Nodes()[0]->flags, RECORD_IN_ARENA | RECORD_RESTART_MARK);
  EXPECT_THAT(HostTestLogLines(), IsEmpty());
  gen_->restart = 0;
  EmitAll({Text("b"), PabRef(2)});
  EXPECT_EQ(Nodes()[2]->flags, RECORD_IN_ARENA);
}

/* ---- tables ---- */

TEST_F(EmitterTest, ATableAfterTextGetsAParagraphBreakNode) {
  EmitAll({Text("a"), TableBegin(), Cell(0), Text("b"), TableEnd()});
  EXPECT_THAT(Signatures(), ElementsAre(SIG_CD_TEXT, SIG_CD_PARAGRAPH, SIG_CD_TABLEBEGIN,
                                        SIG_CD_TABLECELL, SIG_CD_TEXT, SIG_CD_TABLEEND));
  const std::vector<record_storage*> nodes = Nodes();
  EXPECT_EQ(NodeBytes(nodes[1]), Paragraph());
  EXPECT_EQ(nodes[1]->flags, RECORD_IN_ARENA);
  EXPECT_EQ(nodes[1]->ordinal, 2u);
  EXPECT_EQ(nodes[2]->ordinal, 3u);
  EXPECT_EQ(BufferBytes(), Paragraph()) << "also in the body buffer";
  EXPECT_EQ(gen_->after_table, 1u);
  EXPECT_EQ(gen_->table_level, 0u);
}

class TableAfterRecordTest : public EmitterTest,
                             public ::testing::WithParamInterface<WORD> {};

TEST_P(TableAfterRecordTest, NoParagraphBreakAfterAParagraphAnEndOrAPreTableBegin) {
  const WORD before = GetParam();
  Bytes record = before == SIG_CD_PARAGRAPH ? Paragraph()
                 : before == SIG_CD_END     ? Bracket(SIG_CD_END, SIG_CD_TEXT)
                                            : Sized(SIG_CD_PRETABLEBEGIN, sizeof(CDPRETABLEBEGIN));
  EmitAll({record, TableBegin(0, SIG_CD_NESTEDTABLEBEGIN)});
  EXPECT_THAT(Signatures(), ElementsAre(before, SIG_CD_NESTEDTABLEBEGIN));
  EXPECT_THAT(BufferBytes(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Emitter, TableAfterRecordTest,
                         ::testing::Values(SIG_CD_PARAGRAPH, SIG_CD_END, SIG_CD_PRETABLEBEGIN));

TEST_F(EmitterTest, TheFirstRecordOfTheProcessCanBeATable) {
  EmitAll({TableBegin()});
  EXPECT_THAT(Signatures(), ElementsAre(SIG_CD_PARAGRAPH, SIG_CD_TABLEBEGIN));
  EXPECT_EQ(session_->internal->previous_record_type, SIG_CD_TABLEBEGIN);
}

TEST_F(EmitterTest, KeepsTheStateOfEachTableLevel) {
  gen_->current_pabid = 4;
  cell_spec spec;
  spec.column = 2;
  spec.left = 300;
  spec.right = 2000;
  spec.flags = 0x08;
  spec.span = 2;
  EmitAll({Paragraph(), TableBegin(120)});
  ASSERT_EQ(gen_->table_level, 1u);
  const emitter_table_level& level = gen_->levels[1];
  EXPECT_EQ(level.open, 1u);
  EXPECT_EQ(level.awaiting_first_cell, 1u);
  EXPECT_EQ(level.saved_pabid, 4);
  EXPECT_EQ(level.base_position, 120);

  EmitAll({Cell(spec), PabRef(9)});
  EXPECT_EQ(level.awaiting_first_cell, 0u);
  EXPECT_EQ(level.cell_paragraph, 1u);
  EXPECT_EQ(level.column, 2);
  EXPECT_EQ(level.row, 0);
  EXPECT_EQ(level.column_flags, 1);
  EXPECT_EQ(level.spanned_cell, 1u);
  EXPECT_EQ(level.cell_offset, 300);
  EXPECT_EQ(level.cell_right, 2000);
  EXPECT_EQ(level.columns[2].left, 420);
  EXPECT_EQ(level.columns[2].width, 1880);
  EXPECT_EQ(level.last_reference_pabid, 9);

  EmitAll({Cell(0)});
  EXPECT_EQ(level.last_reference_pabid, 0) << "cleared by each cell";
  EXPECT_EQ(level.column_flags, 0);
  EXPECT_EQ(level.spanned_cell, 0u);
  EXPECT_EQ(level.row, 1);

  EmitAll({TableEnd()});
  EXPECT_EQ(gen_->table_level, 0u);
  EXPECT_EQ(level.open, 0u);
  EXPECT_EQ(level.cell_paragraph, 0u);
  EXPECT_EQ(level.columns[2].left, 0) << "the column block is cleared";
  EXPECT_EQ(gen_->after_table, 1u);
  EmitAll({Paragraph()});
  EXPECT_EQ(gen_->after_table, 0u);
}

/* Cells through the lane: the table level moves to each cell as the
 * emitter's own step moves it, a reference taken before a cell in the same
 * run does not outlive the cell, and a cell whose row the emitter would
 * renumber is left to it. */
TEST_F(EmitterTest, TheLaneTakesACellAsTheEmitterWould) {
  EmitAll({Paragraph(), TableBegin(120), Cell(0)});
  const emitter_table_level& level = gen_->levels[1];
  auto takes = [this](emitter_lane* lane, const Bytes& record) {
    const WORD signature = SignatureOf(record);
    bool taken = false;
    EXPECT_EQ(EmitLaneRecord(lane, reinterpret_cast<const char*>(record.data()), signature,
                             static_cast<DWORD>(record.size()), EmitterLaneKind(signature), &taken),
              NOERROR);
    return taken;
  };
  cell_spec second;
  second.row = 0;
  second.column = 1;
  second.left = 300;
  second.right = 2000;
  cell_spec nextRow;
  nextRow.row = 1;
  emitter_lane lane;
  ASSERT_TRUE(OpenEmitterLane(gen_.get(), false, &lane));
  EXPECT_TRUE(takes(&lane, Cell(second)));
  EXPECT_TRUE(takes(&lane, PabRef(9)));
  EXPECT_TRUE(takes(&lane, Cell(nextRow)));
  cell_spec renumbered;
  renumbered.row = 7;
  renumbered.column = 1;
  EXPECT_FALSE(takes(&lane, Cell(renumbered)));
  CloseEmitterLane(&lane);
  EXPECT_EQ(level.column, 0);
  EXPECT_EQ(level.row, 1);
  EXPECT_EQ(level.cell_counter, 1);
  EXPECT_EQ(level.columns[1].left, 420);
  EXPECT_EQ(level.columns[1].width, 1880);
  EXPECT_EQ(level.cell_paragraph, 1u);
  EXPECT_EQ(level.last_reference_pabid, 0) << "cleared by the cell after the reference";
  EXPECT_EQ(session_->internal->previous_record_type, SIG_CD_TABLECELL);

  EmitAll({Cell(renumbered)});
  ASSERT_EQ(Nodes().size(), 7u);
  EXPECT_EQ(static_cast<BYTE>(Nodes().back()->data[offsetof(CDTABLECELL, Row)]), 1);
}

/* Brackets, hotspot begins and ends and resources through the lane, as a
 * flush sends them: each run closes before a record the lane leaves and
 * that record goes to the emitter's own step. The nodes, the statuses and
 * the text-envelope and hotspot state must be what the emitter's own step
 * alone leaves, and the lane must take what it can. */
struct lane_state_case {
  const char* name;
  std::vector<Bytes> records;
  size_t taken; /* by the lane */
};

struct lane_state {
  std::vector<Bytes> nodes;
  std::vector<STATUS> statuses;
  BYTE text_state = 0;
  DWORD envelope = 0, pending = 0, file0 = 0, file1 = 0, link = 0, kind = 0, type = 0;
  WORD hotspot_pabid = 0, previous = 0;
  size_t taken = 0;
  bool operator==(const lane_state&) const = default;
};

class LaneStateTest : public EmitterTest, public ::testing::WithParamInterface<lane_state_case> {
protected:
  lane_state Run(bool lane) {
    gen_->current_pabid = 5;
    const size_t before = Nodes().size();
    lane_state result;
    emitter_lane run;
    bool open = false;
    for (const Bytes& record : GetParam().records) {
      const WORD signature = SignatureOf(record);
      if (lane && !open)
        open = OpenEmitterLane(gen_.get(), false, &run);
      if (open) {
        bool taken = false;
        EXPECT_EQ(EmitLaneRecord(&run, reinterpret_cast<const char*>(record.data()), signature,
                                 static_cast<DWORD>(record.size()), EmitterLaneKind(signature),
                                 &taken),
                  NOERROR);
        if (taken) {
          ++result.taken;
          continue;
        }
        CloseEmitterLane(&run);
        open = false;
      }
      result.statuses.push_back(Emit(record));
      if (result.statuses.back() != NOERROR)
        break;
    }
    if (open)
      CloseEmitterLane(&run);
    const std::vector<record_storage*> nodes = Nodes();
    for (size_t index = before; index < nodes.size(); ++index)
      result.nodes.push_back(NodeBytes(nodes[index]));
    result.text_state = gen_->text_state;
    result.envelope = gen_->in_text_envelope;
    result.pending = item_->internal->pending_paragraph;
    result.file0 = gen_->file_hotspot[0];
    result.file1 = gen_->file_hotspot[1];
    result.link = gen_->link_hotspot;
    result.kind = gen_->hotspot_kind;
    result.type = gen_->hotspot_type;
    result.hotspot_pabid = gen_->hotspot_pabid;
    result.previous = session_->internal->previous_record_type;
    return result;
  }

  /* Back to the state Run starts from, the nodes made so far kept. */
  void ResetState() {
    gen_->text_state = TEXT_STATE_OTHER;
    gen_->in_text_envelope = 0;
    gen_->file_hotspot[0] = gen_->file_hotspot[1] = 0;
    gen_->link_hotspot = gen_->hotspot_kind = gen_->hotspot_type = 0;
    gen_->hotspot_pabid = 0;
    gen_->error_word = 0;
    item_->internal->pending_paragraph = 0;
    session_->internal->previous_record_type = 0;
  }
};

TEST_P(LaneStateTest, TheLaneMovesTheStateAsTheEmitterWould) {
  const lane_state alone = Run(false);
  const std::vector<std::string> messages = Messages();
  ResetState();
  const lane_state lane = Run(true);
  EXPECT_EQ(lane.nodes, alone.nodes);
  EXPECT_EQ(lane.statuses.empty() ? NOERROR : lane.statuses.back(),
            alone.statuses.empty() ? NOERROR : alone.statuses.back());
  EXPECT_EQ(lane.text_state, alone.text_state);
  EXPECT_EQ(lane.envelope, alone.envelope);
  EXPECT_EQ(lane.pending, alone.pending);
  EXPECT_EQ(lane.file0, alone.file0);
  EXPECT_EQ(lane.file1, alone.file1);
  EXPECT_EQ(lane.link, alone.link);
  EXPECT_EQ(lane.kind, alone.kind);
  EXPECT_EQ(lane.type, alone.type);
  EXPECT_EQ(lane.hotspot_pabid, alone.hotspot_pabid);
  EXPECT_EQ(lane.previous, alone.previous);
  std::vector<std::string> twice = messages;
  twice.insert(twice.end(), messages.begin(), messages.end());
  EXPECT_EQ(Messages(), twice);
  EXPECT_EQ(lane.taken, GetParam().taken);
}

INSTANTIATE_TEST_SUITE_P(
    Emitter, LaneStateTest,
    ::testing::Values(
        lane_state_case{"TextEnvelope",
                        {Bracket(SIG_CD_BEGIN, SIG_CD_TEXT), Text("b"),
                         Bracket(SIG_CD_END, SIG_CD_TEXT)},
                        3},
        lane_state_case{"TextAfterAnEnvelope",
                        {Bracket(SIG_CD_BEGIN, SIG_CD_TEXT), Text("b"),
                         Bracket(SIG_CD_END, SIG_CD_TEXT), Text("c")},
                        4},
        lane_state_case{"EmptyTextInAnEnvelope",
                        {Bracket(SIG_CD_BEGIN, SIG_CD_TEXT), Text(""), Text(""),
                         Bracket(SIG_CD_END, SIG_CD_TEXT), Text("")},
                        2},
        lane_state_case{"GraphicBrackets",
                        {Bracket(SIG_CD_BEGIN, SIG_CD_GRAPHIC), Graphic(),
                         Bracket(SIG_CD_END, SIG_CD_GRAPHIC)},
                        3},
        lane_state_case{"ShortBrackets",
                        {Bracket(SIG_CD_BEGIN, SIG_CD_TEXT), Sized(SIG_CD_END, 4), Text("")},
                        1},
        lane_state_case{"LinkHotspot",
                        {Hotspot(SIG_CD_V4HOTSPOTBEGIN, 12), Text("x")},
                        2},
        lane_state_case{"LinkHotspotEnded",
                        {Hotspot(SIG_CD_V4HOTSPOTBEGIN, 12), Text("x"),
                         Sized(SIG_CD_V4HOTSPOTEND, 2)},
                        3},
        lane_state_case{"HotspotTypes",
                        {Hotspot(SIG_CD_HOTSPOTBEGIN, 11), Hotspot(SIG_CD_HOTSPOTBEGIN, 22),
                         Hotspot(SIG_CD_HOTSPOTBEGIN, 16)},
                        3},
        lane_state_case{"V4FileHotspotInAFileHotspot",
                        {Hotspot(SIG_CD_HOTSPOTBEGIN, 4), Hotspot(SIG_CD_V4HOTSPOTBEGIN, 4)},
                        2},
        lane_state_case{"NestedFileHotspot",
                        {Hotspot(SIG_CD_V4HOTSPOTBEGIN, 4), Text("f"),
                         Hotspot(SIG_CD_HOTSPOTBEGIN, 4), Text("never")},
                        2},
        lane_state_case{"ShortHotspotBegin",
                        {Sized(SIG_CD_HOTSPOTBEGIN, 4), Hotspot(SIG_CD_HOTSPOTBEGIN, 1)},
                        1},
        lane_state_case{"Resources",
                        {Resource(SIG_CD_RESOURCE, 3), Resource(SIG_CD_RESOURCE_FF5A, 1),
                         Sized(SIG_CD_HOTSPOTEND, 2), Resource(SIG_CD_RESOURCE_FF78, 2)},
                        4},
        lane_state_case{"ShortResource",
                        {Sized(SIG_CD_RESOURCE_FF71, 4), Text("r")},
                        1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EmitterTest, NestedTablesKeepTheirLevels) {
  EmitAll({Paragraph(), TableBegin(), Cell(0), TableBegin(0, SIG_CD_NESTEDTABLEBEGIN)});
  EXPECT_EQ(gen_->table_level, 2u);
  cell_spec nested;
  nested.signature = SIG_CD_NESTEDTABLECELL;
  EmitAll({Cell(nested), Text("in"), TableEnd(SIG_CD_NESTEDTABLEEND)});
  EXPECT_EQ(gen_->table_level, 1u);
  EXPECT_EQ(gen_->levels[1].open, 1u);
  EmitAll({Cell(1), TableEnd()});
  EXPECT_EQ(gen_->table_level, 0u);
  EXPECT_THAT(Signatures(),
              ElementsAre(SIG_CD_PARAGRAPH, SIG_CD_TABLEBEGIN, SIG_CD_TABLECELL, SIG_CD_PARAGRAPH,
                          SIG_CD_NESTEDTABLEBEGIN, SIG_CD_NESTEDTABLECELL, SIG_CD_TEXT,
                          SIG_CD_NESTEDTABLEEND, SIG_CD_TABLECELL, SIG_CD_TABLEEND));
}

TEST_F(EmitterTest, TenNestedTableBeginsKeepTheLevelAtNine) {
  EmitAll({Paragraph()});
  for (int table = 0; table < 10; ++table)
    EmitAll({TableBegin(0, SIG_CD_NESTEDTABLEBEGIN), Cell(0)});
  EXPECT_EQ(gen_->table_level, kEmitterMaxTableLevel);
}

TEST_F(EmitterTest, ATableEndRestoresTheParagraphInEffect) {
  std::memset(gen_->paragraph_copy, 0x11, sizeof gen_->paragraph_copy);
  gen_->paragraph_word = 7;
  EmitAll({Paragraph(), TableBegin(), Cell(0)});
  std::memset(gen_->paragraph_copy, 0x22, sizeof gen_->paragraph_copy);
  gen_->paragraph_word = 8;
  EmitAll({TableEnd()});
  EXPECT_EQ(gen_->paragraph_copy[0], 0x11);
  EXPECT_EQ(gen_->paragraph_copy[kParagraphCopySize - 1], 0x11);
  EXPECT_EQ(gen_->paragraph_word, 7u);
}

TEST_F(EmitterTest, AStrayTableEndLeavesTheParagraphInEffect) {
  std::memset(gen_->paragraph_copy, 0x22, sizeof gen_->paragraph_copy);
  EXPECT_EQ(Emit(TableEnd()), VELKO_ERR_INVALID_SEQUENCE);
  EXPECT_EQ(gen_->paragraph_copy[0], 0x22);
}

/* ---- definitions inside cells ---- */

struct margin_case {
  const char* name;
  DWORD keep_margins;
  DWORD exact_fit;
  BYTE cell_flags;
  BYTE span;
  WORD left, right, first; /* of the definition */
  WORD want_left, want_right, want_first;
  WORD want_flags;
};

class CellMarginTest : public EmitterTest, public ::testing::WithParamInterface<margin_case> {};

/* Table base position 100; cell from 400 to 3000: left position 500,
 * right edge 2900. */
TEST_P(CellMarginTest, FitsDefinitionsToTheCell) {
  const margin_case& c = GetParam();
  gen_->keep_margins = c.keep_margins;
  EmitAll({Paragraph(), TableBegin(100)});
  gen_->levels[1].exact_fit = c.exact_fit;
  cell_spec spec;
  spec.left = 400;
  spec.right = 3000;
  spec.flags = c.cell_flags;
  spec.span = c.span;
  EmitAll({Cell(spec), Def(6, c.left, c.right, c.first)});
  const record_storage* node = Nodes().back();
  ASSERT_EQ(node->signature, SIG_CD_PABDEFINITION);
  EXPECT_EQ(NodeWord(node, offsetof(CDPABDEFINITION, LeftMargin)), c.want_left);
  EXPECT_EQ(NodeWord(node, offsetof(CDPABDEFINITION, RightMargin)), c.want_right);
  EXPECT_EQ(NodeWord(node, offsetof(CDPABDEFINITION, FirstLineLeftMargin)), c.want_first);
  EXPECT_EQ(NodeWord(node, offsetof(CDPABDEFINITION, Flags)), c.want_flags);
  EXPECT_EQ(gen_->current_pabid, 6);
}

INSTANTIATE_TEST_SUITE_P(
    Emitter, CellMarginTest,
    ::testing::Values(
        margin_case{"kept", 1, 0, 0, 0, 200, 5000, 100, 200, 5000, 100, 0x0100},
        margin_case{"raisedAndLowered", 0, 0, 0, 0, 200, 5000, 100, 500, 2900, 500, 0x0184},
        margin_case{"alreadyInside", 0, 0, 0, 0, 600, 2000, 700, 600, 2000, 700, 0x0184},
        margin_case{"exactFit", 1, 1, 0, 0, 600, 2000, 700, 500, 2900, 500, 0x0184},
        margin_case{"spannedKeepsLeft", 0, 0, 0, 2, 200, 5000, 100, 200, 2900, 100, 0x0184},
        margin_case{"columnFlagsKeepBoth", 0, 0, 0x04, 0, 200, 5000, 100, 200, 5000, 100,
                    0x0184}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EmitterTest, TheFirstRowKeepsEachColumnsFirstDefinition) {
  EmitAll({Paragraph(), TableBegin(), Cell(1), Def(6), Def(7), Cell(0), Def(8)});
  const emitter_table_level& level = gen_->levels[1];
  EXPECT_EQ(level.columns[1].definition_length, sizeof(CDPABDEFINITION));
  EXPECT_EQ(GetWord(level.columns[1].definition + offsetof(CDPABDEFINITION, PABID)), 6)
      << "only the first definition of the cell";
  EXPECT_EQ(level.columns[0].definition_length, 0) << "a second-row cell keeps nothing";
  EXPECT_EQ(level.cell_paragraph, 0u);
}

/* ---- borders ---- */

TEST_F(EmitterTest, MatchesATopBorderToTheBottomBorderAbove) {
  gen_->match_borders = 1;
  cell_spec top;
  top.border = 0x80; /* bottom 2 */
  cell_spec below;
  below.border = 0x10 | 0x40; /* top 1, bottom 1 */
  cell_spec wide;
  wide.flags = 0x02;
  wide.v42 = 0x3000 | 0x0500; /* bottom 3, top 5 */
  EmitAll({Paragraph(), TableBegin(), Cell(top), Cell(below), Cell(wide), Cell(below)});
  std::vector<int> borders;
  for (record_storage* node : Nodes()) {
    if (node->signature != SIG_CD_TABLECELL)
      continue;
    borders.push_back(static_cast<BYTE>(node->data[offsetof(CDTABLECELL, BorderWidths)]));
    borders.push_back(NodeWord(node, offsetof(CDTABLECELL, V42Border)));
  }
  EXPECT_THAT(borders, ElementsAre(0x80, 0, /* first row: as given */
                                   0x60, 0, /* top 2 from above */
                                   0, 0x3100, /* top 1 from above, in the V4.2 word */
                                   0x70, 0 /* top 3 from above */));
  EXPECT_EQ(gen_->bottom_borders[0], 1);
}

TEST_F(EmitterTest, BordersAreLeftAloneWithoutMatching) {
  cell_spec top;
  top.border = 0x80;
  cell_spec below;
  below.border = 0x10;
  EmitAll({Paragraph(), TableBegin(), Cell(top), Cell(below)});
  EXPECT_EQ(static_cast<BYTE>(Nodes().back()->data[offsetof(CDTABLECELL, BorderWidths)]), 0x10);
}

/* ---- invalid structures ---- */

struct structure_case {
  const char* name;
  std::vector<Bytes> before;
  Bytes refused;
  const char* message; /* null: none */
};

class StructureTest : public EmitterTest, public ::testing::WithParamInterface<structure_case> {};

TEST_P(StructureTest, RefusesTheRecordWithItsMessage) {
  const structure_case& c = GetParam();
  for (const Bytes& record : c.before)
    ASSERT_EQ(Emit(record), NOERROR);
  const size_t nodes = Nodes().size();
  const WORD previous = session_->internal->previous_record_type;
  EXPECT_EQ(Emit(c.refused), VELKO_ERR_INVALID_SEQUENCE);
  EXPECT_EQ(gen_->error_word, VELKO_ERR_BAD_STRUCTURE);
  EXPECT_EQ(Nodes().size(), nodes) << "the record is not appended; the body so far stays";
  EXPECT_EQ(session_->internal->previous_record_type, previous);
  if (c.message == nullptr)
    EXPECT_THAT(Messages(), IsEmpty());
  else
    EXPECT_THAT(Messages(), ElementsAre(c.message));
}

cell_spec Column(BYTE column) {
  cell_spec spec;
  spec.column = column;
  return spec;
}

INSTANTIATE_TEST_SUITE_P(
    Emitter, StructureTest,
    ::testing::Values(
        structure_case{"cellOutsideTable", {Text("a")}, Cell(0), kCellOutside},
        structure_case{"tableWithoutCell", {Paragraph(), TableBegin()}, TableEnd(), kNoCell},
        structure_case{"endOutsideTable", {Text("a")}, TableEnd(), kEndOutside},
        structure_case{"nestedEndOutsideTable", {}, TableEnd(SIG_CD_NESTEDTABLEEND), kEndOutside},
        structure_case{"layoutInTable",
                       {Paragraph(), TableBegin(), Cell(0)},
                       Sized(SIG_CD_LAYOUT, sizeof(CDLAYOUT)),
                       kLayoutInTable},
        structure_case{"fileHotspotInFileHotspot",
                       {Hotspot(SIG_CD_HOTSPOTBEGIN, 4)},
                       Hotspot(SIG_CD_HOTSPOTBEGIN, 4),
                       kNestedFile},
        structure_case{"fileHotspotInV4FileHotspot",
                       {Hotspot(SIG_CD_V4HOTSPOTBEGIN, 4)},
                       Hotspot(SIG_CD_HOTSPOTBEGIN, 4),
                       kNestedFile},
        structure_case{"v4FileHotspotInV4FileHotspot",
                       {Hotspot(SIG_CD_V4HOTSPOTBEGIN, 4)},
                       Hotspot(SIG_CD_V4HOTSPOTBEGIN, 4),
                       kNestedFile},
        structure_case{"textBeforeTheFirstCell",
                       {Paragraph(), TableBegin()},
                       Text("a"),
                       kInvalidFormat},
        structure_case{"referenceBeforeTheFirstCell",
                       {Paragraph(), TableBegin()},
                       PabRef(0),
                       kInvalidFormat},
        structure_case{"columnSixtyFour",
                       {Paragraph(), TableBegin(), Cell(Column(63))},
                       Cell(Column(64)),
                       kColumn64}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EmitterTest, AV4FileHotspotMayOpenInsideAFileHotspot) {
  EmitAll({Hotspot(SIG_CD_HOTSPOTBEGIN, 4), Hotspot(SIG_CD_V4HOTSPOTBEGIN, 4)});
  EXPECT_EQ(gen_->file_hotspot[0], 1u);
  EXPECT_EQ(gen_->file_hotspot[1], 1u);
  EmitAll({Sized(SIG_CD_V4HOTSPOTEND, 2), Hotspot(SIG_CD_HOTSPOTBEGIN, 4)});
  EXPECT_EQ(gen_->file_hotspot[1], 0u);
}

TEST_F(EmitterTest, ARefusedReferenceLeavesItsSavedDefinition) {
  SaveDefinitions({Def(5)});
  EmitAll({Paragraph(), TableBegin()});
  EXPECT_EQ(Emit(PabRef(5)), VELKO_ERR_INVALID_SEQUENCE);
  EXPECT_THAT(SavedIds(), ElementsAre(5));
  EXPECT_THAT(Signatures(), ElementsAre(SIG_CD_PARAGRAPH, SIG_CD_TABLEBEGIN));
}

TEST_F(EmitterTest, PassThroughSkipsTheChecksButFollowsLevelsAndText) {
  gen_->pass_through = 1;
  EmitAll({Text("a"), Cell(0), PabRef(0), TableBegin(), Text(""), TableEnd()});
  EXPECT_THAT(Signatures(), ElementsAre(SIG_CD_TEXT, SIG_CD_TABLECELL, SIG_CD_PABREFERENCE,
                                        SIG_CD_TABLEBEGIN, SIG_CD_TEXT, SIG_CD_TABLEEND));
  EXPECT_EQ(NodeBytes(Nodes()[2]), PabRef(0));
  EXPECT_EQ(gen_->table_level, 0u);
  EXPECT_EQ(gen_->text_state, TEXT_STATE_OTHER);
  EXPECT_THAT(Messages(), IsEmpty());
}

/* ---- hotspots and other flags ---- */

struct hotspot_case {
  WORD type;
  DWORD link, kind, type_flag, file;
};

class HotspotTest : public EmitterTest, public ::testing::WithParamInterface<hotspot_case> {};

/* A link hotspot is type 12 or any type with one of the bits 0x000D. */
TEST_P(HotspotTest, SetsTheFlagsOfItsType) {
  const hotspot_case& c = GetParam();
  gen_->current_pabid = 5;
  EmitAll({Hotspot(SIG_CD_HOTSPOTBEGIN, c.type)});
  EXPECT_EQ(gen_->link_hotspot, c.link);
  EXPECT_EQ(gen_->hotspot_pabid, c.link != 0 ? 4 : 0);
  EXPECT_EQ(gen_->hotspot_kind, c.kind);
  EXPECT_EQ(gen_->hotspot_type, c.type_flag);
  EXPECT_EQ(gen_->file_hotspot[0], c.file);
  EmitAll({Sized(SIG_CD_HOTSPOTEND, 2)});
  EXPECT_EQ(gen_->link_hotspot + gen_->hotspot_kind + gen_->hotspot_type + gen_->file_hotspot[0],
            0u);
}

INSTANTIATE_TEST_SUITE_P(Emitter, HotspotTest,
                         ::testing::Values(hotspot_case{12, 1, 0, 0, 0},
                                           hotspot_case{2, 0, 0, 0, 0},
                                           hotspot_case{16, 0, 0, 0, 0},
                                           hotspot_case{11, 1, 1, 0, 0},
                                           hotspot_case{1, 1, 0, 1, 0},
                                           hotspot_case{22, 1, 0, 1, 0},
                                           hotspot_case{4, 1, 0, 0, 1}),
                         [](const auto& info) { return std::to_string(info.param.type); });

TEST_F(EmitterTest, ResourcesOfTypeOneOrTwoSetTheHotspotKind) {
  EmitAll({Resource(SIG_CD_RESOURCE, 3)});
  EXPECT_EQ(gen_->hotspot_kind, 0u);
  for (WORD signature : {SIG_CD_RESOURCE, SIG_CD_RESOURCE_FF5A, SIG_CD_RESOURCE_FF71,
                         SIG_CD_RESOURCE_FF78}) {
    for (WORD type : {1, 2}) {
      gen_->hotspot_kind = 0;
      EmitAll({Resource(signature, type)});
      EXPECT_EQ(gen_->hotspot_kind, 1u) << signature << " type " << type;
    }
  }
}

TEST_F(EmitterTest, FollowsHTMLBlocks) {
  EmitAll({Sized(SIG_CD_HTMLBEGIN, 8)});
  EXPECT_EQ(gen_->in_html, 1u);
  EmitAll({Sized(SIG_CD_HOTSPOTEND, 2)});
  EXPECT_EQ(gen_->in_html, 1u) << "not a hotspot flag";
  EmitAll({Sized(SIG_CD_HTMLEND, 8)});
  EXPECT_EQ(gen_->in_html, 0u);
}

TEST_F(EmitterTest, AHotspotPabIdNeedsACurrentIdAboveOne) {
  gen_->current_pabid = 1;
  gen_->hotspot_pabid = 7;
  EmitAll({Hotspot(SIG_CD_HOTSPOTBEGIN, 12)});
  EXPECT_EQ(gen_->link_hotspot, 1u);
  EXPECT_EQ(gen_->hotspot_pabid, 7);
}

/* ---- text states ---- */

TEST_F(EmitterTest, TracksTheTextStateAndTheTextEnvelope) {
  struct step {
    Bytes record;
    BYTE state;
    DWORD envelope;
  };
  const std::vector<step> steps = {
      {Text("a"), TEXT_STATE_TEXT, 0},
      {Text(""), TEXT_STATE_EMPTY_TEXT, 0},
      {Bracket(SIG_CD_BEGIN, SIG_CD_TEXT), TEXT_STATE_OTHER, 1},
      {Text("b"), TEXT_STATE_TEXT, 1},
      {Bracket(SIG_CD_END, SIG_CD_TEXT), TEXT_STATE_ENVELOPE_END, 0},
      {Bracket(SIG_CD_BEGIN, SIG_CD_GRAPHIC), TEXT_STATE_OTHER, 0},
      {Bracket(SIG_CD_END, SIG_CD_GRAPHIC), TEXT_STATE_OTHER, 0},
      {Paragraph(), TEXT_STATE_OTHER, 0},
  };
  for (const step& s : steps) {
    ASSERT_EQ(Emit(s.record), NOERROR);
    EXPECT_EQ(gen_->text_state, s.state) << "after 0x" << std::hex << SignatureOf(s.record);
    EXPECT_EQ(gen_->in_text_envelope, s.envelope);
  }
  EXPECT_EQ(item_->internal->pending_paragraph, 0u);
}

TEST_F(EmitterTest, AnEmptyTextInsideAnEnvelopeLeavesAParagraphPending) {
  EmitAll({Bracket(SIG_CD_BEGIN, SIG_CD_TEXT), Text("")});
  EXPECT_EQ(item_->internal->pending_paragraph, 1u);
}

TEST_F(EmitterTest, PreviousRecordTypeFollowsOnlyAppendedRecords) {
  EmitAll({Text("a"), Paragraph()});
  EXPECT_EQ(session_->internal->previous_record_type, SIG_CD_PARAGRAPH);
  EmitAll({Sized(SIG_CD_LARGEPARAGRAPH, 8)});
  EXPECT_EQ(session_->internal->previous_record_type, SIG_CD_PARAGRAPH) << "dropped";
  EXPECT_EQ(Emit(Cell(0)), VELKO_ERR_INVALID_SEQUENCE);
  EXPECT_EQ(session_->internal->previous_record_type, SIG_CD_PARAGRAPH) << "refused";
  EmitAll({PabRef(1), PabRef(2)});
  EXPECT_EQ(session_->internal->previous_record_type, SIG_CD_PABREFERENCE);
  EmitAll({Sized(SIG_CD_PRETABLEBEGIN, sizeof(CDPRETABLEBEGIN))});
  EXPECT_EQ(session_->internal->previous_record_type, SIG_CD_PRETABLEBEGIN);
}

/* ---- body items ---- */

struct split_case {
  const char* name;
  DWORD record_length; /* after 72 bytes in the buffer */
  bool splits;
};

class BodySplitTest : public EmitterTest, public ::testing::WithParamInterface<split_case> {};

/* A further body item starts when write position + length - write start
 * passes capacity - 16384 (47998). */
TEST_P(BodySplitTest, StartsAFurtherBodyItemBeforeTheBufferFillsUp) {
  const split_case& c = GetParam();
  SaveDefinitions({Def(5)});
  EmitAll({PabRef(5)});
  ASSERT_EQ(BufferBytes().size(), sizeof(CDPABDEFINITION));
  char* first_buffer = gen_->write_start;
  EmitAll({Text(std::string(c.record_length - 8, 'x'))});
  ASSERT_EQ(StoreBodyItem(gen_.get()), NOERROR);

  const std::vector<body_item*> items = Items();
  if (!c.splits) {
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]->length, sizeof(CDPABDEFINITION));
    EXPECT_EQ(items[0]->first_ordinal, 1u);
    EXPECT_EQ(items[0]->last_ordinal, 3u);
    return;
  }
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0]->item_number, 0);
  EXPECT_EQ(items[0]->buffer, first_buffer);
  EXPECT_EQ(items[0]->length, sizeof(CDPABDEFINITION));
  EXPECT_EQ(items[0]->first_ordinal, 1u);
  EXPECT_EQ(items[0]->last_ordinal, 2u);
  EXPECT_EQ(items[1]->item_number, 1);
  EXPECT_EQ(items[1]->buffer, gen_->write_start);
  EXPECT_EQ(items[1]->length, 0u);
  EXPECT_EQ(items[1]->first_ordinal, 3u);
  EXPECT_EQ(items[1]->last_ordinal, 3u);
  EXPECT_EQ(gen_->capacity, kBodyBufferCapacity);
  EXPECT_EQ(Output()->value, gen_->write_start);
}

INSTANTIATE_TEST_SUITE_P(
    Emitter, BodySplitTest,
    ::testing::Values(split_case{"atTheMargin", 47998 - 72, false},
                      split_case{"pastTheMargin", 47998 - 72 + 1, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EmitterTest, LargeRecordsGetABodyItemEachButNoEmptyOne) {
  const Bytes large = Text(std::string(48000, 'x'));
  EmitAll({large, large, Text("a"), large});
  ASSERT_EQ(StoreBodyItem(gen_.get()), NOERROR);
  std::vector<std::pair<DWORD, DWORD>> ordinals;
  for (body_item* item : Items())
    ordinals.emplace_back(item->first_ordinal, item->last_ordinal);
  using P = std::pair<DWORD, DWORD>;
  EXPECT_THAT(ordinals, ElementsAre(P{1, 1}, P{2, 3}, P{4, 4}));
}

TEST_F(EmitterTest, CreatesTheOutputBodyOfTheItem) {
  body_context* output = Output();
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(output->note, note_);
  EXPECT_STREQ(output->item_name, "Body");
  EXPECT_EQ(output->output, 1u);
  EXPECT_EQ(output->value_length, kBodyBufferCapacity);
  ASSERT_EQ(Items().size(), 1u);
  EXPECT_EQ(Items()[0]->item_number, 0);
  EXPECT_EQ(Items()[0]->first_ordinal, 1u);
  EXPECT_EQ(Items()[0]->last_ordinal, 1u);
  EXPECT_EQ(gen_->write_start, Items()[0]->buffer);
  EXPECT_EQ(gen_->write_position, gen_->write_start);
  EXPECT_EQ(gen_->capacity, kBodyBufferCapacity);

  generation_context none;
  EXPECT_EQ(CreateBodyItem(&none), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(StoreBodyItem(&none), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(CreateBodyItem(nullptr), VELKO_ERR_BAD_ARGUMENT);
  CleanupBodyItems(nullptr, 0);
}

TEST_F(EmitterTest, CleaningUpReleasesTheBuffersButKeepsTheRecords) {
  SaveDefinitions({Def(5)});
  EmitAll({PabRef(5), Text(std::string(48000, 'x')), Text("a")});
  ASSERT_EQ(Items().size(), 2u);
  CleanupBodyItems(gen_.get(), 1);
  EXPECT_NE(Items()[0]->buffer, nullptr);
  EXPECT_EQ(Items()[1]->buffer, nullptr);
  EXPECT_EQ(Items()[1]->block, nullptr);
  EXPECT_EQ(gen_->write_start, nullptr);
  EXPECT_EQ(Output()->value, nullptr);
  EXPECT_EQ(Nodes().size(), 4u);

  SaveDefinitions({Def(6)});
  EmitAll({PabRef(6)});
  ASSERT_EQ(Items().size(), 3u) << "a held-back definition needs a buffer again";
  EXPECT_EQ(Items()[2]->buffer, gen_->write_start);
  EXPECT_EQ(BufferBytes(), Def(6));

  CleanupBodyItems(gen_.get(), 0);
  for (body_item* item : Items())
    EXPECT_EQ(item->buffer, nullptr);
  EXPECT_EQ(Nodes().size(), 6u);
  EXPECT_EQ(SaveBodyItems(Output(), item_), NOERROR);
}

/* ---- the stored body ---- */

/* Signature and stored length of each record of each stored item. */
std::vector<std::pair<WORD, DWORD>> StoredRecords(const Bytes& value) {
  std::vector<std::pair<WORD, DWORD>> records;
  size_t at = 2;
  while (at + 2 <= value.size()) {
    DWORD length = 0;
    WORD signature = 0;
    if (GetBodyRecord(reinterpret_cast<const char*>(value.data() + at), &length, &signature) !=
        NOERROR)
      break;
    records.emplace_back(signature, length);
    at += length + (length & 1);
  }
  return records;
}

TEST_F(EmitterTest, TheSavedBodyHoldsEveryEmittedRecord) {
  SaveDefinitions({Def(2, 720)});
  EmitAll({Def(0), PabRef(0), Text("abc"), TableBegin(), Cell(0), PabRef(2), Text("in"), TableEnd(),
           Paragraph()});
  ASSERT_EQ(StoreBodyItem(gen_.get()), NOERROR);
  ASSERT_EQ(SaveBodyItems(Output(), item_), NOERROR);

  const std::vector<Bytes> values = StoredValues();
  ASSERT_EQ(values.size(), 1u);
  using R = std::pair<WORD, DWORD>;
  EXPECT_THAT(StoredRecords(values[0]),
              ElementsAre(R{SIG_CD_PABDEFINITION, 70}, R{SIG_CD_PABREFERENCE, 4},
                          R{SIG_CD_TEXT, 11}, R{SIG_CD_PARAGRAPH, 2},
                          R{SIG_CD_TABLEBEGIN, sizeof(CDTABLEBEGIN)},
                          R{SIG_CD_TABLECELL, sizeof(CDTABLECELL)}, R{SIG_CD_PABDEFINITION, 70},
                          R{SIG_CD_PABREFERENCE, 4}, R{SIG_CD_TEXT, 10},
                          R{SIG_CD_TABLEEND, sizeof(CDTABLEEND)}, R{SIG_CD_PARAGRAPH, 2}));
  const Bytes& value = values[0];
  const Bytes head(value.begin() + 2 + 70, value.begin() + 2 + 70 + 4 + 12);
  Bytes expected = PabRef(1);
  const Bytes text = Text("abc");
  expected.insert(expected.end(), text.begin(), text.end());
  expected.push_back(0);
  EXPECT_EQ(head, expected) << "the reference took the current id; the text is padded";
  const size_t definition = 2 + 70 + 4 + 12 + 2 + sizeof(CDTABLEBEGIN) + sizeof(CDTABLECELL);
  EXPECT_EQ(GetWord(value.data() + definition + offsetof(CDPABDEFINITION, PABID)), 2);
  EXPECT_EQ(GetWord(value.data() + definition + offsetof(CDPABDEFINITION, LeftMargin)), 720);
}

/* ---- out of memory ---- */

/* The emitter's own log lines for memory it could not have (the allocator
 * logs a line of its own as well). */
std::vector<std::string> OutOfMemoryLines() {
  std::vector<std::string> lines;
  for (const std::string& line : HostTestLogLines())
    if (line.rfind("Out of memory at ", 0) == 0)
      lines.push_back(line);
  return lines;
}

/* Nodes come from the output body's record arena, whose slabs are heap
 * blocks: the tracked allocator's refusal reaches them. */
TEST_F(EmitterTest, OutOfMemoryLosesNeitherTheBodyNorASavedDefinition) {
  SaveDefinitions({Def(5)});
  EmitAll({Text("a")});
  HostTestClearLog();
  VelkoTestFailTrackedAllocationsFrom(1);
  EXPECT_EQ(Emit(PabRef(5)), VELKO_ERR_MEMORY);
  EXPECT_EQ(Emit(Text("b")), VELKO_ERR_MEMORY);
  VelkoTestFailTrackedAllocationsFrom(0);
  EXPECT_THAT(OutOfMemoryLines(), ElementsAre(HasSubstr(" in emitter.cpp: "),
                                              HasSubstr(" in emitter.cpp: ")));
  EXPECT_THAT(Signatures(), ElementsAre(SIG_CD_TEXT));
  EXPECT_THAT(SavedIds(), ElementsAre(5));
  EXPECT_THAT(BufferBytes(), IsEmpty());
  EXPECT_EQ(session_->internal->previous_record_type, SIG_CD_TEXT);

  EmitAll({PabRef(5)});
  EXPECT_THAT(Signatures(), ElementsAre(SIG_CD_TEXT, SIG_CD_PABDEFINITION, SIG_CD_PABREFERENCE));
}

TEST_F(EmitterTest, AFailedFurtherBodyItemIsReported) {
  EmitAll({Text("a")});
  HostTestFailAllocationsFrom(1);
  EXPECT_EQ(Emit(Text(std::string(48000, 'x'))), VELKO_ERR_MEMORY);
  HostTestFailAllocationsFrom(0);
  EXPECT_THAT(Signatures(), ElementsAre(SIG_CD_TEXT));
  EXPECT_THAT(OutOfMemoryLines(), ElementsAre(HasSubstr(" in body_builder.cpp: ")));
}

TEST_F(EmitterTest, TextWithoutMemoryIsReported) {
  HostTestFailAllocationsFrom(1);
  EXPECT_EQ(GenerateCDText("abc", 3, nullptr, gen_.get()), VELKO_ERR_MEMORY);
  HostTestFailAllocationsFrom(0);
  EXPECT_EQ(Output()->records, nullptr);
  EXPECT_THAT(OutOfMemoryLines(), ElementsAre(HasSubstr(" in emitter.cpp: ")));
}

/* ---- builders ---- */

TEST_F(EmitterTest, BuildersMakeTheirRecords) {
  const BYTE header[8] = {0, 0, 0, 0, 4, 1, 2, 12};
  ASSERT_EQ(GenerateCDText("abc", 3, nullptr, gen_.get()), NOERROR);
  ASSERT_EQ(GenerateCDText("hi", 2, header, gen_.get()), NOERROR);
  ASSERT_EQ(GenerateCDBegin(SIG_CD_TEXT, 2, gen_.get()), NOERROR);
  ASSERT_EQ(GenerateCDEnd(SIG_CD_TEXT, 3, gen_.get()), NOERROR);
  ASSERT_EQ(GenerateCDColorValue(SIG_CD_COLOR, 0x00332211, 0x0004, gen_.get()), NOERROR);
  ASSERT_EQ(GenerateTableCellData(0x4F, 0x11223344, 0x55667788, gen_.get()), NOERROR);

  const std::vector<record_storage*> nodes = Nodes();
  ASSERT_EQ(nodes.size(), 6u);
  EXPECT_THAT(NodeBytes(nodes[0]), ElementsAre(0x85, 0xFF, 11, 0, 1, 0, 0, 10, 'a', 'b', 'c'));
  EXPECT_THAT(NodeBytes(nodes[1]), ElementsAre(0x85, 0xFF, 10, 0, 4, 1, 2, 12, 'h', 'i'));
  EXPECT_THAT(NodeBytes(nodes[2]), ElementsAre(0xDD, 6, 2, 0, 0x85, 0xFF));
  EXPECT_THAT(NodeBytes(nodes[3]), ElementsAre(0xDE, 6, 3, 0, 0x85, 0xFF));
  EXPECT_THAT(NodeBytes(nodes[4]), ElementsAre(0xD2, 8, 0x05, 0, 0x11, 0x22, 0x33, 0));
  EXPECT_EQ(nodes[5]->signature, 0x4F);
  EXPECT_THAT(NodeBytes(nodes[5]),
              ElementsAre(0x4F, 20, 2, 0, 0x83, 0, 0, 0, 0, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 0x88,
                          0x77, 0x66, 0x55));
  EXPECT_EQ(gen_->text_state, TEXT_STATE_OTHER);
  EXPECT_EQ(gen_->in_text_envelope, 0u);
}

TEST_F(EmitterTest, AnEmptyGeneratedTextIsAHeaderOnly) {
  ASSERT_EQ(GenerateCDText(nullptr, 0, nullptr, gen_.get()), NOERROR);
  EXPECT_THAT(NodeBytes(Nodes()[0]), ElementsAre(0x85, 0xFF, 8, 0, 1, 0, 0, 10));
  EXPECT_EQ(GenerateCDText(nullptr, 0, nullptr, gen_.get()), NOERROR);
  EXPECT_EQ(Nodes().size(), 1u) << "a second empty text is dropped";
  EXPECT_EQ(GenerateCDText("a", -1, nullptr, gen_.get()), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(GenerateCDText(nullptr, 2, nullptr, gen_.get()), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(GenerateCDText("a", 1, nullptr, nullptr), VELKO_ERR_BAD_ARGUMENT);
  const std::string large(kLargestEmittedRecord - 7, 'x');
  EXPECT_EQ(GenerateCDText(large.data(), static_cast<int>(large.size()), nullptr, gen_.get()),
            VELKO_ERR_INVALID_SEQUENCE);
  EXPECT_EQ(gen_->error_word, VELKO_ERR_BAD_STRUCTURE);
}

TEST_F(EmitterTest, ATabLabelHoldsAtMost127Characters) {
  ASSERT_EQ(GenerateTabLabel(2, "Tab one", 7, gen_.get()), NOERROR);
  const std::string long_label(200, 'L');
  ASSERT_EQ(GenerateTabLabel(1, long_label.data(), 200, gen_.get()), NOERROR);
  ASSERT_EQ(GenerateTabLabel(1, nullptr, 0, gen_.get()), NOERROR);
  EXPECT_EQ(GenerateTabLabel(1, nullptr, 3, gen_.get()), VELKO_ERR_BAD_ARGUMENT);

  const std::vector<record_storage*> nodes = Nodes();
  ASSERT_EQ(nodes.size(), 3u);
  Bytes expected(sizeof(CDTABLELABEL));
  expected[0] = 0xE3;
  expected[1] = 0xFF;
  expected[2] = 140;
  std::memcpy(expected.data() + 4, "Tab one", 7);
  expected[138] = 2;
  EXPECT_EQ(NodeBytes(nodes[0]), expected);

  Bytes cut(sizeof(CDTABLELABEL));
  cut[0] = 0xE3;
  cut[1] = 0xFF;
  cut[2] = 140;
  std::memset(cut.data() + 4, 'L', 127);
  cut[138] = 1;
  EXPECT_EQ(NodeBytes(nodes[1]), cut) << "127 characters and a NUL";
  EXPECT_EQ(nodes[2]->data[4], 0);
}

/* ---- records of a body being rebuilt ---- */

/* Emits the record as the record of the input that outlives the output. */
STATUS EmitLasting(generation_context* gen, const Bytes& record) {
  gen->lasting_record = record.data();
  const STATUS status = CopyCDUpdated(record.data(), SignatureOf(record),
                                      static_cast<DWORD>(record.size()), gen);
  gen->lasting_record = nullptr;
  return status;
}

TEST_F(EmitterTest, ALastingRecordIsPointedAtOnlyWhileTheFixUpsLeaveItAsItIs) {
  cell_spec firstRow;
  firstRow.row = 0; // the emitter numbers the first row 0: unchanged
  cell_spec renumbered;
  renumbered.row = 9;
  const Bytes begin = TableBegin();
  const Bytes kept = Cell(firstRow);
  const Bytes changed = Cell(renumbered);
  const Bytes bracket = Bracket(SIG_CD_BEGIN, SIG_CD_TEXT);
  EmitAll({Paragraph()});
  for (const Bytes* record : {&begin, &kept, &changed, &bracket})
    ASSERT_EQ(EmitLasting(gen_.get(), *record), NOERROR);

  const std::vector<record_storage*> nodes = Nodes();
  ASSERT_EQ(nodes.size(), 5u);
  for (int at : {1, 2, 4}) {
    const Bytes& original = at == 1 ? begin : at == 2 ? kept : bracket;
    EXPECT_EQ(nodes[at]->data, reinterpret_cast<const char*>(original.data())) << at;
    EXPECT_NE(nodes[at]->flags & RECORD_IN_PLACE, 0) << at;
  }
  EXPECT_NE(nodes[3]->data, reinterpret_cast<const char*>(changed.data()));
  EXPECT_EQ(nodes[3]->data[offsetof(CDTABLECELL, Row)], 1) << "a second row: the copy carries it";
  EXPECT_EQ(changed[offsetof(CDTABLECELL, Row)], 9) << "the original is never written";
}

TEST_F(EmitterTest, ALastingReferenceIsCopiedSoThatAFoldNeverWritesTheInput) {
  const Bytes first = PabRef(5);
  const Bytes second = PabRef(7);
  ASSERT_EQ(EmitLasting(gen_.get(), first), NOERROR);
  ASSERT_EQ(EmitLasting(gen_.get(), second), NOERROR);
  ASSERT_EQ(Nodes().size(), 1u);
  EXPECT_EQ(NodeBytes(Nodes()[0]), PabRef(7));
  EXPECT_EQ(first, PabRef(5)) << "the folded id went to the copy";
}

TEST_F(EmitterTest, AShortRecordReadsZerosBehindItsEndWhateverCameBefore) {
  // A long definition of non-zero bytes fills the scratch area first.
  Bytes definition = Def(3);
  std::fill(definition.begin() + sizeof(CDPABDEFINITION), definition.end(), BYTE{0xEE});
  definition.resize(sizeof(CDPABDEFINITION) + 60, 0xEE);
  PutWord(definition, offsetof(WSIG, Length), static_cast<WORD>(definition.size()));
  EmitAll({Paragraph(), TableBegin(), Cell(0), definition});
  // A cell cut after its column byte: the rest of its layout reads as 0.
  const size_t cut = offsetof(CDTABLECELL, Column) + 1;
  Bytes shortCell = Cell(2);
  shortCell.resize(cut);
  shortCell[1] = static_cast<BYTE>(cut);
  ASSERT_EQ(Emit(shortCell), NOERROR);

  const record_storage* cell = Nodes().back();
  ASSERT_EQ(cell->length, sizeof(CDTABLECELL));
  Bytes expected(sizeof(CDTABLECELL), 0);
  std::copy(shortCell.begin(), shortCell.end(), expected.begin());
  expected[1] = sizeof(CDTABLECELL);
  expected[offsetof(CDTABLECELL, Row)] = 0;
  EXPECT_EQ(NodeBytes(cell), expected);
  EXPECT_EQ(gen_->levels[1].cell_offset, 0) << "its left margin read as 0";
}

TEST_F(EmitterTest, ATableEndClearsEveryColumnItsTableWrote) {
  EmitAll({Paragraph(), TableBegin(), Cell(0), Def(6), Cell(5), Def(7), TableEnd(), Paragraph(),
           TableBegin(), Cell(0)});
  const emitter_table_level& level = gen_->levels[1];
  EXPECT_EQ(level.columns[0].definition_length, 0) << "the new table's cell has no definition yet";
  for (WORD column = 1; column < kEmitterColumns; ++column) {
    EXPECT_EQ(level.columns[column].definition_length, 0) << column;
    EXPECT_EQ(level.columns[column].left, 0) << column;
    EXPECT_EQ(level.columns[column].width, 0) << column;
  }
}

} // namespace

namespace {

/* What taking a given-up list's nodes left: per node whether it was taken,
 * then the output's nodes (signature, ordinal, flags, stored length,
 * whether the data is the source's own) and the emitter's state. */
struct take_outcome {
  std::vector<bool> taken;
  std::vector<std::vector<DWORD>> nodes;
  std::vector<DWORD> state;
  bool operator==(const take_outcome&) const = default;
};

using node_taker = bool (*)(emitter_lane*, record_storage*, BYTE);

/* The records as a given-up list of arena nodes (numbered from 1, with a
 * stored length and a marker flag as a load or a write leaves them; the
 * node of `foreign` not of an arena) on a new note of the database, taken
 * by the taker in runs as the copying append takes them: a node it
 * refuses closes the run and goes through CopyCDUpdated. */
take_outcome TakeNodes(DBHANDLE db, const std::vector<Bytes>& records, size_t foreign,
                       node_taker take) {
  take_outcome outcome;
  NOTEHANDLE note = NULLHANDLE;
  EXPECT_EQ(NSFNoteCreate(db, &note), NOERROR);
  auto* session = new LSXLsiSession;
  VelkoRTItem* item = note_testing::BindItem(session, note, "Body");
  generation_context gen;
  gen.session = session;
  gen.item = item;
  EXPECT_EQ(CreateBodyItem(&gen), NOERROR);
  body_context source;
  std::vector<record_storage*> nodes;
  for (const Bytes& record : records) {
    const auto length = static_cast<DWORD>(record.size());
    record_storage* node =
        NewArenaRecord(session, &source, SignatureOf(record), length, VELKO_HERE);
    EXPECT_NE(node, nullptr);
    std::memcpy(node->data, record.data(), length);
    node->ordinal = static_cast<DWORD>(nodes.size() + 1);
    node->stored_length = static_cast<WORD>(length);
    node->flags |= RECORD_MATCH_MARKER;
    if (!nodes.empty()) {
      nodes.back()->next = node;
      node->previous = nodes.back();
    }
    nodes.push_back(node);
  }
  source.records = nodes.front();
  nodes[foreign]->flags &= static_cast<WORD>(~RECORD_IN_ARENA);

  body_context* output = item->internal->output;
  emitter_lane lane;
  bool open = false;
  for (record_storage* node : nodes) {
    if (!open)
      open = OpenEmitterLane(&gen, false, &lane);
    const bool taken = open && take(&lane, node, EmitterLaneKind(node->signature));
    outcome.taken.push_back(taken);
    if (taken)
      continue;
    if (open)
      CloseEmitterLane(&lane);
    open = false;
    EXPECT_EQ(CopyCDUpdated(node->data, node->signature, node->length, &gen), NOERROR);
  }
  if (open)
    CloseEmitterLane(&lane);
  for (const record_storage* node = output->records; node != nullptr; node = node->next) {
    const bool own = std::find(nodes.begin(), nodes.end(), node) != nodes.end();
    outcome.nodes.push_back({node->signature, node->ordinal, node->flags, node->stored_length,
                             own ? 1u : 0u});
  }
  outcome.state = {gen.text_state, gen.after_table, item->AutoMergeText,
                   session->internal->previous_record_type,
                   gen.levels[gen.table_level].last_reference_pabid};

  nodes[foreign]->flags |= RECORD_IN_ARENA;
  MoveBodyMemory(output, &source);
  CleanupBodyContext(session, &source);
  CleanupBodyItems(&gen, 0);
  DeleteBodyContext(session, item->internal->output);
  note_testing::UnbindItem(item);
  delete session;
  NSFNoteClose(note);
  return outcome;
}

} // namespace

/* The inline take of the commonest nodes against the checked take of
 * every kind: text runs with text and empty, paragraphs, plain records,
 * references (one right behind another, which the emitter folds), a
 * table's cells, and a node not of an arena, at every place. */
TEST_F(EmitterTest, TheQuickTakeOfANodeIsTheCheckedOne) {
  cell_spec first;
  first.row = 0;
  cell_spec second = first;
  second.column = 1;
  const std::vector<Bytes> records = {Text("ab"),
                                      Text(""),
                                      Paragraph(),
                                      Sized(SIG_CD_COLOR, sizeof(CDCOLOR)),
                                      PabRef(3),
                                      PabRef(4),
                                      Text("c"),
                                      Paragraph(),
                                      TableBegin(),
                                      Cell(first),
                                      Text("d"),
                                      Cell(second),
                                      TableEnd(),
                                      Paragraph(),
                                      Text("e")};
  for (size_t foreign = 0; foreign < records.size(); ++foreign) {
    const take_outcome quick = TakeNodes(db_, records, foreign, TakeLaneNode);
    const take_outcome checked = TakeNodes(db_, records, foreign, TakeLaneNodeChecked);
    EXPECT_TRUE(quick == checked) << "node " << foreign << " not of an arena";
    EXPECT_FALSE(quick.taken[foreign]) << "node " << foreign;
    EXPECT_TRUE(quick.taken[0] || foreign == 0);
    EXPECT_FALSE(quick.taken[1]) << "an empty text run";
  }
}
