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
#include "host/osenv.h"
#include "host/status.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/vocabulary.h"
#include "tests/support/note_fixture.h"
#include "velko/status.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr char kDbPath[] = "mem:items";
constexpr char kOtherDbPath[] = "mem:others";

WORD Length(const char* text) { return static_cast<WORD>(std::strlen(text)); }

std::string HostText(STATUS status) {
  char text[1100] = {};
  OSLoadString(NULLHANDLE, status, text, sizeof text);
  return text;
}

std::vector<std::string> Messages() {
  std::vector<std::string> texts;
  for (const HostTestMessage& message : HostTestMessages()) {
    EXPECT_EQ(message.type, 6) << message.text;
    texts.push_back(message.text);
  }
  return texts;
}

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
std::vector<BYTE> ItemValue(NOTEHANDLE note, const char* name) {
  const std::vector<std::vector<BYTE>> values = note_testing::ItemValues(note, name);
  return values.empty() ? std::vector<BYTE>{} : values.front();
}

void AppendComposite(NOTEHANDLE note, const char* name, const std::vector<BYTE>& records) {
  ASSERT_EQ(note_testing::AppendRecords(note, name, records), NOERROR);
}

/* A CDTEXT record (face 1, size 10) holding two characters. */
std::vector<BYTE> TextRecord(char a, char b) {
  return {0x85, 0xFF, 0x0A, 0x00, 0x01, 0x00, 0x00, 0x0A, static_cast<BYTE>(a),
          static_cast<BYTE>(b)};
}

std::vector<BYTE> WithTypeWord(WORD type, const std::vector<BYTE>& records) {
  std::vector<BYTE> value = {static_cast<BYTE>(type & 0xFF), static_cast<BYTE>(type >> 8)};
  value.insert(value.end(), records.begin(), records.end());
  return value;
}

/* The value of a blank rich-text item, byte for byte. */
std::vector<BYTE> BlankValue() {
  std::vector<BYTE> value = {0x01, 0x00};
  // CDPABDEFINITION, stored length 70 + 12 = 82.
  std::vector<BYTE> pab = {0x82, 0xFF, 0x52, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                           0x00, 0x00, 0x00, 0xA0, 0x05, 0x00, 0x00, 0xA0, 0x05, 0x00, 0x00,
                           0xD0, 0x02};
  pab.resize(pab.size() + 38, 0x00);                      // tabs 2 to 20
  pab.insert(pab.end(), {0x00, 0x01});                    // flags
  pab.insert(pab.end(), {0x00, 0x00, 0x00, 0x00});        // tab types
  pab.insert(pab.end(), {0x94, 0x04});                    // flags2
  pab.insert(pab.end(), {0xA0, 0x05, 0x00, 0x00, 0xA0, 0x05, 0x00, 0x00, 0x00, 0x00, 0x64, 0x00});
  EXPECT_EQ(pab.size(), 82u);
  value.insert(value.end(), pab.begin(), pab.end());
  value.insert(value.end(), {0x83, 0x04, 0x01, 0x00});
  value.insert(value.end(), {0x85, 0xFF, 0x08, 0x00, 0x01, 0x00, 0x00, 0x0A});
  return value;
}

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

  NOTEID StoreRichTextNote(const char* name = "Body") {
    return StoreNote([&](NOTEHANDLE note) { AppendComposite(note, name, TextRecord('a', 'b')); });
  }

  /* A note opened by the test, closed at the end. */
  NOTEHANDLE Open(NOTEID id) {
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteOpen(db_, id, 0, &note), NOERROR);
    notes_.push_back(note);
    return note;
  }

  /* The stored value of the note's item, read through a fresh open. */
  std::vector<BYTE> StoredValue(NOTEID id, const char* name) {
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteOpen(db_, id, 0, &note), NOERROR);
    std::vector<BYTE> value = ItemValue(note, name);
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
    item.internal->input =
        StoreItemsAndRecords(&item, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
    ASSERT_NE(item.internal->input, nullptr);
    ASSERT_EQ(item.internal->input->load_status, NOERROR);
  }

  std::unique_ptr<LSXLsiSession> session_;
  DBHANDLE db_ = NULLHANDLE;
  std::vector<NOTEHANDLE> notes_;
  size_t handles_ = 0;
};

/* ---- lifecycle ---- */

