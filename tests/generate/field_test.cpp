// The field generator inside a real writing operation, read back from the
// saved note: the field's records and brackets, the names it registers
// (Total1, Total2_1, a cut name, "Modify"), the "$Fields" list and the
// placeholder items, the LotusScript module's exact text, the JavaScript
// events and the CDIDNAME an unknown event leaves out, and failures that
// keep the old body. Then the buffers a property string fills: new fields
// by type word and format keys, held fields changed in place.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "generate/field.h"
#include "store/tracked_memory_testing.h"
#include "store/vocabulary.h"
#include "tests/support/bytes_support.h"
#include "tests/support/compiled_formula.h"
#include "tests/support/test_fixture.h"

namespace {

using namespace engine_test;
using formula_testing::Compiled;
using bytes_test::ShowHex;

/* The held field: a name, a description and text values behind it. */
Bytes HeldField(const std::string& name, cdbuild::Font font = {}) {
  return cdbuild::Field({.flags = 0x0080,
                         .font = font,
                         .tab_order = 3,
                         .default_formula = "DV",
                         .name = name,
                         .description = "Sum",
                         .text_values = "a;b"});
}

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

class FieldGeneratorTest : public EngineTest {
protected:

  /* The buffers' records (empty: none) and the event strings. */
  struct held {
    Bytes field{}, ext{}, ext2{}, control{}, idname{};
    std::vector<const char*> events{};
  };

  /* Runs GenerateField inside a writing operation over "Body" (one text
   * run); the generator's status goes to *generated and the work returns
   * 0 when `commit` is set, so that what it wrote is kept. */
  STATUS Generate(const held& h, const char* name, const char* font, DWORD wrap,
                  const char* mode, STATUS* generated = nullptr, bool commit = false) {
    return InWritingOperation([&](chunk_process_state* state) {
      std::vector<char*> events;
      for (const char* event : h.events)
        events.push_back(const_cast<char*>(event));
      field_operation op;
      op.gen = &state->gen;
      op.note = note_;
      const Bytes* buffers[] = {&h.field, &h.ext, &h.ext2, &h.control, &h.idname};
      for (int i = 0; i < kFieldBufferCount; ++i)
        op.buffers[i] = buffers[i]->empty() ? nullptr : buffers[i]->data();
      op.event_strings = events.data();
      op.event_count = static_cast<int>(events.size());
      STATUS status = GenerateField(name, font, wrap, mode, &op);
      if (generated != nullptr)
        *generated = status;
      return commit ? NOERROR : status;
    });
  }

  std::string FieldsList() {
    char text[2048] = {};
    NSFItemConvertToText(note_, "$Fields", text, sizeof text, ';');
    return text;
  }

  /* The type word of the item, or -1 when the note has none. */
  int ItemType(const std::string& name) {
    WORD type = 0;
    if (NSFItemInfo(note_, name.c_str(), static_cast<WORD>(name.size()), nullptr, &type, nullptr,
                    nullptr) != NOERROR)
      return -1;
    return type;
  }

