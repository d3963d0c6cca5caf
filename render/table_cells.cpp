/*
 * The cell walkers of the table renderer (render/table.h): from a cell to
 * the next or previous cell of the same table, to the table's end, and
 * from a grid position to the cell shown there when cells are merged.
 * Nested tables are counted in and out, so a cell of a nested table is
 * never taken for one of the table walked. Also the reading of a cell's
 * fields and border widths.
 */
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <deque>
#include <new>
#include <unordered_map>
#include <vector>

#include "host/cdrecords.h"
#include "render/table.h"
#include "store/body.h"

/* The cells of the tables asked about for the cell shown at a covered
 * position: for each table, its cells that span by the top-left of their
 * area, in table order; for each cell, its table and place in it. Kept
 * until the end of the outermost driver call, so that a table of many
 * covered cells is read once instead of to its end for each of them. */
struct table_cell_index {
  struct spanning_cell {
    size_t ordinal;
    record_storage *node;
  };
  struct table {
    std::unordered_map<int, std::vector<spanning_cell>> spans;
  };
  struct place {
    const table *of;
    size_t ordinal;
  };
  std::deque<table> tables;
  std::unordered_map<const record_storage *, place> places;
};

namespace {

bool IsCellNode(const record_storage *node) {
  return node != nullptr && IsTableCell(node->signature);
}

BYTE Byte(const record_storage *node, size_t at) {
  return node->data != nullptr && at < node->length ? static_cast<BYTE>(node->data[at]) : 0;
}

WORD Word(const record_storage *node, size_t at) {
  if (node->data == nullptr || at + sizeof(WORD) > node->length)
    return 0;
  WORD value = 0;
  memcpy(&value, node->data + at, sizeof value);
  return value;
}

/* A span stored as 0 is 1; one that reaches before the table's first row
 * or column is cut to the table, so that its area's top-left is a grid
 * position and the cell is shown there. */
BYTE CutSpan(BYTE span, BYTE at) {
  if (span == 0)
    return 1;
  return span > at ? static_cast<BYTE>(at + 1) : span;
}

void CutSpans(cell_fields *cell) {
  cell->row_span = CutSpan(cell->row_span, cell->row);
  cell->column_span = CutSpan(cell->column_span, cell->column);
}

/* B starts the span of position A: its area's top-left is A. */
bool StartsSpanOf(const cell_fields &b, const cell_fields &a) {
  if (b.row_span < 2 && b.column_span < 2)
    return false;
  return int{b.row} - b.row_span + 1 == a.row && int{b.column} - b.column_span + 1 == a.column;
}

/* CellOfFieldsStartsRow from the cell before `self`'s (node; its fields
 * when read already) back through the table. */
int StartsRowAfter(html_render_info *context, record_storage *node, const cell_fields *known,
                   const cell_fields &self) {
  for (; IsCellNode(node); node = FindPreviousTableCell(context, node), known = nullptr) {
    cell_fields p;
    if (known != nullptr)
      p = *known;
    else
      ReadCellFields(node, &p);
    if (p.row < self.row)
      return 1;
    if ((p.flags & cell_flags::CoveredB) != 0) {
      if (record_storage *shown = FindDisplayedTableCell(context, node); shown != nullptr) {
        p.flags = static_cast<BYTE>(p.flags & ~cell_flags::CoveredB);
        cell_fields d;
        ReadCellFields(shown, &d);
        if (d.row + d.row_span - 1 == p.row && d.column + d.column_span - 1 == p.column)
          return 0;
      }
    }
    if (p.row_span > 1 && p.column + p.column_span - 1 < self.column)
      continue;
    if ((p.flags & cell_flags::Covered) == 0 && p.row_span == 1)
      return 0;
    if (p.column > 0 && p.column_span > 1 && p.row_span < 2)
      return 0;
  }
  return 1;
}

/* The first cell after `cell` of its table that starts the span of the
 * position, read cell by cell. */
record_storage *ScanForSpanStart(html_render_info *context, record_storage *cell,
                                 const cell_fields &position) {
  for (record_storage *node = FindNextTableCell(context, cell); IsCellNode(node);
       node = FindNextTableCell(context, node)) {
    cell_fields fields;
    ReadCellFields(node, &fields);
    if (StartsSpanOf(fields, position))
      return node;
  }
  return nullptr;
}

int AreaKey(int row, int column) { return row * 256 + column; }

/* Indexes the table the cell belongs to: its cells from the first (back
 * from the cell to its table's begin) to its end, as FindNextTableCell
 * walks them. */
void IndexTable(html_render_info *context, record_storage *cell, table_cell_index *index) {
  record_storage *first = cell;
  for (record_storage *node = FindPreviousTableCell(context, cell); IsCellNode(node);
       node = FindPreviousTableCell(context, node))
    first = node;
  index->tables.emplace_back();
  table_cell_index::table *table = &index->tables.back();
  size_t ordinal = 0;
  for (record_storage *node = first; IsCellNode(node);
       node = FindNextTableCell(context, node), ++ordinal) {
    index->places.emplace(node, table_cell_index::place{table, ordinal});
    cell_fields fields;
    ReadCellFields(node, &fields);
    if (fields.row_span >= 2 || fields.column_span >= 2)
      table->spans[AreaKey(fields.row - fields.row_span + 1, fields.column - fields.column_span + 1)]
          .push_back(table_cell_index::spanning_cell{ordinal, node});
  }
}

/* The cell's place in the index of its table, made the first time a
 * cell of that table is asked about; null when memory ran out (the index
 * is then dropped). */
const table_cell_index::place *PlaceOf(html_render_info *context, record_storage *cell) {
  try {
    if (context->table_cell_index == nullptr)
      context->table_cell_index = new table_cell_index;
    table_cell_index *index = context->table_cell_index;
    auto found = index->places.find(cell);
    if (found == index->places.end()) {
      IndexTable(context, cell, index);
      found = index->places.find(cell);
    }
    return found != index->places.end() ? &found->second : nullptr;
  } catch (const std::bad_alloc &) {
    ReleaseTableCellIndex(context);
    return nullptr;
  }
}

} // namespace

