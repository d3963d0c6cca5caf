/*
 * The declarations of an HTML style attribute ("name: value; ..."), read
 * one at a time, each name and value without the blanks around them and
 * in lower case. Shared by the importer's font styles and paragraph
 * styles. Not here: style sheets, which the importer does not read.
 */
#ifndef VELKO_IMPORT_CSS_DECLARATIONS_H
#define VELKO_IMPORT_CSS_DECLARATIONS_H

#include <string>
#include <string_view>

/* The text without the blanks around it, in lower case. */
std::string TrimmedLower(std::string_view text);

class css_declarations {
public:
  explicit css_declarations(const char* style) : rest_(style != nullptr ? style : "") {}

  /* The next declaration with a ':'; false after the last. */
  bool Next(std::string* name, std::string* value);

private:
  std::string_view rest_;
};

#endif
