/*
 * The images of the HTML import. An img element becomes, in this order of
 * choice: a picture held in the body (CDBEGIN, CDGRAPHIC, CDIMAGEHEADER,
 * CDIMAGESEGMENTs, CDALTTEXT, CDEND) when its source is a "cid:" naming
 * one of the chunk's inline MIME parts, or a base64 "data:" URI, that
 * holds a GIF or JPEG; a storage link to any other address of at most
 * 2048 bytes that runs no script; else its alt text, in the font around
 * it. An inline part that becomes a picture is marked used, so that the
 * MIME conversion does not attach it as a file as well.
 *
 * Not here: the walk of the document and its text runs
 * (import/html_import.cpp).
 */
#ifndef VELKO_IMPORT_HTML_IMAGES_H
#define VELKO_IMPORT_HTML_IMAGES_H

#include <tidy/tidy.h>

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "velko/host_types.h"

struct chunk_process_state;
struct inline_part_node;

/* The chunk's inline parts by content-id, the first of each id, made on
 * the first lookup of an import: a document of many "cid:" images looks
 * each one up at once instead of walking the list of parts. */
class inline_part_index {
public:
  /* The part of the id, or null; may throw std::bad_alloc. */
  inline_part_node* Find(const chunk_process_state* process, const std::string& id);

private:
  bool made_ = false;
  std::unordered_map<std::string, inline_part_node*> parts_;
};

/* What the image step asks of the walk. */
struct html_image_walk {
  /* Records follow: the text so far is written and a paragraph that is
   * due begins. */
  std::function<STATUS()> begin_records;
  /* Writes UTF-8 text in the font around the image. */
  std::function<STATUS(std::string_view)> text;
  /* The import's index of the chunk's inline parts. */
  inline_part_index* parts = nullptr;
};

/* The img element's records or text for the operation. */
STATUS ImportHTMLImage(chunk_process_state* process, TidyNode node, const html_image_walk& walk);

/* True for an address that runs a script: "javascript:" or "vbscript:"
 * (any case) after leading blanks. */
bool IsScriptAddress(const char* address);

#endif