TEST_F(ItemTest, NewItemHasItsDefaultsAndJoinsTheSession) {
  GlobalSuppressMessages = 1;
  global_client_preference = 0;
  auto* item = new VelkoRTItem(session());
  EXPECT_EQ(session()->items, item);
  EXPECT_STREQ(item->ActionHotspotFont, "DARKGREEN +UNDERLINE");
  EXPECT_STREQ(item->URLFont, "BLUE +UNDERLINE");
  EXPECT_STREQ(item->HyperlinkFont, "BLUE +UNDERLINE");
  EXPECT_STREQ(item->HighlightFont, "RED +BOLD");
  EXPECT_STREQ(item->PermanentPenFont, "BLUE +BOLD");
  EXPECT_STREQ(item->PopUpFont, "Highlight");
  EXPECT_STREQ(item->ImportExportFile, "default.cd");
  EXPECT_EQ(item->AutoDecrypt, 1);
  EXPECT_EQ(item->CacheLinkMatching, 1);
  EXPECT_EQ(item->DefaultTableWidth, 8640);
  EXPECT_EQ(item->IsConnected, 0);
  EXPECT_EQ(item->default_chunk, nullptr);
  EXPECT_EQ(GlobalSuppressMessages, 0);
  EXPECT_EQ(global_client_preference, 1);

  const _internal_RTITEM& state = *item->internal;
  EXPECT_EQ(state.face_count, 8);
  const char* names[] = {"Default Serif",  "Default Sans Serif",     "Default MultiLingual",
                         "Default Monospace", "Default User Interface", "COURIER",
                         "Roman",          "Swiss"};
  const BYTE ids[] = {0, 1, 2, 4, 3, 4, 0, 1};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(state.faces[i].id, ids[i]) << i;
    EXPECT_STREQ(state.faces[i].name, names[i]) << i;
  }
  const BYTE header[8] = {0x85, 0xFF, 0x08, 0x00, 0x01, 0x00, 0x00, 0x0A};
  EXPECT_EQ(std::memcmp(state.default_text_header, header, 8), 0);
  EXPECT_EQ(std::memcmp(state.current_text_header, header, 8), 0);
  EXPECT_EQ(state.ClientPreference, 1u);
  EXPECT_EQ(state.option_word, 1u);
  delete item;
  EXPECT_EQ(session()->items, nullptr);
}

TEST_F(ItemTest, DeletingTheSessionDeletesItemsAndTheirChunks) {
  NOTEID id = StoreRichTextNote();
  auto* first = new VelkoRTItem(session());
  auto* second = new VelkoRTItem(session());
  ASSERT_EQ(first->Connect("", kDbPath, id, "Body", 0), NOERROR);
  ASSERT_EQ(second->Connect(nullptr, kDbPath, id, "Body", 0), NOERROR);
  ASSERT_NE(first->DefineChunk("Everything"), nullptr);
  ASSERT_NE(second->DefineChunk("Text 1"), nullptr);
  EXPECT_EQ(ChunkCount(), 2u);
  session_.reset();  // TearDown finds every note and block freed
}

TEST_F(ItemTest, DeletingAnItemDeletesItsChunksOnly) {
  NOTEID id = StoreRichTextNote();
  VelkoRTItem keeper(session());
  ASSERT_EQ(keeper.Connect("", kDbPath, id, "Body", 0), NOERROR);
  VelkoRTChunk* kept = keeper.DefineChunk("Everything");
  auto* item = new VelkoRTItem(session());
  ASSERT_EQ(item->Connect("", kDbPath, id, "Body", 0), NOERROR);
  item->DefineChunk("Text 1");
  item->default_chunk = item->DefineChunk("Everything");
  EXPECT_EQ(ChunkCount(), 3u);
  delete item;
  EXPECT_EQ(ChunkCount(), 1u);
  EXPECT_TRUE(ChunkAlive(kept));
}

TEST_F(ItemTest, DestroyingTheDefaultChunkClearsTheItemsPointer) {
  NOTEID id = StoreRichTextNote();
  NOTEHANDLE note = Open(id);
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
    EXPECT_STREQ(item.item_name, "Body");
    EXPECT_EQ(item.note_id, id);
    EXPECT_NE(item.note, NULLHANDLE);
    EXPECT_NE(item.db, NULLHANDLE);
    EXPECT_EQ(item.internal->attached, 0u);
    EXPECT_EQ(item.default_chunk, nullptr);  // Connect defines no chunk
    EXPECT_EQ(item.last_status, NOERROR);
    EXPECT_EQ(item.own_error, 0);
  }
  EXPECT_THAT(Messages(), IsEmpty());
}

TEST_F(ItemTest, ConnectRefusesEmptyAndOverlongDatabasePaths) {
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
    EXPECT_EQ(item.note, NULLHANDLE);
    EXPECT_THAT(Messages(), ElementsAre("TARNO: Invalid database name"));
  }
}

