/*
 * The append actions where a chunk opens or closes: the records an append
 * inserts before the chunk (when the chunk's append_position is 0) or
 * after it (any other value). Text, new lines, tabs, anchors and page
 * breaks are built here from the item's default text record and the
 * walk's paragraph templates; tables, layers, hotspots, links, storage
 * links, resources and attachments are written by the record generators,
 * whose small state blocks are filled from the operation's state.
 *
 * Not here: the actions whose work is not built yet stay on the pending
 * list (engine/pending.cpp) and never reach these steps.
 */
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/attachment_batch.h"
#include "engine/chunk_state.h"
#include "engine/process_state.h"
#include "engine/record_fields.h"
#include "engine/retrieve.h"
#include "engine/generator_states.h"
#include "engine/services.h"
#include "engine/walk.h"
#include "generate/field.h"
#include "generate/hotspot.h"
#include "generate/links.h"
#include "generate/structure_generators.h"
#include "host/osenv.h"
#include "store/emitter.h"
#include "store/owned_text.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "velko/property_string.h"

namespace {

/* AppendNewLines and AppendTabs write at most this many characters. */
constexpr WORD kMostBreakCharacters = 32;

/* The page-break paragraph definition. */
constexpr WORD kPageBreakMargin = 1440;
constexpr int16_t kPageBreakTab = 720;
constexpr WORD kPageBreakFlags = 0x0101;

/* The flag of a paragraph definition hidden by a formula. */
constexpr WORD kHiddenByFormula = 0x0800;

/* Attachment names tried before the attachment is refused. */
constexpr int kAttachmentNameTries = 1000;
constexpr size_t kDisplayNameLength = 255;

#define RETURN_IF_FAILED(expression)                                                               \
  do {                                                                                             \
    if (const STATUS failed_ = (expression); failed_ != NOERROR)                                   \
      return failed_;                                                                              \
  } while (0)

bool AtStart(const chunk_process_state* state) {
  return state->chunk != nullptr && state->chunk->append_position == 0;
}

STATUS EmitDefaultText(const char* text, DWORD length, chunk_process_state* state) {
  CDTEXT header = DefaultTextHeader(state);
  _internal_SESS* session = state->session->internal;
  ApplyFontOverride(&header.FontID, &session->override_color, &session->override_color_flags,
                    &state->fonts[0], state->font_masks[0].given);
  return GenerateCDText(text, static_cast<int>(length), &header, &state->gen);
}

STATUS EmitEmptyText(chunk_process_state* state) { return EmitDefaultText("", 0, state); }

/* The paragraph and empty text that come first when the chunk begins at
 * the item's first record, so that the inserted structure is not the
 * item's first record. */
STATUS EmitFirstRecordParagraph(chunk_process_state* state) {
  if (state->record_counter != 1)
    return NOERROR;
  RETURN_IF_FAILED(EmitParagraph(state));
  return EmitEmptyText(state);
}

/* A PABID above every one given out in the item or by this operation, into
 * *pabid; refused when it would pass 65535. */
STATUS FreshPabid(chunk_process_state* state, WORD* pabid) {
  SetLastPABID(state);
  WORD highest = state->last_pabid;
  if (state->gen.current_pabid > highest)
    highest = state->gen.current_pabid;
  if (highest == 0xFFFF)
    return RefuseParagraphIdPastLargest(&state->gen);
  state->last_pabid = static_cast<WORD>(highest + 1);
  *pabid = state->last_pabid;
  return NOERROR;
}

/* ---- anchors, line breaks, tabs ---- */

STATUS EmitAnchor(chunk_process_state* state) {
  const char* name = state->s1 != nullptr ? state->s1 : "";
  const size_t nameLength = strlen(name);
  WORD length = state->p2;
  if (length == 0 || length > nameLength)
    length = static_cast<WORD>(nameLength < 0xFFFF ? nameLength : 0xFFFF);
  const DWORD recordLength = sizeof(CDANCHOR) + length;
  if (recordLength > kLargestEmittedRecord)
    return kServiceNotAvailable;
  std::string record(recordLength, '\0');
  CDANCHOR header = {};
  header.Header.Signature = SIG_CD_ANCHOR;
  header.Header.Length = recordLength;
  header.NameLength = length;
  memcpy(record.data(), &header, sizeof header);
  memcpy(record.data() + sizeof header, name, length);
  return CopyCDUpdated(record.data(), SIG_CD_ANCHOR, recordLength, &state->gen);
}

STATUS AppendAnchor(bool start, chunk_process_state* state) {
  if (start) {
    RETURN_IF_FAILED(EmitAnchor(state));
    return EmitEmptyText(state);
  }
  RETURN_IF_FAILED(EmitEmptyText(state));
  return EmitAnchor(state);
}

STATUS AppendBreakCharacters(char character, bool paragraph, chunk_process_state* state) {
  const WORD count = state->p1 < kMostBreakCharacters ? state->p1 : kMostBreakCharacters;
  char text[kMostBreakCharacters];
  memset(text, character, sizeof text);
  RETURN_IF_FAILED(EmitDefaultText(text, count, state));
  if (!paragraph || state->p2 == 0)
    return NOERROR;
  RETURN_IF_FAILED(EmitParagraph(state));
  return EmitReference(state);
}

/* ---- text ---- */

bool IsTable(WORD signature, bool begin) {
  return begin ? (signature == SIG_CD_TABLEBEGIN || signature == SIG_CD_NESTEDTABLEBEGIN)
               : (signature == SIG_CD_TABLEEND || signature == SIG_CD_NESTEDTABLEEND);
}

bool IsHotspotEdge(WORD signature) {
  return signature == SIG_CD_HOTSPOTBEGIN || signature == SIG_CD_V4HOTSPOTBEGIN ||
         signature == SIG_CD_HOTSPOTEND || signature == SIG_CD_V4HOTSPOTEND;
}

bool EndsOneOf(const char* data, WORD signature, DWORD length, std::initializer_list<WORD> list) {
  if (signature != SIG_CD_END)
    return false;
  const WORD bracketed = BracketedSignature(data, signature, length);
  for (WORD wanted : list) {
    if (bracketed == wanted)
      return true;
  }
  return false;
}

/* Before the chunk's first record: text may stand there without a
 * paragraph of its own when the first record continues a text line. */
bool StartKeepsLine(const char* data, WORD signature, DWORD length) {
  if (signature == SIG_CD_TEXT || IsHotspotEdge(signature))
    return true;
  return EndsOneOf(data, signature, length,
                   {SIG_CD_TEXT, SIG_CD_V4HOTSPOTBEGIN, SIG_CD_HOTSPOTBEGIN, SIG_CD_PRETABLEBEGIN,
                    SIG_CD_TABLEBEGIN});
}

/* After the chunk's last record: the same for the text that follows it. */
bool StopKeepsLine(const record_storage* last) {
  if (last == nullptr)
    return false;
  const WORD signature = last->signature;
  if (signature == SIG_CD_TEXT || signature == SIG_CD_TABLECELL ||
      signature == SIG_CD_NESTEDTABLECELL || IsTable(signature, false) ||
      IsHotspotEdge(signature))
    return true;
  return EndsOneOf(last->data, signature, last->length,
                   {SIG_CD_TEXT, SIG_CD_TABLEBEGIN, SIG_CD_TABLEEND, SIG_CD_V4HOTSPOTBEGIN,
                    SIG_CD_HOTSPOTBEGIN, SIG_CD_HOTSPOTEND, SIG_CD_V4HOTSPOTEND});
}

const record_storage* LastOutputRecord(const chunk_process_state* state) {
  const body_context* output = StateItem(state)->internal->output;
  return output != nullptr ? output->last_written : nullptr;
}

/* The caller's text in the default font; a colour the font override
 * sets wraps it with its colour record. No text is the empty text,
 * whatever length comes with it. */
STATUS EmitCallerText(chunk_process_state* state) {
  const char* text = state->s1 != nullptr ? state->s1 : "";
  const DWORD length = state->s1 == nullptr ? 0
                       : state->p2 != 0     ? state->p2
                                            : static_cast<DWORD>(strlen(text));
  if (length + sizeof(CDTEXT) > kBodyBufferCapacity)
    return kServiceNotAvailable;
  _internal_SESS* session = state->session->internal;
  session->override_color = 0;
  session->override_color_flags = 0;
  CDTEXT header = DefaultTextHeader(state);
  ApplyFontOverride(&header.FontID, &session->override_color, &session->override_color_flags,
                    &state->fonts[0], state->font_masks[0].given);
  const bool colored = session->override_color != 0;
  if (colored)
    RETURN_IF_FAILED(GenerateCDBegin(SIG_CD_TEXT, 0, &state->gen));
  RETURN_IF_FAILED(GenerateCDText(text, static_cast<int>(length), &header, &state->gen));
  if (!colored)
    return NOERROR;
  RETURN_IF_FAILED(GenerateCDColorValue(static_cast<BYTE>(SIG_CD_COLOR), session->override_color,
                                        session->override_color_flags, &state->gen));
  return GenerateCDEnd(SIG_CD_TEXT, 0, &state->gen);
}

STATUS AppendTextAtStart(const char* data, WORD signature, DWORD length,
                         chunk_process_state* state) {
  RETURN_IF_FAILED(EmitCallerText(state));
  if (StartKeepsLine(data, signature, length))
    return NOERROR;
  if (IsTable(signature, true) || IsTable(signature, false))
    RETURN_IF_FAILED(EmitParagraph(state));
  return EmitReference(state);
}

STATUS AppendTextAtStop(chunk_process_state* state) {
  const record_storage* last = LastOutputRecord(state);
  if (!StopKeepsLine(last)) {
    if (last != nullptr && IsTable(last->signature, true))
      RETURN_IF_FAILED(EmitParagraph(state));
    RETURN_IF_FAILED(EmitReference(state));
  }
  return EmitCallerText(state);
}

/* ---- page break ---- */

STATUS AppendPageBreak(chunk_process_state* state) {
  CDPABDEFINITION definition = {};
  definition.Header.Signature = SIG_CD_PABDEFINITION;
  definition.Header.Length = sizeof definition;
  WORD pabid = 0;
  RETURN_IF_FAILED(FreshPabid(state, &pabid));
  definition.PABID = pabid;
  definition.LeftMargin = kPageBreakMargin;
  definition.FirstLineLeftMargin = kPageBreakMargin;
  definition.Tab[0] = kPageBreakTab;
  definition.Flags = kPageBreakFlags;
  CDPABREFERENCE reference = {};
  reference.Header.Signature = static_cast<BYTE>(SIG_CD_PABREFERENCE);
  reference.Header.Length = sizeof reference;
  reference.PABID = definition.PABID;

  RETURN_IF_FAILED(EmitParagraph(state));
  RETURN_IF_FAILED(
      CopyCDUpdated(&definition, SIG_CD_PABDEFINITION, sizeof definition, &state->gen));
  RETURN_IF_FAILED(
      CopyCDUpdated(&reference, SIG_CD_PABREFERENCE, sizeof reference, &state->gen));
  RETURN_IF_FAILED(EmitEmptyText(state));
  return EmitParagraph(state);
}

/* ---- paragraphs ---- */

WORD StoredDefinitionLength(const _CDPABDEFEXT& definition) {
  const WORD length = definition.Definition.Header.Length;
  if (length < sizeof(CDPABDEFINITION) - 2 || length > sizeof(_CDPABDEFEXT))
    return sizeof(_CDPABDEFEXT);
  return length;
}

/* The hide record of the definition: its PABID and the compiled formula
 * the session's result text holds, padded to an even length. */
STATUS EmitParagraphHide(WORD pabid, chunk_process_state* state) {
  const WORD formulaLength = state->session->result_length;
  const DWORD length = sizeof(CDPABHIDE) + formulaLength;
  std::string record(length + (length & 1), '\0');
  CDPABHIDE header = {};
  header.Header.Signature = SIG_CD_PABHIDE;
  header.Header.Length = static_cast<DWORD>(record.size());
  header.PABID = pabid;
  memcpy(record.data(), &header, sizeof header);
  memcpy(record.data() + sizeof header, state->session->result_text, formulaLength);
  return CopyCDUpdated(record.data(), SIG_CD_PABHIDE, static_cast<DWORD>(record.size()),
                       &state->gen);
}

/* A new paragraph with a definition of its own: the current definition
 * changed by the operation's paragraph spec under a fresh id, hidden by
 * the compiled formula the session holds, then its reference and an empty
 * text run for the text the next operations append. */
STATUS AppendParagraph(bool start, chunk_process_state* state) {
  if (!start || state->record_counter > 1)
    RETURN_IF_FAILED(EmitParagraph(state));
  _CDPABDEFEXT definition;
  memcpy(&definition, CurrentDefinition(state), sizeof definition);
  definition.Definition.Header.Signature = SIG_CD_PABDEFINITION;
  WORD pabid = 0;
  RETURN_IF_FAILED(FreshPabid(state, &pabid));
  definition.Definition.PABID = pabid;
  ApplyParagraphSpec(state->paragraph_style, &definition, state->set_implied_properties);
  const bool hidden = state->session->result_length != 0;
  if (hidden)
    definition.Definition.Flags |= kHiddenByFormula;
  RETURN_IF_FAILED(CopyCDUpdated(&definition, SIG_CD_PABDEFINITION,
                                 StoredDefinitionLength(definition), &state->gen));
  if (hidden) {
    RETURN_IF_FAILED(EmitParagraphHide(pabid, state));
    state->found_pabid = pabid;
  }
  CDPABREFERENCE reference = CurrentReference(state);
  reference.PABID = pabid;
  RETURN_IF_FAILED(CopyCDUpdated(&reference, SIG_CD_PABREFERENCE, sizeof reference, &state->gen));
  RETURN_IF_FAILED(EmitEmptyText(state));
  if (start && state->record_counter == 1)
    return EmitParagraph(state);
  return NOERROR;
}

/* ---- the generators ---- */

STATUS AppendTable(bool start, chunk_process_state* state) {
  if (start)
    RETURN_IF_FAILED(EmitFirstRecordParagraph(state));
  structure_generation generation = StructureState(state);
  generation.properties = state->s1;
  const STATUS status = GenerateTable(state->p1, state->p2, &generation);
  TakeStructureState(generation, state);
  return status;
}

STATUS AppendLayer(bool start, chunk_process_state* state) {
  if (start)
    RETURN_IF_FAILED(EmitFirstRecordParagraph(state));
  structure_generation generation = StructureState(state);
  const STATUS status = GenerateLayer(state->p1, &generation, state->s1, state->s2);
  TakeStructureState(generation, state);
  return status;
}

STATUS AppendHotspot(chunk_process_state* state) {
  const _internal_SESS* session = state->session->internal;
  hotspot_state hotspot = HotspotState(state);
  return GenerateHotspot(session->hotspot_type, session->hotspot_code_kind, state->s2, state->p4,
                         state->s1, state->p3, &hotspot);
}

STATUS AppendStorageLink(bool start, chunk_process_state* state) {
  if (start)
    RETURN_IF_FAILED(EmitFirstRecordParagraph(state));
  hotspot_state hotspot = HotspotState(state);
  return GenerateStorageLink(state->p1, state->s1, state->s2, &hotspot);
}

STATUS AppendResource(bool start, chunk_process_state* state) {
  if (start)
    RETURN_IF_FAILED(EmitFirstRecordParagraph(state));
  hotspot_state hotspot = HotspotState(state);
  /* p3 and p4 are the size asked for an image put inline. */
  return GenerateResource(state->p1, state->p2, state->s1, state->s2, 0, &hotspot, state->p3,
                          state->p4, nullptr, nullptr, nullptr, nullptr, nullptr);
}

STATUS AppendLink(chunk_process_state* state) {
  link_operation op = LinkOperation(state);
  const char* text = state->s1 != nullptr ? state->s1 : "";
  return GenerateLinkFromEventData(text, state->p1, &op);
}

STATUS AppendField(bool start, chunk_process_state* state) {
  if (start)
    RETURN_IF_FAILED(EmitFirstRecordParagraph(state));
  field_operation op;
  op.gen = &state->gen;
  op.note = StateItem(state)->note;
  const _internal_RTCHUNK* chunk = state->chunk->internal;
  for (int slot = 0; slot < kFieldBufferCount; ++slot)
    op.buffers[slot] = chunk->field_buffers[slot];
  op.event_strings = state->chunk->event_strings;
  op.event_count = 6;
  return GenerateField(state->s1, state->s2, 1, "Add", &op);
}

/* ---- chunks, items and bodies ---- */

/* The records of another chunk, item or design body copied here: the
 * found words name what is copied, the walk's place is kept across the
 * copy, and the face map of the copy is forgotten afterwards. */
STATUS AppendChunkRecords(chunk_process_state* state) {
  _internal_SESS* session = state->session->internal;
  record_storage* current = state->current_record;
  const DWORD number = state->record_counter;
  state->append_target_first = session->found_first;
  state->append_target_last = session->found_second;
  VelkoRTChunk* source = state->other_chunk != nullptr ? state->other_chunk : state->chunk;
  const STATUS status = AppendChunk(source, state, state->p1);
  state->current_record = current;
  state->record_counter = number;
  session->face_remap_count = 0;
  if (status == NOERROR)
    StateItem(state)->Modified = 1;
  return status;
}

/* ---- imports ---- */

/* The status of an HTML text that imported only in part. */
constexpr STATUS kPartialHtmlImport = 14409;
/* The chunk's secondary status after a failed import. */
constexpr WORD kImportFailed = 20014;
/* The chunk's secondary status when a CD file cannot be read or appended. */
constexpr WORD kCdFileFailed = 20032;
constexpr WORD kDefaultLineLength = 132;
constexpr long kLongestLine = 32000;
constexpr size_t kImportPathSize = 1024;
constexpr size_t kFilterNameSize = 256;

bool Given(const char* text) { return text != nullptr && text[0] != '\0'; }

bool SameTextIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (tolower(static_cast<unsigned char>(*a)) != tolower(static_cast<unsigned char>(*b)))
      return false;
  }
  return *a == *b;
}

