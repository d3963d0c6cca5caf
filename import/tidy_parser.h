/*
 * The HTML parser of the importer: a tidy-html5 document whose every
 * allocation is tracked session memory: tidy's many small blocks are cut
 * from large tracked slabs (and reused once tidy frees them), larger ones
 * are tracked blocks of their own. Tidy never sees a null block: a
 * refused allocation (or tidy's panic) jumps back to the guard around the
 * tidy call that made it, the call reports failure, and every block tidy
 * holds is freed with the document, all at once. Tidy's messages go to a buffer, never
 * to stderr.
 *
 * Not here: walking the parsed body (import/html_import.cpp).
 */
#ifndef VELKO_IMPORT_TIDY_PARSER_H
#define VELKO_IMPORT_TIDY_PARSER_H

#include <tidy/tidy.h>
#include <tidy/tidybuffio.h>

#include <string>
#include <string_view>

#include "velko/velko.h"

class tidy_parser {
public:
  explicit tidy_parser(LSXLsiSession* session);
  ~tidy_parser();
  tidy_parser(const tidy_parser&) = delete;
  tidy_parser& operator=(const tidy_parser&) = delete;

  /* Parses and cleans the UTF-8 text with the importer's options. 0; 263
   * when memory ran out; 14409 when tidy gave up on the text. */
  STATUS Parse(std::string_view utf8);
  TidyDoc document() const { return document_; }
  /* The text of a text node as UTF-8 into *text, which stays valid until
   * the next call; false when memory ran out (the parser is then
   * unusable). */
  bool NodeText(TidyNode node, std::string_view* text);
  /* Asks for the memory a little past a node of the document. Tidy's
   * blocks are cut from the slabs in the order it makes them, which leaves
   * the nodes of the parsed tree, their attributes and values one after
   * the other in the order a walk meets them: a walk that asks ahead at
   * each node finds the next ones in the cache. (A prefetch past a slab's
   * end reads nothing.) */
  static void PrefetchAhead(TidyNode node) {
    const char* ahead = reinterpret_cast<const char*>(node) + kTreeLookAhead;
    for (size_t line = 0; line < kTreeLookAheadLines; ++line)
      __builtin_prefetch(ahead + line * 64);
  }

private:
  struct block; // header of each block handed to tidy
  struct slab;  // tracked memory that small blocks are cut from
  /* Small blocks come in sizes of kGrain bytes up to kLargestSmall; a
   * freed one waits on the list of its size for the next request. */
  static constexpr size_t kGrain = 16;
  static constexpr size_t kLargestSmall = 512;
  static constexpr size_t kSlabSize = 256 * 1024;
  /* PrefetchAhead's distance and its cache lines: a node with what it
   * holds takes some 200 bytes of a slab. */
  static constexpr size_t kTreeLookAhead = 2048;
  static constexpr size_t kTreeLookAheadLines = 4;
  static void* Allocate(TidyAllocator* self, size_t size);
  static void* Reallocate(TidyAllocator* self, void* data, size_t size);
  static void Free(TidyAllocator* self, void* data);
  static void Panic(TidyAllocator* self, ctmbstr message);
  [[noreturn]] void Fail();
  block* Take(size_t size);
  void Give(block* node);
  block* CutSmall(size_t capacity);
  void FreeAll();

  TidyAllocator allocator_; // first: tidy hands it back to the callbacks
  LSXLsiSession* session_;
  block* large_ = nullptr;  /* blocks larger than kLargestSmall, linked */
  slab* slabs_ = nullptr;
  char* slab_next_ = nullptr; /* the rest of the newest slab */
  size_t slab_left_ = 0;
  block* free_[kLargestSmall / kGrain] = {};
  void* jump_ = nullptr; /* the guard's jmp_buf while a tidy call runs */
  TidyDoc document_ = nullptr;
  TidyBuffer messages_ = {};
  TidyBuffer text_ = {}; /* NodeText's text, reused from node to node */
  bool broken_ = false; /* a call failed: tidy's state is abandoned */
  template <typename Call> friend bool Guarded(tidy_parser* parser, const Call& call);
};

#endif
