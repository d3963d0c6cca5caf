// A rich-text item's named properties, its face-id answers and its style
// mappings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/host_testing.h"
#include "host/nsfnote.h"
#include "store/item_properties.h"
#include "store/rtitem_internal.h"
#include "store/vocabulary.h"
#include "tests/support/test_fixture.h"
#include "tests/support/note_fixture.h"
#include "velko/status.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using note_testing::MessageTexts;

namespace {

class ItemPropertiesTest : public ::testing::Test {
protected:
  void SetUp() override {
    handles_ = note_testing::ResetHostCapturing();
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
    DBHANDLE db = NULLHANDLE;
    ASSERT_EQ(note_testing::CreateDatabase("mem:properties", &db), NOERROR);
    NOTEHANDLE note = NULLHANDLE;
    ASSERT_EQ(NSFNoteCreate(db, &note), NOERROR);
    ASSERT_EQ(NSFNoteUpdate(note, 0), NOERROR);
    NOTEID id = 0;
    NSFNoteGetInfo(note, _NOTE_ID, &id);
    NSFNoteClose(note);
    NSFDbClose(db);
    ASSERT_EQ(item_->Connect("", "mem:properties", id, "Body", 1), NOERROR);
  }

  std::unique_ptr<LSXLsiSession> session_;
  VelkoRTItem* item_ = nullptr; // deleted with the session
  size_t handles_ = 0;
};

TEST(ItemPropertyTable, IsSortedForTheLookupWhichIgnoresCase) {
  for (size_t i = 0; i < kItemPropertyCount; ++i) {
    const rtitem_prop& row = rtitem_prop_table[i];
    if (i > 0) {
      EXPECT_LT(CompareNamesIgnoringCase(rtitem_prop_table[i - 1].name, row.name), 0) << row.name;
    }
    EXPECT_EQ(LookupItemProperty(row.name), &row);
  }
  EXPECT_EQ(rtitem_prop_table[kItemPropertyCount].name, nullptr);
  EXPECT_EQ(LookupItemProperty("HTMLHEADCONTENT"), LookupItemProperty("HTMLHeadContent"));
  EXPECT_EQ(LookupItemProperty("Auto"), nullptr);
  EXPECT_EQ(LookupItemProperty(nullptr), nullptr);
}

/* ---- numbers ---- */

TEST_F(ItemPropertiesTest, EachSwitchReadsAndWritesItsOwnField) {
  const char* switches[] = {"AutoDecrypt",        "AutoMergeText", "AutoSave",
                            "CacheLinkMatching",  "CacheRecords",  "ForceToWindow",
                            "ImportNativeImages", "Modified",      "PermanentPen"};
  for (const char* name : switches)
    item_->SetPropertyNumber(name, 0);
  for (const char* set : switches) {
    item_->SetPropertyNumber(set, 3); // a switch keeps 1
    for (const char* name : switches)
      EXPECT_EQ(item_->GetPropertyNumber(name), std::strcmp(name, set) == 0 ? 1 : 0)
          << set << " read as " << name;
    item_->SetPropertyNumber(set, 0);
  }
  EXPECT_EQ(item_->GetPropertyNumber("autosave"), 0);
  for (const char* name : {"URLFont", "Server", "NoSuchThing", "", static_cast<const char*>(nullptr)})
    EXPECT_EQ(item_->GetPropertyNumber(name), 0) << (name ? name : "(null)");
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
  item_->SetPropertyNumber("SuppressMessages", 1);
  EXPECT_EQ(item_->session->internal->GlobalSuppressMessages, 1) << "mirrored to the session";
  item_->SetPropertyNumber("SuppressMessages", 0);
  EXPECT_EQ(item_->session->internal->GlobalSuppressMessages, 0);
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
  EXPECT_EQ(item_->SetPropertyText("server", "elsewhere", 0), 0);
  EXPECT_THAT(MessageTexts(), ElementsAre("@Tarno: Unable to set read-only property 'IsConnected'",
                                          "@Tarno: Unable to set read-only property 'Server'"));
  Connect();
  EXPECT_EQ(item_->GetPropertyNumber("Handle"), item_->note);
  EXPECT_EQ(item_->GetPropertyNumber("IsConnected"), 1);
}

/* ---- texts ---- */

TEST_F(ItemPropertiesTest, FontTextsAreReplacedByOwnedCopies) {
  EXPECT_EQ(item_->SetPropertyText("highlightfont", "GREEN +ITALIC", 0), 1);
  EXPECT_STREQ(item_->HighlightFont, "GREEN +ITALIC");
  EXPECT_EQ(item_->SetPropertyText("ImportExportFile", "PURPLE +BOLD", 6), 1);
  EXPECT_STREQ(item_->ImportExportFile, "PURPLE");
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
    EXPECT_EQ(item_->session->internal->global_client_preference, c.preference) << c.value;
  }
}

