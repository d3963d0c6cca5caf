// Opening databases and notes, copying a note under a free design name,
// design notes and the session's design elements, item data types and the
// design collection refresh, on real host databases.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/cdrecords.h"
#include "host/host_testing.h"
#include "host/nif.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/ods.h"
#include "host/status.h"
#include "host/timedate.h"
#include "store/note_access.h"
#include "store/rtitem_internal.h"
#include "tests/support/test_fixture.h"
#include "tests/support/note_fixture.h"
#include "velko/status.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using note_testing::HostText;
using note_testing::MessageTexts;

namespace {

using Bytes = std::vector<BYTE>;

constexpr char kDbPath[] = "mem:notes";

std::string ItemText(NOTEHANDLE note, const char* name) {
  char text[512] = {};
  NSFItemGetText(note, name, text, sizeof text);
  return text;
}

bool HasItem(NOTEHANDLE note, const char* name) {
  return NSFItemInfo(note, name, static_cast<WORD>(std::strlen(name)), nullptr, nullptr, nullptr,
                     nullptr) == NOERROR;
}

/* The value of an item, type word first; empty when there is none. */
Bytes ItemValue(NOTEHANDLE note, const char* name) {
  const std::vector<Bytes> values = note_testing::ItemValues(note, name);
  return values.empty() ? Bytes{} : values.front();
}

double ItemNumber(NOTEHANDLE note, const char* name) {
  const Bytes value = ItemValue(note, name);
  if (value.size() != 2 + sizeof(double) || (value[0] | value[1] << 8) != TYPE_NUMBER)
    return -1;
  double number = 0;
  std::memcpy(&number, value.data() + 2, sizeof number);
  return number;
}

class NoteAccessTest : public ::testing::Test {
protected:
  void SetUp() override {
    note_testing::ResetHostCapturing();
    ASSERT_EQ(note_testing::CreateDatabase(kDbPath, &db_), NOERROR);
    handles_before_ = HostTestLiveHandles();
    session_ = std::make_unique<LSXLsiSession>();
  }
  void TearDown() override {
    session_.reset();
    EXPECT_EQ(HostTestLiveHandles(), handles_before_) << HostTestLeakReport();
    NSFDbClose(db_);
    HostTestReset();
  }

  LSXLsiSession* session() { return session_.get(); }

  /* A stored note with the text items given as name/value pairs. */
  NOTEID StoreNote(WORD noteClass, std::vector<std::pair<const char*, const char*>> texts) {
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteCreate(db_, &note), NOERROR);
    NSFNoteSetInfo(note, _NOTE_CLASS, &noteClass);
    for (const auto& [name, text] : texts)
      EXPECT_EQ(NSFItemSetText(note, name, text, static_cast<WORD>(std::strlen(text))), NOERROR);
    EXPECT_EQ(NSFNoteUpdate(note, 0), NOERROR);
    NOTEID id = 0;
    NSFNoteGetInfo(note, _NOTE_ID, &id);
    NSFNoteClose(note);
    return id;
  }
  NOTEID StoreDesign(const char* title, const char* body = "old body") {
    return StoreNote(NOTE_CLASS_FORM, {{"$TITLE", title}, {"$Body", body}});
  }

  /* The stored design note of that name, opened (0 when there is none). */
  NOTEHANDLE OpenDesign(const char* name) {
    NOTEID id = 0;
    if (NIFFindDesignNote(db_, name, NOTE_CLASS_FORM, &id) != NOERROR)
      return NULLHANDLE;
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteOpen(db_, id, 0, &note), NOERROR);
    return note;
  }

  std::unique_ptr<LSXLsiSession> session_;
  DBHANDLE db_ = NULLHANDLE;
  size_t handles_before_ = 0;
};

/* ---- OpenDB ---- */

TEST_F(NoteAccessTest, OpenDBTakesAnEmptyNullOrSpaceLedServerAsLocal) {
  for (const char* server : {static_cast<const char*>(nullptr), "", " Mars/Acme", "  "}) {
    DBHANDLE db = NULLHANDLE;
    EXPECT_EQ(OpenDB(session(), server, kDbPath, &db), NOERROR) << (server ? server : "null");
    EXPECT_NE(db, NULLHANDLE);
    NSFDbClose(db);
  }
  EXPECT_THAT(MessageTexts(), IsEmpty());
}

