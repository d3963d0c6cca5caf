// Marking pass-through HTML for the importer: the text between the two
// delimiters of a loaded record list is escaped and bracketed, native runs
// around a region are closed and reopened, long results split into text
// records within the limit. Expected records are written by hand.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "cdbuild/cd_builder.h"
#include "host/cdrecords.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "import/html_import_state.h"
#include "import/passthru.h"
#include "store/body.h"
#include "store/session.h"
#include "store/tracked_memory_testing.h"
#include "tests/support/note_fixture.h"
#include "velko/velko.h"

namespace {

using Entry = std::pair<WORD, std::string>; /* signature, text of a text run */
using Entries = std::vector<Entry>;

constexpr WORD kText = SIG_CD_TEXT;
constexpr WORD kBegin = SIG_CD_HTMLBEGIN;
constexpr WORD kEnd = SIG_CD_HTMLEND;
constexpr WORD kParagraph = SIG_CD_PARAGRAPH;

class PassthruTest : public ::testing::Test {
protected:
  static constexpr const char* kDbPath = "mem:passthru";

  void SetUp() override {
    HostTestReset();
    HostTestCaptureMessages();
    ASSERT_EQ(note_testing::CreateDatabase(kDbPath, &db_), NOERROR);
    session_ = new LSXLsiSession;
  }
  void TearDown() override {
    Unload();
    delete session_;
    NSFDbClose(db_);
    HostTestReset();
  }

  void Unload() {
    if (records_ != nullptr) {
      CleanupBodyContext(session_, records_);
      delete records_;
      records_ = nullptr;
    }
  }

  /* Loads the entries as a stored body's record list (text runs in face
   * 5, so that a rebuilt header shows it kept the run's font). */
  void Load(const Entries& entries) {
    Unload();
    cdbuild::Body body;
    for (const Entry& entry : entries) {
      if (entry.first == kText)
        body.Add(cdbuild::Text(entry.second, {.face = 5}));
      else if (entry.first == kBegin)
        body.Add(cdbuild::HtmlBegin());
      else if (entry.first == kEnd)
        body.Add(cdbuild::HtmlEnd());
      else
        body.Add(cdbuild::Paragraph());
    }
    const NOTEID id = note_testing::StoreNoteWith(
        db_, [&](NOTEHANDLE note) { return body.AppendItems(note, "Body"); });
    ASSERT_NE(id, 0u);
    item_ = new VelkoRTItem(session_);
    ASSERT_EQ(item_->Connect("", kDbPath, id, "Body", 0), NOERROR);
    records_ = StoreItemsAndRecords(item_, 0, 0, nullptr, 0, 0, NULLHANDLE, nullptr);
    ASSERT_NE(records_, nullptr);
    ASSERT_EQ(records_->load_status, NOERROR);
  }

  /* The list's records, links checked both ways; every text run keeps
   * face 5 and its length word. */
  Entries List() const {
    Entries entries;
    const record_storage* previous = nullptr;
    for (const record_storage* node = records_->records; node != nullptr; node = node->next) {
      EXPECT_EQ(node->previous, previous);
      previous = node;
      std::string text;
      if (node->signature == kText) {
        WORD length = 0;
        memcpy(&length, node->data + 2, sizeof length);
        EXPECT_EQ(length, node->length);
        EXPECT_LE(node->length, kLongestMarkedText);
        EXPECT_EQ(node->data[offsetof(CDTEXT, FontID) + FONTID_FACE_BYTE], 5);
        text.assign(node->data + 8, node->length - 8);
      }
      entries.emplace_back(node->signature, text);
    }
    return entries;
  }

  STATUS Encode(const char* start, const char* end) {
    html_import_state state;
    state.session = session_;
    state.passthru_start = const_cast<char*>(start);
    state.passthru_end = const_cast<char*>(end);
    return EncodePassthruHTML(records_, &state);
  }

  Entries Marked(const Entries& entries, const char* start = "{{", const char* end = "}}") {
    Load(entries);
    EXPECT_EQ(Encode(start, end), NOERROR);
    return List();
  }

