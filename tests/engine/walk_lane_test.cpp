// The lane of writing walks (records that the per-record step, the action's
// case and the emitter pass on unchanged) against the full per-record step:
// with the lane turned off (store/emitter_lane_testing.h) every record takes
// the full step, and each writing operation must store the same bytes,
// return the same status and show the same messages either way. Run over
// every body of the engine corpus and over random bodies, with the writing
// actions whose walks the lane serves, on chunks that stay open (Everything),
// chunks whose edges fall among records the lane takes and paragraphs it
// counts before the chunk opens; and over a
// cached body rebuilt by earlier writes, whose clean-up cannot rely on what
// its load found. AppendRTChunk's copies, whose lane moves the nodes of the
// source item it connects instead of copying them, are among the
// operations, into the body and into an empty item. Keyword matching,
// whose case lets the lane take the text runs it leaves, runs over the
// same bodies, and so do queries of a chunk's records, which count the
// records behind a chunk that stays open instead of stepping through them.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cdbuild/cd_script.h"
#include "host/host_testing.h"
#include "host/nsfnote.h"
#include "store/emitter_lane_testing.h"
#include "store/vocabulary.h"
#include "tests/support/note_fixture.h"
#include "tests/support/test_fixture.h"

namespace {

using engine_test::EngineTest;
using engine_test::Paragraph;
using engine_test::Records;
using engine_test::Text;
using Bytes = std::vector<BYTE>;

/* Appends the chunk of the given definition of the chunk's own item (its
 * range found by a query first) behind the chunk, with the id base. */
STATUS AppendOwnChunk(VelkoRTChunk* chunk, const char* definition, WORD base) {
  VelkoRTChunk* source = chunk->item->DefineChunk(definition);
  if (source == nullptr)
    return VELKO_ERR_FAILED;
  source->AlterRichText(ACTION_QUERY_RECORDS, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  return chunk->AlterRichText(ACTION_APPEND_RTCHUNK, base, 0, 0, 0, nullptr, nullptr, nullptr,
                              source);
}

/* The database and note ID of a stored copy of the body that RunOnce
 * makes for each operation: AppendRTChunk connects an item of its own to
 * it, whose records the copy may move instead of copying. */
const char* stored_database = nullptr;
NOTEID stored_copy = 0;

/* AppendRTChunk of the stored copy's chunk of the definition; flag 1 keeps
 * the source's paragraph ids, flag 0 moves them past the target's. */
STATUS AppendStoredChunk(VelkoRTChunk* chunk, const char* definition, int flag) {
  return chunk->AppendRTChunk("", stored_database, stored_copy, "Body", definition, flag);
}

/* One writing operation: the chunk, the action (0: the chunk's Remove),
 * s1, and item switches; the chunk's item holds the body, or only an empty
 * text run. */
struct operation {
  const char* name;
  const char* definition;
  WORD action;
  const char* s1 = nullptr;
  bool auto_merge = false;
  STATUS (*method)(VelkoRTChunk*) = nullptr; /* instead of the action */
  bool empty_target = false;
};

const operation kOperations[] = {
    {"cleanup", "Everything", ACTION_CLEANUP_TEXT_RUNS},
    {"cleanup merging", "Everything", ACTION_CLEANUP_TEXT_RUNS, nullptr, true},
    {"cleanup of a paragraph", "Paragraph 2", ACTION_CLEANUP_TEXT_RUNS},
    {"append at end", "Everything", ACTION_APPEND_TEXT, "tail"},
    {"append to a paragraph", "Paragraph 2", ACTION_APPEND_TEXT, "tail"},
    {"change paragraphs", "Everything", ACTION_CHANGE_PARAGRAPH, "Justify=Center Below=1.5"},
    {"change one paragraph", "Paragraph 2", ACTION_CHANGE_PARAGRAPH, "Justify=Right"},
    {"remove a paragraph", "Paragraph 2", 0},
    {"remove a table", "Table 1", 0},
    {"remove the rest", "After Paragraph 1", 0},
    {"remove a later paragraph", "Paragraph 3", 0},
    {"remove paragraphs", "Paragraph 2-3", 0},
    // Paragraphs chosen by index alone are counted by the lane up to the
    // chosen one: after tables and references, past the body's last, by
    // several indexes, and as a list; a paragraph chosen by its text is not.
    {"remove a fifth paragraph", "Paragraph 5", 0},
    {"remove a paragraph past the last", "Paragraph 60", 0},
    {"remove paragraphs by two indexes", "Paragraph 2,4-5", 0},
    {"change a paragraph of a list", "ParagraphList 4", ACTION_CHANGE_PARAGRAPH, "Justify=Right"},
    {"remove a paragraph by its text", "Paragraph 'three'", 0},
    {"remove a text run", "Text 2", 0},
    {"remove a matched text", "Text 'three'", 0},
    {"remove nonblank text", "NonBlankText 2", 0},
    {"remove inside a table", "Inside Table 1", 0},
    {"remove a second table", "Table 2", 0},
    {"change paragraphs of a table", "Table 1", ACTION_CHANGE_PARAGRAPH, "Justify=Right"},
    // Open for good after a table, the lane counts the later tables it
    // takes, which the paragraphs of their cells are changed by.
    {"change paragraphs after a table", "After Table 1", ACTION_CHANGE_PARAGRAPH, "Justify=Right"},
    {"change a later paragraph", "Paragraph 3", ACTION_CHANGE_PARAGRAPH, "Below=2"},
    {"cleanup of a font run", "StylizedText 2", ACTION_CLEANUP_TEXT_RUNS},
    {"append in a cell", "Table 1; Row 2; Column 1", ACTION_APPEND_TEXT, "tail"},
    {"cleanup of a cell", "Table 1; Row 1; Column 2", ACTION_CLEANUP_TEXT_RUNS},
    {"change font", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return chunk->ChangeFont("+BOLD 12pt", nullptr, 1); }},
    {"change font of a paragraph", "Paragraph 2", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return chunk->ChangeFont("Courier", "Helvetica", 0); }},
    {"highlight", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return chunk->Highlight(1); }},
    {"highlight text", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return chunk->HighlightText("o", 0); }},
    {"replace text everywhere", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return chunk->ReplaceTextQuick("o", 1, "0", 1, "EVERYTHING"); }},
    {"replace text of a paragraph", "Paragraph 2", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return chunk->ReplaceTextQuick("t", 1, "T", 1, "TEXT"); }},
    // Done twice, the second walk meets text runs already as the first
    // left them, which the lane may take without the case rebuilding them.
    {"change font twice", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) {
       const STATUS first = chunk->ChangeFont("+BOLD 12pt", nullptr, 1);
       return first != NOERROR ? first : chunk->ChangeFont("+BOLD 12pt", nullptr, 1);
     }},
    {"change font to one some runs have", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return chunk->ChangeFont("14pt", nullptr, 1); }},
    // Lone runs whose new font needs a colour envelope or a text effect
    // are rebuilt; those the filter font does not pass stay as they are.
    {"change font to a colour", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return chunk->ChangeFont("#FF0000 12pt", nullptr, 1); }},
    {"change font to an effect", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return chunk->ChangeFont("+SHADOW", nullptr, 1); }},
    {"change font of the runs the filter passes", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return chunk->ChangeFont("+BOLD 12pt", "+ITALIC", 1); }},
    {"highlight of the runs the filter passes", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return chunk->ChangeFont("+BOLD", "12pt", 0); }},
    // On a cached body the second change walks what the first built, and
    // neither may touch the records it walks.
    {"change font of a cached body twice", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) {
       chunk->item->CacheRecords = 1;
       STATUS status = chunk->ChangeFont("+ITALIC 14pt", "+BOLD", 1);
       if (status == NOERROR)
         status = chunk->ChangeFont("Courier 9pt", nullptr, 1);
       return status != NOERROR ? status : chunk->item->Commit();
     }},
    {"highlight twice", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) {
       const STATUS first = chunk->Highlight(1);
       return first != NOERROR ? first : chunk->Highlight(1);
     }},
    {"highlight text twice", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) {
       const STATUS first = chunk->HighlightText("o", 0);
       return first != NOERROR ? first : chunk->HighlightText("o", 0);
     }},
    {"replace text twice", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) {
       const STATUS first = chunk->ReplaceTextQuick("o", 1, "O", 1, "TEXT");
       return first != NOERROR ? first : chunk->ReplaceTextQuick("o", 1, "O", 1, "TEXT");
     }},
    {"replace whole runs by themselves", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return chunk->ReplaceTextQuick("three", 5, "three", 5, "TEXT"); }},
    {"replace whole runs by other case", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return chunk->ReplaceTextQuick("three", 5, "Three", 5, "TEXT"); }},
    {"replace outside text runs", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return chunk->ReplaceTextQuick("o", 1, "0", 1, "NONTEXT"); }},
    {"append the item to itself", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return AppendOwnChunk(chunk, "Everything", 0); }},
    {"append the item to itself, ids moved", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return AppendOwnChunk(chunk, "Everything", 4); }},
    {"append a paragraph to itself", "Paragraph 2", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return AppendOwnChunk(chunk, "Paragraph 2", 0); }},
    {"append a table into a paragraph", "Paragraph 1", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return AppendOwnChunk(chunk, "Table 1", 2); }},
    {"copy the item into an empty one", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return AppendStoredChunk(chunk, "Everything", 0); }, true},
    {"copy the item into an empty one, ids kept", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return AppendStoredChunk(chunk, "Everything", 1); }, true},
    {"copy the item behind itself", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return AppendStoredChunk(chunk, "Everything", 0); }},
    {"copy the item behind itself, ids kept", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return AppendStoredChunk(chunk, "Everything", 1); }},
    {"copy paragraphs into a paragraph", "Paragraph 1", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return AppendStoredChunk(chunk, "Paragraph 2-3", 1); }},
    {"copy a table in", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return AppendStoredChunk(chunk, "Table 1", 1); }, true},
    {"copy a cell into a cell", "Table 1; Row 1; Column 2", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return AppendStoredChunk(chunk, "Table 1; Row 2; Column 1", 1); }},
};