TEST_F(NoteAccessTest, OpenDBReportsAMissingPathAnUnreachableServerAndAFileItCannotOpen) {
  struct Case {
    const char* server;
    const char* path;
    const char* message;
    STATUS status; /* 0: any failure */
  };
  for (const Case& c :
       {Case{"", nullptr, "TARNO: Invalid database name", VELKO_ERR_BAD_ARGUMENT},
        Case{"", "", "TARNO: Invalid database name", VELKO_ERR_BAD_ARGUMENT},
        Case{"Mars/Acme", kDbPath, "TARNO: Invalid server-database name",
             ERR_HOST_SERVER_NOT_LOCAL},
        Case{"", "no/such/file.nsf", "TARNO: Unable to open database.", 0}}) {
    HostTestClearMessages();
    std::strcpy(session()->scratch_second, "");
    DBHANDLE db = 99;
    const STATUS status = OpenDB(session(), c.server, c.path, &db);
    EXPECT_EQ(db, NULLHANDLE);
    EXPECT_THAT(MessageTexts(), ElementsAre(c.message));
    EXPECT_NE(status, NOERROR);
    if (c.status != 0) {
      EXPECT_EQ(status, c.status);
    }
    if (c.status != VELKO_ERR_BAD_ARGUMENT) {
      EXPECT_EQ(std::string(session()->scratch_second), HostText(status));
    }
  }
}

/* ---- opening notes ---- */

TEST_F(NoteAccessTest, OpenNoteInDBOpensByNoteIDOrByDesignName) {
  NOTEID document = StoreNote(NOTE_CLASS_DOCUMENT, {{"Subject", "plain"}});
  NOTEID form = StoreDesign("Main Form|main");
  struct Case {
    const char* design;
    NOTEID opened;
  };
  // A design name wins over the note ID; an empty one is no name.
  for (const Case& c : {Case{nullptr, document}, Case{"MAIN", form}, Case{"", document}}) {
    NOTEHANDLE note = NULLHANDLE;
    ASSERT_EQ(OpenNoteInDB(session(), db_, document, c.design, "-U-W", nullptr, &note, 0, 1,
                           nullptr),
              NOERROR);
    NOTEID opened = 0;
    NSFNoteGetInfo(note, _NOTE_ID, &opened);
    EXPECT_EQ(opened, c.opened);
    NSFNoteClose(note);
  }
  EXPECT_THAT(MessageTexts(), IsEmpty());
}

TEST_F(NoteAccessTest, OpenNoteInDBReportsAMissingFormUnlessSuppressedAndAMissingNoteAlways) {
  for (WORD suppress : {0, 1}) {
    HostTestClearMessages();
    session()->internal->GlobalSuppressMessages = suppress;
    NOTEHANDLE note = 77;
    EXPECT_EQ(OpenNoteInDB(session(), db_, 0, "Nowhere", nullptr, nullptr, &note, 0, 0, nullptr),
              ERR_NOT_FOUND);
    EXPECT_EQ(note, NULLHANDLE);
    if (suppress == 0)
      EXPECT_THAT(MessageTexts(), ElementsAre("TARNO: Unable to find form 'Nowhere'."));
    else
      EXPECT_THAT(MessageTexts(), IsEmpty());
  }
  NOTEHANDLE note = 77;
  EXPECT_EQ(OpenNoteInDB(session(), db_, 0x7FF0, nullptr, nullptr, nullptr, &note, 0, 0, nullptr),
            ERR_HOST_NOTE_NOT_FOUND);
  EXPECT_EQ(note, NULLHANDLE);
  EXPECT_THAT(MessageTexts(), ElementsAre("TARNO: Unable to find note using NoteID.",
                                          HostText(ERR_HOST_NOTE_NOT_FOUND)));
}

