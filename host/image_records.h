/*
 * The records that hold a GIF or JPEG in rich text: one CDGRAPHIC, one
 * CDIMAGEHEADER (the image's type and size, its data size and segment
 * count) and the image bytes in CDIMAGESEGMENTs of at most 10240 bytes
 * each, an odd last piece padded to an even segment size. Each record is
 * built in host form and handed to the caller's writer in order: the
 * import filter stores them in a CD file, the HTML import emits them into
 * a body.
 *
 * Not here: telling the image's kind and size (host/image_data.h),
 * checking that an image is whole (the filter does), brackets around the
 * records.
 */
#ifndef VELKO_HOST_IMAGE_RECORDS_H
#define VELKO_HOST_IMAGE_RECORDS_H

#include "host/cdrecords.h"
#include "velko/host_types.h"

/* The most image bytes one segment holds. */
inline constexpr DWORD kImageSegmentLimit = 10240;

/* Takes one record in host form (length bytes, header included). A status
 * other than 0 ends the writing. */
typedef STATUS (*IMAGE_RECORD_WRITER)(void* context, const void* record, WORD signature,
                                      DWORD length);

/* The records of the image (kind IMAGE_DATA_GIF or IMAGE_DATA_JPEG, its
 * size in pixels) to the writer. The CDGRAPHIC takes graphic's fields
 * (null: all zero) with its own header and version 2. The first failing
 * status of the writer, else 0. */
STATUS WriteImageRecords(const BYTE* data, DWORD size, WORD kind, WORD width, WORD height,
                         const CDGRAPHIC* graphic, IMAGE_RECORD_WRITER write, void* context);

#endif
