/*
 * Reading the declarations of an HTML style attribute (see
 * css_declarations.h).
 */
#include "import/css_declarations.h"

#include <ctype.h>

std::string TrimmedLower(std::string_view text) {
  while (!text.empty() && isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  std::string lower(text);
  for (char& c : lower)
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return lower;
}

bool css_declarations::Next(std::string* name, std::string* value) {
  while (!rest_.empty()) {
    const size_t end = rest_.find(';');
    const std::string_view declaration = rest_.substr(0, end);
    rest_ = end == std::string_view::npos ? std::string_view() : rest_.substr(end + 1);
    const size_t colon = declaration.find(':');
    if (colon == std::string_view::npos)
      continue;
    *name = TrimmedLower(declaration.substr(0, colon));
    *value = TrimmedLower(declaration.substr(colon + 1));
    return true;
  }
  return false;
}
