/*
 * NSFComputeStart, NSFComputeEvaluate and NSFComputeStop: the formula
 * evaluator of the stand-in.
 *
 * Starting a formula checks its compiled header and turns its source into
 * postfix instructions (host/formula_parser.cpp); evaluating runs them over
 * a value stack, so no formula can deepen the C++ stack beyond the parser's
 * nesting cap. Values are lists of text, of numbers or of times (a time
 * entry may be a pair); operators work pairwise, the shorter list repeating
 * its last entry, and the permuted operators pair every entry with every
 * entry. Lists and texts are capped (ERR_FORMULA_TOO_BIG). Every argument
 * of an @function is evaluated before the call, @If's branches included.
 *
 * It does not change the note: FIELD assignments set a variable that
 * shadows the field for the rest of the formula, and @functions that would
 * act on the user interface, other databases or the environment compile but
 * give ERR_FORMULA_NOT_AVAILABLE here.
 */
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/formula.h"
#include "host/formula_internal.h"
#include "host/host_internal.h"
#include "host/nsfdata.h"
#include "host/nsfnote.h"
#include "host/osmem.h"
#include "host/status.h"
#include "host/textlist.h"
#include "host/timedate.h"

namespace velko::host {
namespace {

// Entries of one list value, and the text bytes of one value together: a
// result must fit a 64 KB block, which holds 8192 numbers at most.
constexpr size_t kMaxListEntries = 8192;
constexpr size_t kMaxTextBytes = 65535;
// Values the evaluator's stack may hold at once (arguments waiting for
// their @function), which bounds its memory.
constexpr size_t kMaxStackDepth = 512;

// Thrown inside the evaluator and turned into the call's status.
struct FormulaFailure {
  STATUS status;
};

[[noreturn]] void Fail(STATUS status) { throw FormulaFailure{status}; }

enum class ValueType : uint8_t { kText, kNumber, kTime };

struct TimeEntry {
  TIMEDATE lower{};
  TIMEDATE upper{};
  bool pair = false;
};

struct Value {
  ValueType type = ValueType::kText;
  std::vector<std::string> texts;
  std::vector<double> numbers;
  std::vector<TimeEntry> times;

  size_t Size() const {
    switch (type) {
    case ValueType::kText:
      return texts.size();
    case ValueType::kNumber:
      return numbers.size();
    case ValueType::kTime:
      return times.size();
    }
    return 0;
  }
};

Value Text(std::string text) {
  Value value;
  value.texts.push_back(std::move(text));
  return value;
}

Value Number(double number) {
  Value value;
  value.type = ValueType::kNumber;
  value.numbers.push_back(number);
  return value;
}

Value Boolean(bool truth) { return Number(truth ? 1.0 : 0.0); }

Value Time(const TIMEDATE& time) {
  Value value;
  value.type = ValueType::kTime;
  value.times.push_back({time, time, false});
  return value;
}

Value EmptyOf(ValueType type) {
  Value value;
  value.type = type;
  return value;
}

// Refuses a value past the caps.
void CheckSize(const Value& value) {
  if (value.Size() > kMaxListEntries)
    Fail(ERR_FORMULA_TOO_BIG);
  if (value.type != ValueType::kText)
    return;
  size_t bytes = 0;
  for (const std::string& text : value.texts)
    bytes += text.size();
  if (bytes > kMaxTextBytes)
    Fail(ERR_FORMULA_TOO_BIG);
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

// Case changes touch ASCII letters only and step over whole LMBCS
// characters, whose trail bytes may look like letters.
template <typename Change> std::string ChangeCase(std::string_view text, Change change) {
  std::string out(text);
  size_t at = 0;
  while (at < out.size()) {
    const size_t length = LmbcsCharLength(static_cast<BYTE>(out[at]));
    if (length == 1)
      out[at] = change(out[at]);
    at += length;
  }
  return out;
}

// Byte offsets of the LMBCS characters of a text, and its end.
std::vector<size_t> CharStarts(std::string_view text) {
  std::vector<size_t> starts;
  size_t at = 0;
  while (at < text.size()) {
    starts.push_back(at);
    at += LmbcsCharLength(static_cast<BYTE>(text[at]));
  }
  starts.push_back(text.size());
  return starts;
}

std::string FormatNumber(double number) {
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", number);
  return text;
}

std::string FormatTime(const TimeEntry& entry) {
  char text[TIMEDATE_PAIR_TEXT_LENGTH + 1];
  WORD length = 0;
  STATUS status;
  if (entry.pair) {
    const TIMEDATE_PAIR pair{entry.lower, entry.upper};
    status = ConvertTIMEDATEPAIRToText(nullptr, nullptr, &pair, text, sizeof text, &length);
  } else {
    status = ConvertTIMEDATEToText(nullptr, nullptr, &entry.lower, text, sizeof text, &length);
  }
  if (status != NOERROR)
    Fail(ERR_FORMULA_BAD_VALUE);
  return std::string(text, length);
}

int CompareTimes(const TIMEDATE& a, const TIMEDATE& b) {
  if (a.Innards[1] != b.Innards[1])
    return a.Innards[1] < b.Innards[1] ? -1 : 1;
  if (a.Innards[0] != b.Innards[0])
    return a.Innards[0] < b.Innards[0] ? -1 : 1;
  return 0;
}

TIMEDATE AddSeconds(const TIMEDATE& time, double seconds) {
  if (!std::isfinite(seconds) || std::fabs(seconds) > 1e12)
    Fail(ERR_FORMULA_BAD_VALUE);
  const int64_t whole = static_cast<int64_t>(std::llround(seconds));
  return TimeDateFromUnix(UnixFromTimeDate(time) + whole, time.Innards[0] % 100);
}

// ---- time-date constants: [MM/DD/YYYY] or [MM/DD/YYYY HH:MM[:SS] [AM|PM]];
// a range joins two with "-". A time without a date is not read.

bool ReadUnsigned(std::string_view text, size_t* at, unsigned* value) {
  size_t start = *at;
  unsigned result = 0;
  while (*at < text.size() && text[*at] >= '0' && text[*at] <= '9' && *at - start < 5)
    result = result * 10 + static_cast<unsigned>(text[(*at)++] - '0');
  *value = result;
  return *at > start;
}

void SkipBlanks(std::string_view text, size_t* at) {
  while (*at < text.size() && (text[*at] == ' ' || text[*at] == '\t'))
    ++(*at);
}

int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

bool ReadTimeDate(std::string_view text, size_t* at, TIMEDATE* out) {
  unsigned month = 0;
  unsigned day = 0;
  unsigned year = 0;
  SkipBlanks(text, at);
  if (!ReadUnsigned(text, at, &month) || *at >= text.size() || text[(*at)++] != '/' ||
      !ReadUnsigned(text, at, &day) || *at >= text.size() || text[(*at)++] != '/' ||
      !ReadUnsigned(text, at, &year))
    return false;
  static constexpr unsigned kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || year < 1 || year > 9999)
    return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day < 1 || day > kDaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0))
    return false;
  unsigned hour = 0;
  unsigned minute = 0;
  unsigned second = 0;
  SkipBlanks(text, at);
  size_t clock = *at;
  if (ReadUnsigned(text, &clock, &hour) && clock < text.size() && text[clock] == ':') {
    ++clock;
    if (!ReadUnsigned(text, &clock, &minute))
      return false;
    if (clock < text.size() && text[clock] == ':') {
      ++clock;
      if (!ReadUnsigned(text, &clock, &second))
        return false;
    }
    SkipBlanks(text, &clock);
    if (clock + 1 < text.size() && (text[clock + 1] == 'M' || text[clock + 1] == 'm')) {
      const char half = AsciiUpper(text[clock]);
      if ((half == 'A' || half == 'P') && hour >= 1 && hour <= 12) {
        hour = hour % 12 + (half == 'P' ? 12 : 0);
        clock += 2;
      }
    }
    if (hour > 23 || minute > 59 || second > 59)
      return false;
    *at = clock;
  }
  const int64_t days = DaysFromCivil(year, month, day);
  *out = TimeDateFromUnix(days * 86400 + hour * 3600 + minute * 60 + second);
  return true;
}

