/*
 * Graphics held as storage objects and the sizes of images.
 *
 * Writing an object walks the run of records twice with the same
 * segmenting rule: once to size the object, once to fill it. The object is
 * written and attached before anything is emitted, so that a failing
 * write leaves the note without a new "$FILE" item and the body being built
 * without the storage link. Reading an object back (the fragment reader)
 * carries pieces cut by a fragment's end in its own buffer.
 *
 * Every size read from a record or from image data is bounded by the
 * record or the data it was read from.
 */
#include "store/cd_storage.h"

#include <cstdio>
#include <cstring>

#include "host/cdrecords.h"
#include "host/image_data.h"
#include "host/nsfdb.h"
#include "host/nsfnote.h"
#include "host/osenv.h"
#include "host/osmem.h"
#include "store/body.h"
#include "store/emitter.h"
#include "store/messages.h"
#include "store/rtitem_internal.h"
#include "store/services.h"

namespace {

/* ---- little-endian words ---- */

WORD LittleWord(const BYTE* at) { return static_cast<WORD>(at[0] | at[1] << 8); }

void PutLittleWord(BYTE* at, WORD value) {
  at[0] = static_cast<BYTE>(value);
  at[1] = static_cast<BYTE>(value >> 8);
}

/* A host-form field of a record, read through a copy: 0 when the record is
 * too short to hold it. */
WORD FieldWord(const record_storage* node, size_t offset) {
  if (node->data == nullptr || offset + sizeof(WORD) > node->length)
    return 0;
  return LittleWord(reinterpret_cast<const BYTE*>(node->data) + offset);
}

DWORD EvenLength(DWORD length) { return length + (length & 1); }

/* ---- the object's segments ---- */

/* A segment takes a further record while it stays this far below the
 * largest segment: 65,406 - (length + record) must pass 2,047. */
constexpr DWORD kSegmentCeiling = 65406;
constexpr DWORD kSegmentReserve = 2047;
constexpr DWORD kSegmentWord = 2; /* the word 1 that opens a segment */
constexpr WORD kSegmentOpening = 1;
constexpr DWORD kLargestSegmentCount = 0xFFFF;

/* Segments made so far and the length of the last one. */
struct segmenter {
  DWORD count = 0;
  DWORD current = 0;

