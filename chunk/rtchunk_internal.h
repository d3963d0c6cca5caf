/*
 * The private working state of a chunk. The engine fills parts of it during
 * one operation; outside an operation only the definition chain, the flags,
 * the inline parts and the rendering callbacks persist.
 */
#ifndef VELKO_CHUNK_RTCHUNK_INTERNAL_H
#define VELKO_CHUNK_RTCHUNK_INTERNAL_H

#include "velko/velko.h"

struct chunkdef_info;
struct chunk_sort_key;
struct html_render_info;

/* First word of every chunk state block. */
constexpr WORD kChunkStateMarker = 2633;
constexpr int kFieldBuffers = 5;

/* An inline MIME part kept for the HTML importer, which resolves "cid:"
 * image sources against the parts' names. */
struct inline_part_node {
  char* data = nullptr; /* owned */
  char* name = nullptr; /* owned; the content-id */
  inline_part_node* next = nullptr;
};

struct _internal_RTCHUNK {
  _internal_RTCHUNK() = default;
  ~_internal_RTCHUNK();
  _internal_RTCHUNK(const _internal_RTCHUNK&) = delete;
  _internal_RTCHUNK& operator=(const _internal_RTCHUNK&) = delete;

  WORD marker = kChunkStateMarker;
  DWORD matching_word = 0;
  chunkdef_info* definitions = nullptr; /* owned */
  DHANDLE field_buffer_handles[kFieldBuffers] = {};
  void* field_buffers[kFieldBuffers] = {};
  inline_part_node* inline_parts = nullptr; /* owned */
  html_render_info* render_context = nullptr;
  DWORD simple_definition = 0;
  /* Rendering callbacks; null when none. */
  ActOnTextCallback act_on_text = nullptr;
  QueryLinkDataCallback query_link_data = nullptr;
  /* Row sort keys gathered for SortByRow: a tracked array whose keys hold
   * tracked texts; released with the chunk. */
  WORD sort_key_count = 0;
  chunk_sort_key* sort_keys = nullptr;
};

/* The last clause of a definition chain; null for an empty chain. */
chunkdef_info* LastClause(chunkdef_info* chain);

/* AlterRichText on the chunk, for callers that hold a chunk pointer: the
 * same operation as the method, with the same result. */
STATUS AlterRichText(VelkoRTChunk* chunk, WORD action, WORD p1, WORD p2, WORD p3, WORD p4,
                     const char* s1, const char* s2, const char* extraDefinition,
                     VelkoRTChunk* other);

#endif