// A bracket constant: a time-date or a range of two, else a keyword (its
// text). One that starts with a digit must be a time-date.
Value BracketConstant(std::string_view token) {
  const std::string_view inner = token.substr(1, token.size() - 2);
  size_t at = 0;
  SkipBlanks(inner, &at);
  const bool numeric = at < inner.size() && inner[at] >= '0' && inner[at] <= '9';
  TimeEntry entry;
  if (numeric) {
    if (!ReadTimeDate(inner, &at, &entry.lower))
      Fail(ERR_FORMULA_BAD_VALUE);
    SkipBlanks(inner, &at);
    if (at < inner.size() && inner[at] == '-') {
      ++at;
      if (!ReadTimeDate(inner, &at, &entry.upper))
        Fail(ERR_FORMULA_BAD_VALUE);
      entry.pair = true;
      SkipBlanks(inner, &at);
    } else {
      entry.upper = entry.lower;
    }
    if (at != inner.size())
      Fail(ERR_FORMULA_BAD_VALUE);
    Value value = EmptyOf(ValueType::kTime);
    value.times.push_back(entry);
    return value;
  }
  size_t first = 0;
  size_t last = inner.size();
  while (first < last && (inner[first] == ' ' || inner[first] == '\t'))
    ++first;
  while (last > first && (inner[last - 1] == ' ' || inner[last - 1] == '\t'))
    --last;
  return Text(std::string(inner.substr(first, last - first)));
}

// "..." with backslash escapes, or {...} as it is.
Value TextConstant(std::string_view token) {
  const std::string_view inner = token.substr(1, token.size() - 2);
  if (token.front() == '{')
    return Text(std::string(inner));
  std::string text;
  size_t at = 0;
  while (at < inner.size()) {
    if (inner[at] == '\\' && at + 1 < inner.size())
      ++at;
    const size_t length = std::min(LmbcsCharLength(static_cast<BYTE>(inner[at])),
                                   inner.size() - at);
    text.append(inner.substr(at, length));
    at += length;
  }
  return Text(std::move(text));
}

Value NumberConstant(std::string_view token) {
  const std::string text(token);
  return Number(std::strtod(text.c_str(), nullptr));
}

// ---- reading the note's items

template <typename T> T ReadAt(const BYTE* data, size_t offset) {
  T value;
  std::memcpy(&value, data + offset, sizeof value);
  return value;
}

