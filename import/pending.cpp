/*
 * HTML import services whose implementation is not built yet. No import
 * ever runs, so the record emitter never has a record list to hand records
 * to; a call reports that the operation is not available.
 */
#include "engine/services.h"
#include "store/services.h"

STATUS CopyCDUpdatedToRec(void*, WORD, DWORD, html_import_state*) {
  return VELKO_ERR_BAD_ARGUMENT;
}

/* ---- imports the chunk engine calls (engine/services.h) ---- */

STATUS GenerateCDRecordsFromHTMLFile(const char*, const char*, chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS GenerateCDRecordsFromHTMLInline(const char*, DWORD, const char*, chunk_process_state*,
                                       DWORD, DWORD) {
  return kServiceNotAvailable;
}

STATUS GenerateCDRecordsFromHTMLBodyContext(body_context* const[2], const char*,
                                            chunk_process_state*) {
  return kServiceNotAvailable;
}
