// The rich-text item on real host databases: its lifecycle, the connect
// family, writing back (Commit, Save, CopyBackend), chunks, blank items,
// formula items, header and footer items, and what failures leave behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "chunk/rtchunk_internal.h"
#include "host/formula.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/status.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/vocabulary.h"
#include "tests/support/test_fixture.h"
#include "tests/support/note_fixture.h"
#include "cdbuild/cd_builder.h"
#include "velko/status.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using note_testing::HostText;
using note_testing::MessageTexts;

namespace {

using Bytes = std::vector<BYTE>;

constexpr char kDbPath[] = "mem:items";

WORD Length(const char* text) { return static_cast<WORD>(std::strlen(text)); }

bool HasItem(NOTEHANDLE note, const char* name) {
  return NSFItemInfo(note, name, Length(name), nullptr, nullptr, nullptr, nullptr) == NOERROR;
}

WORD ItemType(NOTEHANDLE note, const char* name) {
  WORD type = 0;
  NSFItemInfo(note, name, Length(name), nullptr, &type, nullptr, nullptr);
  return type;
}

/* The value of the first item of the name, type word first; empty when the
 * note has none. */
Bytes ItemValue(NOTEHANDLE note, const char* name) {
  const std::vector<Bytes> values = note_testing::ItemValues(note, name);
  return values.empty() ? Bytes{} : values.front();
}

void AppendComposite(NOTEHANDLE note, const char* name, const Bytes& records) {
  ASSERT_EQ(note_testing::AppendRecords(note, name, records), NOERROR);
}

/* The records of a text record holding two characters. */
Bytes TextRecord(char a, char b) { return cdbuild::Text(std::string{a, b}); }
Bytes TextValue(char a, char b) { return note_testing::Value(TextRecord(a, b)); }

/* The records of a blank rich-text item: a definition (stored length 70 +
 * 12), a reference and an empty text, byte for byte. */
Bytes BlankRecords() {
  return note_testing::Records({note_testing::DefaultDefinition(1, 1440, true, 0x0494),
                                cdbuild::PabRef(1), cdbuild::Text("")});
}
Bytes BlankValue() { return note_testing::Value(BlankRecords()); }

/* Offset of the CDTEXT's point-size byte in the blank value. */
constexpr size_t kBlankTextSizeByte = 2 + 82 + 4 + 7;

class ItemTest : public ::testing::Test {
protected:
  void SetUp() override {
    handles_ = note_testing::ResetHostCapturing();
    ASSERT_EQ(note_testing::CreateDatabase(kDbPath, &db_), NOERROR);
    session_ = std::make_unique<LSXLsiSession>();
  }

  void TearDown() override {
    session_.reset();
    for (NOTEHANDLE note : notes_)
      NSFNoteClose(note);
    NSFDbClose(db_);
    HostTestSetItemValueLimit(0);
    HostTestFailStorageWrite(0);
    EXPECT_EQ(HostTestLiveHandles(), handles_) << HostTestLeakReport();
    HostTestReset();
  }

  LSXLsiSession* session() { return session_.get(); }

  /* Stores a new note of the class with what `fill` appends; its note ID. */
  template <typename Fill> NOTEID StoreNote(Fill fill, WORD noteClass = NOTE_CLASS_DOCUMENT) {
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteCreate(db_, &note), NOERROR);
    NSFNoteSetInfo(note, _NOTE_CLASS, &noteClass);
    fill(note);
    EXPECT_EQ(NSFNoteUpdate(note, 0), NOERROR);
    NOTEID id = 0;
    NSFNoteGetInfo(note, _NOTE_ID, &id);
    NSFNoteClose(note);
    return id;
  }

  /* A note whose "Body" holds the text record "ab", and whose further
   * items of the names hold "cd", "ef" and so on. */
  NOTEID StoreRichTextNote(std::vector<const char*> others = {}) {
    return StoreNote([&](NOTEHANDLE note) {
      AppendComposite(note, "Body", TextRecord('a', 'b'));
      char letter = 'c';
      for (const char* name : others) {
        AppendComposite(note, name, TextRecord(letter, static_cast<char>(letter + 1)));
        letter = static_cast<char>(letter + 2);
      }
    });
  }

  /* A note opened by the test, closed at the end. */
  NOTEHANDLE Open(NOTEID id) {
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteOpen(db_, id, 0, &note), NOERROR);
    notes_.push_back(note);
    return note;
  }

  /* The stored value of the note's item, read through a fresh open. */
  Bytes StoredValue(NOTEID id, const char* name) {
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteOpen(db_, id, 0, &note), NOERROR);
    Bytes value = ItemValue(note, name);
    NSFNoteClose(note);
    return value;
  }

  size_t ChunkCount() {
    size_t count = 0;
    for (VelkoRTChunk* chunk = session()->chunks; chunk != nullptr; chunk = chunk->next)
      ++count;
    return count;
  }

  bool ChunkAlive(VelkoRTChunk* wanted) {
    for (VelkoRTChunk* chunk = session()->chunks; chunk != nullptr; chunk = chunk->next)
      if (chunk == wanted)
        return true;
    return false;
  }

  /* Loads the item's records as the engine does before an operation. */
  static void LoadBody(VelkoRTItem& item) {
    item.internal->input = StoreItemsAndRecords(&item, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
    ASSERT_NE(item.internal->input, nullptr);
    ASSERT_EQ(item.internal->input->load_status, NOERROR);
  }

  std::unique_ptr<LSXLsiSession> session_;
  DBHANDLE db_ = NULLHANDLE;
  std::vector<NOTEHANDLE> notes_;
  size_t handles_ = 0;
};

/* ---- lifecycle ---- */

