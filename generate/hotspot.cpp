/*
 * Hotspots: GenerateHotspot (action hotspots, buttons, popups, computed
 * text, subforms, file-upload controls and embedded controls, each with its
 * begin record, label, control records, HTML attributes and end) and
 * GenerateFileHotspot (a file attached to the note and shown by an icon).
 * Records are emitted in order; the first that fails ends the sequence.
 */
#include <cstdio>
#include <initializer_list>
#include <cstdlib>
#include <cstring>

#include "generate/built_record.h"
#include "generate/color_string.h"
#include "generate/hotspot.h"
#include "generate/services.h"
#include "host/nsfnote.h"
#include "store/messages.h"
#include "store/note_access.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "store/tracked_memory.h"
#include "velko/property_string.h"

namespace {

constexpr DWORD kNoBorderFlags = 0x08;  /* hotspots without a border */
constexpr DWORD kActionFlags = 0x0C;    /* action hotspots and buttons */
constexpr WORD kDefaultButtonWidth = 2880;
constexpr WORD kButtonWrapOff = 0x0002;
constexpr WORD kButtonWidthTypeMask = 0xB1FF;
constexpr WORD kBlobMaximum = 20000;
constexpr WORD kEventClick = 1;
constexpr WORD kActionJavaScript = 4;
constexpr DWORD kControlFlags = 0x4408;
constexpr DWORD kControlScrollbarsOff = 0x08;
constexpr DWORD kEditorHasLabel = 0x1;
constexpr DWORD kEditorHideActionBar = 0x4;
constexpr DWORD kEmbeddedTailFlags = 2;
constexpr WORD kFileHotspotFlags = 0x08;

bool IsOneOf(WORD kind, std::initializer_list<WORD> kinds) {
  for (WORD k : kinds) {
    if (k == kind)
      return true;
  }
  return false;
}

bool IsBracketedKind(WORD kind) {
  return IsOneOf(kind, {kHotspotPopup, kHotspotAction, kHotspotButton, kHotspotSubform,
                        kHotspotEmbeddedNamed, kHotspotMouseOver, kHotspotFileUpload,
                        kHotspotEmbeddedLinked});
}

bool IsV4Kind(WORD kind) {
  return IsOneOf(kind, {kHotspotAction, kHotspotButton, kHotspotSubform, kHotspotEmbeddedNamed,
                        kHotspotFileUpload, kHotspotEmbeddedLinked});
}

bool IsPopupKind(WORD kind) { return kind == kHotspotPopup || kind == kHotspotMouseOver; }

/* The hotspot data the session holds. */
struct hotspot_data {
  const char* bytes;
  WORD length;
};

hotspot_data SessionData(LSXLsiSession* session) {
  // Any length the word holds fits behind the offset in the result text.
  static_assert(VELKO_RESULT_TEXT_SIZE - kHotspotDataOffset > 0xFFFF);
  const WORD length = session->result_length;
  return {session->result_text + kHotspotDataOffset, length};
}

STATUS EmitHotspotBegin(generation_context* gen, WORD signature, WORD kind, DWORD flags,
                        const char* data, size_t dataLength, size_t terminators) {
  built_record record(SessionOf(gen), signature, sizeof(CDHOTSPOTBEGIN), dataLength + terminators);
  RETURN_IF_FAILED(record.status());
  CDHOTSPOTBEGIN* fields = record.as<CDHOTSPOTBEGIN>();
  fields->Type = kind;
  fields->Flags = flags;
  fields->DataLength = static_cast<WORD>(dataLength + terminators);
  record.Append(data, dataLength);
  const BYTE zero[1] = {0};
  for (size_t n = 0; n < terminators; ++n)
    record.Append(zero, 1);
  return record.Emit(gen);
}

/* The label in the item's default text font with the operation's font
 * override applied. */
STATUS EmitLabelText(const char* label, WORD length, hotspot_state* state) {
  if (label != nullptr && length > kLargestBuiltRecord - sizeof(CDTEXT))
    return VELKO_ERR_BAD_ARGUMENT;
  CDTEXT header = {};
  std::memcpy(&header, state->gen->item->internal->default_text_header, sizeof header);
  if (state->label_font != nullptr && state->label_font_mask != nullptr)
    ApplyFontOverride(&header.FontID, nullptr, nullptr, state->label_font,
                      state->label_font_mask->given);
  return GenerateCDText(label != nullptr ? label : "", label != nullptr ? length : 0, &header,
                        state->gen);
}

/* A value in inches within [minimum, maximum] as twips; a value outside
 * (or not a number) shows what was used instead. */
WORD ClampedTwips(const char* value, double minimum, double maximum, const char* what) {
  double inches = std::strtod(value, nullptr);
  char message[128];
  if (!(inches >= minimum)) { /* below, or not a number */
    std::snprintf(message, sizeof message, "TARNO: Minimum %s of %g used.", what, minimum);
    ShowUserMessage(message);
    inches = minimum;
  } else if (inches > maximum) {
    std::snprintf(message, sizeof message, "TARNO: Maximum %s of %g used.", what, maximum);
    ShowUserMessage(message);
    inches = maximum;
  }
  return static_cast<WORD>(InchesToTwips(inches));
}

/* A font string applied over the FONTID; one that does not parse leaves it
 * as it is. */
void ApplyFontProperty(LSXLsiSession* session, VelkoRTItem* item, const char* font, FONTID* out) {
  if (font == nullptr)
    return;
  font_spec specs[2] = {};
  font_spec_mask masks[2] = {};
  if (ParseFontString(font, nullptr, item, specs, masks) != NOERROR)
    return;
  ApplyFontOverride(out, &session->internal->override_color,
                    &session->internal->override_color_flags, &specs[0], masks[0].given);
}

STATUS EmitButton(const char* label, WORD labelLength, const char* properties, bool useProperties,
                  hotspot_state* state) {
  LSXLsiSession* session = SessionOf(state->gen);
  property_value values(session, useProperties ? properties : nullptr);
  RETURN_IF_FAILED(values.status());
  const size_t length = label != nullptr ? labelLength : 0;
  built_record record(session, SIG_CD_BUTTON, sizeof(CDBUTTON), length);
  RETURN_IF_FAILED(record.status());
  CDBUTTON* button = record.as<CDBUTTON>();
  button->Width = kDefaultButtonWidth;
  record.Append(label, length);
  const char* width = values.Read("ButtonWidth=");
  if (width == nullptr)
    width = values.Read("Width=");
  if (width != nullptr)
    button->Width = ClampedTwips(width, 0.25, 22.75, "button width");
  const char* wrap = values.Read("ButtonWrap=");
  if (wrap != nullptr && !SameText(wrap, "YES"))
    button->Flags |= kButtonWrapOff;
  const char* fit = values.Read("ButtonFit=");
  if (fit != nullptr) {
    button->Flags &= kButtonWidthTypeMask;
    if (BeginsWith(fit, "Min"))
      button->Flags |= 0x0400;
    else if (BeginsWith(fit, "Fit"))
      button->Flags |= 0x0800;
    else if (BeginsWith(fit, "Fix"))
      button->Flags |= 0x0200;
  }
  session->internal->override_color = 0;
  ApplyFontProperty(session, state->gen->item, values.Read("TextFont="), &button->FontID);
  return record.Emit(state->gen);
}

STATUS EmitEvent(generation_context* gen, WORD signature, WORD actionType, const char* data,
                 WORD length, bool withData) {
  built_record record(SessionOf(gen), signature, sizeof(CDEVENT), withData ? length : 0);
  RETURN_IF_FAILED(record.status());
  CDEVENT* event = record.as<CDEVENT>();
  event->EventType = kEventClick;
  event->ActionType = actionType;
  event->ActionLength = length;
  if (withData)
    record.Append(data, length);
  return record.Emit(gen);
}

STATUS EmitBlobPart(generation_context* gen, WORD signature, WORD owner, const char* data,
                    WORD length) {
  const WORD even = static_cast<WORD>(EvenLength<DWORD>(length));
  built_record record(SessionOf(gen), signature, sizeof(CDBLOBPART), even);
  RETURN_IF_FAILED(record.status());
  CDBLOBPART* part = record.as<CDBLOBPART>();
  part->OwnerSig = owner;
  part->Length = even;
  part->BlobMax = kBlobMaximum;
  record.Append(data, length);
  return record.Emit(gen);
}

/* A JavaScript click event and its script, again for every client when
 * "CommonJavaScript=Yes". */
STATUS EmitScriptEvents(const hotspot_data& data, const char* properties, generation_context* gen) {
  RETURN_IF_FAILED(EmitEvent(gen, SIG_CD_EVENT, kActionJavaScript, nullptr, data.length, false));
  RETURN_IF_FAILED(EmitBlobPart(gen, SIG_CD_BLOBPART, SIG_CD_EVENT, data.bytes, data.length));
  property_value values(SessionOf(gen), properties);
  RETURN_IF_FAILED(values.status());
  const char* common = values.Read("CommonJavaScript=");
  if (common == nullptr || !SameText(common, "Yes"))
    return NOERROR;
  RETURN_IF_FAILED(
      EmitEvent(gen, SIG_CD_EVENT_COMMON, kActionJavaScript, nullptr, data.length, false));
  return EmitBlobPart(gen, SIG_CD_BLOBPART_COMMON, SIG_CD_EVENT_COMMON, data.bytes, data.length);
}

/* The embedded element naming the control (kind 19). */
STATUS EmitNamedElement(const hotspot_data& data, generation_context* gen) {
  constexpr size_t kGap = 8;
  built_record record(SessionOf(gen), SIG_CD_RESOURCE_FF71, sizeof(CDRESOURCE), kGap + data.length);
  RETURN_IF_FAILED(record.status());
  CDRESOURCE* fields = record.as<CDRESOURCE>();
  fields->Type = 3;
  fields->ResourceClass = 2;
  fields->Length1 = data.length;
  const BYTE gap[kGap] = {};
  record.Append(gap, kGap);
  record.Append(data.bytes, data.length);
  return record.Emit(gen);
}

/* A UNID of exactly 32 hexadecimal digits; zero for any other text. */
UNIVERSALNOTEID UnidOf(const char* text) {
  if (text == nullptr || std::strlen(text) != 32 || IsAllHex(text) == 0)
    return UNIVERSALNOTEID{};
  return ParseUniversalNoteID(text);
}

/* The embedded element linking the control to a note (kind 34): a note
 * link from "REPID=" (16 digits), "VIEWID=" and "UNID=" (32 digits each);
 * a part of any other length stays zero. */
STATUS EmitLinkedElement(const char* properties, generation_context* gen) {
  LSXLsiSession* session = SessionOf(gen);
  property_value values(session, properties);
  RETURN_IF_FAILED(values.status());
  if (values.Read("UNID=") == nullptr)
    return NOERROR;
  NOTELINK link = {};
  const UNIVERSALNOTEID note = UnidOf(values.Read("UNID="));
  const UNIVERSALNOTEID view = UnidOf(values.Read("VIEWID="));
  static_assert(sizeof note == sizeof link.Note && sizeof view == sizeof link.View);
  std::memcpy(&link.Note, &note, sizeof note);
  std::memcpy(&link.View, &view, sizeof view);
  BYTE replica[8];
  ReadReplicaID(values.Read("REPID="), replica);
  std::memcpy(&link.File, replica, sizeof replica);
  built_record record(session, SIG_CD_RESOURCE_FF71, sizeof(CDRESOURCE), sizeof link);
  RETURN_IF_FAILED(record.status());
  CDRESOURCE* fields = record.as<CDRESOURCE>();
  fields->Flags = CDRESOURCE_FLAGS_NOTELINK_INLINE;
  fields->Type = 2;
  fields->ResourceClass = 1;
  record.Append(&link, sizeof link);
  return record.Emit(gen);
}

STATUS EmitControl(WORD kind, const char* properties, hotspot_state* state) {
  LSXLsiSession* session = SessionOf(state->gen);
  property_value values(session, properties);
  RETURN_IF_FAILED(values.status());
  built_record record(session, SIG_CD_EMBEDDEDCONTROL, sizeof(CDEMBEDDEDCONTROL), 0);
  RETURN_IF_FAILED(record.status());
  CDEMBEDDEDCONTROL* control = record.as<CDEMBEDDEDCONTROL>();
  control->ControlType = kind;
  control->Flags = kControlFlags;
  control->Width = 5040;
  control->Height = 2880;
  for (COLOR_VALUE& color : control->Colors) {
    color.Flags |= 5;
    color.Red = color.Green = color.Blue = 255;
  }
  SetFontByte(&control->TextFont, FONTID_FACE_BYTE, 1);
  SetFontByte(&control->TextFont, FONTID_SIZE_BYTE, 10);
  if (const char* width = values.Read("Width="))
    control->Width = ClampedTwips(width, 0.25, 22.75, "embedded control width");
  if (const char* height = values.Read("Height="))
    control->Height = ClampedTwips(height, 0.167, 22.75, "embedded control height");
  const char* scrollbars = values.Read("Scrollbars=");
  if (scrollbars != nullptr && SameText(scrollbars, "yes"))
    control->Flags &= ~kControlScrollbarsOff;
  VelkoRTItem* item = state->gen->item;
  ApplyFontProperty(session, item, values.Read("TextFont="), &control->TextFont);
  control->Sub1Font = control->TextFont;
  ApplyFontProperty(session, item, values.Read("Sub1Font="), &control->Sub1Font);
  control->Sub2Font = control->Sub1Font;
  ApplyFontProperty(session, item, values.Read("Sub2Font="), &control->Sub2Font);
  return record.Emit(state->gen);
}

STATUS EmitEditorOptions(const char* label, WORD labelLength, const char* properties,
                         generation_context* gen) {
  LSXLsiSession* session = SessionOf(gen);
  property_value values(session, properties);
  RETURN_IF_FAILED(values.status());
  const size_t length = label != nullptr ? labelLength : 0;
  built_record record(session, SIG_CD_EMBEDDEDEDITOR, sizeof(CDEMBEDDEDEDITOR), length);
  RETURN_IF_FAILED(record.status());
  CDEMBEDDEDEDITOR* editor = record.as<CDEMBEDDEDEDITOR>();
  if (length > 0) {
    editor->Flags |= kEditorHasLabel;
    editor->LabelLength = static_cast<WORD>(length);
    record.Append(label, length);
  }
  const char* hide = values.Read("HideActionBar=");
  if (hide != nullptr && !SameText(hide, "Yes"))
    editor->Flags |= kEditorHideActionBar;
  return record.Emit(gen);
}

STATUS EmitTarget(const char* properties, generation_context* gen) {
  LSXLsiSession* session = SessionOf(gen);
  property_value values(session, properties);
  RETURN_IF_FAILED(values.status());
  const char* target = values.ReadText("Target=");
  if (target == nullptr)
    return NOERROR;
  const size_t length = std::strlen(target);
  built_record record(session, SIG_CD_TARGET, sizeof(CDTARGET), length);
  RETURN_IF_FAILED(record.status());
  record.as<CDTARGET>()->TargetLength = static_cast<WORD>(length);
  record.Append(target, length);
  return record.Emit(gen);
}

STATUS EmitTail(generation_context* gen) {
  built_record record(SessionOf(gen), SIG_CD_EMBEDDEDTAIL, sizeof(CDEMBEDDEDTAIL), 0);
  RETURN_IF_FAILED(record.status());
  record.as<CDEMBEDDEDTAIL>()->Flags = kEmbeddedTailFlags;
  return record.Emit(gen);
}

bool HasWord(const char* properties, const char* word) {
  return properties != nullptr && stristr(properties, word) != nullptr;
}

bool HasTarget(const char* properties) {
  char value[2];
  return ExtractProperty(properties, "Target=", value, sizeof value) != 0;
}

/* The begin record and what follows it at once, by kind and code flags. */
STATUS EmitBeginAndLabel(WORD kind, DWORD codeFlags, const char* label, WORD labelLength,
                         const char* properties, hotspot_state* state) {
  generation_context* gen = state->gen;
  const hotspot_data data = SessionData(SessionOf(gen));
  const bool actionKind = kind == kHotspotAction || kind == kHotspotButton;
  const DWORD ownFlags = actionKind ? kActionFlags : kNoBorderFlags;
  if (IsV4Kind(kind) && (codeFlags & (kHotspotCodeFormula | kHotspotCodeLotusScript)) != 0) {
    RETURN_IF_FAILED(EmitHotspotBegin(gen, SIG_CD_V4HOTSPOTBEGIN, kind, codeFlags | ownFlags,
                                      data.bytes, data.length, 0));
    if (kind == kHotspotAction)
      return EmitLabelText(label, labelLength, state);
    if (kind == kHotspotButton)
      return EmitButton(label, labelLength, properties, true, state);
    return NOERROR;
  }
  if (actionKind && (codeFlags & kHotspotCodeJavaScript) != 0) {
    RETURN_IF_FAILED(EmitHotspotBegin(gen, SIG_CD_V4HOTSPOTBEGIN, kind, codeFlags | kActionFlags,
                                      nullptr, 0, 0));
    RETURN_IF_FAILED(EmitScriptEvents(data, properties, gen));
    if (kind == kHotspotAction)
      return EmitLabelText(label, labelLength, state);
    return EmitButton(label, labelLength, nullptr, false, state);
  }
  if (IsPopupKind(kind)) {
    RETURN_IF_FAILED(EmitHotspotBegin(gen, SIG_CD_HOTSPOTBEGIN, kind, codeFlags | kActionFlags,
                                      data.bytes, data.length, 0));
    if ((codeFlags & kHotspotCodeFormula) != 0 && (codeFlags & kHotspotCodeComputedText) != 0)
      return EmitLabelText(nullptr, 0, state);
    return EmitLabelText(label, labelLength, state);
  }
  if (kind == kHotspotFileUpload || kind == kHotspotEmbeddedLinked)
    return EmitHotspotBegin(gen, SIG_CD_V4HOTSPOTBEGIN, kind, codeFlags | kNoBorderFlags, nullptr,
                            0, 0);
  if (kind == kHotspotEmbeddedNamed || kind == kHotspotSubform)
    return EmitHotspotBegin(gen, SIG_CD_V4HOTSPOTBEGIN, kind, codeFlags | kNoBorderFlags,
                            data.bytes, data.length, 1);
  return NOERROR;
}

/* The file icon: the graphic, its image header and the one segment of the
 * built-in GIF. */
STATUS EmitFileIcon(generation_context* gen) {
  LSXLsiSession* session = SessionOf(gen);
  {
    built_record record(session, SIG_CD_GRAPHIC, sizeof(CDGRAPHIC), 0);
    RETURN_IF_FAILED(record.status());
    record.as<CDGRAPHIC>()->Version = 2;
    RETURN_IF_FAILED(record.Emit(gen));
  }
  {
    built_record record(session, SIG_CD_IMAGEHEADER, sizeof(CDIMAGEHEADER), 0);
    RETURN_IF_FAILED(record.status());
    CDIMAGEHEADER* header = record.as<CDIMAGEHEADER>();
    header->ImageType = 1;
    header->Width = kFileIconWidth;
    header->Height = kFileIconHeight;
    header->ImageDataSize = kFileIconSize;
    header->SegCount = 1;
    RETURN_IF_FAILED(record.Emit(gen));
  }
  built_record record(session, SIG_CD_IMAGESEGMENT, sizeof(CDIMAGESEGMENT), kFileIconSize);
  RETURN_IF_FAILED(record.status());
  record.as<CDIMAGESEGMENT>()->DataSize = kFileIconSize;
  record.as<CDIMAGESEGMENT>()->SegSize = kFileIconSize;
  record.Append(FileIconGif, kFileIconSize);
  return record.Emit(gen);
}

/* "UseGraphic=": the file converted by its import filter and appended; a
 * file without a filter shows no icon. */
STATUS EmitImportedIcon(const char* file, hotspot_state* state) {
  LSXLsiSession* session = SessionOf(state->gen);
  char* name = VelkoAllocatePtrAndCopy(session, VELKO_HERE, file, 0);
  if (name == nullptr)
    return VELKO_ERR_MEMORY;
  char library[256] = {};
  char format[256] = {};
  char cdPath[1024] = {};
  STATUS status = NOERROR;
  if (DetermineImportExportDLL(session, name, library, format, 1, 0) != 0) {
    status = ImportFile(state->gen, file, library, format, cdPath, 0, 0);
    if (status == NOERROR)
      status = AppendImportFile(cdPath, state->gen);
    // The converted file goes whether or not its records could be
    // appended (a failed conversion leaves none).
    if (cdPath[0] != '\0')
      std::remove(cdPath);
    if (status != NOERROR && state->secondary_status != nullptr && *state->secondary_status == 0)
      *state->secondary_status = VELKO_ERR_IMPORT_FAILED;
  }
  VelkoDeallocatePtr(session, name);
  return status;
}

STATUS EmitDefaultText(const char* text, size_t length, generation_context* gen) {
  if (length > kLargestBuiltRecord - sizeof(CDTEXT))
    return VELKO_ERR_BAD_ARGUMENT;
  return GenerateCDText(text, static_cast<int>(length), gen->item->internal->default_text_header,
                        gen);
}

} // namespace