// An item value (type word first) as a formula value; a type the formula
// language does not read, or a damaged value, is "".
Value ValueOfItem(const BYTE* data, size_t length) {
  if (length < sizeof(WORD))
    return Text("");
  const WORD type = ReadAt<WORD>(data, 0);
  const BYTE* body = data + sizeof(WORD);
  const size_t size = length - sizeof(WORD);
  switch (type) {
  case TYPE_TEXT:
    return Text(std::string(reinterpret_cast<const char*>(body), size));
  case TYPE_TEXT_LIST: {
    if (length < 2 * sizeof(WORD))
      return Text("");
    Value value;
    const WORD count = ListGetNumEntries(data, TRUE);
    if (sizeof(WORD) * (2 + static_cast<size_t>(count)) > length)
      return Text("");
    size_t textAt = sizeof(WORD) * (2 + static_cast<size_t>(count));
    for (WORD i = 0; i < count; ++i) {
      const WORD entryLength = ReadAt<WORD>(data, sizeof(WORD) * (2 + static_cast<size_t>(i)));
      if (textAt + entryLength > length)
        return Text("");
      value.texts.emplace_back(reinterpret_cast<const char*>(data + textAt), entryLength);
      textAt += entryLength;
    }
    if (value.texts.empty())
      value.texts.emplace_back();
    return value;
  }
  case TYPE_NUMBER:
    if (size < sizeof(double))
      return Text("");
    return Number(ReadAt<double>(body, 0));
  case TYPE_TIME:
    if (size < sizeof(TIMEDATE))
      return Text("");
    return Time(ReadAt<TIMEDATE>(body, 0));
  case TYPE_NUMBER_RANGE:
  case TYPE_TIME_RANGE: {
    if (size < sizeof(RANGE))
      return Text("");
    const RANGE range = ReadAt<RANGE>(body, 0);
    const bool numbers = type == TYPE_NUMBER_RANGE;
    const size_t single = numbers ? sizeof(double) : sizeof(TIMEDATE);
    const size_t pairs = numbers ? 2 * sizeof(double) : sizeof(TIMEDATE_PAIR);
    if (sizeof(RANGE) + range.ListEntries * single + range.RangeEntries * pairs > size)
      return Text("");
    Value value = EmptyOf(numbers ? ValueType::kNumber : ValueType::kTime);
    size_t at = sizeof(RANGE);
    for (WORD i = 0; i < range.ListEntries; ++i, at += single) {
      if (numbers)
        value.numbers.push_back(ReadAt<double>(body, at));
      else
        value.times.push_back({ReadAt<TIMEDATE>(body, at), ReadAt<TIMEDATE>(body, at), false});
    }
    // Number pairs have no list form here; their lower ends stand for them.
    for (WORD i = 0; i < range.RangeEntries; ++i, at += pairs) {
      if (numbers) {
        value.numbers.push_back(ReadAt<double>(body, at));
      } else {
        const TIMEDATE_PAIR pair = ReadAt<TIMEDATE_PAIR>(body, at);
        value.times.push_back({pair.Lower, pair.Upper, true});
      }
    }
    CheckSize(value);
    return value;
  }
  default:
    return Text("");
  }
}

// A field of the note; a missing one (or no note) is "".
Value ReadField(NOTEHANDLE note, std::string_view name, bool* present = nullptr) {
  if (present != nullptr)
    *present = false;
  if (note == NULLHANDLE || name.size() > 0xFFFF)
    return Text("");
  WORD type = 0;
  BLOCKID valueBid{};
  DWORD valueLength = 0;
  if (NSFItemInfo(note, name.data(), static_cast<WORD>(name.size()), nullptr, &type, &valueBid,
                  &valueLength) != NOERROR)
    return Text("");
  if (present != nullptr)
    *present = true;
  const auto* data = static_cast<const BYTE*>(OSLockBlock(valueBid));
  if (data == nullptr)
    return Text("");
  struct Unlock {
    BLOCKID bid;
    ~Unlock() { OSUnlockBlock(bid); }
  } unlock{valueBid};
  return ValueOfItem(data, valueLength);
}

// ---- operators

// Entry i of a list used pairwise: its last entry stands for the rest.
double ToNumberEntry(const Value& value, size_t i) {
  if (value.numbers.empty())
    Fail(ERR_FORMULA_BAD_VALUE);
  return value.numbers[std::min(i, value.numbers.size() - 1)];
}

// A count from a number: 0 for NaN and below 1, whole part otherwise.
size_t CountOf(double number) {
  if (!(number >= 1.0))
    return 0;
  return static_cast<size_t>(std::min(number, 1e9));
}

size_t PairwiseSize(const Value& a, const Value& b) {
  if (a.Size() == 0 || b.Size() == 0)
    return 0;
  return std::max(a.Size(), b.Size());
}

// The entry pairs an operator visits: pairwise (the shorter list repeating
// its last entry) or permuted (every entry of a with every entry of b).
std::vector<std::pair<size_t, size_t>> EntryPairs(const Value& a, const Value& b, bool permuted) {
  std::vector<std::pair<size_t, size_t>> pairs;
  if (a.Size() == 0 || b.Size() == 0)
    return pairs;
  if (permuted) {
    if (a.Size() * b.Size() > kMaxListEntries)
      Fail(ERR_FORMULA_TOO_BIG);
    for (size_t i = 0; i < a.Size(); ++i)
      for (size_t j = 0; j < b.Size(); ++j)
        pairs.emplace_back(i, j);
    return pairs;
  }
  const size_t n = PairwiseSize(a, b);
  for (size_t i = 0; i < n; ++i)
    pairs.emplace_back(std::min(i, a.Size() - 1), std::min(i, b.Size() - 1));
  return pairs;
}

int CompareEntries(const Value& a, size_t i, const Value& b, size_t j) {
  if (a.type != b.type)
    Fail(ERR_FORMULA_DATA_TYPE);
  switch (a.type) {
  case ValueType::kText: {
    const int order = a.texts[i].compare(b.texts[j]);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
  }
  case ValueType::kNumber:
    return a.numbers[i] < b.numbers[j] ? -1 : a.numbers[i] > b.numbers[j] ? 1 : 0;
  case ValueType::kTime:
    return CompareTimes(a.times[i].lower, b.times[j].lower);
  }
  return 0;
}

bool Holds(std::string_view op, int order) {
  if (op == "=")
    return order == 0;
  if (op == "!=" || op == "=!" || op == "<>" || op == "><")
    return order != 0;
  if (op == "<")
    return order < 0;
  if (op == ">")
    return order > 0;
  if (op == "<=")
    return order <= 0;
  return order >= 0; // ">="
}

// True when the value is a number whose first entry is not 0.
bool Truth(const Value& value) {
  if (value.type != ValueType::kNumber)
    Fail(ERR_FORMULA_DATA_TYPE);
  return !value.numbers.empty() && value.numbers.front() != 0.0;
}

