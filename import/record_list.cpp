/*
 * CopyCDUpdatedToRec: while an HTML import runs, the record emitter hands
 * each record here and the import keeps a copy in its own list, to be
 * written to the body when the import is done.
 */
#include <string.h>

#include "import/html_import_state.h"
#include "store/body.h"
#include "store/messages.h"
#include "store/services.h"
#include "store/tracked_memory.h"

STATUS CopyCDUpdatedToRec(void* record, WORD signature, DWORD length, html_import_state* state) {
  if (record == nullptr || state == nullptr || state->list_body == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  record_storage* node =
      NewArenaRecord(state->session, state->list_body, signature, length, VELKO_HERE);
  if (node == nullptr) {
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
  memcpy(node->data, record, length); // the odd byte stays zero
  record_storage* after = state->insertion_point != nullptr ? state->insertion_point : state->tail;
  if (after == nullptr) {
    state->head = node; // the list was empty
  } else {
    after->InsertRecordAfter(node);
  }
  if (node->next == nullptr)
    state->tail = node;
  if (state->insertion_point != nullptr)
    state->insertion_point = node;
  return NOERROR;
}
