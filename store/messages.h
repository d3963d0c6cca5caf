/*
 * User messages and log lines. Messages for a user go to the host's message
 * handler when one is installed (type 6); nothing is shown otherwise. Log
 * lines go to the host log.
 */
#ifndef VELKO_STORE_MESSAGES_H
#define VELKO_STORE_MESSAGES_H

#include "velko/host_types.h"

/* The message type the engine's user messages carry. */
constexpr WORD kUserMessageType = 6;

/* Hands the text to the installed message handler; no effect without one. */
void ShowUserMessage(const char* text);

/* Logs "Out of memory at %d in %s" with status 263 and the caller's place. */
void LogOutOfMemory(int line, const char* file);

#endif
