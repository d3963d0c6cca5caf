/*
 * The chunk's append family and SetImageHotspot: each method checks its
 * arguments, fills the session's shared areas the engine reads (result
 * text, parameter text, hotspot words, cell texts, column widths) and runs
 * one append action where the chunk ends. The records themselves are the
 * engine's and the generators'.
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>

#include "chunk/method_support.h"
#include "chunk/rtchunk_internal.h"
#include "chunk/services.h"
#include "generate/hotspot.h"
#include "generate/length_value.h"
#include "host/nsfnote.h"
#include "host/osenv.h"
#include "store/messages.h"
#include "store/new_object.h"
#include "store/note_access.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "store/vocabulary.h"
#include "velko/property_string.h"

namespace {

/* Where hotspot code starts in the result text. */
constexpr size_t kHotspotCodeOffset = 16;
constexpr WORD kCellTextSlots = 20;
constexpr WORD kMaxColumns = 64;
constexpr int kMaxAttachmentTries = 1000;

enum : DWORD {
  kCodeText = 0,
  kCodeFormula = 0x10,
  kCodeLotusScript = 0x100,
  kCodeComputedText = 0x40010,
  kCodeJavaScript = 0x200000,
};

/* The LotusScript module a button's Click code is wrapped in. */
constexpr char kLotusScriptTemplate[] =
    "'++LotusScript Development Environment:2:5:(Options):0:66\n"
    "\n"
    "'++LotusScript Development Environment:2:5:(Forward):0:1\n"
    "Declare Sub Click(Source As Button)\n"
    "\n"
    "'++LotusScript Development Environment:2:5:(Declarations):0:2\n"
    "\n"
    "'++LotusScript Development Environment:2:2:BindEvents:1:129\n"
    "Private Sub BindEvents(Byval Objectname_ As String)\n"
    "  Static Source As BUTTON\n"
    "  Set Source = Bind(Objectname_)\n"
    "  On Event Click From Source Call Click\n"
    "End Sub\n"
    "\n"
    "'++LotusScript Development Environment:2:2:Click:1:12\n";

STATUS Run(VelkoRTChunk& chunk, WORD action, WORD p1 = 0, WORD p2 = 0, WORD p3 = 0, WORD p4 = 0,
           const char* s1 = nullptr, const char* s2 = nullptr, const char* extra = nullptr,
           VelkoRTChunk* other = nullptr) {
  return chunk.AlterRichText(action, p1, p2, p3, p4, s1, s2, extra, other);
}

_internal_SESS& Shared(const VelkoRTChunk& chunk) { return *chunk.session->internal; }

/* The code (length bytes; 0: its string length) as text. */
std::string CodeText(const char* code, WORD length) {
  if (code == nullptr)
    return std::string();
  return std::string(code, length != 0 ? strnlen(code, length) : strlen(code));
}

/* The LotusScript the template and the code make. */
std::string WrapLotusScript(const std::string& code) {
  std::string text = kLotusScriptTemplate;
  if (stristr(code.c_str(), "Sub Click") != nullptr)
    return text + code;
  return text + "Sub Click(Source As Button)\n" + code + "\nEnd Sub";
}

/* Puts bytes at the offset of the result text and their length in the
 * length word; false when they do not fit the room for code. */
bool PutCode(LSXLsiSession* session, size_t offset, const std::string& bytes) {
  if (bytes.size() > kResultCodeRoom)
    return false;
  memcpy(session->result_text + offset, bytes.data(), bytes.size());
  session->result_length = static_cast<WORD>(bytes.size());
  return true;
}

/* Refuses an argument: secondary status 20017 and the message, if any. */
STATUS RefuseArgument(VelkoRTChunk& chunk, const char* message, STATUS result) {
  chunk.secondary_status = VELKO_ERR_INVALID_ARGUMENT;
  if (message != nullptr)
    ShowUserMessage(message);
  return result;
}

