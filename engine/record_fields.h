/*
 * Small readers of the records the engine walks: the signature a CDBEGIN
 * or CDEND brackets, and fields read at an offset with the record's length
 * checked, so that no test reads past a record. A record too short for the
 * field read never matches.
 *
 * Layouts, signatures and the families of signatures (IsTextRun,
 * IsTableCell...) are in host/cdrecords.h.
 */
#ifndef VELKO_ENGINE_RECORD_FIELDS_H
#define VELKO_ENGINE_RECORD_FIELDS_H

#include <stddef.h>
#include <string.h>

#include "host/cdrecords.h"
#include "store/body.h"

/* A field of the record at `offset`, when the record holds it. */
inline bool ReadRecordWord(const char* record, DWORD length, DWORD offset, WORD* value) {
  if (record == nullptr || length < offset + sizeof(WORD))
    return false;
  memcpy(value, record + offset, sizeof(WORD));
  return true;
}
inline bool ReadRecordDword(const char* record, DWORD length, DWORD offset, DWORD* value) {
  if (record == nullptr || length < offset + sizeof(DWORD))
    return false;
  memcpy(value, record + offset, sizeof(DWORD));
  return true;
}
inline bool ReadRecordByte(const char* record, DWORD length, DWORD offset, BYTE* value) {
  if (record == nullptr || length < offset + 1)
    return false;
  *value = static_cast<BYTE>(record[offset]);
  return true;
}

/* The signature a CDBEGIN or CDEND brackets; 0 for another record or one
 * too short to say. */
inline WORD BracketedSignature(const char* record, WORD signature, DWORD length) {
  WORD bracketed = 0;
  if (!IsBracket(signature) ||
      !ReadRecordWord(record, length, offsetof(CDBEGINRECORD, Signature), &bracketed))
    return 0;
  return bracketed;
}
inline WORD NodeBracket(const record_storage* node) {
  return node == nullptr ? 0 : BracketedSignature(node->data, node->signature, node->length);
}
/* A text run node; false for null. */
inline bool IsTextRun(const record_storage* node) {
  return node != nullptr && IsTextRun(node->signature);
}

/* A CDBEGIN (or CDEND) bracketing a record of the signature. */
inline bool IsBeginOf(const char* record, WORD signature, DWORD length, WORD bracketed) {
  return signature == SIG_CD_BEGIN && BracketedSignature(record, signature, length) == bracketed;
}
inline bool IsEndOf(const char* record, WORD signature, DWORD length, WORD bracketed) {
  return signature == SIG_CD_END && BracketedSignature(record, signature, length) == bracketed;
}

/* The text of a text record (after its 8-byte header); false for a record
 * too short to carry its header. */
inline bool TextOfRun(const record_storage* node, const char** text, DWORD* textLength) {
  if (node == nullptr || !IsTextRun(node->signature) || node->length < sizeof(CDTEXT))
    return false;
  *text = node->data + sizeof(CDTEXT);
  *textLength = node->length - sizeof(CDTEXT);
  return true;
}

#endif
