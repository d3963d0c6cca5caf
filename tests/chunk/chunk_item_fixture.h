// Test support for chunk tests on real host notes: a database, notes whose
// rich-text items are written record by record in stored form (by the
// byte-level builder), and items connected to them.
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
#include "tests/support/note_fixture.h"
#include "tools/cd_builder.h"
#include "velko/status.h"

namespace chunk_testing {

/* Stored CD records in a row, each odd one followed by its pad byte. */
class Records {
public:
  /* A paragraph definition (PABID 1) as a blank item holds it. */
  Records& Definition() { return Add(note_testing::DefaultDefinition(1, 1440, true, 0x0494)); }
  Records& Paragraph() { return Add(cdbuild::Paragraph()); }
  Records& Reference(BYTE pabid = 1) { return Add(cdbuild::PabRef(pabid)); }
  /* A text run in face 1, size 10. */
  Records& Text(const std::string& text) { return Add(cdbuild::Text(text)); }
  Records& TableBegin() { return Add(cdbuild::TableBegin()); }
  /* A cell of one inch at the row and column (from 0). */
  Records& Cell(BYTE row, BYTE column) {
    return Add(cdbuild::TableCell({.row = row, .column = column}));
  }
  Records& TableEnd() { return Add(cdbuild::TableEnd()); }

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
  Records& Add(const std::vector<BYTE>& record) {
    const std::vector<BYTE> padded = note_testing::Records({record});
    bytes_.insert(bytes_.end(), padded.begin(), padded.end());
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
    handles_ = note_testing::ResetHostCapturing();
    ASSERT_EQ(note_testing::CreateDatabase(kDbPath, &db_), NOERROR);
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
    EXPECT_EQ(note_testing::AppendRecords(note, kItemName, records.bytes()), NOERROR);
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
