/*
 * The chunk engine's property queries: the reading cases of the property
 * actions (titles, labels, formulas, file names and sizes, links, margins,
 * paragraph styles and the facts of graphics) and the property answers
 * settled where a chunk opens or closes (pass-through HTML, record type,
 * merged cells and cell positions, hotspot depth, margins).
 *
 * Every query reads records and leaves them as they are; its answer goes to
 * the session place that the property's result class names, which the chunk
 * object cleared before the operation. A query that reports its first hit
 * tests the found flag on entry and sets it once it has answered; the others
 * let each matching record overwrite the answer. Every field read is bounded
 * by the record, every copy by the buffer it goes to.
 *
 * Not here: the property settings (their own actions), the text query and
 * the record positions (engine/actions_query.cpp).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "engine/link_records.h"
#include "engine/record_fields.h"
#include "engine/retrieve.h"
#include "engine/services.h"
#include "engine/walk.h"
#include "host/nsfnote.h"
#include "store/body.h"
#include "store/cd_storage.h"
#include "store/messages.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "velko/status.h"

namespace {

/* ---- answers ---- */

/* Copies up to `count` bytes into a scratch text, cut to its room, and
 * ends it with a NUL. */
void SetScratch(char* scratch, const char* text, size_t count) {
  if (count > VELKO_SCRATCH_TEXT_SIZE - 1)
    count = VELKO_SCRATCH_TEXT_SIZE - 1;
  if (count != 0)
    memcpy(scratch, text, count);
  scratch[count] = '\0';
}

void SetScratchText(char* scratch, const char* text) { SetScratch(scratch, text, strlen(text)); }

/* The result text with its length: up to `count` bytes, cut to its room,
 * NUL-terminated. */
void SetResultText(LSXLsiSession* session, const char* text, size_t count) {
  constexpr size_t kRoom = VELKO_RESULT_TEXT_SIZE - 1;
  if (count > kRoom)
    count = kRoom;
  if (count > 0xFFFF)
    count = 0xFFFF;
  if (count != 0)
    memcpy(session->result_text, text, count);
  session->result_text[count] = '\0';
  session->result_length = static_cast<WORD>(count);
}

/* Length of the NUL-terminated text at `text`, at most `room` bytes. */
size_t BoundedLength(const char* text, size_t room) {
  const void* nul = memchr(text, '\0', room);
  return nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - text) : room;
}

/* The bytes of the record from `offset` on; 0 when the record is shorter. */
size_t BytesFrom(DWORD length, DWORD offset) { return length > offset ? length - offset : 0; }

/* `count` bytes from `offset`, cut at the record's end. */
size_t BoundedCount(DWORD length, DWORD offset, DWORD count) {
  const size_t available = BytesFrom(length, offset);
  return count < available ? count : available;
}

bool IsResource(WORD signature) {
  return signature == SIG_CD_RESOURCE || signature == SIG_CD_RESOURCE_FF71 ||
         signature == SIG_CD_RESOURCE_FF78 || signature == SIG_CD_RESOURCE_FF5A;
}

bool IsHotspotBegin(WORD signature) {
  return signature == SIG_CD_HOTSPOTBEGIN || signature == SIG_CD_V4HOTSPOTBEGIN;
}

/* ---- hotspots ---- */

struct hotspot_fields {
  WORD type = 0;
  DWORD flags = 0;
  const char* data = nullptr;
  size_t data_length = 0; /* cut at the record's end */
};

bool ReadHotspot(const char* record, WORD signature, DWORD length, hotspot_fields* hotspot) {
  WORD dataLength = 0;
  if (!IsHotspotBegin(signature) || length < sizeof(CDHOTSPOTBEGIN) ||
      !ReadRecordWord(record, length, offsetof(CDHOTSPOTBEGIN, Type), &hotspot->type) ||
      !ReadRecordDword(record, length, offsetof(CDHOTSPOTBEGIN, Flags), &hotspot->flags) ||
      !ReadRecordWord(record, length, offsetof(CDHOTSPOTBEGIN, DataLength), &dataLength))
    return false;
  hotspot->data = record + sizeof(CDHOTSPOTBEGIN);
  hotspot->data_length = BoundedCount(length, sizeof(CDHOTSPOTBEGIN), dataLength);
  return true;
}

/* The file hotspot's two names: the attachment's internal name and the
 * name of the file it was attached from, each ending at its NUL or the
 * data's end. */
void FileHotspotNames(const hotspot_fields& hotspot, const char** internal, size_t* internalLength,
                      const char** original, size_t* originalLength) {
  *internal = hotspot.data;
  *internalLength = BoundedLength(hotspot.data, hotspot.data_length);
  const size_t rest = hotspot.data_length - *internalLength;
  *original = hotspot.data + *internalLength + (rest > 0 ? 1 : 0);
  *originalLength = rest > 1 ? BoundedLength(*original, rest - 1) : 0;
}

/* ---- resources ---- */

struct resource_fields {
  DWORD flags = 0;
  WORD type = 0;
  WORD resource_class = 0;
  WORD length1 = 0;
  const char* server_hint = nullptr;
  size_t server_length = 0;
  const char* file_hint = nullptr;
  size_t file_length = 0;
  /* The bytes behind the hints, to the record's end. */
  const char* after_hints = nullptr;
  size_t after_length = 0;
};

