// A file resource's HTML imported again: after ConvertFromHTMLBackend the
// item holds the file's HTML, and AppendHTML("BodyContext") gives the same
// records as AppendHTML of the same HTML inline (also with a character
// set named); without the call, on an item that is no file resource, and
// on an empty file, the statuses say what was found.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "tests/support/test_fixture.h"

namespace {

using Bytes = std::vector<BYTE>;

constexpr char kPage[] =
    "<html><body><h2>Caf\xC3\xA9 menu</h2><p>Soup <b>of the day</b> and "
    "<a href=\"http://example.com/menu\">more</a></p><ul><li>one</li><li>two</li></ul>"
    "</body></html>";

class HtmlBackendTest : public engine_test::EngineTest {
protected:
  void TearDown() override {
    delete resource_;
    delete inline_;
    EngineTest::TearDown();
  }

  /* A file resource of the name whose file data ("$FileData": a file
   * header, then segments) are the bytes, connected by name as a caller
   * connects one. The data is split in two segments. */
  VelkoRTItem* FileResource(const std::string& name, const std::string& bytes) {
    VelkoRTItem* made = session_->CreateDesignElement("File Resource", "", kDbPath, name.c_str(),
                                                      "SourceFile=page.htm OverrideSave=Yes");
    EXPECT_NE(made, nullptr);
    if (made == nullptr)
      return nullptr;
    const size_t half = bytes.size() / 2;
    const Bytes first(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(half));
    const Bytes second(bytes.begin() + static_cast<std::ptrdiff_t>(half), bytes.end());
    std::vector<Bytes> records = {
        cdbuild::FileHeader({.extension = "htm",
                             .data_size = static_cast<DWORD>(bytes.size()),
                             .segment_count = 2}),
        cdbuild::FileSegment(first), cdbuild::FileSegment(second)};
    EXPECT_EQ(NSFItemDelete(made->note, "$FileData", 9), NOERROR);
    EXPECT_EQ(note_testing::AppendRecords(made->note, "$FileData", engine_test::Records(records)),
              NOERROR);
    EXPECT_EQ(NSFNoteUpdate(made->note, UPDATE_FORCE), NOERROR);
    delete made;
    auto* item = new VelkoRTItem(session_);
    EXPECT_EQ(item->ConnectFileResource("", kDbPath, name.c_str(), ""), NOERROR);
    EXPECT_EQ(item->IsConnected, 1);
    return item;
  }

  VelkoRTItem* resource_ = nullptr;
  VelkoRTItem* inline_ = nullptr;
};

TEST_F(HtmlBackendTest, TheHeldHtmlImportsAsTheSameHtmlInline) {
  for (const char* options : {"", "Charset=UTF-8"}) {
    SCOPED_TRACE(options);
    delete resource_;
    delete inline_;
    const std::string suffix = options[0] == '\0' ? "1" : "2";
    resource_ = FileResource("held" + suffix + ".htm", kPage);
    inline_ = FileResource("inline" + suffix + ".htm", kPage);
    const std::vector<Bytes> before = note_testing::ItemValues(resource_->note, "$FileData");

    ASSERT_EQ(resource_->ConvertFromHTMLBackend(), NOERROR);
    EXPECT_EQ(resource_->last_status, NOERROR);
    VelkoRTChunk* held = resource_->DefineChunk("Everything");
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->AppendHTML("BodyContext", "", options), NOERROR);
    EXPECT_EQ(held->secondary_status, 0);
    VelkoRTChunk* given = inline_->DefineChunk("Everything");
    ASSERT_NE(given, nullptr);
    EXPECT_EQ(given->AppendHTML("INLINE", kPage, options), NOERROR);

    const std::vector<Bytes> imported = note_testing::ItemValues(resource_->note, "$FileData");
    EXPECT_NE(imported, before);
    EXPECT_EQ(imported, note_testing::ItemValues(inline_->note, "$FileData"));
    // The held HTML stays for a further import.
    EXPECT_EQ(held->AppendHTML("BodyContext", "", options), NOERROR);
  }
}

TEST_F(HtmlBackendTest, WithoutHeldHtmlTheImportFindsNothing) {
  resource_ = FileResource("page.htm", kPage);
  const std::vector<Bytes> before = note_testing::ItemValues(resource_->note, "$FileData");
  VelkoRTChunk* chunk = resource_->DefineChunk("Everything");
  ASSERT_NE(chunk, nullptr);
  EXPECT_EQ(chunk->AppendHTML("BodyContext", "", ""), VELKO_ERR_NO_INPUT);
  EXPECT_EQ(chunk->secondary_status, VELKO_ERR_IMPORT_FAILED);
  EXPECT_EQ(note_testing::ItemValues(resource_->note, "$FileData"), before);

  // An item of a document's body is no file resource: nothing is held,
  // also not what the item held before.
  AppendItem({engine_test::PabDef(1), engine_test::PabRef(1), engine_test::Text("x")});
  VelkoRTItem* body = Connect();
  const std::vector<Bytes> bodyBefore = Values();
  EXPECT_EQ(body->ConvertFromHTMLBackend(), VELKO_ERR_BAD_ARGUMENT);
  EXPECT_EQ(body->last_status, VELKO_ERR_BAD_ARGUMENT);
  VelkoRTChunk* bodyChunk = Chunk("Everything");
  EXPECT_EQ(bodyChunk->AppendHTML("BodyContext", "", ""), VELKO_ERR_NO_INPUT);
  EXPECT_EQ(bodyChunk->secondary_status, VELKO_ERR_IMPORT_FAILED);
  EXPECT_EQ(Values(), bodyBefore);

  // An item that is not connected has no note to read.
  VelkoRTItem unconnected(session_);
  EXPECT_EQ(unconnected.ConvertFromHTMLBackend(), VELKO_ERR_NO_INPUT);
}

TEST_F(HtmlBackendTest, AnEmptyFileHoldsAnEmptyText) {
  resource_ = FileResource("empty.htm", "");
  ASSERT_EQ(resource_->ConvertFromHTMLBackend(), NOERROR);
  VelkoRTChunk* chunk = resource_->DefineChunk("Everything");
  ASSERT_NE(chunk, nullptr);
  EXPECT_EQ(chunk->AppendHTML("BodyContext", "", ""), VELKO_STATUS_INLINE_HTML);
  EXPECT_EQ(chunk->secondary_status, VELKO_ERR_IMPORT_FAILED);
}

} // namespace
