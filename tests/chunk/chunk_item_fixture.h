// Test support for chunk tests on real host notes: a database, notes whose
// rich-text items are written record by record in stored form, and items
// connected to them.
#ifndef VELKO_TESTS_CHUNK_CHUNK_ITEM_FIXTURE_H
#define VELKO_TESTS_CHUNK_CHUNK_ITEM_FIXTURE_H

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "chunk/rtchunk_internal.h"
#include "host/host_testing.h"
#include "host/nsfdata.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "velko/status.h"

namespace chunk_testing {

/* Stored CD records, written byte by byte (little-endian). */
class Records {
public:
  /* A paragraph definition (PABID 1) as a blank item holds it. */
  Records& Definition() {
    Put({0x82, 0xFF, 0x52, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
         0x00, 0x00, 0xA0, 0x05, 0x00, 0x00, 0xA0, 0x05, 0x00, 0x00, 0xD0, 0x02});
    bytes_.resize(bytes_.size() + 38, 0x00); // tabs 2 to 20
    Put({0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x94, 0x04});
    Put({0xA0, 0x05, 0x00, 0x00, 0xA0, 0x05, 0x00, 0x00, 0x00, 0x00, 0x64, 0x00});
    return *this;
  }
  Records& Paragraph() { return Put({0x81, 0x02}); }
  Records& Reference(BYTE pabid = 1) { return Put({0x83, 0x04, pabid, 0x00}); }
  /* A text run in face 1, size 10; an odd text gets a pad byte. */
  Records& Text(const std::string& text) {
    const size_t length = 8 + text.size();
    Put({0x85, 0xFF, static_cast<BYTE>(length & 0xFF), static_cast<BYTE>(length >> 8), 0x01, 0x00,
         0x00, 0x0A});
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    if (length % 2 != 0)
      bytes_.push_back(0x00);
    return *this;
  }
  Records& TableBegin() {
    return Put(
        {0xA3, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  }
  /* A cell of one inch at the row and column (from 0). */
  Records& Cell(BYTE row, BYTE column) {
    const WORD left = static_cast<WORD>(column * 1440);
    const WORD right = static_cast<WORD>(left + 1440);
    return Put({0xA4, 0x12, row, column, static_cast<BYTE>(left & 0xFF),
                static_cast<BYTE>(left >> 8), static_cast<BYTE>(right & 0xFF),
                static_cast<BYTE>(right >> 8), 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00,
                0x00});
  }
  Records& TableEnd() { return Put({0xA5, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}); }

  /* A table of rows x columns whose cells hold one paragraph of text. */
  Records& Table(int rows, int columns) {
    Paragraph().TableBegin();
    for (int row = 0; row < rows; ++row) {
      for (int column = 0; column < columns; ++column) {
        Cell(static_cast<BYTE>(row), static_cast<BYTE>(column)).Paragraph().Reference();
        Text("r" + std::to_string(row) + "c" + std::to_string(column));
      }
    }
    return TableEnd();
  }

  const std::vector<BYTE>& bytes() const { return bytes_; }

private:
  Records& Put(std::initializer_list<BYTE> bytes) {
    bytes_.insert(bytes_.end(), bytes);
    return *this;
  }

  std::vector<BYTE> bytes_;
};

inline WORD Length(const char* text) { return static_cast<WORD>(std::strlen(text)); }

class ChunkItemTest : public ::testing::Test {
protected:
  static constexpr const char* kDbPath = "mem:chunks";
  static constexpr const char* kItemName = "Body";

  void SetUp() override {
    HostTestReset();
    HostTestCaptureLog(true);
    HostTestCaptureMessages();
    handles_ = HostTestLiveHandles();
    ASSERT_EQ(NSFDbCreate(kDbPath, DBCLASS_NOTEFILE, FALSE), NOERROR);
    ASSERT_EQ(NSFDbOpen(kDbPath, &db_), NOERROR);
    session_ = std::make_unique<LSXLsiSession>();
  }

  void TearDown() override {
    session_.reset();
    NSFDbClose(db_);
    EXPECT_EQ(HostTestLiveHandles(), handles_) << HostTestLeakReport();
    HostTestReset();
  }

  LSXLsiSession* session() { return session_.get(); }

  /* Stores a new note whose rich-text item holds the records; its note ID. */
  NOTEID StoreNote(const Records& records) {
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteCreate(db_, &note), NOERROR);
    EXPECT_EQ(NSFItemAppend(note, 0, kItemName, Length(kItemName), TYPE_COMPOSITE,
                            records.bytes().data(), static_cast<DWORD>(records.bytes().size())),
              NOERROR);
    EXPECT_EQ(NSFNoteUpdate(note, 0), NOERROR);
    NOTEID id = 0;
    NSFNoteGetInfo(note, _NOTE_ID, &id);
    NSFNoteClose(note);
    return id;
  }

  /* A new item of the session connected to the note's rich-text item. */
  VelkoRTItem* Connect(NOTEID id) {
    auto* item = new VelkoRTItem(session());
    EXPECT_EQ(item->Connect("", kDbPath, id, kItemName, 0), NOERROR);
    return item;
  }

  /* The item connected to a new note of the records, and its chunk. */
  VelkoRTChunk* ChunkOn(const Records& records, const char* definition) {
    note_id_ = StoreNote(records);
    item_ = Connect(note_id_);
    VelkoRTChunk* chunk = item_->DefineChunk(definition);
    EXPECT_NE(chunk, nullptr) << definition;
    return chunk;
  }

  /* The stored note's sequence number: it grows with every update. */
  DWORD Sequence(NOTEID id) {
    ORIGINATORID oid = {};
    EXPECT_EQ(NSFDbGetNoteInfo(db_, id, &oid, nullptr, nullptr), NOERROR);
    return oid.Sequence;
  }

  std::unique_ptr<LSXLsiSession> session_;
  DBHANDLE db_ = NULLHANDLE;
  NOTEID note_id_ = 0;
  VelkoRTItem* item_ = nullptr; /* the session deletes it */
  size_t handles_ = 0;
};

} // namespace chunk_testing

#endif