bool ReadResource(const char* record, WORD signature, DWORD length, resource_fields* resource) {
  WORD serverLength = 0;
  WORD fileLength = 0;
  if (!IsResource(signature) || length < sizeof(CDRESOURCE) ||
      !ReadRecordDword(record, length, offsetof(CDRESOURCE, Flags), &resource->flags) ||
      !ReadRecordWord(record, length, offsetof(CDRESOURCE, Type), &resource->type) ||
      !ReadRecordWord(record, length, offsetof(CDRESOURCE, ResourceClass),
                      &resource->resource_class) ||
      !ReadRecordWord(record, length, offsetof(CDRESOURCE, Length1), &resource->length1) ||
      !ReadRecordWord(record, length, offsetof(CDRESOURCE, ServerHintLength), &serverLength) ||
      !ReadRecordWord(record, length, offsetof(CDRESOURCE, FileHintLength), &fileLength))
    return false;
  DWORD at = sizeof(CDRESOURCE);
  resource->server_hint = record + at;
  resource->server_length = BoundedCount(length, at, serverLength);
  at += static_cast<DWORD>(resource->server_length);
  resource->file_hint = record + at;
  resource->file_length = BoundedCount(length, at, fileLength);
  at += static_cast<DWORD>(resource->file_length);
  resource->after_hints = record + at;
  resource->after_length = BytesFrom(length, at);
  return true;
}

constexpr WORD kResourceUrl = 1;
constexpr WORD kResourceNoteLink = 2;
constexpr WORD kResourceNamedElement = 3;
constexpr WORD kResourceClassImage = 0x13;
constexpr DWORD kResourceFormula = 0x0001;

/* A shared image: a named-element resource of the image class. */
bool IsImageResource(const resource_fields& resource) {
  return resource.type == kResourceNamedElement && resource.resource_class == kResourceClassImage;
}

/* ---- titles, labels and formulas ---- */

STATUS QuerySectionTitle(const char* record, WORD signature, DWORD length,
                         chunk_process_state* state) {
  if (signature != SIG_CD_SECTIONBAR)
    return NOERROR;
  constexpr DWORD kTitleAt = sizeof(CDBAR) + sizeof(WORD);
  SetScratch(state->session->scratch_first, record + kTitleAt, BytesFrom(length, kTitleAt));
  return NOERROR;
}

STATUS QueryAnchorText(const char* record, WORD signature, DWORD length,
                       chunk_process_state* state) {
  WORD nameLength = 0;
  if (state->found != 0 || signature != SIG_CD_ANCHOR ||
      !ReadRecordWord(record, length, offsetof(CDANCHOR, NameLength), &nameLength))
    return NOERROR;
  SetResultText(state->session, record + sizeof(CDANCHOR),
                BoundedCount(length, sizeof(CDANCHOR), nameLength));
  state->found = 1;
  return NOERROR;
}

constexpr WORD kHotspotButton = 3;
constexpr WORD kHotspotFile = 4;
constexpr WORD kHotspotUrl = 11;
constexpr DWORD kHotspotNoBorder = 0x0008;
constexpr DWORD kHotspotFormula = 0x0010;
constexpr DWORD kHotspotUrlData = 0x1000;

STATUS QueryActionFormula(const char* record, WORD signature, DWORD length,
                          chunk_process_state* state) {
  hotspot_fields hotspot;
  if (state->found != 0 || !ReadHotspot(record, signature, length, &hotspot))
    return NOERROR;
  if (hotspot.type != kHotspotButton && (hotspot.flags & kHotspotFormula) == 0)
    return NOERROR;
  SetResultText(state->session, hotspot.data, hotspot.data_length);
  state->found = 1;
  return NOERROR;
}

STATUS QueryButtonText(const char* record, WORD signature, DWORD length,
                       chunk_process_state* state) {
  if (signature != SIG_CD_BUTTON)
    return NOERROR;
  SetResultText(state->session, record + sizeof(CDBUTTON), BytesFrom(length, sizeof(CDBUTTON)));
  return NOERROR;
}

STATUS QueryHideFormula(const char* record, WORD signature, DWORD length,
                        chunk_process_state* state) {
  if (state->found != 0 || signature != SIG_CD_PABHIDE)
    return NOERROR;
  SetResultText(state->session, record + sizeof(CDPABHIDE), BytesFrom(length, sizeof(CDPABHIDE)));
  state->found = 1;
  return NOERROR;
}

STATUS QueryPabid(const char* record, WORD signature, DWORD length, chunk_process_state* state) {
  if (state->found != 0)
    return NOERROR;
  DWORD at = 0;
  if (signature == SIG_CD_PABDEFINITION)
    at = offsetof(CDPABDEFINITION, PABID);
  else if (signature == SIG_CD_PABREFERENCE)
    at = offsetof(CDPABREFERENCE, PABID);
  else if (signature == SIG_CD_STYLENAME)
    at = offsetof(CDSTYLENAME, PABID);
  else
    return NOERROR;
  WORD pabid = 0;
  if (!ReadRecordWord(record, length, at, &pabid))
    return NOERROR;
  state->session->internal->pabid_word = pabid;
  state->found = 1;
  return NOERROR;
}

/* A NUL-terminated text of the record from `offset` into the first
 * scratch, first hit only. */
STATUS QueryRecordName(const char* record, DWORD length, DWORD offset,
                       chunk_process_state* state) {
  if (state->found != 0)
    return NOERROR;
  const size_t room = BytesFrom(length, offset);
  SetScratch(state->session->scratch_first, record + offset,
             room != 0 ? BoundedLength(record + offset, room) : 0);
  state->found = 1;
  return NOERROR;
}

STATUS QueryTargetFrame(const char* record, WORD signature, DWORD length,
                        chunk_process_state* state) {
  WORD targetLength = 0;
  if (state->found != 0 || signature != SIG_CD_TARGET ||
      !ReadRecordWord(record, length, offsetof(CDTARGET, TargetLength), &targetLength))
    return NOERROR;
  SetScratch(state->session->scratch_first, record + sizeof(CDTARGET),
             BoundedCount(length, sizeof(CDTARGET), targetLength));
  state->found = 1;
  return NOERROR;
}