TEST_F(ItemTest, NewItemJoinsTheSessionAndResetsTheProcessWideSwitches) {
  session()->internal->GlobalSuppressMessages = 1;
  session()->internal->global_client_preference = 0;
  auto* item = new VelkoRTItem(session());
  EXPECT_EQ(session()->items, item);
  EXPECT_EQ(session()->internal->GlobalSuppressMessages, 0);
  EXPECT_EQ(session()->internal->global_client_preference, 1);
  delete item;
  EXPECT_EQ(session()->items, nullptr);
}

TEST_F(ItemTest, DeletingAnItemDeletesItsChunksOnlyAndTheSessionDeletesTheRest) {
  NOTEID id = StoreRichTextNote();
  auto* keeper = new VelkoRTItem(session());
  ASSERT_EQ(keeper->Connect(nullptr, kDbPath, id, "Body", 0), NOERROR);
  VelkoRTChunk* kept = keeper->DefineChunk("Everything");
  auto* item = new VelkoRTItem(session());
  ASSERT_EQ(item->Connect("", kDbPath, id, "Body", 0), NOERROR);
  item->DefineChunk("Text 1");
  item->default_chunk = item->DefineChunk("Everything");
  EXPECT_EQ(ChunkCount(), 3u);
  delete item;
  EXPECT_EQ(ChunkCount(), 1u);
  EXPECT_TRUE(ChunkAlive(kept));
  session_.reset(); // TearDown finds every note and block freed
}

TEST_F(ItemTest, DestroyingTheDefaultChunkClearsTheItemsPointer) {
  NOTEHANDLE note = Open(StoreRichTextNote());
  VelkoRTItem item(session());
  ASSERT_EQ(item.ConnectBackend(note, "Body", 0), NOERROR);
  ASSERT_NE(item.default_chunk, nullptr);
  delete item.default_chunk;
  EXPECT_EQ(item.default_chunk, nullptr);
  EXPECT_EQ(ChunkCount(), 0u);
}

/* ---- connecting by server, database and note ID ---- */

TEST_F(ItemTest, ConnectOpensTheNoteLocallyForEmptyNullAndOverlongServers) {
  NOTEID id = StoreRichTextNote();
  const std::string longServer(300, 's');
  for (const char* server : {"", static_cast<const char*>(nullptr), longServer.c_str()}) {
    VelkoRTItem item(session());
    EXPECT_EQ(item.Connect(server, kDbPath, id, "Body", 0), NOERROR);
    EXPECT_EQ(item.IsConnected, 1);
    EXPECT_STREQ(item.server, "");
    EXPECT_STREQ(item.database, kDbPath);
    EXPECT_EQ(item.note_id, id);
    EXPECT_NE(item.note, NULLHANDLE);
    EXPECT_EQ(item.internal->attached, 0u);
    EXPECT_EQ(item.default_chunk, nullptr); // Connect defines no chunk
  }
  EXPECT_THAT(MessageTexts(), IsEmpty());
}

