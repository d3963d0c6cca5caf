// A rich-text item's named properties, its face-id answers and its style
// mappings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/item_properties.h"
#include "store/rtitem_internal.h"
#include "store/vocabulary.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

std::vector<std::string> Messages() {
  std::vector<std::string> texts;
  for (const HostTestMessage& message : HostTestMessages())
    texts.push_back(message.text);
  return texts;
}

class ItemPropertiesTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    HostTestCaptureMessages();
    handles_ = HostTestLiveHandles();
    session_ = std::make_unique<LSXLsiSession>();
    item_ = new VelkoRTItem(session_.get());
  }
  void TearDown() override {
    session_.reset();
    EXPECT_EQ(HostTestLiveHandles(), handles_) << HostTestLeakReport();
    HostTestReset();
  }

  /* Connects the item to a new stored note of a fresh database. */
  void Connect() {
    ASSERT_EQ(NSFDbCreate("mem:properties", DBCLASS_NOTEFILE, FALSE), NOERROR);
    DBHANDLE db = NULLHANDLE;
    ASSERT_EQ(NSFDbOpen("mem:properties", &db), NOERROR);
    NOTEHANDLE note = NULLHANDLE;
    ASSERT_EQ(NSFNoteCreate(db, &note), NOERROR);
    ASSERT_EQ(NSFNoteUpdate(note, 0), NOERROR);
    NOTEID id = 0;
    NSFNoteGetInfo(note, _NOTE_ID, &id);
    NSFNoteClose(note);
    NSFDbClose(db);
    ASSERT_EQ(item_->Connect("", "mem:properties", id, "Body", 1), NOERROR);
    ASSERT_EQ(item_->IsConnected, 1);
  }

  std::unique_ptr<LSXLsiSession> session_;
  VelkoRTItem* item_ = nullptr;  // deleted with the session
  size_t handles_ = 0;
};

/* ---- the table ---- */

TEST(ItemPropertyTable, HoldsTheTwentyNineRowsInNameOrder) {
  struct Row {
    const char* name;
    WORD kind;
    DWORD id;
    DWORD read_only;
    DWORD is_switch;
  };
  constexpr WORD T = RTITEM_PROP_KIND_TEXT;
  constexpr WORD N = RTITEM_PROP_KIND_NUMBER;
  const Row expected[] = {
      {"ActionHotspotFont", T, 0x720, 0, 0}, {"AutoDecrypt", N, 0x729, 0, 1},
      {"AutoMergeText", N, 0x709, 0, 1},     {"AutoSave", N, 0x70A, 0, 1},
      {"CacheLinkMatching", N, 0x724, 0, 1}, {"CacheRecords", N, 0x71D, 0, 1},
      {"ClientPreference", T, 0x728, 0, 0},  {"ContainerType", T, 0x70B, 1, 0},
      {"DefaultTableWidth", N, 0x71B, 0, 0}, {"FilePath", T, 0x70D, 1, 0},
      {"ForceToWindow", N, 0x71C, 0, 1},     {"Handle", N, 0x710, 1, 0},
      {"HighlightFont", T, 0x711, 0, 0},     {"HTMLHeadContent", T, 0x72A, 0, 0},
      {"HyperlinkFont", T, 0x712, 0, 0},     {"ImportExportFile", T, 0x71F, 0, 0},
      {"ImportNativeImages", N, 0x71E, 0, 1}, {"IsConnected", N, 0x713, 1, 1},
      {"Modified", N, 0x714, 0, 1},          {"NoteID", T, 0x715, 1, 0},
      {"PermanentPen", N, 0x716, 0, 1},      {"PermanentPenFont", T, 0x717, 0, 0},
      {"PopUpFont", T, 0x727, 0, 0},         {"Server", T, 0x718, 1, 0},
      {"SuppressMessages", N, 0x723, 0, 1},  {"URLFont", T, 0x71A, 0, 0},
      {"WebQueryOpen", T, 0x721, 0, 0},      {"WebQuerySave", T, 0x722, 0, 0},
      {"WindowTitle", T, 0x725, 0, 0},
  };
  static_assert(std::size(expected) == kItemPropertyCount);
  for (size_t i = 0; i < kItemPropertyCount; ++i) {
    const rtitem_prop& row = rtitem_prop_table[i];
    const Row& want = expected[i];
    EXPECT_STREQ(row.name, want.name);
    EXPECT_EQ(row.kind, want.kind) << want.name;
    EXPECT_EQ(row.result_class, want.kind == T ? 0 : 7) << want.name;
    EXPECT_EQ(row.id, want.id) << want.name;
    EXPECT_EQ(row.read_only, want.read_only) << want.name;
    EXPECT_EQ(row.is_switch, want.is_switch) << want.name;
    EXPECT_EQ(row.list_settable, 0u) << want.name;
    EXPECT_EQ(row.enabled, 1u) << want.name;
    if (i > 0) {
      EXPECT_LT(CompareNamesIgnoringCase(rtitem_prop_table[i - 1].name, row.name), 0) << row.name;
    }
    EXPECT_EQ(LookupItemProperty(row.name), &row);
  }
  EXPECT_EQ(rtitem_prop_table[kItemPropertyCount].name, nullptr);
  EXPECT_EQ(LookupItemProperty("autosave"), &rtitem_prop_table[3]);
  EXPECT_EQ(LookupItemProperty("HTMLHEADCONTENT"), &rtitem_prop_table[13]);
  EXPECT_EQ(LookupItemProperty("Auto"), nullptr);
  EXPECT_EQ(LookupItemProperty(nullptr), nullptr);
}