struct outcome {
  STATUS status = 0;
  std::vector<Bytes> values;
  std::vector<HostTestMessage> messages;
  /* What a walk leaves besides the body: the item's modified flag, the
   * last match kept and the default text header. */
  WORD modified = 0;
  std::string kept;
  Bytes default_header;
};

/* One keyword matching (LinkMatching): the chunk, the options and
 * AutoMergeText. */
struct matching {
  const char* name;
  const char* definition;
  const char* options;
  bool auto_merge = false;
};

const matching kMatchings[] = {
    {"link matching", "Everything", "MinLength=2"},
    {"link matching once, substrings", "Everything", "MinLength=2 SingleMatch=Yes MatchText=Substr",
     true},
    {"link matching of a paragraph", "Paragraph 2", "MatchText=Starts"},
    {"link matching of a table", "Table 1", "MinLength=1 MatchText=Ends ReplaceExtra=Yes"},
};

/* The keywords: words of the test bodies, and words that begin like them. */
constexpr const char* kKeywords[] = {"one", "three", "in", "text", "four", "c", "onex", "thr", "two"};

/* Action 1 (the chunk's first and last record, its existence) asked of
 * chunks that stay open to the end (Everything, After, Start With) and of
 * chunks that close; a query that counts the records behind a chunk open
 * for good must answer as the per-record step does, and leave the item's
 * current text header where the step leaves it, on a body its walk loaded
 * (counted from the load's last node) and on one loaded before (whose
 * nodes are counted one by one). */
