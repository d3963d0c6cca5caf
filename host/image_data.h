/*
 * What kind of image a run of image bytes holds and the size it gives:
 * a GIF's logical screen, a JPEG's first frame header, or a BMP (whose
 * size is not read). Shared by the image import filter and the store's
 * reading of image sizes from records.
 *
 * Not here: checking that an image is whole (the import filter does).
 */
#ifndef VELKO_HOST_IMAGE_DATA_H
#define VELKO_HOST_IMAGE_DATA_H

#include "velko/host_types.h"

#define IMAGE_DATA_GIF 1
#define IMAGE_DATA_JPEG 2
#define IMAGE_DATA_BMP 3

#ifdef __cplusplus
extern "C" {
#endif

/* The kind of the data (IMAGE_DATA_*, 0 for anything else) and its width
 * and height; each size is 0 when the data does not give it. A JPEG is
 * known only by a frame header found from byte 2 on, stepping over every
 * other marker's segment. */
WORD ReadImageDataSize(const BYTE* data, DWORD size, WORD* retWidth, WORD* retHeight);

#ifdef __cplusplus
}
#endif

#endif
