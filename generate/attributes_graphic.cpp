/* Attribute strings of records (being built: bodies answer nothing yet). */
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "generate/attribute_strings.h"

STATUS CalculateMapElementAttributesString(const record_storage* node, attribute_text* out,
                                           WORD id, DWORD* written) {
  return 0;
}

STATUS CalculateAreaElementAttributesString(const record_storage* node, attribute_text* out,
                                            WORD id, DWORD* written) {
  return 0;
}

STATUS CalculateGraphicAttributesALTTEXTString(const void* record, DWORD length,
                                               attribute_text* out, WORD id, DWORD* written) {
  return 0;
}

STATUS CalculateGraphicAttributesCAPTIONString(const void* record, DWORD length,
                                               attribute_text* out, WORD id, DWORD* written) {
  return 0;
}

STATUS CalculateGraphicAttributesBORDERString(const void* record, DWORD length,
                                              attribute_text* out, WORD id, DWORD* written) {
  return 0;
}

STATUS CalculateAttributesIDNAMEString(const void* record, DWORD length, attribute_text* out,
                                       const char* prefix, WORD id, WORD firstId, WORD allId,
                                       DWORD* written) {
  return 0;
}
