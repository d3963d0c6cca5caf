/*
 * The chunk's named properties: reading a property as text or number and
 * setting it from a number or a text, over the property table
 * (store/vocabulary.h). A read runs the property's get action and turns
 * what the engine left in the session into text and number; a set runs the
 * set action with the property's id and the value. What the actions do is
 * the engine's.
 */
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>

#include "chunk/method_support.h"
#include "chunk/rtchunk_internal.h"
#include "generate/color_string.h"
#include "host/formula.h"
#include "host/osenv.h"
#include "host/osmem.h"
#include "host/status.h"
#include "store/host_release.h"
#include "store/messages.h"
#include "store/owned_text.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "velko/property_string.h"

namespace {

enum : WORD {
  kClassResult = 0,
  kClassScratch1 = 1,
  kClassScratch2 = 2,
  kClassScratch3 = 3,
  kClassFlag1 = 11,
  kClassFlag3 = 13,
  kClassWordA = 14,
  kClassFoundFirst = 15,
  kClassFoundSecond = 16,
  kClassSearchFlag = 17,
  kClassWordB = 18,
  kClassNumber3 = 19,
  kClassPabid = 20,
};

constexpr WORD kIdActionFormula = 2301;
constexpr WORD kIdPopupText = 2340;

/* The chunk's search flag a row of class 17 names; null for another row. */
WORD* SearchFlag(VelkoRTChunk& chunk, const char* name) {
  struct flag_row {
    const char* name;
    WORD VelkoRTChunk::*flag;
  };
  static const flag_row rows[] = {
      {"AccentSensitive", &VelkoRTChunk::AccentSensitive},
      {"CaseSensitive", &VelkoRTChunk::CaseSensitive},
      {"RegularExpression", &VelkoRTChunk::RegularExpression},
      {"SearchWordBoundaries", &VelkoRTChunk::SearchWordBoundaries},
      {"SetImpliedProperties", &VelkoRTChunk::SetImpliedProperties},
      {"TextWildcards", &VelkoRTChunk::TextWildcards},
  };
  for (const flag_row& row : rows)
    if (strcasecmp(name, row.name) == 0)
      return &(chunk.*row.flag);
  return nullptr;
}

/* The session text a class reads from; null for the classes of words. */
char* ClassText(LSXLsiSession* session, WORD resultClass) {
  switch (resultClass) {
  case kClassResult:
    return session->result_text;
  case kClassScratch1:
  case kClassFlag1:
    return session->scratch_first;
  case kClassScratch2:
    return session->scratch_second;
  case kClassScratch3:
  case kClassFlag3:
  case kClassNumber3:
    return session->scratch_third;
  default:
    return nullptr;
  }
}

void ClearClassPlace(LSXLsiSession* session, WORD resultClass) {
  _internal_SESS* internal = session->internal;
  if (char* text = ClassText(session, resultClass); text != nullptr) {
    text[0] = '\0';
    if (resultClass == kClassResult)
      session->result_length = 0;
    return;
  }
  switch (resultClass) {
  case kClassWordA:
    internal->property_word_a = 0;
    break;
  case kClassWordB:
    internal->property_word_b = 0;
    break;
  case kClassPabid:
    internal->pabid_word = 0;
    break;
  case kClassFoundFirst:
  case kClassFoundSecond:
    internal->found_first = 0;
    internal->found_second = 0;
    break;
  default:
    break;
  }
}

/* The text a class leaves: the result text up to its length word, the
 * scratch texts up to their NUL. */
std::string ClassTextValue(LSXLsiSession* session, WORD resultClass) {
  if (resultClass == kClassResult)
    return std::string(session->result_text, strnlen(session->result_text, session->result_length));
  const char* text = ClassText(session, resultClass);
  return text == nullptr ? std::string()
                         : std::string(text, strnlen(text, VELKO_SCRATCH_TEXT_SIZE));
}

/* The number a class of words leaves. */
long ClassWord(const LSXLsiSession* session, WORD resultClass) {
  const _internal_SESS* internal = session->internal;
  switch (resultClass) {
  case kClassWordA:
    return internal->property_word_a;
  case kClassWordB:
    return internal->property_word_b;
  case kClassPabid:
    return internal->pabid_word;
  case kClassFoundFirst:
    return static_cast<long>(internal->found_first);
  case kClassFoundSecond:
    return static_cast<long>(internal->found_second);
  default:
    return 0;
  }
}

/* Copies the text into the caller's buffer of size bytes: at most size - 1
 * bytes, cut between whole characters, and a NUL. Returns the bytes
 * copied. */
WORD CopyOut(const std::string& text, char* out, WORD size) {
  if (out == nullptr || size == 0)
    return 0;
  const size_t length =
      text.size() < size ? text.size()
                         : WholeCharacters(text.data(), static_cast<DWORD>(text.size()), size - 1u);
  memcpy(out, text.data(), length);
  out[length] = '\0';
  return static_cast<WORD>(length);
}

std::string FormatNumber(double value) {
  char text[64];
  snprintf(text, sizeof text, "%f", value);
  return text;
}

std::string FormatWord(long value) {
  char text[32];
  snprintf(text, sizeof text, "%ld", value);
  return text;
}

/* ActionFormula's read: the compiled formula the engine leaves in the
 * result text, decompiled there. */
void DecompileActionFormula(LSXLsiSession* session) {
  if (session->result_length == 0)
    return;
  DHANDLE source = NULLHANDLE;
  WORD sourceLength = 0;
  STATUS status = NSFFormulaDecompile(session->result_text, FALSE, &source, &sourceLength);
  if (status == NOERROR) {
    const char* text = static_cast<const char*>(OSLockObject(source));
    if (text != nullptr) {
      // Any length the word holds fits the result text with its NUL.
      static_assert(VELKO_RESULT_TEXT_SIZE - 1 > 0xFFFF);
      const size_t length = sourceLength;
      memcpy(session->result_text, text, length);
      session->result_text[length] = '\0';
      session->result_length = static_cast<WORD>(length);
      OSUnlockObject(source);
      ReleaseHostMemory(source);
      return;
    }
    ReleaseHostMemory(source);
    status = 263;
  }
  char message[12 + 1025] = "*** Error: ";
  OSLoadString(NULLHANDLE, static_cast<STATUS>(status & STATUS_CODE_MASK), message + 11, 1025);
  const size_t length = strlen(message);
  memcpy(session->result_text, message, length + 1);
  session->result_length = static_cast<WORD>(length);
}

struct property_value {
  std::string text;
  double number = 0;
  bool counts_bytes = false; /* the text form returns its length */
};

/* The in-code rows the chunk answers without the engine. */
bool AnswerInCode(VelkoRTChunk& chunk, const rtchunk_prop& row, property_value* value) {
  LSXLsiSession* session = chunk.session;
  if (WORD* flag = SearchFlag(chunk, row.name); flag != nullptr) {
    value->number = *flag != 0 ? 1 : 0;
    value->text = FormatNumber(value->number);
    return true;
  }
  if (strcasecmp(row.name, "Definition") == 0) {
    value->text = chunk.definition != nullptr ? chunk.definition : "";
    value->number = atof(value->text.c_str());
    return true;
  }
  if (strcasecmp(row.name, "Exists") == 0) {
    value->number = chunk.Exists() == 1 ? 1 : 0;
    value->text = FormatNumber(value->number);
    return true;
  }
  if (strcasecmp(row.name, "TargetNth") == 0) {
    strcpy(session->scratch_third, "0");
    value->text = FormatNumber(0);
    return true;
  }
  if (strcasecmp(row.name, "CellColor") == 0 || strcasecmp(row.name, "TargetType") == 0 ||
      strcasecmp(row.name, "UnformattedText") == 0 ||
      strcasecmp(row.name, "UnzoomedDefinition") == 0)
    return true;
  return false;
}

/* The read of a row through its get action. */
void ReadThroughEngine(VelkoRTChunk& chunk, const rtchunk_prop& row, property_value* value) {
  LSXLsiSession* session = chunk.session;
  const bool targetRowOrColumn = row.id == PROP_TARGETCOLUMN || row.id == PROP_TARGETROW;
  if (targetRowOrColumn)
    strcpy(session->scratch_third, "0");
  // Rows without a get action of their own are answered by the action of
  // their id.
  const WORD action = row.get_action != 0 ? row.get_action : row.id;
  chunk.AlterRichText(action, row.id, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  if (row.id == kIdActionFormula && row.chunk_answers)
    DecompileActionFormula(session);

  // The link rows' action answers in the third scratch text, PopupText too.
  WORD resultClass = row.result_class;
  if (row.id == kIdPopupText && resultClass == kClassResult)
    resultClass = kClassScratch3;

  switch (resultClass) {
  case kClassResult:
  case kClassScratch1:
  case kClassScratch2:
  case kClassScratch3:
    value->text = ClassTextValue(session, resultClass);
    value->number = atof(value->text.c_str());
    value->counts_bytes = !row.chunk_answers || row.id == kIdActionFormula;
    return;
  case kClassFlag1:
  case kClassFlag3:
    value->text = ClassTextValue(session, resultClass);
    value->number = strcasecmp(value->text.c_str(), "TRUE") == 0 ? 1 : 0;
    return;
  case kClassNumber3:
    value->text = ClassTextValue(session, resultClass);
    value->number = atof(value->text.c_str());
    if (targetRowOrColumn)
      value->text = FormatNumber(value->number);
    return;
  case kClassWordA: {
    const long word = ClassWord(session, resultClass);
    char text[16];
    snprintf(text, sizeof text, "%u", static_cast<unsigned>(word));
    value->text = text;
    value->number = static_cast<double>(word);
    return;
  }
  default: {
    const long word = ClassWord(session, resultClass);
    value->text = FormatWord(word);
    value->number = static_cast<double>(word);
    return;
  }
  }
}

/* Formats a message naming the property into the result text and shows it. */
void RefuseSet(LSXLsiSession* session, const char* format, const char* name) {
  const int length = snprintf(session->result_text, VELKO_RESULT_TEXT_SIZE, format, name);
  session->result_length = static_cast<WORD>(length < 0 ? 0 : length);
  ShowUserMessage(session->result_text);
}

/* The read-only and no-handler refusals; true when the row may be set. */
bool MaySet(LSXLsiSession* session, const rtchunk_prop& row) {
  if (row.read_only) {
    RefuseSet(session, "@Tarno: Unable to set read-only property '%s'", row.name);
    return false;
  }
  if (!row.chunk_answers && row.set_action == 0) {
    RefuseSet(session, "@Tarno: No handler enabled to set property '%s'", row.name);
    return false;
  }
  return true;
}

/* Compiles value into the result text and runs the set action with the
 * compiled bytes; an empty value runs it with none (removing the formula). */
int SetFormula(VelkoRTChunk& chunk, const rtchunk_prop& row, const char* value, WORD length) {
  LSXLsiSession* session = chunk.session;
  ClearResultText(session);
  if (length != 0) {
    const compiled_formula compiled =
        CompileFormulaInto(value, length, session->result_text, kResultCodeRoom);
    if (compiled.status != NOERROR || compiled.too_long) {
      if (compiled.compile_error != NOERROR)
        ShowFormulaError(compiled.compile_error);
      ClearResultText(session);
      return 0;
    }
    session->result_length = compiled.length;
  }
  chunk.status = NOERROR;
  chunk.AlterRichText(row.set_action, row.id, session->result_length, 0, 0,
                      session->result_length != 0 ? session->result_text : "", nullptr, nullptr,
                      nullptr);
  return chunk.status == NOERROR ? 1 : 0;
}

/* The session's cell colour from a colour text (upper-cased): a palette
 * colour by its index, any other colour by its RGB value. False when the
 * text names no colour; the session keeps its colour then. */
bool SetSessionCellColor(LSXLsiSession* session, const char* value, WORD length) {
  std::string text(value != nullptr ? value : "", value != nullptr ? strnlen(value, length) : 0);
  for (char& c : text)
    c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  _internal_SESS* shared = session->internal;
  WORD index = 0;
  DWORD rgb = 0;
  if (ParseColorString(text.c_str(), &index, &rgb, shared->global_client_preference) != NOERROR)
    return false;
  const bool palette = index < kPaletteColors && RGB_TABLE[index] == rgb;
  shared->cell_color_index = palette ? index : 0;
  shared->cell_color_rgb = palette ? 0 : rgb;
  return true;
}

/* Runs the set action of a row with a text value. */
int SetTextValue(VelkoRTChunk& chunk, const rtchunk_prop& row, const char* value, WORD length) {
  if (row.set_action == ACTION_SET_ACTION_FORMULA || row.set_action == ACTION_SET_HIDE_FORMULA)
    return SetFormula(chunk, row, value, length);
  if (row.set_action == ACTION_SET_CELL_COLOR &&
      !SetSessionCellColor(chunk.session, value, length))
    return 0;
  chunk.status = NOERROR;
  chunk.AlterRichText(row.set_action, row.id, length, 0, 0, value, nullptr, nullptr, nullptr);
  return chunk.status == NOERROR ? 1 : 0;
}

/* Runs the set action of a row with a text value of the byte length: one
 * longer than a length word counts is refused whole (1028) rather than
 * compiled or set cut to its low 16 bits. */
int SetMeasuredTextValue(VelkoRTChunk& chunk, const rtchunk_prop& row, const char* value,
                         size_t length) {
  if (length > 0xFFFF) {
    chunk.status = VELKO_ERR_BAD_ARGUMENT;
    return 0;
  }
  return SetTextValue(chunk, row, value, static_cast<WORD>(length));
}

} // namespace

void VelkoRTChunk::GetPropertyInternal(const char* name, char* text, WORD size, double* number,
                                       WORD wantNumber, WORD* written) {
  if (text != nullptr && size != 0)
    text[0] = '\0';
  if (number != nullptr)
    *number = 0;
  if (written != nullptr)
    *written = 0;
  const rtchunk_prop* row = name != nullptr ? LookupChunkProperty(name) : nullptr;
  if (row == nullptr || session == nullptr)
    return;
  ClearClassPlace(session, row->result_class);

  property_value value;
  if (!row->chunk_answers || !AnswerInCode(*this, *row, &value))
    ReadThroughEngine(*this, *row, &value);
  if (wantNumber != 0) {
    if (number != nullptr)
      *number = value.number;
    return;
  }
  const WORD copied = CopyOut(value.text, text, size);
  if (written != nullptr && value.counts_bytes)
    *written = copied;
}

double VelkoRTChunk::GetPropertyNumber(const char* name) {
  double number = 0;
  GetPropertyInternal(name, nullptr, 0, &number, 1, nullptr);
  return number;
}

WORD VelkoRTChunk::GetPropertyText(const char* name, char* buffer, WORD size) {
  WORD written = 0;
  GetPropertyInternal(name, buffer, size, nullptr, 0, &written);
  return written;
}

int VelkoRTChunk::SetPropertyNumber(const char* name, double value) {
  const rtchunk_prop* row = name != nullptr ? LookupChunkProperty(name) : nullptr;
  if (row == nullptr || session == nullptr)
    return 0;
  if (!MaySet(session, *row))
    return 0;
  const long whole = static_cast<long>(value); // truncated toward zero
  // A row answered in a scratch text gets "TRUE" there for the value 0 and
  // "FALSE" for any other value before its set action runs.
  if (row->result_class == kClassScratch1)
    strcpy(session->scratch_first, whole == 0 ? "TRUE" : "FALSE");
  else if (row->result_class == kClassScratch3)
    strcpy(session->scratch_third, whole == 0 ? "TRUE" : "FALSE");

  if (row->chunk_answers) {
    if (WORD* flag = SearchFlag(*this, row->name); flag != nullptr) {
      *flag = static_cast<WORD>(whole);
      return 1;
    }
    if (row->set_action == ACTION_SET_PASSTHRU_HTML) {
      status = NOERROR;
      AlterRichText(ACTION_SET_PASSTHRU_HTML, static_cast<WORD>(whole), 0, 0, 0, nullptr, nullptr,
                    nullptr, nullptr);
      if (status == NOERROR)
        AlterRichText(ACTION_CLEANUP_TEXT_RUNS, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
      return status == NOERROR ? 1 : 0;
    }
    if (row->set_action == 0)
      return 0;
  }
  if (row->kind == RTCHUNK_PROP_KIND_TEXT) {
    // A text property takes the number's digits.
    const std::string digits = FormatWord(whole);
    return SetTextValue(*this, *row, digits.c_str(), static_cast<WORD>(digits.size()));
  }
  status = NOERROR;
  AlterRichText(row->set_action, row->id, static_cast<WORD>(whole), 0, 0, nullptr, nullptr, nullptr,
                nullptr);
  return status == NOERROR ? 1 : 0;
}

int VelkoRTChunk::SetPropertyText(const char* name, const char* value, WORD length) {
  if (name == nullptr || session == nullptr)
    return 0;
  if (value == nullptr) {
    // name is a list of Name=value pairs: the first row in table order that
    // can be set and is a key of the list is set, and only that one.
    if (strchr(name, '=') == nullptr)
      return 0;
    for (size_t i = 0; i < kChunkPropertyCount && rtchunk_prop_table[i].name != nullptr; ++i) {
      const rtchunk_prop& row = rtchunk_prop_table[i];
      if (row.set_action == 0)
        continue;
      const std::string key = std::string(row.name) + "=";
      std::string found(strlen(name) + 1, '\0');
      if (ExtractProperty(name, key.c_str(), found.data(), found.size()) == 0)
        continue;
      return SetMeasuredTextValue(*this, row, found.c_str(), strlen(found.c_str()));
    }
    return 0;
  }
  const rtchunk_prop* row = LookupChunkProperty(name);
  if (row == nullptr || !MaySet(session, *row))
    return 0;
  if (row->chunk_answers && row->set_action == 0)
    return 0;
  // A length of 0 means the value's whole string length, not one cut to a
  // word.
  return SetMeasuredTextValue(*this, *row, value, length != 0 ? length : strlen(value));
}
