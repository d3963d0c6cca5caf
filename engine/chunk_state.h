/*
 * The working state block of a chunk (_internal_RTCHUNK). The engine fills
 * parts of it during one operation (field buffers, the rendering context,
 * gathered sort keys) and reads the definition chain and the rendering
 * callbacks; outside an operation only the definition chain, the flags, the
 * inline parts and the rendering callbacks persist.
 *
 * The chunk layer makes and frees the block (chunk/rtchunk_internal.h adds
 * its own helpers); the engine and the renderer include this header and
 * never the chunk layer's.
 */
#ifndef VELKO_ENGINE_CHUNK_STATE_H
#define VELKO_ENGINE_CHUNK_STATE_H

#include "store/tracked_memory.h"
#include "velko/velko.h"

struct chunkdef_info;
struct chunk_sort_key;
struct html_render_info;
struct inline_part_node;

/* First word of every chunk state block. */
constexpr WORD kChunkStateMarker = 2633;
constexpr int kFieldBuffers = 5;

struct _internal_RTCHUNK {
  _internal_RTCHUNK() = default;
  ~_internal_RTCHUNK(); /* the chunk layer's */
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
  /* Row sort keys gathered for SortByRow: a tracked array, and the arena
   * of their texts; released with the chunk. */
  WORD sort_key_count = 0;
  chunk_sort_key* sort_keys = nullptr;
  record_arena sort_key_texts;
};

#endif
