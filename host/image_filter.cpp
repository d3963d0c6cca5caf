/*
 * The "imgfilt" import filter (host/filters.h): a GIF or JPEG file written
 * as a CD file of a graphic, its image header and the file's bytes in
 * image segments.
 */
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "host/cdrecords.h"
#include "host/filters.h"
#include "host/host_internal.h"
#include "host/image_data.h"
#include "host/image_records.h"
#include "host/nsfdata.h"
#include "host/ods.h"
#include "host/status.h"

namespace {

/* The largest image taken: the CD file is read whole into memory again. */
constexpr size_t kLargestImage = 64u << 20;
constexpr size_t kGifLeastSize = 13; /* signature and logical screen */
constexpr BYTE kGifTrailer = 0x3B;

/* The image kind the format asks for, 0 for a format of another kind. */
WORD KindOfFormat(const char* format) {
  if (strcasecmp(format, "GIF") == 0)
    return IMAGE_DATA_GIF;
  if (strcasecmp(format, "JPEG") == 0 || strcasecmp(format, "JPG") == 0)
    return IMAGE_DATA_JPEG;
  return 0;
}

/* Reads the whole file; false when it cannot be read or is too large
 * (*tooLarge then says which). */
bool ReadInput(const char* path, std::vector<BYTE>* content, bool* tooLarge) {
  const std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "rb"), std::fclose);
  if (file == nullptr)
    return false;
  BYTE piece[8192];
  size_t got = 0;
  while ((got = std::fread(piece, 1, sizeof piece, file.get())) > 0) {
    if (content->size() + got > kLargestImage) {
      *tooLarge = true;
      return false;
    }
    content->insert(content->end(), piece, piece + got);
  }
  return std::ferror(file.get()) == 0;
}

/* A whole image of the kind: its signature, a size, and its end mark. */
bool IsWholeImage(const std::vector<BYTE>& data, WORD kind, WORD width, WORD height) {
  if (width == 0 || height == 0)
    return false;
  if (kind == IMAGE_DATA_GIF)
    return data.size() >= kGifLeastSize &&
           (std::memcmp(data.data(), "GIF87a", 6) == 0 ||
            std::memcmp(data.data(), "GIF89a", 6) == 0) &&
           data.back() == kGifTrailer;
  return data.size() >= 4 && data[0] == 0xFF && data[1] == 0xD8 &&
         data[data.size() - 2] == 0xFF && data.back() == 0xD9;
}

/* The stored form of one record the image writer built: its fixed part
 * through the structure's conversion, with the stored length, then the
 * bytes behind it as they are. */
STATUS PutStoredRecord(void* context, const void* record, WORD signature, DWORD length) {
  static const struct {
    WORD signature;
    WORD odsType;
    DWORD hostSize;
  } kFixedParts[] = {{SIG_CD_GRAPHIC, ODS_CDGRAPHIC, sizeof(CDGRAPHIC)},
                     {SIG_CD_IMAGEHEADER, ODS_CDIMAGEHEADER, sizeof(CDIMAGEHEADER)},
                     {SIG_CD_IMAGESEGMENT, ODS_CDIMAGESEGMENT, sizeof(CDIMAGESEGMENT)}};
  auto* out = static_cast<std::vector<BYTE>*>(context);
  const auto* bytes = static_cast<const BYTE*>(record);
  for (const auto& part : kFixedParts) {
    if (part.signature != signature)
      continue;
    union {
      CDGRAPHIC graphic;
      CDIMAGEHEADER header;
      CDIMAGESEGMENT segment;
    } fixed;
    std::memcpy(&fixed, bytes, part.hostSize);
    const WORD stored = ODSLength(part.odsType);
    fixed.graphic.Header.Length = stored + (length - part.hostSize); // every one opens with an LSIG
    const size_t at = out->size();
    out->resize(at + stored);
    void* write = out->data() + at;
    ODSWriteMemory(&write, part.odsType, &fixed, 1);
    out->insert(out->end(), bytes + part.hostSize, bytes + length);
    return NOERROR;
  }
  return ERR_HOST_BAD_ARGUMENT;
}

/* The CD file's bytes: the type word, then the image's records. */
std::vector<BYTE> CdFile(const std::vector<BYTE>& data, WORD kind, WORD width, WORD height) {
  const WORD type = TYPE_COMPOSITE;
  std::vector<BYTE> out(sizeof type);
  std::memcpy(out.data(), &type, sizeof type);
  WriteImageRecords(data.data(), static_cast<DWORD>(data.size()), kind, width, height, nullptr,
                    PutStoredRecord, &out);
  return out;
}

bool WriteOutput(const char* path, const std::vector<BYTE>& bytes) {
  FILE* file = std::fopen(path, "wb");
  if (file == nullptr)
    return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (std::fclose(file) == 0 && written)
    return true;
  std::remove(path);
  return false;
}

} // namespace

extern "C" STATUS ImageImportFilter(const char* inputPath, const char* format,
                                    const char* outputPath, DWORD /*flags*/) {
  if (inputPath == nullptr || format == nullptr || outputPath == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  const WORD wanted = KindOfFormat(format);
  if (wanted == 0)
    return ERR_FILTER_FORMAT;
  return velko::host::GuardedStatus([&]() -> STATUS {
    std::vector<BYTE> data;
    bool tooLarge = false;
    if (!ReadInput(inputPath, &data, &tooLarge))
      return tooLarge ? ERR_FILTER_TOO_LARGE : ERR_HOST_FILE_IO;
    WORD width = 0;
    WORD height = 0;
    const WORD kind = ReadImageDataSize(data.data(), static_cast<DWORD>(data.size()), &width,
                                        &height);
    if (kind != wanted || !IsWholeImage(data, kind, width, height))
      return ERR_FILTER_BAD_IMAGE;
    return WriteOutput(outputPath, CdFile(data, kind, width, height)) ? NOERROR
                                                                      : ERR_HOST_FILE_IO;
  });
}
