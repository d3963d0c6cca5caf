/*
 * What the fuzz targets that render share: a directory of the process's
 * own for the files a rendering writes (images, attachments), emptied
 * after each input, and the check that an XHTML document is well formed
 * (libxml2's XML parser, the HTML named entities made numeric first).
 * Targets that include it link LibXml2.
 */
#ifndef VELKO_FUZZ_RENDERED_XHTML_H
#define VELKO_FUZZ_RENDERED_XHTML_H

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "fuzz/fuzz_support.h"
#include "tests/support/xml_check.h"

/* The directory of the files the runs write, made once per process and
 * removed when it ends. */
struct fuzz_output_directory {
  fuzz_output_directory() {
    path = (std::filesystem::temp_directory_path() / "velko_fuzz_XXXXXX").string();
    check(mkdtemp(path.data()) != nullptr);
  }
  ~fuzz_output_directory() {
    std::error_code error;
    std::filesystem::remove_all(path, error);
  }
  std::string path;
};

inline const std::string& FuzzOutputDirectory() {
  static const fuzz_output_directory directory;
  return directory.path;
}

inline void EmptyFuzzOutputDirectory() {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(FuzzOutputDirectory(), error))
    std::filesystem::remove_all(entry.path(), error);
}

/* Quiets the host once per process, its temporary directory that one. */
inline void QuietFuzzHostInOutputDirectory() {
  static const bool quiet = [] {
    QuietFuzzHost(FuzzOutputDirectory().c_str());
    return true;
  }();
  (void)quiet;
}

/* The options that send a rendering's files to that directory. */
inline std::string FuzzOutputOptions() {
  return "ImageDirectory=" + FuzzOutputDirectory() +
         " AttachmentDirectory=" + FuzzOutputDirectory();
}

inline bool WellFormedXhtml(const std::string& document) {
  return xml_check::ParseErrors(xml_check::NumericEntities(document), true).empty();
}

#endif
