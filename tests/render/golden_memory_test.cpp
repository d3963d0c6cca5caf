// Rendering when memory runs short: every case of the golden corpus
// (tests/render/golden) whose output GenerateHTML returns is rendered once
// for every N with the Nth request for tracked memory refused, and once for
// every N with the Nth allocation of a library object refused, until a run
// meets no refusal. Each run either fails, with status 263 and no text, or
// returns exactly the case's expected output: a refusal never passes for a
// whole document with a part missing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "golden_files.h"
#include "golden_fixture.h"
#include "render_fixture.h"
#include "host/host_testing.h"
#include "store/tracked_memory_testing.h"
#include "cdbuild/cd_script.h"

namespace {

using golden_testing::GoldenCase;

void GoldenDate(WORD *month, WORD *day, WORD *year) {
  *month = 12;
  *day = 6;
  *year = 2026;
}
const char *GoldenVersion() { return "velko"; }
const render_frame_source kGoldenSource = {GoldenDate, GoldenVersion};

/* The cases whose output is the text GenerateHTML returns. */
std::vector<GoldenCase> ReturnedCases() {
  std::vector<GoldenCase> cases;
  for (const GoldenCase &golden : golden_testing::FindCases()) {
    if (golden_testing::ReadHeader(golden_testing::ReadFile(golden.script)).sink == "returned")
      cases.push_back(golden);
  }
  return cases;
}

const char *GenerationName(const std::string &generation) {
  if (generation == "Text")
    return "Plain Text";
  return golden_testing::IsXhtml(generation) ? "XHTML" : "HTML";
}

struct refusal {
  const char *name;
  void (*arm)(int nth);
  bool (*met)(int nth); /* whether the armed refusal was met; disarms */
};

bool TrackedRefusalMet(int nth) {
  const bool met = VelkoTestTrackedRequests() >= nth;
  VelkoTestFailTrackedAllocation(0);
  return met;
}

bool ObjectRefusalMet(int nth) {
  const bool met = VelkoTestObjectAllocations() >= nth;
  VelkoTestFailObjectAllocation(0);
  return met;
}

const refusal kRefusals[] = {
    {"tracked memory", VelkoTestFailTrackedAllocation, TrackedRefusalMet},
    {"object", VelkoTestFailObjectAllocation, ObjectRefusalMet},
};

class GoldenMemoryTest : public text_testing::TextRenderTest,
                         public ::testing::WithParamInterface<GoldenCase> {
protected:
  void SetUp() override {
    TextRenderTest::SetUp();
    SetRenderFrameSource(&kGoldenSource);
    golden_testing::ReadCase(GetParam(), &header_, &body_, &expected_);
    if (HasFatalFailure())
      return;
    dir_ = golden_testing::FreshCaseDirectory();
    options_ = golden_testing::OptionsIn(header_.options, dir_);
    golden_testing::StoreResources(db_, header_);
    note_ = note_testing::StoreNoteWith(db_, [&](NOTEHANDLE note) {
      const STATUS status = body_.AppendItems(note, "Body");
      return status != NOERROR ? status : golden_testing::AppendNoteItems(note, header_);
    });
    golden_testing::LinkCallbackState() = {header_.link_answer, {}};
    ASSERT_NE(note_, 0u);
  }

  void TearDown() override {
    SetRenderFrameSource(nullptr);
    TextRenderTest::TearDown();
    golden_testing::fs::remove_all(dir_);
  }

  /* One run on an item connected anew, with the refusal armed around the
   * rendering call alone; false when the run met no refusal. */
  bool RunOnce(const refusal &kind, int nth) {
    auto *item = new VelkoRTItem(session_.get()); // the session deletes it
    EXPECT_EQ(item->Connect("", kDbPath, note_, "Body", 0), NOERROR);
    VelkoRTChunk *chunk = item->DefineChunk("Everything");
    EXPECT_NE(chunk, nullptr);
    if (chunk == nullptr)
      return false;
    const char *options = options_.empty() ? nullptr : options_.c_str();
    kind.arm(nth);
    char *result =
        chunk->GenerateHTML("", GenerationName(header_.generation), options, 0, nullptr,
                            header_.hasLinkAnswer ? golden_testing::AnswerLink : nullptr);
    const bool met = kind.met(nth);
    last_whole_ = false;
    if (result == nullptr) {
      EXPECT_TRUE(met) << "no text without a refusal";
      EXPECT_EQ(chunk->status, VELKO_ERR_MEMORY);
      return met;
    }
    const std::string text(result, session_->render_result_length);
    VelkoDeallocatePtr(session_.get(), result);
    last_whole_ = text == expected_;
    EXPECT_EQ(chunk->status, NOERROR) << "text returned with a failure";
    EXPECT_EQ(text, expected_) << "a run that met the refusal returned other text";
    return met;
  }

  golden_testing::Header header_;
  golden_testing::fs::path dir_; /* the case's directory ("$DIR") */
  std::string options_;
  cdbuild::Body body_;
  std::string expected_;
  NOTEID note_ = 0;
  bool last_whole_ = false; /* the last run returned the whole document */
};

TEST_P(GoldenMemoryTest, EveryRefusalFailsTheRunOrLeavesTheOutputWhole) {
  for (const refusal &kind : kRefusals) {
    int nth = 1;
    for (; nth < 5000; ++nth) {
      SCOPED_TRACE(std::string(kind.name) + " refusal " + std::to_string(nth));
      if (!RunOnce(kind, nth))
        break;
      if (HasFailure())
        return; // one run's findings are enough
    }
    EXPECT_LT(nth, 5000) << kind.name << ": the sweep did not end";
  }
}

/* Host memory (OSMemAlloc) refused, on the table bodies: the host does not
 * count its allocations, so the sweep runs until a stretch of runs in a row
 * met none (each returned the whole document). */
class GoldenHostMemoryTest : public GoldenMemoryTest {};

TEST_P(GoldenHostMemoryTest, TableBodiesFailOrStayWholeWhenHostMemoryIsRefused) {
  const refusal host = {"host memory", HostTestFailAllocation, [](int) {
                          HostTestFailAllocation(0);
                          return true;
                        }};
  constexpr int kQuietRuns = 40;
  int quiet = 0;
  for (int nth = 1; nth < 2000 && quiet < kQuietRuns; ++nth) {
    SCOPED_TRACE("host memory refusal " + std::to_string(nth));
    RunOnce(host, nth);
    if (HasFailure())
      return;
    quiet = last_whole_ ? quiet + 1 : 0;
  }
  EXPECT_EQ(quiet, kQuietRuns) << "the sweep did not end";
}

INSTANTIATE_TEST_SUITE_P(Corpus, GoldenMemoryTest, ::testing::ValuesIn(ReturnedCases()),
                         golden_testing::CaseName);

std::vector<GoldenCase> TableCases() {
  std::vector<GoldenCase> cases;
  for (const GoldenCase &golden : ReturnedCases()) {
    if (golden.family == "tables" || golden.family == "hotspots" || golden.family == "sections")
      cases.push_back(golden);
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Tables, GoldenHostMemoryTest, ::testing::ValuesIn(TableCases()),
                         golden_testing::CaseName);

} // namespace
