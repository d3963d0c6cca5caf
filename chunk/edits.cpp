/*
 * The chunk's edit methods: fonts, paragraphs, tables, text, highlights,
 * removals, the row sort and the attachment icons and names. Each checks
 * its arguments and reduces its work to one or a few engine actions; what
 * the actions change is the engine's.
 */
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <memory>
#include <string>

#include "chunk/method_support.h"
#include "chunk/rtchunk_internal.h"
#include "host/nls.h"
#include "store/new_object.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "velko/property_string.h"

namespace {

STATUS Run(VelkoRTChunk& chunk, WORD action, WORD p1 = 0, WORD p2 = 0, WORD p3 = 0, WORD p4 = 0,
           const char* s1 = nullptr, const char* s2 = nullptr, const char* extra = nullptr,
           VelkoRTChunk* other = nullptr) {
  return chunk.AlterRichText(action, p1, p2, p3, p4, s1, s2, extra, other);
}

/* ReplaceTextQuick's scope: 1 text, 2 non-text, 4 formulas, 8 hide-when
 * formulas, 16 URLs; 31 everything. */
WORD ReplaceScope(const char* options) {
  if (IsEmptyText(options))
    return 1;
  WORD mask = 0;
  if (strstr(options, "EVERYTHING") != nullptr)
    mask = 31;
  if (strstr(options, "NONTEXT") != nullptr)
    mask |= 2;
  if (strstr(options, "FORMULA") != nullptr)
    mask |= 4;
  if (strstr(options, "HIDEWHEN") != nullptr)
    mask |= 8;
  if (strstr(options, "URL") != nullptr)
    mask |= 16;
  // TEXT counts when any occurrence is not the end of NONTEXT, that is not
  // preceded by an N.
  for (const char* at = strstr(options, "TEXT"); at != nullptr; at = strstr(at + 1, "TEXT")) {
    if (at == options || at[-1] != 'N') {
      mask |= 1;
      break;
    }
  }
  return mask;
}

/* The parameter text of one action, a copy the chunk holds for the call. */
class ParameterText {
public:
  ParameterText(LSXLsiSession* session, const char* text) : session_(session) {
    if (IsEmptyText(text))
      return;
    copy_.reset(NewArray<char>(strlen(text) + 1));
    if (copy_ == nullptr) {
      failed_ = true;
      return;
    }
    strcpy(copy_.get(), text);
    session_->internal->parameter_text = copy_.get();
  }
  ~ParameterText() {
    if (copy_ != nullptr)
      session_->internal->parameter_text = nullptr;
  }
  ParameterText(const ParameterText&) = delete;
  ParameterText& operator=(const ParameterText&) = delete;
  bool failed() const { return failed_; }

private:
  LSXLsiSession* session_;
  std::unique_ptr<char[]> copy_;
  bool failed_ = false;
};

/* A key's value in the options, or "" when the key is absent; present
 * tells whether it was. */
std::string OptionValue(const char* options, const char* key, bool* present = nullptr) {
  if (present != nullptr)
    *present = false;
  if (options == nullptr)
    return std::string();
  std::string value(strlen(options) + 1, '\0');
  if (ExtractProperty(options, key, value.data(), value.size()) == 0)
    return std::string();
  if (present != nullptr)
    *present = true;
  value.resize(strlen(value.c_str()));
  return value;
}

const char* SortSwitches(bool reverse, bool numeric) {
  if (reverse && numeric)
    return "Reverse Numeric";
  if (numeric)
    return "Numeric";
  if (reverse)
    return "Reverse";
  return nullptr;
}

} // namespace

STATUS VelkoRTChunk::ChangeFont(const char* font, const char* options, int flag) {
  if (font == nullptr)
    return NOERROR;
  return Run(*this, ACTION_CHANGE_FONT, static_cast<WORD>(flag), 0, 0, 0, font, options);
}

STATUS VelkoRTChunk::ChangeParagraph(const char* style, const char* options, int flag) {
  if (style == nullptr)
    return NOERROR;
  return Run(*this, ACTION_CHANGE_PARAGRAPH, static_cast<WORD>(flag), 0, 0, 0, style, options);
}

STATUS VelkoRTChunk::ChangeTable(const char* properties, WORD length) {
  if (properties == nullptr || length == 0)
    return NOERROR;
  // The engine reads a copy cut at length bytes; the caller's text stays.
  const size_t available = strnlen(properties, length);
  std::unique_ptr<char[]> copy(NewArray<char>(available + 1));
  if (copy == nullptr) {
    status = VELKO_ERR_MEMORY;
    return status;
  }
  memcpy(copy.get(), properties, available);
  copy[available] = '\0';
  return Run(*this, ACTION_CHANGE_TABLE, 0, 0, 0, 0, copy.get());
}

STATUS VelkoRTChunk::ExpandPabDefs(const char* options) {
  return Run(*this, ACTION_EXPAND_PAB_DEFS, 0, 0, 0, 0, options);
}

