/*
 * MarkDelimitedHTML: turns "[<" ... ">]" text runs of a loaded record list
 * into native pass-through runs before rendering. Records are spliced into
 * the list in memory; the note is not touched.
 */
#include "render/delimited_html.h"

#include <string.h>

#include <new>

#include "host/cdrecords.h"
#include "store/body.h"
#include "store/tracked_memory.h"
#include "velko/status.h"

namespace {

constexpr DWORD kTextHeader = sizeof(CDTEXT);
/* A text run holding exactly the two bracket characters. */
constexpr DWORD kBracketRecordLength = kTextHeader + 2;
constexpr DWORD kMarkerRecordLength = 8;

/* An HTMLBEGIN or HTMLEND node with its own 8-byte data, numbered like
 * the record it is spliced next to. */
record_storage *MakeMarker(LSXLsiSession *session, WORD signature, DWORD ordinal) {
  char *data = static_cast<char *>(VelkoAllocatePtr(session, VELKO_HERE, kMarkerRecordLength, 1));
  if (data == nullptr)
    return nullptr;
  auto *node = new (std::nothrow) record_storage;
  if (node == nullptr) {
    VelkoDeallocatePtr(session, data);
    return nullptr;
  }
  const WSIG header{signature, static_cast<WORD>(kMarkerRecordLength)};
  memcpy(data, &header, sizeof header);
  node->signature = signature;
  node->length = kMarkerRecordLength;
  node->ordinal = ordinal;
  node->flags = RECORD_OWNS_DATA;
  node->data = data;
  return node;
}

void FreeMarker(LSXLsiSession *session, record_storage *node) {
  VelkoDeallocatePtr(session, node->data);
  delete node;
}

/* Gives the text record new data: its own header with the new length,
 * then first and second. False, with the record unchanged, when memory
 * cannot be had. (A marker comes from an option string, which is shorter
 * than a record can be; one too long is refused all the same.) */
bool RebuildText(LSXLsiSession *session, record_storage *node, const char *first,
                 const char *second) {
  const size_t firstLength = strlen(first);
  const size_t secondLength = strlen(second);
  const size_t length = kTextHeader + firstLength + secondLength;
  if (length > 0xFFFF)
    return false;
  // An odd record keeps one zero byte behind it.
  char *data = static_cast<char *>(VelkoAllocatePtr(session, VELKO_HERE, length + 1, 1));
  if (data == nullptr)
    return false;
  memcpy(data, node->data, kTextHeader);
  const WORD recordLength = static_cast<WORD>(length);
  memcpy(data + offsetof(WSIG, Length), &recordLength, sizeof recordLength);
  memcpy(data + kTextHeader, first, firstLength);
  memcpy(data + kTextHeader + firstLength, second, secondLength);
  if ((node->flags & RECORD_OWNS_DATA) != 0)
    VelkoDeallocatePtr(session, node->data);
  node->data = data;
  node->length = static_cast<DWORD>(length);
  node->flags |= RECORD_OWNS_DATA;
  return true;
}

bool HoldsText(const record_storage *node, const char *text) {
  return node->signature == SIG_CD_TEXT && node->length == kBracketRecordLength &&
         node->data != nullptr && memcmp(node->data + kTextHeader, text, 2) == 0;
}

/* Opens a run at "[<": an HTMLBEGIN before it and the start marker. */
bool OpenRun(LSXLsiSession *session, body_context *body, record_storage *node, const char *marker) {
  record_storage *begin = MakeMarker(session, SIG_CD_HTMLBEGIN, node->ordinal);
  if (begin == nullptr)
    return false;
  if (!RebuildText(session, node, marker, "<")) {
    FreeMarker(session, begin);
    return false;
  }
  node->InsertRecordBefore(begin);
  if (begin->previous == nullptr)
    body->records = begin;
  return true;
}

/* Closes a run at ">]": the end marker and an HTMLEND after it. */
bool CloseRun(LSXLsiSession *session, record_storage *node, const char *marker) {
  record_storage *end = MakeMarker(session, SIG_CD_HTMLEND, node->ordinal);
  if (end == nullptr)
    return false;
  if (!RebuildText(session, node, ">", marker)) {
    FreeMarker(session, end);
    return false;
  }
  node->InsertRecordAfter(end);
  return true;
}

} // namespace

STATUS MarkDelimitedHTML(LSXLsiSession *session, body_context *body, const char *start,
                         const char *end) {
  if (body == nullptr)
    return NOERROR;
  const char *startMarker = start != nullptr ? start : kDelimitedStartMarker;
  const char *endMarker = end != nullptr ? end : kDelimitedEndMarker;
  bool inRun = false;
  for (record_storage *node = GetNextCDRecord(body, nullptr); node != nullptr;
       node = GetNextCDRecord(body, node)) {
    if (node->signature == SIG_CD_HTMLBEGIN) {
      inRun = true;
    } else if (node->signature == SIG_CD_HTMLEND) {
      inRun = false;
    } else if (!inRun && HoldsText(node, "[<")) {
      if (!OpenRun(session, body, node, startMarker))
        return VELKO_ERR_MEMORY;
      inRun = true;
    } else if (inRun && HoldsText(node, ">]")) {
      // Left open, the run would take every record after it as markup.
      if (!CloseRun(session, node, endMarker))
        return VELKO_ERR_MEMORY;
      // the HTMLEND, visited next, ends the run
    }
    if (node->next == nullptr && inRun) {
      record_storage *last = MakeMarker(session, SIG_CD_HTMLEND, node->ordinal);
      if (last == nullptr)
        return VELKO_ERR_MEMORY;
      node->InsertRecordAfter(last);
    }
  }
  return NOERROR;
}