TEST_F(NoteAccessTest, ACopyTakesTheNameOrTheLowestFreeNumberAndIsStoredAsANewNote) {
  NOTEID report = StoreDesign("Report", "the report");
  StoreDesign("Report2");
  struct Case {
    const char* copy;
    const char* title;
  };
  for (const Case& c : {Case{"report", "report1"}, Case{"Report", "Report3"},
                        Case{"Summary", "Summary"}}) {
    NOTEHANDLE copy = NULLHANDLE;
    ASSERT_EQ(OpenNoteInDB(session(), db_, 0, "Report", nullptr, c.copy, &copy, 0, 0, nullptr),
              NOERROR);
    EXPECT_EQ(ItemText(copy, "$TITLE"), c.title);
    EXPECT_EQ(ItemText(copy, "$$ScriptName"), c.title);
    EXPECT_EQ(ItemText(copy, "$Body"), "the report");
    NOTEID id = 99;
    NSFNoteGetInfo(copy, _NOTE_ID, &id);
    EXPECT_EQ(id, 0u);
    ASSERT_EQ(NSFNoteUpdate(copy, 0), NOERROR);
    NSFNoteGetInfo(copy, _NOTE_ID, &id);
    EXPECT_NE(id, report);
    NSFNoteClose(copy);
  }
  // The source keeps its name; each copy is found under its own.
  NOTEHANDLE source = OpenDesign("Report");
  EXPECT_FALSE(HasItem(source, "$$ScriptName"));
  NSFNoteClose(source);
  NOTEHANDLE stored = OpenDesign("Report3");
  ASSERT_NE(stored, NULLHANDLE);
  EXPECT_EQ(ItemText(stored, "$Body"), "the report");
  NSFNoteClose(stored);
}

TEST_F(NoteAccessTest, OpenNoteHandsBackBothHandlesOrNeither) {
  NOTEID document = StoreNote(NOTE_CLASS_DOCUMENT, {{"Subject", "x"}});
  DBHANDLE db = NULLHANDLE;
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(OpenNote(session(), "", kDbPath, document, nullptr, nullptr, nullptr, &db, &note, 0, 1,
                     nullptr),
            NOERROR);
  EXPECT_EQ(ItemText(note, "Subject"), "x");
  EXPECT_EQ(CloseNote(db, note), NOERROR);
  EXPECT_EQ(NSFDbClose(db), ERR_HOST_BAD_HANDLE) << "both are closed now";

  struct Case {
    const char* path;
    NOTEID id;
    STATUS status;
  };
  for (const Case& c : {Case{kDbPath, 0x7FF0, ERR_HOST_NOTE_NOT_FOUND},
                        Case{"", document, VELKO_ERR_BAD_ARGUMENT}}) {
    db = 5;
    note = 6;
    EXPECT_EQ(OpenNote(session(), "", c.path, c.id, nullptr, nullptr, nullptr, &db, &note, 0, 0,
                       nullptr),
              c.status);
    EXPECT_EQ(db, NULLHANDLE);
    EXPECT_EQ(note, NULLHANDLE);
  }
}

TEST_F(NoteAccessTest, OpenNoteByUNIDFindsTheNoteOrReportsIt) {
  NOTEID document = StoreNote(NOTE_CLASS_DOCUMENT, {{"Subject", "by unid"}});
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(NSFNoteOpen(db_, document, 0, &note), NOERROR);
  ORIGINATORID oid = {};
  NSFNoteGetInfo(note, _NOTE_OID, &oid);
  NSFNoteClose(note);
  UNID unid = {{oid.File[0], oid.File[1]}, oid.Note};

  DBHANDLE db = NULLHANDLE;
  ASSERT_EQ(OpenNoteByUNID(session(), nullptr, kDbPath, &unid, &db, &note, 0, 1, nullptr),
            NOERROR);
  EXPECT_EQ(ItemText(note, "Subject"), "by unid");
  CloseNote(db, note);
  EXPECT_THAT(MessageTexts(), IsEmpty());

  unid.Note.Innards[0] ^= 0x5A5A;
  db = 5;
  note = 6;
  EXPECT_EQ(OpenNoteByUNID(session(), "", kDbPath, &unid, &db, &note, 0, 0, nullptr),
            ERR_HOST_NOTE_NOT_FOUND);
  EXPECT_EQ(db, NULLHANDLE);
  EXPECT_EQ(note, NULLHANDLE);
  EXPECT_THAT(MessageTexts(), ElementsAre("TARNO: Unable to find note using Universal ID."));
}