TEST_F(ItemTest, ConnectRefusesEmptyAndOverlongDatabasePathsAndItemNames) {
  NOTEID id = StoreRichTextNote();
  const std::string longPath = std::string("mem:") + std::string(296, 'p');
  for (const char* path : {"", static_cast<const char*>(nullptr), longPath.c_str()}) {
    HostTestClearMessages();
    VelkoRTItem item(session());
    // The note opener is handed the emptied path and reports it first.
    EXPECT_EQ(item.Connect("", path, id, "Body", 0), VELKO_ERR_BAD_ARGUMENT);
    EXPECT_EQ(item.own_error, VELKO_ERR_INVALID_NAME);
    EXPECT_EQ(item.last_status, VELKO_ERR_BAD_ARGUMENT);
    EXPECT_STREQ(item.database, "");
    EXPECT_EQ(item.IsConnected, 0);
    EXPECT_THAT(MessageTexts(), ElementsAre("TARNO: Invalid database name"));
  }
  const std::string longName(257, 'n');
  for (const char* name : {"", static_cast<const char*>(nullptr), longName.c_str()}) {
    VelkoRTItem item(session());
    EXPECT_EQ(item.Connect("", kDbPath, id, name, 1), VELKO_ERR_FAILED);
    EXPECT_EQ(item.own_error, VELKO_ERR_INVALID_NAME);
    EXPECT_EQ(item.last_status, NOERROR);
    EXPECT_STREQ(item.item_name, "");
    EXPECT_EQ(item.IsConnected, 0);
  }
  // A name of exactly 256 characters passes the item's check; the host
  // (whose names end at 255) refuses it, and that status is reported.
  VelkoRTItem item(session());
  EXPECT_EQ(item.Connect("", kDbPath, id, std::string(256, 'n').c_str(), 0),
            ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(item.own_error, 0);
  EXPECT_EQ(item.IsConnected, 0);
}

TEST_F(ItemTest, ConnectReportsANoteThatCannotBeOpened) {
  VelkoRTItem item(session());
  EXPECT_EQ(item.Connect("", kDbPath, 0x9990, "Body", 0), ERR_HOST_NOTE_NOT_FOUND);
  EXPECT_EQ(item.last_status, ERR_HOST_NOTE_NOT_FOUND);
  EXPECT_EQ(item.IsConnected, 0);
  EXPECT_EQ(item.note, NULLHANDLE);
  EXPECT_EQ(item.db, NULLHANDLE);
}

TEST_F(ItemTest, ConnectMakesAMissingItemOnlyWhenAskedAndDoesNotCheckTheType) {
  NOTEID id = StoreNote([](NOTEHANDLE note) { NSFItemSetText(note, "Subject", "Hi", 2); });
  VelkoRTItem without(session());
  EXPECT_EQ(without.Connect("", kDbPath, id, "Missing", 0), NOERROR);
  EXPECT_EQ(without.IsConnected, 0);
  EXPECT_FALSE(HasItem(without.note, "Missing"));

  VelkoRTItem with(session());
  EXPECT_EQ(with.Connect("", kDbPath, id, "Missing", 1), NOERROR);
  EXPECT_EQ(with.IsConnected, 1);
  EXPECT_EQ(ItemValue(with.note, "Missing"), BlankValue());

  VelkoRTItem text(session());
  EXPECT_EQ(text.Connect("", kDbPath, id, "Subject", 0), NOERROR);
  EXPECT_EQ(text.IsConnected, 1);
  EXPECT_THAT(MessageTexts(), IsEmpty());
}

TEST_F(ItemTest, CreateReplacesOrKeepsTheItem) {
  NOTEID id = StoreRichTextNote();
  VelkoRTItem keep(session());
  EXPECT_EQ(keep.Create("", kDbPath, id, "Body", 0), NOERROR);
  EXPECT_EQ(keep.IsConnected, 1);
  EXPECT_EQ(ItemValue(keep.note, "Body"), TextValue('a', 'b'));
  VelkoRTItem fresh(session());
  EXPECT_EQ(fresh.Create("", kDbPath, id, "Fresh", 0), NOERROR);
  EXPECT_EQ(ItemValue(fresh.note, "Fresh"), BlankValue());
  VelkoRTItem replace(session());
  EXPECT_EQ(replace.Create("", kDbPath, id, "Body", 1), NOERROR);
  EXPECT_EQ(ItemValue(replace.note, "Body"), BlankValue());
}

TEST_F(ItemTest, CreateReportsInvalidNamesOpenFailuresAndABlankItemThatCannotBeWritten) {
  NOTEID id = StoreRichTextNote();
  VelkoRTItem badName(session());
  EXPECT_EQ(badName.Create("", kDbPath, id, "", 1), VELKO_ERR_FAILED);
  EXPECT_EQ(badName.own_error, VELKO_ERR_INVALID_NAME);
  VelkoRTItem badNote(session());
  EXPECT_EQ(badNote.Create("", kDbPath, 0x9990, "Body", 1), ERR_HOST_NOTE_NOT_FOUND);
  HostTestSetItemValueLimit(50); // the blank value (96 bytes) does not fit
  VelkoRTItem item(session());
  EXPECT_EQ(item.Create("", kDbPath, id, "Body", 1), ERR_HOST_VALUE_TOO_LARGE);
  EXPECT_EQ(item.IsConnected, 0);
  EXPECT_EQ(ItemValue(item.note, "Body"), TextValue('a', 'b'));
}

/* ---- connecting to a note the caller holds ---- */

TEST_F(ItemTest, ConnectBackendBindsToTheCallersNoteAndDefinesTheDefaultChunk) {
  NOTEID id = StoreRichTextNote();
  NOTEHANDLE note = Open(id);
  auto* item = new VelkoRTItem(session());
  EXPECT_EQ(item->ConnectBackend(note, "Body", 0), NOERROR);
  EXPECT_EQ(item->IsConnected, 1);
  EXPECT_EQ(item->note, note);
  EXPECT_EQ(item->db, db_);
  EXPECT_EQ(item->note_id, id);
  EXPECT_STREQ(item->database, kDbPath);
  EXPECT_EQ(item->internal->attached, 1u);
  ASSERT_NE(item->default_chunk, nullptr);
  EXPECT_STREQ(item->default_chunk->definition, "Everything");
  EXPECT_EQ(item->default_chunk->item, item);
  delete item;
  EXPECT_TRUE(HasItem(note, "Body")) << "the caller's note stays open";
}

TEST_F(ItemTest, ConnectBackendRefusesItemsThatAreNotRichText) {
  NOTEHANDLE note = Open(StoreNote([](NOTEHANDLE note) {
    NSFItemSetText(note, "Subject", "Hi", 2);
    const char mime[] = "Content-Type: text/plain\r\n\r\nHi";
    NSFItemAppend(note, 0, "Body", 4, TYPE_MIME_PART, mime, sizeof mime - 1);
  }));
  struct Case {
    const char* name;
    long type;
  };
  for (const Case& c : {Case{"Subject", 1280}, Case{"Body", 25}}) {
    HostTestClearMessages();
    HostTestClearLog();
    VelkoRTItem item(session());
    EXPECT_EQ(item.ConnectBackend(note, c.name, 1), NOERROR);
    EXPECT_EQ(item.IsConnected, 0);
    EXPECT_EQ(item.default_chunk, nullptr);
    const std::string text =
        "Cannot connect to item of type " + std::to_string(c.type) + ".  Not rich text!";
    EXPECT_THAT(MessageTexts(), ElementsAre(text));
    EXPECT_THAT(HostTestLogLines(), ElementsAre(text));
  }
  EXPECT_EQ(ItemType(note, "Subject"), TYPE_TEXT) << "left as it was";
  EXPECT_EQ(ItemType(note, "Body"), TYPE_MIME_PART);
}

TEST_F(ItemTest, ConnectBackendChecksItsArgumentsAndMakesAMissingItemOnlyWhenAsked) {
  NOTEHANDLE note = Open(StoreRichTextNote());
  VelkoRTItem item(session());
  EXPECT_EQ(item.ConnectBackend(note, "", 1), VELKO_ERR_FAILED);
  EXPECT_EQ(item.own_error, VELKO_ERR_INVALID_NAME);
  EXPECT_EQ(item.ConnectBackend(NULLHANDLE, "Body", 0), VELKO_ERR_NO_INPUT);
  EXPECT_EQ(item.IsConnected, 0);

  VelkoRTItem without(session());
  EXPECT_EQ(without.ConnectBackend(note, "New", 0), NOERROR);
  EXPECT_EQ(without.IsConnected, 0);
  EXPECT_EQ(without.default_chunk, nullptr);
  VelkoRTItem with(session());
  EXPECT_EQ(with.ConnectBackend(note, "New", 1), NOERROR);
  EXPECT_NE(with.default_chunk, nullptr);
  EXPECT_EQ(ItemValue(note, "New"), BlankValue());

  VelkoRTItem keep(session());
  EXPECT_EQ(keep.CreateBackend(note, "Body", 0), NOERROR);
  EXPECT_NE(keep.default_chunk, nullptr);
  EXPECT_EQ(ItemValue(note, "Body"), TextValue('a', 'b'));
  VelkoRTItem replace(session());
  EXPECT_EQ(replace.CreateBackend(note, "Body", 1), NOERROR);
  EXPECT_EQ(ItemValue(note, "Body"), BlankValue());
}

TEST_F(ItemTest, ConnectBackendInternalStandsOnTheOtherItemsNote) {
  NOTEID id = StoreRichTextNote({"$Body_2", "$imagedata"});
  VelkoRTItem owner(session());
  ASSERT_EQ(owner.Connect("", kDbPath, id, "Body", 0), NOERROR);
  struct Case {
    const char* name;
    DWORD design;
    DWORD image;
  };
  for (const Case& c : {Case{"Body", 0, 0}, Case{"$body_2", 1, 0}, Case{"$ImageData", 1, 1}}) {
    VelkoRTItem item(session());
    item.ConnectBackendInternal(&owner, c.name);
    EXPECT_EQ(item.IsConnected, 1) << c.name;
    EXPECT_EQ(item.note, owner.note);
    EXPECT_EQ(item.internal->attached, 1u);
    EXPECT_EQ(item.internal->design_element, c.design) << c.name;
    EXPECT_EQ(item.internal->image_data, c.image) << c.name;
    ASSERT_NE(item.default_chunk, nullptr);
    EXPECT_EQ(item.default_chunk->item, &item);
  }
  VelkoRTItem orphan(session());
  VelkoRTItem noNote(session());
  orphan.ConnectBackendInternal(&noNote, "Body");
  EXPECT_EQ(orphan.IsConnected, 0);
  EXPECT_EQ(orphan.last_status, VELKO_ERR_NO_INPUT);
  orphan.ConnectBackendInternal(nullptr, "Body");
  EXPECT_EQ(orphan.last_status, VELKO_ERR_NO_INPUT);
}

TEST_F(ItemTest, ConnectBackendInternalRebindsAnExistingDefaultChunk) {
  NOTEID id = StoreRichTextNote({"Other"});
  VelkoRTItem owner(session());
  ASSERT_EQ(owner.Connect("", kDbPath, id, "Body", 0), NOERROR);
  VelkoRTItem item(session());
  item.ConnectBackendInternal(&owner, "Body");
  VelkoRTChunk* chunk = item.default_chunk;
  ASSERT_NE(chunk, nullptr);
  delete[] chunk->definition;
  chunk->definition = new char[8]{"Table 1"};
  chunk->target_type = TARGETTYPE_TABLE;
  item.ConnectBackendInternal(&owner, "Other");
  EXPECT_EQ(item.default_chunk, chunk);
  EXPECT_STREQ(chunk->definition, "Everything");
  EXPECT_EQ(chunk->target_type, TARGETTYPE_EVERYTHING);
  EXPECT_NE(chunk->internal->definitions, nullptr);
}

/* ---- design elements ---- */

class DesignItemTest : public ItemTest {
protected:
  void SetUp() override {
    ItemTest::SetUp();
    form_ = StoreNote(
        [](NOTEHANDLE note) {
          NSFItemSetText(note, "$TITLE", "Main Form|main", 14);
          AppendComposite(note, "$Body", TextRecord('f', 'm'));
        },
        NOTE_CLASS_FORM);
  }
  NOTEID form_ = 0;
};

TEST_F(DesignItemTest, EachWrapperConnectsItsItemMakingMissingOnesBlank) {
  using Connector = STATUS (VelkoRTItem::*)(const char*, const char*, const char*, const char*);
  struct Case {
    Connector connect;
    const char* name; /* of the element: a title or an alias */
    const char* item;
    DWORD image;
  };
  const Case cases[] = {
      {&VelkoRTItem::ConnectForm, "main", "$Body", 0},
      {&VelkoRTItem::ConnectFileResource, "Main Form", "$FileData", 0},
      {&VelkoRTItem::ConnectFrameSet, "Main Form", "$FrameSet", 0},
      {&VelkoRTItem::ConnectImageResource, "Main Form", "$ImageData", 1},
      {&VelkoRTItem::ConnectPage, "Main Form", "$Body", 0},
      {&VelkoRTItem::ConnectSharedField, "Main Form", "$Body", 0},
      {&VelkoRTItem::ConnectSubform, "Main Form", "$Body", 0},
  };
  for (const Case& c : cases) {
    VelkoRTItem item(session());
    EXPECT_EQ((item.*c.connect)("", kDbPath, c.name, ""), NOERROR) << c.item;
    EXPECT_EQ(item.IsConnected, 1) << c.item;
    EXPECT_EQ(item.note_id, form_);
    EXPECT_STREQ(item.item_name, c.item);
    EXPECT_EQ(item.internal->design_element, 1u);
    EXPECT_EQ(item.internal->image_data, c.image) << c.item;
    EXPECT_EQ(item.internal->attached, 0u);
    EXPECT_EQ(ItemValue(item.note, c.item), std::strcmp(c.item, "$Body") == 0
                                                 ? TextValue('f', 'm')
                                                 : BlankValue())
        << c.item;
  }
}

TEST_F(DesignItemTest, ConnectFormBodyReportsAnEmptyItemNameAndAnUnknownElement) {
  VelkoRTItem item(session());
  EXPECT_EQ(item.ConnectFormBody("", kDbPath, "Main Form", nullptr, "-U-W", ""),
            VELKO_ERR_INVALID_NAME);
  EXPECT_EQ(item.IsConnected, 0);
  EXPECT_EQ(item.note, NULLHANDLE);
  EXPECT_EQ(item.ConnectForm("", kDbPath, "Nothing Here", nullptr), ERR_NOT_FOUND);
  EXPECT_EQ(item.last_status, ERR_NOT_FOUND);
  EXPECT_THAT(MessageTexts(), ElementsAre("TARNO: Unable to find form 'Nothing Here'."));
}

TEST_F(DesignItemTest, SavingADesignElementStoresItAndKeepsItsNoteID) {
  VelkoRTItem item(session());
  ASSERT_EQ(item.ConnectForm("", kDbPath, "Main Form", nullptr), NOERROR);
  ASSERT_EQ(item.CreateBlankRichTextItem(), NOERROR);
  EXPECT_EQ(item.Save(), NOERROR);
  EXPECT_EQ(item.note_id, form_);
  EXPECT_EQ(StoredValue(form_, "$Body"), BlankValue());
}

/* ---- a second connect and disconnecting ---- */

TEST_F(ItemTest, ASecondConnectDropsTheOldBodyAndClosesTheOldNote) {
  NOTEID first = StoreRichTextNote();
  NOTEID second = StoreNote([](NOTEHANDLE note) {
    AppendComposite(note, "Body", TextRecord('x', 'y'));
  });
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, first, "Body", 0), NOERROR);
  VelkoRTChunk* held = item.DefineChunk("Text 1");
  ASSERT_NE(held, nullptr);
  LoadBody(item);
  NOTEHANDLE oldNote = item.note;

  ASSERT_EQ(item.Connect("", kDbPath, second, "Body", 0), NOERROR);
  EXPECT_EQ(item.internal->input, nullptr);
  EXPECT_EQ(NSFItemInfo(oldNote, "Body", 4, nullptr, nullptr, nullptr, nullptr),
            ERR_HOST_BAD_HANDLE);
  EXPECT_TRUE(ChunkAlive(held));
  EXPECT_EQ(held->item, &item);
  // Nothing of the first note's body reaches the second note.
  EXPECT_EQ(item.Commit(), NOERROR);
  EXPECT_EQ(ItemValue(item.note, "Body"), TextValue('x', 'y'));
}

