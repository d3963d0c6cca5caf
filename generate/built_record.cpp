/*
 * The record builder and property readers the image and hotspot generators
 * share (generate/built_record.h).
 */
#include "generate/built_record.h"

#include <algorithm>
#include <cstring>

#include "generate/attribute_strings.h"
#include "store/messages.h"
#include "store/note_access.h"
#include "store/tracked_memory.h"
#include "velko/property_string.h"

built_record::built_record(LSXLsiSession* session, WORD signature, size_t fixed, size_t tail)
    : session_(session), signature_(signature) {
  const cd_header_kind kind = HeaderKindOfSignature(signature);
  const size_t limit = kind == CD_HEADER_BSIG   ? 0xFE
                       : kind == CD_HEADER_WSIG ? 0xFFFF
                                                : kLargestBuiltRecord;
  if (session == nullptr || fixed > kLargestBuiltRecord || tail > kLargestBuiltRecord ||
      EvenLength(fixed + tail) > kLargestBuiltRecord || EvenLength(fixed + tail) > limit) {
    status_ = VELKO_ERR_BAD_ARGUMENT;
    return;
  }
  size_ = EvenLength(fixed + tail);
  data_ = static_cast<BYTE*>(VelkoAllocatePtr(session, VELKO_HERE, size_, 1));
  if (data_ == nullptr) {
    LogOutOfMemory(VELKO_HERE);
    status_ = VELKO_ERR_MEMORY;
    return;
  }
  used_ = fixed;
}

built_record::~built_record() {
  if (data_ != nullptr)
    VelkoDeallocatePtr(session_, data_);
}

void built_record::Append(const void* bytes, size_t count) {
  if (data_ == nullptr || count == 0 || count > size_ - used_)
    return;
  std::memcpy(data_ + used_, bytes, count);
  used_ += count;
}

STATUS built_record::Emit(generation_context* context) {
  if (status_ != NOERROR)
    return status_;
  const DWORD length = static_cast<DWORD>(EvenLength(used_));
  switch (HeaderKindOfSignature(signature_)) {
  case CD_HEADER_BSIG:
    data_[0] = static_cast<BYTE>(signature_);
    data_[1] = static_cast<BYTE>(length);
    break;
  case CD_HEADER_WSIG: {
    WSIG header = {signature_, static_cast<WORD>(length)};
    std::memcpy(data_, &header, sizeof header);
    break;
  }
  case CD_HEADER_LSIG: {
    LSIG header = {signature_, length};
    std::memcpy(data_, &header, sizeof header);
    break;
  }
  }
  return CopyCDUpdated(data_, signature_, length, context);
}

property_value::property_value(LSXLsiSession* session, const char* properties)
    : session_(session), properties_(properties) {
  if (properties == nullptr || session == nullptr)
    return;
  size_ = std::strlen(properties) + 1;
  buffer_ = static_cast<char*>(VelkoAllocatePtr(session, VELKO_HERE, size_, 1));
  if (buffer_ == nullptr) {
    LogOutOfMemory(VELKO_HERE);
    status_ = VELKO_ERR_MEMORY;
    size_ = 0;
  }
}

property_value::~property_value() {
  if (buffer_ != nullptr)
    VelkoDeallocatePtr(session_, buffer_);
}

const char* property_value::Read(const char* key) {
  if (buffer_ == nullptr)
    return nullptr;
  return ExtractProperty(properties_, key, buffer_, size_) != 0 ? buffer_ : nullptr;
}

const char* property_value::ReadText(const char* key) {
  const char* value = Read(key);
  return value != nullptr && value[0] != '\0' ? value : nullptr;
}

DWORD InchesToTwips(double inches) { return static_cast<DWORD>(inches * 1440.0); }

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

bool BeginsWith(const char* text, const char* prefix) {
  if (text == nullptr || prefix == nullptr)
    return false;
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (*text == '\0' || Lower(*text) != Lower(*prefix))
      return false;
  }
  return true;
}

bool SameText(const char* a, const char* b) {
  return a != nullptr && b != nullptr && std::strlen(a) == std::strlen(b) && BeginsWith(a, b);
}

bool QuotedValue(const char* properties, const char* key, const char** text, size_t* length) {
  const char* found = properties != nullptr ? stristr(properties, key) : nullptr;
  if (found == nullptr)
    return false;
  const char* quote = found + std::strlen(key);
  if (*quote == '\0')
    return false;
  const char* close = std::strchr(quote + 1, *quote);
  if (close == nullptr)
    return false;
  *text = quote + 1;
  *length = static_cast<size_t>(close - (quote + 1));
  return true;
}

void ReadReplicaID(const char* text, BYTE out[8]) {
  std::memset(out, 0, 8);
  if (text == nullptr || std::strlen(text) != 16)
    return;
  for (int i = 0; i < 16; ++i) {
    if (!IsHexDigit(text[i]))
      return;
  }
  const DWORD high = ReadHexNumber(text, 8);
  const DWORD low = ReadHexNumber(text + 8, 8);
  std::memcpy(out, &low, 4);
  std::memcpy(out + 4, &high, 4);
}

STATUS EmitIdNameRecord(const char* prefix, const char* properties, generation_context* gen) {
  if (properties == nullptr)
    return NOERROR;
  LSXLsiSession* session = SessionOf(gen);
  /* Room for every part the properties can give, at most a whole record;
   * parts that would not fit are refused by the builder. */
  const size_t room = std::min<size_t>(sizeof(CDIDNAME) + std::strlen(properties),
                                       kLargestBuiltRecord);
  built_record record(session, SIG_CD_IDNAME, room, 0);
  RETURN_IF_FAILED(record.status());
  STATUS status = NOERROR;
  const DWORD changed = ApplyPropertiesToIDNAMERecord(session, record.data(),
                                                      static_cast<DWORD>(room), nullptr, 0,
                                                      prefix, properties, nullptr, &status);
  RETURN_IF_FAILED(status);
  if (changed == 0)
    return NOERROR;
  WSIG header;
  std::memcpy(&header, record.data(), sizeof header);
  header.Length = EvenLength(header.Length);
  std::memcpy(record.data(), &header, sizeof header);
  return CopyCDUpdated(record.data(), SIG_CD_IDNAME, header.Length, gen);
}