TEST_F(ItemPropertiesTest, SetsOfTheWrongKindUnknownNamesAndListsChangeNothing) {
  EXPECT_EQ(item_->SetPropertyNumber("URLFont", 1), 0);
  EXPECT_STREQ(item_->URLFont, "BLUE +UNDERLINE");
  EXPECT_EQ(item_->SetPropertyNumber("NoSuchThing", 1), 0);
  EXPECT_EQ(item_->SetPropertyNumber(nullptr, 1), 0);
  EXPECT_EQ(item_->SetPropertyText("AutoSave", "1", 0), 0);
  EXPECT_EQ(item_->AutoSave, 0);
  EXPECT_EQ(item_->SetPropertyText("NoSuchThing", "1", 0), 0);
  EXPECT_EQ(item_->SetPropertyText("URLFont", nullptr, 0), 0);
  // A Name=value list sets only list-settable rows, of which there are none.
  EXPECT_EQ(item_->SetPropertyText("URLFont=RED HighlightFont=GREEN", nullptr, 0), 1);
  EXPECT_STREQ(item_->URLFont, "BLUE +UNDERLINE");
  EXPECT_THAT(MessageTexts(), IsEmpty());
  char out[32] = "junk";
  EXPECT_EQ(item_->GetPropertyText("URLFont", out, sizeof out), 0);
  EXPECT_STREQ(out, "");
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

/* A formula text longer than a length word counts (its length 0: its
 * string length) is refused whole with 1028 and no message, the formula
 * item staying as it was, rather than compiled cut to its low 16 bits (for
 * 65536 bytes: none, which would delete the item). One of 65535 bytes is
 * handed to the compiler and counts as set. */
TEST_F(ItemPropertiesTest, AFormulaTextPastALengthWordIsRefusedAndTheFormulaItemKept) {
  Connect();
  for (const char* property : {"WindowTitle", "HTMLHeadContent"}) {
    ASSERT_EQ(item_->SetPropertyText(property, "\"Old\"", 0), 1);
    const char* formulaItem = std::strcmp(property, "WindowTitle") == 0 ? "$WindowTitle"
                                                                        : "$HTMLHeadTag";
    const std::vector<std::vector<BYTE>> old = note_testing::ItemValues(item_->note, formulaItem);
    ASSERT_EQ(old.size(), 1u);
    for (const size_t length : {size_t{65536}, size_t{70000}}) {
      SCOPED_TRACE(std::string(property) + " " + std::to_string(length));
      HostTestClearMessages();
      item_->last_status = NOERROR;
      const std::string value(length, 'x');
      EXPECT_EQ(item_->SetPropertyText(property, value.c_str(), 0), 0);
      EXPECT_EQ(item_->last_status, VELKO_ERR_BAD_ARGUMENT);
      EXPECT_EQ(item_->own_error, 0);
      EXPECT_THAT(MessageTexts(), IsEmpty());
      EXPECT_EQ(note_testing::ItemValues(item_->note, formulaItem), old);
    }
  }
  item_->last_status = NOERROR;
  EXPECT_EQ(item_->SetPropertyText("WindowTitle", std::string(65535, 'x').c_str(), 0), 1);
  EXPECT_EQ(item_->last_status, NOERROR);
}

/* ---- faces ---- */

TEST_F(ItemPropertiesTest, FacesAreFoundByTheirFirstIDAndDefinedOnlyWhenConnected) {
  char out[32] = {};
  EXPECT_EQ(item_->FindFaceByID(4, out), 1);
  EXPECT_STREQ(out, "Default Monospace") << "the first face of id 4, not COURIER";
  std::strcpy(out, "junk");
  EXPECT_EQ(item_->FindFaceByID(5, out), 0);
  EXPECT_STREQ(out, "junk");

  EXPECT_EQ(item_->DefineFont("Arial"), 0);
  Connect();
  const FACEID id = item_->DefineFont("Arial");
  EXPECT_GE(id, 5);
  EXPECT_EQ(item_->DefineFont("arial"), id);
  EXPECT_EQ(item_->FindFaceByID(id, out), 1);
  EXPECT_STREQ(out, "Arial");
}

/* ---- style mappings ---- */

TEST_F(ItemPropertiesTest, InternalStyleMappingsAreAppendedToListOneAndCut) {
  item_->CreateInternalStyleMapping("Heading", "Arial", 0x0A000005);
  item_->CreateInternalStyleMapping(std::string(200, 's').c_str(), std::string(40, 'f').c_str(),
                                    0x0C000006);
  item_->CreateInternalStyleMapping(nullptr, nullptr, 7);
  style_mapping* first = item_->internal->style_mappings[1];
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->flags, STYLE_MAPPING_INTERNAL);
  EXPECT_EQ(first->font_id, 0x0A000005u);
  EXPECT_STREQ(first->style_name, "Heading");
  EXPECT_STREQ(first->face_name, "Arial");
  style_mapping* second = first->next;
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(std::string(second->style_name), std::string(127, 's'));
  EXPECT_EQ(std::string(second->face_name), std::string(31, 'f'));
  ASSERT_NE(second->next, nullptr);
  EXPECT_STREQ(second->next->style_name, "");
  EXPECT_EQ(item_->internal->style_mappings[0], nullptr);

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
  item_->CreateInternalStyleMapping("Kept", "Arial", 1); // freed by the item's destructor
}

} // namespace
