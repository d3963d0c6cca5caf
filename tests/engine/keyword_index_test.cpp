// The keyword filter of keyword matching (engine/keyword_index.h) against a
// plain search of every keyword at every byte: the keywords it names in a
// text are exactly those whose compared bytes (at most the first 80) stand
// there in any case, whatever window width and step the shortest keyword
// allows, in short texts and long ones, while keywords keep moving to
// other windows, and with keywords found under SingleMatch= left out once
// dropped.
#include <gtest/gtest.h>

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "engine/keyword_index.h"
#include "host/osmem.h"
#include "host/textlist.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "tests/support/test_fixture.h"

namespace {

using Keywords = std::vector<std::string>;

/* The keywords of the texts that a plain search finds, in running order. */
std::vector<DWORD> PlainSearch(const Keywords& keywords, const std::string& text,
                               const std::vector<char>& dropped) {
  std::vector<DWORD> found;
  for (DWORD k = 0; k < keywords.size(); ++k) {
    const size_t compared = std::min<size_t>(keywords[k].size(), 80);
    if (compared < 2 || compared > text.size() || dropped[k] != 0)
      continue;
    for (size_t start = 0; start + compared <= text.size(); ++start) {
      if (strncasecmp(text.data() + start, keywords[k].data(), compared) == 0) {
        found.push_back(k);
        break;
      }
    }
  }
  return found;
}

class KeywordIndexTest : public host_test::HostFixture {
protected:
  /* Texts of words and pieces of the keywords in any case, blanks between,
   * from a seed. */
  static std::string RandomText(const Keywords& keywords, unsigned* state) {
    auto next = [state](unsigned bound) {
      *state = *state * 1103515245u + 12345u;
      return (*state >> 16) % bound;
    };
    static const char* const kWords[] = {"rich ", "text ", "walk", "engine", " ", "q", "Tab"};
    std::string text;
    const unsigned pieces = next(12);
    for (unsigned piece = 0; piece < pieces; ++piece) {
      if (next(3) == 0) {
        text += kWords[next(sizeof kWords / sizeof kWords[0])];
        continue;
      }
      const std::string& keyword = keywords[next(static_cast<unsigned>(keywords.size()))];
      // The whole keyword, or its start or end: windows without the keyword.
      const size_t from = next(3) == 0 ? next(static_cast<unsigned>(keyword.size())) : 0;
      const size_t to = next(3) == 0 ? from + next(static_cast<unsigned>(keyword.size() - from) + 1)
                                     : keyword.size();
      for (size_t at = from; at < to; ++at)
        text += static_cast<char>(next(2) == 0 ? toupper(static_cast<unsigned char>(keyword[at]))
                                               : keyword[at]);
    }
    return text;
  }

  /* A keyword table of the keywords, nothing found yet, in lists of at
   * most `perList` keywords each. */
  static void FillTable(const Keywords& keywords, LSXLsiSession* session,
                        link_matching_info* table, size_t perList = SIZE_MAX) {
    DHANDLE list = NULLHANDLE;
    for (size_t k = 0; k < keywords.size(); ++k) {
      if (k % perList == 0) {
        ASSERT_LT(k / perList, size_t{kKeywordListHandles});
        ASSERT_EQ(ListAllocate(0, 60000, TRUE, &list, nullptr, nullptr), NOERROR);
        OSUnlockObject(list);
        table->keyword_lists[k / perList] = list;
      }
      ASSERT_EQ(ListAddEntry(list, TRUE, nullptr, static_cast<WORD>(k % perList),
                             keywords[k].data(), static_cast<WORD>(keywords[k].size())),
                NOERROR);
    }
    table->matched_words =
        static_cast<char*>(VelkoAllocatePtr(session, VELKO_HERE, keywords.size(), 1));
  }

