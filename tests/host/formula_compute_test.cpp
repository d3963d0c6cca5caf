// Formula evaluation of the host stand-in: formulas run against a stored
// note, their results read back from the result block byte by byte (type
// word and stored layout), the SELECT answer, the errors of formulas that
// cannot evaluate, the caps, the clock, and every block freed.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cdbuild/cd_builder.h"
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

TEST_F(FormulaComputeTest, FunctionsGiveTheirValues) {
  ExpectResults({
      {"@If(Count > 10; \"big\"; Count > 3; \"mid\"; \"small\")", "text:mid"},
      {"@If(@False; 1; 2)", "number:2"},
      {"@Text(Count / 8) + \"|\" + @Text(Due)", "text:0.5|12/08/2026 09:30:15"},
      {"@Text(1 : 2)", "texts:1|2"},
      {"@TextToNumber(\" 12.5 \") + 1", "number:13.5"},
      {"@LowerCase(Tags)", "texts:red|green|blue"},
      {"@UpperCase(\"mixed Case 9\")", "text:MIXED CASE 9"},
      {"@Trim(Subject)", "text:Quarterly report"},
      {"@Trim(\" \" : \"a\" : \"\")", "text:a"},
      {"@Left(Form; 2) + @Right(Form; 3)", "text:Meemo"},
      {"@Left(\"key=value\"; \"=\") + \",\" + @Right(\"key=value\"; \"=\")", "text:key,value"},
      {"@Left(\"abc\"; 10) + @Right(\"abc\"; 0)", "text:abc"},
      {"@Left(\"abc\"; 1e308 * 10 - 1e308 * 10) + \"|\" + @Left(\"abc\"; 1.9)", "text:|a"},
      {"@Contains(Subject; \"report\")", "number:1"},
      {"@Contains(Subject; \"Report\")", "number:0"},
      {"@Begins(Tags; \"Gr\")", "number:1"},
      {"@Ends(Form; \"mo\" : \"zz\")", "number:1"},
      {"@IsMember(\"red\" : \"blue\"; Tags)", "number:1"},
      {"@IsMember(\"red\" : \"pink\"; Tags)", "number:0"},
      {"@Elements(Tags) : @Elements(Missing) : @Elements(Scores)", "numbers:3|0|3"},
      {"@Subset(Tags; -2)", "texts:Green|blue"},
      {"[02/29/2028 1:05:09 am] : [ 12/31/2026 12:00 PM ]",
       "times:02/29/2028 01:05:09|12/31/2026 12:00:00"},
      {"@Text([Sorted])", "text:Sorted"},
      {"@Subset(Scores; 5)", "numbers:1.5|2|10"},
      {"@Implode(Tags; \", \")", "text:red, Green, blue"},
      {"@Implode(Tags)", "text:red Green blue"},
      {"@Explode(\"a, b;c  d\")", "texts:a|b|c|d"},
      {"@Explode(\"x/y//z\"; \"/\")", "texts:x|y|z"},
      {"@ReplaceSubstring(\"a-b-c\"; \"-\" : \"b\"; \"+\" : \"B\")", "text:a+B+c"},
      {"@ReplaceSubstring(Tags; \"e\"; \"\")", "texts:rd|Grn|blu"},
      {"@IsAvailable(Count) : @IsAvailable(Nothing)", "numbers:1|0"},
      {"@NoteID = \"NT\" + @Right(@NoteID; 8) & @Elements(@Explode(@DocumentUniqueID)) = 1",
       "number:1"},
      {"@Now", "time:12/07/2026 09:30:15"},
      {"@Today", "time:12/07/2026 00:00:00"},
      {"@Now - @Today", "number:34215"},
      {"(Due - 3600) : (@Today + 60)", "times:12/08/2026 08:30:15|12/07/2026 00:01:00"},
      {"@Created = @Created & @Modified = @Modified", "number:1"},
  });
}

TEST_F(FormulaComputeTest, VariablesStatementsAndSubscripts) {
  ExpectResults({
      {"x := 2; y := x * 3; y + x", "number:8"},
      {"Form := \"Shadow\"; Form", "text:Shadow"},
      {"FIELD Count := 9; Count", "number:9"},
      {"DEFAULT Count := 9; DEFAULT Extra := 1; Count + Extra", "number:5"},
      {"REM \"a comment\"; 1; 2", "number:2"},
      {"Tags[2]", "text:Green"},
      {"(Scores * 2)[3]", "number:20"},
      {"SELECT @All; \"after\"", "text:after"},
      {"form + \"/\" + FORM", "text:Memo/Memo"},
      {"-Count + +1", "number:-3"},
      {"!(Count = 4)", "number:0"},
      {"", "text:"},
  });
}

