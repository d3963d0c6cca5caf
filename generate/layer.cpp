/*
 * GenerateLayer: a positioned layer (the rich-text form of an absolutely
 * or fixed-positioned block) from a property string and a position text:
 * its bracket, layer and positioning records, box size, optional
 * background colour and image, the paragraph holding its text and the
 * text. GeneratePassthruText: text that rendering passes through as HTML,
 * inside a run this opens and a later step closes.
 *
 * "background-image=" is a second name of "BackgroundImage=", as
 * "background-color=" is of "BackgroundColor=", so the background bracket
 * always gets its image and end. "TextFont=" changes the layer's text
 * record only.
 */
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "generate/attribute_strings.h"
#include "generate/color_string.h"
#include "generate/length_value.h"
#include "generate/services.h"
#include "generate/structure_internal.h"
#include "store/rtitem_internal.h"
#include "store/session.h"
#include "velko/property_string.h"

using namespace structure;

namespace {

constexpr WORD kLayerVersion = 2;
constexpr WORD kBackgroundVersion = 1;
constexpr BYTE kSchemeAbsolute = 1;
constexpr double kDefaultBoxPixels = 100.0;
constexpr int kLengthMode = 1;
constexpr BYTE kRepeatTile = 4;
constexpr WORD kHiddenByFormula = 0x0800;

/* The ';'-separated fields of a position text (at most four). */
std::vector<std::string> PositionFields(const char* position) {
  std::vector<std::string> fields;
  if (position == nullptr)
    return fields;
  std::string text = position;
  size_t start = 0;
  while (fields.size() < 4) {
    const size_t end = text.find(';', start);
    fields.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos)
      break;
    start = end + 1;
  }
  return fields;
}

/* No field of the position text sets the length. */
constexpr size_t kNoField = 4;

/* Reads a length from the position field or, overriding it, the key. */
void ReadLength(LENGTH_VALUE* value, const std::vector<std::string>& fields, size_t field,
                const char* properties, const char* key) {
  if (field < fields.size())
    ParseLengthValue(value, fields[field].c_str(), kLengthMode);
  std::string text;
  if (Value(properties, key, &text))
    ParseLengthValue(value, text.c_str(), kLengthMode);
}

BYTE Scheme(const char* properties) {
  std::string value;
  if (!Value(properties, "Scheme=", &value) && !Value(properties, "position=", &value))
    return kSchemeAbsolute;
  if (Same(value, "static"))
    return 0;
  if (Same(value, "relative"))
    return 2;
  if (Same(value, "fixed"))
    return 3;
  return kSchemeAbsolute;
}

BYTE RepeatMode(const char* properties) {
  std::string value;
  if (!Value(properties, "BackgroundRepeat=", &value))
    return kRepeatTile;
  const struct {
    const char* name;
    bool whole;
    BYTE mode;
  } modes[] = {{"once", true, 1},   {"tile", true, 4},   {"vert", false, 2},
               {"horiz", false, 3}, {"cente", false, 6}, {"size", false, 5}};
  for (const auto& mode : modes) {
    if (mode.whole ? Same(value, mode.name) : Begins(value, mode.name))
      return mode.mode;
  }
  return kRepeatTile;
}

class layer_writer {
public:
  layer_writer(WORD zIndex, structure_generation* state, const char* properties,
               const char* position)
      : z_index_(zIndex), state_(state), gen_(state->gen), session_(SessionOf(state->gen)),
        item_(state->gen->item), properties_(properties != nullptr ? properties : ""),
        fields_(PositionFields(position)) {}

  STATUS Write();

private:
  STATUS IdName();
  STATUS Positioning();
  STATUS BoxSize();
  STATUS Background();
  STATUS Paragraph();
  STATUS Text();

  WORD z_index_;
  structure_generation* state_;
  generation_context* gen_;
  LSXLsiSession* session_;
  VelkoRTItem* item_;
  const char* properties_;
  std::vector<std::string> fields_;
};

STATUS layer_writer::Write() {
  CDLAYER layer = {};
  layer.Header.Signature = static_cast<BYTE>(SIG_CD_LAYER);
  layer.Header.Length = sizeof layer;
  STATUS status = GenerateCDBegin(SIG_CD_LAYER, kLayerVersion, gen_);
  if (status == NOERROR)
    status = Emit(layer, SIG_CD_LAYER, gen_);
  if (status == NOERROR && stristr(properties_, "LayerHTML") != nullptr)
    status = IdName();
  if (status == NOERROR)
    status = Positioning();
  if (status == NOERROR)
    status = BoxSize();
  if (status == NOERROR)
    status = Background();
  if (status == NOERROR)
    status = Paragraph();
  if (status == NOERROR)
    status = Text();
  if (status == NOERROR)
    status = GenerateCDEnd(SIG_CD_LAYER, kLayerVersion, gen_);
  return status;
}