STATUS GenerateHotspot(WORD kind, DWORD codeFlags, const char* label, WORD labelLength,
                       const char* properties, WORD /*reserved*/, hotspot_state* state) {
  if (state == nullptr || state->gen == nullptr || state->gen->item == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  generation_context* gen = state->gen;
  const bool bracketed = IsBracketedKind(kind) || HasTarget(properties) ||
                         HasWord(properties, "HotspotHTML");
  if (bracketed)
    RETURN_IF_FAILED(GenerateCDBegin(SIG_CD_V4HOTSPOTBEGIN, 0, gen));
  const hotspot_data data = SessionData(SessionOf(gen));
  if (kind == kHotspotEmbeddedNamed)
    RETURN_IF_FAILED(EmitNamedElement(data, gen));
  if (kind == kHotspotEmbeddedLinked)
    RETURN_IF_FAILED(EmitLinkedElement(properties, gen));
  RETURN_IF_FAILED(EmitBeginAndLabel(kind, codeFlags, label, labelLength, properties, state));
  if (kind == kHotspotEmbeddedNamed)
    RETURN_IF_FAILED(EmitTarget(properties, gen));
  if (kind == kHotspotEmbeddedNamed || kind == kHotspotEmbeddedLinked)
    RETURN_IF_FAILED(EmitControl(kind, properties, state));
  if (kind == kHotspotEmbeddedLinked)
    RETURN_IF_FAILED(EmitEditorOptions(label, labelLength, properties, gen));
  if (kind == kHotspotEmbeddedNamed)
    RETURN_IF_FAILED(EmitTail(gen));
  if (HasWord(properties, "HotspotHTML"))
    RETURN_IF_FAILED(EmitIdNameRecord("Hotspot", properties, gen));
  if (IsV4Kind(kind) || IsPopupKind(kind)) {
    CDHOTSPOTEND end = {};
    end.Header.Signature = static_cast<BYTE>(IsV4Kind(kind) ? SIG_CD_V4HOTSPOTEND : SIG_CD_HOTSPOTEND);
    end.Header.Length = sizeof end;
    RETURN_IF_FAILED(CopyCDUpdated(&end, end.Header.Signature, sizeof end, gen));
  }
  if (!bracketed)
    return NOERROR;
  return GenerateCDEnd(SIG_CD_V4HOTSPOTEND, 0, gen);
}

STATUS GenerateFileHotspot(const char* filePath, const char* attachmentName,
                           const char* displayName, WORD /*reserved*/, const char* properties,
                           hotspot_state* state) {
  if (filePath == nullptr || attachmentName == nullptr || state == nullptr ||
      state->gen == nullptr || state->gen->item == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  generation_context* gen = state->gen;
  LSXLsiSession* session = SessionOf(gen);
  property_value values(session, properties);
  RETURN_IF_FAILED(values.status());
  const char* attached = values.Read("AlreadyAttached=");
  if (attached == nullptr || !SameText(attached, "Yes"))
    RETURN_IF_FAILED(NSFNoteAttachFile(gen->item->note, "$FILE", 5, filePath, attachmentName, 0));

  RETURN_IF_FAILED(GenerateCDBegin(SIG_CD_V4HOTSPOTBEGIN, 0, gen));
  if (displayName == nullptr) {
    const char* slash = std::strrchr(filePath, '/');
    displayName = slash != nullptr ? slash + 1 : filePath;
  }
  const size_t attachmentLength = std::strlen(attachmentName);
  const size_t displayLength = std::strlen(displayName);
  {
    built_record record(session, SIG_CD_HOTSPOTBEGIN, sizeof(CDHOTSPOTBEGIN),
                        attachmentLength + displayLength + 2);
    RETURN_IF_FAILED(record.status());
    CDHOTSPOTBEGIN* fields = record.as<CDHOTSPOTBEGIN>();
    fields->Type = kHotspotFile;
    fields->Flags = kFileHotspotFlags;
    fields->DataLength = static_cast<WORD>(attachmentLength + displayLength + 2);
    const char zero = '\0';
    record.Append(attachmentName, attachmentLength);
    record.Append(&zero, 1);
    record.Append(displayName, displayLength);
    record.Append(&zero, 1);
    RETURN_IF_FAILED(record.Emit(gen));
  }

  const char* graphic = values.Read("UseGraphic=");
  if (graphic == nullptr) {
    RETURN_IF_FAILED(EmitFileIcon(gen));
    const size_t length = displayLength + 3;
    char* text = static_cast<char*>(VelkoAllocatePtr(session, VELKO_HERE, length + 1, 1));
    if (text == nullptr)
      return VELKO_ERR_MEMORY;
    std::snprintf(text, length + 1, " - %s", displayName);
    const STATUS status = EmitDefaultText(text, length, gen);
    VelkoDeallocatePtr(session, text);
    RETURN_IF_FAILED(status);
  } else if (graphic[0] != '\0') {
    RETURN_IF_FAILED(EmitImportedIcon(graphic, state));
  }
  if (const char* text = values.ReadText("UseText="))
    RETURN_IF_FAILED(EmitDefaultText(text, std::strlen(text), gen));

  CDHOTSPOTEND end = {};
  end.Header.Signature = static_cast<BYTE>(SIG_CD_HOTSPOTEND);
  end.Header.Length = sizeof end;
  RETURN_IF_FAILED(CopyCDUpdated(&end, SIG_CD_HOTSPOTEND, sizeof end, gen));
  return GenerateCDEnd(SIG_CD_V4HOTSPOTEND, 0, gen);
}