struct query {
  const char* definition;
  WORD p1;
};

const query kQueries[] = {
    {"Everything", 0},
    {"Everything", PROP_LASTRECORD},
    {"Everything", PROP_EXISTS},
    {"Everything", PROP_FIRSTRECORD},
    {"After Paragraph 1", 0},
    {"After Table 1", PROP_LASTRECORD},
    {"Start With Paragraph 2", 0},
    {"Start With Text 2", PROP_LASTRECORD},
    {"Paragraph 2", 0},
    {"Table 1", PROP_LASTRECORD},
    {"Text 3", 0},
};

struct query_answer {
  STATUS status = 0;
  DWORD first = 0;
  DWORD last = 0;
  Bytes text_header;
  bool operator==(const query_answer&) const = default;
};

/* The answers of the first query, which loads the body, and of the same
 * query asked again of the records the first loaded. */
using query_answers = std::pair<query_answer, query_answer>;

class WalkLaneTest : public EngineTest {
protected:
  void TearDown() override {
    VelkoTestSetEmitterLane(true);
    EngineTest::TearDown();
  }

  /* The operation on a fresh note of the body, with the lane on or off. */
  outcome RunOnce(const cdbuild::Body& body, const operation& op, bool lane) {
    Restart();
    stored_database = kDbPath;
    stored_copy = note_testing::StoreNoteWith(
        db_, [&body](NOTEHANDLE note) { return body.AppendItems(note, "Body"); });
    EXPECT_NE(stored_copy, 0u);
    if (op.empty_target)
      AppendItem({Text("")});
    else
      EXPECT_EQ(body.AppendItems(note_, "Body"), NOERROR);
    VelkoTestSetEmitterLane(lane);
    Connect();
    item_->AutoMergeText = op.auto_merge ? 1 : 0;
    VelkoRTChunk* chunk = item_->DefineChunk(op.definition);
    outcome result;
    if (chunk == nullptr)
      return result;
    result.status = op.method != nullptr ? op.method(chunk)
                    : op.action == 0     ? chunk->Remove()
                                   : chunk->AlterRichText(op.action, 0, 0, 0, 0, op.s1, nullptr,
                                                          nullptr, nullptr);
    result.values = Values();
    result.messages = HostTestMessages();
    result.modified = static_cast<WORD>(item_->Modified);
    result.kept = session_->scratch_first;
    const BYTE* header = item_->internal->default_text_header;
    result.default_header.assign(header, header + sizeof item_->internal->default_text_header);
    VelkoTestSetEmitterLane(true);
    return result;
  }

  /* The keyword matching on a new note of the body in the test's
   * database, in a session of its own, with the lane on or off. */
  outcome MatchOnce(const cdbuild::Body& body, const matching& match, bool lane) {
    outcome result;
    NOTEHANDLE note = NULLHANDLE;
    EXPECT_EQ(NSFNoteCreate(db_, &note), NOERROR);
    EXPECT_EQ(body.AppendItems(note, "Body"), NOERROR);
    HostTestClearMessages();
    VelkoTestSetEmitterLane(lane);
    {
      LSXLsiSession session;
      VelkoRTItem item(&session);
      EXPECT_EQ(item.ConnectBackend(note, "Body", 0), NOERROR);
      item.AutoMergeText = match.auto_merge ? 1 : 0;
      VelkoRTChunk* chunk = item.DefineChunk(match.definition);
      if (chunk != nullptr)
        result.status = chunk->LinkMatching("", kDbPath, "Keywords", "Keyword", nullptr,
                                            match.options, ACTION_LINK_MATCHING);
    }
    VelkoTestSetEmitterLane(true);
    result.values = note_testing::ItemValues(note, "Body");
    result.messages = HostTestMessages();
    NSFNoteClose(note);
    return result;
  }

  /* Action 1 of the chunk: its status, the found words and the item's
   * current text header. */
  query_answer Ask(VelkoRTChunk* chunk, WORD p1) {
    query_answer answer;
    session_->internal->found_first = 0;
    session_->internal->found_second = 0;
    answer.status = Run(chunk, ACTION_QUERY_RECORDS, p1);
    answer.first = session_->internal->found_first;
    answer.last = session_->internal->found_second;
    const BYTE* header = item_->internal->current_text_header;
    answer.text_header.assign(header, header + sizeof item_->internal->current_text_header);
    return answer;
  }

