// Test support for the chunk engine: stored CD records written byte by byte
// (headers per kind, pad bytes after odd records), items of them appended
// to a note of an in-memory database, an item connected to that note, and
// chunks defined on it. The engine's own emitter is never used to make
// inputs.
#ifndef VELKO_TESTS_ENGINE_ENGINE_FIXTURE_H
#define VELKO_TESTS_ENGINE_ENGINE_FIXTURE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "chunk/rtchunk_internal.h"
#include "engine/driver.h"
#include "host/cdrecords.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "velko/status.h"

namespace engine_test {

using Bytes = std::vector<BYTE>;

inline void PutWord(Bytes& record, size_t at, WORD value) {
  record[at] = static_cast<BYTE>(value);
  record[at + 1] = static_cast<BYTE>(value >> 8);
}

inline void PutDword(Bytes& record, size_t at, DWORD value) {
  for (int byte = 0; byte < 4; ++byte)
    record[at + byte] = static_cast<BYTE>(value >> (8 * byte));
}

/* Records in stored form; the payload after the header is zero unless set. */
inline Bytes Bsig(WORD signature, size_t length) {
  Bytes record(std::max<size_t>(length, 2));
  record[0] = static_cast<BYTE>(signature);
  record[1] = static_cast<BYTE>(length);
  return record;
}

inline Bytes Wsig(WORD signature, size_t length) {
  Bytes record(std::max<size_t>(length, 4));
  PutWord(record, 0, signature);
  PutWord(record, 2, static_cast<WORD>(length));
  return record;
}

inline Bytes Lsig(WORD signature, size_t length) {
  Bytes record(std::max<size_t>(length, 6));
  record[0] = static_cast<BYTE>(signature);
  record[1] = 0;
  PutDword(record, 2, static_cast<DWORD>(length));
  return record;
}

inline Bytes Text(const std::string& text, BYTE face = 1, BYTE size = 10) {
  Bytes record = Wsig(SIG_CD_TEXT, 8 + text.size());
  record[4] = face;
  record[7] = size;
  std::memcpy(record.data() + 8, text.data(), text.size());
  return record;
}

inline Bytes Paragraph() { return Bsig(SIG_CD_PARAGRAPH, 2); }

inline Bytes PabRef(WORD id) {
  Bytes record = Bsig(SIG_CD_PABREFERENCE, 4);
  PutWord(record, 2, id);
  return record;
}

/* A paragraph definition as stored: 70 bytes of fixed part and, with
 * extension, the six margin words. */
inline Bytes PabDef(WORD id, WORD leftMargin = 1440, bool extension = true) {
  Bytes record = Wsig(SIG_CD_PABDEFINITION, extension ? 82 : 70);
  PutWord(record, 4, id);
  PutWord(record, 14, leftMargin);
  PutWord(record, 18, leftMargin);
  PutWord(record, 22, 720);
  PutWord(record, 62, 0x0100);
  if (extension) {
    PutWord(record, 70, leftMargin);
    PutWord(record, 74, leftMargin);
    PutWord(record, 80, 100);
  }
  return record;
}

inline Bytes TableBegin(bool nested = false) {
  return Bsig(nested ? SIG_CD_NESTEDTABLEBEGIN : SIG_CD_TABLEBEGIN, 14);
}

inline Bytes Cell(BYTE row, BYTE column, bool nested = false) {
  Bytes record = Bsig(nested ? SIG_CD_NESTEDTABLECELL : SIG_CD_TABLECELL, 18);
  record[2] = row;
  record[3] = column;
  PutWord(record, 4, static_cast<WORD>(column * 1440));
  PutWord(record, 6, static_cast<WORD>(column * 1440 + 1440));
  return record;
}

inline Bytes TableEnd(bool nested = false) {
  return Bsig(nested ? SIG_CD_NESTEDTABLEEND : SIG_CD_TABLEEND, 8);
}

inline Bytes PreTable() { return Wsig(SIG_CD_PRETABLEBEGIN, 48); }

inline Bytes Begin(WORD bracketed) {
  Bytes record = Bsig(SIG_CD_BEGIN, 6);
  PutWord(record, 4, bracketed);
  return record;
}

inline Bytes End(WORD bracketed) {
  Bytes record = Bsig(SIG_CD_END, 6);
  PutWord(record, 4, bracketed);
  return record;
}

inline Bytes HotspotBegin(WORD signature, WORD type, DWORD flags = 0) {
  Bytes record = Wsig(signature, 16);
  PutWord(record, 4, type);
  PutDword(record, 8, flags);
  return record;
}

inline Bytes HotspotEnd(WORD signature = SIG_CD_HOTSPOTEND) { return Bsig(signature, 2); }

inline Bytes HtmlBegin() { return Wsig(SIG_CD_HTMLBEGIN, 8); }
inline Bytes HtmlEnd() { return Wsig(SIG_CD_HTMLEND, 8); }

inline Bytes LargeParagraph(WORD fourthWord) {
  Bytes record = Wsig(SIG_CD_LARGEPARAGRAPH, 16);
  PutWord(record, 6, fourthWord);
  return record;
}

inline Bytes TextEffect() { return Wsig(SIG_CD_TEXTEFFECT, 8); }
inline Bytes Color() { return Bsig(SIG_CD_COLOR, 8); }

/* The records of an item value after its type word: an odd record is
 * followed by a zero pad byte. */
inline Bytes Records(const std::vector<Bytes>& records) {
  Bytes value;
  for (const Bytes& record : records) {
    value.insert(value.end(), record.begin(), record.end());
    if (record.size() & 1)
      value.push_back(0);
  }
  return value;
}

inline Bytes Value(const Bytes& records) {
  Bytes value = {TYPE_COMPOSITE & 0xFF, TYPE_COMPOSITE >> 8};
  value.insert(value.end(), records.begin(), records.end());
  return value;
}

/* A note of an in-memory database with a session, an item connected to the
 * note's "Body" and chunks defined on it. */
class EngineTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    HostTestCaptureMessages();
    ASSERT_EQ(NSFDbCreate(kDbPath, DBCLASS_NOTEFILE, FALSE), NOERROR);
    ASSERT_EQ(NSFDbOpen(kDbPath, &db_), NOERROR);
    ASSERT_EQ(NSFNoteCreate(db_, &note_), NOERROR);
    session_ = new LSXLsiSession;
  }

  void TearDown() override {
    ControlBreak = nullptr;
    delete session_;
    NSFNoteClose(note_);
    NSFDbClose(db_);
    HostTestReset();
  }

  /* Appends one item of the records to the note. */
  void AppendItem(const std::vector<Bytes>& records, const char* name = "Body") {
    const Bytes value = Records(records);
    ASSERT_EQ(NSFItemAppend(note_, 0, name, static_cast<WORD>(std::strlen(name)), TYPE_COMPOSITE,
                            value.data(), static_cast<DWORD>(value.size())),
              NOERROR);
  }

  /* Every item value of the name, type word first. */
  std::vector<Bytes> Values(const char* name = "Body") {
    std::vector<Bytes> values;
    const auto length = static_cast<WORD>(std::strlen(name));
    BLOCKID item = {};
    BLOCKID value = {};
    DWORD size = 0;
    STATUS status = NSFItemInfo(note_, name, length, &item, nullptr, &value, &size);
    while (status == NOERROR) {
      const auto* data = static_cast<const BYTE*>(OSLockBlock(value));
      values.emplace_back(data, data + size);
      OSUnlockBlock(value);
      status = NSFItemInfoNext(note_, item, name, length, &item, nullptr, &value, &size);
    }
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

  /* The item's loaded records, one signature each. */
  std::vector<WORD> InputSignatures() {
    std::vector<WORD> signatures;
    body_context* input = item_->internal->input;
    for (record_storage* node = input != nullptr ? input->records : nullptr; node != nullptr;
         node = node->next)
      signatures.push_back(node->signature);
    return signatures;
  }

  static constexpr char kDbPath[] = "mem:enginetest";
  DBHANDLE db_ = NULLHANDLE;
  NOTEHANDLE note_ = NULLHANDLE;
  LSXLsiSession* session_ = nullptr;
  VelkoRTItem* item_ = nullptr;
};

} // namespace engine_test

#endif
