/*
 * The output body that the record emitter builds for an item: its body
 * context (the item's output context), and the body items it is divided
 * into. Each body item has a write buffer of kBodyBufferCapacity bytes that
 * receives the few records the emitter copies there itself; every record
 * is also a node of the context's record list, which is what the body is
 * written from later. Nodes and body_items are pieces of the output
 * context's record arena.
 *
 * Appending records is store/emitter.cpp; writing the list into a note is
 * SaveBodyItems (store/body_writer.cpp).
 */
#include <new>

#include "store/body.h"
#include "store/emitter.h"
#include "store/messages.h"
#include "store/new_object.h"
#include "store/rtitem_internal.h"
#include "store/tracked_memory.h"
#include "velko/status.h"

namespace {

/* The item's output context, made (empty, output flag 1) when it has none. */
body_context* OutputContext(VelkoRTItem* item) {
  _internal_RTITEM* internal = item->internal;
  if (internal->output != nullptr)
    return internal->output;
  auto* context = NewObject<body_context>();
  if (context == nullptr)
    return nullptr;
  context->note = item->note;
  context->item_name = item->item_name;
  context->output = 1;
  internal->output = context;
  return context;
}

body_item* NewOutputItem(LSXLsiSession* session, body_context* output) {
  void* piece = RecordArenaAllocate(session, &output->arena, VELKO_HERE, sizeof(body_item), 1);
  return piece != nullptr ? new (piece) body_item : nullptr;
}

void LinkOutputItem(body_context* context, body_item* item) {
  body_item* previous = context->items_tail;
  if (previous == nullptr) {
    item->item_number = 0;
    item->first_ordinal = 1;
    context->items = item;
  } else {
    item->item_number = static_cast<WORD>(previous->item_number + 1);
    item->first_ordinal = previous->last_ordinal + 1;
    previous->next = item;
  }
  item->last_ordinal = item->first_ordinal;
  context->items_tail = item;
}

bool IsBuilding(const generation_context* context) {
  return context != nullptr && context->item != nullptr && context->item->internal != nullptr;
}

} // namespace

STATUS CreateBodyItem(generation_context* context) {
  if (!IsBuilding(context))
    return VELKO_ERR_BAD_ARGUMENT;
  LSXLsiSession* session = SessionOf(context);
  if (session == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  context->capacity = kBodyBufferCapacity;
  body_context* output = OutputContext(context->item);
  if (output == nullptr) {
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
  velko_allocation* block = VelkoAllocate(session, VELKO_HERE, context->capacity, 0);
  if (block == nullptr) {
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
  body_item* item = NewOutputItem(session, output);
  if (item == nullptr) {
    VelkoDeallocate(session, block);
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
  auto* buffer = static_cast<char*>(block->data);
  item->buffer = buffer;
  item->block = block;
  LinkOutputItem(output, item);

  output->value = buffer;
  output->cursor = buffer;
  output->value_length = context->capacity;
  context->write_start = buffer;
  context->write_position = buffer;
  return NOERROR;
}

STATUS StoreBodyItem(generation_context* context) {
  if (!IsBuilding(context))
    return VELKO_ERR_BAD_ARGUMENT;
  body_context* output = context->item->internal->output;
  if (output == nullptr || output->items_tail == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  body_item* item = output->items_tail;
  if (context->write_start != nullptr && item->buffer == context->write_start)
    item->length = static_cast<DWORD>(context->write_position - context->write_start);
  if (output->last_written != nullptr)
    item->last_ordinal = output->last_written->ordinal;
  return NOERROR;
}

void CleanupBodyItems(generation_context* context, WORD first) {
  if (!IsBuilding(context))
    return;
  body_context* output = context->item->internal->output;
  if (output == nullptr)
    return;
  LSXLsiSession* session = SessionOf(context);
  WORD index = 0;
  for (body_item* item = output->items; item != nullptr; item = item->next, ++index) {
    if (index < first || item->block == nullptr)
      continue;
    if (item->buffer == context->write_start) {
      context->write_start = nullptr;
      context->write_position = nullptr;
      context->capacity = 0;
    }
    if (item->buffer == output->value) {
      output->value = nullptr;
      output->cursor = nullptr;
    }
    VelkoDeallocate(session, item->block);
    item->block = nullptr;
    item->buffer = nullptr;
  }
}
