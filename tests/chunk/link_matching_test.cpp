// Keyword link matching through the chunk's methods: keywords read from the
// documents of a view become document links in the chunk's text (or a
// keyword list), with the argument checks, the options, the table cache and
// the failures of its building and of the commit.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cdbuild/cd_builder.h"
#include "host/host_testing.h"
#include "host/status.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/timedate.h"
#include "store/session.h"
#include "store/tracked_memory_testing.h"
#include "chunk/append_chunk_testing.h"
#include "engine/process_state.h"
#include "store/emitter.h"
#include "tests/support/stored_chunk_fixture.h"
#include "tests/support/test_fixture.h"

namespace {

using cdbuild::Bytes;

Bytes T(const std::string& text) { return engine_test::Text(text); }

constexpr const char* kView = "Keywords";
constexpr const char* kField = "Keyword";

class LinkMatchingTest : public StoredChunkFixture {
protected:
  void SetUp() override {
    StoredChunkFixture::SetUp();
    HostTestSetClock(&clock_);
    DBHANDLE db = NULLHANDLE;
    ASSERT_EQ(NSFDbOpen(path_.c_str(), &db), NOERROR);
    ASSERT_EQ(HostTestCreateView(db, kView, "SELECT Form = \"Keyword\"", nullptr, 0, &view_),
              NOERROR);
    NSFDbClose(db);
  }

  /* A keyword document: Form "Keyword" and the keyword text (values
   * joined by '`' come out of the item as separate keywords). */
  NOTEID Keyword(const std::string& text) { return KeywordWith(text, {}); }

  /* A keyword document with more text fields and, when given, the
   * records of a rich-text "Body". */
  NOTEID KeywordWith(const std::string& text,
                     const std::vector<std::pair<std::string, std::string>>& fields,
                     const std::vector<Bytes>& body = {}) {
    DBHANDLE db = NULLHANDLE;
    EXPECT_EQ(NSFDbOpen(path_.c_str(), &db), NOERROR);
    const NOTEID id = note_testing::StoreNoteWith(db, [&](NOTEHANDLE note) {
      STATUS status = NSFItemSetText(note, "Form", "Keyword", 7);
      if (status == NOERROR)
        status = NSFItemSetText(note, kField, text.data(), static_cast<WORD>(text.size()));
      for (const auto& [name, value] : fields)
        if (status == NOERROR)
          status = NSFItemSetText(note, name.c_str(), value.data(), static_cast<WORD>(value.size()));
      if (status == NOERROR && !body.empty()) {
        cdbuild::Body records;
        for (const Bytes& record : body)
          records.Add(record);
        status = note_testing::AppendRecords(note, "Body", records.RecordBytes());
      }
      return status;
    });
    NSFDbClose(db);
    return id;
  }

  /* A body of one paragraph with the text runs. */
  NOTEID Body(const std::vector<Bytes>& runs) {
    std::vector<Bytes> records = {engine_test::PabDef(1), cdbuild::PabRef(1)};
    records.insert(records.end(), runs.begin(), runs.end());
    cdbuild::Body body;
    for (const Bytes& record : records)
      body.Add(record);
    return StoreBody(body);
  }

  std::vector<std::string> Lines(const std::vector<Bytes>& runs) {
    std::vector<Bytes> records = {engine_test::PabDef(1), cdbuild::PabRef(1)};
    records.insert(records.end(), runs.begin(), runs.end());
    // A written body ends in a text run.
    if (records.back() == cdbuild::HotspotEnd(SIG_CD_V4HOTSPOTEND))
      records.push_back(T(""));
    cdbuild::Body body;
    for (const Bytes& record : records)
      body.Add(record);
    return note_testing::RecordLines(note_testing::Value(body.RecordBytes()));
  }

  /* The note link to a keyword document through the view. */
  Bytes NoteLink(NOTEID keywordNote) {
    DBHANDLE db = NULLHANDLE;
    EXPECT_EQ(NSFDbOpen(path_.c_str(), &db), NOERROR);
    DBREPLICAINFO replica = {};
    EXPECT_EQ(NSFDbReplicaInfoGet(db, &replica), NOERROR);
    ORIGINATORID view = {}, note = {};
    EXPECT_EQ(NSFDbGetNoteInfo(db, view_, &view, nullptr, nullptr), NOERROR);
    EXPECT_EQ(NSFDbGetNoteInfo(db, keywordNote, &note, nullptr, nullptr), NOERROR);
    NSFDbClose(db);
    Bytes link(40);
    std::memcpy(link.data(), &replica.ID, 8);
    std::memcpy(link.data() + 8, &view, 16);
    std::memcpy(link.data() + 24, &note, 16);
    return link;
  }

