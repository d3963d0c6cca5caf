/*
 * Writing a body's record list back as items: each record is converted to
 * stored form (where that changes it) and gathered in one host block; a further item of the same
 * name is started before an item would hold more than kBodyItemSplit bytes
 * of records, so that values stay below what the host accepts.
 *
 * The caller deletes the old items of the name first. Nothing here reads
 * stored items or builds records.
 */
#include <cstring>

#include "host/nsfnote.h"
#include "host/osmem.h"
#include "store/body.h"
#include "store/host_release.h"
#include "store/rtitem_internal.h"
#include "velko/status.h"

namespace {

STATUS ConversionFailure(const VelkoRTItem* item) {
  const _internal_RTITEM* internal = item->internal;
  if (internal != nullptr && internal->conversion_status == VELKO_ERR_MEMORY)
    return VELKO_ERR_MEMORY;
  return VELKO_ERR_FAILED;
}

struct item_writer {
  NOTEHANDLE note;
  const char* name;
  WORD name_length;
  char* buffer; /* kBodyBufferSize bytes */
  DWORD used;   /* bytes of records gathered */
};

STATUS AppendGathered(item_writer& writer) {
  const STATUS status = NSFItemAppend(writer.note, 0, writer.name, writer.name_length,
                                      TYPE_COMPOSITE, writer.buffer, writer.used);
  writer.used = 0;
  return status;
}

STATUS WriteRecords(body_context* context, VelkoRTItem* item, item_writer& writer) {
  const cd_record_forms* forms = RecordForms();
  for (record_storage* node = context->records; node != nullptr; node = node->next) {
    DWORD length = node->length;
    const char* stored = node->data;
    // A record whose stored form is its host form is written as it is.
    if (forms->Of(node->signature).converts || length > kLargestConvertedRecord) {
      stored = item->ConvertToCanonicalData(node->data, node->signature, &length);
      if (stored == nullptr)
        return ConversionFailure(item);
    }
    const DWORD padded = EvenLength(length);
    if (padded > kBodyBufferSize)
      return VELKO_ERR_FAILED;
    if (writer.used > 0 && writer.used + padded > kBodyItemSplit) {
      const STATUS status = AppendGathered(writer);
      if (status != NOERROR)
        return status;
    }
    std::memcpy(writer.buffer + writer.used, stored, length);
    if (length & 1)
      writer.buffer[writer.used + length] = '\0';
    writer.used += padded;
  }
  return writer.used > 0 ? AppendGathered(writer) : NOERROR;
}

} // namespace

STATUS SaveBodyItems(body_context* context, VelkoRTItem* item) {
  if (context == nullptr || item == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  item_writer writer = {};
  writer.note = context->note != NULLHANDLE ? context->note : item->note;
  writer.name = context->item_name != nullptr ? context->item_name : item->item_name;
  if (writer.note == NULLHANDLE || writer.name == nullptr || writer.name[0] == '\0')
    return VELKO_ERR_BAD_ARGUMENT;
  writer.name_length = static_cast<WORD>(std::strlen(writer.name));

  DHANDLE handle = NULLHANDLE;
  STATUS status = OSMemAlloc(MEM_TYPE_ENGINE, kBodyBufferSize, &handle);
  if (status != NOERROR)
    return status;
  writer.buffer = static_cast<char*>(OSLockObject(handle));
  if (writer.buffer == nullptr) {
    ReleaseHostMemory(handle);
    return VELKO_ERR_MEMORY;
  }
  status = WriteRecords(context, item, writer);
  OSUnlockObject(handle);
  ReleaseHostMemory(handle);
  return status;
}
