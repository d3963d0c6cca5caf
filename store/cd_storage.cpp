/*
 * Graphics held as storage objects and the sizes of images.
 */
#include "store/cd_storage.h"

STATUS GetDimensionsFromRecords(record_storage*, WORD* width, WORD* height) {
  if (width == nullptr || height == nullptr)
    return 1028;
  return NOERROR;
}