/* A flag of the first matching record as "TRUE" or "FALSE" in the first
 * scratch. */
void AnswerFlag(bool set, chunk_process_state* state) {
  SetScratchText(state->session->scratch_first, set ? "TRUE" : "FALSE");
  state->found = 1;
}

STATUS QueryFlags(const char* record, WORD signature, DWORD length, chunk_process_state* state) {
  if (state->found != 0)
    return NOERROR;
  switch (state->action) {
  case ACTION_GET_HOTSPOT_BORDER: {
    hotspot_fields hotspot;
    if (ReadHotspot(record, signature, length, &hotspot))
      AnswerFlag((hotspot.flags & kHotspotNoBorder) == 0, state);
    break;
  }
  case ACTION_GET_TABLE_FIT_TO_WINDOW: {
    WORD flags = 0;
    if (signature == SIG_CD_TABLEBEGIN &&
        ReadRecordWord(record, length, offsetof(CDTABLEBEGIN, Flags), &flags))
      AnswerFlag((flags & 0x0001) != 0, state);
    break;
  }
  case ACTION_GET_IMAGE_IN_PIXELS: {
    BYTE flags = 0;
    if (signature == SIG_CD_GRAPHIC &&
        ReadRecordByte(record, length, offsetof(CDGRAPHIC, Flags), &flags))
      AnswerFlag((flags & 0x01) != 0, state);
    break;
  }
  default:
    break;
  }
  return NOERROR;
}

/* ---- file names and sizes ---- */

constexpr WORD kStorageAttachment = 1;
constexpr WORD kStorageUrl = 4;
constexpr WORD kStorageMimeObject = 6;

STATUS QueryFileNames(const char* record, WORD signature, DWORD length,
                      chunk_process_state* state) {
  char* answer = state->session->scratch_first;
  hotspot_fields hotspot;
  if (ReadHotspot(record, signature, length, &hotspot)) {
    if (hotspot.type != kHotspotFile)
      return NOERROR;
    if (hotspot.data_length == 0) {
      answer[0] = '\0';
      return NOERROR;
    }
    const char* internal = nullptr;
    const char* original = nullptr;
    size_t internalLength = 0;
    size_t originalLength = 0;
    FileHotspotNames(hotspot, &internal, &internalLength, &original, &originalLength);
    if (state->p1 == PROP_OLEFILENAME)
      SetScratch(answer, original, originalLength);
    else
      SetScratch(answer, internal, internalLength);
    state->found = 1;
    return NOERROR;
  }
  if (signature != SIG_CD_STORAGELINK)
    return NOERROR;
  WORD storageType = 0;
  WORD dataLength = 0;
  ReadRecordWord(record, length, offsetof(CDSTORAGELINK, StorageType), &storageType);
  ReadRecordWord(record, length, offsetof(CDSTORAGELINK, Length), &dataLength);
  if ((storageType == kStorageAttachment || storageType == kStorageMimeObject) &&
      dataLength > 0) {
    SetScratch(answer, record + sizeof(CDSTORAGELINK),
               BoundedCount(length, sizeof(CDSTORAGELINK), dataLength));
    state->found = 1;
  } else {
    answer[0] = '\0';
  }
  return NOERROR;
}

/* Adds the size of each file attachment of the chunk to the total in the
 * third scratch. An attachment without its file counts 0 bytes; any other
 * failure ends the walk with its status, the total so far kept. */
STATUS QueryFileSize(const char* record, WORD signature, DWORD length,
                     chunk_process_state* state) {
  hotspot_fields hotspot;
  if (!ReadHotspot(record, signature, length, &hotspot) || hotspot.type != kHotspotFile ||
      hotspot.data_length == 0)
    return NOERROR;
  const char* internal = nullptr;
  const char* original = nullptr;
  size_t internalLength = 0;
  size_t originalLength = 0;
  FileHotspotNames(hotspot, &internal, &internalLength, &original, &originalLength);
  LSXLsiSession* session = state->session;
  if (state->p1 == PROP_OLEFILENAME)
    SetScratch(session->scratch_first, original, originalLength);
  else
    SetScratch(session->scratch_first, internal, internalLength);

  DWORD size = 0;
  STATUS status = FileSizeFromInternal(StateItem(state)->db, state->note, session->scratch_first,
                                       &size, 0);
  if (status != NOERROR)
    size = 0;
  if (status == VELKO_ERR_ITEM_NOT_FOUND)
    status = NOERROR; // an attachment whose file is gone counts 0 bytes
  session->scratch_third[VELKO_SCRATCH_TEXT_SIZE - 1] = '\0'; // the total read back ends here
  const long long total = strtoll(session->scratch_third, nullptr, 10) + size;
  snprintf(session->scratch_third, VELKO_SCRATCH_TEXT_SIZE, "%lld", total);
  return status;
}

/* ---- links ---- */

/* The UNID of a note link's part as 32 hexadecimal digits: its words in
 * the order second, first, fourth, third, upper-cased. */
void FormatUnid(const BYTE* words, char* out, size_t room) {
  DWORD w[4];
  memcpy(w, words, sizeof w);
  snprintf(out, room, "%.8lX%.8lX%.8lX%.8lX", static_cast<unsigned long>(w[1]),
           static_cast<unsigned long>(w[0]), static_cast<unsigned long>(w[3]),
           static_cast<unsigned long>(w[2]));
}

