/*
 * The host's environment: settings from notes.ini in the data directory,
 * overridden by values set in the process; the data directory; the texts
 * of status codes.
 *
 * The settings file is read lazily and again whenever its path, size or
 * modification time changes. It is never written. When memory runs out a
 * setting reads as unset (and is read again next time); the data
 * directory and the status texts need no memory.
 */
#include "host/osenv.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "host/host_internal.h"
#include "host/host_testing.h"
#include "host/status.h"
#include "velko/status.h"

namespace {

struct FileStamp {
  bool exists = false;
  off_t size = 0;
  struct timespec mtime = {};
  bool operator==(const FileStamp& other) const {
    return exists == other.exists && size == other.size && mtime.tv_sec == other.mtime.tv_sec &&
           mtime.tv_nsec == other.mtime.tv_nsec;
  }
};

struct Settings {
  std::mutex mutex;
  std::optional<std::string> dataDirectoryOverride;
  // Values set in the process; nullopt marks a name made unset.
  std::map<std::string, std::optional<std::string>> overrides;
  std::map<std::string, std::string> fileValues;
  bool fileLoaded = false;
  std::string loadedPath;
  FileStamp loadedStamp;
};

Settings& TheSettings() {
  static Settings settings;
  return settings;
}

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

// Room for the working directory's path.
using DirectoryBuffer = char[4096];

// The data directory without a trailing separator, in place (the working
// directory is read into the buffer); mutex held.
std::string_view DataDirectoryIn(const Settings& settings, DirectoryBuffer& buffer) {
  std::string_view path;
  if (settings.dataDirectoryOverride)
    path = *settings.dataDirectoryOverride;
  else if (const char* fromProcess = std::getenv("VELKO_DATA_DIR"); fromProcess && *fromProcess)
    path = fromProcess;
  else
    path = getcwd(buffer, sizeof buffer) != nullptr ? buffer : ".";
  while (path.size() > 1 && path.back() == '/')
    path.remove_suffix(1);
  return path;
}

std::string DataDirectory(const Settings& settings) {
  DirectoryBuffer buffer;
  return std::string(DataDirectoryIn(settings, buffer));
}

FileStamp StampOf(const std::string& path) {
  struct stat info;
  FileStamp stamp;
  if (stat(path.c_str(), &info) != 0)
    return stamp;
  stamp.exists = true;
  stamp.size = info.st_size;
  stamp.mtime = info.st_mtim;
  return stamp;
}

std::map<std::string, std::string> ParseSettings(std::istream& in) {
  std::map<std::string, std::string> values;
  std::string line;
  while (std::getline(in, line)) {
    const std::string_view trimmed = velko::host::TrimWhiteSpace(line);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '[')
      continue;
    const size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos)
      continue;
    const std::string_view name = velko::host::TrimWhiteSpace(trimmed.substr(0, equals));
    if (name.empty())
      continue;
    // The first occurrence of a name wins.
    values.emplace(LowerAscii(name), std::string(velko::host::TrimWhiteSpace(trimmed.substr(equals + 1))));
  }
  return values;
}

// Reads the settings file again when it is not the one loaded; mutex held.
// The file counts as loaded only once all of it was read.
void RefreshFile(Settings& settings) {
  const std::string path = DataDirectory(settings) + "/notes.ini";
  const FileStamp stamp = StampOf(path);
  if (settings.fileLoaded && path == settings.loadedPath && stamp == settings.loadedStamp)
    return;
  settings.fileLoaded = false;
  std::map<std::string, std::string> values;
  if (stamp.exists) {
    std::ifstream in(path);
    if (in)
      values = ParseSettings(in);
  }
  settings.loadedPath = path;
  settings.fileValues.swap(values);
  settings.loadedStamp = stamp;
  settings.fileLoaded = true;
}

} // namespace

std::optional<std::string> velko::host::SettingValue(const char* name) {
  if (name == nullptr)
    return std::nullopt;
  Settings& settings = TheSettings();
  std::lock_guard lock(settings.mutex);
  const std::string key = LowerAscii(velko::host::TrimWhiteSpace(name));
  if (auto found = settings.overrides.find(key); found != settings.overrides.end())
    return found->second;
  RefreshFile(settings);
  if (auto found = settings.fileValues.find(key); found != settings.fileValues.end())
    return found->second;
  return std::nullopt;
}

