/*
 * Query actions over the records of a whole chunk: whether it contains
 * something or text (2304, 2305), the border widths of its first table
 * cell (2407), the properties of its first table (2414), an HTML attribute
 * value (2421) and the properties of the records of a target type (2436).
 *
 * None of them changes a record: each leaves the record as it came, so a
 * walk that copies records copies it unchanged. Answers go to the
 * session's result text, appended through one writer that never passes
 * the text's capacity, or to the session's found count. The property
 * texts themselves are written by the attribute renderers of generate/.
 */
#include <stdio.h>
#include <string.h>

#include "engine/process_state.h"
#include "engine/services.h"
#include "generate/attribute_strings.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "velko/status.h"

namespace {

static_assert(sizeof(chunk_process_state::attribute_written) / sizeof(DWORD) >=
              kAttributeFlagCount);

/* The bytes of a field's answer that the result text is cleared to. */
constexpr DWORD kFieldAnswerClear = 256;

/* Selectors of the IDNAME parts by target type: the id of the first part
 * and the "all" id. */
constexpr WORD kSectionHTMLId = 11;
constexpr WORD kSectionAll = 17;

/* Runs one writer over the session's result text: the text's length and,
 * when a key did not fit, the operation's secondary status follow what
 * the writer did. The writer's status is the step's. */
template <typename Write> STATUS WriteAnswer(chunk_process_state* state, Write write) {
  LSXLsiSession* session = state->session;
  attribute_text out;
  AttributeTextOpen(&out, session->result_text, kSessionTextCapacity);
  const STATUS status = write(&out);
  session->result_length = static_cast<WORD>(out.length);
  if (out.status != 0)
    state->secondary_status = out.status;
  return status;
}

/* Replaces the result text by length bytes. */
void SetAnswer(chunk_process_state* state, const char* text, DWORD length) {
  state->session->result_text[0] = '\0';
  WriteAnswer(state, [&](attribute_text* out) {
    AttributeTextAppend(out, text, length);
    return NOERROR;
  });
}

/* The list node of the record the step was given; null when the record
 * is not the walk's current one (the node renderers then write nothing). */
const record_storage* CurrentNode(const char* record, const chunk_process_state* state) {
  const record_storage* node = state->current_record;
  return node != nullptr && node->data == record ? node : nullptr;
}

/* A record that stands for something in the chunk: not an empty text run
 * and none of the paragraph and bracket records. */
bool CountsAsSomething(WORD signature, DWORD length) {
  switch (signature) {
  case SIG_CD_TEXT:
    return length > sizeof(CDTEXT);
  case SIG_CD_PARAGRAPH:
  case SIG_CD_BEGIN:
  case SIG_CD_END:
  case SIG_CD_PABREFERENCE:
  case SIG_CD_PABDEFINITION:
  case SIG_CD_PABHIDE:
  case SIG_CD_PABFORMULAREF:
    return false;
  default:
    return true;
  }
}

STATUS CountFound(chunk_process_state* state) {
  ++state->session->internal->property_word_a;
  return VELKO_ERR_ITEM_NOT_FOUND; // the answer is complete
}

/* 2407 at the chunk's first table cell. */
STATUS AnswerCellBorder(const char* record, DWORD length, chunk_process_state* state) {
  state->found = 1;
  CDTABLECELL cell = {};
  memcpy(&cell, record, length < sizeof cell ? length : sizeof cell);
  int widths[4];
  for (int side = 0; side < 4; ++side)
    widths[side] = (cell.Flags & 0x02) != 0 ? (cell.V42Border >> (4 * side)) & 0x0F
                                            : (cell.BorderWidths >> (2 * side)) & 0x03;
  char text[32];
  int written = 0;
  if (state->p1 == 0)
    written = snprintf(text, sizeof text, "%d,%d,%d,%d", widths[0], widths[1], widths[2], widths[3]);
  else if (state->p1 <= 4)
    written = snprintf(text, sizeof text, "%d", widths[state->p1 - 1]);
  if (written > 0)
    SetAnswer(state, text, static_cast<DWORD>(written));
  return VELKO_ERR_ITEM_NOT_FOUND; // later cells are not read
}

/* 2421 at an IDNAME record: p1 1 name, 2 id, 3 class, 4 style, 5 title,
 * anything else the extra part. Each part is cut where the record ends. */
STATUS AnswerHtmlValue(const char* record, DWORD length, chunk_process_state* state) {
  CDIDNAME fixed = {};
  memcpy(&fixed, record, length < sizeof fixed ? length : sizeof fixed);
  const WORD lengths[6] = {fixed.Length,      fixed.ClassNameLength, fixed.StyleLength,
                           fixed.TitleLength, fixed.ExtraLength,     fixed.NameLength};
  static constexpr int kPartOfCode[6] = {4, 5, 0, 1, 2, 3}; // code -> part, in record order
  const int part = state->p1 >= 1 && state->p1 <= 5 ? kPartOfCode[state->p1] : 4;
  DWORD at = sizeof(CDIDNAME);
  for (int k = 0; k < part; ++k)
    at += lengths[k];
  const DWORD rest = at < length ? length - at : 0;
  state->found = 1;
  SetAnswer(state, record + (length - rest), lengths[part] < rest ? lengths[part] : rest);
  return NOERROR;
}

/* 2436 for a field: "Fieldname=" and the field's name, which follows the
 * fixed part and the three formulas. */
STATUS AnswerFieldName(const char* record, DWORD length, chunk_process_state* state) {
  CDFIELD field = {};
  memcpy(&field, record, length < sizeof field ? length : sizeof field);
  memset(state->session->result_text, 0, kFieldAnswerClear);
  const DWORD at = sizeof(CDFIELD) + DWORD{field.DVLength} + field.ITLength + field.VFLength;
  const DWORD rest = at < length ? length - at : 0;
  const DWORD count = field.NameLength < rest ? field.NameLength : rest;
  return WriteAnswer(state, [&](attribute_text* out) {
    if (AttributeTextPuts(out, "Fieldname="))
      AttributeTextAppend(out, record + (length - rest), count);
    return NOERROR;
  });
}

/* 2436 for a URL link's target frame: "Target=" and the frame's name,
 * ended by a blank like every other key, so that a name read out of an
 * answer holding several targets stops at its own end. */
STATUS AnswerLinkTarget(const char* record, DWORD length, chunk_process_state* state) {
  CDTARGET target = {};
  memcpy(&target, record, length < sizeof target ? length : sizeof target);
  const DWORD rest = length > sizeof target ? length - sizeof target : 0;
  const DWORD count = target.TargetLength < rest ? target.TargetLength : rest;
  return WriteAnswer(state, [&](attribute_text* out) {
    AttributeTextPrintf(out, "Target=%.*s ", static_cast<int>(count), record + sizeof target);
    return NOERROR;
  });
}

/* An IDNAME record's parts under the target type's prefix. */
STATUS AnswerIdName(const char* record, DWORD length, const char* prefix, WORD firstId,
                    WORD allId, chunk_process_state* state) {
  return WriteAnswer(state, [&](attribute_text* out) {
    return CalculateAttributesIDNAMEString(record, length, out, prefix, state->p1, firstId, allId,
                                           state->attribute_written);
  });
}

/* 2414, and 2436 for tables: the first table's records and every timer. */
STATUS AnswerTableRecord(const char* record, WORD signature, DWORD length,
                         chunk_process_state* state) {
  const WORD id = state->p1;
  DWORD* written = state->attribute_written;
  const WORD preference = state->session->internal->global_client_preference;
  if (signature == SIG_CD_PRETABLEBEGIN && state->found == 0)
    return WriteAnswer(state, [&](attribute_text* out) {
      return CalculateTableAttributesPRETABLEString(record, length, out, id, written, preference);
    });
  if (IsTableBegin(signature) && state->found == 0) {
    state->found = 1; // nested tables are not described
    return WriteAnswer(state, [&](attribute_text* out) {
      return CalculateTableAttributesTABLEBEGINString(record, length, out, id, written);
    });
  }
  if (signature == SIG_CD_TIMERINFO)
    return WriteAnswer(state, [&](attribute_text* out) {
      return CalculateTableAttributesTIMERINFOString(record, length, out, id, written);
    });
  if (signature == SIG_CD_IDNAME && InnermostBracket(state) == SIG_CD_PRETABLEBEGIN)
    return AnswerIdName(record, length, "Table", kTablePropHTMLId, kTablePropAll, state);
  if (signature == SIG_CD_TABLEDATAEXTENSION && state->found == 0)
    return WriteAnswer(state, [&](attribute_text* out) {
      return CalculateTableAttributesTABLEDATAEXTENSIONString(record, length, out, id, written,
                                                              StateItem(state));
    });
  return NOERROR;
}

STATUS AnswerGraphicRecord(const char* record, WORD signature, DWORD length,
                           chunk_process_state* state) {
  const WORD id = state->p1;
  DWORD* written = state->attribute_written;
  switch (signature) {
  case SIG_CD_ALTTEXT:
    return WriteAnswer(state, [&](attribute_text* out) {
      return CalculateGraphicAttributesALTTEXTString(record, length, out, id, written);
    });
  case SIG_CD_CAPTION:
    return WriteAnswer(state, [&](attribute_text* out) {
      return CalculateGraphicAttributesCAPTIONString(record, length, out, id, written);
    });
  case SIG_CD_BORDERINFO: // what setting a graphic's border writes reads back
    return WriteAnswer(state, [&](attribute_text* out) {
      return CalculateGraphicAttributesBORDERString(record, length, out, id, written);
    });
  case SIG_CD_IDNAME:
    return AnswerIdName(record, length, "Graphic", kGraphicPropHTMLId, kGraphicPropAll, state);
  default:
    return NOERROR;
  }
}

STATUS AnswerLayerRecord(const char* record, WORD signature, DWORD length,
                         chunk_process_state* state) {
  const WORD id = state->p1;
  DWORD* written = state->attribute_written;
  switch (signature) {
  case SIG_CD_POSITIONING:
    return WriteAnswer(state, [&](attribute_text* out) {
      return CalculateLayerAttributesPOSITIONINGString(record, length, out, id, written);
    });
  case SIG_CD_BOXSIZE: // the layer's width and height
    return WriteAnswer(state, [&](attribute_text* out) {
      return CalculateLayerAttributesBOXSIZEString(record, length, out, id, written);
    });
  case SIG_CD_IDNAME:
    return AnswerIdName(record, length, "Layer", kLayerPropHTMLId, kLayerPropAll, state);
  default:
    return NOERROR;
  }
}

/* 2436: the records of the target type p2 that the chunk holds. */
STATUS AnswerTargetRecord(const char* record, WORD signature, DWORD length,
                          chunk_process_state* state) {
  const WORD id = state->p1;
  DWORD* written = state->attribute_written;
  switch (state->p2) {
  case TARGETTYPE_TABLE:
    return AnswerTableRecord(record, signature, length, state);
  case TARGETTYPE_SECTION:
    if (signature == SIG_CD_IDNAME && InnermostBracket(state) == SIG_CD_V4HOTSPOTBEGIN)
      return AnswerIdName(record, length, "Section", kSectionHTMLId, kSectionAll, state);
    return NOERROR;
  case TARGETTYPE_GRAPHIC:
    return AnswerGraphicRecord(record, signature, length, state);
  case TARGETTYPE_FIELD:
    return signature == SIG_CD_FIELD ? AnswerFieldName(record, length, state) : NOERROR;
  case TARGETTYPE_HR:
    if (signature != SIG_CD_HRULE)
      return NOERROR;
    return WriteAnswer(state, [&](attribute_text* out) {
      return CalculateHRuleAttributesString(CurrentNode(record, state), out, id, written,
                                            state->session->internal->global_client_preference);
    });
  case TARGETTYPE_LAYER:
    return AnswerLayerRecord(record, signature, length, state);
  case TARGETTYPE_URLLINK:
    return signature == SIG_CD_TARGET ? AnswerLinkTarget(record, length, state) : NOERROR;
  case TARGETTYPE_IMAGEMAP:
    return WriteAnswer(state, [&](attribute_text* out) {
      return CalculateMapElementAttributesString(CurrentNode(record, state), out, id, written);
    });
  case TARGETTYPE_GRAPHICHOTSPOT:
    return WriteAnswer(state, [&](attribute_text* out) {
      return CalculateAreaElementAttributesString(CurrentNode(record, state), out, id, written);
    });
  default:
    return NOERROR;
  }
}

} // namespace

STATUS ProcessQueryAction(const char* record, WORD signature, DWORD length, chunk_record_output*,
                          chunk_process_state* state) {
  switch (state->action) {
  case ACTION_CONTAINS_SOMETHING:
    return CountsAsSomething(signature, length) ? CountFound(state) : NOERROR;
  case ACTION_CONTAINS_TEXT:
    return signature == SIG_CD_TEXT && length > sizeof(CDTEXT) ? CountFound(state) : NOERROR;
  case ACTION_GET_CELL_BORDER:
    return IsTableCell(signature) && state->found == 0 ? AnswerCellBorder(record, length, state)
                                                       : NOERROR;
  case ACTION_GET_HTML_VALUE:
    return signature == SIG_CD_IDNAME || signature == SIG_CD_IDNAME2
               ? AnswerHtmlValue(record, length, state)
               : NOERROR;
  case ACTION_GET_TABLE_PROPERTIES:
    return AnswerTableRecord(record, signature, length, state);
  case ACTION_GET_TARGET_PROPERTIES:
    return AnswerTargetRecord(record, signature, length, state);
  default:
    return NOERROR;
  }
}