TEST_F(FormulaComputeTest, ListOperatorsArePairwiseOrPermuted) {
  ExpectResults({
      {"(1 : 2 : 3) + (10 : 20 : 30)", "numbers:11|22|33"},
      {"(1 : 2 : 3) * 2", "numbers:2|4|6"},
      {"(1 : 2 : 3) - (1 : 1)", "numbers:0|1|2"},
      {"Tags + \"!\"", "texts:red!|Green!|blue!"},
      {"\"<\" + Tags + (\">\" : \"]\")", "texts:<red>|<Green]|<blue]"},
      {"(1 : 2) *+ (10 : 20)", "numbers:11|21|12|22"},
      {"(\"a\" : \"b\") *+ (\"1\" : \"2\")", "texts:a1|a2|b1|b2"},
      {"(1 : 5) = (5 : 1)", "number:0"},
      {"(1 : 5) *= (5 : 1)", "number:1"},
      {"(1 : 5) != (1 : 5)", "number:0"},
      {"(1 : 5) < (0 : 6)", "number:1"},
      {"Tags : \"extra\"", "texts:red|Green|blue|extra"},
      {"[01/01/2026] < [01/02/2026]", "number:1"},
  });
}

TEST_F(FormulaComputeTest, FormulasThatCannotEvaluateFail) {
  const struct {
    const char* formula;
    STATUS status;
  } cases[] = {
      {"1 + \"a\"", ERR_FORMULA_DATA_TYPE},
      {"1 : \"a\"", ERR_FORMULA_DATA_TYPE},
      {"\"a\" = 1", ERR_FORMULA_DATA_TYPE},
      {"SELECT Form", ERR_FORMULA_DATA_TYPE},
      {"@If(\"yes\"; 1; 2)", ERR_FORMULA_DATA_TYPE},
      {"\"a\" - \"b\"", ERR_FORMULA_DATA_TYPE},
      {"-Form", ERR_FORMULA_DATA_TYPE},
      {"@If(1; 2)", ERR_FORMULA_ARGUMENTS},
      {"@Left(\"a\")", ERR_FORMULA_ARGUMENTS},
      {"@True(1)", ERR_FORMULA_ARGUMENTS},
      {"@TextToNumber(\"12x\")", ERR_FORMULA_BAD_VALUE},
      {"@TextToNumber(\"nan\")", ERR_FORMULA_BAD_VALUE},
      {"@TextToNumber(\"0x10\")", ERR_FORMULA_BAD_VALUE},
      {"1 / 0", ERR_FORMULA_BAD_VALUE},
      {"Tags[4]", ERR_FORMULA_BAD_VALUE},
      {"Tags[0]", ERR_FORMULA_BAD_VALUE},
      {"@Subset(Tags; 0)", ERR_FORMULA_BAD_VALUE},
      {"@Left(\"abc\"; @TextToNumber(@Trim(\" \" : \" \")))", ERR_FORMULA_BAD_VALUE},
      {"@ReplaceSubstring(\"abc\"; \"b\"; @Trim(\" \" : \" \"))", NOERROR},
      {"[02/30/2026]", ERR_FORMULA_BAD_VALUE},
      {"[02/29/2025]", ERR_FORMULA_BAD_VALUE},
      {"[12/01/2026 25:00]", ERR_FORMULA_BAD_VALUE},
      {"[12/01/2026 - ]", ERR_FORMULA_BAD_VALUE},
      {"@Command([FileSave])", ERR_FORMULA_NOT_AVAILABLE},
      {"@PostedCommand([FileSave])", ERR_FORMULA_NOT_AVAILABLE},
      {"@Prompt([Ok]; \"t\"; \"m\")", ERR_FORMULA_NOT_AVAILABLE},
      {"@DbLookup(\"\"; \"\"; \"v\"; \"k\"; 1)", ERR_FORMULA_NOT_AVAILABLE},
      {"@DbColumn(\"\"; \"\"; \"v\"; 1)", ERR_FORMULA_NOT_AVAILABLE},
      {"@SetField(\"Form\"; \"x\")", ERR_FORMULA_NOT_AVAILABLE},
      {"@Environment(\"x\")", ERR_FORMULA_NOT_AVAILABLE},
      {"ENVIRONMENT x := \"1\"", ERR_FORMULA_NOT_AVAILABLE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.formula);
    EXPECT_EQ(Run(c.formula).status, c.status);
  }
}

