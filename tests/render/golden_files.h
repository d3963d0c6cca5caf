// Test support for the golden cases that write files and image resources:
// a fresh directory for each run, the case's options with "$DIR" naming
// it, the image resources a case stores in the note's database before the
// run (laid out by the record builder, not by the library), and what a run
// left behind: every file under the directory with its content, and the
// image of each resource it was to make.
#ifndef VELKO_TESTS_RENDER_GOLDEN_FILES_H
#define VELKO_TESTS_RENDER_GOLDEN_FILES_H

#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

#include "cdbuild/cd_builder.h"
#include "golden_fixture.h"
#include "host/nsfnote.h"
#include "render/services.h"
#include "tests/support/note_fixture.h"

namespace golden_testing {

/* A directory of the running test's own (and of the suffix), empty. */
inline fs::path FreshCaseDirectory(const std::string &suffix = "") {
  std::string name = "velko_golden" + suffix + "_" + std::to_string(getpid()) + "_";
  for (char c : std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()))
    name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  const fs::path dir = fs::path(::testing::TempDir()) / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

/* The options with every "$DIR" replaced by the directory. */
inline std::string OptionsIn(const std::string &options, const fs::path &dir) {
  std::string text = options;
  const std::string path = dir.string();
  for (size_t at = text.find("$DIR"); at != std::string::npos; at = text.find("$DIR", at))
    text.replace(at, 4, path), at += path.size();
  return text;
}

/* The records of an image whose one segment holds the bytes. */
inline cdbuild::Body ImageRecords(const std::string &bytes) {
  cdbuild::Body body;
  body.Add(cdbuild::Graphic({}));
  body.Add(cdbuild::ImageHeader({.image_type = 1, .segment_count = 1}));
  body.Add(cdbuild::ImageSegment(cdbuild::Bytes(bytes.begin(), bytes.end())));
  return body;
}

/* Stores the case's image resources: design notes of the name whose
 * "$ImageData" holds the image. */
inline void StoreResources(DBHANDLE db, const Header &header) {
  for (const auto &[name, bytes] : header.resources)
    EXPECT_NE(note_testing::StoreImageResource(db, name, ImageRecords(bytes)), 0u) << name;
}

/* Every file under the directory with its content (relative paths). */
inline std::map<std::string, std::string> WrittenFiles(const fs::path &dir) {
  std::map<std::string, std::string> files;
  for (const auto &entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file())
      files[fs::relative(entry.path(), dir).string()] = ReadFile(entry.path());
  }
  return files;
}

inline std::map<std::string, std::string> ExpectedFiles(const Header &header) {
  return std::map<std::string, std::string>(header.files.begin(), header.files.end());
}

/* The image of the database's resource of the name, as written out by the
 * export layer; "(none)" when it cannot be. */
inline std::string ResourceImage(LSXLsiSession *session, const char *dbPath,
                                 const std::string &name, const fs::path &dir) {
  const fs::path file = dir / "velko_resource_readback";
  if (GenerateGraphicFileFromImageResource(session, "", dbPath, name.c_str(),
                                           file.string().c_str()) != NOERROR)
    return "(none)";
  const std::string bytes = ReadFile(file);
  fs::remove(file);
  return bytes;
}

} // namespace golden_testing

#endif
