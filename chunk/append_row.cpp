/*
 * The row append from a template row (chunk/append_row.h): per record of
 * the template row, the cell checks, the row filter (the cell records, and
 * per cell its first paragraph, first reference and first text run; tables
 * nested in the row and every other record are dropped) and the records a
 * cell string asks for in place of the cell's first text run.
 *
 * An empty run in the item's default font follows each reference taken,
 * so that the cell has a text run whatever its string holds. It is owed
 * until the next record goes out: a cell without a string has its first
 * run cut to an empty run in the run's own font, which then stands in for
 * it (two empty runs in a row would make the emitter drop the second, and
 * the cell would lose its font).
 */
#include "chunk/append_row.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <new>
#include <string>
#include <vector>

#include "chunk/font_override.h"
#include "engine/generator_states.h"
#include "engine/process_state.h"
#include "engine/services.h"
#include "engine/walk.h"
#include "generate/color_string.h"
#include "generate/built_record.h"
#include "generate/font_string.h"
#include "generate/hotspot.h"
#include "store/body.h"
#include "store/emitter.h"
#include "store/owned_text.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "velko/property_string.h"

namespace {

/* Bytes of a table cell record (CDTABLECELL and its nested form). */
constexpr DWORD kCellColumn = 3;
constexpr DWORD kCellFlags = 11;
constexpr DWORD kCellRowSpan = 14;
constexpr DWORD kCellBackground = 16;
/* The column of a cell record too short to hold one. */
constexpr WORD kNoColumn = 0xFFFF;
/* Cell flags. */
constexpr BYTE kCellHasColor = 0x01;
constexpr BYTE kCellSpansColumns = 0x08;
constexpr BYTE kCellCentered = 0x20;
constexpr BYTE kCellAtBottom = 0x80;

/* Label flags of a CDTABLELABEL, and the longest label kept. */
constexpr WORD kTabLabel = 2;
constexpr WORD kRowName = 1;
constexpr DWORD kLongestLabel = 127;

/* A cell's background image: a resource of this type, as a background. */
constexpr WORD kBackgroundResourceType = 3;

/* The keys of a cell string that give the texts of the cell identity
 * record, in the record's order. */
constexpr const char* kIdentityKeys[6] = {"CellHTMLID=",    "CellHTMLClass=", "CellHTMLStyle=",
                                          "CellHTMLTitle=", "CellHTMLOther=", "CellHTMLName="};

/* The value of the key in the cell string; false when the key is absent.
 * A value is never longer than the string. */
bool Value(const char* text, const char* key, std::string* value) {
  std::vector<char> buffer(strlen(text) + 1);
  if (ExtractProperty(text, key, buffer.data(), buffer.size()) == 0)
    return false;
  value->assign(buffer.data());
  return true;
}

/* The cell string of a column (null: none). */
const char* CellString(const chunk_process_state* state, BYTE column) {
  const _internal_SESS* session = state->session->internal;
  return column < sizeof session->cell_texts / sizeof session->cell_texts[0]
             ? session->cell_texts[column]
             : nullptr;
}

/* The colour of a CellColor= value, upper-cased; false when it names none. */
bool CellColor(const chunk_process_state* state, const char* text, WORD* index, DWORD* rgb) {
  std::string value;
  if (!Value(text, "CellColor=", &value))
    return false;
  for (char& c : value)
    c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return ParseColorString(value.c_str(), index, rgb, ClientPreferenceOf(StateItem(state))) ==
         NOERROR;
}

/* The empty run owed to the last reference taken, in the item's default
 * font; every record of the new row goes out behind it. */
STATUS EmitOwedRun(chunk_process_state* state) {
  if (state->row_run_owed == 0)
    return NOERROR;
  state->row_run_owed = 0;
  const CDTEXT run = DefaultTextHeader(state);
  return CopyCDUpdated(&run, SIG_CD_TEXT, sizeof run, &state->gen);
}

STATUS Emit(chunk_process_state* state, const void* data, WORD signature, DWORD length) {
  RETURN_IF_FAILED(EmitOwedRun(state));
  return CopyCDUpdated(data, signature, length, &state->gen);
}

/* A cell of the row: its string becomes the cell's, and its CellColor=
 * and VertAlign= change the cell record. */
STATUS TakeCell(const record_storage* node, chunk_process_state* state) {
  state->row_first_paragraph = 1;
  state->row_first_reference = 1;
  state->row_first_text = 1;
  const auto* data = reinterpret_cast<const BYTE*>(node->data);
  state->row_column = node->length > kCellColumn ? data[kCellColumn] : kNoColumn;
  state->row_cell_string =
      state->row_column != kNoColumn ? CellString(state, data[kCellColumn]) : nullptr;
  const char* text = state->row_cell_string;
  if (text == nullptr || node->length <= kCellFlags)
    return Emit(state, node->data, node->signature, node->length);

  std::vector<BYTE> cell(data, data + node->length);
  WORD index = 0;
  DWORD rgb = 0;
  if (node->length >= kCellBackground + 2) {
    memcpy(&index, &cell[kCellBackground], sizeof index);
    if (CellColor(state, text, &index, &rgb)) {
      memcpy(&cell[kCellBackground], &index, sizeof index);
      cell[kCellFlags] |= kCellHasColor;
    }
  }
  constexpr size_t kAlignKey = sizeof "VertAlign=" - 1;
  if (const char* align = stristr(text, "VertAlign="); align != nullptr) {
    if (strncasecmp(align + kAlignKey, "Center", 6) == 0)
      cell[kCellFlags] |= kCellCentered;
    else if (strncasecmp(align + kAlignKey, "Bottom", 6) == 0)
      cell[kCellFlags] |= kCellAtBottom;
  }
  return Emit(state, cell.data(), node->signature, node->length);
}

STATUS EmitRowHeight(const char* value, chunk_process_state* state) {
  double twips = strtod(value, nullptr) * 1440.0;
  if (!(twips >= 0))
    twips = 0;
  if (twips > 65535)
    twips = 65535;
  CDROWHEIGHT record = {};
  record.Header.Signature = static_cast<BYTE>(SIG_CD_ROWHEIGHT);
  record.Header.Length = sizeof record;
  record.Height = static_cast<WORD>(twips);
  return Emit(state, &record, SIG_CD_ROWHEIGHT, sizeof record);
}

STATUS EmitLabel(WORD flags, const std::string& label, chunk_process_state* state) {
  RETURN_IF_FAILED(EmitOwedRun(state));
  const DWORD kept =
      WholeCharacters(label.data(), static_cast<DWORD>(label.size()), kLongestLabel);
  return GenerateTabLabel(flags, label.data(), static_cast<WORD>(kept), &state->gen);
}

/* The cell identity record of the CellHTML...= keys; an odd record goes
 * out with a pad byte behind its length. */
STATUS EmitIdentity(const char* text, chunk_process_state* state) {
  std::string values[6];
  CDIDNAME header = {};
  WORD* lengths[6] = {&header.Length,      &header.ClassNameLength, &header.StyleLength,
                      &header.TitleLength, &header.ExtraLength,     &header.NameLength};
  DWORD length = sizeof header;
  for (int i = 0; i < 6; ++i) {
    Value(text, kIdentityKeys[i], &values[i]);
    if (values[i].size() > 0xFFFF || length + values[i].size() > 0xFFFF)
      values[i].clear(); /* a text that cannot be told in the record's words */
    *lengths[i] = static_cast<WORD>(values[i].size());
    length += *lengths[i];
  }
  header.Header.Signature = SIG_CD_IDNAME2;
  header.Header.Length = static_cast<WORD>(length);
  std::vector<BYTE> record(length + (length & 1), 0);
  memcpy(record.data(), &header, sizeof header);
  DWORD at = sizeof header;
  for (const std::string& value : values) {
    memcpy(record.data() + at, value.data(), value.size());
    at += static_cast<DWORD>(value.size());
  }
  return Emit(state, record.data(), SIG_CD_IDNAME2, static_cast<DWORD>(record.size()));
}

/* The records a cell string asks for behind the cell's text, in order. */
STATUS EmitCellKeys(const char* text, WORD column, chunk_process_state* state) {
  std::string value;
  if (column == 0) {
    if (Value(text, "RowHeight=", &value))
      RETURN_IF_FAILED(EmitRowHeight(value.c_str(), state));
    if (Value(text, "TabLabel=", &value))
      RETURN_IF_FAILED(EmitLabel(kTabLabel, value, state));
    if (Value(text, "RowName=", &value))
      RETURN_IF_FAILED(EmitLabel(kRowName, value, state));
  }
  if (Value(text, "BackgroundImage=", &value)) {
    RETURN_IF_FAILED(EmitOwedRun(state));
    hotspot_state hotspot = HotspotState(state);
    RETURN_IF_FAILED(GenerateResource(kBackgroundResourceType, kImageResourceClass,
                                      value.c_str(), text, 1, &hotspot, 0, 0, nullptr, nullptr,
                                      nullptr, nullptr, nullptr));
  }
  WORD index = 0;
  DWORD rgb = 0;
  if (CellColor(state, text, &index, &rgb) && rgb != 0) {
    RETURN_IF_FAILED(EmitOwedRun(state));
    RETURN_IF_FAILED(
        GenerateCDColorValue(static_cast<BYTE>(SIG_CD_CELLCOLOR), rgb, 0, &state->gen));
  }
  if (stristr(text, "CellHTML") != nullptr)
    RETURN_IF_FAILED(EmitIdentity(text, state));
  return NOERROR;
}

/* The cell's first text run: cut to an empty run in its own font when the
 * cell has no string, else replaced by the string's text (in the run's
 * font as TextFont= changes it, bracketed with its colour when that gives
 * one) and the records of the string's other keys. */
STATUS ReplaceFirstText(const record_storage* node, chunk_process_state* state) {
  const char* text = state->row_cell_string;
  if (text == nullptr) {
    if (node->length < sizeof(CDTEXT))
      return Emit(state, node->data, node->signature, node->length);
    CDTEXT run;
    memcpy(&run, node->data, sizeof run);
    run.Header.Length = sizeof run;
    state->row_run_owed = 0; /* this run stands in for the owed one */
    return CopyCDUpdated(&run, node->signature, sizeof run, &state->gen);
  }

  _internal_SESS* session = state->session->internal;
  session->override_color = 0;
  session->override_color_flags = 0;
  CDTEXT header = DefaultTextHeader(state);
  if (node->length >= sizeof header)
    memcpy(&header, node->data, sizeof header);
  std::string value;
  std::string font;
  const bool hasText = Value(text, "Text=", &value);
  if (hasText && Value(text, "TextFont=", &font)) {
    font_spec specs[2];
    font_spec_mask masks[2];
    if (ParseFontString(font.c_str(), nullptr, StateItem(state), specs, masks) == NOERROR)
      ApplyFontOverride(&header.FontID, &session->override_color, &session->override_color_flags,
                        &specs[0], masks[0].given);
  }
  if (!hasText)
    value = text;
  const bool colored = session->override_color != 0 || session->override_color_flags != 0;
  RETURN_IF_FAILED(EmitOwedRun(state));
  if (colored)
    RETURN_IF_FAILED(GenerateCDBegin(SIG_CD_TEXT, 0, &state->gen));
  RETURN_IF_FAILED(
      GenerateCDText(value.data(), static_cast<int>(value.size()), &header, &state->gen));
  if (colored) {
    RETURN_IF_FAILED(GenerateCDColorValue(static_cast<BYTE>(SIG_CD_COLOR), session->override_color,
                                          session->override_color_flags, &state->gen));
    RETURN_IF_FAILED(GenerateCDEnd(SIG_CD_TEXT, 0, &state->gen));
  }
  return EmitCellKeys(text, state->row_column, state);
}

STATUS TemplateRecord(const record_storage* node, chunk_process_state* state) {
  const WORD signature = node->signature;
  RETURN_IF_FAILED(RefuseSpannedCell(node->data, signature, node->length, state));
  if (signature == SIG_CD_PABDEFINITION)
    return NOERROR;
  if (IsTableBegin(signature)) {
    ++state->row_depth;
    return NOERROR;
  }
  if (IsTableEnd(signature)) {
    if (state->row_depth > 0)
      --state->row_depth;
    return NOERROR;
  }
  if (state->row_depth > 0)
    return NOERROR;
  if (IsTableCell(signature))
    return TakeCell(node, state);
  if (signature == SIG_CD_PARAGRAPH && state->row_first_paragraph != 0) {
    state->row_first_paragraph = 0;
    return Emit(state, node->data, signature, node->length);
  }
  if (signature == SIG_CD_PABREFERENCE && state->row_first_reference != 0) {
    state->row_first_reference = 0;
    RETURN_IF_FAILED(Emit(state, node->data, signature, node->length));
    state->row_run_owed = 1;
    return NOERROR;
  }
  if (signature == SIG_CD_TEXT && state->row_first_text != 0) {
    state->row_first_text = 0;
    return ReplaceFirstText(node, state);
  }
  return NOERROR;
}

} // namespace

