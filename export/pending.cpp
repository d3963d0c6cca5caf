/*
 * Export services whose implementation is not built yet. Converting a MIME
 * item leaves it as it is: the caller reads the item's type again and finds
 * it is still not rich text.
 */
#include "engine/services.h"
#include "generate/services.h"
#include "store/services.h"

STATUS ConvertFromMIMEBackend(VelkoRTItem*, NOTEHANDLE, const char*, const char*, WORD,
                              const char*, WORD) {
  return VELKO_ERR_BAD_ARGUMENT;
}