  /* The records of a link to a keyword document: the hotspot begin, the
   * link with the keyword as its comment, the shown text in the link font
   * (blue, underlined) and the hotspot end. */
  std::vector<Bytes> LinkRecords(NOTEID keywordNote, const std::string& shown,
                                 const std::string& keyword,
                                 const cdbuild::Font& font = {.face = 1, .attributes = 0x04,
                                                              .color = 4, .size = 10}) {
    const std::string comment = keyword + std::string(1, '\0');
    return {cdbuild::HotspotBegin({.signature = SIG_CD_V4HOTSPOTBEGIN, .type = 11, .flags = 8,
                                   .data = shown + std::string(1, '\0')}),
            cdbuild::DocLink(NoteLink(keywordNote), Bytes(comment.begin(), comment.end())),
            cdbuild::Text(shown, font), cdbuild::HotspotEnd(SIG_CD_V4HOTSPOTEND)};
  }

  /* Runs work on the chunk "Everything" of the note in a session of its
   * own; returns its status. */
  STATUS Work(NOTEID id, const std::function<STATUS(VelkoRTChunk*)>& work,
              const std::function<void(VelkoRTItem*)>& setUp = [](VelkoRTItem*) {}) {
    auto* session = new LSXLsiSession;
    session_ = session;
    auto* item = new VelkoRTItem(session);
    STATUS status = 0xFFFF;
    if (item->Connect("", path_.c_str(), id, "Body", 0) == NOERROR) {
      item->AutoSave = 1;
      setUp(item);
      if (VelkoRTChunk* chunk = item->DefineChunk("Everything"); chunk != nullptr)
        status = work(chunk);
    }
    result_ = session->result_text;
    delete session;
    session_ = nullptr;
    return status;
  }

  STATUS Link(NOTEID id, const char* options = nullptr, WORD mode = 2386) {
    return Work(id, [&](VelkoRTChunk* chunk) {
      return chunk->LinkMatching("", path_.c_str(), kView, kField, nullptr, options, mode);
    });
  }

  /* Matches "The fox runs" in the mode and checks that "fox" became the
   * records. */
  void ExpectFoxBecomes(WORD mode, const char* value, const char* properties,
                        const std::vector<Bytes>& records,
                        const std::function<void(VelkoRTItem*)>& setUp = [](VelkoRTItem*) {});