  /* The query, twice, on a fresh note of the body, with the lane on or
   * off. */
  query_answers AskOnce(const cdbuild::Body& body, const query& q, bool lane) {
    Restart();
    EXPECT_EQ(body.AppendItems(note_, "Body"), NOERROR);
    VelkoTestSetEmitterLane(lane);
    Connect();
    query_answers answers;
    if (VelkoRTChunk* chunk = item_->DefineChunk(q.definition); chunk != nullptr) {
      answers.first = Ask(chunk, q.p1);
      EXPECT_NE(item_->internal->input, nullptr);
      answers.second = Ask(chunk, q.p1);
    }
    VelkoTestSetEmitterLane(true);
    return answers;
  }

  void ExpectSameAnswers(const cdbuild::Body& body, const std::string& what) {
    for (const query& q : kQueries) {
      const query_answers full = AskOnce(body, q, false);
      const query_answers lane = AskOnce(body, q, true);
      EXPECT_TRUE(lane.first == full.first)
          << what << ": " << q.definition << " p1 " << q.p1 << ": " << lane.first.first << "-"
          << lane.first.last << " against " << full.first.first << "-" << full.first.last;
      EXPECT_TRUE(lane.second == full.second)
          << what << ": " << q.definition << " p1 " << q.p1 << ", asked again: "
          << lane.second.first << "-" << lane.second.last << " against " << full.second.first
          << "-" << full.second.last;
    }
  }

  /* Each of the operations on the body gives the same outcome with and
   * without the lane. */
  template <size_t Count>
  void ExpectSameOperationOutcomes(const cdbuild::Body& body, const operation (&ops)[Count],
                                   const std::string& what) {
    for (const operation& op : ops) {
      const outcome full = RunOnce(body, op, false);
      const outcome lane = RunOnce(body, op, true);
      EXPECT_EQ(lane.status, full.status) << what << ": " << op.name;
      EXPECT_TRUE(lane.values == full.values) << what << ": " << op.name;
      EXPECT_TRUE(lane.messages == full.messages) << what << ": " << op.name;
      EXPECT_EQ(lane.modified, full.modified) << what << ": " << op.name;
      EXPECT_EQ(lane.kept, full.kept) << what << ": " << op.name;
      EXPECT_TRUE(lane.default_header == full.default_header) << what << ": " << op.name;
    }
  }

  /* Every operation on the body gives the same outcome with and without
   * the lane; so does every keyword matching, both runs linking to the
   * same keyword documents. */
  void ExpectSameOutcomes(const cdbuild::Body& body, const std::string& what) {
    ExpectSameOperationOutcomes(body, kOperations, what);
    Restart();
    ASSERT_EQ(HostTestCreateView(db_, "Keywords", "SELECT Form = \"Keyword\"", nullptr, 0,
                                 nullptr),
              NOERROR);
    for (const char* word : kKeywords) {
      ASSERT_NE(note_testing::StoreNoteWith(db_, [&](NOTEHANDLE note) {
                  STATUS status = NSFItemSetText(note, "Form", "Keyword", 7);
                  if (status == NOERROR)
                    status = NSFItemSetText(note, "Keyword", word, static_cast<WORD>(strlen(word)));
                  return status;
                }),
                0u);
    }
    for (const matching& match : kMatchings) {
      const outcome full = MatchOnce(body, match, false);
      const outcome lane = MatchOnce(body, match, true);
      EXPECT_EQ(lane.status, full.status) << what << ": " << match.name;
      EXPECT_TRUE(lane.values == full.values) << what << ": " << match.name;
      EXPECT_TRUE(lane.messages == full.messages) << what << ": " << match.name;
    }
  }
};

/* The record script of a corpus case: its lines up to its first run, the
 * comments left out. */
std::string CaseBody(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string script;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("---", 0) == 0)
      break;
    if (!line.empty() && line[0] != '#')
      script += line + "\n";
  }
  return script;
}

/* Each body of the engine corpus, with its case file's name. */
template <typename Check> void ForEachCorpusBody(Check check) {
  const std::filesystem::path corpus = VELKO_ENGINE_CORPUS_DIR;
  int bodies = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    if (entry.path().extension() != ".case")
      continue;
    cdbuild::Body body;
    cdbuild::ScriptError error;
    ASSERT_TRUE(cdbuild::BuildScript(CaseBody(entry.path()), &body, &error))
        << entry.path() << ":" << error.line << " " << error.message;
    check(body, entry.path().filename().string());
    ++bodies;
  }
  EXPECT_GT(bodies, 40);
}

TEST_F(WalkLaneTest, CorpusBodiesAreWrittenAlikeWithAndWithoutTheLane) {
  ForEachCorpusBody([this](const cdbuild::Body& body, const std::string& name) {
    ExpectSameOutcomes(body, name);
  });
}

TEST_F(WalkLaneTest, CorpusBodiesAreQueriedAlikeWithAndWithoutTheLane) {
  ForEachCorpusBody([this](const cdbuild::Body& body, const std::string& name) {
    ExpectSameAnswers(body, name);
  });
}

/* Random bodies of the records the lane takes and those that stop it:
 * references in a row and without an id, empty text runs, text in another
 * font before a closing paragraph (whose font the final empty run takes),
 * text and other brackets, pass-through markers, definitions, tables,
 * hotspots (links, nested file hotspots) and resources between them. */
