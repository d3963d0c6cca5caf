/*
 * Points in time of the host.
 *
 * The stand-in's TIMEDATE layout: Innards[0] holds the hundredths of a
 * second since midnight UTC (0 to 8,639,999), Innards[1] the Julian day
 * number of the UTC date (2440588 is 1970-01-01). There are no time zones.
 *
 * ConvertTIMEDATEToText writes one fixed format, "MM/DD/YYYY HH:MM:SS" in
 * UTC, e.g. "12/06/2026 21:59:09", whatever formats it is handed.
 */
#ifndef VELKO_HOST_TIMEDATE_H
#define VELKO_HOST_TIMEDATE_H

#include "velko/host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The length of the text ConvertTIMEDATEToText writes. */
#define TIMEDATE_TEXT_LENGTH 19

/* The current time: the test clock when one is set, else the system clock. */
void OSCurrentTIMEDATE(TIMEDATE* ret);

/* Writes the text (TIMEDATE_TEXT_LENGTH bytes, and a NUL when room
 * remains) and its length. ERR_HOST_BUFFER_TOO_SMALL when bufferLength is
 * below the text length (nothing written); ERR_HOST_BAD_ARGUMENT for a
 * missing argument or a TIMEDATE outside the years 1 to 9999. */
STATUS ConvertTIMEDATEToText(const void* intlFormat, const void* textFormat, const TIMEDATE* td,
                             char* retText, WORD bufferLength, WORD* retLength);

/* Two times: the pair entries of a time range. */
typedef struct {
  TIMEDATE Lower;
  TIMEDATE Upper;
} TIMEDATE_PAIR;

#define TIMEDATE_PAIR_TEXT_LENGTH (2 * TIMEDATE_TEXT_LENGTH + 3)

/* Both times in ConvertTIMEDATEToText's form joined by " - "; NUL-terminated
 * when the buffer has room beyond the text. */
STATUS ConvertTIMEDATEPAIRToText(const void* intlFormat, const void* textFormat,
                                 const TIMEDATE_PAIR* pair, char* retText, WORD bufferLength,
                                 WORD* retLength);

#ifdef __cplusplus
}

#include <cstdint>

/* A TIMEDATE from seconds (and hundredths) since 1970-01-01 00:00:00 UTC. */
TIMEDATE TimeDateFromUnix(int64_t seconds, uint32_t hundredths = 0);
/* Whole seconds since 1970-01-01 00:00:00 UTC (hundredths dropped). */
int64_t UnixFromTimeDate(const TIMEDATE& td);
#endif

#endif
