/*
 * Reading the kind and size of GIF, JPEG and BMP data (host/image_data.h).
 */
#include "host/image_data.h"

#include <cstring>

namespace {

/* The JPEG scan stops when fewer bytes than a frame header needs remain. */
constexpr DWORD kJpegScanTail = 11;
constexpr DWORD kGifWidthAt = 6;
constexpr DWORD kGifHeightAt = 8;
constexpr DWORD kGifHeaderSize = 10;

WORD LittleWord(const BYTE* at) { return static_cast<WORD>(at[0] | at[1] << 8); }
WORD BigWord(const BYTE* at) { return static_cast<WORD>(at[0] << 8 | at[1]); }

bool IsFrameMarker(BYTE marker) {
  switch (marker) {
  case 0xC0: case 0xC1: case 0xC2: case 0xC3:
  case 0xC5: case 0xC6: case 0xC7:
  case 0xC9: case 0xCA: case 0xCB:
  case 0xCD: case 0xCE: case 0xCF:
    return true;
  default:
    return false;
  }
}

/* Each marker's segment is stepped over by its length (at least 2, so
 * every step moves on). */
bool ScanJpeg(const BYTE* data, DWORD size, WORD* width, WORD* height) {
  DWORD at = 2;
  while (at < size && size - at >= kJpegScanTail) {
    if (data[at] != 0xFF || data[at + 1] == 0xFF) {
      ++at;
      continue;
    }
    const DWORD marker = at + 1;
    if (IsFrameMarker(data[marker])) {
      *width = BigWord(data + marker + 6);
      *height = BigWord(data + marker + 4);
      return true;
    }
    const WORD segmentLength = BigWord(data + marker + 1);
    if (segmentLength < 2)
      return false;
    at = marker + 1 + segmentLength;
  }
  return false;
}

} // namespace

extern "C" WORD ReadImageDataSize(const BYTE* data, DWORD size, WORD* retWidth, WORD* retHeight) {
  WORD width = 0;
  WORD height = 0;
  WORD kind = 0;
  if (data != nullptr && size >= 3 && std::memcmp(data, "GIF", 3) == 0) {
    kind = IMAGE_DATA_GIF;
    if (size >= kGifHeaderSize) {
      width = LittleWord(data + kGifWidthAt);
      height = LittleWord(data + kGifHeightAt);
    }
  } else if (data != nullptr && size >= 2 && data[0] == 'B' && data[1] == 'M') {
    kind = IMAGE_DATA_BMP;
  } else if (data != nullptr && ScanJpeg(data, size, &width, &height)) {
    kind = IMAGE_DATA_JPEG;
  }
  if (retWidth != nullptr)
    *retWidth = width;
  if (retHeight != nullptr)
    *retHeight = height;
  return kind;
}