STATUS RefuseSpannedCell(const char* record, WORD signature, DWORD length,
                         chunk_process_state* state) {
  if (!IsTableCell(signature))
    return NOERROR;
  const auto* data = reinterpret_cast<const BYTE*>(record);
  if ((length <= kCellFlags || (data[kCellFlags] & kCellSpansColumns) == 0) &&
      (length <= kCellRowSpan || data[kCellRowSpan] <= 1))
    return NOERROR;
  state->gen.error_word = kSpannedCellError;
  state->secondary_status = kSpannedCellError;
  return kSpannedCellStatus;
}

STATUS AppendTemplateRowRecord(const record_storage* node, chunk_process_state* state) {
  try {
    return TemplateRecord(node, state);
  } catch (const std::bad_alloc&) {
    return VELKO_ERR_MEMORY;
  }
}

STATUS AppendRowFromTemplate(VelkoRTChunk* chunk, chunk_process_state* state) {
  if (state->p3 != 0)
    return kServiceNotAvailable;
  state->row_first_paragraph = 1;
  state->row_first_reference = 1;
  state->row_first_text = 1;
  state->row_depth = 0;
  state->row_cell_string = nullptr;
  state->row_column = kNoColumn;
  state->row_run_owed = 0;
  RETURN_IF_FAILED(AppendOwnItem(chunk, state));
  return EmitOwedRun(state);
}