std::string RandomScript(unsigned seed) {
  unsigned state = seed * 2654435761u + 1;
  auto next = [&state](unsigned bound) {
    state = state * 1103515245u + 12345u;
    return (state >> 16) % bound;
  };
  static const char* const kPieces[] = {
      "PARAGRAPH\nPABREF id=1\nTEXT text=\"one two\"\n",
      "PABREF id=2\n",
      "PABREF id=0\n",
      "TEXT text=\"three\"\n",
      "TEXT face=4 size=14 text=\"four\"\nPARAGRAPH\n",
      "TEXT text=\"\"\n",
      "PARAGRAPH\n",
      "PABDEF id=2 flags=0x0100 left=720 ext=720,0,720,0,0,100\n",
      "BEGIN sig=TEXT\nTEXT text=\"\"\nEND sig=TEXT\n",
      "BEGIN sig=TEXT\nTEXT text=\"in\"\nCOLOR\nEND sig=TEXT\n",
      "HTMLBEGIN\nTEXT text=\"<b>\"\nHTMLEND\n",
      "HTMLBEGIN\n",
      "HTMLEND\n",
      "TABLEBEGIN\nTABLECELL row=0 column=0\nPABREF id=1\nTEXT text=\"c\"\n"
      "TABLECELL row=0 column=1\nPABREF id=2\nPABREF id=1\nTEXT text=\"d\"\nTABLEEND\n",
      "HOTSPOTBEGIN type=3\nTEXT text=\"h\"\nHOTSPOTEND\n",
      "COLOR\n",
      "HOTSPOTBEGIN type=12 sig=V4HOTSPOTBEGIN\nTEXT text=\"link\"\nHOTSPOTEND sig=V4HOTSPOTEND\n",
      "HOTSPOTBEGIN type=4\nHOTSPOTBEGIN type=4 sig=V4HOTSPOTBEGIN\nTEXT text=\"f\"\n"
      "HOTSPOTBEGIN type=4\n",
      "RESOURCE type=1\nRESOURCE type=3 sig=0xFF78\n",
      "BEGIN sig=GRAPHIC\nEND sig=GRAPHIC\n",
      "END sig=TEXT\n",
  };
  constexpr unsigned kPieceCount = sizeof kPieces / sizeof kPieces[0];
  std::string script = "PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100\n";
  const unsigned pieces = 3 + next(25);
  for (unsigned piece = 0; piece < pieces; ++piece)
    script += kPieces[next(kPieceCount)];
  return script;
}

/* Random bodies of tables: cells in the rows the emitter counts and in
 * others it renumbers, a second row, nested tables, a table after a
 * pre-table record, references before and after cells, and the cells it
 * refuses (outside a table, beyond the last column). */
std::string RandomTableScript(unsigned seed) {
  unsigned state = seed * 2246822519u + 7;
  auto next = [&state](unsigned bound) {
    state = state * 1103515245u + 12345u;
    return (state >> 16) % bound;
  };
  static const char* const kPieces[] = {
      "TABLEBEGIN\nTABLECELL row=0 column=0\nPABREF id=1\nTEXT text=\"a\"\n"
      "TABLECELL row=0 column=1\nTEXT text=\"b\"\nPABREF id=2\n"
      "TABLECELL row=1 column=0\nPABREF id=2\nTEXT text=\"c\"\n"
      "TABLECELL row=1 column=1\nTEXT text=\"d\"\nTABLEEND\n",
      "TABLEBEGIN\nTABLECELL row=3 column=0\nTEXT text=\"e\"\n"
      "TABLECELL row=0 column=1\nTEXT text=\"f\"\nTABLECELL row=0 column=0\nTABLEEND\n",
      "TABLEBEGIN\nTABLECELL row=0 column=0\nTEXT text=\"g\"\n"
      "TABLEBEGIN nested=yes\nTABLECELL nested=yes row=0 column=0\nPABREF id=2\nTEXT text=\"h\"\n"
      "TABLECELL nested=yes row=1 column=0\nTABLEEND nested=yes\n"
      "TABLECELL row=0 column=1\nPABREF id=1\nTABLEEND\n",
      "PRETABLEBEGIN\nTABLEBEGIN\nTABLECELL row=0 column=0\nTEXT text=\"i\"\n"
      "TABLECELL row=0 column=2 colspan=2\nTABLEEND\n",
      "TABLEBEGIN\nTABLECELL row=0 column=0 flags=0x04\nPABDEF id=2 left=720\nPABREF id=2\n"
      "TEXT text=\"j\"\nTABLECELL row=1 column=0 v42border=0x1234 flags=0x02\nTABLEEND\n",
      "TABLECELL row=0 column=0\n",
      "TABLEBEGIN\nTABLECELL row=0 column=70\nTABLEEND\n",
      "PARAGRAPH\nPABREF id=1\nTEXT text=\"k\"\n",
      "TEXT text=\"\"\n",
  };
  constexpr unsigned kPieceCount = sizeof kPieces / sizeof kPieces[0];
  std::string script = "PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100\n"
                       "PABDEF id=2 flags=0x0100 left=360\n";
  const unsigned pieces = 2 + next(8);
  for (unsigned piece = 0; piece < pieces; ++piece)
    script += kPieces[next(kPieceCount)];
  return script;
}

TEST_F(WalkLaneTest, RandomTablesAreWrittenAlikeWithAndWithoutTheLane) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    const std::string script = RandomTableScript(seed);
    cdbuild::Body body;
    cdbuild::ScriptError error;
    ASSERT_TRUE(cdbuild::BuildScript(script, &body, &error))
        << error.line << ": " << error.message << "\n" << script;
    ExpectSameOutcomes(body, "seed " + std::to_string(seed) + ":\n" + script);
  }
}

