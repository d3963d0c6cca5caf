/*
 * Images by reference: GenerateResource (an image resource of a database
 * named by its name, as a graphic with its caption, alternate text, border,
 * wrapping and HTML attributes, or as a background image) and
 * GenerateStorageLink (an image stored outside the rich text, named by a
 * reference). Both emit their records in order and stop at the first one
 * that fails.
 */
#include <cstdlib>
#include <cstring>

#include "generate/built_record.h"
#include "generate/color_string.h"
#include "generate/hotspot.h"
#include "generate/services.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "velko/property_string.h"

namespace {

/* The class of an image resource, and the class a reference by file path
 * takes. */
constexpr WORD kFilePathClass = 8;
/* The replica ID is read from the first 16 characters of "ReplicaID=". */
constexpr size_t kReplicaDigits = 16;
/* A reference held in a storage object of the note instead. */
constexpr WORD kStorageResourceType = 6;
constexpr WORD kGraphicVersion = 1;
constexpr BYTE kGraphicFloats = 0x02;
constexpr WORD kDefaultImageSide = 100;
constexpr BYTE kDefaultRepeat = 4;

WORD DecimalWord(const char* text) {
  return static_cast<WORD>(std::strtol(text, nullptr, 10));
}

/* The length of the name up to its last '?', or else its last '!'. */
size_t ResourceNameLength(const char* name) {
  const char* cut = std::strrchr(name, '?');
  if (cut == nullptr)
    cut = std::strrchr(name, '!');
  return cut != nullptr ? static_cast<size_t>(cut - name) : std::strlen(name);
}

/* A resource reference: the given type and class, a file path from
 * "FilePath=" (which also sets the file-path flag, and with classForPath
 * non-zero that class), the replica ID from the first 16 characters of
 * "ReplicaID=", then the name.
 * A storage reference ("BackgroundStorage=" of a background) has no
 * replica ID and names a storage object. */
STATUS EmitResourceReference(hotspot_state* state, WORD signature, WORD type, WORD resourceClass,
                             WORD classForPath, const char* name, size_t nameLength,
                             const char* properties, bool storage) {
  LSXLsiSession* session = SessionOf(state->gen);
  property_value values(session, properties);
  RETURN_IF_FAILED(values.status());
  BYTE replica[8] = {};
  if (const char* replicaText = values.Read("ReplicaID=");
      replicaText != nullptr && std::strlen(replicaText) >= kReplicaDigits) {
    char digits[kReplicaDigits + 1] = {};
    std::memcpy(digits, replicaText, kReplicaDigits);
    ReadReplicaID(digits, replica);
  }
  const char* filePath = values.ReadText("FilePath=");
  const size_t pathLength = filePath != nullptr ? std::strlen(filePath) : 0;
  const size_t replicaLength = storage ? 0 : sizeof replica;
  built_record record(session, signature, sizeof(CDRESOURCE), pathLength + replicaLength + nameLength);
  RETURN_IF_FAILED(record.status());
  CDRESOURCE* fields = record.as<CDRESOURCE>();
  fields->Type = storage ? kStorageResourceType : type;
  fields->ResourceClass = storage ? kFilePathClass : resourceClass;
  if (pathLength > 0) {
    fields->Flags = CDRESOURCE_FLAGS_PATH_HINT;
    if (classForPath != 0)
      fields->ResourceClass = classForPath;
  }
  fields->Length1 = static_cast<WORD>(nameLength);
  fields->FileHintLength = static_cast<WORD>(pathLength);
  record.Append(filePath, pathLength);
  record.Append(replica, replicaLength);
  record.Append(name, nameLength);
  return record.Emit(state->gen);
}

BYTE RepeatMode(const char* value) {
  static const struct {
    const char* prefix;
    BYTE mode;
  } kModes[] = {{"REPEAT_O", 1}, {"REPEAT_V", 2}, {"REPEAT_H", 3},
                {"TILE", 4},     {"SIZE_TO", 5},  {"CENTER", 6}};
  for (const auto& mode : kModes) {
    if (BeginsWith(value, mode.prefix))
      return mode.mode;
  }
  return kDefaultRepeat;
}

STATUS EmitBackground(WORD type, WORD resourceClass, const char* name, size_t nameLength,
                      const char* properties, hotspot_state* state) {
  LSXLsiSession* session = SessionOf(state->gen);
  property_value values(session, properties);
  RETURN_IF_FAILED(values.status());
  const bool storage = values.Read("BackgroundStorage=") != nullptr;
  RETURN_IF_FAILED(EmitResourceReference(state, SIG_CD_RESOURCE_FF5A, type, resourceClass, 0, name,
                                         nameLength, properties, storage));
  const char* repeat = values.Read("Repeat=");
  built_record record(session, SIG_CD_BACKGROUNDREPEAT, sizeof(CDBACKGROUNDREPEAT), 0);
  RETURN_IF_FAILED(record.status());
  record.as<CDBACKGROUNDREPEAT>()->Repeat = repeat != nullptr ? RepeatMode(repeat) : kDefaultRepeat;
  return record.Emit(state->gen);
}

STATUS EmitGraphic(BYTE version, BYTE flags, WORD width, WORD height, hotspot_state* state) {
  built_record record(SessionOf(state->gen), SIG_CD_GRAPHIC, sizeof(CDGRAPHIC), 0);
  RETURN_IF_FAILED(record.status());
  CDGRAPHIC* graphic = record.as<CDGRAPHIC>();
  graphic->DestWidth = width;
  graphic->DestHeight = height;
  graphic->Version = version;
  graphic->Flags = flags;
  return record.Emit(state->gen);
}

/* The first of the keys present gives the side, else the fallback when
 * given, else 100. */
WORD ImageSide(property_value& values, const char* key, const char* second, WORD fallback) {
  const char* value = values.Read(key);
  if (value == nullptr && second != nullptr)
    value = values.Read(second);
  if (value != nullptr)
    return DecimalWord(value);
  return fallback != 0 ? fallback : kDefaultImageSide;
}

} // namespace

