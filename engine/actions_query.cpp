/*
 * Query actions of the chunk engine built so far: action 1, the record
 * numbers where the chunk lies (its first record, its last record, whether
 * it exists), and action 9, the text of the chunk's text runs. Both read
 * the records and answer in the session; neither changes a record. Once
 * action 1's chunk can no longer close, or no longer open again, the rest
 * of the walk only counts the records to its end (PassRestOfWalk,
 * engine/walk.cpp).
 *
 * The other property queries and settings are their own actions.
 */
#include <string.h>

#include "engine/driver.h"
#include "engine/record_fields.h"
#include "engine/walk.h"
#include "store/emitter.h"
#include "store/owned_text.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "velko/status.h"

namespace {

/* The most text action 9 gathers, separators included. */
constexpr DWORD kTextLimit = 65340;

} // namespace

STATUS QueryRecordPositionsAtStart(chunk_process_state* state) {
  if (state->p1 == PROP_EXISTS && state->chunk != nullptr)
    state->chunk->status = VELKO_STATUS_READ_ONLY;
  return NOERROR;
}

STATUS QueryRecordPositions(chunk_process_state* state) {
  _internal_SESS* session = state->session->internal;
  if (session->found_first == 0)
    session->found_first = state->record_counter;
  if (state->p1 == PROP_FIRSTRECORD || state->p1 == PROP_EXISTS)
    return VELKO_ERR_ITEM_NOT_FOUND; // the chunk's first record is the answer
  session->found_second = state->record_counter;
  return NOERROR;
}

bool QueryPassesRestOfChunk(const chunk_process_state* state) {
  // The first record and the chunk's existence are answered where the
  // chunk opens.
  return state->p1 != PROP_FIRSTRECORD && state->p1 != PROP_EXISTS;
}

void AnswerRecordPositionsThrough(DWORD first, DWORD last, chunk_process_state* state) {
  _internal_SESS* session = state->session->internal;
  if (session->found_first == 0)
    session->found_first = first;
  session->found_second = last;
}

STATUS QueryText(const char* record, WORD signature, DWORD length, chunk_process_state* state) {
  if (signature != SIG_CD_TEXT || length <= sizeof(CDTEXT) || state->found != 0)
    return NOERROR;
  LSXLsiSession* session = state->session;
  const char* text = record + sizeof(CDTEXT);
  DWORD count = length - sizeof(CDTEXT);
  if (state->p2 == 0) {
    memcpy(session->result_text, text, count);
    session->result_text[count] = '\0';
    session->result_length = static_cast<WORD>(count);
    state->found = 1;
    return NOERROR;
  }

  const DWORD separator = state->s1 != nullptr ? static_cast<DWORD>(strlen(state->s1)) : 0;
  const DWORD used = session->result_length;
  if (separator != 0 && used + separator > kTextLimit) {
    state->found = 1;
    return NOERROR;
  }
  if (used + count + separator > kTextLimit) {
    count = WholeCharacters(text, count, kTextLimit - used - separator);
    state->found = 1;
  }
  if (count == 0)
    return NOERROR;
  char* at = session->result_text + used;
  if (used != 0 && separator != 0) {
    memcpy(at, state->s1, separator);
    at += separator;
  }
  memcpy(at, text, count);
  at[count] = '\0';
  session->result_length = static_cast<WORD>(at + count - session->result_text);
  return NOERROR;
}