  /* Adds a record of the (even) stored length; true when it opens a new
   * segment. */
  bool Add(DWORD length) {
    if (count != 0 && current + length + kSegmentReserve < kSegmentCeiling) {
      current += length;
      return false;
    }
    ++count;
    current = kSegmentWord + length;
    return true;
  }
};

/* The stored form of a node: its own bytes when they are the stored form,
 * else a conversion in the item's buffer (valid until the next one). Null
 * when it cannot be converted; *length is the stored length. */
const char* StoredForm(VelkoRTItem* item, const record_storage* node, DWORD* length) {
  *length = node->length;
  if (!RecordForms()->Of(node->signature).converts && node->length <= kLargestConvertedRecord)
    return node->data;
  return item->ConvertToCanonicalData(node->data, node->signature, length);
}

STATUS ConversionFailure(const VelkoRTItem* item) {
  return item->internal != nullptr && item->internal->conversion_status == VELKO_ERR_MEMORY
             ? VELKO_ERR_MEMORY
             : VELKO_ERR_FAILED;
}

/* The object's size and segment count over first..last; 263 when last
 * does not follow first. */
STATUS MeasureRun(VelkoRTItem* item, record_storage* first, const record_storage* last,
                  segmenter* segments, DWORD* size) {
  DWORD records = 0;
  for (record_storage* node = first;; node = node->next) {
    if (node == nullptr)
      return VELKO_ERR_MEMORY;
    DWORD length = 0;
    if (StoredForm(item, node, &length) == nullptr)
      return ConversionFailure(item);
    segments->Add(EvenLength(length));
    records += EvenLength(length);
    if (node == last)
      break;
  }
  if (segments->count > kLargestSegmentCount)
    return VELKO_ERR_BAD_ARGUMENT;
  *size = sizeof(WORD) + sizeof(WORD) * segments->count + kSegmentWord * segments->count + records;
  return NOERROR;
}

/* Fills the object: segment count, length table, segments. */
STATUS FillObject(VelkoRTItem* item, record_storage* first, const record_storage* last,
                  DWORD segmentCount, BYTE* object) {
  PutLittleWord(object, static_cast<WORD>(segmentCount));
  BYTE* table = object + sizeof(WORD);
  BYTE* write = table + sizeof(WORD) * segmentCount;
  segmenter segments;
  for (record_storage* node = first;; node = node->next) {
    DWORD length = 0;
    const char* stored = StoredForm(item, node, &length);
    if (stored == nullptr)
      return ConversionFailure(item);
    if (segments.Add(EvenLength(length))) {
      PutLittleWord(write, kSegmentOpening);
      write += kSegmentWord;
    }
    std::memcpy(write, stored, length);
    if ((length & 1) != 0)
      write[length] = 0;
    write += EvenLength(length);
    PutLittleWord(table + sizeof(WORD) * (segments.count - 1),
                  static_cast<WORD>(segments.current));
    if (node == last)
      return NOERROR;
  }
}

/* ---- the object's name ---- */

constexpr const char* kObjectName = "Graphic";
constexpr int kNumberedNames = 1000;
constexpr size_t kObjectNameSize = 16;

/* True when no attachment of the note has the name. */
bool NameIsFree(NOTEHANDLE note, const char* name) {
  char external[MAXPATH] = {};
  return ExternalFileNameFromInternal(note, name, external) != NOERROR;
}

bool ChooseObjectName(NOTEHANDLE note, char name[kObjectNameSize]) {
  std::snprintf(name, kObjectNameSize, "%s", kObjectName);
  if (NameIsFree(note, name))
    return true;
  for (int number = 0; number < kNumberedNames; ++number) {
    std::snprintf(name, kObjectNameSize, "%s%d", kObjectName, number);
    if (NameIsFree(note, name))
      return true;
  }
  return false;
}

/* ---- the object and its item ---- */

constexpr WORD kObjectNoteClass = 1;
constexpr WORD kFileItemFlags = ITEM_SIGN | ITEM_SEAL | ITEM_SUMMARY;
constexpr WORD kFileHostType = 0x0800;
constexpr const char* kFileItem = "$FILE";
constexpr STATUS kHostErrorMask = 0x3FFF;

/* Writes the object from a block of the host's memory. */
STATUS WriteObject(VelkoRTItem* item, DBHANDLE db, DWORD objectID, DWORD size,
                   record_storage* first, const record_storage* last, DWORD segmentCount) {
  DHANDLE buffer = NULLHANDLE;
  if (STATUS status = OSMemAlloc(MEM_TYPE_ENGINE, size, &buffer); status != NOERROR)
    return status;
  auto* object = static_cast<BYTE*>(OSLockObject(buffer));
  STATUS status = VELKO_ERR_MEMORY;
  if (object != nullptr) {
    status = FillObject(item, first, last, segmentCount, object);
    OSUnlockObject(buffer);
  }
  if (status == NOERROR)
    status = NSFDbWriteObject(db, objectID, buffer, 0, size);
  OSMemFree(buffer);
  return status;
}

/* The "$FILE" item naming the object: the value type, a FILEOBJECT, the
 * name. */
STATUS AppendFileItem(NOTEHANDLE note, DWORD objectID, const char* name) {
  const WORD nameLength = static_cast<WORD>(std::strlen(name));
  const DWORD valueLength = sizeof(WORD) + sizeof(FILEOBJECT) + nameLength;
  DHANDLE value = NULLHANDLE;
  if (STATUS status = OSMemAlloc(MEM_TYPE_ENGINE, valueLength, &value); status != NOERROR)
    return status;
  auto* bytes = static_cast<BYTE*>(OSLockObject(value));
  if (bytes == nullptr) {
    OSMemFree(value);
    return VELKO_ERR_MEMORY;
  }
  FILEOBJECT file = {};
  file.Header.ObjectType = OBJECT_FILE;
  file.Header.RRV = objectID;
  file.FileNameLength = nameLength;
  file.HostType = kFileHostType;
  PutLittleWord(bytes, TYPE_OBJECT);
  std::memcpy(bytes + sizeof(WORD), &file, sizeof file);
  std::memcpy(bytes + sizeof(WORD) + sizeof file, name, nameLength);
  OSUnlockObject(value);
  const STATUS status =
      NSFItemAppendObject(note, kFileItemFlags, kFileItem, static_cast<WORD>(std::strlen(kFileItem)),
                          BLOCKID{value, 0}, valueLength, FALSE);
  OSMemFree(value);
  return status;
}

/* ---- the records left in the body ---- */

STATUS EmitStorageLink(const char* name, generation_context* context) {
  const auto nameLength = static_cast<WORD>(std::strlen(name));
  BYTE record[sizeof(CDSTORAGELINK) + kObjectNameSize] = {};
  CDSTORAGELINK link = {};
  link.Header.Signature = SIG_CD_STORAGELINK;
  link.Header.Length = static_cast<WORD>(EvenLength(sizeof link + nameLength));
  link.StorageType = 1;
  link.LoadType = 1;
  link.Length = nameLength;
  std::memcpy(record, &link, sizeof link);
  std::memcpy(record + sizeof link, name, nameLength);
  return CopyCDUpdated(record, SIG_CD_STORAGELINK, link.Header.Length, context);
}

/* A 0x95 record of the size given (0 counts as 100). */
STATUS EmitNewBitmapHeader(WORD width, WORD height, generation_context* context) {
  constexpr WORD kDefaultSize = 100;
  CDBITMAPHEADER header = {};
  header.Header.Signature = SIG_CD_BITMAPHEADER;
  header.Header.Length = sizeof header;
  header.Width = width != 0 ? width : kDefaultSize;
  header.Height = height != 0 ? height : kDefaultSize;
  return CopyCDUpdated(&header, SIG_CD_BITMAPHEADER, sizeof header, context);
}

STATUS EmitNode(const record_storage* node, generation_context* context) {
  return CopyCDUpdated(node->data, node->signature, node->length, context);
}

STATUS EmitRemainingRecords(record_storage* first, const record_storage* last, const char* name,
                            generation_context* context) {
  const record_storage* graphic = nullptr;
  const record_storage* trailing = nullptr;
  const record_storage* imageHeader = nullptr;
  for (record_storage* node = first;; node = node->next) {
    switch (node->signature) {
    case SIG_CD_BITMAPHEADER:
      graphic = node;
      break;
    case SIG_CD_END:
      trailing = node;
      break;
    case SIG_CD_IMAGEHEADER:
      imageHeader = node;
      break;
    case SIG_CD_GRAPHIC:
    case SIG_CD_BEGIN:
      if (STATUS status = EmitNode(node, context); status != NOERROR)
        return status;
      break;
    default:
      break;
    }
    if (node == last)
      break;
  }
  if (STATUS status = EmitStorageLink(name, context); status != NOERROR)
    return status;
  STATUS status = NOERROR;
  if (graphic != nullptr)
    status = EmitNode(graphic, context);
  else if (imageHeader != nullptr)
    status = EmitNewBitmapHeader(FieldWord(imageHeader, offsetof(CDIMAGEHEADER, Width)),
                                 FieldWord(imageHeader, offsetof(CDIMAGEHEADER, Height)), context);
  else
    status = EmitNewBitmapHeader(0, 0, context);
  if (status == NOERROR && trailing != nullptr)
    status = EmitNode(trailing, context);
  return status;
}

} // namespace