bool ReadCellFields(const record_storage *node, cell_fields *out) {
  *out = cell_fields{};
  if (!IsCellNode(node))
    return false;
  if (node->data != nullptr && node->length >= sizeof(CDTABLECELL)) {
    // A whole record (as every cell of a table is read several times):
    // one copy, no field checked against the length.
    CDTABLECELL cell;
    memcpy(&cell, node->data, sizeof cell);
    out->row = cell.Row;
    out->column = cell.Column;
    out->left = cell.LeftMargin;
    out->right = cell.RightMargin;
    out->border = cell.BorderWidths;
    out->flags = cell.Flags;
    out->border_word = cell.V42Border;
    out->row_span = cell.RowSpan;
    out->column_span = cell.ColumnSpan;
    out->background = cell.BackgroundColor;
    CutSpans(out);
    return true;
  }
  out->row = Byte(node, offsetof(CDTABLECELL, Row));
  out->column = Byte(node, offsetof(CDTABLECELL, Column));
  out->left = Word(node, offsetof(CDTABLECELL, LeftMargin));
  out->right = Word(node, offsetof(CDTABLECELL, RightMargin));
  out->border = Byte(node, offsetof(CDTABLECELL, BorderWidths));
  out->flags = Byte(node, offsetof(CDTABLECELL, Flags));
  out->border_word = Word(node, offsetof(CDTABLECELL, V42Border));
  out->row_span = Byte(node, offsetof(CDTABLECELL, RowSpan));
  out->column_span = Byte(node, offsetof(CDTABLECELL, ColumnSpan));
  out->background = Word(node, offsetof(CDTABLECELL, BackgroundColor));
  CutSpans(out);
  return true;
}

cell_sides CellSides(const cell_fields &cell) {
  unsigned widths[4]; // left, right, top, bottom
  for (int side = 0; side < 4; ++side) {
    widths[side] = (cell.flags & cell_flags::BorderWord) != 0
                       ? (cell.border_word >> (4 * side)) & 0x0F
                       : (cell.border >> (2 * side)) & 0x03;
  }
  return {widths[2], widths[1], widths[3], widths[0]};
}

void BorderClassKey(const cell_sides &sides, char key[12]) {
  snprintf(key, 12, "%x%x%x%x", sides.top & 0x0F, sides.right & 0x0F, sides.bottom & 0x0F,
           sides.left & 0x0F);
}

record_storage *FindNextTableCell(html_render_info *, record_storage *cell) {
  if (!IsCellNode(cell))
    return nullptr;
  DWORD depth = 0;
  for (record_storage *node = cell->next; node != nullptr; node = node->next) {
    const WORD signature = node->signature;
    if (IsTableBegin(signature)) {
      ++depth;
    } else if (IsTableEnd(signature)) {
      if (depth == 0)
        return node;
      --depth;
    } else if (depth == 0 && IsTableCell(signature)) {
      return node;
    }
  }
  return nullptr;
}