TEST_F(ItemTest, ReconnectingToItsOwnNoteKeepsTheNoteOpen) {
  NOTEID id = StoreRichTextNote({"Other"});
  auto* item = new VelkoRTItem(session());
  ASSERT_EQ(item->Connect("", kDbPath, id, "Body", 0), NOERROR);
  NOTEHANDLE note = item->note;
  EXPECT_EQ(item->ConnectBackend(note, "Other", 0), NOERROR);
  EXPECT_EQ(item->IsConnected, 1);
  EXPECT_EQ(item->internal->attached, 0u); // still the item's own note
  EXPECT_TRUE(HasItem(note, "Other"));
  delete item; // closes it: TearDown finds no note left open
}

TEST_F(ItemTest, CleanupTracesDisconnectsAndDetachesTheDefaultChunk) {
  NOTEID id = StoreRichTextNote();
  VelkoRTItem owner(session());
  ASSERT_EQ(owner.Connect("", kDbPath, id, "Body", 0), NOERROR);
  VelkoRTItem item(session());
  item.ConnectBackendInternal(&owner, "Body");
  VelkoRTChunk* fallback = item.default_chunk;
  ASSERT_NE(fallback, nullptr);
  item.DefineChunk("Text 1");
  LoadBody(item);
  item.CreateInternalStyleMapping("Heading", "Arial", 0x0A000005);

  item.CleanupTraces();
  EXPECT_EQ(item.IsConnected, 0);
  EXPECT_EQ(item.database, nullptr);
  EXPECT_EQ(item.item_name, nullptr);
  EXPECT_EQ(item.note, NULLHANDLE);
  EXPECT_EQ(item.internal->input, nullptr);
  EXPECT_EQ(item.GetStyleMappingByFontID(0x0A000005, 1), nullptr);
  EXPECT_EQ(item.default_chunk, nullptr);
  // The detached chunk lives on without item or definition; the other
  // chunk of the item is gone; the owner's note is untouched.
  EXPECT_TRUE(ChunkAlive(fallback));
  EXPECT_EQ(fallback->item, nullptr);
  EXPECT_EQ(fallback->definition, nullptr);
  EXPECT_EQ(fallback->internal->definitions, nullptr);
  EXPECT_EQ(ChunkCount(), 1u);
  EXPECT_TRUE(HasItem(owner.note, "Body"));
}

