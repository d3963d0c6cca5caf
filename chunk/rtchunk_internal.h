/*
 * The private working state of a chunk. The engine fills parts of it during
 * one operation; outside an operation only the definition chain, the flags
 * and the inline parts persist.
 */
#ifndef VELKO_CHUNK_RTCHUNK_INTERNAL_H
#define VELKO_CHUNK_RTCHUNK_INTERNAL_H

#include "velko/velko.h"

struct chunkdef_info;
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
};

#endif