/* ---- numbers ---- */

TEST_F(ItemPropertiesTest, NumbersReadTheirFieldsInAnyCase) {
  item_->AutoSave = 1;
  item_->PermanentPen = 1;
  item_->internal->ForceToWindow = 1;
  struct Case {
    const char* name;
    double value;
  };
  for (const Case& c : {Case{"AutoDecrypt", 1}, Case{"automergetext", 0}, Case{"AUTOSAVE", 1},
                        Case{"CacheLinkMatching", 1}, Case{"CacheRecords", 0},
                        Case{"DefaultTableWidth", 6.0}, Case{"ForceToWindow", 1},
                        Case{"Handle", 0}, Case{"ImportNativeImages", 0},
                        Case{"IsConnected", 0}, Case{"Modified", 0}, Case{"PermanentPen", 1},
                        Case{"SuppressMessages", 0}, Case{"URLFont", 0}, Case{"Server", 0},
                        Case{"NoSuchThing", 0}, Case{"", 0}})
    EXPECT_EQ(item_->GetPropertyNumber(c.name), c.value) << c.name;
  EXPECT_EQ(item_->GetPropertyNumber(nullptr), 0);
}

TEST_F(ItemPropertiesTest, SwitchesTakeTheTruncatedValue) {
  struct Case {
    double value;
    WORD stored;
  };
  for (const Case& c : {Case{0.7, 0}, Case{1.2, 1}, Case{-1, 1}, Case{-0.9, 0}, Case{42, 1},
                        Case{65536, 0}, Case{1e300, 0}}) {
    item_->AutoSave = 7;
    EXPECT_EQ(item_->SetPropertyNumber("AutoSave", c.value), 0);
    EXPECT_EQ(item_->AutoSave, c.stored) << c.value;
  }
  for (const char* name : {"AutoDecrypt", "AutoMergeText", "CacheLinkMatching", "CacheRecords",
                           "ImportNativeImages", "Modified", "PermanentPen"}) {
    item_->SetPropertyNumber(name, 1);
    EXPECT_EQ(item_->GetPropertyNumber(name), 1) << name;
    item_->SetPropertyNumber(name, 0);
    EXPECT_EQ(item_->GetPropertyNumber(name), 0) << name;
  }
  item_->SetPropertyNumber("forcetowindow", 3);
  EXPECT_EQ(item_->internal->ForceToWindow, 1);
}

TEST_F(ItemPropertiesTest, SuppressMessagesIsMirroredProcessWide) {
  item_->SetPropertyNumber("SuppressMessages", 1);
  EXPECT_EQ(item_->SuppressMessages, 1);
  EXPECT_EQ(GlobalSuppressMessages, 1);
  item_->SetPropertyNumber("SuppressMessages", 0);
  EXPECT_EQ(GlobalSuppressMessages, 0);
}

TEST_F(ItemPropertiesTest, DefaultTableWidthIsSetInInchesAndKeptInTwips) {
  struct Case {
    double inches;
    WORD twips;
  };
  for (const Case& c : {Case{6.5, 9360}, Case{1.0 / 1440, 1}, Case{0.0004, 0}, Case{-2, 0},
                        Case{45.5, 65520}, Case{100, 65535}}) {
    item_->SetPropertyNumber("DefaultTableWidth", c.inches);
    EXPECT_EQ(item_->DefaultTableWidth, c.twips) << c.inches;
  }
  item_->SetPropertyNumber("DefaultTableWidth", 6.5);
  EXPECT_EQ(item_->GetPropertyNumber("defaulttablewidth"), 6.5);
}

