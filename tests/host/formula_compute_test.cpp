// Formula evaluation of the host stand-in: formulas run against a stored
// note, their results read back from the result block byte by byte (type
// word and stored layout), the SELECT answer, the errors of formulas that
// cannot evaluate, the caps, the clock, and every block freed.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/formula.h"
#include "host/host_testing.h"
#include "host/nsfdata.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osmem.h"
#include "host/status.h"
#include "host/textlist.h"
#include "host/timedate.h"

namespace {

template <typename T> T ReadAt(const std::string& bytes, size_t offset) {
  T value{};
  if (offset + sizeof value <= bytes.size())
    std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

std::string TimeText(const TIMEDATE& time) {
  char text[TIMEDATE_TEXT_LENGTH + 1] = {};
  WORD length = 0;
  if (ConvertTIMEDATEToText(nullptr, nullptr, &time, text, sizeof text, &length) != NOERROR)
    return "?";
  return std::string(text, length);
}

std::string NumberText(double number) {
  char text[40];
  std::snprintf(text, sizeof text, "%g", number);
  return text;
}

// A result block written out as "kind:entry|entry": decoded here from the
// layouts the renderer reads, independently of the evaluator.
std::string Describe(const std::string& bytes) {
  const WORD type = ReadAt<WORD>(bytes, 0);
  std::string out;
  const auto add = [&](const std::string& entry) {
    out += (out.back() == ':' ? "" : "|") + entry;
  };
  switch (type) {
  case TYPE_TEXT:
    return "text:" + bytes.substr(2);
  case TYPE_TEXT_LIST: {
    out = "texts:";
    const WORD count = ListGetNumEntries(bytes.data(), TRUE);
    for (WORD i = 0; i < count; ++i) {
      char* text = nullptr;
      WORD length = 0;
      if (ListGetText(bytes.data(), TRUE, i, &text, &length) != NOERROR)
        return "bad list";
      add(std::string(text, length));
    }
    const size_t expected = 4 + 2 * count + (out.size() - 6 - (count > 0 ? count - 1 : 0));
    if (bytes.size() != expected)
      return "bad list length";
    return out;
  }
  case TYPE_NUMBER:
    if (bytes.size() != 10)
      return "bad number length";
    return "number:" + NumberText(ReadAt<double>(bytes, 2));
  case TYPE_NUMBER_RANGE: {
    out = "numbers:";
    const WORD count = ReadAt<WORD>(bytes, 2);
    if (ReadAt<WORD>(bytes, 4) != 0 || bytes.size() != 6 + 8u * count)
      return "bad number range";
    for (WORD i = 0; i < count; ++i)
      add(NumberText(ReadAt<double>(bytes, 6 + 8u * i)));
    return out;
  }
  case TYPE_TIME:
    if (bytes.size() != 10)
      return "bad time length";
    return "time:" + TimeText(ReadAt<TIMEDATE>(bytes, 2));
  case TYPE_TIME_RANGE: {
    out = "times:";
    const WORD singles = ReadAt<WORD>(bytes, 2);
    const WORD pairs = ReadAt<WORD>(bytes, 4);
    if (bytes.size() != 6 + 8u * singles + 16u * pairs)
      return "bad time range";
    for (WORD i = 0; i < singles; ++i)
      add(TimeText(ReadAt<TIMEDATE>(bytes, 6 + 8u * i)));
    for (WORD i = 0; i < pairs; ++i) {
      const size_t at = 6 + 8u * singles + 16u * i;
      add(TimeText(ReadAt<TIMEDATE>(bytes, at)) + " - " +
          TimeText(ReadAt<TIMEDATE>(bytes, at + 8)));
    }
    return out;
  }
  default:
    return "type " + std::to_string(type);
  }
}

struct Outcome {
  STATUS status = 0xFFFF;
  std::string result; // Describe() of the block
  BOOL matches = 0xEE;
};

TIMEDATE At(int64_t unixSeconds) { return TimeDateFromUnix(unixSeconds); }

// 2026-12-07 09:30:15 UTC.
constexpr int64_t kClock = 1796635815;

class FormulaComputeTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    liveBefore_ = HostTestLiveHandles();
    ASSERT_EQ(NSFDbCreate("mem:compute", DBCLASS_NOTEFILE, FALSE), NOERROR);
    ASSERT_EQ(NSFDbOpen("mem:compute", &db_), NOERROR);
    ASSERT_EQ(NSFNoteCreate(db_, &note_), NOERROR);
    SetText("Form", "Memo");
    SetText("Subject", "  Quarterly   report ");
    ASSERT_EQ(NSFItemAppendTextList(note_, "Tags", "red", 3, TRUE), NOERROR);
    ASSERT_EQ(NSFItemAppendTextList(note_, "Tags", "Green", 5, TRUE), NOERROR);
    ASSERT_EQ(NSFItemAppendTextList(note_, "Tags", "blue", 4, TRUE), NOERROR);
    const double count = 4;
    ASSERT_EQ(NSFItemAppend(note_, 0, "Count", 5, TYPE_NUMBER, &count, sizeof count), NOERROR);
    const TIMEDATE due = At(kClock + 86400);
    ASSERT_EQ(NSFItemAppend(note_, 0, "Due", 3, TYPE_TIME, &due, sizeof due), NOERROR);
    // A range head of 3 entries and no pairs, then the doubles, unpadded.
    std::string scores("\x03\x00\x00\x00", 4);
    for (const double value : {1.5, 2.0, 10.0})
      scores.append(reinterpret_cast<const char*>(&value), sizeof value);
    ASSERT_EQ(NSFItemAppend(note_, 0, "Scores", 6, TYPE_NUMBER_RANGE, scores.data(),
                            static_cast<DWORD>(scores.size())),
              NOERROR);
    ASSERT_EQ(NSFNoteUpdate(note_, 0), NOERROR);
    const TIMEDATE clock = At(kClock);
    HostTestSetClock(&clock);
  }
  void TearDown() override {
    NSFNoteClose(note_);
    NSFDbClose(db_);
    HostTestReset();
    EXPECT_EQ(HostTestLiveHandles(), liveBefore_) << HostTestLeakReport();
  }