TEST_F(WalkLaneTest, RandomBodiesAreQueriedAlikeWithAndWithoutTheLane) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    for (const std::string& script : {RandomScript(seed), RandomTableScript(seed)}) {
      cdbuild::Body body;
      cdbuild::ScriptError error;
      ASSERT_TRUE(cdbuild::BuildScript(script, &body, &error)) << script;
      ExpectSameAnswers(body, "seed " + std::to_string(seed) + ":\n" + script);
    }
  }
}

/* What follows a table begin in the middle of records the lane takes:
 * a first cell the emitter leaves as it is, one whose row it renumbers,
 * one of a later column, a nested table's cell, cells it refuses, and
 * records other than cells, which fail the write either way. */
TEST_F(WalkLaneTest, FirstCellsOfTablesAreWrittenAlike) {
  static const char* const kStarts[] = {
      "TABLECELL row=0 column=0\n",
      "TABLECELL row=2 column=0\n",
      "TABLECELL row=0 column=1\n",
      "TABLECELL nested=yes row=0 column=0\n",
      "TABLECELL row=0 column=70\n",
      "TABLEBEGIN nested=yes\nTABLECELL nested=yes row=0 column=0\nTABLEEND nested=yes\n"
      "TABLECELL row=0 column=0\n",
      "PABREF id=1\nTABLECELL row=0 column=0\n",
      "TEXT text=\"x\"\nTABLECELL row=0 column=0\n",
      "PARAGRAPH\nTABLECELL row=0 column=0\n",
  };
  for (const char* start : kStarts) {
    const std::string script =
        std::string("PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100\nPARAGRAPH\nPABREF id=1\n"
                    "TEXT text=\"one two\"\nTABLEBEGIN\n") +
        start +
        "PABREF id=1\nTEXT text=\"c\"\nTABLECELL row=0 column=1\nTEXT text=\"d\"\nTABLEEND\n"
        "PARAGRAPH\nPABREF id=1\nTEXT text=\"three\"\n";
    cdbuild::Body body;
    cdbuild::ScriptError error;
    ASSERT_TRUE(cdbuild::BuildScript(script, &body, &error))
        << error.line << ": " << error.message << "\n" << script;
    ExpectSameOutcomes(body, script);
  }
}

TEST_F(WalkLaneTest, RandomBodiesAreWrittenAlikeWithAndWithoutTheLane) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    const std::string script = RandomScript(seed);
    cdbuild::Body body;
    cdbuild::ScriptError error;
    ASSERT_TRUE(cdbuild::BuildScript(script, &body, &error)) << script;
    ExpectSameOutcomes(body, "seed " + std::to_string(seed) + ":\n" + script);
  }
}

/* Text records that are runs of their own, whole matches of the search
 * texts above, in fonts the operations leave as they are and in fonts they
 * change (an effect attribute needs a text effect record), one after the
 * other in either order. */
TEST_F(WalkLaneTest, LoneRunsOfSeveralFontsAreWrittenAlike) {
  const std::string start = "PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100\nPARAGRAPH\n"
                            "PABREF id=1\n";
  const std::string plain = "TEXT text=\"o\"\nTEXT text=\"three\"\n";
  const std::string changed = "TEXT attributes=0x80 text=\"o\"\n"
                              "TEXT face=4 size=14 attributes=0x90 text=\"three\"\n";
  for (const std::string& script : {start + plain + changed + plain, start + changed + plain}) {
    cdbuild::Body body;
    cdbuild::ScriptError error;
    ASSERT_TRUE(cdbuild::BuildScript(script, &body, &error)) << error.message << "\n" << script;
    ExpectSameOutcomes(body, script);
  }
}

/* A body long enough that the lane's runs carve their nodes from several
 * spare pieces in turn (some 100 nodes a piece), with a text run longer
 * than a piece between them. */
std::string LongScript() {
  std::string script = "PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100\n";
  for (int paragraph = 0; paragraph < 150; ++paragraph) {
    script += "PARAGRAPH\nPABREF id=1\nTEXT text=\"one two\"\nCOLOR\nTEXT text=\"three\"\n";
    if (paragraph == 70)
      script += "TEXT text=\"" + std::string(5000, 'x') + "\"\n";
  }
  return script;
}

TEST_F(WalkLaneTest, LongBodiesAreWrittenAlikeWithAndWithoutTheLane) {
  cdbuild::Body body;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript(LongScript(), &body, &error))
      << error.line << ": " << error.message;
  ExpectSameOutcomes(body, "long body");
}

/* Tables enough for the lane's cells, references and text runs to run
 * past several spare pieces, in the runs it takes and in the stretches it
 * copies once the chunk opens. */
TEST_F(WalkLaneTest, LongTablesAreWrittenAlikeWithAndWithoutTheLane) {
  std::string script = "PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100\n";
  for (int table = 0; table < 40; ++table) {
    script += "PARAGRAPH\nPABREF id=1\nTEXT text=\"before\"\nTABLEBEGIN\n";
    for (int row = 0; row < 3; ++row)
      for (int column = 0; column < 3; ++column)
        script += "TABLECELL row=" + std::to_string(row) + " column=" + std::to_string(column) +
                  "\nPABREF id=1\nTEXT text=\"cell\"\n";
    script += "TABLEEND\n";
  }
  script += "PARAGRAPH\nPABREF id=1\nTEXT text=\"after\"\n";
  cdbuild::Body body;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript(script, &body, &error)) << error.line << ": " << error.message;
  ExpectSameOutcomes(body, "long tables");
}

