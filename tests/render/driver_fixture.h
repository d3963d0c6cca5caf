// Test support for the record driver and the paragraph renderers: records
// written with the record builder into a note's rich-text item, rendered
// either directly through ProcessXMLStream on the loaded records (with the
// context prepared as the entry point and the engine prepare it) or end to
// end through GenerateHTML on the note.
#ifndef VELKO_TESTS_RENDER_DRIVER_FIXTURE_H
#define VELKO_TESTS_RENDER_DRIVER_FIXTURE_H

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "engine/services.h"
#include "render/paragraphs.h"
#include "render_fixture.h"
#include "store/tracked_memory.h"
#include "text_fixture.h"

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
