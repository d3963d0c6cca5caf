/*
 * The formula language's syntax checker: a tokenizer over LMBCS bytes and a
 * recursive-descent parser that climbs the operator precedences. It stops
 * at the first error and reports its place. Asked for it, the parser also
 * writes the formula in postfix order for the evaluator
 * (host/formula_compute.cpp); it checks no argument counts and evaluates
 * nothing.
 *
 * Syntax characters are ASCII. Inside string constants the tokenizer steps
 * over whole LMBCS characters, so a trail byte that happens to equal a
 * quote, a backslash or a brace never ends the string.
 */
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include <unicode/uchar.h>

#include "host/formula_internal.h"
#include "host/host_internal.h"
#include "host/status.h"

namespace velko::host {
namespace {

enum class TokenKind : uint8_t {
  kEnd,
  kError,
  kNumber,
  kText, // "..." or {...}
  kBracketConstant, // [Keyword] or [time-date], read only where an operand may start
  kName,
  kFunction, // "@" and the name
  kSelect,
  kField,
  kDefault,
  kEnvironment,
  kRem,
  kAssign,
  kSemicolon,
  kOpenParen,
  kCloseParen,
  kOpenBracket,
  kCloseBracket,
  kColon,
  kNot,
  kPlus,
  kMinus,
  kAdditive,       // the permuted "*+" and "*-"
  kMultiplicative, // "*", "/" and the permuted "**" and "*/"
  kComparison,     // every comparison, plain or permuted
  kLogical,        // "&" and "|"
};

struct Token {
  TokenKind kind = TokenKind::kEnd;
  size_t offset = 0;
  size_t length = 0;
  STATUS error = NOERROR; // the reason of a kError token
};

// Binding levels, loosest first; a prefix operator's operand is read at the
// level given here.
constexpr int kLevelLogical = 1;
constexpr int kLevelComparison = 3; // the operand of "!"
constexpr int kLevelAdditive = 4;
constexpr int kLevelMultiplicative = 5;
constexpr int kLevelList = 7; // the operand of a sign

int BinaryLevel(TokenKind kind) {
  switch (kind) {
  case TokenKind::kLogical:
    return kLevelLogical;
  case TokenKind::kComparison:
    return kLevelComparison;
  case TokenKind::kPlus:
  case TokenKind::kMinus:
  case TokenKind::kAdditive:
    return kLevelAdditive;
  case TokenKind::kMultiplicative:
    return kLevelMultiplicative;
  case TokenKind::kColon:
    return kLevelList;
  default:
    return 0;
  }
}

bool IsAsciiLetter(BYTE c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(BYTE c) { return c >= '0' && c <= '9'; }
bool IsBlank(BYTE c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

TokenKind KeywordOrName(std::string_view name) {
  if (EqualsIgnoringCase(name, "SELECT"))
    return TokenKind::kSelect;
  if (EqualsIgnoringCase(name, "FIELD"))
    return TokenKind::kField;
  if (EqualsIgnoringCase(name, "DEFAULT"))
    return TokenKind::kDefault;
  if (EqualsIgnoringCase(name, "ENVIRONMENT"))
    return TokenKind::kEnvironment;
  if (EqualsIgnoringCase(name, "REM"))
    return TokenKind::kRem;
  return TokenKind::kName;
}

// Characters a bracket constant may hold: keywords ([Sorted]) and
// time-dates ([12/06/2026 10:00 AM], ranges with "-").
bool IsBracketConstantChar(BYTE c) {
  return IsAsciiLetter(c) || IsDigit(c) || c == ' ' || c == '\t' || c == '/' || c == ':' ||
         c == '.' || c == '-' || c == ',' || c == '+' || c == '_';
}

class Lexer {
public:
  explicit Lexer(std::string_view text) : text_(text) {}

  Token Next() {
    const Token token = Scan(pos_);
    pos_ = token.offset + token.length;
    return token;
  }
  Token Peek() const { return Scan(pos_); }
  // Reads the bracket constant whose "[" is at open; the next token
  // follows it.
  Token NextBracketConstant(size_t open);

private:
  BYTE Byte(size_t at) const { return static_cast<BYTE>(text_[at]); }
  size_t Size() const { return text_.size(); }
  // The bytes of the character at at, cut to the end of the text.
  size_t CharLength(size_t at) const { return std::min(LmbcsCharLength(Byte(at)), Size() - at); }
  static Token Make(TokenKind kind, size_t offset, size_t length) { return {kind, offset, length}; }
  static Token Error(STATUS code, size_t offset, size_t length) {
    return {TokenKind::kError, offset, length, code};
  }

  Token Scan(size_t at) const;
  Token ScanQuoted(size_t at) const;
  Token ScanBraced(size_t at) const;
  Token ScanNumber(size_t at) const;
  Token ScanFunction(size_t at) const;
  Token ScanName(size_t at) const;
  Token ScanOperator(size_t at) const;
  size_t ComparisonLength(size_t at) const;
  size_t NameCharLength(size_t at, bool first) const;
  bool StepChar(size_t* at) const;

  std::string_view text_;
  size_t pos_ = 0;
};

Token Lexer::Scan(size_t at) const {
  while (at < Size() && IsBlank(Byte(at)))
    ++at;
  if (at >= Size())
    return Make(TokenKind::kEnd, Size(), 0);
  const BYTE c = Byte(at);
  if (c == '"')
    return ScanQuoted(at);
  if (c == '{')
    return ScanBraced(at);
  if (IsDigit(c) || (c == '.' && at + 1 < Size() && IsDigit(Byte(at + 1))))
    return ScanNumber(at);
  if (c == '@')
    return ScanFunction(at);
  if (NameCharLength(at, true) > 0)
    return ScanName(at);
  return ScanOperator(at);
}

// Moves past one whole character; false when the text ends inside it.
bool Lexer::StepChar(size_t* at) const {
  const size_t length = LmbcsCharLength(Byte(*at));
  if (*at + length > Size())
    return false;
  *at += length;
  return true;
}

// "...", where a backslash takes the next character as it is.
Token Lexer::ScanQuoted(size_t at) const {
  size_t i = at + 1;
  while (i < Size()) {
    const BYTE c = Byte(i);
    if (c == '"')
      return Make(TokenKind::kText, at, i + 1 - at);
    if (c == '\\' && ++i >= Size())
      break;
    if (!StepChar(&i))
      break;
  }
  return Error(ERR_FORMULA_UNTERMINATED, at, Size() - at);
}

// {...}, taken as it is up to the closing brace.
Token Lexer::ScanBraced(size_t at) const {
  size_t i = at + 1;
  while (i < Size()) {
    if (Byte(i) == '}')
      return Make(TokenKind::kText, at, i + 1 - at);
    if (!StepChar(&i))
      break;
  }
  return Error(ERR_FORMULA_UNTERMINATED, at, Size() - at);
}

// Digits, an optional fraction and an optional exponent. An "E" without
// exponent digits is left to be read as a name (and refused there).
Token Lexer::ScanNumber(size_t at) const {
  size_t i = at;
  while (i < Size() && IsDigit(Byte(i)))
    ++i;
  if (i < Size() && Byte(i) == '.') {
    ++i;
    while (i < Size() && IsDigit(Byte(i)))
      ++i;
  }
  if (i < Size() && (Byte(i) == 'e' || Byte(i) == 'E')) {
    size_t exponent = i + 1;
    if (exponent < Size() && (Byte(exponent) == '+' || Byte(exponent) == '-'))
      ++exponent;
    if (exponent < Size() && IsDigit(Byte(exponent))) {
      i = exponent;
      while (i < Size() && IsDigit(Byte(i)))
        ++i;
    }
  }
  return Make(TokenKind::kNumber, at, i - at);
}

Token Lexer::ScanFunction(size_t at) const {
  size_t i = at + 1;
  if (i >= Size() || !IsAsciiLetter(Byte(i)))
    return Error(ERR_FORMULA_UNEXPECTED, at, 1);
  while (i < Size() && (IsAsciiLetter(Byte(i)) || IsDigit(Byte(i))))
    ++i;
  return Make(TokenKind::kFunction, at, i - at);
}

// The bytes of the character at at when it may stand in a name: a letter
// (any script), "_" or "$", and after the first character also a digit or
// "."; 0 otherwise.
size_t Lexer::NameCharLength(size_t at, bool first) const {
  const BYTE c = Byte(at);
  if (IsAsciiLetter(c) || c == '_' || c == '$')
    return 1;
  if (IsDigit(c) || c == '.')
    return first ? 0 : 1;
  if (c < 0x80 && LmbcsCharLength(c) == 1)
    return 0;
  if (at + LmbcsCharLength(c) > Size())
    return 0;
  // Decoded from a zero-padded copy: the decoder may look past the
  // character for the second half of a surrogate pair.
  BYTE copy[8] = {};
  const size_t available = std::min<size_t>(6, Size() - at);
  std::copy_n(text_.data() + at, available, reinterpret_cast<char*>(copy));
  size_t length = 0;
  const UChar32 codePoint = DecodeLmbcsChar(copy, &length);
  if (length == 0 || length > available || !u_isalpha(codePoint))
    return 0;
  return length;
}

Token Lexer::ScanName(size_t at) const {
  size_t i = at;
  while (i < Size()) {
    const size_t length = NameCharLength(i, i == at);
    if (length == 0)
      break;
    i += length;
  }
  return Make(KeywordOrName(text_.substr(at, i - at)), at, i - at);
}

// The length of a plain comparison operator at at; 0 when there is none.
size_t Lexer::ComparisonLength(size_t at) const {
  if (at >= Size())
    return 0;
  const BYTE next = at + 1 < Size() ? Byte(at + 1) : 0;
  switch (Byte(at)) {
  case '=':
    return next == '!' ? 2 : 1;
  case '!':
    return next == '=' ? 2 : 0;
  case '<':
    return next == '>' || next == '=' ? 2 : 1;
  case '>':
    return next == '<' || next == '=' ? 2 : 1;
  default:
    return 0;
  }
}

// Operators and punctuation, longest match first: "*<=" is one permuted
// comparison, "a*-b" a permuted subtraction.
Token Lexer::ScanOperator(size_t at) const {
  const size_t comparison = ComparisonLength(at);
  if (comparison > 0)
    return Make(TokenKind::kComparison, at, comparison);
  const BYTE next = at + 1 < Size() ? Byte(at + 1) : 0;
  switch (Byte(at)) {
  case ';':
    return Make(TokenKind::kSemicolon, at, 1);
  case '(':
    return Make(TokenKind::kOpenParen, at, 1);
  case ')':
    return Make(TokenKind::kCloseParen, at, 1);
  case '[':
    return Make(TokenKind::kOpenBracket, at, 1);
  case ']':
    return Make(TokenKind::kCloseBracket, at, 1);
  case ':':
    return next == '=' ? Make(TokenKind::kAssign, at, 2) : Make(TokenKind::kColon, at, 1);
  case '!':
    return Make(TokenKind::kNot, at, 1);
  case '&':
  case '|':
    return Make(TokenKind::kLogical, at, 1);
  case '+':
    return Make(TokenKind::kPlus, at, 1);
  case '-':
    return Make(TokenKind::kMinus, at, 1);
  case '/':
    return Make(TokenKind::kMultiplicative, at, 1);
  case '*': {
    const size_t permuted = ComparisonLength(at + 1);
    if (permuted > 0)
      return Make(TokenKind::kComparison, at, 1 + permuted);
    if (next == '+' || next == '-')
      return Make(TokenKind::kAdditive, at, 2);
    if (next == '*' || next == '/')
      return Make(TokenKind::kMultiplicative, at, 2);
    return Make(TokenKind::kMultiplicative, at, 1);
  }
  default:
    return Error(ERR_FORMULA_UNEXPECTED, at, CharLength(at));
  }
}

Token Lexer::NextBracketConstant(size_t open) {
  size_t close = open + 1;
  while (close < Size() && IsBracketConstantChar(Byte(close)))
    ++close;
  if (close >= Size() || Byte(close) != ']')
    return Error(ERR_FORMULA_UNTERMINATED, open, close - open);
  size_t first = open + 1;
  while (first < close && (Byte(first) == ' ' || Byte(first) == '\t'))
    ++first;
  const size_t length = close + 1 - open;
  if (first == close || !(IsAsciiLetter(Byte(first)) || IsDigit(Byte(first))))
    return Error(ERR_FORMULA_UNEXPECTED, open, length);
  pos_ = close + 1;
  return Make(TokenKind::kBracketConstant, open, length);
}

// Every parse function returns false once an error is recorded; parsing
// does not resume after the first error.
class Parser {
public:
  Parser(std::string_view text, FormulaProgram* program)
      : text_(text), lexer_(text), program_(program) {}
  FormulaSyntaxError Run();

private:
  bool Advance();
  bool Fail(STATUS code, const Token& at);
  bool Unexpected() { return Fail(ERR_FORMULA_UNEXPECTED, current_); }
  bool Enter(const Token& at);
  void Leave() { --nesting_; }

  bool ParseStatement();
  bool ParseArgument();
  bool ParseKeywordAssignment();
  bool ParseExpression(int minLevel);
  bool ParseOperand();
  bool ParsePostfix();
  bool ParsePrimary();
  bool ParseParenthesized();
  bool ParseFunction();
  bool ParseClosing(TokenKind closing, const Token& open);
  void Emit(FormulaOp op, const Token& token, size_t count = 0);

  std::string_view text_;
  Lexer lexer_;
  FormulaProgram* program_; // null: check only
  Token current_;
  size_t nesting_ = 0;
  FormulaSyntaxError error_;
};

FormulaSyntaxError Parser::Run() {
  if (!Advance())
    return error_;
  while (current_.kind != TokenKind::kEnd) {
    // Empty statements (";;", a trailing ";") are allowed.
    if (current_.kind == TokenKind::kSemicolon) {
      if (!Advance())
        return error_;
      continue;
    }
    if (!ParseStatement())
      return error_;
    if (current_.kind != TokenKind::kSemicolon && current_.kind != TokenKind::kEnd) {
      Unexpected();
      return error_;
    }
  }
  return error_;
}

bool Parser::Advance() {
  current_ = lexer_.Next();
  if (current_.kind != TokenKind::kError)
    return true;
  return Fail(current_.error, current_);
}

bool Parser::Fail(STATUS code, const Token& at) {
  error_ = {code, at.offset, at.length};
  return false;
}

void Parser::Emit(FormulaOp op, const Token& token, size_t count) {
  if (program_ != nullptr)
    program_->push_back({op, text_.substr(token.offset, token.length), count});
}

bool Parser::Enter(const Token& at) {
  if (nesting_ >= kMaxFormulaNesting)
    return Fail(ERR_FORMULA_TOO_DEEP, at);
  ++nesting_;
  return true;
}

bool Parser::ParseStatement() {
  switch (current_.kind) {
  case TokenKind::kRem:
    if (!Advance())
      return false;
    if (current_.kind != TokenKind::kText)
      return Unexpected();
    return Advance();
  case TokenKind::kSelect: {
    const Token select = current_;
    if (!Advance() || !ParseExpression(kLevelLogical))
      return false;
    Emit(FormulaOp::kSelect, select);
    return true;
  }
  default: {
    const Token start = current_;
    if (!ParseArgument())
      return false;
    Emit(FormulaOp::kStatement, start);
    return true;
  }
  }
}

// An assignment or an expression: a statement other than SELECT and REM,
// or one argument of an @function.
bool Parser::ParseArgument() {
  switch (current_.kind) {
  case TokenKind::kField:
  case TokenKind::kDefault:
  case TokenKind::kEnvironment:
    return ParseKeywordAssignment();
  case TokenKind::kName: {
    if (lexer_.Peek().kind != TokenKind::kAssign)
      break;
    const Token name = current_;
    if (!Advance() || !Advance() || !ParseExpression(kLevelLogical))
      return false;
    Emit(FormulaOp::kAssign, name);
    return true;
  }
  default:
    break;
  }
  return ParseExpression(kLevelLogical);
}

// FIELD, DEFAULT or ENVIRONMENT, a name, ":=" and a value.
bool Parser::ParseKeywordAssignment() {
  const FormulaOp op = current_.kind == TokenKind::kField     ? FormulaOp::kField
                       : current_.kind == TokenKind::kDefault ? FormulaOp::kDefault
                                                              : FormulaOp::kEnvironment;
  if (!Advance())
    return false;
  if (current_.kind != TokenKind::kName)
    return Unexpected();
  const Token name = current_;
  if (!Advance())
    return false;
  if (current_.kind != TokenKind::kAssign)
    return Unexpected();
  if (!Advance() || !ParseExpression(kLevelLogical))
    return false;
  Emit(op, name);
  return true;
}

// An operand and the binary operators binding at least as tight as
// minLevel, left to right.
bool Parser::ParseExpression(int minLevel) {
  if (!ParseOperand())
    return false;
  for (;;) {
    const int level = BinaryLevel(current_.kind);
    if (level == 0 || level < minLevel)
      return true;
    const Token op = current_;
    if (!Advance() || !ParseExpression(level + 1))
      return false;
    Emit(FormulaOp::kBinary, op);
  }
}

// A prefix operator ("!", "+", "-") and its operand, or a postfix
// expression.
bool Parser::ParseOperand() {
  int operandLevel = 0;
  if (current_.kind == TokenKind::kNot)
    operandLevel = kLevelComparison;
  else if (current_.kind == TokenKind::kPlus || current_.kind == TokenKind::kMinus)
    operandLevel = kLevelList;
  else
    return ParsePostfix();
  const Token op = current_;
  if (!Enter(current_) || !Advance() || !ParseExpression(operandLevel))
    return false;
  Leave();
  Emit(FormulaOp::kUnary, op);
  return true;
}

// A primary and its subscripts: value[index][index]...
bool Parser::ParsePostfix() {
  if (!ParsePrimary())
    return false;
  while (current_.kind == TokenKind::kOpenBracket) {
    const Token open = current_;
    if (!Enter(open) || !Advance() || !ParseExpression(kLevelLogical) ||
        !ParseClosing(TokenKind::kCloseBracket, open))
      return false;
    Leave();
    Emit(FormulaOp::kSubscript, open);
  }
  return true;
}

bool Parser::ParsePrimary() {
  switch (current_.kind) {
  case TokenKind::kNumber:
    Emit(FormulaOp::kNumber, current_);
    return Advance();
  case TokenKind::kText:
    Emit(FormulaOp::kText, current_);
    return Advance();
  case TokenKind::kName:
    Emit(FormulaOp::kName, current_);
    return Advance();
  case TokenKind::kOpenBracket:
    // Where an operand starts, "[" opens a keyword or time-date constant.
    current_ = lexer_.NextBracketConstant(current_.offset);
    if (current_.kind == TokenKind::kError)
      return Fail(current_.error, current_);
    Emit(FormulaOp::kConstant, current_);
    return Advance();
  case TokenKind::kFunction:
    return ParseFunction();
  case TokenKind::kOpenParen:
    return ParseParenthesized();
  default:
    return Unexpected();
  }
}

bool Parser::ParseParenthesized() {
  const Token open = current_;
  if (!Enter(open) || !Advance() || !ParseExpression(kLevelLogical) ||
      !ParseClosing(TokenKind::kCloseParen, open))
    return false;
  Leave();
  return true;
}

// @Name, or @Name(argument; argument; ...); "()" is an empty list.
bool Parser::ParseFunction() {
  const Token name = current_;
  if (!IsKnownFormulaFunction(text_.substr(name.offset + 1, name.length - 1)))
    return Fail(ERR_FORMULA_UNKNOWN_FUNCTION, name);
  if (!Advance())
    return false;
  if (current_.kind != TokenKind::kOpenParen) {
    Emit(FormulaOp::kCall, name, 0);
    return true;
  }
  const Token open = current_;
  if (!Enter(open) || !Advance())
    return false;
  size_t count = 0;
  const size_t firstArgument = program_ != nullptr ? program_->size() : 0;
  if (current_.kind != TokenKind::kCloseParen) {
    for (;;) {
      if (!ParseArgument())
        return false;
      ++count;
      if (current_.kind != TokenKind::kSemicolon)
        break;
      if (!Advance())
        return false;
    }
  }
  if (!ParseClosing(TokenKind::kCloseParen, open))
    return false;
  Leave();
  // @IsAvailable asks about a name, not its value.
  if (program_ != nullptr && count == 1 && program_->size() == firstArgument + 1 &&
      program_->back().op == FormulaOp::kName &&
      EqualsIgnoringCase(text_.substr(name.offset + 1, name.length - 1), "IsAvailable")) {
    program_->back().op = FormulaOp::kIsAvailable;
    return true;
  }
  Emit(FormulaOp::kCall, name, count);
  return true;
}

// The closing ")" or "]" of open: a formula that ends first leaves open
// unterminated; anything else in its place is unexpected.
bool Parser::ParseClosing(TokenKind closing, const Token& open) {
  if (current_.kind == closing)
    return Advance();
  if (current_.kind == TokenKind::kEnd)
    return Fail(ERR_FORMULA_UNTERMINATED, open);
  return Unexpected();
}

// The @functions the compiler accepts, without "@".
constexpr std::string_view kKnownFunctions[] = {
    "Abs", "Abstract", "AbstractSimple", "Accessed", "ACos", "AddToFolder", "Adjust", "All",
    "AllChildren", "AllDescendants", "Ascii", "ASin", "ATan", "ATan2", "AttachmentLengths",
    "AttachmentModifiedTimes", "AttachmentNames", "Attachments", "Author", "Begins",
    "BrowserInfo", "BusinessDays", "Certificate", "Char", "CheckAlarms", "CheckFormulaSyntax",
    "ClientType", "Command", "Compare", "ComputeWithForm", "ConfigFile", "Contains", "Cos",
    "Count", "Created", "Date", "Day", "DbColumn", "DbCommand", "DbExists", "DbLookup",
    "DbManager", "DbName", "DbTitle", "DDEExecute", "DDEInitiate", "DDEPoke", "DDETerminate",
    "DeleteDocument", "DeleteField", "DialogBox", "Do", "DocChildren", "DocDescendants",
    "DocFields", "DocLength", "DocLevel", "DocLock", "DocMark", "DocNumber", "DocOmittedLength",
    "DocParentNumber", "DocSiblings", "DocumentUniqueID", "Domain", "EditECL", "EditUserECL",
    "Elements", "EnableAlarms", "Ends", "Environment", "Error", "Eval", "Exp", "Explode",
    "Failure", "False", "FileDir", "FloatEq", "FontList", "For", "FormLanguage",
    "GetAddressBooks", "GetCurrentTimeZone", "GetDocField", "GetField", "GetFocusTable",
    "GetHTTPHeader", "GetIMContactListGroupNames", "GetPortsList", "GetProfileField",
    "GetViewInfo", "HardDeleteDocument", "HashPassword", "Hour", "If", "IfError", "Implode",
    "InheritedDocumentUniqueID", "Integer", "IsAgentEnabled", "IsAppInstalled", "IsAvailable",
    "IsCategory", "IsDB2", "IsDocBeingEdited", "IsDocBeingLoaded", "IsDocBeingMailed",
    "IsDocBeingRecalculated", "IsDocBeingSaved", "IsDocTruncated", "IsEmbeddedInsideWCT",
    "IsError", "IsExpandable", "IsMember", "IsModalHelp", "IsNewDoc", "IsNotMember", "IsNull",
    "IsNumber", "IsResponseDoc", "IsText", "IsTime", "IsUnavailable", "IsUsingJavaElement",
    "IsValid", "IsVirtualizedDirectory", "Keywords", "LanguagePreference", "LaunchApp",
    "LDAPServer", "Left", "LeftBack", "Length", "Like", "Ln", "Locale", "Log", "LowerCase",
    "MailDbName", "MailEncryptSavedPreference", "MailEncryptSentPreference",
    "MailSavePreference", "MailSend", "MailSignPreference", "Matches", "Max", "Member",
    "Middle", "MiddleBack", "Min", "Minute", "Modified", "Modulo", "Month", "Name",
    "NameLookup", "Narrow", "NewLine", "No", "NoteID", "Nothing", "Now", "OptimizeMailAddress",
    "OrgDir", "Password", "PasswordQuality", "Pi", "PickList", "Platform", "PostedCommand",
    "Power", "Prompt", "ProperCase", "Random", "RefreshECL", "RegQueryValue", "Repeat",
    "Replace", "ReplaceSubstring", "Responses", "Return", "Right", "RightBack", "Round",
    "Second", "Select", "ServerAccess", "ServerName", "Set", "SetDocField", "SetEnvironment",
    "SetField", "SetHTTPHeader", "SetProfileField", "SetTargetFrame", "SetViewInfo",
    "ShowParentPreview", "Sign", "Sin", "Sort", "Soundex", "Sqrt", "StatusBar", "Subset",
    "Success", "Sum", "Tan", "TemplateVersion", "Text", "TextToNumber", "TextToTime",
    "ThisName", "ThisValue", "Time", "TimeMerge", "TimeToTextInZone", "TimeZoneToText",
    "Today", "Tomorrow", "ToNumber", "ToTime", "Transform", "Trim", "True", "Unavailable",
    "Unique", "UpdateFormulaContext", "UpperCase", "URLDecode", "URLEncode", "URLGetHeader",
    "URLHistory", "URLOpen", "UrlQueryString", "UserAccess", "UserName", "UserNameLanguage",
    "UserNamesList", "UserPrivileges", "UserRoles", "V2If", "V3UserName", "V4UserAccess",
    "ValidateInternetAddress", "VerifyPassword", "Version", "ViewShowThisUnread", "ViewTitle",
    "WebDbName", "Weekday", "While", "Wide", "Word", "Year", "Yes", "Yesterday", "Zone",
};

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), AsciiLower);
  return lower;
}

const std::vector<std::string>& LowerCaseFunctionNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> lower;
    for (const std::string_view name : kKnownFunctions)
      lower.push_back(LowerAscii(name));
    std::sort(lower.begin(), lower.end());
    return lower;
  }();
  return names;
}

} // namespace

bool IsKnownFormulaFunction(std::string_view name) {
  const std::vector<std::string>& names = LowerCaseFunctionNames();
  return std::binary_search(names.begin(), names.end(), LowerAscii(name));
}

FormulaSyntaxError CheckFormulaSyntax(std::string_view formula) {
  return Parser(formula, nullptr).Run();
}

FormulaSyntaxError CompileFormulaProgram(std::string_view formula, FormulaProgram* program) {
  program->clear();
  const FormulaSyntaxError error = Parser(formula, program).Run();
  if (error.code != NOERROR)
    program->clear();
  return error;
}

FormulaPosition FormulaPositionOf(std::string_view formula, size_t offset) {
  FormulaPosition position;
  size_t at = 0;
  const size_t end = std::min(offset, formula.size());
  while (at < end) {
    const BYTE c = static_cast<BYTE>(formula[at]);
    if (c == '\r' || c == '\n') {
      if (c == '\r' && at + 1 < end && formula[at + 1] == '\n')
        ++at;
      ++at;
      ++position.line;
      position.column = 1;
      continue;
    }
    at += LmbcsCharLength(c);
    ++position.column;
  }
  return position;
}

} // namespace velko::host