record_storage *FindPreviousTableCell(html_render_info *, record_storage *cell) {
  if (!IsCellNode(cell))
    return nullptr;
  DWORD depth = 0;
  for (record_storage *node = cell->previous; node != nullptr; node = node->previous) {
    const WORD signature = node->signature;
    if (IsTableEnd(signature)) {
      ++depth;
    } else if (IsTableBegin(signature)) {
      if (depth == 0)
        return node;
      --depth;
    } else if (depth == 0 && IsTableCell(signature)) {
      return node;
    }
  }
  return nullptr;
}

record_storage *FindEndOfTable(html_render_info *context, record_storage *node) {
  if (node == nullptr)
    return nullptr;
  if (IsTableEnd(node->signature))
    return node;
  if (IsTableBegin(node->signature)) {
    // From a begin: the first cell or end of its own table, then on.
    DWORD depth = 0;
    for (node = node->next; node != nullptr; node = node->next) {
      if (IsTableBegin(node->signature)) {
        ++depth;
      } else if (IsTableEnd(node->signature)) {
        if (depth == 0)
          return node;
        --depth;
      } else if (depth == 0 && IsTableCell(node->signature)) {
        break;
      }
    }
  }
  while (node != nullptr && !IsTableEnd(node->signature))
    node = FindNextTableCell(context, node);
  return node;
}

int AllRowCellsInvisible(html_render_info *context, record_storage *cell) {
  cell_fields first;
  if (!ReadCellFields(cell, &first) || first.column != 0 ||
      (first.flags & cell_flags::Covered) == 0)
    return 0;
  bool haveCandidate = false;
  cell_fields candidate;
  auto consider = [&](const cell_fields &fields) {
    if (!haveCandidate && (fields.flags & cell_flags::CoveredA) != 0 &&
        (fields.flags & cell_flags::CoveredB) == 0) {
      candidate = fields;
      haveCandidate = true;
    }
  };
  consider(first);
  for (record_storage *node = FindNextTableCell(context, cell);;
       node = FindNextTableCell(context, node)) {
    cell_fields fields;
    if (!ReadCellFields(node, &fields))
      return 0; // ran out of cells
    if (fields.row > first.row)
      return 1;
    consider(fields);
    if (fields.row_span >= 2 || fields.column_span >= 2) {
      if (!haveCandidate || StartsSpanOf(fields, candidate))
        return 0;
    }
    if (fields.column_span > 1)
      haveCandidate = false;
  }
}

record_storage *FindDisplayedTableCell(html_render_info *context, record_storage *cell) {
  cell_fields position;
  if (!ReadCellFields(cell, &position))
    return nullptr;
  if ((position.flags & cell_flags::Covered) == 0)
    return cell;
  const table_cell_index::place *place = PlaceOf(context, cell);
  if (place == nullptr)
    return ScanForSpanStart(context, cell, position);
  const auto starts = place->of->spans.find(AreaKey(position.row, position.column));
  if (starts == place->of->spans.end())
    return nullptr;
  // The first of the cells that start the position's span after the cell.
  const std::vector<table_cell_index::spanning_cell> &cells = starts->second;
  const auto after = std::upper_bound(
      cells.begin(), cells.end(), place->ordinal,
      [](size_t ordinal, const table_cell_index::spanning_cell &spanning) {
        return ordinal < spanning.ordinal;
      });
  return after != cells.end() ? after->node : nullptr;
}

void ReleaseTableCellIndex(html_render_info *context) {
  delete context->table_cell_index;
  context->table_cell_index = nullptr;
}

int CellStartsSpan(html_render_info *, record_storage *position, record_storage *displayed) {
  cell_fields a;
  cell_fields b;
  if (!ReadCellFields(position, &a) || !ReadCellFields(displayed, &b))
    return 0;
  if (position == displayed && b.row_span == 1 && b.column_span == 1)
    return 1;
  return StartsSpanOf(b, a) ? 1 : 0;
}

int CellStartsRow(html_render_info *context, record_storage *cell) {
  cell_fields self;
  if (!ReadCellFields(cell, &self))
    return 0;
  return CellOfFieldsStartsRow(context, cell, self);
}

int CellOfFieldsStartsRow(html_render_info *context, record_storage *cell,
                          const cell_fields &self) {
  if (self.column == 0)
    return 1;
  return StartsRowAfter(context, FindPreviousTableCell(context, cell), nullptr, self);
}

int CellAfterStartsRow(html_render_info *context, const cell_fields &self,
                       record_storage *previous, const cell_fields &previousFields) {
  if (self.column == 0)
    return 1;
  return StartsRowAfter(context, previous, &previousFields, self);
}