Value Concatenate(Value a, const Value& b) {
  if (a.type != b.type)
    Fail(ERR_FORMULA_DATA_TYPE);
  if (a.Size() + b.Size() > kMaxListEntries)
    Fail(ERR_FORMULA_TOO_BIG);
  a.texts.insert(a.texts.end(), b.texts.begin(), b.texts.end());
  a.numbers.insert(a.numbers.end(), b.numbers.begin(), b.numbers.end());
  a.times.insert(a.times.end(), b.times.begin(), b.times.end());
  CheckSize(a);
  return a;
}

double Arithmetic(char op, double x, double y) {
  switch (op) {
  case '+':
    return x + y;
  case '-':
    return x - y;
  case '*':
    return x * y;
  default:
    if (y == 0.0)
      Fail(ERR_FORMULA_BAD_VALUE);
    return x / y;
  }
}

// "+", "-", "*" and "/" over the pairs: numbers with numbers, texts joined
// by "+", a time and seconds, and time minus time in seconds.
Value ArithmeticOf(char op, const Value& a, const Value& b, bool permuted) {
  const auto pairs = EntryPairs(a, b, permuted);
  if (a.type == ValueType::kNumber && b.type == ValueType::kNumber) {
    Value out = EmptyOf(ValueType::kNumber);
    for (const auto& [i, j] : pairs)
      out.numbers.push_back(Arithmetic(op, a.numbers[i], b.numbers[j]));
    return out;
  }
  if (a.type == ValueType::kText && b.type == ValueType::kText && op == '+') {
    Value out;
    size_t bytes = 0;
    for (const auto& [i, j] : pairs) {
      bytes += a.texts[i].size() + b.texts[j].size();
      if (bytes > kMaxTextBytes)
        Fail(ERR_FORMULA_TOO_BIG);
      out.texts.push_back(a.texts[i] + b.texts[j]);
    }
    return out;
  }
  if (a.type == ValueType::kTime && b.type == ValueType::kTime && op == '-') {
    Value out = EmptyOf(ValueType::kNumber);
    for (const auto& [i, j] : pairs)
      out.numbers.push_back(static_cast<double>(UnixFromTimeDate(a.times[i].lower) -
                                                UnixFromTimeDate(b.times[j].lower)));
    return out;
  }
  const bool timeFirst = a.type == ValueType::kTime && b.type == ValueType::kNumber;
  const bool timeSecond = a.type == ValueType::kNumber && b.type == ValueType::kTime;
  if ((timeFirst && (op == '+' || op == '-')) || (timeSecond && op == '+')) {
    Value out = EmptyOf(ValueType::kTime);
    for (const auto& [i, j] : pairs) {
      const TIMEDATE& time = timeFirst ? a.times[i].lower : b.times[j].lower;
      const double seconds = timeFirst ? b.numbers[j] : a.numbers[i];
      const TIMEDATE moved = AddSeconds(time, op == '-' ? -seconds : seconds);
      out.times.push_back({moved, moved, false});
    }
    return out;
  }
  Fail(ERR_FORMULA_DATA_TYPE);
}

Value BinaryOf(std::string_view op, const Value& a, const Value& b) {
  if (op == ":")
    return Concatenate(a, b);
  if (op == "&")
    return Boolean(Truth(a) && Truth(b));
  if (op == "|")
    return Boolean(Truth(a) || Truth(b));
  const bool permuted = op.size() > 1 && op.front() == '*';
  const std::string_view bare = permuted ? op.substr(1) : op;
  if (bare == "+" || bare == "-" || bare == "*" || bare == "/") {
    Value out = ArithmeticOf(bare.front(), a, b, permuted);
    CheckSize(out);
    return out;
  }
  // A comparison holds when it holds for any pair.
  for (const auto& [i, j] : EntryPairs(a, b, permuted))
    if (Holds(bare, CompareEntries(a, i, b, j)))
      return Boolean(true);
  if (a.type != b.type)
    Fail(ERR_FORMULA_DATA_TYPE);
  return Boolean(false);
}

Value UnaryOf(std::string_view op, Value value) {
  if (value.type != ValueType::kNumber)
    Fail(ERR_FORMULA_DATA_TYPE);
  for (double& number : value.numbers) {
    if (op == "!")
      number = number == 0.0 ? 1.0 : 0.0;
    else if (op == "-")
      number = -number;
  }
  return value;
}

Value SubscriptOf(const Value& list, const Value& index) {
  if (index.type != ValueType::kNumber || index.numbers.empty())
    Fail(ERR_FORMULA_DATA_TYPE);
  const double position = index.numbers.front();
  if (!(position >= 1.0) || position > static_cast<double>(list.Size()))
    Fail(ERR_FORMULA_BAD_VALUE);
  const size_t at = static_cast<size_t>(position) - 1;
  Value out = EmptyOf(list.type);
  switch (list.type) {
  case ValueType::kText:
    out.texts.push_back(list.texts[at]);
    break;
  case ValueType::kNumber:
    out.numbers.push_back(list.numbers[at]);
    break;
  case ValueType::kTime:
    out.times.push_back(list.times[at]);
    break;
  }
  return out;
}

// ---- @functions

const std::string& TextEntry(const Value& value, size_t i) {
  if (value.texts.empty())
    Fail(ERR_FORMULA_BAD_VALUE);
  return value.texts[std::min(i, value.texts.size() - 1)];
}

void RequireText(const Value& value) {
  if (value.type != ValueType::kText)
    Fail(ERR_FORMULA_DATA_TYPE);
}

void RequireArguments(const std::vector<Value>& args, size_t least, size_t most) {
  if (args.size() < least || args.size() > most)
    Fail(ERR_FORMULA_ARGUMENTS);
}

Value TextOf(const Value& value) {
  Value out;
  switch (value.type) {
  case ValueType::kText:
    return value;
  case ValueType::kNumber:
    for (const double number : value.numbers)
      out.texts.push_back(FormatNumber(number));
    break;
  case ValueType::kTime:
    for (const TimeEntry& entry : value.times)
      out.texts.push_back(FormatTime(entry));
    break;
  }
  return out;
}