/* The code of a hotspot at the offset of the result text, by its kind.
 * Returns 0 or the refusal. */
STATUS PrepareHotspotCode(VelkoRTChunk& chunk, DWORD codeKind, const char* code, WORD length,
                          size_t offset, bool* compiledEmpty, bool* compileError) {
  LSXLsiSession* session = chunk.session;
  *compiledEmpty = false;
  *compileError = false;
  if (codeKind & kCodeFormula) {
    const compiled_formula compiled =
        CompileFormulaInto(code, length, session->result_text + offset, kResultCodeRoom);
    if (compiled.too_long)
      return RefuseArgument(chunk, nullptr, VELKO_ERR_BAD_ARGUMENT);
    if (compiled.status != NOERROR) {
      if (compiled.compile_error == NOERROR)
        return compiled.status;
      ShowFormulaError(compiled.compile_error);
      chunk.secondary_status = VELKO_ERR_INVALID_ARGUMENT;
      *compileError = true;
      return VELKO_ERR_BAD_ARGUMENT;
    }
    session->result_length = compiled.length;
    *compiledEmpty = compiled.length == 0;
    return NOERROR;
  }
  std::string bytes = CodeText(code, length);
  if (codeKind & kCodeLotusScript)
    bytes = WrapLotusScript(bytes);
  else
    bytes.push_back('\0'); // the NUL counts
  if (!PutCode(session, offset, bytes))
    return RefuseArgument(chunk, nullptr, VELKO_ERR_BAD_ARGUMENT);
  return NOERROR;
}

/* A tracked copy of the text with room bytes more; null when memory is
 * short. */
char* TrackedCopy(LSXLsiSession* session, const char* text, size_t room) {
  const size_t length = strlen(text);
  auto* copy = static_cast<char*>(VelkoAllocatePtr(session, VELKO_HERE, length + 1 + room, 1));
  if (copy != nullptr)
    memcpy(copy, text, length);
  return copy;
}

/* Releases the cell text copies and clears the slots. */
void ReleaseCellTexts(LSXLsiSession* session) {
  for (char*& text : session->internal->cell_texts) {
    if (text != nullptr)
      VelkoDeallocatePtr(session, text);
    text = nullptr;
  }
}

/* A key's value in the options; false when the key is absent. */
bool OptionValue(const char* options, const char* key, std::string* value) {
  if (options == nullptr)
    return false;
  value->assign(strlen(options) + 1, '\0');
  if (ExtractProperty(options, key, value->data(), value->size()) == 0)
    return false;
  value->resize(strlen(value->c_str()));
  return true;
}

/* One column's width from its text's "Width=": twips and flag; the column
 * text gets the width as CellHTMLOther= for pixels and percent. */
void ReadColumnWidth(char* text, double pixelsPerInch, WORD tableWidth, WORD* width, WORD* flag) {
  std::string value;
  if (!OptionValue(text, "Width=", &value))
    return;
  double w = atof(value.c_str());
  if (w < 0) {
    w = -w;
    *flag = 1;
  }
  const bool pixels = strstr(value.c_str(), "px") != nullptr;
  const bool percent = !pixels && strchr(value.c_str(), '%') != nullptr;
  double twips = w * 1440;
  if (pixels)
    twips = (w / pixelsPerInch) * 1440;
  else if (percent)
    twips = (w / 100) * tableWidth;
  // Out-of-range and NaN widths are clamped, never cast as they stand.
  *width = static_cast<WORD>(ClampToInt32(twips));
  if (!pixels && !percent)
    return;
  // The copy has room for this addition.
  const size_t at = strlen(text);
  snprintf(text + at, 60,
           percent ? " CellHTMLOther=\"width='%ld%%'\"" : " CellHTMLOther=\"width='%ld'\"",
           static_cast<long>(ClampToInt32(w)));
}

/* The last path element of the source, at most 255 bytes. */
std::string AttachmentName(const char* source) {
  const char* name = strrchr(source, '\\');
  if (name == nullptr)
    name = strrchr(source, '/');
  name = name != nullptr ? name + 1 : source;
  return std::string(name, strnlen(name, 255));
}

