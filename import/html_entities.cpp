/*
 * Numbering the entity table's named references before parsing
 * (import/html_entities.h).
 */
#include "import/html_entities.h"

#include <ctype.h>
#include <stdio.h>

#include <utility>

#include "render/entities.h"

namespace {

/* Longer names are in no table. */
constexpr size_t kLongestName = 32;

/* The table's row for the reference at text[at] ("&name;"), with the
 * reference's length; null when there is none. */
const html_entity* ReferenceAt(std::string_view text, size_t at, size_t* length) {
  size_t end = at + 1;
  while (end < text.size() && end - at <= kLongestName &&
         isalnum(static_cast<unsigned char>(text[end])))
    ++end;
  if (end == at + 1 || end >= text.size() || text[end] != ';')
    return nullptr;
  *length = end + 1 - at;
  return LookupEntityByName(text.data() + at + 1, end - at - 1);
}

} // namespace

bool NumberTableEntities(std::string_view html, std::string* out) {
  std::string numbered;
  size_t copied = 0; /* html before this is in numbered */
  for (size_t at = html.find('&'); at != std::string_view::npos; at = html.find('&', at + 1)) {
    size_t length = 0;
    const html_entity* entity = ReferenceAt(html, at, &length);
    if (entity == nullptr)
      continue;
    if (numbered.empty())
      numbered.reserve(html.size() + html.size() / 16);
    numbered.append(html.substr(copied, at - copied));
    char reference[16];
    snprintf(reference, sizeof reference, "&#%u;", static_cast<unsigned>(entity->code));
    numbered.append(reference);
    copied = at + length;
    at = copied - 1;
  }
  if (copied == 0)
    return false;
  numbered.append(html.substr(copied));
  *out = std::move(numbered);
  return true;
}
