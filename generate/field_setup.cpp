/*
 * Filling a field's record buffers from a property string (SetupFieldData,
 * generate/field.h): new or held CDFIELD, CDEXTFIELD and CDEXT2FIELD
 * records, the embedded control and the CDIDNAME, changed by the field's
 * type word and its format keys. The records are changed on copies and
 * stored back only when every one fits its buffer.
 */
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>
#include <vector>

#include "generate/attribute_strings.h"
#include "generate/field.h"
#include "host/formula.h"
#include "host/nsfdata.h"
#include "host/osmem.h"
#include "velko/property_string.h"
#include "velko/status.h"

namespace {

constexpr WORD kListDelimiter = 0x3006;
/* The largest CDIDNAME the buffers take. */
constexpr size_t kLargestIdName = 64382;

/* The CDFIELD split into its fixed part and its six texts. */
struct field_parts {
  CDFIELD fixed = {};
  std::string texts[6]; /* default value, translation, validation, name, description, values */
  enum { kDefault, kTranslation, kValidation, kName, kDescription, kValues };

  bool Load(const std::vector<BYTE>& record) {
    if (record.size() < sizeof fixed)
      return false;
    memcpy(&fixed, record.data(), sizeof fixed);
    const WORD lengths[6] = {fixed.DVLength,   fixed.ITLength,   fixed.VFLength,
                             fixed.NameLength, fixed.DescLength, fixed.TextValueLength};
    size_t at = sizeof fixed;
    for (int i = 0; i < 6; ++i) {
      if (at + lengths[i] > record.size())
        return false;
      texts[i].assign(reinterpret_cast<const char*>(record.data()) + at, lengths[i]);
      at += lengths[i];
    }
    return true;
  }