STATUS ConvertCDRecordsToCDStorage(generation_context* context, record_storage* first,
                                   record_storage* last) {
  if (context == nullptr || first == nullptr || last == nullptr || context->item == nullptr ||
      context->item->note == NULLHANDLE)
    return VELKO_ERR_MEMORY;
  VelkoRTItem* item = context->item;
  const NOTEHANDLE note = item->note;

  char name[kObjectNameSize] = {};
  if (!ChooseObjectName(note, name))
    return VELKO_ERR_BAD_ARGUMENT;

  segmenter segments;
  DWORD size = 0;
  if (STATUS status = MeasureRun(item, first, last, &segments, &size); status != NOERROR)
    return status;

  DBHANDLE db = NULLHANDLE;
  NSFNoteGetInfo(note, _NOTE_DB, &db);
  DWORD objectID = 0;
  if (STATUS status = NSFDbAllocObject(db, size, kObjectNoteClass, 0, &objectID);
      status != NOERROR)
    return static_cast<STATUS>(status & kHostErrorMask);
  STATUS status = WriteObject(item, db, objectID, size, first, last, segments.count);
  if (status == NOERROR)
    status = AppendFileItem(note, objectID, name);
  if (status != NOERROR) {
    NSFDbFreeObject(db, objectID);
    return status;
  }
  return EmitRemainingRecords(first, last, name, context);
}