  TIMEDATE clock_ = TimeDateFromUnix(1'700'000'000); // 22:13 UTC
  NOTEID view_ = 0;
  LSXLsiSession* session_ = nullptr;
  std::string result_;
};

template <typename... Parts> std::vector<Bytes> Join(const Parts&... parts) {
  std::vector<Bytes> all;
  (all.insert(all.end(), parts.begin(), parts.end()), ...);
  return all;
}

void LinkMatchingTest::ExpectFoxBecomes(WORD mode, const char* value, const char* properties,
                                        const std::vector<Bytes>& records,
                                        const std::function<void(VelkoRTItem*)>& setUp) {
  const NOTEID body = Body({T("The fox runs")});
  ASSERT_EQ(Work(
                body,
                [&](VelkoRTChunk* chunk) {
                  return chunk->LinkMatching("", path_.c_str(), kView, kField, value, properties,
                                             mode);
                },
                setUp),
            NOERROR);
  EXPECT_EQ(Stored(body),
            Lines(Join(std::vector<Bytes>{T("The ")}, records, std::vector<Bytes>{T(" runs")})));
}

TEST_F(LinkMatchingTest, KeywordsBecomeLinksShowingTheMatchedText) {
  const NOTEID fox = Keyword("Fox");
  const NOTEID body = Body({T("The quick fox jumps")});
  ASSERT_EQ(Link(body), NOERROR);
  EXPECT_EQ(Stored(body),
            Lines(Join(std::vector<Bytes>{T("The quick ")}, LinkRecords(fox, "fox", "Fox"),
                       std::vector<Bytes>{T(" jumps")})));
  EXPECT_EQ(note_testing::MessageTexts(), std::vector<std::string>{"Adding hypertext link to fox..."});
}

TEST_F(LinkMatchingTest, MatchPlacesFollowTheMatchTextOption) {
  const NOTEID keyword = Keyword("ink");
  struct Case {
    const char* name;
    const char* text;
    const char* options;
    std::vector<std::string> pieces; /* before, shown, after; one piece: unchanged */
  };
  const Case cases[] = {
      {"whole word", "an ink pot", nullptr, {"an ", "ink", " pot"}},
      {"whole word refuses a word part", "linked ink", nullptr, {"linked ", "ink", ""}},
      {"a word part met first ends the keyword", "inking ink", nullptr, {"inking ink"}},
      {"text start is a word start", "ink pot", nullptr, {"", "ink", " pot"}},
      {"starts", "inkwell", "MatchText=Starts", {"", "ink", "well"}},
      {"starts extended", "inkwell x", "MatchText=Starts ReplaceExtra=Yes", {"", "inkwell", " x"}},
      {"starts refuses an end", "pink", "MatchText=Starts", {"pink"}},
      {"ends", "a pink", "MatchText=Ends", {"a p", "ink", ""}},
      {"ends extended", "a pink", "MatchText=Ends ReplaceExtra=Yes", {"a ", "pink", ""}},
      {"substring", "blinks", "MatchText=Substr", {"bl", "ink", "s"}},
      {"case differs", "an INK pot", nullptr, {"an ", "INK", " pot"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const NOTEID body = Body({T(c.text)});
    ASSERT_EQ(Link(body, c.options), NOERROR);
    std::vector<Bytes> expected;
    if (c.pieces.size() == 1) {
      expected = {T(c.pieces[0])};
    } else {
      if (!c.pieces[0].empty())
        expected.push_back(T(c.pieces[0]));
      for (const Bytes& record : LinkRecords(keyword, c.pieces[1], "ink"))
        expected.push_back(record);
      if (!c.pieces[2].empty())
        expected.push_back(T(c.pieces[2]));
    }
    EXPECT_EQ(Stored(body), Lines(expected));
  }
}

TEST_F(LinkMatchingTest, KeywordsThatAreNotLinked) {
  struct Case {
    const char* name;
    const char* keyword;
    const char* text;
    const char* options;
  };
  const Case cases[] = {
      {"one character never matches", "a", "a b a", "MinLength=0"},
      {"shorter than MinLength=200, which means 3", "ab", "ab ab", "MinLength=200"},
      {"a text of the minimum length alone", "abc", "abc", "MinLength=4"},
      {"split at a multi-byte character", "ab", "x\x10\xA1" "ab", "MatchText=Substr"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Keyword(c.keyword);
    const NOTEID body = Body({T(c.text)});
    ASSERT_EQ(Link(body, c.options), NOERROR);
    EXPECT_EQ(Stored(body), Lines({T(c.text)}));
  }
}

TEST_F(LinkMatchingTest, MinimumLengthCountsTheWholeTextAndEachPiece) {
  // "ab`abc" is longer than 3 and gives "abc" (its piece "ab" is too
  // short); "cat" is exactly 3 long and is a keyword of its own.
  const NOTEID pieces = Keyword("ab`abc");
  const NOTEID exact = Keyword("cat");
  const NOTEID body = Body({T("ab abc cat")});
  ASSERT_EQ(Link(body, "MinLength=3"), NOERROR);
  EXPECT_EQ(Stored(body), Lines(Join(std::vector<Bytes>{T("ab ")}, LinkRecords(pieces, "abc", "abc"),
                                     std::vector<Bytes>{T(" ")}, LinkRecords(exact, "cat", "cat"))));
}

TEST_F(LinkMatchingTest, SingleMatchLinksAKeywordOnce) {
  const NOTEID keyword = Keyword("fox");
  struct Case {
    const char* options;
    int links;
  };
  for (const Case c : {Case{nullptr, 2}, Case{"SingleMatch=Yes", 1}, Case{"SingleMatch=No", 2}}) {
    const NOTEID body = Body({T("fox"), T(" and fox")});
    ASSERT_EQ(Link(body, c.options), NOERROR);
    std::vector<Bytes> expected = LinkRecords(keyword, "fox", "fox");
    if (c.links == 2)
      expected = Join(expected, std::vector<Bytes>{T(" and ")}, LinkRecords(keyword, "fox", "fox"));
    else
      expected.push_back(T(" and fox"));
    EXPECT_EQ(Stored(body), Lines(expected)) << (c.options ? c.options : "(none)");
  }
}

TEST_F(LinkMatchingTest, CachedRecordsAreLeftForTheCallerToCommit) {
  const NOTEID keyword = Keyword("fox");
  const NOTEID body = Body({T("a fox")});
  const std::vector<std::string> before = Stored(body);
  std::vector<std::string> afterCall;
  ASSERT_EQ(Work(
                body,
                [&](VelkoRTChunk* chunk) {
                  const STATUS status =
                      chunk->LinkMatching("", path_.c_str(), kView, kField, nullptr, nullptr, 2386);
                  afterCall = Stored(body);
                  return status != NOERROR ? status : chunk->item->Save();
                },
                [](VelkoRTItem* item) { item->CacheRecords = 1; }),
            NOERROR);
  EXPECT_EQ(afterCall, before);
  EXPECT_EQ(Stored(body), Lines(Join(std::vector<Bytes>{T("a ")}, LinkRecords(keyword, "fox", "fox"))));
}

TEST_F(LinkMatchingTest, TextInsideALinkOrAlreadyLinkedIsLeftAlone) {
  const NOTEID keyword = Keyword("fox");
  const NOTEID body = Body({T("a fox")});
  ASSERT_EQ(Link(body), NOERROR);
  const std::vector<std::string> once = Stored(body);
  ASSERT_EQ(Link(body), NOERROR);
  EXPECT_EQ(Stored(body), once);
  EXPECT_EQ(once, Lines(Join(std::vector<Bytes>{T("a ")}, LinkRecords(keyword, "fox", "fox"))));
}

TEST_F(LinkMatchingTest, EnvelopedTextKeepsItsEnvelopeAroundEveryPiece) {
  const NOTEID keyword = Keyword("fox");
  const Bytes begin = cdbuild::Begin(SIG_CD_TEXT, 0);
  const Bytes end = cdbuild::End(SIG_CD_TEXT, 0);
  const Bytes color = engine_test::Color();
  const NOTEID body = Body({begin, T("a fox b"), color, end, begin, T("none"), color, end});
  ASSERT_EQ(Link(body), NOERROR);
  EXPECT_EQ(Stored(body),
            Lines(Join(std::vector<Bytes>{begin, T("a "), color, end},
                       LinkRecords(keyword, "fox", "fox"),
                       std::vector<Bytes>{begin, T(" b"), color, end, begin, T("none"), color,
                                          end})));
}

TEST_F(LinkMatchingTest, KeywordMatchingCollectsWithoutChangingTheNote) {
  Keyword("fox");
  Keyword("dog");
  Keyword("cat");
  const NOTEID body = Body({T("dog and fox, fox")});
  const std::vector<std::string> before = Stored(body);
  struct Case {
    const char* options;
    const char* result;
  };
  for (const Case c : {Case{nullptr, "fox,dog"}, Case{"Separator=;", "fox;dog"},
                       Case{"SingleMatch=No", "fox,fox,dog"}}) {
    STATUS status = Work(body, [&](VelkoRTChunk* chunk) {
      return chunk->KeywordMatching("", path_.c_str(), kView, kField, "", c.options);
    });
    EXPECT_EQ(status, NOERROR);
    EXPECT_EQ(result_, c.result) << (c.options ? c.options : "(none)");
    EXPECT_EQ(Stored(body), before);
  }
}

TEST_F(LinkMatchingTest, KeywordsSharingLettersAreEachFoundWhereTheyStand) {
  // Keywords inside longer ones, sharing their first letters, in another
  // case, and one whose letters stand across a multi-byte character.
  for (const char* keyword : {"gin", "Engine", "engines", "tex", "text", "textile", "abc"})
    Keyword(keyword);
  struct Case {
    const char* text;
    const char* options;
    const char* result;
  };
  const Case cases[] = {
      {"engine ENGINES gin", "SingleMatch=No", "gin,engine,ENGINES"},
      // "Engine" first stands inside "ENGINES": not looked for further on.
      {"ENGINES engine gin", "SingleMatch=No", "gin,ENGINES"},
      {"ENGINES engine gin", "SingleMatch=No MatchText=Substr", "GIN,gin,gin,ENGINE,engine,ENGINES"},
      {"tex text Textile texts", "SingleMatch=No", "tex,text,Textile"},
      {"Textile text tex texts", "SingleMatch=No MatchText=Starts",
       "Tex,tex,tex,tex,Text,text,text,Textile"},
      {"tex text Textile texts", "SingleMatch=No MatchText=Ends", "tex,text,Textile"},
      {"textile textile", nullptr, "textile"},
      {"\x14" "abc abc", "SingleMatch=No MatchText=Substr", "abc"},
      {"\x14" "abc", "MatchText=Substr", ""},
      {"engi tixe gi te", "SingleMatch=No MatchText=Substr", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " / " + (c.options ? c.options : "(none)"));
    const NOTEID body = Body({T(c.text)});
    ASSERT_EQ(Work(body,
                   [&](VelkoRTChunk* chunk) {
                     return chunk->KeywordMatching("", path_.c_str(), kView, kField, "",
                                                   c.options);
                   }),
              NOERROR);
    EXPECT_EQ(result_, c.result);
  }
}

TEST_F(LinkMatchingTest, WordBoundariesKeepKeywordsThatBeginAndEndWithLetters) {
  Keyword("1ab`ab.`abc`-ab`ab1");
  const NOTEID body = Body({T("1ab ab. abc -ab ab1")});
  for (WORD boundaries : {0, 1}) {
    Work(body, [&](VelkoRTChunk* chunk) {
      chunk->SearchWordBoundaries = boundaries;
      return chunk->KeywordMatching("", path_.c_str(), kView, kField, "", "MatchText=Substr");
    });
    EXPECT_EQ(result_, boundaries != 0 ? "abc" : "1ab,ab.,abc,-ab,ab1")
        << boundaries;
  }
}

TEST_F(LinkMatchingTest, ArgumentsAreCheckedInOrderAndNameTheMethod) {
  const NOTEID body = Body({T("fox")});
  const std::string path = path_;
  struct Case {
    const char* name;
    std::function<STATUS(VelkoRTChunk*)> call;
    STATUS status;
    std::string message;
  };
  const Case cases[] = {
      {"no path", [](VelkoRTChunk* c) { return c->ReplaceMatching("", "", kView, kField, "", ""); },
       20017, "TARNO: ReplaceMatching method passed an invalid database filepath."},
      {"no view", [&](VelkoRTChunk* c) {
         return c->AppendMatching("", path.c_str(), nullptr, kField, "", "");
       }, 20017, "TARNO: AppendMatching method passed an invalid view name."},
      {"no field", [&](VelkoRTChunk* c) {
         return c->LinkMatching("", path.c_str(), kView, "", "", "", 7);
       }, 20017, "TARNO: LinkMatching missing reference fieldname."},
      {"bad result formula", [&](VelkoRTChunk* c) {
         return c->PopupMatching("", path.c_str(), kView, kField, "@If(", "");
       }, 20014, "TARNO: PopupMatching properties formula failed to compile."},
      {"bad properties formula", [&](VelkoRTChunk* c) {
         return c->InsertMatching("", path.c_str(), kView, kField, "", "@Left(");
       }, 20014, "TARNO: LinkMatching properties formula failed to compile."},
      {"bad field formula, links", [&](VelkoRTChunk* c) {
         return c->LinkMatching("", path.c_str(), kView, "@(", "", "", 7);
       }, 20014, "TARNO: LinkMatching URL fieldname formula failed to compile."},
      {"bad field formula, another mode", [&](VelkoRTChunk* c) {
         return c->HighlightMatching("", path.c_str(), kView, "(\"a\"", "", "");
       }, 20014, "TARNO: HighlightMatching result fieldname formula failed to compile."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Work(body, c.call), c.status) << c.name;
    EXPECT_EQ(note_testing::MessageTexts().back(), c.message) << c.name;
  }
  EXPECT_EQ(Stored(body), Lines({T("fox")}));
}

TEST_F(LinkMatchingTest, RegexMethodsLeaveTheNoteAndOtherModesLink) {
  Keyword("fox");
  const NOTEID body = Body({T("fox")});
  EXPECT_EQ(Work(body, [](VelkoRTChunk* c) {
              return c->RegexLink("a", "b", "c", 1) | c->RegexHighlight("a", "b", "c") |
                     c->RegexKeywords("a", "b", "c") | c->RegexPopup("a", "b", "c") |
                     c->RegexReplace("a", "b", "c");
            }),
            NOERROR);
  EXPECT_EQ(Stored(body), Lines({T("fox")}));
  // Any other mode links.
  EXPECT_EQ(Link(body, nullptr, 9), NOERROR);
  EXPECT_NE(Stored(body), Lines({T("fox")}));
}

TEST_F(LinkMatchingTest, TableIsReusedOnceWithinTheHour) {
  Keyword("fox");
  const NOTEID body = Body({T("fox dog cat ant")});
  const std::string path = path_;
  // Each call sees the documents present when its table was built: a
  // keyword added after the first call shows in the list only once the
  // table is built again.
  std::vector<std::string> results;
  const auto collect = [&](VelkoRTChunk* chunk) {
    const STATUS status = chunk->KeywordMatching("", path.c_str(), kView, kField, "", "");
    results.push_back(chunk->session->result_text);
    return status;
  };
  const TIMEDATE nextHour = TimeDateFromUnix(1'700'000'000 + 3600);
  Work(body, [&](VelkoRTChunk* chunk) {
    collect(chunk); // builds
    Keyword("dog");
    collect(chunk); // reuses
    collect(chunk); // builds again
    Keyword("cat");
    collect(chunk); // reuses
    collect(chunk); // builds
    HostTestSetClock(&nextHour);
    Keyword("ant");
    collect(chunk); // another hour: builds
    return NOERROR;
  });
  EXPECT_EQ(results, (std::vector<std::string>{"fox", "fox", "fox,dog", "fox,dog", "fox,dog,cat",
                                               "fox,dog,cat,ant"}));
}

TEST_F(LinkMatchingTest, CachingOffOrLongKeysBuildEveryTime) {
  Keyword("fox");
  const NOTEID body = Body({T("fox dog")});
  const std::string path = path_;
  std::vector<std::string> results;
  Work(
      body,
      [&](VelkoRTChunk* chunk) {
        chunk->KeywordMatching("", path.c_str(), kView, kField, "", "");
        results.push_back(chunk->session->result_text);
        Keyword("dog");
        chunk->KeywordMatching("", path.c_str(), kView, kField, "", "");
        results.push_back(chunk->session->result_text);
        EXPECT_EQ(chunk->session->internal->link_matcher, nullptr);
        return NOERROR;
      },
      [](VelkoRTItem* item) { item->CacheLinkMatching = 0; });
  EXPECT_EQ(results, (std::vector<std::string>{"fox", "fox,dog"}));
}

TEST_F(LinkMatchingTest, FailuresReturnTheirStatusAndLeaveTheNote) {
  KeywordWith("fox", {{"Site", "http://x.org/fox"}},
              {engine_test::PabDef(1), cdbuild::PabRef(1), T("[rich]")});
  Keyword("dog");
  struct Case {
    const char* name;
    WORD mode;
    const char* value;
  };
  const Case cases[] = {
      {"links", 2386, nullptr}, {"URL links", 2386, "Site"}, {"rich text inserted", 2803, "Body"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const NOTEID body = Body({T("fox and dog")});
    const std::vector<std::string> before = Stored(body);
    const auto call = [&](VelkoRTChunk* chunk) {
      return chunk->LinkMatching("", path_.c_str(), kView, kField, c.value, nullptr, c.mode);
    };
    HostTestFailStorageWrite(1);
    EXPECT_EQ(Work(body, call), ERR_HOST_STORAGE);
    HostTestFailStorageWrite(0);
    EXPECT_EQ(Stored(body), before);

    // Each tracked allocation refused in turn while the table is built.
    for (int nth = 1;; ++nth) {
      SCOPED_TRACE(nth);
      const STATUS status = Work(body, [&](VelkoRTChunk* chunk) {
        VelkoTestFailTrackedAllocation(nth);
        const STATUS result = call(chunk);
        VelkoTestFailTrackedAllocation(0);
        return result;
      });
      if (status == NOERROR) {
        EXPECT_GT(nth, 3) << "the sweep must refuse allocations of the call";
        break;
      }
      EXPECT_EQ(Stored(body), before);
      ASSERT_LT(nth, 400);
    }
  }
}

/* ---- formulas and the modes ---- */

TEST_F(LinkMatchingTest, KeywordModeCollectsFormulaKeywordsValuesAndSeparators) {
  KeywordWith("fox", {{"Code", "F1"}});
  KeywordWith("dog", {{"Code", "D2"}});
  const NOTEID body = Body({T("afox fox;dog 42 dog and fox")});
  struct Case {
    const char* name;
    const char* field;
    const char* value;
    const char* properties;
    const char* result;
  };
  const Case cases[] = {
      {"keywords from a formula", "\"a\" + Keyword", "", nullptr, "afox"},
      {"a list joined by ';'", "(Keyword : \"dog\")", "", nullptr, "fox;dog"},
      {"a number, from each document", "@TextToNumber(\"21\") * 2", "", "MinLength=2", "42,42"},
      {"a text shorter than the minimum", "@Length(Keyword)", "", nullptr, ""},
      {"the values", kField, "Code", nullptr, "F1,D2"},
      {"the options' separator", kField, "Code", "Separator=/", "F1/D2"},
      {"a separator per match", kField, "@LowerCase(Code)", "@Text(\"Separator=\" + Code)",
       "f1D2d2"},
      {"the properties formula's separator", kField, "", "(\"Separator=;\")", "fox;dog"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(Work(body,
                   [&](VelkoRTChunk* chunk) {
                     return chunk->KeywordMatching("", path_.c_str(), kView, c.field, c.value,
                                                   c.properties);
                   }),
              NOERROR);
    EXPECT_EQ(result_, c.result);
  }
}

/* What "fox" becomes in a mode with a value (null or "": none). */
struct fox_case {
  const char* name;
  WORD mode;
  const char* value;
  std::vector<Bytes> records;
};

/* The item's HighlightFont, "RED +BOLD" unless set. */
const cdbuild::Font kHighlightFont{.face = 1, .attributes = 0x01, .color = 2, .size = 10};

/* A URL link: its bracket, the resource of the URL, the hotspot begin
 * (data one byte longer than the URL, two zero bytes behind), the shown
 * text in the link font. */
std::vector<Bytes> UrlLinkRecords(const std::string& url, const std::string& shown,
                                  const cdbuild::Font& font = {.face = 1, .attributes = 0x04,
                                                               .color = 4, .size = 10}) {
  const Bytes hotspot = cdbuild::HotspotBegin(
      {.signature = SIG_CD_V4HOTSPOTBEGIN, .type = 11, .flags = 0x1008, .data = url + '\0'});
  return {cdbuild::Begin(SIG_CD_V4HOTSPOTBEGIN),
          cdbuild::HotspotBegin({.signature = SIG_CD_RESOURCELINKBEGIN, .type = 32, .flags = 8}),
          cdbuild::Resource({.type = 1, .name = url}),
          cdbuild::WithHeaderLength(cdbuild::WithTail(hotspot, {0, 0}),
                                    19 + static_cast<DWORD>(url.size())),
          cdbuild::Text(shown, font), cdbuild::HotspotEnd(SIG_CD_V4HOTSPOTEND),
          cdbuild::End(SIG_CD_V4HOTSPOTEND)};
}

/* A text popup: the hotspot begin of the kind with the popup text, the
 * shown text, the link end in its bracket. */
std::vector<Bytes> PopupRecords(WORD type, const std::string& popup, const std::string& shown) {
  return {cdbuild::Begin(SIG_CD_V4HOTSPOTBEGIN),
          cdbuild::HotspotBegin({.signature = SIG_CD_HOTSPOTBEGIN, .type = type, .flags = 4,
                                 .data = popup + '\0'}),
          T(shown), cdbuild::HotspotEnd(SIG_CD_V4HOTSPOTEND),
          cdbuild::End(SIG_CD_V4HOTSPOTEND)};
}

TEST_F(LinkMatchingTest, ValueAndPropertiesFormulasMakeUrlLinksAndPopups) {
  const NOTEID fox =
      KeywordWith("fox", {{"Site", "http://x.org/fox"}, {"Kind", "Hotspot=Mouseover"}});
  struct Case {
    const char* name;
    WORD mode;
    const char* value;
    const char* properties;
    std::vector<Bytes> records;
  };
  const Case cases[] = {
      // in the item's HighlightFont, which the other modes than links take
      {"Popup mode without a value links the document", 2805, nullptr, nullptr,
       LinkRecords(fox, "fox", "fox", kHighlightFont)},
      {"a URL link by default", 2386, "Site", nullptr, UrlLinkRecords("http://x.org/fox", "fox")},
      {"Hotspot=URL in the options", 2386, "Site", "Hotspot=url",
       UrlLinkRecords("http://x.org/fox", "fox")},
      {"a popup in Popup mode", 2805, "Site", nullptr, PopupRecords(1, "http://x.org/fox", "fox")},
      {"a popup of the options' kind", 2386, "Site", "Hotspot=Mouseover",
       PopupRecords(22, "http://x.org/fox", "fox")},
      {"a popup of the properties formula's kind", 2386, "\"About \" + Keyword", "@Text(Kind)",
       PopupRecords(22, "About fox", "fox")},
      {"a properties formula without a kind", 2386, "Site", "(\"Style=None\")",
       UrlLinkRecords("http://x.org/fox", "fox")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectFoxBecomes(c.mode, c.value, c.properties, c.records);
  }
}

TEST_F(LinkMatchingTest, ModesHighlightInsertAppendAndReplace) {
  KeywordWith("fox", {{"Info", "(more)"}},
              {engine_test::PabDef(1), cdbuild::PabRef(1), T("[rich]")});
  // The keyword document's body as it stands: definition, reference, text.
  const std::vector<Bytes> rich = {engine_test::PabDef(1), cdbuild::PabRef(1), T("[rich]")};
  const fox_case cases[] = {
      {"highlight", 2802, "", {cdbuild::Text("fox", kHighlightFont)}},
      // A running value formula makes every match take the URL font.
      {"highlight of the value", 2802, "@UpperCase(Keyword)",
       {cdbuild::Text("FOX", {.face = 1, .attributes = 0x04, .color = 4, .size = 10})}},
      {"append a value", 2801, "@Text(Info)", {T("fox"), T("(more)")}},
      {"insert a value", 2803, "@Text(Info)", {T("(more)"), T("fox")}},
      {"replace by a value", 2806, "@Text(Info)", {T("(more)")}},
      {"append rich text", 2801, "Body", Join(std::vector<Bytes>{T("fox")}, rich)},
      {"insert rich text", 2803, "Body", Join(rich, std::vector<Bytes>{T("fox")})},
      {"replace by rich text", 2806, "Body", rich},
  };
  for (const fox_case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectFoxBecomes(c.mode, c.value, "", c.records);
  }
}

TEST_F(LinkMatchingTest, TheUrlFontServesWhileAValueFormulaRuns) {
  const NOTEID fox = KeywordWith("fox", {{"Site", "http://x.org/fox"}});
  const cdbuild::Font green{.face = 1, .attributes = 0, .color = 3, .size = 10};
  const fox_case cases[] = {
      {"a document link keeps the hyperlink font", 2386, nullptr, LinkRecords(fox, "fox", "fox")},
      {"a URL link", 2386, "Site", UrlLinkRecords("http://x.org/fox", "fox", green)},
      {"a highlight of the value", 2802, "@UpperCase(Keyword)", {cdbuild::Text("FOX", green)}},
      {"a highlight without a value", 2802, "", {cdbuild::Text("fox", kHighlightFont)}},
  };
  for (const fox_case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectFoxBecomes(c.mode, c.value, "", c.records, [](VelkoRTItem* item) {
      item->SetPropertyText("URLFont", "GREEN", 0);
    });
  }
}

TEST_F(LinkMatchingTest, AFailedModeStepKeepsTheTextOnceOrEndsTheRecord) {
  KeywordWith("fox", {}, {engine_test::PabDef(1), cdbuild::PabRef(1), T("[rich]")});
  const NOTEID body = Body({T("The fox runs")});
  const std::vector<std::string> before = Stored(body);
  // Without a result field there is no rich text to insert: the step
  // fails before it writes, and the match stays text, emitted once.
  ASSERT_EQ(Work(body,
                 [&](VelkoRTChunk* chunk) {
                   return chunk->InsertMatching("", path_.c_str(), kView, kField, "", "");
                 }),
            NOERROR);
  EXPECT_EQ(Stored(body), Lines({T("The "), T("fox runs")}));

  // A step that fails after writing a record ends the record with its
  // status: the call fails and the note keeps its body.
  const NOTEID other = Body({T("The fox runs")});
  const std::vector<std::string> otherBefore = Stored(other);
  VelkoTestReplaceAppendChunk([](VelkoRTChunk*, chunk_process_state* state, WORD) {
    const Bytes record = T("half");
    EXPECT_EQ(CopyCDUpdated(record.data(), SIG_CD_TEXT, static_cast<DWORD>(record.size()),
                            &state->gen),
              NOERROR);
    return STATUS{ERR_HOST_STORAGE};
  });
  const STATUS status = Work(other, [&](VelkoRTChunk* chunk) {
    return chunk->ReplaceMatching("", path_.c_str(), kView, kField, "Body", "");
  });
  VelkoTestReplaceAppendChunk({});
  EXPECT_EQ(status, ERR_HOST_STORAGE);
  EXPECT_EQ(Stored(other), otherBefore);
  EXPECT_EQ(Stored(body), Lines({T("The "), T("fox runs")}));
}

TEST_F(LinkMatchingTest, TheCachedTableServesTheSameResultFormulaOrNone) {
  KeywordWith("fox", {{"Code", "F1"}});
  const NOTEID body = Body({T("fox dog cat")});
  const std::string path = path_;
  std::vector<std::string> results;
  const auto collect = [&](VelkoRTChunk* chunk, const char* value) {
    chunk->KeywordMatching("", path.c_str(), kView, kField, value, "");
    results.push_back(chunk->session->result_text);
  };
  Work(body, [&](VelkoRTChunk* chunk) {
    collect(chunk, "Code"); // builds
    KeywordWith("dog", {{"Code", "D2"}});
    collect(chunk, "@Text(Code)"); // another formula: builds
    KeywordWith("cat", {{"Code", "C3"}});
    collect(chunk, ""); // none: reuses
    collect(chunk, "@Text(Code)"); // builds
    return NOERROR;
  });
  EXPECT_EQ(results, (std::vector<std::string>{"F1", "F1,D2", "fox,dog", "F1,D2,C3"}));
}

TEST_F(LinkMatchingTest, PassesGoOnWhileTextWrittenAroundAMatchHoldsAKeyword) {
  // Only "Textile" is linked by the first pass: "tex" and "text" are met
  // first inside it, which ends them for the record. Each is found by a
  // pass of its own over the text the last pass wrote after its match.
  const NOTEID tex = Keyword("tex");
  const NOTEID text = Keyword("text");
  const NOTEID textile = Keyword("Textile");
  const NOTEID body = Body({T("Textile text tex")});
  ASSERT_EQ(Link(body), NOERROR);
  EXPECT_EQ(Stored(body),
            Lines(Join(LinkRecords(textile, "Textile", "Textile"), std::vector<Bytes>{T(" ")},
                       LinkRecords(text, "text", "text"), std::vector<Bytes>{T(" ")},
                       LinkRecords(tex, "tex", "tex"))));
}

TEST_F(LinkMatchingTest, KeywordsOfEveryLengthAreFoundAnywhereInAnyCase) {
  // Two-letter keywords make the filter's windows two bytes wide; the
  // others are found through their first two bytes and compared whole.
  for (const char* keyword : {"ab", "xyz", "Wxyz", "klmno"})
    Keyword(keyword);
  struct Case {
    const char* text;
    const char* result;
  };
  const Case cases[] = {
      {"AB xyz wXYZ ab klmno KLMNO xy", "AB,ab,xyz,wXYZ,klmno,KLMNO"},
      {"ab", "ab"},
      {"klmn abx xyzw", ""},
      {"x klmno", "klmno"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const NOTEID body = Body({T(c.text)});
    ASSERT_EQ(Work(body,
                   [&](VelkoRTChunk* chunk) {
                     return chunk->KeywordMatching("", path_.c_str(), kView, kField, "",
                                                   "MinLength=2 SingleMatch=No");
                   }),
              NOERROR);
    EXPECT_EQ(result_, c.result);
  }
}

TEST_F(LinkMatchingTest, KeywordIsFoundAfterItsPiecesStoodOftenWithoutIt) {
  // Every four letters of the keyword stand many times without it, before
  // and between its places, in one record and the next.
  Keyword("abcdefg");
  std::string pieces;
  for (int i = 0; i < 40; ++i)
    pieces += "abcd bcde cdef defg ";
  const NOTEID body = Body({T("abcdefg " + pieces + "ABCDEFG"), T(pieces + "abcdefg")});
  ASSERT_EQ(Work(body,
                 [&](VelkoRTChunk* chunk) {
                   return chunk->KeywordMatching("", path_.c_str(), kView, kField, "",
                                                 "SingleMatch=No");
                 }),
            NOERROR);
  EXPECT_EQ(result_, "abcdefg,ABCDEFG,abcdefg");
}

} // namespace
