/*
 * Fields, pass-through HTML and translated text.
 *
 * A field record becomes an empty form control named after the field.
 * Pass-through HTML is copied as it stands (its LMBCS characters too: the
 * output stage's translation pass converts them). Translated text is any
 * other text that reaches the output (titles, attribute values, captions,
 * link texts): written HTML-safe, as ASCII markup, entities and numeric
 * references, so that it may stand in text or in a double-quoted
 * attribute value.
 *
 * A formula text is first evaluated on the rendered note and its result,
 * turned into text, is what is written.
 *
 * Not here: text runs (render/text_runs.cpp).
 */
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string_view>

#include "engine/record_fields.h"
#include "host/nls.h"
#include "host/nsfdata.h"
#include "host/osmem.h"
#include "host/textlist.h"
#include "host/timedate.h"
#include "render/formulas.h"
#include "render/text_render.h"
#include "store/body.h"
#include "store/formula_value.h"
#include "store/rtitem_internal.h"

namespace {

constexpr WORD kFieldRichText = 1;
constexpr WORD kFieldText = 0x0500;
constexpr WORD kFieldTextList = 0x0501;
constexpr DWORD kReplacementCharacter = 0xFFFD;
/* The longest formula text that is evaluated. */
constexpr DWORD kLongestFormula = 65341;

/* The field's name inside its record, cut to the record; empty when the
 * record is shorter than its fixed part. */
std::string_view FieldName(const record_storage *record) {
  if (record->data == nullptr || record->length < sizeof(CDFIELD))
    return {};
  CDFIELD field;
  memcpy(&field, record->data, sizeof field);
  const DWORD before = DWORD{field.DVLength} + field.ITLength + field.VFLength;
  const DWORD start = static_cast<DWORD>(sizeof(CDFIELD)) + before;
  if (start >= record->length)
    return {};
  const DWORD length = std::min<DWORD>(field.NameLength, record->length - start);
  return std::string_view(record->data + start, length);
}

WORD FieldDataType(const record_storage *record) {
  WORD type = 0;
  memcpy(&type, record->data + offsetof(CDFIELD, DataType), sizeof type);
  return type;
}

/* ---- translated text ---- */

/* Where translated text goes: the context's output or a work text. */
class text_sink {
public:
  text_sink(html_render_info *context, render_text *out) : context_(context), out_(out) {}
  void Put(const char *text, size_t length) {
    if (out_ != nullptr)
      RenderTextPut(out_, text, length);
    else
      RenderPut(context_, text, length);
  }
  void Puts(const char *text) { Put(text, strlen(text)); }
  void PutCodePoint(DWORD codePoint) {
    char reference[16];
    const int length =
        snprintf(reference, sizeof reference, "&#%u;", static_cast<unsigned>(codePoint));
    Put(reference, static_cast<size_t>(length));
  }
  bool Failed() const {
    return (out_ != nullptr ? out_->status : context_->output_status) != NOERROR;
  }

private:
  html_render_info *context_;
  render_text *out_;
};

/* A formula result (type word and value) as text, a number range by its
 * first number (store/formula_value.h). */
void ResultText(const char *value, WORD length, render_text *out) {
  class render_sink final : public formula_text_sink {
  public:
    explicit render_sink(render_text *out) : out_(out) {}
    void Put(const char *text, DWORD length) override { RenderTextPut(out_, text, length); }

  private:
    render_text *out_;
  } sink(out);
  WriteFormulaValue(value, length, number_range_text::first_number, &sink);
}

/* The named entities of single bytes of code page 850. */
const char *ByteEntity(BYTE b, bool noExtended) {
  switch (b) {
  case 0xFF:
    return "&nbsp;";
  case 0xAD:
    return "&iexcl;";
  case 0xBD:
    return "&cent;";
  case 0xBE:
    return "&yen;";
  case 0xB8:
    return "&copy;";
  case 0xA8:
    return "&iquest;";
  case 0x9C:
    return "&pound;";
  case 0xA9:
    return noExtended ? nullptr : "&reg;";
  default:
    return nullptr;
  }
}

bool IsForbiddenCodePoint(DWORD codePoint) {
  return (codePoint < 0x20 && codePoint != '\t' && codePoint != '\n' && codePoint != '\r') ||
         (codePoint >= 0x7F && codePoint <= 0x9F) || (codePoint >= 0xD800 && codePoint <= 0xDFFF);
}

/* Settings of one translation. */
struct translation {
  WORD tab_width;
  bool preserve_spaces;
  bool skip_line_breaks;
  bool all_spaces;
  bool no_extended;
  bool xml_entities;
};

constexpr WORD kLargestMappingTabWidth = 80;

translation Settings(const html_render_info *context, const style_mapping *mapping,
                     BOOL skipLineBreaks, BOOL allSpaces) {
  translation settings;
  // A mapping's own tab width wins; one above 80 turns tabs into blanks.
  settings.tab_width = context->preserve_tabs;
  if (mapping != nullptr && mapping->tab_width > kLargestMappingTabWidth)
    settings.tab_width = 0;
  else if (mapping != nullptr && mapping->tab_width != 0)
    settings.tab_width = mapping->tab_width;
  settings.preserve_spaces =
      (context->flags & html_flags::PreserveSpaces) != 0 &&
      (mapping == nullptr || (mapping->flags & STYLE_MAPPING_NO_PRESERVED_SPACES) == 0);
  settings.skip_line_breaks = skipLineBreaks != 0;
  settings.all_spaces = allSpaces != 0;
  settings.no_extended = (context->flags2 & html_flags2::NoExtendedSpecialCharacters) != 0;
  settings.xml_entities = (context->flags3 & html_flags3::UseXMLEntities) != 0;
  return settings;
}

/* A character above ASCII, or one spelled in more than one byte. */
void TranslateCharacter(const translation &settings, const BYTE *at, size_t used, DWORD codePoint,
                        text_sink &sink) {
  if (used == 1 && !settings.xml_entities) {
    if (const char *entity = ByteEntity(at[0], settings.no_extended)) {
      sink.Puts(entity);
      return;
    }
  }
  if (used > 1 && codePoint == 0x20AC) {
    sink.Puts("&euro;");
    return;
  }
  if (used > 1 && codePoint == 0x2122 && !settings.no_extended) {
    sink.Puts("&trade;");
    return;
  }
  if (codePoint < 0x80 && !IsForbiddenCodePoint(codePoint)) {
    // An ASCII character spelled in more than one byte: still escaped.
    const char c = static_cast<char>(codePoint);
    if (c == '"' || c == '<' || c == '>' || c == '&')
      sink.Puts(c == '"' ? "&quot;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : "&amp;");
    else
      sink.PutCodePoint(codePoint);
    return;
  }
  sink.PutCodePoint(IsForbiddenCodePoint(codePoint) ? kReplacementCharacter : codePoint);
}

/* Writes the spaces from i on, each as "&nbsp;"; i ends on the last. */
void PutSpaceRun(const BYTE *text, DWORD length, DWORD &i, text_sink &sink) {
  while (i < length && text[i] == ' ') {
    sink.Puts("&nbsp;");
    ++i;
  }
  --i;
}

void TranslateAscii(html_render_info *context, const translation &settings, const BYTE *text,
                    DWORD length, DWORD &i, text_sink &sink) {
  const BYTE b = text[i];
  switch (b) {
  case '"':
    sink.Puts("&quot;");
    return;
  case '<':
    sink.Puts("&lt;");
    return;
  case '>':
    sink.Puts("&gt;");
    return;
  case '&':
    sink.Puts("&amp;");
    return;
  case '\t':
    if (settings.tab_width == 0)
      sink.Puts("\t");
    for (WORD k = 0; k < settings.tab_width; ++k)
      sink.Puts("&nbsp;");
    return;
  case '\0':
    if (settings.skip_line_breaks)
      return;
    sink.Puts(context->generation == kGenerationHTML ? "<br>" : "<br />");
    if (context->table_level < kRenderTableLevels)
      context->cell_empty[context->table_level] = 0;
    return;
  case ' ':
    if (settings.all_spaces || (settings.preserve_spaces && i + 1 < length && text[i + 1] == ' ')) {
      PutSpaceRun(text, length, i, sink);
      return;
    }
    sink.Puts(i + 1 < length ? " " : "&nbsp;");
    return;
  case '\r':
  case '\n':
    // A line end inside an attribute value would be read as a blank.
    if (!settings.skip_line_breaks)
      sink.Puts(b == '\r' ? "&#13;" : "&#10;");
    return;
  default:
    break;
  }
  if (b < 0x20 || b == 0x7F) {
    sink.PutCodePoint(kReplacementCharacter);
    return;
  }
  const char c = static_cast<char>(b);
  sink.Put(&c, 1);
}

void Translate(html_render_info *context, const char *text, DWORD length,
               const style_mapping *mapping, render_text *out, BOOL skipLineBreaks, BOOL allSpaces,
               BOOL isFormula) {
  if (text == nullptr)
    return;
  render_text result{context->session};
  if (isFormula != 0) {
    const DWORD formulaLength = length > kLongestFormula ? kLongestFormula : length;
    // A formula that does not start or evaluate is shown as its bytes;
    // memory running out fails the output instead.
    const STATUS status = RenderFormulaText(context, text, formulaLength, &result);
    if (status == VELKO_ERR_MEMORY) {
      if (out != nullptr && out->status == NOERROR)
        out->status = VELKO_ERR_MEMORY;
      else if (out == nullptr && context->output_status == NOERROR)
        context->output_status = VELKO_ERR_MEMORY;
      return;
    }
    if (status == NOERROR) {
      text = result.data;
      length = result.length;
    } else {
      length = formulaLength;
    }
  }
  const translation settings = Settings(context, mapping, skipLineBreaks, allSpaces);
  text_sink sink(context, out);
  const BYTE *bytes = reinterpret_cast<const BYTE *>(text);
  for (DWORD i = 0; i < length && !sink.Failed(); ++i) {
    const BYTE b = bytes[i];
    if (b < 0x80 && NLS_isleadbyte(b, nullptr) == FALSE) {
      TranslateAscii(context, settings, bytes, length, i, sink);
      continue;
    }
    DWORD codePoint = kReplacementCharacter;
    const size_t used = ReadLmbcsCharacter(text + i, length - i, &codePoint);
    TranslateCharacter(settings, bytes + i, used, codePoint, sink);
    i += static_cast<DWORD>(used) - 1;
  }
  RenderTextFree(&result);
}

} // namespace

STATUS ProcessXMLField(html_render_info *context, WORD) {
  const record_storage *record = context->current_record;
  if (record == nullptr || record->signature != SIG_CD_FIELD || record->data == nullptr ||
      record->length < sizeof(CDFIELD))
    return context->output_status;
  const WORD type = FieldDataType(record);
  if (type != kFieldRichText && type != kFieldText && type != kFieldTextList)
    return context->output_status;
  const std::string_view name = FieldName(record);
  if (type == kFieldRichText)
    RenderPuts(context, "<textarea name=\"");
  else
    RenderPuts(context, "<input name=\"");
  RenderPutEscaped(context, kEscapeAttribute, name.data(), name.size());
  if (type == kFieldRichText)
    RenderPuts(context, "\" rows=\"7\" cols=\"50\"></textarea>");
  else
    RenderPuts(context,
               context->generation == kGenerationHTML ? "\" value=\"\">" : "\" value=\"\" />");
  return context->output_status;
}

STATUS ProcessXMLPassthruHTML(html_render_info *context, WORD) {
  record_storage *record = context->current_record;
  while (record != nullptr && record->signature != SIG_CD_HTMLEND &&
         !IsBeyondLast(context, record) && context->output_status == NOERROR) {
    const bool text = IsTextRun(record);
    if (text && record->data != nullptr && record->length > sizeof(CDTEXT)) {
      const char *bytes = record->data + sizeof(CDTEXT);
      const DWORD length = record->length - static_cast<DWORD>(sizeof(CDTEXT));
      DWORD run = 0; // start of the bytes not written yet
      for (DWORD i = 0; i < length;) {
        const DWORD used = static_cast<DWORD>(LmbcsCharacterBytes(bytes + i, length - i));
        if (used == 1 && bytes[i] == '\0') {
          RenderPut(context, bytes + run, i - run);
          RenderPuts(context, "\r\n");
          run = i + 1;
        }
        i += used;
      }
      RenderPut(context, bytes + run, length - run);
      const DWORD threshold = context->event_chunk_size;
      if (threshold != 0 && context->output_length + 7 > threshold && RenderHasSink(context, 0)) {
        CloseXMLAutoURL(context);
        if (context->output_hold == 0) // a position held in the text must not move
          RenderFlush(context, 0);
      }
    } else if (record->signature == SIG_CD_PARAGRAPH && context->newline_on_paragraph != 0) {
      RenderPuts(context, "\r\n");
    }
    // The last record of the list is copied too; the cursor stays on it.
    if (record->next == nullptr)
      break;
    record = record->next;
  }
  context->current_record = record;
  return context->output_status;
}

void CopyTranslatedTextToBuffer(html_render_info *context, const char *text, DWORD length,
                                const style_mapping *mapping, render_text *out, BOOL skipLineBreaks,
                                BOOL allSpaces, BOOL isFormula) {
  if (out == nullptr)
    return;
  Translate(context, text, length, mapping, out, skipLineBreaks, allSpaces, isFormula);
}

void CopyTranslatedText(html_render_info *context, const char *text, DWORD length,
                        const style_mapping *mapping, BOOL skipLineBreaks, BOOL allSpaces,
                        BOOL isFormula) {
  Translate(context, text, length, mapping, nullptr, skipLineBreaks, allSpaces, isFormula);
}

STATUS RenderFormulaText(html_render_info *context, const char *formula, DWORD length,
                         render_text *out, bool *started) {
  DHANDLE result = NULLHANDLE;
  WORD resultLength = 0;
  const STATUS status =
      EvaluateRenderFormula(context, formula, length, &result, &resultLength, started);
  if (status != NOERROR)
    return status;
  ResultText(static_cast<const char *>(OSLockObject(result)), resultLength, out);
  OSUnlockObject(result);
  OSMemFree(result);
  return out->status;
}
