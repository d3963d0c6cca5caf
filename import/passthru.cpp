/*
 * EncodePassthruHTML: escapes and brackets the text between the import's
 * pass-through delimiters, record by record, splicing HTMLEND and HTMLBEGIN
 * records around a region that opens inside a native run. A rebuilt text
 * goes into a work area sized for its worst case (every byte escaped) and
 * is cut into text records of at most kLongestMarkedText bytes, never
 * inside a character or an escape.
 */
#include "import/passthru.h"

#include <string.h>

#include <vector>

#include "host/cdrecords.h"
#include "host/nls.h"
#include "import/html_import_state.h"
#include "store/body.h"
#include "store/session.h"
#include "store/tracked_memory.h"

namespace {

constexpr DWORD kTextHeader = sizeof(CDTEXT);
constexpr DWORD kMarkerLength = 8;
constexpr DWORD kLongestPart = kLongestMarkedText - kTextHeader;
/* Written where a region's first character is not "<", so that the
 * importer does not take the region's start as text of its own. */
constexpr char kEmptyComment[] = "<!-- -->";
/* The most one input byte can become: the comment and "&quot;". */
constexpr DWORD kWorstPerByte = sizeof kEmptyComment - 1 + 6;

/* The rebuilt text of one record: its bytes, and where it may be cut
 * into records (each part at most kLongestPart bytes). */
class rebuilt_text {
public:
  rebuilt_text(char* area) : area_(area) {}

  /* Appends a unit that stays within one part. */
  void Put(const char* bytes, DWORD length) {
    if (used_ - part_start_ + length > kLongestPart) {
      part_start_ = used_;
      cuts_.push_back(used_);
    }
    memcpy(area_ + used_, bytes, length);
    used_ += length;
  }
  void Put(const char* text) { Put(text, static_cast<DWORD>(strlen(text))); }