/* ---- reading stored CD data ---- */

STATUS GetRecordFromCDData(cd_record_context* context, const char** data, DWORD* remaining) {
  if (context == nullptr || context->context == nullptr || context->context->item == nullptr ||
      data == nullptr || *data == nullptr || remaining == nullptr || *remaining == 0)
    return VELKO_ERR_FAILED;
  const char* record = *data;
  const cd_header_kind kind = *remaining >= 2
                                  ? HeaderKindOfSecondByte(static_cast<BYTE>(record[1]))
                                  : CD_HEADER_LSIG; // asks for the longest header
  const DWORD header = StoredHeaderSize(kind);
  if (header > *remaining) {
    *remaining = header;
    return VELKO_ERR_FAILED;
  }
  DWORD length = 0;
  WORD signature = 0;
  if (GetBodyRecord(record, &length, &signature) != NOERROR || length < header)
    return VELKO_ERR_FAILED;
  const DWORD even = EvenLength(length);
  if (even > *remaining) {
    *remaining = even;
    return VELKO_ERR_FAILED;
  }
  VelkoRTItem* item = context->context->item;
  DWORD hostLength = length;
  const char* host = record;
  if (RecordForms()->Of(signature).converts || length > kLargestConvertedRecord) {
    host = item->ConvertFromCanonicalData(record, signature, &hostLength);
    if (host == nullptr)
      return ConversionFailure(item);
  }
  if (STATUS status = CopyCDUpdated(host, signature, hostLength, context->context);
      status != NOERROR)
    return status;
  *data += even;
  *remaining -= even;
  context->remaining = context->remaining > even ? context->remaining - even : 0;
  return NOERROR;
}

STATUS ConvertCDStorageToCDRecords() { return NOERROR; }

namespace {

enum : BYTE {
  kReadCount = 0,
  kReadTable = 1,
  kReadOpening = 2,
  kReadRecords = 3,
  kReadDone = 4,
};

constexpr WORD kLargestObjectSegments = 1000;

/* The bytes the unit being carried needs in all: a word, or a record's
 * header, or its whole even length once its header is in. 0 when the
 * carried header is not sound or the header or the record passes its
 * segment. */
DWORD NeededBytes(const cd_storage_reader* reader) {
  if (reader->phase != kReadRecords)
    return sizeof(WORD);
  if (reader->carried < 2)
    return 2;
  const DWORD header = StoredHeaderSize(HeaderKindOfSecondByte(reader->carry[1]));
  if (header > reader->segment_left)
    return 0;
  if (reader->carried < header)
    return header;
  DWORD length = 0;
  WORD signature = 0;
  if (GetBodyRecord(reinterpret_cast<const char*>(reader->carry), &length, &signature) !=
          NOERROR ||
      length < header || EvenLength(length) > reader->segment_left)
    return 0;
  return EvenLength(length);
}

/* The next segment's opening, or the end after the last one. */
void NextSegment(cd_storage_reader* reader) {
  reader->phase = reader->segment < reader->segment_count ? kReadOpening : kReadDone;
}

/* Acts on the whole unit in carry. */
STATUS TakeUnit(cd_storage_reader* reader) {
  const WORD word = LittleWord(reader->carry);
  switch (reader->phase) {
  case kReadCount:
    if (word == 0 || word > kLargestObjectSegments)
      return VELKO_ERR_FAILED;
    reader->segment_count = word;
    reader->phase = kReadTable;
    return NOERROR;
  case kReadTable:
    reader->lengths[reader->segments_known++] = word;
    if (reader->segments_known == reader->segment_count)
      NextSegment(reader);
    return NOERROR;
  case kReadOpening: {
    const WORD segmentLength = reader->lengths[reader->segment++];
    if (segmentLength < kSegmentWord)
      return VELKO_ERR_FAILED;
    reader->segment_left = segmentLength - kSegmentWord;
    if (reader->segment_left == 0)
      NextSegment(reader);
    else
      reader->phase = kReadRecords;
    return NOERROR;
  }
  case kReadRecords: {
    cd_record_context context;
    context.remaining = reader->segment_left;
    context.context = reader->context;
    const char* data = reinterpret_cast<const char*>(reader->carry);
    DWORD remaining = reader->carried;
    const STATUS status = GetRecordFromCDData(&context, &data, &remaining);
    if (status == VELKO_ERR_MEMORY)
      LogOutOfMemory(VELKO_HERE);
    if (status != NOERROR)
      return status;
    reader->segment_left = context.remaining;
    if (reader->segment_left == 0)
      NextSegment(reader);
    return NOERROR;
  }
  default:
    return NOERROR;
  }
}

} // namespace