STATUS EmitAltText(const char* text, generation_context* gen) {
  const size_t length = text != nullptr ? std::strlen(text) : 0;
  if (length == 0)
    return NOERROR;
  built_record record(SessionOf(gen), SIG_CD_ALTTEXT, sizeof(CDALTTEXT), length);
  RETURN_IF_FAILED(record.status());
  record.as<CDALTTEXT>()->Length = static_cast<WORD>(length);
  record.Append(text, length);
  return record.Emit(gen);
}

namespace {

/* "Caption=" as a CDCAPTION: its position, and the colour of the font
 * "CaptionFont=" gives (a basic colour without an RGB value of its own
 * takes the palette's). */
STATUS EmitCaption(const char* properties, hotspot_state* state) {
  LSXLsiSession* session = SessionOf(state->gen);
  property_value values(session, properties);
  RETURN_IF_FAILED(values.status());
  const char* caption = values.ReadText("Caption=");
  if (caption == nullptr)
    return NOERROR;
  const size_t length = std::strlen(caption);
  built_record record(session, SIG_CD_CAPTION, sizeof(CDCAPTION), length);
  RETURN_IF_FAILED(record.status());
  record.Append(caption, length);
  CDCAPTION* fields = record.as<CDCAPTION>();
  fields->Length = static_cast<WORD>(length);
  SetFontByte(&fields->FontID, FONTID_SIZE_BYTE, 10);
  fields->FontColor.Flags = kColorFlagSystem;
  const char* position = values.Read("CaptionPosition=");
  if (BeginsWith(position, "Center"))
    fields->Position = 1;
  const char* font = values.ReadText("CaptionFont=");
  font_spec specs[2] = {};
  font_spec_mask masks[2] = {};
  if (font != nullptr && ParseFontString(font, nullptr, state->gen->item, specs, masks) == NOERROR) {
    DWORD rgb = 0;
    WORD colorFlags = 0;
    ApplyFontOverride(&fields->FontID, &rgb, &colorFlags, &specs[0], masks[0].given);
    const BYTE color = FontByte(&fields->FontID, FONTID_COLOR_BYTE);
    if (color < kBasicColors && rgb == 0)
      rgb = RGB_TABLE[color];
    fields->FontColor.Flags = kColorFlagRgb;
    fields->FontColor.Red = static_cast<BYTE>(rgb & 0xFF);
    fields->FontColor.Green = static_cast<BYTE>((rgb >> 8) & 0xFF);
    fields->FontColor.Blue = static_cast<BYTE>((rgb >> 16) & 0xFF);
  }
  return record.Emit(state->gen);
}

STATUS EmitBorder(const char* border, generation_context* gen) {
  built_record record(SessionOf(gen), SIG_CD_BORDERINFO, sizeof(CDBORDERINFO), 0);
  RETURN_IF_FAILED(record.status());
  CDBORDERINFO* fields = record.as<CDBORDERINFO>();
  const WORD width = DecimalWord(border);
  fields->BorderStyle = 1;
  fields->BorderWidthTop = fields->BorderWidthLeft = width;
  fields->BorderWidthBottom = fields->BorderWidthRight = width;
  return record.Emit(gen);
}

STATUS EmitFloat(WORD value, generation_context* gen) {
  built_record record(SessionOf(gen), SIG_CD_FLOAT, sizeof(CDFLOAT), 0);
  RETURN_IF_FAILED(record.status());
  record.as<CDFLOAT>()->Float = value;
  return record.Emit(gen);
}

STATUS EmitAlign(WORD value, generation_context* gen) {
  built_record record(SessionOf(gen), SIG_CD_VERTICALALIGN, sizeof(CDVERTICALALIGN), 0);
  RETURN_IF_FAILED(record.status());
  record.as<CDVERTICALALIGN>()->Alignment = value;
  return record.Emit(gen);
}

bool Contains(const char* text, const char* word) { return stristr(text, word) != nullptr; }

/* Wrapping of a graphic from an align argument or "WrapText=": a float
 * record for left, right or a WRAP value other than WRAP_AROUND; else an
 * align record for ALIGN or WRAP_AROUND values, or any holding top,
 * middle or bottom. */
STATUS EmitResourceWrap(const char* value, generation_context* gen) {
  if (value == nullptr || value[0] == '\0')
    return NOERROR;
  const bool left = SameText(value, "left");
  const bool right = SameText(value, "right");
  if (left || right || (BeginsWith(value, "WRAP") && !BeginsWith(value, "WRAP_AROUND"))) {
    const WORD side = left || BeginsWith(value, "WRAP_FLOAT_LEFT")    ? 1
                      : right || BeginsWith(value, "WRAP_FLOAT_RIGHT") ? 2
                                                                       : 0;
    return EmitFloat(side, gen);
  }
  if (!BeginsWith(value, "ALIGN") && !BeginsWith(value, "WRAP_AROUND") && !Contains(value, "top") &&
      !Contains(value, "middle") && !Contains(value, "bottom"))
    return NOERROR;
  WORD alignment = 0;
  if (BeginsWith(value, "ALIGN_TOP") || BeginsWith(value, "WRAP_AROUND"))
    alignment = 2;
  else if (BeginsWith(value, "ALIGN_CENTER"))
    alignment = 1;
  else if (BeginsWith(value, "ALIGN_BOTTOM"))
    alignment = 5;
  else if (Contains(value, "top"))
    alignment = 2;
  else if (Contains(value, "middle"))
    alignment = 1;
  else if (Contains(value, "bottom"))
    alignment = 5;
  return EmitAlign(alignment, gen);
}

/* The same for a storage link, from "WrapText=" alone. */
STATUS EmitStorageLinkWrap(const char* value, generation_context* gen) {
  if (value == nullptr)
    return NOERROR;
  if (BeginsWith(value, "WRAP") && !BeginsWith(value, "WRAP_AROUND")) {
    const WORD side = BeginsWith(value, "WRAP_FLOAT_LEFT")    ? 1
                      : BeginsWith(value, "WRAP_FLOAT_RIGHT") ? 2
                                                              : 0;
    return EmitFloat(side, gen);
  }
  if (!BeginsWith(value, "ALIGN") && !SameText(value, "WRAP_AROUND"))
    return NOERROR;
  const WORD alignment = BeginsWith(value, "ALIGN_TOP") || SameText(value, "WRAP_AROUND") ? 2
                         : BeginsWith(value, "ALIGN_CENTER")                               ? 1
                         : BeginsWith(value, "ALIGN_BOTTOM")                               ? 5
                                                                                           : 0;
  return EmitAlign(alignment, gen);
}

/* A CDIDNAME from the quoted ImageHTML values; without "ImageHTMLOther="
 * the other part is made of the hspace and vspace given. */
STATUS EmitImageIdName(const char* properties, const char* hspace, const char* vspace,
                       generation_context* gen) {
  static const char* const kKeys[6] = {"ImageHTMLID=",    "ImageHTMLClass=", "ImageHTMLStyle=",
                                       "ImageHTMLTitle=", "ImageHTMLOther=", "ImageHTMLName="};
  constexpr int kOther = 4;
  const char* texts[6] = {};
  size_t lengths[6] = {};
  size_t total = 0;
  for (int part = 0; part < 6; ++part) {
    if (QuotedValue(properties, kKeys[part], &texts[part], &lengths[part]))
      total += lengths[part];
  }
  /* "hspace='" + value + "' " for each given value. */
  const bool spacing = texts[kOther] == nullptr;
  const size_t hLength = hspace != nullptr ? std::strlen(hspace) : 0;
  const size_t vLength = vspace != nullptr ? std::strlen(vspace) : 0;
  if (spacing) {
    lengths[kOther] = (hspace != nullptr ? hLength + 10 : 0) + (vspace != nullptr ? vLength + 10 : 0);
    total += lengths[kOther];
  }
  built_record record(SessionOf(gen), SIG_CD_IDNAME, sizeof(CDIDNAME), total);
  RETURN_IF_FAILED(record.status());
  CDIDNAME* fields = record.as<CDIDNAME>();
  WORD* lengthFields[6] = {&fields->Length,      &fields->ClassNameLength, &fields->StyleLength,
                           &fields->TitleLength, &fields->ExtraLength,     &fields->NameLength};
  for (int part = 0; part < 6; ++part) {
    *lengthFields[part] = static_cast<WORD>(lengths[part]);
    if (part == kOther && spacing) {
      const char* words[2][2] = {{"hspace='", hspace}, {"vspace='", vspace}};
      for (const auto& word : words) {
        if (word[1] == nullptr)
          continue;
        record.Append(word[0], 8);
        record.Append(word[1], std::strlen(word[1]));
        record.Append("' ", 2);
      }
      continue;
    }
    record.Append(texts[part], lengths[part]);
  }
  return record.Emit(gen);
}

bool HasText(const char* text) { return text != nullptr && text[0] != '\0'; }

} // namespace

