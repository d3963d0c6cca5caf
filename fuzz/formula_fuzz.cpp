/*
 * Fuzz target for formula evaluation: the input is formula text, compiled
 * and, when it compiles, started and evaluated against a note holding a
 * text, a text list, a number, a number range and a time. The text is also
 * laid behind a compiled header by hand and started, so the evaluator
 * meets sources the compiler would refuse.
 *
 * Checked: a compile error comes with no block; every status of a start or
 * an evaluation that fails comes with no handle; a result block has
 * exactly the length its type and its counts give (a text list reads back
 * entry by entry); host memory is back where it was.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "fuzz/fuzz_support.h"
#include "host/formula.h"
#include "host/host_testing.h"
#include "host/nsfdata.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osmem.h"
#include "host/textlist.h"
#include "host/timedate.h"

namespace {

constexpr char kDbPath[] = "mem:formulafuzz";

template <typename T> T ReadAt(const uint8_t* bytes, size_t offset) {
  T value;
  memcpy(&value, bytes + offset, sizeof value);
  return value;
}

/* The length a result of this type and these counts must have. */
void CheckResult(const uint8_t* bytes, size_t length) {
  check(length >= 2);
  const WORD type = ReadAt<WORD>(bytes, 0);
  switch (type) {
  case TYPE_TEXT:
    return;
  case TYPE_NUMBER:
  case TYPE_TIME:
    check(length == 10);
    return;
  case TYPE_NUMBER_RANGE:
  case TYPE_TIME_RANGE: {
    check(length >= 6);
    const RANGE range = ReadAt<RANGE>(bytes, 2);
    const size_t single = 8;
    const size_t pair = type == TYPE_NUMBER_RANGE ? 16 : sizeof(TIMEDATE_PAIR);
    check(length == 6 + range.ListEntries * single + range.RangeEntries * pair);
    return;
  }
  case TYPE_TEXT_LIST: {
    const WORD count = ListGetNumEntries(bytes, TRUE);
    size_t total = 4 + 2 * size_t{count};
    for (WORD i = 0; i < count; ++i) {
      char* text = nullptr;
      WORD textLength = 0;
      check(ListGetText(bytes, TRUE, i, &text, &textLength) == NOERROR);
      total += textLength;
    }
    check(total == length);
    return;
  }
  default:
    check(false);
  }
}

void Evaluate(const void* compiled, NOTEHANDLE note) {
  HCOMPUTE compute = 0xDEAD;
  if (NSFComputeStart(0, compiled, &compute) != NOERROR) {
    check(compute == NULLHANDLE);
    return;
  }
  DHANDLE result = 0xDEAD;
  WORD length = 0xEEEE;
  BOOL matches = 2;
  if (NSFComputeEvaluate(compute, note, &result, &length, &matches, nullptr, nullptr) ==
      NOERROR) {
    check(matches == TRUE || matches == FALSE);
    check(OSMemGetSize(result) == length);
    CheckResult(static_cast<const uint8_t*>(OSLockObject(result)), length);
    OSUnlockObject(result);
    check(OSMemFree(result) == NOERROR);
  } else {
    check(result == NULLHANDLE && length == 0);
  }
  check(NSFComputeStop(compute) == NOERROR);
}

NOTEHANDLE MakeNote(DBHANDLE db) {
  NOTEHANDLE note = NULLHANDLE;
  check(NSFNoteCreate(db, &note) == NOERROR);
  check(NSFItemSetText(note, "Form", "Memo", 4) == NOERROR);
  check(NSFItemAppendTextList(note, "Tags", "red", 3, TRUE) == NOERROR);
  check(NSFItemAppendTextList(note, "Tags", "blue", 4, TRUE) == NOERROR);
  const double count = 3;
  check(NSFItemAppend(note, 0, "Count", 5, TYPE_NUMBER, &count, sizeof count) == NOERROR);
  const TIMEDATE due = TimeDateFromUnix(1796515200);
  check(NSFItemAppend(note, 0, "Due", 3, TYPE_TIME, &due, sizeof due) == NOERROR);
  std::string range("\x02\x00\x00\x00", 4);
  for (const double value : {1.0, -2.5})
    range.append(reinterpret_cast<const char*>(&value), sizeof value);
  check(NSFItemAppend(note, 0, "Scores", 6, TYPE_NUMBER_RANGE, range.data(),
                      static_cast<DWORD>(range.size())) == NOERROR);
  return note;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4000)
    return 0;
  const DBHANDLE db = note_testing::ProcessDatabase(kDbPath);
  const TIMEDATE clock = TimeDateFromUnix(1796635815);
  HostTestSetClock(&clock);
  const size_t handles = HostTestLiveHandles();
  NOTEHANDLE note = MakeNote(db);
  const std::string text(reinterpret_cast<const char*>(data), size);

  FORMULAHANDLE compiled = 0xDEAD;
  WORD compiledLength = 0;
  STATUS error = NOERROR;
  const STATUS status =
      NSFFormulaCompile(nullptr, 0, text.data(), static_cast<WORD>(text.size()), &compiled,
                        &compiledLength, &error, nullptr, nullptr, nullptr, nullptr);
  if (status == NOERROR) {
    check(compiledLength == 8 + size || size == 0);
    Evaluate(OSLockObject(compiled), note);
    Evaluate(OSLockObject(compiled), NULLHANDLE);
    OSUnlockObject(compiled);
    OSUnlockObject(compiled);
    check(OSMemFree(compiled) == NOERROR);
  } else {
    check(compiled == NULLHANDLE);
  }

  // The same text behind a hand-laid header: "FM", version 1, length.
  std::string laid("FM\x01\x00", 4);
  const DWORD length = static_cast<DWORD>(size);
  laid.append(reinterpret_cast<const char*>(&length), sizeof length);
  laid += text;
  Evaluate(laid.data(), note);

  NSFNoteClose(note);
  check(HostTestLiveHandles() == handles);
  return 0;
}
