// Formulas of the host stand-in: what compiles and decompiles back to its
// exact source, what is refused with which error at which place, the
// compiled block's layout, and the blocks handed out being freed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/formula.h"
#include "host/host_testing.h"
#include "host/nls.h"
#include "host/osmem.h"
#include "host/status.h"

namespace {

struct Compiled {
  STATUS status = 0xFFFF;
  FORMULAHANDLE handle = NULLHANDLE;
  WORD length = 0xEEEE;
  STATUS error = 0xFFFF;
  WORD line = 0xEEEE;
  WORD column = 0xEEEE;
  WORD offset = 0xEEEE;
  WORD errorLength = 0xEEEE;
};

Compiled Compile(const std::string& text, int length = -1) {
  Compiled out;
  out.status = NSFFormulaCompile(nullptr, 0, text.c_str(),
                                 static_cast<WORD>(length < 0 ? text.size() : length), &out.handle,
                                 &out.length, &out.error, &out.line, &out.column, &out.offset,
                                 &out.errorLength);
  return out;
}

std::string BlockBytes(DHANDLE handle) {
  std::string bytes(static_cast<const char*>(OSLockObject(handle)), OSMemGetSize(handle));
  OSUnlockObject(handle);
  return bytes;
}

// Decompiles the formula at buffer; the text block is freed here.
STATUS DecompileAt(const char* buffer, std::string* text, BOOL selection = FALSE) {
  DHANDLE textHandle = 0xDEAD;
  WORD textLength = 0xEEEE;
  const STATUS status = NSFFormulaDecompile(buffer, selection, &textHandle, &textLength);
  if (status != NOERROR) {
    EXPECT_EQ(textHandle, NULLHANDLE);
    EXPECT_EQ(textLength, 0);
    return status;
  }
  *text = BlockBytes(textHandle);
  EXPECT_EQ(textLength, text->size());
  EXPECT_EQ(OSMemFree(textHandle), NOERROR);
  return status;
}

class FormulaTest : public ::testing::Test {
protected:
  void SetUp() override {
    HostTestReset();
    liveBefore_ = HostTestLiveHandles();
  }
  void TearDown() override {
    HostTestReset();
    EXPECT_EQ(HostTestLiveHandles(), liveBefore_) << HostTestLeakReport();
  }

  // Compiles, checks the block and the round trip of the source (the text
  // up to the length, or up to the NUL for length 0), and frees the block.
  static void ExpectRoundTrip(const std::string& text, int length = -1) {
    SCOPED_TRACE(text.substr(0, 80));
    const Compiled compiled = Compile(text, length);
    ASSERT_EQ(compiled.status, NOERROR);
    EXPECT_EQ(compiled.error, NOERROR);
    EXPECT_EQ(compiled.line + compiled.column + compiled.offset + compiled.errorLength, 0);
    const std::string source =
        length == 0 ? std::string(text.c_str()) : text.substr(0, length < 0 ? text.size() : length);
    EXPECT_EQ(compiled.length, 8 + source.size());
    EXPECT_EQ(OSMemGetSize(compiled.handle), compiled.length);
    std::string back;
    EXPECT_EQ(DecompileAt(static_cast<const char*>(OSLockObject(compiled.handle)), &back), NOERROR);
    OSUnlockObject(compiled.handle);
    EXPECT_EQ(back, source);
    EXPECT_EQ(OSMemFree(compiled.handle), NOERROR);
  }

