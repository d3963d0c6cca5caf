/*
 * Tables of the HTML import: a table element becomes a table of records
 * (the layouts GenerateTable writes, generate/structure_generators.h), a
 * cell per grid position, each cell's content written by the walk around
 * it. Spanned areas keep their content and spans in their bottom-right
 * cell; a table deeper than the emitter's levels or wider than its columns
 * becomes a paragraph per row with its cells separated by tabs.
 *
 * Not here: the walk of the content itself (import/html_import.cpp, which
 * gives the hooks below).
 */
#ifndef VELKO_IMPORT_HTML_TABLES_H
#define VELKO_IMPORT_HTML_TABLES_H

#include <tidy/tidy.h>

#include "velko/velko.h"

class html_paragraphs;
struct chunk_process_state;

/* What the table writer asks of the walk around it. */
class html_table_walk {
public:
  /* Ends the run before the table; the table's own paragraph break
   * replaces a break that is due. */
  virtual STATUS BeforeTable() = 0;
  /* The element's content as a block of its own (a caption). */
  virtual STATUS Block(TidyNode node) = 0;
  /* The element's content as the content of a cell that has just begun:
   * starting a fresh paragraph, its run ended after it. */
  virtual STATUS CellContent(TidyNode node) = 0;
  /* The element's content inline, after a tab unless it is the row's
   * first cell (a table written as text). */
  virtual STATUS TabbedCell(TidyNode node, bool first) = 0;
  /* Ends a row written as text: the next content starts a paragraph. */
  virtual STATUS EndRow() = 0;
  /* The table ended with a paragraph of its own, which holds nothing yet. */
  virtual void AfterTable() = 0;

protected:
  ~html_table_walk() = default;
};

/* Writes the table element (its caption first) into the import that
 * process's generation context collects. The cells' definitions come
 * from the import's paragraph definitions, made from their template and
 * written once each, and are the template of the cells' content. 0 or
 * the first failing status; 263 when memory runs out. */
STATUS ImportHTMLTable(TidyNode table, chunk_process_state* process, html_paragraphs* paragraphs,
                       html_table_walk* walk);

#endif