STATUS layer_writer::IdName() {
  /* Six parts out of the property string cannot pass its length. */
  std::vector<BYTE> record(sizeof(CDIDNAME) + strlen(properties_) + 2, 0);
  CDIDNAME header = {};
  header.Header.Signature = SIG_CD_IDNAME;
  header.Header.Length = sizeof header;
  memcpy(record.data(), &header, sizeof header);
  STATUS status = NOERROR;
  const DWORD changed =
      ApplyPropertiesToIDNAMERecord(session_, record.data(), static_cast<DWORD>(record.size() - 1),
                                    nullptr, 0, "Layer", properties_, nullptr, &status);
  if (status != NOERROR || changed == 0)
    return status;
  memcpy(&header, record.data(), sizeof header);
  DWORD length = header.Header.Length;
  if ((length & 1) != 0) {
    record[length] = 0;
    header.Header.Length = static_cast<WORD>(++length);
    memcpy(record.data(), &header, sizeof header);
  }
  return CopyCDUpdated(record.data(), SIG_CD_IDNAME, length, gen_);
}

STATUS layer_writer::Positioning() {
  CDPOSITIONING positioning = {};
  positioning.Header.Signature = static_cast<BYTE>(SIG_CD_POSITIONING);
  positioning.Header.Length = sizeof positioning;
  positioning.Scheme = Scheme(properties_);
  positioning.ZIndex = z_index_;
  ReadLength(&positioning.Top, fields_, 0, properties_, "top=");
  ReadLength(&positioning.Left, fields_, 1, properties_, "left=");
  ReadLength(&positioning.Bottom, fields_, kNoField, properties_, "bottom=");
  ReadLength(&positioning.Right, fields_, kNoField, properties_, "right=");
  std::string value;
  if (Value(properties_, "BrowserLeftOffset=", &value))
    positioning.BrowserLeftOffset = strtod(value.c_str(), nullptr);
  if (Value(properties_, "BrowserRightOffset=", &value))
    positioning.BrowserRightOffset = strtod(value.c_str(), nullptr);
  return Emit(positioning, SIG_CD_POSITIONING, gen_);
}

STATUS layer_writer::BoxSize() {
  CDBOXSIZE box = {};
  box.Header.Signature = static_cast<BYTE>(SIG_CD_BOXSIZE);
  box.Header.Length = sizeof box;
  for (LENGTH_VALUE* length : {&box.Width, &box.Height}) {
    length->Length = kDefaultBoxPixels;
    length->Units = kLengthUnitsPixels;
  }
  ReadLength(&box.Width, fields_, 2, properties_, "width=");
  ReadLength(&box.Height, fields_, 3, properties_, "height=");
  return Emit(box, SIG_CD_BOXSIZE, gen_);
}

STATUS layer_writer::Background() {
  std::string image;
  const bool hasImage = Value(properties_, "BackgroundImage=", &image) ||
                        Value(properties_, "background-image=", &image);
  if (hasImage) {
    if (STATUS status = GenerateCDBegin(SIG_CD_LAYERBACKGROUND, kBackgroundVersion, gen_);
        status != NOERROR)
      return status;
  }
  std::string color;
  if (Value(properties_, "BackgroundColor=", &color) ||
      Value(properties_, "background-color=", &color)) {
    WORD index = 0;
    DWORD rgb = 0;
    if (ParseColorString(color.c_str(), &index, &rgb,
                         session_->internal->global_client_preference) == NOERROR) {
      if (STATUS status =
              GenerateCDColorValue(static_cast<BYTE>(SIG_CD_BACKGROUNDCOLOR), rgb, 0, gen_);
          status != NOERROR)
        return status;
    }
  }
  if (!hasImage)
    return NOERROR;
  std::string server, path, replica, option;
  Value(properties_, "BackgroundServer=", &server);
  Value(properties_, "BackgroundFilePath=", &path);
  Value(properties_, "BackgroundReplica=", &replica);
  DWORD flags = path.empty() ? 0 : CDRESOURCE_FLAGS_FILE_PATH;
  if (Value(properties_, "TempOption=", &option))
    flags = static_cast<WORD>(strtoul(option.c_str(), nullptr, 10));
  BYTE replicaBytes[8];
  ReplicaBytes(replica, replicaBytes);
  std::string record;
  if (!BuildImageResource(SIG_CD_RESOURCE, flags, image, server, path, replicaBytes, &record))
    return kGeneratorRefused;
  if (STATUS status = CopyCDUpdated(record.data(), SIG_CD_RESOURCE,
                                    static_cast<DWORD>(record.size()), gen_);
      status != NOERROR)
    return status;
  CDBACKGROUNDPROPERTIES properties = {};
  properties.Header.Signature = static_cast<BYTE>(SIG_CD_LAYERBACKGROUND);
  properties.Header.Length = sizeof properties;
  properties.RepeatMode = RepeatMode(properties_);
  if (STATUS status = Emit(properties, SIG_CD_LAYERBACKGROUND, gen_); status != NOERROR)
    return status;
  return GenerateCDEnd(SIG_CD_LAYERBACKGROUND, kBackgroundVersion, gen_);
}

