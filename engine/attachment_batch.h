/*
 * The files one append attaches one after another (AppendFileAttachments,
 * chunk/rtchunk_internal.h): each with its attachment name and a writer
 * that puts its bytes in a file just before it is attached, so that the
 * files may share one path. The engine's file-attachment action takes the
 * batch in one pass over the body where a call per file would pass over it
 * once for each.
 */
#ifndef VELKO_ENGINE_ATTACHMENT_BATCH_H
#define VELKO_ENGINE_ATTACHMENT_BATCH_H

#include <functional>
#include <string>
#include <vector>

struct batch_file {
  std::string name; /* the attachment name (LMBCS) */
  /* Writes the file and gives its path; empty when it cannot be written. */
  std::function<std::string()> write;
};

struct attachment_batch {
  std::vector<batch_file> files;
};

#endif