TEST_F(ItemTest, ConnectRefusesEmptyAndOverlongItemNamesWith257) {
  NOTEID id = StoreRichTextNote();
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
  const std::string fits(256, 'n');
  VelkoRTItem item(session());
  EXPECT_EQ(item.Connect("", kDbPath, id, fits.c_str(), 0), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(item.own_error, 0);
  EXPECT_EQ(item.IsConnected, 0);
}

TEST_F(ItemTest, ConnectReportsANoteThatCannotBeOpened) {
  VelkoRTItem item(session());
  STATUS status = item.Connect("", kDbPath, 0x9990, "Body", 0);
  EXPECT_EQ(status, ERR_HOST_NOTE_NOT_FOUND);
  EXPECT_EQ(item.last_status, ERR_HOST_NOTE_NOT_FOUND);
  EXPECT_EQ(item.IsConnected, 0);
  EXPECT_EQ(item.note, NULLHANDLE);
  EXPECT_EQ(item.db, NULLHANDLE);
}

TEST_F(ItemTest, ConnectToAMissingItemCreatesItOnlyWhenAsked) {
  NOTEID id = StoreRichTextNote();
  VelkoRTItem without(session());
  EXPECT_EQ(without.Connect("", kDbPath, id, "Missing", 0), NOERROR);
  EXPECT_EQ(without.IsConnected, 0);
  EXPECT_FALSE(HasItem(without.note, "Missing"));

  VelkoRTItem with(session());
  EXPECT_EQ(with.Connect("", kDbPath, id, "Missing", 1), NOERROR);
  EXPECT_EQ(with.IsConnected, 1);
  EXPECT_EQ(ItemValue(with.note, "Missing"), BlankValue());
}

TEST_F(ItemTest, ConnectDoesNotCheckTheItemsType) {
  NOTEID id = StoreNote([](NOTEHANDLE note) { NSFItemSetText(note, "Subject", "Hi", 2); });
  VelkoRTItem item(session());
  EXPECT_EQ(item.Connect("", kDbPath, id, "Subject", 0), NOERROR);
  EXPECT_EQ(item.IsConnected, 1);
  EXPECT_THAT(Messages(), IsEmpty());
}

TEST_F(ItemTest, CreateWithReplaceLeavesABlankItem) {
  NOTEID id = StoreRichTextNote();
  VelkoRTItem item(session());
  EXPECT_EQ(item.Create("", kDbPath, id, "Body", 1), NOERROR);
  EXPECT_EQ(item.IsConnected, 1);
  EXPECT_EQ(ItemValue(item.note, "Body"), BlankValue());
}

TEST_F(ItemTest, CreateWithoutReplaceKeepsAnExistingItem) {
  NOTEID id = StoreRichTextNote();
  VelkoRTItem item(session());
  EXPECT_EQ(item.Create("", kDbPath, id, "Body", 0), NOERROR);
  EXPECT_EQ(item.IsConnected, 1);
  EXPECT_EQ(ItemValue(item.note, "Body"), WithTypeWord(TYPE_COMPOSITE, TextRecord('a', 'b')));

  VelkoRTItem fresh(session());
  EXPECT_EQ(fresh.Create("", kDbPath, id, "Fresh", 0), NOERROR);
  EXPECT_EQ(ItemValue(fresh.note, "Fresh"), BlankValue());
}

TEST_F(ItemTest, CreateReportsInvalidNamesAndOpenFailures) {
  NOTEID id = StoreRichTextNote();
  VelkoRTItem badName(session());
  EXPECT_EQ(badName.Create("", kDbPath, id, "", 1), VELKO_ERR_FAILED);
  EXPECT_EQ(badName.own_error, VELKO_ERR_INVALID_NAME);
  EXPECT_EQ(badName.IsConnected, 0);
  VelkoRTItem badNote(session());
  EXPECT_EQ(badNote.Create("", kDbPath, 0x9990, "Body", 1), ERR_HOST_NOTE_NOT_FOUND);
}

TEST_F(ItemTest, CreateReportsABlankItemThatCannotBeWrittenAndKeepsTheOldOne) {
  NOTEID id = StoreRichTextNote();
  HostTestSetItemValueLimit(50);  // the blank value (96 bytes) does not fit
  VelkoRTItem item(session());
  EXPECT_EQ(item.Create("", kDbPath, id, "Body", 1), ERR_HOST_VALUE_TOO_LARGE);
  EXPECT_EQ(item.IsConnected, 0);
  EXPECT_EQ(ItemValue(item.note, "Body"), WithTypeWord(TYPE_COMPOSITE, TextRecord('a', 'b')));
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
  EXPECT_STREQ(item->server, "");
  EXPECT_STREQ(item->database, kDbPath);
  EXPECT_EQ(item->internal->attached, 1u);
  ASSERT_NE(item->default_chunk, nullptr);
  EXPECT_STREQ(item->default_chunk->definition, "Everything");
  EXPECT_EQ(item->default_chunk->target_type, TARGETTYPE_EVERYTHING);
  EXPECT_EQ(item->default_chunk->item, item);
  delete item;
  // The caller's note stays open.
  EXPECT_TRUE(HasItem(note, "Body"));
}

TEST_F(ItemTest, ConnectBackendRefusesItemsThatAreNotRichText) {
  NOTEID id = StoreNote([](NOTEHANDLE note) {
    NSFItemSetText(note, "Subject", "Hi", 2);
    const char mime[] = "Content-Type: text/plain\r\n\r\nHi";
    NSFItemAppend(note, 0, "Body", 4, TYPE_MIME_PART, mime, sizeof mime - 1);
  });
  NOTEHANDLE note = Open(id);
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
    std::string text = "Cannot connect to item of type " + std::to_string(c.type) +
                       ".  Not rich text!";
    EXPECT_THAT(Messages(), ElementsAre(text));
    EXPECT_THAT(HostTestLogLines(), ElementsAre(text));
  }
  // The items were left as they were.
  EXPECT_EQ(ItemType(note, "Subject"), TYPE_TEXT);
  EXPECT_EQ(ItemType(note, "Body"), TYPE_MIME_PART);
}