// A decimal number with blanks around it: digits, one ".", an exponent.
bool IsDecimalNumber(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  const size_t last = text.find_last_not_of(" \t");
  if (first == std::string_view::npos)
    return false;
  text = text.substr(first, last + 1 - first);
  return !text.empty() && text.find_first_not_of("0123456789.eE+-") == std::string_view::npos &&
         text.find_first_of("0123456789") != std::string_view::npos;
}

Value TextToNumberOf(const Value& value) {
  if (value.type == ValueType::kNumber)
    return value;
  RequireText(value);
  Value out = EmptyOf(ValueType::kNumber);
  for (const std::string& text : value.texts) {
    const char* start = text.c_str();
    char* end = nullptr;
    const double number = std::strtod(start, &end);
    while (end != nullptr && (*end == ' ' || *end == '\t'))
      ++end;
    if (!IsDecimalNumber(text) || end == start || end == nullptr || *end != 0 ||
        text.size() != std::strlen(start))
      Fail(ERR_FORMULA_BAD_VALUE);
    out.numbers.push_back(number);
  }
  return out;
}

// Leading and trailing blanks go, inner runs become one space; entries
// left empty are dropped from the list.
Value TrimOf(const Value& value) {
  RequireText(value);
  Value out;
  for (const std::string& text : value.texts) {
    std::string trimmed;
    bool blank = false;
    for (const char c : text) {
      if (c == ' ' || c == '\t') {
        blank = !trimmed.empty();
        continue;
      }
      if (blank)
        trimmed.push_back(' ');
      blank = false;
      trimmed.push_back(c);
    }
    if (!trimmed.empty())
      out.texts.push_back(std::move(trimmed));
  }
  if (out.texts.empty() && value.texts.size() <= 1)
    out.texts.emplace_back();
  return out;
}

// @Left and @Right: a count of characters, or the text before (after) the
// first occurrence of a text.
Value LeftRightOf(const Value& text, const Value& which, bool left) {
  RequireText(text);
  Value out;
  for (size_t i = 0; i < text.texts.size(); ++i) {
    const std::string& entry = text.texts[i];
    if (which.type == ValueType::kNumber) {
      const std::vector<size_t> starts = CharStarts(entry);
      const size_t chars = starts.size() - 1;
      const size_t count = std::min(chars, CountOf(ToNumberEntry(which, i)));
      out.texts.push_back(left ? entry.substr(0, starts[count])
                               : entry.substr(starts[chars - count]));
      continue;
    }
    RequireText(which);
    const std::string& mark = TextEntry(which, i);
    const size_t found = entry.find(mark);
    if (found == std::string::npos || mark.empty())
      out.texts.emplace_back();
    else
      out.texts.push_back(left ? entry.substr(0, found) : entry.substr(found + mark.size()));
  }
  return out;
}

enum class Match : uint8_t { kContains, kBegins, kEnds };

// True when any entry of the text holds any entry of the other.
Value MatchOf(const Value& text, const Value& parts, Match match) {
  RequireText(text);
  RequireText(parts);
  for (const std::string& entry : text.texts) {
    for (const std::string& part : parts.texts) {
      const bool holds =
          match == Match::kContains ? entry.find(part) != std::string::npos
          : match == Match::kBegins ? entry.compare(0, part.size(), part) == 0
                                    : entry.size() >= part.size() &&
                                          entry.compare(entry.size() - part.size(),
                                                        part.size(), part) == 0;
      if (holds)
        return Boolean(true);
    }
  }
  return Boolean(false);
}

// True when every entry of the first list is in the second.
Value IsMemberOf(const Value& entries, const Value& list) {
  if (entries.type != list.type)
    Fail(ERR_FORMULA_DATA_TYPE);
  for (size_t i = 0; i < entries.Size(); ++i) {
    bool found = false;
    for (size_t j = 0; j < list.Size() && !found; ++j)
      found = CompareEntries(entries, i, list, j) == 0;
    if (!found)
      return Boolean(false);
  }
  return Boolean(true);
}

Value ElementsOf(const Value& value) {
  if (value.type == ValueType::kText && value.texts.size() == 1 && value.texts[0].empty())
    return Number(0);
  return Number(static_cast<double>(value.Size()));
}

Value SubsetOf(const Value& list, const Value& count) {
  if (count.type != ValueType::kNumber || count.numbers.empty())
    Fail(ERR_FORMULA_DATA_TYPE);
  const double wanted = std::trunc(count.numbers.front());
  if (wanted == 0.0 || !std::isfinite(wanted))
    Fail(ERR_FORMULA_BAD_VALUE);
  const size_t size = list.Size();
  const size_t n = std::min(size, CountOf(std::fabs(wanted)));
  const size_t first = wanted > 0 ? 0 : size - n;
  Value out = EmptyOf(list.type);
  for (size_t i = first; i < first + n; ++i) {
    if (list.type == ValueType::kText)
      out.texts.push_back(list.texts[i]);
    else if (list.type == ValueType::kNumber)
      out.numbers.push_back(list.numbers[i]);
    else
      out.times.push_back(list.times[i]);
  }
  return out;
}

Value ImplodeOf(const std::vector<Value>& args) {
  RequireArguments(args, 1, 2);
  RequireText(args[0]);
  std::string separator = " ";
  if (args.size() == 2) {
    RequireText(args[1]);
    separator = args[1].texts.empty() ? std::string() : args[1].texts.front();
  }
  std::string joined;
  for (size_t i = 0; i < args[0].texts.size(); ++i) {
    if (i > 0)
      joined += separator;
    joined += args[0].texts[i];
    if (joined.size() > kMaxTextBytes)
      Fail(ERR_FORMULA_TOO_BIG);
  }
  return Text(std::move(joined));
}