  void AddTextItem(const std::string& name) {
    ASSERT_EQ(NSFItemSetText(note_, name.c_str(), "v", 1), NOERROR);
  }
};

TEST_F(FieldGeneratorTest, NamesAreRegisteredAndMadeUnique) {
  const std::string longName(70, 'L');
  const struct {
    const char* label;
    std::vector<std::string> existing;
    const char* name;
    const char* mode;
    std::string written;    /* the name in the CDFIELD */
    std::string registered; /* the $Fields list; empty: none */
  } cases[] = {
      {"a new name", {}, "Total", nullptr, "Total", "Total"},
      {"a taken name gets a number", {"Total"}, "Total", "Add", "Total1", "Total1"},
      {"after a digit the number follows an underscore", {"Total2"}, "Total2", nullptr, "Total2_1",
       "Total2_1"},
      {"the first free number, the name compared in any case", {"TOTAL", "total1"}, "Total",
       nullptr, "Total2", "Total2"},
      {"no name given: the field's own", {}, nullptr, nullptr, "Total", "Total"},
      {"a long name is cut to 63 before the lookup", {std::string(63, 'L')}, longName.c_str(),
       nullptr, std::string(63, 'L') + "1", std::string(63, 'L') + "1"},
      {"Modify keeps the name and registers nothing", {"Total"}, "Total", "Modify", "Total", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Restart();
    for (const std::string& name : c.existing)
      AddTextItem(name);
    AppendItem({Text("old")});
    ASSERT_EQ(Generate({.field = HeldField("Total")}, c.name, nullptr, 0, c.mode), NOERROR);
    EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Records({HeldField(c.written), Text("")})));
    EXPECT_EQ(FieldsList(), c.registered);
    if (!c.registered.empty()) {
      EXPECT_EQ(ItemType(c.registered), 0); // the placeholder: no type, no value
    }
  }
}

TEST_F(FieldGeneratorTest, NoFreeNameWithin9999TriesIsRefused) {
  AddTextItem("N");
  for (int number = 1; number <= 9999; ++number) {
    std::string name = "N";
    name += std::to_string(number);
    AddTextItem(name);
  }
  AppendItem({Text("old")});
  const std::vector<Bytes> before = Values();
  EXPECT_EQ(Generate({.field = HeldField("N")}, nullptr, nullptr, 0, nullptr),
            VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(Values(), before);
  EXPECT_EQ(ItemType("$Fields"), -1);
}

TEST_F(FieldGeneratorTest, WrappedFieldsAreBracketedByTheirFirstRecord) {
  const Bytes control = cdbuild::FieldControl(0x80000000);
  const Bytes ext = cdbuild::ExtField(0x20000, 0x40);
  const Bytes ext2 = cdbuild::Ext2Field({});
  const struct {
    const char* label;
    held h;
    std::vector<Bytes> expected;
  } cases[] = {
      {"with an embedded control",
       {.field = HeldField("F"), .ext = ext, .ext2 = ext2, .control = control},
       {Begin(SIG_CD_EMBEDDEDCTL), control, ext2, ext, HeldField("F"), End(SIG_CD_EMBEDDEDCTL),
        Text("")}},
      {"the field alone",
       {.field = HeldField("F")},
       {Begin(SIG_CD_FIELD), HeldField("F"), End(SIG_CD_FIELD), Text("")}},
      {"a buffer holding another record is not written",
       {.field = HeldField("F"), .ext = ext2, .control = ext},
       {Begin(SIG_CD_FIELD), HeldField("F"), End(SIG_CD_FIELD), Text("")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Restart();
    AppendItem({Text("old")});
    ASSERT_EQ(Generate(c.h, nullptr, nullptr, 1, nullptr), NOERROR);
    EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Records(c.expected)));
  }
}

TEST_F(FieldGeneratorTest, AFontStringGivesTheItemsCurrentFontWithTheStringApplied) {
  const cdbuild::Font held = {.face = 4, .attributes = 0x02, .color = 2, .size = 18};
  const struct {
    const char* font;
    cdbuild::Font written;
  } cases[] = {
      {nullptr, held},
      {"", {}},
      {"+Bold", {.attributes = 0x01}},
      {"Red +Underline", {.attributes = 0x04, .color = 2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.font == nullptr ? "none" : c.font);
    Restart();
    AppendItem({Text("old")});
    ASSERT_EQ(Generate({.field = HeldField("F", held)}, nullptr, c.font, 0, "Modify"), NOERROR);
    EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Records({HeldField("F", c.written), Text("")})));
  }
}

