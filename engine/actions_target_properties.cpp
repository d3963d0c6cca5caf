/*
 * Target attributes (action 2437, which no method issues): the attribute
 * records of one target type in a chunk set from a property string, the
 * counterpart of the target-property query. p1 is the target type, s1 the
 * property string.
 *
 * Paragraphs take border records (a new one before a paragraph reference
 * that has none); graphics their alternate text, caption, identity texts
 * and border; layers their position, box size, background and identity
 * texts; horizontal rules their rule record and identity texts; URL
 * links their target frame and identity texts. A record
 * the chunk holds is rebuilt in a block of its own; the records a graphic
 * (or section) and a layer still lack are added where the chunk closes,
 * each once, and a bracket opened around a graphic for them is closed
 * there.
 */
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>

#include "engine/paragraph_table.h"
#include "engine/process_state.h"
#include "engine/record_fields.h"
#include "engine/services.h"
#include "generate/attribute_strings.h"
#include "generate/length_value.h"
#include "store/emitter.h"
#include "store/tracked_memory.h"
#include "store/vocabulary.h"
#include "velko/property_string.h"
#include "velko/status.h"

namespace {

/* Bits of the state's target records: the attribute records the chunk
 * holds or has been given. */
constexpr DWORD kHasAltText = 0x01;
constexpr DWORD kHasCaption = 0x02;
constexpr DWORD kHasGraphicIdentity = 0x04;
constexpr DWORD kHasBorder = 0x08;
constexpr DWORD kHasLayerIdentity = 0x10;
constexpr DWORD kHasLinkTarget = 0x20;
constexpr DWORD kHasLinkIdentity = 0x40;

constexpr WORD kBracketVersion = 1;

/* The value of key in s1; false when s1 does not hold the key. */
bool Value(const char* properties, const char* key, std::string* value) {
  if (properties == nullptr)
    return false;
  std::string text(strlen(properties) + 1, '\0');
  if (ExtractProperty(properties, key, text.data(), text.size()) == 0)
    return false;
  text.resize(strlen(text.c_str()));
  *value = text;
  return true;
}

bool Holds(const char* properties, const char* key) {
  std::string value;
  return Value(properties, key, &value);
}

/* The border keys that call for a border record. */
bool HoldsBorderKeys(const char* properties) {
  for (const char* key : {"BorderStyle=", "BorderColor=", "BorderEffects=", "BorderThickness=",
                          "BorderThicknessTop=", "BorderThicknessLeft=", "BorderThicknessBottom=",
                          "BorderThicknessRight="}) {
    if (Holds(properties, key))
      return true;
  }
  return false;
}

bool HoldsText(const char* properties, const char* word) {
  return properties != nullptr && stristr(properties, word) != nullptr;
}

/* The bytes as the step's output, in a tracked block. */
STATUS Replace(const std::string& bytes, chunk_record_output* output, chunk_process_state* state) {
  velko_allocation* block = VelkoAllocate(state->session, VELKO_HERE, bytes.size(), 1);
  if (block == nullptr || block->data == nullptr)
    return VELKO_ERR_MEMORY;
  memcpy(block->data, bytes.data(), bytes.size());
  output->block = block;
  output->data = static_cast<const char*>(block->data);
  output->length = static_cast<DWORD>(bytes.size());
  StateItem(state)->Modified = 1;
  return NOERROR;
}

STATUS Emit(const std::string& bytes, WORD signature, chunk_process_state* state) {
  StateItem(state)->Modified = 1;
  return CopyCDUpdated(bytes.data(), signature, static_cast<DWORD>(bytes.size()), &state->gen);
}

/* A fixed part followed by a text, the header's length covering both. */
template <typename Fixed>
std::string WithText(Fixed fixed, const std::string& text) {
  fixed.Header.Length = static_cast<WORD>(sizeof fixed + text.size());
  std::string bytes(reinterpret_cast<const char*>(&fixed), sizeof fixed);
  return bytes + text;
}

/* The fixed part of a record (zeroed where the record is shorter). */
template <typename Fixed>
Fixed FixedPart(const char* record, DWORD length) {
  Fixed fixed = {};
  memcpy(&fixed, record, length < sizeof fixed ? length : sizeof fixed);
  return fixed;
}

/* ---- records rebuilt or built anew ---- */

/* An alternate-text record holding the text; false when too long. */
bool AltText(CDALTTEXT fixed, const std::string& text, std::string* bytes) {
  if (sizeof fixed + text.size() > kAttributeRecordLimit)
    return false;
  fixed.Header.Signature = SIG_CD_ALTTEXT;
  fixed.Length = static_cast<WORD>(text.size());
  *bytes = WithText(fixed, text);
  return true;
}

/* A caption record with the caption keys applied over the fixed part and
 * text given; false when the text is too long. */
bool Caption(CDCAPTION fixed, std::string text, const chunk_process_state* state,
             std::string* bytes) {
  const char* properties = state->s1;
  Value(properties, "Caption=", &text);
  if (sizeof fixed + text.size() > kAttributeRecordLimit)
    return false;
  std::string position;
  if (Value(properties, "CaptionPosition=", &position)) {
    if (strcasecmp(position.c_str(), "Center") == 0)
      fixed.Position = 1;
    else if (strcasecmp(position.c_str(), "Bottom") == 0)
      fixed.Position = 0;
  }
  std::string font;
  font_spec specs[2];
  font_spec_mask masks[2];
  if (Value(properties, "CaptionFont=", &font) &&
      ParseFontString(font.c_str(), nullptr, StateItem(state), specs, masks) == NOERROR) {
    COLOR_VALUE& color = fixed.FontColor;
    DWORD rgb = DWORD{color.Red} | DWORD{color.Green} << 8 | DWORD{color.Blue} << 16;
    WORD flags = color.Flags;
    ApplyFontOverride(&fixed.FontID, &rgb, &flags, &specs[0], masks[0].given);
    color.Flags = flags;
    color.Red = static_cast<BYTE>(rgb & 0xFF);
    color.Green = static_cast<BYTE>(rgb >> 8 & 0xFF);
    color.Blue = static_cast<BYTE>(rgb >> 16 & 0xFF);
  }
  fixed.Header.Signature = SIG_CD_CAPTION;
  fixed.Length = static_cast<WORD>(text.size());
  *bytes = WithText(fixed, text);
  return true;
}

/* An identity record with the prefix's keys applied over the existing one
 * (null: none), its length made even as the generators make it; *changed
 * (when given) tells whether a part changed. */
STATUS Identity(const char* existing, DWORD length, const char* prefix,
                const chunk_process_state* state, std::string* bytes, DWORD* changed = nullptr) {
  std::string block(kAttributeRecordLimit + 1, '\0');
  if (existing != nullptr)
    memcpy(block.data(), existing, length < sizeof(CDIDNAME) ? length : sizeof(CDIDNAME));
  STATUS status = NOERROR;
  const DWORD change = ApplyPropertiesToIDNAMERecord(state->session, block.data(),
                                                     kAttributeRecordLimit - 1, existing, length,
                                                     prefix, state->s1, nullptr, &status);
  if (status != NOERROR)
    return status;
  if (changed != nullptr)
    *changed = change;
  CDIDNAME fixed;
  memcpy(&fixed, block.data(), sizeof fixed);
  if ((fixed.Header.Length & 1) != 0) {
    ++fixed.Header.Length;
    memcpy(block.data(), &fixed, sizeof fixed);
  }
  block.resize(fixed.Header.Length);
  *bytes = block;
  return NOERROR;
}

/* A border record (its fixed size at least) with the border keys
 * applied over the record given. */
STATUS Border(const char* record, DWORD length, chunk_process_state* state, std::string* bytes) {
  std::string block(length > sizeof(CDBORDERINFO) ? length : sizeof(CDBORDERINFO), '\0');
  memcpy(block.data(), record, length);
  if (STATUS status = ApplyPropertiesToBorderRecord(state->session, SIG_CD_BORDERINFO, block.data(),
                                                    static_cast<DWORD>(block.size()), state->s1, 0);
      status != NOERROR)
    return status;
  *bytes = block;
  return NOERROR;
}

STATUS NewBorder(chunk_process_state* state) {
  CDBORDERINFO fixed = {};
  fixed.Header.Signature = SIG_CD_BORDERINFO;
  fixed.Header.Length = sizeof fixed;
  std::string bytes;
  if (STATUS status =
          Border(reinterpret_cast<const char*>(&fixed), sizeof fixed, state, &bytes);
      status != NOERROR)
    return status;
  return Emit(bytes, SIG_CD_BORDERINFO, state);
}

/* ---- paragraphs ---- */

/* Whether the paragraph reference is followed by a border record, alone
 * or in its bracket. */
bool BorderFollows(const record_storage* node) {
  const record_storage* next = node != nullptr ? node->next : nullptr;
  if (next == nullptr)
    return false;
  return next->signature == SIG_CD_BORDERINFO ||
         IsBeginOf(next->data, next->signature, next->length, SIG_CD_BORDERINFO);
}

STATUS SetParagraphRecord(const char* record, WORD signature, DWORD length,
                          chunk_record_output* output, chunk_process_state* state) {
  if (signature == SIG_CD_BORDERINFO) {
    std::string bytes;
    if (STATUS status = Border(record, length, state, &bytes); status != NOERROR)
      return status;
    return Replace(bytes, output, state);
  }
  if (signature == SIG_CD_PABREFERENCE && !BorderFollows(state->current_record) &&
      HoldsBorderKeys(state->s1))
    return NewBorder(state);
  return NOERROR;
}

/* ---- graphics ---- */

STATUS SetGraphicRecord(const char* record, WORD signature, DWORD length,
                        chunk_record_output* output, chunk_process_state* state) {
  const char* properties = state->s1;
  std::string bytes;
  switch (signature) {
  case SIG_CD_ALTTEXT: {
    state->target_records |= kHasAltText;
    std::string text;
    if (!Value(properties, "AltText=", &text))
      return NOERROR;
    if (!AltText(FixedPart<CDALTTEXT>(record, length), text, &bytes))
      return kAttributeRecordFull;
    return Replace(bytes, output, state);
  }
  case SIG_CD_CAPTION: {
    state->target_records |= kHasCaption;
    const CDCAPTION fixed = FixedPart<CDCAPTION>(record, length);
    const DWORD rest = length > sizeof fixed ? length - sizeof fixed : 0;
    std::string text(record + (length - rest), fixed.Length < rest ? fixed.Length : rest);
    if (!Caption(fixed, text, state, &bytes))
      return kAttributeRecordFull;
    return Replace(bytes, output, state);
  }
  case SIG_CD_IDNAME:
    state->target_records |= kHasGraphicIdentity;
    if (!HoldsText(properties, "GraphicHTML"))
      return NOERROR;
    if (STATUS status = Identity(record, length, "Graphic", state, &bytes); status != NOERROR)
      return status;
    return Replace(bytes, output, state);
  case SIG_CD_BORDERINFO:
    state->target_records |= kHasBorder;
    if (STATUS status = Border(record, length, state, &bytes); status != NOERROR)
      return status;
    return Replace(bytes, output, state);
  case SIG_CD_GRAPHIC:
    // The records added at the close stay with the graphic in a bracket.
    if (properties == nullptr || strchr(properties, '=') == nullptr ||
        InnermostBracket(state) == SIG_CD_GRAPHIC || state->target_bracket_open != 0)
      return NOERROR;
    state->target_bracket_open = 1;
    StateItem(state)->Modified = 1;
    return GenerateCDBegin(SIG_CD_GRAPHIC, kBracketVersion, &state->gen);
  default:
    return NOERROR;
  }
}

/* ---- layers ---- */

/* A length key read into value (cleared first); false without the key. */
bool LengthKey(const char* properties, const char* key, LENGTH_VALUE* value) {
  std::string text;
  if (!Value(properties, key, &text))
    return false;
  *value = LENGTH_VALUE{};
  ParseLengthValue(value, text.c_str(), 0);
  return true;
}

STATUS SetPosition(const char* record, DWORD length, chunk_record_output* output,
                   chunk_process_state* state) {
  const char* properties = state->s1;
  CDPOSITIONING fixed = FixedPart<CDPOSITIONING>(record, length);
  std::string text;
  if (Value(properties, "ZIndex=", &text))
    fixed.ZIndex = static_cast<int32_t>(strtol(text.c_str(), nullptr, 10));
  LengthKey(properties, "Top=", &fixed.Top);
  LengthKey(properties, "Left=", &fixed.Left);
  if (Value(properties, "Scheme=", &text)) {
    static constexpr struct {
      const char* name;
      BYTE scheme;
    } kSchemes[] = {{"static", 0}, {"absolute", 1}, {"relative", 2}, {"fixed", 3}};
    for (const auto& scheme : kSchemes) {
      if (strcasecmp(text.c_str(), scheme.name) == 0)
        fixed.Scheme = scheme.scheme;
    }
  }
  if (Value(properties, "BrowserLeftOffset=", &text))
    fixed.BrowserLeftOffset = strtod(text.c_str(), nullptr);
  if (Value(properties, "BrowserRightOffset=", &text))
    fixed.BrowserRightOffset = strtod(text.c_str(), nullptr);
  std::string bytes(record, length);
  bytes.resize(length > sizeof fixed ? length : sizeof fixed, '\0');
  memcpy(bytes.data(), &fixed, sizeof fixed);
  return Replace(bytes, output, state);
}

STATUS SetBoxSize(const char* record, DWORD length, chunk_record_output* output,
                  chunk_process_state* state) {
  CDBOXSIZE fixed = FixedPart<CDBOXSIZE>(record, length);
  LengthKey(state->s1, "Width=", &fixed.Width);
  LengthKey(state->s1, "Height=", &fixed.Height);
  std::string bytes(record, length);
  bytes.resize(length > sizeof fixed ? length : sizeof fixed, '\0');
  memcpy(bytes.data(), &fixed, sizeof fixed);
  return Replace(bytes, output, state);
}

STATUS SetRepeat(const char* record, DWORD length, chunk_record_output* output,
                 chunk_process_state* state) {
  std::string mode;
  if (length < sizeof(CDBACKGROUNDPROPERTIES) ||
      !Value(state->s1, "BackgroundRepeat=", &mode))
    return NOERROR;
  static constexpr struct {
    const char* name;
    BYTE mode;
  } kModes[] = {{"once", 1}, {"vert", 2}, {"horiz", 3}, {"tile", 4}, {"size", 5}, {"center", 6}};
  for (const auto& choice : kModes) {
    if (strcasecmp(mode.c_str(), choice.name) != 0)
      continue;
    std::string bytes(record, length);
    bytes[offsetof(CDBACKGROUNDPROPERTIES, RepeatMode)] = static_cast<char>(choice.mode);
    return Replace(bytes, output, state);
  }
  return NOERROR;
}

/* The background image's resource named anew: a URL or a named element
 * keeps its hints (and a named element its database), with the name
 * replaced; a note link is left alone. */
STATUS SetBackgroundImage(const char* record, DWORD length, chunk_record_output* output,
                          chunk_process_state* state) {
  std::string name;
  if (length < sizeof(CDRESOURCE) || !Value(state->s1, "BackgroundImage=", &name))
    return NOERROR;
  CDRESOURCE fixed = FixedPart<CDRESOURCE>(record, length);
  if (fixed.Type != 1 && fixed.Type != 3)
    return NOERROR;
  const DWORD kept = sizeof fixed + fixed.ServerHintLength + fixed.FileHintLength +
                     (fixed.Type == 3 ? 8 : 0);
  if (kept > length)
    return NOERROR;
  if (kept + name.size() > kAttributeRecordLimit)
    return kAttributeRecordFull;
  fixed.Length1 = static_cast<WORD>(name.size());
  fixed.Header.Length = static_cast<WORD>(kept + name.size());
  std::string bytes(record, kept);
  memcpy(bytes.data(), &fixed, sizeof fixed);
  return Replace(bytes + name, output, state);
}

/* A new identity record of a layer, when the keys give it a part. */
STATUS AddLayerIdentity(chunk_process_state* state) {
  state->target_records |= kHasLayerIdentity;
  if (!HoldsText(state->s1, "LayerHTML"))
    return NOERROR;
  std::string bytes;
  DWORD changed = 0;
  if (STATUS status = Identity(nullptr, 0, "Layer", state, &bytes, &changed); status != NOERROR)
    return status;
  return changed != 0 ? Emit(bytes, SIG_CD_IDNAME, state) : NOERROR;
}

/* The bit of a layer depth in the state's mask of layers that have their
 * identity record (depths past 31 share the last bit). */
DWORD LayerBit(int32_t depth) { return 1u << (depth < 0 ? 0 : depth > 31 ? 31 : depth); }

STATUS SetLayerRecord(const char* record, WORD signature, DWORD length,
                      chunk_record_output* output, chunk_process_state* state) {
  switch (signature) {
  case SIG_CD_POSITIONING:
    return SetPosition(record, length, output, state);
  case SIG_CD_BOXSIZE:
    return SetBoxSize(record, length, output, state);
  case SIG_CD_LAYERBACKGROUND:
    return SetRepeat(record, length, output, state);
  case SIG_CD_RESOURCE:
    return state->depth_layer > 0 ? SetBackgroundImage(record, length, output, state) : NOERROR;
  case SIG_CD_END: {
    // A layer that closes without its identity record gets it here (the
    // walk has left the layer already).
    if (!IsEndOf(record, signature, length, SIG_CD_LAYER))
      return NOERROR;
    const DWORD bit = LayerBit(state->depth_layer + 1);
    const bool missing = (state->target_layer_identities & bit) == 0;
    state->target_layer_identities &= ~bit;
    return missing ? AddLayerIdentity(state) : NOERROR;
  }
  case SIG_CD_IDNAME: {
    state->target_records |= kHasLayerIdentity;
    state->target_layer_identities |= LayerBit(state->depth_layer);
    if (!HoldsText(state->s1, "LayerHTML"))
      return NOERROR;
    std::string bytes;
    if (STATUS status = Identity(record, length, "Layer", state, &bytes); status != NOERROR)
      return status;
    return Replace(bytes, output, state);
  }
  default:
    return NOERROR;
  }
}

/* ---- horizontal rules ---- */

STATUS SetRuleRecord(const char* record, WORD signature, DWORD length,
                     chunk_record_output* output, chunk_process_state* state) {
  std::string bytes;
  if (signature == SIG_CD_HRULE) {
    bytes.assign(record, length);
    bytes.resize(length > sizeof(CDHRULE) ? length : sizeof(CDHRULE), '\0');
    if (STATUS status = ApplyPropertiesToHRuleRecord(state->session, SIG_CD_HRULE, bytes.data(),
                                                     static_cast<DWORD>(bytes.size()), state->s1,
                                                     0);
        status != NOERROR)
      return status;
    bytes.resize(length);
    return Replace(bytes, output, state);
  }
  if (signature != SIG_CD_IDNAME || !HoldsText(state->s1, "HRHTML"))
    return NOERROR;
  if (STATUS status = Identity(record, length, "HR", state, &bytes); status != NOERROR)
    return status;
  return Replace(bytes, output, state);
}

/* ---- URL links ---- */

/* A target record naming the frame; false when too long. */
bool Target(CDTARGET fixed, const std::string& name, std::string* bytes) {
  if (sizeof fixed + name.size() > kAttributeRecordLimit)
    return false;
  fixed.Header.Signature = SIG_CD_TARGET;
  fixed.TargetLength = static_cast<WORD>(name.size());
  *bytes = WithText(fixed, name);
  return true;
}

/* The link's identity keys ("ID=" ... "Name=") under the identity
 * record's own names ("URLHTMLID=" ...), each value in a delimiter it
 * does not hold; empty when s1 holds none of them. */
std::string LinkIdentityKeys(const char* properties) {
  static constexpr const char* kKeys[] = {"ID", "Class", "Style", "Title", "Other", "Name"};
  std::string keys;
  for (const char* key : kKeys) {
    std::string value;
    if (!Value(properties, (std::string(key) + "=").c_str(), &value))
      continue;
    char delimiter = '"';
    for (char candidate : {'"', '\'', '|', '~'}) {
      delimiter = candidate;
      if (value.find(candidate) == std::string::npos)
        break;
    }
    keys += std::string("URLHTML") + key + "=" + delimiter + value + delimiter + " ";
  }
  return keys;
}

/* The link's identity record with its keys applied (existing: null for a
 * new one); *changed tells whether a part changed. */
STATUS LinkIdentity(const char* existing, DWORD length, chunk_process_state* state,
                    std::string* bytes, DWORD* changed) {
  const std::string keys = LinkIdentityKeys(state->s1);
  *changed = 0;
  if (keys.empty())
    return NOERROR;
  const char* properties = state->s1;
  state->s1 = keys.c_str();
  const STATUS status = Identity(existing, length, "URL", state, bytes, changed);
  state->s1 = properties;
  return status;
}

/* The link's records: its target and identity records are rebuilt; a link
 * that lacks them gets them before its end. The begin record holds only
 * the link's data (the URL), so it stays as it is. */
STATUS SetLinkRecord(const char* record, WORD signature, DWORD length,
                     chunk_record_output* output, chunk_process_state* state) {
  std::string bytes;
  std::string name;
  switch (signature) {
  case SIG_CD_V4HOTSPOTBEGIN:
  case SIG_CD_HOTSPOTBEGIN:
    state->target_records &= ~(kHasLinkTarget | kHasLinkIdentity);
    return NOERROR;
  case SIG_CD_TARGET:
    state->target_records |= kHasLinkTarget;
    if (!Value(state->s1, "Target=", &name))
      return NOERROR;
    if (!Target(FixedPart<CDTARGET>(record, length), name, &bytes))
      return kAttributeRecordFull;
    return Replace(bytes, output, state);
  case SIG_CD_IDNAME: {
    state->target_records |= kHasLinkIdentity;
    DWORD changed = 0;
    if (STATUS status = LinkIdentity(record, length, state, &bytes, &changed);
        status != NOERROR || changed == 0)
      return status;
    return Replace(bytes, output, state);
  }
  case SIG_CD_V4HOTSPOTEND:
  case SIG_CD_HOTSPOTEND: {
    const DWORD had = state->target_records;
    state->target_records |= kHasLinkTarget | kHasLinkIdentity;
    if ((had & kHasLinkTarget) == 0 && Value(state->s1, "Target=", &name)) {
      if (!Target(CDTARGET{}, name, &bytes))
        return kAttributeRecordFull;
      if (STATUS status = Emit(bytes, SIG_CD_TARGET, state); status != NOERROR)
        return status;
    }
    if ((had & kHasLinkIdentity) != 0)
      return NOERROR;
    DWORD changed = 0;
    if (STATUS status = LinkIdentity(nullptr, 0, state, &bytes, &changed);
        status != NOERROR || changed == 0)
      return status;
    return Emit(bytes, SIG_CD_IDNAME, state);
  }
  default:
    return NOERROR;
  }
}

/* ---- where the chunk closes ---- */

/* The graphic records the chunk lacks for the keys s1 holds. */
STATUS AddGraphicRecords(chunk_process_state* state) {
  const char* properties = state->s1;
  std::string bytes;
  std::string text;
  if ((state->target_records & kHasAltText) == 0 && Value(properties, "AltText=", &text)) {
    state->target_records |= kHasAltText;
    if (!AltText(CDALTTEXT{}, text, &bytes))
      return kAttributeRecordFull;
    if (STATUS status = Emit(bytes, SIG_CD_ALTTEXT, state); status != NOERROR)
      return status;
  }
  if ((state->target_records & kHasCaption) == 0 && Holds(properties, "Caption=")) {
    state->target_records |= kHasCaption;
    if (!Caption(CDCAPTION{}, std::string(), state, &bytes))
      return kAttributeRecordFull;
    if (STATUS status = Emit(bytes, SIG_CD_CAPTION, state); status != NOERROR)
      return status;
  }
  if ((state->target_records & kHasGraphicIdentity) == 0 &&
      HoldsText(properties, "GraphicHTML")) {
    state->target_records |= kHasGraphicIdentity;
    DWORD changed = 0;
    if (STATUS status = Identity(nullptr, 0, "Graphic", state, &bytes, &changed);
        status != NOERROR)
      return status;
    if (changed != 0) {
      if (STATUS status = Emit(bytes, SIG_CD_IDNAME, state); status != NOERROR)
        return status;
    }
  }
  if ((state->target_records & kHasBorder) == 0 && HoldsBorderKeys(properties)) {
    state->target_records |= kHasBorder;
    if (STATUS status = NewBorder(state); status != NOERROR)
      return status;
  }
  if (state->target_bracket_open == 0)
    return NOERROR;
  state->target_bracket_open = 0;
  return GenerateCDEnd(SIG_CD_GRAPHIC, kBracketVersion, &state->gen);
}


} // namespace

STATUS SetTargetProperties(const char* record, WORD signature, DWORD length,
                           chunk_record_output* output, chunk_process_state* state) {
  switch (state->p1) {
  case TARGETTYPE_PARAGRAPH:
    return SetParagraphRecord(record, signature, length, output, state);
  case TARGETTYPE_GRAPHIC:
    return SetGraphicRecord(record, signature, length, output, state);
  case TARGETTYPE_LAYER:
    return SetLayerRecord(record, signature, length, output, state);
  case TARGETTYPE_HR:
    return SetRuleRecord(record, signature, length, output, state);
  case TARGETTYPE_URLLINK:
    return SetLinkRecord(record, signature, length, output, state);
  default:
    return NOERROR;
  }
}

STATUS TargetPropertiesAtChunkStop(chunk_process_state* state) {
  switch (state->p1) {
  case TARGETTYPE_SECTION:
  case TARGETTYPE_GRAPHIC:
    return AddGraphicRecords(state);
  case TARGETTYPE_LAYER:
    // Once: a chunk that gave no layer its record has it at its close.
    return (state->target_records & kHasLayerIdentity) == 0 ? AddLayerIdentity(state) : NOERROR;
  default:
    return NOERROR;
  }
}