/* Answers a note-link id (2322, 2323, 2324) from the link. */
void AnswerNoteLink(const BYTE* noteLink, WORD id, char* answer) {
  if (id == PROP_LINKREPLICAID) {
    DWORD replica[2];
    memcpy(replica, noteLink + offsetof(NOTELINK, File), sizeof replica);
    snprintf(answer, VELKO_SCRATCH_TEXT_SIZE, "%.8lX%.8lX", static_cast<unsigned long>(replica[1]),
             static_cast<unsigned long>(replica[0]));
  } else if (id == PROP_LINKVIEWUNIVERSALID) {
    FormatUnid(noteLink + offsetof(NOTELINK, View), answer, VELKO_SCRATCH_TEXT_SIZE);
  } else {
    FormatUnid(noteLink + offsetof(NOTELINK, Note), answer, VELKO_SCRATCH_TEXT_SIZE);
  }
}

bool IsNoteLinkId(WORD id) {
  return id == PROP_LINKNOTEUNIVERSALID || id == PROP_LINKREPLICAID ||
         id == PROP_LINKVIEWUNIVERSALID;
}

/* The note link of the index in the note's "$Links" item, or "$FormLinks"
 * when the note has no "$Links". False, with the message shown, when
 * neither item is there or the index lies beyond its count. */
bool LinkOfIndex(NOTEHANDLE note, WORD index, BYTE* noteLink) {
  NOTELINK link;
  if (FindLinkTableEntry(note, index, &link) != link_table_lookup::found) {
    ShowUserMessage("TARNO: Broken $Links reference");
    return false;
  }
  memcpy(noteLink, &link, sizeof link);
  return true;
}

/* The three texts of a link record: popup text, hint server, anchor text. */
void AnswerLinkText(const char* texts, size_t available, WORD id, char* answer) {
  const int wanted = id == PROP_LINKPOPUPTEXT ? 0 : id == PROP_LINKHINTSERVER ? 1 : 2;
  for (int i = 0; i < wanted && available > 0; ++i) {
    const size_t skip = BoundedLength(texts, available);
    const size_t step = skip < available ? skip + 1 : skip;
    texts += step;
    available -= step;
  }
  SetScratch(answer, texts, available != 0 ? BoundedLength(texts, available) : 0);
}

/* Action 15 for the link ids the chunk object answers itself: the first
 * note-link record that gives an answer. */
STATUS QueryLinkPart(const char* record, WORD signature, DWORD length,
                     chunk_process_state* state) {
  char* answer = state->session->scratch_third;
  const WORD id = state->p1;
  BYTE noteLink[sizeof(NOTELINK)] = {};
  if (signature == SIG_CD_DOCLINK) {
    if (length < sizeof(CDLINKEXPORT2))
      return NOERROR;
    if (IsNoteLinkId(id)) {
      memcpy(noteLink, record + offsetof(CDLINKEXPORT2, NoteLink), sizeof noteLink);
      AnswerNoteLink(noteLink, id, answer);
    } else {
      AnswerLinkText(record + sizeof(CDLINKEXPORT2), length - sizeof(CDLINKEXPORT2), id, answer);
    }
    state->found = 1;
    return NOERROR;
  }
  if (signature == SIG_CD_LINK) {
    WORD index = 0;
    if (!ReadRecordWord(record, length, offsetof(CDLINK2, LinkID), &index))
      return NOERROR;
    if (IsNoteLinkId(id)) {
      if (!LinkOfIndex(state->note, index, noteLink))
        return NOERROR; // the next link record may answer
      AnswerNoteLink(noteLink, id, answer);
    } else {
      AnswerLinkText(record + sizeof(CDLINK2), BytesFrom(length, sizeof(CDLINK2)), id, answer);
    }
    state->found = 1;
    return NOERROR;
  }
  resource_fields resource;
  if (!ReadResource(record, signature, length, &resource) || resource.type != kResourceNoteLink)
    return NOERROR;
  const bool inlineLink = (resource.flags & CDRESOURCE_FLAGS_NOTELINK_INLINE) != 0;
  const size_t linkSize = inlineLink ? sizeof(NOTELINK) : sizeof(WORD);
  if (id == PROP_LINKHINTSERVER) {
    SetScratch(answer, resource.server_hint, resource.server_length);
  } else if (id == PROP_LINKPOPUPTEXT) {
    SetScratch(answer, resource.file_hint, resource.file_length);
  } else if (IsNoteLinkId(id)) {
    if (resource.after_length < linkSize)
      return NOERROR;
    if (inlineLink) {
      memcpy(noteLink, resource.after_hints, sizeof noteLink);
    } else {
      WORD index = 0;
      memcpy(&index, resource.after_hints, sizeof index);
      if (!LinkOfIndex(state->note, index, noteLink))
        return NOERROR;
    }
    AnswerNoteLink(noteLink, id, answer);
  } else {
    const size_t rest = resource.after_length > linkSize ? resource.after_length - linkSize : 0;
    SetScratch(answer, resource.after_hints + (rest != 0 ? linkSize : 0),
               rest < resource.length1 ? rest : resource.length1);
  }
  state->found = 1;
  return NOERROR;
}

/* Action 15: the URL of the first URL hotspot or URL resource, or a part
 * of the first note link for the other link ids. */
STATUS QueryLink(const char* record, WORD signature, DWORD length, chunk_process_state* state) {
  if (state->found != 0)
    return NOERROR;
  if (state->p1 != PROP_LINKURL)
    return QueryLinkPart(record, signature, length, state);
  char* answer = state->session->scratch_third;
  hotspot_fields hotspot;
  if (ReadHotspot(record, signature, length, &hotspot)) {
    if (hotspot.type == kHotspotUrl && (hotspot.flags & kHotspotUrlData) != 0) {
      SetScratch(answer, hotspot.data, hotspot.data_length);
      state->found = 1;
    }
    return NOERROR;
  }
  resource_fields resource;
  if (ReadResource(record, signature, length, &resource) && resource.type == kResourceUrl) {
    SetScratch(answer, resource.after_hints,
               resource.length1 < resource.after_length ? resource.length1
                                                        : resource.after_length);
    state->found = 1;
  }
  return NOERROR;
}

