/* Attribute strings of records (being built: bodies answer nothing yet). */
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "generate/attribute_strings.h"

STATUS CalculateLayerAttributesPOSITIONINGString(const void* record, DWORD length,
                                                 attribute_text* out, WORD id, DWORD* written) {
  return 0;
}

STATUS CalculateLayerAttributesBOXSIZEString(const void* record, DWORD length, attribute_text* out,
                                             WORD id, DWORD* written) {
  return 0;
}

STATUS CalculateLayerAttributesBACKGROUNDPROPERTIESString(const void* record, DWORD length,
                                                          attribute_text* out, WORD id,
                                                          DWORD* written) {
  return 0;
}