/* The extension from the last '.' of s2, else of s1 ("" when neither has
 * one). */
const char* ImportExtension(const chunk_process_state* state) {
  for (const char* name : {state->s2, state->s1}) {
    if (name == nullptr)
      continue;
    if (const char* dot = strrchr(name, '.'); dot != nullptr)
      return dot;
  }
  return "";
}

WORD LineLength(const char* options) {
  char value[32] = {};
  if (ExtractProperty(options, "LineLength=", value, sizeof value) == 0)
    return kDefaultLineLength;
  const long length = strtol(value, nullptr, 10);
  return length < 1 || length > kLongestLine ? kDefaultLineLength : static_cast<WORD>(length);
}

/* The alternate text of a filtered graphic import, from the session's
 * hotspot options ("" when none). */
std::string AltText(const chunk_process_state* state) {
  char value[kFilterNameSize] = {};
  if (state->p4 == 0 ||
      ExtractProperty(state->session->internal->option_string, "AltText=", value, sizeof value) ==
          0)
    return {};
  return value;
}

STATUS EmitAltText(const std::string& text, chunk_process_state* state) {
  const DWORD length = static_cast<DWORD>(sizeof(CDALTTEXT) + text.size());
  std::string record(length, '\0');
  CDALTTEXT header = {};
  header.Header.Signature = SIG_CD_ALTTEXT;
  header.Header.Length = static_cast<WORD>(length);
  header.Length = static_cast<WORD>(text.size());
  memcpy(record.data(), &header, sizeof header);
  memcpy(record.data() + sizeof header, text.data(), text.size());
  return CopyCDUpdated(record.data(), SIG_CD_ALTTEXT, length, &state->gen);
}

