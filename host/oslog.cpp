/*
 * Signal handlers (the message handler among them) and the log.
 *
 * The log writes one line per call to stderr or to the file named by
 * VELKO_LOG_FILE, with a UTC timestamp, or keeps it in memory while a test
 * captures the log. It does not rotate or trim files. A line that cannot be
 * formatted for want of memory is dropped.
 */
#include "host/oslog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "host/host_internal.h"
#include "host/host_testing.h"
#include "host/osenv.h"

namespace {

constexpr WORD kSignalCount = 32;

struct LogState {
  std::mutex mutex;
  void* handlers[kSignalCount] = {};
  bool capture = false;
  bool to_stderr = true;
  std::vector<std::string> lines;
  std::vector<HostTestMessage> messages;
};

LogState& State() {
  static LogState state;
  return state;
}

std::string FormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[512];
  const int needed = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (needed < 0)
    return {};
  if (static_cast<size_t>(needed) < sizeof small)
    return std::string(small, static_cast<size_t>(needed));
  std::string text(static_cast<size_t>(needed) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<size_t>(needed));
  return text;
}

std::string TimestampPrefix() {
  const std::time_t now = std::time(nullptr);
  struct tm parts;
  gmtime_r(&now, &parts);
  char prefix[32];
  std::strftime(prefix, sizeof prefix, "%Y-%m-%d %H:%M:%S ", &parts);
  return prefix;
}

void WriteLine(const std::string& line, bool toStandardError) {
  const std::string text = TimestampPrefix() + line + "\n";
  const char* path = std::getenv("VELKO_LOG_FILE");
  if (path != nullptr && *path != 0) {
    if (std::FILE* file = std::fopen(path, "a")) {
      std::fwrite(text.data(), 1, text.size(), file);
      std::fclose(file);
      return;
    }
  }
  if (toStandardError)
    std::fwrite(text.data(), 1, text.size(), stderr);
}

// Formats and writes (or keeps) one log line.
void LogLine(const char* format, STATUS status, va_list args) {
  std::string line = format != nullptr ? FormatV(format, args) : std::string();
  if (status != NOERROR) {
    char text[256];
    OSLoadString(0, status, text, sizeof text);
    line += ": ";
    line += text;
  }
  LogState& state = State();
  std::unique_lock lock(state.mutex);
  if (state.capture) {
    state.lines.push_back(std::move(line));
    return;
  }
  const bool toStandardError = state.to_stderr;
  lock.unlock();
  WriteLine(line, toStandardError);
}

#ifdef VELKO_TEST_CONTROLS
/* The message handler of message capture; a message that cannot be kept
 * for want of memory is dropped, as a handler must not throw. */
STATUS RecordMessage(const char* message, WORD type) {
  return velko::host::GuardedStatus([&]() -> STATUS {
    LogState& state = State();
    std::lock_guard lock(state.mutex);
    state.messages.push_back({message != nullptr ? message : "", type});
    return NOERROR;
  });
}
#endif

} // namespace

namespace {
std::atomic<uint64_t> messagesShown{0};
} // namespace

uint64_t velko::host::HostMessagesShown() { return messagesShown.load(); }

void velko::host::ShowHostMessage(const char* text) {
  messagesShown.fetch_add(1);
  auto handler = reinterpret_cast<OSSIGMSGPROC>(OSGetSignalHandler(OS_SIGNAL_MESSAGE));
  if (handler != nullptr && text != nullptr)
    static_cast<void>(handler(text, 6)); // the user's answer is not asked for
}

extern "C" void* OSGetSignalHandler(WORD signal) {
  if (signal >= kSignalCount)
    return nullptr;
  LogState& state = State();
  std::lock_guard lock(state.mutex);
  return state.handlers[signal];
}

extern "C" void* OSSetSignalHandler(WORD signal, void* handler) {
  if (signal >= kSignalCount)
    return nullptr;
  LogState& state = State();
  std::lock_guard lock(state.mutex);
  void* previous = state.handlers[signal];
  state.handlers[signal] = handler;
  return previous;
}

extern "C" void AddInLogMessageText(const char* format, unsigned int status, ...) {
  va_list args;
  va_start(args, status);
  velko::host::GuardedCall([&] { LogLine(format, static_cast<STATUS>(status), args); });
  va_end(args);
}

extern "C" BOOL OSLogToStandardError(BOOL on) {
  LogState& state = State();
  std::lock_guard lock(state.mutex);
  const bool before = state.to_stderr;
  state.to_stderr = on != FALSE;
  return before ? TRUE : FALSE;
}

/* ---- test controls (host/host_testing.h); left out of the shipped library ---- */

#ifdef VELKO_TEST_CONTROLS

void velko::host::ResetLogForTests() {
  LogState& state = State();
  std::lock_guard lock(state.mutex);
  for (void*& handler : state.handlers)
    handler = nullptr;
  state.capture = false;
  state.to_stderr = true;
  state.lines.clear();
  state.messages.clear();
}

void HostTestCaptureLog(bool on) {
  LogState& state = State();
  std::lock_guard lock(state.mutex);
  state.capture = on;
}

std::vector<std::string> HostTestLogLines() {
  LogState& state = State();
  std::lock_guard lock(state.mutex);
  return state.lines;
}

void HostTestClearLog() {
  LogState& state = State();
  std::lock_guard lock(state.mutex);
  state.lines.clear();
}

void HostTestCaptureMessages() {
  OSSetSignalHandler(OS_SIGNAL_MESSAGE, reinterpret_cast<void*>(&RecordMessage));
}

std::vector<HostTestMessage> HostTestMessages() {
  LogState& state = State();
  std::lock_guard lock(state.mutex);
  return state.messages;
}

void HostTestClearMessages() {
  LogState& state = State();
  std::lock_guard lock(state.mutex);
  state.messages.clear();
}

#endif
