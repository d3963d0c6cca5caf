/*
 * HTML import services whose implementation is not built yet: re-importing
 * the HTML held in the item's body contexts reports that the operation is
 * not available.
 */
#include "engine/services.h"

/* ---- imports the chunk engine calls (engine/services.h) ---- */

STATUS GenerateCDRecordsFromHTMLBodyContext(body_context* const[2], const char*,
                                            chunk_process_state*) {
  return kServiceNotAvailable;
}
