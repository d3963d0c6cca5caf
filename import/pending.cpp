/*
 * HTML import services whose implementation is not built yet. No import
 * ever runs, so the record emitter never has a record list to hand records
 * to; a call reports that the operation is not available.
 */
#include "store/services.h"

STATUS CopyCDUpdatedToRec(void*, WORD, DWORD, html_import_state*) {
  return VELKO_ERR_BAD_ARGUMENT;
}
