/*
 * A rich-text item's named properties (numbers, switches, font texts and
 * the formula items they stand for), its face-id answers and its two lists
 * of style mappings.
 *
 * The values themselves live in the item and its state block; the table
 * here only says what each name is. Loading the note's font table and
 * adding faces to it belong to the font table code.
 */
#include "store/item_properties.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "store/messages.h"
#include "store/new_object.h"
#include "store/owned_text.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "velko/property_string.h"
#include "velko/status.h"

namespace {

constexpr WORD kText = RTITEM_PROP_KIND_TEXT;
constexpr WORD kNumber = RTITEM_PROP_KIND_NUMBER;
constexpr WORD kTextResult = RTITEM_PROP_RESULT_TEXT;
constexpr WORD kNumberResult = RTITEM_PROP_RESULT_NUMBER;

constexpr double kTwipsPerInch = 1440.0;
constexpr size_t kStyleNameLimit = 127;
constexpr size_t kFaceNameLimit = 31;

}  // namespace

// clang-format off
const rtitem_prop rtitem_prop_table[kItemPropertyCount + 1] = {
    /* name                 kind     result         id                              list ro sw on */
    {"ActionHotspotFont",   kText,   kTextResult,   RTITEM_PROP_ACTIONHOTSPOTFONT,  0, 0, 0, 1},
    {"AutoDecrypt",         kNumber, kNumberResult, RTITEM_PROP_AUTODECRYPT,        0, 0, 1, 1},
    {"AutoMergeText",       kNumber, kNumberResult, RTITEM_PROP_AUTOMERGETEXT,      0, 0, 1, 1},
    {"AutoSave",            kNumber, kNumberResult, RTITEM_PROP_AUTOSAVE,           0, 0, 1, 1},
    {"CacheLinkMatching",   kNumber, kNumberResult, RTITEM_PROP_CACHELINKMATCHING,  0, 0, 1, 1},
    {"CacheRecords",        kNumber, kNumberResult, RTITEM_PROP_CACHERECORDS,       0, 0, 1, 1},
    {"ClientPreference",    kText,   kTextResult,   RTITEM_PROP_CLIENTPREFERENCE,   0, 0, 0, 1},
    {"ContainerType",       kText,   kTextResult,   RTITEM_PROP_CONTAINERTYPE,      0, 1, 0, 1},
    {"DefaultTableWidth",   kNumber, kNumberResult, RTITEM_PROP_DEFAULTTABLEWIDTH,  0, 0, 0, 1},
    {"FilePath",            kText,   kTextResult,   RTITEM_PROP_FILEPATH,           0, 1, 0, 1},
    {"ForceToWindow",       kNumber, kNumberResult, RTITEM_PROP_FORCETOWINDOW,      0, 0, 1, 1},
    {"Handle",              kNumber, kNumberResult, RTITEM_PROP_HANDLE,             0, 1, 0, 1},
    {"HighlightFont",       kText,   kTextResult,   RTITEM_PROP_HIGHLIGHTFONT,      0, 0, 0, 1},
    {"HTMLHeadContent",     kText,   kTextResult,   RTITEM_PROP_HTMLHEADCONTENT,    0, 0, 0, 1},
    {"HyperlinkFont",       kText,   kTextResult,   RTITEM_PROP_HYPERLINKFONT,      0, 0, 0, 1},
    {"ImportExportFile",    kText,   kTextResult,   RTITEM_PROP_IMPORTEXPORTFILE,   0, 0, 0, 1},
    {"ImportNativeImages",  kNumber, kNumberResult, RTITEM_PROP_IMPORTNATIVEIMAGES, 0, 0, 1, 1},
    {"IsConnected",         kNumber, kNumberResult, RTITEM_PROP_ISCONNECTED,        0, 1, 1, 1},
    {"Modified",            kNumber, kNumberResult, RTITEM_PROP_MODIFIED,           0, 0, 1, 1},
    {"NoteID",              kText,   kTextResult,   RTITEM_PROP_NOTEID,             0, 1, 0, 1},
    {"PermanentPen",        kNumber, kNumberResult, RTITEM_PROP_PERMANENTPEN,       0, 0, 1, 1},
    {"PermanentPenFont",    kText,   kTextResult,   RTITEM_PROP_PERMANENTPENFONT,   0, 0, 0, 1},
    {"PopUpFont",           kText,   kTextResult,   RTITEM_PROP_POPUPFONT,          0, 0, 0, 1},
    {"Server",              kText,   kTextResult,   RTITEM_PROP_SERVER,             0, 1, 0, 1},
    {"SuppressMessages",    kNumber, kNumberResult, RTITEM_PROP_SUPPRESSMESSAGES,   0, 0, 1, 1},
    {"URLFont",             kText,   kTextResult,   RTITEM_PROP_URLFONT,            0, 0, 0, 1},
    {"WebQueryOpen",        kText,   kTextResult,   RTITEM_PROP_WEBQUERYOPEN,       0, 0, 0, 1},
    {"WebQuerySave",        kText,   kTextResult,   RTITEM_PROP_WEBQUERYSAVE,       0, 0, 0, 1},
    {"WindowTitle",         kText,   kTextResult,   RTITEM_PROP_WINDOWTITLE,        0, 0, 0, 1},
    {nullptr,               0,       0,             0,                              0, 0, 0, 0},
};
// clang-format on