  size_t liveBefore_ = 0;
};

struct BadFormula {
  std::string text;
  STATUS error;
  WORD line;
  WORD column;
  WORD offset;
  WORD length;
};

void ExpectRefused(const BadFormula& bad) {
  SCOPED_TRACE(bad.text.substr(0, 80));
  const Compiled compiled = Compile(bad.text);
  EXPECT_EQ(compiled.status, ERR_FORMULA_COMPILE);
  EXPECT_EQ(compiled.handle, NULLHANDLE);
  EXPECT_EQ(compiled.length, 0);
  EXPECT_EQ(compiled.error, bad.error);
  EXPECT_EQ(compiled.line, bad.line);
  EXPECT_EQ(compiled.column, bad.column);
  EXPECT_EQ(compiled.offset, bad.offset);
  EXPECT_EQ(compiled.errorLength, bad.length);
}

TEST_F(FormulaTest, SoundFormulasCompileAndDecompileToTheirSource) {
  for (const char* formula : {
           "SELECT @All", "select @all", "field Subject := @Trim(Subject)",
           "DEFAULT Status := \"New\"", "ENVIRONMENT LastRun := @Text(@Now)",
           "@IF(a = \"b\"; \"c\"; \"d\")", "{with \"quotes\" and \\ inside}",
           "\"say \\\"hi\\\" \\\\ and \\q\"", "REM \"comment\"; rem {a comment}; x := 1",
           "1 + 2 * 3 - 4 / 5", "- -1 + +2:a - -b", "a:b:c[2]", "!!a & b | c = !d",
           "x := 1; y := x * 2; x + y",
           "a = b; a != b; a <> b; a =! b; a >< b; a <= b; a >= b; a < b; a > b",
           "a *= b; a *!= b; a *<> b; a *< b; a *> b; a *<= b; a *>= b",
           "a *+ b; a*-b; a ** b; a */ b", "1.5e3 + .25 - 2E-2 + 7. + 1e+4",
           "@DbLookup(\"\":\"NoCache\"; \"\"; \"View\"; Key; 2; [FailSilent])",
           "SELECT Form = \"Memo\" & @Created > [01/02/2003]", "[ Sorted ]",
           "@Subset(list; 2)[1]", "(a:b)[@Elements(a)]", "x[1][2]", "@Now", "@Now()",
           "@v2if(1;2;3) + @ATan2(1; 2)", "$Title := \"t\"; _tmp := $Title; Field.Name := $$Return",
           "@For(n := 1; n <= 3; n := n + 1; total := total + n)", "@If(c; FIELD x := 1; @Nothing)",
           "x := 1;", "a;;b", ";;", "\n  SELECT @All\r\n", "((((1))))", "@Trim (x)",
           "REM {line 1\nline 2};\r\nFIELD a := \"b\"", ""})
    ExpectRoundTrip(formula);
  ExpectRoundTrip(" \t\r\n ");
  ExpectRoundTrip(std::string("\"a\0b\"", 5)); // a NUL is text inside a string only
  ExpectRoundTrip(std::string("1 + 2\0#", 7), 0); // length 0 reads up to the NUL
  ExpectRoundTrip("1 + 2 garbage#", 5);           // a given length stops before the rest
}

TEST_F(FormulaTest, SyntaxErrorsReportTheirCodeAndPlace) {
  constexpr STATUS kUnexpected = ERR_FORMULA_UNEXPECTED;
  constexpr STATUS kUnterminated = ERR_FORMULA_UNTERMINATED;
  constexpr STATUS kUnknown = ERR_FORMULA_UNKNOWN_FUNCTION;
  const std::vector<BadFormula> cases = {
      // Unterminated strings and brackets: the place of the opener.
      {"\"abc", kUnterminated, 1, 1, 0, 4}, {"x := \"abc\\\"", kUnterminated, 1, 6, 5, 6},
      {"{abc", kUnterminated, 1, 1, 0, 4},  {"@If(a; b  ", kUnterminated, 1, 4, 3, 1},
      {"(1 + 2", kUnterminated, 1, 1, 0, 1}, {"x[1", kUnterminated, 1, 2, 1, 1},
      {"x := [Sorted", kUnterminated, 1, 6, 5, 7}, {"[a;b]", kUnterminated, 1, 1, 0, 2},
      // Unbalanced closers and missing operands.
      {"(1 + 2))", kUnexpected, 1, 8, 7, 1}, {"}", kUnexpected, 1, 1, 0, 1},
      {"(", kUnexpected, 1, 2, 1, 0},        {"1 +", kUnexpected, 1, 4, 3, 0},
      {"!", kUnexpected, 1, 2, 1, 0},        {"SELECT @All; FIELD", kUnexpected, 1, 19, 18, 0},
      {"x[]", kUnexpected, 1, 3, 2, 1},      {"[ -1]", kUnexpected, 1, 1, 0, 5},
      {"[]", kUnexpected, 1, 1, 0, 2},       {"FIELD := 1", kUnexpected, 1, 7, 6, 2},
      // Two operators or two operands in a row.
      {"1 + * 2", kUnexpected, 1, 5, 4, 1}, {"1 =< 2", kUnexpected, 1, 4, 3, 1},
      {"a b", kUnexpected, 1, 3, 2, 1},     {"x := \"a\" \"b\"", kUnexpected, 1, 10, 9, 3},
      {"1.2.3", kUnexpected, 1, 4, 3, 2},   {"1E", kUnexpected, 1, 2, 1, 1},
      {"check(1)", kUnexpected, 1, 6, 5, 1},
      // Assignments.
      {":= 1", kUnexpected, 1, 1, 0, 2},       {"\"a\" := 1", kUnexpected, 1, 5, 4, 2},
      {"FIELD x 1", kUnexpected, 1, 9, 8, 1},  {"DEFAULT x", kUnexpected, 1, 10, 9, 0},
      {"ENVIRONMENT \"x\" := 1", kUnexpected, 1, 13, 12, 3},
      {"x := y := 1", kUnexpected, 1, 8, 7, 2}, {"select := 1", kUnexpected, 1, 8, 7, 2},
      {"(x := 1)", kUnexpected, 1, 4, 3, 2},
      // Arguments and REM.
      {"@If(a;;b)", kUnexpected, 1, 7, 6, 1},   {"@If(a;b;)", kUnexpected, 1, 9, 8, 1},
      {"x := (1; 2)", kUnexpected, 1, 8, 7, 1}, {"@If(SELECT a)", kUnexpected, 1, 5, 4, 6},
      {"REM x", kUnexpected, 1, 5, 4, 1},       {"REM \"a\" + 1", kUnexpected, 1, 9, 8, 1},
      {"REM", kUnexpected, 1, 4, 3, 0},         {"@", kUnexpected, 1, 1, 0, 1},
      // Characters outside the language; unknown @functions (the whole name).
      {"x := 1 #", kUnexpected, 1, 8, 7, 1},  {"@(1)", kUnexpected, 1, 1, 0, 1},
      {"@1", kUnexpected, 1, 1, 0, 1},        {std::string("1 \0", 3), kUnexpected, 1, 3, 2, 1},
      {"@Foo(1)", kUnknown, 1, 1, 0, 4},      {"@If(1; @Nope; 2)", kUnknown, 1, 8, 7, 5},
      // Lines end at LF, CR or CR LF.
      {"x := 1;\r\ny := ;", kUnexpected, 2, 6, 14, 1}, {"a := 1\rb := 2", kUnexpected, 2, 1, 7, 1},
      {"a := 1;\n\n  @Bad", kUnknown, 3, 3, 11, 4},    {"{multi\nline} +", kUnexpected, 2, 8, 14, 0},
  };
  for (const BadFormula& bad : cases)
    ExpectRefused(bad);
}

TEST_F(FormulaTest, MultiByteCharactersAreNeverSplitAndNamesTakeLettersOfAnyScript) {
  // U+2222 is 0x14 0x22 0x22 in LMBCS: its trail bytes are quotes; U+227D
  // ends in a closing brace, U+225C in a backslash.
  const std::string angle = LmbcsFromUtf8("\u2222");
  const std::string brace = LmbcsFromUtf8("\u227D");
  const std::string backslash = LmbcsFromUtf8("\u225C");
  ASSERT_EQ(angle + brace + backslash, "\x14\x22\x22\x14\x22\x7D\x14\x22\x5C");
  ExpectRoundTrip("x := \"" + angle + "\" + {" + brace + "}");
  ExpectRoundTrip("x := \"" + backslash + "\" + \"\\" + angle + "\"");
  ExpectRoundTrip(LmbcsFromUtf8("Größe := 1; имя := Größe * 2"));
  const std::vector<BadFormula> cases = {
      {"\"" + angle, ERR_FORMULA_UNTERMINATED, 1, 1, 0, 4},
      {"{" + brace, ERR_FORMULA_UNTERMINATED, 1, 1, 0, 4},
      {"\"ab\x14\x22", ERR_FORMULA_UNTERMINATED, 1, 1, 0, 5},
      // Columns count characters, offsets bytes.
      {"\"" + angle + angle + "\" +", ERR_FORMULA_UNEXPECTED, 1, 7, 10, 0},
      {"x := 1 " + angle, ERR_FORMULA_UNEXPECTED, 1, 8, 7, 3},
      {"x := 1 \x14\x22", ERR_FORMULA_UNEXPECTED, 1, 8, 7, 2},
      {LmbcsFromUtf8("a\u2222 := 1"), ERR_FORMULA_UNEXPECTED, 1, 2, 1, 3}, // a symbol is no letter
  };
  for (const BadFormula& bad : cases)
    ExpectRefused(bad);
}

TEST_F(FormulaTest, CompiledFormulaIsHeaderAndSourceReadFromAnyAddress) {
  const Compiled compiled = Compile("SELECT @All");
  ASSERT_EQ(compiled.status, NOERROR);
  EXPECT_EQ(compiled.length, 19);
  const std::string block = BlockBytes(compiled.handle);
  EXPECT_EQ(block, std::string("FM\x01\x00\x0B\x00\x00\x00" "SELECT @All", 19));
  EXPECT_EQ(OSMemFree(compiled.handle), NOERROR);
  const std::string copy = "?" + block;
  std::string text;
  ASSERT_EQ(DecompileAt(copy.data() + 1, &text, TRUE), NOERROR);
  EXPECT_EQ(text, "SELECT @All") << "the selection flag changes nothing";

  for (const std::string& buffer : {
           std::string("not a formula at all"),
           std::string("FM\x02\x00\x01\x00\x00\x00" "x", 9), // another version
           std::string("MF\x01\x00\x01\x00\x00\x00" "x", 9), // another magic
           std::string("FM\x01\x00\xF8\xFF\x00\x00" "x", 9), // longer than any source
           std::string("FM\x01\x00\x00\x00\x01\x00" "x", 9), // 64 KB
       })
    EXPECT_EQ(DecompileAt(buffer.data(), &text), ERR_FORMULA_BAD_FORMULA) << buffer;
}

TEST_F(FormulaTest, OutPointersMayBeNullButNotTheFormulaOrTheText) {
  FORMULAHANDLE handle = NULLHANDLE;
  ASSERT_EQ(NSFFormulaCompile("name", 4, "1", 1, &handle, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr),
            NOERROR);
  EXPECT_EQ(OSMemGetSize(handle), 9u);
  const char* buffer = static_cast<const char*>(OSLockObject(handle));
  EXPECT_EQ(NSFFormulaDecompile(buffer, FALSE, nullptr, nullptr), ERR_HOST_BAD_ARGUMENT);
  OSUnlockObject(handle);
  EXPECT_EQ(OSMemFree(handle), NOERROR);
  handle = 0x1234;
  EXPECT_EQ(NSFFormulaCompile(nullptr, 0, "1 +", 3, &handle, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr),
            ERR_FORMULA_COMPILE);
  EXPECT_EQ(handle, NULLHANDLE);
  WORD length = 0xEEEE;
  STATUS error = 0xFFFF;
  EXPECT_EQ(NSFFormulaCompile(nullptr, 0, "1", 1, nullptr, &length, &error, nullptr, nullptr,
                              nullptr, nullptr),
            ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(error, NOERROR);
  handle = 0x1234;
  EXPECT_EQ(NSFFormulaCompile(nullptr, 0, nullptr, 0, &handle, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr),
            ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(handle, NULLHANDLE);
  DHANDLE text = 0x1234;
  EXPECT_EQ(NSFFormulaDecompile(nullptr, FALSE, &text, nullptr), ERR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(text, NULLHANDLE);
}

TEST_F(FormulaTest, SourceIsLimitedByTheCompiledLength) {
  const std::string longest = "\"" + std::string(65525, 'x') + "\"";
  const Compiled fits = Compile(longest);
  ASSERT_EQ(fits.status, NOERROR);
  EXPECT_EQ(fits.length, 0xFFFF);
  EXPECT_EQ(OSMemFree(fits.handle), NOERROR);
  const Compiled refused = Compile("\"" + std::string(65526, 'x') + "\"");
  EXPECT_EQ(refused.status, ERR_FORMULA_TOO_LONG);
  EXPECT_EQ(refused.handle, NULLHANDLE);
  EXPECT_EQ(refused.length, 0);
  EXPECT_EQ(refused.error, NOERROR);
  EXPECT_EQ(Compile(std::string(0xFFFF, ' ')).status, ERR_FORMULA_TOO_LONG);
  EXPECT_EQ(Compile(std::string(70000, ' '), 0).status, ERR_FORMULA_TOO_LONG)
      << "measured up to the NUL, past what a length could say";

  std::string chain;
  while (chain.size() < 65520)
    chain += "1+";
  ExpectRoundTrip(chain + "1");
  std::string statements;
  while (statements.size() < 65000)
    statements += "x:=x:1;";
  ExpectRoundTrip(statements);
}

TEST_F(FormulaTest, NestingIsBounded) {
  const auto nested = [](const std::string& open, const std::string& close, size_t depth) {
    std::string text;
    for (size_t i = 0; i < depth; ++i)
      text += open;
    text += "1";
    for (size_t i = 0; i < depth; ++i)
      text += close;
    return text;
  };
  ExpectRoundTrip(nested("(", ")", 256));
  ExpectRefused({nested("(", ")", 257), ERR_FORMULA_TOO_DEEP, 1, 257, 256, 1});
  ExpectRoundTrip(nested("-", "", 256));
  ExpectRefused({nested("-", "", 257), ERR_FORMULA_TOO_DEEP, 1, 257, 256, 1});
  ExpectRoundTrip(nested("@Trim(", ")", 256));
  ExpectRefused({nested("@Trim(", ")", 257), ERR_FORMULA_TOO_DEEP, 1, 1542, 1541, 1});
  // Far deeper than any stack would take is refused at the same place.
  ExpectRefused({nested("(", ")", 30000), ERR_FORMULA_TOO_DEEP, 1, 257, 256, 1});
  ExpectRefused({nested("x[", "]", 300), ERR_FORMULA_TOO_DEEP, 1, 514, 513, 1});
}

TEST_F(FormulaTest, AllocationFailureLeavesNoBlock) {
  HostTestFailAllocation(1);
  const Compiled compiled = Compile("SELECT @All");
  EXPECT_EQ(compiled.status, ERR_MEMORY);
  EXPECT_EQ(compiled.handle, NULLHANDLE);
  EXPECT_EQ(compiled.length, 0);
  EXPECT_EQ(HostTestLiveHandles(), liveBefore_);
  const Compiled good = Compile("SELECT @All");
  ASSERT_EQ(good.status, NOERROR);
  HostTestFailAllocation(1);
  std::string text;
  EXPECT_EQ(DecompileAt(static_cast<const char*>(OSLockObject(good.handle)), &text), ERR_MEMORY);
  OSUnlockObject(good.handle);
  EXPECT_EQ(OSMemFree(good.handle), NOERROR);
}

} // namespace