TEST_F(ItemPropertiesTest, ReadOnlyPropertiesAreRefusedWithAMessage) {
  item_->SetPropertyNumber("isconnected", 1);
  EXPECT_EQ(item_->IsConnected, 0);
  EXPECT_STREQ(session_->result_text, "@Tarno: Unable to set read-only property 'IsConnected'");
  EXPECT_EQ(session_->result_length, std::strlen(session_->result_text));
  EXPECT_EQ(item_->SetPropertyNumber("Server", 1), 0);
  EXPECT_EQ(item_->SetPropertyText("server", "elsewhere", 0), 0);
  EXPECT_EQ(item_->SetPropertyText("Handle", "1", 0), 0);
  EXPECT_THAT(Messages(), ElementsAre("@Tarno: Unable to set read-only property 'IsConnected'",
                                      "@Tarno: Unable to set read-only property 'Server'",
                                      "@Tarno: Unable to set read-only property 'Server'",
                                      "@Tarno: Unable to set read-only property 'Handle'"));
}

TEST_F(ItemPropertiesTest, NumberSetsLeaveTextsAndUnknownNamesAlone) {
  EXPECT_EQ(item_->SetPropertyNumber("URLFont", 1), 0);
  EXPECT_STREQ(item_->URLFont, "BLUE +UNDERLINE");
  EXPECT_EQ(item_->SetPropertyNumber("NoSuchThing", 1), 0);
  EXPECT_EQ(item_->SetPropertyNumber(nullptr, 1), 0);
  EXPECT_THAT(Messages(), IsEmpty());
}

TEST_F(ItemPropertiesTest, HandleReadsTheNoteHandle) {
  Connect();
  EXPECT_EQ(item_->GetPropertyNumber("Handle"), item_->note);
  EXPECT_EQ(item_->GetPropertyNumber("IsConnected"), 1);
}

/* ---- texts ---- */

TEST_F(ItemPropertiesTest, FontTextsAreReplacedByOwnedCopies) {
  struct Case {
    const char* name;
    char* VelkoRTItem::*field;
  };
  const Case cases[] = {
      {"ActionHotspotFont", &VelkoRTItem::ActionHotspotFont},
      {"highlightfont", &VelkoRTItem::HighlightFont},
      {"HyperlinkFont", &VelkoRTItem::HyperlinkFont},
      {"PermanentPenFont", &VelkoRTItem::PermanentPenFont},
      {"PopUpFont", &VelkoRTItem::PopUpFont},
      {"URLFont", &VelkoRTItem::URLFont},
      {"ImportExportFile", &VelkoRTItem::ImportExportFile},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(item_->SetPropertyText(c.name, "GREEN +ITALIC", 0), 1) << c.name;
    EXPECT_STREQ(item_->*c.field, "GREEN +ITALIC");
    EXPECT_EQ(item_->SetPropertyText(c.name, "PURPLE +BOLD", 6), 1);
    EXPECT_STREQ(item_->*c.field, "PURPLE");
  }
}

TEST_F(ItemPropertiesTest, ClientPreferenceIsWebOnlyForExactlyWeb) {
  struct Case {
    const char* value;
    WORD length;
    DWORD preference;
  };
  for (const Case& c : {Case{"web", 0, 0}, Case{"WEB", 0, 0}, Case{"Webb", 0, 1},
                        Case{"Notes", 0, 1}, Case{"Webster", 3, 0}, Case{"We", 0, 1}}) {
    EXPECT_EQ(item_->SetPropertyText("ClientPreference", c.value, c.length), 1);
    EXPECT_EQ(item_->internal->ClientPreference, c.preference) << c.value;
    EXPECT_EQ(global_client_preference, c.preference) << c.value;
  }
}

TEST_F(ItemPropertiesTest, TextSetsRefuseNumbersUnknownNamesAndListsWithoutEquals) {
  EXPECT_EQ(item_->SetPropertyText("AutoSave", "1", 0), 0);
  EXPECT_EQ(item_->AutoSave, 0);
  EXPECT_EQ(item_->SetPropertyText("NoSuchThing", "1", 0), 0);
  EXPECT_EQ(item_->SetPropertyText(nullptr, "1", 0), 0);
  EXPECT_EQ(item_->SetPropertyText("URLFont", nullptr, 0), 0);
  // A Name=value list sets only list-settable rows, of which there are none.
  EXPECT_EQ(item_->SetPropertyText("URLFont=RED HighlightFont=GREEN", nullptr, 0), 1);
  EXPECT_STREQ(item_->URLFont, "BLUE +UNDERLINE");
  EXPECT_STREQ(item_->HighlightFont, "RED +BOLD");
}

TEST_F(ItemPropertiesTest, GetPropertyTextYieldsNothing) {
  char out[32] = "junk";
  for (const char* name : {"URLFont", "Server", "AutoSave", "NoSuchThing"}) {
    std::strcpy(out, "junk");
    EXPECT_EQ(item_->GetPropertyText(name, out, sizeof out), 0);
    EXPECT_STREQ(out, "");
  }
  EXPECT_EQ(item_->GetPropertyText("URLFont", nullptr, 10), 0);
}