TEST_F(FormulaComputeTest, ListsTextsAndWaitingValuesAreCapped) {
  // Doubling a list: 2^13 entries still fit, 2^14 do not.
  std::string doubling = "x := 1";
  for (int i = 0; i < 13; ++i)
    doubling += "; x := x : x";
  EXPECT_EQ(Run(doubling + "; @Elements(x)").result, "number:8192");
  EXPECT_EQ(Run(doubling + "; x := x : x; 0").status, ERR_FORMULA_TOO_BIG);
  // A result whose block would pass 64 KB: 8192 numbers of 8 bytes.
  EXPECT_EQ(Run(doubling + "; x").status, ERR_FORMULA_TOO_BIG);
  EXPECT_EQ(Run(doubling + "; @Subset(x; 8191)").status, NOERROR);
  // A permuted operator whose pairs pass the cap: 64 x 64 fit, 91 x 91 not.
  std::string wide = "x := 1";
  for (int i = 0; i < 6; ++i)
    wide += "; x := x : x";
  EXPECT_EQ(Run(wide + "; @Elements(x *+ x)").result, "number:4096");
  EXPECT_EQ(Run(wide + "; x := x : @Subset(x; 27); x *= x").status, ERR_FORMULA_TOO_BIG);
  // Text doubling stops at 64 KB, whatever operator builds it.
  std::string text = "t := \"0123456789abcdef\"";
  for (int i = 0; i < 11; ++i)
    text += "; t := t + t";
  EXPECT_EQ(Run(text + "; @Elements(t)").result, "number:1");
  EXPECT_EQ(Run(text + "; t + t").status, ERR_FORMULA_TOO_BIG);
  EXPECT_EQ(Run(text + "; @Implode(t : t)").status, ERR_FORMULA_TOO_BIG);
  EXPECT_EQ(Run(text + "; @ReplaceSubstring(t; \"0\"; \"0123456789abcdef0123456789abcdef\")").status,
            ERR_FORMULA_TOO_BIG);
  // Arguments waiting for their @function: 512 fit, 513 do not.
  const auto arguments = [](int n) {
    std::string call = "@Elements(1";
    for (int i = 1; i < n; ++i)
      call += ";1";
    return call + ")";
  };
  EXPECT_EQ(Run(arguments(512)).status, ERR_FORMULA_ARGUMENTS);
  EXPECT_EQ(Run(arguments(513)).status, ERR_FORMULA_TOO_DEEP);
}

TEST_F(FormulaComputeTest, NestingIsCappedWithoutDeepRecursion) {
  // The parser's cap holds for started formulas as for compiled ones, and
  // long operator chains run flat.
  std::string deep = std::string(300, '(') + "1" + std::string(300, ')');
  EXPECT_EQ(Run(deep).status, ERR_FORMULA_COMPILE);
  std::string chain = "0";
  for (int i = 0; i < 8000; ++i)
    chain += "+1";
  EXPECT_EQ(Run(chain).result, "number:8000");
  std::string nested = "1";
  for (int i = 0; i < 200; ++i)
    nested = "@If(@True; " + nested + "; 0)";
  EXPECT_EQ(Run(nested).result, "number:1");
}

TEST_F(FormulaComputeTest, WithoutANoteFieldsAreEmpty) {
  const Outcome outcome = Run("Form + \"/\" + @Text(@Elements(Tags))", false);
  EXPECT_EQ(outcome.status, NOERROR);
  EXPECT_EQ(outcome.result, "text:/0");
  EXPECT_EQ(Run("@Created", false).status, ERR_FORMULA_BAD_VALUE);
}