TEST_F(ItemTest, DeletingTheOwnerDisconnectsItemsAttachedToItsNote) {
  NOTEID id = StoreRichTextNote();
  auto* owner = new VelkoRTItem(session());
  ASSERT_EQ(owner->Connect("", kDbPath, id, "Body", 0), NOERROR);
  VelkoRTItem attached(session());
  attached.ConnectBackendInternal(owner, "Body");
  VelkoRTChunk* chunk = attached.DefineChunk("Text 1");
  ASSERT_NE(chunk, nullptr);
  VelkoRTItem elsewhere(session());
  ASSERT_EQ(elsewhere.ConnectBackend(Open(StoreRichTextNote()), "Body", 0), NOERROR);

  delete owner;
  EXPECT_EQ(attached.IsConnected, 0);
  EXPECT_EQ(attached.note, NULLHANDLE);
  EXPECT_FALSE(ChunkAlive(chunk));
  EXPECT_EQ(elsewhere.IsConnected, 1);
}

/* ---- chunks ---- */

TEST_F(ItemTest, DefineChunkStoresTheCanonicalDefinitionAndTheLastTargetType) {
  VelkoRTItem item(session());
  EXPECT_EQ(item.DefineChunk("Everything"), nullptr); // not connected
  ASSERT_EQ(item.Connect("", kDbPath, StoreRichTextNote(), "Body", 0), NOERROR);
  struct Case {
    const char* text;
    const char* canonical;
    WORD type;
    DWORD simple;
  };
  for (const Case& c : {Case{"Everything", "Everything", TARGETTYPE_EVERYTHING, 0},
                        Case{"Table 1; Row 2", "Table 1; Row 2", TARGETTYPE_ROW, 1},
                        Case{"table 1", "Table 1", TARGETTYPE_TABLE, 1},
                        Case{"Text 1-3", "Text 1-3", TARGETTYPE_TEXT, 0}}) {
    VelkoRTChunk* chunk = item.DefineChunk(c.text);
    ASSERT_NE(chunk, nullptr) << c.text;
    EXPECT_STREQ(chunk->definition, c.canonical);
    EXPECT_EQ(chunk->target_type, c.type) << c.text;
    EXPECT_EQ(chunk->item, &item);
    EXPECT_EQ(chunk->internal->simple_definition, c.simple) << c.text;
    delete chunk;
  }
  const std::string tooLong(5000, 'x');
  for (const char* bad : {"Nonsense 1", "", static_cast<const char*>(nullptr), tooLong.c_str()})
    EXPECT_EQ(item.DefineChunk(bad), nullptr);
  EXPECT_EQ(ChunkCount(), 0u);
}