STATUS ConvertCDStorageToCDRecords_Fragment(const char* fragment, DWORD length,
                                            cd_storage_reader* reader) {
  if (reader == nullptr || reader->context == nullptr || (fragment == nullptr && length != 0))
    return VELKO_ERR_FAILED;
  const auto* at = reinterpret_cast<const BYTE*>(fragment);
  DWORD left = length;
  while (reader->phase != kReadDone) {
    const DWORD needed = NeededBytes(reader);
    if (needed == 0)
      return VELKO_ERR_FAILED;
    if (reader->carried < needed) {
      if (left == 0)
        return NOERROR; // the rest comes with the next fragment
      const DWORD take = needed - reader->carried < left ? needed - reader->carried : left;
      std::memcpy(reader->carry + reader->carried, at, take);
      reader->carried += take;
      at += take;
      left -= take;
      continue; // a record's header may ask for more once it is in
    }
    const STATUS status = TakeUnit(reader);
    reader->carried = 0;
    if (status != NOERROR)
      return status;
  }
  return NOERROR;
}

/* ---- image sizes ---- */

namespace {

constexpr WORD kDefaultImageSize = 100;
/* Host-form header of an image segment: the data follows. */
constexpr DWORD kImageSegmentHeader = sizeof(CDIMAGESEGMENT);

struct image_size {
  WORD width = 0;
  WORD height = 0;
  bool width_found = false;
  bool height_found = false;
  WORD image_type = 0;

  void Take(WORD newWidth, WORD newHeight) {
    if (newWidth != 0) {
      width = newWidth;
      width_found = true;
    }
    if (newHeight != 0) {
      height = newHeight;
      height_found = true;
    }
  }
  bool Complete() const { return width_found && height_found; }
};

void ReadImageData(const record_storage* node, image_size* image) {
  if (node->data == nullptr || node->length <= kImageSegmentHeader)
    return;
  const auto* data = reinterpret_cast<const BYTE*>(node->data) + kImageSegmentHeader;
  DWORD size = node->length - kImageSegmentHeader;
  const WORD declared = FieldWord(node, offsetof(CDIMAGESEGMENT, DataSize));
  if (declared < size)
    size = declared;
  WORD width = 0;
  WORD height = 0;
  if (const WORD kind = ReadImageDataSize(data, size, &width, &height); kind != 0) {
    image->image_type = kind;
    image->Take(width, height);
  }
}

void ReadSizeRecord(const record_storage* node, image_size* image) {
  switch (node->signature) {
  case SIG_CD_IMAGEHEADER:
    image->Take(FieldWord(node, offsetof(CDIMAGEHEADER, Width)),
                FieldWord(node, offsetof(CDIMAGEHEADER, Height)));
    if (const WORD type = FieldWord(node, offsetof(CDIMAGEHEADER, ImageType)); type != 0)
      image->image_type = type;
    break;
  case SIG_CD_BITMAPHEADER:
    image->Take(FieldWord(node, offsetof(CDBITMAPHEADER, Width)),
                FieldWord(node, offsetof(CDBITMAPHEADER, Height)));
    break;
  case SIG_CD_GRAPHIC:
    if (FieldWord(node, offsetof(CDGRAPHIC, Resize)) != 0)
      image->Take(FieldWord(node, offsetof(CDGRAPHIC, DestWidth)),
                  FieldWord(node, offsetof(CDGRAPHIC, DestHeight)));
    break;
  case SIG_CD_IMAGESEGMENT:
    if (image->image_type == 0)
      ReadImageData(node, image);
    break;
  default:
    break;
  }
}

} // namespace

STATUS GetDimensionsFromRecords(record_storage* first, WORD* width, WORD* height) {
  if (width == nullptr || height == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  image_size image;
  image.width = *width != 0 ? *width : kDefaultImageSize;
  image.height = *height != 0 ? *height : kDefaultImageSize;
  for (const record_storage* node = first; node != nullptr && !image.Complete();
       node = node->next)
    ReadSizeRecord(node, &image);
  *width = image.width;
  *height = image.height;
  return NOERROR;
}