STATUS VelkoRTChunk::ExportGraphic(const char* file, const char* options) {
  if (file == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  // The image is brought inline first, so the export reads its segments.
  Run(*this, ACTION_SET_GRAPHIC_STORAGE, ACTION_EXPORT_GRAPHIC, 0, 0, 0, "inline");
  return Run(*this, ACTION_EXPORT_GRAPHIC, 0, 0, 0, 0, file, options);
}

STATUS VelkoRTChunk::ConvertBitmaps(const char*) { return NOERROR; }

STATUS VelkoRTChunk::Highlight(int flag) {
  return Run(*this, ACTION_HIGHLIGHT, static_cast<WORD>(flag));
}

STATUS VelkoRTChunk::HighlightText(const char* text, WORD length) {
  if (text == nullptr)
    return VELKO_ERR_INVALID_ARGUMENT;
  // length counts characters; the engine takes bytes.
  WORD bytes = TextLength(text);
  if (length != 0 &&
      NLS_string_bytes(reinterpret_cast<const BYTE*>(text), length, &bytes, nullptr) != NLS_SUCCESS)
    bytes = TextLength(text);
  return Run(*this, ACTION_HIGHLIGHT_TEXT, 0, bytes, 0, 0, nullptr, text);
}

STATUS VelkoRTChunk::RemoveFields(const char* name, WORD length) {
  if (name != nullptr && length == 0)
    length = TextLength(name);
  return Run(*this, ACTION_REMOVE_FIELDS, length, 0, 0, 0, name);
}

STATUS VelkoRTChunk::ReplaceTextQuick(const char* find, WORD findLength, const char* replacement,
                                      WORD replacementLength, const char* options) {
  if (find == nullptr || replacement == nullptr)
    return VELKO_ERR_INVALID_ARGUMENT;
  return Run(*this, ACTION_REPLACE_TEXT_QUICK, replacementLength, findLength, ReplaceScope(options),
             0, replacement, find);
}

STATUS VelkoRTChunk::RefreshAttachmentIcon(int, const char* text) {
  const ParameterText parameter(session, text);
  if (parameter.failed())
    return VELKO_ERR_MEMORY;
  // No engine work refreshes an icon: the call is refused after its checks.
  return VELKO_ERR_FAILED;
}

STATUS VelkoRTChunk::RenameAttachment(const char*, int, const char* text) {
  const ParameterText parameter(session, text);
  if (parameter.failed())
    return VELKO_ERR_MEMORY;
  // As RefreshAttachmentIcon: no engine work renames an attachment.
  return VELKO_ERR_FAILED;
}

STATUS VelkoRTChunk::SetText(const char* subDefinition, const char* text, WORD length,
                             const char* font) {
  if (IsEmptyText(subDefinition))
    return NOERROR;
  if (text == nullptr) {
    text = "";
    length = 0; // no text: no length of it to read
  }
  if (length == 0)
    length = TextLength(text);
  return Run(*this, ACTION_SET_TEXT, PROP_TEXT, length, 0, 0, text, font, subDefinition);
}

STATUS VelkoRTChunk::SortByRow(WORD column, int titleRowsFlag, int numeric, int reverse,
                               const char* options) {
  if (target_type != TARGETTYPE_TABLE)
    return VELKO_ERR_NOT_TABLE;
  const std::string sortBy = OptionValue(options, "SortBy=");
  const char* keyKind =
      strcasecmp(sortBy.c_str(), "TabLabel") == 0 || strcasecmp(sortBy.c_str(), "RowLabel") == 0
          ? "TabLabel"
          : "TEXT";
  bool present = false;
  const std::string titleText = OptionValue(options, "TitleRows=", &present);
  WORD titleRows = present ? static_cast<WORD>(atoi(titleText.c_str())) : 1;
  if (present && titleRows == 0)
    titleRowsFlag = 0;

  status = NOERROR;
  // One pass per key, the last secondary key first and the primary key
  // last: each pass reorders every row by its one key.
  auto sortPass = [&](WORD keyColumn, bool keyReverse, bool keyNumeric) {
    Run(*this, ACTION_COLLECT_SORT_KEYS, static_cast<WORD>(keyColumn - 1),
        static_cast<WORD>(titleRowsFlag), titleRows, 0, nullptr, keyKind);
    if (status == NOERROR)
      Run(*this, ACTION_SORT_BY_ROW, 0, 0, 0, 0, SortSwitches(keyReverse, keyNumeric), options,
          "Row *", this);
  };
  for (int key = 5; key >= 1 && status == NOERROR; --key) {
    char name[32];
    snprintf(name, sizeof name, "SecondaryCol%d=", key);
    std::string value = OptionValue(options, name, &present);
    if (!present) {
      snprintf(name, sizeof name, "SecondaryRow%d=", key);
      value = OptionValue(options, name, &present);
    }
    if (!present)
      continue;
    snprintf(name, sizeof name, "SecondaryReverse%d=", key);
    const bool keyReverse = strcasecmp(OptionValue(options, name).c_str(), "Yes") == 0;
    snprintf(name, sizeof name, "SecondaryNumeric%d=", key);
    const bool keyNumeric = strcasecmp(OptionValue(options, name).c_str(), "Yes") == 0;
    sortPass(static_cast<WORD>(atoi(value.c_str())), keyReverse, keyNumeric);
  }
  if (status == NOERROR)
    sortPass(column, reverse != 0, numeric != 0);
  if (status == VELKO_ERR_NOTHING_TO_SORT)
    status = NOERROR;
  return status;
}

int VelkoRTChunk::FontInUse(const char* font) {
  if (font == nullptr || session == nullptr)
    return 0;
  strcpy(session->scratch_first, "0");
  Run(*this, ACTION_FONT_IN_USE, 0, 0, 0, 0, font);
  return strcmp(session->scratch_first, "1") == 0 ? 1 : 0;
}