/* A cached body rebuilt by an earlier write is copied record by record, not
 * pointed at: its second write, over a body long enough for several spare
 * pieces and a record longer than one, stores the same bytes either way. */
TEST_F(WalkLaneTest, ARebuiltBodyIsCopiedAlikeWithAndWithoutTheLane) {
  cdbuild::Body body;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript(LongScript(), &body, &error))
      << error.line << ": " << error.message;
  std::vector<Bytes> stored[2];
  for (const bool lane : {false, true}) {
    Restart();
    ASSERT_EQ(body.AppendItems(note_, "Body"), NOERROR);
    VelkoTestSetEmitterLane(lane);
    Connect();
    item_->CacheRecords = 1;
    VelkoRTChunk* chunk = Chunk("Everything");
    ASSERT_NE(chunk, nullptr);
    ASSERT_EQ(chunk->AlterRichText(ACTION_CLEANUP_TEXT_RUNS, 0, 0, 0, 0, nullptr, nullptr,
                                   nullptr, nullptr),
              NOERROR);
    ASSERT_EQ(chunk->AlterRichText(ACTION_APPEND_TEXT, 0, 0, 0, 0, "tail", nullptr, nullptr,
                                   nullptr),
              NOERROR);
    ASSERT_EQ(item_->Commit(), NOERROR);
    stored[lane ? 1 : 0] = Values();
    VelkoTestSetEmitterLane(true);
  }
  EXPECT_FALSE(stored[0].empty());
  EXPECT_TRUE(stored[0] == stored[1]);
}

/* Lone text runs in many fonts, each met again further on: the answer the
 * walk keeps for a font must be that font's, whatever font came before,
 * and a run changed in its font alone keeps its text. */
TEST_F(WalkLaneTest, LoneRunsOfManyFontsAreWrittenAlike) {
  static const char* const kAttributes[] = {"0", "1", "2", "3", "4", "0x80"};
  unsigned state = 77;
  auto next = [&state](unsigned bound) {
    state = state * 1103515245u + 12345u;
    return (state >> 16) % bound;
  };
  std::string script = "PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100\nPARAGRAPH\n"
                       "PABREF id=1\n";
  for (int run = 0; run < 160; ++run) {
    script += "TEXT face=" + std::to_string(next(6)) + " size=" + std::to_string(9 + next(6)) +
              " color=" + std::to_string(next(4)) + " attributes=" + kAttributes[next(6)] +
              " text=\"three " + std::to_string(run) + "\"\n";
    if (next(8) == 0)
      script += "PARAGRAPH\nPABREF id=1\n";
  }
  cdbuild::Body body;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript(script, &body, &error)) << error.message << "\n" << script;
  ExpectSameOutcomes(body, "runs of many fonts");
}

/* Replacing and highlighting in text records that are runs of their own,
 * with matches at their start, inside, at their end, side by side and
 * throughout, in fonts the matches keep and in fonts they change (one
 * with an effect attribute needs a text effect record, a colour an
 * envelope); the replacement longer, shorter or empty; the search under
 * the chunk's switches; in a cell, an envelope, a second paragraph and a
 * run longer than the lane's spare pieces. */
STATUS ReplaceWalk(VelkoRTChunk* chunk, const char* find, const char* replacement) {
  return chunk->ReplaceTextQuick(find, static_cast<WORD>(strlen(find)), replacement,
                                 static_cast<WORD>(strlen(replacement)), "TEXT");
}

/* ReplaceWalk of "walk" by "Walk" with the item's permanent pen on, in
 * the font given (null: the pen's own). */
STATUS ReplaceWithPen(VelkoRTChunk* chunk, const char* font) {
  if (font != nullptr) {
    EXPECT_EQ(chunk->item->SetPropertyText("PermanentPenFont", font, 0), 1);
  }
  chunk->item->PermanentPen = 1;
  return ReplaceWalk(chunk, "walk", "Walk");
}

const operation kSplitOperations[] = {
    {"replaced by other case", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return ReplaceWalk(chunk, "walk", "Walk"); }},
    {"replaced by a longer text", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return ReplaceWalk(chunk, "walk", "stroll along"); }},
    {"replaced by a shorter text", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return ReplaceWalk(chunk, "walk", "w"); }},
    {"replaced by nothing", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return ReplaceWalk(chunk, "walk", ""); }},
    {"a single byte replaced", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return ReplaceWalk(chunk, "a", "A"); }},
    {"replaced in one paragraph", "Paragraph 2", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return ReplaceWalk(chunk, "walk", "Walk"); }},
    {"replaced with case", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) {
       chunk->CaseSensitive = 1;
       return ReplaceWalk(chunk, "Walk", "run");
     }},
    {"replaced at word boundaries", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) {
       chunk->SearchWordBoundaries = 1;
       return ReplaceWalk(chunk, "walk", "Walk");
     }},
    {"replaced with wildcards", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) {
       chunk->TextWildcards = 1;
       return ReplaceWalk(chunk, "w?l*s", "Walks");
     }},
    {"replaced twice", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) {
       const STATUS first = ReplaceWalk(chunk, "walk", "talk");
       return first != NOERROR ? first : ReplaceWalk(chunk, "talk", "walk");
     }},
    {"replaced in the pen's font", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) {
       return ReplaceWithPen(chunk, "Courier");
     }},
    {"replaced in the pen's font with an effect", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) {
       return ReplaceWithPen(chunk, "+SHADOW");
     }},
    {"replaced in the pen's own font", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) {
       return ReplaceWithPen(chunk, nullptr);
     }},
    {"highlighted in a font without colour", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) {
       EXPECT_EQ(chunk->item->SetPropertyText("HighlightFont", "+BOLD", 0), 1);
       return chunk->HighlightText("walk", 0);
     }},
    {"highlighted", "Everything", 0, nullptr, false,
     [](VelkoRTChunk* chunk) { return chunk->HighlightText("walk", 0); }},
};

