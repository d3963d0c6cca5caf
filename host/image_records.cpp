/*
 * Building the graphic, image header and image segment records of a GIF
 * or JPEG (host/image_records.h).
 */
#include "host/image_records.h"

#include <cstring>

namespace {

constexpr BYTE kGraphicVersion = 2;

} // namespace

STATUS WriteImageRecords(const BYTE* data, DWORD size, WORD kind, WORD width, WORD height,
                         const CDGRAPHIC* graphic, IMAGE_RECORD_WRITER write, void* context) {
  CDGRAPHIC picture = {};
  if (graphic != nullptr)
    picture = *graphic;
  picture.Header.Signature = SIG_CD_GRAPHIC;
  picture.Header.Length = sizeof picture;
  picture.Version = kGraphicVersion;
  if (STATUS status = write(context, &picture, SIG_CD_GRAPHIC, sizeof picture); status != NOERROR)
    return status;

  CDIMAGEHEADER header = {};
  header.Header.Signature = SIG_CD_IMAGEHEADER;
  header.Header.Length = sizeof header;
  header.ImageType = kind;
  header.Width = width;
  header.Height = height;
  header.ImageDataSize = size;
  header.SegCount = (size + kImageSegmentLimit - 1) / kImageSegmentLimit;
  if (STATUS status = write(context, &header, SIG_CD_IMAGEHEADER, sizeof header); status != NOERROR)
    return status;

  /* One segment at a time in this area: its fixed part, then the bytes. */
  alignas(CDIMAGESEGMENT) BYTE area[sizeof(CDIMAGESEGMENT) + kImageSegmentLimit];
  for (DWORD at = 0; at < size; at += kImageSegmentLimit) {
    const DWORD piece = size - at < kImageSegmentLimit ? size - at : kImageSegmentLimit;
    const DWORD padded = piece + (piece & 1);
    CDIMAGESEGMENT segment = {};
    segment.Header.Signature = SIG_CD_IMAGESEGMENT;
    segment.Header.Length = sizeof segment + padded;
    segment.DataSize = static_cast<WORD>(piece);
    segment.SegSize = static_cast<WORD>(padded);
    std::memcpy(area, &segment, sizeof segment);
    std::memcpy(area + sizeof segment, data + at, piece);
    if (padded != piece)
      area[sizeof segment + piece] = 0;
    if (STATUS status = write(context, area, SIG_CD_IMAGESEGMENT, sizeof segment + padded);
        status != NOERROR)
      return status;
  }
  return NOERROR;
}
