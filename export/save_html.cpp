/*
 * Saving an item as an HTML file: the item rendered whole ("Everything")
 * through GenerateHTMLToMime with a caller file (MIME mode 0), and the
 * public entries that take a path or a caller's FILE. A path is written
 * through a new file of a unique name beside it (made with the mode the
 * umask allows) and renamed into place once whole; a
 * caller's FILE receives the document only after it was rendered whole
 * into an unnamed temporary file, so that a failure writes nothing to it.
 * Images and attachments that the options write to disk are written by
 * the renderer's own writers.
 *
 * Also whole_file, which the MIME export shares, and the new file of a
 * unique name it is written through, which the velko command's writer
 * makes too.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <random>
#include <string>

#include "export/item_export.h"
#include "render/render_info.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "velko/status.h"

namespace {

/* The rendering writes through a buffer of this size. */
constexpr DWORD kExportBufferSize = kWorkBlockSize;
constexpr WORD kLongestOptions = 0xFFFF;
constexpr size_t kCopyBlock = 16384;

/* Copies the whole of `from` (read from its start) to `to`. */
bool CopyFile(FILE* from, FILE* to) {
  if (fflush(from) != 0 || fseek(from, 0, SEEK_SET) != 0)
    return false;
  char block[kCopyBlock];
  size_t got = 0;
  while ((got = fread(block, 1, sizeof block, from)) > 0) {
    if (fwrite(block, 1, got, to) != got)
      return false;
  }
  return ferror(from) == 0 && fflush(to) == 0;
}

/* An unnamed file in the session's temporary directory: removed from the
 * directory as soon as it is open, so that nothing is left there whatever
 * happens. Null when it cannot be made. */
FILE* OpenUnnamedFile(const LSXLsiSession* session) {
  const char* directory = session->internal->temp_directory;
  if (directory[0] == '\0')
    directory = "/tmp/";
  char path[MAXPATH + 32] = {};
  const size_t length = strlen(directory);
  const int written = snprintf(path, sizeof path, "%s%svelko-export-XXXXXX", directory,
                               directory[length - 1] == '/' ? "" : "/");
  if (written < 0 || static_cast<size_t>(written) >= sizeof path)
    return nullptr;
  const int fd = mkstemp(path);
  if (fd < 0)
    return nullptr;
  unlink(path);
  FILE* file = fdopen(fd, "w+b");
  if (file == nullptr)
    close(fd);
  return file;
}

} // namespace

STATUS CheckItemExport(const VelkoRTItem* item, const char* options) {
  if (item == nullptr || item->IsConnected == 0 || item->session == nullptr ||
      item->note == NULLHANDLE)
    return VELKO_ERR_NO_INPUT;
  if (options != nullptr && strlen(options) > kLongestOptions)
    return VELKO_ERR_BAD_ARGUMENT;
  return NOERROR;
}

std::string TemporaryPatternBeside(const std::string& path) {
  const size_t slash = path.rfind('/');
  return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
         ".velko-XXXXXX";
}

int CreateUniqueFile(std::string* pattern) {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  constexpr size_t kUnique = 6;
  constexpr int kAttempts = 100;
  if (pattern->size() < kUnique) {
    errno = EINVAL;
    return -1;
  }
  thread_local std::mt19937_64 random{std::random_device{}()};
  const size_t from = pattern->size() - kUnique;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    uint64_t bits = random();
    for (size_t at = from; at < pattern->size(); ++at, bits /= sizeof kLetters - 1)
      (*pattern)[at] = kLetters[bits % (sizeof kLetters - 1)];
    const int fd = open(pattern->c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST)
      return fd;
  }
  return -1;
}

whole_file::~whole_file() { Discard(); }

void whole_file::Discard() {
  if (file_ != nullptr) {
    fclose(file_);
    file_ = nullptr;
  }
  if (!temporary_.empty())
    unlink(temporary_.c_str());
  temporary_.clear();
}

