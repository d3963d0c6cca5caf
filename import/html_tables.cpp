/*
 * The HTML import's tables. A table element is laid out on a grid first:
 * its rows (directly under it or in thead, tbody, tfoot, in order), each
 * row's td and th cells placed left to right past the positions that
 * cells above span into. Then the grid is written a position at a time:
 * a cell record, a paragraph, the column's paragraph definition (where
 * the import first needs it), a reference and the cell's content, which
 * the walk writes. The definitions come from the import's paragraph
 * definitions (import/html_paragraphs.h): one id space and each
 * definition once, so tables of the same columns share them; a cell's
 * definition is the template of its content, and the paragraph after the
 * table goes back to the template around it.
 *
 * A cell spanning rows or columns fills an area: the area's bottom-right
 * position carries the content and the spans, the others are covered
 * (0x08 in the rows above the last, 0x04 in the last) and stay empty. A
 * row shorter than the grid ends in empty cells. Column widths come from
 * the cells' width attributes (pixels at 15 twips, or a percentage of the
 * item's DefaultTableWidth); columns without one share what is left
 * equally. A border attribute above 0 gives every cell single borders.
 * Rows past the 255 a cell record can count go on in a further table,
 * which takes the paragraph definitions of the first. A table that would
 * nest deeper than the emitter's levels, or that has more columns than
 * its per-column stores, is written as text: a paragraph per row, the
 * cells' content separated by tabs.
 */
#include "import/html_tables.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "engine/process_state.h"
#include "generate/built_record.h"
#include "generate/structure_generators.h"
#include "host/cdrecords.h"
#include "import/html_import_state.h"
#include "import/html_paragraphs.h"
#include "import/tidy_parser.h"
#include "store/emitter.h"
#include "store/rtitem_internal.h"

namespace {

constexpr WORD kTableLeft = 1440;
constexpr DWORD kWidestEdge = 0xFFFF;
constexpr DWORD kTwipsPerPixel = 15;
/* The narrowest column given a share of the width left. */
constexpr DWORD kNarrowestColumn = 144;
constexpr BYTE kCoveredAbove = 0x08; /* covered, above the area's last row */
constexpr BYTE kCoveredInLast = 0x04; /* covered, in the area's last row */
/* The room a grid row is first given when no row above is wider. */
constexpr size_t kUsualColumns = 8;

const char* AttributeText(TidyNode node, TidyAttrId id) {
  TidyAttr attribute = tidyAttrGetById(node, id);
  return attribute == nullptr ? nullptr : tidyAttrValue(attribute);
}

/* A span attribute as a count of 1 or more; 0 for rowspan="0" (to the
 * end of the table). */
size_t SpanOf(TidyNode cell, TidyAttrId id) {
  const char* text = AttributeText(cell, id);
  if (text == nullptr)
    return 1;
  const long value = strtol(text, nullptr, 10);
  if (value == 0 && id == TidyAttr_ROWSPAN)
    return 0;
  return value < 1 ? 1 : static_cast<size_t>(std::min<long>(value, 0xFFFF));
}

/* A width attribute in twips: pixels, or a percentage of the table width;
 * 0 when it gives none. */
DWORD WidthOf(TidyNode cell, DWORD tableWidth) {
  const char* text = AttributeText(cell, TidyAttr_WIDTH);
  if (text == nullptr)
    return 0;
  char* end = nullptr;
  const double value = strtod(text, &end);
  if (end == text || !(value > 0))
    return 0;
  while (*end == ' ')
    ++end;
  const double twips = *end == '%' ? value * tableWidth / 100 : value * kTwipsPerPixel;
  return twips >= kWidestEdge ? kWidestEdge : static_cast<DWORD>(twips);
}

/* Asks for the memory of a tidy node (about two cache lines) ahead of its
 * use. */
void PrefetchNode(TidyNode node) {
  if (node == nullptr)
    return;
  __builtin_prefetch(node);
  __builtin_prefetch(reinterpret_cast<const char*>(node) + 64);
}

bool IsCell(TidyNode node) {
  const TidyTagId tag = tidyNodeGetId(node);
  return tag == TidyTag_TD || tag == TidyTag_TH;
}

/* The table's rows in order: its own tr children and those of its row
 * groups. */
std::vector<TidyNode> RowsOf(TidyNode table) {
  std::vector<TidyNode> rows;
  for (TidyNode child = tidyGetChild(table); child != nullptr; child = tidyGetNext(child)) {
    switch (tidyNodeGetId(child)) {
    case TidyTag_TR:
      rows.push_back(child);
      break;
    case TidyTag_THEAD: case TidyTag_TBODY: case TidyTag_TFOOT:
      for (TidyNode row = tidyGetChild(child); row != nullptr; row = tidyGetNext(row)) {
        if (tidyNodeGetId(row) == TidyTag_TR)
          rows.push_back(row);
      }
      break;
    default:
      break;
    }
  }
  return rows;
}

/* One grid position: the cell whose content it holds (null: none), its
 * covered flags and its spans. */
struct grid_slot {
  TidyNode cell = nullptr;
  bool taken = false;
  BYTE flags = 0;
  BYTE row_span = 1;
  BYTE column_span = 1;
};

/* The table laid out on a grid, columns up to one past the most written
 * as cells. */
class table_grid {
public:
  table_grid(const std::vector<TidyNode>& rows, DWORD tableWidth);