TEST_F(ItemTest, ConnectBackendMakesAMissingItemOnlyWhenAsked) {
  NOTEID id = StoreRichTextNote();
  NOTEHANDLE note = Open(id);
  VelkoRTItem without(session());
  EXPECT_EQ(without.ConnectBackend(note, "New", 0), NOERROR);
  EXPECT_EQ(without.IsConnected, 0);
  EXPECT_EQ(without.default_chunk, nullptr);
  VelkoRTItem with(session());
  EXPECT_EQ(with.ConnectBackend(note, "New", 1), NOERROR);
  EXPECT_EQ(with.IsConnected, 1);
  EXPECT_NE(with.default_chunk, nullptr);
  EXPECT_EQ(ItemValue(note, "New"), BlankValue());
}

TEST_F(ItemTest, ConnectBackendChecksTheNameAndTheHandle) {
  NOTEID id = StoreRichTextNote();
  NOTEHANDLE note = Open(id);
  VelkoRTItem item(session());
  EXPECT_EQ(item.ConnectBackend(note, "", 1), VELKO_ERR_FAILED);
  EXPECT_EQ(item.own_error, VELKO_ERR_INVALID_NAME);
  EXPECT_EQ(item.IsConnected, 0);
  EXPECT_EQ(item.ConnectBackend(NULLHANDLE, "Body", 0), VELKO_ERR_NO_INPUT);
  EXPECT_EQ(item.IsConnected, 0);
}

TEST_F(ItemTest, CreateBackendReplacesOrKeepsTheItem) {
  NOTEID id = StoreRichTextNote();
  NOTEHANDLE note = Open(id);
  VelkoRTItem keep(session());
  EXPECT_EQ(keep.CreateBackend(note, "Body", 0), NOERROR);
  EXPECT_EQ(keep.IsConnected, 1);
  EXPECT_NE(keep.default_chunk, nullptr);
  EXPECT_EQ(ItemValue(note, "Body"), WithTypeWord(TYPE_COMPOSITE, TextRecord('a', 'b')));
  VelkoRTItem replace(session());
  EXPECT_EQ(replace.CreateBackend(note, "Body", 1), NOERROR);
  EXPECT_EQ(replace.IsConnected, 1);
  EXPECT_EQ(ItemValue(note, "Body"), BlankValue());
}

