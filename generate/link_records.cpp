/*
 * The record assembly of the link and field generators
 * (generate/link_records.h).
 */
#include "generate/link_records.h"

#include <string.h>

#include "generate/attribute_strings.h"
#include "store/messages.h"
#include "store/tracked_memory.h"
#include "velko/status.h"

namespace link_records {

void record_block::Add(const void* data, size_t length) {
  const BYTE* bytes = static_cast<const BYTE*>(data);
  bytes_.insert(bytes_.end(), bytes, bytes + length);
}

void record_block::AddTerminated(const std::string& text) {
  Add(text);
  bytes_.push_back(0);
}

void record_block::AddZeros(size_t count) { bytes_.insert(bytes_.end(), count, 0); }

STATUS record_block::Emit(WORD signature, generation_context* context) {
  const size_t length = bytes_.size();
  const bool word = (signature & 0xFF00) != 0;
  if (length > kLargestRecord || length < (word ? sizeof(WSIG) : sizeof(BSIG)) ||
      (!word && length > 0xFF))
    return VELKO_ERR_BAD_ARGUMENT;
  if (word) {
    WSIG header = {signature, static_cast<WORD>(length)};
    memcpy(bytes_.data(), &header, sizeof header);
  } else {
    bytes_[0] = static_cast<BYTE>(signature);
    bytes_[1] = static_cast<BYTE>(length);
  }
  void* block = VelkoAllocatePtr(session_, VELKO_HERE, length, 0);
  if (block == nullptr) {
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
  memcpy(block, bytes_.data(), length);
  const STATUS status = CopyCDUpdated(block, signature, static_cast<DWORD>(length), context);
  VelkoDeallocatePtr(session_, block);
  return status;
}

STATUS EmitByteRecord(WORD signature, generation_context* context) {
  const BYTE record[2] = {static_cast<BYTE>(signature), 2};
  return CopyCDUpdated(record, signature, sizeof record, context);
}

STATUS EmitIdName(LSXLsiSession* session, const std::string parts[6],
                  generation_context* context) {
  record_block block(session);
  CDIDNAME fixed = {};
  fixed.Length = static_cast<WORD>(parts[0].size());
  fixed.ClassNameLength = static_cast<WORD>(parts[1].size());
  fixed.StyleLength = static_cast<WORD>(parts[2].size());
  fixed.TitleLength = static_cast<WORD>(parts[3].size());
  fixed.ExtraLength = static_cast<WORD>(parts[4].size());
  fixed.NameLength = static_cast<WORD>(parts[5].size());
  block.Add(&fixed, sizeof fixed);
  for (int i = 0; i < 6; ++i)
    block.Add(parts[i]);
  return block.Emit(SIG_CD_IDNAME, context);
}

STATUS EmitIdNameFromProperties(LSXLsiSession* session, const char* prefix,
                                const char* properties, generation_context* context) {
  const size_t capacity = sizeof(CDIDNAME) + (properties == nullptr ? 0 : strlen(properties));
  if (capacity > kLargestRecord)
    return VELKO_ERR_BAD_ARGUMENT;
  void* record = VelkoAllocatePtr(session, VELKO_HERE, capacity, 1);
  if (record == nullptr) {
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
  STATUS status = NOERROR;
  const DWORD changed = ApplyPropertiesToIDNAMERecord(
      session, record, static_cast<DWORD>(capacity), nullptr, 0, prefix, properties, nullptr,
      &status);
  if (status == NOERROR && changed != 0) {
    const CDIDNAME* built = static_cast<const CDIDNAME*>(record);
    status = CopyCDUpdated(record, SIG_CD_IDNAME, built->Header.Length, context);
  }
  VelkoDeallocatePtr(session, record);
  return status;
}

} // namespace link_records