/* The records of a CD file appended; when that fails the chunk's
 * secondary status says the file could not be read or appended. */
STATUS AppendCDFile(const char* path, chunk_process_state* state) {
  const STATUS status = AppendImportFile(path, &state->gen);
  if (status != NOERROR && state->secondary_status == 0)
    state->secondary_status = kCdFileFailed;
  return status;
}

/* The file through an import filter: converted to a temporary CD file,
 * read into the output and deleted; a graphic with an alternate text is
 * bracketed with it. */
STATUS ImportThroughFilter(const char* library, const char* format, chunk_process_state* state) {
  const std::string altText = AltText(state);
  if (!altText.empty())
    RETURN_IF_FAILED(GenerateCDBegin(SIG_CD_GRAPHIC, 1, &state->gen));
  char cdPath[kImportPathSize] = {};
  RETURN_IF_FAILED(ImportFile(&state->gen, state->s1, library, format, cdPath, 0, 0));
  const STATUS status = AppendCDFile(cdPath, state);
  remove(cdPath); // the temporary file goes whatever the outcome
  RETURN_IF_FAILED(status);
  if (altText.empty())
    return NOERROR;
  RETURN_IF_FAILED(EmitAltText(altText, state));
  return GenerateCDEnd(SIG_CD_GRAPHIC, 1, &state->gen);
}

