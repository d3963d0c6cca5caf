/*
 * Helpers shared by the attribute-string writers and appliers: the
 * signature of a record as it lies in memory, a bounded copy of a record's
 * fixed part, the written-flag guard and the session's colour naming.
 * Private to generate/.
 */
#ifndef VELKO_GENERATE_ATTRIBUTES_INTERNAL_H
#define VELKO_GENERATE_ATTRIBUTES_INTERNAL_H

#include <string.h>

#include <initializer_list>

#include "generate/attribute_strings.h"
#include "host/cdrecords.h"
#include "store/body.h"

namespace attributes {

/* The signature of a host-form record: a WSIG or LSIG record's word, a
 * BSIG record's first byte; 0 when the record is too short to say. */
inline WORD SignatureOf(const void* record, DWORD length) {
  if (record == nullptr || length < 2)
    return 0;
  const BYTE* bytes = static_cast<const BYTE*>(record);
  if (bytes[1] == 0xFF || bytes[1] == 0x00)
    return static_cast<WORD>(bytes[0] | (bytes[1] << 8));
  return bytes[0];
}

/* Copies the fixed part of a record of one of the signatures into *fields
 * (zeroed first; a record shorter than the fixed part fills what it
 * holds). False for a null record, another signature, or one shorter than
 * `needed` bytes (the fields read). */
template <typename T>
bool LoadRecord(const void* record, DWORD length, std::initializer_list<WORD> signatures,
                DWORD needed, T* fields) {
  if (record == nullptr || length < needed)
    return false;
  const WORD signature = SignatureOf(record, length);
  bool known = false;
  for (WORD wanted : signatures)
    known = known || signature == wanted;
  if (!known)
    return false;
  memset(fields, 0, sizeof *fields);
  memcpy(fields, record, length < sizeof *fields ? length : sizeof *fields);
  return true;
}

/* The node's record, when the node is of the signature. */
inline const char* NodeRecord(const record_storage* node, WORD signature) {
  if (node == nullptr || node->signature != signature || node->data == nullptr)
    return nullptr;
  return node->data;
}

/* True when the property id is asked for (its own id or the "all" id)
 * and its key has not been written into this text yet. */
inline bool Wanted(WORD id, WORD own, WORD all, const DWORD* written) {
  if (id != own && id != all)
    return false;
  return written == nullptr || own >= kAttributeFlagCount || written[own] == 0;
}

/* Marks a key written when the writer took it. */
inline void Mark(DWORD* written, WORD own, bool fitted) {
  if (fitted && written != nullptr && own < kAttributeFlagCount)
    written[own] = 1;
}

/* The session's colour naming (1: the host's names). */
WORD ClientPreferenceOfSession(const LSXLsiSession* session);

/* Case-insensitive equality of two NUL-terminated texts. */
bool SameWord(const char* a, const char* b);

} // namespace attributes

#endif
