/*
 * VelkoRTItem::ConvertFromHTMLBackend: the HTML a file resource holds as
 * file data ("$FileData"), read whole and held as text records in the
 * item's HTML-import body contexts, from which AppendHTML("BodyContext")
 * imports it into any chunk of any item of the session.
 *
 * Not here: the import (import/html_import.cpp). The text is held as the
 * file's bytes, so the import reads it as it reads inline HTML: LMBCS
 * unless its options name a "Charset=".
 */
#include <string.h>
#include <strings.h>

#include "engine/retrieve.h"
#include "host/cdrecords.h"
#include "store/body.h"
#include "store/messages.h"
#include "store/new_object.h"
#include "store/rtitem_internal.h"
#include "velko/status.h"
#include "velko/velko.h"

namespace {

constexpr char kFileDataItem[] = "$FileData";
/* Bytes of HTML per text record, well below a record's limit. */
constexpr DWORD kTextPerRecord = 32000;

/* A body context whose records are text runs of the item's default font
 * holding the bytes in order; null when memory runs out. */
body_context* TextContext(VelkoRTItem* item, const char* text, DWORD length) {
  auto* context = NewObject<body_context>();
  if (context == nullptr)
    return nullptr;
  context->note = item->note;
  context->item_name = item->item_name;
  record_storage* tail = nullptr;
  DWORD ordinal = 0;
  for (DWORD at = 0; at < length;) {
    const DWORD piece = length - at < kTextPerRecord ? length - at : kTextPerRecord;
    const DWORD recordLength = static_cast<DWORD>(sizeof(CDTEXT)) + piece;
    record_storage* node = NewArenaRecord(item->session, context, SIG_CD_TEXT, recordLength,
                                          VELKO_HERE);
    if (node == nullptr) {
      DeleteBodyContext(item->session, context);
      return nullptr;
    }
    CDTEXT header;
    memcpy(&header, item->internal->default_text_header, sizeof header);
    header.Header.Length = static_cast<WORD>(recordLength);
    memcpy(node->data, &header, sizeof header);
    memcpy(node->data + sizeof header, text + at, piece);
    node->ordinal = ++ordinal;
    if (tail == nullptr)
      context->records = node;
    else
      tail->InsertRecordAfter(node);
    tail = node;
    at += piece;
  }
  return context;
}

STATUS HoldFileResourceHtml(VelkoRTItem* item) {
  if (item->IsConnected == 0 || item->note == NULLHANDLE)
    return VELKO_ERR_NO_INPUT;
  if (item->item_name == nullptr || strcasecmp(item->item_name, kFileDataItem) != 0)
    return VELKO_ERR_BAD_ARGUMENT;
  char* html = nullptr;
  DWORD length = 0;
  if (STATUS status = RetrieveAllText(item->note, kFileDataItem, &html, &length, 0, 1);
      status != NOERROR)
    return status;
  body_context* context = TextContext(item, html, length);
  delete[] html;
  if (context == nullptr) {
    LogOutOfMemory(VELKO_HERE);
    return VELKO_ERR_MEMORY;
  }
  item->internal->html_import[0] = context;
  return NOERROR;
}

} // namespace

STATUS VelkoRTItem::ConvertFromHTMLBackend() {
  // What an earlier call held goes first, so that a failure holds nothing.
  DeleteBodyContext(session, internal->html_import[0]);
  DeleteBodyContext(session, internal->html_import[1]);
  last_status = HoldFileResourceHtml(this);
  return last_status;
}
