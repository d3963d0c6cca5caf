/*
 * The chunk's query methods that answer in the session's result text: the
 * chunk's text, a table cell's border widths, an HTML attribute value, and
 * the properties of a table or of any target type.
 *
 * Each method turns its arguments into one engine action and its
 * parameters, clears the place the answer goes to, and reads the answer
 * afterwards. What the answer holds is the engine's (query actions 9, 2407,
 * 2414, 2421, 2436); the finding methods are elsewhere.
 */
#include <string.h>

#include <memory>

#include "chunk/rtchunk_internal.h"
#include "store/new_object.h"
#include "store/owned_text.h"
#include "store/session.h"
#include "store/vocabulary.h"
#include "velko/property_string.h"

namespace {

/* The number of Section property names; also the "all" index. */
constexpr WORD kSectionPropertyCount =
    sizeof TARGETTYPE_SECTIONProperties / sizeof TARGETTYPE_SECTIONProperties[0];

void ClearResultText(LSXLsiSession* session) {
  session->result_length = 0;
  session->result_text[0] = '\0';
}

/* GetCellBorder's side code: the first letter of the side's name. */
WORD CellSideCode(const char* side) {
  if (side == nullptr)
    return 0;
  switch (side[0]) {
  case 'L':
  case 'l':
    return 1;
  case 'R':
  case 'r':
    return 2;
  case 'T':
  case 't':
    return 3;
  case 'B':
  case 'b':
    return 4;
  default:
    return 0;
  }
}

/* The index of the word among the names (compared without regard to
 * case), from 1; 0 when it is none of them. */
template <size_t N> WORD WordCode(const char* word, const char* const (&names)[N]) {
  if (word == nullptr)
    return 0;
  for (size_t i = 0; i < N; ++i)
    if (CompareNamesIgnoringCase(word, names[i]) == 0)
      return static_cast<WORD>(i + 1);
  return 0;
}

/* The property index the engine renders for the type: the named property,
 * or every property when the name is empty or unknown. Section's names
 * are in a list that no row of the property table names. */
WORD TargetPropertyIndex(WORD type, const char* property) {
  if (type != TARGETTYPE_SECTION)
    return LookupPropertyID(type, property);
  if (property == nullptr || property[0] == '\0')
    return kSectionPropertyCount;
  for (WORD i = 0; i < kSectionPropertyCount; ++i)
    if (CompareNamesIgnoringCase(property, TARGETTYPE_SECTIONProperties[i]) == 0)
      return i;
  return kSectionPropertyCount;
}

/* Replaces the result text by the value of property's key in it, or by ""
 * when the key is absent. The value is extracted into a block of its own,
 * never over the text it is read from. */
void KeepPropertyValue(VelkoRTChunk& chunk, const char* property) {
  LSXLsiSession* session = chunk.session;
  char* key = session->scratch_first;
  const size_t nameLength = strlen(property);
  if (nameLength + 2 > VELKO_SCRATCH_TEXT_SIZE) {
    ClearResultText(session); // no key of the text is that long
    return;
  }
  memcpy(key, property, nameLength);
  key[nameLength] = '=';
  key[nameLength + 1] = '\0';

  const size_t room = static_cast<size_t>(session->result_length) + 1;
  std::unique_ptr<char[]> value(NewArray<char>(room));
  if (value == nullptr) {
    chunk.status = VELKO_ERR_MEMORY;
    ClearResultText(session);
    return;
  }
  session->result_text[session->result_length] = '\0';
  if (ExtractProperty(session->result_text, key, value.get(), room) == 0) {
    ClearResultText(session);
    return;
  }
  const size_t length = strlen(value.get());
  memcpy(session->result_text, value.get(), length + 1);
  session->result_length = static_cast<WORD>(length);
}

} // namespace

DWORD VelkoRTChunk::GetText(const char* subDefinition, char* buffer, DWORD size, WORD flag,
                            const char* options) {
  if (buffer == nullptr || size == 0 || session == nullptr) {
    status = VELKO_ERR_INVALID_ARGUMENT;
    return 0;
  }
  buffer[0] = '\0';
  ClearResultText(session);
  AlterRichText(ACTION_GET_TEXT, PROP_TEXT, flag, 0, 0, options, nullptr, subDefinition, nullptr);
  const DWORD copied = WholeCharacters(session->result_text, session->result_length, size - 1);
  memcpy(buffer, session->result_text, copied);
  buffer[copied] = '\0';
  return copied;
}

char* VelkoRTChunk::GetCellBorder(const char* side) {
  if (session == nullptr)
    return nullptr;
  ClearResultText(session);
  secondary_status = 0;
  AlterRichText(ACTION_GET_CELL_BORDER, CellSideCode(side), 0, 0, 0, nullptr, nullptr, nullptr,
                nullptr);
  return session->result_text;
}

char* VelkoRTChunk::GetHTMLValue(const char* attribute, const char* scope) {
  static constexpr const char* kAttributes[] = {"NAME", "ID", "CLASS", "STYLE", "TITLE", "OTHER"};
  static constexpr const char* kScopes[] = {"Table", "Cell"};
  if (session == nullptr)
    return nullptr;
  ClearResultText(session);
  secondary_status = 0;
  const WORD code = WordCode(attribute, kAttributes);
  if (code == 0)
    return session->result_text;
  AlterRichText(ACTION_GET_HTML_VALUE, code, WordCode(scope, kScopes), 0, 0, attribute, nullptr,
                nullptr, nullptr);
  return session->result_text;
}

char* VelkoRTChunk::GetTableProperties(const char* property) {
  if (session == nullptr)
    return nullptr;
  ClearResultText(session);
  AlterRichText(ACTION_GET_TABLE_PROPERTIES, LookupPropertyID(TARGETTYPE_TABLE, property), 0, 0, 0,
                nullptr, nullptr, nullptr, nullptr);
  return session->result_text;
}

char* VelkoRTChunk::GetTargetProperties(const char* target, const char* property) {
  if (session == nullptr)
    return nullptr;
  ClearResultText(session);
  session->scratch_first[0] = '\0';
  const WORD type = TargetTypeOfName(target);
  AlterRichText(ACTION_GET_TARGET_PROPERTIES, TargetPropertyIndex(type, property), type, 0, 0,
                nullptr, nullptr, nullptr, nullptr);
  if (property != nullptr && property[0] != '\0')
    KeepPropertyValue(*this, property);
  return session->result_text;
}
