/*
 * Fuzz target for length values and the attribute strings of records.
 *
 * The first 16 bytes choose options and the bytes records are filled with
 * before they are applied to; the rest is split at NUL bytes into a
 * property string, a length text and an extra text, each held in an
 * allocation of exactly its length. The length text is read in both modes
 * and written back; every applier gets the property string over records
 * of several sizes, each applied record is read back by its writers for
 * every property id into answer texts of several sizes, and the records'
 * lengths must stay within their buffers. A sanitizer finding or a broken
 * invariant traps.
 */
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <memory>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "generate/attribute_strings.h"
#include "generate/attribute_text.h"
#include "generate/length_value.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "store/session.h"

namespace {

using Bytes = std::vector<BYTE>;

VelkoRTItem& Item() {
  static VelkoRTItem* item = [] {
    auto* made = new VelkoRTItem(new LSXLsiSession());
    font_face& face = made->internal->faces[made->internal->face_count++];
    face.id = 5;
    strncpy(face.name, "Arial", sizeof face.name - 1);
    return made;
  }();
  return *item;
}

std::unique_ptr<char[]> NextText(const uint8_t** data, size_t* size) {
  const uint8_t* end = static_cast<const uint8_t*>(memchr(*data, 0, *size));
  size_t length = end != nullptr ? static_cast<size_t>(end - *data) : *size;
  std::unique_ptr<char[]> text(new char[length + 1]);
  memcpy(text.get(), *data, length);
  text[length] = '\0';
  size_t used = end != nullptr ? length + 1 : length;
  *data += used;
  *size -= used;
  return text;
}

WORD WordAt(const Bytes& record, size_t offset) {
  WORD value;
  memcpy(&value, record.data() + offset, sizeof value);
  return value;
}

/* A record of `capacity` bytes: the pattern repeated, then the header. */
Bytes Record(WORD signature, WORD length, size_t capacity, const uint8_t* pattern) {
  Bytes record(capacity);
  for (size_t i = 0; i < capacity; ++i)
    record[i] = pattern[i % 8];
  if ((signature & 0xFF00) == 0xFF00) {
    memcpy(record.data(), &signature, 2);
    memcpy(record.data() + 2, &length, 2);
  } else {
    record[0] = static_cast<BYTE>(signature);
    record[1] = static_cast<BYTE>(length);
  }
  return record;
}

/* The answer buffers: the session's full room, and a small one. */
struct answers {
  std::vector<char> big = std::vector<char>(kSessionTextCapacity + 1);
  char small[41] = "";
  attribute_text texts[2];
  DWORD written[2][kAttributeFlagCount] = {};
  answers() {
    AttributeTextOpen(&texts[0], big.data(), kSessionTextCapacity);
    AttributeTextOpen(&texts[1], small, sizeof small - 1);
  }
  template <typename Write> void Each(WORD all, Write write) {
    for (int text = 0; text < 2; ++text) {
      for (WORD id = 0; id <= all; ++id)
        write(&texts[text], id, written[text]);
    }
  }
  void Check() const {
    for (const attribute_text& text : texts) {
      check(text.length <= text.capacity && text.text[text.length] == '\0');
      check(strlen(text.text) == text.length);
      check(text.status == 0 || text.status == kAttributeTextFull);
    }
  }
};

/* Reads text in both modes over a value made of ten option bytes. */
void Lengths(const char* text, const uint8_t* options) {
  for (int mode = 0; mode < 2; ++mode) {
    LENGTH_VALUE value = {};
    value.Flags = options[0] & 3;
    value.Units = options[1] % 8;
    memcpy(&value.Length, options + 2, sizeof value.Length);
    ParseLengthValue(&value, text, mode);
    char out[kLengthValueTextSize + 8] = "Top=";
    FormatLengthValue(&value, out, sizeof out);
    check(strlen(out) < sizeof out);
    char tiny[6] = "";
    FormatLengthValue(&value, tiny, sizeof tiny);
    check(strlen(tiny) < sizeof tiny);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 16)
    return 0;
  const uint8_t options = data[0];
  const DWORD initialise = options & 1;
  LSXLsiSession* session = Item().session;
  session->internal->global_client_preference = (options >> 1) & 1;
  uint8_t head[16];
  memcpy(head, data, sizeof head);
  const uint8_t* pattern = head + 8;
  data += 16;
  size -= 16;
  std::unique_ptr<char[]> properties = NextText(&data, &size);
  std::unique_ptr<char[]> lengthText = NextText(&data, &size);
  std::unique_ptr<char[]> extra = NextText(&data, &size);
  Lengths(lengthText.get(), head + 1);
  Lengths(properties.get(), head + 5);
  answers a;

  // the rule and its colour record, as list nodes
  Bytes rule = Record(SIG_CD_HRULE, 16, 16, pattern);
  Bytes color = Record(SIG_CD_COLOR, 8, (options & 2) ? 14 : 8, pattern);
  ApplyPropertiesToHRuleRecord(session, SIG_CD_HRULE, rule.data(), 16, properties.get(),
                               initialise);
  ApplyPropertiesToHRuleRecord(session, SIG_CD_COLOR, color.data(),
                               static_cast<DWORD>(color.size()), properties.get(), initialise);
  check(color[1] <= color.size() || initialise == 0);
  record_storage ruleNode, colorNode;
  ruleNode.data = reinterpret_cast<char*>(rule.data());
  ruleNode.length = 16;
  ruleNode.signature = SIG_CD_HRULE;
  colorNode.data = reinterpret_cast<char*>(color.data());
  colorNode.length = static_cast<DWORD>(color.size());
  colorNode.signature = SIG_CD_COLOR;
  ruleNode.next = (options & 4) ? &colorNode : nullptr;
  a.Each(kHRulePropAll, [&](attribute_text* out, WORD id, DWORD* written) {
    CalculateHRuleAttributesString(&ruleNode, out, id, written, options & 1);
  });

  // the HTML id parts, over an existing record of any length
  const size_t capacity = (options & 8) ? 64 : 4096;
  Bytes existing =
      Record(SIG_CD_IDNAME, static_cast<WORD>(size & 0xFF), 26 + (size & 0xFF), pattern);
  Bytes idName = Record(SIG_CD_IDNAME, 26, capacity, pattern);
  STATUS status = 0;
  const DWORD changed = ApplyPropertiesToIDNAMERecord(
      session, idName.data(), static_cast<DWORD>(capacity),
      (options & 16) ? existing.data() : nullptr, static_cast<DWORD>(existing.size()),
      (options & 32) ? "Table" : "", properties.get(), extra.get(), &status);
  check(changed <= 1 && (status == 0 || status == kAttributeRecordFull));
  if (status == 0) {
    DWORD total = 26;
    for (int part = 0; part < 6; ++part)
      total += WordAt(idName, 4 + 2 * part);
    check(total == WordAt(idName, 2) && total <= capacity);
  }
  a.Each(kTablePropAll, [&](attribute_text* out, WORD id, DWORD* written) {
    CalculateAttributesIDNAMEString(idName.data(),
                                    WordAt(idName, 2) < capacity ? WordAt(idName, 2) : capacity,
                                    out, "Table", id, kTablePropHTMLId, kTablePropAll, written);
  });

  // a table's records and its border
  Bytes pretable = Record(SIG_CD_PRETABLEBEGIN, 48, (options & 64) ? 48 : 300, pattern);
  Bytes extension = Record(SIG_CD_TABLEDATAEXTENSION, (options & 128) ? 62 : 48,
                           (options & 128) ? 62 : 48, pattern);
  Bytes begin = Record(SIG_CD_TABLEBEGIN, 14, 14, pattern);
  Bytes border = Record(SIG_CD_BORDERINFO, 60, 60, pattern);
  Bytes timer = Record(SIG_CD_TIMERINFO, 16, 16, pattern);
  for (Bytes* record : {&pretable, &extension, &begin, &border}) {
    const WORD signature = record == &begin ? SIG_CD_TABLEBEGIN : WordAt(*record, 0);
    ApplyPropertiesToTableRecord(session, &Item(), signature, record->data(),
                                 static_cast<DWORD>(record->size()), properties.get(), initialise);
  }
  check(WordAt(pretable, 2) <= pretable.size());
  ApplyPropertiesToBorderRecord(session, SIG_CD_BORDERINFO, border.data(), 60, properties.get(),
                                initialise);
  ApplyPropertiesToGraphicRecord(session, SIG_CD_BORDERINFO, border.data(), 60, properties.get(),
                                 initialise);
  a.Each(kTablePropAll, [&](attribute_text* out, WORD id, DWORD* written) {
    CalculateTableAttributesPRETABLEString(pretable.data(), WordAt(pretable, 2), out, id, written,
                                           options & 1);
    CalculateTableAttributesTABLEDATAEXTENSIONString(
        extension.data(), static_cast<DWORD>(extension.size()), out, id, written, &Item());
    CalculateTableAttributesTABLEBEGINString(begin.data(), 14, out, id, written);
    CalculateTableAttributesTIMERINFOString(timer.data(), 16, out, id, written);
  });
  a.Each(kGraphicPropAll, [&](attribute_text* out, WORD id, DWORD* written) {
    CalculateGraphicAttributesBORDERString(border.data(), 60, out, id, written);
  });

  // texts of graphics, maps and layers over records of the pattern, their
  // length words claiming more than they hold
  Bytes text = Record(SIG_CD_ALTTEXT, 40, 40, pattern);
  Bytes caption = Record(SIG_CD_CAPTION, 40, 40, pattern);
  Bytes map = Record(SIG_CD_MAPELEMENT, 40, 40, pattern);
  Bytes area = Record(SIG_CD_AREAELEMENT, 32, 32, pattern);
  Bytes position = Record(SIG_CD_POSITIONING, 88, 88, pattern);
  Bytes box = Record(SIG_CD_BOXSIZE, 116, 116, pattern);
  record_storage mapNode, areaNode;
  mapNode.data = reinterpret_cast<char*>(map.data());
  mapNode.length = 40;
  mapNode.signature = SIG_CD_MAPELEMENT;
  areaNode.data = reinterpret_cast<char*>(area.data());
  areaNode.length = 32;
  areaNode.signature = SIG_CD_AREAELEMENT;
  a.Each(kLayerPropAll, [&](attribute_text* out, WORD id, DWORD* written) {
    CalculateGraphicAttributesALTTEXTString(text.data(), 40, out, id, written);
    CalculateGraphicAttributesCAPTIONString(caption.data(), 40, out, id, written);
    CalculateMapElementAttributesString(&mapNode, out, id, written);
    CalculateAreaElementAttributesString(&areaNode, out, id, written);
    CalculateLayerAttributesPOSITIONINGString(position.data(), 88, out, id, written);
    CalculateLayerAttributesBOXSIZEString(box.data(), 116, out, id, written);
    CalculateLayerAttributesBACKGROUNDPROPERTIESString(box.data(), 116, out, id, written);
  });
  a.Check();
  return 0;
}