TEST_F(ItemTest, ConnectBackendInternalStandsOnTheOtherItemsNote) {
  NOTEID id = StoreNote([](NOTEHANDLE note) {
    AppendComposite(note, "Body", TextRecord('a', 'b'));
    AppendComposite(note, "$Body_2", TextRecord('c', 'd'));
    AppendComposite(note, "$imagedata", TextRecord('e', 'f'));
  });
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
    EXPECT_EQ(item.last_status, NOERROR);
    EXPECT_EQ(item.note, owner.note);
    EXPECT_EQ(item.db, owner.db);
    EXPECT_EQ(item.internal->attached, 1u);
    EXPECT_EQ(item.internal->design_element, c.design) << c.name;
    EXPECT_EQ(item.internal->image_data, c.image) << c.name;
    ASSERT_NE(item.default_chunk, nullptr);
    EXPECT_EQ(item.default_chunk->item, &item);
    EXPECT_STREQ(item.default_chunk->definition, "Everything");
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
  NOTEID id = StoreNote([](NOTEHANDLE note) {
    AppendComposite(note, "Body", TextRecord('a', 'b'));
    AppendComposite(note, "Other", TextRecord('c', 'd'));
  });
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
  EXPECT_EQ(chunk->item, &item);
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

TEST_F(DesignItemTest, ConnectFormFindsTheDesignNoteByName) {
  VelkoRTItem item(session());
  EXPECT_EQ(item.ConnectForm("", kDbPath, "main", nullptr), NOERROR);
  EXPECT_EQ(item.IsConnected, 1);
  EXPECT_EQ(item.note_id, form_);
  EXPECT_STREQ(item.item_name, "$Body");
  EXPECT_EQ(item.internal->design_element, 1u);
  EXPECT_EQ(item.internal->image_data, 0u);
  EXPECT_EQ(item.internal->attached, 0u);
  EXPECT_EQ(ItemValue(item.note, "$Body"), WithTypeWord(TYPE_COMPOSITE, TextRecord('f', 'm')));
}

TEST_F(DesignItemTest, EachWrapperConnectsItsItemMakingMissingOnesBlank) {
  using Connector = STATUS (VelkoRTItem::*)(const char*, const char*, const char*, const char*);
  struct Case {
    Connector connect;
    const char* item;
    DWORD image;
  };
  const Case cases[] = {
      {&VelkoRTItem::ConnectForm, "$Body", 0},
      {&VelkoRTItem::ConnectFileResource, "$FileData", 0},
      {&VelkoRTItem::ConnectFrameSet, "$FrameSet", 0},
      {&VelkoRTItem::ConnectImageResource, "$ImageData", 1},
      {&VelkoRTItem::ConnectPage, "$Body", 0},
      {&VelkoRTItem::ConnectSharedField, "$Body", 0},
      {&VelkoRTItem::ConnectSubform, "$Body", 0},
  };
  for (const Case& c : cases) {
    VelkoRTItem item(session());
    EXPECT_EQ((item.*c.connect)("", kDbPath, "Main Form", ""), NOERROR) << c.item;
    EXPECT_EQ(item.IsConnected, 1) << c.item;
    EXPECT_STREQ(item.item_name, c.item);
    EXPECT_EQ(item.internal->design_element, 1u);
    EXPECT_EQ(item.internal->image_data, c.image) << c.item;
    EXPECT_EQ(item.default_chunk, nullptr);
    if (std::strcmp(c.item, "$Body") != 0) {
      EXPECT_EQ(ItemValue(item.note, c.item), BlankValue()) << c.item;
    }
  }
}

TEST_F(DesignItemTest, ConnectFormBodyReportsAnEmptyItemNameAndAnUnknownElement) {
  VelkoRTItem item(session());
  EXPECT_EQ(item.ConnectFormBody("", kDbPath, "Main Form", nullptr, "-U-W", ""),
            VELKO_ERR_INVALID_NAME);
  EXPECT_EQ(item.IsConnected, 0);
  EXPECT_EQ(item.note, NULLHANDLE);

  HostTestClearMessages();
  STATUS status = item.ConnectForm("", kDbPath, "Nothing Here", nullptr);
  EXPECT_EQ(status, ERR_NOT_FOUND);
  EXPECT_EQ(item.last_status, ERR_NOT_FOUND);
  EXPECT_EQ(item.IsConnected, 0);
  EXPECT_THAT(Messages(), ElementsAre("TARNO: Unable to find form 'Nothing Here'."));
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
  EXPECT_NE(item.note, oldNote);
  EXPECT_EQ(NSFItemInfo(oldNote, "Body", 4, nullptr, nullptr, nullptr, nullptr),
            ERR_HOST_BAD_HANDLE);
  EXPECT_TRUE(ChunkAlive(held));
  EXPECT_EQ(held->item, &item);
  // Nothing of the first note's body reaches the second note.
  EXPECT_EQ(item.Commit(), NOERROR);
  EXPECT_EQ(ItemValue(item.note, "Body"), WithTypeWord(TYPE_COMPOSITE, TextRecord('x', 'y')));
}

TEST_F(ItemTest, ReconnectingToItsOwnNoteKeepsTheNoteOpen) {
  NOTEID id = StoreNote([](NOTEHANDLE note) {
    AppendComposite(note, "Body", TextRecord('a', 'b'));
    AppendComposite(note, "Other", TextRecord('c', 'd'));
  });
  auto* item = new VelkoRTItem(session());
  ASSERT_EQ(item->Connect("", kDbPath, id, "Body", 0), NOERROR);
  NOTEHANDLE note = item->note;
  EXPECT_EQ(item->ConnectBackend(note, "Other", 0), NOERROR);
  EXPECT_EQ(item->IsConnected, 1);
  EXPECT_EQ(item->note, note);
  EXPECT_EQ(item->internal->attached, 0u);  // still the item's own note
  EXPECT_TRUE(HasItem(note, "Other"));
  delete item;  // closes it: TearDown finds no note left open
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
  EXPECT_EQ(item.server, nullptr);
  EXPECT_EQ(item.database, nullptr);
  EXPECT_EQ(item.item_name, nullptr);
  EXPECT_EQ(item.note, NULLHANDLE);
  EXPECT_EQ(item.internal->input, nullptr);
  EXPECT_EQ(item.GetStyleMappingByFontID(0x0A000005, 1), nullptr);
  EXPECT_EQ(item.default_chunk, nullptr);
  // The detached chunk lives on without item or definition; the other
  // chunk of the item is gone.
  EXPECT_TRUE(ChunkAlive(fallback));
  EXPECT_EQ(fallback->item, nullptr);
  EXPECT_EQ(fallback->definition, nullptr);
  EXPECT_EQ(fallback->internal->definitions, nullptr);
  EXPECT_EQ(ChunkCount(), 1u);
  // The owner's note is untouched.
  EXPECT_TRUE(HasItem(owner.note, "Body"));
}

TEST_F(ItemTest, DeletingTheOwnerDisconnectsItemsAttachedToItsNote) {
  NOTEID id = StoreRichTextNote();
  NOTEID otherId = StoreRichTextNote();
  auto* owner = new VelkoRTItem(session());
  ASSERT_EQ(owner->Connect("", kDbPath, id, "Body", 0), NOERROR);
  VelkoRTItem attached(session());
  attached.ConnectBackendInternal(owner, "Body");
  ASSERT_EQ(attached.IsConnected, 1);
  VelkoRTChunk* chunk = attached.DefineChunk("Text 1");
  ASSERT_NE(chunk, nullptr);
  NOTEHANDLE otherNote = Open(otherId);
  VelkoRTItem elsewhere(session());
  ASSERT_EQ(elsewhere.ConnectBackend(otherNote, "Body", 0), NOERROR);

  delete owner;
  EXPECT_EQ(attached.IsConnected, 0);
  EXPECT_EQ(attached.note, NULLHANDLE);
  EXPECT_FALSE(ChunkAlive(chunk));
  EXPECT_EQ(elsewhere.IsConnected, 1);
}

/* ---- chunks ---- */

TEST_F(ItemTest, DefineChunkStoresTheCanonicalDefinitionAndTheLastTargetType) {
  NOTEID id = StoreRichTextNote();
  VelkoRTItem item(session());
  EXPECT_EQ(item.DefineChunk("Everything"), nullptr);  // not connected
  ASSERT_EQ(item.Connect("", kDbPath, id, "Body", 0), NOERROR);
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
  NOTEID id = StoreRichTextNote();
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, id, "Body", 0), NOERROR);
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

