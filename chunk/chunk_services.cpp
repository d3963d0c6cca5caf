/*
 * Services of the chunk's private state for the layers below it.
 */
#include "chunk/rtchunk_internal.h"
#include "engine/chunkdef.h"

void SetChunkDefinitions(VelkoRTChunk* chunk, chunkdef_info* chain, DWORD simple) {
  if (chunk == nullptr || chunk->internal == nullptr) {
    DeleteChunkDefinitions(chain);
    return;
  }
  if (chunk->internal->definitions != chain)
    DeleteChunkDefinitions(chunk->internal->definitions);
  chunk->internal->definitions = chain;
  chunk->internal->simple_definition = simple;
}