TEST_F(FieldGeneratorTest, TheLotusScriptModuleIsWrittenAsItsItem) {
  const std::string head =
      "'++LotusScript Development Environment:2:5:(Options):0:66\n"
      "\n"
      "'++LotusScript Development Environment:2:5:(Forward):0:1\n"
      "Declare Sub Entering(Source As Field)\n"
      "\n"
      "'++LotusScript Development Environment:2:5:(Declarations):0:2\n"
      "\n"
      "'++LotusScript Development Environment:2:2:BindEvents:1:129\n"
      "Private Sub BindEvents(Byval Objectname_ As String)\n"
      "  Static Source As FIELD\n"
      "  Set Source = Bind(Objectname_)\n";
  const struct {
    const char* label;
    std::vector<const char*> events;
    std::string module; /* empty: no module item */
  } cases[] = {
      {"the last Entering counts; an Exiting with its own Sub",
       {"LotusScript:Entering:x = 1", "lotusscript:ENTERING:y = 2",
        "LotusScript:Exiting:Sub Exiting(Source As Field)\n  z = 3\nEnd Sub"},
       head +
           "  On Event Entering From Source Call Entering\n"
           "  On Event Exiting From Source Call Exiting\n"
           "End Sub\n"
           "\n"
           "'++LotusScript Development Environment:2:2:Entering:1:12\n"
           "Sub Entering(Source As Field)\n"
           "y = 2\n"
           "End Sub\n"
           "'++LotusScript Development Environment:2:2:Exiting:1:12\n"
           "Sub Exiting(Source As Field)\n"
           "  z = 3\n"
           "End Sub\n"},
      {"Exiting alone",
       {"LotusScript:Exiting:Print 1\n"},
       head +
           "  On Event Exiting From Source Call Exiting\n"
           "End Sub\n"
           "\n"
           "'++LotusScript Development Environment:2:2:Exiting:1:12\n"
           "Sub Exiting(Source As Field)\n"
           "Print 1\n"
           "End Sub\n"},
      {"no LotusScript event", {"LotusScript:Other:x", "Entering:y"}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Restart();
    AddTextItem("$Total_O");
    AddTextItem("$$Total");
    AppendItem({Text("old")});
    ASSERT_EQ(Generate({.field = HeldField("Total"), .events = c.events}, nullptr, nullptr, 0,
                       "Modify"),
              NOERROR);
    if (c.module.empty()) {
      EXPECT_EQ(ItemType("$Total_O"), TYPE_TEXT);
      continue;
    }
    EXPECT_EQ(ItemType("$Total_O"), -1);
    const std::vector<Bytes> values = note_testing::ItemValues(note_, "$$Total");
    ASSERT_EQ(values.size(), 1u);
    Bytes expected = {0x00, 0x05};
    const Bytes text = BytesOf(c.module);
    expected.insert(expected.end(), text.begin(), text.end());
    EXPECT_EQ(values[0], expected) << std::string(values[0].begin() + 2, values[0].end());
  }
}

TEST_F(FieldGeneratorTest, JavaScriptEventsFollowTheFieldAndAnUnknownOneDropsTheIdName) {
  const Bytes idname = cdbuild::IdName({.id = "f1"});
  // A JavaScript event and its script in one blob part, padded.
  const auto event = [](WORD type, DWORD length) {
    return cdbuild::Event({.event_type = type, .action_type = 4, .action_length = length});
  };
  const auto blob = [](const char* text, size_t padded) {
    Bytes data = BytesOf(text);
    data.resize(padded, 0);
    return cdbuild::BlobPart(SIG_CD_BLOBPART, SIG_CD_EVENT, 16000, data);
  };
  const struct {
    const char* label;
    std::vector<const char*> events;
    STATUS status;
    std::vector<Bytes> expected;
  } cases[] = {
      {"known names in any case, the separator skipped",
       {"Javascript:OnClick alert(1)", "JAVASCRIPT:onblur|x()", "LotusScript:Other:"},
       NOERROR,
       {HeldField("F"), event(1, 9), blob("alert(1)", 10), event(12, 4), blob("x()", 4), idname,
        Text("")}},
      {"the last of the list, and OnMouseOut after OnMouseOver",
       {"Javascript:OnSelect;s", "Javascript:OnMouseOut m"},
       NOERROR,
       {HeldField("F"), event(21, 2), blob("s", 2), event(7, 2), blob("m", 2), idname, Text("")}},
      {"an unknown name: 257, no event for it and no CDIDNAME",
       {"Javascript:OnFoo x", "Javascript:OnClick a"},
       VELKO_ERR_FAILED,
       {HeldField("F"), event(1, 2), blob("a", 2), Text("")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Restart();
    AppendItem({Text("old")});
    STATUS generated = 0xFFFF;
    ASSERT_EQ(Generate({.field = HeldField("F"), .idname = idname, .events = c.events}, nullptr,
                       nullptr, 0, "Modify", &generated, true),
              NOERROR);
    EXPECT_EQ(generated, c.status);
    EXPECT_EQ(ShowHex(BodyRecords()), ShowHex(Records(c.expected)));
  }
}

TEST_F(FieldGeneratorTest, FailuresKeepTheOldBody) {
  // No field record to write.
  AppendItem({Text("old")});
  const std::vector<Bytes> before = Values();
  EXPECT_EQ(Generate({.ext = cdbuild::ExtField(0, 0)}, "F", nullptr, 0, nullptr),
            VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(Values(), before);

  // Every tracked allocation in turn.
  int failures = 0;
  for (int nth = 1; nth < 400; ++nth) {
    Restart();
    AppendItem({Text("old")});
    const std::vector<Bytes> old = Values();
    VelkoTestFailTrackedAllocation(nth);
    const STATUS status =
        Generate({.field = HeldField("F"),
                  .ext = cdbuild::ExtField(0, 0),
                  .idname = cdbuild::IdName({.id = "i"}),
                  .events = {"Javascript:OnClick a", "LotusScript:Entering:x"}},
                 nullptr, "+Bold", 1, nullptr);
    VelkoTestFailTrackedAllocation(0);
    if (status == NOERROR)
      break;
    ++failures;
    EXPECT_EQ(status, VELKO_ERR_MEMORY) << nth;
    EXPECT_EQ(Values(), old) << nth;
  }
  EXPECT_GE(failures, 5);
}

/* ---- filling the buffers from a property string ---- */

/* Buffers of the field's five records, each of `capacity` bytes. */
struct setup_buffers {
  explicit setup_buffers(DWORD capacity = 512) {
    for (int i = 0; i < kFieldBufferCount; ++i) {
      storage[i].assign(capacity, 0);
      buffers[i] = {storage[i].data(), capacity};
    }
  }
  /* The record a buffer holds, as its header says (empty when none). */
  Bytes Record(int i) const {
    const WORD length = static_cast<WORD>(storage[i][2] | (storage[i][3] << 8));
    return Bytes(storage[i].begin(), storage[i].begin() + length);
  }
  std::vector<BYTE> storage[kFieldBufferCount];
  field_buffer buffers[kFieldBufferCount];
};

Bytes WithBytes(Bytes record, std::initializer_list<std::pair<size_t, BYTE>> bytes) {
  for (const auto& [at, value] : bytes)
    record[at] = value;
  return record;
}

TEST(FieldSetupTest, NewFieldsTakeTheirKindAndFormatsFromTheKeys) {
  const Bytes plainExt = cdbuild::ExtField(0, 0);
  const Bytes plainExt2 = cdbuild::Ext2Field({});
  const struct {
    const char* label;
    const char* type;
    const char* properties;
    Bytes field, ext, ext2, control, idname;
  } cases[] = {
      {"a text list, its tab order and a signed field", "Text",
       "Multiple=Yes TabOrder=4 SignField=Yes EncryptField=no",
       cdbuild::Field({.flags = 0x1080, .data_type = 0x0501, .list_delimiter = 0x3006,
                       .tab_order = 4, .name = "Total"}),
       plainExt, plainExt2, {}, {}},
      {"a currency number", "Number",
       "NumberFormat=currency NumberDigits=2 NumberAttribs='Paren Percent' CurrencyISOSym=Yes "
       "ISOCountry=978",
       WithBytes(cdbuild::Field({.data_type = 0x0300, .name = "Total"}),
                 {{10, 2}, {11, 3}, {12, 0x06}}),
       plainExt,
       cdbuild::Ext2Field({.flags = 0x1, .currency_flags = 0x4, .country = 978}), {}, {}},
      {"names with a native control, HTML names and delimiters", "Names",
       "OSStyle=Native FieldHTMLID=f1 FieldHTMLClass=c InputDelimiters='COMMA SEMICOLON' "
       "DisplayDelimiter=NewLine",
       cdbuild::Field({.flags = 0x0084, .data_type = 0x0500, .list_delimiter = 0x4006,
                       .name = "Total"}),
       plainExt, plainExt2, cdbuild::FieldControl(0x80000000),
       cdbuild::IdName({.id = "f1", .class_name = "c"})},
      {"readers: the extended flags", "Reader", "RefreshFields=Yes DynamicSize=YES UseApplet=Yes",
       cdbuild::Field({.flags = 0x0094, .data_type = 0x0500, .name = "Total"}),
       cdbuild::ExtField(0x80060000, 0x240), plainExt2, {}, {}},
      {"a combo box with three columns", "Combo", "NumberKeywordColumns=3 ChoicesNotInList=Yes",
       cdbuild::Field({.flags = 0xC280, .data_type = 0x0500, .name = "Total"}),
       cdbuild::ExtField(0x46040000, 0), plainExt2, {}, {}},
      {"a date with extended formats", "Date",
       "DateFormat=yyMMDD TimeZone=always DTYearFormat=2 Output4DigitYear=Yes",
       WithBytes(cdbuild::Field({.data_type = 0x0400, .name = "Total"}), {{14, 1}, {16, 2}}),
       plainExt,
       cdbuild::Ext2Field({.flags = 0x2, .date_time = {2, 0, 0, 0, 0, 0}, .date_time_flags = 0x8}),
       {}, {}},
      {"the date format is read in its exact case", "Date", "DateFormat=yymmdd",
       cdbuild::Field({.data_type = 0x0400, .name = "Total"}), plainExt, plainExt2, {}, {}},
      {"a rich text field", "Rich", "Multiple=Yes",
       cdbuild::Field({.flags = 0x0080, .data_type = 0x0001, .name = "Total"}), plainExt,
       plainExt2, {}, {}},
      {"a native text control: its size in inches, limits and scrolling", "Text",
       "OSStyle=Native MultiLine=Yes VertScroll=No Width=2.5 Unit=Inch Height=0.5 MaxChars=80 "
       "MaxLines=3 TimeStyle=Calendar",
       cdbuild::Field({.flags = 0x0080, .data_type = 0x0500, .name = "Total"}), plainExt,
       plainExt2,
       WithBytes(cdbuild::FieldControl(0x80000005),
                 {{8, 0x10}, {9, 0x0E}, {10, 0xD0}, {11, 0x02}, {12, 80}, {14, 3}}),
       {}},
      {"a width in percent", "Text", "OSStyle=Native Width=40 Unit=percent",
       cdbuild::Field({.flags = 0x0080, .data_type = 0x0500, .name = "Total"}), plainExt,
       plainExt2, WithBytes(cdbuild::FieldControl(0x80000008), {{8, 40}}), {}},
      {"a dialog list", "Dialog", "Multiple=Yes",
       cdbuild::Field({.flags = 0x0280, .data_type = 0x0501, .list_delimiter = 0x3006,
                       .name = "Total"}),
       cdbuild::ExtField(0x8, 0), plainExt2, {}, {}},
      {"choices as text values", "Keyword", "ChoiceStyle=List Choices='a;b'",
       cdbuild::Field({.flags = 0x0280, .data_type = 0x0500, .name = "Total", .text_values = "a;b"}),
       plainExt, plainExt2, {}, {}},
      {"choices as a compiled formula", "Keyword", "ChoiceStyle=formula Choices='@True'",
       cdbuild::Field({.flags = 0x0280, .data_type = 0x0500, .name = "Total",
                       .text_values = Compiled("@True")}),
       plainExt, plainExt2, {}, {}},
      {"a formula field", "Formula", nullptr,
       cdbuild::Field({.data_type = 0x0600, .name = "Total"}), plainExt, plainExt2, {}, {}},
      {"radio buttons", "Radio", "Multiple=Yes",
       cdbuild::Field({.flags = 0x8280, .data_type = 0x0500, .name = "Total"}), plainExt,
       plainExt2, {}, {}},
      {"a check box list", "Check", "Multiple=YES",
       cdbuild::Field({.flags = 0x4280, .data_type = 0x0501, .list_delimiter = 0x3006,
                       .name = "Total"}),
       plainExt, plainExt2, {}, {}},
      {"a list box", "listbox", nullptr,
       cdbuild::Field({.flags = 0x0280, .data_type = 0x0500, .name = "Total"}),
       cdbuild::ExtField(0x80040002, 0), plainExt2, {}, {}},
      {"an editable password", "Password", "Kind=edit",
       cdbuild::Field({.flags = 0x208A, .data_type = 0x0500, .name = "Total"}),
       cdbuild::ExtField(0x80040020, 0), plainExt2, {}, {}},
      {"a time computed for display, its formats", "Time",
       "Kind='Computed for display' TimeFormat=hhmm TimeDateDisplay=date&time",
       WithBytes(cdbuild::Field({.flags = 0x0100, .data_type = 0x0400, .name = "Total"}),
                 {{15, 1}, {17, 2}}),
       plainExt, plainExt2, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    setup_buffers b;
    ASSERT_EQ(SetupFieldData(1, nullptr, "Total", c.type, c.properties, b.buffers), NOERROR);
    EXPECT_EQ(ShowHex(b.Record(kFieldBufferField)), ShowHex(c.field));
    EXPECT_EQ(ShowHex(b.Record(kFieldBufferExtField)), ShowHex(c.ext));
    EXPECT_EQ(ShowHex(b.Record(kFieldBufferExt2Field)), ShowHex(c.ext2));
    EXPECT_EQ(ShowHex(b.Record(kFieldBufferControl)), ShowHex(c.control));
    EXPECT_EQ(ShowHex(b.Record(kFieldBufferIdName)), ShowHex(c.idname));
  }
}

TEST(FieldSetupTest, HeldFieldsChangeInPlaceAndRefuseWhatDoesNotFit) {
  setup_buffers b;
  ASSERT_EQ(SetupFieldData(1, nullptr, "F", "Text", "OSStyle=Native", b.buffers), NOERROR);
  // A longer name moves what follows it; the held kind stays; the control goes.
  ASSERT_EQ(SetupFieldData(0, nullptr, "Longer", nullptr, "TabOrder=2 OSStyle=Notes", b.buffers),
            NOERROR);
  EXPECT_EQ(ShowHex(b.Record(kFieldBufferField)),
            ShowHex(cdbuild::Field(
                {.flags = 0x0080, .data_type = 0x0500, .tab_order = 2, .name = "Longer"})));
  EXPECT_TRUE(b.Record(kFieldBufferControl).empty());

  // A computed field compiles its formulas into the record.
  const std::string now = Compiled("@Now");
  ASSERT_EQ(SetupFieldData(0, nullptr, nullptr, nullptr, "Kind=Computed DefaultValue='@Now'",
                           b.buffers),
            NOERROR);
  EXPECT_EQ(ShowHex(b.Record(kFieldBufferField)),
            ShowHex(cdbuild::Field({.flags = 0x0188, .data_type = 0x0500, .tab_order = 2,
                                    .default_formula = now, .name = "Longer"})));
  EXPECT_EQ(SetupFieldData(0, nullptr, nullptr, nullptr, "Kind=Computed DefaultValue='@If('",
                           b.buffers),
            VELKO_ERR_BAD_ARGUMENT);

  // A name cut to 63, a buffer too small for the field, no field held.
  setup_buffers small(60);
  const std::string longName(70, 'n');
  EXPECT_EQ(SetupFieldData(1, nullptr, longName.c_str(), "Text", nullptr, small.buffers),
            VELKO_ERR_BAD_ARGUMENT);
  setup_buffers fits(120);
  ASSERT_EQ(SetupFieldData(1, nullptr, longName.c_str(), "Text", nullptr, fits.buffers), NOERROR);
  EXPECT_EQ(fits.Record(kFieldBufferField).size(), 40u + 63u);
  setup_buffers none;
  EXPECT_EQ(SetupFieldData(0, nullptr, "F", "Text", nullptr, none.buffers), VELKO_ERR_BAD_ARGUMENT);
}

TEST(FieldSetupTest, HeldFieldsTakeTheKindListFormAndBorderAsked) {
  setup_buffers b;
  ASSERT_EQ(SetupFieldData(1, nullptr, "F", "Text", "Kind=Computed DefaultValue='@Now'", b.buffers),
            NOERROR);
  const std::string now = Compiled("@Now");
  // Each step changes the field left by the one before; a kind that is none
  // of the edit kinds compiles nothing.
  const struct {
    const char* properties;
    WORD flags, type, delimiter;
  } steps[] = {
      {"Kind='Computed when composed'", 0x0080, 0x0500, 0},
      {"Kind='computed for display'", 0x0180, 0x0500, 0},
      {"Kind=Other DefaultValue='@If('", 0x0180, 0x0500, 0},
      {"Multiple=Yes", 0x0180, 0x0501, 0x3006},
      {"Multiple=No", 0x0180, 0x0500, 0},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.properties);
    ASSERT_EQ(SetupFieldData(0, nullptr, nullptr, nullptr, step.properties, b.buffers), NOERROR);
    EXPECT_EQ(ShowHex(b.Record(kFieldBufferField)),
              ShowHex(cdbuild::Field({.flags = step.flags, .data_type = step.type,
                                      .list_delimiter = step.delimiter, .default_formula = now,
                                      .name = "F"})));
  }

  // A rich text field has no list form.
  setup_buffers rich;
  ASSERT_EQ(SetupFieldData(1, nullptr, "R", "Rich", nullptr, rich.buffers), NOERROR);
  ASSERT_EQ(SetupFieldData(0, nullptr, nullptr, nullptr, "Multiple=Yes", rich.buffers), NOERROR);
  EXPECT_EQ(ShowHex(rich.Record(kFieldBufferField)),
            ShowHex(cdbuild::Field({.flags = 0x0080, .data_type = 0x0001, .name = "R"})));

  // "KeywordBorder=None" clears the border bits of the held extended flags.
  b.storage[kFieldBufferExtField][4] = 0x1F;
  ASSERT_EQ(SetupFieldData(0, nullptr, nullptr, nullptr, "KeywordBorder=none", b.buffers), NOERROR);
  EXPECT_EQ(ShowHex(b.Record(kFieldBufferExtField)), ShowHex(cdbuild::ExtField(0x03, 0)));

  // A held field whose text lengths pass its record is refused untouched.
  b.storage[kFieldBufferField][32] = 200; /* the name length */
  const std::vector<BYTE> held = b.storage[kFieldBufferField];
  EXPECT_EQ(SetupFieldData(0, nullptr, "G", nullptr, "TabOrder=1", b.buffers),
            VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(b.storage[kFieldBufferField], held);
}

} // namespace