  std::vector<BYTE> Build() {
    fixed.Header.Signature = SIG_CD_FIELD;
    WORD* lengths[6] = {&fixed.DVLength,   &fixed.ITLength,   &fixed.VFLength,
                        &fixed.NameLength, &fixed.DescLength, &fixed.TextValueLength};
    size_t total = sizeof fixed;
    for (int i = 0; i < 6; ++i) {
      *lengths[i] = static_cast<WORD>(texts[i].size());
      total += texts[i].size();
    }
    fixed.Header.Length = static_cast<WORD>(total > 0xFFFF ? 0 : total);
    std::vector<BYTE> record(reinterpret_cast<const BYTE*>(&fixed),
                             reinterpret_cast<const BYTE*>(&fixed) + sizeof fixed);
    for (const std::string& text : texts)
      record.insert(record.end(), text.begin(), text.end());
    return record;
  }
};

/* Reads the key's values; a value is no longer than the string. A value
 * read lives until the next read. */
class field_keys {
  /* A value longer than a record can hold is cut. */
  static constexpr size_t kLargestValue = 65535;

public:
  explicit field_keys(const char* properties) : properties_(properties) {
    const size_t length = properties == nullptr ? 0 : strnlen(properties, kLargestValue);
    value_.resize(length + 1);
  }
  const char* Get(const char* key) {
    if (ExtractProperty(properties_, key, value_.data(), value_.size()) == 0)
      return nullptr;
    return value_.data();
  }
  /* Present: 1 for "Yes" or "YES", else 0; absent: -1. */
  int Flag(const char* key) {
    const char* value = Get(key);
    if (value == nullptr)
      return -1;
    return strcmp(value, "Yes") == 0 || strcmp(value, "YES") == 0 ? 1 : 0;
  }

private:
  const char* properties_;
  std::vector<char> value_;
};

template <typename T> void SetBits(T* word, T bits, int flag) {
  if (flag > 0)
    *word = static_cast<T>(*word | bits);
  else if (flag == 0)
    *word = static_cast<T>(*word & ~bits);
}

bool Same(const char* a, const char* b) { return a != nullptr && strcasecmp(a, b) == 0; }

/* The index of value among the names (case-insensitive unless exact),
 * or -1. */
int Choice(const char* value, std::initializer_list<const char*> names, bool exact = false) {
  if (value == nullptr)
    return -1;
  int index = 0;
  for (const char* name : names) {
    if (exact ? strcmp(value, name) == 0 : strcasecmp(value, name) == 0)
      return index;
    ++index;
  }
  return -1;
}

/* A compiled formula as bytes; false when it does not compile. */
bool Compile(const char* text, std::string* compiled) {
  FORMULAHANDLE handle = NULLHANDLE;
  WORD length = 0;
  STATUS error = 0;
  if (NSFFormulaCompile(nullptr, 0, text, 0, &handle, &length, &error, nullptr, nullptr, nullptr,
                        nullptr) != NOERROR)
    return false;
  const char* bytes = static_cast<const char*>(OSLockObject(handle));
  compiled->assign(bytes, length);
  OSUnlockObject(handle);
  OSMemFree(handle);
  return true;
}

template <typename T> std::vector<BYTE> NewRecord(WORD signature) {
  T record = {};
  record.Header.Signature = signature;
  record.Header.Length = sizeof record;
  const BYTE* bytes = reinterpret_cast<const BYTE*>(&record);
  return std::vector<BYTE>(bytes, bytes + sizeof record);
}

/* The record a buffer holds (empty when none). */
std::vector<BYTE> Held(const field_buffer& buffer) {
  if (buffer.data == nullptr || buffer.capacity < sizeof(WSIG))
    return {};
  WSIG header;
  memcpy(&header, buffer.data, sizeof header);
  if (header.Length < sizeof header || header.Length > buffer.capacity)
    return {};
  return std::vector<BYTE>(buffer.data, buffer.data + header.Length);
}

template <typename T> T Fixed(const std::vector<BYTE>& record) {
  T fields = {};
  if (!record.empty())
    memcpy(&fields, record.data(), record.size() < sizeof fields ? record.size() : sizeof fields);
  return fields;
}

template <typename T> void StoreFixed(std::vector<BYTE>* record, const T& fields) {
  if (record->size() < sizeof fields)
    record->resize(sizeof fields);
  memcpy(record->data(), &fields, sizeof fields);
}

/* The list or single form of a text, number or time type. */
WORD ListForm(WORD type, bool list) {
  const WORD single = static_cast<WORD>(type & ~1);
  if (single != TYPE_TEXT && single != TYPE_NUMBER && single != TYPE_TIME)
    return type;
  return list ? static_cast<WORD>(single | 1) : single;
}

void ApplyType(const char* type, field_parts* field, CDEXTFIELD* ext, DWORD* controlFlags,
               field_keys* keys) {
  CDFIELD& f = field->fixed;
  const bool list = keys->Flag("Multiple=") == 1;
  const int choice = Choice(type, {"Rich", "Formula", "Radio", "Check", "Text", "Number",
                                   "Date/Time", "Date", "Time", "Names", "Author", "Reader",
                                   "Listbox", "Combo", "Password", "Keyword", "Dialog"});
  switch (choice) {
  case 0:
    f.DataType = TYPE_COMPOSITE;
    f.Flags = 0x0080;
    f.ListDelim = 0;
    return;
  case 1:
    f.DataType = TYPE_FORMULA;
    return;
  case 2:
    f.DataType = TYPE_TEXT;
    f.Flags = 0x8280;
    return;
  case 3:
    f.Flags = 0x4280;
    f.DataType = ListForm(TYPE_TEXT, list);
    break;
  case 4:
    f.Flags = 0x0080;
    f.DataType = ListForm(TYPE_TEXT, list);
    SetBits<DWORD>(controlFlags, CDEMBEDDEDCTL_MULTILINE, keys->Flag("MultiLine="));
    SetBits<DWORD>(controlFlags, CDEMBEDDEDCTL_VERTSCROLL, keys->Flag("VertScroll="));
    break;
  case 5:
    f.DataType = ListForm(TYPE_NUMBER, list);
    break;
  case 6:
  case 7:
  case 8:
    f.DataType = ListForm(TYPE_TIME, list);
    break;
  case 9:
  case 10:
  case 11: {
    const WORD keep[] = {0x3DEE, 0x3DEF, 0x3DFE};
    const WORD add[] = {0x84, 0x85, 0x94};
    f.Flags = static_cast<WORD>((f.Flags & keep[choice - 9]) | add[choice - 9]);
    f.DataType = ListForm(TYPE_TEXT, list);
    if (choice != 9)
      ext->Flags1 |= 0x80040000;
    ext->Flags1 &= ~0x20u;
    break;
  }
  case 12:
    f.Flags = 0x0280;
    ext->Flags1 |= 0x80040000 | 0x2;
    f.DataType = ListForm(TYPE_TEXT, list);
    break;
  case 13:
    f.Flags = 0xC280;
    ext->Flags1 |= 0x40040000;
    f.DataType = ListForm(TYPE_TEXT, list);
    break;
  case 14:
    f.Flags = 0x2080;
    ext->Flags1 |= 0x80040000 | 0x20;
    f.DataType = ListForm(TYPE_TEXT, list);
    break;
  case 15:
    f.Flags = 0x0280;
    ext->Flags1 = 0;
    f.DataType = ListForm(TYPE_TEXT, list);
    break;
  case 16:
    f.Flags = 0x0280;
    ext->Flags1 |= CDEXTFIELD_FLAGS1_DIALOG;
    f.DataType = ListForm(TYPE_TEXT, list);
    break;
  default:
    if (keys->Flag("Multiple=") >= 0)
      f.DataType = ListForm(f.DataType, list);
    break;
  }
  if (keys->Flag("Multiple=") >= 0 || choice >= 0)
    f.ListDelim = f.DataType != ListForm(f.DataType, false) ? kListDelimiter : 0;
}

/* The edit kind and, for the computed kinds, the compiled formulas. */
bool ApplyKind(field_keys* keys, field_parts* field) {
  const char* kind = keys->Get("Kind=");
  if (kind == nullptr)
    return true;
  WORD& flags = field->fixed.Flags;
  if (Same(kind, "Edit")) {
    flags |= 0x008A;
    return true;
  }
  if (strncasecmp(kind, "Computed when", 13) == 0)
    flags &= 0xFEF5;
  else if (strncasecmp(kind, "Computed for", 12) == 0)
    flags = static_cast<WORD>((flags | 0x0100) & 0xFFF5);
  else if (strncasecmp(kind, "Computed", 8) == 0)
    flags = static_cast<WORD>((flags | 0x0108) & ~0x0002);
  else
    return true;
  const char* sources[] = {"DefaultValue=", "InputTranslation=", "InputValidation="};
  for (int part = 0; part < 3; ++part) {
    const char* text = keys->Get(sources[part]);
    if (text != nullptr && !Compile(text, &field->texts[part]))
      return false;
  }
  return true;
}

void ApplyFormats(field_keys* keys, field_parts* field, CDEXTFIELD* ext, CDEXT2FIELD* ext2) {
  CDFIELD& f = field->fixed;
  if (const int n = Choice(keys->Get("NumberFormat="), {"General", "Fixed", "Scientific",
                                                         "Currency"});
      n >= 0)
    f.NumberFormat = static_cast<BYTE>(n);
  if (const char* digits = keys->Get("NumberDigits="))
    f.NumberDigits = static_cast<BYTE>(atoi(digits));
  if (const char* attributes = keys->Get("NumberAttribs=")) {
    f.NumberAttributes = 0;
    const char* words[] = {"Punctuated", "Paren", "Percent", "Vary"};
    for (int bit = 0; bit < 4; ++bit) {
      if (stristr(attributes, words[bit]) != nullptr)
        f.NumberAttributes = static_cast<BYTE>(f.NumberAttributes | (1 << bit));
    }
  }
  const char* numberFlags[] = {"ThousandsPunctuated=", "ParensWhenNegative=", "NumberPercent=",
                               "VaryingDecimal="};
  for (int bit = 0; bit < 4; ++bit)
    SetBits<BYTE>(&f.NumberAttributes, static_cast<BYTE>(1 << bit), keys->Flag(numberFlags[bit]));

  const char* currency[] = {"CurrencySymFollows=", "CurrencySpaceAfter=", "CurrencyISOSym="};
  for (int bit = 0; bit < 3; ++bit) {
    const int flag = keys->Flag(currency[bit]);
    SetBits<DWORD>(&ext2->CurrencyFlags, 1u << bit, flag);
    if (flag == 1)
      ext2->Flags |= CDEXT2FIELD_FLAGS_CURRENCY;
  }
  if (const char* country = keys->Get("ISOCountry="))
    ext2->ISOCountry = static_cast<DWORD>(strtoul(country, nullptr, 10));

  if (const int n = Choice(keys->Get("DateFormat="),
                           {"YYMMDD", "yyMMDD", "MMDD", "YYMM", "YYYYMMDD", "yyyyMMDD", "YYYYMM"},
                           true);
      n >= 0)
    f.DateFormat = static_cast<BYTE>(n);
  if (const int n = Choice(keys->Get("TimeFormat="), {"HHMMSS", "HHMM"}); n >= 0)
    f.TimeFormat = static_cast<BYTE>(n);
  if (const int n = Choice(keys->Get("TimeZone="), {"NEVER", "SOMETIMES", "ALWAYS"}); n >= 0)
    f.TimeZone = static_cast<BYTE>(n);
  if (const int n = Choice(keys->Get("TimeDateDisplay="),
                           {"DATE", "TIME", "Date&Time", "CDATE&TIME"});
      n >= 0)
    f.TimeDateDisplay = static_cast<BYTE>(n);

  /* The extended date and time formats: a byte each, and flags. */
  BYTE* formats[] = {&ext2->DTYearFormat,  &ext2->DTMonthFormat, &ext2->DTDayOfWeekFormat,
                     &ext2->DTDayFormat,   &ext2->DTDateDisplay, &ext2->DTTimeDisplay};
  const char* formatKeys[] = {"DTYearFormat=", "DTMonthFormat=", "DTDayOfWeekFormat=",
                              "DTDayFormat=",  "DTDateDisplay=", "DTTimeDisplay="};
  for (int i = 0; i < 6; ++i) {
    if (const char* value = keys->Get(formatKeys[i])) {
      *formats[i] = static_cast<BYTE>(atoi(value));
      ext2->Flags |= CDEXT2FIELD_FLAGS_DATETIME;
    }
  }
  const struct {
    const char* key;
    WORD bit;
  } dateFlags[] = {{"Input4DigitYear=", CDEXT2FIELD_DT_INPUT4DIGITYEAR},
                   {"InputAlphaMonth=", CDEXT2FIELD_DT_INPUTALPHAMONTH},
                   {"DTDateToday=", CDEXT2FIELD_DT_DATETODAY},
                   {"Output4DigitYear=", CDEXT2FIELD_DT_OUTPUT4DIGITYEAR},
                   {"DTHideCurrentYear=", CDEXT2FIELD_DT_HIDECURRENTYEAR}};
  for (const auto& entry : dateFlags) {
    const int flag = keys->Flag(entry.key);
    SetBits<WORD>(&ext2->DTFlags, entry.bit, flag);
    if (flag >= 0)
      ext2->Flags |= CDEXT2FIELD_FLAGS_DATETIME;
  }

  const struct {
    const char* key;
    DWORD bit;
  } second[] = {{"DynamicSize=", CDEXTFIELD_FLAGS2_DYNAMICSIZE},
                {"HideDelimiters=", CDEXTFIELD_FLAGS2_HIDEDELIMITERS},
                {"RefreshChoices=", CDEXTFIELD_FLAGS2_REFRESHCHOICES},
                {"ComputedHTML=", CDEXTFIELD_FLAGS2_COMPUTEDHTML},
                {"UseApplet=", CDEXTFIELD_FLAGS2_USEAPPLET}},
    first[] = {{"RefreshFields=", 0x20000},
               {"DisplayEntryHelper=", 0x40000},
               {"LookupNamesByChar=", 0x10000},
               {"DefaultField=", 0x100000}};
  for (const auto& entry : second)
    SetBits<DWORD>(&ext->Flags2, entry.bit, keys->Flag(entry.key));
  for (const auto& entry : first)
    SetBits<DWORD>(&ext->Flags1, entry.bit, keys->Flag(entry.key));
  if (const char* columns = keys->Get("NumberKeywordColumns="))
    ext->Flags1 = (ext->Flags1 & ~0x0E000000u) |
                  ((static_cast<DWORD>(atoi(columns)) << 25) & 0x0E000000u);
  if (Same(keys->Get("KeywordBorder="), "None"))
    ext->Flags1 &= ~0x1Cu;

  SetBits<WORD>(&f.Flags, 0xC000, keys->Flag("ChoicesNotInList="));
  const struct {
    const char* name;
    WORD code;
  } delimiters[] = {{"SPACE", 0x1001},
                    {"COMMA", 0x2002},
                    {"SEMICOLON", 0x3004},
                    {"NEWLINE", 0x4008},
                    {"BLANKLINE", 0x5010}};
  if (const char* input = keys->Get("InputDelimiters=")) {
    WORD bits = 0;
    for (const auto& d : delimiters) {
      if (stristr(input, d.name) != nullptr)
        bits = static_cast<WORD>(bits | (d.code & 0x0FFF));
    }
    f.ListDelim = static_cast<WORD>((f.ListDelim & 0xF000) | bits);
  }
  if (const char* display = keys->Get("DisplayDelimiter=")) {
    for (const auto& d : delimiters) {
      if (strcasecmp(display, d.name) == 0)
        f.ListDelim = static_cast<WORD>((f.ListDelim & 0x0FFF) | (d.code & 0xF000));
    }
  }
  if (const char* order = keys->Get("TabOrder="))
    f.TabOrder = static_cast<WORD>(atoi(order));
  SetBits<WORD>(&f.Flags, 0x0400, keys->Flag("RestrictToEditor="));
  SetBits<WORD>(&f.Flags, 0x1000, keys->Flag("SignField="));
  SetBits<WORD>(&f.Flags, 0x2000, keys->Flag("EncryptField="));
}

/* The embedded control's style, size and limits; sizes in inches. */
void ApplyControl(field_keys* keys, CDEMBEDDEDCTL* control) {
  if (const char* style = keys->Get("TimeStyle="))
    SetBits<DWORD>(&control->Flags, CDEMBEDDEDCTL_CALENDAR, Same(style, "Calendar") ? 1 : 0);
  const auto twips = [](const char* inches) {
    const double value = strtod(inches, nullptr) * 1440.0;
    return static_cast<WORD>(value < 0 ? 0 : value > 65535 ? 65535 : value);
  };
  if (const char* given = keys->Get("Width=")) {
    const std::string width = given; /* the next read reuses the value's room */
    const bool percent = Same(keys->Get("Unit="), "PERCENT");
    control->Width = percent ? static_cast<WORD>(atoi(width.c_str())) : twips(width.c_str());
    SetBits<DWORD>(&control->Flags, CDEMBEDDEDCTL_WIDTH_PERCENT, percent ? 1 : 0);
  }
  if (const char* height = keys->Get("Height="))
    control->Height = twips(height);
  if (const char* chars = keys->Get("MaxChars="))
    control->MaxChars = static_cast<WORD>(atoi(chars));
  if (const char* lines = keys->Get("MaxLines="))
    control->MaxLines = static_cast<WORD>(atoi(lines));
}

/* "ChoiceStyle=": the choices ("Choices=") as the text values, or their
 * compiled formula. */
bool ApplyChoices(field_keys* keys, field_parts* field) {
  const int style = Choice(keys->Get("ChoiceStyle="), {"LIST", "FORMULA"});
  if (style < 0)
    return true;
  const char* choices = keys->Get("Choices=");
  std::string text = choices == nullptr ? "" : choices;
  if (style == 0) {
    field->texts[field_parts::kValues] = text;
    return true;
  }
  return Compile(text.c_str(), &field->texts[field_parts::kValues]);
}

bool Store(field_buffer* buffer, const std::vector<BYTE>& record) {
  if (record.empty()) {
    if (buffer->data != nullptr && buffer->capacity >= sizeof(WSIG))
      memset(buffer->data, 0, sizeof(WSIG));
    return true;
  }
  if (buffer->data == nullptr || record.size() > buffer->capacity)
    return false;
  memcpy(buffer->data, record.data(), record.size());
  return true;
}

} // namespace

