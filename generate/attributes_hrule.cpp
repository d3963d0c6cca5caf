/* Attribute strings of records (being built: bodies answer nothing yet). */
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "generate/attribute_strings.h"

STATUS CalculateHRuleAttributesString(const record_storage* node, attribute_text* out, WORD id,
                                      DWORD* written, WORD clientPreference) {
  return 0;
}
