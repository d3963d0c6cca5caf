/*
 * The state of one HTML import: what the import's steps share while it
 * turns HTML into records. The marking of pass-through HTML reads the
 * session and the two delimiter texts; the importer adds the operation it
 * writes for, the parsed document, the record list it collects (records
 * the emitter hands over while the import runs) and its options.
 */
#ifndef VELKO_IMPORT_HTML_IMPORT_STATE_H
#define VELKO_IMPORT_HTML_IMPORT_STATE_H

#include <string_view>

#include "velko/velko.h"

struct body_context;
struct chunk_process_state;
struct record_storage;

struct html_import_state {
  LSXLsiSession* session = nullptr;
  /* The delimiters of pass-through regions ("PassthruHTMLStart=",
   * "PassthruHTMLEnd="): tracked copies of the session while the import
   * marks them, else null. */
  char* passthru_start = nullptr;
  char* passthru_end = nullptr;

  chunk_process_state* process = nullptr; /* the operation written for */
  const void* document = nullptr;               /* the parsed document (TidyDoc) */
  const void* text_node = nullptr;              /* the text node being written (TidyNode) */
  void* link_font = nullptr;              /* not used: links take the URL font */
  /* The records collected so far: a list of nodes made in list_body's
   * arena. A record goes after the insertion point, which then moves to
   * it, or at the end when there is none. */
  body_context* list_body = nullptr;
  record_storage* head = nullptr;
  record_storage* tail = nullptr;
  record_storage* insertion_point = nullptr;
  /* A piece of list_body's arena that the list's nodes are carved from,
   * so that a record costs no arena call of its own; what is left of it
   * goes back with ReturnListSpare. */
  char* list_spare = nullptr;
  size_t list_spare_room = 0;
  const char* options = nullptr;
  WORD charset = 0;          /* the CSID the HTML was read in */
  DWORD table_depth = 0;     /* tables open around the walk */
  DWORD paragraph_state = 0; /* 1: a paragraph break is due before more content */
};

/* Gives what is left of the list's spare piece back to its arena. */
void ReturnListSpare(html_import_state* state);

/* A text run of the 8-byte header's font and the text (below 32000 bytes),
 * made in the import's list as the emitter would hand it over from
 * GenerateCDText, without the copy on the way. 0; 263 when memory runs
 * out; 1028 without a header or list. */
STATUS CopyTextToRec(const void* header, std::string_view text, html_import_state* state);

#endif
