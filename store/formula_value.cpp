/*
 * A formula's value as text (store/formula_value.h).
 */
#include "store/formula_value.h"

#include <stdio.h>
#include <string.h>

#include "host/formula.h"
#include "host/nsfdata.h"
#include "host/osmem.h"
#include "host/textlist.h"
#include "host/timedate.h"
#include "store/host_release.h"

namespace {

/* Appends bytes to a NUL-terminated text of limited room, cut to fit. */
class bounded_text final : public formula_text_sink {
public:
  bounded_text(char* out, DWORD room) : out_(out), room_(room) {
    if (room_ > 0)
      out_[0] = '\0';
  }
  void Put(const char* text, DWORD length) override {
    if (room_ == 0)
      return;
    const DWORD left = room_ - 1 - length_;
    const DWORD take = length < left ? length : left;
    memcpy(out_ + length_, text, take);
    length_ += take;
    out_[length_] = '\0';
  }
  DWORD length() const { return length_; }

private:
  char* out_;
  DWORD room_;
  DWORD length_ = 0;
};

void Separate(formula_text_sink* text, DWORD index) {
  if (index > 0)
    text->Put(";", 1);
}

void PutNumber(formula_text_sink* text, double number) {
  char digits[40];
  const int length = snprintf(digits, sizeof digits, "%g", number);
  text->Put(digits, static_cast<DWORD>(length));
}

void PutTime(formula_text_sink* text, const TIMEDATE& time) {
  char words[TIMEDATE_PAIR_TEXT_LENGTH + 1];
  WORD length = 0;
  if (ConvertTIMEDATEToText(nullptr, nullptr, &time, words, sizeof words, &length) == NOERROR)
    text->Put(words, length);
}

void PutTimePair(formula_text_sink* text, const TIMEDATE_PAIR& pair) {
  char words[TIMEDATE_PAIR_TEXT_LENGTH + 1];
  WORD length = 0;
  if (ConvertTIMEDATEPAIRToText(nullptr, nullptr, &pair, words, sizeof words, &length) == NOERROR)
    text->Put(words, length);
}

/* The head of a range value and whether the value holds all its
 * entries of `single` and pairs of `pair` bytes. */
bool ReadRange(const char* body, DWORD size, DWORD single, DWORD pair, RANGE* range) {
  if (size < sizeof *range)
    return false;
  memcpy(range, body, sizeof *range);
  return size >= sizeof *range + range->ListEntries * single + range->RangeEntries * pair;
}

void PutTextList(formula_text_sink* text, const char* value) {
  const WORD count = ListGetNumEntries(value, TRUE);
  for (WORD i = 0; i < count; ++i) {
    char* entry = nullptr;
    WORD entryLength = 0;
    if (ListGetText(value, TRUE, i, &entry, &entryLength) != NOERROR)
      return;
    Separate(text, i);
    text->Put(entry, entryLength);
  }
}

void PutNumberRange(formula_text_sink* text, const char* body, DWORD size, number_range_text ranges) {
  RANGE range;
  if (!ReadRange(body, size, sizeof(double), 2 * sizeof(double), &range))
    return;
  const DWORD numbers = range.ListEntries + 2u * range.RangeEntries;
  const DWORD shown = ranges == number_range_text::first_number && numbers > 0 ? 1 : numbers;
  for (DWORD i = 0; i < shown; ++i) {
    double number = 0.0;
    memcpy(&number, body + sizeof range + i * sizeof number, sizeof number);
    Separate(text, i);
    PutNumber(text, number);
  }
}

void PutTimeRange(formula_text_sink* text, const char* body, DWORD size) {
  RANGE range;
  if (!ReadRange(body, size, sizeof(TIMEDATE), sizeof(TIMEDATE_PAIR), &range))
    return;
  const char* at = body + sizeof range;
  for (DWORD i = 0; i < range.ListEntries; ++i, at += sizeof(TIMEDATE)) {
    TIMEDATE time;
    memcpy(&time, at, sizeof time);
    Separate(text, i);
    PutTime(text, time);
  }
  for (DWORD i = 0; i < range.RangeEntries; ++i, at += sizeof(TIMEDATE_PAIR)) {
    TIMEDATE_PAIR pair;
    memcpy(&pair, at, sizeof pair);
    Separate(text, range.ListEntries + i);
    PutTimePair(text, pair);
  }
}

} // namespace

void WriteFormulaValue(const char* value, DWORD length, number_range_text ranges,
                       formula_text_sink* text) {
  WORD type = 0;
  if (value == nullptr || length < sizeof type)
    return;
  memcpy(&type, value, sizeof type);
  const char* body = value + sizeof type;
  const DWORD size = length - static_cast<DWORD>(sizeof type);
  switch (type) {
  case TYPE_TEXT:
    text->Put(body, size);
    break;
  case TYPE_TEXT_LIST:
    PutTextList(text, value);
    break;
  case TYPE_NUMBER:
    if (double number = 0.0; size >= sizeof number) {
      memcpy(&number, body, sizeof number);
      PutNumber(text, number);
    }
    break;
  case TYPE_NUMBER_RANGE:
    PutNumberRange(text, body, size, ranges);
    break;
  case TYPE_TIME:
    if (TIMEDATE time; size >= sizeof time) {
      memcpy(&time, body, sizeof time);
      PutTime(text, time);
    }
    break;
  case TYPE_TIME_RANGE:
    PutTimeRange(text, body, size);
    break;
  default:
    break;
  }
}

DWORD FormulaValueText(const char* value, DWORD length, number_range_text ranges, char* out,
                       DWORD room) {
  bounded_text text(out, room);
  WriteFormulaValue(value, length, ranges, &text);
  return text.length();
}

STATUS EvaluateFormulaText(DHANDLE compute, NOTEHANDLE note, number_range_text ranges, char* out,
                           DWORD room, DWORD* length) {
  *length = 0;
  if (room > 0)
    out[0] = '\0';
  DHANDLE result = NULLHANDLE;
  WORD resultLength = 0;
  const STATUS status =
      NSFComputeEvaluate(compute, note, &result, &resultLength, nullptr, nullptr, nullptr);
  if (status != NOERROR || result == NULLHANDLE)
    return status;
  if (const char* value = static_cast<const char*>(OSLockObject(result)); value != nullptr) {
    *length = FormulaValueText(value, resultLength, ranges, out, room);
    OSUnlockObject(result);
  }
  ReleaseHostMemory(result);
  return NOERROR;
}
