// The engine corpus (tests/engine/corpus/*.case): each case is a body in
// the record-script language and runs over it, each run on a fresh note of
// that body through the chunk's own methods. A case file:
//
//   # comments at the top say what the case shows
//   PABDEF id=1            record-script lines; "ITEM" starts a further item
//   --- Table 1            a run: the chunk definition
//   set: CaseSensitive=1   item or chunk switches (see Set below)
//   p1: 2                  arguments of the next action: p1, p2, s1, s2,
//                          extra
//   action: 9              runs AlterRichText with the arguments
//   call: count Row        or a method: exists, count SUB, next, previous,
//                          last, zoomin SUB, zoomout, sub SUB (a sub-chunk:
//                          answer 1 when made), remove, delete-item
//   status: 0              what the last action returned (!0: not 0)
//   answer: 3              what the last method returned
//   now: Table 1; Row 3    the chunk's definition now
//   gives: Table 1; Row 3  the definition of the sub-chunk made last
//   chunkstatus: 1028      the chunk's status word
//   message: TARNO: ...    the messages shown to the user in the run, in
//                          order, a line each ("message: none": none);
//                          checked when the run ends
//   found: 8 21            the first and second found record numbers
//   text: ab|cd            the result text, exactly
//   saved: unchanged       the note's body items as before the run, or
//   saved:                 followed by record-script lines: the body now
//
// A check before any action or method runs action 1 (p1 as set) first.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "chunk/rtchunk_internal.h"
#include "host/host_testing.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "store/body.h"
#include "store/session.h"
#include "tests/support/note_fixture.h"
#include "cdbuild/cd_script.h"

namespace {

/* The bytes from `at` on (at most 48), in hex, to show where bodies part. */
std::string HexFrom(const std::vector<BYTE>& bytes, size_t at) {
  std::string text;
  char cell[4];
  for (size_t i = at; i < bytes.size() && i < at + 48; ++i) {
    snprintf(cell, sizeof cell, "%02x ", bytes[i]);
    text += cell;
  }
  return text;
}

namespace fs = std::filesystem;
using Bytes = std::vector<BYTE>;

struct Case {
  std::string name;
  std::string body;                       /* the record script */
  std::vector<std::string> runs;          /* each run's lines, the definition first */
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

std::string Trim(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r'))
    text.pop_back();
  size_t start = 0;
  while (start < text.size() && text[start] == ' ')
    ++start;
  return text.substr(start);
}

std::vector<Case> FindCases() {
  std::vector<Case> cases;
  for (const auto& entry : fs::directory_iterator(VELKO_ENGINE_CORPUS_DIR)) {
    if (entry.path().extension() != ".case")
      continue;
    Case c;
    c.name = entry.path().stem().string();
    std::ifstream in(entry.path());
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("---", 0) == 0)
        c.runs.push_back(Trim(line.substr(3)) + "\n");
      else if (c.runs.empty())
        c.body += line + "\n";
      else
        c.runs.back() += line + "\n";
    }
    cases.push_back(c);
  }
  std::sort(cases.begin(), cases.end(), [](const Case& a, const Case& b) { return a.name < b.name; });
  return cases;
}

/* The body of script lines; "ITEM" alone starts a further item. */
cdbuild::Body BuildBody(const std::string& script) {
  cdbuild::Body body;
  std::istringstream in(script);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (Trim(line) == "ITEM") {
      body.NewItem();
      continue;
    }
    std::string error;
    EXPECT_TRUE(cdbuild::BuildScriptLine(line, &body, &error)) << "line " << number << ": " << error;
  }
  return body;
}

std::vector<Bytes> ItemValues(const cdbuild::Body& body) {
  std::vector<Bytes> values;
  for (const Bytes& item : body.Items(kBodyItemSplit))
    values.push_back(note_testing::Value(item));
  return values;
}

class EngineCorpusTest : public ::testing::TestWithParam<Case> {
protected:
  void SetUp() override {
    handles_ = note_testing::ResetHostCapturing();
    ASSERT_EQ(note_testing::CreateDatabase("mem:enginecorpus", &db_), NOERROR);
  }
  void TearDown() override {
    NSFDbClose(db_);
    EXPECT_EQ(HostTestLiveHandles(), handles_) << HostTestLeakReport();
    HostTestReset();
  }

