// Images and character references appended through VelkoRTChunk::AppendHTML:
// pictures from the chunk's inline parts (cid:) and from data: URIs as
// graphic records, other addresses as storage links, the alt text when
// neither serves; every name of the entity table decoded, unknown ones
// kept. Expected records are written by hand as record scripts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cdbuild/cd_script.h"
#include "render/entities.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "tests/support/record_lines.h"
#include "tests/support/test_fixture.h"

namespace {

using engine_test::Bytes;

/* The item's records before each import. */
constexpr const char* kItemRecords = "PABDEF id=1\nPABREF id=1\nTEXT text=\"x\"\n";

std::vector<Bytes> Built(const std::string& script) {
  cdbuild::Body body;
  cdbuild::ScriptError error;
  EXPECT_TRUE(cdbuild::BuildScript(script, &body, &error))
      << "line " << error.line << ": " << error.message;
  return body.records();
}

/* The record lines of the item's records followed by the script's. */
std::vector<std::string> Lines(const std::string& script) {
  return note_testing::RecordLines(
      {note_testing::Value(note_testing::Records(Built(kItemRecords + script)))});
}

class HtmlImagesTest : public engine_test::EngineTest {
protected:
  /* Imports the UTF-8 HTML into a fresh item; the item's record lines. */
  std::vector<std::string> Import(const std::string& html, STATUS* status = nullptr) {
    Restart();
    AppendItem(Built(kItemRecords));
    VelkoRTChunk* chunk = Chunk("Everything");
    const STATUS result = chunk->AppendHTML("INLINE", html.c_str(), "Charset=UTF-8");
    if (status != nullptr)
      *status = result;
    else
      EXPECT_EQ(result, NOERROR) << html;
    return note_testing::RecordLines(Values());
  }
};

/* Every name of the table imports as the table's character; the loop runs
 * over the table itself. */
TEST_F(HtmlImagesTest, EveryEntityOfTheTableDecodes) {
  for (const html_entity& entity : kHtmlEntities) {
    SCOPED_TRACE(entity.name);
    const std::string character(reinterpret_cast<const char*>(entity.lmbcs), entity.lmbcs_length);
    std::string escaped;
    for (unsigned char c : "[" + character + "]") {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      escaped += hex;
    }
    EXPECT_EQ(Import(std::string("[&") + entity.name + ";]"),
              Lines("TEXT text=\"" + escaped + "\"\n"));
  }
}

/* Names the table lacks stay as written; a reference the parser decodes
 * is not decoded twice. */
TEST_F(HtmlImagesTest, ReferencesOutsideTheTable) {
  const struct {
    const char* html;
    const char* script;
  } cases[] = {
      {"a&bogus;b", "TEXT text=\"a&bogus;b\"\n"},
      {"a&#150;b", "TEXT text=\"a\\x14\\x20\\x13b\"\n"},
      {"&amp;lang;", "TEXT text=\"&lang;\"\n"},
      {"&amp;&lang;", "TEXT text=\"&\\x14\\x23\\x29\"\n"},
      {"&LANG;&lang", "TEXT text=\"&LANG;&lang\"\n"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Import(c.html), Lines(c.script)) << c.html;
}

/* A body context loaded with entity text imports that text: its numeric
 * references read the same under any charset option. A record the
 * pass-through marking rewrote imports its new text. */
TEST_F(HtmlImagesTest, BodyContextsImportTheirEntityText) {
  const struct {
    const char* name;
    const char* options;
    const char* script;
  } cases[] = {
      {"entity text under a UTF-8 option", "Charset=UTF-8",
       "TEXT text=\"a{\"\nTEXT attributes=bold text=\"\\x14\\x20\\xAC\"\nTEXT text=\"}\"\n"},
      {"a marked record", "MarkPassthruHTML=Yes PassthruHTMLStart='{' PassthruHTMLEnd='}'",
       "TEXT text=\"a[<b>\\x14\\x20\\xAC</b>]\"\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    AppendItem(Built(kItemRecords));
    AppendItem(Built("TEXT text=\"a{<b>\\x14\\x20\\xAC</b>}\"\n"), "Source");
    VelkoRTItem source(session_);
    ASSERT_EQ(source.ConnectBackend(note_, "Source", 0), NOERROR);
    body_context* loaded = StoreItemsAndRecords(&source, 0, 0, nullptr, 0, 1, NULLHANDLE, nullptr);
    ASSERT_NE(loaded, nullptr);
    VelkoRTChunk* chunk = Chunk("Everything");
    item_->internal->html_import[0] = loaded; // the item frees it
    EXPECT_EQ(chunk->AppendHTML("BodyContext", "", c.options), NOERROR);
    EXPECT_EQ(note_testing::RecordLines(Values()), Lines(c.script));
  }
}

} // namespace
