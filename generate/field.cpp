/*
 * Writing a field (GenerateField, generate/field.h): the field records
 * the chunk holds, the field's registration in the note, its LotusScript
 * module item and its JavaScript events.
 */
#include "generate/field.h"

#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <string>
#include <vector>

#include "generate/link_records.h"
#include "generate/services.h"
#include "host/nsfdata.h"
#include "host/nsfnote.h"
#include "host/textlist.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "velko/status.h"

namespace {

using link_records::record_block;

constexpr char kFieldsItem[] = "$Fields";
constexpr WORD kScriptItemFlags = ITEM_SIGN;
constexpr WORD kJavaScriptAction = 4;
constexpr WORD kBlobMaximum = 16000;

/* The JavaScript event names in the order they are matched; the event
 * type is the position from 1. */
constexpr const char* kJavaScriptEvents[] = {
    "OnClick",   "OnDblClick", "OnMouseDown", "OnMouseUp", "OnMouseOver", "OnMouseMove",
    "OnMouseOut", "OnKeyPress", "OnKeyDown",  "OnKeyUp",   "OnFocus",     "OnBlur",
    "OnLoad",    "OnUnload",   "Header",      "OnSubmit",  "OnReset",     "OnChange",
    "OnError",   "OnHelp",     "OnSelect",
};

constexpr char kEnteringPrefix[] = "LotusScript:Entering:";
constexpr char kExitingPrefix[] = "LotusScript:Exiting:";
constexpr char kJavaScriptPrefix[] = "Javascript:";

bool StartsWith(const char* text, const char* prefix) {
  return strncasecmp(text, prefix, strlen(prefix)) == 0;
}

/* The record in a buffer and its length; 0 when the buffer is empty or
 * holds another signature. */
DWORD HeldRecord(const void* buffer, WORD signature) {
  if (buffer == nullptr)
    return 0;
  WSIG header;
  memcpy(&header, buffer, sizeof header);
  if (header.Signature != signature || header.Length < sizeof header)
    return 0;
  return header.Length;
}

STATUS EmitHeld(field_operation* op, int index, WORD signature) {
  const DWORD length = HeldRecord(op->buffers[index], signature);
  if (length == 0)
    return NOERROR;
  return CopyCDUpdated(op->buffers[index], signature, length, op->gen);
}

bool HasItem(NOTEHANDLE note, const std::string& name) {
  return NSFItemInfo(note, name.c_str(), static_cast<WORD>(name.size()), nullptr, nullptr, nullptr,
                     nullptr) == NOERROR;
}

/* The entry count and value length of the note's "$Fields" list; false
 * when the note has none. */
bool ReadListSize(NOTEHANDLE note, field_names* names) {
  WORD type = 0;
  BLOCKID value = {};
  DWORD length = 0;
  if (NSFItemInfo(note, kFieldsItem, sizeof kFieldsItem - 1, nullptr, &type, &value, &length) !=
          NOERROR ||
      type != TYPE_TEXT_LIST || length < 2 * sizeof(WORD))
    return false;
  names->count = ListGetNumEntries(OSLockBlock(value), TRUE);
  OSUnlockBlock(value);
  names->length = length;
  return true;
}

/* Whether the host would take one more entry of the length into the list
 * the batch follows. */
bool Fits(const field_names& names, WORD length) {
  return names.known && names.count < 0xFFFF &&
         names.length + sizeof(WORD) + length <= NSFItemValueLimit();
}

/* The name in "$Fields" (kept in the batch when there is one and the name
 * fits) and a placeholder item of that name. */
STATUS RegisterName(NOTEHANDLE note, const std::string& name, field_names* names) {
  const WORD length = static_cast<WORD>(name.size());
  if (names != nullptr && Fits(*names, length)) {
    names->texts += name;
    names->lengths.push_back(length);
    ++names->count;
    names->length += sizeof(WORD) + length;
  } else {
    if (names != nullptr) {
      if (const STATUS status = WriteFieldNames(note, names); status != NOERROR)
        return status;
    }
    if (const STATUS status = NSFItemAppendTextList(note, kFieldsItem, name.c_str(), length, TRUE);
        status != NOERROR)
      return status;
    if (names != nullptr)
      names->known = ReadListSize(note, names);
  }
  return NSFItemAppend(note, ITEM_PLACEHOLDER, name.c_str(), length, TYPE_INVALID_OR_UNKNOWN,
                       nullptr, 0);
}

/* The first of name1, name2 ... (name_1 ... when the name ends with a
 * digit) without an item; false when all 9999 are taken. With a batch the
 * search starts at the number the name's last unique name took, as a copy
 * only adds items and the ones below are taken. */
bool UniqueName(NOTEHANDLE note, const std::string& name, std::string* unique,
                field_names* names) {
  const bool digit = !name.empty() && name.back() >= '0' && name.back() <= '9';
  int* taken = names != nullptr ? &names->numbers[name] : nullptr;
  for (int number = taken != nullptr && *taken > 1 ? *taken : 1; number <= kUniqueFieldNameTries;
       ++number) {
    *unique = name + (digit ? "_" : "") + std::to_string(number);
    if (!HasItem(note, *unique)) {
      if (taken != nullptr)
        *taken = number;
      return true;
    }
  }
  return false;
}

/* The CDFIELD with its name part replaced (the description and text
 * values move behind the new name). */
void Rename(std::vector<BYTE>* field, const std::string& name) {
  CDFIELD fixed;
  memcpy(&fixed, field->data(), sizeof fixed);
  const size_t at = sizeof fixed + fixed.DVLength + fixed.ITLength + fixed.VFLength;
  const size_t oldEnd = at + fixed.NameLength;
  if (oldEnd > field->size())
    return;
  field->erase(field->begin() + static_cast<std::ptrdiff_t>(at),
               field->begin() + static_cast<std::ptrdiff_t>(oldEnd));
  field->insert(field->begin() + static_cast<std::ptrdiff_t>(at), name.begin(), name.end());
  fixed.NameLength = static_cast<WORD>(name.size());
  memcpy(field->data(), &fixed, sizeof fixed);
}

/* The CDFIELD's own name. */
std::string NameOf(const std::vector<BYTE>& field) {
  CDFIELD fixed;
  memcpy(&fixed, field.data(), sizeof fixed);
  const size_t at = sizeof fixed + fixed.DVLength + fixed.ITLength + fixed.VFLength;
  if (at + fixed.NameLength > field.size())
    return {};
  return std::string(reinterpret_cast<const char*>(field.data()) + at, fixed.NameLength);
}

/* Gives the field the item's current text font with the font string. */
STATUS ApplyFieldFont(field_operation* op, const char* fontString, std::vector<BYTE>* field) {
  CDTEXT current;
  memcpy(&current, op->gen->item->internal->current_text_header, sizeof current);
  FONTID font = current.FontID;
  if (fontString[0] != '\0') {
    font_spec specs[2];
    font_spec_mask masks[2];
    if (const STATUS status = ParseFontString(fontString, nullptr, op->gen->item, specs, masks);
        status != NOERROR)
      return status;
    _internal_SESS* state = SessionOf(op->gen)->internal;
    ApplyFontOverride(&font, &state->override_color, &state->override_color_flags, &specs[0],
                      masks[0].given);
  }
  memcpy(field->data() + offsetof(CDFIELD, FontID), &font, sizeof font);
  return NOERROR;
}

/* ---- LotusScript ---- */

void AddLine(std::string* module, const std::string& line) {
  *module += line;
  *module += '\n';
}

/* The event's section: the code as given when it holds its own Sub,
 * else wrapped in one. */
void AddEvent(std::string* module, const char* event, const std::string& code) {
  AddLine(module, std::string("'++LotusScript Development Environment:2:2:") + event + ":1:12");
  const std::string sub = std::string("Sub ") + event;
  const bool ownSub = code.find(sub) != std::string::npos;
  if (!ownSub)
    AddLine(module, sub + "(Source As Field)");
  *module += code;
  if (code.empty() || code.back() != '\n')
    *module += '\n';
  if (!ownSub)
    AddLine(module, "End Sub");
}

std::string ScriptModule(const char* entering, const char* exiting) {
  std::string module;
  AddLine(&module, "'++LotusScript Development Environment:2:5:(Options):0:66");
  AddLine(&module, "");
  AddLine(&module, "'++LotusScript Development Environment:2:5:(Forward):0:1");
  AddLine(&module, "Declare Sub Entering(Source As Field)");
  AddLine(&module, "");
  AddLine(&module, "'++LotusScript Development Environment:2:5:(Declarations):0:2");
  AddLine(&module, "");
  AddLine(&module, "'++LotusScript Development Environment:2:2:BindEvents:1:129");
  AddLine(&module, "Private Sub BindEvents(Byval Objectname_ As String)");
  AddLine(&module, "  Static Source As FIELD");
  AddLine(&module, "  Set Source = Bind(Objectname_)");
  if (entering != nullptr)
    AddLine(&module, "  On Event Entering From Source Call Entering");
  if (exiting != nullptr)
    AddLine(&module, "  On Event Exiting From Source Call Exiting");
  AddLine(&module, "End Sub");
  AddLine(&module, "");
  if (entering != nullptr)
    AddEvent(&module, "Entering", entering);
  if (exiting != nullptr)
    AddEvent(&module, "Exiting", exiting);
  return module;
}

STATUS WriteScriptModule(field_operation* op, const std::string& name) {
  const char* entering = nullptr;
  const char* exiting = nullptr;
  for (int i = 0; i < op->event_count; ++i) {
    const char* event = op->event_strings[i];
    if (event == nullptr)
      continue;
    if (StartsWith(event, kEnteringPrefix))
      entering = event + strlen(kEnteringPrefix);
    else if (StartsWith(event, kExitingPrefix))
      exiting = event + strlen(kExitingPrefix);
  }
  if (entering == nullptr && exiting == nullptr)
    return NOERROR;
  const std::string module = ScriptModule(entering, exiting);
  const std::string object = "$" + name + "_O";
  const std::string script = "$$" + name;
  NSFItemDelete(op->note, object.c_str(), static_cast<WORD>(object.size()));
  NSFItemDelete(op->note, script.c_str(), static_cast<WORD>(script.size()));
  return NSFItemAppend(op->note, kScriptItemFlags, script.c_str(),
                       static_cast<WORD>(script.size()), TYPE_TEXT, module.data(),
                       static_cast<DWORD>(module.size()));
}

/* ---- JavaScript ---- */

/* The event type of the name at the start of text (0: unknown), and its
 * length. */
WORD EventType(const char* text, size_t* length) {
  WORD type = 0;
  for (const char* name : kJavaScriptEvents) {
    ++type;
    if (StartsWith(text, name)) {
      *length = strlen(name);
      return type;
    }
  }
  return 0;
}

STATUS EmitJavaScript(field_operation* op, WORD type, const std::string& script) {
  const DWORD actionLength = static_cast<DWORD>(script.size()) + 1;
  const DWORD dataLength = (actionLength + 1) & ~1u;
  if (sizeof(CDBLOBPART) + dataLength > link_records::kLargestRecord)
    return VELKO_ERR_BAD_ARGUMENT;
  record_block event;
  CDEVENT fixed = {};
  fixed.EventType = type;
  fixed.ActionType = kJavaScriptAction;
  fixed.ActionLength = actionLength;
  event.Add(&fixed, sizeof fixed);
  if (const STATUS status = event.Emit(SIG_CD_EVENT, op->gen); status != NOERROR)
    return status;
  record_block part;
  CDBLOBPART blob = {};
  blob.OwnerSig = SIG_CD_EVENT;
  blob.Length = static_cast<WORD>(dataLength);
  blob.BlobMax = kBlobMaximum;
  part.Add(&blob, sizeof blob);
  part.Add(script);
  part.AddZeros(dataLength - script.size());
  return part.Emit(SIG_CD_BLOBPART, op->gen);
}

/* Writes every JavaScript event; *allKnown is cleared by a name not in
 * the list. */
STATUS WriteJavaScript(field_operation* op, bool* allKnown) {
  for (int i = 0; i < op->event_count; ++i) {
    const char* event = op->event_strings[i];
    if (event == nullptr || !StartsWith(event, kJavaScriptPrefix))
      continue;
    const char* rest = event + strlen(kJavaScriptPrefix);
    size_t nameLength = 0;
    const WORD type = EventType(rest, &nameLength);
    if (type == 0) {
      *allKnown = false;
      continue;
    }
    const char* script = rest + nameLength;
    if (*script != '\0')
      ++script; /* the separator */
    if (const STATUS status = EmitJavaScript(op, type, script); status != NOERROR)
      return status;
  }
  return NOERROR;
}

} // namespace