  void Run(const cdbuild::Body& body, const std::string& run);

  DBHANDLE db_ = NULLHANDLE;
  size_t handles_ = 0;
};

struct RunState {
  LSXLsiSession* session = nullptr;
  VelkoRTItem* item = nullptr;
  VelkoRTChunk* chunk = nullptr;
  NOTEHANDLE note = NULLHANDLE;
  WORD p1 = 0, p2 = 0;
  std::string s1, s2, extra;
  bool hasS1 = false, hasS2 = false;
  bool ran = false;
  STATUS status = 0;
  long answer = 0;
  std::string given; /* the last sub-chunk's definition */
};

void Set(RunState& run, const std::string& settings) {
  std::istringstream in(settings);
  std::string setting;
  while (in >> setting) {
    const size_t equals = setting.find('=');
    const std::string name = setting.substr(0, equals);
    const WORD value = static_cast<WORD>(std::stoul(setting.substr(equals + 1), nullptr, 0));
    const std::map<std::string, WORD*> switches = {
        {"AutoMergeText", &run.item->AutoMergeText},
        {"AutoSave", &run.item->AutoSave},
        {"CacheRecords", &run.item->CacheRecords},
        {"AccentSensitive", &run.chunk->AccentSensitive},
        {"CaseSensitive", &run.chunk->CaseSensitive},
        {"TextWildcards", &run.chunk->TextWildcards},
        {"SearchWordBoundaries", &run.chunk->SearchWordBoundaries},
    };
    ASSERT_TRUE(switches.count(name)) << "unknown switch " << name;
    *switches.at(name) = value;
  }
}

void Action(RunState& run, WORD action) {
  run.session->internal->found_first = 0;
  run.session->internal->found_second = 0;
  run.session->result_length = 0;
  run.session->result_text[0] = '\0';
  run.status = run.chunk->AlterRichText(action, run.p1, run.p2, 0, 0,
                                        run.hasS1 ? run.s1.c_str() : nullptr,
                                        run.hasS2 ? run.s2.c_str() : nullptr,
                                        run.extra.empty() ? nullptr : run.extra.c_str(), nullptr);
  run.ran = true;
}

void Call(RunState& run, const std::string& call) {
  const size_t space = call.find(' ');
  const std::string method = call.substr(0, space);
  const std::string argument = space == std::string::npos ? "" : call.substr(space + 1);
  if (method == "exists")
    run.answer = run.chunk->Exists();
  else if (method == "count")
    run.answer = run.chunk->GetCount(argument.c_str());
  else if (method == "next")
    run.answer = run.chunk->GetNextTarget();
  else if (method == "previous")
    run.answer = run.chunk->GetPreviousTarget();
  else if (method == "last")
    run.answer = run.chunk->GetLastTarget();
  else if (method == "zoomin")
    run.answer = run.chunk->ZoomIn(argument.c_str());
  else if (method == "sub") {
    std::unique_ptr<VelkoRTChunk> sub(run.chunk->DefineSubChunk(argument.c_str()));
    run.answer = sub != nullptr;
    run.given = sub != nullptr ? sub->definition : "";
  } else if (method == "zoomout")
    run.chunk->ZoomOut();
  else if (method == "remove")
    run.status = run.chunk->Remove();
  else if (method == "remove-hotspots")
    run.status = run.chunk->RemoveHotspots();
  else if (method == "remove-links")
    run.status = run.chunk->RemoveLinks(0);
  else if (method == "remove-sections")
    run.status = run.chunk->RemoveSections();
  else if (method == "delete-item")
    ASSERT_EQ(NSFItemDelete(run.note, "Body", 4), NOERROR);
  else
    FAIL() << "unknown method " << method;
  run.ran = true;
}