/* ---- fonts and paragraph styles ---- */

STATUS QueryFont(const char* record, WORD signature, DWORD length, chunk_record_output* output,
                 chunk_process_state* state) {
  if (state->found != 0)
    return NOERROR;
  if (!IsTextRun(signature) && !IsTextEffect(signature) &&
      !IsBeginOf(record, signature, length, SIG_CD_TEXT))
    return NOERROR;
  output->length = 0;
  return ProcessTextStream(record, signature, length, state);
}

/* The paragraph definition a reference names: the nearest definition of
 * its PABID before the current record. */
const record_storage* DefinitionBefore(const record_storage* node, WORD pabid) {
  for (node = node != nullptr ? node->previous : nullptr; node != nullptr; node = node->previous) {
    WORD id = 0;
    if (node->signature == SIG_CD_PABDEFINITION &&
        ReadRecordWord(node->data, node->length, offsetof(CDPABDEFINITION, PABID), &id) &&
        id == pabid)
      return node;
  }
  return nullptr;
}

STATUS QueryParagraphStyle(const char* record, WORD signature, DWORD length,
                           chunk_process_state* state) {
  if (state->found != 0)
    return NOERROR;
  // The dump reads a whole definition area: a shorter record reads as
  // zeroes beyond its end.
  _CDPABDEFEXT definition = {};
  const char* source = nullptr;
  DWORD sourceLength = 0;
  if (signature == SIG_CD_PABDEFINITION) {
    source = record;
    sourceLength = length;
  } else if (signature == SIG_CD_PABREFERENCE) {
    WORD pabid = 0;
    if (!ReadRecordWord(record, length, offsetof(CDPABREFERENCE, PABID), &pabid))
      return NOERROR;
    if (const record_storage* found = DefinitionBefore(state->current_record, pabid)) {
      source = found->data;
      sourceLength = found->length;
    } else {
      source = reinterpret_cast<const char*>(CurrentDefinition(state));
      sourceLength = sizeof definition;
    }
  } else {
    return NOERROR;
  }
  memcpy(&definition, source, sourceLength < sizeof definition ? sourceLength : sizeof definition);
  char* answer = state->session->scratch_third;
  answer[0] = '\0';
  DumpParagraph(0, &definition, answer, state->p2);
  state->found = 1;
  return NOERROR;
}

/* ---- margins ---- */

/* Action 36: the widest right margin and the narrowest left margin of the
 * chunk's cells and paragraph definitions; the stop prints the answer. */
STATUS MeasureMargins(const char* record, WORD signature, DWORD length,
                      chunk_process_state* state) {
  WORD left = 0;
  WORD right = 0;
  if (IsTableCell(signature)) {
    if (!ReadRecordWord(record, length, offsetof(CDTABLECELL, LeftMargin), &left) ||
        !ReadRecordWord(record, length, offsetof(CDTABLECELL, RightMargin), &right))
      return NOERROR;
  } else if (signature == SIG_CD_PABDEFINITION) {
    if (!ReadRecordWord(record, length, offsetof(CDPABDEFINITION, LeftMargin), &left) ||
        !ReadRecordWord(record, length, offsetof(CDPABDEFINITION, RightMargin), &right))
      return NOERROR;
  } else {
    return NOERROR;
  }
  if (state->measured_right == 0 || state->measured_right < right)
    state->measured_right = right;
  // Measured once, a margin of 0 is a minimum like any other.
  if (state->measured_left_set == 0 || state->measured_left > left)
    state->measured_left = left;
  state->measured_left_set = 1;
  return NOERROR;
}

/* ---- graphics ---- */

struct image_size {
  WORD width = 0;
  WORD height = 0;
};

/* The size a bitmap header, image header or (through its records) image
 * segment gives; false for other records. */
bool ImageSize(const char* record, WORD signature, DWORD length, chunk_process_state* state,
               image_size* size) {
  if (signature == SIG_CD_BITMAPHEADER)
    return ReadRecordWord(record, length, offsetof(CDBITMAPHEADER, Width), &size->width) &&
           ReadRecordWord(record, length, offsetof(CDBITMAPHEADER, Height), &size->height);
  if (signature == SIG_CD_IMAGEHEADER)
    return ReadRecordWord(record, length, offsetof(CDIMAGEHEADER, Width), &size->width) &&
           ReadRecordWord(record, length, offsetof(CDIMAGEHEADER, Height), &size->height);
  if (signature == SIG_CD_IMAGESEGMENT)
    return GetDimensionsFromRecords(state->current_record, &size->width, &size->height) ==
           NOERROR;
  return false;
}

struct graphic_fields {
  WORD width = 0;
  WORD height = 0;
  WORD resize = 0;
  BYTE flags = 0;
};

bool ReadGraphic(const char* record, WORD signature, DWORD length, graphic_fields* graphic) {
  return signature == SIG_CD_GRAPHIC &&
         ReadRecordWord(record, length, offsetof(CDGRAPHIC, DestWidth), &graphic->width) &&
         ReadRecordWord(record, length, offsetof(CDGRAPHIC, DestHeight), &graphic->height) &&
         ReadRecordWord(record, length, offsetof(CDGRAPHIC, Resize), &graphic->resize) &&
         ReadRecordByte(record, length, offsetof(CDGRAPHIC, Flags), &graphic->flags);
}

constexpr BYTE kGraphicInPixels = 0x01;

void FormatGraphicLength(const graphic_fields& graphic, WORD value, char* answer) {
  if ((graphic.flags & kGraphicInPixels) != 0)
    snprintf(answer, VELKO_SCRATCH_TEXT_SIZE, "%ld", static_cast<long>(value));
  else
    snprintf(answer, VELKO_SCRATCH_TEXT_SIZE, "%5.3f", value / 1440.0);
}

