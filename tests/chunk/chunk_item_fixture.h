// Test support for chunk tests on real host notes: a database, notes whose
// rich-text items are written record by record in stored form (by the
// byte-level builder), and items connected to them.
#ifndef VELKO_TESTS_CHUNK_CHUNK_ITEM_FIXTURE_H
#define VELKO_TESTS_CHUNK_CHUNK_ITEM_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "chunk/rtchunk_internal.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "tests/support/note_fixture.h"
#include "tools/cd_builder.h"
#include "velko/status.h"

namespace chunk_testing {

/* Stored CD records in a row: a paragraph definition (PABID 1) as a blank
 * item holds it, paragraphs, references, text runs in face 1 size 10, and
 * tables whose cells hold one paragraph of text "r<row>c<column>". */
class Records {
public:
  Records& Definition() { return Add(note_testing::DefaultDefinition(1, 1440, true, 0x0494)); }
  Records& Paragraph() { return Add(cdbuild::Paragraph()); }
  Records& Reference() { return Add(cdbuild::PabRef(1)); }
  Records& Text(const std::string& text) { return Add(cdbuild::Text(text)); }
  Records& Table(int rows, int columns) {
    Paragraph().Add(cdbuild::TableBegin());
    for (int row = 0; row < rows; ++row) {
      for (int column = 0; column < columns; ++column) {
        Add(cdbuild::TableCell(
            {.row = static_cast<BYTE>(row), .column = static_cast<BYTE>(column)}));
        Paragraph().Reference().Text(
            std::string("r").append(std::to_string(row)).append("c").append(std::to_string(column)));
      }
    }
    return Add(cdbuild::TableEnd());
  }

  std::vector<BYTE> bytes() const { return body_.RecordBytes(); }

private:
  Records& Add(std::vector<BYTE> record) {
    body_.Add(std::move(record));
    return *this;
  }
  cdbuild::Body body_;
};

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

  /* The item (the session deletes it) connected to a new note of the
   * records, and its chunk of the definition. */
  VelkoRTChunk* ChunkOn(const Records& records, const char* definition) {
    note_id_ = StoreNote(records);
    item_ = new VelkoRTItem(session());
    EXPECT_EQ(item_->Connect("", kDbPath, note_id_, kItemName, 0), NOERROR);
    VelkoRTChunk* chunk = item_->DefineChunk(definition);
    EXPECT_NE(chunk, nullptr) << definition;
    return chunk;
  }

  /* The stored note's sequence number: it grows with every update. */
  DWORD Sequence() {
    ORIGINATORID oid = {};
    EXPECT_EQ(NSFDbGetNoteInfo(db_, note_id_, &oid, nullptr, nullptr), NOERROR);
    return oid.Sequence;
  }

  /* Removes the rich-text item from the item's open note. */
  void DeleteItemFromNote() { ASSERT_EQ(NSFItemDelete(item_->note, kItemName, 4), NOERROR); }

  std::unique_ptr<LSXLsiSession> session_;
  DBHANDLE db_ = NULLHANDLE;
  NOTEID note_id_ = 0;
  VelkoRTItem* item_ = nullptr;
  size_t handles_ = 0;
};

} // namespace chunk_testing

#endif