STATUS ImportFileRecords(chunk_process_state* state) {
  if (state->s1 == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  const char* extension = ImportExtension(state);
  const bool builtIn = Given(state->s2) && strncasecmp(state->s2, "Velko", 5) == 0;
  if (builtIn && SameTextIgnoringCase(extension, ".txt"))
    return GenerateCDRecordsFromTextFile(state->s1, LineLength(state->s2), state);
  if (builtIn && SameTextIgnoringCase(extension, ".htm"))
    return GenerateCDRecordsFromHTMLFile(state->s1, state->s2, state);

  char library[kFilterNameSize] = {};
  char format[kFilterNameSize] = {};
  bool found = false;
  for (const char* name : {state->s2, state->s1}) {
    if (found || !Given(name))
      continue;
    std::string copy(name);
    found = DetermineImportExportDLL(state->session, copy.data(), library, format, 1, 0) != 0;
  }
  if (found)
    return ImportThroughFilter(library, format, state);
  if (SameTextIgnoringCase(extension, ".CD"))
    return AppendCDFile(state->s1, state);
  return kServiceNotAvailable;
}

void NoteFailedImport(STATUS status, chunk_process_state* state) {
  if (status != NOERROR && state->secondary_status == 0)
    state->secondary_status = kImportFailed;
}

STATUS AppendImport(chunk_process_state* state) {
  const STATUS status = ImportFileRecords(state);
  NoteFailedImport(status, state);
  return status;
}

STATUS AppendHtml(chunk_process_state* state) {
  STATUS status = NOERROR;
  switch (state->p1) {
  case 1:
    status = GenerateCDRecordsFromHTMLFile(state->s1, state->s2, state);
    break;
  case 3:
    status = GenerateCDRecordsFromHTMLInline(state->s1, 0, state->s2, state, 0, 0);
    if (status == kPartialHtmlImport)
      state->secondary_status = kPartialHtmlImport;
    break;
  case 4:
    status = GenerateCDRecordsFromHTMLBodyContext(StateItem(state)->internal->html_import,
                                                  state->s2, state);
    break;
  default:
    return NOERROR;
  }
  NoteFailedImport(status, state);
  return status;
}

/* ---- attachments ---- */

/* The part of the path after its last '\' or '/'; the path is LMBCS,
 * whose characters of several bytes may hold those bytes. */
const char* FileNamePart(const char* path) {
  const char* name = path;
  for (const char* at = path; *at != '\0';) {
    const WORD bytes = static_cast<unsigned char>(*at) < 0x20 ? CharacterBytes(at) : 1;
    if (*at == '/' || *at == '\\')
      name = at + 1;
    at += strnlen(at, bytes); // at least the byte at hand, never past the NUL
  }
  return name;
}

bool NoteHasAttachment(NOTEHANDLE note, const char* name) {
  char external[MAXPATH] = {};
  return ExternalFileNameFromInternal(note, name, external) == NOERROR;
}

/* The note's attachment names as FindAttachment compares them: ASCII
 * letters in lower case. */
std::string NameKey(std::string name) {
  for (char& c : name)
    c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return name;
}

/* The files of a batch, each as AppendAttachment attaches one with its
 * own operation, followed by the empty text run that operation's end
 * writes behind the hotspot; the note's attachment names are read once
 * and followed through a set, and each file name's and extension's
 * search for a free name resumes where it last stopped, as the batch
 * only adds attachments. */
STATUS AppendAttachmentBatch(const attachment_batch& batch, chunk_process_state* state) {
  VelkoRTItem* item = StateItem(state);
  const NOTEHANDLE note = item->note;
  std::vector<std::string> held;
  RETURN_IF_FAILED(ListAttachmentNames(note, &held));
  std::unordered_set<std::string> taken;
  for (const std::string& name : held)
    taken.insert(NameKey(name));
  std::unordered_map<std::string, int> nextTry; /* by extension */
  for (const batch_file& file : batch.files) {
    const std::string path = file.write();
    if (path.empty())
      return kServiceNotAvailable;
    const char* shown = FileNamePart(!file.name.empty() ? file.name.c_str() : path.c_str());
    const std::string display(shown, strnlen(shown, kDisplayNameLength));
    const char* dot = strrchr(path.c_str(), '.');
    const std::string extension = dot != nullptr ? dot : "";
    std::string name = display;
    if (taken.count(NameKey(name)) != 0) {
      int& tried = nextTry[extension];
      do {
        if (tried == kAttachmentNameTries)
          return kServiceNotAvailable;
        name = "Att" + std::to_string(tried++) + extension;
      } while (taken.count(NameKey(name)) != 0);
      --tried; /* the name found is tried again next time, and found taken */
    }
    hotspot_state hotspot = HotspotState(state);
    RETURN_IF_FAILED(GenerateFileHotspot(path.c_str(), name.c_str(), display.c_str(), 0,
                                         state->session->internal->option_string, &hotspot));
    taken.insert(NameKey(FileNamePart(name.c_str())));
    if (state->gen.text_state == TEXT_STATE_OTHER)
      RETURN_IF_FAILED(
          GenerateCDText("", 0, item->internal->current_text_header, &state->gen));
  }
  return NOERROR;
}

STATUS AppendAttachment(chunk_process_state* state) {
  if (const attachment_batch* batch = state->session->internal->attachment_batch;
      batch != nullptr)
    return AppendAttachmentBatch(*batch, state);
  if (state->s1 == nullptr || state->s1[0] == '\0')
    return VELKO_ERR_BAD_ARGUMENT;
  const char* shown =
      FileNamePart(state->s2 != nullptr && state->s2[0] != '\0' ? state->s2 : state->s1);
  const std::string display(shown, strnlen(shown, kDisplayNameLength));
  const char* dot = strrchr(state->s1, '.');
  const std::string extension = dot != nullptr ? dot : "";
  std::string name = display;
  const NOTEHANDLE note = StateItem(state)->note;
  int tried = 0;
  while (NoteHasAttachment(note, name.c_str())) {
    if (tried == kAttachmentNameTries)
      return kServiceNotAvailable;
    name = "Att" + std::to_string(tried++) + extension;
  }
  hotspot_state hotspot = HotspotState(state);
  return GenerateFileHotspot(state->s1, name.c_str(), display.c_str(), state->p1 != 0 ? 1 : 0,
                             state->session->internal->option_string, &hotspot);
}

STATUS AppendAt(bool start, const char* data, WORD signature, DWORD length,
                chunk_process_state* state) {
  switch (state->action) {
  case ACTION_APPEND_ANCHOR:
    return AppendAnchor(start, state);
  case ACTION_APPEND_LINK:
    return AppendLink(state);
  case ACTION_APPEND_NEW_LINES:
    return AppendBreakCharacters('\0', true, state);
  case ACTION_APPEND_TABS:
    return AppendBreakCharacters('\t', false, state);
  case ACTION_APPEND_TEXT:
    return start ? AppendTextAtStart(data, signature, length, state) : AppendTextAtStop(state);
  case ACTION_APPEND_PAGE_BREAK:
    return AppendPageBreak(state);
  case ACTION_APPEND_PARAGRAPH:
    return AppendParagraph(start, state);
  case ACTION_APPEND_TABLE:
  case ACTION_APPEND_TABLE_ALT:
    return AppendTable(start, state);
  case ACTION_APPEND_LAYER:
    return AppendLayer(start, state);
  case ACTION_APPEND_HOTSPOT:
    return AppendHotspot(state);
  case ACTION_APPEND_GRAPHIC:
    return AppendStorageLink(start, state);
  case ACTION_APPEND_RESOURCE:
    return AppendResource(start, state);
  case ACTION_APPEND_RTCHUNK:
  case ACTION_APPEND_RTITEM:
  case ACTION_APPEND_SUBFORM_BODY:
  case ACTION_APPEND_FORM_BODY:
  case ACTION_APPEND_PAGE_BODY:
    return AppendChunkRecords(state);
  case ACTION_APPEND_IMPORT_FILE:
    return AppendImport(state);
  case ACTION_APPEND_HTML:
    return AppendHtml(state);
  case ACTION_APPEND_FIELD:
    return AppendField(start, state);
  case ACTION_APPEND_FILE_ATTACHMENT:
    return AppendAttachment(state);
  default:
    return kServiceNotAvailable;
  }
}

} // namespace

STATUS AppendAtChunkStart(const char* record, WORD signature, DWORD length,
                          chunk_process_state* state) {
  if (!AtStart(state))
    return NOERROR;
  return AppendAt(true, record, signature, length, state);
}

STATUS AppendAtChunkStop(const char* record, WORD signature, DWORD length,
                         chunk_process_state* state) {
  if (AtStart(state))
    return NOERROR;
  return AppendAt(false, record, signature, length, state);
}
