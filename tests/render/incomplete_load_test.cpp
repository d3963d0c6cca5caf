// Rendering a body that loaded only in part, and a run in which nothing
// reaches the driver: what is delivered, the status the entry points
// report and the log line that names the damaged record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render_fixture.h"
#include "golden_fixture.h"
#include "host/host_testing.h"
#include "tests/support/note_fixture.h"

namespace {

using namespace driver_testing;

class IncompleteLoadTest : public DriverTest {
protected:
  /* A note whose "Body" holds the records and then the first 12 bytes of a
   * text record that claims 400; a chunk over all of it. */
  VelkoRTChunk *StoreDamaged(const std::vector<Bytes> &records) {
    Bytes value = note_testing::Records(records);
    const Bytes broken = cdbuild::Sized(SIG_CD_TEXT, 400);
    value.insert(value.end(), broken.begin(), broken.begin() + 12);
    return StoreValue(value);
  }

  VelkoRTChunk *StoreValue(const Bytes &value, const char *definition = "Everything") {
    const NOTEID id = note_testing::StoreNote(db_, value);
    EXPECT_NE(id, 0u);
    auto *item = new VelkoRTItem(session_.get()); // the session deletes it
    EXPECT_EQ(item->Connect("", kDbPath, id, "Body", 0), NOERROR);
    return item->DefineChunk(definition);
  }

  static std::vector<std::string> LinesWith(const std::string &part) {
    std::vector<std::string> found;
    for (const std::string &line : HostTestLogLines()) {
      if (line.find(part) != std::string::npos)
        found.push_back(line);
    }
    return found;
  }
};

const std::string kKept = kHtmlStart + kHead + Sheet("div.pabid1 {}") + "kept" + kClosing;

TEST_F(IncompleteLoadTest, WhatLoadedIsRenderedAndTheRunReportsTheLoadFailure) {
  VelkoRTChunk *chunk =
      StoreDamaged({cdbuild::Paragraph(), Definition(1), cdbuild::PabRef(1), Text("kept")});
  ASSERT_NE(chunk, nullptr);
  char *html = chunk->GenerateHTML("", "HTML", nullptr, 0, nullptr, nullptr);
  ASSERT_NE(html, nullptr);
  EXPECT_EQ(std::string(html, session_->render_result_length), kKept);
  VelkoDeallocatePtr(session_.get(), html);
  EXPECT_EQ(chunk->status, VELKO_ERR_FAILED);
  const std::vector<std::string> lines = LinesWith("were rendered");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("Rich text item Body number 0: record 5 is damaged; only the 4 records "
                          "before it were rendered"),
            std::string::npos)
      << lines[0];

  // Into a caller's buffer: the same bytes, and the status returned.
  chunk->status = NOERROR;
  std::vector<char> buffer(4096);
  DWORD length = static_cast<DWORD>(buffer.size());
  char name[8];
  EXPECT_EQ(chunk->GenerateHTMLToMime(0, 0, "HTML", nullptr, 0, buffer.data(), &length, 0, name,
                                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            VELKO_ERR_FAILED);
  EXPECT_EQ(std::string(buffer.data(), length), kKept);
  EXPECT_EQ(chunk->status, VELKO_ERR_FAILED);
}

TEST_F(IncompleteLoadTest, AChunkThatMatchesNothingStillOpensTheBody) {
  VelkoRTChunk *chunk = StoreValue(
      note_testing::Records({cdbuild::Paragraph(), Definition(1), cdbuild::PabRef(1), Text("x")}),
      "Table 1");
  ASSERT_NE(chunk, nullptr);
  char *xhtml = chunk->GenerateHTML("", "XHTML", nullptr, 0, nullptr, nullptr);
  ASSERT_NE(xhtml, nullptr);
  const std::string text(xhtml, session_->render_result_length);
  VelkoDeallocatePtr(session_.get(), xhtml);
  EXPECT_EQ(text, kXhtmlStart + kHead + "<meta name=\"ABSTRACT\" content=\"Table 1\" />" +
                      Sheet("") + kClosing);
  EXPECT_EQ(golden_testing::ParseErrors(golden_testing::NumericEntities(text), true),
            std::vector<std::string>{});
  EXPECT_EQ(chunk->status, NOERROR);
}

} // namespace