/* A free attachment name of the note: the source's own, else "Att%d" with
 * the source's extension. False when every name tried is taken. */
bool FreeAttachmentName(NOTEHANDLE note, const char* source, std::string* name) {
  *name = AttachmentName(source);
  const char* dot = strrchr(source, '.');
  const std::string extension = dot != nullptr ? dot : "";
  char external[MAXPATH + 1];
  for (int tries = 0; ExternalFileNameFromInternal(note, name->c_str(), external) == NOERROR;
       ++tries) {
    if (tries >= kMaxAttachmentTries)
      return false;
    *name = "Att" + std::to_string(tries) + extension;
  }
  return true;
}

/* Runs a body append after action 37 has left the definition id. */
STATUS AppendBody(VelkoRTChunk& chunk, WORD action, const char* name) {
  if (name == nullptr)
    return NOERROR;
  Run(chunk, ACTION_PREPARE_APPEND, 2);
  return Run(chunk, action, Shared(chunk).append_parameter, 0, 0, 0, name, nullptr, nullptr,
             &chunk);
}

} // namespace

/* An empty text run the append wrote or copied inside a text envelope may
 * now stand beside the new text: the clean-up pass drops it. Only after an
 * append that was stored, so that a failed one leaves the note as it was;
 * the item's flag is cleared either way, for the next operation. */
STATUS VelkoRTChunk::AppendText(const char* text, WORD length, const char* font) {
  STATUS result = Run(*this, ACTION_APPEND_TEXT, 0, length, 0, 0, text, font);
  _internal_RTITEM* itemState = item != nullptr ? item->internal : nullptr;
  if (itemState == nullptr)
    return result;
  // The engine takes a length of 0 as the text's string length.
  const bool wroteText = text != nullptr && (length != 0 || text[0] != '\0');
  if (result == NOERROR && itemState->pending_paragraph != 0 && wroteText)
    result = Run(*this, ACTION_CLEANUP_TEXT_RUNS);
  itemState->pending_paragraph = 0;
  return result;
}

STATUS VelkoRTChunk::AppendNewLines(WORD count, int flag) {
  return Run(*this, ACTION_APPEND_NEW_LINES, count, static_cast<WORD>(flag));
}

STATUS VelkoRTChunk::AppendTabs(WORD count) { return Run(*this, ACTION_APPEND_TABS, count); }

STATUS VelkoRTChunk::AppendPageBreak() { return Run(*this, ACTION_APPEND_PAGE_BREAK); }

STATUS VelkoRTChunk::AppendAnchor(const char* name, WORD flag) {
  // The engine copies p2 bytes of the name: never more than it has.
  const WORD length = TextLength(name);
  return Run(*this, ACTION_APPEND_ANCHOR, 0, flag != 0 && flag < length ? flag : length, 0, 0,
             name);
}

STATUS VelkoRTChunk::AppendParagraph(const char* style, const char* options, const char* formula,
                                     WORD length) {
  ClearResultText(session);
  status = NOERROR;
  if (formula != nullptr && length != 0) {
    const compiled_formula compiled =
        CompileFormulaInto(formula, length, session->result_text, kResultCodeRoom);
    if (compiled.too_long)
      return RefuseArgument(*this, nullptr, VELKO_ERR_BAD_ARGUMENT);
    if (compiled.status != NOERROR) {
      ClearResultText(session);
      status = compiled.compile_error != NOERROR ? STATUS{VELKO_ERR_FAILED} : compiled.status;
      return status;
    }
    session->result_length = compiled.length;
  }
  return Run(*this, ACTION_APPEND_PARAGRAPH, 0, 0, 0, 0, style, options);
}