STATUS WriteFieldNames(NOTEHANDLE note, field_names* names) {
  if (names->lengths.empty())
    return NOERROR;
  const STATUS status =
      NSFItemAppendTextListEntries(note, kFieldsItem, names->texts.data(), names->lengths.data(),
                                   static_cast<DWORD>(names->lengths.size()));
  names->texts.clear();
  names->lengths.clear();
  if (status != NOERROR)
    names->known = false;
  return status;
}

STATUS GenerateField(const char* name, const char* fontString, DWORD wrap, const char* mode,
                     field_operation* op) {
  if (op == nullptr || op->gen == nullptr || op->gen->item == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  const DWORD fieldLength = HeldRecord(op->buffers[kFieldBufferField], SIG_CD_FIELD);
  if (fieldLength < sizeof(CDFIELD))
    return VELKO_ERR_BAD_ARGUMENT;
  const BYTE* held = static_cast<const BYTE*>(op->buffers[kFieldBufferField]);
  std::vector<BYTE> field(held, held + fieldLength);

  std::string fieldName = name != nullptr ? name : NameOf(field);
  if (fieldName.size() > kFieldNameLength)
    fieldName.resize(kFieldNameLength);
  if (mode == nullptr || strcasecmp(mode, "Modify") != 0) {
    if (HasItem(op->note, fieldName)) {
      std::string unique;
      if (!UniqueName(op->note, fieldName, &unique, op->names))
        return VELKO_ERR_BAD_ARGUMENT;
      fieldName = unique;
      Rename(&field, fieldName);
    }
    if (const STATUS status = RegisterName(op->note, fieldName, op->names); status != NOERROR)
      return status;
  }
  if (fontString != nullptr) {
    if (const STATUS status = ApplyFieldFont(op, fontString, &field); status != NOERROR)
      return status;
  }

  const WORD bracket = HeldRecord(op->buffers[kFieldBufferControl], SIG_CD_EMBEDDEDCTL) != 0
                           ? SIG_CD_EMBEDDEDCTL
                           : SIG_CD_FIELD;
  STATUS status = NOERROR;
  if (wrap != 0)
    status = GenerateCDBegin(bracket, 0, op->gen);
  if (status == NOERROR)
    status = EmitHeld(op, kFieldBufferControl, SIG_CD_EMBEDDEDCTL);
  if (status == NOERROR)
    status = EmitHeld(op, kFieldBufferExt2Field, SIG_CD_EXT2FIELD);
  if (status == NOERROR)
    status = EmitHeld(op, kFieldBufferExtField, SIG_CD_EXTFIELD);
  if (status == NOERROR) {
    record_block block;
    block.Add(field.data(), field.size());
    status = block.Emit(SIG_CD_FIELD, op->gen);
  }
  if (status == NOERROR)
    status = WriteScriptModule(op, fieldName);
  bool allKnown = true;
  if (status == NOERROR)
    status = WriteJavaScript(op, &allKnown);
  if (status == NOERROR && allKnown)
    status = EmitHeld(op, kFieldBufferIdName, SIG_CD_IDNAME);
  if (status == NOERROR && wrap != 0)
    status = GenerateCDEnd(bracket, 0, op->gen);
  if (status == NOERROR && wrap != 0) {
    CDTEXT header;
    memcpy(&header, op->gen->item->internal->default_text_header, sizeof header);
    status = GenerateCDText("", 0, &header, op->gen);
  }
  if (status == NOERROR && !allKnown)
    return VELKO_ERR_FAILED;
  return status;
}