STATUS layer_writer::Paragraph() {
  WORD pabid = 0;
  if (STATUS status = TakeNextPabid(state_, &pabid); status != NOERROR)
    return status;
  if (STATUS status = Emit(state_->paragraph, SIG_CD_PARAGRAPH, gen_); status != NOERROR)
    return status;
  _CDPABDEFEXT definition = CurrentDefinition(gen_);
  definition.Definition.PABID = pabid;
  ApplyParagraphSpec(state_->paragraph_values, &definition, state_->set_implied);
  item_->Modified = 1;
  const WORD formulaLength = session_->result_length;
  if (formulaLength != 0)
    definition.Definition.Flags |= kHiddenByFormula;
  if (STATUS status = CopyCDUpdated(&definition, SIG_CD_PABDEFINITION,
                                    DefinitionLength(definition), gen_);
      status != NOERROR)
    return status;
  if (formulaLength != 0) {
    const size_t length = sizeof(CDPABHIDE) + formulaLength;
    std::vector<BYTE> hide(length + (length & 1), 0);
    CDPABHIDE header = {};
    header.Header.Signature = SIG_CD_PABHIDE;
    header.Header.Length = static_cast<WORD>(hide.size());
    header.PABID = pabid;
    memcpy(hide.data(), &header, sizeof header);
    memcpy(hide.data() + sizeof header, session_->result_text, formulaLength);
    if (STATUS status = CopyCDUpdated(hide.data(), SIG_CD_PABHIDE,
                                      static_cast<DWORD>(hide.size()), gen_);
        status != NOERROR)
      return status;
    state_->hide_pabid = pabid;
    state_->hide_written = 1;
  }
  CDPABREFERENCE reference = CurrentReference(gen_);
  reference.PABID = pabid;
  SetCurrentReference(gen_, reference);
  return Emit(reference, SIG_CD_PABREFERENCE, gen_);
}

STATUS layer_writer::Text() {
  CDTEXT header = DefaultText(item_);
  std::string font;
  if (Value(properties_, "TextFont=", &font)) {
    if (ParseFontString(font.c_str(), nullptr, item_, state_->fonts, state_->font_masks) ==
        NOERROR)
      ApplyFontOverride(&header.FontID, nullptr, nullptr, &state_->fonts[0],
                        state_->font_masks[0].given);
  } else if (item_->PermanentPen != 0) {
    ApplyFontOverride(&header.FontID, nullptr, nullptr, &state_->fonts[0],
                      state_->font_masks[0].given);
  }
  std::string text;
  Value(properties_, "Text=", &text);
  if (text.size() + sizeof(CDTEXT) > kLargestEmittedRecord)
    return kGeneratorRefused;
  return GenerateCDText(text.data(), static_cast<int>(text.size()), &header, gen_);
}

} // namespace

STATUS GenerateLayer(WORD zIndex, structure_generation* state, const char* properties,
                     const char* position) {
  if (state == nullptr || state->gen == nullptr || state->gen->item == nullptr ||
      state->gen->item->internal == nullptr || SessionOf(state->gen) == nullptr ||
      SessionOf(state->gen)->internal == nullptr)
    return kGeneratorRefused;
  layer_writer writer(zIndex, state, properties, position);
  return writer.Write();
}

STATUS GeneratePassthruText(const char* text, WORD length, structure_generation* state) {
  if (state == nullptr || state->gen == nullptr || state->gen->item == nullptr ||
      state->gen->item->internal == nullptr)
    return kGeneratorRefused;
  const size_t size = length != 0 ? length : (text != nullptr ? strlen(text) : 0);
  if (size + sizeof(CDTEXT) > kLargestEmittedRecord)
    return kGeneratorRefused;
  if (state->passthru_open == 0) {
    CDHTMLBEGIN begin = {};
    begin.Header.Signature = SIG_CD_HTMLBEGIN;
    begin.Header.Length = sizeof begin;
    if (STATUS status = Emit(begin, SIG_CD_HTMLBEGIN, state->gen); status != NOERROR)
      return status;
    state->passthru_open = 1;
  }
  const CDTEXT header = DefaultText(state->gen->item);
  return GenerateCDText(text, static_cast<int>(size), &header, state->gen);
}