STATUS whole_file::Open(const char* path) {
  Discard();
  if (path == nullptr || path[0] == '\0')
    return VELKO_ERR_BAD_ARGUMENT;
  try {
    path_ = path;
    temporary_ = TemporaryPatternBeside(path_);
  } catch (const std::bad_alloc&) {
    return VELKO_ERR_MEMORY;
  }
  // A device or a FIFO at the path (/dev/null, a pipe) is written where it
  // is, as a file renamed over it would take its place: the content goes
  // to an unnamed file, which the writers may seek in, and is copied to
  // the path when whole.
  struct stat info = {};
  if (stat(path, &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
    temporary_.clear();
    inPlace_ = true;
    file_ = tmpfile();
    return file_ != nullptr ? NOERROR : STATUS{VELKO_ERR_BAD_ARGUMENT};
  }
  inPlace_ = false;
  const int fd = CreateUniqueFile(&temporary_);
  if (fd < 0) {
    temporary_.clear();
    return VELKO_ERR_BAD_ARGUMENT;
  }
  file_ = fdopen(fd, "wb");
  if (file_ == nullptr) {
    close(fd);
    Discard();
    return VELKO_ERR_BAD_ARGUMENT;
  }
  return NOERROR;
}

STATUS whole_file::Finish(STATUS status) {
  if (file_ == nullptr)
    return status != NOERROR ? status : STATUS{VELKO_ERR_BAD_ARGUMENT};
  if (inPlace_) {
    FILE* target = status == NOERROR && ferror(file_) == 0 ? fopen(path_.c_str(), "wb") : nullptr;
    const bool copied = target != nullptr && CopyFile(file_, target);
    if (status == NOERROR && !((target == nullptr || fclose(target) == 0) && copied))
      status = VELKO_ERR_BAD_ARGUMENT;
    Discard();
    return status;
  }
  const bool written = ferror(file_) == 0;
  const bool closed = fclose(file_) == 0;
  file_ = nullptr;
  if (status == NOERROR && !(written && closed && rename(temporary_.c_str(), path_.c_str()) == 0))
    status = VELKO_ERR_BAD_ARGUMENT;
  if (status == NOERROR)
    temporary_.clear(); // renamed: nothing to remove
  Discard();
  return status;
}

STATUS RenderItemForExport(VelkoRTItem* item, export_render* run, std::string* held) {
  LSXLsiSession* session = item->session;
  const export_chunk chunk(item);
  if (chunk.get() == nullptr)
    return VELKO_ERR_MEMORY;
  auto* buffer = static_cast<char*>(VelkoAllocatePtr(session, VELKO_HERE, kExportBufferSize, 1));
  if (buffer == nullptr)
    return VELKO_ERR_MEMORY;
  DWORD length = kExportBufferSize;
  int callerWord = 0;
  const STATUS status = GenerateHTMLToMimeInMemory(
      chunk.get(), run->mime_mode, run->generation, run->options,
      ExportOptionsLength(run->options), buffer, &length, run->part_number, run->part_name,
      run->file, run->file_name, nullptr, nullptr, run->link_graphic_used, &callerWord,
      run->part_memory);
  try {
    if (status == NOERROR && held != nullptr)
      held->append(buffer, length);
  } catch (...) {
    VelkoDeallocatePtr(session, buffer);
    throw;
  }
  VelkoDeallocatePtr(session, buffer);
  return status;
}

STATUS SaveAsHTMLInternal(VelkoRTItem* item, FILE* file, const char* fileName,
                          const char* generation, const char* options) {
  if (STATUS status = CheckItemExport(item, options); status != NOERROR)
    return status;
  if (file == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  export_render run;
  run.generation = generation;
  run.options = options;
  run.file = file;
  run.file_name = fileName;
  STATUS status = RenderItemForExport(item, &run, nullptr);
  // A write that failed is the file's fault, whichever pass met it.
  if (ferror(file) != 0 || (status == NOERROR && fflush(file) != 0))
    status = VELKO_ERR_BAD_ARGUMENT;
  return status;
}

STATUS VelkoRTItem::SaveAsHTML(const char* path, const char* generation, const char* options) {
  if (STATUS status = CheckItemExport(this, options); status != NOERROR)
    return FinishItemExport(this, status);
  whole_file out;
  if (STATUS status = out.Open(path); status != NOERROR)
    return FinishItemExport(this, status);
  const STATUS status = SaveAsHTMLInternal(this, out.file(), path, generation, options);
  return FinishItemExport(this, out.Finish(status));
}

STATUS VelkoRTItem::SaveAsHTML(FILE* file, const char* generation, const char* options) {
  if (STATUS status = CheckItemExport(this, options); status != NOERROR)
    return FinishItemExport(this, status);
  if (file == nullptr)
    return FinishItemExport(this, VELKO_ERR_BAD_ARGUMENT);
  FILE* whole = OpenUnnamedFile(session);
  if (whole == nullptr)
    return FinishItemExport(this, VELKO_ERR_BAD_ARGUMENT);
  STATUS status = SaveAsHTMLInternal(this, whole, nullptr, generation, options);
  if (status == NOERROR && !CopyFile(whole, file))
    status = VELKO_ERR_BAD_ARGUMENT;
  fclose(whole);
  return FinishItemExport(this, status);
}
