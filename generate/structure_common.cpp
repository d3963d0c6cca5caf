/*
 * Helpers of the structural generators (generate/structure_internal.h).
 */
#include "generate/structure_internal.h"

#include <ctype.h>
#include <stdlib.h>
#include <strings.h>

#include <vector>

#include "generate/hotspot.h"
#include "generate/length_value.h"
#include "store/body.h"
#include "store/rtitem_internal.h"
#include "velko/property_string.h"

namespace structure {

namespace {

constexpr double kTwipsPerInch = 1440.0;
constexpr WORD kResourceType = 3;
constexpr size_t kReplicaDigits = 16;

} // namespace

bool Value(const char* properties, const char* key, std::string* value) {
  if (properties == nullptr)
    return false;
  std::vector<char> text(strlen(properties) + 1);
  if (ExtractProperty(properties, key, text.data(), text.size()) == 0)
    return false;
  if (value != nullptr)
    value->assign(text.data());
  return true;
}

bool Has(const char* properties, const char* key) { return Value(properties, key, nullptr); }

int32_t InchesToTwips(const char* text) {
  return ClampToInt32(strtod(text, nullptr) * kTwipsPerInch);
}

bool Same(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

bool Begins(const std::string& text, const char* prefix) {
  return strncasecmp(text.c_str(), prefix, strlen(prefix)) == 0;
}

namespace {

/* Calls visit with the PABID of every loaded definition, in order. */
template <typename F> void ForEachLoadedPabid(const VelkoRTItem* item, F visit) {
  if (item == nullptr || item->internal == nullptr || item->internal->input == nullptr)
    return;
  for (const record_storage* node = item->internal->input->records; node != nullptr;
       node = node->next) {
    if (node->signature != SIG_CD_PABDEFINITION || node->data == nullptr ||
        node->length < offsetof(CDPABDEFINITION, PABID) + sizeof(WORD))
      continue;
    WORD pabid = 0;
    memcpy(&pabid, node->data + offsetof(CDPABDEFINITION, PABID), sizeof pabid);
    visit(pabid);
  }
}

} // namespace

WORD HighestLoadedPabid(const VelkoRTItem* item) {
  WORD highest = 0;
  ForEachLoadedPabid(item, [&](WORD pabid) {
    if (pabid > highest)
      highest = pabid;
  });
  return highest;
}

DWORD PabidAboveLoaded(const VelkoRTItem* item, DWORD start) {
  DWORD running = start;
  ForEachLoadedPabid(item, [&](WORD pabid) {
    if (pabid >= running)
      running = DWORD{pabid} + 1;
  });
  return running;
}

STATUS TakeNextPabid(structure_generation* state, WORD* pabid) {
  if (state->last_pabid == 0xFFFF) {
    RefuseParagraphIdPastLargest(state->gen);
    return kGeneratorRefused;
  }
  *pabid = ++state->last_pabid;
  return NOERROR;
}

CDTEXT DefaultText(const VelkoRTItem* item) {
  CDTEXT text = {};
  memcpy(&text, item->internal->default_text_header, sizeof text);
  text.Header.Signature = SIG_CD_TEXT;
  text.Header.Length = sizeof text;
  return text;
}

_CDPABDEFEXT CurrentDefinition(const generation_context* gen) {
  _CDPABDEFEXT definition = {};
  static_assert(sizeof definition == sizeof gen->paragraph_copy);
  memcpy(&definition, gen->paragraph_copy, sizeof definition);
  return definition;
}

CDPABREFERENCE CurrentReference(const generation_context* gen) {
  CDPABREFERENCE reference = {};
  static_assert(sizeof reference == sizeof gen->paragraph_word);
  memcpy(&reference, &gen->paragraph_word, sizeof reference);
  reference.Header.Signature = static_cast<BYTE>(SIG_CD_PABREFERENCE);
  reference.Header.Length = sizeof reference;
  return reference;
}

void SetCurrentReference(generation_context* gen, const CDPABREFERENCE& reference) {
  memcpy(&gen->paragraph_word, &reference, sizeof reference);
}

WORD DefinitionLength(const _CDPABDEFEXT& definition) {
  const WORD length = definition.Definition.Header.Length;
  if (length < sizeof(CDPABDEFINITION) - 2 || length > sizeof(_CDPABDEFEXT))
    return sizeof(_CDPABDEFEXT);
  return length;
}

void ReplicaBytes(const std::string& text, BYTE out[8]) {
  memset(out, 0, 8);
  if (text.size() != kReplicaDigits)
    return;
  for (char digit : text) {
    if (!isxdigit(static_cast<unsigned char>(digit)))
      return;
  }
  const DWORD first = static_cast<DWORD>(strtoul(text.substr(0, 8).c_str(), nullptr, 16));
  const DWORD last = static_cast<DWORD>(strtoul(text.substr(8).c_str(), nullptr, 16));
  memcpy(out, &last, sizeof last);
  memcpy(out + 4, &first, sizeof first);
}

bool BuildImageResource(WORD signature, DWORD flags, const std::string& name,
                        const std::string& server, const std::string& path, const BYTE replica[8],
                        std::string* out) {
  const size_t texts = name.size() + server.size() + path.size();
  const size_t length = sizeof(CDRESOURCE) + 8 + texts;
  const size_t even = length + (length & 1);
  if (even > kLargestEmittedRecord || even > 0xFFFF)
    return false;
  CDRESOURCE fields = {};
  fields.Header.Signature = signature;
  fields.Header.Length = static_cast<WORD>(even);
  fields.Flags = flags;
  fields.Type = kResourceType;
  fields.ResourceClass = kImageResourceClass;
  fields.Length1 = static_cast<WORD>(name.size());
  fields.ServerHintLength = static_cast<WORD>(server.size());
  fields.FileHintLength = static_cast<WORD>(path.size());
  out->assign(reinterpret_cast<const char*>(&fields), sizeof fields);
  out->append(server);
  out->append(path);
  out->append(reinterpret_cast<const char*>(replica), 8);
  out->append(name);
  out->resize(even, '\0');
  return true;
}

} // namespace structure
