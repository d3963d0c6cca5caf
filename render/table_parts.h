/*
 * Pieces of the table renderer (render/table.cpp) that write one thing
 * each: the extra attributes of an element, the tab bar of a tabbed table
 * and its labels, a cell's background colour (its own, its palette index
 * or the table's colour style) and background image. Also the readers of
 * record fields they share with the renderer.
 *
 * Not for other renderers: render/table.h is the tables' interface.
 */
#ifndef VELKO_RENDER_TABLE_PARTS_H
#define VELKO_RENDER_TABLE_PARTS_H

#include <string_view>

#include <stddef.h>
#include <string.h>

#include "render/output_buffer.h"
#include "render/render_info.h"
#include "render/table.h"
#include "store/body.h"

namespace table_parts {

/* A field of a record; 0 when the record is too short for it. */
inline BYTE Byte(const record_storage *node, size_t at) {
  return node != nullptr && node->data != nullptr && at < node->length
             ? static_cast<BYTE>(node->data[at])
             : 0;
}
inline WORD Word(const record_storage *node, size_t at) {
  WORD value = 0;
  if (node != nullptr && node->data != nullptr && at + sizeof value <= node->length)
    memcpy(&value, node->data + at, sizeof value);
  return value;
}
inline DWORD Dword(const record_storage *node, size_t at) {
  DWORD value = 0;
  if (node != nullptr && node->data != nullptr && at + sizeof value <= node->length)
    memcpy(&value, node->data + at, sizeof value);
  return value;
}

/* Writes an element's extra attributes (attribute markup of the
 * document): in HTML as given with "<" and ">" as entities and a quote
 * left open closed; in XHTML as name="value" pairs with XML names, each
 * name once. */
void PutExtraAttributes(html_render_info *context, const char *text, size_t length);

/* A tab label's text (NUL-terminated in its record); false when none. */
bool LabelText(const record_storage *label, const char **text, size_t *length);
bool IsTabLabel(const record_storage *node);
/* The label's text, translated. */
void PutLabel(html_render_info *context, const record_storage *label);
const char *OrDefault(const char *value, const char *fallback);
/* The CSS tab bar of the tabbed table after the pre-table record. */
void WriteTabBar(html_render_info *context, const record_storage *pretable);

/* The colour the table's colour style gives the cell at Row, Column;
 * false when the table has none. */
bool ColourStyle(const html_render_info::table_level_state &level, int row, int column,
                 BYTE rgb[3]);
/* The table (of these begin flags) colours its cells by a colour style. */
bool UsesColourStyle(WORD beginFlags);
/* Writes a cell's (or tab row's) bgcolor attribute: its cell-colour
 * record, its palette index, or the table's colour style; the value goes
 * to `value` ("" when none is written). */
void PutBackgroundColour(html_render_info *context,
                         const html_render_info::table_level_state &level,
                         const record_storage *colour, const cell_fields &cell, char value[8]);

/* A resource record naming a cell's background image. */
bool IsBackgroundImage(const record_storage *node);
/* Its name (after the last "\", "/" or "|"): the stored name, or the
 * text its formula gives against the rendered note (held in `evaluated`);
 * false when there is none. The whole text goes to `whole`, the name of
 * the resource in the database. A formula that cannot be evaluated names
 * no image; `evaluated`'s status tells a lack of memory. */
bool BackgroundName(html_render_info *context, const record_storage *resource,
                    render_text *evaluated, const char **name, size_t *length,
                    std::string_view *whole);
/* A name inside CSS url(...): URL-escaped, "(", ")" and "'" encoded too. */
void PutCssUrlName(render_text *out, const char *name, size_t length);
/* The repeat declarations of a background image (repeat record or none). */
void PutRepeat(render_text *style, const record_storage *repeat);

/* The last definition of a PABID in the run's table of definitions that
 * lies before a record (the one with the highest slot), as the paragraph
 * renderer finds it. A table asks this at every cell, mostly for one
 * PABID, so the answer is kept with the ordinals it holds for: from the
 * definition found (exclusive) to the first later definition of that
 * PABID (inclusive). The table of definitions must not change while a
 * lookup is kept. */
struct definition_lookup {
  bool known = false;
  WORD pabid = 0;
  DWORD after = 0;     /* the answer holds for ordinals above this */
  DWORD up_to = 0;     /* and up to this */
  const record_storage *node = nullptr;
};
const record_storage *LastDefinitionBefore(const html_render_info *context, DWORD ordinal,
                                           WORD pabid, definition_lookup *kept);

} // namespace table_parts

#endif
