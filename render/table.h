/*
 * Tables in rendered HTML: the table renderer the record driver calls at a
 * table record, its test for tables whose paragraphs are all hidden, the
 * header flags of a cell, and the walkers that move from cell to cell of
 * one table (skipping the tables nested in its cells) and relate a grid
 * position to the cell shown there when cells are merged.
 *
 * A merged area is stored as one cell per grid position: the cell that
 * carries the content and the spans is the area's last (bottom-right)
 * cell; every other cell of the area is marked covered (flag 0x04 or
 * 0x08). HTML puts a spanning cell at the area's top-left position.
 *
 * Not here: the driver's own handling of cells and table ends
 * (render/driver.cpp) and the border classes of the style sheet
 * (render/head.cpp).
 */
#ifndef VELKO_RENDER_TABLE_H
#define VELKO_RENDER_TABLE_H

#include "render/render_info.h"

struct record_storage;

/* Flag bits of a cell's flag byte. */
namespace cell_flags {
enum : BYTE {
  BorderWord = 0x02,  /* the 4-bit border word is in force */
  CoveredA = 0x04,    /* covered by a span */
  CoveredB = 0x08,    /* covered by a span; its spanning cell comes in a later row */
  Covered = 0x0C,
  AlignMiddle = 0x20,
  AlignBottom = 0x80,
};
} // namespace cell_flags

/* The fields of a cell record; a record too short for a field reads it as
 * 0, a span stored as 0 reads as 1, and a span that reaches before the
 * table's first row or column reads as reaching that row or column. */
struct cell_fields {
  BYTE row = 0;
  BYTE column = 0;
  WORD left = 0; /* left and right edge, twips */
  WORD right = 0;
  BYTE border = 0; /* 2 bits per side: left, right, top, bottom */
  BYTE flags = 0;
  WORD border_word = 0; /* 4 bits per side, same order */
  BYTE row_span = 1;
  BYTE column_span = 1;
  WORD background = 0; /* palette index */
};

/* False (fields as above) for a null node or one that is no cell. */
bool ReadCellFields(const record_storage *node, cell_fields *out);

/* The four border widths of a cell, from the border word when its flag
 * says so, else from the 2-bit fields. */
struct cell_sides {
  unsigned top, right, bottom, left;
};
cell_sides CellSides(const cell_fields &cell);

/* The key of a border class: one hexadecimal digit per width, top, right,
 * bottom, left ("%x%x%x%x"; a width is at most 15). */
void BorderClassKey(const cell_sides &sides, char key[12]);

/* ---- the cell walkers ----
 * Each takes the rendering context first (and reads nothing from it);
 * null or 0 for a null node or one that is no cell where a cell is
 * required. */

/* The next cell or table end of the same table; null at the list's end. */
record_storage *FindNextTableCell(html_render_info *context, record_storage *cell);
/* The previous cell or table begin of the same table; null at the start. */
record_storage *FindPreviousTableCell(html_render_info *context, record_storage *cell);
/* The table end of the node's table (a table end is its own); null when
 * the list ends first. */
record_storage *FindEndOfTable(html_render_info *context, record_storage *node);
/* 1 when the row that starts at this covered Column-0 cell shows nothing. */
int AllRowCellsInvisible(html_render_info *context, record_storage *cell);
/* The cell shown at the cell's grid position: itself when not covered,
 * else the first following cell that starts the span of the position;
 * null when none. */
record_storage *FindDisplayedTableCell(html_render_info *context, record_storage *cell);
/* Frees the index of table cells FindDisplayedTableCell made for the run. */
void ReleaseTableCellIndex(html_render_info *context);
/* 1 when the displayed cell starts the position's span (or both are the
 * same unspanned cell). */
int CellStartsSpan(html_render_info *context, record_storage *position,
                   record_storage *displayed);
/* 1 when the cell opens a row in the HTML. */
int CellStartsRow(html_render_info *context, record_storage *cell);
/* CellStartsRow of a cell whose fields (`self`) are read already. */
int CellOfFieldsStartsRow(html_render_info *context, record_storage *cell,
                          const cell_fields &self);
/* The same when the cell before it in the table (FindPreviousTableCell of
 * the cell) and that cell's fields are known already. */
int CellAfterStartsRow(html_render_info *context, const cell_fields &self,
                       record_storage *previous, const cell_fields &previousFields);

/* ---- the renderer ---- */

/* Renders the table at the context's current record (a pre-table, table
 * begin or, for a chunk that starts inside a table, a cell) with every
 * table nested in it, handing each cell's content to the driver at
 * depth + 1. Returns after the end of the table it was called for, with
 * the current record on the first record not consumed. 0, 263 when a
 * side buffer cannot be had, or a nested driver call's status. */
STATUS ProcessXMLTable(html_render_info *context, WORD beginSignature, WORD depth);

/* With RespectHiddenFormulas: 1 when every paragraph of the table at *node
 * is hidden (a table without paragraphs counts as hidden), and *node moves
 * past the table's end; else 0 with *node unchanged. */
DWORD TableAllHidden(html_render_info *context, record_storage **node);

/* The header flags of the cell whose records start at the node (0x1 a
 * column header, 0x2 a row header), or 0. */
DWORD CellIsHeader(const record_storage *node);

#endif