// Splits at any of the separator characters (default: space, comma and
// semicolon); empty pieces are dropped.
Value ExplodeOf(const std::vector<Value>& args) {
  RequireArguments(args, 1, 2);
  RequireText(args[0]);
  std::string separators = " ,;";
  if (args.size() == 2) {
    RequireText(args[1]);
    separators = args[1].texts.empty() ? std::string() : args[1].texts.front();
  }
  Value out;
  for (const std::string& text : args[0].texts) {
    std::string piece;
    const std::vector<size_t> starts = CharStarts(text);
    for (size_t k = 0; k + 1 < starts.size(); ++k) {
      const std::string_view character(text.data() + starts[k], starts[k + 1] - starts[k]);
      const bool isSeparator =
          character.size() == 1 && separators.find(character.front()) != std::string::npos;
      if (!isSeparator) {
        piece.append(character);
        continue;
      }
      if (!piece.empty())
        out.texts.push_back(std::move(piece));
      piece.clear();
      if (out.texts.size() > kMaxListEntries)
        Fail(ERR_FORMULA_TOO_BIG);
    }
    if (!piece.empty())
      out.texts.push_back(std::move(piece));
  }
  if (out.texts.empty())
    out.texts.emplace_back();
  CheckSize(out);
  return out;
}

// Each text of the second list found is replaced by the matching text of
// the third (its last text when the third is shorter).
Value ReplaceSubstringOf(const Value& text, const Value& from, const Value& to) {
  RequireText(text);
  RequireText(from);
  RequireText(to);
  Value out;
  for (std::string entry : text.texts) {
    for (size_t k = 0; k < from.texts.size(); ++k) {
      const std::string& find = from.texts[k];
      if (find.empty())
        continue;
      const std::string& replacement = to.texts.empty() ? std::string() : TextEntry(to, k);
      std::string replaced;
      size_t at = 0;
      for (size_t hit = entry.find(find); hit != std::string::npos;
           hit = entry.find(find, at)) {
        replaced.append(entry, at, hit - at);
        replaced += replacement;
        at = hit + find.size();
        if (replaced.size() > kMaxTextBytes)
          Fail(ERR_FORMULA_TOO_BIG);
      }
      replaced.append(entry, at, std::string::npos);
      entry = std::move(replaced);
    }
    out.texts.push_back(std::move(entry));
  }
  CheckSize(out);
  return out;
}