TEST_F(WalkLaneTest, SplitRunsAreWrittenAlike) {
  const std::string script =
      "PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100\nPARAGRAPH\nPABREF id=1\n"
      "TEXT text=\"walk the walk\"\n"
      "TEXT face=4 size=14 text=\"sidewalks walked, a walkwalk\"\n"
      "TEXT text=\"walk\"\nTEXT text=\"Walk\"\nTEXT text=\"no match here\"\n"
      "TEXT attributes=0x80 text=\"a shadowed walk\"\n"
      "TEXT attributes=1 color=2 text=\"WALK and Walk and walk\"\n"
      "PARAGRAPH\nPABREF id=1\nTEXT text=\"walks\"\nTEXT text=\"" +
      std::string(3000, 'x') + " walk " + std::string(3000, 'y') + " walk\"\n"
      "BEGIN sig=TEXT\nTEXT text=\"an enveloped walk\"\nCOLOR rgb=0x102030\nEND sig=TEXT\n"
      "TABLEBEGIN\nTABLECELL row=0 column=0\nPABREF id=1\nTEXT text=\"a walk in a cell\"\n"
      "TABLEEND\nPARAGRAPH\nPABREF id=1\nTEXT text=\"walk\"\n";
  cdbuild::Body body;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript(script, &body, &error)) << error.line << ": " << error.message;
  ExpectSameOperationOutcomes(body, kSplitOperations, "split runs");
}

/* A font change that fails past text runs it changed keeps the loaded
 * records as they were: committed after it, with records cached or not,
 * they are the stored ones, with or without the lane. */
STATUS ChangeFontThenCommit(VelkoRTChunk* chunk) {
  const STATUS status = chunk->ChangeFont("+BOLD 12pt", nullptr, 1);
  const STATUS committed = chunk->item->Commit();
  return status != NOERROR ? status : committed;
}

TEST_F(WalkLaneTest, AFailedFontChangeKeepsTheLoadedRecords) {
  const std::string script = "PABDEF id=1 flags=0x0100 ext=1440,0,1440,0,0,100\nPARAGRAPH\n"
                             "PABREF id=1\nTEXT text=\"one\"\nTEXT face=4 text=\"two\"\n"
                             "TABLECELL row=0 column=0\nTEXT text=\"three\"\n";
  cdbuild::Body body;
  cdbuild::ScriptError error;
  ASSERT_TRUE(cdbuild::BuildScript(script, &body, &error)) << error.message;
  const operation ops[] = {
      {"failed change, then commit", "Everything", 0, nullptr, false, ChangeFontThenCommit},
      {"failed change of cached records, then commit", "Everything", 0, nullptr, false,
       [](VelkoRTChunk* chunk) {
         chunk->item->CacheRecords = 1;
         return ChangeFontThenCommit(chunk);
       }},
  };
  for (const operation& op : ops) {
    const outcome full = RunOnce(body, op, false);
    const outcome lane = RunOnce(body, op, true);
    EXPECT_NE(full.status, NOERROR) << op.name;
    EXPECT_EQ(lane.status, full.status) << op.name;
    EXPECT_TRUE(lane.values == full.values) << op.name;
  }
}

/* Writes one after another on a cached body: the first leaves an empty text
 * run behind the closing paragraph, the append a text run after it, and
 * the clean-up of that rebuilt body (not loaded by its operation) must
 * still drop the empty run next to the text. */
TEST_F(WalkLaneTest, CleanupOfARebuiltBodyWalksIt) {
  for (const bool lane : {false, true}) {
    Restart();
    AppendItem({Text("a"), Paragraph()});
    VelkoTestSetEmitterLane(lane);
    Connect();
    item_->CacheRecords = 1;
    VelkoRTChunk* chunk = Chunk("Everything");
    ASSERT_NE(chunk, nullptr);
    ASSERT_EQ(chunk->AlterRichText(ACTION_CLEANUP_TEXT_RUNS, 0, 0, 0, 0, nullptr, nullptr,
                                   nullptr, nullptr),
              NOERROR);
    ASSERT_EQ(chunk->AlterRichText(ACTION_APPEND_TEXT, 0, 0, 0, 0, "b", nullptr, nullptr,
                                   nullptr),
              NOERROR);
    ASSERT_EQ(chunk->AlterRichText(ACTION_CLEANUP_TEXT_RUNS, 0, 0, 0, 0, nullptr, nullptr,
                                   nullptr, nullptr),
              NOERROR);
    ASSERT_EQ(item_->Commit(), NOERROR);
    EXPECT_EQ(BodyRecords(), Records({Text("a"), Paragraph(), Text("b")}))
        << "lane " << lane;
  }
}

} // namespace
