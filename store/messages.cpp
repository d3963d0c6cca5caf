/*
 * User messages and out-of-memory log lines shared by every subsystem.
 */
#include "store/messages.h"

#include "host/oslog.h"
#include "velko/status.h"

void ShowUserMessage(const char* text) {
  auto handler = reinterpret_cast<OSSIGMSGPROC>(OSGetSignalHandler(OS_SIGNAL_MESSAGE));
  if (handler == nullptr || text == nullptr)
    return;
  // What the handler answers (the user's choice) is not asked for here.
  static_cast<void>(handler(text, kUserMessageType));
}

void LogOutOfMemory(int line, const char* file) {
  AddInLogMessageText("Out of memory at %d in %s", VELKO_ERR_MEMORY, line, file ? file : "");
}