  size_t rows() const { return slots_.size(); }
  size_t columns() const { return columns_; }
  const grid_slot& at(size_t row, size_t column) const { return slots_[row][column]; }
  /* The column's edges, from the table's left margin. */
  WORD left(size_t column) const { return edges_[column]; }
  WORD right(size_t column) const { return edges_[column + 1]; }

private:
  bool Free(size_t row, size_t column) const {
    return column >= slots_[row].size() || !slots_[row][column].taken;
  }
  bool FilledBySpans(size_t row, TidyNode element) const;
  void Take(size_t row, size_t column, const grid_slot& slot);
  void Place(size_t row, size_t* column, TidyNode cell, DWORD tableWidth);
  void LayOutEdges(DWORD tableWidth);

  std::vector<std::vector<grid_slot>> slots_;
  std::vector<DWORD> widths_; /* per column, 0: not given */
  std::vector<WORD> edges_;
  size_t columns_ = 0;
};

table_grid::table_grid(const std::vector<TidyNode>& rows, DWORD tableWidth)
    : slots_(rows.size()) {
  // The next row's first cell and each cell's content are asked for ahead
  // of their use, and the memory past each cell.
  for (size_t row = 0; row < rows.size(); ++row) {
    if (row + 1 < rows.size())
      PrefetchNode(tidyGetChild(rows[row + 1]));
    // Rows are mostly as wide as those above: room for that many, so that
    // placing the cells seldom grows the row.
    slots_[row].reserve(std::max<size_t>(columns_, kUsualColumns));
    if (FilledBySpans(row, rows[row]))
      continue;
    size_t column = 0;
    for (TidyNode cell = tidyGetChild(rows[row]); cell != nullptr; cell = tidyGetNext(cell)) {
      PrefetchNode(tidyGetChild(cell));
      tidy_parser::PrefetchAhead(cell);
      if (IsCell(cell) && column <= kGeneratedTableColumns)
        Place(row, &column, cell, tableWidth);
    }
  }
  for (auto& row : slots_)
    row.resize(columns_);
  LayOutEdges(tableWidth);
}

/* A row that cells above span across wholly, holding only one bare empty
 * cell: the cell the parser puts into a row written without any (as
 * "<tr></tr>" under row spans). Placed, it would stand beside the spans
 * as a further column. */
bool table_grid::FilledBySpans(size_t row, TidyNode element) const {
  if (columns_ == 0)
    return false;
  TidyNode only = nullptr;
  for (TidyNode child = tidyGetChild(element); child != nullptr; child = tidyGetNext(child)) {
    if (only != nullptr || !IsCell(child))
      return false;
    only = child;
  }
  if (only == nullptr || tidyGetChild(only) != nullptr || tidyAttrFirst(only) != nullptr)
    return false;
  for (size_t column = 0; column < columns_; ++column) {
    if (Free(row, column))
      return false;
  }
  return true;
}

void table_grid::Take(size_t row, size_t column, const grid_slot& slot) {
  if (slots_[row].size() <= column)
    slots_[row].resize(column + 1);
  slots_[row][column] = slot;
  slots_[row][column].taken = true;
  columns_ = std::max(columns_, column + 1);
}

/* Places the cell at the first free position from *column on, its area cut
 * where it would leave the table, meet a taken position, or pass a run of
 * 255 rows (where a further table begins); *column moves past it. */
void table_grid::Place(size_t row, size_t* column, TidyNode cell, DWORD tableWidth) {
  while (!Free(row, *column))
    ++*column;
  const size_t first = *column;
  if (first >= kGeneratedTableColumns + 1) { // past the widest table: it is written as text
    columns_ = std::max(columns_, first + 1);
    return;
  }
  const size_t runEnd = (row / kGeneratedTableRows + 1) * kGeneratedTableRows;
  const size_t lastRow = std::min(slots_.size(), runEnd);
  size_t rowSpan = SpanOf(cell, TidyAttr_ROWSPAN);
  rowSpan = rowSpan == 0 ? lastRow - row : std::min(rowSpan, lastRow - row);
  size_t columnSpan = std::min<size_t>(SpanOf(cell, TidyAttr_COLSPAN),
                                       kGeneratedTableColumns + 1 - first);
  for (size_t span = 1; span < columnSpan; ++span) {
    if (!Free(row, first + span)) {
      columnSpan = span;
      break;
    }
  }
  for (size_t span = 1; span < rowSpan; ++span) {
    bool free = true;
    for (size_t at = first; at < first + columnSpan; ++at)
      free = free && Free(row + span, at);
    if (!free) {
      rowSpan = span;
      break;
    }
  }
  const size_t bottom = row + rowSpan - 1;
  const size_t right = first + columnSpan - 1;
  for (size_t r = row; r <= bottom; ++r) {
    for (size_t c = first; c <= right; ++c) {
      grid_slot slot;
      slot.flags = r < bottom ? kCoveredAbove : kCoveredInLast;
      Take(r, c, slot);
    }
  }
  grid_slot& shown = slots_[bottom][right];
  shown.cell = cell;
  shown.flags = 0;
  shown.row_span = static_cast<BYTE>(rowSpan);
  shown.column_span = static_cast<BYTE>(columnSpan);
  if (columnSpan == 1) {
    if (widths_.size() <= first)
      widths_.resize(first + 1);
    if (widths_[first] == 0)
      widths_[first] = WidthOf(cell, tableWidth);
  }
  *column = first + columnSpan;
}

/* Edges from the left margin: given widths as they are, the rest of the
 * table width shared equally by the other columns; all narrowed together
 * when the last edge would pass the largest a cell can hold. */
void table_grid::LayOutEdges(DWORD tableWidth) {
  widths_.resize(columns_);
  DWORD given = 0;
  size_t open = 0;
  for (DWORD width : widths_) {
    given += width;
    open += width == 0 ? 1 : 0;
  }
  if (open != 0) {
    const DWORD share =
        std::max<DWORD>(given < tableWidth ? (tableWidth - given) / open : 0, kNarrowestColumn);
    for (DWORD& width : widths_) {
      if (width == 0)
        width = share;
    }
  }
  DWORD total = 0;
  for (DWORD width : widths_)
    total += width;
  const DWORD room = kWidestEdge - kTableLeft;
  edges_.assign(1, kTableLeft);
  DWORD edge = kTableLeft;
  for (DWORD width : widths_) {
    edge += total > room ? static_cast<DWORD>(static_cast<uint64_t>(width) * room / total) : width;
    edges_.push_back(static_cast<WORD>(edge));
  }
}

/* One table being written. */
class table_writer {
public:
  table_writer(chunk_process_state* process, html_paragraphs* paragraphs, html_table_walk* walk,
               TidyNode table)
      : process_(process), gen_(&process->gen), import_(process->gen.import_target),
        paragraphs_(paragraphs), walk_(walk), table_(table) {}

