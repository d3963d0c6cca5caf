// Shared test support for the test binaries: the host's messages and
// status texts, scratch data directories and raw reads of database files,
// a fixture that finds every host memory block given back, and the chunk
// engine's fixture (a note of an in-memory database with records appended
// item by item, an item connected to it, chunks defined on it, and the
// record makers in their short forms over the byte-level builder). Inputs
// never come from the engine's own record code. GoogleTest-bound; the
// record lists and notes that fuzz targets and benchmarks share too are in
// note_fixture.h.
#ifndef VELKO_TESTS_SUPPORT_TEST_FIXTURE_H
#define VELKO_TESTS_SUPPORT_TEST_FIXTURE_H

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "chunk/rtchunk_internal.h"
#include "engine/driver.h"
#include "store/vocabulary.h"
#include "engine/process_state.h"
#include "host/cdrecords.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osenv.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "tests/support/note_fixture.h"
#include "cdbuild/cd_builder.h"
#include "velko/status.h"

namespace note_testing {

inline std::string HostText(STATUS status) {
  char text[1100] = {};
  OSLoadString(NULLHANDLE, status, text, sizeof text);
  return text;
}

inline std::vector<std::string> MessageTexts() {
  std::vector<std::string> texts;
  for (const HostTestMessage& message : HostTestMessages()) {
    EXPECT_EQ(message.type, 6) << message.text;
    texts.push_back(message.text);
  }
  return texts;
}

} // namespace note_testing

namespace file_testing {

/* A new directory "/tmp/<prefix>-XXXXXX" made the host's data directory,
 * where file databases are created; empty when it could not be made. The
 * caller removes it. */
inline std::string MakeDataDirectory(const char* prefix) {
  std::string pattern = std::string("/tmp/") + prefix + "-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr)
    return {};
  HostTestSetDataDirectory(pattern.c_str());
  return pattern;
}

/* The columns of the query's first row joined by "|" (a NULL as nothing);
 * empty when the query fails or finds no row. */
inline std::string FirstRow(sqlite3* db, const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  std::string text;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW) {
    for (int column = 0; column < sqlite3_column_count(stmt); ++column) {
      if (column > 0)
        text += "|";
      const auto* value = sqlite3_column_text(stmt, column);
      text += value == nullptr ? "" : reinterpret_cast<const char*>(value);
    }
  }
  sqlite3_finalize(stmt);
  return text;
}

} // namespace file_testing

namespace host_test {

/* A derived fixture closes its handles before calling TearDown here, so
 * that a block a close should free is counted as live. */
class HostFixture : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    live_ = HostTestLiveHandles();
  }
  void TearDown() override {
    EXPECT_EQ(HostTestLiveHandles(), live_) << HostTestLeakReport();
    HostTestReset();
  }
  size_t live_ = 0;
};

inline std::string Hex(const std::string& bytes) {
  std::string hex;
  char pair[4];
  for (unsigned char byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02X ", byte);
    hex += pair;
  }
  return hex;
}

} // namespace host_test

