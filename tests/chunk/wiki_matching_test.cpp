// Wiki matching through the chunk's method: markup naming a page of the
// view becomes a link to its document, URL tokens become URL links, and
// markup without a page becomes a hotspot composing a new document; a
// second run gives the same body, and a failing commit leaves the note.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cdbuild/cd_builder.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/status.h"
#include "store/session.h"
#include "tests/support/stored_chunk_fixture.h"
#include "tests/support/test_fixture.h"

namespace {

using cdbuild::Bytes;

constexpr const char* kView = "Pages";

class WikiMatchingTest : public StoredChunkFixture {
protected:
  void SetUp() override {
    StoredChunkFixture::SetUp();
    path_ = "mem:wiki\\db";
    ASSERT_EQ(NSFDbCreate(path_.c_str(), DBCLASS_NOTEFILE, TRUE), NOERROR);
    DBHANDLE db = NULLHANDLE;
    ASSERT_EQ(NSFDbOpen(path_.c_str(), &db), NOERROR);
    ASSERT_EQ(HostTestCreateView(db, kView, "SELECT Form = \"Page\"", "Subject", 0, &view_),
              NOERROR);
    NSFDbClose(db);
  }

  NOTEID Page(const std::string& title) {
    DBHANDLE db = NULLHANDLE;
    EXPECT_EQ(NSFDbOpen(path_.c_str(), &db), NOERROR);
    const NOTEID id = note_testing::StoreNoteWith(db, [&](NOTEHANDLE note) {
      STATUS status = NSFItemSetText(note, "Form", "Page", 4);
      if (status == NOERROR)
        status = NSFItemSetText(note, "Subject", title.data(), static_cast<WORD>(title.size()));
      return status;
    });
    NSFDbClose(db);
    return id;
  }

  NOTEID Body(const std::vector<std::string>& runs) {
    cdbuild::Body body;
    body.Add(engine_test::PabDef(1));
    body.Add(cdbuild::PabRef(1));
    for (const std::string& run : runs)
      body.Add(engine_test::Text(run));
    return StoreBody(body);
  }

  STATUS Wiki(NOTEID id, const char* options = nullptr, const char* server = "") {
    auto* session = new LSXLsiSession;
    auto* item = new VelkoRTItem(session);
    STATUS status = 0xFFFF;
    if (item->Connect("", path_.c_str(), id, "Body", 0) == NOERROR) {
      item->AutoSave = 1;
      if (VelkoRTChunk* chunk = item->DefineChunk("Everything"); chunk != nullptr)
        status = chunk->WikiMatching(server, path_.c_str(), kView, "Subject", nullptr, options);
    }
    delete session;
    return status;
  }

  NOTEID view_ = 0;
};

/* The stored body as one hex text, and whether it holds the text. */
std::string Hex(const std::string& text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (const char c : text) {
    hex += kDigits[static_cast<unsigned char>(c) >> 4];
    hex += kDigits[static_cast<unsigned char>(c) & 0xF];
  }
  return hex;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& line : lines)
    all += line + "\n";
  return all;
}

TEST_F(WikiMatchingTest, ComposeFormulaQuotesEveryLiteral) {
  struct Case {
    const char* name;
    const char* markup;
    const char* server;
    const char* formula;
  };
  const Case cases[] = {
      {"local server", "((Page))", "",
       R"(@Command([Compose]; "":"mem:wiki\\db"; "Document"); @Command([EditGoToField]; "Subject"); @Command([EditInsertText]; "Page");)"},
      {"quote in the title", "((Say \"hi\"))", "",
       R"(@Command([Compose]; "":"mem:wiki\\db"; "Document"); @Command([EditGoToField]; "Subject"); @Command([EditInsertText]; "Say \"hi\"");)"},
      {"anchor left out of the subject", "((Page#Part|Shown))", "",
       R"(@Command([Compose]; "":"mem:wiki\\db"; "Document"); @Command([EditGoToField]; "Subject"); @Command([EditInsertText]; "Page");)"},
      {"server with @ written as it is", "((Page))", "@DbName",
       R"(@Command([Compose]; @DbName; "Document"); @Command([EditGoToField]; "Subject"); @Command([EditInsertText]; "Page");)"},
      {"a named server is not reached", "((Page))", "Srv", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const NOTEID body = Body({std::string("See ") + c.markup});
    const STATUS status = Wiki(body, nullptr, c.server);
    if (c.server[0] != '\0' && c.server[0] != '@') {
      // A named server cannot be reached by the stand-in: nothing changes.
      EXPECT_NE(status, NOERROR);
      continue;
    }
    ASSERT_EQ(status, NOERROR);
    EXPECT_NE(Joined(Stored(body)).find(Hex(c.formula)), std::string::npos)
        << Joined(Stored(body));
  }
}