TEST_F(ItemTest, BlankItemThatCannotBeAllocatedLeavesTheItem) {
  NOTEID id = StoreRichTextNote();
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, id, "Body", 0), NOERROR);
  HostTestFailAllocation(1);
  EXPECT_EQ(item.CreateBlankRichTextItem(), ERR_MEMORY);
  EXPECT_EQ(ItemValue(item.note, "Body"), WithTypeWord(TYPE_COMPOSITE, TextRecord('a', 'b')));
}

TEST_F(ItemTest, SmallOperationsWithoutEffect) {
  VelkoRTItem item(session());
  EXPECT_EQ(item.CreateFileResourceRichTextItem("file.txt", ""), NOERROR);
  char out[16] = "junk";
  EXPECT_EQ(item.CalculateRTItemCRC(out, 4, 4), NOERROR);
  EXPECT_STREQ(out, "");
  NOTEID id = StoreRichTextNote();
  ASSERT_EQ(item.Connect("", kDbPath, id, "Body", 0), NOERROR);
  std::strcpy(out, "junk");
  EXPECT_EQ(item.CalculateRTItemCRC(out, 4, 4), VELKO_ERR_BAD_ARGUMENT);  // not available yet
  EXPECT_STREQ(out, "");
}

/* ---- writing back ---- */

TEST_F(ItemTest, CommitWritesTheLoadedRecordsBack) {
  NOTEID id = StoreNote([](NOTEHANDLE note) {
    std::vector<BYTE> records = BlankValue();
    records.erase(records.begin(), records.begin() + 2);
    AppendComposite(note, "Body", records);
  });
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, id, "Body", 0), NOERROR);
  EXPECT_EQ(item.Commit(), NOERROR);  // nothing loaded: nothing to do
  LoadBody(item);
  record_storage* text = item.internal->input->records->next->next;
  ASSERT_EQ(text->signature, 0xFF85);
  text->data[7] = 12;  // point size
  EXPECT_EQ(item.Commit(), NOERROR);
  EXPECT_EQ(item.internal->input, nullptr);
  std::vector<BYTE> expected = BlankValue();
  expected[kBlankTextSizeByte] = 12;
  EXPECT_EQ(ItemValue(item.note, "Body"), expected);
}

TEST_F(ItemTest, CommitWritesEvenWhenTheOldItemsAreGone) {
  NOTEID id = StoreRichTextNote();
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, id, "Body", 0), NOERROR);
  LoadBody(item);
  ASSERT_EQ(NSFItemDelete(item.note, "Body", 4), NOERROR);
  EXPECT_EQ(item.Commit(), NOERROR);
  EXPECT_EQ(ItemValue(item.note, "Body"), WithTypeWord(TYPE_COMPOSITE, TextRecord('a', 'b')));
}

TEST_F(ItemTest, CommitRefusesABodyWhoseLoadDidNotComplete) {
  NOTEID id = StoreRichTextNote();
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, id, "Body", 0), NOERROR);
  LoadBody(item);
  ASSERT_EQ(NSFItemDelete(item.note, "Body", 4), NOERROR);
  AppendComposite(item.note, "Body", TextRecord('z', 'z'));
  item.internal->incomplete_load = VELKO_ERR_FAILED;
  EXPECT_EQ(item.Commit(), VELKO_ERR_FAILED);
  EXPECT_EQ(item.internal->input, nullptr);
  EXPECT_EQ(item.internal->incomplete_load, NOERROR);
  EXPECT_EQ(ItemValue(item.note, "Body"), WithTypeWord(TYPE_COMPOSITE, TextRecord('z', 'z')));
}