  const char* data() const { return area_; }
  DWORD size() const { return used_; }
  /* Offsets where a further record begins. */
  const std::vector<DWORD>& cuts() const { return cuts_; }

private:
  char* area_;
  DWORD used_ = 0;
  DWORD part_start_ = 0;
  std::vector<DWORD> cuts_;
};

/* The flags kept across the whole list. */
struct marking {
  bool in_run = false;      /* inside a native pass-through run */
  bool in_region = false;
  bool just_opened = false; /* the region's first character comes next */
  bool reopen = false;      /* a native run was closed for the region */
};

/* The bytes of the character at text (at most `left`), by the session's
 * character set; never past the record. */
DWORD CharacterBytes(const char* text, DWORD left, NLS_PINFO info) {
  BYTE character[4] = {};
  memcpy(character, text, left < 3 ? left : 3);
  WORD bytes = 1;
  if (NLS_string_bytes(character, 1, &bytes, info) != 0 || bytes == 0)
    bytes = 1;
  return bytes < left ? bytes : left;
}

bool StartsWith(const char* text, DWORD left, const char* delimiter, DWORD length) {
  return length <= left && memcmp(text, delimiter, length) == 0;
}

/* An HTMLBEGIN or HTMLEND record, numbered like the record it goes next
 * to. */
record_storage* MakeMarker(LSXLsiSession* session, body_context* body, WORD signature,
                           DWORD ordinal) {
  record_storage* node = NewArenaRecord(session, body, signature, kMarkerLength, VELKO_HERE);
  if (node == nullptr)
    return nullptr;
  const WSIG header{signature, static_cast<WORD>(kMarkerLength)};
  memset(node->data, 0, kMarkerLength);
  memcpy(node->data, &header, sizeof header);
  node->ordinal = ordinal;
  return node;
}

void WriteText(char* data, const char* header, const char* text, DWORD length) {
  memcpy(data, header, kTextHeader);
  const WORD recordLength = static_cast<WORD>(kTextHeader + length);
  memcpy(data + offsetof(WSIG, Length), &recordLength, sizeof recordLength);
  memcpy(data + kTextHeader, text, length);
}

/* Gives the node the rebuilt text, its further parts in new text records
 * behind it; the last record of the text, or null when memory ran out
 * (the node then keeps its text). */
record_storage* StoreText(LSXLsiSession* session, body_context* body, record_storage* node,
                          const rebuilt_text& text) {
  char header[kTextHeader];
  memcpy(header, node->data, kTextHeader);
  std::vector<DWORD> starts = {0};
  starts.insert(starts.end(), text.cuts().begin(), text.cuts().end());
  starts.push_back(text.size());
  // The further records first, so that a failure leaves the node as it was.
  std::vector<record_storage*> parts;
  for (size_t i = 1; i + 1 < starts.size(); ++i) {
    const DWORD length = starts[i + 1] - starts[i];
    record_storage* part =
        NewArenaRecord(session, body, SIG_CD_TEXT, kTextHeader + length, VELKO_HERE);
    if (part == nullptr)
      return nullptr;
    WriteText(part->data, header, text.data() + starts[i], length);
    part->ordinal = node->ordinal;
    parts.push_back(part);
  }
  const DWORD first = starts[1] - starts[0];
  char* data = NewRecordData(session, body, node, kTextHeader + first);
  if (data == nullptr)
    return nullptr;
  WriteText(data, header, text.data(), first);
  node->flags &= ~RECORD_SIDE_TEXT; // its entity text was the old text's
  record_storage* last = node;
  for (record_storage* part : parts) {
    last->InsertRecordAfter(part);
    last = part;
  }
  return last;
}

/* One text record's characters; the region's opening and closing change
 * the flags and ask for markers around the record. */
struct record_scan {
  bool changed = false;
  bool end_before = false;  /* an HTMLEND goes before the record */
  bool begin_after = false; /* an HTMLBEGIN goes after it */
};

record_scan ScanText(const char* text, DWORD length, const html_import_state& state,
                     marking* flags, rebuilt_text* out) {
  const DWORD startLength = static_cast<DWORD>(strlen(state.passthru_start));
  const DWORD endLength = static_cast<DWORD>(strlen(state.passthru_end));
  NLS_PINFO info = state.session->internal->nls_info;
  record_scan scan;
  DWORD i = 0;
  while (i < length) {
    const char* at = text + i;
    const DWORD left = length - i;
    if (!flags->in_region) {
      if (StartsWith(at, left, state.passthru_start, startLength)) {
        if (flags->in_run) {
          scan.end_before = true;
          flags->in_run = false;
          flags->reopen = true;
        }
        flags->in_region = true;
        flags->just_opened = true;
        scan.changed = true;
        out->Put("[");
        i += startLength;
        continue;
      }
      const DWORD bytes = CharacterBytes(at, left, info);
      out->Put(at, bytes);
      i += bytes;
      continue;
    }
    scan.changed = true;
    if (flags->just_opened && *at != '<')
      out->Put(kEmptyComment);
    flags->just_opened = false;
    if (StartsWith(at, left, state.passthru_end, endLength)) {
      flags->in_region = false;
      out->Put("]");
      i += endLength;
      if (flags->reopen) {
        scan.begin_after = true;
        flags->reopen = false;
        flags->in_run = true;
      }
      continue;
    }
    const DWORD bytes = CharacterBytes(at, left, info);
    i += bytes;
    if (bytes > 1) {
      out->Put(at, bytes);
      continue;
    }
    switch (*at) {
    case '&':
      out->Put("&amp;");
      break;
    case '<':
      out->Put("&lt;");
      break;
    case '>':
      out->Put("&gt;");
      break;
    case '"':
      out->Put("&quot;");
      break;
    default:
      out->Put(at, 1);
    }
  }
  return scan;
}

/* Rebuilds one text record; the record to go on from (the last of its
 * text), or null when memory ran out. */
record_storage* MarkText(body_context* body, record_storage* node, const html_import_state& state,
                         marking* flags) {
  LSXLsiSession* session = state.session;
  WORD lengthWord = 0;
  memcpy(&lengthWord, node->data + offsetof(WSIG, Length), sizeof lengthWord);
  const DWORD length = lengthWord < node->length ? lengthWord : node->length;
  if (length < kTextHeader)
    return node;
  if (!flags->in_region && length < strlen(state.passthru_start) + kTextHeader)
    return node;
  const DWORD textLength = length - kTextHeader;
  const size_t areaSize = static_cast<size_t>(textLength) * kWorstPerByte + 2;
  char* area = static_cast<char*>(VelkoAllocatePtr(session, VELKO_HERE, areaSize, 0));
  if (area == nullptr)
    return nullptr;
  const marking before = *flags;
  rebuilt_text out(area);
  const record_scan scan = ScanText(node->data + kTextHeader, textLength, state, flags, &out);
  record_storage* last = node;
  record_storage* end = nullptr;
  record_storage* begin = nullptr;
  if (scan.end_before)
    end = MakeMarker(session, body, SIG_CD_HTMLEND, node->ordinal);
  if (scan.begin_after)
    begin = MakeMarker(session, body, SIG_CD_HTMLBEGIN, node->ordinal);
  if ((scan.end_before && end == nullptr) || (scan.begin_after && begin == nullptr) ||
      (scan.changed && (last = StoreText(session, body, node, out)) == nullptr)) {
    VelkoDeallocatePtr(session, area);
    *flags = before;
    return nullptr;
  }
  VelkoDeallocatePtr(session, area);
  if (end != nullptr) {
    node->InsertRecordBefore(end);
    if (end->previous == nullptr)
      body->records = end;
  }
  if (begin != nullptr) {
    last->InsertRecordAfter(begin);
    last = begin;
  }
  return last;
}

} // namespace

STATUS EncodePassthruHTML(body_context* body, html_import_state* state) {
  if (body == nullptr || state == nullptr || state->session == nullptr ||
      state->passthru_start == nullptr || state->passthru_end == nullptr ||
      state->passthru_start[0] == '\0' || state->passthru_end[0] == '\0')
    return NOERROR;
  marking flags;
  for (record_storage* node = GetNextCDRecord(body, nullptr); node != nullptr;
       node = GetNextCDRecord(body, node)) {
    if (node->signature == SIG_CD_HTMLBEGIN) {
      flags.in_run = true;
    } else if (node->signature == SIG_CD_HTMLEND) {
      flags.in_run = false;
    } else if (node->signature == SIG_CD_TEXT && node->data != nullptr) {
      node = MarkText(body, node, *state, &flags);
      if (node == nullptr)
        return VELKO_ERR_MEMORY;
    }
  }
  return NOERROR;
}
