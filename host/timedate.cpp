/*
 * TIMEDATE values: the current time (system clock or the test clock) and
 * the one text form. Calendar arithmetic is proleptic Gregorian in UTC;
 * there are no time zones or daylight saving rules here.
 */
#include "host/timedate.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>

#include "host/host_internal.h"
#include "host/host_testing.h"
#include "host/status.h"

namespace {

constexpr int64_t kUnixEpochJulianDay = 2440588;
constexpr int64_t kSecondsPerDay = 86400;
constexpr uint32_t kHundredthsPerDay = 8640000;

struct Clock {
  std::mutex mutex;
  std::optional<TIMEDATE> fixed;
};

Clock& TheClock() {
  static Clock clock;
  return clock;
}

struct CivilDate {
  int64_t year;
  unsigned month;
  unsigned day;
};

// Days since 1970-01-01 to a Gregorian date (H. Hinnant's algorithm).
CivilDate CivilFromDays(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  const unsigned day = static_cast<unsigned>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  const unsigned month = static_cast<unsigned>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

} // namespace

TIMEDATE TimeDateFromUnix(int64_t seconds, uint32_t hundredths) {
  const int64_t days = FloorDiv(seconds, kSecondsPerDay);
  const int64_t secondOfDay = seconds - days * kSecondsPerDay;
  TIMEDATE td;
  td.Innards[0] = static_cast<DWORD>(secondOfDay * 100 + (hundredths % 100));
  td.Innards[1] = static_cast<DWORD>(days + kUnixEpochJulianDay);
  return td;
}

int64_t UnixFromTimeDate(const TIMEDATE& td) {
  const int64_t days = static_cast<int64_t>(td.Innards[1]) - kUnixEpochJulianDay;
  return days * kSecondsPerDay + td.Innards[0] / 100;
}

extern "C" void OSCurrentTIMEDATE(TIMEDATE* ret) {
  if (ret == nullptr)
    return;
  {
    Clock& clock = TheClock();
    std::lock_guard lock(clock.mutex);
    if (clock.fixed) {
      *ret = *clock.fixed;
      return;
    }
  }
  using namespace std::chrono;
  const int64_t centiseconds =
      duration_cast<duration<int64_t, std::centi>>(system_clock::now().time_since_epoch()).count();
  const int64_t seconds = FloorDiv(centiseconds, 100);
  *ret = TimeDateFromUnix(seconds, static_cast<uint32_t>(centiseconds - seconds * 100));
}

extern "C" STATUS ConvertTIMEDATEToText(const void* /*intlFormat*/, const void* /*textFormat*/,
                                        const TIMEDATE* td, char* retText, WORD bufferLength,
                                        WORD* retLength) {
  if (retLength != nullptr)
    *retLength = 0;
  if (td == nullptr || retText == nullptr || td->Innards[0] >= kHundredthsPerDay)
    return ERR_HOST_BAD_ARGUMENT;
  const CivilDate date = CivilFromDays(static_cast<int64_t>(td->Innards[1]) - kUnixEpochJulianDay);
  if (date.year < 1 || date.year > 9999)
    return ERR_HOST_BAD_ARGUMENT;
  if (bufferLength < TIMEDATE_TEXT_LENGTH)
    return ERR_HOST_BUFFER_TOO_SMALL;
  const unsigned seconds = td->Innards[0] / 100;
  char text[48]; // room beyond the 19 characters keeps the compiler's range check quiet
  std::snprintf(text, sizeof text, "%02u/%02u/%04u %02u:%02u:%02u", date.month, date.day,
                static_cast<unsigned>(date.year), seconds / 3600, seconds / 60 % 60, seconds % 60);
  std::memcpy(retText, text, TIMEDATE_TEXT_LENGTH);
  if (bufferLength > TIMEDATE_TEXT_LENGTH)
    retText[TIMEDATE_TEXT_LENGTH] = 0;
  if (retLength != nullptr)
    *retLength = TIMEDATE_TEXT_LENGTH;
  return NOERROR;
}

extern "C" STATUS ConvertTIMEDATEPAIRToText(const void* intlFormat, const void* textFormat,
                                            const TIMEDATE_PAIR* pair, char* retText,
                                            WORD bufferLength, WORD* retLength) {
  if (retLength != nullptr)
    *retLength = 0;
  if (pair == nullptr || retText == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  if (bufferLength < TIMEDATE_PAIR_TEXT_LENGTH)
    return ERR_HOST_BUFFER_TOO_SMALL;
  char lower[TIMEDATE_TEXT_LENGTH + 1];
  char upper[TIMEDATE_TEXT_LENGTH + 1];
  STATUS status = ConvertTIMEDATEToText(intlFormat, textFormat, &pair->Lower, lower,
                                        sizeof lower, nullptr);
  if (status == NOERROR)
    status = ConvertTIMEDATEToText(intlFormat, textFormat, &pair->Upper, upper, sizeof upper,
                                   nullptr);
  if (status != NOERROR)
    return status;
  std::memcpy(retText, lower, TIMEDATE_TEXT_LENGTH);
  std::memcpy(retText + TIMEDATE_TEXT_LENGTH, " - ", 3);
  std::memcpy(retText + TIMEDATE_TEXT_LENGTH + 3, upper, TIMEDATE_TEXT_LENGTH);
  if (bufferLength > TIMEDATE_PAIR_TEXT_LENGTH)
    retText[TIMEDATE_PAIR_TEXT_LENGTH] = 0;
  if (retLength != nullptr)
    *retLength = TIMEDATE_PAIR_TEXT_LENGTH;
  return NOERROR;
}

/* ---- test controls (host/host_testing.h); left out of the shipped library ---- */

#ifdef VELKO_TEST_CONTROLS

void velko::host::ResetClockForTests() {
  Clock& clock = TheClock();
  std::lock_guard lock(clock.mutex);
  clock.fixed.reset();
}

void HostTestSetClock(const TIMEDATE* now) {
  Clock& clock = TheClock();
  std::lock_guard lock(clock.mutex);
  if (now != nullptr)
    clock.fixed = *now;
  else
    clock.fixed.reset();
}

#endif
