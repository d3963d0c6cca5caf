/*
 * Named character references before parsing: every name of the entity
 * table (render/entities.h) is rewritten as the numeric reference of the
 * table's code point, so that the parser decodes each such name as the
 * table does, also one it does not know or maps elsewhere ("lang" and
 * "rang" are U+2329 and U+232A here). Other references, and names without
 * their ';', are left for the parser, which keeps unknown ones as text.
 */
#ifndef VELKO_IMPORT_HTML_ENTITIES_H
#define VELKO_IMPORT_HTML_ENTITIES_H

#include <string>
#include <string_view>

/* The HTML with the table's names numbered into *out; false (and *out
 * untouched) when the HTML names none. */
bool NumberTableEntities(std::string_view html, std::string* out);

#endif