/* ---- blank items ---- */

TEST_F(ItemTest, BlankItemHasExactlyItsBytesAndLoadsAsThreeRecords) {
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, StoreRichTextNote(), "Body", 0), NOERROR);
  HostTestFailAllocation(1);
  EXPECT_EQ(item.CreateBlankRichTextItem(), ERR_MEMORY);
  EXPECT_EQ(ItemValue(item.note, "Body"), TextValue('a', 'b')) << "left as it was";
  EXPECT_EQ(item.CreateBlankRichTextItem(), NOERROR);
  EXPECT_EQ(ItemValue(item.note, "Body"), BlankValue());

  LoadBody(item);
  std::vector<std::pair<WORD, DWORD>> records;
  for (record_storage* node = item.internal->input->records; node; node = node->next)
    records.emplace_back(node->signature, node->length);
  EXPECT_THAT(records, ElementsAre(std::pair<WORD, DWORD>{0xFF82, 84},
                                   std::pair<WORD, DWORD>{0x83, 4},
                                   std::pair<WORD, DWORD>{0xFF85, 8}));
}

TEST_F(ItemTest, SmallOperationsWithoutEffect) {
  VelkoRTItem item(session());
  EXPECT_EQ(item.CreateFileResourceRichTextItem("file.txt", ""), NOERROR);
  char out[16] = "junk";
  EXPECT_EQ(item.CalculateRTItemCRC(out, 4, 4), NOERROR);
  EXPECT_STREQ(out, "");
  ASSERT_EQ(item.Connect("", kDbPath, StoreRichTextNote(), "Body", 0), NOERROR);
  std::strcpy(out, "junk");
  // Connected: the value of type word and one 10-byte text record.
  EXPECT_EQ(item.CalculateRTItemCRC(out, 4, 0), NOERROR);
  EXPECT_STREQ(out, "0012");
}

/* ---- writing back ---- */

TEST_F(ItemTest, CommitWritesTheLoadedRecordsBackEvenWhenTheOldItemsAreGone) {
  NOTEID id = StoreNote([](NOTEHANDLE note) { AppendComposite(note, "Body", BlankRecords()); });
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, id, "Body", 0), NOERROR);
  EXPECT_EQ(item.Commit(), NOERROR); // nothing loaded: nothing to do
  LoadBody(item);
  record_storage* text = item.internal->input->records->next->next;
  ASSERT_EQ(text->signature, 0xFF85);
  text->data[7] = 12; // point size
  ASSERT_EQ(NSFItemDelete(item.note, "Body", 4), NOERROR);
  EXPECT_EQ(item.Commit(), NOERROR);
  EXPECT_EQ(item.internal->input, nullptr);
  Bytes expected = BlankValue();
  expected[kBlankTextSizeByte] = 12;
  EXPECT_EQ(ItemValue(item.note, "Body"), expected);
}

TEST_F(ItemTest, CommitRefusesABodyWhoseLoadDidNotComplete) {
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, StoreRichTextNote(), "Body", 0), NOERROR);
  LoadBody(item);
  ASSERT_EQ(NSFItemDelete(item.note, "Body", 4), NOERROR);
  AppendComposite(item.note, "Body", TextRecord('z', 'z'));
  item.internal->incomplete_load = VELKO_ERR_FAILED;
  EXPECT_EQ(item.Commit(), VELKO_ERR_FAILED);
  EXPECT_EQ(item.internal->input, nullptr);
  EXPECT_EQ(item.internal->incomplete_load, NOERROR);
  EXPECT_EQ(ItemValue(item.note, "Body"), TextValue('z', 'z'));
}