void EngineCorpusTest::Run(const cdbuild::Body& body, const std::string& lines) {
  std::istringstream in(lines);
  std::string definition;
  std::getline(in, definition);
  SCOPED_TRACE("run: " + definition);

  RunState run;
  ASSERT_EQ(NSFNoteCreate(db_, &run.note), NOERROR);
  ASSERT_EQ(body.AppendItems(run.note, "Body"), NOERROR);
  const std::vector<Bytes> before = note_testing::ItemValues(run.note, "Body");
  run.session = new LSXLsiSession;
  run.item = new VelkoRTItem(run.session);
  ASSERT_EQ(run.item->ConnectBackend(run.note, "Body", 0), NOERROR);
  run.chunk = run.item->DefineChunk(definition.c_str());
  ASSERT_NE(run.chunk, nullptr);
  HostTestClearMessages();
  std::vector<std::string> messages; /* expected, from "message:" lines */
  bool checkMessages = false;

  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#')
      continue;
    const size_t colon = line.find(':');
    ASSERT_NE(colon, std::string::npos) << line;
    const std::string key = line.substr(0, colon);
    std::string value = line.substr(colon + 1);
    if (!value.empty() && value[0] == ' ')
      value.erase(0, 1);
    const bool check = key == "status" || key == "found" || key == "text" || key == "saved";
    if (check && !run.ran)
      Action(run, 1);
    if (key == "set") {
      Set(run, value);
    } else if (key == "p1" || key == "p2") {
      (key == "p1" ? run.p1 : run.p2) = static_cast<WORD>(std::stoul(value, nullptr, 0));
    } else if (key == "s1") {
      run.s1 = value;
      run.hasS1 = true;
    } else if (key == "s2") {
      run.s2 = value;
      run.hasS2 = true;
    } else if (key == "extra") {
      run.extra = value;
    } else if (key == "action") {
      Action(run, static_cast<WORD>(std::stoul(value, nullptr, 0)));
    } else if (key == "call") {
      Call(run, Trim(value));
    } else if (key == "status") {
      if (value == "!0")
        EXPECT_NE(run.status, 0);
      else
        EXPECT_EQ(run.status, std::stoul(value, nullptr, 0));
    } else if (key == "answer") {
      EXPECT_EQ(run.answer, std::stol(value));
    } else if (key == "gives") {
      EXPECT_EQ(run.given, Trim(value));
    } else if (key == "message") {
      checkMessages = true;
      if (Trim(value) != "none")
        messages.push_back(Trim(value));
    } else if (key == "chunkstatus") {
      EXPECT_EQ(run.chunk->status, std::stoul(value));
    } else if (key == "now") {
      EXPECT_STREQ(run.chunk->definition, Trim(value).c_str());
    } else if (key == "found") {
      std::istringstream words(value);
      DWORD first = 0, second = 0;
      words >> first >> second;
      EXPECT_EQ(run.session->internal->found_first, first);
      EXPECT_EQ(run.session->internal->found_second, second);
    } else if (key == "text") {
      EXPECT_EQ(std::string(run.session->result_text, run.session->result_length), value);
    } else if (key == "saved") {
      std::vector<Bytes> expected = before;
      if (Trim(value) != "unchanged") {
        std::string script;
        while (std::getline(in, line))
          script += line + "\n";
        expected = ItemValues(BuildBody(script));
      }
      const std::vector<Bytes> saved = note_testing::ItemValues(run.note, "Body");
      EXPECT_EQ(saved.size(), expected.size()) << "stored items";
      for (size_t item = 0; item < saved.size() && item < expected.size(); ++item) {
        size_t at = 0;
        while (at < saved[item].size() && at < expected[item].size() &&
               saved[item][at] == expected[item][at])
          ++at;
        EXPECT_TRUE(at == saved[item].size() && at == expected[item].size())
            << "item " << item << " differs from byte " << at << " of " << expected[item].size()
            << "\nsaved:    " << HexFrom(saved[item], at) << "\nexpected: "
            << HexFrom(expected[item], at);
      }
    } else {
      FAIL() << "unknown key " << key;
    }
  }
  if (checkMessages) {
    std::vector<std::string> shown;
    for (const HostTestMessage& message : HostTestMessages())
      shown.push_back(message.text);
    EXPECT_EQ(shown, messages);
  }
  delete run.session; // deletes the item and its chunks
  NSFNoteClose(run.note);
}

TEST_P(EngineCorpusTest, RunsGiveTheExpectedAnswers) {
  const Case& c = GetParam();
  const cdbuild::Body body = BuildBody(c.body);
  ASSERT_TRUE(body.ok());
  ASSERT_FALSE(c.runs.empty());
  for (const std::string& run : c.runs)
    Run(body, run);
}

INSTANTIATE_TEST_SUITE_P(Corpus, EngineCorpusTest, ::testing::ValuesIn(FindCases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

} // namespace