TEST_F(WikiMatchingTest, PageLinksUrlLinksAndHotspotsAreStableOverRuns) {
  Page("Home");
  struct Case {
    const char* name;
    const char* options;
    const char* markup;
    const char* shown; /* hex-free text the body then holds */
    bool changed;
  };
  const Case cases[] = {
      {"page link", nullptr, "((Home))", "WikiLinkHome", true},
      {"page with display text", nullptr, "((Home|the start))", "the start", true},
      {"anchor with a blank", nullptr, "((Home#top part))", "top_part", true},
      {"URL without bar shown without scheme", nullptr, "((http://x.org/a))", "x.org/a", true},
      {"search term encoded", nullptr, "((google:a \"b\"))", "/search?q=a%20%22b%22", true},
      {"new page hotspot", nullptr, "((Nowhere))", "WikiLinkNowhere", true},
      {"not closed stays text", nullptr, "((Home)", "((Home)", false},
      {"other delimiters", "WikiDelimiters=[[]]", "[[Home]]", "WikiLinkHome", true},
      {"three delimiter characters keep the default", "WikiDelimiters=[[]", "[[Home]]",
       "[[Home]]", false},
      {"tag missing: left alone", "Tag=wk", "((Home))", "((Home))", false},
      {"tag present", "Tag=wk", "((wk:Home))", "WikiLinkwk", true},
      {"not resolved", "ResolveTags=No", "((Home))", "((Home))", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const NOTEID body = Body({std::string("See ") + c.markup + " now"});
    ASSERT_EQ(Wiki(body, c.options), NOERROR);
    const std::vector<std::string> first = Stored(body);
    EXPECT_NE(Joined(first).find(Hex(c.shown)), std::string::npos) << Joined(first);
    if (!c.changed) {
      EXPECT_EQ(Joined(first).find("ADFF"), std::string::npos) << Joined(first);
    }
    ASSERT_EQ(Wiki(body, c.options), NOERROR);
    EXPECT_EQ(Stored(body), first);
  }
}

TEST_F(WikiMatchingTest, MarkupInsideALinkStaysText) {
  Page("Home");
  cdbuild::Body records;
  records.Add(engine_test::PabDef(1));
  records.Add(cdbuild::PabRef(1));
  records.Add(engine_test::Text("See "));
  records.Add(cdbuild::HotspotBegin(
      {.signature = SIG_CD_V4HOTSPOTBEGIN, .type = 11, .flags = 8, .data = std::string(1, '\0')}));
  records.Add(cdbuild::DocLink(Bytes(40, 1)));
  records.Add(engine_test::Text("((Home))"));
  records.Add(cdbuild::HotspotEnd(SIG_CD_V4HOTSPOTEND));
  records.Add(engine_test::Text(""));
  const NOTEID body = StoreBody(records);
  ASSERT_EQ(Wiki(body), NOERROR);
  // Neither a page link nor a new-page hotspot: no wiki class anywhere.
  const std::string stored = Joined(Stored(body));
  EXPECT_NE(stored.find(Hex("((Home))")), std::string::npos) << stored;
  EXPECT_EQ(stored.find(Hex("WikiLink")), std::string::npos) << stored;
}

TEST_F(WikiMatchingTest, RefusalsAndFailuresLeaveTheNote) {
  const NOTEID body = Body({"See ((Home))"});
  const std::vector<std::string> before = Stored(body);
  struct Case {
    const char* name;
    const char* path;
    const char* view;
    const char* field;
    const char* message;
  };
  const Case cases[] = {
      {"no path", "", kView, "Subject",
       "TARNO: WikiMatching method passed an invalid database filepath."},
      {"no view", "mem:wiki\\db", "", "Subject",
       "TARNO: WikiMatching method passed an invalid view name."},
      {"no field", "mem:wiki\\db", kView, "", "TARNO: WikiMatching missing reference fieldname."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto* session = new LSXLsiSession;
    auto* item = new VelkoRTItem(session);
    ASSERT_EQ(item->Connect("", path_.c_str(), body, "Body", 0), NOERROR);
    VelkoRTChunk* chunk = item->DefineChunk("Everything");
    EXPECT_EQ(chunk->WikiMatching("", c.path, c.view, c.field, nullptr, nullptr), 20017);
    ASSERT_FALSE(note_testing::MessageTexts().empty());
    EXPECT_EQ(note_testing::MessageTexts().back(), c.message);
    delete session;
    EXPECT_EQ(Stored(body), before);
  }
  HostTestFailStorageWrite(1);
  EXPECT_EQ(Wiki(body), ERR_HOST_STORAGE);
  HostTestFailStorageWrite(0);
  EXPECT_EQ(Stored(body), before);
}

} // namespace
