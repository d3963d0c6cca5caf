/*
 * MarkDelimitedHTML: turns "[<" ... ">]" text runs of a loaded record list
 * into native pass-through runs before rendering. Records are spliced into
 * the list in memory, made in the body's arena; the note is not touched.
 */
#include "render/delimited_html.h"

#include <string.h>

#include "host/cdrecords.h"
#include "store/body.h"
#include "store/tracked_memory.h"
#include "velko/status.h"

namespace {

constexpr DWORD kTextHeader = sizeof(CDTEXT);
/* A text run holding exactly the two bracket characters. */
constexpr DWORD kBracketRecordLength = kTextHeader + 2;
constexpr DWORD kMarkerRecordLength = 8;

/* An HTMLBEGIN or HTMLEND node of the body's arena, numbered like the
 * record it is spliced next to. */
record_storage *MakeMarker(LSXLsiSession *session, body_context *body, WORD signature,
                           DWORD ordinal) {
  record_storage *node =
      NewArenaRecord(session, body, signature, kMarkerRecordLength, VELKO_HERE);
  if (node == nullptr)
    return nullptr;
  const WSIG header{signature, static_cast<WORD>(kMarkerRecordLength)};
  memset(node->data, 0, kMarkerRecordLength);
  memcpy(node->data, &header, sizeof header);
  node->ordinal = ordinal;
  return node;
}

/* Gives the text record new data: its own header with the new length,
 * then first and second. False, with the record unchanged, when memory
 * cannot be had. (A marker comes from an option string, which is shorter
 * than a record can be; one too long is refused all the same.) */
bool RebuildText(LSXLsiSession *session, body_context *body, record_storage *node,
                 const char *first, const char *second) {
  const size_t firstLength = strlen(first);
  const size_t secondLength = strlen(second);
  const size_t length = kTextHeader + firstLength + secondLength;
  if (length > 0xFFFF)
    return false;
  char header[kTextHeader];
  memcpy(header, node->data, kTextHeader);
  char *data = NewRecordData(session, body, node, static_cast<DWORD>(length));
  if (data == nullptr)
    return false;
  memcpy(data, header, kTextHeader);
  const WORD recordLength = static_cast<WORD>(length);
  memcpy(data + offsetof(WSIG, Length), &recordLength, sizeof recordLength);
  memcpy(data + kTextHeader, first, firstLength);
  memcpy(data + kTextHeader + firstLength, second, secondLength);
  return true;
}

bool HoldsText(const record_storage *node, const char *text) {
  return node->signature == SIG_CD_TEXT && node->length == kBracketRecordLength &&
         node->data != nullptr && memcmp(node->data + kTextHeader, text, 2) == 0;
}

/* Opens a run at "[<": an HTMLBEGIN before it and the start marker. */
bool OpenRun(LSXLsiSession *session, body_context *body, record_storage *node, const char *marker) {
  record_storage *begin = MakeMarker(session, body, SIG_CD_HTMLBEGIN, node->ordinal);
  if (begin == nullptr || !RebuildText(session, body, node, marker, "<"))
    return false;
  node->InsertRecordBefore(begin);
  if (begin->previous == nullptr)
    body->records = begin;
  return true;
}

/* Closes a run at ">]": the end marker and an HTMLEND after it. */
bool CloseRun(LSXLsiSession *session, body_context *body, record_storage *node,
              const char *marker) {
  record_storage *end = MakeMarker(session, body, SIG_CD_HTMLEND, node->ordinal);
  if (end == nullptr || !RebuildText(session, body, node, ">", marker))
    return false;
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
      if (!CloseRun(session, body, node, endMarker))
        return VELKO_ERR_MEMORY;
      // the HTMLEND, visited next, ends the run
    }
    if (node->next == nullptr && inRun) {
      record_storage *last = MakeMarker(session, body, SIG_CD_HTMLEND, node->ordinal);
      if (last == nullptr)
        return VELKO_ERR_MEMORY;
      node->InsertRecordAfter(last);
    }
  }
  return NOERROR;
}
