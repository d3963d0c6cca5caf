/*
 * Construction and destruction of rich-text items. An item joins its
 * session's item list when made; destroying it deletes every chunk of the
 * session that belongs to it and leaves the list.
 */
#include "velko/velko.h"

VelkoRTItem::VelkoRTItem(LSXLsiSession* owner) : session(owner) {
  if (session != nullptr)
    session->AddToRTITEMList(this);
}

VelkoRTItem::~VelkoRTItem() {
  delete default_chunk;
  if (session != nullptr) {
    VelkoRTChunk* chunk = session->chunks;
    while (chunk != nullptr) {
      VelkoRTChunk* next = chunk->next;
      if (chunk->item == this)
        delete chunk;
      chunk = next;
    }
    session->RemoveFromRTITEMList(this);
  }
}