void AnswerNumber(WORD value, char* answer) {
  snprintf(answer, VELKO_SCRATCH_TEXT_SIZE, "%ld", static_cast<long>(value));
}

/* Actions 29, 31, 52 and 53: the first graphic record that answers. */
STATUS QueryGraphicSize(const char* record, WORD signature, DWORD length,
                        chunk_process_state* state) {
  if (state->found != 0)
    return NOERROR;
  LSXLsiSession* session = state->session;
  char* third = session->scratch_third;
  graphic_fields graphic;
  if (ReadGraphic(record, signature, length, &graphic)) {
    switch (state->action) {
    case ACTION_GET_GRAPHIC_HEIGHT:
      if (graphic.resize != 0) {
        FormatGraphicLength(graphic, graphic.height, third);
        state->found = graphic.height != 0 ? 1 : 0;
      }
      break;
    case ACTION_GET_GRAPHIC_WIDTH:
      FormatGraphicLength(graphic, graphic.width, third);
      state->found = graphic.width != 0 ? 1 : 0;
      break;
    case ACTION_GET_GRAPHIC_UNIT:
      if (graphic.resize != 0 && graphic.height != 0) {
        SetScratchText(session->scratch_first,
                       (graphic.flags & kGraphicInPixels) != 0 ? "pixels" : "inches");
        state->found = 1;
      }
      break;
    default:
      break;
    }
    return NOERROR;
  }

  image_size size;
  if (!ImageSize(record, signature, length, state, &size))
    return NOERROR;
  // A bitmap header answers its width even when it is 0; an image header
  // answers only sizes that are set; a segment's size comes from its data.
  const bool segment = signature == SIG_CD_IMAGESEGMENT;
  switch (state->action) {
  case ACTION_GET_GRAPHIC_HEIGHT:
    if (size.height != 0 || segment) {
      AnswerNumber(size.height, third);
      state->found = 1;
    }
    break;
  case ACTION_GET_GRAPHIC_WIDTH:
    if (size.width != 0 || segment || signature == SIG_CD_BITMAPHEADER) {
      AnswerNumber(size.width, third);
      state->found = 1;
    }
    break;
  case ACTION_GET_GRAPHIC_RATIO:
    if (size.width != 0 && size.height != 0) {
      snprintf(third, VELKO_SCRATCH_TEXT_SIZE, "%5.4f",
               static_cast<double>(size.width) / size.height);
      state->found = 1;
    }
    break;
  case ACTION_GET_GRAPHIC_UNIT:
    if (size.height != 0 || segment) {
      SetScratchText(session->scratch_first, "pixels");
      state->found = 1;
    }
    break;
  default:
    break;
  }
  return NOERROR;
}

/* The first record from `node` on that one of the signatures' tests
 * accepts; null when none does. */
template <typename Stop>
const record_storage* SearchForward(const record_storage* node, Stop stop) {
  for (; node != nullptr; node = node->next) {
    if (stop(node))
      return node;
  }
  return nullptr;
}

bool ReadNodeResource(const record_storage* node, resource_fields* resource) {
  return node != nullptr && ReadResource(node->data, node->signature, node->length, resource);
}

/* An image header whose data is held elsewhere (a shared image). */
bool IsImageReference(const record_storage* node) {
  DWORD segments = 0;
  return node != nullptr && node->signature == SIG_CD_IMAGEHEADER &&
         ReadRecordDword(node->data, node->length, offsetof(CDIMAGEHEADER, SegCount), &segments) &&
         segments == 0;
}

STATUS QueryGraphicFormat(const char* record, WORD signature, DWORD length,
                          chunk_process_state* state) {
  if (state->found != 0)
    return NOERROR;
  char* answer = state->session->scratch_first;
  if (signature == SIG_CD_BITMAPHEADER) {
    SetScratchText(answer, "Notes Bitmap");
    state->found = 1;
    return NOERROR;
  }
  WORD imageType = 0;
  if (signature != SIG_CD_IMAGEHEADER ||
      !ReadRecordWord(record, length, offsetof(CDIMAGEHEADER, ImageType), &imageType))
    return NOERROR;
  const bool jpeg = imageType == 2;
  SetScratchText(answer, jpeg ? "JPEG" : "GIF");
  state->found = 1;
  if (!IsImageReference(state->current_record))
    return NOERROR;
  const record_storage* end = SearchForward(state->current_record->next, [](const auto* node) {
    return IsTextRun(node->signature) || node->signature == SIG_CD_HOTSPOTEND ||
           IsResource(node->signature);
  });
  resource_fields resource;
  if (!ReadNodeResource(end, &resource) || !IsImageResource(resource))
    return NOERROR;
  if ((resource.flags & kResourceFormula) != 0)
    SetScratchText(answer, jpeg ? "JPEG Image Resource (formula)" : "GIF Image Resource (formula)");
  else
    SetScratchText(answer, jpeg ? "JPEG Image Resource" : "GIF Image Resource");
  return NOERROR;
}