TEST_F(NoteAccessTest, GetFieldDatatypeGivesTheTypeWordOrZero) {
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(NSFNoteOpen(db_, StoreNote(NOTE_CLASS_DOCUMENT, {{"Subject", "x"}}), 0, &note),
            NOERROR);
  double number = 3;
  ASSERT_EQ(NSFItemAppend(note, 0, "Count", 5, TYPE_NUMBER, &number, sizeof number), NOERROR);
  EXPECT_EQ(GetFieldDatatype(note, "Subject"), TYPE_TEXT);
  EXPECT_EQ(GetFieldDatatype(note, "count"), TYPE_NUMBER);
  EXPECT_EQ(GetFieldDatatype(note, "Missing"), 0);
  EXPECT_EQ(GetFieldDatatype(note, nullptr), 0);
  NSFNoteClose(note);
  EXPECT_EQ(GetFieldDatatype(note, "Subject"), 0);
  EXPECT_EQ(RefreshDesignCollection(db_), NOERROR);
  EXPECT_NE(RefreshDesignCollection(0x7777), NOERROR);
}

/* ---- design notes ---- */

TEST_F(NoteAccessTest, ANewDesignNoteCarriesTheItemsOfItsKind) {
  struct Case {
    const char* kind;
    const char* name;
    const char* flags;
    bool info;           /* "$Info" written */
    const char* version; /* "$DesignerVersion" */
  };
  const Case cases[] = {
      {"Form", "Memo", "", true, "5"},
      {"form", "Memo2", "", true, "5"},
      {"Page", "Home", "C34WQ", true, "5"},
      {"Shared Field", "Total", "", true, "5"},
      {"SUBFORM", "Header", "CUA3", true, "5"},
      {"Image Resource", "logo.gif", "34CiQ", false, "5"},
      {"File Resource", "style.CSS", "D34C=Q", false, "6"},
      {"File Resource", "index.htm", "345Cg>Q", false, "6"},
      {"File Resource", "a/b/Index.HTML", "345Cg>Q", false, "6"},
      {"File Resource", "notes.txt", "345CgQ", false, "6"},
      {"File Resource", "dir.css/data", "345CgQ", false, "6"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(CreateDesignNote(session(), c.kind, "", kDbPath, c.name, nullptr, "$Body", 0),
              NOERROR);
    NOTEHANDLE note = OpenDesign(c.name);
    ASSERT_NE(note, NULLHANDLE);
    WORD noteClass = 0;
    NSFNoteGetInfo(note, _NOTE_CLASS, &noteClass);
    EXPECT_EQ(noteClass, NOTE_CLASS_FORM);
    EXPECT_EQ(ItemText(note, "$TITLE"), c.name);
    EXPECT_TRUE(HasItem(note, "$Flags"));
    EXPECT_EQ(ItemText(note, "$Flags"), c.flags);
    EXPECT_EQ(HasItem(note, "$Info"), c.info);
    EXPECT_EQ(ItemText(note, "$DesignerVersion"), c.version);
    EXPECT_FALSE(HasItem(note, "$Body"));
    NSFNoteClose(note);
  }
  EXPECT_THAT(MessageTexts(), IsEmpty());
}

/* "$Info" holds one CDDOCUMENT: paper colour 1, form flags 0x0080, the
 * extended paper colour 1 and every other byte 0. */
TEST_F(NoteAccessTest, InfoHoldsOneDocumentRecord) {
  ASSERT_EQ(CreateDesignNote(session(), "Form", "", kDbPath, "Memo", nullptr, "$Body", 0), NOERROR);
  NOTEHANDLE note = OpenDesign("Memo");
  const Bytes value = ItemValue(note, "$Info");
  NSFNoteClose(note);
  const WORD length = ODSLength(ODS_CDDOCUMENT);
  ASSERT_EQ(value.size(), 2u + length + (length & 1));
  EXPECT_EQ(value[0] | value[1] << 8, TYPE_COMPOSITE);
  const void* cursor = value.data() + 2;
  CDDOCUMENT document = {};
  ODSReadMemory(&cursor, ODS_CDDOCUMENT, &document, 1);
  CDDOCUMENT expected = {};
  expected.Header.Signature = SIG_CD_DOCUMENT;
  expected.Header.Length = static_cast<BYTE>(length);
  expected.PaperColor = 1;
  expected.FormFlags = 0x0080;
  expected.PaperColorExt = 1;
  EXPECT_EQ(std::memcmp(&document, &expected, sizeof document), 0);
}

TEST_F(NoteAccessTest, ResourcesNameTheirFileSizeMimeTypeAndTime) {
  ASSERT_EQ(CreateDesignNote(session(), "Image Resource", "", kDbPath, "images\\web/logo.gif",
                             nullptr, "$ImageData", 0),
            NOERROR);
  NOTEHANDLE note = OpenDesign("images\\web/logo.gif");
  ASSERT_NE(note, NULLHANDLE);
  EXPECT_EQ(ItemText(note, "$ImageNames"), "logo.gif");
  EXPECT_EQ(ItemNumber(note, "$ImagesWide"), 1);
  EXPECT_EQ(ItemNumber(note, "$ImagesHigh"), 1);
  EXPECT_EQ(ItemNumber(note, "$ImagesColorize"), 0);
  NSFNoteClose(note);
  // A name ending in a separator names itself.
  ASSERT_EQ(CreateDesignNote(session(), "Image Resource", "", kDbPath, "images/", nullptr,
                             "$ImageData", 0),
            NOERROR);
  note = OpenDesign("images/");
  EXPECT_EQ(ItemText(note, "$ImageNames"), "images/");
  NSFNoteClose(note);

  TIMEDATE now = TimeDateFromUnix(1700000000);
  HostTestSetClock(&now);
  struct Case {
    const char* name;
    const char* file;
    const char* mime; /* null: no $MimeType */
  };
  for (const Case& c : {Case{"css/style.CSS", "style.CSS", nullptr},
                        Case{"web\\page.html", "page.html", "text/html"},
                        Case{"readme.TXT", "readme.TXT", "text/plain"},
                        Case{"blob.bin", "blob.bin", nullptr}}) {
    ASSERT_EQ(CreateDesignNote(session(), "File Resource", "", kDbPath, c.name, nullptr,
                               "$FileData", 0),
              NOERROR);
    note = OpenDesign(c.name);
    ASSERT_NE(note, NULLHANDLE) << c.name;
    EXPECT_EQ(ItemText(note, "$FlagsExt"), "D");
    EXPECT_EQ(ItemText(note, "$FileNames"), c.file);
    EXPECT_EQ(HasItem(note, "$MimeType"), c.mime != nullptr) << c.name;
    EXPECT_EQ(ItemText(note, "$MimeType"), c.mime != nullptr ? c.mime : "");
    const Bytes time = ItemValue(note, "$FileModDT");
    ASSERT_EQ(time.size(), 2 + sizeof(TIMEDATE));
    EXPECT_EQ(time[0] | time[1] << 8, TYPE_TIME);
    EXPECT_EQ(std::memcmp(time.data() + 2, &now, sizeof now), 0);
    NSFNoteClose(note);
  }
}

TEST_F(NoteAccessTest, AnExistingElementIsKeptWithoutOverwriteAndLosesOnlyItsContentWith) {
  for (WORD suppress : {0, 1}) {
    HostTestClearMessages();
    session()->internal->GlobalSuppressMessages = suppress;
    StoreDesign("Home", "kept");
    EXPECT_EQ(CreateDesignNote(session(), "Page", "", kDbPath, "home", nullptr, "$Body", 0),
              NOERROR);
    NOTEHANDLE note = OpenDesign("Home");
    EXPECT_EQ(ItemText(note, "$Body"), "kept");
    EXPECT_FALSE(HasItem(note, "$Flags"));
    NSFNoteClose(note);
    if (suppress == 0)
      EXPECT_THAT(MessageTexts(), ElementsAre("TARNO: Page 'home' already exists."));
    else
      EXPECT_THAT(MessageTexts(), IsEmpty());
  }
  HostTestClearMessages();
  NOTEID id = StoreNote(NOTE_CLASS_FORM, {{"$TITLE", "Over"}, {"$Body", "old"}, {"$Flags", "W"}});
  EXPECT_EQ(CreateDesignNote(session(), "Page", "", kDbPath, "Over", nullptr, "$Body", 1), NOERROR);
  NOTEHANDLE note = OpenDesign("Over");
  NOTEID reopened = 0;
  NSFNoteGetInfo(note, _NOTE_ID, &reopened);
  EXPECT_EQ(reopened, id);
  EXPECT_FALSE(HasItem(note, "$Body"));
  EXPECT_EQ(ItemText(note, "$Flags"), "W");
  NSFNoteClose(note);
  EXPECT_THAT(MessageTexts(), IsEmpty());
}

TEST_F(NoteAccessTest, FailuresStoreNothing) {
  EXPECT_EQ(CreateDesignNote(session(), "View", "", kDbPath, "All", nullptr, "$Body", 0),
            VELKO_ERR_NO_INPUT);
  EXPECT_EQ(OpenDesign("All"), NULLHANDLE);
  // "$FileModDT" is the last item of a file resource; a value cap below its
  // size makes that write fail.
  HostTestSetItemValueLimit(2 + sizeof(TIMEDATE) - 1);
  EXPECT_EQ(CreateDesignNote(session(), "File Resource", "", kDbPath, "a.css", nullptr,
                             "$FileData", 0),
            ERR_HOST_VALUE_TOO_LARGE);
  HostTestSetItemValueLimit(0);
  EXPECT_EQ(OpenDesign("a.css"), NULLHANDLE);
  // A database that cannot be opened is reported, and the call gives 0.
  for (WORD suppress : {0, 1}) {
    HostTestClearMessages();
    session()->internal->GlobalSuppressMessages = suppress;
    EXPECT_EQ(CreateDesignNote(session(), "Form", "Mars", "mail.nsf", "Memo", nullptr, "$Body", 0),
              NOERROR);
    std::vector<std::string> expected = {"TARNO: Invalid server-database name"};
    if (suppress == 0)
      expected.push_back("TARNO: Database 'mail.nsf' on server 'Mars' could not be accessed.");
    EXPECT_EQ(MessageTexts(), expected);
  }
}

/* ---- the session's design elements ---- */

class DesignElementTest : public NoteAccessTest {
protected:
  void TearDown() override {
    delete item_;
    item_ = nullptr;
    NoteAccessTest::TearDown();
  }
  VelkoRTItem* Create(const char* kind, const char* name, const char* options) {
    delete item_;
    item_ = session()->CreateDesignElement(kind, "", kDbPath, name, options);
    return item_;
  }
  VelkoRTItem* item_ = nullptr;
};

TEST_F(DesignElementTest, EveryKindIsCreatedAndConnectedToItsContentItem) {
  struct Case {
    const char* kind;
    const char* name;
    const char* options;
    const char* item;
    WORD connected;
    bool content_stored; /* the content item is in the stored note */
    const char* mime;
  };
  const Case cases[] = {
      {"Form", "Memo", nullptr, "$Body", 1, false, ""},
      {"Page", "Home", "", "$Body", 1, false, ""},
      {"Subform", "Head", "", "$Body", 1, false, ""},
      {"Shared Field", "Total", "", "$Body", 1, false, ""},
      {"Image Resource", "logo.gif", "", "$ImageData", 1, false, ""},
      // A file resource is connected and saved only with a source file.
      {"File Resource", "style.CSS", nullptr, "$FileData", 0, false, ""},
      {"File Resource", "notes.txt", "/tmp/notes.txt", "$FileData", 1, true, "text/plain"},
      {"File Resource", "other.txt", "SourceFile=/tmp/notes.txt OverrideSave=Yes", "$FileData",
       1, false, "text/plain"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VelkoRTItem* item = Create(c.kind, c.name, c.options);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->IsConnected, c.connected);
    if (c.connected != 0) {
      EXPECT_STREQ(item->item_name, c.item);
      EXPECT_EQ(item->internal->design_element, 1u);
    }
    NOTEHANDLE note = OpenDesign(c.name);
    ASSERT_NE(note, NULLHANDLE);
    EXPECT_EQ(HasItem(note, c.item), c.content_stored);
    EXPECT_EQ(ItemText(note, "$MimeType"), c.mime);
    NSFNoteClose(note);
  }
  EXPECT_THAT(MessageTexts(), IsEmpty());
}

TEST_F(DesignElementTest, AnExistingPageIsConnectedAsItIsUnlessOptionsAskForOverwrite) {
  StoreDesign("Home", "kept");
  ASSERT_NE(Create("Page", "Home", "Overwrite=No"), nullptr);
  EXPECT_EQ(item_->IsConnected, 1);
  EXPECT_THAT(MessageTexts(), ElementsAre("TARNO: Page 'Home' already exists."));
  NOTEHANDLE note = OpenDesign("Home");
  EXPECT_EQ(ItemText(note, "$Body"), "kept");
  NSFNoteClose(note);

  // Bare options (a file name) switch overwrite on, as Overwrite=Yes does.
  for (const char* options : {"c:\\pages\\home.htm", "Overwrite=Yes"}) {
    HostTestClearMessages();
    const std::string name = options[0] == 'c' ? "Home1" : "Home2";
    StoreDesign(name.c_str(), "old body");
    ASSERT_NE(Create("Page", name.c_str(), options), nullptr) << options;
    EXPECT_EQ(item_->IsConnected, 1);
    EXPECT_THAT(MessageTexts(), IsEmpty()) << options;
    note = OpenDesign(name.c_str());
    EXPECT_FALSE(HasItem(note, "$Body")) << options;
    NSFNoteClose(note);
  }
}

TEST_F(DesignElementTest, URLEncodeChangesACopyOfTheName) {
  const char name[] = "web pages\\a:b";
  ASSERT_NE(Create("Page", name, "URLEncode=yes"), nullptr);
  EXPECT_STREQ(name, "web pages\\a:b");
  NOTEHANDLE note = OpenDesign("web+pages/a_b");
  ASSERT_NE(note, NULLHANDLE);
  EXPECT_EQ(ItemText(note, "$TITLE"), "web+pages/a_b");
  NSFNoteClose(note);
  EXPECT_EQ(OpenDesign(name), NULLHANDLE);
}

TEST_F(DesignElementTest, FailuresGiveNullAndLeaveNoItem) {
  EXPECT_EQ(Create("View", "All", nullptr), nullptr);
  EXPECT_THAT(MessageTexts(), IsEmpty());
  // No import filter is named for GIF files here, so the append of the
  // image reports 1028; the element is stored but not handed out.
  for (const char* options : {"/tmp/logo.gif", "SourceFile=/tmp/logo.gif Overwrite=Yes"}) {
    EXPECT_EQ(Create("Image Resource", "logo.gif", options), nullptr) << options;
    NOTEHANDLE note = OpenDesign("logo.gif");
    EXPECT_NE(note, NULLHANDLE);
    NSFNoteClose(note);
  }
  EXPECT_EQ(session()->items, nullptr);

  EXPECT_EQ(session()->CreateDesignElement("Form", "", "missing.nsf", "Memo", nullptr), nullptr);
  EXPECT_EQ(session()->items, nullptr);
  const std::vector<std::string> messages = MessageTexts();
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages[0], "TARNO: Unable to open database.");
  EXPECT_EQ(messages[1], "TARNO: Database 'missing.nsf' on server '' could not be accessed.");
}

}  // namespace
