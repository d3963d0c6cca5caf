/*
 * CopyCDUpdatedToRec: while an HTML import runs, the record emitter hands
 * each record here and the import keeps a copy in its own list, to be
 * written to the body when the import is done. The import's text runs are
 * made in the list directly (CopyTextToRec).
 */
#include <string.h>

#include "import/html_import_state.h"
#include "host/cdrecords.h"
#include "store/body.h"
#include "store/messages.h"
#include "store/services.h"
#include "store/tracked_memory.h"

namespace {

/* Bytes ahead of the list's end that a new record asks for: a dozen
 * records or so. */
constexpr size_t kListLookAhead = 1024;
/* Bytes of the list's arena taken at a time for its nodes. */
constexpr size_t kListSpareSize = 4096;

/* A node of the list's arena for a record of the signature and length
 * (made as NewArenaRecord makes one), linked after the insertion point
 * (else at the end); null when memory runs out. */
record_storage* NewListRecord(WORD signature, DWORD length, html_import_state* state) {
  // The list is written where the spare piece goes on: the memory of the
  // records to come is asked for ahead.
  if (const char* next = state->list_spare; next != nullptr)
    __builtin_prefetch(next + kListLookAhead, 1);
  void* piece = CutFromArenaSpare(state->session, &state->list_body->arena, &state->list_spare,
                                  &state->list_spare_room, ArenaNodePiece(EvenLength(length)),
                                  kListSpareSize, VELKO_HERE);
  if (piece == nullptr) {
    LogOutOfMemory(VELKO_HERE);
    return nullptr;
  }
  record_storage* node = PlaceArenaRecord(piece, signature, nullptr, length);
  if (state->insertion_point == nullptr) { // the usual case: at the end
    if (record_storage* tail = state->tail; tail == nullptr) {
      state->head = node;
    } else {
      tail->next = node;
      node->previous = tail;
    }
    state->tail = node;
    return node;
  }
  state->insertion_point->InsertRecordAfter(node);
  if (node->next == nullptr)
    state->tail = node;
  state->insertion_point = node;
  return node;
}

} // namespace

void ReturnListSpare(html_import_state* state) {
  ReturnArenaSpare(&state->list_body->arena, &state->list_spare, &state->list_spare_room);
}

STATUS CopyCDUpdatedToRec(void* record, WORD signature, DWORD length, html_import_state* state) {
  if (record == nullptr || state == nullptr || state->list_body == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  record_storage* node = NewListRecord(signature, length, state);
  if (node == nullptr)
    return VELKO_ERR_MEMORY;
  memcpy(node->data, record, length); // the odd byte stays zero
  return NOERROR;
}

STATUS CopyTextToRec(const void* header, std::string_view text, html_import_state* state) {
  if (header == nullptr || state == nullptr || state->list_body == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  CDTEXT record;
  memcpy(&record, header, sizeof record);
  record.Header.Signature = SIG_CD_TEXT;
  record.Header.Length = static_cast<WORD>(sizeof record + text.size());
  record_storage* node = NewListRecord(SIG_CD_TEXT, record.Header.Length, state);
  if (node == nullptr)
    return VELKO_ERR_MEMORY;
  memcpy(node->data, &record, sizeof record);
  if (!text.empty())
    memcpy(node->data + sizeof record, text.data(), text.size());
  return NOERROR;
}