TEST_F(ItemTest, CommitOverAFailingAppendKeepsTheOldBody) {
  NOTEID id = StoreNote([](NOTEHANDLE note) {
    AppendComposite(note, "Body", TextRecord('a', 'b'));
    AppendComposite(note, "Body", TextRecord('c', 'd')); // a body of two items
    AppendComposite(note, "Big", BlankRecords());
  });
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, id, "Body", 0), NOERROR);
  // The new body: the records of "Big" (96 bytes), written as "Body".
  item.internal->input = StoreItemsAndRecords(&item, 0, 0, nullptr, 0, 0, item.note, "Big");
  ASSERT_NE(item.internal->input, nullptr);
  item.internal->input->item_name = item.item_name;
  HostTestSetItemValueLimit(50);
  EXPECT_EQ(item.Commit(), ERR_HOST_VALUE_TOO_LARGE);
  HostTestSetItemValueLimit(0);
  EXPECT_EQ(item.internal->input, nullptr);
  EXPECT_THAT(note_testing::ItemValues(item.note, "Body"),
              ElementsAre(TextValue('a', 'b'), TextValue('c', 'd')));
  EXPECT_EQ(item.Save(), NOERROR);
  EXPECT_EQ(StoredValue(id, "Body"), TextValue('a', 'b'));
}

TEST_F(ItemTest, SaveCommitsCachedRecordsOnlyAndStoresTheNote) {
  NOTEID id = StoreRichTextNote();
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, id, "Body", 0), NOERROR);
  ASSERT_EQ(item.CreateBlankRichTextItem(), NOERROR);
  LoadBody(item);
  item.internal->input->records->next->next->data[7] = 14;
  item.CacheRecords = 1;
  EXPECT_EQ(item.Save(), NOERROR);
  EXPECT_EQ(item.internal->input, nullptr);
  Bytes expected = BlankValue();
  expected[kBlankTextSizeByte] = 14;
  EXPECT_EQ(StoredValue(id, "Body"), expected);
  EXPECT_EQ(item.note_id, id);
  EXPECT_THAT(MessageTexts(), IsEmpty());

  item.CacheRecords = 0;
  LoadBody(item);
  EXPECT_EQ(item.Save(), NOERROR);
  EXPECT_NE(item.internal->input, nullptr) << "without cached records left for the engine";
}

TEST_F(ItemTest, SaveOfANewNoteGivesTheItemItsNoteID) {
  NOTEHANDLE note = NULLHANDLE;
  ASSERT_EQ(NSFNoteCreate(db_, &note), NOERROR);
  notes_.push_back(note);
  VelkoRTItem item(session());
  ASSERT_EQ(item.ConnectBackend(note, "Body", 1), NOERROR);
  EXPECT_EQ(item.note_id, 0u);
  EXPECT_EQ(item.Save(), NOERROR);
  EXPECT_NE(item.note_id, 0u);
  EXPECT_EQ(StoredValue(item.note_id, "Body"), BlankValue());
}

TEST_F(ItemTest, SaveWhoseWriteFailsReportsItAndLeavesTheStoredNote) {
  NOTEID id = StoreRichTextNote();
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, id, "Body", 0), NOERROR);
  ASSERT_EQ(item.CreateBlankRichTextItem(), NOERROR);
  ASSERT_EQ(item.SetFormulaItem("$WindowTitle", "\"Sales\"", 7), NOERROR);
  for (int nth : {1, 2, 3}) {
    HostTestClearMessages();
    HostTestFailStorageWrite(nth);
    EXPECT_EQ(item.Save(), ERR_HOST_STORAGE) << nth;
    HostTestFailStorageWrite(0);
    EXPECT_THAT(MessageTexts(), ElementsAre(HostText(ERR_HOST_STORAGE)));
    EXPECT_EQ(StoredValue(id, "Body"), TextValue('a', 'b'));
    EXPECT_THAT(StoredValue(id, "$WindowTitle"), IsEmpty());
  }
  // The note stays modified in memory and is stored by the next Save.
  EXPECT_EQ(item.Save(), NOERROR);
  EXPECT_EQ(StoredValue(id, "Body"), BlankValue());
}

