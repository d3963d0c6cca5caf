/*
 * The chunk layer's view of a chunk's working state: the block itself is
 * declared with the engine (engine/chunk_state.h), which fills parts of it;
 * the inline parts and the helpers below belong to the chunk layer alone.
 */
#ifndef VELKO_CHUNK_RTCHUNK_INTERNAL_H
#define VELKO_CHUNK_RTCHUNK_INTERNAL_H

#include "engine/attachment_batch.h"
#include "engine/chunk_state.h"

/* An inline MIME part kept for the HTML importer, which resolves "cid:"
 * image sources against the parts' names. */
struct inline_part_node {
  char* data = nullptr; /* owned */
  char* name = nullptr; /* owned; the content-id */
  inline_part_node* next = nullptr;
  DWORD length = 0;  /* bytes of data */
  bool used = false; /* set by the importer when the body shows the part */
};

/* The last clause of a definition chain; null for an empty chain. */
chunkdef_info* LastClause(chunkdef_info* chain);

/* AlterRichText on the chunk, for callers that hold a chunk pointer: the
 * same operation as the method, with the same result. */
STATUS AlterRichText(VelkoRTChunk* chunk, WORD action, WORD p1, WORD p2, WORD p3, WORD p4,
                     const char* s1, const char* s2, const char* extraDefinition,
                     VelkoRTChunk* other);

/* Attaches the batch's files after the chunk in one operation, as
 * AppendFileAttachment (flag 0, no text) would attach them one by one:
 * the chunk's status, the first failing one's (the files before it then
 * attached). */
STATUS AppendFileAttachments(VelkoRTChunk* chunk, const attachment_batch& batch);

#endif