STATUS VelkoRTChunk::AppendLink(const char* anchorText, WORD p1, const char* target,
                                const char* text2, const char* text3, const char* text4, WORD p2,
                                const char* text5, WORD p3, const char* text6, WORD p4) {
  for (WORD slot = 1; slot <= 6; ++slot)
    CleanupEventRetString(slot);
  Shared(*this).parameter_text = nullptr;
  link_mode = IsEmptyText(anchorText) ? 1 : 3;
  SetEventRetString(1, target, TextLength(target));
  if (target == nullptr || strchr(target, ':') == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  link_mode = 4;
  const char* texts[] = {text2, text3, text4, text5, text6};
  for (WORD slot = 2; slot <= 6; ++slot)
    SetEventRetString(slot, texts[slot - 2], TextLength(texts[slot - 2]));
  status = NOERROR;
  return Run(*this, ACTION_APPEND_LINK, p1, p2, p3, p4, anchorText);
}

STATUS VelkoRTChunk::AppendHotspot(const char* kind, const char* code, WORD codeLength,
                                   const char* options, const char* label, WORD labelLength) {
  _internal_SESS& shared = Shared(*this);
  shared.hotspot_word = 0;
  shared.global_rgb_set = 0;
  link_mode = 0;
  shared.hotspot_code_kind = kCodeFormula;

  const char* text = kind != nullptr ? kind : "";
  WORD type = 0;
  if (stristr(text, "ACTION") != nullptr)
    type = 2;
  else if (stristr(text, "BUTTON") != nullptr)
    type = 3;
  else if (stristr(text, "POPUP") != nullptr)
    type = 1;
  else if (stristr(text, "MOUSEOVER") != nullptr)
    type = 22;
  else if (stristr(text, "COMPUTEDTEXT") != nullptr)
    type = 1;
  else if (stristr(text, "SUBFORM") != nullptr)
    type = 14;
  else if (stristr(text, "FILEUPLOAD") != nullptr || stristr(text, "FILE UPLOAD") != nullptr)
    type = 24;
  else
    return VELKO_ERR_BAD_ARGUMENT;
  shared.hotspot_type = type;

  DWORD codeKind = kCodeFormula;
  if (stristr(text, "COMPUTEDTEXT") != nullptr)
    codeKind = kCodeComputedText;
  else if (stristr(text, "FORMULA") != nullptr)
    codeKind = kCodeFormula;
  else if (stristr(text, "LOTUSSCRIPT") != nullptr || stristr(text, "LOTUSCRIPT") != nullptr)
    codeKind = kCodeLotusScript;
  else if (stristr(text, "JAVASCRIPT") != nullptr)
    codeKind = kCodeJavaScript;
  else if (stristr(text, "FILEUPLOAD") != nullptr || stristr(text, "FILE UPLOAD") != nullptr ||
           stristr(text, "SUBFORM") != nullptr || stristr(text, "TEXT") != nullptr)
    codeKind = kCodeText;
  shared.hotspot_code_kind = codeKind;

  const bool script = codeKind == kCodeLotusScript || codeKind == kCodeJavaScript;
  const bool designElement =
      item != nullptr && item->internal != nullptr && item->internal->design_element != 0;
  if ((type == 1 || type == 22) && script)
    return RefuseArgument(*this, "Tarno: Error in argument #1", VELKO_ERR_BAD_ARGUMENT);
  if (type == 14 && !designElement)
    return RefuseArgument(*this, "Tarno: Attempt to add subform to data document failed",
                          VELKO_ERR_BAD_ARGUMENT);
  if (type == 24 && !designElement)
    return RefuseArgument(*this, "Tarno: Attempt to add file upload to data document failed",
                          VELKO_ERR_BAD_ARGUMENT);
  if (type == 14 && script)
    return RefuseArgument(*this, "Tarno: Subform specified by other than simple name or formula",
                          VELKO_ERR_BAD_ARGUMENT);

  ClearResultText(session);
  if (code != nullptr) {
    bool compiledEmpty = false;
    bool compileError = false;
    if (STATUS refused = PrepareHotspotCode(*this, codeKind, code, codeLength, kHotspotCodeOffset,
                                            &compiledEmpty, &compileError);
        refused != NOERROR)
      return refused;
    if (compiledEmpty)
      return VELKO_ERR_BAD_ARGUMENT;
  }
  if (labelLength == 0) {
    label = "Action Hotspot";
    labelLength = 14;
  }
  status = NOERROR;
  return Run(*this, ACTION_APPEND_HOTSPOT, 0, 0, codeLength, labelLength, options, label);
}

STATUS VelkoRTChunk::SetImageHotspot(const char* codeKind, const char* code, WORD codeLength,
                                     const char* options, const char* label, WORD labelLength) {
  _internal_SESS& shared = Shared(*this);
  shared.hotspot_word = 0;
  shared.global_rgb_set = 0;
  char* kindCopy = TrackedCopy(session, codeKind != nullptr ? codeKind : "", 0);
  if (kindCopy == nullptr)
    return VELKO_ERR_MEMORY;
  shared.parameter_text = kindCopy;
  auto finish = [&](STATUS result) {
    VelkoDeallocatePtr(session, kindCopy);
    shared.parameter_text = nullptr;
    return result;
  };

  DWORD kind = 0;
  if (SameWord(codeKind, "FORMULA"))
    kind = kCodeFormula;
  else if (SameWord(codeKind, "LOTUSSCRIPT") || SameWord(codeKind, "LOTUSCRIPT"))
    kind = kCodeLotusScript;
  else if (SameWord(codeKind, "JAVASCRIPT"))
    kind = kCodeJavaScript;
  else
    return finish(VELKO_ERR_FAILED);
  // An image map's area keeps no script: LotusScript and JavaScript would
  // be dropped without a word, so they are refused.
  if (kind != kCodeFormula)
    return finish(VELKO_ERR_BAD_ARGUMENT);

  // The area generator takes the code kind in the image map's numbering
  // and the compiled formula where all hotspot code lies.
  shared.hotspot_code_kind = kAreaCodeFormula;
  ClearResultText(session);
  if (code != nullptr) {
    bool compiledEmpty = false;
    bool compileError = false;
    const STATUS refused = PrepareHotspotCode(*this, kind, code, codeLength, kHotspotDataOffset,
                                              &compiledEmpty, &compileError);
    if (refused != NOERROR)
      return finish(compileError ? STATUS{VELKO_ERR_INVALID_ARGUMENT} : refused);
    if (compiledEmpty)
      return finish(NOERROR);
  }
  if (IsEmptyText(label))
    label = "Default";
  status = NOERROR;
  Run(*this, ACTION_SET_IMAGE_HOTSPOT, 0, 0, codeLength, labelLength, options, label);
  return finish(status);
}

STATUS VelkoRTChunk::AppendLayer(const char* top, const char* left, const char* height,
                                 const char* width, WORD flag, const char* options,
                                 const char* extra, const char* formula, WORD formulaLength) {
  struct placement {
    const char** value;
    const char* name;
    const char* fallback;
  };
  const placement values[] = {{&top, "top", "auto"},
                              {&left, "left", "auto"},
                              {&height, "height", "150px"},
                              {&width, "width", "250px"}};
  for (const placement& value : values)
    if (IsEmptyText(*value.value))
      *value.value = value.fallback;
  for (const placement& value : values) {
    if (strpbrk(*value.value, " ;") == nullptr)
      continue;
    char message[96];
    snprintf(message, sizeof message,
             "TARNO: Invalid '%s' for AppendLayer. No spaces or semicolons!", value.name);
    return RefuseArgument(*this, message, VELKO_ERR_INVALID_ARGUMENT);
  }

  ClearResultText(session);
  status = NOERROR;
  STATUS compileStatus = NOERROR;
  if (formula != nullptr && formulaLength != 0) {
    const compiled_formula compiled =
        CompileFormulaInto(formula, formulaLength, session->result_text, kResultCodeRoom);
    if (compiled.too_long)
      return RefuseArgument(*this, nullptr, VELKO_ERR_BAD_ARGUMENT);
    if (compiled.status != NOERROR) {
      // The layer is appended without its formula.
      secondary_status = VELKO_ERR_INVALID_ARGUMENT;
      ClearResultText(session);
      compileStatus = compiled.status;
    } else {
      session->result_length = compiled.length;
    }
  }
  const char* extraText = extra != nullptr ? extra : "";
  const size_t size =
      strlen(top) + strlen(left) + strlen(width) + strlen(height) + strlen(extraText) + 5;
  auto* layer = static_cast<char*>(VelkoAllocatePtr(session, VELKO_HERE, size, 1));
  if (layer == nullptr)
    return VELKO_ERR_MEMORY;
  snprintf(layer, size, "%s;%s;%s;%s;%s", top, left, width, height, extraText);
  status = NOERROR;
  Run(*this, ACTION_APPEND_LAYER, flag, 0, 0, 0, options, layer);
  VelkoDeallocatePtr(session, layer);
  // The engine's run starts with a clear secondary status.
  if (compileStatus != NOERROR && secondary_status == 0)
    secondary_status = VELKO_ERR_INVALID_ARGUMENT;
  return status != NOERROR ? status : compileStatus;
}

STATUS VelkoRTChunk::AppendTable(WORD rows, WORD columns, int adjustable, const char* options,
                                 const char* const* columnTexts) {
  if (rows < 1 || rows > 255 || columns < 1 || columns > kMaxColumns)
    return VELKO_ERR_INVALID_ARGUMENT;
  _internal_SESS& shared = Shared(*this);
  shared.adjustable_table = static_cast<DWORD>(adjustable);
  std::string multiplier;
  double pixelsPerInch = 96;
  if (OptionValue(options, "PixelMultiplier=", &multiplier)) {
    const double value = atof(multiplier.c_str());
    if (value != 0 && value <= 999)
      pixelsPerInch = value;
  }
  const WORD tableWidth = item != nullptr ? item->DefaultTableWidth : 8640;
  const WORD defaultWidth = static_cast<WORD>(tableWidth / columns);
  for (WORD column = 0; column < kMaxColumns; ++column) {
    shared.column_widths[column] = column < columns ? defaultWidth : 0;
    shared.column_width_flags[column] = 0;
    if (column >= columns || column >= kCellTextSlots || columnTexts == nullptr ||
        IsEmptyText(columnTexts[column]))
      continue;
    char* copy = TrackedCopy(session, columnTexts[column], 60);
    if (copy == nullptr) {
      ReleaseCellTexts(session);
      return VELKO_ERR_MEMORY;
    }
    shared.cell_texts[column] = copy;
    ReadColumnWidth(copy, pixelsPerInch, tableWidth, &shared.column_widths[column],
                    &shared.column_width_flags[column]);
  }
  status = NOERROR;
  Run(*this, ACTION_APPEND_TABLE, columns, rows, 0, 0, options);
  ReleaseCellTexts(session);
  return status;
}

STATUS VelkoRTChunk::AppendRow(int flag, WORD row, const char* const* cellTexts) {
  for (WORD slot = 1; slot <= 6; ++slot)
    CleanupEventRetString(slot);
  _internal_SESS& shared = Shared(*this);
  ReleaseCellTexts(session);
  char rowDefinition[32] = "";
  if (target_type == TARGETTYPE_TABLE)
    snprintf(rowDefinition, sizeof rowDefinition, "Row %u", row != 0 ? row : 1u);
  else if (target_type != TARGETTYPE_ROW)
    return VELKO_ERR_NOT_TABLE_OR_ROW;
  if (flag == 0 && cellTexts != nullptr) {
    for (WORD slot = 0; slot < kCellTextSlots; ++slot) {
      if (cellTexts[slot] == nullptr)
        continue;
      shared.cell_texts[slot] = TrackedCopy(session, cellTexts[slot], 0);
      if (shared.cell_texts[slot] == nullptr) {
        ReleaseCellTexts(session);
        return VELKO_ERR_MEMORY;
      }
    }
  }
  shared.found_first = 0;
  shared.found_second = 0;
  const STATUS query = Run(*this, ACTION_QUERY_RECORDS, 0, 0, 0, 0, nullptr, nullptr,
                           rowDefinition);
  // A row query that ran out of memory did not find the row absent: the
  // failure is the answer, not a row silently left unappended.
  if (query == VELKO_ERR_MEMORY) {
    ReleaseCellTexts(session);
    return status = query;
  }
  status = NOERROR;
  if (shared.found_first != 0)
    Run(*this, ACTION_APPEND_ROW, static_cast<WORD>(shared.found_first),
        static_cast<WORD>(shared.found_second), static_cast<WORD>(flag));
  if (flag == 0)
    ReleaseCellTexts(session);
  return status;
}

STATUS VelkoRTChunk::AppendGraphic(const char* kind, const char* source, const char* options) {
  const bool file = IsEmptyText(kind) || SameWord(kind, "FILE");
  if (!file && !SameWord(kind, "URL"))
    return VELKO_ERR_BAD_ARGUMENT; // an attachment kind is not made here either
  status = NOERROR;
  if (source == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  if (!file)
    return Run(*this, ACTION_APPEND_GRAPHIC, 2, 0, 0, 0, source, options);

  std::string attach;
  if (OptionValue(options, "Attach=", &attach) && strcasecmp(attach.c_str(), "no") != 0) {
    std::string name;
    if (item == nullptr || item->note == NULLHANDLE)
      return VELKO_ERR_BAD_ARGUMENT;
    if (!FreeAttachmentName(item->note, source, &name))
      return VELKO_ERR_BAD_ARGUMENT; // a second file of a taken name would hide
                                     // one
    if (STATUS attached = NSFNoteAttachFile(item->note, "$FILE", 5, source, name.c_str(), 0);
        attached != NOERROR) {
      status = attached;
      return status;
    }
    return Run(*this, ACTION_APPEND_GRAPHIC, 1, 0, 0, 0, name.c_str(), options);
  }
  _internal_SESS& shared = Shared(*this);
  shared.append_parameter = 0;
  shared.parameter_text = options;
  Run(*this, ACTION_APPEND_IMPORT_FILE, 1, 0, 0, 1, source);
  shared.parameter_text = nullptr;
  return status;
}

STATUS VelkoRTChunk::AppendFileAttachment(const char* file, const char* name, int flag,
                                          const char* text) {
  _internal_SESS& shared = Shared(*this);
  shared.parameter_text = IsEmptyText(text) ? nullptr : text;
  Run(*this, ACTION_APPEND_FILE_ATTACHMENT, static_cast<WORD>(flag), 0, 0, 0, file, name);
  shared.parameter_text = nullptr;
  return status;
}

STATUS AppendFileAttachments(VelkoRTChunk* chunk, const attachment_batch& batch) {
  if (batch.files.empty())
    return NOERROR;
  _internal_SESS& shared = Shared(*chunk);
  shared.parameter_text = nullptr;
  shared.attachment_batch = &batch;
  Run(*chunk, ACTION_APPEND_FILE_ATTACHMENT);
  shared.attachment_batch = nullptr;
  return chunk->status;
}

STATUS VelkoRTChunk::AppendImportFile(const char* file, const char* options) {
  Run(*this, ACTION_PREPARE_APPEND, 3);
  return Run(*this, ACTION_APPEND_IMPORT_FILE, Shared(*this).append_parameter, 0, 0, 0, file,
             options);
}

STATUS VelkoRTChunk::AppendHTML(const char* source, const char* text, const char* options) {
  WORD kind = 0;
  if (IsEmptyText(source) || SameWord(source, "FILE"))
    kind = 1;
  else if (SameWord(source, "BodyContext"))
    kind = 4;
  else if (strncasecmp(source, "IN", 2) == 0)
    kind = 3;
  else
    return VELKO_ERR_BAD_ARGUMENT; // a URL is not read either
  status = NOERROR;
  Shared(*this).append_parameter = 0;
  return Run(*this, ACTION_APPEND_HTML, kind, 0, 0, 0, text, options);
}

STATUS VelkoRTChunk::AppendFormBody(const char* form) {
  return AppendBody(*this, ACTION_APPEND_FORM_BODY, form);
}

STATUS VelkoRTChunk::AppendPageBody(const char* page) {
  return AppendBody(*this, ACTION_APPEND_PAGE_BODY, page);
}

STATUS VelkoRTChunk::AppendSubformBody(const char* subform) {
  return AppendBody(*this, ACTION_APPEND_SUBFORM_BODY, subform);
}

STATUS VelkoRTChunk::AppendRTItem(const char* server, const char* database, NOTEID noteID,
                                  const char* itemName) {
  if (database == nullptr || itemName == nullptr)
    return VELKO_ERR_INVALID_ARGUMENT;
  _internal_SESS& shared = Shared(*this);
  shared.append_item_name = itemName;
  DBHANDLE db = NULLHANDLE;
  NOTEHANDLE note = NULLHANDLE;
  const int decrypt = item != nullptr ? item->AutoDecrypt : 0;
  if (STATUS opened = OpenNote(session, server, database, noteID, nullptr, nullptr, nullptr, &db,
                               &note, 0, decrypt, nullptr);
      opened != NOERROR) {
    shared.append_item_name = nullptr;
    return opened;
  }
  shared.append_db = db;
  shared.append_note = note;
  STATUS result = VELKO_ERR_BAD_ARGUMENT;
  if (NSFItemInfo(note, itemName, TextLength(itemName), nullptr, nullptr, nullptr, nullptr) ==
      NOERROR) {
    Run(*this, ACTION_PREPARE_APPEND, 5);
    status = NOERROR;
    Run(*this, ACTION_APPEND_RTITEM, shared.append_parameter, 0, 0, 0, itemName);
    result = status;
    if (result != NOERROR && secondary_status == 0)
      secondary_status = VELKO_ERR_IMPORT_FAILED;
  }
  CloseNote(db, note);
  shared.append_db = NULLHANDLE;
  shared.append_note = NULLHANDLE;
  shared.append_item_name = nullptr;
  return result;
}

STATUS VelkoRTChunk::AppendRTChunk(const char* server, const char* database, NOTEID noteID,
                                   const char* itemName, const char* definition, int flag) {
  VelkoRTItem* source = NewObject<VelkoRTItem>(session);
  if (source == nullptr)
    return VELKO_ERR_MEMORY;
  if (STATUS connected = source->Connect(server, database, noteID, itemName, 0);
      connected != NOERROR) {
    delete source;
    return connected;
  }
  VelkoRTChunk* other = source->DefineChunk(definition != nullptr ? definition : "Everything");
  if (other == nullptr) {
    delete source;
    return VELKO_ERR_MEMORY;
  }
  // The source item lives for this copy only: its records may move.
  if (source->internal != nullptr)
    source->internal->records_given_up = true;
  _internal_SESS& shared = Shared(*this);
  link_mode = 0;
  shared.found_first = 0;
  shared.found_second = 0;
  if (flag == 0)
    Run(*this, ACTION_PREPARE_APPEND, 3);
  Run(*other, ACTION_QUERY_RECORDS, 0);
  status = NOERROR;
  if (shared.found_first != 0)
    Run(*this, ACTION_APPEND_RTCHUNK, shared.append_parameter, static_cast<WORD>(flag), 0, 0,
        nullptr, nullptr, nullptr, other);
  else
    status = VELKO_ERR_ITEM_NOT_FOUND;
  delete other;
  delete source;
  return status;
}
