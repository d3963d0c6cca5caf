/*
 * Engine actions whose cases and chunk-edge work are not built yet. Each
 * reports that it is not available (1028) and changes nothing, so that an
 * operation that needs one fails clearly instead of passing its records
 * through as if it had done its work.
 */
#include "engine/services.h"

namespace {

STATUS NotAvailable() { return kServiceNotAvailable; }

} // namespace

STATUS ProcessPropertyAction(const char*, WORD, DWORD, chunk_record_output*, chunk_process_state*) {
  return NotAvailable();
}

STATUS ProcessQueryAction(const char*, WORD, DWORD, chunk_record_output*, chunk_process_state*) {
  return NotAvailable();
}

STATUS ProcessLinkPropertyAction(const char*, WORD, DWORD, chunk_record_output*,
                                 chunk_process_state*) {
  return NotAvailable();
}

STATUS ProcessTextRunAction(const char*, WORD, DWORD, chunk_record_output*, chunk_process_state*) {
  return NotAvailable();
}

STATUS ProcessParagraphAction(const char*, WORD, DWORD, chunk_record_output*,
                              chunk_process_state*) {
  return NotAvailable();
}

STATUS ProcessRemovalAction(const char*, WORD, DWORD, chunk_record_output*, chunk_process_state*) {
  return NotAvailable();
}

STATUS ProcessSearchAction(const char*, WORD, DWORD, chunk_record_output*, chunk_process_state*) {
  return NotAvailable();
}

STATUS ProcessLinkMatchingAction(const char*, WORD, DWORD, chunk_record_output*,
                                 chunk_process_state*) {
  return NotAvailable();
}

STATUS ProcessTableAction(const char*, WORD, DWORD, chunk_record_output*, chunk_process_state*) {
  return NotAvailable();
}

STATUS AppendAtChunkStart(const char*, WORD, DWORD, chunk_process_state*) { return NotAvailable(); }

STATUS AppendAtChunkStop(const char*, WORD, DWORD, chunk_process_state*) { return NotAvailable(); }

STATUS EdgeWorkAtChunkStart(const char*, WORD, DWORD, chunk_process_state*) {
  return NotAvailable();
}

STATUS EdgeWorkAtChunkStop(const char*, WORD, DWORD, chunk_process_state*) {
  return NotAvailable();
}
