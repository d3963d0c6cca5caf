/*
 * Construction and destruction of chunks. A chunk joins its session's chunk
 * list when made and leaves it when destroyed; the session and the item
 * delete chunks that are still alive when they go.
 */
#include "chunk/rtchunk_internal.h"

#include "engine/chunkdef.h"
#include "engine/driver.h"
#include "engine/process_state.h"
#include "store/new_object.h"
#include "store/tracked_memory.h"

_internal_RTCHUNK::~_internal_RTCHUNK() {
  while (inline_part_node* node = inline_parts) {
    inline_parts = node->next;
    delete[] node->data;
    delete[] node->name;
    delete node;
  }
  DeleteChunkDefinitions(definitions);
}

VelkoRTChunk::VelkoRTChunk(LSXLsiSession* owner, VelkoRTItem* parent)
    : session(owner), item(parent), internal(NewPrivateBlock<_internal_RTCHUNK>()) {
  if (session != nullptr)
    session->AddToRTCHUNKList(this);
}

VelkoRTChunk::~VelkoRTChunk() {
  if (item != nullptr && item->default_chunk == this)
    item->default_chunk = nullptr;
  DeleteChunkDefinitions(internal->definitions);
  internal->definitions = nullptr;
  delete[] definition;
  delete[] unzoomed_definition;
  for (WORD slot = 1; slot <= 6; ++slot)
    CleanupEventRetString(slot);
  FreeSortKeys(session, internal->sort_keys, &internal->sort_key_texts);
  delete internal;
  if (session != nullptr)
    session->RemoveFromRTCHUNKList(this);
}