namespace engine_test {

using Bytes = std::vector<BYTE>;
using cdbuild::Begin;
using cdbuild::End;
using cdbuild::PabRef;
using cdbuild::Paragraph;
using note_testing::Records;
using note_testing::Value;

inline Bytes Text(const std::string& text, BYTE face = 1, BYTE size = 10) {
  return cdbuild::Text(text, {.face = face, .size = size});
}

/* A paragraph definition as a new item holds it: 70 bytes of fixed part
 * and, with extension, the six margin words. */
inline Bytes PabDef(WORD id, WORD leftMargin = 1440, bool extension = true) {
  return note_testing::DefaultDefinition(id, leftMargin, extension);
}

inline Bytes TableBegin(bool nested = false) { return cdbuild::TableBegin({.nested = nested}); }

/* A cell of one inch at the row and column, its spans left at 0. */
inline Bytes Cell(BYTE row, BYTE column, bool nested = false) {
  return cdbuild::TableCell(
      {.row = row, .column = column, .row_span = 0, .column_span = 0, .nested = nested});
}

inline Bytes TableEnd(bool nested = false) { return cdbuild::TableEnd(nested); }
inline Bytes TextEffect() { return cdbuild::Sized(SIG_CD_TEXTEFFECT, 8); }
inline Bytes Color() { return cdbuild::Color({.color = {0, 0, 0, 0}}); }

inline Bytes HotspotBegin(WORD signature, WORD type, DWORD flags = 0) {
  return cdbuild::HotspotBegin({.signature = signature, .type = type, .flags = flags});
}

/* A note of an in-memory database with a session, an item connected to the
 * note's "Body" and chunks defined on it. */
class EngineTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    HostTestCaptureMessages();
    ASSERT_EQ(note_testing::CreateDatabase(kDbPath, &db_), NOERROR);
    ASSERT_EQ(NSFNoteCreate(db_, &note_), NOERROR);
    session_ = new LSXLsiSession;
  }

  void TearDown() override {
    delete state_;
    ControlBreak = nullptr;
    delete session_;
    NSFNoteClose(note_);
    NSFDbClose(db_);
    HostTestReset();
  }

  /* Appends one item of the records to the note. */
  void AppendItem(const std::vector<Bytes>& records, const char* name = "Body") {
    ASSERT_EQ(note_testing::AppendRecords(note_, name, Records(records)), NOERROR);
  }

  /* Every item value of the name, type word first. */
  std::vector<Bytes> Values(const char* name = "Body") {
    return note_testing::ItemValues(note_, name);
  }

  /* Stores a further note of the database whose "Body" holds the records;
   * its note ID. */
  NOTEID StoreNote(const std::vector<Bytes>& records) {
    const NOTEID id = note_testing::StoreNote(db_, Records(records));
    EXPECT_NE(id, 0u);
    return id;
  }

  /* The "Body" values of a stored note, as the database holds them. */
  std::vector<Bytes> StoredValues(NOTEID id) {
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteOpen(db_, id, 0, &note), NOERROR);
    std::vector<Bytes> values = note_testing::ItemValues(note, "Body");
    NSFNoteClose(note);
    return values;
  }

  VelkoRTItem* Connect() {
    item_ = new VelkoRTItem(session_);
    EXPECT_EQ(item_->ConnectBackend(note_, "Body", 0), NOERROR);
    return item_;
  }

  VelkoRTChunk* Chunk(const char* definition) {
    if (item_ == nullptr)
      Connect();
    VelkoRTChunk* chunk = item_->DefineChunk(definition);
    EXPECT_NE(chunk, nullptr) << definition;
    return chunk;
  }

  STATUS Run(VelkoRTChunk* chunk, WORD action, WORD p1 = 0, WORD p2 = 0, const char* s1 = nullptr,
             const char* s2 = nullptr, chunkdef_info* extra = nullptr, WORD p3 = 0, WORD p4 = 0) {
    return ProcessChunk(chunk, item_->note, item_->item_name, action, p1, p2, p3, p4, s1, s2, 0,
                        extra, nullptr);
  }

  /* Action 1 over the chunk: the session's first and second found words. */
  std::pair<DWORD, DWORD> Positions(const char* definition, WORD p1 = 0) {
    VelkoRTChunk* chunk = Chunk(definition);
    if (chunk == nullptr)
      return {0xFFFFFFFF, 0xFFFFFFFF};
    session_->internal->found_first = 0;
    session_->internal->found_second = 0;
    EXPECT_EQ(Run(chunk, 1, p1), NOERROR) << definition;
    EXPECT_EQ(chunk->status, VELKO_STATUS_READ_ONLY) << definition;
    return {session_->internal->found_first, session_->internal->found_second};
  }

  /* Appends one item of the records, connects the item, loads its records
   * as the input and starts a process state over them. */
  void LoadInput(const std::vector<Bytes>& records) {
    AppendItem(records);
    Connect();
    item_->internal->input = StoreItemsAndRecords(item_, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
    state_ = new chunk_process_state;
    state_->session = session_;
    state_->gen.item = item_;
  }

  /* The input's record of the number, from 1. */
  record_storage* InputNode(int number) {
    record_storage* node = item_->internal->input->records;
    while (--number > 0)
      node = node->next;
    return node;
  }

  /* A new database, note and session, as the test started with. */
  void Restart() {
    TearDown();
    item_ = nullptr;
    state_ = nullptr;
    SetUp();
  }

  /* Runs work inside a writing operation over "Body" (set-up, the work in
   * place of the walk, finish), on the chunk given or "Everything"; the
   * final status. */
  STATUS InWritingOperation(const std::function<STATUS(chunk_process_state*)>& work,
                            VelkoRTChunk* chunk = nullptr) {
    chunk_process_state* state = nullptr;
    STATUS status = SetUpChunkOperation(chunk != nullptr ? chunk : Chunk("Everything"), note_,
                                        "Body", ACTION_CLEANUP_TEXT_RUNS, 0, 0, 0, 0, nullptr,
                                        nullptr, nullptr, nullptr, &state);
    if (state == nullptr)
      return status;
    if (status == NOERROR)
      status = work(state);
    return FinishChunkOperation(state, status);
  }

  /* The records of the body's items, behind their type words. */
  Bytes BodyRecords() {
    Bytes records;
    for (const Bytes& value : Values())
      records.insert(records.end(), value.begin() + 2, value.end());
    return records;
  }

  static constexpr char kDbPath[] = "mem:enginetest";
  DBHANDLE db_ = NULLHANDLE;
  NOTEHANDLE note_ = NULLHANDLE;
  LSXLsiSession* session_ = nullptr;
  VelkoRTItem* item_ = nullptr;
  chunk_process_state* state_ = nullptr; /* made by LoadInput */
};

} // namespace engine_test

#endif
