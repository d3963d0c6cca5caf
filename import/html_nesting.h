/*
 * Nesting depth before parsing. The HTML parser descends once per nested
 * element, so a document nested some ten thousand elements deep runs it
 * out of stack (and it slows down quadratically well before that). The
 * walk of the parsed tree writes elements nested past a depth as plain
 * text anyway, so the tags of elements nested deeper than the parser is
 * let go are taken out before it runs; their text stays where it stands.
 *
 * The depth is read off the tags as the parser nests them, erring on the
 * deep side: an end tag closes the elements above its own only across
 * those whose end is implied (a table's parts across all but a table), a
 * start tag closes an open element of its own family (a list item, a
 * cell, a row, an option, a paragraph before a block) only across inline
 * elements and paragraphs (and a table's parts), and an inline element
 * stays open across blocks until its own end tag or its cell's end, as the
 * parser opens it again in each block. Void elements and the content of
 * script and style nest nothing.
 */
#ifndef VELKO_IMPORT_HTML_NESTING_H
#define VELKO_IMPORT_HTML_NESTING_H

#include <stddef.h>

#include <string>
#include <string_view>

/* Elements deeper than this are written without their tags. */
constexpr size_t kDeepestParsedNesting = 512;

/* The HTML without the start tags of elements nested deeper than
 * `deepest` into *out; false (and *out untouched) when none is. From the
 * first start tag left out on, so are the end tags that close nothing. */
bool FlattenDeepNesting(std::string_view html, size_t deepest, std::string* out);

#endif
