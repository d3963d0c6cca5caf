/*
 * Attribute texts of a graphic's records (alternate text, caption, border),
 * of the HTML id and name parts any element may carry (CDIDNAME), and of
 * image maps and their areas.
 */
#include <stddef.h>
#include <stdio.h>

#include "generate/attributes_internal.h"

using namespace attributes;

namespace {

/* The alternate text's second signature, in the layout of 0xFFCA. */
constexpr WORD kAltTextSecondSignature = 0xFFF8;

/* A text of `declared` bytes at `offset`, cut at the record's end. */
size_t BoundedTextLength(DWORD length, DWORD offset, DWORD declared) {
  if (length <= offset)
    return 0;
  return declared < length - offset ? declared : length - offset;
}

void WriteQuotedText(const void* record, DWORD length, DWORD offset, WORD declared,
                     attribute_text* out, const char* key, WORD own, DWORD* written) {
  const size_t size = BoundedTextLength(length, offset, declared);
  const char* text = static_cast<const char*>(record) + offset;
  Mark(written, own, AttributeTextQuoted(out, key, text, size));
}

const char* BorderStyleName(WORD style) {
  for (const border_style_choice& choice : BorderStyleChoices) {
    if (choice.style == style)
      return choice.name;
  }
  return nullptr;
}

const char* const kIdNameKeys[6] = {
    "HTMLId=", "HTMLClass=", "HTMLStyle=", "HTMLTitle=", "HTMLOther=", "HTMLName="};

} // namespace

STATUS CalculateGraphicAttributesALTTEXTString(const void* record, DWORD length,
                                               attribute_text* out, WORD id, DWORD* written) {
  CDALTTEXT fields;
  if (!LoadRecord(record, length, {SIG_CD_ALTTEXT, kAltTextSecondSignature}, sizeof fields,
                  &fields))
    return NOERROR;
  if (Wanted(id, kGraphicPropAltText, kGraphicPropAll, written))
    WriteQuotedText(record, length, sizeof fields, fields.Length, out,
                    "AltText=", kGraphicPropAltText, written);
  return NOERROR;
}

STATUS CalculateGraphicAttributesCAPTIONString(const void* record, DWORD length,
                                               attribute_text* out, WORD id, DWORD* written) {
  CDCAPTION fields;
  if (!LoadRecord(record, length, {SIG_CD_CAPTION}, sizeof fields, &fields))
    return NOERROR;
  if (Wanted(id, kGraphicPropCaption, kGraphicPropAll, written))
    WriteQuotedText(record, length, sizeof fields, fields.Length, out,
                    "Caption=", kGraphicPropCaption, written);
  return NOERROR;
}

STATUS CalculateGraphicAttributesBORDERString(const void* record, DWORD length, attribute_text* out,
                                              WORD id, DWORD* written) {
  CDBORDERINFO fields;
  const DWORD needed = offsetof(CDBORDERINFO, Color) + sizeof(COLOR_VALUE);
  if (!LoadRecord(record, length, {SIG_CD_BORDERINFO}, needed, &fields))
    return NOERROR;
  if (!Wanted(id, kGraphicPropBorder, kGraphicPropAll, written))
    return NOERROR;
  /* One key group, written whole: the keys the border applier reads. */
  char text[512];
  int used = 0;
  auto add = [&](const char* format, auto... values) {
    used += snprintf(text + used, sizeof text - static_cast<size_t>(used), format, values...);
  };
  if (const char* style = BorderStyleName(fields.BorderStyle))
    add("BorderStyle=%s ", style);
  add("BorderThicknessTop=%u BorderThicknessLeft=%u BorderThicknessBottom=%u "
      "BorderThicknessRight=%u ",
      fields.BorderWidthTop, fields.BorderWidthLeft, fields.BorderWidthBottom,
      fields.BorderWidthRight);
  if (fields.BorderFlags & 0x0001)
    add("BorderEffects=DROP_SHADOW BorderShadow=%u ", fields.DropShadowWidth);
  else
    add("%s", "BorderEffects=NONE ");
  add("OuterTop=%u OuterLeft=%u OuterBottom=%u OuterRight=%u ", fields.OuterWidthTop,
      fields.OuterWidthLeft, fields.OuterWidthBottom, fields.OuterWidthRight);
  add("BorderColor=RGB%u,%u,%u PaddingLeft=%u ", fields.Color.Red, fields.Color.Green,
      fields.Color.Blue, fields.InnerWidthLeft);
  Mark(written, kGraphicPropBorder, AttributeTextAppend(out, text, static_cast<size_t>(used)));
  return NOERROR;
}