STATUS SetupFieldData(DWORD create, LSXLsiSession* session, const char* name, const char* type,
                      const char* properties, field_buffer buffers[kFieldBufferCount]) {
  if (buffers == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  std::vector<BYTE> records[kFieldBufferCount];
  for (int i = 0; i < kFieldBufferCount; ++i)
    records[i] = Held(buffers[i]);
  field_parts field;
  if (create != 0) {
    /* A new field starts in the default font, face 1 at 10 points. */
    CDFIELD made = Fixed<CDFIELD>(NewRecord<CDFIELD>(SIG_CD_FIELD));
    BYTE* font = reinterpret_cast<BYTE*>(&made.FontID);
    font[FONTID_FACE_BYTE] = 1;
    font[FONTID_SIZE_BYTE] = 10;
    records[kFieldBufferField].clear();
    StoreFixed(&records[kFieldBufferField], made);
    records[kFieldBufferExtField] = NewRecord<CDEXTFIELD>(SIG_CD_EXTFIELD);
    CDEXT2FIELD ext2 = Fixed<CDEXT2FIELD>(NewRecord<CDEXT2FIELD>(SIG_CD_EXT2FIELD));
    ext2.ISOCountry = CDEXT2FIELD_DEFAULT_COUNTRY;
    records[kFieldBufferExt2Field].clear();
    StoreFixed(&records[kFieldBufferExt2Field], ext2);
  }
  if (!field.Load(records[kFieldBufferField]) || field.fixed.Header.Signature != SIG_CD_FIELD)
    return VELKO_ERR_BAD_ARGUMENT;
  if (name != nullptr) {
    field.texts[field_parts::kName] = name;
    if (field.texts[field_parts::kName].size() > kFieldNameLength)
      field.texts[field_parts::kName].resize(kFieldNameLength);
  }
  field_keys keys(properties);

  std::vector<BYTE>& control = records[kFieldBufferControl];
  const char* style = keys.Get("OSStyle=");
  if (Same(style, "Native") && create != 0) {
    CDEMBEDDEDCTL made = {};
    made.Header.Signature = SIG_CD_EMBEDDEDCTL;
    made.Header.Length = sizeof made;
    made.Flags = CDEMBEDDEDCTL_NATIVE;
    control.clear();
    StoreFixed(&control, made);
  } else if (Same(style, "Notes")) {
    control.clear();
  }

  if (properties != nullptr && strstr(properties, "FieldHTML") != nullptr) {
    std::vector<BYTE>& idname = records[kFieldBufferIdName];
    if (idname.size() < sizeof(CDIDNAME)) {
      idname = NewRecord<CDIDNAME>(SIG_CD_IDNAME);
    }
    const size_t capacity = idname.size() + strnlen(properties, kLargestIdName);
    if (capacity >= kLargestIdName)
      return VELKO_ERR_BAD_ARGUMENT;
    std::vector<BYTE> built(kLargestIdName);
    memcpy(built.data(), idname.data(), idname.size());
    STATUS status = NOERROR;
    ApplyPropertiesToIDNAMERecord(session, built.data(), static_cast<DWORD>(capacity),
                                  built.data(), static_cast<DWORD>(idname.size()), "Field",
                                  properties, nullptr, &status);
    if (status != NOERROR)
      return status;
    built.resize(Fixed<CDIDNAME>(built).Header.Length);
    idname = built;
  }

  CDEXTFIELD ext = Fixed<CDEXTFIELD>(records[kFieldBufferExtField]);
  CDEXT2FIELD ext2 = Fixed<CDEXT2FIELD>(records[kFieldBufferExt2Field]);
  CDEMBEDDEDCTL controlFields = Fixed<CDEMBEDDEDCTL>(control);
  ApplyType(type, &field, &ext, &controlFields.Flags, &keys);
  if (!ApplyKind(&keys, &field) || !ApplyChoices(&keys, &field))
    return VELKO_ERR_BAD_ARGUMENT;
  ApplyFormats(&keys, &field, &ext, &ext2);
  if (!control.empty())
    ApplyControl(&keys, &controlFields);

  records[kFieldBufferField] = field.Build();
  if (Fixed<CDFIELD>(records[kFieldBufferField]).Header.Length == 0)
    return VELKO_ERR_BAD_ARGUMENT;
  if (records[kFieldBufferExtField].size() >= sizeof ext)
    StoreFixed(&records[kFieldBufferExtField], ext);
  if (records[kFieldBufferExt2Field].size() >= sizeof ext2)
    StoreFixed(&records[kFieldBufferExt2Field], ext2);
  if (control.size() >= sizeof controlFields)
    StoreFixed(&control, controlFields);
  for (int i = 0; i < kFieldBufferCount; ++i) {
    if (records[i].size() > buffers[i].capacity && !records[i].empty())
      return VELKO_ERR_BAD_ARGUMENT;
  }
  for (int i = 0; i < kFieldBufferCount; ++i)
    Store(&buffers[i], records[i]);
  return NOERROR;
}
