/*
 * Self-contained copies of indexed link records (see chunk/link_copy.h).
 */
#include "chunk/link_copy.h"

#include <cstddef>
#include <cstring>

#include "engine/link_records.h"
#include "host/cdrecords.h"
#include "store/messages.h"
#include "store/tracked_memory.h"
#include "velko/velko.h"

namespace {

constexpr DWORD kNoteLinkType = 2;

WORD WordAt(const BYTE* record, DWORD offset) {
  WORD value = 0;
  std::memcpy(&value, record + offset, sizeof value);
  return value;
}

void PutWord(BYTE* record, DWORD offset, WORD value) {
  std::memcpy(record + offset, &value, sizeof value);
}

bool IsResourceSignature(WORD signature) {
  return signature == SIG_CD_RESOURCE || signature == SIG_CD_RESOURCE_FF71 ||
         signature == SIG_CD_RESOURCE_FF78 || signature == SIG_CD_RESOURCE_FF5A;
}

STATUS BrokenReference() {
  ShowUserMessage("TARNO: Broken $Links reference");
  return NOERROR;
}

/* The rebuilt record: built in a zeroed tracked block of the even length
 * (a pad byte behind an odd record), emitted with its own length. */
class link_copy_buffer {
public:
  link_copy_buffer(LSXLsiSession* session, DWORD length) : session_(session) {
    data_ = static_cast<BYTE*>(VelkoAllocatePtr(session, VELKO_HERE, length + (length & 1), 1));
  }
  ~link_copy_buffer() {
    if (data_ != nullptr)
      VelkoDeallocatePtr(session_, data_);
  }
  link_copy_buffer(const link_copy_buffer&) = delete;
  link_copy_buffer& operator=(const link_copy_buffer&) = delete;
  BYTE* data() const { return data_; }

private:
  LSXLsiSession* session_;
  BYTE* data_;
};

STATUS NoMemory(generation_context* context) {
  ShowUserMessage("TARNO: Memory allocation error");
  context->error_word = kLinkCopyMemoryError;
  return VELKO_ERR_MEMORY;
}

} // namespace

bool MayBeIndexedLink(WORD signature) {
  return signature == SIG_CD_LINK || IsResourceSignature(signature);
}

bool IsIndexedLinkRecord(const BYTE* record, WORD signature, DWORD length) {
  if (record == nullptr)
    return false;
  if (signature == SIG_CD_LINK)
    return length >= sizeof(CDLINK2);
  if (!IsResourceSignature(signature) || length < sizeof(CDRESOURCE))
    return false;
  DWORD flags = 0;
  std::memcpy(&flags, record + offsetof(CDRESOURCE, Flags), sizeof flags);
  return WordAt(record, offsetof(CDRESOURCE, Type)) == kNoteLinkType &&
         (flags & CDRESOURCE_FLAGS_NOTELINK_INLINE) == 0;
}

STATUS EmitSelfContainedLink(const BYTE* record, WORD signature, DWORD length,
                             NOTEHANDLE sourceNote, generation_context* context,
                             link_table_items items) {
  if (context == nullptr || !IsIndexedLinkRecord(record, signature, length))
    return NOERROR;
  LSXLsiSession* session = SessionOf(context);
  NOTELINK link{};
  if (signature == SIG_CD_LINK) {
    if (FindLinkTableEntry(sourceNote, WordAt(record, offsetof(CDLINK2, LinkID)), &link, items) !=
        link_table_lookup::found)
      return BrokenReference();
    const DWORD tail = length - sizeof(CDLINK2);
    const DWORD built = sizeof(CDLINKEXPORT2) + tail;
    if (built > kLargestEmittedRecord)
      return BrokenReference();
    link_copy_buffer copy(session, built);
    if (copy.data() == nullptr)
      return NoMemory(context);
    PutWord(copy.data(), 0, SIG_CD_DOCLINK);
    PutWord(copy.data(), sizeof(WORD), static_cast<WORD>(built));
    std::memcpy(copy.data() + offsetof(CDLINKEXPORT2, NoteLink), &link, sizeof link);
    std::memcpy(copy.data() + sizeof(CDLINKEXPORT2), record + sizeof(CDLINK2), tail);
    return CopyCDUpdated(copy.data(), SIG_CD_DOCLINK, built, context);
  }
  // A note-link resource: fixed part, hints, the index, then Length1 bytes.
  const DWORD hints = DWORD{WordAt(record, offsetof(CDRESOURCE, ServerHintLength))} +
                      WordAt(record, offsetof(CDRESOURCE, FileHintLength));
  const DWORD data = WordAt(record, offsetof(CDRESOURCE, Length1));
  const DWORD indexAt = sizeof(CDRESOURCE) + hints;
  if (indexAt + sizeof(WORD) + data > length)
    return BrokenReference();
  if (FindLinkTableEntry(sourceNote, WordAt(record, indexAt), &link, items) !=
      link_table_lookup::found)
    return BrokenReference();
  const DWORD built = indexAt + sizeof link + data;
  if (built > kLargestEmittedRecord || built > 0xFFFF)
    return BrokenReference();
  link_copy_buffer copy(session, built);
  if (copy.data() == nullptr)
    return NoMemory(context);
  std::memcpy(copy.data(), record, indexAt);
  PutWord(copy.data(), sizeof(WORD), static_cast<WORD>(built));
  DWORD flags = 0;
  std::memcpy(&flags, record + offsetof(CDRESOURCE, Flags), sizeof flags);
  flags |= CDRESOURCE_FLAGS_NOTELINK_INLINE;
  std::memcpy(copy.data() + offsetof(CDRESOURCE, Flags), &flags, sizeof flags);
  std::memcpy(copy.data() + indexAt, &link, sizeof link);
  std::memcpy(copy.data() + indexAt + sizeof link, record + indexAt + sizeof(WORD), data);
  return CopyCDUpdated(copy.data(), signature, built, context);
}