const rtitem_prop* LookupItemProperty(const char* name) {
  return FindRowInNameOrder(rtitem_prop_table, name);
}

namespace {

/* The 16-bit word a switch or number property is kept in; null for the
 * properties that are not kept as a word of the item. */
WORD* NumberField(VelkoRTItem& item, DWORD id) {
  switch (id) {
  case RTITEM_PROP_AUTODECRYPT:
    return &item.AutoDecrypt;
  case RTITEM_PROP_AUTOMERGETEXT:
    return &item.AutoMergeText;
  case RTITEM_PROP_AUTOSAVE:
    return &item.AutoSave;
  case RTITEM_PROP_CACHELINKMATCHING:
    return &item.CacheLinkMatching;
  case RTITEM_PROP_CACHERECORDS:
    return &item.CacheRecords;
  case RTITEM_PROP_FORCETOWINDOW:
    return &item.internal->ForceToWindow;
  case RTITEM_PROP_IMPORTNATIVEIMAGES:
    return &item.ImportNativeImages;
  case RTITEM_PROP_ISCONNECTED:
    return &item.IsConnected;
  case RTITEM_PROP_MODIFIED:
    return &item.Modified;
  case RTITEM_PROP_PERMANENTPEN:
    return &item.PermanentPen;
  case RTITEM_PROP_SUPPRESSMESSAGES:
    return &item.SuppressMessages;
  default:
    return nullptr;
  }
}

/* The owned text a font or file property is kept in; null for others. */
char** TextField(VelkoRTItem& item, DWORD id) {
  switch (id) {
  case RTITEM_PROP_ACTIONHOTSPOTFONT:
    return &item.ActionHotspotFont;
  case RTITEM_PROP_HIGHLIGHTFONT:
    return &item.HighlightFont;
  case RTITEM_PROP_HYPERLINKFONT:
    return &item.HyperlinkFont;
  case RTITEM_PROP_PERMANENTPENFONT:
    return &item.PermanentPenFont;
  case RTITEM_PROP_POPUPFONT:
    return &item.PopUpFont;
  case RTITEM_PROP_URLFONT:
    return &item.URLFont;
  case RTITEM_PROP_IMPORTEXPORTFILE:
    return &item.ImportExportFile;
  default:
    return nullptr;
  }
}

/* The formula item a text property writes; null for others. */
const char* FormulaItemName(DWORD id) {
  switch (id) {
  case RTITEM_PROP_WEBQUERYOPEN:
    return "$WEBQueryOpen";
  case RTITEM_PROP_WEBQUERYSAVE:
    return "$WEBQuerySave";
  case RTITEM_PROP_WINDOWTITLE:
    return "$WindowTitle";
  case RTITEM_PROP_HTMLHEADCONTENT:
    return "$HTMLHeadTag";
  default:
    return nullptr;
  }
}

/* The value truncated toward zero and cut to 16 bits as an integer
 * conversion would; values beyond any integer (and NaN) give 0. */
WORD TruncateToWord(double value) {
  if (!std::isfinite(value) || std::fabs(value) >= 9.0e15)
    return 0;
  return static_cast<WORD>(static_cast<long long>(std::trunc(value)));
}

/* Twips for a width in inches, held to what the 16-bit field can take. */
WORD InchesToTwips(double inches) {
  double twips = std::trunc(inches * kTwipsPerInch);
  if (!(twips > 0.0))
    return 0;
  if (twips >= 65535.0)
    return 65535;
  return static_cast<WORD>(twips);
}

void ReportReadOnly(LSXLsiSession* session, const char* name) {
  static constexpr const char* kFormat = "@Tarno: Unable to set read-only property '%s'";
  if (session == nullptr) {
    char text[300];
    std::snprintf(text, sizeof text, kFormat, name);
    ShowUserMessage(text);
    return;
  }
  int length = std::snprintf(session->result_text, sizeof session->result_text, kFormat, name);
  session->result_length = static_cast<WORD>(length < 0 ? 0 : length);
  ShowUserMessage(session->result_text);
}

void SetNumberProperty(VelkoRTItem& item, const rtitem_prop& row, double value) {
  if (row.id == RTITEM_PROP_DEFAULTTABLEWIDTH) {
    item.DefaultTableWidth = InchesToTwips(value);
    return;
  }
  WORD* field = NumberField(item, row.id);
  if (field == nullptr)
    return;
  *field = row.is_switch ? (TruncateToWord(value) != 0 ? 1 : 0) : TruncateToWord(value);
  if (row.id == RTITEM_PROP_SUPPRESSMESSAGES)
    MirrorSuppressMessages(item);
}

/* Replaces an owned text by a copy of `length` bytes of the value; false,
 * with the old text kept, when memory is short. */
bool ReplaceOwnedText(char** field, const char* value, size_t length) {
  char* copy = CopyOwnedText(value, length);
  if (copy == nullptr)
    return false;
  delete[] *field;
  *field = copy;
  return true;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

/* Whether `length` bytes of text are the word, ignoring ASCII case. */
bool EqualsIgnoringCase(const char* text, size_t length, const char* word) {
  if (std::strlen(word) != length)
    return false;
  for (size_t i = 0; i < length; ++i) {
    if (LowerAscii(text[i]) != LowerAscii(word[i]))
      return false;
  }
  return true;
}

void FreeStyleMappings(style_mapping*& head) {
  while (style_mapping* node = head) {
    head = node->next;
    delete node;
  }
}

}  // namespace

double VelkoRTItem::GetPropertyNumber(const char* name) {
  const rtitem_prop* row = LookupItemProperty(name);
  if (row == nullptr || row->enabled == 0 || row->kind != RTITEM_PROP_KIND_NUMBER)
    return 0;
  if (row->id == RTITEM_PROP_DEFAULTTABLEWIDTH)
    return DefaultTableWidth / kTwipsPerInch;
  if (row->id == RTITEM_PROP_HANDLE)
    return note;
  WORD* field = NumberField(*this, row->id);
  return field != nullptr ? *field : 0;
}

STATUS VelkoRTItem::SetPropertyNumber(const char* name, double value) {
  const rtitem_prop* row = LookupItemProperty(name);
  if (row == nullptr)
    return 0;
  if (row->read_only) {
    ReportReadOnly(session, row->name);
    return 0;
  }
  if (row->kind == RTITEM_PROP_KIND_NUMBER)
    SetNumberProperty(*this, *row, value);
  return 0;
}

WORD VelkoRTItem::GetPropertyText(const char*, char* out, WORD max) {
  // No text property is readable through the item.
  if (out != nullptr && max > 0)
    out[0] = '\0';
  return 0;
}

int VelkoRTItem::SetPropertyText(const char* name, const char* value, WORD length) {
  if (name == nullptr)
    return 0;
  if (value == nullptr) {
    // A Name=value list: only rows marked list-settable are taken from it.
    if (std::strchr(name, '=') == nullptr)
      return 0;
    for (const rtitem_prop* row = rtitem_prop_table; row->name != nullptr; ++row) {
      if (!row->list_settable)
        continue;
      char key[64];
      char found[1024];
      std::snprintf(key, sizeof key, "%s=", row->name);
      if (ExtractProperty(name, key, found, sizeof found))
        SetPropertyText(row->name, found, 0);
    }
    return 1;
  }

  const rtitem_prop* row = LookupItemProperty(name);
  if (row == nullptr)
    return 0;
  if (row->read_only) {
    ReportReadOnly(session, row->name);
    return 0;
  }
  size_t size = length != 0 ? length : std::strlen(value);
  if (char** field = TextField(*this, row->id)) {
    return ReplaceOwnedText(field, value, size) ? 1 : 0;
  }
  if (const char* formulaItem = FormulaItemName(row->id)) {
    // A text longer than a length word counts is refused whole (1028),
    // leaving the formula item as it was, rather than compiled cut to its
    // low 16 bits.
    if (size > 0xFFFF) {
      last_status = VELKO_ERR_BAD_ARGUMENT;
      return 0;
    }
    // Counts as set whatever the status: a formula that does not compile has
    // shown its message and left own error 20017 for the caller.
    static_cast<void>(SetFormulaItem(formulaItem, value, static_cast<WORD>(size)));
    return 1;
  }
  if (row->id == RTITEM_PROP_CLIENTPREFERENCE) {
    internal->ClientPreference = EqualsIgnoringCase(value, size, "Web") ? 0 : 1;
    MirrorClientPreference(*this);
    return 1;
  }
  return 0;
}

FACEID VelkoRTItem::DefineFont(const char* faceName) {
  if (!IsConnected)
    return 0;
  return AddToFontTable(faceName, 0);
}

int VelkoRTItem::FindFaceByID(FACEID id, char* out) {
  WORD count = internal->face_count < kFaceTableSlots ? internal->face_count : kFaceTableSlots;
  for (WORD i = 0; i < count; ++i) {
    const font_face& face = internal->faces[i];
    if (face.id != id)
      continue;
    if (out != nullptr)
      CopyCutText(out, face.name, sizeof face.name - 1);
    return 1;
  }
  return 0;
}

void VelkoRTItem::CreateInternalStyleMapping(const char* styleName, const char* faceName,
                                             DWORD fontID) {
  auto* node = NewObject<style_mapping>();
  if (node == nullptr)
    return; // memory is short: the style renders with its own face
  node->font_id = fontID;
  node->flags = STYLE_MAPPING_INTERNAL;
  CopyCutText(node->style_name, styleName, kStyleNameLimit);
  CopyCutText(node->face_name, faceName, kFaceNameLimit);
  style_mapping** tail = &internal->style_mappings[1];
  while (*tail != nullptr)
    tail = &(*tail)->next;
  *tail = node;
}

style_mapping* VelkoRTItem::GetStyleMappingByFontID(DWORD fontID, int list) {
  for (style_mapping* node = internal->style_mappings[list != 0 ? 1 : 0]; node != nullptr;
       node = node->next) {
    if ((node->flags & (STYLE_MAPPING_MAPPED | STYLE_MAPPING_INTERNAL)) != 0 &&
        node->font_id == fontID)
      return node;
  }
  return nullptr;
}

void VelkoRTItem::ClearStyleMappings(int list) {
  FreeStyleMappings(internal->style_mappings[list != 0 ? 1 : 0]);
}