  /* Every text found as the plain search finds it, over many texts. */
  void ExpectPlainSearch(const Keywords& keywords, const char* name,
                         size_t perList = SIZE_MAX) {
    LSXLsiSession session;
    link_matching_info table(&session);
    FillTable(keywords, &session, &table, perList);
    keyword_index* index = TableKeywordIndex(&table);
    ASSERT_NE(index, nullptr);
    StartKeywordWalk(index, &table);
    std::vector<char> dropped(keywords.size());
    unsigned state = 17;
    for (int round = 0; round < 3000; ++round) {
      if (round == 2000) {
        // Under SingleMatch= the keywords found so far are dropped.
        table.SingleMatch = 1;
        for (DWORD k = 0; k < keywords.size(); k += 2) {
          table.matched_words[k] = 1;
          dropped[k] = 1;
          DropFoundKeyword(index, k);
        }
      }
      // Every tenth text is long, as the text of a long paragraph is.
      std::string text = RandomText(keywords, &state);
      for (int more = 0; round % 10 == 0 && more < 30; ++more)
        text += RandomText(keywords, &state);
      ASSERT_EQ(KeywordsInText(index, table, text.data(), static_cast<DWORD>(text.size())),
                PlainSearch(keywords, text, dropped))
          << name << ", text \"" << text << "\"";
    }
  }
};

TEST_F(KeywordIndexTest, NamesWhatAPlainSearchFindsWhateverTheShortestKeyword) {
  const std::string longKeyword = std::string(85, 'x') + "long";
  struct Case {
    const char* name;
    Keywords keywords;
    size_t per_list = SIZE_MAX;
  } cases[] = {
      {"two bytes", {"ab", "walk", "Q9", "engine"}},
      {"three bytes", {"ich", "walk", "textqaa", "ENGINE"}},
      {"four bytes", {"walk", "textqaa", "textqab", "enginezz", "rich"}},
      {"five bytes", {"linear", "table", "chunkqab", "tableqac"}},
      {"six bytes", {"stored", "engine", "paragraph", "walker"}},
      {"seven bytes", {"textqaa", "richqab", "walkqac", "engineqa", longKeyword}},
      {"one byte among them", {"q", "walk", "textq", "engine"}},
      {"lists of two", {"textqaa", "ab", "richqab", "q", "walkqac", "engine", "tab"}, 2},
      {"lists of one", {"walk", "x", "textqaa", "ENGINE"}, 1},
  };
  for (const Case& test : cases)
    ExpectPlainSearch(test.keywords, test.name, test.per_list);
}

TEST_F(KeywordIndexTest, NamesWhatAPlainSearchFindsAmongManyKeywordsThatBeginAlike) {
  // Keywords that share their first bytes with words of the texts keep
  // standing where they do not: they move to other windows.
  Keywords keywords = {"walk", "engine"};
  static const char* const kStems[] = {"rich", "text", "walk", "engine", "tab"};
  for (int k = 0; k < 200; ++k)
    keywords.push_back(std::string(kStems[k % 5]) + static_cast<char>('q' + k / 10 % 10) +
                       static_cast<char>('a' + k % 10));
  ExpectPlainSearch(keywords, "many");
}

TEST_F(KeywordIndexTest, NamesWhatAPlainSearchFindsAsTheShortKeywordsAreFound) {
  // Found keywords drop out shortest first, so the windows widen and the
  // step grows within a walk; the next walk looks for them all again.
  const Keywords keywords = {"richqab", "ab",     "textqaab", "ich",     "walk",    "table",
                             "stored",  "walkqa", "engine",   "tableqac", "linearqaa"};
  LSXLsiSession session;
  link_matching_info table(&session);
  FillTable(keywords, &session, &table);
  table.SingleMatch = 1;
  keyword_index* index = TableKeywordIndex(&table);
  ASSERT_NE(index, nullptr);
  std::vector<DWORD> byLength(keywords.size());
  for (DWORD k = 0; k < byLength.size(); ++k)
    byLength[k] = k;
  std::stable_sort(byLength.begin(), byLength.end(),
                   [&](DWORD a, DWORD b) { return keywords[a].size() < keywords[b].size(); });
  unsigned state = 29;
  std::vector<std::pair<WORD, WORD>> windows;
  for (int walk = 0; walk < 2; ++walk) {
    std::fill(table.matched_words, table.matched_words + keywords.size(), 0);
    std::vector<char> dropped(keywords.size());
    StartKeywordWalk(index, &table);
    for (size_t found = 0; found <= byLength.size(); ++found) {
      if (walk == 0)
        windows.emplace_back(index->width, index->step);
      for (int round = 0; round < 300; ++round) {
        const std::string text = RandomText(keywords, &state);
        ASSERT_EQ(KeywordsInText(index, table, text.data(), static_cast<DWORD>(text.size())),
                  PlainSearch(keywords, text, dropped))
            << "walk " << walk << ", " << found << " found, text \"" << text << "\"";
      }
      if (found == byLength.size())
        break;
      const DWORD k = byLength[found];
      DropFoundKeyword(index, k);
      table.matched_words[k] = 1;
      dropped[k] = 1;
    }
  }
  // The windows did change as the keywords dropped out.
  windows.erase(std::unique(windows.begin(), windows.end()), windows.end());
  EXPECT_GE(windows.size(), 5u);
}

TEST_F(KeywordIndexTest, KeywordsDroppedLeaveTheFilterOfAWalkThatNeverLookedForThem) {
  // Dropping the short keywords files the rest under wider windows: the
  // filter is then cleared of the keywords linked before. A bit or a slot
  // left set would call for keywords that are not there.
  const Keywords keywords = {"walk",    "engine",   "stored",  "richqab", "textqaab",
                             "tableqac", "linearqaa", "ich",    "cellqba", "fontqca"};
  const DWORD dropped[] = {7, 0, 1, 2};
  LSXLsiSession session;
  link_matching_info never(&session);
  FillTable(keywords, &session, &never);
  never.SingleMatch = 1;
  for (const DWORD k : dropped)
    never.matched_words[k] = 1;
  keyword_index* expected = TableKeywordIndex(&never);
  ASSERT_NE(expected, nullptr);
  StartKeywordWalk(expected, &never);

  link_matching_info used(&session);
  FillTable(keywords, &session, &used);
  used.SingleMatch = 1;
  keyword_index* index = TableKeywordIndex(&used);
  ASSERT_NE(index, nullptr);
  for (int walk = 0; walk < 3; ++walk) {
    std::fill(used.matched_words, used.matched_words + keywords.size(), 0);
    StartKeywordWalk(index, &used);
    for (const DWORD k : dropped) {
      used.matched_words[k] = 1;
      DropFoundKeyword(index, k);
    }
    EXPECT_EQ(index->width, expected->width) << "walk " << walk;
    EXPECT_EQ(index->step, expected->step) << "walk " << walk;
    EXPECT_TRUE(index->live_bits == expected->live_bits) << "walk " << walk;
    EXPECT_TRUE(index->slot_first == expected->slot_first) << "walk " << walk;
  }
}

TEST_F(KeywordIndexTest, ATableBuiltAgainOfTheSameKeywordsTakesOverTheIndexOfTheLast) {
  // The index of a dropped table, its keywords moved to other windows by
  // the texts it scanned, serves the next table of the same keywords; a
  // table of other keywords makes its own.
  const Keywords first = {"walk", "engine", "richqab", "textqaab", "tableqac", "cellqba"};
  Keywords other = first;
  other[2] = "richqac";
  struct Case {
    const char* name;
    const Keywords* keywords;
    bool taken_over;
  } cases[] = {
      {"a first table", &first, false},
      {"the same keywords", &first, true},
      {"the same keywords again", &first, true},
      {"one keyword other", &other, false},
      {"the first keywords after others", &first, false},
  };
  LSXLsiSession session;
  unsigned state = 41;
  for (const Case& test : cases) {
    link_matching_info table(&session);
    FillTable(*test.keywords, &session, &table);
    keyword_index* index = TableKeywordIndex(&table);
    ASSERT_NE(index, nullptr) << test.name;
    // A fresh index has filed its keywords under no windows yet.
    EXPECT_EQ(!index->first_filings.empty(), test.taken_over) << test.name;
    StartKeywordWalk(index, &table);
    const std::vector<char> dropped(test.keywords->size());
    for (int round = 0; round < 500; ++round) {
      const std::string text = RandomText(*test.keywords, &state);
      ASSERT_EQ(KeywordsInText(index, table, text.data(), static_cast<DWORD>(text.size())),
                PlainSearch(*test.keywords, text, dropped))
          << test.name << ", text \"" << text << "\"";
    }
  }
}

} // namespace