  STATUS Write();

private:
  STATUS WriteAsText(const std::vector<TidyNode>& rows);
  STATUS WriteRun(const table_grid& grid, size_t firstRow, size_t lastRow);
  STATUS WriteCell(const table_grid& grid, size_t row, size_t column, BYTE runRow);
  _CDPABDEFEXT CellDefinition(const table_grid& grid, size_t column) const;
  STATUS Paragraph() {
    return CopyCDUpdated(&paragraph_, SIG_CD_PARAGRAPH, sizeof paragraph_, gen_);
  }
  /* The reference of the paragraph the table's closing records begin. */
  record_storage* ClosingReference() const {
    for (record_storage* node = import_->insertion_point != nullptr ? import_->insertion_point
                                                                    : import_->tail;
         node != nullptr; node = node->previous) {
      if (node->signature == SIG_CD_PABREFERENCE)
        return node;
      if (node->signature == SIG_CD_TABLEEND || node->signature == SIG_CD_NESTEDTABLEEND)
        break;
    }
    return nullptr;
  }
  const record_storage* LastRecord() const {
    return import_->insertion_point != nullptr ? import_->insertion_point : import_->tail;
  }

  chunk_process_state* process_;
  generation_context* gen_;
  html_import_state* import_;
  html_paragraphs* paragraphs_;
  html_table_walk* walk_;
  TidyNode table_;
  const CDPARAGRAPH paragraph_ = {{static_cast<BYTE>(SIG_CD_PARAGRAPH), sizeof(CDPARAGRAPH)}};
  bool nested_ = false;
  bool bordered_ = false;
  std::vector<WORD> pabids_; /* per column: its definition's id, 0 before it is given */
  WORD closing_pabid_ = 0;   /* the template's id, which the paragraph after the table takes */
};

STATUS table_writer::Write() {
  for (TidyNode child = tidyGetChild(table_); child != nullptr; child = tidyGetNext(child)) {
    if (tidyNodeGetId(child) == TidyTag_CAPTION)
      RETURN_IF_FAILED(walk_->Block(child));
  }
  const std::vector<TidyNode> rows = RowsOf(table_);
  const DWORD tableWidth = StateItem(process_)->DefaultTableWidth;
  const table_grid grid(rows, tableWidth);
  if (grid.columns() == 0)
    return NOERROR; // no cell: nothing a table could hold
  if (import_->table_depth >= kEmitterMaxTableLevel || grid.columns() > kGeneratedTableColumns)
    return WriteAsText(rows);
  const char* border = AttributeText(table_, TidyAttr_BORDER);
  bordered_ = border != nullptr && (*border == '\0' || atoi(border) > 0);
  nested_ = import_->table_depth > 0;
  pabids_.assign(grid.columns(), 0);
  RETURN_IF_FAILED(walk_->BeforeTable());
  RETURN_IF_FAILED(paragraphs_->TableClosingPabid(&closing_pabid_));
  ++import_->table_depth;
  STATUS status = NOERROR;
  for (size_t first = 0; status == NOERROR && first < grid.rows(); first += kGeneratedTableRows)
    status = WriteRun(grid, first, std::min<size_t>(first + kGeneratedTableRows, grid.rows()));
  --import_->table_depth;
  if (status != NOERROR)
    return status;
  paragraphs_->TableEnded(closing_pabid_, ClosingReference());
  walk_->AfterTable();
  return NOERROR;
}

/* A paragraph per row, the cells' content separated by tabs. */
STATUS table_writer::WriteAsText(const std::vector<TidyNode>& rows) {
  for (TidyNode row : rows) {
    RETURN_IF_FAILED(walk_->EndRow());
    bool first = true;
    for (TidyNode cell = tidyGetChild(row); cell != nullptr; cell = tidyGetNext(cell)) {
      if (!IsCell(cell))
        continue;
      RETURN_IF_FAILED(walk_->TabbedCell(cell, first));
      first = false;
    }
    RETURN_IF_FAILED(walk_->EndRow());
  }
  return NOERROR;
}

/* One table of the grid's rows first to last (at most 255). */
STATUS table_writer::WriteRun(const table_grid& grid, size_t firstRow, size_t lastRow) {
  RETURN_IF_FAILED(Paragraph());
  const CDTABLEBEGIN begin = TableBeginRecord(nested_, kTableLeft);
  RETURN_IF_FAILED(CopyCDUpdated(&begin, begin.Header.Signature, sizeof begin, gen_));
  for (size_t row = firstRow; row < lastRow; ++row) {
    for (size_t column = 0; column < grid.columns(); ++column)
      RETURN_IF_FAILED(WriteCell(grid, row, column, static_cast<BYTE>(row - firstRow)));
  }
  return GenerateTableClosing(nested_, paragraph_, closing_pabid_, gen_);
}

STATUS table_writer::WriteCell(const table_grid& grid, size_t row, size_t column, BYTE runRow) {
  const grid_slot& slot = grid.at(row, column);
  CDTABLECELL cell = TableCellRecord(nested_, runRow, static_cast<BYTE>(column),
                                     grid.left(column), grid.right(column));
  if (!bordered_) {
    cell.BorderWidths = 0;
    cell.V42Border = 0;
  }
  cell.Flags |= slot.flags;
  cell.RowSpan = slot.row_span;
  cell.ColumnSpan = slot.column_span;
  RETURN_IF_FAILED(CopyCDUpdated(&cell, cell.Header.Signature, sizeof cell, gen_));
  RETURN_IF_FAILED(Paragraph());
  _CDPABDEFEXT definition = CellDefinition(grid, column);
  if (pabids_[column] == 0)
    RETURN_IF_FAILED(paragraphs_->PabidFor(definition, &pabids_[column]));
  definition.Definition.PABID = pabids_[column];
  STATUS status = paragraphs_->EnterCell(definition, slot.cell);
  const record_storage* referenced = LastRecord(); // the content goes after the reference
  if (status == NOERROR && slot.cell != nullptr)
    status = walk_->CellContent(slot.cell);
  paragraphs_->LeaveCell();
  if (status != NOERROR || LastRecord() != referenced)
    return status;
  return GenerateCDText(nullptr, 0, StateItem(process_)->internal->default_text_header, gen_);
}

/* The column's paragraph definition: the template around the table moved
 * into the column's edges. The paragraph definitions give it its id, the
 * same for every cell of the column and for every column of the import
 * with the same definition. */
_CDPABDEFEXT table_writer::CellDefinition(const table_grid& grid, size_t column) const {
  return CellDefinitionRecord(paragraphs_->Template(), grid.left(column), grid.right(column), 0);
}

} // namespace

STATUS ImportHTMLTable(TidyNode table, chunk_process_state* process, html_paragraphs* paragraphs,
                       html_table_walk* walk) {
  if (table == nullptr || process == nullptr || process->gen.import_target == nullptr ||
      paragraphs == nullptr || walk == nullptr)
    return VELKO_ERR_BAD_ARGUMENT;
  return table_writer(process, paragraphs, walk, table).Write();
}