std::string Hex8(DWORD value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

// ---- the running formula

struct Variable {
  std::string name;
  Value value;
};

class Evaluator {
public:
  Evaluator(const FormulaProgram& program, NOTEHANDLE note) : program_(program), note_(note) {}

  void Run();
  const Value& result() const { return result_; }
  bool matches() const { return matches_; }

private:
  Value Pop() {
    Value value = std::move(stack_.back());
    stack_.pop_back();
    return value;
  }
  void Push(Value value) {
    if (stack_.size() >= kMaxStackDepth)
      Fail(ERR_FORMULA_TOO_DEEP);
    stack_.push_back(std::move(value));
  }
  Variable* FindVariable(std::string_view name);
  void SetVariable(std::string_view name, Value value);
  Value ReadName(std::string_view name);
  Value Call(std::string_view name, std::vector<Value> args);
  Value NoteTime(WORD member);

  const FormulaProgram& program_;
  NOTEHANDLE note_;
  std::vector<Value> stack_;
  std::vector<Variable> variables_;
  Value result_;
  bool matches_ = true;
};

Variable* Evaluator::FindVariable(std::string_view name) {
  for (Variable& variable : variables_)
    if (SameName(variable.name, name))
      return &variable;
  return nullptr;
}

void Evaluator::SetVariable(std::string_view name, Value value) {
  if (Variable* variable = FindVariable(name)) {
    variable->value = std::move(value);
    return;
  }
  variables_.push_back({std::string(name), std::move(value)});
}

Value Evaluator::ReadName(std::string_view name) {
  if (const Variable* variable = FindVariable(name))
    return variable->value;
  return ReadField(note_, name);
}

void Evaluator::Run() {
  for (const FormulaInstruction& instruction : program_) {
    switch (instruction.op) {
    case FormulaOp::kNumber:
      Push(NumberConstant(instruction.token));
      break;
    case FormulaOp::kText:
      Push(TextConstant(instruction.token));
      break;
    case FormulaOp::kConstant:
      Push(BracketConstant(instruction.token));
      break;
    case FormulaOp::kName:
      Push(ReadName(instruction.token));
      break;
    case FormulaOp::kIsAvailable: {
      bool present = FindVariable(instruction.token) != nullptr;
      if (!present)
        ReadField(note_, instruction.token, &present);
      Push(Boolean(present));
      break;
    }
    case FormulaOp::kAssign:
    case FormulaOp::kField:
      SetVariable(instruction.token, stack_.back());
      break;
    case FormulaOp::kDefault: {
      bool present = FindVariable(instruction.token) != nullptr;
      if (!present)
        ReadField(note_, instruction.token, &present);
      if (!present)
        SetVariable(instruction.token, stack_.back());
      break;
    }
    case FormulaOp::kEnvironment:
      Fail(ERR_FORMULA_NOT_AVAILABLE);
    case FormulaOp::kStatement:
      result_ = Pop();
      break;
    case FormulaOp::kSelect:
      result_ = Pop();
      matches_ = Truth(result_);
      break;
    case FormulaOp::kUnary:
      Push(UnaryOf(instruction.token, Pop()));
      break;
    case FormulaOp::kBinary: {
      Value right = Pop();
      Value left = Pop();
      Push(BinaryOf(instruction.token, left, right));
      break;
    }
    case FormulaOp::kSubscript: {
      Value index = Pop();
      Value list = Pop();
      Push(SubscriptOf(list, index));
      break;
    }
    case FormulaOp::kCall: {
      std::vector<Value> args(instruction.count);
      for (size_t i = instruction.count; i > 0; --i)
        args[i - 1] = Pop();
      Push(Call(instruction.token.substr(1), std::move(args)));
      break;
    }
    }
  }
}

Value Evaluator::NoteTime(WORD member) {
  if (note_ == NULLHANDLE)
    Fail(ERR_FORMULA_BAD_VALUE);
  if (member == _NOTE_OID) {
    ORIGINATORID oid{};
    NSFNoteGetInfo(note_, _NOTE_OID, &oid);
    return Time(oid.Note);
  }
  TIMEDATE time{};
  NSFNoteGetInfo(note_, member, &time);
  return Time(time);
}

Value Evaluator::Call(std::string_view name, std::vector<Value> args) {
  const auto is = [&](std::string_view candidate) { return SameName(name, candidate); };
  if (is("True") || is("Yes") || is("All")) {
    RequireArguments(args, 0, 0);
    return Boolean(true);
  }
  if (is("False") || is("No")) {
    RequireArguments(args, 0, 0);
    return Boolean(false);
  }
  if (is("If")) {
    if (args.size() < 3 || args.size() % 2 == 0)
      Fail(ERR_FORMULA_ARGUMENTS);
    for (size_t i = 0; i + 1 < args.size(); i += 2)
      if (Truth(args[i]))
        return std::move(args[i + 1]);
    return std::move(args.back());
  }
  if (is("Text")) {
    RequireArguments(args, 1, 2);
    return TextOf(args[0]);
  }
  if (is("TextToNumber")) {
    RequireArguments(args, 1, 1);
    return TextToNumberOf(args[0]);
  }
  if (is("LowerCase") || is("UpperCase")) {
    RequireArguments(args, 1, 1);
    RequireText(args[0]);
    const bool lower = is("LowerCase");
    for (std::string& text : args[0].texts)
      text = lower ? ChangeCase(text, AsciiLower) : ChangeCase(text, AsciiUpper);
    return std::move(args[0]);
  }
  if (is("Trim")) {
    RequireArguments(args, 1, 1);
    return TrimOf(args[0]);
  }
  if (is("Left") || is("Right")) {
    RequireArguments(args, 2, 2);
    return LeftRightOf(args[0], args[1], is("Left"));
  }
  if (is("Contains") || is("Begins") || is("Ends")) {
    RequireArguments(args, 2, 2);
    const Match match = is("Contains") ? Match::kContains
                        : is("Begins") ? Match::kBegins
                                       : Match::kEnds;
    return MatchOf(args[0], args[1], match);
  }
  if (is("IsMember")) {
    RequireArguments(args, 2, 2);
    return IsMemberOf(args[0], args[1]);
  }
  if (is("Elements")) {
    RequireArguments(args, 1, 1);
    return ElementsOf(args[0]);
  }
  if (is("Subset")) {
    RequireArguments(args, 2, 2);
    return SubsetOf(args[0], args[1]);
  }
  if (is("Implode"))
    return ImplodeOf(args);
  if (is("Explode"))
    return ExplodeOf(args);
  if (is("ReplaceSubstring")) {
    RequireArguments(args, 3, 3);
    return ReplaceSubstringOf(args[0], args[1], args[2]);
  }
  if (is("IsAvailable")) {
    // Only a plain name is asked about (see the parser); anything else is
    // a value, which is available.
    RequireArguments(args, 1, 1);
    return Boolean(true);
  }
  if (is("NoteID")) {
    RequireArguments(args, 0, 0);
    NOTEID id = 0;
    if (note_ != NULLHANDLE)
      NSFNoteGetInfo(note_, _NOTE_ID, &id);
    return Text("NT" + Hex8(id));
  }
  if (is("DocumentUniqueID")) {
    RequireArguments(args, 0, 0);
    ORIGINATORID oid{};
    if (note_ != NULLHANDLE)
      NSFNoteGetInfo(note_, _NOTE_OID, &oid);
    return Text(Hex8(oid.File[1]) + Hex8(oid.File[0]) + Hex8(oid.Note.Innards[1]) +
                Hex8(oid.Note.Innards[0]));
  }
  if (is("Created")) {
    RequireArguments(args, 0, 0);
    return NoteTime(_NOTE_OID);
  }
  if (is("Modified")) {
    RequireArguments(args, 0, 0);
    return NoteTime(_NOTE_MODIFIED);
  }
  if (is("Now") || is("Today")) {
    RequireArguments(args, 0, 0);
    TIMEDATE now{};
    OSCurrentTIMEDATE(&now);
    if (is("Today"))
      now.Innards[0] = 0; // midnight of the day
    return Time(now);
  }
  // Known to the compiler, but nothing the stand-in can do.
  Fail(ERR_FORMULA_NOT_AVAILABLE);
}

// ---- the result block: a type word and the value in its stored layout

template <typename T> void Append(std::string* out, const T& value) {
  out->append(reinterpret_cast<const char*>(&value), sizeof value);
}

std::string EncodeResult(const Value& value) {
  std::string out;
  switch (value.type) {
  case ValueType::kText:
    if (value.texts.size() <= 1) {
      Append<WORD>(&out, TYPE_TEXT);
      if (!value.texts.empty())
        out += value.texts.front();
      break;
    }
    Append<WORD>(&out, TYPE_TEXT_LIST);
    Append<WORD>(&out, static_cast<WORD>(value.texts.size()));
    for (const std::string& text : value.texts)
      Append<WORD>(&out, static_cast<WORD>(text.size()));
    for (const std::string& text : value.texts)
      out += text;
    break;
  case ValueType::kNumber:
    if (value.numbers.size() == 1) {
      Append<WORD>(&out, TYPE_NUMBER);
      Append<double>(&out, value.numbers.front());
      break;
    }
    Append<WORD>(&out, TYPE_NUMBER_RANGE);
    Append<RANGE>(&out, RANGE{static_cast<WORD>(value.numbers.size()), 0});
    for (const double number : value.numbers)
      Append<double>(&out, number);
    break;
  case ValueType::kTime: {
    if (value.times.size() == 1 && !value.times.front().pair) {
      Append<WORD>(&out, TYPE_TIME);
      Append<TIMEDATE>(&out, value.times.front().lower);
      break;
    }
    WORD singles = 0;
    WORD pairs = 0;
    for (const TimeEntry& entry : value.times)
      ++(entry.pair ? pairs : singles);
    Append<WORD>(&out, TYPE_TIME_RANGE);
    Append<RANGE>(&out, RANGE{singles, pairs});
    for (const TimeEntry& entry : value.times)
      if (!entry.pair)
        Append<TIMEDATE>(&out, entry.lower);
    for (const TimeEntry& entry : value.times)
      if (entry.pair)
        Append<TIMEDATE_PAIR>(&out, TIMEDATE_PAIR{entry.lower, entry.upper});
    break;
  }
  }
  if (out.size() > 0xFFFF)
    Fail(ERR_FORMULA_TOO_BIG);
  return out;
}

// What a compute handle's block holds: a check word and the started
// formula.
constexpr DWORD kComputeMark = 0x46434D50; // "PMCF"

struct StartedFormula {
  std::string source;
  FormulaProgram program;
};

struct ComputeBlock {
  DWORD mark;
  StartedFormula* formula;
};

StartedFormula* FormulaOf(HCOMPUTE handle) {
  if (handle == NULLHANDLE || OSMemGetSize(handle) != sizeof(ComputeBlock))
    return nullptr;
  const void* data = OSLockObject(handle);
  if (data == nullptr)
    return nullptr;
  ComputeBlock block;
  std::memcpy(&block, data, sizeof block);
  OSUnlockObject(handle);
  return block.mark == kComputeMark ? block.formula : nullptr;
}

template <typename T> void SetIfWanted(T* out, T value) {
  if (out != nullptr)
    *out = value;
}

} // namespace
} // namespace velko::host

