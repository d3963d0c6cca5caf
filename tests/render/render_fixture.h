// Test support for rendering: a session with a bare chunk and a rendering
// context set up as an entry point would, a fixed source for the generator
// comment, readers of the held text and a temporary directory for the files
// a run writes (render_testing); text runs rendered from records made by
// the byte-level builder on a real note (text_testing); and the record
// driver run over such records into the held text (driver_testing).
#ifndef VELKO_TESTS_RENDER_RENDER_FIXTURE_H
#define VELKO_TESTS_RENDER_RENDER_FIXTURE_H

#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "chunk/rtchunk_internal.h"
#include "engine/services.h"
#include "host/host_testing.h"
#include "host/nls.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "render/output_buffer.h"
#include "render/output_stage.h"
#include "render/paragraphs.h"
#include "render/render_info.h"
#include "render/tag_stack.h"
#include "render/text_render.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "tests/support/note_fixture.h"
#include "cdbuild/cd_builder.h"
#include "velko/status.h"

namespace render_testing {

inline void FixedDate(WORD *month, WORD *day, WORD *year) {
  *month = 3;
  *day = 7;
  *year = 2025;
}
inline const char *FixedVersion() { return "velko test"; }
inline const render_frame_source kFixedSource = {FixedDate, FixedVersion};
inline const char *kGeneratorComment = "<!-- velko test, 03/07/2025 -->";

/* Text handed to the output callback, one entry per call. */
inline std::vector<std::string> &CallbackPieces() {
  static std::vector<std::string> pieces;
  return pieces;
}

inline WORD RecordPiece(VelkoRTChunk *, const char *text, WORD length) {
  CallbackPieces().emplace_back(text, length);
  return 0;
}

inline std::string Lmbcs(const char *utf8) { return LmbcsFromUtf8(utf8); }

/* The whole content of the file at the path. */
inline std::string ReadPath(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

/* A new directory made the session's temporary directory; emptied and
 * removed at the end. */
class TempDirectory {
public:
  explicit TempDirectory(LSXLsiSession *session) {
    char pattern[] = "/tmp/velko-render-XXXXXX";
    EXPECT_NE(mkdtemp(pattern), nullptr);
    path = pattern;
    HostTestSetEnvironment("$TarnoTempDirectory", path.c_str());
    session->InitializeTempDirectory();
  }
  ~TempDirectory() {
    for (const std::string &name : Files())
      unlink((path + "/" + name).c_str());
    rmdir(path.c_str());
  }

  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    if (DIR *dir = opendir(path.c_str())) {
      while (dirent *entry = readdir(dir)) {
        if (entry->d_name[0] != '.')
          names.push_back(entry->d_name);
      }
      closedir(dir);
    }
    return names;
  }

  std::string path;
};

class RenderContextTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    HostTestCaptureLog(true);
    HostTestCaptureMessages();
    CallbackPieces().clear();
    SetRenderFrameSource(&kFixedSource);
    context_ = CreateRenderContext(session_.get(), &chunk_);
    ASSERT_NE(context_, nullptr);
    chunk_.internal->render_context = context_;
  }

  void TearDown() override {
    chunk_.internal->render_context = nullptr;
    ReleaseRenderContext(context_);
    SetRenderFrameSource(nullptr);
    HostTestReset();
  }

  /* A fresh context in place of the test's one. */
  void Renew() {
    chunk_.internal->render_context = nullptr;
    ReleaseRenderContext(context_);
    context_ = CreateRenderContext(session_.get(), &chunk_);
    chunk_.internal->render_context = context_;
  }

  /* Output into a buffer of this run (caller buffer when given). */
  void UseOutput(char *buffer = nullptr, DWORD capacity = 0) {
    ASSERT_EQ(SetupRenderOutput(context_, buffer, capacity), NOERROR);
  }

  std::string Held() const { return std::string(context_->output_buffer, context_->output_length); }

  std::unique_ptr<LSXLsiSession> session_ = std::make_unique<LSXLsiSession>();
  VelkoRTChunk chunk_{session_.get(), nullptr};
  html_render_info *context_ = nullptr;
};

} // namespace render_testing

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
    const NOTEID id = note_testing::StoreNoteWith(db_, [&](NOTEHANDLE note) {
      const STATUS status = body.AppendItems(note, "Body");
      return status != NOERROR || !note_items_ ? status : note_items_(note);
    });
    ASSERT_NE(id, 0u);
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
  /* Further items Load stores on the note beside the body (none when
   * empty). */
  std::function<STATUS(NOTEHANDLE)> note_items_;
  VelkoRTItem *item_ = nullptr; // the session deletes it
  VelkoRTChunk *chunk_ = nullptr;
  body_context *records_ = nullptr;
  html_render_info *context_ = nullptr;
};

} // namespace text_testing