STATUS QueryGraphicOffset(WORD signature, chunk_process_state* state) {
  const record_storage* graphic = state->current_record;
  if (state->found != 0 || signature != SIG_CD_GRAPHIC || graphic == nullptr ||
      graphic->SideData() == nullptr)
    return NOERROR;
  char* answer = state->session->scratch_first;
  const record_storage* next = graphic->next;
  const record_storage* afterNext = next != nullptr ? next->next : nullptr;
  const record_storage* from = nullptr;
  if (IsImageReference(next))
    from = afterNext;
  else if (IsImageReference(afterNext))
    from = afterNext->next;
  const record_storage* end = SearchForward(from, [](const auto* node) {
    return IsTextRun(node->signature) || IsResource(node->signature);
  });
  resource_fields resource;
  if (ReadNodeResource(end, &resource) && IsImageResource(resource) &&
      (resource.flags & kResourceFormula) == 0) {
    // The element's name lies behind an 8-byte database reference.
    constexpr size_t kDatabaseReference = 8;
    const size_t rest = resource.after_length > kDatabaseReference
                            ? resource.after_length - kDatabaseReference
                            : 0;
    SetScratch(answer, resource.after_hints + (rest != 0 ? kDatabaseReference : 0),
               rest < resource.length1 ? rest : resource.length1);
    state->found = 1;
    return NOERROR;
  }
  // The stored position of the image data: the bitmap header's, or the
  // graphic's own.
  const record_storage* header = SearchForward(afterNext, [](const auto* node) {
    return IsTextRun(node->signature) || node->signature == SIG_CD_BITMAPHEADER;
  });
  if (header == nullptr || header->signature != SIG_CD_BITMAPHEADER ||
      header->SideData() == nullptr)
    header = graphic;
  const auto* position = static_cast<const position_side_data*>(header->SideData());
  snprintf(answer, VELKO_SCRATCH_TEXT_SIZE, "%d.%lx", position->item_number,
           static_cast<unsigned long>(position->offset));
  state->found = 1;
  return NOERROR;
}

STATUS QueryGraphicStorage(WORD signature, chunk_process_state* state) {
  if (state->found != 0 || signature != SIG_CD_GRAPHIC || state->current_record == nullptr)
    return NOERROR;
  const record_storage* found = SearchForward(state->current_record->next, [](const auto* node) {
    const WORD s = node->signature;
    return s == SIG_CD_STORAGELINK || s == SIG_CD_IMAGESEGMENT || s == SIG_CD_BITMAPSEGMENT ||
           IsTextRun(s) || s == SIG_CD_HOTSPOTEND || IsResource(s);
  });
  const char* answer = "Unknown";
  resource_fields resource;
  if (found == nullptr || IsTextRun(found->signature) || found->signature == SIG_CD_HOTSPOTEND) {
    answer = "Undetermined";
  } else if (found->signature == SIG_CD_IMAGESEGMENT ||
             found->signature == SIG_CD_BITMAPSEGMENT) {
    answer = "Inline";
  } else if (found->signature == SIG_CD_STORAGELINK) {
    WORD storageType = 0;
    ReadRecordWord(found->data, found->length, offsetof(CDSTORAGELINK, StorageType),
                   &storageType);
    answer = storageType == kStorageAttachment ? "Storage Link Attachment"
             : storageType == kStorageUrl      ? "Storage Link URL"
                                               : "Storage Link";
  } else if (ReadNodeResource(found, &resource) && IsImageResource(resource)) {
    answer = (resource.flags & kResourceFormula) != 0 ? "Image Resource (formula)"
                                                      : "Image Resource";
  }
  SetScratchText(state->session->scratch_first, answer);
  state->found = 1;
  return NOERROR;
}

/* ---- answers where the chunk opens ---- */

/* Whether the chunk lies inside pass-through HTML: from its first record
 * back, a CDHTMLBEGIN met before any CDHTMLEND. */
STATUS AnswerPassthru(chunk_process_state* state) {
  bool inside = false;
  for (const record_storage* node = state->current_record; node != nullptr;
       node = node->previous) {
    if (node->signature == SIG_CD_HTMLBEGIN) {
      inside = true;
      break;
    }
    if (node->signature == SIG_CD_HTMLEND)
      break;
  }
  SetScratchText(state->session->scratch_first, inside ? "TRUE" : "FALSE");
  return VELKO_ERR_ITEM_NOT_FOUND; // the answer is complete
}

constexpr BYTE kCellMergedLeft = 0x04;
constexpr BYTE kCellMergedAbove = 0x08;

struct cell_fields {
  BYTE row = 0;
  BYTE column = 0;
  BYTE flags = 0;
  BYTE row_span = 0;
  BYTE column_span = 0;
};

bool ReadCell(const char* record, WORD signature, DWORD length, cell_fields* cell) {
  return IsTableCell(signature) &&
         ReadRecordByte(record, length, offsetof(CDTABLECELL, Row), &cell->row) &&
         ReadRecordByte(record, length, offsetof(CDTABLECELL, Column), &cell->column) &&
         ReadRecordByte(record, length, offsetof(CDTABLECELL, Flags), &cell->flags) &&
         ReadRecordByte(record, length, offsetof(CDTABLECELL, RowSpan), &cell->row_span) &&
         ReadRecordByte(record, length, offsetof(CDTABLECELL, ColumnSpan), &cell->column_span);
}

/* The row and column (from 1) of the merged cell that covers the current
 * cell; 0 and 0 when none does. RetrieveTargetCell answers in the action's
 * parameters, which are kept around it. */
STATUS CoveringCell(chunk_process_state* state, WORD* row, WORD* column) {
  const WORD saved[4] = {state->p1, state->p2, state->p3, state->p4};
  const STATUS status = RetrieveTargetCell(state->record_counter, state);
  *row = state->p1;
  *column = state->p2;
  state->p1 = saved[0];
  state->p2 = saved[1];
  state->p3 = saved[2];
  state->p4 = saved[3];
  return status;
}