STATUS GenerateResource(WORD type, WORD resourceClass, const char* name, const char* properties,
                        DWORD asBackground, hotspot_state* state, WORD width, WORD height,
                        const char* altText, const char* align, const char* hspace,
                        const char* vspace, const char* border) {
  if (resourceClass != kImageResourceClass || name == nullptr || state == nullptr ||
      state->gen == nullptr || state->gen->item == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  const size_t nameLength = ResourceNameLength(name);
  if (asBackground != 0)
    return EmitBackground(type, resourceClass, name, nameLength, properties, state);

  generation_context* gen = state->gen;
  LSXLsiSession* session = SessionOf(gen);
  property_value values(session, properties);
  RETURN_IF_FAILED(values.status());
  const char* makeInLine = values.Read("MakeInLine=");
  const bool inLine = makeInLine != nullptr && SameText(makeInLine, "Yes");

  RETURN_IF_FAILED(GenerateCDBegin(SIG_CD_GRAPHIC, kGraphicVersion, gen));
  if (!inLine) {
    const char* wrap = values.Read("WrapText=");
    const bool floats = SameText(align, "left") || SameText(align, "right") ||
                        BeginsWith(wrap, "WRAP");
    RETURN_IF_FAILED(EmitGraphic(2, static_cast<BYTE>(1 | (floats ? kGraphicFloats : 0)), width,
                                 height, state));
    built_record header(session, SIG_CD_IMAGEHEADER, sizeof(CDIMAGEHEADER), 0);
    RETURN_IF_FAILED(header.status());
    CDIMAGEHEADER* image = header.as<CDIMAGEHEADER>();
    image->ImageType = BeginsWith(values.Read("ImageType="), "JP") ? 2 : 1;
    image->Width = ImageSide(values, "ImageWidth=", "GraphicWidth=", width);
    image->Height = ImageSide(values, "ImageHeight=", "GraphicHeight=", height);
    RETURN_IF_FAILED(header.Emit(gen));
  } else {
    /* The resource's own records, copied in at the size asked for. */
    const char* imageWidth = values.Read("ImageWidth=");
    const WORD inLineWidth = imageWidth != nullptr ? DecimalWord(imageWidth) : width;
    const char* imageHeight = values.Read("ImageHeight=");
    const WORD inLineHeight = imageHeight != nullptr ? DecimalWord(imageHeight) : height;
    char* ownName = static_cast<char*>(VelkoAllocatePtrAndCopy(session, VELKO_HERE, name,
                                                               nameLength));
    if (ownName == nullptr && nameLength > 0)
      return VELKO_ERR_MEMORY;
    const STATUS status = AppendImageResourceRecords(gen, ownName != nullptr ? ownName : "",
                                                     inLineWidth, inLineHeight, properties);
    if (ownName != nullptr)
      VelkoDeallocatePtr(session, ownName);
    RETURN_IF_FAILED(status);
  }

  RETURN_IF_FAILED(EmitAltText(altText != nullptr ? altText : values.Read("AltText="), gen));
  if (HasText(border))
    RETURN_IF_FAILED(EmitBorder(border, gen));
  RETURN_IF_FAILED(EmitCaption(properties, state));
  RETURN_IF_FAILED(EmitResourceWrap(HasText(align) ? align : values.Read("WrapText="), gen));
  if (!inLine)
    RETURN_IF_FAILED(EmitResourceReference(state, SIG_CD_RESOURCE, type, resourceClass,
                                           kFilePathClass, name, nameLength, properties, false));
  if ((properties != nullptr && stristr(properties, "ImageHTML") != nullptr) || hspace != nullptr ||
      vspace != nullptr)
    RETURN_IF_FAILED(EmitImageIdName(properties, hspace, vspace, gen));
  return GenerateCDEnd(SIG_CD_GRAPHIC, kGraphicVersion, gen);
}

STATUS GenerateStorageLink(WORD kind, const char* reference, const char* properties,
                           hotspot_state* state) {
  if (reference == nullptr || state == nullptr || state->gen == nullptr ||
      state->gen->item == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  generation_context* gen = state->gen;
  LSXLsiSession* session = SessionOf(gen);
  property_value values(session, properties);
  RETURN_IF_FAILED(values.status());
  const size_t referenceLength = std::strlen(reference);
  built_record link(session, SIG_CD_STORAGELINK, sizeof(CDSTORAGELINK), referenceLength);
  RETURN_IF_FAILED(link.status());

  RETURN_IF_FAILED(GenerateCDText("", 0, gen->item->internal->default_text_header, gen));
  RETURN_IF_FAILED(GenerateCDBegin(SIG_CD_GRAPHIC, kGraphicVersion, gen));
  const char* wrap = values.Read("WrapText=");
  RETURN_IF_FAILED(EmitGraphic(2, BeginsWith(wrap, "WRAP") ? kGraphicFloats : 0, 0, 0, state));

  CDSTORAGELINK* fields = link.as<CDSTORAGELINK>();
  fields->StorageType = kind == 2 ? 4 : 1;
  const char* loadType = values.Read("LoadType=");
  if (loadType != nullptr)
    fields->LoadType = SameText(loadType, "Deferred") ? 1 : 2;
  fields->Length = static_cast<WORD>(referenceLength);
  link.Append(reference, referenceLength);
  RETURN_IF_FAILED(link.Emit(gen));

  built_record header(session, SIG_CD_BITMAPHEADER, sizeof(CDBITMAPHEADER), 0);
  RETURN_IF_FAILED(header.status());
  header.as<CDBITMAPHEADER>()->Width = ImageSide(values, "ImageWidth=", nullptr, 0);
  header.as<CDBITMAPHEADER>()->Height = ImageSide(values, "ImageHeight=", nullptr, 0);
  RETURN_IF_FAILED(header.Emit(gen));

  RETURN_IF_FAILED(EmitAltText(values.Read("AltText="), gen));
  RETURN_IF_FAILED(EmitCaption(properties, state));
  RETURN_IF_FAILED(EmitStorageLinkWrap(values.Read("WrapText="), gen));
  if (properties != nullptr && stristr(properties, "ImageHTML") != nullptr)
    RETURN_IF_FAILED(EmitImageIdName(properties, nullptr, nullptr, gen));
  return GenerateCDEnd(SIG_CD_GRAPHIC, kGraphicVersion, gen);
}