TEST_F(ItemPropertiesTest, FormulaPropertiesWriteTheirFormulaItems) {
  Connect();
  struct Case {
    const char* property;
    const char* item;
  };
  for (const Case& c : {Case{"WebQueryOpen", "$WEBQueryOpen"},
                        Case{"webquerysave", "$WEBQuerySave"}, Case{"WindowTitle", "$WindowTitle"},
                        Case{"HTMLHeadContent", "$HTMLHeadTag"}}) {
    EXPECT_EQ(item_->SetPropertyText(c.property, "\"Title\"", 0), 1) << c.property;
    char out[64] = {};
    EXPECT_EQ(item_->GetFormulaItem(c.item, out), 7) << c.item;
    EXPECT_STREQ(out, "\"Title\"");
  }
  // A formula that does not compile still counts as set.
  EXPECT_EQ(item_->SetPropertyText("WindowTitle", "\"open", 0), 1);
  EXPECT_EQ(item_->own_error, 20017);
}

/* ---- faces ---- */

TEST_F(ItemPropertiesTest, FindFaceByIDAnswersTheFirstFaceWithTheID) {
  struct Case {
    FACEID id;
    const char* name;
  };
  for (const Case& c : {Case{0, "Default Serif"}, Case{1, "Default Sans Serif"},
                        Case{2, "Default MultiLingual"}, Case{3, "Default User Interface"},
                        Case{4, "Default Monospace"}}) {
    char out[32] = {};
    EXPECT_EQ(item_->FindFaceByID(c.id, out), 1);
    EXPECT_STREQ(out, c.name);
  }
  char out[32] = "junk";
  EXPECT_EQ(item_->FindFaceByID(5, out), 0);
  EXPECT_STREQ(out, "junk");
}

TEST_F(ItemPropertiesTest, DefineFontAddsToTheNotesFontTableOnlyWhenConnected) {
  EXPECT_EQ(item_->DefineFont("Arial"), 0);
  Connect();
  FACEID id = item_->DefineFont("Arial");
  EXPECT_GE(id, 5);
  EXPECT_EQ(item_->DefineFont("arial"), id);
  char out[32] = {};
  EXPECT_EQ(item_->FindFaceByID(id, out), 1);
  EXPECT_STREQ(out, "Arial");
}

/* ---- style mappings ---- */

TEST_F(ItemPropertiesTest, InternalStyleMappingsAreAppendedToListOneAndCut) {
  const std::string longStyle(200, 's');
  const std::string longFace(40, 'f');
  item_->CreateInternalStyleMapping("Heading", "Arial", 0x0A000005);
  item_->CreateInternalStyleMapping(longStyle.c_str(), longFace.c_str(), 0x0C000006);
  item_->CreateInternalStyleMapping(nullptr, nullptr, 7);
  style_mapping* first = item_->internal->style_mappings[1];
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->flags, STYLE_MAPPING_INTERNAL);
  EXPECT_EQ(first->font_id, 0x0A000005u);
  EXPECT_STREQ(first->style_name, "Heading");
  EXPECT_STREQ(first->face_name, "Arial");
  style_mapping* second = first->next;
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(std::string(second->style_name), longStyle.substr(0, 127));
  EXPECT_EQ(std::string(second->face_name), longFace.substr(0, 31));
  ASSERT_NE(second->next, nullptr);
  EXPECT_STREQ(second->next->style_name, "");
  EXPECT_EQ(item_->internal->style_mappings[0], nullptr);

  EXPECT_EQ(item_->GetStyleMappingByFontID(0x0C000006, 1), second);
  EXPECT_EQ(item_->GetStyleMappingByFontID(0x0C000006, 2), second);
  EXPECT_EQ(item_->GetStyleMappingByFontID(0x0C000006, 0), nullptr);
  EXPECT_EQ(item_->GetStyleMappingByFontID(0x0D000006, 1), nullptr);
  item_->ClearStyleMappings(1);
  EXPECT_EQ(item_->internal->style_mappings[1], nullptr);
}

TEST_F(ItemPropertiesTest, LookupInListZeroTakesOnlyMappedOrInternalNodes) {
  auto* byName = new style_mapping();
  byName->font_id = 9;
  byName->flags = STYLE_MAPPING_BY_NAME;
  auto* mapped = new style_mapping();
  mapped->font_id = 9;
  mapped->flags = STYLE_MAPPING_MAPPED | STYLE_MAPPING_BY_NAME;
  byName->next = mapped;
  item_->internal->style_mappings[0] = byName;
  EXPECT_EQ(item_->GetStyleMappingByFontID(9, 0), mapped);
  EXPECT_EQ(item_->GetStyleMappingByFontID(9, 1), nullptr);
  item_->ClearStyleMappings(0);
  EXPECT_EQ(item_->internal->style_mappings[0], nullptr);
  item_->CreateInternalStyleMapping("Kept", "Arial", 1);  // freed by the item's destructor
}

}  // namespace
