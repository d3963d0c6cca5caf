/* Attribute strings of records (being built: bodies answer nothing yet). */
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "generate/attribute_strings.h"

STATUS ApplyPropertiesToHRuleRecord(LSXLsiSession* session, WORD signature, void* record,
                                    DWORD capacity, const char* properties, DWORD initialise) {
  return 0;
}

DWORD ApplyPropertiesToIDNAMERecord(LSXLsiSession* session, void* record, DWORD capacity,
                                    const void* existing, DWORD existingLength, const char* prefix,
                                    const char* properties, const char* extraOther,
                                    STATUS* status) {
  return 0;
}

STATUS ApplyPropertiesToTableRecord(LSXLsiSession* session, VelkoRTItem* item, WORD signature,
                                    void* record, DWORD capacity, const char* properties,
                                    DWORD initialise) {
  return 0;
}

STATUS ApplyPropertiesToBorderRecord(LSXLsiSession* session, WORD signature, void* record,
                                     DWORD capacity, const char* properties, DWORD initialise) {
  return 0;
}

STATUS ApplyPropertiesToGraphicRecord(LSXLsiSession* session, WORD signature, void* record,
                                      DWORD capacity, const char* properties, DWORD initialise) {
  return 0;
}

const border_style_choice BorderStyleChoices[kBorderStyleChoiceCount] = {
    {"NONE", 0},   {"SOLID", 1},  {"DOUBLE", 2}, {"INSET", 3},   {"OUTSET", 4},  {"RIDGE", 5},
    {"GROOVE", 6}, {"DOTTED", 7}, {"DASHED", 8}, {"PICTURE", 9}, {"IMAGE", 10}, {"GRAPHIC", 10},
};
