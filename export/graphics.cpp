/*
 * Images as files and as image resources: making the directories they are
 * written to, writing the image data of a record list (an image header and
 * its segments) to a file, reading an image resource's records to write
 * them out, making an image resource from the records of an image, and
 * reading the data of an image or an image resource for a MIME message.
 *
 * A file is written beside its path under a temporary name and renamed
 * into place once whole, so that a failure leaves no file (and an older
 * file of the name as it was). The picture bytes of a file are written
 * straight from the records; only a MIME part takes a copy of them.
 *
 * Not here: which files a rendering writes and under what names (the
 * image renderer checks the names it takes from the document).
 */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "engine/record_fields.h"
#include "engine/services.h"
#include "export/item_export.h"
#include "host/cdrecords.h"
#include "host/nif.h"
#include "host/nsfnote.h"
#include "render/services.h"
#include "store/body.h"
#include "store/host_release.h"
#include "store/new_object.h"
#include "store/note_access.h"
#include "velko/status.h"

namespace {

constexpr const char* kImageDataItem = "$ImageData";
constexpr const char* kImageResourceKind = "Image Resource";

/* Records that end an image before its header is found or while its
 * segments are read. */
bool EndsImage(WORD signature) {
  return signature == SIG_CD_END || IsTextRun(signature) || signature == SIG_CD_HOTSPOTEND ||
         signature == SIG_CD_V4HOTSPOTEND || signature == SIG_CD_ALTHOTSPOTEND;
}

/* The records of one image: its header and its last segment. */
struct image_records {
  const record_storage* header = nullptr;
  const record_storage* last_segment = nullptr;
  DWORD segments = 0;
};

/* Finds the header from the node on and the segments it counts; false
 * when the image ends first, it counts none, or one is short or damaged. */
bool FindImage(const record_storage* node, image_records* image) {
  while (node != nullptr && node->signature != SIG_CD_IMAGEHEADER) {
    if (EndsImage(node->signature))
      return false;
    node = node->next;
  }
  DWORD count = 0;
  if (node == nullptr || !ReadRecordDword(node->data, node->length,
                                          offsetof(CDIMAGEHEADER, SegCount), &count) ||
      count == 0)
    return false;
  image->header = node;
  image->segments = count;
  DWORD found = 0;
  for (node = node->next; node != nullptr && found < count; node = node->next) {
    if (EndsImage(node->signature) || node->signature == SIG_CD_GRAPHIC ||
        node->signature == SIG_CD_IMAGEHEADER)
      return false;
    if (node->signature != SIG_CD_IMAGESEGMENT)
      continue;
    WORD size = 0;
    if (!ReadRecordWord(node->data, node->length, offsetof(CDIMAGESEGMENT, DataSize), &size) ||
        sizeof(CDIMAGESEGMENT) + size > node->length)
      return false;
    image->last_segment = node;
    ++found;
  }
  return found == count;
}

/* Appends the data of the image's segments, in order. */
void AppendSegments(const image_records& image, std::string* data) {
  DWORD left = image.segments;
  for (const record_storage* segment = image.header->next; left > 0; segment = segment->next) {
    if (segment->signature != SIG_CD_IMAGESEGMENT)
      continue;
    WORD size = 0;
    ReadRecordWord(segment->data, segment->length, offsetof(CDIMAGESEGMENT, DataSize), &size);
    data->append(segment->data + sizeof(CDIMAGESEGMENT), size);
    --left;
  }
}

bool WriteAll(int fd, const char* bytes, size_t length) {
  while (length > 0) {
    const ssize_t written = write(fd, bytes, length);
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0)
      return false;
    bytes += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

/* Writes the data of the image's segments to the file through a
 * temporary file beside it. */
bool WriteImageFile(const image_records& image, const char* fileName) {
  std::string temporary = TemporaryPatternBeside(fileName);
  const int fd = mkstemp(temporary.data());
  if (fd < 0)
    return false;
  bool whole = fchmod(fd, 0644) == 0;
  DWORD left = image.segments;
  for (const record_storage* node = image.header->next; whole && left > 0; node = node->next) {
    if (node->signature != SIG_CD_IMAGESEGMENT)
      continue;
    WORD size = 0;
    ReadRecordWord(node->data, node->length, offsetof(CDIMAGESEGMENT, DataSize), &size);
    whole = WriteAll(fd, node->data + sizeof(CDIMAGESEGMENT), size);
    --left;
  }
  whole = close(fd) == 0 && whole;
  if (whole && rename(temporary.c_str(), fileName) == 0)
    return true;
  unlink(temporary.c_str());
  return false;
}

/* A node of the context's arena for each record from `first` through
 * `last`, in order; false when memory runs out. */
bool CopyRecordList(LSXLsiSession* session, body_context* context, const record_storage* first,
                    const record_storage* last) {
  record_storage* tail = nullptr;
  for (const record_storage* node = first;; node = node->next) {
    record_storage* copy = NewArenaRecordAt(session, context, node->signature, node->data,
                                            node->length, VELKO_HERE);
    if (copy == nullptr)
      return false;
    if (tail == nullptr)
      context->records = copy;
    else
      tail->InsertRecordAfter(copy);
    copy->ordinal = tail == nullptr ? 1 : tail->ordinal + 1;
    tail = copy;
    if (node == last)
      return true;
  }
}

/* Writes the records as the note's "$ImageData" and stores the note. */
STATUS StoreImageData(LSXLsiSession* session, NOTEHANDLE note, const record_storage* first,
                      const record_storage* last) {
  VelkoRTItem* writer = NewObject<VelkoRTItem>(session);
  if (writer == nullptr)
    return VELKO_ERR_MEMORY;
  body_context context;
  context.note = note;
  context.item_name = kImageDataItem;
  STATUS status = NOERROR;
  if (!CopyRecordList(session, &context, first, last))
    status = VELKO_ERR_MEMORY;
  if (status == NOERROR)
    status = SaveBodyItems(&context, writer);
  if (status == NOERROR)
    status = NSFNoteUpdate(note, 0);
  ReleaseItemsRecords(session, &context);
  delete writer;
  return status;
}

/* Hands the records of the database's image resource of the name to
 * `use` and returns its status; 263 when memory cannot be had, 1028 when
 * the resource cannot be read (then *missing is set, when given). */
template <typename Use>
STATUS WithImageResource(LSXLsiSession* session, const char* server, const char* databasePath,
                         const char* name, const Use& use, bool* missing = nullptr) {
  if (session == nullptr || name == nullptr || name[0] == '\0')
    return kServiceNotAvailable;
  VelkoRTItem* item = NewObject<VelkoRTItem>(session);
  if (item == nullptr)
    return VELKO_ERR_MEMORY;
  STATUS status = kServiceNotAvailable;
  const STATUS connected = item->ConnectImageResource(server, databasePath, name, nullptr);
  if (connected == VELKO_ERR_MEMORY) {
    status = VELKO_ERR_MEMORY; // a resource that could not be read for want of memory
  } else if (connected != NOERROR) {
    if (missing != nullptr)
      *missing = true;
  } else {
    const body_context* body = ItemBody(item);
    if (body == nullptr || body->load_status == VELKO_ERR_MEMORY)
      status = VELKO_ERR_MEMORY;
    else
      status = use(body->records);
  }
  delete item;
  return status;
}

} // namespace

BOOL MakeDirectoryIfNecessary(const char* path) {
  if (path == nullptr || path[0] == '\0')
    return FALSE;
  std::string made(path);
  while (made.size() > 1 && made.back() == '/')
    made.pop_back();
  // Each parent in turn, then the directory itself.
  for (size_t at = made.find('/', 1);; at = made.find('/', at + 1)) {
    const std::string part = made.substr(0, at);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
      return FALSE;
    if (at == std::string::npos)
      break;
  }
  struct stat info = {};
  return stat(made.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? TRUE : FALSE;
}

STATUS GenerateGraphicFileFromCDRecords(LSXLsiSession*, const char* fileName,
                                        const record_storage* header) {
  image_records image;
  if (fileName == nullptr || fileName[0] == '\0' || !FindImage(header, &image) ||
      !WriteImageFile(image, fileName))
    return kServiceNotAvailable;
  return NOERROR;
}

bool ImageDataIsWhole(const record_storage* header) {
  image_records image;
  return FindImage(header, &image);
}

bool AppendImageData(const record_storage* node, std::string* data) {
  image_records image;
  if (!FindImage(node, &image))
    return false;
  AppendSegments(image, data);
  return true;
}

STATUS WriteImageResourceFile(LSXLsiSession* session, const char* server,
                              const char* databasePath, const char* name, const char* fileName,
                              bool* missing) {
  *missing = false;
  return WithImageResource(
      session, server, databasePath, name,
      [fileName, missing](const record_storage* records) {
        image_records image;
        if (!FindImage(records, &image)) {
          *missing = true;
          return kServiceNotAvailable;
        }
        return fileName != nullptr && fileName[0] != '\0' && WriteImageFile(image, fileName)
                   ? NOERROR
                   : kServiceNotAvailable;
      },
      missing);
}

STATUS GenerateGraphicFileFromImageResource(LSXLsiSession* session, const char* server,
                                            const char* databasePath, const char* name,
                                            const char* fileName) {
  bool missing = false;
  return WriteImageResourceFile(session, server, databasePath, name, fileName, &missing);
}

STATUS ReadImageResource(LSXLsiSession* session, const char* server, const char* databasePath,
                         const char* name, std::string* data, WORD* imageType) {
  return WithImageResource(
      session, server, databasePath, name, [data, imageType](const record_storage* records) {
        image_records image;
        if (!FindImage(records, &image))
          return kServiceNotAvailable;
        *imageType = 0;
        ReadRecordWord(image.header->data, image.header->length,
                       offsetof(CDIMAGEHEADER, ImageType), imageType);
        data->clear();
        AppendSegments(image, data);
        return NOERROR;
      });
}

STATUS GenerateImageResourceFromCDRecords(LSXLsiSession* session, const char* name,
                                          const record_storage* first, DBHANDLE db, int replace) {
  image_records image;
  if (session == nullptr || first == nullptr || db == NULLHANDLE || name == nullptr ||
      name[0] == '\0' || !FindImage(first, &image))
    return kServiceNotAvailable;
  // A resource that is kept is kept silently: no "already exists" message.
  NOTEID existing = 0;
  if (replace != 1 && NIFFindDesignNote(db, name, NOTE_CLASS_FORM, &existing) == NOERROR)
    return NOERROR;
  NOTEHANDLE note = NULLHANDLE;
  STATUS status = PrepareDesignNote(session, kImageResourceKind, db, name, kImageDataItem,
                                    replace == 1 ? 1 : 0, &note);
  if (status != NOERROR || note == NULLHANDLE)
    return status;
  status = StoreImageData(session, note, first, image.last_segment);
  ReleaseNoteHandle(note);
  return status;
}

/* Bitmaps are not turned into GIF images: the bitmap's records stay as
 * they are and nothing is emitted. */
STATUS GenerateGIFRecordsFromBitmapRecords(chunk_process_state*, const record_storage*) {
  return NOERROR;
}