STATUS CalculateAttributesIDNAMEString(const void* record, DWORD length, attribute_text* out,
                                       const char* prefix, WORD id, WORD firstId, WORD allId,
                                       DWORD* written) {
  CDIDNAME fields;
  if (!LoadRecord(record, length, {SIG_CD_IDNAME, SIG_CD_IDNAME2}, sizeof fields, &fields))
    return NOERROR;
  if (written != nullptr) {
    for (int part = 0; part < 6; ++part) {
      const int flag = firstId + part;
      if (flag < kAttributeFlagCount && written[flag] != 0)
        return NOERROR;
    }
  }
  if (prefix == nullptr)
    prefix = "";
  const WORD lengths[6] = {fields.Length,      fields.ClassNameLength, fields.StyleLength,
                           fields.TitleLength, fields.ExtraLength,     fields.NameLength};
  DWORD offset = sizeof fields;
  for (int part = 0; part < 6; ++part) {
    const size_t size = BoundedTextLength(length, offset, lengths[part]);
    const WORD own = static_cast<WORD>(firstId + part);
    if (id == own || (id == allId && size != 0)) {
      char key[64];
      snprintf(key, sizeof key, "%.40s%s", prefix, kIdNameKeys[part]);
      Mark(written, own,
           AttributeTextQuoted(out, key, static_cast<const char*>(record) + offset, size));
    }
    offset += static_cast<DWORD>(size);
  }
  return NOERROR;
}

STATUS CalculateMapElementAttributesString(const record_storage* node, attribute_text* out, WORD id,
                                           DWORD* written) {
  CDMAPELEMENT fields;
  const char* record = NodeRecord(node, SIG_CD_MAPELEMENT);
  if (record == nullptr ||
      !LoadRecord(record, node->length, {SIG_CD_MAPELEMENT}, sizeof fields, &fields))
    return NOERROR;
  if (Wanted(id, kImageMapPropMapName, kImageMapPropAll, written))
    WriteQuotedText(record, node->length, sizeof fields, fields.MapNameLength, out,
                    "MapName=", kImageMapPropMapName, written);
  return NOERROR;
}

STATUS CalculateAreaElementAttributesString(const record_storage* node, attribute_text* out,
                                            WORD id, DWORD* written) {
  CDAREAELEMENT fields;
  const char* record = NodeRecord(node, SIG_CD_AREAELEMENT);
  const DWORD needed = offsetof(CDAREAELEMENT, TabIndex) + sizeof(WORD);
  if (record == nullptr || !LoadRecord(record, node->length, {SIG_CD_AREAELEMENT}, needed, &fields))
    return NOERROR;
  if (Wanted(id, kHotspotPropShape, kHotspotPropAll, written)) {
    const char* shape = fields.Shape == 2   ? "circle"
                        : fields.Shape == 3 ? "polygon"
                        : fields.Shape == 4 ? "default"
                                            : "rectangle";
    Mark(written, kHotspotPropShape, AttributeTextPrintf(out, "Shape=%s ", shape));
  }
  if (Wanted(id, kHotspotPropTabIndex, kHotspotPropAll, written))
    Mark(written, kHotspotPropTabIndex,
         AttributeTextPrintf(out, "TabIndex=%u ", static_cast<unsigned>(fields.TabIndex)));
  return NOERROR;
}
