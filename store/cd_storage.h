/*
 * Graphics held as storage objects: the image records of a body written
 * into a note object of their own, and reading stored CD data back record
 * by record; and the pixel size of an image found from its records.
 */
#ifndef VELKO_STORE_CD_STORAGE_H
#define VELKO_STORE_CD_STORAGE_H

#include "velko/velko.h"

struct record_storage;

/* The width and height of the graphic whose first record is `first`, read
 * from its records and, for image data, from the GIF or JPEG bytes
 * themselves. 1028 when a size pointer is null. */
STATUS GetDimensionsFromRecords(record_storage* first, WORD* width, WORD* height);

#endif