STATUS AnswerCell(const char* record, WORD signature, DWORD length, chunk_process_state* state) {
  cell_fields cell;
  if (!ReadCell(record, signature, length, &cell))
    return NOERROR;
  char* answer = state->session->scratch_third;
  const bool coveredLeft = (cell.flags & kCellMergedLeft) != 0;
  const bool coveredAbove = (cell.flags & kCellMergedAbove) != 0;
  // A covered cell answers the position of the merged cell over it: for
  // its column when covered from either side, for its row from above.
  int row = cell.row + 1;
  int column = cell.column + 1;
  if ((state->action == PROP_TARGETCOLUMN && (coveredLeft || coveredAbove)) ||
      (state->action == PROP_TARGETROW && coveredAbove)) {
    WORD coveringRow = 0;
    WORD coveringColumn = 0;
    if (STATUS status = CoveringCell(state, &coveringRow, &coveringColumn); status != NOERROR)
      return status;
    row = coveringRow;
    column = coveringColumn;
  }
  switch (state->action) {
  case ACTION_CELL_IS_MERGED: {
    const bool merged = coveredLeft || coveredAbove || cell.row_span >= 2 || cell.column_span >= 2;
    SetScratchText(answer, merged ? "TRUE" : "FALSE");
    break;
  }
  case PROP_TARGETCOLUMN:
    snprintf(answer, VELKO_SCRATCH_TEXT_SIZE, "%d", column);
    break;
  case PROP_TARGETROW:
    snprintf(answer, VELKO_SCRATCH_TEXT_SIZE, "%d", row);
    break;
  default:
    break;
  }
  return NOERROR;
}

} // namespace

STATUS ProcessPropertyAction(const char* record, WORD signature, DWORD length,
                             chunk_record_output* output, chunk_process_state* state) {
  switch (state->action) {
  case ACTION_GET_SECTION_TITLE:
    return QuerySectionTitle(record, signature, length, state);
  case ACTION_GET_FILE_NAMES:
    return QueryFileNames(record, signature, length, state);
  case ACTION_GET_FONT:
    return QueryFont(record, signature, length, output, state);
  case ACTION_GET_PARAGRAPH_STYLE:
    return QueryParagraphStyle(record, signature, length, state);
  case ACTION_GET_LINK:
    return QueryLink(record, signature, length, state);
  case ACTION_GET_ANCHOR_TEXT:
    return QueryAnchorText(record, signature, length, state);
  case ACTION_GET_HOTSPOT_BORDER:
  case ACTION_GET_TABLE_FIT_TO_WINDOW:
  case ACTION_GET_IMAGE_IN_PIXELS:
    return QueryFlags(record, signature, length, state);
  case ACTION_GET_ACTION_FORMULA:
    return QueryActionFormula(record, signature, length, state);
  case ACTION_GET_BUTTON_TEXT:
    return QueryButtonText(record, signature, length, state);
  case ACTION_GET_HIDE_FORMULA:
    return QueryHideFormula(record, signature, length, state);
  case ACTION_GET_PABID:
    return QueryPabid(record, signature, length, state);
  case ACTION_GET_STYLE_NAME:
    return signature == SIG_CD_STYLENAME
               ? QueryRecordName(record, length, offsetof(CDSTYLENAME, StyleName), state)
               : NOERROR;
  case ACTION_GET_ROW_LABEL:
    return signature == SIG_CD_TABLELABEL
               ? QueryRecordName(record, length, offsetof(CDTABLELABEL, Label), state)
               : NOERROR;
  case ACTION_GET_TARGET_FRAME:
    return QueryTargetFrame(record, signature, length, state);
  case ACTION_GET_GRAPHIC_HEIGHT:
  case ACTION_GET_GRAPHIC_WIDTH:
  case ACTION_GET_GRAPHIC_RATIO:
  case ACTION_GET_GRAPHIC_UNIT:
    return QueryGraphicSize(record, signature, length, state);
  case ACTION_GET_MARGINS:
    return MeasureMargins(record, signature, length, state);
  case ACTION_GET_GRAPHIC_FORMAT:
    return QueryGraphicFormat(record, signature, length, state);
  case ACTION_GET_GRAPHIC_OFFSET:
    return QueryGraphicOffset(signature, state);
  case ACTION_GET_FILE_SIZE:
    return QueryFileSize(record, signature, length, state);
  case ACTION_GET_GRAPHIC_STORAGE:
    return QueryGraphicStorage(signature, state);
  default:
    return ProcessPropertySetAction(record, signature, length, output, state);
  }
}

bool IsPropertyEdgeQuery(WORD action) {
  switch (action) {
  case ACTION_GET_PASSTHRU_HTML:
  case PROP_RECORDTYPE:
  case ACTION_CELL_IS_MERGED:
  case PROP_TARGETCOLUMN:
  case PROP_TARGETROW:
  case PROP_INSIDEHOTSPOT:
  case ACTION_GET_MARGINS:
    return true;
  default:
    return false;
  }
}

STATUS PropertyQueryAtChunkStart(const char* record, WORD signature, DWORD length,
                                 chunk_process_state* state) {
  _internal_SESS* session = state->session->internal;
  switch (state->action) {
  case ACTION_GET_PASSTHRU_HTML:
    return AnswerPassthru(state);
  case PROP_RECORDTYPE:
    session->property_word_b = signature;
    return NOERROR;
  case ACTION_CELL_IS_MERGED:
  case PROP_TARGETCOLUMN:
  case PROP_TARGETROW:
    return AnswerCell(record, signature, length, state);
  case PROP_INSIDEHOTSPOT:
    if (state->depth_hotspot > 0)
      ++session->property_word_a;
    return NOERROR;
  default:
    return NOERROR;
  }
}

STATUS PropertyQueryAtChunkStop(chunk_process_state* state) {
  if (state->action != ACTION_GET_MARGINS)
    return NOERROR;
  const WORD margin = state->p1 == PROP_MAXRIGHTMARGIN ? state->measured_right
                                                       : state->measured_left;
  snprintf(state->session->scratch_third, VELKO_SCRATCH_TEXT_SIZE, "%5.3f", margin / 1440.0);
  return NOERROR;
}
