/*
 * Messages to the user and the log.
 *
 * Messages go through a handler that the host process installs for
 * OS_SIGNAL_MESSAGE; until one is installed OSGetSignalHandler returns null
 * and callers show nothing. Log lines go to stderr (unless the program
 * turned that off), or, when the process environment variable
 * VELKO_LOG_FILE names a file, are appended to it; both carry a
 * "YYYY-MM-DD HH:MM:SS " UTC prefix. Tests can capture log lines
 * instead (host/host_testing.h); captured lines have no prefix.
 */
#ifndef VELKO_HOST_OSLOG_H
#define VELKO_HOST_OSLOG_H

#include "velko/host_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define OS_SIGNAL_MESSAGE 3

/* The message handler: the text and the message type (the engine uses 6). */
typedef STATUS (*OSSIGMSGPROC)(const char* message, WORD type);

/* The handler installed for the signal, or null. */
void* OSGetSignalHandler(WORD signal);

/* Installs a handler (null removes it); returns the previous one. Signals
 * from 0 to 31 are kept; others are ignored and give null. */
void* OSSetSignalHandler(WORD signal, void* handler);

/* Formats one log line printf-style; when status is not 0, ": " and the
 * status's text (OSLoadString) follow. A line that cannot be formatted for
 * want of memory is dropped. The status is taken as an unsigned
 * int, which variadic calls do not promote: va_start after a 16-bit
 * parameter would be undefined. Callers pass a STATUS. */
void AddInLogMessageText(const char* format, unsigned int status, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 3)))
#endif
    ;

/* Whether log lines go to stderr when VELKO_LOG_FILE names no file (on
 * at start). A program that reports on stderr in its own words turns it
 * off; the lines are then dropped. Returns the setting before. */
BOOL OSLogToStandardError(BOOL on);

#ifdef __cplusplus
}
#endif

#endif