namespace driver_testing {

using cdbuild::Body;
using cdbuild::Bytes;
using cdbuild::Font;
using cdbuild::PabDefFields;

const std::string kHtmlStart =
    std::string("<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">") +
    "<html lang=\"en\">" + render_testing::kGeneratorComment;
const std::string kXhtmlStart =
    std::string("<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
                "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">") +
    "<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">" + render_testing::kGeneratorComment;
const std::string kHead =
    "<head><title></title><meta http-equiv=\"Content-Style-Type\" content=\"text/css\" />";
const std::string kClosing = "</body></html>";
const std::string kBody = "<body text='#000000' bgcolor='#ffffff'>";
/* The head pass's end of the head with a style sheet of the rule sets. */
inline std::string Sheet(const std::string &rules) {
  return "<style type=\"text/css\">" + rules + "</style></head>" + kBody;
}

/* Record makers for the common shapes. */
inline Bytes Definition(WORD id, WORD left = 1440, WORD flags = 0, WORD flags2 = 0,
                        WORD justify = 0) {
  PabDefFields fields;
  fields.id = id;
  fields.left = left;
  fields.flags = flags;
  fields.flags2 = flags2;
  fields.justify = justify;
  return cdbuild::PabDef(fields);
}
inline Bytes Text(const std::string &text, Font font = {}) { return cdbuild::Text(text, font); }

/* A CDBORDERINFO record. Widths, inner and outer widths are given top,
 * left, bottom, right. */
struct BorderFields {
  WORD style = 1;
  std::array<WORD, 4> widths{};
  WORD flags = 0; /* 0x0001 drop shadow */
  WORD shadow = 0;
  std::array<WORD, 4> inner{};
  std::array<WORD, 4> outer{};
  bool coloured = false;
  BYTE red = 0;
  BYTE green = 0;
  BYTE blue = 0;
};

inline Bytes Border(const BorderFields &f) {
  constexpr size_t kHeader = 4; // the payload starts behind the WSIG header
  Bytes payload(sizeof(CDBORDERINFO) - kHeader, 0);
  auto word = [&](size_t offset, WORD value) {
    cdbuild::PutWord(payload, offset - kHeader, value);
  };
  word(offsetof(CDBORDERINFO, BorderStyle), f.style);
  for (size_t i = 0; i < 4; ++i) {
    word(offsetof(CDBORDERINFO, BorderWidthTop) + 2 * i, f.widths[i]);
    word(offsetof(CDBORDERINFO, InnerWidthTop) + 2 * i, f.inner[i]);
    word(offsetof(CDBORDERINFO, OuterWidthTop) + 2 * i, f.outer[i]);
  }
  word(offsetof(CDBORDERINFO, BorderFlags), f.flags);
  word(offsetof(CDBORDERINFO, DropShadowWidth), f.shadow);
  const size_t colour = offsetof(CDBORDERINFO, Color) - kHeader;
  cdbuild::PutWord(payload, colour, f.coloured ? 0x0001 : 0);
  payload[colour + 2] = f.red;
  payload[colour + 3] = f.green;
  payload[colour + 4] = f.blue;
  return cdbuild::Raw(SIG_CD_BORDERINFO, payload);
}

/* A CDSTYLENAME naming the PABID's style. */
inline Bytes StyleName(WORD pabid, const std::string &name) {
  constexpr size_t kHeader = 2;
  Bytes payload(sizeof(CDSTYLENAME) - kHeader, 0);
  cdbuild::PutWord(payload, offsetof(CDSTYLENAME, PABID) - kHeader, pabid);
  for (size_t i = 0; i < name.size() && i < 35; ++i)
    payload[offsetof(CDSTYLENAME, StyleName) - kHeader + i] = static_cast<BYTE>(name[i]);
  return cdbuild::Raw(SIG_CD_STYLENAME, payload);
}

/* A paragraph: CDPARAGRAPH, the reference and a text run. */
inline void AddParagraph(Body &body, WORD id, const std::string &text) {
  body.Add(cdbuild::Paragraph()).Add(cdbuild::PabRef(id)).Add(Text(text));
}

/* The first paragraph of a body: CDPARAGRAPH, its definition, reference
 * and text (the order that makes it the first paragraph of the list). */
inline void AddFirstParagraph(Body &body, const Bytes &definition, WORD id,
                              const std::string &text) {
  body.Add(cdbuild::Paragraph()).Add(definition).Add(cdbuild::PabRef(id)).Add(Text(text));
}

class DriverTest : public text_testing::TextRenderTest {
public:
  /* Render for helpers outside the fixture. */
  std::string RenderFor(const Body &body, const char *options) { return Render(body, options); }

protected:
  void SetUp() override {
    TextRenderTest::SetUp();
    SetRenderFrameSource(&render_testing::kFixedSource);
  }
  void TearDown() override {
    SetRenderFrameSource(nullptr);
    TextRenderTest::TearDown();
  }

  /* Loads the records and prepares the context as the entry point (the
   * options read) and the engine (the lookup tables, the run from the first
   * record to the last) would. */
  void Prepare(const Body &body, const char *options = nullptr, WORD generation = kGenerationHTML) {
    Unload();
    Load(body);
    context_->generation = generation;
    if (options != nullptr && options[0] != '\0')
      context_->options = VelkoAllocatePtrAndCopy(session_.get(), VELKO_HERE, options, 0);
    ASSERT_EQ(ReadRenderingOptions(context_), NOERROR);
    context_->pabdef_count = 0;
    context_->style_name_count = 0;
    record_storage *last = nullptr;
    for (record_storage *node = records_->records; node != nullptr; node = node->next) {
      if (node->signature == SIG_CD_PABDEFINITION && context_->pabdef_count < kLookupSlots - 1)
        context_->pabdef_records[++context_->pabdef_count] = node;
      else if (node->signature == SIG_CD_STYLENAME && context_->style_name_count < kLookupSlots - 1)
        context_->style_name_records[++context_->style_name_count] = node;
      last = node;
    }
    context_->current_record = records_->records;
    context_->last_record = last;
  }

  /* The output goes to a caller's buffer instead. */
  void UseCallersBuffer(char *buffer, DWORD capacity) {
    if (context_->output_owned != 0)
      VelkoDeallocatePtr(session_.get(), context_->output_buffer);
    context_->output_buffer = nullptr;
    ASSERT_EQ(SetupRenderOutput(context_, buffer, capacity), NOERROR);
  }

  /* The host log lines joined. */
  static std::string LogText() {
    std::string text;
    for (const std::string &line : HostTestLogLines())
      text += line + "\n";
    return text;
  }

  /* One outermost call of the driver; what it appends. */
  std::string Drive(WORD mode = 0, STATUS expected = NOERROR) {
    const DWORD before = context_->output_length;
    EXPECT_EQ(ProcessXMLStream(context_, 0, 0, mode), expected);
    return Held().substr(before);
  }

  /* Prepared and driven in one. */
  std::string Render(const Body &body, const char *options = nullptr,
                     WORD generation = kGenerationHTML) {
    Prepare(body, options, generation);
    return Drive();
  }

  /* The whole document GenerateHTML returns for the loaded note. */
  std::string Generate(const char *generation = "HTML", const char *options = nullptr,
                       const char *extra = "") {
    char *result = chunk_->GenerateHTML(extra, generation, options, 0, nullptr, nullptr);
    EXPECT_NE(result, nullptr);
    if (result == nullptr)
      return "(null)";
    std::string text(result, session_->render_result_length);
    VelkoDeallocatePtr(session_.get(), result);
    return text;
  }
};

} // namespace driver_testing

#endif