namespace {

void SetOverride(const char* name, const char* value) {
  if (name == nullptr)
    return;
  Settings& settings = TheSettings();
  std::lock_guard lock(settings.mutex);
  std::optional<std::string> stored;
  if (value != nullptr)
    stored = value;
  settings.overrides[LowerAscii(velko::host::TrimWhiteSpace(name))] = std::move(stored);
}

// The texts of the codes the stand-in knows: its own, the platform's that
// it returns, and the engine's below 0x4000.
const char* StatusText(unsigned code) {
  switch (code) {
  case VELKO_ERR_FAILED:
    return "The operation failed";
  case VELKO_ERR_NO_INPUT:
    return "No note or input";
  case VELKO_ERR_NOTHING_TO_SORT:
    return "Nothing to sort";
  case VELKO_ERR_INVALID_SEQUENCE:
    return "The generated record sequence is not valid";
  case VELKO_STATUS_READ_ONLY:
    return "A reading action ran";
  case VELKO_STATUS_INLINE_HTML:
    return "Result of an inline HTML import";
  case ERR_MEMORY:
    return "Insufficient memory";
  case ERR_ITEM_NOT_FOUND:
    return "Note item not found";
  case ERR_NOT_FOUND:
    return "Entry not found in index";
  case ERR_HOST_BAD_HANDLE:
    return "Invalid handle";
  case ERR_HOST_STALE_HANDLE:
    return "Handle of a memory block that was freed";
  case ERR_HOST_DOUBLE_FREE:
    return "Memory block already freed";
  case ERR_HOST_NOT_LOCKED:
    return "Memory block is not locked";
  case ERR_HOST_BAD_ARGUMENT:
    return "Invalid argument";
  case ERR_HOST_LIST_FULL:
    return "Text list is full";
  case ERR_HOST_NOT_SUPPORTED:
    return "Not supported by the host";
  case ERR_HOST_CHARSET_UNKNOWN:
    return "Unknown character set";
  case ERR_HOST_TRANSLATION_FAILED:
    return "Character translation failed";
  case ERR_HOST_BUFFER_TOO_SMALL:
    return "Output buffer too small";
  case ERR_HOST_LIST_ENTRY:
    return "No such text list entry";
  case ERR_HOST_NOTE_NOT_FOUND:
    return "Note not found";
  case ERR_HOST_SERVER_NOT_LOCAL:
    return "Server not available: only the local server is served";
  case ERR_HOST_VALUE_TOO_LARGE:
    return "Item value is too large";
  case ERR_HOST_DB_EXISTS:
    return "Database already exists";
  case ERR_HOST_DB_NOT_FOUND:
    return "Database not found";
  case ERR_HOST_STORAGE:
    return "Database storage error";
  case ERR_HOST_OBJECT_NOT_FOUND:
    return "Database object not found";
  case ERR_HOST_FILE_IO:
    return "File cannot be read or written";
  case ERR_HOST_NOT_ATTACHMENT:
    return "Item is not a file attachment";
  case ERR_HOST_COLLECTION:
    return "Collection not found";
  case ERR_HOST_DB_IN_USE:
    return "Database is in use";
  case ERR_HOST_UNID_EXISTS:
    return "Another note has this universal ID";
  case ERR_HOST_ITEM_DAMAGED:
    return "Note item is damaged";
  case ERR_HOST_BAD_RECORD:
    return "Invalid composite data record";
  case ERR_HOST_BAD_CD_FILE:
    return "Not a composite data file";
  case ERR_HOST_ODS_TYPE:
    return "Unknown structure type";
  case ERR_HOST_NOT_COMPOSITE:
    return "Item value is not composite data";
  case ERR_FORMULA_COMPILE:
    return "Formula error";
  case ERR_FORMULA_UNEXPECTED:
    return "Unexpected token in formula";
  case ERR_FORMULA_UNTERMINATED:
    return "Unterminated string or bracket in formula";
  case ERR_FORMULA_UNKNOWN_FUNCTION:
    return "Unknown @function";
  case ERR_FORMULA_EMPTY:
    return "Formula is empty";
  case ERR_FORMULA_BAD_FORMULA:
    return "Not a compiled formula";
  case ERR_FORMULA_TOO_LONG:
    return "Formula is too long";
  case ERR_FORMULA_TOO_DEEP:
    return "Formula is nested too deeply";
  case ERR_FORMULA_DATA_TYPE:
    return "Incorrect data type in formula";
  case ERR_FORMULA_NOT_AVAILABLE:
    return "@function cannot be evaluated here";
  case ERR_FORMULA_TOO_BIG:
    return "Formula value is too large";
  case ERR_FORMULA_ARGUMENTS:
    return "Wrong number of arguments for @function";
  case ERR_FORMULA_BAD_VALUE:
    return "Invalid value in formula";
  case ERR_FILTER_NO_LIBRARY:
    return "Import filter library not found";
  case ERR_FILTER_FORMAT:
    return "The import filter does not convert this format";
  case ERR_FILTER_BAD_IMAGE:
    return "The file is not a valid image of its format";
  case ERR_FILTER_TOO_LARGE:
    return "The file is too large to import";
  default:
    return nullptr;
  }
}

// The engine's own codes from 20013 up pass the 14 bits of a code, so they
// are read whole.
const char* EngineHighCodeText(unsigned status) {
  switch (status) {
  case VELKO_ERR_INVALID_NAME:
    return "Invalid database path or item name";
  case VELKO_ERR_IMPORT_FAILED:
    return "An import failed or gave no status";
  case VELKO_ERR_NOT_TABLE_OR_ROW:
    return "The chunk is neither a table nor a row";
  case VELKO_ERR_INVALID_ARGUMENT:
    return "Invalid argument or formula";
  case VELKO_ERR_NOT_TABLE:
    return "The chunk is not a table";
  case VELKO_ERR_BAD_STRUCTURE:
    return "Invalid table, hotspot or layout structure";
  case VELKO_ERR_BITMAP_EXPORT:
    return "Bitmap export is refused";
  default:
    return nullptr;
  }
}

} // namespace