TEST_F(ItemTest, CommitOverAFailingAppendKeepsTheOldBody) {
  NOTEID id = StoreNote([](NOTEHANDLE note) {
    AppendComposite(note, "Body", TextRecord('a', 'b'));
    AppendComposite(note, "Body", TextRecord('c', 'd'));  // a body of two items
    std::vector<BYTE> records = BlankValue();
    records.erase(records.begin(), records.begin() + 2);
    AppendComposite(note, "Big", records);
  });
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, id, "Body", 0), NOERROR);
  // The new body: the records of "Big" (96 bytes), written as "Body".
  item.internal->input =
      StoreItemsAndRecords(&item, 0, 0, nullptr, 0, 0, item.note, "Big");
  ASSERT_NE(item.internal->input, nullptr);
  item.internal->input->item_name = item.item_name;
  HostTestSetItemValueLimit(50);
  EXPECT_EQ(item.Commit(), ERR_HOST_VALUE_TOO_LARGE);
  HostTestSetItemValueLimit(0);
  EXPECT_EQ(item.internal->input, nullptr);
  BLOCKID first = {};
  ASSERT_EQ(NSFItemInfo(item.note, "Body", 4, &first, nullptr, nullptr, nullptr), NOERROR);
  EXPECT_EQ(ItemValue(item.note, "Body"), WithTypeWord(TYPE_COMPOSITE, TextRecord('a', 'b')));
  BLOCKID second = {};
  BLOCKID value = {};
  DWORD length = 0;
  ASSERT_EQ(NSFItemInfoNext(item.note, first, "Body", 4, &second, nullptr, &value, &length),
            NOERROR);
  const BYTE* data = static_cast<const BYTE*>(OSLockBlock(value));
  EXPECT_EQ(std::vector<BYTE>(data, data + length),
            WithTypeWord(TYPE_COMPOSITE, TextRecord('c', 'd')));
  OSUnlockBlock(value);
  EXPECT_EQ(item.Save(), NOERROR);
  EXPECT_EQ(StoredValue(id, "Body"), WithTypeWord(TYPE_COMPOSITE, TextRecord('a', 'b')));
}

TEST_F(ItemTest, SaveStoresTheNoteAndCommitsCachedRecordsFirst) {
  NOTEID id = StoreRichTextNote();
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, id, "Body", 0), NOERROR);
  ASSERT_EQ(item.CreateBlankRichTextItem(), NOERROR);
  LoadBody(item);
  item.internal->input->records->next->next->data[7] = 14;
  item.CacheRecords = 1;
  EXPECT_EQ(item.Save(), NOERROR);
  EXPECT_EQ(item.internal->input, nullptr);
  std::vector<BYTE> expected = BlankValue();
  expected[kBlankTextSizeByte] = 14;
  EXPECT_EQ(StoredValue(id, "Body"), expected);
  EXPECT_EQ(item.note_id, id);
  EXPECT_THAT(Messages(), IsEmpty());
}

TEST_F(ItemTest, SaveWithoutCachedRecordsLeavesTheLoadedBodyForTheEngine) {
  NOTEID id = StoreRichTextNote();
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, id, "Body", 0), NOERROR);
  LoadBody(item);
  EXPECT_EQ(item.Save(), NOERROR);
  EXPECT_NE(item.internal->input, nullptr);
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
    EXPECT_THAT(Messages(), ElementsAre(HostText(ERR_HOST_STORAGE)));
    EXPECT_EQ(StoredValue(id, "Body"), WithTypeWord(TYPE_COMPOSITE, TextRecord('a', 'b')));
    EXPECT_THAT(StoredValue(id, "$WindowTitle"), IsEmpty());
  }
  // The note stays modified in memory and is stored by the next Save.
  EXPECT_EQ(item.Save(), NOERROR);
  EXPECT_EQ(StoredValue(id, "Body"), BlankValue());
}

