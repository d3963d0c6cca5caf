/*
 * Import filters as the record generators and the engine use them: which
 * filter library and format the notes.ini entries name for a file
 * (DetermineImportExportDLL), and running that filter into a temporary CD
 * file (ImportFile).
 *
 * Not here: the filters themselves (the host's filter table), reading the
 * CD file into a body (AppendImportFile) or deleting it after a successful
 * read (its callers do).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "engine/services.h"
#include "generate/services.h"
#include "host/filters.h"
#include "host/osenv.h"
#include "store/emitter.h"
#include "store/messages.h"
#include "store/session.h"

namespace {

constexpr int kLastEntry = 99;
/* Room for one entry's value; a longer one is read cut short. */
constexpr size_t kEntrySize = 1024;
/* The library and format buffers of the callers. */
constexpr size_t kNameSize = 256;
/* The CD path buffer of the callers. */
constexpr size_t kCdPathSize = 1024;
constexpr const char* kFallbackTempDirectory = "/tmp/";
constexpr const char* kDefaultStem = "default";

std::string UpperCased(const char* text) {
  std::string copy(text);
  for (char& c : copy) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  }
  return copy;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos)
    return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

/* The n-th (from 1) comma-separated field of the value; false when the
 * value has fewer fields. */
bool Field(const std::string& value, int n, std::string* field) {
  size_t start = 0;
  for (int i = 1; i < n; ++i) {
    start = value.find(',', start);
    if (start == std::string::npos)
      return false;
    ++start;
  }
  *field = Trimmed(value.substr(start, value.find(',', start) - start));
  return true;
}

/* Copies the entry's library and format names out when both are there and
 * fit the callers' buffers. */
bool TakeNames(const std::string& value, char* library, char* format) {
  std::string libraryName;
  std::string formatName;
  if (!Field(value, 3, &libraryName) || !Field(value, 4, &formatName) || libraryName.empty() ||
      formatName.empty() || libraryName.size() >= kNameSize || formatName.size() >= kNameSize)
    return false;
  memcpy(library, libraryName.c_str(), libraryName.size() + 1);
  memcpy(format, formatName.c_str(), formatName.size() + 1);
  return true;
}

/* A new empty file "<stem>XXXXXX.cd" in the session's temporary directory,
 * its path in cdPath; the stem is the item's ImportExportFile name without
 * its directory and ".cd". False when none can be made. */
bool MakeTemporaryCdFile(const generation_context* context, char* cdPath) {
  const char* directory = kFallbackTempDirectory;
  if (context->session != nullptr && context->session->internal->temp_directory[0] != '\0')
    directory = context->session->internal->temp_directory;
  std::string stem = kDefaultStem;
  if (const char* setting = context->item != nullptr ? context->item->ImportExportFile : nullptr;
      setting != nullptr && setting[0] != '\0') {
    const char* base = strrchr(setting, '/');
    stem = base != nullptr ? base + 1 : setting;
    if (stem.size() >= 3 && strcasecmp(stem.c_str() + stem.size() - 3, ".cd") == 0)
      stem.resize(stem.size() - 3);
  }
  std::string pattern = std::string(directory);
  if (pattern.back() != '/')
    pattern += '/';
  pattern += stem + "XXXXXX.cd";
  if (pattern.size() >= kCdPathSize)
    return false;
  memcpy(cdPath, pattern.c_str(), pattern.size() + 1);
  const int descriptor = mkstemps(cdPath, 3);
  if (descriptor < 0) {
    cdPath[0] = '\0';
    return false;
  }
  close(descriptor);
  return true;
}

/* The host's text for the status, as the user sees it. */
void ShowFilterFailure(STATUS status) {
  char text[kEntrySize] = {};
  OSLoadString(0, static_cast<STATUS>(status & 0x3FFF), text, sizeof text);
  ShowUserMessage(text);
}

} // namespace

DWORD DetermineImportExportDLL(LSXLsiSession*, char* fileName, char* library, char* format,
                               DWORD import, DWORD wholeName) {
  if (fileName == nullptr || library == nullptr || format == nullptr)
    return 0;
  // The key is upper-cased in a copy: the caller's name may be read-only
  // and is used again as it is.
  const char* key = fileName;
  if (wholeName != 1) {
    key = strrchr(fileName, '.');
    if (key == nullptr)
      return 0;
  }
  const std::string upperKey = UpperCased(key);
  if (upperKey.empty())
    return 0;
  const char* prefix = import != 0 ? "EDITIMP" : "EDITEXP";
  for (int n = 1; n <= kLastEntry; ++n) {
    char name[16] = {};
    snprintf(name, sizeof name, "%s%d", prefix, n);
    char value[kEntrySize] = {};
    if (!OSGetEnvironmentString(name, value, sizeof value))
      continue;
    const std::string entry(value);
    if (UpperCased(value).find(upperKey) == std::string::npos)
      continue;
    if (TakeNames(entry, library, format))
      return 1;
  }
  return 0;
}

STATUS ImportFile(generation_context* context, const char* path, const char* library,
                  const char* format, char* cdPath, WORD, WORD) {
  if (context == nullptr || path == nullptr || library == nullptr || format == nullptr ||
      cdPath == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  cdPath[0] = '\0';
  HMODULE module = 0;
  IMPORT_FILTER_PROC filter = nullptr;
  STATUS status = OSLoadLibrary(library, 0, &module, &filter);
  if (status == NOERROR && !MakeTemporaryCdFile(context, cdPath))
    status = VELKO_ERR_NO_INPUT;
  if (status == NOERROR) {
    const DWORD flags = context->item != nullptr && context->item->ImportNativeImages != 0
                            ? IMPORT_FLAG_NATIVE_IMAGES
                            : 0;
    status = filter(path, format, cdPath, flags);
  }
  if (status == NOERROR)
    return NOERROR;
  if (cdPath[0] != '\0')
    remove(cdPath);
  cdPath[0] = '\0';
  ShowFilterFailure(status);
  return status;
}
