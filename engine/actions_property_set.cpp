/*
 * The chunk engine's property settings: the writing cases that rename
 * section bars, buttons and anchors, replace the text of a chunk and widen
 * short paragraph definitions to their extended form.
 *
 * Each case leaves the current record as it is, replaces it by a record it
 * builds in a tracked block (released by the frame once emitted), or emits
 * records of its own and drops it. Every change marks the item modified.
 * A caller's text that would make a record past the emitter's largest
 * record is refused with kServiceNotAvailable before anything is emitted.
 *
 * Not here: the reading cases (engine/actions_property.cpp). The property
 * settings not handled below stay on the driver's list of refused codes.
 */
#include <string.h>

#include "engine/services.h"
#include "engine/walk.h"
#include "store/emitter.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "store/vocabulary.h"

namespace {

/* The fixed parts that a renamed record keeps: a section bar's header,
 * flags, font and colour word, and a button's header, flags, width,
 * reserved bytes and font. */
constexpr DWORD kBarFixedPart = sizeof(CDBAR) + sizeof(WORD);
constexpr DWORD kButtonFixedPart = sizeof(CDBUTTON);
static_assert(kBarFixedPart == 14 && kButtonFixedPart == 16);

/* Extended paragraph definition: the flag word at 68 and its bit telling
 * that the extension fields are there, and the two double words at 84 and
 * 88 an expansion sets. */
constexpr DWORD kDefinitionExtensionFlagsAt = 68;
constexpr WORD kDefinitionExtensionPresent = 0x8000;
constexpr DWORD kDefinitionWordAt84 = 84;
constexpr DWORD kDefinitionWordAt88 = 88;

/* An empty text run: the header alone. */
constexpr DWORD kEmptyTextRun = sizeof(CDTEXT);

void PutWord(char *at, WORD value) { memcpy(at, &value, sizeof value); }
void PutDword(char *at, DWORD value) { memcpy(at, &value, sizeof value); }

/* A zero-filled tracked block of size bytes that becomes the output of the
 * record; null when memory cannot be had. */
char *NewOutputRecord(DWORD size, WORD signature, chunk_record_output *output,
                      chunk_process_state *state) {
  velko_allocation *block = VelkoAllocate(state->session, VELKO_HERE, size, 1);
  if (block == nullptr || block->data == nullptr)
    return nullptr;
  output->block = block;
  output->data = static_cast<const char *>(block->data);
  output->signature = signature;
  output->length = size;
  return static_cast<char *>(block->data);
}

/* A record of `fixed` bytes, the first of them kept from the old record
 * (the rest zero), then `count` bytes of text; *built is its data. */
STATUS RenameRecord(const char *record, DWORD length, WORD signature,
                    DWORD fixed, const char *text, DWORD count, DWORD size,
                    chunk_record_output *output, chunk_process_state *state,
                    char **built) {
  if (size > kLargestEmittedRecord)
    return kServiceNotAvailable;
  char *data = NewOutputRecord(size, signature, output, state);
  if (data == nullptr)
    return VELKO_ERR_MEMORY;
  memcpy(data, record, length < fixed ? length : fixed);
  if (text != nullptr && count > 0)
    memcpy(data + fixed, text, count);
  StateItem(state)->Modified = 1;
  *built = data;
  return NOERROR;
}

/* SectionTitle: every bar gets s1 (p2 bytes, then a NUL) after its fixed
 * part; the length word holds the even record length. */
STATUS SetSectionTitle(const char *record, WORD signature, DWORD length,
                       chunk_record_output *output,
                       chunk_process_state *state) {
  if (signature != SIG_CD_SECTIONBAR)
    return NOERROR;
  const DWORD size = EvenLength<DWORD>(state->p2 + kBarFixedPart + 1);
  char *data = nullptr;
  const STATUS status =
      RenameRecord(record, length, signature, kBarFixedPart, state->s1,
                   state->p2, size, output, state, &data);
  if (status == NOERROR)
    PutWord(data + offsetof(WSIG, Length), static_cast<WORD>(size));
  return status;
}

/* ButtonText: every button gets s1 (p2 bytes) after its fixed part; the
 * length word holds the unpadded length, the record is stored even. */
STATUS SetButtonText(const char *record, WORD signature, DWORD length,
                     chunk_record_output *output, chunk_process_state *state) {
  if (signature != SIG_CD_BUTTON)
    return NOERROR;
  const DWORD exact = state->p2 + kButtonFixedPart;
  char *data = nullptr;
  const STATUS status =
      RenameRecord(record, length, signature, kButtonFixedPart, state->s1,
                   state->p2, EvenLength(exact), output, state, &data);
  if (status == NOERROR)
    PutWord(data + offsetof(WSIG, Length), static_cast<WORD>(exact));
  return status;
}

/* AnchorText: the first anchor gets s1 as its name. */
STATUS SetAnchorText(const char *record, WORD signature, DWORD length,
                     chunk_record_output *output, chunk_process_state *state) {
  if (state->found != 0 || signature != SIG_CD_ANCHOR)
    return NOERROR;
  const DWORD count =
      state->s1 != nullptr ? static_cast<DWORD>(strlen(state->s1)) : 0;
  const DWORD size = EvenLength<DWORD>(sizeof(CDANCHOR) + count);
  char *data = nullptr;
  const STATUS status =
      RenameRecord(record, length, signature, sizeof(CDANCHOR), state->s1,
                   count, size, output, state, &data);
  if (status != NOERROR)
    return status;
  PutWord(data + offsetof(WSIG, Length), static_cast<WORD>(size));
  PutWord(data + offsetof(CDANCHOR, NameLength), static_cast<WORD>(count));
  state->found = 1;
  return NOERROR;
}

/* ExpandPabDefs: a definition shorter than the extended form is widened to
 * it, with the extension flag and the two double words set. */
STATUS ExpandDefinition(const char *record, WORD signature, DWORD length,
                        chunk_record_output *output,
                        chunk_process_state *state) {
  if (signature != SIG_CD_PABDEFINITION || length >= kParagraphDefinitionArea)
    return NOERROR;
  char *data =
      NewOutputRecord(kParagraphDefinitionArea, signature, output, state);
  if (data == nullptr)
    return VELKO_ERR_MEMORY;
  memcpy(data, record, length);
  PutWord(data + offsetof(WSIG, Length),
          static_cast<WORD>(kParagraphDefinitionArea));
  WORD flags = 0;
  memcpy(&flags, data + kDefinitionExtensionFlagsAt, sizeof flags);
  PutWord(data + kDefinitionExtensionFlagsAt,
          flags | kDefinitionExtensionPresent);
  PutDword(data + kDefinitionWordAt84, 1);
  PutDword(data + kDefinitionWordAt88, 4);
  StateItem(state)->Modified = 1;
  return NOERROR;
}

/* The pending paragraph break of the output, written before new text. */
STATUS EmitPendingParagraph(chunk_process_state *state) {
  _internal_RTITEM *internal = StateItem(state)->internal;
  if (internal->pending_paragraph == 0)
    return NOERROR;
  if (STATUS status = CopyCDUpdated(&state->paragraph, SIG_CD_PARAGRAPH,
                                    sizeof(CDPARAGRAPH), &state->gen);
      status != NOERROR)
    return status;
  const CDPABREFERENCE reference = CurrentReference(state);
  if (STATUS status = CopyCDUpdated(&reference, SIG_CD_PABREFERENCE,
                                    sizeof reference, &state->gen);
      status != NOERROR)
    return status;
  internal->pending_paragraph = 0;
  return NOERROR;
}

/* Text: the first run of the chunk becomes s1 in its own font (with the
 * operation's font applied); the later runs with text go, empty runs stay. */
STATUS SetText(WORD signature, DWORD length, chunk_record_output *output,
               chunk_process_state *state) {
  if (signature != SIG_CD_TEXT)
    return NOERROR;
  if (state->found != 0) {
    if (length > kEmptyTextRun)
      output->length = 0;
    return NOERROR;
  }
  if (sizeof(CDTEXT) + state->p2 > kLargestEmittedRecord)
    return kServiceNotAvailable;

  VelkoRTItem *item = StateItem(state);
  CDTEXT header;
  memcpy(&header, item->internal->current_text_header, sizeof header);
  DWORD rgb = 0;
  WORD colorFlags = 0;
  if (item->PermanentPen != 0 || state->s2 != nullptr)
    ApplyFontOverride(&header.FontID, &rgb, &colorFlags, &state->fonts[0],
                      state->font_masks[0].given);
  _internal_SESS *session = state->session->internal;
  session->override_color = rgb;
  session->override_color_flags = colorFlags;

  if (length <= kEmptyTextRun) {
    if (STATUS status = GenerateCDText("", 0, &header, &state->gen);
        status != NOERROR)
      return status;
  }
  if (STATUS status = EmitPendingParagraph(state); status != NOERROR)
    return status;
  // A begin is closed by the colour record and its end whenever one was
  // written, so that the run never leaves a bracket open.
  const bool bracket = rgb != 0 || colorFlags != 0;
  if (bracket) {
    if (STATUS status = GenerateCDBegin(SIG_CD_TEXT, 0, &state->gen);
        status != NOERROR)
      return status;
  }
  if (STATUS status = GenerateCDText(state->s1 != nullptr ? state->s1 : "",
                                     state->p2, &header, &state->gen);
      status != NOERROR)
    return status;
  if (bracket) {
    if (STATUS status = GenerateCDColorValue(static_cast<BYTE>(SIG_CD_COLOR),
                                             rgb, colorFlags, &state->gen);
        status != NOERROR)
      return status;
    if (STATUS status = GenerateCDEnd(SIG_CD_TEXT, 0, &state->gen);
        status != NOERROR)
      return status;
  }
  state->found = 1;
  output->length = 0;
  return NOERROR;
}

} // namespace

STATUS ProcessPropertySetAction(const char *record, WORD signature,
                                DWORD length, chunk_record_output *output,
                                chunk_process_state *state) {
  switch (state->action) {
  case ACTION_SET_SECTION_TITLE:
    return SetSectionTitle(record, signature, length, output, state);
  case ACTION_SET_BUTTON_TEXT:
    return SetButtonText(record, signature, length, output, state);
  case ACTION_SET_ANCHOR_TEXT:
    return SetAnchorText(record, signature, length, output, state);
  case ACTION_EXPAND_PAB_DEFS:
    return ExpandDefinition(record, signature, length, output, state);
  case ACTION_SET_TEXT:
    return SetText(signature, length, output, state);
  default:
    return kServiceNotAvailable;
  }
}
