// Test support for the text renderers: records written with the record
// builder into a note's rich-text item, loaded into a record list as the
// engine loads them, and a rendering context positioned on them with its
// output in a buffer of the run.
#ifndef VELKO_TESTS_RENDER_TEXT_FIXTURE_H
#define VELKO_TESTS_RENDER_TEXT_FIXTURE_H

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "chunk/rtchunk_internal.h"
#include "host/host_testing.h"
#include "host/nls.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "render/output_buffer.h"
#include "render/render_info.h"
#include "render/tag_stack.h"
#include "render/text_render.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "tools/cd_builder.h"
#include "velko/status.h"

namespace text_testing {

using cdbuild::Body;
using cdbuild::Font;

inline std::string Lmbcs(const char *utf8) { return LmbcsFromUtf8(utf8); }

/* A FONTID of the four parts. */
inline FONTID MakeFont(BYTE face, BYTE attributes, BYTE color, BYTE size) {
  const BYTE bytes[4] = {face, attributes, color, size};
  FONTID font = 0;
  std::memcpy(&font, bytes, sizeof font);
  return font;
}

/* Text handed to the output callback, one entry per call. */
inline std::vector<std::string> &Pieces() {
  static std::vector<std::string> pieces;
  return pieces;
}

inline WORD RecordPiece(VelkoRTChunk *, const char *text, WORD length) {
  Pieces().emplace_back(text, length);
  return 0;
}

class TextRenderTest : public ::testing::Test {
protected:
  static constexpr const char *kDbPath = "mem:textrender";

  void SetUp() override {
    HostTestReset();
    HostTestCaptureLog(true);
    HostTestCaptureMessages();
    Pieces().clear();
    ASSERT_EQ(NSFDbCreate(kDbPath, DBCLASS_NOTEFILE, FALSE), NOERROR);
    ASSERT_EQ(NSFDbOpen(kDbPath, &db_), NOERROR);
    session_ = std::make_unique<LSXLsiSession>();
  }

  void TearDown() override {
    Unload();
    session_.reset();
    NSFDbClose(db_);
    HostTestReset();
  }

  /* Releases the context and the loaded records of an earlier Load. */
  void Unload() {
    if (context_ != nullptr) {
      if (chunk_ != nullptr)
        chunk_->internal->render_context = nullptr;
      ReleaseRenderContext(context_);
      context_ = nullptr;
    }
    if (records_ != nullptr) {
      CleanupBodyContext(session_.get(), records_);
      delete records_;
      records_ = nullptr;
    }
  }

  /* Stores the records as the note's "Body", loads them and makes the
   * context: HTML output into a buffer of the run, the current record on
   * the first record and no last record. */
  void Load(const Body &body) {
    ASSERT_TRUE(body.ok());
    NOTEHANDLE note = NULLHANDLE;
    ASSERT_EQ(NSFNoteCreate(db_, &note), NOERROR);
    ASSERT_EQ(body.AppendItems(note, "Body"), NOERROR);
    ASSERT_EQ(NSFNoteUpdate(note, 0), NOERROR);
    NOTEID id = 0;
    NSFNoteGetInfo(note, _NOTE_ID, &id);
    NSFNoteClose(note);
    item_ = new VelkoRTItem(session_.get());
    ASSERT_EQ(item_->Connect("", kDbPath, id, "Body", 0), NOERROR);
    chunk_ = item_->DefineChunk("Everything");
    ASSERT_NE(chunk_, nullptr);
    records_ = StoreItemsAndRecords(item_, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
    ASSERT_NE(records_, nullptr);
    ASSERT_EQ(records_->load_status, NOERROR);
    context_ = CreateRenderContext(session_.get(), chunk_);
    ASSERT_NE(context_, nullptr);
    chunk_->internal->render_context = context_;
    ASSERT_EQ(SetupRenderOutput(context_, nullptr, 0), NOERROR);
    context_->generation = kGenerationHTML;
    context_->base_font = MakeFont(1, 0, 0, 10);
    context_->current_font = context_->base_font;
    context_->current_record = records_->records;
  }

  /* Loads records with nothing in the context's way: no font markup is
   * needed for runs in the base font. */
  void LoadRecords(std::initializer_list<cdbuild::Bytes> records) {
    Body body;
    for (const cdbuild::Bytes &record : records)
      body.Add(record);
    Load(body);
  }

  /* The n-th record (from 0). */
  record_storage *Record(int n) const {
    record_storage *node = records_->records;
    while (node != nullptr && n-- > 0)
      node = node->next;
    return node;
  }

  std::string Held() const { return std::string(context_->output_buffer, context_->output_length); }

  /* The main stack, top first. */
  std::vector<std::string> Stack() const {
    std::vector<std::string> tags;
    for (const xml_stack_node *node = context_->tag_stack; node != nullptr; node = node->next)
      tags.emplace_back(node->tag);
    return tags;
  }

  /* Sends output through the output callback, flushing at the threshold. */
  void UseCallback(DWORD threshold) {
    chunk_->SetActOnTextCallback(RecordPiece);
    context_->flags |= html_flags::OutputToEvent;
    context_->event_chunk_size = threshold;
  }

  /* Everything handed to the callback and what is still held. */
  std::string AllOutput() const {
    std::string all;
    for (const std::string &piece : Pieces())
      all += piece;
    return all + Held();
  }

  DBHANDLE db_ = NULLHANDLE;
  std::unique_ptr<LSXLsiSession> session_;
  VelkoRTItem *item_ = nullptr; // the session deletes it
  VelkoRTChunk *chunk_ = nullptr;
  body_context *records_ = nullptr;
  html_render_info *context_ = nullptr;
};

} // namespace text_testing

#endif
