/*
 * The names a rendering run gives the files it writes to disk: see
 * render/run_files.h.
 */
#include "render/run_files.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <unordered_map>

#include "engine/services.h"
#include "render/graphic.h"

/* The paths the run gave, by their key (the path in lower case), each
 * with the name it ends in. */
struct run_files {
  struct given_path {
    std::string path;
    std::string name;
  };
  std::unordered_map<std::string, given_path> given;
};

namespace {

std::string Key(const std::string &path) {
  std::string key = path;
  for (char &ch : key) {
    if (ch >= 'A' && ch <= 'Z')
      ch = static_cast<char>(ch - 'A' + 'a');
  }
  return key;
}

/* The path the run gave under the key, or null. */
const run_files::given_path *GivenPath(const run_files &files, const std::string &key) {
  const auto given = files.given.find(key);
  return given != files.given.end() ? &given->second : nullptr;
}

/* The name with "-n" before its extension: from its last "." on, unless
 * that "." begins the name. */
std::string NumberedName(const std::string &name, unsigned n) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0)
    dot = name.size();
  return name.substr(0, dot) + "-" + std::to_string(n) + name.substr(dot);
}

bool FileExists(const std::string &path) {
  struct stat info = {};
  return stat(path.c_str(), &info) == 0;
}

/* Whether the two files hold the same bytes; false when either cannot be
 * read. */
bool SameContent(const std::string &first, const std::string &second) {
  FILE *a = fopen(first.c_str(), "rb");
  FILE *b = fopen(second.c_str(), "rb");
  bool same = a != nullptr && b != nullptr;
  static constexpr size_t kBlock = 8192;
  char blockA[kBlock];
  char blockB[kBlock];
  while (same) {
    const size_t readA = fread(blockA, 1, kBlock, a);
    const size_t readB = fread(blockB, 1, kBlock, b);
    same = readA == readB && memcmp(blockA, blockB, readA) == 0;
    if (readA < kBlock) {
      same = same && ferror(a) == 0 && ferror(b) == 0;
      break;
    }
  }
  if (a != nullptr)
    fclose(a);
  if (b != nullptr)
    fclose(b);
  return same;
}

/* Places the file written aside under the first name from `name` on that
 * the run has not given to other content, and returns that name (as the
 * run gave it, when the content is the same). */
std::string PlaceWrittenAside(run_files &files, const std::string &directory,
                              const std::string &name, const std::string &aside,
                              bool keepExisting, STATUS *status) {
  // At most one name more than the run gave is looked at.
  for (unsigned n = 0;; ++n) {
    const std::string candidate = n == 0 ? name : NumberedName(name, n);
    const std::string path = RenderJoinPath(directory, candidate);
    const std::string key = Key(path);
    if (const run_files::given_path *given = GivenPath(files, key)) {
      if (SameContent(given->path, aside))
        return given->name;
      continue;
    }
    files.given.emplace(key, run_files::given_path{path, candidate});
    if (!(keepExisting && FileExists(path)) && rename(aside.c_str(), path.c_str()) != 0)
      *status = kServiceNotAvailable;
    return candidate;
  }
}

} // namespace

std::string WriteRunFile(html_render_info *context, const std::string &directory,
                         const std::string &name, bool keepExisting,
                         const run_file_writer &write, STATUS *status) {
  if (context->run_files == nullptr)
    context->run_files = new run_files;
  run_files &files = *context->run_files;
  const std::string path = RenderJoinPath(directory, name);
  // A name the run has not given is the run's from here on, even when
  // the file cannot be written: a link already names it.
  if (files.given.emplace(Key(path), run_files::given_path{path, name}).second) {
    if (!(keepExisting && FileExists(path)))
      *status = write(path);
    return name;
  }
  // Written aside, in a directory of its own beside the others, to be
  // compared with the files of the run.
  std::string folder = RenderJoinPath(directory, ".velko-XXXXXX");
  if (mkdtemp(folder.data()) == nullptr)
    return name;
  const std::string aside = folder + "/file";
  std::string placed = name;
  *status = write(aside);
  if (*status == NOERROR && FileExists(aside))
    placed = PlaceWrittenAside(files, directory, name, aside, keepExisting, status);
  unlink(aside.c_str());
  rmdir(folder.c_str());
  return placed;
}

void ReleaseRunFiles(html_render_info *context) {
  delete context->run_files;
  context->run_files = nullptr;
}