using velko::host::ComputeBlock;
using velko::host::StartedFormula;

extern "C" STATUS NSFComputeStart(WORD /*flags*/, const void* formula, HCOMPUTE* retHandle) {
  return velko::host::GuardedStatus([&]() -> STATUS {
    if (retHandle == nullptr)
      return ERR_HOST_BAD_ARGUMENT;
    *retHandle = NULLHANDLE;
    if (formula == nullptr)
      return ERR_FORMULA_BAD_FORMULA;
    velko::host::CompiledFormulaHeader header;
    std::memcpy(&header, formula, sizeof header);
    if (header.magic != velko::host::kCompiledFormulaMagic ||
        header.version != velko::host::kCompiledFormulaVersion ||
        header.sourceLength > velko::host::kMaxFormulaSourceLength)
      return ERR_FORMULA_BAD_FORMULA;

    auto started = std::make_unique<StartedFormula>();
    started->source.assign(static_cast<const char*>(formula) + sizeof header, header.sourceLength);
    const velko::host::FormulaSyntaxError error =
        velko::host::CompileFormulaProgram(started->source, &started->program);
    if (error.code != NOERROR)
      return error.code;

    DHANDLE handle = NULLHANDLE;
    const STATUS status = OSMemAlloc(MEM_TYPE_ENGINE, sizeof(ComputeBlock), &handle);
    if (status != NOERROR)
      return status;
    const ComputeBlock block{velko::host::kComputeMark, started.release()};
    std::memcpy(OSLockObject(handle), &block, sizeof block);
    OSUnlockObject(handle);
    *retHandle = handle;
    return NOERROR;
  });
}

extern "C" STATUS NSFComputeEvaluate(HCOMPUTE handle, NOTEHANDLE note, DHANDLE* retResult,
                                     WORD* retResultLength, BOOL* noteMatches,
                                     BOOL* noteShouldBeDeleted, BOOL* noteModified) {
  using velko::host::SetIfWanted;
  SetIfWanted<DHANDLE>(retResult, NULLHANDLE);
  SetIfWanted<WORD>(retResultLength, 0);
  SetIfWanted<BOOL>(noteMatches, FALSE);
  SetIfWanted<BOOL>(noteShouldBeDeleted, FALSE);
  SetIfWanted<BOOL>(noteModified, FALSE);
  return velko::host::GuardedStatus([&]() -> STATUS {
    const StartedFormula* started = velko::host::FormulaOf(handle);
    if (started == nullptr)
      return ERR_HOST_BAD_ARGUMENT;
    std::string encoded;
    bool matches = false;
    try {
      velko::host::Evaluator evaluator(started->program, note);
      evaluator.Run();
      matches = evaluator.matches();
      encoded = velko::host::EncodeResult(evaluator.result());
    } catch (const velko::host::FormulaFailure& failure) {
      return failure.status;
    }
    if (retResult != nullptr) {
      DHANDLE result = NULLHANDLE;
      const STATUS status =
          OSMemAlloc(MEM_TYPE_ENGINE, static_cast<DWORD>(encoded.size()), &result);
      if (status != NOERROR)
        return status;
      std::memcpy(OSLockObject(result), encoded.data(), encoded.size());
      OSUnlockObject(result);
      *retResult = result;
    }
    SetIfWanted<WORD>(retResultLength, static_cast<WORD>(encoded.size()));
    SetIfWanted<BOOL>(noteMatches, matches ? TRUE : FALSE);
    return NOERROR;
  });
}

extern "C" STATUS NSFComputeStop(HCOMPUTE handle) {
  return velko::host::GuardedStatus([&]() -> STATUS {
    StartedFormula* started = velko::host::FormulaOf(handle);
    if (started == nullptr)
      return ERR_HOST_BAD_ARGUMENT;
    delete started;
    return OSMemFree(handle);
  });
}