  DBHANDLE db_ = NULLHANDLE;
  LSXLsiSession* session_ = nullptr;
  VelkoRTItem* item_ = nullptr; /* the session's; deleted with it */
  body_context* records_ = nullptr;
};

struct marking_case {
  const char* name;
  Entries input;
  Entries marked;
};

TEST_F(PassthruTest, RegionsAreEscapedAndBracketed) {
  const marking_case cases[] = {
      {"the four characters escaped, the apostrophe kept; a first \"<\" takes no comment",
       {{kText, "a{{<b x=\"1\" y='2'>&</b>}}z"}},
       {{kText, "a[&lt;b x=&quot;1&quot; y='2'&gt;&amp;&lt;/b&gt;]z"}}},
      {"an empty region", {{kText, "x{{}}y"}}, {{kText, "x[<!-- -->]y"}}},
      {"a first character other than \"<\" after the comment",
       {{kText, "{{hi}}."}},
       {{kText, "[<!-- -->hi]."}}},
      {"delimiters ending their records, a region across records and a paragraph",
       {{kText, "a{{"}, {kParagraph, ""}, {kText, "b}}"}, {kText, "c"}},
       {{kText, "a["}, {kParagraph, ""}, {kText, "<!-- -->b]"}, {kText, "c"}}},
      {"a region inside a native run closes it before and reopens it after",
       {{kBegin, ""}, {kText, "<p>"}, {kText, "p{{<i>}}q"}, {kText, "<br>"}, {kEnd, ""}},
       {{kBegin, ""},
        {kText, "<p>"},
        {kEnd, ""},
        {kText, "p[&lt;i&gt;]q"},
        {kBegin, ""},
        {kText, "<br>"},
        {kEnd, ""}}},
      {"a native run at the start of the list",
       {{kBegin, ""}, {kText, "{{<hr>}}"}, {kEnd, ""}},
       {{kBegin, ""}, {kEnd, ""}, {kText, "[&lt;hr&gt;]"}, {kBegin, ""}, {kEnd, ""}}},
      {"a multi-byte character inside a region stays whole",
       {{kText, "{{\x14&>x}}"}},
       {{kText, "[<!-- -->\x14&>x]"}}},
      {"a record shorter than the start delimiter, and text outside regions, stay",
       {{kText, "{"}, {kText, "<a & b>"}},
       {{kText, "{"}, {kText, "<a & b>"}}},
  };
  for (const marking_case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Marked(c.input), c.marked);
  }
}

TEST_F(PassthruTest, DelimitersOfSeveralCharacters) {
  EXPECT_EQ(Marked({{kText, "<!--raw-->\"q\"<!--/raw-->."}}, "<!--raw-->", "<!--/raw-->"),
            (Entries{{kText, "[<!-- -->&quot;q&quot;]."}}));
}

TEST_F(PassthruTest, NullOrEmptyDelimiterLeavesTheList) {
  const Entries input = {{kText, "a{{<b>}}"}};
  const std::pair<const char*, const char*> delimiters[] = {
      {nullptr, "}}"}, {"{{", nullptr}, {"", "}}"}, {"{{", ""}};
  for (const auto& [start, end] : delimiters) {
    Load(input);
    EXPECT_EQ(Encode(start, end), NOERROR);
    EXPECT_EQ(List(), input);
  }
}

/* 20,000 quotes grow six-fold: the text is cut, between escapes, into
 * records of at most 64382 bytes with the run's header. */
TEST_F(PassthruTest, AGrownRegionIsSplitWithinTheLimit) {
  const std::string quotes(20000, '"');
  std::string escaped;
  for (size_t i = 0; i < quotes.size(); ++i)
    escaped += "&quot;";
  const std::string whole = "[<!-- -->" + escaped + "]";
  const size_t first = 9 + 6 * ((64374 - 9) / 6);
  const Entries marked = Marked({{kText, "{{" + quotes + "}}"}, {kText, "after"}});
  EXPECT_EQ(marked, (Entries{{kText, whole.substr(0, first)},
                             {kText, whole.substr(first)},
                             {kText, "after"}}));
}

/* Memory running out at any allocation: 263, and the list stays whole
 * and readable. */
TEST_F(PassthruTest, MemoryRunningOut) {
  const Entries input = {{kBegin, ""}, {kText, "p{{<i>}}q"}, {kEnd, ""}};
  bool failed = false;
  for (int n = 1; n < 20; ++n) {
    Load(input);
    VelkoTestFailTrackedAllocation(n);
    const STATUS status = Encode("{{", "}}");
    VelkoTestFailTrackedAllocation(0);
    if (status == NOERROR)
      break;
    failed = true;
    EXPECT_EQ(status, VELKO_ERR_MEMORY);
    EXPECT_EQ(List(), input);
  }
  EXPECT_TRUE(failed);
}

} // namespace