extern "C" BOOL OSGetEnvironmentString(const char* name, char* retValue, WORD bufferLength) {
  velko::host::CopyTerminated("", retValue, bufferLength);
  return velko::host::GuardedAnswer<BOOL>(FALSE, [&]() -> BOOL {
    const std::optional<std::string> value = velko::host::SettingValue(name);
    if (!value)
      return FALSE;
    velko::host::CopyTerminated(*value, retValue, bufferLength);
    return TRUE;
  });
}

extern "C" long OSGetEnvironmentLong(const char* name) {
  return velko::host::GuardedAnswer(0L, [&] {
    const std::optional<std::string> value = velko::host::SettingValue(name);
    return value ? std::atol(value->c_str()) : 0L;
  });
}

extern "C" void OSSetEnvironmentVariable(const char* name, const char* value) {
  velko::host::GuardedCall([&] { SetOverride(name, value); });
}

extern "C" WORD OSGetDataDirectory(char* retPath) {
  Settings& settings = TheSettings();
  std::lock_guard lock(settings.mutex);
  DirectoryBuffer buffer;
  return static_cast<WORD>(
      velko::host::CopyTerminated(DataDirectoryIn(settings, buffer), retPath, MAXPATH));
}

extern "C" WORD OSLoadString(HMODULE /*module*/, STATUS status, char* retBuffer,
                             WORD bufferLength) {
  const unsigned code = status & STATUS_CODE_MASK;
  char fallback[16];
  const char* text = EngineHighCodeText(status);
  if (text == nullptr)
    text = StatusText(code);
  if (text == nullptr) {
    std::snprintf(fallback, sizeof fallback, "Error 0x%04X", code);
    text = fallback;
  }
  return static_cast<WORD>(velko::host::CopyTerminated(text, retBuffer, bufferLength));
}

/* ---- test controls (host/host_testing.h); left out of the shipped library ---- */

#ifdef VELKO_TEST_CONTROLS

void velko::host::ResetEnvironmentForTests() {
  Settings& settings = TheSettings();
  std::lock_guard lock(settings.mutex);
  settings.overrides.clear();
  settings.dataDirectoryOverride.reset();
  settings.fileLoaded = false;
}

void HostTestSetEnvironment(const char* name, const char* value) { SetOverride(name, value); }

void HostTestSetDataDirectory(const char* path) {
  Settings& settings = TheSettings();
  std::lock_guard lock(settings.mutex);
  if (path != nullptr)
    settings.dataDirectoryOverride = path;
  else
    settings.dataDirectoryOverride.reset();
  settings.fileLoaded = false;
}

#endif