TEST_F(ItemTest, CopyBackendChecksItsArgumentsAndLeavesTheTargetWhenTheCopyFails) {
  NOTEID id = StoreRichTextNote();
  NOTEID targetId = StoreNote([](NOTEHANDLE note) {
    AppendComposite(note, "Copy", TextRecord('o', 'k'));
  });
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, id, "Body", 0), NOERROR);
  NOTEHANDLE target = Open(targetId);
  EXPECT_EQ(item.CopyBackend(NULLHANDLE, "Copy", 1), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(item.CopyBackend(target, "", 1), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(item.CopyBackend(target, nullptr, 1), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(item.CopyBackend(item.note, "body", 1), VELKO_ERR_BAD_ARGUMENT);  // onto itself
  // An existing item without replace: nothing is copied.
  EXPECT_EQ(item.CopyBackend(target, "Copy", 0), NOERROR);
  // The copy itself is not available yet; the target keeps what it held.
  EXPECT_EQ(item.CopyBackend(target, "Copy", 1), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(ItemValue(target, "Copy"), WithTypeWord(TYPE_COMPOSITE, TextRecord('o', 'k')));
  EXPECT_EQ(item.CopyBackend(target, "New", 0), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_FALSE(HasItem(target, "New"));
  EXPECT_EQ(session()->items, &item);  // the temporary items are gone
  EXPECT_EQ(ChunkCount(), 0u);
}

/* ---- formula items ---- */

TEST_F(ItemTest, FormulaItemsRoundTrip) {
  NOTEID id = StoreRichTextNote();
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, id, "Body", 0), NOERROR);
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

TEST_F(ItemTest, AFormulaThatDoesNotCompileIsReportedAndChangesNothing) {
  NOTEID id = StoreRichTextNote();
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, id, "Body", 0), NOERROR);
  ASSERT_EQ(item.SetFormulaItem("$WindowTitle", "\"Old\"", 5), NOERROR);
  const char bad[] = "\"unterminated";
  FORMULAHANDLE formula = NULLHANDLE;
  STATUS compileError = NOERROR;
  ASSERT_NE(NSFFormulaCompile(nullptr, 0, bad, Length(bad), &formula, nullptr, &compileError,
                              nullptr, nullptr, nullptr, nullptr),
            NOERROR);
  ASSERT_NE(compileError, NOERROR);
  HostTestClearMessages();
  EXPECT_EQ(item.SetFormulaItem("$WindowTitle", bad, Length(bad)), VELKO_ERR_FAILED);
  EXPECT_EQ(item.own_error, VELKO_ERR_INVALID_ARGUMENT);
  EXPECT_THAT(Messages(), ElementsAre("Tarno: " + HostText(compileError)));
  char out[64] = {};
  EXPECT_EQ(item.GetFormulaItem("$WindowTitle", out), 5);
  EXPECT_STREQ(out, "\"Old\"");
}

TEST_F(ItemTest, AFormulaItemThatCannotBeAppendedKeepsTheOldOne) {
  NOTEID id = StoreRichTextNote();
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, id, "Body", 0), NOERROR);
  ASSERT_EQ(item.SetFormulaItem("$WindowTitle", "\"Old\"", 5), NOERROR);
  std::vector<BYTE> old = ItemValue(item.note, "$WindowTitle");
  HostTestSetItemValueLimit(static_cast<DWORD>(old.size()) + 4);
  const std::string longer = "\"" + std::string(100, 'n') + "\"";
  EXPECT_EQ(item.SetFormulaItem("$WindowTitle", longer.c_str(), Length(longer.c_str())),
            ERR_HOST_VALUE_TOO_LARGE);
  EXPECT_EQ(ItemValue(item.note, "$WindowTitle"), old);
}

TEST_F(ItemTest, FormulaItemsReportMemoryThatCannotBeHad) {
  NOTEID id = StoreRichTextNote();
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, id, "Body", 0), NOERROR);
  HostTestFailAllocation(1);  // the compiler's block
  EXPECT_EQ(item.SetFormulaItem("$WindowTitle", "\"Sales\"", 7), ERR_MEMORY);
  EXPECT_EQ(item.own_error, 0);
  EXPECT_THAT(Messages(), IsEmpty());
  EXPECT_FALSE(HasItem(item.note, "$WindowTitle"));
}

/* ---- header and footer ---- */

TEST_F(ItemTest, HeaderAndFooterAreOneCDHEADERRecordEach) {
  NOTEID id = StoreRichTextNote();
  VelkoRTItem item(session());
  ASSERT_EQ(item.Connect("", kDbPath, id, "Body", 0), NOERROR);
  const DWORD font = 0x0A000001;  // face 1, size 10
  EXPECT_EQ(item.ResetHeaderFooter(1, "Page", font, "Arial"), NOERROR);
  EXPECT_EQ(item.ResetHeaderFooter(0, "Foot!", font, "A face name longer than 31 characters"),
            NOERROR);

  std::vector<BYTE> header = {0x01, 0x00, 0x8E, 0xFF, 0x35, 0x00, 0x20, 'A', 'r', 'i', 'a', 'l'};
  header.resize(2 + 5 + 32, 0x00);                       // face name
  header.insert(header.end(), {0x00, 0x00, 0x00});       // reserved
  header.insert(header.end(), {0x01, 0x00, 0x00, 0x0A}); // font
  header.insert(header.end(), {0x05, 0x00, 0x00, 0x00}); // text length + 1, reserved
  header.insert(header.end(), {'P', 'a', 'g', 'e', 0x00, 0x00}); // text, NUL, pad byte
  EXPECT_EQ(ItemValue(item.note, "$Header"), header);

  std::vector<BYTE> footer = ItemValue(item.note, "$Footer");
  ASSERT_EQ(footer.size(), 2u + 48 + 6);
  EXPECT_EQ(footer[4], 48 + 6);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&footer[7]), 32),
            std::string("A face name longer than 31 char") + '\0');
  EXPECT_EQ(footer[46], 6);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&footer[50]), 6), std::string("Foot!", 6));

  // A second call replaces the item.
  EXPECT_EQ(item.ResetHeaderFooter(1, "", font, nullptr), NOERROR);
  std::vector<BYTE> empty = ItemValue(item.note, "$Header");
  ASSERT_EQ(empty.size(), 2u + 48 + 2);
  EXPECT_EQ(empty[4], 49);
  EXPECT_EQ(empty[46], 1);

  // When memory runs out the item stays as it is.
  HostTestFailAllocation(1);
  EXPECT_EQ(item.ResetHeaderFooter(1, "Other", font, "Arial"), VELKO_ERR_MEMORY);
  EXPECT_EQ(ItemValue(item.note, "$Header"), empty);
}

}  // namespace