TEST_F(FormulaComputeTest, BadFormulasAndHandlesAreRefused) {
  HCOMPUTE compute = 0xDEAD;
  const char notCompiled[] = "SELECT @All plain text";
  EXPECT_EQ(NSFComputeStart(0, notCompiled, &compute), ERR_FORMULA_BAD_FORMULA);
  EXPECT_EQ(compute, NULLHANDLE);
  // The header's magic, version and length are each checked.
  const std::string source = "@True";
  const auto header = [&](WORD magic, WORD version, DWORD length) {
    std::string bytes(8, '\0');
    std::memcpy(bytes.data(), &magic, 2);
    std::memcpy(bytes.data() + 2, &version, 2);
    std::memcpy(bytes.data() + 4, &length, 4);
    return bytes + source;
  };
  EXPECT_EQ(NSFComputeStart(0, header(0x4D47, 1, 5).data(), &compute), ERR_FORMULA_BAD_FORMULA);
  EXPECT_EQ(NSFComputeStart(0, header(0x4D46, 2, 5).data(), &compute), ERR_FORMULA_BAD_FORMULA);
  EXPECT_EQ(NSFComputeStart(0, header(0x4D46, 1, 0x10000).data(), &compute),
            ERR_FORMULA_BAD_FORMULA);
  // Hand-laid bytes with a syntax error give the compile error.
  const std::string broken = "1 +";
  std::string bytes = header(0x4D46, 1, 3);
  bytes.replace(8, std::string::npos, broken);
  EXPECT_EQ(NSFComputeStart(0, bytes.data(), &compute), ERR_FORMULA_UNEXPECTED);
  EXPECT_EQ(NSFComputeStart(0, nullptr, &compute), ERR_FORMULA_BAD_FORMULA);
  EXPECT_EQ(NSFComputeStart(0, header(0x4D46, 1, 5).data(), nullptr), ERR_HOST_BAD_ARGUMENT);

  // A handle that is not a started formula.
  DHANDLE other = NULLHANDLE;
  ASSERT_EQ(OSMemAlloc(MEM_TYPE_ENGINE, 64, &other), NOERROR);
  EXPECT_EQ(NSFComputeEvaluate(other, note_, nullptr, nullptr, nullptr, nullptr, nullptr),
            ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(NSFComputeStop(other), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(NSFComputeStop(NULLHANDLE), ERR_HOST_BAD_ARGUMENT);
  OSMemFree(other);

  // A started formula runs again on each evaluation; null outputs are fine.
  ASSERT_EQ(NSFComputeStart(0, header(0x4D46, 1, 5).data(), &compute), NOERROR);
  BOOL matches = FALSE;
  EXPECT_EQ(NSFComputeEvaluate(compute, note_, nullptr, nullptr, &matches, nullptr, nullptr),
            NOERROR);
  EXPECT_EQ(matches, TRUE);
  EXPECT_EQ(NSFComputeEvaluate(compute, NULLHANDLE, nullptr, nullptr, nullptr, nullptr, nullptr),
            NOERROR);
  EXPECT_EQ(NSFComputeStop(compute), NOERROR);
}

TEST_F(FormulaComputeTest, RunningOutOfMemoryIsReportedAndLeavesNoBlock) {
  // Starting takes one block and evaluating one; either failing gives
  // ERR_MEMORY and keeps nothing.
  const std::string compiled = std::string("FM\x01\x00\x05\x00\x00\x00", 8) + "@True";
  HCOMPUTE compute = 0xDEAD;
  HostTestFailAllocation(1);
  EXPECT_EQ(NSFComputeStart(0, compiled.data(), &compute), ERR_MEMORY);
  EXPECT_EQ(compute, NULLHANDLE);
  ASSERT_EQ(NSFComputeStart(0, compiled.data(), &compute), NOERROR);
  HostTestFailAllocation(1);
  DHANDLE result = 0xDEAD;
  EXPECT_EQ(NSFComputeEvaluate(compute, note_, &result, nullptr, nullptr, nullptr, nullptr),
            ERR_MEMORY);
  EXPECT_EQ(result, NULLHANDLE);
  EXPECT_EQ(NSFComputeStop(compute), NOERROR);
}

TEST_F(FormulaComputeTest, HandLaidCompiledFormulasMatchTheCompiler) {
  for (const std::string source : {"", "SELECT @All", "Form = \"Memo\"; @Now"}) {
    SCOPED_TRACE(source);
    FORMULAHANDLE compiled = NULLHANDLE;
    WORD length = 0;
    ASSERT_EQ(NSFFormulaCompile(nullptr, 0, source.data(), static_cast<WORD>(source.size()),
                                &compiled, &length, nullptr, nullptr, nullptr, nullptr, nullptr),
              NOERROR);
    const auto* bytes = static_cast<const BYTE*>(OSLockObject(compiled));
    EXPECT_EQ(std::vector<BYTE>(bytes, bytes + length), cdbuild::CompiledFormula(source));
    OSUnlockObject(compiled);
    OSMemFree(compiled);
  }
}

TEST(TimeDatePairText, JoinsBothTimesAndChecksItsBuffer) {
  const TIMEDATE_PAIR pair{TimeDateFromUnix(0), TimeDateFromUnix(86400 + 3661)};
  char text[64];
  std::memset(text, 'x', sizeof text);
  WORD length = 0;
  ASSERT_EQ(ConvertTIMEDATEPAIRToText(nullptr, nullptr, &pair, text, sizeof text, &length),
            NOERROR);
  EXPECT_EQ(std::string(text), "01/01/1970 00:00:00 - 01/02/1970 01:01:01");
  EXPECT_EQ(length, 41);
  // Exactly 41 bytes: no NUL; one less: refused.
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(ConvertTIMEDATEPAIRToText(nullptr, nullptr, &pair, text, 41, &length), NOERROR);
  EXPECT_EQ(text[41], 'x');
  EXPECT_EQ(ConvertTIMEDATEPAIRToText(nullptr, nullptr, &pair, text, 40, &length),
            ERR_HOST_BUFFER_TOO_SMALL);
  EXPECT_EQ(length, 0);
  const TIMEDATE_PAIR bad{TimeDateFromUnix(0), {{0xFFFFFFFF, 0}}};
  EXPECT_EQ(ConvertTIMEDATEPAIRToText(nullptr, nullptr, &bad, text, sizeof text, &length),
            ERR_HOST_BAD_ARGUMENT);
}

} // namespace
