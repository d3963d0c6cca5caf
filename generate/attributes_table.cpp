/* Attribute strings of records (being built: bodies answer nothing yet). */
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "generate/attribute_strings.h"

STATUS CalculateTableAttributesPRETABLEString(const void* record, DWORD length, attribute_text* out,
                                              WORD id, DWORD* written, WORD clientPreference) {
  return 0;
}

STATUS CalculateTableAttributesTABLEDATAEXTENSIONString(const void* record, DWORD length,
                                                        attribute_text* out, WORD id,
                                                        DWORD* written, VelkoRTItem* item) {
  return 0;
}

STATUS CalculateTableAttributesTABLEBEGINString(const void* record, DWORD length,
                                                attribute_text* out, WORD id, DWORD* written) {
  return 0;
}

STATUS CalculateTableAttributesTIMERINFOString(const void* record, DWORD length,
                                               attribute_text* out, WORD id, DWORD* written) {
  return 0;
}
