/*
 * Export services whose implementation is not built yet. Converting a MIME
 * item leaves it as it is: the caller reads the item's type again and finds
 * it is still not rich text.
 */
#include "engine/services.h"
#include "store/services.h"

STATUS ConvertFromMIMEBackend(VelkoRTItem*, NOTEHANDLE, const char*, const char*, WORD,
                              const char*, WORD) {
  return VELKO_ERR_BAD_ARGUMENT;
}

/* ---- services the chunk engine calls (engine/services.h) ---- */

STATUS RemoveAttachmentsFromChunk(VelkoRTChunk*, chunk_process_state*) {
  return kServiceNotAvailable;
}

STATUS FileSizeFromInternal(DBHANDLE, NOTEHANDLE, const char*, DWORD* size, DWORD) {
  if (size != nullptr)
    *size = 0;
  return kServiceNotAvailable;
}

/* ---- services the store calls (store/services.h) ---- */

STATUS ExternalFileNameFromInternal(NOTEHANDLE, const char*, char* name) {
  if (name != nullptr)
    name[0] = '\0';
  return kServiceNotAvailable;
}