TEST_F(ItemTest, CopyBackendChecksItsArgumentsAndLeavesTheTargetWhenTheCopyFails) {
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, StoreRichTextNote(), "Body", 0), NOERROR);
  NOTEHANDLE target = Open(StoreNote([](NOTEHANDLE note) {
    AppendComposite(note, "Copy", TextRecord('o', 'k'));
  }));
  EXPECT_EQ(item.CopyBackend(NULLHANDLE, "Copy", 1), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(item.CopyBackend(target, "", 1), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(item.CopyBackend(target, nullptr, 1), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(item.CopyBackend(item.note, "body", 1), VELKO_ERR_BAD_ARGUMENT); // onto itself
  // An existing item without replace: nothing is copied.
  EXPECT_EQ(item.CopyBackend(target, "Copy", 0), NOERROR);
  // A source note without the item fails the copy; the target keeps what
  // it held.
  ASSERT_EQ(NSFItemDelete(item.note, "Body", 4), NOERROR);
  EXPECT_EQ(item.CopyBackend(target, "Copy", 1), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(ItemValue(target, "Copy"), TextValue('o', 'k'));
  EXPECT_EQ(item.CopyBackend(target, "New", 0), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_FALSE(HasItem(target, "New"));
  EXPECT_EQ(session()->items, &item); // the temporary items are gone
  EXPECT_EQ(ChunkCount(), 0u);
}

/* ---- formula items ---- */

TEST_F(ItemTest, FormulaItemsRoundTrip) {
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, StoreRichTextNote(), "Body", 0), NOERROR);
  for (const char* formula : {"\"Sales\"", "@If(Total > 5; \"big\"; \"small\")", "x"}) {
    EXPECT_EQ(item.SetFormulaItem("$WindowTitle", formula, Length(formula)), NOERROR) << formula;
    EXPECT_EQ(ItemType(item.note, "$WindowTitle"), TYPE_FORMULA);
    EXPECT_EQ(ItemValue(item.note, "$WindowTitle").size() % 2, 0u);
    char out[1024] = "junk";
    EXPECT_EQ(item.GetFormulaItem("$WindowTitle", out), Length(formula));
    EXPECT_STREQ(out, formula);
  }
  // A length shorter than the text takes that many characters.
  EXPECT_EQ(item.SetFormulaItem("$WindowTitle", "\"ab\" + junk", 4), NOERROR);
  char out[64] = {};
  EXPECT_EQ(item.GetFormulaItem("$WindowTitle", out), 4);
  EXPECT_STREQ(out, "\"ab\"");
  // Length 0 deletes the item; deleting a missing item is no error.
  EXPECT_EQ(item.SetFormulaItem("$WindowTitle", "", 0), NOERROR);
  EXPECT_FALSE(HasItem(item.note, "$WindowTitle"));
  EXPECT_EQ(item.SetFormulaItem("$WindowTitle", "", 0), NOERROR);
  EXPECT_EQ(item.GetFormulaItem("$WindowTitle", out), 0);
  EXPECT_STREQ(out, "");
  // An item of another type is no formula.
  std::strcpy(out, "junk");
  EXPECT_EQ(item.GetFormulaItem("Body", out), 0);
  EXPECT_STREQ(out, "");
}

TEST_F(ItemTest, AFormulaThatFailsChangesNothing) {
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, StoreRichTextNote(), "Body", 0), NOERROR);
  HostTestFailAllocation(1); // the compiler's block
  EXPECT_EQ(item.SetFormulaItem("$WindowTitle", "\"Sales\"", 7), ERR_MEMORY);
  EXPECT_EQ(item.own_error, 0);
  EXPECT_FALSE(HasItem(item.note, "$WindowTitle"));
  EXPECT_THAT(MessageTexts(), IsEmpty());

  ASSERT_EQ(item.SetFormulaItem("$WindowTitle", "\"Old\"", 5), NOERROR);
  const Bytes old = ItemValue(item.note, "$WindowTitle");
  const char bad[] = "\"unterminated";
  FORMULAHANDLE formula = NULLHANDLE;
  STATUS compileError = NOERROR;
  ASSERT_NE(NSFFormulaCompile(nullptr, 0, bad, Length(bad), &formula, nullptr, &compileError,
                              nullptr, nullptr, nullptr, nullptr),
            NOERROR);
  HostTestClearMessages();
  EXPECT_EQ(item.SetFormulaItem("$WindowTitle", bad, Length(bad)), VELKO_ERR_FAILED);
  EXPECT_EQ(item.own_error, VELKO_ERR_INVALID_ARGUMENT);
  EXPECT_THAT(MessageTexts(), ElementsAre("Tarno: " + HostText(compileError)));

  HostTestSetItemValueLimit(static_cast<DWORD>(old.size()) + 4);
  const std::string longer = "\"" + std::string(100, 'n') + "\"";
  EXPECT_EQ(item.SetFormulaItem("$WindowTitle", longer.c_str(), Length(longer.c_str())),
            ERR_HOST_VALUE_TOO_LARGE);
  EXPECT_EQ(ItemValue(item.note, "$WindowTitle"), old);
}

/* ---- header and footer ---- */

TEST_F(ItemTest, HeaderAndFooterAreOneCDHEADERRecordEach) {
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, StoreRichTextNote(), "Body", 0), NOERROR);
  const DWORD font = 0x0A000001; // face 1, size 10
  EXPECT_EQ(item.ResetHeaderFooter(1, "Page", font, "Arial"), NOERROR);
  EXPECT_EQ(item.ResetHeaderFooter(0, "Foot!", font, "A face name longer than 31 characters"),
            NOERROR);

  Bytes header = {0x01, 0x00, 0x8E, 0xFF, 0x35, 0x00, 0x20, 'A', 'r', 'i', 'a', 'l'};
  header.resize(2 + 5 + 32, 0x00);                               // face name
  header.insert(header.end(), {0x00, 0x00, 0x00});               // reserved
  header.insert(header.end(), {0x01, 0x00, 0x00, 0x0A});         // font
  header.insert(header.end(), {0x05, 0x00, 0x00, 0x00});         // text length + 1, reserved
  header.insert(header.end(), {'P', 'a', 'g', 'e', 0x00, 0x00}); // text, NUL, pad byte
  EXPECT_EQ(ItemValue(item.note, "$Header"), header);

  const Bytes footer = ItemValue(item.note, "$Footer");
  ASSERT_EQ(footer.size(), 2u + 48 + 6);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&footer[7]), 32),
            std::string("A face name longer than 31 char") + '\0');
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&footer[50]), 6), std::string("Foot!", 6));

  // A second call replaces the item; when memory runs out it stays.
  EXPECT_EQ(item.ResetHeaderFooter(1, "", font, nullptr), NOERROR);
  const Bytes empty = ItemValue(item.note, "$Header");
  ASSERT_EQ(empty.size(), 2u + 48 + 2);
  EXPECT_EQ(empty[46], 1);
  HostTestFailAllocation(1);
  EXPECT_EQ(item.ResetHeaderFooter(1, "Other", font, "Arial"), VELKO_ERR_MEMORY);
  EXPECT_EQ(ItemValue(item.note, "$Header"), empty);
}

} // namespace
