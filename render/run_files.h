/*
 * The files a rendering run writes to disk (images, image resources and
 * attachments) under names the run gives them, so that no file of the run
 * replaces another and every link names its own file.
 *
 * A name is given once per run, compared without regard to case with the
 * directory it lies in. The first file under a name is written there as it
 * always was. A later one under a name already given is written aside
 * first and compared with the files the run gave: of the same content as
 * the one under the name, it shares that file; else it goes under the name
 * with "-1", "-2"... before its extension, the first that the run has not
 * given to other content. A body without such clashes keeps exactly its
 * names and output.
 *
 * Not here: which names the renderers take from the document (checked as
 * file names before they come here), and the writers themselves.
 */
#ifndef VELKO_RENDER_RUN_FILES_H
#define VELKO_RENDER_RUN_FILES_H

#include <functional>
#include <string>

#include "render/render_info.h"
#include "velko/velko.h"

/* Writes a file to the path it is handed; 0 or the writer's status. */
typedef std::function<STATUS(const std::string &path)> run_file_writer;

/* Writes a file of the run in the directory under the (checked, LMBCS)
 * name, or under the name the run gives it instead, and returns that name.
 * With keepExisting, a file already at the path that is not the run's own
 * is kept and nothing is written. The writer's status goes to *status
 * when it ran. A file that cannot be written aside keeps the name. */
std::string WriteRunFile(html_render_info *context, const std::string &directory,
                         const std::string &name, bool keepExisting,
                         const run_file_writer &write, STATUS *status);

/* Forgets the names the run gave (at the context's release). */
void ReleaseRunFiles(html_render_info *context);

#endif
