/*
 * The record assembly of the link and field generators
 * (generate/link_records.h).
 */
#include "generate/link_records.h"

#include <string.h>

#include <algorithm>

#include "generate/attribute_strings.h"
#include "store/messages.h"
#include "store/tracked_memory.h"
#include "velko/status.h"

namespace link_records {

BYTE* record_block::Extend(size_t count) {
  const size_t capacity = data_ == inPlace_ ? kInPlace : spilled_.size();
  if (size_ + count > capacity) {
    std::vector<BYTE> grown(std::max(size_ + count, 2 * capacity));
    memcpy(grown.data(), data_, size_);
    spilled_.swap(grown);
    data_ = spilled_.data();
  }
  BYTE* end = data_ + size_;
  size_ += count;
  return end;
}

void record_block::Add(const void* data, size_t length) {
  if (length != 0)
    memcpy(Extend(length), data, length);
}

void record_block::AddTerminated(std::string_view text) {
  BYTE* end = Extend(text.size() + 1);
  if (!text.empty())
    memcpy(end, text.data(), text.size());
  end[text.size()] = 0;
}

void record_block::AddZeros(size_t count) {
  if (count != 0)
    memset(Extend(count), 0, count);
}

STATUS record_block::Emit(WORD signature, generation_context* context) {
  const size_t length = size_;
  const bool word = (signature & 0xFF00) != 0;
  if (length > kLargestRecord || length < (word ? sizeof(WSIG) : sizeof(BSIG)) ||
      (!word && length > 0xFF))
    return VELKO_ERR_BAD_ARGUMENT;
  if (word) {
    WSIG header = {signature, static_cast<WORD>(length)};
    memcpy(data_, &header, sizeof header);
  } else {
    data_[0] = static_cast<BYTE>(signature);
    data_[1] = static_cast<BYTE>(length);
  }
  // The emitter copies the record: it is handed the assembled bytes.
  return CopyCDUpdated(data_, signature, static_cast<DWORD>(length), context);
}

STATUS EmitByteRecord(WORD signature, generation_context* context) {
  const BYTE record[2] = {static_cast<BYTE>(signature), 2};
  return CopyCDUpdated(record, signature, sizeof record, context);
}

STATUS EmitIdName(LSXLsiSession*, const std::string parts[6],
                  generation_context* context) {
  record_block block;
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
