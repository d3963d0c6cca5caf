/*
 * Engine actions whose cases and chunk-edge work are not built yet. Each
 * reports that it is not available (1028) and changes nothing, so that an
 * operation that needs one fails clearly instead of passing its records
 * through as if it had done its work.
 */
#include "engine/services.h"

STATUS ProcessPropertyAction(const char*, WORD, DWORD, chunk_record_output*, chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS ProcessQueryAction(const char*, WORD, DWORD, chunk_record_output*, chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS ProcessLinkPropertyAction(const char*, WORD, DWORD, chunk_record_output*,
                                 chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS ProcessTextRunAction(const char*, WORD, DWORD, chunk_record_output*, chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS ProcessParagraphAction(const char*, WORD, DWORD, chunk_record_output*,
                              chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS ProcessRemovalAction(const char*, WORD, DWORD, chunk_record_output*, chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS ProcessSearchAction(const char*, WORD, DWORD, chunk_record_output*, chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS ProcessLinkMatchingAction(const char*, WORD, DWORD, chunk_record_output*,
                                 chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS ProcessTableAction(const char*, WORD, DWORD, chunk_record_output*, chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS AppendAtChunkStart(const char*, WORD, DWORD, chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS AppendAtChunkStop(const char*, WORD, DWORD, chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS EdgeWorkAtChunkStart(const char*, WORD, DWORD, chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS EdgeWorkAtChunkStop(const char*, WORD, DWORD, chunk_process_state*) {
  return kServiceNotAvailable;
}
