/*
 * The state of one HTML import: what the import's steps share while it
 * turns HTML into records. Holds, so far, what the marking of pass-through
 * HTML reads (the session and the two delimiter texts); the parser's
 * working state joins it when the importer is built.
 */
#ifndef VELKO_IMPORT_HTML_IMPORT_STATE_H
#define VELKO_IMPORT_HTML_IMPORT_STATE_H

#include "velko/velko.h"

struct html_import_state {
  LSXLsiSession* session = nullptr;
  /* The delimiters of pass-through regions ("PassthruHTMLStart=",
   * "PassthruHTMLEnd="): tracked copies of the session while the import
   * marks them, else null. */
  char* passthru_start = nullptr;
  char* passthru_end = nullptr;
};

#endif