  void SetText(const char* name, const std::string& text) {
    ASSERT_EQ(NSFItemSetText(note_, name, text.data(), static_cast<WORD>(text.size())), NOERROR);
  }

  // Compiles, starts, evaluates against the note (or none) and stops;
  // every block is freed here.
  Outcome Run(const std::string& text, bool withNote = true) {
    Outcome out;
    FORMULAHANDLE compiled = NULLHANDLE;
    WORD compiledLength = 0;
    out.status = NSFFormulaCompile(nullptr, 0, text.data(), static_cast<WORD>(text.size()),
                                   &compiled, &compiledLength, nullptr, nullptr, nullptr, nullptr,
                                   nullptr);
    if (out.status != NOERROR)
      return out;
    HCOMPUTE compute = NULLHANDLE;
    out.status = NSFComputeStart(0, OSLockObject(compiled), &compute);
    OSUnlockObject(compiled);
    OSMemFree(compiled);
    if (out.status != NOERROR) {
      EXPECT_EQ(compute, NULLHANDLE);
      return out;
    }
    DHANDLE result = 0xDEAD;
    WORD length = 0xEEEE;
    out.status = NSFComputeEvaluate(compute, withNote ? note_ : NULLHANDLE, &result, &length,
                                    &out.matches, nullptr, nullptr);
    if (out.status == NOERROR) {
      const std::string bytes(static_cast<const char*>(OSLockObject(result)),
                              OSMemGetSize(result));
      OSUnlockObject(result);
      EXPECT_EQ(length, bytes.size());
      out.result = Describe(bytes);
      OSMemFree(result);
    } else {
      EXPECT_EQ(result, NULLHANDLE);
      EXPECT_EQ(length, 0);
    }
    EXPECT_EQ(NSFComputeStop(compute), NOERROR);
    return out;
  }

  struct Case {
    const char* formula;
    const char* result;
  };
  void ExpectResults(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.formula);
      const Outcome outcome = Run(c.formula);
      EXPECT_EQ(outcome.status, NOERROR);
      EXPECT_EQ(outcome.result, c.result);
    }
  }

  DBHANDLE db_ = NULLHANDLE;
  NOTEHANDLE note_ = NULLHANDLE;
  size_t liveBefore_ = 0;
};


TEST_F(FormulaComputeTest, SelectionAnswersPerNote) {
  const struct {
    const char* formula;
    BOOL matches;
  } cases[] = {
      {"SELECT @All", TRUE},
      {"SELECT Form = \"Memo\"", TRUE},
      {"SELECT Form = \"Reply\"", FALSE},
      {"SELECT Form != \"Reply\" & Count > 3", TRUE},
      {"SELECT @False | Count = 5", FALSE},
      {"SELECT Tags = \"blue\"", TRUE},
      {"SELECT !@IsAvailable(Missing)", TRUE},
      {"x := 1; SELECT x = 2; 7", FALSE},
      {"\"no select\"", TRUE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.formula);
    const Outcome outcome = Run(c.formula);
    EXPECT_EQ(outcome.status, NOERROR);
    EXPECT_EQ(outcome.matches, c.matches);
  }
}

TEST_F(FormulaComputeTest, ResultsComeInTheirStoredLayouts) {
  ExpectResults({
                    {"@True", "number:1"},
                    {"@No", "number:0"},
                    {"\"a\\\"b\"", "text:a\"b"},
                    {"{x\\y}", "text:x\\y"},
                    {"Form", "text:Memo"},
                    {"Missing", "text:"},
                    {"Tags", "texts:red|Green|blue"},
                    {"Count * 2.5", "number:10"},
                    {"Scores", "numbers:1.5|2|10"},
                    {"1 : 2 : 3", "numbers:1|2|3"},
                    {"Due", "time:12/08/2026 09:30:15"},
                    {"[12/06/2026 10:00 PM]", "time:12/06/2026 22:00:00"},
                    {"[01/02/2026] : [03/04/2026 - 03/05/2026] : [12/31/2025 23:59]",
                     "times:01/02/2026 00:00:00|12/31/2025 23:59:00|"
                     "03/04/2026 00:00:00 - 03/05/2026 00:00:00"},
                    {"@Subset(Tags; 1)", "text:red"},
                    {"\"\"", "text:"},
                });
}

} // namespace
